#include "tests/classlib/widgets/screenshot_check.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QHash>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace kavrin::testing {

void Settle(int milliseconds) {
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

bool HoldsAPicture(const QImage& image, const char* what) {
  if (image.isNull() || image.width() < 50 || image.height() < 50) {
    std::fprintf(stderr, "%s: no image\n", what);
    return false;
  }
  QHash<QRgb, int> counts;
  for (int y = 0; y < image.height(); y += 2) {
    for (int x = 0; x < image.width(); x += 2) ++counts[image.pixel(x, y)];
  }
  const int samples = ((image.width() + 1) / 2) * ((image.height() + 1) / 2);
  int largest = 0;
  for (int n : counts) largest = std::max(largest, n);
  std::printf("%s: %dx%d, %lld colours, largest share %.1f%%\n", what, image.width(), image.height(),
              static_cast<long long>(counts.size()), 100.0 * largest / samples);
  return counts.size() >= 4 && largest < samples * 97 / 100;
}

QImage ShotOf(const QRect& area) { return QGuiApplication::primaryScreen()->grabWindow(0).copy(area).toImage(); }

}  // namespace kavrin::testing
