#include "hive/key_lookup.h"

#include <algorithm>

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include "hive/key_walk.h"
#include "hive/text_codec.h"

namespace cellbrook {

// A name's UTF-8 text takes at most two bytes a stored byte (Latin-1) and
// three a UTF-16 unit.
std::string KeyNameString(const KeyInfo& key) {
  std::string text(2 * size_t{key.NameLength}, '\0');
  text.resize(KeyNameText(key, text.data(), text.size()));
  return text;
}

std::string ValueNameString(const ValueInfo& value) {
  std::string text(2 * size_t{value.NameLength}, '\0');
  text.resize(ValueNameText(value, text.data(), text.size()));
  return text;
}

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

std::vector<KeyInfo> ReadSubkeys(const HiveImage& image, const KeyInfo& key) {
  std::vector<KeyInfo> subkeys;
  const uint64_t count = std::min<uint64_t>(key.SubkeyCount, MaxSubkeyArray(image));
  if (count == 0) return subkeys;
  subkeys.resize(count);
  const uint32_t got = EnumSubkeys(image, key, subkeys.data(), 0, static_cast<uint32_t>(count));
  subkeys.resize(got == kNoEntries ? 0 : got);
  return subkeys;
}

std::vector<ValueInfo> ReadValues(const HiveImage& image, const KeyInfo& key) {
  std::vector<ValueInfo> values;
  // Entries past Size / 4 lie outside the image and would read as nothing.
  const uint64_t count = std::min<uint64_t>(key.ValueCount, MaxValueArray(image));
  if (count == 0) return values;
  values.resize(count);
  const uint32_t got = EnumValues(image, key, values.data(), 0, static_cast<uint32_t>(count));
  values.resize(got == kNoEntries ? 0 : got);
  return values;
}

namespace {

// First element whose name is `name` exactly, else case-insensitively.
template <class Info, class NameOf>
const Info* FindByName(const std::vector<Info>& items, std::string_view name, NameOf nameOf) {
  const Info* folded = nullptr;
  for (const Info& item : items) {
    if (item.Node == nullptr) continue;
    const std::string text = nameOf(item);
    if (text == name) return &item;
    if (folded == nullptr && EqualIgnoringCase(text, name)) folded = &item;
  }
  return folded;
}

}  // namespace

std::optional<FoundKey> FindKeyByPath(const HiveImage& image, std::string_view path) {
  constexpr std::string_view kRoot = "ROOT";
  if (path.substr(0, kRoot.size()) != kRoot) return std::nullopt;
  FoundKey found;
  if (!GetRootKey(image, found.key)) return std::nullopt;
  found.path = kRoot;
  std::string_view rest = path.substr(kRoot.size());
  if (rest.empty()) return found;
  if (rest.front() != '\\') return std::nullopt;
  rest.remove_prefix(1);
  for (;;) {
    const size_t cut = rest.find('\\');
    const std::string_view name = rest.substr(0, cut);
    const std::vector<KeyInfo> subkeys = ReadSubkeys(image, found.key);
    const KeyInfo* match = FindByName(subkeys, name, KeyNameString);
    if (match == nullptr) return std::nullopt;
    found.ancestors.push_back(found.key.Node);
    found.key = *match;
    found.path += '\\';
    found.path += KeyNameString(*match);
    if (cut == std::string_view::npos) return found;
    rest.remove_prefix(cut + 1);
  }
}

std::optional<ValueInfo> FindValueByName(const HiveImage& image, const KeyInfo& key,
                                         std::string_view name) {
  const std::vector<ValueInfo> values = ReadValues(image, key);
  const ValueInfo* match = FindByName(values, name, ValueNameString);
  if (match == nullptr) return std::nullopt;
  return *match;
}

}  // namespace cellbrook
