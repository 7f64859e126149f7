#include "recover/deleted/live_marks.h"

#include <algorithm>

namespace cellbrook::deleted {
namespace {

class LiveMarker {
 public:
  LiveMarker(CellMap& map, ScanDamage& damage) : map_(map), cells_(map.Cells()), bytes_(map.Bytes()), damage_(damage) {}

  LiveMarks Run() {
    Push(Role::Key, map_.Root());
    while (!work_.empty()) {
      const Work w = work_.back();
      work_.pop_back();
      const uint64_t at = kBase + cells_[w.cell].off;
      switch (w.role) {
        case Role::Key:
          MarkKey(w.cell, at);
          break;
        case Role::Index:
          MarkIndex(w.cell, at);
          break;
        case Role::ValueList:
          MarkValueList(w, at);
          break;
        case Role::Security:
          MarkSecurity(w.cell, at);
          break;
      }
    }
    return std::move(marks_);
  }

 private:
  enum class Role : uint8_t { Key, Index, ValueList, Security };
  struct Work {
    Role role;
    uint32_t cell;   // index into the cells
    uint32_t count;  // ValueList: the key's value count
    uint32_t owner;  // ValueList: the key's cell offset
  };

  // The one way out for a live reference that names no plausible record:
  // counted, and the cell it should have named stays unreferenced.
  void BrokenReference(uint32_t at) {
    if (damage_.liveRefsBroken++ == 0) damage_.firstBrokenRef = at;
  }

  // Marks the cell referenced with its logical end; false when it already was.
  bool Mark(uint32_t index, uint64_t used) {
    Cell& c = cells_[index];
    if (c.flags & kReferenced) return false;
    c.flags |= kReferenced;
    c.used = static_cast<uint32_t>(std::min<uint64_t>(used, c.size));
    return true;
  }

  void Push(Role role, uint32_t rel, uint32_t count = 0, uint32_t owner = 0) {
    if (rel == kNoCell) return;
    const int64_t i = map_.CellAt(rel);
    if (i < 0) return BrokenReference(rel);
    if (cells_[i].flags & kReferenced) return;
    work_.push_back({role, static_cast<uint32_t>(i), count, owner});
  }

  void MarkKey(uint32_t index, uint64_t at) {
    const Cell& c = cells_[index];
    const uint32_t nameLength = bytes_.U16(at + key_field::NameLength);
    if (map_.Sig(c) != key_field::SignatureValue || c.size < key_field::Name + nameLength)
      return BrokenReference(c.off);
    if (!Mark(index, key_field::Name + nameLength)) return;
    // Queued, never followed here: an index that is really a key node must
    // not lead from key to key on the call stack.
    if (bytes_.U32(at + key_field::SubkeyCount) != 0) Push(Role::Index, bytes_.U32(at + key_field::SubkeyIndex));
    const uint32_t values = bytes_.U32(at + key_field::ValueCount);
    if (values != 0) Push(Role::ValueList, bytes_.U32(at + key_field::ValueList), values, c.off);
    Push(Role::Security, bytes_.U32(at + key_field::Security));
    const uint32_t classLength = bytes_.U16(at + key_field::ClassNameLength);
    const int64_t cls = classLength ? map_.CellAt(bytes_.U32(at + key_field::ClassName)) : -1;
    if (cls >= 0) Mark(static_cast<uint32_t>(cls), cell_field::Data + uint64_t{classLength});
  }

  // An index entry may name a key or, below an "ri", another index.
  void PushIndexOrKey(uint32_t rel) {
    const int64_t i = map_.CellAt(rel);
    if (i < 0) return BrokenReference(rel);
    // A key node is read while its bytes are at hand; it only queues work.
    if (map_.Sig(cells_[i]) == key_field::SignatureValue) {
      if (!(cells_[i].flags & kReferenced)) MarkKey(static_cast<uint32_t>(i), kBase + rel);
    } else {
      Push(Role::Index, rel);
    }
  }

  void MarkIndex(uint32_t index, uint64_t at) {
    const Cell& c = cells_[index];
    const uint16_t sig = map_.Sig(c);
    const uint32_t stride = sig == index_field::FastLeaf || sig == index_field::HashLeaf ? index_field::HashedEntrySize
                            : sig == index_field::Leaf || sig == index_field::Root       ? index_field::EntrySize
                                                                                         : 0;
    if (stride == 0) return BrokenReference(c.off);
    const uint32_t count = bytes_.U16(at + index_field::Count);
    if (!Mark(index, index_field::Entries + uint64_t{stride} * count)) return;
    const uint32_t fits = (c.size - index_field::Entries) / stride;
    for (uint32_t i = 0; i < std::min(count, fits); ++i) {
      PushIndexOrKey(bytes_.U32(at + index_field::Entries + uint64_t{stride} * i));
    }
  }

  void MarkValueList(const Work& w, uint64_t at) {
    const Cell& c = cells_[w.cell];
    if (!Mark(w.cell, list_field::Entries + uint64_t{w.count} * list_field::EntrySize)) return;
    const uint32_t fits = (c.size - list_field::Entries) / list_field::EntrySize;
    const uint32_t listed = std::min(w.count, fits);
    for (uint32_t i = 0; i < listed; ++i) {
      const uint32_t rel = bytes_.U32(at + list_field::Entries + uint64_t{list_field::EntrySize} * i);
      MarkListedValue(rel);
    }
    if (listed < fits) marks_.slackLists.push_back({w.cell, listed, w.owner});
  }

  void MarkListedValue(uint32_t rel) {
    const int64_t i = map_.CellAt(rel);
    if (i < 0 || map_.Sig(cells_[i]) != value_field::SignatureValue) return BrokenReference(rel);
    if (!(cells_[i].flags & kReferenced)) MarkValue(static_cast<uint32_t>(i), kBase + rel);
  }

  void MarkValue(uint32_t index, uint64_t at) {
    const Cell& c = cells_[index];
    const uint32_t nameLength = bytes_.U16(at + value_field::NameLength);
    if (c.size < value_field::Name + nameLength) return BrokenReference(c.off);
    if (!Mark(index, value_field::Name + nameLength)) return;
    const uint32_t size = bytes_.U32(at + value_field::DataSize);
    const uint32_t length = size & ~value_field::SizeInline;
    if ((size & value_field::SizeInline) || length == 0) return;
    const uint32_t dataRel = bytes_.U32(at + value_field::Data);
    const int64_t data = map_.CellAt(dataRel);
    if (data < 0) return BrokenReference(dataRel);
    if (IsBigData(cells_[data], length)) {
      MarkBigData(static_cast<uint32_t>(data), length);
    } else {
      Mark(static_cast<uint32_t>(data), cell_field::Data + uint64_t{length});
    }
  }

  bool IsBigData(const Cell& c, uint32_t length) const {
    return length > big_data_field::SegmentBytes && map_.Minor() >= big_data_field::MinorVersion &&
           map_.Sig(c) == big_data_field::SignatureValue;
  }

  void MarkBigData(uint32_t db, uint32_t length) {
    if (!Mark(db, big_data_field::Fixed)) return;
    const uint64_t at = kBase + cells_[db].off;
    const uint32_t segments = bytes_.U16(at + big_data_field::SegmentCount);
    const int64_t list = map_.CellAt(bytes_.U32(at + big_data_field::SegmentList));
    if (list < 0 ||
        !Mark(static_cast<uint32_t>(list), list_field::Entries + uint64_t{segments} * list_field::EntrySize))
      return;
    const uint64_t listAt = kBase + cells_[list].off;
    const uint32_t fits = (cells_[list].size - list_field::Entries) / list_field::EntrySize;
    uint64_t left = length;
    for (uint32_t i = 0; i < std::min<uint32_t>(segments, fits); ++i) {
      const int64_t seg = map_.CellAt(bytes_.U32(listAt + list_field::Entries + uint64_t{list_field::EntrySize} * i));
      const uint64_t part = std::min<uint64_t>(left, big_data_field::SegmentBytes);
      if (seg >= 0) Mark(static_cast<uint32_t>(seg), cell_field::Data + part);
      left -= part;
    }
  }

  void MarkSecurity(uint32_t index, uint64_t at) {
    if (map_.Sig(cells_[index]) != security_field::SignatureValue) return BrokenReference(cells_[index].off);
    if (!Mark(index, security_field::Descriptor + uint64_t{bytes_.U32(at + security_field::DescriptorLength)})) return;
    // The security records are one ring: every member is live.
    for (uint64_t link : {at + security_field::Next, at + security_field::Previous}) {
      const int64_t i = map_.CellAt(bytes_.U32(link));
      if (i >= 0 && map_.Sig(cells_[i]) == security_field::SignatureValue && !(cells_[i].flags & kReferenced)) {
        work_.push_back({Role::Security, static_cast<uint32_t>(i), 0, 0});
      }
    }
  }

  CellMap& map_;
  std::vector<Cell>& cells_;
  const ScanBytes& bytes_;
  ScanDamage& damage_;
  std::vector<Work> work_;
  LiveMarks marks_;
};

}  // namespace

LiveMarks MarkLiveCells(CellMap& map, ScanDamage& damage) { return LiveMarker(map, damage).Run(); }

}  // namespace cellbrook::deleted
