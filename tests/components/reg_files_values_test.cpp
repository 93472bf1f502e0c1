#include "components/reg_files_values.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/helpers/file_contents.h"
#include "tests/helpers/registry_folder.h"
#include "tests/helpers/temp_dir.h"
#include "tests/helpers/unprivileged.h"

namespace kavrin::components::regfiles {
namespace {

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
  TRegFileCore reg_;
};

TEST_F(RegFileTest, ValuesStoreAsTheirRegistryFormsAndReadBack) {
  const struct {
    const char* name;
    RegVariant written;
    std::string stored;  // the value's line in the file
    RegVariant read;
  } cases[] = {
      {"Lock Retry Count", RegVariant::Integer(15), "\"Lock Retry Count\"=dword:0000000f\n", RegVariant::Integer(15)},
      {"Small", RegVariant::Integer(-3, varSmallint), "\"Small\"=dword:fffffffd\n", RegVariant::Integer(-3)},
      {"Yes", RegVariant::Integer(1, varBoolean), "\"Yes\"=dword:ffffffff\n", RegVariant::Integer(-1)},
      {"No", RegVariant::Integer(0, varBoolean), "\"No\"=dword:00000000\n", RegVariant::Integer(0)},
      {"Double", RegVariant::Real(2.5), "\"Double\"=hex:05,00,00,00,00,00,00,00,00,00,00,00,00,00,04,40\n",
       RegVariant::Real(2.5)},
      {"Single", RegVariant::Real(0.5, varSingle), "\"Single\"=hex:04,00,00,00,00,00,00,00,00,00,00,3f,00,00,00,00\n",
       RegVariant::Real(0.5, varSingle)},
      {"Money", RegVariant::Integer(12345, varCurrency),
       "\"Money\"=hex:06,00,00,00,00,00,00,00,39,30,00,00,00,00,00,00\n", RegVariant::Integer(12345, varCurrency)},
      {"When", RegVariant::Real(36526.25, varDate), "\"When\"=hex:07,00,00,00,00,00,00,00,00,00,00,00,c8,d5,e1,40\n",
       RegVariant::Real(36526.25, varDate)},
      {"Empty", RegVariant::String(""), "\"Empty\"=\"\"\n", RegVariant::String("")},
      {"Text", RegVariant::String("C:\\Data \"x\""), "\"Text\"=\"C:\\\\Data \\\"x\\\"\"\n",
       RegVariant::String("C:\\Data \"x\"")},
  };
  std::string expected = kHeader + kParents + kSection;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    reg_.WriteValue(c.name, c.written);
    expected += c.stored;
    EXPECT_EQ(File(), expected + "\n");
    EXPECT_EQ(reg_.ReadValue(c.name, RegVariant::Integer(0)), c.read);
  }
}

TEST_F(RegFileTest, StoredFormsThatReadAsEmptyOrAsTheDefault) {
  reg_.WriteValue("x", RegVariant::Integer(1));
  WriteWholeFile(folder_.RootFile("HKEY_LOCAL_MACHINE"),
                 kHeader + kSection +
                     "\"OLE string record\"=hex:08,00,00,00,00,00,00,00,10,20,30,40,50,60,70,80\n"
                     "\"Variant array record\"=hex:0c,20,00,00,00,00,00,00,10,20,30,40,50,60,70,80\n"
                     "\"15 bytes\"=hex:05,00,00,00,00,00,00,00,00,00,00,00,00,00,04\n"
                     "\"Expandable\"=hex(2):25,00\n"
                     "\"Short dword\"=hex(4):01\n"
                     "\"No data\"=hex:\n"
                     "\"No data text\"=hex(1):\n"
                     "\n");
  const RegVariant fallback = RegVariant::String("default");
  const struct {
    const char* name;
    RegVariant read;
  } cases[] = {
      {"OLE string record", RegVariant::Of(varEmpty)},
      {"Variant array record", RegVariant::Of(varEmpty)},
      {"15 bytes", RegVariant::Of(varEmpty)},
      {"Expandable", RegVariant::Of(varEmpty)},
      {"Short dword", RegVariant::Of(varEmpty)},
      {"No data", fallback},
      {"No data text", fallback},
      {"Missing", fallback},
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
  reg_.WriteValue("Sub\\Name", RegVariant::String("in sub"));
  reg_.WriteValue("A\\\\B", RegVariant::String("pair"));
  reg_.WriteValue("\\First", RegVariant::String("under Key"));
  reg_.WriteValue("Sub\\", RegVariant::String("unnamed"));
  EXPECT_EQ(File(), kHeader + kParents + kSection + "\"A\\\\\\\\B\"=\"pair\"\n\"First\"=\"under Key\"\n\n" +
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Trevane Software\\KAVRIN Database System\\Database System "
                        "Utility\\Sub]\n\"Name\"=\"in sub\"\n@=\"unnamed\"\n\n");
  EXPECT_EQ(reg_.ReadValue("SUB\\name", {}), RegVariant::String("in sub"));
  EXPECT_EQ(reg_.ReadValue("a\\\\b", {}), RegVariant::String("pair"));
  EXPECT_EQ(reg_.ReadValue("Name", RegVariant::Integer(7)), RegVariant::Integer(7));
}

TEST_F(RegFileTest, ReadingAMissingPathCreatesItAndGivesTheDefault) {
  EXPECT_EQ(reg_.ReadValue("Sub\\Missing", RegVariant::Integer(9)), RegVariant::Integer(9));
  EXPECT_EQ(File(), kHeader + kParents + kSection + "\n" +
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Trevane Software\\KAVRIN Database System\\Database System "
                        "Utility\\Sub]\n\n");
}

TEST_F(RegFileTest, KindsWithoutAStoredFormAreRefusedAfterTheKeyIsMade) {
  for (std::uint16_t type : {varEmpty, varNull, varOleStr, std::uint16_t{0x2003}}) {
    EXPECT_EQ(RaisedBy([&] { reg_.WriteValue("V", RegVariant::Of(type)); }), "Invalid variant type") << type;
  }
  EXPECT_EQ(File(), kHeader + kParents + kSection + "\n");
}

TEST(RegFileRootTest, DynDataKeysAreNeverCreated) {
  RegistryFolder folder;
  TRegFileCore reg;
  reg.SetRootKey(TRootKey::hkDynData);
  reg.SetKey("Config");
  EXPECT_EQ(RaisedBy([&] { reg.ReadValue("V", {}); }), "Can't open a Key");
  EXPECT_EQ(RaisedBy([&] { reg.WriteValue("V", RegVariant::Integer(1)); }), "Can't open a Key");
  EXPECT_NE(::access(folder.RootFile("HKEY_DYN_DATA").c_str(), F_OK), 0);
  EXPECT_FALSE(reg.OpenKey("Config", true)) << "open only reports instead of raising";
  // An existing key under it is read and written.
  WriteWholeFile(folder.RootFile("HKEY_DYN_DATA"), kHeader + "[HKEY_DYN_DATA\\Config]\n\n");
  reg.WriteValue("V", RegVariant::Integer(1));
  EXPECT_EQ(reg.ReadValue("V", {}), RegVariant::Integer(1));
}

// A component whose closing step fails, to show which failure a call reports.
class FailingClose : public TRegFileCore {
 public:
  void CloseKey() override {
    TRegFileCore::CloseKey();
    throw ERegFileError("close failed");
  }
};

TEST(RegFileRootTest, AFailureWhileClosingNeverHidesTheOneBeforeIt) {
  RegistryFolder folder;
  FailingClose reg;
  reg.SetKey("K");
  EXPECT_EQ(RaisedBy([&] { reg.WriteValue("V", RegVariant::Of(varNull)); }), "Invalid variant type");
  EXPECT_EQ(RaisedBy([&] { reg.WriteValue("V", RegVariant::Integer(1)); }), "close failed");
  EXPECT_EQ(RaisedBy([&] { reg.ReadValue("V", {}); }), "close failed");
}

TEST(RegFileRootTest, RegistryFailuresCarryTheirWin32Code) {
  RegistryFolder folder;
  TRegFileCore reg;
  reg.SetKey("K");
  WriteWholeFile(folder.RootFile("HKEY_CURRENT_USER"), "not a registry file\n");
  EXPECT_EQ(RaisedBy([&] { reg.WriteValue("V", RegVariant::Integer(1)); }), "Reg Error: 000003F7");
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
    TRegFileCore reg;
    reg.SetRootKey(TRootKey::hkLocalMachine);
    reg.SetKey(kUtilityKey);
    return RaisedBy([&] { reg.WriteValue("Lock Retry Count", RegVariant::Integer(15)); }) == "Reg Error: 00000005"
               ? 0
               : 1;
  });
  unsetenv("KAVRIN_REGISTRY_DIR");
  if (!matched) GTEST_SKIP() << "running as root and cannot change to another user to make permissions bite";
  EXPECT_EQ(*matched, 0) << "the write did not fail with Reg Error: 00000005";
}

}  // namespace
}  // namespace kavrin::components::regfiles
