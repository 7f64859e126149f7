// A large synthetic hive for benchmarks: about 60 MiB, some 175,000 keys
// under a few "ri" indexes and 500,000 values (short strings, dwords,
// binaries of 8 to 200 bytes).
#pragma once

#include "hive_builder.h"

namespace cellbrook::test {

struct SyntheticShape {
  uint32_t groups = 5;  // keys below the root, each with an "ri" index
  uint32_t keysPerGroup = 35000;
  uint32_t values = 500000;  // spread over all keys
};

Bytes BuildSyntheticHive(const SyntheticShape& shape = {});

// A root key, and `keys` deleted keys chained parent to child below it
// (names of `nameLength` characters), all in one free cell: about 4.5 MB
// with the defaults, each path as long as a path may grow.
Bytes BuildDeletedChainHive(uint32_t keys = 40000, uint32_t nameLength = 28);

}  // namespace cellbrook::test
