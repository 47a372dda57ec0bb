// One TCP connection to the HTTP server, opened for a single request.
#pragma once

#include "platform/winsock.h"

namespace quorvel {

class HttpConnection {
public:
    // Creates the socket and connects it; the connection's outcome shows in the
    // request that follows.
    explicit HttpConnection(const ce::sockaddr_in& address);
    virtual ~HttpConnection();
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    ce::SOCKET handle() const { return socket; }

private:
    ce::sockaddr_in address;
    ce::SOCKET socket = ce::INVALID_SOCKET;
};

}  // namespace quorvel
