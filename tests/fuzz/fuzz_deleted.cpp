// libFuzzer target: scans an image for deleted keys and values, then
// checks what came back stays inside the image and reads back whole.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "present/deleted_text.h"
#include "recover/deleted/deleted_scan.h"

using namespace cellbrook;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4 * 1024 * 1024) return 0;
  std::vector<uint8_t> image(data, data + size);  // exact bounds for ASan
  const DeletedScan scan =
      ScanDeletedRecords(HiveImage{image.data(), static_cast<uint32_t>(image.size()), image.data()});
  uint64_t sum = 0;
  for (const DeletedKey& k : scan.keys) {
    if (k.cell + 4096ull >= size || k.pathNode >= scan.pathNodes.size()) __builtin_trap();
    const PathNode& node = scan.pathNodes[k.pathNode];
    if (node.bytes > 16384 + 3 * 1024 || node.full != (k.pathKind == PathKind::Full)) __builtin_trap();
    if (scan.keys.size() < 2000) {
      const std::string path = DeletedKeyPath(scan, k);
      if (path.size() != node.bytes || (k.pathKind == PathKind::Full) != (path.rfind("ROOT", 0) == 0)) {
        __builtin_trap();
      }
    }
    for (uint32_t v : k.values) {
      if (v >= scan.values.size()) __builtin_trap();
    }
    if (k.parentKey != kNoCell && k.parentKey >= scan.keys.size()) __builtin_trap();
  }
  for (const DeletedValue& v : scan.values) {
    if (v.cell + 4096ull >= size) __builtin_trap();
    if (v.owner == ValueOwner::Recovered && v.ownerIndex >= scan.keys.size()) __builtin_trap();
    if (v.owner == ValueOwner::LiveSlack && v.ownerIndex >= scan.liveOwners.size()) __builtin_trap();
    if (scan.values.size() < 2000) sum += ValueOwnerPath(scan, v).size();
    const std::vector<uint8_t> bytes = DeletedValueData(scan, v);
    if (v.data == DataState::Readable && bytes.size() != v.dataLength) __builtin_trap();
    sum += bytes.size();
  }
  // The texts, while they stay small enough to build on every input.
  if (scan.keys.size() + scan.values.size() < 2000) {
    for (const std::string& line : DeletedRecordLines(scan)) sum += line.size();
  }
  return sum == 0xFFFFFFFFFFFFFFFFull ? 1 : 0;
}
