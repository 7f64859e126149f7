// What kind of hive an image is, told from the keys below its root.
#pragma once

#include <cstdint>

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

}  // namespace cellbrook
