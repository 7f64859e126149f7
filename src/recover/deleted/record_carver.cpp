#include "recover/deleted/record_carver.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <utility>

#include "hive/text_codec.h"

namespace cellbrook::deleted {
namespace {

// Plausibility of an old record.
constexpr uint32_t kMaxNameChars = 1024;
constexpr uint32_t kMaxNameNuls = 2;
constexpr uint32_t kMaxSubkeys = 10000;
constexpr uint32_t kMaxValues = 1000;
constexpr uint64_t kFileTime1970 = 116444736000000000ull;
constexpr uint64_t kFileTime2100 = 157469184000000000ull;
// Names a lost signature leaves to judge by, so stricter.
constexpr uint32_t kMaxLostSignatureName = 255;
// Hives up to this minor version kept a free-list link in free cells.
constexpr uint32_t kLastFreeListMinor = 3;

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

bool LooksUtf16(const uint8_t* p, uint32_t bytes) {
  if (bytes < 2 || bytes % 2 != 0) return false;
  for (uint32_t i = 1; i < bytes; i += 2) {
    if (p[i] != 0) return false;
  }
  return true;
}

class Carver {
 public:
  Carver(const CellMap& map, const LiveMarks& marks, ScanBudget& budget, DeletedScan& out)
      : map_(map), bytes_(map.Bytes()), v_(map.Bytes().View()), marks_(marks), budget_(budget), out_(out) {}

  CarvedRecords Run() {
    ScanRegions();
    SortKeys();
    CollectListedValues();
    return std::move(carved_);
  }

 private:
  void ScanRegions() {
    const std::vector<RawRegion>& raw = map_.Raw();
    size_t nextRaw = 0;
    auto rawBefore = [&](uint64_t fileOff) {
      while (nextRaw < raw.size() && raw[nextRaw].begin < fileOff) {
        ScanRange(raw[nextRaw].begin, raw[nextRaw].end, raw[nextRaw].place);
        ++nextRaw;
      }
    };
    for (const Cell& c : map_.Cells()) {
      const uint64_t at = kBase + c.off, end = at + c.size;
      rawBefore(at);
      if (!(c.flags & kAllocated)) {
        const uint64_t lost = map_.Minor() <= kLastFreeListMinor ? TryLostSignatureKey(at, end) : 0;
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
      const uint64_t used = p[s] == 'n' ? TryKey(record, end, place, false) : TryValue(record, end, place);
      // A record's own bytes hold no other record.
      if (used != 0) s = std::max(s, ((record + used + 1) & ~uint64_t{1}) - 2);
    }
  }

  // A plausible key node at file offset `at` ending by `end` becomes a
  // recovered key; returns the bytes it uses, or 0.
  uint64_t TryKey(uint64_t at, uint64_t end, RecordPlace place, bool signatureLost) {
    if (at + key_field::Name > end) return 0;
    uint16_t flags = bytes_.U16(at + key_field::Flags);
    const uint32_t nameLength = bytes_.U16(at + key_field::NameLength);
    if (nameLength == 0 || at + key_field::Name + nameLength > end) return 0;
    if (bytes_.U32(at + key_field::SubkeyCount) > kMaxSubkeys ||
        bytes_.U32(at + key_field::VolatileSubkeyCount) > kMaxSubkeys ||
        bytes_.U32(at + key_field::ValueCount) > kMaxValues) {
      return 0;
    }
    const uint64_t time = bytes_.U64(at + key_field::LastWritten);
    if (time < kFileTime1970 || time >= kFileTime2100) return 0;
    const uint8_t* name = v_.At(at + key_field::Name, nameLength);
    if (!budget_.Spend(nameLength)) return 0;
    if (signatureLost) {
      // The link overwrote the flags too: judge the name by its bytes.
      if (nameLength > kMaxLostSignatureName * 2) return 0;
      flags = LooksUtf16(name, nameLength) ? 0 : key_field::FlagNameLatin1;
    }
    Name decoded = DecodeName(name, nameLength, (flags & key_field::FlagNameLatin1) != 0);
    if (!decoded.plausible) return 0;
    if (signatureLost && (decoded.text.empty() || std::any_of(decoded.text.begin(), decoded.text.end(), [](char ch) {
                            return static_cast<unsigned char>(ch) < 0x20;
                          }))) {
      return 0;
    }
    DeletedKey key;
    key.cell = static_cast<uint32_t>(at - kBase);
    key.name = std::move(decoded.text);
    key.lastWritten = time;
    key.parent = bytes_.U32(at + key_field::Parent);
    key.place = place;
    key.signatureLost = signatureLost;
    carved_.keyFlags.push_back(flags);
    out_.keys.push_back(std::move(key));
    return key_field::Name + nameLength;
  }

  // Windows 2000 kept a free-list link right after a free cell's size,
  // over the first old record's signature and flags.
  uint64_t TryLostSignatureKey(uint64_t at, uint64_t end) {
    const uint16_t sig = bytes_.U16(at + cell_field::Signature);
    if (sig == key_field::SignatureValue || sig == value_field::SignatureValue) return 0;
    const uint32_t link = bytes_.U32(at + cell_field::Data);
    if (link != kNoCell && (link % cell_field::Alignment != 0 || link >= map_.BinsRel())) return 0;
    return TryKey(at, end, RecordPlace::FreeCell, true);
  }

  uint64_t TryValue(uint64_t at, uint64_t end, RecordPlace place) {
    if (at + value_field::Name > end) return 0;
    const uint32_t nameLength = bytes_.U16(at + value_field::NameLength);
    if (at + value_field::Name + nameLength > end) return 0;
    const uint32_t size = bytes_.U32(at + value_field::DataSize);
    if (size & value_field::SizeInline) {
      if ((size & ~value_field::SizeInline) > value_field::InlineMax) return 0;
    } else if (size != 0 && bytes_.U32(at + value_field::Data) % cell_field::Alignment != 0) {
      return 0;
    }
    const bool latin1 = (bytes_.U16(at + value_field::Flags) & value_field::FlagNameLatin1) != 0;
    if (!budget_.Spend(nameLength)) return 0;
    Name decoded = DecodeName(v_.At(at + value_field::Name, nameLength), nameLength, latin1);
    if (!decoded.plausible) return 0;
    const uint32_t rel = static_cast<uint32_t>(at - kBase);
    if (valueIndex_.count(rel) != 0) return value_field::Name + nameLength;
    DeletedValue value;
    value.cell = rel;
    value.name = std::move(decoded.text);
    value.type = bytes_.U32(at + value_field::Type);
    value.declaredSize = size & ~value_field::SizeInline;
    value.place = place;
    valueIndex_.emplace(rel, static_cast<uint32_t>(out_.values.size()));
    out_.values.push_back(std::move(value));
    return value_field::Name + nameLength;
  }

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
      flags.push_back(carved_.keyFlags[i]);
    }
    out_.keys = std::move(keys);
    carved_.keyFlags = std::move(flags);
  }

  void CollectListedValues() {
    for (uint32_t k = 0; k < out_.keys.size(); ++k) {
      const uint64_t at = kBase + out_.keys[k].cell;
      const uint32_t count = bytes_.U32(at + key_field::ValueCount);
      if (count == 0) continue;
      const uint32_t list = bytes_.U32(at + key_field::ValueList);
      const uint32_t listSize = map_.PlausibleCellSize(list);
      if (listSize == 0) continue;
      const uint32_t n = std::min(count, (listSize - list_field::Entries) / list_field::EntrySize);
      for (uint32_t i = 0; i < n && budget_.Spend(); ++i) {
        const int64_t value =
            ListedValue(bytes_.U32(kBase + list + list_field::Entries + uint64_t{list_field::EntrySize} * i));
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
    for (const SlackList& s : marks_.slackLists) {
      const Cell& c = map_.Cells()[s.cell];
      const uint32_t fits = (c.size - list_field::Entries) / list_field::EntrySize;
      for (uint32_t i = s.listed; i < fits && budget_.Spend(); ++i) {
        const int64_t value =
            ListedValue(bytes_.U32(kBase + c.off + list_field::Entries + uint64_t{list_field::EntrySize} * i));
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
    if (rel % cell_field::Alignment != 0 || rel >= map_.FileRel() || map_.IsLive(rel)) return -1;
    if (auto it = valueIndex_.find(rel); it != valueIndex_.end()) return it->second;
    if (bytes_.U16(kBase + rel + value_field::Signature) != value_field::SignatureValue) return -1;
    const uint32_t cellSize = map_.PlausibleCellSize(rel);
    const uint64_t end = cellSize ? kBase + rel + cellSize : rel < map_.BinsRel() ? map_.BinsEnd() : bytes_.Size();
    if (TryValue(kBase + rel, end, RecordPlace::Listed) == 0) return -1;
    return valueIndex_.at(rel);
  }

  const CellMap& map_;
  const ScanBytes& bytes_;
  const ImageView& v_;
  const LiveMarks& marks_;
  ScanBudget& budget_;
  DeletedScan& out_;
  CarvedRecords carved_;
  std::unordered_map<uint32_t, uint32_t> valueIndex_;  // value cell -> index in out_.values
};

}  // namespace

CarvedRecords CarveRecords(const CellMap& map, const LiveMarks& marks, ScanBudget& budget, DeletedScan& out) {
  return Carver(map, marks, budget, out).Run();
}

}  // namespace cellbrook::deleted
