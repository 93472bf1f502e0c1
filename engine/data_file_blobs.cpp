// Blob field access: open a record's blob, read, write, cut and measure it, close it back into the
// record image, and copy blobs between a table and its transaction log. Results are engine codes.
//
// A blob field's slot holds 0 (no blob), a block offset, or, while the blob is open, its handle
// negated; closing puts a block offset back.
#include <limits>
#include <vector>

#include "engine/blob_file.h"
#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/data_file_sections.h"
#include "engine/engine_error.h"

namespace kavrin::engine {
namespace {

bool IsHandleReference(std::int32_t reference) {
  return reference < 0 && reference != std::numeric_limits<std::int32_t>::min();
}

}  // namespace

TErrorCode TDataFile::BlobFieldCheck(std::int16_t fieldNumber, const std::uint8_t* image,
                                     std::int32_t& reference) const {
  const TFieldDescriptor* field = FindField(fieldNumber);
  if (!field) return ec::InvalidFieldNumber;
  if (field->Type != ftBlob || !HasBlobFields()) return ec::InvalidBlobField;
  reference = LoadI32(image + field->SlotOffset + 1);
  return ec::Success;
}

std::vector<std::int32_t> TDataFile::RecordBlobReferences(std::int32_t recordNumber) {
  if (recordNumber < 1 || recordNumber >= header_.NextRecordNumber) return {};
  // Read past the record cache: the change asking holds its records there and must not lose them.
  const std::uint8_t* image = nullptr;
  TRecord uncached(*this);
  if (const TRecord* cached = CachedRecord(recordNumber)) {
    image = cached->Buffer();
  } else {
    uncached.SetRecordNumber(recordNumber);
    uncached.ReadRecord();
    image = uncached.Buffer();
  }
  std::vector<std::int32_t> references;
  if (image[0] != 0) return references;  // a deleted record holds no blob
  for (const TFieldDescriptor& field : fields_) {
    if (field.Type != ftBlob) continue;
    const std::int32_t reference = LoadI32(image + field.SlotOffset + 1);
    if (reference != 0) references.push_back(reference);
  }
  return references;
}

TErrorCode TDataFile::OpenBlob(std::int16_t fieldNumber, std::uint8_t* image) {
  std::int32_t reference = 0;
  if (const TErrorCode code = BlobFieldCheck(fieldNumber, image, reference)) return code;
  // From a message handler during this cursor's own lock wait, or from its record callback, the blob
  // lock and header check would run inside an operation that is half done.
  if (busy_ && !ownCall_) return ec::FileInUse;
  TCursorGuard guard(*this);
  if (!IsShared()) return OpenBlobUnlocked(fieldNumber, image);
  TBlobReadLock lock(*blobFile_);
  blobFile_->CheckHeaderChanged();
  blobFile_->SetHeaderKnown(true);
  return OpenBlobUnlocked(fieldNumber, image);
}

TErrorCode TDataFile::OpenBlobUnlocked(std::int16_t fieldNumber, std::uint8_t* image) {
  std::int32_t reference = 0;
  if (const TErrorCode code = BlobFieldCheck(fieldNumber, image, reference)) return code;
  if (IsHandleReference(reference) && blobFile_->IsBlobHandle(-reference)) return ec::Success;
  std::int32_t handle = 0;
  TErrorCode code;
  try {
    code = blobFile_->OpenBlobHandle(reference > 0 ? reference : 0, fieldNumber, handle);
  } catch (const EDBEngineError& error) {
    return error.Code();  // a damaged chain is this call's result, like every blob field operation's
  }
  if (code != ec::Success) return code;
  const std::int32_t negated = -handle;
  SetField(fieldNumber, image, &negated);
  return ec::Success;
}

TErrorCode TDataFile::CloseBlob(std::int16_t fieldNumber, std::uint8_t* image) {
  std::int32_t reference = 0;
  if (const TErrorCode code = BlobFieldCheck(fieldNumber, image, reference)) return code;
  if (!IsHandleReference(reference)) return ec::InvalidBlobHandle;
  std::int32_t firstBlock = 0;
  const TErrorCode code = blobFile_->CloseBlobHandle(-reference, firstBlock);
  if (code != ec::Success) return code;
  SetField(fieldNumber, image, &firstBlock);
  return ec::Success;
}

TErrorCode TDataFile::ReadBlob(std::int16_t fieldNumber, const std::uint8_t* image, std::int32_t position,
                               std::int32_t count, void* buffer, std::int32_t& countRead) {
  countRead = 0;
  std::int32_t reference = 0;
  if (const TErrorCode code = BlobFieldCheck(fieldNumber, image, reference)) return code;
  if (!IsHandleReference(reference)) return ec::InvalidBlobHandle;
  return blobFile_->ReadBlob(-reference, position, count, buffer, countRead);
}

TErrorCode TDataFile::WriteBlob(std::int16_t fieldNumber, const std::uint8_t* image, std::int32_t position,
                                std::int32_t count, const void* buffer) {
  std::int32_t reference = 0;
  if (const TErrorCode code = BlobFieldCheck(fieldNumber, image, reference)) return code;
  if (!IsHandleReference(reference)) return ec::InvalidBlobHandle;
  return blobFile_->WriteBlob(-reference, position, count, buffer);
}

TErrorCode TDataFile::TruncateBlob(std::int16_t fieldNumber, const std::uint8_t* image, std::int32_t length) {
  std::int32_t reference = 0;
  if (const TErrorCode code = BlobFieldCheck(fieldNumber, image, reference)) return code;
  if (!IsHandleReference(reference)) return ec::InvalidBlobHandle;
  return blobFile_->SetBlobSize(-reference, length);
}

TErrorCode TDataFile::BlobSize(std::int16_t fieldNumber, const std::uint8_t* image, std::int32_t& size) {
  size = 0;
  std::int32_t reference = 0;
  if (const TErrorCode code = BlobFieldCheck(fieldNumber, image, reference)) return code;
  if (!IsHandleReference(reference)) return ec::InvalidBlobHandle;
  return blobFile_->GetBlobSize(-reference, size);
}

bool TDataFile::BlobIsOpen(std::int16_t fieldNumber, const std::uint8_t* image) const {
  std::int32_t reference = 0;
  return BlobFieldCheck(fieldNumber, image, reference) == ec::Success && IsHandleReference(reference) &&
         blobFile_->IsBlobHandle(-reference);
}

TErrorCode TDataFile::CopyBlob(TDataFile& target, TDataFile& source, std::int16_t fieldNumber,
                               std::uint8_t* targetImage, std::uint8_t* sourceImage) {
  if (!target.HasBlobFields() || !source.HasBlobFields()) return ec::InvalidBlobField;
  if (const TErrorCode code = source.OpenBlobUnlocked(fieldNumber, sourceImage)) return code;
  const std::int32_t none = 0;
  target.SetField(fieldNumber, targetImage, &none);
  if (const TErrorCode code = target.OpenBlobUnlocked(fieldNumber, targetImage)) return code;
  std::int32_t size = 0;
  if (const TErrorCode code = source.BlobSize(fieldNumber, sourceImage, size)) return code;
  std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
  std::int32_t read = 0;
  if (const TErrorCode code = source.ReadBlob(fieldNumber, sourceImage, 0, size, data.data(), read)) return code;
  return target.WriteBlob(fieldNumber, targetImage, 0, read, data.data());
}

TErrorCode TDataFile::CloseCopiedBlob(TDataFile& target, TDataFile& source, std::int16_t fieldNumber,
                                      std::uint8_t* targetImage, std::uint8_t* sourceCopy,
                                      const std::uint8_t* sourceImage) {
  if (!target.HasBlobFields() || !source.HasBlobFields()) return ec::InvalidBlobField;
  TErrorCode result = target.CloseBlob(fieldNumber, targetImage);
  std::int32_t copyReference = 0;
  std::int32_t ownReference = 0;
  source.BlobFieldCheck(fieldNumber, sourceCopy, copyReference);
  source.BlobFieldCheck(fieldNumber, sourceImage, ownReference);
  // The copy opened the source's blob only when its reference differs from the source image's.
  if (copyReference != ownReference) {
    const TErrorCode code = source.CloseBlob(fieldNumber, sourceCopy);
    if (result == ec::Success) result = code;
  }
  return result;
}

void TDataFile::EmptyRecordBlobs() {
  if (!currentRecord_ || !HasBlobFields()) return;
  for (const TFieldDescriptor& field : fields_) {
    if (field.Type != ftBlob) continue;
    if (OpenBlobUnlocked(field.FieldNumber, currentRecord_->Buffer()) != ec::Success) continue;
    TruncateBlob(field.FieldNumber, currentRecord_->Buffer(), 0);
  }
}

}  // namespace kavrin::engine
