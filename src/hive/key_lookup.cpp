#include "hive/key_lookup.h"

#include <algorithm>

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include "hive/text_codec.h"

namespace cellbrook {

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() == b.size() && a == b) return true;
  const std::u16string wa = Utf8ToUtf16String(a), wb = Utf8ToUtf16String(b);
  UErrorCode status = U_ZERO_ERROR;
  const int32_t r = u_strCaseCompare(reinterpret_cast<const UChar*>(wa.data()), static_cast<int32_t>(wa.size()),
                                     reinterpret_cast<const UChar*>(wb.data()), static_cast<int32_t>(wb.size()),
                                     U_FOLD_CASE_DEFAULT, &status);
  return U_SUCCESS(status) && r == 0;
}

void AppendFoldedUnits(std::u16string_view units, std::u16string& out) {
  bool ascii = true;
  for (char16_t u : units) ascii &= u < 0x80;
  if (ascii) {
    for (char16_t u : units) out.push_back(u >= u'A' && u <= u'Z' ? static_cast<char16_t>(u + 32) : u);
    return;
  }
  const size_t at = out.size();
  // Full folding can grow a text up to three times.
  out.resize(at + units.size() * 3 + 1);
  UErrorCode status = U_ZERO_ERROR;
  const int32_t n = u_strFoldCase(reinterpret_cast<UChar*>(out.data() + at), static_cast<int32_t>(out.size() - at),
                                  reinterpret_cast<const UChar*>(units.data()), static_cast<int32_t>(units.size()),
                                  U_FOLD_CASE_DEFAULT, &status);
  if (U_FAILURE(status) || n < 0) {
    out.resize(at);
    out.append(units);
    return;
  }
  out.resize(at + static_cast<size_t>(n));
}

namespace {

// First element whose name is `name` exactly, else case-insensitively.
template <class Info, class NameOf>
const Info* FindByName(const std::vector<Info>& items, std::string_view name, NameOf nameOf) {
  const Info* folded = nullptr;
  for (const Info& item : items) {
    if (!item.Ref) continue;
    const std::string text = nameOf(item);
    if (text == name) return &item;
    if (folded == nullptr && EqualIgnoringCase(text, name)) folded = &item;
  }
  return folded;
}

}  // namespace

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Length of the escape at the start of `text` (a backslash and what
// follows), its byte in `out`; 0 when it is none.
size_t EscapeAt(std::string_view text, char& out) {
  if (text.size() < 2 || text[0] != '\\') return 0;
  switch (text[1]) {
    case '\\':
      out = '\\';
      return 2;
    case 't':
      out = '\t';
      return 2;
    case 'r':
      out = '\r';
      return 2;
    case 'n':
      out = '\n';
      return 2;
    case 'x':
      if (text.size() >= 4 && HexDigit(text[2]) >= 0 && HexDigit(text[3]) >= 0) {
        out = static_cast<char>(HexDigit(text[2]) * 16 + HexDigit(text[3]));
        return 4;
      }
      return 0;
    default:
      return 0;
  }
}

// Resolves the names after a key. The escaped form `keys` prints can be
// read two ways where a backslash may end a name or start an escape inside
// it (ROOT\A\tB: the key "tB" below "A", or the key "A<TAB>B"), so each
// reading is tried against the hive, a separator first; the number of
// names tried is bounded.
class PathResolver {
 public:
  PathResolver(const HiveImage& image, KeyLookup& lookup)
      : image_(image), lookup_(lookup), budget_(SlotBudget::For(image)) {}

  bool Resolve(FoundKey& at, std::string_view rest, uint32_t depth) {
    if (depth >= kMaxDepth) return false;
    const SubkeyList subkeys = ReadSubkeys(image_, at.key, budget_);
    std::string name;
    size_t i = 0;
    while (true) {
      const bool end = i == rest.size();
      if (end || rest[i] == '\\') {
        if (++tries_ > kMaxTries) return false;
        if (const KeyInfo* match = FindByName(subkeys.keys, name, KeyNameString)) {
          FoundKey next = at;
          next.ancestors.push_back(at.key.Ref);
          next.key = *match;
          const std::string text = KeyNameString(*match);
          next.path += '\\' + text;
          next.shownPath += '\\' + EscapeKeyName(text);
          if (end || Resolve(next, rest.substr(i + 1), depth + 1)) {
            if (end) lookup_.found = std::move(next);
            return true;
          }
        } else if (subkeys.state == ReadState::Damaged && !lookup_.damaged) {
          lookup_.damaged = true;
          lookup_.damagedAt = at.shownPath;
        }
        if (end) return false;
        char byte = 0;
        const size_t length = EscapeAt(rest.substr(i), byte);
        if (length == 0) return false;  // only a separator, and it led nowhere
        name += byte;
        i += length;
        continue;
      }
      name += rest[i++];
    }
  }

 private:
  static constexpr uint32_t kMaxDepth = 512;
  static constexpr uint32_t kMaxTries = 4096;
  const HiveImage& image_;
  KeyLookup& lookup_;
  SlotBudget budget_;
  uint32_t tries_ = 0;
};

}  // namespace

KeyLookup FindKeyByPath(const HiveImage& image, std::string_view path) {
  constexpr std::string_view kRoot = "ROOT";
  KeyLookup lookup;
  if (path.substr(0, kRoot.size()) != kRoot) return lookup;
  FoundKey found;
  if (!GetRootKey(image, found.key)) return lookup;
  found.path = found.shownPath = kRoot;
  std::string_view rest = path.substr(kRoot.size());
  if (rest.empty()) {
    lookup.found = std::move(found);
    return lookup;
  }
  if (rest.front() != '\\') return lookup;
  PathResolver(image, lookup).Resolve(found, rest.substr(1), 0);
  if (lookup.found) lookup.damaged = false;
  return lookup;
}

ValueLookup FindValueByName(const HiveImage& image, const KeyInfo& key, std::string_view name) {
  SlotBudget budget = SlotBudget::For(image);
  const ValueList values = ReadValues(image, key, budget);
  ValueLookup lookup;
  if (const ValueInfo* match = FindByName(values.values, name, ValueNameString)) {
    lookup.found = *match;
  } else {
    lookup.damaged = values.unreadable > 0;
  }
  return lookup;
}

}  // namespace cellbrook
