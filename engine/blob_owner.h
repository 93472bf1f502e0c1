// TBlobOwner: what the blob file needs of the data file it belongs to, and nothing more.
#pragma once

#include <cstdint>
#include <vector>

namespace kavrin::engine {

class TBlobOwner {
 public:
  virtual ~TBlobOwner() = default;

  // The table's blob block size as the data file header stores it; 0 stands for 512. Read when the blob
  // file is opened or created and fixed until it closes.
  virtual std::uint16_t BlobBlockSize() const = 0;

  // The 32-bit reference in the slot of blob field fieldNumber of a record image: 0 for no blob, a
  // block offset, or a negated open-blob handle. Called only with field numbers that the data file
  // passed to OpenBlobHandle.
  virtual std::int32_t GetBlobReference(std::int16_t fieldNumber, const std::uint8_t* image) const = 0;

  // Writes reference into that slot as the data file's field setter does, has-value byte included
  // (set exactly when reference is not 0).
  virtual void SetBlobReference(std::int16_t fieldNumber, std::uint8_t* image, std::int32_t reference) = 0;

  // The references in the blob slots of record recordNumber when it is a live record of the table
  // (block offsets, or negated handles of blobs open on it); none for a deleted record or a number
  // outside the file. Asked before a free block that names the record as owner is reused.
  virtual std::vector<std::int32_t> RecordBlobReferences(std::int32_t recordNumber) {
    (void)recordNumber;
    return {};
  }
};

}  // namespace kavrin::engine
