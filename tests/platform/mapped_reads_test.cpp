#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "platform/io_counters.h"
#include "platform/win_file.h"
#include "tests/helpers/copy_over.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::platform {
namespace {

using testing::TempDir;
using testing::WriteWholeFile;

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShared = FILE_SHARE_READ | FILE_SHARE_WRITE;

std::string Pattern(std::size_t size, char salt) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + static_cast<std::size_t>(salt)) % 251);
  return bytes;
}

// Reads count bytes at offset: what was read, or nothing when the read failed.
std::optional<std::string> ReadAt(HANDLE handle, std::int64_t offset, DWORD count) {
  if (SetFilePointer(handle, offset, FILE_BEGIN) != offset) return std::nullopt;
  std::string bytes(count, '\0');
  DWORD done = 0;
  if (!ReadFile(handle, bytes.data(), count, &done)) return std::nullopt;
  bytes.resize(done);
  return bytes;
}

// Cuts the file in another process, as a foreign program would.
void TruncateElsewhere(const std::string& path, off_t size) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(truncate(path.c_str(), size) == 0 ? 0 : 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

class MappedReadsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (HANDLE h : open_) CloseHandle(h);
  }
  HANDLE Open(const std::string& path) {
    HANDLE h = CreateFileA(path, kReadWrite, kShared, OPEN_EXISTING);
    if (h != INVALID_HANDLE_VALUE) open_.push_back(h);
    return h;
  }
  TempDir dir;
  std::vector<HANDLE> open_;
};

TEST_F(MappedReadsTest, ReadsComeFromTheMapAndSeeEveryWriteAndGrowth) {
  const std::string path = dir.PathOf("T.DAT");
  const std::string initial = Pattern(3 * 4096 + 100, 1);
  WriteWholeFile(path, initial);
  HANDLE reader = Open(path);
  HANDLE writer = Open(path);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(EnableMappedReads(reader));

  const std::uint64_t readsBefore = GetIoCounts().Reads;
  EXPECT_EQ(ReadAt(reader, 4000, 300), initial.substr(4000, 300));
  EXPECT_EQ(GetIoCounts().Reads, readsBefore);  // no pread
  EXPECT_EQ(SetFilePointer(reader, 0, FILE_CURRENT), 4300);

  // Another handle's write and a write past the end, then the file grows far past the first map.
  const std::string changed = Pattern(50, 2);
  ASSERT_EQ(SetFilePointer(writer, 4010, FILE_BEGIN), 4010);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(writer, changed.data(), 50, &done));
  EXPECT_EQ(ReadAt(reader, 4010, 50), changed);
  const std::string far = Pattern(5000, 3);
  ASSERT_EQ(SetFilePointer(writer, 3 << 20, FILE_BEGIN), 3 << 20);
  ASSERT_TRUE(WriteFile(writer, far.data(), static_cast<DWORD>(far.size()), &done));
  EXPECT_EQ(ReadAt(reader, 3 << 20, 5000), far);
  // A read over the end comes up short as a plain read does.
  EXPECT_EQ(ReadAt(reader, (3 << 20) + 4990, 100), far.substr(4990));
  EXPECT_EQ(ReadAt(reader, (3 << 20) + 6000, 10), std::string());
}

TEST_F(MappedReadsTest, AFileCutShortByAnotherProcessReadsShortInsteadOfRaisingSigbus) {
  const std::string path = dir.PathOf("T.IDX");
  const std::string initial = Pattern(64 * 4096, 4);
  WriteWholeFile(path, initial);
  HANDLE reader = Open(path);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(EnableMappedReads(reader));
  ASSERT_EQ(ReadAt(reader, 40 * 4096, 1024), initial.substr(40 * 4096, 1024));

  TruncateElsewhere(path, 4096);
  // The pages are gone: the read falls back to the file and finds nothing there.
  EXPECT_EQ(ReadAt(reader, 40 * 4096, 1024), std::string());
  EXPECT_EQ(ReadAt(reader, 4000, 200), initial.substr(4000, 96));
  EXPECT_EQ(ReadAt(reader, 0, 100), initial.substr(0, 100));
  // And when it grows again, the new bytes are read.
  const std::string regrown = Pattern(8 * 4096, 5);
  HANDLE writer = Open(path);
  ASSERT_EQ(SetFilePointer(writer, 4096, FILE_BEGIN), 4096);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(writer, regrown.data(), static_cast<DWORD>(regrown.size()), &done));
  EXPECT_EQ(ReadAt(reader, 5 * 4096, 100), regrown.substr(4 * 4096, 100));
}

TEST_F(MappedReadsTest, AFileCutInsideAPageByAnotherProcessReadsShortNotZeros) {
  const std::string path = dir.PathOf("T.DAT");
  std::string initial = Pattern(16 * 4096, 7);
  // Zeros before the cut and at the end of the file, as records and index pages have them.
  std::fill(initial.begin() + 8 * 4096 + 200, initial.begin() + 8 * 4096 + 300, '\0');
  std::fill(initial.end() - 3000, initial.end(), '\0');
  WriteWholeFile(path, initial);
  HANDLE reader = Open(path);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(EnableMappedReads(reader));
  ASSERT_EQ(ReadAt(reader, 8 * 4096, 1024), initial.substr(8 * 4096, 1024));
  // An intact file whose read ends in zeros, up to its very end, reads whole.
  EXPECT_EQ(ReadAt(reader, 8 * 4096 + 100, 200), initial.substr(8 * 4096 + 100, 200));
  EXPECT_EQ(ReadAt(reader, 16 * 4096 - 1024, 1024), initial.substr(16 * 4096 - 1024, 1024));

  // The page of the new end stays mapped, with zeros past the end: the read gives what a plain read does.
  TruncateElsewhere(path, 8 * 4096 + 500);
  EXPECT_EQ(ReadAt(reader, 8 * 4096 + 400, 600), initial.substr(8 * 4096 + 400, 100));
  EXPECT_EQ(ReadAt(reader, 8 * 4096, 300), initial.substr(8 * 4096, 300));
}

// A foreign program copies the file over itself again and again (emptied, then written back in two
// pieces, the first ending inside the record read here) while this process reads the record through
// the map: every read gives the record, comes up short or fails, and never gives bytes the file did not
// hold (zeros from the page of the half-written end). The record lies in the file's last page (the
// file's size must vouch for it) or with pages after it (the map can).
TEST_F(MappedReadsTest, AFileCopiedOverByAnotherProcessNeverReadsZerosItDidNotHold) {
  constexpr std::int64_t kRecord = 8 * 4096 + 1000;
  constexpr DWORD kCount = 300;
  for (const int pages : {9, 16}) {
    SCOPED_TRACE(std::to_string(pages) + " pages");
    const std::string path = dir.PathOf("T" + std::to_string(pages) + ".DAT");
    std::string content = Pattern(static_cast<std::size_t>(pages) * 4096, 9);
    for (char& byte : content) byte = static_cast<char>(byte == 0 ? 1 : byte);  // a zero read is never the file's
    WriteWholeFile(path, content);
    const std::string record = content.substr(kRecord, kCount);
    HANDLE reader = Open(path);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(EnableMappedReads(reader));
    ASSERT_EQ(ReadAt(reader, kRecord, kCount), record);

    std::int64_t reads = 0, whole = 0, wrong = 0;
    std::string firstWrong;
    testing::CopyOver writer(path, content, kRecord + 100, 5000);
    for (; !writer.Finished(); ++reads) {
      writer.BeginRead();
      const std::optional<std::string> bytes = ReadAt(reader, kRecord, kCount);
      if (!bytes) continue;
      if (*bytes == record) {
        ++whole;
      } else if (bytes->size() < kCount && record.compare(0, bytes->size(), *bytes) == 0) {
        // Short, as a plain read of the cut file is.
      } else if (++wrong == 1) {
        firstWrong = *bytes;
      }
    }
    EXPECT_TRUE(writer.Succeeded());
    EXPECT_EQ(wrong, 0) << "of " << reads << " reads; the first has "
                        << std::count(firstWrong.begin(), firstWrong.end(), '\0') << " zeros";
    EXPECT_GT(whole, 0);
    // The file whole again: the map gives the record.
    EXPECT_EQ(ReadAt(reader, kRecord, kCount), record);
  }
}

TEST_F(MappedReadsTest, OwnTruncationIsSeenAtOnce) {
  const std::string path = dir.PathOf("T.DAT");
  WriteWholeFile(path, Pattern(5 * 4096, 6));
  HANDLE handle = Open(path);
  ASSERT_TRUE(EnableMappedReads(handle));
  ASSERT_EQ(SetFilePointer(handle, 4096, FILE_BEGIN), 4096);
  ASSERT_TRUE(SetEndOfFile(handle));
  EXPECT_EQ(ReadAt(handle, 4096, 10), std::string());
  EXPECT_EQ(ReadAt(handle, 4090, 10)->size(), 6u);
}

TEST_F(MappedReadsTest, OnlyRegularFilesAreMapped) {
  EXPECT_FALSE(EnableMappedReads(12345));
  HANDLE directory = CreateFileA(dir.Path(), GENERIC_READ, kShared, OPEN_EXISTING);
  if (directory != INVALID_HANDLE_VALUE) {
    EXPECT_FALSE(EnableMappedReads(directory));
    CloseHandle(directory);
  }
}

}  // namespace
}  // namespace kavrin::platform
