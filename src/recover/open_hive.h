// Opening a hive as the command line and the window do: read the file, then
// look for its transaction logs and, when the hive is dirty and usable logs
// are found, rebuild it in memory. The file and its logs are only read.
#pragma once

#include <string>
#include <vector>

#include "hive/hive_file.h"
#include "recover/logs/log_recovery.h"

namespace cellbrook {

struct LogChoice {
  bool use = true;                // false: read the primary as it is
  std::vector<std::string> named;  // instead of discovering them, when not empty
};

struct OpenedHive {
  HiveBlock block;
  HiveImage image;
  RecoveryReport report;        // what the logs hold and what applies
  std::vector<uint8_t> recovered;  // the rebuilt image, until adopted or dropped
  bool recoverable = false;     // dirty, and the logs rebuild it
};

// Reads the file; on Loaded, `out.report` and `out.recoverable` say what the
// logs would do, and `out.recovered` holds the rebuilt image if any.
LoadOutcome OpenHiveFile(const std::string& path, const LogChoice& logs, OpenedHive& out);

// Shows the rebuilt image instead of the file as read.
bool ApplyRecovery(OpenedHive& hive);

}  // namespace cellbrook
