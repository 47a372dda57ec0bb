// One TCP connection to the HTTP server, opened for a single request.
#pragma once

#include "platform/winsock.h"

namespace quorvel {

class HttpConnection {
public:
    // Creates the socket and connects it.
    explicit HttpConnection(const ce::sockaddr_in& address);
    virtual ~HttpConnection();
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    ce::SOCKET handle() const { return socket; }
    // False when the socket exists but the server refused it or could not be
    // reached; error() then holds the WinSock code.
    bool connected() const { return error_ == 0; }
    ce::DWORD error() const { return error_; }

private:
    ce::sockaddr_in address;
    ce::SOCKET socket = ce::INVALID_SOCKET;
    ce::DWORD error_ = 0;
};

}  // namespace quorvel
