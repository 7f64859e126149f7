// Walking every key and value of a hive as the window does.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_hives.h"
#include "hive/key_walk.h"
#include "present/value_text.h"

namespace cellbrook::bench {
namespace {

// The walk, ReadValues, ValueTypeName and FormatValueText for every key.
void WalkEveryValue(benchmark::State& state, const LoadedHive& hive) {
  if (!hive.ok) return state.SkipWithError("hive not available");
  KeyInfo root;
  GetRootKey(hive.image, root);
  struct Walker {
    const HiveImage& image;
    KeyWalk& walk;
    ValueList values;
    char16_t text[kValueTextUnits];
    size_t keys = 0, count = 0;
    bool Enter(const KeyInfo& key, uint32_t) {
      ++keys;
      ReadValues(image, key, walk.Budget(), values);
      for (const ValueInfo& value : values.values) {
        benchmark::DoNotOptimize(ValueTypeName(value.Type));
        FormatValueText(value, text);
        count += text[0];
      }
      return true;
    }
    void Leave(const KeyInfo&, uint32_t) {}
    void Missing(uint32_t) {}
  };
  for (auto _ : state) {
    KeyWalk walk(hive.image, "ROOT");
    Walker w{hive.image, walk, {}, {}};
    walk.Run(root, w);
    benchmark::DoNotOptimize(w.count);
    state.counters["keys"] = static_cast<double>(w.keys);
  }
}

void BM_WalkSystemHive(benchmark::State& state) { WalkEveryValue(state, SystemHive()); }
BENCHMARK(BM_WalkSystemHive)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

}  // namespace
}  // namespace cellbrook::bench
