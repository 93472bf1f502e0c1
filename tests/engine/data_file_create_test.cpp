#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "engine/index_file.h"
#include "engine/memory_files.h"
#include "engine/password_list.h"
#include "platform/win_file.h"
#include "tests/engine/error_code_of.h"
#include "tests/engine/table_fixture.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/holder_process.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine {
namespace {

using kavrin::testing::ReadWholeFile;
using kavrin::testing::TempDir;
using kavrin::testing::WriteWholeFile;
using testing::CreateTableAt;
using testing::Field;
using testing::Index;
using testing::SimpleFields;
using testing::SimpleIndexes;

TErrorCode CodeOf(const std::function<void()>& action) { return testing::ErrorCodeOf(action); }

struct Definition {
  std::vector<TFieldDescriptor> fields = SimpleFields();
  std::vector<TIndexDescriptor> indexes = SimpleIndexes();
  bool encrypted = false;
  std::string password;
  std::uint16_t blockSize = 512;
};

TErrorCode ValidationCode(Definition d, std::string* named = nullptr) {
  ClearErrorContext();
  const TErrorCode code = CodeOf(
      [&] { TDataFile::ValidateDefinition(d.encrypted, d.password, d.indexes, d.fields, d.blockSize, "T.DAT"); });
  if (named) {
    *named = ErrorContext().FieldName + ErrorContext().IndexName;
    if (named->empty()) *named = ErrorContext().FileName;
  }
  return code;
}

TEST(ValidateDefinition, RefusesBadDefinitionsNamingWhatIsWrong) {
  struct Case {
    const char* what;
    std::function<void(Definition&)> change;
    TErrorCode code;
    const char* named;
  };
  const Case cases[] = {
      {"valid", [](Definition&) {}, 0, ""},
      {"blank password",
       [](Definition& d) {
         d.encrypted = true;
         d.password = "   ";
       },
       ec::InvalidPassword, "T.DAT"},
      {"16-character password",
       [](Definition& d) {
         d.encrypted = true;
         d.password = std::string(16, 'p');
       },
       ec::InvalidPassword, "T.DAT"},
      {"513 fields", [](Definition& d) { d.fields.resize(513, Field(9, "X", ftInteger)); }, ec::FieldLimits, "T.DAT"},
      {"31 secondary indexes", [](Definition& d) { d.indexes.resize(32, Index("S", {1})); }, ec::IndexLimits, "T.DAT"},
      {"30 secondary indexes", [](Definition& d) { d.indexes.resize(31, Index("S", {1})); }, 0, ""},
      {"block size 63", [](Definition& d) { d.blockSize = 63; }, ec::BlobFieldsOrBlockSize, "T.DAT"},
      {"names equal up to case and blanks", [](Definition& d) { d.fields[2].Name = " name "; }, ec::InvalidFieldName,
       "Name"},
      // Stored names are Windows-1252 and upper-case with its table: "café" and "CAFÉ" are one name.
      {"Windows-1252 names equal up to case",
       [](Definition& d) {
         d.fields[1].Name = "caf\xE9";
         d.fields[2].Name = "CAF\xC9";
       },
       ec::InvalidFieldName, "caf\xE9"},
      {"Windows-1252 names that differ",
       [](Definition& d) {
         d.fields[1].Name = "caf\xE9";
         d.fields[2].Name = "CAFE";
       },
       0, ""},
      {"name not starting with a letter", [](Definition& d) { d.fields[1].Name = "1st"; }, ec::InvalidFieldName, "1st"},
      {"empty name", [](Definition& d) { d.fields[1].Name = "  "; }, ec::InvalidFieldName, "  "},
      {"duplicate field number", [](Definition& d) { d.fields[2].FieldNumber = 2; }, ec::InvalidFieldDefinition,
       "Name"},
      {"field number 0", [](Definition& d) { d.fields[2].FieldNumber = 0; }, ec::InvalidFieldDefinition, "Amount"},
      {"type 0", [](Definition& d) { d.fields[1].Type = 0; }, ec::InvalidFieldDefinition, "Name"},
      {"type 16", [](Definition& d) { d.fields[1].Type = 16; }, ec::InvalidFieldDefinition, "Name"},
      {"string of 246", [](Definition& d) { d.fields[1].Size = 246; }, ec::InvalidFieldDefinition, "Name"},
      {"string of 245", [](Definition& d) { d.fields[1].Size = 245; }, 0, ""},
      {"bad date default",
       [](Definition& d) {
         d.fields.push_back(Field(4, "D", ftDate));
         d.fields[3].Default = "13/45/2024";
       },
       ec::InvalidValidityCheck, "D"},
      {"date keyword in lower case",
       [](Definition& d) {
         d.fields.push_back(Field(4, "D", ftDate));
         d.fields[3].Default = "date";
       },
       0, ""},
      {"keyword not accepted as a minimum",
       [](Definition& d) {
         d.fields.push_back(Field(4, "D", ftDate));
         d.fields[3].Minimum = "DATE";
       },
       ec::InvalidValidityCheck, "D"},
      {"smallint maximum out of range",
       [](Definition& d) {
         d.fields.push_back(Field(4, "S", ftSmallInt));
         d.fields[3].Maximum = "40000";
       },
       ec::InvalidValidityCheck, "S"},
      {"string defaults are not checked", [](Definition& d) { d.fields[1].Default = "anything"; }, 0, ""},
      {"key field that does not exist", [](Definition& d) { d.indexes[0].KeyFields[1] = 9; }, ec::InvalidFieldNumber,
       "T.DAT"},
      {"no key fields", [](Definition& d) { d.indexes[0].KeyFields[0] = 0; }, ec::InvalidKeySize, "Primary"},
      {"key over 254 bytes",
       [](Definition& d) {
         d.fields[1].Size = 245;
         d.indexes[0].KeyFields[1] = 2;
         d.indexes[0].KeyFields[2] = 3;
       },
       ec::InvalidKeySize, "Primary"},
      {"non-unique secondary pushed past 255 by the record id",
       [](Definition& d) {
         d.fields[1].Size = 243;  // 244 + 1 + 9 = 254 before the id
         d.indexes.push_back(Index("ByName", {2, 3}));
       },
       ec::InvalidKeySize, "ByName"},
      {"primary key of 255 bytes",
       [](Definition& d) {
         d.fields[1].Size = 239;  // 5 + 241 + 9
         d.indexes[0].KeyFields = {1, 2, 3};
       },
       0, ""},
      {"primary key of 256 bytes",
       [](Definition& d) {
         d.fields[1].Size = 240;
         d.indexes[0].KeyFields = {1, 2, 3};
       },
       ec::InvalidKeySize, "Primary"},
      {"non-unique secondary reaching 255 with the record id",
       [](Definition& d) {
         d.fields[1].Size = 240;  // 242 + 9 = 251 before the id
         d.indexes.push_back(Index("ByName", {2, 3}));
       },
       0, ""},
  };
  for (const Case& c : cases) {
    Definition d;
    c.change(d);
    std::string named;
    EXPECT_EQ(ValidationCode(d, &named), c.code) << c.what;
    if (c.code != 0) {
      EXPECT_EQ(named, c.named) << c.what;
    }
  }
}

TEST(ValidateDefinition, CompletesTheDescriptors) {
  Definition d;
  d.fields.push_back(Field(4, "Flag", ftBoolean, 7));  // size is only for strings and bytes
  d.fields[3].Decimals = 3;                            // decimals only for BCD
  d.fields[2].Decimals = 2;
  d.indexes.push_back(Index("ByID", {1}));  // non-unique: + 4 for the record id
  d.indexes.push_back(Index("ByIDUnique", {1}, true));
  std::vector<std::int16_t> seventeen(17, 1);
  d.indexes.push_back(Index("Many", seventeen));
  d.indexes.back().KeyFields.fill(1);
  ASSERT_EQ(ValidationCode(d), 0) << ErrorContext().LastCode;
  TDataFile::ValidateDefinition(false, "", d.indexes, d.fields, 512, "T.DAT");
  EXPECT_EQ(d.fields[3].Size, 0);
  EXPECT_EQ(d.fields[3].Decimals, 0);
  EXPECT_EQ(d.fields[2].Decimals, 2);
  EXPECT_EQ(d.fields[0].SlotOffset, 9);
  EXPECT_EQ(d.fields[1].SlotOffset, 14);
  EXPECT_EQ(d.fields[2].SlotOffset, 36);
  EXPECT_EQ(d.indexes[0].KeyLength, 5);
  EXPECT_EQ(d.indexes[0].KeyFieldCount, 1);
  EXPECT_EQ(d.indexes[1].KeyLength, 9);
  EXPECT_EQ(d.indexes[2].KeyLength, 5);
  EXPECT_EQ(d.indexes[3].KeyFieldCount, 16);  // an index on 17 fields uses the first 16
  EXPECT_EQ(d.indexes[3].KeyLength, 16 * 5 + 4);
}

class CreateTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MemoryFiles().Clear();
    TablePasswords().Clear();
  }
  void TearDown() override {
    MemoryFiles().Clear();
    TablePasswords().Clear();
  }
  std::string Path(const std::string& name = "T") const { return dir.PathOf(name + ".DAT"); }
  TempDir dir;
};

TEST_F(CreateTableTest, NeedsAnExclusiveWritableCursor) {
  TDataFile table;
  table.SetFileName(Path());
  EXPECT_EQ(CodeOf([&] { table.CreateTable(false, "", SimpleIndexes(), SimpleFields(), 512, ""); }),
            ec::MustBeExclusive);
  table.SetExclusive(true);
  table.SetReadOnly(true);
  EXPECT_EQ(CodeOf([&] { table.CreateTable(false, "", SimpleIndexes(), SimpleFields(), 512, ""); }), ec::AccessDenied);
  EXPECT_FALSE(platform::FileExists(Path()));
}

TEST_F(CreateTableTest, NewTableHeaderAndFiles) {
  std::vector<TFieldDescriptor> fields = SimpleFields();
  fields.push_back(Field(4, "Notes", ftBlob, 0, fstMemo));
  CreateTableAt(Path(), fields, SimpleIndexes());
  EXPECT_TRUE(platform::FileExists(dir.PathOf("T.IDX")));
  EXPECT_TRUE(platform::FileExists(dir.PathOf("T.BLB")));
  TDataFile table;
  table.SetFileName(Path());
  table.Open();
  EXPECT_EQ(table.Header().ChangeCounter, 1);
  EXPECT_EQ(table.Header().NextRecordNumber, 1);
  EXPECT_EQ(table.Header().BlobFieldCount, 1);
  EXPECT_EQ(table.FieldCount(), 4);
  EXPECT_EQ(table.GetDescription(), "test table");
}

TEST_F(CreateTableTest, ValidationFailureLeavesNothingOnDisk) {
  std::vector<TFieldDescriptor> fields = SimpleFields();
  fields[1].Size = 250;
  EXPECT_EQ(CodeOf([&] { CreateTableAt(Path(), fields, SimpleIndexes()); }), ec::InvalidFieldDefinition);
  EXPECT_FALSE(platform::FileExists(Path()));
  EXPECT_FALSE(platform::FileExists(dir.PathOf("T.IDX")));
}

TEST_F(CreateTableTest, FailureAfterTheFilesExistRemovesThemAll) {
  std::vector<TFieldDescriptor> fields = SimpleFields();
  fields.push_back(Field(4, "Notes", ftBlob, 0, fstMemo));
  int writes = 0;
  platform::SetFileFaultHook([&](platform::FileOp op, const std::string& name) -> platform::DWORD {
    return op == platform::FileOp::Write && name.ends_with(".IDX") && ++writes == 2 ? platform::ERROR_DISK_FULL : 0;
  });
  const TErrorCode code = CodeOf([&] { CreateTableAt(Path(), fields, SimpleIndexes()); });
  platform::SetFileFaultHook(nullptr);
  EXPECT_EQ(code, ec::WriteError);
  EXPECT_FALSE(platform::FileExists(Path()));
  EXPECT_FALSE(platform::FileExists(dir.PathOf("T.IDX")));
  EXPECT_FALSE(platform::FileExists(dir.PathOf("T.BLB")));
}

TEST_F(CreateTableTest, CleanUpRemovesWhatTheCreationMadeAndKeepsItsError) {
  const struct {
    const char* what;
    platform::FileOp failingOp;
    const char* failingFile;
    const char* undeletable;  // a file the clean-up cannot remove, or ""
    bool olderTableKept;
  } cases[] = {
      // Nothing was made: the table already there must survive the refused creation.
      {"data file cannot be made", platform::FileOp::Create, ".DAT", "", true},
      {"index file cannot be made", platform::FileOp::Create, ".IDX", "", false},
      {"index write fails and the data file cannot be removed", platform::FileOp::Write, ".IDX", ".DAT", false},
  };
  std::vector<TFieldDescriptor> fields = SimpleFields();
  fields.push_back(Field(4, "Notes", ftBlob, 0, fstMemo));
  for (const auto& c : cases) {
    CreateTableAt(Path(), fields, SimpleIndexes());
    const std::string olderDat = ReadWholeFile(Path());
    const std::string olderIdx = ReadWholeFile(dir.PathOf("T.IDX"));
    platform::SetFileFaultHook([&](platform::FileOp op, const std::string& name) -> platform::DWORD {
      if (op == c.failingOp && name.ends_with(c.failingFile)) return platform::ERROR_ACCESS_DENIED;
      if (op == platform::FileOp::Delete && *c.undeletable && name.ends_with(c.undeletable)) {
        return platform::ERROR_ACCESS_DENIED;
      }
      return 0;
    });
    TDataFile table;
    table.SetExclusive(true);
    table.SetFileName(Path());
    const TErrorCode code = CodeOf([&] { table.CreateTable(false, "", SimpleIndexes(), SimpleFields(), 512, "new"); });
    platform::SetFileFaultHook(nullptr);
    EXPECT_NE(code, 0) << c.what;
    EXPECT_NE(code, ec::CannotDelete) << c.what << ": the clean-up hid the failure";
    EXPECT_FALSE(table.Opened()) << c.what;
    if (c.olderTableKept) {
      EXPECT_EQ(ReadWholeFile(Path()), olderDat) << c.what;
      EXPECT_EQ(ReadWholeFile(dir.PathOf("T.IDX")), olderIdx) << c.what;
      EXPECT_TRUE(platform::FileExists(dir.PathOf("T.BLB"))) << c.what;
    } else {
      for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
        const bool left = *c.undeletable && std::string(ext) == c.undeletable;
        EXPECT_EQ(platform::FileExists(dir.PathOf(std::string("T") + ext)), left) << c.what << " " << ext;
      }
    }
    for (const char* ext : {".DAT", ".IDX", ".BLB"}) platform::DeleteFileA(dir.PathOf(std::string("T") + ext));
  }
}

TEST_F(CreateTableTest, LongestKeysAreCreated) {
  std::vector<TFieldDescriptor> fields = SimpleFields();
  fields[1].Size = 239;
  fields.push_back(Field(4, "Raw", ftBytes, 9));
  // 5 + 241 + 9 for the primary; 241 + 10 and the record id for the secondary.
  CreateTableAt(Path(), fields, {Index("", {1, 2, 3}, true), Index("ByNameRaw", {2, 4})});
  TDataFile table;
  table.SetFileName(Path());
  table.Open();
  EXPECT_EQ(table.GetIndexDef(0).KeyLength, 255);
  EXPECT_EQ(table.GetIndexDef(1).KeyLength, 255);
}

TEST_F(CreateTableTest, CreatingWithoutBlobFieldsRemovesAnOldBlobFile) {
  WriteWholeFile(dir.PathOf("T.BLB"), "an older table's blobs");
  CreateTableAt(Path(), SimpleFields(), SimpleIndexes());
  EXPECT_FALSE(platform::FileExists(dir.PathOf("T.BLB")));
}

TEST_F(CreateTableTest, PasswordKnownBeforeCreationStaysKnown) {
  TablePasswords().Add("Known");
  CreateTableAt(Path(), SimpleFields(), SimpleIndexes(), false, "Known");
  EXPECT_TRUE(TablePasswords().Contains("Known"));
  TDataFile table;
  table.SetFileName(Path());
  table.Open();  // no handler needed
  EXPECT_TRUE(table.Encrypted());
}

TEST_F(CreateTableTest, DeleteRenameCopyAsOneTable) {
  std::vector<TFieldDescriptor> fields = SimpleFields();
  fields.push_back(Field(4, "Notes", ftBlob, 0, fstMemo));
  CreateTableAt(Path("A"), fields, SimpleIndexes());
  TDataFile table;
  table.SetFileName(Path("A"));
  table.CopyTable(Path("B"));
  for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
    EXPECT_EQ(ReadWholeFile(dir.PathOf(std::string("A") + ext)), ReadWholeFile(dir.PathOf(std::string("B") + ext)));
  }
  EXPECT_EQ(CodeOf([&] { table.CopyTable(Path("A")); }), ec::UnknownError);  // onto itself
  EXPECT_EQ(CodeOf([&] { table.CopyTable(dir.PathOf("a.dat")); }), ec::UnknownError);

  EXPECT_EQ(CodeOf([&] { table.RenameTable(Path("B")); }), ec::UnknownError);  // the target exists
  EXPECT_TRUE(platform::FileExists(dir.PathOf("A.IDX")));
  table.RenameTable(Path("C"));
  EXPECT_EQ(table.FileName(), Path("C"));
  for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
    EXPECT_FALSE(platform::FileExists(dir.PathOf(std::string("A") + ext)));
    EXPECT_TRUE(platform::FileExists(dir.PathOf(std::string("C") + ext)));
  }
  table.DeleteTable();
  for (const char* ext : {".DAT", ".IDX", ".BLB"})
    EXPECT_FALSE(platform::FileExists(dir.PathOf(std::string("C") + ext)));
}

TEST_F(CreateTableTest, CopyWithoutBlobsOverATableWithBlobsLeavesNoStrayBlobFile) {
  std::vector<TFieldDescriptor> fields = SimpleFields();
  fields.push_back(Field(4, "Notes", ftBlob, 0, fstMemo));
  CreateTableAt(Path("B"), fields, SimpleIndexes());
  CreateTableAt(Path("A"), SimpleFields(), SimpleIndexes());
  TDataFile table;
  table.SetFileName(Path("A"));
  table.CopyTable(Path("B"));
  EXPECT_EQ(ReadWholeFile(dir.PathOf("A.DAT")), ReadWholeFile(dir.PathOf("B.DAT")));
  EXPECT_FALSE(platform::FileExists(dir.PathOf("B.BLB")));
  TDataFile copy;
  copy.SetFileName(Path("B"));
  copy.Open();
  EXPECT_FALSE(copy.HasBlobFields());
}

TEST_F(CreateTableTest, RenameWhoseLaterStepFailsIsUndone) {
  CreateTableAt(Path("A"), SimpleFields(), SimpleIndexes());
  platform::SetFileFaultHook([](platform::FileOp op, const std::string& name) -> platform::DWORD {
    return op == platform::FileOp::Move && name.ends_with(".IDX") ? platform::ERROR_ACCESS_DENIED : 0;
  });
  TDataFile table;
  table.SetFileName(Path("A"));
  const TErrorCode code = CodeOf([&] { table.RenameTable(Path("B")); });
  platform::SetFileFaultHook(nullptr);
  EXPECT_EQ(code, ec::UnknownError);
  EXPECT_TRUE(platform::FileExists(Path("A")));
  EXPECT_TRUE(platform::FileExists(dir.PathOf("A.IDX")));
  EXPECT_FALSE(platform::FileExists(Path("B")));
}

TEST_F(CreateTableTest, MaintenanceOfATableOpenInAnotherProcessFails) {
  CreateTableAt(Path(), SimpleFields(), SimpleIndexes());
  kavrin::testing::HolderProcess holder(Path(), kavrin::testing::HolderAccess::ReadWrite,
                                        kavrin::testing::HolderShare::Shared);
  ASSERT_TRUE(holder.Ready());
  TDataFile table;
  table.SetFileName(Path());
  EXPECT_EQ(CodeOf([&] { table.DeleteTable(); }), ec::CannotDelete);
  EXPECT_EQ(CodeOf([&] { table.RenameTable(Path("X")); }), ec::UnknownError);
  table.SetExclusive(true);
  EXPECT_EQ(CodeOf([&] { table.Open(); }), ec::AccessDenied);
  EXPECT_TRUE(platform::FileExists(Path()));
  EXPECT_TRUE(platform::FileExists(dir.PathOf("T.IDX")));
}

TEST_F(CreateTableTest, EmptyTable) {
  std::vector<TFieldDescriptor> fields = SimpleFields();
  fields.push_back(Field(4, "Notes", ftBlob, 0, fstMemo));
  CreateTableAt(Path(), fields, SimpleIndexes());
  TDataFile table;
  table.SetFileName(Path());
  table.Open();
  EXPECT_EQ(CodeOf([&] { table.EmptyTable(); }), ec::MustBeExclusive);
  table.Close();
  table.SetExclusive(true);
  table.Open();
  for (int i = 0; i < 3; ++i) {
    TRecord* record = table.AllocateRecord();
    record->InitNew();
    record->SetDirty(true);
  }
  table.Flush();
  table.EmptyTable();
  EXPECT_EQ(table.PhysicalRecordCount(), 0);
  EXPECT_EQ(table.CurrentRecord(), nullptr);
  table.Close();
  EXPECT_EQ(ReadWholeFile(Path()).size(), 127u + 4 * 265);
  EXPECT_EQ(ReadWholeFile(dir.PathOf("T.BLB")).size(), 512u);
}

TEST_F(CreateTableTest, InMemoryTablesLiveInTheMemoryFileList) {
  CreateTableAt("/mem/T.DAT", SimpleFields(), SimpleIndexes(), true);
  EXPECT_TRUE(MemoryFiles().MemoryFileExists("/mem/T.DAT"));
  EXPECT_TRUE(MemoryFiles().MemoryFileExists("/mem/T.IDX"));
  EXPECT_FALSE(platform::FileExists("/mem/T.DAT"));
  TDataFile table;
  table.SetInMemory(true);
  table.SetFileName("/mem/T.DAT");
  table.CopyTable("/mem/U.DAT");
  EXPECT_TRUE(MemoryFiles().MemoryFileExists("/mem/U.IDX"));
  table.RenameTable("/mem/V.DAT");
  EXPECT_FALSE(MemoryFiles().MemoryFileExists("/mem/T.DAT"));
  table.Open();
  EXPECT_EQ(table.FieldCount(), 3);
  table.Close();
  table.DeleteTable();
  EXPECT_FALSE(MemoryFiles().MemoryFileExists("/mem/V.IDX"));
}

}  // namespace
}  // namespace kavrin::engine
