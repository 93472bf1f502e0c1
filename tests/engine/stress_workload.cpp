#include "tests/engine/stress_workload.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <unordered_map>

#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "engine/error_codes.h"
#include "tests/engine/table_fixture.h"

namespace kavrin::engine::stress {
namespace {

using testing::Field;
using testing::Index;

// Stops the run: the cursor's state after an unexpected engine error is not worth going on with.
struct TStop {};

class TWorker {
 public:
  explicit TWorker(const TPlan& plan)
      : plan_(plan), random_(plan.Seed * 7919u + static_cast<std::uint32_t>(plan.Process)) {
    ledger_.Process = plan.Process;
    table_.SetFileName(plan.TablePath);
    table_.Open();
    // Short retries: a busy record is an outcome to count, not something to wait long for.
    table_.SetRetryCount(3);
    table_.SetRetryWait(2);
    image_.resize(static_cast<std::size_t>(table_.RecordSize()));
    probe_.resize(image_.size());
  }

  TLedger Run() {
    try {
      for (int op = 0; op < plan_.Operations; ++op) {
        if (op == plan_.TableLockAt) {
          if (inTransaction_) EndTransaction();
          TableLockPhase();
        }
        if (!inTransaction_ && plan_.TransactionEvery > 0 && Pick(static_cast<unsigned>(plan_.TransactionEvery)) == 0) {
          BeginTransaction();
        }
        const unsigned choice = Pick(100);
        if (ids_.empty() || choice < 35) {
          Insert();
        } else if (choice < 65) {
          Update();
        } else if (choice < 80) {
          Delete();
        } else if (choice < 96) {
          LockedRead();
        } else {
          ScanOwnRange();
        }
        if (inTransaction_ && --transactionLeft_ <= 0) EndTransaction();
        if (ledger_.Faults.size() >= 20) break;
      }
      if (inTransaction_) EndTransaction();
      // What a process leaves behind must also be what it finds at its end.
      ScanOwnRange();
    } catch (const TStop&) {
    }
    try {
      table_.UnlockAllRecords();
      table_.Close();
    } catch (const EDBEngineError& error) {
      Fault("close", error.Code(), error.what());
    }
    return std::move(ledger_);
  }

 private:
  unsigned Pick(unsigned n) { return static_cast<unsigned>(random_() % n); }

  std::int32_t RandomKey() { return KeyBase(plan_.Process) + static_cast<std::int32_t>(Pick(plan_.KeySpace)); }
  std::string RandomCode() { return CodeText(static_cast<std::int32_t>(Pick(plan_.CodeSpace))); }
  // A code of this process alone: "P", the process, "x", a number never given before.
  std::string PrivateCode() { return "P" + std::to_string(plan_.Process) + "x" + std::to_string(++privateCodes_); }
  static bool IsPrivate(const std::string& code) { return !code.empty() && code[0] == 'P'; }

  // Locks taken by the operation from here on are released by Unlock; the transaction's own stay.
  std::vector<std::int32_t> HeldLocks() const { return table_.LockedRecords(); }
  bool HoldsNewLocks(const std::vector<std::int32_t>& held) const {
    return std::any_of(table_.LockedRecords().begin(), table_.LockedRecords().end(),
                       [&](std::int32_t record) { return std::find(held.begin(), held.end(), record) == held.end(); });
  }
  void Unlock(const std::vector<std::int32_t>& held) {
    if (!inTransaction_) {
      table_.UnlockAllRecords();
      return;
    }
    const std::vector<std::int32_t> now = table_.LockedRecords();
    for (const std::int32_t record : now) {
      if (std::find(held.begin(), held.end(), record) == held.end()) table_.UnlockRecord(record);
    }
  }

  void BeginTransaction() {
    try {
      table_.StartTransaction();
    } catch (const EDBEngineError& error) {
      Unexpected("start transaction", error);
    }
    inTransaction_ = true;
    transactionLeft_ = 1 + static_cast<int>(Pick(8));
    saved_ = {ledger_.Records, ids_, position_, ledger_.Inserts, ledger_.Updates, ledger_.KeyChanges, ledger_.Deletes};
  }

  void EndTransaction() {
    inTransaction_ = false;
    if (Pick(2) == 0) {
      try {
        table_.Commit();
      } catch (const EDBEngineError& error) {
        Unexpected("commit", error);
      }
      ++ledger_.Commits;
    } else {
      // A rollback that meets a record another process holds for a moment is tried again.
      for (int tries = 0;; ++tries) {
        try {
          table_.Rollback();
          break;
        } catch (const EDBEngineError& error) {
          if (error.Code() != ec::RecordLocked || tries >= 50) Unexpected("rollback", error);
          ++ledger_.RecordLocked;
          usleep(2000);
        }
      }
      ++ledger_.Rollbacks;
      ledger_.Records = std::move(saved_.Records);
      ids_ = std::move(saved_.Ids);
      position_ = std::move(saved_.Position);
      ledger_.Inserts = saved_.Inserts;
      ledger_.Updates = saved_.Updates;
      ledger_.KeyChanges = saved_.KeyChanges;
      ledger_.Deletes = saved_.Deletes;
    }
    if (table_.InTransaction()) Fault("the transaction is still open after its end");
    if (!table_.LockedRecords().empty()) Fault("the end of a transaction left record locks behind");
    // Every own record is as the ledger says, after a rollback too.
    ScanOwnRange();
    for (const auto& [id, record] : ledger_.Records) {
      if (Pick(8) != 0) continue;
      if (FindOwn(id)) CheckAgainstLedger(image_.data(), id, "after the transaction");
    }
  }
  // Half the picks go to the lowest key, which the other processes' locked reads also aim at.
  std::int32_t RandomOwnId() {
    if (Pick(2) == 0) return ledger_.Records.begin()->first;
    return ids_[Pick(static_cast<unsigned>(ids_.size()))];
  }

  std::int32_t RandomNoteLength() {
    const unsigned kind = Pick(10);
    if (kind < 2) return 0;
    if (kind < 6) return 1 + static_cast<std::int32_t>(Pick(200));
    if (kind < 9) return 200 + static_cast<std::int32_t>(Pick(1300));
    return 1500 + static_cast<std::int32_t>(Pick(2500));
  }

  void Fault(const std::string& what, TErrorCode code = 0, const std::string& detail = {}) {
    std::ostringstream text;
    text << "process " << plan_.Process << ": " << what;
    if (code != 0) text << " (engine code " << code << ")";
    if (!detail.empty()) text << ": " << detail;
    ledger_.Faults.push_back(text.str());
  }

  // An engine error that the workload does not expect ends the run.
  [[noreturn]] void Unexpected(const std::string& what, const EDBEngineError& error) {
    Fault(what, error.Code(), error.what());
    throw TStop{};
  }

  bool SharedOutcome(const EDBEngineError& error) {
    if (error.Code() == ec::RecordLocked) {
      ++ledger_.RecordLocked;
      return true;
    }
    if (error.Code() == ec::KeyViolation) {
      ++ledger_.KeyViolations;
      return true;
    }
    return false;
  }

  void AddId(std::int32_t id) {
    position_[id] = ids_.size();
    ids_.push_back(id);
  }
  void RemoveId(std::int32_t id) {
    const std::size_t at = position_.at(id);
    ids_[at] = ids_.back();
    position_[ids_[at]] = at;
    ids_.pop_back();
    position_.erase(id);
  }

  bool CodeTakenByOwn(const std::string& code, std::int32_t except) const {
    for (const auto& [id, record] : ledger_.Records) {
      if (id != except && record.Code == code) return true;
    }
    return false;
  }

  std::int32_t IntField(std::int16_t field, const std::uint8_t* image) const {
    std::int32_t value = 0;
    bool isNull = true;
    table_.GetField(field, image, isNull, &value);
    return value;
  }
  std::string CodeField(const std::uint8_t* image) const {
    std::array<char, kCodeSize + 1> text{};
    bool isNull = true;
    table_.GetField(kCodeField, image, isNull, text.data());
    return text.data();
  }

  void Fill(std::uint8_t* image, std::int32_t id, const std::string& code, std::int32_t version) {
    std::array<char, kCodeSize + 1> text{};
    std::memcpy(text.data(), code.data(), std::min<std::size_t>(code.size(), kCodeSize));
    const std::int16_t owner = static_cast<std::int16_t>(plan_.Process);
    table_.SetField(kIdField, image, &id);
    table_.SetField(kCodeField, image, text.data());
    table_.SetField(kOwnerField, image, &owner);
    table_.SetField(kVersionField, image, &version);
  }

  // Opens the image's blob and makes it hold the note of (id, version); false after a fault.
  bool WriteNote(std::uint8_t* image, std::int32_t id, std::int32_t version, std::int32_t length) {
    if (const TErrorCode code = table_.OpenBlob(kNoteField, image)) {
      Fault("open blob for writing", code);
      return false;
    }
    const std::string note = NoteContent(id, version, length);
    if (const TErrorCode code = table_.TruncateBlob(kNoteField, image, 0)) {
      Fault("truncate blob", code);
      return false;
    }
    if (length > 0) {
      if (const TErrorCode code = table_.WriteBlob(kNoteField, image, 0, length, note.data())) {
        Fault("write blob", code);
        return false;
      }
    }
    return true;
  }

  void CloseNote(std::uint8_t* image) {
    if (!table_.BlobIsOpen(kNoteField, image)) return;
    if (const TErrorCode code = table_.CloseBlob(kNoteField, image)) Fault("close blob", code);
  }

  // The blob of a record image read under its record lock; nothing after a fault.
  std::optional<std::string> ReadNote(const std::uint8_t* image) {
    std::vector<std::uint8_t> copy(image, image + image_.size());
    if (const TErrorCode code = table_.OpenBlob(kNoteField, copy.data())) {
      Fault("open blob for reading", code);
      return std::nullopt;
    }
    std::int32_t size = 0;
    std::string note;
    TErrorCode code = table_.BlobSize(kNoteField, copy.data(), size);
    if (code == 0 && size > 0) {
      note.resize(static_cast<std::size_t>(size));
      std::int32_t read = 0;
      code = table_.ReadBlob(kNoteField, copy.data(), 0, size, note.data(), read);
      if (code == 0 && read != size) Fault("blob read short", 0, std::to_string(read) + " of " + std::to_string(size));
    }
    CloseNote(copy.data());
    if (code != 0) {
      Fault("read blob", code);
      return std::nullopt;
    }
    return note;
  }

  // Positions on an own record by primary key and copies it into image_; false after a fault.
  bool FindOwn(std::int32_t id) {
    table_.SelectIndex(0);
    table_.InitRecord(probe_.data());
    table_.SetField(kIdField, probe_.data(), &id);
    if (!table_.FindKey(false, probe_.data(), image_.data(), 0, false, 0)) {
      Fault("own record not found by its primary key", 0, std::to_string(id));
      return false;
    }
    if (IntField(kIdField, image_.data()) != id) {
      Fault("primary key search found another record", 0,
            std::to_string(id) + " gave " + std::to_string(IntField(kIdField, image_.data())));
      return false;
    }
    return true;
  }

  void CheckAgainstLedger(const std::uint8_t* image, std::int32_t id, const char* when) {
    const TExpectedRecord& expected = ledger_.Records.at(id);
    const std::string code = CodeField(image);
    const std::int32_t version = IntField(kVersionField, image);
    if (code != expected.Code || version != expected.Version) {
      Fault(std::string("record differs from what this process wrote, ") + when, 0,
            std::to_string(id) + " has " + code + "/v" + std::to_string(version) + ", expected " + expected.Code +
                "/v" + std::to_string(expected.Version));
      return;
    }
    const std::optional<std::string> note = ReadNote(image);
    if (note && *note != NoteContent(id, expected.Version, expected.NoteLength)) {
      Fault(std::string("blob differs from what this process wrote, ") + when, 0,
            std::to_string(id) + ": " + std::to_string(note->size()) + " bytes, expected " +
                std::to_string(expected.NoteLength));
    }
  }

  void NoteChange(std::int64_t began) {
    ledger_.Changes.emplace_back(began, MonotonicNanoseconds());
    if (underTableLock_) ++ledger_.TableLockChanges;
  }

  // A record lock refused under this cursor's own table lock cannot come from another process.
  void CheckTableLockOutcome(const EDBEngineError& error, const char* what) {
    if (underTableLock_ && error.Code() == ec::RecordLocked) {
      Fault(std::string(what) + " refused under own table lock", error.Code());
    }
  }

  void Insert() {
    const std::int64_t began = MonotonicNanoseconds();
    const std::int32_t id = RandomKey();
    const std::string code = inTransaction_ && Pick(3) == 0 ? PrivateCode() : RandomCode();
    const std::int32_t length = RandomNoteLength();
    const bool mustFail = ledger_.Records.contains(id) || CodeTakenByOwn(code, 0);
    const std::vector<std::int32_t> held = HeldLocks();
    table_.InitRecord(image_.data());
    Fill(image_.data(), id, code, 1);
    // A record without a note either never opens its blob or stores an empty one.
    const bool withBlob = length > 0 || Pick(2) == 0;
    if (withBlob && !WriteNote(image_.data(), id, 1, length)) {
      CloseNote(image_.data());
      return;
    }
    try {
      table_.InsertRecord(image_.data());
    } catch (const EDBEngineError& error) {
      CloseNote(image_.data());
      CheckTableLockOutcome(error, "insert");
      if (!SharedOutcome(error)) Unexpected("insert", error);
      if (inTransaction_ && error.Code() == ec::KeyViolation) ++ledger_.TransactionKeyViolations;
      // A failed insert changed nothing, so it holds no lock, in a transaction neither.
      if (HoldsNewLocks(held)) Fault("a failed insert kept a record lock", error.Code());
      return;
    }
    CloseNote(image_.data());
    if (mustFail) {
      Fault("insert of a key this process holds was accepted", 0, std::to_string(id) + "/" + code);
      throw TStop{};
    }
    if (!inTransaction_ && !table_.LockedRecords().empty()) Fault("insert left record locks behind");
    ++ledger_.Inserts;
    ledger_.Records[id] = {code, 1, length};
    AddId(id);
    NoteChange(began);
  }

  void Update() {
    const std::int64_t began = MonotonicNanoseconds();
    const std::int32_t id = RandomOwnId();
    if (!FindOwn(id)) return;
    const std::vector<std::int32_t> held = HeldLocks();
    try {
      table_.GetCurrent(image_.data(), true);
    } catch (const EDBEngineError& error) {
      CheckTableLockOutcome(error, "record lock");
      if (error.Code() != ec::RecordLocked) Unexpected("lock for update", error);
      ++ledger_.RecordLocked;
      return;
    }
    if (IntField(kIdField, image_.data()) != id) {
      Fault("locked read moved off the record", 0, std::to_string(id));
      Unlock(held);
      return;
    }
    CheckAgainstLedger(image_.data(), id, "before update");

    const TExpectedRecord& old = ledger_.Records.at(id);
    const unsigned kind = Pick(4);  // 0 no key change, 1 primary key, 2 code, 3 both
    const std::int32_t newId = (kind == 1 || kind == 3) ? RandomKey() : id;
    // In a transaction a code changes only from one of this process's own to another.
    const bool recode = (kind == 2 || kind == 3) && (!inTransaction_ || IsPrivate(old.Code));
    const std::string newCode = recode ? (inTransaction_ ? PrivateCode() : RandomCode()) : old.Code;
    const std::int32_t version = old.Version + 1;
    const std::int32_t length = RandomNoteLength();
    const bool mustFail = (newId != id && ledger_.Records.contains(newId)) || CodeTakenByOwn(newCode, id);
    Fill(image_.data(), newId, newCode, version);
    bool updated = false;
    if (WriteNote(image_.data(), newId, version, length)) {
      try {
        table_.UpdateRecord(image_.data(), true);
        updated = true;
      } catch (const EDBEngineError& error) {
        CheckTableLockOutcome(error, "update");
        if (!SharedOutcome(error)) {
          CloseNote(image_.data());
          Unexpected("update", error);
        }
      }
    }
    CloseNote(image_.data());
    if (!updated) {
      Unlock(held);
      return;
    }
    if (mustFail) {
      Fault("update to a key this process holds was accepted", 0, std::to_string(newId) + "/" + newCode);
      throw TStop{};
    }
    if (!inTransaction_ && !table_.LockedRecords().empty()) Fault("update with unlock left record locks behind");
    ++ledger_.Updates;
    if (newId != id || newCode != old.Code) ++ledger_.KeyChanges;
    ledger_.Records.erase(id);
    ledger_.Records[newId] = {newCode, version, length};
    if (newId != id) {
      RemoveId(id);
      AddId(newId);
    }
    NoteChange(began);
  }

  void Delete() {
    const std::int64_t began = MonotonicNanoseconds();
    std::int32_t id = RandomOwnId();
    if (inTransaction_) {
      // Only a record whose code no other process can take meanwhile, so the rollback can bring it back.
      id = 0;
      for (const auto& [own, record] : ledger_.Records) {
        if (IsPrivate(record.Code) && (id == 0 || Pick(3) == 0)) id = own;
      }
      if (id == 0) return;
    }
    if (!FindOwn(id)) return;
    const std::vector<std::int32_t> held = HeldLocks();
    // Half the deletes lock the record first, as an edit that ends in a delete does.
    if (Pick(2) == 0) {
      try {
        table_.GetCurrent(image_.data(), true);
      } catch (const EDBEngineError& error) {
        CheckTableLockOutcome(error, "record lock");
        if (error.Code() != ec::RecordLocked) Unexpected("lock for delete", error);
        ++ledger_.RecordLocked;
        return;
      }
      if (IntField(kIdField, image_.data()) != id) {
        Fault("locked read moved off the record", 0, std::to_string(id));
        Unlock(held);
        return;
      }
    }
    try {
      table_.DeleteRecord();
    } catch (const EDBEngineError& error) {
      Unlock(held);
      CheckTableLockOutcome(error, "delete");
      if (error.Code() != ec::RecordLocked) Unexpected("delete", error);
      ++ledger_.RecordLocked;
      return;
    }
    if (HoldsNewLocks(held)) {
      Fault("delete left record locks behind");
      Unlock(held);
    }
    ++ledger_.Deletes;
    ledger_.Records.erase(id);
    RemoveId(id);
    NoteChange(began);
  }

  // Locks any process's record, checks that its blob belongs to it, holds it a moment and lets go:
  // the owner meets the lock, and a record read under its lock must be whole.
  void LockedRead() {
    const std::vector<std::int32_t> held = HeldLocks();
    const std::uint8_t index = static_cast<std::uint8_t>(Pick(3));
    table_.SelectIndex(index);
    const std::int32_t count = table_.RecordCount();
    if (count > 0) {
      if (Pick(2) == 0) {
        // The lowest key of some process: a record its owner changes often.
        table_.SelectIndex(0);
        table_.InitRecord(probe_.data());
        const std::int32_t key = KeyBase(static_cast<int>(Pick(static_cast<unsigned>(plan_.Processes))));
        table_.SetField(kIdField, probe_.data(), &key);
        table_.FindKey(false, probe_.data(), nullptr, 0, true, 0);
      } else {
        table_.GotoRecordNo(1 + Pick(static_cast<unsigned>(count)));
      }
      TErrorCode code = 0;
      try {
        code = table_.GetCurrent(image_.data(), true);
      } catch (const EDBEngineError& error) {
        if (error.Code() != ec::RecordLocked) Unexpected("locked read", error);
        ++ledger_.RecordLocked;
        table_.SelectIndex(0);
        return;
      }
      if (code == 0) {
        const std::int32_t id = IntField(kIdField, image_.data());
        const std::int32_t version = IntField(kVersionField, image_.data());
        const std::optional<std::string> note = ReadNote(image_.data());
        if (note && *note != NoteContent(id, version, static_cast<std::int32_t>(note->size()))) {
          Fault("a locked record's blob belongs to another record or version", 0, std::to_string(id));
        }
        if (CodeField(image_.data()).empty()) Fault("a locked record has no code", 0, std::to_string(id));
        ++ledger_.LockedReads;
        // Now and then longer than the owner's retries last, so that it meets 10258.
        usleep(Pick(5) == 0 ? 8000 + Pick(6000) : Pick(2000));
      }
      Unlock(held);
    }
    table_.SelectIndex(0);
  }

  // Walks this process's key range: it must hold exactly this process's records, whatever the other
  // processes change around it meanwhile.
  void ScanOwnRange() {
    table_.SelectIndex(0);
    std::vector<std::uint8_t> start(image_.size()), end(image_.size());
    table_.InitRecord(start.data());
    table_.InitRecord(end.data());
    const std::int32_t first = KeyBase(plan_.Process);
    const std::int32_t last = first + plan_.KeySpace - 1;
    table_.SetField(kIdField, start.data(), &first);
    table_.SetField(kIdField, end.data(), &last);
    table_.SetRange(false, start.data(), 1, end.data(), 1);
    std::vector<std::int32_t> seen;
    table_.GotoBOF();
    while (table_.Next(image_.data()) == 0) {
      seen.push_back(IntField(kIdField, image_.data()));
      if (seen.size() > ledger_.Records.size() + 10) break;
    }
    const std::int32_t counted = table_.RecordCount();
    table_.CancelRange();
    std::vector<std::int32_t> expected;
    for (const auto& entry : ledger_.Records) expected.push_back(entry.first);
    if (seen != expected) {
      Fault("range scan of own keys differs", 0,
            "walked " + std::to_string(seen.size()) + ", expected " + std::to_string(expected.size()));
    }
    if (counted != static_cast<std::int32_t>(expected.size())) {
      Fault("range record count differs", 0, std::to_string(counted) + " for " + std::to_string(expected.size()));
    }
    ++ledger_.Scans;
  }

  void TableLockPhase() {
    for (int tries = 0;; ++tries) {
      try {
        table_.LockTable();
        break;
      } catch (const EDBEngineError& error) {
        if (error.Code() != ec::TableLocked) Unexpected("table lock", error);
        ++ledger_.TableLockRefused;
        if (tries > 5000) {
          Fault("table lock never obtained");
          return;
        }
        usleep(1000);
      }
    }
    ledger_.TableLockTaken = MonotonicNanoseconds();
    underTableLock_ = true;
    // Changes go on for the whole hold, so that the other processes read while they are written.
    const std::int64_t until = ledger_.TableLockTaken + std::int64_t{plan_.TableLockMilliseconds} * 1'000'000;
    for (int op = 0; op < plan_.TableLockOperations || MonotonicNanoseconds() < until; ++op) {
      if (op >= plan_.TableLockOperations) usleep(1000);
      const unsigned choice = Pick(100);
      if (ids_.empty() || choice < 40) {
        Insert();
      } else if (choice < 75) {
        Update();
      } else if (choice < 90) {
        Delete();
      } else {
        ScanOwnRange();
      }
    }
    ledger_.TableLockReleased = MonotonicNanoseconds();
    underTableLock_ = false;
    try {
      table_.UnlockTable();
    } catch (const EDBEngineError& error) {
      Unexpected("table unlock", error);
    }
  }

  const TPlan& plan_;
  std::mt19937 random_;
  TDataFile table_;
  std::vector<std::uint8_t> image_;
  std::vector<std::uint8_t> probe_;
  TLedger ledger_;
  std::vector<std::int32_t> ids_;
  std::unordered_map<std::int32_t, std::size_t> position_;
  bool underTableLock_ = false;
  bool inTransaction_ = false;
  int transactionLeft_ = 0;
  std::int32_t privateCodes_ = 0;
  // What the ledger held when the transaction began, for its rollback.
  struct TSaved {
    std::map<std::int32_t, TExpectedRecord> Records;
    std::vector<std::int32_t> Ids;
    std::unordered_map<std::int32_t, std::size_t> Position;
    std::int64_t Inserts = 0, Updates = 0, KeyChanges = 0, Deletes = 0;
  } saved_;
};

}  // namespace

std::vector<TFieldDescriptor> StressFields() {
  return {Field(kIdField, "ID", ftInteger), Field(kCodeField, "Code", ftString, kCodeSize),
          Field(kOwnerField, "Owner", ftSmallInt), Field(kVersionField, "Version", ftInteger),
          Field(kNoteField, "Note", ftBlob, 0, fstMemo)};
}

std::vector<TIndexDescriptor> StressIndexes() {
  return {Index("", {kIdField}, true), Index("ByCode", {kCodeField}, true), Index("ByOwner", {kOwnerField})};
}

std::string NoteContent(std::int32_t id, std::int32_t version, std::int32_t length) {
  const std::string unit = std::to_string(id) + "/" + std::to_string(version) + ";";
  std::string note;
  note.reserve(static_cast<std::size_t>(length) + unit.size());
  while (note.size() < static_cast<std::size_t>(length)) note += unit;
  note.resize(static_cast<std::size_t>(length));
  return note;
}

std::string CodeText(std::int32_t number) {
  std::string digits = std::to_string(number);
  return "C" + std::string(digits.size() < 7 ? 7 - digits.size() : 0, '0') + digits;
}

std::int32_t KeyBase(int process) { return (process + 1) * 10'000'000; }

std::int64_t MonotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

TLedger RunWorker(const TPlan& plan) {
  try {
    TWorker worker(plan);
    return worker.Run();
  } catch (const EDBEngineError& error) {
    TLedger ledger;
    ledger.Process = plan.Process;
    ledger.Faults.push_back("process " + std::to_string(plan.Process) + ": " + error.what());
    return ledger;
  }
}

void WriteLedger(const std::string& path, const TLedger& ledger) {
  std::ofstream out(path, std::ios::trunc);
  out << "process " << ledger.Process << "\n";
  out << "counts " << ledger.Inserts << ' ' << ledger.Updates << ' ' << ledger.KeyChanges << ' ' << ledger.Deletes
      << ' ' << ledger.LockedReads << ' ' << ledger.Scans << ' ' << ledger.RecordLocked << ' ' << ledger.KeyViolations
      << ' ' << ledger.TableLockRefused << ' ' << ledger.TableLockChanges << "\n";
  out << "transactions " << ledger.Commits << ' ' << ledger.Rollbacks << ' ' << ledger.TransactionKeyViolations << "\n";
  out << "tablelock " << ledger.TableLockTaken << ' ' << ledger.TableLockReleased << "\n";
  for (const auto& [began, ended] : ledger.Changes) out << "change " << began << ' ' << ended << "\n";
  for (const auto& [id, record] : ledger.Records) {
    out << "record " << id << ' ' << record.Code << ' ' << record.Version << ' ' << record.NoteLength << "\n";
  }
  for (const std::string& fault : ledger.Faults) out << "fault " << fault << "\n";
  out << "end\n";
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

TLedger ReadLedger(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("no ledger " + path);
  TLedger ledger;
  std::string line;
  bool ended = false;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string kind;
    fields >> kind;
    if (kind == "process") {
      fields >> ledger.Process;
    } else if (kind == "counts") {
      fields >> ledger.Inserts >> ledger.Updates >> ledger.KeyChanges >> ledger.Deletes >> ledger.LockedReads >>
          ledger.Scans >> ledger.RecordLocked >> ledger.KeyViolations >> ledger.TableLockRefused >>
          ledger.TableLockChanges;
    } else if (kind == "transactions") {
      fields >> ledger.Commits >> ledger.Rollbacks >> ledger.TransactionKeyViolations;
    } else if (kind == "tablelock") {
      fields >> ledger.TableLockTaken >> ledger.TableLockReleased;
    } else if (kind == "change") {
      std::pair<std::int64_t, std::int64_t> change;
      fields >> change.first >> change.second;
      ledger.Changes.push_back(change);
    } else if (kind == "record") {
      std::int32_t id = 0;
      TExpectedRecord record;
      fields >> id >> record.Code >> record.Version >> record.NoteLength;
      ledger.Records[id] = record;
    } else if (kind == "fault") {
      ledger.Faults.push_back(line.substr(6));
    } else if (kind == "end") {
      ended = true;
    }
    if (fields.fail()) throw std::runtime_error("malformed ledger line: " + line);
  }
  if (!ended) throw std::runtime_error("ledger " + path + " is cut short");
  return ledger;
}

}  // namespace kavrin::engine::stress
