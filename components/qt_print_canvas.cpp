#include "components/qt_print_canvas.h"

#include <QFontMetrics>
#include <QPolygon>
#include <QString>

namespace kavrin::components::rptworks {

namespace {

QString Q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

Qt::PenStyle QtPenStyle(TPenStyle style) {
  switch (style) {
    case TPenStyle::psDash: return Qt::DashLine;
    case TPenStyle::psDot: return Qt::DotLine;
    case TPenStyle::psDashDot: return Qt::DashDotLine;
    case TPenStyle::psDashDotDot: return Qt::DashDotDotLine;
    case TPenStyle::psClear: return Qt::NoPen;
    case TPenStyle::psSolid:
    case TPenStyle::psInsideFrame: break;
  }
  return Qt::SolidLine;
}

Qt::BrushStyle QtBrushStyle(TBrushStyle style) {
  switch (style) {
    case TBrushStyle::bsClear: return Qt::NoBrush;
    case TBrushStyle::bsHorizontal: return Qt::HorPattern;
    case TBrushStyle::bsVertical: return Qt::VerPattern;
    case TBrushStyle::bsFDiagonal: return Qt::FDiagPattern;
    case TBrushStyle::bsBDiagonal: return Qt::BDiagPattern;
    case TBrushStyle::bsCross: return Qt::CrossPattern;
    case TBrushStyle::bsDiagCross: return Qt::DiagCrossPattern;
    case TBrushStyle::bsSolid: break;
  }
  return Qt::SolidPattern;
}

}  // namespace

QColor QtColorOf(TColor color) { return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF); }

QFont QtFontOf(const TDeviceFont& font) {
  QFont f(QString::fromStdString(font.Name));
  f.setPixelSize(font.Height > 0 ? font.Height : 1);
  f.setBold((font.Style & fsBold) != 0);
  f.setItalic((font.Style & fsItalic) != 0);
  f.setUnderline((font.Style & fsUnderline) != 0);
  f.setStrikeOut((font.Style & fsStrikeOut) != 0);
  // Widths measured before the job must match the ones drawn on it.
  f.setHintingPreference(QFont::PreferNoHinting);
  return f;
}

void QtPrintCanvas::Attach(QPainter* painter, QPoint origin) {
  painter_ = painter;
  origin_ = origin;
  Apply();
}

void QtPrintCanvas::Apply() {
  if (!painter_) return;
  painter_->resetTransform();
  painter_->translate(origin_);
  QPen pen(QtColorOf(pen_.Color));
  pen.setStyle(QtPenStyle(pen_.Style));
  pen.setWidth(pen_.Width < 1 ? 1 : pen_.Width);
  pen.setCapStyle(Qt::SquareCap);
  pen.setJoinStyle(Qt::MiterJoin);
  painter_->setPen(pen);
  painter_->setBrush(QBrush(QtColorOf(brush_.Color), QtBrushStyle(brush_.Style)));
  painter_->setFont(font_);
}

void QtPrintCanvas::SetPen(const TDevicePen& pen) {
  pen_ = pen;
  Apply();
}

void QtPrintCanvas::SetBrush(const TDeviceBrush& brush) {
  brush_ = brush;
  Apply();
}

void QtPrintCanvas::SetFont(const TDeviceFont& font) {
  device_font_ = font;
  font_ = QtFontOf(font);
  Apply();
}

std::int32_t QtPrintCanvas::TextWidth(std::string_view text) { return QFontMetrics(font_).horizontalAdvance(Q(text)); }

std::int32_t QtPrintCanvas::TextHeight(std::string_view) { return QFontMetrics(font_).height(); }

void QtPrintCanvas::DrawText(std::int32_t x, std::int32_t y, std::string_view text, bool opaque, const QRect* clip) {
  if (!painter_) return;
  painter_->save();
  const QString s = Q(text);
  const QFontMetrics metrics(font_);
  const QRect box = clip ? *clip : QRect(x, y, metrics.horizontalAdvance(s), metrics.height());
  if (clip) painter_->setClipRect(box);
  if (opaque) painter_->fillRect(box, QtColorOf(brush_.Color));
  painter_->setPen(QtColorOf(device_font_.Color));
  painter_->drawText(QPoint(x, y + metrics.ascent()), s);
  painter_->restore();
}

void QtPrintCanvas::TextRect(const TRect& clip, std::int32_t x, std::int32_t y, std::string_view text, bool opaque) {
  const QRect r(QPoint(clip.Left, clip.Top), QPoint(clip.Right - 1, clip.Bottom - 1));
  DrawText(x, y, text, opaque, &r);
}

void QtPrintCanvas::TextOut(std::int32_t x, std::int32_t y, std::string_view text, bool opaque) {
  DrawText(x, y, text, opaque, nullptr);
}

void QtPrintCanvas::MoveTo(std::int32_t x, std::int32_t y) { position_ = {x, y}; }

void QtPrintCanvas::LineTo(std::int32_t x, std::int32_t y) {
  if (painter_) painter_->drawLine(QPoint(position_.X, position_.Y), QPoint(x, y));
  position_ = {x, y};
}

void QtPrintCanvas::Rectangle(const TRect& rect) {
  if (!painter_) return;
  const QRect inside(QPoint(rect.Left, rect.Top), QPoint(rect.Right - 1, rect.Bottom - 1));
  if (brush_.Style != TBrushStyle::bsClear) {
    painter_->fillRect(inside, QBrush(QtColorOf(brush_.Color), QtBrushStyle(brush_.Style)));
  }
  if (pen_.Style != TPenStyle::psClear) {
    painter_->save();
    painter_->setBrush(Qt::NoBrush);
    const int w = pen_.Width < 1 ? 1 : pen_.Width;
    // The outline lies inside the rectangle, as a device context draws it.
    const qreal half = w / 2.0;
    painter_->drawRect(
        QRectF(rect.Left + half, rect.Top + half, rect.Right - rect.Left - w, rect.Bottom - rect.Top - w));
    painter_->restore();
  }
}

void QtPrintCanvas::Polyline(const std::vector<TPoint>& points) {
  if (!painter_ || points.empty()) return;
  QPolygon polygon;
  for (const TPoint& p : points) polygon << QPoint(p.X, p.Y);
  painter_->drawPolyline(polygon);
}

}  // namespace kavrin::components::rptworks
