// Finding hives in a disk image: a scan of every 512-byte boundary for base
// blocks and hive bins, the bins grouped into hives (runs, fragments joined,
// headerless runs given a rebuilt base block), and each hive assembled in
// memory. Work is linear in the image, read in bounded blocks; every choice
// made is said in the hive's notes.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "recover/logs/base_block.h"
#include "recover/carve/image_source.h"

namespace cellbrook {

// Bins taken from one place in the image.
struct CarvedFragment {
  uint64_t imageOffset = 0;  // of its first bin
  uint32_t binsOffset = 0;   // its first bin's offset field
  uint64_t length = 0;       // bytes the bins declare
  uint64_t present = 0;      // bytes of them inside the image
  uint32_t bins = 0;
};

struct CarvedHive {
  uint64_t offset = 0;          // of the base block, or of the first bin when headerless
  bool baseBlockFound = false;  // false: rebuilt
  BaseBlock baseBlock;          // as found, or as rebuilt
  std::string name;             // the file name field ("" when rebuilt or empty)
  std::vector<CarvedFragment> fragments;
  uint64_t binsExpected = 0;  // bytes of hive bins data the base block names (rebuilt: found)
  uint64_t binsFound = 0;     // bytes of hive bins data found in the image
  bool complete = false;
  std::vector<std::string> notes;     // every choice made, in the user's words
  std::vector<uint8_t> rebuiltBlock;  // the 4096 bytes of a rebuilt base block

  // Bytes of the hive file assembled: base block plus the bins found.
  uint64_t Size() const { return kBaseBlockSize + binsFound; }
};

struct CarveReport {
  uint64_t imageSize = 0;
  uint64_t baseBlocksSeen = 0;
  uint64_t logHeadersSkipped = 0;  // base-block copies that begin a transaction log
  uint64_t binsSeen = 0;
  uint64_t runs = 0;
  uint64_t strayFragments = 0;  // runs that continue no hive found
  bool runsCapped = false;      // more runs than kept; the rest ignored
  bool cancelled = false;
  bool readFailed = false;  // the image could not be read somewhere
  uint64_t readFailedAt = 0;
  std::vector<CarvedHive> hives;  // in image order
};

struct CarveOptions {
  // Called after each block scanned with the bytes done; may be empty.
  std::function<void(uint64_t done, uint64_t total)> progress;
  // Set from another thread to stop the scan.
  const std::atomic<bool>* cancel = nullptr;
  // Bytes read at a time.
  size_t blockBytes = size_t{8} << 20;
  // Runs of bins kept at most (hostile images of nothing but bin headers).
  size_t maxRuns = size_t{1} << 19;
};

// Scans the whole image and groups what it finds.
CarveReport CarveImage(ImageSource& image, const CarveOptions& options = {});

// The hive file: its base block (as found, or rebuilt) and its bins in
// order, as far as the image holds them. False when a read fails or the
// size passes what a hive file can be.
bool AssembleHive(ImageSource& image, const CarvedHive& hive, std::vector<uint8_t>& out);

// True when `bytes` (a file's start) hold a hive bin from offset 0, at the
// start or where the bins begin after a base block: a hive whose base
// block is gone, which CarveImage rebuilds.
bool StartsWithHiveBins(std::span<const uint8_t> bytes);

// A file name for the hive: OFFSET-NAME.hive, OFFSET in hex, NAME the last
// part of the file name field kept to safe characters, or "hive".
std::string CarvedFileName(const CarvedHive& hive);

}  // namespace cellbrook
