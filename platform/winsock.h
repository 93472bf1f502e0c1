// Winsock 1.1 as far as the socket component uses it: a provider table of the functions it calls,
// bound by name like a loaded library, and the default provider on non-blocking POSIX sockets.
//
// The default provider keeps Winsock's error numbers (WSAGetLastError, per thread) and its
// asynchronous notices, posted to hidden windows (message_window.h):
// - FD_CONNECT once, its high word the connect's error; after a good connect FD_WRITE follows.
// - FD_READ when data is waiting, then not again until recv is called.
// - FD_WRITE once the socket takes data again after a send failed with WSAEWOULDBLOCK.
// - FD_CLOSE once, after the data that came with the close has been read.
// - Nothing for a socket once closesocket has run: its queued notices are dropped, so a descriptor
//   reused by a new socket never gets the old one's. Nothing for a window that is gone.
// Host look-ups run a replaceable resolver on a thread of their own and answer with the message asked
// for; a cancelled look-up never answers. Sends never raise SIGPIPE.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/message_window.h"

namespace kavrin::platform {

using SOCKET = std::uintptr_t;
inline constexpr SOCKET INVALID_SOCKET = ~SOCKET{0};
inline constexpr int SOCKET_ERROR = -1;
using WORD = std::uint16_t;
using u_long = std::uint32_t;
using ASYNC_HANDLE = std::uintptr_t;  // Winsock's HANDLE of an asynchronous request; 0 is none

inline constexpr int AF_INET_WS = 2;
inline constexpr int SOCK_STREAM_WS = 1;
inline constexpr u_long INADDR_NONE_WS = 0xFFFFFFFFu;
inline constexpr int IPPROTO_TCP_WS = 6;
inline constexpr int TCP_NODELAY_WS = 1;

inline constexpr long FD_READ = 0x01;
inline constexpr long FD_WRITE = 0x02;
inline constexpr long FD_OOB = 0x04;
inline constexpr long FD_ACCEPT = 0x08;
inline constexpr long FD_CONNECT = 0x10;
inline constexpr long FD_CLOSE = 0x20;

inline constexpr int MAXGETHOSTSTRUCT = 1024;
inline constexpr int WSADESCRIPTION_LEN = 256;
inline constexpr int WSASYS_STATUS_LEN = 128;

// Winsock error numbers.
inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEBADF = 10009;
inline constexpr int WSAEACCES = 10013;
inline constexpr int WSAEFAULT = 10014;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEMFILE = 10024;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAEINPROGRESS = 10036;
inline constexpr int WSAEALREADY = 10037;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAEDESTADDRREQ = 10039;
inline constexpr int WSAEMSGSIZE = 10040;
inline constexpr int WSAEPROTOTYPE = 10041;
inline constexpr int WSAENOPROTOOPT = 10042;
inline constexpr int WSAEPROTONOSUPPORT = 10043;
inline constexpr int WSAESOCKTNOSUPPORT = 10044;
inline constexpr int WSAEOPNOTSUPP = 10045;
inline constexpr int WSAEPFNOSUPPORT = 10046;
inline constexpr int WSAEAFNOSUPPORT = 10047;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAEADDRNOTAVAIL = 10049;
inline constexpr int WSAENETDOWN = 10050;
inline constexpr int WSAENETUNREACH = 10051;
inline constexpr int WSAENETRESET = 10052;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOBUFS = 10055;
inline constexpr int WSAEISCONN = 10056;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAESHUTDOWN = 10058;
inline constexpr int WSAETOOMANYREFS = 10059;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSAELOOP = 10062;
inline constexpr int WSAENAMETOOLONG = 10063;
inline constexpr int WSAEHOSTDOWN = 10064;
inline constexpr int WSAEHOSTUNREACH = 10065;
inline constexpr int WSAENOTEMPTY = 10066;
inline constexpr int WSAEUSERS = 10068;
inline constexpr int WSAEDQUOT = 10069;
inline constexpr int WSAESTALE = 10070;
inline constexpr int WSAEREMOTE = 10071;
inline constexpr int WSAVERNOTSUPPORTED = 10092;
inline constexpr int WSANOTINITIALISED = 10093;
inline constexpr int WSASYSCALLFAILURE = 10107;
inline constexpr int WSAHOST_NOT_FOUND = 11001;
inline constexpr int WSATRY_AGAIN = 11002;
inline constexpr int WSANO_RECOVERY = 11003;
inline constexpr int WSANO_DATA = 11004;

// The 16-byte sockaddr_in of Winsock: family, port and address as the caller fills them (port and
// address in network byte order), then 8 zero bytes.
struct SOCKADDR_IN {
  std::uint16_t sin_family = 0;
  std::uint16_t sin_port = 0;
  std::uint32_t sin_addr = 0;
  std::array<char, 8> sin_zero{};
};
static_assert(sizeof(SOCKADDR_IN) == 16);

struct WSADATA {
  WORD wVersion = 0;
  WORD wHighVersion = 0;
  char szDescription[WSADESCRIPTION_LEN + 1] = {};
  char szSystemStatus[WSASYS_STATUS_LEN + 1] = {};
  std::uint16_t iMaxSockets = 0;
  std::uint16_t iMaxUdpDg = 0;
  char* lpVendorInfo = nullptr;
};

// The host entry an asynchronous look-up writes at the start of the caller's buffer, its lists and
// texts behind it in the same buffer. The buffer must be aligned for it.
struct HOSTENT {
  char* h_name;
  char** h_aliases;
  std::int16_t h_addrtype;
  std::int16_t h_length;
  char** h_addr_list;
};

// The reply of an asynchronous look-up: lparam = buffer length needed | error << 16.
inline constexpr WORD WSAGETASYNCERROR(LPARAM lparam) { return static_cast<WORD>((lparam >> 16) & 0xFFFF); }
inline constexpr WORD WSAGETSELECTEVENT(LPARAM lparam) { return static_cast<WORD>(lparam & 0xFFFF); }
inline constexpr WORD WSAGETSELECTERROR(LPARAM lparam) { return static_cast<WORD>((lparam >> 16) & 0xFFFF); }
inline constexpr LPARAM WSAMAKESELECTREPLY(int event, int error) {
  return static_cast<LPARAM>((static_cast<std::uint32_t>(error & 0xFFFF) << 16) |
                             static_cast<std::uint32_t>(event & 0xFFFF));
}

// The functions the socket component calls, as a loaded library gives them.
struct WinsockProvider {
  int (*closesocket)(SOCKET s);
  int (*connect)(SOCKET s, const SOCKADDR_IN* name, int namelen);
  std::uint16_t (*htons)(std::uint16_t hostshort);
  u_long (*inet_addr)(const char* cp);
  char* (*inet_ntoa)(u_long in);
  int (*recv)(SOCKET s, char* buf, int len, int flags);
  int (*send)(SOCKET s, const char* buf, int len, int flags);
  SOCKET (*socket)(int af, int type, int protocol);
  int (*gethostname)(char* name, int namelen);
  int (*WSAAsyncSelect)(SOCKET s, HWND window, UINT msg, long events);
  ASYNC_HANDLE (*WSAAsyncGetHostByName)(HWND window, UINT msg, const char* name, char* buf, int buflen);
  int (*WSACancelAsyncRequest)(ASYNC_HANDLE request);
  int (*WSAGetLastError)();
  int (*WSAStartup)(WORD version, WSADATA* data);
  int (*WSACleanup)();
  // Bound at the end so that older tables stay valid; the component calls it only when present.
  int (*setsockopt)(SOCKET s, int level, int optname, const char* optval, int optlen);
};

// The provider on POSIX sockets.
const WinsockProvider& PosixWinsockProvider();

// The table that loading "WSOCK32.DLL" binds: the POSIX provider unless a test set another; null
// goes back to it. The table must outlive its use.
void SetWinsockProvider(const WinsockProvider* provider);
// The table of the library named (the first 255 characters; "WSOCK32.DLL", in any case, or an empty
// name), or null as for a library that is missing.
const WinsockProvider* LoadWinsockLibrary(std::string_view name);

// The resolver of the POSIX provider's look-ups, called on a thread of its own: fills the IPv4
// addresses (network order bytes) of name, or returns the Winsock error (WSAHOST_NOT_FOUND etc.).
// The default uses getaddrinfo. Null goes back to it.
using HostResolver = std::function<int(const std::string& name, std::vector<std::array<std::uint8_t, 4>>* addresses)>;
void SetHostResolver(HostResolver resolver);

// The Winsock error that stands for a POSIX errno value (WSASYSCALLFAILURE for one with none).
int WinsockErrorFromErrno(int err);
// The Winsock error for a getaddrinfo result.
int WinsockErrorFromResolver(int gai_error);

}  // namespace kavrin::platform
