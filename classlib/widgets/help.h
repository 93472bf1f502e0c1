// The help stand-in: help calls name the help file and the command or context; no help viewer exists
// on Linux, so the call shows that in a small modeless window and always succeeds.
#pragma once

#include <functional>
#include <string>

namespace kavrin::classlib {

// WinHelp commands the programs use.
enum : unsigned {
  HELP_CONTEXT = 0x1,
  HELP_QUIT = 0x2,
  HELP_CONTENTS = 0x3,
  HELP_INDEX = 0x3,
  HELP_HELPONHELP = 0x4,
  HELP_SETCONTENTS = 0x5,
  HELP_CONTEXTPOPUP = 0x8,
  HELP_FINDER = 0xB,
  HELP_KEY = 0x101,
};

struct THelpRequest {
  std::string HelpFile;
  unsigned Command = 0;
  long Data = 0;
};

// "NORVA.HLP: contents", "NORVA.HLP: context 27", "NORVA.HLP: pop-up context 8".
std::string DescribeHelpRequest(const THelpRequest& request);

// Where help requests go; null restores the modeless note window.
using THelpViewer = std::function<void(const THelpRequest&)>;
void SetHelpViewer(THelpViewer viewer);

// Always true: a missing help file or viewer is not the caller's failure.
bool WinHelp(const std::string& helpFile, unsigned command, long data);

}  // namespace kavrin::classlib
