// The sections every cursor operation runs in. Each is an object whose destructor releases what it
// took, so an error can never leave a lock held.
//
// TCursorGuard refuses re-entry: a call into the cursor from a message handler run during its own lock
// wait, or from its own record callback, would find its lock state half made.
//
// TReadSection (positioning and reading): on a shared cursor the index read lock and the index header
// check; Finish checks the data header and makes current the record at the index cursor.
//
// TWriteSection (insert, update, delete): refuses a read-only cursor; on a shared cursor the header
// lock (insert and delete) and the index writer lock; with blob fields the blob writer lock; the
// change checks; then, when the work is done, the write-through of a shared or table-locked cursor.
// A failure puts the header copy back and lets the index forget what it had not written.
#pragma once

#include <utility>
#include <vector>

#include "engine/data_file.h"

namespace kavrin::engine {

class TCursorGuard {
 public:
  explicit TCursorGuard(TDataFile& table);
  ~TCursorGuard() {
    if (owner_) table_.busy_ = false;
  }
  TCursorGuard(const TCursorGuard&) = delete;
  TCursorGuard& operator=(const TCursorGuard&) = delete;

 private:
  TDataFile& table_;
  bool owner_ = false;
};

// A call that a running operation of the cursor makes into the cursor's own public operations (a
// rollback replaying its log): the one call that follows is let in; anything else stays refused.
class TOwnCall {
 public:
  explicit TOwnCall(TDataFile& table) : table_(table) { table_.ownCall_ = true; }
  ~TOwnCall() { table_.ownCall_ = false; }
  TOwnCall(const TOwnCall&) = delete;
  TOwnCall& operator=(const TOwnCall&) = delete;

 private:
  TDataFile& table_;
};

// Runs an undo step when the scope is left by an exception, unless dismissed.
template <typename Undo>
class TOnFailure {
 public:
  explicit TOnFailure(Undo undo) : undo_(std::move(undo)) {}
  ~TOnFailure() {
    if (!dismissed_) {
      try {
        undo_();
      } catch (...) {
      }
    }
  }
  TOnFailure(const TOnFailure&) = delete;
  TOnFailure& operator=(const TOnFailure&) = delete;
  void Dismiss() { dismissed_ = true; }

 private:
  Undo undo_;
  bool dismissed_ = false;
};

class TReadSection {
 public:
  explicit TReadSection(TDataFile& table);
  ~TReadSection();
  TReadSection(const TReadSection&) = delete;
  TReadSection& operator=(const TReadSection&) = delete;

  void Finish();
  // Leaves the section early (to wait for a record lock outside it).
  void Release();

 private:
  TDataFile& table_;
  bool locked_ = false;
};

class TWriteSection {
 public:
  TWriteSection(TDataFile& table, bool headerLock);
  ~TWriteSection();
  TWriteSection(const TWriteSection&) = delete;
  TWriteSection& operator=(const TWriteSection&) = delete;

  // The work is done: select the remembered index again, re-find the cursor, write through.
  void Commit();
  // Commit, and the lock of record goes with the header lock; whether it went.
  bool CommitReleasing(std::int32_t record);
  // The change moved no key: an exclusive cursor without filters or callback, still on the record,
  // stands where re-finding it would put it.
  void KeysUnchanged() { keysUnchanged_ = true; }

 private:
  bool ReleaseLocks(std::int32_t record = 0) noexcept;
  void Finish();

  TDataFile& table_;
  bool headerLocked_ = false;
  bool indexLocked_ = false;
  bool blobLocked_ = false;
  bool committed_ = false;
  bool keysUnchanged_ = false;
  std::uint8_t activeIndex_ = 0;
  TDataFileHeader savedHeader_;
  // Where the cursor stood, to find it again in the pages on the file after a failed change.
  std::vector<std::uint8_t> savedKey_;
  bool savedBof_ = false;
  bool savedEof_ = false;
};

}  // namespace kavrin::engine
