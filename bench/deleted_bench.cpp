// Scanning a hive for deleted keys and values.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "bench_hives.h"
#include "recover/deleted_scan.h"

namespace cellbrook::bench {
namespace {

void Scan(benchmark::State& state, const uint8_t* image, uint64_t size) {
  for (auto _ : state) {
    const DeletedScan scan = ScanDeletedRecords(image, size);
    benchmark::DoNotOptimize(scan.keys.data());
    state.counters["keys"] = static_cast<double>(scan.keys.size());
    state.counters["values"] = static_cast<double>(scan.values.size());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void BM_ScanDeletedSystemHive(benchmark::State& state) {
  const LoadedHive& hive = SystemHive();
  if (!hive.ok) return state.SkipWithError("hive not available");
  Scan(state, hive.image.Image, hive.image.Size);
}

void BM_ScanDeletedLargeHive(benchmark::State& state) {
  const LoadedHive& hive = LargeHive();
  if (!hive.ok) return state.SkipWithError("hive not available");
  Scan(state, hive.image.Image, hive.image.Size);
}

// The large hive with every 16th cell freed: many records to recover and
// many broken live references.
void BM_ScanDeletedLargeHiveFreed(benchmark::State& state) {
  const LoadedHive& hive = LargeHive();
  if (!hive.ok) return state.SkipWithError("hive not available");
  std::vector<uint8_t> image(hive.image.Image, hive.image.Image + hive.image.Size);
  uint32_t bins = 0, n = 0;
  std::memcpy(&bins, image.data() + 40, 4);
  for (uint64_t bin = 4096; bin + 32 <= image.size() && bin < 4096ull + bins;) {
    uint32_t binSize = 0;
    std::memcpy(&binSize, image.data() + bin + 8, 4);
    if (binSize < 4096) break;
    for (uint64_t c = bin + 32; c + 4 <= bin + binSize;) {
      int32_t size = 0;
      std::memcpy(&size, image.data() + c, 4);
      if (size == 0) break;
      if (size < 0 && ++n % 16 == 0) {
        size = -size;
        std::memcpy(image.data() + c, &size, 4);
      }
      c += static_cast<uint32_t>(size < 0 ? -size : size);
    }
    bin += binSize;
  }
  Scan(state, image.data(), image.size());
}

BENCHMARK(BM_ScanDeletedSystemHive)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_ScanDeletedLargeHive)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_ScanDeletedLargeHiveFreed)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

}  // namespace
}  // namespace cellbrook::bench
