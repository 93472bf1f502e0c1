// Arbitrary bytes as index pages: first decoded alone, then laid into a small in-memory index file as
// its only index's pages and walked, searched, counted, changed and flushed. Every path must end in
// success or an engine error, never in a read or write outside a buffer, a crash or a loop.
//
// Input: byte 0 the key length, byte 1 which page is the root, byte 2 the free-chain head, then up to
// eight pages of 1024 bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "engine/data_file_format.h"
#include "engine/engine_error.h"
#include "engine/index_file.h"
#include "engine/index_format.h"
#include "engine/index_owner.h"
#include "engine/memory_files.h"

namespace {

using namespace kavrin::engine;

class FuzzOwner : public TIndexOwner {
 public:
  bool Repairing() const override { return false; }
  void SyncIndexPosition() override {}
  std::uint8_t KeyFieldType(std::int16_t) const override { return ftInteger; }
  std::span<const std::uint8_t> RecordImage(std::int32_t) override { return image_; }
  std::int32_t RecordSlots() const override { return 4096; }

 private:
  std::vector<std::uint8_t> image_ = std::vector<std::uint8_t>(16, 0);
};

std::int32_t AcceptOdd(std::uint32_t, std::uint8_t*, std::int32_t record) { return record & 1; }

template <typename F>
void Try(F&& action) {
  try {
    action();
  } catch (const EDBEngineError&) {
  }
}

void Navigate(TIndexFile& file, const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> key(PageEntryArea, 0);
  std::memcpy(key.data(), data, std::min<std::size_t>(size, key.size()));
  std::vector<std::uint8_t> high(PageEntryArea, 0xFF);
  Try([&] { file.ApplyRange(); });
  Try([&] { file.FirstKey(); });
  Try([&] { file.MoveBy(1000); });
  Try([&] { file.MoveBy(-3); });
  Try([&] { file.LastKey(); });
  Try([&] { file.MoveBy(-1000); });
  Try([&] { file.FindKey(key, true, true); });
  Try([&] { file.FindKey(key, false, false); });
  Try([&] { file.GotoPosition(7); });
  Try([&] { (void)file.PositionInRange(); });
  Try([&] { (void)file.CurrentRecordNumber(); });
  Try([&] { (void)file.NextPage(); });
  Try([&] { (void)file.RangeCount(key, high); });
  Try([&] {
    TRecordBitmap bitmap(4096);
    file.MarkKeyRange(key, high, bitmap);
  });
  Try([&] {
    file.SetRangeStart(key);
    file.SetRangeEnd(high);
    file.SetRangeActive(true);
    file.ApplyRange();
    file.FirstKey();
    file.MoveBy(5);
    file.SetRangeActive(false);
  });
  Try([&] {
    TRecordBitmap bitmap(4096);
    bitmap.FillOnes();
    file.InstallFilterBitmap(std::move(bitmap));
    file.SetRecordCallback(AcceptOdd, 0);
    file.SetCallbackActive(true);
    file.GotoPosition(3);
    (void)file.PositionInRange();
    file.MoveBy(2);
    file.FreeBitmap();
    file.SetRecordCallback(nullptr, 0);
  });
  Try([&] { file.InsertKey(key, 77); });
  Try([&] { file.DeleteKey(key); });
  Try([&] {
    std::vector<std::uint8_t> other(key);
    other[0] ^= 0x80;
    file.InsertKey(other, 78);
    file.DeleteKey(other);
  });
  Try([&] { file.FlushPages(); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint8_t keyLength = std::max<std::uint8_t>(data[0], 1);
  const std::size_t pages = std::min<std::size_t>((size - 3) / PageSize, 8);
  const auto end = static_cast<std::int32_t>(IndexHeaderSize + std::max<std::size_t>(pages, 1) * PageSize);

  // The page codec on its own.
  if (pages > 0) {
    TPage page(keyLength, data[1] & 1);
    Try([&] {
      page.Decode(std::span<const std::uint8_t, PageSize>(data + 3, PageSize), end, "FUZZ.IDX");
      std::uint8_t image[PageSize];
      page.ComputeUsed();
      page.Encode(std::span<std::uint8_t, PageSize>(image, PageSize), "FUZZ.IDX");
    });
  }

  // The pages as a file.
  MemoryFiles().Clear();
  FuzzOwner owner;
  try {
    TIndexFile file(owner);
    file.SetInMemory(true);
    file.SetFileName("FUZZ.IDX");
    file.SetExclusive(true);
    file.NewFile();
    const std::int16_t fields[] = {1};
    file.CreatePrimaryIndex(keyLength, 1, fields, true, false, (data[1] & 0x80) != 0);
    TIndexFileHeader header = file.Header();
    header.EndOfFile = end;
    if (pages > 0) {
      header.Descriptors[0].Root = IndexHeaderSize + static_cast<std::int32_t>(data[1] % pages) * PageSize;
      if (data[2] != 0) header.Descriptors[0].FreeChain = IndexHeaderSize + (data[2] % pages) * PageSize;
    }
    std::uint8_t image[IndexHeaderSize];
    EncodeIndexFileHeader(header, std::span<std::uint8_t, IndexHeaderSize>(image, IndexHeaderSize));
    file.Seek(0, 0);
    file.WriteBuffer(image, IndexHeaderSize);
    for (std::size_t i = 0; i < pages; ++i) file.WriteBuffer(data + 3 + i * PageSize, PageSize);
    file.CloseFile();
    Try([&] {
      file.OpenFile();
      Navigate(file, data, size);
    });
  } catch (const EDBEngineError&) {
  }
  MemoryFiles().Clear();
  return 0;
}
