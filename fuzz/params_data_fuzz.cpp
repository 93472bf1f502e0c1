// The "Data" property of stored query parameters: any bytes give an error or nothing, never a read past
// them.
#include <cstddef>
#include <cstdint>

#include "classlib/data/streams.h"
#include "dataset/query.h"
#include "engine/engine_error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kavrin::classlib::TMemoryStream stream;
  stream.WriteBuffer(data, static_cast<std::int64_t>(size));
  stream.SetPosition(0);
  kavrin::dataset::TParams params;
  try {
    params.ReadData(stream);
  } catch (const kavrin::engine::EDatabaseError&) {
  }
  return 0;
}
