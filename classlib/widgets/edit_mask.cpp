#include "classlib/widgets/edit_mask.h"

#include <cctype>
#include <cstring>

namespace kavrin::classlib {
namespace {

bool IsInputChar(char c) { return std::strchr("LlAaCc09#", c) != nullptr; }

char QtInputChar(char c) {
  switch (c) {
    case 'L': return 'A';
    case 'l': return 'a';
    case 'A': return 'N';
    case 'a': return 'n';
    case 'C': return 'X';
    case 'c': return 'x';
    case '0': return '9';
    case '9': return '0';
    default: return '#';
  }
}

}  // namespace

TEditMask::TEditMask(std::string_view mask) {
  // The picture ends at the first unescaped ';'; then the save-literals flag and the blank character.
  std::size_t i = 0;
  char pendingCase = 0;
  for (; i < mask.size() && mask[i] != ';'; ++i) {
    const char c = mask[i];
    if (c == '!') {
      leadingBlanks_ = true;
    } else if (c == '>' || c == '<') {
      pendingCase = (c == '<' && i + 1 < mask.size() && mask[i + 1] == '>') ? '!' : c;
      if (pendingCase == '!') ++i;
    } else if (c == '\\' && i + 1 < mask.size()) {
      positions_.push_back({true, mask[++i]});
      caseMarks_.push_back(pendingCase);
      pendingCase = 0;
    } else {
      positions_.push_back({!IsInputChar(c), c});
      caseMarks_.push_back(pendingCase);
      pendingCase = 0;
    }
  }
  if (i < mask.size()) {
    ++i;
    if (i < mask.size() && mask[i] != ';') saveLiterals_ = mask[i] != '0';
    while (i < mask.size() && mask[i] != ';') ++i;
    if (i + 1 < mask.size()) blank_ = mask[i + 1];
  }
}

std::string TEditMask::QtInputMask() const {
  std::string out;
  for (std::size_t i = 0; i < positions_.size(); ++i) {
    if (caseMarks_[i]) out.push_back(caseMarks_[i]);
    const Position& p = positions_[i];
    if (p.Literal) {
      if (std::strchr("AaNnXx90Dd#HhBb><!\\{}[]", p.Ch)) out.push_back('\\');
      out.push_back(p.Ch);
    } else {
      out.push_back(QtInputChar(p.Ch));
    }
  }
  out.push_back(';');
  out.push_back(blank_);
  return out;
}

std::string TEditMask::Format(std::string_view text) const {
  std::string out;
  std::size_t t = 0;
  std::size_t i = 0;
  while (i < positions_.size()) {
    if (positions_[i].Literal) {
      out.push_back(positions_[i].Ch);
      if (t < text.size() && text[t] == positions_[i].Ch) ++t;
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < positions_.size() && !positions_[end].Literal) ++end;
    const std::size_t width = end - i;
    const char stop = end < positions_.size() ? positions_[end].Ch : '\0';
    // Without the literal in the rest of the text (literals not saved) a run takes its width.
    const bool stopFollows = stop != '\0' && text.find(stop, t) != std::string_view::npos;
    std::string run;
    while (t < text.size() && (stopFollows ? text[t] != stop : run.size() < width)) {
      if (text[t] != ' ' && text[t] != blank_) run.push_back(text[t]);
      ++t;
    }
    if (run.size() > width) run.resize(width);
    const std::string pad(width - run.size(), blank_);
    out += leadingBlanks_ ? pad + run : run + pad;
    i = end;
  }
  return out;
}

bool TEditMask::Accepts(std::size_t position, char c) const {
  while (position < positions_.size() && positions_[position].Literal) ++position;
  if (position >= positions_.size()) return false;
  const auto u = static_cast<unsigned char>(c);
  switch (positions_[position].Ch) {
    case 'L':
    case 'l': return std::isalpha(u) != 0;
    case 'A':
    case 'a': return std::isalnum(u) != 0;
    case '0':
    case '9': return std::isdigit(u) != 0;
    case '#': return std::isdigit(u) != 0 || c == '+' || c == '-';
    default: return true;
  }
}

std::string TEditMask::FieldText(std::string_view editText) const {
  std::string out;
  bool filled = false;
  for (std::size_t i = 0; i < positions_.size() && i < editText.size(); ++i) {
    const char c = editText[i];
    if (positions_[i].Literal) {
      if (saveLiterals_) out.push_back(c);
    } else if (c != blank_ && c != ' ') {
      out.push_back(c);
      filled = true;
    }
  }
  return filled ? out : std::string();
}

}  // namespace kavrin::classlib
