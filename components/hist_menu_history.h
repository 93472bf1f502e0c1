// The core of THistMenu (unit HistMenu): a most-recently-used list kept as the last sub-items of a menu
// item, optionally after a separator, saved under HKEY_CURRENT_USER\<BaseKey>\<component name> as "C0"
// (REG_SZ caption), "T0" (REG_DWORD tag), "C1", "T1", ..., the most recent first.
//
// The menu comes in through HistoryMenuItem, which the Qt adapter implements over a real menu.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kavrin::components::histmenu {

// The menu item whose sub-items receive the history. Indexes count all its sub-items.
class HistoryMenuItem {
 public:
  virtual ~HistoryMenuItem() = default;
  virtual int Count() const = 0;
  virtual void InsertSeparator(int index) = 0;
  // A history item; a click on it is to reach THistMenuCore::ItemClicked with its index.
  virtual void InsertEntry(int index, const std::string& caption, std::int32_t tag) = 0;
  virtual void Remove(int index) = 0;
  virtual std::string Caption(int index) const = 0;
  virtual std::int32_t Tag(int index) const = 0;
};

// Index of the clicked sub-item, its caption and its tag.
using THistMenuEvent = std::function<void(int index, const std::string& caption, std::int32_t tag)>;

class THistMenuCore {
 public:
  HistoryMenuItem* MenuItem() const { return menu_; }
  // The old menu loses its history items (a separator before them stays); the new one's history starts
  // after its present sub-items. Null: nothing is added any more.
  void SetMenuItem(HistoryMenuItem* menu);
  int MaxHistory() const { return max_history_; }
  void SetMaxHistory(int value);  // values below 2 are ignored
  bool AddSeparator() const { return add_separator_; }
  void SetAddSeparator(bool value);
  int ItemCount() const { return item_count_; }
  const std::string& BaseKey() const { return base_key_; }
  void SetBaseKey(std::string key) { base_key_ = std::move(key); }
  // The component's name, the subkey below BaseKey.
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  // Where the history block starts among the menu's sub-items (after the separator when there is one).
  int FirstHistoryIndex() const { return first_index_; }

  THistMenuEvent OnClick;

  void AddItem(const std::string& caption, std::int32_t tag);
  // Entries up to the first missing "C" value; a damaged entry ends the list quietly.
  void LoadHistory();
  // Raises the registry class's ERegistryException when the key cannot be made or a value written.
  void SaveHistory();
  void ItemClicked(int index);

 private:
  std::string RegistryPath() const;
  void InsertSeparatorForFirstEntry();

  HistoryMenuItem* menu_ = nullptr;
  int max_history_ = 5;
  bool add_separator_ = false;
  int item_count_ = 0;
  std::string base_key_;
  std::string name_;
  int first_index_ = 0;
};

}  // namespace kavrin::components::histmenu
