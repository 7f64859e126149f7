#include "artifacts/decode_context.h"

#include <algorithm>
#include <cstdio>

#include "hive/hex_text.h"
#include "hive/key_lookup.h"
#include "hive/text_codec.h"

namespace cellbrook {

bool SameName(std::string_view a, std::string_view b) {
  const auto high = [](std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char c) { return (c & 0x80) != 0; });
  };
  if (!high(a) && !high(b)) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
      if (x == y) continue;
      const unsigned lx = x | 0x20u, ly = y | 0x20u;
      if (lx != ly || lx < 'a' || lx > 'z') return false;
    }
    return true;
  }
  return EqualIgnoringCase(a, b);
}

bool ReadValueBytes(const ValueInfo& value, std::vector<uint8_t>& out) {
  out.clear();
  if (!value.Data.Readable()) return false;
  out.reserve(value.Data.length);
  value.Data.ForEachPiece([&](std::span<const uint8_t> piece) { out.insert(out.end(), piece.begin(), piece.end()); });
  return true;
}

bool ReadRecordData(ArtifactRecord& record, const ValueInfo& value, std::vector<uint8_t>& out) {
  if (ReadValueBytes(value, out)) return true;
  record.Damage("the data of the value cannot be read");
  return false;
}

std::string Utf16Text(std::span<const uint8_t> bytes) {
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto u = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    if (u == 0) break;
    units.push_back(u);
  }
  return Utf16ToUtf8String(units);
}

std::vector<std::string> MultiStrings(std::span<const uint8_t> bytes) {
  std::vector<std::string> out;
  std::u16string current;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto u = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    if (u == 0) {
      out.push_back(Utf16ToUtf8String(current));
      current.clear();
    } else {
      current.push_back(u);
    }
  }
  if (!current.empty()) out.push_back(Utf16ToUtf8String(current));
  while (!out.empty() && out.back().empty()) out.pop_back();
  return out;
}

std::optional<std::string> StringOf(const ValueInfo& value, std::span<const uint8_t> bytes) {
  if (value.Type != RegSz && value.Type != RegExpandSz) return std::nullopt;
  return Utf16Text(bytes);
}

bool Fits(std::span<const uint8_t> b, size_t off, size_t len) { return off <= b.size() && len <= b.size() - off; }
uint16_t Le16At(std::span<const uint8_t> b, size_t off) {
  return Fits(b, off, 2) ? static_cast<uint16_t>(b[off] | (b[off + 1] << 8)) : 0;
}
uint32_t Le32At(std::span<const uint8_t> b, size_t off) {
  return Fits(b, off, 4) ? static_cast<uint32_t>(Le16At(b, off)) | (static_cast<uint32_t>(Le16At(b, off + 2)) << 16)
                         : 0;
}
uint64_t Le64At(std::span<const uint8_t> b, size_t off) {
  return Fits(b, off, 8) ? static_cast<uint64_t>(Le32At(b, off)) | (static_cast<uint64_t>(Le32At(b, off + 4)) << 32)
                         : 0;
}

std::string GuidText(std::span<const uint8_t> b, size_t off) {
  if (!Fits(b, off, 16)) return {};
  char text[40];
  std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", Le32At(b, off),
                Le16At(b, off + 4), Le16At(b, off + 6), b[off + 8], b[off + 9], b[off + 10], b[off + 11], b[off + 12],
                b[off + 13], b[off + 14], b[off + 15]);
  return text;
}

std::string SidText(std::span<const uint8_t> b, size_t off) {
  if (!Fits(b, off, 8)) return {};
  const uint8_t count = b[off + 1];
  if (!Fits(b, off + 8, size_t{count} * 4)) return {};
  uint64_t authority = 0;
  for (int i = 0; i < 6; ++i) authority = (authority << 8) | b[off + 2 + i];
  std::string text = "S-" + std::to_string(b[off]) + "-" + std::to_string(authority);
  for (size_t i = 0; i < count; ++i) text += "-" + std::to_string(Le32At(b, off + 8 + 4 * i));
  return text;
}

std::string HexLower(std::span<const uint8_t> b) { return HexText(b); }

uint64_t UnixToFileTime(uint64_t seconds) { return (seconds + 11644473600ull) * 10000000ull; }

std::optional<uint64_t> CivilToFileTime(int year, int month, int day, int hour, int minute, int second,
                                        uint32_t ticks) {
  if (year < 1601 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
      second > 59 || hour < 0 || minute < 0 || second < 0) {
    return std::nullopt;
  }
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day > kDays[month - 1] + (month == 2 && leap ? 1 : 0)) return std::nullopt;
  // Days from 1970-01-01 (civil algorithm), then shifted to 1601.
  const int y = month <= 2 ? year - 1 : year;
  const int era = y / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned mp = static_cast<unsigned>(month > 2 ? month - 3 : month + 9);
  const unsigned doy = (153 * mp + 2) / 5 + static_cast<unsigned>(day) - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days = static_cast<int64_t>(era) * 146097 + doe - 719468;
  const int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second + 11644473600ll;
  return static_cast<uint64_t>(seconds) * 10000000ull + ticks;
}

// ---- ValueSet

ValueSet::ValueSet(const HiveImage& image, const Node& key, SlotBudget& budget) {
  if (!key) return;
  ValueList list = ReadValues(image, key.info, budget);
  listDamaged_ = list.unreadable > 0;
  values_.reserve(list.values.size());
  for (ValueInfo& v : list.values) {
    if (!v.Ref) continue;
    names_.push_back(ValueNameString(v));
    values_.push_back(std::move(v));
  }
  if (listDamaged_) Note("the value list of " + key.path + " could not be read whole");
}

const ValueInfo* ValueSet::Find(std::string_view name) const {
  const ValueInfo* folded = nullptr;
  for (size_t i = 0; i < values_.size(); ++i) {
    if (names_[i] == name) return &values_[i];
    if (folded == nullptr && SameName(names_[i], name)) folded = &values_[i];
  }
  return folded;
}

std::optional<std::vector<uint8_t>> ValueSet::Bytes(std::string_view name, uint32_t* type) {
  const ValueInfo* v = Find(name);
  if (v == nullptr) return std::nullopt;
  if (type) *type = v->Type;
  std::vector<uint8_t> bytes;
  if (!ReadValueBytes(*v, bytes)) {
    Note("the data of value " + std::string(name) + " cannot be read");
    return std::nullopt;
  }
  return bytes;
}

std::optional<std::string> ValueSet::StringValue(std::string_view name) {
  const ValueInfo* v = Find(name);
  if (v == nullptr || (v->Type != RegSz && v->Type != RegExpandSz)) return std::nullopt;
  auto bytes = Bytes(name);
  if (!bytes) return std::nullopt;
  return Utf16Text(*bytes);
}

FieldValue ValueSet::String(std::string_view name) {
  auto text = StringValue(name);
  return text ? TextField(std::move(*text)) : NullField();
}

std::optional<uint32_t> ValueSet::Dword(std::string_view name) {
  const ValueInfo* v = Find(name);
  if (v == nullptr || v->Type != RegDword) return std::nullopt;
  auto bytes = Bytes(name);
  if (!bytes) return std::nullopt;
  if (bytes->size() < 4) {
    Note("REG_DWORD value " + std::string(name) + " holds " + std::to_string(bytes->size()) + " bytes");
    return std::nullopt;
  }
  return Le32At(*bytes, 0);
}

FieldValue ValueSet::Int(std::string_view name, bool qwordToo) {
  const ValueInfo* v = Find(name);
  if (v == nullptr) return NullField();
  if (v->Type == RegDword) return OptionalInt(Dword(name));
  if (qwordToo && v->Type == RegQword) {
    auto bytes = Bytes(name);
    if (!bytes) return NullField();
    if (bytes->size() < 8) {
      Note("REG_QWORD value " + std::string(name) + " holds " + std::to_string(bytes->size()) + " bytes");
      return NullField();
    }
    return IntField(Le64At(*bytes, 0));
  }
  return NullField();
}

FieldValue ValueSet::Signed(std::string_view name) {
  auto v = Dword(name);
  return v ? SignedField(static_cast<int32_t>(*v)) : NullField();
}

FieldValue ValueSet::Multi(std::string_view name, bool sz) {
  const ValueInfo* v = Find(name);
  if (v == nullptr) return NullField();
  if (v->Type == RegMultiSz) {
    auto bytes = Bytes(name);
    return bytes ? ListField(MultiStrings(*bytes)) : NullField();
  }
  if (sz && (v->Type == RegSz || v->Type == RegExpandSz)) {
    auto text = StringValue(name);
    return text ? ListField({*text}) : NullField();
  }
  return NullField();
}

// ---- DecodeContext

DecodeContext::DecodeContext(const HiveImage& image, HiveKindGuess kind, const ArtifactDecoder& decoder,
                             std::vector<ArtifactRecord>& out)
    : image_(image), kind_(kind), decoder_(decoder), out_(out), budget_(static_cast<uint64_t>(image.Size) + 4) {}

Node DecodeContext::Root() {
  Node root;
  if (!GetRootKey(image_, root.info)) root.info = KeyInfo{};
  root.path = "ROOT";
  root.name = root.info.Ref ? KeyNameString(root.info) : std::string();
  return root;
}

std::vector<Node> DecodeContext::Children(const Node& key) {
  std::vector<Node> children;
  if (!key || key.info.SubkeyCount == 0) return children;
  const SubkeyList list = ReadSubkeys(image_, key.info, budget_);
  if (list.unreadable > 0) Skipped(list.unreadable, key.path);
  children.reserve(list.keys.size());
  for (const KeyInfo& info : list.keys) {
    if (!info.Ref) continue;
    Node child;
    child.info = info;
    child.name = KeyNameString(info);
    child.path = key.path + '\\' + EscapeKeyName(child.name);
    children.push_back(std::move(child));
  }
  return children;
}

Node DecodeContext::Child(const Node& key, std::string_view name) {
  if (!key || key.info.SubkeyCount == 0) return {};
  const SubkeyList list = ReadSubkeys(image_, key.info, budget_);
  const KeyInfo* folded = nullptr;
  const KeyInfo* exact = nullptr;
  std::string foldedName;
  for (const KeyInfo& info : list.keys) {
    if (!info.Ref) continue;
    std::string text = KeyNameString(info);
    if (text == name) {
      exact = &info;
      foldedName = std::move(text);
      break;
    }
    if (folded == nullptr && SameName(text, name)) {
      folded = &info;
      foldedName = std::move(text);
    }
  }
  const KeyInfo* match = exact ? exact : folded;
  if (match == nullptr) {
    if (list.unreadable > 0) Skipped(list.unreadable, key.path);
    return {};
  }
  Node child;
  child.info = *match;
  child.name = std::move(foldedName);
  child.path = key.path + '\\' + EscapeKeyName(child.name);
  return child;
}

Node DecodeContext::Path(const Node& key, std::string_view path) {
  Node at = key;
  while (at && !path.empty()) {
    const size_t cut = path.find('\\');
    at = Child(at, path.substr(0, cut));
    if (cut == std::string_view::npos) break;
    path.remove_prefix(cut + 1);
  }
  return at;
}

Node DecodeContext::UserPath(std::string_view path) {
  constexpr std::string_view kSoftware = "Software\\";
  if (kind_.partialUser) {
    if (path.size() < kSoftware.size() || !SameName(path.substr(0, kSoftware.size()), kSoftware)) return {};
    path.remove_prefix(kSoftware.size());
  }
  return Path(Root(), path);
}

ValueSet DecodeContext::Values(const Node& key) {
  ValueSet set(image_, key, budget_);
  if (set.ListDamaged()) Skipped(1, key.path);
  return set;
}

ArtifactRecord& DecodeContext::Add(const Node& key, const ValueInfo* value) {
  ArtifactRecord& record = out_.emplace_back();
  record.artifact = &decoder_;
  record.key = key.path;
  record.keyRef = key.info.Ref;
  record.fields.resize(decoder_.fields.size());
  if (value != nullptr) {
    record.hasValue = true;
    record.valueName = ValueNameString(*value);
  }
  if (decoder_.FieldIndex("last_written") >= 0) record.Set("last_written", TimeField(key.info.LastWritten));
  return record;
}

void DecodeContext::Settle(ArtifactRecord& record, const ValueSet& values) {
  if (!values.Problem().empty()) record.Damage(values.Problem());
}

void DecodeContext::Skipped(uint64_t count, const std::string& where) {
  if (count == 0) return;
  if (skipped_ == 0) firstSkipped_ = where;
  skipped_ += count;
}

const std::vector<DecodeContext::ControlSet>& DecodeContext::ControlSets() {
  if (controlSetsRead_) return controlSets_;
  controlSetsRead_ = true;
  for (Node& key : Children(Root())) {
    const std::string& n = key.name;
    if (n.size() != 13 || !SameName(n.substr(0, 10), "ControlSet")) continue;
    if (!std::all_of(n.begin() + 10, n.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
    const auto number = static_cast<uint32_t>(std::stoul(n.substr(10)));
    controlSets_.push_back({std::move(key), number});
  }
  std::stable_sort(controlSets_.begin(), controlSets_.end(),
                   [](const ControlSet& a, const ControlSet& b) { return a.number < b.number; });
  ValueSet select = Values(Child(Root(), "Select"));
  current_ = select.Dword("Current");
  return controlSets_;
}

std::optional<uint32_t> DecodeContext::CurrentControlSet() {
  ControlSets();
  return current_;
}

void DecodeContext::SetControlSetFields(ArtifactRecord& record, const ControlSet& set) {
  record.Set("control_set", TextField(set.key.name));
  record.Set("current", CurrentControlSet() ? BoolField(*current_ == set.number) : NullField());
}

}  // namespace cellbrook
