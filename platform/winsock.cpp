#include "platform/winsock.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/name_resolution.h"

namespace kavrin::platform {

int WinsockErrorFromErrno(int err) {
  switch (err) {
    case 0: return 0;
    case EINTR: return WSAEINTR;
    case EBADF: return WSAEBADF;
    case EACCES:
    case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE:
    case ENFILE: return WSAEMFILE;
    case EAGAIN: return WSAEWOULDBLOCK;  // EWOULDBLOCK is the same number on Linux
    case EINPROGRESS: return WSAEINPROGRESS;
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EDESTADDRREQ: return WSAEDESTADDRREQ;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    // Winsock has no broken pipe: a send to a peer that went away is a reset connection.
    case ECONNRESET:
    case EPIPE: return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETOOMANYREFS: return WSAETOOMANYREFS;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ELOOP: return WSAELOOP;
    case ENAMETOOLONG: return WSAENAMETOOLONG;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    case ENOTEMPTY: return WSAENOTEMPTY;
    case EUSERS: return WSAEUSERS;
    case EDQUOT: return WSAEDQUOT;
    case ESTALE: return WSAESTALE;
    case EREMOTE: return WSAEREMOTE;
    default: return WSASYSCALLFAILURE;
  }
}

int WinsockErrorFromResolver(int gai_error) {
  switch (gai_error) {
    case 0: return 0;
    case EAI_NONAME: return WSAHOST_NOT_FOUND;
    case EAI_AGAIN: return WSATRY_AGAIN;
    case EAI_NODATA:
    case EAI_ADDRFAMILY: return WSANO_DATA;
    case EAI_MEMORY: return WSAENOBUFS;
    default: return WSANO_RECOVERY;
  }
}

namespace {

constexpr std::size_t kMaxAddresses = 35;  // Winsock's MAXADDRS
constexpr UINT kLookupDone = WM_USER;      // on the provider's own window

int DefaultResolver(const std::string& name, std::vector<std::array<std::uint8_t, 4>>* addresses) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int result = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (result != 0) return WinsockErrorFromResolver(result);
  for (addrinfo* a = found; a != nullptr && addresses->size() < kMaxAddresses; a = a->ai_next) {
    if (a->ai_family != AF_INET || a->ai_addrlen < sizeof(sockaddr_in)) continue;
    std::array<std::uint8_t, 4> bytes;
    std::memcpy(bytes.data(), &reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr, 4);
    if (std::find(addresses->begin(), addresses->end(), bytes) == addresses->end()) addresses->push_back(bytes);
  }
  ::freeaddrinfo(found);
  return addresses->empty() ? WSANO_DATA : 0;
}

struct SocketState {
  HWND window = 0;
  UINT msg = 0;
  long events = 0;
  int watch = 0;  // loop watch id, 0 when none
  bool connecting = false;
  bool connected = false;
  bool read_armed = false;
  bool write_armed = false;
  bool close_posted = false;
};

struct Request {
  ASYNC_HANDLE handle = 0;
  HWND window = 0;
  UINT msg = 0;
  char* buffer = nullptr;
  int length = 0;
};

struct Provider {
  std::mutex mutex;
  int started = 0;
  std::map<int, SocketState> sockets;
  std::map<ASYNC_HANDLE, std::shared_ptr<Request>> requests;
  ASYNC_HANDLE next_request = 1;
  HWND lookup_window = 0;
  HostResolver resolver;
  const WinsockProvider* bound = nullptr;
};

Provider& State() {
  // Never destroyed: look-up threads may finish while the process exits.
  static Provider* provider = new Provider;
  return *provider;
}

thread_local int last_error = 0;

int Fail(int error) {
  last_error = error;
  return SOCKET_ERROR;
}

void Post(int fd, const SocketState& s, long event, int error) {
  if ((s.events & event) != 0 && s.window != 0)
    PostMessage(s.window, s.msg, static_cast<WPARAM>(fd), WSAMAKESELECTREPLY(static_cast<int>(event), error));
}

void OnReady(int fd, bool readable, bool writable);

void UpdateWatch(int fd, SocketState& s) {
  const bool read = s.connected && s.read_armed && !s.close_posted && (s.events & (FD_READ | FD_CLOSE)) != 0;
  const bool write = s.connecting || (s.connected && s.write_armed && (s.events & FD_WRITE) != 0);
  MessageLoop& loop = CurrentMessageLoop();
  if (s.watch == 0 && (read || write)) s.watch = loop.AddWatch(fd, [fd](bool r, bool w) { OnReady(fd, r, w); });
  if (s.watch != 0) loop.SetWatch(s.watch, read, write);
}

int SocketError(int fd) {
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
  return error;
}

void Connected(int fd, SocketState& s, int error) {
  s.connecting = false;
  if (error != 0) {
    // A failed connect ends the socket's notices; it can only be closed.
    Post(fd, s, FD_CONNECT, WinsockErrorFromErrno(error));
    s.close_posted = true;
  } else {
    s.connected = true;
    s.read_armed = true;
    Post(fd, s, FD_CONNECT, 0);
    Post(fd, s, FD_WRITE, 0);
  }
}

void OnReady(int fd, bool readable, bool writable) {
  Provider& p = State();
  std::lock_guard lock(p.mutex);
  auto it = p.sockets.find(fd);
  if (it == p.sockets.end()) return;
  SocketState& s = it->second;
  if (s.connecting) {
    Connected(fd, s, SocketError(fd));
  } else {
    if (readable && s.read_armed && !s.close_posted) {
      int waiting = 0;
      if (::ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0) {
        Post(fd, s, FD_READ, 0);
        s.read_armed = false;  // until recv is called
      } else {
        // Readable with nothing to read: the peer closed or the connection failed, and every byte
        // that came before has been read.
        Post(fd, s, FD_CLOSE, WinsockErrorFromErrno(SocketError(fd)));
        s.close_posted = true;
      }
    }
    if (writable && s.write_armed) {
      Post(fd, s, FD_WRITE, 0);
      s.write_armed = false;
    }
  }
  UpdateWatch(fd, s);
}

SocketState* Find(Provider& p, SOCKET s) {
  if (s > static_cast<SOCKET>(INT32_MAX)) return nullptr;
  auto it = p.sockets.find(static_cast<int>(s));
  return it == p.sockets.end() ? nullptr : &it->second;
}

void ForgetSocket(Provider& p, int fd) {
  auto it = p.sockets.find(fd);
  if (it == p.sockets.end()) return;
  if (it->second.watch != 0) CurrentMessageLoop().RemoveWatch(it->second.watch);
  if (it->second.window != 0) {
    const WPARAM socket = static_cast<WPARAM>(fd);
    RemovePostedMessages(it->second.window, it->second.msg, [socket](WPARAM w, LPARAM) { return w != socket; });
  }
  p.sockets.erase(it);
  ::close(fd);
}

void CancelRequest(Provider& p, ASYNC_HANDLE handle) {
  p.requests.erase(handle);
  RemovePostedMessages(p.lookup_window, kLookupDone, [handle](WPARAM w, LPARAM) { return w != handle; });
}

// Lays the host entry out in the caller's buffer; the bytes needed, which may exceed length.
std::size_t WriteHostEntry(const std::string& name, const std::vector<std::array<std::uint8_t, 4>>& addresses,
                           char* buffer, std::size_t length) {
  const std::size_t aliases_at = sizeof(HOSTENT);
  const std::size_t list_at = aliases_at + sizeof(char*);
  const std::size_t bytes_at = list_at + (addresses.size() + 1) * sizeof(char*);
  const std::size_t name_at = bytes_at + addresses.size() * 4;
  const std::size_t needed = name_at + name.size() + 1;
  if (needed > length) return needed;
  HOSTENT entry{};
  entry.h_name = buffer + name_at;
  entry.h_aliases = reinterpret_cast<char**>(buffer + aliases_at);
  entry.h_addrtype = AF_INET_WS;
  entry.h_length = 4;
  entry.h_addr_list = reinterpret_cast<char**>(buffer + list_at);
  std::memcpy(buffer, &entry, sizeof entry);
  entry.h_aliases[0] = nullptr;
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    std::memcpy(buffer + bytes_at + 4 * i, addresses[i].data(), 4);
    entry.h_addr_list[i] = buffer + bytes_at + 4 * i;
  }
  entry.h_addr_list[addresses.size()] = nullptr;
  std::memcpy(buffer + name_at, name.c_str(), name.size() + 1);
  return needed;
}

LRESULT LookupWindowProc(UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg != kLookupDone) return 0;
  Provider& p = State();
  std::shared_ptr<Request> request;
  {
    std::lock_guard lock(p.mutex);
    auto it = p.requests.find(wparam);
    if (it == p.requests.end()) return 0;  // cancelled
    request = it->second;
    p.requests.erase(it);
  }
  SendMessage(request->window, request->msg, request->handle, lparam);
  return 0;
}

// --- the provider's functions ---

int ws_closesocket(SOCKET s) {
  Provider& p = State();
  std::lock_guard lock(p.mutex);
  if (p.started == 0) return Fail(WSANOTINITIALISED);
  if (Find(p, s) == nullptr) return Fail(WSAENOTSOCK);
  ForgetSocket(p, static_cast<int>(s));
  last_error = 0;
  return 0;
}

int ws_connect(SOCKET s, const SOCKADDR_IN* name, int namelen) {
  Provider& p = State();
  std::lock_guard lock(p.mutex);
  if (p.started == 0) return Fail(WSANOTINITIALISED);
  SocketState* state = Find(p, s);
  if (state == nullptr) return Fail(WSAENOTSOCK);
  if (name == nullptr || namelen < static_cast<int>(sizeof(SOCKADDR_IN))) return Fail(WSAEFAULT);
  if (state->connecting) return Fail(WSAEALREADY);
  if (state->connected) return Fail(WSAEISCONN);
  sockaddr_in address{};
  address.sin_family = name->sin_family == AF_INET_WS ? AF_INET : AF_UNSPEC;
  address.sin_port = name->sin_port;
  address.sin_addr.s_addr = name->sin_addr;
  if (address.sin_family != AF_INET) return Fail(WSAEAFNOSUPPORT);
  const int fd = static_cast<int>(s);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    Connected(fd, *state, 0);
    UpdateWatch(fd, *state);
    last_error = 0;
    return 0;
  }
  const int error = errno;
  const bool asynchronous = state->window != 0 && (state->events & FD_CONNECT) != 0;
  if (error == EINPROGRESS) {
    state->connecting = true;
    UpdateWatch(fd, *state);
    return Fail(WSAEWOULDBLOCK);
  }
  // A refusal known at once still arrives as the connect notice when one was asked for, as it
  // would on Windows.
  if (asynchronous && (error == ECONNREFUSED || error == ENETUNREACH || error == EHOSTUNREACH || error == ETIMEDOUT)) {
    Connected(fd, *state, error);
    UpdateWatch(fd, *state);
    return Fail(WSAEWOULDBLOCK);
  }
  return Fail(WinsockErrorFromErrno(error));
}

std::uint16_t ws_htons(std::uint16_t value) { return htons(value); }

u_long ws_inet_addr(const char* text) {
  in_addr address{};
  if (text == nullptr || ::inet_aton(text, &address) == 0) return INADDR_NONE_WS;
  return address.s_addr;
}

char* ws_inet_ntoa(u_long in) {
  thread_local char text[16];
  const auto* b = reinterpret_cast<const std::uint8_t*>(&in);
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return text;
}

int ws_recv(SOCKET s, char* buf, int len, int flags) {
  Provider& p = State();
  std::lock_guard lock(p.mutex);
  if (p.started == 0) return Fail(WSANOTINITIALISED);
  SocketState* state = Find(p, s);
  if (state == nullptr) return Fail(WSAENOTSOCK);
  if (buf == nullptr || len < 0) return Fail(WSAEFAULT);
  const int fd = static_cast<int>(s);
  const ssize_t got = ::recv(fd, buf, static_cast<std::size_t>(len), flags | MSG_DONTWAIT);
  const int error = errno;
  if (state->connected) {
    state->read_armed = true;
    UpdateWatch(fd, *state);
  }
  if (got < 0) return Fail(state->connected || state->connecting ? WinsockErrorFromErrno(error) : WSAENOTCONN);
  last_error = 0;
  return static_cast<int>(got);
}

int ws_send(SOCKET s, const char* buf, int len, int flags) {
  Provider& p = State();
  std::lock_guard lock(p.mutex);
  if (p.started == 0) return Fail(WSANOTINITIALISED);
  SocketState* state = Find(p, s);
  if (state == nullptr) return Fail(WSAENOTSOCK);
  if (buf == nullptr || len < 0) return Fail(WSAEFAULT);
  if (!state->connected) return Fail(WSAENOTCONN);
  const int fd = static_cast<int>(s);
  const ssize_t sent = ::send(fd, buf, static_cast<std::size_t>(len), flags | MSG_NOSIGNAL | MSG_DONTWAIT);
  if (sent < 0) {
    const int error = errno;
    if (error == EAGAIN) {
      state->write_armed = true;
      UpdateWatch(fd, *state);
    }
    return Fail(WinsockErrorFromErrno(error));
  }
  last_error = 0;
  return static_cast<int>(sent);
}

SOCKET ws_socket(int af, int type, int protocol) {
  Provider& p = State();
  std::lock_guard lock(p.mutex);
  if (p.started == 0) {
    last_error = WSANOTINITIALISED;
    return INVALID_SOCKET;
  }
  if (af != AF_INET_WS) {
    last_error = WSAEAFNOSUPPORT;
    return INVALID_SOCKET;
  }
  if (type != SOCK_STREAM_WS) {
    last_error = WSAESOCKTNOSUPPORT;
    return INVALID_SOCKET;
  }
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
  if (fd < 0) {
    last_error = WinsockErrorFromErrno(errno);
    return INVALID_SOCKET;
  }
  p.sockets[fd] = SocketState{};
  last_error = 0;
  return static_cast<SOCKET>(fd);
}

int ws_setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
  Provider& p = State();
  std::lock_guard lock(p.mutex);
  if (p.started == 0) return Fail(WSANOTINITIALISED);
  if (s == INVALID_SOCKET || p.sockets.find(static_cast<int>(s)) == p.sockets.end()) return Fail(WSAENOTSOCK);
  if (optval == nullptr || optlen < static_cast<int>(sizeof(int))) return Fail(WSAEFAULT);
  // Only what the socket component sets; any other option is one this provider does not know.
  if (level != IPPROTO_TCP_WS || optname != TCP_NODELAY_WS) return Fail(WSAENOPROTOOPT);
  int on = 0;
  std::memcpy(&on, optval, sizeof on);
  on = on != 0 ? 1 : 0;
  if (::setsockopt(static_cast<int>(s), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0)
    return Fail(WinsockErrorFromErrno(errno));
  last_error = 0;
  return 0;
}

int ws_gethostname(char* name, int namelen) {
  Provider& p = State();
  std::lock_guard lock(p.mutex);
  if (p.started == 0) return Fail(WSANOTINITIALISED);
  if (name == nullptr || namelen <= 0) return Fail(WSAEFAULT);
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) return Fail(WSAEFAULT);
  const std::size_t length = std::strlen(host);
  if (length + 1 > static_cast<std::size_t>(namelen)) return Fail(WSAEFAULT);
  std::memcpy(name, host, length + 1);
  last_error = 0;
  return 0;
}

int ws_WSAAsyncSelect(SOCKET s, HWND window, UINT msg, long events) {
  Provider& p = State();
  std::lock_guard lock(p.mutex);
  if (p.started == 0) return Fail(WSANOTINITIALISED);
  SocketState* state = Find(p, s);
  if (state == nullptr) return Fail(WSAENOTSOCK);
  if (events != 0 && !IsWindow(window)) return Fail(WSAEINVAL);
  // Notices already queued for an earlier registration are not for this one.
  if (state->window != 0) {
    const WPARAM socket = static_cast<WPARAM>(s);
    RemovePostedMessages(state->window, state->msg, [socket](WPARAM w, LPARAM) { return w != socket; });
  }
  state->window = events == 0 ? 0 : window;
  state->msg = msg;
  state->events = events;
  state->read_armed = true;
  state->write_armed = state->connected;
  UpdateWatch(static_cast<int>(s), *state);
  last_error = 0;
  return 0;
}

ASYNC_HANDLE ws_WSAAsyncGetHostByName(HWND window, UINT msg, const char* name, char* buf, int buflen) {
  Provider& p = State();
  std::lock_guard lock(p.mutex);
  if (p.started == 0) {
    last_error = WSANOTINITIALISED;
    return 0;
  }
  if (name == nullptr || buf == nullptr || buflen < 0 ||
      reinterpret_cast<std::uintptr_t>(buf) % alignof(HOSTENT) != 0) {
    last_error = WSAEFAULT;
    return 0;
  }
  if (!IsWindow(window)) {
    last_error = WSAEINVAL;
    return 0;
  }
  auto request = std::make_shared<Request>();
  request->handle = p.next_request++;
  request->window = window;
  request->msg = msg;
  request->buffer = buf;
  request->length = buflen;
  p.requests[request->handle] = request;
  HostResolver resolver = p.resolver ? p.resolver : HostResolver(DefaultResolver);
  std::string host = name;
  const HWND reply_to = p.lookup_window;
  std::thread([request, resolver = std::move(resolver), host = std::move(host), reply_to] {
    std::vector<std::array<std::uint8_t, 4>> addresses;
    int error = resolver(host, &addresses);
    if (addresses.size() > kMaxAddresses) addresses.resize(kMaxAddresses);
    Provider& state = State();
    std::lock_guard done(state.mutex);
    // Cancelled meanwhile: the caller's buffer may be gone, so it is not touched.
    if (state.requests.find(request->handle) == state.requests.end()) return;
    std::size_t needed = 0;
    if (error == 0) {
      needed = WriteHostEntry(host, addresses, request->buffer, static_cast<std::size_t>(request->length));
      if (needed > static_cast<std::size_t>(request->length)) error = WSAENOBUFS;
    }
    const LPARAM reply = static_cast<LPARAM>((static_cast<std::uint32_t>(error & 0xFFFF) << 16) |
                                             static_cast<std::uint32_t>(std::min<std::size_t>(needed, 0xFFFF)));
    PostMessage(reply_to, kLookupDone, request->handle, reply);
  }).detach();
  last_error = 0;
  return request->handle;
}

int ws_WSACancelAsyncRequest(ASYNC_HANDLE handle) {
  Provider& p = State();
  std::lock_guard lock(p.mutex);
  if (p.started == 0) return Fail(WSANOTINITIALISED);
  if (p.requests.find(handle) == p.requests.end()) return Fail(WSAEINVAL);
  CancelRequest(p, handle);
  last_error = 0;
  return 0;
}

int ws_WSAGetLastError() { return last_error; }

int ws_WSAStartup(WORD version, WSADATA* data) {
  const int major = version & 0xFF;
  const int minor = (version >> 8) & 0xFF;
  if (major < 1 || (major == 1 && minor < 1)) return WSAVERNOTSUPPORTED;
  if (data == nullptr) return WSAEFAULT;
  Provider& p = State();
  std::lock_guard lock(p.mutex);
  if (p.lookup_window == 0) p.lookup_window = AllocateHWnd(&LookupWindowProc);
  ++p.started;
  *data = WSADATA{};
  data->wVersion = 0x0101;
  data->wHighVersion = 0x0101;
  std::snprintf(data->szDescription, sizeof data->szDescription, "%s", "KAVRIN Winsock 1.1 on POSIX sockets");
  std::snprintf(data->szSystemStatus, sizeof data->szSystemStatus, "%s", "Running");
  rlimit files{};
  const rlim_t most = ::getrlimit(RLIMIT_NOFILE, &files) == 0 ? files.rlim_cur : 1024;
  data->iMaxSockets = static_cast<std::uint16_t>(std::min<rlim_t>(most, 0xFFFF));
  data->iMaxUdpDg = 0;
  return 0;
}

int ws_WSACleanup() {
  Provider& p = State();
  std::lock_guard lock(p.mutex);
  if (p.started == 0) return Fail(WSANOTINITIALISED);
  if (--p.started == 0) {
    // The last cleanup closes what is left, as Winsock does.
    while (!p.sockets.empty()) ForgetSocket(p, p.sockets.begin()->first);
    while (!p.requests.empty()) CancelRequest(p, p.requests.begin()->first);
  }
  last_error = 0;
  return 0;
}

constexpr WinsockProvider kPosixProvider = {
    ws_closesocket,
    ws_connect,
    ws_htons,
    ws_inet_addr,
    ws_inet_ntoa,
    ws_recv,
    ws_send,
    ws_socket,
    ws_gethostname,
    ws_WSAAsyncSelect,
    ws_WSAAsyncGetHostByName,
    ws_WSACancelAsyncRequest,
    ws_WSAGetLastError,
    ws_WSAStartup,
    ws_WSACleanup,
    ws_setsockopt,
};

}  // namespace

const WinsockProvider& PosixWinsockProvider() { return kPosixProvider; }

void SetWinsockProvider(const WinsockProvider* provider) {
  Provider& p = State();
  std::lock_guard lock(p.mutex);
  p.bound = provider;
}

const WinsockProvider* LoadWinsockLibrary(std::string_view name) {
  name = name.substr(0, std::min<std::size_t>(name.size(), 255));
  if (!name.empty() && !detail::EqualIgnoringAsciiCase(name, "WSOCK32.DLL")) return nullptr;
  Provider& p = State();
  std::lock_guard lock(p.mutex);
  return p.bound != nullptr ? p.bound : &kPosixProvider;
}

void SetHostResolver(HostResolver resolver) {
  Provider& p = State();
  std::lock_guard lock(p.mutex);
  p.resolver = std::move(resolver);
}

}  // namespace kavrin::platform
