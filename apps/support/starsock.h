// TStarSocket: one client TCP connection that never blocks the program. Winsock is loaded at run
// time; the look-up and the socket work answer by messages to a hidden window of the component's
// own, and a one-second timer counts the look-up and connect time-outs. Failures are never raised:
// each leaves its Winsock error in LastError() for the owner to check.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/message_window.h"
#include "platform/winsock.h"

namespace kavrin::support {

class TStarSocket;
using TSocketEvent = std::function<void(TStarSocket* sender)>;

class TStarSocket {
 public:
  // Private messages of the hidden window.
  static constexpr platform::UINT kLookupReply = platform::WM_USER;
  static constexpr platform::UINT kSocketEvent = platform::WM_USER + 1;

  TStarSocket();
  virtual ~TStarSocket();
  TStarSocket(const TStarSocket&) = delete;
  TStarSocket& operator=(const TStarSocket&) = delete;

  bool LoadWinsock(const std::string& name);
  bool StartWinsock();
  void StopWinsock();
  void UnloadWinsock();

  void CreateSocket();
  void SetAddress(const std::string& dotted);
  void SetPort(std::uint16_t port);
  void UseLookupAddress();
  std::string AddressText() const;
  void LookupHost(const std::string& name);
  void Connect();
  int CloseSocket();
  int SendBytes(const void* buffer, int count);
  int ReceiveBytes(void* buffer, int count);
  std::string LocalHostName();
  virtual void LookupDone();
  void StartTimer(int seconds);

  const std::string& SMTP_Server() const { return server_text_; }
  void SetSMTP_Server(const std::string& text);

  int TimeoutConnect = 0;  // seconds, 0 none
  int TimeoutArp = 0;

  TSocketEvent OnLookupDone, OnConnected, OnClosed, OnTimeout, OnDataAvailable, OnWriteReady, OnAccept;

  bool WinsockLoaded() const { return loaded_; }
  bool WinsockStarted() const { return started_; }
  bool Connected() const { return connected_; }
  bool HasSocket() const { return socket_ != platform::INVALID_SOCKET; }
  bool LookupPending() const { return lookup_request_ != 0; }
  std::uint16_t LastError() const { return last_error_; }
  const std::string& DottedAddress() const { return dotted_address_; }
  const std::string& HostName() const { return host_name_; }
  const std::string& Description() const { return description_; }
  const std::string& SystemStatus() const { return system_status_; }
  int MaxSockets() const { return max_sockets_; }
  platform::HWND Window() const { return window_; }
  platform::SOCKET Socket() const { return socket_; }
  // The remote address record as connect gets it.
  const platform::SOCKADDR_IN& RemoteAddress() const { return address_; }

 protected:
  // Messages above WM_USER + 1 go here (SendMail's done notice), and timers other than the socket's.
  std::function<void(platform::UINT msg, platform::WPARAM wparam, platform::LPARAM lparam)> OwnerHandler;
  void SetLastError(int error) { last_error_ = static_cast<std::uint16_t>(error); }
  // False once destruction has begun: a frame that ran a nested message loop or a handler checks it
  // before it touches the component again.
  std::shared_ptr<const bool> AliveFlag() const { return alive_; }
  void MarkDead() { *alive_ = false; }
  const platform::WinsockProvider* Winsock() const { return winsock_; }

 private:
  platform::LRESULT WindowProc(platform::UINT msg, platform::WPARAM wparam, platform::LPARAM lparam);
  void StopTimer();
  void Fire(const TSocketEvent& event) {
    // A copy: the handler may free the component, and with it the handler's own storage.
    if (TSocketEvent copy = event) copy(this);
  }

  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  platform::HWND window_ = 0;
  platform::SOCKET socket_ = platform::INVALID_SOCKET;
  platform::SOCKADDR_IN address_{};
  bool connected_ = false;
  bool loaded_ = false;
  bool started_ = false;
  const platform::WinsockProvider* winsock_ = nullptr;
  platform::WSADATA wsa_data_{};
  std::string description_, system_status_;
  int max_sockets_ = 0;
  alignas(platform::HOSTENT) char host_buffer_[platform::MAXGETHOSTSTRUCT] = {};
  std::string lookup_name_;
  std::uint8_t lookup_address_[4] = {};
  platform::ASYNC_HANDLE lookup_request_ = 0;
  std::string dotted_address_, host_name_, server_text_;
  std::uint16_t last_error_ = 0;
  int countdown_ = 0;
  platform::WPARAM timer_id_ = 0;
};

// True for four dotted decimal numbers of 0 to 255, the only server text taken as an address.
bool IsDottedAddress(const std::string& text);

}  // namespace kavrin::support
