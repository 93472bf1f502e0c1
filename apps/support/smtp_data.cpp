#include "apps/support/smtp_data.h"

namespace kavrin::support {

void TSmtpDataWriter::Reset() {
  line_start_ = true;
  after_cr_ = false;
}

std::string TSmtpDataWriter::Encode(std::string_view data) {
  std::string out;
  out.reserve(data.size() + data.size() / 32 + 2);
  for (char c : data) {
    if (after_cr_) {
      after_cr_ = false;
      if (c == '\n') continue;
    }
    if (c == '\r' || c == '\n') {
      out += "\r\n";
      line_start_ = true;
      after_cr_ = c == '\r';
      continue;
    }
    if (line_start_ && c == '.') out += '.';
    out += c;
    line_start_ = false;
  }
  return out;
}

std::string TSmtpDataWriter::Finish() {
  std::string out = line_start_ ? "" : "\r\n";
  out += ".\r\n";
  Reset();
  return out;
}

}  // namespace kavrin::support
