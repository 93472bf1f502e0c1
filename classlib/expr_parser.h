// TExprParser: a dataset's filter text, read against the table's field definitions, becomes the filter
// expression block of TFilterExpr. Everything the engine could not evaluate exactly is refused with a
// positioned EExprParserError instead of being let through.
//
//   expr       := term { OR term }
//   term       := factor { AND factor }
//   factor     := NOT factor | '(' expr ')' | comparison
//   comparison := operand relop operand | field IS [NOT] NULL
//   relop      := = | <> | < | > | <= | >=
//   operand    := field | constant
//   field      := name | '[' any text ']'
//   constant   := 'text' | number | TRUE | FALSE
//
// Keywords in any case; a field named like one needs brackets. One side of a comparison is a field and
// the other a constant; a constant-first comparison is turned round.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/data_file_format.h"
#include "engine/engine_error.h"

namespace kavrin::classlib {

struct TFilterParseOptions {
  bool CaseInsensitive = false;   // string comparisons ignore case
  bool NoPartialCompare = false;  // a trailing '*' is an ordinary character
  bool Transliterate = true;      // the table stores CP437 (else Windows-1252)
};

// "Filter text error at position 12: unknown field name 'Amout'". Position counts characters from 1;
// one past the last character for faults at the end of the text.
class EExprParserError : public engine::EDatabaseError {
 public:
  EExprParserError(std::size_t position, const std::string& detail);
  std::size_t Position() const { return position_; }
  const std::string& Detail() const { return detail_; }

 private:
  std::size_t position_;
  std::string detail_;
};

// Parentheses and NOTs nested deeper than this are refused.
inline constexpr int MaxFilterNesting = 64;

class TExprParser {
 public:
  // Parses at once; raises EExprParserError. The fields' names are UTF-8, as the filter text.
  TExprParser(std::string_view text, const std::vector<engine::TFieldDescriptor>& fields,
              const TFilterParseOptions& options);

  const std::vector<std::uint8_t>& FilterData() const { return data_; }
  std::uint16_t DataSize() const { return static_cast<std::uint16_t>(data_.size()); }

 private:
  std::vector<std::uint8_t> data_;
};

}  // namespace kavrin::classlib
