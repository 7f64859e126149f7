// Comparing the large hive with a copy changed in 1,000 places, against one
// walk (keys and value lists) of both hives: the goal is at most twice the walk.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "bench_hives.h"
#include "compare/hive_compare.h"
#include "hive/key_walk.h"

namespace cellbrook::bench {
namespace {

struct ChangedCopy {
  std::unique_ptr<uint8_t[]> bytes;
  HiveImage image;
  size_t changed = 0;
};

// The large hive with 1,000 inline values' data flipped, spread evenly.
const ChangedCopy& Changed() {
  static const ChangedCopy copy = [] {
    ChangedCopy c;
    const LoadedHive& hive = LargeHive();
    if (!hive.ok) return c;
    c.bytes.reset(new uint8_t[hive.image.Size]);
    std::memcpy(c.bytes.get(), hive.image.Image, hive.image.Size);
    AttachImage(c.image, c.bytes.get(), hive.image.Size);
    std::vector<uint32_t> inlineValues;
    KeyInfo root;
    GetRootKey(hive.image, root);
    KeyWalk walk(hive.image, "ROOT");
    struct Collector {
      const HiveImage& image;
      KeyWalk& walk;
      std::vector<uint32_t>& out;
      ValueList list;
      bool Enter(const KeyInfo& key, uint32_t) {
        ReadValues(image, key, walk.Budget(), list);
        for (const ValueInfo& v : list.values) {
          if (v.Ref && v.Type == RegDword && v.DataLength == 4) out.push_back(v.Ref.cell);
        }
        return true;
      }
      void Leave(const KeyInfo&, uint32_t) {}
      void Missing(uint32_t) {}
    } collector{hive.image, walk, inlineValues, {}};
    walk.Run(root, collector);
    const size_t step = inlineValues.size() / 1000;
    for (size_t i = 0; step > 0 && i < 1000; ++i) {
      // The data sit in the offset field of the value's cell.
      c.bytes[kBaseBlockSize + inlineValues[i * step] + value_field::Data] ^= 0x5A;
      ++c.changed;
    }
    return c;
  }();
  return copy;
}

size_t WalkOnce(const HiveImage& image) {
  KeyInfo root;
  GetRootKey(image, root);
  KeyWalk walk(image, "ROOT");
  struct Walker {
    const HiveImage& image;
    KeyWalk& walk;
    ValueList values;
    size_t count = 0;
    bool Enter(const KeyInfo& key, uint32_t) {
      ReadValues(image, key, walk.Budget(), values);
      count += values.values.size();
      return true;
    }
    void Leave(const KeyInfo&, uint32_t) {}
    void Missing(uint32_t) {}
  } walker{image, walk, {}};
  walk.Run(root, walker);
  return walker.count;
}

void BM_WalkBothHives(benchmark::State& state) {
  const LoadedHive& hive = LargeHive();
  const ChangedCopy& copy = Changed();
  if (!hive.ok || copy.changed == 0) return state.SkipWithError("hive not available");
  for (auto _ : state) {
    benchmark::DoNotOptimize(WalkOnce(hive.image) + WalkOnce(copy.image));
  }
}
BENCHMARK(BM_WalkBothHives)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

void BM_CompareChangedCopy(benchmark::State& state) {
  const LoadedHive& hive = LargeHive();
  const ChangedCopy& copy = Changed();
  if (!hive.ok || copy.changed == 0) return state.SkipWithError("hive not available");
  KeyInfo a, b;
  GetRootKey(hive.image, a);
  GetRootKey(copy.image, b);
  const CompareSide oldSide{&hive.image, a, {}}, newSide{&copy.image, b, {}};
  uint64_t changes = 0;
  for (auto _ : state) {
    size_t seen = 0;
    const CompareOutcome outcome = CompareTrees(oldSide, newSide, "ROOT", u"ROOT", [&](const Change&) { ++seen; });
    changes = outcome.changes;
    benchmark::DoNotOptimize(seen);
  }
  state.counters["changes"] = static_cast<double>(changes);
}
BENCHMARK(BM_CompareChangedCopy)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

}  // namespace
}  // namespace cellbrook::bench
