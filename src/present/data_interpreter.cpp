#include "present/data_interpreter.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "hive/filetime.h"
#include "hive/security_descriptor.h"
#include "hive/text_codec.h"
#include "present/security_text.h"

namespace cellbrook {
namespace {

uint64_t Read(std::span<const uint8_t> b, size_t n, bool big) {
  uint64_t v = 0;
  for (size_t i = 0; i < n; ++i) v |= uint64_t{b[big ? n - 1 - i : i]} << (8 * i);
  return v;
}

std::string Unsigned(uint64_t v) { return std::to_string(v); }
std::string Signed(uint64_t v, size_t n) {
  const unsigned shift = static_cast<unsigned>(64 - 8 * n);
  return std::to_string(static_cast<int64_t>(v << shift) >> shift);
}
// As few digits as read back the same value.
std::string Real(double v, int digits) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*g", digits, v);
  return text;
}

std::string Unavailable() { return kNoReading; }

std::string DosDateTime(uint32_t v) {
  const unsigned time = v & 0xFFFF, date = v >> 16;
  const unsigned day = date & 31, month = (date >> 5) & 15, year = 1980 + (date >> 9);
  const unsigned second = (time & 31) * 2, minute = (time >> 5) & 63, hour = time >> 11;
  char text[48];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", year, month, day, hour, minute, second);
  const bool valid = day >= 1 && month >= 1 && month <= 12 && hour < 24 && minute < 60 && second < 60;
  return valid ? text : std::string(text) + " (not a valid date)";
}

std::string SystemTime(std::span<const uint8_t> b) {
  uint16_t f[8];
  for (size_t i = 0; i < 8; ++i) f[i] = static_cast<uint16_t>(Read(b.subspan(2 * i), 2, false));
  // year, month, day of week, day, hour, minute, second, milliseconds
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", f[0], f[1], f[3], f[4], f[5], f[6], f[7]);
  const bool valid = f[1] >= 1 && f[1] <= 12 && f[2] <= 6 && f[3] >= 1 && f[3] <= 31 && f[4] < 24 && f[5] < 60 &&
                     f[6] < 60 && f[7] < 1000;
  return valid ? text : std::string(text) + " (not a valid date)";
}

}  // namespace

std::vector<Interpretation> InterpretBytes(std::span<const uint8_t> all, size_t offset, size_t length) {
  std::span<const uint8_t> b = offset <= all.size() ? all.subspan(offset) : std::span<const uint8_t>();
  if (length > 0 && length < b.size()) b = b.first(length);
  std::vector<Interpretation> rows;
  auto has = [&](size_t n) { return b.size() >= n; };
  for (size_t n : {size_t{1}, size_t{2}, size_t{4}, size_t{8}}) {
    const std::string bits = std::to_string(8 * n);
    if (!has(n)) {
      rows.push_back({"int" + bits, Unavailable(), n == 1 ? "" : Unavailable()});
      rows.push_back({"uint" + bits, Unavailable(), n == 1 ? "" : Unavailable()});
      continue;
    }
    const uint64_t le = Read(b, n, false), be = Read(b, n, true);
    rows.push_back({"int" + bits, Signed(le, n), n == 1 ? "" : Signed(be, n)});
    rows.push_back({"uint" + bits, Unsigned(le), n == 1 ? "" : Unsigned(be)});
  }
  if (has(4)) {
    float le, be;
    const uint32_t l = static_cast<uint32_t>(Read(b, 4, false)), g = static_cast<uint32_t>(Read(b, 4, true));
    std::memcpy(&le, &l, 4);
    std::memcpy(&be, &g, 4);
    rows.push_back({"float", Real(le, 9), Real(be, 9)});
  } else {
    rows.push_back({"float", Unavailable(), Unavailable()});
  }
  if (has(8)) {
    double le, be;
    const uint64_t l = Read(b, 8, false), g = Read(b, 8, true);
    std::memcpy(&le, &l, 8);
    std::memcpy(&be, &g, 8);
    rows.push_back({"double", Real(le, 17), Real(be, 17)});
  } else {
    rows.push_back({"double", Unavailable(), Unavailable()});
  }
  rows.push_back({"FILETIME", has(8) ? FormatFileTime(Read(b, 8, false)) : Unavailable(), ""});
  if (has(4)) {
    const uint64_t seconds = Read(b, 4, false);
    std::string t = FormatFileTime((seconds + 11644473600ull) * 10000000ull);
    rows.push_back({"Unix time (32-bit)", t.substr(0, 19) + "Z", ""});
  } else {
    rows.push_back({"Unix time (32-bit)", Unavailable(), ""});
  }
  rows.push_back(
      {"DOS date and time", has(4) ? DosDateTime(static_cast<uint32_t>(Read(b, 4, false))) : Unavailable(), ""});
  rows.push_back({"SYSTEMTIME", has(16) ? SystemTime(b) : Unavailable(), ""});
  if (has(16)) {
    Guid g{};
    std::memcpy(g.data(), b.data(), 16);
    rows.push_back({"GUID", "{" + GuidText(g) + "}", ""});
  } else {
    rows.push_back({"GUID", Unavailable(), ""});
  }
  size_t used = 0;
  const std::optional<Sid> sid = ReadSid(b, used);
  if (sid && sid->revision == 1) {
    const std::string name = SidName(*sid);
    rows.push_back({"SID", SidText(*sid) + (name.empty() ? "" : " (" + name + ")"), ""});
  } else {
    rows.push_back({"SID", Unavailable(), ""});
  }
  // Text up to the next NUL, or as far as the bytes (and the room) go.
  std::u16string units;
  for (size_t i = 0; i + 1 < b.size() && units.size() < kInterpretedTextUnits; i += 2) {
    const char16_t u = static_cast<char16_t>(b[i] | (b[i + 1] << 8));
    if (u == 0) break;
    units.push_back(u);
  }
  rows.push_back({"UTF-16 text", has(2) ? Utf16ToUtf8String(units) : Unavailable(), ""});
  std::string latin1;
  for (size_t i = 0; i < b.size() && i < kInterpretedTextUnits && b[i] != 0; ++i) {
    char out[4];
    const size_t n = Latin1ToUtf8(&b[i], 1, out, sizeof out);
    latin1.append(out, n);
  }
  rows.push_back({"8-bit text", has(1) ? latin1 : Unavailable(), ""});
  return rows;
}

}  // namespace cellbrook
