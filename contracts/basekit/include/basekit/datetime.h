// Points in time.
#pragma once

#include <cstdint>
#include <string>

#include "basekit/export.h"

namespace Basekit {
namespace System {

// An instant plus the UTC offset it was written with. Two date-times are equal
// when they denote the same instant, whatever their offsets.
class BASEKIT_API DateTime {
 public:
  // The epoch, 1970-01-01T00:00:00Z.
  DateTime() noexcept : utcMicros_(0), offsetMinutes_(0) {}
  explicit DateTime(std::int64_t utcMicros, int offsetMinutes = 0) noexcept
      : utcMicros_(utcMicros), offsetMinutes_(offsetMinutes) {}

  // A local civil time at the given offset from UTC (minutes east).
  static DateTime FromCivil(int year, int month, int day, int hour = 0, int minute = 0,
                            int second = 0, int micros = 0, int offsetMinutes = 0);
  static DateTime Now();
  // ISO 8601, such as "2026-12-05T18:07:26.5+01:00" or "...Z". Returns false
  // and leaves out unchanged on malformed text.
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
