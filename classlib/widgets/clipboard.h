// The clipboard, and the cut, copy and paste commands that go to whichever control has the focus.
#pragma once

#include <string>

#include "classlib/widgets/graphics.h"

namespace kavrin::classlib {

enum : unsigned { CF_TEXT = 1, CF_BITMAP = 2 };

class TClipboard {
 public:
  std::string AsText() const;
  void SetAsText(const std::string& text);
  bool HasFormat(unsigned format) const;
  void Assign(const TBitmap& bitmap);
  TBitmap GetBitmap() const;
  void Clear();
};

TClipboard& Clipboard();

enum class TClipboardCommand { Cut, Copy, Paste };
// What the class library's WM_CUT, WM_COPY and WM_PASTE do to the focused window: an edit, memo,
// drop-down or grid editor acts on its selection; any other control ignores it.
void SendClipboardCommand(TClipboardCommand command);

}  // namespace kavrin::classlib
