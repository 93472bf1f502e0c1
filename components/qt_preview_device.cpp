#include "components/qt_preview_device.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace kavrin::components::rptworks {

std::int32_t QtScreenDevice::PixelsPerInch() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? static_cast<std::int32_t>(std::lround(screen->logicalDotsPerInch())) : 96;
}

std::int32_t QtScreenDevice::TextWidth(const TDeviceFont& font, std::string_view text) {
  return QFontMetrics(QtFontOf(font))
      .horizontalAdvance(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

QtPreviewDevice::~QtPreviewDevice() { End(); }

void QtPreviewDevice::End() {
  canvas_.Detach();
  if (painter_.isActive()) painter_.end();
}

void QtPreviewDevice::Begin() {
  if (image_.isNull()) return;
  painter_.begin(&image_);
  canvas_.Attach(&painter_);
}

void QtPreviewDevice::SetSize(std::int32_t width, std::int32_t height) {
  End();
  // A size no bitmap can have leaves an empty one rather than failing the paint.
  if (width < 1 || height < 1 || static_cast<std::int64_t>(width) * height > (1LL << 28)) {
    image_ = QImage();
    return;
  }
  image_ = QImage(width, height, QImage::Format_RGB32);
  image_.fill(Qt::white);
  const int dots_per_metre = static_cast<int>(std::lround(ppi_ / 0.0254));
  image_.setDotsPerMeterX(dots_per_metre);
  image_.setDotsPerMeterY(dots_per_metre);
  Begin();
}

QImage QtPreviewDevice::Image() {
  End();
  QImage copy = image_.copy();
  Begin();
  return copy;
}

}  // namespace kavrin::components::rptworks
