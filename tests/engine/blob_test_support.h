// What the blob file tests share: a small data-file stand-in, hand-built file bytes and a blob file
// opened on them, on disk or in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/blob_file.h"
#include "engine/blob_owner.h"
#include "engine/engine_error.h"
#include "engine/memory_files.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine::blob_testing {

inline TErrorCode CodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EDBEngineError& error) {
    return error.Code();
  }
  return 0;
}

// Record images of a table whose blob field n (from 1) has its slot at 9 + 5 (n - 1): a has-value byte
// and the 4-byte reference.
inline constexpr std::size_t TestRecordSize = 9 + 5 * 4;
inline std::size_t SlotOf(std::int16_t fieldNumber) { return 9 + 5 * static_cast<std::size_t>(fieldNumber - 1); }

inline std::int32_t Get32(const std::uint8_t* p) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                                   (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24));
}
inline void Put32(std::uint8_t* p, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  p[0] = static_cast<std::uint8_t>(u);
  p[1] = static_cast<std::uint8_t>(u >> 8);
  p[2] = static_cast<std::uint8_t>(u >> 16);
  p[3] = static_cast<std::uint8_t>(u >> 24);
}

class TestOwner : public TBlobOwner {
 public:
  explicit TestOwner(std::uint16_t blockSize = 0) : blockSize_(blockSize) {}
  void SetBlockSize(std::uint16_t blockSize) { blockSize_ = blockSize; }
  std::uint16_t BlobBlockSize() const override { return blockSize_; }
  std::int32_t GetBlobReference(std::int16_t fieldNumber, const std::uint8_t* image) const override {
    return Get32(image + SlotOf(fieldNumber) + 1);
  }
  void SetBlobReference(std::int16_t fieldNumber, std::uint8_t* image, std::int32_t reference) override {
    image[SlotOf(fieldNumber)] = reference != 0 ? 1 : 0;
    Put32(image + SlotOf(fieldNumber) + 1, reference);
  }

 private:
  std::uint16_t blockSize_;
};

using Image = std::vector<std::uint8_t>;
inline Image NewImage() { return Image(TestRecordSize, 0); }
inline std::int32_t SlotReference(const Image& image, std::int16_t field) {
  return Get32(image.data() + SlotOf(field) + 1);
}
inline void SetSlotReference(Image& image, std::int16_t field, std::int32_t reference) {
  image[SlotOf(field)] = reference != 0 ? 1 : 0;
  Put32(image.data() + SlotOf(field) + 1, reference);
}

// File bytes laid out by hand, independently of the code under test.
inline void PutLE(std::string& bytes, std::size_t at, std::uint32_t value, int width) {
  for (int i = 0; i < width; ++i)
    bytes[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
}
inline std::uint32_t GetLE(const std::string& bytes, std::size_t at, int width) {
  std::uint32_t value = 0;
  for (int i = 0; i < width; ++i) {
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes.at(at + static_cast<std::size_t>(i))))
             << (8 * i);
  }
  return value;
}

inline std::string HeaderBytes(std::int32_t counter, std::uint8_t version, std::uint32_t freeHead, std::int32_t end) {
  std::string bytes(512, '\0');
  PutLE(bytes, 0, static_cast<std::uint32_t>(counter), 4);
  bytes[8] = static_cast<char>(version);
  PutLE(bytes, 9, freeHead, 4);
  PutLE(bytes, 13, static_cast<std::uint32_t>(end), 4);
  return bytes;
}

struct FixtureBlock {
  FixtureBlock(std::int32_t previous = 0, std::int32_t next = 0, std::uint16_t used = 0, std::int32_t owner = 0,
               std::int32_t total = 0, std::string payload = {})
      : Previous(previous), Next(next), Used(used), Owner(owner), Total(total), Payload(std::move(payload)) {}
  std::int32_t Previous;
  std::int32_t Next;
  std::uint16_t Used;
  std::int32_t Owner;
  std::int32_t Total;
  std::string Payload;
};

inline std::string BlockBytes(std::size_t blockSize, const FixtureBlock& block) {
  std::string bytes(blockSize, '\0');
  PutLE(bytes, 0, static_cast<std::uint32_t>(block.Previous), 4);
  PutLE(bytes, 4, static_cast<std::uint32_t>(block.Next), 4);
  PutLE(bytes, 8, block.Used, 2);
  PutLE(bytes, 10, static_cast<std::uint32_t>(block.Owner), 4);
  PutLE(bytes, 14, static_cast<std::uint32_t>(block.Total), 4);
  bytes.replace(18, block.Payload.size(), block.Payload);
  return bytes;
}

// A blob file of 512-byte blocks: the header, then the blocks in order; the end offset covers them.
inline std::string FileBytes(const std::vector<FixtureBlock>& blocks, std::uint32_t freeHead = 0,
                             std::size_t blockSize = 512) {
  std::string bytes = HeaderBytes(7, 2, freeHead, static_cast<std::int32_t>(512 + blocks.size() * blockSize));
  for (const FixtureBlock& block : blocks) bytes += BlockBytes(blockSize, block);
  return bytes;
}

// One blob file under test, on disk in a temporary directory or in memory.
class BlobFileFixture {
 public:
  explicit BlobFileFixture(bool inMemory, std::uint16_t blockSize = 0)
      : inMemory_(inMemory), owner_(blockSize), file_(std::make_unique<TBlobFile>(owner_)) {
    MemoryFiles().Clear();
  }
  ~BlobFileFixture() {
    file_.reset();
    MemoryFiles().Clear();
  }

  bool InMemory() const { return inMemory_; }
  TBlobFile& File() { return *file_; }
  TestOwner& Owner() { return owner_; }
  std::string Path() const { return dir_.PathOf("TABLE.BLB"); }

  void WriteBytes(const std::string& bytes) {
    if (!inMemory_) {
      kavrin::testing::WriteWholeFile(Path(), bytes);
      return;
    }
    TMemoryFile* memory = MemoryFiles().Find(Path());
    if (!memory) {
      memory = MemoryFiles().NewMemoryFile(Path()).second;
      TMemoryFileList::CloseMemoryFile(*memory);
    }
    memory->SetSize(0);
    memory->Seek(0, 0);
    memory->Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  }

  std::string Bytes() const {
    if (!inMemory_) return kavrin::testing::ReadWholeFile(Path());
    const TMemoryFile* memory = MemoryFiles().Find(Path());
    return memory ? std::string(memory->Data().begin(), memory->Data().end()) : std::string();
  }

  // Writes bytes as the file and opens it.
  TBlobFile& Open(const std::string& bytes, bool exclusive = true) {
    WriteBytes(bytes);
    Prepare(*file_, exclusive);
    file_->OpenFile();
    return *file_;
  }

  TBlobFile& Create() {
    Prepare(*file_, true);
    file_->NewFile();
    return *file_;
  }

  void Prepare(TBlobFile& file, bool exclusive) {
    file.SetInMemory(inMemory_);
    file.SetFileName(Path());
    file.SetExclusive(exclusive);
  }

  // Every dirty block and the header written, as the data file's flush does.
  void Flush() {
    file_->FlushBlocks(true, 0);
    file_->WriteHeader();
  }

 private:
  bool inMemory_;
  kavrin::testing::TempDir dir_;
  TestOwner owner_;
  std::unique_ptr<TBlobFile> file_;
};

}  // namespace kavrin::engine::blob_testing
