#include <chrono>
#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "basekit/datetime.h"

using Basekit::System::DateTime;

namespace {
constexpr std::int64_t kSecond = 1000000;
}

TEST(DateTime, CivilTimesAtDifferentOffsetsDenoteOneInstant) {
  const DateTime paris = DateTime::FromCivil(2026, 12, 5, 10, 0, 0, 0, 60);
  const DateTime utc = DateTime::FromCivil(2026, 12, 5, 9, 0, 0, 0, 0);
  const DateTime newYork = DateTime::FromCivil(2026, 12, 5, 4, 0, 0, 0, -300);
  EXPECT_EQ(paris, utc);
  EXPECT_EQ(newYork, utc);
  EXPECT_EQ(paris.GetOffsetMinutes(), 60);
  EXPECT_EQ(utc.GetUtcTime(), 1796461200 * kSecond);
  EXPECT_NE(paris, DateTime::FromCivil(2026, 12, 5, 10, 0, 0, 0, 0));
}

// Checks the calendar arithmetic against the C library over 1600..2400, with
// pre-1970 dates, century years and leap days included.
TEST(DateTime, CalendarMatchesTimegmAcrossCenturies) {
  for (int year = 1600; year <= 2400; year += 7) {
    for (int month = 1; month <= 12; ++month) {
      const int day = month == 2 ? (year % 4 == 0 && (year % 100 != 0 || year % 400 == 0) ? 29 : 28) : 30 - (month == 4);
      std::tm tm{};
      tm.tm_year = year - 1900;
      tm.tm_mon = month - 1;
      tm.tm_mday = day;
      tm.tm_hour = 13;
      const std::int64_t expected = static_cast<std::int64_t>(timegm(&tm)) * kSecond;
      const DateTime dt = DateTime::FromCivil(year, month, day, 13);
      ASSERT_EQ(dt.GetUtcTime(), expected) << year << "-" << month << "-" << day;
      char text[32];
      std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
      ASSERT_EQ(dt.ToString(), text);
    }
  }
  EXPECT_EQ(DateTime::FromCivil(2024, 2, 29, 24).ToString(), "2024-03-01T00:00:00Z");
  EXPECT_EQ(DateTime::FromCivil(2025, 13, 1), DateTime::FromCivil(2026, 1, 1));
}

TEST(DateTime, ToStringAndParseRoundTrip) {
  const struct {
    DateTime value;
    const char* text;
  } cases[] = {
      {DateTime::FromCivil(2026, 12, 5, 18, 7, 26, 500000, 60), "2026-12-05T18:07:26.5+01:00"},
      {DateTime::FromCivil(2026, 1, 2, 3, 4, 5, 123, -330), "2026-01-02T03:04:05.000123-05:30"},
      {DateTime(-1), "1969-12-31T23:59:59.999999Z"},
      {DateTime::FromCivil(1601, 1, 1), "1601-01-01T00:00:00Z"},
      {DateTime::FromCivil(2000, 2, 29, 23, 59, 59), "2000-02-29T23:59:59Z"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.value.ToString(), c.text);
    DateTime parsed;
    ASSERT_TRUE(DateTime::Parse(c.text, parsed)) << c.text;
    EXPECT_EQ(parsed, c.value) << c.text;
    EXPECT_EQ(parsed.GetOffsetMinutes(), c.value.GetOffsetMinutes()) << c.text;
  }
  DateTime parsed;
  ASSERT_TRUE(DateTime::Parse("1970-01-01T00:00:01.123456789", parsed));  // no zone is UTC
  EXPECT_EQ(parsed.GetUtcTime(), 1123456);
  ASSERT_TRUE(DateTime::Parse("1970-01-01T00:00:00.1-00:00", parsed));
  EXPECT_EQ(parsed.GetUtcTime(), 100000);
}

TEST(DateTime, ParseRejectsMalformedTextAndLeavesTheOutputAlone) {
  for (const char* bad :
       {"", "2026-12-05", "2026-12-05T18:07", "2026-13-01T00:00:00Z", "2026-00-01T00:00:00Z",
        "2026-04-31T00:00:00Z", "2023-02-29T00:00:00Z", "1900-02-29T00:00:00Z",
        "2026-12-05T24:00:00Z", "2026-12-05T18:60:00Z", "2026-12-05T18:07:60Z",
        "2026-12-05 18:07:26Z", "2026-12-05T18:07:26.Z", "2026-12-05T18:07:26.1234567890Z",
        "2026-12-05T18:07:26Zjunk", "2026-12-05T18:07:26+0100", "2026-12-05T18:07:26+01",
        "2026-12-05T18:07:26+01:60", "26-12-05T18:07:26Z", "2026-1-05T18:07:26Z",
        " 2026-12-05T18:07:26Z", "2026-12-05T18:07:26Z "}) {
    DateTime out(42, 7);
    EXPECT_FALSE(DateTime::Parse(bad, out)) << bad;
    EXPECT_EQ(out.GetUtcTime(), 42) << bad;
    EXPECT_EQ(out.GetOffsetMinutes(), 7) << bad;
  }
}

TEST(DateTime, NowIsInMicroseconds) {
  const std::int64_t before = static_cast<std::int64_t>(std::time(nullptr));
  const std::int64_t now = DateTime::Now().GetUtcTime();
  EXPECT_GE(now / kSecond, before);
  EXPECT_LE(now / kSecond, before + 2);
}
