// TEditStringGrid (unit Editgrid): the class library's string grid made for entering lists of rows from
// the keyboard. The keys, focus and fitting rules are TEditStringGridController's; this grid hands it its
// key, mouse, focus, size and drawing steps.
#pragma once

#include <QPointer>
#include <functional>
#include <memory>
#include <string>

#include "classlib/widgets/grids.h"
#include "components/edit_grid_controller.h"

class QWidget;

namespace kavrin::components::editgrid {

class TEditStringGrid : public classlib::TStringGrid {
 public:
  explicit TEditStringGrid(classlib::TWinControl& parent);
  ~TEditStringGrid() override;

  TEditStringGridController& Controller() { return *controller_; }

  bool FitColumns() const { return controller_->FitColumns(); }
  void SetFitColumns(bool fit) { controller_->SetFitColumns(fit); }
  int ColumnsToFit() const { return controller_->ColumnsToFit(); }
  void SetColumnsToFit(int count) { controller_->SetColumnsToFit(count); }
  int MaxRows() const { return controller_->MaxRows(); }
  void SetMaxRows(int rows) { controller_->SetMaxRows(rows); }
  bool IsGridEmpty() { return controller_->IsGridEmpty(); }
  void StartFirstRow() { controller_->StartFirstRow(); }
  bool ValidateGrid() { return controller_->ValidateGrid(); }
  void Loaded() { controller_->Loaded(); }

  // Drawing a cell: the copy of the grid's font may be changed; a data cell may be drawn by the
  // application, which then sets drawn and the grid draws no text.
  std::function<void(int col, int row, classlib::TFont& font)> OnGetFont;
  std::function<void(int col, int row, const classlib::TRect& rect, const std::string& text,
                     classlib::TGridDrawState state, TAlignment alignment, bool& drawn)>
      OnDrawDataCell;
  std::function<void(int col, int& limit)> OnGetEditLimit;
  std::function<void(int col, char key, bool& can_accept)> OnCanEditAcceptKey;
  std::function<void(int col, classlib::Word key, classlib::TShiftState shift, bool& can_accept)> OnCanGridAcceptKey;

  void KeyDown(classlib::Word& key, classlib::TShiftState shift) override;
  void KeyPress(char& key) override;
  void MouseDown(classlib::TMouseButton button, classlib::TShiftState shift, int x, int y) override;
  void DoEnter() override;
  void DoExit() override;
  void DrawCell(int col, int row, const classlib::TRect& rect, classlib::TGridDrawState state) override;
  bool CanEditShow() override;
  bool CanEditModify() override;
  bool CanEditAcceptKey(char key) override;
  bool CanGridAcceptKey(classlib::Word key, classlib::TShiftState shift) override;
  int GetEditLimit() override;
  void SetEditText(int col, int row, const std::string& value) override;
  void ColWidthsChanged() override;
  void TopLeftChanged() override;
  void SizeChanged(int oldColCount, int oldRowCount) override;

 private:
  class View;
  class ViewportEvents;
  friend class View;

  std::unique_ptr<View> view_;
  std::unique_ptr<TEditStringGridController> controller_;
  ViewportEvents* viewport_events_ = nullptr;
  QPointer<QWidget> previous_focus_;  // the control that had the focus before the grid

 public:
  // The column, row and cell events, on the grid as programs set them; they are the controller's own.
  decltype(TEditStringGridController::OnColEnter)& OnColEnter = controller_->OnColEnter;
  decltype(TEditStringGridController::OnColExit)& OnColExit = controller_->OnColExit;
  decltype(TEditStringGridController::OnRowEnter)& OnRowEnter = controller_->OnRowEnter;
  decltype(TEditStringGridController::OnRowExit)& OnRowExit = controller_->OnRowExit;
  decltype(TEditStringGridController::OnGetRowIsEmpty)& OnGetRowIsEmpty = controller_->OnGetRowIsEmpty;
  decltype(TEditStringGridController::OnNewRow)& OnNewRow = controller_->OnNewRow;
  decltype(TEditStringGridController::OnCanDeleteRow)& OnCanDeleteRow = controller_->OnCanDeleteRow;
  decltype(TEditStringGridController::OnCanEditModify)& OnCanEditModify = controller_->OnCanEditModify;
  decltype(TEditStringGridController::OnCanEditShow)& OnCanEditShow = controller_->OnCanEditShow;
  decltype(TEditStringGridController::OnGetTextAlignment)& OnGetTextAlignment = controller_->OnGetTextAlignment;
  decltype(TEditStringGridController::OnGetColor)& OnGetColor = controller_->OnGetColor;
  decltype(TEditStringGridController::OnGetDisplayText)& OnGetDisplayText = controller_->OnGetDisplayText;
};

}  // namespace kavrin::components::editgrid
