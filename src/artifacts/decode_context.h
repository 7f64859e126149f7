// What a decoder reads through: keys found by name without regard to case,
// their values by name, typed readers that say when a value is damaged, and
// the record list it adds to. Work is bounded by one slot budget a decoder.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "artifacts/artifact_record.h"
#include "artifacts/artifact_table.h"
#include "artifacts/hive_kind.h"
#include "hive/hive_reader.h"

namespace cellbrook {

// Case-insensitive equality of two names (ASCII quickly, else full folding).
bool SameName(std::string_view a, std::string_view b);

// A key with its shown path.
struct Node {
  KeyInfo info;
  std::string path;  // "ROOT\A", names escaped
  std::string name;  // the stored name as text
  explicit operator bool() const { return static_cast<bool>(info.Ref); }
};

// A key's values, read once, looked up by name.
class ValueSet {
 public:
  ValueSet() = default;
  ValueSet(const HiveImage& image, const Node& key, SlotBudget& budget);

  const std::vector<ValueInfo>& All() const { return values_; }
  const std::vector<std::string>& Names() const { return names_; }
  // First value of this name exactly, else without case; null when absent.
  const ValueInfo* Find(std::string_view name) const;
  bool ListDamaged() const { return listDamaged_; }

  // Typed reads: null when absent or of another type; a value whose data
  // cannot be read is null and noted in Problem().
  FieldValue String(std::string_view name);
  FieldValue Int(std::string_view name, bool qwordToo = false);
  FieldValue Signed(std::string_view name);
  FieldValue Multi(std::string_view name, bool sz = false);  // REG_MULTI_SZ (and REG_SZ when sz)
  std::optional<uint32_t> Dword(std::string_view name);
  std::optional<std::string> StringValue(std::string_view name);
  // The data bytes of a value of any type; nullopt when absent or unreadable.
  std::optional<std::vector<uint8_t>> Bytes(std::string_view name, uint32_t* type = nullptr);

  const std::string& Problem() const { return problem_; }
  void Note(const std::string& problem) {
    if (problem_.empty()) problem_ = problem;
  }

 private:
  std::vector<ValueInfo> values_;
  std::vector<std::string> names_;
  bool listDamaged_ = false;
  std::string problem_;
};

// The data as bytes; false when they cannot be read.
bool ReadValueBytes(const ValueInfo& value, std::vector<uint8_t>& out);
// The data as bytes for `record`'s value; false, and the record damaged, when
// they cannot be read.
bool ReadRecordData(ArtifactRecord& record, const ValueInfo& value, std::vector<uint8_t>& out);
// UTF-16LE text up to the first NUL unit, as UTF-8.
std::string Utf16Text(std::span<const uint8_t> bytes);
// REG_MULTI_SZ strings, final empty strings dropped.
std::vector<std::string> MultiStrings(std::span<const uint8_t> bytes);
// A string value of type 1 or 2; nullopt for other types.
std::optional<std::string> StringOf(const ValueInfo& value, std::span<const uint8_t> bytes);

uint16_t Le16At(std::span<const uint8_t> b, size_t off);
uint32_t Le32At(std::span<const uint8_t> b, size_t off);
uint64_t Le64At(std::span<const uint8_t> b, size_t off);
bool Fits(std::span<const uint8_t> b, size_t off, size_t len);
// "{xxxxxxxx-xxxx-...}" lowercase from 16 bytes at off; "" when they do not fit.
std::string GuidText(std::span<const uint8_t> b, size_t off);
// "S-1-5-21-..." from a binary SID at off; "" when it does not fit.
std::string SidText(std::span<const uint8_t> b, size_t off = 0);
std::string HexLower(std::span<const uint8_t> b);
// Unix seconds to FILETIME ticks.
uint64_t UnixToFileTime(uint64_t seconds);
// A civil date and time to FILETIME ticks; nullopt for an impossible date.
std::optional<uint64_t> CivilToFileTime(int year, int month, int day, int hour, int minute, int second,
                                        uint32_t ticks = 0);

class DecodeContext {
 public:
  DecodeContext(const HiveImage& image, HiveKindGuess kind, const ArtifactDecoder& decoder,
                std::vector<ArtifactRecord>& out);

  const HiveImage& Image() const { return image_; }
  HiveKind Kind() const { return kind_.kind; }
  const ArtifactDecoder& Decoder() const { return decoder_; }
  SlotBudget& Budget() { return budget_; }

  Node Root();
  // The subkey of this name (exactly, else without case), first in index
  // order; a null Node when absent. An unreadable subkey list is damage.
  Node Child(const Node& key, std::string_view name);
  // Below `key`, names separated by backslashes.
  Node Path(const Node& key, std::string_view path);
  // A user-hive path ("Software\..."); in a partial user hive the leading
  // "Software\" is dropped and other paths are absent.
  Node UserPath(std::string_view path);
  std::vector<Node> Children(const Node& key);
  ValueSet Values(const Node& key);

  // A new record from `key` (and value), every field null.
  ArtifactRecord& Add(const Node& key, const ValueInfo* value = nullptr);
  // Copies a value set's problem into the record.
  void Settle(ArtifactRecord& record, const ValueSet& values);
  // One record a subkey of `key`, given with the subkey's values and settled
  // after `fill`; false when the budget ran out first.
  template <class Fill>
  bool EachSubkeyRecord(const Node& key, Fill&& fill) {
    for (const Node& child : Children(key)) {
      if (Exhausted()) return false;
      ValueSet values = Values(child);
      ArtifactRecord& record = Add(child);
      fill(child, values, record);
      Settle(record, values);
    }
    return true;
  }

  // Entries that led nowhere, lists that could not be read whole.
  void Skipped(uint64_t count, const std::string& where);
  uint64_t SkippedCount() const { return skipped_; }
  const std::string& FirstSkipped() const { return firstSkipped_; }
  bool Exhausted() const { return budget_.Exhausted(); }

  // The control sets below the root, ascending by number, with Select\Current.
  struct ControlSet {
    Node key;
    uint32_t number;
  };
  const std::vector<ControlSet>& ControlSets();
  std::optional<uint32_t> CurrentControlSet();
  void SetControlSetFields(ArtifactRecord& record, const ControlSet& set);

 private:
  const HiveImage& image_;
  HiveKindGuess kind_;
  const ArtifactDecoder& decoder_;
  std::vector<ArtifactRecord>& out_;
  SlotBudget budget_;
  uint64_t skipped_ = 0;
  std::string firstSkipped_;
  bool controlSetsRead_ = false;
  std::vector<ControlSet> controlSets_;
  std::optional<uint32_t> current_;
};

}  // namespace cellbrook
