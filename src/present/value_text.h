// Type names and the one-line display text of a value's data.
#pragma once

#include <cstdint>

#include "hive/hive_reader.h"

namespace cellbrook {

const char* ValueTypeName(uint32_t type);

// Writes the value's display text, NUL-terminated, into buffer[0 .. 4095]
// (kValueTextUnits). Never fails and never writes past the buffer.
void FormatValueText(const ValueInfo& value, char16_t* buffer);

}  // namespace cellbrook
