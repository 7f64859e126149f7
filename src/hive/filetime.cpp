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
  char text[40];
  if (date.year > 9999) {
    std::snprintf(text, sizeof text, "0x%016llx", static_cast<unsigned long long>(fileTime));
  } else {
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02u:%02u:%02u.%07lluZ",
                  static_cast<long long>(date.year), date.month, date.day,
                  static_cast<unsigned>(secondOfDay / 3600),
                  static_cast<unsigned>(secondOfDay / 60 % 60), static_cast<unsigned>(secondOfDay % 60),
                  static_cast<unsigned long long>(fraction));
  }
  return text;
}

}  // namespace cellbrook
