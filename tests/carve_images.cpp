#include "carve_images.h"

#include "recover/logs/base_block.h"

namespace cellbrook::test {

Bytes JunkImage(uint64_t size, uint32_t seed) {
  Bytes out(size);
  uint64_t x = 0x9E3779B97F4A7C15ull ^ seed;
  for (uint64_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    out[i] = static_cast<uint8_t>(x >> 24);
  }
  return out;
}

void Plant(Bytes& image, uint64_t offset, const Bytes& bytes) {
  if (image.size() < offset + bytes.size()) image.resize(offset + bytes.size(), 0);
  std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
}

Bytes Slice(const Bytes& bytes, uint64_t from, uint64_t to) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

namespace {
void Put32(Bytes& b, uint64_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const Bytes& b, uint64_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
}  // namespace

Bytes MultiBinHive(uint32_t extraBins, bool flagRoot) {
  SampleHive sample = BuildSampleHive();
  Bytes hive = sample.image;
  if (flagRoot) hive[4096 + sample.root + 6] |= 0x04;
  for (uint32_t i = 0; i < extraBins; ++i) {
    const uint64_t rel = hive.size() - 4096;
    Bytes bin(4096, 0);
    std::memcpy(bin.data(), "hbin", 4);
    Put32(bin, 4, static_cast<uint32_t>(rel));
    Put32(bin, 8, 4096);
    Put32(bin, 32, 4096 - 32);  // one free cell
    // Something of its own in each bin, so that a misplaced bin shows.
    Put32(bin, 40, 0xB1B00000u + i);
    hive.insert(hive.end(), bin.begin(), bin.end());
  }
  Put32(hive, 40, static_cast<uint32_t>(hive.size() - 4096));
  Put32(hive, 508, BaseBlockChecksum({hive.data(), 512}));
  return hive;
}

std::vector<uint64_t> BinStarts(const Bytes& hive) {
  std::vector<uint64_t> out;
  const uint64_t end = 4096 + uint64_t{Get32(hive, 40)};
  for (uint64_t at = 4096; at + 12 <= hive.size() && at < end;) {
    out.push_back(at);
    const uint32_t size = Get32(hive, at + 8);
    if (size == 0) break;
    at += size;
  }
  out.push_back(end);
  return out;
}

}  // namespace cellbrook::test
