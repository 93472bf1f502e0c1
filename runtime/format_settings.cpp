#include "runtime/format_settings.h"

namespace kavrin::runtime {

namespace {

TFormatSettings& Settings() {
  static TFormatSettings settings;
  return settings;
}

}  // namespace

TFormatSettings& FormatSettings() { return Settings(); }

void ResetFormatSettings() { Settings() = TFormatSettings{}; }

}  // namespace kavrin::runtime
