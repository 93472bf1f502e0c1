// Arbitrary bytes as the three files of a table held in memory: opening it and reading every record
// and blob must end in engine errors or success, never in a crash, a hang or a read past a buffer.
//
// Input: u32 length of the data file, u32 length of the index file, the data file, the index file, and
// the rest as the blob file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/blob_file.h"
#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "engine/index_file.h"
#include "engine/memory_files.h"
#include "engine/password_list.h"

namespace {

using namespace kavrin::engine;

void PutMemoryFile(const char* name, const std::uint8_t* data, std::size_t size) {
  auto [code, file] = MemoryFiles().NewMemoryFile(name);
  if (code != ec::Success) return;
  file->SetSize(0);
  file->Write(data, static_cast<std::int32_t>(size));
  file->Release();
}

void ReadEverything(TDataFile& table) {
  std::vector<std::uint8_t> value(256);
  for (std::int32_t n = 1; n <= table.PhysicalRecordCount() && n <= 2000; ++n) {
    TRecord* record = table.FetchRecord(n);
    for (std::uint16_t position = 1; position <= table.FieldCount(); ++position) {
      TFieldDescriptor field;
      table.FieldDefByIndex(position, field);
      bool isNull = true;
      table.GetField(field.FieldNumber, record->Buffer(), isNull, value.data());
      if (field.Type != ftBlob || !table.HasBlobFields()) continue;
      const std::int32_t reference = table.GetBlobReference(field.FieldNumber, record->Buffer());
      if (reference <= 0) continue;
      std::int32_t handle = 0;
      if (table.BlobFile().OpenBlobHandle(reference, field.FieldNumber, handle) != ec::Success) continue;
      std::int32_t size = 0;
      table.BlobFile().GetBlobSize(handle, size);
      std::vector<std::uint8_t> data(static_cast<std::size_t>(std::min(size, 1 << 20)));
      std::int32_t read = 0;
      table.BlobFile().ReadBlob(handle, 0, static_cast<std::int32_t>(data.size()), data.data(), read);
      std::int32_t first = 0;
      table.BlobFile().CloseBlobHandle(handle, first);
    }
  }
  table.IndexFile().FirstKey();
  for (int steps = 0; steps < 2000 && table.IndexFile().HasKey() && !table.IndexFile().Eof(); ++steps) {
    table.IndexFile().MoveBy(1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  const std::size_t datSize = std::min<std::size_t>(LoadU32(data), size - 8);
  const std::size_t idxSize = std::min<std::size_t>(LoadU32(data + 4), size - 8 - datSize);
  const std::uint8_t* dat = data + 8;
  const std::uint8_t* idx = dat + datSize;
  const std::uint8_t* blb = idx + idxSize;
  MemoryFiles().Clear();
  TablePasswords().Clear();
  PutMemoryFile("FUZZ.DAT", dat, datSize);
  PutMemoryFile("FUZZ.IDX", idx, idxSize);
  PutMemoryFile("FUZZ.BLB", blb, size - 8 - datSize - idxSize);
  try {
    TDataFile table;
    table.SetInMemory(true);
    table.SetExclusive(true);
    table.SetReadOnly(true);
    table.SetFileName("FUZZ.DAT");
    // An encrypted table opens with the password it stores, so its scrambled units are read too.
    table.SetPasswordHandler([](TDataFile& t) {
      TablePasswords().Add(t.Header().Password);
      return true;
    });
    table.Open();
    ReadEverything(table);
    table.Close();
  } catch (const EDBEngineError&) {
  }
  MemoryFiles().Clear();
  return 0;
}
