#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <thread>

#include "basekit/datetime.h"
#include "basekit/ref.h"
#include "basekit/scheduled_item.h"

using Basekit::System::DateTime;
using namespace std::chrono_literals;

TEST(DateTime, CivilTimesAtDifferentOffsetsDenoteOneInstant) {
  const DateTime utc = DateTime::FromCivil(2026, 12, 5, 9);
  EXPECT_EQ(utc.GetUtcTime(), 1796461200 * 1000000LL);
  EXPECT_EQ(DateTime::FromCivil(2026, 12, 5, 10, 0, 0, 0, 60), utc);
  EXPECT_EQ(DateTime::FromCivil(2026, 12, 5, 4, 0, 0, 0, -300), utc);
  EXPECT_NE(DateTime::FromCivil(2026, 12, 5, 10), utc);
  EXPECT_NEAR(DateTime::Now().GetUtcTime() / 1000000, std::time(nullptr), 2);
}

// The C library is the reference for 1600..2400: dates before 1970, century
// years and every Feb 29 that exists in the sampled years.
TEST(DateTime, CalendarMatchesTimegmAcrossCenturies) {
  for (int year = 1600; year <= 2400; year += 7) {
    for (int month = 1; month <= 12; ++month) {
      const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
      std::tm tm{};
      tm.tm_year = year - 1900, tm.tm_mon = month - 1, tm.tm_hour = 13;
      tm.tm_mday = month == 2 ? 28 + leap : 30;
      const DateTime dt = DateTime::FromCivil(year, month, tm.tm_mday, 13);
      ASSERT_EQ(dt.GetUtcTime(), timegm(&tm) * 1000000LL) << year << "-" << month;
      char text[32];
      std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
      ASSERT_EQ(dt.ToString(), text);
    }
  }
}

TEST(DateTime, ToStringAndParseRoundTrip) {
  const std::pair<DateTime, const char*> cases[] = {
      {DateTime::FromCivil(2026, 12, 5, 18, 7, 26, 500000, 60), "2026-12-05T18:07:26.5+01:00"},
      {DateTime::FromCivil(2026, 1, 2, 3, 4, 5, 123, -330), "2026-01-02T03:04:05.000123-05:30"},
      {DateTime(-1), "1969-12-31T23:59:59.999999Z"},
      {DateTime::FromCivil(2000, 2, 29, 23, 59, 59), "2000-02-29T23:59:59Z"},
      // 0001-01-01 is 719162 days before the epoch; the year before is a leap year
      {DateTime((-719162LL - 307) * 86400 * 1000000), "0000-02-29T00:00:00Z"},
      {DateTime((-719162LL - 367) * 86400 * 1000000), "-0001-12-31T00:00:00Z"},
  };
  DateTime parsed;
  for (const auto& c : cases) {
    EXPECT_EQ(c.first.ToString(), c.second);
    ASSERT_TRUE(DateTime::Parse(c.second, parsed)) << c.second;
    EXPECT_EQ(parsed, c.first) << c.second;
    EXPECT_EQ(parsed.GetOffsetMinutes(), c.first.GetOffsetMinutes()) << c.second;
  }
  ASSERT_TRUE(DateTime::Parse("1970-01-01T00:00:01.123456789", parsed));  // no zone is UTC
  EXPECT_EQ(parsed.GetUtcTime(), 1123456);
}

TEST(DateTime, ParseRejectsMalformedTextAndLeavesTheOutputAlone) {
  for (const char* bad :
       {"", "2026-12-05", "2026-13-01T00:00:00Z", "2026-04-31T00:00:00Z", "2023-02-29T00:00:00Z",
        "1900-02-29T00:00:00Z", "2026-12-05T24:00:00Z", "2026-12-05T18:60:00Z",
        "2026-12-05T18:07:60Z", "2026-12-05 18:07:26Z", "2026-12-05T18:07:26.Z",
        "2026-12-05T18:07:26.1234567890Z", "2026-12-05T18:07:26Zjunk", "2026-12-05T18:07:26+0100",
        "2026-12-05T18:07:26+24:00", "2026-1-05T18:07:26Z"}) {
    DateTime out(42, 7);
    EXPECT_FALSE(DateTime::Parse(bad, out)) << bad;
    EXPECT_TRUE(out.GetUtcTime() == 42 && out.GetOffsetMinutes() == 7) << bad;
  }
}

TEST(ScheduledItem, WaitersWakeWhenAnotherThreadMarksItDone) {
  Basekit::Ref<Basekit::System::ScheduledItem> item(new Basekit::System::ScheduledItem);
  EXPECT_FALSE(item->WaitFor(20ms));
  // Detached waiters own what they touch, so a lost wake-up fails the test
  // instead of hanging it.
  auto woke = std::make_shared<std::atomic<int>>(0);
  for (int i = 0; i < 3; ++i) std::thread([item, woke] { item->Wait(), ++*woke; }).detach();
  std::thread worker([item] { std::this_thread::sleep_for(30ms), item->MarkDone(); });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(item->WaitFor(10s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_TRUE(item->IsDone());
  worker.join();
  for (int i = 0; i < 5000 && *woke < 3; ++i) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(*woke, 3);
}

// One range for every entry point: years -200000..200000, offsets up to
// 23:59 either way. Outside it the constructor and FromCivil throw, Parse
// answers false; nothing overflows on the way (the UBSan runs check that).
TEST(DateTime, EveryEntryPointKeepsToOneRange) {
  const DateTime first(DateTime::kMinUtcMicros);
  const DateTime last(DateTime::kMaxUtcMicros, DateTime::kMaxOffsetMinutes);
  EXPECT_EQ(first.ToString(), "-200000-01-01T00:00:00Z");
  EXPECT_EQ(DateTime(DateTime::kMaxUtcMicros).ToString(), "200000-12-31T23:59:59.999999Z");
  EXPECT_EQ(DateTime::FromCivil(-200000, 1, 1), first);
  EXPECT_EQ(DateTime::FromCivil(200000, 12, 31, 23, 59, 59, 999999), DateTime(DateTime::kMaxUtcMicros));
  DateTime parsed;
  ASSERT_TRUE(DateTime::Parse("200000-12-31T23:59:59.999999Z", parsed));
  EXPECT_EQ(parsed, last);
  ASSERT_TRUE(DateTime::Parse(first.ToString(), parsed));
  EXPECT_EQ(parsed, first);
  // The local time of the last instant at +23:59 lies in year 200001: it is
  // still written plainly.
  EXPECT_EQ(last.ToString(), "200001-01-01T23:58:59.999999+23:59");

  EXPECT_THROW(DateTime(INT64_MAX, 60), std::out_of_range);
  EXPECT_THROW(DateTime(INT64_MIN), std::out_of_range);
  EXPECT_THROW(DateTime(DateTime::kMaxUtcMicros + 1), std::out_of_range);
  EXPECT_THROW(DateTime(DateTime::kMinUtcMicros - 1), std::out_of_range);
  EXPECT_THROW(DateTime(0, INT_MIN), std::out_of_range);
  EXPECT_THROW(DateTime(0, 24 * 60), std::out_of_range);
  EXPECT_THROW(DateTime::FromCivil(300000, 1, 1), std::out_of_range);
  EXPECT_THROW(DateTime::FromCivil(-200001, 12, 31), std::out_of_range);
  EXPECT_THROW(DateTime::FromCivil(2026, 1, 1, 0, 0, 0, 0, -1440), std::out_of_range);
  EXPECT_THROW(DateTime::FromCivil(INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX),
               std::out_of_range);
  EXPECT_THROW(DateTime::FromCivil(INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN),
               std::out_of_range);
  EXPECT_THROW(DateTime::FromCivil(0, 0, INT_MAX), std::out_of_range);
  // Carries that stay inside the range are still fine.
  EXPECT_EQ(DateTime::FromCivil(2026, 13, 1), DateTime::FromCivil(2027, 1, 1));
  EXPECT_EQ(DateTime::FromCivil(2026, 1, 1, 0, 0, 0, -1), DateTime::FromCivil(2025, 12, 31, 23, 59, 59, 999999));

  // Years past the range in text, and an instant pushed out by its offset.
  DateTime out(42, 7);
  EXPECT_FALSE(DateTime::Parse("200001-01-01T00:00:00Z", out));
  EXPECT_FALSE(DateTime::Parse("200000-12-31T23:59:59-00:01", out));
  EXPECT_FALSE(DateTime::Parse("-200000-01-01T00:00:00+00:01", out));
  EXPECT_TRUE(out.GetUtcTime() == 42 && out.GetOffsetMinutes() == 7);
}
