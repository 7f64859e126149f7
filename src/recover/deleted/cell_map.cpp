#include "recover/deleted/cell_map.h"

#include <algorithm>

namespace cellbrook::deleted {

bool CellMap::Read(ScanDamage& damage) {
  if (bytes_.Size() <= kBase + bin_field::HeaderSize) return false;
  const uint32_t binsSize = bytes_.U32(base_field::HiveBinsDataSize);
  root_ = bytes_.U32(base_field::RootCell);
  minor_ = bytes_.U32(base_field::MinorVersion);
  const uint64_t available = bytes_.Size() - kBase;
  // A size of nought or past the file's end: the bins run to the end.
  binsRel_ = binsSize == 0 || binsSize > available ? available : binsSize;
  fileRel_ = available;
  WalkBins(damage);
  IndexCells();
  return true;
}

void CellMap::WalkBins(ScanDamage& damage) {
  cells_.reserve(binsRel_ / 64);
  uint64_t bin = 0;
  while (bin < binsRel_) {
    const uint32_t sig = bytes_.U32(kBase + bin + bin_field::Signature);
    const uint32_t size = bytes_.U32(kBase + bin + bin_field::Size);
    if (sig != bin_field::SignatureValue || size < kPageSize || size % kPageSize != 0 || size > binsRel_ - bin) {
      const uint64_t end = std::min<uint64_t>(bin + kPageSize, binsRel_);
      ++damage.badBins;
      raw_.push_back({kBase + bin, kBase + end, RecordPlace::DamagedBin});
      bin = end;
      continue;
    }
    WalkCells(bin, bin + size, damage);
    bin += size;
  }
  if (BinsEnd() < bytes_.Size()) raw_.push_back({BinsEnd(), bytes_.Size(), RecordPlace::AfterBins});
}

void CellMap::WalkCells(uint64_t bin, uint64_t binEnd, ScanDamage& damage) {
  uint64_t c = bin + bin_field::HeaderSize;
  while (c < binEnd) {
    const int32_t s = static_cast<int32_t>(bytes_.U32(kBase + c + cell_field::Size));
    const uint64_t size = s < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(s)) : static_cast<uint64_t>(s);
    if (size < cell_field::MinSize || size % cell_field::Alignment != 0 || size > binEnd - c) {
      if (!AllZero(kBase + c, kBase + binEnd)) {
        ++damage.badCells;
        raw_.push_back({kBase + c, kBase + binEnd, RecordPlace::DamagedBin});
      }
      return;
    }
    Cell cell;
    cell.off = static_cast<uint32_t>(c);
    cell.size = static_cast<uint32_t>(size);
    cell.flags = s < 0 ? kAllocated : 0;
    cells_.push_back(cell);
    c += size;
  }
}

bool CellMap::AllZero(uint64_t begin, uint64_t end) const {
  const uint8_t* p = bytes_.View().At(begin, end - begin);
  return p != nullptr && std::all_of(p, p + (end - begin), [](uint8_t b) { return b == 0; });
}

void CellMap::IndexCells() {
  const uint64_t slots = binsRel_ / 8 + 1;
  starts_.assign((slots + 63) / 64, 0);
  for (const Cell& c : cells_) starts_[c.off / 512] |= uint64_t{1} << (c.off / 8 % 64);
  rank_.resize(starts_.size());
  uint32_t total = 0;
  for (size_t w = 0; w < starts_.size(); ++w) {
    rank_[w] = total;
    total += BitCount(starts_[w]);
  }
}

uint32_t CellMap::PlausibleCellSize(uint64_t rel) const {
  if (rel >= fileRel_ || fileRel_ - rel < cell_field::MinSize) return 0;
  const int32_t s = static_cast<int32_t>(bytes_.U32(kBase + rel + cell_field::Size));
  const uint64_t size = s < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(s)) : static_cast<uint64_t>(s);
  if (size < cell_field::MinSize || size % cell_field::Alignment != 0 || size > fileRel_ - rel) return 0;
  return static_cast<uint32_t>(size);
}

}  // namespace cellbrook::deleted
