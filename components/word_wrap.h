// Word wrapping without a widget: the lines a word-wrapping memo of a given width shows for a text.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kavrin::components::rptworks {

// The width of a text in the pixels the width is given in.
using TextMeasurer = std::function<std::int32_t(std::string_view)>;

// Paragraphs end at LF (a CR before it is dropped; a final LF starts no line; an empty text gives no
// line). A paragraph breaks at blanks, the blank at a break belonging to neither line; a word wider
// than the width breaks after its last character that fits. Every line holds at least one character,
// so a width too small for any character still ends. Characters are never split inside UTF-8.
std::vector<std::string> WrapText(std::string_view text, std::int32_t width, const TextMeasurer& measure);

}  // namespace kavrin::components::rptworks
