#include "recover/logs/marvin32.h"

#include <bit>

#include "hive/image_view.h"

namespace cellbrook {
namespace {

struct MarvinState {
  uint32_t lo, hi;
  void Mix(uint32_t v) {
    lo += v;
    hi ^= lo;
    lo = std::rotl(lo, 20) + hi;
    hi = std::rotl(hi, 9) ^ lo;
    lo = std::rotl(lo, 27) + hi;
    hi = std::rotl(hi, 19);
  }
};

}  // namespace

uint64_t Marvin32(std::span<const uint8_t> data, uint64_t seed) {
  MarvinState s{static_cast<uint32_t>(seed), static_cast<uint32_t>(seed >> 32)};
  const size_t whole = data.size() / 4 * 4;
  for (size_t i = 0; i < whole; i += 4) s.Mix(ImageView::Le32(data.data() + i));
  const uint8_t* rest = data.data() + whole;
  uint32_t last = 0x80;
  switch (data.size() - whole) {
    case 1:
      last = rest[0] | 0x8000u;
      break;
    case 2:
      last = rest[0] | (uint32_t{rest[1]} << 8) | 0x800000u;
      break;
    case 3:
      last = rest[0] | (uint32_t{rest[1]} << 8) | (uint32_t{rest[2]} << 16) | 0x80000000u;
      break;
    default:
      break;
  }
  s.Mix(last);
  s.Mix(0);
  return (uint64_t{s.hi} << 32) | s.lo;
}

}  // namespace cellbrook
