// The reading half of the comma- and tab-separated text format: lines from a stream and the columns of
// one line. Kept apart from the tables so that it can be driven, and fuzzed, on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "classlib/data/streams.h"

namespace kavrin::components::ascifile {

// Lines of a text file. A line ends at CR LF, a lone CR or a lone LF. Line ends before a line are
// skipped, and so is a line of nothing but blanks and control characters; blanks and tabs at the start
// of a line belong to it. A Ctrl+Z (character 26) ends the file. A UTF-8 byte-order mark at the very
// start is skipped.
class TAsciiLineReader {
 public:
  static constexpr std::size_t DefaultBufferSize = 4096;
  explicit TAsciiLineReader(classlib::TStream& source, std::size_t bufferSize = DefaultBufferSize);

  // The next line without its end; false at the end of the file.
  bool ReadLine(std::string& line);
  // Bytes taken from the stream so far: it runs ahead of the lines by what the buffer holds.
  std::int64_t Position() const { return position_; }

 private:
  // The next byte, or -1 at the end (Ctrl+Z included).
  int Peek();
  void Skip() { ++next_; }
  bool Fill();

  classlib::TStream& source_;
  std::vector<char> buffer_;
  std::size_t next_ = 0;
  std::size_t filled_ = 0;
  std::int64_t position_ = 0;
  bool ended_ = false;
  bool started_ = false;
};

// The columns of one line, read in turn. A column runs to the next delimiter; one that begins with a
// double quote (blanks before it not counted) goes on over further delimiters until it ends with one
// (blanks after it not counted). Every double quote is then removed and blanks and control characters
// are trimmed at both ends. Past the last column every column is empty.
class TAsciiColumnReader {
 public:
  TAsciiColumnReader() = default;
  TAsciiColumnReader(std::string_view line, char delimiter) { Reset(line, delimiter); }
  void Reset(std::string_view line, char delimiter);
  // Back to the first column of the same line.
  void Rewind() { position_ = 0; }
  std::string NextColumn();
  bool AtEnd() const { return position_ > line_.size(); }

 private:
  std::string line_;
  char delimiter_ = ',';
  std::size_t position_ = 0;  // of the next column; past the end once the last one was read
};

// Blanks and control characters: every byte up to the space character.
constexpr bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

}  // namespace kavrin::components::ascifile
