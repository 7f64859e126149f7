// libFuzzer target: transaction-log recovery. The input is split into a
// primary and one or two logs: bytes 0..3 give the primary's length, 4..7
// the first log's (both clamped to what is left), the rest is the second
// log; bit 0 of byte 8 names the second log .LOG instead of .LOG2.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "recover/logs/log_recovery.h"
#include "recover/logs/recovery_text.h"

using namespace cellbrook;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8 || size > 4 * 1024 * 1024) return 0;
  uint32_t primaryLength = 0, logLength = 0;
  std::memcpy(&primaryLength, data, 4);
  std::memcpy(&logLength, data + 4, 4);
  data += 8;
  size -= 8;
  const size_t p = primaryLength % (size + 1);
  const size_t l = logLength % (size - p + 1);
  // Exact-size copies, so ASan sees any read past an end.
  const std::vector<uint8_t> primary(data, data + p);
  std::vector<LogFile> logs;
  logs.push_back({"f.LOG1", "", std::vector<uint8_t>(data + p, data + p + l)});
  if (p + l < size) {
    const bool single = (data[p + l] & 1) != 0;
    logs.push_back({single ? "f.LOG" : "f.LOG2", "", std::vector<uint8_t>(data + p + l, data + size)});
  }
  const Recovery r = RecoverFromLogs(primary, logs);
  if (r.applied) {
    const BaseBlock b = ParseBaseBlock(r.image);
    if (!b.ChecksumValid() || !b.SequencesEqual() || r.image.size() > kMaxRecoveredImageSize) __builtin_trap();
  } else if (!r.image.empty()) {
    __builtin_trap();
  }
  size_t sum = RecoverySummaryLine(r.report).size();
  sum += HiveInfoText("f", r.report).size();
  sum += HiveInfoJson("f", r.report).size();
  return sum == 1 ? 1 : 0;
}
