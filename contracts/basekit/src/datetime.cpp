// Date-times: civil calendar arithmetic and the ISO 8601 text form.

#include "basekit/datetime.h"

#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace Basekit {
namespace System {
namespace {

constexpr std::int64_t kMicrosPerSecond = 1000000;
constexpr std::int64_t kMicrosPerMinute = 60 * kMicrosPerSecond;
constexpr std::int64_t kMicrosPerDay = 86400 * kMicrosPerSecond;
// Years beyond this cannot be written: their instants do not fit the
// microsecond count comfortably. DateTime::kMinUtcMicros and kMaxUtcMicros
// are the first and last instants of years -kMaxYear and kMaxYear (checked
// below).
constexpr std::int64_t kMaxYear = 200000;

bool InRange(std::int64_t utcMicros, std::int64_t offsetMinutes) {
  return utcMicros >= DateTime::kMinUtcMicros && utcMicros <= DateTime::kMaxUtcMicros &&
         offsetMinutes >= -DateTime::kMaxOffsetMinutes &&
         offsetMinutes <= DateTime::kMaxOffsetMinutes;
}

[[noreturn]] void ThrowOutOfRange(const char* what) {
  throw std::out_of_range(std::string("DateTime: ") + what +
                          " is outside years -200000..200000 or offsets -23:59..+23:59");
}

constexpr std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar. The
// year is counted from March so that the leap day falls at its end; eras of
// 400 years repeat exactly. Days past the end of the month carry on into the
// following ones.
constexpr std::int64_t DaysFromCivil(std::int64_t year, std::int64_t month, std::int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = FloorDiv(year, 400);
  const std::int64_t yearOfEra = year - era * 400;                        // [0, 399]
  const std::int64_t shiftedMonth = month > 2 ? month - 3 : month + 9;    // March = 0
  const std::int64_t dayOfYear = (153 * shiftedMonth + 2) / 5 + day - 1;  // from March 1
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;  // 719468: days from 0000-03-01 to 1970-01-01
}

struct Civil {
  std::int64_t year;
  int month;
  int day;
};

Civil CivilFromDays(std::int64_t days) {
  days += 719468;
  const std::int64_t era = FloorDiv(days, 146097);
  const std::int64_t dayOfEra = days - era * 146097;  // [0, 146096]
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;  // [0, 399]
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;  // March = 0
  Civil c;
  c.day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  c.month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  c.year = yearOfEra + era * 400 + (c.month <= 2 ? 1 : 0);
  return c;
}

bool IsLeapYear(std::int64_t year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(std::int64_t year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// A cursor over the text being parsed. Every reader returns false without
// consuming anything useful when the expected characters are not there.
class Reader {
 public:
  explicit Reader(const std::string& text) : text_(text) {}

  bool AtEnd() const { return pos_ == text_.size(); }
  bool Peek(char c) const { return pos_ < text_.size() && text_[pos_] == c; }
  bool Take(char c) {
    if (!Peek(c)) return false;
    ++pos_;
    return true;
  }
  // Between minDigits and maxDigits decimal digits, as many as present.
  bool Number(int minDigits, int maxDigits, std::int64_t& value, int* digitsRead = nullptr) {
    std::int64_t v = 0;
    int n = 0;
    while (n < maxDigits && pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
      v = v * 10 + (text_[pos_] - '0');
      ++pos_;
      ++n;
    }
    if (n < minDigits) return false;
    value = v;
    if (digitsRead != nullptr) *digitsRead = n;
    return true;
  }

 private:
  const std::string& text_;
  std::size_t pos_ = 0;
};

void AppendTwoDigits(std::string& out, int value) {
  out += static_cast<char>('0' + value / 10);
  out += static_cast<char>('0' + value % 10);
}

static_assert(DaysFromCivil(-kMaxYear, 1, 1) * kMicrosPerDay == DateTime::kMinUtcMicros,
              "the first instant of the range");
static_assert(DaysFromCivil(kMaxYear + 1, 1, 1) * kMicrosPerDay - 1 == DateTime::kMaxUtcMicros,
              "the last instant of the range");

}  // namespace

DateTime::DateTime(std::int64_t utcMicros, int offsetMinutes)
    : utcMicros_(utcMicros), offsetMinutes_(offsetMinutes) {
  if (!InRange(utcMicros, offsetMinutes)) ThrowOutOfRange("the date-time");
}

DateTime DateTime::FromCivil(int year, int month, int day, int hour, int minute, int second,
                             int micros, int offsetMinutes) {
  // Months outside 1..12 carry into the year, like the other fields carry
  // into the next larger one.
  std::int64_t y = year;
  std::int64_t monthIndex = static_cast<std::int64_t>(month) - 1;
  y += FloorDiv(monthIndex, 12);
  monthIndex -= FloorDiv(monthIndex, 12) * 12;

  // Every product and sum is checked: the fields are arbitrary ints.
  if (offsetMinutes < -kMaxOffsetMinutes || offsetMinutes > kMaxOffsetMinutes) {
    ThrowOutOfRange("the offset");
  }
  const std::int64_t days = DaysFromCivil(y, monthIndex + 1, day);
  const std::int64_t seconds =
      static_cast<std::int64_t>(hour) * 3600 + static_cast<std::int64_t>(minute) * 60 + second;
  std::int64_t dayMicros = 0, secondMicros = 0, local = 0, utc = 0;
  if (__builtin_mul_overflow(days, kMicrosPerDay, &dayMicros) ||
      __builtin_mul_overflow(seconds, kMicrosPerSecond, &secondMicros) ||
      __builtin_add_overflow(dayMicros, secondMicros, &local) ||
      __builtin_add_overflow(local, static_cast<std::int64_t>(micros), &local) ||
      __builtin_sub_overflow(local, static_cast<std::int64_t>(offsetMinutes) * kMicrosPerMinute,
                             &utc) ||
      !InRange(utc, offsetMinutes)) {
    ThrowOutOfRange("the civil date-time");
  }
  return DateTime(utc, offsetMinutes);
}

DateTime DateTime::Now() {
  const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  return DateTime(std::chrono::duration_cast<std::chrono::microseconds>(sinceEpoch).count());
}

std::string DateTime::ToString() const {
  const std::int64_t local =
      utcMicros_ + static_cast<std::int64_t>(offsetMinutes_) * kMicrosPerMinute;
  const std::int64_t days = FloorDiv(local, kMicrosPerDay);
  std::int64_t ofDay = local - days * kMicrosPerDay;
  const Civil date = CivilFromDays(days);

  std::string out;
  char buffer[32];
  if (date.year < 0) {
    std::snprintf(buffer, sizeof buffer, "-%04lld", static_cast<long long>(-date.year));
  } else {
    std::snprintf(buffer, sizeof buffer, "%04lld", static_cast<long long>(date.year));
  }
  out += buffer;
  out += '-';
  AppendTwoDigits(out, date.month);
  out += '-';
  AppendTwoDigits(out, date.day);
  out += 'T';
  const int micros = static_cast<int>(ofDay % kMicrosPerSecond);
  ofDay /= kMicrosPerSecond;
  AppendTwoDigits(out, static_cast<int>(ofDay / 3600));
  out += ':';
  AppendTwoDigits(out, static_cast<int>(ofDay / 60 % 60));
  out += ':';
  AppendTwoDigits(out, static_cast<int>(ofDay % 60));
  if (micros != 0) {
    std::snprintf(buffer, sizeof buffer, ".%06d", micros);
    std::string fraction(buffer);
    fraction.erase(fraction.find_last_not_of('0') + 1);
    out += fraction;
  }
  if (offsetMinutes_ == 0) {
    out += 'Z';
  } else {
    const int magnitude = offsetMinutes_ < 0 ? -offsetMinutes_ : offsetMinutes_;
    out += offsetMinutes_ < 0 ? '-' : '+';
    AppendTwoDigits(out, magnitude / 60 % 100);
    out += ':';
    AppendTwoDigits(out, magnitude % 60);
  }
  return out;
}

bool DateTime::Parse(const std::string& text, DateTime& out) {
  Reader in(text);
  const bool negativeYear = in.Take('-');
  std::int64_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!in.Number(4, 6, year) || year > kMaxYear) return false;
  if (negativeYear) year = -year;
  if (!in.Take('-') || !in.Number(2, 2, month) || month < 1 || month > 12) return false;
  if (!in.Take('-') || !in.Number(2, 2, day) || day < 1 ||
      day > DaysInMonth(year, static_cast<int>(month))) {
    return false;
  }
  if (!in.Take('T') || !in.Number(2, 2, hour) || hour > 23) return false;
  if (!in.Take(':') || !in.Number(2, 2, minute) || minute > 59) return false;
  if (!in.Take(':') || !in.Number(2, 2, second) || second > 59) return false;

  std::int64_t micros = 0;
  if (in.Take('.')) {
    std::int64_t fraction = 0;
    int digits = 0;
    if (!in.Number(1, 9, fraction, &digits)) return false;
    // Scale to microseconds; digits past the sixth are dropped.
    for (int i = digits; i < 6; ++i) fraction *= 10;
    for (int i = 6; i < digits; ++i) fraction /= 10;
    micros = fraction;
  }

  int offsetMinutes = 0;
  if (in.Take('Z')) {
    offsetMinutes = 0;
  } else if (in.Peek('+') || in.Peek('-')) {
    const bool negative = in.Take('-');
    if (!negative) in.Take('+');
    std::int64_t offsetHours = 0, offsetMins = 0;
    if (!in.Number(2, 2, offsetHours) || offsetHours > 23) return false;
    if (!in.Take(':') || !in.Number(2, 2, offsetMins) || offsetMins > 59) return false;
    offsetMinutes = static_cast<int>(offsetHours * 60 + offsetMins);
    if (negative) offsetMinutes = -offsetMinutes;
  }
  if (!in.AtEnd()) return false;

  // The year is at most six digits, so nothing here overflows; the instant
  // may still fall just outside the range through the offset.
  const std::int64_t local = DaysFromCivil(year, month, day) * kMicrosPerDay +
                             (hour * 3600 + minute * 60 + second) * kMicrosPerSecond + micros;
  const std::int64_t utc = local - static_cast<std::int64_t>(offsetMinutes) * kMicrosPerMinute;
  if (!InRange(utc, offsetMinutes)) return false;
  out = DateTime(utc, offsetMinutes);
  return true;
}

}  // namespace System
}  // namespace Basekit
