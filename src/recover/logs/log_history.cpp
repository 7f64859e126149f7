#include "recover/logs/log_history.h"

#include "recover/logs/log_files.h"

namespace cellbrook {
namespace {

// Runs the recovery and tells each step with the image after it.
template <class Fn>
void Steps(std::span<const uint8_t> primary, const std::string& path, const std::vector<std::string>& named, Fn&& fn) {
  const Recovery recovery = RecoverHive(primary, path, named.empty() ? nullptr : &named, [&](const AppliedEntry& e) {
    fn(HistoryEntry{e.log, e.sequence, e.pageCount}, e.image);
  });
  if (!recovery.applied || recovery.report.appliedFormat != LogFormat::Old) return;
  for (const LogReport& log : recovery.report.logs) {
    if (log.verdict == LogVerdict::Applied) {
      fn(HistoryEntry{log.name, recovery.report.finalSequence, log.appliedPages}, recovery.image);
    }
  }
}

}  // namespace

std::vector<HistoryEntry> LogHistory(std::span<const uint8_t> primary, const std::string& primaryPath,
                                     const std::vector<std::string>& namedLogs) {
  std::vector<HistoryEntry> entries;
  Steps(primary, primaryPath, namedLogs,
        [&](HistoryEntry e, std::span<const uint8_t>) { entries.push_back(std::move(e)); });
  return entries;
}

std::vector<uint8_t> HiveAfterEntry(std::span<const uint8_t> primary, const std::string& primaryPath, size_t index,
                                    const std::vector<std::string>& namedLogs) {
  std::vector<uint8_t> image;
  size_t at = 0;
  Steps(primary, primaryPath, namedLogs, [&](const HistoryEntry&, std::span<const uint8_t> after) {
    if (at++ == index) image.assign(after.begin(), after.end());
  });
  return image;
}

}  // namespace cellbrook
