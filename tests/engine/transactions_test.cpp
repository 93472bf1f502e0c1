#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/blob_file.h"
#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "engine/memory_files.h"
#include "engine/password_list.h"
#include "platform/win_file.h"
#include "tests/engine/error_code_of.h"
#include "tests/engine/table_fixture.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine {
namespace {

using testing::Field;
using testing::Index;

TErrorCode CodeOf(const std::function<void()>& action) { return testing::ErrorCodeOf(action); }

struct Row {
  std::int32_t id;
  std::string name;
  std::string memo;
  std::int32_t uniqueId;
  bool operator==(const Row&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Row& row) {
  return out << "{" << row.id << "," << row.name << "," << row.memo << ",#" << row.uniqueId << "}";
}

class TransactionTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    MemoryFiles().Clear();
    TablePasswords().Clear();
    path = InMemory() ? "/mem/TX.DAT" : dir.PathOf("TX.DAT");
    testing::CreateTableAt(
        path, {Field(1, "ID", ftInteger), Field(2, "Name", ftString, 10), Field(3, "Memo", ftBlob, 0, fstMemo)},
        {Index("", {1}, true), Index("ByName", {2})}, InMemory());
    table.SetInMemory(InMemory());
    table.SetFileName(path);
    table.Open();
  }
  void TearDown() override {
    if (table.Opened()) table.Close();
    MemoryFiles().Clear();
  }
  bool InMemory() const { return GetParam(); }

  void Insert(std::int32_t id, const std::string& name, const std::string& memo = "") {
    std::vector<std::uint8_t> image(table.RecordSize());
    table.InitRecord(image.data());
    table.SetField(1, image.data(), &id);
    table.SetField(2, image.data(), name.c_str());
    if (!memo.empty()) {
      ASSERT_EQ(table.OpenBlob(3, image.data()), ec::Success);
      table.WriteBlob(3, image.data(), 0, static_cast<std::int32_t>(memo.size()), memo.data());
    }
    table.InsertRecord(image.data());
    if (!memo.empty()) table.CloseBlob(3, image.data());
  }

  bool Find(std::int32_t id) {
    table.SelectIndex(0);
    std::vector<std::uint8_t> image(table.RecordSize());
    table.InitRecord(image.data());
    table.SetField(1, image.data(), &id);
    return table.FindKey(false, image.data(), nullptr, 0, false, 0);
  }

  void Update(std::int32_t id, const std::string& name, const std::string& memo) {
    ASSERT_TRUE(Find(id));
    std::vector<std::uint8_t> image(table.RecordSize());
    table.GetCurrent(image.data(), true);
    table.SetField(2, image.data(), name.c_str());
    ASSERT_EQ(table.OpenBlob(3, image.data()), ec::Success);
    table.TruncateBlob(3, image.data(), 0);
    table.WriteBlob(3, image.data(), 0, static_cast<std::int32_t>(memo.size()), memo.data());
    table.UpdateRecord(image.data(), true);
    table.CloseBlob(3, image.data());
  }

  void Delete(std::int32_t id) {
    ASSERT_TRUE(Find(id));
    table.DeleteRecord();
  }

  std::vector<Row> Rows() {
    std::vector<Row> rows;
    const std::uint8_t active = table.ActiveIndex();
    table.SelectIndex(0);
    std::vector<std::uint8_t> image(table.RecordSize());
    table.GotoBOF();
    while (table.Next(image.data()) == ec::Success) {
      Row row{};
      bool isNull = true;
      table.GetField(1, image.data(), isNull, &row.id);
      char name[11] = {};
      table.GetField(2, image.data(), isNull, name);
      row.name = name;
      row.uniqueId = TDataFile::GetUniqueID(image.data());
      if (table.GetBlobReference(3, image.data()) != 0 && table.OpenBlob(3, image.data()) == ec::Success) {
        std::int32_t size = 0;
        table.BlobSize(3, image.data(), size);
        row.memo.resize(static_cast<std::size_t>(size));
        std::int32_t read = 0;
        table.ReadBlob(3, image.data(), 0, size, row.memo.data(), read);
        table.CloseBlob(3, image.data());
      }
      rows.push_back(row);
    }
    if (active != 0) table.SelectIndex(active);
    return rows;
  }

  kavrin::testing::TempDir dir;
  std::string path;
  TDataFile table;
};

TEST_P(TransactionTest, RollbackRestoresTheTableAndRemovesTheLog) {
  Insert(1, "Ann", "first memo");
  Insert(2, "Bob", "second memo");
  Insert(3, "Cid");
  const std::vector<Row> before = Rows();
  const std::int32_t endOffset = table.BlobFile().Header().EndOffset;

  table.StartTransaction();
  ASSERT_TRUE(table.InTransaction());
  const std::string logName = table.LogFile()->FileName();
  EXPECT_NE(logName.find("LOG0.DAT"), std::string::npos);
  Insert(4, "Dan", "new memo");
  Update(1, "Anne", "changed memo that is a good deal longer than the first one was, to take more blocks");
  Update(1, "Annie", "changed again");  // two updates of one record roll back to the first before image
  Delete(2);
  Insert(5, "Eve");
  Delete(5);  // inserted and deleted: leaves no trace
  table.Rollback();

  EXPECT_FALSE(table.InTransaction());
  EXPECT_EQ(Rows(), before);  // the deleted record has its old unique id again
  EXPECT_EQ(table.LogFile(), nullptr);
  if (InMemory()) {
    EXPECT_FALSE(MemoryFiles().MemoryFileExists(logName));
  } else {
    EXPECT_FALSE(platform::FileExists(logName));
    EXPECT_FALSE(platform::FileExists(dir.PathOf("LOG0.IDX")));
    EXPECT_FALSE(platform::FileExists(dir.PathOf("LOG0.BLB")));
  }
  // The rolled-back updates gave their chains back: no block is left without an owner.
  Insert(6, "Fay", std::string(300, 'f'));
  EXPECT_LE(table.BlobFile().Header().EndOffset, endOffset + 2 * 512);
}

TEST_P(TransactionTest, CommitKeepsEverythingAndReleasesTheLocks) {
  Insert(1, "Ann");
  table.StartTransaction();
  EXPECT_EQ(CodeOf([&] { table.StartTransaction(); }), ec::FileInUse);  // one transaction at a time
  Update(1, "Anne", "memo");
  Insert(2, "Bob");
  if (!InMemory()) {
    EXPECT_FALSE(table.LockedRecords().empty());  // kept until the end of the transaction
  }
  table.Commit();
  EXPECT_TRUE(table.LockedRecords().empty());
  EXPECT_FALSE(table.InTransaction());
  const std::vector<Row> rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].name, "Anne");
  EXPECT_EQ(rows[0].memo, "memo");
  table.Commit();  // without a transaction: nothing
  table.Rollback();
  EXPECT_EQ(Rows().size(), 2u);
}

TEST_P(TransactionTest, RollbackRestoresIndexAndRange) {
  for (int id = 1; id <= 5; ++id) Insert(id, "n" + std::to_string(id));
  table.SelectIndexByName("ByName");
  std::vector<std::uint8_t> low(table.RecordSize()), high(table.RecordSize());
  table.InitRecord(low.data());
  table.InitRecord(high.data());
  table.SetField(2, low.data(), "n2");
  table.SetField(2, high.data(), "n4");
  table.SetRange(false, low.data(), 1, high.data(), 1);
  table.StartTransaction();
  std::vector<std::uint8_t> image(table.RecordSize());
  table.GotoBOF();
  table.Next(image.data());
  table.GetCurrent(image.data(), true);
  table.SetField(2, image.data(), "n9");
  table.UpdateRecord(image.data(), false);
  table.Rollback();
  EXPECT_EQ(table.ActiveIndexName(), "ByName");
  EXPECT_TRUE(table.RangeActive());
  EXPECT_EQ(table.RecordCount(), 3);
}

TEST_P(TransactionTest, TableUnlockWaitsForTheEndAndLockTableDoesNothingInside) {
  if (InMemory()) GTEST_SKIP() << "in-memory tables take no locks";
  table.LockTable();
  table.StartTransaction();
  table.UnlockTable();
  EXPECT_TRUE(table.TableLocked());
  table.Commit();
  EXPECT_FALSE(table.TableLocked());
  table.StartTransaction();
  table.LockTable();
  EXPECT_FALSE(table.TableLocked());
  table.Rollback();

  // A deferred unlock never keeps the transaction's record locks: another cursor can take them.
  Insert(1, "Ann");
  table.StartTransaction();
  Update(1, "Anne", "memo");
  ASSERT_EQ(table.LockedRecords().size(), 1u);
  table.UnlockTable();
  table.Commit();
  EXPECT_TRUE(table.LockedRecords().empty());
  TDataFile other;
  other.SetFileName(path);
  other.SetRetryCount(0);
  other.Open();
  EXPECT_EQ(CodeOf([&] { other.LockRecord(1); }), ec::Success);
}

TEST_P(TransactionTest, RollbackLocksWhatItRewritesAndClosingAfterItFailedFreesTheLog) {
  if (InMemory()) GTEST_SKIP() << "in-memory tables take no locks";
  Insert(1, "Ann");
  Insert(2, "Bob");
  table.StartTransaction();
  const std::string logName = table.LogFile()->FileName();
  Delete(2);
  // Another cursor gives the key a new record and holds it: the rollback must take that lock to
  // write the deleted image over it.
  TDataFile other;
  other.SetFileName(path);
  other.Open();
  std::vector<std::uint8_t> image(other.RecordSize());
  other.InitRecord(image.data());
  const std::int32_t two = 2;
  other.SetField(1, image.data(), &two);
  other.SetField(2, image.data(), "Other");
  other.InsertRecord(image.data());
  other.SelectIndex(0);
  ASSERT_TRUE(other.FindKey(false, image.data(), nullptr, 0, false, 0));
  other.GetCurrent(image.data(), true);
  table.SetRetryCount(0);
  EXPECT_EQ(CodeOf([&] { table.Rollback(); }), ec::RecordLocked);
  EXPECT_TRUE(table.InTransaction());  // the log is kept for another try
  ASSERT_NE(table.LogFile(), nullptr);
  std::vector<Row> rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].name, "Other");  // untouched while locked elsewhere

  table.Close();
  EXPECT_FALSE(table.InTransaction());
  EXPECT_EQ(table.LogFile(), nullptr);
  EXPECT_FALSE(platform::FileExists(logName));
  EXPECT_FALSE(platform::FileExists(dir.PathOf("LOG0.IDX")));
  EXPECT_FALSE(platform::FileExists(dir.PathOf("LOG0.BLB")));
  other.Close();
  table.Open();
}

TEST_P(TransactionTest, ALogMissingABeforeImageFailsTheRollbackAndKeepsTheLog) {
  Insert(1, "Ann");
  table.StartTransaction();
  Update(1, "Anne", "changed");
  // The newest entry is the after image; the before image behind it goes missing.
  TDataFile& log = *table.LogFile();
  std::vector<std::uint8_t> entry(log.RecordSize());
  log.GotoBOF();
  ASSERT_EQ(log.Next(entry.data()), ec::Success);
  ASSERT_EQ(log.Next(entry.data()), ec::Success);
  log.DeleteRecord();
  EXPECT_EQ(CodeOf([&] { table.Rollback(); }), ec::RecordBuffersCorrupt);
  EXPECT_TRUE(table.InTransaction());
  const std::vector<Row> rows = Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].name, "Anne");
  CodeOf([&] { table.Close(); });
  EXPECT_EQ(table.LogFile(), nullptr);
}

TEST_P(TransactionTest, ClosingRollsBackAndFreesTheLog) {
  Insert(1, "Ann");
  table.StartTransaction();
  const std::string logName = table.LogFile()->FileName();
  Insert(2, "Bob");
  table.Close();
  table.Open();
  EXPECT_EQ(Rows().size(), 1u);
  EXPECT_FALSE(InMemory() ? MemoryFiles().MemoryFileExists(logName) : platform::FileExists(logName));
}

INSTANTIATE_TEST_SUITE_P(DiskAndMemory, TransactionTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "InMemory" : "OnDisk"; });

TEST(TransactionLog, RefusesTablesItCannotLog) {
  MemoryFiles().Clear();
  testing::CreateTableAt("/mem/CLASH.DAT", {Field(1, "ID", ftInteger), Field(2, "op___num", ftInteger)},
                         {Index("", {1}, true)}, true);
  TDataFile table;
  table.SetInMemory(true);
  table.SetFileName("/mem/CLASH.DAT");
  table.Open();
  EXPECT_EQ(CodeOf([&] { table.StartTransaction(); }), ec::InvalidFieldName);
  EXPECT_FALSE(table.InTransaction());
  EXPECT_FALSE(MemoryFiles().MemoryFileExists("/mem/LOG0.DAT"));
  table.Close();

  // Tables the log's three fields do not fit beside: too many fields, a record too long.
  std::vector<TFieldDescriptor> many;
  for (std::int16_t n = 1; n <= static_cast<std::int16_t>(MaxFieldCount) - 2; ++n) {
    many.push_back(Field(n, "F" + std::to_string(n), ftInteger));
  }
  std::vector<TFieldDescriptor> wide{Field(1, "ID", ftInteger)};
  std::uint32_t size = RecordPrefixSize + 5;
  for (std::int16_t n = 2; size + 2 <= 0xFFFF; ++n) {
    const auto bytes = static_cast<std::uint8_t>(std::min<std::uint32_t>(MaxFieldSize, 0xFFFF - size - 1));
    wide.push_back(Field(n, "B" + std::to_string(n), ftBytes, bytes));
    size += bytes + 1u;
  }
  struct Case {
    const char* name;
    std::vector<TFieldDescriptor> fields;
    TErrorCode code;
  };
  const Case cases[] = {{"/mem/MANY.DAT", many, ec::FieldLimits}, {"/mem/WIDE.DAT", wide, ec::RecordSizeExceeded}};
  for (const Case& c : cases) {
    testing::CreateTableAt(c.name, c.fields, {Index("", {1}, true)}, true);
    TDataFile refused;
    refused.SetInMemory(true);
    refused.SetFileName(c.name);
    refused.Open();
    EXPECT_EQ(CodeOf([&] { refused.StartTransaction(); }), c.code) << c.name;
    EXPECT_FALSE(refused.InTransaction());
    EXPECT_FALSE(MemoryFiles().MemoryFileExists("/mem/LOG0.DAT")) << c.name;
    refused.Close();
  }
  MemoryFiles().Clear();
}

TEST(TransactionLog, LogOfAPasswordTableIsScrambled) {
  MemoryFiles().Clear();
  TablePasswords().Clear();
  kavrin::testing::TempDir dir;
  testing::CreateTableAt(dir.PathOf("SECRET.DAT"), {Field(1, "ID", ftInteger), Field(2, "Name", ftString, 12)},
                         {Index("", {1}, true)}, false, "pw");
  TDataFile table;
  table.SetFileName(dir.PathOf("SECRET.DAT"));
  table.SetPasswordHandler([](TDataFile&) {
    TablePasswords().Add("pw");
    return true;
  });
  table.Open();
  TablePasswords().Clear();  // the session forgets it: the log must still be made and read
  table.StartTransaction();
  std::vector<std::uint8_t> image(table.RecordSize());
  table.InitRecord(image.data());
  const std::int32_t id = 1;
  table.SetField(1, image.data(), &id);
  table.SetField(2, image.data(), "plaintextname");
  table.InsertRecord(image.data());
  EXPECT_TRUE(table.LogFile()->Encrypted());
  table.Rollback();
  EXPECT_EQ(table.RecordCount(), 0);
  EXPECT_TRUE(TablePasswords().Entries().empty());
}

TEST(TransactionProcesses, OtherProcessesSeeTheOutcomeAndCanLockAfterCommit) {
  MemoryFiles().Clear();
  kavrin::testing::TempDir dir;
  const std::string path = dir.PathOf("SHARED.DAT");
  testing::CreateTableAt(path, {Field(1, "ID", ftInteger)}, {Index("", {1}, true)});
  TDataFile table;
  table.SetFileName(path);
  table.Open();
  auto insert = [&](std::int32_t id) {
    std::vector<std::uint8_t> image(table.RecordSize());
    table.InitRecord(image.data());
    table.SetField(1, image.data(), &id);
    table.InsertRecord(image.data());
  };
  // The child counts the records and tries to lock every one of them.
  auto child = [&]() -> int {
    const pid_t pid = fork();
    if (pid == 0) {
      int result = 100;
      try {
        TDataFile other;
        other.SetFileName(path);
        other.SetRetryCount(0);
        other.Open();
        std::vector<std::uint8_t> image(other.RecordSize());
        int count = 0, locked = 0;
        other.GotoBOF();
        while (other.Next(image.data()) == ec::Success) {
          ++count;
          try {
            other.GetCurrent(image.data(), true);
            ++locked;
          } catch (const EDBEngineError&) {
          }
        }
        result = count * 10 + locked;
      } catch (...) {
      }
      _exit(result);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  insert(1);
  table.StartTransaction();
  insert(2);
  EXPECT_EQ(child(), 21);  // the transaction's record is locked until it ends
  table.Rollback();
  EXPECT_EQ(child(), 11);  // nothing of the rolled-back transaction is left
  table.StartTransaction();
  insert(3);
  insert(4);
  table.Commit();
  EXPECT_EQ(child(), 33);  // everything after commit, and every record can be locked
}

// Runs action in a second process on its own cursor of the table (no lock retries); the engine code it
// raised, 0 when none, or 1 when the process died.
TErrorCode InChildProcess(const std::string& path, const std::function<void(TDataFile&)>& action) {
  int fds[2];
  if (pipe(fds) != 0) return 1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    TErrorCode code = 1;
    try {
      TDataFile other;
      other.SetFileName(path);
      other.SetRetryCount(0);
      other.SetRetryWait(1);
      other.Open();
      code = CodeOf([&] { action(other); });
      other.Close();
    } catch (...) {
    }
    _exit(write(fds[1], &code, sizeof code) == sizeof code ? 0 : 1);
  }
  close(fds[1]);
  TErrorCode code = 1;
  if (read(fds[0], &code, sizeof code) != sizeof code) code = 1;
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return code;
}

void InsertId(TDataFile& table, std::int32_t id) {
  std::vector<std::uint8_t> image(table.RecordSize());
  table.InitRecord(image.data());
  table.SetField(1, image.data(), &id);
  table.InsertRecord(image.data());
}

void DeleteId(TDataFile& table, std::int32_t id) {
  std::vector<std::uint8_t> image(table.RecordSize());
  table.SelectIndex(0);
  table.InitRecord(image.data());
  table.SetField(1, image.data(), &id);
  if (!table.FindKey(false, image.data(), nullptr, 0, false, 0)) throw std::runtime_error("record not found");
  table.DeleteRecord();
}

class SharedTransactionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MemoryFiles().Clear();
    path = dir.PathOf("SHARED.DAT");
    testing::CreateTableAt(path, {Field(1, "ID", ftInteger)}, {Index("", {1}, true)});
    table.SetFileName(path);
    table.SetRetryCount(0);
    table.Open();
  }

  kavrin::testing::TempDir dir;
  std::string path;
  TDataFile table;
};

TEST_F(SharedTransactionTest, RollbackIntoASlotAnotherProcessFreedMovesTheIdToThatSlot) {
  for (std::int32_t id = 1; id <= 3; ++id) InsertId(table, id);
  table.StartTransaction();
  DeleteId(table, 1);
  // The other process frees a slot of its own; the rollback brings record 1 back into it.
  ASSERT_EQ(InChildProcess(path, [](TDataFile& other) { DeleteId(other, 2); }), 0);
  table.Rollback();
  ASSERT_EQ(table.RecordCount(), 2);

  // Every later change of record 1 and of the slots works, here and in the other process.
  EXPECT_EQ(CodeOf([&] { DeleteId(table, 1); }), 0);
  EXPECT_EQ(InChildProcess(path, [](TDataFile& other) { InsertId(other, 4); }), 0);
  EXPECT_EQ(CodeOf([&] { InsertId(table, 5); }), 0);
  EXPECT_EQ(InChildProcess(path,
                           [](TDataFile& other) {
                             DeleteId(other, 4);
                             DeleteId(other, 5);
                             DeleteId(other, 3);
                           }),
            0);
  EXPECT_EQ(CodeOf([&] { InsertId(table, 6); }), 0);
  EXPECT_EQ(table.RecordCount(), 1);
  table.Close();

  // The record-state index holds one key per slot: a repair finds nothing to change in the ids.
  TDataFile check;
  check.SetFileName(path);
  check.SetExclusive(true);
  check.Open();
  std::vector<std::int32_t> ids;
  for (std::int32_t n = 1; n <= check.PhysicalRecordCount(); ++n) ids.push_back(check.FetchRecord(n)->UniqueID());
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end()) << "two slots share an id";
}

TEST_F(SharedTransactionTest, AKeyViolationInsideATransactionFreesTheSlotAtOnce) {
  InsertId(table, 1);
  table.StartTransaction();
  InsertId(table, 2);
  EXPECT_EQ(CodeOf([&] { InsertId(table, 2); }), ec::KeyViolation);
  // The slot the failed insert took is free for the other process at once.
  EXPECT_EQ(InChildProcess(path, [](TDataFile& other) { InsertId(other, 3); }), 0);
  // The transaction's own record stays locked to its end.
  EXPECT_EQ(InChildProcess(path, [](TDataFile& other) { DeleteId(other, 2); }), ec::RecordLocked);
  // Another process's transaction can change and roll back meanwhile.
  EXPECT_EQ(InChildProcess(path,
                           [](TDataFile& other) {
                             other.StartTransaction();
                             InsertId(other, 4);
                             DeleteId(other, 3);
                             other.Rollback();
                           }),
            0);
  table.Rollback();
  EXPECT_EQ(InChildProcess(path,
                           [](TDataFile& other) {
                             if (other.RecordCount() != 2) throw std::runtime_error("records");
                             DeleteId(other, 3);
                           }),
            0);
}

// One process commits while another starts a transaction at the moment the first is deleting its log's
// files (held there by the file hook, before its second and before its third delete): the second takes
// another name, and both ends work.
TEST(TransactionProcesses, TwoProcessesNeverShareALogName) {
  MemoryFiles().Clear();
  kavrin::testing::TempDir dir;
  const std::string path = dir.PathOf("SHARED.DAT");
  testing::CreateTableAt(path, {Field(1, "ID", ftInteger), Field(2, "Memo", ftBlob, 0, fstMemo)},
                         {Index("", {1}, true)});
  for (int pauseAt = 2; pauseAt <= 3; ++pauseAt) {
    SCOPED_TRACE("held before delete " + std::to_string(pauseAt));
    int paused[2], resume[2], result[2];
    ASSERT_EQ(pipe(paused), 0);
    ASSERT_EQ(pipe(resume), 0);
    ASSERT_EQ(pipe(result), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      TErrorCode code = 1;
      try {
        TDataFile other;
        other.SetFileName(path);
        other.Open();
        other.StartTransaction();
        InsertId(other, 100 + pauseAt);
        int deletes = 0;
        platform::SetFileFaultHook([&](platform::FileOp op, const std::string& name) -> platform::DWORD {
          if (op == platform::FileOp::Delete && name.find("/LOG") != std::string::npos && ++deletes == pauseAt) {
            char byte = 0;
            if (write(paused[1], &byte, 1) != 1 || read(resume[0], &byte, 1) != 1) _exit(2);
          }
          return 0;
        });
        code = CodeOf([&] { other.Commit(); });
        platform::SetFileFaultHook(nullptr);
        other.Close();
      } catch (...) {
      }
      _exit(write(result[1], &code, sizeof code) == sizeof code ? 0 : 1);
    }
    char byte = 0;
    ASSERT_EQ(read(paused[0], &byte, 1), 1);
    TDataFile table;
    table.SetFileName(path);
    table.Open();
    const TErrorCode started = CodeOf([&] { table.StartTransaction(); });
    const std::string logName = table.LogFile() ? table.LogFile()->FileName() : std::string();
    ASSERT_EQ(write(resume[1], &byte, 1), 1);
    TErrorCode committed = 1;
    ASSERT_EQ(read(result[0], &committed, sizeof committed), static_cast<ssize_t>(sizeof committed));
    waitpid(pid, nullptr, 0);
    for (int fd : {paused[0], paused[1], resume[0], resume[1], result[0], result[1]}) close(fd);

    EXPECT_EQ(started, 0);
    EXPECT_EQ(logName, dir.PathOf("LOG1.DAT"));
    EXPECT_EQ(committed, 0);
    if (table.InTransaction()) {
      InsertId(table, 200 + pauseAt);
      EXPECT_EQ(CodeOf([&] { table.Commit(); }), 0);
    }
    table.Close();
    for (const char* name : {"LOG0.DAT", "LOG0.IDX", "LOG0.BLB", "LOG1.DAT", "LOG1.IDX", "LOG1.BLB"}) {
      EXPECT_FALSE(platform::FileExists(dir.PathOf(name))) << name;
    }
  }
}

// A log's index or blob file left behind without its data file keeps the name taken, and stays as it was.
TEST(TransactionProcesses, ALeftoverLogFileKeepsItsNameTaken) {
  MemoryFiles().Clear();
  kavrin::testing::TempDir dir;
  const std::string path = dir.PathOf("SHARED.DAT");
  testing::CreateTableAt(path, {Field(1, "ID", ftInteger)}, {Index("", {1}, true)});
  for (const char* leftover : {"LOG0.IDX", "LOG1.BLB"}) kavrin::testing::WriteWholeFile(dir.PathOf(leftover), "x");
  TDataFile table;
  table.SetFileName(path);
  table.Open();
  table.StartTransaction();
  EXPECT_EQ(table.LogFile()->FileName(), dir.PathOf("LOG2.DAT"));
  table.Commit();
  EXPECT_EQ(kavrin::testing::ReadWholeFile(dir.PathOf("LOG0.IDX")), "x");
  EXPECT_EQ(kavrin::testing::ReadWholeFile(dir.PathOf("LOG1.BLB")), "x");
  EXPECT_FALSE(platform::FileExists(dir.PathOf("LOG0.DAT")));
  EXPECT_FALSE(platform::FileExists(dir.PathOf("LOG1.DAT")));
}

}  // namespace
}  // namespace kavrin::engine
