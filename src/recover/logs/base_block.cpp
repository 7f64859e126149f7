#include "recover/logs/base_block.h"

#include "hive/image_view.h"
#include "hive/text_codec.h"

namespace cellbrook {

uint32_t BaseBlockChecksum(std::span<const uint8_t> sector) {
  if (sector.size() < base_field::Checksum) return 0;
  uint32_t sum = 0;
  for (uint64_t off = 0; off < base_field::Checksum; off += 4) sum ^= ImageView::Le32(sector.data() + off);
  if (sum == 0xFFFFFFFFu) return 0xFFFFFFFEu;
  if (sum == 0) return 1;
  return sum;
}

BaseBlock ParseBaseBlock(std::span<const uint8_t> bytes) {
  BaseBlock b;
  if (bytes.size() < kSectorSize) return b;
  const ImageView v(bytes.data(), kSectorSize);
  uint32_t sig = 0, lo = 0, hi = 0;
  v.U32(base_field::Signature, sig);
  b.complete = true;
  b.hasSignature = sig == base_field::SignatureValue;
  v.U32(base_field::PrimarySequence, b.primarySequence);
  v.U32(base_field::SecondarySequence, b.secondarySequence);
  v.U32(base_field::LastWritten, lo);
  v.U32(base_field::LastWritten + 4, hi);
  b.lastWritten = (uint64_t{hi} << 32) | lo;
  v.U32(base_field::MajorVersion, b.majorVersion);
  v.U32(base_field::MinorVersion, b.minorVersion);
  v.U32(base_field::FileType, b.fileType);
  v.U32(base_field::RootCell, b.rootCell);
  v.U32(base_field::HiveBinsDataSize, b.hiveBinsDataSize);
  v.U32(base_field::Flags, b.flags);
  v.U32(base_field::Checksum, b.storedChecksum);
  b.computedChecksum = BaseBlockChecksum(bytes.first(kSectorSize));
  // The name field is UTF-16LE up to its first NUL unit.
  const uint8_t* name = v.At(base_field::FileName, base_field::FileNameBytes);
  size_t units = 0;
  while (units < base_field::FileNameBytes / 2 && (name[2 * units] | name[2 * units + 1]) != 0) ++units;
  char out[base_field::FileNameBytes * 3 + 1];
  const size_t n = Utf16LeToUtf8(name, units, out, sizeof out);
  b.fileName.assign(out, n);
  return b;
}

bool IsDirty(const BaseBlock& primary) { return !primary.ChecksumValid() || !primary.SequencesEqual(); }

std::string DirtyReason(const BaseBlock& primary) {
  if (!primary.complete) return "the file is too short to hold a base block";
  if (!primary.ChecksumValid()) return "its base block checksum is wrong";
  if (!primary.SequencesEqual()) {
    return "its sequence numbers differ (" + std::to_string(primary.primarySequence) + " and " +
           std::to_string(primary.secondarySequence) + ")";
  }
  return "";
}

}  // namespace cellbrook
