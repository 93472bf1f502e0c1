// Arbitrary bytes as a text file to import: the line reader and the column reader never read past their
// buffers, every line and column keeps the format's rules, and the columns match a model that splits the
// whole line first and joins quoted pieces afterwards.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "classlib/data/streams.h"
#include "components/ascii_text_reader.h"

namespace {

using kavrin::components::ascifile::IsBlankOrControl;

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlankOrControl(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlankOrControl(text.back())) text.remove_suffix(1);
  return text;
}

std::vector<std::string> ModelColumns(const std::string& line, char delimiter) {
  std::vector<std::string> pieces(1);
  for (char c : line) {
    if (c == delimiter) {
      pieces.emplace_back();
    } else {
      pieces.back().push_back(c);
    }
  }
  std::vector<std::string> columns;
  for (std::size_t i = 0; i < pieces.size();) {
    std::string piece = pieces[i++];
    auto open = [&] { return !Trim(piece).empty() && Trim(piece).front() == '"'; };
    auto closed = [&] { return Trim(piece).size() >= 2 && Trim(piece).back() == '"'; };
    while (open() && !closed() && i < pieces.size()) piece += delimiter + pieces[i++];
    std::string value;
    for (char c : piece) {
      if (c != '"') value.push_back(c);
    }
    columns.emplace_back(Trim(value));
  }
  return columns;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kavrin::components::ascifile;
  if (size < 1) return 0;
  const char delimiter = (data[0] & 1) ? '\t' : ',';
  const std::size_t bufferSize = 1 + (data[0] >> 1);
  kavrin::classlib::TMemoryStream stream;
  stream.WriteBuffer(data + 1, static_cast<std::int64_t>(size - 1));
  stream.SetPosition(0);
  TAsciiLineReader reader(stream, bufferSize);
  std::string line;
  int lines = 0;
  while (reader.ReadLine(line)) {
    if (++lines > static_cast<int>(size)) std::abort();
    bool blank = true;
    for (char c : line) {
      if (c == '\r' || c == '\n' || c == 26) std::abort();
      if (!IsBlankOrControl(c)) blank = false;
    }
    if (blank) std::abort();
    if (reader.Position() > static_cast<std::int64_t>(size - 1)) std::abort();
    const std::vector<std::string> model = ModelColumns(line, delimiter);
    TAsciiColumnReader columns(line, delimiter);
    for (std::size_t i = 0; i < model.size() + 2; ++i) {
      const std::string column = columns.NextColumn();
      const std::string expected = i < model.size() ? model[i] : std::string();
      if (column != expected) std::abort();
    }
    if (!columns.AtEnd()) std::abort();
  }
  return 0;
}
