#include "components/rpt_works.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "classlib/data/other_fields.h"
#include "classlib/data/session.h"
#include "components/recording_print_device.h"
#include "dataset/kavrintb.h"
#include "platform/ticks.h"
#include "tests/engine/table_fixture.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::components::rptworks {
namespace {

// Arial 10 at 300 dpi is 42 pixels high and, on the recording canvas, 21 pixels per character.
const TReportFont kArial10{"Arial", 10, 0, clBlack};

struct DialogLog {
  int created = 0;
  int destroyed = 0;
  std::vector<std::string> label1;
  std::string label2;
  std::string label3;
  TPrintDevice* printer = nullptr;
};

class FakeDialog : public TPrintingDialog {
 public:
  explicit FakeDialog(DialogLog& log) : log_(log) { ++log_.created; }
  ~FakeDialog() override { ++log_.destroyed; }
  void Show(const std::string& l1, const std::string& l2, const std::string& l3) override {
    log_.label1.push_back(l1);
    log_.label2 = l2;
    log_.label3 = l3;
  }
  void SetLabel1(const std::string& text) override { log_.label1.push_back(text); }

 private:
  DialogLog& log_;
};

// The dialog's Cancel, as the printer sees it.
void CancelJob(TPrintDevice& printer) {
  if (printer.Printing()) printer.Abort();
}

class ReportWorksTest : public ::testing::Test {
 protected:
  ReportWorksTest() { report.SetReportFont(kArial10); }

  TReportWorks::TPrintingDialogFactory Factory() {
    return [this](TPrintDevice& p) {
      dialogs.printer = &p;
      return std::make_unique<FakeDialog>(dialogs);
    };
  }

  std::vector<std::string> Texts(const RecordingCanvas& canvas, std::int32_t sheet = -1) const {
    std::vector<std::string> out;
    for (const RecordedCall& c : canvas.Calls) {
      if ((c.Op == "TextRect" || c.Op == "TextOut") && (sheet < 0 || c.Sheet == sheet)) out.push_back(c.Text);
    }
    return out;
  }

  // Pages numbered n, each with every kind of output.
  void DrawPages(int pages) {
    report.BeginReport();
    for (int n = 1; n <= pages; ++n) {
      if (n > 1) report.NewPage();
      const std::string label = "page " + std::to_string(n);
      report.PrintLeft(label, 0, 0, 2, 0.5);
      report.DrawLine(0, 1, 2, 1);
      report.DrawBox(0, 2, 1, 3);
      report.DrawCheck(0, 4, 0.5, 4.5);
      report.GotoLine(1);
      report.PrintText(label + " text");
    }
    report.EndReport();
  }

  RecordingPrinter printer;
  RecordingPreview preview;
  RecordingScreen screen;
  DialogLog dialogs;
  TReportWorks report{printer, preview, screen, Factory()};
};

TEST(ReportArithmetic, MulDivZoomValueAndAddPercentRoundHalvesAwayFromZero) {
  struct Case {
    std::int32_t a, b, c, expected;
  } cases[] = {
      {3, 1, 2, 2},     {-3, 1, 2, -2}, {3, -1, 2, -2},    {5, 1, 2, 3},  {1, 150, 100, 2},       {1, 250, 100, 3},
      {10, 96, 72, 13}, {7, 96, 72, 9}, {10, 300, 72, 42}, {1, 1, 0, -1}, {2000000000, 2, 1, -1},
  };
  for (const Case& c : cases) EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.expected) << c.a << "*" << c.b << "/" << c.c;

  struct Percent {
    std::int32_t value, percent, expected;
  } percents[] = {{20, 150, 40}, {20, -5, 20}, {20, 0, 20}, {42, 10, 46}, {5, 10, 6}, {20, 100, 40}};
  for (const Percent& p : percents) {
    EXPECT_EQ(TReportWorks::AddPercent(p.value, p.percent), p.expected) << p.value << " + " << p.percent << "%";
  }
}

TEST_F(ReportWorksTest, ZoomValueScalesByZoomPercent) {
  struct Case {
    std::int32_t zoom, value, expected;
  } cases[] = {{100, 7, 7}, {200, 7, 14}, {150, 1, 2}, {250, 1, 3}, {50, 3, 2}};
  for (const Case& c : cases) {
    report.ZoomPercent = c.zoom;
    EXPECT_EQ(report.ZoomValue(c.value), c.expected) << c.zoom << "% of " << c.value;
  }
}

TEST_F(ReportWorksTest, MarginsInsideThePrintingOffsetStartTheDrawingAreaAtTheOffset) {
  printer.portrait_offset = {75, 75};  // 0.25 inch at 300 dpi
  report.Destination = TDestination::dPrinter;
  struct Case {
    float margin;
    TRect area;
  } cases[] = {
      {0.2f, {0, 0, 2550 - 75 - 75, 3300 - 75 - 75}},
      {0.25f, {0, 0, 2400, 3150}},
      {0.0f, {0, 0, 2400, 3150}},
      {1.0f, {225, 225, 2550 - 300 - 75, 3300 - 300 - 75}},
  };
  for (const Case& c : cases) {
    report.SetTopMargin(c.margin);
    report.SetBottomMargin(c.margin);
    report.SetLeftMargin(c.margin);
    report.SetRightMargin(c.margin);
    report.BeginReport();
    EXPECT_EQ(report.DrawingArea(), c.area) << c.margin;
    report.MoveCursor(0, 0);
    EXPECT_EQ(report.CursorPosition(), (TPoint{c.area.Left, c.area.Top})) << c.margin;
    report.EndReport();
    EXPECT_FLOAT_EQ(report.TopMargin(), c.margin);
    EXPECT_FLOAT_EQ(report.LeftMargin(), c.margin);
    EXPECT_FLOAT_EQ(report.RightMargin(), c.margin);
    EXPECT_FLOAT_EQ(report.BottomMargin(), c.margin);
  }
}

TEST_F(ReportWorksTest, MarginChangesWhileRunningMoveTheDrawingAreaAtOnce) {
  report.Destination = TDestination::dPrinter;
  report.BeginReport();
  EXPECT_EQ(report.DrawingArea().Left, 300);
  report.SetLeftMargin(0.5f);
  EXPECT_EQ(report.DrawingArea().Left, 150);
  report.SetUnits(TUnits::uMM);
  report.MoveCursor(25.4f, 0);
  EXPECT_EQ(report.CursorPosition().X, 150 + 300);
  report.SetUnits(TUnits::uPoint);
  report.MoveCursor(36, 0);
  EXPECT_EQ(report.CursorPosition().X, 150 + 150);
  report.EndReport();
}

TEST_F(ReportWorksTest, PageRangeSendsOnlyTheWantedPagesOnTheirOwnSheets) {
  report.Destination = TDestination::dPrinter;
  report.PrintPageFirst = 2;
  report.PrintPageLast = 3;
  DrawPages(5);
  ASSERT_EQ(printer.Delivered.size(), 1u);
  EXPECT_EQ(printer.Delivered[0].Sheets, 2);
  EXPECT_EQ(printer.canvas.CallsOf("NewPage").size(), 1u);
  EXPECT_EQ(Texts(printer.canvas, 1), (std::vector<std::string>{"page 2", "page 2 text"}));
  EXPECT_EQ(Texts(printer.canvas, 2), (std::vector<std::string>{"page 3", "page 3 text"}));
  // Pages 1, 4 and 5 draw nothing at all: one line, box and check per wanted page.
  EXPECT_EQ(printer.canvas.CallsOf("LineTo").size(), 2u);
  EXPECT_EQ(printer.canvas.CallsOf("Rectangle").size(), 2u);
  EXPECT_EQ(dialogs.label1, (std::vector<std::string>{"Now printing page 2 of", "Now printing page 3 of"}));
  EXPECT_EQ(report.PageTotal(), 5);
}

TEST_F(ReportWorksTest, PreviewDrawsOnlyTheCurrentPageAndCurrentPageClamps) {
  report.SetCurrentPage(3);
  EXPECT_EQ(report.CurrentPage(), 1);  // no report has been run: one page
  DrawPages(5);
  EXPECT_EQ(report.PageTotal(), 5);
  struct Case {
    std::int32_t set, read;
  } cases[] = {{0, 1}, {-4, 1}, {6, 5}, {5, 5}, {3, 3}};
  for (const Case& c : cases) {
    report.SetCurrentPage(c.set);
    EXPECT_EQ(report.CurrentPage(), c.read) << c.set;
  }
  preview.canvas.Calls.clear();
  DrawPages(5);
  EXPECT_EQ(Texts(preview.canvas), (std::vector<std::string>{"page 3", "page 3 text"}));
  EXPECT_TRUE(printer.Delivered.empty());
  EXPECT_EQ(dialogs.created, 0);
}

TEST_F(ReportWorksTest, PreviewClearsThePageWithTheBorderPen) {
  for (bool border : {false, true}) {
    preview.canvas.Calls.clear();
    report.PageBorder = border;
    report.BeginReport();
    report.EndReport();
    const auto rects = preview.canvas.CallsOf("Rectangle");
    ASSERT_EQ(rects.size(), 1u);
    EXPECT_EQ(rects[0].Str(), "Rectangle(0,0,816,1056)");
    const auto pens = preview.canvas.CallsOf("SetPen");
    ASSERT_GE(pens.size(), 3u);
    EXPECT_EQ(pens[1].Args[0], static_cast<std::int32_t>(border ? clBlack : clWhite));
    EXPECT_EQ(pens.back().Args[0], static_cast<std::int32_t>(clBlack));
  }
}

TEST_F(ReportWorksTest, BoxTextsAreCentredVerticallyAlignedAndClippedToTheirBox) {
  report.Destination = TDestination::dPrinter;
  report.BeginReport();
  // Box 600..660 x 600..630; "ABCDE" is 105 x 42, wider and higher than it.
  using Fn = void (TReportWorks::*)(std::string_view, float, float, float, float);
  struct Case {
    const char* name;
    Fn fn;
    std::int32_t x;
  } cases[] = {
      {"left", &TReportWorks::PrintLeft, 600},
      {"center", &TReportWorks::PrintCenter, 600 + (60 - 105) / 2},
      {"right starts left of the box", &TReportWorks::PrintRight, 600 - 45},
  };
  for (const Case& c : cases) {
    printer.canvas.Calls.clear();
    (report.*c.fn)("ABCDE", 1, 1, 1.2f, 1.1f);
    const auto texts = printer.canvas.CallsOf("TextRect");
    ASSERT_EQ(texts.size(), 1u) << c.name;
    EXPECT_EQ(texts[0].Args, (std::vector<std::int32_t>{600, 600, 660, 630, c.x, 600 - 6, 1})) << c.name;
    EXPECT_EQ(report.CursorPosition(), (TPoint{660, 630})) << c.name;
    EXPECT_EQ(printer.canvas.PenPosition(), (TPoint{660, 630})) << c.name;
  }
  // Partly outside the margins: clamped to the drawing area.
  printer.canvas.Calls.clear();
  report.PrintLeft("X", -1, -1, 100, 0.5f);
  EXPECT_EQ(printer.canvas.CallsOf("TextRect").at(0).Args,
            (std::vector<std::int32_t>{300, 300, 2250, 450, 300, 300 + (150 - 42) / 2, 1}));
  report.EndReport();
}

TEST_F(ReportWorksTest, TextIsOpaqueOnlyOnASolidBrushWithTheDefaultStyle) {
  report.Destination = TDestination::dPrinter;
  struct Case {
    TTextStyle style;
    TBrushStyle brush;
    std::int32_t opaque;
  } cases[] = {
      {TTextStyle::tsDefault, TBrushStyle::bsSolid, 1},
      {TTextStyle::tsDefault, TBrushStyle::bsClear, 0},
      {TTextStyle::tsTransparent, TBrushStyle::bsSolid, 0},
  };
  for (const Case& c : cases) {
    printer.canvas.Calls.clear();
    report.TextStyle = c.style;
    report.BeginReport();
    report.SetBrush(RGB(245, 245, 245), c.brush);
    report.PrintCenter("a", 0, 0, 1, 1);
    report.PrintText("b");
    report.EndReport();
    EXPECT_EQ(printer.canvas.CallsOf("TextRect").at(0).Args.back(), c.opaque);
    EXPECT_EQ(printer.canvas.CallsOf("TextOut").at(0).Args.back(), c.opaque);
    // The brush itself is kept.
    EXPECT_EQ(printer.canvas.Brush(), (TDeviceBrush{RGB(245, 245, 245), c.brush}));
  }
}

TEST_F(ReportWorksTest, LinesBoxesAndChecksInDevicePixels) {
  report.Destination = TDestination::dPrinter;
  report.BeginReport();
  printer.canvas.Calls.clear();
  report.DrawLine(0, 0, 1, 0.5f);
  report.DrawBox(1, 1, 2, 2);
  EXPECT_EQ(report.CursorPosition(), (TPoint{900, 900}));
  report.DrawCheck(0, 0, 1, 1);
  report.EndReport();
  std::vector<std::string> calls;
  for (const RecordedCall& c : printer.canvas.Calls) calls.push_back(c.Str());
  ASSERT_GE(calls.size(), 6u);
  EXPECT_EQ(calls[0], "MoveTo(300,300)");
  EXPECT_EQ(calls[1], "LineTo(300,300,600,450)");
  EXPECT_EQ(calls[2], "Rectangle(600,600,900,900)");
  EXPECT_EQ(calls[3], "MoveTo(900,900)");
  EXPECT_EQ(calls[4], "SetPen(0,1,0,4)");
  // e = width of "l" = 21; centre x 450, base 450 + 10.
  const auto strokes = printer.canvas.CallsOf("Polyline");
  ASSERT_EQ(strokes.size(), 22u);
  EXPECT_EQ(strokes[0].Args, (std::vector<std::int32_t>{429, 460, 450, 481, 450 + 42 + 10, 460 - 21 - 10}));
  EXPECT_EQ(strokes[21].Args, (std::vector<std::int32_t>{429, 439, 450, 460, 502, 408}));
}

TEST_F(ReportWorksTest, ZoomDoublesPreviewBitmapPensAndFontsAndSmallSizesUseSmallFonts) {
  struct Case {
    std::int32_t zoom;
    std::int32_t size;
    std::int32_t width, height, pen, set_pen, font_height;
    const char* face;
  } cases[] = {
      {100, 12, 816, 1056, 1, 2, 16, "Arial"},       {200, 12, 1632, 2112, 2, 4, 32, "Arial"},
      {100, 8, 816, 1056, 1, 2, 11, "Arial"},        {100, 7, 816, 1056, 1, 2, 9, "Small Fonts"},
      {200, 7, 1632, 2112, 2, 4, 18, "Small Fonts"},
  };
  for (const Case& c : cases) {
    preview.canvas.Calls.clear();
    report.ZoomPercent = c.zoom;
    report.SetReportFont({"Arial", c.size, fsBold, clBlack});
    report.SetLeftMargin(0);
    report.SetTopMargin(0);
    report.BeginReport();
    EXPECT_EQ(preview.Width(), c.width) << c.zoom;
    EXPECT_EQ(preview.Height(), c.height) << c.zoom;
    EXPECT_EQ(report.Width(), c.width);
    EXPECT_EQ(report.Height(), c.height);
    EXPECT_EQ(preview.canvas.Pen().Width, c.pen) << c.zoom;
    EXPECT_EQ(preview.canvas.Font(), (TDeviceFont{c.face, c.font_height, fsBold, clBlack})) << c.zoom << " " << c.size;
    report.SetPen(clBlack, 2, TPenStyle::psSolid, TPenMode::pmCopy);
    EXPECT_EQ(preview.canvas.Pen().Width, c.set_pen);
    report.MoveCursor(1, 1);
    EXPECT_EQ(report.CursorPosition(), (TPoint{96 * c.zoom / 100, 96 * c.zoom / 100}));
    report.EndReport();
  }
}

// What NORVA's listing measures for its columns and grid, and PELMAR's reports for their pages.
TEST_F(ReportWorksTest, TextWidthsInUnitsAndThePageSizeInInchesForTheLayouts) {
  struct Case {
    TDestination destination;
    TUnits units;
    std::int32_t zoom;
    float width;  // of "0000" in Arial 10: 21 printer pixels a character, 7 or 13 on the preview
  } cases[] = {
      {TDestination::dPrinter, TUnits::uInch, 100, 84 / 300.0f},
      {TDestination::dPrinter, TUnits::uMM, 100, 84 / 300.0f * 25.4f},
      {TDestination::dPrinter, TUnits::uPoint, 100, 84 / 300.0f * 72},
      {TDestination::dPreview, TUnits::uInch, 100, 28 / 96.0f},
      {TDestination::dPreview, TUnits::uInch, 200, 52 / 192.0f},
  };
  EXPECT_EQ(report.TextWidth("0000"), 0) << "nothing measured before a report";
  printer.portrait_offset = {75, 75};  // the sheet is measured whole, unprintable edges included
  for (const Case& c : cases) {
    report.Destination = c.destination;
    report.ZoomPercent = c.zoom;
    report.SetUnits(c.units);
    report.BeginReport();
    EXPECT_NEAR(report.TextWidth("0000"), c.width, 1e-4) << static_cast<int>(c.units) << " at " << c.zoom;
    EXPECT_NEAR(report.TextWidth(""), 0, 1e-6);
    EXPECT_FLOAT_EQ(report.PageWidthInches(), 8.5f);
    EXPECT_FLOAT_EQ(report.PageHeightInches(), 11);
    report.EndReport();
  }
  report.SetOrientation(TPrinterOrientation::poLandscape);
  EXPECT_FLOAT_EQ(report.PageWidthInches(), 11);
  EXPECT_FLOAT_EQ(report.PageHeightInches(), 8.5f);
  // Letter in landscape holds NORVA's 21 grid lines.
  EXPECT_EQ(static_cast<int>((report.PageHeightInches() - 2.1) * 3.3333333333333333333), 21);
}

TEST_F(ReportWorksTest, ReportFontChangesApplyAtOnceAtThePrinterResolution) {
  report.Destination = TDestination::dPrinter;
  report.BeginReport();
  EXPECT_EQ(printer.canvas.Font(), (TDeviceFont{"Arial", 42, 0, clBlack}));
  report.SetReportFont({"Arial", 7, fsItalic, RGB(1, 2, 3)});
  // No "Small Fonts" on paper.
  EXPECT_EQ(printer.canvas.Font(), (TDeviceFont{"Arial", 29, fsItalic, RGB(1, 2, 3)}));
  report.EndReport();
}

TEST_F(ReportWorksTest, LineModeSpacing) {
  report.Destination = TDestination::dPrinter;
  report.LineMeasure = TLineMeasure::lmLinesPerInch;
  report.LinesPerInch = 5;
  report.BeginReport();
  for (int n = 1; n <= 3; ++n) {
    report.PrintLine("x");
    EXPECT_EQ(report.CursorPosition(), (TPoint{300, 300 + 60 * n})) << n;
    EXPECT_EQ(report.LineNum(), n + 1);
  }
  struct Case {
    std::int32_t line, y;
  } gotos[] = {{1, 300}, {0, 300}, {-3, 300}, {4, 480}};
  for (const Case& c : gotos) {
    report.GotoLine(c.line);
    EXPECT_EQ(report.CursorPosition(), (TPoint{300, c.y})) << c.line;
  }
  report.LineMeasure = TLineMeasure::lmTextHeight;
  report.PrintLine("abc");
  EXPECT_EQ(report.CursorPosition(), (TPoint{300, 480 + 46}));
  report.GotoLine(1);
  EXPECT_EQ(report.CursorPosition(), (TPoint{300, 480 + 46}));
  report.EndReport();
  const auto texts = printer.canvas.CallsOf("TextOut");
  EXPECT_EQ(texts[0].Str(), "TextOut(300,300,1;x)");
  EXPECT_EQ(texts[1].Str(), "TextOut(300,360,1;x)");
}

TEST_F(ReportWorksTest, PrintTextMovesTheCursorToTheTextsEnd) {
  report.Destination = TDestination::dPrinter;
  report.BeginReport();
  report.PrintText("ab");
  report.PrintText("c");
  EXPECT_EQ(report.CursorPosition(), (TPoint{300 + 63, 300}));
  EXPECT_EQ(printer.canvas.CallsOf("TextOut").at(1).Str(), "TextOut(342,300,1;c)");
  report.EndReport();
}

TEST_F(ReportWorksTest, MemoLinesWithAnEmptyLineBetween) {
  report.Destination = TDestination::dPrinter;
  report.BeginReport();
  report.PrintMemo("A\r\n\r\nB");
  report.EndReport();
  std::vector<std::string> texts;
  for (const RecordedCall& c : printer.canvas.CallsOf("TextOut")) texts.push_back(c.Str());
  EXPECT_EQ(texts, (std::vector<std::string>{"TextOut(300,300,1;A)", "TextOut(300,392,1;B)"}));
}

// Memo fields of a real table: the stored text comes back through the field's blob stream.
TEST_F(ReportWorksTest, MemoFieldsOfATable) {
  namespace en = kavrin::engine;
  kavrin::testing::TempDir dir;
  en::testing::CreateTableAt(
      dir.PathOf("NOTES"),
      {en::testing::Field(1, "Id", en::ftInteger), en::testing::Field(2, "Notes", en::ftBlob, 0, en::fstMemo)},
      {en::testing::Index("", {1}, true)});
  {
    dataset::TKAVRINTable table;
    table.SetDatabaseName(dir.Path());
    table.SetTableName("NOTES");
    table.Open();
    struct Case {
      const char* what;
      const char* stored;  // null: the memo stays null
      std::vector<std::string> lines;
      std::int32_t end_y;
    } cases[] = {
        {"an empty line between", "A\r\n\r\nB", {"TextOut(300,300,1;A)", "TextOut(300,392,1;B)"}, 300 + 3 * 46},
        {"text beyond CP437 comes back as it was",
         "Grüße\nZoë",
         {"TextOut(300,300,1;Grüße)", "TextOut(300,346,1;Zoë)"},
         300 + 2 * 46},
        {"a null memo prints nothing", nullptr, {}, 300},
        {"a final line end adds no line", "x\r\n", {"TextOut(300,300,1;x)"}, 300 + 46},
    };
    int id = 0;
    for (const Case& c : cases) {
      table.Append();
      table.FieldByName("Id")->SetAsInteger(++id);
      if (c.stored) table.FieldByName("Notes")->SetAsString(c.stored);
      table.Post();
    }
    table.First();
    report.Destination = TDestination::dPrinter;
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      printer.canvas.Calls.clear();
      report.BeginReport();
      auto* memo = dynamic_cast<classlib::TMemoField*>(table.FieldByName("Notes"));
      ASSERT_NE(memo, nullptr);
      report.PrintMemo(*memo);
      EXPECT_EQ(report.CursorPosition().Y, c.end_y);
      report.EndReport();
      std::vector<std::string> lines;
      for (const RecordedCall& call : printer.canvas.CallsOf("TextOut")) lines.push_back(call.Str());
      EXPECT_EQ(lines, c.lines);
      table.Next();
    }
  }
  classlib::DBFinalization();

  // A field that cannot be read ends the report.
  classlib::TMemoField loose;
  printer.Delivered.clear();
  report.BeginReport();
  EXPECT_THROW(report.PrintMemo(loose), std::exception);
  EXPECT_FALSE(report.Running());
  EXPECT_FALSE(printer.Printing());
  EXPECT_TRUE(printer.Delivered.empty());
  EXPECT_EQ(dialogs.created, dialogs.destroyed);
}

TEST_F(ReportWorksTest, WrappedTextKeepsTheScreenWidthMinus25AndBreaksPages) {
  report.Destination = TDestination::dPrinter;
  report.BeginReport();
  // 6.5 inches at 96 dpi is 624 screen pixels, less 25: 599; Arial 10 on screen is 7 pixels a
  // character, so 85 characters.
  report.PrintWrapped(std::string(100, 'x'));
  auto texts = printer.canvas.CallsOf("TextOut");
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].Text, std::string(85, 'x'));
  EXPECT_EQ(texts[1].Text, std::string(15, 'x'));
  report.EndReport();

  // Room for three lines of 46 pixels: lines 300, 346, 392; a fourth would end below the edge.
  report.SetBottomMargin((3300 - 300 - 46 * 3 - 41) / 300.0f);
  // Narrow right margin so each word takes a line.
  printer.canvas.Calls.clear();
  report.SetRightMargin(2550 / 300.0f - 1 - 0.6f);  // 0.6 inch: 58 - 25 = 33 pixels, four characters
  report.BeginReport();
  report.PrintWrapped("one two three four five");
  report.EndReport();
  texts = printer.canvas.CallsOf("TextOut");
  std::vector<std::pair<std::string, std::int32_t>> placed;
  for (const RecordedCall& c : texts) placed.push_back({c.Text, c.Sheet});
  EXPECT_EQ(placed, (std::vector<std::pair<std::string, std::int32_t>>{
                        {"one", 1}, {"two", 1}, {"thre", 1}, {"e", 2}, {"four", 2}, {"five", 2}}));
  EXPECT_EQ(report.PageTotal(), 3);  // the page after the last full one is started, empty
}

TEST_F(ReportWorksTest, FileReportsGoToTheFileNameOrRptworksPrnAndRestoreThePort) {
  struct Case {
    std::string file_name;
    std::string port;
  } cases[] = {{"", "rptworks.prn"}, {"/tmp/out.pdf", "/tmp/out.pdf"}};
  for (const Case& c : cases) {
    printer.Delivered.clear();
    report.Destination = TDestination::dFile;
    report.FileName = c.file_name;
    DrawPages(1);
    ASSERT_EQ(printer.Delivered.size(), 1u);
    EXPECT_EQ(printer.Delivered[0].Port, c.port);
    EXPECT_EQ(printer.Port(), "LPT1:");
    EXPECT_EQ(dialogs.label3, "Recording Printer to FILE:");
    EXPECT_EQ(dialogs.label2, "\"Untitled\" on");
  }
  EXPECT_EQ(dialogs.created, 2);
  EXPECT_EQ(dialogs.destroyed, 2);
}

TEST_F(ReportWorksTest, PrinterReportsNameTheJobAndThePort) {
  report.Destination = TDestination::dPrinter;
  report.Title = "Listing of ORDERS.DAT";
  report.SetOrientation(TPrinterOrientation::poLandscape);
  report.BeginReport();
  EXPECT_EQ(printer.Orientation(), TPrinterOrientation::poLandscape);
  EXPECT_EQ(report.DrawingArea(), (TRect{300, 300, 3300 - 300, 2550 - 300}));
  report.EndReport();
  EXPECT_EQ(printer.Delivered.at(0).Title, "Listing of ORDERS.DAT");
  EXPECT_EQ(dialogs.label1, (std::vector<std::string>{"Now printing page 1 of"}));
  EXPECT_EQ(dialogs.label2, "\"Listing of ORDERS.DAT\" on");
  EXPECT_EQ(dialogs.label3, "Recording Printer to LPT1:");
  EXPECT_EQ(dialogs.destroyed, 1);
}

TEST_F(ReportWorksTest, OrientationChangeWhileRunningRecomputesThePage) {
  report.Destination = TDestination::dPrinter;
  report.BeginReport();
  report.MoveCursor(3, 3);
  report.SetOrientation(TPrinterOrientation::poLandscape);
  EXPECT_EQ(report.DrawingArea(), (TRect{300, 300, 3000, 2250}));
  EXPECT_EQ(report.CursorPosition(), (TPoint{300, 300}));
  report.EndReport();
}

// Cancel in the dialog, run from the pending events of a page step.
TPrintDevice* g_cancel_printer = nullptr;
int g_steps_until_cancel = 0;
void CancelOnStep() {
  if (g_cancel_printer && --g_steps_until_cancel == 0) CancelJob(*g_cancel_printer);
}

class MessageHookGuard {
 public:
  explicit MessageHookGuard(platform::MessageHook hook) : saved_(platform::GetMessageHook()) {
    platform::SetMessageHook(hook);
  }
  ~MessageHookGuard() { platform::SetMessageHook(saved_); }

 private:
  platform::MessageHook saved_;
};

TEST_F(ReportWorksTest, CancelDuringPageTwoEndsTheReportCleanlyAndTheNextReportPrints) {
  MessageHookGuard hook(CancelOnStep);
  g_cancel_printer = &printer;
  g_steps_until_cancel = 2;  // the step from page 2 to page 3
  report.Destination = TDestination::dFile;
  report.FileName = "/tmp/report.pdf";
  report.BeginReport();
  report.PrintLeft("one", 0, 0, 1, 1);
  report.NewPage();
  report.PrintLeft("two", 0, 0, 1, 1);
  try {
    report.NewPage();
    FAIL() << "the cancelled job went on";
  } catch (const EPrinterNotPrinting& e) {
    EXPECT_STREQ(e.what(), "Printer is not currently printing");
  }
  EXPECT_FALSE(report.Running());
  EXPECT_FALSE(printer.Printing());
  EXPECT_TRUE(printer.Delivered.empty());
  EXPECT_EQ(printer.Port(), "LPT1:");
  EXPECT_EQ(dialogs.created, 1);
  EXPECT_EQ(dialogs.destroyed, 1);
  report.EndReport();  // not running: nothing
  EXPECT_EQ(dialogs.destroyed, 1);

  g_cancel_printer = nullptr;
  DrawPages(2);
  ASSERT_EQ(printer.Delivered.size(), 1u);
  EXPECT_EQ(printer.Delivered[0].Sheets, 2);
  EXPECT_EQ(dialogs.destroyed, 2);
}

TEST_F(ReportWorksTest, CancelBeforeTheEndFailsTheEnd) {
  report.Destination = TDestination::dPrinter;
  report.BeginReport();
  CancelJob(*dialogs.printer);
  EXPECT_THROW(report.EndReport(), EPrinterNotPrinting);
  EXPECT_FALSE(report.Running());
  EXPECT_EQ(dialogs.destroyed, 1);
  EXPECT_TRUE(printer.Delivered.empty());
}

// A printer that fails at one named step.
class FailingCanvas : public RecordingCanvas {
 public:
  using RecordingCanvas::RecordingCanvas;
  void TextRect(const TRect& clip, std::int32_t x, std::int32_t y, std::string_view text, bool opaque) override {
    if (fail) throw std::runtime_error("canvas failed");
    RecordingCanvas::TextRect(clip, x, y, text, opaque);
  }
  bool fail = false;
};

class FailingPrinter : public RecordingPrinter {
 public:
  void BeginDoc() override {
    if (fail_at == "BeginDoc") throw EPrinter("no printer");
    RecordingPrinter::BeginDoc();
  }
  void NewPage() override {
    if (fail_at == "NewPage") throw EPrinter("paper out");
    RecordingPrinter::NewPage();
  }
  void EndDoc() override {
    if (fail_at == "EndDoc") throw EPrinter("spooler gone");
    RecordingPrinter::EndDoc();
  }
  TDeviceCanvas& Canvas() override { return failing; }
  std::string fail_at;
  FailingCanvas failing;
};

TEST(ReportFailures, AnyFailureEndsTheReportDiscardsTheJobRestoresThePortAndReleasesTheDialogOnce) {
  const char* steps[] = {"OnPrint", "BeginDoc", "TextRect", "NewPage", "EndDoc", "caller"};
  for (const char* step : steps) {
    const std::string at = step;
    FailingPrinter printer;
    RecordingPreview preview;
    RecordingScreen screen;
    DialogLog dialogs;
    TReportWorks report(printer, preview, screen, [&](TPrintDevice&) { return std::make_unique<FakeDialog>(dialogs); });
    report.Destination = TDestination::dFile;
    report.FileName = "/tmp/x.pdf";
    report.OnPrint = [&] {
      if (at == "OnPrint") throw std::runtime_error("handler failed");
    };
    printer.fail_at = at;
    printer.failing.fail = at == "TextRect";
    bool thrown = false;
    try {
      report.BeginReport();
      report.PrintLeft("a", 0, 0, 1, 1);
      report.NewPage();
      if (at == "caller") throw std::runtime_error("engine error while reading");
      report.EndReport();
    } catch (const std::exception&) {
      thrown = true;
      if (at == "caller") report.AbortReport();
    }
    EXPECT_TRUE(thrown) << at;
    EXPECT_FALSE(report.Running()) << at;
    EXPECT_FALSE(printer.Printing()) << at;
    EXPECT_TRUE(printer.Delivered.empty()) << at;
    EXPECT_EQ(printer.Port(), "LPT1:") << at;
    EXPECT_EQ(dialogs.created, dialogs.destroyed) << at;
    EXPECT_LE(dialogs.destroyed, 1) << at;

    // And the next report prints.
    printer.fail_at.clear();
    printer.failing.fail = false;
    report.OnPrint = nullptr;
    report.BeginReport();
    report.PrintLeft("a", 0, 0, 1, 1);
    report.EndReport();
    EXPECT_EQ(printer.Delivered.size(), 1u) << at;
    EXPECT_EQ(printer.Port(), "LPT1:") << at;
  }
}

// The printer outlives the report: a report that goes while it runs must not leave the job open or the
// port on its file, or every later report fails.
TEST(ReportFailures, AReportDestroyedWhileRunningDiscardsItsJobAndRestoresThePort) {
  RecordingPrinter printer;
  RecordingPreview preview;
  RecordingScreen screen;
  DialogLog dialogs;
  {
    TReportWorks report(printer, preview, screen, [&](TPrintDevice&) { return std::make_unique<FakeDialog>(dialogs); });
    report.Destination = TDestination::dFile;
    report.FileName = "/tmp/x.pdf";
    report.BeginReport();
    report.PrintLeft("a", 0, 0, 1, 1);
    ASSERT_TRUE(printer.Printing());
  }
  EXPECT_FALSE(printer.Printing());
  EXPECT_TRUE(printer.Delivered.empty());
  EXPECT_EQ(printer.Port(), "LPT1:");
  EXPECT_EQ(dialogs.created, 1);
  EXPECT_EQ(dialogs.destroyed, 1);

  TReportWorks next(printer, preview, screen);
  next.Destination = TDestination::dPrinter;
  next.BeginReport();
  next.EndReport();
  EXPECT_EQ(printer.Delivered.size(), 1u);
}

TEST_F(ReportWorksTest, LinesPerInchZeroIsRefusedAndEndsTheReport) {
  report.Destination = TDestination::dPrinter;
  report.LineMeasure = TLineMeasure::lmLinesPerInch;
  report.BeginReport();
  EXPECT_THROW(report.NewLine(), std::invalid_argument);
  EXPECT_FALSE(report.Running());
  EXPECT_TRUE(printer.Delivered.empty());
  EXPECT_EQ(dialogs.destroyed, 1);
}

TEST_F(ReportWorksTest, ASecondBeginLeavesTheRunningReportAlone) {
  report.Destination = TDestination::dPrinter;
  report.BeginReport();
  EXPECT_THROW(report.BeginReport(), EPrinter);
  EXPECT_TRUE(report.Running());
  report.EndReport();
  EXPECT_EQ(printer.Delivered.size(), 1u);
}

TEST_F(ReportWorksTest, HugeAndUndefinedPositionsClampIntoTheDrawingArea) {
  report.Destination = TDestination::dPrinter;
  report.BeginReport();
  struct Case {
    float x, y;
    TPoint at;
  } cases[] = {{1e30f, -1e30f, {2250, 300}}, {std::numeric_limits<float>::quiet_NaN(), 1, {300, 600}}};
  for (const Case& c : cases) {
    report.MoveCursor(c.x, c.y);
    EXPECT_EQ(report.CursorPosition(), c.at);
  }
  report.EndReport();
}

}  // namespace
}  // namespace kavrin::components::rptworks
