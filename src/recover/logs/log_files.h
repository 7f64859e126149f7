// Finding and reading a primary's transaction logs. Read-only: files are
// opened for reading, never written; only regular files are opened.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "recover/logs/log_recovery.h"

namespace cellbrook {

// Larger log files are refused rather than read.
constexpr uint64_t kMaxLogFileSize = 0xFFFFFFFFu;  // as large as a hive can be

// Paths of NAME.LOG, NAME.LOG1 and NAME.LOG2 beside the primary (in that
// order), whole file names compared ignoring ASCII case; of two files that
// match one name the one whose extension is upper case wins. Files that are
// not regular are left out; files shorter than 512 bytes are kept (recovery
// reports them as absent). `notes` (may be null) gets a line for each file
// left out or passed over.
std::vector<std::string> FindTransactionLogs(const std::string& primaryPath, std::vector<std::string>* notes);

// Reads one log whole. False with `whyNot` set when it is not a regular
// file, cannot be opened or read, or is larger than kMaxLogFileSize.
bool LoadTransactionLog(const std::string& path, LogFile& out, std::string& whyNot);

// Finds (or takes the named logs), reads them and recovers. `explicitLogs`
// null: discover them beside `primaryPath`. Discovery and loading notes land
// in the report's notes. `onEntry` as for RecoverFromLogs.
Recovery RecoverHive(std::span<const uint8_t> primary, const std::string& primaryPath,
                     const std::vector<std::string>* explicitLogs = nullptr, const EntryObserver& onEntry = {});

}  // namespace cellbrook
