// TStringList: the class library's list of strings, with the name=value view that database parameters
// use and an event after each change.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kavrin::classlib {

class TStream;

class TStringList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& Strings(int index) const;
  const std::string& operator[](int index) const { return Strings(index); }
  void Put(int index, std::string text);
  int Add(std::string text);
  void Insert(int index, std::string text);
  void Delete(int index);
  void Clear();
  // Compared without regard to case, as the class library's lists do; -1 when absent.
  int IndexOf(std::string_view text) const;
  // Lines "name=value": the value of the first line whose name matches without regard to case.
  std::string Values(std::string_view name) const;
  int IndexOfName(std::string_view name) const;
  void Assign(const TStringList& other);
  // Lines joined by "\r\n" after each line; SetText splits at "\r\n", "\n" or "\r".
  std::string Text() const;
  void SetText(std::string_view text);
  void SaveToStream(TStream& stream) const;
  void LoadFromStream(TStream& stream);
  void BeginUpdate() { ++updating_; }
  void EndUpdate();
  bool operator==(const TStringList& other) const { return items_ == other.items_; }

  std::function<void(TStringList&)> OnChange;

 private:
  void Changed();
  std::vector<std::string> items_;
  int updating_ = 0;
  bool changedWhileUpdating_ = false;
};

}  // namespace kavrin::classlib
