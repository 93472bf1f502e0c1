// TReportWorks (unit RptWorks): an immediate-mode page printer. A report starts, draws texts, lines,
// boxes and tick marks at positions in inches, millimetres or points from the top-left corner of the
// margin area (clamped into it), turns its pages and ends. It draws on a printer device (the printer or
// a file through it) or on a preview bitmap; word wrapping measures on the screen.
//
// Any exception that ends a report, from its own operations or passed to AbortReport by a caller, and
// the report's destruction while it runs, leave it idle: the running flag clear, the print job
// discarded, the printer's port restored and the printing dialog released once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "components/print_device.h"

namespace kavrin::classlib {
class TField;
}

namespace kavrin::components::rptworks {

enum class TDestination : std::uint8_t { dPreview, dPrinter, dFile };
enum class TLineMeasure : std::uint8_t { lmTextHeight, lmLinesPerInch };
enum class TTextStyle : std::uint8_t { tsDefault, tsTransparent };
enum class TUnits : std::uint8_t { uInch, uMM, uPoint };

// The report font as the program sets it; Size in points.
struct TReportFont {
  std::string Name = "MS Sans Serif";
  std::int32_t Size = 8;
  TFontStyles Style = 0;
  TColor Color = clBlack;
  bool operator==(const TReportFont&) const = default;
};

// a * b / c rounded to the nearest integer, halves away from zero; -1 when c is 0 or the result does
// not fit, like Win32 MulDiv.
std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c);

class TReportWorks {
 public:
  // Makes the "Printing" dialog for a printer or file report; it cancels through the printer given.
  using TPrintingDialogFactory = std::function<std::unique_ptr<TPrintingDialog>(TPrintDevice& printer)>;

  TReportWorks(TPrintDevice& printer, TPreviewDevice& preview, TScreenDevice& screen,
               TPrintingDialogFactory dialog = {});
  TReportWorks(const TReportWorks&) = delete;
  TReportWorks& operator=(const TReportWorks&) = delete;
  ~TReportWorks();

  // Properties without side effects.
  TDestination Destination = TDestination::dPreview;
  std::string FileName;  // empty: "rptworks.prn"
  TLineMeasure LineMeasure = TLineMeasure::lmTextHeight;
  std::int32_t LinesPerInch = 0;
  bool PageBorder = false;
  std::int32_t PrintPageFirst = 1;
  std::int32_t PrintPageLast = 999;
  TTextStyle TextStyle = TTextStyle::tsDefault;
  std::string Title;
  std::int32_t ZoomPercent = 100;
  std::function<void()> OnPrint;
  // Repaints the control after a preview report.
  std::function<void()> OnRepaint;

  // Margins keep the value set; while running a change moves the drawing area at once.
  float TopMargin() const { return top_margin_; }
  float BottomMargin() const { return bottom_margin_; }
  float LeftMargin() const { return left_margin_; }
  float RightMargin() const { return right_margin_; }
  void SetTopMargin(float value);
  void SetBottomMargin(float value);
  void SetLeftMargin(float value);
  void SetRightMargin(float value);

  std::int32_t CurrentPage() const { return current_page_; }
  void SetCurrentPage(std::int32_t value);  // clamped to 1..PageTotal
  std::int32_t LineNum() const { return line_ + 1; }
  std::int32_t PageNum() const { return page_num_; }
  std::int32_t PageTotal() const { return page_total_; }
  TPrinterOrientation Orientation() const { return orientation_; }
  void SetOrientation(TPrinterOrientation value);
  const TReportFont& ReportFont() const { return report_font_; }
  void SetReportFont(const TReportFont& font);
  TUnits Units() const { return units_; }
  void SetUnits(TUnits value);
  bool Running() const { return running_; }
  // The control's size: 100 by 105 until a preview sizes it to its bitmap; the preview is painted only
  // when the control is wider than 100.
  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }

  void BeginReport();
  void NewPage();
  void EndReport();
  // Ends a running report as a failure does; for a caller whose own failure stops the report.
  void AbortReport();

  void MoveCursor(float x, float y);
  void HomeCursor();
  void PrintLeft(std::string_view text, float left, float top, float right, float bottom);
  void PrintCenter(std::string_view text, float left, float top, float right, float bottom);
  void PrintRight(std::string_view text, float left, float top, float right, float bottom);
  void DrawLine(float x1, float y1, float x2, float y2);
  void DrawBox(float left, float top, float right, float bottom);
  void DrawCheck(float left, float top, float right, float bottom);
  void SetPen(TColor color, std::int32_t width, TPenStyle style, TPenMode mode);
  void SetBrush(TColor color, TBrushStyle style);

  void NewLine();
  void GotoLine(std::int32_t n);
  void PrintText(std::string_view text);
  void PrintLine(std::string_view text);
  void PrintWrapped(std::string_view text);
  // A memo field's whole text, read through its blob stream: CRs dropped, each LF ends a paragraph
  // and an empty paragraph is one NewLine.
  void PrintMemo(classlib::TField& field);
  void PrintMemo(std::string_view text);
  bool PageFull();

  // What the programs' layouts measure. The text's width in the report font on the report's device, in
  // Units (valid while a report runs, 0 before the first); the sheet's width and height in inches for
  // the orientation set, the page size every position is laid out on.
  float TextWidth(std::string_view text);
  float PageWidthInches();
  float PageHeightInches();

  std::int32_t ZoomValue(std::int32_t value) const;
  static std::int32_t AddPercent(std::int32_t value, std::int32_t percent);

  // The drawing area and the cursor in device pixels (valid while running).
  TRect DrawingArea() const { return {left_, top_, right_, bottom_}; }
  TPoint CursorPosition() const { return cursor_; }

 private:
  enum class Align { Left, Center, Right };

  template <typename F>
  void Guarded(F&& step);
  void Fail() noexcept;
  bool ToPrinter() const { return job_destination_ != TDestination::dPreview; }
  bool PageWanted() const;
  void ComputePageMetrics();
  void ComputeUnits();
  void ApplyMargins();
  void ApplyReportFont();
  double UnitsPerInch() const;
  TPoint Map(float x, float y) const;
  void Cursor(TPoint p);
  void BoxText(Align align, std::string_view text, float left, float top, float right, float bottom);
  void LineStep();
  bool Opaque() const;
  void StepPrinter(bool new_sheet);

  TPrintDevice& printer_;
  TPreviewDevice& preview_;
  TScreenDevice& screen_;
  TPrintingDialogFactory dialog_factory_;
  std::unique_ptr<TPrintingDialog> dialog_;
  TDeviceCanvas* canvas_;

  float top_margin_ = 1.0f;
  float bottom_margin_ = 1.0f;
  float left_margin_ = 1.0f;
  float right_margin_ = 1.0f;
  std::int32_t current_page_ = 1;
  std::int32_t page_num_ = 1;
  std::int32_t page_total_ = 1;
  TPrinterOrientation orientation_ = TPrinterOrientation::poPortrait;
  TReportFont report_font_;
  TUnits units_ = TUnits::uInch;
  std::int32_t width_ = 100;
  std::int32_t height_ = 105;

  bool running_ = false;
  TDestination job_destination_ = TDestination::dPreview;
  bool job_open_ = false;  // a printer job was started and is not yet ended or discarded
  bool port_saved_ = false;
  std::string saved_port_;
  std::int32_t line_ = 0;
  std::int32_t bottom_ = 0;
  std::int32_t left_ = 0;
  std::int32_t right_ = 0;
  std::int32_t top_ = 0;
  float page_width_in_ = 0;
  float page_height_in_ = 0;
  float ppu_x_ = 0;
  float ppu_y_ = 0;
  TPoint page_px_;
  TPoint offset_;
  TPoint cursor_;
  TDevicePen pen_;
  TDeviceBrush brush_;
};

}  // namespace kavrin::components::rptworks
