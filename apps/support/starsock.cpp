#include "apps/support/starsock.h"

#include <cstring>

namespace kavrin::support {

namespace p = kavrin::platform;

namespace {

constexpr p::WPARAM kTimerId = 1;

// Every entry the component calls must be there, as every ordinal had to be in the library.
bool Complete(const p::WinsockProvider& w) {
  return w.closesocket && w.connect && w.htons && w.inet_addr && w.inet_ntoa && w.recv && w.send && w.socket &&
         w.gethostname && w.WSAAsyncSelect && w.WSAAsyncGetHostByName && w.WSACancelAsyncRequest && w.WSAGetLastError &&
         w.WSAStartup && w.WSACleanup;
}

}  // namespace

bool IsDottedAddress(const std::string& text) {
  int parts = 0;
  std::size_t i = 0;
  while (true) {
    std::size_t digits = 0;
    int value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
      value = value * 10 + (text[i] - '0');
      ++i;
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return false;
    ++parts;
    if (i == text.size()) return parts == 4;
    if (text[i] != '.' || parts == 4) return false;
    ++i;
  }
}

TStarSocket::TStarSocket() {
  address_.sin_family = p::AF_INET_WS;
  window_ = p::AllocateHWnd([this](p::UINT msg, p::WPARAM w, p::LPARAM l) { return WindowProc(msg, w, l); });
}

TStarSocket::~TStarSocket() {
  MarkDead();
  // Closing here (not only on a close notice) means no descriptor and no look-up outlive the
  // component, and no notice of them can reach a later one.
  if (winsock_ != nullptr && started_) CloseSocket();
  p::DeallocateHWnd(window_);
  UnloadWinsock();
}

bool TStarSocket::LoadWinsock(const std::string& name) {
  const p::WinsockProvider* provider = p::LoadWinsockLibrary(name.substr(0, 255));
  if (provider == nullptr || !Complete(*provider)) return false;
  winsock_ = provider;
  loaded_ = true;
  return true;
}

bool TStarSocket::StartWinsock() {
  if (started_) return true;
  if (!loaded_) LoadWinsock("");
  if (!loaded_) return false;
  wsa_data_ = p::WSADATA{};
  if (winsock_->WSAStartup(0x0101, &wsa_data_) == 0) {
    started_ = true;
    description_.assign(wsa_data_.szDescription, strnlen(wsa_data_.szDescription, sizeof wsa_data_.szDescription));
    system_status_.assign(wsa_data_.szSystemStatus, strnlen(wsa_data_.szSystemStatus, sizeof wsa_data_.szSystemStatus));
    max_sockets_ = wsa_data_.iMaxSockets;
  }
  return started_;
}

void TStarSocket::StopWinsock() {
  if (!started_) return;
  // Winsock's cleanup closes the socket; the component must not keep its number.
  CloseSocket();
  started_ = false;
  winsock_->WSACleanup();
}

void TStarSocket::UnloadWinsock() {
  if (started_) StopWinsock();
  if (loaded_) {
    loaded_ = false;
    winsock_ = nullptr;
  }
}

void TStarSocket::CreateSocket() {
  if (socket_ != p::INVALID_SOCKET || !started_) return;
  socket_ = winsock_->socket(p::AF_INET_WS, p::SOCK_STREAM_WS, 0);
  SetLastError(socket_ == p::INVALID_SOCKET ? winsock_->WSAGetLastError() : 0);
  if (socket_ != p::INVALID_SOCKET && winsock_->setsockopt != nullptr) {
    // A command or the end of a message is written alone and waited on: with Nagle's delay it
    // waits for the peer's delayed acknowledgement (some 40 ms) first. Failing here costs speed only.
    const int on = 1;
    winsock_->setsockopt(socket_, p::IPPROTO_TCP_WS, p::TCP_NODELAY_WS, reinterpret_cast<const char*>(&on), sizeof on);
  }
}

void TStarSocket::SetAddress(const std::string& dotted) {
  if (winsock_ != nullptr) address_.sin_addr = winsock_->inet_addr(dotted.c_str());
}

void TStarSocket::SetPort(std::uint16_t port) {
  if (winsock_ != nullptr) address_.sin_port = (winsock_->htons)(port);  // parenthesised: htons may be a macro
}

void TStarSocket::UseLookupAddress() { std::memcpy(&address_.sin_addr, lookup_address_, 4); }

std::string TStarSocket::AddressText() const {
  if (winsock_ == nullptr) return {};
  const char* text = winsock_->inet_ntoa(address_.sin_addr);
  return text == nullptr ? std::string() : std::string(text);
}

void TStarSocket::LookupHost(const std::string& name) {
  if (lookup_request_ != 0 || !started_) return;
  lookup_name_ = name.substr(0, 255);
  lookup_request_ =
      winsock_->WSAAsyncGetHostByName(window_, kLookupReply, lookup_name_.c_str(), host_buffer_, sizeof host_buffer_);
  if (lookup_request_ == 0) {
    SetLastError(winsock_->WSAGetLastError());
  } else {
    SetLastError(0);
    StartTimer(TimeoutArp);
  }
}

void TStarSocket::Connect() {
  if (!started_) return;
  winsock_->WSAAsyncSelect(socket_, window_, kSocketEvent, p::FD_READ | p::FD_WRITE | p::FD_CONNECT | p::FD_CLOSE);
  const int result = winsock_->connect(socket_, &address_, sizeof address_);
  int error = result != 0 ? winsock_->WSAGetLastError() : 0;
  if (error == p::WSAEWOULDBLOCK) error = 0;
  SetLastError(error);
  if (error == 0) StartTimer(TimeoutConnect);
}

int TStarSocket::CloseSocket() {
  if (lookup_request_ != 0) {
    if (winsock_ != nullptr) winsock_->WSACancelAsyncRequest(lookup_request_);
    lookup_request_ = 0;
  }
  StopTimer();
  if (socket_ == p::INVALID_SOCKET) return -1;
  int error = 0;
  if (winsock_ != nullptr) {
    winsock_->closesocket(socket_);
    error = winsock_->WSAGetLastError();
  }
  SetLastError(error);
  socket_ = p::INVALID_SOCKET;
  connected_ = false;
  return error;
}

int TStarSocket::SendBytes(const void* buffer, int count) {
  if (!started_) return 0;
  const int sent = winsock_->send(socket_, static_cast<const char*>(buffer), count, 0);
  if (sent > 0) {
    SetLastError(0);
    return sent;
  }
  if (sent == p::SOCKET_ERROR) {
    const int error = winsock_->WSAGetLastError();
    SetLastError(error == p::WSAEWOULDBLOCK ? 0 : error);
  }
  return 0;
}

int TStarSocket::ReceiveBytes(void* buffer, int count) {
  if (!started_) return 0;
  const int got = winsock_->recv(socket_, static_cast<char*>(buffer), count, 0);
  if (got > 0) {
    SetLastError(0);
    return got;
  }
  if (got == p::SOCKET_ERROR) {
    const int error = winsock_->WSAGetLastError();
    SetLastError(error == p::WSAEWOULDBLOCK ? 0 : error);
  }
  return 0;
}

std::string TStarSocket::LocalHostName() {
  if (!started_) return {};
  char name[256] = {};
  const bool ok = winsock_->gethostname(name, 255) == 0;
  SetLastError(winsock_->WSAGetLastError());
  return ok ? std::string(name, strnlen(name, 255)) : std::string();
}

void TStarSocket::LookupDone() { Fire(OnLookupDone); }

void TStarSocket::SetSMTP_Server(const std::string& text) {
  server_text_ = text;
  if (text.empty()) return;
  // Only a true dotted address is one: "3com.example" or "10.0.0.300" are names to look up.
  if (IsDottedAddress(text)) {
    dotted_address_ = text;
    host_name_.clear();
  } else {
    host_name_ = text;
    dotted_address_.clear();
  }
}

void TStarSocket::StartTimer(int seconds) {
  StopTimer();
  if (seconds <= 0) return;
  countdown_ = seconds;
  if (p::SetTimer(window_, kTimerId, 1000)) timer_id_ = kTimerId;
}

void TStarSocket::StopTimer() {
  if (timer_id_ != 0) p::KillTimer(window_, timer_id_);
  timer_id_ = 0;
}

p::LRESULT TStarSocket::WindowProc(p::UINT msg, p::WPARAM wparam, p::LPARAM lparam) {
  if (msg > kSocketEvent || (msg == p::WM_TIMER && wparam != kTimerId)) {
    if (auto handler = OwnerHandler) handler(msg, wparam, lparam);
    return 0;
  }
  switch (msg) {
    case p::WM_QUERYENDSESSION: return 1;
    case p::WM_TIMER:
      if (timer_id_ == 0 || wparam != timer_id_) return 0;
      if (--countdown_ <= 0) {
        CloseSocket();
        Fire(OnTimeout);
      }
      return 0;
    case kLookupReply: {
      if (lookup_request_ == 0 || wparam != lookup_request_) return 0;  // an answer nobody waits for
      StopTimer();
      SetLastError(p::WSAGETASYNCERROR(lparam));
      if (last_error_ == 0) {
        p::HOSTENT entry;
        std::memcpy(&entry, host_buffer_, sizeof entry);
        if (entry.h_addr_list != nullptr && entry.h_addr_list[0] != nullptr && entry.h_length == 4)
          std::memcpy(lookup_address_, entry.h_addr_list[0], 4);
        else
          SetLastError(p::WSANO_DATA);
      }
      lookup_request_ = 0;
      LookupDone();
      return 0;
    }
    case kSocketEvent: {
      if (socket_ == p::INVALID_SOCKET || wparam != socket_) return 0;  // not this socket's notice
      StopTimer();
      const int event = p::WSAGETSELECTEVENT(lparam);
      SetLastError(p::WSAGETSELECTERROR(lparam));
      switch (event) {
        case p::FD_READ: Fire(OnDataAvailable); break;
        case p::FD_WRITE: Fire(OnWriteReady); break;
        case p::FD_ACCEPT: Fire(OnAccept); break;
        case p::FD_CONNECT:
          connected_ = true;
          Fire(OnConnected);
          break;
        case p::FD_CLOSE: {
          const std::shared_ptr<const bool> alive = alive_;
          Fire(OnClosed);
          if (!*alive) return 0;
          if (connected_ && socket_ != p::INVALID_SOCKET) {
            winsock_->closesocket(socket_);
            connected_ = false;
            socket_ = p::INVALID_SOCKET;
          }
          break;
        }
        default: break;
      }
      return 0;
    }
    default: return 0;
  }
}

}  // namespace kavrin::support
