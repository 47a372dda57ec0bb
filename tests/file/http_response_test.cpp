// HTTP requests and replies as bytes: no socket, no server.
#include "file/http_response.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/case_names.h"

using namespace quorvel;

namespace {

using testing_support::PrintTo;
struct HeadCase {
    const char* name;
    std::vector<std::string> chunks;  // as received, each at most 255 bytes
    bool found;
    std::uint32_t contentLength;
};

std::string padded(std::string text, std::size_t size) {
    text.resize(size, 'x');
    return text;
}

// A 255-byte first chunk: filler header, then `tail` ending exactly at its end.
std::string endingWith(const std::string& tail) {
    std::string head = "HTTP/1.0 200 OK\r\nX-Filler: ";
    return head + std::string(255 - head.size() - tail.size(), 'f') + tail;
}

const HeadCase headCases[] = {
    {"Plain", {"HTTP/1.0 200 OK\r\nServer: s\r\nContent-Length: 1234\r\n\r\n"}, true, 1234},
    {"AnyLetterCase", {"HTTP/1.0 200 OK\r\ncOnTeNt-LeNgTh: 77\r\n\r\n"}, true, 77},
    {"NoBlankAfterColon", {"HTTP/1.1 200 OK\r\nContent-Length:5\r\n\r\n"}, true, 5},
    {"PlusSign", {"HTTP/1.0 200 OK\r\nContent-Length: +42\r\n\r\n"}, true, 42},
    {"DigitsUpToTheFirstOther", {"HTTP/1.0 200 OK\r\nContent-Length: 12abc\r\n\r\n"}, true, 12},
    {"LastOneCounts", {"HTTP/1.0 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n"}, true, 2},
    {"Largest", {"HTTP/1.0 200 OK\r\nContent-Length: 4294967295\r\n\r\n"}, true, 4294967295u},
    {"TooLarge", {"HTTP/1.0 200 OK\r\nContent-Length: 4294967296\r\n\r\n"}, false, 0},
    {"Negative", {"HTTP/1.0 200 OK\r\nContent-Length: -5\r\n\r\n"}, false, 0},
    {"NoDigits", {"HTTP/1.0 200 OK\r\nContent-Length: many\r\n\r\n"}, false, 0},
    {"Missing", {"HTTP/1.0 200 OK\r\nServer: s\r\n\r\n"}, false, 0},
    {"NameWithoutValue", {"HTTP/1.0 200 OK\r\nContent-Length"}, false, 0},
    {"OtherHeaderThatContainsTheName", {"HTTP/1.0 200 OK\r\nX-Content-Length: 9\r\n\r\n"}, false, 0},
    {"Nothing", {}, false, 0},
    {"NameInTheSecondChunk", {padded("HTTP/1.0 200 OK\r\nX: ", 254) + "\n", "Content-Length: 99\r\n\r\n"}, true, 99},
    // Each chunk stands alone: what the chunk's end cuts is no value.
    {"NameEndsTheChunk", {endingWith("\r\nContent-Length"), ": 1234\r\n\r\n"}, false, 0},
    {"ValueCutByTheChunkEnd", {endingWith("\r\nContent-Length: 12"), "34\r\n\r\n"}, false, 0},
    {"NulBytesInAToken", {std::string("HTTP/1.0 200 OK\r\nContent-Length: 8\0\0\r\n\r\n", 40)}, true, 8},
};

class HeadReplyTest : public ::testing::TestWithParam<HeadCase> {};

TEST_P(HeadReplyTest, FindsTheContentLength) {
    const HeadCase& c = GetParam();
    HeadReply reply;
    std::uint32_t total = 0;
    for (const std::string& chunk : c.chunks) {
        ASSERT_LE(chunk.size(), HTTP_HEAD_CHUNK);
        reply.take(chunk.data(), chunk.size());
        total += static_cast<std::uint32_t>(chunk.size());
    }
    EXPECT_EQ(reply.found(), c.found);
    EXPECT_EQ(reply.contentLength(), c.contentLength);
    EXPECT_EQ(reply.length(), total);
}

INSTANTIATE_TEST_SUITE_P(Replies, HeadReplyTest, ::testing::ValuesIn(headCases),
                         ::testing::PrintToStringParamName());

TEST(HeadReply, TellsTheTokensAndTheLengthItTakes) {
    std::vector<std::string> seen;
    HeadReply reply([&](HeadReply::Event event, const char* token, std::uint32_t value) {
        const char* kind = event == HeadReply::Event::Token ? "+" : event == HeadReply::Event::LengthName ? "*" : "=";
        seen.push_back(kind + std::string(token) + (event == HeadReply::Event::LengthValue ? "/" + std::to_string(value) : ""));
    });
    const std::string text = "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n";
    reply.take(text.data(), text.size());
    EXPECT_EQ(seen, (std::vector<std::string>{"+HTTP/1.0", "+200", "+OK", "+Content-Length", "*Content-Length",
                                              "=10/10"}));
}

TEST(HeadReply, LongInputIsTakenInChunks) {
    // 600 bytes at once are three chunks; the name cut by the first chunk's end is
    // lost as it would be on the wire.
    std::string text = endingWith("\r\nContent-Length") + ": 5\r\n";
    text.resize(600, ' ');
    HeadReply reply;
    reply.take(text.data(), text.size());
    EXPECT_FALSE(reply.found());
    EXPECT_EQ(reply.length(), 600u);
}

TEST(GetReply, FindsTheEndOfTheHeaderAndTheStatus) {
    struct Case {
        const char* what;
        std::string text;
        std::uint32_t end;
        int status;
    } cases[] = {
        {"crlf", "HTTP/1.0 200 OK\r\nA: b\r\n\r\nbody", 25, 200},
        {"lf only", "HTTP/1.1 404 Not Found\nA: b\n\nbody", 29, 404},
        {"blank line not yet arrived", "HTTP/1.0 200 OK\r\nA: b\r\n", 0, 200},
        {"lone cr at the end", "HTTP/1.0 200 OK\r\n\r", 0, 200},
        {"no status line", "hello\r\n\r\n", 9, -1},
        {"status cut short", "HTTP/1.0 20", 0, -1},
        {"status not digits", "HTTP/1.0 2x0 OK\r\n\r\n", 19, -1},
        {"several blanks", "HTTP/1.0   500 Oops\r\n\r\n", 23, 500},
        {"empty", "", 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto length = static_cast<std::uint32_t>(c.text.size());
        EXPECT_EQ(responseHeaderEnd(c.text.data(), length), c.end);
        EXPECT_EQ(responseStatus(c.text.data(), length), c.status);
    }
}

TEST(Request, IsComposedFromItsPiecesWhenItFits) {
    const std::string agent = "\r\nUser-Agent: QUORVEL/ZERO(1st impact; Windows CE; ARM)\r\n\r\n";
    // 178 bytes are left for file and host names together in either request.
    struct Case {
        const char* what;
        const char* method;
        std::string file, host;
        bool fits;
    } cases[] = {
        {"get", "GET ", "/boot/tamsel.gz", "127.0.0.1", true},
        {"head", "HEAD ", "/boot/tamsel.gz", "server", true},
        {"head filling the buffer", "HEAD ", "/" + std::string(168, 'x'), "127.0.0.1", true},
        {"head one byte over", "HEAD ", "/" + std::string(169, 'x'), "127.0.0.1", false},
        {"get refused as head would be", "GET ", "/" + std::string(169, 'x'), "127.0.0.1", false},
        {"long host", "GET ", "/k", std::string(200, 'h'), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        char request[HTTP_REQUEST_SIZE];
        std::memset(request, 'z', sizeof request);
        ASSERT_EQ(composeRequest(request, c.method, c.file.c_str(), c.host.c_str()), c.fits);
        if (c.fits) {
            EXPECT_EQ(std::string(request), c.method + c.file + " HTTP/1.0\r\nHOST: " + c.host + agent);
        } else {
            EXPECT_STREQ(request, "");
        }
    }
}

}  // namespace
