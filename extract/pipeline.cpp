#include "extract/pipeline.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

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
                  [](const fs::directory_entry& a, const fs::directory_entry& b) {
                      // Entries of one folder: their names decide, as path order has it.
                      return a.path().native() < b.path().native();
                  });
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
        // no link: no call to the system for a file. (symlink_status() would
        // ask the system every time.) A link, or a listing without types, is
        // asked about, following links.
        const bool directory = dirEntry.is_directory(ec);
        if (ec) {
            continue; // a dangling link or an entry that vanished
        }
        if (directory) {
            enter(entry);
        } else if (dirEntry.is_regular_file(ec) && !ec) {
            onFile(entry);
        }
        ctx.yieldNow();
    }
}

} // namespace quillon::pipeline
