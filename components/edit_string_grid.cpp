#include "components/edit_string_grid.h"

#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <QObject>
#include <QWidget>

#include "classlib/widgets/form.h"

namespace kavrin::components::editgrid {

using classlib::TShiftState;
using classlib::Word;

namespace {

GridKey KeyOf(Word key) {
  switch (key) {
    case classlib::VK_DOWN: return GridKey::Down;
    case classlib::VK_UP: return GridKey::Up;
    case classlib::VK_TAB: return GridKey::Tab;
    case classlib::VK_RIGHT: return GridKey::Right;
    case classlib::VK_LEFT: return GridKey::Left;
    case classlib::VK_DELETE: return GridKey::Delete;
    case classlib::VK_INSERT: return GridKey::Insert;
    case classlib::VK_HOME: return GridKey::Home;
    case classlib::VK_END: return GridKey::End;
    default: return GridKey::Other;
  }
}

classlib::TColor ClassColor(TColor color) { return static_cast<classlib::TColor>(color); }

}  // namespace

class TEditStringGrid::View : public EditGridView {
 public:
  explicit View(TEditStringGrid& grid) : grid_(grid) {}

  int ColCount() const override { return grid_.ColCount(); }
  int RowCount() const override { return grid_.RowCount(); }
  void SetRowCount(int count) override { grid_.SetRowCount(count); }
  int FixedCols() const override { return grid_.FixedCols(); }
  int FixedRows() const override { return grid_.FixedRows(); }
  int Col() const override { return grid_.Col(); }
  int Row() const override { return grid_.Row(); }
  void SetCol(int col) override { grid_.SetCol(col); }
  void SetRow(int row) override { grid_.SetRow(row); }
  bool TabStop(int col) const override { return grid_.TabStops(col); }
  bool GridEditable() const override { return grid_.TStringGrid::CanEditModify(); }
  std::string Cell(int col, int row) const override { return grid_.Cells(col, row); }
  void SetCell(int col, int row, const std::string& text) override { grid_.SetCells(col, row, text); }
  void ShowEditor() override { grid_.ShowEditor(); }
  void HideEditor() override { grid_.HideEditor(); }
  void FocusNextControl(bool forward) override { grid_.SelectNextControl(forward); }
  int ClientWidth() const override { return grid_.MouseWidget()->width(); }
  int ColWidth(int col) const override { return grid_.ColWidths(col); }
  void SetColWidth(int col, int width) override { grid_.SetColWidths(col, width); }

 private:
  TEditStringGrid& grid_;
};

// The viewport's resize is the grid's WM_SIZE: only then is the client width known.
class TEditStringGrid::ViewportEvents : public QObject {
 public:
  explicit ViewportEvents(TEditStringGrid& grid) : grid_(grid) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Resize) classlib::Guarded(&grid_, [this] { grid_.controller_->Fit(); });
    return false;
  }

 private:
  TEditStringGrid& grid_;
};

TEditStringGrid::TEditStringGrid(classlib::TWinControl& parent)
    : TStringGrid(parent),
      view_(std::make_unique<View>(*this)),
      controller_(std::make_unique<TEditStringGridController>(*view_)) {
  viewport_events_ = new ViewportEvents(*this);
  viewport_events_->setParent(MouseWidget());
  MouseWidget()->installEventFilter(viewport_events_);
  QObject::connect(qApp, &QApplication::focusChanged, viewport_events_, [this](QWidget*, QWidget* now) {
    if (now && now != FocusWidget() && now != InplaceEditor() && now->window() == FocusWidget()->window()) {
      previous_focus_ = now;
    }
  });
}

TEditStringGrid::~TEditStringGrid() {
  MouseWidget()->removeEventFilter(viewport_events_);
  delete viewport_events_;
}

void TEditStringGrid::KeyDown(Word& key, TShiftState shift) {
  ShiftState s{shift.Shift, shift.Ctrl, shift.Alt};
  if (controller_->KeyDown(KeyOf(key), s)) {
    key = 0;
    return;
  }
  TStringGrid::KeyDown(key, shift);
  InvalidateCell(Col(), Row());
}

void TEditStringGrid::KeyPress(char& key) {
  controller_->KeyPress(static_cast<unsigned char>(key));
  TStringGrid::KeyPress(key);
}

void TEditStringGrid::MouseDown(classlib::TMouseButton button, TShiftState shift, int x, int y) {
  HideEditor();
  if (CanFocus() && !Focused()) {
    SetFocus();
    classlib::TForm* form = ParentForm();
    if (form && form->ActiveControl() != this) return;
  }
  int col = -1;
  int row = -1;
  MouseToCell(x, y, col, row);
  if (col < FixedCols() || row < FixedRows()) {
    TStringGrid::MouseDown(button, shift, x, y);
    return;
  }
  if (button == classlib::TMouseButton::mbLeft) {
    controller_->MouseDown(col, row, shift.Double);
  }
  TControl::MouseDown(button, shift, x, y);
}

void TEditStringGrid::DoEnter() {
  if (controller_->FocusEnter() == FocusEnterAnswer::GiveBack) {
    if (previous_focus_) {
      if (auto* control = dynamic_cast<classlib::TWinControl*>(TControl::FromWidget(previous_focus_))) {
        control->SetFocus();
      } else {
        previous_focus_->setFocus(Qt::OtherFocusReason);
      }
    }
    return;
  }
  TStringGrid::DoEnter();
}

void TEditStringGrid::DoExit() {
  if (controller_->FocusExit() == FocusExitAnswer::TakeBack) {
    SetFocus();
    return;
  }
  TStringGrid::DoExit();
}

void TEditStringGrid::DrawCell(int col, int row, const classlib::TRect& rect, classlib::TGridDrawState state) {
  classlib::TCanvas& canvas = Canvas();
  const bool focused = Focused() || (InplaceEditor() && InplaceEditor()->hasFocus());
  const CellPlan plan = controller_->PlanCell(col, row, state.Has(classlib::TGridDrawStateItem::gdSelected), focused,
                                              static_cast<TColor>(Color()), static_cast<TColor>(FixedColor()));
  canvas.Font.Assign(Font());
  if (OnGetFont) OnGetFont(col, row, canvas.Font);
  canvas.Brush.Style = classlib::TBrushStyle::bsSolid;
  if (plan.highlighted) {
    canvas.Brush.Color = classlib::clHighlight;
    canvas.Font.SetColor(classlib::clHighlightText);
  } else {
    canvas.Brush.Color = ClassColor(plan.color);
  }
  bool drawn = false;
  if (!state.Has(classlib::TGridDrawStateItem::gdFixed) && OnDrawDataCell) {
    OnDrawDataCell(col, row, rect, plan.text, state, plan.alignment, drawn);
  }
  if (!drawn) {
    const int x = TEditStringGridController::TextLeft(rect.Left, rect.Right, canvas.TextWidth(plan.text),
                                                      canvas.TextWidth("0"), plan.alignment);
    canvas.TextRect(rect, x, TEditStringGridController::TextTop(rect.Top), plan.text);
  }
  if (OnDrawCell) OnDrawCell(this, col, row, rect, state);
}

bool TEditStringGrid::CanEditShow() {
  return TStringGrid::CanEditShow() && controller_->CanEditModify() && controller_->CanEditShow(Col());
}

bool TEditStringGrid::CanEditModify() { return controller_->CanEditModify(); }

bool TEditStringGrid::CanEditAcceptKey(char key) {
  bool can = TStringGrid::CanEditAcceptKey(key) && CanEditModify();
  if (OnCanEditAcceptKey) OnCanEditAcceptKey(Col(), key, can);
  return can;
}

bool TEditStringGrid::CanGridAcceptKey(Word key, TShiftState shift) {
  bool can = TStringGrid::CanGridAcceptKey(key, shift);
  if (OnCanGridAcceptKey) OnCanGridAcceptKey(Col(), key, shift, can);
  return can;
}

int TEditStringGrid::GetEditLimit() {
  int limit = TStringGrid::GetEditLimit();
  if (OnGetEditLimit) OnGetEditLimit(Col(), limit);
  return limit;
}

void TEditStringGrid::SetEditText(int col, int row, const std::string& value) {
  if (value != Cells(col, row)) TStringGrid::SetEditText(col, row, value);
}

void TEditStringGrid::ColWidthsChanged() {
  TStringGrid::ColWidthsChanged();
  controller_->Fit();
}

void TEditStringGrid::TopLeftChanged() {
  TStringGrid::TopLeftChanged();
  controller_->Fit();
}

void TEditStringGrid::SizeChanged(int oldColCount, int oldRowCount) {
  TStringGrid::SizeChanged(oldColCount, oldRowCount);
  if (ColCount() != oldColCount) controller_->ColCountChanged();
}

}  // namespace kavrin::components::editgrid
