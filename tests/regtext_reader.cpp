#include "regtext_reader.h"

#include <stdexcept>

#include "hive/text_codec.h"

namespace cellbrook::test {
namespace {

class Parser {
 public:
  explicit Parser(std::u16string text) : t_(std::move(text)) {}

  std::vector<RegKey> Parse() {
    Expect(u"\uFEFFWindows Registry Editor Version 5.00\r\n");
    std::vector<RegKey> keys;
    while (i_ < t_.size()) {
      Expect(u"\r\n[");
      const size_t close = t_.find(u"]\r\n", i_);
      if (close == std::u16string::npos) Fail("unterminated key line");
      RegKey key;
      key.remove = Take(u"-");
      key.path = Utf16ToUtf8String(t_.substr(i_, close - i_));
      i_ = close + 3;
      while (i_ < t_.size() && t_.compare(i_, 2, u"\r\n") != 0) {
        if (key.remove) Fail("values under a removed key");
        key.values.push_back(Entry());
      }
      keys.push_back(std::move(key));
    }
    return keys;
  }

 private:
  [[noreturn]] void Fail(const char* what) const {
    throw std::runtime_error(std::string(what) + " at unit " + std::to_string(i_));
  }
  void Expect(std::u16string_view s) {
    if (t_.compare(i_, s.size(), s) != 0) Fail("unexpected text");
    i_ += s.size();
  }
  bool Take(std::u16string_view s) {
    if (t_.compare(i_, s.size(), s) != 0) return false;
    i_ += s.size();
    return true;
  }

  // A quoted text with \\ and \" escapes; the units between the quotes.
  std::u16string Quoted() {
    Expect(u"\"");
    std::u16string out;
    for (;;) {
      if (i_ >= t_.size()) Fail("unterminated quote");
      char16_t c = t_[i_++];
      if (c == u'"') return out;
      if (c == u'\r' || c == u'\n') Fail("line break inside quotes");
      if (c == u'\\') {
        if (i_ >= t_.size() || (t_[i_] != u'\\' && t_[i_] != u'"')) Fail("bad escape");
        c = t_[i_++];
      }
      out.push_back(c);
    }
  }

  int Hex(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    Fail("hex digit expected");
  }

  std::vector<uint8_t> ByteList() {
    std::vector<uint8_t> out;
    if (t_.compare(i_, 2, u"\r\n") == 0) return out;
    for (;;) {
      if (i_ + 2 > t_.size()) Fail("truncated byte");
      out.push_back(static_cast<uint8_t>(Hex(t_[i_]) * 16 + Hex(t_[i_ + 1])));
      i_ += 2;
      if (!Take(u",")) return out;
      Take(u"\\\r\n  ");
    }
  }

  RegValue Entry() {
    RegValue v;
    if (Take(u"@=")) {
      v.isDefault = true;
    } else {
      v.name = Utf16ToUtf8String(Quoted());
      Expect(u"=");
    }
    if (Take(u"-\r\n")) {
      v.remove = true;
      return v;
    }
    if (t_.compare(i_, 1, u"\"") == 0) {
      v.type = 1;
      const std::u16string s = Quoted();
      for (char16_t u : s + u'\0') {
        v.data.push_back(static_cast<uint8_t>(u & 0xFF));
        v.data.push_back(static_cast<uint8_t>(u >> 8));
      }
    } else if (Take(u"dword:")) {
      v.type = 4;
      uint32_t n = 0;
      for (int k = 0; k < 8; ++k) n = n * 16 + static_cast<uint32_t>(Hex(t_.at(i_++)));
      for (int k = 0; k < 4; ++k) v.data.push_back(static_cast<uint8_t>(n >> (8 * k)));
    } else if (Take(u"hex:")) {
      v.type = 3;
      v.data = ByteList();
    } else if (Take(u"hex(")) {
      uint64_t n = 0;
      int digits = 0;
      while (i_ < t_.size() && t_[i_] != u')') {
        n = n * 16 + static_cast<uint64_t>(Hex(t_[i_++]));
        if (++digits > 8) Fail("type too long");
      }
      Expect(u"):");
      v.type = static_cast<uint32_t>(n);
      v.data = ByteList();
    } else {
      Fail("unknown data form");
    }
    Expect(u"\r\n");
    return v;
  }

  std::u16string t_;
  size_t i_ = 0;
};

}  // namespace

std::vector<RegKey> ParseRegText(const std::string& file) {
  if (file.size() % 2 != 0) throw std::runtime_error("odd file length");
  std::u16string text(file.size() / 2, u'\0');
  for (size_t k = 0; k < text.size(); ++k) {
    text[k] = static_cast<char16_t>(static_cast<uint8_t>(file[2 * k]) | (static_cast<uint8_t>(file[2 * k + 1]) << 8));
  }
  return Parser(std::move(text)).Parse();
}

}  // namespace cellbrook::test

#include "hive/key_lookup.h"
#include "hive/key_walk.h"

namespace cellbrook::test {

std::string CompareWithHive(const HiveImage& image, const KeyInfo& start, const std::string& startPath,
                            const std::vector<RegKey>& keys) {
  KeyWalk walk(image, "ROOT");
  struct Checker {
    KeyWalk& walk;
    const HiveImage& image;
    const std::vector<RegKey>& keys;
    std::vector<std::string> paths;
    size_t next = 0;
    std::string problem;
    bool Enter(const KeyInfo& key, uint32_t depth) {
      if (!problem.empty()) return false;
      if (depth > 0) {
        paths.resize(depth);
        paths.push_back(paths[depth - 1] + "\\" + KeyNameString(key));
      }
      const std::string& path = paths.back();
      if (next >= keys.size()) return Note("missing key " + path);
      const RegKey& got = keys[next++];
      if (got.path != path) return Note("key " + got.path + " where " + path + " was due");
      size_t k = 0;
      for (const ValueInfo& v : ReadValues(image, key, walk.Budget()).values) {
        if (!v.Ref || !v.Data.Readable()) continue;
        if (k >= got.values.size()) return Note("missing value in " + path);
        const RegValue& r = got.values[k++];
        const std::string name = ValueNameString(v);
        std::vector<uint8_t> data;
        v.Data.ForEachPiece([&](std::span<const uint8_t> p) { data.insert(data.end(), p.begin(), p.end()); });
        if (r.isDefault != (v.Name.length == 0) || (!r.isDefault && r.name != name)) {
          return Note("value name " + r.name + " where " + name + " was due in " + path);
        }
        if (r.type != v.Type || r.data != data) return Note("value " + name + " differs in " + path);
      }
      if (k != got.values.size()) return Note("extra values in " + path);
      return true;
    }
    bool Note(const std::string& p) {
      problem = p;
      return false;
    }
    void Leave(const KeyInfo&, uint32_t) {}
    void Missing(uint32_t) {}
  } checker{walk, image, keys, {startPath}, 0, {}};
  walk.Run(start, checker);
  if (checker.problem.empty() && checker.next != keys.size()) return "extra keys in the file";
  return checker.problem;
}

}  // namespace cellbrook::test
