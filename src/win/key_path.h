// A key's path as the window shows it: "ROOT\A\B", and "ROOT" alone for the
// root key (whose own name stands in no path), built at the back of a
// 4096-byte buffer; null when it does not fit or the parents are broken.
#pragma once

#include "hive/hive_reader.h"

namespace cellbrook {

inline const char* WindowKeyPath(const HiveImage& hive, KeyRef key, char (&buffer)[4096]) {
  buffer[4095] = 0;
  KeyInfo root;
  if (GetRootKey(hive, root) && root.Ref == key) {
    char* path = buffer + 4091;
    path[0] = 'R', path[1] = 'O', path[2] = 'O', path[3] = 'T';
    return path;
  }
  return BuildKeyPath(hive, key, buffer, 4095);
}

}  // namespace cellbrook
