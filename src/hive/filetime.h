// FILETIME (100 ns ticks since 1601-01-01 UTC) as text.
#pragma once

#include <cstdint>
#include <string>

namespace cellbrook {

// "2019-03-05T12:34:56.1234567Z"; a value past the year 9999 cannot be a
// calendar date, so it is shown as raw hex, "0x%016llx".
std::string FormatFiletime(uint64_t ticks);

}  // namespace cellbrook
