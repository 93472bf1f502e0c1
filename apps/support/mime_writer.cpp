#include "apps/support/mime_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>
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

std::string Word(std::string_view text, bool phrase) {
  std::string word = "=?ISO-8859-1?Q?";
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    // "_" and "?" raw would end or change the word when it is decoded.
    if (c == ' ')
      word += '_';
    else if (c == '_' || c == '?' || c == '=' || IsControl(c) || c > 126 || (phrase && kSpecials.find(ch) != std::string_view::npos))
      word += Hex(c);
    else
      word += ch;
  }
  return word + "?=";
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

// One mailbox per header line behind the first, so that no recipient's line grows past the limit.
void WriteAddressField(TMimeSink& sink, const char* field, const TStringList& lines) {
  std::vector<std::string> boxes;
  for (const std::string& line : lines) {
    std::string address, name;
    SplitRecipient(line, &address, &name);
    boxes.push_back(name.empty() ? address : DisplayName(name) + " <" + address + ">");
  }
  for (std::size_t i = 0; i < boxes.size() && !sink.Stopped(); ++i) {
    const std::string lead = i == 0 ? std::string(field) + ": " : " ";
    sink.SendLine(lead + boxes[i] + (i + 1 < boxes.size() ? "," : ""));
  }
}

void TextPartLines(TMimeSink& sink, std::string_view text, bool quoted_printable) {
  sink.SendLine(std::string("Content-Type: text/plain; charset=\"") + (HasEightBit(text) ? "ISO-8859-1" : "us-ascii") + "\"");
  if (quoted_printable && !sink.Stopped()) sink.SendLine("Content-Transfer-Encoding: quoted-printable");
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
    for (std::size_t at = 0; at < block.size() && !sink.Stopped(); at += 45) sink.SendLine(UULine(block.substr(at, 45)));
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
    type = !settings->ContentType.empty() ? Token(Cut(settings->ContentType, 80)) : text ? "text/plain" : "application/octet-stream";
    if (!settings->Disposition.empty()) disposition = Token(Cut(settings->Disposition, 30));
    description = Cut(settings->Description, 255);
    if (!settings->Name.empty()) name = Cut(settings->Name, 255);
  }

  sink.SendLine(std::string("--") + kBoundary);
  std::string file_name = BaseName(path);
  if (encoding == TAttachEncoding::UUEncode) {
    const std::string uue = UUName(name);
    if (!sink.Stopped()) sink.SendLine("Content-Type: application/octet-stream; name=" + Quoted(uue));
    file_name = uue;
  } else {
    if (!sink.Stopped()) sink.SendLine("Content-Type: " + type + "; name=" + Quoted(name));
    if (!sink.Stopped() && encoding == TAttachEncoding::Base64) sink.SendLine("Content-Transfer-Encoding: base64");
    if (!sink.Stopped() && encoding == TAttachEncoding::QuotedPrintable)
      sink.SendLine("Content-Transfer-Encoding: Quoted-Printable");
  }
  if (!sink.Stopped() && !disposition.empty())
    sink.SendLine("Content-Disposition: " + disposition + "; filename=" + Quoted(file_name));
  if (!sink.Stopped() && !description.empty()) sink.SendLine("Content-Description: " + EncodedWord(description));
  if (!sink.Stopped()) sink.SendLine("");
  if (sink.Stopped()) return;

  switch (encoding) {
    case TAttachEncoding::QuotedPrintable: SendQuotedPrintable(sink, data); break;
    case TAttachEncoding::PlainText: SendPlainText(sink, data); break;
    case TAttachEncoding::UUEncode:
      // The begin line names the file itself, not the part: quotes and controls have no place there.
      SendUUEncoded(sink, data, Token(name));
      break;
    default: SendBase64(sink, data); break;
  }
}

}  // namespace

std::string EncodedWord(std::string_view text) { return NeedsEncoding(text) ? Word(text, false) : std::string(text); }

std::string DisplayName(std::string_view name) {
  if (NeedsEncoding(name)) return Word(name, true);
  if (name.find_first_of(kSpecials) == std::string_view::npos) return std::string(name);
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

std::string EncodeHeaderLine(std::string_view line) {
  const std::size_t colon = line.find(": ");
  if (colon == std::string_view::npos) return std::string(line);
  return std::string(line.substr(0, colon + 2)) + EncodedWord(line.substr(colon + 2)) + "  ";
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

  sink.SendLine("From: " + DisplayName(m.FROM_Name) + " <" + m.FROM_Address + ">");
  if (!sink.Stopped()) WriteAddressField(sink, "To", m.ListTo);
  if (!sink.Stopped()) WriteAddressField(sink, "cc", m.Listcc);
  if (!sink.Stopped() && !m.Subject.empty()) sink.SendLine(EncodeHeaderLine("Subject: " + m.Subject));
  if (!sink.Stopped()) sink.SendLine("Mime-Version: 1.0");
  if (sink.Stopped()) return;
  if (multipart)
    sink.SendLine(std::string("Content-Type: multipart/mixed; boundary=\"") + kBoundary + "\"");
  else
    TextPartLines(sink, text, quoted_printable);
  for (const std::string& line : m.Headers) {
    if (sink.Stopped()) return;
    sink.SendLine(EncodeHeaderLine(line));
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
      if (!sink.Stopped()) sink.Info(12, settings != nullptr && !settings->FileName.empty() ? settings->FileName : m.Attachments[i]);
    }
  }
  if (!sink.Stopped()) sink.SendLine(std::string("--") + kBoundary + "--");
  if (!sink.Stopped()) sink.SendLine("");
}

}  // namespace kavrin::support
