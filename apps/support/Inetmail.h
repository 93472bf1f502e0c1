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

// What a send accepts before it connects: an address without a control character, blank, "<" or
// ">"; a Headers line whose name and unencoded part hold no control character.
bool IsValidMailAddress(std::string_view address);
bool IsValidHeaderLine(std::string_view line);

// The SendMailError and its text for a Winsock error (0 for none).
SendMailError MailErrorOf(int winsock_error, std::string* text);

class SendMail;
using TSendMailInfoEvent = std::function<void(SendMail* sender, SendMailInfo info, const std::string& addinfo)>;
using TSendMailErrorEvent = std::function<void(SendMail* sender, SendMailError error, const std::string& addinfo)>;
using TSendMailEvent = std::function<void(SendMail* sender, std::string& data)>;
using TNotifyEvent = std::function<void(SendMail* sender)>;

class SendMail : public TStarSocket, private TMimeSink {
 public:
  static constexpr platform::UINT kDoneNotice = platform::WM_USER + 2;
  static constexpr std::size_t kMaxReplyLine = 1000;

  SendMail();
  ~SendMail() override;

  std::uint16_t SMTP_Port = 25;
  std::string FROM_Name, FROM_Address, TO_Name, TO_Address, Subject;
  TStringList MailText, ListTo, Listcc, ListBcc, Attachments, Headers;
  bool KeepConnectionOpen = false;
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
  void SendLine(std::string_view text) override;
  void SendData(std::string_view text) override;
  void SendBuffer(const char* buffer, std::size_t count);

 protected:
  void LookupDone() override;

 private:
  void ProcessReply(const std::string& line);
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

  // TMimeSink
  bool Stopped() const override { return cancelled_ || ended_; }
  void Info(int code, const std::string& text) override { MailInfo(code, text); }
  bool FeedData(std::string& data) override;

  bool busy_ = false;
  bool cancelled_ = false;
  bool ended_ = false;
  bool done_posted_ = false;
  bool handling_ = false;
  bool in_data_ = false;
  std::uintptr_t send_id_ = 0;
  int reply_state_ = 0;
  int phase_ = 1;
  long index_ = -1, last_index_ = -1;
  std::size_t skip_[3] = {0, 0, 0};
  // This send's recipients: the lists as they were at the start, the main recipient first in to_.
  TStringList to_, cc_, bcc_;
  std::string main_address_, main_name_;
  std::string current_recipient_;
  std::string pending_;
  TSmtpDataWriter data_writer_;
  std::map<std::size_t, TAttachmentSettings> settings_;
};

}  // namespace kavrin::support
