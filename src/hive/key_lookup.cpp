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
  const int32_t r = u_strCaseCompare(reinterpret_cast<const UChar*>(wa.data()),
                                     static_cast<int32_t>(wa.size()),
                                     reinterpret_cast<const UChar*>(wb.data()),
                                     static_cast<int32_t>(wb.size()), U_FOLD_CASE_DEFAULT,
                                     &status);
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
  const int32_t n = u_strFoldCase(reinterpret_cast<UChar*>(out.data() + at),
                                  static_cast<int32_t>(out.size() - at),
                                  reinterpret_cast<const UChar*>(units.data()),
                                  static_cast<int32_t>(units.size()), U_FOLD_CASE_DEFAULT, &status);
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

KeyLookup FindKeyByPath(const HiveImage& image, std::string_view path) {
  constexpr std::string_view kRoot = "ROOT";
  KeyLookup lookup;
  if (path.substr(0, kRoot.size()) != kRoot) return lookup;
  FoundKey found;
  if (!GetRootKey(image, found.key)) return lookup;
  found.path = found.shownPath = kRoot;
  std::string_view rest = path.substr(kRoot.size());
  SlotBudget budget = SlotBudget::For(image);
  if (!rest.empty()) {
    if (rest.front() != '\\') return lookup;
    rest.remove_prefix(1);
  }
  while (path.size() > kRoot.size()) {
    const size_t cut = rest.find('\\');
    const std::string_view name = rest.substr(0, cut);
    const SubkeyList subkeys = ReadSubkeys(image, found.key, budget);
    const KeyInfo* match = FindByName(subkeys.keys, name, KeyNameString);
    if (match == nullptr) {
      lookup.damaged = subkeys.state == ReadState::Damaged;
      if (lookup.damaged) lookup.damagedAt = found.shownPath;
      return lookup;
    }
    found.ancestors.push_back(found.key.Ref);
    found.key = *match;
    const std::string text = KeyNameString(*match);
    found.path += '\\';
    found.path += text;
    found.shownPath += '\\';
    found.shownPath += EscapeKeyName(text);
    if (cut == std::string_view::npos) break;
    rest.remove_prefix(cut + 1);
  }
  lookup.found = std::move(found);
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
