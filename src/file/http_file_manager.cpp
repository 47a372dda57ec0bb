// The HTTP backend: server lookup and test connection, HEAD for the size, one GET
// for the body, reads served from the downloaded copy.
#include "file/http_file_manager.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "file/http_connection.h"
#include "platform/coredll.h"
#include "platform/os_version.h"

namespace quorvel {

namespace {

std::uint32_t parsePort(const ce::WCHAR* text, std::size_t length) {
    std::size_t i = 0;
    while (i < length && (text[i] == u' ' || text[i] == u'\t')) ++i;
    bool negative = false;
    if (i < length && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    std::uint32_t value = 0;
    for (; i < length && text[i] >= u'0' && text[i] <= u'9'; ++i) value = value * 10 + static_cast<std::uint32_t>(text[i] - u'0');
    return negative ? 0u - value : value;
}

bool versionOneDotOne(const ce::WSADATA& data) { return ce::LOBYTE(data.wVersion) == 1 && ce::HIBYTE(data.wVersion) == 1; }

}  // namespace

HttpFileManager::HttpFileManager(Console*& consoleIn) : FileManager(consoleIn) {
    debugLevel = 1;
    hostName[0] = '\0';
    resetFile();
    say(u"FileManager: HTTP\n");
    // Windows CE before 3.11 has no usable WSAStartup; the record is all zero until
    // the first system report of the process.
    if (osVersion.dwMajorVersion > 3 || (osVersion.dwMajorVersion == 3 && osVersion.dwMinorVersion >= 11)) {
        startup = ce::WSAStartup;
        cleanup = ce::WSACleanup;
    } else {
        startup = builtinStartup;
        cleanup = builtinCleanup;
    }
}

HttpFileManager::~HttpFileManager() { cleanup(); }

int HttpFileManager::builtinStartup(ce::WORD version, ce::WSADATA* data) {
    std::memset(data, 0, sizeof *data);
    data->wVersion = version;
    data->wHighVersion = version;
    data->iMaxSockets = 10;
    data->iMaxUdpDg = 0;
    data->lpVendorInfo = nullptr;
    return 0;
}

int HttpFileManager::builtinCleanup() { return 0; }

void HttpFileManager::resetFile() {
    fileName[0] = '\0';
    cached = false;
    cache.reset();
    headerLength = 0;
    position = 0;
}

void HttpFileManager::printAddress(const ce::sockaddr_in& address) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&address.sin_addr.s_addr);
    say(u"%d.%d.%d.%d ", bytes[0], bytes[1], bytes[2], bytes[3]);
}

ce::BOOL HttpFileManager::setLocation(const ce::WCHAR* directory) {
    if (!directory) return 0;
    auto isSeparator = [](ce::WCHAR c) { return c == u':' || c == u'/'; };
    const ce::WCHAR* at = directory;
    while (*at && isSeparator(*at)) ++at;
    const ce::WCHAR* scheme = at;
    while (*at && !isSeparator(*at)) ++at;
    if (at - scheme != 4 || std::memcmp(scheme, u"http", 4 * sizeof(ce::WCHAR)) != 0) return 0;

    while (*at && isSeparator(*at)) ++at;
    const ce::WCHAR* hostStart = at;
    while (*at && !isSeparator(*at)) ++at;
    std::size_t hostLength = static_cast<std::size_t>(at - hostStart);
    std::unique_ptr<ce::WCHAR[]> hostText(new (std::nothrow) ce::WCHAR[hostLength + 1]);
    if (!hostText) return 0;
    std::memcpy(hostText.get(), hostStart, hostLength * sizeof(ce::WCHAR));
    hostText[hostLength] = u'\0';
    if (!convertToAscii(hostName, hostText.get(), HOST_NAME_SIZE)) return 0;

    // Only a colon right after the host introduces a port; a path segment is no port.
    std::uint32_t port = 80;
    if (*at == u':') {
        while (*at && isSeparator(*at)) ++at;
        const ce::WCHAR* portStart = at;
        while (*at && !isSeparator(*at)) ++at;
        if (at != portStart) port = parsePort(portStart, static_cast<std::size_t>(at - portStart));
    }

    if (startup(0x0101, &wsaData) != 0) {
        say(u"WinSock initialize failed.\n");
        return 0;
    }
    if (!versionOneDotOne(wsaData)) {
        say(u"can't use WinSock DLL.\n");
        return 0;
    }
    ce::SOCKET test = ce::socket(ce::AF_INET, ce::SOCK_STREAM, 0);
    if (test == ce::INVALID_SOCKET) {
        say(u"can't open socket. cause=%d\n", ce::GetLastError());
        return 0;
    }
    std::memset(&server, 0, sizeof server);
    server.sin_family = ce::AF_INET;
    server.sin_port = ce::htons(static_cast<ce::WORD>(port & 0xFFFF));

    bool connected = false;
    if (ce::hostent* entry = ce::gethostbyname(hostName)) {
        for (char** address = entry->h_addr_list; address && *address && !connected; ++address) {
            std::memcpy(&server.sin_addr.s_addr, *address, 4);
            printAddress(server);
            connected = ce::connect(test, reinterpret_cast<const ce::sockaddr*>(&server), sizeof server) == 0;
        }
    } else {
        ce::ULONG address = ce::inet_addr(hostName);
        if (address == ce::INADDR_NONE) {
            say(u"can't get host by name.\n");
            ce::closesocket(test);
            return 0;
        }
        server.sin_addr.s_addr = address;
        printAddress(server);
        connected = ce::connect(test, reinterpret_cast<const ce::sockaddr*>(&server), sizeof server) == 0;
    }
    ce::closesocket(test);
    if (!connected) {
        say(u"can't connect server.\n");
        return 0;
    }
    say(u"(%S) connected.\n", hostName);
    return 1;
}

ce::BOOL HttpFileManager::open(const ce::WCHAR* name, int) {
    resetFile();
    // The request target must be an absolute path: "GET tamsel.gz" is refused by
    // servers that follow the protocol, so a bare name is asked for as "/tamsel.gz".
    if (name[0] == u'/') return convertToAscii(fileName, name, FILE_NAME_SIZE);
    fileName[0] = '/';
    return convertToAscii(fileName + 1, name, FILE_NAME_SIZE - 1);
}

std::uint32_t HttpFileManager::storedSize() {
    std::uint32_t header = 0;
    bool reached = false;
    return requestHead(&header, &reached);
}

int HttpFileManager::close() { return 1; }

std::int32_t HttpFileManager::write(const void*, std::uint32_t, std::int32_t) { return 0; }

ce::BOOL HttpFileManager::seek(std::uint32_t offset) {
    position = offset;
    return 1;
}

bool HttpFileManager::sendRequest(ce::SOCKET socket, const char* method) {
    if (!composeRequest(request, method, fileName, hostName)) {
        say(u"request for http://%S%S too long.\n", hostName, fileName);
        return false;
    }
    ce::send(socket, request, static_cast<int>(std::strlen(request)), 0);
    return true;
}

bool HttpFileManager::usable(const HttpConnection& connection, bool quietWithoutSocket) {
    if (connection.handle() == ce::INVALID_SOCKET) {
        if (!quietWithoutSocket) say(u"can't open socket.\n");
        return false;
    }
    if (!connection.connected()) {
        // Said here: a refused connection would otherwise show as an empty reply.
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&server.sin_addr.s_addr);
        say(u"can't connect server %d.%d.%d.%d:%d. cause=%d\n", bytes[0], bytes[1], bytes[2], bytes[3],
            ce::ntohs(server.sin_port), connection.error());
        return false;
    }
    return true;
}

std::uint32_t HttpFileManager::requestHead(std::uint32_t* header, bool* reached) {
    *reached = false;
    HttpConnection connection(server);
    if (!usable(connection, false)) return 0;
    *reached = true;
    if (!sendRequest(connection.handle(), "HEAD ")) return 0;
    std::unique_ptr<char[]> chunk(new (std::nothrow) char[HTTP_HEAD_CHUNK + 1]);
    if (!chunk) {
        say(u"can't allocate receive buffer.\n");
        return 0;
    }
    HeadReply reply([this](HeadReply::Event event, const char* token, std::uint32_t value) {
        if (debugLevel <= 2) return;
        switch (event) {
        case HeadReply::Event::Token: say(u"+token: %S\n", token); break;
        case HeadReply::Event::LengthName: say(u"*token: %S\n", token); break;
        case HeadReply::Event::LengthValue: say(u"*content-length=%d\n", value); break;
        }
    });
    // Each chunk is filled before it is read, however the reply was cut into
    // segments on its way.
    for (;;) {
        std::uint32_t received = receive(connection.handle(), chunk.get(), HTTP_HEAD_CHUNK, 0);
        if (received == 0) break;
        reply.take(chunk.get(), received);
    }
    *header = reply.length();
    if (reply.found()) {
        say(u"open http://%S%S - header %d byte contents %d byte\n", hostName, fileName, reply.length(),
            reply.contentLength());
    } else {
        say(u"No Content-Length.\n");
    }
    return reply.found() ? reply.contentLength() : 0;
}

std::uint32_t HttpFileManager::receive(ce::SOCKET socket, char* buffer, std::uint32_t n, std::uint32_t already) {
    std::uint32_t total = already;
    while (total < n) {
        int received = ce::recv(socket, buffer + total, static_cast<int>(std::min<std::uint32_t>(n - total, 0x7FFFFFFF)), 0);
        // Closed by the peer, or failed: either way nothing more arrives.
        if (received <= 0) break;
        total += static_cast<std::uint32_t>(received);
        if (debugLevel > 2) say(u"size %d readed %d byte(+%d)\n", n, total, received);
    }
    if (debugLevel > 1) say(u"total read %d byte\n", total);
    return total;
}

std::int32_t HttpFileManager::copyFromCache(void* buffer, std::uint32_t length, std::uint32_t offset) {
    if (offset >= contentLength) return 0;
    if (contentLength - offset < length) length = contentLength - offset;
    std::memcpy(buffer, cache.get() + offset, length);
    return static_cast<std::int32_t>(length);
}

std::int32_t HttpFileManager::read(void* buffer, std::uint32_t length, std::int32_t offset) {
    std::uint32_t from = static_cast<std::uint32_t>(offset);
    if (offset == -1) {
        from = position;
        position += length;
    }
    if (cached) return copyFromCache(buffer, length, from);
    if (headerLength == 0) {
        bool reached = false;
        contentLength = requestHead(&headerLength, &reached);
        // The HEAD has said why the server is out of reach; a GET would only repeat it.
        if (!reached) return 0;
    }
    return download(buffer, length, from);
}

std::int32_t HttpFileManager::download(void* buffer, std::uint32_t length, std::uint32_t offset) {
    HttpConnection connection(server);
    if (connection.handle() == ce::INVALID_SOCKET) return 0;
    if (!usable(connection, true)) return -1;
    if (!sendRequest(connection.handle(), "GET ")) return -1;

    // The response header is found by its blank line; whatever follows it in the
    // same receive is the start of the body.
    std::unique_ptr<char[]> header(new (std::nothrow) char[RESPONSE_HEADER_LIMIT]);
    if (!header) {
        say(u"can't allocate receive buffer.\n");
        return -1;
    }
    std::uint32_t received = 0;
    std::uint32_t end = 0;
    while (received < RESPONSE_HEADER_LIMIT) {
        int n = ce::recv(connection.handle(), header.get() + received, static_cast<int>(RESPONSE_HEADER_LIMIT - received), 0);
        if (n <= 0) break;
        received += static_cast<std::uint32_t>(n);
        end = responseHeaderEnd(header.get(), received);
        if (end) break;
    }
    if (!end) {
        if (received < RESPONSE_HEADER_LIMIT) {
            say(u"GET http://%S%S: response header cut short at %d byte.\n", hostName, fileName, received);
        } else {
            say(u"GET http://%S%S: no response header within %d byte.\n", hostName, fileName, RESPONSE_HEADER_LIMIT);
        }
        return -1;
    }
    int status = responseStatus(header.get(), end);
    if (status != 200) {
        say(u"GET http://%S%S: status %d.\n", hostName, fileName, status);
        return -1;
    }

    cache.reset(new (std::nothrow) std::uint8_t[contentLength ? contentLength : 1]);
    if (!cache) {
        say(u"can't allocate receive buffer.\n");
        return -1;
    }
    std::uint32_t early = std::min(received - end, contentLength);
    std::memcpy(cache.get(), header.get() + end, early);
    header.reset();
    std::uint32_t total = receive(connection.handle(), reinterpret_cast<char*>(cache.get()), contentLength, early);
    if (total < contentLength) {
        say(u"GET http://%S%S: %d of %d byte received.\n", hostName, fileName, total, contentLength);
        cache.reset();
        return -1;
    }
    cached = true;
    return copyFromCache(buffer, length, offset);
}

}  // namespace quorvel
