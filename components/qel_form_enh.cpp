#include "components/qel_form_enh.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QWidget>

#include "classlib/widgets/form.h"
#include "classlib/widgets/screen.h"

namespace kavrin::components::qelformenh {

using classlib::TComponent;
using classlib::TForm;
using classlib::TFormBorderStyle;

namespace {

// Checked before the owner takes the component into its list.
TComponent* FormOwner(TComponent* owner) {
  auto* form = dynamic_cast<TForm*>(owner);
  bool has_one = false;
  for (int i = 0; form && i < form->ComponentCount(); ++i) {
    if (dynamic_cast<TQelFormEnh*>(form->Components(i))) has_one = true;
  }
  CheckQelFormEnhOwner(form != nullptr, has_one);
  return owner;
}

TWindowState StateOf(classlib::TWindowState state) {
  switch (state) {
    case classlib::TWindowState::wsMinimized: return TWindowState::wsMinimized;
    case classlib::TWindowState::wsMaximized: return TWindowState::wsMaximized;
    case classlib::TWindowState::wsNormal: break;
  }
  return TWindowState::wsNormal;
}

}  // namespace

// The form as the placement rules see it. Qt keeps a normal rectangle only for top-level windows; an
// MDI child's comes from the placement cached while it was normal.
class TQelFormEnh::FormWindow : public PlacementWindow {
 public:
  explicit FormWindow(TForm& form) : form_(form) {}

  std::string Name() const override { return form_.Name; }
  std::int32_t Left() const override { return form_.Left(); }
  std::int32_t Top() const override { return form_.Top(); }
  std::int32_t Width() const override { return form_.Width(); }
  std::int32_t Height() const override { return form_.Height(); }
  void SetLeft(std::int32_t left) override { form_.SetLeft(left); }
  void SetTop(std::int32_t top) override { form_.SetTop(top); }
  TWindowState WindowState() const override { return StateOf(form_.WindowState()); }
  // An MDI child is always shown.
  bool Visible() const override { return form_.Visible() || form_.IsMDIChild(); }
  bool Sizeable() const override {
    return form_.BorderStyle() == TFormBorderStyle::bsSizeable ||
           form_.BorderStyle() == TFormBorderStyle::bsSizeToolWin;
  }
  bool IsMdiChild() const override { return form_.IsMDIChild(); }
  TSize MdiClientSize() const override {
    const auto* sub = dynamic_cast<const QMdiSubWindow*>(form_.FrameWidget());
    const QMdiArea* area = sub ? sub->mdiArea() : nullptr;
    if (!area) return ScreenSize();
    return TSize{area->viewport()->width(), area->viewport()->height()};
  }
  TSize ScreenSize() const override { return TSize{classlib::Screen().Width(), classlib::Screen().Height()}; }

  TWindowPlacement GetPlacement() const override {
    TWindowPlacement placement;
    const TWindowState state = WindowState();
    placement.showCmd = state == TWindowState::wsMinimized   ? SW_SHOWMINIMIZED
                        : state == TWindowState::wsMaximized ? SW_SHOWMAXIMIZED
                                                             : SW_SHOWNORMAL;
    QRect normal(Left(), Top(), Width(), Height());
    if (state != TWindowState::wsNormal && !IsMdiChild()) normal = form_.FrameWidget()->normalGeometry();
    placement.rcNormalPosition =
        TRect{normal.x(), normal.y(), normal.x() + normal.width(), normal.y() + normal.height()};
    return placement;
  }

  void SetPlacement(const TWindowPlacement& wanted) override {
    // A copy: the form's resize below refreshes the cached placement the caller may have passed.
    const TWindowPlacement placement = wanted;
    const TRect& r = placement.rcNormalPosition;
    if (form_.WindowState() != classlib::TWindowState::wsNormal) form_.SetWindowState(classlib::TWindowState::wsNormal);
    form_.SetBounds(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top);
    switch (placement.showCmd) {
      case SW_SHOWMINIMIZED: form_.SetWindowState(classlib::TWindowState::wsMinimized); break;
      case SW_SHOWMAXIMIZED: form_.SetWindowState(classlib::TWindowState::wsMaximized); break;
      default: break;  // SW_HIDE keeps the form hidden in its own state
    }
  }

 private:
  TForm& form_;
};

TQelFormEnh::TQelFormEnh(TComponent* owner)
    : TMessageGrabber(FormOwner(owner)),
      window_(std::make_unique<FormWindow>(*dynamic_cast<TForm*>(owner))),
      placement_(*window_) {}

TQelFormEnh::~TQelFormEnh() = default;

void TQelFormEnh::Loaded() {
  WatchFrame();
  RestorePlacement();
  AskTrackLimits();
}

void TQelFormEnh::BeforeDestruction() {
  if (!Destroying() && !saved_) {
    saved_ = true;
    classlib::Guarded(this, [this] { SavePlacement(); });
  }
  TMessageGrabber::BeforeDestruction();
}

void TQelFormEnh::SetMinSizeX(std::int32_t v) {
  placement_.SetMinSizeX(v);
  AskTrackLimits();
}
void TQelFormEnh::SetMinSizeY(std::int32_t v) {
  placement_.SetMinSizeY(v);
  AskTrackLimits();
}
void TQelFormEnh::SetMaxSizeX(std::int32_t v) {
  placement_.SetMaxSizeX(v);
  AskTrackLimits();
}
void TQelFormEnh::SetMaxSizeY(std::int32_t v) {
  placement_.SetMaxSizeY(v);
  AskTrackLimits();
}

}  // namespace kavrin::components::qelformenh
