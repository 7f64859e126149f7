#include "hive/hive_reader.h"

#include <algorithm>

#include "hive/text_codec.h"

namespace cellbrook {
namespace {

uint64_t FileOffset(uint32_t cell) { return kBaseBlockSize + cell; }

bool IsNoCell(uint32_t cell) { return cell == 0 || cell == 0xFFFFFFFFu; }

// Fills a KeyInfo from the key node at cell offset `cell`, if it is one.
bool KeyAt(const ImageView& v, uint32_t cell, KeyInfo& out) {
  const uint64_t off = FileOffset(cell);
  uint16_t sig = 0;
  if (!v.Contains(off, key_field::Name) || !v.U16(off + key_field::Signature, sig) ||
      sig != key_field::SignatureValue) {
    return false;
  }
  KeyInfo k;
  v.U16(off + key_field::Flags, k.Flags);
  uint16_t nameLength = 0;
  v.U16(off + key_field::NameLength, nameLength);
  const uint8_t* name = v.At(off + key_field::Name, nameLength);
  if (name == nullptr) return false;
  uint32_t low = 0, high = 0;
  v.U32(off + key_field::LastWritten, low);
  v.U32(off + key_field::LastWritten + 4, high);
  k.LastWritten = (uint64_t{high} << 32) | low;
  v.U32(off + key_field::Parent, k.Parent);
  v.U32(off + key_field::SubkeyCount, k.SubkeyCount);
  v.U32(off + key_field::ValueCount, k.ValueCount);
  k.Ref = KeyRef{cell};
  k.Name = StoredName{name, nameLength, (k.Flags & key_field::FlagNameLatin1) != 0};
  out = k;
  return true;
}

uint32_t MinorVersion(const ImageView& v) {
  uint32_t minor = 0;
  v.U32(base_field::MinorVersion, minor);
  return minor;
}

// Resolves a value's data into checked spans, following the format's rules
// for inline, cell and big data.
void ResolveData(const ImageView& v, uint64_t node, uint32_t size, uint32_t dataCell, ValueInfo& vi) {
  const uint32_t length = size & ~value_field::SizeInline;
  ValueData& d = vi.Data;
  if (size & value_field::SizeInline) {
    vi.DataLength = length < 4 ? length : 4;
    d.length = vi.DataLength;
    if (d.length == 0) return;
    d.first = {v.At(node + value_field::Data, d.length), d.length};
    d.state = ReadState::Ok;  // inside the node's fixed part, checked already
    return;
  }
  if (length == 0 || IsNoCell(dataCell)) return;
  vi.DataLength = d.length = length;
  d.state = ReadState::Damaged;
  const uint64_t cell = FileOffset(dataCell);
  uint16_t cellSig = 0;
  if (length > big_data_field::SegmentBytes && MinorVersion(v) >= big_data_field::MinorVersion &&
      v.U16(cell + big_data_field::Signature, cellSig) && cellSig == big_data_field::SignatureValue) {
    vi.IsBigData = true;
    uint16_t segments = 0;
    uint32_t list = 0;
    if (!v.U16(cell + big_data_field::SegmentCount, segments) || !v.U32(cell + big_data_field::SegmentList, list)) {
      return;
    }
    const uint32_t pieces = (length + big_data_field::SegmentBytes - 1) / big_data_field::SegmentBytes;
    if (pieces > segments) return;  // the list ends before the data do
    const uint64_t listOff = FileOffset(list);
    if (!v.Contains(listOff + list_field::Entries, uint64_t{pieces} * list_field::EntrySize)) return;
    std::vector<std::span<const uint8_t>> spans;
    spans.reserve(pieces);
    uint32_t left = length;
    for (uint32_t i = 0; i < pieces; ++i) {
      uint32_t segment = 0;
      v.U32(listOff + list_field::Entries + list_field::EntrySize * uint64_t{i}, segment);
      const uint32_t take = left < big_data_field::SegmentBytes ? left : big_data_field::SegmentBytes;
      const uint8_t* bytes = v.At(FileOffset(segment) + cell_field::Data, take);
      if (bytes == nullptr) return;
      spans.emplace_back(bytes, take);
      left -= take;
    }
    d.first = spans.front();
    d.more.assign(spans.begin() + 1, spans.end());
    d.state = ReadState::Ok;
    return;
  }
  const uint8_t* bytes = v.At(cell + cell_field::Data, length);
  if (bytes == nullptr) return;
  d.first = {bytes, length};
  d.state = ReadState::Ok;
}

bool ValueAt(const ImageView& v, uint32_t cell, ValueInfo& out) {
  const uint64_t off = FileOffset(cell);
  uint16_t sig = 0, nameLength = 0, flags = 0;
  if (!v.Contains(off, value_field::Name) || !v.U16(off + value_field::Signature, sig) ||
      sig != value_field::SignatureValue) {
    return false;
  }
  v.U16(off + value_field::NameLength, nameLength);
  const uint8_t* name = v.At(off + value_field::Name, nameLength);
  if (name == nullptr) return false;
  uint32_t size = 0, dataCell = 0;
  ValueInfo vi;
  v.U32(off + value_field::DataSize, size);
  v.U32(off + value_field::Data, dataCell);
  v.U32(off + value_field::Type, vi.Type);
  v.U16(off + value_field::Flags, flags);
  vi.Ref = ValueRef{cell};
  vi.Name = StoredName{name, nameLength, (flags & value_field::FlagNameLatin1) != 0};
  ResolveData(v, off, size, dataCell, vi);
  out = std::move(vi);
  return true;
}

// The slots [from, from + count) of one leaf (lf, lh, li): onSlot(cell)
// for each slot inside the image, then onSlot.Outside(n) for the rest
// (once a slot lies outside, every later one does too). False: stopped.
template <class OnSlot>
bool ForLeafSlots(const ImageView& v, uint64_t leaf, uint16_t sig, uint64_t from, uint64_t count, OnSlot& onSlot) {
  const uint64_t stride = sig == index_field::Leaf ? index_field::EntrySize : index_field::HashedEntrySize;
  const uint64_t first = leaf + index_field::Entries + stride * from;
  const uint64_t inside = v.Contains(first, 4) ? std::min<uint64_t>(count, (v.size() - first - 4) / stride + 1) : 0;
  for (uint64_t i = 0; i < inside; ++i) {
    uint32_t cell = 0;
    v.U32(first + stride * i, cell);
    if (!onSlot(cell)) return false;
  }
  if (inside < count) onSlot.Outside(count - inside);
  return true;
}

bool IsLeafSignature(uint16_t sig) {
  return sig == index_field::FastLeaf || sig == index_field::HashLeaf || sig == index_field::Leaf;
}

// Visits the key's subkey slots [start, start + count) in index order, as
// ForLeafSlots does. Returns false when the index cannot be read at all (no
// index cell, or an unknown kind).
template <class OnSlot>
bool VisitSubkeySlots(const ImageView& v, uint64_t index, uint64_t start, uint64_t count, OnSlot& onSlot) {
  uint16_t sig = 0;
  if (!v.U16(index + index_field::Signature, sig)) return false;
  if (IsLeafSignature(sig)) return ForLeafSlots(v, index, sig, start, count, onSlot), true;
  if (sig != index_field::Root) return false;

  // A root index: its leaves in order, each for its own count, until the
  // wanted entries are gathered; a short fall counts as slots outside.
  uint16_t leaves = 0;
  v.U16(index + index_field::Count, leaves);
  const uint64_t end = start + count;
  uint64_t pos = 0;  // entries gathered so far over all leaves
  for (uint32_t j = 0; j < leaves && pos < end; ++j) {
    uint32_t leafCell = 0;
    if (!v.U32(index + index_field::Entries + index_field::EntrySize * uint64_t{j}, leafCell)) break;
    if (!onSlot.Examine()) return true;  // the ri slot itself costs
    const uint64_t leaf = FileOffset(leafCell);
    uint16_t leafSig = 0, leafCount = 0;
    if (!v.U16(leaf + index_field::Signature, leafSig) || !v.U16(leaf + index_field::Count, leafCount) ||
        !IsLeafSignature(leafSig)) {
      continue;
    }
    if (pos + leafCount <= start) {
      pos += leafCount;
      continue;
    }
    const uint64_t skip = pos < start ? start - pos : 0;
    const uint64_t take = std::min<uint64_t>(leafCount - skip, end - (pos + skip));
    pos += skip;
    if (!ForLeafSlots(v, leaf, leafSig, skip, take, onSlot)) return true;
    pos += take;
  }
  const uint64_t from = pos < start ? start : pos;
  if (from < end) onSlot.Outside(end - from);
  return true;
}

}  // namespace

size_t StoredName::Text(char* out, size_t room) const {
  if (bytes == nullptr) return 0;
  return latin1 ? Latin1ToUtf8(bytes, length, out, room) : Utf16LeToUtf8(bytes, length / 2, out, room);
}

std::string StoredName::Text() const {
  // At most two UTF-8 bytes a Latin-1 byte, three a UTF-16 unit.
  std::string text(2 * size_t{length}, '\0');
  text.resize(Text(text.data(), text.size()));
  return text;
}

void StoredName::AppendUnits(std::u16string& out) const { AppendNameUnits(bytes, length, latin1, out); }

bool StoredName::EmptyText() const {
  if (bytes == nullptr || length == 0) return true;
  if (latin1) return bytes[0] == 0;
  return length < 2 || (bytes[0] | bytes[1]) == 0;
}

uint32_t ValueData::CopyPrefix(uint8_t* out, uint32_t limit) const {
  uint32_t copied = 0;
  ForEachPiece([&](std::span<const uint8_t> piece) {
    const uint32_t room = limit - copied;
    const uint32_t take = piece.size() < room ? static_cast<uint32_t>(piece.size()) : room;
    if (take > 0) std::memcpy(out + copied, piece.data(), take);
    copied += take;
  });
  return copied;
}

bool AttachImage(HiveImage& image, const uint8_t* block, uint32_t size) {
  image.Header = block;
  if (block == nullptr || size < 4 || ImageView::Le32(block) != base_field::SignatureValue) return false;
  image.Image = block;
  image.Size = size;
  return true;
}

bool FindBin(const HiveImage& image, int32_t steps, uint64_t startOffset, uint64_t& out) {
  const ImageView v = image.View();
  uint64_t b = startOffset;
  auto isBin = [&v](uint64_t off) {
    uint32_t sig = 0;
    return v.U32(off, sig) && sig == bin_field::SignatureValue;
  };
  // Each step moves by a non-zero amount inside the image, so the walk ends.
  int64_t remaining = steps < 0 ? -int64_t{steps} : steps;
  for (; remaining > 0; --remaining) {
    uint32_t field = 0;
    if (!isBin(b) || !v.U32(b + (steps >= 0 ? bin_field::Size : bin_field::Offset), field) || field == 0) return false;
    if (steps >= 0) {
      b += field;
    } else {
      if (field > b) return false;
      b -= field;
    }
    if (b >= v.size()) return false;
  }
  if (!isBin(b)) return false;
  out = b;
  return true;
}

bool GetRootKey(const HiveImage& image, KeyInfo& out) {
  uint64_t bin = 0;
  if (!FindBin(image, 0, kBaseBlockSize, bin)) return false;
  const ImageView v = image.View();
  uint32_t root = 0;
  return v.U32(base_field::RootCell, root) && KeyAt(v, root, out);
}

bool GetKeyInfo(const HiveImage& image, KeyInfo& out, KeyRef key) { return key && KeyAt(image.View(), key.cell, out); }

// The enumeration rules shared by subkeys and values: the count the key
// node gives (read again from the node), start past it fails, and "all" or
// too many is cut to what is there. Sets `list` to the index or list cell.
static bool OpenEnumeration(const HiveImage& image, const KeyInfo& key, bool subkeys, uint32_t start, uint32_t& count,
                            uint32_t& list) {
  KeyInfo node;
  if (!GetKeyInfo(image, node, key.Ref)) return false;
  const uint32_t total = subkeys ? node.SubkeyCount : node.ValueCount;
  if (start >= total) return false;
  if (count == kNoEntries || count > total - start) count = total - start;
  list = 0;
  image.View().U32(FileOffset(key.Ref.cell) + (subkeys ? key_field::SubkeyIndex : key_field::ValueList), list);
  return true;
}

uint32_t EnumSubkeys(const HiveImage& image, const KeyInfo& key, KeyInfo* out, uint32_t start, uint32_t count) {
  const ImageView v = image.View();
  uint32_t indexCell = 0;
  if (!OpenEnumeration(image, key, true, start, count, indexCell)) return kNoEntries;
  if (count == 0) return 0;
  uint32_t i = 0;
  struct Filler {
    const ImageView& v;
    KeyInfo* out;
    uint32_t& i;
    bool Examine() { return true; }
    bool operator()(uint32_t cell) {
      out[i] = KeyInfo{};
      if (!IsNoCell(cell)) KeyAt(v, cell, out[i]);
      ++i;
      return true;
    }
    void Outside(uint64_t n) {
      for (; n > 0; --n) out[i++] = KeyInfo{};
    }
  } filler{v, out, i};
  if (!VisitSubkeySlots(v, FileOffset(indexCell), start, count, filler)) return kNoEntries;
  return count;
}

char* BuildKeyPath(const HiveImage& image, KeyRef keyRef, char* buffer, size_t room) {
  const ImageView v = image.View();
  uint32_t root = 0xFFFFFFFFu;
  v.U32(base_field::RootCell, root);
  char name[kNameTextRoom];
  size_t r = room;
  // Every level takes at least one byte of room, so the walk ends.
  for (;;) {
    KeyInfo key;
    if (!GetKeyInfo(image, key, keyRef)) return nullptr;
    const size_t n = key.Name.Text(name, sizeof name);
    if (n + 1 > r) return nullptr;
    for (size_t i = 0; i < n; ++i) buffer[r - n + i] = name[i];
    buffer[r - n - 1] = '\\';
    r -= n + 1;
    if (IsNoCell(key.Parent) || key.Parent == root) break;
    keyRef = KeyRef{key.Parent};
  }
  if (r < 4) return nullptr;
  buffer[r - 4] = 'R';
  buffer[r - 3] = 'O';
  buffer[r - 2] = 'O';
  buffer[r - 1] = 'T';
  return buffer + (r - 4);
}

bool GetValueInfo(const HiveImage& image, ValueInfo& out, ValueRef value) {
  return value && ValueAt(image.View(), value.cell, out);
}

uint32_t EnumValues(const HiveImage& image, const KeyInfo& key, ValueInfo* out, uint32_t start, uint32_t count) {
  const ImageView v = image.View();
  uint32_t listCell = 0;
  if (!OpenEnumeration(image, key, false, start, count, listCell)) return kNoEntries;
  const uint64_t list = FileOffset(listCell);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t cell = 0;
    out[i] = ValueInfo{};
    if (v.U32(list + list_field::Entries + list_field::EntrySize * (uint64_t{start} + i), cell) && !IsNoCell(cell)) {
      ValueAt(v, cell, out[i]);
    }
  }
  return count;
}

SubkeyList ReadSubkeys(const HiveImage& image, const KeyInfo& key, SlotBudget& budget) {
  SubkeyList list;
  ReadSubkeys(image, key, budget, list);
  return list;
}

void ReadSubkeys(const HiveImage& image, const KeyInfo& key, SlotBudget& budget, SubkeyList& list) {
  list.keys.clear();
  list.state = ReadState::Empty;
  list.unreadable = 0;
  list.budgetOut = false;
  if (key.SubkeyCount == 0) return;
  const ImageView v = image.View();
  uint32_t indexCell = 0;
  v.U32(FileOffset(key.Ref.cell) + key_field::SubkeyIndex, indexCell);
  struct Gather {
    const ImageView& v;
    SubkeyList& list;
    SlotBudget& budget;
    bool Examine() {
      if (budget.Take()) return true;
      list.budgetOut = true;
      return false;
    }
    // Slots outside the image cost nothing: nothing is read.
    void Outside(uint64_t n) { list.unreadable += n; }
    bool operator()(uint32_t cell) {
      if (!Examine()) return false;
      KeyInfo k;
      if (IsNoCell(cell) || !KeyAt(v, cell, k)) ++list.unreadable;
      list.keys.push_back(k);
      return true;
    }
  } gather{v, list, budget};
  // Entries past what the image could hold (8 bytes an lf entry, 4 an li)
  // lie outside it: counted, never visited one by one.
  const uint64_t visible = std::min<uint64_t>(key.SubkeyCount, image.Size / 4);
  list.keys.reserve(visible);
  if (!VisitSubkeySlots(v, FileOffset(indexCell), 0, visible, gather)) {
    list.unreadable = key.SubkeyCount;
    list.keys.clear();
  } else {
    list.unreadable += key.SubkeyCount - visible;
  }
  list.state = list.unreadable > 0 || list.budgetOut ? ReadState::Damaged : ReadState::Ok;
}

ValueList ReadValues(const HiveImage& image, const KeyInfo& key, SlotBudget& budget) {
  ValueList list;
  ReadValues(image, key, budget, list);
  return list;
}

void ReadValues(const HiveImage& image, const KeyInfo& key, SlotBudget& budget, ValueList& list) {
  list.values.clear();
  list.state = ReadState::Empty;
  list.unreadable = list.dataDamaged = 0;
  list.budgetOut = false;
  if (key.ValueCount == 0) return;
  const ImageView v = image.View();
  uint32_t listCell = 0;
  v.U32(FileOffset(key.Ref.cell) + key_field::ValueList, listCell);
  const uint64_t listOff = FileOffset(listCell);
  if (IsNoCell(listCell) || !v.Contains(listOff, list_field::Entries)) {
    list.unreadable = key.ValueCount;
    list.state = ReadState::Damaged;
    return;
  }
  // Only the slots inside the image are visited; the rest are counted.
  const uint64_t room = (v.size() - listOff - list_field::Entries) / list_field::EntrySize;
  const uint64_t visible = std::min<uint64_t>(key.ValueCount, room);
  list.unreadable = key.ValueCount - visible;
  list.values.reserve(visible);
  for (uint64_t i = 0; i < visible; ++i) {
    if (!budget.Take()) {
      list.budgetOut = true;
      break;
    }
    uint32_t cell = 0;
    v.U32(listOff + list_field::Entries + list_field::EntrySize * i, cell);
    ValueInfo value;
    if (IsNoCell(cell) || !ValueAt(v, cell, value)) {
      ++list.unreadable;
    } else if (!value.Data.Readable()) {
      ++list.dataDamaged;
    }
    list.values.push_back(std::move(value));
  }
  list.state = list.unreadable > 0 || list.dataDamaged > 0 || list.budgetOut ? ReadState::Damaged : ReadState::Ok;
}

}  // namespace cellbrook
