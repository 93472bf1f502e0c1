// TDateTime, the class library's date and time value, and the clock that "DATE", "TIME" and "NOW" read.
//
// A TDateTime is a double of days since 30 December 1899; its fraction is the time of day (for negative
// values the fraction still counts forward from midnight, as the class library has it). A TTimeStamp
// holds the day number with 1 January 0001 = 1 and milliseconds since midnight.
#pragma once

#include <cstdint>
#include <functional>

namespace kavrin::runtime {

using TDateTime = double;

struct TTimeStamp {
  std::int32_t Time = 0;  // milliseconds since midnight
  std::int32_t Date = 0;  // days, 1 January 0001 = 1
};

// Days from 1 January 0001 (day 1) to 30 December 1899 (TDateTime 0).
inline constexpr std::int32_t DateDelta = 693594;
inline constexpr std::int32_t MSecsPerDay = 86400000;

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);  // 0 for a month outside 1..12

// Years 1..9999; false (and out untouched) for anything else.
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out);
// As above, raising EConvertError for an invalid date or time.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int msec);
// Through DateTimeToTimeStamp, so the time is rounded to the millisecond first; a day before 1 January
// 0001 decodes as 0/0/0.
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec);

// Time is the fraction rounded to whole milliseconds (a rounding up to a full day carries into Date).
// NaN, infinities and values whose day does not fit Date raise EConvertError, never undefined behaviour.
TTimeStamp DateTimeToTimeStamp(TDateTime value);
// Raises EConvertError unless Date >= 1 and 0 <= Time < MSecsPerDay, as the class library validates.
TDateTime TimeStampToDateTime(const TTimeStamp& stamp);
double TimeStampToMSecs(const TTimeStamp& stamp);
// Rounded to whole milliseconds; Time always within the day, also before day 1. NaN, infinities and
// days outside the range of Date raise EConvertError.
TTimeStamp MSecsToTimeStamp(double msecs);

// The clock: local time by default; tests replace it. A null clock restores local time.
using Clock = std::function<TDateTime()>;
void SetClock(Clock clock);
TDateTime Now();
TDateTime Date();  // Now() without its time of day
TDateTime Time();  // Now()'s time of day

}  // namespace kavrin::runtime
