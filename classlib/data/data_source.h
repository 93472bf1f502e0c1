// TDataSource: connects data links (controls, grids, detail datasets) to a dataset and passes the
// dataset's events on to them.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "classlib/data/component.h"
#include "classlib/data/data_set.h"

namespace kavrin::classlib {

class TDataLink;
class TField;

class TDataSource : public TComponent {
 public:
  using TNotifyEvent = std::function<void(TDataSource&)>;
  using TDataChangeEvent = std::function<void(TDataSource&, TField* field)>;

  explicit TDataSource(TComponent* owner = nullptr);
  ~TDataSource() override;

  TDataSet* DataSet() const { return dataSet_; }
  void SetDataSet(TDataSet* dataSet);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  bool AutoEdit() const { return autoEdit_; }
  void SetAutoEdit(bool autoEdit) { autoEdit_ = autoEdit; }
  // The dataset's state, inactive without one or while disabled.
  TDataSetState State() const;
  // Puts a browsing dataset into edit state when AutoEdit is on.
  void Edit();
  bool IsLinkedTo(const TDataSet* dataSet) const;

  // The largest window a link asks for (1 when none asks).
  int MaxBufferCount() const;
  void DataEvent(TDataEvent event, std::intptr_t info);
  int DataLinkCount() const { return static_cast<int>(links_.size()); }

  // With the changed field for a field change, else null.
  TDataChangeEvent OnDataChange;
  TNotifyEvent OnStateChange;
  TNotifyEvent OnUpdateData;

 private:
  friend class TDataLink;
  void AddDataLink(TDataLink* link);
  void RemoveDataLink(TDataLink* link);
  void NotifyLinks(TDataEvent event, std::intptr_t info);

  TDataSet* dataSet_ = nullptr;
  bool enabled_ = true;
  bool autoEdit_ = true;
  TDataSetState lastState_ = TDataSetState::dsInactive;
  std::vector<TDataLink*> links_;
};

}  // namespace kavrin::classlib
