// TIndexOwner: what the index file needs of the data file that owns it. The index file reaches its
// table through nothing else, so it can be built and tested without a data file.
#pragma once

#include <cstdint>
#include <span>

namespace kavrin::engine {

class TIndexOwner {
 public:
  virtual ~TIndexOwner() = default;

  // While the table is being repaired, opening the index file does not position on its first key.
  virtual bool Repairing() const = 0;
  // Called after the index file reloaded a header that another process changed (its page cache is
  // already dropped): re-apply range and filters and find the current record's key again.
  virtual void SyncIndexPosition() = 0;
  // The TEngineFieldType of the field with this permanent field number; ftInvalid (0) when the table
  // has none. Index definitions refuse blob key fields.
  virtual std::uint8_t KeyFieldType(std::int16_t fieldNumber) const = 0;
  // The image of record n (from 1) through the record cache, record-size bytes; empty when there is no
  // such record. The record callback filter is given a private copy of it.
  virtual std::span<const std::uint8_t> RecordImage(std::int32_t recordNumber) = 0;
  // Record slots ever used, live or deleted: the data file's next record number - 1. Bitmaps have room
  // for record numbers 1 to this.
  virtual std::int32_t RecordSlots() const = 0;
};

}  // namespace kavrin::engine
