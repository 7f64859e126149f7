#include "present/json_line.h"

#include <array>

#include <nlohmann/json.hpp>

#include "hive/hex_text.h"

namespace cellbrook {
namespace {

// Length of the valid UTF-8 sequence at text[i], or 0.
size_t Utf8Length(std::string_view text, size_t i) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  if (b0 < 0x80) return 1;
  size_t n = 0;
  uint32_t cp = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2, cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3, cp = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4, cp = b0 & 0x07;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (b & 0x3F);
  }
  if ((n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) {
    return 0;
  }
  return n;
}

// Bytes copied as they are: printable ASCII but the quote and backslash.
constexpr auto kPlain = [] {
  std::array<bool, 256> plain{};
  for (int c = 0x20; c < 0x80; ++c) plain[c] = c != '"' && c != '\\';
  return plain;
}();

}  // namespace

void AppendJsonString(std::string& out, std::string_view text) {
  const size_t start = out.size();
  out.reserve(start + text.size() + 2);
  out += '"';
  size_t plain = 0;  // start of the run not yet copied
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size();
  for (size_t i = 0; i < size;) {
    while (i < size && kPlain[bytes[i]]) ++i;
    if (i == size) break;
    const unsigned char c = bytes[i];
    if (c >= 0x80) {
      const size_t n = Utf8Length(text, i);
      if (n == 0) {
        // Rare: the library's own replacement, byte for byte.
        out.resize(start);
        out += nlohmann::ordered_json(std::string(text))
                   .dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
        return;
      }
      i += n;
      continue;
    }
    out.append(text.data() + plain, i - plain);
    plain = ++i;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += "\\u00";
        AppendHexByte(out, c);
    }
  }
  out.append(text.data() + plain, text.size() - plain);
  out += '"';
}

JsonLine& JsonLine::Begin() {
  text_.clear();
  text_ += '{';
  first_ = true;
  return *this;
}

void JsonLine::Key(std::string_view key) {
  if (!first_) text_ += ',';
  first_ = false;
  // Member names are the program's own: plain ASCII, nothing to escape.
  text_ += '"';
  text_ += key;
  text_ += "\":";
}

JsonLine& JsonLine::String(std::string_view key, std::string_view value) {
  Key(key);
  AppendJsonString(text_, value);
  return *this;
}

JsonLine& JsonLine::Number(std::string_view key, uint64_t value) {
  Key(key);
  char digits[24];
  char* p = digits + sizeof digits;
  do {
    *--p = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  text_.append(p, digits + sizeof digits - p);
  return *this;
}

JsonLine& JsonLine::Bool(std::string_view key, bool value) {
  Key(key);
  text_ += value ? "true" : "false";
  return *this;
}

JsonLine& JsonLine::Null(std::string_view key) {
  Key(key);
  text_ += "null";
  return *this;
}

JsonLine& JsonLine::Strings(std::string_view key, const std::vector<std::string>& values) {
  Key(key);
  text_ += '[';
  for (size_t i = 0; i < values.size(); ++i) {
    if (i != 0) text_ += ',';
    AppendJsonString(text_, values[i]);
  }
  text_ += ']';
  return *this;
}

const std::string& JsonLine::End() {
  text_ += '}';
  return text_;
}

}  // namespace cellbrook
