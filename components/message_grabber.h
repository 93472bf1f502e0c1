// TMessageGrabber (unit MessageGrabber): a component that sees its owner window's messages first. On Qt
// it is an event filter on the owner's frame widget (an MDI child's subwindow, else the window itself):
// Resize and WindowStateChange arrive as WM_SIZE, Move as WM_MOVE, the widget's destruction as
// WM_DESTROY, and AskTrackLimits sends WM_GETMINMAXINFO and makes the answer the widget's minimum and
// maximum size. Every event goes on to the widget.
#pragma once

#include <QPointer>

#include "classlib/data/component.h"
#include "components/message_grabber_messages.h"

class QWidget;

namespace kavrin::classlib {
class TWinControl;
}

namespace kavrin::components::messagegrabber {

struct TMessage {
  GrabbedMessage Msg = GrabbedMessage::WM_SIZE;
  TMinMaxInfo* MinMaxInfo = nullptr;  // WM_GETMINMAXINFO only
};

class TMessageGrabber : public classlib::TComponent {
 public:
  // Raises ENonWindowOwner unless the owner is a windowed control.
  explicit TMessageGrabber(classlib::TComponent* owner);
  ~TMessageGrabber() override;

  // True from construction until the owner's widget is destroyed or the grabber goes.
  bool Hooked() const { return hooked_; }
  // Dispatches a message to the handlers below.
  virtual void WndProc(TMessage& message);

 protected:
  virtual void WMSize() {}
  virtual void WMMove() {}
  virtual void WMGetMinMaxInfo(TMinMaxInfo&) {}
  // WM_GETMINMAXINFO: the answer becomes the widget's limits (0: none). Nothing is touched while no
  // handler has ever set a limit, so a fixed-size form keeps its size.
  void AskTrackLimits();
  classlib::TWinControl* OwnerControl() const { return owner_control_; }
  // Follows the owner to its current frame widget (a form made an MDI child after the grabber).
  void WatchFrame();

 private:
  class Filter;
  friend class Filter;
  QWidget* Watched() const;
  void Hook();
  void Unhook();

  classlib::TWinControl* owner_control_;
  QPointer<QWidget> widget_;
  Filter* filter_ = nullptr;
  bool hooked_ = false;
  bool limits_applied_ = false;
};

}  // namespace kavrin::components::messagegrabber
