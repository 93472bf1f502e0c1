#include "engine/engine_error.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace kavrin::engine {
namespace {

class EngineErrorTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearErrorContext(); }
  void TearDown() override { SetEngineRaiseHook(nullptr); }
};

EDBEngineError CatchRaise(TErrorCode code, const std::string& name) {
  try {
    RaiseEngineError(code, name);
  } catch (const EDBEngineError& error) {
    return error;
  }
  ADD_FAILURE() << "RaiseEngineError returned";
  return EDBEngineError(0);
}

TEST_F(EngineErrorTest, RaiseFillsOnlyTheSlotOfTheCodesGroup) {
  const EDBEngineError error = CatchRaise(10258, "ORDERS.DAT");
  EXPECT_EQ(ErrorContext().LastCode, 10258);
  EXPECT_EQ(ErrorContext().FileName, "ORDERS.DAT");
  EXPECT_EQ(ErrorContext().FieldName, "");
  EXPECT_EQ(ErrorContext().IndexName, "");
  EXPECT_EQ(GetEngineErrorMessage(10258), "Record in data file ORDERS.DAT is in use by another user");
  EXPECT_STREQ(error.what(), "KAVRIN Engine Error # 10258 Record in data file ORDERS.DAT is in use by another user");
  ASSERT_EQ(error.ErrorCount(), 1);
  EXPECT_EQ(error.GetErrors(0).ErrorCode(), 10258);
  EXPECT_EQ(error.GetErrors(0).NativeError(), 0);
  EXPECT_EQ(error.GetErrors(0).Category(), 10258 >> 8);
  EXPECT_EQ(error.GetErrors(0).SubCode(), 10258 & 0xFF);
  EXPECT_EQ(error.GetErrors(0).Owner(), &error);  // still true after the exception was copied
}

TEST_F(EngineErrorTest, SetContextKeepsOtherSlotsButRaiseClearsThem) {
  SetErrorContext(9221, "A.DAT");
  SetErrorContext(9732, "Amount");
  EXPECT_EQ(ErrorContext().FileName, "A.DAT");
  EXPECT_EQ(ErrorContext().FieldName, "Amount");
  EXPECT_EQ(GetEngineErrorMessage(9732), "You must provide a value for the field Amount");

  CatchRaise(9732, "Amount");
  EXPECT_EQ(ErrorContext().FileName, "");
  EXPECT_EQ(ErrorContext().FieldName, "Amount");
}

TEST_F(EngineErrorTest, CodeOfNoGroupChangesOnlyTheLastCode) {
  SetErrorContext(9217, "B.DAT");
  SetErrorContext(1, "ignored");
  EXPECT_EQ(ErrorContext().LastCode, 1);
  EXPECT_EQ(GetLastEngineError(), 1);
  EXPECT_EQ(GetEngineErrorMessage(1), "Unknown error occurred with data file B.DAT");
}

TEST_F(EngineErrorTest, TextsAsTheProgramsShowThem) {
  struct Case {
    TErrorCode code;
    const char* name;
    const char* text;
  };
  const Case cases[] = {
      {8711, "T.DAT", "End of blob data in data file T.DAT reached prematurely"},
      {9993, "PRIMARY", "Primary index is already defined and cannot be added again"},
      {9998, "T.DAT", "Invalid blob offset into data file T.DAT specified"},
      {10010, "X", "Secondary index name missing or not specified"},
      {10015, "T.DAT", "Password provided for data file T.DATis either blank or too long."},
      {10022, "BYNAME", "Invalid secondary index name BYNAME specified"},
      {10027, "BYNAME", "Secondary index BYNAME already exists"},
      {10050, "T.DAT", "Invalid filter handle specified"},
      {10253, "T.DAT", "Data file T.DAT must be opened exclusively"},
      {10498, "T.DAT", "Insufficient rights to data file T.DAT, password is required."},
      {10753, "Memo", "Invalid blob field Memo specified for data file"},
      {11017, "T.DAT", "Invalid length for in-memory data file T.DAT."},
      {11025, "T.DAT", "Data file T.DAT has been moved"},
      {12035, "T.DAT", "Incorrect version for data file T.DAT"},
      {12292, "BYDATE", "Invalid field type specified in index BYDATE"},
      {8710, "T.DAT", "Record not found in in data file T.DAT"},
  };
  for (const Case& c : cases) {
    ClearErrorContext();
    SetErrorContext(c.code, c.name);
    EXPECT_EQ(GetEngineErrorMessage(c.code), c.text) << c.code;
  }
}

TEST_F(EngineErrorTest, MessageIsCutTo127Characters) {
  const std::string name(60, 'N');
  SetErrorContext(9487, name);
  const std::string full =
      "Maximum or minimum limits on number of indexes or fields in an index exceeded in data file " + name;
  ASSERT_GT(full.size(), 127u);
  EXPECT_EQ(GetEngineErrorMessage(9487), full.substr(0, 127));

  char buffer[EngineMessageBufferSize];
  std::memset(buffer, 'x', sizeof buffer);
  GetEngineErrorMessage(9487, buffer);
  EXPECT_EQ(std::string(buffer), full.substr(0, 127));
}

// Field and index names are stored in Windows-1252; messages are UTF-8 and never end in half a character.
TEST_F(EngineErrorTest, StoredNamesShowInUtf8) {
  SetErrorContext(10038, "CAF\xC9");
  EXPECT_EQ(GetEngineErrorMessage(10038), "Invalid or duplicate field name CAF\u00C9 specified");
  SetErrorContext(10022, "\xCDNDICE\x80");
  EXPECT_EQ(GetEngineErrorMessage(10022), "Invalid secondary index name \u00CDNDICE\u20AC specified");

  // "Invalid or duplicate field name " is 32 bytes; each euro sign takes 3 in UTF-8, so byte 127 falls
  // inside the 32nd of them and the message stops after the 31st.
  SetErrorContext(10038, std::string(40, '\x80'));
  std::string expected = "Invalid or duplicate field name ";
  for (int k = 0; k < 31; ++k) expected += "\u20AC";
  EXPECT_EQ(GetEngineErrorMessage(10038), expected);
}

TEST_F(EngineErrorTest, LongNamesAreCutInsideTheContextOnly) {
  const std::string name(400, 'p');
  SetErrorContext(11010, name);
  EXPECT_EQ(ErrorContext().FileName.size(), 255u);
  EXPECT_EQ(GetEngineErrorMessage(11010).size(), 127u);
}

TEST_F(EngineErrorTest, UnknownCodeStillNamesTheEngine) {
  const EDBEngineError error(4242);
  EXPECT_STREQ(error.what(), "KAVRIN Engine Error # 4242 Unknown error occurred with data file ");
}

TEST_F(EngineErrorTest, CheckEngineResultRaisesOnlyForNonZeroLow16Bits) {
  EXPECT_EQ(CheckEngineResult(0), 0);
  EXPECT_EQ(CheckEngineResult(0x10000), 0x10000);
  try {
    CheckEngineResult(0x10000 + 10050);
    FAIL() << "no exception";
  } catch (const EDBEngineError& error) {
    EXPECT_EQ(error.Code(), 10050);
    EXPECT_STREQ(error.what(), "KAVRIN Engine Error # 10050 Invalid filter handle specified");
  }
}

struct ProgramError {
  TErrorCode code;
};

TEST_F(EngineErrorTest, RaiseHookReplacesTheException) {
  SetEngineRaiseHook([](TErrorCode code) { throw ProgramError{code}; });
  try {
    RaiseEngineError(9729, "K.DAT");
    FAIL() << "no exception";
  } catch (const ProgramError& error) {
    EXPECT_EQ(error.code, 9729);
    EXPECT_EQ(ErrorContext().FileName, "K.DAT");
  }
  SetEngineRaiseHook(nullptr);
  EXPECT_THROW(RaiseEngineError(9729, "K.DAT"), EDBEngineError);
}

TEST_F(EngineErrorTest, EngineErrorIsADatabaseError) { EXPECT_THROW(EngineError(9729), EDatabaseError); }

TEST_F(EngineErrorTest, NameMayComeFromTheContextItself) {
  SetErrorContext(11013, "SELF.DAT");
  CatchRaise(11013, ErrorContext().FileName);
  EXPECT_EQ(ErrorContext().FileName, "SELF.DAT");
}

}  // namespace
}  // namespace kavrin::engine
