#include "recover/deleted_scan.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>
#include <utility>

#include "hive/filetime.h"
#include "hive/text_codec.h"

namespace cellbrook {
namespace {

// The format's names under the scan's short ones.
constexpr uint64_t kBase = kBaseBlockSize;  // file offset of the bins base
constexpr uint32_t kBinHeader = bin_field::HeaderSize;
constexpr uint32_t kPage = kPageSize;
constexpr uint32_t kKeyFixed = key_field::Name;
constexpr uint32_t kValueFixed = value_field::Name;
constexpr uint32_t kSegmentBytes = big_data_field::SegmentBytes;
constexpr uint32_t kInlineBit = value_field::SizeInline;
constexpr uint32_t kListEntry = list_field::EntrySize;
constexpr uint32_t kListEntries = list_field::Entries;

constexpr uint16_t kSigNk = key_field::SignatureValue, kSigVk = value_field::SignatureValue,
                   kSigLf = index_field::FastLeaf, kSigLh = index_field::HashLeaf, kSigLi = index_field::Leaf,
                   kSigRi = index_field::Root, kSigDb = big_data_field::SignatureValue,
                   kSigSk = security_field::SignatureValue;
constexpr uint32_t kSigHbin = bin_field::SignatureValue;

constexpr uint16_t kKeyRootFlag = key_field::FlagRoot;
constexpr uint16_t kKeyLatin1Flag = key_field::FlagNameLatin1;
constexpr uint16_t kValueLatin1Flag = value_field::FlagNameLatin1;

// Plausibility of an old record.
constexpr uint32_t kMaxNameChars = 1024;
constexpr uint32_t kMaxNameNuls = 2;
constexpr uint32_t kMaxSubkeys = 10000;
constexpr uint32_t kMaxValues = 1000;
constexpr uint64_t kFileTime1970 = 116444736000000000ull;
constexpr uint64_t kFileTime2100 = 157469184000000000ull;
// Names a lost signature leaves to judge by, so stricter.
constexpr uint32_t kMaxLostSignatureName = 255;

constexpr uint32_t kMaxPathDepth = 512;
constexpr size_t kMaxPathBytes = 16384;

constexpr uint8_t kAllocated = 1, kReferenced = 2;

struct Cell {
  uint32_t off = 0;   // relative
  uint32_t size = 0;  // bytes, size field included
  uint32_t used = 0;  // logical end of a referenced cell's record
  uint8_t flags = 0;
};

// A stretch of bytes with no trustworthy cell structure: scanned raw.
struct RawRegion {
  uint64_t begin, end;  // file offsets
  RecordPlace place;
};

struct Name {
  std::string text;
  bool plausible = false;
};

Name DecodeName(const uint8_t* p, uint32_t bytes, bool latin1) {
  Name name;
  const uint32_t chars = latin1 ? bytes : bytes / 2;
  if (chars > kMaxNameChars || (!latin1 && bytes % 2 != 0)) return name;
  uint32_t nuls = 0;
  if (latin1) {
    for (uint32_t i = 0; i < bytes && nuls <= kMaxNameNuls; ++i) nuls += p[i] == 0;
  } else {
    for (uint32_t i = 0; i < chars && nuls <= kMaxNameNuls; ++i) {
      const uint16_t u = ImageView::Le16(p + 2 * i);
      nuls += u == 0;
      if (u >= 0xD800 && u <= 0xDBFF) {
        const uint16_t low = i + 1 < chars ? ImageView::Le16(p + 2 * i + 2) : 0;
        if (low < 0xDC00 || low > 0xDFFF) return name;
        ++i;
      } else if (u >= 0xDC00 && u <= 0xDFFF) {
        return name;
      }
    }
  }
  if (nuls > kMaxNameNuls) return name;
  name.text.resize(size_t{chars} * 3 + 4);
  const size_t n = latin1 ? Latin1ToUtf8(p, bytes, name.text.data(), name.text.size())
                          : Utf16LeToUtf8(p, chars, name.text.data(), name.text.size());
  name.text.resize(n);
  name.plausible = true;
  return name;
}

// Bits set, without a library call where the target lacks the instruction.
inline uint32_t BitCount(uint64_t x) {
  x = x - ((x >> 1) & 0x5555555555555555ull);
  x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
  return static_cast<uint32_t>((x * 0x0101010101010101ull) >> 56);
}

bool LooksUtf16(const uint8_t* p, uint32_t bytes) {
  if (bytes < 2 || bytes % 2 != 0) return false;
  for (uint32_t i = 1; i < bytes; i += 2) {
    if (p[i] != 0) return false;
  }
  return true;
}

class Scanner {
 public:
  Scanner(const uint8_t* image, uint64_t size) : v_(image, image ? size : 0) {}

  DeletedScan Run() {
    out_.image = v_;
    out_.pathNodes.push_back({kNoCell, true, 0, 4, 0, 0});   // kPathRoot: "ROOT"
    out_.pathNodes.push_back({kNoCell, false, 0, 1, 0, 0});  // kPathUnknown: "?"
    if (!ReadBaseBlock()) return std::move(out_);
    WalkBins();
    IndexCells();
    MarkLive();
    ScanRegions();
    SortKeys();
    CollectListedValues();
    ResolveKeyPaths();
    ResolveValueOwners();
    SortValues();
    return std::move(out_);
  }

 private:
  // ---- base block and bins

  bool ReadBaseBlock() {
    if (v_.size() <= kBase + kBinHeader) return false;
    uint32_t binsSize = 0;
    v_.U32(base_field::HiveBinsDataSize, binsSize);
    v_.U32(base_field::RootCell, root_);
    v_.U32(base_field::MinorVersion, minor_);
    const uint64_t available = v_.size() - kBase;
    // A size of nought or past the file's end: the bins run to the end.
    binsRel_ = binsSize == 0 || binsSize > available ? available : binsSize;
    binsEnd_ = kBase + binsRel_;
    fileRel_ = available;
    out_.binsEnd = binsEnd_;
    // Names read, list entries and path steps: a few times the image at most.
    budget_ = 4 * v_.size() + (uint64_t{1} << 20);
    return true;
  }

  void WalkBins() {
    cells_.reserve(binsRel_ / 64);
    uint64_t bin = 0;
    while (bin < binsRel_) {
      uint32_t sig = 0, size = 0;
      v_.U32(kBase + bin + bin_field::Signature, sig);
      v_.U32(kBase + bin + bin_field::Size, size);
      if (sig != kSigHbin || size < kPage || size % kPage != 0 || size > binsRel_ - bin) {
        const uint64_t end = std::min<uint64_t>(bin + kPage, binsRel_);
        ++out_.damage.badBins;
        raw_.push_back({kBase + bin, kBase + end, RecordPlace::DamagedBin});
        bin = end;
        continue;
      }
      WalkCells(bin, bin + size);
      bin += size;
    }
    if (binsEnd_ < v_.size()) raw_.push_back({binsEnd_, v_.size(), RecordPlace::AfterBins});
  }

  void WalkCells(uint64_t bin, uint64_t binEnd) {
    uint64_t c = bin + kBinHeader;
    while (c < binEnd) {
      uint32_t field = 0;
      v_.U32(kBase + c + cell_field::Size, field);
      const int32_t s = static_cast<int32_t>(field);
      const uint64_t size = s < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(s)) : static_cast<uint64_t>(s);
      if (size < cell_field::MinSize || size % cell_field::Alignment != 0 || size > binEnd - c) {
        if (!AllZero(kBase + c, kBase + binEnd)) {
          ++out_.damage.badCells;
          raw_.push_back({kBase + c, kBase + binEnd, RecordPlace::DamagedBin});
        }
        return;
      }
      Cell cell;
      cell.off = static_cast<uint32_t>(c);
      cell.size = static_cast<uint32_t>(size);
      cell.flags = s < 0 ? kAllocated : 0;
      cells_.push_back(cell);
      c += size;
    }
  }

  bool AllZero(uint64_t begin, uint64_t end) const {
    const uint8_t* p = v_.At(begin, end - begin);
    return p != nullptr && std::all_of(p, p + (end - begin), [](uint8_t b) { return b == 0; });
  }

  // A bit a cell start (cells sit 8-aligned), with a running count a word.
  void IndexCells() {
    const uint64_t slots = binsRel_ / 8 + 1;
    starts_.assign((slots + 63) / 64, 0);
    for (const Cell& c : cells_) starts_[c.off / 512] |= uint64_t{1} << (c.off / 8 % 64);
    rank_.resize(starts_.size());
    uint32_t total = 0;
    for (size_t w = 0; w < starts_.size(); ++w) {
      rank_[w] = total;
      total += static_cast<uint32_t>(BitCount(starts_[w]));
    }
  }

  // Index of the cell starting at relative offset rel, or -1.
  int64_t CellAt(uint64_t rel) const {
    if (rel % 8 != 0 || rel >= binsRel_) return -1;
    const uint64_t slot = rel / 8, word = slot / 64;
    const uint64_t bits = starts_[word];
    const uint64_t below = bits & ((uint64_t{1} << (slot % 64)) - 1);
    if (!(bits >> (slot % 64) & 1)) return -1;
    return rank_[word] + BitCount(below);
  }

  uint16_t Sig(const Cell& c) const {
    uint16_t sig = 0;
    v_.U16(kBase + c.off + cell_field::Signature, sig);
    return sig;
  }
  uint16_t U16At(uint64_t off) const {
    uint16_t x = 0;
    v_.U16(off, x);
    return x;
  }
  uint32_t U32At(uint64_t off) const {
    uint32_t x = 0;
    v_.U32(off, x);
    return x;
  }
  uint64_t U64At(uint64_t off) const {
    return U32At(off) | uint64_t{U32At(off + 4)} << 32;
  }

  // ---- the live structure

  enum class Role : uint8_t { Key, Index, ValueList, Security };
  struct Work {
    Role role;
    uint32_t cell;   // index into cells_
    uint32_t count;  // ValueList: the key's value count
    uint32_t owner;  // ValueList: the key's cell offset
  };

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
    const int64_t i = CellAt(rel);
    if (i < 0) {
      ++out_.damage.liveRefsBroken;
      return;
    }
    if (cells_[i].flags & kReferenced) return;
    work_.push_back({role, static_cast<uint32_t>(i), count, owner});
  }

  void MarkLive() {
    Push(Role::Key, root_);
    while (!work_.empty()) {
      const Work w = work_.back();
      work_.pop_back();
      const Cell& c = cells_[w.cell];
      const uint64_t at = kBase + c.off;
      switch (w.role) {
        case Role::Key: MarkKey(w.cell, at); break;
        case Role::Index: MarkIndex(w.cell, at); break;
        case Role::ValueList: MarkValueList(w, at); break;
        case Role::Security: MarkSecurity(w.cell, at); break;
      }
    }
  }

  void MarkKey(uint32_t index, uint64_t at) {
    const Cell& c = cells_[index];
    const uint32_t nameLength = U16At(at + key_field::NameLength);
    if (Sig(c) != kSigNk || c.size < kKeyFixed + nameLength) {
      ++out_.damage.liveRefsBroken;
      return;
    }
    if (!Mark(index, kKeyFixed + nameLength)) return;
    // Queued, never followed here: an index that is really a key node must
    // not lead from key to key on the call stack.
    if (U32At(at + key_field::SubkeyCount) != 0) Push(Role::Index, U32At(at + key_field::SubkeyIndex));
    const uint32_t values = U32At(at + key_field::ValueCount);
    if (values != 0) Push(Role::ValueList, U32At(at + key_field::ValueList), values, c.off);
    Push(Role::Security, U32At(at + key_field::Security));
    const uint32_t classLength = U16At(at + key_field::ClassNameLength);
    const int64_t cls = classLength ? CellAt(U32At(at + key_field::ClassName)) : -1;
    if (cls >= 0) Mark(static_cast<uint32_t>(cls), cell_field::Data + uint64_t{classLength});
  }

  // An index entry may name a key or, below an "ri", another index.
  void PushIndexOrKey(uint32_t rel) {
    const int64_t i = CellAt(rel);
    if (i < 0) {
      ++out_.damage.liveRefsBroken;
      return;
    }
    // A key node is read while its bytes are at hand; it only queues work.
    if (Sig(cells_[i]) == kSigNk) {
      if (!(cells_[i].flags & kReferenced)) MarkKey(static_cast<uint32_t>(i), kBase + rel);
    } else {
      Push(Role::Index, rel);
    }
  }

  void MarkIndex(uint32_t index, uint64_t at) {
    const Cell& c = cells_[index];
    const uint16_t sig = Sig(c);
    const uint32_t stride = sig == kSigLf || sig == kSigLh ? index_field::HashedEntrySize
                          : sig == kSigLi || sig == kSigRi ? index_field::EntrySize : 0;
    if (stride == 0) {
      ++out_.damage.liveRefsBroken;
      return;
    }
    const uint32_t count = U16At(at + index_field::Count);
    if (!Mark(index, index_field::Entries + uint64_t{stride} * count)) return;
    const uint32_t fits = (c.size - index_field::Entries) / stride;
    for (uint32_t i = 0; i < std::min(count, fits); ++i) {
      PushIndexOrKey(U32At(at + index_field::Entries + uint64_t{stride} * i));
    }
  }

  void MarkValueList(const Work& w, uint64_t at) {
    const Cell& c = cells_[w.cell];
    if (!Mark(w.cell, kListEntries + uint64_t{w.count} * kListEntry)) return;
    const uint32_t fits = (c.size - kListEntries) / kListEntry;
    const uint32_t listed = std::min(w.count, fits);
    for (uint32_t i = 0; i < listed; ++i) {
      const uint32_t rel = U32At(at + kListEntries + uint64_t{kListEntry} * i);
      const int64_t vi = CellAt(rel);
      if (vi >= 0 && Sig(cells_[vi]) == kSigVk) {
        if (!(cells_[vi].flags & kReferenced)) MarkValue(static_cast<uint32_t>(vi), kBase + rel);
      } else {
        ++out_.damage.liveRefsBroken;
      }
    }
    if (listed < fits) liveSlackLists_.push_back({w.cell, listed, w.owner});
  }

  void MarkValue(uint32_t index, uint64_t at) {
    const Cell& c = cells_[index];
    const uint32_t nameLength = U16At(at + value_field::NameLength);
    if (c.size < kValueFixed + nameLength) {
      ++out_.damage.liveRefsBroken;
      return;
    }
    if (!Mark(index, kValueFixed + nameLength)) return;
    const uint32_t size = U32At(at + value_field::DataSize);
    const uint32_t length = size & ~kInlineBit;
    if ((size & kInlineBit) || length == 0) return;
    const int64_t data = CellAt(U32At(at + value_field::Data));
    if (data < 0) {
      ++out_.damage.liveRefsBroken;
      return;
    }
    if (IsBigData(cells_[data], length)) {
      MarkBigData(static_cast<uint32_t>(data), length);
    } else {
      Mark(static_cast<uint32_t>(data), cell_field::Data + uint64_t{length});
    }
  }

  bool IsBigData(const Cell& c, uint32_t length) const {
    return length > kSegmentBytes && minor_ >= big_data_field::MinorVersion && Sig(c) == kSigDb;
  }

  void MarkBigData(uint32_t db, uint32_t length) {
    if (!Mark(db, big_data_field::Fixed)) return;
    const uint64_t at = kBase + cells_[db].off;
    const uint32_t segments = U16At(at + big_data_field::SegmentCount);
    const int64_t list = CellAt(U32At(at + big_data_field::SegmentList));
    if (list < 0 || !Mark(static_cast<uint32_t>(list), kListEntries + uint64_t{segments} * kListEntry)) return;
    const uint64_t listAt = kBase + cells_[list].off;
    const uint32_t fits = (cells_[list].size - kListEntries) / kListEntry;
    uint64_t left = length;
    for (uint32_t i = 0; i < std::min<uint32_t>(segments, fits); ++i) {
      const int64_t seg = CellAt(U32At(listAt + kListEntries + uint64_t{kListEntry} * i));
      const uint64_t part = std::min<uint64_t>(left, kSegmentBytes);
      if (seg >= 0) Mark(static_cast<uint32_t>(seg), cell_field::Data + part);
      left -= part;
    }
  }

  void MarkSecurity(uint32_t index, uint64_t at) {
    if (Sig(cells_[index]) != kSigSk) {
      ++out_.damage.liveRefsBroken;
      return;
    }
    if (!Mark(index, security_field::Descriptor + uint64_t{U32At(at + security_field::DescriptorLength)})) return;
    // The security records are one ring: every member is live.
    for (uint64_t link : {at + security_field::Next, at + security_field::Previous}) {
      const int64_t i = CellAt(U32At(link));
      if (i >= 0 && Sig(cells_[i]) == kSigSk && !(cells_[i].flags & kReferenced)) {
        work_.push_back({Role::Security, static_cast<uint32_t>(i), 0, 0});
      }
    }
  }

  bool IsLive(uint64_t rel) const {
    const int64_t i = CellAt(rel);
    return i >= 0 && (cells_[i].flags & kReferenced);
  }

  // ---- the scan

  void ScanRegions() {
    size_t nextRaw = 0;
    auto rawBefore = [&](uint64_t fileOff) {
      while (nextRaw < raw_.size() && raw_[nextRaw].begin < fileOff) {
        ScanRange(raw_[nextRaw].begin, raw_[nextRaw].end, raw_[nextRaw].place);
        ++nextRaw;
      }
    };
    for (const Cell& c : cells_) {
      const uint64_t at = kBase + c.off, end = at + c.size;
      rawBefore(at);
      if (!(c.flags & kAllocated)) {
        const uint64_t lost = minor_ <= 3 ? TryLostSignatureKey(at, end) : 0;
        ScanRange(at + std::max<uint64_t>(cell_field::Data, lost), end, RecordPlace::FreeCell);
      } else if (!(c.flags & kReferenced)) {
        ScanRange(at + cell_field::Data, end, RecordPlace::UnreferencedCell);
      } else if (c.used < c.size) {
        ScanRange(at + c.used, end, RecordPlace::Slack);
      }
    }
    rawBefore(UINT64_MAX);
  }

  // Signatures at every even offset in [begin, end); a record starts 4
  // bytes before its signature and must end by `end`.
  void ScanRange(uint64_t begin, uint64_t end, RecordPlace place) {
    const uint8_t* p = v_.At(0, end);
    if (p == nullptr) return;
    // No record starts before the bins base.
    begin = std::max(begin, kBase + cell_field::Signature);
    for (uint64_t s = (begin + 1) & ~uint64_t{1}; s + 2 <= end; s += 2) {
      if (p[s + 1] != 'k' || (p[s] != 'n' && p[s] != 'v')) continue;
      const uint64_t record = s - cell_field::Signature;
      const uint64_t used = p[s] == 'n' ? TryKey(record, end, place, false)
                                        : TryValue(record, end, place);
      // A record's own bytes hold no other record.
      if (used != 0) s = std::max(s, ((record + used + 1) & ~uint64_t{1}) - 2);
    }
  }

  // A plausible key node at file offset `at` ending by `end` becomes a
  // recovered key; returns the bytes it uses, or 0.
  uint64_t TryKey(uint64_t at, uint64_t end, RecordPlace place, bool signatureLost) {
    if (at + kKeyFixed > end) return 0;
    uint16_t flags = U16At(at + key_field::Flags);
    const uint32_t nameLength = U16At(at + key_field::NameLength);
    if (nameLength == 0 || at + kKeyFixed + nameLength > end) return 0;
    if (U32At(at + key_field::SubkeyCount) > kMaxSubkeys || U32At(at + key_field::VolatileSubkeyCount) > kMaxSubkeys ||
        U32At(at + key_field::ValueCount) > kMaxValues) {
      return 0;
    }
    const uint64_t time = U64At(at + key_field::LastWritten);
    if (time < kFileTime1970 || time >= kFileTime2100) return 0;
    const uint8_t* name = v_.At(at + kKeyFixed, nameLength);
    if (!Spend(nameLength)) return 0;
    if (signatureLost) {
      // The link overwrote the flags too: judge the name by its bytes.
      if (nameLength > kMaxLostSignatureName * 2) return 0;
      flags = LooksUtf16(name, nameLength) ? 0 : kKeyLatin1Flag;
    }
    Name decoded = DecodeName(name, nameLength, (flags & kKeyLatin1Flag) != 0);
    if (!decoded.plausible) return 0;
    if (signatureLost &&
        (decoded.text.empty() ||
         std::any_of(decoded.text.begin(), decoded.text.end(),
                     [](char ch) { return static_cast<unsigned char>(ch) < 0x20; }))) {
      return 0;
    }
    DeletedKey key;
    key.cell = static_cast<uint32_t>(at - kBase);
    key.name = std::move(decoded.text);
    key.lastWritten = time;
    key.parent = U32At(at + key_field::Parent);
    key.place = place;
    key.signatureLost = signatureLost;
    keyFlags_.push_back(flags);
    out_.keys.push_back(std::move(key));
    return kKeyFixed + nameLength;
  }

  // Windows 2000 kept a free-list link right after a free cell's size,
  // over the first old record's signature and flags.
  uint64_t TryLostSignatureKey(uint64_t at, uint64_t end) {
    uint16_t sig = U16At(at + cell_field::Signature);
    if (sig == kSigNk || sig == kSigVk) return 0;
    const uint32_t link = U32At(at + cell_field::Data);
    if (link != kNoCell && (link % cell_field::Alignment != 0 || link >= binsRel_)) return 0;
    return TryKey(at, end, RecordPlace::FreeCell, true);
  }

  uint64_t TryValue(uint64_t at, uint64_t end, RecordPlace place) {
    if (at + kValueFixed > end) return 0;
    const uint32_t nameLength = U16At(at + value_field::NameLength);
    if (at + kValueFixed + nameLength > end) return 0;
    const uint32_t size = U32At(at + value_field::DataSize);
    if (size & kInlineBit) {
      if ((size & ~kInlineBit) > value_field::InlineMax) return 0;
    } else if (size != 0 && U32At(at + value_field::Data) % cell_field::Alignment != 0) {
      return 0;
    }
    const bool latin1 = (U16At(at + value_field::Flags) & kValueLatin1Flag) != 0;
    if (!Spend(nameLength)) return 0;
    Name decoded = DecodeName(v_.At(at + kValueFixed, nameLength), nameLength, latin1);
    if (!decoded.plausible) return 0;
    const uint32_t rel = static_cast<uint32_t>(at - kBase);
    if (valueIndex_.count(rel) != 0) return kValueFixed + nameLength;
    DeletedValue value;
    value.cell = rel;
    value.name = std::move(decoded.text);
    value.type = U32At(at + value_field::Type);
    value.declaredSize = size & ~kInlineBit;
    value.place = place;
    ReadData(at, value);
    valueIndex_.emplace(rel, static_cast<uint32_t>(out_.values.size()));
    out_.values.push_back(std::move(value));
    return kValueFixed + nameLength;
  }

  // ---- value data

  // Size of the cell at relative offset rel when its size field is
  // plausible, else 0. The bytes after the bins are an older state of the
  // same hive, its offsets counted from the same base: a cell there is
  // read as far as the file goes.
  uint32_t PlausibleCellSize(uint64_t rel) const {
    if (rel >= fileRel_ || fileRel_ - rel < cell_field::MinSize) return 0;
    const int32_t s = static_cast<int32_t>(U32At(kBase + rel + cell_field::Size));
    const uint64_t size = s < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(s)) : static_cast<uint64_t>(s);
    if (size < cell_field::MinSize || size % cell_field::Alignment != 0 || size > fileRel_ - rel) return 0;
    return static_cast<uint32_t>(size);
  }

  void ReadData(uint64_t at, DeletedValue& value) {
    const uint32_t size = U32At(at + value_field::DataSize);
    const uint32_t length = size & ~kInlineBit;
    if (length == 0) return;
    if (size & kInlineBit) {
      AddPieces(value, {at + value_field::Data, length});
      return;
    }
    const uint32_t rel = U32At(at + value_field::Data);
    const uint32_t cellSize = PlausibleCellSize(rel);
    if (cellSize == 0) {
      value.data = DataState::Unreadable;
      return;
    }
    value.reallocated = IsLive(rel);
    if (length > kSegmentBytes && minor_ >= big_data_field::MinorVersion &&
        U16At(kBase + rel + big_data_field::Signature) == kSigDb) {
      ReadBigData(rel, length, value);
      return;
    }
    AddPieces(value, {kBase + rel + cell_field::Data, std::min(length, cellSize - cell_field::Data)});
  }

  void AddPieces(DeletedValue& value, DataPiece piece) {
    value.data = DataState::Readable;
    value.firstPiece = static_cast<uint32_t>(out_.pieces.size());
    value.pieceCount = 1;
    value.dataLength = piece.length;
    out_.pieces.push_back(piece);
  }

  struct BigBlock {
    uint32_t first = 0, count = 0;
    uint64_t total = 0;
    bool broken = false, reallocated = false;
  };

  // A "db" cell's segments once, however many values name it.
  const BigBlock& BigDataBlock(uint32_t db) {
    auto [it, added] = bigBlocks_.try_emplace(db);
    BigBlock& block = it->second;
    if (!added) return block;
    block.first = static_cast<uint32_t>(out_.pieces.size());
    block.reallocated = IsLive(db);
    const uint32_t segments = U16At(kBase + db + big_data_field::SegmentCount);
    const uint32_t list = U32At(kBase + db + big_data_field::SegmentList);
    const uint32_t listSize = PlausibleCellSize(list);
    if (listSize == 0) {
      block.broken = true;
      return block;
    }
    block.reallocated = block.reallocated || IsLive(list);
    const uint32_t n = std::min<uint32_t>(segments, (listSize - kListEntries) / kListEntry);
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t seg = U32At(kBase + list + kListEntries + uint64_t{kListEntry} * i);
      const uint32_t segSize = PlausibleCellSize(seg);
      if (segSize == 0) {
        block.broken = true;
        break;
      }
      block.reallocated = block.reallocated || IsLive(seg);
      const uint32_t length = std::min(kSegmentBytes, segSize - cell_field::Data);
      out_.pieces.push_back({kBase + seg + cell_field::Data, length});
      block.total += length;
      ++block.count;
    }
    return block;
  }

  void ReadBigData(uint32_t db, uint32_t length, DeletedValue& value) {
    const BigBlock& block = BigDataBlock(db);
    value.reallocated = block.reallocated;
    if (block.total < length && block.broken) {
      value.data = DataState::Unreadable;
      return;
    }
    // The pieces the value's length needs.
    uint64_t have = 0;
    uint32_t count = 0;
    while (count < block.count && have < length && Spend()) have += out_.pieces[block.first + count++].length;
    value.data = DataState::Readable;
    value.firstPiece = block.first;
    value.pieceCount = count;
    value.dataLength = static_cast<uint32_t>(std::min<uint64_t>(have, length));
  }

  bool Spend(uint64_t steps = 1) {
    if (budget_ < steps) {
      budget_ = 0;
      ++out_.damage.budgetExhausted;
      return false;
    }
    budget_ -= steps;
    return true;
  }

  // ---- keys in order, and the values their lists name

  void SortKeys() {
    std::vector<uint32_t> order(out_.keys.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [this](uint32_t a, uint32_t b) { return out_.keys[a].cell < out_.keys[b].cell; });
    std::vector<DeletedKey> keys;
    std::vector<uint16_t> flags;
    keys.reserve(order.size());
    for (uint32_t i : order) {
      // One record found twice (it cannot be, regions do not overlap) stays once.
      if (!keys.empty() && keys.back().cell == out_.keys[i].cell) continue;
      keys.push_back(std::move(out_.keys[i]));
      flags.push_back(keyFlags_[i]);
    }
    out_.keys = std::move(keys);
    keyFlags_ = std::move(flags);
  }

  int64_t RecoveredKeyAt(uint32_t rel) const {
    auto it = std::lower_bound(out_.keys.begin(), out_.keys.end(), rel,
                               [](const DeletedKey& k, uint32_t r) { return k.cell < r; });
    return it != out_.keys.end() && it->cell == rel ? it - out_.keys.begin() : -1;
  }

  void CollectListedValues() {
    for (uint32_t k = 0; k < out_.keys.size(); ++k) {
      const uint64_t at = kBase + out_.keys[k].cell;
      const uint32_t count = U32At(at + key_field::ValueCount);
      if (count == 0) continue;
      const uint32_t list = U32At(at + key_field::ValueList);
      const uint32_t listSize = PlausibleCellSize(list);
      if (listSize == 0) continue;
      const uint32_t n = std::min(count, (listSize - kListEntries) / kListEntry);
      for (uint32_t i = 0; i < n && Spend(); ++i) {
        const int64_t value = ListedValue(U32At(kBase + list + kListEntries + uint64_t{kListEntry} * i));
        if (value < 0) continue;
        out_.keys[k].values.push_back(static_cast<uint32_t>(value));
        DeletedValue& v = out_.values[value];
        if (v.owner == ValueOwner::None) {
          v.owner = ValueOwner::Recovered;
          v.ownerIndex = k;
          v.ownerCell = out_.keys[k].cell;
        }
      }
    }
    for (const SlackList& s : liveSlackLists_) {
      const Cell& c = cells_[s.cell];
      const uint32_t fits = (c.size - kListEntries) / kListEntry;
      for (uint32_t i = s.listed; i < fits && Spend(); ++i) {
        const int64_t value = ListedValue(U32At(kBase + c.off + kListEntries + uint64_t{kListEntry} * i));
        if (value < 0) continue;
        DeletedValue& v = out_.values[value];
        if (v.owner == ValueOwner::None) {
          v.owner = ValueOwner::LiveSlack;
          v.ownerCell = s.owner;
        }
      }
    }
  }

  // The recovered value a list entry names (found before, or read now), or -1.
  int64_t ListedValue(uint32_t rel) {
    if (rel % cell_field::Alignment != 0 || rel >= fileRel_ || IsLive(rel)) return -1;
    if (auto it = valueIndex_.find(rel); it != valueIndex_.end()) return it->second;
    if (U16At(kBase + rel + value_field::Signature) != kSigVk) return -1;
    const uint32_t cellSize = PlausibleCellSize(rel);
    const uint64_t end = cellSize ? kBase + rel + cellSize : rel < binsRel_ ? binsEnd_ : v_.size();
    if (TryValue(kBase + rel, end, RecordPlace::Listed) == 0) return -1;
    return valueIndex_.at(rel);
  }

  // ---- paths

  bool IsRootNode(uint32_t rel, int64_t recovered) const {
    const uint16_t flags = recovered >= 0 ? keyFlags_[recovered] : U16At(kBase + rel + key_field::Flags);
    return rel == root_ || (flags & kKeyRootFlag) != 0;
  }

  // A key node to walk through: live, or recovered.
  bool IsKeyNode(uint32_t rel, int64_t& recovered) const {
    recovered = -1;
    if (IsLive(rel)) return U16At(kBase + rel + key_field::Signature) == kSigNk;
    recovered = RecoveredKeyAt(rel);
    return recovered >= 0;
  }

  std::string NodeName(uint32_t rel, int64_t recovered) const {
    if (recovered >= 0) return out_.keys[recovered].name;
    const uint64_t at = kBase + rel;
    const uint32_t nameLength = U16At(at + key_field::NameLength);
    const uint8_t* name = v_.At(at + kKeyFixed, nameLength);
    if (name == nullptr) return {};
    std::string text(size_t{nameLength} * 3 + 4, '\0');
    const bool latin1 = (U16At(at + key_field::Flags) & kKeyLatin1Flag) != 0;
    text.resize(latin1 ? Latin1ToUtf8(name, nameLength, text.data(), text.size())
                       : Utf16LeToUtf8(name, nameLength / 2, text.data(), text.size()));
    return text;
  }

  // The path node of the key node at rel (live or recovered), walking
  // parents without recursion and never through a node twice. Nodes are
  // shared: a path is its parent's path and one name, built when shown.
  uint32_t PathOf(uint32_t rel) {
    if (auto it = paths_.find(rel); it != paths_.end() && it->second != kOnChain) return it->second;
    std::vector<std::pair<uint32_t, int64_t>> chain;  // node, recovered index
    int64_t recovered = -1;
    IsKeyNode(rel, recovered);
    uint32_t node = rel;
    uint32_t above = kPathUnknown;
    bool topIsRoot = false;
    while (true) {
      if (auto it = paths_.find(node); it != paths_.end()) {
        if (it->second != kOnChain) above = it->second;
        break;  // known, or on this chain already (a cycle): broken here
      }
      paths_[node] = kOnChain;
      chain.push_back({node, recovered});
      if (IsRootNode(node, recovered)) {
        topIsRoot = true;
        break;
      }
      if (!Spend()) break;
      const uint32_t parent = U32At(kBase + node + key_field::Parent);
      if (!IsKeyNode(parent, recovered)) break;
      node = parent;
    }
    // Down the chain: the root key shows as "ROOT", not by its name.
    for (size_t i = chain.size(); i-- > 0;) {
      const auto [n, rec] = chain[i];
      if (topIsRoot && i == chain.size() - 1) {
        above = kPathRoot;
      } else {
        above = AddPathNode(above, NodeName(n, rec));
      }
      paths_[n] = above;
    }
    return paths_[rel];
  }

  uint32_t AddPathNode(uint32_t parent, const std::string& name) {
    std::vector<PathNode>& nodes = out_.pathNodes;
    PathNode node;
    const PathNode& up = nodes[parent];
    // A chain deeper or longer than a path may be counts as broken here.
    if (up.depth >= kMaxPathDepth || up.bytes + name.size() >= kMaxPathBytes) parent = kPathUnknown;
    const PathNode& top = nodes[parent];
    node.parent = parent;
    node.full = top.full;
    node.depth = top.depth + 1;
    node.bytes = static_cast<uint32_t>(top.bytes + 1 + name.size());
    node.nameBegin = out_.pathNames.size();
    node.nameLength = static_cast<uint32_t>(name.size());
    out_.pathNames += name;
    nodes.push_back(node);
    return static_cast<uint32_t>(nodes.size() - 1);
  }

  void ResolveKeyPaths() {
    for (uint32_t k = 0; k < out_.keys.size(); ++k) {
      DeletedKey& key = out_.keys[k];
      key.pathNode = PathOf(key.cell);
      key.pathKind = out_.pathNodes[key.pathNode].full ? PathKind::Full : PathKind::Partial;
      int64_t parent = -1;
      if (!IsRootNode(key.cell, k) && IsKeyNode(key.parent, parent)) {
        key.parentIsLive = parent < 0;
        key.parentKey = parent < 0 ? kNoCell : static_cast<uint32_t>(parent);
      }
    }
  }

  // Each live owner's path once, however many values it owns.
  void ResolveValueOwners() {
    std::unordered_map<uint32_t, uint32_t> owners;
    for (DeletedValue& v : out_.values) {
      if (v.owner != ValueOwner::LiveSlack) continue;
      auto [it, added] = owners.try_emplace(v.ownerCell, static_cast<uint32_t>(out_.liveOwners.size()));
      if (added) out_.liveOwners.push_back({v.ownerCell, PathOf(v.ownerCell)});
      v.ownerIndex = it->second;
    }
  }

  void SortValues() {
    const size_t n = out_.values.size();
    std::vector<uint32_t> order(n), newIndex(n);
    for (uint32_t i = 0; i < n; ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [this](uint32_t a, uint32_t b) {
      return out_.values[a].cell < out_.values[b].cell;
    });
    std::vector<DeletedValue> values;
    values.reserve(n);
    for (uint32_t i = 0; i < n; ++i) {
      newIndex[order[i]] = i;
      values.push_back(std::move(out_.values[order[i]]));
    }
    out_.values = std::move(values);
    for (DeletedKey& k : out_.keys) {
      for (uint32_t& i : k.values) i = newIndex[i];
    }
  }

  struct SlackList {
    uint32_t cell;    // the list's cell index
    uint32_t listed;  // entries the count covers
    uint32_t owner;   // the live key's cell offset
  };

  ImageView v_;
  DeletedScan out_;
  uint64_t binsRel_ = 0, binsEnd_ = 0;
  uint64_t fileRel_ = 0;  // bytes from the bins base to the file's end
  uint32_t root_ = kNoCell, minor_ = 0;
  uint64_t budget_ = 0;
  std::vector<Cell> cells_;
  std::vector<RawRegion> raw_;
  std::vector<uint64_t> starts_;
  std::vector<uint32_t> rank_;
  std::vector<Work> work_;
  std::vector<SlackList> liveSlackLists_;
  std::vector<uint16_t> keyFlags_;
  std::unordered_map<uint32_t, uint32_t> valueIndex_;
  std::unordered_map<uint32_t, BigBlock> bigBlocks_;
  static constexpr uint32_t kOnChain = 0xFFFFFFFF;
  std::unordered_map<uint32_t, uint32_t> paths_;  // key cell -> path node
};

void AppendHex(std::string& out, const uint8_t* p, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  for (size_t i = 0; i < n; ++i) {
    out += kDigits[p[i] >> 4];
    out += kDigits[p[i] & 15];
  }
}

std::string CellText(uint32_t cell) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", cell);
  return text;
}

}  // namespace

DeletedScan ScanDeletedRecords(const uint8_t* image, uint64_t size) {
  return Scanner(image, size).Run();
}

namespace {
const std::string kUnassociated = "?";
}  // namespace

std::string PathNodeText(const DeletedScan& scan, uint32_t node, bool escaped) {
  if (node >= scan.pathNodes.size()) return kUnassociated;
  std::vector<uint32_t> chain;
  while (node >= kPathFirstNamed && node < scan.pathNodes.size() && chain.size() <= kMaxPathDepth) {
    chain.push_back(node);
    node = scan.pathNodes[node].parent;
  }
  std::string text = node == kPathRoot ? "ROOT" : "?";
  for (size_t i = chain.size(); i-- > 0;) {
    const PathNode& n = scan.pathNodes[chain[i]];
    const std::string_view name = std::string_view(scan.pathNames).substr(n.nameBegin, n.nameLength);
    text += '\\';
    if (escaped) {
      text += EscapeRecordName(std::string(name));
    } else {
      text += name;
    }
  }
  return text;
}

std::string DeletedKeyPath(const DeletedScan& scan, const DeletedKey& key) {
  return PathNodeText(scan, key.pathNode, false);
}

std::string DeletedKeyPathText(const DeletedScan& scan, const DeletedKey& key) {
  return PathNodeText(scan, key.pathNode, true);
}

std::string ValueOwnerPath(const DeletedScan& scan, const DeletedValue& value) {
  if (value.owner == ValueOwner::Recovered) return DeletedKeyPath(scan, scan.keys[value.ownerIndex]);
  if (value.owner == ValueOwner::LiveSlack) return PathNodeText(scan, scan.liveOwners[value.ownerIndex].pathNode, false);
  return kUnassociated;
}

std::string ValueOwnerPathText(const DeletedScan& scan, const DeletedValue& value) {
  if (value.owner == ValueOwner::Recovered) return DeletedKeyPathText(scan, scan.keys[value.ownerIndex]);
  if (value.owner == ValueOwner::LiveSlack) return PathNodeText(scan, scan.liveOwners[value.ownerIndex].pathNode, true);
  return kUnassociated;
}

std::vector<uint8_t> DeletedValueData(const DeletedScan& scan, const DeletedValue& value) {
  std::vector<uint8_t> bytes;
  if (value.data != DataState::Readable) return bytes;
  bytes.reserve(value.dataLength);
  for (uint32_t i = 0; i < value.pieceCount && bytes.size() < value.dataLength; ++i) {
    const DataPiece& piece = scan.pieces[value.firstPiece + i];
    const uint32_t take = std::min<uint32_t>(piece.length, value.dataLength - static_cast<uint32_t>(bytes.size()));
    const uint8_t* p = scan.image.At(piece.offset, take);
    if (p == nullptr) break;
    bytes.insert(bytes.end(), p, p + take);
  }
  return bytes;
}

namespace {

StoredName Utf16Name(const std::string& text, std::vector<uint8_t>& bytes) {
  bytes.clear();
  for (char16_t unit : Utf8ToUtf16String(text)) {
    bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<uint8_t>(unit >> 8));
  }
  const auto length = static_cast<uint16_t>(std::min<size_t>(bytes.size(), 0xFFFE));
  return {bytes.empty() ? nullptr : bytes.data(), length, false};
}

}  // namespace

ValueInfo DeletedValueInfo(const DeletedScan& scan, const DeletedValue& value,
                           std::vector<uint8_t>& bytes, std::vector<uint8_t>* name) {
  ValueInfo info;
  // Its own cell: code that passes over entries without a value (search,
  // display) takes the record as a value.
  info.Ref = ValueRef{value.cell};
  info.Type = value.type;
  if (name != nullptr) info.Name = Utf16Name(value.name, *name);
  bytes = DeletedValueData(scan, value);
  if (value.data == DataState::Unreadable) {
    info.DataLength = value.declaredSize;
    info.Data.state = ReadState::Damaged;
    return info;
  }
  info.DataLength = info.Data.length = static_cast<uint32_t>(bytes.size());
  info.Data.state = bytes.empty() ? ReadState::Empty : ReadState::Ok;
  info.Data.first = bytes;
  return info;
}

KeyInfo DeletedKeyInfo(const DeletedKey& key, std::vector<uint8_t>& name) {
  KeyInfo info;
  info.Name = Utf16Name(key.name, name);
  info.LastWritten = key.lastWritten;
  info.ValueCount = static_cast<uint32_t>(key.values.size());
  return info;
}

std::string EscapeRecordName(const std::string& name) { return EscapeKeyName(name); }

std::string DeletedKeyLine(const DeletedScan& scan, const DeletedKey& key) {
  return "key\t" + DeletedKeyPathText(scan, key) + '\t' + FormatFileTime(key.lastWritten) + '\t' +
         CellText(key.cell);
}

std::string DeletedValueLine(const DeletedScan& scan, const DeletedValue& value) {
  std::string line = "value\t";
  line += ValueOwnerPathText(scan, value);
  line += '\t' + EscapeRecordName(value.name) + '\t' + std::to_string(value.type) + '\t';
  if (value.data == DataState::Unreadable) {
    line += '?';
  } else {
    const std::vector<uint8_t> bytes = DeletedValueData(scan, value);
    AppendHex(line, bytes.data(), bytes.size());
  }
  line += '\t' + CellText(value.cell) + '\t';
  if (value.reallocated) line += "reallocated";
  return line;
}

std::vector<std::string> DeletedRecordLines(const DeletedScan& scan) {
  std::vector<std::string> lines;
  lines.reserve(scan.keys.size() + scan.values.size());
  for (const DeletedKey& k : scan.keys) lines.push_back(DeletedKeyLine(scan, k));
  for (const DeletedValue& v : scan.values) lines.push_back(DeletedValueLine(scan, v));
  return lines;
}

}  // namespace cellbrook
