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

// Record locks of another process, held by kavrin_record_holder on the same table.
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
  std::string HolderLockError(int record) { return std::to_string(holder->Send("lock " + std::to_string(record)).error); }
  void HolderUnlocks(int record) { ASSERT_TRUE(holder->Send("unlock " + std::to_string(record)).ok); }

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
int closeCode = 0;

TEST_F(LocksTest, CloseWhileTheCursorIsBusyIsRefusedAndTheOperationEndsNormally) {
  ASSERT_TRUE(HolderLocks(1));
  table->SetLockRetryCount(100);
  table->SetLockWaitTime(5);
  waitingTable = table.get();
  lockHolder = holder.get();
  closeCode = 0;
  platform::SetMessageHook([] {
    if (closeCode != 0) return;
    closeCode = EngineCodeOf([] { waitingTable->Close(); });
    lockHolder->Send("unlock 1");
  });
  table->Edit();
  platform::SetMessageHook(nullptr);
  EXPECT_EQ(closeCode, en::ec::FileInUse);
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

}  // namespace
}  // namespace kavrin::dataset::testing
