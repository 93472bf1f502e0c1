#include "engine/data_file.h"
#include "engine/error_codes.h"
#include "platform/ticks.h"
#include "tests/dataset/dataset_fixture.h"
#include "tests/helpers/holder_process.h"

namespace kavrin::dataset::testing {
namespace {

namespace en = kavrin::engine;
using kavrin::testing::HolderAccess;
using kavrin::testing::HolderDisposition;
using kavrin::testing::HolderProcess;
using kavrin::testing::HolderShare;

// Record and table locks, changes and transactions of another process: kavrin_record_holder on the
// same table.
class LocksTest : public DataSetTest {
 protected:
  void SetUp() override {
    CreatePeople("PEOPLE", 3);
    table = Table("PEOPLE");
    table->Open();
    holder = std::make_unique<HolderProcess>(PathOf("PEOPLE"), HolderAccess::ReadWrite, HolderShare::Shared,
                                             HolderDisposition::OpenExisting, KAVRIN_RECORD_HOLDER);
    ASSERT_TRUE(holder->Ready());
  }
  bool HolderLocks(int record) { return holder->Send("lock " + std::to_string(record)).ok; }
  std::string HolderLockError(int record) {
    return std::to_string(holder->Send("lock " + std::to_string(record)).error);
  }
  void HolderUnlocks(int record) { ASSERT_TRUE(holder->Send("unlock " + std::to_string(record)).ok); }
  // The holder's answer: "ok", "ok VALUE" or "error CODE".
  std::string Holder(const std::string& command) {
    const auto reply = holder->Send(command);
    if (!reply.ok) return "error " + std::to_string(reply.error);
    return reply.value.empty() ? "ok" : "ok " + reply.value;
  }
  std::string NameOfFirst() {
    table->Refresh();
    table->First();
    return table->FieldByName("Name")->AsString();
  }

  std::unique_ptr<TKAVRINTable> table;
  std::unique_ptr<HolderProcess> holder;
};

TEST_F(LocksTest, EditOfARecordHeldElsewhereRaisesRecordLocked) {
  ASSERT_TRUE(HolderLocks(1));
  EXPECT_EQ(EngineCodeOf([&] { table->Edit(); }), en::ec::RecordLocked);
  EXPECT_EQ(table->State(), classlib::TDataSetState::dsBrowse);
  table->Next();
  table->Edit();  // another record is free
  EXPECT_TRUE(table->RecordLocked());
  table->Cancel();
}

TEST_F(LocksTest, RetryFromOnEditErrorSucceedsOnceTheHolderLetsGo) {
  ASSERT_TRUE(HolderLocks(1));
  int calls = 0;
  table->OnEditError = [&](classlib::TDataSet&, const en::EDatabaseError& error, classlib::TDataAction& action) {
    ++calls;
    EXPECT_EQ(dynamic_cast<const en::EDBEngineError&>(error).Code(), en::ec::RecordLocked);
    HolderUnlocks(1);
    action = classlib::TDataAction::daRetry;
  };
  table->Edit();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(table->State(), classlib::TDataSetState::dsEdit);
  EXPECT_EQ(HolderLockError(1), std::to_string(en::ec::RecordLocked));
  table->FieldByName("Name")->SetAsString("mine");
  table->Post();  // releases the lock
  EXPECT_TRUE(HolderLocks(1));
}

TEST_F(LocksTest, CancelFreesTheRecordForTheOtherProcess) {
  table->Edit();
  EXPECT_TRUE(table->RecordLocked());
  EXPECT_EQ(HolderLockError(1), std::to_string(en::ec::RecordLocked));
  table->Cancel();
  EXPECT_FALSE(table->RecordLocked());
  EXPECT_TRUE(HolderLocks(1));
}

TEST_F(LocksTest, InsideATransactionTheRecordStaysLockedUntilCommit) {
  table->Handle()->StartTransaction();
  table->Edit();
  table->Cancel();  // the lock lasts to the end of the transaction
  EXPECT_EQ(HolderLockError(1), std::to_string(en::ec::RecordLocked));
  table->Edit();
  table->FieldByName("Name")->SetAsString("in txn");
  table->Post();
  EXPECT_EQ(HolderLockError(1), std::to_string(en::ec::RecordLocked));
  table->Handle()->Commit();
  EXPECT_TRUE(HolderLocks(1));
}

// A close from a message handler run while the table waits for a record lock (or from its own filter)
// would free the cursor under the engine call: the dataset refuses it before anything changes.
TKAVRINTable* waitingTable = nullptr;
HolderProcess* lockHolder = nullptr;
void (*actionInWait)() = nullptr;
int actionCode = 0;

// Edit waits for the holder's lock of record 1; the first message run in that wait tries action, then
// lets the holder unlock. The engine code action raised.
int CodeFromInsideALockWait(TKAVRINTable& table, HolderProcess& holder, void (*action)()) {
  table.SetLockRetryCount(100);
  table.SetLockWaitTime(5);
  waitingTable = &table;
  lockHolder = &holder;
  actionInWait = action;
  actionCode = 0;
  platform::SetMessageHook([] {
    if (actionCode != 0) return;
    actionCode = EngineCodeOf(actionInWait);
    lockHolder->Send("unlock 1");
  });
  table.Edit();
  platform::SetMessageHook(nullptr);
  return actionCode;
}

TEST_F(LocksTest, CloseWhileTheCursorIsBusyIsRefusedAndTheOperationEndsNormally) {
  ASSERT_TRUE(HolderLocks(1));
  EXPECT_EQ(CodeFromInsideALockWait(*table, *holder, [] { waitingTable->Close(); }), en::ec::FileInUse);
  EXPECT_EQ(table->State(), classlib::TDataSetState::dsEdit);
  EXPECT_TRUE(table->RecordLocked());
  table->Cancel();

  int filterCloseCode = 0;
  table->SetOnFilterRecord([&](classlib::TDataSet& dataSet, bool& accept) {
    if (filterCloseCode == 0) filterCloseCode = EngineCodeOf([&] { dataSet.Close(); });
    accept = true;
  });
  table->SetFiltered(true);
  table->First();
  EXPECT_EQ(filterCloseCode, en::ec::FileInUse);
  EXPECT_TRUE(table->Active());
  EXPECT_EQ(table->RecordCount(), 3);
  table->Close();  // not busy any more
  EXPECT_FALSE(table->Active());
}

// Freeing the dataset from inside its own engine call (a timer in a lock wait, its filter) would free
// the cursor and the dataset under that call: Free refuses as Close does, and the table lives on.
TEST_F(LocksTest, FreeWhileTheCursorIsBusyIsRefusedAndTheTableLivesOn) {
  ASSERT_TRUE(HolderLocks(1));
  EXPECT_EQ(CodeFromInsideALockWait(*table, *holder, [] { classlib::Free(waitingTable); }), en::ec::FileInUse);
  EXPECT_EQ(table->State(), classlib::TDataSetState::dsEdit);
  EXPECT_FALSE(table->Destroying());
  table->Cancel();

  int filterFreeCode = 0;
  table->SetOnFilterRecord([&](classlib::TDataSet& dataSet, bool& accept) {
    if (filterFreeCode == 0) filterFreeCode = EngineCodeOf([&] { classlib::Free(&dataSet); });
    accept = true;
  });
  table->SetFiltered(true);
  table->First();
  EXPECT_EQ(filterFreeCode, en::ec::FileInUse);
  EXPECT_TRUE(table->Active());
  EXPECT_EQ(table->RecordCount(), 3);
}

TEST_F(LocksTest, ATableLockedElsewhereRefusesOursUntilItIsUnlocked) {
  const std::string locked = "error " + std::to_string(en::ec::TableLocked);
  ASSERT_EQ(Holder("locktable"), "ok");
  EXPECT_EQ(EngineCodeOf([&] { table->LockTable(TTable::TLockType::ltWriteLock); }), en::ec::TableLocked);
  EXPECT_EQ(EngineCodeOf([&] { table->Edit(); }), en::ec::RecordLocked);
  ASSERT_EQ(Holder("unlocktable"), "ok");
  table->LockTable(TTable::TLockType::ltWriteLock);
  EXPECT_EQ(Holder("locktable"), locked);
  EXPECT_EQ(Holder("lock 2"), "error " + std::to_string(en::ec::RecordLocked));
  table->UnlockTable(TTable::TLockType::ltWriteLock);
  EXPECT_EQ(Holder("locktable"), "ok");
}

// A change inside another process's transaction keeps its record locked until the end; commit keeps
// the change, rollback takes it back, for this process too.
TEST_F(LocksTest, AnotherProcesssTransactionHoldsItsChangeUntilCommitOrRollback) {
  struct Case {
    const char* end;
    const char* written;
    const char* after;
  } cases[] = {{"rollback", "dropped", "R1"}, {"commit", "kept", "kept"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.end);
    ASSERT_EQ(Holder("start"), "ok");
    ASSERT_EQ(Holder("write 1 2 " + std::string(c.written)), "ok");
    EXPECT_EQ(Holder("read 1 2"), "ok " + std::string(c.written));
    table->First();
    EXPECT_EQ(EngineCodeOf([&] { table->Edit(); }), en::ec::RecordLocked);
    ASSERT_EQ(Holder(c.end), "ok");
    EXPECT_EQ(NameOfFirst(), c.after);
    table->Edit();
    table->Cancel();
  }
}

}  // namespace
}  // namespace kavrin::dataset::testing
