#include "classlib/data/data_source.h"

#include <algorithm>

#include "classlib/data/data_link.h"
#include "classlib/data/field.h"

namespace kavrin::classlib {

TDataSource::TDataSource(TComponent* owner) : TComponent(owner) {}

TDataSource::~TDataSource() {
  MarkDestroying();
  SetDataSet(nullptr);
  while (!links_.empty()) links_.back()->SetDataSource(nullptr);
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
  if (dataSet == dataSet_) return;
  if (dataSet_) dataSet_->RemoveDataSource(this);
  dataSet_ = dataSet;
  if (dataSet_) dataSet_->AddDataSource(this);
  NotifyLinks(TDataEvent::deUpdateState, 0);
  lastState_ = State();
  if (!Destroying() && OnStateChange) OnStateChange(*this);
}

void TDataSource::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  NotifyLinks(TDataEvent::deUpdateState, 0);
  lastState_ = State();
}

TDataSetState TDataSource::State() const {
  if (!dataSet_ || !enabled_) return TDataSetState::dsInactive;
  return dataSet_->State();
}

void TDataSource::Edit() {
  if (autoEdit_ && State() == TDataSetState::dsBrowse) dataSet_->Edit();
}

bool TDataSource::IsLinkedTo(const TDataSet* dataSet) const { return dataSet_ == dataSet; }

int TDataSource::MaxBufferCount() const {
  int count = 1;
  for (TDataLink* link : links_) count = std::max(count, link->BufferCount());
  return count;
}

void TDataSource::AddDataLink(TDataLink* link) {
  links_.push_back(link);
  if (dataSet_) dataSet_->UpdateBufferCount();
}

void TDataSource::RemoveDataLink(TDataLink* link) {
  auto found = std::find(links_.begin(), links_.end(), link);
  if (found != links_.end()) links_.erase(found);
  if (dataSet_ && !Destroying()) dataSet_->UpdateBufferCount();
}

void TDataSource::NotifyLinks(TDataEvent event, std::intptr_t info) {
  for (TDataLink* link : std::vector<TDataLink*>(links_)) link->DataEvent(event, info);
}

void TDataSource::DataEvent(TDataEvent event, std::intptr_t info) {
  if (!enabled_) return;
  if (event == TDataEvent::deUpdateState) {
    NotifyLinks(event, info);
    if (State() != lastState_) {
      lastState_ = State();
      if (OnStateChange) OnStateChange(*this);
    }
    return;
  }
  NotifyLinks(event, info);
  switch (event) {
    case TDataEvent::deFieldChange:
      if (OnDataChange) OnDataChange(*this, reinterpret_cast<TField*>(info));
      break;
    case TDataEvent::deRecordChange:
    case TDataEvent::deDataSetChange:
    case TDataEvent::deDataSetScroll:
    case TDataEvent::deLayoutChange:
      if (OnDataChange) OnDataChange(*this, nullptr);
      break;
    case TDataEvent::deUpdateRecord:
      if (OnUpdateData) OnUpdateData(*this);
      break;
    default: break;
  }
}

}  // namespace kavrin::classlib
