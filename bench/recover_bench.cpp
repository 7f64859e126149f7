// Recovering the shared dirty UsrClass.dat with its two logs, in memory.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "recover/logs/log_files.h"
#include "shared_hives.h"

namespace cellbrook::bench {
namespace {

struct DirtyHive {
  std::vector<uint8_t> primary;
  std::vector<LogFile> logs;
  bool ok = false;
};

const DirtyHive& DirtyUsrClass() {
  static const DirtyHive hive = [] {
    DirtyHive h;
    const std::string dir = test::SharedHivesDir() + "/dirty/UsrClass/";
    const std::string primary = test::ReadFileBytes(dir + "UsrClass.dat");
    h.primary.assign(primary.begin(), primary.end());
    std::string why;
    for (const char* name : {"UsrClass.dat.LOG1", "UsrClass.dat.LOG2"}) {
      LogFile log;
      if (LoadTransactionLog(dir + name, log, why)) h.logs.push_back(std::move(log));
    }
    h.ok = !h.primary.empty() && h.logs.size() == 2;
    return h;
  }();
  return hive;
}

// Logs already in memory: the parse, the hashes and the copy of the image.
void BM_RecoverUsrClass(benchmark::State& state) {
  const DirtyHive& h = DirtyUsrClass();
  if (!h.ok) return state.SkipWithError("shared dirty hives not available");
  for (auto _ : state) {
    const Recovery r = RecoverFromLogs(h.primary, h.logs);
    benchmark::DoNotOptimize(r.image.data());
    if (!r.applied) return state.SkipWithError("nothing applied");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(h.primary.size() + h.logs[0].bytes.size() + h.logs[1].bytes.size()));
}
BENCHMARK(BM_RecoverUsrClass)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

// What the command line does: discover, read the logs, recover.
void BM_DiscoverReadAndRecoverUsrClass(benchmark::State& state) {
  const DirtyHive& h = DirtyUsrClass();
  if (!h.ok) return state.SkipWithError("shared dirty hives not available");
  const std::string path = test::SharedHivesDir() + "/dirty/UsrClass/UsrClass.dat";
  for (auto _ : state) {
    const Recovery r = RecoverHive(h.primary, path);
    benchmark::DoNotOptimize(r.image.data());
  }
}
BENCHMARK(BM_DiscoverReadAndRecoverUsrClass)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

}  // namespace
}  // namespace cellbrook::bench
