// The first sector of a hive's base block (and of every log's copy of it):
// fields, checksum and the clean/dirty verdict.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "hive/regf_layout.h"

namespace cellbrook {

struct BaseBlock {
  bool complete = false;      // at least 512 bytes were there to read
  bool hasSignature = false;  // "regf"
  uint32_t primarySequence = 0;
  uint32_t secondarySequence = 0;
  uint64_t lastWritten = 0;  // FILETIME
  uint32_t majorVersion = 0;
  uint32_t minorVersion = 0;
  uint32_t fileType = 0;
  uint32_t rootCell = 0;
  uint32_t hiveBinsDataSize = 0;
  uint32_t flags = 0;
  uint32_t storedChecksum = 0;
  uint32_t computedChecksum = 0;
  std::string fileName;  // UTF-8, up to the first NUL of the 64-byte field

  bool ChecksumValid() const { return complete && storedChecksum == computedChecksum; }
  bool SequencesEqual() const { return primarySequence == secondarySequence; }
};

// Checksum over the first 508 bytes (XOR of 127 words; 0xFFFFFFFF stored as
// 0xFFFFFFFE, 0 as 1). `sector` must hold at least 508 bytes, else 0.
uint32_t BaseBlockChecksum(std::span<const uint8_t> sector);

// Reads the fields; a block shorter than 512 bytes gives complete = false
// and zero fields.
BaseBlock ParseBaseBlock(std::span<const uint8_t> bytes);

// A primary file is dirty when its checksum is wrong or its sequence
// numbers differ.
bool IsDirty(const BaseBlock& primary);
// Why, in the user's words ("" when clean).
std::string DirtyReason(const BaseBlock& primary);

// 32-bit sequence numbers that wrap: true when a is later than b.
inline bool SequenceLater(uint32_t a, uint32_t b) { return a != b && static_cast<uint32_t>(a - b) < 0x80000000u; }

}  // namespace cellbrook
