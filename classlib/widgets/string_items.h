// The item lists of list boxes, drop-downs, radio groups and memos: texts with an object each. The
// control that shows a list mirrors every change through the change hooks.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kavrin::classlib {

// An item's object: what the class library stores as a TObject (often a number cast to one).
using TItemObject = void*;

class TStringItems {
 public:
  struct Hooks {
    std::function<void(int index)> Inserted;
    std::function<void(int index)> Deleted;
    std::function<void(int index)> Changed;
    std::function<void()> Cleared;
  };

  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& Strings(int index) const;
  void SetStrings(int index, const std::string& text);
  TItemObject Objects(int index) const;
  void SetObjects(int index, TItemObject object);
  // Adds at the end, or at the sorted place while Sorted; returns the index.
  int Add(const std::string& text);
  int AddObject(const std::string& text, TItemObject object);
  void Insert(int index, const std::string& text);
  void InsertObject(int index, const std::string& text, TItemObject object);
  void Delete(int index);
  void Clear();
  void Move(int from, int to);
  void Exchange(int a, int b);
  // Case-insensitive, as the class library's lists compare; -1 when absent.
  int IndexOf(const std::string& text) const;
  int IndexOfObject(TItemObject object) const;
  void Assign(const TStringItems& other);
  // Lines joined with CR LF, each ended by it; setting splits at CR LF, LF or CR.
  std::string Text() const;
  void SetText(const std::string& text);
  // Items joined by ",", as the class library's CommaText writes plain items.
  std::string CommaText() const;

  bool Sorted() const { return sorted_; }
  void SetSorted(bool sorted);

  Hooks OnChange;

 private:
  void CheckIndex(int index) const;
  struct Item {
    std::string Text;
    TItemObject Object = nullptr;
  };
  std::vector<Item> items_;
  bool sorted_ = false;
};

// Case-insensitive comparison of the class library's sorted lists (ANSI order, ignoring case).
int CompareTextIgnoringCase(const std::string& a, const std::string& b);

}  // namespace kavrin::classlib
