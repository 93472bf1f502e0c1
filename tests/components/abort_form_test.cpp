// The "Printing" dialog on the pinned offscreen screen, driven by real reports: on the recording
// printer and on the Qt printer writing PDF files.
#include "components/abort_form.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <string>

#include "classlib/widgets/screen.h"
#include "components/qt_preview_device.h"
#include "components/qt_printer_device.h"
#include "components/recording_print_device.h"
#include "tests/classlib/widgets/widget_test_support.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::components::rptworks {
namespace {

namespace fs = std::filesystem;

TAbortForm* ShownAbortForm() {
  classlib::TScreen& screen = classlib::Screen();
  for (int i = 0; i < screen.FormCount(); ++i) {
    if (auto* form = dynamic_cast<TAbortForm*>(screen.Forms(i))) return form;
  }
  return nullptr;
}

// A press and release of the left button in the middle of Cancel, as the user gives it.
void ClickCancel(TAbortForm& form) {
  QWidget* button = form.BitBtn1->Widget();
  const QPoint middle = button->rect().center();
  testing::SendMouse(button, QEvent::MouseButtonPress, middle);
  testing::SendMouse(button, QEvent::MouseButtonRelease, middle, Qt::LeftButton, Qt::NoButton);
}

std::vector<std::string> FolderListing(const std::string& folder) {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

int PdfPages(const std::string& file) {
  QProcess process;
  process.start("pdfinfo", {QString::fromStdString(file)});
  if (!process.waitForFinished(20000) || process.exitCode() != 0) return -1;
  std::smatch match;
  const std::string info = process.readAllStandardOutput().toStdString();
  return std::regex_search(info, match, std::regex("Pages: +([0-9]+)")) ? std::stoi(match[1]) : -1;
}

class AbortFormTest : public testing::WidgetTest {
 protected:
  RecordingPrinter printer;
  RecordingPreview preview;
  RecordingScreen screen;
  TReportWorks report{printer, preview, screen, AbortFormFactory()};
};

TEST_F(AbortFormTest, TheDialogShowsTheJobWhileItRunsAndGoesWithIt) {
  const int forms = classlib::Screen().FormCount();
  report.Destination = TDestination::dPrinter;
  report.Title = "Listing of ORDERS.DAT";
  report.BeginReport();
  TAbortForm* form = ShownAbortForm();
  ASSERT_NE(form, nullptr);
  EXPECT_TRUE(form->Showing());
  EXPECT_EQ(form->Caption(), "Printing");
  EXPECT_EQ(form->BorderStyle(), classlib::TFormBorderStyle::bsDialog);
  EXPECT_EQ(form->BorderIcons(), classlib::TBorderIcons{});
  EXPECT_EQ(form->Position(), classlib::TPosition::poScreenCenter);
  // Centred on the 1024 x 768 screen.
  const QRect frame = form->FrameWidget()->frameGeometry();
  EXPECT_NEAR(frame.center().x(), 512, 1);
  EXPECT_NEAR(frame.center().y(), 384, 1);
  struct Line {
    classlib::TLabel* label;
    const char* text;
  } lines[] = {{form->Label1, "Now printing page 1 of"},
               {form->Label2, "\"Listing of ORDERS.DAT\" on"},
               {form->Label3, "Recording Printer to LPT1:"}};
  int top = -1;
  for (const Line& line : lines) {
    EXPECT_EQ(line.label->Caption(), line.text);
    EXPECT_EQ(line.label->Alignment(), classlib::TAlignment::taCenter);
    EXPECT_GT(line.label->Top(), top) << "one above the other";
    top = line.label->Top();
  }
  EXPECT_EQ(form->BitBtn1->Caption(), "&Cancel");
  EXPECT_EQ(form->BitBtn1->ModalResult, classlib::mrCancel);
  EXPECT_GT(form->BitBtn1->Top(), top);
  EXPECT_NEAR(form->BitBtn1->Left() + form->BitBtn1->Width() / 2, form->ClientWidth() / 2, 1);

  report.NewPage();
  EXPECT_EQ(form->Label1->Caption(), "Now printing page 2 of");
  report.EndReport();
  EXPECT_EQ(ShownAbortForm(), nullptr);
  EXPECT_EQ(classlib::Screen().FormCount(), forms);
  EXPECT_EQ(printer.Delivered.size(), 1u);

  // A file report names the file as its port; a preview shows no dialog.
  report.Destination = TDestination::dFile;
  report.Title.clear();
  report.BeginReport();
  ASSERT_NE(ShownAbortForm(), nullptr);
  EXPECT_EQ(ShownAbortForm()->Label2->Caption(), "\"Untitled\" on");
  EXPECT_EQ(ShownAbortForm()->Label3->Caption(), "Recording Printer to FILE:");
  report.EndReport();
  report.Destination = TDestination::dPreview;
  report.BeginReport();
  EXPECT_EQ(ShownAbortForm(), nullptr);
  report.EndReport();
}

TEST_F(AbortFormTest, CancelOutsideAJobDoesNothing) {
  report.Destination = TDestination::dPrinter;
  report.BeginReport();
  TAbortForm* form = ShownAbortForm();
  ASSERT_NE(form, nullptr);
  ClickCancel(*form);
  EXPECT_FALSE(printer.Printing());
  ClickCancel(*form);  // the job is gone already: no second abort
  EXPECT_EQ(printer.Aborted, 1);
  EXPECT_THROW(report.EndReport(), EPrinterNotPrinting);
  EXPECT_FALSE(report.Running());
  EXPECT_EQ(ShownAbortForm(), nullptr);
}

TEST_F(AbortFormTest, WithoutAQueueTheThirdLineNamesThePdfThePrinterWrites) {
  testing::TempDir dir;
  ASSERT_EQ(::setenv("XDG_DOCUMENTS_DIR", dir.Path().c_str(), 1), 0);
  testing::WriteWholeFile(dir.PathOf("Listing.pdf"), "an older listing");
  QtScreenDevice qt_screen;
  QtPreviewDevice qt_preview{qt_screen.PixelsPerInch()};
  QtPrinterDevice pdf{""};
  TReportWorks rw{pdf, qt_preview, qt_screen, AbortFormFactory()};
  rw.Destination = TDestination::dPrinter;
  rw.Title = "Listing";
  rw.BeginReport();
  ASSERT_NE(ShownAbortForm(), nullptr);
  EXPECT_EQ(ShownAbortForm()->Label3->Caption(), "PDF to " + dir.PathOf("Listing (2).pdf"));
  rw.PrintLeft("x", 0, 0, 1, 1);
  rw.EndReport();
  ::unsetenv("XDG_DOCUMENTS_DIR");
  EXPECT_EQ(PdfPages(dir.PathOf("Listing (2).pdf")), 1);
  EXPECT_EQ(testing::ReadWholeFile(dir.PathOf("Listing.pdf")), "an older listing");
}

// One report device with what is left of the jobs it was given.
struct Device {
  const char* name;
  std::function<std::unique_ptr<TReportWorks>(const std::string& folder)> make;
  std::function<bool()> delivered_nothing;
  std::function<std::string()> port;
  std::function<bool(const std::string& folder)> delivered_two_pages;
};

TEST_F(AbortFormTest, CancelPressedDuringPageTwoStopsTheReportAndTheNextReportPrints) {
  QtScreenDevice qt_screen;
  QtPreviewDevice qt_preview{qt_screen.PixelsPerInch()};
  QtPrinterDevice pdf{""};
  const Device devices[] = {
      {"recording printer",
       [&](const std::string&) { return std::make_unique<TReportWorks>(printer, preview, screen, AbortFormFactory()); },
       [&] { return printer.Delivered.empty() && printer.Aborted == 2; }, [&] { return printer.Port(); },
       [&](const std::string&) { return printer.Delivered.size() == 1 && printer.Delivered[0].Sheets == 2; }},
      {"PDF file",
       [&](const std::string&) {
         return std::make_unique<TReportWorks>(pdf, qt_preview, qt_screen, AbortFormFactory());
       },
       [] { return true; }, [&] { return pdf.Port(); },
       [](const std::string& folder) { return PdfPages(folder + "/next.pdf") == 2; }},
  };
  for (const Device& device : devices) {
    SCOPED_TRACE(device.name);
    testing::TempDir dir;
    const std::string kept = dir.PathOf("kept.pdf");
    testing::WriteWholeFile(kept, "an older report");
    std::unique_ptr<TReportWorks> rw = device.make(dir.Path());
    const std::string port = device.port();
    rw->Destination = TDestination::dFile;
    for (const std::string& name : {dir.PathOf("new.pdf"), kept}) {
      rw->FileName = name;
      rw->BeginReport();
      rw->PrintLeft("one", 0, 0, 1, 1);
      rw->NewPage();
      rw->PrintLeft("two", 0, 0, 1, 1);
      TAbortForm* form = ShownAbortForm();
      ASSERT_NE(form, nullptr);
      // The user's click waits in the queue until the report lets pending events run.
      QTimer::singleShot(0, form->Widget(), [form] { ClickCancel(*form); });
      try {
        rw->PrintLeft("still two", 0, 1, 1, 2);
        rw->NewPage();
        ADD_FAILURE() << "the cancelled report went on to page 3";
      } catch (const EPrinterNotPrinting& e) {
        EXPECT_STREQ(e.what(), "Printer is not currently printing");
      }
      EXPECT_FALSE(rw->Running());
      EXPECT_EQ(ShownAbortForm(), nullptr);
      rw->EndReport();  // not running any more: nothing
    }
    EXPECT_TRUE(device.delivered_nothing());
    EXPECT_EQ(FolderListing(dir.Path()), std::vector<std::string>{"kept.pdf"});
    EXPECT_EQ(testing::ReadWholeFile(kept), "an older report");
    EXPECT_EQ(device.port(), port);

    rw->FileName = dir.PathOf("next.pdf");
    rw->BeginReport();
    rw->PrintLeft("one", 0, 0, 1, 1);
    rw->NewPage();
    rw->PrintLeft("two", 0, 0, 1, 1);
    rw->EndReport();
    EXPECT_TRUE(device.delivered_two_pages(dir.Path()));
    EXPECT_EQ(ShownAbortForm(), nullptr);
  }
}

}  // namespace
}  // namespace kavrin::components::rptworks
