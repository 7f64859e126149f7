// `keys --details --json` against `keys --json` over SYSTEM, the whole
// command in-process (load, walk, print to /dev/null): the details may cost
// at most twice the plain listing, since each shared security cell is
// decoded once.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "cli/cli.h"
#include "shared_hives.h"

namespace cellbrook::bench {
namespace {

void RunListing(benchmark::State& state, std::vector<std::string> extra) {
  if (!test::SharedHivesPresent()) return state.SkipWithError("shared hives not available");
  std::vector<std::string> args = {"keys", test::SharedHivesDir() + "/SYSTEM", "--json", "--no-logs"};
  args.insert(args.end(), extra.begin(), extra.end());
  std::FILE* out = std::fopen("/dev/null", "w");
  std::FILE* err = std::fopen("/dev/null", "w");
  for (auto _ : state) {
    if (RunCli(args, out, err) != 0) state.SkipWithError("the listing failed");
  }
  std::fclose(out);
  std::fclose(err);
}

void BM_KeysJsonSystem(benchmark::State& state) { RunListing(state, {}); }
void BM_KeysDetailsJsonSystem(benchmark::State& state) { RunListing(state, {"--details"}); }

BENCHMARK(BM_KeysJsonSystem)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_KeysDetailsJsonSystem)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

}  // namespace
}  // namespace cellbrook::bench
