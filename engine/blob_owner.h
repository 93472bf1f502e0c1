// TBlobOwner: what the blob file needs of the data file it belongs to, and nothing more.
#pragma once

#include <cstdint>

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
};

}  // namespace kavrin::engine
