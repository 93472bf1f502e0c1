// The index locks and the change counter between handles: two handles of one process, and a second
// process started with fork that works on the same file through its own TIndexFile.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "engine/cache_budget.h"
#include "engine/index_file.h"
#include "engine/memory_files.h"
#include "tests/engine/index_test_support.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine {
namespace {

using index_testing::CodeOf;
using index_testing::IndexFixture;
using index_testing::MakeKey;
using index_testing::TestOwner;

constexpr TIndexLockRetry QuickRetry{1, 3};

class IndexLocksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = dir.PathOf("SHARED.IDX");
    IndexFixture fixture(path, 8, false, /*inMemory=*/false);
    for (std::uint32_t v = 1; v <= 400; ++v) fixture.file.InsertKey(MakeKey(v, 8), static_cast<std::int32_t>(v));
    fixture.file.Recount();
    fixture.file.FlushPages();
    fixture.file.WriteHeader();
  }

  // A shared handle on the file, with short lock waits.
  void Open(TIndexFile& file) {
    file.SetFileName(path);
    file.SetLockRetry(QuickRetry);
    file.OpenFile();
  }

  // One change as the data file makes it on a shared table.
  static void InsertShared(TIndexFile& file, std::uint32_t value) {
    TIndexWriteSection section(file);
    file.CheckHeaderChanged();
    file.SetHeaderCurrent(true);
    file.InsertKey(MakeKey(value, 8), static_cast<std::int32_t>(value));
    file.Recount();
    file.FlushPages();
    file.WriteHeader();
  }

  testing::TempDir dir;
  std::string path;
};

TEST_F(IndexLocksTest, ReaderBytesAlwaysLieInsideTheWritersRange) {
  TestOwner owner;
  TIndexFile file(owner);
  Open(file);
  for (int i = 0; i < 3000; ++i) {
    file.ReadLock();
    const std::int64_t byte = ReaderLockBase - file.ReaderLockNumber();
    ASSERT_GE(byte, WriterLockOffset);
    ASSERT_LE(byte, WriterLockOffset + WriterLockLength - 1);
    file.ReadUnlock();
  }
  EXPECT_EQ(CodeOf([&] { file.ReadUnlock(); }), ec::CannotUnlock);
  EXPECT_EQ(CodeOf([&] { file.WriteUnlock(); }), ec::CannotUnlock);
}

TEST_F(IndexLocksTest, TwoHandlesInOneProcessExcludeEachOther) {
  TestOwner ownerA, ownerB;
  TIndexFile a(ownerA), b(ownerB);
  Open(a);
  Open(b);
  a.WriteLock();
  EXPECT_EQ(CodeOf([&] { b.ReadLock(); }), ec::GeneralLockFailure);
  EXPECT_EQ(CodeOf([&] { b.WriteLock(); }), ec::GeneralLockFailure);
  // A handle that cannot even read the header under the lock does not open.
  TestOwner ownerC;
  TIndexFile c(ownerC);
  EXPECT_EQ(CodeOf([&] { Open(c); }), ec::GeneralLockFailure);
  EXPECT_FALSE(c.Opened());
  a.WriteUnlock();
  b.ReadLock();
  a.ReadLock();  // readers share
  EXPECT_EQ(CodeOf([&] { a.WriteUnlock(); }), ec::CannotUnlock);
  a.ReadUnlock();
  EXPECT_EQ(CodeOf([&] { a.WriteLock(); }), ec::GeneralLockFailure);  // a reader keeps writers out
  b.ReadUnlock();
  a.WriteLock();
  a.WriteUnlock();
}

TEST_F(IndexLocksTest, AChangeByOneHandleMakesTheOtherDropItsCache) {
  TestOwner ownerA, ownerB;
  TIndexFile a(ownerA), b(ownerB);
  Open(a);
  Open(b);
  {
    TIndexReadSection section(a);
    a.CheckHeaderChanged();
    a.SetHeaderCurrent(true);
    EXPECT_FALSE(a.KeyExists(MakeKey(1000, 8)));
  }
  ASSERT_GT(a.CachedPageCount(0), 0u);
  std::size_t cachedAtSync = 99;
  ownerA.onSync = [&] { cachedAtSync = a.CachedPageCount(0); };

  InsertShared(b, 1000);
  EXPECT_FALSE(b.HeaderCurrent());

  TIndexReadSection section(a);
  a.CheckHeaderChanged();
  EXPECT_EQ(ownerA.syncCalls, 1);
  EXPECT_EQ(cachedAtSync, 0u);
  EXPECT_EQ(a.RecordCount(), 401);
  EXPECT_TRUE(a.KeyExists(MakeKey(1000, 8)));
  a.CheckHeaderChanged();  // no further change: nothing to do
  EXPECT_EQ(ownerA.syncCalls, 1);
}

TEST_F(IndexLocksTest, FailedChangeOnASharedFileLeavesNothingBehind) {
  TestOwner owner;
  TIndexFile file(owner);
  // A small cache, so the change makes far more pages than it holds.
  const std::size_t budget = kavrin::engine::TableCacheBudget();
  kavrin::engine::SetTableCacheBudget(kavrin::engine::MinimumTableCacheBudget);
  Open(file);
  kavrin::engine::SetTableCacheBudget(budget);
  const std::int32_t end = file.Header().EndOfFile;
  const std::int64_t size = file.Size();
  std::int64_t sizeInside = 0;
  std::size_t cachedInside = 0;
  EXPECT_THROW(
      {
        TIndexWriteSection section(file);
        file.CheckHeaderChanged();
        file.SetHeaderCurrent(true);
        for (std::uint32_t v = 2000; v < 12000; ++v) file.InsertKey(MakeKey(v, 8), static_cast<std::int32_t>(v));
        sizeInside = file.Size();
        cachedInside = file.CachedPageCount(0);
        throw std::runtime_error("the data file's part of the change failed");
      },
      std::runtime_error);
  // Far more changed pages than the cache holds, and still none written before the flush.
  EXPECT_GT(cachedInside, file.PageCacheCapacity());
  EXPECT_EQ(sizeInside, size);
  EXPECT_EQ(file.CachedPageCount(0), 0u);
  EXPECT_EQ(file.Header().EndOfFile, end);
  EXPECT_FALSE(file.KeyExists(MakeKey(2000, 8)));
  TestOwner otherOwner;
  TIndexFile other(otherOwner);
  Open(other);
  other.WriteLock();  // the section's lock is gone
  other.WriteUnlock();
}

// The second process: opens the file itself, then does what `mode` says: 'W' or 'R' holds the writer's
// or a reader's lock, reports "L" on `done` and waits for a byte on `go` before unlocking; 'C' makes one
// change. It reports "D" on `done` at the end.
int RunSecondProcess(const std::string& path, int go, int done, char mode) {
  try {
    TestOwner owner;
    TIndexFile file(owner);
    file.SetFileName(path);
    file.SetLockRetry(QuickRetry);
    file.OpenFile();
    char c = 0;
    if (mode == 'W' || mode == 'R') {
      if (mode == 'W') {
        file.WriteLock();
      } else {
        file.ReadLock();
      }
      if (write(done, "L", 1) != 1) return 2;
      if (read(go, &c, 1) != 1) return 3;
      if (mode == 'W') {
        file.WriteUnlock();
      } else {
        file.ReadUnlock();
      }
    } else {
      {
        TIndexWriteSection section(file);
        file.CheckHeaderChanged();
        file.SetHeaderCurrent(true);
        file.InsertKey(MakeKey(5000, 8), 5000);
        file.Recount();
        file.FlushPages();
        file.WriteHeader();
      }
    }
    if (write(done, "D", 1) != 1) return 4;
    return 0;
  } catch (...) {
    return 1;
  }
}

struct Child {
  pid_t pid = -1;
  int go = -1;
  int done = -1;
  int Wait() {
    int status = 0;
    waitpid(pid, &status, 0);
    close(go);
    close(done);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

Child Start(const std::string& path, char mode) {
  int toChild[2], fromChild[2];
  if (pipe(toChild) != 0 || pipe(fromChild) != 0) throw std::runtime_error("pipe");
  const pid_t pid = fork();
  if (pid == 0) {
    close(toChild[1]);
    close(fromChild[0]);
    _exit(RunSecondProcess(path, toChild[0], fromChild[1], mode));
  }
  close(toChild[0]);
  close(fromChild[1]);
  return Child{pid, toChild[1], fromChild[0]};
}

TEST_F(IndexLocksTest, AnotherProcessesWriterKeepsThisReaderOut) {
  TestOwner owner;
  TIndexFile file(owner);
  Open(file);
  Child child = Start(path, 'W');
  char c = 0;
  ASSERT_EQ(read(child.done, &c, 1), 1);
  ASSERT_EQ(c, 'L');
  EXPECT_EQ(CodeOf([&] { file.ReadLock(); }), ec::GeneralLockFailure);
  EXPECT_EQ(CodeOf([&] { file.WriteLock(); }), ec::GeneralLockFailure);
  ASSERT_EQ(write(child.go, "g", 1), 1);
  ASSERT_EQ(read(child.done, &c, 1), 1);
  file.ReadLock();
  file.ReadUnlock();
  EXPECT_EQ(child.Wait(), 0);
}

TEST_F(IndexLocksTest, AnotherProcessesReaderKeepsThisWriterOutButNotThisReader) {
  TestOwner owner;
  TIndexFile file(owner);
  Open(file);
  Child child = Start(path, 'R');
  char c = 0;
  ASSERT_EQ(read(child.done, &c, 1), 1);
  ASSERT_EQ(c, 'L');
  EXPECT_EQ(CodeOf([&] { file.WriteLock(); }), ec::GeneralLockFailure);
  file.ReadLock();
  file.ReadUnlock();
  ASSERT_EQ(write(child.go, "g", 1), 1);
  ASSERT_EQ(read(child.done, &c, 1), 1);
  file.WriteLock();
  file.WriteUnlock();
  EXPECT_EQ(child.Wait(), 0);
}

TEST_F(IndexLocksTest, AnotherProcessesChangeReachesThisHandleThroughTheCounter) {
  TestOwner owner;
  TIndexFile file(owner);
  Open(file);
  ASSERT_FALSE(file.KeyExists(MakeKey(5000, 8)));
  ASSERT_GT(file.CachedPageCount(0), 0u);
  Child child = Start(path, 'C');
  char c = 0;
  ASSERT_EQ(read(child.done, &c, 1), 1);
  EXPECT_EQ(child.Wait(), 0);
  std::size_t cachedAtSync = 99;
  owner.onSync = [&] { cachedAtSync = file.CachedPageCount(0); };
  TIndexReadSection section(file);
  file.CheckHeaderChanged();
  EXPECT_EQ(owner.syncCalls, 1);
  EXPECT_EQ(cachedAtSync, 0u);
  EXPECT_TRUE(file.KeyExists(MakeKey(5000, 8)));
  EXPECT_EQ(file.RecordCount(), 401);
}

}  // namespace
}  // namespace kavrin::engine
