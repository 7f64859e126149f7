#include "cli/diff_command.h"

#include <unistd.h>

#include <map>
#include <optional>
#include <set>

#include <nlohmann/json.hpp>

#include "compare/hive_compare.h"
#include "export/evidence_guard.h"
#include "export/registry_patch.h"
#include "hive/filetime.h"
#include "hive/key_lookup.h"
#include "hive/key_walk.h"
#include "hive/text_codec.h"
#include "present/data_text.h"
#include "present/value_text.h"
#include "recover/logs/log_files.h"
#include "recover/open_hive.h"
#include "recover/logs/recovery_text.h"

namespace cellbrook {
namespace {

constexpr int kExitOk = 0, kExitUsage = 1, kExitUnreadable = 2, kExitNotFound = 3, kExitFailed = 4,
              kExitDamaged = 5;
constexpr const char* kSame = "The hives are the same.";
constexpr uint64_t kHistorySteps = 1024;

using Json = nlohmann::ordered_json;

std::string FileName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

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
      case ChangeKind::KeySame: break;
      case ChangeKind::KeyTime:
        line += '\t' + FormatFileTime(c.oldKey->LastWritten) + '\t' + FormatFileTime(c.newKey->LastWritten);
        break;
      case ChangeKind::ValueAdded:
        line += '\t' + Caption(*c.newValue) + '\t' + ValueTypeName(c.newValue->Type);
        break;
      case ChangeKind::ValueRemoved: line += '\t' + Caption(*c.oldValue); break;
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
  static std::string Caption(const ValueInfo& value) {
    return value.Name.length == 0 ? std::string("(Default)") : EscapeLineText(ValueNameString(value));
  }
  static Json Data(const ValueInfo* value) {
    if (value == nullptr || !value->Data.Readable()) return nullptr;
    return HexDigits(DataBytes(value->Data));
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
    OpenedHive oldHive, newHive;
    if (!Load(oldPath, options.logs, oldHive, true) || !Load(newPath, options.logs, newHive, true)) {
      return kExitUnreadable;
    }
    guards_ = {EvidenceGuard::For(oldPath, options.logs.named), EvidenceGuard::For(newPath, options.logs.named)};
    return Compare(oldHive.image, newHive.image, keyPath, options);
  }

  // The hive as it is against the hive with its logs applied.
  int DiffLogs(const std::string& path, const std::string& keyPath, const DiffOptions& options) {
    OpenedHive hive;
    if (!Load(path, options.logs, hive, false)) return kExitUnreadable;
    guards_ = {EvidenceGuard::For(path, options.logs.named)};
    if (!hive.report.dirty) return Fail(kExitNotFound, "The hive is clean: its transaction logs change nothing.");
    if (!hive.recoverable) return Fail(kExitFailed, RecoverySummaryLine(hive.report));
    HiveImage rebuilt;
    if (!AttachImage(rebuilt, hive.recovered.data(), static_cast<uint32_t>(hive.recovered.size()))) {
      return Fail(kExitFailed, "The transaction logs rebuilt no readable hive.");
    }
    std::fprintf(err_, "%s\n", RecoverySummaryLine(hive.report).c_str());
    return Compare(hive.image, rebuilt, keyPath, options);
  }

  int History(const std::string& path, const LogChoice& logs, bool json) {
    HiveBlock block;
    HiveImage image;
    const LoadOutcome loaded = LoadHiveFile(path, block, image);
    if (loaded != LoadOutcome::Loaded) return Fail(kExitUnreadable, path + ": " + LoadOutcomeText(loaded));
    const std::span<const uint8_t> primary(block.data(), block.size);
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
        const std::string line = "entry\t" + std::to_string(sequence) + '\t' + EscapeLineText(log) + '\t' +
                                 std::to_string(pages) + '\n';
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
      recovery = RecoverHive(primary, path, logs.named.empty() ? nullptr : &logs.named,
                             [&](const AppliedEntry& e) {
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
          if (log.verdict == LogVerdict::Applied) step(log.name, report.finalSequence, log.appliedPages, recovery.image);
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
  bool Load(const std::string& path, const LogChoice& logs, OpenedHive& hive, bool apply) {
    const LoadOutcome outcome = OpenHiveFile(path, logs, hive);
    if (outcome != LoadOutcome::Loaded) {
      Fail(kExitUnreadable, path + ": " + LoadOutcomeText(outcome));
      return false;
    }
    if (!apply) return true;
    if (hive.recoverable && !ApplyRecovery(hive)) {
      std::fprintf(err_, "%s: the transaction logs rebuilt no readable hive; the file is read as it is.\n",
                   FileName(path).c_str());
      return true;
    }
    const std::string line =
        logs.use || !hive.report.dirty
            ? RecoverySummaryLine(hive.report)
            : "The hive is dirty and its transaction logs were not applied (--no-logs); recent changes may be "
              "missing.";
    if (!line.empty()) std::fprintf(err_, "%s: %s\n", FileName(path).c_str(), line.c_str());
    return true;
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
      const ExportOutcome written = WriteRegistryPatchFile(oldSide, newSide, named.shownPath,
                                                           options.prefix + named.path.substr(4), *options.reg,
                                                           outcome);
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

int RunDiffCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err, const char* usageText) {
  auto usage = [&](const std::string& problem) {
    std::fprintf(err, "cellbrook-cli: %s\n%s", problem.c_str(), usageText);
    return kExitUsage;
  };
  const std::string& command = args[0];
  const bool diff = command == "diff";
  std::vector<std::string> words;
  DiffOptions options;
  bool noLogs = false, prefixGiven = false, optionsEnded = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= args.size()) return false;
      into = args[++i];
      return true;
    };
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (optionsEnded || arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
      words.push_back(arg);
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--log") {
      std::string file;
      if (!value(file)) return usage("--log needs a file");
      options.logs.named.push_back(file);
    } else if (diff && arg == "--no-logs") {
      noLogs = true;
    } else if (diff && arg == "--logs") {
      options.logsOfOne = true;
    } else if (diff && arg == "--reg") {
      std::string file;
      if (!value(file)) return usage("--reg needs a file");
      options.reg = file;
    } else if (diff && arg == "--prefix") {
      if (!value(options.prefix)) return usage("--prefix needs a value");
      prefixGiven = true;
    } else {
      return usage("unknown option for " + command + ": " + arg);
    }
  }
  DiffCommand run(out, err);
  if (!diff) {
    if (words.size() != 1) return usage("wrong number of arguments");
    return run.History(words[0], options.logs, options.json);
  }
  if (prefixGiven && !options.reg) return usage("--prefix goes with --reg");
  if (options.reg && options.json) return usage("--json and --reg exclude each other");
  if (options.logsOfOne && noLogs) return usage("--logs and --no-logs exclude each other");
  if (!options.logsOfOne && !options.logs.named.empty()) {
    return usage("--log goes with --logs: which of the two hives would it belong to?");
  }
  options.logs.use = !noLogs;
  if (options.logsOfOne) {
    if (words.empty() || words.size() > 2) return usage("wrong number of arguments");
    return run.DiffLogs(words[0], words.size() == 2 ? words[1] : "ROOT", options);
  }
  if (words.size() < 2 || words.size() > 3) return usage("wrong number of arguments");
  return run.Diff(words[0], words[1], words.size() == 3 ? words[2] : "ROOT", options);
}

}  // namespace cellbrook
