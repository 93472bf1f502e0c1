// THistMenu (unit HistMenu): the recent-files list as the last sub-items of a menu item, optionally
// after a separator line, with a click reporting the item's caption and tag, and the list saved and
// loaded under HKEY_CURRENT_USER\<BaseKey>\<the component's name>.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "classlib/data/component.h"
#include "components/hist_menu_history.h"

namespace kavrin::classlib {
class TMenuItem;
}

namespace kavrin::components::histmenu {

// Sender is the clicked menu item.
using THistMenuClick = std::function<void(classlib::TComponent* Sender, const std::string& Caption, std::int32_t Tag)>;

class THistMenu : public classlib::TComponent {
 public:
  explicit THistMenu(classlib::TComponent* owner);
  ~THistMenu() override;

  classlib::TMenuItem* MenuItem() const { return menu_item_; }
  // The old menu item loses its history; null: nothing is added any more.
  void SetMenuItem(classlib::TMenuItem* item);
  int MaxHistory() const { return core_.MaxHistory(); }
  void SetMaxHistory(int value) { core_.SetMaxHistory(value); }
  bool AddSeparator() const { return core_.AddSeparator(); }
  void SetAddSeparator(bool value) { core_.SetAddSeparator(value); }
  int ItemCount() const { return core_.ItemCount(); }
  const std::string& BaseKey() const { return core_.BaseKey(); }
  void SetBaseKey(std::string key) { core_.SetBaseKey(std::move(key)); }

  void AddItem(const std::string& caption, std::int32_t tag) { core_.AddItem(caption, tag); }
  void LoadHistory();
  void SaveHistory();

  THistMenuClick OnClick;

 private:
  class MenuAdapter;

  THistMenuCore core_;
  std::unique_ptr<MenuAdapter> adapter_;
  classlib::TMenuItem* menu_item_ = nullptr;
};

}  // namespace kavrin::components::histmenu
