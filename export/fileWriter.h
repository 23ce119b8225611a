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
// half-written file in its place.
//
// The bytes go to a new file in the same folder (unnamed where the file
// system allows it), are flushed to disk, and the new file is renamed over
// the target, which keeps its mode, owner and group. Where the replacement
// could not keep them (another user's file, a file with other hard links, a
// folder we may not write in) the target is rewritten in place instead: its
// old content is kept in memory until the new content is on disk and put
// back when the write fails.
//
// A symbolic link is written through, also one that names a file not yet
// there. A target that exists and is not a regular file (a device, a FIFO) is
// written directly and never waited for: a FIFO nobody reads is an error.
// Hidden temporary files that an earlier, killed write left in the folder are
// removed.
WriteResult writeFileSafely(const std::filesystem::path& target, std::string_view data, FileOps* ops = nullptr);

// The name pattern of the writer's temporary files: ".quillon-" followed by a
// process id, "-" and six letters or digits. Short whatever the target's name.
bool isWriterTempName(std::string_view name);

} // namespace quillon
