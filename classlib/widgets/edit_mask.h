// Edit masks of the class library ("!99/99/9999;1; "): the picture, whether literals are saved in the
// field's text and the blank character. Toolkit-free; the masked edit shows the picture through Qt's
// input mask and converts with these routines.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kavrin::classlib {

class TEditMask {
 public:
  explicit TEditMask(std::string_view mask);
  bool Empty() const { return positions_.empty(); }
  // The same picture as a Qt input mask, with the blank character.
  std::string QtInputMask() const;
  // A field's text placed in the picture: each run of input positions between literals takes the
  // text up to the next literal, right-aligned with '!' and left-aligned without, blanks elsewhere.
  std::string Format(std::string_view text) const;
  // The field's text for an edit text in the picture: blanks dropped, literals kept only when saved;
  // empty when no input position is filled.
  std::string FieldText(std::string_view editText) const;
  // Whether c may go into the first input position at or after position.
  bool Accepts(std::size_t position, char c) const;
  bool SaveLiterals() const { return saveLiterals_; }
  char Blank() const { return blank_; }

 private:
  struct Position {
    bool Literal;
    char Ch;  // the literal, or the mask character of an input position
  };
  std::vector<Position> positions_;
  std::string caseMarks_;  // Qt case marks before each position ('>' '<' '!' or 0)
  bool leadingBlanks_ = false;
  bool saveLiterals_ = true;
  char blank_ = '_';
};

}  // namespace kavrin::classlib
