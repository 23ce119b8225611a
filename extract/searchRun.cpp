#include "extract/searchRun.h"

#include "app/utf8Check.h"
#include "extract/ascReferClass.h"
#include "extract/convModule.h"
#include "extract/handOver.h"
#include "extract/mailSource.h"
#include "extract/pipeline.h"
#include "extract/searchClass.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <liburing.h>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace quillon::pipeline {

namespace fs = std::filesystem;

void SearchSink::sourceStarted(std::size_t, std::size_t, const std::string&) {}
void SearchSink::partStarted(std::size_t, const std::string&) {}
void SearchSink::progress(std::int64_t, std::int64_t, std::uint64_t) {}
void SearchSink::sourceFinished(const SourceReport&) {}
void SearchSink::searchFinished(const SearchReport&) {}

Source Source::file(std::string path) {
    Source s;
    s.kind = Kind::Path;
    s.path = std::move(path);
    return s;
}

Source Source::standardInput(int fd, std::string name) {
    Source s;
    s.kind = Kind::StandardInput;
    s.fd = fd;
    s.name = std::move(name);
    return s;
}

Source Source::utf8Text(std::string_view text, std::string name) {
    Source s;
    s.kind = Kind::Text;
    s.text = text;
    s.name = std::move(name);
    s.forceUtf8 = true;
    return s;
}

namespace {

ReadError readErrorFor(int err) {
    switch (err) {
    case ENOENT:
    case ENOTDIR:
    case ELOOP:
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

// ---- Scanning a UTF-8 piece ---------------------------------------------------

// Scans a decoded text (no reference left to decode) for addresses.
// Each thread keeps one scanner for its texts one after another (a folder
// scans one text per file); a scan started from inside another's callback
// gets a scanner of its own.
bool scanDecoded(std::string_view decoded, const AddressFn& onAddress, const JobContext& ctx) {
    thread_local searchClass kept;
    thread_local bool keptBusy = false;
    std::optional<searchClass> own;
    searchClass& scanner = keptBusy ? own.emplace() : kept;
    struct Release {
        bool* busy;
        ~Release() {
            if (busy != nullptr) {
                *busy = false;
            }
        }
    } release{keptBusy ? nullptr : &keptBusy};
    keptBusy = true;
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

// Decodes the references of a UTF-8 text (a text without "&" has none and is
// scanned as it is), then scans it.
bool decodeAndScan(std::string_view text, bool mayHoldReference, const AddressFn& onAddress, const JobContext& ctx) {
    if (!mayHoldReference) {
        return !ctx.stopRequested() && scanDecoded(text, onAddress, ctx);
    }
    const ascReferClass decoder;
    const std::string decoded = decoder.convert(text, ctx);
    if (ctx.stopRequested()) {
        return false;
    }
    return scanDecoded(decoded, onAddress, ctx);
}

// The smallest power of ten (at least 10) that brings `size` below 50,000,
// as searchClass::setDiv finds it.
double divFor(std::uint64_t size) {
    double p = 10;
    while (static_cast<double>(size) / p >= 50000) {
        p *= 10;
    }
    return p;
}

// ---- Listing ------------------------------------------------------------------

// One entry of the run's list: a file to read (or a stream, or a text), or a
// folder that could not be listed.
struct Item {
    const Source* source = nullptr;
    std::size_t pathAt = 0;    // where its path begins in ItemList's buffer
    std::size_t pathSize = 0;  // a file, or the folder that failed
    bool fromFolder = false;   // found by a walk: only regular files are read
    std::size_t listError = 0; // for a folder that could not be listed: 1 + the index of why
};

// The run's list. The paths lie one after another in one buffer, each ended
// by a zero byte: a folder of many files costs no allocation for each.
class ItemList {
public:
    void add(const Source* source, std::string_view path, bool fromFolder, std::string listError = {}) {
        Item item{source, m_paths.size(), path.size(), fromFolder, 0};
        m_paths.append(path);
        m_paths.push_back('\0');
        if (!listError.empty()) {
            m_errors.push_back(std::move(listError));
            item.listError = m_errors.size();
        }
        m_items.push_back(item);
    }
    // Room for `more` entries of paths of about `pathSize` bytes (a hint).
    void reserve(std::size_t more, std::size_t pathSize) {
        m_items.reserve(m_items.size() + more);
        m_paths.reserve(m_paths.size() + more * (pathSize + 1));
    }
    std::size_t size() const { return m_items.size(); }
    const Item& operator[](std::size_t i) const { return m_items[i]; }
    std::string_view path(std::size_t i) const { return {m_paths.data() + m_items[i].pathAt, m_items[i].pathSize}; }
    // The path ended by a zero byte.
    const char* cPath(std::size_t i) const { return m_paths.data() + m_items[i].pathAt; }
    // Why a folder could not be listed; nothing for a source to read.
    const std::string* listError(std::size_t i) const {
        return m_items[i].listError == 0 ? nullptr : &m_errors[m_items[i].listError - 1];
    }

private:
    std::vector<Item> m_items;
    std::string m_paths;
    std::vector<std::string> m_errors;
};

ItemList listSources(const std::vector<Source>& sources, const JobContext& ctx) {
    ItemList items;
    for (const Source& s : sources) {
        if (ctx.stopRequested()) {
            break;
        }
        if (s.kind != Source::Kind::Path) {
            items.add(&s, s.name, false);
            continue;
        }
        struct stat st {};
        if (::stat(s.path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            // About as many files as the folder's size tells: an entry takes
            // some 24 bytes of it and more.
            items.reserve(std::min<std::size_t>(static_cast<std::size_t>(st.st_size), std::size_t{64} << 20) / 24,
                          s.path.size() + 16);
            listFolder(
                s.path, [&](std::string_view file) { items.add(&s, file, true); },
                [&](std::string_view folder, const std::string& why) {
                    items.add(&s, folder, true, why.empty() ? std::string("?") : why);
                },
                ctx);
        } else {
            items.add(&s, s.path, false);
        }
    }
    return items;
}

// ---- Reading in pieces ----------------------------------------------------------

// The hand-over cost of a piece: one, and one more for every kCostUnit bytes.
// A waiting scan is woken once kWakeAt of cost is ready.
constexpr std::size_t kCostUnit = std::size_t{16} << 10;
constexpr std::size_t kWakeAt = 16;

// Raw bytes: a buffer that is not cleared when it grows.
struct Bytes {
    std::unique_ptr<char[]> data;
    std::size_t capacity = 0;
    std::size_t size = 0;

    // Room for `cap` bytes, the first `size` kept.
    void ensure(std::size_t cap) {
        if (cap <= capacity) {
            return;
        }
        auto bigger = std::make_unique_for_overwrite<char[]>(cap);
        if (size > 0) {
            std::memcpy(bigger.get(), data.get(), size);
        }
        data = std::move(bigger);
        capacity = cap;
    }
    std::string_view view() const { return {data.get(), size}; }
};

// A small file of a folder read whole in a batch, its bytes valid UTF-8
// without an escape or shift byte, not a mail, read as UTF-8 (the run's
// encoding, or guessed): it is its own one piece, handed on as it is.
struct WholeFile {
    std::size_t item = 0;
    const char* data = nullptr;
    std::size_t size = 0;
    bool mayHoldReference = false; // it holds a "&"
    bool high = false;             // it holds a byte 0x80 or above
};

// One piece of a source, converted to UTF-8, or the end of a source.
struct Piece {
    std::size_t item = 0;
    std::string text;              // UTF-8, references not yet decoded, or
    Bytes raw;                     // the raw bytes themselves when they are that already
    bool inPlace = false;          // the piece is `raw`
    bool mayHoldReference = false; // the piece holds a "&"
    bool first = false;            // the source's first piece (or its only message)
    bool last = false;             // the source's last piece: `report` holds the read's outcome
    bool split = false;            // no text: scan the first half of the SplitChannel's file
    std::uint64_t end = 0;         // raw bytes of the source read through this piece
    std::uint64_t size = 0;        // the source's size when it was opened (0: not known)
    SourceReport report;           // on the last piece
    std::string part;              // the message of an mbox the piece is, when it is one
    // Or, instead of all of the above, whole files of a folder, one after
    // another in the walk's order, each valid UTF-8 read as UTF-8 (see
    // WholeFile); their bytes lie in `slots`.
    std::vector<WholeFile> files;
    std::shared_ptr<char> slots;

    std::string_view view() const { return inPlace ? raw.view() : std::string_view(text); }
};

// Buffers go round between the reader and the scan: fresh memory costs more
// than memory used again.
class BufferPool {
public:
    std::string takeText() {
        const std::lock_guard lock(m_mutex);
        return takeFrom(m_texts);
    }
    Bytes takeBytes() {
        const std::lock_guard lock(m_mutex);
        return takeFrom(m_bytes);
    }
    void give(Piece& piece) {
        const std::lock_guard lock(m_mutex);
        if (piece.text.capacity() > 0 && m_texts.size() < kKept) {
            piece.text.clear();
            m_texts.push_back(std::move(piece.text));
        }
        if (piece.raw.capacity > 0 && m_bytes.size() < kKept) {
            piece.raw.size = 0;
            m_bytes.push_back(std::move(piece.raw));
        }
    }
    void give(Bytes bytes) {
        const std::lock_guard lock(m_mutex);
        if (bytes.capacity > 0 && m_bytes.size() < kKept) {
            bytes.size = 0;
            m_bytes.push_back(std::move(bytes));
        }
    }

private:
    static constexpr std::size_t kKept = 8;
    template <class T> static T takeFrom(std::vector<T>& spare) {
        if (spare.empty()) {
            return {};
        }
        T t = std::move(spare.back());
        spare.pop_back();
        return t;
    }
    std::mutex m_mutex;
    std::vector<std::string> m_texts;
    std::vector<Bytes> m_bytes;
};

// Where a piece may end in a buffer that holds no line end: after the last
// control byte or space. Not after ESC, which begins an escape sequence, nor
// after the shift bytes SO and SI: ISO-2022-JP reads SI as nothing, so the
// text on either side of it can form one address. No address, reference,
// escape sequence or multibyte character holds such a byte. 0 when there is
// none.
std::size_t safeCut(std::string_view bytes) {
    const auto isCut = [](unsigned char b) { return b <= 0x20 && b != 0x1B && b != 0x0E && b != 0x0F; };
    std::size_t i = bytes.size();
    // Eight bytes at a time, from the end, past words without a byte below 0x21.
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
    while (i >= 8) {
        std::uint64_t w;
        std::memcpy(&w, bytes.data() + i - 8, 8);
        if (((w - kOnes * 0x21) & ~w & kHigh) == 0) {
            i -= 8;
            continue;
        }
        for (std::size_t k = i; k > i - 8; --k) {
            if (isCut(static_cast<unsigned char>(bytes[k - 1]))) {
                return k;
            }
        }
        i -= 8;
    }
    for (; i > 0; --i) {
        if (isCut(static_cast<unsigned char>(bytes[i - 1]))) {
            return i;
        }
    }
    return 0;
}

// Where a piece ends: after the last line end of the buffer, else at a safe cut.
std::size_t pieceCut(std::string_view bytes) {
    if (bytes.empty()) {
        return 0;
    }
    if (const void* nl = ::memrchr(bytes.data(), '\n', bytes.size())) {
        return static_cast<std::size_t>(static_cast<const char*>(nl) - bytes.data()) + 1;
    }
    return safeCut(bytes);
}

// A single message is held whole with its decoded parts: one larger than
// any real mail is taken for the text it is.
constexpr std::uint64_t kLargestMessage = std::uint64_t{256} << 20;

// Whether a source of `size` bytes that begins with `start` is read as mail.
// Without the mail parser it is read as the plain text it also is.
bool readsAsMail(std::string_view start, std::uint64_t size) {
    return mailSource::looksLikeMail(start) && (size < kLargestMessage || mailSource::isMbox(start)) &&
           mailSource::parserAvailable();
}

// ---- A large UTF-8 file read by both threads ------------------------------------

// Reads up to `want` bytes at `at` into `to`, again after an interruption or a
// short read; fewer only at the end of the file or on an error.
std::size_t readFully(int fd, char* to, std::size_t want, std::uint64_t at) {
    std::size_t got = 0;
    while (got < want) {
        const ssize_t n = ::pread(fd, to + got, want - got, static_cast<off_t>(at + got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return got;
}

// What one part of a file gave: its addresses, one after another, and where
// each of its pieces ended.
struct PartScan {
    std::string addresses;
    std::vector<std::uint32_t> lengths;
    struct PieceEnd {
        std::uint64_t end = 0;     // raw bytes of the source through this piece
        std::size_t addresses = 0; // addresses of the part through this piece
    };
    std::vector<PieceEnd> pieces;
    std::string sample; // the first part's: the guess sample
    bool high = false;  // a byte 0x80 or above was seen
    bool ok = false;    // the part was read, checked and scanned to its end
};

// The address bytes all parts of one file may hold; more and the file goes
// the ordinary way.
constexpr std::size_t kSplitAddressBytes = std::size_t{128} << 20;

// Reads [from, to) of `fd` in pieces cut as the ordinary road cuts them,
// checks that each is valid UTF-8 without an escape byte (and, when the
// encoding is being guessed, without a shift byte) and scans it, into `out`.
// False (out.ok unset) at the first piece that does not qualify, when STOP or
// `cancel` comes, when the parts' addresses outgrow `addressBytes`' bound,
// when the file is shorter than `to`, or, for the last part (`to` the size),
// longer.
bool scanPart(int fd, std::uint64_t from, std::uint64_t to, std::uint64_t size, bool guessing, std::size_t pieceSize,
              const std::atomic<bool>* stop, const std::atomic<bool>& cancel, std::atomic<std::size_t>& addressBytes,
              Bytes& buffer, PartScan& out) {
    JobContext ctx;
    ctx.stop = stop;
    buffer.ensure(pieceSize);
    std::uint64_t at = from;
    const auto collect = [&out](std::string_view address) {
        out.addresses.append(address);
        out.lengths.push_back(static_cast<std::uint32_t>(address.size()));
    };
    try {
        while (at < to) {
            if (ctx.stopRequested() || cancel.load(std::memory_order_relaxed)) {
                return false;
            }
            const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(pieceSize, to - at));
            const std::size_t got = readFully(fd, buffer.data.get(), want, at);
            if (got < want) {
                return false;
            }
            const std::string_view held(buffer.data.get(), got);
            if (at == 0) {
                out.sample = convModule::guessSample(held);
                // A piece shorter than the sample: the sample is read on its own.
                const std::size_t have = out.sample.size();
                if (have < convModule::kGuessSampleSize) {
                    out.sample.resize(convModule::kGuessSampleSize);
                    out.sample.resize(
                        have + readFully(fd, out.sample.data() + have, convModule::kGuessSampleSize - have, have));
                }
            }
            const std::size_t cut = at + got == to ? got : pieceCut(held);
            if (cut == 0) {
                return false;
            }
            const std::string_view piece = held.substr(0, cut);
            const utf8Check::Inspection seen = utf8Check::inspect(piece);
            if (!seen.valid || seen.hasEscape) {
                return false;
            }
            if (guessing && (std::memchr(piece.data(), 0x0E, piece.size()) != nullptr ||
                             std::memchr(piece.data(), 0x0F, piece.size()) != nullptr)) {
                return false;
            }
            out.high = out.high || seen.hasHigh;
            const std::size_t before = out.addresses.size();
            if (!decodeAndScan(piece, seen.hasAmpersand, collect, ctx) ||
                addressBytes.fetch_add(out.addresses.size() - before, std::memory_order_relaxed) +
                        (out.addresses.size() - before) >
                    kSplitAddressBytes) {
                return false;
            }
            at += cut;
            out.pieces.push_back({at, out.lengths.size()});
        }
        if (to == size) {
            // The file must end where it did when it was opened.
            char more = 0;
            ssize_t n = 0;
            do {
                n = ::pread(fd, &more, 1, static_cast<off_t>(size));
            } while (n < 0 && errno == EINTR);
            if (n != 0) {
                return false;
            }
        }
    } catch (...) {
        return false; // the ordinary road meets it again and reports it
    }
    out.ok = true;
    return true;
}

// Where the reader and the scan meet over the one large file they read
// together. The file is cut into parts at line ends (or, in a long line, at a
// space or control byte, as pieces are cut); both threads take the next part
// not yet taken until none is left, so a thread that starts late, or is kept
// waiting by the system, simply takes fewer. The reader then waits for the
// scan's word; the file goes the ordinary way unless every part qualified.
struct SplitChannel {
    std::mutex mutex;
    std::condition_variable changed;
    bool quit = false; // the scan has ended: the reader waits no more
    // The current file, set before its marked piece is handed over.
    int fd = -1;
    std::uint64_t size = 0;
    bool guessing = false;
    std::vector<std::uint64_t> cuts; // part k is [cuts[k], cuts[k + 1])
    std::vector<PartScan> parts;
    std::vector<char> done; // part k scanned and qualified (under the mutex)
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> addressBytes{0};
    std::atomic<bool> cancel{false}; // a part failed: the other thread stops early
    bool readerDone = false;
    bool scanDone = false;
    bool allOk = false;

    void end() {
        {
            const std::lock_guard lock(mutex);
            quit = true;
        }
        cancel = true;
        changed.notify_all();
    }

    // Scans parts until none is left or one fails; `buffer` holds each piece.
    // `afterPart` is called after each part this thread scanned.
    template <class AfterPart>
    void scanParts(std::size_t pieceSize, const std::atomic<bool>* stop, Bytes& buffer, AfterPart&& afterPart) {
        const std::size_t count = parts.size();
        for (std::size_t k = next.fetch_add(1); k < count; k = next.fetch_add(1)) {
            if (!scanPart(fd, cuts[k], cuts[k + 1], size, guessing, pieceSize, stop, cancel, addressBytes, buffer,
                          parts[k])) {
                cancel = true;
                changed.notify_all();
                return;
            }
            {
                const std::lock_guard lock(mutex);
                done[k] = 1;
            }
            changed.notify_all();
            afterPart();
        }
    }
};

// The memory batches of files are read into. A batch's buffer goes on with
// the files read whole into it and comes back once the scan is done with
// them: memory used again costs less than fresh memory.
class SlotBuffers {
public:
    explicit SlotBuffers(std::size_t size) : m_size(size) {}
    SlotBuffers(const SlotBuffers&) = delete;
    SlotBuffers& operator=(const SlotBuffers&) = delete;

    std::shared_ptr<char> take() {
        std::unique_ptr<char[]> buffer;
        {
            const std::lock_guard lock(m_mutex);
            if (!m_spare.empty()) {
                buffer = std::move(m_spare.back());
                m_spare.pop_back();
            }
        }
        if (!buffer) {
            buffer = std::make_unique_for_overwrite<char[]>(m_size);
        }
        return {buffer.release(), [this](char* b) { give(std::unique_ptr<char[]>(b)); }};
    }

private:
    void give(std::unique_ptr<char[]> buffer) {
        const std::lock_guard lock(m_mutex);
        m_spare.push_back(std::move(buffer));
    }

    const std::size_t m_size;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<char[]>> m_spare;
};

// Reads the files of a folder many at a time: for each, an open, a read of
// up to kSlot bytes and a close, linked, all in one submission to io_uring.
// A file that is not read whole that way (larger than a slot, or any call
// failed) is left to the ordinary calls, which give it the same outcome as
// every other file.
//
// Files are opened without waiting: a file replaced by a FIFO since the
// listing must not hold the batch up waiting for a writer. Such a FIFO
// reads as empty, or as having nothing yet, and so does a file whose bytes
// are not in memory (the system then reads them ahead while it answers):
// an empty read and a refused one go the ordinary way, which tells a FIFO
// from a file and waits for the disk.
class BatchReader {
public:
    static constexpr unsigned kFiles = 64;
    static constexpr std::size_t kSlot = std::size_t{64} << 10;

    BatchReader() = default;
    ~BatchReader() {
        if (m_on) {
            io_uring_queue_exit(&m_ring);
        }
    }
    BatchReader(const BatchReader&) = delete;
    BatchReader& operator=(const BatchReader&) = delete;

    // Whether the system gives io_uring here (a container may refuse it).
    bool start() {
        if (io_uring_queue_init(kFiles * 4, &m_ring, 0) < 0) {
            return false;
        }
        m_on = true;
        return io_uring_register_files_sparse(&m_ring, kFiles) >= 0;
    }

    // Reads the files of `paths` (at most kFiles), each into its slot of
    // `buffers` (kFiles slots of kSlot bytes): `sizes` gets the bytes read of
    // each, or -1 for one to read the ordinary way. False when io_uring
    // failed as a whole.
    struct Name {
        int folder;       // a folder's descriptor, or AT_FDCWD
        const char* name; // the file's name in it
    };
    bool read(const std::vector<Name>& paths, char* buffers, std::vector<std::ptrdiff_t>& sizes) {
        const auto n = static_cast<unsigned>(paths.size());
        sizes.assign(n, 0);
        for (unsigned k = 0; k < n; ++k) {
            io_uring_sqe* open = io_uring_get_sqe(&m_ring);
            io_uring_sqe* read = io_uring_get_sqe(&m_ring);
            io_uring_sqe* close = io_uring_get_sqe(&m_ring);
            if (open == nullptr || read == nullptr || close == nullptr) {
                return false;
            }
            io_uring_prep_openat_direct(open, paths[k].folder, paths[k].name, O_RDONLY | O_NOCTTY | O_NONBLOCK, 0, k);
            open->flags |= IOSQE_IO_LINK;
            io_uring_sqe_set_data64(open, k * 3);
            io_uring_prep_read(read, static_cast<int>(k), buffers + std::size_t{k} * kSlot, kSlot, 0);
            read->flags |= IOSQE_FIXED_FILE | IOSQE_IO_LINK;
            io_uring_sqe_set_data64(read, k * 3 + 1);
            io_uring_prep_close_direct(close, k);
            io_uring_sqe_set_data64(close, k * 3 + 2);
        }
        int submitted = 0;
        do {
            submitted = io_uring_submit_and_wait(&m_ring, n * 3);
        } while (submitted == -EINTR);
        if (submitted < 0) {
            return false;
        }
        for (unsigned seen = 0; seen < n * 3; ++seen) {
            io_uring_cqe* cqe = nullptr;
            int rc = 0;
            do {
                rc = io_uring_wait_cqe(&m_ring, &cqe);
            } while (rc == -EINTR);
            if (rc < 0) {
                return false;
            }
            const std::uint64_t data = io_uring_cqe_get_data64(cqe);
            const auto k = static_cast<unsigned>(data / 3);
            const int res = cqe->res;
            io_uring_cqe_seen(&m_ring, cqe);
            if (k >= n) {
                continue;
            }
            if (data % 3 == 0 && res < 0) {
                sizes[k] = -1;
            } else if (data % 3 == 1 && sizes[k] >= 0) {
                // A slot filled to its end may hold only the start of the file.
                sizes[k] = res <= 0 || static_cast<std::size_t>(res) >= kSlot ? -1 : res;
            }
        }
        return true;
    }

private:
    io_uring m_ring{};
    bool m_on = false;
};

// A file found by a folder walk, read as it is (never a stream).
bool batchable(const ItemList& items, std::size_t index) {
    const Item& item = items[index];
    return item.fromFolder && item.listError == 0 && item.source->kind == Source::Kind::Path;
}

// The parts of a run's list that readers take: a batch (a run of two to
// BatchReader::kFiles files found by walks), or a single source.
struct Part {
    std::size_t from = 0;
    std::size_t end = 0;
    bool batch = false;
};

Part partAt(const ItemList& items, std::size_t from) {
    std::size_t end = from;
    while (end < items.size() && end - from < BatchReader::kFiles && batchable(items, end)) {
        ++end;
    }
    return end - from >= 2 ? Part{from, end, true} : Part{from, from + 1, false};
}

// Which reader reads each source: with two, the second takes every other
// batch, the first all the rest.
std::vector<unsigned char> readerOf(const ItemList& items, unsigned readers) {
    std::vector<unsigned char> owner(items.size(), 0);
    std::size_t batches = 0;
    for (std::size_t i = 0; readers > 1 && i < items.size();) {
        const Part part = partAt(items, i);
        if (part.batch && batches++ % readers != 0) {
            std::fill(owner.begin() + static_cast<std::ptrdiff_t>(part.from),
                      owner.begin() + static_cast<std::ptrdiff_t>(part.end), 1);
        }
        i = part.end;
    }
    return owner;
}

// Reads the listed sources one after the other, in pieces, converts each
// piece and hands it over. Runs on a reader thread: the first reader reads
// every source the run's readerOf gives it, in order, and the second (where
// there is one) its batches, each into its own hand-over, so that the
// system's work of opening and reading the files of a folder goes on on two
// processors.
class Reader {
public:
    Reader(const ItemList& items, const std::vector<unsigned char>& owner, unsigned self, const SearchOptions& options,
           HandOver<Piece>& out, BufferPool& pool, SplitChannel& split, SlotBuffers& slots)
        : m_items(items), m_owner(owner), m_self(self), m_options(options), m_out(out), m_pool(pool), m_split(split),
          m_slots(slots) {}
    ~Reader() { closeFolder(); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    void run() {
        for (std::size_t i = 0; i < m_items.size();) {
            if (stopped()) {
                return;
            }
            const Part part = partAt(m_items, i);
            i = part.end;
            if (m_owner[part.from] != m_self) {
                continue;
            }
            if (part.batch && batchReady()) {
                if (!readBatch(part.from, part.end)) {
                    return;
                }
                continue;
            }
            for (std::size_t k = part.from; k < part.end; ++k) {
                if (stopped() || !readItem(k)) {
                    return;
                }
            }
        }
    }

private:
    // Sets io_uring up when a run first has files to read in batches.
    bool batchReady() {
        if (!m_batchTried) {
            m_batchTried = true;
            m_batched = m_options.batchedReads && m_batch.start();
        }
        return m_batched;
    }

    // Reads the files [from, end) in one submission, then hands each on in
    // order; those it did not read whole are read the ordinary way.
    bool readBatch(std::size_t from, std::size_t end) {
        // Names are looked up in the folder of the batch's first file, held
        // open, rather than from the root each time.
        std::vector<BatchReader::Name>& names = m_names;
        names.clear();
        for (std::size_t k = from; k < end; ++k) {
            const std::string_view path = m_items.path(k);
            const std::size_t slash = path.rfind('/');
            if (slash != std::string::npos && slash > 0) {
                const std::string_view folder(path.data(), slash);
                if (k == from && folder != m_folder) {
                    closeFolder();
                    m_folderFd = ::open(std::string(folder).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
                    if (m_folderFd >= 0) {
                        m_folder.assign(folder);
                    }
                }
                if (m_folderFd >= 0 && folder == m_folder) {
                    names.push_back({m_folderFd, m_items.cPath(k) + slash + 1});
                    continue;
                }
            }
            names.push_back({AT_FDCWD, m_items.cPath(k)});
        }
        std::shared_ptr<char> slots = m_slots.take();
        std::vector<std::ptrdiff_t>& sizes = m_sizes;
        if (!m_batch.read(names, slots.get(), sizes)) {
            // io_uring failed at run time: the ordinary calls from here on.
            m_batched = false;
            sizes.assign(names.size(), -1);
        }
        // Files read whole that need nothing done to them go on together.
        Piece group;
        group.files.reserve(end - from);
        std::size_t groupBytes = 0;
        const auto handOnGroup = [&] {
            if (group.files.empty()) {
                return true;
            }
            group.slots = slots;
            // Each file holds at least a page of the slots while it waits.
            const std::size_t cost = 1 + std::max(groupBytes, group.files.size() * 2048) / kCostUnit;
            groupBytes = 0;
            return m_out.push(std::exchange(group, Piece()), cost);
        };
        for (std::size_t k = from; k < end; ++k) {
            if (stopped()) {
                return false;
            }
            const std::ptrdiff_t size = sizes[k - from];
            const std::string_view text(slots.get() + (k - from) * BatchReader::kSlot,
                                        static_cast<std::size_t>(std::max<std::ptrdiff_t>(size, 0)));
            if (size >= 0) {
                if (std::optional<WholeFile> whole = wholeFile(k, text)) {
                    group.files.push_back(*whole);
                    groupBytes += text.size();
                    continue;
                }
            }
            if (!handOnGroup()) {
                return false;
            }
            if (size < 0) {
                if (!readItem(k)) {
                    return false;
                }
                continue;
            }
            SourceReport report;
            report.index = k;
            std::size_t at = 0;
            if (!readPieces(
                    k, std::move(report), encodingOf(*m_items[k].source), text.size(),
                    [&](char* to, std::size_t room) -> ssize_t {
                        const std::size_t n = std::min(room, text.size() - at);
                        std::memcpy(to, text.data() + at, n);
                        at += n;
                        return static_cast<ssize_t>(n);
                    },
                    false)) {
                return false;
            }
        }
        return handOnGroup();
    }

    // Whether a file read whole is one piece that readPieces would hand on
    // as it is: no larger than a piece, read as UTF-8 (the run's encoding, or
    // guessed: then without the shift bytes that keep a guess open), valid
    // UTF-8 without an escape byte, and not a mail.
    std::optional<WholeFile> wholeFile(std::size_t index, std::string_view text) const {
        const Encoding enc = encodingOf(*m_items[index].source);
        if ((enc != Encoding::UTF8 && enc != Encoding::None) ||
            text.size() > std::max<std::size_t>(m_options.pieceSize, 16)) {
            return std::nullopt;
        }
        const utf8Check::Inspection seen = utf8Check::inspect(text);
        if (!seen.valid || seen.hasEscape) {
            return std::nullopt;
        }
        if (enc == Encoding::None && (std::memchr(text.data(), 0x0E, text.size()) != nullptr ||
                                      std::memchr(text.data(), 0x0F, text.size()) != nullptr)) {
            return std::nullopt;
        }
        if (mailSource::looksLikeMail(text)) {
            return std::nullopt;
        }
        return WholeFile{index, text.data(), text.size(), seen.hasAmpersand, seen.hasHigh};
    }

    Encoding encodingOf(const Source& source) const {
        return source.forceUtf8                    ? Encoding::UTF8
               : source.encoding != Encoding::None ? source.encoding
                                                   : m_options.encoding;
    }

    bool stopped() const { return m_options.stop != nullptr && m_options.stop->load(std::memory_order_relaxed); }

    // Hands over the end of a source that gave no text.
    bool failure(std::size_t index, SourceReport report) {
        Piece p;
        p.item = index;
        p.first = true;
        p.last = true;
        p.report = std::move(report);
        return m_out.push(std::move(p));
    }

    bool readItem(std::size_t index) {
        const Item& item = m_items[index];
        SourceReport report;
        report.index = index;
        if (const std::string* why = m_items.listError(index)) {
            report.error = ReadError::NotListed;
            report.detail = *why;
            return failure(index, std::move(report));
        }
        const Source& source = *item.source;
        const Encoding encoding = encodingOf(source);
        if (source.kind == Source::Kind::Text) {
            std::size_t at = 0;
            const std::string_view text = source.text;
            return readPieces(
                index, std::move(report), encoding, text.size(),
                [&](char* to, std::size_t room) -> ssize_t {
                    const std::size_t n = std::min(room, text.size() - at);
                    std::memcpy(to, text.data() + at, n);
                    at += n;
                    return static_cast<ssize_t>(n);
                },
                false);
        }
        if (source.kind == Source::Kind::StandardInput) {
            return readPieces(
                index, std::move(report), encoding, 0,
                [&](char* to, std::size_t room) { return readSome(source.fd, to, room, true); }, true);
        }
        // O_NONBLOCK: opening a FIFO without a writer must not hang.
        constexpr int kFlags = O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK;
        const int fd = item.fromFolder ? openInFolder(index, kFlags) : ::open(m_items.cPath(index), kFlags);
        if (fd < 0) {
            report.systemError = errno;
            report.error = readErrorFor(errno);
            report.detail = std::strerror(errno);
            return failure(index, std::move(report));
        }
        struct Closer {
            int fd;
            ~Closer() { ::close(fd); }
        } closer{fd};
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            report.systemError = errno;
            report.error = readErrorFor(errno);
            report.detail = std::strerror(errno);
            return failure(index, std::move(report));
        }
        const bool stream = S_ISFIFO(st.st_mode) && !item.fromFolder && m_options.readNamedPipes;
        if (!S_ISREG(st.st_mode) && !stream) {
            report.error = ReadError::NotRegular;
            return failure(index, std::move(report));
        }
        const auto size = stream ? std::uint64_t{0} : static_cast<std::uint64_t>(st.st_size);
        // Only the first reader shares a large file with the scan.
        if (!stream && m_self == 0 && (encoding == Encoding::UTF8 || encoding == Encoding::None) &&
            size >= m_options.splitAt && size >= 2) {
            bool handled = false;
            if (!readHalves(index, fd, size, encoding == Encoding::None, handled)) {
                return false;
            }
            if (handled) {
                return true;
            }
        }
        // A read of a regular file that falls short of what was asked, having
        // given every byte its size promised, is its end: the call that
        // would read nothing is saved (one call a file, in a folder of many).
        std::uint64_t taken = 0;
        bool ended = false;
        return readPieces(
            index, std::move(report), encoding, size,
            [&](char* to, std::size_t room) -> ssize_t {
                if (ended) {
                    return 0;
                }
                const ssize_t got = readSome(fd, to, room, stream);
                if (got > 0 && !stream) {
                    taken += static_cast<std::uint64_t>(got);
                    ended = taken == size && static_cast<std::size_t>(got) < room;
                }
                return got;
            },
            stream);
    }

    // Reads a large file with the scan: hands over a piece marked `split`,
    // scans parts of the file with the scan, and waits for its word.
    // `handled` when every part qualified (the scan hands their addresses
    // on); otherwise the file is still to be read the ordinary way. False
    // when the scan has ended.
    bool readHalves(std::size_t index, int fd, std::uint64_t size, bool guessing, bool& handled) {
        const std::size_t pieceSize = std::max<std::size_t>(m_options.pieceSize, 16);
        Bytes buffer = m_pool.takeBytes();
        // A mail source is read the ordinary way, which decodes its messages;
        // it is told by the bytes the ordinary road first holds.
        const std::size_t room = std::max(pieceSize, convModule::kGuessSampleSize);
        buffer.ensure(room);
        const auto readAt = [&](std::uint64_t from, std::size_t want) {
            return readFully(fd, buffer.data.get(), want, from);
        };
        const auto head = static_cast<std::size_t>(std::min<std::uint64_t>(room, size));
        const std::size_t got = readAt(0, head);
        const std::string_view start(buffer.data.get(), got);
        if (got < head || readsAsMail(start, size)) {
            m_pool.give(std::move(buffer));
            return true;
        }
        // Parts of many pieces, enough of them that neither thread waits long
        // for the other; each begins after the last cut in the bytes before
        // its nominal start (a window of a piece at most: text has line ends
        // far more often).
        const std::uint64_t partSize = std::max<std::uint64_t>(std::uint64_t{8} * pieceSize, size / 256);
        const std::size_t window = std::min<std::size_t>(pieceSize, std::size_t{16} << 10);
        std::vector<std::uint64_t> cuts{0};
        for (std::uint64_t nominal = partSize; nominal + partSize / 2 < size; nominal += partSize) {
            const std::size_t seen = readAt(nominal - window, window);
            const std::size_t cut = seen == window ? pieceCut(std::string_view(buffer.data.get(), window)) : 0;
            if (cut == 0) {
                m_pool.give(std::move(buffer));
                return true;
            }
            cuts.push_back(nominal - window + cut);
        }
        cuts.push_back(size);
        {
            const std::lock_guard lock(m_split.mutex);
            m_split.fd = fd;
            m_split.size = size;
            m_split.guessing = guessing;
            m_split.parts.assign(cuts.size() - 1, PartScan());
            m_split.done.assign(cuts.size() - 1, 0);
            m_split.cuts = std::move(cuts);
            m_split.next = 0;
            m_split.addressBytes = 0;
            m_split.cancel = false;
            m_split.readerDone = false;
            m_split.scanDone = false;
            m_split.allOk = false;
        }
        Piece marker;
        marker.item = index;
        marker.split = true;
        if (!m_out.push(std::move(marker), kWakeAt)) {
            m_pool.give(std::move(buffer));
            return false;
        }
        m_split.scanParts(pieceSize, m_options.stop, buffer, [] {});
        m_pool.give(std::move(buffer));
        std::unique_lock lock(m_split.mutex);
        m_split.readerDone = true;
        m_split.changed.notify_all();
        m_split.changed.wait(lock, [this] { return m_split.scanDone || m_split.quit; });
        if (m_split.quit) {
            return false;
        }
        handled = m_split.allOk;
        return true;
    }

    // read() through interruptions. A stream is polled first, a tenth of a
    // second at a time to see STOP: a FIFO that no writer has opened yet
    // waits for one (it reads as ended only once a writer has closed it).
    // -2 when STOP came while waiting.
    ssize_t readSome(int fd, char* to, std::size_t room, bool stream) {
        while (true) {
            if (stream) {
                pollfd p{fd, POLLIN, 0};
                const int ready = ::poll(&p, 1, 100);
                if (stopped()) {
                    return -2;
                }
                if (ready == 0 || (ready < 0 && errno == EINTR)) {
                    continue;
                }
            }
            const ssize_t got = ::read(fd, to, room);
            if (got >= 0) {
                return got;
            }
            if (errno == EINTR) {
                continue;
            }
            // A stream with nothing yet is waited for; a file that has
            // nothing now (/proc/kmsg) would be asked again for ever: an error.
            if ((errno == EAGAIN || errno == EWOULDBLOCK) && stream) {
                continue;
            }
            return -1;
        }
    }

    template <class ReadFn>
    bool readPieces(std::size_t index, SourceReport report, Encoding enc, std::uint64_t size, ReadFn&& readFn,
                    bool stream) {
        try {
            return readPiecesOrThrow(index, report, enc, size, readFn, stream);
        } catch (const std::bad_alloc&) {
        } catch (const std::length_error&) {
        }
        // A line longer than memory holds: what was scanned of it stays.
        report.error = ReadError::TooLarge;
        Piece p;
        p.item = index;
        p.first = !m_started;
        p.last = true;
        p.report = std::move(report);
        return m_out.push(std::move(p));
    }

    // How many bytes guess mode holds at most to settle the verdict.
    static constexpr std::size_t kGuessLookAhead = std::size_t{64} << 20;

    // Reads on into `raw` (growing it) until a copy of `evidence`, fed with
    // everything held, is settled, the source ends or kGuessLookAhead bytes
    // are held, and gives the copy's verdict; nothing when STOP came.
    template <class ReadFn>
    std::optional<encodingVerdict::Verdict> lookAhead(const encodingVerdict::Evidence& evidence, Bytes& raw,
                                                      std::size_t& room, bool& eof, ReadFn& readFn,
                                                      SourceReport& report) {
        encodingVerdict::Evidence ahead = evidence;
        std::size_t fed = 0;
        while (true) {
            const std::string_view held = raw.view();
            const std::size_t cut = eof ? held.size() : fed + encodingVerdict::pieceCut(held.substr(fed));
            if (cut > fed) {
                ahead.feed(held.substr(fed, cut - fed));
                fed = cut;
            }
            if (ahead.settled() || eof || raw.size >= kGuessLookAhead) {
                return ahead.verdict();
            }
            if (stopped()) {
                return std::nullopt;
            }
            if (raw.size == room) {
                room *= 2;
                raw.ensure(room);
            }
            const ssize_t got = readFn(raw.data.get() + raw.size, room - raw.size);
            if (got == -2) {
                return std::nullopt;
            }
            if (got < 0) {
                report.systemError = errno;
                report.error = readErrorFor(errno) == ReadError::TooLarge ? ReadError::TooLarge : ReadError::Io;
                report.detail = std::strerror(report.systemError);
                eof = true;
            } else if (got == 0) {
                eof = true;
            } else {
                raw.size += static_cast<std::size_t>(got);
            }
        }
    }

    template <class ReadFn>
    bool readPiecesOrThrow(std::size_t index, SourceReport& report, Encoding enc, std::uint64_t size, ReadFn& readFn,
                           bool stream) {
        m_started = false;
        const std::size_t pieceSize = std::max<std::size_t>(m_options.pieceSize, 16);
        // Room for a piece, or for the whole of a smaller file and one byte
        // more (its end is then seen without a second buffer).
        std::size_t room = std::max(pieceSize, convModule::kGuessSampleSize);
        if (size > 0 && size < room) {
            room = static_cast<std::size_t>(size) + 1;
        }
        Bytes raw = m_pool.takeBytes();
        raw.ensure(room);
        room = std::max(room, raw.capacity);
        std::uint64_t consumed = 0;  // raw bytes of the source handed on
        std::size_t noCutBefore = 0; // bytes of the buffer known to hold no cut
        bool eof = false;
        bool decided = false;
        std::optional<convModule::PieceConverter> converter;
        // What the bytes tell about their encoding, fed with each piece as it
        // is handed on; in guess mode, whether the encoding is still open
        // (the text so far is ASCII, read as UTF-8).
        encodingVerdict::Evidence evidence;
        bool guessing = enc == Encoding::None;
        Encoding used = enc;
        while (true) {
            if (stopped()) {
                report.error = ReadError::Stopped;
                report.finished = false;
                break;
            }
            // Fill the buffer, or read to the end.
            while (!eof && raw.size < room) {
                const ssize_t got = readFn(raw.data.get() + raw.size, room - raw.size);
                if (got == -2) {
                    break; // stopped while waiting
                }
                if (got < 0) {
                    report.systemError = errno;
                    report.error = readErrorFor(errno);
                    if (report.error != ReadError::TooLarge) {
                        report.error = ReadError::Io;
                    }
                    report.detail = std::strerror(report.systemError);
                    eof = true;
                    break;
                }
                if (got == 0) {
                    eof = true;
                    break;
                }
                raw.size += static_cast<std::size_t>(got);
                if (stream) {
                    break; // a pipe gives what it has: scan it while more comes
                }
            }
            if (!eof && raw.size < room && stopped()) {
                continue;
            }
            if (!decided && (eof || raw.size >= convModule::kGuessSampleSize)) {
                decided = true;
                if (m_options.samples) {
                    report.sample = convModule::guessSample(raw.view());
                }
                used = enc == Encoding::None ? Encoding::UTF8 : enc;
                if (used == Encoding::UTF16) {
                    used = Encoding::UTF8;
                }
                report.used = used;
                if (readsAsMail(raw.view(), size)) {
                    return readMail(index, report, enc, size, readFn, raw, eof, stream);
                }
                if (used == Encoding::ShiftJIS || used == Encoding::EucJP || used == Encoding::ISO2022JP) {
                    converter.emplace(used);
                }
            }
            if (!decided) {
                continue; // a stream that gave fewer bytes than the sample
            }
            // A piece is at most pieceSize bytes where a cut can be found
            // in them, else as long as the line that has no cut.
            std::size_t cut = raw.size;
            if (!eof || raw.size > pieceSize) {
                cut = 0;
                if (noCutBefore < pieceSize) {
                    cut = pieceCut(raw.view().substr(0, std::min(raw.size, pieceSize)));
                }
                if (cut == 0) {
                    const std::size_t from = std::max(noCutBefore, std::min(raw.size, pieceSize));
                    const std::size_t more = pieceCut(raw.view().substr(from));
                    cut = more == 0 ? 0 : from + more;
                }
                if (cut == 0 && eof) {
                    cut = raw.size;
                }
                if (cut == 0) {
                    noCutBefore = raw.size;
                    if (raw.size == room) {
                        room *= 4; // one line longer than the buffer, with no place to cut it
                        raw.ensure(room);
                    }
                    continue;
                }
            }
            noCutBefore = 0;
            utf8Check::Inspection seen;
            if (!converter) {
                seen = utf8Check::inspect(raw.view().substr(0, cut));
            }
            // The shift bytes read differently in ISO-2022-JP (SO is invalid
            // there, SI stands for nothing): like an escape, the encoding
            // matters for them.
            const auto hasShift = [&raw, cut] {
                const std::string_view part = raw.view().substr(0, cut);
                return std::memchr(part.data(), 0x0E, part.size()) != nullptr ||
                       std::memchr(part.data(), 0x0F, part.size()) != nullptr;
            };
            if (guessing && seen.valid && !seen.hasEscape && !hasShift()) {
                // Valid UTF-8 with 8-bit characters settles the guess.
                guessing = !seen.hasHigh;
            } else if (guessing) {
                // The encoding matters from here on: read ahead until the
                // verdict is settled, then read this piece again in the
                // encoding it names.
                const std::optional<encodingVerdict::Verdict> ahead =
                    lookAhead(evidence, raw, room, eof, readFn, report);
                if (!ahead) {
                    continue; // STOP came while reading ahead
                }
                guessing = false;
                used = ahead->guess();
                report.used = used;
                if (used == Encoding::ShiftJIS || used == Encoding::EucJP || used == Encoding::ISO2022JP) {
                    converter.emplace(used);
                }
                continue;
            }
            std::size_t stop = cut;
            Piece piece;
            piece.item = index;
            piece.size = size;
            piece.first = !m_started;
            m_started = true;
            const std::string_view bytes = raw.view();
            if (converter) {
                piece.text = m_pool.takeText();
                stop = converter->convert(bytes, 0, cut, piece.text, !eof);
                report.invalid = converter->invalid();
                evidence.feed(bytes.substr(0, stop));
                piece.mayHoldReference = piece.text.find('&') != std::string::npos;
            } else {
                const std::string_view part = bytes.substr(0, cut);
                if (seen.valid && !seen.hasEscape) {
                    evidence.feedValidUtf8(part.size(), seen.hasHigh);
                } else {
                    evidence.feed(part);
                }
                if (seen.valid) {
                    // The bytes themselves are the piece.
                    piece.inPlace = true;
                    piece.mayHoldReference = seen.hasAmpersand;
                } else {
                    convModule::ConvResult repaired = convModule::convToUTF8(part, Encoding::UTF8);
                    report.invalid += repaired.invalid;
                    piece.mayHoldReference = repaired.text.find('&') != std::string::npos;
                    piece.text = std::move(repaired.text);
                }
            }
            if (stop == 0 && !eof) {
                // A run of a foreign set that goes on past the buffer: read on.
                noCutBefore = raw.size;
                if (raw.size == room) {
                    room *= 2;
                    raw.ensure(room);
                }
                m_pool.give(piece);
                continue;
            }
            // What follows the piece stays for the next one.
            Bytes next = m_pool.takeBytes();
            const std::size_t tail = raw.size - stop;
            next.ensure(std::max(room, tail));
            if (tail > 0) {
                std::memcpy(next.data.get(), raw.data.get() + stop, tail);
            }
            next.size = tail;
            if (piece.inPlace) {
                raw.size = stop;
                piece.raw = std::move(raw);
            } else {
                m_pool.give(std::move(raw));
            }
            raw = std::move(next);
            room = std::max(room, raw.capacity);
            consumed += stop;
            piece.end = consumed;
            const bool done = eof && raw.size == 0;
            if (done) {
                piece.last = true;
                report.verdict = evidence.verdict();
                report.bytes = consumed;
                if (!stream && report.error == ReadError::None && consumed < size) {
                    report.error = ReadError::Shortened;
                }
                piece.report = std::move(report);
            }
            // A stream's piece wakes the scan at once: the next read may wait long.
            const std::size_t cost = stream ? kWakeAt : 1 + piece.view().size() / kCostUnit;
            if (!m_out.push(std::move(piece), cost)) {
                return false;
            }
            if (done) {
                m_pool.give(std::move(raw));
                return true;
            }
        }
        // Stopped.
        report.verdict = evidence.verdict();
        Piece p;
        p.item = index;
        p.first = !m_started;
        p.last = true;
        report.bytes = consumed;
        p.report = std::move(report);
        m_pool.give(std::move(raw));
        m_out.push(std::move(p));
        return false;
    }

    // A mail source (a saved message, or an mbox) is handed on one message
    // at a time: its header lines and its text parts decoded (mailSource),
    // each message a piece. `raw` holds what was read so far; mailSource
    // reads the rest as it goes. The report counts no invalid sequences:
    // most parts are read in the charset they name, not in the run's
    // encoding, and where a reading gives invalid bytes mailSource reads the
    // part in its likely encoding as well.
    template <class ReadFn>
    bool readMail(std::size_t index, SourceReport& report, Encoding enc, std::uint64_t size, ReadFn& readFn, Bytes& raw,
                  bool eof, bool stream) {
        std::uint64_t bytesRead = raw.size;
        const mailSource::ReadMore more = [&](char* buffer, std::size_t room) -> std::size_t {
            if (eof) {
                return 0;
            }
            const ssize_t got = readFn(buffer, room);
            if (got == -2 || stopped()) {
                report.error = ReadError::Stopped;
                report.finished = false;
                eof = true;
                return 0;
            }
            if (got < 0) {
                report.systemError = errno;
                report.error = ReadError::Io;
                report.detail = std::strerror(report.systemError);
                eof = true;
                return 0;
            }
            eof = got == 0;
            bytesRead += static_cast<std::uint64_t>(got);
            return static_cast<std::size_t>(got);
        };
        const std::uint64_t total = stream ? 0 : size;
        std::atomic<bool> quit{false};
        JobContext ctx;
        ctx.stop = &quit;
        std::optional<Piece> held; // a message is handed on once the next one is known
        // What the first part without a charset seems to be in, and what it was read in.
        Encoding likely = Encoding::None;
        Encoding likelyUsed = Encoding::None;
        bool handedOn = true;
        const auto handOn = [&](Piece piece) {
            const std::size_t cost = 1 + piece.view().size() / kCostUnit;
            if (!m_out.push(std::move(piece), cost)) {
                handedOn = false;
                quit = true;
            }
        };
        mailSource::Reading how;
        how.size = stream ? 0 : size;
        mailSource::readMail(
            raw.view(), more, enc,
            [&](mailSource::MailMessage&& m) {
                if (stopped() || !handedOn) {
                    quit = true;
                    return;
                }
                if (held) {
                    handOn(std::move(*held));
                }
                Piece piece;
                piece.item = index;
                piece.size = total;
                piece.first = !m_started;
                m_started = true;
                piece.end = m.end;
                piece.mayHoldReference = m.text.find('&') != std::string::npos;
                piece.text = std::move(m.text);
                if (m.unnamedLikely != Encoding::None && likely == Encoding::None) {
                    likely = m.unnamedLikely;
                    likelyUsed = m.unnamedUsed;
                }
                if (m.inMbox) {
                    piece.part = mailSource::messageLabel(m);
                }
                held = std::move(piece);
            },
            ctx, how);
        if (stopped()) {
            report.error = ReadError::Stopped;
            report.finished = false;
        }
        if (!stream && report.error == ReadError::None && bytesRead < size) {
            report.error = ReadError::Shortened;
        }
        if (!handedOn) {
            return false;
        }
        // The verdict on a mail source is the one on its parts that name no
        // charset, the only ones read in the run's encoding (in guess mode,
        // each in the encoding it seems to be in).
        if (likely != Encoding::None) {
            report.verdict.kind = encodingVerdict::Verdict::Kind::Text;
            report.verdict.likely = likely;
            report.used = likelyUsed;
        }
        Piece last;
        if (held) {
            last = std::move(*held);
        } else {
            last.item = index;
            last.first = !m_started;
        }
        last.last = true;
        report.bytes = bytesRead;
        last.report = std::move(report);
        m_pool.give(std::move(raw));
        raw = Bytes();
        handOn(std::move(last));
        return handedOn && !stopped();
    }

    // Opens a file that a folder walk found through its folder, which is kept
    // open while the walk's files follow one another in it: the system then
    // looks up one name instead of the whole path.
    int openInFolder(std::size_t index, int flags) {
        const std::string_view path = m_items.path(index);
        const char* cPath = m_items.cPath(index);
        const std::size_t slash = path.rfind('/');
        if (slash == std::string::npos || slash == 0) {
            return ::open(cPath, flags);
        }
        const std::string_view folder(path.data(), slash);
        if (m_folderFd < 0 || folder != m_folder) {
            closeFolder();
            m_folderFd = ::open(std::string(folder).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (m_folderFd < 0) {
                return ::open(cPath, flags);
            }
            m_folder.assign(folder);
        }
        return ::openat(m_folderFd, cPath + slash + 1, flags);
    }
    void closeFolder() {
        if (m_folderFd >= 0) {
            ::close(m_folderFd);
        }
        m_folderFd = -1;
        m_folder.clear();
    }

    const ItemList& m_items;
    const std::vector<unsigned char>& m_owner;
    const unsigned m_self; // which reader this is
    const SearchOptions& m_options;
    HandOver<Piece>& m_out;
    BufferPool& m_pool;
    SplitChannel& m_split;
    SlotBuffers& m_slots;
    BatchReader m_batch;
    std::vector<BatchReader::Name> m_names; // of the batch being read
    std::vector<std::ptrdiff_t> m_sizes;
    bool m_batchTried = false; // whether m_batch was set up (or refused)
    bool m_batched = false;    // the files of folders are read through m_batch
    bool m_started = false;
    int m_folderFd = -1;
    std::string m_folder; // the folder m_folderFd was opened for
};

} // namespace

SearchReport runSearch(const std::vector<Source>& sources, const SearchOptions& options, SearchSink& sink) {
    JobContext ctx;
    ctx.stop = options.stop;
    SearchReport total;
    const ItemList items = listSources(sources, ctx);
    total.sources = items.size();
    // The path handed to sourceStarted, made as the source starts: it lives
    // until the source's sourceFinished returns (one buffer for all, so that
    // a folder of many files makes no string per file).
    std::string shown;
    const auto shownPath = [&](std::size_t item) -> const std::string& {
        shown.assign(items.path(item));
        return shown;
    };
    // Declared before the hand-over: pieces still there at the end give their buffers back to it.
    SlotBuffers slots(std::size_t{BatchReader::kFiles} * BatchReader::kSlot);

    // A piece costs by its size, so that many small files are read ahead
    // where few pieces of a large one are.
    const std::size_t pieceCost = 1 + std::max<std::size_t>(options.pieceSize, 16) / kCostUnit;
    // A second reader where batches of files are read and there are two batches.
    const std::vector<unsigned char> owner = readerOf(items, options.batchedReads ? 2 : 1);
    const unsigned readers = std::find(owner.begin(), owner.end(), 1) != owner.end() ? 2 : 1;
    std::deque<HandOver<Piece>> handOvers;
    for (unsigned r = 0; r < readers; ++r) {
        handOvers.emplace_back(std::max<std::size_t>(options.piecesAhead, 1) * pieceCost, kWakeAt);
    }
    BufferPool pool;
    SplitChannel split;
    std::deque<Reader> readerObjects;
    for (unsigned r = 0; r < readers; ++r) {
        readerObjects.emplace_back(items, owner, r, options, handOvers[r], pool, split, slots);
    }
    // The readers are told to end and joined however this thread leaves.
    struct Joiner {
        std::deque<HandOver<Piece>>& handOvers;
        SplitChannel& split;
        std::vector<std::thread> threads;
        ~Joiner() {
            split.end();
            for (HandOver<Piece>& h : handOvers) {
                h.quit();
            }
            for (std::thread& t : threads) {
                t.join();
            }
        }
    } joiner{handOvers, split, {}};
    for (unsigned r = 0; r < readers; ++r) {
        joiner.threads.emplace_back([&reader = readerObjects[r], &out = handOvers[r]] {
            try {
                reader.run();
                out.close();
            } catch (...) {
                out.fail(std::current_exception());
            }
        });
    }
    // The source whose pieces come next, and the hand-over they come by.
    std::size_t expected = 0;
    const auto nextPiece = [&]() -> std::optional<Piece> {
        if (expected >= items.size()) {
            return std::nullopt;
        }
        return handOvers[owner[expected]].pop();
    };

    SourceReport current;
    // Hands on what became of a source: `report` is the read's outcome (an
    // empty one when STOP came before its end).
    const auto finishSource = [&](SourceReport& report, std::size_t item) {
        report.index = item;
        report.path.assign(items.path(item));
        report.addresses = current.addresses;
        if (current.error != ReadError::None && report.error == ReadError::None) {
            report.error = current.error;
        }
        if (total.stopped) {
            report.finished = false;
            if (report.error == ReadError::None) {
                report.error = ReadError::Stopped;
            }
        }
        total.invalid += report.invalid;
        total.addresses += report.addresses;
        if (report.ok()) {
            ++total.read;
        } else if (report.error != ReadError::Stopped) {
            ++total.failed;
        }
        sink.sourceFinished(report);
    };
    // A file whose first parts were handed on before the ordinary road took
    // it over after all: the ordinary road reads it from its start, and what
    // was handed on already is left out.
    struct Resume {
        bool active = false;
        std::size_t item = 0;
        std::size_t addresses = 0;    // addresses still to leave out
        std::uint64_t progressed = 0; // raw bytes whose progress was told
    } resume;

    // Scans parts of a large file with the reader; when every part
    // qualifies, hands on the addresses of all, piece by piece, as the
    // ordinary road would. Read as UTF-8 (not guessed), the parts are handed
    // on as soon as they and all before them are scanned: should a later
    // part not qualify, the ordinary road gives the same addresses for them
    // (valid UTF-8 reads the same in a piece that holds invalid bytes after a
    // line end or space), and leaves them out. False when the file goes the
    // ordinary way after all (its pieces follow).
    const std::size_t pieceSize = std::max<std::size_t>(options.pieceSize, 16);
    const auto scanHalves = [&](std::size_t item) {
        const std::uint64_t size = split.size;
        const std::size_t count = split.parts.size();
        const bool early = !split.guessing;
        const double div = divFor(size);
        const auto maximum = static_cast<std::int64_t>(static_cast<double>(size) / div);
        std::size_t emitted = 0; // parts handed on
        std::size_t handed = 0;  // their addresses
        std::uint64_t progressed = 0;
        bool whole = true;
        // Hands on one scanned part; false when STOP came.
        const auto emit = [&](const PartScan& part) {
            if (emitted == 0) {
                current = SourceReport();
                sink.sourceStarted(item, items.size(), shownPath(item));
            }
            std::size_t next = 0;
            std::size_t at = 0;
            for (const PartScan::PieceEnd& end : part.pieces) {
                for (; next < end.addresses; ++next) {
                    const std::string_view address(part.addresses.data() + at, part.lengths[next]);
                    at += address.size();
                    ++current.addresses;
                    ++handed;
                    sink.addressFound(address, item);
                }
                sink.progress(maximum, static_cast<std::int64_t>(static_cast<double>(end.end) / div), end.end);
                progressed = end.end;
                if (ctx.stopRequested()) {
                    total.stopped = true;
                    whole = end.end == size;
                    return false;
                }
            }
            ++emitted;
            return true;
        };
        // Hands on the parts scanned so far that follow the ones handed on.
        const auto emitReady = [&] {
            while (early && !total.stopped) {
                const PartScan* part = nullptr;
                {
                    const std::lock_guard lock(split.mutex);
                    if (emitted < count && split.done[emitted] != 0 && !split.cancel) {
                        part = &split.parts[emitted];
                    }
                }
                // A scanned part is written by no thread any more.
                if (part == nullptr || !emit(*part)) {
                    return;
                }
            }
        };
        {
            Bytes buffer = pool.takeBytes();
            split.scanParts(pieceSize, options.stop, buffer, emitReady);
            pool.give(std::move(buffer));
        }
        std::vector<PartScan> parts;
        {
            std::unique_lock lock(split.mutex);
            while (true) {
                if (early && !total.stopped && !split.cancel && emitted < count && split.done[emitted] != 0) {
                    lock.unlock();
                    emitReady();
                    lock.lock();
                    continue;
                }
                if (split.readerDone) {
                    break;
                }
                split.changed.wait(lock);
            }
            split.allOk = !split.cancel &&
                          std::all_of(split.parts.begin(), split.parts.end(), [](const PartScan& p) { return p.ok; });
            split.scanDone = true;
            if (split.allOk) {
                parts = std::move(split.parts);
            }
        }
        split.changed.notify_all();
        if (parts.empty() && !total.stopped) {
            if (emitted > 0) {
                resume = {true, item, handed, progressed};
            }
            return false;
        }
        SourceReport report;
        if (!parts.empty()) {
            report.used = Encoding::UTF8;
            if (options.samples) {
                report.sample = std::move(parts.front().sample);
            }
            encodingVerdict::Evidence evidence;
            std::uint64_t partStart = 0;
            for (const PartScan& part : parts) {
                evidence.feedValidUtf8(static_cast<std::size_t>(part.pieces.back().end - partStart), part.high);
                partStart = part.pieces.back().end;
            }
            report.verdict = evidence.verdict();
            report.bytes = size;
            for (std::size_t k = emitted; k < parts.size() && !total.stopped; ++k) {
                emit(parts[k]);
            }
        }
        if (!whole || parts.empty()) {
            report = SourceReport();
        }
        finishSource(report, item);
        return true;
    };

    bool skipping = false; // the rest of a source that failed in the scan
    // Scans a piece of source `source`, of `size` bytes (0: not known), read
    // through `end`.
    const auto scanPiece = [&](std::string_view text, bool mayHoldReference, std::size_t source, std::uint64_t size,
                               std::uint64_t end) {
        const double div = divFor(size);
        const auto maximum = static_cast<std::int64_t>(static_cast<double>(size) / div);
        try {
            // No address without an "@", nor one a reference could give.
            // (The callback holds one pointer, which std::function keeps
            // without a heap block.)
            struct Found {
                SourceReport& current;
                SearchSink& sink;
                Resume& resume;
                std::size_t source;
            } found{current, sink, resume, source};
            const bool finished = !mayHoldReference && std::memchr(text.data(), '@', text.size()) == nullptr
                                      ? !ctx.stopRequested()
                                      : decodeAndScan(
                                            text, mayHoldReference,
                                            [f = &found](std::string_view address) {
                                                if (f->resume.active && f->resume.addresses > 0) {
                                                    // handed on before the ordinary road took over
                                                    --f->resume.addresses;
                                                    return;
                                                }
                                                ++f->current.addresses;
                                                f->sink.addressFound(address, f->source);
                                            },
                                            ctx);
            if (!finished) {
                total.stopped = true;
            }
        } catch (const std::bad_alloc&) {
            skipping = true;
            current.error = ReadError::TooLarge;
        }
        if (!resume.active || end > resume.progressed) {
            sink.progress(maximum, maximum == 0 ? 0 : static_cast<std::int64_t>(static_cast<double>(end) / div), end);
        }
    };
    // Whole files of a folder: each its own one piece, as readPieces would
    // have handed it on.
    // One report serves them all: its strings keep their memory from file to file.
    SourceReport wholeReport;
    const auto scanWholeFiles = [&](const std::vector<WholeFile>& files) {
        for (const WholeFile& file : files) {
            skipping = false;
            current.addresses = 0;
            current.error = ReadError::None;
            sink.sourceStarted(file.item, items.size(), shownPath(file.item));
            const std::string_view text(file.data, file.size);
            if (!text.empty()) {
                scanPiece(text, file.mayHoldReference, file.item, file.size, file.size);
            }
            if (ctx.stopRequested()) {
                total.stopped = true;
            }
            SourceReport& report = wholeReport;
            report.used = Encoding::UTF8;
            encodingVerdict::Evidence evidence;
            evidence.feedValidUtf8(file.size, file.high);
            report.verdict = evidence.verdict();
            if (options.samples) {
                report.sample.assign(text.substr(0, convModule::kGuessSampleSize));
            }
            report.bytes = file.size;
            report.invalid = 0;
            report.error = ReadError::None;
            report.systemError = 0;
            report.detail.clear();
            report.finished = true;
            finishSource(report, file.item);
            if (total.stopped) {
                return;
            }
        }
    };
    while (std::optional<Piece> piece = nextPiece()) {
        if (piece->split) {
            if (scanHalves(piece->item)) {
                expected = piece->item + 1;
                if (total.stopped) {
                    break;
                }
            }
            continue;
        }
        if (!piece->files.empty()) {
            scanWholeFiles(piece->files);
            expected = piece->files.back().item + 1;
            if (total.stopped) {
                break;
            }
            continue;
        }
        if (piece->first) {
            skipping = false;
            if (!resume.active || resume.item != piece->item) {
                resume.active = false;
                current = SourceReport();
                sink.sourceStarted(piece->item, items.size(), shownPath(piece->item));
            }
        }
        if (!piece->part.empty()) {
            sink.partStarted(piece->item, piece->part);
        }
        if (!piece->view().empty() && !skipping) {
            scanPiece(piece->view(), piece->mayHoldReference, piece->item, piece->size, piece->end);
        }
        pool.give(*piece);
        if (ctx.stopRequested()) {
            total.stopped = true;
        }
        if (piece->last) {
            expected = piece->item + 1;
        }
        if (piece->last || total.stopped) {
            resume.active = false;
            if (!piece->last) {
                piece->report = SourceReport();
            }
            finishSource(piece->report, piece->item);
            if (total.stopped) {
                break;
            }
        }
    }
    if (ctx.stopRequested()) {
        total.stopped = true;
    }
    total.mailParserFailure = mailSource::parserFailure();
    sink.searchFinished(total);
    return total;
}

// ---- The older entry points, on the same road ------------------------------------

bool extractAddresses(std::string text, const AddressFn& onAddress, const JobContext& ctx) {
    const bool mayHoldReference = text.find('&') != std::string::npos;
    return decodeAndScan(text, mayHoldReference, onAddress, ctx);
}

SourceScan extractFromBytes(std::string_view bytes, Encoding enc, std::string_view /*sample*/,
                            const AddressFn& onAddress, const JobContext& ctx) {
    class Collect : public SearchSink {
    public:
        explicit Collect(const AddressFn& fn) : m_fn(fn) {}
        void addressFound(std::string_view address, std::size_t) override { m_fn(address); }
        void sourceFinished(const SourceReport& r) override { report = r; }
        SourceReport report;

    private:
        const AddressFn& m_fn;
    } sink(onAddress);
    Source source;
    source.kind = Source::Kind::Text;
    source.text = bytes;
    SearchOptions options;
    options.encoding = enc;
    options.stop = ctx.stop;
    const SearchReport total = runSearch({source}, options, sink);
    SourceScan scan;
    scan.used = sink.report.used == Encoding::None ? (enc == Encoding::None ? Encoding::UTF8 : enc) : sink.report.used;
    scan.verdict = sink.report.verdict;
    scan.invalid = sink.report.invalid;
    scan.finished = !total.stopped;
    return scan;
}

} // namespace quillon::pipeline
