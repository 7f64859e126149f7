// Walking every key and value of a hive as the window does.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_hives.h"
#include "hive/key_walk.h"
#include "present/value_text.h"

namespace cellbrook::bench {
namespace {

// EnumSubkeys, EnumValues, ValueTypeName and FormatValueText for every key.
void WalkEveryValue(benchmark::State& state, const LoadedHive& hive) {
  if (!hive.ok) return state.SkipWithError("hive not available");
  KeyInfo root;
  GetRootKey(hive.image, root);
  struct Walker {
    const HiveImage& image;
    std::vector<ValueInfo> values;
    char16_t text[kValueTextUnits];
    size_t keys = 0, count = 0;
    bool Enter(const KeyInfo& key, uint32_t) {
      ++keys;
      if (key.ValueCount == 0) return true;
      values.resize(std::min<uint64_t>(key.ValueCount, MaxValueArray(image)));
      const uint32_t n = EnumValues(image, key, values.data(), 0, static_cast<uint32_t>(values.size()));
      for (uint32_t i = 0; n != kNoEntries && i < n; ++i) {
        benchmark::DoNotOptimize(ValueTypeName(values[i].Type));
        FormatValueText(image, values[i], text);
        count += text[0];
      }
      return true;
    }
    void Leave(const KeyInfo&, uint32_t) {}
    void Missing(uint32_t) {}
  };
  for (auto _ : state) {
    Walker w{hive.image, {}, {}};
    WalkKeys(hive.image, root, kMaxKeyDepth, w);
    benchmark::DoNotOptimize(w.count);
    state.counters["keys"] = static_cast<double>(w.keys);
  }
}

void BM_WalkSystemHive(benchmark::State& state) { WalkEveryValue(state, SystemHive()); }
BENCHMARK(BM_WalkSystemHive)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

}  // namespace
}  // namespace cellbrook::bench
