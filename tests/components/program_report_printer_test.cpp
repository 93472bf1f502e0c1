// One printing path: the printer, the file and the print-to-file choice made in the print or
// printer-setup dialog are what the next report of a program's report printer prints on. Files are
// read back with poppler's pdftotext; a queue reaches a fake "lp" on PATH that records its arguments.
#include "components/program_report_printer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QProcess>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "classlib/widgets/dialogs.h"
#include "classlib/widgets/printer_choice.h"
#include "classlib/widgets/screen.h"
#include "classlib/widgets/scripted_ui.h"
#include "components/abort_form.h"
#include "components/recording_print_device.h"
#include "tests/classlib/widgets/widget_test_support.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::components::rptworks {
namespace {

namespace fs = std::filesystem;
using classlib::PrinterChoice;
using classlib::PrinterQueue;
using classlib::PrintFile;

std::string PdfText(const std::string& file) {
  QProcess process;
  process.start("pdftotext", {QString::fromStdString(file), "-"});
  if (!process.waitForFinished(20000) || process.exitCode() != 0) return "pdftotext failed on " + file;
  return process.readAllStandardOutput().toStdString();
}

class ScriptedSeam : public classlib::ScriptedUi {
 public:
  ScriptedSeam() : ScriptedUi([](const std::string& failure) { ADD_FAILURE() << failure; }) {}
};

// The process's printer choice, PATH and documents folder are the test's own, so that no job can land
// outside its folder; they come back at its end. The fake lp writes its arguments, one a line, to
// lp.args and keeps a copy of the job's file as job.pdf.
class PrintingPathTest : public testing::WidgetTest {
 protected:
  void SetUp() override {
    testing::WidgetTest::SetUp();
    saved_choice_ = PrinterChoice();
    PrinterChoice() = PrinterQueue("");
    const char* path = std::getenv("PATH");
    saved_path_ = path ? path : "";
    const std::string lp = dir.PathOf("lp");
    kavrin::testing::WriteWholeFile(lp, "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + dir.PathOf("lp.args") +
                                            "'\nfor last; do :; done\ncp \"$last\" '" + dir.PathOf("job.pdf") + "'\n");
    ASSERT_EQ(::chmod(lp.c_str(), 0755), 0);
    ASSERT_EQ(::setenv("PATH", (dir.Path() + ":" + saved_path_).c_str(), 1), 0);
    ASSERT_EQ(::setenv("XDG_DOCUMENTS_DIR", dir.PathOf("documents").c_str(), 1), 0);
  }
  void TearDown() override {
    PrinterChoice() = saved_choice_;
    ::setenv("PATH", saved_path_.c_str(), 1);
    ::unsetenv("XDG_DOCUMENTS_DIR");
    testing::WidgetTest::TearDown();
  }
  void PrintOnePage(const std::string& title, const std::string& text) {
    TReportWorks& report = printer.Report();
    report.Destination = TDestination::dPrinter;
    report.Title = title;
    report.SetReportFont({"Arial", 12, 0, clBlack});
    report.BeginReport();
    report.PrintLeft(text, 0, 0, 6, 1);
    report.EndReport();
  }

  kavrin::testing::TempDir dir;
  ProgramReportPrinter printer{nullptr};

 private:
  classlib::TPrinterChoice saved_choice_;
  std::string saved_path_;
};

TEST_F(PrintingPathTest, AReportAfterThePrintDialogChoseAFileLandsInThatFile) {
  const std::string file = dir.PathOf("incidents.pdf");
  ScriptedSeam ui;
  ui.ExpectPrint(PrintFile(file)).ExpectPrint(false);
  classlib::TPrintDialog dialog(nullptr);
  ASSERT_TRUE(dialog.Execute());
  EXPECT_TRUE(dialog.PrintToFile);
  PrintOnePage("KAVRIN Customer Support System Incident Listing ", "Five incidents on the first page");
  EXPECT_NE(PdfText(file).find("Five incidents on the first page"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir.PathOf("lp.args"))) << "a file job never reaches a queue";

  // A cancelled dialog leaves the choice: the next report overwrites the same file.
  EXPECT_FALSE(dialog.Execute());
  PrintOnePage("Incident Report", "The second report");
  EXPECT_NE(PdfText(file).find("The second report"), std::string::npos);
}

TEST_F(PrintingPathTest, AReportAfterTheSetupDialogChoseAQueueReachesLpWithThatQueue) {
  ScriptedSeam ui;
  ui.ExpectPrinterSetup(PrinterQueue("Office_Laser")).ExpectPrint(PrintFile(dir.PathOf("after.pdf")));
  classlib::TPrinterSetupDialog setup(nullptr);
  ASSERT_TRUE(setup.Execute());
  PrintOnePage("Listing of ORDERS.DAT", "Queued listing");
  const std::string args = kavrin::testing::ReadWholeFile(dir.PathOf("lp.args"));
  const std::string head = "-d\nOffice_Laser\n-t\nListing of ORDERS.DAT\n--\n";
  ASSERT_EQ(args.substr(0, head.size()), head) << args;
  EXPECT_NE(PdfText(dir.PathOf("job.pdf")).find("Queued listing"), std::string::npos);
  EXPECT_FALSE(fs::exists(args.substr(head.size(), args.size() - head.size() - 1))) << "the job's file is gone";

  // Choosing a file afterwards takes the next report off the queue.
  fs::remove(dir.PathOf("lp.args"));
  classlib::TPrintDialog dialog(nullptr);
  ASSERT_TRUE(dialog.Execute());
  PrintOnePage("Listing of ORDERS.DAT", "Filed listing");
  EXPECT_NE(PdfText(dir.PathOf("after.pdf")).find("Filed listing"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir.PathOf("lp.args")));
}

TEST_F(PrintingPathTest, TheScriptRefusesAFileTheDialogCannotTakeAndKeepsThePrinter) {
  PrinterChoice() = PrinterQueue("Office_Laser");
  std::vector<std::string> failures;
  {
    classlib::ScriptedUi ui([&](const std::string& failure) { failures.push_back(failure); });
    ui.ExpectPrint(PrintFile(dir.PathOf("refused.pdf"))).ExpectPrinterSetup(PrintFile(""));
    classlib::TPrintDialog dialog(nullptr);
    dialog.Options = {classlib::TPrintDialogOption::poDisablePrintToFile};
    EXPECT_FALSE(dialog.Execute());
    classlib::TPrinterSetupDialog setup(nullptr);
    EXPECT_FALSE(setup.Execute());
  }
  EXPECT_EQ(failures, (std::vector<std::string>{"print dialog does not offer printing to a file",
                                                "printer setup dialog cannot print to a file without a name"}));
  EXPECT_EQ(PrinterChoice(), PrinterQueue("Office_Laser"));
}

// Tests hand the helper their recording printer; the "Printing" dialog comes with it.
TEST(ProgramReportPrinter, ARecordingPrinterTakesTheJobWithTheDialogShown) {
  RecordingPrinter recording;
  ProgramReportPrinter wired(nullptr, recording);
  TReportWorks& report = wired.Report();
  report.Destination = TDestination::dPrinter;
  report.Title = "Structure of ORDERS.DAT";
  bool dialog_shown = false;
  report.BeginReport();
  for (int i = 0; i < classlib::Screen().FormCount(); ++i) {
    if (auto* form = dynamic_cast<TAbortForm*>(classlib::Screen().Forms(i))) {
      dialog_shown = form->Showing() && form->Label3->Caption() == "Recording Printer to LPT1:";
    }
  }
  report.PrintLeft("Name", 0, 0, 1, 0.2f);
  report.EndReport();
  EXPECT_TRUE(dialog_shown);
  ASSERT_EQ(recording.Delivered.size(), 1u);
  EXPECT_EQ(recording.Delivered[0].Title, "Structure of ORDERS.DAT");
  EXPECT_EQ(recording.canvas.CallsOf("TextRect").size(), 1u);
}

// A report left open (the program's code failed between its begin and end) whose owner form is freed:
// the form takes its "Printing" dialog with it, and the report, freed afterwards, lets the job go
// without touching that dialog again.
TEST(ProgramReportPrinter, AnOwnerFreedWithAReportOpenTakesTheDialogAndTheReportStillEnds) {
  RecordingPrinter recording;
  auto* owner = classlib::TForm::Create<classlib::TForm>(&classlib::Application());
  auto wired = std::make_unique<ProgramReportPrinter>(owner, recording);
  wired->Report().Destination = TDestination::dPrinter;
  wired->Report().BeginReport();
  const auto dialogs = [] {
    int count = 0;
    for (int i = 0; i < classlib::Screen().FormCount(); ++i) {
      if (dynamic_cast<TAbortForm*>(classlib::Screen().Forms(i))) ++count;
    }
    return count;
  };
  ASSERT_EQ(dialogs(), 1);
  classlib::Free(owner);
  EXPECT_EQ(dialogs(), 0);
  wired.reset();
  EXPECT_FALSE(recording.Printing());
  EXPECT_TRUE(recording.Delivered.empty());
}

}  // namespace
}  // namespace kavrin::components::rptworks
