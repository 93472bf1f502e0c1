#include "apps/support/mime_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <random>
#include <stdexcept>

#include "platform/unique_fd.h"

namespace kavrin::support {

namespace {

constexpr std::size_t kTextBlock = 2048;
constexpr std::size_t kBase64Chunk = 2280;
constexpr std::size_t kUUChunk = 1800;
constexpr std::string_view kSpecials = "()<>[]:;@\\,\"";
constexpr std::string_view kHexDigits = "0123456789ABCDEF";

bool IsControl(unsigned char c) { return c < 32 || c == 127; }

std::string Hex(unsigned char c) { return {'=', kHexDigits[c >> 4], kHexDigits[c & 15]}; }

bool NeedsEncoding(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return IsControl(b) || b > 126;
  });
}

// Encoded words of at most 75 characters (RFC 2047 section 2), blank-separated so that a header can
// fold between them; a "=XX" is never split.
std::string Word(std::string_view text, bool phrase) {
  constexpr std::string_view kOpen = "=?ISO-8859-1?Q?";
  constexpr std::size_t kMostPayload = 75 - kOpen.size() - 2;
  std::string words;
  std::string payload;
  auto close = [&] {
    if (!words.empty()) words += ' ';
    words += std::string(kOpen) + payload + "?=";
    payload.clear();
  };
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    std::string unit;
    // "_" and "?" raw would end or change the word when it is decoded.
    if (c == ' ')
      unit = "_";
    else if (c == '_' || c == '?' || c == '=' || IsControl(c) || c > 126 ||
             (phrase && kSpecials.find(ch) != std::string_view::npos))
      unit = Hex(c);
    else
      unit = std::string(1, ch);
    if (payload.size() + unit.size() > kMostPayload) close();
    payload += unit;
  }
  if (!payload.empty() || words.empty()) close();
  return words;
}

// A run without blanks longer than this fits no header line (RFC 5322's 998) once folded.
constexpr std::size_t kLongestRun = 900;

bool HasLongRun(std::string_view text) {
  std::size_t run = 0;
  for (char c : text) {
    run = c == ' ' || c == '\t' ? 0 : run + 1;
    if (run > kLongestRun) return true;
  }
  return false;
}

std::string BaseName(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// A quoted parameter value: no control character may reach the header, quotes are escaped.
std::string Quoted(std::string_view value) {
  std::string out = "\"";
  for (char ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsControl(c)) {
      out += '_';
      continue;
    }
    if (ch == '"' || ch == '\\') out += '\\';
    out += ch;
  }
  return out + "\"";
}

// A header token (content type, disposition) never carries a control character or a quote.
std::string Token(std::string_view value) {
  std::string out;
  for (char ch : value)
    if (!IsControl(static_cast<unsigned char>(ch)) && ch != '"') out += ch;
  return out;
}

std::string SevenBit(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) > 126) c = '_';
  return text;
}

std::string Cut(const std::string& text, std::size_t most) { return text.substr(0, std::min(text.size(), most)); }

std::string ReadWholeFile(const std::string& path) {
  platform::detail::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.Valid()) throw std::runtime_error("cannot open " + path);
  std::string data;
  char buffer[65536];
  while (true) {
    const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw std::runtime_error("cannot read " + path);
    if (got == 0) return data;
    data.append(buffer, static_cast<std::size_t>(got));
  }
}

void Header(TMimeSink& sink, std::string_view field) {
  if (!sink.Stopped()) sink.SendHeader(FoldHeader(field));
}

// One field for all mailboxes, one mailbox a line, a long one folded inside its name; never cut.
void WriteAddressField(TMimeSink& sink, const char* field, const TStringList& lines) {
  if (lines.empty()) return;
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string address, name;
    SplitRecipient(lines[i], &address, &name);
    if (i > 0) text += "\r\n";
    const std::string lead = i == 0 ? std::string(field) + ": " : " ";
    text += FoldHeader(lead + (name.empty() ? address : DisplayName(name) + " <" + address + ">") +
                       (i + 1 < lines.size() ? "," : ""));
  }
  if (!sink.Stopped()) sink.SendHeader(text);
}

bool HasField(const TStringList& headers, std::string_view name) {
  return std::any_of(headers.begin(), headers.end(), [name](const std::string& line) {
    if (line.size() <= name.size() || line[name.size()] != ':') return false;
    for (std::size_t i = 0; i < name.size(); ++i)
      if (std::tolower(static_cast<unsigned char>(line[i])) != std::tolower(static_cast<unsigned char>(name[i])))
        return false;
    return true;
  });
}

void TextPartLines(TMimeSink& sink, std::string_view text, bool quoted_printable) {
  Header(sink,
         std::string("Content-Type: text/plain; charset=\"") + (HasEightBit(text) ? "ISO-8859-1" : "us-ascii") + "\"");
  if (quoted_printable) Header(sink, "Content-Transfer-Encoding: quoted-printable");
}

void SendBase64(TMimeSink& sink, const std::string& data) {
  sink.Info(6, std::to_string(data.size()));
  std::size_t done = 0;
  for (std::size_t chunk = 0; chunk < data.size() && !sink.Stopped(); chunk += kBase64Chunk) {
    const std::string_view block = std::string_view(data).substr(chunk, kBase64Chunk);
    for (std::size_t at = 0; at < block.size() && !sink.Stopped(); at += 57) {
      const std::string_view piece = block.substr(at, 57);
      sink.SendLine(Base64Line(piece));
      if (piece.size() == 57) {
        done += 57;
        sink.Info(7, std::to_string(done));
      }
    }
  }
  if (!sink.Stopped()) sink.Info(7, std::to_string(done + 3));
}

void SendQuotedPrintable(TMimeSink& sink, const std::string& data) {
  TQuotedPrintable encoder;
  for (std::size_t at = 0; at < data.size() && !sink.Stopped(); at += kTextBlock)
    sink.SendData(encoder.Encode(std::string_view(data).substr(at, kTextBlock)));
  if (!sink.Stopped()) sink.SendLine("");
}

void SendPlainText(TMimeSink& sink, const std::string& data) {
  // Whole lines, never cut: a text attachment must arrive as it is.
  std::size_t at = 0;
  while (at < data.size() && !sink.Stopped()) {
    std::size_t end = data.find('\n', at);
    if (end == std::string::npos) end = data.size();
    std::string_view line = std::string_view(data).substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    sink.SendData(std::string(line) + "\r\n");
    at = end + 1;
  }
  // The line end before the boundary belongs to the boundary: the file's last line keeps its own.
  if (!sink.Stopped()) sink.SendLine("");
}

void SendUUEncoded(TMimeSink& sink, const std::string& data, const std::string& begin_name) {
  sink.SendLine(std::string(61, '='));
  if (!sink.Stopped()) sink.SendLine("begin 666 " + begin_name);
  for (std::size_t chunk = 0; chunk < data.size() && !sink.Stopped(); chunk += kUUChunk) {
    const std::string_view block = std::string_view(data).substr(chunk, kUUChunk);
    for (std::size_t at = 0; at < block.size() && !sink.Stopped(); at += 45)
      sink.SendLine(UULine(block.substr(at, 45)));
  }
  // uudecode needs the zero-length line before "end".
  if (!sink.Stopped()) sink.SendLine("`");
  if (!sink.Stopped()) sink.SendLine("end");
}

TAttachEncoding AutomaticEncoding(const std::string& data) {
  // Plain text only when it arrives unchanged: printable lines within the mail limit.
  std::size_t column = 0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    const auto c = static_cast<unsigned char>(data[i]);
    if (c == '\n') {
      column = 0;
      continue;
    }
    if (c == '\r' && i + 1 < data.size() && data[i + 1] == '\n') continue;
    if (c > 126 || (IsControl(c) && c != '\t') || ++column > 998) return TAttachEncoding::Base64;
  }
  return TAttachEncoding::PlainText;
}

void SendAttachment(TMimeSink& sink, const std::string& line, const TAttachmentSettings* settings) {
  const std::string path = settings != nullptr && !settings->FileName.empty() ? Cut(settings->FileName, 255) : line;
  sink.Info(5, path);
  // Read first: a file that cannot be read leaves no part behind.
  const std::string data = ReadWholeFile(path);
  if (sink.Stopped()) return;

  TAttachEncoding encoding = TAttachEncoding::Base64;
  std::string type = "application/octet-stream";
  std::string disposition = "attachment";
  std::string description;
  std::string name = BaseName(path);
  if (settings != nullptr) {
    encoding = settings->Encoding == TAttachEncoding::Automatic ? AutomaticEncoding(data) : settings->Encoding;
    if (encoding > TAttachEncoding::UUEncode) encoding = TAttachEncoding::Base64;
    const bool text = encoding == TAttachEncoding::PlainText || encoding == TAttachEncoding::QuotedPrintable;
    type = !settings->ContentType.empty() ? Token(Cut(settings->ContentType, 80))
           : text                         ? "text/plain"
                                          : "application/octet-stream";
    if (!settings->Disposition.empty()) disposition = Token(Cut(settings->Disposition, 30));
    description = Cut(settings->Description, 255);
    if (!settings->Name.empty()) name = Cut(settings->Name, 255);
  }

  sink.SendLine(std::string("--") + kBoundary);
  std::string file_name = BaseName(path);
  if (encoding == TAttachEncoding::UUEncode) {
    const std::string uue = UUName(name);
    Header(sink, "Content-Type: application/octet-stream; " + MimeParameter("name", uue));
    file_name = uue;
  } else {
    Header(sink, "Content-Type: " + type + "; " + MimeParameter("name", name));
    if (encoding == TAttachEncoding::Base64) Header(sink, "Content-Transfer-Encoding: base64");
    if (encoding == TAttachEncoding::QuotedPrintable) Header(sink, "Content-Transfer-Encoding: Quoted-Printable");
  }
  if (!disposition.empty())
    Header(sink, "Content-Disposition: " + disposition + "; " + MimeParameter("filename", file_name));
  if (!description.empty()) Header(sink, "Content-Description: " + EncodedWord(description));
  if (!sink.Stopped()) sink.SendLine("");
  if (sink.Stopped()) return;

  switch (encoding) {
    case TAttachEncoding::QuotedPrintable: SendQuotedPrintable(sink, data); break;
    case TAttachEncoding::PlainText: SendPlainText(sink, data); break;
    case TAttachEncoding::UUEncode:
      // The begin line names the file itself, not the part: quotes, controls and 8-bit bytes (in a
      // part without a transfer encoding) have no place there.
      SendUUEncoded(sink, data, SevenBit(Token(name)));
      break;
    default: SendBase64(sink, data); break;
  }
}

}  // namespace

std::string EncodedWord(std::string_view text) {
  return NeedsEncoding(text) || HasLongRun(text) ? Word(text, false) : std::string(text);
}

std::string DisplayName(std::string_view name) {
  if (NeedsEncoding(name) || HasLongRun(name)) return Word(name, true);
  if (name.find_first_of(kSpecials) == std::string_view::npos) return std::string(name);
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += "\"";
  // A quoted string is not folded: a long one goes as encoded words, which are.
  return quoted.size() > 70 ? Word(name, true) : quoted;
}

std::string EncodeHeaderLine(std::string_view line) {
  const std::size_t colon = line.find(": ");
  if (colon == std::string_view::npos) return std::string(line);
  return std::string(line.substr(0, colon + 2)) + EncodedWord(line.substr(colon + 2)) + "  ";
}

std::string FoldHeader(std::string_view field) {
  constexpr std::size_t kLimit = 78;
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  std::string out;
  std::size_t start = 0;
  while (field.size() - start > kLimit) {
    // A fold goes before a blank that a non-blank follows, and leaves text on the line before it.
    // Not inside a quoted string either: readers that do not unfold would keep the line end in it.
    const std::size_t content = field.find_first_not_of(" \t", start);
    std::size_t best = std::string_view::npos;
    bool quoted = false;
    for (std::size_t p = start; p + 1 < field.size(); ++p) {
      if (field[p] == '\\' && quoted) {
        ++p;
        continue;
      }
      if (field[p] == '"') quoted = !quoted;
      if (quoted || p <= content || !blank(field[p]) || blank(field[p + 1])) continue;
      if (p - start <= kLimit || best == std::string_view::npos) best = p;
      if (p - start > kLimit) break;
    }
    if (best == std::string_view::npos) break;
    out.append(field.substr(start, best - start));
    out += "\r\n";
    start = best;
  }
  out.append(field.substr(start));
  return out;
}

std::string MimeParameter(std::string_view name, std::string_view value) {
  constexpr std::size_t kSection = 60;
  std::string clean(value);
  for (char& c : clean)
    if (IsControl(static_cast<unsigned char>(c))) c = '_';
  if (!HasEightBit(clean)) {
    if (clean.size() <= kSection) return std::string(name) + "=" + Quoted(clean);
    // RFC 2231 section 3: numbered sections, each a quoted string, joined in order by the reader.
    std::string out;
    for (std::size_t at = 0, n = 0; at < clean.size(); at += kSection, ++n) {
      if (!out.empty()) out += "; ";
      out += std::string(name) + "*" + std::to_string(n) + "=" + Quoted(std::string_view(clean).substr(at, kSection));
    }
    return out;
  }
  // RFC 2231 section 4: a charset, an empty language, and every byte outside attribute-char as %XX.
  constexpr std::string_view kAttributeSpecials = "!#$&+-.^_`|~";
  std::vector<std::string> units;
  for (char ch : clean) {
    const auto c = static_cast<unsigned char>(ch);
    if (std::isalnum(c) != 0 && c < 128)
      units.emplace_back(1, ch);
    else if (kAttributeSpecials.find(ch) != std::string_view::npos)
      units.emplace_back(1, ch);
    else
      units.push_back(std::string{'%', kHexDigits[c >> 4], kHexDigits[c & 15]});
  }
  std::vector<std::string> sections(1, "ISO-8859-1''");
  for (const std::string& unit : units) {
    if (sections.back().size() + unit.size() > kSection) sections.emplace_back();
    sections.back() += unit;
  }
  if (sections.size() == 1) return std::string(name) + "*=" + sections[0];
  std::string out;
  for (std::size_t n = 0; n < sections.size(); ++n) {
    if (!out.empty()) out += "; ";
    out += std::string(name) + "*" + std::to_string(n) + "*=" + sections[n];
  }
  return out;
}

std::string RfcDate(std::time_t moment) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm t{};
  localtime_r(&moment, &t);
  const long offset = t.tm_gmtoff / 60;
  const long minutes = offset < 0 ? -offset : offset;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %d %s %04d %02d:%02d:%02d %c%02ld%02ld", kDays[t.tm_wday % 7], t.tm_mday,
                kMonths[t.tm_mon % 12], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec, offset < 0 ? '-' : '+',
                minutes / 60, minutes % 60);
  return text;
}

std::string NewMessageId(std::string_view from_address) {
  static std::atomic<std::uint64_t> counter{0};
  static const std::uint64_t salt = [] {
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) ^ device();
  }();
  // The sender's domain when it is a plain one; else the host's name.
  auto plain = [](std::string_view d) {
    return !d.empty() && d.size() <= 253 && std::all_of(d.begin(), d.end(), [](char c) {
      return (std::isalnum(static_cast<unsigned char>(c)) != 0 && static_cast<unsigned char>(c) < 128) || c == '.' ||
             c == '-';
    });
  };
  const std::size_t at = from_address.rfind('@');
  std::string domain(at == std::string_view::npos ? std::string_view() : from_address.substr(at + 1));
  if (!plain(domain)) {
    char host[256] = {};
    domain = ::gethostname(host, sizeof host - 1) == 0 ? host : "";
    if (!plain(domain)) domain = "localhost";
  }
  char id[96];
  std::snprintf(id, sizeof id, "%llx.%d.%llu.%llx", static_cast<unsigned long long>(std::time(nullptr)),
                static_cast<int>(::getpid()), static_cast<unsigned long long>(++counter),
                static_cast<unsigned long long>(salt));
  return "<" + std::string(id) + "@" + domain + ">";
}

std::string TQuotedPrintable::Encode(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 3);
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 32 || c == '=' || c > 126) {
      out += Hex(c);
      column_ += 3;
    } else {
      out += ch;
      column_ += 1;
    }
    if (column_ > 70) {
      column_ = 0;
      out += "=\r\n";
    }
  }
  return out;
}

std::string Base64Line(std::string_view bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t v = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (n > 1) v |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    if (n > 2) v |= static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += n > 1 ? kAlphabet[(v >> 6) & 63] : '=';
    out += n > 2 ? kAlphabet[v & 63] : '=';
  }
  return out;
}

std::string UULine(std::string_view bytes) {
  std::string out(1, static_cast<char>(bytes.size() + 32));
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    // Zero bytes fill the last triple, as uuencode does: decoders check that the characters past
    // the count carry nothing.
    unsigned char t[3] = {0, 0, 0};
    for (std::size_t k = 0; k < 3 && i + k < bytes.size(); ++k) t[k] = static_cast<unsigned char>(bytes[i + k]);
    const std::uint32_t v = (static_cast<std::uint32_t>(t[0]) << 16) | (static_cast<std::uint32_t>(t[1]) << 8) | t[2];
    for (int shift = 18; shift >= 0; shift -= 6) out += static_cast<char>(((v >> shift) & 63) + 32);
  }
  return out;
}

std::string UUName(std::string_view name) {
  const std::size_t dot = name.find_last_of('.');
  return std::string(dot == std::string_view::npos ? name : name.substr(0, dot)) + ".uue";
}

bool TextNeedsQuotedPrintable(std::string_view text) {
  std::size_t column = 0;
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\r' || c == '\n') {
      column = 0;
      continue;
    }
    if (c < 32 || c > 126 || ++column > 998) return true;
  }
  return false;
}

bool HasEightBit(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) > 126; });
}

std::string JoinLines(const TStringList& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += "\r\n";
    text += lines[i];
  }
  return text;
}

void SplitRecipient(std::string_view line, std::string* address, std::string* name) {
  const std::size_t bar = line.find('|');
  *address = std::string(line.substr(0, bar));
  *name = bar == std::string_view::npos ? std::string() : std::string(line.substr(bar + 1));
}

void WriteMimeMessage(const TMimeMessage& m, TMimeSink& sink) {
  const std::string text = JoinLines(m.MailText);
  const bool quoted_printable = TextNeedsQuotedPrintable(text);
  const bool multipart = !m.Attachments.empty();

  Header(sink, "From: " + DisplayName(m.FROM_Name) + " <" + m.FROM_Address + ">");
  if (!sink.Stopped()) WriteAddressField(sink, "To", m.ListTo);
  if (!sink.Stopped()) WriteAddressField(sink, "cc", m.Listcc);
  if (!m.Subject.empty()) Header(sink, EncodeHeaderLine("Subject: " + m.Subject));
  // RFC 5322 section 3.6 requires Date and asks for Message-ID; one the caller gives wins.
  if (!m.Date.empty() && !HasField(m.Headers, "Date")) Header(sink, "Date: " + m.Date);
  if (!m.MessageId.empty() && !HasField(m.Headers, "Message-ID")) Header(sink, "Message-ID: " + m.MessageId);
  Header(sink, "Mime-Version: 1.0");
  if (sink.Stopped()) return;
  if (multipart)
    Header(sink, std::string("Content-Type: multipart/mixed; boundary=\"") + kBoundary + "\"");
  else
    TextPartLines(sink, text, quoted_printable);
  for (const std::string& line : m.Headers) {
    if (sink.Stopped()) return;
    Header(sink, EncodeHeaderLine(line));
  }
  if (sink.Stopped()) return;
  sink.SendLine("");

  if (multipart && !text.empty()) {
    if (!sink.Stopped()) sink.SendLine(std::string("--") + kBoundary);
    if (!sink.Stopped()) TextPartLines(sink, text, quoted_printable);
    if (!sink.Stopped()) sink.SendLine("");
  }

  std::size_t fed = 0;
  while (!sink.Stopped()) {
    std::string data;
    if (!sink.FeedData(data) || data.empty() || sink.Stopped()) break;
    fed += data.size();
    sink.Info(11, std::to_string(fed));
    sink.SendData(data);
  }
  if (sink.Stopped()) return;

  sink.Info(10, std::to_string(text.size()));
  TQuotedPrintable encoder;
  for (std::size_t at = 0; at < text.size() && !sink.Stopped(); at += kTextBlock) {
    const std::string_view block = std::string_view(text).substr(at, kTextBlock);
    sink.SendData(quoted_printable ? encoder.Encode(block) : std::string(block));
    if (!sink.Stopped()) sink.Info(11, std::to_string(at + block.size()));
  }
  if (sink.Stopped()) return;
  sink.SendLine("");

  if (!multipart) return;
  for (std::size_t i = 0; i < m.Attachments.size() && !sink.Stopped(); ++i) {
    auto found = m.Settings.find(i + 1);
    const TAttachmentSettings* settings = found == m.Settings.end() ? nullptr : &found->second;
    try {
      SendAttachment(sink, m.Attachments[i], settings);
    } catch (const std::exception&) {
      if (!sink.Stopped())
        sink.Info(12, settings != nullptr && !settings->FileName.empty() ? settings->FileName : m.Attachments[i]);
    }
  }
  if (!sink.Stopped()) sink.SendLine(std::string("--") + kBoundary + "--");
  if (!sink.Stopped()) sink.SendLine("");
}

}  // namespace kavrin::support
