#include "classlib/filter_lexer.h"

#include "runtime/format_settings.h"

namespace kavrin::classlib {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsNameChar(char c) { return IsLetter(c) || IsDigit(c) || c == '_'; }

// Bytes of the UTF-8 sequence led by c (1 for anything that is not a lead byte), so that a message
// quotes a whole character.
std::size_t SequenceLength(unsigned char c) {
  if (c >= 0xF0 && c <= 0xF4) return 4;
  if (c >= 0xE0) return 3;
  if (c >= 0xC2 && c <= 0xDF) return 2;
  return 1;
}

}  // namespace

bool TFilterLexer::StartsNumber(std::size_t at) const {
  const char separator = runtime::FormatSettings().DecimalSeparator;
  auto digitAt = [&](std::size_t i) { return i < text_.size() && IsDigit(text_[i]); };
  auto fractionAt = [&](std::size_t i) { return i < text_.size() && text_[i] == separator && digitAt(i + 1); };
  if (digitAt(at) || fractionAt(at)) return true;
  if (at < text_.size() && (text_[at] == '+' || text_[at] == '-')) return digitAt(at + 1) || fractionAt(at + 1);
  return false;
}

TToken TFilterLexer::ReadNumber() {
  const char separator = runtime::FormatSettings().DecimalSeparator;
  const std::size_t start = pos_;
  auto at = [&](std::size_t i) { return i < text_.size() ? text_[i] : '\0'; };
  if (at(pos_) == '+' || at(pos_) == '-') ++pos_;
  while (IsDigit(at(pos_))) ++pos_;
  if (at(pos_) == separator) {
    ++pos_;
    while (IsDigit(at(pos_))) ++pos_;
  }
  bool malformed = false;
  if (at(pos_) == 'e' || at(pos_) == 'E') {
    std::size_t i = pos_ + 1;
    if (at(i) == '+' || at(i) == '-') ++i;
    if (IsDigit(at(i))) {
      while (IsDigit(at(i))) ++i;
      pos_ = i;
    } else {
      malformed = true;
    }
  }
  // A number runs into nothing that could continue a word or another number.
  if (malformed || IsNameChar(at(pos_)) || at(pos_) == separator) {
    std::size_t end = pos_;
    while (end < text_.size() && (IsNameChar(text_[end]) || text_[end] == separator)) ++end;
    throw ELexError(start, "malformed number '" + std::string(text_.substr(start, end - start)) + "'");
  }
  return {TTokenKind::Number, std::string(text_.substr(start, pos_ - start)), start};
}

TToken TFilterLexer::Next() {
  while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
  const std::size_t start = pos_;
  if (pos_ >= text_.size()) return {TTokenKind::End, "", start};

  const char c = text_[pos_];
  if (IsLetter(c)) {
    while (pos_ < text_.size() && IsNameChar(text_[pos_])) ++pos_;
    return {TTokenKind::Name, std::string(text_.substr(start, pos_ - start)), start};
  }
  if (StartsNumber(pos_)) return ReadNumber();

  switch (c) {
    case '[': {
      const std::size_t close = text_.find(']', pos_ + 1);
      if (close == std::string_view::npos) throw ELexError(start, "field name not closed: ']' expected");
      const std::string_view inner = text_.substr(pos_ + 1, close - pos_ - 1);
      if (const auto nul = inner.find('\0'); nul != std::string_view::npos)
        throw ELexError(pos_ + 1 + nul, "a field name cannot hold a NUL character");
      pos_ = close + 1;
      return {TTokenKind::BracketName, std::string(inner), start};
    }
    case '\'': {
      std::string value;
      ++pos_;
      while (true) {
        if (pos_ >= text_.size()) throw ELexError(start, "string constant not closed: ' expected");
        const char d = text_[pos_];
        if (d == '\0') throw ELexError(pos_, "a string constant cannot hold a NUL character");
        if (d == '\'') {
          if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
            value += '\'';
            pos_ += 2;
            continue;
          }
          ++pos_;
          break;
        }
        value += d;
        ++pos_;
      }
      return {TTokenKind::String, std::move(value), start};
    }
    case '(': ++pos_; return {TTokenKind::LeftParen, "(", start};
    case ')': ++pos_; return {TTokenKind::RightParen, ")", start};
    case '=': ++pos_; return {TTokenKind::Equal, "=", start};
    case '<':
      ++pos_;
      if (pos_ < text_.size() && text_[pos_] == '>') {
        ++pos_;
        return {TTokenKind::NotEqual, "<>", start};
      }
      if (pos_ < text_.size() && text_[pos_] == '=') {
        ++pos_;
        return {TTokenKind::LessOrEqual, "<=", start};
      }
      return {TTokenKind::Less, "<", start};
    case '>':
      ++pos_;
      if (pos_ < text_.size() && text_[pos_] == '=') {
        ++pos_;
        return {TTokenKind::GreaterOrEqual, ">=", start};
      }
      return {TTokenKind::Greater, ">", start};
    case '!':
      if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '=') {
        pos_ += 2;
        return {TTokenKind::Other, "!=", start};
      }
      break;
    default: break;
  }
  if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
    throw ELexError(start, "unexpected control character (code " + std::to_string(static_cast<unsigned char>(c)) + ")");
  std::size_t length = SequenceLength(static_cast<unsigned char>(c));
  if (length > text_.size() - pos_) length = 1;
  pos_ += length;
  return {TTokenKind::Other, std::string(text_.substr(start, length)), start};
}

}  // namespace kavrin::classlib
