#include "components/hist_menu.h"

#include "classlib/widgets/menus.h"

namespace kavrin::components::histmenu {

using classlib::TComponent;
using classlib::TMenuItem;

// The core's view of a real menu item. The history items belong to the component, so they go with it.
class THistMenu::MenuAdapter : public HistoryMenuItem {
 public:
  MenuAdapter(THistMenu& owner, TMenuItem& item) : owner_(owner), item_(item) {}

  int Count() const override { return item_.Count(); }
  void InsertSeparator(int index) override { Insert(index, "-", 0); }
  void InsertEntry(int index, const std::string& caption, std::int32_t tag) override {
    TMenuItem* entry = Insert(index, caption, tag);
    entry->OnClick = [this, entry](TComponent*) { owner_.core_.ItemClicked(item_.IndexOf(entry)); };
  }
  void Remove(int index) override {
    TMenuItem* entry = item_.Items(index);
    item_.Delete(index);
    if (entry->Owner() == &owner_) classlib::Free(entry);
  }
  std::string Caption(int index) const override { return item_.Items(index)->Caption(); }
  std::int32_t Tag(int index) const override { return item_.Items(index)->Tag; }

 private:
  TMenuItem* Insert(int index, const std::string& caption, std::int32_t tag) {
    auto* entry = new TMenuItem(&owner_);
    entry->SetCaption(caption);
    entry->Tag = tag;
    item_.Insert(index, entry);
    return entry;
  }

  THistMenu& owner_;
  TMenuItem& item_;
};

THistMenu::THistMenu(TComponent* owner) : TComponent(owner) {
  core_.OnClick = [this](int index, const std::string& caption, std::int32_t tag) {
    if (OnClick) OnClick(menu_item_->Items(index), caption, tag);
  };
}

// The menu is not touched: it may be gone already. The history items are owned, so they go with the
// component and leave a menu that still stands.
THistMenu::~THistMenu() = default;

void THistMenu::SetMenuItem(TMenuItem* item) {
  std::unique_ptr<MenuAdapter> adapter = item ? std::make_unique<MenuAdapter>(*this, *item) : nullptr;
  core_.SetMenuItem(adapter.get());
  adapter_ = std::move(adapter);
  menu_item_ = item;
}

void THistMenu::LoadHistory() {
  core_.SetName(Name);
  core_.LoadHistory();
}

void THistMenu::SaveHistory() {
  core_.SetName(Name);
  core_.SaveHistory();
}

}  // namespace kavrin::components::histmenu
