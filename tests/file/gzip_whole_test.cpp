// Large gzip data is inflated whole at once when memory allows. Whether it is or not
// must not show in anything the front delivers or says: the same files, read in the
// boot's orders of calls, give the same results and the same log with room for the
// whole data and without it, intact or damaged in any way.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "file/gzip_file_manager.h"
#include "support/cache_watch.h"
#include "support/memory_backend.h"
#include "support/test_data.h"
#include "gzip_card.h"

using namespace quorvel;
using testing_support::MemoryBackend;
using testing_support::TempDir;
using testing_support::gzipTool;
using testing_support::randomData;
using testing_support::textData;

namespace {

constexpr std::uint32_t MB = 1u << 20;
constexpr std::uint32_t PIECE = 4080;  // what the loader reads into one page

std::string flippedAt(std::string bytes, std::size_t at, std::uint8_t mask) {
    bytes[at] = static_cast<char>(bytes[at] ^ mask);
    return bytes;
}

struct Variant {
    const char* label;
    std::string stored;
};

std::vector<Variant> variants() {
    TempDir work;
    const std::string text = textData(3 * MB + 777, 91);
    const std::string member = gzipTool(work.path(), text);
    const std::string second = gzipTool(work.path(), textData(MB + 5, 92));
    const std::string stored = gzipTool(work.path(), randomData(2 * MB, 93));  // stored blocks
    const std::size_t n = member.size();
    return {
        {"intact", member},
        {"stored blocks", stored},
        {"two members", member + second},
        {"zeros after the trailer", member + std::string(512, '\0')},
        {"crc", flippedAt(member, n - 8, 0x01)},
        {"length", flippedAt(member, n - 3, 0x01)},
        {"trailer cut short", member.substr(0, n - 3)},
        {"deflate data cut short", member.substr(0, n / 2)},
        {"flipped deflate byte", flippedAt(member, n / 3, 0x10)},
        {"flipped byte in a stored block", flippedAt(stored, stored.size() / 2, 0x01)},
    };
}

// What one order of calls saw: every result, the bytes delivered, the log.
struct Seen {
    std::vector<std::int64_t> results;
    std::string delivered;
    std::string log;
};

using Order = std::function<void(GzipFileManager&, std::uint32_t n, Seen&)>;

// Reads on in loader-sized pieces until the end or an error: the last result.
std::int32_t readToEnd(GzipFileManager& file, std::string& all) {
    std::string buffer(PIECE, '\0');
    std::int32_t got;
    while ((got = file.read(buffer.data(), PIECE)) > 0) all.append(buffer, 0, static_cast<std::size_t>(got));
    return got;
}

void readAt(GzipFileManager& file, std::int32_t offset, std::uint32_t length, Seen& seen) {
    std::string buffer(length, '\0');
    const std::int32_t got = file.read(buffer.data(), length, offset);
    seen.results.push_back(got);
    if (got > 0) seen.delivered.append(buffer, 0, static_cast<std::size_t>(got));
}

const struct {
    const char* name;
    Order run;
} orders[] = {
    {"elf loader",
     [](GzipFileManager& file, std::uint32_t n, Seen& seen) {
         readAt(file, 0, 52, seen);
         readAt(file, 0, 52, seen);
         readAt(file, static_cast<std::int32_t>(n - 400), 400, seen);
         for (std::uint32_t at = 4096; at < n - 1200; at += PIECE) readAt(file, static_cast<std::int32_t>(at), PIECE, seen);
         readAt(file, static_cast<std::int32_t>(n - 1100), 300, seen);
         seen.results.push_back(file.size());
     }},
    {"in order to the end",
     [](GzipFileManager& file, std::uint32_t, Seen& seen) {
         for (int i = 0; i < 4000 && (seen.results.empty() || seen.results.back() > 0); ++i) readAt(file, -1, PIECE, seen);
         seen.results.push_back(file.size());
     }},
    {"seek first, then size",
     [](GzipFileManager& file, std::uint32_t n, Seen& seen) {
         seen.results.push_back(file.seek(n / 2));
         readAt(file, -1, 1000, seen);
         seen.results.push_back(file.size());
         readAt(file, 10, 100, seen);
     }},
};

class GzipWhole : public gzip_card::GzipCardTest {
protected:
    // From the storage card, or from a backend that holds the bytes in memory.
    Seen run(const std::string& stored, std::uint64_t limit, const Order& order, std::uint32_t n, bool held) {
        log.clear();
        std::unique_ptr<GzipFileManager> own;
        if (held) {
            auto backend = new MemoryBackend(console, stored);
            backend->holding = true;
            own = std::make_unique<GzipFileManager>(console, backend);
            EXPECT_EQ(own->open(u"kernel.gz", 3), 1);
        } else {
            put("kernel.gz", stored);
        }
        GzipFileManager& file = held ? *own : openCard("kernel.gz");
        file.setCacheLimit(limit);
        Seen seen;
        order(file, n, seen);
        file.close();
        seen.log = log.utf8();
        return seen;
    }
};

TEST_F(GzipWhole, InflatingWholeOrNotMakesNoDifference) {
    for (const Variant& v : variants()) {
        for (const auto& order : orders) {
            for (bool held : {false, true}) {
                SCOPED_TRACE(std::string(v.label) + ", " + order.name + (held ? ", held" : ""));
                const auto n = static_cast<std::uint32_t>(3 * MB);
                // Room for everything, then room for less than the data.
                const Seen whole = run(v.stored, UINT64_MAX, order.run, n, held);
                const Seen streamed = run(v.stored, MB, order.run, n, held);
                EXPECT_EQ(whole.results, streamed.results);
                EXPECT_TRUE(whole.delivered == streamed.delivered);
                EXPECT_EQ(whole.log, streamed.log);
            }
        }
    }
}

// Bytes a backend holds (a downloaded file) are inflated where they lie: after the
// header's fill and the trailer, the backend is not read again, and the data comes
// whole out of one pass, even where the room left is the data's and no more.
TEST_F(GzipWhole, BytesTheBackendHoldsAreInflatedWhereTheyLie) {
    TempDir work;
    const std::string content = randomData(2 * MB, 95);  // stored blocks: as large stored as inflated
    const std::string packed = gzipTool(work.path(), content);
    auto backend = new MemoryBackend(console, packed);
    backend->holding = true;
    GzipFileManager file(console, backend);
    testing_support::CacheWatch watch;
    file.watchCache(&watch);
    ASSERT_GT(packed.size(), content.size());
    file.setCacheLimit(content.size());
    ASSERT_EQ(file.open(u"data", 3), 1);
    std::string all;
    const std::int32_t got = readToEnd(file, all);
    EXPECT_EQ(got, 0);
    EXPECT_TRUE(all == content);
    EXPECT_EQ(backend->reads, 2);
    EXPECT_EQ(file.inflatedBytes(), content.size());
    EXPECT_EQ(watch.peak, content.size());
    EXPECT_EQ(log.utf8(), "");
}

// The bytes held are as many as the backend holds, whatever size it reports now (an
// HTTP server asked again after the download may give a file that has changed since).
TEST_F(GzipWhole, HeldBytesAreTakenAtTheirOwnLength) {
    TempDir work;
    const std::string content = textData(2 * MB + 7, 96);
    const std::string packed = gzipTool(work.path(), content);
    auto backend = new MemoryBackend(console, packed);
    backend->holding = true;
    backend->sizeSaidMore = 100000;
    GzipFileManager file(console, backend);
    ASSERT_EQ(file.open(u"data", 3), 1);
    std::string all;
    const std::int32_t got = readToEnd(file, all);
    EXPECT_EQ(got, 0);
    EXPECT_TRUE(all == content);
    EXPECT_EQ(backend->reads, 2);  // inflated whole from what it holds
    EXPECT_EQ(log.utf8(), "");
}

// Over a backend that delivers short pieces, the stored bytes are gathered all the
// same and the data is inflated once; a read that fails while they are gathered is
// an error of the file, said once, and not retried.
TEST_F(GzipWhole, TheStoredBytesComeInPiecesOrNotAtAll) {
    TempDir work;
    const std::string content = textData(2 * MB + 99, 94);
    const std::string packed = gzipTool(work.path(), content);
    for (int failing : {-1, 1, 2}) {
        SCOPED_TRACE(failing);
        log.clear();
        auto backend = new MemoryBackend(console, packed);
        backend->readLimit = 1000;
        backend->failingRead = failing;
        GzipFileManager file(console, backend);
        testing_support::CacheWatch watch;
        file.watchCache(&watch);
        ASSERT_EQ(file.open(u"data", 3), 1);
        std::string all;
        const std::int32_t got = readToEnd(file, all);
        if (failing < 0) {
            EXPECT_EQ(got, 0);
            EXPECT_TRUE(all == content);
            EXPECT_EQ(file.inflatedBytes(), content.size());
            EXPECT_EQ(watch.peak, content.size());
        } else {
            EXPECT_EQ(got, -1);
            EXPECT_TRUE(all.empty());
            EXPECT_EQ(log.utf8(), "data: read error after 0x0 bytes.\n");
            std::string buffer(PIECE, '\0');
            EXPECT_EQ(file.read(buffer.data(), PIECE, 0), -1);
        }
    }
}

}  // namespace
