#include "artifact_hive.h"

#include "artifacts/artifact_table.h"

namespace cellbrook::test {

Bytes Sz(std::u16string_view text) { return Utf16Bytes(text, true); }
Bytes MultiSz(std::initializer_list<std::u16string_view> strings) {
  Bytes out;
  for (auto s : strings) {
    const Bytes b = Utf16Bytes(s, true);
    out.insert(out.end(), b.begin(), b.end());
  }
  out.insert(out.end(), {0, 0});
  return out;
}
void PutLe(Bytes& out, uint64_t v, size_t size) {
  for (size_t i = 0; i < size; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
Bytes Dword(uint32_t v) {
  Bytes b;
  PutLe(b, v, 4);
  return b;
}
Bytes Qword(uint64_t v) {
  Bytes b;
  PutLe(b, v, 8);
  return b;
}
Bytes Le16s(std::initializer_list<uint16_t> v) {
  Bytes b;
  for (uint16_t x : v) PutLe(b, x, 2);
  return b;
}
Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TreeHive& TreeHive::Key(std::string_view path) {
  std::string at;
  size_t from = 0;
  while (from <= path.size() && !path.empty()) {
    const size_t cut = path.find('\\', from);
    const std::string name(path.substr(from, cut == std::string_view::npos ? std::string_view::npos : cut - from));
    const std::string child = at.empty() ? name : at + "\\" + name;
    if (!nodes_.count(child)) {
      nodes_[child] = Node{};
      nodes_[at].children.push_back(child);
      order_.push_back(child);
    }
    at = child;
    if (cut == std::string_view::npos) break;
    from = cut + 1;
  }
  return *this;
}

TreeHive& TreeHive::Value(std::string_view keyPath, std::string_view name, uint32_t type, Bytes data) {
  Key(keyPath);
  nodes_[std::string(keyPath)].values.emplace_back(std::string(name), type, std::move(data), false);
  return *this;
}

TreeHive& TreeHive::BrokenValue(std::string_view keyPath, std::string_view name, uint32_t type, size_t size) {
  Key(keyPath);
  nodes_[std::string(keyPath)].values.emplace_back(std::string(name), type, Bytes(size, 0x41), true);
  return *this;
}

TreeHive& TreeHive::Time(std::string_view keyPath, uint64_t filetime) {
  Key(keyPath);
  nodes_[std::string(keyPath)].time = filetime;
  return *this;
}

Bytes TreeHive::Build() const {
  HiveBuilder b;
  std::map<std::string, uint32_t> cells;
  for (const std::string& path : order_) {
    if (path.empty()) {
      cells[path] = b.Key("ROOT-NAME");
      b.SetRoot(cells[path]);
      continue;
    }
    const size_t cut = path.rfind('\\');
    const std::string parent = cut == std::string::npos ? "" : path.substr(0, cut);
    cells[path] = b.Key(cut == std::string::npos ? path : path.substr(cut + 1), cells[parent]);
  }
  for (const std::string& path : order_) {
    const Node& node = nodes_.at(path);
    if (!node.children.empty()) {
      std::vector<uint32_t> kids;
      for (const std::string& c : node.children) kids.push_back(cells[c]);
      b.SetSubkeys(cells[path], kids);
    }
    if (!node.values.empty()) {
      std::vector<uint32_t> values;
      for (const auto& [name, type, data, broken] : node.values) {
        values.push_back(b.Value(name, type, data, broken ? DataStorage::Cell : DataStorage::Auto));
        if (broken) b.Put32(values.back() + 0x0C, 0x7FFFFFF0);
      }
      b.SetValues(cells[path], values);
    }
    if (node.time) b.SetKeyTime(cells[path], node.time);
  }
  return b.Image();
}

DecodedHive::DecodedHive(Bytes image, std::vector<std::string> names) : bytes(std::move(image)) {
  AttachImage(this->image, bytes.data(), static_cast<uint32_t>(bytes.size()));
  std::vector<const ArtifactDecoder*> selected;
  for (const std::string& n : names) selected.push_back(FindArtifactDecoder(n));
  run = RunArtifacts(this->image, selected);
}

std::vector<const ArtifactRecord*> DecodedHive::Of(std::string_view artifact) const {
  std::vector<const ArtifactRecord*> out;
  for (const ArtifactRecord& r : run.records) {
    if (artifact == r.artifact->name) out.push_back(&r);
  }
  return out;
}

}  // namespace cellbrook::test
