// First phase of the deleted scan: the base block's fields, the bins and
// their cells, and the stretches no valid bin or cell covers (scanned raw).
#pragma once

#include <cstdint>
#include <vector>

#include "recover/deleted/scan_bytes.h"

namespace cellbrook::deleted {

constexpr uint8_t kAllocated = 1, kReferenced = 2;

struct Cell {
  uint32_t off = 0;   // relative
  uint32_t size = 0;  // bytes, size field included
  uint32_t used = 0;  // logical end of a referenced cell's record (set by the live marks)
  uint8_t flags = 0;
};

// A stretch of bytes with no trustworthy cell structure: scanned raw.
struct RawRegion {
  uint64_t begin, end;  // file offsets
  RecordPlace place;
};

class CellMap {
 public:
  explicit CellMap(ScanBytes bytes) : bytes_(bytes) {}

  // False when the image is too short to hold a base block and a bin.
  bool Read(ScanDamage& damage);

  const ScanBytes& Bytes() const { return bytes_; }
  uint64_t BinsRel() const { return binsRel_; }  // bytes of bins data scanned
  uint64_t BinsEnd() const { return kBase + binsRel_; }
  uint64_t FileRel() const { return fileRel_; }  // bytes from the bins base to the file's end
  uint32_t Root() const { return root_; }
  uint32_t Minor() const { return minor_; }

  std::vector<Cell>& Cells() { return cells_; }
  const std::vector<Cell>& Cells() const { return cells_; }
  const std::vector<RawRegion>& Raw() const { return raw_; }

  // Index of the cell starting at relative offset rel, or -1.
  int64_t CellAt(uint64_t rel) const {
    if (rel % cell_field::Alignment != 0 || rel >= binsRel_) return -1;
    const uint64_t slot = rel / 8, word = slot / 64;
    const uint64_t bits = starts_[word];
    const uint64_t below = bits & ((uint64_t{1} << (slot % 64)) - 1);
    if (!(bits >> (slot % 64) & 1)) return -1;
    return rank_[word] + BitCount(below);
  }
  // A cell the live structure references (after the live marks).
  bool IsLive(uint64_t rel) const {
    const int64_t i = CellAt(rel);
    return i >= 0 && (cells_[i].flags & kReferenced);
  }
  uint16_t Sig(const Cell& c) const { return bytes_.U16(kBase + c.off + cell_field::Signature); }
  // Size of the cell at relative offset rel when its size field is
  // plausible, else 0. The bytes after the bins are an older state of the
  // same hive, its offsets counted from the same base: a cell there is
  // read as far as the file goes.
  uint32_t PlausibleCellSize(uint64_t rel) const;

 private:
  // Bits set, without a library call where the target lacks the instruction.
  static uint32_t BitCount(uint64_t x) {
    x = x - ((x >> 1) & 0x5555555555555555ull);
    x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return static_cast<uint32_t>((x * 0x0101010101010101ull) >> 56);
  }
  void WalkBins(ScanDamage& damage);
  void WalkCells(uint64_t bin, uint64_t binEnd, ScanDamage& damage);
  bool AllZero(uint64_t begin, uint64_t end) const;
  void IndexCells();

  ScanBytes bytes_;
  uint64_t binsRel_ = 0, fileRel_ = 0;
  uint32_t root_ = kNoCell, minor_ = 0;
  std::vector<Cell> cells_;
  std::vector<RawRegion> raw_;
  // A bit a cell start (cells sit 8-aligned), with a running count a word.
  std::vector<uint64_t> starts_;
  std::vector<uint32_t> rank_;
};

}  // namespace cellbrook::deleted
