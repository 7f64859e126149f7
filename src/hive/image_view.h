// Bounded, little-endian view of a hive image. Every read of hive bytes goes
// through here: offsets are plain integers, checked against the size before
// any address is formed, so a hostile offset can only ever yield "not there".
#pragma once

#include <cstdint>
#include <cstring>

namespace cellbrook {

class ImageView {
 public:
  ImageView(const uint8_t* base, uint64_t size) : base_(base), size_(size) {}

  uint64_t size() const { return size_; }
  const uint8_t* base() const { return base_; }

  // True when [off, off + len) lies wholly inside the image.
  bool Contains(uint64_t off, uint64_t len) const { return off <= size_ && len <= size_ - off; }

  // Address of off when [off, off + len) is inside, else null.
  const uint8_t* At(uint64_t off, uint64_t len) const { return Contains(off, len) ? base_ + off : nullptr; }

  bool U16(uint64_t off, uint16_t& out) const {
    if (!Contains(off, 2)) return false;
    out = Le16(base_ + off);
    return true;
  }
  bool U32(uint64_t off, uint32_t& out) const {
    if (!Contains(off, 4)) return false;
    out = Le32(base_ + off);
    return true;
  }

  // Offset of an address handed back by a caller (a tree node's data, say),
  // or false when it does not point into the image.
  bool OffsetOf(const void* address, uint64_t& out) const {
    if (address == nullptr || base_ == nullptr) return false;
    auto a = reinterpret_cast<uintptr_t>(address);
    auto b = reinterpret_cast<uintptr_t>(base_);
    if (a < b || a - b >= size_) return false;
    out = a - b;
    return true;
  }

  static uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
  static uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
  }

 private:
  const uint8_t* base_;
  uint64_t size_;
};

}  // namespace cellbrook
