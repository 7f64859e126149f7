#include "tree_model.h"

#include <stdexcept>

#include "hive/key_lookup.h"
#include "hive/key_walk.h"
#include "hive/text_codec.h"
#include "log_builder.h"

namespace cellbrook::test {
namespace {

std::u16string Fold(std::string_view text) {
  std::u16string out;
  AppendFoldedUnits(Utf8ToUtf16String(text), out);
  return out;
}

void EraseSubtree(TreeModel& model, const std::u16string& path) {
  model.erase(path);
  const std::u16string below = path + u"\\";
  for (auto it = model.lower_bound(below); it != model.end() && it->first.starts_with(below);) {
    it = model.erase(it);
  }
}

// Creates the key and every key above it.
ModelKey& Create(TreeModel& model, const std::u16string& path) {
  for (size_t cut = path.find(u'\\'); cut != std::u16string::npos; cut = path.find(u'\\', cut + 1)) {
    model[path.substr(0, cut)];
  }
  return model[path];
}

uint32_t AddKey(HiveBuilder& b, const SpecKey& key, uint32_t parent) {
  const uint32_t cell = b.Key(key.name, parent, key.storage);
  if (key.time != 0) b.SetKeyTime(cell, key.time);
  std::vector<uint32_t> values;
  for (const SpecValue& v : key.values) values.push_back(b.Value(v.name, v.type, v.data, v.storage, v.nameStorage));
  if (!values.empty()) b.SetValues(cell, values);
  std::vector<uint32_t> subkeys;
  for (const SpecKey& k : key.subkeys) subkeys.push_back(AddKey(b, k, cell));
  if (!subkeys.empty()) b.SetSubkeys(cell, subkeys);
  return cell;
}

}  // namespace

TreeModel ModelOf(const HiveImage& image) {
  TreeModel model;
  KeyInfo root;
  if (!GetRootKey(image, root)) return model;
  KeyWalk walk(image, "ROOT");
  struct Reader {
    const HiveImage& image;
    KeyWalk& walk;
    TreeModel& model;
    std::vector<std::string> paths;
    bool Enter(const KeyInfo& key, uint32_t depth) {
      paths.resize(depth);
      paths.push_back(depth == 0 ? "ROOT" : paths[depth - 1] + "\\" + EscapeKeyName(KeyNameString(key)));
      ModelKey& k = model[Fold(paths.back())];
      k.time = key.LastWritten;
      for (const ValueInfo& v : ReadValues(image, key, walk.Budget()).values) {
        if (!v.Ref) continue;
        ModelValue mv{v.Type, {}};
        v.Data.ForEachPiece([&](std::span<const uint8_t> p) { mv.data.insert(mv.data.end(), p.begin(), p.end()); });
        k.values[Fold(ValueNameString(v))] = mv;
      }
      return true;
    }
    void Leave(const KeyInfo&, uint32_t) {}
    void Missing(uint32_t) {}
  } reader{image, walk, model, {}};
  walk.Run(root, reader);
  return model;
}

void ApplyChanges(TreeModel& model, const std::vector<ChangeRecord>& changes) {
  for (const ChangeRecord& c : changes) {
    const std::u16string path = Fold(c.path);
    switch (c.kind) {
      case ChangeKind::KeyAdded: {
        EraseSubtree(model, path);
        Create(model, path).time = c.newTime;
        break;
      }
      case ChangeKind::KeyRemoved:
        EraseSubtree(model, path);
        break;
      case ChangeKind::KeyTime:
        Create(model, path).time = c.newTime;
        break;
      case ChangeKind::ValueAdded:
      case ChangeKind::ValueChanged:
        Create(model, path).values[Fold(c.valueName)] = {*c.newType, c.newData.value_or(Bytes{})};
        break;
      case ChangeKind::ValueRemoved:
        Create(model, path).values.erase(Fold(c.valueName));
        break;
      case ChangeKind::KeySame:
        break;
    }
  }
}

void ApplyRegText(TreeModel& model, const std::vector<RegKey>& file, const std::string& prefix) {
  for (const RegKey& key : file) {
    if (!key.path.starts_with(prefix)) throw std::runtime_error("key outside the prefix: " + key.path);
    const std::u16string path = Fold("ROOT" + key.path.substr(prefix.size()));
    if (key.remove) {
      EraseSubtree(model, path);
      continue;
    }
    ModelKey& k = Create(model, path);
    for (const RegValue& v : key.values) {
      const std::u16string name = Fold(v.isDefault ? "" : v.name);
      if (v.remove) {
        k.values.erase(name);
      } else {
        k.values[name] = {v.type, v.data};
      }
    }
  }
}

std::string ModelDifference(const TreeModel& a, const TreeModel& b, bool times) {
  for (const auto& [path, key] : a) {
    const auto other = b.find(path);
    const std::string shown = Utf16ToUtf8String(path);
    if (other == b.end()) return "key " + shown + " only in the first";
    if (times && key.time != other->second.time) return "time of " + shown + " differs";
    for (const auto& [name, value] : key.values) {
      const auto v = other->second.values.find(name);
      if (v == other->second.values.end())
        return "value " + Utf16ToUtf8String(name) + " of " + shown + " only in the first";
      // An empty REG_SZ re-imports as a lone NUL.
      const bool emptyString = value.type == RegSz && v->second.type == RegSz &&
                               (value.data.empty() || v->second.data.empty()) &&
                               (value.data.size() + v->second.data.size() <= 2);
      if (!(value == v->second) && !emptyString)
        return "value " + Utf16ToUtf8String(name) + " of " + shown + " differs";
    }
    if (key.values.size() != other->second.values.size()) return "values of " + shown + " differ in number";
  }
  for (const auto& [path, key] : b) {
    if (!a.count(path)) return "key " + Utf16ToUtf8String(path) + " only in the second";
  }
  return "";
}

Bytes BuildTree(const SpecKey& root, uint32_t bins) {
  HiveBuilder b;
  const uint32_t cell = AddKey(b, root, 0xFFFFFFFF);
  b.SetRoot(cell);
  Bytes image = b.Image();
  const size_t have = image.size() - 4096;
  if (bins > have) AppendEmptyBins(image, static_cast<uint32_t>((bins - have) / 4096));
  return image;
}

}  // namespace cellbrook::test
