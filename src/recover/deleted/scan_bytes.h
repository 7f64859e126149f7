// What every phase of the deleted scan shares: the scanned bytes, read so
// that a field outside the image reads as nought, and the work budget that
// keeps the scan linear in the image.
#pragma once

#include <cstdint>

#include "hive/deleted_records.h"
#include "hive/image_view.h"
#include "hive/regf_layout.h"

namespace cellbrook::deleted {

constexpr uint64_t kBase = kBaseBlockSize;  // file offset of the bins base

class ScanBytes {
 public:
  explicit ScanBytes(ImageView view) : v_(view) {}
  const ImageView& View() const { return v_; }
  uint64_t Size() const { return v_.size(); }
  uint16_t U16(uint64_t off) const {
    uint16_t x = 0;
    v_.U16(off, x);
    return x;
  }
  uint32_t U32(uint64_t off) const {
    uint32_t x = 0;
    v_.U32(off, x);
    return x;
  }
  uint64_t U64(uint64_t off) const { return U32(off) | uint64_t{U32(off + 4)} << 32; }

 private:
  ImageView v_;
};

// Names read, list entries and path steps: a few times the image at most.
// Work given up for want of budget is counted as damage.
class ScanBudget {
 public:
  ScanBudget(uint64_t imageSize, ScanDamage& damage) : left_(4 * imageSize + (uint64_t{1} << 20)), damage_(damage) {}
  bool Spend(uint64_t steps = 1) {
    if (left_ < steps) {
      left_ = 0;
      ++damage_.budgetExhausted;
      return false;
    }
    left_ -= steps;
    return true;
  }

 private:
  uint64_t left_;
  ScanDamage& damage_;
};

}  // namespace cellbrook::deleted
