// libFuzzer target: an image of junk in which sectors chosen by the input
// start with "hbin" or "regf"; the carver must stay inside it, and every
// hive it finds must assemble to what it reports.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "hive/hive_reader.h"
#include "recover/carve/hive_carver.h"

using namespace cellbrook;

namespace {

class Memory final : public ImageSource {
 public:
  explicit Memory(std::vector<uint8_t> b) : bytes_(std::move(b)) {}
  uint64_t Size() const override { return bytes_.size(); }
  const char* Kind() const override { return "memory"; }
  bool Read(uint64_t offset, uint8_t* into, size_t length) override {
    if (offset > bytes_.size() || length > bytes_.size() - offset) return false;
    if (length) std::memcpy(into, bytes_.data() + offset, length);
    return true;
  }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4 * 1024 * 1024) return 0;
  std::vector<uint8_t> image(data, data + size);
  // A sector whose first byte is 0xB1 becomes a bin header, 0xB5 a base
  // block: signatures are found far more often than by chance.
  for (size_t at = 0; at + 4 <= image.size(); at += 512) {
    if (image[at] == 0xB1) std::memcpy(&image[at], "hbin", 4);
    if (image[at] == 0xB5) std::memcpy(&image[at], "regf", 4);
  }
  Memory source(image);
  CarveOptions options;
  options.blockBytes = 4096;  // blocks end in the middle of bins and hives
  const CarveReport report = CarveImage(source, options);
  std::vector<uint8_t> bytes;
  for (const CarvedHive& h : report.hives) {
    uint64_t present = 0;
    for (const CarvedFragment& f : h.fragments) {
      if (f.imageOffset > size || f.present > size - f.imageOffset || f.present > f.length) __builtin_trap();
      present += f.present;
    }
    if (present != h.binsFound || h.offset >= size) __builtin_trap();
    if (!AssembleHive(source, h, bytes)) __builtin_trap();
    if (bytes.size() != h.Size()) __builtin_trap();
    if (!h.baseBlockFound) {
      const BaseBlock b = ParseBaseBlock(bytes);
      if (!b.ChecksumValid() || !b.SequencesEqual()) __builtin_trap();
    }
    HiveImage hive;
    if (!AttachImage(hive, bytes.data(), static_cast<uint32_t>(bytes.size()))) __builtin_trap();
    KeyInfo root;
    GetRootKey(hive, root);
    (void)CarvedFileName(h);
  }
  return 0;
}
