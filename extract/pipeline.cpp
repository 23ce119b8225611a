#include "extract/pipeline.h"

#include "extract/ascReferClass.h"
#include "extract/convModule.h"
#include "extract/searchClass.h"
#include "extract/utf8Check.h"
#include "list/listOps.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <set>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

namespace quillon::pipeline {

namespace fs = std::filesystem;

namespace {

ReadError readErrorFor(int err) {
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return ReadError::NotFound;
    case EACCES:
    case EPERM:
        return ReadError::NoPermission;
    case EISDIR:
        return ReadError::NotRegular;
    case ENOMEM:
    case EFBIG:
    case EOVERFLOW:
        return ReadError::TooLarge;
    default:
        return ReadError::Io;
    }
}

FileRead failed(ReadError error, int err = 0) {
    FileRead r;
    r.error = error;
    if (err != 0) {
        r.detail = std::strerror(err);
    }
    return r;
}

class FdCloser {
public:
    explicit FdCloser(int fd) : m_fd(fd) {}
    ~FdCloser() { ::close(m_fd); }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;

private:
    int m_fd;
};

FileRead readOpenFile(int fd, const struct stat& st, const JobContext& ctx);

} // namespace

FileRead readWholeFile(const fs::path& path, const JobContext& ctx) {
    // O_NONBLOCK: opening a FIFO without a writer must not hang; it is
    // refused below as not a regular file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return failed(readErrorFor(errno), errno);
    }
    FdCloser closer(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return failed(readErrorFor(errno), errno);
    }
    if (!S_ISREG(st.st_mode)) {
        return failed(ReadError::NotRegular);
    }
    return readOpenFile(fd, st, ctx);
}

namespace {

FileRead readOpenFile(int fd, const struct stat& st, const JobContext& ctx) {
    FileRead r;
    // Read in chunks so that STOP is seen during a long read.
    constexpr std::size_t kChunk = std::size_t{4} << 20;
    try {
        // Room for the size the file has now and one byte more, so that the
        // end is seen without growing; a file that grows meanwhile gets more.
        // (Not a chunk ahead: a folder of many small files would clear
        // megabytes for each.)
        r.bytes.resize(static_cast<std::size_t>(st.st_size) + 1);
        std::size_t used = 0;
        while (true) {
            if (ctx.stopRequested()) {
                return failed(ReadError::Stopped);
            }
            if (used == r.bytes.size()) {
                r.bytes.resize(used + std::max(kChunk, used / 2));
            }
            const ssize_t got = ::read(fd, r.bytes.data() + used, std::min(r.bytes.size() - used, kChunk));
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                // EAGAIN too: a file that has nothing now (/proc/kmsg) would
                // be asked again for ever.
                return failed(readErrorFor(errno), errno);
            }
            if (got == 0) {
                break;
            }
            used += static_cast<std::size_t>(got);
        }
        r.bytes.resize(used);
        if (r.bytes.capacity() - used > kChunk) {
            r.bytes.shrink_to_fit(); // a copy: only worth it when much is spare
        }
    } catch (const std::bad_alloc&) {
        return failed(ReadError::TooLarge);
    } catch (const std::length_error&) {
        return failed(ReadError::TooLarge);
    }
    return r;
}

} // namespace

void walkFolder(const fs::path& folder, const std::function<void(const fs::path&)>& onFile,
                const std::function<void(const fs::path&, const std::string&)>& onError, const JobContext& ctx) {
    // An explicit stack instead of recursion: a very deep tree must not
    // overflow the thread's stack.
    struct Level {
        std::vector<fs::directory_entry> entries;
        std::size_t next = 0;
    };
    std::set<fs::path> visited;
    std::vector<Level> stack;

    auto enter = [&](const fs::path& dir) {
        std::error_code ec;
        const fs::path canonical = fs::canonical(dir, ec);
        if (ec) {
            if (onError) {
                onError(dir, ec.message());
            }
            return;
        }
        if (!visited.insert(canonical).second) {
            return; // already walked: a link back to a parent or a second link to the same folder
        }
        Level level;
        fs::directory_iterator it(dir, fs::directory_options::none, ec);
        if (ec) {
            if (onError) {
                onError(dir, ec.message());
            }
            return;
        }
        for (const fs::directory_iterator end; it != end; it.increment(ec)) {
            if (ec) {
                if (onError) {
                    onError(dir, ec.message());
                }
                break;
            }
            const std::string name = it->path().filename().string();
            if (!name.empty() && name.front() == '.') {
                continue;
            }
            level.entries.push_back(*it);
        }
        std::sort(level.entries.begin(), level.entries.end(),
                  [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path() < b.path(); });
        stack.push_back(std::move(level));
    };

    enter(folder);
    while (!stack.empty()) {
        if (ctx.stopRequested()) {
            return;
        }
        Level& top = stack.back();
        if (top.next >= top.entries.size()) {
            stack.pop_back();
            continue;
        }
        const fs::directory_entry dirEntry = top.entries[top.next++];
        const fs::path& entry = dirEntry.path();
        std::error_code ec;
        // The type the folder listing gave, where it gave one and the entry is
        // no link: a call to the system less for each file.
        fs::file_type type = dirEntry.symlink_status(ec).type();
        if (ec || type == fs::file_type::symlink || type == fs::file_type::none || type == fs::file_type::unknown ||
            type == fs::file_type::not_found) {
            ec.clear();
            type = fs::status(entry, ec).type(); // follows links
            if (ec) {
                continue; // a dangling link or an entry that vanished
            }
        }
        if (type == fs::file_type::directory) {
            enter(entry);
        } else if (type == fs::file_type::regular) {
            onFile(entry);
        }
        ctx.yieldNow();
    }
}

MappedFile::~MappedFile() {
    if (m_map != nullptr) {
        ::munmap(m_map, m_size);
    }
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : error(other.error), detail(std::move(other.detail)), m_map(std::exchange(other.m_map, nullptr)),
      m_size(std::exchange(other.m_size, 0)), m_read(std::move(other.m_read)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        if (m_map != nullptr) {
            ::munmap(m_map, m_size);
        }
        error = other.error;
        detail = std::move(other.detail);
        m_map = std::exchange(other.m_map, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_read = std::move(other.m_read);
    }
    return *this;
}

MappedFile mapWholeFile(const fs::path& path) {
    MappedFile m;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        m.error = readErrorFor(errno);
        m.detail = std::strerror(errno);
        return m;
    }
    {
        FdCloser closer(fd);
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            m.error = readErrorFor(errno);
            m.detail = std::strerror(errno);
            return m;
        }
        if (!S_ISREG(st.st_mode)) {
            m.error = ReadError::NotRegular;
            return m;
        }
        // Small files are read: mapping and unmapping cost more than the copy.
        constexpr off_t kMapFrom = 1 << 20;
        if (st.st_size >= kMapFrom) {
            const auto size = static_cast<std::size_t>(st.st_size);
            void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
            if (p != MAP_FAILED) {
                m.m_map = static_cast<char*>(p);
                m.m_size = size;
                return m;
            }
        }
        // Small, empty by its size (some special files have content all the
        // same), or not mappable: read it.
        FileRead r = readOpenFile(fd, st, {});
        m.error = r.error;
        m.detail = std::move(r.detail);
        m.m_read = std::move(r.bytes);
    }
    return m;
}

namespace {

// Scans a decoded text (no reference left to decode) for addresses.
bool scanDecoded(std::string_view decoded, const AddressFn& onAddress, const JobContext& ctx) {
    searchClass scanner;
    scanner.setRegex(decoded, kAddressPattern);
    scanner.setDiv(ctx);
    const double div = scanner.div();
    const auto maximum = static_cast<std::int64_t>(static_cast<double>(scanner.destLength()) / div);
    ctx.report(maximum, 0);
    while (!ctx.stopRequested()) {
        const std::string_view address = scanner.search();
        if (scanner.stop()) {
            return true;
        }
        onAddress(address);
        ctx.report(maximum, static_cast<std::int64_t>(static_cast<double>(scanner.posLength()) / div));
    }
    return false;
}

bool mayHoldReference(std::string_view text) {
    return text.find('&') != std::string_view::npos;
}

// Decodes the references of a UTF-8 text (a text without "&" has none and is
// scanned as it is), then scans it.
bool decodeAndScan(std::string_view text, std::string* owner, const AddressFn& onAddress, const JobContext& ctx) {
    if (!mayHoldReference(text)) {
        return !ctx.stopRequested() && scanDecoded(text, onAddress, ctx);
    }
    const ascReferClass decoder;
    std::string decoded = decoder.convert(text, ctx);
    if (owner != nullptr) {
        std::string().swap(*owner); // the raw text is not needed any more
    }
    if (ctx.stopRequested()) {
        return false;
    }
    return scanDecoded(decoded, onAddress, ctx);
}

// What a look at raw bytes tells before they are scanned in place.
struct Inspection {
    bool validUtf8 = true;
    bool mayHoldReference = false;
};

// One pass tells both.
Inspection inspect(std::string_view text) {
    const utf8Check::Inspection seen = utf8Check::inspect(text);
    return {seen.valid, seen.hasAmpersand};
}

// inspect() of a large text in two halves on two threads. The cut lies before
// an ASCII byte, which always begins a sequence of its own, so the text is
// valid exactly when both halves are; a "&" is in one half or the other.
Inspection inspectOnTwoThreads(std::string_view text) {
    // Below this size a second thread costs more than it saves.
    constexpr std::size_t kSplitFrom = std::size_t{4} << 20;
    if (text.size() < kSplitFrom) {
        return inspect(text);
    }
    std::size_t cut = text.size() / 2;
    while (cut < text.size() && static_cast<unsigned char>(text[cut]) >= 0x80) {
        ++cut;
    }
    const std::string_view tail = text.substr(cut);
    Inspection tailSeen;
    std::thread worker;
    try {
        worker = std::thread([&tailSeen, tail] { tailSeen = inspect(tail); });
    } catch (const std::system_error&) {
        return inspect(text); // no thread to be had
    }
    const Inspection headSeen = inspect(text.substr(0, cut));
    worker.join();
    return {headSeen.validUtf8 && tailSeen.validUtf8, headSeen.mayHoldReference || tailSeen.mayHoldReference};
}

// The smallest power of ten (at least 10) that brings `size` below 50,000,
// as searchClass::setDiv finds it.
double divFor(std::size_t size) {
    double p = 10;
    while (static_cast<double>(size) / p >= 50000) {
        p *= 10;
    }
    return p;
}

std::atomic<std::size_t> g_piecesFrom{PieceSizes().from};
std::atomic<std::size_t> g_pieceSize{PieceSizes().piece};

// Converts a Shift_JIS, EUC-JP or ISO-2022-JP text piece by piece on a second
// thread while this one decodes the references of and scans the pieces
// converted before, in order. A piece ends after a line end, which no
// reference and no address spans, so the pieces give the addresses of the
// whole text in the same order; the converter gives the same bytes and count
// as one conversion of the whole. Fresh memory costs more than reused memory,
// so the few piece buffers go round. Returns false when ctx.stop ended it, or
// nothing (and leaves `ran` false) when no thread could be had.
bool convertAndScanInPieces(std::string_view bytes, Encoding enc, const AddressFn& onAddress, const JobContext& ctx,
                            std::size_t& invalid, bool& ran) {
    const std::size_t pieceSize = std::max<std::size_t>(g_pieceSize.load(), 1);
    constexpr std::size_t kInFlight = 3;
    struct Converted {
        std::string text;
        std::size_t end = 0; // input offset the piece reaches
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Converted> ready;
    std::vector<std::string> spare;
    bool done = false;
    bool quit = false;
    std::exception_ptr failure;
    std::size_t converted = 0;

    auto convertAll = [&] {
        try {
            convModule::PieceConverter converter(enc);
            std::size_t from = 0;
            while (from < bytes.size()) {
                Converted piece;
                {
                    std::unique_lock lock(mutex);
                    changed.wait(lock, [&] { return quit || ready.size() < kInFlight; });
                    if (quit) {
                        break;
                    }
                    if (!spare.empty()) {
                        piece.text = std::move(spare.back());
                        spare.pop_back();
                    }
                }
                piece.text.clear();
                const std::size_t limit = convModule::PieceConverter::pieceEnd(bytes, from, pieceSize);
                from = converter.convert(bytes, from, limit, piece.text);
                piece.end = from;
                {
                    const std::lock_guard lock(mutex);
                    ready.push_back(std::move(piece));
                    converted = converter.invalid();
                }
                changed.notify_all();
            }
            const std::lock_guard lock(mutex);
            converted = converter.invalid();
        } catch (...) {
            const std::lock_guard lock(mutex);
            failure = std::current_exception();
        }
        {
            const std::lock_guard lock(mutex);
            done = true;
        }
        changed.notify_all();
    };
    std::thread worker;
    try {
        worker = std::thread(convertAll);
    } catch (const std::system_error&) {
        ran = false;
        return true;
    }
    ran = true;
    // The worker is told to end and joined however this thread leaves.
    struct Joiner {
        std::thread& thread;
        std::mutex& mutex;
        std::condition_variable& changed;
        bool& quit;
        ~Joiner() {
            {
                const std::lock_guard lock(mutex);
                quit = true;
            }
            changed.notify_all();
            thread.join();
        }
    } joiner{worker, mutex, changed, quit};

    const double div = divFor(bytes.size());
    const auto maximum = static_cast<std::int64_t>(static_cast<double>(bytes.size()) / div);
    ctx.report(maximum, 0);
    JobContext quiet = ctx; // the pieces' own progress means nothing to the caller
    quiet.progress = nullptr;
    bool stopped = false;
    while (true) {
        Converted piece;
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return !ready.empty() || done; });
            if (ready.empty()) {
                break;
            }
            piece = std::move(ready.front());
            ready.pop_front();
        }
        changed.notify_all();
        ctx.yieldNow();
        if (ctx.stopRequested() || !decodeAndScan(piece.text, nullptr, onAddress, quiet)) {
            stopped = true;
            break;
        }
        ctx.report(maximum, static_cast<std::int64_t>(static_cast<double>(piece.end) / div));
        const std::lock_guard lock(mutex);
        spare.push_back(std::move(piece.text));
    }
    {
        const std::lock_guard lock(mutex);
        quit = true;
    }
    changed.notify_all();
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return done; });
    if (failure) {
        std::rethrow_exception(failure);
    }
    invalid = converted;
    return !stopped;
}

} // namespace

void setPieceSizes(PieceSizes sizes) {
    g_piecesFrom = sizes.from;
    g_pieceSize = sizes.piece;
}

bool extractAddresses(std::string text, const AddressFn& onAddress, const JobContext& ctx) {
    return decodeAndScan(text, &text, onAddress, ctx);
}

SourceScan extractFromBytes(std::string_view bytes, Encoding enc, std::string_view sample, const AddressFn& onAddress,
                            const JobContext& ctx) {
    SourceScan result;
    result.used = enc == Encoding::None ? convModule::guessEncoding(sample) : enc;
    if (result.used == Encoding::UTF8) {
        const Inspection seen = inspectOnTwoThreads(bytes);
        if (seen.validUtf8 && !seen.mayHoldReference) {
            result.finished = !ctx.stopRequested() && scanDecoded(bytes, onAddress, ctx);
            return result;
        }
        if (seen.validUtf8) {
            result.finished = decodeAndScan(bytes, nullptr, onAddress, ctx);
            return result;
        }
    }
    // Below this size a second thread costs more than it saves.
    if (bytes.size() >= g_piecesFrom.load() &&
        (result.used == Encoding::ShiftJIS || result.used == Encoding::EucJP || result.used == Encoding::ISO2022JP)) {
        bool ran = false;
        result.finished = convertAndScanInPieces(bytes, result.used, onAddress, ctx, result.invalid, ran);
        if (ran) {
            return result;
        }
    }
    convModule::ConvResult converted = convModule::convToUTF8(bytes, result.used);
    result.invalid = converted.invalid;
    result.finished = decodeAndScan(converted.text, &converted.text, onAddress, ctx);
    return result;
}

std::vector<PostStep> postSteps(const Settings& s, bool userStopped) {
    std::vector<PostStep> steps;
    if (s.isDelet && !userStopped) {
        steps.push_back({PostStepKind::DeleteDuplicates, true, nullptr});
    }
    if (s.isSort) {
        steps.push_back({PostStepKind::Sort, false, kStatusSorting});
    }
    if (s.isHighLight) {
        steps.push_back({PostStepKind::CheckSuspicious, false, nullptr});
    }
    if (!s.filterString.empty()) {
        steps.push_back({PostStepKind::FilterAddresses, true, kStatusFiltering});
    }
    return steps;
}

bool runPostStep(PostStepKind kind, std::vector<AddressRow>& rows, const Settings& s,
                 const std::vector<std::string>& correctAdd, const JobContext& ctx) {
    switch (kind) {
    case PostStepKind::DeleteDuplicates:
        return listOps::deleteByColumn(rows, 1, ctx);
    case PostStepKind::Sort:
        listOps::sortByColumn(rows, 2, ctx);
        return false;
    case PostStepKind::CheckSuspicious:
        listOps::checkAddress(rows, correctAdd, s.isHighLight, ctx);
        return false;
    case PostStepKind::FilterAddresses: {
        // The filter cannot be stopped: it runs to its end whatever STOP does.
        JobContext unstoppable = ctx;
        unstoppable.stop = nullptr;
        listOps::checkByAddresses(rows, s.addressFilter, 1, 1, s.inList, unstoppable);
        listOps::checkByAddresses(rows, s.accountFilter, 1, 2, s.inList, unstoppable);
        listOps::checkByAddresses(rows, s.domainFilter, 1, 3, s.inList, unstoppable);
        return false;
    }
    }
    return false;
}

void postProcess(std::vector<AddressRow>& rows, const Settings& s, bool userStopped,
                 const std::vector<std::string>& correctAdd, const JobContext& ctx) {
    for (const PostStep& step : postSteps(s, userStopped)) {
        runPostStep(step.kind, rows, s, correctAdd, ctx);
    }
}

} // namespace quillon::pipeline
