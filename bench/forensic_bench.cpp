// Find over every name and data of the large hive, and the timeline of SYSTEM.
#include <benchmark/benchmark.h>

#include "bench_hives.h"
#include "present/hive_search.h"
#include "present/timeline.h"

namespace cellbrook::bench {
namespace {

// The CLI's find: walk, values, names and text data, hits counted.
void FindEverywhere(benchmark::State& state, const LoadedHive& hive, SearchOptions options) {
  if (!hive.ok) return state.SkipWithError("hive not available");
  for (auto _ : state) {
    HiveSearch search(hive.image, options);
    const SearchOutcome outcome = SearchHive(hive.image, search, [](const SearchHit&) {});
    benchmark::DoNotOptimize(outcome.hits);
    state.counters["hits"] = static_cast<double>(outcome.hits);
  }
}

void BM_FindTextInLargeHive(benchmark::State& state) {
  FindEverywhere(state, LargeHive(), {.pattern = "textxxxxxxxxxx"});
}
void BM_FindTextIgnoringCaseInLargeHive(benchmark::State& state) {
  FindEverywhere(state, LargeHive(), {.pattern = "VALUE49999", .ignoreCase = true});
}
void BM_FindBytesInLargeHive(benchmark::State& state) {
  FindEverywhere(state, LargeHive(), {.pattern = "de ad be ef", .hex = true});
}
BENCHMARK(BM_FindTextInLargeHive)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_FindTextIgnoringCaseInLargeHive)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_FindBytesInLargeHive)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

// Collecting and sorting every key, then the CSV text, as `timeline` prints it.
void BM_TimelineOfSystem(benchmark::State& state) {
  const LoadedHive& hive = SystemHive();
  if (!hive.ok) return state.SkipWithError("hive not available");
  for (auto _ : state) {
    const Timeline timeline = CollectTimeline(hive.image);
    size_t bytes = CsvHeader().size();
    for (const TimelineEntry& entry : timeline.entries) bytes += CsvRecord(entry, entry.path).size();
    benchmark::DoNotOptimize(bytes);
    state.counters["keys"] = static_cast<double>(timeline.entries.size());
  }
}
BENCHMARK(BM_TimelineOfSystem)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

}  // namespace
}  // namespace cellbrook::bench
