// FormatFloat: numbers shown with a display format of the class library ("#,##0.00", "0.0;(0.0);zero"),
// under the process-wide format settings.
#pragma once

#include <string>
#include <string_view>

namespace kavrin::classlib {

// Placeholders "0" (a digit, always) and "#" (a digit when there is one), "." the decimal separator, ","
// in the integer part thousands grouping; quoted text and any other character stand as they are.
// Sections: positive;negative;zero. An empty format gives the general format.
std::string FormatFloat(std::string_view format, double value);

}  // namespace kavrin::classlib
