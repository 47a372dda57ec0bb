// WinSock on the simulated handheld: real loopback connections with Windows error
// conventions, the device's host table, and the failures a test can inject.
#include "platform/winsock.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/device.h"
#include "support/http_servers.h"

using namespace ce;
using testing_support::HttpServer;
using testing_support::TestDevice;

namespace {

sockaddr_in loopback(WORD port, const char* address = "127.0.0.1") {
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    where.sin_addr.s_addr = inet_addr(address);
    return where;
}

int connectTo(SOCKET s, const sockaddr_in& where) {
    return connect(s, reinterpret_cast<const sockaddr*>(&where), sizeof where);
}

std::string dotted(const char* bytes) {
    auto* b = reinterpret_cast<const unsigned char*>(bytes);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." + std::to_string(b[3]);
}

class WinSockServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string failure;
        server = HttpServer::start(HttpServer::Kind::Scripted, ".", &failure).release();
        ASSERT_NE(server, nullptr) << failure;
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    static HttpServer* server;
    TestDevice device;
};
HttpServer* WinSockServer::server = nullptr;

TEST_F(WinSockServer, ExchangesBytesOverALoopbackConnection) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(s, INVALID_SOCKET);
    ASSERT_EQ(connectTo(s, loopback(server->port())), 0);
    const char request[] = "GET /plain/3000 HTTP/1.0\r\n\r\n";
    EXPECT_EQ(send(s, request, static_cast<int>(std::strlen(request)), 0), static_cast<int>(std::strlen(request)));
    std::string response;
    char buffer[1000];
    int n;
    while ((n = recv(s, buffer, sizeof buffer, 0)) > 0) response.append(buffer, static_cast<std::size_t>(n));
    EXPECT_EQ(n, 0);  // the server closed the connection
    ASSERT_GT(response.size(), 3000u);
    EXPECT_EQ(response.substr(0, 15), "HTTP/1.0 200 OK");
    EXPECT_EQ(response.substr(response.size() - 3000), testing_support::patternBytes(3000));
    EXPECT_EQ(closesocket(s), 0);
    EXPECT_EQ(closesocket(s), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), static_cast<int>(WSAENOTSOCK));
}

TEST_F(WinSockServer, ASocketConnectsAgainAfterARefusal) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(connectTo(s, loopback(testing_support::freeLoopbackPort())), SOCKET_ERROR);
    EXPECT_EQ(GetLastError(), WSAECONNREFUSED);
    EXPECT_EQ(connectTo(s, loopback(server->port(), "127.0.0.2")), SOCKET_ERROR);
    ASSERT_EQ(connectTo(s, loopback(server->port())), 0);
    EXPECT_EQ(connectTo(s, loopback(server->port())), SOCKET_ERROR);
    EXPECT_EQ(GetLastError(), WSAEISCONN);
    const char request[] = "HEAD /plain/7 HTTP/1.0\r\n\r\n";
    EXPECT_EQ(send(s, request, static_cast<int>(std::strlen(request)), 0), static_cast<int>(std::strlen(request)));
    char buffer[15];
    EXPECT_EQ(recv(s, buffer, sizeof buffer, 0), 15);
    EXPECT_EQ(std::string(buffer, 15), "HTTP/1.0 200 OK");
    closesocket(s);
}

TEST_F(WinSockServer, FaultsRefuseConnectionsAndCutReceives) {
    device->faults().failWhen("connect", [](const sim::FaultCall& call) { return call.address == 0x7F000002; });
    device->faults().failOnCall("recv", 0);
    device->faults().failWhen("recv", [](const sim::FaultCall& call) { return call.index == 1; }, 5);

    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(connectTo(s, loopback(server->port(), "127.0.0.2")), SOCKET_ERROR);
    EXPECT_EQ(GetLastError(), WSAECONNREFUSED);
    ASSERT_EQ(connectTo(s, loopback(server->port())), 0);
    const char request[] = "GET /plain/100 HTTP/1.0\r\n\r\n";
    send(s, request, static_cast<int>(std::strlen(request)), 0);
    char buffer[64];
    EXPECT_EQ(recv(s, buffer, sizeof buffer, 0), SOCKET_ERROR);
    EXPECT_EQ(GetLastError(), WSAECONNRESET);
    EXPECT_EQ(recv(s, buffer, sizeof buffer, 0), 5);
    EXPECT_EQ(std::string(buffer, 5), "HTTP/");
    closesocket(s);
}

TEST(WinSock, ReportsWindowsErrorCodes) {
    TestDevice device;
    struct Case {
        const char* what;
        int family, type, protocol;
        DWORD error;
    } cases[] = {
        {"IPv6 is not offered", 23, SOCK_STREAM, 0, WSAEAFNOSUPPORT},
        {"datagrams are not offered", AF_INET, 2, 0, WSAESOCKTNOSUPPORT},
        {"UDP over a stream", AF_INET, SOCK_STREAM, 17, WSAEPROTONOSUPPORT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(socket(c.family, c.type, c.protocol), INVALID_SOCKET);
        EXPECT_EQ(WSAGetLastError(), static_cast<int>(c.error));
    }

    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(s, INVALID_SOCKET);
    std::uint16_t closed = testing_support::freeLoopbackPort();
    EXPECT_EQ(connectTo(s, loopback(closed)), SOCKET_ERROR);
    EXPECT_EQ(GetLastError(), WSAECONNREFUSED);
    char byte = 0;
    EXPECT_EQ(recv(s, &byte, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(GetLastError(), WSAENOTCONN);
    EXPECT_EQ(connect(s, nullptr, 16), SOCKET_ERROR);
    EXPECT_EQ(GetLastError(), WSAEFAULT);
    closesocket(s);
    EXPECT_EQ(send(s, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(GetLastError(), WSAENOTSOCK);

    device->faults().failOnCall("socket", device->faults().calls("socket"));
    EXPECT_EQ(socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(GetLastError(), WSAENOBUFS);
}

TEST(WinSock, ReceiveGivesUpAfterTheDeviceTimeout) {
    sim::DeviceSettings settings;
    settings.socketTimeout = std::chrono::milliseconds(200);
    TestDevice device(settings);
    testing_support::SilentListener listener;
    ASSERT_NE(listener.port(), 0);
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(connectTo(s, loopback(listener.port())), 0);
    char byte;
    EXPECT_EQ(recv(s, &byte, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(GetLastError(), WSAETIMEDOUT);
    closesocket(s);
}

TEST(WinSock, StartupAgreesToTheRequestedVersion) {
    TestDevice device;
    struct Case {
        WORD requested;
        int result;
        WORD agreed;
    } cases[] = {{0x0101, 0, 0x0101}, {0x0202, 0, 0x0202}, {0x0303, 0, 0x0202}, {0x0000, static_cast<int>(WSAVERNOTSUPPORTED), 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.requested);
        WSADATA data{};
        EXPECT_EQ(WSAStartup(c.requested, &data), c.result);
        if (c.result == 0) {
            EXPECT_EQ(data.wVersion, c.agreed);
            EXPECT_EQ(data.wHighVersion, 0x0202);
        }
    }
    WSADATA data{};
    device->faults().failOnCall("WSAStartup", device->faults().calls("WSAStartup"));
    EXPECT_EQ(WSAStartup(0x0101, &data), static_cast<int>(WSASYSNOTREADY));
    device->faults().failWhen("WSAStartup", [](const sim::FaultCall&) { return true; }, 0x0002);
    EXPECT_EQ(WSAStartup(0x0101, &data), 0);
    EXPECT_EQ(data.wVersion, 0x0002);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(device->faults().calls("WSAStartup"), 6u);
}

TEST(WinSock, ResolvesFromTheDeviceTableThenTheHost) {
    sim::DeviceSettings settings;
    settings.hosts["boot.example"] = {"127.0.0.2", "127.0.0.1", "not an address"};
    settings.hosts["empty.example"] = {};
    TestDevice device(settings);

    hostent* entry = gethostbyname("BOOT.example");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->h_addrtype, AF_INET);
    EXPECT_EQ(entry->h_length, 4);
    ASSERT_NE(entry->h_addr_list[0], nullptr);
    ASSERT_NE(entry->h_addr_list[1], nullptr);
    EXPECT_EQ(entry->h_addr_list[2], nullptr);
    EXPECT_EQ(dotted(entry->h_addr_list[0]), "127.0.0.2");
    EXPECT_EQ(dotted(entry->h_addr_list[1]), "127.0.0.1");

    entry = gethostbyname("empty.example");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->h_addr_list[0], nullptr);

    entry = gethostbyname("localhost");
    ASSERT_NE(entry, nullptr);
    ASSERT_NE(entry->h_addr_list[0], nullptr);
    EXPECT_EQ(dotted(entry->h_addr_list[0]), "127.0.0.1");

    EXPECT_EQ(gethostbyname("no-such-host.invalid"), nullptr);
    EXPECT_EQ(GetLastError(), WSAHOST_NOT_FOUND);

    device->faults().failWhen("gethostbyname", [](const sim::FaultCall& call) { return call.name == u"localhost"; });
    EXPECT_EQ(gethostbyname("localhost"), nullptr);
    EXPECT_EQ(GetLastError(), WSAHOST_NOT_FOUND);
}

TEST(WinSock, ConvertsDottedAddresses) {
    struct Case {
        const char* text;
        ULONG network;
    } cases[] = {
        {"127.0.0.1", htonl(0x7F000001)}, {"10.1.2.3", htonl(0x0A010203)}, {"192.168.0.255", htonl(0xC0A800FF)},
        {"256.1.1.1", INADDR_NONE},      {"boot.example", INADDR_NONE},   {"", INADDR_NONE},
        {"1.2.3.4x", INADDR_NONE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(inet_addr(c.text), c.network);
    }
    EXPECT_EQ(inet_addr(nullptr), INADDR_NONE);
}

}  // namespace
