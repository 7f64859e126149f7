#include "recover/logs/recovery_text.h"

#include <nlohmann/json.hpp>

#include <cstdio>

#include "hive/filetime.h"
#include "hive/hex_text.h"
#include "hive/text_codec.h"

namespace cellbrook {
namespace {

std::string Hex(uint64_t v) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(v));
  return text;
}
std::string Num(uint64_t v) { return std::to_string(v); }

const char* FileTypeText(uint32_t type) {
  switch (type) {
    case 0:
      return "primary file";
    case 1:
    case 2:
      return "old-format log";
    case 6:
      return "new-format log";
    default:
      return "unknown";
  }
}

bool Absent(const LogReport& log) { return log.size < kSectorSize; }

std::string Count(uint64_t n, const char* one, const char* many) { return Num(n) + " " + (n == 1 ? one : many); }

std::string Entries(uint32_t first, uint32_t last) {
  return first == last ? "entry " + Num(first) : "entries " + Num(first) + "-" + Num(last);
}

std::string AppliedPart(const LogReport& log) {
  if (log.format == LogFormat::Old) return log.name + " (old format, " + Count(log.appliedPages, "page", "pages") + ")";
  return log.name + " (" + Entries(log.appliedFirstSequence, log.appliedLastSequence) + ", " +
         Count(log.appliedPages, "page", "pages") + ")";
}

std::string StateText(const RecoveryReport& report) {
  if (!report.primary.complete) return "unreadable (" + report.dirtyReason + ")";
  return report.dirty ? "dirty (" + report.dirtyReason + ")" : "clean";
}

std::string RecoveryText(const RecoveryReport& report) {
  if (!report.dirty) return "nothing to apply: the hive is clean";
  if (!report.applied) return "nothing applied: " + report.refusal + "; the primary is used as it is";
  std::string text = "applied ";
  bool first = true;
  for (const LogReport& log : report.logs) {
    if (log.verdict != LogVerdict::Applied) continue;
    text += (first ? "" : ", ") + AppliedPart(log);
    first = false;
  }
  text += "; sequence numbers now " + Num(report.finalSequence) + ", hive bins data size " +
          Num(report.finalHiveBinsDataSize) + " bytes";
  if (report.baseBlockFromLog) text += "; the invalid base block was replaced by " + report.baseBlockLog + "'s copy";
  if (report.stoppedAtInvalidBin) {
    text += "; stopped at an invalid bin at offset " + Hex(report.stopBin.offset) + " (" + report.stopBin.problem + ")";
  }
  return text;
}

std::string SummaryLine(const RecoveryReport& report) {
  if (!report.dirty) return "";
  if (!report.applied) {
    std::string reasons;
    for (const LogReport& log : report.logs) {
      if (Absent(log)) continue;
      reasons +=
          (reasons.empty() ? "" : "; ") + log.name + " is " + LogVerdictName(log.verdict) + ": " + log.verdictReason;
    }
    if (!report.primary.complete) {
      return "The hive file is too short to hold a base block; no transaction log can be applied.";
    }
    if (reasons.empty()) {
      return "The hive is dirty and no usable transaction log was found; recent changes may be missing.";
    }
    return "The hive is dirty and no transaction log applies (" + reasons + "); recent changes may be missing.";
  }
  std::string line = "Recovered from transaction logs: ";
  bool first = true;
  for (const LogReport& log : report.logs) {
    if (log.verdict != LogVerdict::Applied) continue;
    line += (first ? "" : ", ") + AppliedPart(log);
    first = false;
  }
  for (const LogReport& log : report.logs) {
    switch (log.verdict) {
      case LogVerdict::Applied:
      case LogVerdict::NotNeeded:
        break;
      case LogVerdict::Stale:
        line += "; " + log.name + " is stale";
        break;
      case LogVerdict::Unused:
        line += "; " + log.name + " is not used";
        break;
      case LogVerdict::Refused:
        line += "; " + log.name + (Absent(log) ? " is too short to be a log" : " was refused: " + log.verdictReason);
        break;
    }
  }
  if (report.baseBlockFromLog) line += "; the invalid base block was replaced by " + report.baseBlockLog + "'s copy";
  if (report.stoppedAtInvalidBin) {
    line += "; recovery stopped at an invalid bin at offset " + Hex(report.stopBin.offset);
  }
  if (!report.damagedBins.empty()) {
    line += "; " + Count(report.damagedBins.size(), "damaged bin", "damaged bins") + " kept as found";
  }
  return line + ".";
}

}  // namespace

// Log names come from the file system: escaped like every other output.
std::string RecoverySummaryLine(const RecoveryReport& report) { return EscapeLineText(SummaryLine(report)); }

std::string HiveInfoText(const std::string& hiveName, const RecoveryReport& report) {
  const BaseBlock& b = report.primary;
  std::string t;
  // File names and the base block's name field come from outside: no
  // control character of theirs may forge a line.
  auto line = [&t](const std::string& label, const std::string& value) {
    t += label + ": " + EscapeLineText(value) + "\n";
  };
  line("Hive", hiveName);
  line("File size", Num(report.primarySize) + " bytes");
  if (!b.complete) {
    line("State", StateText(report));
  } else {
    line("Signature", b.hasSignature ? "regf" : "missing");
    line("Sequence numbers", "primary " + Num(b.primarySequence) + ", secondary " + Num(b.secondarySequence) +
                                 (b.SequencesEqual() ? " (equal)" : " (differ)"));
    line("Last written", FormatFileTime(b.lastWritten));
    line("Version", Num(b.majorVersion) + "." + Num(b.minorVersion));
    line("File type", Num(b.fileType) + " (" + FileTypeText(b.fileType) + ")");
    line("Hive bins data size", Num(b.hiveBinsDataSize) + " bytes");
    line("Root cell", Hex32Text(b.rootCell));
    line("Flags", Hex32Text(b.flags));
    line("Checksum", "stored " + Hex32Text(b.storedChecksum) + ", computed " + Hex32Text(b.computedChecksum) +
                         (b.ChecksumValid() ? " (correct)" : " (wrong)"));
    line("File name field", b.fileName);
    line("State", StateText(report));
  }
  if (report.logs.empty()) {
    line("Transaction logs", "none found");
  } else {
    t += "Transaction logs:\n";
    for (const LogReport& log : report.logs) {
      std::string s = "  " + EscapeLineText(log.name) + ": " + Num(log.size) + " bytes";
      if (!log.usable) {
        s += ", unusable: " + log.unusableReason;
      } else {
        s += ", " + std::string(LogFormatName(log.format)) + " format, sequence number " +
             Num(log.baseBlock.primarySequence) + ", last written " + FormatFileTime(log.baseBlock.lastWritten);
        if (log.format == LogFormat::New) {
          s += log.validEntries == 0 ? ", no valid entry"
                                     : ", " + Count(log.validEntries, "valid entry", "valid entries") + " (" +
                                           Entries(log.firstSequence, log.lastSequence) + ")";
          s += " (" + log.entriesStopReason + ")";
        } else {
          s += ", " + Count(log.dirtyPages, "dirty page", "dirty pages");
        }
        s += "; ";
        s += LogVerdictName(log.verdict);
        if (log.verdict == LogVerdict::Applied) {
          s += log.format == LogFormat::New ? ": " + Entries(log.appliedFirstSequence, log.appliedLastSequence) + ", " +
                                                  Count(log.appliedPages, "page", "pages")
                                            : ": " + Count(log.appliedPages, "page", "pages");
        } else if (!log.verdictReason.empty()) {
          s += ": " + log.verdictReason;
        }
      }
      t += s + "\n";
    }
  }
  line("Recovery", RecoveryText(report));
  for (const DamagedBin& bin : report.damagedBins) {
    line("Damaged bin", "offset " + Hex(bin.offset) + ": " + bin.problem + " (kept as found)");
  }
  for (const std::string& note : report.notes) line("Note", note);
  return t;
}

std::string HiveInfoJson(const std::string& hiveName, const RecoveryReport& report) {
  using json = nlohmann::ordered_json;
  const BaseBlock& b = report.primary;
  json j;
  j["hive"] = hiveName;
  j["file_size"] = report.primarySize;
  j["base_block_complete"] = b.complete;
  if (b.complete) {
    j["signature"] = b.hasSignature ? "regf" : "missing";
    j["primary_sequence_number"] = b.primarySequence;
    j["secondary_sequence_number"] = b.secondarySequence;
    j["last_written"] = FormatFileTime(b.lastWritten);
    j["major_version"] = b.majorVersion;
    j["minor_version"] = b.minorVersion;
    j["file_type"] = b.fileType;
    j["hive_bins_data_size"] = b.hiveBinsDataSize;
    j["root_cell"] = Hex32Text(b.rootCell);
    j["flags"] = Hex32Text(b.flags);
    j["stored_checksum"] = Hex32Text(b.storedChecksum);
    j["computed_checksum"] = Hex32Text(b.computedChecksum);
    j["checksum_correct"] = b.ChecksumValid();
    j["file_name_field"] = b.fileName;
  }
  j["state"] = !b.complete ? "unreadable" : report.dirty ? "dirty" : "clean";
  j["dirty_reason"] = report.dirtyReason;
  json logs = json::array();
  for (const LogReport& log : report.logs) {
    json l;
    l["name"] = log.name;
    l["size"] = log.size;
    l["role"] = log.role == LogRole::Single ? "single" : "dual";
    l["format"] = LogFormatName(log.format);
    l["usable"] = log.usable;
    if (!log.usable) l["unusable_reason"] = log.unusableReason;
    if (log.usable) {
      l["sequence_number"] = log.baseBlock.primarySequence;
      l["last_written"] = FormatFileTime(log.baseBlock.lastWritten);
    }
    if (log.format == LogFormat::New) {
      l["valid_entries"] = log.validEntries;
      if (log.validEntries > 0) {
        l["first_sequence_number"] = log.firstSequence;
        l["last_sequence_number"] = log.lastSequence;
      }
      l["entries_stop_reason"] = log.entriesStopReason;
    }
    if (log.format == LogFormat::Old) l["dirty_pages"] = log.dirtyPages;
    l["verdict"] = LogVerdictName(log.verdict);
    if (!log.verdictReason.empty()) l["verdict_reason"] = log.verdictReason;
    if (log.verdict == LogVerdict::Applied) {
      if (log.format == LogFormat::New) {
        l["applied_entries"] = log.appliedEntries;
        l["applied_first_sequence_number"] = log.appliedFirstSequence;
        l["applied_last_sequence_number"] = log.appliedLastSequence;
      }
      l["applied_pages"] = log.appliedPages;
    }
    logs.push_back(std::move(l));
  }
  j["logs"] = std::move(logs);
  json rec;
  rec["applied"] = report.applied;
  if (report.applied) {
    rec["format"] = LogFormatName(report.appliedFormat);
    rec["sequence_number"] = report.finalSequence;
    rec["hive_bins_data_size"] = report.finalHiveBinsDataSize;
    rec["base_block_from_log"] = report.baseBlockFromLog ? json(report.baseBlockLog) : json(nullptr);
  } else if (report.dirty) {
    rec["refusal"] = report.refusal;
  }
  if (report.stoppedAtInvalidBin) {
    rec["stopped_at_invalid_bin"] = {{"offset", report.stopBin.offset}, {"problem", report.stopBin.problem}};
  }
  json damaged = json::array();
  for (const DamagedBin& bin : report.damagedBins)
    damaged.push_back({{"offset", bin.offset}, {"problem", bin.problem}});
  rec["damaged_bins"] = std::move(damaged);
  rec["summary"] = RecoverySummaryLine(report);
  j["recovery"] = std::move(rec);
  j["notes"] = report.notes;
  // Names from disk may hold bytes that are not UTF-8: replace, never throw.
  return j.dump(-1, ' ', false, json::error_handler_t::replace);  // one line, like every --json
}

}  // namespace cellbrook
