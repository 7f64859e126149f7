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

// One side's entries (keys or values) of one key, sorted by folded name.
struct Sorted {
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
    // Index order is folded-name order in most hives already.
    if (!std::is_sorted(items.begin(), items.end(), less)) std::sort(items.begin(), items.end(), less);
  }
};

// Merges two sorted lists: fn(oldIndex or -1, newIndex or -1) in order;
// equal folded names pair up in turn.
template <class Fn>
void Merge(const Sorted& a, const Sorted& b, Fn&& fn) {
  size_t i = 0, j = 0;
  while (i < a.items.size() || j < b.items.size()) {
    if (j == b.items.size()) {
      fn(static_cast<int64_t>(a.items[i++].index), int64_t{-1});
    } else if (i == a.items.size()) {
      fn(int64_t{-1}, static_cast<int64_t>(b.items[j++].index));
    } else {
      const std::u16string_view x = a.Fold(a.items[i]), y = b.Fold(b.items[j]);
      if (x < y) {
        fn(static_cast<int64_t>(a.items[i++].index), int64_t{-1});
      } else if (y < x) {
        fn(int64_t{-1}, static_cast<int64_t>(b.items[j++].index));
      } else {
        fn(static_cast<int64_t>(a.items[i++].index), static_cast<int64_t>(b.items[j++].index));
      }
    }
  }
}

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
               CompareOutcome& outcome)
      : old_{*oldSide.image, SlotBudget::For(*oldSide.image), outcome.oldDamage, oldSide.above},
        new_{*newSide.image, SlotBudget::For(*newSide.image), outcome.newDamage, newSide.above},
        sink_(sink),
        call_(call),
        outcome_(outcome) {
    const size_t above = std::max(oldSide.above.size(), newSide.above.size());
    maxDepth_ = above < kMaxKeyDepth ? static_cast<uint32_t>(kMaxKeyDepth - above) : 0;
  }

  void Run(Pair start, std::string_view path, std::u16string_view units) {
    if (!start.hasOld && !start.hasNew) return;
    depth_ = 0;
    Enter(start, path, units, units);
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
      const KeyInfo& named = child.hasNew ? child.newKey : child.oldKey;
      name_.clear();
      named.Name.AppendUnits(name_);
      const std::string text = EscapeKeyName(Utf16ToUtf8String(name_));
      path_.assign(top.path).append("\\").append(text);
      units_.assign(top.units).append(u"\\").append(name_);
      Enter(child, path_, units_, name_);
    }
    if (old_.budget.Exhausted() || new_.budget.Exhausted()) outcome_.budgetOut = true;
  }

 private:
  struct Level {
    Pair pair;
    std::string path;
    std::u16string units;
    bool plain = true;
    std::vector<Pair> children;
    size_t next = 0;
    SubkeyList oldList, newList;
    Sorted oldSorted, newSorted;
  };

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

  void Emit(ChangeKind kind, const Level& level, std::u16string_view keyName, const ValueInfo* oldValue = nullptr,
            const ValueInfo* newValue = nullptr) {
    Change change{kind, depth_ - 1, level.path, level.units, keyName, level.plain,
                  level.pair.hasOld ? &level.pair.oldKey : nullptr,
                  level.pair.hasNew ? &level.pair.newKey : nullptr, oldValue, newValue};
    ++outcome_.changes;
    call_(sink_, change);
  }

  // Reads a side's subkeys into `sorted`, leaving out entries that lead
  // to no key and keys already on the branch.
  void ReadSorted(Side& side, bool oldSide, const KeyInfo& key, const std::string& path, SubkeyList& list,
                  Sorted& sorted) {
    sorted.Clear();
    list.keys.clear();
    if (key.SubkeyCount == 0) return;
    ReadSubkeys(side.image, key, side.budget, list);
    side.damage.AddSubkeys(list, [&] { return path; });
    for (uint32_t i = 0; i < list.keys.size(); ++i) {
      const KeyInfo& k = list.keys[i];
      if (!k.Ref || OnBranch(k.Ref, oldSide)) continue;
      sorted.Add(i, k.Name);
    }
    sorted.Sort();
  }

  void SortValues(Side& side, const KeyInfo& key, const std::string& path, ValueList& list, Sorted& sorted) {
    sorted.Clear();
    list.values.clear();
    ReadValues(side.image, key, side.budget, list);
    side.damage.AddValues(list, [&] { return path; });
    for (uint32_t i = 0; i < list.values.size(); ++i) {
      if (list.values[i].Ref) sorted.Add(i, list.values[i].Name);
    }
    sorted.Sort();
  }

  void Enter(const Pair& pair, std::string_view path, std::u16string_view units, std::u16string_view keyName) {
    const uint32_t depth = depth_++;
    if (levels_.size() < depth_) levels_.emplace_back();
    Level& level = levels_[depth];
    level.pair = pair;
    level.path.assign(path);
    level.units.assign(units);
    level.children.clear();
    level.next = 0;
    level.plain = depth == 0 || (levels_[depth - 1].plain && !keyName.empty() &&
                                 keyName.find_first_of(u"\\\r\n") == std::u16string_view::npos);
    if (!pair.hasOld) {
      Emit(ChangeKind::KeyAdded, level, keyName);
      SortValues(new_, pair.newKey, level.path, newValues_, newValueOrder_);
      for (const Sorted::Item& item : newValueOrder_.items) {
        Emit(ChangeKind::ValueAdded, level, keyName, nullptr, &newValues_.values[item.index]);
      }
    } else if (!pair.hasNew) {
      Emit(ChangeKind::KeyRemoved, level, keyName);
      return;
    } else {
      if (pair.oldKey.LastWritten != pair.newKey.LastWritten) Emit(ChangeKind::KeyTime, level, keyName);
      CompareValues(level, keyName);
    }
    if (depth >= maxDepth_) return;
    if (pair.hasOld) ReadSorted(old_, true, pair.oldKey, level.path, level.oldList, level.oldSorted);
    else level.oldSorted.Clear();
    ReadSorted(new_, false, pair.newKey, level.path, level.newList, level.newSorted);
    // Entries that could not be read are counted as damage; the readable
    // rest is compared, so that the changes between states compose.
    Merge(level.oldSorted, level.newSorted, [&](int64_t o, int64_t n) {
      Pair child;
      if (o >= 0) child.oldKey = level.oldList.keys[static_cast<size_t>(o)], child.hasOld = true;
      if (n >= 0) child.newKey = level.newList.keys[static_cast<size_t>(n)], child.hasNew = true;
      level.children.push_back(child);
    });
  }

  void CompareValues(const Level& level, std::u16string_view keyName) {
    SortValues(old_, level.pair.oldKey, level.path, oldValues_, oldValueOrder_);
    SortValues(new_, level.pair.newKey, level.path, newValues_, newValueOrder_);
    Merge(oldValueOrder_, newValueOrder_, [&](int64_t o, int64_t n) {
      const ValueInfo* a = o >= 0 ? &oldValues_.values[static_cast<size_t>(o)] : nullptr;
      const ValueInfo* b = n >= 0 ? &newValues_.values[static_cast<size_t>(n)] : nullptr;
      if (a == nullptr) {
        Emit(ChangeKind::ValueAdded, level, keyName, nullptr, b);
      } else if (b == nullptr) {
        Emit(ChangeKind::ValueRemoved, level, keyName, a, nullptr);
      } else if (a->Type != b->Type ||
                 (a->Data.Readable() && b->Data.Readable() && !SameData(a->Data, b->Data))) {
        // Data that could not be read on a side was counted as damage and is not compared.
        Emit(ChangeKind::ValueChanged, level, keyName, a, b);
      }
    });
  }

  Side old_, new_;
  void* sink_;
  ChangeFn call_;
  CompareOutcome& outcome_;
  uint32_t maxDepth_ = kMaxKeyDepth;
  std::vector<Level> levels_;
  uint32_t depth_ = 0;
  ValueList oldValues_, newValues_;
  Sorted oldValueOrder_, newValueOrder_;
  std::string path_;
  std::u16string units_, name_;
};

CompareOutcome RunCompare(const CompareSide& oldSide, const CompareSide& newSide, std::string_view startPath,
                          std::u16string_view startUnits, void* sink, ChangeFn call) {
  CompareOutcome outcome;
  static const HiveImage kNone;
  CompareSide a = oldSide, b = newSide;
  if (a.image == nullptr) a.image = &kNone, a.start.reset();
  if (b.image == nullptr) b.image = &kNone, b.start.reset();
  Pair start;
  if (a.start) start.oldKey = *a.start, start.hasOld = true;
  if (b.start) start.newKey = *b.start, start.hasNew = true;
  auto comparer = std::make_unique<TreeComparer>(a, b, sink, call, outcome);
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
    case ChangeKind::ValueAdded: return "added";
    case ChangeKind::KeyRemoved:
    case ChangeKind::ValueRemoved: return "removed";
    case ChangeKind::KeyTime:
    case ChangeKind::ValueChanged: break;
  }
  return "changed";
}

bool IsValueChange(ChangeKind kind) {
  return kind == ChangeKind::ValueAdded || kind == ChangeKind::ValueRemoved || kind == ChangeKind::ValueChanged;
}

}  // namespace cellbrook
