#include "classlib/widgets/menus.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <algorithm>
#include <stdexcept>

#include "classlib/widgets/application.h"
#include "classlib/widgets/hint_text.h"

namespace kavrin::classlib {

namespace {

void ClearHint() {
  if (TApplication* app = TApplication::Instance()) app->SetHint("");
}

}  // namespace

TMenuItem::TMenuItem(TComponent* owner) : TComponent(owner) {
  action_ = new QAction(nullptr);
  QObject::connect(action_, &QAction::triggered, action_, [this] { Guarded(this, [this] { Click(); }); });
  QObject::connect(action_, &QAction::hovered, action_, [this] {
    Guarded(this, [this] {
      if (TApplication* app = TApplication::Instance()) app->SetHint(GetLongHint(hint_));
    });
  });
}

TMenuItem::~TMenuItem() {
  for (TMenuItem* child : items_) child->parent_ = nullptr;
  if (parent_) parent_->Remove(this);
  for (QAction* a : windowList_) delete a;
  delete action_;
  delete subMenu_;
}

void TMenuItem::SetCaption(const std::string& caption) {
  caption_ = caption;
  action_->setSeparator(caption == "-");
  action_->setText(QString::fromStdString(caption));
  if (subMenu_) subMenu_->setTitle(QString::fromStdString(caption));
}

void TMenuItem::SetEnabled(bool enabled) {
  enabled_ = enabled;
  action_->setEnabled(enabled);
}

void TMenuItem::SetVisible(bool visible) {
  visible_ = visible;
  action_->setVisible(visible);
}

void TMenuItem::SetChecked(bool checked) {
  checked_ = checked;
  action_->setCheckable(checked || action_->isCheckable());
  action_->setChecked(checked);
}

int TMenuItem::MenuIndex() const { return parent_ ? parent_->IndexOf(this) : -1; }

int TMenuItem::IndexOf(const TMenuItem* item) const {
  auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TMenuItem::Add(TMenuItem* item) { Insert(Count(), item); }

QMenu* TMenuItem::SubMenu() {
  if (!subMenu_) {
    subMenu_ = new QMenu(QString::fromStdString(caption_));
    action_->setMenu(subMenu_);
    QObject::connect(subMenu_, &QMenu::aboutToShow, subMenu_, [this] {
      Guarded(this, [this] {
        if (OnPopupRefresh) OnPopupRefresh();
      });
    });
    QObject::connect(subMenu_, &QMenu::aboutToHide, subMenu_, [] { ClearHint(); });
  }
  return subMenu_;
}

QWidget* TMenuItem::Container() {
  if (rootOf_) return rootOf_->RootContainer();
  return SubMenu();
}

void TMenuItem::AttachChildAction(int index, TMenuItem* child) {
  QWidget* container = Container();
  QAction* before = nullptr;
  if (index + 1 < Count()) {
    before = items_[static_cast<std::size_t>(index + 1)]->action_;
  } else if (!windowList_.empty()) {
    before = windowList_.front();
  }
  container->insertAction(before, child->action_);
}

void TMenuItem::Insert(int index, TMenuItem* item) {
  if (!item || item == this) throw std::invalid_argument("menu item cannot be inserted here");
  if (index < 0 || index > Count()) throw std::out_of_range("Menu index out of range");
  if (item->parent_) item->parent_->Remove(item);
  items_.insert(items_.begin() + index, item);
  item->parent_ = this;
  AttachChildAction(index, item);
}

void TMenuItem::Delete(int index) {
  if (index < 0 || index >= Count()) throw std::out_of_range("Menu index out of range");
  TMenuItem* item = items_[static_cast<std::size_t>(index)];
  items_.erase(items_.begin() + index);
  item->parent_ = nullptr;
  Container()->removeAction(item->action_);
}

void TMenuItem::Remove(TMenuItem* item) {
  const int index = IndexOf(item);
  if (index >= 0) Delete(index);
}

void TMenuItem::Clear() {
  while (Count() > 0) Delete(Count() - 1);
}

void TMenuItem::Click() {
  if (OnClick) OnClick(this);
}

void TMenuItem::SetWindowList(const std::vector<std::pair<std::string, std::function<void()>>>& entries, int checked) {
  QWidget* container = Container();
  for (QAction* a : windowList_) {
    container->removeAction(a);
    delete a;
  }
  windowList_.clear();
  if (entries.empty()) return;
  auto* separator = new QAction(nullptr);
  separator->setSeparator(true);
  container->addAction(separator);
  windowList_.push_back(separator);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    auto* a = new QAction(QString::fromStdString(entries[i].first), nullptr);
    a->setCheckable(true);
    a->setChecked(static_cast<int>(i) == checked);
    auto activate = entries[i].second;
    QObject::connect(a, &QAction::triggered, a, [this, activate] { Guarded(this, activate); });
    container->addAction(a);
    windowList_.push_back(a);
  }
}

TMenu::TMenu(TComponent* owner) : TComponent(owner), root_(new TMenuItem(nullptr)) { root_->rootOf_ = this; }

TMenu::~TMenu() {
  root_->Clear();
  delete root_;
}

TMainMenu::TMainMenu(TComponent* owner) : TMenu(owner), bar_(new QMenuBar) {}

TMainMenu::~TMainMenu() {
  root_->Clear();
  // The form's layout may have taken the bar; it is ours to delete either way.
  delete bar_;
}

QWidget* TMainMenu::RootContainer() { return bar_; }

TPopupMenu::TPopupMenu(TComponent* owner) : TMenu(owner), menu_(new QMenu) {
  QObject::connect(menu_, &QMenu::aboutToHide, menu_, [] { ClearHint(); });
}

TPopupMenu::~TPopupMenu() {
  root_->Clear();
  delete menu_;
}

QWidget* TPopupMenu::RootContainer() { return menu_; }

void TPopupMenu::Popup(int x, int y) {
  if (OnPopup) OnPopup(this);
  QPoint at(x, y);
  if (Alignment != TPopupAlignment::paLeft) {
    const int width = menu_->sizeHint().width();
    at.rx() -= Alignment == TPopupAlignment::paCenter ? width / 2 : width;
  }
  menu_->popup(at);
}

}  // namespace kavrin::classlib
