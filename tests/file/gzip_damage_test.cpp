// Damaged gzip files made from the gzip tool's output, read in each order of calls the
// boot uses: none ever ends cleanly, size() never gives a length, and once the damage
// is met it is not forgotten by going back. Also the front over a backend the caller
// gives it, whose failures must stick the same way.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "console/console.h"
#include "file/gzip_file_manager.h"
#include "support/case_names.h"
#include "support/device.h"
#include "support/log_capture.h"
#include "support/memory_backend.h"
#include "support/test_data.h"
#include "gzip_card.h"

using namespace quorvel;
using testing_support::MemoryBackend;
using testing_support::TempDir;
using testing_support::randomData;
using testing_support::gzipTool;
using testing_support::readHostFile;
using testing_support::textData;
using testing_support::writeHostFile;

namespace {

constexpr std::uint32_t CHUNK = 4080;  // what the loader reads into one page

std::string flippedAt(std::string bytes, std::size_t at, std::uint8_t mask = 0x01) {
    bytes[at] = static_cast<char>(bytes[at] ^ mask);
    return bytes;
}

struct Damaged {
    std::string label;
    std::string stored;
    std::string content;  // what the intact file would deliver
    bool prefixIntact;    // whatever is delivered before the error is the content's start
};

// The damaged files, each from real gzip output.
std::vector<Damaged> damagedFiles() {
    TempDir work;
    const std::string text = textData(150000, 61);
    const std::string member = gzipTool(work.path(), text);
    // Incompressible data: gzip stores it in stored blocks.
    const std::string random = randomData(120000, 62);
    const std::string stored = gzipTool(work.path(), random);
    const std::string second = textData(60000, 63);
    const std::string secondMember = gzipTool(work.path(), second);
    const std::size_t n = member.size();
    return {
        {"crc", flippedAt(member, n - 8), text, true},
        {"length", flippedAt(member, n - 2), text, true},
        {"trailer missing", member.substr(0, n - 8), text, true},
        {"trailer cut short", member.substr(0, n - 3), text, true},
        {"cut inside the header", member.substr(0, 6), text, true},
        {"cut inside the deflate data", member.substr(0, n / 2), text, true},
        {"cut inside a stored block", stored.substr(0, stored.size() / 2 + 77), random, true},
        {"flipped deflate byte", flippedAt(member, n / 3, 0x10), text, false},
        {"flipped byte in a stored block", flippedAt(stored, stored.size() / 2), random, false},
        {"bad second member's crc", member + flippedAt(secondMember, secondMember.size() - 6), text + second, true},
        {"bad second member's header", member + flippedAt(secondMember, 3, 0x20), text + second, true},
        {"second member cut short", member + secondMember.substr(0, secondMember.size() / 2), text + second, true},
    };
}

// One order of calls; `content` is what an intact file would deliver. Returns what
// the reads delivered, in order, for the prefix check.
using testing_support::PrintTo;
struct Order {
    const char* name;
    std::function<void(GzipFileManager&, const std::string& content, std::vector<std::int32_t>& results)> run;
};

std::int32_t readAt(GzipFileManager& file, std::uint32_t offset, std::uint32_t length, std::vector<std::int32_t>& results,
                    std::int32_t at = -2) {
    std::string buffer(length, '\0');
    std::int32_t got = file.read(buffer.data(), length, at == -2 ? static_cast<std::int32_t>(offset) : at);
    results.push_back(got);
    return got;
}

// Reads from `from` in page-sized pieces with explicit offsets, as the loader does,
// up to `end` or the first result that is not a full piece.
void readPieces(GzipFileManager& file, std::uint32_t from, std::uint32_t end, std::vector<std::int32_t>& results) {
    for (std::uint32_t at = from; at < end; at += CHUNK) {
        std::uint32_t length = std::min(CHUNK, end - at);
        if (readAt(file, at, length, results) != static_cast<std::int32_t>(length)) return;
    }
}

const Order orders[] = {
    {"SizeFirst",
     [](GzipFileManager& file, const std::string& content, std::vector<std::int32_t>& results) {
         results.push_back(static_cast<std::int32_t>(file.size()));
         readPieces(file, 0, static_cast<std::uint32_t>(content.size()), results);
     }},
    {"ReadFirst",
     [](GzipFileManager& file, const std::string& content, std::vector<std::int32_t>& results) {
         readPieces(file, 0, static_cast<std::uint32_t>(content.size()), results);
         results.push_back(static_cast<std::int32_t>(file.size()));
     }},
    {"ImageSizeThenWhole",
     [](GzipFileManager& file, const std::string& content, std::vector<std::int32_t>& results) {
         std::uint32_t size = file.size();
         results.push_back(static_cast<std::int32_t>(size));
         file.seek(0);
         readPieces(file, 0, static_cast<std::uint32_t>(content.size()), results);
         readAt(file, 0, 100, results, -1);
     }},
    {"SeekBackAndForth",
     [](GzipFileManager& file, const std::string& content, std::vector<std::int32_t>& results) {
         const std::uint32_t n = static_cast<std::uint32_t>(content.size());
         readAt(file, 0, 52, results);
         readAt(file, n - 400, 400, results);  // where section headers would be
         readAt(file, 52, 96, results);
         readAt(file, n - 500, 68, results);
         readPieces(file, 4096, n - 1200, results);
         readAt(file, n - 1100, 300, results);
         readAt(file, 10, 10, results);
         results.push_back(file.seek(n) ? 1 : -1);
         results.push_back(static_cast<std::int32_t>(file.size()));
     }},
};

class GzipDamage : public gzip_card::GzipCardTest, public ::testing::WithParamInterface<Order> {};

TEST_P(GzipDamage, NeverEndsCleanlyAndIsNotForgotten) {
    for (const Damaged& d : damagedFiles()) {
        SCOPED_TRACE(d.label);
        log.clear();
        put("damaged.gz", d.stored);
        GzipFileManager& file = openCard("damaged.gz");
        std::vector<std::int32_t> results;
        GetParam().run(file, d.content, results);

        // Something in the order failed; nothing said the data ended early.
        bool failedSomewhere = false;
        for (std::int32_t r : results) {
            failedSomewhere = failedSomewhere || r == -1;
            EXPECT_NE(r, 0) << "a clean end inside damaged data";
        }
        EXPECT_TRUE(failedSomewhere);

        // Afterwards, whatever way back is taken.
        char buffer[64];
        EXPECT_EQ(file.size(), SIZE_UNKNOWN);
        EXPECT_EQ(file.read(buffer, sizeof buffer, 0), -1);
        EXPECT_EQ(file.seek(0), 0);
        EXPECT_EQ(file.read(buffer, sizeof buffer), -1);
        EXPECT_EQ(file.read(buffer, sizeof buffer, 5), -1);

        // One line says which file and what was wrong.
        int named = 0;
        for (const std::u16string& entry : log.entries()) named += entry.rfind(u"damaged.gz: ", 0) == 0;
        EXPECT_EQ(named, 1) << log.utf8();
        file.close();

        // Opened again, what it delivers before the error is the data's start.
        if (d.prefixIntact) {
            ASSERT_EQ(file.open(u"damaged.gz", 3), 1);
            std::string all;
            std::vector<char> piece(CHUNK);
            std::int32_t got;
            while ((got = file.read(piece.data(), CHUNK)) > 0) all.append(piece.data(), static_cast<std::size_t>(got));
            EXPECT_EQ(got, -1);
            EXPECT_LE(all.size(), d.content.size());
            EXPECT_TRUE(d.content.compare(0, all.size(), all) == 0);
            file.close();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(CallOrders, GzipDamage, ::testing::ValuesIn(orders),
                         ::testing::PrintToStringParamName());

class GzipDamageLog : public gzip_card::GzipCardTest {};

TEST_F(GzipDamageLog, EachKindOfDamageIsNamed) {
    TempDir work;
    const std::string text = textData(20000, 64);
    const std::string member = gzipTool(work.path(), text);
    const std::size_t n = member.size();
    const struct {
        const char* label;
        std::string stored;
        std::string line;  // how the log line starts, after the file's name
    } cases[] = {
        {"crc", flippedAt(member, n - 8), "damaged.gz: CRC mismatch after 0x4e20 bytes (stored 0x"},
        {"length", flippedAt(member, n - 4), "damaged.gz: length mismatch after 0x4e20 bytes (stored 0x4e21, data 0x4e20)"},
        {"trailer", member.substr(0, n - 2), "damaged.gz: gzip trailer cut short after 0x4e20 bytes"},
        {"deflate data cut", member.substr(0, n / 2), "damaged.gz: data cut short after 0x"},
        {"header cut", member.substr(0, 5), "damaged.gz: gzip header cut short after 0x0 bytes"},
        {"reserved flag", flippedAt(member, 3, 0x40), "damaged.gz: bad gzip header after 0x0 bytes (method 8, flags 0x40)"},
        {"method", flippedAt(member, 2, 0x01), "damaged.gz: bad gzip header after 0x0 bytes (method 9, flags 0x0)"},
        {"deflate data", flippedAt(member, 10, 0xff), "damaged.gz: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        log.clear();
        put("damaged.gz", c.stored);
        GzipFileManager& file = openCard("damaged.gz");
        char buffer[CHUNK];
        while (file.read(buffer, sizeof buffer) > 0) {
        }
        std::vector<std::string> named;
        for (const std::u16string& entry : log.entries())
            if (entry.rfind(u"damaged.gz: ", 0) == 0) named.push_back(std::string(entry.begin(), entry.end()));
        ASSERT_EQ(named.size(), 1u) << log.utf8();
        EXPECT_EQ(named[0].rfind(c.line, 0), 0u) << named[0];
        EXPECT_EQ(named[0].back(), '\n');
        file.close();
    }
}


class GzipOverBackend : public ::testing::Test {
protected:
    ~GzipOverBackend() override { setConsole(nullptr); }

    GzipFileManager& over(const std::string& bytes) {
        auto made = new MemoryBackend(console, bytes);
        backend = made;
        front = std::make_unique<GzipFileManager>(console, made);
        EXPECT_EQ(front->open(u"data", 3), 1);
        return *front;
    }

    testing_support::TestDevice device;
    testing_support::LogCapture log;
    Console* console = lcdConsole();
    std::unique_ptr<GzipFileManager> front;
    MemoryBackend* backend = nullptr;  // owned by the front
    TempDir work;
};

// One failed card read while size() measures: no length, and the seek back does not
// clear the error.
TEST_F(GzipOverBackend, AFailedReadDuringSizeIsNoLength) {
    const std::string content = randomData(300000, 65);
    GzipFileManager& file = over(gzipTool(work.path(), content));
    backend->failingRead = 40;
    EXPECT_EQ(file.size(), SIZE_UNKNOWN);
    char buffer[100];
    EXPECT_EQ(file.read(buffer, sizeof buffer, 0), -1);
    EXPECT_EQ(file.size(), SIZE_UNKNOWN);
    EXPECT_NE(log.utf8().find("data: read error after 0x"), std::string::npos) << log.utf8();
}

// Found by fuzzing: a read failing between the two magic bytes made the file look
// plain, and size() then gave the stored size.
TEST_F(GzipOverBackend, AFailedReadInsideTheMagicIsAnError) {
    const std::string packed = gzipTool(work.path(), textData(5000, 69));
    auto* made = new MemoryBackend(console, packed);
    made->readLimit = 1;
    made->failingRead = 1;  // the second byte's read
    backend = made;
    front = std::make_unique<GzipFileManager>(console, made);
    ASSERT_EQ(front->open(u"data", 3), 1);
    EXPECT_EQ(front->size(), SIZE_UNKNOWN);
    char buffer[100];
    EXPECT_EQ(front->read(buffer, sizeof buffer, 0), -1);
    EXPECT_NE(log.utf8().find("data: read error after 0x0 bytes.\n"), std::string::npos) << log.utf8();
}

// A read at an offset whose seek failed must not deliver the bytes at the old position.
// Nothing is kept, so going back needs the backend's seek.
TEST_F(GzipOverBackend, AReadWhoseSeekFailedDeliversNothing) {
    const std::string content = textData(20000, 66);
    struct Case {
        const char* label;
        std::string stored;
    };
    const Case cases[] = {{"plain", content}, {"compressed", gzipTool(work.path(), content)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        GzipFileManager& file = over(c.stored);
        file.setCacheLimit(0);
        char buffer[100];
        ASSERT_EQ(file.read(buffer, sizeof buffer, 15000), 100);
        EXPECT_EQ(std::string(buffer, 100), content.substr(15000, 100));
        backend->failingSeek = backend->seeks;
        EXPECT_EQ(file.read(buffer, sizeof buffer, 160), -1);
        EXPECT_EQ(file.read(buffer, sizeof buffer, 15000), -1);
        EXPECT_EQ(file.read(buffer, sizeof buffer), -1);
    }
}

// Plain data: a backend error after buffered bytes sticks; reads at other offsets do
// not carry on as if nothing happened.
TEST_F(GzipOverBackend, APlainBackendErrorSticks) {
    const std::string content = std::string("\x1f", 1) + textData(20000, 67);
    GzipFileManager& file = over(content);
    backend->failingRead = backend->reads;  // the read behind the buffered bytes
    char buffer[2000];
    EXPECT_EQ(file.read(buffer, sizeof buffer), -1);
    EXPECT_EQ(file.read(buffer, sizeof buffer, 15000), -1);
    EXPECT_EQ(file.read(buffer, sizeof buffer, 0), -1);
    EXPECT_EQ(file.size(), SIZE_UNKNOWN);
}

TEST_F(GzipOverBackend, InflatesWhatTheBackendDeliversInAnyPieces) {
    const std::string content = textData(70000, 68);
    for (std::size_t limit : {std::size_t{1}, std::size_t{3}, std::size_t{1000}}) {
        SCOPED_TRACE(limit);
        GzipFileManager& file = over(gzipTool(work.path(), content));
        backend->readLimit = limit;
        EXPECT_EQ(file.size(), content.size());
        std::string all(content.size(), '\0');
        EXPECT_EQ(file.read(all.data(), static_cast<std::uint32_t>(all.size()), 0), static_cast<std::int32_t>(all.size()));
        EXPECT_TRUE(all == content);
        char byte;
        EXPECT_EQ(file.read(&byte, 1), 0);
        EXPECT_GE(file.inflatedBytes(), 2 * content.size());
    }
}

}  // namespace
