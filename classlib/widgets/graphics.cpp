#include "classlib/widgets/graphics.h"

#include <QBuffer>
#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <array>
#include <stdexcept>

namespace kavrin::classlib {

namespace {

// The classic Windows scheme, in the 0x00BBGGRR form.
constexpr std::array<TColor, 25> kSystemColors{0xC0C0C0, 0x808000, 0x800000, 0x808080, 0xC0C0C0, 0xFFFFFF, 0x000000,
                                               0x000000, 0x000000, 0xFFFFFF, 0xC0C0C0, 0xC0C0C0, 0x808080, 0x800000,
                                               0xFFFFFF, 0xC0C0C0, 0x808080, 0x808080, 0x000000, 0xC0C0C0, 0xFFFFFF,
                                               0x000000, 0xDFDFDF, 0x000000, 0xE1FFFF};

int ScreenPixelsPerInch() {
  if (auto* screen = QGuiApplication::primaryScreen()) return static_cast<int>(screen->logicalDotsPerInch() + 0.5);
  return 96;
}

Qt::PenStyle ToQtPenStyle(TPenStyle style) {
  switch (style) {
    case TPenStyle::psDash: return Qt::DashLine;
    case TPenStyle::psDot: return Qt::DotLine;
    case TPenStyle::psDashDot: return Qt::DashDotLine;
    case TPenStyle::psDashDotDot: return Qt::DashDotDotLine;
    case TPenStyle::psClear: return Qt::NoPen;
    default: return Qt::SolidLine;
  }
}

Qt::BrushStyle ToQtBrushStyle(TBrushStyle style) {
  switch (style) {
    case TBrushStyle::bsClear: return Qt::NoBrush;
    case TBrushStyle::bsHorizontal: return Qt::HorPattern;
    case TBrushStyle::bsVertical: return Qt::VerPattern;
    case TBrushStyle::bsFDiagonal: return Qt::FDiagPattern;
    case TBrushStyle::bsBDiagonal: return Qt::BDiagPattern;
    case TBrushStyle::bsCross: return Qt::CrossPattern;
    case TBrushStyle::bsDiagCross: return Qt::DiagCrossPattern;
    default: return Qt::SolidPattern;
  }
}

QPainter::CompositionMode ToQtMode(TPenMode mode) {
  switch (mode) {
    case TPenMode::pmXor: return QPainter::RasterOp_SourceXorDestination;
    case TPenMode::pmNot: return QPainter::RasterOp_NotDestination;
    case TPenMode::pmNotCopy: return QPainter::RasterOp_NotSource;
    case TPenMode::pmMask: return QPainter::RasterOp_SourceAndDestination;
    case TPenMode::pmMerge: return QPainter::RasterOp_SourceOrDestination;
    default: return QPainter::CompositionMode_SourceOver;
  }
}

QRect ToQRect(const TRect& r) { return QRect(r.Left, r.Top, r.Width(), r.Height()); }

}  // namespace

std::uint32_t ColorToRGB(TColor color) {
  auto value = static_cast<std::uint32_t>(color);
  if (value & 0x80000000u) {
    const auto index = value & 0xFFu;
    value = index < kSystemColors.size() ? static_cast<std::uint32_t>(kSystemColors[index]) : 0u;
  }
  return value & 0x00FFFFFFu;
}

QColor ToQColor(TColor color) {
  const auto bgr = ColorToRGB(color);
  return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                static_cast<int>((bgr >> 16) & 0xFF));
}

TFont::TFont() : name_("Liberation Sans"), pixelsPerInch_(ScreenPixelsPerInch()) {}

void TFont::Changed() {
  if (OnChange) OnChange();
}
void TFont::SetName(const std::string& name) {
  if (name_ == name) return;
  name_ = name;
  Changed();
}
void TFont::SetSize(int points) {
  if (size_ == points) return;
  size_ = points;
  Changed();
}
int TFont::Height() const { return -((size_ * pixelsPerInch_ + 36) / 72); }
void TFont::SetHeight(int pixels) {
  const int magnitude = pixels < 0 ? -pixels : pixels;
  SetSize((magnitude * 72 + pixelsPerInch_ / 2) / pixelsPerInch_);
}
void TFont::SetColor(TColor color) {
  if (color_ == color) return;
  color_ = color;
  Changed();
}
void TFont::SetStyle(TFontStyles style) {
  if (style_ == style) return;
  style_ = style;
  Changed();
}
void TFont::SetPixelsPerInch(int ppi) {
  if (ppi <= 0 || ppi == pixelsPerInch_) return;
  pixelsPerInch_ = ppi;
  Changed();
}
void TFont::Assign(const TFont& other) {
  name_ = other.name_;
  size_ = other.size_;
  color_ = other.color_;
  style_ = other.style_;
  pixelsPerInch_ = other.pixelsPerInch_;
  Changed();
}

QFont TFont::ToQFont() const {
  QFont font(QString::fromStdString(name_));
  // Pixel size from the font's own resolution, so a printer font and a screen font of one point size
  // differ as they should.
  font.setPixelSize(std::max(1, -Height()));
  // Whole-pixel advances, as the class library measured text: n characters are n times one wide.
  font.setHintingPreference(QFont::PreferFullHinting);
  font.setBold(style_.Has(TFontStyle::fsBold));
  font.setItalic(style_.Has(TFontStyle::fsItalic));
  font.setUnderline(style_.Has(TFontStyle::fsUnderline));
  font.setStrikeOut(style_.Has(TFontStyle::fsStrikeOut));
  return font;
}

TCanvas::TCanvas() = default;
TCanvas::~TCanvas() = default;

void TCanvas::Attach(QPainter* painter) { painter_ = painter; }
void TCanvas::Detach() { painter_ = nullptr; }

int TCanvas::TextWidth(const std::string& text) const {
  return QFontMetrics(Font.ToQFont()).horizontalAdvance(QString::fromStdString(text));
}

int TCanvas::TextHeight(const std::string& text) const {
  (void)text;
  return QFontMetrics(Font.ToQFont()).height();
}

void TCanvas::ApplyPen() const {
  QPen pen(ToQColor(Pen.Color));
  pen.setWidth(Pen.Width);
  pen.setStyle(ToQtPenStyle(Pen.Style));
  painter_->setPen(pen);
  painter_->setCompositionMode(ToQtMode(Pen.Mode));
}

void TCanvas::ApplyBrush() const { painter_->setBrush(QBrush(ToQColor(Brush.Color), ToQtBrushStyle(Brush.Style))); }

void TCanvas::TextOut(int x, int y, const std::string& text) {
  if (painter_) {
    painter_->setFont(Font.ToQFont());
    const QFontMetrics metrics(painter_->font());
    const QString s = QString::fromStdString(text);
    if (Brush.Style != TBrushStyle::bsClear) {
      painter_->fillRect(QRect(x, y, metrics.horizontalAdvance(s), metrics.height()), ToQColor(Brush.Color));
    }
    painter_->setPen(ToQColor(Font.Color()));
    painter_->drawText(x, y + metrics.ascent(), s);
  }
  PenPos = TPoint{x + TextWidth(text), y};
}

void TCanvas::TextRect(const TRect& rect, int x, int y, const std::string& text) {
  if (!painter_) return;
  painter_->save();
  if (Brush.Style != TBrushStyle::bsClear) painter_->fillRect(ToQRect(rect), ToQColor(Brush.Color));
  painter_->setClipRect(ToQRect(rect), Qt::IntersectClip);
  painter_->setFont(Font.ToQFont());
  painter_->setPen(ToQColor(Font.Color()));
  painter_->drawText(x, y + QFontMetrics(painter_->font()).ascent(), QString::fromStdString(text));
  painter_->restore();
}

void TCanvas::FillRect(const TRect& rect) {
  if (painter_ && Brush.Style != TBrushStyle::bsClear) {
    painter_->fillRect(ToQRect(rect), QBrush(ToQColor(Brush.Color), ToQtBrushStyle(Brush.Style)));
  }
}

void TCanvas::FrameRect(const TRect& rect) {
  if (!painter_) return;
  painter_->save();
  painter_->setPen(ToQColor(Brush.Color));
  painter_->setBrush(Qt::NoBrush);
  painter_->drawRect(rect.Left, rect.Top, rect.Width() - 1, rect.Height() - 1);
  painter_->restore();
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
  if (!painter_) return;
  ApplyPen();
  ApplyBrush();
  // The class library's rectangle excludes its right and bottom edges.
  painter_->drawRect(x1, y1, x2 - x1 - 1, y2 - y1 - 1);
}

void TCanvas::Ellipse(int x1, int y1, int x2, int y2) {
  if (!painter_) return;
  ApplyPen();
  ApplyBrush();
  painter_->drawEllipse(x1, y1, x2 - x1 - 1, y2 - y1 - 1);
}

void TCanvas::MoveTo(int x, int y) { PenPos = TPoint{x, y}; }

void TCanvas::LineTo(int x, int y) {
  if (painter_) {
    ApplyPen();
    painter_->drawLine(PenPos.X, PenPos.Y, x, y);
  }
  PenPos = TPoint{x, y};
}

void TCanvas::Draw(int x, int y, const TBitmap& bitmap) {
  if (painter_ && !bitmap.Empty()) painter_->drawImage(x, y, bitmap.Image());
}

void TCanvas::StretchDraw(const TRect& rect, const TBitmap& bitmap) {
  if (painter_ && !bitmap.Empty()) painter_->drawImage(ToQRect(rect), bitmap.Image());
}

TColor TCanvas::Pixel(int x, int y) const {
  if (!painter_) return clNone;
  auto* image = dynamic_cast<QImage*>(painter_->device());
  if (!image || !image->rect().contains(x, y)) return clNone;
  const QColor c = image->pixelColor(x, y);
  return static_cast<TColor>(c.red() | (c.green() << 8) | (c.blue() << 16));
}

TBitmap::TBitmap() : image_(std::make_unique<QImage>()) {}
TBitmap::~TBitmap() { EndDraw(); }
TBitmap::TBitmap(const TBitmap& other) : image_(std::make_unique<QImage>(*other.image_)) {}
TBitmap& TBitmap::operator=(const TBitmap& other) {
  if (this != &other) {
    EndDraw();
    *image_ = *other.image_;
  }
  return *this;
}

int TBitmap::Width() const { return image_->width(); }
int TBitmap::Height() const { return image_->height(); }
bool TBitmap::Empty() const { return image_->isNull(); }

void TBitmap::SetSize(int width, int height) {
  EndDraw();
  QImage next(std::max(0, width), std::max(0, height), QImage::Format_RGB32);
  next.fill(Qt::white);
  if (!image_->isNull()) {
    QPainter p(&next);
    p.drawImage(0, 0, *image_);
  }
  *image_ = next;
}

void TBitmap::LoadFromFile(const std::string& fileName) {
  EndDraw();
  QImage loaded;
  if (!loaded.load(QString::fromStdString(fileName))) {
    throw std::runtime_error("Cannot load the picture file " + fileName);
  }
  *image_ = loaded.convertToFormat(QImage::Format_RGB32);
}

void TBitmap::SaveToFile(const std::string& fileName) const {
  const QString name = QString::fromStdString(fileName);
  // A name without a known picture extension is written as a bitmap, the programs' picture format.
  const bool known = name.endsWith(".png", Qt::CaseInsensitive) || name.endsWith(".jpg", Qt::CaseInsensitive);
  if (!image_->save(name, known ? nullptr : "BMP"))
    throw std::runtime_error("Cannot write the picture file " + fileName);
}

void TBitmap::LoadFromBytes(const std::string& bytes) {
  EndDraw();
  QImage loaded;
  if (!bytes.empty() &&
      !loaded.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<int>(bytes.size()))) {
    throw std::runtime_error("Bitmap image is not valid");
  }
  *image_ = loaded.isNull() ? QImage() : loaded.convertToFormat(QImage::Format_RGB32);
}

std::string TBitmap::SaveToBytes(const char* format) const {
  if (image_->isNull()) return {};
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  image_->save(&buffer, format);
  return std::string(data.constData(), static_cast<std::size_t>(data.size()));
}

TCanvas& TBitmap::BeginDraw() {
  EndDraw();
  if (image_->isNull()) SetSize(1, 1);
  painter_ = std::make_unique<QPainter>(image_.get());
  canvas_ = std::make_unique<TCanvas>();
  canvas_->Attach(painter_.get());
  return *canvas_;
}

void TBitmap::EndDraw() {
  if (canvas_) canvas_->Detach();
  painter_.reset();
}

const QImage& TBitmap::Image() const { return *image_; }
void TBitmap::SetImage(const QImage& image) {
  EndDraw();
  *image_ = image;
}

TIcon::TIcon() : icon_(std::make_unique<QIcon>()) {}
TIcon::~TIcon() = default;
TIcon::TIcon(const TIcon& other) : icon_(std::make_unique<QIcon>(*other.icon_)) {}
TIcon& TIcon::operator=(const TIcon& other) {
  *icon_ = *other.icon_;
  return *this;
}
bool TIcon::Empty() const { return icon_->isNull(); }
void TIcon::LoadFromFile(const std::string& fileName) { *icon_ = QIcon(QString::fromStdString(fileName)); }
void TIcon::SetBitmap(const TBitmap& bitmap) { *icon_ = QIcon(QPixmap::fromImage(bitmap.Image())); }
const QIcon& TIcon::Icon() const { return *icon_; }

}  // namespace kavrin::classlib
