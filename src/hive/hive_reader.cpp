#include "hive/hive_reader.h"

#include "hive/text_codec.h"

namespace cellbrook {
namespace {

constexpr uint32_t kSigRegf = 0x66676572;
constexpr uint32_t kSigHbin = 0x6E696268;
constexpr uint16_t kSigNk = 0x6B6E;
constexpr uint16_t kSigVk = 0x6B76;
constexpr uint16_t kSigLf = 0x666C;
constexpr uint16_t kSigLh = 0x686C;
constexpr uint16_t kSigLi = 0x696C;
constexpr uint16_t kSigRi = 0x6972;
constexpr uint16_t kSigDb = 0x6264;

constexpr uint32_t kKeyFixed = 0x50;
constexpr uint32_t kValueFixed = 0x18;
constexpr uint16_t kKeyNameLatin1 = 0x0020;
constexpr uint16_t kValueNameLatin1 = 0x0001;

uint64_t CellOffset(uint32_t cell) { return uint64_t{kBinsStart} + cell; }

bool IsNoCell(uint32_t cell) { return cell == 0 || cell == 0xFFFFFFFFu; }

// Fills a KeyInfo from the key node at file offset `off`, if it is one.
bool KeyAt(const ImageView& v, uint64_t off, KeyInfo& out) {
  uint16_t sig = 0, flags = 0, nameLength = 0;
  if (!v.Contains(off, kKeyFixed) || !v.U16(off + 4, sig) || sig != kSigNk) return false;
  v.U16(off + 6, flags);
  v.U16(off + 0x4C, nameLength);
  if (!v.Contains(off + kKeyFixed, nameLength)) return false;
  uint32_t subkeys = 0, values = 0;
  v.U32(off + 0x18, subkeys);
  v.U32(off + 0x28, values);
  out.Node = v.base() + off;
  out.NameLength = nameLength;
  out.Name = v.base() + off + kKeyFixed;
  out.ValueCount = values;
  out.SubkeyCount = subkeys;
  out.NameIsLatin1 = (flags & kKeyNameLatin1) != 0;
  return true;
}

bool KeyOffset(const HiveImage& image, const uint8_t* node, uint64_t& off) {
  KeyInfo unused;
  const ImageView v = image.View();
  return v.OffsetOf(node, off) && KeyAt(v, off, unused);
}

// The enumeration rules shared by subkeys and values: the key's count at
// +countField, its index cell at +indexField. False when the key is no key
// or start is past the end; otherwise count is cut to what is there and
// `index` is the index cell's file offset.
bool OpenKeyIndex(const HiveImage& image, const KeyInfo& key, uint32_t countField,
                  uint32_t indexField, uint32_t start, uint32_t& count, uint64_t& index) {
  const ImageView v = image.View();
  uint64_t node = 0;
  if (!KeyOffset(image, key.Node, node)) return false;
  uint32_t total = 0, indexCell = 0;
  v.U32(node + countField, total);
  v.U32(node + indexField, indexCell);
  if (start >= total) return false;
  const uint32_t rest = total - start;
  if (count == kNoEntries || count > rest) count = rest;
  index = CellOffset(indexCell);
  return true;
}

uint32_t MinorVersion(const ImageView& v) {
  uint32_t minor = 0;
  v.U32(0x18, minor);
  return minor;
}

bool ValueAt(const ImageView& v, uint64_t off, ValueInfo& out) {
  uint16_t sig = 0, nameLength = 0, flags = 0;
  if (!v.Contains(off, kValueFixed) || !v.U16(off + 4, sig) || sig != kSigVk) return false;
  v.U16(off + 6, nameLength);
  if (!v.Contains(off + kValueFixed, nameLength)) return false;
  uint32_t size = 0, dataCell = 0, type = 0;
  v.U32(off + 8, size);
  v.U32(off + 0xC, dataCell);
  v.U32(off + 0x10, type);
  v.U16(off + 0x14, flags);

  ValueInfo vi;
  vi.Node = v.base() + off;
  vi.NameLength = nameLength;
  vi.Name = v.base() + off + kValueFixed;
  vi.Type = type;
  vi.NameIsLatin1 = (flags & kValueNameLatin1) != 0;

  const uint32_t length = size & 0x7FFFFFFFu;
  if (size & 0x80000000u) {
    vi.DataLength = length < 4 ? length : 4;
    vi.DataOffset = off + 0xC;
    vi.Data = v.base() + off + 0xC;
  } else if (length != 0 && !IsNoCell(dataCell)) {
    const uint64_t cell = CellOffset(dataCell);
    uint16_t cellSig = 0;
    vi.DataLength = length;
    if (length > kBigDataSegment && MinorVersion(v) >= 4 && v.U16(cell + 4, cellSig) &&
        cellSig == kSigDb) {
      vi.IsBigData = true;
      vi.DataOffset = cell;
      uint16_t segments = 0;
      uint32_t list = 0;
      if (v.U16(cell + 6, segments) && v.U32(cell + 8, list)) {
        vi.SegmentCount = segments;
        vi.SegmentListOffset = CellOffset(list);
      }  // else no segments: the data count as outside the image
    } else {
      vi.DataOffset = cell + 4;
      if (vi.DataOffset <= v.size()) vi.Data = v.base() + vi.DataOffset;
    }
  }
  out = vi;
  return true;
}

}  // namespace

const uint8_t* BinsBase(const HiveImage& image) {
  return image.Size >= kBinsStart ? image.Image + kBinsStart : nullptr;
}

bool AttachImage(HiveImage& image, const uint8_t* block, uint32_t size) {
  image.Header = block;
  if (block == nullptr || size < 4 || ImageView::Le32(block) != kSigRegf) return false;
  image.Image = block;
  image.Size = size;
  return true;
}

const uint8_t* FindBin(const HiveImage& image, int32_t steps, const uint8_t* start) {
  const ImageView v = image.View();
  uint64_t b = kBinsStart;
  if (start != nullptr && !v.OffsetOf(start, b)) return nullptr;
  auto isBin = [&v](uint64_t off) {
    uint32_t sig = 0;
    return v.U32(off, sig) && sig == kSigHbin;
  };
  // Each step moves by a non-zero amount inside the image, so the walk ends.
  int64_t remaining = steps < 0 ? -int64_t{steps} : steps;
  for (; remaining > 0; --remaining) {
    uint32_t field = 0;
    if (!isBin(b) || !v.U32(b + (steps >= 0 ? 8 : 4), field) || field == 0) return nullptr;
    if (steps >= 0) {
      b += field;
    } else {
      if (field > b) return nullptr;
      b -= field;
    }
    if (b >= v.size()) return nullptr;
  }
  return isBin(b) ? v.base() + b : nullptr;
}

bool GetRootKey(const HiveImage& image, KeyInfo& out) {
  if (FindBin(image, 0, nullptr) == nullptr) return false;
  const ImageView v = image.View();
  uint32_t root = 0;
  if (!v.U32(0x24, root)) return false;
  return KeyAt(v, CellOffset(root), out);
}

bool GetKeyInfo(const HiveImage& image, KeyInfo& out, const uint8_t* node) {
  const ImageView v = image.View();
  uint64_t off = 0;
  return v.OffsetOf(node, off) && KeyAt(v, off, out);
}

uint32_t EnumSubkeys(const HiveImage& image, const KeyInfo& key, KeyInfo* out, uint32_t start,
                     uint32_t count) {
  const ImageView v = image.View();
  uint64_t index = 0;
  if (!OpenKeyIndex(image, key, 0x18, 0x20, start, count, index)) return kNoEntries;
  if (count == 0) return 0;
  uint16_t sig = 0;
  if (!v.U16(index + 4, sig)) return kNoEntries;

  // Entry `entryOff` names a key node; anything else gives a zeroed KeyInfo.
  auto fill = [&v](uint64_t entryOff, KeyInfo& slot) {
    uint32_t cell = 0;
    slot = KeyInfo{};
    if (v.U32(entryOff, cell) && !IsNoCell(cell)) KeyAt(v, CellOffset(cell), slot);
  };

  if (sig == kSigLf || sig == kSigLh || sig == kSigLi) {
    const uint64_t stride = sig == kSigLi ? 4 : 8;
    for (uint32_t i = 0; i < count; ++i) fill(index + 8 + stride * (uint64_t{start} + i), out[i]);
    return count;
  }
  if (sig != kSigRi) return kNoEntries;

  // A root index: its leaves in order, each for its own count, until the
  // key's subkey count is gathered; a short fall leaves zeroed records.
  uint16_t leaves = 0;
  v.U16(index + 6, leaves);
  const uint64_t end = uint64_t{start} + count;
  uint64_t pos = 0;  // entries gathered so far over all leaves
  for (uint32_t j = 0; j < leaves && pos < end; ++j) {
    uint32_t leafCell = 0;
    uint16_t leafSig = 0, leafCount = 0;
    if (!v.U32(index + 8 + 4 * uint64_t{j}, leafCell)) break;  // entries beyond the image
    const uint64_t leaf = CellOffset(leafCell);
    if (!v.U16(leaf + 4, leafSig) || !v.U16(leaf + 6, leafCount)) continue;
    if (leafSig != kSigLf && leafSig != kSigLh && leafSig != kSigLi) continue;
    const uint64_t stride = leafSig == kSigLi ? 4 : 8;
    if (pos + leafCount <= start) {
      pos += leafCount;
      continue;
    }
    uint64_t k = pos < start ? start - pos : 0;
    pos += k;
    for (; k < leafCount && pos < end; ++k, ++pos) fill(leaf + 8 + stride * k, out[pos - start]);
  }
  for (uint64_t p = pos < start ? start : pos; p < end; ++p) out[p - start] = KeyInfo{};
  return count;
}

char* BuildKeyPath(const HiveImage& image, const uint8_t* node, char* buffer, size_t room) {
  const ImageView v = image.View();
  uint32_t root = 0xFFFFFFFFu;
  v.U32(0x24, root);
  char name[kNameTextRoom];
  size_t r = room;
  // Every level takes at least one byte of room, so the walk ends.
  for (;;) {
    KeyInfo key;
    if (!GetKeyInfo(image, key, node)) return nullptr;
    const size_t n = KeyNameText(key, name, sizeof name);
    if (n + 1 > r) return nullptr;
    for (size_t i = 0; i < n; ++i) buffer[r - n + i] = name[i];
    buffer[r - n - 1] = '\\';
    r -= n + 1;
    uint32_t parent = 0;
    v.U32(static_cast<uint64_t>(key.Node - v.base()) + 0x14, parent);
    if (IsNoCell(parent) || parent == root) break;
    const uint64_t parentOff = CellOffset(parent);
    node = v.Contains(parentOff, 1) ? v.base() + parentOff : nullptr;
  }
  if (r < 4) return nullptr;
  buffer[r - 4] = 'R';
  buffer[r - 3] = 'O';
  buffer[r - 2] = 'O';
  buffer[r - 1] = 'T';
  return buffer + (r - 4);
}

bool GetValueInfo(const HiveImage& image, ValueInfo& out, const uint8_t* node) {
  const ImageView v = image.View();
  uint64_t off = 0;
  return v.OffsetOf(node, off) && ValueAt(v, off, out);
}

uint32_t EnumValues(const HiveImage& image, const KeyInfo& key, ValueInfo* out, uint32_t start,
                    uint32_t count) {
  const ImageView v = image.View();
  uint64_t index = 0;
  if (!OpenKeyIndex(image, key, 0x28, 0x2C, start, count, index)) return kNoEntries;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t cell = 0;
    out[i] = ValueInfo{};
    if (v.U32(index + 4 + 4 * (uint64_t{start} + i), cell) && !IsNoCell(cell)) {
      ValueAt(v, CellOffset(cell), out[i]);
    }
  }
  return count;
}

uint32_t ValuePieceCount(const ValueInfo& value) {
  if (value.DataLength == 0) return 0;
  if (!value.IsBigData) return 1;
  return static_cast<uint32_t>((uint64_t{value.DataLength} + kBigDataSegment - 1) /
                               kBigDataSegment);
}

bool ValuePiece(const HiveImage& image, const ValueInfo& value, uint32_t index,
                const uint8_t*& bytes, uint32_t& length) {
  const ImageView v = image.View();
  if (index >= ValuePieceCount(value)) return false;
  if (!value.IsBigData) {
    bytes = v.At(value.DataOffset, value.DataLength);
    length = value.DataLength;
    return bytes != nullptr;
  }
  if (index >= value.SegmentCount) return false;  // the list ends before the data do
  uint32_t segment = 0;
  if (!v.U32(value.SegmentListOffset + 4 + 4 * uint64_t{index}, segment)) return false;
  const uint64_t done = uint64_t{index} * kBigDataSegment;
  const uint64_t left = value.DataLength - done;
  length = static_cast<uint32_t>(left < kBigDataSegment ? left : kBigDataSegment);
  bytes = v.At(CellOffset(segment) + 4, length);
  return bytes != nullptr;
}

bool ValueDataInside(const HiveImage& image, const ValueInfo& value) {
  const uint32_t n = ValuePieceCount(value);
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t* bytes = nullptr;
    uint32_t length = 0;
    if (!ValuePiece(image, value, i, bytes, length)) return false;
  }
  return true;
}

bool CopyValuePrefix(const HiveImage& image, const ValueInfo& value, uint8_t* out,
                     uint32_t limit, uint32_t& copied) {
  copied = 0;
  const uint32_t want = value.DataLength < limit ? value.DataLength : limit;
  for (uint32_t i = 0; copied < want; ++i) {
    const uint8_t* bytes = nullptr;
    uint32_t length = 0;
    if (!ValuePiece(image, value, i, bytes, length)) return false;
    const uint32_t take = length < want - copied ? length : want - copied;
    std::memcpy(out + copied, bytes, take);
    copied += take;
  }
  return true;
}

size_t KeyNameText(const KeyInfo& key, char* out, size_t room) {
  if (key.Name == nullptr) return 0;
  return key.NameIsLatin1 ? Latin1ToUtf8(key.Name, key.NameLength, out, room)
                          : Utf16LeToUtf8(key.Name, key.NameLength / 2, out, room);
}

size_t ValueNameText(const ValueInfo& value, char* out, size_t room) {
  if (value.Name == nullptr) return 0;
  return value.NameIsLatin1 ? Latin1ToUtf8(value.Name, value.NameLength, out, room)
                            : Utf16LeToUtf8(value.Name, value.NameLength / 2, out, room);
}

}  // namespace cellbrook
