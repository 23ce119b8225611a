#include "export/fileWriter.h"
#include "support/core_join.h"

#include "support/core_files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using quillon::FileOps;
using quillon::writeFileSafely;

namespace {

using quillon::testing::join;

// A temporary folder that can list what it holds.
class TempFolder : public quillon::testing::TempFolder {
public:
    std::vector<std::string> names() const {
        std::vector<std::string> result;
        for (const auto& entry : fs::directory_iterator(path())) {
            result.push_back(entry.path().filename().string());
        }
        std::sort(result.begin(), result.end());
        return result;
    }
};

using quillon::testing::readAll;

void writePlain(const fs::path& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

std::string reason(int err) {
    return std::strerror(err);
}

TEST(WriteFileSafely, CreatesANewFile) {
    TempFolder dir;
    const auto target = dir.path() / "Untitled.txt";
    const std::string data("a@b.jp\rc@d.jp\r\0x", 16);
    const auto result = writeFileSafely(target, data);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(readAll(target), data);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"Untitled.txt"});
}

TEST(WriteFileSafely, ReplacesTheWholeContentAndKeepsPermissions) {
    TempFolder dir;
    const auto target = dir.path() / "list.txt";
    writePlain(target, "a much longer old content that must not leave a tail");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    const auto result = writeFileSafely(target, "new");
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(readAll(target), "new");
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640U);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"list.txt"});
}

TEST(WriteFileSafely, ReadOnlyTargetIsNotReplaced) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root may write any file";
    }
    TempFolder dir;
    const auto target = dir.path() / "locked.txt";
    writePlain(target, "old");
    ASSERT_EQ(::chmod(target.c_str(), 0444), 0);
    const auto result = writeFileSafely(target, "new");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, reason(EACCES));
    EXPECT_EQ(readAll(target), "old");
}

TEST(WriteFileSafely, WritesThroughASymbolicLink) {
    TempFolder dir;
    const auto real = dir.path() / "real.txt";
    const auto link = dir.path() / "link.txt";
    writePlain(real, "old");
    fs::create_symlink(real, link);
    ASSERT_TRUE(writeFileSafely(link, "new").ok);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readAll(real), "new");
}

TEST(WriteFileSafely, MissingFolderIsAnError) {
    TempFolder dir;
    const auto result = writeFileSafely(dir.path() / "missing" / "x.txt", "data");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, reason(ENOENT));
    EXPECT_EQ(result.errorNumber, ENOENT);
    EXPECT_TRUE(dir.names().empty());
}

TEST(WriteFileSafely, FolderAsTargetIsAnError) {
    TempFolder dir;
    fs::create_directory(dir.path() / "sub");
    const auto result = writeFileSafely(dir.path() / "sub", "data");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, reason(EISDIR));
    EXPECT_TRUE(fs::is_directory(dir.path() / "sub"));
}

// Passes everything to POSIX, except what a test overrides.
class ScriptedOps : public FileOps {
public:
    std::function<long(int, const void*, unsigned long)> onWrite;
    std::function<int(const char*, const char*)> onRename;
    std::function<int(int)> onFsync;
    std::function<int(const char*, int, int)> onOpen;
    int open(const char* path, int flags, int mode) override {
        return onOpen ? onOpen(path, flags, mode) : FileOps::open(path, flags, mode);
    }
    long write(int fd, const void* data, unsigned long size) override {
        return onWrite ? onWrite(fd, data, size) : FileOps::write(fd, data, size);
    }
    int rename(const char* from, const char* to) override {
        return onRename ? onRename(from, to) : FileOps::rename(from, to);
    }
    int fsync(int fd) override { return onFsync ? onFsync(fd) : FileOps::fsync(fd); }
};

struct FailureCase {
    const char* name;
    int err;
    std::function<void(ScriptedOps&)> script;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class WriteFailureTest : public ::testing::TestWithParam<FailureCase> {};

// New, replaced, and (with a second hard link) rewritten in place: a failed
// write leaves every name of the target as it was and no temporary file.
TEST_P(WriteFailureTest, LeavesTheTargetAndNoTemporaryFile) {
    const auto& c = GetParam();
    for (const char* kind : {"new", "existing", "hardLinked"}) {
        SCOPED_TRACE(kind);
        const std::string k = kind;
        if (k == "hardLinked" && std::string_view(c.name) == "FailingRename") {
            continue; // writing in place renames nothing
        }
        TempFolder dir;
        const auto target = dir.path() / "out.txt";
        std::vector<std::string> names;
        if (k != "new") {
            writePlain(target, "old content");
            names.push_back("out.txt");
        }
        if (k == "hardLinked") {
            fs::create_hard_link(target, dir.path() / "other.txt");
            names.insert(names.begin(), "other.txt");
        }
        ScriptedOps ops;
        c.script(ops);
        const auto result = writeFileSafely(target, std::string(10000, 'x'), &ops);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, reason(c.err));
        EXPECT_EQ(result.errorNumber, c.err);
        EXPECT_EQ(dir.names(), names);
        for (const auto& name : names) {
            EXPECT_EQ(readAll(dir.path() / name), "old content");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, WriteFailureTest,
    ::testing::Values(FailureCase{"FullDiskAfterSomeBytes", ENOSPC,
                                  [](ScriptedOps& ops) {
                                      auto left = std::make_shared<long>(4000);
                                      ops.onWrite = [left](int fd, const void* d, unsigned long n) -> long {
                                          if (*left == 0) {
                                              errno = ENOSPC;
                                              return -1;
                                          }
                                          const long k = std::min<long>(*left, static_cast<long>(n));
                                          *left -= k;
                                          return static_cast<long>(::write(fd, d, static_cast<std::size_t>(k)));
                                      };
                                  }},
                      FailureCase{"WriteFailsOnce", EIO,
                                  [](ScriptedOps& ops) {
                                      auto calls = std::make_shared<int>(0);
                                      ops.onWrite = [calls](int fd, const void* d, unsigned long n) -> long {
                                          if (++*calls == 2) {
                                              errno = EIO;
                                              return -1;
                                          }
                                          return static_cast<long>(::write(fd, d, std::min<unsigned long>(n, 999)));
                                      };
                                  }},
                      FailureCase{"FailingRename", EACCES,
                                  [](ScriptedOps& ops) {
                                      ops.onRename = [](const char*, const char*) {
                                          errno = EACCES;
                                          return -1;
                                      };
                                  }},
                      FailureCase{"FailingSync", EIO, [](ScriptedOps& ops) {
                                      ops.onFsync = [](int) {
                                          errno = EIO;
                                          return -1;
                                      };
                                  }}));

TEST(WriteFileSafely, GoesOnAfterPartialWritesAndInterruptions) {
    TempFolder dir;
    const auto target = dir.path() / "out.txt";
    ScriptedOps ops;
    int calls = 0;
    ops.onWrite = [&calls](int fd, const void* d, unsigned long n) -> long {
        if (++calls % 2 == 0) {
            errno = EINTR;
            return -1;
        }
        return static_cast<long>(::write(fd, d, std::min<unsigned long>(n, 3)));
    };
    std::string data;
    for (int i = 0; i < 100; ++i) {
        data += join("user", i, "@example.jp\r");
    }
    const auto result = writeFileSafely(target, data, &ops);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(readAll(target), data);
}

TEST(WriteFileSafely, WritesIntoAFifoWithoutReplacingIt) {
    TempFolder dir;
    const auto fifo = dir.path() / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // The reading end first, without blocking; then opening for writing does
    // not block either. The data fits in the pipe's buffer.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const std::string data = "a@b.jp,c@d.jp";
    const auto result = writeFileSafely(fifo, data);
    ASSERT_TRUE(result.ok) << result.error;
    std::string received(100, '\0');
    const auto n = ::read(reader, received.data(), received.size());
    ::close(reader);
    ASSERT_GE(n, 0);
    received.resize(static_cast<std::size_t>(n));
    EXPECT_EQ(received, data);
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(dir.names(), std::vector<std::string>{"pipe"});
}

// What a replaced file keeps, and which targets are rewritten in place.
struct KeepCase {
    const char* name;
    bool needsRoot;
    std::function<void(const fs::path& target, ScriptedOps& ops)> setUp;
    bool inPlace; // the same inode before and after
};

void PrintTo(const KeepCase& c, std::ostream* os) {
    *os << c.name;
}

class KeepTest : public ::testing::TestWithParam<KeepCase> {};

TEST_P(KeepTest, NewContentSameOwnerGroupAndMode) {
    const auto& c = GetParam();
    if (c.needsRoot && ::geteuid() != 0) {
        GTEST_SKIP() << "changing a file's owner needs root";
    }
    TempFolder dir;
    const auto target = dir.path() / "shared.txt";
    writePlain(target, std::string(5000, 'o'));
    ASSERT_EQ(::chmod(target.c_str(), 0660), 0);
    ScriptedOps ops;
    c.setUp(target, ops);
    struct stat before {};
    ASSERT_EQ(::stat(target.c_str(), &before), 0);

    const auto result = writeFileSafely(target, "a@b.jp\r", &ops);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(readAll(target), "a@b.jp\r");
    struct stat after {};
    ASSERT_EQ(::stat(target.c_str(), &after), 0);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(after.st_mode & 07777, 0660U);
    EXPECT_EQ(after.st_ino == before.st_ino, c.inPlace);
    for (const auto& name : dir.names()) {
        EXPECT_FALSE(quillon::isWriterTempName(name)) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, KeepTest,
                         ::testing::Values(KeepCase{"AnotherUsersFile", true,
                                                    [](const fs::path& file, ScriptedOps&) {
                                                        ASSERT_EQ(::chown(file.c_str(), 4321, 8765), 0);
                                                    },
                                                    false},
                                           KeepCase{"OtherHardLinks", false,
                                                    [](const fs::path& file, ScriptedOps&) {
                                                        fs::create_hard_link(file, file.parent_path() / "second.txt");
                                                    },
                                                    true},
                                           KeepCase{"FolderTakesNoNewFile", false,
                                                    [](const fs::path&, ScriptedOps& ops) {
                                                        ops.onOpen = [](const char* path, int flags, int mode) {
                                                            if ((flags & O_CREAT) != 0 ||
                                                                (flags & O_TMPFILE) == O_TMPFILE) {
                                                                errno = EACCES;
                                                                return -1;
                                                            }
                                                            return ::open(path, flags, static_cast<mode_t>(mode));
                                                        };
                                                    },
                                                    true}),
                         [](const auto& p) { return std::string(p.param.name); });

// Targets that are not a plain file in a plain folder.
TEST(WriteFileSafely, OddTargets) {
    TempFolder dir;
    // A FIFO nobody reads: an error at once, never a wait.
    const auto fifo = dir.path() / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto started = std::chrono::steady_clock::now();
    const auto toFifo = writeFileSafely(fifo, "a@b.jp");
    EXPECT_FALSE(toFifo.ok);
    EXPECT_NE(toFifo.error.find("named pipe"), std::string::npos) << toFifo.error;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));

    // A dangling link is written through to the file it names.
    fs::create_directory(dir.path() / "sub");
    const auto link = dir.path() / "link.txt";
    fs::create_symlink("sub/../sub/named.txt", link);
    ASSERT_TRUE(writeFileSafely(link, "through").ok);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readAll(dir.path() / "sub" / "named.txt"), "through");

    // Names as long as a name can be.
    for (std::size_t length : {248, 255}) {
        const auto longName = dir.path() / std::string(length, 'n');
        const auto result = writeFileSafely(longName, "long");
        EXPECT_TRUE(result.ok) << length << ": " << result.error;
        EXPECT_EQ(readAll(longName), "long");
    }
}

// Temporary files a killed write left behind go with the next write; those
// of a process that still runs, and names not of our pattern, stay.
TEST(WriteFileSafely, StaleTemporaryFilesAreRemoved) {
    TempFolder dir;
    const std::string dead = ".quillon-999999999-Ab3dE9";
    const std::string live = ".quillon-" + std::to_string(::getppid()) + "-Zz0000";
    for (const auto& name : {dead, live, std::string(".quillon-notes"), std::string(".quillon-12-short")}) {
        writePlain(dir.path() / name, "left");
    }
    ASSERT_TRUE(writeFileSafely(dir.path() / "out.txt", "x").ok);
    std::vector<std::string> kept{".quillon-12-short", live, ".quillon-notes", "out.txt"};
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(dir.names(), kept);
    EXPECT_TRUE(quillon::isWriterTempName(dead));
    EXPECT_FALSE(quillon::isWriterTempName(".quillon-12-short"));
}

TEST(WriteFileSafely, FifoWithoutAReaderFailsAtOnce) {
    TempFolder dir;
    const auto fifo = dir.path() / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto result = writeFileSafely(fifo, "a@b.jp"); // must not wait for a reader
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.errorNumber, ENXIO);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"pipe"});
}

} // namespace
