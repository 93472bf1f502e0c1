#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "runtime/conversions.h"
#include "runtime/date_time.h"
#include "runtime/format_settings.h"
#include "runtime_test_support.h"

namespace kavrin::runtime {
namespace {

using testing::RuntimeTest;

struct TextCase {
  std::string text;
  std::optional<TDateTime> value;
};

void ExpectParses(bool (*parse)(std::string_view, TDateTime&), const std::vector<TextCase>& cases) {
  for (const TextCase& c : cases) {
    SCOPED_TRACE("text: \"" + c.text + "\"");
    TDateTime out = 77.0;
    ASSERT_EQ(parse(c.text, out), c.value.has_value());
    if (c.value)
      EXPECT_EQ(out, *c.value);
    else
      EXPECT_EQ(out, 77.0);
  }
}

TDateTime D(int y, int m, int d) { return EncodeDate(y, m, d); }
TDateTime T(int h, int n, int s = 0, int ms = 0) { return EncodeTime(h, n, s, ms); }
// A day and a time of day; before 1899 the time is subtracted, as the run-time composes them.
TDateTime At(TDateTime day, TDateTime time) { return day < 0 ? day - time : day + time; }

// Parsing reads the clock's year, so every test here runs on a fixed day: 15 June 2024, 10:00.
class DateTimeText : public RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    FixClock(D(2024, 6, 15) + T(10, 0));
  }
};

TEST_F(DateTimeText, DatesInTheDefaultOrder) {
  ExpectParses(TryStrToDate, {
                                 {"6/15/2024", D(2024, 6, 15)},
                                 {"06/05/2024", D(2024, 6, 5)},
                                 {"  6/15/2024  ", D(2024, 6, 15)},
                                 {"2/29/2024", D(2024, 2, 29)},
                                 {"2/29/2000", D(2000, 2, 29)},
                                 {"2/29/2023", std::nullopt},
                                 {"2/29/1900", std::nullopt},
                                 {"12/31/9999", D(9999, 12, 31)},
                                 {"1/1/0001", D(1, 1, 1)},
                                 {"1/1/0000", std::nullopt},
                                 {"1/1/10000", std::nullopt},
                                 {"3/4", D(2024, 3, 4)},  // the clock's year
                                 {"13/1/2024", std::nullopt},
                                 {"0/1/2024", std::nullopt},
                                 {"1/32/2024", std::nullopt},
                                 {"1/0/2024", std::nullopt},
                                 {"6-15-2024", std::nullopt},
                                 {"6/15/2024x", std::nullopt},
                                 {"6/15/2024 10:00", std::nullopt},
                                 {"6/15/", std::nullopt},
                                 {"6/", std::nullopt},
                                 {"6", std::nullopt},
                                 {"", std::nullopt},
                                 {"/15/2024", std::nullopt},
                                 {"6/15/2024/1", std::nullopt},
                                 {"99999999999/1/2024", std::nullopt},
                             });
}

TEST_F(DateTimeText, TwoDigitYearsFollowTheCenturyWindow) {
  // Window 50 in 2024: two-digit years fall in 1974..2073.
  ExpectParses(TryStrToDate, {
                                 {"1/2/73", D(2073, 1, 2)},
                                 {"1/2/74", D(1974, 1, 2)},
                                 {"1/2/99", D(1999, 1, 2)},
                                 {"1/2/00", D(2000, 1, 2)},
                                 {"1/2/24", D(2024, 1, 2)},
                                 {"1/2/5", D(2005, 1, 2)},
                                 {"1/2/024", D(24, 1, 2)},  // three digits are taken as written
                                 {"1/2/0099", D(99, 1, 2)},
                             });
  FormatSettings().TwoDigitYearCenturyWindow = 0;  // no window: always the current century
  ExpectParses(TryStrToDate, {{"1/2/99", D(2099, 1, 2)}, {"1/2/00", D(2000, 1, 2)}});
  FormatSettings().TwoDigitYearCenturyWindow = 10;  // 2014..2113
  ExpectParses(TryStrToDate, {{"1/2/13", D(2113, 1, 2)}, {"1/2/14", D(2014, 1, 2)}, {"1/2/99", D(2099, 1, 2)}});
  FormatSettings().TwoDigitYearCenturyWindow = 50;
  FixClock(D(2049, 12, 31));  // 1999..2098
  ExpectParses(TryStrToDate, {{"1/2/98", D(2098, 1, 2)}, {"1/2/99", D(1999, 1, 2)}, {"1/2/3", D(2003, 1, 2)}});
}

TEST_F(DateTimeText, OrderAndSeparatorComeFromTheSettings) {
  TFormatSettings& fs = FormatSettings();
  fs.ShortDateFormat = "d.m.yyyy";
  fs.DateSeparator = '.';
  ExpectParses(TryStrToDate, {{"15.6.2024", D(2024, 6, 15)},
                              {"3.4", D(2024, 4, 3)},
                              {"15/6/2024", std::nullopt},
                              {"6.15.2024", std::nullopt}});
  EXPECT_EQ(DateToStr(D(2024, 6, 5)), "5.6.2024");

  fs.ShortDateFormat = "yyyy-mm-dd";
  fs.DateSeparator = '-';
  ExpectParses(TryStrToDate, {{"2024-06-15", D(2024, 6, 15)}, {"06-15", D(2024, 6, 15)}, {"24-06-15", D(2024, 6, 15)}});
  EXPECT_EQ(DateToStr(D(2024, 6, 5)), "2024-06-05");

  fs.ShortDateFormat = "yyyy/dd/mm";
  fs.DateSeparator = '/';
  ExpectParses(TryStrToDate, {{"2024/15/06", D(2024, 6, 15)}});
}

TEST_F(DateTimeText, Times) {
  ExpectParses(TryStrToTime, {
                                 {"10:30", T(10, 30)},
                                 {"0:00", 0.0},
                                 {"  10:30:15  ", T(10, 30, 15)},
                                 {"23:59:59", T(23, 59, 59)},
                                 {"10:30:15.250", T(10, 30, 15, 250)},
                                 {"10:30:15.5", T(10, 30, 15, 500)},
                                 {"10:30:15.05", T(10, 30, 15, 50)},
                                 {"10:30:15.1234", std::nullopt},
                                 {"10:30:15.", std::nullopt},
                                 {"12:00 AM", 0.0},
                                 {"12:00 PM", T(12, 0)},
                                 {"12:30 am", T(0, 30)},
                                 {"12 AM", 0.0},
                                 {"12 PM", T(12, 0)},
                                 {"1 PM", T(13, 0)},
                                 {"5pm", T(17, 0)},
                                 {"11:59:59 PM", T(23, 59, 59)},
                                 {"1:05:09 Am", T(1, 5, 9)},
                                 {"13:00", T(13, 0)},
                                 {"0:30 AM", std::nullopt},
                                 {"13:00 PM", std::nullopt},
                                 {"24:00", std::nullopt},
                                 {"10:60", std::nullopt},
                                 {"10:30:60", std::nullopt},
                                 {"10", std::nullopt},  // a bare number is no time
                                 {"", std::nullopt},
                                 {"10:", std::nullopt},
                                 {"10:30:", std::nullopt},
                                 {":30", std::nullopt},
                                 {"10:30 XM", std::nullopt},
                                 {"10:30 PM x", std::nullopt},
                                 {"10.30", std::nullopt},
                             });
}

TEST_F(DateTimeText, AmPmStringsComeFromTheSettings) {
  FormatSettings().TimeAMString = "vorm.";
  FormatSettings().TimePMString = "nachm.";
  ExpectParses(TryStrToTime, {{"1:00 nachm.", T(13, 0)}, {"1:00 VORM.", T(1, 0)}, {"1:00 PM", std::nullopt}});
  EXPECT_EQ(TimeToStr(T(13, 5, 0)), "1:05:00 nachm.");
}

TEST_F(DateTimeText, DatesWithTimes) {
  ExpectParses(TryStrToDateTime, {
                                     {"6/15/2024 10:30", D(2024, 6, 15) + T(10, 30)},
                                     {"6/15/2024", D(2024, 6, 15)},
                                     {" 6/15/2024   1:05:09 PM  ", D(2024, 6, 15) + T(13, 5, 9)},
                                     {"6/15 12:00 AM", D(2024, 6, 15)},
                                     {"10:30 PM", T(22, 30)},
                                     {"12/29/1899 6:00", -1.25},
                                     {"12/29/1899 18:00", -1.75},
                                     {"6/15/202410:30", std::nullopt},
                                     {"6/15/2024 10", std::nullopt},
                                     {"6/15/2024 x", std::nullopt},
                                     {"2/30/2024 10:00", std::nullopt},
                                     {"10", std::nullopt},
                                     {"", std::nullopt},
                                 });
}

TEST_F(DateTimeText, ErrorMessagesQuoteTheText) {
  auto message = [](auto&& convert) {
    try {
      convert();
    } catch (const EConvertError& e) {
      return std::string(e.what());
    }
    return std::string("no exception");
  };
  EXPECT_EQ(message([] { StrToDate("2/30/2024"); }), "'2/30/2024' is not a valid date");
  EXPECT_EQ(message([] { StrToTime("25:00"); }), "'25:00' is not a valid time");
  EXPECT_EQ(message([] { StrToDateTime("x"); }), "'x' is not a valid date and time");
  EXPECT_EQ(StrToDateTime("6/15/2024 10:30"), D(2024, 6, 15) + T(10, 30));
}

TEST_F(DateTimeText, DefaultFormats) {
  const TDateTime v = D(2024, 3, 5) + T(14, 7, 9, 45);
  EXPECT_EQ(DateToStr(v), "3/5/2024");
  EXPECT_EQ(TimeToStr(v), "2:07:09 PM");
  EXPECT_EQ(DateTimeToStr(v), "3/5/2024 2:07:09 PM");
  EXPECT_EQ(DateTimeToStr(D(2024, 3, 5)), "3/5/2024");
  EXPECT_EQ(DateTimeToStr(D(2024, 3, 5) + T(0, 0, 0, 1)), "3/5/2024 12:00:00 AM");
  EXPECT_EQ(DateToStr(0.0), "12/30/1899");
  EXPECT_EQ(TimeToStr(0.0), "12:00:00 AM");
  EXPECT_EQ(TimeToStr(0.5), "12:00:00 PM");
  EXPECT_EQ(DateTimeToStr(0.5), "12/30/1899 12:00:00 PM");
  EXPECT_EQ(DateTimeToStr(-1.75), "12/29/1899 6:00:00 PM");
  EXPECT_EQ(DateToStr(D(1, 1, 1)), "1/1/0001");
}

TEST_F(DateTimeText, FormatTokens) {
  const TDateTime v = D(2024, 3, 5) + T(14, 7, 9, 45);  // a Tuesday afternoon
  struct Case {
    std::string format;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"d", "5"},
      {"dd", "05"},
      {"ddd", "Tue"},
      {"dddd", "Tuesday"},
      {"ddddd", "3/5/2024"},
      {"dddddd", "Tuesday, March 5, 2024"},
      {"m", "3"},
      {"mm", "03"},
      {"mmm", "Mar"},
      {"mmmm", "March"},
      {"MMMM", "March"},
      {"yy", "24"},
      {"yyyy", "2024"},
      {"h", "14"},
      {"hh", "14"},
      {"h:m", "14:7"},  // m right after h is minutes
      {"hh:mm:ss", "14:07:09"},
      {"h 'x' m", "14 x 7"},
      {"m/d h", "3/5 14"},
      {"n", "7"},
      {"nn", "07"},
      {"s", "9"},
      {"ss", "09"},
      {"z", "45"},
      {"zzz", "045"},
      {"h AM/PM", "2 PM"},
      {"h am/pm", "2 pm"},
      {"h a/p", "2 p"},
      {"h A/P", "2 P"},
      {"hh AMPM", "02 PM"},
      {"AMPM h", "PM 2"},
      {"h 'am/pm'", "14 am/pm"},  // quoted: no 12-hour clock
      {"c", "3/5/2024 2:07:09 PM"},
      {"t", "2:07 PM"},
      {"tt", "2:07:09 PM"},
      {"yyyy/mm/dd", "2024/03/05"},
      {"'day' d", "day 5"},
      {"\"h\" h", "h 14"},
      {"dddd d mmmm yyyy", "Tuesday 5 March 2024"},
      {"'unterminated", "unterminated"},
      {"x a b", "x a b"},
      {"", "3/5/2024 2:07:09 PM"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("format: \"" + c.format + "\"");
    EXPECT_EQ(FormatDateTime(c.format, v), c.text);
  }
}

TEST_F(DateTimeText, TwelveHourClockAtMidnightAndNoon) {
  EXPECT_EQ(FormatDateTime("h:nn AMPM", T(0, 5)), "12:05 AM");
  EXPECT_EQ(FormatDateTime("hh:nn am/pm", T(0, 5)), "12:05 am");
  EXPECT_EQ(FormatDateTime("h:nn AMPM", T(12, 0)), "12:00 PM");
  EXPECT_EQ(FormatDateTime("h:nn AMPM", T(11, 59)), "11:59 AM");
  EXPECT_EQ(FormatDateTime("h:nn AMPM", T(23, 59)), "11:59 PM");
  EXPECT_EQ(FormatDateTime("h:nn", T(0, 5)), "0:05");
}

TEST_F(DateTimeText, SeparatorsComeFromTheSettings) {
  FormatSettings().DateSeparator = '-';
  FormatSettings().TimeSeparator = '.';
  const TDateTime v = D(2024, 3, 5) + T(14, 7, 9);
  EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:nn", v), "2024-03-05 14.07");
  EXPECT_EQ(DateTimeToStr(v), "3-5-2024 2.07.09 PM");
  TDateTime out = 0;
  ASSERT_TRUE(TryStrToDateTime("3-5-2024 2.07.09 PM", out));
  EXPECT_EQ(out, v);
}

TEST_F(DateTimeText, FormatsThatNameThemselvesStop) {
  FormatSettings().ShortDateFormat = "ddddd";
  FormatSettings().LongTimeFormat = "c";
  EXPECT_NO_THROW(DateToStr(1.5));
  EXPECT_NO_THROW(DateTimeToStr(1.5));
}

TEST_F(DateTimeText, TextRoundTrips) {
  const std::vector<TDateTime> values = {
      At(D(2024, 3, 5), T(14, 7, 9)),
      D(2024, 2, 29),
      At(D(1899, 12, 30), T(0, 0, 1)),
      At(D(1850, 7, 4), T(23, 59, 59)),
      At(D(1, 1, 1), T(12, 0)),
      At(D(9999, 12, 31), T(11, 0)),
      D(100, 1, 1),
      -1.75,
  };
  for (TDateTime v : values) {
    std::string text = DateTimeToStr(v);
    SCOPED_TRACE(text);
    EXPECT_EQ(StrToDateTime(text), v);
    TTimeStamp stamp = DateTimeToTimeStamp(v);
    EXPECT_EQ(DateTimeToTimeStamp(StrToDate(DateToStr(v))).Date, stamp.Date);
    EXPECT_EQ(DateTimeToTimeStamp(StrToTime(TimeToStr(v))).Time, stamp.Time);
  }
}

}  // namespace
}  // namespace kavrin::runtime
