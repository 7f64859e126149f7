// Builds transaction logs in memory for the recovery tests and the fuzz
// seeds: base-block copies, new-format entries (with their hashes) and
// old-format dirty vectors, plus primaries with chosen sequence numbers.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "hive_builder.h"

namespace cellbrook::test {

uint32_t GetLe32(const Bytes& b, size_t off);
void SetLe32(Bytes& b, size_t off, uint32_t v);
// Recomputes the checksum of the base block at the start of `b`.
void FixChecksum(Bytes& b);

// A primary with the given sequence numbers and a correct checksum.
Bytes WithSequences(Bytes primary, uint32_t primarySequence, uint32_t secondarySequence);
// Appends empty 4096-byte bins (one free cell each) and updates the hive
// bins data size; returns the relative offset of the first new bin.
uint32_t AppendEmptyBins(Bytes& image, uint32_t count);
// A 4096-byte bin at relative offset `rel` holding one free cell, its bytes
// after the header filled with `fill`.
Bytes EmptyBin(uint32_t rel, uint8_t fill = 0);

// The 512-byte base-block copy a log starts with: the primary's first
// sector with both sequence numbers `sequence`, the file type and (when
// non-zero) the hive bins data size, checksum fixed.
Bytes LogBaseBlock(const Bytes& primary, uint32_t sequence, uint32_t fileType, uint32_t binsSize = 0);

struct LogPage {
  uint32_t offset;  // relative, a multiple of 4096
  Bytes bytes;      // a multiple of 4096
};
// One "HvLE" entry with correct hashes.
Bytes NewLogEntry(uint32_t sequence, uint32_t binsSize, const std::vector<LogPage>& pages, uint32_t flags = 0);
// Recomputes both hashes of the entry at `offset` in `log`.
void RehashEntry(Bytes& log, size_t offset);
Bytes NewFormatLog(const Bytes& baseCopy, const std::vector<Bytes>& entries);

// Old format: base copy (file type 1), "DIRT", the bitmap for the copy's
// hive bins data size, then the pages; each page is (512-byte page index,
// 512 bytes).
Bytes OldFormatLog(const Bytes& baseCopy, const std::vector<std::pair<uint32_t, Bytes>>& pages);

}  // namespace cellbrook::test
