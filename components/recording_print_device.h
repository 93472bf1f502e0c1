// Devices for tests: a printer, a preview bitmap and a screen that draw nothing and record every call
// in device pixels, with metrics the test sets.
//
// Fixed text metrics, on every recording canvas and screen: a text is h pixels high and each of its
// characters (UTF-8 code points) is (h + 1) / 2 pixels wide, h the font's Height (0 when negative).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "components/print_device.h"

namespace kavrin::components::rptworks {

// One recorded call: its name, its numbers in call order, its text, and the sheet of the print job it
// went to (0 outside a job, 1 for the job's first sheet).
struct RecordedCall {
  std::string Op;
  std::vector<std::int32_t> Args;
  std::string Text;
  std::int32_t Sheet = 0;
  // "Op(a,b,...)" or "Op(a,b,...;text)".
  std::string Str() const;
};

std::int32_t RecordingTextHeight(const TDeviceFont& font);
std::int32_t RecordingTextWidth(const TDeviceFont& font, std::string_view text);

class RecordingCanvas : public TDeviceCanvas {
 public:
  explicit RecordingCanvas(const std::int32_t* sheet = nullptr) : sheet_(sheet) {}
  void SetPen(const TDevicePen& pen) override;
  void SetBrush(const TDeviceBrush& brush) override;
  void SetFont(const TDeviceFont& font) override;
  std::int32_t TextWidth(std::string_view text) override;
  std::int32_t TextHeight(std::string_view text) override;
  void TextRect(const TRect& clip, std::int32_t x, std::int32_t y, std::string_view text, bool opaque) override;
  void TextOut(std::int32_t x, std::int32_t y, std::string_view text, bool opaque) override;
  void MoveTo(std::int32_t x, std::int32_t y) override;
  void LineTo(std::int32_t x, std::int32_t y) override;
  void Rectangle(const TRect& rect) override;
  void Polyline(const std::vector<TPoint>& points) override;

  const TDevicePen& Pen() const { return pen_; }
  const TDeviceBrush& Brush() const { return brush_; }
  const TDeviceFont& Font() const { return font_; }
  TPoint PenPosition() const { return position_; }

  std::vector<RecordedCall> Calls;
  // The calls named op, in order.
  std::vector<RecordedCall> CallsOf(std::string_view op) const;
  void Record(std::string op, std::vector<std::int32_t> args, std::string text = {});

 private:
  const std::int32_t* sheet_;
  TDevicePen pen_;
  TDeviceBrush brush_;
  TDeviceFont font_;
  TPoint position_;
};

// A printer whose pages, resolution and offsets the test sets (portrait values; landscape swaps them).
// A job that ends with EndDoc is kept in Delivered; an aborted job leaves nothing.
class RecordingPrinter : public TPrintDevice {
 public:
  struct Job {
    std::string Title;
    std::string Port;
    std::int32_t Sheets = 0;
  };

  RecordingPrinter();

  std::int32_t PixelsPerInchX() override { return ppi_x; }
  std::int32_t PixelsPerInchY() override { return ppi_y; }
  TPoint PhysicalPageSize() override;
  TPoint PrintingOffset() override;
  std::string DeviceName() override { return device_name; }
  std::string Port() override { return port_; }
  void SetPort(const std::string& port) override;
  void SetTitle(const std::string& title) override;
  void SetOrientation(TPrinterOrientation orientation) override;
  void BeginDoc() override;
  void NewPage() override;
  void EndDoc() override;
  void Abort() override;
  bool Printing() override { return printing_; }
  TDeviceCanvas& Canvas() override { return canvas; }

  // Set by the test.
  std::int32_t ppi_x = 300;
  std::int32_t ppi_y = 300;
  TPoint portrait_page{2550, 3300};  // Letter at 300 dpi
  TPoint portrait_offset{0, 0};
  std::string device_name = "Recording Printer";

  TPrinterOrientation Orientation() const { return orientation_; }
  const std::string& Title() const { return title_; }
  std::int32_t Sheet() const { return sheet_; }
  std::vector<Job> Delivered;
  std::int32_t Aborted = 0;
  RecordingCanvas canvas;

 private:
  std::string port_ = "LPT1:";
  std::string title_;
  TPrinterOrientation orientation_ = TPrinterOrientation::poPortrait;
  bool printing_ = false;
  std::int32_t sheet_ = 0;
};

class RecordingPreview : public TPreviewDevice {
 public:
  void SetSize(std::int32_t width, std::int32_t height) override;
  std::int32_t Width() override { return width_; }
  std::int32_t Height() override { return height_; }
  TDeviceCanvas& Canvas() override { return canvas; }
  RecordingCanvas canvas;

 private:
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
};

class RecordingScreen : public TScreenDevice {
 public:
  std::int32_t PixelsPerInch() override { return ppi; }
  std::int32_t TextWidth(const TDeviceFont& font, std::string_view text) override {
    return RecordingTextWidth(font, text);
  }
  std::int32_t ppi = 96;
};

}  // namespace kavrin::components::rptworks
