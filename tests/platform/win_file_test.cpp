#include "platform/win_file.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/helpers/file_contents.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::platform {
namespace {

using testing::ReadWholeFile;
using testing::TempDir;
using testing::WriteWholeFile;

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShared = FILE_SHARE_READ | FILE_SHARE_WRITE;

class WinFileTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetFileFaultHook(nullptr);
    for (HANDLE h : open_) CloseHandle(h);
  }

  // A handle closed by the fixture; INVALID_HANDLE_VALUE when the open failed.
  HANDLE Open(const std::string& path, DWORD access = kReadWrite, DWORD disposition = OPEN_EXISTING,
              DWORD share = kShared) {
    HANDLE h = CreateFileA(path, access, share, disposition);
    if (h != INVALID_HANDLE_VALUE) open_.push_back(h);
    return h;
  }

  void Close(HANDLE h) {
    std::erase(open_, h);
    EXPECT_TRUE(CloseHandle(h));
  }

  std::string Read(HANDLE h, DWORD count) {
    std::string bytes(count, '\0');
    DWORD done = 0;
    EXPECT_TRUE(ReadFile(h, bytes.data(), count, &done));
    bytes.resize(done);
    return bytes;
  }

  bool Write(HANDLE h, const std::string& bytes) {
    DWORD done = 0;
    const bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done);
    if (ok) {
      EXPECT_EQ(done, bytes.size());
    }
    return ok;
  }

  TempDir dir_;
  std::vector<HANDLE> open_;
};

TEST_F(WinFileTest, WritesAndReadsBackAtThePosition) {
  const std::string path = dir_.PathOf("T.DAT");
  HANDLE h = Open(path, kReadWrite, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Write(h, "hello world"));
  EXPECT_EQ(GetFileSize(h), 11);
  EXPECT_EQ(SetFilePointer(h, 6, FILE_BEGIN), 6);
  EXPECT_EQ(Read(h, 100), "world");  // fewer than asked only at the end of the file
  EXPECT_EQ(Read(h, 10), "");
  ASSERT_TRUE(FlushFileBuffers(h));
  Close(h);
  EXPECT_EQ(ReadWholeFile(path), "hello world");
}

TEST_F(WinFileTest, ReadsAndWritesMoreThanOneKernelTransfer) {
  const std::string path = dir_.PathOf("BIG.DAT");
  HANDLE h = Open(path, kReadWrite, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::string bytes(3 << 20, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
  ASSERT_TRUE(Write(h, bytes));
  ASSERT_EQ(SetFilePointer(h, 0, FILE_BEGIN), 0);
  EXPECT_EQ(Read(h, static_cast<DWORD>(bytes.size())), bytes);
}

TEST_F(WinFileTest, SeeksFromEachOriginAndRefusesToGoBeforeTheStart) {
  HANDLE h = Open(dir_.PathOf("S.DAT"), kReadWrite, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Write(h, "0123456789"));
  const struct {
    std::int64_t start;  // where the position is before the seek
    std::int64_t distance;
    DWORD method;
    std::int64_t expected;  // -1: fails
    DWORD error;
  } cases[] = {
      {9, 4, FILE_BEGIN, 4, 0},
      {9, -1, FILE_BEGIN, -1, ERROR_NEGATIVE_SEEK},
      {4, -4, FILE_CURRENT, 0, 0},
      {4, -5, FILE_CURRENT, -1, ERROR_NEGATIVE_SEEK},
      {4, 3, FILE_CURRENT, 7, 0},
      {0, 0, FILE_END, 10, 0},
      {0, -10, FILE_END, 0, 0},
      {0, -11, FILE_END, -1, ERROR_NEGATIVE_SEEK},
      {0, 5, FILE_END, 15, 0},  // past the end is allowed
      {0, INT64_MIN, FILE_END, -1, ERROR_NEGATIVE_SEEK},
      {4, INT64_MAX, FILE_CURRENT, -1, ERROR_INVALID_PARAMETER},
      {4, 0, 7, -1, ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "from " << c.start << " by " << c.distance << " method " << c.method);
    ASSERT_EQ(SetFilePointer(h, c.start, FILE_BEGIN), c.start);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(SetFilePointer(h, c.distance, c.method), c.expected);
    if (c.expected < 0) {
      EXPECT_EQ(GetLastError(), c.error);
      EXPECT_EQ(SetFilePointer(h, 0, FILE_CURRENT), c.start) << "a failed seek must not move";
    }
  }
  EXPECT_EQ(GetFileSize(h), 10) << "seeking alone never changes the size";
}

TEST_F(WinFileTest, WritingPastTheEndFillsTheGapWithZeros) {
  const std::string path = dir_.PathOf("GAP.DAT");
  HANDLE h = Open(path, kReadWrite, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Write(h, "ab"));
  ASSERT_EQ(SetFilePointer(h, 3, FILE_END), 5);
  ASSERT_TRUE(Write(h, "z"));
  EXPECT_EQ(ReadWholeFile(path), std::string("ab\0\0\0z", 6));
}

TEST_F(WinFileTest, SetEndOfFileCutsAndExtendsAtThePosition) {
  const std::string path = dir_.PathOf("CUT.DAT");
  HANDLE h = Open(path, kReadWrite, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Write(h, "0123456789"));
  ASSERT_EQ(SetFilePointer(h, 4, FILE_BEGIN), 4);
  ASSERT_TRUE(SetEndOfFile(h));
  EXPECT_EQ(GetFileSize(h), 4);
  EXPECT_EQ(SetFilePointer(h, 0, FILE_CURRENT), 4);
  ASSERT_EQ(SetFilePointer(h, 6, FILE_BEGIN), 6);
  ASSERT_TRUE(SetEndOfFile(h));
  EXPECT_EQ(ReadWholeFile(path), std::string("0123\0\0", 6));
}

TEST_F(WinFileTest, ReservingSpaceKeepsTheLengthAndMeetsTheFileSizeLimit) {
  const std::string path = dir_.PathOf("R.DAT");
  WriteWholeFile(path, "0123456789");
  HANDLE h = Open(path);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  // A file system that cannot reserve says so; the engine then writes the growth itself.
  if (!ReserveFileSpace(h, 10, 1 << 20)) {
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  }
  EXPECT_EQ(GetFileSize(h), 10);
  EXPECT_EQ(ReadWholeFile(path), "0123456789");
  EXPECT_TRUE(ReserveFileSpace(h, 10, 0));
  EXPECT_FALSE(ReserveFileSpace(h, -1, 10));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  HANDLE reader = Open(path, GENERIC_READ);
  EXPECT_FALSE(ReserveFileSpace(reader, 10, 10));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

  // The kernel reserves past the process's file size limit, where no write could follow: refused.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    struct rlimit limit {};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &limit);
    const bool within = ReserveFileSpace(h, 10, 4000) || GetLastError() == ERROR_NOT_SUPPORTED;
    const bool beyond = ReserveFileSpace(h, 10, 5000);
    _exit(within && !beyond && GetLastError() == ERROR_DISK_FULL ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(GetFileSize(h), 10);
}

TEST_F(WinFileTest, DispositionsAgainstExistingAndMissingFiles) {
  const std::string path = dir_.PathOf("D.DAT");
  WriteWholeFile(path, "old bytes");

  EXPECT_EQ(Open(path, kReadWrite, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_EQ(ReadWholeFile(path), "old bytes");

  HANDLE h = Open(path, kReadWrite, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(GetFileSize(h), 0);
  Close(h);

  EXPECT_EQ(Open(dir_.PathOf("MISSING.DAT")), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open(dir_.PathOf("NODIR/X.DAT"), kReadWrite, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(Open(path + "/X.DAT"), INVALID_HANDLE_VALUE);  // through a file
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(Open(dir_.Path(), GENERIC_READ), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Open("", GENERIC_READ), INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(path, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Open(path, kReadWrite, 4), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(WinFileTest, CreateAlwaysWithReadAccessStillEmptiesTheFile) {
  const std::string path = dir_.PathOf("R.DAT");
  WriteWholeFile(path, "old bytes");
  HANDLE h = Open(path, GENERIC_READ, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileSize(h), 0);
}

TEST_F(WinFileTest, AReadOnlyHandleRefusesEveryChange) {
  const std::string path = dir_.PathOf("RO.DAT");
  WriteWholeFile(path, "keep");
  HANDLE h = Open(path, GENERIC_READ);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(Write(h, "x"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(SetEndOfFile(h));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Read(h, 10), "keep");
  EXPECT_EQ(ReadWholeFile(path), "keep");
}

TEST_F(WinFileTest, EveryCallRefusesAHandleItDidNotOpen) {
  HANDLE closed = Open(dir_.PathOf("C.DAT"), kReadWrite, CREATE_NEW);
  ASSERT_NE(closed, INVALID_HANDLE_VALUE);
  Close(closed);
  // A descriptor of the process that this layer never opened is no handle either.
  for (HANDLE h : {INVALID_HANDLE_VALUE, closed, STDERR_FILENO}) {
    SCOPED_TRACE(h);
    char byte = 0;
    DWORD done = 7;
    EXPECT_FALSE(ReadFile(h, &byte, 1, &done));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(done, 0u);
    EXPECT_FALSE(WriteFile(h, &byte, 1, &done));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetFilePointer(h, 0, FILE_BEGIN), -1);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetEndOfFile(h));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(FlushFileBuffers(h));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetFileSize(h), -1);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
  EXPECT_NE(fcntl(STDERR_FILENO, F_GETFD), -1) << "CloseHandle must not close a foreign descriptor";
}

TEST_F(WinFileTest, HandlesAreNotInheritedByPrograms) {
  HANDLE h = Open(dir_.PathOf("X.DAT"), kReadWrite, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(fcntl(h, F_GETFD) & FD_CLOEXEC);
}

// With stdin closed the kernel hands out descriptor 0 next; a table must never get it (or 1 or 2,
// where anything printed would land in the file).
TEST_F(WinFileTest, HandlesNeverTakeAStandardDescriptor) {
  const int saved_stdin = fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);  // -1 when the test runs without one
  if (saved_stdin >= 0) {
    ASSERT_EQ(close(STDIN_FILENO), 0);
  }
  const std::string path = dir_.PathOf("STD.DAT");
  HANDLE created = Open(path, kReadWrite, CREATE_NEW);
  HANDLE opened = Open(path, GENERIC_READ);
  const int next_free = open("/dev/null", O_RDONLY | O_CLOEXEC);  // proves 0 was free all along
  if (saved_stdin >= 0) {
    ASSERT_EQ(dup2(saved_stdin, STDIN_FILENO), STDIN_FILENO);
    close(saved_stdin);
  } else {
    close(next_free);
  }
  EXPECT_EQ(next_free, STDIN_FILENO);
  EXPECT_GT(created, STDERR_FILENO);
  EXPECT_GT(opened, STDERR_FILENO);
}

TEST_F(WinFileTest, AttributesFollowTheWriteBitsOfTheMode) {
  const struct {
    mode_t mode;
    DWORD attributes;
  } cases[] = {
      {0644, FILE_ATTRIBUTE_NORMAL},   {0444, FILE_ATTRIBUTE_READONLY}, {0400, FILE_ATTRIBUTE_READONLY},
      {0000, FILE_ATTRIBUTE_READONLY}, {0200, FILE_ATTRIBUTE_NORMAL},   {0464, FILE_ATTRIBUTE_NORMAL},
      {0446, FILE_ATTRIBUTE_NORMAL},
  };
  const std::string path = dir_.PathOf("A.DAT");
  WriteWholeFile(path, "a");
  for (const auto& c : cases) {
    ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
    EXPECT_EQ(GetFileAttributesA(path), c.attributes) << std::oct << c.mode;
  }
  EXPECT_EQ(GetFileAttributesA(dir_.Path()), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesA(dir_.PathOf("NONE.DAT")), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesA(dir_.PathOf("NODIR/NONE.DAT")), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

// Root may write to any file; the read-only attribute must stop writers all the same, or a table
// marked read-only would be changed when the engine runs as root.
TEST_F(WinFileTest, AFileWithoutWriteBitsOpensForReadingOnly) {
  const std::string path = dir_.PathOf("LOCKED.DAT");
  WriteWholeFile(path, "precious");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  for (DWORD disposition : {OPEN_EXISTING, CREATE_ALWAYS}) {
    EXPECT_EQ(Open(path, kReadWrite, disposition), INVALID_HANDLE_VALUE) << disposition;
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  }
  EXPECT_EQ(ReadWholeFile(path), "precious");
  HANDLE h = Open(path, GENERIC_READ);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Read(h, 20), "precious");
}

TEST_F(WinFileTest, MissingPermissionIsAnAccessError) {
  const std::string path = dir_.PathOf("SECRET.DAT");
  WriteWholeFile(path, "x");
  ASSERT_EQ(chmod(path.c_str(), 0200), 0);
  if (geteuid() != 0) {
    EXPECT_EQ(Open(path, GENERIC_READ), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(GetFileAttributesA(path), FILE_ATTRIBUTE_NORMAL) << "no permission is not read-only";
    return;
  }
  // Root is never refused for permissions, and CI runs as root: a child drops to an unprivileged user.
  ASSERT_EQ(chmod(dir_.Path().c_str(), 0711), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    constexpr id_t kNobody = 65534;
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(2);
    const HANDLE h = CreateFileA(path, GENERIC_READ, kShared, OPEN_EXISTING);
    const DWORD error = GetLastError();
    const bool refused = h == INVALID_HANDLE_VALUE && error == ERROR_ACCESS_DENIED;
    _exit(refused && GetFileAttributesA(path) == FILE_ATTRIBUTE_NORMAL ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "no unprivileged user to check as";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "refused as anything but access denied, or taken as read-only";
}

TEST_F(WinFileTest, DeleteRemovesFilesOnly) {
  const std::string path = dir_.PathOf("DEL.DAT");
  WriteWholeFile(path, "x");
  EXPECT_TRUE(FileExists(path));
  ASSERT_TRUE(DeleteFileA(path));
  EXPECT_FALSE(FileExists(path));
  EXPECT_FALSE(DeleteFileA(path));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  const std::string sub = dir_.PathOf("SUB");
  ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
  EXPECT_FALSE(FileExists(sub));
  EXPECT_FALSE(DeleteFileA(sub));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(std::filesystem::is_directory(sub));
}

TEST_F(WinFileTest, MoveRenamesButNeverReplaces) {
  const std::string from = dir_.PathOf("FROM.DAT");
  const std::string to = dir_.PathOf("TO.DAT");
  const std::string other = dir_.PathOf("OTHER.DAT");
  WriteWholeFile(from, "from");
  WriteWholeFile(other, "other");

  ASSERT_TRUE(MoveFileA(from, to));
  EXPECT_FALSE(FileExists(from));
  EXPECT_EQ(ReadWholeFile(to), "from");

  EXPECT_FALSE(MoveFileA(to, other));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(ReadWholeFile(to), "from");
  EXPECT_EQ(ReadWholeFile(other), "other");

  EXPECT_FALSE(MoveFileA(from, dir_.PathOf("X.DAT")));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(MoveFileA(to, dir_.PathOf("NODIR/X.DAT")));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

  const std::string sub = dir_.PathOf("SUB");
  ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
  EXPECT_TRUE(MoveFileA(sub, dir_.PathOf("SUB2")));
  EXPECT_TRUE(std::filesystem::is_directory(dir_.PathOf("SUB2")));
  EXPECT_FALSE(MoveFileA(dir_.PathOf("SUB2"), other));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
}

TEST_F(WinFileTest, SameFileComparesInodesAndElseNamesUpToCase) {
  const std::string a = dir_.PathOf("A.DAT");
  const std::string b = dir_.PathOf("B.DAT");
  const std::string link_to_a = dir_.PathOf("LINK.DAT");
  WriteWholeFile(a, "a");
  WriteWholeFile(b, "b");
  ASSERT_EQ(link(a.c_str(), link_to_a.c_str()), 0);
  EXPECT_TRUE(SameFile(a, a));
  EXPECT_TRUE(SameFile(a, link_to_a));
  EXPECT_TRUE(SameFile(a, dir_.PathOf("a.dat")));
  EXPECT_FALSE(SameFile(a, b));
  EXPECT_TRUE(SameFile(dir_.PathOf("NEW.DAT"), dir_.PathOf("new.dat")));
  EXPECT_FALSE(SameFile(dir_.PathOf("NEW.DAT"), dir_.PathOf("NEW2.DAT")));
  EXPECT_FALSE(SameFile(a, dir_.PathOf("NEW.DAT")));
}

class FaultHookTest : public WinFileTest {
 protected:
  void SetUp() override {
    path_ = dir_.PathOf("F.DAT");
    WriteWholeFile(path_, "0123456789");
  }

  // Fails op alone, with code, and records what the hook was asked.
  void FailOnly(FileOp op, DWORD code) {
    SetFileFaultHook([this, op, code](FileOp asked, const std::string& name) -> DWORD {
      seen_.push_back({asked, name});
      return asked == op ? code : ERROR_SUCCESS;
    });
  }

  struct Seen {
    FileOp op;
    std::string name;
  };
  std::string path_;
  std::vector<Seen> seen_;
};

TEST_F(FaultHookTest, AFailedWriteWritesNothing) {
  HANDLE h = Open(path_);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_EQ(SetFilePointer(h, 2, FILE_BEGIN), 2);
  FailOnly(FileOp::Write, ERROR_DISK_FULL);
  DWORD done = 99;
  EXPECT_FALSE(WriteFile(h, "abc", 3, &done));
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(SetFilePointer(h, 0, FILE_CURRENT), 2);
  EXPECT_EQ(ReadWholeFile(path_), "0123456789");
  ASSERT_FALSE(seen_.empty());
  EXPECT_EQ(seen_.front().op, FileOp::Write);
  EXPECT_EQ(seen_.front().name, path_) << "the hook names a handle by the name it was opened with";

  SetFileFaultHook(nullptr);
  EXPECT_TRUE(WriteFile(h, "abc", 3, &done));
  EXPECT_EQ(ReadWholeFile(path_), "01abc56789");
}

TEST_F(FaultHookTest, EachOperationCanBeMadeToFail) {
  const DWORD kCode = ERROR_GEN_FAILURE;
  HANDLE h = Open(path_);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  const std::string moved = dir_.PathOf("MOVED.DAT");
  char buffer[4];
  DWORD done = 0;
  const struct {
    FileOp op;
    std::function<bool()> call;
  } cases[] = {
      {FileOp::Open, [&] { return CreateFileA(path_, GENERIC_READ, kShared, OPEN_EXISTING) != INVALID_HANDLE_VALUE; }},
      {FileOp::Create,
       [&] { return CreateFileA(dir_.PathOf("N.DAT"), kReadWrite, 0, CREATE_NEW) != INVALID_HANDLE_VALUE; }},
      {FileOp::Read, [&] { return ReadFile(h, buffer, sizeof buffer, &done); }},
      {FileOp::Write, [&] { return WriteFile(h, "x", 1, &done); }},
      {FileOp::Seek, [&] { return SetFilePointer(h, 1, FILE_BEGIN) >= 0; }},
      {FileOp::Truncate, [&] { return SetEndOfFile(h); }},
      {FileOp::Flush, [&] { return FlushFileBuffers(h); }},
      {FileOp::Delete, [&] { return DeleteFileA(moved); }},
      {FileOp::Move, [&] { return MoveFileA(moved, moved + ".2"); }},
      {FileOp::Reserve, [&] { return ReserveFileSpace(h, 10, 4096); }},
  };
  WriteWholeFile(moved, "m");
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.op));
    FailOnly(c.op, kCode);
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(c.call());
    EXPECT_EQ(GetLastError(), kCode);
  }
  SetFileFaultHook(nullptr);
  EXPECT_EQ(ReadWholeFile(path_), "0123456789");
  EXPECT_FALSE(FileExists(dir_.PathOf("N.DAT")));
  EXPECT_TRUE(FileExists(moved));
}

}  // namespace
}  // namespace kavrin::platform
