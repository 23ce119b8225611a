// The export: the three layouts against the step-by-step rule of each, then
// the writer putting the text into a file while one of its system calls
// fails. Whatever fails, the target holds either the old content or the new
// one, whole, and no temporary file is left; a write that reports success has
// put the new content there.
//
// Input: layout code, n, the blank-line switch, the fault (which call, after
// how many calls, with which error), the kind of target, then the addresses,
// one per line.
#include "export/fileWriter.h"
#include "export/listWriter.h"
#include "fuzzCheck.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using quillon::AddressRow;
using quillon::RowList;

// Layout 14 as the export describes it: rows taken n at a time, the last row
// appended alone at the end.
std::string lineCommaByRule(const RowList& rows, std::int32_t n, bool yohaku) {
    const std::size_t perLine = n < 1 ? 1 : static_cast<std::size_t>(n);
    std::string text;
    const std::size_t last = rows.size() - 1;
    std::size_t i = 0;
    while (true) {
        std::size_t taken = 0;
        bool atLast = false;
        for (; taken < perLine; ++taken) {
            if (i == last) {
                atLast = true;
                break;
            }
            text += rows[i].address();
            text += ',';
            ++i;
        }
        if (atLast) {
            break;
        }
        text.pop_back();
        text += yohaku ? "\r\r" : "\r";
    }
    text += rows[last].address();
    return text;
}

std::string byRule(const RowList& rows, std::int32_t code, std::int32_t n, bool yohaku) {
    std::string text;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        if (code == 4) {
            text += rows[r].address();
            text += '\r';
        } else {
            text += r == 0 ? "" : ",";
            text += rows[r].address();
        }
    }
    return code == 14 ? lineCommaByRule(rows, n, yohaku) : text;
}

// Fails the `after`-th call of one kind with `err`; all else goes to POSIX.
class FaultyOps : public quillon::FileOps {
public:
    enum Kind { Open, Write, Fsync, Close, Rename, None };
    Kind kind = None;
    int after = 0;
    int err = EIO;
    long shortWrite = 0; // > 0: writes take at most this many bytes

    int open(const char* path, int flags, int mode) override {
        return hit(Open) ? fail() : FileOps::open(path, flags, mode);
    }
    long write(int fd, const void* data, unsigned long size) override {
        if (hit(Write)) {
            return fail();
        }
        if (shortWrite > 0 && size > static_cast<unsigned long>(shortWrite)) {
            size = static_cast<unsigned long>(shortWrite);
        }
        return FileOps::write(fd, data, size);
    }
    // Flushing to the disk itself is not what is tried here, and slow.
    int fsync(int) override { return hit(Fsync) ? fail() : 0; }
    int close(int fd) override {
        // The descriptor is closed all the same, as close does.
        const int r = FileOps::close(fd);
        return hit(Close) ? fail() : r;
    }
    int rename(const char* from, const char* to) override { return hit(Rename) ? fail() : FileOps::rename(from, to); }

private:
    bool hit(Kind k) { return k == kind && after-- == 0; }
    int fail() {
        errno = err;
        return -1;
    }
};

const std::filesystem::path& folder() {
    return quillon::fuzz::scratchFolder("quillon-fuzz-export");
}

std::string contentOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> namesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quillon::fuzz::InputReader in(data, size);
    static constexpr std::int32_t kCodes[] = {4, 6, 14, 14, 0, -4, 5};
    const std::int32_t code = kCodes[in.pick(7)];
    const auto n = static_cast<std::int32_t>(static_cast<std::int8_t>(in.byte()));
    const bool yohaku = in.byte() % 2 == 1;
    FaultyOps ops;
    ops.kind = static_cast<FaultyOps::Kind>(in.pick(6));
    ops.after = in.pick(4);
    static constexpr int kErrors[] = {EIO, ENOSPC, EACCES, EOPNOTSUPP, EINTR, EPERM};
    ops.err = kErrors[in.pick(6)];
    ops.shortWrite = in.pick(4) == 0 ? 1 + in.pick(16) : 0;
    const unsigned targetKind = in.pick(5);

    RowList rows;
    const std::string_view rest = in.rest();
    for (std::size_t from = 0; from < rest.size() && rows.size() < 200;) {
        const std::size_t nl = std::min(rest.find('\n', from), rest.size());
        rows.emplace_back("", rest.substr(from, nl - from), "");
        from = nl + 1;
    }

    const auto text = quillon::listWriter::buildExportText(rows, code, n, yohaku);
    const bool known = code == 4 || code == 6 || code == 14;
    FUZZ_CHECK(text.has_value() == (known && !rows.empty()));
    if (!text) {
        return 0;
    }
    FUZZ_CHECK(*text == byRule(rows, code, n, yohaku));

    // The target: new, an existing file, one with a second hard link, a link
    // to an existing file, or a link to a file not yet there.
    const fs::path& dir = folder();
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir)) {
        fs::remove_all(entry.path(), ec);
    }
    const fs::path target = dir / "out.txt";
    const fs::path real = dir / "real.txt";
    const std::string old = "old content\r";
    const bool linked = targetKind >= 3;
    const fs::path written = linked ? real : target;
    if (targetKind == 1 || targetKind == 2 || targetKind == 3) {
        std::ofstream(written, std::ios::binary) << old;
    }
    if (targetKind == 2) {
        fs::create_hard_link(target, dir / "second.txt");
    }
    if (linked) {
        fs::create_symlink("real.txt", target);
    }
    const bool existed = fs::exists(written);
    std::vector<std::string> before = namesIn(dir);

    const quillon::WriteResult result = quillon::writeFileSafely(target, *text, &ops);
    FUZZ_CHECK(result.ok == result.error.empty());
    if (ops.kind == FaultyOps::None) {
        FUZZ_CHECK(result.ok);
    }
    const std::vector<std::string> after = namesIn(dir);
    if (result.ok) {
        FUZZ_CHECK(contentOf(written) == *text);
        if (targetKind == 2) {
            FUZZ_CHECK(contentOf(dir / "second.txt") == *text);
        }
        if (!existed) {
            before.push_back(written.filename().string());
            std::sort(before.begin(), before.end());
        }
    } else if (existed) {
        FUZZ_CHECK(contentOf(written) == old);
    }
    FUZZ_CHECK(after == before);
    if (linked) {
        FUZZ_CHECK(fs::is_symlink(target));
    }
    return 0;
}
