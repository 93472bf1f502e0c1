#include "runtime/date_time.h"

#include <cmath>
#include <cstdint>
#include <ctime>
#include <limits>
#include <mutex>
#include <string>
#include <utility>

#include "runtime/conversions.h"

namespace kavrin::runtime {

namespace {

constexpr int kDaysBeforeMonth[2][13] = {
    {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366},
};

constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

// Ties go to even, as the class library's Round does with the processor's default rounding.
double RoundHalfEven(double x) {
  double r = std::floor(x);
  double diff = x - r;
  if (diff > 0.5 || (diff == 0.5 && std::fmod(r, 2.0) != 0.0)) r += 1.0;
  return r;
}

bool IsTimeStampValid(const TTimeStamp& stamp) { return stamp.Date > 0 && stamp.Time >= 0 && stamp.Time < MSecsPerDay; }

// Day number (1 January 0001 = 1) to the proleptic Gregorian calendar, in 400/100/4/1-year cycles.
void DecodeDayNumber(std::int32_t dayNumber, int& year, int& month, int& day) {
  if (dayNumber <= 0) {
    year = month = day = 0;
    return;
  }
  constexpr std::int64_t kDays400 = 146097;
  constexpr std::int64_t kDays100 = 36524;
  constexpr std::int64_t kDays4 = 1461;
  std::int64_t t = static_cast<std::int64_t>(dayNumber) - 1;
  std::int64_t y = 1 + (t / kDays400) * 400;
  t %= kDays400;
  std::int64_t i = t / kDays100;
  if (i == 4) i = 3;  // the last day of a 400-year cycle
  y += i * 100;
  t -= i * kDays100;
  y += (t / kDays4) * 4;
  t %= kDays4;
  i = t / 365;
  if (i == 4) i = 3;  // the last day of a leap year
  y += i;
  t -= i * 365;
  year = static_cast<int>(y);
  const int* before = kDaysBeforeMonth[IsLeapYear(year) ? 1 : 0];
  month = 1;
  while (month < 12 && t >= before[month]) ++month;
  day = static_cast<int>(t - before[month - 1]) + 1;
}

TDateTime LocalNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::tm local{};
  if (localtime_r(&now.tv_sec, &local) == nullptr) return 0.0;
  TDateTime date = 0.0;
  TDateTime time = 0.0;
  int second = local.tm_sec > 59 ? 59 : local.tm_sec;  // a leap second stays in its minute
  if (!TryEncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, date)) return 0.0;
  TryEncodeTime(local.tm_hour, local.tm_min, second, static_cast<int>(now.tv_nsec / 1000000), time);
  return date + time;
}

struct ClockState {
  std::mutex mutex;
  Clock clock;
};

ClockState& TheClock() {
  static ClockState state;
  return state;
}

}  // namespace

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  if (month < 1 || month > 12) return 0;
  const int* before = kDaysBeforeMonth[IsLeapYear(year) ? 1 : 0];
  return before[month] - before[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  std::int64_t y = year - 1;
  std::int64_t days =
      y * 365 + y / 4 - y / 100 + y / 400 + kDaysBeforeMonth[IsLeapYear(year) ? 1 : 0][month - 1] + day - DateDelta;
  out = static_cast<TDateTime>(days);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 || msec > 999)
    return false;
  std::int64_t ms = ((static_cast<std::int64_t>(hour) * 60 + minute) * 60 + second) * 1000 + msec;
  out = static_cast<TDateTime>(ms) / MSecsPerDay;
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime out = 0.0;
  if (!TryEncodeDate(year, month, day, out)) throw EConvertError("Invalid argument to date encode");
  return out;
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
  TDateTime out = 0.0;
  if (!TryEncodeTime(hour, minute, second, msec, out)) throw EConvertError("Invalid argument to time encode");
  return out;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  DecodeDayNumber(DateTimeToTimeStamp(value).Date, year, month, day);
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec) {
  std::int32_t t = DateTimeToTimeStamp(value).Time;
  hour = t / 3600000;
  minute = t / 60000 % 60;
  second = t / 1000 % 60;
  msec = t % 1000;
}

TTimeStamp DateTimeToTimeStamp(TDateTime value) {
  // Checked in double first: converting a NaN or an out-of-range double to an integer is undefined.
  if (!std::isfinite(value)) throw EConvertError("'" + FloatToStr(value) + "' is not a valid date and time");
  double whole = std::trunc(value);
  if (!(whole >= static_cast<double>(kInt32Min - DateDelta) && whole <= static_cast<double>(kInt32Max - DateDelta)))
    throw EConvertError("'" + FloatToStr(value) + "' is not a valid date and time");
  double ms = RoundHalfEven(std::fabs(value - whole) * MSecsPerDay);
  std::int64_t date = DateDelta + static_cast<std::int64_t>(whole);
  std::int64_t time = static_cast<std::int64_t>(ms);
  if (time >= MSecsPerDay) {
    // The fraction rounded up to a whole day: that day is the next one away from 30 December 1899.
    time -= MSecsPerDay;
    date += value < 0 ? -1 : 1;
  }
  if (date < kInt32Min || date > kInt32Max)
    throw EConvertError("'" + FloatToStr(value) + "' is not a valid date and time");
  TTimeStamp stamp;
  stamp.Date = static_cast<std::int32_t>(date);
  stamp.Time = static_cast<std::int32_t>(time);
  return stamp;
}

TDateTime TimeStampToDateTime(const TTimeStamp& stamp) {
  if (!IsTimeStampValid(stamp))
    throw EConvertError("'" + std::to_string(stamp.Date) + "." + std::to_string(stamp.Time) +
                        "' is not a valid timestamp");
  std::int64_t ms = (static_cast<std::int64_t>(stamp.Date) - DateDelta) * MSecsPerDay;
  // Before 30 December 1899 the fraction still counts forward from midnight, so it is subtracted.
  ms = ms >= 0 ? ms + stamp.Time : ms - stamp.Time;
  return static_cast<double>(ms) / MSecsPerDay;
}

double TimeStampToMSecs(const TTimeStamp& stamp) {
  return static_cast<double>(static_cast<std::int64_t>(stamp.Date) * MSecsPerDay + stamp.Time);
}

TTimeStamp MSecsToTimeStamp(double msecs) {
  double whole = std::round(msecs);
  constexpr double kLow = static_cast<double>(kInt32Min) * MSecsPerDay;
  constexpr double kHigh = (static_cast<double>(kInt32Max) + 1.0) * MSecsPerDay;
  if (!(whole >= kLow && whole < kHigh)) throw EConvertError("'" + FloatToStr(msecs) + "' is not a valid timestamp");
  std::int64_t ms = static_cast<std::int64_t>(whole);
  std::int64_t date = ms / MSecsPerDay;
  std::int64_t time = ms % MSecsPerDay;
  if (time < 0) {
    time += MSecsPerDay;
    --date;
  }
  TTimeStamp stamp;
  stamp.Date = static_cast<std::int32_t>(date);
  stamp.Time = static_cast<std::int32_t>(time);
  return stamp;
}

void SetClock(Clock clock) {
  ClockState& state = TheClock();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.clock = std::move(clock);
}

TDateTime Now() {
  Clock clock;
  {
    ClockState& state = TheClock();
    std::lock_guard<std::mutex> lock(state.mutex);
    clock = state.clock;
  }
  return clock ? clock() : LocalNow();
}

TDateTime Date() { return std::trunc(Now()); }

TDateTime Time() {
  TDateTime now = Now();
  return std::fabs(now - std::trunc(now));
}

}  // namespace kavrin::runtime
