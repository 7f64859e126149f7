// Artifact records: typed fields in the order their artifact declares them.
// A record that could not be decoded whole is marked damaged and says why,
// keeping what could be read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "hive/hive_reader.h"

namespace cellbrook {

enum class FieldKind { Null, Text, Integer, Signed, Time, LocalTime, Bool, Bytes, List, Object };

// One field's value. Times are FILETIME ticks; bytes are kept raw.
struct FieldValue {
  FieldKind kind = FieldKind::Null;
  std::string text;
  uint64_t number = 0;  // Integer, Time, LocalTime, Bool; Signed as two's complement
  std::vector<uint8_t> bytes;
  std::vector<std::string> list;
  std::vector<std::pair<std::string, std::optional<int64_t>>> members;  // Object

  bool IsNull() const { return kind == FieldKind::Null; }
  int64_t SignedValue() const { return static_cast<int64_t>(number); }
};

FieldValue NullField();
FieldValue TextField(std::string text);
FieldValue IntField(uint64_t value);
FieldValue SignedField(int64_t value);
FieldValue BoolField(bool value);
FieldValue BytesField(std::vector<uint8_t> bytes);
FieldValue ListField(std::vector<std::string> items);
// A FILETIME: null for 0, 0x7FFFFFFFFFFFFFFF ("never") and past the year 9999.
FieldValue TimeField(uint64_t filetime);
FieldValue LocalTimeField(uint64_t filetime);
template <class T>
FieldValue OptionalInt(const std::optional<T>& v) {
  return v ? IntField(static_cast<uint64_t>(*v)) : NullField();
}

struct ArtifactDecoder;

struct ArtifactRecord {
  const ArtifactDecoder* artifact = nullptr;
  std::string key;        // "ROOT\A\B", names escaped as the key listing writes them
  KeyRef keyRef;          // the key the record comes from
  std::string valueName;  // the value it comes from, when one
  bool hasValue = false;
  std::vector<FieldValue> fields;  // one a declared field, in declared order
  bool damaged = false;
  std::string error;

  // Sets the field declared under `name`; an undeclared name is a program
  // fault and aborts, so that tests catch it.
  void Set(std::string_view name, FieldValue value);
  const FieldValue& Get(std::string_view name) const;
  // Marks the record damaged; the first error text is kept.
  void Damage(std::string_view why);
};

// "2019-03-05T12:34:56.1234567Z" (local times without the Z), integers in
// decimal, bools true/false, bytes as lowercase hex, lists joined with "; ",
// objects as JSON text; "" for null.
std::string FieldText(const FieldValue& value);
std::string ObjectJsonText(const FieldValue& value);

}  // namespace cellbrook
