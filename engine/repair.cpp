// Table repair: everything of a table that its records determine is derived again from them, so a
// table left damaged by a crash, a full disk or a foreign writer opens and agrees with itself once more.
// Also the events of repair and restructure.
//
// Repair runs in two stages. The definitions come first, on the raw files, because open refuses a
// layout that does not add up: the fields are numbered 1 to n (the index key fields follow them), slot
// offsets, record size and blob field count come from the descriptors, a half-written last record is
// cut off, and the index file is emptied. Only then is the table opened, and its records fetched one by
// one to rebuild the indexes, the deleted-record chain and the blob chains. Nothing is written before
// every check of the first stage has passed.
#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/blob_file.h"
#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/data_file_sections.h"
#include "engine/engine_error.h"
#include "engine/index_file.h"
#include "engine/primitives.h"
#include "platform/ticks.h"
#include "platform/win_file.h"

namespace kavrin::engine {
namespace {

constexpr std::uint32_t kMaxRecordSize = 65535;
constexpr std::uint8_t kRecordIdBytes = 4;

using Key = std::array<std::uint8_t, PageEntryArea>;

bool HasSize(std::uint8_t type) { return type == ftString || type == ftBytes || type == ftVarBytes; }

// Opens a file of the table as plain bytes, closed again on every way out.
class TRawFile {
 public:
  TRawFile(const std::string& name, bool scrambled) {
    file_.SetFileName(name);
    file_.SetScrambled(scrambled);
    file_.SetExclusive(true);
  }
  ~TRawFile() {
    try {
      file_.CloseFile();
    } catch (...) {
    }
  }
  TRawFile(const TRawFile&) = delete;
  TRawFile& operator=(const TRawFile&) = delete;

  TFileHandler& operator*() { return file_; }
  TFileHandler* operator->() { return &file_; }

 private:
  TFileHandler file_;
};

}  // namespace

class TTableRepair {
 public:
  explicit TTableRepair(TDataFile& table) : table_(table) {}
  void Run();

 private:
  void RefuseReadOnlyFiles() const;
  void RepairDefinitions();
  void ReadDefinitions(std::vector<TFieldDescriptor>& fields, std::unordered_map<std::int16_t, std::int16_t>& position);
  void RepairIndexHeader(TFileHandler& index, const std::vector<TFieldDescriptor>& fields,
                         const std::unordered_map<std::int16_t, std::int16_t>& position, TIndexFileHeader& header);
  void RepairRecords();
  std::int32_t FreshID();
  bool IndexLiveRecord(TRecord& record);
  void RetireSlot(TRecord& record);
  void ClaimBlobs(TRecord& record);
  std::int32_t ClaimChain(std::int32_t firstBlock, std::int32_t recordNumber);
  void FreeUnclaimedBlocks();
  std::size_t BlockSlot(std::int32_t offset) const {
    return static_cast<std::size_t>((offset - BlobFileHeaderSize) / table_.blobFile_->BlockSize());
  }
  std::string Base() const { return StripExtension(table_.FileName()); }

  TDataFile& table_;
  std::int32_t lastID_ = 0;
  std::vector<bool> claimed_;  // one flag per block slot of the blob file
};

void TTableRepair::Run() {
  if (table_.InMemory()) return;
  if (table_.Opened()) RaiseEngineError(ec::FileInUse, table_.FileName());
  if (!table_.Exclusive()) RaiseEngineError(ec::MustBeExclusive, table_.FileName());
  if (table_.ReadOnly()) RaiseEngineError(ec::AccessDenied, table_.FileName());
  table_.UndoInterruptedRestructure();
  // Progress events may run messages: nothing may close the table under the repair.
  const TCursorGuard guard(table_);
  RefuseReadOnlyFiles();
  struct TRepairing {
    TDataFile& table;
    explicit TRepairing(TDataFile& t) : table(t) { table.SetRepairing(true); }
    ~TRepairing() { table.SetRepairing(false); }
  } repairing(table_);
  RepairDefinitions();
  table_.OpenFile();
  try {
    RepairRecords();
    table_.WriteFieldDescriptors();
  } catch (...) {
    try {
      table_.CloseOwned();
    } catch (...) {
      // The repair's own failure is the one to report.
    }
    throw;
  }
  table_.CloseOwned();
}

void TTableRepair::RefuseReadOnlyFiles() const {
  for (const char* extension : {".DAT", ".IDX", ".BLB"}) {
    const std::string name = Base() + extension;
    const platform::DWORD attributes = platform::GetFileAttributesA(name);
    if (attributes != platform::INVALID_FILE_ATTRIBUTES && (attributes & platform::FILE_ATTRIBUTE_READONLY)) {
      RaiseEngineError(ec::AccessDenied, name);
    }
  }
}

void TTableRepair::ReadDefinitions(std::vector<TFieldDescriptor>& fields,
                                   std::unordered_map<std::int16_t, std::int16_t>& position) {
  TDataFile& t = table_;
  t.headerLocked_ = false;
  t.tableLocked_ = false;
  t.fields_.clear();
  t.ReadHeader();
  if (t.header_.Version != DataFileVersion) RaiseEngineError(ec::IncorrectVersion, t.FileName());
  if (t.header_.FieldCount > MaxFieldCount) RaiseEngineError(ec::FieldLimits, t.FileName());
  t.SetScrambled(t.header_.Encrypted);
  if (t.header_.Encrypted) t.CheckPassword();
  std::array<std::uint8_t, FieldDescriptorSize> unit;
  t.Seek(static_cast<std::int64_t>(DataFileHeaderSize), 0);
  for (std::uint16_t i = 0; i < t.header_.FieldCount; ++i) {
    t.ReadBuffer(unit.data(), static_cast<std::int32_t>(unit.size()));
    TFieldDescriptor field = DecodeFieldDescriptor(unit);
    // A field whose type or size is damaged cannot be told from its neighbours: nothing is guessed.
    if (field.Type == ftInvalid || field.Type > MaxEngineFieldType ||
        (HasSize(field.Type) && field.Size > MaxFieldSize)) {
      RaiseEngineError(ec::InvalidFieldDefinition, field.Name);
    }
    if (!HasSize(field.Type)) field.Size = 0;
    if (field.Type != ftBCD) field.Decimals = 0;
    position.emplace(field.FieldNumber, static_cast<std::int16_t>(i + 1));
    field.FieldNumber = static_cast<std::int16_t>(i + 1);
    fields.push_back(std::move(field));
  }
}

void TTableRepair::RepairIndexHeader(TFileHandler& index, const std::vector<TFieldDescriptor>& fields,
                                     const std::unordered_map<std::int16_t, std::int16_t>& position,
                                     TIndexFileHeader& header) {
  std::array<std::uint8_t, IndexHeaderSize> image;
  index.Seek(0, 0);
  index.ReadBuffer(image.data(), IndexHeaderSize);
  header = DecodeIndexFileHeader(image);
  if (header.Version != IndexFileVersion) RaiseEngineError(ec::IncorrectVersion, index.FileName());
  if (header.HighestSecondary > MaxSecondaryIndexes) RaiseEngineError(ec::HeaderError, index.FileName());
  for (std::uint8_t n = 0; n <= header.HighestSecondary; ++n) {
    TIndexDescriptor& descriptor = header.Descriptors[n];
    if (descriptor.KeyLength == 0) continue;  // slot 0 without a primary index
    const std::string name = n == 0 ? std::string("Primary") : descriptor.Name;
    if (descriptor.KeyFieldCount > MaxKeyFields) RaiseEngineError(ec::HeaderError, index.FileName());
    int keyLength = 0;
    for (std::size_t k = 0; k < descriptor.KeyFieldCount; ++k) {
      const auto found = position.find(descriptor.KeyFields[k]);
      if (found == position.end()) RaiseEngineError(ec::InvalidFieldNumber, index.FileName());
      const TFieldDescriptor& field = fields[static_cast<std::size_t>(found->second - 1)];
      if (field.Type == ftBlob) RaiseEngineError(ec::InvalidIndexFieldType, name);
      keyLength += FieldDataSize(field) + 1;
      descriptor.KeyFields[k] = found->second;
    }
    if (n != 0 && descriptor.Unique == 0) keyLength += kRecordIdBytes;
    // Keys are built to the stored length; one that does not hold the key fields would refuse every record.
    if (keyLength != descriptor.KeyLength) RaiseEngineError(ec::InvalidKeySize, name);
  }
  for (TIndexDescriptor& descriptor : header.Descriptors) {
    descriptor.Root = 0;
    descriptor.FreeChain = 0;
  }
  header.Descriptors[DeletedIndexSlot].Name = DeletedIndexName;
  header.Descriptors[DeletedIndexSlot].KeyLength = DeletedKeyLength;
  header.EndOfFile = IndexHeaderSize;
  header.RecordCount = 0;
}

void TTableRepair::RepairDefinitions() {
  TDataFile& t = table_;
  // The data file alone, as bytes: its layout may be one that open refuses.
  t.TFileHandler::OpenFile();
  struct TCloseRaw {
    TDataFile& table;
    ~TCloseRaw() {
      table.fields_.clear();
      table.RebuildFieldMap();
      table.TFileHandler::CloseFile();
    }
  } closeRaw{t};

  std::vector<TFieldDescriptor> fields;
  std::unordered_map<std::int16_t, std::int16_t> position;
  ReadDefinitions(fields, position);
  const std::int32_t recordSize = AssignSlotOffsets(fields);
  if (static_cast<std::uint32_t>(recordSize) > kMaxRecordSize) RaiseEngineError(ec::RecordSizeExceeded, t.FileName());
  const auto blobFields = std::count_if(fields.begin(), fields.end(), [](const auto& f) { return f.Type == ftBlob; });
  if (blobFields > MaxBlobFields) RaiseEngineError(ec::BlobFieldsOrBlockSize, t.FileName());

  TRawFile index(Base() + ".IDX", t.Scrambled());
  index->OpenFile();
  TIndexFileHeader indexHeader;
  RepairIndexHeader(*index, fields, position, indexHeader);

  // The blob block size fixes where every block lies; a damaged one cannot be guessed.
  const std::uint32_t blockSize = t.header_.BlobBlockSize;
  if (blockSize != 0 && (blockSize < MinBlobBlockSize || blockSize > MaxBlobBlockSize)) {
    RaiseEngineError(ec::BlobFieldsOrBlockSize, t.FileName());
  }
  // A blob file that is missing or whose header cannot be read starts again empty: its chains were
  // unreachable in any case, and the record slots that name them are cleared later.
  const std::string blobName = Base() + ".BLB";
  bool freshBlobFile = false;
  std::optional<TBlobFileHeader> blobHeader;
  if (blobFields > 0) {
    freshBlobFile = !platform::FileExists(blobName);
    if (!freshBlobFile) {
      TRawFile blob(blobName, t.Scrambled());
      blob->OpenFile();
      freshBlobFile = blob->Size() < BlobFileHeaderSize;
      if (!freshBlobFile) {
        std::array<std::uint8_t, BlobFileHeaderSize> image;
        blob->ReadBuffer(image.data(), BlobFileHeaderSize);
        blobHeader = DecodeBlobFileHeader(image);
      }
    }
  }

  // Every check has passed: from here on the files change.
  if (freshBlobFile || (blobHeader && blobHeader->Version != BlobFileVersion)) {
    TBlobFileHeader header = blobHeader.value_or(TBlobFileHeader{});
    header.Version = BlobFileVersion;
    TRawFile blob(blobName, t.Scrambled());
    if (freshBlobFile) {
      blob->NewFile();
    } else {
      blob->OpenFile();
    }
    std::array<std::uint8_t, BlobFileHeaderSize> image;
    EncodeBlobFileHeader(header, image);
    blob->Seek(0, 0);
    blob->WriteBuffer(image.data(), BlobFileHeaderSize);
  }
  ++indexHeader.ChangeCounter;
  std::array<std::uint8_t, IndexHeaderSize> indexImage;
  EncodeIndexFileHeader(indexHeader, indexImage);
  index->Seek(0, 0);
  index->WriteBuffer(indexImage.data(), IndexHeaderSize);
  index->WriteBuffer(nullptr, 0);

  const std::int64_t dataStart =
      static_cast<std::int64_t>(DataFileHeaderSize) + std::int64_t{t.header_.FieldCount} * FieldDescriptorSize;
  const std::int64_t records = std::max<std::int64_t>(0, t.Size() - dataStart) / recordSize;
  const std::int64_t end = dataStart + records * recordSize;
  if (t.Size() > end) {
    t.Seek(end, 0);
    t.WriteBuffer(nullptr, 0);
  }
  t.header_.Version = DataFileVersion;
  t.header_.RecordSize = static_cast<std::uint16_t>(recordSize);
  t.header_.BlobFieldCount = static_cast<std::int16_t>(blobFields);
  t.header_.NextRecordNumber = static_cast<std::int32_t>(records + 1);
  t.header_.DeletedChainHead = 0;
  // Every other process sees the change, whatever counter it last read.
  t.header_.ChangeCounter =
      static_cast<std::int32_t>(platform::GetTickCount() + static_cast<std::uint32_t>(records + 1));
  t.fields_ = std::move(fields);
  t.RebuildFieldMap();
  t.WriteFieldDescriptors();
  t.WriteHeader();
}

void TTableRepair::RepairRecords() {
  TDataFile& t = table_;
  t.DropRecordCache();
  TIndexFile& index = *t.indexFile_;
  index.ClearPageCache();
  index.EmptyFile();
  if (t.HasBlobFields()) {
    t.blobFile_->ClearBlockCache();
    t.blobFile_->RecoverFile();
    claimed_.assign(static_cast<std::size_t>(t.blobFile_->BlockSlotCount()), false);
  }
  const std::int32_t slots = t.header_.NextRecordNumber - 1;

  // The ids of the live records, and the highest id of any record: fresh ids go above it, and a live
  // record keeps its id before a deleted one does.
  std::unordered_set<std::int32_t> liveIDs;
  lastID_ = t.header_.LastUniqueID;
  for (std::int32_t n = 1; n <= slots; ++n) {
    const TRecord* record = t.FetchRecord(n);
    lastID_ = std::max(lastID_, record->UniqueID());
    if (!record->Deleted()) liveIDs.insert(record->UniqueID());
  }

  std::unordered_set<std::int32_t> given;
  for (std::int32_t n = 1; n <= slots; ++n) {
    TRecord& record = *t.FetchRecord(n);
    record.SetDeleted(record.Deleted());  // a damaged state byte reads as deleted; store it as such
    std::int32_t id = record.UniqueID();
    if (id == 0 || given.count(id) != 0 || (record.Deleted() && liveIDs.count(id) != 0)) {
      id = FreshID();
      record.SetUniqueID(id);
    }
    given.insert(id);
    if (record.Deleted()) {
      RetireSlot(record);
    } else if (IndexLiveRecord(record)) {
      ClaimBlobs(record);
    } else {
      RetireSlot(record);
    }
    record.SetDirty(true);
    t.DoRepairProgress(n, static_cast<std::int32_t>(std::int64_t{n} * 100 / slots));
  }
  if (t.HasBlobFields()) FreeUnclaimedBlocks();
  index.Recount();
  t.header_.LastUniqueID = lastID_;
}

std::int32_t TTableRepair::FreshID() {
  if (lastID_ == std::numeric_limits<std::int32_t>::max()) RaiseEngineError(ec::KeyViolation, table_.FileName());
  return ++lastID_;
}

bool TTableRepair::IndexLiveRecord(TRecord& record) {
  TDataFile& t = table_;
  TIndexFile& index = *t.indexFile_;
  const std::uint8_t* image = record.Buffer();
  const std::uint8_t count = index.IndexCount();
  std::vector<Key> keys(count + 1u);
  // Every key is checked before any goes in, so a record given up leaves no key behind.
  for (std::uint8_t n = 0; n <= count; ++n) {
    if (index.GetDescriptor(n).KeyLength == 0) continue;
    index.SelectIndex(n);
    keys[n].fill(0);
    try {
      t.BuildKey(n, image, image, keys[n].data());
    } catch (const EDBEngineError&) {
      return false;
    }
    if ((n == 0 || index.Unique()) && index.KeyExists(std::span(keys[n].data(), index.KeyLength()))) return false;
  }
  for (std::uint8_t n = 0; n <= count; ++n) {
    if (index.GetDescriptor(n).KeyLength == 0) continue;
    index.SelectIndex(n);
    index.InsertKey(std::span(keys[n].data(), index.KeyLength()), record.RecordNumber());
  }
  Key state{};
  TDataFile::BuildDeletedKey(image, state.data(), image);
  index.SelectIndex(DeletedIndexSlot);
  index.InsertKey(std::span(state.data(), DeletedKeyLength), record.RecordNumber());
  return true;
}

void TTableRepair::RetireSlot(TRecord& record) {
  TDataFile& t = table_;
  if (t.HasBlobFields()) {
    // Its blocks are claimed by no live chain, so they go to the free list with the rest.
    for (const TFieldDescriptor& field : t.fields_) {
      if (field.Type == ftBlob) t.SetBlobReference(field.FieldNumber, record.Buffer(), 0);
    }
  }
  t.FreeRecordSlot(record);
  Key state{};
  TDataFile::BuildDeletedKey(record.Buffer(), state.data(), record.Buffer());
  t.indexFile_->SelectIndex(DeletedIndexSlot);
  t.indexFile_->InsertKey(std::span(state.data(), DeletedKeyLength), record.RecordNumber());
}

void TTableRepair::ClaimBlobs(TRecord& record) {
  TDataFile& t = table_;
  if (!t.HasBlobFields()) return;
  for (const TFieldDescriptor& field : t.fields_) {
    if (field.Type != ftBlob) continue;
    const std::int32_t first = t.GetBlobReference(field.FieldNumber, record.Buffer());
    t.SetBlobReference(field.FieldNumber, record.Buffer(), ClaimChain(first, record.RecordNumber()));
  }
}

// Keeps of a chain what a load of it would gather: blocks of this record, below the end of the file,
// each seen once, claimed by no other chain, up to the first block not filled or the stored length.
// Returns the first block kept, or 0 when nothing is.
std::int32_t TTableRepair::ClaimChain(std::int32_t firstBlock, std::int32_t recordNumber) {
  TBlobFile& blobs = *table_.blobFile_;
  if (firstBlock <= 0 || !blobs.IsBlockOffset(firstBlock) || claimed_[BlockSlot(firstBlock)]) return 0;
  if (blobs.GetBlock(firstBlock).Owner() != recordNumber) return 0;
  const std::int64_t stored = blobs.GetBlock(firstBlock).TotalLength();
  if (stored <= 0) return 0;
  const std::int32_t payload = blobs.PayloadSize();
  std::vector<std::int32_t> chain{firstBlock};
  std::unordered_set<std::int32_t> seen{firstBlock};
  std::int64_t gathered = blobs.GetBlock(firstBlock).Used();
  for (;;) {
    const TBlock& last = blobs.GetBlock(chain.back());
    if (gathered >= stored || last.Used() < payload) break;
    const std::int32_t next = last.Next();
    if (next == 0 || !blobs.IsBlockOffset(next) || seen.count(next) != 0 || claimed_[BlockSlot(next)]) break;
    const TBlock& block = blobs.GetBlock(next);
    if (block.Owner() != recordNumber) break;
    chain.push_back(next);
    seen.insert(next);
    gathered += block.Used();
  }
  const std::int64_t total = std::min(stored, gathered);
  if (total <= 0) return 0;
  for (std::size_t i = 0; i < chain.size(); ++i) {
    TBlock& block = blobs.GetBlock(chain[i]);
    block.SetPrevious(i == 0 ? 0 : chain[i - 1]);
    block.SetNext(i + 1 < chain.size() ? chain[i + 1] : 0);
    claimed_[BlockSlot(chain[i])] = true;
  }
  blobs.GetBlock(firstBlock).SetTotalLength(static_cast<std::int32_t>(total));
  return firstBlock;
}

void TTableRepair::FreeUnclaimedBlocks() {
  TBlobFile& blobs = *table_.blobFile_;
  // From the end down, so the lowest free block is the first one reused.
  for (std::size_t k = claimed_.size(); k-- > 0;) {
    if (claimed_[k]) continue;
    const auto offset =
        static_cast<std::int32_t>(BlobFileHeaderSize + static_cast<std::int64_t>(k) * blobs.BlockSize());
    blobs.FreeBlock(blobs.GetBlock(offset));
  }
}

void TDataFile::RepairTable() { TTableRepair(*this).Run(); }

void TDataFile::DoRepairProgress(std::int32_t recordNumber, std::int32_t percent) {
  if (OnRepairProgress) OnRepairProgress(this, recordNumber, percent);
}

void TDataFile::DoRestructureProgress(std::int32_t count, std::int32_t percent) {
  if (OnRestructureProgress) OnRestructureProgress(owner_, count, percent);
}

void TDataFile::DoDataLost(TDataLossCause cause, bool& continueRestructure, bool& stopAsking) {
  if (OnDataLost) OnDataLost(owner_, cause, continueRestructure, stopAsking);
}

}  // namespace kavrin::engine
