#include "hive_builder.h"

#include <algorithm>
#include <cstring>

namespace cellbrook::test {
namespace {

constexpr uint32_t kBinHeader = 32;
constexpr uint32_t kSegment = 16344;

Bytes EncodeName(std::string_view utf8, NameStorage storage) {
  std::u16string units;
  for (size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    uint32_t cp = c;
    size_t len = 1;
    if (c >= 0xF0) {
      cp = c & 7;
      len = 4;
    } else if (c >= 0xE0) {
      cp = c & 0xF;
      len = 3;
    } else if (c >= 0xC0) {
      cp = c & 0x1F;
      len = 2;
    }
    for (size_t k = 1; k < len && i + k < utf8.size(); ++k) cp = (cp << 6) | (utf8[i + k] & 0x3F);
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      units.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      units.push_back(static_cast<char16_t>(cp));
    }
  }
  if (storage == NameStorage::Utf16) return Utf16Bytes(units, false);
  Bytes out;
  for (char16_t u : units) out.push_back(static_cast<uint8_t>(u));
  return out;
}

}  // namespace

Bytes Utf16Bytes(std::u16string_view text, bool withNul) {
  Bytes out;
  for (char16_t u : text) {
    out.push_back(static_cast<uint8_t>(u & 0xFF));
    out.push_back(static_cast<uint8_t>(u >> 8));
  }
  if (withNul) out.insert(out.end(), {0, 0});
  return out;
}

HiveBuilder::HiveBuilder() : header_(4096, 0), bins_(kBinHeader, 0) {
  std::memcpy(header_.data(), "regf", 4);
  header_[0x14] = 1;  // major version
  header_[0x18] = 5;  // minor version
  std::memcpy(bins_.data(), "hbin", 4);
}

uint32_t HiveBuilder::Cell(size_t payload) {
  const size_t size = (payload + 4 + 7) & ~size_t{7};
  const auto off = static_cast<uint32_t>(bins_.size());
  bins_.resize(bins_.size() + size, 0);
  Put32(off, static_cast<uint32_t>(-static_cast<int32_t>(size)));
  return off;
}

void HiveBuilder::Put8(uint32_t off, uint8_t v) { bins_.at(off) = v; }
void HiveBuilder::Put16(uint32_t off, uint16_t v) {
  Put8(off, static_cast<uint8_t>(v));
  Put8(off + 1, static_cast<uint8_t>(v >> 8));
}
void HiveBuilder::Put32(uint32_t off, uint32_t v) {
  Put16(off, static_cast<uint16_t>(v));
  Put16(off + 2, static_cast<uint16_t>(v >> 16));
}
uint32_t HiveBuilder::Get32(uint32_t off) const {
  return bins_.at(off) | (bins_.at(off + 1) << 8) | (bins_.at(off + 2) << 16) |
         (static_cast<uint32_t>(bins_.at(off + 3)) << 24);
}

uint32_t HiveBuilder::KeyRawName(const Bytes& name, bool latin1, uint32_t parent) {
  const uint32_t k = Cell(0x4C + name.size());
  Put16(k + 4, 0x6B6E);
  Put16(k + 6, latin1 ? 0x0020 : 0);
  Put32(k + 0x14, parent);
  Put32(k + 0x20, 0xFFFFFFFF);
  Put32(k + 0x24, 0xFFFFFFFF);
  Put32(k + 0x2C, 0xFFFFFFFF);
  Put32(k + 0x30, 0xFFFFFFFF);
  Put32(k + 0x34, 0xFFFFFFFF);
  Put16(k + 0x4C, static_cast<uint16_t>(name.size()));
  std::copy(name.begin(), name.end(), bins_.begin() + k + 0x50);
  return k;
}

uint32_t HiveBuilder::Key(std::string_view name, uint32_t parent, NameStorage storage) {
  return KeyRawName(EncodeName(name, storage), storage == NameStorage::Latin1, parent);
}

uint32_t HiveBuilder::SetSubkeys(uint32_t key, const std::vector<uint32_t>& subkeys, IndexKind kind, size_t leafSize) {
  auto leaf = [this](const uint32_t* keys, size_t n, IndexKind k) {
    const size_t stride = k == IndexKind::Li ? 4 : 8;
    const uint32_t c = Cell(4 + stride * n);
    Put16(c + 4, k == IndexKind::Li ? 0x696C : k == IndexKind::Lh ? 0x686C : 0x666C);
    Put16(c + 6, static_cast<uint16_t>(n));
    for (size_t i = 0; i < n; ++i) Put32(static_cast<uint32_t>(c + 8 + stride * i), keys[i]);
    return c;
  };
  uint32_t index;
  if (kind == IndexKind::Ri) {
    std::vector<uint32_t> leaves;
    for (size_t i = 0; i < subkeys.size(); i += leafSize) {
      leaves.push_back(leaf(subkeys.data() + i, std::min(leafSize, subkeys.size() - i), IndexKind::Lf));
    }
    index = Cell(4 + 4 * leaves.size());
    Put16(index + 4, 0x6972);
    Put16(index + 6, static_cast<uint16_t>(leaves.size()));
    for (size_t j = 0; j < leaves.size(); ++j) Put32(static_cast<uint32_t>(index + 8 + 4 * j), leaves[j]);
  } else {
    index = leaf(subkeys.data(), subkeys.size(), kind);
  }
  Put32(key + 0x18, static_cast<uint32_t>(subkeys.size()));
  Put32(key + 0x20, index);
  return index;
}

uint32_t HiveBuilder::Value(std::string_view name, uint32_t type, const Bytes& data, DataStorage storage,
                            NameStorage nameStorage) {
  const Bytes nameBytes = EncodeName(name, nameStorage);
  if (storage == DataStorage::Auto) {
    storage = data.size() <= 4 ? DataStorage::Inline : data.size() > kSegment ? DataStorage::Big : DataStorage::Cell;
  }
  uint32_t size = static_cast<uint32_t>(data.size());
  uint32_t dataField = 0;
  if (storage == DataStorage::Inline) {
    size |= 0x80000000u;
    for (size_t i = 0; i < data.size() && i < 4; ++i) dataField |= uint32_t{data[i]} << (8 * i);
  } else if (storage == DataStorage::Cell) {
    const uint32_t c = Cell(data.size());
    std::copy(data.begin(), data.end(), bins_.begin() + c + 4);
    dataField = c;
  } else {
    const size_t segments = (data.size() + kSegment - 1) / kSegment;
    const uint32_t list = Cell(4 * segments);
    for (size_t s = 0; s < segments; ++s) {
      const size_t n = std::min<size_t>(kSegment, data.size() - s * kSegment);
      const uint32_t seg = Cell(n);
      std::copy(data.begin() + s * kSegment, data.begin() + s * kSegment + n, bins_.begin() + seg + 4);
      Put32(static_cast<uint32_t>(list + 4 + 4 * s), seg);
    }
    const uint32_t db = Cell(8);
    Put16(db + 4, 0x6264);
    Put16(db + 6, static_cast<uint16_t>(segments));
    Put32(db + 8, list);
    dataField = db;
  }
  const uint32_t v = Cell(0x14 + nameBytes.size());
  Put16(v + 4, 0x6B76);
  Put16(v + 6, static_cast<uint16_t>(nameBytes.size()));
  Put32(v + 8, size);
  Put32(v + 0xC, dataField);
  Put32(v + 0x10, type);
  Put16(v + 0x14, nameStorage == NameStorage::Latin1 && !nameBytes.empty() ? 1 : 0);
  std::copy(nameBytes.begin(), nameBytes.end(), bins_.begin() + v + 0x18);
  return v;
}

uint32_t HiveBuilder::SetValues(uint32_t key, const std::vector<uint32_t>& values) {
  const uint32_t list = Cell(4 * values.size());
  for (size_t i = 0; i < values.size(); ++i) Put32(static_cast<uint32_t>(list + 4 + 4 * i), values[i]);
  Put32(key + 0x28, static_cast<uint32_t>(values.size()));
  Put32(key + 0x2C, list);
  return list;
}

void HiveBuilder::SetKeyTime(uint32_t key, uint64_t fileTime) {
  Put32(key + 8, static_cast<uint32_t>(fileTime));
  Put32(key + 12, static_cast<uint32_t>(fileTime >> 32));
}

void HiveBuilder::SetRoot(uint32_t key) {
  for (int i = 0; i < 4; ++i) header_[0x24 + i] = static_cast<uint8_t>(key >> (8 * i));
}

void HiveBuilder::SetMinorVersion(uint32_t minor) {
  for (int i = 0; i < 4; ++i) header_[0x18 + i] = static_cast<uint8_t>(minor >> (8 * i));
}

void HiveBuilder::SetLastWritten(uint32_t key, uint64_t filetime) {
  Put32(key + 8, static_cast<uint32_t>(filetime));
  Put32(key + 12, static_cast<uint32_t>(filetime >> 32));
}

uint32_t HiveBuilder::SecurityCell(const Bytes& descriptor, uint32_t references) {
  const uint32_t sk = Cell(0x14 + descriptor.size());
  Put16(sk + 4, 0x6B73);  // "sk"
  Put32(sk + 8, sk);
  Put32(sk + 12, sk);
  Put32(sk + 16, references);
  Put32(sk + 20, static_cast<uint32_t>(descriptor.size()));
  for (size_t i = 0; i < descriptor.size(); ++i) Put8(sk + 24 + static_cast<uint32_t>(i), descriptor[i]);
  return sk;
}

void HiveBuilder::SetSecurity(uint32_t key, uint32_t securityCell) { Put32(key + 0x30, securityCell); }

uint32_t HiveBuilder::SetClassName(uint32_t key, std::u16string_view text) {
  const Bytes units = Utf16Bytes(text, false);
  const uint32_t cell = Cell(units.size());
  for (size_t i = 0; i < units.size(); ++i) Put8(cell + 4 + static_cast<uint32_t>(i), units[i]);
  Put32(key + 0x34, cell);
  Put16(key + 0x4E, static_cast<uint16_t>(units.size()));
  return cell;
}

void HiveBuilder::Free(uint32_t cell, uint32_t through) {
  if (through == 0xFFFFFFFF) through = cell;
  const int32_t size = static_cast<int32_t>(Get32(through));
  const uint32_t end = through + static_cast<uint32_t>(size < 0 ? -size : size);
  Put32(cell, end - cell);
}

void HiveBuilder::AppendAfterBins(const Bytes& bytes) {
  afterBins_.insert(afterBins_.end(), bytes.begin(), bytes.end());
}

Bytes HiveBuilder::CellBytes(uint32_t cell) const {
  const int32_t size = static_cast<int32_t>(Get32(cell));
  const uint32_t n = static_cast<uint32_t>(size < 0 ? -size : size);
  return Bytes(bins_.begin() + cell, bins_.begin() + cell + n);
}

Bytes HiveBuilder::Image() const {
  Bytes bins = bins_;
  bins.resize((bins.size() + 4095) & ~size_t{4095}, 0);
  const auto size = static_cast<uint32_t>(bins.size());
  for (int i = 0; i < 4; ++i) bins[8 + i] = static_cast<uint8_t>(size >> (8 * i));
  Bytes image = header_;
  for (int i = 0; i < 4; ++i) image[0x28 + i] = static_cast<uint8_t>(size >> (8 * i));
  // A clean base block: equal sequence numbers and a correct checksum.
  uint32_t sum = 0;
  for (size_t at = 0; at < 508; at += 4) {
    sum ^= static_cast<uint32_t>(image[at]) | (static_cast<uint32_t>(image[at + 1]) << 8) |
           (static_cast<uint32_t>(image[at + 2]) << 16) | (static_cast<uint32_t>(image[at + 3]) << 24);
  }
  if (sum == 0xFFFFFFFFu) sum = 0xFFFFFFFEu;
  if (sum == 0) sum = 1;
  for (int i = 0; i < 4; ++i) image[508 + i] = static_cast<uint8_t>(sum >> (8 * i));
  image.insert(image.end(), bins.begin(), bins.end());
  image.insert(image.end(), afterBins_.begin(), afterBins_.end());
  return image;
}

SampleHive BuildSampleHive() {
  HiveBuilder b;
  SampleHive s{};
  s.root = b.Key("ROOT-NAME");
  s.software = b.Key("Software", s.root);
  s.system = b.Key("System", s.root);
  s.sample = b.Key("Sample", s.software);
  s.child = b.Key("Child", s.sample);
  b.SetSubkeys(s.root, {s.software, s.system});
  b.SetSubkeys(s.software, {s.sample});
  b.SetSubkeys(s.sample, {s.child});
  Bytes blob;
  for (uint8_t i = 0; i < 27; ++i) blob.push_back(i);
  b.SetValues(s.sample,
              {b.Value("", 1, Utf16Bytes(u"C:\\Temp")), b.Value("Count", 4, {0x1A, 0, 0, 0}), b.Value("Blob", 3, blob),
               b.Value("Path", 2, {0x25, 0, 0x41, 0, 0x25, 0, 0, 0}), b.Value("Short", 4, {1, 2})});
  b.SetRoot(s.root);
  s.image = b.Image();
  return s;
}

Bytes RepeatedFanOutHive(uint32_t fanOut) {
  HiveBuilder b;
  const uint32_t root = b.Key("root");
  const uint32_t leaf = b.Key("leaf", root), mid = b.Key("mid", root);
  b.SetSubkeys(mid, std::vector<uint32_t>(fanOut, leaf));
  b.SetSubkeys(root, std::vector<uint32_t>(fanOut, mid));
  b.SetRoot(root);
  return b.Image();
}

Bytes SparseIndexHive() {
  HiveBuilder b;
  const uint32_t root = b.Key("root");
  const uint32_t a = b.Key("A", root), big = b.Key("Big", root);
  std::vector<uint32_t> slots(2000, 0);
  slots.front() = a;
  slots.back() = big;
  b.SetSubkeys(root, slots);
  std::vector<uint32_t> children;
  for (int i = 0; i < 50; ++i) children.push_back(b.Key("c" + std::to_string(i), big));
  b.SetSubkeys(big, children);
  b.SetRoot(root);
  return b.Image();
}

}  // namespace cellbrook::test
