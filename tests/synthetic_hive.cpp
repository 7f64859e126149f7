#include "synthetic_hive.h"

#include <algorithm>
#include <string>

namespace cellbrook::test {

Bytes BuildSyntheticHive(const SyntheticShape& shape) {
  HiveBuilder b;
  const uint32_t root = b.Key("SyntheticRoot");
  std::vector<uint32_t> groups;
  const uint64_t totalKeys = uint64_t{shape.groups} * shape.keysPerGroup;
  uint64_t valueNo = 0, keyNo = 0;
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  for (uint32_t g = 0; g < shape.groups; ++g) {
    const uint32_t group = b.Key("Group" + std::to_string(g), root);
    groups.push_back(group);
    std::vector<uint32_t> keys;
    keys.reserve(shape.keysPerGroup);
    for (uint32_t k = 0; k < shape.keysPerGroup; ++k, ++keyNo) {
      const uint32_t key = b.Key("Key-" + std::to_string(g) + "-" + std::to_string(k), group);
      keys.push_back(key);
      // Values spread evenly: key n gets those up to (n + 1) * values / keys.
      const uint64_t until = (keyNo + 1) * shape.values / totalKeys;
      std::vector<uint32_t> values;
      for (; valueNo < until; ++valueNo) {
        const std::string name = "Value" + std::to_string(valueNo);
        switch (valueNo % 3) {
          case 0: {
            const std::u16string text = u"text" + std::u16string(next() % 12, u'x');
            values.push_back(b.Value(name, 1, Utf16Bytes(text)));
            break;
          }
          case 1:
            values.push_back(b.Value(name, 4, {static_cast<uint8_t>(next()), 0, 0, 0}));
            break;
          default: {
            Bytes data(8 + next() % 193);
            for (uint8_t& byte : data) byte = static_cast<uint8_t>(next() >> 16);
            values.push_back(b.Value(name, 3, data));
          }
        }
      }
      if (!values.empty()) b.SetValues(key, values);
    }
    b.SetSubkeys(group, keys, IndexKind::Ri, 512);
  }
  b.SetSubkeys(root, groups, IndexKind::Lh);
  b.SetRoot(root);
  return b.Image();
}

Bytes BuildDeletedChainHive(uint32_t keys, uint32_t nameLength) {
  HiveBuilder b;
  const uint32_t root = b.Key("ChainRoot");
  b.Put16(root + 6, 0x0024);  // the root flag, Latin-1 name
  b.SetRoot(root);
  uint32_t parent = root, first = 0;
  for (uint32_t i = 0; i < keys; ++i) {
    std::string name = "Link" + std::to_string(i);
    name.resize(std::max<size_t>(nameLength, name.size()), '-');
    parent = b.Key(name, parent);
    b.SetLastWritten(parent, 131962628961234567ull + i);
    if (i == 0) first = parent;
  }
  if (keys > 0) b.Free(first, parent);
  return b.Image();
}

}  // namespace cellbrook::test
