// The gzip front over files made by the gzip tool on the simulated storage card:
// plain pass-through, header flags, member checks, concatenation and seeking.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "console/console.h"
#include "file/fat_file_manager.h"
#include "file/gzip_file_manager.h"
#include "file/http_file_manager.h"
#include "file/ufs/ufs_file_manager.h"
#include "support/device.h"
#include "support/test_data.h"
#include "support/log_capture.h"
#include "gzip_card.h"

using namespace quorvel;
using testing_support::LogCapture;
using testing_support::TempDir;
using testing_support::TestDevice;

using testing_support::randomData;
using testing_support::readHostFile;
using testing_support::textData;
using testing_support::writeHostFile;

using gzip_card::wide;

namespace {





std::string quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

// What the gzip tool makes of `bytes` stored as `name`.
std::string gzipTool(const TempDir& work, const std::string& name, const std::string& bytes,
                     const std::string& options = "-n") {
    std::filesystem::path in = work.path() / name;
    std::filesystem::path out = work.path() / (name + ".gz");
    writeHostFile(in, bytes);
    std::string command = "gzip -c " + options + " " + quoted(in) + " > " + quoted(out);
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return readHostFile(out);
}

// Whether the gzip tool itself accepts `bytes` as a gzip file.
bool gzipAccepts(const TempDir& work, const std::string& bytes) {
    std::filesystem::path file = work.path() / "check.gz";
    writeHostFile(file, bytes);
    std::string command = "gzip -t " + quoted(file) + " 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

constexpr int FHCRC = 0x02;
constexpr int FEXTRA = 0x04;
constexpr int FNAME = 0x08;
constexpr int FCOMMENT = 0x10;

// A member made by "gzip -n" (bare ten-byte header) with its header rebuilt around
// the given flags; the deflate data and trailer stay the tool's.
std::string withHeader(const std::string& member, int flags, const std::string& extra = "extra",
                       const std::string& name = "tamsel", const std::string& comment = "made for a test") {
    std::string header = member.substr(0, 10);
    header[3] = static_cast<char>(flags);
    if (flags & FEXTRA) {
        header += static_cast<char>(extra.size() & 0xff);
        header += static_cast<char>(extra.size() >> 8);
        header += extra;
    }
    if (flags & FNAME) header += name + '\0';
    if (flags & FCOMMENT) header += comment + '\0';
    if (flags & FHCRC) {
        uLong crc = crc32(0, reinterpret_cast<const Bytef*>(header.data()), static_cast<uInt>(header.size()));
        header += static_cast<char>(crc & 0xff);
        header += static_cast<char>((crc >> 8) & 0xff);
    }
    return header + member.substr(10);
}

struct Outcome {
    std::string data;
    std::int32_t last = 0;  // the result that ended the reading: 0 or -1
};

Outcome readAll(FileManager& file, std::uint32_t chunk, std::size_t limit = 64u << 20) {
    Outcome outcome;
    std::vector<char> buffer(chunk);
    while (outcome.data.size() <= limit) {
        std::int32_t got = file.read(buffer.data(), chunk);
        if (got <= 0) {
            outcome.last = got;
            return outcome;
        }
        EXPECT_LE(static_cast<std::uint32_t>(got), chunk);
        outcome.data.append(buffer.data(), static_cast<std::size_t>(got));
    }
    ADD_FAILURE() << "reading never ended";
    outcome.last = INT_MIN;
    return outcome;
}

// Makes the first `calls` reads of a card file deliver at most `limit` bytes each,
// as a backend with short reads would.
void shortReads(TestDevice& device, const std::string& name, std::uint32_t limit, int calls = INT_MAX) {
    std::u16string suffix = u"\\" + wide(name);
    auto seen = std::make_shared<int>(0);
    device->faults().failWhen(
        "ReadFile",
        [suffix, seen, calls](const sim::FaultCall& call) {
            if (call.name.size() < suffix.size() || call.name.substr(call.name.size() - suffix.size()) != suffix) return false;
            return (*seen)++ < calls;
        },
        limit);
}

class GzipFront : public gzip_card::GzipCardTest {
protected:
    std::string putGzip(const std::string& name, const std::string& content, const std::string& options = "-n") {
        std::string member = gzipTool(work, name, content, options);
        put(name + ".gz", member);
        return member;
    }

    TempDir work;
};

// Each backend announces itself as it is made; a kind outside the three makes none,
// and the front then refuses to work rather than guess one.
TEST_F(GzipFront, EachKindMakesItsBackendAndAnUnknownOneNone) {
    struct Case {
        const char* name;
        FileManagerKind kind;
        std::u16string line;
    };
    const Case cases[] = {
        {"fat", FILE_MANAGER_FAT, u"FileManager: FAT\n"},
        {"ufs", FILE_MANAGER_UFS, u"FileManager: UFS\n"},
        {"http", FILE_MANAGER_HTTP, u"FileManager: HTTP\n"},
        {"three", static_cast<FileManagerKind>(3), u"unknown file manager kind 3.\n"},
        {"all ones", static_cast<FileManagerKind>(0xFFFFFFFFu), u"unknown file manager kind -1.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        GzipFileManager manager(console, c.kind);
        EXPECT_EQ(log.text(), c.line);
        if (c.line.starts_with(u"unknown")) {
            EXPECT_FALSE(manager.setLocation(u"\\Storage Card\\"));
            EXPECT_FALSE(manager.open(u"kernel", 3));
        }
    }
}

TEST_F(GzipFront, InflatesWhatTheGzipToolMade) {
    struct Case {
        const char* label;
        std::string content;
        const char* options;
    };
    const Case cases[] = {
        {"text without a name", textData(100000, 1), "-n"},
        {"text with its name stored", textData(50000, 2), "-N"},
        {"random data in stored blocks", randomData(200000, 3), "-n"},
        {"long run at best compression", std::string(300000, 'a'), "-9"},
        {"fastest compression", textData(70000, 4), "-1"},
        {"empty file", "", "-n"},
        {"one byte", "x", "-n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::string member = putGzip("data", c.content, c.options);
        for (std::uint32_t chunk : {1u, 255u, 1024u, 4099u, 1u << 20}) {
            if (chunk == 1 && c.content.size() > 100000) continue;
            SCOPED_TRACE(chunk);
            GzipFileManager& file = openCard("data.gz");
            EXPECT_EQ(file.storedSize(), member.size());
            EXPECT_EQ(file.size(), c.content.size());
            Outcome outcome = readAll(file, chunk);
            EXPECT_EQ(outcome.last, 0);
            EXPECT_TRUE(outcome.data == c.content) << outcome.data.size() << " bytes read of " << c.content.size();
            EXPECT_EQ(file.read(outcome.data.data(), 1), 0);
            EXPECT_EQ(file.close(), 1);
        }
    }
}

TEST_F(GzipFront, SkipsEveryCombinationOfHeaderFields) {
    std::string content = textData(30000, 5);
    std::string member = gzipTool(work, "flags", content);
    // An extra field longer than the input buffer, so the header spans refills.
    std::string extra = randomData(3000, 6);
    for (int flags = 0; flags < 0x20; flags += 2) {
        SCOPED_TRACE(flags);
        std::string file = withHeader(member, flags, extra);
        ASSERT_TRUE(gzipAccepts(work, file));
        put("flags.gz", file);
        Outcome outcome = readAll(openCard("flags.gz"), 4096);
        EXPECT_EQ(outcome.last, 0);
        EXPECT_TRUE(outcome.data == content);
        front->close();
    }
}

TEST_F(GzipFront, BadHeadersFailEveryRead) {
    std::string member = gzipTool(work, "bad", textData(5000, 7));
    struct Case {
        const char* label;
        std::string bytes;
    };
    std::string method7 = member;
    method7[2] = 7;
    const Case cases[] = {
        {"reserved flag 0x20", withHeader(member, 0x20)},
        {"reserved flag 0x40", withHeader(member, 0x40 | FNAME)},
        {"reserved flag 0x80", withHeader(member, 0x80)},
        {"method other than deflate", method7},
        {"magic alone", member.substr(0, 2)},
        {"header cut in the time stamp", member.substr(0, 7)},
        {"extra field longer than the file", withHeader(member, FEXTRA, std::string(100, 'e')).substr(0, 60)},
        {"name without its end", withHeader(member, FNAME, "", std::string(2000, 'n')).substr(0, 1500)},
        {"header crc cut short", withHeader(member, FHCRC).substr(0, 11)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        put("bad.gz", c.bytes);
        GzipFileManager& file = openCard("bad.gz");
        char buffer[64];
        EXPECT_EQ(file.read(buffer, sizeof buffer), -1);
        EXPECT_EQ(file.read(buffer, sizeof buffer), -1);
        EXPECT_EQ(file.read(buffer, sizeof buffer, 0), -1);
        file.close();
    }
}

TEST_F(GzipFront, PassesOtherFilesThroughUnchanged) {
    struct Case {
        const char* label;
        std::string bytes;
    };
    const Case cases[] = {
        {"ELF executable", std::string("\x7f" "ELF\x01\x01\x01", 7) + randomData(5000, 8)},
        {"0x1f not followed by 0x8b", std::string("\x1f\x00", 2) + randomData(3000, 9)},
        {"0x1f then 0x1f 0x8b", std::string("\x1f\x1f\x8b\x08", 4) + textData(2000, 10)},
        {"empty file", ""},
        {"single 0x1f", "\x1f"},
        {"single other byte", "Q"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        put("plain", c.bytes);
        for (std::uint32_t chunk : {1u, 1000u, 1u << 16}) {
            SCOPED_TRACE(chunk);
            GzipFileManager& file = openCard("plain");
            EXPECT_EQ(file.size(), c.bytes.size());
            EXPECT_EQ(file.storedSize(), c.bytes.size());
            Outcome outcome = readAll(file, chunk);
            EXPECT_EQ(outcome.last, 0);
            EXPECT_TRUE(outcome.data == c.bytes);
            file.close();
        }
    }
}

// The peeked magic bytes are given back even when the first ended one backend read
// and the second began the next.
TEST_F(GzipFront, GivesPeekedBytesBackAcrossRefills) {
    std::string content = textData(3000, 11);
    std::string member = gzipTool(work, "peek", content);
    ASSERT_LT(member.size(), 1000u);
    std::string tail = std::string("\x1f\x00 plain tail", 13);
    struct Case {
        const char* label;
        std::string bytes;
        std::string expected;
        std::uint32_t firstRead;
    };
    const Case cases[] = {
        {"plain file, 0x1f alone in the first read", std::string("\x1f\x00", 2) + randomData(4000, 12),
         std::string("\x1f\x00", 2) + randomData(4000, 12), 1},
        {"gzip magic split between reads", member, content, 1},
        {"plain bytes after a member, 0x1f ending a read", member + tail, content + tail,
         static_cast<std::uint32_t>(member.size() + 1)},
        {"0x1f as the very last byte after a member", member + "\x1f", content + "\x1f",
         static_cast<std::uint32_t>(member.size())},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        put("peek", c.bytes);
        device->faults().clear();
        shortReads(device, "peek", c.firstRead, 1);
        GzipFileManager& file = openCard("peek");
        Outcome outcome = readAll(file, 700);
        EXPECT_EQ(outcome.last, 0);
        EXPECT_TRUE(outcome.data == c.expected) << outcome.data.size() << " of " << c.expected.size();
        file.close();
    }
}

TEST_F(GzipFront, ShortBackendReadsChangeNothing) {
    std::string a = textData(20000, 13);
    std::string b = randomData(5000, 14);
    std::string file = withHeader(gzipTool(work, "a", a), FEXTRA | FNAME | FCOMMENT | FHCRC) +
                       withHeader(gzipTool(work, "b", b), FNAME);
    put("short.gz", file);
    for (std::uint32_t limit : {1u, 2u, 3u, 7u, 1000u}) {
        SCOPED_TRACE(limit);
        device->faults().clear();
        shortReads(device, "short.gz", limit);
        Outcome outcome = readAll(openCard("short.gz"), 3000);
        EXPECT_EQ(outcome.last, 0);
        EXPECT_TRUE(outcome.data == a + b);
        front->close();
    }
}

TEST_F(GzipFront, DamagedFilesEndInAnError) {
    std::string content = textData(40000, 15);
    std::string member = gzipTool(work, "damaged", content);
    std::string second = textData(9000, 16);
    std::string secondMember = gzipTool(work, "second", second);
    auto flipped = [](std::string bytes, std::size_t fromEnd) {
        bytes[bytes.size() - fromEnd] = static_cast<char>(bytes[bytes.size() - fromEnd] ^ 0x01);
        return bytes;
    };
    struct Case {
        const char* label;
        std::string bytes;
        std::string delivered;  // what arrives before the error
    };
    const Case cases[] = {
        {"crc flipped", flipped(member, 8), content},
        {"crc high byte flipped", flipped(member, 5), content},
        {"length flipped", flipped(member, 4), content},
        {"length high byte flipped", flipped(member, 1), content},
        {"trailer cut short", member.substr(0, member.size() - 3), content},
        {"trailer missing", member.substr(0, member.size() - 8), content},
        {"first member's crc flipped", flipped(member, 8) + secondMember, content},
        {"second member's length flipped", member + flipped(secondMember, 4), content + second},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        put("damaged.gz", c.bytes);
        GzipFileManager& file = openCard("damaged.gz");
        Outcome outcome = readAll(file, 1000);
        EXPECT_EQ(outcome.last, -1);
        EXPECT_TRUE(outcome.data == c.delivered) << outcome.data.size() << " of " << c.delivered.size();
        char buffer[16];
        EXPECT_EQ(file.read(buffer, sizeof buffer), -1);

        // Going back does not forget it: the file stays bad until it is opened again.
        EXPECT_EQ(file.read(buffer, sizeof buffer, 0), -1);
        EXPECT_EQ(file.seek(0), 0);
        EXPECT_EQ(file.size(), SIZE_UNKNOWN);
        file.close();

        // A read that stops exactly at the end of the data, before the trailer is seen:
        // the next one reports the error rather than an end.
        ASSERT_EQ(file.open(u"damaged.gz", 3), 1);
        std::string all(c.delivered.size(), '\0');
        EXPECT_EQ(file.read(all.data(), static_cast<std::uint32_t>(all.size()), 0), static_cast<std::int32_t>(all.size()));
        EXPECT_TRUE(all == c.delivered);
        EXPECT_EQ(file.read(buffer, sizeof buffer), -1);
        file.close();

        // Opened again, it starts afresh.
        ASSERT_EQ(file.open(u"damaged.gz", 3), 1);
        EXPECT_EQ(file.read(buffer, sizeof buffer, 0), static_cast<std::int32_t>(sizeof buffer));
        EXPECT_EQ(std::string(buffer, sizeof buffer), content.substr(0, sizeof buffer));
        file.close();
    }
}

TEST_F(GzipFront, DeflateDataCutShortIsAnError) {
    std::string content = textData(60000, 17);
    std::string member = gzipTool(work, "cut", content);
    for (std::size_t kept : {std::size_t{11}, member.size() / 2, member.size() - 9}) {
        SCOPED_TRACE(kept);
        put("cut.gz", member.substr(0, kept));
        GzipFileManager& file = openCard("cut.gz");
        Outcome outcome = readAll(file, 4096);
        EXPECT_EQ(outcome.last, -1);
        ASSERT_LE(outcome.data.size(), content.size());
        EXPECT_TRUE(content.compare(0, outcome.data.size(), outcome.data) == 0);
        char buffer[16];
        EXPECT_EQ(file.read(buffer, sizeof buffer), -1);
        EXPECT_EQ(file.size(), 0xFFFFFFFFu);
        file.close();
    }
}

TEST_F(GzipFront, CorruptDeflateDataEndsInAnError) {
    std::string content = textData(60000, 18);
    std::string member = gzipTool(work, "corrupt", content);
    for (std::size_t at : {std::size_t{12}, member.size() / 3, member.size() / 2, member.size() - 12}) {
        SCOPED_TRACE(at);
        std::string bytes = member;
        bytes[at] = static_cast<char>(bytes[at] ^ 0x5a);
        put("corrupt.gz", bytes);
        Outcome outcome = readAll(openCard("corrupt.gz"), 4096);
        EXPECT_EQ(outcome.last, -1);
        front->close();
    }
}

TEST_F(GzipFront, BackendReadErrorsAreErrors) {
    std::string content = textData(50000, 19);
    put("plain", content);
    putGzip("packed", content);
    for (const char* name : {"plain", "packed.gz"}) {
        for (int failing : {0, 1, 3}) {
            SCOPED_TRACE(std::string(name) + " read " + std::to_string(failing));
            device->faults().clear();
            auto seen = std::make_shared<int>(0);
            device->faults().failWhen("ReadFile", [seen, failing](const sim::FaultCall&) { return (*seen)++ == failing; });
            front = std::make_unique<GzipFileManager>(console, FILE_MANAGER_FAT);
            front->setLocation(u"\\Storage Card\\");
            ASSERT_EQ(front->open(wide(name).c_str(), 3), 1);
            Outcome outcome = readAll(*front, 1024);
            EXPECT_EQ(outcome.last, -1);
            EXPECT_LT(outcome.data.size(), content.size());
        }
    }
}

TEST_F(GzipFront, ConcatenatedMembersReadAsOneStream) {
    std::string a = textData(30000, 20);
    std::string b = textData(45000, 21);
    writeHostFile(work.path() / "a", a);
    writeHostFile(work.path() / "b", b);
    std::filesystem::path joined = device.card() / "joined.gz";
    std::string command = "gzip -c " + quoted(work.path() / "a") + " > " + quoted(joined) + " && gzip -c " +
                          quoted(work.path() / "b") + " >> " + quoted(joined);
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::string ab = a + b;

    GzipFileManager& file = openCard("joined.gz");
    EXPECT_EQ(file.size(), ab.size());
    Outcome outcome = readAll(file, 5000);
    EXPECT_EQ(outcome.last, 0);
    EXPECT_TRUE(outcome.data == ab);

    // Positions run on across members.
    std::string buffer(200, '\0');
    EXPECT_EQ(file.read(buffer.data(), 200, static_cast<std::int32_t>(a.size() + 50)), 200);
    EXPECT_EQ(buffer, ab.substr(a.size() + 50, 200));
    EXPECT_EQ(file.size(), ab.size() - a.size() - 250);
    EXPECT_EQ(file.read(buffer.data(), 200), 200);
    EXPECT_EQ(buffer, ab.substr(a.size() + 250, 200));
    EXPECT_EQ(file.read(buffer.data(), 200, 100), 200);
    EXPECT_EQ(buffer, ab.substr(100, 200));
    EXPECT_EQ(file.seek(static_cast<std::uint32_t>(ab.size())), 1);
    EXPECT_EQ(file.seek(static_cast<std::uint32_t>(ab.size() + 1)), 0);
}

TEST_F(GzipFront, BytesAfterTheLastMemberArePlain) {
    std::string content = textData(20000, 22);
    std::string member = gzipTool(work, "tail", content);
    struct Case {
        const char* label;
        std::string tail;
    };
    const Case cases[] = {
        {"zero padding", std::string(3000, '\0')},
        {"text", "not a gzip header"},
        {"0x1f and 0x00", std::string("\x1f\x00\x01\x02", 4)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        put("tail.gz", member + c.tail);
        std::string all = content + c.tail;
        GzipFileManager& file = openCard("tail.gz");
        EXPECT_EQ(file.size(), all.size());
        Outcome outcome = readAll(file, 999);
        EXPECT_EQ(outcome.last, 0);
        EXPECT_TRUE(outcome.data == all);

        std::string buffer(20, '\0');
        std::int32_t inTail = static_cast<std::int32_t>(content.size() + 1);
        std::int32_t expected = static_cast<std::int32_t>(std::min<std::size_t>(20, all.size() - inTail));
        EXPECT_EQ(file.read(buffer.data(), 20, inTail), expected);
        EXPECT_EQ(buffer.substr(0, expected), all.substr(inTail, expected));
        EXPECT_EQ(file.read(buffer.data(), 20, 5), 20);
        EXPECT_EQ(buffer, all.substr(5, 20));
        file.close();
    }
}

// Every way of positioning, on the same data stored compressed and plain; the
// expectation follows from where each call leaves the position.
TEST_F(GzipFront, PositionsLikeAFile) {
    std::string content = textData(300000, 23);
    const std::int64_t size = static_cast<std::int64_t>(content.size());
    putGzip("seek", content);
    put("seek", content);

    enum Op { READ, SEEK, SIZE };
    struct Step {
        Op op;
        std::int64_t offset;  // -1: the current position
        std::uint32_t length;
    };
    struct Pattern {
        const char* label;
        std::vector<Step> steps;
    };
    const Pattern patterns[] = {
        {"the same offset twice", {{READ, 0, 1000}, {READ, 0, 1000}}},
        {"forwards", {{READ, 0, 100}, {READ, 5000, 100}, {READ, 150000, 2000}, {READ, -1, 3000}, {READ, 152000, 10}}},
        {"backwards", {{READ, 200000, 100}, {READ, 10, 100}, {READ, -1, 50}, {READ, 9, 1}}},
        {"seek then read", {{SEEK, 123456, 0}, {READ, -1, 777}, {SEEK, 10, 0}, {READ, -1, 10}, {SEEK, 20, 0}, {SEEK, 20, 0}, {READ, -1, 5}}},
        {"size in the middle", {{READ, 0, 70000}, {SIZE, 0, 0}, {READ, -1, 100}, {SIZE, 0, 0}, {READ, -1, 100}}},
        {"size then read from the start", {{SIZE, 0, 0}, {READ, 0, 4096}, {READ, -1, 4096}}},
        {"to the end and past it", {{SEEK, size, 0}, {READ, -1, 10}, {READ, size - 10, 100}, {SEEK, size + 1, 0}, {READ, -1, 10}, {READ, 0, 10}}},
        {"at the end then size", {{READ, size - 5, 5}, {SIZE, 0, 0}, {READ, -1, 5}}},
    };
    for (bool packed : {true, false}) {
        for (const Pattern& pattern : patterns) {
            SCOPED_TRACE(std::string(pattern.label) + (packed ? ", compressed" : ", plain"));
            GzipFileManager& file = openCard(packed ? "seek.gz" : "seek");
            std::int64_t position = 0;
            for (std::size_t i = 0; i < pattern.steps.size(); ++i) {
                const Step& step = pattern.steps[i];
                SCOPED_TRACE(i);
                switch (step.op) {
                case READ: {
                    if (step.offset != -1) position = step.offset;
                    std::string buffer(step.length, '\0');
                    std::int32_t got = file.read(buffer.data(), step.length, static_cast<std::int32_t>(step.offset));
                    std::int64_t expected = std::clamp<std::int64_t>(size - position, 0, step.length);
                    ASSERT_EQ(got, expected);
                    EXPECT_EQ(buffer.substr(0, got), content.substr(std::min(position, size), got));
                    position += got;
                    break;
                }
                case SEEK: {
                    // Plain seeks always succeed; compressed ones fail past the end and stop there.
                    ce::BOOL expected = (!packed || step.offset <= size) ? 1 : 0;
                    EXPECT_EQ(file.seek(static_cast<std::uint32_t>(step.offset)), expected);
                    position = packed ? std::min(step.offset, size) : step.offset;
                    break;
                }
                case SIZE:
                    // Compressed: what is left; plain: the stored size.
                    EXPECT_EQ(file.size(), static_cast<std::uint32_t>(packed ? size - position : size));
                    break;
                }
            }
            file.close();
        }
    }
}

TEST_F(GzipFront, OpenFailsWhenTheBackendCannotOpen) {
    GzipFileManager file(console, FILE_MANAGER_FAT);
    file.setLocation(u"\\Storage Card\\");
    EXPECT_EQ(file.open(u"missing.gz", 3), 0);
    EXPECT_TRUE(log.contains(u"can't open \"\\Storage Card\\missing.gz\". cause = 2\n")) << log.utf8();
}

TEST_F(GzipFront, OpeningAgainStartsAfresh) {
    std::string content = textData(10000, 24);
    putGzip("again", content);
    put("plain", "plain bytes");
    GzipFileManager& file = openCard("again.gz");
    char buffer[100];
    EXPECT_EQ(file.read(buffer, sizeof buffer), 100);
    file.close();
    ASSERT_EQ(file.open(u"plain", 3), 1);
    EXPECT_EQ(file.size(), 11u);
    EXPECT_EQ(readAll(file, 64).data, "plain bytes");
    file.close();
    // Opened again without a close in between.
    ASSERT_EQ(file.open(u"again.gz", 3), 1);
    ASSERT_EQ(file.open(u"again.gz", 3), 1);
    EXPECT_TRUE(readAll(file, 4096).data == content);
    file.close();
}

}  // namespace
