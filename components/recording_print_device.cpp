#include "components/recording_print_device.h"

#include <utility>

namespace kavrin::components::rptworks {

namespace {

std::int32_t CodePoints(std::string_view text) {
  std::int32_t n = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) ++n;
  }
  return n;
}

}  // namespace

std::string RecordedCall::Str() const {
  std::string s = Op + "(";
  for (std::size_t i = 0; i < Args.size(); ++i) {
    if (i > 0) s += ",";
    s += std::to_string(Args[i]);
  }
  if (!Text.empty()) s += ";" + Text;
  return s + ")";
}

std::int32_t RecordingTextHeight(const TDeviceFont& font) { return font.Height < 0 ? 0 : font.Height; }

std::int32_t RecordingTextWidth(const TDeviceFont& font, std::string_view text) {
  return CodePoints(text) * ((RecordingTextHeight(font) + 1) / 2);
}

void RecordingCanvas::Record(std::string op, std::vector<std::int32_t> args, std::string text) {
  Calls.push_back(RecordedCall{std::move(op), std::move(args), std::move(text), sheet_ ? *sheet_ : 0});
}

std::vector<RecordedCall> RecordingCanvas::CallsOf(std::string_view op) const {
  std::vector<RecordedCall> out;
  for (const RecordedCall& call : Calls) {
    if (call.Op == op) out.push_back(call);
  }
  return out;
}

void RecordingCanvas::SetPen(const TDevicePen& pen) {
  pen_ = pen;
  Record("SetPen", {static_cast<std::int32_t>(pen.Color), pen.Width, static_cast<std::int32_t>(pen.Style),
                    static_cast<std::int32_t>(pen.Mode)});
}

void RecordingCanvas::SetBrush(const TDeviceBrush& brush) {
  brush_ = brush;
  Record("SetBrush", {static_cast<std::int32_t>(brush.Color), static_cast<std::int32_t>(brush.Style)});
}

void RecordingCanvas::SetFont(const TDeviceFont& font) {
  font_ = font;
  Record("SetFont", {font.Height, font.Style, static_cast<std::int32_t>(font.Color)}, font.Name);
}

std::int32_t RecordingCanvas::TextWidth(std::string_view text) { return RecordingTextWidth(font_, text); }

std::int32_t RecordingCanvas::TextHeight(std::string_view) { return RecordingTextHeight(font_); }

void RecordingCanvas::TextRect(const TRect& clip, std::int32_t x, std::int32_t y, std::string_view text, bool opaque) {
  Record("TextRect", {clip.Left, clip.Top, clip.Right, clip.Bottom, x, y, opaque ? 1 : 0}, std::string(text));
}

void RecordingCanvas::TextOut(std::int32_t x, std::int32_t y, std::string_view text, bool opaque) {
  Record("TextOut", {x, y, opaque ? 1 : 0}, std::string(text));
}

void RecordingCanvas::MoveTo(std::int32_t x, std::int32_t y) {
  position_ = {x, y};
  Record("MoveTo", {x, y});
}

void RecordingCanvas::LineTo(std::int32_t x, std::int32_t y) {
  Record("LineTo", {position_.X, position_.Y, x, y});
  position_ = {x, y};
}

void RecordingCanvas::Rectangle(const TRect& rect) {
  Record("Rectangle", {rect.Left, rect.Top, rect.Right, rect.Bottom});
}

void RecordingCanvas::Polyline(const std::vector<TPoint>& points) {
  std::vector<std::int32_t> args;
  for (const TPoint& p : points) {
    args.push_back(p.X);
    args.push_back(p.Y);
  }
  Record("Polyline", std::move(args));
}

RecordingPrinter::RecordingPrinter() : canvas(&sheet_) {}

TPoint RecordingPrinter::PhysicalPageSize() {
  if (orientation_ == TPrinterOrientation::poLandscape) return {portrait_page.Y, portrait_page.X};
  return portrait_page;
}

TPoint RecordingPrinter::PrintingOffset() {
  if (orientation_ == TPrinterOrientation::poLandscape) return {portrait_offset.Y, portrait_offset.X};
  return portrait_offset;
}

void RecordingPrinter::SetPort(const std::string& port) {
  port_ = port;
  canvas.Record("SetPort", {}, port);
}

void RecordingPrinter::SetTitle(const std::string& title) {
  title_ = title;
  canvas.Record("SetTitle", {}, title);
}

void RecordingPrinter::SetOrientation(TPrinterOrientation orientation) {
  orientation_ = orientation;
  canvas.Record("SetOrientation", {static_cast<std::int32_t>(orientation)});
}

void RecordingPrinter::BeginDoc() {
  if (printing_) throw EPrinter("Printing in progress");
  printing_ = true;
  sheet_ = 1;
  canvas.Record("BeginDoc", {}, port_);
}

void RecordingPrinter::NewPage() {
  if (!printing_) throw EPrinterNotPrinting();
  ++sheet_;
  canvas.Record("NewPage", {sheet_});
}

void RecordingPrinter::EndDoc() {
  if (!printing_) throw EPrinterNotPrinting();
  canvas.Record("EndDoc", {sheet_});
  Delivered.push_back(Job{title_, port_, sheet_});
  printing_ = false;
  sheet_ = 0;
}

void RecordingPrinter::Abort() {
  if (!printing_) throw EPrinterNotPrinting();
  canvas.Record("Abort", {sheet_});
  ++Aborted;
  printing_ = false;
  sheet_ = 0;
}

void RecordingPreview::SetSize(std::int32_t width, std::int32_t height) {
  width_ = width;
  height_ = height;
  canvas.Record("SetSize", {width, height});
}

}  // namespace kavrin::components::rptworks
