#include "classlib/data/session.h"

#include <unistd.h>

#include <filesystem>

#include "engine/data_file.h"
#include "engine/error_codes.h"
#include "engine/password_list.h"
#include "tests/dataset/dataset_fixture.h"
#include "tests/helpers/holder_process.h"

namespace kavrin::dataset::testing {
namespace {

namespace cl = kavrin::classlib;
namespace en = kavrin::engine;
using kavrin::testing::HolderAccess;
using kavrin::testing::HolderDisposition;
using kavrin::testing::HolderProcess;
using kavrin::testing::HolderShare;

class SessionTest : public DataSetTest {
 protected:
  void TearDown() override {
    en::TablePasswords().Clear();
    cl::SetPasswordDialog(nullptr);
    DataSetTest::TearDown();
  }
  std::vector<std::string> Names(TTable& table) {
    std::vector<std::string> names;
    for (table.First(); !table.Eof(); table.Next()) names.push_back(table.FieldByName("Name")->AsString());
    return names;
  }
};

// Restores the process's current directory.
struct CurrentDirectory {
  CurrentDirectory() : saved(std::filesystem::current_path()) {}
  ~CurrentDirectory() { std::filesystem::current_path(saved); }
  std::filesystem::path saved;
};

TEST_F(SessionTest, TheDatabaseDirectoryAsATable) {
  CreatePeople("PEOPLE", 2);
  CurrentDirectory keep;
  struct Case {
    const char* what;
    std::string name;
    std::vector<std::string> params;
    bool intoDir;  // the current directory is the test directory
  } cases[] = {
      {"a path", dir.Path(), {}, false},
      {"a word with a lower-case path line", "PEOPLEDB", {"user=me", "path=" + dir.Path()}, false},
      {"a word with an upper-case path line", "PEOPLEDB", {"PATH=" + dir.Path()}, false},
      {"a plain word: the current directory", "PEOPLEDB", {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::current_path(c.intoDir ? dir.Path() : "/");
    cl::TDatabase database(&cl::Session());
    database.SetDatabaseName(c.name);
    for (const std::string& line : c.params) database.Params().Add(line);
    TTable table;
    table.SetDatabaseName(c.name);
    table.SetTableName("PEOPLE");
    table.Open();
    EXPECT_EQ(table.RecordCount(), 2);
    EXPECT_EQ(table.Database(), &database);
    table.Close();
  }
  cl::TDatabase database;
  EXPECT_EQ(database.GetDirectory(), "");
  database.SetDatabaseName("C:\\DATA");
  EXPECT_EQ(database.GetDirectory(), "C:\\DATA");
}

TEST_F(SessionTest, NameChecksAndTheirMessages) {
  cl::TSession& session = cl::Session();
  auto* other = new cl::TSession();
  other->SetSessionName("Second");
  int startups = 0;
  other->OnStartup = [&](cl::TSession&) { ++startups; };
  EXPECT_EQ(DatabaseMessageOf([&] { (new cl::TSession())->SetSessionName("second"); }),
            "Duplicate session name 'second'");
  other->SetActive(true);
  EXPECT_EQ(startups, 1);
  EXPECT_TRUE(other->Active());
  EXPECT_FALSE(session.Active());  // the default session never keeps a handle
  EXPECT_EQ(&cl::Sessions().CurrentSession(), other);
  EXPECT_EQ(DatabaseMessageOf([&] { other->SetSessionName("Third"); }),
            "Cannot perform this operation on an active session");
  other->SetActive(false);
  EXPECT_EQ(&cl::Sessions().CurrentSession(), &session);
  auto* nameless = new cl::TSession();
  EXPECT_EQ(DatabaseMessageOf([&] { nameless->SetActive(true); }), "Session name missing");

  cl::TDatabase database;
  EXPECT_EQ(DatabaseMessageOf([&] { database.Open(); }), "Database name missing");
  database.SetDatabaseName("DB");
  EXPECT_EQ(DatabaseMessageOf([&] { database.StartTransaction(); }),
            "Cannot perform this operation on a closed database");
  cl::TDatabase twin;
  EXPECT_EQ(DatabaseMessageOf([&] { twin.SetDatabaseName("db"); }), "Duplicate database name 'db'");
  database.SetSessionName("Nobody");
  EXPECT_EQ(DatabaseMessageOf([&] { database.Open(); }), "Invalid session name Nobody");
  database.SetSessionName("second");  // moves there on connect
  database.Open();
  EXPECT_EQ(database.Session(), other);
  EXPECT_TRUE(other->Active());
  EXPECT_EQ(DatabaseMessageOf([&] { database.SetParams(cl::TStringList()); }),
            "Cannot perform this operation on an open database");
  EXPECT_EQ(DatabaseMessageOf([&] { database.Commit(); }), "Database DB has no active transaction");
  database.StartTransaction();
  EXPECT_EQ(DatabaseMessageOf([&] { database.StartTransaction(); }), "Database DB already has an active transaction");
  database.Rollback();
  EXPECT_FALSE(database.InTransaction());
}

TEST_F(SessionTest, StoppingASessionFreesItsTemporaryDatabasesAndClosesTheOthers) {
  CreatePeople("PEOPLE", 1);
  auto* session = new cl::TSession();
  session->SetSessionName("Work");
  auto* kept = new cl::TDatabase(session);
  kept->SetDatabaseName("KEPT");
  kept->Params().Add("PATH=" + dir.Path());
  TTable onKept;
  onKept.SetSessionName("Work");
  onKept.SetDatabaseName("KEPT");
  onKept.SetTableName("PEOPLE");
  onKept.Open();
  TTable onTemporary;
  onTemporary.SetSessionName("Work");
  onTemporary.SetDatabaseName(dir.Path());
  onTemporary.SetTableName("PEOPLE");
  onTemporary.Open();
  ASSERT_EQ(session->DatabaseCount(), 2);
  EXPECT_TRUE(session->Databases(1)->Temporary());
  session->SetActive(false);
  EXPECT_FALSE(onKept.Active());
  EXPECT_FALSE(onTemporary.Active());
  ASSERT_EQ(session->DatabaseCount(), 1);
  EXPECT_EQ(session->Databases(0), kept);
  EXPECT_FALSE(kept->Connected());
}

TEST_F(SessionTest, NetFileDirIsAppliedWhenTheSessionStartsAndReadUpperCased) {
  CurrentDirectory keep;
  auto* session = new cl::TSession();
  session->SetSessionName("Net");
  session->SetNetFileDir(dir.Path());  // inactive: only stored
  session->SetPrivateDir("priv");
  EXPECT_EQ(session->PrivateDir(), "PRIV");
  EXPECT_NE(std::filesystem::current_path(), std::filesystem::path(dir.Path()));
  session->SetActive(true);
  EXPECT_EQ(std::filesystem::canonical(std::filesystem::current_path()), std::filesystem::canonical(dir.Path()));
  EXPECT_THROW(session->SetNetFileDir(dir.PathOf("missing")), cl::EInOutError);
  session->SetActive(false);
  auto* broken = new cl::TSession();
  broken->SetSessionName("Broken");
  broken->SetNetFileDir(dir.PathOf("missing"));
  EXPECT_THROW(broken->SetActive(true), cl::EInOutError);
  EXPECT_FALSE(broken->Active());  // stopped again
}

TEST_F(SessionTest, PasswordsThroughOnPasswordAndTheDialog) {
  engine::testing::CreateTableAt(PathOf("SECRET"), {Field(1, "ID", en::ftInteger)}, {Index("", {1}, true)}, false,
                                 "hush");
  cl::TSession& session = cl::Session();
  session.AddPassword("");
  EXPECT_EQ(en::TablePasswords().Count(), 0u);
  struct Case {
    const char* what;
    std::function<void(cl::TSession&, bool&)> handler;
    int code;
    std::vector<std::string> left;  // TablePasswords afterwards
  } cases[] = {
      {"adds the password",
       [](cl::TSession& s, bool& go) {
         s.AddPassword("hush");
         go = true;
       },
       0,
       {"hush"}},
      {"answers no", [](cl::TSession&, bool& go) { go = false; }, en::ec::PasswordRequired, {}},
      {"answers yes and adds nothing", [](cl::TSession&, bool& go) { go = true; }, en::ec::PasswordRequired, {}},
      {"adds a wrong one, then gives up",
       [](cl::TSession& s, bool& go) {
         go = !en::TablePasswords().Contains("wrong");
         s.AddPassword("wrong");
       },
       en::ec::PasswordRequired,
       {"wrong", "wrong"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    session.RemoveAllPasswords();
    int calls = 0;
    session.OnPassword = [&](cl::TSession& s, bool& go) {
      ++calls;
      if (calls > 20) {  // a loop would be a fault: stop it
        go = false;
        return;
      }
      c.handler(s, go);
    };
    auto table = Table("SECRET");
    EXPECT_EQ(EngineCodeOf([&] { table->Open(); }), c.code);
    EXPECT_LE(calls, 20);
    EXPECT_EQ(en::TablePasswords().Entries(), c.left);
  }
  // Without OnPassword the dialog answers: it clears, removes and adds, then says to try again.
  session.OnPassword = nullptr;
  session.RemoveAllPasswords();
  session.AddPassword("old");
  session.AddPassword("stale");
  int shown = 0;
  cl::SetPasswordDialog([&](cl::TSession& s) {
    ++shown;
    if (shown == 1) {
      s.RemovePassword("stale");
      s.AddPassword("still wrong");
      return true;
    }
    s.RemoveAllPasswords();
    s.AddPassword("hush");
    s.AddPassword("spare");
    return true;
  });
  auto table = Table("SECRET");
  table->Open();
  EXPECT_EQ(shown, 2);
  EXPECT_EQ(en::TablePasswords().Entries(), (std::vector<std::string>{"hush", "spare"}));
  table->Close();
  // The programs' own engine calls use the same callback.
  en::TablePasswords().Clear();
  en::TDataFile direct;
  direct.SetFileName(PathOf("SECRET"));
  direct.SetPasswordHandler(session.PasswordHandler());
  shown = 1;
  direct.Open();
  EXPECT_EQ(shown, 2);
  direct.Close();
}

// Two tables of one database: ALPHA and BETA, three records each.
class DatabaseTransactionTest : public SessionTest {
 protected:
  void SetUp() override {
    CreatePeople("ALPHA", 3);
    CreatePeople("BETA", 3);
    database = new cl::TDatabase(&cl::Session());
    database->SetDatabaseName("TWO");
    database->Params().Add("PATH=" + dir.Path());
    for (const char* name : {"ALPHA", "BETA"}) {
      auto table = std::make_unique<TKAVRINTable>();
      table->SetDatabaseName("TWO");
      table->SetTableName(name);
      table->SetLockRetryCount(0);
      table->SetLockWaitTime(1);
      table->Open();
      tables.push_back(std::move(table));
    }
  }
  void TearDown() override {
    tables.clear();
    SessionTest::TearDown();
  }
  void Rename(TTable& table, int id, const std::string& name) {
    ASSERT_TRUE(table.Locate("ID", cl::Variant(std::int32_t{id}), 0));
    table.Edit();
    table.FieldByName("Name")->SetAsString(name);
    table.Post();
  }
  std::unique_ptr<HolderProcess> Holder(const char* name) {
    auto holder = std::make_unique<HolderProcess>(PathOf(name), HolderAccess::ReadWrite, HolderShare::Shared,
                                                  HolderDisposition::OpenExisting, KAVRIN_RECORD_HOLDER);
    EXPECT_TRUE(holder->Ready());
    return holder;
  }

  cl::TDatabase* database = nullptr;
  std::vector<std::unique_ptr<TKAVRINTable>> tables;
};

TEST_F(DatabaseTransactionTest, ChangedRecordsStayLockedUntilCommit) {
  auto alpha = Holder("ALPHA");
  auto beta = Holder("BETA");
  database->StartTransaction();
  EXPECT_TRUE(tables[0]->Handle()->InTransaction());
  EXPECT_TRUE(tables[1]->Handle()->InTransaction());
  Rename(*tables[0], 2, "a2 new");
  Rename(*tables[1], 3, "b3 new");
  EXPECT_EQ(alpha->Send("lock 2").error, static_cast<platform::DWORD>(en::ec::RecordLocked));
  EXPECT_EQ(beta->Send("lock 3").error, static_cast<platform::DWORD>(en::ec::RecordLocked));
  EXPECT_TRUE(alpha->Send("lock 1").ok);
  EXPECT_TRUE(alpha->Send("unlock 1").ok);
  // A pending edit is posted by the commit.
  ASSERT_TRUE(tables[0]->Locate("ID", cl::Variant(std::int32_t{3}), 0));
  tables[0]->Edit();
  tables[0]->FieldByName("Name")->SetAsString("a3 posted");
  database->Commit();
  EXPECT_FALSE(database->InTransaction());
  EXPECT_EQ(tables[0]->State(), cl::TDataSetState::dsBrowse);
  EXPECT_TRUE(alpha->Send("lock 2").ok);
  EXPECT_TRUE(beta->Send("lock 3").ok);
  EXPECT_EQ(alpha->Send("read 2 2").value, "a2 new");
  EXPECT_EQ(alpha->Send("read 3 2").value, "a3 posted");
  EXPECT_EQ(beta->Send("read 3 2").value, "b3 new");
}

TEST_F(DatabaseTransactionTest, RollbackRestoresTheRecordsForEveryoneAndEveryWindow) {
  auto alpha = Holder("ALPHA");
  // A second dataset on ALPHA, opened before the transaction, with a window of its own.
  auto viewer = std::make_unique<TKAVRINTable>();
  viewer->SetDatabaseName("TWO");
  viewer->SetTableName("ALPHA");
  viewer->Open();
  cl::TDataSource source;
  source.SetDataSet(viewer.get());
  RecordingLink link(3);
  link.SetDataSource(&source);
  database->StartTransaction();
  Rename(*tables[0], 1, "a1 new");
  Rename(*tables[1], 2, "b2 new");
  viewer->Refresh();
  ASSERT_TRUE(tables[1]->Locate("ID", cl::Variant(std::int32_t{3}), 0));
  tables[1]->Edit();
  tables[1]->FieldByName("Name")->SetAsString("cancelled by the rollback");
  database->Rollback();
  EXPECT_EQ(tables[1]->State(), cl::TDataSetState::dsBrowse);
  EXPECT_EQ(alpha->Send("read 1 2").value, "R1");
  EXPECT_TRUE(alpha->Send("lock 1").ok);
  // Every window shows the old records without being asked to read again.
  viewer->First();
  EXPECT_EQ(viewer->FieldByName("Name")->AsString(), "R1");
  EXPECT_EQ(Names(*tables[0]), (std::vector<std::string>{"R1", "R2", "R3"}));
  EXPECT_EQ(Names(*tables[1]), (std::vector<std::string>{"R1", "R2", "R3"}));
  link.SetDataSource(nullptr);
  source.SetDataSet(nullptr);
}

TEST_F(DatabaseTransactionTest, AFailedStartRollsBackTheTablesAlreadyStarted) {
  tables[1]->Handle()->StartTransaction();  // BETA cannot start a second one
  EXPECT_NE(EngineCodeOf([&] { database->StartTransaction(); }), 0);
  EXPECT_FALSE(database->InTransaction());
  EXPECT_FALSE(tables[0]->Handle()->InTransaction());
  tables[1]->Handle()->Rollback();
  database->StartTransaction();
  EXPECT_TRUE(database->InTransaction());
  database->Commit();
}

TEST_F(DatabaseTransactionTest, LockTableAgainstAnotherProcessesRecordLock) {
  auto alpha = Holder("ALPHA");
  ASSERT_TRUE(alpha->Send("lock 2").ok);
  tables[0]->Close();
  tables[0]->SetLockRetryCount(3);
  tables[0]->SetLockWaitTime(2);
  tables[0]->Open();
  EXPECT_EQ(EngineCodeOf([&] { tables[0]->LockTable(TTable::TLockType::ltWriteLock); }), en::ec::TableLocked);
  EXPECT_FALSE(tables[0]->TableLocked());
  ASSERT_TRUE(alpha->Send("unlock 2").ok);
  tables[0]->LockTable(TTable::TLockType::ltReadLock);
  EXPECT_TRUE(tables[0]->TableLocked());
  EXPECT_FALSE(alpha->Send("lock 2").ok);
  tables[0]->UnlockTable(TTable::TLockType::ltReadLock);
  EXPECT_TRUE(alpha->Send("lock 2").ok);
}

}  // namespace
}  // namespace kavrin::dataset::testing
