// The screen object: the cursor the whole program shows, the active form and its change event, the
// screen's size and resolution, the list of forms.
#pragma once

#include <vector>

#include "classlib/widgets/control.h"

namespace kavrin::classlib {

class TForm;

class TScreen {
 public:
  TScreen();
  ~TScreen();
  TScreen(const TScreen&) = delete;
  TScreen& operator=(const TScreen&) = delete;
  static TScreen* Instance();

  // One level: crHourGlass then crDefault restores the normal cursor however often it was set.
  TCursor Cursor() const { return cursor_; }
  void SetCursor(TCursor cursor);

  // The active top-level form; an MDI frame stays the active form while its children change.
  TForm* ActiveForm() const { return activeForm_; }
  TWinControl* ActiveControl() const;
  // Fired when the active form changes, and when the active MDI child of the frame changes.
  TNotifyEvent OnActiveFormChange;

  int Width() const;
  int Height() const;
  int PixelsPerInch() const;

  int FormCount() const { return static_cast<int>(forms_.size()); }
  TForm* Forms(int index) const { return forms_.at(static_cast<std::size_t>(index)); }

  // Called by forms and the application.
  void FormAdded(TForm* form);
  void FormGone(TForm* form);
  void ActiveFormMayHaveChanged(bool mdiChildChanged);

 private:
  TCursor cursor_ = crDefault;
  TForm* activeForm_ = nullptr;
  std::vector<TForm*> forms_;
};

// The one screen object; it exists while the application does.
TScreen& Screen();

}  // namespace kavrin::classlib
