#include "components/rpt_works.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

#include "classlib/data/field.h"
#include "components/word_wrap.h"
#include "platform/ticks.h"

namespace kavrin::components::rptworks {

namespace {

constexpr float kPerMillimetre = 0.039370078740157480314f;
constexpr float kPerPoint = 0.013888888888888888889f;
constexpr char kDefaultFileName[] = "rptworks.prn";
constexpr char kSmallFonts[] = "Small Fonts";

// Nearest integer, halves away from zero; huge and undefined values are held to what a page can use.
std::int32_t RoundPixels(double value) {
  if (std::isnan(value)) return 0;
  constexpr double kLimit = 1 << 30;
  return static_cast<std::int32_t>(std::lround(std::clamp(value, -kLimit, kLimit)));
}

std::int32_t ClampInto(std::int32_t v, std::int32_t low, std::int32_t high) { return std::max(low, std::min(v, high)); }

}  // namespace

std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c) {
  if (c == 0) return -1;
  const std::int64_t product = static_cast<std::int64_t>(a) * b;
  std::int64_t quotient = product / c;
  const std::int64_t remainder = product % c;
  if (2 * (remainder < 0 ? -remainder : remainder) >= (c < 0 ? -static_cast<std::int64_t>(c) : c)) {
    quotient += ((product < 0) != (c < 0)) ? -1 : 1;
  }
  if (quotient > std::numeric_limits<std::int32_t>::max() || quotient < std::numeric_limits<std::int32_t>::min()) {
    return -1;
  }
  return static_cast<std::int32_t>(quotient);
}

TReportWorks::TReportWorks(TPrintDevice& printer, TPreviewDevice& preview, TScreenDevice& screen,
                           TPrintingDialogFactory dialog)
    : printer_(printer),
      preview_(preview),
      screen_(screen),
      dialog_factory_(std::move(dialog)),
      canvas_(&preview.Canvas()) {
  const std::int32_t ppi = screen_.PixelsPerInch();
  preview_.SetSize(9 * ppi, 11 * ppi);
}

// The printer outlives the report: a job left open would fail every later report.
TReportWorks::~TReportWorks() { AbortReport(); }

template <typename F>
void TReportWorks::Guarded(F&& step) {
  try {
    step();
  } catch (...) {
    Fail();
    throw;
  }
}

void TReportWorks::Fail() noexcept {
  running_ = false;
  if (job_open_) {
    job_open_ = false;
    // The report's own failure is what the caller sees; the clean-up's are secondary.
    try {
      if (printer_.Printing()) printer_.Abort();
    } catch (...) {
    }
    if (port_saved_) {
      port_saved_ = false;
      try {
        printer_.SetPort(saved_port_);
      } catch (...) {
      }
    }
  }
  dialog_.reset();
}

void TReportWorks::AbortReport() {
  if (running_ || job_open_ || dialog_) Fail();
}

void TReportWorks::SetTopMargin(float value) {
  top_margin_ = value;
  if (running_) Guarded([&] { ApplyMargins(); });
}
void TReportWorks::SetBottomMargin(float value) {
  bottom_margin_ = value;
  if (running_) Guarded([&] { ApplyMargins(); });
}
void TReportWorks::SetLeftMargin(float value) {
  left_margin_ = value;
  if (running_) Guarded([&] { ApplyMargins(); });
}
void TReportWorks::SetRightMargin(float value) {
  right_margin_ = value;
  if (running_) Guarded([&] { ApplyMargins(); });
}

void TReportWorks::SetCurrentPage(std::int32_t value) {
  current_page_ = std::clamp(value, 1, std::max(page_total_, 1));
}

void TReportWorks::SetOrientation(TPrinterOrientation value) {
  orientation_ = value;
  Guarded([&] {
    printer_.SetOrientation(value);
    if (running_) {
      ComputePageMetrics();
      ApplyMargins();
      HomeCursor();
    }
  });
}

void TReportWorks::SetReportFont(const TReportFont& font) {
  report_font_ = font;
  if (running_) Guarded([&] { ApplyReportFont(); });
}

void TReportWorks::SetUnits(TUnits value) {
  units_ = value;
  if (running_) Guarded([&] { ComputeUnits(); });
}

float TReportWorks::TextWidth(std::string_view text) {
  float width = 0;
  Guarded([&] {
    if (ppu_x_ > 0) width = static_cast<float>(canvas_->TextWidth(text)) / ppu_x_;
  });
  return width;
}

float TReportWorks::PageWidthInches() {
  float inches = 0;
  Guarded([&] {
    const std::int32_t ppi = printer_.PixelsPerInchX();
    if (ppi > 0) inches = static_cast<float>(printer_.PhysicalPageSize().X) / static_cast<float>(ppi);
  });
  return inches;
}

float TReportWorks::PageHeightInches() {
  float inches = 0;
  Guarded([&] {
    const std::int32_t ppi = printer_.PixelsPerInchY();
    if (ppi > 0) inches = static_cast<float>(printer_.PhysicalPageSize().Y) / static_cast<float>(ppi);
  });
  return inches;
}

std::int32_t TReportWorks::ZoomValue(std::int32_t value) const { return MulDiv(value, ZoomPercent, 100); }

std::int32_t TReportWorks::AddPercent(std::int32_t value, std::int32_t percent) {
  percent = std::clamp(percent, 0, 100);
  if (percent == 0) return value;
  return value + MulDiv(value, percent, 100);
}

double TReportWorks::UnitsPerInch() const {
  switch (units_) {
    case TUnits::uMM: return 25.4;
    case TUnits::uPoint: return 72.0;
    case TUnits::uInch: break;
  }
  return 1.0;
}

void TReportWorks::ComputePageMetrics() {
  const std::int32_t ppi_x = printer_.PixelsPerInchX();
  const std::int32_t ppi_y = printer_.PixelsPerInchY();
  if (ppi_x <= 0 || ppi_y <= 0) throw EPrinter("The printer reports no resolution");
  const TPoint physical = printer_.PhysicalPageSize();
  page_width_in_ = static_cast<float>(physical.X) / static_cast<float>(ppi_x);
  page_height_in_ = static_cast<float>(physical.Y) / static_cast<float>(ppi_y);
  if (ToPrinter()) {
    page_px_ = physical;
    offset_ = printer_.PrintingOffset();
    canvas_ = &printer_.Canvas();
  } else {
    const double screen_ppi = screen_.PixelsPerInch();
    std::int32_t w = RoundPixels(page_width_in_ * screen_ppi);
    std::int32_t h = RoundPixels(page_height_in_ * screen_ppi);
    if (ZoomPercent != 100) {
      w = ZoomValue(w);
      h = ZoomValue(h);
    }
    preview_.SetSize(w, h);
    page_px_ = {preview_.Width(), preview_.Height()};
    width_ = page_px_.X;
    height_ = page_px_.Y;
    offset_ = {0, 0};
    canvas_ = &preview_.Canvas();
  }
  ComputeUnits();
}

void TReportWorks::ComputeUnits() {
  float dev_x = 0;
  float dev_y = 0;
  if (ToPrinter()) {
    dev_x = static_cast<float>(printer_.PixelsPerInchX());
    dev_y = static_cast<float>(printer_.PixelsPerInchY());
  } else {
    dev_x = dev_y = static_cast<float>(ZoomValue(screen_.PixelsPerInch()));
  }
  float factor = 1.0f;
  if (units_ == TUnits::uMM) factor = kPerMillimetre;
  if (units_ == TUnits::uPoint) factor = kPerPoint;
  ppu_x_ = dev_x * factor;
  ppu_y_ = dev_y * factor;
}

void TReportWorks::ApplyMargins() {
  // A margin inside the unprintable strip is raised to it, so the drawing area starts where the
  // printer can print.
  auto effective = [](float margin, float ppu, std::int32_t offset) -> double {
    if (ppu <= 0) return margin;
    if (static_cast<double>(margin) * ppu < offset) return static_cast<double>(offset) / ppu;
    return margin;
  };
  const double top = effective(top_margin_, ppu_y_, offset_.Y);
  const double bottom = effective(bottom_margin_, ppu_y_, offset_.Y);
  const double left = effective(left_margin_, ppu_x_, offset_.X);
  const double right = effective(right_margin_, ppu_x_, offset_.X);
  top_ = RoundPixels(top * ppu_y_) - offset_.Y;
  bottom_ = page_px_.Y - RoundPixels(bottom * ppu_y_) - offset_.Y;
  left_ = RoundPixels(left * ppu_x_) - offset_.X;
  right_ = page_px_.X - RoundPixels(right * ppu_x_) - offset_.X;
}

void TReportWorks::ApplyReportFont() {
  const std::int32_t font_ppi = RoundPixels(ppu_x_ * UnitsPerInch());
  TDeviceFont font{report_font_.Name, 0, report_font_.Style, report_font_.Color};
  if (ToPrinter()) {
    font.Height = MulDiv(report_font_.Size, font_ppi, 72);
  } else {
    font.Height = ZoomValue(MulDiv(report_font_.Size, screen_.PixelsPerInch(), 72));
    if (font_ppi > 0 && MulDiv(font.Height, 72, font_ppi) < 8) font.Name = kSmallFonts;
  }
  canvas_->SetFont(font);
}

bool TReportWorks::PageWanted() const {
  if (!ToPrinter()) return page_num_ == current_page_;
  return page_num_ >= PrintPageFirst && page_num_ <= PrintPageLast;
}

TPoint TReportWorks::Map(float x, float y) const {
  const std::int32_t px = left_ + RoundPixels(static_cast<double>(x) * ppu_x_);
  const std::int32_t py = top_ + RoundPixels(static_cast<double>(y) * ppu_y_);
  return {ClampInto(px, left_, right_), ClampInto(py, top_, bottom_)};
}

void TReportWorks::Cursor(TPoint p) {
  cursor_ = p;
  canvas_->MoveTo(p.X, p.Y);
}

bool TReportWorks::Opaque() const {
  return TextStyle != TTextStyle::tsTransparent && brush_.Style != TBrushStyle::bsClear;
}

void TReportWorks::BeginReport() {
  if (running_) throw EPrinter("Printing in progress");
  Guarded([&] {
    if (OnPrint) OnPrint();
    running_ = true;
    job_destination_ = Destination;
    ComputePageMetrics();
    ApplyMargins();
    HomeCursor();
    pen_ = TDevicePen{clBlack, ZoomValue(1), TPenStyle::psSolid, TPenMode::pmCopy};
    canvas_->SetPen(pen_);
    brush_ = TDeviceBrush{clWhite, TBrushStyle::bsSolid};
    canvas_->SetBrush(brush_);
    line_ = 0;
    page_num_ = 1;
    if (ToPrinter()) {
      if (job_destination_ == TDestination::dPrinter) printer_.SetTitle(Title);
      const std::string device = printer_.DeviceName();
      const std::string port = printer_.Port();
      if (job_destination_ == TDestination::dFile) {
        saved_port_ = port;
        port_saved_ = true;
        job_open_ = true;  // from here a failure restores the port
        printer_.SetPort(FileName.empty() ? std::string(kDefaultFileName) : FileName);
      }
      job_open_ = true;
      if (dialog_factory_) {
        dialog_ = dialog_factory_(printer_);
        if (dialog_) {
          const std::string label2 = Title.empty() ? "\"Untitled\" on" : "\"" + Title + "\" on";
          const std::string label3 =
              job_destination_ == TDestination::dFile ? device + " to FILE:" : device + " to " + port;
          dialog_->Show("Now printing page " + std::to_string(PrintPageFirst) + " of", label2, label3);
        }
      }
      printer_.BeginDoc();
    } else {
      canvas_->SetPen(TDevicePen{PageBorder ? clBlack : clWhite, pen_.Width, pen_.Style, pen_.Mode});
      canvas_->Rectangle({0, 0, page_px_.X, page_px_.Y});
      canvas_->SetPen(pen_);
    }
    ApplyReportFont();
  });
}

// Pending events run at each page step, so the dialog's Cancel is live; a cancelled job then fails the
// step.
void TReportWorks::StepPrinter(bool new_sheet) {
  platform::ProcessMessages();
  if (!printer_.Printing()) throw EPrinterNotPrinting();
  if (new_sheet) printer_.NewPage();
}

void TReportWorks::NewPage() {
  Guarded([&] {
    HomeCursor();
    line_ = 0;
    ++page_num_;
    if (ToPrinter() && running_) {
      const bool sheet = PrintPageFirst < page_num_ && page_num_ <= PrintPageLast;
      if (sheet && dialog_) dialog_->SetLabel1("Now printing page " + std::to_string(page_num_) + " of");
      StepPrinter(sheet);
    }
  });
}

void TReportWorks::EndReport() {
  if (!running_) return;
  Guarded([&] {
    page_total_ = page_num_;
    running_ = false;
    if (ToPrinter()) {
      StepPrinter(false);
      printer_.EndDoc();
      job_open_ = false;
      if (port_saved_) {
        port_saved_ = false;
        printer_.SetPort(saved_port_);
      }
      dialog_.reset();
    } else if (OnRepaint) {
      OnRepaint();
    }
  });
}

void TReportWorks::MoveCursor(float x, float y) {
  Guarded([&] { Cursor(Map(x, y)); });
}

void TReportWorks::HomeCursor() {
  Guarded([&] { Cursor({left_, top_}); });
}

void TReportWorks::BoxText(Align align, std::string_view text, float left, float top, float right, float bottom) {
  Guarded([&] {
    if (!PageWanted()) return;
    const bool opaque = Opaque();
    MoveCursor(left, top);
    const TPoint p1 = cursor_;
    MoveCursor(right, bottom);
    const TPoint p2 = cursor_;
    const std::int32_t tw = canvas_->TextWidth(text);
    const std::int32_t th = canvas_->TextHeight(text);
    const std::int32_t y = p1.Y + (p2.Y - p1.Y - th) / 2;
    std::int32_t x = p1.X;
    if (align == Align::Center) x = p1.X + (p2.X - p1.X - tw) / 2;
    if (align == Align::Right) x = p1.X + (p2.X - p1.X - tw);
    canvas_->TextRect({p1.X, p1.Y, p2.X, p2.Y}, x, y, text, opaque);
  });
}

void TReportWorks::PrintLeft(std::string_view text, float left, float top, float right, float bottom) {
  BoxText(Align::Left, text, left, top, right, bottom);
}
void TReportWorks::PrintCenter(std::string_view text, float left, float top, float right, float bottom) {
  BoxText(Align::Center, text, left, top, right, bottom);
}
void TReportWorks::PrintRight(std::string_view text, float left, float top, float right, float bottom) {
  BoxText(Align::Right, text, left, top, right, bottom);
}

void TReportWorks::DrawLine(float x1, float y1, float x2, float y2) {
  Guarded([&] {
    if (!PageWanted()) return;
    const TPoint a = Map(x1, y1);
    const TPoint b = Map(x2, y2);
    canvas_->MoveTo(a.X, a.Y);
    canvas_->LineTo(b.X, b.Y);
    cursor_ = b;
  });
}

void TReportWorks::DrawBox(float left, float top, float right, float bottom) {
  Guarded([&] {
    if (!PageWanted()) return;
    const TPoint a = Map(left, top);
    const TPoint b = Map(right, bottom);
    canvas_->Rectangle({a.X, a.Y, b.X, b.Y});
    Cursor(b);
  });
}

void TReportWorks::DrawCheck(float left, float top, float right, float bottom) {
  Guarded([&] {
    if (!PageWanted()) return;
    const std::int32_t e = canvas_->TextWidth("l");
    const TPoint a = Map(left, top);
    const TPoint b = Map(right, bottom);
    pen_.Color = clBlack;
    pen_.Width = 1;
    canvas_->SetPen(pen_);
    const std::int32_t cx = a.X + (b.X - a.X) / 2;
    const std::int32_t base = a.Y + (b.Y - a.Y) / 2 + e / 2;
    for (std::int32_t i = 0; i <= e; ++i) {
      canvas_->Polyline({{cx - e, base - i}, {cx, base + e - i}, {cx + 2 * e + e / 2, base - e - e / 2 - i}});
    }
  });
}

void TReportWorks::SetPen(TColor color, std::int32_t width, TPenStyle style, TPenMode mode) {
  Guarded([&] {
    pen_ = TDevicePen{color, ZoomValue(width), style, mode};
    canvas_->SetPen(pen_);
  });
}

void TReportWorks::SetBrush(TColor color, TBrushStyle style) {
  Guarded([&] {
    brush_ = TDeviceBrush{color, style};
    canvas_->SetBrush(brush_);
  });
}

void TReportWorks::LineStep() {
  if (LinesPerInch <= 0) throw std::invalid_argument("LinesPerInch must be above 0 to space lines by it");
  cursor_.Y = top_ + RoundPixels(static_cast<double>(ppu_y_) / LinesPerInch * line_);
}

void TReportWorks::NewLine() {
  Guarded([&] {
    cursor_.X = left_;
    ++line_;
    if (LineMeasure == TLineMeasure::lmLinesPerInch) {
      LineStep();
    } else {
      cursor_.Y += AddPercent(canvas_->TextHeight("M"), 10);
    }
    Cursor(cursor_);
  });
}

void TReportWorks::GotoLine(std::int32_t n) {
  Guarded([&] {
    cursor_.X = left_;
    line_ = std::max(n - 1, 0);
    if (LineMeasure == TLineMeasure::lmLinesPerInch) LineStep();
    Cursor(cursor_);
  });
}

void TReportWorks::PrintText(std::string_view text) {
  Guarded([&] {
    if (!PageWanted()) return;
    canvas_->TextOut(cursor_.X, cursor_.Y, text, Opaque());
    Cursor({cursor_.X + canvas_->TextWidth(text), cursor_.Y});
  });
}

void TReportWorks::PrintLine(std::string_view text) {
  PrintText(text);
  NewLine();
}

bool TReportWorks::PageFull() {
  bool full = false;
  Guarded([&] { full = cursor_.Y + canvas_->TextHeight("M") > bottom_; });
  return full;
}

void TReportWorks::PrintWrapped(std::string_view text) {
  Guarded([&] {
    const double device_ppi = static_cast<double>(ppu_x_) * UnitsPerInch();
    const std::int32_t screen_ppi = screen_.PixelsPerInch();
    const std::int32_t width = (device_ppi > 0 ? RoundPixels((right_ - left_) / device_ppi * screen_ppi) : 0) - 25;
    const TDeviceFont font{report_font_.Name, MulDiv(report_font_.Size, screen_ppi, 72), report_font_.Style,
                           report_font_.Color};
    const std::vector<std::string> lines =
        WrapText(text, width, [&](std::string_view s) { return screen_.TextWidth(font, s); });
    for (const std::string& line : lines) {
      PrintLine(line);
      if (PageFull()) NewPage();
    }
  });
}

void TReportWorks::PrintMemo(classlib::TField& field) {
  std::string text;
  // A field that cannot be read ends the report like any other failure.
  Guarded([&] { text = field.AsString(); });
  PrintMemo(std::string_view(text));
}

void TReportWorks::PrintMemo(std::string_view text) {
  std::string plain;
  plain.reserve(text.size());
  for (char c : text) {
    if (c != '\r') plain += c;
  }
  Guarded([&] {
    std::string_view rest = plain;
    for (std::size_t lf = rest.find('\n'); lf != std::string_view::npos; lf = rest.find('\n')) {
      const std::string_view piece = rest.substr(0, lf);
      if (piece.empty()) NewLine();
      PrintWrapped(piece);
      rest.remove_prefix(lf + 1);
    }
    PrintWrapped(rest);
  });
}

}  // namespace kavrin::components::rptworks
