// The devices the report printer draws on, all in device pixels: a canvas (pen, brush, font, text
// metrics, text, lines, rectangles, polylines), the printer that owns a canvas and runs print jobs, the
// preview surface and the screen that word wrapping measures on.
//
// Printer coordinates start at the printable area, as on a printer device context: (0, 0) is the
// physical page's point (printing offset x, printing offset y).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kavrin::components::rptworks {

// 0x00BBGGRR, like the class library's colours.
using TColor = std::uint32_t;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor RGB(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return static_cast<TColor>(r) | (static_cast<TColor>(g) << 8) | (static_cast<TColor>(b) << 16);
}

enum class TPenStyle : std::uint8_t { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
enum class TPenMode : std::uint8_t {
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
  pmNotXor,
};
enum class TBrushStyle : std::uint8_t {
  bsSolid,
  bsClear,
  bsHorizontal,
  bsVertical,
  bsFDiagonal,
  bsBDiagonal,
  bsCross,
  bsDiagCross,
};

using TFontStyles = std::uint8_t;
inline constexpr TFontStyles fsBold = 1;
inline constexpr TFontStyles fsItalic = 2;
inline constexpr TFontStyles fsUnderline = 4;
inline constexpr TFontStyles fsStrikeOut = 8;

enum class TPrinterOrientation : std::uint8_t { poPortrait, poLandscape };

struct TPoint {
  std::int32_t X = 0;
  std::int32_t Y = 0;
  bool operator==(const TPoint&) const = default;
};

struct TRect {
  std::int32_t Left = 0;
  std::int32_t Top = 0;
  std::int32_t Right = 0;
  std::int32_t Bottom = 0;
  bool operator==(const TRect&) const = default;
};

struct TDevicePen {
  TColor Color = clBlack;
  std::int32_t Width = 1;
  TPenStyle Style = TPenStyle::psSolid;
  TPenMode Mode = TPenMode::pmCopy;
  bool operator==(const TDevicePen&) const = default;
};

struct TDeviceBrush {
  TColor Color = clWhite;
  TBrushStyle Style = TBrushStyle::bsSolid;
  bool operator==(const TDeviceBrush&) const = default;
};

// A font as the device renders it: Height is the character height in the device's pixels.
struct TDeviceFont {
  std::string Name;
  std::int32_t Height = 0;
  TFontStyles Style = 0;
  TColor Color = clBlack;
  bool operator==(const TDeviceFont&) const = default;
};

// The printer's failures, in the class library's printer exception.
class EPrinter : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A page step or the end of a report after the job was cancelled: "Printer is not currently printing".
class EPrinterNotPrinting : public EPrinter {
 public:
  EPrinterNotPrinting() : EPrinter("Printer is not currently printing") {}
};

class TDeviceCanvas {
 public:
  virtual ~TDeviceCanvas() = default;
  virtual void SetPen(const TDevicePen& pen) = 0;
  virtual void SetBrush(const TDeviceBrush& brush) = 0;
  virtual void SetFont(const TDeviceFont& font) = 0;
  virtual std::int32_t TextWidth(std::string_view text) = 0;
  virtual std::int32_t TextHeight(std::string_view text) = 0;
  // Text with its top-left corner at (x, y), cut at clip. Opaque fills clip with the brush colour
  // first; clear draws the glyphs only.
  virtual void TextRect(const TRect& clip, std::int32_t x, std::int32_t y, std::string_view text, bool opaque) = 0;
  // Unclipped text with its top-left corner at (x, y).
  virtual void TextOut(std::int32_t x, std::int32_t y, std::string_view text, bool opaque) = 0;
  // The pen position: LineTo draws from it and leaves it at the end point.
  virtual void MoveTo(std::int32_t x, std::int32_t y) = 0;
  virtual void LineTo(std::int32_t x, std::int32_t y) = 0;
  // Outline with the pen, inside filled with the brush; right and bottom are exclusive.
  virtual void Rectangle(const TRect& rect) = 0;
  // Connected lines through the points; the pen position does not change.
  virtual void Polyline(const std::vector<TPoint>& points) = 0;
};

// A printer: its metrics, its port and its print job.
class TPrintDevice {
 public:
  virtual ~TPrintDevice() = default;
  virtual std::int32_t PixelsPerInchX() = 0;
  virtual std::int32_t PixelsPerInchY() = 0;
  // Both in device pixels, for the current orientation.
  virtual TPoint PhysicalPageSize() = 0;
  virtual TPoint PrintingOffset() = 0;
  virtual std::string DeviceName() = 0;
  virtual std::string Port() = 0;
  // A port that is a file name sends the job's output to that file.
  virtual void SetPort(const std::string& port) = 0;
  virtual void SetTitle(const std::string& title) = 0;
  virtual void SetOrientation(TPrinterOrientation orientation) = 0;
  // The job: BeginDoc starts it on its first sheet, NewPage adds a sheet, EndDoc delivers it. Abort
  // discards it whole: no sheet comes out and no output file is left (an existing one stays as it was).
  virtual void BeginDoc() = 0;
  virtual void NewPage() = 0;
  virtual void EndDoc() = 0;
  virtual void Abort() = 0;
  virtual bool Printing() = 0;
  virtual TDeviceCanvas& Canvas() = 0;
};

// The bitmap a preview draws into, at the screen's pixels per inch.
class TPreviewDevice {
 public:
  virtual ~TPreviewDevice() = default;
  virtual void SetSize(std::int32_t width, std::int32_t height) = 0;
  virtual std::int32_t Width() = 0;
  virtual std::int32_t Height() = 0;
  virtual TDeviceCanvas& Canvas() = 0;
};

// The screen: its resolution, and text widths of a font at that resolution (what word wrapping sees).
class TScreenDevice {
 public:
  virtual ~TScreenDevice() = default;
  virtual std::int32_t PixelsPerInch() = 0;
  // Font height in the screen's pixels.
  virtual std::int32_t TextWidth(const TDeviceFont& font, std::string_view text) = 0;
};

// The modeless "Printing" dialog shown while a printer or file report runs. The report creates it at
// the start of the job, updates the first line on each printed page and destroys it once at the end or
// on failure. Its Cancel calls Abort on the printer when the printer is printing.
class TPrintingDialog {
 public:
  virtual ~TPrintingDialog() = default;
  virtual void Show(const std::string& label1, const std::string& label2, const std::string& label3) = 0;
  virtual void SetLabel1(const std::string& text) = 0;
};

}  // namespace kavrin::components::rptworks
