// One TCP connection per HTTP request.
#include "file/http_connection.h"

#include "platform/coredll.h"

namespace quorvel {

HttpConnection::HttpConnection(const ce::sockaddr_in& peer) : address(peer) {
    socket = ce::socket(ce::AF_INET, ce::SOCK_STREAM, 0);
    if (socket != ce::INVALID_SOCKET) {
        if (ce::connect(socket, reinterpret_cast<const ce::sockaddr*>(&this->address), sizeof this->address) != 0) {
            error_ = ce::GetLastError();
            if (error_ == 0) error_ = ce::WSAECONNREFUSED;
        }
    }
}

HttpConnection::~HttpConnection() {
    if (socket != ce::INVALID_SOCKET) ce::closesocket(socket);
}

}  // namespace quorvel
