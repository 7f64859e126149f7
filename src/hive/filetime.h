// FILETIME (100 ns ticks since 1601-01-01 UTC) as text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace cellbrook {

// "2019-03-05T12:34:56.1234567Z" (the exact tick count), or "0x%016llx" when
// the time lies outside the years 1601..9999.
std::string FormatFileTime(uint64_t filetime);
// The same into `text` (NUL-terminated), without an allocation; its length.
size_t FormatFileTimeTo(uint64_t filetime, char (&text)[40]);

}  // namespace cellbrook
