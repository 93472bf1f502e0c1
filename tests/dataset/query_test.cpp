#include "dataset/query.h"

#include "classlib/data/session.h"
#include "engine/engine_error.h"
#include "tests/dataset/dataset_fixture.h"

namespace kavrin::dataset::testing {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes += static_cast<char>(v);
  return bytes;
}

std::string ReadParams(const std::string& data) {
  classlib::TMemoryStream stream;
  stream.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
  stream.SetPosition(0);
  TParams params;
  return DatabaseMessageOf([&] { params.ReadData(stream); });
}

TEST(QueryTest, ParamsDataReaderChecksEveryLength) {
  const std::string bad = "Unable to load bind parameters";
  struct Case {
    const char* what;
    std::string data;
    std::string message;
  };
  const Case cases[] = {
      {"no parameters, version 1", Bytes({1, 0, 0, 0}), ""},
      {"no parameters, version 2", Bytes({2, 0, 0, 0, 0, 0}), ""},
      {"one unbound parameter, version 1", Bytes({1, 0, 1, 0, 2, 'I', 'D', 3, 0, 9, 9}), ""},
      {"one unbound parameter, version 2", Bytes({2, 0, 1, 0, 0, 0, 1, 0, 0, 0, 'X', 3, 0, 9, 9}), ""},
      {"a bound parameter", Bytes({1, 0, 1, 0, 2, 'I', 'D', 3, 1, 2, 0, 'a', 'b'}), "Field 'ID' is of unknown type"},
      {"version 3", Bytes({3, 0, 0, 0}), bad},
      {"empty", "", bad},
      {"version cut short", Bytes({1}), bad},
      {"count missing", Bytes({1, 0}), bad},
      {"name longer than the data", Bytes({1, 0, 1, 0, 200, 'I'}), bad},
      {"huge name length, version 2", Bytes({2, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F, 'a'}), bad},
      {"value longer than the data", Bytes({1, 0, 1, 0, 1, 'X', 3, 1, 0x10, 0, 'a'}), bad},
      {"trailing bytes missing", Bytes({1, 0, 1, 0, 1, 'X', 3, 0, 9}), bad},
      {"more parameters than data", Bytes({1, 0, 0xFF, 0xFF, 0}), bad},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadParams(c.data), c.message) << c.what;
}

TEST(QueryTest, QueryKeepsItsDataAndNeverOpens) {
  TQuery query;
  EXPECT_FALSE(query.HasBinaryData());
  classlib::TMemoryStream in;
  const std::string data = Bytes({1, 2, 3, 0, 255});
  in.WriteBuffer(data.data(), 5);
  in.SetPosition(0);
  query.ReadBinaryData(in);
  classlib::TMemoryStream out;
  query.WriteBinaryData(out);
  EXPECT_EQ(std::string(out.Memory().begin(), out.Memory().end()), data);
  EXPECT_EQ(query.Params().Count(), 0);
  EXPECT_FALSE(query.RequestLive());
  EXPECT_TRUE(query.ParamCheck());
  EXPECT_EQ(DatabaseMessageOf([&] { query.Open(); }), "Error creating cursor handle");
  EXPECT_FALSE(query.Active());
  classlib::DBFinalization();
}

TEST(QueryTest, EngineResultsBecomeExceptions) {
  EXPECT_EQ(engine::CheckEngineResult(0), 0);
  EXPECT_EQ(engine::CheckEngineResult(0x10000), 0x10000);  // the low 16 bits are zero
  EXPECT_EQ(EngineCodeOf([] { engine::CheckEngineResult(10258); }), 10258);
  try {
    engine::EngineError(4321);
    FAIL();
  } catch (const engine::EDBEngineError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("KAVRIN Engine Error # 4321 ", 0), 0u);
    EXPECT_EQ(e.GetErrors(0).ErrorCode(), 4321);
  }
}

}  // namespace
}  // namespace kavrin::dataset::testing
