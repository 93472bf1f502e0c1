// LockFile/UnlockFile semantics between handles and between processes, with a real second process.
#include "platform/byte_locks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win_file.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/holder_process.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::platform {
namespace {

using testing::HolderAccess;
using testing::HolderProcess;
using testing::HolderShare;
using testing::TempDir;
using testing::WriteWholeFile;

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShared = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr std::uint64_t kMaxOffset = INT64_MAX;

class ByteLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.PathOf("LOCKS.DAT");
    WriteWholeFile(path_, "");
  }
  void TearDown() override {
    for (HANDLE h : open_) CloseHandle(h);
  }

  HANDLE Open(DWORD access = kReadWrite) {
    HANDLE h = CreateFileA(path_, access, kShared, OPEN_EXISTING);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    open_.push_back(h);
    return h;
  }

  void Close(HANDLE h) {
    std::erase(open_, h);
    EXPECT_TRUE(CloseHandle(h));
  }

  std::unique_ptr<HolderProcess> Holder(HolderAccess access = HolderAccess::ReadWrite) {
    auto holder = std::make_unique<HolderProcess>(path_, access, HolderShare::Shared);
    EXPECT_TRUE(holder->Ready());
    return holder;
  }

  // LockFile's result as a code: ERROR_SUCCESS or its last error.
  static DWORD LockResult(HANDLE h, std::uint64_t offset, std::uint64_t length) {
    return LockFile(h, offset, length) ? ERROR_SUCCESS : GetLastError();
  }
  static DWORD UnlockResult(HANDLE h, std::uint64_t offset, std::uint64_t length) {
    return UnlockFile(h, offset, length) ? ERROR_SUCCESS : GetLastError();
  }

  TempDir dir_;
  std::string path_;
  std::vector<HANDLE> open_;
};

TEST_F(ByteLockTest, TwoHandlesOfOneProcessExcludeEachOther) {
  HANDLE a = Open();
  HANDLE b = Open();
  ASSERT_EQ(LockResult(a, 100, 10), ERROR_SUCCESS);
  EXPECT_EQ(LockResult(b, 100, 10), ERROR_LOCK_VIOLATION);
  EXPECT_EQ(LockResult(b, 109, 5), ERROR_LOCK_VIOLATION);
  EXPECT_EQ(LockResult(b, 90, 11), ERROR_LOCK_VIOLATION);
  EXPECT_EQ(LockResult(b, 110, 5), ERROR_SUCCESS);
  EXPECT_EQ(LockResult(b, 90, 10), ERROR_SUCCESS);
  EXPECT_EQ(UnlockResult(b, 100, 10), ERROR_NOT_LOCKED) << "b never held a's range";
  ASSERT_EQ(UnlockResult(a, 100, 10), ERROR_SUCCESS);
  EXPECT_EQ(LockResult(b, 100, 10), ERROR_SUCCESS);
}

TEST_F(ByteLockTest, AHandleMayNotLockARangeOverlappingItsOwn) {
  HANDLE h = Open();
  ASSERT_EQ(LockResult(h, 100, 10), ERROR_SUCCESS);
  const struct {
    std::uint64_t offset, length;
    DWORD result;
  } cases[] = {
      {100, 10, ERROR_LOCK_VIOLATION},  // the same range
      {102, 3, ERROR_LOCK_VIOLATION},   // inside it
      {95, 6, ERROR_LOCK_VIOLATION},    // over its first byte
      {109, 5, ERROR_LOCK_VIOLATION},   // over its last byte
      {0, 1000, ERROR_LOCK_VIOLATION},  // around it
      {110, 1, ERROR_SUCCESS},          // right after it
      {99, 1, ERROR_SUCCESS},           // right before it
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LockResult(h, c.offset, c.length), c.result) << c.offset << "+" << c.length;
  }
}

TEST_F(ByteLockTest, UnlockFreesOnlyARangeHeldExactlyAsLocked) {
  HANDLE h = Open();
  ASSERT_EQ(LockResult(h, 100, 10), ERROR_SUCCESS);
  const struct {
    std::uint64_t offset, length;
  } not_held[] = {{200, 10}, {100, 5}, {105, 5}, {100, 11}, {99, 10}, {101, 10}};
  for (const auto& c : not_held) {
    EXPECT_EQ(UnlockResult(h, c.offset, c.length), ERROR_NOT_LOCKED) << c.offset << "+" << c.length;
  }
  auto holder = Holder();
  EXPECT_EQ(holder->Lock(100, 10).error, ERROR_LOCK_VIOLATION) << "a refused unlock must keep the lock";
  ASSERT_EQ(UnlockResult(h, 100, 10), ERROR_SUCCESS);
  EXPECT_EQ(UnlockResult(h, 100, 10), ERROR_NOT_LOCKED);
  EXPECT_TRUE(holder->Lock(100, 10).ok);
}

// The kernel merges adjacent ranges of one handle into one lock; unlocking one of them must still
// leave the other held.
TEST_F(ByteLockTest, UnlockingOneOfTwoAdjacentRangesKeepsTheOther) {
  HANDLE h = Open();
  ASSERT_EQ(LockResult(h, 0, 10), ERROR_SUCCESS);
  ASSERT_EQ(LockResult(h, 10, 10), ERROR_SUCCESS);
  ASSERT_EQ(UnlockResult(h, 0, 10), ERROR_SUCCESS);
  auto holder = Holder();
  EXPECT_TRUE(holder->Lock(0, 10).ok);
  EXPECT_EQ(holder->Lock(10, 10).error, ERROR_LOCK_VIOLATION);
  EXPECT_EQ(holder->Lock(19, 1).error, ERROR_LOCK_VIOLATION);
}

// A pair goes in one kernel unlock over the span between them only when that drops nothing else.
TEST_F(ByteLockTest, UnlockingAPairFreesBothAndKeepsWhatLiesBetween) {
  HANDLE h = Open();
  HANDLE other = Open();
  auto holder = Holder();
  ASSERT_EQ(LockResult(h, 100, 1), ERROR_SUCCESS);
  ASSERT_EQ(LockResult(h, 110, 2), ERROR_SUCCESS);
  ASSERT_EQ(LockResult(other, 104, 1), ERROR_SUCCESS);
  ASSERT_EQ(LockResult(h, 106, 1), ERROR_SUCCESS);
  ASSERT_EQ(LockResult(h, 200, 1), ERROR_SUCCESS);
  EXPECT_FALSE(UnlockFilePair(h, 100, 1, 300, 1));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_LOCKED));
  EXPECT_FALSE(UnlockFilePair(h, 110, 1, 100, 1)) << "held only as 110+2";
  EXPECT_EQ(holder->Lock(100, 1).error, ERROR_LOCK_VIOLATION) << "a refused pair unlocks neither";
  EXPECT_EQ(holder->Lock(111, 1).error, ERROR_LOCK_VIOLATION);
  ASSERT_TRUE(UnlockFilePair(h, 110, 2, 100, 1));  // h's 106 lies between: two calls
  EXPECT_EQ(holder->Lock(106, 1).error, ERROR_LOCK_VIOLATION);
  ASSERT_EQ(LockResult(h, 120, 1), ERROR_SUCCESS);
  ASSERT_TRUE(UnlockFilePair(h, 106, 1, 120, 1));  // nothing of h's between: one call
  EXPECT_TRUE(holder->Lock(100, 4).ok);
  EXPECT_TRUE(holder->Lock(105, 16).ok) << "106, 110+2 and 120 went";
  EXPECT_EQ(holder->Lock(104, 1).error, ERROR_LOCK_VIOLATION) << "another handle's lock stays";
  EXPECT_EQ(holder->Lock(200, 1).error, ERROR_LOCK_VIOLATION);
  EXPECT_EQ(UnlockResult(h, 110, 2), ERROR_NOT_LOCKED);
  EXPECT_EQ(UnlockResult(h, 200, 1), ERROR_SUCCESS);
}

TEST_F(ByteLockTest, ClosingOneHandleKeepsTheLocksOfAnother) {
  HANDLE a = Open();
  HANDLE b = Open();
  ASSERT_EQ(LockResult(a, 0, 10), ERROR_SUCCESS);
  ASSERT_EQ(LockResult(b, 100, 10), ERROR_SUCCESS);
  Close(a);
  auto holder = Holder();
  EXPECT_TRUE(holder->Lock(0, 10).ok) << "a's locks go with a";
  EXPECT_EQ(holder->Lock(100, 10).error, ERROR_LOCK_VIOLATION) << "b's locks stay with b";
  EXPECT_EQ(UnlockResult(b, 100, 10), ERROR_SUCCESS);
}

TEST_F(ByteLockTest, LocksHoldBetweenProcessesBothWays) {
  HANDLE h = Open();
  auto holder = Holder();
  ASSERT_EQ(LockResult(h, 0x7FFFFFF0, 16), ERROR_SUCCESS);  // near 2 GiB, where the engine's lock bytes live
  ASSERT_EQ(LockResult(h, (std::uint64_t{1} << 40) + 1, 1), ERROR_SUCCESS);
  EXPECT_EQ(holder->Lock(0x7FFFFFFF, 1).error, ERROR_LOCK_VIOLATION);
  EXPECT_EQ(holder->Lock(std::uint64_t{1} << 40, 2).error, ERROR_LOCK_VIOLATION);
  EXPECT_TRUE(holder->Lock(0x80000000, 1).ok);
  EXPECT_TRUE(holder->Lock(5, 5).ok);
  EXPECT_EQ(LockResult(h, 0, 6), ERROR_LOCK_VIOLATION);
  EXPECT_EQ(LockResult(h, 9, 1), ERROR_LOCK_VIOLATION);
  EXPECT_EQ(LockResult(h, 0, 5), ERROR_SUCCESS);
}

TEST_F(ByteLockTest, ARangeHeldElsewhereIsGrantedOnceTheHolderLetsGo) {
  enum class Release { Unlock, Close, Stop, Kill };
  HANDLE h = Open();
  for (Release release : {Release::Unlock, Release::Close, Release::Stop, Release::Kill}) {
    SCOPED_TRACE(static_cast<int>(release));
    auto holder = Holder();
    ASSERT_TRUE(holder->Lock(1000, 8).ok);
    EXPECT_EQ(LockResult(h, 1000, 8), ERROR_LOCK_VIOLATION) << "refused at once, without waiting";
    EXPECT_EQ(LockResult(h, 1004, 1), ERROR_LOCK_VIOLATION);
    switch (release) {
      case Release::Unlock: ASSERT_TRUE(holder->Unlock(1000, 8).ok); break;
      case Release::Close: ASSERT_TRUE(holder->Close().ok); break;
      case Release::Stop: ASSERT_EQ(holder->Stop(), 0); break;
      case Release::Kill: holder->Kill(); break;
    }
    ASSERT_EQ(LockResult(h, 1000, 8), ERROR_SUCCESS);
    ASSERT_EQ(UnlockResult(h, 1000, 8), ERROR_SUCCESS);
  }
}

TEST_F(ByteLockTest, ReadOnlyHandlesShareReadLocksButExcludeWriters) {
  HANDLE reader = Open(GENERIC_READ);
  ASSERT_EQ(LockResult(reader, 50, 10), ERROR_SUCCESS);

  auto other_reader = Holder(HolderAccess::Read);
  EXPECT_TRUE(other_reader->Lock(50, 10).ok);
  HANDLE second_reader = Open(GENERIC_READ);
  EXPECT_EQ(LockResult(second_reader, 55, 10), ERROR_SUCCESS);

  auto writer = Holder(HolderAccess::ReadWrite);
  EXPECT_EQ(writer->Lock(59, 1).error, ERROR_LOCK_VIOLATION);
  HANDLE local_writer = Open(kReadWrite);
  EXPECT_EQ(LockResult(local_writer, 50, 1), ERROR_LOCK_VIOLATION);

  // And a writer's lock keeps readers out.
  ASSERT_TRUE(writer->Lock(200, 10).ok);
  EXPECT_EQ(LockResult(reader, 200, 1), ERROR_LOCK_VIOLATION);
  EXPECT_EQ(other_reader->Lock(205, 1).error, ERROR_LOCK_VIOLATION);
}

TEST_F(ByteLockTest, RefusesBadRangesAndHandles) {
  HANDLE h = Open();
  EXPECT_EQ(LockResult(h, 10, 0), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(UnlockResult(h, 10, 0), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(LockResult(h, kMaxOffset + 1, 1), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(LockResult(h, kMaxOffset, 2), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(LockResult(h, 1, UINT64_MAX), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(LockResult(h, kMaxOffset, 1), ERROR_SUCCESS) << "the last addressable byte";
  EXPECT_EQ(LockResult(h, 0, kMaxOffset), ERROR_SUCCESS) << "everything before it";
  EXPECT_EQ(UnlockResult(h, kMaxOffset, 1), ERROR_SUCCESS);

  HANDLE closed = Open();
  Close(closed);
  for (HANDLE bad : {INVALID_HANDLE_VALUE, closed, STDERR_FILENO}) {
    EXPECT_EQ(LockResult(bad, 0, 1), ERROR_INVALID_HANDLE) << bad;
    EXPECT_EQ(UnlockResult(bad, 0, 1), ERROR_INVALID_HANDLE) << bad;
  }
}

}  // namespace
}  // namespace kavrin::platform
