// Which Windows hive a file is, from its root key's subkeys, or else from
// the file name its base block records or its own name; and the root
// prefix under which its keys stand in a running system.
#pragma once

#include <string_view>

#include "hive/hive_reader.h"

namespace cellbrook {

enum class HiveKind { Unknown, System, Software, Sam, Security, User, Classes, Bcd };

// `recordedName` is the base block's file name field ("\??\C:\...\NTUSER.DAT"),
// `fileName` the path the hive was opened from; either may be empty.
HiveKind DetectHiveKind(const HiveImage& image, std::string_view recordedName,
                        std::string_view fileName);

// "HKEY_LOCAL_MACHINE\SYSTEM", "HKEY_CURRENT_USER", ...; "" for Unknown.
const char* RootPrefixOf(HiveKind kind);

}  // namespace cellbrook
