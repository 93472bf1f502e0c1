// Forms: top-level windows, MDI frames and MDI children, with the class library's create, show, modal
// and close sequence. Modal runs go through the Ui seam; the form supplies the loop the real one runs.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "classlib/widgets/control.h"
#include "classlib/widgets/graphics.h"
#include "classlib/widgets/mdi_layout.h"
#include "classlib/widgets/set_of.h"
#include "classlib/widgets/ui.h"

class QEventLoop;
class QMdiArea;
class QMdiSubWindow;
class QVBoxLayout;

namespace kavrin::classlib {

class TMainMenu;
class TMenuItem;
class FormWindow;

enum class TFormStyle { fsNormal, fsMDIChild, fsMDIForm, fsStayOnTop };
enum class TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum class TPosition {
  poDesigned,
  poDefault,
  poDefaultPosOnly,
  poDefaultSizeOnly,
  poScreenCenter,
  poMainFormCenter,
  poOwnerFormCenter
};
enum class TWindowState { wsNormal, wsMinimized, wsMaximized };
enum class TCloseAction { caNone, caHide, caFree, caMinimize };
enum class TBorderIcon { biSystemMenu, biMinimize, biMaximize, biHelp };
using TBorderIcons = TSetOf<TBorderIcon>;

using TCloseEvent = std::function<void(TComponent* Sender, TCloseAction& Action)>;
using TCloseQueryEvent = std::function<void(TComponent* Sender, bool& CanClose)>;

// Misuse of a form or control that the class library refuses ("Cannot make a visible window modal").
class EInvalidOperation : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TForm : public TWinControl {
 public:
  explicit TForm(TComponent* owner);
  ~TForm() override;

  // new T(owner, args...), then OnCreate; use this (or Application().CreateForm) for every form.
  template <class T, class... Args>
  static T* Create(TComponent* owner, Args&&... args) {
    T* form = new T(owner, std::forward<Args>(args)...);
    form->AfterConstruction();
    return form;
  }
  // Fires OnCreate; an exception goes to the application's handler and the form stays. An MDI child
  // is shown.
  void AfterConstruction();
  // OnDestroy, then the owned components, while the form and its widget still exist.
  void BeforeDestruction() override;

  TFormStyle FormStyle() const { return formStyle_; }
  void SetFormStyle(TFormStyle style);
  bool IsMDIChild() const { return formStyle_ == TFormStyle::fsMDIChild; }
  TFormBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TFormBorderStyle style);
  TBorderIcons BorderIcons() const { return borderIcons_; }
  void SetBorderIcons(TBorderIcons icons);
  TPosition Position() const { return position_; }
  void SetPosition(TPosition position) { position_ = position; }
  TWindowState WindowState() const;
  void SetWindowState(TWindowState state);
  bool KeyPreview() const { return keyPreview_; }
  void SetKeyPreview(bool value) { keyPreview_ = value; }
  const TIcon& Icon() const { return icon_; }
  void SetIcon(const TIcon& icon);
  TMainMenu* Menu() const { return menu_; }
  void SetMenu(TMainMenu* menu);

  TWinControl* ActiveControl() const { return activeControl_; }
  // Makes control the active one, firing the exit of the old one and the enter of the new one.
  void SetActiveControl(TWinControl* control);
  // A control going away stops being the active one, without events.
  void ControlGone(const TWinControl* control);

  TModalResult ModalResult() const { return modalResult_; }
  // While the form runs modally a non-zero result runs its close checks; a refusal sets it back to 0.
  void SetModalResult(TModalResult result);
  bool Modal() const { return modal_; }

  void SetVisible(bool visible) override;
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  TModalResult ShowModal();
  // OnCloseQuery (after every MDI child's for a frame), then OnClose and its action. Closing the main
  // form ends the program. While the application is busy (an engine call waits, a command runs) the
  // close of a form that is not modal is refused: nothing is asked and the form stays.
  void Close();
  bool CloseQuery();
  // Frees the form once the current event is handled, and no sooner than the application stops being
  // busy.
  void Release();
  void BringToFront();

  void SetBounds(int left, int top, int width, int height) override;
  int ClientWidth() const override;
  int ClientHeight() const override;
  void SetClientWidth(int value);
  void SetClientHeight(int value);
  QWidget* ClientWidget() const override;
  QWidget* FocusWidget() const override;
  QWidget* FrameWidget() const override;
  QWidget* MouseWidget() const override;

  // MDI frames.
  int MDIChildCount() const;
  TForm* MDIChildren(int index) const;
  TForm* ActiveMDIChild() const;
  void Cascade();
  void Tile();
  void ArrangeIcons();
  void Next();
  void Previous();
  TTileMode TileMode = TTileMode::tbHorizontal;
  // The menu item under which the frame lists its children.
  TMenuItem* WindowMenu() const { return windowMenu_; }
  void SetWindowMenu(TMenuItem* item);
  // The client area of the frame, in the frame's client coordinates.
  TRect MDIClientRect() const;
  QMdiArea* MDIArea() const { return mdiArea_; }
  static TForm* FromSubWindow(const QMdiSubWindow* window);

  TNotifyEvent OnCreate;
  TNotifyEvent OnShow;
  TNotifyEvent OnHide;
  TNotifyEvent OnDestroy;
  TNotifyEvent OnActivate;
  TCloseQueryEvent OnCloseQuery;
  TCloseEvent OnClose;

  // The modal machinery the Ui implementations use: BeginModal shows the form in its modal state,
  // RunModalLoop waits for a result, EndModal hides it and returns the result.
  void BeginModal();
  TModalResult RunModalLoop();
  TModalResult EndModal();
  // Esc presses the cancel button, Enter the default one (a focused button takes Enter itself); true
  // when a button took the key.
  bool DialogKey(Word key);
  // Buttons on the form register here as its default or cancel button, or as neither.
  void SetDialogButton(TWinControl* button, bool isDefault, bool isCancel);
  // A button's press: its result first, then its OnClick, then the close checks.
  void ButtonPressed(TModalResult result, const std::function<void()>& click);

 protected:
  void ApplyCaption() override;
  void ApplyColor() override;
  void PlaceClientRemainder(const TRect& remaining) override;

 private:
  friend class FormWindow;
  void CheckModalClose();
  bool DoClose(TCloseAction& action);
  void FreeWhenIdle();
  void ApplyWindowFlags();
  void FirstShowPlacement();
  void RefreshWindowMenu();

  FormWindow* window_ = nullptr;
  QWidget* client_ = nullptr;
  QVBoxLayout* layout_ = nullptr;
  QMdiArea* mdiArea_ = nullptr;
  QMdiSubWindow* subWindow_ = nullptr;
  TForm* mdiFrame_ = nullptr;
  TFormStyle formStyle_ = TFormStyle::fsNormal;
  TFormBorderStyle borderStyle_ = TFormBorderStyle::bsSizeable;
  TBorderIcons borderIcons_{TBorderIcon::biSystemMenu, TBorderIcon::biMinimize, TBorderIcon::biMaximize};
  TPosition position_ = TPosition::poDesigned;
  TWindowState pendingState_ = TWindowState::wsNormal;
  bool keyPreview_ = false;
  TIcon icon_;
  TMainMenu* menu_ = nullptr;
  TMenuItem* windowMenu_ = nullptr;
  TWinControl* activeControl_ = nullptr;
  TModalResult modalResult_ = mrNone;
  bool modal_ = false;
  bool deferClose_ = false;
  bool shownOnce_ = false;
  bool releasing_ = false;
  QEventLoop* modalLoop_ = nullptr;
  std::vector<TForm*> mdiChildren_;
  std::vector<TWinControl*> defaultButtons_;
  std::vector<TWinControl*> cancelButtons_;
};

}  // namespace kavrin::classlib
