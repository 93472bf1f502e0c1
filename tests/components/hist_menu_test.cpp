// The recent-files menu on a real form's File menu.
#include "components/hist_menu.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <string>
#include <vector>

#include "classlib/registry/registry.h"
#include "classlib/widgets/form.h"
#include "classlib/widgets/menus.h"
#include "tests/classlib/widgets/widget_test_support.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/registry_folder.h"

namespace kavrin::components::histmenu {
namespace {

using classlib::Application;
using classlib::TComponent;
using classlib::TForm;
using classlib::TMainMenu;
using classlib::TMenuItem;

const char* const kUtilityKey = "SOFTWARE\\Trevane Software\\KAVRIN Database System\\Database System Utility";
const char* const kHistoryKey =
    "\\SOFTWARE\\Trevane Software\\KAVRIN Database System\\Database System Utility\\HistMenu";

// NORVA's main window: a File menu and its history component.
class HistMenuFormTest : public testing::WidgetTest {
 protected:
  void SetUp() override {
    WidgetTest::SetUp();
    form = TForm::Create<TForm>(&Application());
    auto* menu = new TMainMenu(form);
    form->SetMenu(menu);
    file = new TMenuItem(form);
    file->SetCaption("&File");
    menu->Items().Add(file);
    for (const char* caption : {"&Open...", "&Close", "-", "E&xit"}) {
      auto* item = new TMenuItem(form);
      item->SetCaption(caption);
      file->Add(item);
    }
    history = new THistMenu(form);
    history->Name = "HistMenu";
    history->SetMenuItem(file);
    history->SetMaxHistory(6);
    history->SetAddSeparator(true);
    history->SetBaseKey(kUtilityKey);
  }
  void TearDown() override {
    classlib::Free(form);
    WidgetTest::TearDown();
  }

  std::vector<std::string> Captions() const {
    std::vector<std::string> out;
    for (int i = 0; i < file->Count(); ++i) out.push_back(file->Items(i)->Caption());
    return out;
  }
  // What the real menu shows: its actions' texts, "-" for a separator.
  std::vector<std::string> Shown() const {
    std::vector<std::string> out;
    for (QAction* a : file->SubMenu()->actions()) out.push_back(a->isSeparator() ? "-" : a->text().toStdString());
    return out;
  }

  testing::RegistryFolder folder;
  TForm* form = nullptr;
  TMenuItem* file = nullptr;
  THistMenu* history = nullptr;
};

void WriteNorvasHistory(const testing::RegistryFolder& folder) {
  std::string text = std::string("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER") + kHistoryKey + "]\n";
  const char* names[] = {"CUSTOMER.DAT", "ORDERS.DAT", "PARTS.DAT", "VENDORS.DAT", "EMPLOYEE.DAT", "ITEMS.DAT"};
  for (int n = 0; n < 6; ++n) {
    text += "\"C" + std::to_string(n) + "\"=\"C:\\\\Data\\\\" + names[n] + "\"\n";
    text += "\"T" + std::to_string(n) + "\"=dword:0000000" + std::to_string(n % 3) + "\n";
  }
  testing::WriteWholeFile(folder.RootFile("HKEY_CURRENT_USER"), text + "\n");
}

TEST_F(HistMenuFormTest, NorvasHistoryFollowsItsFileMenuAndAClickReportsCaptionAndTag) {
  WriteNorvasHistory(folder);
  history->LoadHistory();
  const std::vector<std::string> expected = {"&Open...",
                                             "&Close",
                                             "-",
                                             "E&xit",
                                             "-",
                                             "C:\\Data\\CUSTOMER.DAT",
                                             "C:\\Data\\ORDERS.DAT",
                                             "C:\\Data\\PARTS.DAT",
                                             "C:\\Data\\VENDORS.DAT",
                                             "C:\\Data\\EMPLOYEE.DAT",
                                             "C:\\Data\\ITEMS.DAT"};
  EXPECT_EQ(Captions(), expected);
  EXPECT_EQ(Shown(), expected);
  EXPECT_EQ(history->ItemCount(), 6);

  TComponent* sender = nullptr;
  std::string caption;
  std::int32_t tag = -1;
  history->OnClick = [&](TComponent* s, const std::string& c, std::int32_t t) {
    sender = s;
    caption = c;
    tag = t;
  };
  file->SubMenu()->actions().at(7)->trigger();
  EXPECT_EQ(sender, file->Items(7));
  EXPECT_EQ(caption, "C:\\Data\\PARTS.DAT");
  EXPECT_EQ(tag, 2);
  // The items above the history are not history items.
  sender = nullptr;
  file->SubMenu()->actions().at(1)->trigger();
  EXPECT_EQ(sender, nullptr);

  // Opening a listed file again moves it to the top; the real menu follows.
  history->AddItem("C:\\Data\\PARTS.DAT", 1);
  EXPECT_EQ(Shown().at(5), "C:\\Data\\PARTS.DAT");
  EXPECT_EQ(Shown().size(), expected.size());
  file->SubMenu()->actions().at(5)->trigger();
  EXPECT_EQ(caption, "C:\\Data\\PARTS.DAT");
  EXPECT_EQ(tag, 1);

  history->SaveHistory();
  classlib::TRegistry reg;
  reg.SetRootKey(platform::HKEY_CURRENT_USER);
  ASSERT_TRUE(reg.OpenKey(kHistoryKey, false));
  EXPECT_EQ(reg.ReadString("C0"), "C:\\Data\\PARTS.DAT");
  EXPECT_EQ(reg.ReadInteger("T0"), 1);
  EXPECT_EQ(reg.ReadString("C1"), "C:\\Data\\CUSTOMER.DAT");
  EXPECT_EQ(reg.ReadString("C3"), "C:\\Data\\VENDORS.DAT");
  EXPECT_EQ(reg.ReadString("C5"), "C:\\Data\\ITEMS.DAT");
}

TEST_F(HistMenuFormTest, TheSeparatorComesWithTheFirstEntryAndTheHistoryGoesWithTheComponent) {
  history->LoadHistory();  // nothing stored yet
  EXPECT_EQ(Shown(), (std::vector<std::string>{"&Open...", "&Close", "-", "E&xit"}));
  history->AddItem("A.DAT", 0);
  history->AddItem("B.DAT", 1);
  EXPECT_EQ(Shown(), (std::vector<std::string>{"&Open...", "&Close", "-", "E&xit", "-", "B.DAT", "A.DAT"}));
  history->SetAddSeparator(false);
  EXPECT_EQ(Shown(), (std::vector<std::string>{"&Open...", "&Close", "-", "E&xit", "B.DAT", "A.DAT"}));
  // Freed before its form, the component takes its items out of the menu that stays.
  classlib::Free(history);
  history = nullptr;
  EXPECT_EQ(Shown(), (std::vector<std::string>{"&Open...", "&Close", "-", "E&xit"}));
  EXPECT_EQ(file->Count(), 4);
}

TEST_F(HistMenuFormTest, AMenuFreedFirstLeavesTheComponentSafe) {
  history->AddItem("A.DAT", 0);
  // The menu item goes first (a form freeing its components in another order); the history items
  // stay owned by the component and go with it.
  classlib::Free(file);
  file = nullptr;
  EXPECT_EQ(history->ItemCount(), 1);
  classlib::Free(history);
  history = nullptr;
}

}  // namespace
}  // namespace kavrin::components::histmenu
