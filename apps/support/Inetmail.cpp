#include "apps/support/Inetmail.h"

#include <algorithm>
#include <climits>

#include "platform/message_window.h"

namespace kavrin::support {

namespace p = kavrin::platform;

namespace {

constexpr std::size_t kReceiveBlock = 2048;
constexpr std::size_t kLineLimit = 253;

bool IsControl(unsigned char c) { return c < 32 || c == 127; }

// Anything that could end the address inside "<...>" or start a new command is refused.
bool ValidAddress(std::string_view address) {
  return std::none_of(address.begin(), address.end(), [](char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return IsControl(c) || c == ' ' || c == '<' || c == '>';
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
  return std::none_of(unchanged.begin(), unchanged.end(), [](char c) { return IsControl(static_cast<unsigned char>(c)); });
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
      case p::WSAEINTR: case p::WSAEFAULT: case p::WSAEINVAL: case p::WSAEINPROGRESS: case p::WSAENOTSOCK:
      case p::WSAEMSGSIZE: case p::WSAEOPNOTSUPP: case p::WSAEAFNOSUPPORT: case p::WSAEADDRINUSE:
      case p::WSAEISCONN: case p::WSAENOTCONN: case p::WSAESHUTDOWN:
        return {smeInternal, "Unexpected internal error in component"};
      case p::WSAENETRESET: case p::WSAENOBUFS: return {smeGeneral, "General Winsock Error"};
      case p::WSAECONNABORTED: return {smeAborted, "Connection aborted due to timeout or other failure"};
      case p::WSAECONNRESET: return {smeReset, "Connection reset by remote side"};
      case p::WSAETIMEDOUT: return {smeTimeout, "timeout"};
      case p::WSAEMFILE: return {smeNoSockets, "Out of sockets"};
      case p::WSAENETUNREACH: return {smeNetUnreachable, "Network unreachable"};
      case p::WSAEADDRNOTAVAIL: return {smeAddressNotAvailable, "Address not available"};
      case p::WSAECONNREFUSED: return {smeRefused, "Connection Refused"};
      case p::WSAHOST_NOT_FOUND: case p::WSATRY_AGAIN: case p::WSANO_RECOVERY: case p::WSANO_DATA:
        return {smeResolution, "Address resolution error"};
      case p::WSAEHOSTUNREACH: return {smeHostUnreachable, "Host Unreachable"};
      default: return {smeUnknown, "Unknown Error"};
    }
  };
  const Entry entry = of();
  if (text != nullptr) *text = entry.text;
  return entry.code;
}

SendMail::SendMail() {
  OwnerHandler = [this](p::UINT msg, p::WPARAM wparam, p::LPARAM) {
    if (msg != kDoneNotice || !busy_ || wparam != send_id_) return;
    busy_ = false;
    if (OnDone) OnDone(this);
  };
}

SendMail::~SendMail() {
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
  if (OnMailInfo) OnMailInfo(this, code, text);
}

void SendMail::Error(SendMailError code, const std::string& text) {
  if (OnMailError) OnMailError(this, code, text);
}

void SendMail::FailWith(SendMailError code, const std::string& text) {
  LastMailError = code;
  Error(code, text);
  AbortSend();
}

bool SendMail::FeedData(std::string& data) {
  if (!OnFeedData) return false;
  OnFeedData(this, data);
  return true;
}

void SendMail::PostDone() {
  if (done_posted_) return;
  done_posted_ = true;
  p::PostMessage(Window(), kDoneNotice, send_id_, 0);
}

void SendMail::Finish() { ended_ = true; }

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
  cancelled_ = ended_ = done_posted_ = handling_ = in_data_ = false;
  busy_ = true;
  MessageSent = false;
  ++send_id_;
  skip_[0] = skip_[1] = skip_[2] = 0;

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
    reply_state_ = 1;
    pending_.clear();
    ProcessReply(" ");
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
    MailInfo(smiResolving, HostName());
    if (Stopped()) return;
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
  CloseSocket();
  PostDone();
}

bool SendMail::MapWinsockError() {
  if (Stopped()) return true;  // nothing of an ended send runs, and nothing more is reported
  std::string text;
  const SendMailError code = MailErrorOf(LastError(), &text);
  LastMailError = code;
  if (code == 0) return false;
  Error(code, text);
  AbortSend();
  return true;
}

void SendMail::LookupDone() {
  if (!busy_ || Stopped() || MapWinsockError()) return;
  UseLookupAddress();
  SetPort(SMTP_Port);
  MailInfo(smiResolved, AddressText());
  if (Stopped()) return;
  Connect();
  MapWinsockError();
}

void SendMail::ConnectTimedOut() {
  if (!busy_ || Stopped()) return;
  FailWith(smeTimeout, "Connection timed out");
}

void SendMail::HandleConnected() {
  if (!busy_ || Stopped() || MapWinsockError()) return;
  reply_state_ = 0;
  pending_.clear();
  MessageSent = false;
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
  const std::uintptr_t send = send_id_;
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
      handling_ = false;
      if (Stopped() || send != send_id_) return;
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
  MailInfo(smiDisconnected, "");
  if (!MessageSent) {
    LastMailError = smePrematureDisconnect;
    Error(smePrematureDisconnect, "Prematurely Disconnected");
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
  SendLine("RCPT TO:<" + address + ">");
  current_recipient_ = address;
  if (!Stopped()) MailInfo(smiRecipient, address);
}

void SendMail::ProcessReply(const std::string& line) {
  if (Stopped()) return;
  MailInfo(smiReply, line);
  if (Stopped()) return;
  const char first = line.empty() ? '\0' : line[0];
  if (first == '-' || first == '4' || first == '5') {
    if (reply_state_ != 3) {
      FailWith(smeUnexpectedResponse, "Unexpected response: " + line);
      return;
    }
    MailInfo(smiRecipientRejected, current_recipient_);
    if (Stopped()) return;
  }
  if (line.size() >= 4 && line[3] == '-') return;

  switch (reply_state_) {
    case 0: {
      std::string host = LocalHostName();
      if (host.empty() || !ValidAddress(host)) host = "localhost";
      SendLine("HELO " + host);
      break;
    }
    case 1:
      SendLine("MAIL FROM:<" + FROM_Address + ">");
      break;
    case 2:
      SendLine("RCPT TO:<" + main_address_ + ">");
      current_recipient_ = main_address_;
      index_ = -1;
      phase_ = 1;
      last_index_ = static_cast<long>(to_.size()) - static_cast<long>(skip_[0]) - 1;
      if (last_index_ == -1) NextPhase();
      if (!Stopped()) MailInfo(smiRecipient, main_address_);
      break;
    case 3:
      if (Stopped()) return;
      if (phase_ <= 3) {
        if (index_ < last_index_) {
          ++index_;
          std::string address, name;
          SplitRecipient((*PhaseList())[static_cast<std::size_t>(index_) + PhaseSkip()], &address, &name);
          SendRecipient(address);
        }
        if (index_ >= last_index_) {
          NextPhase();
          index_ = -1;
        }
      } else {
        SendLine("DATA");
        reply_state_ = 4;
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
      in_data_ = true;
      data_writer_.Reset();
      WriteMimeMessage(message, *this);
      in_data_ = false;
      if (!Stopped()) SendRaw(data_writer_.Finish());
      break;
    }
    case 6:
      if (Stopped()) return;
      MessageSent = true;
      MailInfo(smiAccepted, "");
      if (Stopped()) return;
      if (KeepConnectionOpen) {
        Finish();
        PostDone();
        return;  // the reply state stays: the next send starts at "MAIL FROM"
      }
      SendLine("QUIT");
      break;
    case 7:
      // The answer to "QUIT": the dialogue is over even if the server keeps the connection.
      Finish();
      CloseSocket();
      MailInfo(smiDisconnected, "");
      PostDone();
      break;
    default:
      break;
  }
  if (reply_state_ != 3) ++reply_state_;
}

void SendMail::SendLine(std::string_view text) {
  std::string line(text.substr(0, std::min(text.size(), kLineLimit)));
  line += "\r\n";
  SendData(line);
}

void SendMail::SendData(std::string_view text) {
  if (Stopped()) return;
  MailInfo(smiSending, std::string(text));
  if (Stopped()) return;
  SendRaw(in_data_ ? data_writer_.Encode(text) : std::string(text));
}

void SendMail::SendBuffer(const char* buffer, std::size_t count) { SendData(std::string_view(buffer, count)); }

void SendMail::SendRaw(std::string_view bytes) {
  const std::uintptr_t send = send_id_;
  while (!bytes.empty()) {
    p::ProcessPendingMessages();
    if (Stopped() || send != send_id_) return;
    const int sent = SendBytes(bytes.data(), static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX / 2)));
    if (sent > 0) bytes.remove_prefix(static_cast<std::size_t>(sent));
    if (MapWinsockError()) return;
    // The socket takes nothing now: wait in the loop until it does, or until something else comes.
    if (sent == 0) p::WaitMessage(100);
  }
}

}  // namespace kavrin::support
