#include "hive/filetime.h"

#include <cstdio>

namespace cellbrook {
namespace {

constexpr uint64_t kTicksPerSecond = 10000000;
constexpr uint64_t kSecondsPerDay = 86400;
// Days from 0000-03-01 to 1601-01-01 in the proleptic Gregorian calendar.
constexpr int64_t kDaysTo1601 = 584694;

struct CivilDate {
  int64_t year;
  unsigned month, day;
};

// Days since 0000-03-01 to a calendar date (the 400-year era method).
CivilDate DateOfDay(int64_t days) {
  const int64_t era = days / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t mp = (5 * dayOfYear + 2) / 153;
  const auto day = static_cast<unsigned>(dayOfYear - (153 * mp + 2) / 5 + 1);
  const auto month = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
  return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

}  // namespace

std::string FormatFileTime(uint64_t fileTime) {
  const uint64_t seconds = fileTime / kTicksPerSecond;
  const uint64_t fraction = fileTime % kTicksPerSecond;
  const uint64_t secondOfDay = seconds % kSecondsPerDay;
  const CivilDate date = DateOfDay(static_cast<int64_t>(seconds / kSecondsPerDay) + kDaysTo1601);
  if (date.year > 9999) {
    char hex[24];
    std::snprintf(hex, sizeof hex, "0x%016llx", static_cast<unsigned long long>(fileTime));
    return hex;
  }
  // Digits by hand: timelines format every key.
  char text[] = "YYYY-MM-DDThh:mm:ss.fffffffZ";
  auto put = [&text](size_t at, uint64_t number, size_t digits) {
    for (size_t i = digits; i > 0; --i, number /= 10) text[at + i - 1] = static_cast<char>('0' + number % 10);
  };
  put(0, static_cast<uint64_t>(date.year), 4);
  put(5, date.month, 2);
  put(8, date.day, 2);
  put(11, secondOfDay / 3600, 2);
  put(14, secondOfDay / 60 % 60, 2);
  put(17, secondOfDay % 60, 2);
  put(20, fraction, 7);
  return text;
}

}  // namespace cellbrook
