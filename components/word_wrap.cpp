#include "components/word_wrap.h"

namespace kavrin::components::rptworks {

namespace {

// The byte length of the UTF-8 character starting at pos.
std::size_t CharLength(std::string_view s, std::size_t pos) {
  std::size_t n = 1;
  while (pos + n < s.size() && (static_cast<unsigned char>(s[pos + n]) & 0xC0) == 0x80) ++n;
  return n;
}

void WrapParagraph(std::string_view para, std::int32_t width, const TextMeasurer& measure,
                   std::vector<std::string>& lines) {
  if (para.empty()) {
    lines.emplace_back();
    return;
  }
  const std::size_t first_line = lines.size();
  std::size_t start = 0;
  while (start < para.size()) {
    // The longest stretch from start that ends before a blank (or at the paragraph's end) and fits.
    std::size_t end = start;  // end of the best line found so far
    std::size_t pos = start;
    while (pos < para.size()) {
      std::size_t word_end = pos;
      while (word_end < para.size() && para[word_end] == ' ') ++word_end;
      while (word_end < para.size() && para[word_end] != ' ') word_end += CharLength(para, word_end);
      if (measure(para.substr(start, word_end - start)) > width) break;
      end = word_end;
      pos = word_end;
    }
    if (end == start && para[start] == ' ') {
      // Leading blanks that leave no room for the first word are dropped.
      while (start < para.size() && para[start] == ' ') ++start;
      continue;
    }
    if (end == start) {
      // Not even the first word fits: cut it after the last character that does, at least one.
      std::size_t cut = start + CharLength(para, start);
      while (cut < para.size() && para[cut] != ' ') {
        std::size_t next = cut + CharLength(para, cut);
        if (measure(para.substr(start, next - start)) > width) break;
        cut = next;
      }
      end = cut;
    }
    lines.emplace_back(para.substr(start, end - start));
    start = end;
    // The blanks at a break are the break.
    if (start < para.size() && para[start] == ' ') {
      while (start < para.size() && para[start] == ' ') ++start;
    }
  }
  if (lines.size() == first_line) lines.emplace_back();
}

}  // namespace

std::vector<std::string> WrapText(std::string_view text, std::int32_t width, const TextMeasurer& measure) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t lf = text.find('\n', start);
    std::size_t end = lf == std::string_view::npos ? text.size() : lf;
    std::string_view para = text.substr(start, end - start);
    if (!para.empty() && para.back() == '\r') para.remove_suffix(1);
    WrapParagraph(para, width, measure, lines);
    if (lf == std::string_view::npos) break;
    start = lf + 1;
  }
  return lines;
}

}  // namespace kavrin::components::rptworks
