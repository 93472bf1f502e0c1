#include "runtime/date_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "runtime/conversions.h"
#include "runtime_test_support.h"

namespace kavrin::runtime {
namespace {

using testing::RuntimeTest;

class DateTimeTest : public RuntimeTest {};

TEST_F(DateTimeTest, CalendarRules) {
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_FALSE(IsLeapYear(2023));
  EXPECT_TRUE(IsLeapYear(4));
  EXPECT_EQ(DaysInMonth(2024, 2), 29);
  EXPECT_EQ(DaysInMonth(2023, 2), 28);
  EXPECT_EQ(DaysInMonth(1900, 2), 28);
  EXPECT_EQ(DaysInMonth(2000, 2), 29);
  EXPECT_EQ(DaysInMonth(2023, 4), 30);
  EXPECT_EQ(DaysInMonth(2023, 12), 31);
  EXPECT_EQ(DaysInMonth(2023, 0), 0);
  EXPECT_EQ(DaysInMonth(2023, 13), 0);
}

TEST_F(DateTimeTest, EncodeDateTable) {
  struct Case {
    int year, month, day;
    std::optional<double> value;
  };
  const std::vector<Case> cases = {
      {1899, 12, 30, 0.0},         {1899, 12, 31, 1.0},         {1900, 1, 1, 2.0},
      {1900, 3, 1, 61.0},  // 1900 is no leap year, unlike some spreadsheets' calendars
      {2000, 1, 1, 36526.0},       {2024, 2, 29, 45351.0},      {1899, 12, 29, -1.0},
      {1, 1, 1, -693593.0},        {9999, 12, 31, 2958465.0},   {2023, 2, 29, std::nullopt},
      {1900, 2, 29, std::nullopt}, {2000, 2, 30, std::nullopt}, {2023, 4, 31, std::nullopt},
      {2023, 0, 1, std::nullopt},  {2023, 13, 1, std::nullopt}, {2023, 1, 0, std::nullopt},
      {0, 12, 31, std::nullopt},   {10000, 1, 1, std::nullopt}, {-1, 1, 1, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.year) + "-" + std::to_string(c.month) + "-" + std::to_string(c.day));
    TDateTime out = 123.0;
    ASSERT_EQ(TryEncodeDate(c.year, c.month, c.day, out), c.value.has_value());
    if (c.value) {
      EXPECT_EQ(out, *c.value);
      EXPECT_EQ(EncodeDate(c.year, c.month, c.day), *c.value);
    } else {
      EXPECT_EQ(out, 123.0);
      EXPECT_THROW(EncodeDate(c.year, c.month, c.day), EConvertError);
    }
  }
}

TEST_F(DateTimeTest, EncodeErrorsCarryTheClassLibraryMessages) {
  try {
    EncodeDate(2023, 2, 29);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Invalid argument to date encode");
  }
  try {
    EncodeTime(24, 0, 0, 0);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Invalid argument to time encode");
  }
}

TEST_F(DateTimeTest, EncodeTimeTable) {
  struct Case {
    int h, m, s, ms;
    std::optional<std::int64_t> msecs;
  };
  const std::vector<Case> cases = {
      {0, 0, 0, 0, 0},
      {12, 0, 0, 0, 43200000},
      {23, 59, 59, 999, 86399999},
      {6, 30, 15, 250, 23415250},
      {24, 0, 0, 0, std::nullopt},
      {0, 60, 0, 0, std::nullopt},
      {0, 0, 60, 0, std::nullopt},
      {0, 0, 0, 1000, std::nullopt},
      {-1, 0, 0, 0, std::nullopt},
      {0, 0, 0, -1, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.h) + ":" + std::to_string(c.m) + ":" + std::to_string(c.s) + "." +
                 std::to_string(c.ms));
    TDateTime out = 0;
    ASSERT_EQ(TryEncodeTime(c.h, c.m, c.s, c.ms, out), c.msecs.has_value());
    if (c.msecs) {
      EXPECT_EQ(DateTimeToTimeStamp(out).Time, *c.msecs);
      int h, m, s, ms;
      DecodeTime(out, h, m, s, ms);
      EXPECT_EQ(h, c.h);
      EXPECT_EQ(m, c.m);
      EXPECT_EQ(s, c.s);
      EXPECT_EQ(ms, c.ms);
    } else {
      EXPECT_THROW(EncodeTime(c.h, c.m, c.s, c.ms), EConvertError);
    }
  }
}

TEST_F(DateTimeTest, EveryDayOfTheCalendarDecodesToItself) {
  TDateTime expected = EncodeDate(1, 1, 1);
  for (int year = 1; year <= 9999; ++year)
    for (int month = 1; month <= 12; ++month)
      for (int day = 1; day <= DaysInMonth(year, month); ++day) {
        TDateTime value = EncodeDate(year, month, day);
        ASSERT_EQ(value, expected) << year << "-" << month << "-" << day;
        int y, m, d;
        // Later in the day on either side of 1899: the time never moves the date.
        DecodeDate(value < 0 ? value - 0.75 : value + 0.75, y, m, d);
        ASSERT_EQ(y, year);
        ASSERT_EQ(m, month);
        ASSERT_EQ(d, day);
        expected += 1.0;
      }
}

TEST_F(DateTimeTest, NegativeValuesCountTheTimeForwardFromMidnight) {
  // -1.25 is 29 December 1899, 06:00, not 18:00.
  int y, m, d, h, n, s, ms;
  DecodeDate(-1.25, y, m, d);
  DecodeTime(-1.25, h, n, s, ms);
  EXPECT_EQ(y, 1899);
  EXPECT_EQ(m, 12);
  EXPECT_EQ(d, 29);
  EXPECT_EQ(h, 6);
}

TEST_F(DateTimeTest, TimeStampTable) {
  struct Case {
    TDateTime value;
    std::int32_t date;
    std::int32_t time;
  };
  const std::vector<Case> cases = {
      {0.0, DateDelta, 0},
      {0.5, DateDelta, 43200000},
      {1.25, DateDelta + 1, 21600000},
      {-1.25, DateDelta - 1, 21600000},
      {-2.75, DateDelta - 2, 64800000},
      {36526.0, DateDelta + 36526, 0},
      {-693593.0, 1, 0},
      // A fraction that rounds to a whole day moves to the next day, away from zero on either side.
      {1.0 - 1e-12, DateDelta + 1, 0},
      {2.0 - 1e-12, DateDelta + 2, 0},
      {-2.0 + 1e-12, DateDelta - 2, 0},
      {1.0 + 0.4 / MSecsPerDay, DateDelta + 1, 0},
      {1.0 + 0.6 / MSecsPerDay, DateDelta + 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(FloatToStr(c.value));
    TTimeStamp stamp = DateTimeToTimeStamp(c.value);
    EXPECT_EQ(stamp.Date, c.date);
    EXPECT_EQ(stamp.Time, c.time);
  }
}

TEST_F(DateTimeTest, TimeStampsRoundTripOnBothSidesOf1899) {
  const std::vector<TTimeStamp> stamps = {
      {0, DateDelta},
      {43200000, DateDelta},
      {1, DateDelta + 1},
      {86399999, DateDelta + 45000},
      {21600000, DateDelta - 1},
      {64800000, DateDelta - 2},
      {86399999, DateDelta - 1000},
      {0, 1},
      {12345678, 1},
      {0, DateDelta + 2958465},
      {86399999, DateDelta + 2958465},
  };
  for (const TTimeStamp& stamp : stamps) {
    SCOPED_TRACE(std::to_string(stamp.Date) + "." + std::to_string(stamp.Time));
    TDateTime value = TimeStampToDateTime(stamp);
    TTimeStamp back = DateTimeToTimeStamp(value);
    EXPECT_EQ(back.Date, stamp.Date);
    EXPECT_EQ(back.Time, stamp.Time);

    double msecs = TimeStampToMSecs(stamp);
    EXPECT_EQ(msecs, static_cast<double>(stamp.Date) * MSecsPerDay + stamp.Time);
    TTimeStamp fromMSecs = MSecsToTimeStamp(msecs);
    EXPECT_EQ(fromMSecs.Date, stamp.Date);
    EXPECT_EQ(fromMSecs.Time, stamp.Time);
  }
  // Before 1899 the time fraction is subtracted from the day.
  EXPECT_EQ(TimeStampToDateTime({21600000, DateDelta - 1}), -1.25);
  EXPECT_EQ(TimeStampToDateTime({21600000, DateDelta + 1}), 1.25);
}

TEST_F(DateTimeTest, InvalidValuesRaiseInsteadOfOverflowing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (double v : {nan, inf, -inf, 1e300, -1e300, 3e9, -3e9}) {
    SCOPED_TRACE(FloatToStr(v));
    EXPECT_THROW(DateTimeToTimeStamp(v), EConvertError);
    EXPECT_THROW(MSecsToTimeStamp(v * MSecsPerDay), EConvertError);
    int y, m, d;
    EXPECT_THROW(DecodeDate(v, y, m, d), EConvertError);
    EXPECT_THROW(FormatDateTime("c", v), EConvertError);
  }
  for (TTimeStamp bad :
       {TTimeStamp{-1, DateDelta}, TTimeStamp{MSecsPerDay, DateDelta}, TTimeStamp{0, 0}, TTimeStamp{0, -5}}) {
    SCOPED_TRACE(std::to_string(bad.Date) + "." + std::to_string(bad.Time));
    EXPECT_THROW(TimeStampToDateTime(bad), EConvertError);
  }
}

TEST_F(DateTimeTest, MSecsAreRoundedToWholeMilliseconds) {
  TTimeStamp stamp = MSecsToTimeStamp(63800000000000.0 + 1234.6);
  EXPECT_EQ(TimeStampToMSecs(stamp), 63800000001235.0);
  // Negative milliseconds still give a time within the day.
  TTimeStamp before = MSecsToTimeStamp(-1.0);
  EXPECT_EQ(before.Date, -1);
  EXPECT_EQ(before.Time, MSecsPerDay - 1);
}

TEST_F(DateTimeTest, InjectedClockDrivesNowDateAndTime) {
  const TDateTime fixed = EncodeDate(2024, 6, 15) + EncodeTime(13, 45, 30, 500);
  FixClock(fixed);
  EXPECT_EQ(Now(), fixed);
  EXPECT_EQ(Date(), EncodeDate(2024, 6, 15));
  EXPECT_EQ(Time(), fixed - EncodeDate(2024, 6, 15));
  FixClock(-1.25);
  EXPECT_EQ(Date(), -1.0);
  EXPECT_EQ(Time(), 0.25);
}

// A time zone well away from UTC, given as a POSIX rule so no time-zone database is needed.
class LocalClockTest : public RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    const char* tz = std::getenv("TZ");
    if (tz != nullptr) savedTz_ = tz;
    setenv("TZ", "KVT-05:30", 1);
    tzset();
  }
  void TearDown() override {
    if (savedTz_)
      setenv("TZ", savedTz_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
    RuntimeTest::TearDown();
  }

 private:
  std::optional<std::string> savedTz_;
};

TEST_F(LocalClockTest, DefaultClockIsLocalTime) {
  const double unixEpoch = 25569.0;  // 1 January 1970
  double before = unixEpoch + static_cast<double>(std::time(nullptr)) / 86400.0 + 5.5 / 24.0;
  TDateTime now = Now();
  double after = unixEpoch + static_cast<double>(std::time(nullptr) + 1) / 86400.0 + 5.5 / 24.0;
  EXPECT_GE(now, before - 1.0 / 86400.0);
  EXPECT_LE(now, after);

  FixClock(1.5);
  EXPECT_EQ(Now(), 1.5);
  SetClock(nullptr);  // back to local time
  EXPECT_GE(Now(), before - 1.0 / 86400.0);
}

}  // namespace
}  // namespace kavrin::runtime
