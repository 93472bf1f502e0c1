// A change on a shared table whose files cannot grow (a full disk, the process's file size limit, a
// failed write) fails with 9218 and is not half made: the files hold what they held, the cursor has
// forgotten the change, and once space is free the same cursor makes it.
//
// Each case runs in a child process, so that the file size limit and the file hook stay there.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "engine/memory_files.h"
#include "platform/win_file.h"
#include "tests/engine/error_code_of.h"
#include "tests/engine/table_fixture.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/in_child.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine {
namespace {

using kavrin::testing::InChild;
using kavrin::testing::LimitFileSize;
using kavrin::testing::UnlimitFileSize;
using testing::Field;
using testing::Index;

constexpr std::int16_t kId = 1;
constexpr std::int16_t kName = 2;
constexpr std::int16_t kMemo = 3;

std::string MemoOf(std::int32_t id, std::size_t length) {
  return std::string(length, static_cast<char>('a' + id % 26));
}
std::string NameOf(std::int32_t id, int version) { return "n" + std::to_string(id) + "v" + std::to_string(version); }

struct TRow {
  std::string Name;
  std::string Memo;
  bool operator==(const TRow&) const = default;
};

void WriteRow(TDataFile& table, std::vector<std::uint8_t>& image, const std::string& name, const std::string& memo) {
  table.SetField(kName, image.data(), name.c_str());
  if (table.OpenBlob(kMemo, image.data()) != ec::Success) throw std::runtime_error("open blob");
  table.TruncateBlob(kMemo, image.data(), 0);
  if (!memo.empty()) table.WriteBlob(kMemo, image.data(), 0, static_cast<std::int32_t>(memo.size()), memo.data());
}

void Insert(TDataFile& table, std::int32_t id, const std::string& name, const std::string& memo) {
  std::vector<std::uint8_t> image(static_cast<std::size_t>(table.RecordSize()));
  table.InitRecord(image.data());
  table.SetField(kId, image.data(), &id);
  WriteRow(table, image, name, memo);
  try {
    table.InsertRecord(image.data());
  } catch (...) {
    table.CloseBlob(kMemo, image.data());
    throw;
  }
  table.CloseBlob(kMemo, image.data());
}

bool Find(TDataFile& table, std::int32_t id, std::vector<std::uint8_t>& image) {
  table.SelectIndex(0);
  table.InitRecord(image.data());
  table.SetField(kId, image.data(), &id);
  return table.FindKey(false, image.data(), image.data(), 0, false, 0);
}

void Update(TDataFile& table, std::int32_t id, const std::string& name, const std::string& memo) {
  std::vector<std::uint8_t> image(static_cast<std::size_t>(table.RecordSize()));
  if (!Find(table, id, image)) throw std::runtime_error("no record " + std::to_string(id));
  table.GetCurrent(image.data(), true);
  WriteRow(table, image, name, memo);
  try {
    table.UpdateRecord(image.data(), true);
  } catch (...) {
    table.CloseBlob(kMemo, image.data());
    throw;
  }
  table.CloseBlob(kMemo, image.data());
}

// Every record by its primary key, read through the cursor; each index must hold as many keys.
std::map<std::int32_t, TRow> Rows(TDataFile& table, std::string& problems) {
  std::map<std::int32_t, TRow> rows;
  std::vector<std::uint8_t> image(static_cast<std::size_t>(table.RecordSize()));
  for (std::uint8_t index = 0; index <= table.IndexCount(); ++index) {
    table.SelectIndex(index);
    table.GotoBOF();
    std::size_t count = 0;
    while (table.Next(image.data()) == ec::Success) {
      ++count;
      if (index != 0) continue;
      std::int32_t id = 0;
      bool isNull = true;
      table.GetField(kId, image.data(), isNull, &id);
      char name[21] = {};
      table.GetField(kName, image.data(), isNull, name);
      TRow row{name, {}};
      if (table.GetBlobReference(kMemo, image.data()) != 0) {
        std::int32_t size = 0, read = 0;
        if (table.OpenBlob(kMemo, image.data()) != ec::Success || table.BlobSize(kMemo, image.data(), size) != 0) {
          problems += "memo of " + std::to_string(id) + " does not open; ";
        }
        row.Memo.resize(static_cast<std::size_t>(size));
        table.ReadBlob(kMemo, image.data(), 0, size, row.Memo.data(), read);
        table.CloseBlob(kMemo, image.data());
      }
      rows[id] = row;
    }
    if (index != 0 && count != rows.size()) problems += "index " + std::to_string(index) + " holds another count; ";
  }
  table.SelectIndex(0);
  return rows;
}

std::vector<std::string> Files(const std::string& path) {
  const std::string base = path.substr(0, path.size() - 4);
  return {base + ".DAT", base + ".IDX", base + ".BLB"};
}

std::vector<std::string> Contents(const std::string& path) {
  std::vector<std::string> contents;
  for (const std::string& file : Files(path)) contents.push_back(kavrin::testing::ReadWholeFile(file));
  return contents;
}

// A record is mostly its unindexed padding, so the data file outgrows the index file.
void CreateTable(const std::string& path) {
  testing::CreateTableAt(path,
                         {Field(kId, "ID", ftInteger), Field(kName, "Name", ftString, 20),
                          Field(kMemo, "Memo", ftBlob, 0, fstMemo), Field(4, "Pad", ftString, 200)},
                         {Index("", {kId}, true), Index("ByName", {kName})});
}

enum class TFailure {
  ReservationRefused,     // the platform's reservation fails (the file hook)
  FileSizeLimit,          // RLIMIT_FSIZE at the largest file's size
  NoReservationAndLimit,  // the file system cannot reserve, and the size limit stops the growth
  WriteFails,             // the reservation works, the first write of the change fails
};

struct TCase {
  const char* Name;
  // Fills the new table (exclusive cursor); the largest file must be the one the change grows (a record
  // is mostly its unindexed padding, so the data file outgrows the index file).
  std::function<void(TDataFile&)> Fill;
  std::function<void(TDataFile&)> Change;
  std::function<void(std::map<std::int32_t, TRow>&)> Expect;  // the rows after the change
};

std::vector<TCase> Cases() {
  auto fewLongMemos = [](TDataFile& table) {
    for (std::int32_t id = 1; id <= 6; ++id) Insert(table, id, NameOf(id, 0), MemoOf(id, 3000));
  };
  return {
      {"insert appending a slot",
       [](TDataFile& table) {
         for (std::int32_t id = 1; id <= 300; ++id) Insert(table, id, NameOf(id, 0), "");
       },
       [](TDataFile& table) { Insert(table, 1000, NameOf(1000, 0), ""); },
       [](std::map<std::int32_t, TRow>& rows) {
         rows[1000] = {NameOf(1000, 0), ""};
       }},
      {"insert with a memo", fewLongMemos,
       [](TDataFile& table) { Insert(table, 1000, NameOf(1000, 0), MemoOf(1000, 4000)); },
       [](std::map<std::int32_t, TRow>& rows) {
         rows[1000] = {NameOf(1000, 0), MemoOf(1000, 4000)};
       }},
      {"update growing a memo", fewLongMemos, [](TDataFile& table) { Update(table, 2, NameOf(2, 1), MemoOf(2, 9000)); },
       [](std::map<std::int32_t, TRow>& rows) {
         rows[2] = {NameOf(2, 1), MemoOf(2, 9000)};
       }},
  };
}

// What went wrong in the child, or nothing.
std::string RunCase(const std::string& path, const TCase& change, TFailure failure) {
  std::string problems;
  TDataFile table;
  table.SetFileName(path);
  table.Open();
  const std::map<std::int32_t, TRow> before = Rows(table, problems);
  const std::vector<std::string> contents = Contents(path);
  std::size_t largest = 0;
  for (const std::string& bytes : contents) largest = std::max(largest, bytes.size());

  const bool limit = failure == TFailure::FileSizeLimit || failure == TFailure::NoReservationAndLimit;
  if (limit) LimitFileSize(largest);
  bool written = false;
  platform::SetFileFaultHook([&](platform::FileOp op, const std::string&) -> platform::DWORD {
    switch (failure) {
      case TFailure::ReservationRefused: return op == platform::FileOp::Reserve ? platform::ERROR_DISK_FULL : 0;
      case TFailure::NoReservationAndLimit: return op == platform::FileOp::Reserve ? platform::ERROR_NOT_SUPPORTED : 0;
      case TFailure::WriteFails:
        if (op != platform::FileOp::Write || written) return 0;
        written = true;
        return platform::ERROR_DISK_FULL;
      case TFailure::FileSizeLimit: break;
    }
    return 0;
  });
  const TErrorCode code = testing::ErrorCodeOf([&] { change.Change(table); });
  platform::SetFileFaultHook(nullptr);
  if (limit) UnlimitFileSize();

  if (code != ec::WriteError) problems += "the change answered " + std::to_string(code) + "; ";
  if (Contents(path) != contents) problems += "the files changed; ";
  if (Rows(table, problems) != before) problems += "the cursor kept the change; ";

  // Space again: the same cursor makes the change and goes on working.
  const TErrorCode retried = testing::ErrorCodeOf([&] { change.Change(table); });
  if (retried != 0) problems += "the change after the failure answered " + std::to_string(retried) + "; ";
  std::map<std::int32_t, TRow> expected = before;
  change.Expect(expected);
  if (Rows(table, problems) != expected) problems += "the change is not there; ";
  const TErrorCode next = testing::ErrorCodeOf([&] { Insert(table, 2000, "later", MemoOf(2000, 700)); });
  if (next != 0) problems += "a later insert answered " + std::to_string(next) + "; ";
  table.Close();
  return problems;
}

TEST(FullDisk, AFailedChangeIsNotHalfMadeAndTheCursorWorksOnceSpaceIsFree) {
  const std::vector<std::pair<TFailure, const char*>> failures{
      {TFailure::ReservationRefused, "reservation refused"},
      {TFailure::FileSizeLimit, "file size limit"},
      {TFailure::NoReservationAndLimit, "no reservation, file size limit"},
      {TFailure::WriteFails, "write fails"},
  };
  for (const TCase& change : Cases()) {
    for (const auto& [failure, failureName] : failures) {
      SCOPED_TRACE(std::string(change.Name) + ", " + failureName);
      MemoryFiles().Clear();
      kavrin::testing::TempDir dir;
      const std::string path = dir.PathOf("FULL.DAT");
      CreateTable(path);
      {
        TDataFile table;
        table.SetFileName(path);
        table.SetExclusive(true);
        table.Open();
        change.Fill(table);
      }
      const std::string problems = InChild([&, kind = failure] { return RunCase(path, change, kind); });
      EXPECT_EQ(problems, "");

      // Another process finds the table whole.
      TDataFile table;
      table.SetFileName(path);
      table.Open();
      std::string found;
      const std::map<std::int32_t, TRow> rows = Rows(table, found);
      EXPECT_EQ(found, "");
      EXPECT_EQ(rows.count(2000), 1u);
    }
  }
}

// An exclusive cursor's changes reach the files at Flush: a Flush that cannot have the space fails
// with the files as they were and keeps the changes, which the next Flush writes.
TEST(FullDisk, AnExclusiveFlushWithoutSpaceKeepsItsChangesForTheNext) {
  MemoryFiles().Clear();
  kavrin::testing::TempDir dir;
  const std::string path = dir.PathOf("FULL.DAT");
  CreateTable(path);
  TDataFile table;
  table.SetFileName(path);
  table.SetExclusive(true);
  table.Open();
  for (std::int32_t id = 1; id <= 40; ++id) Insert(table, id, NameOf(id, 0), MemoOf(id, 600));
  const std::vector<std::string> contents = Contents(path);
  platform::SetFileFaultHook([](platform::FileOp op, const std::string&) -> platform::DWORD {
    return op == platform::FileOp::Reserve ? platform::ERROR_DISK_FULL : 0;
  });
  EXPECT_EQ(testing::ErrorCodeOf([&] { table.Flush(); }), ec::WriteError);
  platform::SetFileFaultHook(nullptr);
  EXPECT_EQ(Contents(path), contents);
  EXPECT_EQ(testing::ErrorCodeOf([&] { table.Flush(); }), 0);
  table.Close();

  table.SetExclusive(false);
  table.Open();
  std::string problems;
  const std::map<std::int32_t, TRow> rows = Rows(table, problems);
  EXPECT_EQ(problems, "");
  ASSERT_EQ(rows.size(), 40u);
  EXPECT_EQ(rows.at(40), (TRow{NameOf(40, 0), MemoOf(40, 600)}));
}

// An exclusive cursor whose close cannot write (the file size limit stops the data file's growth) stays
// open with its changes and raises 9218; it closes once there is room, or lets go without writing.
TEST(FullDisk, AnExclusiveCloseWithoutSpaceStaysOpenWithItsChanges) {
  enum class TEnd { CloseAgain, CloseWithoutWriting, Destructor };
  const struct {
    const char* Name;
    TEnd End;
    std::size_t Rows;  // what another cursor finds afterwards
  } ends[] = {
      {"closed again once there is room", TEnd::CloseAgain, 40},
      {"closed without writing", TEnd::CloseWithoutWriting, 10},
      {"let go by the destructor", TEnd::Destructor, 10},
  };
  for (const auto& end : ends) {
    SCOPED_TRACE(end.Name);
    MemoryFiles().Clear();
    kavrin::testing::TempDir dir;
    const std::string path = dir.PathOf("FULL.DAT");
    CreateTable(path);
    {
      TDataFile table;
      table.SetFileName(path);
      table.Open();
      for (std::int32_t id = 1; id <= 10; ++id) Insert(table, id, NameOf(id, 0), MemoOf(id, 600));
    }
    const std::string problems = InChild([&] {
      std::string problems;
      auto table = std::make_unique<TDataFile>();
      table->SetFileName(path);
      table->SetExclusive(true);
      table->Open();
      for (std::int32_t id = 11; id <= 40; ++id) Insert(*table, id, NameOf(id, 0), MemoOf(id, 600));
      const std::vector<std::string> contents = Contents(path);

      LimitFileSize(contents[0].size());
      for (int attempt = 1; attempt <= 2; ++attempt) {
        const TErrorCode code = testing::ErrorCodeOf([&] { table->Close(); });
        if (code != ec::WriteError)
          problems += "close " + std::to_string(attempt) + " answered " + std::to_string(code) + "; ";
        if (!table->Opened()) return problems + "the cursor closed; ";
      }
      if (Contents(path) != contents) problems += "the failed close wrote; ";
      if (Rows(*table, problems).size() != 40) problems += "the cursor lost its changes; ";
      UnlimitFileSize();

      switch (end.End) {
        case TEnd::CloseAgain: {
          const TErrorCode code = testing::ErrorCodeOf([&] { table->Close(); });
          if (code != 0) problems += "the close with room answered " + std::to_string(code) + "; ";
          break;
        }
        case TEnd::CloseWithoutWriting:
          table->CloseWithoutWriting();
          if (Contents(path) != contents) problems += "closing without writing wrote; ";
          break;
        case TEnd::Destructor:
          LimitFileSize(contents[0].size());  // still no room when the destructor runs
          table.reset();
          UnlimitFileSize();
          if (Contents(path) != contents) problems += "the destructor wrote; ";
          break;
      }
      if (table && table->Opened()) problems += "the cursor is still open; ";
      return problems;
    });
    EXPECT_EQ(problems, "");

    // Another cursor finds the table whole, with the changes only when they were written.
    TDataFile table;
    table.SetFileName(path);
    table.Open();
    std::string found;
    const std::map<std::int32_t, TRow> rows = Rows(table, found);
    EXPECT_EQ(found, "");
    EXPECT_EQ(rows.size(), end.Rows);
    const auto last = static_cast<std::int32_t>(end.Rows);
    ASSERT_EQ(rows.count(last), 1u);
    EXPECT_EQ(rows.at(last), (TRow{NameOf(last, 0), MemoOf(last, 600)}));
  }
}

// A write that fails anywhere in a change (not only for want of space): the cursor forgets what it
// had cached, reads the headers again, and its later changes work.
TEST(FullDisk, AfterAnyFailedWriteTheCursorWorksAgain) {
  for (const TCase& change : Cases()) {
    bool finished = false;
    for (int failAt = 1; !finished && failAt < 200; ++failAt) {
      SCOPED_TRACE(std::string(change.Name) + ", write " + std::to_string(failAt) + " fails");
      MemoryFiles().Clear();
      kavrin::testing::TempDir dir;
      const std::string path = dir.PathOf("FULL.DAT");
      CreateTable(path);
      {
        TDataFile table;
        table.SetFileName(path);
        table.SetExclusive(true);
        table.Open();
        change.Fill(table);
      }
      TDataFile table;
      table.SetFileName(path);
      table.Open();
      int writes = 0;
      platform::SetFileFaultHook([&](platform::FileOp op, const std::string&) -> platform::DWORD {
        return op == platform::FileOp::Write && ++writes == failAt ? platform::ERROR_DISK_FULL : 0;
      });
      const TErrorCode code = testing::ErrorCodeOf([&] { change.Change(table); });
      platform::SetFileFaultHook(nullptr);
      finished = code == 0;
      if (!finished) {
        EXPECT_EQ(code, ec::WriteError);
      }
      EXPECT_EQ(testing::ErrorCodeOf([&] { Insert(table, 2000, "later", MemoOf(2000, 700)); }), 0);
      EXPECT_EQ(testing::ErrorCodeOf([&] { Update(table, 1, NameOf(1, 5), MemoOf(1, 100)); }), 0);
      std::vector<std::uint8_t> image(static_cast<std::size_t>(table.RecordSize()));
      ASSERT_TRUE(Find(table, 3, image));
      EXPECT_EQ(testing::ErrorCodeOf([&] { table.DeleteRecord(); }), 0);
      table.Close();
      if (HasFailure()) return;
    }
    EXPECT_TRUE(finished);
  }
}

}  // namespace
}  // namespace kavrin::engine
