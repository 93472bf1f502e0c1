// SendMail: delivers one message to an SMTP server without blocking the program. The caller fills the
// properties and sets Action := Send_Mail; the dialogue then runs on the socket window's messages and
// reports through OnMailInfo, OnMailError and, exactly once per started send, OnDone.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "apps/support/mime_writer.h"
#include "apps/support/smtp_data.h"
#include "apps/support/starsock.h"

namespace kavrin::support {

enum class TMailAction { None, Send_Mail, Cancel_SendMail };

// SendMailInfo codes.
using SendMailInfo = int;
inline constexpr SendMailInfo smiConnected = 0, smiReply = 1, smiSending = 2, smiDisconnected = 3, smiAccepted = 4,
                              smiAttachment = 5, smiBase64Size = 6, smiBase64Progress = 7, smiRecipientRejected = 8,
                              smiRecipient = 9, smiTextSize = 10, smiTextProgress = 11, smiAttachmentFailed = 12,
                              smiBusy = 13, smiResolved = 14, smiResolving = 15;

// SendMailError codes.
using SendMailError = int;
inline constexpr SendMailError smeWinsock = 1, smeNetworkDown = 2, smeInvalidAddress = 3, smeInternal = 4,
                               smeGeneral = 5, smeAborted = 6, smeReset = 7, smeTimeout = 8, smeNoSockets = 9,
                               smeNetUnreachable = 10, smeAddressNotAvailable = 11, smeRefused = 12,
                               smeUnexpectedResponse = 13, smeCancelled = 14, smeUnknown = 15, smeResolution = 16,
                               smePrematureDisconnect = 17, smeDestination = 18, smeHostUnreachable = 19;

// What a send accepts before it connects: an address without a control character, blank, "<", ">",
// "," or byte above 126, at most 240 characters; a Headers line whose name and unencoded part hold
// no control character.
bool IsValidMailAddress(std::string_view address);
bool IsValidHeaderLine(std::string_view line);

// The SendMailError and its text for a Winsock error (0 for none).
SendMailError MailErrorOf(int winsock_error, std::string* text);

class SendMail;
using TSendMailInfoEvent = std::function<void(SendMail* sender, SendMailInfo info, const std::string& addinfo)>;
using TSendMailErrorEvent = std::function<void(SendMail* sender, SendMailError error, const std::string& addinfo)>;
using TSendMailEvent = std::function<void(SendMail* sender, std::string& data)>;
using TNotifyEvent = std::function<void(SendMail* sender)>;

class SendMail : public TStarSocket {
 public:
  static constexpr platform::UINT kDoneNotice = platform::WM_USER + 2;
  static constexpr platform::WPARAM kReplyTimer = 2;  // a timer of the socket window
  static constexpr std::size_t kMaxReplyLine = 1000;

  SendMail();
  ~SendMail() override;

  std::uint16_t SMTP_Port = 25;
  std::string FROM_Name, FROM_Address, TO_Name, TO_Address, Subject;
  TStringList MailText, ListTo, Listcc, ListBcc, Attachments, Headers;
  bool KeepConnectionOpen = false;
  // Seconds to wait for the server (RFC 5321 section 4.5.3.2); 0 waits for ever. The greeting; the
  // replies to HELO, MAIL, RCPT and QUIT; the 354 to DATA; each block of the message the socket has
  // not taken; the reply to the message's final ".".
  int TimeoutGreeting = 300, TimeoutCommand = 300, TimeoutDataStart = 120, TimeoutDataBlock = 180, TimeoutDataEnd = 600;
  TSendMailInfoEvent OnMailInfo;
  TSendMailErrorEvent OnMailError;
  TSendMailEvent OnFeedData;
  TNotifyEvent OnDone;

  TMailAction Action() const { return TMailAction::None; }
  void SetAction(TMailAction action);
  std::string Version() const { return "SendMail 1.3.9"; }
  void SetWinsockStarted(bool started);
  // Settings of Attachments line index (from 1, at most 256).
  bool SetAttachmentSettings(std::size_t index, const TAttachmentSettings& settings);

  bool MessageSent = false;
  SendMailError LastMailError = 0;
  bool Busy() const { return busy_; }

  void StartSend();
  void AbortSend();
  // The first 253 characters, then CR LF.
  void SendLine(std::string_view text);
  void SendData(std::string_view text);
  void SendBuffer(const char* buffer, std::size_t count);

 protected:
  class Frame;
  class MessageSink;

  void LookupDone() override;

 private:
  void ProcessReply(const std::string& line);
  void HandleReply(int code, const std::string& line);
  void SendMailFrom();
  void Expect(int next_state, int seconds);
  void StopReplyTimer();
  void ReplyTimedOut();
  void SendMessageData(std::string_view text);
  void Flush();
  bool MapWinsockError();
  void HandleConnected();
  void HandleRead();
  void HandleClosed();
  void ConnectTimedOut();
  void PostDone();
  void Finish();  // the send is over: nothing of it runs any more
  void Error(SendMailError code, const std::string& text);
  void FailWith(SendMailError code, const std::string& text);  // error, LastMailError, AbortSend
  void MailInfo(SendMailInfo code, const std::string& text);
  bool CheckAddresses();
  void NextPhase();
  const TStringList* PhaseList() const;
  std::size_t PhaseSkip() const;
  void SendRaw(std::string_view bytes);
  void SendRecipient(const std::string& address);

  bool Stopped() const { return cancelled_ || ended_; }
  bool FeedData(std::string& data);

  bool busy_ = false;
  bool cancelled_ = false;
  bool ended_ = false;
  bool done_posted_ = false;
  bool handling_ = false;
  std::uintptr_t send_id_ = 0;
  int reply_state_ = 0;
  int multi_line_code_ = 0;  // the code of a multi-line reply under way, 0 when none
  int phase_ = 1;
  long index_ = -1, last_index_ = -1;
  std::size_t skip_[3] = {0, 0, 0};
  // This send's recipients: the lists as they were at the start, the main recipient first in to_.
  TStringList to_, cc_, bcc_;
  std::string main_address_, main_name_;
  std::string current_recipient_;
  std::string pending_;
  std::string out_;  // message bytes not yet written, so that small lines go out together
  TSmtpDataWriter data_writer_;
  std::map<std::size_t, TAttachmentSettings> settings_;
};

}  // namespace kavrin::support
