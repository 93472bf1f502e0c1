#include "apps/support/Inetmail.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <ctime>
#include <memory>

#include "platform/message_window.h"

namespace kavrin::support {

namespace p = kavrin::platform;

namespace {

constexpr std::size_t kReceiveBlock = 2048;
constexpr std::size_t kLineLimit = 253;

bool IsControl(unsigned char c) { return c < 32 || c == 127; }

// Anything that could end the address inside "<...>" or start a new command is refused; so is a
// comma, which splits an address list in the header into two, and a byte above 126, which neither
// the envelope (RFC 5321) nor a header (RFC 5322) may carry. The length keeps "MAIL FROM:<...>"
// within the command line SendLine writes whole.
bool ValidAddress(std::string_view address) {
  return address.size() <= 240 && std::none_of(address.begin(), address.end(), [](char ch) {
           const auto c = static_cast<unsigned char>(ch);
           return IsControl(c) || c == ' ' || c == '<' || c == '>' || c == ',' || c > 126;
         });
}

// The part of a Headers line that goes out unchanged must be a field name and carry no control
// character, else the line could start another header or continue the one before it.
bool ValidHeaderLine(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == 0 || colon == std::string_view::npos) return false;
  for (std::size_t i = 0; i < colon; ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    if (c < 33 || c > 126) return false;
  }
  const std::size_t value = line.find(": ");
  const std::string_view unchanged = value == std::string_view::npos ? line : line.substr(0, value + 2);
  return std::none_of(unchanged.begin(), unchanged.end(),
                      [](char c) { return IsControl(static_cast<unsigned char>(c)); });
}

}  // namespace

bool IsValidMailAddress(std::string_view address) { return ValidAddress(address); }
bool IsValidHeaderLine(std::string_view line) { return ValidHeaderLine(line); }

namespace {

bool ValidRecipients(const TStringList& lines) {
  for (const std::string& line : lines) {
    std::string address, name;
    SplitRecipient(line, &address, &name);
    if (address.empty() || !ValidAddress(address)) return false;
  }
  return true;
}

}  // namespace

SendMailError MailErrorOf(int e, std::string* text) {
  struct Entry {
    SendMailError code;
    const char* text;
  };
  auto of = [&]() -> Entry {
    switch (e) {
      case 0: return {0, ""};
      case p::WSANOTINITIALISED: return {smeWinsock, "Winsock not initialized"};
      case p::WSAENETDOWN: return {smeNetworkDown, "Network down"};
      case p::WSAEACCES: return {smeInvalidAddress, "Invalid address specified"};
      case p::WSAEINTR:
      case p::WSAEFAULT:
      case p::WSAEINVAL:
      case p::WSAEINPROGRESS:
      case p::WSAENOTSOCK:
      case p::WSAEMSGSIZE:
      case p::WSAEOPNOTSUPP:
      case p::WSAEAFNOSUPPORT:
      case p::WSAEADDRINUSE:
      case p::WSAEISCONN:
      case p::WSAENOTCONN:
      case p::WSAESHUTDOWN: return {smeInternal, "Unexpected internal error in component"};
      case p::WSAENETRESET:
      case p::WSAENOBUFS: return {smeGeneral, "General Winsock Error"};
      case p::WSAECONNABORTED: return {smeAborted, "Connection aborted due to timeout or other failure"};
      case p::WSAECONNRESET: return {smeReset, "Connection reset by remote side"};
      case p::WSAETIMEDOUT: return {smeTimeout, "timeout"};
      case p::WSAEMFILE: return {smeNoSockets, "Out of sockets"};
      case p::WSAENETUNREACH: return {smeNetUnreachable, "Network unreachable"};
      case p::WSAEADDRNOTAVAIL: return {smeAddressNotAvailable, "Address not available"};
      case p::WSAECONNREFUSED: return {smeRefused, "Connection Refused"};
      case p::WSAHOST_NOT_FOUND:
      case p::WSATRY_AGAIN:
      case p::WSANO_RECOVERY:
      case p::WSANO_DATA: return {smeResolution, "Address resolution error"};
      case p::WSAEHOSTUNREACH: return {smeHostUnreachable, "Host Unreachable"};
      default: return {smeUnknown, "Unknown Error"};
    }
  };
  const Entry entry = of();
  if (text != nullptr) *text = entry.text;
  return entry.code;
}

// One frame of one send, taken where the frame may run a nested message loop or a handler: the
// component may be freed meanwhile, or the send ended and another begun, and then nothing of this
// frame's send may run any more.
class SendMail::Frame {
 public:
  explicit Frame(const SendMail* mail) : mail_(mail), alive_(mail->AliveFlag()), send_(mail->send_id_) {}
  bool Exists() const { return *alive_; }
  bool Current() const { return *alive_ && mail_->send_id_ == send_; }
  bool Over() const { return !Current() || mail_->Stopped(); }

 private:
  const SendMail* mail_;
  std::shared_ptr<const bool> alive_;
  std::uintptr_t send_;
};

// The MIME writer's sink for one message: it lives in the frame that writes the message, so the
// writer's checks stay valid whatever happens to the component.
class SendMail::MessageSink : public TMimeSink {
 public:
  explicit MessageSink(SendMail* mail) : mail_(mail), frame_(mail) {}
  bool Over() const { return frame_.Over(); }
  void SendLine(std::string_view text) override {
    if (Over()) return;
    std::string line(text.substr(0, std::min(text.size(), kLineLimit)));
    line += "\r\n";
    mail_->SendMessageData(line);
  }
  void SendHeader(std::string_view text) override {
    if (!Over()) mail_->SendMessageData(std::string(text) + "\r\n");
  }
  void SendData(std::string_view text) override {
    if (!Over()) mail_->SendMessageData(text);
  }
  bool Stopped() const override { return Over(); }
  void Info(int code, const std::string& text) override {
    if (!Over()) mail_->MailInfo(code, text);
  }
  bool FeedData(std::string& data) override { return !Over() && mail_->FeedData(data); }

 private:
  SendMail* mail_;
  Frame frame_;
};

SendMail::SendMail() {
  OwnerHandler = [this](p::UINT msg, p::WPARAM wparam, p::LPARAM) {
    if (msg == p::WM_TIMER && wparam == kReplyTimer) {
      ReplyTimedOut();
      return;
    }
    if (msg != kDoneNotice || !busy_ || wparam != send_id_) return;
    busy_ = false;
    // A copy: the handler may free the component.
    if (TNotifyEvent done = OnDone) done(this);
  };
}

SendMail::~SendMail() {
  // Frames of a send still on the stack (a nested message loop freed the component) see this and
  // return without touching it; no OnDone comes from a component being destroyed.
  MarkDead();
  StopReplyTimer();
  OwnerHandler = nullptr;
  OnConnected = OnDataAvailable = OnClosed = OnTimeout = nullptr;
}

void SendMail::SetAction(TMailAction action) {
  if (action == TMailAction::Send_Mail) {
    StartSend();
  } else if (action == TMailAction::Cancel_SendMail) {
    if (busy_ && !Stopped()) {
      LastMailError = smeCancelled;
      AbortSend();
    } else if (!busy_ && Connected()) {
      CloseSocket();  // a kept connection; no send to end
    }
  }
}

void SendMail::SetWinsockStarted(bool started) {
  if (started) {
    StartWinsock();
    return;
  }
  // A send cannot outlive its Winsock: it ends first, with its OnDone.
  if (busy_ && !Stopped()) {
    LastMailError = smeCancelled;
    AbortSend();
  }
  UnloadWinsock();
}

bool SendMail::SetAttachmentSettings(std::size_t index, const TAttachmentSettings& settings) {
  if (index < 1 || index > kMaxAttachmentSettings) return false;
  settings_[index] = settings;
  return true;
}

void SendMail::MailInfo(SendMailInfo code, const std::string& text) {
  if (TSendMailInfoEvent info = OnMailInfo) info(this, code, text);
}

void SendMail::Error(SendMailError code, const std::string& text) {
  if (TSendMailErrorEvent error = OnMailError) error(this, code, text);
}

void SendMail::FailWith(SendMailError code, const std::string& text) {
  LastMailError = code;
  const Frame frame(this);
  Error(code, text);
  if (frame.Current()) AbortSend();
}

bool SendMail::FeedData(std::string& data) {
  if (!OnFeedData) return false;
  TSendMailEvent feed = OnFeedData;
  feed(this, data);
  return true;
}

void SendMail::PostDone() {
  if (done_posted_) return;
  done_posted_ = true;
  p::PostMessage(Window(), kDoneNotice, send_id_, 0);
}

void SendMail::Finish() {
  ended_ = true;
  StopReplyTimer();
}

bool SendMail::CheckAddresses() {
  if (!ValidAddress(FROM_Address) || !ValidRecipients(to_) || !ValidRecipients(cc_) || !ValidRecipients(bcc_))
    return false;
  return std::all_of(Headers.begin(), Headers.end(), [](const std::string& line) { return ValidHeaderLine(line); });
}

void SendMail::StartSend() {
  if (busy_) {
    MailInfo(smiBusy, "");
    return;
  }
  OnTimeout = [this](TStarSocket*) { ConnectTimedOut(); };
  cancelled_ = ended_ = done_posted_ = handling_ = false;
  busy_ = true;
  MessageSent = false;
  ++send_id_;
  skip_[0] = skip_[1] = skip_[2] = 0;
  multi_line_code_ = 0;
  out_.clear();
  StopReplyTimer();

  // The main recipient serves this send only: the caller's lists and TO_ fields stay as they are.
  to_ = ListTo;
  cc_ = Listcc;
  bcc_ = ListBcc;
  main_address_.clear();
  main_name_.clear();
  if (!TO_Address.empty()) {
    main_address_ = TO_Address;
    main_name_ = TO_Name;
    to_.insert(to_.begin(), TO_Address + "|" + TO_Name);
    skip_[0] = 1;
  } else {
    TStringList* lists[3] = {&to_, &cc_, &bcc_};
    for (int i = 0; i < 3; ++i) {
      if (lists[i]->empty()) continue;
      SplitRecipient(lists[i]->front(), &main_address_, &main_name_);
      skip_[i] = 1;
      break;
    }
  }
  if (main_address_.empty() || !CheckAddresses()) {
    FailWith(smeDestination, "Mail Destination Error");
    return;
  }

  if (Connected()) {
    // A kept connection: the dialogue resumes at "MAIL FROM", without "HELO".
    pending_.clear();
    SendMailFrom();
    return;
  }
  if (SMTP_Server().empty()) {
    FailWith(smeResolution, "Address resolution error");
    return;
  }
  if (!StartWinsock()) {
    FailWith(smeWinsock, "Winsock not initiliazed");
    return;
  }
  // A socket the server closed before it ever connected is of no use to this send.
  if (HasSocket()) CloseSocket();
  OnConnected = [this](TStarSocket*) { HandleConnected(); };
  OnDataAvailable = [this](TStarSocket*) { HandleRead(); };
  OnClosed = [this](TStarSocket*) { HandleClosed(); };
  CreateSocket();
  if (MapWinsockError()) return;
  if (!DottedAddress().empty()) {
    SetAddress(DottedAddress());
    SetPort(SMTP_Port);
    Connect();
  } else {
    const Frame frame(this);
    MailInfo(smiResolving, HostName());
    if (frame.Over()) return;
    LookupHost(HostName());
  }
  MapWinsockError();
}

void SendMail::AbortSend() {
  if (!busy_ || cancelled_ || ended_) return;
  TO_Address.clear();
  TO_Name.clear();
  ListTo.clear();
  Listcc.clear();
  ListBcc.clear();
  cancelled_ = true;
  StopReplyTimer();
  CloseSocket();
  PostDone();
}

bool SendMail::MapWinsockError() {
  if (Stopped()) return true;  // nothing of an ended send runs, and nothing more is reported
  std::string text;
  const SendMailError code = MailErrorOf(LastError(), &text);
  LastMailError = code;
  if (code == 0) return false;
  FailWith(code, text);
  return true;
}

void SendMail::LookupDone() {
  if (!busy_ || Stopped() || MapWinsockError()) return;
  UseLookupAddress();
  SetPort(SMTP_Port);
  const Frame frame(this);
  MailInfo(smiResolved, AddressText());
  if (frame.Over()) return;
  Connect();
  MapWinsockError();
}

void SendMail::ConnectTimedOut() {
  if (!busy_ || Stopped()) return;
  FailWith(smeTimeout, "Connection timed out");
}

void SendMail::Expect(int next_state, int seconds) {
  reply_state_ = next_state;
  multi_line_code_ = 0;
  StopReplyTimer();
  if (seconds > 0 && !Stopped())
    p::SetTimer(Window(), kReplyTimer, static_cast<std::uint32_t>(std::min(seconds, INT_MAX / 1000)) * 1000u);
}

void SendMail::StopReplyTimer() { p::KillTimer(Window(), kReplyTimer); }

void SendMail::ReplyTimedOut() {
  StopReplyTimer();
  if (!busy_ || Stopped()) return;
  if (reply_state_ == 7) {
    // The message was taken; a server that never answers "QUIT" only ends the dialogue.
    Finish();
    CloseSocket();
    const Frame frame(this);
    MailInfo(smiDisconnected, "");
    if (frame.Current()) PostDone();
    return;
  }
  FailWith(smeTimeout, "Connection timed out");
}

void SendMail::HandleConnected() {
  if (!busy_ || Stopped() || MapWinsockError()) return;
  pending_.clear();
  MessageSent = false;
  Expect(0, TimeoutGreeting);
  MailInfo(smiConnected, AddressText());
}

void SendMail::HandleRead() {
  if (handling_) return;  // read on the next notice, after the reply being handled
  char buffer[kReceiveBlock];
  if (!busy_ || Stopped()) {
    // A kept connection between sends: what the server says now belongs to no send.
    while (ReceiveBytes(buffer, sizeof buffer) > 0) {
    }
    return;
  }
  const Frame frame(this);
  while (true) {
    const int got = ReceiveBytes(buffer, sizeof buffer);
    if (got <= 0) return;
    pending_.append(buffer, static_cast<std::size_t>(got));
    std::size_t end;
    while ((end = pending_.find('\n')) != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.size() > kMaxReplyLine) {
        FailWith(smeUnexpectedResponse, "Unexpected response: " + line.substr(0, kMaxReplyLine));
        return;
      }
      handling_ = true;
      ProcessReply(line);
      // A frame of an ended send leaves the flag alone: a send begun meanwhile owns it.
      if (!frame.Current()) return;
      handling_ = false;
      if (frame.Over()) return;
    }
    if (pending_.size() > kMaxReplyLine) {
      FailWith(smeUnexpectedResponse, "Unexpected response: " + pending_.substr(0, kMaxReplyLine));
      return;
    }
  }
}

void SendMail::HandleClosed() {
  if (!busy_ || Stopped() || MapWinsockError()) return;
  Finish();
  const Frame frame(this);
  MailInfo(smiDisconnected, "");
  if (!frame.Current()) return;
  if (!MessageSent) {
    LastMailError = smePrematureDisconnect;
    Error(smePrematureDisconnect, "Prematurely Disconnected");
    if (!frame.Current()) return;
  }
  PostDone();
}

const TStringList* SendMail::PhaseList() const {
  switch (phase_) {
    case 1: return &to_;
    case 2: return &cc_;
    case 3: return &bcc_;
    default: return nullptr;
  }
}

std::size_t SendMail::PhaseSkip() const { return phase_ >= 1 && phase_ <= 3 ? skip_[phase_ - 1] : 0; }

void SendMail::NextPhase() {
  // Moves to the next list that has recipients left, or to phase 4 (DATA).
  do {
    ++phase_;
    const TStringList* list = PhaseList();
    last_index_ = list == nullptr ? 0 : static_cast<long>(list->size()) - static_cast<long>(PhaseSkip()) - 1;
  } while (last_index_ == -1 && !Stopped());
}

void SendMail::SendRecipient(const std::string& address) {
  const Frame frame(this);
  SendLine("RCPT TO:<" + address + ">");
  if (frame.Over()) return;
  current_recipient_ = address;
  MailInfo(smiRecipient, address);
}

void SendMail::SendMailFrom() {
  const Frame frame(this);
  SendLine("MAIL FROM:<" + FROM_Address + ">");
  if (!frame.Over()) Expect(2, TimeoutCommand);
}

// A reply is one line "ddd text", or lines "ddd-text" ... ending with "ddd text" (or a bare "ddd"),
// all with the same three-digit code (RFC 5321 section 4.2). Anything else is no reply at all: the
// dialogue cannot go on, since every later reply would be read as the answer to the wrong command.
void SendMail::ProcessReply(const std::string& line) {
  if (Stopped()) return;
  const Frame frame(this);
  MailInfo(smiReply, line);
  if (frame.Over()) return;
  const bool coded = line.size() >= 3 && line[0] >= '2' && line[0] <= '5' && line[1] >= '0' && line[1] <= '9' &&
                     line[2] >= '0' && line[2] <= '9' && (line.size() == 3 || line[3] == ' ' || line[3] == '-');
  const int code = coded ? (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0') : 0;
  if (!coded || (multi_line_code_ != 0 && code != multi_line_code_)) {
    FailWith(smeUnexpectedResponse, "Unexpected response: " + line);
    return;
  }
  if (line.size() > 3 && line[3] == '-') {
    multi_line_code_ = code;
    return;
  }
  multi_line_code_ = 0;
  HandleReply(code, line);
}

void SendMail::HandleReply(int code, const std::string& line) {
  const int kind = code / 100;
  const bool failure = kind == 4 || kind == 5;
  // In the recipient phase a refusal names the recipient and the send goes on; elsewhere only the
  // reply that lets the dialogue go on does: 354 to "DATA", a 2yz to everything else. Any answer to
  // "QUIT" ends the dialogue: the message was already taken, and an error would have it sent again.
  const bool expected = reply_state_ == 3 ? kind == 2 || failure : reply_state_ == 5 ? code == 354 : kind == 2;
  if (!expected && reply_state_ != 7) {
    FailWith(smeUnexpectedResponse, "Unexpected response: " + line);
    return;
  }
  const Frame frame(this);
  StopReplyTimer();
  switch (reply_state_) {
    case 0: {
      std::string host = LocalHostName();
      if (host.empty() || !ValidAddress(host)) host = "localhost";
      SendLine("HELO " + host);
      if (!frame.Over()) Expect(1, TimeoutCommand);
      break;
    }
    case 1: SendMailFrom(); break;
    case 2:
      SendLine("RCPT TO:<" + main_address_ + ">");
      if (frame.Over()) return;
      current_recipient_ = main_address_;
      index_ = -1;
      phase_ = 1;
      last_index_ = static_cast<long>(to_.size()) - static_cast<long>(skip_[0]) - 1;
      if (last_index_ == -1) NextPhase();
      Expect(3, TimeoutCommand);
      MailInfo(smiRecipient, main_address_);
      break;
    case 3:
      if (failure) {
        MailInfo(smiRecipientRejected, current_recipient_);
        if (frame.Over()) return;
      }
      if (phase_ <= 3) {
        if (index_ < last_index_) {
          ++index_;
          std::string address, name;
          SplitRecipient((*PhaseList())[static_cast<std::size_t>(index_) + PhaseSkip()], &address, &name);
          Expect(3, TimeoutCommand);
          SendRecipient(address);
          if (frame.Over()) return;
        }
        if (index_ >= last_index_) {
          NextPhase();
          index_ = -1;
        }
      } else {
        SendLine("DATA");
        if (!frame.Over()) Expect(5, TimeoutDataStart);
      }
      break;
    case 5: {
      TMimeMessage message;
      message.FROM_Name = FROM_Name;
      message.FROM_Address = FROM_Address;
      message.Subject = Subject;
      message.ListTo = to_;
      message.Listcc = cc_;
      message.MailText = MailText;
      message.Attachments = Attachments;
      message.Headers = Headers;
      message.Settings = settings_;
      message.Date = RfcDate(std::time(nullptr));
      message.MessageId = NewMessageId(FROM_Address);
      reply_state_ = 6;  // while the message is written no reply is waited for
      data_writer_.Reset();
      out_.clear();
      MessageSink sink(this);
      WriteMimeMessage(message, sink);
      if (sink.Over()) return;
      // The end of the message goes out with its last block: written alone it would wait.
      out_ += data_writer_.Finish();
      Flush();
      if (!frame.Over()) Expect(6, TimeoutDataEnd);
      break;
    }
    case 6:
      MessageSent = true;
      MailInfo(smiAccepted, "");
      if (frame.Over()) return;
      if (KeepConnectionOpen) {
        // The next send on this connection starts at "MAIL FROM".
        Finish();
        PostDone();
        return;
      }
      SendLine("QUIT");
      if (!frame.Over()) Expect(7, TimeoutCommand);
      break;
    case 7:
      // The answer to "QUIT": the dialogue is over even if the server keeps the connection.
      Finish();
      CloseSocket();
      MailInfo(smiDisconnected, "");
      if (frame.Current()) PostDone();
      break;
    default: break;
  }
}

void SendMail::SendLine(std::string_view text) {
  std::string line(text.substr(0, std::min(text.size(), kLineLimit)));
  line += "\r\n";
  SendData(line);
}

void SendMail::SendData(std::string_view text) {
  if (Stopped()) return;
  const Frame frame(this);
  MailInfo(smiSending, std::string(text));
  if (frame.Over()) return;
  SendRaw(text);
}

void SendMail::SendBuffer(const char* buffer, std::size_t count) { SendData(std::string_view(buffer, count)); }

void SendMail::SendMessageData(std::string_view text) {
  const Frame frame(this);
  MailInfo(smiSending, std::string(text));
  if (frame.Over()) return;
  out_ += data_writer_.Encode(text);
  // Small lines go out together; a block as large as the writer's own goes at once, so that each
  // block still lets the program run its messages and a cancel stops what follows.
  if (out_.size() >= kReceiveBlock) Flush();
}

void SendMail::Flush() {
  // Moved out first: the nested loop may start another send, which owns out_ then.
  const std::string bytes = std::move(out_);
  out_.clear();
  SendRaw(bytes);
}

void SendMail::SendRaw(std::string_view bytes) {
  const Frame frame(this);
  auto progress = std::chrono::steady_clock::now();
  while (!bytes.empty()) {
    p::ProcessPendingMessages();
    if (frame.Over()) return;
    const int sent = SendBytes(bytes.data(), static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX / 2)));
    if (sent > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(sent));
      progress = std::chrono::steady_clock::now();
    }
    if (MapWinsockError()) return;
    if (sent > 0) continue;
    // A server that takes nothing more (RFC 5321's data block time-out) ends the send.
    if (TimeoutDataBlock > 0 && std::chrono::steady_clock::now() - progress >= std::chrono::seconds(TimeoutDataBlock)) {
      FailWith(smeTimeout, "Connection timed out");
      return;
    }
    // The socket takes nothing now: wait in the loop until it does, or until something else comes.
    p::WaitMessage(100);
    if (frame.Over()) return;
  }
}

}  // namespace kavrin::support
