#include "engine/generated_names.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "engine/engine_error.h"
#include "engine/memory_files.h"
#include "platform/win_file.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine {
namespace {

using kavrin::testing::TempDir;
using kavrin::testing::WriteWholeFile;

class GeneratedNamesTest : public ::testing::Test {
 protected:
  void SetUp() override { MemoryFiles().Clear(); }
  void TearDown() override {
    MemoryFiles().Clear();
    platform::SetFileFaultHook(nullptr);
  }
  TempDir dir;
};

TEST_F(GeneratedNamesTest, SmallestFreeNumberOnDisk) {
  WriteWholeFile(dir.PathOf("TMP0.DAT"), "");
  WriteWholeFile(dir.PathOf("tmp1.dat"), "");  // names are free only up to case
  EXPECT_EQ(UniqueTempFileName(dir.Path(), false), dir.Path() + "/TMP2.DAT");
  EXPECT_TRUE(platform::FileExists(dir.PathOf("TMP2.DAT")));  // reserved
  EXPECT_EQ(UniqueTempFileName(dir.Path() + "/", false), dir.Path() + "/TMP3.DAT");
  EXPECT_EQ(UniqueLogFileName(dir.Path(), false), dir.Path() + "/LOG0.DAT");
}

TEST_F(GeneratedNamesTest, InMemoryOnlyMemoryFilesCount) {
  WriteWholeFile(dir.PathOf("TMP0.DAT"), "");
  MemoryFiles().NewMemoryFile(dir.PathOf("TMP1.DAT"));
  EXPECT_EQ(UniqueTempFileName(dir.Path(), true), dir.Path() + "/TMP0.DAT");
  EXPECT_EQ(UniqueTempFileName(dir.Path(), true), dir.Path() + "/TMP2.DAT");
  // The reserved memory file is unused, so the caller can create its table under the name.
  TMemoryFile* reserved = MemoryFiles().Find(dir.PathOf("TMP2.DAT"));
  ASSERT_NE(reserved, nullptr);
  EXPECT_EQ(reserved->OpenCount(), 0);
  EXPECT_EQ(MemoryFiles().NewMemoryFile(dir.PathOf("TMP2.DAT")).first, ec::Success);
}

TEST_F(GeneratedNamesTest, RaisesOnceEveryNameIsTaken) {
  platform::SetFileFaultHook([](platform::FileOp op, const std::string&) -> platform::DWORD {
    return op == platform::FileOp::Create ? platform::ERROR_FILE_EXISTS : 0;
  });
  try {
    UniqueLogFileName(dir.Path(), false);
    FAIL() << "no exception";
  } catch (const EDBEngineError& error) {
    EXPECT_NE(error.Code(), 0);
  }
}

TEST_F(GeneratedNamesTest, MissingDirectoryIsAnError) {
  EXPECT_THROW(UniqueTempFileName(dir.PathOf("missing"), false), EDBEngineError);
}

TEST_F(GeneratedNamesTest, ProcessesChoosingAtOnceNeverShareAName) {
  constexpr int kProcesses = 6;
  constexpr int kNamesEach = 20;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::string out;
      try {
        for (int i = 0; i < kNamesEach; ++i) out += UniqueLogFileName(dir.Path(), false) + "\n";
      } catch (...) {
        _exit(2);
      }
      WriteWholeFile(dir.PathOf("names" + std::to_string(p)), out);
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::set<std::string> names;
  for (int p = 0; p < kProcesses; ++p) {
    const std::string text = kavrin::testing::ReadWholeFile(dir.PathOf("names" + std::to_string(p)));
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      EXPECT_TRUE(names.insert(text.substr(start, end - start)).second) << text.substr(start, end - start);
    }
  }
  EXPECT_EQ(names.size(), static_cast<std::size_t>(kProcesses * kNamesEach));
}

}  // namespace
}  // namespace kavrin::engine
