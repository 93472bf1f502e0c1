#include "classlib/widgets/form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>

#include "classlib/widgets/application.h"
#include "classlib/widgets/menus.h"
#include "classlib/widgets/screen.h"

namespace kavrin::classlib {

namespace {
constexpr const char* kFormProperty = "kavrinForm";
constexpr int kBusyFreeRetryMs = 20;
}  // namespace

// The top-level window of a form (or the widget inside an MDI child's subwindow).
class FormWindow : public QWidget {
 public:
  explicit FormWindow(TForm* form) : form_(form) {}

 protected:
  void closeEvent(QCloseEvent* event) override {
    // The window system's close box: the form decides, and hides or frees itself.
    event->ignore();
    Guarded(form_, [this] { form_->Close(); });
  }

 private:
  TForm* form_;
};

// Close requests on an MDI child's subwindow go to the form.
class SubWindowEvents : public QObject {
 public:
  explicit SubWindowEvents(TForm* form) : form_(form) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::Close) return false;
    event->ignore();
    Guarded(form_, [this] { form_->Close(); });
    return true;
  }

 private:
  TForm* form_;
};

TForm::TForm(TComponent* owner) : TWinControl(owner, nullptr) {
  window_ = new FormWindow(this);
  layout_ = new QVBoxLayout(window_);
  layout_->setContentsMargins(0, 0, 0, 0);
  layout_->setSpacing(0);
  client_ = new QWidget(window_);
  layout_->addWidget(client_);
  SetVisibleFlag(false);
  window_->resize(320, 240);
  Attach(window_);
  RegisterPart(client_);
  ApplyColor();
  if (TScreen* screen = TScreen::Instance()) screen->FormAdded(this);
}

TForm::~TForm() {
  if (TApplication* app = TApplication::Instance(); app && app->mainForm_ == this) app->mainForm_ = nullptr;
  if (mdiFrame_) {
    auto& list = mdiFrame_->mdiChildren_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  for (TForm* child : mdiChildren_) child->mdiFrame_ = nullptr;
  if (subWindow_) {
    subWindow_->setWidget(nullptr);
    delete subWindow_;
    subWindow_ = nullptr;
  }
  if (TScreen* screen = TScreen::Instance()) screen->FormGone(this);
}

void TForm::AfterConstruction() {
  Guarded(this, [this] {
    if (OnCreate) OnCreate(this);
  });
  if (IsMDIChild()) Show();
}

void TForm::BeforeDestruction() {
  if (Destroying()) return;
  TComponent::BeforeDestruction();
  if (modalLoop_) modalLoop_->quit();
  Guarded(this, [this] {
    if (OnDestroy) OnDestroy(this);
  });
  DestroyComponents();
}

void TForm::SetFormStyle(TFormStyle style) {
  if (style == formStyle_) return;
  if (style == TFormStyle::fsMDIChild) {
    TApplication* app = TApplication::Instance();
    TForm* frame = app ? app->MainForm() : nullptr;
    if (!frame || !frame->mdiArea_) throw EInvalidOperation("Cannot create form. No MDI forms are currently active");
    const QSize size = window_->size();
    formStyle_ = style;
    mdiFrame_ = frame;
    subWindow_ = new QMdiSubWindow;
    subWindow_->setProperty(kFormProperty, QVariant::fromValue(reinterpret_cast<quintptr>(this)));
    subWindow_->setWidget(window_);
    auto* closeFilter = new SubWindowEvents(this);
    closeFilter->setParent(subWindow_);
    subWindow_->installEventFilter(closeFilter);
    subWindow_->setWindowTitle(QString::fromStdString(Caption()));
    frame->mdiArea_->addSubWindow(subWindow_);
    subWindow_->resize(size);
    frame->mdiChildren_.push_back(this);
    return;
  }
  formStyle_ = style;
  if (style == TFormStyle::fsMDIForm && !mdiArea_) {
    mdiArea_ = new QMdiArea(client_);
    mdiArea_->setBackground(ToQColor(Color()));
    mdiArea_->show();
    QObject::connect(mdiArea_, &QMdiArea::subWindowActivated, mdiArea_, [this](QMdiSubWindow* window) {
      Guarded(this, [window] {
        if (TForm* child = FromSubWindow(window); child && child->OnActivate) child->OnActivate(child);
        if (TScreen* screen = TScreen::Instance()) screen->ActiveFormMayHaveChanged(true);
      });
    });
    AlignControls();
  }
  ApplyWindowFlags();
}

void TForm::SetBorderStyle(TFormBorderStyle style) {
  borderStyle_ = style;
  ApplyWindowFlags();
}

void TForm::SetBorderIcons(TBorderIcons icons) {
  borderIcons_ = icons;
  ApplyWindowFlags();
}

void TForm::ApplyWindowFlags() {
  if (IsMDIChild() || !window_ || window_->parentWidget()) return;
  Qt::WindowFlags flags = Qt::Window;
  switch (borderStyle_) {
    case TFormBorderStyle::bsNone: flags |= Qt::FramelessWindowHint; break;
    case TFormBorderStyle::bsDialog: flags = Qt::Dialog; break;
    case TFormBorderStyle::bsToolWindow:
    case TFormBorderStyle::bsSizeToolWin: flags = Qt::Tool; break;
    default: break;
  }
  if (borderStyle_ != TFormBorderStyle::bsNone) {
    flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (borderIcons_.Has(TBorderIcon::biSystemMenu)) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    const bool dialogLike =
        borderStyle_ == TFormBorderStyle::bsDialog || borderStyle_ == TFormBorderStyle::bsToolWindow;
    if (!dialogLike && borderIcons_.Has(TBorderIcon::biMinimize)) flags |= Qt::WindowMinimizeButtonHint;
    if (!dialogLike && borderIcons_.Has(TBorderIcon::biMaximize)) flags |= Qt::WindowMaximizeButtonHint;
    if (borderIcons_.Has(TBorderIcon::biHelp)) flags |= Qt::WindowContextHelpButtonHint;
  }
  if (formStyle_ == TFormStyle::fsStayOnTop) flags |= Qt::WindowStaysOnTopHint;
  const bool wasVisible = window_->isVisible();
  const QRect geometry = window_->geometry();
  window_->setWindowFlags(flags);
  window_->setGeometry(geometry);
  const bool fixed = borderStyle_ != TFormBorderStyle::bsSizeable && borderStyle_ != TFormBorderStyle::bsSizeToolWin &&
                     borderStyle_ != TFormBorderStyle::bsNone;
  if (fixed) {
    window_->setFixedSize(geometry.size());
  } else {
    window_->setMinimumSize(0, 0);
    window_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  }
  if (wasVisible) window_->show();
}

TWindowState TForm::WindowState() const {
  const QWidget* w = FrameWidget();
  if (!w) return pendingState_;
  if (!w->isVisible() && !IsMDIChild()) return pendingState_;
  if (w->isMinimized()) return TWindowState::wsMinimized;
  if (w->isMaximized()) return TWindowState::wsMaximized;
  return TWindowState::wsNormal;
}

void TForm::SetWindowState(TWindowState state) {
  pendingState_ = state;
  QWidget* w = FrameWidget();
  if (!w || (!w->isVisible() && !IsMDIChild())) return;
  switch (state) {
    case TWindowState::wsMinimized: w->showMinimized(); break;
    case TWindowState::wsMaximized: w->showMaximized(); break;
    case TWindowState::wsNormal: w->showNormal(); break;
  }
}

void TForm::SetIcon(const TIcon& icon) {
  icon_ = icon;
  window_->setWindowIcon(icon.Icon());
  if (subWindow_) subWindow_->setWindowIcon(icon.Icon());
}

void TForm::SetMenu(TMainMenu* menu) {
  menu_ = menu;
  layout_->setMenuBar(menu ? menu->MenuBar() : nullptr);
}

void TForm::SetActiveControl(TWinControl* control) {
  if (control == activeControl_) return;
  TWinControl* old = activeControl_;
  activeControl_ = control;
  if (old) Guarded(old, [old] { old->DoExit(); });
  if (control && activeControl_ == control) Guarded(control, [control] { control->DoEnter(); });
}

void TForm::ControlGone(const TWinControl* control) {
  if (activeControl_ == control) activeControl_ = nullptr;
  std::erase(defaultButtons_, control);
  std::erase(cancelButtons_, control);
}

void TForm::SetDialogButton(TWinControl* button, bool isDefault, bool isCancel) {
  std::erase(defaultButtons_, button);
  std::erase(cancelButtons_, button);
  if (isDefault) defaultButtons_.push_back(button);
  if (isCancel) cancelButtons_.push_back(button);
}

void TForm::SetModalResult(TModalResult result) {
  modalResult_ = result;
  if (modal_ && result != mrNone && !deferClose_) CheckModalClose();
}

void TForm::ButtonPressed(TModalResult result, const std::function<void()>& click) {
  const bool wasDeferred = deferClose_;
  deferClose_ = true;
  if (result != mrNone) modalResult_ = result;
  try {
    click();
  } catch (...) {
    deferClose_ = wasDeferred;
    throw;
  }
  deferClose_ = wasDeferred;
  if (!deferClose_) CheckModalClose();
}

bool TForm::DialogKey(Word key) {
  if (key != VK_ESCAPE && key != VK_RETURN) return false;
  const auto& buttons = key == VK_ESCAPE ? cancelButtons_ : defaultButtons_;
  for (TWinControl* button : buttons) {
    if (!button->Showing() || !button->Enabled()) continue;
    button->Click();
    return true;
  }
  return false;
}

void TForm::CheckModalClose() {
  if (!modal_ || modalResult_ == mrNone) return;
  bool ok = false;
  Guarded(this, [&] {
    ok = CloseQuery();
    if (ok) {
      TCloseAction action = TCloseAction::caHide;
      ok = DoClose(action);
      if (action == TCloseAction::caFree) releasing_ = true;
    }
  });
  if (!ok) {
    modalResult_ = mrNone;
    return;
  }
  if (modalLoop_) modalLoop_->quit();
}

bool TForm::DoClose(TCloseAction& action) {
  if (OnClose) OnClose(this, action);
  return action != TCloseAction::caNone;
}

void TForm::SetVisible(bool visible) {
  if (IsMDIChild()) {
    // An MDI child stays visible; showing brings it to the front.
    if (!visible) throw EInvalidOperation("Cannot hide an MDI Child Form");
    const bool first = !shownOnce_;
    SetVisibleFlag(true);
    if (first) {
      shownOnce_ = true;
      Guarded(this, [this] {
        if (OnShow) OnShow(this);
      });
    }
    subWindow_->show();
    SetWindowState(pendingState_);
    mdiFrame_->mdiArea_->setActiveSubWindow(subWindow_);
    if (activeControl_) activeControl_->SetFocus();
    return;
  }
  if (visible == Visible() && visible == window_->isVisible()) return;
  SetVisibleFlag(visible);
  if (visible) {
    Guarded(this, [this] {
      if (OnShow) OnShow(this);
    });
    if (!Visible()) return;
    FirstShowPlacement();
    switch (pendingState_) {
      case TWindowState::wsMinimized: window_->showMinimized(); break;
      case TWindowState::wsMaximized: window_->showMaximized(); break;
      default: window_->show(); break;
    }
    window_->raise();
    window_->activateWindow();
    if (activeControl_) activeControl_->SetFocus();
  } else {
    Guarded(this, [this] {
      if (OnHide) OnHide(this);
    });
    window_->hide();
  }
  if (TScreen* screen = TScreen::Instance()) screen->ActiveFormMayHaveChanged(false);
}

void TForm::FirstShowPlacement() {
  if (shownOnce_) return;
  shownOnce_ = true;
  ApplyWindowFlags();
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->geometry();
  QRect g = window_->geometry();
  TForm* reference = nullptr;
  if (position_ == TPosition::poMainFormCenter || position_ == TPosition::poOwnerFormCenter) {
    reference = position_ == TPosition::poOwnerFormCenter ? dynamic_cast<TForm*>(Owner()) : nullptr;
    if (!reference && TApplication::Instance()) reference = TApplication::Instance()->MainForm();
    if (reference == this || (reference && !reference->Showing())) reference = nullptr;
  }
  if (position_ == TPosition::poScreenCenter ||
      ((position_ == TPosition::poMainFormCenter || position_ == TPosition::poOwnerFormCenter) && !reference)) {
    g.moveTopLeft(QPoint(area.x() + (area.width() - g.width()) / 2, area.y() + (area.height() - g.height()) / 2));
    window_->setGeometry(g);
  } else if (reference) {
    const QRect r = reference->window_->geometry();
    g.moveTopLeft(QPoint(r.x() + (r.width() - g.width()) / 2, r.y() + (r.height() - g.height()) / 2));
    window_->setGeometry(g);
  }
}

TModalResult TForm::ShowModal() {
  if (modal_ || IsMDIChild() || (Visible() && window_->isVisible())) {
    throw EInvalidOperation("Cannot make a visible window modal");
  }
  return CurrentUi().ShowModal(*this);
}

void TForm::BeginModal() {
  modal_ = true;
  modalResult_ = mrNone;
  window_->setWindowModality(Qt::ApplicationModal);
  Show();
}

TModalResult TForm::RunModalLoop() {
  QEventLoop loop;
  modalLoop_ = &loop;
  while (modalResult_ == mrNone && !Destroying()) {
    TApplication* app = TApplication::Instance();
    if (app && app->Terminated()) {
      modalResult_ = mrCancel;
      break;
    }
    loop.exec();
  }
  modalLoop_ = nullptr;
  return modalResult_;
}

TModalResult TForm::EndModal() {
  const TModalResult result = modalResult_;
  modal_ = false;
  if (!Destroying()) {
    Hide();
    window_->setWindowModality(Qt::NonModal);
  }
  if (releasing_) Release();
  return result;
}

void TForm::Close() {
  if (modal_) {
    SetModalResult(mrCancel);
    return;
  }
  // Code further down the stack (a lock wait's message handlers run above the engine call) may be
  // using what the form owns; the close can be asked again later.
  if (TApplication* app = TApplication::Instance(); app && app->Busy()) return;
  if (!CloseQuery()) return;
  TCloseAction action =
      IsMDIChild() ? (borderIcons_.Has(TBorderIcon::biMinimize) ? TCloseAction::caMinimize : TCloseAction::caNone)
                   : TCloseAction::caHide;
  if (!DoClose(action)) return;
  TApplication* app = TApplication::Instance();
  if (app && app->MainForm() == this) {
    app->Terminate();
    return;
  }
  switch (action) {
    case TCloseAction::caHide: Hide(); break;
    case TCloseAction::caMinimize: SetWindowState(TWindowState::wsMinimized); break;
    case TCloseAction::caFree: Release(); break;
    case TCloseAction::caNone: break;
  }
}

bool TForm::CloseQuery() {
  if (formStyle_ == TFormStyle::fsMDIForm) {
    const auto children = mdiChildren_;
    for (TForm* child : children) {
      if (!child->CloseQuery()) return false;
    }
  }
  bool canClose = true;
  if (OnCloseQuery) OnCloseQuery(this, canClose);
  return canClose;
}

void TForm::Release() {
  releasing_ = true;
  if (modal_) return;  // freed when its modal run ends
  // Freed from the event loop, after the handler that asked for it has returned.
  QObject* guard = window_;
  QMetaObject::invokeMethod(
      guard, [this] { FreeWhenIdle(); }, Qt::QueuedConnection);
}

void TForm::FreeWhenIdle() {
  if (TApplication* app = TApplication::Instance(); app && app->Busy()) {
    // Asked again shortly: a queued call posted now could run within the same nested message run.
    QTimer::singleShot(kBusyFreeRetryMs, window_, [this] { FreeWhenIdle(); });
    return;
  }
  Guarded(nullptr, [this] { Free(this); });
}

void TForm::BringToFront() {
  if (subWindow_ && mdiFrame_) {
    mdiFrame_->mdiArea_->setActiveSubWindow(subWindow_);
  } else {
    window_->raise();
    window_->activateWindow();
  }
}

void TForm::SetBounds(int left, int top, int width, int height) {
  // A border without sizing holds the size it is given now, not the one it had when the style was set.
  if (!IsMDIChild() && window_ && !window_->parentWidget() && window_->minimumSize() == window_->maximumSize() &&
      borderStyle_ != TFormBorderStyle::bsSizeable && borderStyle_ != TFormBorderStyle::bsSizeToolWin &&
      borderStyle_ != TFormBorderStyle::bsNone) {
    window_->setFixedSize(std::max(0, width), std::max(0, height));
  }
  TWinControl::SetBounds(left, top, width, height);
}

int TForm::ClientWidth() const { return client_->width(); }
int TForm::ClientHeight() const { return client_->height(); }
void TForm::SetClientWidth(int value) { SetWidth(Width() - ClientWidth() + value); }
void TForm::SetClientHeight(int value) { SetHeight(Height() - ClientHeight() + value); }
QWidget* TForm::ClientWidget() const { return client_; }
QWidget* TForm::FocusWidget() const { return window_; }
QWidget* TForm::FrameWidget() const { return subWindow_ ? static_cast<QWidget*>(subWindow_) : Widget(); }
QWidget* TForm::MouseWidget() const { return client_; }

void TForm::ApplyCaption() {
  window_->setWindowTitle(QString::fromStdString(Caption()));
  if (subWindow_) subWindow_->setWindowTitle(QString::fromStdString(Caption()));
}

void TForm::ApplyColor() {
  if (!client_) return;
  for (QWidget* w : {static_cast<QWidget*>(window_), client_}) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, ToQColor(Color()));
    w->setPalette(pal);
    w->setAutoFillBackground(true);
  }
  if (mdiArea_) mdiArea_->setBackground(ToQColor(Color()));
}

void TForm::PlaceClientRemainder(const TRect& remaining) {
  if (mdiArea_) mdiArea_->setGeometry(remaining.Left, remaining.Top, remaining.Width(), remaining.Height());
}

int TForm::MDIChildCount() const { return static_cast<int>(mdiChildren_.size()); }
TForm* TForm::MDIChildren(int index) const {
  // The class library lists the most recently activated child first.
  if (!mdiArea_) return nullptr;
  const auto windows = mdiArea_->subWindowList(QMdiArea::ActivationHistoryOrder);
  std::vector<TForm*> ordered;
  for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
    if (TForm* f = FromSubWindow(*it)) ordered.push_back(f);
  }
  for (TForm* f : mdiChildren_) {
    if (std::find(ordered.begin(), ordered.end(), f) == ordered.end()) ordered.push_back(f);
  }
  if (index < 0 || index >= static_cast<int>(ordered.size())) return nullptr;
  return ordered[static_cast<std::size_t>(index)];
}

TForm* TForm::ActiveMDIChild() const {
  if (!mdiArea_) return nullptr;
  QMdiSubWindow* active = mdiArea_->activeSubWindow();
  if (!active) active = mdiArea_->currentSubWindow();
  return FromSubWindow(active);
}

TForm* TForm::FromSubWindow(const QMdiSubWindow* window) {
  if (!window) return nullptr;
  const QVariant v = window->property(kFormProperty);
  return v.isValid() ? reinterpret_cast<TForm*>(v.value<quintptr>()) : nullptr;
}

TRect TForm::MDIClientRect() const {
  if (!mdiArea_) return TRect{};
  const QRect g = mdiArea_->geometry();
  return Bounds(g.x(), g.y(), g.width(), g.height());
}

void TForm::Cascade() {
  if (!mdiArea_) return;
  std::vector<QMdiSubWindow*> windows;
  for (QMdiSubWindow* w : mdiArea_->subWindowList(QMdiArea::StackingOrder)) {
    if (w->isVisible() && !w->isMinimized()) windows.push_back(w);
  }
  const QRect vp = mdiArea_->viewport()->rect();
  const auto rects = CascadeLayout(Bounds(0, 0, vp.width(), vp.height()), static_cast<int>(windows.size()));
  for (std::size_t i = 0; i < windows.size(); ++i) {
    if (windows[i]->isMaximized()) windows[i]->showNormal();
    windows[i]->setGeometry(rects[i].Left, rects[i].Top, rects[i].Width(), rects[i].Height());
    windows[i]->raise();
  }
}

void TForm::Tile() {
  if (!mdiArea_) return;
  std::vector<QMdiSubWindow*> windows;
  for (QMdiSubWindow* w : mdiArea_->subWindowList(QMdiArea::CreationOrder)) {
    if (w->isVisible() && !w->isMinimized()) windows.push_back(w);
  }
  const QRect vp = mdiArea_->viewport()->rect();
  const auto rects = TileLayout(Bounds(0, 0, vp.width(), vp.height()), static_cast<int>(windows.size()), TileMode);
  for (std::size_t i = 0; i < windows.size(); ++i) {
    if (windows[i]->isMaximized()) windows[i]->showNormal();
    windows[i]->setGeometry(rects[i].Left, rects[i].Top, rects[i].Width(), rects[i].Height());
  }
}

void TForm::ArrangeIcons() {
  if (!mdiArea_) return;
  std::vector<QMdiSubWindow*> windows;
  for (QMdiSubWindow* w : mdiArea_->subWindowList(QMdiArea::CreationOrder)) {
    if (w->isMinimized()) windows.push_back(w);
  }
  const QRect vp = mdiArea_->viewport()->rect();
  const auto rects = IconLayout(Bounds(0, 0, vp.width(), vp.height()), static_cast<int>(windows.size()));
  for (std::size_t i = 0; i < windows.size(); ++i) windows[i]->move(rects[i].Left, rects[i].Top);
}

void TForm::Next() {
  if (mdiArea_) mdiArea_->activateNextSubWindow();
}
void TForm::Previous() {
  if (mdiArea_) mdiArea_->activatePreviousSubWindow();
}

void TForm::SetWindowMenu(TMenuItem* item) {
  windowMenu_ = item;
  if (item) item->OnPopupRefresh = [this] { RefreshWindowMenu(); };
}

void TForm::RefreshWindowMenu() {
  if (!windowMenu_) return;
  std::vector<std::pair<std::string, std::function<void()>>> entries;
  TForm* active = ActiveMDIChild();
  int n = 0;
  for (TForm* child : mdiChildren_) {
    ++n;
    std::string caption = "&" + std::to_string(n) + " " + child->Caption();
    entries.emplace_back(caption, [child] { child->BringToFront(); });
  }
  windowMenu_->SetWindowList(
      entries,
      active ? static_cast<int>(std::find(mdiChildren_.begin(), mdiChildren_.end(), active) - mdiChildren_.begin())
             : -1);
}

}  // namespace kavrin::classlib
