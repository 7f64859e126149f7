// What kind of hive an image is, told from the keys below its root.
#pragma once

#include <cstdint>
#include <string_view>

#include "hive/hive_reader.h"

namespace cellbrook {

enum class HiveKind : uint32_t {
  Unknown = 0,
  System = 1u << 0,
  Sam = 1u << 1,
  Security = 1u << 2,
  Amcache = 1u << 3,
  Bcd = 1u << 4,
  Software = 1u << 5,
  Ntuser = 1u << 6,
  Usrclass = 1u << 7,
};

struct HiveKindGuess {
  HiveKind kind = HiveKind::Unknown;
  // A user's Software subtree saved on its own: its root is that key, so
  // user paths are used without their leading "Software\".
  bool partialUser = false;
};

HiveKindGuess DetectHiveKind(const HiveImage& image);
const char* HiveKindName(HiveKind kind);  // "system", ...; "unknown"

// The kind from the root's keys, else from the file name the base block
// records ("\??\C:\...\NTUSER.DAT") or the file's own name; either may be empty.
HiveKindGuess DetectHiveKind(const HiveImage& image, std::string_view recordedName, std::string_view fileName);

// The prefix under which the hive's keys stand in a running system
// ("HKEY_LOCAL_MACHINE\SYSTEM", "HKEY_CURRENT_USER", ...); "" when it has none.
const char* RootPrefixOf(HiveKindGuess guess);

}  // namespace cellbrook
