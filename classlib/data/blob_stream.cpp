#include "classlib/data/blob_stream.h"

#include <algorithm>
#include <limits>

#include "classlib/data/data_set.h"
#include "classlib/data/exceptions.h"
#include "classlib/data/other_fields.h"
#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "engine/error_codes.h"

namespace kavrin::classlib {
namespace {

void Check(engine::TErrorCode code) {
  if (code != 0) engine::EngineError(static_cast<std::uint32_t>(code));
}

TDataSet& DataSetOf(TBlobField& field) {
  if (!field.DataSet()) DatabaseError(FormatMessage("Field '%s' has no dataset", {field.DisplayName()}));
  return *field.DataSet();
}

constexpr std::int64_t kMaxPosition = std::numeric_limits<std::int32_t>::max();

}  // namespace

TBlobStream::TBlobStream(TBlobField& field, TBlobStreamMode mode)
    : field_(field), dataSet_(DataSetOf(field)), fieldNo_(static_cast<std::int16_t>(field.FieldNo())) {
  buffer_ = dataSet_.ActiveBuffer();
  if (dataSet_.State() == TDataSetState::dsFilter) {
    DatabaseError(FormatMessage("Cannot access field '%s' in a filter", {field.DisplayName()}));
  }
  if (!field.modified_) {
    if (mode != bmRead) {
      if (dataSet_.State() != TDataSetState::dsEdit && dataSet_.State() != TDataSetState::dsInsert) {
        DatabaseError("Dataset not in edit or insert mode");
      }
      if (field.ReadOnly()) DatabaseError(FormatMessage("Field '%s' cannot be modified", {field.DisplayName()}));
    } else {
      private_.assign(dataSet_.RecordSize(), 0);
      buffer_ = private_.data();
      if (!dataSet_.GetCurrentRecord(buffer_)) return;
    }
    if (!buffer_ || !dataSet_.Handle()) return;
    Check(dataSet_.Handle()->OpenBlob(fieldNo_, buffer_));
  }
  opened_ = true;
  if (mode == bmWrite) Truncate();
}

TBlobStream::~TBlobStream() {
  if (opened_) {
    if (modified_) field_.modified_ = true;
    if (!field_.modified_ && dataSet_.Handle()) dataSet_.Handle()->CloseBlob(fieldNo_, buffer_);
  }
  if (modified_) {
    CallHandlingExceptions(
        [&] { dataSet_.DataEvent(TDataEvent::deFieldChange, reinterpret_cast<std::intptr_t>(&field_)); });
  }
}

std::int64_t TBlobStream::Read(void* buffer, std::int64_t count) {
  if (!opened_ || count <= 0) return 0;
  const auto asked = static_cast<std::int32_t>(std::min(count, kMaxPosition));
  std::int32_t read = 0;
  const engine::TErrorCode code = dataSet_.Handle()->ReadBlob(fieldNo_, buffer_, position_, asked, buffer, read);
  if (code == engine::ec::InvalidBlobOffset) return 0;
  if (code != 0 && code != engine::ec::EndOfBlob) Check(code);
  read = std::clamp(read, 0, asked);
  position_ += read;
  return read;
}

std::int64_t TBlobStream::Write(const void* buffer, std::int64_t count) {
  if (!opened_ || count <= 0) return 0;
  if (count > kMaxPosition - position_) throw EWriteError();
  const auto size = static_cast<std::int32_t>(count);
  Check(dataSet_.Handle()->WriteBlob(fieldNo_, buffer_, position_, size, buffer));
  position_ += size;
  modified_ = true;
  return size;
}

std::int64_t TBlobStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  std::int64_t base = 0;
  if (origin == soFromCurrent) base = position_;
  if (origin == soFromEnd) base = GetBlobSize();
  position_ = static_cast<std::int32_t>(std::clamp<std::int64_t>(base + offset, 0, kMaxPosition));
  return position_;
}

void TBlobStream::SetSize(std::int64_t size) {
  const std::int32_t keep = position_;
  position_ = static_cast<std::int32_t>(std::clamp<std::int64_t>(size, 0, kMaxPosition));
  if (position_ < GetBlobSize()) Truncate();
  position_ = std::min(keep, position_);
}

void TBlobStream::Truncate() {
  if (!opened_) return;
  Check(dataSet_.Handle()->TruncateBlob(fieldNo_, buffer_, position_));
  modified_ = true;
}

std::int32_t TBlobStream::GetBlobSize() {
  if (!opened_) return 0;
  std::int32_t size = 0;
  Check(dataSet_.Handle()->BlobSize(fieldNo_, buffer_, size));
  return size;
}

}  // namespace kavrin::classlib
