// Whole name texts, and finding a key or value by the names a user types.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hive/hive_reader.h"

namespace cellbrook {

// The whole decoded name text (no 4095-byte cut), for listings and exports.
inline std::string KeyNameString(const KeyInfo& key) { return key.Name.Text(); }
inline std::string ValueNameString(const ValueInfo& value) { return value.Name.Text(); }

// Case-insensitive equality of two UTF-8 texts (full Unicode case folding).
bool EqualIgnoringCase(std::string_view a, std::string_view b);

struct FoundKey {
  KeyInfo key;
  std::vector<KeyRef> ancestors;  // keys from the root down, the key excluded
  std::string path;               // "ROOT" and the matched keys' name texts
  std::string shownPath;          // the same, names escaped as EscapeKeyName does
};

// A lookup's outcome: found, absent, or not found because a list on the
// way could not be read whole (`damagedAt` names the key that lists it).
struct KeyLookup {
  std::optional<FoundKey> found;
  bool damaged = false;
  std::string damagedAt;
};

// "ROOT" then names separated by backslashes, as typed or as `keys` prints
// them: inside a name \\ is a backslash, \t, \r, \n a TAB, CR, LF, \xHH the
// byte HH. Each name matches a subkey's name text exactly, else
// case-insensitively; the first match in index order wins. Where a
// backslash can end a name or start an escape, ending the name is tried
// first, then the escape.
KeyLookup FindKeyByPath(const HiveImage& image, std::string_view path);

struct ValueLookup {
  std::optional<ValueInfo> found;
  bool damaged = false;  // the key's value list could not be read whole
};

// The key's value named `name` (exactly, else case-insensitively; "" is the
// unnamed value), first in list order.
ValueLookup FindValueByName(const HiveImage& image, const KeyInfo& key, std::string_view name);

}  // namespace cellbrook
