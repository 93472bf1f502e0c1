// The canvas of the Qt devices: a QPainter driven in device pixels. Pen, brush and font are kept while
// no painter is attached and applied when one is, so a report can set them before its job starts.
// Pen modes other than copy draw as copy.
#pragma once

#include <QFont>
#include <QPainter>

#include "components/print_device.h"

namespace kavrin::components::rptworks {

class QtPrintCanvas : public TDeviceCanvas {
 public:
  // Painting is shifted by origin: the device's (0, 0) lands there.
  void Attach(QPainter* painter, QPoint origin = {});
  void Detach() { painter_ = nullptr; }

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

  const QFont& Font() const { return font_; }

 private:
  void Apply();
  void DrawText(std::int32_t x, std::int32_t y, std::string_view text, bool opaque, const QRect* clip);

  QPainter* painter_ = nullptr;
  QPoint origin_;
  TDevicePen pen_;
  TDeviceBrush brush_;
  TDeviceFont device_font_;
  QFont font_;
  TPoint position_;
};

// A font of the report as Qt renders it: the face, the styles and the character height in pixels.
QFont QtFontOf(const TDeviceFont& font);
QColor QtColorOf(TColor color);

}  // namespace kavrin::components::rptworks
