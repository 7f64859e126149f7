// Whole exports to a file.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include "bench_hives.h"
#include "export/registry_text_writer.h"

namespace cellbrook::bench {
namespace {

void ExportWhole(benchmark::State& state, const LoadedHive& hive) {
  if (!hive.ok) return state.SkipWithError("hive not available");
  KeyInfo root;
  GetRootKey(hive.image, root);
  const char* path = "/tmp/cellbrook-bench-export.reg";
  for (auto _ : state) {
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    {
      OutputSink sink(fd);
      WriteRegFileHeader(sink);
      ExportKeyText(hive.image, "HKEY_LOCAL_MACHINE\\SYSTEM", sink, root.Ref);
    }
    ::close(fd);
  }
  ::unlink(path);
}

void BM_ExportSystemHive(benchmark::State& state) { ExportWhole(state, SystemHive()); }
void BM_ExportLargeHive(benchmark::State& state) { ExportWhole(state, LargeHive()); }
BENCHMARK(BM_ExportSystemHive)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_ExportLargeHive)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

}  // namespace
}  // namespace cellbrook::bench
