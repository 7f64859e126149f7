// Bytes as hex digits, two a byte, high nibble first: the one encoder of
// every text output (listings, JSON, registry files, escapes like \xHH).
// Inline, since hex lists are most of an exported file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace cellbrook {

enum class HexCase { Lower, Upper };

inline constexpr char kLowerHexDigits[] = "0123456789abcdef";
inline constexpr char kUpperHexDigits[] = "0123456789ABCDEF";

// The digit of a nibble (0 to 15).
constexpr char HexDigit(unsigned nibble, HexCase letters = HexCase::Lower) {
  return (letters == HexCase::Upper ? kUpperHexDigits : kLowerHexDigits)[nibble & 0xF];
}

// Writes the two digits of `byte` at `out` (char or char16_t) and returns
// the place after them.
template <class Char>
constexpr Char* PutHexByte(Char* out, uint8_t byte, HexCase letters = HexCase::Lower) {
  out[0] = static_cast<Char>(HexDigit(byte >> 4, letters));
  out[1] = static_cast<Char>(HexDigit(byte, letters));
  return out + 2;
}

// Appends the two digits of `byte` (to a std::string or std::u16string).
template <class String>
void AppendHexByte(String& out, uint8_t byte, HexCase letters = HexCase::Lower) {
  using Char = typename String::value_type;
  out += static_cast<Char>(HexDigit(byte >> 4, letters));
  out += static_cast<Char>(HexDigit(byte, letters));
}

// Appends the digits of every byte, `separator` between two bytes.
inline void AppendHex(std::string& out, std::span<const uint8_t> bytes, HexCase letters = HexCase::Lower,
                      std::string_view separator = {}) {
  const size_t start = out.size();
  const size_t each = 2 + separator.size();
  if (bytes.empty()) return;
  out.resize(start + each * bytes.size() - separator.size());
  char* at = out.data() + start;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) at += separator.copy(at, separator.size());
    at = PutHexByte(at, bytes[i], letters);
  }
}

inline std::string HexText(std::span<const uint8_t> bytes, HexCase letters = HexCase::Lower,
                           std::string_view separator = {}) {
  std::string out;
  AppendHex(out, bytes, letters, separator);
  return out;
}

}  // namespace cellbrook
