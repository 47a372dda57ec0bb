// The gzip front's inflate snapshots on multi-megabyte files made by the gzip tool:
// random positioning against the plain data, the cost of the ELF loader's pattern,
// damaged files, and snapshots forgotten with their file.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "console/console.h"
#include "file/gzip_file_manager.h"
#include "support/device.h"
#include "support/test_data.h"
#include "support/http_servers.h"
#include "support/log_capture.h"
#include "gzip_card.h"

using namespace quorvel;
using testing_support::HttpServer;
using testing_support::LogCapture;
using testing_support::TempDir;
using testing_support::TestDevice;

using testing_support::gzipTool;
using testing_support::readHostFile;
using testing_support::textData;
using testing_support::writeHostFile;

using gzip_card::wide;

namespace {

constexpr std::size_t MB = 1u << 20;

std::string flipped(std::string bytes, std::size_t fromEnd) {
    bytes[bytes.size() - fromEnd] = static_cast<char>(bytes[bytes.size() - fromEnd] ^ 0x01);
    return bytes;
}

struct Outcome {
    std::string data;
    std::int32_t last = 0;  // the result that ended the reading: 0 or -1
};

Outcome readToEnd(FileManager& file, std::uint32_t chunk, std::int32_t from) {
    Outcome outcome;
    std::vector<char> buffer(chunk);
    for (std::int32_t offset = from; outcome.data.size() <= 64 * MB; offset = -1) {
        std::int32_t got = file.read(buffer.data(), chunk, offset);
        if (got <= 0) {
            outcome.last = got;
            return outcome;
        }
        outcome.data.append(buffer.data(), static_cast<std::size_t>(got));
    }
    ADD_FAILURE() << "reading never ended";
    outcome.last = INT_MIN;
    return outcome;
}

// The files of the tests below, each made once.
struct Sample {
    std::string plain;   // what a reader must see
    std::string stored;  // the file on the card
};

// The large samples are made by the build (the gzip tool over generated data).
std::string sample(const std::string& name) {
    std::string bytes = readHostFile(std::filesystem::path(QUORVEL_GZIP_SAMPLES) / name);
    EXPECT_FALSE(bytes.empty()) << name;
    return bytes;
}

class GzipCheckpoints : public gzip_card::GzipCardTest {
protected:
    static void SetUpTestSuite() {
        work = new TempDir;
        randomMember = new Sample{sample("random.bin"), sample("random.bin.gz")};
        // Three members made differently, then plain bytes long enough to hold snapshots.
        const std::string tail = "Plain tail. " + sample("tail.bin");
        membersAndTail = new Sample{sample("a.txt") + sample("b.txt") + sample("c.txt") + tail,
                                    sample("a.txt.gz") + sample("b.txt.gz") + sample("c.txt.gz") + tail};
    }
    static void TearDownTestSuite() {
        delete randomMember;
        delete membersAndTail;
        delete work;
    }

    static TempDir* work;
    static Sample* randomMember;
    static Sample* membersAndTail;
};
TempDir* GzipCheckpoints::work = nullptr;
Sample* GzipCheckpoints::randomMember = nullptr;
Sample* GzipCheckpoints::membersAndTail = nullptr;

// Random reads, seeks and size() calls, each checked against where the previous ones
// left the position; ends with a read from a random offset to the very end, which
// verifies the trailers of members resumed from a snapshot.
void positionAtRandom(FileManager& file, const std::string& content, bool packed, unsigned seed, int steps) {
    const std::int64_t size = static_cast<std::int64_t>(content.size());
    std::mt19937 random(seed);
    auto pick = [&](std::int64_t below) { return static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(below)); };
    // Offsets anywhere, next to snapshot spacings (where resuming starts) and at the end.
    auto offset = [&]() -> std::int64_t {
        switch (pick(4)) {
        case 0: return pick(size + 1);
        case 1: return std::max<std::int64_t>(0, pick(size / GZIP_CHECKPOINT_SPACING + 1) * GZIP_CHECKPOINT_SPACING + pick(9) - 4);
        case 2: return std::max<std::int64_t>(0, size - pick(5000));
        default: return size + pick(3);
        }
    };
    std::int64_t position = 0;
    for (int i = 0; i < steps; ++i) {
        SCOPED_TRACE("step " + std::to_string(i) + " from " + std::to_string(position));
        switch (pick(6)) {
        case 0: case 1: case 2: {
            std::int64_t at = pick(3) == 0 ? -1 : offset();
            std::uint32_t length = static_cast<std::uint32_t>(pick(8) == 0 ? pick(3 * MB) + 1 : pick(70000));
            if (at != -1) position = packed ? std::min(at, size) : at;
            std::string buffer(length, '\0');
            std::int32_t got = file.read(buffer.data(), length, static_cast<std::int32_t>(at));
            ASSERT_EQ(got, std::clamp<std::int64_t>(size - position, 0, length)) << "read " << length << " at " << at;
            ASSERT_TRUE(buffer.compare(0, got, content, std::min(position, size), got) == 0) << "at " << position;
            position += got;
            break;
        }
        case 3: case 4: {
            std::int64_t at = offset();
            // Compressed seeks fail past the end and stop there; plain ones always succeed.
            ASSERT_EQ(file.seek(static_cast<std::uint32_t>(at)), (!packed || at <= size) ? 1 : 0) << "seek " << at;
            position = packed ? std::min(at, size) : at;
            break;
        }
        default:
            ASSERT_EQ(file.size(), static_cast<std::uint32_t>(packed ? size - position : size));
        }
    }
    std::int64_t from = pick(size);
    Outcome rest = readToEnd(file, 4080, static_cast<std::int32_t>(from));
    EXPECT_EQ(rest.last, 0);
    EXPECT_TRUE(rest.data.size() == content.size() - from && content.compare(from, rest.data.size(), rest.data) == 0);
}

TEST_F(GzipCheckpoints, RandomPositioningDeliversThePlainData) {
    struct Case {
        const char* label;
        const Sample* sample;
        bool packed;
    };
    Sample plainText{textData(3 * MB, 36), ""};
    plainText.stored = plainText.plain;
    const Case cases[] = {
        {"random data, one member (snapshots thinned out)", randomMember, true},
        {"three members and a plain tail", membersAndTail, true},
        {"plain file", &plainText, false},
    };
    unsigned seed = 40;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        put("data", c.sample->stored);
        GzipFileManager& file = openCard("data");
        positionAtRandom(file, c.sample->plain, c.packed, seed++, 150);
        EXPECT_EQ(file.close(), 1);
    }
}

// The HTTP backend counts its position its own way; resuming moves it by seek alone.
TEST_F(GzipCheckpoints, RandomPositioningOverHttp) {
    TempDir root;
    writeHostFile(root.path() / "data.gz", membersAndTail->stored);
    std::string failure;
    std::unique_ptr<HttpServer> server = HttpServer::start(HttpServer::Kind::Python, root.path(), &failure);
    ASSERT_NE(server, nullptr) << failure;
    front = std::make_unique<GzipFileManager>(console, FILE_MANAGER_HTTP);
    std::u16string location = wide("http://127.0.0.1:" + std::to_string(server->port()) + "/");
    ASSERT_EQ(front->setLocation(location.c_str()), 1) << log.utf8();
    ASSERT_EQ(front->open(u"data.gz", 3), 1) << log.utf8();
    positionAtRandom(*front, membersAndTail->plain, true, 50, 100);
}

// The loader's order of access: header, size(), section headers at the end, the
// section-name table just before them, every segment from the start, then the symbol
// and string tables. Snapshots make that two passes over the file where rewinding
// made four.
TEST_F(GzipCheckpoints, TheElfLoadersPatternInflatesTheFileAboutTwice) {
    constexpr std::size_t snapshots = 6;
    static_assert(snapshots <= GZIP_CHECKPOINT_LIMIT, "no thinning in this test");
    const std::string content = textData(snapshots * GZIP_CHECKPOINT_SPACING + 200000, 37);
    const std::uint32_t n = static_cast<std::uint32_t>(content.size());
    put("kernel.gz", gzipTool(work->path(), content));
    GzipFileManager& file = openCard("kernel.gz");
    // Too little memory to inflate the whole data at once, as on a busy handheld.
    file.setCacheLimit(GZIP_CHECKPOINT_SPACING);

    auto readAt = [&](std::uint32_t offset, std::uint32_t length) {
        std::string buffer(length, '\0');
        ASSERT_EQ(file.read(buffer.data(), length, static_cast<std::int32_t>(offset)), static_cast<std::int32_t>(length));
        ASSERT_TRUE(buffer == content.substr(offset, length)) << "at " << offset;
    };
    const std::uint64_t inflatedBefore = file.inflatedBytes();
    // Reading nothing is no end of the data.
    char none;
    EXPECT_EQ(file.read(&none, 0, 1000), 0);
    readAt(0, 52);
    ASSERT_EQ(file.seek(0), 1);
    ASSERT_EQ(file.size(), n);
    readAt(n - 400, 400);  // section headers
    readAt(n - 500, 68);   // section-name table
    for (std::uint32_t at = 4096; at < n - 1200; at += 4080) readAt(at, std::min<std::uint32_t>(4080, n - 1200 - at));
    readAt(n - 1100, 300);  // symbol table
    readAt(n - 800, 200);   // string table

    // A pass for size() and one for the segments; the tables near the end cost what
    // lies between them and the last snapshot, the first bytes once more.
    const std::uint64_t sinceLastSnapshot = n - snapshots * GZIP_CHECKPOINT_SPACING;
    EXPECT_LE(file.inflatedBytes() - inflatedBefore, 2ull * n + 2 * sinceLastSnapshot + 1052);
    EXPECT_GE(file.inflatedBytes() - inflatedBefore, 2ull * n - 1200);

    // Once the end has been seen, size() inflates nothing, wherever it is asked.
    for (std::uint32_t at : {0u, 3000000u, n - 1u, n}) {
        ASSERT_EQ(file.seek(at), 1);
        std::uint64_t before = file.inflatedBytes();
        EXPECT_EQ(file.size(), n - at);
        EXPECT_EQ(file.inflatedBytes(), before);
    }
    // And the position it leaves is where it was.
    readAt(3000000, 10);
    EXPECT_EQ(file.size(), n - 3000010);
    std::string next(10, '\0');
    ASSERT_EQ(file.read(next.data(), 10), 10);
    EXPECT_EQ(next, content.substr(3000010, 10));
}

// A pass resumed from a snapshot goes on taking them where none were, each one
// resuming where it was taken.
TEST_F(GzipCheckpoints, ResumedPassesTakeSnapshotsThatResumeRightly) {
    const std::string content = membersAndTail->plain.substr(0, 6 * MB);
    put("resumed.gz", gzipTool(work->path(), content));
    GzipFileManager& file = openCard("resumed.gz");
    const std::uint32_t spacing = GZIP_CHECKPOINT_SPACING;
    std::string buffer(1000, '\0');
    auto readAt = [&](std::uint32_t offset) {
        ASSERT_EQ(file.read(buffer.data(), 1000, static_cast<std::int32_t>(offset)), 1000);
        ASSERT_TRUE(buffer == content.substr(offset, 1000)) << "at " << offset;
    };
    readAt(2 * spacing + spacing / 2);
    readAt(spacing + spacing / 2);  // back to the first snapshot
    readAt(5 * spacing + 100);      // on from the second, past three new spacings
    for (std::uint32_t k : {3u, 4u, 5u, 3u}) {
        SCOPED_TRACE(k);
        std::uint64_t before = file.inflatedBytes();
        readAt(k * spacing + 4000);
        // Resumed at k spacings, not at the start nor at an earlier snapshot.
        EXPECT_LE(file.inflatedBytes() - before, 5000u);
    }
    Outcome rest = readToEnd(file, 4096, static_cast<std::int32_t>(4 * spacing + 1));
    EXPECT_EQ(rest.last, 0);
    EXPECT_TRUE(rest.data == content.substr(4 * spacing + 1));
}

// A backend read that fails once the end has been seen: size() and seeking forwards
// still report the error, and so do seeks back; only opening the file again recovers.
TEST_F(GzipCheckpoints, AFailedBackendReadIsStillAnError) {
    const std::string content = textData(5 * MB, 41);
    put("failing.gz", gzipTool(work->path(), content));
    GzipFileManager& file = openCard("failing.gz");
    ASSERT_EQ(file.size(), content.size());
    std::string buffer(300000, '\0');
    ASSERT_EQ(file.read(buffer.data(), 100, MB + MB / 5), 100);

    auto armed = std::make_shared<bool>(true);
    device->faults().failWhen("ReadFile", [armed](const sim::FaultCall&) { return std::exchange(*armed, false); });
    std::int32_t got = file.read(buffer.data(), 300000);
    ASSERT_LT(got, 300000);
    if (got >= 0) {
        EXPECT_TRUE(buffer.compare(0, got, content, MB + MB / 5 + 100, got) == 0);
        EXPECT_EQ(file.read(buffer.data(), 100), -1);
    }
    EXPECT_FALSE(*armed);
    EXPECT_EQ(file.size(), 0xFFFFFFFFu);
    EXPECT_EQ(file.read(buffer.data(), 100), -1);
    EXPECT_EQ(file.seek(4 * MB + MB / 2), 0);
    EXPECT_EQ(file.read(buffer.data(), 100), -1);

    // Going back does not forget the error, from a snapshot or from the start.
    EXPECT_EQ(file.read(buffer.data(), 100, MB + 5), -1);
    EXPECT_EQ(file.read(buffer.data(), 100, 0), -1);
    EXPECT_EQ(file.size(), 0xFFFFFFFFu);

    // Opened again, the file reads afresh.
    file.close();
    ASSERT_EQ(file.open(u"failing.gz", 3), 1);
    ASSERT_EQ(file.read(buffer.data(), 100, MB + 5), 100);
    EXPECT_TRUE(buffer.compare(0, 100, content, MB + 5, 100) == 0);
    EXPECT_EQ(file.size(), content.size() - (MB + 105));
    ASSERT_EQ(file.read(buffer.data(), 100, 4 * MB + 5), 100);
    EXPECT_TRUE(buffer.compare(0, 100, content, 4 * MB + 5, 100) == 0);
}

// Damage is met at the same place however the reading got there: from the start, or
// resumed from a snapshot before it.
TEST_F(GzipCheckpoints, DamagedFilesStillFailWhereTheyDid) {
    const std::string first = randomMember->plain.substr(0, 3 * MB);
    const std::string firstMember = gzipTool(work->path(), first);
    const std::string second = textData(3 * MB, 38);
    const std::string secondMember = gzipTool(work->path(), second);
    std::string corrupt = secondMember;
    corrupt[corrupt.size() * 2 / 3] = static_cast<char>(corrupt[corrupt.size() * 2 / 3] ^ 0x5a);
    struct Case {
        const char* label;
        std::string stored;
        std::string delivered;  // before the error; empty: known only by reading from the start
    };
    const Case cases[] = {
        {"crc flipped", flipped(firstMember, 8), first},
        {"length flipped", flipped(firstMember, 3), first},
        {"second member's crc flipped", firstMember + flipped(secondMember, 6), first + second},
        {"second member's deflate data corrupt", firstMember + corrupt, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        put("damaged.gz", c.stored);
        GzipFileManager& file = openCard("damaged.gz");
        Outcome whole = readToEnd(file, 4096, 0);
        EXPECT_EQ(whole.last, -1);
        if (!c.delivered.empty()) {
            EXPECT_TRUE(whole.data == c.delivered) << whole.data.size();
        }
        const std::int64_t end = static_cast<std::int64_t>(whole.data.size());
        ASSERT_GT(end, static_cast<std::int64_t>(2 * MB));

        // Once met, the damage is not forgotten, wherever the reading goes.
        char byte;
        for (std::int64_t from : {end - 1, std::int64_t{5}}) EXPECT_EQ(file.read(&byte, 1, static_cast<std::int32_t>(from)), -1);
        EXPECT_EQ(file.size(), 0xFFFFFFFFu);
        file.close();

        // Opened again, a pass that stops short of the damage leaves snapshots; every way
        // to the damage from them ends as the first did.
        for (std::int64_t from : {end - 1, end / 2, std::int64_t{MB} + 1, end - 70000, std::int64_t{5}}) {
            SCOPED_TRACE(from);
            ASSERT_EQ(file.open(u"damaged.gz", 3), 1);
            ASSERT_EQ(file.read(&byte, 1, static_cast<std::int32_t>(end - 100000)), 1);
            Outcome again = readToEnd(file, 1000, static_cast<std::int32_t>(from));
            EXPECT_EQ(again.last, -1);
            EXPECT_TRUE(again.data == whole.data.substr(from)) << again.data.size();
            EXPECT_EQ(file.read(&byte, 1), -1);
            EXPECT_EQ(file.size(), 0xFFFFFFFFu);
            EXPECT_EQ(file.seek(static_cast<std::uint32_t>(end + 10)), 0);
            file.close();
        }
    }
}

// Snapshots belong to the open file: after close, or an open without one, the same
// name with other contents is read afresh.
TEST_F(GzipCheckpoints, OpenAndCloseForgetTheSnapshots) {
    const std::string before = textData(3 * MB, 39);
    const std::string after = randomMember->plain.substr(0, 4 * MB);
    for (bool closing : {true, false}) {
        SCOPED_TRACE(closing ? "closed in between" : "opened again without a close");
        put("swap.gz", gzipTool(work->path(), before));
        GzipFileManager& file = openCard("swap.gz");
        EXPECT_EQ(file.size(), before.size());
        std::string buffer(100, '\0');
        ASSERT_EQ(file.read(buffer.data(), 100, 2 * MB + 7), 100);
        if (closing) file.close();

        put("swap.gz", gzipTool(work->path(), after));
        ASSERT_EQ(file.open(u"swap.gz", 3), 1);
        ASSERT_EQ(file.read(buffer.data(), 100, 2 * MB + 7), 100);
        EXPECT_EQ(buffer, after.substr(2 * MB + 7, 100));
        EXPECT_EQ(file.size(), after.size() - (2 * MB + 107));
        ASSERT_EQ(file.read(buffer.data(), 100, MB + 3), 100);
        EXPECT_EQ(buffer, after.substr(MB + 3, 100));
        file.close();
    }
}

}  // namespace
