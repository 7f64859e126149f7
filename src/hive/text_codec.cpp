#include "hive/text_codec.h"

#include "hive/hex_text.h"

namespace cellbrook {
namespace {

constexpr uint32_t kReplacement = 0xFFFD;

size_t Utf8Length(uint32_t cp) { return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4; }

void PutUtf8(uint32_t cp, char* out) {
  auto* o = reinterpret_cast<unsigned char*>(out);
  if (cp < 0x80) {
    o[0] = static_cast<unsigned char>(cp);
  } else if (cp < 0x800) {
    o[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
    o[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    o[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
    o[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    o[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
  } else {
    o[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
    o[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
    o[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    o[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
  }
}

// Decodes UTF-16 from unit(i) for i < units, stopping at a NUL unit.
template <class UnitAt>
size_t Utf16ToUtf8Impl(UnitAt unit, size_t units, char* out, size_t room) {
  size_t written = 0;
  for (size_t i = 0; i < units; ++i) {
    uint32_t cp = unit(i);
    if (cp == 0) break;
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units) {
      uint32_t low = unit(i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      } else {
        cp = kReplacement;
      }
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;
    }
    const size_t len = Utf8Length(cp);
    if (len > room - written) break;
    PutUtf8(cp, out + written);
    written += len;
  }
  return written;
}

}  // namespace

size_t Latin1ToUtf8(const uint8_t* in, size_t bytes, char* out, size_t room) {
  size_t written = 0;
  for (size_t i = 0; i < bytes && in[i] != 0; ++i) {
    const size_t len = in[i] < 0x80 ? 1 : 2;
    if (len > room - written) break;
    PutUtf8(in[i], out + written);
    written += len;
  }
  return written;
}

size_t Utf16LeToUtf8(const uint8_t* in, size_t units, char* out, size_t room) {
  return Utf16ToUtf8Impl([in](size_t i) { return static_cast<uint32_t>(in[2 * i] | (in[2 * i + 1] << 8)); }, units, out,
                         room);
}

size_t Utf16ToUtf8(const char16_t* in, size_t units, char* out, size_t room) {
  return Utf16ToUtf8Impl([in](size_t i) { return static_cast<uint32_t>(in[i]); }, units, out, room);
}

void AppendNameUnits(const uint8_t* name, size_t bytes, bool latin1, std::u16string& out) {
  if (name == nullptr) return;
  if (latin1) {
    for (size_t i = 0; i < bytes && name[i] != 0; ++i) out.push_back(name[i]);
    return;
  }
  for (size_t i = 0; i + 1 < bytes; i += 2) {
    const char16_t u = static_cast<char16_t>(name[i] | (name[i + 1] << 8));
    if (u == 0) break;
    out.push_back(u);
  }
}

std::string Utf16ToUtf8String(std::u16string_view text) {
  std::string out(text.size() * 3, '\0');
  out.resize(Utf16ToUtf8(text.data(), text.size(), out.data(), out.size()));
  return out;
}

void AppendUtf8AsUtf16(std::string_view text, std::u16string& out) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    uint32_t c = s[i];
    if (c < 0x80) {
      out.push_back(static_cast<char16_t>(c));
      ++i;
      continue;
    }
    size_t len = c >= 0xF0 && c < 0xF5 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    if (c >= 0xF5) len = 0;
    uint32_t cp = len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    bool ok = len != 0 && i + len <= n;
    for (size_t k = 1; ok && k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    if (ok && ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
               (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))) {
      ok = false;
    }
    if (!ok) {
      out.push_back(static_cast<char16_t>(kReplacement));
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
}

std::u16string Utf8ToUtf16String(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  AppendUtf8AsUtf16(text, out);
  return out;
}

namespace {

std::string Escape(std::string_view text, bool backslash) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\':
        out += backslash ? "\\\\" : "\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        // Other C0 controls and DEL would reach the terminal: \xHH, lowercase.
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
          out += "\\x";
          AppendHexByte(out, static_cast<uint8_t>(c));
        } else {
          out += c;
        }
    }
  }
  return out;
}

}  // namespace

std::string EscapeKeyName(std::string_view name) { return Escape(name, true); }
std::string EscapeLineText(std::string_view text) { return Escape(text, false); }

}  // namespace cellbrook
