#include "classlib/widgets/ext_controls.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QWidget>
#include <algorithm>

#include "classlib/widgets/form.h"

namespace kavrin::classlib {

namespace {

// One bevel ring: raised is light on the top and left, lowered the other way round.
void DrawBevel(QPainter& p, QRect& r, TPanelBevel bevel, int width) {
  if (bevel == TPanelBevel::bvNone) return;
  const QColor light = ToQColor(clBtnHighlight);
  const QColor dark = ToQColor(clBtnShadow);
  const QColor topLeft = bevel == TPanelBevel::bvRaised ? light : dark;
  const QColor bottomRight = bevel == TPanelBevel::bvRaised ? dark : light;
  for (int i = 0; i < width; ++i) {
    p.setPen(topLeft);
    p.drawLine(r.left(), r.top(), r.right(), r.top());
    p.drawLine(r.left(), r.top(), r.left(), r.bottom());
    p.setPen(bottomRight);
    p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
    p.drawLine(r.right(), r.top(), r.right(), r.bottom());
    r.adjust(1, 1, -1, -1);
  }
}

}  // namespace

// ---- TGraphicControl

class PaintedWidget : public QWidget {
 public:
  explicit PaintedWidget(TGraphicControl* owner) : owner_(owner) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    owner_->canvas_.Attach(&painter);
    owner_->canvas_.Font.Assign(owner_->Font());
    Guarded(owner_, [this] { owner_->Paint(); });
    owner_->canvas_.Detach();
  }

 private:
  TGraphicControl* owner_;
};

TGraphicControl::TGraphicControl(TComponent* owner, TWinControl* parent) : TControl(owner, parent) {
  Attach(new PaintedWidget(this));
  SetBounds(0, 0, 105, 105);
}

TGraphicControl::TGraphicControl(TWinControl& parent) : TGraphicControl(ControlOwner(parent), &parent) {}

void TGraphicControl::Paint() {
  if (OnPaint) OnPaint(this);
}

// ---- TPanel

class PanelWidget : public QWidget {
 public:
  explicit PanelWidget(TPanel* owner) : owner_(owner) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), ToQColor(owner_->Color()));
    QRect r = rect();
    DrawBevel(p, r, owner_->bevelOuter_, owner_->bevelWidth_);
    DrawBevel(p, r, owner_->bevelInner_, owner_->bevelWidth_);
    const std::string text = StripAccelerator(owner_->Caption());
    if (text.empty()) return;
    p.setFont(owner_->Font().ToQFont());
    p.setPen(ToQColor(owner_->Font().Color()));
    Qt::Alignment a = Qt::AlignVCenter;
    switch (owner_->alignment_) {
      case TAlignment::taLeftJustify: a |= Qt::AlignLeft; break;
      case TAlignment::taRightJustify: a |= Qt::AlignRight; break;
      case TAlignment::taCenter: a |= Qt::AlignHCenter; break;
    }
    p.drawText(r, a, QString::fromStdString(text));
  }

 private:
  TPanel* owner_;
};

TPanel::TPanel(TWinControl& parent) : TWinControl(ControlOwner(parent), &parent) {
  Attach(new PanelWidget(this));
  SetBounds(0, 0, 185, 41);
}

void TPanel::SetBevelOuter(TPanelBevel bevel) {
  bevelOuter_ = bevel;
  Invalidate();
}
void TPanel::SetBevelInner(TPanelBevel bevel) {
  bevelInner_ = bevel;
  Invalidate();
}
void TPanel::SetBevelWidth(int width) {
  bevelWidth_ = std::max(1, width);
  Invalidate();
}
void TPanel::SetAlignment(TAlignment alignment) {
  alignment_ = alignment;
  Invalidate();
}
void TPanel::ApplyCaption() { Invalidate(); }

// ---- TImage

class ImageWidget : public QWidget {
 public:
  explicit ImageWidget(TImage* owner) : owner_(owner) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    const TBitmap& picture = owner_->picture_;
    if (picture.Empty()) return;
    QPainter p(this);
    if (owner_->stretch_) {
      p.drawImage(rect(), picture.Image());
      return;
    }
    QPoint at(0, 0);
    if (owner_->center_) at = QPoint((width() - picture.Width()) / 2, (height() - picture.Height()) / 2);
    p.drawImage(at, picture.Image());
  }

 private:
  TImage* owner_;
};

TImage::TImage(TWinControl& parent) : TControl(ControlOwner(parent), &parent) {
  Attach(new ImageWidget(this));
  SetBounds(0, 0, 105, 105);
}

void TImage::SetPicture(const TBitmap& picture) {
  picture_ = picture;
  PictureChanged();
}

void TImage::Clear() {
  picture_ = TBitmap();
  PictureChanged();
}

void TImage::PictureChanged() {
  if (autoSize_ && !picture_.Empty()) SetBounds(Left(), Top(), picture_.Width(), picture_.Height());
  Invalidate();
}

void TImage::SetCenter(bool value) {
  center_ = value;
  Invalidate();
}
void TImage::SetStretch(bool value) {
  stretch_ = value;
  Invalidate();
}
void TImage::SetAutoSize(bool value) {
  autoSize_ = value;
  PictureChanged();
}

// ---- TSpeedButton

TSpeedButton::TSpeedButton(TWinControl& parent) : TControl(ControlOwner(parent), &parent) {
  button_ = new QToolButton;
  button_->setFocusPolicy(Qt::NoFocus);
  button_->setToolButtonStyle(Qt::ToolButtonTextOnly);
  Attach(button_);
  SetBounds(0, 0, 25, 25);
  QObject::connect(button_, &QToolButton::clicked, button_, [this] { Guarded(this, [this] { Click(); }); });
}

void TSpeedButton::ApplyCaption() { button_->setText(QString::fromStdString(Caption())); }

void TSpeedButton::SetGlyph(const TBitmap& glyph) {
  button_->setIcon(QIcon(QPixmap::fromImage(glyph.Image())));
  button_->setIconSize(QSize(glyph.Width(), glyph.Height()));
  button_->setToolButtonStyle(Caption().empty() ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextBesideIcon);
}

void TSpeedButton::SetFlat(bool value) {
  flat_ = value;
  button_->setAutoRaise(value);
}

void TSpeedButton::SetDown(bool value) {
  down_ = value;
  button_->setCheckable(GroupIndex != 0);
  button_->setChecked(value);
}

void TSpeedButton::SetEnabled(bool enabled) { TControl::SetEnabled(enabled); }

void TSpeedButton::Click() {
  if (GroupIndex != 0) {
    if (down_) {
      // The down button of a group lifts only when all of the group may be up.
      if (AllowAllUp) SetDown(false);
    } else {
      if (Parent()) {
        for (int i = 0; i < Parent()->ControlCount(); ++i) {
          auto* other = dynamic_cast<TSpeedButton*>(Parent()->Controls(i));
          if (other && other != this && other->GroupIndex == GroupIndex) other->SetDown(false);
        }
      }
      SetDown(true);
    }
  }
  TControl::Click();
}

// ---- TStatusBar

class StatusBarWidget : public QWidget {
 public:
  explicit StatusBarWidget(TStatusBar* owner) : owner_(owner) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), ToQColor(owner_->Color()));
    p.setFont(owner_->Font().ToQFont());
    auto section = [&](QRect r, const std::string& text, TAlignment alignment) {
      QRect inner = r.adjusted(0, 2, 0, 0);
      DrawBevel(p, inner, TPanelBevel::bvLowered, 1);
      p.setPen(ToQColor(owner_->Font().Color()));
      Qt::Alignment a = Qt::AlignVCenter | (alignment == TAlignment::taCenter         ? Qt::AlignHCenter
                                            : alignment == TAlignment::taRightJustify ? Qt::AlignRight
                                                                                      : Qt::AlignLeft);
      p.drawText(inner.adjusted(2, 0, -2, 0), a, QString::fromStdString(text));
    };
    if (owner_->simplePanel_) {
      section(rect(), owner_->simpleText_, TAlignment::taLeftJustify);
      return;
    }
    int x = 0;
    const auto& panels = owner_->panels_;
    for (std::size_t i = 0; i < panels.size(); ++i) {
      // The last panel takes the rest of the bar.
      const int w = i + 1 == panels.size() ? std::max(0, width() - x) : panels[i].Width;
      section(QRect(x, 0, w - 2, height()), panels[i].Text, panels[i].Alignment);
      x += w;
    }
  }

 private:
  TStatusBar* owner_;
};

TStatusBar::TStatusBar(TWinControl& parent) : TWinControl(ControlOwner(parent), &parent) {
  Attach(new StatusBarWidget(this));
  SetBounds(0, 0, 200, 19);
  SetAlign(TAlign::alBottom);
  SetTabStop(false);
}

void TStatusBar::SetSimplePanel(bool value) {
  simplePanel_ = value;
  Invalidate();
}

void TStatusBar::SetSimpleText(const std::string& text) {
  simpleText_ = text;
  Repaint();
}

void TStatusBar::PanelsChanged() { Invalidate(); }

// ---- TPageControl and TTabSheet

TTabSheet::TTabSheet(TPageControl& pageControl)
    : TWinControl(ControlOwner(pageControl), nullptr), pageControl_(&pageControl) {
  auto* page = new QWidget;
  Attach(page);
  // The sheet lies on the page control (so its controls find their form) but Qt's tab widget holds
  // its widget.
  SetLogicalParent(&pageControl);
  pageControl.AddPage(this);
}

TTabSheet::~TTabSheet() {
  if (pageControl_) pageControl_->RemovePage(this);
}

int TTabSheet::PageIndex() const {
  if (!pageControl_) return -1;
  auto& pages = pageControl_->pages_;
  auto it = std::find(pages.begin(), pages.end(), this);
  return it == pages.end() ? -1 : static_cast<int>(it - pages.begin());
}

void TTabSheet::SetTabVisible(bool value) {
  tabVisible_ = value;
  if (pageControl_) pageControl_->tabs_->setTabVisible(PageIndex(), value);
}

void TTabSheet::ApplyCaption() {
  if (pageControl_) pageControl_->tabs_->setTabText(PageIndex(), QString::fromStdString(Caption()));
}

TPageControl::TPageControl(TWinControl& parent) : TWinControl(ControlOwner(parent), &parent) {
  tabs_ = new QTabWidget;
  Attach(tabs_);
  SetBounds(0, 0, 289, 193);
  QObject::connect(tabs_, &QTabWidget::currentChanged, tabs_, [this](int index) {
    if (!switching_) Guarded(this, [this, index] { UserChanged(index); });
  });
}

TPageControl::~TPageControl() {
  for (TTabSheet* page : pages_) {
    page->pageControl_ = nullptr;
    page->SetLogicalParent(nullptr);
  }
}

QWidget* TPageControl::ClientWidget() const {
  TTabSheet* page = ActivePage();
  return page ? page->Widget() : Widget();
}

void TPageControl::AddPage(TTabSheet* page) {
  pages_.push_back(page);
  switching_ = true;
  tabs_->addTab(page->Widget(), QString::fromStdString(page->Caption()));
  switching_ = false;
  if (active_ < 0) active_ = 0;
  tabs_->setCurrentIndex(active_);
}

void TPageControl::RemovePage(TTabSheet* page) {
  const int index = page->PageIndex();
  if (index < 0) return;
  switching_ = true;
  tabs_->removeTab(index);
  switching_ = false;
  pages_.erase(pages_.begin() + index);
  if (active_ >= PageCount()) active_ = PageCount() - 1;
  if (active_ >= 0) {
    switching_ = true;
    tabs_->setCurrentIndex(active_);
    switching_ = false;
  }
}

TTabSheet* TPageControl::ActivePage() const {
  return active_ >= 0 && active_ < PageCount() ? pages_[static_cast<std::size_t>(active_)] : nullptr;
}

void TPageControl::SetActivePage(TTabSheet* page) { SetActivePageIndex(page ? page->PageIndex() : -1); }

void TPageControl::SetActivePageIndex(int index) {
  if (index < 0 || index >= PageCount()) return;
  active_ = index;
  switching_ = true;
  tabs_->setCurrentIndex(index);
  switching_ = false;
}

void TPageControl::UserChanged(int qtIndex) {
  if (qtIndex == active_ || qtIndex < 0) return;
  bool allow = true;
  if (OnChanging) OnChanging(this, allow);
  if (!allow) {
    // Qt switched already; the old page comes back before anything is drawn.
    switching_ = true;
    tabs_->setCurrentIndex(active_);
    switching_ = false;
    return;
  }
  active_ = qtIndex;
  if (OnChange) OnChange(this);
}

// ---- TProgressBar

TProgressBar::TProgressBar(TWinControl& parent) : TWinControl(ControlOwner(parent), &parent) {
  bar_ = new QProgressBar;
  bar_->setTextVisible(false);
  bar_->setRange(min_, max_);
  Attach(bar_);
  SetBounds(0, 0, 150, 16);
  SetTabStop(false);
}

void TProgressBar::SetMin(int value) {
  min_ = value;
  bar_->setRange(min_, std::max(min_, max_));
  SetPosition(position_);
}
void TProgressBar::SetMax(int value) {
  max_ = value;
  bar_->setRange(std::min(min_, max_), max_);
  SetPosition(position_);
}
void TProgressBar::SetPosition(int value) {
  position_ = std::clamp(value, min_, std::max(min_, max_));
  bar_->setValue(position_);
}

// ---- TTimer

TTimer::TTimer(TComponent* owner) : TComponent(owner), timer_(new QTimer) {
  QObject::connect(timer_, &QTimer::timeout, timer_, [this] {
    Guarded(this, [this] {
      if (OnTimer) OnTimer(this);
    });
  });
  Update();
}

TTimer::~TTimer() { delete timer_; }

void TTimer::SetEnabled(bool value) {
  enabled_ = value;
  Update();
}

void TTimer::SetInterval(unsigned milliseconds) {
  interval_ = milliseconds;
  Update();
}

void TTimer::Update() {
  timer_->stop();
  if (enabled_ && interval_ > 0) timer_->start(static_cast<int>(interval_));
}

}  // namespace kavrin::classlib
