#include "present/data_text.h"

#include <algorithm>
#include <cstdio>

#include "hive/hex_text.h"
#include "hive/text_codec.h"

namespace cellbrook {

std::vector<uint8_t> DataBytes(const ValueData& data) {
  std::vector<uint8_t> bytes;
  if (data.state != ReadState::Ok) return bytes;
  bytes.reserve(data.length);
  data.ForEachPiece([&](std::span<const uint8_t> piece) { bytes.insert(bytes.end(), piece.begin(), piece.end()); });
  return bytes;
}

std::u16string DataUnits(std::span<const uint8_t> bytes) {
  std::u16string units(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return units;
}

bool ShowsAsText(uint32_t type) {
  return type == RegSz || type == RegExpandSz || type == RegLink || type == RegMultiSz;
}

std::vector<std::u16string_view> TextStrings(std::u16string_view units, uint32_t type) {
  std::vector<std::u16string_view> strings;
  size_t at = 0;
  do {
    const size_t end = std::min(units.find(u'\0', at), units.size());
    if (end == at && type == RegMultiSz) break;  // the empty string ends the list
    strings.push_back(units.substr(at, end - at));
    at = end + 1;
  } while (type == RegMultiSz && at < units.size());
  return strings;
}

std::string DecodedText(const ValueInfo& value) {
  if (!ShowsAsText(value.Type)) return {};
  const std::u16string units = DataUnits(DataBytes(value.Data));
  const std::vector<std::u16string_view> strings = TextStrings(units, value.Type);
  std::string text;
  for (size_t i = 0; i < strings.size(); ++i) {
    if (i > 0) text += '\n';
    text += Utf16ToUtf8String(strings[i]);
  }
  return text;
}

std::string HexDump(std::span<const uint8_t> bytes) {
  constexpr size_t kRow = 16;
  std::string out;
  out.reserve((bytes.size() / kRow + 1) * 84);
  for (size_t row = 0; row < bytes.size(); row += kRow) {
    char offset[24];
    std::snprintf(offset, sizeof offset, "%08zx  ", row);
    out += offset;
    const size_t n = std::min(kRow, bytes.size() - row);
    for (size_t i = 0; i < kRow; ++i) {
      if (i < n) {
        AppendHexByte(out, bytes[row + i]);
        out += ' ';
      } else {
        out += "   ";
      }
      if (i == 7) out += ' ';
    }
    out += ' ';
    for (size_t i = 0; i < n; ++i) {
      const uint8_t b = bytes[row + i];
      const bool prints = (b >= 0x20 && b < 0x7F) || b >= 0xA0;
      if (!prints) {
        out += '.';
      } else if (b < 0x80) {
        out += static_cast<char>(b);
      } else {
        out += static_cast<char>(0xC0 | (b >> 6));
        out += static_cast<char>(0x80 | (b & 0x3F));
      }
    }
    out += '\n';
  }
  return out;
}

// The layout HexDump writes: 10 columns of offset, 16 hex bytes of 3
// columns with one more after the eighth, a space, then the characters.
namespace {
constexpr size_t kDumpRow = 16, kHexStart = 10, kHexWidth = 3, kMiddleGap = 1;
constexpr size_t kTextStart = kHexStart + kDumpRow * kHexWidth + kMiddleGap + 1;
}  // namespace

DumpPlace HexDumpPlace(size_t offset) {
  const size_t i = offset % kDumpRow;
  return {offset / kDumpRow, kHexStart + kHexWidth * i + (i >= 8 ? kMiddleGap : 0)};
}

size_t HexDumpByteAt(size_t line, size_t column) {
  size_t i = 0;
  if (column >= kTextStart) {
    i = std::min(column - kTextStart, kDumpRow - 1);
  } else if (column >= kHexStart) {
    size_t at = column - kHexStart;
    if (at >= 8 * kHexWidth) at = at >= 8 * kHexWidth + kMiddleGap ? at - kMiddleGap : 8 * kHexWidth;
    i = std::min(at / kHexWidth, kDumpRow - 1);
  }
  return line * kDumpRow + i;
}

}  // namespace cellbrook
