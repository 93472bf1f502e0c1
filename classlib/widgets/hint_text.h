// The two halves of a hint "short|long": the tool tip shows the short one, the status line the long one.
#pragma once

#include <string>
#include <string_view>

namespace kavrin::classlib {

// The text before "|", or the whole hint when it has none.
inline std::string GetShortHint(std::string_view hint) {
  const auto bar = hint.find('|');
  return std::string(bar == std::string_view::npos ? hint : hint.substr(0, bar));
}

// The text after the first "|", or the whole hint when it has none.
inline std::string GetLongHint(std::string_view hint) {
  const auto bar = hint.find('|');
  return std::string(bar == std::string_view::npos ? hint : hint.substr(bar + 1));
}

}  // namespace kavrin::classlib
