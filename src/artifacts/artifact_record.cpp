#include "artifacts/artifact_record.h"

#include <cstdlib>

#include "artifacts/artifact_table.h"
#include "hive/filetime.h"
#include "hive/hex_text.h"

namespace cellbrook {
namespace {

constexpr uint64_t kNever = 0x7FFFFFFFFFFFFFFFull;
// The first tick of the year 10000.
constexpr uint64_t kYear10000 = 3067671ull * 86400ull * 10000000ull;

FieldValue Timed(uint64_t filetime, FieldKind kind) {
  if (filetime == 0 || filetime == kNever || filetime >= kYear10000) return NullField();
  FieldValue v;
  v.kind = kind;
  v.number = filetime;
  return v;
}

const FieldValue kNull;

}  // namespace

FieldValue NullField() { return {}; }
FieldValue TextField(std::string text) {
  FieldValue v;
  v.kind = FieldKind::Text;
  v.text = std::move(text);
  return v;
}
FieldValue IntField(uint64_t value) {
  FieldValue v;
  v.kind = FieldKind::Integer;
  v.number = value;
  return v;
}
FieldValue SignedField(int64_t value) {
  FieldValue v;
  v.kind = FieldKind::Signed;
  v.number = static_cast<uint64_t>(value);
  return v;
}
FieldValue BoolField(bool value) {
  FieldValue v;
  v.kind = FieldKind::Bool;
  v.number = value ? 1 : 0;
  return v;
}
FieldValue BytesField(std::vector<uint8_t> bytes) {
  FieldValue v;
  v.kind = FieldKind::Bytes;
  v.bytes = std::move(bytes);
  return v;
}
FieldValue ListField(std::vector<std::string> items) {
  FieldValue v;
  v.kind = FieldKind::List;
  v.list = std::move(items);
  return v;
}
FieldValue TimeField(uint64_t filetime) { return Timed(filetime, FieldKind::Time); }
FieldValue LocalTimeField(uint64_t filetime) { return Timed(filetime, FieldKind::LocalTime); }

void ArtifactRecord::Set(std::string_view name, FieldValue value) {
  const int index = artifact ? artifact->FieldIndex(name) : -1;
  if (index < 0) std::abort();  // a decoder names a field its table does not declare
  fields[static_cast<size_t>(index)] = std::move(value);
}

const FieldValue& ArtifactRecord::Get(std::string_view name) const {
  const int index = artifact ? artifact->FieldIndex(name) : -1;
  return index < 0 ? kNull : fields[static_cast<size_t>(index)];
}

void ArtifactRecord::Damage(std::string_view why) {
  if (!damaged) error = std::string(why);
  damaged = true;
}

std::string ObjectJsonText(const FieldValue& value) {
  std::string out = "{";
  for (size_t i = 0; i < value.members.size(); ++i) {
    if (i > 0) out += ',';
    out += '"' + value.members[i].first + "\":";
    out += value.members[i].second ? std::to_string(*value.members[i].second) : "null";
  }
  return out + "}";
}

std::string FieldText(const FieldValue& value) {
  switch (value.kind) {
    case FieldKind::Null:
      return {};
    case FieldKind::Text:
      return value.text;
    case FieldKind::Integer:
      return std::to_string(value.number);
    case FieldKind::Signed:
      return std::to_string(value.SignedValue());
    case FieldKind::Time:
      return FormatFileTime(value.number);
    case FieldKind::LocalTime: {
      std::string text = FormatFileTime(value.number);
      if (!text.empty() && text.back() == 'Z') text.pop_back();
      return text;
    }
    case FieldKind::Bool:
      return value.number ? "true" : "false";
    case FieldKind::Bytes:
      return HexText(value.bytes);
    case FieldKind::List: {
      std::string out;
      for (size_t i = 0; i < value.list.size(); ++i) {
        if (i > 0) out += "; ";
        out += value.list[i];
      }
      return out;
    }
    case FieldKind::Object:
      return ObjectJsonText(value);
  }
  return {};
}

}  // namespace cellbrook
