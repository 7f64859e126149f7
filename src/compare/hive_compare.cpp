#include "compare/hive_compare.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "hive/key_lookup.h"
#include "hive/key_walk.h"
#include "hive/text_codec.h"

namespace cellbrook {

bool SameData(const ValueData& a, const ValueData& b) {
  if (a.length != b.length) return false;
  if (a.state != ReadState::Ok || b.state != ReadState::Ok) return a.state == b.state;
  auto piece = [](const ValueData& d, size_t i) { return i == 0 ? d.first : d.more[i - 1]; };
  const size_t aPieces = 1 + a.more.size(), bPieces = 1 + b.more.size();
  size_t ai = 0, bi = 0, aAt = 0, bAt = 0;
  uint64_t left = a.length;
  while (left > 0) {
    while (ai < aPieces && aAt == piece(a, ai).size()) ++ai, aAt = 0;
    while (bi < bPieces && bAt == piece(b, bi).size()) ++bi, bAt = 0;
    if (ai == aPieces || bi == bPieces) return ai == aPieces && bi == bPieces;
    const std::span<const uint8_t> pa = piece(a, ai), pb = piece(b, bi);
    const size_t n = std::min<uint64_t>({pa.size() - aAt, pb.size() - bAt, left});
    if (std::memcmp(pa.data() + aAt, pb.data() + bAt, n) != 0) return false;
    aAt += n;
    bAt += n;
    left -= n;
  }
  return true;
}

namespace detail {

namespace {

// Folded names of one side's entries (keys or values) of one key.
struct Folds {
  struct Item {
    uint32_t index;  // into the side's list
    uint32_t foldAt, foldLength;
  };
  std::vector<Item> items;
  std::u16string folds;  // all folded names, one after another
  std::u16string scratch;

  std::u16string_view Fold(const Item& item) const { return {folds.data() + item.foldAt, item.foldLength}; }

  void Add(uint32_t index, const StoredName& name) {
    scratch.clear();
    name.AppendUnits(scratch);
    const size_t at = folds.size();
    AppendFoldedUnits(scratch, folds);
    items.push_back({index, static_cast<uint32_t>(at), static_cast<uint32_t>(folds.size() - at)});
  }
  void Clear() {
    items.clear();
    folds.clear();
  }
  void Sort() {
    auto less = [this](const Item& x, const Item& y) {
      const std::u16string_view a = Fold(x), b = Fold(y);
      return a != b ? a < b : x.index < y.index;
    };
    if (!std::is_sorted(items.begin(), items.end(), less)) std::sort(items.begin(), items.end(), less);
  }
};

// Pairs up the entries of two lists by folded name. The cheap way first:
// the same names in the same order (the stored bytes equal, or else their
// folds). Otherwise both are sorted once by folded name and merged, equal
// names pairing up in turn. Either way the pairs come in one order: the
// entries only the old list has, in its order, then the new list's
// entries in its order.
class Pairing {
 public:
  // `oldKeep` and `newKeep`: the usable entries, in list order.
  template <class Info>
  void Run(const std::vector<Info>& oldList, const std::vector<uint32_t>& oldKeep, const std::vector<Info>& newList,
           const std::vector<uint32_t>& newKeep) {
    pairs.clear();
    if (oldKeep.size() == newKeep.size()) {
      size_t i = 0;
      while (i < oldKeep.size() && SameName(oldList[oldKeep[i]].Name, newList[newKeep[i]].Name)) ++i;
      if (i == oldKeep.size()) {
        for (size_t k = 0; k < i; ++k) pairs.push_back({int64_t{oldKeep[k]}, int64_t{newKeep[k]}});
        return;
      }
    }
    a_.Clear();
    b_.Clear();
    for (uint32_t i : oldKeep) a_.Add(i, oldList[i].Name);
    for (uint32_t i : newKeep) b_.Add(i, newList[i].Name);
    a_.Sort();
    b_.Sort();
    size_t i = 0, j = 0;
    while (i < a_.items.size() || j < b_.items.size()) {
      int order = 0;  // <0: old only, >0: new only
      if (j == b_.items.size()) {
        order = -1;
      } else if (i == a_.items.size()) {
        order = 1;
      } else {
        const std::u16string_view x = a_.Fold(a_.items[i]), y = b_.Fold(b_.items[j]);
        order = x < y ? -1 : y < x ? 1 : 0;
      }
      const int64_t o = order <= 0 ? int64_t{a_.items[i++].index} : -1;
      const int64_t n = order >= 0 ? int64_t{b_.items[j++].index} : -1;
      pairs.push_back({o, n});
    }
    std::sort(pairs.begin(), pairs.end(),
              [](const std::pair<int64_t, int64_t>& x, const std::pair<int64_t, int64_t>& y) {
                if ((x.second < 0) != (y.second < 0)) return x.second < 0;
                return x.second < 0 ? x.first < y.first : x.second < y.second;
              });
  }

  std::vector<std::pair<int64_t, int64_t>> pairs;  // (old index or -1, new index or -1)

 private:
  bool SameName(const StoredName& x, const StoredName& y) {
    if (x.latin1 == y.latin1 && x.length == y.length &&
        (x.length == 0 || std::memcmp(x.bytes, y.bytes, x.length) == 0)) {
      return true;
    }
    unitsX_.clear();
    unitsY_.clear();
    x.AppendUnits(unitsX_);
    y.AppendUnits(unitsY_);
    if (unitsX_ == unitsY_) return true;
    foldX_.clear();
    foldY_.clear();
    AppendFoldedUnits(unitsX_, foldX_);
    AppendFoldedUnits(unitsY_, foldY_);
    return foldX_ == foldY_;
  }

  Folds a_, b_;
  std::u16string unitsX_, unitsY_, foldX_, foldY_;
};

struct Side {
  const HiveImage& image;
  SlotBudget budget;
  DamageReport& damage;
  const std::vector<KeyRef>& above;
};

struct Pair {
  KeyInfo oldKey, newKey;
  bool hasOld = false, hasNew = false;
};

}  // namespace

class TreeComparer {
 public:
  TreeComparer(const CompareSide& oldSide, const CompareSide& newSide, void* sink, ChangeFn call,
               CompareOutcome& outcome, bool everyKey)
      : everyKey_(everyKey),
        old_{*oldSide.image, SlotBudget::For(*oldSide.image), outcome.oldDamage, oldSide.above},
        new_{*newSide.image, SlotBudget::For(*newSide.image), outcome.newDamage, newSide.above},
        sink_(sink),
        call_(call),
        outcome_(outcome) {
    const size_t above = std::max(oldSide.above.size(), newSide.above.size());
    maxDepth_ = above < kMaxKeyDepth ? static_cast<uint32_t>(kMaxKeyDepth - above) : 0;
  }

  void Run(Pair start, std::string_view path, std::u16string_view units) {
    if (!start.hasOld && !start.hasNew) return;
    startPath_.assign(path);
    startUnits_.assign(units);
    depth_ = 0;
    Enter(start);
    while (depth_ > 0) {
      if (old_.budget.Exhausted() || new_.budget.Exhausted()) {
        outcome_.budgetOut = true;
        return;
      }
      Level& top = levels_[depth_ - 1];
      if (top.next == top.children.size()) {
        --depth_;
        continue;
      }
      const Pair child = top.children[top.next++];
      Enter(child);
    }
    if (old_.budget.Exhausted() || new_.budget.Exhausted()) outcome_.budgetOut = true;
  }

 private:
  struct Level {
    Pair pair;
    // The key's paths, built only when a change or damage needs them.
    bool named = false;
    std::string path;
    std::u16string units;
    size_t nameAt = 0;  // where the key's own name starts in `units`
    bool plain = true;
    std::vector<Pair> children;
    size_t next = 0;
    SubkeyList oldList, newList;
  };

  // The level's paths, and those of the levels above it.
  Level& Named(uint32_t depth) {
    Level& level = levels_[depth];
    if (level.named) return level;
    if (depth == 0) {
      level.path = startPath_;
      level.units = startUnits_;
      level.nameAt = 0;
      level.plain = true;
    } else {
      const Level& parent = Named(depth - 1);
      const KeyInfo& key = level.pair.hasNew ? level.pair.newKey : level.pair.oldKey;
      level.units.assign(parent.units).push_back(u'\\');
      level.nameAt = level.units.size();
      key.Name.AppendUnits(level.units);
      const std::u16string_view name = std::u16string_view(level.units).substr(level.nameAt);
      level.path.assign(parent.path).append("\\").append(EscapeKeyName(Utf16ToUtf8String(name)));
      level.plain = parent.plain && !name.empty() && name.find_first_of(u"\\\r\n") == std::u16string_view::npos;
    }
    level.named = true;
    return level;
  }

  bool OnBranch(KeyRef ref, bool oldSide) const {
    for (uint32_t d = 0; d < depth_; ++d) {
      const Pair& p = levels_[d].pair;
      if (oldSide ? (p.hasOld && p.oldKey.Ref == ref) : (p.hasNew && p.newKey.Ref == ref)) return true;
    }
    for (KeyRef r : (oldSide ? old_ : new_).above) {
      if (r == ref) return true;
    }
    return false;
  }

  void Emit(ChangeKind kind, uint32_t depth, const ValueInfo* oldValue = nullptr, const ValueInfo* newValue = nullptr) {
    const Level& level = Named(depth);
    const std::u16string_view keyName = std::u16string_view(level.units).substr(level.nameAt);
    Change change{kind,
                  depth,
                  level.path,
                  level.units,
                  keyName,
                  level.plain,
                  level.pair.hasOld ? &level.pair.oldKey : nullptr,
                  level.pair.hasNew ? &level.pair.newKey : nullptr,
                  oldValue,
                  newValue};
    if (kind != ChangeKind::KeySame) ++outcome_.changes;
    call_(sink_, change);
  }

  // A side's subkeys into `list`; `keep` gets the entries that lead to a
  // key not already on the branch.
  void ReadKept(Side& side, bool oldSide, const KeyInfo& key, uint32_t depth, SubkeyList& list,
                std::vector<uint32_t>& keep) {
    keep.clear();
    list.keys.clear();
    if (key.SubkeyCount == 0) return;
    ReadSubkeys(side.image, key, side.budget, list);
    side.damage.AddSubkeys(list, [&] { return Named(depth).path; });
    for (uint32_t i = 0; i < list.keys.size(); ++i) {
      if (list.keys[i].Ref && !OnBranch(list.keys[i].Ref, oldSide)) keep.push_back(i);
    }
  }

  void ReadValueList(Side& side, const KeyInfo& key, uint32_t depth, ValueList& list, std::vector<uint32_t>& keep) {
    keep.clear();
    list.values.clear();
    ReadValues(side.image, key, side.budget, list);
    side.damage.AddValues(list, [&] { return Named(depth).path; });
    for (uint32_t i = 0; i < list.values.size(); ++i) {
      if (list.values[i].Ref) keep.push_back(i);
    }
  }

  void Enter(const Pair& pair) {
    const uint32_t depth = depth_++;
    if (levels_.size() < depth_) levels_.emplace_back();
    Level& level = levels_[depth];
    level.pair = pair;
    level.named = false;
    level.children.clear();
    level.next = 0;
    if (!pair.hasOld) {
      Emit(ChangeKind::KeyAdded, depth);
      ReadValueList(new_, pair.newKey, depth, newValues_, newKeep_);
      for (uint32_t i : newKeep_) Emit(ChangeKind::ValueAdded, depth, nullptr, &newValues_.values[i]);
    } else if (!pair.hasNew) {
      Emit(ChangeKind::KeyRemoved, depth);
      return;
    } else {
      if (pair.oldKey.LastWritten != pair.newKey.LastWritten) {
        Emit(ChangeKind::KeyTime, depth);
      } else if (everyKey_) {
        Emit(ChangeKind::KeySame, depth);
      }
      CompareValues(depth);
    }
    if (depth >= maxDepth_) return;
    Level& here = levels_[depth];
    if (pair.hasOld) {
      ReadKept(old_, true, pair.oldKey, depth, here.oldList, oldKeep_);
    } else {
      here.oldList.keys.clear();
      oldKeep_.clear();
    }
    ReadKept(new_, false, pair.newKey, depth, here.newList, newKeep_);
    pairing_.Run(here.oldList.keys, oldKeep_, here.newList.keys, newKeep_);
    here.children.reserve(pairing_.pairs.size());
    for (const auto& [o, n] : pairing_.pairs) {
      Pair child;
      if (o >= 0) child.oldKey = here.oldList.keys[static_cast<size_t>(o)], child.hasOld = true;
      if (n >= 0) child.newKey = here.newList.keys[static_cast<size_t>(n)], child.hasNew = true;
      here.children.push_back(child);
    }
  }

  void CompareValues(uint32_t depth) {
    const Level& level = levels_[depth];
    ReadValueList(old_, level.pair.oldKey, depth, oldValues_, oldKeep_);
    ReadValueList(new_, level.pair.newKey, depth, newValues_, newKeep_);
    pairing_.Run(oldValues_.values, oldKeep_, newValues_.values, newKeep_);
    for (const auto& [o, n] : pairing_.pairs) {
      const ValueInfo* a = o >= 0 ? &oldValues_.values[static_cast<size_t>(o)] : nullptr;
      const ValueInfo* b = n >= 0 ? &newValues_.values[static_cast<size_t>(n)] : nullptr;
      if (a == nullptr) {
        Emit(ChangeKind::ValueAdded, depth, nullptr, b);
      } else if (b == nullptr) {
        Emit(ChangeKind::ValueRemoved, depth, a, nullptr);
      } else if (a->Type != b->Type || (a->Data.Readable() && b->Data.Readable() && !SameData(a->Data, b->Data))) {
        // Data that could not be read on a side was counted as damage and is not compared.
        Emit(ChangeKind::ValueChanged, depth, a, b);
      }
    }
  }

  bool everyKey_;
  Side old_, new_;
  void* sink_;
  ChangeFn call_;
  CompareOutcome& outcome_;
  uint32_t maxDepth_ = kMaxKeyDepth;
  std::string startPath_;
  std::u16string startUnits_;
  std::vector<Level> levels_;
  uint32_t depth_ = 0;
  ValueList oldValues_, newValues_;
  std::vector<uint32_t> oldKeep_, newKeep_;
  Pairing pairing_;
};

CompareOutcome RunCompare(const CompareSide& oldSide, const CompareSide& newSide, std::string_view startPath,
                          std::u16string_view startUnits, void* sink, ChangeFn call, bool everyKey) {
  CompareOutcome outcome;
  static const HiveImage kNone;
  CompareSide a = oldSide, b = newSide;
  if (a.image == nullptr) a.image = &kNone, a.start.reset();
  if (b.image == nullptr) b.image = &kNone, b.start.reset();
  Pair start;
  if (a.start) start.oldKey = *a.start, start.hasOld = true;
  if (b.start) start.newKey = *b.start, start.hasNew = true;
  auto comparer = std::make_unique<TreeComparer>(a, b, sink, call, outcome, everyKey);
  comparer->Run(start, startPath, startUnits);
  return outcome;
}

}  // namespace detail

namespace {

std::optional<std::vector<uint8_t>> DataOf(const ValueInfo* value) {
  if (value == nullptr || !value->Data.Readable()) return std::nullopt;
  std::vector<uint8_t> bytes;
  bytes.reserve(value->Data.length);
  value->Data.ForEachPiece([&](std::span<const uint8_t> p) { bytes.insert(bytes.end(), p.begin(), p.end()); });
  return bytes;
}

}  // namespace

ChangeRecord RecordOf(const Change& change) {
  ChangeRecord r;
  r.kind = change.kind;
  r.depth = change.depth;
  r.path.assign(change.path);
  if (change.oldKey) r.oldTime = change.oldKey->LastWritten;
  if (change.newKey) r.newTime = change.newKey->LastWritten;
  const ValueInfo* named = change.newValue ? change.newValue : change.oldValue;
  if (named != nullptr) {
    r.valueName = ValueNameString(*named);
    r.unnamed = named->Name.length == 0;
  }
  if (change.oldValue) r.oldType = change.oldValue->Type;
  if (change.newValue) r.newType = change.newValue->Type;
  r.oldData = DataOf(change.oldValue);
  r.newData = DataOf(change.newValue);
  return r;
}

CollectedChanges CompareHives(const HiveImage& oldImage, const HiveImage& newImage) {
  CollectedChanges out;
  CompareSide a{&oldImage, std::nullopt, {}}, b{&newImage, std::nullopt, {}};
  KeyInfo root;
  if (GetRootKey(oldImage, root)) a.start = root;
  if (GetRootKey(newImage, root)) b.start = root;
  out.outcome = CompareTrees(a, b, "ROOT", u"ROOT", [&](const Change& c) { out.records.push_back(RecordOf(c)); });
  return out;
}

const char* ChangeWord(ChangeKind kind) {
  switch (kind) {
    case ChangeKind::KeyAdded:
    case ChangeKind::ValueAdded:
      return "added";
    case ChangeKind::KeyRemoved:
    case ChangeKind::ValueRemoved:
      return "removed";
    case ChangeKind::KeySame:
      return "same";
    case ChangeKind::KeyTime:
    case ChangeKind::ValueChanged:
      break;
  }
  return "changed";
}

bool IsValueChange(ChangeKind kind) {
  return kind == ChangeKind::ValueAdded || kind == ChangeKind::ValueRemoved || kind == ChangeKind::ValueChanged;
}

}  // namespace cellbrook
