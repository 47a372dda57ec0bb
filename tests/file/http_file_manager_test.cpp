// The HTTP backend against real servers on loopback ports (Python's http.server,
// nginx) and a scripted server for the answers real servers do not give.
#include "file/http_file_manager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "platform/os_version.h"
#include "platform/coredll.h"
#include "sim/utf.h"
#include "support/device.h"
#include "support/http_servers.h"
#include "support/recording_console.h"
#include "support/test_data.h"

using namespace quorvel;
using testing_support::HttpServer;
using testing_support::RecordingConsole;
using testing_support::TempDir;
using testing_support::TestDevice;

namespace {

std::u16string wide(const std::string& text) { return sim::fromUtf8(text); }

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class HttpBackend : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root = new TempDir;
        std::ofstream(root->path() / "kernel.bin", std::ios::binary) << testing_support::randomData(300000, 1);
        std::ofstream(root->path() / "other.bin", std::ios::binary) << testing_support::randomData(5000, 2);
        std::string failure;
        python = HttpServer::start(HttpServer::Kind::Python, root->path(), &failure).release();
        ASSERT_NE(python, nullptr) << failure;
        nginx = HttpServer::start(HttpServer::Kind::Nginx, root->path(), &failure).release();
        ASSERT_NE(nginx, nullptr) << failure;
        scripted = HttpServer::start(HttpServer::Kind::Scripted, root->path(), &failure).release();
        ASSERT_NE(scripted, nullptr) << failure;
    }
    static void TearDownTestSuite() {
        delete python;
        delete nginx;
        delete scripted;
        delete root;
    }

    void SetUp() override { osVersion = {}; }
    void TearDown() override { osVersion = {}; }

    static std::u16string location(const HttpServer* server, const std::string& host = "127.0.0.1",
                                   const std::string& path = "/") {
        return wide("http://" + host + ":" + std::to_string(server->port()) + path);
    }

    // A backend whose server is located, with the console cleared.
    std::unique_ptr<HttpFileManager> connected(const HttpServer* server) {
        auto manager = std::make_unique<HttpFileManager>(console.slot);
        EXPECT_EQ(manager->setLocation(location(server).c_str()), 1) << console.text();
        console.clear();
        return manager;
    }

    static std::string kernel() { return testing_support::randomData(300000, 1); }

    static TempDir* root;
    static HttpServer *python, *nginx, *scripted;
    TestDevice device;
    RecordingConsole console;
};
TempDir* HttpBackend::root = nullptr;
HttpServer* HttpBackend::python = nullptr;
HttpServer* HttpBackend::nginx = nullptr;
HttpServer* HttpBackend::scripted = nullptr;

TEST_F(HttpBackend, AnnouncesItselfAndChoosesWinSockByVersion) {
    struct Case {
        ce::DWORD major, minor;
        bool system;
    } cases[] = {{0, 0, false}, {2, 12, false}, {3, 0, false}, {3, 10, false}, {3, 11, true}, {4, 20, true}, {5, 0, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.major) + "." + std::to_string(c.minor));
        osVersion.dwMajorVersion = c.major;
        osVersion.dwMinorVersion = c.minor;
        std::uint64_t startups = device->faults().calls("WSAStartup");
        std::uint64_t cleanups = device->faults().calls("WSACleanup");
        console.clear();
        {
            HttpFileManager manager(console.slot);
            EXPECT_EQ(console.prints(), std::vector<std::u16string>{u"FileManager: HTTP\n"});
            EXPECT_EQ(manager.debugLevel, 1);
            EXPECT_EQ(manager.setLocation(location(scripted).c_str()), 1);
        }
        EXPECT_EQ(device->faults().calls("WSAStartup") - startups, c.system ? 1u : 0u);
        EXPECT_EQ(device->faults().calls("WSACleanup") - cleanups, c.system ? 1u : 0u);
    }
}

TEST_F(HttpBackend, LocatesTheServer) {
    std::string port = std::to_string(scripted->port());
    device->settings().hosts["boot.test"] = {"127.0.0.2", "127.0.0.1"};
    device->settings().hosts["dead.test"] = {"127.0.0.3"};
    device->settings().hosts["empty.test"] = {};
    struct Case {
        std::string directory;
        ce::BOOL result;
        std::vector<std::u16string> prints;
        int port;  // expected in the last connection tried; 0: not checked
    } cases[] = {
        {"http://127.0.0.1:" + port + "/", 1, {u"127.0.0.1 ", u"(127.0.0.1) connected.\n"}, scripted->port()},
        {"http://localhost:" + port + "/boot/kernels/", 1, {u"127.0.0.1 ", u"(localhost) connected.\n"}, scripted->port()},
        {"http://boot.test:" + port + "/", 1, {u"127.0.0.2 ", u"127.0.0.1 ", u"(boot.test) connected.\n"}, scripted->port()},
        {"http://dead.test:" + port + "/", 0, {u"127.0.0.3 ", u"can't connect server.\n"}, 0},
        {"http://empty.test:" + port + "/", 0, {u"can't connect server.\n"}, 0},
        {"http://no-such-host.invalid/", 0, {u"can't get host by name.\n"}, 0},
        {"http://dead.test/", 0, {u"127.0.0.3 ", u"can't connect server.\n"}, 80},
        {"http://dead.test/8080/", 0, {u"127.0.0.3 ", u"can't connect server.\n"}, 80},
        {"http://dead.test:8080/kernels", 0, {u"127.0.0.3 ", u"can't connect server.\n"}, 8080},
        {"http://dead.test:73616/", 0, {u"127.0.0.3 ", u"can't connect server.\n"}, 73616 & 0xFFFF},
        {"ftp://127.0.0.1:" + port + "/", 0, {}, 0},
        {"\\Storage Card\\", 0, {}, 0},
        {"http://", 0, {u"can't convert to ASCII.\n"}, 0},
        {"http://" + std::string(300, 'h') + "/", 0, {u"buffer insufficeint. 301 > 260\n"}, 0},
    };
    // The addresses the backend connects to, "a.b.c.d:port", as the device sees them.
    std::vector<std::u16string> connects;
    device->faults().watch([&](const sim::FaultCall& call) {
        if (call.service == "connect") connects.emplace_back(call.name);
    });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.directory.substr(0, 60));
        console.clear();
        HttpFileManager manager(console.slot);
        console.clear();
        connects.clear();
        EXPECT_EQ(manager.setLocation(wide(c.directory).c_str()), c.result);
        EXPECT_EQ(console.prints(), c.prints) << console.text();
        if (c.port) {
            ASSERT_FALSE(connects.empty());
            EXPECT_TRUE(connects.back().ends_with(wide(":" + std::to_string(c.port)))) << sim::toUtf8(connects.back());
        }
    }
}

TEST_F(HttpBackend, ConvertsADottedHostTheResolverDoesNotKnow) {
    device->faults().failWhen("gethostbyname", [](const sim::FaultCall& call) { return call.name == u"127.0.0.1"; });
    HttpFileManager manager(console.slot);
    console.clear();
    EXPECT_EQ(manager.setLocation(location(scripted).c_str()), 1);
    EXPECT_EQ(console.prints(), (std::vector<std::u16string>{u"127.0.0.1 ", u"(127.0.0.1) connected.\n"}));

    device->faults().failWhen("connect", [](const sim::FaultCall&) { return true; });
    console.clear();
    EXPECT_EQ(manager.setLocation(location(scripted).c_str()), 0);
    EXPECT_EQ(console.prints(), (std::vector<std::u16string>{u"127.0.0.1 ", u"can't connect server.\n"}));
}

TEST_F(HttpBackend, ReportsWinSockFailures) {
    osVersion.dwMajorVersion = 4;
    struct Case {
        const char* service;
        std::uint32_t limit;
        std::u16string message;
    } cases[] = {
        {"WSAStartup", 0, u"WinSock initialize failed.\n"},
        {"WSAStartup", 0x0202, u"can't use WinSock DLL.\n"},
        {"WSAStartup", 0x0001, u"can't use WinSock DLL.\n"},
        {"socket", 0, u"can't open socket. cause=10055\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(sim::toUtf8(c.message));
        device->faults().clear();
        device->faults().failWhen(c.service, [](const sim::FaultCall&) { return true; }, c.limit);
        HttpFileManager manager(console.slot);
        console.clear();
        EXPECT_EQ(manager.setLocation(location(scripted).c_str()), 0);
        EXPECT_EQ(console.prints(), std::vector<std::u16string>{c.message});
    }
}

TEST_F(HttpBackend, SizesAFileWithAHeadRequest) {
    auto manager = connected(scripted);
    struct Case {
        const char* path;
        std::uint32_t size;
        std::vector<std::u16string> prints;
    } cases[] = {
        {"/plain/1234", 1234, {u"open http://127.0.0.1/plain/1234 - header 59 byte contents 1234 byte\n"}},
        {"/lower/1234", 1234, {u"open http://127.0.0.1/lower/1234 - header 59 byte contents 1234 byte\n"}},
        {"/no-length", 0, {u"No Content-Length.\n"}},
        // The name ends the first 255-byte chunk; its value lies in the next.
        {"/boundary", 0, {u"No Content-Length.\n"}},
        // The digits are cut by the chunk boundary: no value rather than a wrong one.
        {"/value-split", 0, {u"No Content-Length.\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        ASSERT_EQ(manager->open(wide(c.path).c_str(), 3), 1);
        console.clear();
        EXPECT_EQ(manager->storedSize(), c.size);
        EXPECT_EQ(console.prints(), c.prints);
        EXPECT_EQ(manager->size(), c.size);
        std::string buffer(100, '\0');
        if (c.size == 0) {
            EXPECT_EQ(manager->read(buffer.data(), 100), 0);
        }
        EXPECT_EQ(manager->close(), 1);
    }
}

TEST_F(HttpBackend, PrintsTheDebugLinesOfItsLevel) {
    // The HEAD reply is received in chunks filled as every receive is, and printed
    // alike; the empty chunk after it ends the reply.
    std::vector<std::u16string> head = {u"size 255 readed 61 byte(+61)\n",
                                        u"total read 61 byte\n",
                                        u"+token: HTTP/1.0\n",
                                        u"+token: 200\n",
                                        u"+token: OK\n",
                                        u"+token: Server\n",
                                        u"+token: scripted\n",
                                        u"+token: Content-Length\n",
                                        u"*token: Content-Length\n",
                                        u"*content-length=100000\n",
                                        u"total read 0 byte\n",
                                        u"open http://127.0.0.1/plain/100000 - header 61 byte contents 100000 byte\n"};
    for (int level : {1, 2, 3}) {
        SCOPED_TRACE(level);
        auto manager = connected(scripted);
        manager->debugLevel = level;
        ASSERT_EQ(manager->open(u"/plain/100000", 3), 1);
        std::string buffer(100000, '\0');
        ASSERT_EQ(manager->read(buffer.data(), 100000), 100000);
        EXPECT_TRUE(buffer == testing_support::patternBytes(100000));
        std::vector<std::u16string> prints = console.prints();
        if (level < 3) {
            std::vector<std::u16string> expected = {head.back()};
            if (level == 2) {
                expected = {u"total read 61 byte\n", u"total read 0 byte\n", head.back(), u"total read 100000 byte\n"};
            }
            EXPECT_EQ(prints, expected);
            continue;
        }
        ASSERT_GT(prints.size(), head.size() + 1);
        EXPECT_EQ(std::vector<std::u16string>(prints.begin(), prints.begin() + static_cast<std::ptrdiff_t>(head.size())), head);
        EXPECT_EQ(prints.back(), u"total read 100000 byte\n");
        std::regex step("size 100000 readed ([0-9]+) byte\\(\\+([0-9]+)\\)\n");
        int before = -1;
        for (std::size_t i = head.size(); i + 1 < prints.size(); ++i) {
            std::smatch match;
            std::string line = sim::toUtf8(prints[i]);
            ASSERT_TRUE(std::regex_match(line, match, step)) << line;
            int total = std::stoi(match[1]), added = std::stoi(match[2]);
            if (before >= 0) {
                EXPECT_EQ(total, before + added);
            }
            before = total;
        }
        EXPECT_EQ(before, 100000);
    }
}

class RealServer : public HttpBackend, public ::testing::WithParamInterface<HttpServer::Kind> {
protected:
    const HttpServer* server() const { return GetParam() == HttpServer::Kind::Python ? python : nginx; }
};

TEST_P(RealServer, DownloadsOnceAndServesReadsFromTheCopy) {
    std::size_t gets = count(server()->log(), "GET /kernel.bin");
    std::size_t heads = count(server()->log(), "HEAD /kernel.bin");
    auto manager = connected(server());
    ASSERT_EQ(manager->open(u"/kernel.bin", 3), 1);
    EXPECT_TRUE(console.prints().empty());  // opening costs no traffic
    const std::string body = kernel();
    std::string buffer(200, '\0');
    struct Case {
        const char* what;
        std::uint32_t length;
        std::int32_t offset;
        std::size_t from;  // expected first byte
        std::int32_t result;
    } cases[] = {
        {"first read at the position", 100, -1, 0, 100},
        {"second read at the position", 100, -1, 100, 100},
        {"explicit offset", 100, 50, 50, 100},
        {"position unchanged by it", 100, -1, 200, 100},
        {"inside, running past the end", 200, 299950, 299950, 50},
        {"at the end", 100, 300000, 0, 0},
        {"beyond the end", 100, 400000, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::int32_t n = manager->read(buffer.data(), c.length, c.offset);
        ASSERT_EQ(n, c.result);
        EXPECT_TRUE(buffer.substr(0, static_cast<std::size_t>(n)) == body.substr(c.from, static_cast<std::size_t>(n)));
    }
    EXPECT_EQ(manager->seek(299990), 1);
    EXPECT_EQ(manager->read(buffer.data(), 100), 10);
    EXPECT_EQ(manager->storedSize(), 300000u);
    EXPECT_EQ(manager->write("x", 1), 0);
    manager.reset();
    EXPECT_EQ(count(server()->log(), "GET /kernel.bin") - gets, 1u) << server()->log();
    // One HEAD for the first read, one for storedSize.
    EXPECT_EQ(count(server()->log(), "HEAD /kernel.bin") - heads, 2u);
}

TEST_P(RealServer, ANewOpenDownloadsTheNewFile) {
    auto manager = connected(server());
    std::string buffer(300000, '\0');
    ASSERT_EQ(manager->open(u"/kernel.bin", 3), 1);
    ASSERT_EQ(manager->read(buffer.data(), 300000), 300000);
    EXPECT_TRUE(buffer == kernel());
    EXPECT_EQ(manager->close(), 1);
    EXPECT_EQ(manager->read(buffer.data(), 10, 0), 10);  // the copy outlives close
    ASSERT_EQ(manager->open(u"/other.bin", 3), 1);
    ASSERT_EQ(manager->read(buffer.data(), 300000), 5000);
    EXPECT_TRUE(buffer.substr(0, 5000) == testing_support::randomData(5000, 2));
    ASSERT_EQ(manager->open(u"/missing.bin", 3), 1);
    EXPECT_EQ(manager->read(buffer.data(), 100), -1);
    EXPECT_NE(console.text().find("GET http://127.0.0.1/missing.bin: status 404.\n"), std::string::npos) << console.text();
}

INSTANTIATE_TEST_SUITE_P(Http, RealServer, ::testing::Values(HttpServer::Kind::Python, HttpServer::Kind::Nginx),
                         ::testing::PrintToStringParamName());

TEST_F(HttpBackend, FindsTheBodyBehindTheBlankLineOfTheGetResponse) {
    auto manager = connected(scripted);
    const char* paths[] = {"/head-short/50000", "/head-long/50000", "/lf-only/50000", "/split/50000", "/plain/0"};
    for (const char* path : paths) {
        SCOPED_TRACE(path);
        std::size_t size = std::stoul(std::string(path).substr(std::string(path).rfind('/') + 1));
        ASSERT_EQ(manager->open(wide(path).c_str(), 3), 1);
        std::string buffer(60000, '\0');
        ASSERT_EQ(manager->read(buffer.data(), 60000), static_cast<std::int32_t>(size)) << console.text();
        EXPECT_TRUE(buffer.substr(0, size) == testing_support::patternBytes(size));
    }
}

TEST_F(HttpBackend, FailsReadsOfBadResponsesClearly) {
    auto manager = connected(scripted);
    struct Case {
        const char* path;
        std::u16string message;
    } cases[] = {
        {"/status/404/100", u"GET http://127.0.0.1/status/404/100: status 404.\n"},
        {"/status/500/100", u"GET http://127.0.0.1/status/500/100: status 500.\n"},
        {"/endless-header/100", u"GET http://127.0.0.1/endless-header/100: no response header within 8192 byte.\n"},
        {"/cut-header/100", u"GET http://127.0.0.1/cut-header/100: response header cut short at 35 byte.\n"},
        {"/short/10000", u"GET http://127.0.0.1/short/10000: 5000 of 10000 byte received.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        ASSERT_EQ(manager->open(wide(c.path).c_str(), 3), 1);
        console.clear();
        std::string buffer(100, '\0');
        EXPECT_EQ(manager->read(buffer.data(), 100), -1);
        ASSERT_FALSE(console.prints().empty());
        EXPECT_EQ(console.prints().back(), c.message);
        // Nothing was kept: the next read asks the server again.
        console.clear();
        EXPECT_EQ(manager->read(buffer.data(), 100, 0), -1);
        EXPECT_EQ(console.prints(), std::vector<std::u16string>{c.message});
    }
}

TEST_F(HttpBackend, AFailingReceiveEndsTheDownloadWithoutCountingIt) {
    auto manager = connected(scripted);
    ASSERT_EQ(manager->open(u"/plain/200000", 3), 1);
    manager->debugLevel = 2;
    // The first receive after the GET is sent brings the header; the next one fails.
    std::uint64_t sends = 0, afterGet = 0;
    device->faults().failWhen("send", [&sends](const sim::FaultCall& call) {
        sends = call.index + 1;
        return false;
    });
    std::uint64_t firstSend = device->faults().calls("send");
    device->faults().failWhen("recv", [&](const sim::FaultCall&) { return sends == firstSend + 2 && ++afterGet >= 2; });
    std::string buffer(100, '\0');
    EXPECT_EQ(manager->read(buffer.data(), 100), -1);
    std::vector<std::u16string> prints = console.prints();
    ASSERT_GE(prints.size(), 2u);
    std::smatch total, message;
    std::string totalLine = sim::toUtf8(prints[prints.size() - 2]), messageLine = sim::toUtf8(prints.back());
    ASSERT_TRUE(std::regex_match(totalLine, total, std::regex("total read ([0-9]+) byte\n"))) << totalLine;
    ASSERT_TRUE(std::regex_match(messageLine, message,
                                 std::regex("GET http://127.0.0.1/plain/200000: ([0-9]+) of 200000 byte received.\n")))
        << messageLine;
    EXPECT_EQ(total[1], message[1]);
    EXPECT_LT(std::stoi(message[1]), 200000);
}

TEST_F(HttpBackend, RefusesRequestsThatDoNotFitTheBuffer) {
    auto manager = connected(scripted);
    // HEAD takes 81 bytes of the 260 besides the names: 178 are left for both names,
    // and the host "127.0.0.1" takes 9 of them.
    std::string fits = "/plain/" + std::string(169 - 7 - 5, 'x') + "/1234";
    ASSERT_EQ(fits.size(), 169u);
    ASSERT_EQ(manager->open(wide(fits).c_str(), 3), 1);
    EXPECT_EQ(manager->storedSize(), 1234u);
    std::string buffer(2000, '\0');
    EXPECT_EQ(manager->read(buffer.data(), 2000), 1234);

    std::string tooLong = "/plain/" + std::string(170 - 7 - 5, 'x') + "/1234";
    ASSERT_EQ(manager->open(wide(tooLong).c_str(), 3), 1);
    console.clear();
    EXPECT_EQ(manager->storedSize(), 0u);
    std::u16string refused = u"request for http://127.0.0.1" + wide(tooLong) + u" too long.\n";
    EXPECT_EQ(console.prints(), std::vector<std::u16string>{refused});
    console.clear();
    // GET alone would fit; the names are refused for both requests alike.
    EXPECT_EQ(manager->read(buffer.data(), 100), -1);
    EXPECT_EQ(console.prints(), (std::vector<std::u16string>{refused, refused}));
}

TEST_F(HttpBackend, AHeadReplyArrivingInSmallSegmentsKeepsItsLength) {
    for (HttpServer* server : {python, nginx}) {
        for (std::uint32_t segment : {1u, 7u, 16u, 100u}) {
            SCOPED_TRACE(std::to_string(segment) + "-byte segments");
            auto manager = connected(server);
            ASSERT_EQ(manager->open(u"/kernel.bin", 3), 1);
            device->faults().failWhen("recv", [](const sim::FaultCall&) { return true; }, segment);
            EXPECT_EQ(manager->storedSize(), 300000u) << console.text();
            std::string buffer(100, '\0');
            EXPECT_EQ(manager->read(buffer.data(), 100, 299900), 100);
            EXPECT_TRUE(buffer == kernel().substr(299900));
            device->faults().clear();
        }
    }
}

TEST_F(HttpBackend, ARefusedConnectionIsReportedWhereItHappens) {
    const std::u16string refused =
        u"can't connect server 127.0.0.1:" + wide(std::to_string(scripted->port())) + u". cause=10061\n";
    struct Case {
        const char* what;
        std::uint64_t refuseFrom;  // connect calls after the location's own
        std::int32_t read;
        std::vector<std::u16string> prints;
    } cases[] = {
        {"every request refused", 0, 0, {refused}},
        {"the GET refused after the HEAD", 1, -1,
         {u"open http://127.0.0.1/plain/100 - header 58 byte contents 100 byte\n", refused}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto manager = connected(scripted);
        ASSERT_EQ(manager->open(u"/plain/100", 3), 1);
        std::uint64_t first = device->faults().calls("connect") + c.refuseFrom;
        device->faults().failWhen("connect", [first](const sim::FaultCall& call) { return call.index >= first; });
        std::string buffer(100, '\0');
        EXPECT_EQ(manager->read(buffer.data(), 100), c.read);
        EXPECT_EQ(console.prints(), c.prints);
        device->faults().clear();
    }
    auto manager = connected(scripted);
    ASSERT_EQ(manager->open(u"/plain/100", 3), 1);
    device->faults().failAlways("connect");
    EXPECT_EQ(manager->storedSize(), 0u);
    EXPECT_EQ(console.prints(), std::vector<std::u16string>{refused});
}

TEST_F(HttpBackend, ReadsNothingWhenNoSocketCanBeMade) {
    auto manager = connected(scripted);
    ASSERT_EQ(manager->open(u"/plain/100", 3), 1);
    device->faults().failWhen("socket", [](const sim::FaultCall&) { return true; });
    EXPECT_EQ(manager->storedSize(), 0u);
    EXPECT_EQ(console.prints(), std::vector<std::u16string>{u"can't open socket.\n"});
    console.clear();
    std::string buffer(100, '\0');
    EXPECT_EQ(manager->read(buffer.data(), 100), 0);
    EXPECT_EQ(console.prints(), std::vector<std::u16string>{u"can't open socket.\n"});  // from the HEAD only
}

}  // namespace
