// Server replies, cut into random chunks, fed into SendMail through an in-memory Winsock: the send
// must end at most once, keep its buffers bounded, and put out nothing but whole command lines and
// one transparent message.
// Input: a flags byte (kept connection, cancel point), then chunks of [length byte][bytes].
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "apps/support/Inetmail.h"
#include "platform/message_window.h"
#include "platform/poll_message_loop.h"
#include "platform/winsock.h"

namespace {

namespace p = kavrin::platform;
using kavrin::support::SendMail;

constexpr p::SOCKET kSocket = 7;

struct Wire {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::size_t at = 0;
  std::string chunk;  // what recv gives next
  std::string out;    // what the component sent
  p::HWND window = 0;
  p::UINT msg = 0;
  bool open = false;
  int error = 0;

  // Takes the next chunk from the input and notifies; at the end, the server closes.
  void Next() {
    if (!open || window == 0) return;
    if (at >= size) {
      p::PostMessage(window, msg, kSocket, p::WSAMAKESELECTREPLY(p::FD_CLOSE, 0));
      open = false;
      return;
    }
    const std::size_t length = std::min<std::size_t>(data[at] + 1, size - at - 1);
    chunk.assign(reinterpret_cast<const char*>(data + at + 1), length);
    at += length + 1;
    p::PostMessage(window, msg, kSocket, p::WSAMAKESELECTREPLY(p::FD_READ, 0));
  }
};

Wire wire;

int Fail(int e) {
  wire.error = e;
  return p::SOCKET_ERROR;
}
int ws_closesocket(p::SOCKET) {
  wire.open = false;
  wire.window = 0;
  wire.error = 0;
  return 0;
}
int ws_connect(p::SOCKET, const p::SOCKADDR_IN*, int) {
  wire.open = true;
  p::PostMessage(wire.window, wire.msg, kSocket, p::WSAMAKESELECTREPLY(p::FD_CONNECT, 0));
  wire.Next();
  return Fail(p::WSAEWOULDBLOCK);
}
std::uint16_t ws_htons(std::uint16_t v) { return static_cast<std::uint16_t>((v << 8) | (v >> 8)); }
p::u_long ws_inet_addr(const char*) { return 0x0100007F; }
char* ws_inet_ntoa(p::u_long) {
  static char text[] = "127.0.0.1";
  return text;
}
int ws_recv(p::SOCKET, char* buf, int len, int) {
  if (wire.chunk.empty()) return wire.open ? Fail(p::WSAEWOULDBLOCK) : 0;
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(len), wire.chunk.size());
  wire.chunk.copy(buf, n);
  wire.chunk.erase(0, n);
  if (wire.chunk.empty()) wire.Next();
  wire.error = 0;
  return static_cast<int>(n);
}
int ws_send(p::SOCKET, const char* buf, int len, int) {
  if (!wire.open) return Fail(p::WSAENOTCONN);
  wire.out.append(buf, static_cast<std::size_t>(len));
  wire.error = 0;
  return len;
}
p::SOCKET ws_socket(int, int, int) { return kSocket; }
int ws_gethostname(char* name, int) {
  std::snprintf(name, 5, "fuzz");
  return 0;
}
int ws_WSAAsyncSelect(p::SOCKET, p::HWND window, p::UINT msg, long) {
  wire.window = window;
  wire.msg = msg;
  return 0;
}
p::ASYNC_HANDLE ws_lookup(p::HWND, p::UINT, const char*, char*, int) { return 0; }
int ws_cancel(p::ASYNC_HANDLE) { return 0; }
int ws_last_error() { return wire.error; }
int ws_startup(p::WORD, p::WSADATA* data) {
  *data = p::WSADATA{};
  return 0;
}
int ws_cleanup() { return 0; }

const p::WinsockProvider kMemory = {
    ws_closesocket, ws_connect,        ws_htons,  ws_inet_addr, ws_inet_ntoa,  ws_recv,    ws_send,    ws_socket,
    ws_gethostname, ws_WSAAsyncSelect, ws_lookup, ws_cancel,    ws_last_error, ws_startup, ws_cleanup, nullptr};

bool Known(std::string_view line) {
  for (std::string_view command : {"HELO ", "MAIL FROM:<", "RCPT TO:<", "DATA", "QUIT"})
    if (line.substr(0, command.size()) == command) return true;
  return false;
}

[[noreturn]] void Broken(const char* why, const std::string& out) {
  std::fprintf(stderr, "%s in: \"%s\"\n", why, out.c_str());
  std::abort();
}

// Every line ends in CR LF; outside the message each line is one command; the message ends only at
// its lone "." (or is cut off by the closed connection).
void CheckOutput(const std::string& out) {
  bool in_data = false;
  std::size_t at = 0;
  while (at < out.size()) {
    const std::size_t end = out.find("\r\n", at);
    if (end == std::string::npos) {
      // A send that ends inside the message (cancelled, or the server failed) closes the connection
      // with the message unended: the server drops it.
      if (in_data) return;
      Broken("a partial line", out);
    }
    const std::string_view line(out.data() + at, end - at);
    if (line.find_first_of("\r\n") != std::string_view::npos) Broken("a bare line end", out);
    if (in_data) {
      if (line == ".") in_data = false;
    } else {
      if (!Known(line)) Broken("not a command line", out);
      if (line == "DATA") in_data = true;
    }
    at = end + 2;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static p::PollMessageLoop loop;
  p::SetMessageLoop(&loop);
  p::SetWinsockProvider(&kMemory);
  wire = Wire{};
  wire.data = data + 1;
  wire.size = size - 1;
  int done = 0;
  {
    SendMail mail;
    mail.SetSMTP_Server("127.0.0.1");
    mail.FROM_Address = "a@example.com";
    mail.TO_Address = "b@example.com";
    mail.ListTo = {"c@example.com|C"};
    mail.Listcc = {"d@example.com"};
    mail.ListBcc = {"e@example.com"};
    mail.Subject = "S";
    mail.MailText = {"line", ".", "..x"};
    mail.KeepConnectionOpen = (data[0] & 1) != 0;
    const int cancel_at = data[0] >> 1;
    int infos = 0;
    mail.OnDone = [&done](SendMail*) { ++done; };
    mail.OnMailInfo = [&](SendMail* m, int, const std::string&) {
      if (++infos == cancel_at) m->SetAction(kavrin::support::TMailAction::Cancel_SendMail);
    };
    mail.SetAction(kavrin::support::TMailAction::Send_Mail);
    // Every chunk is one notice and the end of the input a close: a bounded number of runs ends it.
    int after_done = 0;
    for (int i = 0; i < 4 * static_cast<int>(size) + 64 && after_done < 4; ++i) {
      loop.RunPending();
      if (done > 0) ++after_done;
    }
    if (done > 1) std::abort();
    if (done == 1 && mail.Busy()) std::abort();
    if (wire.out.size() > 4096) std::abort();  // a small message and a few commands, nothing more
  }
  loop.RunPending();
  if (done > 1) std::abort();
  CheckOutput(wire.out);
  p::SetWinsockProvider(nullptr);
  p::SetMessageLoop(nullptr);
  return 0;
}
