#include "classlib/widgets/grids.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <stdexcept>

#include "classlib/widgets/form.h"

namespace kavrin::classlib {

namespace {

TShiftState ShiftOf(Qt::KeyboardModifiers mods) {
  TShiftState s;
  s.Shift = mods.testFlag(Qt::ShiftModifier);
  s.Ctrl = mods.testFlag(Qt::ControlModifier);
  s.Alt = mods.testFlag(Qt::AltModifier);
  return s;
}

}  // namespace

class GridWidget : public QAbstractScrollArea {
 public:
  explicit GridWidget(TStringGrid* owner) : owner_(owner) {
    // The viewport's policy passes on to its focus proxy, the grid, so the grid's own comes last.
    viewport()->setFocusPolicy(Qt::NoFocus);
    setFocusPolicy(Qt::StrongFocus);
    QScrollBar* bar = verticalScrollBar();
    bar->installEventFilter(this);
    QObject::connect(bar, &QScrollBar::valueChanged, this, [this](int v) {
      if (!syncing && !ownsVertical) Guarded(owner_, [this, v] { owner_->SetTopRow(owner_->FixedRows() + v); });
    });
    QObject::connect(bar, &QScrollBar::actionTriggered, this, [this, bar](int action) {
      if (syncing || !ownsVertical) return;
      TScrollCode code = TScrollCode::scTrack;
      switch (action) {
        case QAbstractSlider::SliderSingleStepSub: code = TScrollCode::scLineUp; break;
        case QAbstractSlider::SliderSingleStepAdd: code = TScrollCode::scLineDown; break;
        case QAbstractSlider::SliderPageStepSub: code = TScrollCode::scPageUp; break;
        case QAbstractSlider::SliderPageStepAdd: code = TScrollCode::scPageDown; break;
        case QAbstractSlider::SliderToMinimum: code = TScrollCode::scTop; break;
        case QAbstractSlider::SliderToMaximum: code = TScrollCode::scBottom; break;
        case QAbstractSlider::SliderMove:
          // A drag acts when the thumb is let go; a move without the thumb held is a jump.
          if (bar->isSliderDown()) return;
          code = TScrollCode::scPosition;
          break;
        default: return;
      }
      Scroll(code, bar->sliderPosition());
    });
    QObject::connect(bar, &QScrollBar::sliderReleased, this, [this, bar] {
      if (!syncing && ownsVertical) Scroll(TScrollCode::scPosition, bar->sliderPosition());
    });
    QObject::connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this](int v) {
      if (!syncing) Guarded(owner_, [this, v] { owner_->SetLeftCol(owner_->FixedCols() + v); });
    });
  }
  bool syncing = false;
  bool ownsVertical = false;

 protected:
  void wheelEvent(QWheelEvent* event) override {
    if (Wheel(event)) {
      event->accept();
    } else {
      QAbstractScrollArea::wheelEvent(event);
    }
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    // Over a bar the owner fills, a wheel step is the owner's too rather than a jump of the thumb.
    if (watched == verticalScrollBar() && event->type() == QEvent::Wheel && ownsVertical) {
      return Wheel(static_cast<QWheelEvent*>(event));
    }
    return QAbstractScrollArea::eventFilter(watched, event);
  }
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(viewport());
    owner_->Paint(painter, event->rect());
  }
  void resizeEvent(QResizeEvent* event) override {
    QAbstractScrollArea::resizeEvent(event);
    Guarded(owner_, [this] { owner_->UpdateScrollBars(); });
  }
  void focusInEvent(QFocusEvent* event) override {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
  }
  void focusOutEvent(QFocusEvent* event) override {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
  }
  bool focusNextPrevChild(bool) override { return false; }

 private:
  bool Wheel(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (delta == 0) return false;
    bool used = true;
    Guarded(owner_, [&] { used = owner_->DoMouseWheel(ShiftOf(event->modifiers()), delta); });
    return used;
  }
  // The bar always ends up showing where the owner stands, whatever the action did.
  void Scroll(TScrollCode code, int position) {
    Guarded(owner_, [&] { owner_->VerticalScroll(code, position); });
    Guarded(owner_, [this] { owner_->UpdateScrollBars(); });
  }

  TStringGrid* owner_;
};

class GridEditorEvents : public QObject {
 public:
  explicit GridEditorEvents(TStringGrid* owner) : owner_(owner) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    bool consumed = false;
    Guarded(owner_, [&] { consumed = owner_->EditorKey(static_cast<QKeyEvent*>(event)); });
    return consumed;
  }
  std::string original;

 private:
  TStringGrid* owner_;
};

TStringGrid::TStringGrid(TWinControl& parent) : TWinControl(ControlOwner(parent), &parent) {
  grid_ = new GridWidget(this);
  editor_ = new QLineEdit(grid_->viewport());
  editor_->setFrame(false);
  editor_->hide();
  editorEvents_ = new GridEditorEvents(this);
  editor_->installEventFilter(editorEvents_);
  QObject::connect(editor_, &QLineEdit::textEdited, editor_, [this](const QString& text) {
    if (!updatingEditor_) Guarded(this, [this, text] { SetEditText(col_, row_, text.toStdString()); });
  });
  Attach(grid_);
  RegisterPart(grid_->viewport());
  cells_.Resize(5, 5);
  colWidths_.assign(5, defaultColWidth_);
  rowHeights_.assign(5, defaultRowHeight_);
  tabStops_.assign(5, true);
  SetBounds(0, 0, 320, 120);
  SetColor(clWindow);
  canvas_.Font.Assign(Font());
  UpdateScrollBars();
}

TStringGrid::~TStringGrid() {
  editor_->removeEventFilter(editorEvents_);
  delete editorEvents_;
}

QWidget* TStringGrid::MouseWidget() const { return grid_->viewport(); }
QWidget* TStringGrid::FocusWidget() const { return grid_; }

void TStringGrid::SetColCount(int value) {
  value = std::max(1, value);
  const int oldCols = ColCount();
  if (value == oldCols) return;
  HideEditor();
  cells_.Resize(value, RowCount());
  colWidths_.resize(static_cast<std::size_t>(value), defaultColWidth_);
  tabStops_.resize(static_cast<std::size_t>(value), true);
  fixedCols_ = std::min(fixedCols_, value - 1);
  col_ = std::clamp(col_, fixedCols_, value - 1);
  leftCol_ = std::clamp(leftCol_, fixedCols_, value - 1);
  SizeChanged(oldCols, RowCount());
  UpdateScrollBars();
  Invalidate();
}

void TStringGrid::SetRowCount(int value) {
  value = std::max(1, value);
  const int oldRows = RowCount();
  if (value == oldRows) return;
  HideEditor();
  cells_.Resize(ColCount(), value);
  rowHeights_.resize(static_cast<std::size_t>(value), defaultRowHeight_);
  fixedRows_ = std::min(fixedRows_, value - 1);
  row_ = std::clamp(row_, fixedRows_, value - 1);
  topRow_ = std::clamp(topRow_, fixedRows_, value - 1);
  SizeChanged(ColCount(), oldRows);
  UpdateScrollBars();
  Invalidate();
}

void TStringGrid::SetFixedCols(int value) {
  fixedCols_ = std::clamp(value, 0, ColCount() - 1);
  col_ = std::max(col_, fixedCols_);
  leftCol_ = std::max(leftCol_, fixedCols_);
  UpdateScrollBars();
  Invalidate();
}

void TStringGrid::SetFixedRows(int value) {
  fixedRows_ = std::clamp(value, 0, RowCount() - 1);
  row_ = std::max(row_, fixedRows_);
  topRow_ = std::max(topRow_, fixedRows_);
  UpdateScrollBars();
  Invalidate();
}

void TStringGrid::SetDefaultColWidth(int value) {
  defaultColWidth_ = std::max(0, value);
  std::fill(colWidths_.begin(), colWidths_.end(), defaultColWidth_);
  ColWidthsChanged();
  UpdateScrollBars();
  Invalidate();
}

void TStringGrid::SetDefaultRowHeight(int value) {
  defaultRowHeight_ = std::max(0, value);
  std::fill(rowHeights_.begin(), rowHeights_.end(), defaultRowHeight_);
  RowHeightsChanged();
  UpdateScrollBars();
  Invalidate();
}

int TStringGrid::ColWidths(int col) const {
  if (col < 0 || col >= ColCount()) return 0;
  return colWidths_[static_cast<std::size_t>(col)];
}

void TStringGrid::SetColWidths(int col, int width) {
  if (col < 0 || col >= ColCount()) throw std::out_of_range("Grid index out of range");
  if (colWidths_[static_cast<std::size_t>(col)] == std::max(0, width)) return;
  colWidths_[static_cast<std::size_t>(col)] = std::max(0, width);
  ColWidthsChanged();
  UpdateScrollBars();
  Invalidate();
}

int TStringGrid::RowHeights(int row) const {
  if (row < 0 || row >= RowCount()) return 0;
  return rowHeights_[static_cast<std::size_t>(row)];
}

void TStringGrid::SetRowHeights(int row, int height) {
  if (row < 0 || row >= RowCount()) throw std::out_of_range("Grid index out of range");
  rowHeights_[static_cast<std::size_t>(row)] = std::max(0, height);
  RowHeightsChanged();
  UpdateScrollBars();
  Invalidate();
}

void TStringGrid::SetGridLineWidth(int value) {
  gridLineWidth_ = std::max(0, value);
  ColWidthsChanged();
  Invalidate();
}

bool TStringGrid::TabStops(int col) const {
  if (col < 0 || col >= ColCount()) return false;
  return tabStops_[static_cast<std::size_t>(col)];
}

void TStringGrid::SetTabStops(int col, bool value) {
  if (col < 0 || col >= ColCount()) throw std::out_of_range("Grid index out of range");
  tabStops_[static_cast<std::size_t>(col)] = value;
}

void TStringGrid::SetOptions(TGridOptions options) {
  options_ = options;
  if (!options_.Has(TGridOption::goEditing)) HideEditor();
  Invalidate();
}

void TStringGrid::SetFixedColor(TColor color) {
  fixedColor_ = color;
  Invalidate();
}

void TStringGrid::SetScrollBars(TGridScrollBars value) {
  scrollBars_ = value;
  UpdateScrollBars();
}

void TStringGrid::SetCells(int col, int row, const std::string& text) {
  cells_.SetText(col, row, text);
  if (col == col_ && row == row_ && EditorMode() && !updatingEditor_) {
    updatingEditor_ = true;
    editor_->setText(QString::fromStdString(text));
    updatingEditor_ = false;
  }
  InvalidateCell(col, row);
}

void TStringGrid::SetObjects(int col, int row, TItemObject object) { cells_.SetObject(col, row, object); }

void TStringGrid::SetCol(int col) { FocusCell(col, row_); }
void TStringGrid::SetRow(int row) { FocusCell(col_, row); }

bool TStringGrid::FocusCell(int col, int row) {
  col = std::clamp(col, fixedCols_, ColCount() - 1);
  row = std::clamp(row, fixedRows_, RowCount() - 1);
  if (col == col_ && row == row_) return true;
  if (!SelectCell(col, row)) return false;
  HideEditor();
  InvalidateRow(row_);
  col_ = col;
  row_ = row;
  ClampInView();
  InvalidateRow(row_);
  if (options_.Has(TGridOption::goAlwaysShowEditor)) ShowEditor();
  return true;
}

TGridRect TStringGrid::Selection() const {
  if (options_.Has(TGridOption::goRowSelect)) return TGridRect{fixedCols_, row_, ColCount() - 1, row_};
  return TGridRect{col_, row_, col_, row_};
}

void TStringGrid::SetTopRow(int row) {
  row = std::clamp(row, fixedRows_, std::max(fixedRows_, RowCount() - 1));
  if (row == topRow_) return;
  topRow_ = row;
  UpdateScrollBars();
  if (EditorMode()) ShowEditor();
  Invalidate();
  TopLeftChanged();
}

void TStringGrid::SetLeftCol(int col) {
  col = std::clamp(col, fixedCols_, std::max(fixedCols_, ColCount() - 1));
  if (col == leftCol_) return;
  leftCol_ = col;
  UpdateScrollBars();
  if (EditorMode()) ShowEditor();
  Invalidate();
  TopLeftChanged();
}

int TStringGrid::VisibleRowCount() const {
  int height = grid_->viewport()->height();
  for (int r = 0; r < fixedRows_; ++r) height -= RowHeights(r) + gridLineWidth_;
  int count = 0;
  for (int r = topRow_; r < RowCount(); ++r) {
    height -= RowHeights(r) + gridLineWidth_;
    if (height < 0) break;
    ++count;
  }
  return count;
}

int TStringGrid::VisibleColCount() const {
  int width = grid_->viewport()->width();
  for (int c = 0; c < fixedCols_; ++c) width -= ColWidths(c) + gridLineWidth_;
  int count = 0;
  for (int c = leftCol_; c < ColCount(); ++c) {
    width -= ColWidths(c) + gridLineWidth_;
    if (width < 0) break;
    ++count;
  }
  return count;
}

void TStringGrid::MouseToCell(int x, int y, int& col, int& row) const {
  col = -1;
  row = -1;
  int pos = 0;
  for (int c = 0; c < ColCount(); ++c) {
    if (c >= fixedCols_ && c < leftCol_) continue;
    const int next = pos + ColWidths(c) + gridLineWidth_;
    if (x >= pos && x < next) {
      col = c;
      break;
    }
    pos = next;
  }
  pos = 0;
  for (int r = 0; r < RowCount(); ++r) {
    if (r >= fixedRows_ && r < topRow_) continue;
    const int next = pos + RowHeights(r) + gridLineWidth_;
    if (y >= pos && y < next) {
      row = r;
      break;
    }
    pos = next;
  }
}

TRect TStringGrid::CellRect(int col, int row) const {
  if (col < 0 || col >= ColCount() || row < 0 || row >= RowCount()) return TRect{};
  if ((col >= fixedCols_ && col < leftCol_) || (row >= fixedRows_ && row < topRow_)) return TRect{};
  int x = 0;
  for (int c = 0; c < col; ++c) {
    if (c >= fixedCols_ && c < leftCol_) continue;
    x += ColWidths(c) + gridLineWidth_;
  }
  int y = 0;
  for (int r = 0; r < row; ++r) {
    if (r >= fixedRows_ && r < topRow_) continue;
    y += RowHeights(r) + gridLineWidth_;
  }
  return Bounds(x, y, ColWidths(col), RowHeights(row));
}

void TStringGrid::InvalidateCell(int col, int row) {
  const TRect r = CellRect(col, row);
  grid_->viewport()->update(QRect(r.Left, r.Top, r.Width() + gridLineWidth_, r.Height() + gridLineWidth_));
}

void TStringGrid::InvalidateRow(int row) {
  const TRect r = CellRect(fixedCols_ < ColCount() ? 0 : 0, row);
  grid_->viewport()->update(QRect(0, r.Top, grid_->viewport()->width(), r.Height() + gridLineWidth_));
}

bool TStringGrid::EditorMode() const { return editor_->isVisible(); }

void TStringGrid::SetEditorMode(bool value) {
  if (value) {
    ShowEditor();
  } else {
    HideEditor();
  }
}

void TStringGrid::ShowEditor() {
  if (!CanEditShow()) return;
  const TRect r = CellRect(col_, row_);
  if (r.Width() <= 0 || r.Height() <= 0) return;
  const bool wasShown = editor_->isVisible();
  editor_->setGeometry(r.Left, r.Top, r.Width(), r.Height());
  editor_->setFont(Font().ToQFont());
  const int limit = GetEditLimit();
  editor_->setMaxLength(limit > 0 ? limit : 32767);
  if (!wasShown) {
    updatingEditor_ = true;
    const std::string text = GetEditText(col_, row_);
    editorEvents_->original = text;
    editor_->setText(QString::fromStdString(text));
    updatingEditor_ = false;
    editor_->selectAll();
  }
  editor_->setReadOnly(!CanEditModify());
  editor_->show();
  if (grid_->hasFocus() || !wasShown) editor_->setFocus(Qt::OtherFocusReason);
}

void TStringGrid::HideEditor() {
  if (!editor_->isVisible()) return;
  const bool hadFocus = editor_->hasFocus();
  editor_->hide();
  if (hadFocus) grid_->setFocus(Qt::OtherFocusReason);
  InvalidateCell(col_, row_);
}

void TStringGrid::InsertRow(int index) {
  HideEditor();
  const int oldRows = RowCount();
  cells_.InsertRow(index);
  rowHeights_.insert(rowHeights_.begin() + index, defaultRowHeight_);
  SizeChanged(ColCount(), oldRows);
  UpdateScrollBars();
  Invalidate();
}

void TStringGrid::DeleteRow(int index) {
  if (RowCount() <= fixedRows_ + 1) throw std::out_of_range("Cannot delete the last data row");
  HideEditor();
  const int oldRows = RowCount();
  cells_.DeleteRow(index);
  rowHeights_.erase(rowHeights_.begin() + index);
  row_ = std::clamp(row_, fixedRows_, RowCount() - 1);
  topRow_ = std::clamp(topRow_, fixedRows_, RowCount() - 1);
  SizeChanged(ColCount(), oldRows);
  UpdateScrollBars();
  Invalidate();
}

void TStringGrid::MoveRow(int from, int to) {
  HideEditor();
  cells_.MoveRow(from, to);
  // The height travels with its row, as the cells do.
  const auto it = rowHeights_.begin();
  if (from < to) {
    std::rotate(it + from, it + from + 1, it + to + 1);
  } else {
    std::rotate(it + to, it + from, it + from + 1);
  }
  Invalidate();
  RowMoved(from, to);
}

void TStringGrid::SelectNextControl(bool forward) {
  HideEditor();
  QWidget* start = grid_;
  QWidget* w = start;
  for (int guard = 0; guard < 1000; ++guard) {
    w = forward ? w->nextInFocusChain() : w->previousInFocusChain();
    if (!w || w == start) return;
    if (w == editor_ || w == grid_->viewport() || w->window() != start->window()) continue;
    if ((w->focusPolicy() & Qt::TabFocus) && w->isVisible() && w->isEnabled()) {
      w->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
      return;
    }
  }
}

void TStringGrid::DrawCell(int col, int row, const TRect& rect, TGridDrawState state) {
  if (DefaultDrawing) canvas_.TextRect(rect, rect.Left + 2, rect.Top + 2, Cells(col, row));
  if (OnDrawCell) OnDrawCell(this, col, row, rect, state);
}

bool TStringGrid::SelectCell(int col, int row) {
  bool can = true;
  if (OnSelectCell) OnSelectCell(this, col, row, can);
  return can;
}

bool TStringGrid::CanEditShow() {
  return options_.Has(TGridOption::goEditing) && !options_.Has(TGridOption::goRowSelect) && col_ >= fixedCols_ &&
         row_ >= fixedRows_;
}

bool TStringGrid::CanEditModify() { return options_.Has(TGridOption::goEditing); }
bool TStringGrid::CanEditAcceptKey(char) { return true; }
bool TStringGrid::CanGridAcceptKey(Word, TShiftState) { return true; }
int TStringGrid::GetEditLimit() { return 0; }

std::string TStringGrid::GetEditText(int col, int row) {
  std::string value = Cells(col, row);
  if (OnGetEditText) OnGetEditText(this, col, row, value);
  return value;
}

void TStringGrid::SetEditText(int col, int row, const std::string& value) {
  cells_.SetText(col, row, value);
  if (OnSetEditText) OnSetEditText(this, col, row, value);
}

void TStringGrid::ColWidthsChanged() {}
void TStringGrid::RowHeightsChanged() {}
void TStringGrid::TopLeftChanged() {
  if (OnTopLeftChanged) OnTopLeftChanged(this);
}
void TStringGrid::SizeChanged(int, int) {}
void TStringGrid::RowMoved(int from, int to) {
  if (OnRowMoved) OnRowMoved(this, from, to);
}

int TStringGrid::NextTabCol(int from, int step) const {
  for (int c = from + step; c >= fixedCols_ && c < ColCount(); c += step) {
    if (TabStops(c)) return c;
  }
  return -1;
}

void TStringGrid::MoveBy(int dcol, int drow) { FocusCell(col_ + dcol, row_ + drow); }

void TStringGrid::KeyDown(Word& key, TShiftState shift) {
  TWinControl::KeyDown(key, shift);
  if (key == 0) return;
  if (!CanGridAcceptKey(key, shift)) {
    key = 0;
    return;
  }
  const int page = std::max(1, VisibleRowCount());
  switch (key) {
    case VK_UP: MoveBy(0, -1); break;
    case VK_DOWN: MoveBy(0, 1); break;
    case VK_LEFT:
      if (!options_.Has(TGridOption::goRowSelect)) MoveBy(-1, 0);
      break;
    case VK_RIGHT:
      if (!options_.Has(TGridOption::goRowSelect)) MoveBy(1, 0);
      break;
    case VK_PRIOR: FocusCell(col_, row_ - page); break;
    case VK_NEXT: FocusCell(col_, row_ + page); break;
    case VK_HOME: shift.Ctrl ? FocusCell(col_, fixedRows_) : FocusCell(fixedCols_, row_); break;
    case VK_END: shift.Ctrl ? FocusCell(col_, RowCount() - 1) : FocusCell(ColCount() - 1, row_); break;
    case VK_F2: ShowEditor(); break;
    case VK_ESCAPE:
      if (!EditorMode()) return;
      updatingEditor_ = true;
      editor_->setText(QString::fromStdString(editorEvents_->original));
      updatingEditor_ = false;
      SetEditText(col_, row_, editorEvents_->original);
      if (!options_.Has(TGridOption::goAlwaysShowEditor)) HideEditor();
      break;
    case VK_TAB: {
      if (!options_.Has(TGridOption::goTabs)) return;
      const int step = shift.Shift ? -1 : 1;
      int c = NextTabCol(col_, step);
      if (c >= 0) {
        FocusCell(c, row_);
      } else if (row_ + step >= fixedRows_ && row_ + step < RowCount()) {
        c = step > 0 ? NextTabCol(fixedCols_ - 1, 1) : NextTabCol(ColCount(), -1);
        if (c >= 0) FocusCell(c, row_ + step);
      } else {
        SelectNextControl(step > 0);
      }
      break;
    }
    default: return;
  }
  key = 0;
}

void TStringGrid::KeyPress(char& key) {
  TWinControl::KeyPress(key);
  if (key == 0 || EditorMode()) return;
  const auto ch = static_cast<unsigned char>(key);
  if (ch >= 32 && options_.Has(TGridOption::goEditing) && CanEditShow() && CanEditAcceptKey(key)) {
    // A typed character opens the editor with it as the new text.
    ShowEditor();
    if (EditorMode() && CanEditModify()) {
      editor_->setText(QString(QChar(ch)));
      SetEditText(col_, row_, std::string(1, key));
    }
    key = 0;
  }
}

void TStringGrid::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (CanFocus() && !grid_->hasFocus() && !editor_->hasFocus()) SetFocus();
  if (button == TMouseButton::mbLeft && options_.Has(TGridOption::goColSizing)) {
    const TRect firstData = CellRect(fixedCols_ < ColCount() ? fixedCols_ : 0, fixedRows_);
    if (y < firstData.Top || fixedRows_ == 0) {
      for (int c = 0; c < ColCount(); ++c) {
        const TRect r = CellRect(c, 0);
        if (r.Width() <= 0 && r.Height() <= 0) continue;
        if (x >= r.Right - 2 && x <= r.Right + gridLineWidth_ + 2) {
          sizingCol_ = c;
          sizingStartX_ = x;
          sizingStartWidth_ = ColWidths(c);
          TControl::MouseDown(button, shift, x, y);
          return;
        }
      }
    }
  }
  if (button == TMouseButton::mbLeft) {
    int col = -1, row = -1;
    MouseToCell(x, y, col, row);
    if (col >= fixedCols_ && row >= fixedRows_) {
      if (col == col_ && row == row_) {
        if (shift.Double && options_.Has(TGridOption::goEditing)) ShowEditor();
      } else {
        FocusCell(col, row);
      }
    }
  }
  TControl::MouseDown(button, shift, x, y);
}

void TStringGrid::MouseMove(TShiftState shift, int x, int y) {
  if (sizingCol_ >= 0) SetColWidths(sizingCol_, std::max(0, sizingStartWidth_ + x - sizingStartX_));
  TControl::MouseMove(shift, x, y);
}

void TStringGrid::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  sizingCol_ = -1;
  TControl::MouseUp(button, shift, x, y);
}

bool TStringGrid::EditorKey(QKeyEvent* event) {
  TShiftState shift = ShiftOf(event->modifiers());
  if (event->key() == Qt::Key_Backtab) shift.Shift = true;
  Word key = VirtualKeyFromQtKey(event->key(), event->modifiers().testFlag(Qt::KeypadModifier));
  const bool atStart = editor_->cursorPosition() == 0 && !editor_->hasSelectedText();
  const bool atEnd = editor_->cursorPosition() == editor_->text().size() && !editor_->hasSelectedText();
  bool toGrid = false;
  switch (key) {
    case VK_UP:
    case VK_DOWN:
    case VK_PRIOR:
    case VK_NEXT:
    case VK_ESCAPE: toGrid = true; break;
    case VK_INSERT: toGrid = shift.NoKeyModifier(); break;
    case VK_LEFT:
    case VK_HOME: toGrid = atStart || shift.Ctrl; break;
    case VK_RIGHT:
    case VK_END: toGrid = atEnd || shift.Ctrl; break;
    case VK_TAB: toGrid = !shift.Alt; break;
    case VK_DELETE: toGrid = shift.Ctrl; break;
    default: break;
  }
  TForm* form = ParentForm();
  const bool preview = form && form->KeyPreview();
  if (toGrid) {
    if (preview) form->KeyDown(key, shift);
    if (key != 0) KeyDown(key, shift);
    return true;
  }
  if (key != 0) {
    if (preview) form->KeyDown(key, shift);
    if (key != 0 && OnKeyDown) OnKeyDown(this, key, shift);
    if (key == 0) return true;
    if (key == VK_DELETE && !CanEditModify()) return true;
  }
  const QString text = event->text();
  if (text.size() != 1 || text[0].unicode() > 0xFF) return false;
  char ch = static_cast<char>(text[0].unicode());
  if (preview) form->KeyPress(ch);
  if (ch != 0) KeyPress(ch);
  if (ch == 0) return true;
  const auto u = static_cast<unsigned char>(ch);
  if (u >= 32 && !CanEditAcceptKey(ch)) return true;
  if (ch == '\t' || ch == 27) return true;
  if (ch == '\r') {
    editor_->selectAll();
    return true;
  }
  if ((u >= 32 || ch == 8 || ch == 22 || ch == 24) && !CanEditModify()) return true;
  return false;
}

void TStringGrid::ClampInView() {
  int top = topRow_;
  if (row_ < top) top = row_;
  const int visible = std::max(1, VisibleRowCount());
  if (row_ >= top + visible) top = row_ - visible + 1;
  int left = leftCol_;
  if (col_ < left) left = col_;
  const int visibleCols = std::max(1, VisibleColCount());
  if (col_ >= left + visibleCols) left = col_ - visibleCols + 1;
  if (top != topRow_) SetTopRow(top);
  if (left != leftCol_) SetLeftCol(left);
}

void TStringGrid::UpdateScrollBars() {
  grid_->syncing = true;
  const bool vertical = scrollBars_ == TGridScrollBars::ssVertical || scrollBars_ == TGridScrollBars::ssBoth;
  const bool horizontal = scrollBars_ == TGridScrollBars::ssHorizontal || scrollBars_ == TGridScrollBars::ssBoth;
  grid_->setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  grid_->setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  int totalHeight = 0;
  for (int r = 0; r < RowCount(); ++r) totalHeight += RowHeights(r) + gridLineWidth_;
  int totalWidth = 0;
  for (int c = 0; c < ColCount(); ++c) totalWidth += ColWidths(c) + gridLineWidth_;
  const int dataRows = RowCount() - fixedRows_;
  const int dataCols = ColCount() - fixedCols_;
  TScrollInfo info;
  grid_->ownsVertical = GetVerticalScrollInfo(info);
  QScrollBar* bar = grid_->verticalScrollBar();
  if (grid_->ownsVertical) {
    bar->setRange(0, std::max(0, info.Max));
    bar->setPageStep(std::max(1, info.Page));
    bar->setValue(std::clamp(info.Position, 0, std::max(0, info.Max)));
  } else {
    bar->setRange(0, totalHeight > grid_->viewport()->height() ? std::max(0, dataRows - 1) : 0);
    bar->setValue(topRow_ - fixedRows_);
  }
  grid_->horizontalScrollBar()->setRange(0, totalWidth > grid_->viewport()->width() ? std::max(0, dataCols - 1) : 0);
  grid_->horizontalScrollBar()->setValue(leftCol_ - fixedCols_);
  grid_->syncing = false;
}

bool TStringGrid::GetVerticalScrollInfo(TScrollInfo&) { return false; }
void TStringGrid::VerticalScroll(TScrollCode, int) {}
bool TStringGrid::DoMouseWheel(TShiftState, int) { return false; }

void TStringGrid::Paint(QPainter& painter, const QRect& area) {
  canvas_.Attach(&painter);
  const bool focused = grid_->hasFocus() || editor_->hasFocus();
  const TGridRect sel = Selection();
  const QColor fixedLine = ToQColor(clBlack);
  const QColor dataLine = ToQColor(clSilver);
  const int vw = grid_->viewport()->width();
  const int vh = grid_->viewport()->height();
  painter.fillRect(area, ToQColor(Color()));
  int y = 0;
  for (int r = 0; r < RowCount() && y < vh; ++r) {
    if (r >= fixedRows_ && r < topRow_) continue;
    const int h = RowHeights(r);
    int x = 0;
    for (int c = 0; c < ColCount() && x < vw; ++c) {
      if (c >= fixedCols_ && c < leftCol_) continue;
      const int w = ColWidths(c);
      const TRect rect = Bounds(x, y, w, h);
      const bool fixed = c < fixedCols_ || r < fixedRows_;
      TGridDrawState state;
      if (fixed) state.Include(TGridDrawStateItem::gdFixed);
      const bool selected = !fixed && c >= sel.Left && c <= sel.Right && r >= sel.Top && r <= sel.Bottom;
      if (selected) state.Include(TGridDrawStateItem::gdSelected);
      const bool isCurrent = c == col_ && r == row_;
      if (isCurrent && focused) state.Include(TGridDrawStateItem::gdFocused);
      canvas_.Font.Assign(Font());
      canvas_.Brush.Style = TBrushStyle::bsSolid;
      const bool highlight =
          selected && focused &&
          (!isCurrent || options_.Has(TGridOption::goDrawFocusSelected) || options_.Has(TGridOption::goRowSelect));
      if (fixed) {
        canvas_.Brush.Color = fixedColor_;
      } else if (highlight) {
        canvas_.Brush.Color = clHighlight;
        canvas_.Font.SetColor(clHighlightText);
      } else {
        canvas_.Brush.Color = Color();
      }
      if (DefaultDrawing) canvas_.FillRect(rect);
      painter.save();
      painter.setClipRect(QRect(x, y, w, h));
      Guarded(this, [&] { DrawCell(c, r, rect, state); });
      painter.restore();
      if (DefaultDrawing && fixed && Ctl3D) {
        painter.setPen(ToQColor(clBtnHighlight));
        painter.drawLine(x, y, x + w - 1, y);
        painter.drawLine(x, y, x, y + h - 1);
      }
      if (isCurrent && focused && !fixed && !options_.Has(TGridOption::goRowSelect) && !EditorMode()) {
        painter.setPen(QPen(ToQColor(clBlack), 1, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(x, y, w - 1, h - 1);
      }
      if (gridLineWidth_ > 0) {
        const bool vLine = fixed ? options_.Has(TGridOption::goFixedVertLine) : options_.Has(TGridOption::goVertLine);
        const bool hLine = fixed ? options_.Has(TGridOption::goFixedHorzLine) : options_.Has(TGridOption::goHorzLine);
        const QColor line = fixed ? fixedLine : dataLine;
        if (vLine) painter.fillRect(x + w, y, gridLineWidth_, h + gridLineWidth_, line);
        if (hLine) painter.fillRect(x, y + h, w + gridLineWidth_, gridLineWidth_, line);
      }
      x += w + gridLineWidth_;
    }
    y += h + gridLineWidth_;
  }
  canvas_.Detach();
}

void TStringGrid::ApplyColor() {
  if (grid_) grid_->viewport()->update();
}

void TStringGrid::ApplyFont() {
  TControl::ApplyFont();
  canvas_.Font.Assign(Font());
}

}  // namespace kavrin::classlib
