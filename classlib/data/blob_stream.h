// TBlobStream: a stream over one blob field of one record buffer, on the engine's blob routines. It is
// byte-exact: reads, writes, seeks and the size count stored bytes; text conversion of memos happens on
// whole values in the field, never per chunk here.
#pragma once

#include <cstdint>
#include <vector>

#include "classlib/data/streams.h"

namespace kavrin::classlib {

class TBlobField;
class TDataSet;

enum TBlobStreamMode { bmRead = 0, bmWrite = 1, bmReadWrite = 2 };

class TBlobStream : public TStream {
 public:
  // "Cannot access field '%s' in a filter" in filter state; write modes need edit or insert state
  // ("Dataset not in edit or insert mode") unless the field already holds a blob this edit changed,
  // which the stream then continues. A read stream reads a private copy of the stored record; without
  // a current record it stays unopened and reads nothing. Write mode cuts the blob to 0 at once.
  TBlobStream(TBlobField& field, TBlobStreamMode mode);
  // A changed blob stays open, owned by the field until the dataset frees its field buffers; the
  // field's change notification goes out, its exceptions to the application's handler.
  ~TBlobStream() override;
  TBlobStream(const TBlobStream&) = delete;
  TBlobStream& operator=(const TBlobStream&) = delete;

  // Never more than count; fewer at the end of the blob.
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  // Positions stay within 0 .. 2^31-1.
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  // Cuts (or, for a larger size, only moves) to size.
  void SetSize(std::int64_t size) override;
  std::int64_t Size() override { return GetBlobSize(); }
  // Cuts the blob at the position.
  void Truncate();
  std::int32_t GetBlobSize();
  bool Opened() const { return opened_; }

 private:
  TBlobField& field_;
  TDataSet& dataSet_;
  std::uint8_t* buffer_ = nullptr;
  std::vector<std::uint8_t> private_;
  std::int16_t fieldNo_ = 0;
  bool opened_ = false;
  bool modified_ = false;
  std::int32_t position_ = 0;
};

}  // namespace kavrin::classlib
