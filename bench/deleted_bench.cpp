// Scanning a hive for deleted keys and values.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_hives.h"
#include "cli/cli.h"
#include "recover/deleted/deleted_scan.h"
#include "synthetic_hive.h"

namespace cellbrook::bench {
namespace {

void Scan(benchmark::State& state, const uint8_t* image, uint64_t size) {
  for (auto _ : state) {
    const DeletedScan scan = ScanDeletedRecords(HiveImage{image, static_cast<uint32_t>(size), image});
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

// The 4.5 MB hive with 40,000 deleted keys chained parent to child, as a file.
const std::string& DeletedChainFile() {
  static const std::string path = [] {
    const std::string file =
        (std::filesystem::temp_directory_path() / ("cellbrook-deleted-chain-" + std::to_string(::getpid()) + ".hive"))
            .string();
    const test::Bytes bytes = test::BuildDeletedChainHive();
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return file;
  }();
  return path;
}

// A command that takes in deleted records, run on the chain in a child
// process: its peak resident size against the goal of 4 x hive + 64 MiB.
void BM_DeletedChainPeakMemory(benchmark::State& state, std::vector<std::string> args) {
  const std::string& hive = DeletedChainFile();
  const std::string reg = hive + ".reg";
  for (std::string& arg : args) {
    if (arg == "HIVE") arg = hive;
    if (arg == "OUT") arg = reg;
  }
  const double hiveMiB = static_cast<double>(std::filesystem::file_size(hive)) / (1 << 20);
  double peakMiB = 0;
  for (auto _ : state) {
    const pid_t child = ::fork();
    if (child == 0) {
      std::FILE* sink = std::fopen("/dev/null", "w");
      ::_exit(RunCli(args, sink, sink));
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      return state.SkipWithError("the command failed");
    }
    peakMiB = static_cast<double>(usage.ru_maxrss) / 1024;
  }
  std::remove(reg.c_str());
  state.counters["peak_MiB"] = peakMiB;
  state.counters["goal_MiB"] = 4 * hiveMiB + 64;
  state.counters["hive_MiB"] = hiveMiB;
}
BENCHMARK_CAPTURE(BM_DeletedChainPeakMemory, deleted, {"deleted", "HIVE"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_DeletedChainPeakMemory, deleted_json, {"deleted", "HIVE", "--json"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_DeletedChainPeakMemory, deleted_reg, {"deleted", "HIVE", "--reg", "OUT"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_DeletedChainPeakMemory, timeline_deleted, {"timeline", "HIVE", "--deleted"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_DeletedChainPeakMemory, find_deleted, {"find", "HIVE", "Link", "--deleted"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

BENCHMARK(BM_ScanDeletedSystemHive)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_ScanDeletedLargeHive)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_ScanDeletedLargeHiveFreed)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

}  // namespace
}  // namespace cellbrook::bench
