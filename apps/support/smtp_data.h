// The one writer of what follows "DATA": every bare CR or LF becomes CR LF and a line that starts
// with "." gets a second one, across calls, so that no content can end the message early or be
// read by the server as a command.
#pragma once

#include <string>
#include <string_view>

namespace kavrin::support {

class TSmtpDataWriter {
 public:
  // Back to the start of a line, as right after "DATA".
  void Reset();
  std::string Encode(std::string_view data);
  bool AtLineStart() const { return line_start_; }
  // What ends the message: a line end when one is open, then the lone ".".
  std::string Finish();

 private:
  bool line_start_ = true;
  bool after_cr_ = false;  // a CR was written as CR LF; an LF right behind it is part of it
};

}  // namespace kavrin::support
