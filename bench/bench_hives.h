// Hives the benchmarks run on.
#pragma once

#include <string>

#include "hive/hive_file.h"

namespace cellbrook::bench {

struct LoadedHive {
  HiveBlock block;
  HiveImage image;
  bool ok = false;
};

// ../shared/hives/SYSTEM, or not ok when absent.
const LoadedHive& SystemHive();
// ../shared/hives/NTUSER.DAT, or not ok when absent.
const LoadedHive& UserHive();
// The file CELLBROOK_BENCH_HIVE names, else the synthetic 60 MiB hive.
const LoadedHive& LargeHive();

}  // namespace cellbrook::bench
