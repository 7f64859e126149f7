// A key's last written time (FILETIME: 100 ns ticks since 1601-01-01 UTC)
// as text.
#pragma once

#include <cstdint>
#include <string>

namespace cellbrook {

// ISO 8601 UTC with all seven fractional digits, e.g.
// "2019-03-05T12:34:56.1234567Z"; a time past the year 9999 is the raw
// value in hex, "0x%016llx".
std::string FormatFileTime(uint64_t fileTime);

}  // namespace cellbrook
