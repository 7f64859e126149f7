// cellbrook-bench [--write-synthetic PATH | --write-deleted-chain PATH] [benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#ifdef CELLBROOK_BENCH_WINDOWS
#include <QApplication>
#endif

#include "bench_hives.h"
#include "shared_hives.h"
#include "synthetic_hive.h"

namespace cellbrook::bench {

namespace {
LoadedHive Load(const std::string& path) {
  LoadedHive h;
  h.ok = LoadHiveFile(path, h.block, h.image) == LoadOutcome::Loaded;
  return h;
}
}  // namespace

const LoadedHive& SystemHive() {
  static const LoadedHive hive = Load(test::SharedHivesDir() + "/SYSTEM");
  return hive;
}

const LoadedHive& UserHive() {
  static const LoadedHive hive = Load(test::SharedHivesDir() + "/NTUSER.DAT");
  return hive;
}

const LoadedHive& LargeHive() {
  static const LoadedHive hive = [] {
    if (const char* path = std::getenv("CELLBROOK_BENCH_HIVE")) return Load(path);
    const test::Bytes bytes = test::BuildSyntheticHive();
    LoadedHive h;
    h.block.bytes.reset(new uint8_t[bytes.size()]);
    std::memcpy(h.block.bytes.get(), bytes.data(), bytes.size());
    h.block.size = static_cast<uint32_t>(bytes.size());
    h.ok = AttachImage(h.image, h.block.bytes.get(), h.block.size);
    return h;
  }();
  return hive;
}

}  // namespace cellbrook::bench

int main(int argc, char** argv) {
  if (argc == 3 &&
      (std::strcmp(argv[1], "--write-synthetic") == 0 || std::strcmp(argv[1], "--write-deleted-chain") == 0)) {
    const cellbrook::test::Bytes bytes = std::strcmp(argv[1], "--write-synthetic") == 0
                                             ? cellbrook::test::BuildSyntheticHive()
                                             : cellbrook::test::BuildDeletedChainHive();
    std::ofstream(argv[2], std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return 0;
  }
#ifdef CELLBROOK_BENCH_WINDOWS
  // The window benchmarks run offscreen unless a platform is asked for.
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
#endif
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
