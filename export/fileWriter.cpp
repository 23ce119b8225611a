#include "export/fileWriter.h"

#include <cerrno>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace quillon {

int FileOps::open(const char* path, int flags, int mode) {
    return ::open(path, flags, static_cast<mode_t>(mode));
}

long FileOps::write(int fd, const void* data, unsigned long size) {
    return static_cast<long>(::write(fd, data, size));
}

int FileOps::fsync(int fd) {
    return ::fsync(fd);
}

int FileOps::close(int fd) {
    return ::close(fd);
}

int FileOps::rename(const char* from, const char* to) {
    return ::rename(from, to);
}

int FileOps::unlink(const char* path) {
    return ::unlink(path);
}

namespace {

WriteResult failure(int err) {
    return {false, std::system_category().message(err), err};
}

// Writes all of `data`, going on after partial writes and interruptions.
// Returns 0 or the errno of the failure.
int writeAll(FileOps& io, int fd, std::string_view data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const long n = io.write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (n == 0) {
            return EIO; // no progress and no reason: give up rather than spin
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

std::string randomSuffix() {
    static constexpr std::string_view kChars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 engine{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, kChars.size() - 1);
    std::string suffix(6, '\0');
    for (auto& c : suffix) {
        c = kChars[pick(engine)];
    }
    return suffix;
}

// A device, a FIFO or another special file: written in place, never replaced.
WriteResult writeDirect(FileOps& io, const std::filesystem::path& path, std::string_view data) {
    // Opened without blocking, so that a FIFO without a reader gives ENXIO
    // instead of waiting for one; the writes then block as usual.
    const int fd = io.open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0);
    if (fd < 0) {
        return failure(errno);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        static_cast<void>(::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK));
    }
    const int err = writeAll(io, fd, data);
    if (io.close(fd) != 0 && err == 0) {
        return failure(errno);
    }
    return err == 0 ? WriteResult{true, {}} : failure(err);
}

} // namespace

WriteResult writeFileSafely(const std::filesystem::path& target, std::string_view data, FileOps* ops) {
    FileOps posix;
    FileOps& io = ops != nullptr ? *ops : posix;

    // A symbolic link is written through: the file it names is replaced and
    // the link stays.
    std::filesystem::path path = target;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        std::error_code ec;
        auto resolved = std::filesystem::canonical(path, ec);
        if (!ec) {
            path = std::move(resolved);
        }
    }
    bool exists = false;
    if (::stat(path.c_str(), &st) == 0) {
        exists = true;
    } else if (errno != ENOENT) {
        return failure(errno);
    }
    if (exists && S_ISDIR(st.st_mode)) {
        return failure(EISDIR);
    }
    if (exists && !S_ISREG(st.st_mode)) {
        return writeDirect(io, path, data);
    }
    // A file the user may not write is not replaced behind its back by the
    // rename (which needs only the folder's permission).
    if (exists && ::access(path.c_str(), W_OK) != 0) {
        return failure(errno);
    }

    // A new temporary file beside the target, so that the rename stays on one
    // file system and replaces the target in one step.
    std::filesystem::path temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        std::string name(1, '.');
        name += path.filename().string();
        name += '.';
        name += randomSuffix();
        temp = path.parent_path() / name;
        fd = io.open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, exists ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST) {
            return failure(errno);
        }
    }
    if (fd < 0) {
        return failure(EEXIST);
    }
    if (exists) {
        // The replaced file keeps its permission bits (best effort).
        static_cast<void>(::fchmod(fd, st.st_mode & 07777));
    }

    int err = writeAll(io, fd, data);
    if (err == 0 && io.fsync(fd) != 0) {
        err = errno;
    }
    if (io.close(fd) != 0 && err == 0) {
        err = errno;
    }
    if (err == 0 && io.rename(temp.c_str(), path.c_str()) != 0) {
        err = errno;
    }
    if (err != 0) {
        io.unlink(temp.c_str());
        return failure(err);
    }
    return {true, {}};
}

} // namespace quillon
