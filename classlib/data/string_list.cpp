#include "classlib/data/string_list.h"

#include <stdexcept>

#include "classlib/data/streams.h"
#include "classlib/data/text_compare.h"

namespace kavrin::classlib {

const std::string& TStringList::Strings(int index) const {
  if (index < 0 || index >= Count())
    throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
  return items_[static_cast<std::size_t>(index)];
}

void TStringList::Put(int index, std::string text) {
  Strings(index);
  items_[static_cast<std::size_t>(index)] = std::move(text);
  Changed();
}

int TStringList::Add(std::string text) {
  items_.push_back(std::move(text));
  Changed();
  return Count() - 1;
}

void TStringList::Insert(int index, std::string text) {
  if (index < 0 || index > Count()) throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
  items_.insert(items_.begin() + index, std::move(text));
  Changed();
}

void TStringList::Delete(int index) {
  Strings(index);
  items_.erase(items_.begin() + index);
  Changed();
}

void TStringList::Clear() {
  if (items_.empty()) return;
  items_.clear();
  Changed();
}

int TStringList::IndexOf(std::string_view text) const {
  for (int i = 0; i < Count(); ++i) {
    if (SameText(items_[static_cast<std::size_t>(i)], text)) return i;
  }
  return -1;
}

int TStringList::IndexOfName(std::string_view name) const {
  for (int i = 0; i < Count(); ++i) {
    const std::string& line = items_[static_cast<std::size_t>(i)];
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos && SameText(std::string_view(line).substr(0, equals), name)) return i;
  }
  return -1;
}

std::string TStringList::Values(std::string_view name) const {
  const int at = IndexOfName(name);
  if (at < 0) return {};
  const std::string& line = items_[static_cast<std::size_t>(at)];
  return line.substr(line.find('=') + 1);
}

void TStringList::Assign(const TStringList& other) {
  if (&other == this) return;
  items_ = other.items_;
  Changed();
}

std::string TStringList::Text() const {
  std::string text;
  for (const std::string& line : items_) text += line + "\r\n";
  return text;
}

void TStringList::SetText(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    lines.emplace_back(text.substr(start, end - start));
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
    start = end + 1;
  }
  items_ = std::move(lines);
  Changed();
}

void TStringList::SaveToStream(TStream& stream) const {
  const std::string text = Text();
  stream.WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
}

void TStringList::LoadFromStream(TStream& stream) {
  std::string text(static_cast<std::size_t>(stream.Size() - stream.Position()), '\0');
  stream.ReadBuffer(text.data(), static_cast<std::int64_t>(text.size()));
  SetText(text);
}

void TStringList::EndUpdate() {
  if (updating_ > 0 && --updating_ == 0 && changedWhileUpdating_) {
    changedWhileUpdating_ = false;
    if (OnChange) OnChange(*this);
  }
}

void TStringList::Changed() {
  if (updating_ > 0) {
    changedWhileUpdating_ = true;
  } else if (OnChange) {
    OnChange(*this);
  }
}

}  // namespace kavrin::classlib
