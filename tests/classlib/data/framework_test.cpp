#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/data/component.h"
#include "classlib/data/exceptions.h"
#include "classlib/data/format_float.h"
#include "classlib/data/streams.h"
#include "classlib/data/string_list.h"
#include "classlib/data/variant.h"
#include "runtime/currency.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::classlib {
namespace {

class Tracked : public TComponent {
 public:
  Tracked(TComponent* owner, std::vector<std::string>& log, std::string name) : TComponent(owner), log_(log) {
    SetName(std::move(name));
  }
  ~Tracked() override {
    DestroyComponents();  // as every derived class does: the owned components go first
    log_.push_back(Name());
  }

 private:
  std::vector<std::string>& log_;
};

TEST(ComponentTest, OwnersFreeWhatTheyOwnLastFirst) {
  std::vector<std::string> freed;
  auto* owner = new Tracked(nullptr, freed, "owner");
  new Tracked(owner, freed, "a");
  auto* b = new Tracked(owner, freed, "b");
  new Tracked(b, freed, "b.child");
  auto* c = new Tracked(owner, freed, "c");
  delete c;  // leaves its owner's list
  EXPECT_EQ(owner->ComponentCount(), 2);
  delete owner;
  EXPECT_EQ(freed, (std::vector<std::string>{"c", "b.child", "b", "a", "owner"}));
}

TEST(ExceptionsTest, AbortIsSilentAndOtherErrorsReachTheHandler) {
  std::vector<std::string> shown;
  SetApplicationExceptionHandler([&](const std::exception& e) { shown.push_back(e.what()); });
  CallHandlingExceptions([] { Abort(); });
  CallHandlingExceptions([] { DatabaseError("bad"); });
  CallHandlingExceptions([] {});
  SetApplicationExceptionHandler(nullptr);
  EXPECT_EQ(shown, std::vector<std::string>{"bad"});
  EXPECT_EQ(FormatMessage("Field '%s' of %s", {"A", "B"}), "Field 'A' of B");
  EXPECT_EQ(FormatMessage("%s and %s", {"%s"}), "%s and %s");
}

TEST(VariantTest, ConversionsNullAndArrays) {
  EXPECT_TRUE(Variant().IsEmpty());
  EXPECT_TRUE(Variant::Null().IsNull());
  EXPECT_FALSE(Variant::Null().HasValue());
  EXPECT_EQ(Variant::Null().AsString(), "");
  EXPECT_EQ(Variant(std::int32_t{42}).AsString(), "42");
  EXPECT_EQ(Variant("17").AsInteger(), 17);
  EXPECT_DOUBLE_EQ(Variant("2.5").AsFloat(), 2.5);
  EXPECT_EQ(Variant(2.5).AsInteger(), 2);  // halves to even
  EXPECT_EQ(Variant(true).AsString(), "True");
  EXPECT_TRUE(Variant("True").AsBoolean());
  EXPECT_EQ(Variant(runtime::Currency::FromRaw(125000)).AsString(), "12.5");
  EXPECT_EQ(Variant("12.5").AsCurrency(), runtime::Currency::FromRaw(125000));
  EXPECT_THROW(Variant("abc").AsInteger(), EVariantError);
  EXPECT_THROW(Variant(1e300).AsInteger(), EVariantError);
  const Variant values = Variant::Array({Variant(std::int32_t{1}), Variant("x"), Variant::Null()});
  EXPECT_EQ(values.ArrayHighBound(), 2);
  EXPECT_EQ(values[1].AsString(), "x");
  EXPECT_TRUE(values[2].IsNull());
  EXPECT_THROW(values[3], EVariantError);
  EXPECT_EQ(Variant("a"), Variant(std::string("a")));
  EXPECT_FALSE(Variant(std::int32_t{1}) == Variant(1.0));
}

TEST(StringListTest, LinesValuesAndText) {
  TStringList list;
  int changes = 0;
  list.OnChange = [&](TStringList&) { ++changes; };
  list.SetText("PATH=/data\r\nlang=de\nlast");
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Values("path"), "/data");
  EXPECT_EQ(list.Values("LANG"), "de");
  EXPECT_EQ(list.Values("none"), "");
  EXPECT_EQ(list.IndexOf("LAST"), 2);
  EXPECT_EQ(list.Text(), "PATH=/data\r\nlang=de\r\nlast\r\n");
  list.BeginUpdate();
  list.Add("x");
  list.Delete(0);
  list.EndUpdate();
  EXPECT_EQ(changes, 2);  // SetText, then one for the update
  EXPECT_THROW(list.Strings(9), std::out_of_range);
  TStringList copy;
  copy.Assign(list);
  EXPECT_EQ(copy, list);
}

TEST(StreamsTest, MemoryAndFileStreamsReadWriteSeekAndCopy) {
  TMemoryStream memory;
  memory.WriteBuffer("hello world", 11);
  EXPECT_EQ(memory.Size(), 11);
  EXPECT_EQ(memory.Seek(-5, soFromEnd), 6);
  char part[5] = {};
  memory.ReadBuffer(part, 5);
  EXPECT_EQ(std::string(part, 5), "world");
  EXPECT_EQ(memory.Read(part, 5), 0);
  EXPECT_THROW(memory.ReadBuffer(part, 1), EReadError);

  kavrin::testing::TempDir dir;
  const std::string path = dir.PathOf("stream.bin");
  {
    TFileStream file(path, fmCreate);
    EXPECT_EQ(file.CopyFrom(memory, 0), 11);
  }
  TFileStream file(path, fmOpenRead);
  EXPECT_EQ(file.Size(), 11);
  TMemoryStream back;
  back.LoadFromStream(file);
  EXPECT_EQ(back.Memory(), memory.Memory());
  EXPECT_THROW(TFileStream(dir.PathOf("missing"), fmOpenRead), EFOpenError);
  EXPECT_THROW(TFileStream(dir.PathOf("no/such/dir"), fmCreate), EFCreateError);
}

TEST(FormatFloatTest, DisplayFormats) {
  struct Case {
    const char* format;
    double value;
    const char* text;
  };
  const Case cases[] = {
      {"0.00", 3.14159, "3.14"},
      {"#,##0.00", 1234567.891, "1,234,567.89"},
      {"#.##", 0.5, ".5"},
      {"000", 7, "007"},
      {"0.0;(0.0)", -2.25, "(2.3)"},
      {"0.0;(0.0);zero", 0, "zero"},
      {"0", -0.4, "0"},
      {"\"$\"0.00", 2, "$2.00"},
      {"", 0.1, "0.1"},
      {"0.00", 2.675, "2.68"},
      {"0.00", 0.004, "0.00"},
      {"#,##0", 999.5, "1,000"},
      {"0.000", 1e-7, "0.000"},
      {"0", 123456789012.0, "123456789012"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatFloat(c.format, c.value), c.text) << c.format;
}

}  // namespace
}  // namespace kavrin::classlib
