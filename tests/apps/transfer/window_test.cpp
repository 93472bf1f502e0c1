// GASKORN's window on real Qt widgets (offscreen): the lists, a click on Begin with its status texts
// and messages through the scripted seam, failures reaching the application's handler, help, about
// box and the password question.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "apps/transfer/about_box.h"
#include "apps/transfer/main_form.h"
#include "apps/transfer/password_dialog.h"
#include "apps/transfer/transfer_messages.h"
#include "apps/transfer/window_transfer_ui.h"
#include "classlib/widgets/application.h"
#include "classlib/widgets/help.h"
#include "classlib/widgets/screen.h"
#include "classlib/widgets/scripted_ui.h"
#include "tests/apps/transfer/byte_fixtures.h"
#include "tests/apps/transfer/transfer_test_support.h"
#include "tests/classlib/widgets/widget_test_support.h"
#include "tests/helpers/child_scenario.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::transfer::testing {
namespace {

using namespace classlib;
using Texts = std::vector<std::string>;

// What the window showed when a message box came up.
struct TSeen {
  TMsgDlgType Type;
  std::string Text;
  std::string Status;
  bool BeginEnabled;
  bool CloseEnabled;
  TCursor Cursor;
};

// A scripted seam that also notes the window's state at each box; failures fail the test.
class TWindowSeam : public ScriptedUi {
 public:
  TWindowSeam() : ScriptedUi([](const std::string& failure) { ADD_FAILURE() << failure; }) {}
  TModalResult MessageBox(const TMessageRequest& request) override {
    if (Form) {
      Seen.push_back(TSeen{request.Type, request.Text, Form->StatusBar->SimpleText(), Form->BeginButton->Enabled(),
                           Form->CloseButton->Enabled(), Screen().Cursor()});
    }
    return ScriptedUi::MessageBox(request);
  }
  TMainForm* Form = nullptr;
  std::vector<TSeen> Seen;
};

// A press as Qt delivers it, so the click runs through the guarded entry like a user's.
void Press(TButton* button) {
  auto* widget = qobject_cast<QAbstractButton*>(button->Widget());
  ASSERT_NE(widget, nullptr);
  widget->click();
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application().SetTitle(MainFormCaption);
    form = TForm::Create<TMainForm>(&Application());
    form->SourceDirectoryListBox->SetDirectory(source.Path());
    form->DestDirectoryListBox->SetDirectory(destination.Path());
    form->Show();
  }
  void TearDown() override {
    Free(form);
    Application().OnException = nullptr;
    SetHelpViewer(nullptr);
    Screen().SetCursor(crDefault);
  }
  void WriteNames(const std::string& name) {
    WriteFile(source.PathOf(name),
              BuildDbf(0x03, {{"NAME", 'C', 10}, {"CITY", 'C', 10}}, {"Ann       Oslo", "Bob       Rome"}));
  }
  void Select(const Texts& names) {
    for (int i = 0; i < form->FilesListBox->Items().Count(); ++i) {
      const std::string& item = form->FilesListBox->Items().Strings(i);
      form->FilesListBox->SetSelected(i, std::find(names.begin(), names.end(), item) != names.end());
    }
  }
  Texts Items() const {
    Texts items;
    for (int i = 0; i < form->FilesListBox->Items().Count(); ++i)
      items.push_back(form->FilesListBox->Items().Strings(i));
    return items;
  }
  kavrin::testing::TempDir source;
  kavrin::testing::TempDir destination;
  TMainForm* form = nullptr;
};

TEST_F(WindowTest, TheListsOfferTheOneRootAndTheTablesInAnyCase) {
  WriteNames("ONE.DBF");
  WriteNames("two.dbf");
  WriteFile(source.PathOf("Cust.Db"), {});
  WriteFile(source.PathOf("NOTES.TXT"), {});
  WriteFile(source.PathOf("ONE.DBT"), {});
  form->FilesListBox->Update();
  EXPECT_EQ(Items(), (Texts{"Cust.Db", "ONE.DBF", "two.dbf"}));
  EXPECT_TRUE(form->FilesListBox->MultiSelect());
  for (TDriveComboBox* drives : {form->SourceDriveComboBox, form->DestDriveComboBox}) {
    ASSERT_EQ(drives->Items().Count(), 1);
    EXPECT_EQ(drives->Items().Strings(0), "/");
  }
  EXPECT_EQ(form->Caption(), "BDE Database Transfer Utility");
  EXPECT_EQ(form->ClientWidth(), 560);
  EXPECT_EQ(form->ClientHeight(), 452);
  EXPECT_EQ(form->BeginButton->Caption(), "&Begin Transfer...");
  EXPECT_EQ(form->CloseButton->Caption(), "&Close");
}

TEST_F(WindowTest, BeginTransfersTheTwoSelectedTablesShowingEachInTheStatusBar) {
  WriteNames("ONE.DBF");
  WriteNames("SKIPPED.DBF");
  WriteNames("TWO.DBF");
  form->FilesListBox->Update();
  Select({"ONE.DBF", "TWO.DBF"});
  TWindowSeam seam;
  seam.Form = form;
  for (const char* table : {"ONE.DBF", "TWO.DBF"}) {
    seam.ExpectMessage(TMsgDlgType::mtInformation, NoPrimaryIndexText(table), {TMsgDlgBtn::mbOK}, mrOk);
  }
  seam.ExpectMessage(TMsgDlgType::mtInformation, "Transfer completed successfully.", {TMsgDlgBtn::mbOK}, mrOk);
  Press(form->BeginButton);
  seam.Verify();

  ASSERT_EQ(seam.Seen.size(), 3u);
  EXPECT_EQ(seam.Seen[0].Status, "Transferring table ONE.DBF to KAVRIN table...");
  EXPECT_EQ(seam.Seen[1].Status, "Transferring table TWO.DBF to KAVRIN table...");
  EXPECT_EQ(seam.Seen[2].Status, "");
  for (const TSeen& seen : seam.Seen) {
    EXPECT_FALSE(seen.BeginEnabled) << seen.Text;
    EXPECT_FALSE(seen.CloseEnabled) << seen.Text;
    EXPECT_EQ(seen.Cursor, crHourGlass) << seen.Text;
  }
  EXPECT_TRUE(form->BeginButton->Enabled());
  EXPECT_TRUE(form->CloseButton->Enabled());
  EXPECT_EQ(Screen().Cursor(), crDefault);
  for (const char* table : {"ONE.DAT", "TWO.DAT"}) {
    const TReadTable read = ReadEngineTable(destination.PathOf(table));
    EXPECT_EQ(read.Records, (std::vector<Texts>{{"1", "Ann", "Oslo"}, {"2", "Bob", "Rome"}})) << table;
  }
  EXPECT_FALSE(std::filesystem::exists(destination.PathOf("SKIPPED.DAT")));
}

TEST_F(WindowTest, ALongTableKeepsTheWindowAliveShowingProgressAndRefusingToClose) {
  std::vector<std::string> records;
  for (int n = 0; n < 40000; ++n) records.push_back(std::to_string(n));
  WriteFile(source.PathOf("LONG.DBF"), BuildDbf(0x03, {{"NAME", 'C', 8}}, records));
  form->FilesListBox->Update();
  Select({"LONG.DBF"});
  TWindowSeam seam;
  seam.ExpectMessage(TMsgDlgType::mtInformation, NoPrimaryIndexText("LONG.DBF"), {TMsgDlgBtn::mbOK}, mrOk);
  seam.ExpectMessage(TMsgDlgType::mtInformation, "Transfer completed successfully.", {TMsgDlgBtn::mbOK}, mrOk);
  // Runs only when the transfer lets the application process messages; the window system's close box
  // is pressed each time.
  Texts statuses;
  int closes = 0;
  bool buttonsDisabled = true;
  QTimer timer;
  timer.setInterval(1);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (!form->Transferring()) return;
    statuses.push_back(form->StatusBar->SimpleText());
    buttonsDisabled = buttonsDisabled && !form->BeginButton->Enabled() && !form->CloseButton->Enabled();
    ++closes;
    form->Widget()->close();
  });
  timer.start();
  Press(form->BeginButton);
  timer.stop();
  seam.Verify();
  EXPECT_GT(closes, 0);
  EXPECT_TRUE(form->Visible());
  EXPECT_TRUE(buttonsDisabled);
  const std::string progress = "Transferring table LONG.DBF to KAVRIN table... record ";
  EXPECT_TRUE(
      std::any_of(statuses.begin(), statuses.end(), [&](const std::string& s) { return s.rfind(progress, 0) == 0; }));
  EXPECT_EQ(ReadEngineTable(destination.PathOf("LONG.DAT")).Records.size(), 40000u);
  // Once the transfer is over, the window closes again.
  form->Widget()->close();
  EXPECT_FALSE(form->Visible());
}

TEST_F(WindowTest, NothingSelectedCompletesAtOnce) {
  WriteNames("ONE.DBF");
  form->FilesListBox->Update();
  TWindowSeam seam;
  seam.ExpectMessage(TMsgDlgType::mtInformation, "Transfer completed successfully.", {TMsgDlgBtn::mbOK}, mrOk);
  Press(form->BeginButton);
  seam.Verify();
  EXPECT_FALSE(std::filesystem::exists(destination.PathOf("ONE.DAT")));
}

TEST_F(WindowTest, ADamagedTableEndsTheClickInTheApplicationsHandlerWithTheWindowRestored) {
  WriteNames("A.DBF");
  WriteFile(source.PathOf("B.DBF"), {0x03, 0x01, 0x02});
  WriteNames("C.DBF");
  form->FilesListBox->Update();
  Select({"A.DBF", "B.DBF", "C.DBF"});
  std::vector<std::string> handled;
  Application().OnException = [&](TComponent*, const std::exception& e) { handled.push_back(e.what()); };
  TWindowSeam seam;
  seam.ExpectMessage(TMsgDlgType::mtInformation, NoPrimaryIndexText("A.DBF"), {TMsgDlgBtn::mbOK}, mrOk);
  Press(form->BeginButton);
  seam.Verify();
  ASSERT_EQ(handled.size(), 1u);
  EXPECT_NE(handled[0].find("B.DBF"), std::string::npos) << handled[0];
  EXPECT_TRUE(form->BeginButton->Enabled());
  EXPECT_TRUE(form->CloseButton->Enabled());
  EXPECT_EQ(Screen().Cursor(), crDefault);
  EXPECT_EQ(form->StatusBar->SimpleText(), "");
  EXPECT_EQ(ReadEngineTable(destination.PathOf("A.DAT")).Records.size(), 2u);
  EXPECT_FALSE(std::filesystem::exists(destination.PathOf("C.DAT")));
}

TEST_F(WindowTest, HelpAndWhatsThisGoToTheHelpFileBesideTheProgram) {
  std::vector<THelpRequest> requests;
  SetHelpViewer([&](const THelpRequest& r) { requests.push_back(r); });
  const std::string helpFile = (std::filesystem::path(Application().ExeName()).parent_path() / "GASKORN.HLP").string();
  EXPECT_EQ(Application().HelpFile, helpFile);
  Press(form->UsageButton);
  struct Case {
    TControl* Control;
    long Context;
  };
  const std::vector<Case> cases{{form->SourceDirectoryListBox, 4},
                                {form->SourceDriveComboBox, 4},
                                {form->FilesListBox, 5},
                                {form->DestDirectoryListBox, 6},
                                {form->BeginButton, 7},
                                {form->CloseButton, 8},
                                {form->UsageButton, 9},
                                {form->StatusBar, 10},
                                {form->AboutButton, 11}};
  for (const Case& c : cases) {
    EXPECT_EQ(c.Control->PopupMenu(), form->HelpPopup) << c.Context;
    form->HelpPopup->SetPopupComponent(c.Control);
    form->WhatsThisItem->Click();
  }
  // A label is no windowed control: no help for it.
  form->HelpPopup->SetPopupComponent(form->ExplanationLabel);
  form->WhatsThisItem->Click();
  ASSERT_EQ(requests.size(), 1 + cases.size());
  EXPECT_EQ(requests[0].HelpFile, helpFile);
  EXPECT_EQ(requests[0].Command, static_cast<unsigned>(HELP_CONTENTS));
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(requests[i + 1].Command, static_cast<unsigned>(HELP_CONTEXTPOPUP));
    EXPECT_EQ(requests[i + 1].Data, cases[i].Context);
  }
  EXPECT_EQ(form->WhatsThisItem->Caption(), "What's This ?");

  // F1 pressed in a list reaches the form first (it previews keys), which asks for the window's own
  // context and swallows the key.
  requests.clear();
  form->FilesListBox->SetFocus();
  ASSERT_TRUE(
      kavrin::testing::PumpUntil([&] { return QApplication::focusWidget() == form->FilesListBox->FocusWidget(); }));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Command, static_cast<unsigned>(HELP_CONTEXT));
  EXPECT_EQ(requests[0].Data, 3);
}

TEST_F(WindowTest, TheAboutBoxRunsModallyThroughTheSeam) {
  form->AboutBox = TForm::Create<TAboutBox>(&Application());
  bool ran = false;
  {
    ScriptedUi seam([](const std::string& failure) { ADD_FAILURE() << failure; });
    seam.ExpectModal("About", [&](TForm& shown) {
      ran = true;
      auto& box = dynamic_cast<TAboutBox&>(shown);
      EXPECT_EQ(box.VersionGroupBox->Caption(), "Version Information");
      EXPECT_EQ(box.ProductLabel->Caption(), "BDE Database Transfer Utility");
      EXPECT_EQ(box.SystemLabel->Caption(), "KAVRIN Database System");
      EXPECT_TRUE(box.VersionMemo->ReadOnly());
      EXPECT_EQ(box.VersionMemo->Alignment(), TAlignment::taCenter);
      EXPECT_EQ(box.CloseButton->Caption(), "&Close");
      EXPECT_EQ(box.CloseButton->Tag, 12);
      box.CloseButton->Click();
    });
    Press(form->AboutButton);
    seam.Verify();
  }
  EXPECT_TRUE(ran);
  EXPECT_FALSE(form->AboutBox->Visible());
  Free(form->AboutBox);
}

TEST_F(WindowTest, ThePasswordQuestionAnswersOrGivesUp) {
  TWindowTransferUi ui(*form->BeginButton, *form->CloseButton, *form->StatusBar);
  struct Case {
    bool Accept;
    bool Expected;
  };
  for (const Case c : {Case{true, true}, Case{false, false}}) {
    ScriptedUi seam([](const std::string& failure) { ADD_FAILURE() << failure; });
    seam.ExpectModal("Enter Password", [&](TForm& shown) {
      auto& dialog = dynamic_cast<TPasswordDialog&>(shown);
      EXPECT_EQ(dialog.PromptLabel->Caption(), "Password for SECRET.DB:");
      dialog.PasswordEdit->SetText("jackal");
      (c.Accept ? dialog.OkButton : dialog.CancelButton)->Click();
    });
    std::string password;
    EXPECT_EQ(ui.AskPassword("SECRET.DB", password), c.Expected);
    EXPECT_EQ(password, c.Expected ? "jackal" : "");
    seam.Verify();
  }
}

// The window system's close request (Alt+F4) on the main window ends the application for good, so
// the scenario runs in a child process of its own.
TEST(WindowExit, AltF4OnTheMainWindowEndsTheApplication) {
  if (kavrin::testing::InChildScenario()) {
    Application().SetTitle(MainFormCaption);
    auto* main = Application().CreateForm<TMainForm>();
    ASSERT_EQ(Application().MainForm(), main);
    main->Show();
    main->FrameWidget()->close();
    EXPECT_TRUE(Application().Terminated());
    Application().Run();  // returns at once: the loop never starts again
    std::printf("run returned\n");
    return;
  }
  const kavrin::testing::ChildRun run = kavrin::testing::RunCurrentTestInChild();
  EXPECT_EQ(run.ExitStatus, 0) << run.Output;
  EXPECT_NE(run.Output.find("run returned\n"), std::string::npos) << run.Output;
  EXPECT_NE(run.Output.find("[  PASSED  ] 1 test."), std::string::npos) << run.Output;
  EXPECT_FALSE(Application().Terminated()) << "the test program's own application goes on";
}

}  // namespace
}  // namespace kavrin::transfer::testing
