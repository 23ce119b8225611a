#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace quillon {

// The low-level file operations the writer uses, so tests can simulate a full
// disk or a failing rename. The default forwards to POSIX.
class FileOps {
public:
    virtual ~FileOps() = default;
    // Same contracts as the POSIX calls of the same names.
    virtual int open(const char* path, int flags, int mode);
    virtual long write(int fd, const void* data, unsigned long size);
    virtual int fsync(int fd);
    virtual int close(int fd);
    virtual int rename(const char* from, const char* to);
    virtual int unlink(const char* path);
};

struct WriteResult {
    bool ok = false;
    std::string error;   // the reason in words (the system's), when !ok
    int errorNumber = 0; // the errno of the failure, when !ok
};

// Writes `data` as the whole content of `target` without ever leaving a
// half-written file in its place: the bytes go to a temporary file in the same
// folder, which is then renamed over the target. A target that exists and is
// not a regular file (a device, a FIFO) is written directly instead; a FIFO
// that no program reads fails at once (ENXIO) instead of waiting. On
// failure the temporary file is removed and an existing target is untouched.
WriteResult writeFileSafely(const std::filesystem::path& target, std::string_view data, FileOps* ops = nullptr);

} // namespace quillon
