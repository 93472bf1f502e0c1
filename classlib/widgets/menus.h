// Menus: the main menu of a form and pop-up menus, built of items with "&" captions, "-" separators,
// hints for the status line, and insert and delete at an index.
#pragma once

#include <QMenuBar>
#include <QPointer>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "classlib/data/component.h"
#include "classlib/widgets/control.h"

class QAction;
class QMenu;
class QWidget;

namespace kavrin::classlib {

class TMenu;

class TMenuItem : public TComponent {
 public:
  explicit TMenuItem(TComponent* owner);
  ~TMenuItem() override;

  std::string Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  bool IsLine() const { return caption_ == "-"; }
  std::string Hint() const { return hint_; }
  void SetHint(const std::string& hint) { hint_ = hint; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  bool Checked() const { return checked_; }
  void SetChecked(bool checked);

  int Count() const { return static_cast<int>(items_.size()); }
  TMenuItem* Items(int index) const { return items_.at(static_cast<std::size_t>(index)); }
  TMenuItem* Parent() const { return parent_; }
  int MenuIndex() const;
  int IndexOf(const TMenuItem* item) const;
  void Add(TMenuItem* item);
  // index == Count appends. The item leaves any menu it was in.
  void Insert(int index, TMenuItem* item);
  // Takes the item out of the menu; it is not freed (its owner frees it).
  void Delete(int index);
  void Remove(TMenuItem* item);
  void Clear();

  // Fires OnClick.
  virtual void Click();
  TNotifyEvent OnClick;
  // Asked just before the item's sub-menu opens (the MDI frame fills its window list here).
  std::function<void()> OnPopupRefresh;

  // Extra entries after the sub-items, behind a separator (the MDI window list); the checked one is
  // the active window.
  void SetWindowList(const std::vector<std::pair<std::string, std::function<void()>>>& entries, int checked);
  int WindowListCount() const { return static_cast<int>(windowList_.size()); }

  QAction* Action() const { return action_; }
  // The sub-menu, made on first use.
  QMenu* SubMenu();

 private:
  friend class TMenu;
  void AttachChildAction(int index, TMenuItem* child);
  QWidget* Container();

  std::string caption_;
  std::string hint_;
  bool enabled_ = true;
  bool visible_ = true;
  bool checked_ = false;
  QAction* action_ = nullptr;
  QMenu* subMenu_ = nullptr;
  TMenuItem* parent_ = nullptr;
  TMenu* rootOf_ = nullptr;
  std::vector<TMenuItem*> items_;
  std::vector<QAction*> windowList_;
};

// A menu: its items hang under an invisible root item.
class TMenu : public TComponent {
 public:
  explicit TMenu(TComponent* owner);
  ~TMenu() override;
  TMenuItem& Items() { return *root_; }

 protected:
  friend class TMenuItem;
  virtual QWidget* RootContainer() = 0;
  TMenuItem* root_;
};

class TMainMenu : public TMenu {
 public:
  explicit TMainMenu(TComponent* owner);
  ~TMainMenu() override;
  QMenuBar* MenuBar() const { return bar_.data(); }

 protected:
  QWidget* RootContainer() override;

 private:
  QPointer<QMenuBar> bar_;
};

enum class TPopupAlignment { paLeft, paRight, paCenter };

class TPopupMenu : public TMenu {
 public:
  explicit TPopupMenu(TComponent* owner);
  ~TPopupMenu() override;

  TPopupAlignment Alignment = TPopupAlignment::paLeft;
  // The control on which the menu was last opened.
  TControl* PopupComponent() const { return popupComponent_; }
  void SetPopupComponent(TControl* control) { popupComponent_ = control; }
  // Opens the menu at a screen position; it stays open until an item is chosen or it is dismissed.
  void Popup(int x, int y);
  TNotifyEvent OnPopup;
  QMenu* Menu() const { return menu_; }

 protected:
  QWidget* RootContainer() override;

 private:
  QMenu* menu_;
  TControl* popupComponent_ = nullptr;
};

}  // namespace kavrin::classlib
