// Controls: the thin wrappers over Qt widgets that forms are built from. A control owns its widget and
// routes every Qt event it cares about to its own virtual handlers and events, each entry guarded so
// that no exception crosses a Qt frame. Windowed controls take the focus and keys; the others (labels,
// images, speed buttons) do not.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "classlib/data/component.h"
#include "classlib/widgets/align_layout.h"
#include "classlib/widgets/geometry.h"
#include "classlib/widgets/graphics.h"
#include "classlib/widgets/keys.h"

class QWidget;
class QObject;
class QEvent;

namespace kavrin::classlib {

class TWinControl;
class TForm;
class TPopupMenu;
class ControlEvents;

enum class TMouseButton { mbLeft, mbRight, mbMiddle };
enum class TDragMode { dmManual, dmAutomatic };
enum class TDragState { dsDragEnter, dsDragLeave, dsDragMove };

// Cursor values as the class library numbers them.
using TCursor = int;
inline constexpr TCursor crDefault = 0, crNone = -1, crArrow = -2, crCross = -3, crIBeam = -4, crSizeNESW = -6,
                         crSizeNS = -7, crSizeNWSE = -8, crSizeWE = -9, crUpArrow = -10, crHourGlass = -11,
                         crDrag = -12, crNoDrop = -13, crHSplit = -14, crVSplit = -15, crMultiDrag = -16,
                         crSQLWait = -17, crNo = -18, crAppStart = -19, crHelp = -20, crHandPoint = -21;

class TControl;
using TNotifyEvent = std::function<void(TComponent* Sender)>;
using TMouseEvent = std::function<void(TComponent* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TComponent* Sender, TShiftState Shift, int X, int Y)>;
using TKeyEvent = std::function<void(TComponent* Sender, Word& Key, TShiftState Shift)>;
using TKeyPressEvent = std::function<void(TComponent* Sender, char& Key)>;
using TDragOverEvent =
    std::function<void(TComponent* Sender, TControl* Source, int X, int Y, TDragState State, bool& Accept)>;
using TDragDropEvent = std::function<void(TComponent* Sender, TControl* Source, int X, int Y)>;
using TEndDragEvent = std::function<void(TComponent* Sender, TControl* Target, int X, int Y)>;

class TControl : public TComponent {
 public:
  // The form is the owner of every control on it; parent may be null for a control placed later.
  TControl(TComponent* owner, TWinControl* parent);
  ~TControl() override;

  QWidget* Widget() const;
  TWinControl* Parent() const { return parent_; }
  void SetParent(TWinControl* parent);
  // The form the control lies on (itself for a form); null when it lies on none.
  TForm* ParentForm() const;

  int Left() const;
  int Top() const;
  int Width() const;
  int Height() const;
  void SetLeft(int value);
  void SetTop(int value);
  void SetWidth(int value);
  void SetHeight(int value);
  virtual void SetBounds(int left, int top, int width, int height);
  TRect BoundsRect() const;
  virtual int ClientWidth() const;
  virtual int ClientHeight() const;
  TRect ClientRect() const { return TRect{0, 0, ClientWidth(), ClientHeight()}; }
  TPoint ClientToScreen(TPoint p) const;
  TPoint ScreenToClient(TPoint p) const;

  TAlign Align() const { return align_; }
  void SetAlign(TAlign align);
  bool Visible() const { return visible_; }
  virtual void SetVisible(bool visible);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Visible itself and on a visible parent.
  bool Showing() const;
  bool Enabled() const { return enabled_; }
  virtual void SetEnabled(bool enabled);

  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& hint);
  bool ShowHint() const;
  void SetShowHint(bool show);
  bool ParentShowHint() const { return parentShowHint_; }
  void SetParentShowHint(bool value);

  TColor Color() const { return color_; }
  void SetColor(TColor color);
  TFont& Font() { return font_; }
  const TFont& Font() const { return font_; }
  virtual std::string Caption() const { return caption_; }
  virtual void SetCaption(const std::string& caption);
  // Edits call their caption Text; both names reach the same value.
  std::string Text() const { return Caption(); }
  void SetText(const std::string& text) { SetCaption(text); }

  TPopupMenu* PopupMenu() const { return popupMenu_; }
  void SetPopupMenu(TPopupMenu* menu) { popupMenu_ = menu; }
  TCursor Cursor() const { return cursor_; }
  void SetCursor(TCursor cursor);
  TDragMode DragMode() const { return dragMode_; }
  void SetDragMode(TDragMode mode) { dragMode_ = mode; }
  // Starts dragging this control: at once, or once the mouse has moved threshold pixels (-1: 5).
  void BeginDrag(bool immediate, int threshold = -1);
  bool Dragging() const;
  void EndDrag(bool drop);

  void Invalidate();
  void Repaint();
  void BringToFront();

  virtual bool IsWindowed() const { return false; }
  // The class library's Click: fires OnClick. Buttons set their form's modal result first.
  virtual void Click();

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TNotifyEvent OnResize;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  TMouseMoveEvent OnMouseMove;
  TDragOverEvent OnDragOver;
  TDragDropEvent OnDragDrop;
  TEndDragEvent OnEndDrag;

  // The widget whose coordinates are the control's client coordinates (a scroll area's viewport).
  virtual QWidget* MouseWidget() const;
  // The widget whose geometry is the control's bounds (an MDI child's subwindow).
  virtual QWidget* FrameWidget() const;
  // The control a widget belongs to: the nearest widget up its parents that a control registered.
  static TControl* FromWidget(const QWidget* widget);

  // Event entry points; public so that tests and other controls drive them as the class library does.
  virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
  virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
  virtual void MouseMove(TShiftState shift, int x, int y);
  virtual void DblClick();
  virtual void DragOver(TControl* source, int x, int y, TDragState state, bool& accept);
  virtual void DragDrop(TControl* source, int x, int y);

 protected:
  // Takes the control's widget: the control deletes it, and registers it and extra parts (viewports,
  // inner editors) so their events reach the control.
  void Attach(QWidget* widget);
  void RegisterPart(QWidget* part);
  virtual void Resized();
  virtual void ApplyColor();
  virtual void ApplyFont();
  virtual void ApplyCaption();
  // Whether a mouse release inside the control is a click (buttons and check boxes click by signal).
  virtual bool ClicksOnMouseUp() const { return true; }
  void UpdateToolTip();
  void SetVisibleFlag(bool visible) { visible_ = visible; }
  // The parent for form and hint look-ups only, for widgets that another Qt widget places.
  void SetLogicalParent(TWinControl* parent) { parent_ = parent; }

 private:
  friend class ControlEvents;
  friend class TWinControl;
  void PlaceInParent();

  QWidget* widget_ = nullptr;
  ControlEvents* events_ = nullptr;
  TWinControl* parent_ = nullptr;
  TAlign align_ = TAlign::alNone;
  bool visible_ = true;
  bool enabled_ = true;
  std::string hint_;
  bool showHint_ = false;
  bool parentShowHint_ = true;
  TColor color_ = clBtnFace;
  TFont font_;
  std::string caption_;
  TPopupMenu* popupMenu_ = nullptr;
  TCursor cursor_ = crDefault;
  TDragMode dragMode_ = TDragMode::dmManual;
  TRect designBounds_{0, 0, 0, 0};
};

class TWinControl : public TControl {
 public:
  TWinControl(TComponent* owner, TWinControl* parent);
  ~TWinControl() override;

  bool IsWindowed() const override { return true; }
  bool TabStop() const { return tabStop_; }
  void SetTabStop(bool value);
  bool CanFocus() const;
  void SetFocus();
  bool Focused() const;

  int ControlCount() const { return static_cast<int>(controls_.size()); }
  TControl* Controls(int index) const { return controls_.at(static_cast<std::size_t>(index)); }
  // Places the aligned children in the client area.
  virtual void AlignControls();
  // Where children's widgets go.
  virtual QWidget* ClientWidget() const;
  // The widget that takes the keyboard focus.
  virtual QWidget* FocusWidget() const;

  TNotifyEvent OnEnter;
  TNotifyEvent OnExit;
  TKeyEvent OnKeyDown;
  TKeyEvent OnKeyUp;
  TKeyPressEvent OnKeyPress;

  // Keys reach the form first when it previews them, then the focused control. A zero key is consumed.
  virtual void KeyDown(Word& key, TShiftState shift);
  virtual void KeyUp(Word& key, TShiftState shift);
  virtual void KeyPress(char& key);
  // Active-control changes of the form call these; focus changes of Qt do not.
  virtual void DoEnter();
  virtual void DoExit();

 protected:
  // The area left after the aligned controls (an MDI frame puts its client there).
  virtual void PlaceClientRemainder(const TRect& remaining);
  // This control and the windowed ones inside it have come to lie on form.
  virtual void JoinForm(TForm& form);

 private:
  friend class TControl;
  // This control and the windowed ones inside it stop being known to form (active control, buttons).
  void LeaveForm(TForm& form);
  std::vector<TControl*> controls_;
  bool tabStop_ = true;
  bool aligning_ = false;
};

// The owner of a control placed on parent: the form that parent lies on, else parent itself.
TComponent* ControlOwner(TWinControl& parent);

// Runs f, handing any exception to the event exception sink (ui.h): every entry from Qt into program
// code goes through here.
void Guarded(TComponent* sender, const std::function<void()>& f) noexcept;

}  // namespace kavrin::classlib
