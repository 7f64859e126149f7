// A dirty hive's transaction logs as a history: the entries that apply, one
// by one (an old-format log as one step), and the hive as it stands after
// any one of them. Read-only, in memory, through the recovery's own steps.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace cellbrook {

struct HistoryEntry {
  std::string log;        // the log's file name
  uint32_t sequence = 0;  // the entry's sequence number (old format: the log's)
  uint64_t pages = 0;     // page references of the entry (old format: 512-byte pages)
};

// The steps the logs beside `primaryPath` (or `namedLogs` when not empty)
// apply to `primary`, in order; empty for a clean hive or logs that do not apply.
std::vector<HistoryEntry> LogHistory(std::span<const uint8_t> primary, const std::string& primaryPath,
                                     const std::vector<std::string>& namedLogs = {});

// The hive after step `index` of LogHistory (a readable image with a
// finished base block); empty when there is no such step.
std::vector<uint8_t> HiveAfterEntry(std::span<const uint8_t> primary, const std::string& primaryPath, size_t index,
                                    const std::vector<std::string>& namedLogs = {});

}  // namespace cellbrook
