#include "classlib/widgets/screen.h"

#include <QApplication>
#include <QCursor>
#include <QScreen>
#include <algorithm>
#include <stdexcept>

#include "classlib/widgets/application.h"
#include "classlib/widgets/form.h"

namespace kavrin::classlib {

namespace {
TScreen* g_screen = nullptr;

Qt::CursorShape ShapeOf(TCursor cursor) {
  switch (cursor) {
    case crHourGlass:
    case crSQLWait: return Qt::WaitCursor;
    case crAppStart: return Qt::BusyCursor;
    case crIBeam: return Qt::IBeamCursor;
    case crCross: return Qt::CrossCursor;
    case crHandPoint: return Qt::PointingHandCursor;
    case crDrag:
    case crMultiDrag: return Qt::DragMoveCursor;
    case crNoDrop:
    case crNo: return Qt::ForbiddenCursor;
    case crSizeWE:
    case crHSplit: return Qt::SizeHorCursor;
    case crSizeNS:
    case crVSplit: return Qt::SizeVerCursor;
    case crHelp: return Qt::WhatsThisCursor;
    default: return Qt::ArrowCursor;
  }
}
}  // namespace

TScreen::TScreen() { g_screen = this; }

TScreen::~TScreen() {
  SetCursor(crDefault);
  if (g_screen == this) g_screen = nullptr;
}

TScreen* TScreen::Instance() { return g_screen; }

TScreen& Screen() {
  if (!g_screen) throw std::logic_error("no screen object: create the application first");
  return *g_screen;
}

void TScreen::SetCursor(TCursor cursor) {
  cursor_ = cursor;
  if (!qApp) return;
  if (cursor == crDefault) {
    while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
    return;
  }
  if (QApplication::overrideCursor()) {
    QApplication::changeOverrideCursor(QCursor(ShapeOf(cursor)));
  } else {
    QApplication::setOverrideCursor(QCursor(ShapeOf(cursor)));
  }
}

TWinControl* TScreen::ActiveControl() const { return activeForm_ ? activeForm_->ActiveControl() : nullptr; }

int TScreen::Width() const {
  QScreen* s = QGuiApplication::primaryScreen();
  return s ? s->geometry().width() : 0;
}

int TScreen::Height() const {
  QScreen* s = QGuiApplication::primaryScreen();
  return s ? s->geometry().height() : 0;
}

int TScreen::PixelsPerInch() const {
  QScreen* s = QGuiApplication::primaryScreen();
  return s ? static_cast<int>(s->logicalDotsPerInch() + 0.5) : 96;
}

void TScreen::FormAdded(TForm* form) {
  if (std::find(forms_.begin(), forms_.end(), form) == forms_.end()) forms_.push_back(form);
}

void TScreen::FormGone(TForm* form) {
  forms_.erase(std::remove(forms_.begin(), forms_.end(), form), forms_.end());
  if (activeForm_ == form) {
    activeForm_ = nullptr;
    // Called from the form's destructor: the hooks' exceptions go to the handler, not through it.
    Guarded(nullptr, [this] { ActiveFormMayHaveChanged(false); });
  }
}

void TScreen::ActiveFormMayHaveChanged(bool mdiChildChanged) {
  TForm* now = nullptr;
  if (QWidget* w = QApplication::activeWindow()) {
    // The top-level form of the active window, skipping MDI children (their frame is the active form).
    for (TControl* c = TControl::FromWidget(w); c; c = c->Parent()) {
      if (auto* f = dynamic_cast<TForm*>(c); f && !f->IsMDIChild()) {
        now = f;
        break;
      }
    }
  }
  if (now && std::find(forms_.begin(), forms_.end(), now) == forms_.end()) now = nullptr;
  if (now == activeForm_ && !mdiChildChanged) return;
  const bool formChanged = now != activeForm_;
  activeForm_ = now;
  if (formChanged && now && now->OnActivate) now->OnActivate(now);
  if (OnActiveFormChange) OnActiveFormChange(now);
}

}  // namespace kavrin::classlib
