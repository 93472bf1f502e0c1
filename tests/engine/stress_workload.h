// One process's share of the multi-process stress run: random inserts, updates (with key changes),
// deletes, locked reads and range scans on a shared table, and the ledger in which it writes down what
// succeeded, so that the parent can tell what the table must hold afterwards.
//
// Each process owns the primary keys of its own key space and changes only its own records, so its
// ledger predicts those records exactly; the unique codes are drawn from one space that all processes
// share, so key violations between processes happen and are expected.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine/data_file_format.h"
#include "engine/index_format.h"

namespace kavrin::engine::stress {

inline constexpr std::int16_t kIdField = 1;       // integer, primary index
inline constexpr std::int16_t kCodeField = 2;     // string, unique secondary index 1
inline constexpr std::int16_t kOwnerField = 3;    // smallint, non-unique secondary index 2
inline constexpr std::int16_t kVersionField = 4;  // integer
inline constexpr std::int16_t kNoteField = 5;     // blob: the record's key and version, repeated
inline constexpr std::uint8_t kCodeSize = 12;

std::vector<TFieldDescriptor> StressFields();
std::vector<TIndexDescriptor> StressIndexes();

// What a record's blob holds: "<id>/<version>;" repeated and cut to length bytes.
std::string NoteContent(std::int32_t id, std::int32_t version, std::int32_t length);
std::string CodeText(std::int32_t number);
// The first primary key of a process's key space; its keys are KeyBase(p) .. KeyBase(p) + keySpace - 1.
std::int32_t KeyBase(int process);

struct TPlan {
  std::string TablePath;
  int Process = 0;
  int Processes = 1;
  int Operations = 0;
  std::uint32_t Seed = 0;
  std::int32_t KeySpace = 1;
  std::int32_t CodeSpace = 1;
  // Before this operation the process takes the table lock (-1: never) and makes changes under it,
  // at least TableLockOperations of them and for at least TableLockMilliseconds.
  int TableLockAt = -1;
  int TableLockOperations = 0;
  int TableLockMilliseconds = 0;
  // One operation in this many starts a transaction of a few changes, committed or rolled back (0:
  // never). Inside one, deletes and code changes touch only records whose code no other process can
  // take (a rollback must be able to put them back); inserts still meet the other processes' codes.
  int TransactionEvery = 0;
};

struct TExpectedRecord {
  std::string Code;
  std::int32_t Version = 0;
  std::int32_t NoteLength = 0;
  bool operator==(const TExpectedRecord&) const = default;
};

struct TLedger {
  int Process = 0;
  std::int64_t Inserts = 0;
  std::int64_t Updates = 0;
  std::int64_t KeyChanges = 0;  // updates that changed the primary key, the code or both
  std::int64_t Deletes = 0;
  std::int64_t LockedReads = 0;
  std::int64_t Scans = 0;
  std::int64_t RecordLocked = 0;      // 10258 met
  std::int64_t KeyViolations = 0;     // 9729 met
  std::int64_t TableLockRefused = 0;  // 10241 met while taking the table lock
  std::int64_t TableLockChanges = 0;  // changes made under the table lock
  std::int64_t Commits = 0;
  std::int64_t Rollbacks = 0;
  std::int64_t TransactionKeyViolations = 0;  // 9729 met inside a transaction
  // CLOCK_MONOTONIC nanoseconds: when each successful change began and ended, and when the table lock
  // was held (-1 when it never was).
  std::vector<std::pair<std::int64_t, std::int64_t>> Changes;
  std::int64_t TableLockTaken = -1;
  std::int64_t TableLockReleased = -1;
  std::map<std::int32_t, TExpectedRecord> Records;  // by primary key: what this process left behind
  std::vector<std::string> Faults;                  // what the engine did wrong, as seen from this process
};

std::int64_t MonotonicNanoseconds();

// Runs the plan on the table and returns the ledger; engine errors other than the expected ones end
// the run early and are written down as faults.
TLedger RunWorker(const TPlan& plan);

void WriteLedger(const std::string& path, const TLedger& ledger);
// Throws std::runtime_error when the file is missing or malformed.
TLedger ReadLedger(const std::string& path);

}  // namespace kavrin::engine::stress
