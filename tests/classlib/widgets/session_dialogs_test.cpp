// The session's password dialog, run through the scripted seam: add, remove, remove all, and the
// answer the engine's retry gets; installed by the application behind the session's callback.
#include "classlib/widgets/session_dialogs.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "classlib/data/session.h"
#include "dataset/table.h"
#include "engine/engine_error.h"
#include "engine/password_list.h"
#include "tests/classlib/widgets/widget_test_support.h"
#include "tests/engine/table_fixture.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::classlib {
namespace {

using testing::GTestScriptedUi;

class SessionPasswordDialogTest : public testing::WidgetTest {
 protected:
  void TearDown() override {
    engine::TablePasswords().Clear();
    WidgetTest::TearDown();
  }
};

TEST_F(SessionPasswordDialogTest, AddRemoveAndRemoveAllChangeTheSessionsList) {
  using Dlg = TSessionPasswordDialog;
  struct Case {
    const char* name;
    std::vector<std::string> before;
    std::function<void(Dlg&)> script;
    std::vector<std::string> after;
    bool answer;
  };
  auto type = [](Dlg& d, const char* text) { d.PasswordEdit->SetText(text); };
  const Case cases[] = {
      {"two added, a third by OK",
       {},
       [&](Dlg& d) {
         type(d, "alpha");
         d.AddButton->Click();
         EXPECT_EQ(d.PasswordEdit->Text(), "");
         type(d, "beta");
         d.AddButton->Click();
         type(d, "gamma");
         d.OKButton->Click();
       },
       {"alpha", "beta", "gamma"},
       true},
      {"one removed, nothing added",
       {"x", "y"},
       [&](Dlg& d) {
         type(d, "x");
         d.RemoveButton->Click();
         d.OKButton->Click();
       },
       {"y"},
       false},
      {"all removed, one added",
       {"x", "y"},
       [&](Dlg& d) {
         d.RemoveAllButton->Click();
         type(d, "WREN&TALC");
         d.OKButton->Click();
       },
       {"WREN&TALC"},
       true},
      {"added, then cancelled",
       {},
       [&](Dlg& d) {
         type(d, "kept");
         d.AddButton->Click();
         type(d, "dropped");
         d.CancelButton->Click();
       },
       {"kept"},
       false},
      {"an empty password is not added",
       {},
       [&](Dlg& d) {
         d.AddButton->Click();
         d.OKButton->Click();
       },
       {},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    engine::TablePasswords().Clear();
    for (const auto& p : c.before) Session().AddPassword(p);
    GTestScriptedUi ui;
    ui.ExpectModal(PasswordDialogCaption, [&](TForm& form) { c.script(static_cast<Dlg&>(form)); });
    // Through the session, as an open of an encrypted table asks.
    EXPECT_EQ(Session().AskPassword(), c.answer);
    EXPECT_EQ(engine::TablePasswords().Entries(), c.after);
  }
}

TEST_F(SessionPasswordDialogTest, AnEncryptedTableAsksThroughTheApplicationsDialog) {
  kavrin::testing::TempDir dir;
  engine::testing::CreateTableAt(dir.PathOf("SECRET.DAT"), {engine::testing::Field(1, "ID", engine::ftInteger)},
                                 {engine::testing::Index("", {1}, true)}, false, "hush");
  struct Case {
    const char* typed;  // null: cancelled
    bool opens;
  };
  const Case cases[] = {{"hush", true}, {nullptr, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed ? c.typed : "cancelled");
    engine::TablePasswords().Clear();
    dataset::TTable table;
    table.SetDatabaseName(dir.Path());
    table.SetTableName("SECRET.DAT");
    GTestScriptedUi ui;
    ui.ExpectModal(PasswordDialogCaption, [&](TForm& form) {
      auto& d = static_cast<TSessionPasswordDialog&>(form);
      if (!c.typed) {
        d.CancelButton->Click();
        return;
      }
      d.PasswordEdit->SetText(c.typed);
      d.OKButton->Click();
    });
    int code = 0;
    try {
      table.Open();
    } catch (const engine::EDBEngineError& e) {
      code = e.Code();
    }
    EXPECT_EQ(table.Active(), c.opens);
    EXPECT_EQ(code, c.opens ? 0 : engine::ec::PasswordRequired);
  }
}

}  // namespace
}  // namespace kavrin::classlib
