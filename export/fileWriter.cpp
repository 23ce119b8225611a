#include "export/fileWriter.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace quillon {

namespace fs = std::filesystem;

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

constexpr std::string_view kTempPrefix = ".quillon-";
constexpr std::string_view kTempChars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kTempRandom = 6;
// A temporary file of a process that still runs is left alone unless it is
// older than this (its process id may have been taken by another program).
constexpr std::time_t kStaleAfterSeconds = 24 * 60 * 60;
// A device or FIFO that takes no byte for this long is given up.
constexpr int kDeviceWaitMs = 30000;

WriteResult failure(int err) {
    return {false, std::system_category().message(err), err};
}

// Writes all of `data`, going on after partial writes and interruptions. A
// descriptor opened without blocking is waited for, but not for ever.
// Returns 0 or the errno of the failure.
int writeAll(FileOps& io, int fd, std::string_view data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const long n = io.write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                pollfd p{fd, POLLOUT, 0};
                const int ready = ::poll(&p, 1, kDeviceWaitMs);
                if (ready == 0) {
                    return ETIMEDOUT;
                }
                if (ready < 0 && errno != EINTR) {
                    return errno;
                }
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

fs::path folderOf(const fs::path& path) {
    return path.has_parent_path() ? path.parent_path() : fs::path(".");
}

// Follows symbolic links one at a time to the path that is to be written:
// the file the last link names, whether it exists or not. Returns 0 or an
// errno.
int resolveLinks(fs::path& path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return 0;
        }
        std::error_code ec;
        const fs::path next = fs::read_symlink(path, ec);
        if (ec) {
            return ec.value();
        }
        path = next.is_absolute() ? next : folderOf(path) / next;
    }
    return ELOOP;
}

std::string tempName() {
    thread_local std::mt19937 engine{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, kTempChars.size() - 1);
    std::string name(kTempPrefix);
    name += std::to_string(::getpid());
    name += '-';
    for (std::size_t i = 0; i < kTempRandom; ++i) {
        name += kTempChars[pick(engine)];
    }
    return name;
}

// The process id in a temporary name of ours, or 0.
pid_t tempOwner(std::string_view name) {
    if (!isWriterTempName(name)) {
        return 0;
    }
    name.remove_prefix(kTempPrefix.size());
    pid_t pid = 0;
    for (const char c : name.substr(0, name.size() - kTempRandom - 1)) {
        pid = pid * 10 + (c - '0');
    }
    return pid;
}

// Removes the temporary files of ours that a write killed before its rename
// left behind: those of processes that no longer run, and old ones.
void removeStaleTemps(const fs::path& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return;
    }
    const std::time_t now = std::time(nullptr);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        const pid_t pid = tempOwner(name);
        if (pid <= 0 || pid == ::getpid()) {
            continue;
        }
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::geteuid()) {
            continue;
        }
        const bool gone = ::kill(pid, 0) != 0 && errno == ESRCH;
        if (gone || now - st.st_mtime > kStaleAfterSeconds) {
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
        }
    }
    ::closedir(dir);
}

void syncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        static_cast<void>(::fsync(fd));
        ::close(fd);
    }
}

// A device, a FIFO or another special file: written where it is, never
// replaced, never waited for when nobody reads it.
WriteResult writeDirect(FileOps& io, const fs::path& path, bool fifo, std::string_view data) {
    const int fd = io.open(path.c_str(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0);
    if (fd < 0) {
        if (errno == ENXIO && fifo) {
            return {false, "no program is reading from this named pipe", ENXIO};
        }
        return failure(errno);
    }
    const int err = writeAll(io, fd, data);
    if (io.close(fd) != 0 && err == 0) {
        return failure(errno);
    }
    return err == 0 ? WriteResult{true, {}} : failure(err);
}

// Reads what a descriptor holds from its first byte; false on a read error.
bool readFrom(int fd, std::string& out) {
    out.clear();
    char buf[1 << 16];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buf, sizeof buf, at);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            return true;
        }
        out.append(buf, static_cast<std::size_t>(n));
        at += n;
    }
}

// Rewrites a regular file in place, for when replacing it would lose its
// owner, its group or its other hard links, or the folder cannot take a new
// file. The old content stays in memory until the new one is on disk and is
// written back when the new one cannot be.
WriteResult writeInPlace(FileOps& io, const fs::path& path, std::string_view data) {
    const int fd = io.open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0);
    if (fd < 0) {
        return failure(errno);
    }
    std::string old;
    if (!readFrom(fd, old)) {
        const int err = errno;
        io.close(fd);
        return failure(err);
    }
    // Claim the room first: a full disk then shows before a byte changes.
    if (data.size() > old.size()) {
        const int err = ::posix_fallocate(fd, 0, static_cast<off_t>(data.size()));
        if (err != 0 && err != EOPNOTSUPP && err != EINVAL) {
            static_cast<void>(::ftruncate(fd, static_cast<off_t>(old.size())));
            io.close(fd);
            return failure(err);
        }
    }
    int err = ::lseek(fd, 0, SEEK_SET) == 0 ? writeAll(io, fd, data) : errno;
    if (err == 0 && ::ftruncate(fd, static_cast<off_t>(data.size())) != 0) {
        err = errno;
    }
    if (err == 0 && io.fsync(fd) != 0) {
        err = errno;
    }
    if (err != 0) {
        // The old bytes go back over room the file already holds, straight
        // to the system.
        FileOps posix;
        bool restored = ::lseek(fd, 0, SEEK_SET) == 0 && writeAll(posix, fd, old) == 0;
        restored = ::ftruncate(fd, static_cast<off_t>(old.size())) == 0 && restored;
        restored = ::fsync(fd) == 0 && restored;
        io.close(fd);
        WriteResult result = failure(err);
        if (!restored) {
            result.error += " (the old content could not be put back)";
        }
        return result;
    }
    // The new content is on disk: a failing close changes nothing of that.
    io.close(fd);
    return {true, {}};
}

// A new file in `folder` for the content: unnamed where the file system
// allows it (nothing is left behind if the process dies), otherwise with a
// temporary name of our pattern. Returns the descriptor or -1 with errno set.
int createTemp(FileOps& io, const fs::path& folder, int mode, bool tryUnnamed, bool& unnamed, fs::path& temp) {
#ifdef O_TMPFILE
    if (tryUnnamed) {
        const int fd = io.open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
        if (fd >= 0) {
            unnamed = true;
            return fd;
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            return -1;
        }
    }
#endif
    unnamed = false;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = folder / tempName();
        const int named = io.open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (named >= 0 || errno != EEXIST) {
            return named;
        }
    }
    errno = EEXIST;
    return -1;
}

// Gives an unnamed file a temporary name in `folder`. Returns 0 or an errno.
int nameTemp(int fd, const fs::path& folder, fs::path& temp) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = folder / tempName();
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            return 0;
        }
        if (errno == EEXIST) {
            continue;
        }
#ifdef AT_EMPTY_PATH
        if (::linkat(fd, "", AT_FDCWD, temp.c_str(), AT_EMPTY_PATH) == 0) {
            return 0;
        }
#endif
        return errno;
    }
    return EEXIST;
}

bool folderRefusesNewFiles(int err) {
    return err == EACCES || err == EPERM;
}

// Replaces the regular file at `path` (or creates it) by a new file that
// holds `data`, renamed over it once it is on disk.
WriteResult replace(FileOps& io, const fs::path& path, const struct stat& st, bool exists, std::string_view data,
                    bool tryUnnamed) {
    const fs::path folder = folderOf(path);
    bool unnamed = false;
    fs::path temp;
    const int fd = createTemp(io, folder, exists ? 0600 : 0666, tryUnnamed, unnamed, temp);
    if (fd < 0) {
        const int err = errno;
        if (exists && folderRefusesNewFiles(err)) {
            return writeInPlace(io, path, data);
        }
        return failure(err);
    }
    const auto discard = [&] {
        io.close(fd);
        if (!unnamed) {
            io.unlink(temp.c_str());
        }
    };
    if (exists) {
        // The replacement keeps the owner, the group and then the mode (a
        // change of owner clears the set-id bits); where the system does not
        // allow that, the file is rewritten in place.
        struct stat made {};
        if (::fstat(fd, &made) != 0) {
            const int err = errno;
            discard();
            return failure(err);
        }
        if ((made.st_uid != st.st_uid || made.st_gid != st.st_gid) && ::fchown(fd, st.st_uid, st.st_gid) != 0) {
            discard();
            return writeInPlace(io, path, data);
        }
        static_cast<void>(::fchmod(fd, st.st_mode & 07777));
    }

    int err = writeAll(io, fd, data);
    if (err == 0 && io.fsync(fd) != 0) {
        err = errno;
    }
    if (err == 0 && unnamed) {
        err = nameTemp(fd, folder, temp);
        if (err == 0) {
            unnamed = false;
        } else {
            // No way to give it a name: write it again as a named file.
            io.close(fd);
            return replace(io, path, st, exists, data, false);
        }
    }
    if (io.close(fd) != 0 && err == 0) {
        err = errno;
    }
    if (err == 0 && io.rename(temp.c_str(), path.c_str()) != 0) {
        err = errno;
    }
    if (err != 0) {
        if (!unnamed) {
            io.unlink(temp.c_str());
        }
        return failure(err);
    }
    syncFolder(folder);
    return {true, {}};
}

} // namespace

bool isWriterTempName(std::string_view name) {
    if (name.size() < kTempPrefix.size() + 1 + 1 + kTempRandom || name.substr(0, kTempPrefix.size()) != kTempPrefix) {
        return false;
    }
    const std::string_view pid = name.substr(kTempPrefix.size(), name.size() - kTempPrefix.size() - kTempRandom - 1);
    if (pid.size() > 9 || name[name.size() - kTempRandom - 1] != '-') {
        return false;
    }
    for (const char c : pid) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    for (const char c : name.substr(name.size() - kTempRandom)) {
        if (kTempChars.find(c) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

WriteResult writeFileSafely(const fs::path& target, std::string_view data, FileOps* ops) {
    FileOps posix;
    FileOps& io = ops != nullptr ? *ops : posix;

    // A symbolic link is written through: the file it names is replaced (or
    // created) and the link stays.
    fs::path path = target;
    if (const int err = resolveLinks(path); err != 0) {
        return failure(err);
    }
    struct stat st {};
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
        return writeDirect(io, path, S_ISFIFO(st.st_mode), data);
    }
    // A file the user may not write is not replaced behind its back by the
    // rename (which needs only the folder's permission).
    if (exists && ::access(path.c_str(), W_OK) != 0) {
        return failure(errno);
    }
    const fs::path folder = folderOf(path);
    removeStaleTemps(folder);
    // Another name of the same file would keep the old content.
    if (exists && st.st_nlink > 1) {
        return writeInPlace(io, path, data);
    }

    return replace(io, path, st, exists, data, true);
}

} // namespace quillon
