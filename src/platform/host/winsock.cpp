// WinSock over the host's IPv4 sockets: sockets are handles of the simulated
// handheld, errors are WinSock codes, and the device's host table answers first.
// The WinSock declarations come first: the host headers define some of the same
// names as macros of equal value.
#include "platform/coredll.h"
#include "platform/winsock.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "sim/handheld.h"

namespace ce {

namespace {

struct SocketObject : sim::HandleObject {
    explicit SocketObject(int descriptor) : fd(descriptor) {}
    ~SocketObject() override { ::close(fd); }
    int fd;
    // The host reads end-of-file from a socket that never connected; WinSock fails.
    bool connected = false;
    // WinSock lets a socket whose connection failed try again; the host needs a
    // fresh socket for that.
    bool connectFailed = false;
};

int failWith(DWORD error) {
    SetLastError(error);
    return SOCKET_ERROR;
}

DWORD fromErrno(int error) {
    switch (error) {
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ETIMEDOUT:
    case EAGAIN: return WSAETIMEDOUT;
    case ENETUNREACH: return WSAENETUNREACH;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    case ECONNRESET:
    case EPIPE: return WSAECONNRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case EMFILE:
    case ENFILE: return WSAEMFILE;
    case ENOBUFS:
    case ENOMEM: return WSAENOBUFS;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case EACCES: return WSAEACCES;
    case EINTR: return WSAEINTR;
    case EFAULT: return WSAEFAULT;
    default: return WSAEINVAL;
    }
}

SocketObject* socketOf(SOCKET s) {
    return dynamic_cast<SocketObject*>(sim::Handheld::current().handle(reinterpret_cast<void*>(s)));
}

std::u16string addressName(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr.s_addr, text, sizeof text);
    std::string name = std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
    return std::u16string(name.begin(), name.end());
}

int timeoutMs() {
    auto timeout = sim::Handheld::current().settings().socketTimeout.count();
    return static_cast<int>(std::clamp<long long>(timeout, 1, 24LL * 3600 * 1000));
}

int newHostSocket() {
    int fd = ::socket(PF_INET, ::SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return fd;
    int ms = timeoutMs();
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    return fd;
}

// Storage behind the entry gethostbyname returns, one per thread as on Windows.
struct HostEntry {
    std::string name;
    std::vector<std::array<char, 4>> addresses;
    std::vector<char*> list;
    char* noAliases[1] = {nullptr};
    hostent entry{};
};

bool lowerEqual(const std::string& a, const char* b) {
    std::size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

}  // namespace

int WSAStartup(WORD versionRequested, WSADATA* data) {
    sim::Handheld& device = sim::Handheld::current();
    auto fault = device.faults().check("WSAStartup");
    if (fault && fault->limit == 0) return static_cast<int>(WSASYSNOTREADY);
    if (!data) return static_cast<int>(WSAEFAULT);
    if (LOBYTE(versionRequested) < 1) return static_cast<int>(WSAVERNOTSUPPORTED);
    std::memset(data, 0, sizeof *data);
    WORD highest = MAKEWORD(2, 2);
    bool above = LOBYTE(versionRequested) > 2 || (LOBYTE(versionRequested) == 2 && HIBYTE(versionRequested) > 2);
    data->wVersion = above ? highest : versionRequested;
    // A fault with a limit stands for a DLL that agrees only to that version.
    if (fault) data->wVersion = static_cast<WORD>(fault->limit);
    data->wHighVersion = highest;
    std::strcpy(data->szDescription, "WinSock 2.0");
    std::strcpy(data->szSystemStatus, "Running");
    return 0;
}

int WSACleanup() {
    if (sim::Handheld::current().faults().check("WSACleanup")) return failWith(WSAENETDOWN);
    return 0;
}

int WSAGetLastError() { return static_cast<int>(GetLastError()); }

SOCKET socket(int family, int type, int protocol) {
    sim::Handheld& device = sim::Handheld::current();
    if (device.faults().check("socket")) return failWith(WSAENOBUFS), INVALID_SOCKET;
    if (family != AF_INET) return failWith(WSAEAFNOSUPPORT), INVALID_SOCKET;
    if (type != SOCK_STREAM) return failWith(WSAESOCKTNOSUPPORT), INVALID_SOCKET;
    if (protocol != 0 && protocol != IPPROTO_TCP) return failWith(WSAEPROTONOSUPPORT), INVALID_SOCKET;
    int fd = newHostSocket();
    if (fd < 0) return failWith(fromErrno(errno)), INVALID_SOCKET;
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<SOCKET>(device.addHandle(std::make_unique<SocketObject>(fd)));
}

int connect(SOCKET s, const sockaddr* address, int length) {
    SocketObject* object = socketOf(s);
    if (!object) return failWith(WSAENOTSOCK);
    if (!address || length < static_cast<int>(sizeof(sockaddr_in))) return failWith(WSAEFAULT);
    sockaddr_in target{};
    std::memcpy(&target, address, sizeof target);
    if (target.sin_family != AF_INET) return failWith(WSAEAFNOSUPPORT);
    if (sim::Handheld::current().faults().check("connect", ntohl(target.sin_addr.s_addr), addressName(target))) {
        object->connectFailed = true;
        return failWith(WSAECONNREFUSED);
    }
    if (object->connected) return failWith(WSAEISCONN);
    if (object->connectFailed) {
        int fresh = newHostSocket();
        if (fresh < 0) return failWith(fromErrno(errno));
        ::dup3(fresh, object->fd, O_CLOEXEC);
        ::close(fresh);
        object->connectFailed = false;
    }
    ::sockaddr_in host{};
    host.sin_family = PF_INET;
    host.sin_port = target.sin_port;
    host.sin_addr.s_addr = target.sin_addr.s_addr;

    // Non-blocking for the connection only, so that an unreachable address cannot
    // hold the caller longer than the device's timeout.
    int flags = ::fcntl(object->fd, F_GETFL);
    ::fcntl(object->fd, F_SETFL, flags | O_NONBLOCK);
    int result = ::connect(object->fd, reinterpret_cast<const ::sockaddr*>(&host), sizeof host);
    int error = result == 0 ? 0 : errno;
    if (error == EINPROGRESS) {
        pollfd wait{object->fd, POLLOUT, 0};
        int ready = ::poll(&wait, 1, timeoutMs());
        if (ready <= 0) {
            error = ETIMEDOUT;
        } else {
            socklen_t size = sizeof error;
            ::getsockopt(object->fd, SOL_SOCKET, SO_ERROR, &error, &size);
        }
    }
    ::fcntl(object->fd, F_SETFL, flags);
    if (error) {
        object->connectFailed = true;
        return failWith(fromErrno(error));
    }
    object->connected = true;
    SetLastError(ERROR_SUCCESS);
    return 0;
}

int send(SOCKET s, const char* buffer, int length, int) {
    SocketObject* object = socketOf(s);
    if (!object) return failWith(WSAENOTSOCK);
    if (length < 0 || (!buffer && length > 0)) return failWith(WSAEFAULT);
    if (!object->connected) return failWith(WSAENOTCONN);
    if (sim::Handheld::current().faults().check("send")) return failWith(WSAECONNRESET);
    int total = 0;
    while (total < length) {
        ssize_t n = ::send(object->fd, buffer + total, static_cast<std::size_t>(length - total), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return failWith(fromErrno(errno));
        total += static_cast<int>(n);
    }
    return total;
}

int recv(SOCKET s, char* buffer, int length, int) {
    SocketObject* object = socketOf(s);
    if (!object) return failWith(WSAENOTSOCK);
    if (length < 0 || (!buffer && length > 0)) return failWith(WSAEFAULT);
    if (!object->connected) return failWith(WSAENOTCONN);
    if (auto fault = sim::Handheld::current().faults().check("recv")) {
        if (fault->limit == 0) return failWith(WSAECONNRESET);
        length = static_cast<int>(std::min<std::uint32_t>(static_cast<std::uint32_t>(length), fault->limit));
    }
    for (;;) {
        ssize_t n = ::recv(object->fd, buffer, static_cast<std::size_t>(length), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return failWith(fromErrno(errno));
        return static_cast<int>(n);
    }
}

int closesocket(SOCKET s) {
    if (!socketOf(s)) return failWith(WSAENOTSOCK);
    sim::Handheld::current().closeHandle(reinterpret_cast<void*>(s));
    return 0;
}

hostent* gethostbyname(const char* name) {
    sim::Handheld& device = sim::Handheld::current();
    if (!name) return failWith(WSAEFAULT), nullptr;
    std::string text(name);
    if (device.faults().check("gethostbyname", 0, std::u16string(text.begin(), text.end()))) {
        return failWith(WSAHOST_NOT_FOUND), nullptr;
    }
    thread_local HostEntry result;
    result = HostEntry{};
    result.name = text;
    bool known = false;
    for (const auto& [host, addresses] : device.settings().hosts) {
        if (!lowerEqual(host, name)) continue;
        known = true;
        for (const std::string& address : addresses) {
            std::array<char, 4> bytes{};
            if (::inet_pton(PF_INET, address.c_str(), bytes.data()) == 1) result.addresses.push_back(bytes);
        }
        break;
    }
    if (!known) {
        addrinfo hints{};
        hints.ai_family = PF_INET;
        hints.ai_socktype = ::SOCK_STREAM;
        addrinfo* found = nullptr;
        if (text.empty() || ::getaddrinfo(name, nullptr, &hints, &found) != 0 || !found) {
            return failWith(WSAHOST_NOT_FOUND), nullptr;
        }
        for (addrinfo* each = found; each; each = each->ai_next) {
            std::array<char, 4> bytes{};
            std::memcpy(bytes.data(), &reinterpret_cast<::sockaddr_in*>(each->ai_addr)->sin_addr, 4);
            if (std::find(result.addresses.begin(), result.addresses.end(), bytes) == result.addresses.end()) {
                result.addresses.push_back(bytes);
            }
        }
        ::freeaddrinfo(found);
    }
    for (auto& bytes : result.addresses) result.list.push_back(bytes.data());
    result.list.push_back(nullptr);
    result.entry.h_name = result.name.data();
    result.entry.h_aliases = result.noAliases;
    result.entry.h_addrtype = AF_INET;
    result.entry.h_length = 4;
    result.entry.h_addr_list = result.list.data();
    SetLastError(ERROR_SUCCESS);
    return &result.entry;
}

ULONG inet_addr(const char* text) {
    if (!text) return INADDR_NONE;
    return ::inet_addr(text);
}

}  // namespace ce
