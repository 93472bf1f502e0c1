#include "components/ascii_text_reader.h"

#include <algorithm>

namespace kavrin::components::ascifile {

namespace {

constexpr char CtrlZ = 26;

std::string_view Trimmed(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlankOrControl(text[begin])) ++begin;
  while (end > begin && IsBlankOrControl(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool OpensQuote(std::string_view piece) {
  const std::string_view text = Trimmed(piece);
  return !text.empty() && text.front() == '"';
}

// A lone quote only opens a value: the closing quote must be another one.
bool ClosesQuote(std::string_view piece) {
  const std::string_view text = Trimmed(piece);
  return text.size() >= 2 && text.back() == '"';
}

bool BlankLine(std::string_view line) { return std::all_of(line.begin(), line.end(), IsBlankOrControl); }

}  // namespace

TAsciiLineReader::TAsciiLineReader(classlib::TStream& source, std::size_t bufferSize)
    : source_(source), buffer_(std::max<std::size_t>(bufferSize, 4)) {}

bool TAsciiLineReader::Fill() {
  next_ = 0;
  const std::int64_t got = source_.Read(buffer_.data(), static_cast<std::int64_t>(buffer_.size()));
  filled_ = got > 0 ? static_cast<std::size_t>(got) : 0;
  position_ += static_cast<std::int64_t>(filled_);
  return filled_ > 0;
}

int TAsciiLineReader::Peek() {
  if (ended_) return -1;
  if (!started_) {
    started_ = true;
    // The first fill holds the whole buffer unless the file is shorter, so a mark is seen whole.
    if (Fill() && filled_ >= 3 && static_cast<unsigned char>(buffer_[0]) == 0xEF &&
        static_cast<unsigned char>(buffer_[1]) == 0xBB && static_cast<unsigned char>(buffer_[2]) == 0xBF) {
      next_ = 3;
    }
  }
  if (next_ >= filled_ && !Fill()) {
    ended_ = true;
    return -1;
  }
  const char c = buffer_[next_];
  if (c == CtrlZ) {
    ended_ = true;
    return -1;
  }
  return static_cast<unsigned char>(c);
}

bool TAsciiLineReader::ReadLine(std::string& line) {
  for (;;) {
    int c;
    while ((c = Peek()) == '\r' || c == '\n') Skip();
    if (c < 0) return false;
    line.clear();
    while ((c = Peek()) >= 0 && c != '\r' && c != '\n') {
      line.push_back(static_cast<char>(c));
      Skip();
    }
    if (!BlankLine(line)) return true;
  }
}

void TAsciiColumnReader::Reset(std::string_view line, char delimiter) {
  line_.assign(line);
  delimiter_ = delimiter;
  position_ = 0;
}

std::string TAsciiColumnReader::NextColumn() {
  if (position_ > line_.size()) return {};
  const std::size_t pastEnd = line_.size() + 1;
  std::string piece;
  // Takes the text up to the next delimiter (or the rest of the line) and moves past it.
  auto take = [&] {
    const std::size_t delimiter = line_.find(delimiter_, position_);
    if (delimiter == std::string::npos) {
      piece.append(line_, position_, std::string::npos);
      position_ = pastEnd;
    } else {
      piece.append(line_, position_, delimiter - position_);
      position_ = delimiter + 1;
    }
  };
  take();
  while (position_ != pastEnd && OpensQuote(piece) && !ClosesQuote(piece)) {
    piece.push_back(delimiter_);
    take();
  }
  piece.erase(std::remove(piece.begin(), piece.end(), '"'), piece.end());
  return std::string(Trimmed(piece));
}

}  // namespace kavrin::components::ascifile
