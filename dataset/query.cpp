// The "Data" property of TParams, little-endian, read field by field:
//   u16 version (above 2 refused)
//   parameter count: u32 in version 2, else u16
//   per parameter: name length (u32 in version 2, else u8) and the name's bytes; u8 type; u8 bound flag;
//     when bound, a value length (u32 in version 2, else u16) and the value's bytes; then 2 bytes.
#include "dataset/query.h"

#include "classlib/data/exceptions.h"

namespace kavrin::dataset {
namespace {

using classlib::DatabaseError;

class DataReader {
 public:
  explicit DataReader(classlib::TStream& stream) : stream_(stream), left_(stream.Size() - stream.Position()) {}

  std::uint32_t Unsigned(int bytes) {
    std::uint8_t data[4] = {};
    Take(data, bytes);
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | data[i];
    return value;
  }
  std::string Bytes(std::uint32_t count) {
    Need(count);
    std::string bytes(count, '\0');
    Take(bytes.data(), static_cast<int>(count));
    return bytes;
  }
  void Skip(std::uint32_t count) {
    Need(count);
    stream_.Seek(count, classlib::soFromCurrent);
    left_ -= count;
  }

 private:
  void Need(std::int64_t count) const {
    if (count < 0 || count > left_) Fail();
  }
  void Take(void* buffer, int count) {
    Need(count);
    if (stream_.Read(buffer, count) != count) Fail();
    left_ -= count;
  }
  [[noreturn]] static void Fail() { DatabaseError("Unable to load bind parameters"); }

  classlib::TStream& stream_;
  std::int64_t left_;
};

}  // namespace

void TParams::ReadData(classlib::TStream& stream) {
  DataReader reader(stream);
  const std::uint32_t version = reader.Unsigned(2);
  if (version > 2) DatabaseError("Unable to load bind parameters");
  const bool wide = version == 2;
  const std::uint32_t count = reader.Unsigned(wide ? 4 : 2);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::string name = reader.Bytes(reader.Unsigned(wide ? 4 : 1));
    reader.Unsigned(1);  // the type
    const bool bound = reader.Unsigned(1) != 0;
    if (bound) {
      reader.Skip(reader.Unsigned(wide ? 4 : 2));
      DatabaseError(classlib::FormatMessage("Field '%s' is of unknown type", {name}));
    }
    reader.Skip(2);
  }
}

TQuery::~TQuery() {
  try {
    Close();
  } catch (...) {
  }
}

void TQuery::ReadBinaryData(classlib::TStream& stream) {
  const std::int64_t size = stream.Size() - stream.Position();
  data_.assign(static_cast<std::size_t>(size > 0 ? size : 0), 0);
  stream.ReadBuffer(data_.data(), static_cast<std::int64_t>(data_.size()));
  hasData_ = true;
}

void TQuery::WriteBinaryData(classlib::TStream& stream) const {
  if (hasData_) stream.WriteBuffer(data_.data(), static_cast<std::int64_t>(data_.size()));
}

}  // namespace kavrin::dataset
