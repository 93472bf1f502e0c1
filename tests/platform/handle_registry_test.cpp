#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/win_file.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::platform {
namespace {

using testing::TempDir;
using testing::WriteWholeFile;

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShared = FILE_SHARE_READ | FILE_SHARE_WRITE;

std::string ReadBack(HANDLE handle, std::int64_t offset, DWORD count) {
  std::string bytes(count, '\0');
  DWORD done = 0;
  if (SetFilePointer(handle, offset, FILE_BEGIN) != offset || !ReadFile(handle, bytes.data(), count, &done)) {
    return "<failed>";
  }
  bytes.resize(done);
  return bytes;
}

// A closed handle's number, handed out again by the next open, must carry nothing of the old handle:
// not its position, its map, its size as last seen nor its access.
TEST(HandleRegistryTest, AReusedDescriptorStartsAFreshHandle) {
  TempDir dir;
  const std::string big = dir.PathOf("BIG.DAT");
  const std::string small = dir.PathOf("SMALL.DAT");
  WriteWholeFile(big, std::string(10000, 'b'));
  WriteWholeFile(small, "small");

  HANDLE first = CreateFileA(big, kReadWrite, kShared, OPEN_EXISTING);
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(EnableMappedReads(first));
  ASSERT_EQ(ReadBack(first, 9000, 10), std::string(10, 'b'));
  ASSERT_TRUE(CloseHandle(first));

  HANDLE second = CreateFileA(small, GENERIC_READ, kShared, OPEN_EXISTING);
  ASSERT_EQ(second, first);  // the lowest free descriptor
  EXPECT_EQ(SetFilePointer(second, 0, FILE_CURRENT), 0);
  std::string bytes(10, '\0');
  DWORD done = 0;
  ASSERT_TRUE(ReadFile(second, bytes.data(), 10, &done));
  EXPECT_EQ(bytes.substr(0, done), "small");
  EXPECT_EQ(ReadBack(second, 9000, 10), "");  // read plainly: the old map is gone
  EXPECT_FALSE(WriteFile(second, "x", 1, &done));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  ASSERT_TRUE(CloseHandle(second));

  EXPECT_FALSE(CloseHandle(second));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  for (HANDLE unknown : {-1, 1 << 20}) {
    EXPECT_EQ(SetFilePointer(unknown, 0, FILE_BEGIN), -1);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(ReadFile(unknown, bytes.data(), 1, &done));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
}

// Threads that open, use and close handles of their own at once, many descriptors apart, so the table
// grows while others read through it.
TEST(HandleRegistryTest, ThreadsOpeningAndClosingTheirOwnHandlesKeepTheirOwnPositions) {
  TempDir dir;
  constexpr int kThreads = 4;
  constexpr int kRounds = 60;
  std::vector<std::string> paths;
  for (int t = 0; t < kThreads; ++t) {
    paths.push_back(dir.PathOf("T" + std::to_string(t) + ".DAT"));
    WriteWholeFile(paths.back(), std::string(8192, static_cast<char>('a' + t)));
  }
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::string expected(100, static_cast<char>('a' + t));
      for (int round = 0; round < kRounds; ++round) {
        // A few handles at a time, so descriptor numbers climb and the table is grown meanwhile.
        std::vector<HANDLE> handles;
        for (int k = 0; k < 1 + round % 5; ++k) {
          HANDLE h = CreateFileA(paths[t], GENERIC_READ, kShared, OPEN_EXISTING);
          if (h == INVALID_HANDLE_VALUE) {
            ++failures;
            continue;
          }
          if (k % 2 == 0) EnableMappedReads(h);
          handles.push_back(h);
        }
        for (HANDLE h : handles) {
          const std::int64_t offset = 37 * round + 11;
          if (ReadBack(h, offset, 100) != expected || SetFilePointer(h, 0, FILE_CURRENT) != offset + 100) {
            ++failures;
          }
        }
        for (HANDLE h : handles) {
          if (!CloseHandle(h)) ++failures;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace kavrin::platform
