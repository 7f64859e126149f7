// The bytes at an offset read as the data view's interpreter shows them:
// integers of each width, signed and unsigned, little and big endian;
// float and double; FILETIME, Unix time, DOS date and time, SYSTEMTIME;
// GUID, SID; UTF-16 and 8-bit text up to the next NUL. A reading that
// needs more bytes than there are shows as "—".
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace cellbrook {

constexpr const char* kNoReading = "\xE2\x80\x94";  // "—"
constexpr size_t kInterpretedTextUnits = 256;       // text readings stop here

struct Interpretation {
  std::string name;    // "int32", "FILETIME" …
  std::string little;  // little-endian reading (the only one for most kinds)
  std::string big;     // big-endian reading; empty where it means nothing
};

// The readings of `bytes` from `offset` on; with `length` > 0 only the
// `length` bytes from there count (a selection).
std::vector<Interpretation> InterpretBytes(std::span<const uint8_t> bytes, size_t offset, size_t length = 0);

}  // namespace cellbrook
