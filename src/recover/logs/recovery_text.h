// What recovery did, in the user's words: one line for stderr and the
// window, and the hive information as text and as JSON.
#pragma once

#include <string>

#include "recover/logs/log_recovery.h"

namespace cellbrook {

// One line: what was applied and what was stale or refused, or the warning
// for a dirty hive without a usable log. "" for a clean hive.
std::string RecoverySummaryLine(const RecoveryReport& report);

// The base block, its state, the logs found and what recovery applies or
// refuses, one fact a line. `hiveName` is the file name shown on top.
std::string HiveInfoText(const std::string& hiveName, const RecoveryReport& report);

// The same as one JSON object.
std::string HiveInfoJson(const std::string& hiveName, const RecoveryReport& report);

}  // namespace cellbrook
