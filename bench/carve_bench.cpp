// Scanning a 1 GiB disk image for hives, from the page cache: junk with
// three hives planted (SYSTEM in two fragments, NTUSER.DAT with its base
// block wiped, SAM), or three builder hives when the shared ones are absent.
// The image is made once in the build folder and kept for later runs.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <fstream>

#include "carve_images.h"
#include "recover/carve/hive_carver.h"
#include "shared_hives.h"

namespace cellbrook::bench {
namespace {

constexpr uint64_t kImageSize = uint64_t{1} << 30;

std::string ImagePath() {
  const std::string path = test::ScratchPath("");
  // One image for every run, not one per process.
  return path.substr(0, path.rfind('/')) + "/carve-bench-1gib.img";
}

test::Bytes Hive(const char* name, uint32_t extraBins) {
  if (test::SharedHivesPresent()) {
    const std::string s = test::ReadFileBytes(test::SharedHivesDir() + "/" + name);
    return test::Bytes(s.begin(), s.end());
  }
  return test::MultiBinHive(extraBins);
}

const std::string& Image() {
  static const std::string path = [] {
    const std::string p = ImagePath();
    struct stat st {};
    if (::stat(p.c_str(), &st) == 0 && static_cast<uint64_t>(st.st_size) == kImageSize) return p;
    const test::Bytes system = Hive("SYSTEM", 40), ntuser = Hive("NTUSER.DAT", 20), sam = Hive("SAM", 5);
    const auto s = test::BinStarts(system);
    const auto n = test::BinStarts(ntuser);
    const auto m = test::BinStarts(sam);
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    // 64 MiB of junk at a time, the hives planted in their chunk.
    const uint64_t chunk = uint64_t{64} << 20;
    const test::Bytes junk = test::JunkImage(chunk, 3);
    for (uint64_t at = 0; at < kImageSize; at += chunk) {
      test::Bytes block = junk;
      const size_t index = at / chunk;
      if (index == 2) test::Plant(block, 0x100000 + 512, test::Slice(system, 0, s[s.size() / 2]));
      if (index == 5) test::Plant(block, 0x3000, test::Slice(ntuser, 4096, n.back()));
      if (index == 9) test::Plant(block, 0x200000, test::Slice(system, s[s.size() / 2], s.back()));
      if (index == 14) test::Plant(block, 0x10000 + 7 * 512, test::Slice(sam, 0, m.back()));
      block.resize(chunk);
      out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
    }
    return p;
  }();
  return path;
}

void BM_CarveImage1GiB(benchmark::State& state) {
  std::string error;
  size_t hives = 0;
  Image();  // made before the clock starts
  for (auto _ : state) {
    auto source = OpenImageSource(Image(), error);
    if (!source) return state.SkipWithError(error.c_str());
    const CarveReport report = CarveImage(*source);
    hives = report.hives.size();
    benchmark::DoNotOptimize(report.hives.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kImageSize));
  state.counters["hives"] = static_cast<double>(hives);
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_CarveImage1GiB)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Writing them out as well: the largest hive assembled in memory at a time.
void BM_CarveAndAssemble1GiB(benchmark::State& state) {
  std::string error;
  std::vector<uint8_t> bytes;
  Image();
  for (auto _ : state) {
    auto source = OpenImageSource(Image(), error);
    if (!source) return state.SkipWithError(error.c_str());
    const CarveReport report = CarveImage(*source);
    for (const CarvedHive& h : report.hives) {
      AssembleHive(*source, h, bytes);
      benchmark::DoNotOptimize(bytes.data());
      std::vector<uint8_t>().swap(bytes);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kImageSize));
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_CarveAndAssemble1GiB)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
}  // namespace cellbrook::bench
