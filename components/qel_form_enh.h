// TQelFormEnh (unit QelFormEnh): keeps a form's position, size and state in the registry, restoring them
// once the form is loaded and saving them when the component goes with its form, and limits how small
// or large the user can size a sizeable form. The placement rules are TQelFormEnhPlacement's; this is
// the part that watches the form.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "components/message_grabber.h"
#include "components/qel_form_enh_placement.h"

namespace kavrin::classlib {
class TForm;
}

namespace kavrin::components::qelformenh {

class TQelFormEnh : public messagegrabber::TMessageGrabber {
 public:
  // The owner must be a form that holds no other TQelFormEnh.
  explicit TQelFormEnh(classlib::TComponent* owner);
  ~TQelFormEnh() override;

  // Called once the form's properties are set: restores the stored placement.
  void Loaded();
  // Saves the placement while the form still stands; a failure goes to the application's handler.
  void BeforeDestruction() override;

  bool AllowMaximized() const { return placement_.AllowMaximized; }
  void SetAllowMaximized(bool v) { placement_.AllowMaximized = v; }
  bool AllowMinimized() const { return placement_.AllowMinimized; }
  void SetAllowMinimized(bool v) { placement_.AllowMinimized = v; }
  bool CheckPos() const { return placement_.CheckPos; }
  void SetCheckPos(bool v) { placement_.CheckPos = v; }
  std::int32_t MinSizeX() const { return placement_.MinSizeX(); }
  std::int32_t MinSizeY() const { return placement_.MinSizeY(); }
  std::int32_t MaxSizeX() const { return placement_.MaxSizeX(); }
  std::int32_t MaxSizeY() const { return placement_.MaxSizeY(); }
  // A negative value is stored as 0, no limit. A change reaches the form at once.
  void SetMinSizeX(std::int32_t v);
  void SetMinSizeY(std::int32_t v);
  void SetMaxSizeX(std::int32_t v);
  void SetMaxSizeY(std::int32_t v);
  TRootKey RootKey() const { return placement_.RootKey; }
  void SetRootKey(TRootKey v) { placement_.RootKey = v; }
  bool SaveSize() const { return placement_.SaveSize; }
  void SetSaveSize(bool v) { placement_.SaveSize = v; }
  bool SavePosition() const { return placement_.SavePosition; }
  void SetSavePosition(bool v) { placement_.SavePosition = v; }
  const std::string& SubKey() const { return placement_.SubKey; }
  void SetSubKey(std::string v) { placement_.SubKey = std::move(v); }
  static std::string Version() { return TQelFormEnhPlacement::Version(); }
  void SetVersion(const std::string&) {}

  void RestorePlacement() { placement_.RestorePlacement(); }
  void SavePlacement() { placement_.SavePlacement(); }
  const TWindowPlacement& CachedPlacement() const { return placement_.CachedPlacement(); }

 protected:
  void WMSize() override { placement_.GeometryChanged(); }
  void WMMove() override { placement_.GeometryChanged(); }
  void WMGetMinMaxInfo(messagegrabber::TMinMaxInfo& info) override { placement_.ApplyTrackLimits(info); }

 private:
  class FormWindow;

  std::unique_ptr<FormWindow> window_;
  TQelFormEnhPlacement placement_;
  bool saved_ = false;
};

}  // namespace kavrin::components::qelformenh
