// Arbitrary bytes as the start of a data file: decoding must end in a layout or an engine error,
// never in a read past the buffer.
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/data_file_format.h"
#include "engine/engine_error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const auto layout = kavrin::engine::DecodeDataFileLayout(std::span<const std::uint8_t>(data, size), "FUZZ.DAT");
    // A layout that passed the checks must describe records its slots fit in.
    for (const auto& field : layout.Fields) {
      if (!field.IsAutoInc() &&
          field.SlotOffset + 1 + kavrin::engine::FieldDataSize(field) > layout.Header.RecordSize) {
        __builtin_trap();
      }
    }
  } catch (const kavrin::engine::EDBEngineError&) {
  }
  return 0;
}
