#include "hive/key_security.h"

#include "hive/hex_text.h"
#include "hive/text_codec.h"

namespace cellbrook {
namespace {

uint64_t FileOffset(uint32_t cell) { return kBaseBlockSize + cell; }
bool IsNoCell(uint32_t cell) { return cell == 0 || cell == kNoCell; }

// The usable bytes of the cell at `cell` (its size field's magnitude less
// the field itself), or false when its size field lies outside the image.
bool CellRoom(const ImageView& v, uint32_t cell, uint64_t& room) {
  uint32_t raw = 0;
  if (!v.U32(FileOffset(cell), raw)) return false;
  const int64_t size = static_cast<int32_t>(raw);
  const uint64_t magnitude = static_cast<uint64_t>(size < 0 ? -size : size);
  room = magnitude >= cell_field::Data ? magnitude - cell_field::Data : 0;
  return true;
}

}  // namespace

std::u16string ClassName::Units() const {
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  }
  return units;
}

std::string ClassName::Text() const { return Utf16ToUtf8String(Units()); }

ClassName ReadClassName(const HiveImage& image, KeyRef key) {
  const ImageView v = image.View();
  ClassName c;
  const uint64_t node = FileOffset(key.cell);
  if (!v.Contains(node, key_field::Name)) return c;
  v.U32(node + key_field::ClassName, c.cell);
  v.U16(node + key_field::ClassNameLength, c.length);
  if (IsNoCell(c.cell)) {
    c.cell = kNoCell;
    if (c.length == 0) return c;
    c.state = ReadState::Damaged;
    c.problem = "The class name has a length of " + std::to_string(c.length) + " bytes but no cell.";
    return c;
  }
  c.state = ReadState::Damaged;
  uint64_t room = 0;
  if (!CellRoom(v, c.cell, room) || !v.Contains(FileOffset(c.cell) + cell_field::Data, c.length)) {
    c.problem = "The class name cell " + Hex32Text(c.cell) + " lies outside the hive.";
    return c;
  }
  if (c.length > room) {
    c.problem = "The class name (" + std::to_string(c.length) + " bytes) runs past its cell " + Hex32Text(c.cell) +
                " (" + std::to_string(room) + " bytes).";
    return c;
  }
  c.bytes = {v.At(FileOffset(c.cell) + cell_field::Data, c.length), c.length};
  c.state = ReadState::Ok;
  return c;
}

uint32_t KeySecurityCellOffset(const HiveImage& image, KeyRef key) {
  const ImageView v = image.View();
  const uint64_t node = FileOffset(key.cell);
  uint32_t cell = kNoCell;
  if (!v.Contains(node, key_field::Name) || !v.U32(node + key_field::Security, cell) || IsNoCell(cell)) {
    return kNoCell;
  }
  return cell;
}

SecurityCell ReadSecurityCell(const HiveImage& image, uint32_t cell) {
  const ImageView v = image.View();
  SecurityCell s;
  if (IsNoCell(cell)) return s;
  s.cell = cell;
  s.state = ReadState::Damaged;
  const uint64_t at = FileOffset(cell);
  uint64_t room = 0;
  uint16_t sig = 0;
  if (!CellRoom(v, cell, room) || !v.Contains(at, security_field::Descriptor)) {
    s.problem = "The security cell " + Hex32Text(cell) + " lies outside the hive.";
    return s;
  }
  v.U16(at + security_field::Signature, sig);
  if (sig != security_field::SignatureValue) {
    s.problem = "The cell " + Hex32Text(cell) + " named as the key's security is not a security cell.";
    return s;
  }
  v.U32(at + security_field::ReferenceCount, s.referenceCount);
  v.U32(at + security_field::DescriptorLength, s.descriptorLength);
  const uint64_t header = security_field::Descriptor - cell_field::Data;
  if (room < header || s.descriptorLength > room - header) {
    s.problem = "The security descriptor (" + std::to_string(s.descriptorLength) + " bytes) runs past its cell " +
                Hex32Text(cell) + ".";
    return s;
  }
  const uint8_t* bytes = v.At(at + security_field::Descriptor, s.descriptorLength);
  if (bytes == nullptr) {
    s.problem = "The security descriptor in cell " + Hex32Text(cell) + " runs past the end of the hive.";
    return s;
  }
  s.descriptor = {bytes, s.descriptorLength};
  s.state = ReadState::Ok;
  return s;
}

uint32_t VolatileSubkeyCount(const HiveImage& image, KeyRef key) {
  uint32_t count = 0;
  image.View().U32(FileOffset(key.cell) + key_field::VolatileSubkeyCount, count);
  return count;
}

}  // namespace cellbrook
