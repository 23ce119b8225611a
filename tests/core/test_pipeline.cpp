#include "extract/pipeline.h"

#include "support/core_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
namespace pipeline = quillon::pipeline;

namespace {

class ReadWholeFile : public ::testing::Test {
protected:
    quillon::testing::TempFolder m_tmp;
    fs::path m_root = m_tmp.path();
};

// Sizes around the 4 MiB read chunk and the one spare byte the buffer keeps.
TEST_F(ReadWholeFile, ReadsEveryByteWhateverTheSize) {
    constexpr std::size_t kChunk = std::size_t{4} << 20;
    std::mt19937 rng(7);
    for (const std::size_t size :
         {std::size_t{0}, std::size_t{1}, std::size_t{4095}, kChunk - 1, kChunk, kChunk + 1, 2 * kChunk + 3}) {
        std::string bytes(size, '\0');
        for (char& c : bytes) {
            c = static_cast<char>(rng());
        }
        const fs::path p = m_root / ("f" + std::to_string(size));
        {
            std::ofstream out(p, std::ios::binary);
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
        const pipeline::FileRead r = pipeline::readWholeFile(p);
        ASSERT_TRUE(r.ok()) << size;
        EXPECT_EQ(r.bytes.size(), size);
        EXPECT_TRUE(r.bytes == bytes) << size;
    }
}

TEST_F(ReadWholeFile, RefusesWhatIsNotARegularFile) {
    EXPECT_EQ(pipeline::readWholeFile(m_root / "missing").error, pipeline::ReadError::NotFound);
    EXPECT_EQ(pipeline::readWholeFile(m_root).error, pipeline::ReadError::NotRegular);
    const fs::path fifo = m_root / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(pipeline::readWholeFile(fifo).error, pipeline::ReadError::NotRegular); // and does not block
}

TEST_F(ReadWholeFile, SeesTheStopFlag) {
    const fs::path p = m_root / "f";
    std::ofstream(p) << "text";
    std::atomic<bool> stop{true};
    quillon::JobContext ctx;
    ctx.stop = &stop;
    const pipeline::FileRead r = pipeline::readWholeFile(p, ctx);
    EXPECT_EQ(r.error, pipeline::ReadError::Stopped);
    EXPECT_TRUE(r.bytes.empty());
}

} // namespace
