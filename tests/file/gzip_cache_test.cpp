// The gzip front keeps what a skip forwards inflates and reads back from it: the ELF
// loader's order of reads inflates a file once; without memory for the kept bytes
// (a limit stands in for the machine's) the front inflates again and still delivers
// the same bytes; the chunks read through are let go.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>

#include "file/gzip_file_manager.h"
#include "support/cache_watch.h"
#include "support/test_data.h"
#include "gzip_card.h"

using namespace quorvel;
using testing_support::TempDir;
using testing_support::readHostFile;
using testing_support::textData;
using testing_support::writeHostFile;

namespace {

constexpr std::uint32_t MB = 1u << 20;
constexpr std::uint64_t NO_LIMIT = UINT64_MAX;

std::string gzipTool(const TempDir& work, const std::string& bytes) {
    writeHostFile(work.path() / "data", bytes);
    std::string command = "gzip -c -n '" + (work.path() / "data").string() + "' > '" + (work.path() / "data.gz").string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return readHostFile(work.path() / "data.gz");
}

class GzipCache : public gzip_card::GzipCardTest {
protected:
    static void SetUpTestSuite() {
        TempDir work;
        content = new std::string(textData(3 * MB + 12345, 81));
        packed = new std::string(gzipTool(work, *content));
        const std::size_t half = content->size() / 2;
        twoMembers = new std::string(gzipTool(work, content->substr(0, half)) + gzipTool(work, content->substr(half)));
    }
    static void TearDownTestSuite() {
        delete content;
        delete packed;
        delete twoMembers;
    }

    GzipFileManager& openLimited(std::uint64_t limit, const std::string* stored = packed) {
        put("kernel.gz", *stored);
        GzipFileManager& file = openCard("kernel.gz");
        file.setCacheLimit(limit);
        watch = {};
        file.watchCache(&watch);
        return file;
    }

    void readAt(GzipFileManager& file, std::uint32_t offset, std::uint32_t length) {
        std::string buffer(length, '\0');
        ASSERT_EQ(file.read(buffer.data(), length, static_cast<std::int32_t>(offset)), static_cast<std::int32_t>(length))
            << "at " << offset;
        ASSERT_TRUE(buffer == content->substr(offset, length)) << "at " << offset;
    }

    // The loader's order: the header twice (format probe, then the loader), the
    // program headers, the section headers at the end, the section names just before
    // them, every segment from the start in page-sized pieces, the symbol and string
    // tables, and on to the end of the data.
    void elfPattern(GzipFileManager& file) {
        const std::uint32_t n = static_cast<std::uint32_t>(content->size());
        readAt(file, 0, 52);
        readAt(file, 0, 52);
        readAt(file, 52, 64);
        readAt(file, n - 400, 400);
        readAt(file, n - 500, 68);
        for (std::uint32_t at = 4096; at < n - 1200; at += 4080) readAt(file, at, std::min<std::uint32_t>(4080, n - 1200 - at));
        readAt(file, n - 1100, 300);
        readAt(file, n - 800, 200);
        char more;
        EXPECT_EQ(file.read(&more, 1, static_cast<std::int32_t>(n)), 0);
    }

    testing_support::CacheWatch watch;
    static std::string* content;
    static std::string* packed;
    static std::string* twoMembers;
};
std::string* GzipCache::content = nullptr;
std::string* GzipCache::packed = nullptr;
std::string* GzipCache::twoMembers = nullptr;

TEST_F(GzipCache, TheElfLoadersPatternInflatesTheFileOnceAndLetsTheChunksGo) {
    // Data of one member is inflated whole into one block at the first read, held
    // until the file is closed; data of two members is kept chunk by chunk as the
    // stream passes.
    const std::uint64_t n = content->size();
    GzipFileManager& whole = openLimited(NO_LIMIT);
    elfPattern(whole);
    EXPECT_EQ(whole.inflatedBytes(), n);
    EXPECT_EQ(watch.peak, n);
    EXPECT_EQ(watch.bytes, n);
    EXPECT_EQ(whole.close(), 1);
    EXPECT_EQ(watch.bytes, 0u);

    GzipFileManager& chunked = openLimited(NO_LIMIT, twoMembers);
    elfPattern(chunked);
    EXPECT_EQ(chunked.inflatedBytes(), n);
    // The skip kept nearly the whole file; the segments read through let it go, all but
    // the chunks at the ends of the runs.
    EXPECT_GE(watch.peak, n - 4096 - GZIP_CACHE_CHUNK);
    EXPECT_LE(watch.bytes, 4u * GZIP_CACHE_CHUNK);
    EXPECT_EQ(chunked.close(), 1);
    EXPECT_EQ(watch.bytes, 0u);
}

// Limits below the file: the kept bytes are dropped where the limit is met, and going
// back inflates again as it did before any were kept.
TEST_F(GzipCache, WithoutMemoryForTheChunksTheSameBytesComeByInflatingAgain) {
    const std::uint64_t n = content->size();
    for (std::uint64_t limit : {std::uint64_t{0}, std::uint64_t{GZIP_CACHE_CHUNK - 1}, std::uint64_t{MB}}) {
        SCOPED_TRACE(limit);
        GzipFileManager& file = openLimited(limit);
        elfPattern(file);
        EXPECT_GE(file.inflatedBytes(), 2 * n - 8192);
        EXPECT_EQ(watch.bytes, 0u);
        EXPECT_LE(watch.peak, limit);
        file.close();
    }
}

// Reads anywhere, of any length, long skips among them, without size(): whatever
// mix of kept bytes and stream each read takes, it delivers the data.
TEST_F(GzipCache, RandomReadsDeliverTheData) {
    const std::uint32_t n = static_cast<std::uint32_t>(content->size());
    for (std::uint64_t limit : {NO_LIMIT, std::uint64_t{256} << 10}) {
        SCOPED_TRACE(limit);
        GzipFileManager& file = openLimited(limit);
        std::mt19937 random(83);
        std::uint32_t position = 0;
        for (int step = 0; step < 400; ++step) {
            SCOPED_TRACE(step);
            const bool sequential = random() % 3 == 0;
            const std::uint32_t at = sequential ? position : static_cast<std::uint32_t>(random() % (n + 1));
            const auto length = static_cast<std::uint32_t>(random() % 4 == 0 ? random() % 200000 : random() % 5000);
            std::string buffer(length, '\0');
            const std::int32_t got = file.read(buffer.data(), length, sequential ? -1 : static_cast<std::int32_t>(at));
            ASSERT_EQ(got, static_cast<std::int32_t>(std::min(length, n - at)));
            ASSERT_TRUE(buffer.compare(0, static_cast<std::size_t>(got), *content, at, static_cast<std::size_t>(got)) == 0);
            position = at + static_cast<std::uint32_t>(got);
        }
        file.close();
    }
}

// A reader that asks the length reads on in order, as the image is loaded: nothing
// more is kept for it, and the length and the data are still right.
TEST_F(GzipCache, SizeEndsTheKeeping) {
    GzipFileManager& file = openLimited(NO_LIMIT);
    const std::uint32_t n = static_cast<std::uint32_t>(content->size());
    readAt(file, 0, 100);
    readAt(file, MB, 100);  // a skip: what lies before is kept
    const std::uint64_t kept = watch.bytes;
    EXPECT_GE(kept, MB);
    readAt(file, 50, 100);  // from the kept bytes
    EXPECT_EQ(file.size(), n - 150);
    readAt(file, 2 * MB, 1000);
    readAt(file, 150, 100);
    EXPECT_LE(watch.bytes, kept);
}

}  // namespace
