// A process that changes a table dies at any moment (SIGKILL, as a crash or a power cut of the process
// would leave it): the table must open again, or repair must make it open, without losing a record
// whose insert had returned; a restructure that dies leaves the old table or the new one with backups.
//
// Moments are chosen two ways: a random delay before the kill, and a random file operation of the
// child before which it kills itself (so every step, each rename of a restructure included, is hit).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/blob_file.h"
#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "engine/memory_files.h"
#include "platform/win_file.h"
#include "tests/engine/table_fixture.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine {
namespace {

using testing::Field;
using testing::Index;
namespace fs = std::filesystem;

// Enough runs for CI; KAVRIN_CRASH_RUNS multiplies them and KAVRIN_CRASH_SEED picks other moments, by hand.
int RunsOf(int runs) {
  const char* factor = std::getenv("KAVRIN_CRASH_RUNS");
  return factor ? runs * std::max(1, std::atoi(factor)) : runs;
}
std::uint32_t Seed() {
  const char* seed = std::getenv("KAVRIN_CRASH_SEED");
  return seed ? static_cast<std::uint32_t>(std::strtoul(seed, nullptr, 10)) : 20261210u;
}
constexpr int kWriterRuns = 60;
constexpr int kTransactionWriterRuns = 40;
constexpr int kRestructureRuns = 40;
constexpr std::int32_t kMaxInserts = 1500;  // a child that is not killed in time stops here
constexpr std::int32_t kRestructuredRecords = 120;

// ID integer (primary), Code integer (unique ByCode), Tag string 8 (ByTag), Count integer, Notes memo.
std::vector<TFieldDescriptor> WriterFields() {
  return {Field(1, "ID", ftInteger), Field(2, "Code", ftInteger), Field(3, "Tag", ftString, 8),
          Field(4, "Count", ftInteger), Field(5, "Notes", ftBlob, 0, fstMemo)};
}
std::vector<TIndexDescriptor> WriterIndexes() {
  return {Index("", {1}, true), Index("ByCode", {2}, true), Index("ByTag", {3})};
}

// A record's memo is one letter, its own, in every version: a crash may leave old and new blocks mixed,
// but never another record's letters.
char MemoLetter(std::int32_t id) { return static_cast<char>('a' + id % 26); }
std::string Memo(std::int32_t id, std::int32_t version) {
  return std::string(static_cast<std::size_t>((id * 7 + version * 13) % 300), MemoLetter(id));
}

// Kills the calling process just before its n-th file operation from now.
void KillBeforeFileOperation(std::int64_t n) {
  auto count = std::make_shared<std::int64_t>(0);
  platform::SetFileFaultHook([n, count](platform::FileOp, const std::string&) -> platform::DWORD {
    if (++*count == n) raise(SIGKILL);
    return 0;
  });
}

// Kills the calling process just before the n-th of its file operations from now that change a file. A
// kill before a read or a seek leaves the files as the kill before the next change does, so these kills
// give every state a crash can leave.
void KillBeforeFileChange(std::int64_t n) {
  auto count = std::make_shared<std::int64_t>(0);
  platform::SetFileFaultHook([n, count](platform::FileOp op, const std::string&) -> platform::DWORD {
    if (op != platform::FileOp::Read && op != platform::FileOp::Seek && op != platform::FileOp::Open && ++*count == n) {
      raise(SIGKILL);
    }
    return 0;
  });
}

void SetInteger(TDataFile& table, std::uint8_t* image, std::int16_t number, std::int32_t value) {
  table.SetField(number, image, &value);
}

std::int32_t GetInteger(TDataFile& table, const std::uint8_t* image, std::int16_t number) {
  std::int32_t value = 0;
  bool isNull = true;
  table.GetField(number, image, isNull, &value);
  return value;
}

std::string ReadMemo(TDataFile& table, std::uint8_t* image, std::int16_t number) {
  if (table.OpenBlob(number, image) != 0) return "<blob error>";
  std::int32_t size = 0;
  table.BlobSize(number, image, size);
  std::string text(static_cast<std::size_t>(size), '\0');
  std::int32_t read = 0;
  table.ReadBlob(number, image, 0, size, text.data(), read);
  table.CloseBlob(number, image);
  return text;
}

void WriteMemo(TDataFile& table, std::uint8_t* image, std::int16_t number, const std::string& text) {
  if (table.OpenBlob(number, image) != 0) throw std::runtime_error("open blob");
  table.TruncateBlob(number, image, 0);
  table.WriteBlob(number, image, 0, static_cast<std::int32_t>(text.size()), text.data());
}

// The blocks that a chain's links reach from its first block, as far as they lead to block offsets not
// seen before: what a load or a change of the chain may touch.
std::vector<std::int32_t> LinkedBlocks(TBlobFile& blobs, std::int64_t first) {
  std::vector<std::int32_t> blocks;
  std::set<std::int64_t> seen;
  for (std::int64_t at = first; at != 0 && blobs.IsBlockOffset(at) && seen.insert(at).second;
       at = blobs.GetBlock(static_cast<std::int32_t>(at)).Next()) {
    blocks.push_back(static_cast<std::int32_t>(at));
  }
  return blocks;
}

// What a process finds that opens the shared table after the crash without repair, as every other user
// of a shared table does: no block that a live record's chain reaches is on the free list (the next
// allocation would hand it out while in use), and no block is in the chains of two records.
::testing::AssertionResult NoNamedBlockIsFree(const std::string& path) {
  TDataFile table;
  table.SetFileName(path);
  table.Open();
  TBlobFile& blobs = table.BlobFile();
  std::map<std::int32_t, std::int32_t> namedBy;
  for (std::int32_t n = 1; n <= table.PhysicalRecordCount(); ++n) {
    for (const std::int32_t first : table.RecordBlobReferences(n)) {
      for (const std::int32_t block : LinkedBlocks(blobs, first)) {
        const auto [at, added] = namedBy.emplace(block, n);
        if (!added && at->second != n) {
          return ::testing::AssertionFailure()
                 << "block " << block << " is in the chains of records " << at->second << " and " << n;
        }
      }
    }
  }
  for (const std::int32_t block : LinkedBlocks(blobs, blobs.Header().FreeBlockHead)) {
    if (namedBy.count(block) != 0) {
      return ::testing::AssertionFailure() << "free block " << block << " is in the chain of record " << namedBy[block];
    }
  }
  return ::testing::AssertionSuccess();
}

// What the child tells the parent, one message per step, written only after the step's call returned
// (or, for the start of an update, before it is made).
// In a transaction every record is reported as touched before its change, and its insert only once
// the commit returned; a transaction cut off by the kill leaves all it touched in flight.
enum TReportKind : std::int32_t {
  kInserted = 1,
  kUpdateStarted = 2,
  kUpdated = 3,
  kTransactionBegun = 4,
  kTouched = 5,
  kTransactionEnded = 6,
};
struct TReport {
  std::int32_t Kind;
  std::int32_t ID;
};

void Report(int fd, TReportKind kind, std::int32_t id) {
  const TReport report{kind, id};
  if (write(fd, &report, sizeof report) != sizeof report) _exit(4);
}

// What the parent learned: the inserts that returned, and the records whose change may have been cut
// off by the kill (their blobs may hold old and new blocks, or blocks of others whose payload was not
// yet written over).
struct TReports {
  std::set<std::int32_t> Inserted;
  std::set<std::int32_t> InFlight;
  int TransactionsEnded = 0;

  static TReports Read(int fd) {
    TReports reports;
    std::int32_t lastInsert = 0;
    std::int32_t openUpdate = 0;
    std::set<std::int32_t> transaction;
    bool inTransaction = false;
    TReport report;
    while (read(fd, &report, sizeof report) == sizeof report) {
      if (report.Kind == kInserted) {
        reports.Inserted.insert(report.ID);
        lastInsert = std::max(lastInsert, report.ID);
      }
      if (report.Kind == kTransactionBegun) inTransaction = true;
      if (report.Kind == kTransactionEnded) {
        ++reports.TransactionsEnded;
        inTransaction = false;
        transaction.clear();
      }
      if (report.Kind == kTouched) {
        transaction.insert(report.ID);
        lastInsert = std::max(lastInsert, report.ID);
      }
      if (report.Kind == kUpdateStarted || report.Kind == kUpdated) {
        openUpdate = report.Kind == kUpdateStarted ? report.ID : 0;
        if (inTransaction) transaction.insert(report.ID);
      }
    }
    reports.InFlight.insert(lastInsert + 1);
    if (openUpdate != 0) reports.InFlight.insert(openUpdate);
    if (inTransaction) reports.InFlight.insert(transaction.begin(), transaction.end());
    return reports;
  }
};

// The child: inserts records 1, 2, ... into the shared table and updates an earlier record after every
// second insert, reporting each step. With transactions, every five records are one transaction,
// committed or rolled back, and every third record an insert of a taken code must fail with 9729.
[[noreturn]] void RunWriter(const std::string& path, int reportFd, std::uint32_t seed, std::int64_t killAtOperation,
                            bool transactions = false) {
  try {
    if (killAtOperation > 0) KillBeforeFileOperation(killAtOperation);
    std::mt19937 random(seed);
    TDataFile table;
    table.SetFileName(path);
    table.SetRetryCount(100);
    table.SetRetryWait(1);
    table.Open();
    std::vector<std::uint8_t> image(static_cast<std::size_t>(table.RecordSize()));
    std::vector<std::int32_t> versions{0};
    std::vector<std::int32_t> live;     // records that exist now, those of an open transaction included
    std::vector<std::int32_t> pending;  // inserted in the open transaction
    for (std::int32_t id = 1; id <= kMaxInserts; ++id) {
      if (transactions && id % 5 == 1) {
        table.StartTransaction();
        Report(reportFd, kTransactionBegun, id);
      }
      if (table.InTransaction()) Report(reportFd, kTouched, id);
      table.InitRecord(image.data());
      SetInteger(table, image.data(), 1, id);
      SetInteger(table, image.data(), 2, id * 10);
      table.SetField(3, image.data(), ("t" + std::to_string(id % 7)).c_str());
      SetInteger(table, image.data(), 4, 0);
      WriteMemo(table, image.data(), 5, Memo(id, 0));
      table.InsertRecord(image.data());
      table.CloseBlob(5, image.data());
      versions.push_back(0);
      live.push_back(id);
      if (table.InTransaction()) {
        pending.push_back(id);
      } else {
        Report(reportFd, kInserted, id);
      }
      if (transactions && id % 3 == 0) {
        // Another record with this record's code: refused, and nothing of it stays.
        table.InitRecord(image.data());
        SetInteger(table, image.data(), 1, -id);
        SetInteger(table, image.data(), 2, id * 10);
        bool refused = false;
        try {
          table.InsertRecord(image.data());
        } catch (const EDBEngineError& error) {
          refused = error.Code() == ec::KeyViolation;
        }
        if (!refused) _exit(7);
      }
      if (id % 2 == 0) {
        const std::int32_t target = live[std::uniform_int_distribution<std::size_t>(0, live.size() - 1)(random)];
        const std::int32_t version = ++versions[static_cast<std::size_t>(target)];
        Report(reportFd, kUpdateStarted, target);
        table.SelectIndex(0);
        table.InitRecord(image.data());
        SetInteger(table, image.data(), 1, target);
        if (!table.FindKey(false, image.data(), nullptr, 0, false, 0)) _exit(5);
        if (table.GetCurrent(image.data(), true) != ec::Success) _exit(6);
        // The code stays unique: this record's own, with a digit of its version behind it.
        SetInteger(table, image.data(), 2, target * 10 + version % 10);
        table.SetField(3, image.data(), ("u" + std::to_string(version % 5)).c_str());
        SetInteger(table, image.data(), 4, version);
        WriteMemo(table, image.data(), 5, Memo(target, version));
        table.UpdateRecord(image.data(), true);
        table.CloseBlob(5, image.data());
        Report(reportFd, kUpdated, target);
      }
      if (table.InTransaction() && id % 5 == 0) {
        if (random() % 2 == 0) {
          table.Commit();
          for (const std::int32_t inserted : pending) Report(reportFd, kInserted, inserted);
        } else {
          table.Rollback();
          for (const std::int32_t inserted : pending) live.erase(std::find(live.begin(), live.end(), inserted));
        }
        pending.clear();
        Report(reportFd, kTransactionEnded, id);
      }
    }
    table.Close();
    _exit(0);
  } catch (const EDBEngineError& error) {
    std::fprintf(stderr, "writer: engine error %u\n", static_cast<unsigned>(error.Code()));
    _exit(3);
  } catch (...) {
    _exit(3);
  }
}

class CrashTest : public ::testing::Test {
 protected:
  void SetUp() override { MemoryFiles().Clear(); }
  void TearDown() override { platform::SetFileFaultHook(nullptr); }

  std::string FreshDirectory(const std::string& name) {
    const std::string path = dir.PathOf(name);
    fs::create_directory(path);
    return path;
  }

  // Three records with memos in a new folder, the first deleted, so that its blocks lie on the free list
  // while the others' chains are in use.
  std::string BlobTableWithAFreedChain(const std::string& name);

  void RunKilledWriters(int runs, bool transactions);

  kavrin::testing::TempDir dir;
  std::mt19937 random{Seed()};
};

// Waits for the child; true when it was killed or finished normally.
::testing::AssertionResult EndedByKillOrFinished(pid_t child) {
  int status = 0;
  if (waitpid(child, &status, 0) != child) return ::testing::AssertionFailure() << "waitpid";
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) return ::testing::AssertionSuccess();
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "child ended with status " << status;
}

// After repair: every index holds exactly the live records, each reported insert is there once, and each
// memo loads; a memo no cut-off change touched holds only its own record's letter.
void ExpectConsistentAfterRepair(const std::string& path, const TReports& reports) {
  TDataFile table;
  table.SetExclusive(true);
  table.SetFileName(path);
  table.RepairTable();
  table.Open();
  std::map<std::int32_t, int> seen;
  std::vector<std::int32_t> scanned;
  for (std::int32_t n = 1; n <= table.PhysicalRecordCount(); ++n) {
    const TRecord* record = table.FetchRecord(n);
    std::vector<std::uint8_t> image(record->Buffer(), record->Buffer() + record->BufferSize());
    if (image[0] != 0) continue;
    const std::int32_t id = GetInteger(table, image.data(), 1);
    ++seen[id];
    scanned.push_back(TDataFile::GetUniqueID(image.data()));
    const std::string memo = ReadMemo(table, image.data(), 5);
    EXPECT_NE(memo, "<blob error>") << "record " << id;
    if (reports.InFlight.count(id) != 0) continue;
    EXPECT_TRUE(std::all_of(memo.begin(), memo.end(), [&](char c) { return c == MemoLetter(id); }))
        << "record " << id << " holds " << memo.substr(0, 20);
  }
  for (const std::int32_t id : reports.Inserted) EXPECT_EQ(seen[id], 1) << "record " << id;
  std::sort(scanned.begin(), scanned.end());
  for (std::uint8_t index = 0; index <= table.IndexCount(); ++index) {
    table.SelectIndex(index);
    std::vector<std::int32_t> walked;
    std::vector<std::uint8_t> image(static_cast<std::size_t>(table.RecordSize()));
    table.GotoBOF();
    while (table.Next(image.data()) == ec::Success) walked.push_back(TDataFile::GetUniqueID(image.data()));
    std::sort(walked.begin(), walked.end());
    EXPECT_EQ(walked, scanned) << "index " << int(index);
  }
  table.Close();

  // Shared use goes on: another insert succeeds.
  TDataFile shared;
  shared.SetFileName(path);
  shared.Open();
  std::vector<std::uint8_t> image(static_cast<std::size_t>(shared.RecordSize()));
  shared.InitRecord(image.data());
  SetInteger(shared, image.data(), 1, kMaxInserts + 1);
  SetInteger(shared, image.data(), 2, -1);
  shared.InsertRecord(image.data());
}

void CrashTest::RunKilledWriters(int runs, bool transactions) {
  std::size_t openedWithoutRepair = 0;
  std::size_t returnedTotal = 0;
  int transactionsEnded = 0;
  for (int run = 0; run < runs; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    const std::string path = FreshDirectory((transactions ? "t" : "w") + std::to_string(run)) + "/SHARED.DAT";
    testing::CreateTableAt(path, WriterFields(), WriterIndexes(), false, "", 128);
    const bool byOperation = run % 2 == 1;
    const auto killAt = byOperation ? std::uniform_int_distribution<std::int64_t>(1, 6000)(random) : 0;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const std::uint32_t seed = random();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(fds[0]);
      RunWriter(path, fds[1], seed, killAt, transactions);
    }
    close(fds[1]);
    if (!byOperation) {
      usleep(std::uniform_int_distribution<useconds_t>(0, 30000)(random));
      kill(child, SIGKILL);
    }
    ASSERT_TRUE(EndedByKillOrFinished(child));
    const TReports reports = TReports::Read(fds[0]);
    close(fds[0]);
    returnedTotal += reports.Inserted.size();
    transactionsEnded += reports.TransactionsEnded;
    const std::size_t openedBefore = openedWithoutRepair;

    try {
      TDataFile probe;
      probe.SetFileName(path);
      probe.Open();
      ++openedWithoutRepair;
    } catch (const EDBEngineError&) {
      // Repair below has to make it open.
    }
    // Other processes go on without repair: the free list offers no block in use, and an insert with
    // a memo either takes only free blocks or is refused (the change cut off may be half made).
    if (openedWithoutRepair == openedBefore + 1) {
      ASSERT_TRUE(NoNamedBlockIsFree(path));
      try {
        TDataFile goingOn;
        goingOn.SetFileName(path);
        goingOn.Open();
        std::vector<std::uint8_t> image(static_cast<std::size_t>(goingOn.RecordSize()));
        goingOn.InitRecord(image.data());
        SetInteger(goingOn, image.data(), 1, kMaxInserts + 2);
        SetInteger(goingOn, image.data(), 2, -2);
        WriteMemo(goingOn, image.data(), 5, Memo(kMaxInserts + 2, 0));
        goingOn.InsertRecord(image.data());
      } catch (const EDBEngineError&) {
      }
      ASSERT_TRUE(NoNamedBlockIsFree(path));
    }
    ExpectConsistentAfterRepair(path, reports);
    if (HasFailure()) break;
  }
  RecordProperty("OpenedWithoutRepair", static_cast<int>(openedWithoutRepair));
  EXPECT_GT(returnedTotal, 0u) << "the children must have got some work done";
  if (transactions) {
    EXPECT_GT(transactionsEnded, runs) << "the children must have ended transactions";
  }
  std::printf("[ crash    ] %d runs: %zu inserts returned, %d transactions ended\n", runs, returnedTotal,
              transactionsEnded);
}

TEST_F(CrashTest, KilledWriterLosesNoReturnedInsert) { RunKilledWriters(RunsOf(kWriterRuns), false); }

// Transactions committed and rolled back, and refused inserts of taken codes, among the changes.
TEST_F(CrashTest, KilledWriterInTransactionsLosesNoCommittedInsert) {
  RunKilledWriters(RunsOf(kTransactionWriterRuns), true);
}

// A change that reuses a deleted record's slot and its freed blocks, killed before each of its file
// writes in turn: after repair no record holds the deleted record's letters (its freed blocks still hold them, and name
// the same slot as owner).
TEST_F(CrashTest, AKilledChangeInAReusedSlotNeverHoldsTheDeletedRecordsBlob) {
  struct TCase {
    const char* Name;
    // The shared table after its record 1 (a three-block memo) was deleted.
    std::function<void(TDataFile&, std::vector<std::uint8_t>&)> Prepare;
    std::function<void(TDataFile&, std::vector<std::uint8_t>&)> Change;
  };
  auto insert = [](TDataFile& table, std::vector<std::uint8_t>& image, std::int32_t id, const std::string& memo) {
    table.InitRecord(image.data());
    SetInteger(table, image.data(), 1, id);
    SetInteger(table, image.data(), 2, id * 10);
    if (!memo.empty()) WriteMemo(table, image.data(), 5, memo);
    table.InsertRecord(image.data());
    if (!memo.empty()) table.CloseBlob(5, image.data());
  };
  auto findForUpdate = [](TDataFile& table, std::vector<std::uint8_t>& image, std::int32_t id) {
    table.SelectIndex(0);
    table.InitRecord(image.data());
    SetInteger(table, image.data(), 1, id);
    if (!table.FindKey(false, image.data(), nullptr, 0, false, 0)) _exit(5);
    if (table.GetCurrent(image.data(), true) != ec::Success) _exit(6);
  };
  const std::string longMemo(300, MemoLetter(3));
  const std::vector<TCase> cases{
      {"insert", [](TDataFile&, std::vector<std::uint8_t>&) {},
       [&](TDataFile& table, std::vector<std::uint8_t>& image) { insert(table, image, 3, longMemo); }},
      {"update adding a memo", [&](TDataFile& table, std::vector<std::uint8_t>& image) { insert(table, image, 3, ""); },
       [&](TDataFile& table, std::vector<std::uint8_t>& image) {
         findForUpdate(table, image, 3);
         WriteMemo(table, image.data(), 5, longMemo);
         table.UpdateRecord(image.data(), true);
       }},
      {"update growing a memo",
       [&](TDataFile& table, std::vector<std::uint8_t>& image) {
         insert(table, image, 3, std::string(40, MemoLetter(3)));
       },
       [&](TDataFile& table, std::vector<std::uint8_t>& image) {
         findForUpdate(table, image, 3);
         WriteMemo(table, image.data(), 5, longMemo);
         table.UpdateRecord(image.data(), true);
       }},
  };
  for (std::size_t number = 0; number < cases.size(); ++number) {
    const TCase& change = cases[number];
    bool finished = false;
    for (std::int64_t killAt = 1; !finished && killAt < 200; ++killAt) {
      SCOPED_TRACE(std::string(change.Name) + ", killed before write " + std::to_string(killAt));
      const std::string path =
          FreshDirectory("reuse" + std::to_string(number) + "-" + std::to_string(killAt)) + "/SHARED.DAT";
      testing::CreateTableAt(path, WriterFields(), WriterIndexes(), false, "", 128);
      {
        TDataFile table;
        table.SetFileName(path);
        table.Open();
        std::vector<std::uint8_t> image(static_cast<std::size_t>(table.RecordSize()));
        insert(table, image, 1, std::string(300, MemoLetter(1)));
        insert(table, image, 2, std::string(20, MemoLetter(2)));
        findForUpdate(table, image, 1);
        table.DeleteRecord();
        change.Prepare(table, image);
      }
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        try {
          TDataFile table;
          table.SetFileName(path);
          table.Open();
          std::vector<std::uint8_t> image(static_cast<std::size_t>(table.RecordSize()));
          // Only writes change what a crash leaves; the kill comes before each of them in turn.
          auto writes = std::make_shared<std::int64_t>(0);
          platform::SetFileFaultHook([killAt, writes](platform::FileOp op, const std::string&) -> platform::DWORD {
            if ((op == platform::FileOp::Write || op == platform::FileOp::Truncate) && ++*writes == killAt) {
              raise(SIGKILL);
            }
            return 0;
          });
          change.Change(table, image);
          platform::SetFileFaultHook(nullptr);
        } catch (...) {
          _exit(3);
        }
        _exit(0);
      }
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << status;
      finished = WIFEXITED(status);

      TDataFile table;
      table.SetExclusive(true);
      table.SetFileName(path);
      table.RepairTable();
      table.Open();
      for (std::int32_t n = 1; n <= table.PhysicalRecordCount(); ++n) {
        std::vector<std::uint8_t> image(table.FetchRecord(n)->Buffer(),
                                        table.FetchRecord(n)->Buffer() + table.RecordSize());
        if (image[0] != 0) continue;
        const std::int32_t id = GetInteger(table, image.data(), 1);
        const std::string memo = ReadMemo(table, image.data(), 5);
        // Its own old and new bytes may be mixed (a block header written before its payload); never
        // another record's.
        EXPECT_TRUE(std::all_of(memo.begin(), memo.end(), [&](char c) { return c == MemoLetter(id) || c == 0; }))
            << "record " << id << " holds " << memo;
      }
      if (HasFailure()) return;
    }
    EXPECT_TRUE(finished) << change.Name;
  }
}

// The shared table's records as the tests below make them.
void InsertWithMemo(TDataFile& table, std::vector<std::uint8_t>& image, std::int32_t id, const std::string& memo,
                    std::int32_t count = 0) {
  table.InitRecord(image.data());
  SetInteger(table, image.data(), 1, id);
  SetInteger(table, image.data(), 2, id * 10);
  SetInteger(table, image.data(), 4, count);
  if (!memo.empty()) WriteMemo(table, image.data(), 5, memo);
  table.InsertRecord(image.data());
  if (!memo.empty()) table.CloseBlob(5, image.data());
}

// Makes the record with this ID current and its image the record, locked; false when there is none.
bool FindRecord(TDataFile& table, std::vector<std::uint8_t>& image, std::int32_t id) {
  table.SelectIndex(0);
  table.InitRecord(image.data());
  SetInteger(table, image.data(), 1, id);
  if (!table.FindKey(false, image.data(), nullptr, 0, false, 0)) return false;
  return table.GetCurrent(image.data(), true) == ec::Success;
}

std::string CrashTest::BlobTableWithAFreedChain(const std::string& name) {
  const std::string path = FreshDirectory(name) + "/SHARED.DAT";
  testing::CreateTableAt(path, WriterFields(), WriterIndexes(), false, "", 128);
  TDataFile table;
  table.SetFileName(path);
  table.Open();
  std::vector<std::uint8_t> image(static_cast<std::size_t>(table.RecordSize()));
  InsertWithMemo(table, image, 1, std::string(600, MemoLetter(1)));
  InsertWithMemo(table, image, 2, std::string(40, MemoLetter(2)));
  InsertWithMemo(table, image, 3, std::string(1200, MemoLetter(3)));
  EXPECT_TRUE(FindRecord(table, image, 1));
  table.DeleteRecord();
  return path;
}

void ChangeMemo(TDataFile& table, std::vector<std::uint8_t>& image, std::int32_t id, const std::string& memo,
                std::int32_t count = 0) {
  if (!FindRecord(table, image, id)) _exit(5);
  SetInteger(table, image.data(), 4, count);
  WriteMemo(table, image.data(), 5, memo);
  table.UpdateRecord(image.data(), true);
  table.CloseBlob(5, image.data());
}

// Forks a child that opens the shared table, runs prepare, then change with a kill before its killAt-th
// file change from the start of the change, and exits 0 when it was not killed. True when the kill came.
// An exclusive table writes its changes at its close, which the kill then cuts.
bool RunKilledChange(const std::string& path, std::int64_t killAt,
                     const std::function<void(TDataFile&, std::vector<std::uint8_t>&)>& prepare,
                     const std::function<void(TDataFile&, std::vector<std::uint8_t>&)>& change,
                     bool exclusive = false) {
  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork");
  if (child == 0) {
    try {
      TDataFile table;
      table.SetExclusive(exclusive);
      table.SetFileName(path);
      table.SetRetryCount(100);
      table.SetRetryWait(1);
      table.Open();
      std::vector<std::uint8_t> image(static_cast<std::size_t>(table.RecordSize()));
      prepare(table, image);
      KillBeforeFileChange(killAt);
      change(table, image);
      if (!exclusive) platform::SetFileFaultHook(nullptr);
      table.Close();
      platform::SetFileFaultHook(nullptr);
    } catch (const EDBEngineError& error) {
      std::fprintf(stderr, "child: engine error %u\n", static_cast<unsigned>(error.Code()));
      _exit(3);
    } catch (...) {
      _exit(3);
    }
    _exit(0);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child) throw std::runtime_error("waitpid");
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) return true;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return false;
  throw std::runtime_error("child ended with status " + std::to_string(status));
}

// A fresh copy of the table that a case prepared once, for one kill.
std::string CopyOfTable(const std::string& prepared, const std::string& directory) {
  fs::copy(fs::path(prepared).parent_path(), directory, fs::copy_options::recursive);
  return directory + "/" + fs::path(prepared).filename().string();
}

// A change that cuts, frees or takes blob blocks, killed before each of its file changes in turn, while
// the free list holds the blocks of another record that was deleted. A process that goes on
// without repair finds no block of a live chain on the free list, and its insert, which takes every
// block the list offers, is never handed one; after repair every record holds only its own letters.
TEST_F(CrashTest, AKilledBlobChangeNeverLeavesANamedBlockOnTheFreeList) {
  using TStep = std::function<void(TDataFile&, std::vector<std::uint8_t>&)>;
  struct TCase {
    const char* Name;
    TStep Change;
    std::int64_t Stride = 1;  // every file change is a kill point, or every Stride-th
  };
  // Record 3's memo, 1,200 bytes in eleven blocks of 110 bytes, is the one that changes; a growth or an
  // insert takes the six free blocks and then blocks from the end of the file. A growth past the block
  // cache (1,023 blocks) must not write a block early to make room.
  const std::vector<TCase> cases{
      {"cut short",
       [](TDataFile& t, std::vector<std::uint8_t>& i) { ChangeMemo(t, i, 3, std::string(250, MemoLetter(3))); }},
      {"cut to nothing", [](TDataFile& t, std::vector<std::uint8_t>& i) { ChangeMemo(t, i, 3, ""); }},
      {"record deleted",
       [](TDataFile& t, std::vector<std::uint8_t>& i) {
         if (!FindRecord(t, i, 3)) _exit(5);
         t.DeleteRecord();
       }},
      {"grown",
       [](TDataFile& t, std::vector<std::uint8_t>& i) { ChangeMemo(t, i, 3, std::string(2000, MemoLetter(3))); }},
      {"inserted",
       [](TDataFile& t, std::vector<std::uint8_t>& i) { InsertWithMemo(t, i, 4, std::string(900, MemoLetter(4))); }},
      {"grown past the block cache",
       [](TDataFile& t, std::vector<std::uint8_t>& i) { ChangeMemo(t, i, 3, std::string(150000, MemoLetter(3))); }, 97},
  };
  const std::int32_t goingOn = 5;
  const std::string goingOnMemo(1500, MemoLetter(goingOn));
  const std::string prepared = BlobTableWithAFreedChain("named");
  ASSERT_FALSE(HasFailure());
  for (std::size_t number = 0; number < cases.size(); ++number) {
    const TCase& change = cases[number];
    bool finished = false;
    for (std::int64_t killAt = 1; !finished && killAt < 20000; killAt += change.Stride) {
      SCOPED_TRACE(std::string(change.Name) + ", killed before file change " + std::to_string(killAt));
      const std::string path =
          CopyOfTable(prepared, dir.PathOf("named" + std::to_string(number) + "-" + std::to_string(killAt)));
      finished = !RunKilledChange(
          path, killAt, [](TDataFile&, std::vector<std::uint8_t>&) {}, change.Change);

      ASSERT_TRUE(NoNamedBlockIsFree(path));
      {
        TDataFile table;
        table.SetFileName(path);
        table.Open();
        std::vector<std::uint8_t> image(static_cast<std::size_t>(table.RecordSize()));
        try {
          InsertWithMemo(table, image, goingOn, goingOnMemo);
        } catch (const EDBEngineError& error) {
          // A change cut off may be half made (its index not yet written), and a refusal does no harm; a
          // block handed out while in use does. After a whole change nothing is refused.
          EXPECT_FALSE(finished) << "engine error " << error.Code();
        }
        if (FindRecord(table, image, goingOn)) {
          EXPECT_EQ(ReadMemo(table, image.data(), 5), goingOnMemo);
        }
      }
      ASSERT_TRUE(NoNamedBlockIsFree(path));

      TDataFile table;
      table.SetExclusive(true);
      table.SetFileName(path);
      table.RepairTable();
      table.Open();
      std::vector<std::uint8_t> image(static_cast<std::size_t>(table.RecordSize()));
      for (std::int32_t id = 1; id <= goingOn; ++id) {
        if (!FindRecord(table, image, id)) continue;
        const std::string memo = ReadMemo(table, image.data(), 5);
        EXPECT_TRUE(std::all_of(memo.begin(), memo.end(), [&](char c) { return c == MemoLetter(id); }))
            << "record " << id << " holds " << memo;
        if (id == 2 || id == goingOn) {
          EXPECT_EQ(memo.size(), id == 2 ? 40u : goingOnMemo.size()) << "record " << id;
        }
      }
      if (HasFailure()) return;
    }
    EXPECT_TRUE(finished) << change.Name;
  }
}

// An exclusive cursor writes a blob change at its close, killed before each of its file changes in turn:
// the blocks the change took leave the free list on the file before a record names them.
TEST_F(CrashTest, AKilledCloseOfAnExclusiveBlobChangeNeverLeavesANamedBlockOnTheFreeList) {
  using TStep = std::function<void(TDataFile&, std::vector<std::uint8_t>&)>;
  const std::vector<std::pair<const char*, TStep>> cases{
      {"grown",
       [](TDataFile& t, std::vector<std::uint8_t>& i) { ChangeMemo(t, i, 3, std::string(2000, MemoLetter(3))); }},
      {"inserted",
       [](TDataFile& t, std::vector<std::uint8_t>& i) { InsertWithMemo(t, i, 4, std::string(900, MemoLetter(4))); }},
      {"cut short",
       [](TDataFile& t, std::vector<std::uint8_t>& i) { ChangeMemo(t, i, 3, std::string(250, MemoLetter(3))); }},
  };
  const std::string prepared = BlobTableWithAFreedChain("exclusive");
  ASSERT_FALSE(HasFailure());
  for (std::size_t number = 0; number < cases.size(); ++number) {
    bool finished = false;
    for (std::int64_t killAt = 1; !finished && killAt < 2000; ++killAt) {
      SCOPED_TRACE(std::string(cases[number].first) + ", killed before file change " + std::to_string(killAt));
      const std::string path =
          CopyOfTable(prepared, dir.PathOf("exclusive" + std::to_string(number) + "-" + std::to_string(killAt)));
      finished = !RunKilledChange(
          path, killAt, [](TDataFile&, std::vector<std::uint8_t>&) {}, cases[number].second, true);
      ASSERT_TRUE(NoNamedBlockIsFree(path));
    }
    EXPECT_TRUE(finished) << cases[number].first;
  }
}

// A transaction changes record 3 and is rolled back; the rollback is killed before each of its file
// changes in turn. After repair the record has its value from before the rollback whole, or the one
// it rolls back to, fields and blob alike: never the blob of one with the fields of the other, nor a
// blob cut short.
TEST_F(CrashTest, AKilledRollbackLeavesTheRecordsValueBeforeOrAfterItWhole) {
  using TStep = std::function<void(TDataFile&, std::vector<std::uint8_t>&)>;
  // A record's value: its count field and its memo, or nothing for a record that is not there.
  using TValue = std::optional<std::pair<std::int32_t, std::string>>;
  auto value = [](std::int32_t size, char letter) {
    return TValue{{size, std::string(static_cast<std::size_t>(size), letter)}};
  };
  struct TCase {
    const char* Name;
    TValue Before;  // what the record holds before the transaction, and after its rollback
    TStep Change;   // the transaction's change
    TValue After;   // what the record holds when the rollback begins
  };
  auto update = [](std::int32_t size) {
    return [size](TDataFile& t, std::vector<std::uint8_t>& i) {
      ChangeMemo(t, i, 3, std::string(static_cast<std::size_t>(size), 'n'), size);
    };
  };
  const std::vector<TCase> cases{
      {"grown in place", value(5000, 'o'), update(8000), value(8000, 'n')},
      {"cut in place", value(8000, 'o'), update(5000), value(5000, 'n')},
      {"deleted", value(5000, 'o'),
       [](TDataFile& t, std::vector<std::uint8_t>& i) {
         if (!FindRecord(t, i, 3)) _exit(5);
         t.DeleteRecord();
       },
       std::nullopt},
      {"inserted", std::nullopt,
       [](TDataFile& t, std::vector<std::uint8_t>& i) { InsertWithMemo(t, i, 3, std::string(5000, 'n'), 5000); },
       value(5000, 'n')},
  };
  for (std::size_t number = 0; number < cases.size(); ++number) {
    const TCase& change = cases[number];
    const std::string prepared = FreshDirectory("rollback" + std::to_string(number)) + "/SHARED.DAT";
    testing::CreateTableAt(prepared, WriterFields(), WriterIndexes(), false, "", 512);
    {
      TDataFile table;
      table.SetFileName(prepared);
      table.Open();
      std::vector<std::uint8_t> image(static_cast<std::size_t>(table.RecordSize()));
      InsertWithMemo(table, image, 1, std::string(1500, MemoLetter(1)));
      InsertWithMemo(table, image, 2, std::string(700, MemoLetter(2)));
      if (change.Before) InsertWithMemo(table, image, 3, change.Before->second, change.Before->first);
      // Blocks of another record on the free list, for the rollback to take.
      ASSERT_TRUE(FindRecord(table, image, 1));
      table.DeleteRecord();
    }
    bool finished = false;
    for (std::int64_t killAt = 1; !finished && killAt < 3000; ++killAt) {
      SCOPED_TRACE(std::string(change.Name) + ", killed before file change " + std::to_string(killAt));
      const std::string path =
          CopyOfTable(prepared, dir.PathOf("rollback" + std::to_string(number) + "-" + std::to_string(killAt)));
      finished = !RunKilledChange(
          path, killAt,
          [&](TDataFile& table, std::vector<std::uint8_t>& image) {
            table.StartTransaction();
            change.Change(table, image);
          },
          [](TDataFile& table, std::vector<std::uint8_t>&) { table.Rollback(); });

      ASSERT_TRUE(NoNamedBlockIsFree(path));
      TDataFile table;
      table.SetExclusive(true);
      table.SetFileName(path);
      table.RepairTable();
      table.Open();
      std::vector<std::uint8_t> image(static_cast<std::size_t>(table.RecordSize()));
      TValue found;
      if (FindRecord(table, image, 3))
        found = TValue{{GetInteger(table, image.data(), 4), ReadMemo(table, image.data(), 5)}};
      auto shown = [](const TValue& v) {
        return v ? std::to_string(v->first) + " with a memo of " + std::to_string(v->second.size()) + " bytes " +
                       v->second.substr(0, 1) + "..." + v->second.substr(v->second.empty() ? 0 : v->second.size() - 1)
                 : std::string("no record");
      };
      EXPECT_TRUE(found == change.Before || found == change.After) << "record 3: " << shown(found);
      if (finished) {
        EXPECT_TRUE(found == change.Before) << "record 3: " << shown(found);
      }
      ASSERT_TRUE(FindRecord(table, image, 2));
      EXPECT_EQ(ReadMemo(table, image.data(), 5), std::string(700, MemoLetter(2)));
      if (HasFailure()) return;
    }
    EXPECT_TRUE(finished) << change.Name;
  }
}

// Old table: ID, Name, Qty integer, Notes. New: Qty becomes a smallint, a field with a default comes in.
std::vector<TFieldDescriptor> OldFields() {
  return {Field(1, "ID", ftInteger), Field(2, "Name", ftString, 12), Field(3, "Qty", ftInteger),
          Field(4, "Notes", ftBlob, 0, fstMemo)};
}
std::vector<TFieldDescriptor> NewFields() {
  std::vector<TFieldDescriptor> fields{Field(1, "ID", ftInteger), Field(2, "Name", ftString, 12),
                                       Field(3, "Qty", ftSmallInt), Field(5, "Added", ftString, 4),
                                       Field(4, "Notes", ftBlob, 0, fstMemo)};
  fields[3].Default = "new";
  return fields;
}
std::vector<TIndexDescriptor> RestructureIndexes() { return {Index("", {1}, true), Index("ByName", {2})}; }

// The table with its records, and backups of an earlier restructure that the next one deletes first.
void CreateRestructureTable(const std::string& path) {
  testing::CreateTableAt(path, OldFields(), RestructureIndexes(), false, "", 128);
  {
    TDataFile table;
    table.SetExclusive(true);
    table.SetFileName(path);
    table.Open();
    std::vector<std::uint8_t> image(static_cast<std::size_t>(table.RecordSize()));
    for (std::int32_t id = 1; id <= kRestructuredRecords; ++id) {
      table.InitRecord(image.data());
      SetInteger(table, image.data(), 1, id);
      table.SetField(2, image.data(), ("n" + std::to_string(id)).c_str());
      SetInteger(table, image.data(), 3, id * 3);
      WriteMemo(table, image.data(), 4, Memo(id, 0));
      table.InsertRecord(image.data());
      table.CloseBlob(4, image.data());
    }
  }
  const std::string base = path.substr(0, path.size() - 4);
  for (const auto& [from, to] : {std::pair{".DAT", ".DBK"}, {".IDX", ".IBK"}, {".BLB", ".BBK"}}) {
    fs::copy_file(base + from, base + to);
  }
}

void RunRestructure(const std::string& path) {
  TDataFile table;
  table.SetExclusive(true);
  table.SetFileName(path);
  table.RestructureTable(false, "", RestructureIndexes(), NewFields(), 128, "restructured");
}

// The table at path (or its backups) holds every record, in the old layout or the new one.
void ExpectAllRecords(const std::string& path, bool newLayout) {
  TDataFile table;
  table.SetExclusive(true);
  table.SetFileName(path);
  table.Open();
  EXPECT_EQ(table.FieldCount(), newLayout ? 5 : 4);
  std::vector<std::uint8_t> image(static_cast<std::size_t>(table.RecordSize()));
  std::int32_t expected = 1;
  table.GotoBOF();
  while (table.Next(image.data()) == ec::Success) {
    const std::int32_t id = GetInteger(table, image.data(), 1);
    EXPECT_EQ(id, expected);
    std::array<std::uint8_t, 256> value{};
    bool isNull = true;
    table.GetField(3, image.data(), isNull, value.data());
    EXPECT_EQ(newLayout ? LoadI16(value.data()) : LoadI32(value.data()), id * 3);
    EXPECT_EQ(ReadMemo(table, image.data(), newLayout ? 5 : 4), Memo(id, 0));
    if (newLayout) {
      table.GetField(4, image.data(), isNull, value.data());
      EXPECT_STREQ(reinterpret_cast<const char*>(value.data()), "new");
    }
    ++expected;
  }
  EXPECT_EQ(expected - 1, kRestructuredRecords);
}

TEST_F(CrashTest, KilledRestructureLeavesTheOldTableOrTheNewWithBackups) {
  // One restructure counted, to spread the kills over all of its file operations and to hit every rename.
  std::int64_t operations = 0;
  std::vector<std::int64_t> renames;
  {
    const std::string path = FreshDirectory("count") + "/ITEMS.DAT";
    CreateRestructureTable(path);
    platform::SetFileFaultHook([&](platform::FileOp op, const std::string&) -> platform::DWORD {
      ++operations;
      if (op == platform::FileOp::Move) renames.push_back(operations);
      return 0;
    });
    RunRestructure(path);
    platform::SetFileFaultHook(nullptr);
    ExpectAllRecords(path, true);
  }
  ASSERT_GE(renames.size(), 6u);

  int oldTables = 0;
  int newTables = 0;
  for (int run = 0; run < RunsOf(kRestructureRuns); ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    const std::string directory = FreshDirectory("r" + std::to_string(run));
    const std::string path = directory + "/ITEMS.DAT";
    CreateRestructureTable(path);
    // Just before and just after each rename first; then anywhere, or anywhere from the switch on.
    std::int64_t killAt;
    if (static_cast<std::size_t>(run) < 2 * renames.size()) {
      killAt = renames[static_cast<std::size_t>(run) / 2] + run % 2;
    } else {
      const std::int64_t from = run % 2 == 0 ? 1 : std::max<std::int64_t>(1, renames.front() - 20);
      killAt = std::uniform_int_distribution<std::int64_t>(from, operations)(random);
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      KillBeforeFileOperation(killAt);
      try {
        RunRestructure(path);
      } catch (...) {
        _exit(3);
      }
      _exit(0);
    }
    ASSERT_TRUE(EndedByKillOrFinished(child));

    TDataFile table;
    table.SetExclusive(true);
    table.SetFileName(path);
    table.UndoInterruptedRestructure();
    table.Open();
    const bool newLayout = table.FieldCount() == 5;
    table.Close();
    ExpectAllRecords(path, newLayout);
    if (newLayout) {
      ++newTables;
      // The backups are the old table: copied under a table's names, it opens with every record.
      const std::string restored = FreshDirectory("b" + std::to_string(run));
      fs::copy_file(directory + "/ITEMS.DBK", restored + "/OLD.DAT");
      fs::copy_file(directory + "/ITEMS.IBK", restored + "/OLD.IDX");
      fs::copy_file(directory + "/ITEMS.BBK", restored + "/OLD.BLB");
      ExpectAllRecords(restored + "/OLD.DAT", false);
    } else {
      ++oldTables;
    }
    if (HasFailure()) break;
  }
  EXPECT_GT(oldTables, 0);
  EXPECT_GT(newTables, 0);
}

}  // namespace
}  // namespace kavrin::engine
