// The MIME writer on random fields and files, through the one writer of what follows "DATA": no
// bare CR or LF, no lone "." before the end, no control character in the header; and each encoder
// decodes back to what it was given. No MIME is parsed: the encoders are checked on their own.
// Input: fields separated by 0xFF bytes: from name, from address, to line, cc line, subject, a
// Headers line, the text, then up to three files; a file's first byte picks its encoding.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "apps/support/Inetmail.h"
#include "apps/support/mime_writer.h"
#include "apps/support/smtp_data.h"

namespace {

using namespace kavrin::support;

class Sink : public TMimeSink {
 public:
  void SendLine(std::string_view text) override {
    SendData(std::string(text.substr(0, std::min<std::size_t>(text.size(), 253))) + "\r\n");
  }
  void SendData(std::string_view text) override {
    wire += writer.Encode(text);
    if (wire.size() > (8u << 20)) std::abort();  // bounded by the input, never growing without end
  }
  bool Stopped() const override { return false; }
  void Info(int, const std::string&) override {}
  bool FeedData(std::string&) override { return false; }
  TSmtpDataWriter writer;
  std::string wire;
};

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  std::abort();
}

std::string DecodeQuotedPrintable(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '=') {
      if (text[i] == '\r' || text[i] == '\n') std::abort();  // line ends only as soft breaks
      out += text[i];
      continue;
    }
    if (text.substr(i, 3) == "=\r\n") {
      i += 2;
      continue;
    }
    if (i + 2 >= text.size() + 0 && i + 2 > text.size() - 1) std::abort();
    out += static_cast<char>(Hex(text[i + 1]) * 16 + Hex(text[i + 2]));
    i += 2;
  }
  return out;
}

std::string DecodeBase64(std::string_view line) {
  static const std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (line.size() % 4 != 0) std::abort();
  std::string out;
  for (std::size_t i = 0; i < line.size(); i += 4) {
    std::uint32_t v = 0;
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = line[i + k];
      v <<= 6;
      if (c == '=') {
        ++pad;
        continue;
      }
      const std::size_t d = alphabet.find(c);
      if (d == std::string_view::npos) std::abort();
      v |= static_cast<std::uint32_t>(d);
    }
    out += static_cast<char>(v >> 16);
    if (pad < 2) out += static_cast<char>((v >> 8) & 0xFF);
    if (pad < 1) out += static_cast<char>(v & 0xFF);
  }
  return out;
}

std::string DecodeUU(std::string_view line) {
  if (line.empty()) std::abort();
  const std::size_t count = static_cast<std::size_t>((line[0] - 32) & 63);
  std::string out;
  for (std::size_t i = 1; i + 3 < line.size() + 0 && out.size() < count; i += 4) {
    std::uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v = (v << 6) | static_cast<std::uint32_t>((line[i + k] - 32) & 63);
    out += static_cast<char>(v >> 16);
    out += static_cast<char>((v >> 8) & 0xFF);
    out += static_cast<char>(v & 0xFF);
  }
  out.resize(std::min(out.size(), count));
  return out;
}

std::string DecodeOneWord(std::string_view word);

// Blank-separated encoded words of at most 75 characters each; the blanks between them are not text.
std::string DecodeWord(std::string_view words) {
  std::string out;
  std::size_t at = 0;
  while (true) {
    const std::size_t blank = words.find(' ', at);
    const std::string_view word =
        words.substr(at, blank == std::string_view::npos ? std::string_view::npos : blank - at);
    if (word.size() > 75) std::abort();
    out += DecodeOneWord(word);
    if (blank == std::string_view::npos) return out;
    at = blank + 1;
  }
}

std::string DecodeOneWord(std::string_view word) {
  if (word.substr(0, 15) != "=?ISO-8859-1?Q?" || word.size() < 17 || word.substr(word.size() - 2) != "?=") std::abort();
  std::string_view body = word.substr(15, word.size() - 17);
  if (body.find('?') != std::string_view::npos || body.find(' ') != std::string_view::npos) std::abort();
  std::string out;
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (body[i] == '_') {
      out += ' ';
    } else if (body[i] == '=') {
      if (i + 2 >= body.size()) std::abort();
      out += static_cast<char>(Hex(body[i + 1]) * 16 + Hex(body[i + 2]));
      i += 2;
    } else {
      out += body[i];
    }
  }
  return out;
}

bool IsControl(unsigned char c) { return c < 32 || c == 127; }

void CheckEncoders(const std::string& bytes, std::size_t split) {
  // Quoted-printable carries its column across blocks.
  TQuotedPrintable qp;
  split = bytes.empty() ? 0 : split % bytes.size();
  const std::string encoded =
      qp.Encode(std::string_view(bytes).substr(0, split)) + qp.Encode(std::string_view(bytes).substr(split));
  if (DecodeQuotedPrintable(encoded) != bytes) std::abort();
  std::size_t column = 0;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded.compare(i, 3, "=\r\n") == 0) {
      column = 0;
      i += 2;
      continue;
    }
    if (++column > 73) std::abort();
  }
  for (std::size_t at = 0; at < bytes.size(); at += 57) {
    const std::string piece = bytes.substr(at, 57);
    const std::string line = Base64Line(piece);
    if (line.size() > 76 || DecodeBase64(line) != piece) std::abort();
  }
  for (std::size_t at = 0; at < bytes.size(); at += 45) {
    const std::string piece = bytes.substr(at, 45);
    const std::string line = UULine(piece);
    if (line.size() > 61 || DecodeUU(line) != piece) std::abort();
  }
  const std::string word = EncodedWord(bytes);
  if (word != bytes && DecodeWord(word) != bytes) std::abort();
  if (word == bytes)
    for (unsigned char c : bytes)
      if (IsControl(c) || c > 126) std::abort();
  const std::string name = DisplayName(bytes);
  if (name != bytes && name.front() != '"' && DecodeWord(name) != bytes) std::abort();
}

void CheckWire(const std::string& wire) {
  // Every CR is followed by LF and every LF preceded by CR.
  for (std::size_t i = 0; i < wire.size(); ++i) {
    if (wire[i] == '\r' && (i + 1 >= wire.size() || wire[i + 1] != '\n')) std::abort();
    if (wire[i] == '\n' && (i == 0 || wire[i - 1] != '\r')) std::abort();
  }
  const std::size_t header_end = wire.find("\r\n\r\n");
  if (header_end == std::string::npos) std::abort();
  for (std::size_t i = 0; i < header_end; ++i) {
    const auto c = static_cast<unsigned char>(wire[i]);
    if (IsControl(c) && c != '\r' && c != '\n') std::abort();
  }
  std::size_t at = 0;
  while (at < wire.size()) {
    const std::size_t end = wire.find("\r\n", at);
    if (end == std::string::npos) break;
    if (end - at == 1 && wire[at] == '.') std::abort();  // a lone "." would end the message
    at = end + 2;
  }
}

struct MemoryFile {
  int fd = -1;
  std::string path;
  MemoryFile() {
    fd = ::memfd_create("attachment", MFD_CLOEXEC);
    path = "/proc/self/fd/" + std::to_string(fd);
  }
  void Set(std::string_view bytes) {
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
      std::abort();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 65536) return 0;
  static MemoryFile files[3];
  std::vector<std::string> fields;
  std::string field;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFF) {
      fields.push_back(field);
      field.clear();
    } else {
      field += static_cast<char>(data[i]);
    }
  }
  fields.push_back(field);
  fields.resize(std::max<std::size_t>(fields.size(), 7));

  CheckEncoders(fields[6], size);

  TMimeMessage m;
  m.FROM_Name = fields[0];
  m.FROM_Address = fields[1];
  m.ListTo = {fields[2]};
  m.Listcc = {fields[3]};
  m.Subject = fields[4];
  m.Headers = {fields[5]};
  m.MailText = {fields[6]};
  // What SendMail refuses before it connects never reaches the writer.
  std::string address, name;
  for (const std::string& line : {fields[2], fields[3]}) {
    SplitRecipient(line, &address, &name);
    if (address.empty() || !IsValidMailAddress(address)) return 0;
  }
  if (!IsValidMailAddress(m.FROM_Address) || !IsValidHeaderLine(fields[5])) return 0;
  for (std::size_t i = 7; i < fields.size() && i < 10; ++i) {
    const std::string& bytes = fields[i];
    files[i - 7].Set(bytes.empty() ? std::string_view() : std::string_view(bytes).substr(1));
    m.Attachments.push_back(files[i - 7].path);
    TAttachmentSettings s;
    s.Encoding = static_cast<TAttachEncoding>(bytes.empty() ? 0 : static_cast<unsigned char>(bytes[0]) % 6);
    if (!bytes.empty() && bytes[0] & 0x80) s.Name = fields[0];
    if (!bytes.empty() && bytes[0] & 0x40) s.Description = fields[4];
    if (!bytes.empty() && bytes[0] & 0x08) m.Settings[i - 6] = s;
  }
  Sink sink;
  WriteMimeMessage(m, sink);
  sink.wire += sink.writer.Finish();
  CheckWire(sink.wire.substr(0, sink.wire.size() - 3));
  if (sink.wire.compare(sink.wire.size() - 5, 5, "\r\n.\r\n") != 0) std::abort();
  return 0;
}
