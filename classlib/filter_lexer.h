// The tokens of a filter text, read one at a time so that the first fault in the text is the one named.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kavrin::classlib {

enum class TTokenKind {
  End,
  Name,         // a bare identifier, keywords included: letter, then letters, digits and '_'
  BracketName,  // [any text]; Text is what lies between the brackets
  String,       // 'text' with '' for a quote; Text is the value
  Number,       // [sign] digits [separator digits] [exponent], as written
  Equal,
  NotEqual,
  Less,
  Greater,
  LessOrEqual,
  GreaterOrEqual,
  LeftParen,
  RightParen,
  Other,  // a character (or "!=") the grammar has no place for; Text holds it
};

struct TToken {
  TTokenKind Kind = TTokenKind::End;
  std::string Text;
  std::size_t Offset = 0;  // byte offset in the filter text
};

// A fault of the text itself (an open string, a malformed number) at a byte offset.
class ELexError : public std::runtime_error {
 public:
  ELexError(std::size_t offset, const std::string& detail) : std::runtime_error(detail), offset_(offset) {}
  std::size_t Offset() const { return offset_; }

 private:
  std::size_t offset_;
};

class TFilterLexer {
 public:
  explicit TFilterLexer(std::string_view text) : text_(text) {}

  // Raises ELexError.
  TToken Next();

 private:
  bool StartsNumber(std::size_t at) const;
  TToken ReadNumber();

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace kavrin::classlib
