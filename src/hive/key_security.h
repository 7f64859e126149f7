// What a key node holds beside its name, values and subkeys: its class
// name, its security cell and descriptor, its volatile subkey count. Each
// is read from the cell the node names, bounded by that cell and by the
// image; a cell that is not what the node says is damage, told in words.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "hive/hive_reader.h"

namespace cellbrook {

// A key's class name: UTF-16LE bytes of the length the node gives.
struct ClassName {
  ReadState state = ReadState::Empty;  // Empty: the key has none
  uint32_t cell = kNoCell;
  uint16_t length = 0;             // in bytes, as the node says
  std::span<const uint8_t> bytes;  // checked; empty unless Ok
  std::string problem;             // why it is Damaged

  std::string Text() const;  // UTF-8, every unit (unpaired surrogates as U+FFFD)
  std::u16string Units() const;
};
ClassName ReadClassName(const HiveImage& image, KeyRef key);

// A key's security cell ("sk") and the descriptor it holds.
struct SecurityCell {
  ReadState state = ReadState::Empty;  // Empty: the key names none
  uint32_t cell = kNoCell;
  uint32_t referenceCount = 0;
  uint32_t descriptorLength = 0;
  std::span<const uint8_t> descriptor;  // checked; empty unless Ok
  std::string problem;
};
// The cell offset the key node names for its security, or kNoCell.
uint32_t KeySecurityCellOffset(const HiveImage& image, KeyRef key);
SecurityCell ReadSecurityCell(const HiveImage& image, uint32_t cell);

// The key node's volatile subkey count (kept in the node even on disk,
// where the volatile keys themselves are gone).
uint32_t VolatileSubkeyCount(const HiveImage& image, KeyRef key);

}  // namespace cellbrook
