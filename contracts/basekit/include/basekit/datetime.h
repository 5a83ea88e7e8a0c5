// Points in time.
#pragma once

#include <cstdint>
#include <string>

#include "basekit/export.h"

namespace Basekit {
namespace System {

// An instant plus the UTC offset it was written with. Two date-times are equal
// when they denote the same instant, whatever their offsets.
//
// Every entry point accepts one range: instants from -200000-01-01T00:00:00Z
// to 200000-12-31T23:59:59.999999Z (kMinUtcMicros..kMaxUtcMicros) and
// offsets of at most 23:59 either way (kMaxOffsetMinutes). The constructor
// and FromCivil throw std::out_of_range outside it; Parse answers false.
class BASEKIT_API DateTime {
 public:
  static constexpr std::int64_t kMinUtcMicros = -6373557619200000000LL;
  static constexpr std::int64_t kMaxUtcMicros = 6249254803199999999LL;
  static constexpr int kMaxOffsetMinutes = 23 * 60 + 59;

  // The epoch, 1970-01-01T00:00:00Z.
  DateTime() noexcept : utcMicros_(0), offsetMinutes_(0) {}
  // Throws std::out_of_range outside the range above.
  explicit DateTime(std::int64_t utcMicros, int offsetMinutes = 0);

  // A local civil time at the given offset from UTC (minutes east). Fields
  // past their range carry into the next larger one (month 13 is January of
  // the next year); a result outside the range above throws
  // std::out_of_range.
  static DateTime FromCivil(int year, int month, int day, int hour = 0, int minute = 0,
                            int second = 0, int micros = 0, int offsetMinutes = 0);
  static DateTime Now();
  // ISO 8601, such as "2026-12-05T18:07:26.5+01:00" or "...Z". Returns false
  // and leaves out unchanged on malformed text or a date-time outside the
  // range above.
  static bool Parse(const std::string& text, DateTime& out);

  // Microseconds since the epoch, UTC.
  std::int64_t GetUtcTime() const noexcept { return utcMicros_; }
  int GetOffsetMinutes() const noexcept { return offsetMinutes_; }
  // ISO 8601 in the date-time's own offset.
  std::string ToString() const;

  friend bool operator==(const DateTime& a, const DateTime& b) noexcept {
    return a.GetUtcTime() == b.GetUtcTime();
  }
  friend bool operator!=(const DateTime& a, const DateTime& b) noexcept { return !(a == b); }
  friend bool operator<(const DateTime& a, const DateTime& b) noexcept {
    return a.GetUtcTime() < b.GetUtcTime();
  }

 private:
  std::int64_t utcMicros_;
  int offsetMinutes_;
};

}  // namespace System
}  // namespace Basekit
