#include "classlib/registry/registry.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/helpers/file_contents.h"
#include "tests/helpers/registry_folder.h"

namespace kavrin::classlib {
namespace {

using testing::ReadWholeFile;
using testing::RegistryFolder;
using testing::WriteWholeFile;

// The message and Win32 code of the ERegistryException that f raises.
std::pair<std::string, platform::DWORD> Failure(const std::function<void()>& f) {
  try {
    f();
  } catch (const ERegistryException& e) {
    return {e.what(), e.Code()};
  }
  return {"nothing raised", 0};
}

TEST(TRegistryTest, StringsAndIntegersGoToTheOpenKey) {
  RegistryFolder folder;
  {
    TRegistry reg;
    EXPECT_EQ(reg.RootKey(), platform::HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey("Software\\Maker", true));
    EXPECT_EQ(reg.CurrentPath(), "Software\\Maker");
    reg.WriteString("Name", "ORDERS.DAT");
    reg.WriteInteger("Tag", -2);
    reg.WriteInteger("Count", 15);
    EXPECT_EQ(reg.ReadString("name"), "ORDERS.DAT");
    EXPECT_EQ(reg.ReadInteger("TAG"), -2);
    EXPECT_TRUE(reg.ValueExists("count"));
    EXPECT_FALSE(reg.ValueExists("Missing"));
  }
  EXPECT_EQ(ReadWholeFile(folder.RootFile("HKEY_CURRENT_USER")),
            "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software]\n\n"
            "[HKEY_CURRENT_USER\\Software\\Maker]\n\"Name\"=\"ORDERS.DAT\"\n\"Tag\"=dword:fffffffe\n"
            "\"Count\"=dword:0000000f\n\n");
}

TEST(TRegistryTest, ReadsOfMissingOrOtherTypedValuesRaise) {
  RegistryFolder folder;
  WriteWholeFile(folder.RootFile("HKEY_CURRENT_USER"),
                 "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\K]\n\"S\"=\"1\"\n\"D\"=dword:00000001\n"
                 "\"E\"=hex(2):25,41,00,42\n\"Short\"=hex(4):01,02\n\"NoNul\"=hex(1):61,62\n\n");
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("K", false));
  const struct {
    std::function<void()> call;
    std::string message;
    platform::DWORD code;
  } cases[] = {
      {[&] { reg.ReadInteger("S"); }, "Invalid data type for 'S'", 0},
      {[&] { reg.ReadString("D"); }, "Invalid data type for 'D'", 0},
      {[&] { reg.ReadInteger("Short"); }, "Invalid data type for 'Short'", 0},
      {[&] { reg.ReadInteger("T3"); }, "Failed to get data for 'T3'", platform::ERROR_FILE_NOT_FOUND},
      {[&] { reg.ReadString("C3"); }, "Failed to get data for 'C3'", platform::ERROR_FILE_NOT_FOUND},
  };
  for (const auto& c : cases) {
    const auto [message, code] = Failure(c.call);
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(code, c.code) << c.message;
  }
  EXPECT_EQ(reg.ReadString("E"), "%A") << "expandable text reads as text, up to its NUL";
  EXPECT_EQ(reg.ReadString("NoNul"), "ab");
}

TEST(TRegistryTest, PathsStartAtTheOpenKeyUnlessTheyStartWithABackslash) {
  RegistryFolder folder;
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("\\Software\\Maker", true));
  ASSERT_TRUE(reg.OpenKey("MainForm", true));
  EXPECT_EQ(reg.CurrentPath(), "Software\\Maker\\MainForm");
  reg.WriteString("Left", "10");
  EXPECT_FALSE(reg.OpenKey("Missing", false));
  EXPECT_EQ(reg.LastError(), platform::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg.CurrentPath(), "Software\\Maker\\MainForm") << "a failed open keeps the open key";
  EXPECT_EQ(reg.ReadString("Left"), "10");
  ASSERT_TRUE(reg.OpenKey("\\software\\maker\\mainform", false));
  EXPECT_EQ(reg.ReadString("LEFT"), "10");
  reg.CloseKey();
  EXPECT_EQ(reg.CurrentKey(), 0u);
  EXPECT_FALSE(reg.ValueExists("Left"));
  reg.WriteString("At root", "x");
  EXPECT_EQ(reg.ReadString("at root"), "x");
  ASSERT_TRUE(reg.OpenKey("Software", false));
  reg.SetRootKey(platform::HKEY_LOCAL_MACHINE);
  EXPECT_EQ(reg.CurrentKey(), 0u);
  EXPECT_FALSE(reg.OpenKey("Software", false));
}

TEST(TRegistryTest, DeleteValue) {
  RegistryFolder folder;
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("K", true));
  reg.WriteInteger("C4", 1);
  EXPECT_TRUE(reg.DeleteValue("c4"));
  EXPECT_FALSE(reg.ValueExists("C4"));
  EXPECT_FALSE(reg.DeleteValue("C4"));
  EXPECT_EQ(reg.LastError(), platform::ERROR_FILE_NOT_FOUND);
}

TEST(TRegistryTest, DamagedFileFailsOpensAndWritesAndStaysAsItIs) {
  RegistryFolder folder;
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("K", true));
  const std::string damaged = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\K]\n\"a\"\n";
  WriteWholeFile(folder.RootFile("HKEY_CURRENT_USER"), damaged);
  const auto [message, code] = Failure([&] { reg.WriteString("Left", "1"); });
  EXPECT_EQ(message, "Failed to set data for 'Left'");
  EXPECT_EQ(code, platform::ERROR_REGISTRY_CORRUPT);
  TRegistry other;
  EXPECT_FALSE(other.OpenKey("K", true));
  EXPECT_EQ(other.LastError(), platform::ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(ReadWholeFile(folder.RootFile("HKEY_CURRENT_USER")), damaged);
}

}  // namespace
}  // namespace kavrin::classlib
