#include "log_builder.h"

#include <algorithm>
#include <cstring>

#include "recover/logs/base_block.h"
#include "recover/logs/marvin32.h"

namespace cellbrook::test {

uint32_t GetLe32(const Bytes& b, size_t off) {
  return b.at(off) | (b.at(off + 1) << 8) | (b.at(off + 2) << 16) | (static_cast<uint32_t>(b.at(off + 3)) << 24);
}

void SetLe32(Bytes& b, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(off + i) = static_cast<uint8_t>(v >> (8 * i));
}

void FixChecksum(Bytes& b) { SetLe32(b, 508, BaseBlockChecksum({b.data(), 508})); }

Bytes WithSequences(Bytes primary, uint32_t primarySequence, uint32_t secondarySequence) {
  SetLe32(primary, 4, primarySequence);
  SetLe32(primary, 8, secondarySequence);
  FixChecksum(primary);
  return primary;
}

Bytes EmptyBin(uint32_t rel, uint8_t fill) {
  Bytes bin(4096, fill);
  std::memcpy(bin.data(), "hbin", 4);
  SetLe32(bin, 4, rel);
  SetLe32(bin, 8, 4096);
  std::fill(bin.begin() + 12, bin.begin() + 32, 0);
  SetLe32(bin, 32, 4096 - 32);  // one free cell
  return bin;
}

uint32_t AppendEmptyBins(Bytes& image, uint32_t count) {
  const auto first = static_cast<uint32_t>(image.size() - 4096);
  for (uint32_t i = 0; i < count; ++i) {
    const Bytes bin = EmptyBin(static_cast<uint32_t>(image.size() - 4096));
    image.insert(image.end(), bin.begin(), bin.end());
  }
  SetLe32(image, 40, static_cast<uint32_t>(image.size() - 4096));
  FixChecksum(image);
  return first;
}

Bytes LogBaseBlock(const Bytes& primary, uint32_t sequence, uint32_t fileType, uint32_t binsSize) {
  Bytes copy(primary.begin(), primary.begin() + 512);
  SetLe32(copy, 4, sequence);
  SetLe32(copy, 8, sequence);
  SetLe32(copy, 28, fileType);
  if (binsSize != 0) SetLe32(copy, 40, binsSize);
  FixChecksum(copy);
  return copy;
}

void RehashEntry(Bytes& log, size_t offset) {
  const uint32_t size = GetLe32(log, offset + 4);
  const uint64_t h1 = Marvin32({log.data() + offset + 40, size - 40});
  SetLe32(log, offset + 24, static_cast<uint32_t>(h1));
  SetLe32(log, offset + 28, static_cast<uint32_t>(h1 >> 32));
  const uint64_t h2 = Marvin32({log.data() + offset, 32});
  SetLe32(log, offset + 32, static_cast<uint32_t>(h2));
  SetLe32(log, offset + 36, static_cast<uint32_t>(h2 >> 32));
}

Bytes NewLogEntry(uint32_t sequence, uint32_t binsSize, const std::vector<LogPage>& pages, uint32_t flags) {
  Bytes e(40 + 8 * pages.size(), 0);
  std::memcpy(e.data(), "HvLE", 4);
  SetLe32(e, 8, flags);
  SetLe32(e, 12, sequence);
  SetLe32(e, 16, binsSize);
  SetLe32(e, 20, static_cast<uint32_t>(pages.size()));
  for (size_t i = 0; i < pages.size(); ++i) {
    SetLe32(e, 40 + 8 * i, pages[i].offset);
    SetLe32(e, 44 + 8 * i, static_cast<uint32_t>(pages[i].bytes.size()));
  }
  for (const LogPage& p : pages) e.insert(e.end(), p.bytes.begin(), p.bytes.end());
  e.resize((e.size() + 511) / 512 * 512, 0);
  SetLe32(e, 4, static_cast<uint32_t>(e.size()));
  RehashEntry(e, 0);
  return e;
}

Bytes NewFormatLog(const Bytes& baseCopy, const std::vector<Bytes>& entries) {
  Bytes log = baseCopy;
  for (const Bytes& e : entries) log.insert(log.end(), e.begin(), e.end());
  return log;
}

Bytes OldFormatLog(const Bytes& baseCopy, const std::vector<std::pair<uint32_t, Bytes>>& pages) {
  Bytes log = baseCopy;
  const uint32_t binsSize = GetLe32(baseCopy, 40);
  Bytes bitmap(binsSize / 512 / 8, 0);
  auto sorted = pages;
  std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [index, bytes] : sorted) bitmap.at(index / 8) |= static_cast<uint8_t>(1u << (index % 8));
  log.insert(log.end(), {'D', 'I', 'R', 'T'});
  log.insert(log.end(), bitmap.begin(), bitmap.end());
  log.resize((log.size() + 511) / 512 * 512, 0);
  for (const auto& [index, bytes] : sorted) {
    Bytes page = bytes;
    page.resize(512, 0);
    log.insert(log.end(), page.begin(), page.end());
  }
  return log;
}

}  // namespace cellbrook::test
