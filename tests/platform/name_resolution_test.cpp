// Names reach files the way they do on a case-insensitive Windows disk.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "platform/win_file.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::platform {
namespace {

using testing::ReadWholeFile;
using testing::TempDir;
using testing::WriteWholeFile;

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShared = FILE_SHARE_READ | FILE_SHARE_WRITE;

class NameResolutionTest : public ::testing::Test {
 protected:
  std::set<std::string> Entries() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  // The file's bytes as read through a handle opened by name, or "<error N>".
  std::string ReadThrough(const std::string& name) {
    HANDLE h = CreateFileA(dir_.PathOf(name), GENERIC_READ, kShared, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) return "<error " + std::to_string(GetLastError()) + ">";
    char buffer[64];
    DWORD done = 0;
    EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &done));
    EXPECT_TRUE(CloseHandle(h));
    return std::string(buffer, done);
  }

  TempDir dir_;
};

TEST_F(NameResolutionTest, AnOtherwiseMissingNameReachesItsOnlyCaseVariant) {
  WriteWholeFile(dir_.PathOf("ORDERS.DAT"), "orders");
  EXPECT_EQ(ReadThrough("orders.dat"), "orders");
  EXPECT_EQ(ReadThrough("Orders.Dat"), "orders");
  EXPECT_EQ(GetFileAttributesA(dir_.PathOf("orders.dat")), FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(FileExists(dir_.PathOf("orders.dat")));
  EXPECT_TRUE(SameFile(dir_.PathOf("orders.dat"), dir_.PathOf("ORDERS.DAT")));
  EXPECT_EQ(ReadThrough("orders.da"), "<error 2>");
}

TEST_F(NameResolutionTest, TheExactNameWinsOverCaseVariants) {
  WriteWholeFile(dir_.PathOf("ORDERS.DAT"), "upper");
  WriteWholeFile(dir_.PathOf("orders.dat"), "lower");
  EXPECT_EQ(ReadThrough("ORDERS.DAT"), "upper");
  EXPECT_EQ(ReadThrough("orders.dat"), "lower");
  EXPECT_FALSE(SameFile(dir_.PathOf("ORDERS.DAT"), dir_.PathOf("orders.dat")));
}

TEST_F(NameResolutionTest, TwoCaseVariantsMakeAnyOtherSpellingAnError) {
  WriteWholeFile(dir_.PathOf("ORDERS.DAT"), "upper");
  WriteWholeFile(dir_.PathOf("orders.dat"), "lower");
  WriteWholeFile(dir_.PathOf("OTHER.DAT"), "other");
  const std::string ambiguous = dir_.PathOf("Orders.Dat");
  const struct {
    const char* what;
    std::function<bool()> call;
  } cases[] = {
      {"open", [&] { return CreateFileA(ambiguous, GENERIC_READ, kShared, OPEN_EXISTING) != INVALID_HANDLE_VALUE; }},
      {"create new", [&] { return CreateFileA(ambiguous, kReadWrite, 0, CREATE_NEW) != INVALID_HANDLE_VALUE; }},
      {"create always", [&] { return CreateFileA(ambiguous, kReadWrite, 0, CREATE_ALWAYS) != INVALID_HANDLE_VALUE; }},
      {"attributes", [&] { return GetFileAttributesA(ambiguous) != INVALID_FILE_ATTRIBUTES; }},
      {"delete", [&] { return DeleteFileA(ambiguous); }},
      {"move from", [&] { return MoveFileA(ambiguous, dir_.PathOf("NEW.DAT")); }},
      {"move onto", [&] { return MoveFileA(dir_.PathOf("OTHER.DAT"), ambiguous); }},
      {"exists", [&] { return FileExists(ambiguous); }},
  };
  for (const auto& c : cases) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(c.call()) << c.what;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME) << c.what;
  }
  EXPECT_EQ(Entries(), (std::set<std::string>{"ORDERS.DAT", "orders.dat", "OTHER.DAT"}));
  EXPECT_EQ(ReadWholeFile(dir_.PathOf("ORDERS.DAT")), "upper");
  EXPECT_EQ(ReadWholeFile(dir_.PathOf("orders.dat")), "lower");
}

TEST_F(NameResolutionTest, CreatingACaseVariantReachesTheExistingFile) {
  WriteWholeFile(dir_.PathOf("ORDERS.DAT"), "orders");
  EXPECT_EQ(CreateFileA(dir_.PathOf("orders.dat"), kReadWrite, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_EQ(Entries(), std::set<std::string>{"ORDERS.DAT"});

  HANDLE h = CreateFileA(dir_.PathOf("orders.dat"), kReadWrite, 0, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileSize(h), 0);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(Entries(), std::set<std::string>{"ORDERS.DAT"});
  EXPECT_EQ(ReadWholeFile(dir_.PathOf("ORDERS.DAT")), "");
}

TEST_F(NameResolutionTest, DeleteAndMoveFindTheirSourceUpToCase) {
  WriteWholeFile(dir_.PathOf("A.DAT"), "a");
  WriteWholeFile(dir_.PathOf("B.DAT"), "b");
  ASSERT_TRUE(DeleteFileA(dir_.PathOf("a.dat")));
  ASSERT_TRUE(MoveFileA(dir_.PathOf("b.dat"), dir_.PathOf("C.DAT")));
  EXPECT_EQ(Entries(), std::set<std::string>{"C.DAT"});
  EXPECT_EQ(ReadWholeFile(dir_.PathOf("C.DAT")), "b");
}

TEST_F(NameResolutionTest, MoveTreatsATargetThatExistsUpToCaseAsTaken) {
  WriteWholeFile(dir_.PathOf("FROM.DAT"), "from");
  WriteWholeFile(dir_.PathOf("TO.DAT"), "to");
  EXPECT_FALSE(MoveFileA(dir_.PathOf("FROM.DAT"), dir_.PathOf("to.dat")));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(Entries(), (std::set<std::string>{"FROM.DAT", "TO.DAT"}));
  EXPECT_EQ(ReadWholeFile(dir_.PathOf("TO.DAT")), "to");
}

TEST_F(NameResolutionTest, MoveMayChangeOnlyTheCaseOfAName) {
  WriteWholeFile(dir_.PathOf("ORDERS.DAT"), "orders");
  ASSERT_TRUE(MoveFileA(dir_.PathOf("ORDERS.DAT"), dir_.PathOf("Orders.dat")));
  EXPECT_EQ(Entries(), std::set<std::string>{"Orders.dat"});
  ASSERT_TRUE(MoveFileA(dir_.PathOf("orders.DAT"), dir_.PathOf("ORDERS.DAT")));
  EXPECT_EQ(Entries(), std::set<std::string>{"ORDERS.DAT"});
}

TEST_F(NameResolutionTest, OnlyTheLastComponentAndOnlyAsciiLettersFoldCase) {
  ASSERT_EQ(mkdir(dir_.PathOf("data").c_str(), 0755), 0);
  WriteWholeFile(dir_.PathOf("data/T.DAT"), "t");
  EXPECT_EQ(ReadThrough("DATA/T.DAT"), "<error 3>");

  // Latin-1 a-umlaut and A-umlaut: letters a Windows disk would fold, but only ASCII folds here,
  // as the engine's own names are ASCII and the bytes of other names have no one case rule.
  WriteWholeFile(dir_.PathOf("\xC4.DAT"), "upper");
  EXPECT_EQ(ReadThrough("\xE4.DAT"), "<error 2>");
}

}  // namespace
}  // namespace kavrin::platform
