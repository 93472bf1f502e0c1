#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <list>
#include <string>
#include <vector>

#include "engine/blob_file.h"
#include "engine/byte_order.h"
#include "engine/cache_budget.h"
#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "engine/memory_files.h"
#include "engine/password_list.h"
#include "tests/engine/error_code_of.h"
#include "tests/engine/table_fixture.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine {
namespace {

using kavrin::testing::ReadWholeFile;
using kavrin::testing::TempDir;
using testing::CreateTableAt;
using testing::Field;
using testing::Index;
using testing::SimpleFields;
using testing::SimpleIndexes;

TErrorCode CodeOf(const std::function<void()>& action) { return testing::ErrorCodeOf(action); }

class DataFileCoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MemoryFiles().Clear();
    TablePasswords().Clear();
  }
  void TearDown() override {
    MemoryFiles().Clear();
    TablePasswords().Clear();
  }

  std::string Path(const std::string& name = "T") const { return dir.PathOf(name + ".DAT"); }

  // Appends a record with the given ID through the lowest-level calls: a slot, its fields, the header.
  static std::int32_t AppendRecord(TDataFile& table, std::int32_t id) {
    TRecord* record = table.AllocateRecord();
    record->InitNew();
    table.SetField(1, record->Buffer(), &id);
    record->SetDirty(true);
    return record->RecordNumber();
  }

  // A table of 100-byte records, opened exclusive with a 512 KiB cache budget; the budget is put back.
  void OpenWithSmallCache(TDataFile& table) const {
    const std::size_t budget = kavrin::engine::TableCacheBudget();
    kavrin::engine::SetTableCacheBudget(512 * 1024);
    CreateTableAt(Path(), {Field(1, "ID", ftInteger), Field(2, "Pad", ftBytes, 85)}, SimpleIndexes());
    table.SetExclusive(true);
    table.SetFileName(Path());
    table.Open();
    kavrin::engine::SetTableCacheBudget(budget);
  }

  static std::int32_t IdOf(TDataFile& table, std::int32_t recordNumber) {
    std::int32_t id = 0;
    bool isNull = true;
    table.GetField(1, table.FetchRecord(recordNumber)->Buffer(), isNull, &id);
    return id;
  }

  TempDir dir;
};

TEST_F(DataFileCoreTest, FixFileNameAlwaysEndsInDat) {
  TDataFile table;
  EXPECT_EQ(table.FixFileName(" /db/orders.txt "), "/db/orders.DAT");
  EXPECT_EQ(table.FixFileName("/db/orders"), "/db/orders.DAT");
  EXPECT_EQ(table.FixFileName("/db.v1/orders"), "/db.v1/orders.DAT");
}

TEST_F(DataFileCoreTest, RecordCacheTakesAQuarterOfTheBudgetAndWritesWhatItEvicts) {
  // 9 + 5 + 86 = 100 bytes per record, 96 more for the cache's bookkeeping.
  TDataFile table;
  OpenWithSmallCache(table);
  ASSERT_EQ(table.RecordSize(), 100);
  const std::size_t capacity = 512 * 1024 / 4 / 196;
  EXPECT_EQ(table.RecordCacheCapacity(), capacity);
  for (std::size_t i = 1; i <= capacity + 1; ++i) AppendRecord(table, static_cast<std::int32_t>(i) * 10);
  EXPECT_EQ(table.RecordCacheCount(), capacity);
  EXPECT_EQ(table.PhysicalRecordCount(), static_cast<std::int32_t>(capacity) + 1);
  // Record 1 was evicted first; it was dirty, so it was written and reads back.
  table.DropRecordCache();
  EXPECT_EQ(IdOf(table, 1), 10);
}

// Against a model of the use order: after hits, misses, evictions and forgotten records in random
// order the cache holds exactly the records most recently used. A record whose cached image was marked
// without being dirtied keeps the mark only while it stays cached.
TEST_F(DataFileCoreTest, RecordCacheKeepsExactlyTheMostRecentlyUsedRecords) {
  TDataFile table;
  OpenWithSmallCache(table);
  const auto capacity = static_cast<std::int32_t>(table.RecordCacheCapacity());
  const std::int32_t records = 3 * capacity;
  for (std::int32_t n = 1; n <= records; ++n) AppendRecord(table, n);
  table.Flush();
  table.DropRecordCache();

  std::list<std::int32_t> model;  // most recently used first
  auto idOf = [&](TRecord* record) {
    std::int32_t id = 0;
    bool isNull = true;
    table.GetField(1, record->Buffer(), isNull, &id);
    return id;
  };
  auto use = [&](std::int32_t n) {
    const bool cached = std::find(model.begin(), model.end(), n) != model.end();
    TRecord* record = table.FetchRecord(n);
    ASSERT_EQ(idOf(record), cached ? -n : n) << "record " << n;
    const std::int32_t mark = -n;
    table.SetField(1, record->Buffer(), &mark);
    model.remove(n);
    model.push_front(n);
    if (static_cast<std::int32_t>(model.size()) > capacity) model.pop_back();
  };
  std::uint32_t seed = 12345;
  auto random = [&](std::int32_t below) {
    seed = seed * 1103515245u + 12345u;
    return static_cast<std::int32_t>((seed >> 8) % static_cast<std::uint32_t>(below));
  };
  std::int32_t lastMiss = 0;
  for (int step = 0; step < 20 * capacity; ++step) {
    // A miss next to the last one would bring its neighbours along, which the model leaves out.
    std::int32_t n = 0;
    do {
      n = 1 + (random(4) == 0 ? random(records) : random(capacity + capacity / 4));
    } while (n == lastMiss - 1 || n == lastMiss + 1);
    if (std::find(model.begin(), model.end(), n) == model.end()) lastMiss = n;
    ASSERT_NO_FATAL_FAILURE(use(n));
    if (step % (5 * capacity) == 5 * capacity - 1) {
      const std::int32_t from = records - capacity / 2;
      table.ForgetRecordsFrom(from);
      model.remove_if([&](std::int32_t cached) { return cached >= from; });
      ASSERT_EQ(table.RecordCacheCount(), model.size());
    }
  }
  ASSERT_EQ(table.RecordCacheCount(), model.size());
  // Each record of the model is a hit still marked; a hit evicts nothing.
  for (std::int32_t n : std::vector<std::int32_t>(model.begin(), model.end())) {
    EXPECT_EQ(idOf(table.FetchRecord(n)), -n) << "record " << n;
  }
  EXPECT_EQ(table.RecordCacheCount(), model.size());
}

TEST_F(DataFileCoreTest, SlotsComeFromTheDeletedChainLastInFirstOut) {
  CreateTableAt(Path(), SimpleFields(), SimpleIndexes());
  TDataFile table;
  table.SetExclusive(true);
  table.SetFileName(Path());
  table.Open();
  EXPECT_EQ(table.FirstFreeRecord(), 1);
  TRecord* first = table.AllocateRecord();  // a new slot: nothing is read
  EXPECT_EQ(first->RecordNumber(), 1);
  EXPECT_EQ(table.Header().NextRecordNumber, 2);
  for (int i = 2; i <= 8; ++i) AppendRecord(table, i);
  table.FreeRecordSlot(*table.FetchRecord(3));
  table.FreeRecordSlot(*table.FetchRecord(7));
  EXPECT_EQ(table.Header().DeletedChainHead, 7u);
  EXPECT_EQ(table.FetchRecord(7)->NextDeleted(), 3);
  EXPECT_EQ(table.FetchRecord(3)->NextDeleted(), 0);
  EXPECT_EQ(table.AllocateRecord()->RecordNumber(), 7);
  EXPECT_EQ(table.AllocateRecord()->RecordNumber(), 3);
  EXPECT_EQ(table.AllocateRecord()->RecordNumber(), 9);
}

TEST_F(DataFileCoreTest, OnlyAllocationMakesASlot) {
  CreateTableAt(Path(), SimpleFields(), SimpleIndexes());
  TDataFile table;
  table.SetExclusive(true);
  table.SetFileName(Path());
  table.Open();
  EXPECT_EQ(table.FetchRecord(0), nullptr);
  EXPECT_EQ(CodeOf([&] { table.FetchRecord(1); }), ec::RecordBuffersCorrupt);  // the next record number
  EXPECT_EQ(CodeOf([&] { table.FetchRecord(-4); }), ec::RecordBuffersCorrupt);
  EXPECT_EQ(table.Header().NextRecordNumber, 1);
}

TEST_F(DataFileCoreTest, ADeletedChainThatLeadsToALiveRecordIsRefused) {
  CreateTableAt(Path(), SimpleFields(), SimpleIndexes());
  {
    TDataFile table;
    table.SetExclusive(true);
    table.SetFileName(Path());
    table.Open();
    AppendRecord(table, 1);
    AppendRecord(table, 2);
  }
  // Point the stored chain head at live record 2.
  std::string bytes = ReadWholeFile(Path());
  bytes[9] = 2;
  kavrin::testing::WriteWholeFile(Path(), bytes);
  TDataFile table;
  table.SetExclusive(true);
  table.SetFileName(Path());
  table.Open();
  EXPECT_EQ(CodeOf([&] { table.AllocateRecord(); }), ec::RecordBuffersCorrupt);
  EXPECT_EQ(IdOf(table, 2), 2);
}

TEST_F(DataFileCoreTest, ExclusiveCursorTrustsItsHeaderCopy) {
  CreateTableAt(Path(), SimpleFields(), SimpleIndexes());
  TDataFile table;
  table.SetExclusive(true);
  table.SetFileName(Path());
  table.Open();
  const std::int32_t counter = table.Header().ChangeCounter;
  // Change the stored counter behind the cursor's back (no other process could on an exclusive file).
  std::string bytes = ReadWholeFile(Path());
  bytes[0] = static_cast<char>(bytes[0] + 5);
  kavrin::testing::WriteWholeFile(Path(), bytes);
  table.CheckHeaderChanged();
  table.ReadHeader();
  EXPECT_EQ(table.Header().ChangeCounter, counter);
}

TEST_F(DataFileCoreTest, FlushAdvancesTheCounterUnlessReadOnly) {
  CreateTableAt(Path(), SimpleFields(), SimpleIndexes());
  {
    TDataFile table;
    table.SetFileName(Path());
    table.SetReadOnly(true);
    table.Open();
    const std::string before = ReadWholeFile(Path());
    table.Flush();
    table.Close();
    EXPECT_EQ(ReadWholeFile(Path()), before);
  }
  TDataFile table;
  table.SetFileName(Path());
  table.Open();
  const std::int32_t counter = table.Header().ChangeCounter;
  table.Flush();
  EXPECT_EQ(table.Header().ChangeCounter, counter + 1);
  EXPECT_EQ(LoadI32(reinterpret_cast<const std::uint8_t*>(ReadWholeFile(Path()).data())), counter + 1);
}

TEST_F(DataFileCoreTest, SharedCursorWritesWhatItChangedWhenItCloses) {
  CreateTableAt(Path(), SimpleFields(), SimpleIndexes());
  {
    TDataFile table;
    table.SetFileName(Path());
    table.Open();
    table.LockHeader();
    table.SetHeaderLocked(true);
    AppendRecord(table, 77);
    table.UnlockHeader();
    table.Close();
  }
  TDataFile table;
  table.SetFileName(Path());
  table.Open();
  ASSERT_EQ(table.PhysicalRecordCount(), 1);
  EXPECT_EQ(IdOf(table, 1), 77);
}

TEST_F(DataFileCoreTest, VersionAndLayoutAreCheckedAtOpen) {
  CreateTableAt(Path(), SimpleFields(), SimpleIndexes());
  std::string bytes = ReadWholeFile(Path());
  bytes[8] = 3;
  kavrin::testing::WriteWholeFile(Path(), bytes);
  TDataFile table;
  table.SetFileName(Path());
  EXPECT_EQ(CodeOf([&] { table.Open(); }), ec::IncorrectVersion);
  EXPECT_FALSE(table.Opened());
  bytes[8] = 2;
  bytes[23] = 0x01;  // field count 257
  bytes[24] = 0x01;
  kavrin::testing::WriteWholeFile(Path(), bytes);
  EXPECT_NE(CodeOf([&] { table.Open(); }), 0);
  EXPECT_FALSE(table.Opened());
}

// Records read and written several at a time are scrambled one by one, and a changed record in the
// cache is never replaced by what the file still holds.
TEST_F(DataFileCoreTest, RecordsReadAheadAreWholeUnitsAndSkipCachedRecords) {
  CreateTableAt(Path(), SimpleFields(), SimpleIndexes(), false, "Secret");
  TablePasswords().Add("Secret");
  std::int32_t kRecords = 0;
  {
    TDataFile table;
    table.SetExclusive(true);
    table.SetFileName(Path());
    table.Open();
    // Three cache fills: the changed records leave the cache in runs, written as one.
    kRecords = 3 * static_cast<std::int32_t>(table.RecordCacheCapacity());
    for (std::int32_t n = 1; n <= kRecords; ++n) AppendRecord(table, n * 7);
    table.Close();
  }
  TDataFile table;
  table.SetExclusive(true);
  table.SetFileName(Path());
  table.Open();
  TRecord* changed = table.FetchRecord(100);
  const std::int32_t id = -1;
  table.SetField(1, changed->Buffer(), &id);
  changed->SetDirty(true);
  for (std::int32_t n = 90; n <= 110; ++n) table.FetchRecord(n);   // forward, up to the changed one
  for (std::int32_t n = 350; n >= 300; --n) table.FetchRecord(n);  // backward
  EXPECT_GT(table.RecordCacheCount(), 100u);
  for (std::int32_t n = 1; n <= kRecords; ++n) {
    ASSERT_EQ(IdOf(table, n), n == 100 ? -1 : n * 7) << "record " << n;
  }
}

// Changed records leaving the cache take their long-unused changed neighbours to disk in the same
// write, but never a record used since (one an operation may be changing), nor the current record.
TEST_F(DataFileCoreTest, RecordsLeavingTheCacheTakeOnlyOldChangedNeighbours) {
  CreateTableAt(Path(), SimpleFields(), SimpleIndexes());
  TDataFile table;
  table.SetExclusive(true);
  table.SetFileName(Path());
  table.Open();
  const auto capacity = static_cast<std::int32_t>(table.RecordCacheCapacity());
  for (std::int32_t n = 1; n <= capacity; ++n) AppendRecord(table, n);
  table.Flush();
  table.DropRecordCache();
  for (std::int32_t n = 1; n <= capacity; ++n) table.FetchRecord(n);  // the cache holds them all
  ASSERT_EQ(table.RecordCacheCount(), static_cast<std::size_t>(capacity));
  auto change = [&](std::int32_t n) {
    const std::int32_t id = -n;
    TRecord* record = table.FetchRecord(n);
    table.SetField(1, record->Buffer(), &id);
    record->SetDirty(true);
  };
  auto idOnDisk = [&](std::int32_t n) {
    const std::string bytes = ReadWholeFile(Path());
    std::vector<std::uint8_t> image(bytes.begin() + table.RecordPosition(n),
                                    bytes.begin() + table.RecordPosition(n) + table.RecordSize());
    std::int32_t id = 0;
    bool isNull = true;
    table.GetField(1, image.data(), isNull, &id);
    return id;
  };
  for (std::int32_t n = 1; n <= capacity; ++n) change(n);
  change(3);                          // used again: the newest in the cache
  AppendRecord(table, capacity + 1);  // record 1 leaves the cache
  EXPECT_EQ(idOnDisk(1), -1);
  EXPECT_EQ(idOnDisk(2), -2);  // an old neighbour went with it
  EXPECT_EQ(idOnDisk(3), 3);   // the one used since did not, nor anything past it
  EXPECT_EQ(idOnDisk(4), 4);
  table.Close();
  TDataFile reopened;
  reopened.SetExclusive(true);
  reopened.SetFileName(Path());
  reopened.Open();
  for (std::int32_t n = 1; n <= capacity + 1; ++n) ASSERT_EQ(IdOf(reopened, n), n <= capacity ? -n : n) << n;
}

// A data file cut short in the middle of a record: the records before the cut read as ever, read ahead
// or not, and only the cut record reports the short read.
TEST_F(DataFileCoreTest, ReadAheadStopsAtTheEndOfAFileCutShort) {
  CreateTableAt(Path(), SimpleFields(), SimpleIndexes());
  constexpr std::int32_t kRecords = 300;
  std::int32_t recordSize = 0;
  {
    TDataFile table;
    table.SetExclusive(true);
    table.SetFileName(Path());
    table.Open();
    for (std::int32_t n = 1; n <= kRecords; ++n) AppendRecord(table, n);
    recordSize = table.RecordSize();
    table.Close();
  }
  std::string bytes = ReadWholeFile(Path());
  bytes.resize(bytes.size() - static_cast<std::size_t>(kRecords - 250) * static_cast<std::size_t>(recordSize) -
               static_cast<std::size_t>(recordSize / 2));
  kavrin::testing::WriteWholeFile(Path(), bytes);
  TDataFile table;
  table.SetExclusive(true);
  table.SetFileName(Path());
  table.Open();
  ClearErrorContext();
  for (std::int32_t n = 1; n < 250; ++n) ASSERT_EQ(IdOf(table, n), n);
  EXPECT_EQ(GetLastEngineError(), ec::Success);
  EXPECT_EQ(CodeOf([&] { table.FetchRecord(250); }), ec::ReadError);
  table.DropRecordCache();
  ClearErrorContext();
  for (std::int32_t n = 249; n >= 1; --n) ASSERT_EQ(IdOf(table, n), n);
  EXPECT_EQ(GetLastEngineError(), ec::Success);
}

// Another process's header write is read again by a shared cursor; a damaged one must stop the
// cursor with an engine error, not lead it to read or allocate from nonsense.
TEST_F(DataFileCoreTest, DamagedHeaderWrittenElsewhereIsRefusedOnReRead) {
  struct Damage {
    const char* what;
    std::size_t offset;
    std::vector<std::uint8_t> bytes;
  };
  const Damage damages[] = {
      {"next record number 0", 13, {0, 0, 0, 0}},         {"negative next record number", 13, {0xFF, 0xFF, 0xFF, 0xFF}},
      {"blob block size changed", 4, {0x00, 0x04, 0, 0}}, {"blob field count changed", 25, {3, 0}},
      {"record size changed", 21, {0xFF, 0x00}},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    CreateTableAt(Path(), SimpleFields(), SimpleIndexes());
    TDataFile table;
    table.SetFileName(Path());
    table.Open();
    std::string bytes = ReadWholeFile(Path());
    std::copy(damage.bytes.begin(), damage.bytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(damage.offset));
    bytes[0] = static_cast<char>(bytes[0] + 1);  // the change counter tells the cursor to look
    kavrin::testing::WriteWholeFile(Path(), bytes);
    EXPECT_EQ(CodeOf([&] { table.CheckHeaderChanged(); }), ec::HeaderError);
    table.Close();
    std::filesystem::remove(Path());
    std::filesystem::remove(dir.PathOf("T.IDX"));
  }
}

TEST_F(DataFileCoreTest, DamagedIndexRecordCountIsRefusedAtOpen) {
  CreateTableAt(Path(), SimpleFields(), SimpleIndexes());
  std::string index = ReadWholeFile(dir.PathOf("T.IDX"));
  index[2522 + 3] = static_cast<char>(0x80);  // a negative key count
  kavrin::testing::WriteWholeFile(dir.PathOf("T.IDX"), index);
  TDataFile table;
  table.SetFileName(Path());
  EXPECT_EQ(CodeOf([&] { table.Open(); }), ec::HeaderError);
  EXPECT_FALSE(table.Opened());
}

class PasswordTest : public DataFileCoreTest {};

TEST_F(PasswordTest, UnknownPasswordWithoutHandlerLeavesTheCursorClosed) {
  CreateTableAt(Path(), SimpleFields(), SimpleIndexes(), false, "Secret");
  EXPECT_FALSE(TablePasswords().Contains("Secret"));  // only added for the creation
  TDataFile table;
  table.SetFileName(Path());
  EXPECT_EQ(CodeOf([&] { table.Open(); }), ec::PasswordRequired);
  EXPECT_FALSE(table.Opened());
  TablePasswords().Add("secret");  // passwords match exactly
  EXPECT_EQ(CodeOf([&] { table.Open(); }), ec::PasswordRequired);
  TablePasswords().Add("Secret");
  table.Open();
  EXPECT_TRUE(table.Encrypted());
  EXPECT_EQ(table.GetPassword(), "Secret");
  EXPECT_EQ(table.GetDescription(), "test table");
}

TEST_F(PasswordTest, HandlerIsAskedUntilItGivesUpOrAddsNothing) {
  CreateTableAt(Path(), SimpleFields(), SimpleIndexes(), false, "Secret");
  TDataFile table;
  table.SetFileName(Path());
  int asked = 0;
  table.SetPasswordHandler([&](TDataFile&) {
    ++asked;
    TablePasswords().Add(asked < 3 ? "wrong" + std::to_string(asked) : "Secret");
    return true;
  });
  table.Open();
  EXPECT_EQ(asked, 3);
  table.Close();

  TablePasswords().Clear();
  asked = 0;
  table.SetPasswordHandler([&](TDataFile&) {
    ++asked;
    return true;  // says yes but adds nothing: asking again would never end
  });
  EXPECT_EQ(CodeOf([&] { table.Open(); }), ec::PasswordRequired);
  EXPECT_EQ(asked, 1);

  // Adding again a password the list holds already adds nothing either.
  TablePasswords().Clear();
  asked = 0;
  table.SetPasswordHandler([&](TDataFile&) {
    ++asked;
    TablePasswords().Add(asked == 1 ? "wrong" : "again");
    TablePasswords().Add("wrong");
    return asked < 50;  // ends a loop that would otherwise never end
  });
  EXPECT_EQ(CodeOf([&] { table.Open(); }), ec::PasswordRequired);
  EXPECT_EQ(asked, 3);
  EXPECT_FALSE(table.Opened());
}

TEST_F(PasswordTest, FifteenCharacterPasswordWithTrailingBlankReopens) {
  const std::string password = "fourteen chars ";  // 15 characters, the last a blank
  ASSERT_EQ(password.size(), 15u);
  CreateTableAt(Path(), SimpleFields(), SimpleIndexes(), false, password);
  TablePasswords().Add(password);
  TDataFile table;
  table.SetFileName(Path());
  table.Open();
  EXPECT_EQ(table.GetPassword(), password);
}

TEST_F(PasswordTest, LongerPasswordIsKnownByItsStoredFifteenCharacters) {
  CreateTableAt(Path(), SimpleFields(), SimpleIndexes(), false, "fifteen chars!!   ");
  TablePasswords().Add("fifteen chars!!   ");
  TDataFile table;
  table.SetFileName(Path());
  table.Open();
  EXPECT_EQ(table.GetPassword(), "fifteen chars!!");
}

TEST_F(PasswordTest, ContentsAreScrambledOnDisk) {
  CreateTableAt(Path(), SimpleFields(), SimpleIndexes(), false, "pw");
  const std::string bytes = ReadWholeFile(Path());
  // The descriptor of field 2 holds the name "Name"; scrambled, it does not appear in the file.
  EXPECT_EQ(bytes.find("Name"), std::string::npos);
  EXPECT_EQ(bytes.find("Amount"), std::string::npos);
}

TEST_F(DataFileCoreTest, ReadOnlyCompanionMakesTheWholeTableReadOnly) {
  std::vector<TFieldDescriptor> fields = SimpleFields();
  fields.push_back(Field(4, "Notes", ftBlob, 0, fstMemo));
  for (const char* companion : {"T.IDX", "T.BLB"}) {
    CreateTableAt(Path(), fields, SimpleIndexes());
    ASSERT_EQ(chmod(dir.PathOf(companion).c_str(), 0444), 0);
    TDataFile table;
    table.SetFileName(Path());
    table.Open();
    EXPECT_TRUE(table.ReadOnly()) << companion;
    table.Close();
    ASSERT_EQ(chmod(dir.PathOf(companion).c_str(), 0644), 0);
  }
}

TEST_F(DataFileCoreTest, SharedCursorWritesItsBlobBlocksWhenItCloses) {
  std::vector<TFieldDescriptor> fields = SimpleFields();
  fields.push_back(Field(4, "Notes", ftBlob, 0, fstMemo));
  CreateTableAt(Path(), fields, SimpleIndexes());
  {
    TDataFile table;
    table.SetFileName(Path());
    table.Open();
    TBlock& block = table.BlobFile().AllocBlock();
    block.PutData(0, 5, "kept!");
    table.Close();  // no record is dirty; the block still reaches the file
  }
  const std::string blobs = ReadWholeFile(dir.PathOf("T.BLB"));
  ASSERT_EQ(blobs.size(), 1024u);
  EXPECT_EQ(blobs.substr(512 + 18, 5), "kept!");
  EXPECT_EQ(LoadI32(reinterpret_cast<const std::uint8_t*>(blobs.data()) + 13), 1024);  // end offset
}

TEST_F(DataFileCoreTest, HeaderLockHeldByAnotherProcessGivesUpWithGeneralLockFailure) {
  CreateTableAt(Path(), SimpleFields(), SimpleIndexes());
  int locked[2];
  int release[2];
  ASSERT_EQ(pipe(locked), 0);
  ASSERT_EQ(pipe(release), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int status = 1;
    try {
      TDataFile holder;
      holder.SetFileName(Path());
      holder.Open();
      holder.LockHeader();
      char byte = 1;
      if (write(locked[1], &byte, 1) == 1 && read(release[0], &byte, 1) == 1) status = 0;
      holder.UnlockHeader();
    } catch (...) {
      status = 1;
    }
    _exit(status);
  }
  char byte = 0;
  ASSERT_EQ(read(locked[0], &byte, 1), 1);
  TDataFile waiter;
  waiter.SetFileName(Path());
  waiter.Open();
  waiter.SetHeaderLockTiming(1, 3);
  EXPECT_EQ(CodeOf([&] { waiter.LockHeader(); }), ec::GeneralLockFailure);
  ASSERT_EQ(write(release[1], &byte, 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (int fd : {locked[0], locked[1], release[0], release[1]}) close(fd);
  waiter.LockHeader();
  waiter.UnlockHeader();
}

TEST_F(DataFileCoreTest, HeaderLockContentionGivesUpWithGeneralLockFailure) {
  CreateTableAt(Path(), SimpleFields(), SimpleIndexes());
  TDataFile holder;
  holder.SetFileName(Path());
  holder.Open();
  holder.LockHeader();
  TDataFile waiter;
  waiter.SetFileName(Path());
  waiter.Open();
  waiter.SetHeaderLockTiming(1, 3);
  EXPECT_EQ(CodeOf([&] { waiter.LockHeader(); }), ec::GeneralLockFailure);
  holder.UnlockHeader();
  waiter.LockHeader();
  waiter.UnlockHeader();
  EXPECT_EQ(CodeOf([&] { waiter.UnlockHeader(); }), ec::CannotUnlock);
}

TEST_F(DataFileCoreTest, AnotherProcessesChangeDropsTheRecordCache) {
  CreateTableAt(Path(), SimpleFields(), SimpleIndexes());
  TDataFile table;
  table.SetFileName(Path());
  table.Open();
  AppendRecord(table, 5);
  table.Flush();  // under the locks of a change
  ASSERT_EQ(IdOf(table, 1), 5);

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int status = 1;
    try {
      TDataFile other;
      other.SetFileName(Path());
      other.Open();
      std::int32_t id = 6;
      TRecord* record = other.FetchRecord(1);
      other.SetField(1, record->Buffer(), &id);
      record->SetDirty(true);
      AppendRecord(other, 9);
      other.Flush();
      other.Close();
      status = 0;
    } catch (...) {
    }
    _exit(status);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  EXPECT_EQ(IdOf(table, 1), 5);  // the cache still holds the old image
  table.CheckHeaderChanged();
  EXPECT_EQ(table.RecordCacheCount(), 0u);
  EXPECT_EQ(table.PhysicalRecordCount(), 2);
  EXPECT_EQ(IdOf(table, 1), 6);
  EXPECT_EQ(IdOf(table, 2), 9);
}

TEST_F(DataFileCoreTest, InMemoryRecordsWrittenOutOfOrderReachTheFile) {
  CreateTableAt(Path(), SimpleFields(), SimpleIndexes(), true);
  TDataFile table;
  table.SetInMemory(true);
  table.SetExclusive(true);
  table.SetFileName(Path());
  table.Open();
  for (int i = 1; i <= 5; ++i) AppendRecord(table, i);
  // Write the last record first: the memory file must be extended up to it, not stall.
  table.FlushRecords(false, table.FetchRecord(5));
  table.FlushRecords(true);
  table.DropRecordCache();
  for (int i = 1; i <= 5; ++i) EXPECT_EQ(IdOf(table, i), i);
}

TEST_F(DataFileCoreTest, LockedRecordList) {
  TDataFile table;
  table.AddLockedRecord(4);
  table.AddLockedRecord(9);
  table.AddLockedRecord(4);
  table.RemoveLockedRecord(4);
  EXPECT_TRUE(table.IsRecordLocked(4));
  EXPECT_TRUE(table.IsRecordLocked(9));
  table.RemoveLockedRecord(4);
  EXPECT_FALSE(table.IsRecordLocked(4));
  table.ClearLockedRecords();
  EXPECT_FALSE(table.IsRecordLocked(9));
}

TEST_F(DataFileCoreTest, SettingsAndInformationOfAClosedCursor) {
  TDataFile table;
  EXPECT_EQ(table.GetDescription(), "");
  EXPECT_EQ(table.GetPassword(), "");
  EXPECT_EQ(table.LastUpdated(), 0);
  EXPECT_FALSE(table.Encrypted());
  EXPECT_EQ(table.LockRetryCount(), 15);
  EXPECT_EQ(table.LockWaitTime(), 100);
  table.SetMemoryLog(true);
  EXPECT_TRUE(table.TransactionsInMemory());
  CreateTableAt(Path(), SimpleFields(), SimpleIndexes());
  table.SetFileName(Path());
  table.Open();
  EXPECT_EQ(CodeOf([&] { table.SetMemoryLog(false); }), ec::FileInUse);
  EXPECT_GT(table.LastUpdated(), 0);
}

}  // namespace
}  // namespace kavrin::engine
