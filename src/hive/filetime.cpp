#include "hive/filetime.h"

#include <cstdio>

namespace cellbrook {
namespace {

constexpr uint64_t kTicksPerSecond = 10000000;
constexpr uint64_t kSecondsPerDay = 86400;
// Days from 1601-01-01 to 10000-01-01: the first tick no four-digit year holds.
constexpr uint64_t kDaysTo10000 = 3067671;

// Civil date of a day count from 0000-03-01 (proleptic Gregorian).
void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  const int64_t era = z / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
}

}  // namespace

size_t FormatFileTimeTo(uint64_t filetime, char (&text)[40]) {
  const uint64_t seconds = filetime / kTicksPerSecond;
  const uint64_t days = seconds / kSecondsPerDay;
  if (days >= kDaysTo10000) {
    return static_cast<size_t>(
        std::snprintf(text, sizeof text, "0x%016llx", static_cast<unsigned long long>(filetime)));
  }
  // 1601-01-01 is day 584694 counted from 0000-03-01.
  int64_t year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(static_cast<int64_t>(days) + 584694, year, month, day);
  const uint64_t inDay = seconds % kSecondsPerDay;
  // Digits by hand: the timeline and JSON write one a key.
  char* p = text;
  auto put = [&p](uint64_t value, int width) {
    for (int i = width - 1; i >= 0; --i) {
      p[i] = static_cast<char>('0' + value % 10);
      value /= 10;
    }
    p += width;
  };
  put(static_cast<uint64_t>(year), 4);
  *p++ = '-';
  put(month, 2);
  *p++ = '-';
  put(day, 2);
  *p++ = 'T';
  put(inDay / 3600, 2);
  *p++ = ':';
  put(inDay / 60 % 60, 2);
  *p++ = ':';
  put(inDay % 60, 2);
  *p++ = '.';
  put(filetime % kTicksPerSecond, 7);
  *p++ = 'Z';
  *p = '\0';
  return static_cast<size_t>(p - text);
}

std::string FormatFileTime(uint64_t filetime) {
  char text[40];
  return std::string(text, FormatFileTimeTo(filetime, text));
}

}  // namespace cellbrook
