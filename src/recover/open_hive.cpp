#include "recover/open_hive.h"

#include <new>

#include "recover/logs/log_files.h"

namespace cellbrook {

LoadOutcome OpenHiveFile(const std::string& path, const LogChoice& logs, OpenedHive& out) {
  out = OpenedHive{};
  const LoadOutcome outcome = LoadHiveFile(path, out.block, out.image);
  if (outcome != LoadOutcome::Loaded) return outcome;
  const std::span<const uint8_t> primary(out.block.data(), out.block.size);
  try {
    // Without logs the report still describes the base block.
    Recovery recovery = logs.use ? RecoverHive(primary, path, logs.named.empty() ? nullptr : &logs.named)
                                 : RecoverFromLogs(primary, {});
    out.report = std::move(recovery.report);
    out.recoverable = recovery.applied;
    out.recovered = std::move(recovery.image);
  } catch (const std::bad_alloc&) {
    out.report = RecoveryReport{};
    out.report.dirty = true;
    out.report.refusal = "there is not enough memory to apply the transaction logs";
  }
  return outcome;
}

bool ApplyRecovery(OpenedHive& hive) {
  if (!hive.recoverable) return false;
  hive.recoverable = false;
  return hive.block.Adopt(std::move(hive.recovered), hive.image);
}

}  // namespace cellbrook
