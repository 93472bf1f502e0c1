#include "engine/open_blobs.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <new>
#include <unordered_set>

#include "engine/blob_file.h"
#include "engine/engine_error.h"

namespace kavrin::engine {
namespace {

// Process-wide, so a handle of one blob file is never taken for one of another.
std::atomic<std::int32_t> lastBlobHandle{0};

std::int32_t NextProcessHandle() {
  std::int32_t current = lastBlobHandle.load();
  std::int32_t next;
  do {
    next = current == INT32_MAX ? 1 : current + 1;
  } while (!lastBlobHandle.compare_exchange_weak(current, next));
  return next;
}

}  // namespace

// --- TBlobBuffer -----------------------------------------------------------------------------------

TBlobBuffer::TBlobBuffer(TBlobFile& blobFile, std::int32_t handle, std::int16_t fieldNumber, std::int32_t firstBlock)
    : blobFile_(&blobFile), fieldNumber_(fieldNumber), firstBlock_(firstBlock), handle_(handle) {}

TErrorCode TBlobBuffer::Read(std::int32_t position, std::int32_t count, void* dest, std::int32_t& countRead) const {
  countRead = 0;
  if (position < 0 || count < 0) return ec::InvalidBlobLength;
  const std::int64_t size = Size();
  if (std::int64_t{position} + count <= size) {
    if (count > 0) std::memcpy(dest, data_.data() + position, static_cast<std::size_t>(count));
    countRead = count;
    return ec::Success;
  }
  if (position < size) {
    countRead = static_cast<std::int32_t>(size - position);
    std::memcpy(dest, data_.data() + position, static_cast<std::size_t>(countRead));
  }
  return ec::EndOfBlob;
}

TErrorCode TBlobBuffer::Write(std::int32_t position, std::int32_t count, const void* source) {
  if (position < 0 || count < 0) return ec::InvalidBlobLength;
  const std::int64_t end = std::int64_t{position} + count;
  if (end > INT32_MAX) return ec::InvalidBlobLength;
  if (end > Size()) {
    try {
      data_.resize(static_cast<std::size_t>(end));
    } catch (const std::bad_alloc&) {
      return ec::OutOfMemory;
    }
  }
  if (count > 0) std::memcpy(data_.data() + position, source, static_cast<std::size_t>(count));
  modified_ = true;
  return ec::Success;
}

TErrorCode TBlobBuffer::Resize(std::int32_t size) {
  if (size < 0) return ec::InvalidBlobLength;
  if (size == Size()) return ec::Success;
  try {
    data_.resize(static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    return ec::OutOfMemory;
  }
  modified_ = true;
  return ec::Success;
}

void TBlobBuffer::LoadBlob() {
  TBlobFile& file = *blobFile_;
  if (!file.IsBlockOffset(firstBlock_)) RaiseEngineError(ec::InvalidBlobOffset, file.FileName());
  TBlock& first = file.GetBlock(firstBlock_);
  const std::int32_t total = first.TotalLength();
  if (total < 0) RaiseEngineError(ec::InvalidBlobLength, file.FileName());
  // A stored length that no chain of this file could hold is refused before anything is allocated.
  if (total > file.StorableBytes()) RaiseEngineError(ec::EndOfBlob, file.FileName());
  try {
    data_.assign(static_cast<std::size_t>(total), 0);
  } catch (const std::bad_alloc&) {
    RaiseEngineError(ec::OutOfMemory, file.FileName());
  }
  file.SetCurrentBlock(first);
  std::unordered_set<std::int32_t> seen{firstBlock_};
  const std::int32_t payload = file.PayloadSize();
  std::int32_t found = 0;
  while (found < total) {
    const std::int32_t asked = std::min(payload, total - found);
    const std::int32_t got = file.CurrentBlock()->GetData(0, asked, data_.data() + found);
    found += got;
    if (got == 0 || got < asked || found == total) break;
    const std::int32_t next = file.CurrentBlock()->Next();
    if (next == 0) break;
    if (!file.IsBlockOffset(next) || !seen.insert(next).second) {
      RaiseEngineError(ec::InvalidBlobOffset, file.FileName());
    }
    file.NextBlock();
  }
  modified_ = false;
  if (found < total) RaiseEngineError(ec::EndOfBlob, file.FileName());
}

void TBlobBuffer::SaveBlob(std::vector<std::int32_t>* freeLater) {
  if (data_.empty()) {
    DeleteChain(freeLater);
    return;
  }
  TBlobFile& file = *blobFile_;
  const std::int64_t payload = file.PayloadSize();
  const std::int64_t size = Size();
  const auto needed = static_cast<std::size_t>((size + payload - 1) / payload);

  // Every link of the old chain is read and checked, and every new block taken, before any block
  // changes: a damaged file then fails the save without leaving a half-written chain.
  std::vector<std::int32_t> chain = firstBlock_ != 0 ? file.ChainOffsets(firstBlock_) : std::vector<std::int32_t>{};
  const std::size_t oldLength = chain.size();
  std::unordered_set<std::int32_t> taken(chain.begin(), chain.end());
  if (chain.size() < needed) file.CheckFreeBlocks(needed - chain.size());
  while (chain.size() < needed) {
    // A damaged free list can offer a block this chain already holds; it is refused before it is cleared.
    if (taken.count(file.FirstFreeBlock()) != 0) RaiseEngineError(ec::InvalidBlobOffset, file.FileName());
    const std::int32_t offset = file.AllocBlock().Offset();
    taken.insert(offset);
    chain.push_back(offset);
  }

  std::int64_t written = 0;
  std::int32_t previous = 0;
  for (std::size_t i = 0; i < needed; ++i) {
    TBlock& block = file.GetBlock(chain[i]);
    block.SetPrevious(previous);
    block.SetOwner(owner_);
    if (i == 0) block.SetTotalLength(static_cast<std::int32_t>(size));
    const auto count = static_cast<std::int32_t>(std::min(payload, size - written));
    block.PutData(0, count, data_.data() + written);
    written += count;
    block.SetNext(i + 1 < needed ? chain[i + 1] : 0);
    previous = chain[i];
  }
  if (written < size) RaiseEngineError(ec::EndOfBlob, file.FileName());
  firstBlock_ = chain.front();
  // The links were read above, so freeing (which rewrites them) loses nothing.
  for (std::size_t i = needed; i < oldLength; ++i) {
    if (freeLater) {
      freeLater->push_back(chain[i]);
    } else {
      file.FreeBlock(file.GetBlock(chain[i]));
    }
  }
  modified_ = false;
}

void TBlobBuffer::DeleteChain(std::vector<std::int32_t>* freeLater) {
  if (firstBlock_ != 0) {
    TBlobFile& file = *blobFile_;
    for (const std::int32_t offset : file.ChainOffsets(firstBlock_)) {
      if (freeLater) {
        freeLater->push_back(offset);
      } else {
        file.FreeBlock(file.GetBlock(offset));
      }
    }
    firstBlock_ = 0;
  }
  modified_ = false;
}

// --- TBlobHandleTable ----------------------------------------------------------------------------

TBlobBuffer* TBlobHandleTable::Find(std::int32_t handle) const {
  if (handle <= 0) return nullptr;
  for (const auto& buffer : buffers_) {
    if (buffer->Handle() == handle) return buffer.get();
  }
  return nullptr;
}

void TBlobHandleTable::Add(std::unique_ptr<TBlobBuffer> buffer) { buffers_.push_back(std::move(buffer)); }

bool TBlobHandleTable::Remove(std::int32_t handle) {
  const auto found = std::find_if(buffers_.begin(), buffers_.end(),
                                  [handle](const auto& buffer) { return buffer->Handle() == handle; });
  if (found == buffers_.end()) return false;
  buffers_.erase(found);
  return true;
}

std::int32_t TBlobHandleTable::NewHandle() const {
  std::int32_t handle = NextProcessHandle();
  while (Find(handle)) handle = NextProcessHandle();
  return handle;
}

// --- TBlobFile: open blobs -------------------------------------------------------------------------

TErrorCode TBlobFile::OpenBlobHandle(std::int32_t firstBlock, std::int16_t fieldNumber, std::int32_t& handle) {
  handle = 0;
  if (openBlobs_.Full()) return ec::TooManyBlobs;
  std::unique_ptr<TBlobBuffer> buffer;
  try {
    buffer = std::make_unique<TBlobBuffer>(*this, openBlobs_.NewHandle(), fieldNumber, firstBlock);
    openBlobs_.Reserve();
  } catch (const std::bad_alloc&) {
    return ec::OutOfMemory;
  }
  if (firstBlock != 0) buffer->LoadBlob();
  handle = buffer->Handle();
  openBlobs_.Add(std::move(buffer));
  return ec::Success;
}

TErrorCode TBlobFile::CloseBlobHandle(std::int32_t handle, std::int32_t& firstBlock) {
  firstBlock = 0;
  const TBlobBuffer* buffer = openBlobs_.Find(handle);
  if (!buffer) return ec::InvalidBlobHandle;
  firstBlock = buffer->FirstBlock();
  openBlobs_.Remove(handle);
  return ec::Success;
}

TErrorCode TBlobFile::ReadBlob(std::int32_t handle, std::int32_t position, std::int32_t count, void* dest,
                               std::int32_t& countRead) {
  countRead = 0;
  const TBlobBuffer* buffer = openBlobs_.Find(handle);
  if (!buffer) return ec::InvalidBlobHandle;
  return buffer->Read(position, count, dest, countRead);
}

TErrorCode TBlobFile::WriteBlob(std::int32_t handle, std::int32_t position, std::int32_t count, const void* source) {
  TBlobBuffer* buffer = openBlobs_.Find(handle);
  if (!buffer) return ec::InvalidBlobHandle;
  return buffer->Write(position, count, source);
}

TErrorCode TBlobFile::SetBlobSize(std::int32_t handle, std::int32_t size) {
  TBlobBuffer* buffer = openBlobs_.Find(handle);
  if (!buffer) return ec::InvalidBlobHandle;
  return buffer->Resize(size);
}

TErrorCode TBlobFile::GetBlobSize(std::int32_t handle, std::int32_t& size) {
  size = 0;
  const TBlobBuffer* buffer = openBlobs_.Find(handle);
  if (!buffer) return ec::InvalidBlobHandle;
  size = buffer->Size();
  return ec::Success;
}

bool TBlobFile::IsBlobHandle(std::int32_t handle) const { return openBlobs_.Find(handle) != nullptr; }

std::int32_t TBlobFile::OpenBlobSize(std::int32_t reference) const {
  if (reference >= 0 || reference == INT32_MIN) return 0;
  const TBlobBuffer* buffer = openBlobs_.Find(-reference);
  return buffer ? buffer->Size() : 0;
}

bool TBlobFile::StandsIn(const TBlobBuffer& buffer, const std::uint8_t* recordImage) const {
  return dataFile_->GetBlobReference(buffer.FieldNumber(), recordImage) == -buffer.Handle();
}

void TBlobFile::SetBlobOwner(const std::uint8_t* recordImage, std::int32_t recordNumber) {
  for (int i = 0; i < openBlobs_.Count(); ++i) {
    TBlobBuffer& buffer = openBlobs_.At(i);
    if (StandsIn(buffer, recordImage)) buffer.SetOwner(recordNumber);
  }
}

void TBlobFile::SaveBlobs(const std::uint8_t* recordImage) {
  // Blocks are freed only once every blob of the record has taken its own: a block freed and taken
  // again in one change would be written into its new chain while its old one on the file still
  // names it.
  std::vector<std::int32_t> freed;
  for (int i = 0; i < openBlobs_.Count(); ++i) {
    TBlobBuffer& buffer = openBlobs_.At(i);
    if (!buffer.Modified() || !StandsIn(buffer, recordImage)) continue;
    if (buffer.Size() == 0) {
      buffer.DeleteChain(&freed);
    } else {
      buffer.SaveBlob(&freed);
    }
  }
  for (const std::int32_t offset : freed) FreeBlock(GetBlock(offset));
}

void TBlobFile::StoreBlobOffsets(std::uint8_t* recordImage) {
  for (int i = 0; i < openBlobs_.Count(); ++i) {
    const TBlobBuffer& buffer = openBlobs_.At(i);
    if (StandsIn(buffer, recordImage))
      dataFile_->SetBlobReference(buffer.FieldNumber(), recordImage, buffer.FirstBlock());
  }
}

void TBlobFile::FreeBlobs() { openBlobs_.Clear(); }

}  // namespace kavrin::engine
