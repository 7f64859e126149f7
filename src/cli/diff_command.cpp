// diff and history: what differs between two key trees, and what each
// transaction log entry changed.
#include <unistd.h>

#include <map>
#include <optional>
#include <set>

#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "compare/hive_compare.h"
#include "export/evidence_guard.h"
#include "export/registry_patch.h"
#include "hive/filetime.h"
#include "hive/hex_text.h"
#include "hive/key_lookup.h"
#include "hive/key_walk.h"
#include "hive/text_codec.h"
#include "present/data_text.h"
#include "present/value_rows.h"
#include "present/value_text.h"
#include "recover/logs/log_files.h"
#include "recover/logs/recovery_text.h"

namespace cellbrook {
namespace {

constexpr const char* kSame = "The hives are the same.";
constexpr uint64_t kHistorySteps = 1024;

using Json = nlohmann::ordered_json;

// Prints changes as lines or JSON objects, each tagged with a sequence
// number when one is set.
class ChangePrinter {
 public:
  ChangePrinter(std::FILE* out, bool json) : out_(out), json_(json) {}
  void Tag(std::optional<uint32_t> sequence) { sequence_ = sequence; }

  void operator()(const Change& c) {
    if (json_) return PrintChangeJson(c);
    std::string line;
    if (sequence_) line = std::to_string(*sequence_) + '\t';
    static const char* const kWords[] = {"key+", "key-", "key~", "value+", "value-", "value~", "key="};
    line += kWords[static_cast<int>(c.kind)];
    line += '\t';
    line += c.path;
    switch (c.kind) {
      case ChangeKind::KeyAdded:
      case ChangeKind::KeyRemoved:
      case ChangeKind::KeySame:
        break;
      case ChangeKind::KeyTime:
        line += '\t' + FormatFileTime(c.oldKey->LastWritten) + '\t' + FormatFileTime(c.newKey->LastWritten);
        break;
      case ChangeKind::ValueAdded:
        line += '\t' + Caption(*c.newValue) + '\t' + ValueTypeName(c.newValue->Type);
        break;
      case ChangeKind::ValueRemoved:
        line += '\t' + Caption(*c.oldValue);
        break;
      case ChangeKind::ValueChanged:
        line += '\t' + Caption(*c.newValue) + '\t' + ValueTypeName(c.oldValue->Type) + '\t' +
                ValueTypeName(c.newValue->Type);
        break;
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), out_);
  }

  void PrintJson(const Json& record) {
    const std::string text = record.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
    std::fwrite(text.data(), 1, text.size(), out_);
  }

 private:
  // The name as `values` shows it.
  static std::string Caption(const ValueInfo& value) { return EscapeLineText(ValueCaption(value)); }
  static Json Data(const ValueInfo* value) {
    if (value == nullptr || !value->Data.Readable()) return nullptr;
    return HexText(DataBytes(value->Data));
  }

  void PrintChangeJson(const Change& c) {
    Json record;
    if (sequence_) record["sequence"] = *sequence_;
    record["change"] = ChangeWord(c.kind);
    record["key"] = std::string(c.path);
    if (c.kind == ChangeKind::KeyTime) {
      record["old_last_written"] = FormatFileTime(c.oldKey->LastWritten);
      record["new_last_written"] = FormatFileTime(c.newKey->LastWritten);
    } else if (IsValueChange(c.kind)) {
      record["name"] = ValueNameString(c.newValue ? *c.newValue : *c.oldValue);
      record["old_type"] = c.oldValue ? Json(c.oldValue->Type) : Json(nullptr);
      record["new_type"] = c.newValue ? Json(c.newValue->Type) : Json(nullptr);
      record["old_data"] = Data(c.oldValue);
      record["new_data"] = Data(c.newValue);
    }
    PrintJson(record);
  }

  std::FILE* out_;
  bool json_;
  std::optional<uint32_t> sequence_;
};

struct DiffOptions {
  bool json = false;
  bool logsOfOne = false;  // diff HIVE --logs
  LogChoice logs;
  std::optional<std::string> reg;
  std::string prefix = "HKEY_CURRENT_USER";
};

class DiffCommand {
 public:
  DiffCommand(std::FILE* out, std::FILE* err) : out_(out), err_(err) {}

  int Fail(int code, const std::string& message) {
    std::fprintf(err_, "%s\n", message.c_str());
    return code;
  }

  // Two hives, each with its logs applied unless --no-logs.
  int Diff(const std::string& oldPath, const std::string& newPath, const std::string& keyPath,
           const DiffOptions& options) {
    HiveDocument oldHive, newHive;
    if (!Load(oldPath, options.logs, oldHive, true) || !Load(newPath, options.logs, newHive, true)) {
      return kExitUnreadable;
    }
    guards_ = {EvidenceGuard::For(oldPath, options.logs.named), EvidenceGuard::For(newPath, options.logs.named)};
    return Compare(oldHive.Hive(), newHive.Hive(), keyPath, options);
  }

  // The hive as it is against the hive with its logs applied.
  int DiffLogs(const std::string& path, const std::string& keyPath, const DiffOptions& options) {
    HiveDocument hive;
    if (!Load(path, options.logs, hive, false)) return kExitUnreadable;
    guards_ = {EvidenceGuard::For(path, options.logs.named)};
    if (!hive.Recovery().dirty) return Fail(kExitNotFound, "The hive is clean: its transaction logs change nothing.");
    if (!hive.LogsOffered()) return Fail(kExitFailed, RecoverySummaryLine(hive.Recovery()));
    const std::span<const uint8_t> recovered = hive.RecoveredBytes();
    HiveImage rebuilt;
    if (!AttachImage(rebuilt, recovered.data(), static_cast<uint32_t>(recovered.size()))) {
      return Fail(kExitFailed, "The transaction logs rebuilt no readable hive.");
    }
    std::fprintf(err_, "%s\n", RecoverySummaryLine(hive.Recovery()).c_str());
    return Compare(hive.Hive(), rebuilt, keyPath, options);
  }

  int History(const std::string& path, const LogChoice& logs, bool json) {
    if (!NamedLogsOpen(logs, err_)) return kExitUnreadable;
    HiveDocument file;  // as it is: the logs are applied below, one entry at a time
    if (!Load(path, LogChoice{false, {}}, file, false)) return kExitUnreadable;
    const std::span<const uint8_t> primary = file.Bytes();
    ChangePrinter printer(out_, json);
    std::vector<uint8_t> before(primary.begin(), primary.end());
    DamageReport damage;
    bool budgetOut = false;
    uint64_t steps = 0;
    // Entries past kHistorySteps are shown as one step: each step costs a
    // walk of the whole hive, and a hostile log may hold millions of entries.
    struct Rest {
      uint32_t first = 0, last = 0, count = 0;
      uint64_t pages = 0;
      std::string log;
    } rest;
    auto step = [&](const std::string& log, uint32_t sequence, uint64_t pages, std::span<const uint8_t> after,
                    std::optional<uint32_t> firstSequence = std::nullopt) {
      ++steps;
      if (json) {
        Json record{{"record", "entry"}, {"sequence", sequence}, {"log", log}, {"pages", pages}};
        if (firstSequence) record["first_sequence"] = *firstSequence;
        printer.PrintJson(record);
      } else {
        const std::string line =
            "entry\t" + std::to_string(sequence) + '\t' + EscapeLineText(log) + '\t' + std::to_string(pages) + '\n';
        std::fwrite(line.data(), 1, line.size(), out_);
      }
      HiveImage a, b;
      AttachImage(a, before.data(), static_cast<uint32_t>(before.size()));
      AttachImage(b, after.data(), static_cast<uint32_t>(after.size()));
      printer.Tag(sequence);
      const CompareOutcome outcome = CompareRoots(a, b, printer);
      // Each state is the next one's "before": count its damage once.
      if (steps == 1) damage.Add(outcome.oldDamage);
      damage.Add(outcome.newDamage);
      budgetOut |= outcome.budgetOut;
      before.assign(after.begin(), after.end());
    };
    Recovery recovery;
    try {
      recovery = RecoverHive(primary, path, logs.named.empty() ? nullptr : &logs.named, [&](const AppliedEntry& e) {
        if (steps < kHistorySteps) return step(e.log, e.sequence, e.pageCount, e.image);
        if (rest.count++ == 0) rest.first = e.sequence;
        rest.last = e.sequence;
        rest.pages += e.pageCount;
        rest.log = e.log;
      });
      const RecoveryReport& report = recovery.report;
      if (rest.count > 0 && recovery.applied) {
        std::fprintf(err_, "Entries %u to %u (%u entries) are shown as one step: more than %u entries.\n", rest.first,
                     rest.last, rest.count, static_cast<unsigned>(kHistorySteps));
        step(rest.log, rest.last, rest.pages, recovery.image, rest.first);
      }
      if (!report.dirty) return Fail(kExitNotFound, "The hive is clean: its transaction logs hold nothing to apply.");
      if (!recovery.applied) return Fail(kExitFailed, RecoverySummaryLine(report));
      if (report.appliedFormat == LogFormat::Old) {
        for (const LogReport& log : report.logs) {
          if (log.verdict == LogVerdict::Applied)
            step(log.name, report.finalSequence, log.appliedPages, recovery.image);
        }
      }
    } catch (const std::bad_alloc&) {
      return Fail(kExitFailed, "Not enough memory to apply the transaction logs one entry at a time.");
    }
    if (std::fflush(out_) != 0) return Fail(kExitFailed, "Write failed: standard output");
    std::fprintf(err_, "%s\n", RecoverySummaryLine(recovery.report).c_str());
    if (budgetOut) return Fail(kExitFailed, kBudgetOutText);
    if (damage.Any()) return Fail(kExitDamaged, damage.Summary("everything readable was compared"));
    return steps > 0 ? kExitOk : Fail(kExitNotFound, "No log entry applied.");
  }

 private:
  bool Load(const std::string& path, const LogChoice& logs, HiveDocument& hive, bool apply) {
    return LoadHive(path, logs, apply, HiveNaming::Always, err_, hive);
  }

  template <class Sink>
  static CompareOutcome CompareRoots(const HiveImage& a, const HiveImage& b, Sink& sink) {
    CompareSide oldSide{&a, std::nullopt, {}}, newSide{&b, std::nullopt, {}};
    KeyInfo root;
    if (GetRootKey(a, root)) oldSide.start = root;
    if (GetRootKey(b, root)) newSide.start = root;
    return CompareTrees(oldSide, newSide, "ROOT", u"ROOT", sink);
  }

  // The start key on one side; null when absent there.
  std::optional<FoundKey> Locate(const HiveImage& image, const std::string& keyPath, std::string& damagedAt) {
    KeyLookup lookup = FindKeyByPath(image, keyPath);
    if (!lookup.found && lookup.damaged && damagedAt.empty()) damagedAt = lookup.damagedAt;
    return std::move(lookup.found);
  }

  int Compare(const HiveImage& oldImage, const HiveImage& newImage, const std::string& keyPath,
              const DiffOptions& options) {
    std::string damagedAt;
    const std::optional<FoundKey> a = Locate(oldImage, keyPath, damagedAt);
    const std::optional<FoundKey> b = Locate(newImage, keyPath, damagedAt);
    if (!a && !b) {
      std::string message = "Key not found in either hive: " + EscapeLineText(keyPath);
      if (!damagedAt.empty()) {
        message += " (the hive is damaged: the subkeys of " + damagedAt + " could not all be read)";
      }
      return Fail(kExitNotFound, message);
    }
    CompareSide oldSide{&oldImage, std::nullopt, {}}, newSide{&newImage, std::nullopt, {}};
    if (a) oldSide.start = a->key, oldSide.above = a->ancestors;
    if (b) newSide.start = b->key, newSide.above = b->ancestors;
    const FoundKey& named = b ? *b : *a;
    CompareOutcome outcome;
    if (options.reg) {
      const std::string& target = *options.reg;
      for (const EvidenceGuard& guard : guards_) {
        if (target == "-" ? guard.RefusesDescriptor(STDOUT_FILENO) : guard.Refuses(target)) {
          return Fail(kExitFailed, kEvidenceRefusalText);
        }
      }
      if (target == "-") std::fflush(out_);
      const ExportOutcome written = WriteRegistryPatchFile(
          oldSide, newSide, named.shownPath, options.prefix + named.path.substr(4), *options.reg, outcome);
      if (written.status == ExportOutcome::CannotCreate || written.status == ExportOutcome::Failed) {
        return Fail(kExitFailed, written.message);
      }
      if (written.status == ExportOutcome::Damaged) return Fail(kExitDamaged, written.message);
      if (outcome.changes == 0) return Fail(kExitNotFound, kSame);
      return kExitOk;
    } else {
      ChangePrinter printer(out_, options.json);
      const std::u16string units = Utf8ToUtf16String(named.path);
      outcome = CompareTrees(oldSide, newSide, named.shownPath, units, printer);
      if (std::fflush(out_) != 0) return Fail(kExitFailed, "Write failed: standard output");
      if (outcome.budgetOut) return Fail(kExitFailed, kBudgetOutText);
    }
    if (outcome.Damaged()) {
      DamageReport both = outcome.oldDamage;
      both.Add(outcome.newDamage);
      return Fail(kExitDamaged, both.Summary(outcome.changes == 0 ? "the readable parts are the same"
                                                                  : "everything readable was compared"));
    }
    if (outcome.changes == 0) return Fail(kExitNotFound, kSame);
    return kExitOk;
  }

  std::FILE* out_;
  std::FILE* err_;
  std::vector<EvidenceGuard> guards_;  // the hives compared and their logs
};

}  // namespace

int RunDiffCommand(const CommandCall& call, CliSession& session) {
  DiffOptions options;
  options.json = call.Flag("--json");
  options.logsOfOne = call.Flag("--logs");
  options.logs = call.logs;
  if (const std::string* reg = call.Value("--reg")) options.reg = *reg;
  if (const std::string* prefix = call.Value("--prefix")) options.prefix = *prefix;
  const std::vector<std::string>& words = call.words;
  DiffCommand run(session.Out(), session.Err());
  if (options.logsOfOne) {
    if (words.size() > 2) return session.Usage("wrong number of arguments");
    return run.DiffLogs(words[0], call.Word(1, "ROOT"), options);
  }
  if (words.size() < 2) return session.Usage("wrong number of arguments");
  return run.Diff(words[0], words[1], call.Word(2, "ROOT"), options);
}

int RunHistoryCommand(const CommandCall& call, CliSession& session) {
  return DiffCommand(session.Out(), session.Err()).History(call.words[0], call.logs, call.Flag("--json"));
}

}  // namespace cellbrook
