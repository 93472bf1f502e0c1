// Several processes change one shared table at once; afterwards the table must hold exactly what their
// ledgers say they left behind, with every index, the unique ids, the deleted-record chain and the blob
// chains consistent. KAVRIN_STRESS_OPS sets the operations per process (to scale a run up by hand),
// KAVRIN_STRESS_PROCS the number of processes, KAVRIN_STRESS_SEED the random seed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <limits>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/blob_file.h"
#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "tests/engine/stress_workload.h"
#include "tests/engine/table_fixture.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine {
namespace {

using kavrin::testing::TempDir;
using stress::TExpectedRecord;
using stress::TLedger;
using stress::TPlan;

int EnvNumber(const char* name, int fallback) {
  const char* text = std::getenv(name);
  if (!text || !*text) return fallback;
  return std::atoi(text);
}

// The forked workers; any still running when the test ends are killed, so a hung engine never
// outlives its test.
class TWorkers {
 public:
  TWorkers() = default;
  TWorkers(const TWorkers&) = delete;
  TWorkers& operator=(const TWorkers&) = delete;
  ~TWorkers() {
    for (pid_t pid : running_) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    CloseGate();
  }

  // Each worker waits at the gate until Release, so that all start together; its exit status is what
  // job returns (3 when it throws).
  void Start(const std::function<int()>& job) {
    if (gate_[0] < 0 && pipe(gate_.data()) != 0) throw std::runtime_error("no pipe");
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
      close(gate_[1]);
      char byte = 0;
      while (read(gate_[0], &byte, 1) < 0) {
      }
      int status = 3;
      try {
        status = job();
      } catch (...) {
      }
      _exit(status);
    }
    running_.push_back(pid);
  }

  void Release() { CloseGate(); }

  // The exit statuses, or nothing for the workers that were still running at the deadline.
  std::vector<std::string> WaitAll(std::chrono::seconds limit) {
    std::vector<std::string> problems;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!running_.empty()) {
      for (auto it = running_.begin(); it != running_.end();) {
        int status = 0;
        const pid_t done = waitpid(*it, &status, WNOHANG);
        if (done == *it) {
          if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            problems.push_back("worker " + std::to_string(*it) + " ended with status " + std::to_string(status));
          }
          it = running_.erase(it);
        } else {
          ++it;
        }
      }
      if (running_.empty()) break;
      if (std::chrono::steady_clock::now() > deadline) {
        problems.push_back(std::to_string(running_.size()) + " workers still running at the deadline (hung?)");
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return problems;
  }

 private:
  void CloseGate() {
    for (int& end : gate_) {
      if (end >= 0) close(end);
      end = -1;
    }
  }

  std::vector<pid_t> running_;
  std::array<int, 2> gate_{-1, -1};
};

struct TSeenRecord {
  std::int32_t RecordNumber = 0;
  std::int32_t Id = 0;
  std::string Code;
  std::int16_t Owner = 0;
  std::int32_t Version = 0;
  std::int32_t UniqueId = 0;
  std::int32_t NoteReference = 0;
  std::string Note;
};

// Reads the table after the run and lists every way in which it differs from the ledgers.
class TTableCheck {
 public:
  TTableCheck(const std::string& path, const std::vector<TLedger>& ledgers) : ledgers_(ledgers) {
    table_.SetExclusive(true);
    table_.SetFileName(path);
    table_.Open();
    image_.resize(static_cast<std::size_t>(table_.RecordSize()));
    for (const TLedger& ledger : ledgers) {
      for (const auto& [id, record] : ledger.Records) {
        if (!expected_.emplace(id, record).second) Problem("two ledgers hold key " + std::to_string(id));
        process_[id] = ledger.Process;
      }
    }
  }

  std::vector<std::string> Run() {
    const std::vector<TSeenRecord> byId = Walk(0);
    CheckRecords(byId);
    CheckReverseWalk(byId);
    CheckSecondaryWalks(byId);
    CheckPointLookups();
    CheckDeletedChain(byId);
    CheckBlobBlocks(byId);
    CheckTotals(byId);
    return problems_;
  }

 private:
  void Problem(const std::string& text) {
    if (problems_.size() < 50) problems_.push_back(text);
  }

  std::int32_t IntField(std::int16_t field, const std::uint8_t* image) const {
    std::int32_t value = 0;
    bool isNull = true;
    table_.GetField(field, image, isNull, &value);
    return value;
  }

  TSeenRecord Read(const std::uint8_t* image) {
    TSeenRecord seen;
    seen.RecordNumber = table_.CurrentRecord() ? table_.CurrentRecord()->RecordNumber() : 0;
    seen.Id = IntField(stress::kIdField, image);
    std::array<char, stress::kCodeSize + 1> code{};
    bool isNull = true;
    table_.GetField(stress::kCodeField, image, isNull, code.data());
    seen.Code = code.data();
    table_.GetField(stress::kOwnerField, image, isNull, &seen.Owner);
    seen.Version = IntField(stress::kVersionField, image);
    seen.UniqueId = TDataFile::GetUniqueID(image);
    seen.NoteReference = IntField(stress::kNoteField, image);
    std::vector<std::uint8_t> copy(image, image + image_.size());
    if (const TErrorCode code = table_.OpenBlob(stress::kNoteField, copy.data())) {
      Problem("record " + std::to_string(seen.Id) + ": blob does not open, code " + std::to_string(code));
      return seen;
    }
    std::int32_t size = 0;
    table_.BlobSize(stress::kNoteField, copy.data(), size);
    seen.Note.resize(static_cast<std::size_t>(size));
    std::int32_t read = 0;
    if (size > 0 && table_.ReadBlob(stress::kNoteField, copy.data(), 0, size, seen.Note.data(), read) != 0) {
      Problem("record " + std::to_string(seen.Id) + ": blob does not read");
    }
    table_.CloseBlob(stress::kNoteField, copy.data());
    return seen;
  }

  std::vector<TSeenRecord> Walk(std::uint8_t index) {
    table_.SelectIndex(index);
    std::vector<TSeenRecord> seen;
    table_.GotoBOF();
    while (table_.Next(image_.data()) == 0) {
      seen.push_back(Read(image_.data()));
      if (seen.size() > expected_.size() + 100) {
        Problem("index " + std::to_string(index) + " walks past every record (a cycle?)");
        break;
      }
    }
    if (table_.RecordCount() != static_cast<std::int32_t>(seen.size())) {
      Problem("index " + std::to_string(index) + " counts " + std::to_string(table_.RecordCount()) +
              " records, walks " + std::to_string(seen.size()));
    }
    return seen;
  }

  static std::vector<std::int32_t> Ids(const std::vector<TSeenRecord>& records) {
    std::vector<std::int32_t> ids;
    for (const TSeenRecord& record : records) ids.push_back(record.Id);
    return ids;
  }

  void CheckRecords(const std::vector<TSeenRecord>& byId) {
    std::set<std::int32_t> uniqueIds, recordNumbers;
    std::int32_t previous = std::numeric_limits<std::int32_t>::min();
    for (const TSeenRecord& seen : byId) {
      const std::string name = "record " + std::to_string(seen.Id);
      if (seen.Id <= previous) Problem("primary index out of order at " + name);
      previous = seen.Id;
      if (!uniqueIds.insert(seen.UniqueId).second) {
        Problem(name + ": unique id " + std::to_string(seen.UniqueId) + " twice");
      }
      if (seen.UniqueId <= 0 || seen.UniqueId > table_.Header().LastUniqueID) {
        Problem(name + ": unique id " + std::to_string(seen.UniqueId) + " outside 1.." +
                std::to_string(table_.Header().LastUniqueID));
      }
      if (!recordNumbers.insert(seen.RecordNumber).second) Problem(name + ": its slot holds another record too");
      const auto it = expected_.find(seen.Id);
      if (it == expected_.end()) {
        Problem(name + " is in the table but in no ledger");
        continue;
      }
      const TExpectedRecord& expected = it->second;
      if (seen.Code != expected.Code || seen.Version != expected.Version) {
        Problem(name + " holds " + seen.Code + "/v" + std::to_string(seen.Version) + ", its ledger " + expected.Code +
                "/v" + std::to_string(expected.Version));
      }
      if (seen.Owner != process_.at(seen.Id)) Problem(name + ": owner " + std::to_string(seen.Owner));
      if (seen.Note != stress::NoteContent(seen.Id, expected.Version, expected.NoteLength)) {
        Problem(name + ": blob of " + std::to_string(seen.Note.size()) + " bytes is not its own (expected " +
                std::to_string(expected.NoteLength) + " bytes of its key and version)");
      }
      if (expected.NoteLength == 0 && seen.NoteReference != 0) {
        Problem(name + ": an empty blob still references block " + std::to_string(seen.NoteReference));
      }
    }
    std::set<std::int32_t> seenIds;
    for (const TSeenRecord& seen : byId) seenIds.insert(seen.Id);
    for (const auto& entry : expected_) {
      if (!seenIds.contains(entry.first)) {
        Problem("record " + std::to_string(entry.first) + " of process " + std::to_string(process_.at(entry.first)) +
                " is missing from the primary index");
      }
    }
  }

  void CheckReverseWalk(const std::vector<TSeenRecord>& byId) {
    table_.SelectIndex(0);
    std::vector<std::int32_t> reversed;
    table_.GotoEOF();
    while (table_.Prior(image_.data()) == 0 && reversed.size() <= byId.size()) {
      reversed.push_back(IntField(stress::kIdField, image_.data()));
    }
    std::vector<std::int32_t> forward = Ids(byId);
    std::reverse(forward.begin(), forward.end());
    if (reversed != forward) Problem("the primary index walked backwards differs from forwards");
  }

  void CheckSecondaryWalks(const std::vector<TSeenRecord>& byId) {
    std::vector<std::int32_t> all = Ids(byId);
    std::sort(all.begin(), all.end());
    for (std::uint8_t index : {std::uint8_t{1}, std::uint8_t{2}}) {
      const std::vector<TSeenRecord> walked = Walk(index);
      std::vector<std::int32_t> ids = Ids(walked);
      std::sort(ids.begin(), ids.end());
      if (ids != all) {
        Problem("index " + std::to_string(index) + " walks " + std::to_string(walked.size()) +
                " records, not the primary index's " + std::to_string(all.size()));
      }
      for (std::size_t i = 1; i < walked.size(); ++i) {
        const TSeenRecord& a = walked[i - 1];
        const TSeenRecord& b = walked[i];
        const bool ordered =
            index == 1 ? a.Code < b.Code : (a.Owner < b.Owner || (a.Owner == b.Owner && a.UniqueId < b.UniqueId));
        if (!ordered) {
          Problem("index " + std::to_string(index) + " out of order between " + std::to_string(a.Id) + " and " +
                  std::to_string(b.Id));
        }
      }
    }
  }

  void CheckPointLookups() {
    std::vector<std::uint8_t> probe(image_.size());
    for (const auto& [id, record] : expected_) {
      table_.SelectIndex(0);
      table_.InitRecord(probe.data());
      table_.SetField(stress::kIdField, probe.data(), &id);
      if (!table_.FindKey(false, probe.data(), image_.data(), 0, false, 0) ||
          IntField(stress::kIdField, image_.data()) != id) {
        Problem("record " + std::to_string(id) + " not found by its primary key");
      }
      table_.SelectIndex(1);
      std::array<char, stress::kCodeSize + 1> code{};
      std::copy(record.Code.begin(), record.Code.end(), code.begin());
      table_.InitRecord(probe.data());
      table_.SetField(stress::kCodeField, probe.data(), code.data());
      if (!table_.FindKey(false, probe.data(), image_.data(), 0, false, 0) ||
          IntField(stress::kIdField, image_.data()) != id) {
        Problem("record " + std::to_string(id) + " not found by its code " + record.Code);
      }
    }
    table_.SelectIndex(0);
  }

  void CheckDeletedChain(const std::vector<TSeenRecord>& byId) {
    std::set<std::int32_t> live;
    for (const TSeenRecord& seen : byId) live.insert(seen.RecordNumber);
    std::set<std::int32_t> chain;
    for (std::int32_t slot = static_cast<std::int32_t>(table_.Header().DeletedChainHead); slot != 0;) {
      if (!chain.insert(slot).second) {
        Problem("the deleted-record chain loops at slot " + std::to_string(slot));
        break;
      }
      if (live.contains(slot)) Problem("live slot " + std::to_string(slot) + " is on the deleted-record chain");
      TRecord* record = table_.FetchRecord(slot);
      if (!record || !record->Deleted()) {
        Problem("slot " + std::to_string(slot) + " on the deleted-record chain is not deleted");
        break;
      }
      slot = record->NextDeleted();
    }
    const std::int32_t slots = table_.PhysicalRecordCount();
    if (static_cast<std::int32_t>(live.size() + chain.size()) != slots) {
      Problem(std::to_string(live.size()) + " live and " + std::to_string(chain.size()) + " deleted slots, of " +
              std::to_string(slots));
    }
  }

  // Every block is in exactly one place: one live record's chain (owned by that record) or the free list.
  void CheckBlobBlocks(const std::vector<TSeenRecord>& byId) {
    TBlobFile& blobs = table_.BlobFile();
    std::map<std::int32_t, std::int32_t> used;  // offset -> record number
    for (const TSeenRecord& seen : byId) {
      if (seen.NoteReference == 0) continue;
      std::vector<std::int32_t> chain;
      try {
        chain = blobs.ChainOffsets(seen.NoteReference);
      } catch (const EDBEngineError& error) {
        Problem("record " + std::to_string(seen.Id) + ": blob chain broken: " + error.what());
        continue;
      }
      for (std::int32_t offset : chain) {
        if (!used.emplace(offset, seen.RecordNumber).second) {
          Problem("blob block " + std::to_string(offset) + " is in the chains of two records");
        }
        const std::int32_t owner = blobs.GetBlock(offset).Owner();
        if (owner != seen.RecordNumber) {
          Problem("record " + std::to_string(seen.Id) + " (slot " + std::to_string(seen.RecordNumber) + "): block " +
                  std::to_string(offset) + " names slot " + std::to_string(owner) + " as its owner");
        }
      }
    }
    std::set<std::int32_t> free;
    const std::int64_t blockCount = (blobs.Header().EndOffset - BlobFileHeaderSize) / blobs.BlockSize();
    for (std::int32_t offset = static_cast<std::int32_t>(blobs.Header().FreeBlockHead); offset != 0;) {
      if (!free.insert(offset).second || static_cast<std::int64_t>(free.size()) > blockCount) {
        Problem("the free block list loops at " + std::to_string(offset));
        break;
      }
      if (used.contains(offset)) Problem("blob block " + std::to_string(offset) + " is both used and free");
      offset = blobs.GetBlock(offset).Next();
    }
    if (static_cast<std::int64_t>(used.size() + free.size()) != blockCount) {
      Problem(std::to_string(used.size()) + " blob blocks used and " + std::to_string(free.size()) + " free of " +
              std::to_string(blockCount) + ": " + std::to_string(blockCount - std::int64_t(used.size() + free.size())) +
              " lost");
    }
  }

  void CheckTotals(const std::vector<TSeenRecord>& byId) {
    std::int64_t net = 0;
    for (const TLedger& ledger : ledgers_) {
      net += ledger.Inserts - ledger.Deletes;
      if (static_cast<std::int64_t>(ledger.Records.size()) != ledger.Inserts - ledger.Deletes) {
        Problem("process " + std::to_string(ledger.Process) + " counts " + std::to_string(ledger.Inserts) +
                " inserts and " + std::to_string(ledger.Deletes) + " deletes but holds " +
                std::to_string(ledger.Records.size()) + " records");
      }
    }
    if (net != static_cast<std::int64_t>(byId.size())) {
      Problem("the ledgers' inserts less deletes are " + std::to_string(net) + ", the table holds " +
              std::to_string(byId.size()));
    }
  }

  const std::vector<TLedger>& ledgers_;
  TDataFile table_;
  std::vector<std::uint8_t> image_;
  std::map<std::int32_t, TExpectedRecord> expected_;
  std::map<std::int32_t, int> process_;
  std::vector<std::string> problems_;
};

struct StressCase {
  const char* name;
  int processes;   // unless KAVRIN_STRESS_PROCS says otherwise
  int operations;  // per process, unless KAVRIN_STRESS_OPS says otherwise
  std::uint16_t blockSize;
  bool tableLock;            // process 0 holds the table lock for a while halfway through
  int transactionEvery = 0;  // one operation in this many starts a transaction (0: none)
};

void PrintTo(const StressCase& c, std::ostream* out) { *out << c.name; }

class StressTest : public ::testing::TestWithParam<StressCase> {};

TEST_P(StressTest, TableHoldsExactlyWhatEveryProcessLeftBehind) {
  const StressCase& c = GetParam();
  const int operations = EnvNumber("KAVRIN_STRESS_OPS", c.operations);
  const int processes = std::max(4, EnvNumber("KAVRIN_STRESS_PROCS", c.processes));
  const auto seed = static_cast<std::uint32_t>(EnvNumber("KAVRIN_STRESS_SEED", 20240611));
  TempDir dir;
  const std::string path = dir.PathOf("STRESS.DAT");
  testing::CreateTableAt(path, stress::StressFields(), stress::StressIndexes(), false, {}, c.blockSize);

  TWorkers workers;
  for (int p = 0; p < processes; ++p) {
    TPlan plan;
    plan.TablePath = path;
    plan.Process = p;
    plan.Processes = processes;
    plan.Operations = operations;
    plan.Seed = seed;
    plan.KeySpace = std::max(32, operations * 2);
    plan.CodeSpace = std::max(64, operations * processes * 2);
    if (c.tableLock && p == 0) {
      plan.TableLockAt = operations / 2;
      plan.TableLockOperations = std::max(10, operations / 10);
      plan.TableLockMilliseconds = 400;
    }
    plan.TransactionEvery = c.transactionEvery;
    const std::string ledgerPath = dir.PathOf("ledger" + std::to_string(p));
    workers.Start([plan, ledgerPath] {
      stress::WriteLedger(ledgerPath, stress::RunWorker(plan));
      return 0;
    });
  }
  workers.Release();
  const std::vector<std::string> ended = workers.WaitAll(std::chrono::seconds(240));
  for (const std::string& problem : ended) ADD_FAILURE() << problem << " (seed " << seed << ")";
  ASSERT_TRUE(ended.empty());

  std::vector<TLedger> ledgers;
  TLedger total;
  for (int p = 0; p < processes; ++p) {
    ledgers.push_back(stress::ReadLedger(dir.PathOf("ledger" + std::to_string(p))));
    const TLedger& l = ledgers.back();
    for (const std::string& fault : l.Faults) ADD_FAILURE() << fault << " (seed " << seed << ")";
    total.Inserts += l.Inserts;
    total.Updates += l.Updates;
    total.KeyChanges += l.KeyChanges;
    total.Deletes += l.Deletes;
    total.LockedReads += l.LockedReads;
    total.RecordLocked += l.RecordLocked;
    total.KeyViolations += l.KeyViolations;
    total.TableLockRefused += l.TableLockRefused;
    total.TableLockChanges += l.TableLockChanges;
    total.Commits += l.Commits;
    total.Rollbacks += l.Rollbacks;
    total.TransactionKeyViolations += l.TransactionKeyViolations;
  }
  std::cout << "[ stress   ] " << processes << " processes x " << operations << " operations: " << total.Inserts
            << " inserts, " << total.Updates << " updates (" << total.KeyChanges << " changing keys), " << total.Deletes
            << " deletes, " << total.LockedReads << " locked reads; " << total.RecordLocked << " record-locked, "
            << total.KeyViolations << " key violations";
  if (c.transactionEvery > 0) {
    std::cout << "; " << total.Commits << " commits, " << total.Rollbacks << " rollbacks, "
              << total.TransactionKeyViolations << " key violations inside transactions";
  }
  if (c.tableLock) {
    std::cout << "; table lock refused " << total.TableLockRefused << " times, " << total.TableLockChanges
              << " changes under it";
  }
  std::cout << std::endl;
  EXPECT_GT(total.Inserts, 0);
  EXPECT_GT(total.KeyChanges, 0);
  EXPECT_GT(total.Deletes, 0);
  if (c.transactionEvery > 0) {
    EXPECT_GT(total.Commits, 0);
    EXPECT_GT(total.Rollbacks, 0);
    EXPECT_GT(total.TransactionKeyViolations, 0);
  }

  if (c.tableLock) {
    const TLedger& holder = ledgers[0];
    ASSERT_GE(holder.TableLockTaken, 0) << "the table lock was never held";
    EXPECT_GT(holder.TableLockChanges, 0);
    // No other process can finish a change that it began after the table lock was taken, before it went.
    for (const TLedger& l : ledgers) {
      if (l.Process == holder.Process) continue;
      for (const auto& [began, endedAt] : l.Changes) {
        EXPECT_FALSE(began >= holder.TableLockTaken && endedAt <= holder.TableLockReleased)
            << "process " << l.Process << " changed the table while process 0 held the table lock";
      }
    }
  }

  const std::vector<std::string> problems = TTableCheck(path, ledgers).Run();
  for (const std::string& problem : problems) ADD_FAILURE() << problem << " (seed " << seed << ")";
}

// Readers in other processes take the index read lock; a table-locked cursor writes its changes
// through at the end of each change, so it must keep them out while it writes, or they read an index
// half old and half new. Three readers look up records that nobody changes while one process changes
// other records under the table lock.
TEST(StressTableLock, ReadersNeverSeeATableLockedWriteHalfDone) {
  TempDir dir;
  const std::string path = dir.PathOf("TORN.DAT");
  testing::CreateTableAt(path, stress::StressFields(), stress::StressIndexes());
  constexpr std::int32_t kStable = 300;
  const std::int32_t stableBase = stress::KeyBase(5);
  {
    TDataFile table;
    table.SetExclusive(true);
    table.SetFileName(path);
    table.Open();
    std::vector<std::uint8_t> image(static_cast<std::size_t>(table.RecordSize()));
    for (std::int32_t i = 0; i < kStable; ++i) {
      const std::int32_t id = stableBase + i;
      std::array<char, stress::kCodeSize + 1> code{};
      const std::string text = stress::CodeText(1'000'000 + i);
      std::copy(text.begin(), text.end(), code.begin());
      table.InitRecord(image.data());
      table.SetField(stress::kIdField, image.data(), &id);
      table.SetField(stress::kCodeField, image.data(), code.data());
      table.InsertRecord(image.data());
    }
  }
  const auto writeFor = std::chrono::milliseconds(1500);
  TWorkers workers;
  workers.Start([&] {
    TDataFile table;
    table.SetFileName(path);
    table.Open();
    table.LockTable();
    std::vector<std::uint8_t> image(static_cast<std::size_t>(table.RecordSize()));
    const auto until = std::chrono::steady_clock::now() + writeFor;
    for (std::int32_t n = 0; std::chrono::steady_clock::now() < until; ++n) {
      // Inserts that split pages, and deletes of every other one that merge them again.
      const std::int32_t id = stress::KeyBase(0) + (n * 7919) % 100000;
      std::array<char, stress::kCodeSize + 1> code{};
      const std::string text = stress::CodeText(id % 1'000'000);
      std::copy(text.begin(), text.end(), code.begin());
      table.InitRecord(image.data());
      table.SetField(stress::kIdField, image.data(), &id);
      table.SetField(stress::kCodeField, image.data(), code.data());
      try {
        table.InsertRecord(image.data());
        if (n % 2 == 0) table.DeleteRecord();
      } catch (const EDBEngineError& error) {
        if (error.Code() != ec::KeyViolation) throw;
      }
    }
    table.UnlockTable();
    return 0;
  });
  for (int r = 0; r < 3; ++r) {
    const std::string report = dir.PathOf("reader" + std::to_string(r));
    workers.Start([&, report] {
      std::ofstream out(report);
      TDataFile table;
      table.SetFileName(path);
      table.Open();
      std::vector<std::uint8_t> image(static_cast<std::size_t>(table.RecordSize()));
      std::vector<std::uint8_t> probe(image.size());
      const auto until = std::chrono::steady_clock::now() + writeFor;
      int wrong = 0;
      while (std::chrono::steady_clock::now() < until && wrong < 5) {
        for (std::int32_t i = 0; i < kStable; ++i) {
          const std::int32_t id = stableBase + i;
          try {
            table.InitRecord(probe.data());
            table.SetField(stress::kIdField, probe.data(), &id);
            bool isNull = true;
            std::int32_t found = 0;
            if (table.FindKey(false, probe.data(), image.data(), 0, false, 0)) {
              table.GetField(stress::kIdField, image.data(), isNull, &found);
            }
            if (found != id) {
              out << "reader " << r << ": record " << id << " not found\n";
              ++wrong;
            }
          } catch (const EDBEngineError& error) {
            out << "reader " << r << ": " << error.what() << "\n";
            ++wrong;
          }
        }
      }
      return wrong == 0 ? 0 : 1;
    });
  }
  workers.Release();
  const std::vector<std::string> ended = workers.WaitAll(std::chrono::seconds(120));
  for (const std::string& problem : ended) ADD_FAILURE() << problem;
  for (int r = 0; r < 3; ++r) {
    std::ifstream in(dir.PathOf("reader" + std::to_string(r)));
    for (std::string line; std::getline(in, line);) ADD_FAILURE() << line;
  }
}

// Bounded for CI: the whole program runs in seconds, also under the sanitizers.
INSTANTIATE_TEST_SUITE_P(Stress, StressTest,
                         ::testing::Values(StressCase{"SixProcesses", 6, 800, 512, false},
                                           StressCase{"TableLockHalfway", 5, 800, 64, true},
                                           StressCase{"Transactions", 5, 600, 128, true, 12}),
                         [](const ::testing::TestParamInfo<StressCase>& info) { return info.param.name; });

}  // namespace
}  // namespace kavrin::engine
