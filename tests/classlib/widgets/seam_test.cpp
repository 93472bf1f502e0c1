// The scripted seam: every kind of modal interaction answered from the queue, and every surprise or
// leftover reported with the text that names it.
#include <gtest/gtest.h>

#include "classlib/widgets/dialogs.h"
#include "classlib/widgets/form.h"
#include "classlib/widgets/std_controls.h"
#include "tests/classlib/widgets/widget_test_support.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::classlib {
namespace {

using testing::CollectingScriptedUi;
using testing::GTestScriptedUi;
using B = TMsgDlgBtn;

// A small dialog with a required name: OK refuses an empty name with an error box.
class NameDlg : public TForm {
 public:
  explicit NameDlg(TComponent* owner) : TForm(owner) {
    SetCaption("Enter Name");
    SetBorderStyle(TFormBorderStyle::bsDialog);
    NameEdit = new TEdit(*this);
    OKBtn = new TButton(*this);
    OKBtn->SetCaption("&OK");
    OKBtn->ModalResult = mrOk;
    OKBtn->SetDefault(true);
    CancelBtn = new TButton(*this);
    CancelBtn->SetCaption("&Cancel");
    CancelBtn->ModalResult = mrCancel;
    CancelBtn->SetCancel(true);
    OnShow = [this](TComponent*) { ++shows; };
    OnCloseQuery = [this](TComponent*, bool& canClose) {
      if (ModalResult() == mrOk && NameEdit->Text().empty()) {
        MessageDlg("A name is required.", TMsgDlgType::mtError, {B::mbOK});
        canClose = false;
      }
    };
    OnClose = [this](TComponent*, TCloseAction&) { ++closes; };
  }
  TEdit* NameEdit;
  TButton* OKBtn;
  TButton* CancelBtn;
  int shows = 0;
  int closes = 0;
};

class SeamTest : public testing::WidgetTest {};

TEST_F(SeamTest, MessageBoxesAnswerFromTheScript) {
  struct Case {
    TMsgDlgType type;
    const char* text;
    TMsgDlgButtons buttons;
    TModalResult answer;
  };
  const Case cases[] = {
      {TMsgDlgType::mtError, "Bad value", {B::mbOK}, mrOk},
      {TMsgDlgType::mtWarning, "Retry?", {B::mbYes, B::mbNo}, mrNo},
      {TMsgDlgType::mtInformation, "Done.", {B::mbOK}, mrOk},
      {TMsgDlgType::mtConfirmation, "Save changes ?", {B::mbYes, B::mbNo, B::mbCancel}, mrCancel},
      {TMsgDlgType::mtConfirmation, "Replace all?", {B::mbYes, B::mbNo, B::mbAll}, mrAll},
  };
  GTestScriptedUi ui;
  for (const auto& c : cases) ui.ExpectMessage(c.type, c.text, c.buttons, c.answer);
  for (const auto& c : cases) EXPECT_EQ(MessageDlg(c.text, c.type, c.buttons), c.answer) << c.text;
  ASSERT_EQ(ui.Messages().size(), 5u);
  EXPECT_EQ(ui.Messages()[1].Caption, "Warning");
  EXPECT_EQ(ui.Messages()[3].Caption, "Confirm");
}

TEST_F(SeamTest, ModalScriptFillsTheFormAndItsCloseChecksRun) {
  auto* dlg = TForm::Create<NameDlg>(&Application());
  GTestScriptedUi ui;
  ui.ExpectModal("Enter Name", [dlg](TForm&) {
    dlg->OKBtn->Click();  // refused: the name is empty
    EXPECT_EQ(dlg->ModalResult(), mrNone);
    dlg->NameEdit->SetText("Ada");
    dlg->OKBtn->Click();
  });
  ui.ExpectMessage(TMsgDlgType::mtError, "A name is required.", {B::mbOK}, mrOk);
  EXPECT_EQ(dlg->ShowModal(), mrOk);
  EXPECT_EQ(dlg->shows, 1);
  EXPECT_EQ(dlg->closes, 1);  // OnClose only for the accepted press
  EXPECT_FALSE(dlg->Visible());
  // Reused: a second run starts without a result.
  ui.ExpectModal("Enter Name", [dlg](TForm&) { dlg->CancelBtn->Click(); });
  EXPECT_EQ(dlg->ShowModal(), mrCancel);
  Free(dlg);
}

TEST_F(SeamTest, FileAndPrintDialogsAnswerFromTheScript) {
  TOpenDialog open(nullptr);
  open.Title = "Select data file(s) to open shared";
  open.Options = {TOpenOption::ofAllowMultiSelect};
  TSaveDialog save(nullptr);
  save.Title = "Save New Data File";
  save.DefaultExt = "DAT";
  TPrintDialog print(nullptr);
  TPrinterSetupDialog setup(nullptr);
  GTestScriptedUi ui;
  ui.ExpectOpen("Select data file(s) to open shared", {"/tmp/A.DAT", "/tmp/B.DAT"}, true)
      .ExpectOpen("Select data file(s) to open shared", {})
      .ExpectSave("Save New Data File", "/tmp/kavrin-nonexistent-NEW")
      .ExpectPrint(true)
      .ExpectPrinterSetup(false)
      .ExpectFolder("Select the working folder", "/tmp")
      .ExpectFolder("Select the working folder", std::nullopt);
  ASSERT_TRUE(open.Execute());
  EXPECT_EQ(open.Files, (std::vector<std::string>{"/tmp/A.DAT", "/tmp/B.DAT"}));
  EXPECT_EQ(open.FileName, "/tmp/A.DAT");
  EXPECT_TRUE(open.Options.Has(TOpenOption::ofReadOnly));
  EXPECT_FALSE(open.Execute());
  ASSERT_TRUE(save.Execute());
  EXPECT_EQ(save.FileName, "/tmp/kavrin-nonexistent-NEW.DAT");  // the default extension added
  EXPECT_TRUE(print.Execute());
  EXPECT_FALSE(setup.Execute());
  std::string folder = "/var";
  EXPECT_TRUE(SelectFolder("Select the working folder", folder));
  EXPECT_EQ(folder, "/tmp");
  EXPECT_FALSE(SelectFolder("Select the working folder", folder));
  EXPECT_EQ(folder, "/tmp");
}

TEST_F(SeamTest, AnUnexpectedBoxFailsNamingItsText) {
  CollectingScriptedUi ui;
  EXPECT_EQ(MessageDlg("Delete this incident?", TMsgDlgType::mtConfirmation, {B::mbYes, B::mbNo}), mrNo);
  ASSERT_EQ(ui.seen.size(), 1u);
  EXPECT_NE(ui.seen[0].find("\"Delete this incident?\""), std::string::npos) << ui.seen[0];
}

TEST_F(SeamTest, MismatchesAndLeftoversFail) {
  CollectingScriptedUi ui;
  ui.ExpectMessage(TMsgDlgType::mtWarning, "Retry?", {B::mbYes, B::mbNo}, mrYes);
  // Same text, other buttons: reported, answered cautiously.
  EXPECT_EQ(MessageDlg("Retry?", TMsgDlgType::mtWarning, {B::mbYes, B::mbNo, B::mbCancel}), mrCancel);
  ASSERT_EQ(ui.seen.size(), 1u);
  EXPECT_NE(ui.seen[0].find("Yes/No/Cancel"), std::string::npos) << ui.seen[0];

  // An answer that is not a button of the box.
  ui.ExpectMessage(TMsgDlgType::mtError, "Oops", {B::mbOK}, mrYes);
  MessageDlg("Oops", TMsgDlgType::mtError, {B::mbOK});
  EXPECT_NE(ui.seen.back().find("not a button"), std::string::npos) << ui.seen.back();

  // A dialog that came while a box was expected names both.
  ui.ExpectMessage(TMsgDlgType::mtError, "First", {B::mbOK}, mrOk);
  TOpenDialog open(nullptr);
  open.Title = "Pick";
  EXPECT_FALSE(open.Execute());
  EXPECT_NE(ui.seen.back().find("open dialog \"Pick\""), std::string::npos) << ui.seen.back();
  EXPECT_NE(ui.seen.back().find("\"First\""), std::string::npos) << ui.seen.back();

  // Several files for a single-file dialog.
  ui.Verify();
  ui.ExpectOpen("Pick", {"/a", "/b"});
  EXPECT_FALSE(open.Execute());
  EXPECT_NE(ui.seen.back().find("several files"), std::string::npos);

  const auto before = ui.seen.size();
  ui.ExpectMessage(TMsgDlgType::mtInformation, "Never shown", {B::mbOK}, mrOk);
  ui.Verify();
  ASSERT_EQ(ui.seen.size(), before + 1);
  EXPECT_NE(ui.seen.back().find("\"Never shown\" [OK] was never shown"), std::string::npos) << ui.seen.back();
}

TEST_F(SeamTest, AModalFormLeftWithoutAResultFails) {
  auto* dlg = TForm::Create<NameDlg>(&Application());
  CollectingScriptedUi ui;
  ui.ExpectModal("Enter Name", [](TForm&) {});
  EXPECT_EQ(dlg->ShowModal(), mrCancel);
  ASSERT_EQ(ui.seen.size(), 1u);
  EXPECT_NE(ui.seen[0].find("without a result"), std::string::npos);
  EXPECT_FALSE(dlg->Modal());
  // An unexpected modal form is not run at all.
  EXPECT_EQ(dlg->ShowModal(), mrCancel);
  EXPECT_NE(ui.seen.back().find("modal form \"Enter Name\""), std::string::npos);
  Free(dlg);
}

TEST_F(SeamTest, SaveAsksBeforeReplacingAnExistingFile) {
  testing::TempDir dir;
  const std::string existing = dir.PathOf("OLD.DAT");
  {
    std::FILE* f = std::fopen(existing.c_str(), "w");
    std::fclose(f);
  }
  TSaveDialog save(nullptr);
  save.Options = {TOpenOption::ofOverwritePrompt, TOpenOption::ofHideReadOnly};
  GTestScriptedUi ui;
  const std::string question = existing + " already exists.\nDo you want to replace it?";
  ui.ExpectSave("Save As", existing)
      .ExpectMessage(TMsgDlgType::mtWarning, question, {B::mbYes, B::mbNo}, mrNo)
      .ExpectSave("Save As", existing)
      .ExpectMessage(TMsgDlgType::mtWarning, question, {B::mbYes, B::mbNo}, mrYes);
  ASSERT_TRUE(save.Execute());
  EXPECT_EQ(save.FileName, existing);
}

}  // namespace
}  // namespace kavrin::classlib
