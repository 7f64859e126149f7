// The hive reader: plain records and free functions over one in-memory hive
// image. Nothing here allocates, copies, raises or reports; failures are the
// ordinary results (false, null, kNoEntries, zeroed records).
#pragma once

#include <cstddef>
#include <cstdint>

#include "hive/image_view.h"

namespace cellbrook {

constexpr uint32_t kNoEntries = 0xFFFFFFFFu;  // an enumeration's failure, and "all" as a count
constexpr uint32_t kBinsStart = 4096;         // file offset of the bins base
constexpr uint32_t kBigDataSegment = 16344;   // bytes of one big-data segment
constexpr size_t kNameTextRoom = 4095;        // bytes of a shown name text
constexpr size_t kValueTextUnits = 4096;      // UTF-16 units of a value text buffer

struct HiveImage {
  const uint8_t* Image = nullptr;
  uint32_t Size = 0;
  const uint8_t* Header = nullptr;

  ImageView View() const { return ImageView(Image, Image ? Size : 0); }
};

struct KeyInfo {
  const uint8_t* Node = nullptr;
  uint16_t NameLength = 0;
  const uint8_t* Name = nullptr;
  uint32_t ValueCount = 0;
  uint32_t SubkeyCount = 0;
  bool NameIsLatin1 = false;  // name stored one byte a character; else UTF-16LE
};

struct ValueInfo {
  const uint8_t* Node = nullptr;
  uint16_t NameLength = 0;
  const uint8_t* Name = nullptr;
  uint32_t DataLength = 0;  // 0 means no data
  uint32_t Type = 0;
  // First data byte of contiguous data; null for no data, for big data, and
  // for data whose start lies beyond the image. Read the bytes through
  // ValuePiece, which checks them.
  const uint8_t* Data = nullptr;
  bool NameIsLatin1 = false;
  // Where the data begin as a file offset (contiguous data), or the "db"
  // cell (big data). May lie outside the image: checked when read.
  uint64_t DataOffset = 0;
  bool IsBigData = false;
  uint16_t SegmentCount = 0;      // big data: segments the "db" cell lists
  uint64_t SegmentListOffset = 0;  // big data: file offset of the segment list cell
};

// Base block and bins.
const uint8_t* BinsBase(const HiveImage& image);
bool AttachImage(HiveImage& image, const uint8_t* block, uint32_t size);
const uint8_t* FindBin(const HiveImage& image, int32_t steps, const uint8_t* start);

// Keys.
bool GetRootKey(const HiveImage& image, KeyInfo& out);
bool GetKeyInfo(const HiveImage& image, KeyInfo& out, const uint8_t* node);
uint32_t EnumSubkeys(const HiveImage& image, const KeyInfo& key, KeyInfo* out,
                     uint32_t start, uint32_t count);
// Builds "ROOT\A\B" at the back of buffer[0 .. room-1]; writes no terminator.
char* BuildKeyPath(const HiveImage& image, const uint8_t* node, char* buffer, size_t room);

// Values.
bool GetValueInfo(const HiveImage& image, ValueInfo& out, const uint8_t* node);
uint32_t EnumValues(const HiveImage& image, const KeyInfo& key, ValueInfo* out,
                    uint32_t start, uint32_t count);

// A value's bytes come in pieces: one for contiguous data, one a segment
// for big data. ValuePiece gives piece i, or false when it (or, for big
// data, its entry in the segment list) lies outside the image.
uint32_t ValuePieceCount(const ValueInfo& value);
bool ValuePiece(const HiveImage& image, const ValueInfo& value, uint32_t index,
                const uint8_t*& bytes, uint32_t& length);
// True when every data byte lies inside the image (always for no data).
bool ValueDataInside(const HiveImage& image, const ValueInfo& value);
// Copies the first min(limit, DataLength) bytes; false if any lies outside.
bool CopyValuePrefix(const HiveImage& image, const ValueInfo& value, uint8_t* out,
                     uint32_t limit, uint32_t& copied);

// Calls fn(bytes, length) for each piece in order, after checking them all;
// false (and fn never called) when any piece lies outside the image.
template <class Fn>
bool ForEachValuePiece(const HiveImage& image, const ValueInfo& value, Fn&& fn) {
  if (!ValueDataInside(image, value)) return false;
  const uint32_t n = ValuePieceCount(value);
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t* bytes = nullptr;
    uint32_t length = 0;
    if (!ValuePiece(image, value, i, bytes, length)) return false;
    fn(bytes, length);
  }
  return true;
}

// Names: the decoded name text, UTF-8, up to the first NUL, cut at a
// character boundary to at most `room` bytes. Returns the bytes written.
size_t KeyNameText(const KeyInfo& key, char* out, size_t room);
size_t ValueNameText(const ValueInfo& value, char* out, size_t room);

}  // namespace cellbrook
