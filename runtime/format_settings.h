// The one process-wide record of format settings that every text conversion follows (never the C locale).
#pragma once

#include <string>

namespace kavrin::runtime {

struct TFormatSettings {
  char DecimalSeparator = '.';
  char ThousandSeparator = ',';
  char DateSeparator = '/';
  char TimeSeparator = ':';
  std::string ShortDateFormat = "m/d/yyyy";
  std::string LongDateFormat = "dddd, mmmm d, yyyy";
  std::string ShortTimeFormat = "h:nn AMPM";
  std::string LongTimeFormat = "h:nn:ss AMPM";
  std::string TimeAMString = "AM";
  std::string TimePMString = "PM";
  int TwoDigitYearCenturyWindow = 50;
};

// The settings in force; tests may change them and restore them with ResetFormatSettings.
TFormatSettings& FormatSettings();
void ResetFormatSettings();

}  // namespace kavrin::runtime
