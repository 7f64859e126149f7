// A small reader of registry text as an importer sees it: sections, quoted
// names and strings with their escapes, dword:, hex: and hex(n): byte lists
// with continuation lines. Raises std::runtime_error on anything else.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cellbrook::test {

struct RegValue {
  bool isDefault = false;
  bool remove = false;  // "name"=- : the importer deletes the value
  std::string name;     // UTF-8
  uint32_t type = 0;
  std::vector<uint8_t> data;
};

struct RegKey {
  std::string path;     // UTF-8
  bool remove = false;  // [-path] : the importer deletes the key and its subtree
  std::vector<RegValue> values;
};

// `file` is the whole file: byte-order mark, header line, sections.
std::vector<RegKey> ParseRegText(const std::string& file);

}  // namespace cellbrook::test

#include "hive/hive_reader.h"

namespace cellbrook::test {

// Walks the hive from `start` as the export does and compares every key's
// path and every value's type and bytes with the re-read file. Returns ""
// when they agree, else the first difference. The one allowed difference:
// an empty REG_SZ re-imports as a lone NUL.
std::string CompareWithHive(const HiveImage& image, const KeyInfo& start, const std::string& startPath,
                            const std::vector<RegKey>& keys);

}  // namespace cellbrook::test
