// Disk images built for the carving tests: hives planted in junk at chosen
// offsets, split into fragments at bin boundaries, base blocks wiped.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "hive_builder.h"
#include "recover/carve/image_source.h"

namespace cellbrook::test {

// Junk of `size` bytes (a fixed pseudo-random sequence) to plant into.
Bytes JunkImage(uint64_t size, uint32_t seed = 1);
// Copies `bytes` into `image` at `offset`, growing it when needed.
void Plant(Bytes& image, uint64_t offset, const Bytes& bytes);
// The bytes [from, to) of `bytes`.
Bytes Slice(const Bytes& bytes, uint64_t from, uint64_t to);

// A builder hive followed by `extraBins` bins of 4096 bytes (one free cell
// each), with its bins size and checksum set again; the root key flagged
// as root when `flagRoot`.
Bytes MultiBinHive(uint32_t extraBins, bool flagRoot = true);
// File offsets where each bin of a hive file starts, and its end.
std::vector<uint64_t> BinStarts(const Bytes& hive);

// An image in memory, for the core's tests.
class MemoryImage final : public ImageSource {
 public:
  explicit MemoryImage(Bytes bytes) : bytes_(std::move(bytes)) {}
  uint64_t Size() const override { return bytes_.size(); }
  const char* Kind() const override { return "memory"; }
  bool Read(uint64_t offset, uint8_t* into, size_t length) override {
    if (offset > bytes_.size() || length > bytes_.size() - offset) return false;
    if (length != 0) std::memcpy(into, bytes_.data() + offset, length);
    return true;
  }

 private:
  Bytes bytes_;
};

}  // namespace cellbrook::test
