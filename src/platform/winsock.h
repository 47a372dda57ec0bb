// The WinSock calls the system makes (IPv4 only), with their Windows names, types
// and error conventions; byte-order helpers are in coredll.h. Include it before any
// host socket header, which defines some of these names as macros.
#pragma once

#include <cstdint>

#include "platform/coredll.h"
#include "platform/types.h"

namespace ce {

using SOCKET = std::uintptr_t;
inline constexpr SOCKET INVALID_SOCKET = ~static_cast<SOCKET>(0);
inline constexpr int SOCKET_ERROR = -1;

inline constexpr int AF_INET = 2;
inline constexpr int SOCK_STREAM = 1;
inline constexpr int IPPROTO_TCP = 6;
inline constexpr ULONG INADDR_ANY = 0;
inline constexpr ULONG INADDR_NONE = 0xFFFFFFFFu;

inline constexpr std::size_t WSADESCRIPTION_LEN = 256;
inline constexpr std::size_t WSASYS_STATUS_LEN = 128;

struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
};

inline constexpr WORD MAKEWORD(BYTE low, BYTE high) { return static_cast<WORD>(low | (high << 8)); }
inline constexpr BYTE LOBYTE(WORD value) { return static_cast<BYTE>(value & 0xFF); }
inline constexpr BYTE HIBYTE(WORD value) { return static_cast<BYTE>(value >> 8); }

struct in_addr {
    ULONG s_addr;  // network byte order
};

struct sockaddr {
    unsigned short sa_family;
    char sa_data[14];
};

// 16 bytes: family, port and address in network byte order, 8 zero bytes.
struct sockaddr_in {
    short sin_family;
    unsigned short sin_port;
    in_addr sin_addr;
    char sin_zero[8];
};
static_assert(sizeof(sockaddr_in) == 16);

struct hostent {
    char* h_name;
    char** h_aliases;
    short h_addrtype;
    short h_length;
    char** h_addr_list;  // null-terminated list of h_length-byte addresses
};

// Last-error codes of the socket calls.
inline constexpr DWORD WSAEINTR = 10004;
inline constexpr DWORD WSAEBADF = 10009;
inline constexpr DWORD WSAEACCES = 10013;
inline constexpr DWORD WSAEFAULT = 10014;
inline constexpr DWORD WSAEINVAL = 10022;
inline constexpr DWORD WSAEMFILE = 10024;
inline constexpr DWORD WSAENOTSOCK = 10038;
inline constexpr DWORD WSAEPROTONOSUPPORT = 10043;
inline constexpr DWORD WSAESOCKTNOSUPPORT = 10044;
inline constexpr DWORD WSAEAFNOSUPPORT = 10047;
inline constexpr DWORD WSAEADDRNOTAVAIL = 10049;
inline constexpr DWORD WSAENETDOWN = 10050;
inline constexpr DWORD WSAENETUNREACH = 10051;
inline constexpr DWORD WSAECONNABORTED = 10053;
inline constexpr DWORD WSAECONNRESET = 10054;
inline constexpr DWORD WSAENOBUFS = 10055;
inline constexpr DWORD WSAEISCONN = 10056;
inline constexpr DWORD WSAENOTCONN = 10057;
inline constexpr DWORD WSAETIMEDOUT = 10060;
inline constexpr DWORD WSAECONNREFUSED = 10061;
inline constexpr DWORD WSAEHOSTUNREACH = 10065;
inline constexpr DWORD WSASYSNOTREADY = 10091;
inline constexpr DWORD WSAVERNOTSUPPORTED = 10092;
inline constexpr DWORD WSAHOST_NOT_FOUND = 11001;
inline constexpr DWORD WSANO_DATA = 11004;

int WSAStartup(WORD versionRequested, WSADATA* data);
int WSACleanup();
int WSAGetLastError();  // the same code GetLastError reports

SOCKET socket(int family, int type, int protocol);
int connect(SOCKET s, const sockaddr* address, int length);
// Blocking; send delivers everything or fails.
int send(SOCKET s, const char* buffer, int length, int flags);
// 0 when the peer closed the connection.
int recv(SOCKET s, char* buffer, int length, int flags);
int closesocket(SOCKET s);

// The entry lives until the next call on the same thread.
hostent* gethostbyname(const char* name);
ULONG inet_addr(const char* text);

}  // namespace ce
