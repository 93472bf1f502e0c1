// The application and screen objects: hints, exceptions, idle, the message hook, cursors, help.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>

#include "classlib/data/exceptions.h"
#include "classlib/widgets/help.h"
#include "classlib/widgets/hint_text.h"
#include "classlib/widgets/menus.h"
#include "classlib/widgets/std_controls.h"
#include "platform/ticks.h"
#include "runtime/abort.h"
#include "tests/classlib/widgets/widget_test_support.h"

namespace kavrin::classlib {
namespace {

using testing::GTestScriptedUi;
using testing::PumpIdle;
using B = TMsgDlgBtn;

class ApplicationTest : public testing::WidgetTest {
 protected:
  void SetUp() override {
    WidgetTest::SetUp();
    form = TForm::Create<TForm>(&Application());
    form->SetBounds(10, 10, 400, 300);
    form->Show();
  }
  void TearDown() override {
    ClearEvents();
    Free(form);
    WidgetTest::TearDown();
  }
  TForm* form = nullptr;
};

TEST_F(ApplicationTest, HintsReachOnHintAsTheirLongPart) {
  std::vector<std::string> seen;
  Application().OnHint = [&](TComponent*) { seen.push_back(Application().Hint()); };
  struct Case {
    const char* hint;
    const char* statusText;
  };
  const Case cases[] = {
      {"Open Shared|", ""},
      {"Print|Print the current report", "Print the current report"},
      {"Create a new data file", "Create a new data file"},
      {"", ""},
  };
  auto* panel = new TButton(*form);  // a control without a hint first, so every case is a change
  QEvent enterPanel(QEvent::Enter);
  QCoreApplication::sendEvent(panel->Widget(), &enterPanel);
  for (const auto& c : cases) {
    auto* button = new TButton(*form);
    button->SetHint(c.hint);
    button->SetShowHint(true);
    QEvent enter(QEvent::Enter);
    QCoreApplication::sendEvent(button->Widget(), &enter);
    EXPECT_EQ(Application().Hint(), c.statusText) << c.hint;
    // The tool tip shows the short part.
    EXPECT_EQ(button->Widget()->toolTip().toStdString(), GetShortHint(c.hint));
    QCoreApplication::sendEvent(panel->Widget(), &enterPanel);
  }
  // A menu item's hint arrives when the item is highlighted.
  TMainMenu menu(nullptr);
  TMenuItem file(nullptr);
  file.SetCaption("&File");
  TMenuItem item(nullptr);
  item.SetCaption("&New...");
  item.SetHint("Create a new data file");
  menu.Items().Add(&file);
  file.Add(&item);
  item.Action()->hover();
  EXPECT_EQ(Application().Hint(), "Create a new data file");
  EXPECT_EQ(seen, (std::vector<std::string>{"Print the current report", "", "Create a new data file", "",
                                            "Create a new data file"}));
  file.Remove(&item);
  menu.Items().Remove(&file);
}

TEST_F(ApplicationTest, ExceptionsFromQtEntriesGoToOnExceptionAndEAbortIsSilent) {
  std::vector<std::string> caught;
  Application().OnException = [&](TComponent*, const std::exception& e) { caught.push_back(e.what()); };
  auto* button = new TButton(*form);
  auto* edit = new TEdit(*form);
  bool abort = false;
  button->OnClick = [&](TComponent*) {
    if (abort) runtime::Abort();
    throw std::runtime_error("Table is busy");
  };
  edit->OnKeyDown = [](TComponent*, Word& key, TShiftState) {
    if (key == VK_F1) throw std::runtime_error("from a key");
  };
  // A click through Qt's own signal, a key event, a timer.
  static_cast<QPushButton*>(button->Widget())->click();
  edit->SetFocus();
  QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
  QCoreApplication::sendEvent(edit->Widget(), &f1);
  QTimer::singleShot(0, edit->Widget(), [&] { Guarded(form, [] { throw std::logic_error("from a timer"); }); });
  PumpIdle();
  abort = true;
  static_cast<QPushButton*>(button->Widget())->click();
  EXPECT_EQ(caught, (std::vector<std::string>{"Table is busy", "from a key", "from a timer"}));
}

// Controls hand their exceptions to the sink beside the Ui seam, which the application fills; another
// sink takes them with the sender, and a failing or missing sink lets nothing cross Qt's frames.
TEST_F(ApplicationTest, EventExceptionsGoToTheSinkBesideTheUiSeam) {
  std::vector<std::pair<TComponent*, std::string>> sunk;
  TEventExceptionSink applications = SetEventExceptionSink([&](TComponent* sender) {
    try {
      throw;
    } catch (const std::exception& e) {
      sunk.emplace_back(sender, e.what());
    }
  });
  ASSERT_TRUE(applications) << "the application installs its handler as the sink";
  auto* button = new TButton(*form);
  button->OnClick = [](TComponent*) { throw std::runtime_error("Table is busy"); };
  auto click = [button] { static_cast<QPushButton*>(button->Widget())->click(); };
  click();
  SetEventExceptionSink([](TComponent*) { throw std::runtime_error("the sink failed"); });
  click();
  SetEventExceptionSink(nullptr);
  click();
  SetEventExceptionSink(applications);
  std::vector<std::string> caught;
  Application().OnException = [&](TComponent* sender, const std::exception& e) {
    caught.push_back(std::string(sender == button ? "button: " : "other: ") + e.what());
  };
  click();
  EXPECT_EQ(sunk, (std::vector<std::pair<TComponent*, std::string>>{{button, "Table is busy"}}));
  EXPECT_EQ(caught, (std::vector<std::string>{"button: Table is busy"}));
}

TEST_F(ApplicationTest, TheDataLayersHandlerIsTheApplications) {
  std::vector<std::string> caught;
  Application().OnException = [&](TComponent* sender, const std::exception& e) {
    caught.push_back(std::string(e.what()) + (sender == &Application() ? " from the application" : ""));
  };
  CallHandlingExceptions([] { DatabaseError("Field 'ID' must have a value"); });
  CallHandlingExceptions([] { runtime::Abort(); });
  HandleException(EDatabaseError("direct"));
  EXPECT_EQ(caught, (std::vector<std::string>{"Field 'ID' must have a value from the application",
                                              "direct from the application"}));
  // Without OnException the default error box shows it.
  Application().OnException = nullptr;
  GTestScriptedUi ui;
  ui.ExpectMessage(TMsgDlgType::mtError, "Dataset not in edit or insert mode.", {B::mbOK}, mrOk);
  CallHandlingExceptions([] { DatabaseError("Dataset not in edit or insert mode"); });
}

TEST_F(ApplicationTest, TheDefaultHandlerShowsAnErrorBoxWithAFullStop) {
  Application().SetTitle("KAVRIN Database System Utility");
  struct Case {
    const char* message;
    const char* shown;
  };
  const Case cases[] = {
      {"KAVRIN Engine Error # 10258 Record locked by another user",
       "KAVRIN Engine Error # 10258 Record locked by another user."},
      {"Already ends.", "Already ends."},
      {"Careful!", "Careful!"},
      {"Value 42", "Value 42."},
  };
  GTestScriptedUi ui;
  for (const auto& c : cases) ui.ExpectMessage(TMsgDlgType::mtError, c.shown, {B::mbOK}, mrOk);
  for (const auto& c : cases) {
    Guarded(form, [&] { throw std::runtime_error(c.message); });
  }
  Guarded(form, [] { runtime::Abort(); });  // nothing shown
  ASSERT_EQ(ui.Messages().size(), 4u);
  EXPECT_EQ(ui.Messages()[0].Caption, "KAVRIN Database System Utility");
}

TEST_F(ApplicationTest, IdleRunsUntilDone) {
  int calls = 0;
  Application().OnIdle = [&](TComponent*, bool& done) { done = ++calls >= 3; };
  ASSERT_TRUE(testing::PumpUntil([&] { return calls >= 3; }));
  PumpIdle();
  const int settled = calls;
  PumpIdle();
  // Done: no more calls until something else happens.
  EXPECT_LE(calls, settled + 2);
}

TEST_F(ApplicationTest, TheEngineMessageHookProcessesPendingEvents) {
  bool ran = false;
  QTimer::singleShot(0, form->Widget(), [&] { ran = true; });
  ASSERT_NE(platform::GetMessageHook(), nullptr);
  platform::ProcessMessages();
  EXPECT_TRUE(ran);
}

TEST_F(ApplicationTest, CommandLineAndExeName) {
  EXPECT_NE(Application().ExeName().find("kavrin_widgets_tests"), std::string::npos);
  EXPECT_EQ(Application().ParamStr(0), Application().ExeName());
  EXPECT_EQ(Application().ParamStr(Application().ParamCount() + 1), "");
}

TEST_F(ApplicationTest, TheHourglassIsOneLevel) {
  Screen().SetCursor(crHourGlass);
  Screen().SetCursor(crHourGlass);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  Screen().SetCursor(crDefault);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(Screen().Cursor(), crDefault);
}

TEST_F(ApplicationTest, ThePinnedScreen) {
  EXPECT_EQ(Screen().Width(), 1024);
  EXPECT_EQ(Screen().Height(), 768);
  EXPECT_EQ(Screen().PixelsPerInch(), 96);
}

TEST_F(ApplicationTest, HelpCallsNameTheFileAndContextAndNeverFail) {
  std::vector<std::string> requests;
  SetHelpViewer([&](const THelpRequest& r) { requests.push_back(DescribeHelpRequest(r)); });
  Application().HelpFile = "/opt/norva/NORVA.HLP";
  EXPECT_TRUE(Application().HelpCommand(HELP_CONTENTS, 0));
  EXPECT_TRUE(Application().HelpCommand(HELP_CONTEXTPOPUP, 27));
  EXPECT_TRUE(Application().HelpContext(8));
  SetHelpViewer([](const THelpRequest&) { throw std::runtime_error("viewer broke"); });
  EXPECT_TRUE(Application().HelpContext(9));
  SetHelpViewer(nullptr);
  EXPECT_TRUE(WinHelp("", HELP_CONTENTS, 0));  // the note window, no file: still fine
  EXPECT_EQ(requests,
            (std::vector<std::string>{"/opt/norva/NORVA.HLP: contents", "/opt/norva/NORVA.HLP: pop-up context 27",
                                      "/opt/norva/NORVA.HLP: context 8"}));
}

TEST_F(ApplicationTest, TheActiveFormHookFollowsActivation) {
  auto* other = TForm::Create<TForm>(&Application());
  other->SetBounds(500, 100, 200, 200);
  std::vector<TForm*> seen;
  Screen().OnActiveFormChange = [&](TComponent*) { seen.push_back(Screen().ActiveForm()); };
  other->Show();
  ASSERT_TRUE(testing::PumpUntil([&] { return Screen().ActiveForm() == other; }));
  form->BringToFront();
  ASSERT_TRUE(testing::PumpUntil([&] { return Screen().ActiveForm() == form; }));
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen[seen.size() - 2], other);
  EXPECT_EQ(seen.back(), form);
  Free(other);
}

// The hook may run while the active form is destroyed: what it throws must not leave the destructor.
TEST_F(ApplicationTest, AnExceptionFromTheActiveFormHookWhileTheActiveFormGoesReachesTheHandler) {
  auto* other = TForm::Create<TForm>(&Application());
  other->SetBounds(500, 100, 200, 200);
  other->Show();
  ASSERT_TRUE(testing::PumpUntil([&] { return Screen().ActiveForm() == other; }));
  std::vector<std::string> caught;
  Application().OnException = [&](TComponent*, const std::exception& e) { caught.push_back(e.what()); };
  Screen().OnActiveFormChange = [](TComponent*) { throw std::runtime_error("Table is busy"); };
  // Qt has made the first form active; its signal has not arrived yet when the other one goes.
  QApplication::setActiveWindow(form->Widget());
  Free(other);
  EXPECT_EQ(Screen().ActiveForm(), form);
  Screen().OnActiveFormChange = nullptr;
  EXPECT_EQ(caught, std::vector<std::string>{"Table is busy"});
}

}  // namespace
}  // namespace kavrin::classlib
