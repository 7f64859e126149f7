#include "hive/filetime.h"

#include <cstdio>

namespace cellbrook {
namespace {

constexpr uint64_t kTicksPerSecond = 10000000;
constexpr int64_t kDaysFrom1601To1970 = 134774;

// Days since 1970-01-01 of a proleptic Gregorian date.
constexpr int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// First tick of 10000-01-01: everything from here on is shown as hex.
constexpr uint64_t kFirstTickAfter9999 =
    static_cast<uint64_t>(DaysFromCivil(10000, 1, 1) + kDaysFrom1601To1970) * 86400 * kTicksPerSecond;

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

}  // namespace

std::string FormatFiletime(uint64_t ticks) {
  char text[40];
  if (ticks >= kFirstTickAfter9999) {
    std::snprintf(text, sizeof text, "0x%016llx", static_cast<unsigned long long>(ticks));
    return text;
  }
  const uint64_t seconds = ticks / kTicksPerSecond;
  const auto fraction = static_cast<unsigned>(ticks % kTicksPerSecond);
  const auto days = static_cast<int64_t>(seconds / 86400);
  const auto inDay = static_cast<unsigned>(seconds % 86400);
  int64_t y = 0;
  unsigned m = 0, d = 0;
  CivilFromDays(days - kDaysFrom1601To1970, y, m, d);
  std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02u:%02u:%02u.%07uZ", static_cast<long long>(y), m,
                d, inDay / 3600, inDay / 60 % 60, inDay % 60, fraction);
  return text;
}

}  // namespace cellbrook
