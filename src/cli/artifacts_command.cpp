#include "cli/artifacts_command.h"

#include <map>

#include "artifacts/artifact_run.h"
#include "artifacts/artifact_table.h"
#include "artifacts/artifact_text.h"
#include "hive/text_codec.h"
#include "present/timeline.h"
#include "recover/open_hive.h"
#include "recover/logs/recovery_text.h"

namespace cellbrook {
namespace {

constexpr int kExitOk = 0, kExitUsage = 1, kExitUnreadable = 2, kExitNotFound = 3, kExitFailed = 4,
              kExitDamaged = 5;

constexpr const char* kArtifactsUsage =
    "usage: cellbrook-cli artifacts HIVE [NAME ...] [--json | --csv] [--with HIVE2 ...]\n"
    "       cellbrook-cli artifacts --list\n";

// Reads a hive as every command does, the logs applied when it is dirty.
bool LoadHive(const std::string& path, const LogChoice& logs, OpenedHive& hive, std::FILE* err) {
  const LoadOutcome outcome = OpenHiveFile(path, logs, hive);
  if (outcome != LoadOutcome::Loaded) {
    std::fprintf(err, "%s: %s\n", path.c_str(), LoadOutcomeText(outcome));
    return false;
  }
  if (hive.recoverable && !ApplyRecovery(hive)) {
    std::fprintf(err, "The transaction logs rebuilt no readable hive; the file is read as it is.\n");
    return true;
  }
  const std::string line = logs.use || !hive.report.dirty
                               ? RecoverySummaryLine(hive.report)
                               : "The hive is dirty and its transaction logs were not applied (--no-logs); recent "
                                 "changes may be missing.";
  if (!line.empty()) std::fprintf(err, "%s\n", line.c_str());
  return true;
}

void PrintList(std::FILE* out) {
  for (const ArtifactDecoder& d : ArtifactDecoders()) {
    std::fprintf(out, "%s\t%s\t%s\n", d.name, KindListText(d.kinds).c_str(), d.summary);
  }
}

enum class Form { Text, Json, Csv };

void PrintRecords(const ArtifactRun& run, const std::string& hive, Form form, bool plainCsv, std::FILE* out) {
  const ArtifactDecoder* current = nullptr;
  std::string text;
  for (const ArtifactRecord& r : run.records) {
    text.clear();
    if (form == Form::Json) {
      text = ArtifactRecordJson(r, hive) + "\n";
    } else if (form == Form::Text) {
      if (r.artifact != current) {
        current = r.artifact;
        text += std::string("# ") + current->name + "\nkey";
        for (const char* f : current->fields) text += std::string("\t") + f;
        text += '\n';
      }
      text += r.key;
      for (const FieldValue& f : r.fields) text += '\t' + EscapeLineText(FieldText(f));
      if (r.damaged) text += "\tdamaged\t" + EscapeLineText(r.error);
      text += '\n';
    } else {
      if (r.artifact != current) {
        if (current != nullptr) text += "\r\n";
        current = r.artifact;
        if (!plainCsv) text += std::string("# ") + current->name + "\r\n";
        text += ArtifactCsvHeader(*current);
      }
      text += ArtifactCsvLine(r);
    }
    std::fwrite(text.data(), 1, text.size(), out);
  }
}

}  // namespace

int RunArtifactsCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  auto usage = [err](const std::string& problem) {
    std::fprintf(err, "cellbrook-cli: %s\n%s", problem.c_str(), kArtifactsUsage);
    return kExitUsage;
  };
  std::vector<std::string> words, with;
  LogChoice logs;
  bool json = false, csv = false, list = false, optionsEnded = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (optionsEnded || arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
      words.push_back(arg);
    } else if (arg == "--json") {
      json = true;
    } else if (arg == "--csv") {
      csv = true;
    } else if (arg == "--list") {
      list = true;
    } else if (arg == "--no-logs") {
      logs.use = false;
    } else if (arg == "--with" || arg == "--log") {
      if (i + 1 >= args.size()) return usage(arg + " needs a file");
      (arg == "--with" ? with : logs.named).push_back(args[++i]);
    } else {
      return usage("unknown option for artifacts: " + arg);
    }
  }
  if (list) {
    if (!words.empty() || json || csv || !with.empty()) return usage("--list takes nothing else");
    PrintList(out);
    return std::fflush(out) == 0 ? kExitOk : kExitFailed;
  }
  if (words.empty()) return usage("artifacts needs a hive");
  if (json && csv) return usage("--json and --csv exclude each other");
  if (!logs.use && !logs.named.empty()) return usage("--no-logs and --log exclude each other");
  std::vector<const ArtifactDecoder*> selected;
  for (size_t i = 1; i < words.size(); ++i) {
    const ArtifactDecoder* d = FindArtifactDecoder(words[i]);
    if (d == nullptr) return usage("unknown artifact: " + words[i] + " (artifacts --list names them)");
    selected.push_back(d);
  }

  OpenedHive hive;
  if (!LoadHive(words[0], logs, hive, err)) return kExitUnreadable;
  ArtifactRun run = RunArtifacts(hive.image, selected);
  SidNames names;
  names.Learn(hive.image);
  for (const std::string& other : with) {
    OpenedHive lender;
    if (!LoadHive(other, LogChoice{}, lender, err)) return kExitUnreadable;
    names.Learn(lender.image);
  }
  names.Lend(run, SidNames::ClassesHiveSid(hive.image));

  PrintRecords(run, words[0], json ? Form::Json : csv ? Form::Csv : Form::Text, csv && selected.size() == 1, out);
  if (std::fflush(out) != 0) {
    std::fprintf(err, "Write failed: standard output\n");
    return kExitFailed;
  }
  if (run.Damaged()) {
    std::fprintf(err, "The hive is damaged: %s; everything readable was listed.\n", run.DamageSummary().c_str());
    return kExitDamaged;
  }
  if (run.records.empty()) {
    if (run.kind.kind == HiveKind::Unknown) {
      std::fprintf(err, "No artifact found: the hive's type is not recognised from the keys below its root.\n");
    } else {
      std::fprintf(err, "No artifact found in this %s hive.\n", HiveKindName(run.kind.kind));
    }
    return kExitNotFound;
  }
  return kExitOk;
}

}  // namespace cellbrook
