#include "classlib/data/numeric_fields.h"
#include "classlib/data/other_fields.h"
#include "classlib/data/string_field.h"
#include "engine/data_file.h"
#include "engine/error_codes.h"
#include "tests/dataset/dataset_fixture.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/in_child.h"

namespace kavrin::dataset::testing {
namespace {

namespace en = kavrin::engine;
using classlib::TDataSetState;

class EditingTest : public DataSetTest {
 protected:
  // The bytes stored for a string field of the first record, read past the dataset.
  std::string StoredText(const std::string& table, std::int16_t fieldNumber) {
    en::TDataFile cursor;
    cursor.SetFileName(PathOf(table));
    cursor.Open();
    std::vector<std::uint8_t> image(cursor.RecordSize());
    cursor.GotoBOF();
    EXPECT_EQ(cursor.Next(image.data()), 0);
    char text[256] = {};
    bool isNull = true;
    cursor.GetField(fieldNumber, image.data(), isNull, text);
    cursor.Close();
    return isNull ? std::string("<null>") : std::string(text);
  }
};

// An exclusive table keeps its posted records in memory until it closes: a close that cannot write them
// (the file size limit stops the data file's growth) raises 9218 with the table still open, so it can
// close again once there is room; closing without writing, or freeing the component, lets them go.
TEST_F(EditingTest, AnExclusiveTableThatCannotWriteAtCloseStaysOpen) {
  enum class TEnd { CloseAgain, CloseWithoutWriting, Free };
  const struct {
    const char* name;
    TEnd end;
    int rows;  // what another cursor finds afterwards
  } ends[] = {
      {"closed again once there is room", TEnd::CloseAgain, 105},
      {"closed without writing", TEnd::CloseWithoutWriting, 5},
      {"freed", TEnd::Free, 5},
  };
  for (const auto& end : ends) {
    SCOPED_TRACE(end.name);
    CreatePeople("PEOPLE", 5);
    const std::string data = PathOf("PEOPLE.DAT");
    const std::string problems = kavrin::testing::InChild([&] {
      std::string problems;
      auto table = Table("PEOPLE");
      table->SetExclusive(true);
      table->Open();
      for (int id = 6; id <= 105; ++id) {
        table->Append();
        table->FieldByName("ID")->SetAsInteger(id);
        table->FieldByName("Name")->SetAsString("R" + std::to_string(id));
        table->Post();
      }
      const std::string before = kavrin::testing::ReadWholeFile(data);
      kavrin::testing::LimitFileSize(before.size());
      const int code = EngineCodeOf([&] { table->Close(); });
      if (code != en::ec::WriteError) problems += "the close answered " + std::to_string(code) + "; ";
      if (!table->Active() || !table->Handle() || !table->Handle()->Opened()) return problems + "the table closed; ";
      if (table->RecordCount() != 105) problems += "the table lost its records; ";
      switch (end.end) {
        case TEnd::CloseAgain:
          kavrin::testing::UnlimitFileSize();
          if (const int again = EngineCodeOf([&] { table->Close(); }); again != 0) {
            problems += "the close with room answered " + std::to_string(again) + "; ";
          }
          break;
        case TEnd::CloseWithoutWriting: table->CloseWithoutWriting(); break;
        case TEnd::Free: table.reset(); break;
      }
      kavrin::testing::UnlimitFileSize();
      if (table && table->Active()) problems += "the table is still open; ";
      if (end.end != TEnd::CloseAgain && kavrin::testing::ReadWholeFile(data) != before)
        problems += "letting go wrote; ";
      return problems;
    });
    EXPECT_EQ(problems, "");

    en::TDataFile cursor;
    cursor.SetFileName(data);
    cursor.Open();
    std::vector<std::uint8_t> image(cursor.RecordSize());
    cursor.GotoBOF();
    int rows = 0;
    while (cursor.Next(image.data()) == 0) ++rows;
    EXPECT_EQ(rows, end.rows);
    cursor.Close();
  }
}

TEST_F(EditingTest, InsertIntoAnEmptyTableAndPost) {
  CreatePeople("PEOPLE", 0);
  auto table = Table("PEOPLE");
  table->Open();
  EXPECT_TRUE(table->IsEmpty());
  EXPECT_TRUE(table->Bof() && table->Eof());
  table->Insert();
  EXPECT_EQ(table->State(), TDataSetState::dsInsert);
  EXPECT_EQ(table->BookmarkFlag(table->ActiveRecord()), classlib::bfBOF);
  EXPECT_EQ(table->RecNo(), -1);
  table->FieldByName("ID")->SetAsInteger(7);
  table->FieldByName("Name")->SetAsString("Seven");
  table->Post();
  EXPECT_EQ(table->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(table->RecordCount(), 1);
  EXPECT_EQ(table->RecNo(), 1);
  EXPECT_EQ(table->FieldByName("Name")->AsString(), "Seven");
  EXPECT_FALSE(table->IsEmpty());
  // Edit on an empty table inserts instead.
  table->Delete();
  table->Edit();
  EXPECT_EQ(table->State(), TDataSetState::dsInsert);
  table->Cancel();
  EXPECT_TRUE(table->IsEmpty());
  EXPECT_EQ(DatabaseMessageOf([&] { table->Delete(); }), "Cannot perform this operation on an empty dataset");
}

TEST_F(EditingTest, RequiredFieldsStopPostOnlyForValueTypes) {
  std::vector<en::TFieldDescriptor> fields{Field(1, "ID", en::ftInteger, 0, en::fstAutoInc),
                                           Field(2, "Name", en::ftString, 10), Field(3, "Born", en::ftDate),
                                           Field(4, "Notes", en::ftBlob, 0, en::fstMemo)};
  for (auto& field : fields) field.Required = field.Type != en::ftBlob;
  Create("REQ", fields, {Index("", {1}, true)});
  struct Case {
    const char* what;
    bool name;
    bool born;
    const char* message;
  };
  const Case cases[] = {
      {"string null", false, true, "Field 'Name' must have a value"},
      {"date null", true, false, "Field 'Born' must have a value"},
      {"both set; AutoInc and blob null", true, true, ""},
  };
  auto table = Table("REQ");
  table->Open();
  table->FieldByName("Notes")->SetRequired(true);  // the dataset's own check passes blobs by
  classlib::TDataSource source;
  source.SetDataSet(table.get());
  classlib::TFieldDataLink nameLink;
  int focusRequests = 0;
  nameLink.OnFocusRequest = [&] { ++focusRequests; };
  nameLink.SetFieldName("Name");
  nameLink.SetDataSource(&source);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    table->Append();
    if (c.name) table->FieldByName("Name")->SetAsString("Ann");
    if (c.born) table->FieldByName("Born")->SetAsString("1/2/2003");
    EXPECT_EQ(DatabaseMessageOf([&] { table->Post(); }), c.message);
    if (table->State() == TDataSetState::dsInsert) table->Cancel();
  }
  EXPECT_EQ(focusRequests, 1);  // the control of the missing Name was asked to take the focus
  EXPECT_EQ(table->RecordCount(), 1);
  EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 1);
}

TEST_F(EditingTest, StringsStoreTheirCodePageAndAreCutInStoredBytes) {
  struct Case {
    bool transliterate;
    std::string text;
    std::string stored;  // the bytes in the table
    std::string readBack;
  };
  const Case cases[] = {
      {true, "Grüße ½",
       "Gr\x81\xE1"
       "e \xAB",
       "Grüße ½"},
      {false, "Grüße ½",
       "Gr\xFC\xDF"
       "e \xBD",
       "Grüße ½"},
      {true, "ÄÖÜäöüßé€", "\x8E\x99\x9A\x84\x94\x81\xE1\x82?", "ÄÖÜäöüßé?"},
      {false, "naïve café au lait", "na\xEFve caf\xE9", "naïve café"},
      {true, "", "<null>", ""},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string name = "TEXT" + std::to_string(++n);
    Create(name, {Field(1, "ID", en::ftInteger), Field(2, "Text", en::ftString, 10)}, {Index("", {1}, true)});
    auto table = Table(name);
    table->Open();
    auto* text = dynamic_cast<classlib::TStringField*>(table->FieldByName("Text"));
    ASSERT_NE(text, nullptr);
    text->SetTransliterate(c.transliterate);
    table->Insert();
    table->FieldByName("ID")->SetAsInteger(1);
    text->SetAsString(c.text);
    table->Post();
    EXPECT_EQ(text->AsString(), c.readBack);
    EXPECT_EQ(text->IsNull(), c.text.empty());  // an empty string is stored as null
    table->Close();
    EXPECT_EQ(StoredText(name, 2), c.stored);
  }
}

TEST_F(EditingTest, AMemoChangedInAnEditIsKeptByPostAndDroppedByCancel) {
  Create("MEMO", {Field(1, "ID", en::ftInteger), Field(2, "Notes", en::ftBlob, 0, en::fstMemo)},
         {Index("", {1}, true)});
  auto table = Table("MEMO");
  table->Open();
  table->Insert();
  table->FieldByName("ID")->SetAsInteger(1);
  table->FieldByName("Notes")->SetAsString("first");
  table->Post();
  EXPECT_EQ(table->FieldByName("Notes")->AsString(), "first");
  table->Edit();
  table->FieldByName("Notes")->SetAsString("second, longer");
  table->FieldByName("Notes")->SetAsString("third");  // the same open blob, cut again
  EXPECT_EQ(table->FieldByName("Notes")->AsString(), "third");
  EXPECT_TRUE(table->Modified());
  table->Cancel();
  EXPECT_EQ(table->FieldByName("Notes")->AsString(), "first");
  table->Edit();
  table->FieldByName("Notes")->SetAsString("");
  table->Post();
  EXPECT_TRUE(table->FieldByName("Notes")->IsNull());
  EXPECT_EQ(DatabaseMessageOf([&] { table->FieldByName("Notes")->SetAsString("x"); }),
            "Dataset not in edit or insert mode");
}

TEST_F(EditingTest, EventsRunInOrderAndCalculatedFieldsFollowTheRecord) {
  CreatePeople("PEOPLE", 2);
  auto table = Table("PEOPLE");
  auto* doubled = new classlib::TIntegerField(table.get());
  doubled->SetFieldName("Doubled");
  doubled->SetCalculated(true);
  doubled->SetDataSet(table.get());
  auto* id = new classlib::TIntegerField(table.get());
  id->SetFieldName("ID");
  id->SetDataSet(table.get());
  auto* name = new classlib::TStringField(table.get());
  name->SetFieldName("Name");
  name->SetSize(20);
  name->SetDataSet(table.get());
  std::vector<std::string> events;
  auto note = [&](const char* what) { return [&events, what](classlib::TDataSet&) { events.push_back(what); }; };
  table->BeforeInsert = note("BeforeInsert");
  table->AfterInsert = note("AfterInsert");
  table->BeforeEdit = note("BeforeEdit");
  table->AfterEdit = note("AfterEdit");
  table->BeforePost = note("BeforePost");
  table->AfterPost = note("AfterPost");
  table->BeforeCancel = note("BeforeCancel");
  table->AfterCancel = note("AfterCancel");
  table->BeforeDelete = note("BeforeDelete");
  table->AfterDelete = note("AfterDelete");
  table->OnNewRecord = [&](classlib::TDataSet& d) {
    events.push_back("OnNewRecord");
    d.FieldByName("Name")->SetAsString("new");
  };
  table->OnCalcFields = [&](classlib::TDataSet& d) {
    d.FieldByName("Doubled")->SetAsInteger(d.FieldByName("ID")->AsInteger() * 2);
  };
  std::vector<std::string> changes;
  id->OnChange = [&](classlib::TField& f) { changes.push_back(f.AsString()); };
  table->Open();
  EXPECT_FALSE(table->DefaultFields());
  EXPECT_EQ(doubled->AsInteger(), 2);
  table->Next();
  EXPECT_EQ(doubled->AsInteger(), 4);
  table->Insert();
  EXPECT_FALSE(table->Modified());  // the new-record event's values do not count as changes
  id->SetAsInteger(21);
  EXPECT_TRUE(table->Modified());
  EXPECT_EQ(doubled->AsInteger(), 42);  // recalculated as the edit goes
  table->Post();
  table->Edit();
  table->Cancel();
  table->Delete();
  EXPECT_EQ(events, (std::vector<std::string>{"BeforeInsert", "OnNewRecord", "AfterInsert", "BeforePost", "AfterPost",
                                              "BeforeEdit", "AfterEdit", "BeforeCancel", "AfterCancel", "BeforeDelete",
                                              "AfterDelete"}));
  EXPECT_EQ(changes, std::vector<std::string>{"21"});
  EXPECT_EQ(DatabaseMessageOf([&] { doubled->SetAsInteger(1); }), "Dataset not in edit or insert mode");

  // A failing new-record event leaves the dataset browsing the window it had.
  table->OnNewRecord = [](classlib::TDataSet&) { throw std::runtime_error("no"); };
  EXPECT_THROW(table->Insert(), std::runtime_error);
  EXPECT_EQ(table->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(table->RecordCount(), 2);
}

// A calculated string takes only its text's bytes and zeros after them: copying the field's whole size
// from a shorter text read past its end (AddressSanitizer shows it on every calculation).
TEST_F(EditingTest, ACalculatedStringShorterThanItsSizeIsCopiedAndZeroFilled) {
  CreatePeople("PEOPLE", 2);
  auto table = Table("PEOPLE");
  auto* id = new classlib::TIntegerField(table.get());
  id->SetFieldName("ID");
  id->SetDataSet(table.get());
  auto* label = new classlib::TStringField(table.get());
  label->SetFieldName("Label");
  label->SetSize(60);
  label->SetCalculated(true);
  label->SetDataSet(table.get());
  const std::string longer = "twenty-two characters!";  // past the short-string buffer, on the heap
  table->OnCalcFields = [&](classlib::TDataSet& d) {
    // The longer text first, so that the short one must clear what it leaves behind.
    d.FieldByName("Label")->SetAsString(longer);
    if (d.FieldByName("ID")->AsInteger() == 2) d.FieldByName("Label")->SetAsString("x");
  };
  table->Open();
  EXPECT_EQ(label->AsString(), longer);
  table->Next();
  EXPECT_EQ(label->AsString(), "x");
  std::vector<char> raw(static_cast<std::size_t>(label->DataSize()), '\x7F');
  ASSERT_TRUE(label->GetData(raw.data()));
  EXPECT_EQ(raw[0], 'x');
  for (std::size_t k = 1; k < raw.size(); ++k) EXPECT_EQ(raw[k], '\0') << "byte " << k;
}

TEST_F(EditingTest, NumbersAndDatesShowTheirFormats) {
  std::vector<en::TFieldDescriptor> fields{Field(1, "ID", en::ftInteger), Field(2, "Amount", en::ftBCD),
                                           Field(3, "Price", en::ftFloat, 0, en::fstMoney),
                                           Field(4, "Day", en::ftDate)};
  fields[1].Decimals = 2;
  Create("FMT", fields, {Index("", {1}, true)});
  auto table = Table("FMT");
  table->Open();
  table->Insert();
  table->FieldByName("ID")->SetAsInteger(1);
  table->FieldByName("Amount")->SetAsString("1234.5");
  table->FieldByName("Price")->SetAsFloat(1234.5);
  table->FieldByName("Day")->SetAsString("7/4/2021");
  table->Post();
  auto* amount = dynamic_cast<classlib::TBCDField*>(table->FieldByName("Amount"));
  ASSERT_NE(amount, nullptr);
  EXPECT_EQ(amount->DisplayText(), "1234.5");  // general format
  amount->SetCurrency(true);
  EXPECT_EQ(amount->DisplayText(), "1,234.50");
  EXPECT_EQ(amount->Text(), "1234.50");  // fixed for editing
  amount->SetDisplayFormat("0.0");
  amount->SetEditFormat("0.000");
  EXPECT_EQ(amount->DisplayText(), "1234.5");
  EXPECT_EQ(amount->Text(), "1234.500");
  EXPECT_TRUE(amount->IsValidChar(U'.'));
  EXPECT_FALSE(amount->IsValidChar(U'x'));
  EXPECT_FALSE(table->FieldByName("ID")->IsValidChar(U'.'));
  EXPECT_EQ(table->FieldByName("Price")->DisplayText(), "1,234.50");
  EXPECT_EQ(table->FieldByName("Price")->Alignment(), classlib::TAlignment::taRightJustify);
  auto* day = dynamic_cast<classlib::TDateTimeField*>(table->FieldByName("Day"));
  ASSERT_NE(day, nullptr);
  EXPECT_EQ(day->DisplayText(), "7/4/2021");
  day->SetDisplayFormat("yyyy-mm-dd");
  EXPECT_EQ(day->DisplayText(), "2021-07-04");
  EXPECT_EQ(day->Text(), "7/4/2021");
  table->FieldByName("ID")->OnGetText = [](classlib::TField& f, std::string& text, bool display) {
    text = (display ? "#" : "") + f.AsString();
  };
  EXPECT_EQ(table->FieldByName("ID")->DisplayText(), "#1");
  EXPECT_EQ(table->FieldByName("ID")->Text(), "1");
  EXPECT_EQ(table->FieldByName("Amount")->Value().AsCurrency(), runtime::Currency::FromRaw(12345000));
  EXPECT_TRUE(table->FieldByName("Day")->Value().VarType() == classlib::TVarType::varDate);
}

TEST_F(EditingTest, FieldAccessErrors) {
  CreatePeople("PEOPLE", 1);
  auto table = Table("PEOPLE");
  table->Open();
  classlib::TField* name = table->FieldByName("Name");
  EXPECT_EQ(DatabaseMessageOf([&] { name->SetAsString("x"); }), "Dataset not in edit or insert mode");
  name->SetReadOnly(true);
  table->Edit();
  EXPECT_EQ(DatabaseMessageOf([&] { name->SetAsString("x"); }), "Field 'Name' cannot be modified");
  EXPECT_FALSE(name->CanModify());
  table->Cancel();
  EXPECT_EQ(DatabaseMessageOf([&] { table->FieldByName("Nope"); }), "Field 'Nope' not found");
  classlib::TIntegerField loose;
  loose.SetFieldName("Loose");
  EXPECT_EQ(DatabaseMessageOf([&] { loose.AsInteger(); }), "Field 'Loose' has no dataset");
  classlib::TBCDField bcd;
  bcd.SetMinValue(runtime::Currency::FromInt(1));
  bcd.SetMaxValue(runtime::Currency::FromInt(5));
  bcd.SetFieldName("Amount");
  EXPECT_EQ(DatabaseMessageOf([&] { bcd.SetAsCurrency(runtime::Currency::FromInt(9)); }),
            "9 is not a valid value for field 'Amount'. The allowed range is 1 to 5");
  // Validation sees the pending value and may refuse it.
  table->FieldByName("ID")->OnValidate = [](classlib::TField& f) {
    if (f.AsInteger() < 0) classlib::DatabaseError("negative");
  };
  table->Edit();
  EXPECT_EQ(DatabaseMessageOf([&] { table->FieldByName("ID")->SetAsInteger(-1); }), "negative");
  EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 1);
  table->Cancel();
}

TEST_F(EditingTest, AFailingAfterEditReleasesTheLockItTook) {
  CreatePeople("PEOPLE", 1);
  auto table = Table("PEOPLE");
  table->Open();
  table->AfterEdit = [](classlib::TDataSet&) { throw std::runtime_error("after edit"); };
  EXPECT_THROW(table->Edit(), std::runtime_error);
  EXPECT_EQ(table->State(), TDataSetState::dsBrowse);
  EXPECT_FALSE(table->RecordLocked());
  en::TDataFile other;  // another handle: its record lock would be refused while ours is held
  other.SetFileName(PathOf("PEOPLE"));
  other.SetRetryCount(0);
  other.Open();
  other.LockRecord(1);
  other.UnlockRecord(1);
}

TEST_F(EditingTest, ErrorEventsCanAbortSilently) {
  CreatePeople("PEOPLE", 1);
  auto table = Table("PEOPLE");
  table->Open();
  table->Insert();
  table->FieldByName("ID")->SetAsInteger(1);  // a duplicate key
  int calls = 0;
  table->OnPostError = [&](classlib::TDataSet&, const en::EDatabaseError& e, classlib::TDataAction& action) {
    ++calls;
    EXPECT_EQ(dynamic_cast<const en::EDBEngineError&>(e).Code(), en::ec::KeyViolation);
    action = classlib::TDataAction::daAbort;
  };
  EXPECT_THROW(table->Post(), classlib::EAbort);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(table->State(), TDataSetState::dsInsert);
  table->OnPostError = nullptr;
  EXPECT_EQ(EngineCodeOf([&] { table->Post(); }), en::ec::KeyViolation);
  table->Cancel();
}

TEST_F(EditingTest, DataSourcesAndFieldLinksHearChanges) {
  CreatePeople("PEOPLE", 2);
  auto table = Table("PEOPLE");
  classlib::TDataSource source;
  std::vector<std::string> seen;
  source.OnDataChange = [&](classlib::TDataSource&, classlib::TField* field) {
    seen.push_back(field ? field->FieldName() : "-");
  };
  std::vector<TDataSetState> states;
  source.OnStateChange = [&](classlib::TDataSource& s) { states.push_back(s.State()); };
  source.SetDataSet(table.get());
  classlib::TFieldDataLink link;
  std::string shown;
  int editing = 0;
  link.OnDataChange = [&] { shown = link.Field() ? link.Field()->DisplayText() : "?"; };
  link.OnEditingChange = [&] { ++editing; };
  link.OnUpdateData = [&] { link.Field()->SetAsString("typed"); };
  link.SetFieldName("Name");
  link.SetDataSource(&source);
  table->Open();
  EXPECT_EQ(shown, "R1");
  table->Next();
  EXPECT_EQ(shown, "R2");
  EXPECT_TRUE(link.Edit());
  EXPECT_EQ(table->State(), TDataSetState::dsEdit);
  link.Modified();
  table->Post();  // the control's pending text is written first
  EXPECT_EQ(table->FieldByName("Name")->AsString(), "typed");
  EXPECT_EQ(shown, "typed");
  EXPECT_EQ(editing, 2);
  EXPECT_EQ(states, (std::vector<TDataSetState>{TDataSetState::dsInactive, TDataSetState::dsBrowse,
                                                TDataSetState::dsEdit, TDataSetState::dsBrowse}));
  EXPECT_NE(std::find(seen.begin(), seen.end(), "Name"), seen.end());
  table->Close();
  EXPECT_EQ(link.Field(), nullptr);
}

}  // namespace
}  // namespace kavrin::dataset::testing
