#include "export/fileWriter.h"
#include "support/core_join.h"

#include "support/core_files.h"

#include <gtest/gtest.h>

#include <cerrno>
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

TEST_P(WriteFailureTest, LeavesTheTargetAndNoTemporaryFile) {
    const auto& c = GetParam();
    for (bool targetExists : {true, false}) {
        TempFolder dir;
        const auto target = dir.path() / "out.txt";
        if (targetExists) {
            writePlain(target, "old content");
        }
        ScriptedOps ops;
        c.script(ops);
        const auto result = writeFileSafely(target, std::string(10000, 'x'), &ops);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, reason(c.err));
        EXPECT_EQ(result.errorNumber, c.err);
        if (targetExists) {
            EXPECT_EQ(readAll(target), "old content");
            EXPECT_EQ(dir.names(), std::vector<std::string>{"out.txt"});
        } else {
            EXPECT_TRUE(dir.names().empty());
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
