// The cursor's filters: the record callback filter now; the index file keeps the state that
// navigation reads.
#include "engine/data_file.h"
#include "engine/data_file_sections.h"
#include "engine/index_file.h"

namespace kavrin::engine {

void TDataFile::SetRecordCallback(TRecordCallback callback, std::uint32_t userData) {
  TCursorGuard guard(*this);
  TReadSection section(*this);
  indexFile_->SetRecordCallback(callback, userData);
  SyncIndexPosition();
  section.Finish();
}

TErrorCode TDataFile::ActivateRecordCallback(bool active) {
  if (!indexFile_->GetCallback()) return ec::InvalidFilterHandle;
  TCursorGuard guard(*this);
  TReadSection section(*this);
  indexFile_->SetCallbackActive(active);
  SyncIndexPosition();
  section.Finish();
  return ec::Success;
}

}  // namespace kavrin::engine
