// The hive reader: plain records and free functions over one in-memory hive
// image. Keys and values are named by their cell offsets (KeyRef, ValueRef);
// addresses are formed only inside the bounded view, and what a record
// hands out (a name, a value's data) is a span checked once when it was
// read. Nothing here raises or reports: damage is an ordinary result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "hive/image_view.h"
#include "hive/regf_layout.h"

namespace cellbrook {

constexpr uint32_t kNoEntries = 0xFFFFFFFFu;  // an enumeration's failure, and "all" as a count
constexpr uint32_t kNoCell = 0xFFFFFFFFu;     // a cell offset that names nothing
constexpr size_t kNameTextRoom = 4095;        // bytes of a shown name text
constexpr size_t kValueTextUnits = 4096;      // UTF-16 units of a value text buffer

enum ValueType : uint32_t {
  RegNone = 0,
  RegSz = 1,
  RegExpandSz = 2,
  RegBinary = 3,
  RegDword = 4,
  RegDwordBigEndian = 5,
  RegLink = 6,
  RegMultiSz = 7,
  RegResourceList = 8,
  RegFullResourceDescriptor = 9,
  RegResourceRequirementsList = 10,
  RegQword = 11,
};

struct KeyRef {
  uint32_t cell = kNoCell;
  explicit operator bool() const { return cell != kNoCell; }
  friend bool operator==(KeyRef, KeyRef) = default;
};
struct ValueRef {
  uint32_t cell = kNoCell;
  explicit operator bool() const { return cell != kNoCell; }
  friend bool operator==(ValueRef, ValueRef) = default;
};

struct HiveImage {
  const uint8_t* Image = nullptr;
  uint32_t Size = 0;
  const uint8_t* Header = nullptr;

  ImageView View() const { return ImageView(Image, Image ? Size : 0); }
};

// A key's or value's name as stored: Latin-1 bytes or UTF-16LE units, a
// span checked to lie inside the image.
struct StoredName {
  const uint8_t* bytes = nullptr;
  uint16_t length = 0;  // in bytes
  bool latin1 = false;

  // The decoded text (UTF-8) up to the first NUL, cut at a character
  // boundary to at most `room` bytes; returns the bytes written. An
  // unpaired surrogate shows as U+FFFD.
  size_t Text(char* out, size_t room) const;
  std::string Text() const;  // whole
  // The stored code units up to the first NUL, unpaired surrogates kept.
  void AppendUnits(std::u16string& out) const;
  // True when the name has no character before its first NUL.
  bool EmptyText() const;
};

// Whether something read was there, was absent, or could not be read.
enum class ReadState { Empty, Ok, Damaged };

struct KeyInfo {
  KeyRef Ref;  // null in a zeroed KeyInfo: an entry that leads to no key
  StoredName Name;
  uint32_t ValueCount = 0;
  uint32_t SubkeyCount = 0;
  uint64_t LastWritten = 0;  // FILETIME
  uint32_t Parent = kNoCell;
  uint16_t Flags = 0;
};

// A value's data, resolved once: one checked span, or for big data one a
// segment. Damaged when any byte lies outside the image or the segment
// list ends before the data do; then there are no spans.
struct ValueData {
  ReadState state = ReadState::Empty;
  uint32_t length = 0;
  std::span<const uint8_t> first;
  std::vector<std::span<const uint8_t>> more;  // big data: segments after the first

  bool Readable() const { return state != ReadState::Damaged; }
  template <class Fn>
  void ForEachPiece(Fn&& fn) const {
    if (state != ReadState::Ok) return;
    fn(first);
    for (const auto& piece : more) fn(piece);
  }
  // Copies the first min(limit, length) bytes; returns how many.
  uint32_t CopyPrefix(uint8_t* out, uint32_t limit) const;
};

struct ValueInfo {
  ValueRef Ref;  // null in a zeroed ValueInfo
  StoredName Name;
  uint32_t Type = 0;
  uint32_t DataLength = 0;  // 0 means no data
  bool IsBigData = false;
  ValueData Data;
};

// Base block and bins.
bool AttachImage(HiveImage& image, const uint8_t* block, uint32_t size);
// File offset of the bin `steps` bins after (or before) the bin at
// `startOffset`; false when a bin on the way is not one.
bool FindBin(const HiveImage& image, int32_t steps, uint64_t startOffset, uint64_t& out);

// Keys.
bool GetRootKey(const HiveImage& image, KeyInfo& out);
bool GetKeyInfo(const HiveImage& image, KeyInfo& out, KeyRef key);
uint32_t EnumSubkeys(const HiveImage& image, const KeyInfo& key, KeyInfo* out, uint32_t start, uint32_t count);
// Builds "ROOT\A\B" at the back of buffer[0 .. room-1]; writes no terminator.
char* BuildKeyPath(const HiveImage& image, KeyRef key, char* buffer, size_t room);

// Values.
bool GetValueInfo(const HiveImage& image, ValueInfo& out, ValueRef value);
uint32_t EnumValues(const HiveImage& image, const KeyInfo& key, ValueInfo* out, uint32_t start, uint32_t count);

// Work on hostile hives stays linear in the image: every index and value
// list slot examined costs one unit of a budget of Size / 4 (a well-formed
// hive has no more: each slot is 4 bytes of its own). Slots whose bytes lie
// outside the image are not examined and cost nothing.
class SlotBudget {
 public:
  explicit SlotBudget(uint64_t count) : left_(count) {}
  static SlotBudget For(const HiveImage& image) { return SlotBudget(image.Size / 4 + 1); }
  bool Take() {
    if (left_ == 0) {
      exhausted_ = true;
      return false;
    }
    --left_;
    return true;
  }
  bool Exhausted() const { return exhausted_; }

 private:
  uint64_t left_;
  bool exhausted_ = false;
};

// A key's subkeys in index order; an entry inside the image that leads to
// no key node gives a zeroed KeyInfo. Entries that could not be read are
// counted: `unreadable` covers both zeroed entries and those outside the
// image or behind an unusable index.
struct SubkeyList {
  ReadState state = ReadState::Empty;
  std::vector<KeyInfo> keys;
  uint64_t unreadable = 0;
  bool budgetOut = false;
};
SubkeyList ReadSubkeys(const HiveImage& image, const KeyInfo& key, SlotBudget& budget);
// The same into `out`, reusing its storage.
void ReadSubkeys(const HiveImage& image, const KeyInfo& key, SlotBudget& budget, SubkeyList& out);

// A key's values in list order, the same way; `dataDamaged` counts values
// whose data could not be read.
struct ValueList {
  ReadState state = ReadState::Empty;
  std::vector<ValueInfo> values;
  uint64_t unreadable = 0;
  uint64_t dataDamaged = 0;
  bool budgetOut = false;
};
ValueList ReadValues(const HiveImage& image, const KeyInfo& key, SlotBudget& budget);
void ReadValues(const HiveImage& image, const KeyInfo& key, SlotBudget& budget, ValueList& out);

}  // namespace cellbrook
