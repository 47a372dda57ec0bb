// The HTTP backend: fetches a file from an HTTP/1.0 server through WinSock; the
// size comes from a HEAD request, and the first read downloads the whole body once.
#pragma once

#include <cstdint>
#include <memory>

#include "console/console.h"
#include "file/file_manager.h"
#include "file/http_response.h"
#include "platform/winsock.h"

namespace quorvel {

class HttpConnection;

class HttpFileManager : public FileManager {
public:
    explicit HttpFileManager(Console*& consoleSlot);
    ~HttpFileManager() override;

    ce::BOOL setLocation(const ce::WCHAR* directory) override;
    ce::BOOL open(const ce::WCHAR* name, int mode) override;
    std::uint32_t storedSize() override;
    int close() override;
    std::int32_t read(void* buffer, std::uint32_t length, std::int32_t offset = -1) override;
    std::int32_t write(const void* buffer, std::uint32_t length, std::int32_t offset = -1) override;
    ce::BOOL seek(std::uint32_t offset) override;
    // The downloaded body: its length is the download's, whatever a HEAD says now.
    const std::uint8_t* heldBytes(std::uint32_t& length) override {
        length = cached ? contentLength : 0;
        return cached ? cache.get() : nullptr;
    }

    using StartupRoutine = int (*)(ce::WORD version, ce::WSADATA* data);
    using CleanupRoutine = int (*)();

    static constexpr std::size_t HOST_NAME_SIZE = 260;
    // The longest response header a GET may carry before its blank line.
    static constexpr std::uint32_t RESPONSE_HEADER_LIMIT = 8192;

private:
    static int builtinStartup(ce::WORD version, ce::WSADATA* data);
    static int builtinCleanup();

    template <typename... Args>
    void say(const ce::WCHAR* format, Args... args) {
        if (Console* console = consoleSlot) console->print(format, args...);
    }

    void resetFile();
    // The content length by a HEAD request; *header receives the response's length
    // and *reached whether the server took the connection.
    std::uint32_t requestHead(std::uint32_t* header, bool* reached);
    // A connection to the server, reporting why when there is none.
    bool usable(const HttpConnection& connection, bool quietWithoutSocket);
    // Receives up to `n` bytes into `buffer`, of which `already` have arrived.
    std::uint32_t receive(ce::SOCKET socket, char* buffer, std::uint32_t n, std::uint32_t already);
    std::int32_t download(void* buffer, std::uint32_t length, std::uint32_t offset);
    std::int32_t copyFromCache(void* buffer, std::uint32_t length, std::uint32_t offset);
    bool sendRequest(ce::SOCKET socket, const char* method);
    void printAddress(const ce::sockaddr_in& address);

    StartupRoutine startup = nullptr;
    CleanupRoutine cleanup = nullptr;
    ce::WSADATA wsaData{};
    ce::sockaddr_in server{};
    char hostName[HOST_NAME_SIZE] = {};
    char request[HTTP_REQUEST_SIZE] = {};
    std::uint32_t headerLength = 0;
    bool cached = false;
    std::unique_ptr<std::uint8_t[]> cache;
    std::uint32_t contentLength = 0;
    std::uint32_t position = 0;
};

}  // namespace quorvel
