// The real seam: each Qt dialog opens offscreen and is closed by a timer, as a user would close it.
#include "classlib/widgets/dialogs.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "classlib/widgets/qt_ui.h"
#include "classlib/widgets/std_controls.h"
#include "tests/classlib/widgets/widget_test_support.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::classlib {
namespace {

using B = TMsgDlgBtn;

// Waits for the next modal widget and acts on it; a dialog that never came fails the test.
class WhenModal {
 public:
  explicit WhenModal(std::function<void(QWidget*)> act) : act_(std::move(act)) {
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (QWidget* w = QApplication::activeModalWidget()) {
        timer_.stop();
        done_ = true;
        act_(w);
      }
    });
    timer_.start();
  }
  ~WhenModal() { EXPECT_TRUE(done_) << "no dialog came"; }

 private:
  std::function<void(QWidget*)> act_;
  QTimer timer_;
  bool done_ = false;
};

// Types a name into a file dialog's name box and presses its accept button, as a user does.
void TypeFileName(QFileDialog* fd, const std::string& name) {
  auto* edit = fd->findChild<QLineEdit*>("fileNameEdit");
  ASSERT_NE(edit, nullptr);
  edit->setText(QString::fromStdString(name));
  static_cast<QDialog*>(fd)->accept();  // the file dialog's own accept, as its button calls it
  if (fd->isVisible()) {
    ADD_FAILURE() << "the file dialog did not take " << name;
    fd->reject();
  }
}

class RealDialogsTest : public testing::WidgetTest {};

// What the user picks in Qt's print dialog, and under the setup's title in the same dialog, is the
// process's printer once accepted: here a PDF file typed into the dialog's file name box.
TEST_F(RealDialogsTest, AFileNamedInThePrintDialogsBecomesTheProcesssPrinter) {
  const TPrinterChoice saved = PrinterChoice();
  kavrin::testing::TempDir dir;
  struct Case {
    bool setup;
    const char* file;
    const char* title;
  } cases[] = {{false, "listing.pdf", "Print"}, {true, "setup.pdf", "Print Setup"}};
  for (const Case& c : cases) {
    PrinterChoice() = PrinterQueue("");
    const std::string file = dir.PathOf(c.file);
    {
      WhenModal accept([&](QWidget* w) {
        auto* pd = qobject_cast<QDialog*>(w);
        ASSERT_NE(pd, nullptr);
        EXPECT_EQ(pd->windowTitle().toStdString(), c.title);
        auto* name = pd->findChild<QLineEdit*>("filename");
        ASSERT_NE(name, nullptr);
        name->setText(QString::fromStdString(file));
        pd->accept();
      });
      if (c.setup) {
        TPrinterSetupDialog setup(nullptr);
        ASSERT_TRUE(setup.Execute());
      } else {
        TPrintDialog print(nullptr);
        ASSERT_TRUE(print.Execute());
        EXPECT_TRUE(print.PrintToFile);
      }
    }
    EXPECT_EQ(PrinterChoice(), PrintFile(file)) << c.title;
  }
  PrinterChoice() = saved;
}

TEST_F(RealDialogsTest, AMessageBoxAnswersWithThePressedButton) {
  QtUi real;
  struct Case {
    TMsgDlgButtons buttons;
    const char* press;
    TModalResult expected;
  };
  const Case cases[] = {
      {{B::mbYes, B::mbNo}, "&No", mrNo},
      {{B::mbYes, B::mbNo, B::mbCancel}, "Cancel", mrCancel},
      {{B::mbOK}, "OK", mrOk},
      {{B::mbYes, B::mbNo, B::mbAll}, "&All", mrAll},
  };
  for (const auto& c : cases) {
    std::string title;
    WhenModal close([&](QWidget* w) {
      title = w->windowTitle().toStdString();
      for (auto* b : w->findChildren<QAbstractButton*>()) {
        if (b->text() == c.press) b->click();
      }
    });
    TMessageRequest request{TMsgDlgType::mtConfirmation, "Delete this field ?", "", c.buttons, 0};
    EXPECT_EQ(real.MessageBox(request), c.expected) << c.press;
    EXPECT_EQ(title, "Confirm");
  }
}

TEST_F(RealDialogsTest, AModalFormRunsItsOwnLoopAndCloseChecks) {
  auto* form = TForm::Create<TForm>(&Application());
  form->SetCaption("Options");
  auto* ok = new TButton(*form);
  ok->ModalResult = mrOk;
  int asked = 0;
  form->OnCloseQuery = [&](TComponent*, bool& can) { can = ++asked > 1; };  // the first press is refused
  WhenModal press([&](QWidget*) {
    static_cast<QPushButton*>(ok->Widget())->click();
    QTimer::singleShot(20, [ok] { static_cast<QPushButton*>(ok->Widget())->click(); });
  });
  QtUi real;
  EXPECT_EQ(real.ShowModal(*form), mrOk);
  EXPECT_EQ(asked, 2);
  EXPECT_FALSE(form->Visible());
  Free(form);
}

TEST_F(RealDialogsTest, AnAcceptedOpenDialogMakesItsFolderCurrent) {
  testing::TempDir dir;
  const std::string file = dir.PathOf("ORDERS.DAT");
  std::ofstream(file) << "x";
  TOpenDialog open(nullptr);
  open.Title = "Select data file(s) to open shared";
  open.Filter = "KAVRIN Data Files (*.DAT)|*.DAT";
  open.InitialDir = dir.Path();
  open.Options = {TOpenOption::ofAllowMultiSelect};
  std::string title;
  WhenModal accept([&](QWidget* w) {
    auto* fd = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(fd, nullptr);
    title = fd->windowTitle().toStdString();
    auto* readOnly = fd->findChild<QCheckBox*>();
    ASSERT_NE(readOnly, nullptr);
    readOnly->setChecked(true);
    TypeFileName(fd, "ORDERS.DAT");
  });
  ASSERT_TRUE(open.Execute());
  EXPECT_EQ(title, "Select data file(s) to open shared");
  EXPECT_EQ(open.FileName, file);
  EXPECT_TRUE(open.Options.Has(TOpenOption::ofReadOnly));
  EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(dir.Path()));
}

TEST_F(RealDialogsTest, SaveFolderPrintAndSetupDialogsOpenAndClose) {
  testing::TempDir dir;
  TSaveDialog save(nullptr);
  save.Title = "Save New Data File";
  save.DefaultExt = "DAT";
  save.InitialDir = dir.Path();
  {
    WhenModal accept([&](QWidget* w) {
      auto* fd = qobject_cast<QFileDialog*>(w);
      ASSERT_NE(fd, nullptr);
      TypeFileName(fd, "NEW");
    });
    ASSERT_TRUE(save.Execute());
  }
  EXPECT_EQ(save.FileName, dir.PathOf("NEW.DAT"));
  std::filesystem::create_directory(dir.PathOf("Work"));
  std::string folder = dir.Path();
  {
    WhenModal accept([&](QWidget* w) {
      auto* fd = qobject_cast<QFileDialog*>(w);
      ASSERT_NE(fd, nullptr);
      TypeFileName(fd, dir.PathOf("Work"));
    });
    ASSERT_TRUE(SelectFolder("Select the working folder", folder));
  }
  EXPECT_EQ(folder, dir.PathOf("Work"));
  {
    WhenModal cancel([](QWidget* w) { static_cast<QDialog*>(w)->reject(); });
    TPrintDialog print(nullptr);
    EXPECT_FALSE(print.Execute());
  }
  {
    WhenModal cancel([](QWidget* w) { static_cast<QDialog*>(w)->reject(); });
    TPrinterSetupDialog setup(nullptr);
    EXPECT_FALSE(setup.Execute());
  }
}

}  // namespace
}  // namespace kavrin::classlib
