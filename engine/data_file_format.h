// The data file (".DAT"): header, field descriptors and fixed-size records, and TRecord, the cached
// form of one record. The byte layouts are written down in data_file_format.cpp.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kavrin::engine {

class TFileHandler;

// Numbered as the logical field types of the class library's database engine.
enum TEngineFieldType : std::uint8_t {
  ftInvalid = 0,
  ftString = 1,
  ftDate = 2,
  ftBlob = 3,
  ftBoolean = 4,
  ftSmallInt = 5,
  ftInteger = 6,
  ftFloat = 7,
  ftBCD = 8,
  ftBytes = 9,
  ftTime = 10,
  ftTimeStamp = 11,
  ftWord = 12,
  ftLongWord = 13,
  ftFloat10 = 14,
  ftVarBytes = 15,
};
inline constexpr std::uint8_t MaxEngineFieldType = 15;

enum TEngineFieldSubtype : std::uint8_t {
  fstNone = 0,
  fstMoney = 21,
  fstMemo = 22,
  fstBinary = 23,
  fstFormattedMemo = 24,
  fstOLE = 25,
  fstGraphic = 26,
  fstTypedBinary = 28,
  fstAutoInc = 29,
};

inline constexpr std::size_t DataFileHeaderSize = 127;
inline constexpr std::size_t FieldDescriptorSize = 265;
inline constexpr std::uint16_t RecordPrefixSize = 9;   // deleted flag, next deleted, unique id
inline constexpr std::uint16_t AutoIncSlotOffset = 5;  // an AutoInc field's value is the unique id
inline constexpr std::uint8_t DataFileVersion = 2;
inline constexpr std::uint16_t MaxFieldCount = 512;
inline constexpr std::uint8_t MaxFieldSize = 245;
inline constexpr std::int16_t MaxBlobFields = 32;
inline constexpr std::uint32_t DefaultBlobBlockSize = 512;
inline constexpr std::uint32_t MinBlobBlockSize = 64;
inline constexpr std::uint32_t MaxBlobBlockSize = 65535;

inline constexpr std::size_t HeaderDescriptionLength = 50;
inline constexpr std::size_t HeaderPasswordLength = 15;
inline constexpr std::size_t FieldNameLength = 30;
inline constexpr std::size_t FieldDescriptionLength = 50;
inline constexpr std::size_t ValidityTextLength = 50;  // minimum, maximum and default texts

struct TDataFileHeader {
  std::int32_t ChangeCounter = 0;
  std::uint32_t BlobBlockSize = 0;
  std::uint8_t Version = DataFileVersion;
  std::uint32_t DeletedChainHead = 0;
  std::int32_t NextRecordNumber = 1;
  std::int32_t LastUniqueID = 0;
  std::uint16_t RecordSize = RecordPrefixSize;
  std::uint16_t FieldCount = 0;
  std::int16_t BlobFieldCount = 0;
  double LastUpdate = 0;
  std::string Description;  // plain text; scrambled only on disk
  bool Encrypted = false;
  std::string Password;  // plain text; scrambled only on disk

  // A stored block size of 0 stands for 512.
  std::uint32_t EffectiveBlobBlockSize() const { return BlobBlockSize == 0 ? DefaultBlobBlockSize : BlobBlockSize; }
};

struct TFieldDescriptor {
  std::int16_t FieldNumber = 0;
  std::string Name;
  std::string Description;
  std::uint8_t Type = ftInvalid;
  std::uint8_t Subtype = fstNone;
  std::uint8_t Size = 0;
  std::uint8_t Decimals = 0;
  std::uint16_t SlotOffset = 0;
  bool Required = false;
  std::string Minimum;
  std::string Maximum;
  std::string Default;

  bool IsAutoInc() const { return Type == ftInteger && Subtype == fstAutoInc; }
};

void EncodeDataFileHeader(const TDataFileHeader& header, std::span<std::uint8_t, DataFileHeaderSize> out);
TDataFileHeader DecodeDataFileHeader(std::span<const std::uint8_t, DataFileHeaderSize> in);
void EncodeFieldDescriptor(const TFieldDescriptor& field, std::span<std::uint8_t, FieldDescriptorSize> out);
TFieldDescriptor DecodeFieldDescriptor(std::span<const std::uint8_t, FieldDescriptorSize> in);

// Bytes of a field's data, without its has-value byte; the size byte for a type the format does not know.
int FieldDataSize(std::uint8_t type, std::uint8_t size);
inline int FieldDataSize(const TFieldDescriptor& field) { return FieldDataSize(field.Type, field.Size); }

// Gives each field its slot from offset 9 upwards in field order (AutoInc fields take none and point at
// the unique id) and returns the record size.
std::int32_t AssignSlotOffsets(std::vector<TFieldDescriptor>& fields);

// Where record n (from 1) begins.
std::int64_t RecordOffset(std::uint16_t fieldCount, std::uint16_t recordSize, std::int32_t recordNumber);

// Refuse a header or a descriptor set that the rest of the engine could not read safely: version 12035,
// field limits 9492, record layout 9221, blob fields and block size 9498, one field's definition 10000
// (named). fileName goes into the error context.
void ValidateDataFileHeader(const TDataFileHeader& header, std::string_view fileName);
void ValidateFieldDescriptors(const TDataFileHeader& header, const std::vector<TFieldDescriptor>& fields,
                              std::string_view fileName);

// The header and descriptors at the start of a data file, decoded and checked; descriptors of an
// encrypted table are unscrambled unit by unit. Too few bytes raise 9217.
struct TDataFileLayout {
  TDataFileHeader Header;
  std::vector<TFieldDescriptor> Fields;
};
TDataFileLayout DecodeDataFileLayout(std::span<const std::uint8_t> bytes, std::string_view fileName);

// What a TRecord needs of the data file it belongs to.
class TRecordOwner {
 public:
  virtual ~TRecordOwner() = default;
  virtual std::int32_t RecordSize() const = 0;
  virtual std::int64_t RecordPosition(std::int32_t recordNumber) const = 0;
  virtual TFileHandler& RecordFile() = 0;
  // The unique id a new record takes (0 when ids are kept or issuing is suspended).
  virtual std::int32_t NextUniqueID() = 0;
  // A cached record turned dirty: its owner keeps a list of them, so a flush need not look at every
  // cached record.
  virtual void RecordDirtied(std::int32_t /*recordNumber*/) {}
};

// One record as cached: its number (0 for none), its image and whether the image differs from the file.
class TRecord {
 public:
  explicit TRecord(TRecordOwner& owner);

  TRecordOwner& Owner() const { return *owner_; }
  bool Dirty() const { return dirty_; }
  void SetDirty(bool dirty) {
    if (dirty) {
      MarkDirty();
    } else {
      dirty_ = false;
    }
  }
  std::int32_t RecordNumber() const { return recordNumber_; }
  void SetRecordNumber(std::int32_t recordNumber) {
    if (dirty_ && recordNumber != recordNumber_) owner_->RecordDirtied(recordNumber);
    recordNumber_ = recordNumber;
  }
  // When the owner's cache last handed the record out, on the owner's own clock.
  std::uint64_t LastUse() const { return lastUse_; }
  void SetLastUse(std::uint64_t lastUse) { lastUse_ = lastUse; }
  std::uint8_t* Buffer() { return image_.data(); }
  const std::uint8_t* Buffer() const { return image_.data(); }
  std::size_t BufferSize() const { return image_.size(); }

  // Makes a record the cache recycles as clean and numberless as a new one; the image is zeroed unless
  // the caller overwrites it whole.
  void Recycle(bool zeroImage) {
    dirty_ = false;
    recordNumber_ = 0;
    lastUse_ = 0;
    if (zeroImage) std::fill(image_.begin(), image_.end(), 0);
  }

  void InitNew();
  void ReadRecord();
  // Leaves the record dirty when its position cannot be reached (an in-memory file does not seek past
  // its end).
  void WriteRecord();

  bool Deleted() const;
  void SetDeleted(bool deleted);
  std::int32_t NextDeleted() const;
  void SetNextDeleted(std::int32_t recordNumber);
  std::int32_t UniqueID() const;
  void SetUniqueID(std::int32_t id);
  // Copies the field slots of another image of the same size over this one; the prefix stays.
  void SetData(const std::uint8_t* image);

 private:
  void MarkDirty() {
    if (!dirty_) owner_->RecordDirtied(recordNumber_);
    dirty_ = true;
  }

  TRecordOwner* owner_;
  bool dirty_ = false;
  std::int32_t recordNumber_ = 0;
  std::uint64_t lastUse_ = 0;
  std::vector<std::uint8_t> image_;
};

}  // namespace kavrin::engine
