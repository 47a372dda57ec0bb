// One TCP connection per HTTP request.
#include "file/http_connection.h"

namespace quorvel {

HttpConnection::HttpConnection(const ce::sockaddr_in& address) : address(address) {
    socket = ce::socket(ce::AF_INET, ce::SOCK_STREAM, 0);
    if (socket != ce::INVALID_SOCKET) {
        ce::connect(socket, reinterpret_cast<const ce::sockaddr*>(&this->address), sizeof this->address);
    }
}

HttpConnection::~HttpConnection() {
    if (socket != ce::INVALID_SOCKET) ce::closesocket(socket);
}

}  // namespace quorvel
