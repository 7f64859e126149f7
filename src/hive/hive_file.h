// Reading a hive file whole into one block, as the open command does: one
// read of a regular file up to the format's 4 GiB - 1 bytes, then the
// signature check.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hive/hive_reader.h"

namespace cellbrook {

constexpr uint64_t kMaxHiveFileSize = 0xFFFFFFFFu;  // cell offsets are 32-bit

enum class LoadOutcome { Loaded, CannotOpen, TooLarge, NoMemory, ReadFailed, InvalidFormat };

// The user's words for an outcome ("" for Loaded).
const char* LoadOutcomeText(LoadOutcome outcome);

// The bytes a hive is read from: the file as read, or an image rebuilt from
// it (a dirty hive with its transaction logs applied).
struct HiveBlock {
  std::unique_ptr<uint8_t[]> bytes;
  std::vector<uint8_t> rebuilt;
  uint32_t size = 0;

  const uint8_t* data() const { return bytes ? bytes.get() : rebuilt.empty() ? nullptr : rebuilt.data(); }
  bool Loaded() const { return data() != nullptr; }
  // Takes a rebuilt image in place of what was read, and binds `image` to it.
  bool Adopt(std::vector<uint8_t> image, HiveImage& bound);
};

// On Loaded, `block` holds the file and `image` is bound to it; on any
// other outcome `block` is empty.
LoadOutcome LoadHiveFile(const std::string& path, HiveBlock& block, HiveImage& image);

}  // namespace cellbrook
