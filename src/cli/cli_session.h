// What every command shares: the exit statuses, the streams, the one hive
// it reads (its logs applied as the user chose, said on stderr), the key
// lookup, line and JSON printing, and the check before any file is written.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "cli/command_table.h"
#include "hive/damage_report.h"
#include "hive/hex_text.h"
#include "hive/key_lookup.h"
#include "hive/key_walk.h"
#include "present/json_line.h"
#include "document/hive_document.h"
#include "export/evidence_guard.h"

namespace cellbrook {

inline constexpr int kExitOk = 0, kExitUsage = 1, kExitUnreadable = 2, kExitNotFound = 3, kExitFailed = 4,
                     kExitDamaged = 5;

// How a command that reads several hives names the one a message is about.
enum class HiveNaming {
  None,       // one hive: no name
  OnFailure,  // the path before a failure to read it
  Always,     // also the file name before what the logs did
};

// False after saying why (exit 2) when a --log file cannot be opened: a
// mistyped --log is no silent "no log".
bool NamedLogsOpen(const LogChoice& logs, std::FILE* err);

// Reads the hive at `path` and, when `applyLogs`, applies its transaction
// logs where it is dirty and they rebuild it, saying so on `err`; false
// after reporting why it cannot be read.
bool LoadHive(const std::string& path, const LogChoice& logs, bool applyLogs, HiveNaming naming, std::FILE* err,
              HiveDocument& document);

class CliSession {
 public:
  CliSession(std::FILE* out, std::FILE* err, const CommandCall& call) : out_(out), err_(err), call_(call) {}
  CliSession(const CliSession&) = delete;
  CliSession& operator=(const CliSession&) = delete;

  std::FILE* Out() const { return out_; }
  std::FILE* Err() const { return err_; }
  const LogChoice& Logs() const { return call_.logs; }

  // The message on stderr; returns `code`.
  int Fail(int code, const std::string& message);
  // A usage error found by the command itself: the problem and the usage.
  int Usage(const std::string& problem);

  // The session's hive, read as LoadHive reads it; guards it and its logs
  // against being written.
  bool Load(const std::string& path, bool applyLogs = true);
  const HiveDocument& Document() const { return document_; }
  const HiveImage& Image() const { return document_.Hive(); }

  // False after saying so when `target` is the hive or one of its logs
  // ("-": whatever standard output was opened on).
  bool MayWrite(const std::string& target);
  // Flushes standard output before a writer writes to it ("-").
  void BeforeWriting(const std::string& target);

  // The key at `keyPath`, or null after saying it was not found (and where
  // damage stopped the lookup).
  std::optional<FoundKey> FindKey(const std::string& keyPath);

  // Walks the keys below `found`, as deep as the depth left below it
  // allows, adding what it skipped to `damage`; false after saying the
  // walk's budget ran out.
  template <class Visitor>
  bool WalkBelow(const FoundKey& found, Visitor& visitor, DamageReport& damage) {
    const size_t depth = found.ancestors.size();
    const uint32_t maxDepth = depth < kMaxKeyDepth ? kMaxKeyDepth - depth : 0;
    KeyWalk walk(Image(), found.shownPath, maxDepth, found.ancestors);
    if (walk.Run(found.key, visitor) == WalkEnd::BudgetOut) {
      std::fflush(out_);
      Fail(kExitFailed, kBudgetOutText);
      return false;
    }
    damage.Add(walk.Damage());
    return true;
  }

  // Standard output flushed, then 0, or 5 with what `damage` skipped.
  int Finish(const DamageReport& damage, std::string_view done);
  // Standard output flushed: true, or false after saying it failed.
  bool Flushed();

  void PrintText(std::string_view text) { std::fwrite(text.data(), 1, text.size(), out_); }
  void PrintLine(std::string_view line) {
    PrintText(line);
    std::fputc('\n', out_);
  }
  JsonLine& Json() { return json_; }  // the --json record being written, its buffer reused

 private:
  std::FILE* out_;
  std::FILE* err_;
  const CommandCall& call_;
  JsonLine json_;
  HiveDocument document_;
  EvidenceGuard guard_;  // the hive and its logs, once loaded
};

// Prints the usage error for `entry`: the problem, then the usage its
// entry shows (its group's, or the whole).
int PrintUsageError(const CommandEntry* entry, const std::string& problem, std::FILE* err);

}  // namespace cellbrook
