// recover and deleted: the hive with its logs applied, the deleted records.
#include "cli/commands.h"
#include "export/registry_text_writer.h"
#include "export/whole_file_write.h"
#include "hive/filetime.h"
#include "hive/hex_text.h"
#include "present/deleted_text.h"
#include "recover/deleted/deleted_scan.h"
#include "recover/logs/recovery_text.h"

namespace cellbrook {
namespace {

// Registry text of the recovered keys that can be restored (their path
// reaches the root), with their values; says what it left out.
int DeletedToReg(CliSession& session, const DeletedScan& scan, const std::string& target, const std::string& prefix) {
  session.BeforeWriting(target);
  const ExportOutcome outcome = ExportRecoveredKeysToFile(scan, FullPathRecoveredTops(scan), true, prefix, target);
  uint64_t partialKeys = 0, leftValues = 0;
  for (const DeletedKey& key : scan.keys) {
    if (key.pathKind == PathKind::Partial) {
      ++partialKeys;
      leftValues += key.values.size();
    }
  }
  for (const DeletedValue& value : scan.values) leftValues += value.owner == ValueOwner::None;
  if (outcome.status == ExportOutcome::CannotCreate || outcome.status == ExportOutcome::Failed) {
    return session.Fail(kExitFailed, outcome.message);
  }
  std::fprintf(session.Err(),
               "Left out of the registry file: %llu keys whose path does not reach the root "
               "and %llu values no restorable key lists.\n",
               static_cast<unsigned long long>(partialKeys), static_cast<unsigned long long>(leftValues));
  if (outcome.status == ExportOutcome::Damaged) return session.Fail(kExitDamaged, outcome.message);
  return session.Finish(DamageReport{}, "");
}

}  // namespace

int RunDeletedCommand(const CommandCall& call, CliSession& session) {
  const bool json = call.Flag("--json");
  const std::string* regFile = call.Value("--reg");
  const std::string* prefixGiven = call.Value("--prefix");
  if (!session.Load(call.words[0])) return kExitUnreadable;
  if (regFile != nullptr && !session.MayWrite(*regFile)) return kExitFailed;
  const DeletedScan& scan = session.Document().Deleted();
  if (regFile != nullptr) {
    return DeletedToReg(session, scan, *regFile, prefixGiven != nullptr ? *prefixGiven : "HKEY_CURRENT_USER");
  }
  if (json) {
    JsonLine& record = session.Json();
    for (const DeletedKey& key : scan.keys) {
      session.PrintLine(record.Begin()
                            .String("record", "key")
                            .String("path", DeletedKeyPath(scan, key))
                            .Bool("path_complete", key.pathKind == PathKind::Full)
                            .String("last_written", FormatFileTime(key.lastWritten))
                            .String("cell", Hex32Text(key.cell))
                            .End());
    }
    for (const DeletedValue& value : scan.values) {
      record.Begin()
          .String("record", "value")
          .String("key_path", ValueOwnerPath(scan, value))
          .String("name", value.name)
          .Number("type", value.type);
      if (value.data == DataState::Unreadable) {
        record.Null("data");
      } else {
        record.String("data", HexText(DeletedValueData(scan, value)));
      }
      session.PrintLine(record.String("cell", Hex32Text(value.cell)).Bool("reallocated", value.reallocated).End());
    }
  } else {
    // A line at a time: the paths are built from shared nodes, never all kept.
    for (const DeletedKey& key : scan.keys) session.PrintLine(DeletedKeyLine(scan, key));
    for (const DeletedValue& value : scan.values) session.PrintLine(DeletedValueLine(scan, value));
  }
  if (!session.Flushed()) return kExitFailed;
  if (!scan.damage.Any()) return kExitOk;
  return session.Fail(kExitDamaged, "The hive is damaged: " + std::to_string(scan.damage.badBins) +
                                        " pages without a valid bin and " + std::to_string(scan.damage.badCells) +
                                        " bins with broken cells were scanned as raw bytes" +
                                        (scan.damage.budgetExhausted ? ", and the scan stopped early" : "") +
                                        "; everything readable was listed.");
}

int RunRecoverCommand(const CommandCall& call, CliSession& session) {
  const std::string& outFile = call.words[1];
  if (!session.Load(call.words[0], false)) return kExitUnreadable;
  const HiveDocument& hive = session.Document();
  if (!hive.Recovery().dirty) return session.Fail(kExitNotFound, "The hive is clean: there is nothing to recover.");
  if (!hive.LogsOffered()) return session.Fail(kExitFailed, RecoverySummaryLine(hive.Recovery()));
  if (!session.MayWrite(outFile)) return kExitFailed;
  session.BeforeWriting(outFile);
  WholeFileWrite out(outFile, true);
  if (!out.Ready()) return session.Fail(kExitFailed, out.Problem());
  if (!out.Write(hive.RecoveredBytes().data(), hive.RecoveredBytes().size()) || !out.Commit()) {
    return session.Fail(kExitFailed, out.Problem());
  }
  std::fprintf(session.Err(), "%s\n", RecoverySummaryLine(hive.Recovery()).c_str());
  return kExitOk;
}

}  // namespace cellbrook
