// Open blobs: a blob is read and written whole in memory (TBlobBuffer) and goes back into its block
// chain only when its record is stored. A blob file holds up to 64 of them in TBlobHandleTable.
//
// Callers know an open blob by its handle, a process-wide counter (1 .. 2^31 - 1, not reused until it
// wraps), never by an address: a record slot holds the negated handle, and a stale or foreign handle is
// simply not found.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/error_codes.h"

namespace kavrin::engine {

class TBlobFile;

class TBlobBuffer {
 public:
  TBlobBuffer(TBlobFile& blobFile, std::int32_t handle, std::int16_t fieldNumber, std::int32_t firstBlock);
  TBlobBuffer(const TBlobBuffer&) = delete;
  TBlobBuffer& operator=(const TBlobBuffer&) = delete;

  std::int32_t Handle() const { return handle_; }
  bool Modified() const { return modified_; }
  std::int32_t Owner() const { return owner_; }
  void SetOwner(std::int32_t recordNumber) { owner_ = recordNumber; }
  std::int16_t FieldNumber() const { return fieldNumber_; }
  std::int32_t FirstBlock() const { return firstBlock_; }
  std::int32_t Size() const { return static_cast<std::int32_t>(data_.size()); }
  const std::uint8_t* Data() const { return data_.data(); }

  // The buffer operations behind ReadBlob, WriteBlob and SetBlobSize; results are engine codes.
  TErrorCode Read(std::int32_t position, std::int32_t count, void* dest, std::int32_t& countRead) const;
  TErrorCode Write(std::int32_t position, std::int32_t count, const void* source);
  TErrorCode Resize(std::int32_t size);

  // Loads the chain at FirstBlock; raises 8711 when it holds fewer bytes than its stored length, 9998
  // for a damaged link.
  void LoadBlob();
  // Writes the data into the chain (reusing its blocks, allocating or freeing the difference); raises
  // 8711 when not every byte could be placed. With freeLater, the blocks to free are added to it
  // instead, for the caller to free once every blob of the record has taken its blocks.
  void SaveBlob(std::vector<std::int32_t>* freeLater = nullptr);
  // Frees the chain (or adds its blocks to freeLater); FirstBlock becomes 0.
  void DeleteChain(std::vector<std::int32_t>* freeLater = nullptr);

 private:
  TBlobFile* blobFile_;
  bool modified_ = false;
  std::int32_t owner_ = 0;
  std::int16_t fieldNumber_;
  std::int32_t firstBlock_;
  std::vector<std::uint8_t> data_;
  std::int32_t handle_;
};

// The open blobs of one blob file in the order they were opened; closing one closes the gap.
class TBlobHandleTable {
 public:
  static constexpr int Capacity = 64;

  int Count() const { return static_cast<int>(buffers_.size()); }
  bool Full() const { return Count() >= Capacity; }
  TBlobBuffer* Find(std::int32_t handle) const;
  // Makes room for all 64 up front, so that Add never fails after a blob was loaded.
  void Reserve() { buffers_.reserve(Capacity); }
  void Add(std::unique_ptr<TBlobBuffer> buffer);
  // Frees the buffer; false when the handle is not in the table.
  bool Remove(std::int32_t handle);
  void Clear() { buffers_.clear(); }
  // Position 0 is the oldest open blob.
  TBlobBuffer& At(int position) const { return *buffers_.at(static_cast<std::size_t>(position)); }

  // The next process-wide handle that no blob of this table holds.
  std::int32_t NewHandle() const;

 private:
  std::vector<std::unique_ptr<TBlobBuffer>> buffers_;
};

}  // namespace kavrin::engine
