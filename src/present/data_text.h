// A value's whole data as the data view, the search and the JSON output
// see it: the bytes, a hex dump, and the strings of text types.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hive/hive_reader.h"

namespace cellbrook {

// The data bytes in one piece; empty when there are none or they cannot be
// read (ValueData::Readable tells which).
std::vector<uint8_t> DataBytes(const ValueData& data);

// The bytes as UTF-16LE units; an odd last byte is dropped.
std::u16string DataUnits(std::span<const uint8_t> bytes);

// REG_SZ, REG_EXPAND_SZ, REG_LINK and REG_MULTI_SZ: shown as decoded text.
bool ShowsAsText(uint32_t type);

// The strings in `units`: for REG_MULTI_SZ each string up to the empty one
// that ends the list, for other types the one string up to the first NUL.
std::vector<std::u16string_view> TextStrings(std::u16string_view units, uint32_t type);

// The decoded text of a text type, UTF-8, REG_MULTI_SZ strings one a line;
// empty for other types.
std::string DecodedText(const ValueInfo& value);

// One line a 16 bytes: 8-digit hex offset, the bytes in hex, then the same
// bytes as Latin-1 with those that do not print shown as '.':
//   "00000010  41 42 ...  AB.."
// UTF-8, every line ended by '\n'.
std::string HexDump(std::span<const uint8_t> bytes);
// Where the dump shows byte `offset`: its line and the column of its first
// hex digit (columns count characters; each shown byte is one).
struct DumpPlace {
  size_t line = 0, column = 0;
};
DumpPlace HexDumpPlace(size_t offset);
// The byte a line and column of the dump show (a hex digit, the space
// after it, or its character); the nearest byte of the line between them.
size_t HexDumpByteAt(size_t line, size_t column);

}  // namespace cellbrook
