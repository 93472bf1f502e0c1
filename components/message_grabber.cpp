#include "components/message_grabber.h"

#include <QEvent>
#include <QObject>
#include <QWidget>
#include <algorithm>

#include "classlib/widgets/control.h"

namespace kavrin::components::messagegrabber {

namespace {

// Checked before the owner takes the component into its list.
classlib::TComponent* WindowedOwner(classlib::TComponent* owner) {
  CheckGrabberOwner(dynamic_cast<classlib::TWinControl*>(owner) != nullptr);
  return owner;
}

}  // namespace

class TMessageGrabber::Filter : public QObject {
 public:
  explicit Filter(TMessageGrabber& grabber) : grabber_(grabber) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != grabber_.widget_) return false;
    switch (event->type()) {
      case QEvent::Resize:
      case QEvent::WindowStateChange: Send(GrabbedMessage::WM_SIZE); break;
      case QEvent::Move: Send(GrabbedMessage::WM_MOVE); break;
      case QEvent::Show:
        // Before the form shows: the limits it is shown with.
        classlib::Guarded(&grabber_, [this] { grabber_.AskTrackLimits(); });
        break;
      default: break;
    }
    return false;
  }

 private:
  void Send(GrabbedMessage msg) {
    classlib::Guarded(&grabber_, [this, msg] {
      TMessage message{msg, nullptr};
      grabber_.WndProc(message);
    });
  }

  TMessageGrabber& grabber_;
};

TMessageGrabber::TMessageGrabber(classlib::TComponent* owner)
    : TComponent(WindowedOwner(owner)), owner_control_(dynamic_cast<classlib::TWinControl*>(owner)) {
  filter_ = new Filter(*this);
  Hook();
}

void TMessageGrabber::Hook() {
  widget_ = Watched();
  widget_->installEventFilter(filter_);
  QObject::connect(widget_.data(), &QObject::destroyed, filter_, [this] {
    classlib::Guarded(this, [this] {
      TMessage message{GrabbedMessage::WM_DESTROY, nullptr};
      WndProc(message);
    });
  });
  hooked_ = true;
}

void TMessageGrabber::WatchFrame() {
  if (!hooked_ || widget_ == Watched()) return;
  Unhook();
  Hook();
}

TMessageGrabber::~TMessageGrabber() {
  Unhook();
  delete filter_;
}

QWidget* TMessageGrabber::Watched() const {
  return owner_control_->FrameWidget() ? owner_control_->FrameWidget() : owner_control_->Widget();
}

void TMessageGrabber::Unhook() {
  if (!hooked_) return;
  hooked_ = false;
  if (!widget_) return;
  widget_->removeEventFilter(filter_);
  QObject::disconnect(widget_.data(), nullptr, filter_, nullptr);
}

void TMessageGrabber::WndProc(TMessage& message) {
  switch (message.Msg) {
    case GrabbedMessage::WM_SIZE: WMSize(); break;
    case GrabbedMessage::WM_MOVE: WMMove(); break;
    case GrabbedMessage::WM_DESTROY:
      // Not passed on: the widget is going.
      Unhook();
      break;
    case GrabbedMessage::WM_GETMINMAXINFO:
      if (message.MinMaxInfo) WMGetMinMaxInfo(*message.MinMaxInfo);
      break;
  }
}

void TMessageGrabber::AskTrackLimits() {
  if (!hooked_ || !widget_) return;
  TMinMaxInfo info;
  TMessage message{GrabbedMessage::WM_GETMINMAXINFO, &info};
  WndProc(message);
  const bool any =
      info.ptMinTrackSize.x > 0 || info.ptMinTrackSize.y > 0 || info.ptMaxTrackSize.x > 0 || info.ptMaxTrackSize.y > 0;
  if (!any && !limits_applied_) return;
  limits_applied_ = any;
  auto limit = [](std::int32_t v) { return v > 0 ? v : QWIDGETSIZE_MAX; };
  widget_->setMinimumSize(std::max(0, info.ptMinTrackSize.x), std::max(0, info.ptMinTrackSize.y));
  widget_->setMaximumSize(limit(info.ptMaxTrackSize.x), limit(info.ptMaxTrackSize.y));
}

}  // namespace kavrin::components::messagegrabber
