#include "classlib/widgets/string_items.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace kavrin::classlib {

int CompareTextIgnoringCase(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const int x = std::toupper(static_cast<unsigned char>(a[i]));
    const int y = std::toupper(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

void TStringItems::CheckIndex(int index) const {
  if (index < 0 || index >= Count())
    throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
}

const std::string& TStringItems::Strings(int index) const {
  CheckIndex(index);
  return items_[static_cast<std::size_t>(index)].Text;
}

void TStringItems::SetStrings(int index, const std::string& text) {
  CheckIndex(index);
  items_[static_cast<std::size_t>(index)].Text = text;
  if (OnChange.Changed) OnChange.Changed(index);
}

TItemObject TStringItems::Objects(int index) const {
  CheckIndex(index);
  return items_[static_cast<std::size_t>(index)].Object;
}

void TStringItems::SetObjects(int index, TItemObject object) {
  CheckIndex(index);
  items_[static_cast<std::size_t>(index)].Object = object;
}

int TStringItems::Add(const std::string& text) { return AddObject(text, nullptr); }

int TStringItems::AddObject(const std::string& text, TItemObject object) {
  int index = Count();
  if (sorted_) {
    auto it = std::upper_bound(items_.begin(), items_.end(), text, [](const std::string& t, const Item& item) {
      return CompareTextIgnoringCase(t, item.Text) < 0;
    });
    index = static_cast<int>(it - items_.begin());
  }
  items_.insert(items_.begin() + index, Item{text, object});
  if (OnChange.Inserted) OnChange.Inserted(index);
  return index;
}

void TStringItems::Insert(int index, const std::string& text) { InsertObject(index, text, nullptr); }

void TStringItems::InsertObject(int index, const std::string& text, TItemObject object) {
  if (index < 0 || index > Count()) throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
  items_.insert(items_.begin() + index, Item{text, object});
  if (OnChange.Inserted) OnChange.Inserted(index);
}

void TStringItems::Delete(int index) {
  CheckIndex(index);
  items_.erase(items_.begin() + index);
  if (OnChange.Deleted) OnChange.Deleted(index);
}

void TStringItems::Clear() {
  items_.clear();
  if (OnChange.Cleared) OnChange.Cleared();
}

void TStringItems::Move(int from, int to) {
  if (from == to) return;
  CheckIndex(from);
  CheckIndex(to);
  const Item item = items_[static_cast<std::size_t>(from)];
  Delete(from);
  InsertObject(to, item.Text, item.Object);
}

void TStringItems::Exchange(int a, int b) {
  CheckIndex(a);
  CheckIndex(b);
  std::swap(items_[static_cast<std::size_t>(a)], items_[static_cast<std::size_t>(b)]);
  if (OnChange.Changed) {
    OnChange.Changed(a);
    OnChange.Changed(b);
  }
}

int TStringItems::IndexOf(const std::string& text) const {
  for (int i = 0; i < Count(); ++i) {
    if (CompareTextIgnoringCase(items_[static_cast<std::size_t>(i)].Text, text) == 0) return i;
  }
  return -1;
}

int TStringItems::IndexOfObject(TItemObject object) const {
  for (int i = 0; i < Count(); ++i) {
    if (items_[static_cast<std::size_t>(i)].Object == object) return i;
  }
  return -1;
}

void TStringItems::Assign(const TStringItems& other) {
  Clear();
  for (const auto& item : other.items_) AddObject(item.Text, item.Object);
}

std::string TStringItems::Text() const {
  std::string out;
  for (const auto& item : items_) out += item.Text + "\r\n";
  return out;
}

void TStringItems::SetText(const std::string& text) {
  Clear();
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      Add(text.substr(start));
      break;
    }
    Add(text.substr(start, end - start));
    start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
}

std::string TStringItems::CommaText() const {
  std::string out;
  for (const auto& item : items_) {
    if (!out.empty()) out += ',';
    out += item.Text;
  }
  return out;
}

void TStringItems::SetSorted(bool sorted) {
  if (sorted == sorted_) return;
  sorted_ = sorted;
  if (!sorted_) return;
  std::vector<Item> copy = items_;
  std::stable_sort(copy.begin(), copy.end(),
                   [](const Item& a, const Item& b) { return CompareTextIgnoringCase(a.Text, b.Text) < 0; });
  Clear();
  sorted_ = false;
  for (const auto& item : copy) AddObject(item.Text, item.Object);
  sorted_ = true;
}

}  // namespace kavrin::classlib
