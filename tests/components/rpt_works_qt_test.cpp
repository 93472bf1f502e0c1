// The report printer on its Qt devices, offscreen: the preview bitmap and real PDF files read back
// with poppler's tools.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QGuiApplication>
#include <QProcess>
#include <QStringList>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>

#include "components/qt_preview_device.h"
#include "components/qt_printer_device.h"
#include "components/rpt_works.h"
#include "platform/ticks.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::components::rptworks {
namespace {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "rpt_works_qt_test";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QGuiApplication>(argc, argv);
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QGuiApplication> app_;
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

std::string RunTool(const QString& program, const QStringList& args) {
  QProcess process;
  process.start(program, args);
  EXPECT_TRUE(process.waitForFinished(20000)) << program.toStdString();
  EXPECT_EQ(process.exitCode(), 0) << program.toStdString() << ": " << process.readAllStandardError().toStdString();
  return process.readAllStandardOutput().toStdString();
}

bool FileExists(const std::string& path) { return std::ifstream(path).good(); }

struct Devices {
  QtScreenDevice screen;
  QtPreviewDevice preview{screen.PixelsPerInch()};
  QtPrinterDevice printer{""};  // no queue: PDF on Letter
  TReportWorks report{printer, preview, screen};
};

TEST(ReportPreviewQt, BitmapSizeZoomAndAFilledBoxesColour) {
  Devices d;
  ASSERT_EQ(d.screen.PixelsPerInch(), 96);
  struct Case {
    std::int32_t zoom, width, height;
  } cases[] = {{100, 816, 1056}, {200, 1632, 2112}};
  for (const Case& c : cases) {
    d.report.ZoomPercent = c.zoom;
    d.report.BeginReport();
    d.report.SetPen(clBlack, 1, TPenStyle::psClear, TPenMode::pmCopy);
    d.report.SetBrush(RGB(10, 200, 30), TBrushStyle::bsSolid);
    d.report.DrawBox(1, 1, 2, 2);  // margins 1 inch: the box covers inch 2 to 3 of the page
    d.report.EndReport();
    const QImage image = d.preview.Image();
    EXPECT_EQ(image.width(), c.width);
    EXPECT_EQ(image.height(), c.height);
    const int inch = 96 * c.zoom / 100;
    EXPECT_EQ(image.pixelColor(inch * 5 / 2, inch * 5 / 2), QColor(10, 200, 30)) << c.zoom;
    EXPECT_EQ(image.pixelColor(inch * 3 / 2, inch * 3 / 2), QColor(Qt::white)) << c.zoom;
  }
}

TEST(ReportPreviewQt, FontsBelowEightPointsAreSmallFonts) {
  Devices d;
  struct Case {
    std::int32_t zoom, size;
    const char* family;
    int pixels;
  } cases[] = {{100, 7, "Small Fonts", 9}, {200, 7, "Small Fonts", 18}, {100, 8, "Arial", 11}, {200, 12, "Arial", 32}};
  for (const Case& c : cases) {
    d.report.ZoomPercent = c.zoom;
    d.report.SetReportFont({"Arial", c.size, 0, clBlack});
    d.report.BeginReport();
    EXPECT_EQ(d.preview.QtCanvas().Font().family().toStdString(), c.family) << c.size << " at " << c.zoom;
    EXPECT_EQ(d.preview.QtCanvas().Font().pixelSize(), c.pixels);
    d.report.EndReport();
  }
}

TEST(ReportPreviewQt, BoxTextIsClippedAtTheBoxEdges) {
  Devices d;
  d.report.SetReportFont({"Arial", 12, 0, clBlack});
  d.report.BeginReport();
  d.report.SetBrush(clWhite, TBrushStyle::bsClear);
  d.report.PrintLeft("WWWWWWWWWWWWWWWWWWWW", 0, 0, 0.5f, 0.3f);  // pixels 96..143 x 96..124
  d.report.EndReport();
  const QImage image = d.preview.Image();
  auto dark_in = [&](int x1, int x2, int y1, int y2) {
    int dark = 0;
    for (int y = y1; y < y2; ++y) {
      for (int x = x1; x < x2; ++x) dark += QColor(image.pixel(x, y)).lightness() < 128;
    }
    return dark;
  };
  EXPECT_GT(dark_in(96, 144, 96, 125), 0);
  EXPECT_EQ(dark_in(144, 600, 80, 140), 0);
  EXPECT_EQ(dark_in(96, 144, 125, 140), 0);
}

void TwoLandscapePages(TReportWorks& report) {
  report.SetOrientation(TPrinterOrientation::poLandscape);
  report.SetTopMargin(0.2f);
  report.SetLeftMargin(0.2f);
  report.SetRightMargin(0.2f);
  report.SetBottomMargin(0.2f);
  report.SetReportFont({"Arial", 16, fsBold, clBlack});
  report.BeginReport();
  report.SetBrush(RGB(245, 245, 245), TBrushStyle::bsSolid);
  report.DrawBox(0, 0, 10.5f, 0.8f);
  report.PrintLeft("KAVRIN Database System", 0.1f, 0.1f, 5.1f, 0.4f);
  report.PrintRight("Page 1", 8.2f, 0.1f, 10.4f, 0.3f);
  report.DrawCheck(5.6f, 1, 5.8f, 1.2f);
  report.NewPage();
  report.SetBrush(clWhite, TBrushStyle::bsClear);
  report.PrintCenter("Second page", 0, 1, 10.5f, 1.5f);
  report.DrawLine(0, 2, 10.5f, 2);
  report.EndReport();
}

TEST(ReportPdfQt, TwoLandscapePagesToAFile) {
  testing::TempDir dir;
  Devices d;
  d.report.Destination = TDestination::dFile;
  d.report.FileName = dir.PathOf("report.pdf");
  TwoLandscapePages(d.report);
  const QString pdf = QString::fromStdString(d.report.FileName);
  const std::string info = RunTool("pdfinfo", {pdf});
  EXPECT_TRUE(std::regex_search(info, std::regex("Pages: +2\n"))) << info;
  EXPECT_TRUE(std::regex_search(info, std::regex("Page size: +792 x 612 pts"))) << info;
  const std::string text = RunTool("pdftotext", {"-layout", pdf, "-"});
  for (const char* expected : {"KAVRIN Database System", "Page 1", "Second page"}) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected << " in " << text;
  }
  EXPECT_LT(text.find("Page 1"), text.find("\f")) << "page 1's text is on page 1";
  EXPECT_GT(text.find("Second page"), text.find("\f"));
  const std::string fonts = RunTool("pdffonts", {pdf});
  EXPECT_NE(fonts.find("LiberationSans"), std::string::npos) << fonts;
  // Only the PDF is left in the folder: the job's temporary file is gone.
  const std::string listing = RunTool("ls", {"-A", QString::fromStdString(dir.Path())});
  EXPECT_EQ(listing, "report.pdf\n");
  // A new file gets the mode any new file of this user gets, not the private one of the job's file.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  struct stat st {};
  ASSERT_EQ(::stat(d.report.FileName.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
}

TEST(ReportPdfQt, FileNameEmptyWritesRptworksPrnInTheCurrentFolder) {
  testing::TempDir dir;
  ASSERT_EQ(::chdir(dir.Path().c_str()), 0);
  Devices d;
  d.report.Destination = TDestination::dFile;
  d.report.BeginReport();
  d.report.PrintLeft("x", 0, 0, 1, 1);
  d.report.EndReport();
  EXPECT_TRUE(FileExists(dir.PathOf("rptworks.prn")));
  ASSERT_EQ(::chdir("/"), 0);
}

TEST(ReportPdfQt, AFileInAMissingFolderFailsTheStartAndLeavesTheReportIdle) {
  testing::TempDir dir;
  Devices d;
  d.report.Destination = TDestination::dFile;
  d.report.FileName = dir.PathOf("missing/report.pdf");
  const std::string port = d.printer.Port();
  EXPECT_THROW(d.report.BeginReport(), EPrinter);
  EXPECT_FALSE(d.report.Running());
  EXPECT_FALSE(d.printer.Printing());
  EXPECT_EQ(d.printer.Port(), port);
  d.report.FileName = dir.PathOf("report.pdf");
  d.report.BeginReport();
  d.report.EndReport();
  EXPECT_TRUE(FileExists(d.report.FileName));
}

// The job's sheets keep the orientation it started with, so a change while it runs would draw a
// landscape page onto a portrait sheet.
TEST(ReportPdfQt, AnOrientationChangeWhileTheJobRunsIsRefusedAndEndsTheReport) {
  testing::TempDir dir;
  Devices d;
  d.report.Destination = TDestination::dFile;
  d.report.FileName = dir.PathOf("report.pdf");
  d.report.BeginReport();
  d.report.SetOrientation(TPrinterOrientation::poPortrait);  // no change: the job goes on
  EXPECT_TRUE(d.report.Running());
  try {
    d.report.SetOrientation(TPrinterOrientation::poLandscape);
    ADD_FAILURE() << "the change was taken";
  } catch (const EPrinter& e) {
    EXPECT_STREQ(e.what(), "Printing in progress");
  }
  EXPECT_FALSE(d.report.Running());
  EXPECT_FALSE(d.printer.Printing());
  EXPECT_EQ(RunTool("ls", {"-A", QString::fromStdString(dir.Path())}), "");

  d.report.SetOrientation(TPrinterOrientation::poLandscape);
  d.report.BeginReport();
  d.report.PrintLeft("x", 0, 0, 1, 1);
  d.report.EndReport();
  EXPECT_TRUE(std::regex_search(RunTool("pdfinfo", {QString::fromStdString(d.report.FileName)}),
                                std::regex("Page size: +792 x 612 pts")));
}

TPrintDevice* g_printer = nullptr;
int g_steps = 0;
void CancelOnSecondStep() {
  if (g_printer && ++g_steps == 2 && g_printer->Printing()) g_printer->Abort();
}

TEST(ReportPdfQt, CancelDuringPageTwoLeavesNoFileAndTheNextReportPrints) {
  testing::TempDir dir;
  Devices d;
  const std::string existing = dir.PathOf("kept.pdf");
  testing::WriteWholeFile(existing, "an older report");
  const platform::MessageHook saved = platform::GetMessageHook();
  platform::SetMessageHook(CancelOnSecondStep);
  g_printer = &d.printer;
  d.report.Destination = TDestination::dFile;
  for (const std::string& name : {dir.PathOf("new.pdf"), existing}) {
    g_steps = 0;
    d.report.FileName = name;
    d.report.BeginReport();
    d.report.PrintLeft("one", 0, 0, 1, 1);
    d.report.NewPage();
    d.report.PrintLeft("two", 0, 0, 1, 1);
    EXPECT_THROW(d.report.NewPage(), EPrinterNotPrinting);
    EXPECT_FALSE(d.report.Running());
  }
  platform::SetMessageHook(saved);
  EXPECT_EQ(RunTool("ls", {"-A", QString::fromStdString(dir.Path())}), "kept.pdf\n");
  EXPECT_EQ(testing::ReadWholeFile(existing), "an older report");

  d.report.FileName = dir.PathOf("next.pdf");
  TwoLandscapePages(d.report);
  EXPECT_TRUE(
      std::regex_search(RunTool("pdfinfo", {QString::fromStdString(d.report.FileName)}), std::regex("Pages: +2\n")));
}

TEST(ReportPdfQt, WithoutAQueueThePrinterWritesANewPdfInTheDocumentsFolder) {
  testing::TempDir dir;
  ASSERT_EQ(::setenv("XDG_DOCUMENTS_DIR", dir.Path().c_str(), 1), 0);
  Devices d;
  d.report.Destination = TDestination::dPrinter;
  d.report.Title = "Listing of a/b\tc";
  for (int run = 0; run < 2; ++run) {
    d.report.BeginReport();
    d.report.PrintLeft("x", 0, 0, 1, 1);
    d.report.EndReport();
  }
  EXPECT_EQ(RunTool("ls", {"-A", QString::fromStdString(dir.Path())}),
            "Listing of a_b_c (2).pdf\nListing of a_b_c.pdf\n");
  EXPECT_EQ(QtPrinterDevice::PdfNameOf(""), "Untitled");
  ::unsetenv("XDG_DOCUMENTS_DIR");
}

}  // namespace
}  // namespace kavrin::components::rptworks
