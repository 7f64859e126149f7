// The logs folder: a hive's base block and its logs' copies of it
// (base_block), the logs found beside a hive (log_files), their entries
// applied in memory (here), the states the logs still hold (log_history),
// the entries' hash (marvin32), the texts of a recovery report
// (recovery_text) and the logs a user asks for (log_choice). Nothing here
// writes a file.
//
// Transaction-log recovery of a dirty hive, in memory: the primary bytes are
// never changed, the result is a new image plus a report of what each log
// held, what applied and what was refused and why.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "recover/logs/base_block.h"

namespace cellbrook {

// A log's bytes with its file name (the name decides its role).
struct LogFile {
  std::string name;  // file name as found, e.g. "UsrClass.dat.LOG1"
  std::string path;  // may be empty for logs built in memory
  std::vector<uint8_t> bytes;
};

// NAME.LOG1 / NAME.LOG2 (or a log named by the user) take part in the dual
// scheme; NAME.LOG only when neither of those is usable.
enum class LogRole { Dual, Single };
LogRole LogRoleFromName(const std::string& fileName);

enum class LogFormat { Unusable, Old, New };
const char* LogFormatName(LogFormat format);  // "old", "new", "unusable"

enum class LogVerdict {
  Applied,    // some or all of its pages went into the image
  Stale,      // older than the primary (or than what was applied)
  Refused,    // unusable, or its entries do not follow on
  Unused,     // usable but not taken (.LOG beside usable dual logs, ...)
  NotNeeded,  // the hive is clean
};
const char* LogVerdictName(LogVerdict verdict);  // "applied", "stale", ...

struct LogReport {
  std::string name;
  uint64_t size = 0;
  LogRole role = LogRole::Dual;
  LogFormat format = LogFormat::Unusable;
  bool usable = false;
  std::string unusableReason;  // when !usable
  BaseBlock baseBlock;         // the log's copy (complete = false when too short)

  // New format: the run of whole, valid entries read from the log.
  uint32_t validEntries = 0;
  uint32_t firstSequence = 0, lastSequence = 0;  // of that run, when validEntries > 0
  std::string entriesStopReason;                 // where and why reading stopped

  // Old format: dirty pages listed in its bitmap.
  uint64_t dirtyPages = 0;

  LogVerdict verdict = LogVerdict::Refused;
  std::string verdictReason;  // why stale, refused or unused ("" when applied)

  // What applied from this log.
  uint32_t appliedEntries = 0;
  uint32_t appliedFirstSequence = 0, appliedLastSequence = 0;
  // New format: page references applied (each a run of 4096-byte pages);
  // old format: 512-byte pages.
  uint64_t appliedPages = 0;
};

struct DamagedBin {
  uint64_t offset = 0;  // relative to the bins base
  std::string problem;
};

struct RecoveryReport {
  BaseBlock primary;
  uint64_t primarySize = 0;
  bool dirty = false;
  std::string dirtyReason;
  bool applied = false;
  LogFormat appliedFormat = LogFormat::Unusable;
  bool baseBlockFromLog = false;  // the primary's base block was invalid
  std::string baseBlockLog;       // whose copy replaced it
  uint32_t finalSequence = 0;     // both sequence numbers after recovery
  uint32_t finalHiveBinsDataSize = 0;
  std::string refusal;  // dirty and nothing applied: why
  std::vector<LogReport> logs;
  // New format: dirty bins that are invalid (kept as they are).
  std::vector<DamagedBin> damagedBins;
  // Old format: recovery stopped at this invalid bin.
  bool stoppedAtInvalidBin = false;
  DamagedBin stopBin;
  // Discovery and loading notes (skipped files, duplicate names, ...).
  std::vector<std::string> notes;
};

struct Recovery {
  // The recovered file when `applied`; empty otherwise (use the primary as
  // it is). Its base block has equal sequence numbers and a correct checksum.
  std::vector<uint8_t> image;
  RecoveryReport report;
  bool applied = false;
};

// Limits on hostile logs: a recovered image never grows past the largest
// hive the format allows, nor past the primary's actual size plus the
// bytes of pages the applied entries carry (rounded up to 4096), whatever a
// base block claims: every byte a log adds to the hive comes in its pages.
// RecoveredImageLimit is the coarse bound checked as logs are read (the
// primary's size plus the logs' sizes); entries that claim more than their
// pages can fill are refused as they are applied, with the reason.
constexpr uint64_t kMaxRecoveredImageSize = 0xFFFFFFFFu;
uint64_t RecoveredImageLimit(std::span<const uint8_t> primary, const std::vector<LogFile>& logs);

// A new-format log entry just applied, and the image as it stands after
// it: a readable hive whose base block carries the entry's sequence number
// and a correct checksum. The image is valid only during the call.
struct AppliedEntry {
  const std::string& log;  // the log's file name
  uint32_t sequence = 0;
  uint32_t pageCount = 0;  // page references of the entry
  std::span<const uint8_t> image;
};
using EntryObserver = std::function<void(const AppliedEntry&)>;

// Applies the logs that the rules select. A clean primary gets nothing
// (the logs are still described in the report). `onEntry`, when set, is
// told of each new-format entry as it is applied, in order; old-format
// logs apply as one step and tell it nothing.
Recovery RecoverFromLogs(std::span<const uint8_t> primary, const std::vector<LogFile>& logs,
                         const EntryObserver& onEntry = {});

}  // namespace cellbrook
