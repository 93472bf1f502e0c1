// Windows share modes between processes, and within one process, with a real second process.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/win_file.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/holder_process.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::platform {
namespace {

using testing::HolderAccess;
using testing::HolderDisposition;
using testing::HolderProcess;
using testing::HolderShare;
using testing::ReadWholeFile;
using testing::TempDir;
using testing::WriteWholeFile;

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShared = FILE_SHARE_READ | FILE_SHARE_WRITE;

struct OpenKind {
  HolderAccess access;
  HolderShare share;

  DWORD AccessBits() const { return access == HolderAccess::Read ? GENERIC_READ : kReadWrite; }
  DWORD ShareBits() const { return share == HolderShare::Shared ? kShared : 0; }
};

std::ostream& operator<<(std::ostream& out, const OpenKind& kind) {
  return out << (kind.access == HolderAccess::Read ? "read-only " : "read-write ")
             << (kind.share == HolderShare::Shared ? "shared" : "exclusive");
}

const OpenKind kAllKinds[] = {
    {HolderAccess::Read, HolderShare::Shared},
    {HolderAccess::ReadWrite, HolderShare::Shared},
    {HolderAccess::Read, HolderShare::Exclusive},
    {HolderAccess::ReadWrite, HolderShare::Exclusive},
};

class ShareModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.PathOf("TABLE.DAT");
    WriteWholeFile(path_, "table bytes");
  }

  TempDir dir_;
  std::string path_;
};

// Whatever the access, two opens coexist only when both share.
TEST_F(ShareModeTest, AnOpenInAnotherProcessAdmitsOnlySharedOpens) {
  for (const OpenKind& first : kAllKinds) {
    HolderProcess holder(path_, first.access, first.share);
    ASSERT_TRUE(holder.Ready()) << first;
    for (const OpenKind& second : kAllKinds) {
      SCOPED_TRACE(::testing::Message() << "held " << first << ", opened " << second);
      const bool admitted = first.share == HolderShare::Shared && second.share == HolderShare::Shared;
      HANDLE h = CreateFileA(path_, second.AccessBits(), second.ShareBits(), OPEN_EXISTING);
      if (admitted) {
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
      } else {
        EXPECT_EQ(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
      }
      if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
  }
}

TEST_F(ShareModeTest, TwoOpensInOneProcessExcludeEachOtherTheSameWay) {
  for (const OpenKind& first : kAllKinds) {
    HANDLE held = CreateFileA(path_, first.AccessBits(), first.ShareBits(), OPEN_EXISTING);
    ASSERT_NE(held, INVALID_HANDLE_VALUE) << first;
    for (const OpenKind& second : kAllKinds) {
      SCOPED_TRACE(::testing::Message() << "held " << first << ", opened " << second);
      const bool admitted = first.share == HolderShare::Shared && second.share == HolderShare::Shared;
      HANDLE h = CreateFileA(path_, second.AccessBits(), second.ShareBits(), OPEN_EXISTING);
      if (admitted) {
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
      } else {
        EXPECT_EQ(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
      }
      if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    EXPECT_TRUE(CloseHandle(held));
  }
}

TEST_F(ShareModeTest, AnotherProcessIsKeptOutOfAFileWeHoldExclusively) {
  HANDLE h = CreateFileA(path_, GENERIC_READ, 0, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  for (const OpenKind& kind : kAllKinds) {
    HolderProcess holder(path_, kind.access, kind.share);
    EXPECT_FALSE(holder.Ready()) << kind;
    EXPECT_EQ(holder.OpenError(), ERROR_SHARING_VIOLATION) << kind;
  }
  ASSERT_TRUE(CloseHandle(h));
  HolderProcess holder(path_, HolderAccess::ReadWrite, HolderShare::Exclusive);
  EXPECT_TRUE(holder.Ready());
}

// "Other writers denied" cannot be told apart from full sharing by flock: it is taken as exclusive.
TEST_F(ShareModeTest, SharingWithReadersOnlyIsExclusive) {
  for (DWORD partial : {DWORD{FILE_SHARE_READ}, DWORD{FILE_SHARE_WRITE}}) {
    SCOPED_TRACE(partial);
    {
      HolderProcess holder(path_, HolderAccess::Read, HolderShare::Shared);
      ASSERT_TRUE(holder.Ready());
      EXPECT_EQ(CreateFileA(path_, GENERIC_READ, partial, OPEN_EXISTING), INVALID_HANDLE_VALUE);
      EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    }
    HANDLE h = CreateFileA(path_, GENERIC_READ, partial, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    HolderProcess holder(path_, HolderAccess::Read, HolderShare::Shared);
    EXPECT_EQ(holder.OpenError(), ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(CloseHandle(h));
  }
}

TEST_F(ShareModeTest, AnExclusiveHoldEndsWithTheHolder) {
  enum class End { Stop, CloseOnly, Kill };
  for (End end : {End::Stop, End::CloseOnly, End::Kill}) {
    SCOPED_TRACE(static_cast<int>(end));
    HolderProcess holder(path_, HolderAccess::ReadWrite, HolderShare::Exclusive);
    ASSERT_TRUE(holder.Ready());
    ASSERT_EQ(CreateFileA(path_, GENERIC_READ, kShared, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    switch (end) {
      case End::Stop: EXPECT_EQ(holder.Stop(), 0); break;
      case End::CloseOnly: EXPECT_TRUE(holder.Close().ok); break;
      case End::Kill: holder.Kill(); break;
    }
    HANDLE h = CreateFileA(path_, kReadWrite, 0, OPEN_EXISTING);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
}

TEST_F(ShareModeTest, CreateAlwaysNeverEmptiesAFileOpenElsewhere) {
  for (const OpenKind& held : kAllKinds) {
    SCOPED_TRACE(held);
    HolderProcess holder(path_, held.access, held.share);
    ASSERT_TRUE(holder.Ready());
    for (DWORD share : {DWORD{0}, kShared}) {
      EXPECT_EQ(CreateFileA(path_, kReadWrite, share, CREATE_ALWAYS), INVALID_HANDLE_VALUE) << share;
      EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    }
    EXPECT_EQ(ReadWholeFile(path_), "table bytes");
    EXPECT_EQ(holder.Read(0, 100), "table bytes");
  }
  // Once emptied, a shared CREATE_ALWAYS lets others in.
  HANDLE h = CreateFileA(path_, kReadWrite, kShared, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  HolderProcess holder(path_, HolderAccess::Read, HolderShare::Shared);
  EXPECT_TRUE(holder.Ready());
  EXPECT_EQ(holder.Read(0, 100), "");
  EXPECT_TRUE(CloseHandle(h));
}

TEST_F(ShareModeTest, AFileOpenAnywhereCanBeNeitherDeletedNorRenamed) {
  const std::string renamed = dir_.PathOf("RENAMED.DAT");
  for (const OpenKind& held : kAllKinds) {
    SCOPED_TRACE(held);
    HolderProcess holder(path_, held.access, held.share);
    ASSERT_TRUE(holder.Ready());
    EXPECT_FALSE(DeleteFileA(path_));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(MoveFileA(path_, renamed));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(ReadWholeFile(path_), "table bytes");
    EXPECT_FALSE(FileExists(renamed));
  }
  HANDLE h = CreateFileA(path_, GENERIC_READ, kShared, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(DeleteFileA(path_)) << "an open of our own counts as well";
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(MoveFileA(path_, renamed));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  ASSERT_TRUE(CloseHandle(h));

  ASSERT_TRUE(MoveFileA(path_, renamed));
  EXPECT_EQ(ReadWholeFile(renamed), "table bytes");
  ASSERT_TRUE(DeleteFileA(renamed));
  EXPECT_FALSE(FileExists(renamed));
}

TEST_F(ShareModeTest, AReadOnlyFileCanBeDeletedOnceClosed) {
  ASSERT_EQ(chmod(path_.c_str(), 0444), 0);
  {
    HolderProcess holder(path_, HolderAccess::Read, HolderShare::Shared);
    ASSERT_TRUE(holder.Ready());
    EXPECT_FALSE(DeleteFileA(path_));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  }
  EXPECT_TRUE(DeleteFileA(path_));
}

// A delete and re-create can slip in between an open and its share lock. The open must then not end
// on the deleted file: while a handle is open its name cannot be removed, so the name must still
// reach the handle's own file. Races are not forced here; the loop only gives them many chances.
TEST_F(ShareModeTest, AnOpenNeverEndsOnAFileDeletedUnderItsName) {
  std::atomic<bool> done{false};
  std::thread replacer([&] {
    while (!done) {
      if (DeleteFileA(path_)) {
        HANDLE h = CreateFileA(path_, kReadWrite, 0, CREATE_NEW);
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
      }
    }
  });
  int opened = 0;
  int stale = 0;
  for (int i = 0; i < 5000 && stale == 0; ++i) {
    HANDLE h = CreateFileA(path_, GENERIC_READ, kShared, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) continue;
    ++opened;
    struct stat by_handle {};
    struct stat by_name {};
    if (fstat(h, &by_handle) != 0 || stat(path_.c_str(), &by_name) != 0 || by_handle.st_ino != by_name.st_ino) {
      ++stale;
    }
    CloseHandle(h);
  }
  done = true;
  replacer.join();
  EXPECT_EQ(stale, 0) << "of " << opened << " opens";
}

TEST_F(ShareModeTest, AHolderSeesWhatWeWrite) {
  HolderProcess holder(path_, HolderAccess::ReadWrite, HolderShare::Shared);
  ASSERT_TRUE(holder.Ready());
  HANDLE h = CreateFileA(path_, kReadWrite, kShared, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(h, "TABLE", 5, &done));
  EXPECT_EQ(holder.Read(0, 11), "TABLE bytes");
  EXPECT_TRUE(holder.Write(6, std::string("\0\xff", 2)).ok);
  EXPECT_EQ(ReadWholeFile(path_), std::string("TABLE \0\xfftes", 11));
  EXPECT_TRUE(CloseHandle(h));
}

}  // namespace
}  // namespace kavrin::platform
