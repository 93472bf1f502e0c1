#include "engine/file_handler.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/engine_error.h"
#include "engine/file_copy.h"
#include "engine/memory_files.h"
#include "engine/scrambling.h"
#include "platform/win_file.h"
#include "tests/engine/error_code_of.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/holder_process.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine {
namespace {

using kavrin::testing::ReadWholeFile;
using kavrin::testing::TempDir;
using kavrin::testing::WriteWholeFile;

TErrorCode CodeOf(const std::function<void()>& action) { return testing::ErrorCodeOf(action); }

// The same behaviour on disk and in memory.
class FileHandlerTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { MemoryFiles().Clear(); }
  void TearDown() override { MemoryFiles().Clear(); }

  bool InMemory() const { return GetParam(); }

  // A new file holding bytes, closed, with a handler set up for it.
  void MakeFile(TFileHandler& handler, const std::string& name, const std::string& bytes) {
    handler.SetInMemory(InMemory());
    handler.SetFileName(dir.PathOf(name));
    handler.SetExclusive(true);
    handler.NewFile();
    handler.WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    handler.WriteBuffer(nullptr, 0);  // a new memory file starts with 512 bytes
    handler.CloseFile();
  }

  TempDir dir;
};

TEST_P(FileHandlerTest, SettersRefuseAnOpenFileUnlessUnchanged) {
  TFileHandler handler;
  MakeFile(handler, "A.DAT", "abc");
  handler.SetExclusive(false);
  handler.OpenFile();
  const std::string name = handler.FileName();
  handler.SetFileName(name);
  handler.SetExclusive(false);
  handler.SetInMemory(InMemory());
  EXPECT_EQ(CodeOf([&] { handler.SetFileName(dir.PathOf("B.DAT")); }), ec::FileInUse);
  EXPECT_EQ(CodeOf([&] { handler.SetExclusive(true); }), ec::FileInUse);
  EXPECT_EQ(CodeOf([&] { handler.SetReadOnly(true); }), ec::FileInUse);
  EXPECT_EQ(CodeOf([&] { handler.SetInMemory(!InMemory()); }), ec::FileInUse);
  EXPECT_EQ(CodeOf([&] { handler.EraseFile(); }), ec::FileInUse);
  EXPECT_EQ(CodeOf([&] { handler.NewFile(); }), ec::FileInUse);
  EXPECT_EQ(ErrorContext().FileName, name);
}

TEST_P(FileHandlerTest, NewFileNeedsExclusiveAndCreatesNothingOtherwise) {
  TFileHandler handler;
  handler.SetInMemory(InMemory());
  handler.SetFileName(dir.PathOf("NEW.DAT"));
  EXPECT_EQ(CodeOf([&] { handler.NewFile(); }), ec::MustBeExclusive);
  EXPECT_FALSE(handler.FileFound());
  EXPECT_FALSE(handler.Opened());
}

TEST_P(FileHandlerTest, ShortReadAtTheEndRaises) {
  TFileHandler handler;
  MakeFile(handler, "R.DAT", std::string(100, 'x'));
  handler.OpenFile();
  handler.Seek(20, 2);
  EXPECT_EQ(handler.Position(), 80);
  std::vector<std::uint8_t> buffer(100);
  EXPECT_EQ(CodeOf([&] { handler.ReadBuffer(buffer.data(), 100); }), ec::ReadError);
  if (InMemory()) {
    handler.Seek(20, 2);
    EXPECT_EQ(handler.MemoryFile()->Read(buffer.data(), 100), 20);
  }
}

TEST_P(FileHandlerTest, SeekFromTheEndAndCutWithAnEmptyWrite) {
  TFileHandler handler;
  MakeFile(handler, "C.DAT", std::string(100, 'y'));
  handler.OpenFile();
  EXPECT_EQ(handler.Seek(5, 2), 95);
  handler.WriteBuffer(nullptr, 0);
  EXPECT_EQ(handler.Size(), 95);
  handler.CloseFile();
  if (!InMemory()) {
    EXPECT_EQ(ReadWholeFile(dir.PathOf("C.DAT")).size(), 95u);
  }
}

TEST_P(FileHandlerTest, ScrambledContentsOnDiskOnly) {
  TFileHandler handler;
  MakeFile(handler, "S.DAT", "");
  handler.SetScrambled(true);
  handler.OpenFile();
  const std::string plain = "secret record";
  std::string caller = plain;
  handler.Seek(0, 0);
  handler.WriteBuffer(caller.data(), static_cast<std::int32_t>(caller.size()));
  EXPECT_EQ(caller, plain);  // the caller's buffer is left as it was
  std::string back(plain.size(), '\0');
  handler.Seek(0, 0);
  handler.ReadBuffer(back.data(), static_cast<std::int32_t>(back.size()));
  EXPECT_EQ(back, plain);

  handler.CloseFile();

  // In-memory files never leave the process, so only disk files hold scrambled bytes.
  if (!InMemory()) {
    // Read as two parts, the stream restarts at the second part and garbles it.
    handler.OpenFile();
    std::string first(4, '\0'), rest(plain.size() - 4, '\0');
    handler.Seek(0, 0);
    handler.ReadBuffer(first.data(), 4);
    handler.ReadBuffer(rest.data(), static_cast<std::int32_t>(rest.size()));
    EXPECT_EQ(first, plain.substr(0, 4));
    EXPECT_NE(rest, plain.substr(4));
    handler.CloseFile();

    std::string stored = ReadWholeFile(dir.PathOf("S.DAT"));
    EXPECT_NE(stored, plain);
    Unscramble(reinterpret_cast<std::uint8_t*>(stored.data()), stored.size(), ContentsSeed);
    EXPECT_EQ(stored, plain);
  }
}

TEST_P(FileHandlerTest, RenameAndCopyRefuseTakenNames) {
  TFileHandler a, b;
  MakeFile(a, "A.DAT", "aaa");
  MakeFile(b, "B.DAT", "bbb");
  EXPECT_EQ(CodeOf([&] { a.RenameFile(dir.PathOf("B.DAT")); }), ec::UnknownError);
  EXPECT_EQ(a.FileName(), dir.PathOf("A.DAT"));
  EXPECT_EQ(CodeOf([&] { a.CopyFile(dir.PathOf("A.DAT")); }), ec::UnknownError);
  a.CopyFile(dir.PathOf("COPY.DAT"));
  a.RenameFile(dir.PathOf("MOVED.DAT"));
  EXPECT_EQ(a.FileName(), dir.PathOf("MOVED.DAT"));

  TFileHandler copy;
  copy.SetInMemory(InMemory());
  copy.SetFileName(dir.PathOf("COPY.DAT"));
  copy.OpenFile();
  std::string bytes(3, '\0');
  copy.ReadBuffer(bytes.data(), 3);
  EXPECT_EQ(bytes, "aaa");
  copy.CloseFile();

  copy.EraseFile();
  EXPECT_FALSE(copy.FileFound());
  EXPECT_EQ(CodeOf([&] { copy.EraseFile(); }), InMemory() ? ec::InvalidPath : ec::CannotDelete);
}

TEST_P(FileHandlerTest, OpenOfAMissingFile) {
  TFileHandler handler;
  handler.SetInMemory(InMemory());
  handler.SetFileName(dir.PathOf("NONE.DAT"));
  EXPECT_EQ(CodeOf([&] { handler.OpenFile(); }), ec::InvalidPath);
  EXPECT_FALSE(handler.Opened());
}

INSTANTIATE_TEST_SUITE_P(DiskAndMemory, FileHandlerTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "InMemory" : "OnDisk"; });

TEST(FileHandlerMemory, SharedOpensThenExclusive) {
  MemoryFiles().Clear();
  TFileHandler creator;
  creator.SetInMemory(true);
  creator.SetExclusive(true);
  creator.SetFileName("MEM.DAT");
  creator.NewFile();
  creator.CloseFile();

  TFileHandler one, two, solo;
  for (TFileHandler* h : {&one, &two, &solo}) {
    h->SetInMemory(true);
    h->SetFileName("MEM.DAT");
  }
  solo.SetExclusive(true);
  one.OpenFile();
  two.OpenFile();
  EXPECT_EQ(CodeOf([&] { solo.OpenFile(); }), ec::AccessDenied);
  one.CloseFile();
  two.CloseFile();
  solo.OpenFile();
  EXPECT_TRUE(solo.Opened());
  solo.CloseFile();
  MemoryFiles().Clear();
}

TEST(FileHandlerMemory, HandlerClosesTheFileItHolds) {
  MemoryFiles().Clear();
  TFileHandler creator;
  creator.SetInMemory(true);
  creator.SetExclusive(true);
  creator.SetFileName("OLD.DAT");
  creator.NewFile();
  creator.CloseFile();

  TFileHandler reader;
  reader.SetInMemory(true);
  reader.SetFileName("OLD.DAT");
  reader.OpenFile();
  TMemoryFile* held = reader.MemoryFile();
  EXPECT_EQ(held->OpenCount(), 1);
  reader.CloseFile();
  EXPECT_EQ(held->OpenCount(), 0);
  EXPECT_EQ(reader.MemoryFile(), nullptr);
  MemoryFiles().Clear();
}

TEST(FileHandlerMemory, LongNamesAreCutOnlyInErrorTexts) {
  MemoryFiles().Clear();
  const std::string dir = "/" + std::string(300, 'd') + "/";
  TFileHandler first, second;
  for (TFileHandler* h : {&first, &second}) {
    h->SetInMemory(true);
    h->SetExclusive(true);
  }
  first.SetFileName(dir + "ONE.DAT");
  second.SetFileName(dir + "TWO.DAT");
  EXPECT_EQ(first.FileName(), dir + "ONE.DAT");
  first.NewFile();
  second.NewFile();  // a name cut at 255 characters would be the first file's, in use
  EXPECT_NE(first.MemoryFile(), second.MemoryFile());
  EXPECT_EQ(CodeOf([&] { first.SetFileName("OTHER.DAT"); }), ec::FileInUse);
  EXPECT_EQ(ErrorContext().FileName, (dir + "ONE.DAT").substr(0, 255));
  first.CloseFile();
  second.CloseFile();
  MemoryFiles().Clear();
}

TEST(FileHandlerDisk, ReadOnlyAttributeOpensForReadingOnly) {
  TempDir dir;
  const std::string path = dir.PathOf("RO.DAT");
  WriteWholeFile(path, "read only");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  TFileHandler handler;
  handler.SetFileName(path);
  handler.OpenFile();
  EXPECT_TRUE(handler.ReadOnly());
  EXPECT_TRUE(handler.ReadOnlyOnDisk());
  handler.Seek(0, 0);
  EXPECT_EQ(CodeOf([&] { handler.WriteBuffer("x", 1); }), ec::WriteError);
  handler.CloseFile();
  EXPECT_EQ(ReadWholeFile(path), "read only");

  ASSERT_EQ(chmod(path.c_str(), 0644), 0);
  handler.SetReadOnly(false);
  handler.OpenFile();
  EXPECT_FALSE(handler.ReadOnlyOnDisk());  // cleared at every open
  EXPECT_FALSE(handler.ReadOnly());
}

TEST(FileHandlerDisk, OtherProcessesHoldingTheFile) {
  TempDir dir;
  const std::string path = dir.PathOf("SHARED.DAT");
  WriteWholeFile(path, std::string(64, 'z'));

  {
    kavrin::testing::HolderProcess holder(path, kavrin::testing::HolderAccess::ReadWrite,
                                          kavrin::testing::HolderShare::Exclusive);
    ASSERT_TRUE(holder.Ready());
    TFileHandler handler;
    handler.SetFileName(path);
    EXPECT_EQ(CodeOf([&] { handler.OpenFile(); }), ec::AccessDenied);
    EXPECT_EQ(CodeOf([&] { handler.EraseFile(); }), ec::CannotDelete);
  }
  kavrin::testing::HolderProcess holder(path, kavrin::testing::HolderAccess::ReadWrite,
                                        kavrin::testing::HolderShare::Shared);
  ASSERT_TRUE(holder.Ready());
  ASSERT_TRUE(holder.Lock(10, 1).ok);

  TFileHandler handler;
  handler.SetFileName(path);
  handler.OpenFile();
  EXPECT_FALSE(handler.LockRange(10, 1, true));
  EXPECT_TRUE(handler.LockRange(11, 1, true));
  EXPECT_FALSE(holder.Lock(11, 1).ok);
  EXPECT_TRUE(handler.LockRange(11, 1, false));
  EXPECT_FALSE(handler.LockRange(11, 1, false));  // not held any more
  holder.Kill();
  EXPECT_TRUE(handler.LockRange(10, 1, true));  // the kernel released the dead holder's lock
}

TEST(FileHandlerDisk, LockRangeSucceedsAtOnceWhenNoOtherProcessCanReach) {
  TempDir dir;
  const std::string path = dir.PathOf("EX.DAT");
  WriteWholeFile(path, "x");
  TFileHandler handler;
  handler.SetFileName(path);
  handler.SetExclusive(true);
  handler.OpenFile();
  EXPECT_TRUE(handler.LockRange(0, 1, true));
  EXPECT_TRUE(handler.LockRange(0, 1, true));  // nothing is taken, so nothing can overlap
}

TEST(FileHandlerDisk, MapLastErrorTable) {
  struct Case {
    platform::DWORD win32;
    TErrorCode code;
  };
  const Case cases[] = {
      {platform::ERROR_FILE_NOT_FOUND, 11010},      {platform::ERROR_PATH_NOT_FOUND, 11010},
      {platform::ERROR_TOO_MANY_OPEN_FILES, 11012}, {platform::ERROR_ACCESS_DENIED, 11013},
      {platform::ERROR_SHARING_VIOLATION, 11013},   {platform::ERROR_NETWORK_ACCESS_DENIED, 11013},
      {platform::ERROR_INVALID_HANDLE, 11014},      {platform::ERROR_NOT_ENOUGH_MEMORY, 11016},
      {platform::ERROR_INVALID_DRIVE, 11023},       {platform::ERROR_NOT_SAME_DEVICE, 11025},
      {platform::ERROR_DISK_FULL, 11047},           {platform::ERROR_INVALID_NAME, 11010},
  };
  for (const Case& c : cases) {
    platform::SetLastError(c.win32);
    EXPECT_EQ(TFileHandler::MapLastError(), c.code) << c.win32;
  }
}

class CopyDiskFileTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::SetFileFaultHook(nullptr); }
  TempDir dir;
};

TEST_F(CopyDiskFileTest, CopiesEveryChunkAndReplacesTheTarget) {
  std::string bytes;
  for (int i = 0; i < 8192 * 2 + 17; ++i) bytes += static_cast<char>(i * 7);
  WriteWholeFile(dir.PathOf("SRC"), bytes);
  WriteWholeFile(dir.PathOf("DST"), "old contents that are longer than nothing");
  EXPECT_TRUE(CopyDiskFile(dir.PathOf("SRC"), dir.PathOf("DST")));
  EXPECT_EQ(ReadWholeFile(dir.PathOf("DST")), bytes);

  WriteWholeFile(dir.PathOf("EXACT"), std::string(8192, 'e'));  // a multiple of the chunk size
  EXPECT_TRUE(CopyDiskFile(dir.PathOf("EXACT"), dir.PathOf("EXACT2")));
  EXPECT_EQ(ReadWholeFile(dir.PathOf("EXACT2")), std::string(8192, 'e'));
}

TEST_F(CopyDiskFileTest, FailedWriteRemovesThePartialCopy) {
  WriteWholeFile(dir.PathOf("SRC"), std::string(20000, 's'));
  int writes = 0;
  platform::SetFileFaultHook([&](platform::FileOp op, const std::string&) -> platform::DWORD {
    return op == platform::FileOp::Write && ++writes == 2 ? platform::ERROR_DISK_FULL : 0;
  });
  EXPECT_FALSE(CopyDiskFile(dir.PathOf("SRC"), dir.PathOf("DST")));
  platform::SetFileFaultHook(nullptr);
  EXPECT_FALSE(platform::FileExists(dir.PathOf("DST")));
}

TEST_F(CopyDiskFileTest, FailedReadRemovesThePartialCopy) {
  WriteWholeFile(dir.PathOf("SRC"), std::string(20000, 's'));
  int reads = 0;
  platform::SetFileFaultHook([&](platform::FileOp op, const std::string&) -> platform::DWORD {
    return op == platform::FileOp::Read && ++reads == 2 ? platform::ERROR_GEN_FAILURE : 0;
  });
  EXPECT_FALSE(CopyDiskFile(dir.PathOf("SRC"), dir.PathOf("DST")));
  platform::SetFileFaultHook(nullptr);
  EXPECT_FALSE(platform::FileExists(dir.PathOf("DST")));
}

TEST_F(CopyDiskFileTest, RefusesToCopyAFileOntoItself) {
  const std::string path = dir.PathOf("SELF.DAT");
  WriteWholeFile(path, "keep me");
  ASSERT_EQ(link(path.c_str(), dir.PathOf("LINK.DAT").c_str()), 0);
  EXPECT_FALSE(CopyDiskFile(path, path));
  EXPECT_FALSE(CopyDiskFile(path, dir.PathOf("self.dat")));  // the same name up to case
  EXPECT_FALSE(CopyDiskFile(path, dir.PathOf("LINK.DAT")));  // the same inode
  EXPECT_EQ(ReadWholeFile(path), "keep me");
  EXPECT_FALSE(CopyDiskFile(dir.PathOf("MISSING"), dir.PathOf("X")));
  EXPECT_FALSE(platform::FileExists(dir.PathOf("X")));
}

}  // namespace
}  // namespace kavrin::engine
