#include "engine/memory_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace kavrin::engine {
namespace {

TEST(MemoryFile, SizeReadWriteSeek) {
  TMemoryFile file("M.DAT");
  EXPECT_EQ(file.Size(), 512);
  EXPECT_EQ(file.OpenCount(), 1);

  file.Seek(0, 0);
  EXPECT_EQ(file.Write("abcdef", 6), 6);
  EXPECT_EQ(file.Position(), 6);
  file.SetSize(3);  // shrinking moves the position to the new end
  EXPECT_EQ(file.Position(), 3);
  file.SetSize(10);  // growing zero-fills and keeps the position
  EXPECT_EQ(file.Position(), 3);
  EXPECT_EQ(file.Data()[9], 0);

  char buffer[16] = {};
  file.Seek(2, 2);  // back from the end
  EXPECT_EQ(file.Position(), 8);
  EXPECT_EQ(file.Read(buffer, 16), 2);
  EXPECT_EQ(file.Position(), 10);
  EXPECT_EQ(file.Seek(100, 0), 10);  // kept within the file
  EXPECT_EQ(file.Seek(100, 2), 0);

  file.Seek(4, 0);
  EXPECT_EQ(file.Write(nullptr, 0), 0);  // a write of nothing cuts the file at the position
  EXPECT_EQ(file.Size(), 4);
  file.SetSize(0);
  EXPECT_EQ(file.Size(), 0);
  EXPECT_EQ(file.Position(), 0);
}

TEST(MemoryFile, ReferenceCountResetsThePosition) {
  TMemoryFile file("M.DAT");
  file.Seek(100, 0);
  file.Release();
  EXPECT_EQ(file.OpenCount(), 0);
  file.AddRef();
  EXPECT_EQ(file.Position(), 0);
  EXPECT_EQ(file.OpenCount(), 1);
}

class MemoryFileListTest : public ::testing::Test {
 protected:
  TMemoryFileList list;
};

TEST_F(MemoryFileListTest, NamesMatchTrimmedAndWithoutCase) {
  auto [code, file] = list.NewMemoryFile("/db/Orders.DAT");
  ASSERT_EQ(code, ec::Success);
  EXPECT_TRUE(list.MemoryFileExists("  /DB/orders.dat "));
  EXPECT_FALSE(list.MemoryFileExists("/db/orders.idx"));
  EXPECT_EQ(file->Name(), "/db/Orders.DAT");
  EXPECT_TRUE(file->Exclusive());  // its creator holds it alone
  EXPECT_EQ(list.OpenMemoryFile("/db/orders.dat", false).first, ec::AccessDenied);
}

TEST_F(MemoryFileListTest, NewFileRules) {
  EXPECT_EQ(list.NewMemoryFile("/db/.DAT").first, ec::InvalidPath);
  EXPECT_EQ(list.NewMemoryFile("  ").first, ec::InvalidPath);
  auto [code, file] = list.NewMemoryFile("A.DAT");
  ASSERT_EQ(code, ec::Success);
  EXPECT_EQ(list.NewMemoryFile("A.DAT").first, ec::FileInUse);
  file->Seek(0, 0);
  file->Write("xyz", 3);
  list.CloseMemoryFile("A.DAT");
  auto [again, reused] = list.NewMemoryFile("a.dat");  // an unused one is emptied and reused
  ASSERT_EQ(again, ec::Success);
  EXPECT_EQ(reused, file);
  EXPECT_EQ(reused->Size(), 0);
  EXPECT_EQ(reused->OpenCount(), 1);
  EXPECT_EQ(list.Count(), 1u);
}

TEST_F(MemoryFileListTest, LongNamesAreNeverCut) {
  // Two paths alike in their first 255 characters are two files.
  const std::string dir = "/" + std::string(260, 'd') + "/";
  auto [codeA, a] = list.NewMemoryFile(dir + "A.DAT");
  auto [codeB, b] = list.NewMemoryFile(dir + "B.DAT");
  ASSERT_EQ(codeA, ec::Success);
  ASSERT_EQ(codeB, ec::Success);
  EXPECT_NE(a, b);
  EXPECT_EQ(a->Name(), dir + "A.DAT");
  EXPECT_EQ(list.Find(dir + "b.dat"), b);
  list.CloseMemoryFile(dir + "A.DAT");
  list.CloseMemoryFile(dir + "B.DAT");
  EXPECT_FALSE(list.RenameMemoryFile(dir + "A.DAT", dir + "B.DAT"));
  EXPECT_TRUE(list.RenameMemoryFile(dir + "A.DAT", dir + "C.DAT"));
  EXPECT_TRUE(list.DeleteMemoryFile(dir + "C.DAT"));
  EXPECT_EQ(list.Find(dir + "B.DAT"), b);
}

TEST_F(MemoryFileListTest, SharedAndExclusiveOpens) {
  list.NewMemoryFile("S.DAT");
  list.CloseMemoryFile("S.DAT");
  EXPECT_EQ(list.OpenMemoryFile("S.DAT", false).first, ec::Success);
  EXPECT_EQ(list.OpenMemoryFile("S.DAT", false).first, ec::Success);
  EXPECT_EQ(list.OpenMemoryFile("S.DAT", true).first, ec::AccessDenied);
  list.CloseMemoryFile("S.DAT");
  list.CloseMemoryFile("S.DAT");
  EXPECT_EQ(list.OpenMemoryFile("S.DAT", true).first, ec::Success);
  EXPECT_EQ(list.OpenMemoryFile("S.DAT", false).first, ec::AccessDenied);
  EXPECT_EQ(list.OpenMemoryFile("MISSING.DAT", false).first, ec::InvalidPath);
  EXPECT_FALSE(list.CloseMemoryFile("MISSING.DAT"));
}

TEST_F(MemoryFileListTest, RenameCopyDeleteRefuseFilesInUseAndTakenNames) {
  auto [code, a] = list.NewMemoryFile("A.DAT");
  a->Seek(0, 0);
  a->Write("hello", 5);
  a->SetSize(5);
  list.NewMemoryFile("B.DAT");
  EXPECT_FALSE(list.RenameMemoryFile("A.DAT", "C.DAT"));  // in use
  EXPECT_FALSE(list.DeleteMemoryFile("A.DAT"));
  EXPECT_FALSE(list.CopyMemoryFile("A.DAT", "C.DAT"));
  list.CloseMemoryFile("A.DAT");
  list.CloseMemoryFile("B.DAT");

  EXPECT_FALSE(list.RenameMemoryFile("A.DAT", "b.dat"));  // the target exists
  EXPECT_FALSE(list.CopyMemoryFile("A.DAT", "A.DAT"));    // onto itself
  EXPECT_TRUE(list.CopyMemoryFile("A.DAT", "C.DAT"));
  TMemoryFile* c = list.Find("C.DAT");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->OpenCount(), 0);
  EXPECT_EQ(std::string(c->Data().begin(), c->Data().end()), "hello");
  EXPECT_EQ(list.Find("A.DAT")->OpenCount(), 0);

  EXPECT_TRUE(list.RenameMemoryFile("A.DAT", "a.dat"));  // a change of case only is its own name
  EXPECT_TRUE(list.RenameMemoryFile("a.dat", "D.DAT"));
  EXPECT_FALSE(list.MemoryFileExists("A.DAT"));
  EXPECT_TRUE(list.DeleteMemoryFile("D.DAT"));
  EXPECT_FALSE(list.DeleteMemoryFile("D.DAT"));
  EXPECT_EQ(list.Count(), 2u);
}

}  // namespace
}  // namespace kavrin::engine
