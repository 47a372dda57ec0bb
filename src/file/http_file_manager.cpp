// The HTTP backend: server lookup and test connection, HEAD for the size, one GET
// for the body, reads served from the downloaded copy.
#include "file/http_file_manager.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "boot/architecture.h"
#include "file/http_connection.h"
#include "platform/coredll.h"

namespace quorvel {

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// Header names compare equal regardless of the case of ASCII letters.
int compareHeaderName(const char* a, const char* b) {
    for (;; ++a, ++b) {
        int difference = static_cast<unsigned char>(lower(*a)) - static_cast<unsigned char>(lower(*b));
        if (difference || !*a) return difference;
    }
}

bool isDelimiter(char c) { return c == ' ' || c == ':' || c == '\r' || c == '\n'; }

// The next token of `text` at or after `*at`, terminated in place; null when none is
// left. *cut tells whether the token runs to the end of the text, where it may go on
// in the next chunk.
char* nextToken(char* text, std::size_t length, std::size_t* at, bool* cut) {
    while (*at < length && isDelimiter(text[*at])) ++*at;
    if (*at >= length) return nullptr;
    char* token = text + *at;
    while (*at < length && !isDelimiter(text[*at])) ++*at;
    *cut = *at >= length;
    if (*at < length) text[(*at)++] = '\0';
    return token;
}

// A decimal Content-Length value; false for a sign, no digits or more than 32 bits.
bool parseLength(const char* text, std::uint32_t* value) {
    while (*text == ' ' || *text == '\t') ++text;
    if (*text == '+') ++text;
    if (*text < '0' || *text > '9') return false;
    std::uint64_t result = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        result = result * 10 + static_cast<std::uint64_t>(*text - '0');
        if (result > 0xFFFFFFFFu) return false;
    }
    *value = static_cast<std::uint32_t>(result);
    return true;
}

std::uint32_t parsePort(const ce::WCHAR* text, std::size_t length) {
    std::size_t i = 0;
    while (i < length && (text[i] == u' ' || text[i] == u'\t')) ++i;
    bool negative = false;
    if (i < length && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    std::uint32_t value = 0;
    for (; i < length && text[i] >= u'0' && text[i] <= u'9'; ++i) value = value * 10 + static_cast<std::uint32_t>(text[i] - u'0');
    return negative ? 0u - value : value;
}

// Where the header of a response ends (the byte after its blank line); 0 when the
// blank line has not arrived yet.
std::uint32_t headerEnd(const char* text, std::uint32_t length) {
    for (std::uint32_t i = 0; i < length; ++i) {
        if (text[i] != '\n') continue;
        if (length - i > 1 && text[i + 1] == '\n') return i + 2;
        if (length - i > 2 && text[i + 1] == '\r' && text[i + 2] == '\n') return i + 3;
    }
    return 0;
}

// The status code of "HTTP/x.y nnn ...", or -1.
int statusCode(const char* text, std::uint32_t length) {
    if (length < 5 || std::memcmp(text, "HTTP/", 5) != 0) return -1;
    std::uint32_t i = 5;
    while (i < length && text[i] != ' ') ++i;
    while (i < length && text[i] == ' ') ++i;
    if (length - i < 3) return -1;
    int code = 0;
    for (int digit = 0; digit < 3; ++digit, ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        code = code * 10 + (text[i] - '0');
    }
    return code;
}

bool versionOneDotOne(const ce::WSADATA& data) { return ce::LOBYTE(data.wVersion) == 1 && ce::HIBYTE(data.wVersion) == 1; }

}  // namespace

HttpFileManager::HttpFileManager(Console*& consoleSlot) : FileManager(consoleSlot) {
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

HttpFileManager::~HttpFileManager() {
    delete[] cache;
    cleanup();
}

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
    delete[] cache;
    cache = nullptr;
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
    ce::WCHAR* hostText = new (std::nothrow) ce::WCHAR[hostLength + 1];
    if (!hostText) return 0;
    std::memcpy(hostText, hostStart, hostLength * sizeof(ce::WCHAR));
    hostText[hostLength] = u'\0';
    ce::BOOL converted = convertToAscii(hostName, hostText, HOST_NAME_SIZE);
    delete[] hostText;
    if (!converted) return 0;

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
    return requestHead(&header);
}

int HttpFileManager::close() { return 1; }

std::int32_t HttpFileManager::write(const void*, std::uint32_t, std::int32_t) { return 0; }

ce::BOOL HttpFileManager::seek(std::uint32_t offset) {
    position = offset;
    return 1;
}

bool HttpFileManager::composeRequest(const char* method) {
    const char* pieces[] = {method, fileName, protocolPiece, hostName, agentPiece};
    std::size_t length = 0;
    for (const char* piece : pieces) length += std::strlen(piece);
    // Names are measured against the longer request, so that HEAD and GET are
    // refused alike.
    length += std::max(std::strlen(getPiece), std::strlen(headPiece)) - std::strlen(method);
    if (length >= REQUEST_SIZE) {
        say(u"request for http://%S%S too long.\n", hostName, fileName);
        return false;
    }
    request[0] = '\0';
    for (const char* piece : pieces) std::strcat(request, piece);
    return true;
}

bool HttpFileManager::sendRequest(ce::SOCKET socket, const char* method) {
    if (!composeRequest(method)) return false;
    ce::send(socket, request, static_cast<int>(std::strlen(request)), 0);
    return true;
}

std::uint32_t HttpFileManager::requestHead(std::uint32_t* header) {
    HttpConnection connection(server);
    if (connection.handle() == ce::INVALID_SOCKET) {
        say(u"can't open socket.\n");
        return 0;
    }
    if (!sendRequest(connection.handle(), headPiece)) return 0;
    char* chunk = new (std::nothrow) char[HEAD_CHUNK + 1];
    if (!chunk) {
        say(u"can't allocate receive buffer.\n");
        return 0;
    }
    std::uint32_t length = 0;
    bool found = false;
    std::uint32_t total = 0;
    for (;;) {
        // A failed receive ends the response like a closed connection.
        int received = ce::recv(connection.handle(), chunk, static_cast<int>(HEAD_CHUNK), 0);
        if (received <= 0) break;
        std::size_t size = static_cast<std::size_t>(received);
        chunk[size] = '\0';
        std::size_t at = 0;
        bool cut = false;
        while (char* token = nextToken(chunk, size, &at, &cut)) {
            if (debugLevel > 2) say(u"+token: %S\n", token);
            if (compareHeaderName(token, "content-length") != 0) continue;
            if (debugLevel > 2) say(u"*token: %S\n", token);
            // A name that ends the chunk has no value here, and a value that ends it
            // may be only its first digits: either counts as no value.
            char* value = cut ? nullptr : nextToken(chunk, size, &at, &cut);
            std::uint32_t parsed = 0;
            if (!value || cut || !parseLength(value, &parsed)) continue;
            length = parsed;
            found = true;
            if (debugLevel > 2) say(u"*content-length=%d\n", length);
        }
        total += static_cast<std::uint32_t>(received);
    }
    *header = total;
    if (found) {
        say(u"open http://%S%S - header %d byte contents %d byte\n", hostName, fileName, total, length);
    } else {
        say(u"No Content-Length.\n");
    }
    delete[] chunk;
    return length;
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
    std::memcpy(buffer, cache + offset, length);
    return static_cast<std::int32_t>(length);
}

std::int32_t HttpFileManager::read(void* buffer, std::uint32_t length, std::int32_t offset) {
    std::uint32_t from = static_cast<std::uint32_t>(offset);
    if (offset == -1) {
        from = position;
        position += length;
    }
    if (cached) return copyFromCache(buffer, length, from);
    if (headerLength == 0) contentLength = requestHead(&headerLength);
    return download(buffer, length, from);
}

std::int32_t HttpFileManager::download(void* buffer, std::uint32_t length, std::uint32_t offset) {
    HttpConnection connection(server);
    if (connection.handle() == ce::INVALID_SOCKET) return 0;
    if (!sendRequest(connection.handle(), getPiece)) return -1;

    // The response header is found by its blank line; whatever follows it in the
    // same receive is the start of the body.
    char* header = new (std::nothrow) char[RESPONSE_HEADER_LIMIT];
    if (!header) {
        say(u"can't allocate receive buffer.\n");
        return -1;
    }
    std::uint32_t received = 0;
    std::uint32_t end = 0;
    while (received < RESPONSE_HEADER_LIMIT) {
        int n = ce::recv(connection.handle(), header + received, static_cast<int>(RESPONSE_HEADER_LIMIT - received), 0);
        if (n <= 0) break;
        received += static_cast<std::uint32_t>(n);
        end = headerEnd(header, received);
        if (end) break;
    }
    if (!end) {
        if (received < RESPONSE_HEADER_LIMIT) {
            say(u"GET http://%S%S: response header cut short at %d byte.\n", hostName, fileName, received);
        } else {
            say(u"GET http://%S%S: no response header within %d byte.\n", hostName, fileName, RESPONSE_HEADER_LIMIT);
        }
        delete[] header;
        return -1;
    }
    int status = statusCode(header, end);
    if (status != 200) {
        say(u"GET http://%S%S: status %d.\n", hostName, fileName, status);
        delete[] header;
        return -1;
    }

    cache = new (std::nothrow) std::uint8_t[contentLength ? contentLength : 1];
    if (!cache) {
        delete[] header;
        say(u"can't allocate receive buffer.\n");
        return -1;
    }
    std::uint32_t early = std::min(received - end, contentLength);
    std::memcpy(cache, header + end, early);
    delete[] header;
    std::uint32_t total = receive(connection.handle(), reinterpret_cast<char*>(cache), contentLength, early);
    if (total < contentLength) {
        say(u"GET http://%S%S: %d of %d byte received.\n", hostName, fileName, total, contentLength);
        delete[] cache;
        cache = nullptr;
        return -1;
    }
    cached = true;
    return copyFromCache(buffer, length, offset);
}

}  // namespace quorvel
