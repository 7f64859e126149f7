// artifacts: the well-known keys of a hive decoded into records.
#include <map>

#include "artifacts/artifact_run.h"
#include "artifacts/artifact_table.h"
#include "artifacts/artifact_text.h"
#include "cli/commands.h"
#include "hive/text_codec.h"
#include "present/timeline.h"

namespace cellbrook {
namespace {

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

int RunArtifactsCommand(const CommandCall& call, CliSession& session) {
  std::FILE* out = session.Out();
  std::FILE* err = session.Err();
  const std::vector<std::string>& words = call.words;
  const std::vector<std::string>& with = call.Values("--with");
  const bool json = call.Flag("--json"), csv = call.Flag("--csv");
  if (call.Flag("--list")) {
    if (!words.empty()) return session.Usage("--list takes nothing else");
    PrintList(out);
    return std::fflush(out) == 0 ? kExitOk : kExitFailed;
  }
  if (words.empty()) return session.Usage("artifacts needs a hive");
  std::vector<const ArtifactDecoder*> selected;
  for (size_t i = 1; i < words.size(); ++i) {
    const ArtifactDecoder* d = FindArtifactDecoder(words[i]);
    if (d == nullptr) return session.Usage("unknown artifact: " + words[i] + " (artifacts --list names them)");
    selected.push_back(d);
  }

  HiveDocument hive;
  if (!LoadHive(words[0], call.logs, true, HiveNaming::OnFailure, err, hive)) return kExitUnreadable;
  ArtifactRun run = RunArtifacts(hive.Hive(), selected);
  SidNames names;
  names.Learn(hive.Hive());
  for (const std::string& other : with) {
    HiveDocument lender;
    if (!LoadHive(other, LogChoice{}, true, HiveNaming::OnFailure, err, lender)) return kExitUnreadable;
    names.Learn(lender.Hive());
  }
  names.Lend(run, SidNames::ClassesHiveSid(hive.Hive()));

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
