#include "classlib/widgets/file_mask.h"

#include <cctype>

namespace kavrin::classlib {

namespace {

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool SameChar(char a, char b) {
  return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
}

}  // namespace

std::vector<std::string> SplitFileMask(std::string_view mask) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= mask.size()) {
    const auto semi = mask.find(';', start);
    const auto piece =
        Trimmed(mask.substr(start, semi == std::string_view::npos ? std::string_view::npos : semi - start));
    if (!piece.empty()) out.emplace_back(piece);
    if (semi == std::string_view::npos) break;
    start = semi + 1;
  }
  if (out.empty()) out.emplace_back("*");
  return out;
}

bool MatchesFilePattern(std::string_view name, std::string_view pattern) {
  // Iterative match with one back-tracking point for the last "*": linear in practice, never recursive.
  std::size_t n = 0, p = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || (pattern[p] != '*' && SameChar(pattern[p], name[n])))) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  // "*.*" also matches a name without a dot, as the file lists have always shown such files.
  if (p < pattern.size() && pattern.substr(p) == ".*") return true;
  return p == pattern.size();
}

bool MatchesFileMask(std::string_view name, std::string_view mask) {
  for (const auto& pattern : SplitFileMask(mask)) {
    if (MatchesFilePattern(name, pattern)) return true;
  }
  return false;
}

}  // namespace kavrin::classlib
