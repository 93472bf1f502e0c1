// Arbitrary bytes as an in-memory blob file, plus a block size and four record slot offsets: opening,
// loading every chain, saving changed blobs, repairing and freeing chains and recovering the file must
// end in engine errors or success, never in a crash, a hang or an access out of bounds.
//
// Input: byte 0 picks the block size; bytes 1-16 are four little-endian i32 slot offsets; the rest is
// the file (padded with zeros to its 512-byte header).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/blob_file.h"
#include "engine/blob_owner.h"
#include "engine/byte_order.h"
#include "engine/engine_error.h"
#include "engine/memory_files.h"

namespace {

namespace ke = kavrin::engine;

constexpr int kSlots = 4;
constexpr const char* kName = "FUZZ.BLB";

std::size_t SlotOf(std::int16_t field) { return 9 + 5 * static_cast<std::size_t>(field - 1); }

class FuzzOwner : public ke::TBlobOwner {
 public:
  explicit FuzzOwner(std::uint16_t blockSize) : blockSize_(blockSize) {}
  std::uint16_t BlobBlockSize() const override { return blockSize_; }
  std::int32_t GetBlobReference(std::int16_t field, const std::uint8_t* image) const override {
    return ke::LoadI32(image + SlotOf(field) + 1);
  }
  void SetBlobReference(std::int16_t field, std::uint8_t* image, std::int32_t reference) override {
    image[SlotOf(field)] = reference != 0 ? 1 : 0;
    ke::StoreI32(image + SlotOf(field) + 1, reference);
  }

 private:
  std::uint16_t blockSize_;
};

template <typename Step>
void Try(Step step) {
  try {
    step();
  } catch (const ke::EDBEngineError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 + 4 * kSlots) return 0;
  static constexpr std::uint16_t kBlockSizes[] = {0, 64, 100, 1000};
  FuzzOwner owner(kBlockSizes[data[0] % 4]);
  std::int32_t slots[kSlots];
  for (int i = 0; i < kSlots; ++i) slots[i] = ke::LoadI32(data + 1 + 4 * i);
  std::vector<std::uint8_t> bytes(data + 1 + 4 * kSlots, data + size);
  if (bytes.size() < 512) bytes.resize(512, 0);

  ke::MemoryFiles().Clear();
  auto [code, memory] = ke::MemoryFiles().NewMemoryFile(kName);
  if (code != ke::ec::Success) return 0;
  memory->SetSize(0);
  memory->Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  ke::TMemoryFileList::CloseMemoryFile(*memory);

  {
    ke::TBlobFile file(owner);
    file.SetInMemory(true);
    file.SetFileName(kName);
    file.SetExclusive(true);
    try {
      file.OpenFile();
    } catch (const ke::EDBEngineError&) {
      ke::MemoryFiles().Clear();
      return 0;
    }

    std::vector<std::uint8_t> image(9 + 5 * kSlots, 0);
    for (int i = 0; i < kSlots; ++i) {
      const auto field = static_cast<std::int16_t>(i + 1);
      Try([&] {
        std::int32_t handle = 0;
        if (file.OpenBlobHandle(slots[i], field, handle) != ke::ec::Success) return;
        owner.SetBlobReference(field, image.data(), -handle);
        std::int32_t length = 0;
        file.GetBlobSize(handle, length);
        std::string text(static_cast<std::size_t>(length), '\0');
        std::int32_t read = 0;
        file.ReadBlob(handle, 0, length, text.data(), read);
        if (read != length) __builtin_trap();
        // Change every other blob: grow one, cut another, so saving reuses, allocates and frees.
        if (i % 2 == 0) {
          file.WriteBlob(handle, length, 600, std::string(600, 'g').data());
        } else {
          file.SetBlobSize(handle, length / 3);
        }
      });
    }
    Try([&] {
      file.SetBlobOwner(image.data(), 1);
      file.SaveBlobs(image.data());
      file.StoreBlobOffsets(image.data());
    });
    Try([&] {
      file.FlushBlocks(true, 0);
      file.WriteHeader();
    });
    Try([&] {
      for (int i = 0; i < kSlots; ++i) {
        std::int32_t first = slots[i];
        file.RepairChain(first, i + 1);
        if (first != 0 && !file.IsBlockOffset(first)) __builtin_trap();
      }
    });
    Try([&] {
      std::int32_t first = slots[0];
      file.FreeChain(first);
      for (int i = 0; i < 3; ++i) file.AllocBlock();
    });
    Try([&] { file.FlushBlocks(true, 0); });
    Try([&] {
      file.RecoverFile();
      std::int32_t first = slots[1];
      file.RepairChain(first, 2);
    });
    Try([&] { file.CloseFile(); });
  }
  ke::MemoryFiles().Clear();
  return 0;
}
