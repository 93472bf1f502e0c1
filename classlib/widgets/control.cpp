#include "classlib/widgets/control.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>
#include <algorithm>

#include "classlib/widgets/form.h"
#include "classlib/widgets/hint_text.h"
#include "classlib/widgets/menus.h"
#include "classlib/widgets/ui.h"

namespace kavrin::classlib {

namespace {

constexpr const char* kControlProperty = "kavrinControl";

TShiftState ShiftFromQt(Qt::KeyboardModifiers mods, Qt::MouseButtons buttons = Qt::NoButton) {
  TShiftState s;
  s.Shift = mods.testFlag(Qt::ShiftModifier);
  s.Ctrl = mods.testFlag(Qt::ControlModifier);
  s.Alt = mods.testFlag(Qt::AltModifier);
  s.Left = buttons.testFlag(Qt::LeftButton);
  s.Right = buttons.testFlag(Qt::RightButton);
  s.Middle = buttons.testFlag(Qt::MiddleButton);
  return s;
}

TMouseButton ButtonFromQt(Qt::MouseButton b) {
  if (b == Qt::RightButton) return TMouseButton::mbRight;
  if (b == Qt::MiddleButton) return TMouseButton::mbMiddle;
  return TMouseButton::mbLeft;
}

// One drag of the class library's own kind (inside the program, control to control).
struct DragSession {
  TControl* Source = nullptr;
  bool Active = false;
  QPoint Start;
  int Threshold = 5;
  TControl* Target = nullptr;
  bool Accepted = false;
};
DragSession g_drag;

bool g_replayingKey = false;

TPoint LocalOf(const TControl* c, const QPoint& global) {
  const QPoint p = c->MouseWidget()->mapFromGlobal(global);
  return TPoint{p.x(), p.y()};
}

void DragMoveTo(const QPoint& global) {
  TControl* source = g_drag.Source;
  TControl* target = TControl::FromWidget(QApplication::widgetAt(global));
  TDragState state = TDragState::dsDragMove;
  if (target != g_drag.Target) {
    if (TControl* old = g_drag.Target) {
      bool ignored = false;
      const TPoint p = LocalOf(old, global);
      Guarded(old, [&] { old->DragOver(source, p.X, p.Y, TDragState::dsDragLeave, ignored); });
    }
    g_drag.Target = target;
    state = TDragState::dsDragEnter;
  }
  g_drag.Accepted = false;
  if (target && target->Enabled()) {
    bool accept = false;
    const TPoint p = LocalOf(target, global);
    Guarded(target, [&] { target->DragOver(source, p.X, p.Y, state, accept); });
    g_drag.Accepted = accept;
  }
}

void FinishDrag(const QPoint& global, bool drop) {
  DragSession session = g_drag;
  g_drag = DragSession{};
  if (!session.Active) return;
  TControl* target = drop && session.Accepted ? session.Target : nullptr;
  TPoint p{0, 0};
  if (target) {
    p = LocalOf(target, global);
    Guarded(target, [&] { target->DragDrop(session.Source, p.X, p.Y); });
  }
  if (session.Source->OnEndDrag) {
    Guarded(session.Source, [&] { session.Source->OnEndDrag(session.Source, target, p.X, p.Y); });
  }
}

}  // namespace

void Guarded(TComponent* sender, const std::function<void()>& f) noexcept {
  try {
    f();
  } catch (...) {
    HandleEventException(sender);
  }
}

TComponent* ControlOwner(TWinControl& parent) {
  if (TForm* form = parent.ParentForm()) return form;
  return &parent;
}

// Routes the Qt events of one control's widgets to it.
class ControlEvents : public QObject {
 public:
  explicit ControlEvents(TControl* control) : control_(control) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    bool consumed = false;
    Guarded(control_, [&] { consumed = Handle(watched, event); });
    return consumed;
  }

 private:
  bool Handle(QObject* watched, QEvent* event) {
    switch (event->type()) {
      case QEvent::KeyPress:
      case QEvent::KeyRelease: return HandleKey(watched, static_cast<QKeyEvent*>(event));
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseMove: return HandleMouse(static_cast<QMouseEvent*>(event));
      case QEvent::ContextMenu: {
        TControl* c = control_;
        while (c && !c->PopupMenu()) c = c->Parent();
        if (!c) return false;
        const QPoint g = static_cast<QContextMenuEvent*>(event)->globalPos();
        c->PopupMenu()->SetPopupComponent(c);
        c->PopupMenu()->Popup(g.x(), g.y());
        return true;
      }
      case QEvent::Resize:
        if (auto* win = dynamic_cast<TWinControl*>(control_); win && watched == win->ClientWidget()) {
          win->AlignControls();
        }
        if (watched == control_->Widget()) control_->Resized();
        return false;
      default: return false;
    }
  }

  bool HandleKey(QObject* watched, QKeyEvent* key) {
    if (g_replayingKey) return false;
    auto* win = dynamic_cast<TWinControl*>(control_);
    if (!win || watched != QApplication::focusWidget()) return false;
    if (TControl::FromWidget(static_cast<QWidget*>(watched)) != control_) return false;
    if (key->key() == Qt::Key_Escape && g_drag.Source) {
      FinishDrag(QCursor::pos(), false);
      return true;
    }
    TShiftState shift = ShiftFromQt(key->modifiers());
    Word vk = VirtualKeyFromQtKey(key->key(), key->modifiers().testFlag(Qt::KeypadModifier));
    if (key->key() == Qt::Key_Backtab) shift.Shift = true;
    TForm* form = win->ParentForm();
    const bool preview = form && form != win && form->KeyPreview();
    const bool down = key->type() == QEvent::KeyPress;
    if (vk != 0) {
      if (preview) down ? form->KeyDown(vk, shift) : form->KeyUp(vk, shift);
      if (vk == 0) return true;
      down ? win->KeyDown(vk, shift) : win->KeyUp(vk, shift);
      if (vk == 0) return true;
      if (down && form && shift.NoKeyModifier() && form->DialogKey(vk)) return true;
    }
    if (!down) return false;
    const QString text = key->text();
    if (text.size() != 1 || text[0].unicode() > 0xFF) return false;
    // Tab reaches KeyPress only for controls that take it as text.
    char ch = static_cast<char>(text[0].unicode());
    const char original = ch;
    if (preview) form->KeyPress(ch);
    if (ch != 0) win->KeyPress(ch);
    if (ch == 0) return true;
    if (ch != original) {
      QKeyEvent replacement(QEvent::KeyPress, key->key(), key->modifiers(),
                            QString(QChar(static_cast<unsigned char>(ch))));
      g_replayingKey = true;
      QCoreApplication::sendEvent(watched, &replacement);
      g_replayingKey = false;
      return true;
    }
    return false;
  }

  bool HandleMouse(QMouseEvent* mouse) {
    const QPoint global = mouse->globalPosition().toPoint();
    const TPoint p = LocalOf(control_, global);
    TShiftState shift = ShiftFromQt(mouse->modifiers(), mouse->buttons());
    switch (mouse->type()) {
      case QEvent::MouseButtonPress: {
        if (mouse->button() == Qt::LeftButton) shift.Left = true;
        control_->MouseDown(ButtonFromQt(mouse->button()), shift, p.X, p.Y);
        if (control_->DragMode() == TDragMode::dmAutomatic && mouse->button() == Qt::LeftButton && !g_drag.Source) {
          control_->BeginDrag(false);
        }
        return false;
      }
      case QEvent::MouseButtonDblClick:
        shift.Double = true;
        control_->DblClick();
        control_->MouseDown(ButtonFromQt(mouse->button()), shift, p.X, p.Y);
        return false;
      case QEvent::MouseMove:
        if (g_drag.Source == control_) {
          if (!g_drag.Active && (global - g_drag.Start).manhattanLength() >= g_drag.Threshold) g_drag.Active = true;
          if (g_drag.Active) {
            DragMoveTo(global);
            return true;
          }
        }
        control_->MouseMove(shift, p.X, p.Y);
        return false;
      case QEvent::MouseButtonRelease: {
        if (g_drag.Source == control_) {
          const bool wasActive = g_drag.Active;
          FinishDrag(global, true);
          if (wasActive) return true;
        }
        QPointer<QWidget> alive = control_->Widget();
        control_->MouseUp(ButtonFromQt(mouse->button()), shift, p.X, p.Y);
        if (alive && control_->ClicksOnMouseUp() && mouse->button() == Qt::LeftButton &&
            control_->ClientRect().Contains(p)) {
          control_->Click();
        }
        return false;
      }
      default: return false;
    }
  }

  TControl* control_;
};

TControl::TControl(TComponent* owner, TWinControl* parent) : TComponent(owner), parent_(parent) {
  font_.OnChange = [this] { ApplyFont(); };
}

TControl::~TControl() {
  if (g_drag.Source == this) g_drag = DragSession{};
  if (g_drag.Target == this) g_drag.Target = nullptr;
  if (parent_) {
    auto& list = parent_->controls_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  delete events_;
  events_ = nullptr;
  if (widget_) {
    widget_->setProperty(kControlProperty, QVariant());
    QWidget* w = widget_;
    widget_ = nullptr;
    delete w;
  }
}

QWidget* TControl::Widget() const { return widget_; }

void TControl::Attach(QWidget* widget) {
  widget_ = widget;
  events_ = new ControlEvents(this);
  // Qt may delete the widget with its parent before the control goes.
  QObject::connect(widget, &QObject::destroyed, events_, [this] { widget_ = nullptr; });
  RegisterPart(widget);
  if (designBounds_.Width() == 0 && designBounds_.Height() == 0) {
    designBounds_ = Bounds(0, 0, widget->width(), widget->height());
  }
  if (parent_) {
    parent_->controls_.push_back(this);
    PlaceInParent();
  }
  ApplyFont();
}

void TControl::RegisterPart(QWidget* part) {
  part->setProperty(kControlProperty, QVariant::fromValue(reinterpret_cast<quintptr>(this)));
  part->installEventFilter(events_);
}

void TControl::PlaceInParent() {
  if (!widget_) return;
  QWidget* host = parent_ ? parent_->ClientWidget() : nullptr;
  widget_->setParent(host);
  widget_->setGeometry(designBounds_.Left, designBounds_.Top, designBounds_.Width(), designBounds_.Height());
  if (host) widget_->setVisible(visible_);
  if (parent_) parent_->AlignControls();
}

TControl* TControl::FromWidget(const QWidget* widget) {
  for (const QWidget* w = widget; w; w = w->parentWidget()) {
    const QVariant v = w->property(kControlProperty);
    if (v.isValid()) return reinterpret_cast<TControl*>(v.value<quintptr>());
  }
  return nullptr;
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  auto* win = dynamic_cast<TWinControl*>(this);
  TForm* oldForm = ParentForm();
  if (win && oldForm && oldForm != this && (!parent || parent->ParentForm() != oldForm)) win->LeaveForm(*oldForm);
  if (parent_) {
    auto& list = parent_->controls_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    parent_->AlignControls();
  }
  designBounds_ = BoundsRect();
  parent_ = parent;
  if (parent_) parent_->controls_.push_back(this);
  PlaceInParent();
  // Default and cancel buttons answer Enter and Esc on the form they now lie on.
  if (TForm* newForm = ParentForm(); win && newForm && newForm != this && newForm != oldForm) win->JoinForm(*newForm);
}

TForm* TControl::ParentForm() const {
  for (const TControl* c = this; c; c = c->parent_) {
    if (auto* f = dynamic_cast<const TForm*>(c)) return const_cast<TForm*>(f);
  }
  return nullptr;
}

int TControl::Left() const { return FrameWidget() ? FrameWidget()->x() : designBounds_.Left; }
int TControl::Top() const { return FrameWidget() ? FrameWidget()->y() : designBounds_.Top; }
int TControl::Width() const { return FrameWidget() ? FrameWidget()->width() : designBounds_.Width(); }
int TControl::Height() const { return FrameWidget() ? FrameWidget()->height() : designBounds_.Height(); }
void TControl::SetLeft(int value) { SetBounds(value, Top(), Width(), Height()); }
void TControl::SetTop(int value) { SetBounds(Left(), value, Width(), Height()); }
void TControl::SetWidth(int value) { SetBounds(Left(), Top(), value, Height()); }
void TControl::SetHeight(int value) { SetBounds(Left(), Top(), Width(), value); }

void TControl::SetBounds(int left, int top, int width, int height) {
  designBounds_ = Bounds(left, top, std::max(0, width), std::max(0, height));
  if (QWidget* frame = FrameWidget()) frame->setGeometry(left, top, std::max(0, width), std::max(0, height));
  if (parent_ && align_ != TAlign::alNone) parent_->AlignControls();
}

TRect TControl::BoundsRect() const { return Bounds(Left(), Top(), Width(), Height()); }
int TControl::ClientWidth() const { return MouseWidget() ? MouseWidget()->width() : Width(); }
int TControl::ClientHeight() const { return MouseWidget() ? MouseWidget()->height() : Height(); }

TPoint TControl::ClientToScreen(TPoint p) const {
  const QPoint g = MouseWidget()->mapToGlobal(QPoint(p.X, p.Y));
  return TPoint{g.x(), g.y()};
}

TPoint TControl::ScreenToClient(TPoint p) const {
  const QPoint l = MouseWidget()->mapFromGlobal(QPoint(p.X, p.Y));
  return TPoint{l.x(), l.y()};
}

void TControl::SetAlign(TAlign align) {
  if (align_ == align) return;
  align_ = align;
  if (parent_) parent_->AlignControls();
}

void TControl::SetVisible(bool visible) {
  visible_ = visible;
  if (widget_ && widget_->parentWidget()) widget_->setVisible(visible);
  if (parent_) parent_->AlignControls();
}

bool TControl::Showing() const { return widget_ && widget_->isVisible(); }

void TControl::SetEnabled(bool enabled) {
  enabled_ = enabled;
  if (widget_) widget_->setEnabled(enabled);
}

void TControl::SetHint(const std::string& hint) {
  hint_ = hint;
  UpdateToolTip();
}

bool TControl::ShowHint() const {
  if (parentShowHint_ && parent_) return parent_->ShowHint();
  return showHint_;
}

void TControl::SetShowHint(bool show) {
  showHint_ = show;
  parentShowHint_ = false;
  UpdateToolTip();
  if (auto* win = dynamic_cast<TWinControl*>(this)) {
    for (int i = 0; i < win->ControlCount(); ++i) win->Controls(i)->UpdateToolTip();
  }
}

void TControl::SetParentShowHint(bool value) {
  parentShowHint_ = value;
  UpdateToolTip();
}

void TControl::UpdateToolTip() {
  if (!widget_) return;
  widget_->setToolTip(ShowHint() ? QString::fromStdString(GetShortHint(hint_)) : QString());
}

void TControl::SetColor(TColor color) {
  color_ = color;
  ApplyColor();
}

void TControl::ApplyColor() {
  if (!widget_) return;
  QPalette pal = widget_->palette();
  pal.setColor(QPalette::Window, ToQColor(color_));
  widget_->setPalette(pal);
  widget_->setAutoFillBackground(true);
}

void TControl::ApplyFont() {
  if (!widget_) return;
  widget_->setFont(font_.ToQFont());
  QPalette pal = widget_->palette();
  // The disabled group keeps the style's grey text, so a disabled control looks disabled.
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    pal.setColor(group, QPalette::WindowText, ToQColor(font_.Color()));
    pal.setColor(group, QPalette::Text, ToQColor(font_.Color()));
    pal.setColor(group, QPalette::ButtonText, ToQColor(font_.Color()));
  }
  widget_->setPalette(pal);
}

void TControl::SetCaption(const std::string& caption) {
  caption_ = caption;
  ApplyCaption();
}

void TControl::ApplyCaption() {}

void TControl::SetCursor(TCursor cursor) {
  cursor_ = cursor;
  if (!widget_) return;
  switch (cursor) {
    case crHourGlass: widget_->setCursor(Qt::WaitCursor); break;
    case crIBeam: widget_->setCursor(Qt::IBeamCursor); break;
    case crHandPoint: widget_->setCursor(Qt::PointingHandCursor); break;
    case crCross: widget_->setCursor(Qt::CrossCursor); break;
    case crDrag: widget_->setCursor(Qt::DragMoveCursor); break;
    case crNoDrop:
    case crNo: widget_->setCursor(Qt::ForbiddenCursor); break;
    case crSizeWE:
    case crHSplit: widget_->setCursor(Qt::SizeHorCursor); break;
    case crSizeNS:
    case crVSplit: widget_->setCursor(Qt::SizeVerCursor); break;
    default: widget_->unsetCursor(); break;
  }
}

void TControl::BeginDrag(bool immediate, int threshold) {
  g_drag = DragSession{};
  g_drag.Source = this;
  g_drag.Start = QCursor::pos();
  g_drag.Threshold = threshold < 0 ? 5 : threshold;
  g_drag.Active = immediate;
  if (immediate) DragMoveTo(QCursor::pos());
}

bool TControl::Dragging() const { return g_drag.Source == this && g_drag.Active; }

void TControl::EndDrag(bool drop) {
  if (g_drag.Source == this) FinishDrag(QCursor::pos(), drop);
}

void TControl::Invalidate() {
  if (widget_) MouseWidget()->update();
}
void TControl::Repaint() {
  if (widget_) MouseWidget()->repaint();
}
void TControl::BringToFront() {
  if (widget_) widget_->raise();
}

void TControl::Click() {
  if (OnClick) OnClick(this);
}

QWidget* TControl::MouseWidget() const { return widget_; }
QWidget* TControl::FrameWidget() const { return widget_; }

void TControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
}
void TControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseUp) OnMouseUp(this, button, shift, x, y);
}
void TControl::MouseMove(TShiftState shift, int x, int y) {
  if (OnMouseMove) OnMouseMove(this, shift, x, y);
}
void TControl::DblClick() {
  if (OnDblClick) OnDblClick(this);
}

void TControl::DragOver(TControl* source, int x, int y, TDragState state, bool& accept) {
  accept = false;
  if (OnDragOver) {
    accept = true;
    OnDragOver(this, source, x, y, state, accept);
  }
}

void TControl::DragDrop(TControl* source, int x, int y) {
  if (OnDragDrop) OnDragDrop(this, source, x, y);
}

void TControl::Resized() {
  if (OnResize) OnResize(this);
}

TWinControl::TWinControl(TComponent* owner, TWinControl* parent) : TControl(owner, parent) {}

TWinControl::~TWinControl() {
  if (TForm* form = ParentForm(); form && form != static_cast<TControl*>(this)) LeaveForm(*form);
  for (TControl* c : controls_) c->parent_ = nullptr;
}

void TWinControl::JoinForm(TForm& form) {
  for (TControl* c : controls_) {
    if (auto* win = dynamic_cast<TWinControl*>(c)) win->JoinForm(form);
  }
}

void TWinControl::LeaveForm(TForm& form) {
  form.ControlGone(this);
  for (TControl* c : controls_) {
    if (auto* win = dynamic_cast<TWinControl*>(c)) win->LeaveForm(form);
  }
}

void TWinControl::SetTabStop(bool value) {
  tabStop_ = value;
  if (QWidget* w = FocusWidget()) w->setFocusPolicy(value ? Qt::StrongFocus : Qt::ClickFocus);
}

bool TWinControl::CanFocus() const {
  if (!Widget() || !Enabled() || !Visible()) return false;
  for (const TControl* c = Parent(); c; c = c->Parent()) {
    if (!c->Enabled() || !c->Visible()) return false;
  }
  return true;
}

void TWinControl::SetFocus() {
  if (QWidget* w = FocusWidget()) {
    if (TForm* form = ParentForm(); form && form != this) form->SetActiveControl(this);
    w->setFocus(Qt::OtherFocusReason);
  }
}

bool TWinControl::Focused() const {
  QWidget* w = FocusWidget();
  return w && QApplication::focusWidget() == w;
}

QWidget* TWinControl::ClientWidget() const { return Widget(); }
QWidget* TWinControl::FocusWidget() const { return Widget(); }

void TWinControl::AlignControls() {
  if (aligning_ || !ClientWidget()) return;
  aligning_ = true;
  std::vector<AlignItem> items;
  std::vector<TControl*> aligned;
  for (TControl* c : controls_) {
    if (c->Align() == TAlign::alNone) continue;
    items.push_back(AlignItem{c->Align(), c->designBounds_, c->Visible()});
    aligned.push_back(c);
  }
  const QWidget* client = ClientWidget();
  TRect remaining;
  const auto placed = kavrin::classlib::AlignControls(TRect{0, 0, client->width(), client->height()}, items, remaining);
  for (std::size_t i = 0; i < aligned.size(); ++i) {
    if (!aligned[i]->Visible() || !aligned[i]->Widget()) continue;
    const TRect& r = placed[i];
    aligned[i]->Widget()->setGeometry(r.Left, r.Top, r.Width(), r.Height());
    // The size along the aligned edge stays what the program set; the other follows the parent.
    auto& d = aligned[i]->designBounds_;
    if (items[i].Align == TAlign::alTop || items[i].Align == TAlign::alBottom) {
      d = Bounds(r.Left, r.Top, r.Width(), d.Height());
    } else if (items[i].Align == TAlign::alLeft || items[i].Align == TAlign::alRight) {
      d = Bounds(r.Left, r.Top, d.Width(), r.Height());
    } else {
      d = r;
    }
  }
  PlaceClientRemainder(remaining);
  aligning_ = false;
}

void TWinControl::PlaceClientRemainder(const TRect&) {}

void TWinControl::KeyDown(Word& key, TShiftState shift) {
  if (OnKeyDown) OnKeyDown(this, key, shift);
}
void TWinControl::KeyUp(Word& key, TShiftState shift) {
  if (OnKeyUp) OnKeyUp(this, key, shift);
}
void TWinControl::KeyPress(char& key) {
  if (OnKeyPress) OnKeyPress(this, key);
}
void TWinControl::DoEnter() {
  if (OnEnter) OnEnter(this);
}
void TWinControl::DoExit() {
  if (OnExit) OnExit(this);
}

}  // namespace kavrin::classlib
