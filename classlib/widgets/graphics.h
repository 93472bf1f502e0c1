// Colours, fonts, pens, brushes, pictures and the canvas that controls and grids draw on. A canvas
// draws through a Qt painter while a paint runs; outside a paint it still measures text in its font.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "classlib/widgets/geometry.h"
#include "classlib/widgets/set_of.h"

class QColor;
class QFont;
class QImage;
class QPainter;
class QIcon;

namespace kavrin::classlib {

// 0x00BBGGRR, or a system colour: the high bit set and the Windows colour index in the low byte.
using TColor = std::int32_t;

inline constexpr TColor clBlack = 0x000000, clMaroon = 0x000080, clGreen = 0x008000, clOlive = 0x008080,
                        clNavy = 0x800000, clPurple = 0x800080, clTeal = 0x808000, clGray = 0x808080,
                        clSilver = 0xC0C0C0, clRed = 0x0000FF, clLime = 0x00FF00, clYellow = 0x00FFFF,
                        clBlue = 0xFF0000, clFuchsia = 0xFF00FF, clAqua = 0xFFFF00, clWhite = 0xFFFFFF;
inline constexpr TColor SystemColor(int index) {
  return static_cast<TColor>(0x80000000u | static_cast<unsigned>(index));
}
inline constexpr TColor clScrollBar = SystemColor(0), clBackground = SystemColor(1), clActiveCaption = SystemColor(2),
                        clInactiveCaption = SystemColor(3), clMenu = SystemColor(4), clWindow = SystemColor(5),
                        clWindowFrame = SystemColor(6), clMenuText = SystemColor(7), clWindowText = SystemColor(8),
                        clCaptionText = SystemColor(9), clAppWorkSpace = SystemColor(12), clHighlight = SystemColor(13),
                        clHighlightText = SystemColor(14), clBtnFace = SystemColor(15), clBtnShadow = SystemColor(16),
                        clGrayText = SystemColor(17), clBtnText = SystemColor(18), clBtnHighlight = SystemColor(20),
                        cl3DDkShadow = SystemColor(21), cl3DLight = SystemColor(22), clInfoText = SystemColor(23),
                        clInfoBk = SystemColor(24);
inline constexpr TColor clNone = 0x1FFFFFFF;

// The RGB value of a colour; system colours come from the classic Windows scheme, so that forms look
// the same on every desktop and tests can compare pixels.
std::uint32_t ColorToRGB(TColor color);
QColor ToQColor(TColor color);

enum class TFontStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using TFontStyles = TSetOf<TFontStyle>;

class TFont {
 public:
  TFont();
  std::string Name() const { return name_; }
  void SetName(const std::string& name);
  int Size() const { return size_; }
  void SetSize(int points);
  // Pixels at the font's resolution; negative is the character height without the leading.
  int Height() const;
  void SetHeight(int pixels);
  TColor Color() const { return color_; }
  void SetColor(TColor color);
  TFontStyles Style() const { return style_; }
  void SetStyle(TFontStyles style);
  int PixelsPerInch() const { return pixelsPerInch_; }
  void SetPixelsPerInch(int ppi);
  void Assign(const TFont& other);

  QFont ToQFont() const;
  std::function<void()> OnChange;

 private:
  void Changed();
  std::string name_;
  int size_ = 8;
  TColor color_ = clWindowText;
  TFontStyles style_;
  int pixelsPerInch_ = 96;
};

enum class TBrushStyle { bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross };
enum class TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
enum class TPenMode {
  pmBlack,
  pmWhite,
  pmNop,
  pmNot,
  pmCopy,
  pmNotCopy,
  pmMergePenNot,
  pmMaskPenNot,
  pmMergeNotPen,
  pmMaskNotPen,
  pmMerge,
  pmNotMerge,
  pmMask,
  pmNotMask,
  pmXor,
  pmNotXor
};

struct TBrush {
  TColor Color = clWhite;
  TBrushStyle Style = TBrushStyle::bsSolid;
};

struct TPen {
  TColor Color = clBlack;
  int Width = 1;
  TPenStyle Style = TPenStyle::psSolid;
  TPenMode Mode = TPenMode::pmCopy;
};

class TBitmap;

class TCanvas {
 public:
  TCanvas();
  ~TCanvas();
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  TFont Font;
  TBrush Brush;
  TPen Pen;
  TPoint PenPos;

  // Drawing happens only while a painter is attached; measuring works always.
  void Attach(QPainter* painter);
  void Detach();
  QPainter* Painter() const { return painter_; }

  int TextWidth(const std::string& text) const;
  int TextHeight(const std::string& text) const;
  void TextOut(int x, int y, const std::string& text);
  // Text clipped to rect, drawn at (x, y); the rectangle is filled with the brush first unless the
  // brush is clear.
  void TextRect(const TRect& rect, int x, int y, const std::string& text);
  void FillRect(const TRect& rect);
  void FrameRect(const TRect& rect);
  void Rectangle(int x1, int y1, int x2, int y2);
  void Ellipse(int x1, int y1, int x2, int y2);
  void MoveTo(int x, int y);
  void LineTo(int x, int y);
  void Draw(int x, int y, const TBitmap& bitmap);
  void StretchDraw(const TRect& rect, const TBitmap& bitmap);
  TColor Pixel(int x, int y) const;

 private:
  void ApplyPen() const;
  void ApplyBrush() const;
  QPainter* painter_ = nullptr;
};

// A picture held in memory, drawn with its own canvas.
class TBitmap {
 public:
  TBitmap();
  ~TBitmap();
  TBitmap(const TBitmap& other);
  TBitmap& operator=(const TBitmap& other);

  int Width() const;
  int Height() const;
  void SetSize(int width, int height);
  bool Empty() const;
  // Loads or saves a picture file (BMP, PNG, ...); raises std::runtime_error with the file's name.
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName) const;
  void LoadFromBytes(const std::string& bytes);
  std::string SaveToBytes(const char* format = "BMP") const;
  // A canvas that draws into the bitmap until EndDraw (or the next BeginDraw).
  TCanvas& BeginDraw();
  void EndDraw();

  const QImage& Image() const;
  void SetImage(const QImage& image);

 private:
  std::unique_ptr<QImage> image_;
  std::unique_ptr<QPainter> painter_;
  std::unique_ptr<TCanvas> canvas_;
};

// An icon given to forms (the caption icon) and about boxes.
class TIcon {
 public:
  TIcon();
  ~TIcon();
  TIcon(const TIcon& other);
  TIcon& operator=(const TIcon& other);
  bool Empty() const;
  void LoadFromFile(const std::string& fileName);
  void SetBitmap(const TBitmap& bitmap);
  const QIcon& Icon() const;

 private:
  std::unique_ptr<QIcon> icon_;
};

}  // namespace kavrin::classlib
