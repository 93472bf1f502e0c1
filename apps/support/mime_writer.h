// The MIME message SendMail writes after the server has answered "DATA": header lines, the text, fed
// data and the attachments, with encoded words, quoted-printable, base64 and uuencode. Texts are
// ISO-8859-1 bytes, as the callers hand them. The final "." is the caller's.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kavrin::support {

using TStringList = std::vector<std::string>;

enum class TAttachEncoding : std::uint8_t {
  Automatic = 0,
  Base64 = 1,
  QuotedPrintable = 2,
  PlainText = 3,
  UUEncode = 4
};

// Optional settings of one attachment; empty texts take their defaults.
struct TAttachmentSettings {
  std::string Name;  // the name shown; default the file's name without its directory
  TAttachEncoding Encoding = TAttachEncoding::Automatic;
  std::string ContentType;
  std::string Disposition;
  std::string Description;
  std::string FileName;  // the file to read; default the Attachments line
};

inline constexpr std::size_t kMaxAttachmentSettings = 256;
inline constexpr const char* kBoundary = "==============ghyurgtfy573======___";

// What the writer writes from.
struct TMimeMessage {
  std::string FROM_Name, FROM_Address, Subject;
  TStringList ListTo;  // the main recipient first
  TStringList Listcc;
  TStringList MailText;
  TStringList Attachments;
  TStringList Headers;
  std::map<std::size_t, TAttachmentSettings> Settings;  // by Attachments line, from 1
  // The Date and Message-ID fields' values (RFC 5322 section 3.6); empty ones, or ones the Headers
  // already give, are not written.
  std::string Date, MessageId;
};

// Where the writer writes to: SendMail, or a collector in tests.
class TMimeSink {
 public:
  virtual ~TMimeSink() = default;
  // The first 253 characters of text, then CR LF.
  virtual void SendLine(std::string_view text) = 0;
  // A whole header field, folded already (its lines joined by CR LF and a blank), then CR LF.
  virtual void SendHeader(std::string_view text) { SendData(std::string(text) + "\r\n"); }
  virtual void SendData(std::string_view text) = 0;
  // The send was cancelled or has ended: every loop stops at its next check.
  virtual bool Stopped() const = 0;
  virtual void Info(int code, const std::string& text) = 0;
  // One call of OnFeedData; false when none is assigned.
  virtual bool FeedData(std::string& data) = 0;
};

void WriteMimeMessage(const TMimeMessage& message, TMimeSink& sink);

// The encoders, also for tests.
// Encoded words (RFC 2047, each at most 75 characters, blank-separated) when text holds a control
// character or a byte above 126, or a run without blanks too long for any header line; else text
// unchanged. In a display name (phrase) the specials are encoded too, and a plain name holding any
// of ()<>[]:;@\," is a quoted string.
std::string EncodedWord(std::string_view text);
std::string DisplayName(std::string_view name);
// The header-line encoder: "Name: " unchanged, the value encoded words, two blanks behind it.
std::string EncodeHeaderLine(std::string_view line);
// A header field folded (RFC 5322 section 2.2.3): CR LF put before blanks so that lines stay within
// 78 characters where a blank allows it; nothing is cut and no encoded word or quoted word split.
std::string FoldHeader(std::string_view field);
// A MIME parameter: name="value", or by RFC 2231 name*=ISO-8859-1''... for a value with bytes above
// 126, split into numbered sections when long.
std::string MimeParameter(std::string_view name, std::string_view value);
// RFC 5322's date-time of a moment, in local time with its offset.
std::string RfcDate(std::time_t moment);
// A Message-ID unique to this process and moment, on the sender's domain (the host's without one).
std::string NewMessageId(std::string_view from_address);

class TQuotedPrintable {
 public:
  void Reset() { column_ = 0; }
  std::string Encode(std::string_view bytes);

 private:
  int column_ = 0;
};

std::string Base64Line(std::string_view bytes);  // up to 57 bytes
std::string UULine(std::string_view bytes);      // up to 45 bytes
// The uuencoded part's name: everything from the last "." cut, ".uue" behind.
std::string UUName(std::string_view name);

// The message text needs quoted-printable: a byte outside blank to "~" other than CR and LF, or a
// line longer than 998.
bool TextNeedsQuotedPrintable(std::string_view text);
bool HasEightBit(std::string_view text);
std::string JoinLines(const TStringList& lines);
// A recipient line: before the first "|" the address, after it the display name.
void SplitRecipient(std::string_view line, std::string* address, std::string* name);

}  // namespace kavrin::support
