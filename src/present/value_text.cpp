#include "present/value_text.h"

#include <cstdio>
#include <string>

#include "hive/hex_text.h"

namespace cellbrook {
namespace {

constexpr uint32_t kHexDumpBytes = 50;
constexpr size_t kTextLimit = kValueTextUnits - 1;  // units before the NUL
constexpr size_t kCutAt = kTextLimit - 3;           // room left for "..."

void PutAscii(char16_t* buffer, size_t& at, const char* text) {
  while (*text != 0 && at < kTextLimit) buffer[at++] = static_cast<char16_t>(*text++);
  buffer[at] = 0;
}

void SetText(char16_t* buffer, const char* text) {
  size_t at = 0;
  PutAscii(buffer, at, text);
}

// Strings (types 1, 2, 6, 7): the units up to the first NUL, with `suffix`
// after; a text too long for the buffer is cut and ends in "...".
void FormatString(const ValueInfo& value, char16_t* buffer, const char* suffix) {
  if (!value.Data.Readable()) return SetText(buffer, "(error)");
  // One unit more than fits tells whether the text has to be cut.
  uint8_t bytes[2 * (kTextLimit + 1)];
  const uint32_t copied = value.Data.CopyPrefix(bytes, sizeof bytes);
  size_t units = 0;
  const size_t available = copied / 2;
  while (units < available && (bytes[2 * units] | bytes[2 * units + 1]) != 0) ++units;
  const size_t suffixLength = std::char_traits<char>::length(suffix);
  const bool cut = units + suffixLength > kTextLimit;
  const size_t keep = cut ? kCutAt : units;
  for (size_t i = 0; i < keep; ++i) {
    buffer[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  size_t at = keep;
  if (cut && at > 0 && buffer[at - 1] >= 0xD800 && buffer[at - 1] <= 0xDBFF) --at;
  buffer[at] = 0;
  PutAscii(buffer, at, cut ? "..." : suffix);
}

void FormatNumber(const ValueInfo& value, char16_t* buffer, uint32_t width, bool bigEndian) {
  if (value.DataLength < width) return SetText(buffer, "(not set)");
  uint8_t b[8];
  if (!value.Data.Readable()) return SetText(buffer, "(error)");
  value.Data.CopyPrefix(b, width);
  char text[40];
  if (width == 8) {
    const uint32_t low = ImageView::Le32(b), high = ImageView::Le32(b + 4);
    std::snprintf(text, sizeof text, "0x%08X%08X", high, low);
  } else {
    const uint32_t n =
        bigEndian ? (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3] : ImageView::Le32(b);
    std::snprintf(text, sizeof text, "0x%08X (%d)", n, static_cast<int32_t>(n));
  }
  SetText(buffer, text);
}

void FormatHexDump(const ValueInfo& value, char16_t* buffer) {
  if (!value.Data.Readable()) return SetText(buffer, "(error)");
  uint8_t b[kHexDumpBytes];
  const uint32_t copied = value.Data.CopyPrefix(b, kHexDumpBytes);
  size_t at = 0;
  for (uint32_t i = 0; i < copied; ++i) {
    PutHexByte(buffer + at, b[i], HexCase::Upper);
    at += 2;
    buffer[at++] = u' ';
  }
  buffer[at] = 0;
  if (value.DataLength > kHexDumpBytes) PutAscii(buffer, at, "...");
}

}  // namespace

const char* ValueTypeName(uint32_t type) {
  static const char* const kNames[] = {"REG_NONE",
                                       "REG_SZ",
                                       "REG_EXPAND_SZ",
                                       "REG_BINARY",
                                       "REG_DWORD",
                                       "REG_DWORD_BIG_ENDIAN",
                                       "REG_LINK",
                                       "REG_MULTI_SZ",
                                       "REG_RESOURCE_LIST",
                                       "REG_FULL_RESOURCE_DESCRIPTOR",
                                       "REG_RESOURCE_REQUIREMENTS_LIST",
                                       "REG_QWORD"};
  return type < 12 ? kNames[type] : "REG_UNKNOWN";
}

void FormatValueText(const ValueInfo& value, char16_t* buffer) {
  switch (value.Type) {
    case 1:
    case 2:
    case 6:
      return FormatString(value, buffer, "");
    case 7:
      return FormatString(value, buffer, ",...");
    case 4:
      return FormatNumber(value, buffer, 4, false);
    case 5:
      return FormatNumber(value, buffer, 4, true);
    case 11:
      return FormatNumber(value, buffer, 8, false);
    default:
      return FormatHexDump(value, buffer);
  }
}

}  // namespace cellbrook
