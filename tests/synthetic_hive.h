// A large synthetic hive for benchmarks: about 60 MiB, some 175,000 keys
// under a few "ri" indexes and 500,000 values (short strings, dwords,
// binaries of 8 to 200 bytes).
#pragma once

#include "hive_builder.h"

namespace cellbrook::test {

struct SyntheticShape {
  uint32_t groups = 5;           // keys below the root, each with an "ri" index
  uint32_t keysPerGroup = 35000;
  uint32_t values = 500000;      // spread over all keys
};

Bytes BuildSyntheticHive(const SyntheticShape& shape = {});

}  // namespace cellbrook::test
