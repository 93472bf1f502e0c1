// TBlobFile: a table's blob file (".BLB"), the values of its blob fields as chains of fixed-size blocks
// behind a 512-byte header, with a block cache, a free-block list, a change counter, a writer lock and
// random reader locks, and the table's open blobs. TBlock is one cached block. The byte layouts are
// written down in blob_file.cpp.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/blob_owner.h"
#include "engine/error_codes.h"
#include "engine/file_handler.h"
#include "engine/open_blobs.h"

namespace kavrin::engine {

inline constexpr std::int32_t BlobFileHeaderSize = 512;
inline constexpr std::int32_t BlobBlockHeaderSize = 18;
inline constexpr std::uint8_t BlobFileVersion = 2;
inline constexpr std::int32_t DefaultBlobBlockBytes = 512;
// The writer lock's range; a reader locks one byte of it. Blocks stay below it.
inline constexpr std::int64_t BlobLockRangeStart = 2147418113;  // 7FFF0001
inline constexpr std::int64_t BlobLockRangeLength = 65535;
inline constexpr std::int32_t BlockCacheBytes = 131070;

struct TBlobFileHeader {
  std::int32_t ChangeCounter = 0;
  std::uint8_t Version = BlobFileVersion;
  std::uint32_t FreeBlockHead = 0;
  std::int32_t EndOffset = BlobFileHeaderSize;
};

struct TBlobBlockHeader {
  std::int32_t Previous = 0;
  std::int32_t Next = 0;
  std::uint16_t Used = 0;
  std::int32_t Owner = 0;
  std::int32_t TotalLength = 0;
};

void EncodeBlobFileHeader(const TBlobFileHeader& header, std::span<std::uint8_t, BlobFileHeaderSize> out);
TBlobFileHeader DecodeBlobFileHeader(std::span<const std::uint8_t, BlobFileHeaderSize> in);
void EncodeBlobBlockHeader(const TBlobBlockHeader& header, std::span<std::uint8_t, BlobBlockHeaderSize> out);
TBlobBlockHeader DecodeBlobBlockHeader(std::span<const std::uint8_t, BlobBlockHeaderSize> in);

class TBlobFile;

// One cached block. The engine reads and changes the working copies; Store puts them back into the
// header. Every setter marks the block dirty when the value changes.
class TBlock {
 public:
  TBlock(TBlobFile& blobFile, std::int32_t offset);
  TBlock(const TBlock&) = delete;
  TBlock& operator=(const TBlock&) = delete;

  TBlobFile& BlobFile() const { return *blobFile_; }
  bool Dirty() const { return dirty_; }
  void SetDirty(bool dirty) { dirty_ = dirty; }
  std::int32_t Offset() const { return offset_; }
  const TBlobBlockHeader& Header() const { return header_; }
  const std::vector<std::uint8_t>& Payload() const { return payload_; }

  std::uint16_t Used() const { return used_; }
  std::int32_t Owner() const { return owner_; }
  std::int32_t TotalLength() const { return totalLength_; }
  std::int32_t Previous() const { return previous_; }
  std::int32_t Next() const { return next_; }
  void SetUsed(std::uint16_t used);
  void SetOwner(std::int32_t owner);
  void SetTotalLength(std::int32_t totalLength);
  void SetPrevious(std::int32_t previous);
  void SetNext(std::int32_t next);
  // Header, payload and working copies zero.
  void Clear();

  void Load();
  // Leaves the block dirty when its offset cannot be reached.
  void Store();
  // Copies at most the used bytes from From on and returns how many; 10029 for a range outside the
  // payload.
  std::int32_t GetData(std::int32_t from, std::int32_t count, void* dest) const;
  // Used becomes From + Count; 10029 for a range outside the payload.
  void PutData(std::int32_t from, std::int32_t count, const void* source);

 private:
  TBlobFile* blobFile_;
  bool dirty_ = false;
  std::int32_t offset_;
  TBlobBlockHeader header_;
  std::vector<std::uint8_t> payload_;
  std::uint16_t used_ = 0;
  std::int32_t owner_ = 0;
  std::int32_t totalLength_ = 0;
  std::int32_t previous_ = 0;
  std::int32_t next_ = 0;
};

// How long the blob locks wait: a pause between tries and the number of tries before 10249.
struct TBlobLockWait {
  std::uint32_t PauseMilliseconds = 10;
  std::int32_t Tries = 8193;
};

class TBlobFile : public TFileHandler {
 public:
  explicit TBlobFile(TBlobOwner& dataFile);
  ~TBlobFile() override;

  // --- File operations ---------------------------------------------------------------------------
  std::string FixFileName(std::string_view name) const override;
  void OpenFile() override;
  void CloseFile() override;
  void NewFile() override;

  // --- Header and change detection ---------------------------------------------------------------
  void ReadHeader();
  void WriteHeader();
  void CheckHeaderChanged();
  const TBlobFileHeader& Header() const { return header_; }
  // Set while the header copy is known to be current (the writer lock is held, the table is locked);
  // always set on an exclusive file or one read-only on disk.
  bool HeaderKnown() const { return headerKnown_; }
  void SetHeaderKnown(bool known) { headerKnown_ = known || HeaderFixed(); }

  // --- Blocks ------------------------------------------------------------------------------------
  std::int32_t BlockSize() const;
  std::int32_t PayloadSize() const { return BlockSize() - BlobBlockHeaderSize; }
  // A block offset in use: at least 512, on a block boundary, below the end offset.
  bool IsBlockOffset(std::int64_t offset) const;
  // The cached block at offset; at the end offset a new zeroed block. 9998 for any other offset, 8963
  // for a block missing from the file. The reference lasts until the next GetBlock or AllocBlock, which
  // may evict it: hold offsets, not blocks, across them.
  TBlock& GetBlock(std::int32_t offset);
  TBlock* CurrentBlock() const { return currentBlock_; }
  void SetCurrentBlock(TBlock& block) { currentBlock_ = &block; }
  // The current block moves to its next link; false when the link is 0.
  bool NextBlock();
  std::int32_t FirstFreeBlock() const;
  TBlock& AllocBlock();
  void FreeBlock(TBlock& block);
  // Writes the dirty blocks: all of them, or the one at offset (and all when it stays dirty).
  void FlushBlocks(bool all, std::int32_t offset = 0);
  // A change's write-through in two steps around the records' write: first the blocks it took (then the
  // header that takes them off the free list) and the blocks of changed chains, the first block of a
  // chain that grows last and of one that shrinks first; after the records, the blocks it freed and the
  // header that puts them on the free list. A crash at any point leaves no block that a chain or record
  // on the file names on the free list on the file. The second step follows the first.
  void WriteBlocksBeforeRecords();
  void WriteBlocksAfterRecords();
  void ClearBlockCache();
  std::size_t BlockCacheCapacity() const { return cacheCapacity_; }
  std::size_t BlockCacheCount() const { return cache_.size(); }
  bool HasDirtyBlocks() const;
  // The end of the highest block waiting to be written (0 when none): how far a flush can grow the file.
  std::int64_t DirtyEnd() const;

  // --- Locks -------------------------------------------------------------------------------------
  void SetLockWait(TBlobLockWait wait) { lockWait_ = wait; }
  void WriteLock();
  void WriteUnlock();
  void ReadLock();
  void ReadUnlock();

  // --- Emptying and recovery ---------------------------------------------------------------------
  void ResetFile();
  void RecoverFile();
  void FreeChain(std::int32_t& firstBlock);
  // Frees the blocks of a chain that its record no longer names, as far as its links lead to blocks
  // that name this owner and that no chain from kept uses; what lies beyond a damaged link is left for
  // repair, since it may be another record's.
  void FreeReplacedChain(std::int32_t firstBlock, std::int32_t owner, const std::vector<std::int32_t>& kept);
  void RepairChain(std::int32_t& firstBlock, std::int32_t recordNumber);

  // --- Open blobs (results are engine codes) -----------------------------------------------------
  TErrorCode OpenBlobHandle(std::int32_t firstBlock, std::int16_t fieldNumber, std::int32_t& handle);
  TErrorCode CloseBlobHandle(std::int32_t handle, std::int32_t& firstBlock);
  TErrorCode ReadBlob(std::int32_t handle, std::int32_t position, std::int32_t count, void* dest,
                      std::int32_t& countRead);
  TErrorCode WriteBlob(std::int32_t handle, std::int32_t position, std::int32_t count, const void* source);
  TErrorCode SetBlobSize(std::int32_t handle, std::int32_t size);
  TErrorCode GetBlobSize(std::int32_t handle, std::int32_t& size);
  bool IsBlobHandle(std::int32_t handle) const;
  // The size of the open blob a negative slot reference names; 0 when it names none.
  std::int32_t OpenBlobSize(std::int32_t reference) const;
  // Each acts on the open blobs whose handles stand in recordImage, never on other open blobs.
  void SetBlobOwner(const std::uint8_t* recordImage, std::int32_t recordNumber);
  void SaveBlobs(const std::uint8_t* recordImage);
  void StoreBlobOffsets(std::uint8_t* recordImage);
  void FreeBlobs();
  int OpenBlobCount() const { return openBlobs_.Count(); }
  TBlobBuffer* FindBlob(std::int32_t handle) const { return openBlobs_.Find(handle); }

  // --- Chain walking (shared with the open blobs) ------------------------------------------------
  // The most blocks a chain can have: every block slot below the end offset.
  std::int64_t BlockSlotCount() const;
  // The most payload bytes a chain can hold.
  std::int64_t StorableBytes() const { return BlockSlotCount() * PayloadSize(); }
  // The offsets of the chain from firstBlock; 9998 for a link that is no block offset or that closes
  // a cycle.
  std::vector<std::int32_t> ChainOffsets(std::int32_t firstBlock);
  // The next count blocks of the free list must be free: 9998, with nothing changed, when one is not a
  // block offset or a chain of the record it names as owner (or of an open blob) still uses it.
  void CheckFreeBlocks(std::size_t count);

 private:
  friend class TBlock;
  using BlockList = std::list<std::unique_ptr<TBlock>>;

  bool HeaderFixed() const { return Exclusive() || ReadOnlyOnDisk(); }
  void TakeBlockSize();
  void MakeRoomInBlockCache();
  // Evicts clean blocks from the least recently used end while the cache holds more than its capacity.
  void TrimBlockCache();
  template <typename Pick>
  void StoreDirtyBlocks(Pick pick);
  void WriteHeaderWithFreeHead(std::uint32_t head);
  void ForgetChange();
  // Positions the file at offset for a write; an in-memory file, which cannot seek past its end, is
  // first extended with zeros up to it.
  bool SeekForWrite(std::int64_t offset);
  void LockWithRetries(bool writer);
  bool StandsIn(const TBlobBuffer& buffer, const std::uint8_t* recordImage) const;
  std::unordered_set<std::int32_t> BlocksUsedBy(std::int32_t owner);

  TBlobOwner* dataFile_;
  TBlobFileHeader header_;
  bool headerKnown_ = false;
  std::uint16_t readLockByte_ = 0;
  TBlobHandleTable openBlobs_;
  TBlock* currentBlock_ = nullptr;
  BlockList cache_;  // most recently used first
  std::unordered_map<std::int32_t, BlockList::iterator> blockByOffset_;
  std::size_t cacheCapacity_ = 0;
  std::int32_t blockSize_ = 0;  // fixed while open; 0 while closed
  TBlobLockWait lockWait_;
  // The blocks the change under way took from the free list or the end (listed only where other
  // processes share the file) and those it freed, and the free-list head before its first free.
  std::vector<std::int32_t> taken_;
  std::unordered_set<std::int32_t> freed_;
  std::uint32_t headBeforeFrees_ = 0;
  bool headerWrittenForChange_ = false;
  std::vector<TBlock*> changedBlocks_;  // the dirty blocks while WriteBlocksBeforeRecords orders them
};

// A held writer lock; released when it goes out of scope.
class TBlobWriteLock {
 public:
  explicit TBlobWriteLock(TBlobFile& file) : file_(&file) { file.WriteLock(); }
  ~TBlobWriteLock();
  TBlobWriteLock(const TBlobWriteLock&) = delete;
  TBlobWriteLock& operator=(const TBlobWriteLock&) = delete;

 private:
  TBlobFile* file_;
};

// A held reader byte; released when it goes out of scope.
class TBlobReadLock {
 public:
  explicit TBlobReadLock(TBlobFile& file) : file_(&file) { file.ReadLock(); }
  ~TBlobReadLock();
  TBlobReadLock(const TBlobReadLock&) = delete;
  TBlobReadLock& operator=(const TBlobReadLock&) = delete;

 private:
  TBlobFile* file_;
};

}  // namespace kavrin::engine
