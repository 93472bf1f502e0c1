#include "components/reg_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <string>

#include "tests/helpers/file_contents.h"
#include "tests/helpers/registry_folder.h"
#include "tests/helpers/temp_dir.h"
#include "tests/helpers/unprivileged.h"

namespace kavrin::components::regfiles {
namespace {

using classlib::Variant;
using testing::ReadWholeFile;
using testing::RegistryFolder;
using testing::WriteWholeFile;

const char* const kUtilityKey = "SOFTWARE\\Trevane Software\\KAVRIN Database System\\Database System Utility";
const std::string kSection =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Trevane Software\\KAVRIN Database System\\Database System Utility]\n";
const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";
// The levels above the settings key, each made by the first write.
const std::string kParents =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Trevane Software]\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Trevane Software\\KAVRIN Database System]\n\n";

std::string RaisedBy(const std::function<void()>& f) {
  try {
    f();
  } catch (const ERegFileError& e) {
    return e.what();
  }
  return "nothing raised";
}

class RegFileTest : public ::testing::Test {
 protected:
  RegFileTest() {
    reg_.SetRootKey(TRootKey::hkLocalMachine);
    reg_.SetKey(kUtilityKey);
  }
  std::string File() const { return ReadWholeFile(folder_.RootFile("HKEY_LOCAL_MACHINE")); }

  RegistryFolder folder_;
  TRegFile reg_;
};

TEST_F(RegFileTest, ValuesStoreAsTheirRegistryFormsAndReadBack) {
  const struct {
    const char* name;
    Variant written;
    std::string stored;  // the value's line in the file
    Variant read;
  } cases[] = {
      {"Lock Retry Count", Variant(15), "\"Lock Retry Count\"=dword:0000000f\n", Variant(15)},
      {"Small", Variant(std::int16_t{-3}), "\"Small\"=dword:fffffffd\n", Variant(-3)},
      {"Yes", Variant(true), "\"Yes\"=dword:ffffffff\n", Variant(-1)},
      {"No", Variant(false), "\"No\"=dword:00000000\n", Variant(0)},
      {"Double", Variant(2.5), "\"Double\"=hex:05,00,00,00,00,00,00,00,00,00,00,00,00,00,04,40\n", Variant(2.5)},
      {"Money", Variant(runtime::Currency::FromRaw(12345)),
       "\"Money\"=hex:06,00,00,00,00,00,00,00,39,30,00,00,00,00,00,00\n", Variant(runtime::Currency::FromRaw(12345))},
      {"When", Variant::FromDateTime(36526.25), "\"When\"=hex:07,00,00,00,00,00,00,00,00,00,00,00,c8,d5,e1,40\n",
       Variant::FromDateTime(36526.25)},
      {"Empty", Variant(""), "\"Empty\"=\"\"\n", Variant("")},
      {"Text", Variant("C:\\Data \"x\""), "\"Text\"=\"C:\\\\Data \\\"x\\\"\"\n", Variant("C:\\Data \"x\"")},
  };
  std::string expected = kHeader + kParents + kSection;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    reg_.WriteValue(c.name, c.written);
    expected += c.stored;
    EXPECT_EQ(File(), expected + "\n");
    EXPECT_EQ(reg_.ReadValue(c.name, Variant(0)), c.read);
  }
}

TEST_F(RegFileTest, StoredFormsOnlyReadAndThoseThatReadAsEmptyOrAsTheDefault) {
  reg_.WriteValue("x", Variant(1));
  WriteWholeFile(folder_.RootFile("HKEY_LOCAL_MACHINE"),
                 kHeader + kSection +
                     "\"Single record\"=hex:04,00,00,00,00,00,00,00,00,00,00,3f,00,00,00,00\n"
                     "\"OLE string record\"=hex:08,00,00,00,00,00,00,00,10,20,30,40,50,60,70,80\n"
                     "\"Variant array record\"=hex:0c,20,00,00,00,00,00,00,10,20,30,40,50,60,70,80\n"
                     "\"15 bytes\"=hex:05,00,00,00,00,00,00,00,00,00,00,00,00,00,04\n"
                     "\"Expandable\"=hex(2):25,00\n"
                     "\"Short dword\"=hex(4):01\n"
                     "\"No data\"=hex:\n"
                     "\"No data text\"=hex(1):\n"
                     "\n");
  const Variant fallback = Variant("default");
  const struct {
    const char* name;
    Variant read;
  } cases[] = {
      {"Single record", Variant(0.5)},  // the class library keeps no single kind
      {"OLE string record", Variant()}, {"Variant array record", Variant()},
      {"15 bytes", Variant()},          {"Expandable", Variant()},
      {"Short dword", Variant()},       {"No data", fallback},
      {"No data text", fallback},       {"Missing", fallback},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(reg_.ReadValue(c.name, fallback), c.read) << c.name;
  }
}

TEST(RegFileNameTest, NamesSplitAtTheirLastUnpairedBackslash) {
  const struct {
    const char* name;
    const char* suffix;
    const char* value;
  } cases[] = {
      {"Name", "", "Name"},
      {"Sub\\Name", "\\Sub", "Name"},
      {"A\\B\\Name", "\\A\\B", "Name"},
      {"A\\\\B", "", "A\\\\B"},
      {"Sub\\A\\\\B", "\\Sub", "A\\\\B"},
      {"Sub\\\\\\Name", "\\Sub", "\\\\Name"},
      {"\\Name", "", "Name"},
      {"Sub\\", "\\Sub", ""},
      {"", "", ""},
      {"\\\\", "", "\\\\"},
      {"\\\\\\Name", "", "\\\\Name"},
  };
  for (const auto& c : cases) {
    const ValueName split = SplitValueName(c.name);
    EXPECT_EQ(split.key_suffix, c.suffix) << c.name;
    EXPECT_EQ(split.value_name, c.value) << c.name;
  }
}

TEST_F(RegFileTest, NamesWithAPathReadTheSubkeysValues) {
  reg_.WriteValue("Sub\\Name", Variant("in sub"));
  reg_.WriteValue("A\\\\B", Variant("pair"));
  reg_.WriteValue("\\First", Variant("under Key"));
  reg_.WriteValue("Sub\\", Variant("unnamed"));
  EXPECT_EQ(File(), kHeader + kParents + kSection + "\"A\\\\\\\\B\"=\"pair\"\n\"First\"=\"under Key\"\n\n" +
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Trevane Software\\KAVRIN Database System\\Database System "
                        "Utility\\Sub]\n\"Name\"=\"in sub\"\n@=\"unnamed\"\n\n");
  EXPECT_EQ(reg_.ReadValue("SUB\\name", {}), Variant("in sub"));
  EXPECT_EQ(reg_.ReadValue("a\\\\b", {}), Variant("pair"));
  EXPECT_EQ(reg_.ReadValue("Name", Variant(7)), Variant(7));
}

TEST_F(RegFileTest, ReadingAMissingPathCreatesItAndGivesTheDefault) {
  EXPECT_EQ(reg_.ReadValue("Sub\\Missing", Variant(9)), Variant(9));
  EXPECT_EQ(File(), kHeader + kParents + kSection + "\n" +
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Trevane Software\\KAVRIN Database System\\Database System "
                        "Utility\\Sub]\n\n");
}

TEST_F(RegFileTest, KindsWithoutAStoredFormAreRefusedAfterTheKeyIsMade) {
  const Variant kinds[] = {Variant(), Variant::Null(), Variant::Array({Variant(1)})};
  for (const Variant& kind : kinds) {
    EXPECT_EQ(RaisedBy([&] { reg_.WriteValue("V", kind); }), "Invalid variant type")
        << static_cast<int>(kind.VarType());
  }
  EXPECT_EQ(File(), kHeader + kParents + kSection + "\n");
}

TEST(RegFileRootTest, AnOwnedComponentStartsUnderTheCurrentUserWithNoKey) {
  RegistryFolder folder;
  classlib::TComponent owner;
  auto* reg = new TRegFile(&owner);
  ASSERT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(owner.Components(0), reg);
  EXPECT_EQ(reg->RootKey(), TRootKey::hkCurrentUser);
  EXPECT_EQ(reg->Key(), "");
  reg->WriteValue("Sub\\V", Variant(3));
  EXPECT_EQ(ReadWholeFile(folder.RootFile("HKEY_CURRENT_USER")),
            kHeader + "[HKEY_CURRENT_USER\\Sub]\n\"V\"=dword:00000003\n\n");
}

TEST(RegFileRootTest, DynDataKeysAreNeverCreated) {
  RegistryFolder folder;
  TRegFile reg;
  reg.SetRootKey(TRootKey::hkDynData);
  reg.SetKey("Config");
  EXPECT_EQ(RaisedBy([&] { reg.ReadValue("V", {}); }), "Can't open a Key");
  EXPECT_EQ(RaisedBy([&] { reg.WriteValue("V", Variant(1)); }), "Can't open a Key");
  EXPECT_NE(::access(folder.RootFile("HKEY_DYN_DATA").c_str(), F_OK), 0);
  EXPECT_FALSE(reg.OpenKey("Config", true)) << "open only reports instead of raising";
  // An existing key under it is read and written.
  WriteWholeFile(folder.RootFile("HKEY_DYN_DATA"), kHeader + "[HKEY_DYN_DATA\\Config]\n\n");
  reg.WriteValue("V", Variant(1));
  EXPECT_EQ(reg.ReadValue("V", {}), Variant(1));
}

// A component whose closing step fails, to show which failure a call reports.
class FailingClose : public TRegFile {
 public:
  void CloseKey() override {
    TRegFile::CloseKey();
    throw ERegFileError("close failed");
  }
};

TEST(RegFileRootTest, AFailureWhileClosingNeverHidesTheOneBeforeIt) {
  RegistryFolder folder;
  FailingClose reg;
  reg.SetKey("K");
  EXPECT_EQ(RaisedBy([&] { reg.WriteValue("V", Variant::Null()); }), "Invalid variant type");
  EXPECT_EQ(RaisedBy([&] { reg.WriteValue("V", Variant(1)); }), "close failed");
  EXPECT_EQ(RaisedBy([&] { reg.ReadValue("V", {}); }), "close failed");
}

TEST(RegFileRootTest, RegistryFailuresCarryTheirWin32Code) {
  RegistryFolder folder;
  TRegFile reg;
  reg.SetKey("K");
  WriteWholeFile(folder.RootFile("HKEY_CURRENT_USER"), "not a registry file\n");
  EXPECT_EQ(RaisedBy([&] { reg.WriteValue("V", Variant(1)); }), "Reg Error: 000003F7");
  EXPECT_EQ(RaisedBy([&] { reg.ReadValue("V", {}); }), "Reg Error: 000003F7");
  EXPECT_EQ(ReadWholeFile(folder.RootFile("HKEY_CURRENT_USER")), "not a registry file\n");
}

TEST(RegFileRootTest, FolderWithoutWritePermission) {
  testing::TempDir top;
  chmod(top.Path().c_str(), 0755);
  const std::string folder = top.PathOf("registry");
  ASSERT_EQ(mkdir(folder.c_str(), 0555), 0);
  setenv("KAVRIN_REGISTRY_DIR", folder.c_str(), 1);
  const std::optional<int> matched = testing::RunUnprivileged([] {
    TRegFile reg;
    reg.SetRootKey(TRootKey::hkLocalMachine);
    reg.SetKey(kUtilityKey);
    return RaisedBy([&] { reg.WriteValue("Lock Retry Count", Variant(15)); }) == "Reg Error: 00000005" ? 0 : 1;
  });
  unsetenv("KAVRIN_REGISTRY_DIR");
  if (!matched) GTEST_SKIP() << "running as root and cannot change to another user to make permissions bite";
  EXPECT_EQ(*matched, 0) << "the write did not fail with Reg Error: 00000005";
}

}  // namespace
}  // namespace kavrin::components::regfiles
