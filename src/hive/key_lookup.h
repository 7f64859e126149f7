// Whole name texts, and finding a key or value by the names a user types.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hive/hive_reader.h"

namespace cellbrook {

// The whole decoded name text (no 4095-byte cut), for listings and exports.
std::string KeyNameString(const KeyInfo& key);
std::string ValueNameString(const ValueInfo& value);

// Case-insensitive equality of two UTF-8 texts (full Unicode case folding).
bool EqualIgnoringCase(std::string_view a, std::string_view b);

struct FoundKey {
  KeyInfo key;
  std::vector<const uint8_t*> ancestors;  // nodes from the root down, the key excluded
  std::string path;                       // "ROOT" and the matched keys' name texts
};

// "ROOT" then names separated by backslashes. Each name matches a subkey's
// name text exactly, else case-insensitively; the first match in index
// order wins.
std::optional<FoundKey> FindKeyByPath(const HiveImage& image, std::string_view path);

// The key's value named `name` (exactly, else case-insensitively; "" is the
// unnamed value), first in index order.
std::optional<ValueInfo> FindValueByName(const HiveImage& image, const KeyInfo& key,
                                         std::string_view name);

// The subkeys or values of one key (empty when the index cannot be read),
// never more than the image could hold: 8 bytes a subkey, 4 a value.
std::vector<KeyInfo> ReadSubkeys(const HiveImage& image, const KeyInfo& key);
std::vector<ValueInfo> ReadValues(const HiveImage& image, const KeyInfo& key);

}  // namespace cellbrook
