#include "components/hist_menu_history.h"

#include "classlib/registry/registry.h"

namespace kavrin::components::histmenu {

namespace {

std::string Caption(int n) { return "C" + std::to_string(n); }
std::string Tag(int n) { return "T" + std::to_string(n); }

}  // namespace

void THistMenuCore::SetMenuItem(HistoryMenuItem* menu) {
  if (menu_ != nullptr) {
    while (menu_->Count() > first_index_) menu_->Remove(first_index_);
  }
  // The history went with the old menu's items; a count left behind would point into the new menu.
  item_count_ = 0;
  menu_ = menu;
  first_index_ = menu_ != nullptr ? menu_->Count() : 0;
}

void THistMenuCore::SetMaxHistory(int value) {
  if (value >= 2) max_history_ = value;
}

void THistMenuCore::SetAddSeparator(bool value) {
  if (value == add_separator_) return;
  add_separator_ = value;
  if (menu_ == nullptr || item_count_ == 0) return;
  if (value) {
    menu_->InsertSeparator(first_index_);
    ++first_index_;
  } else {
    menu_->Remove(first_index_ - 1);
    --first_index_;
  }
}

void THistMenuCore::InsertSeparatorForFirstEntry() {
  if (!add_separator_) return;
  menu_->InsertSeparator(first_index_);
  ++first_index_;
}

void THistMenuCore::AddItem(const std::string& caption, std::int32_t tag) {
  if (menu_ == nullptr) return;
  if (item_count_ == 0) {
    InsertSeparatorForFirstEntry();
    item_count_ = 1;
  } else {
    int found = -1;
    for (int i = 0; i < item_count_; ++i) {
      if (menu_->Caption(first_index_ + i) == caption) {
        found = i;
        break;
      }
    }
    if (found >= 0) {
      menu_->Remove(first_index_ + found);
    } else if (item_count_ < max_history_) {
      ++item_count_;
    } else {
      menu_->Remove(first_index_ + item_count_ - 1);
    }
  }
  menu_->InsertEntry(first_index_, caption, tag);
}

std::string THistMenuCore::RegistryPath() const { return "\\" + base_key_ + "\\" + name_; }

void THistMenuCore::LoadHistory() {
  if (base_key_.empty() || menu_ == nullptr) return;
  classlib::TRegistry reg;
  reg.SetRootKey(platform::HKEY_CURRENT_USER);
  if (!reg.OpenKey(RegistryPath(), false)) return;
  for (int n = 0; reg.ValueExists(Caption(n)); ++n) {
    std::string caption;
    std::int32_t tag = 0;
    try {
      caption = reg.ReadString(Caption(n));
      tag = reg.ReadInteger(Tag(n));
    } catch (const classlib::ERegistryException&) {
      // A damaged entry must not keep the main window from being made; the entries before it stay.
      return;
    }
    if (item_count_ == 0) InsertSeparatorForFirstEntry();
    if (item_count_ < max_history_) {
      ++item_count_;
    } else {
      menu_->Remove(first_index_ + item_count_ - 1);
    }
    menu_->InsertEntry(first_index_ + item_count_ - 1, caption, tag);
  }
}

void THistMenuCore::SaveHistory() {
  if (base_key_.empty() || menu_ == nullptr) return;
  classlib::TRegistry reg;
  reg.SetRootKey(platform::HKEY_CURRENT_USER);
  if (!reg.OpenKey(RegistryPath(), true)) {
    throw classlib::ERegistryException("Failed to create key '" + RegistryPath() + "'", reg.LastError());
  }
  for (int n = 0; n < item_count_; ++n) {
    reg.WriteString(Caption(n), menu_->Caption(first_index_ + n));
    reg.WriteInteger(Tag(n), menu_->Tag(first_index_ + n));
  }
  // Entries the user no longer has must not come back at the next load, which reads up to the first
  // missing "C".
  for (int n = item_count_; reg.ValueExists(Caption(n)); ++n) {
    reg.DeleteValue(Caption(n));
    reg.DeleteValue(Tag(n));
  }
}

void THistMenuCore::ItemClicked(int index) {
  if (menu_ == nullptr || index < first_index_ || index >= first_index_ + item_count_) return;
  if (OnClick) OnClick(index, menu_->Caption(index), menu_->Tag(index));
}

}  // namespace kavrin::components::histmenu
