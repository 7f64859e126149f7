// Every artifact of the shared SYSTEM and NTUSER.DAT, as the panel and
// `artifacts` decode them: goal 50 ms each.
#include <benchmark/benchmark.h>

#include "artifacts/artifact_run.h"
#include "bench_hives.h"

namespace cellbrook::bench {
namespace {

void AllArtifacts(benchmark::State& state, const LoadedHive& hive) {
  if (!hive.ok) return state.SkipWithError("hive not available");
  for (auto _ : state) {
    const ArtifactRun run = RunArtifacts(hive.image);
    size_t bytes = 0;
    for (const ArtifactRecord& r : run.records) {
      for (const FieldValue& f : r.fields) bytes += FieldText(f).size();
    }
    benchmark::DoNotOptimize(bytes);
    state.counters["records"] = static_cast<double>(run.records.size());
  }
}

void BM_AllArtifactsOfSystem(benchmark::State& state) { AllArtifacts(state, SystemHive()); }
void BM_AllArtifactsOfNtuser(benchmark::State& state) { AllArtifacts(state, UserHive()); }
BENCHMARK(BM_AllArtifactsOfSystem)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_AllArtifactsOfNtuser)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

}  // namespace
}  // namespace cellbrook::bench
