// Every command that has --json, as text and as JSON Lines, in-process with
// the output going to /dev/null: the JSON should stay within 1.5 x the text.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_hives.h"
#include "cli/cli.h"
#include "synthetic_hive.h"

namespace cellbrook::bench {
namespace {

std::string WriteTemp(const std::string& name, const uint8_t* bytes, size_t size) {
  const std::string file =
      (std::filesystem::temp_directory_path() / ("cellbrook-" + std::to_string(::getpid()) + "-" + name)).string();
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
  return file;
}

// The large hive as a file for the command line.
const std::string& LargeHiveFile() {
  static const std::string path = [] {
    const LoadedHive& hive = LargeHive();
    return hive.ok ? WriteTemp("large.hive", hive.image.Image, hive.image.Size) : std::string();
  }();
  return path;
}

const std::string& DeletedChainHiveFile() {
  static const std::string path = [] {
    const test::Bytes bytes = test::BuildDeletedChainHive(4000);
    return WriteTemp("chain.hive", bytes.data(), bytes.size());
  }();
  return path;
}

void BM_CliOutput(benchmark::State& state, std::vector<std::string> args) {
  const bool chain = args[1] == "CHAIN";
  const std::string& hive = chain ? DeletedChainHiveFile() : LargeHiveFile();
  if (hive.empty()) return state.SkipWithError("hive not available");
  args[1] = hive;
  std::FILE* sink = std::fopen("/dev/null", "w");
  for (auto _ : state) {
    const int code = RunCli(args, sink, sink);
    if (code != 0) {
      std::fclose(sink);
      return state.SkipWithError("the command failed");
    }
  }
  std::fclose(sink);
}

#define CLI_PAIR(name, ...)                                             \
  BENCHMARK_CAPTURE(BM_CliOutput, name##_text, {__VA_ARGS__})           \
      ->Unit(benchmark::kMillisecond)                                   \
      ->Repetitions(3)                                                  \
      ->ReportAggregatesOnly();                                         \
  BENCHMARK_CAPTURE(BM_CliOutput, name##_json, {__VA_ARGS__, "--json"}) \
      ->Unit(benchmark::kMillisecond)                                   \
      ->Repetitions(3)                                                  \
      ->ReportAggregatesOnly()

CLI_PAIR(keys, "keys", "HIVE");
CLI_PAIR(keys_long, "keys", "HIVE", "--long");
CLI_PAIR(values, "values", "HIVE", "ROOT\\Group0\\Key-0-0");
CLI_PAIR(find, "find", "HIVE", "Value4");
CLI_PAIR(timeline, "timeline", "HIVE");
CLI_PAIR(deleted, "deleted", "CHAIN");
CLI_PAIR(info, "info", "HIVE");

}  // namespace
}  // namespace cellbrook::bench
