// Text conversions of the reader: hive names and UTF-16 data to UTF-8, and
// UTF-8 back to UTF-16. An unpaired surrogate becomes U+FFFD. The bounded
// forms stop at the first NUL and never cut inside a character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace cellbrook {

// Latin-1 bytes (one a character) to UTF-8.
size_t Latin1ToUtf8(const uint8_t* in, size_t bytes, char* out, size_t room);
// UTF-16LE bytes (units = bytes / 2) to UTF-8.
size_t Utf16LeToUtf8(const uint8_t* in, size_t units, char* out, size_t room);
// Native UTF-16 units to UTF-8.
size_t Utf16ToUtf8(const char16_t* in, size_t units, char* out, size_t room);

// A stored name (Latin-1 bytes, or UTF-16LE) appended as UTF-16 up to its
// first NUL, every stored unit kept (unpaired surrogates too), so that a
// UTF-16 file names exactly the stored key.
void AppendNameUnits(const uint8_t* name, size_t bytes, bool latin1, std::u16string& out);

std::string Utf16ToUtf8String(std::u16string_view text);
// Appends UTF-8 text as UTF-16; invalid bytes become U+FFFD.
void AppendUtf8AsUtf16(std::string_view text, std::u16string& out);
std::u16string Utf8ToUtf16String(std::string_view text);

// One record a line: a key name with backslash, TAB, CR and LF written as
// \\, \t, \r, \n, so that a backslash inside a name is told from a separator;
// every other C0 control and DEL as \xHH (two lowercase hex digits), so
// that no name reaches a terminal raw. The one escaper of every text output.
std::string EscapeKeyName(std::string_view name);
// A name or text in a TAB-separated line: TAB, CR and LF as \t, \r, \n,
// other C0 controls and DEL as \xHH; backslashes stay, since texts are full
// of paths.
std::string EscapeLineText(std::string_view text);

}  // namespace cellbrook
