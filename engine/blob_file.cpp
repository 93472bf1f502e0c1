// Blob file layout. All numbers little-endian.
//
// File: header (512 bytes) at 0, then blocks of the table's blob block size B (the data file header's;
// 0 reads as 512), block k at 512 + k * B. A block is an 18-byte block header and B - 18 bytes of
// payload. On a table with a password the header is scrambled as one 512-byte unit, each block header
// as one 18-byte unit and each payload as one unit.
//
// Header:
//   0  i32   change counter        every header write increments it; other processes compare it
//   4  4     reserved              zero
//   8  u8    version               2
//   9  u32   free-block list head  the most recently freed block, 0 for none; freed blocks link by next
//  13  i32   end offset            where the next new block goes (512 for an empty file)
//  17  495   reserved              zero
//
// Block header:
//   0  i32   previous block        0 for the first block of a chain
//   4  i32   next block            next block of the chain, or of the free list; 0 at the end
//   8  u16   bytes used            payload bytes in use
//  10  i32   owner                 record number whose blob this is
//  14  i32   total length          length of the whole blob; kept in the first block of a chain
//
// Locks: the writer locks the 65,535 bytes from 2147418113 (7FFF0001) on; a reader locks one byte of
// that range at random. No block reaches into the range.
#include "engine/blob_file.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "engine/byte_order.h"
#include "engine/engine_error.h"
#include "engine/primitives.h"
#include "platform/ticks.h"

namespace kavrin::engine {
namespace {

namespace header_at {
constexpr std::size_t ChangeCounter = 0;
constexpr std::size_t Version = 8;
constexpr std::size_t FreeBlockHead = 9;
constexpr std::size_t EndOffset = 13;
}  // namespace header_at

namespace block_at {
constexpr std::size_t Previous = 0;
constexpr std::size_t Next = 4;
constexpr std::size_t Used = 8;
constexpr std::size_t Owner = 10;
constexpr std::size_t TotalLength = 14;
}  // namespace block_at

}  // namespace

void EncodeBlobFileHeader(const TBlobFileHeader& header, std::span<std::uint8_t, BlobFileHeaderSize> out) {
  std::uint8_t* p = out.data();
  std::memset(p, 0, out.size());
  StoreI32(p + header_at::ChangeCounter, header.ChangeCounter);
  p[header_at::Version] = header.Version;
  StoreU32(p + header_at::FreeBlockHead, header.FreeBlockHead);
  StoreI32(p + header_at::EndOffset, header.EndOffset);
}

TBlobFileHeader DecodeBlobFileHeader(std::span<const std::uint8_t, BlobFileHeaderSize> in) {
  const std::uint8_t* p = in.data();
  TBlobFileHeader header;
  header.ChangeCounter = LoadI32(p + header_at::ChangeCounter);
  header.Version = p[header_at::Version];
  header.FreeBlockHead = LoadU32(p + header_at::FreeBlockHead);
  header.EndOffset = LoadI32(p + header_at::EndOffset);
  return header;
}

void EncodeBlobBlockHeader(const TBlobBlockHeader& header, std::span<std::uint8_t, BlobBlockHeaderSize> out) {
  std::uint8_t* p = out.data();
  StoreI32(p + block_at::Previous, header.Previous);
  StoreI32(p + block_at::Next, header.Next);
  StoreU16(p + block_at::Used, header.Used);
  StoreI32(p + block_at::Owner, header.Owner);
  StoreI32(p + block_at::TotalLength, header.TotalLength);
}

TBlobBlockHeader DecodeBlobBlockHeader(std::span<const std::uint8_t, BlobBlockHeaderSize> in) {
  const std::uint8_t* p = in.data();
  TBlobBlockHeader header;
  header.Previous = LoadI32(p + block_at::Previous);
  header.Next = LoadI32(p + block_at::Next);
  header.Used = LoadU16(p + block_at::Used);
  header.Owner = LoadI32(p + block_at::Owner);
  header.TotalLength = LoadI32(p + block_at::TotalLength);
  return header;
}

// --- TBlock --------------------------------------------------------------------------------------

TBlock::TBlock(TBlobFile& blobFile, std::int32_t offset)
    : blobFile_(&blobFile), offset_(offset), payload_(static_cast<std::size_t>(blobFile.PayloadSize())) {}

void TBlock::SetUsed(std::uint16_t used) {
  if (used == used_) return;
  used_ = used;
  dirty_ = true;
}

void TBlock::SetOwner(std::int32_t owner) {
  if (owner == owner_) return;
  owner_ = owner;
  dirty_ = true;
}

void TBlock::SetTotalLength(std::int32_t totalLength) {
  if (totalLength == totalLength_) return;
  totalLength_ = totalLength;
  dirty_ = true;
}

void TBlock::SetPrevious(std::int32_t previous) {
  if (previous == previous_) return;
  previous_ = previous;
  dirty_ = true;
}

void TBlock::SetNext(std::int32_t next) {
  if (next == next_) return;
  next_ = next;
  dirty_ = true;
}

void TBlock::Clear() {
  const bool payloadInUse = std::any_of(payload_.begin(), payload_.end(), [](std::uint8_t b) { return b != 0; });
  if (payloadInUse || used_ || owner_ || totalLength_ || previous_ || next_) dirty_ = true;
  header_ = TBlobBlockHeader{};
  std::fill(payload_.begin(), payload_.end(), 0);
  used_ = 0;
  owner_ = 0;
  totalLength_ = 0;
  previous_ = 0;
  next_ = 0;
}

void TBlock::Load() {
  TBlobFile& file = *blobFile_;
  if (file.Seek(offset_, 0) != offset_) RaiseEngineError(ec::BlockBuffersCorrupt, file.FileName());
  std::array<std::uint8_t, BlobBlockHeaderSize> unit;
  file.ReadBuffer(unit.data(), BlobBlockHeaderSize);
  file.ReadBuffer(payload_.data(), static_cast<std::int32_t>(payload_.size()));
  header_ = DecodeBlobBlockHeader(unit);
  // A used count beyond the payload (a damaged block) would let reads run past it.
  used_ = static_cast<std::uint16_t>(std::min<std::size_t>(header_.Used, payload_.size()));
  owner_ = header_.Owner;
  totalLength_ = header_.TotalLength;
  previous_ = header_.Previous;
  next_ = header_.Next;
  dirty_ = false;
}

void TBlock::Store() {
  header_.Previous = previous_;
  header_.Next = next_;
  header_.Used = used_;
  header_.Owner = owner_;
  header_.TotalLength = totalLength_;
  TBlobFile& file = *blobFile_;
  if (!file.SeekForWrite(offset_)) return;
  std::array<std::uint8_t, BlobBlockHeaderSize> unit;
  EncodeBlobBlockHeader(header_, unit);
  file.WriteBuffer(unit.data(), BlobBlockHeaderSize);
  file.WriteBuffer(payload_.data(), static_cast<std::int32_t>(payload_.size()));
  dirty_ = false;
}

std::int32_t TBlock::GetData(std::int32_t from, std::int32_t count, void* dest) const {
  const auto payload = static_cast<std::int32_t>(payload_.size());
  if (from < 0 || count < 0 || count > payload || from > payload - count) {
    RaiseEngineError(ec::InvalidBlobLength, blobFile_->FileName());
  }
  const std::int32_t available = std::max<std::int32_t>(0, used_ - from);
  const std::int32_t copied = std::min(count, available);
  if (copied > 0) std::memcpy(dest, payload_.data() + from, static_cast<std::size_t>(copied));
  return copied;
}

void TBlock::PutData(std::int32_t from, std::int32_t count, const void* source) {
  const auto payload = static_cast<std::int32_t>(payload_.size());
  if (from < 0 || count < 0 || count > payload || from > payload - count) {
    RaiseEngineError(ec::InvalidBlobLength, blobFile_->FileName());
  }
  if (count > 0) std::memcpy(payload_.data() + from, source, static_cast<std::size_t>(count));
  used_ = static_cast<std::uint16_t>(from + count);
  dirty_ = true;
}

// --- TBlobFile: file operations -----------------------------------------------------------------

TBlobFile::TBlobFile(TBlobOwner& dataFile) : dataFile_(&dataFile) {}

TBlobFile::~TBlobFile() {
  try {
    if (Opened()) CloseFile();
  } catch (...) {
    // A destructor must not throw; the base closes the descriptor in any case.
  }
}

std::string TBlobFile::FixFileName(std::string_view name) const { return StripExtension(TrimBlanks(name)) + ".BLB"; }

void TBlobFile::TakeBlockSize() {
  const std::uint16_t stored = dataFile_->BlobBlockSize();
  const std::int32_t size = stored == 0 ? DefaultBlobBlockBytes : stored;
  // A block must have room for some payload, or no chain could ever advance.
  if (size <= BlobBlockHeaderSize) Raise(ec::BlobFieldsOrBlockSize);
  blockSize_ = size;
  cacheCapacity_ = static_cast<std::size_t>(std::max(1, BlockCacheBytes / size));
}

void TBlobFile::OpenFile() {
  if (Opened()) return;
  TakeBlockSize();
  TFileHandler::OpenFile();
  try {
    ClearBlockCache();
    headerKnown_ = false;
    ReadHeader();
    headerKnown_ = HeaderFixed();
  } catch (...) {
    CloseFile();
    throw;
  }
}

void TBlobFile::CloseFile() {
  FreeBlobs();
  ClearBlockCache();
  headerKnown_ = false;
  blockSize_ = 0;
  TFileHandler::CloseFile();
}

void TBlobFile::NewFile() {
  TakeBlockSize();
  TFileHandler::NewFile();
  try {
    ClearBlockCache();
    header_ = TBlobFileHeader{};
    headerKnown_ = true;  // created exclusively
    WriteHeader();
  } catch (...) {
    CloseFile();
    throw;
  }
}

// --- Header and change detection ------------------------------------------------------------------

void TBlobFile::ReadHeader() {
  if (headerKnown_) return;
  std::array<std::uint8_t, BlobFileHeaderSize> unit;
  Seek(0, 0);
  ReadBuffer(unit.data(), BlobFileHeaderSize);
  TBlobFileHeader header = DecodeBlobFileHeader(unit);
  if (header.Version != BlobFileVersion) Raise(ec::IncorrectVersion);
  // The end offset decides which offsets name blocks; one that is off the block grid or lies past the
  // blocks the file holds (a damaged header) is taken as the end of the last whole block.
  const std::int64_t bs = BlockSize();
  const std::int64_t wholeBlocks = std::max<std::int64_t>(0, Size() - BlobFileHeaderSize) / bs;
  const std::int64_t limit = std::min<std::int64_t>(BlobFileHeaderSize + wholeBlocks * bs, BlobLockRangeStart);
  std::int64_t end = std::max<std::int64_t>(header.EndOffset, BlobFileHeaderSize);
  end = BlobFileHeaderSize + (end - BlobFileHeaderSize) / bs * bs;
  if (end > limit) end = BlobFileHeaderSize + (limit - BlobFileHeaderSize) / bs * bs;
  header.EndOffset = static_cast<std::int32_t>(end);
  header_ = header;
}

void TBlobFile::WriteHeader() {
  // The counter wraps like the stored i32: others only compare it for a difference.
  header_.ChangeCounter = static_cast<std::int32_t>(static_cast<std::uint32_t>(header_.ChangeCounter) + 1u);
  std::array<std::uint8_t, BlobFileHeaderSize> unit;
  EncodeBlobFileHeader(header_, unit);
  Seek(0, 0);
  WriteBuffer(unit.data(), BlobFileHeaderSize);
}

void TBlobFile::CheckHeaderChanged() {
  if (headerKnown_) return;
  std::array<std::uint8_t, 4> counter;
  Seek(0, 0);
  ReadBuffer(counter.data(), 4);
  if (LoadI32(counter.data()) == header_.ChangeCounter) return;
  ReadHeader();
  ClearBlockCache();
}

// --- Blocks ---------------------------------------------------------------------------------------

std::int32_t TBlobFile::BlockSize() const {
  if (blockSize_ > 0) return blockSize_;
  const std::uint16_t stored = dataFile_->BlobBlockSize();
  return stored == 0 ? DefaultBlobBlockBytes : stored;
}

bool TBlobFile::IsBlockOffset(std::int64_t offset) const {
  return offset >= BlobFileHeaderSize && offset < header_.EndOffset && (offset - BlobFileHeaderSize) % BlockSize() == 0;
}

std::int64_t TBlobFile::BlockSlotCount() const {
  return std::max<std::int64_t>(0, (std::int64_t{header_.EndOffset} - BlobFileHeaderSize) / BlockSize());
}

void TBlobFile::MakeRoomInBlockCache() {
  while (!cache_.empty() && cache_.size() >= cacheCapacity_) {
    TBlock* last = cache_.back().get();
    if (last->Dirty()) {
      // A shared change's blocks reach the file only in the order of its write-through; until then
      // the cache holds more than its capacity.
      if (!HeaderFixed()) return;
      FlushBlocks(false, last->Offset());
    }
    if (currentBlock_ == last) currentBlock_ = nullptr;
    blockByOffset_.erase(last->Offset());
    cache_.pop_back();
  }
}

TBlock& TBlobFile::GetBlock(std::int32_t offset) {
  if (offset == header_.EndOffset) {
    const std::int64_t end = std::int64_t{offset} + BlockSize();
    // Blocks stay below the lock bytes, so a 32-bit offset never reaches them.
    if (end > BlobLockRangeStart) Raise(ec::WriteError);
    MakeRoomInBlockCache();
    std::unique_ptr<TBlock> block;
    try {
      block = std::make_unique<TBlock>(*this, offset);
    } catch (const std::bad_alloc&) {
      Raise(ec::OutOfMemory);
    }
    // Dirty from the start, so the file always covers the end offset once the cache is flushed.
    block->SetDirty(true);
    cache_.push_front(std::move(block));
    blockByOffset_[offset] = cache_.begin();
    header_.EndOffset = static_cast<std::int32_t>(end);
    return *cache_.front();
  }
  if (!IsBlockOffset(offset)) Raise(ec::InvalidBlobOffset);
  if (auto found = blockByOffset_.find(offset); found != blockByOffset_.end()) {
    if (found->second != cache_.begin()) cache_.splice(cache_.begin(), cache_, found->second);
    return *cache_.front();
  }
  if (std::int64_t{offset} + BlockSize() > Size()) Raise(ec::BlockBuffersCorrupt);
  MakeRoomInBlockCache();
  std::unique_ptr<TBlock> block;
  try {
    block = std::make_unique<TBlock>(*this, offset);
  } catch (const std::bad_alloc&) {
    Raise(ec::OutOfMemory);
  }
  block->Load();
  cache_.push_front(std::move(block));
  blockByOffset_[offset] = cache_.begin();
  return *cache_.front();
}

bool TBlobFile::NextBlock() {
  if (!currentBlock_) return false;
  const std::int32_t next = currentBlock_->Next();
  if (next == 0) return false;
  if (!IsBlockOffset(next)) Raise(ec::InvalidBlobOffset);
  currentBlock_ = &GetBlock(next);
  return true;
}

std::int32_t TBlobFile::FirstFreeBlock() const {
  return header_.FreeBlockHead != 0 ? static_cast<std::int32_t>(header_.FreeBlockHead) : header_.EndOffset;
}

TBlock& TBlobFile::AllocBlock() {
  if (header_.FreeBlockHead != 0 && !IsBlockOffset(header_.FreeBlockHead)) Raise(ec::InvalidBlobOffset);
  TBlock& block = GetBlock(FirstFreeBlock());
  // A free block linked to itself (a damaged list) would be handed out again and again.
  const std::int32_t next = block.Next() == block.Offset() ? 0 : block.Next();
  header_.FreeBlockHead = static_cast<std::uint32_t>(next);
  block.Clear();
  if (!HeaderFixed()) taken_.push_back(block.Offset());
  freed_.erase(block.Offset());
  return block;
}

void TBlobFile::CheckFreeBlocks(std::size_t count) {
  std::unordered_map<std::int32_t, std::unordered_set<std::int32_t>> usedByOwner;
  std::unordered_set<std::int32_t> seen;
  std::int64_t at = header_.FreeBlockHead;
  for (std::size_t i = 0; i < count && at != 0 && seen.insert(static_cast<std::int32_t>(at)).second; ++i) {
    if (!IsBlockOffset(at)) Raise(ec::InvalidBlobOffset);
    const auto offset = static_cast<std::int32_t>(at);
    const std::int32_t owner = GetBlock(offset).Owner();
    auto used = usedByOwner.find(owner);
    if (used == usedByOwner.end()) used = usedByOwner.emplace(owner, BlocksUsedBy(owner)).first;
    if (used->second.count(offset) != 0) Raise(ec::InvalidBlobOffset);
    const std::int32_t next = GetBlock(offset).Next();
    at = next == offset ? 0 : next;  // AllocBlock ends a list linked to itself
  }
}

// A freed block keeps its owner, so the chains of that record, and of the blobs open on it, tell
// whether a block the free list offers is really free.
std::unordered_set<std::int32_t> TBlobFile::BlocksUsedBy(std::int32_t owner) {
  std::unordered_set<std::int32_t> used;
  for (const std::int32_t reference : dataFile_->RecordBlobReferences(owner)) {
    std::int32_t first = reference;
    if (reference < 0) {
      const TBlobBuffer* open = reference == std::numeric_limits<std::int32_t>::min() ? nullptr : FindBlob(-reference);
      first = open ? open->FirstBlock() : 0;
    }
    for (std::int32_t at = first; at != 0 && IsBlockOffset(at) && used.insert(at).second; at = GetBlock(at).Next()) {
    }
  }
  return used;
}

void TBlobFile::FreeBlock(TBlock& block) {
  // Freeing the head again would link it to itself and hand it out for ever.
  if (static_cast<std::uint32_t>(block.Offset()) == header_.FreeBlockHead) return;
  // Kept for an exclusive cursor too: its close writes the header that takes blocks off the free list
  // before the records that name them, and only that header must not offer the blocks it freed.
  if (freed_.empty()) headBeforeFrees_ = header_.FreeBlockHead;
  freed_.insert(block.Offset());
  if (!HeaderFixed()) {
    if (const auto taken = std::find(taken_.begin(), taken_.end(), block.Offset()); taken != taken_.end()) {
      taken_.erase(taken);
    }
  }
  block.SetNext(static_cast<std::int32_t>(header_.FreeBlockHead));
  header_.FreeBlockHead = static_cast<std::uint32_t>(block.Offset());
}

bool TBlobFile::SeekForWrite(std::int64_t offset) {
  std::int64_t position = Seek(offset, 0);
  if (position == offset || !InMemory()) return position == offset;
  const std::int64_t size = Size();
  if (size < offset) {
    Seek(0, 2);
    std::vector<std::uint8_t> zeros;
    try {
      zeros.resize(static_cast<std::size_t>(offset - size));
    } catch (const std::bad_alloc&) {
      Raise(ec::OutOfMemory);
    }
    WriteBuffer(zeros.data(), static_cast<std::int32_t>(zeros.size()));
  }
  position = Seek(offset, 0);
  return position == offset;
}

void TBlobFile::FlushBlocks(bool all, std::int32_t offset) {
  if (!all) {
    const auto found = blockByOffset_.find(offset);
    if (found == blockByOffset_.end()) return;
    TBlock& block = **found->second;
    if (block.Dirty()) block.Store();
    if (!block.Dirty()) return;
  }
  for (;;) {
    std::size_t written = 0;
    std::size_t stillDirty = 0;
    for (const auto& block : cache_) {
      if (!block->Dirty()) continue;
      block->Store();
      if (block->Dirty()) {
        ++stillDirty;
      } else {
        ++written;
      }
    }
    if (stillDirty == 0) break;
    // A pass that placed nothing would be repeated for ever.
    if (written == 0) Raise(ec::BlockBuffersCorrupt);
  }
  ForgetChange();
}

template <typename Pick>
void TBlobFile::StoreDirtyBlocks(Pick pick) {
  for (TBlock* block : changedBlocks_) {
    if (!block->Dirty() || !pick(*block)) continue;
    block->Store();
    // A block left behind would reach the file out of its turn.
    if (block->Dirty()) Raise(ec::BlockBuffersCorrupt);
  }
}

void TBlobFile::WriteHeaderWithFreeHead(std::uint32_t head) {
  const std::uint32_t current = header_.FreeBlockHead;
  header_.FreeBlockHead = head;
  try {
    WriteHeader();
  } catch (...) {
    header_.FreeBlockHead = current;
    throw;
  }
  header_.FreeBlockHead = current;
}

void TBlobFile::WriteBlocksBeforeRecords() {
  headerWrittenForChange_ = false;
  changedBlocks_.clear();
  for (const auto& block : cache_) {
    if (block->Dirty()) changedBlocks_.push_back(block.get());
  }
  std::sort(taken_.begin(), taken_.end());
  const auto taken = [&](const TBlock& block) {
    return std::binary_search(taken_.begin(), taken_.end(), block.Offset());
  };
  const auto freed = [&](const TBlock& block) { return freed_.count(block.Offset()) != 0; };
  // What the taken blocks hold is on the file before the header takes them off the free list, and the
  // header before any link or record names them. An exclusive cursor does not list the blocks it took:
  // its header goes first, and a crash before their contents leaves blocks that nothing names.
  StoreDirtyBlocks(taken);
  if (!taken_.empty() || (HeaderFixed() && !changedBlocks_.empty())) {
    WriteHeaderWithFreeHead(freed_.empty() ? header_.FreeBlockHead : headBeforeFrees_);
    headerWrittenForChange_ = freed_.empty();
  }
  // A chain's first block holds its length: a shorter one goes before the links that cut the chain, a
  // longer one after the links that extend it, so a load of the chain on the file finds either length
  // whole.
  StoreDirtyBlocks([&](const TBlock& block) {
    return !freed(block) && block.Previous() == 0 && block.TotalLength() < block.Header().TotalLength;
  });
  StoreDirtyBlocks([&](const TBlock& block) { return !freed(block) && block.Previous() != 0; });
  StoreDirtyBlocks([&](const TBlock& block) { return !freed(block); });
  changedBlocks_.clear();
}

void TBlobFile::WriteBlocksAfterRecords() {
  // The freed blocks join the free list only now that no record on the file names them; every other
  // block of the change was written before the records.
  for (const std::int32_t offset : freed_) {
    const auto found = blockByOffset_.find(offset);
    if (found == blockByOffset_.end()) continue;
    TBlock& block = **found->second;
    if (block.Dirty()) block.Store();
    if (block.Dirty()) Raise(ec::BlockBuffersCorrupt);
  }
  if (!headerWrittenForChange_) WriteHeader();
  ForgetChange();
  TrimBlockCache();
}

void TBlobFile::ForgetChange() {
  changedBlocks_.clear();
  taken_.clear();
  freed_.clear();
  headBeforeFrees_ = 0;
  headerWrittenForChange_ = false;
}

void TBlobFile::TrimBlockCache() {
  while (cache_.size() > cacheCapacity_ && !cache_.back()->Dirty()) {
    if (currentBlock_ == cache_.back().get()) currentBlock_ = nullptr;
    blockByOffset_.erase(cache_.back()->Offset());
    cache_.pop_back();
  }
}

std::int64_t TBlobFile::DirtyEnd() const {
  std::int64_t end = 0;
  for (const auto& block : cache_) {
    if (block->Dirty()) end = std::max<std::int64_t>(end, std::int64_t{block->Offset()} + BlockSize());
  }
  return end;
}

bool TBlobFile::HasDirtyBlocks() const {
  return std::any_of(cache_.begin(), cache_.end(), [](const auto& block) { return block->Dirty(); });
}

void TBlobFile::ClearBlockCache() {
  currentBlock_ = nullptr;
  blockByOffset_.clear();
  cache_.clear();
  ForgetChange();
}

std::vector<std::int32_t> TBlobFile::ChainOffsets(std::int32_t firstBlock) {
  std::vector<std::int32_t> chain;
  std::unordered_set<std::int32_t> seen;
  for (std::int32_t at = firstBlock; at != 0; at = GetBlock(at).Next()) {
    // Each offset is new and below the end offset, so the walk ends after at most BlockSlotCount steps.
    if (!IsBlockOffset(at) || !seen.insert(at).second) Raise(ec::InvalidBlobOffset);
    chain.push_back(at);
  }
  return chain;
}

// --- Locks ----------------------------------------------------------------------------------------

void TBlobFile::LockWithRetries(bool writer) {
  const std::int32_t tries = std::max(1, lockWait_.Tries);
  for (std::int32_t failures = 0;;) {
    const std::uint16_t byte = writer ? 0 : static_cast<std::uint16_t>(EngineRandom(BlobLockRangeLength));
    const bool locked = writer ? LockRange(BlobLockRangeStart, BlobLockRangeLength, true)
                               : LockRange(BlobLockRangeStart + byte, 1, true);
    if (locked) {
      if (!writer) readLockByte_ = byte;
      return;
    }
    if (++failures >= tries) Raise(ec::GeneralLockFailure);
    platform::Sleep(lockWait_.PauseMilliseconds);
  }
}

void TBlobFile::WriteLock() { LockWithRetries(true); }

void TBlobFile::WriteUnlock() {
  if (!LockRange(BlobLockRangeStart, BlobLockRangeLength, false)) Raise(ec::CannotUnlock);
  SetHeaderKnown(false);
}

void TBlobFile::ReadLock() { LockWithRetries(false); }

void TBlobFile::ReadUnlock() {
  if (!LockRange(BlobLockRangeStart + readLockByte_, 1, false)) Raise(ec::CannotUnlock);
  SetHeaderKnown(false);
}

TBlobWriteLock::~TBlobWriteLock() {
  try {
    file_->WriteUnlock();
  } catch (...) {
    // Closing the file releases the range in any case; a destructor must not throw.
  }
}

TBlobReadLock::~TBlobReadLock() {
  try {
    file_->ReadUnlock();
  } catch (...) {
  }
}

// --- Emptying and recovery ------------------------------------------------------------------------

void TBlobFile::ResetFile() {
  FreeBlobs();
  ClearBlockCache();
  Seek(BlobFileHeaderSize, 0);
  WriteBuffer(nullptr, 0);
  header_.Version = BlobFileVersion;
  header_.FreeBlockHead = 0;
  header_.EndOffset = BlobFileHeaderSize;
}

void TBlobFile::RecoverFile() {
  ClearBlockCache();
  const std::int64_t bs = BlockSize();
  const std::int64_t size = Size();
  std::int64_t end = BlobFileHeaderSize;
  if (size > BlobFileHeaderSize) {
    const std::int64_t limit = BlobFileHeaderSize + (BlobLockRangeStart - BlobFileHeaderSize) / bs * bs;
    end = std::min(BlobFileHeaderSize + (size - BlobFileHeaderSize) / bs * bs, limit);
    if (end != size) {
      Seek(end, 0);
      WriteBuffer(nullptr, 0);
    }
  }
  header_.Version = BlobFileVersion;
  header_.FreeBlockHead = 0;
  header_.EndOffset = static_cast<std::int32_t>(end);
}

void TBlobFile::FreeChain(std::int32_t& firstBlock) {
  // A damaged chain is freed as far as its links lead to blocks not yet seen: this runs during repair,
  // where refusing would leave the record unrepairable.
  std::vector<std::int32_t> chain;
  std::unordered_set<std::int32_t> seen;
  for (std::int32_t at = firstBlock; at != 0 && IsBlockOffset(at) && seen.insert(at).second; at = GetBlock(at).Next()) {
    chain.push_back(at);
  }
  for (const std::int32_t at : chain) FreeBlock(GetBlock(at));
  firstBlock = 0;
}

void TBlobFile::FreeReplacedChain(std::int32_t firstBlock, std::int32_t owner, const std::vector<std::int32_t>& kept) {
  std::unordered_set<std::int32_t> keep;
  for (const std::int32_t first : kept) {
    for (std::int32_t at = first; at != 0 && IsBlockOffset(at) && keep.insert(at).second; at = GetBlock(at).Next()) {
    }
  }
  std::vector<std::int32_t> chain;
  std::unordered_set<std::int32_t> seen;
  for (std::int32_t at = firstBlock; at != 0 && IsBlockOffset(at) && keep.count(at) == 0 && seen.insert(at).second;
       at = GetBlock(at).Next()) {
    if (GetBlock(at).Owner() != owner) break;
    chain.push_back(at);
  }
  for (const std::int32_t at : chain) FreeBlock(GetBlock(at));
}

void TBlobFile::RepairChain(std::int32_t& firstBlock, std::int32_t recordNumber) {
  if (firstBlock == 0) return;
  if (!IsBlockOffset(firstBlock)) {
    firstBlock = 0;
    return;
  }
  // A first block naming another record is dropped but not freed: it may be part of that record's chain.
  if (GetBlock(firstBlock).Owner() != recordNumber) {
    firstBlock = 0;
    return;
  }
  if (GetBlock(firstBlock).TotalLength() <= 0) {
    FreeBlock(GetBlock(firstBlock));
    firstBlock = 0;
    return;
  }
  if (GetBlock(firstBlock).Next() == 0) {
    TBlock& only = GetBlock(firstBlock);
    if (only.Used() < only.TotalLength()) only.SetTotalLength(only.Used());
    return;
  }
  // Kept as far as the links lead to unseen blocks of this record below the end offset. What follows
  // the cut is left alone: it lies past the end or names another record, whose chain it may be.
  std::unordered_set<std::int32_t> seen{firstBlock};
  std::int64_t total = GetBlock(firstBlock).Used();
  std::int32_t last = firstBlock;
  GetBlock(firstBlock).SetPrevious(0);
  for (;;) {
    const std::int32_t next = GetBlock(last).Next();
    if (next == 0) break;
    if (!IsBlockOffset(next) || seen.count(next) != 0 || GetBlock(next).Owner() != recordNumber) {
      GetBlock(last).SetNext(0);
      break;
    }
    seen.insert(next);
    TBlock& block = GetBlock(next);
    block.SetPrevious(last);
    total += block.Used();
    last = next;
  }
  GetBlock(firstBlock).SetTotalLength(static_cast<std::int32_t>(std::min<std::int64_t>(total, INT32_MAX)));
}

}  // namespace kavrin::engine
