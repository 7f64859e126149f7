#include "recover/deleted/record_paths.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <utility>

#include "hive/text_codec.h"

namespace cellbrook::deleted {
namespace {

class PathResolver {
 public:
  PathResolver(const CellMap& map, const CarvedRecords& carved, ScanBudget& budget, DeletedScan& out)
      : map_(map), bytes_(map.Bytes()), keyFlags_(carved.keyFlags), budget_(budget), out_(out) {}

  void Run() {
    ResolveKeyPaths();
    ResolveValueOwners();
    SortValues();
  }

 private:
  static constexpr uint32_t kOnChain = 0xFFFFFFFF;

  int64_t RecoveredKeyAt(uint32_t rel) const {
    auto it = std::lower_bound(out_.keys.begin(), out_.keys.end(), rel,
                               [](const DeletedKey& k, uint32_t r) { return k.cell < r; });
    return it != out_.keys.end() && it->cell == rel ? it - out_.keys.begin() : -1;
  }

  bool IsRootNode(uint32_t rel, int64_t recovered) const {
    const uint16_t flags = recovered >= 0 ? keyFlags_[recovered] : bytes_.U16(kBase + rel + key_field::Flags);
    return rel == map_.Root() || (flags & key_field::FlagRoot) != 0;
  }

  // A key node to walk through: live, or recovered.
  bool IsKeyNode(uint32_t rel, int64_t& recovered) const {
    recovered = -1;
    if (map_.IsLive(rel)) return bytes_.U16(kBase + rel + key_field::Signature) == key_field::SignatureValue;
    recovered = RecoveredKeyAt(rel);
    return recovered >= 0;
  }

  std::string NodeName(uint32_t rel, int64_t recovered) const {
    if (recovered >= 0) return out_.keys[recovered].name;
    const uint64_t at = kBase + rel;
    const uint32_t nameLength = bytes_.U16(at + key_field::NameLength);
    const uint8_t* name = bytes_.View().At(at + key_field::Name, nameLength);
    if (name == nullptr) return {};
    std::string text(size_t{nameLength} * 3 + 4, '\0');
    const bool latin1 = (bytes_.U16(at + key_field::Flags) & key_field::FlagNameLatin1) != 0;
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
      if (!budget_.Spend()) break;
      const uint32_t parent = bytes_.U32(kBase + node + key_field::Parent);
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
    std::sort(order.begin(), order.end(),
              [this](uint32_t a, uint32_t b) { return out_.values[a].cell < out_.values[b].cell; });
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

  const CellMap& map_;
  const ScanBytes& bytes_;
  const std::vector<uint16_t>& keyFlags_;
  ScanBudget& budget_;
  DeletedScan& out_;
  std::unordered_map<uint32_t, uint32_t> paths_;  // key cell -> path node
};

}  // namespace

void ResolveRecordPaths(const CellMap& map, const CarvedRecords& carved, ScanBudget& budget, DeletedScan& out) {
  PathResolver(map, carved, budget, out).Run();
}

}  // namespace cellbrook::deleted
