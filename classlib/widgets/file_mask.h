// File-name masks of the file lists and file dialogs: ";"-separated patterns with "*" and "?", matched
// ignoring case, because the programs' masks are upper case ("*.DB;*.DBF") and Linux names often are not.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kavrin::classlib {

// The patterns of a mask, trimmed; an empty mask is "*".
std::vector<std::string> SplitFileMask(std::string_view mask);
// Whether name matches pattern ("*" any run, "?" one character), ignoring ASCII case.
bool MatchesFilePattern(std::string_view name, std::string_view pattern);
// Whether name matches any pattern of mask.
bool MatchesFileMask(std::string_view name, std::string_view mask);

}  // namespace kavrin::classlib
