// Nothing is freed under a running engine call: while a table waits for a record lock that a real second
// process holds (messages run meanwhile), closes of its browse window and of the main window, a release
// of the window and a second command are refused or put off; the wait ends normally and everything is
// still there afterwards.
// The engine's headers first: they use a word that Qt's headers define as a macro.
#include <gtest/gtest.h>

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classlib/data/field.h"
#include "classlib/widgets/form.h"
#include "classlib/widgets/menus.h"
#include "dataset/kavrintb.h"
#include "engine/engine_error.h"
#include "engine/error_codes.h"
#include "runtime/abort.h"
#include "tests/classlib/widgets/widget_test_support.h"
#include "tests/helpers/holder_process.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::classlib {
namespace {

using kavrin::testing::HolderAccess;
using kavrin::testing::HolderDisposition;
using kavrin::testing::HolderProcess;
using kavrin::testing::HolderShare;
using kavrin::testing::PumpIdle;
using kavrin::testing::PumpUntil;

// An MDI main window with one browse window on PEOPLE.DAT, whose record 1 another process locks.
class BusyGuardTest : public testing::WidgetTest {
 protected:
  void SetUp() override {
    WidgetTest::SetUp();
    CreatePeople();
    frame = Application().CreateForm<TForm>();
    ASSERT_EQ(Application().MainForm(), frame);
    frame->SetFormStyle(TFormStyle::fsMDIForm);
    frame->SetBounds(0, 0, 800, 600);
    frame->Show();
    OpenBrowse();
    holder = std::make_unique<HolderProcess>(dir.PathOf("PEOPLE.DAT"), HolderAccess::ReadWrite, HolderShare::Shared,
                                             HolderDisposition::OpenExisting, KAVRIN_RECORD_HOLDER);
    ASSERT_TRUE(holder->Ready());
    ASSERT_TRUE(holder->Send("lock 1").ok);
  }
  void TearDown() override {
    ClearEvents();
    holder.reset();
    if (!browseFreed) Free(browse);
    Free(frame);
    WidgetTest::TearDown();
  }

  void CreatePeople() {
    dataset::TTable t;
    t.SetDatabaseName(dir.Path());
    t.SetTableName("PEOPLE.DAT");
    t.FieldDefs().Add("ID", TFieldType::ftInteger);
    t.FieldDefs().Add("Name", TFieldType::ftString, 20);
    t.IndexDefs().Add("", "ID", ixPrimary);
    t.CreateTable();
    t.Open();
    for (int i = 1; i <= 3; ++i) {
      t.Append();
      t.FieldByName("ID")->SetAsInteger(i);
      t.FieldByName("Name")->SetAsString("R" + std::to_string(i));
      t.Post();
    }
    t.Close();
  }

  // A browse window owning its open table; it frees itself when closed.
  void OpenBrowse() {
    browseFreed = false;
    browse = TForm::Create<TForm>(&Application());
    browse->SetFormStyle(TFormStyle::fsMDIChild);
    browse->AfterConstruction();
    browse->OnClose = [](TComponent*, TCloseAction& action) { action = TCloseAction::caFree; };
    browse->OnDestroy = [this](TComponent*) { browseFreed = true; };
    browseWindow = browse->FrameWidget();
    table = new dataset::TKAVRINTable(browse);
    table->SetDatabaseName(dir.Path());
    table->SetTableName("PEOPLE.DAT");
    table->SetLockRetryCount(255);
    table->SetLockWaitTime(20);
    table->Open();
  }

  QMdiSubWindow* SubWindow() const { return frame->MDIArea()->subWindowList().value(0); }

  kavrin::testing::TempDir dir;
  TForm* frame = nullptr;
  TForm* browse = nullptr;
  QPointer<QWidget> browseWindow;
  bool browseFreed = false;
  dataset::TKAVRINTable* table = nullptr;
  std::unique_ptr<HolderProcess> holder;
};

TEST_F(BusyGuardTest, DuringALockWaitClosesAndASecondCommandAreRefusedAndTheWaitEndsNormally) {
  TMenuItem second(nullptr);
  bool secondRan = false;
  second.OnClick = [&](TComponent*) {
    TBusyScope busy;
    secondRan = true;
  };
  engine::TErrorCode datasetClose = 0;
  struct Action {
    const char* what;
    std::function<void()> run;
    bool freedAfterwards;  // put off until the wait is over, then done
    bool closesDataset = false;
  };
  const Action actions[] = {
      {"the browse window's close box, or Ctrl+F4", [&] { SubWindow()->close(); }, false},
      {"the browse window's Close", [&] { browse->Close(); }, false},
      {"the main window's close box, or Alt+F4", [&] { frame->FrameWidget()->close(); }, false},
      {"a second command", [&] { Guarded(&second, [&] { second.Click(); }); }, false},
      {"the dataset's Close",
       [&] {
         try {
           table->Close();
         } catch (const engine::EDBEngineError& e) {
           datasetClose = e.Code();
         }
       },
       false, true},
      {"a release of the browse window", [&] { browse->Release(); }, true},
  };
  for (const bool inCommand : {false, true}) {
    for (const Action& action : actions) {
      SCOPED_TRACE(std::string(action.what) + (inCommand ? ", the edit inside a command" : ", the edit alone"));
      ASSERT_FALSE(Application().Busy());
      secondRan = false;
      datasetClose = 0;
      bool scripted = false;
      int depth = 0;
      bool tableClosedEarly = false;
      // The user's action, run by the wait's message handling; the other process lets go later, so
      // whatever the action queued runs during the wait too.
      QTimer script, letGo;
      script.setSingleShot(true);
      letGo.setSingleShot(true);
      QObject::connect(&script, &QTimer::timeout, [&] {
        scripted = true;
        depth = Application().MessageDepth();
        action.run();
      });
      QObject::connect(&letGo, &QTimer::timeout, [&] {
        tableClosedEarly = browseFreed || !table->Active();
        ASSERT_TRUE(holder->Send("unlock 1").ok);
      });
      script.start(40);
      letGo.start(140);
      auto edit = [&] {
        table->First();
        table->Edit();
      };
      if (inCommand) {
        TBusyScope command;
        EXPECT_TRUE(Application().CommandRunning());
        edit();
      } else {
        edit();
      }
      EXPECT_TRUE(scripted);
      EXPECT_GT(depth, 0);
      EXPECT_EQ(Application().MessageDepth(), 0);
      EXPECT_FALSE(Application().Busy());
      // Nothing went: the wait ended with the lock taken, the windows open, the program running.
      EXPECT_EQ(table->State(), TDataSetState::dsEdit);
      EXPECT_TRUE(table->RecordLocked());
      EXPECT_FALSE(tableClosedEarly);
      EXPECT_FALSE(secondRan);
      EXPECT_FALSE(browseFreed);
      EXPECT_TRUE(browseWindow);
      EXPECT_EQ(frame->MDIChildCount(), 1);
      EXPECT_TRUE(frame->Visible());
      EXPECT_FALSE(Application().Terminated());
      EXPECT_EQ(datasetClose, action.closesDataset ? engine::ec::FileInUse : 0);
      table->Cancel();
      ASSERT_TRUE(holder->Send("lock 1").ok);

      if (action.freedAfterwards) {
        ASSERT_TRUE(PumpUntil([&] { return browseFreed; }));
        EXPECT_FALSE(browseWindow);
        EXPECT_EQ(frame->MDIChildCount(), 0);
      } else {
        PumpIdle();
        EXPECT_FALSE(browseFreed);
        if (!browseFreed) Free(browse);
      }
      // Not busy any more: a command starts.
      Guarded(&second, [&] { second.Click(); });
      EXPECT_TRUE(secondRan);
      OpenBrowse();
    }
  }
}

TEST_F(BusyGuardTest, ACommandRefusesClosesAndASecondCommandUntilItEnds) {
  bool closeAsked = false;
  browse->OnCloseQuery = [&](TComponent*, bool& canClose) {
    closeAsked = true;
    canClose = true;
  };
  {
    TBusyScope command;
    EXPECT_TRUE(Application().Busy());
    browse->Close();
    frame->Close();
    EXPECT_THROW(TBusyScope second, runtime::EAbort);
    EXPECT_TRUE(Application().CommandRunning());
    // A modal form the command shows still closes: that ends only its modal run.
    auto* question = TForm::Create<TForm>(&Application());
    question->SetCaption("Question");
    testing::GTestScriptedUi ui;
    ui.ExpectModal("Question", [](TForm& form) { form.Close(); });
    EXPECT_EQ(question->ShowModal(), mrCancel);
    Free(question);
  }
  EXPECT_FALSE(closeAsked) << "a refused close asks nothing";
  EXPECT_FALSE(Application().Busy());
  EXPECT_FALSE(Application().Terminated());
  PumpIdle();
  EXPECT_FALSE(browseFreed);
  // Asked again later, the close goes through.
  browse->Close();
  EXPECT_TRUE(closeAsked);
  ASSERT_TRUE(PumpUntil([&] { return browseFreed; }));
}

}  // namespace
}  // namespace kavrin::classlib
