// The preview bitmap as a QImage at the screen's pixels per inch, and the screen itself.
#pragma once

#include <QImage>
#include <QPainter>

#include "components/print_device.h"
#include "components/qt_print_canvas.h"

namespace kavrin::components::rptworks {

// Needs a QGuiApplication.
class QtScreenDevice : public TScreenDevice {
 public:
  std::int32_t PixelsPerInch() override;
  std::int32_t TextWidth(const TDeviceFont& font, std::string_view text) override;
};

class QtPreviewDevice : public TPreviewDevice {
 public:
  explicit QtPreviewDevice(std::int32_t pixels_per_inch) : ppi_(pixels_per_inch) {}
  ~QtPreviewDevice() override;
  void SetSize(std::int32_t width, std::int32_t height) override;
  std::int32_t Width() override { return image_.width(); }
  std::int32_t Height() override { return image_.height(); }
  TDeviceCanvas& Canvas() override { return canvas_; }
  const QtPrintCanvas& QtCanvas() const { return canvas_; }
  // What has been drawn so far, for the control's paint.
  QImage Image();

 private:
  void Begin();
  void End();

  std::int32_t ppi_;
  QImage image_;
  QPainter painter_;
  QtPrintCanvas canvas_;
};

}  // namespace kavrin::components::rptworks
