// Faults a review of the cursor found, each kept as the case that showed it.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "engine/memory_files.h"
#include "platform/ticks.h"
#include "platform/win_file.h"
#include "tests/engine/error_code_of.h"
#include "tests/engine/table_fixture.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine {
namespace {

using testing::ErrorCodeOf;
using testing::Field;
using testing::Index;

class CursorFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MemoryFiles().Clear();
    path = dir.PathOf("T.DAT");
  }
  void TearDown() override {
    platform::SetFileFaultHook(nullptr);
    platform::SetMessageHook(nullptr);
  }

  void Create(bool withBlob = false, bool inMemory = false) {
    std::vector<TFieldDescriptor> fields{Field(1, "ID", ftInteger), Field(2, "Name", ftString, 10)};
    if (withBlob) fields.push_back(Field(3, "Memo", ftBlob, 0, fstMemo));
    if (inMemory) path = "/mem/T.DAT";
    testing::CreateTableAt(path, fields, {Index("", {1}, true)}, inMemory);
  }

  void Open(TDataFile& table, bool exclusive = false) {
    table.SetInMemory(path.starts_with("/mem/"));
    table.SetExclusive(exclusive);
    table.SetFileName(path);
    table.Open();
  }

  static std::vector<std::uint8_t> Image(TDataFile& table, std::int32_t id) {
    std::vector<std::uint8_t> image(table.RecordSize());
    table.InitRecord(image.data());
    table.SetField(1, image.data(), &id);
    table.SetField(2, image.data(), "x");
    return image;
  }
  static void Insert(TDataFile& table, std::int32_t id) {
    auto image = Image(table, id);
    table.InsertRecord(image.data());
  }
  static bool Find(TDataFile& table, std::int32_t id) {
    auto image = Image(table, id);
    return table.FindKey(false, image.data(), nullptr, 0, false, 0);
  }
  static int Count(TDataFile& table) {
    std::vector<std::uint8_t> image(table.RecordSize());
    int n = 0;
    table.GotoBOF();
    while (table.Next(image.data()) == ec::Success) ++n;
    return n;
  }

  kavrin::testing::TempDir dir;
  std::string path;
};

TEST_F(CursorFaultsTest, RollbackUnderAnEmptyRangeStillUndoes) {
  Create();
  TDataFile table;
  Open(table);
  Insert(table, 1);
  auto bound = Image(table, 1000);
  table.SetRange(false, bound.data(), 1, bound.data(), 1);
  ASSERT_EQ(table.RecordCount(), 0);
  table.StartTransaction();
  Insert(table, 5);
  table.Rollback();
  EXPECT_FALSE(table.InTransaction());
  table.CancelRange();
  EXPECT_FALSE(Find(table, 5));
  EXPECT_EQ(Count(table), 1);
}

TEST_F(CursorFaultsTest, TableLockRefusedWhileHoldingRecordLocksAlsoInMemory) {
  Create(false, true);
  TDataFile table;
  Open(table);
  Insert(table, 1);
  ASSERT_TRUE(Find(table, 1));
  std::vector<std::uint8_t> image(table.RecordSize());
  table.GetCurrent(image.data(), true);
  ASSERT_EQ(table.LockedRecords().size(), 1u);
  EXPECT_EQ(ErrorCodeOf([&] { table.LockTable(); }), ec::TableLocked);
  table.StartTransaction();
  table.Commit();  // ends, and every record lock goes
  EXPECT_TRUE(table.LockedRecords().empty());
}

TEST_F(CursorFaultsTest, ACommitWhoseLogCannotBeDeletedStillEndsTheTransaction) {
  Create();
  TDataFile table;
  Open(table);
  table.StartTransaction();
  Insert(table, 1);
  platform::SetFileFaultHook([](platform::FileOp op, const std::string& name) -> platform::DWORD {
    return op == platform::FileOp::Delete && name.find("LOG") != std::string::npos ? platform::ERROR_ACCESS_DENIED : 0;
  });
  EXPECT_EQ(ErrorCodeOf([&] { table.Commit(); }), ec::CannotDelete);
  platform::SetFileFaultHook(nullptr);
  EXPECT_FALSE(table.InTransaction());
  EXPECT_EQ(table.LogFile(), nullptr);
  table.Rollback();  // nothing to do, and no crash
  table.Close();
}

TEST_F(CursorFaultsTest, AFailedInsertIntoAReusedSlotLeavesTheSlotReusable) {
  Create(true);
  TDataFile table;
  Open(table, true);
  Insert(table, 1);
  Insert(table, 2);
  ASSERT_TRUE(Find(table, 2));
  table.DeleteRecord();
  table.StartTransaction();
  // Every blob handle in use: the log's copy of the new record's blob cannot be made.
  std::vector<std::vector<std::uint8_t>> held;
  for (int i = 0; i < 64; ++i) {
    held.push_back(Image(table, 100 + i));
    if (table.OpenBlob(3, held.back().data()) != ec::Success) {
      held.pop_back();
      break;
    }
  }
  auto image = Image(table, 3);
  EXPECT_NE(ErrorCodeOf([&] { table.InsertRecord(image.data()); }), 0);
  for (auto& h : held) table.CloseBlob(3, h.data());
  Insert(table, 4);  // the slot is still on the chain, deleted
  EXPECT_EQ(table.CurrentRecord()->RecordNumber(), 2);
  EXPECT_EQ(table.LogFile()->RecordCount(), 1);  // only the insert that happened is logged
  table.Rollback();
  EXPECT_EQ(Count(table), 1);
}

TEST_F(CursorFaultsTest, FlushOfASharedCursorNeverWritesAStaleHeader) {
  Create();
  TDataFile a, b;
  Open(a);
  Open(b);
  for (int id = 1; id <= 3; ++id) Insert(b, id);
  a.Flush();
  b.Close();
  a.Close();
  TDataFile c;
  Open(c);
  EXPECT_EQ(c.Header().NextRecordNumber, 4);
  EXPECT_EQ(Count(c), 3);
}

TDataFile* reentered = nullptr;
TDataFile* other = nullptr;
TErrorCode reentryCode = 0;
bool fired = false;

TEST_F(CursorFaultsTest, CommitFromAMessageHandlerDuringRollbackIsRefused) {
  Create();
  TDataFile a, b;
  Open(a);
  Open(b);
  Insert(a, 1);
  Insert(a, 2);
  a.StartTransaction();
  ASSERT_TRUE(Find(a, 2));
  a.DeleteRecord();
  b.LockRecord(2);  // the freed slot, which the rollback must lock to bring the record back
  a.SetRetryCount(2);
  a.SetRetryWait(5);
  reentered = &a;
  other = &b;
  fired = false;
  reentryCode = 0;
  platform::SetMessageHook([] {
    if (fired) return;
    fired = true;
    reentryCode = ErrorCodeOf([] { reentered->Commit(); });
    other->UnlockRecord(2);
  });
  a.Rollback();
  platform::SetMessageHook(nullptr);
  EXPECT_TRUE(fired);
  EXPECT_EQ(reentryCode, ec::FileInUse);
  EXPECT_FALSE(a.InTransaction());
  EXPECT_TRUE(Find(a, 2));
}

// A close from anywhere the cursor's own operation lets other code run (a message handler during its
// lock wait, its record callback, the progress events of repair and restructure) would free the files
// and caches the operation still uses. It is refused, and the operation ends normally.
TDataFile* closing = nullptr;
TErrorCode closeCode = 0;

void TryClose() {
  if (closeCode == 0) closeCode = ErrorCodeOf([] { closing->Close(); });
}

std::int32_t ClosingCallback(std::uint32_t, std::uint8_t*, std::int32_t) {
  TryClose();
  return 1;
}

TEST_F(CursorFaultsTest, CloseFromInsideItsOwnOperationIsRefused) {
  Create();
  TDataFile a, b;
  Open(a);
  Open(b);
  for (int id = 1; id <= 3; ++id) Insert(a, id);
  closing = &a;

  // A message handler during a record lock wait; the other cursor lets go from the second pass.
  b.LockRecord(2);
  a.SetRetryCount(50);
  a.SetRetryWait(2);
  closeCode = 0;
  other = &b;
  fired = false;
  platform::SetMessageHook([] {
    TryClose();
    if (!fired) other->UnlockRecord(2);
    fired = true;
  });
  a.LockRecord(2);
  platform::SetMessageHook(nullptr);
  EXPECT_EQ(closeCode, ec::FileInUse);
  EXPECT_TRUE(a.Opened());
  a.UnlockRecord(2);

  // The cursor's own record callback.
  closeCode = 0;
  a.SetRecordCallback(ClosingCallback, 0);
  a.ActivateRecordCallback(true);
  EXPECT_EQ(Count(a), 3);
  a.ActivateRecordCallback(false);
  EXPECT_EQ(closeCode, ec::FileInUse);
  EXPECT_TRUE(a.Opened());
  b.Close();
  a.Close();  // not busy any more

  // Repair and restructure run on a closed cursor and open it themselves.
  TFieldDescriptor id, name;
  std::vector<TIndexDescriptor> indexes;
  {
    TDataFile t;
    Open(t);
    t.FieldDefByIndex(1, id);
    t.FieldDefByIndex(2, name);
    for (std::uint8_t n = 0; n <= t.IndexCount(); ++n) indexes.push_back(t.GetIndexDef(n));
  }
  name.Size = 20;  // the records are copied, with progress events
  const struct {
    const char* what;
    std::function<void(TDataFile&)> run;
  } maintenance[] = {
      {"repair", [](TDataFile& t) { t.RepairTable(); }},
      {"restructure",
       [&](TDataFile& t) {
         t.RestructureTable(false, "", indexes, {id, name}, 512, "");
       }},
  };
  for (const auto& m : maintenance) {
    SCOPED_TRACE(m.what);
    TDataFile t;
    t.SetExclusive(true);
    t.SetFileName(path);
    closing = &t;
    closeCode = 0;
    t.OnRepairProgress = [](void*, std::int32_t, std::int32_t) { TryClose(); };
    t.OnRestructureProgress = [](void*, std::int32_t, std::int32_t) { TryClose(); };
    m.run(t);
    EXPECT_EQ(closeCode, ec::FileInUse);
    EXPECT_FALSE(t.Opened());
    TDataFile check;
    Open(check);
    EXPECT_EQ(Count(check), 3);
  }
}

}  // namespace
}  // namespace kavrin::engine
