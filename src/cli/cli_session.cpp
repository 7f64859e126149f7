#include "cli/cli_session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "hive/text_codec.h"
#include "recover/logs/base_block.h"
#include "recover/logs/recovery_text.h"

namespace cellbrook {

bool NamedLogsOpen(const LogChoice& logs, std::FILE* err) {
  for (const std::string& log : logs.named) {
    const int fd = ::open(log.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st {};
    const std::string why = fd < 0                  ? std::strerror(errno)
                            : ::fstat(fd, &st) != 0 ? std::strerror(errno)
                            : !S_ISREG(st.st_mode)  ? "it is not a regular file"
                                                    : "";
    if (fd >= 0) ::close(fd);
    if (!why.empty()) {
      std::fprintf(err, "Can not open transaction log %s: %s.\n", EscapeLineText(log).c_str(), why.c_str());
      return false;
    }
  }
  return true;
}

bool LoadHive(const std::string& path, const LogChoice& logs, bool applyLogs, HiveNaming naming, std::FILE* err,
              HiveDocument& document) {
  if (!NamedLogsOpen(logs, err)) return false;
  const std::string failing = naming == HiveNaming::None ? "" : path + ": ";
  const std::string reporting = naming == HiveNaming::Always ? path.substr(path.find_last_of('/') + 1) + ": " : "";
  auto unreadable = [&](LoadOutcome outcome) {
    std::fprintf(err, "%s%s\n", failing.c_str(), LoadOutcomeText(outcome));
    return false;
  };
  const LoadOutcome outcome = document.Open(path, logs);
  if (outcome != LoadOutcome::Loaded) return unreadable(outcome);
  if (document.Bytes().size() < kSectorSize)
    return unreadable(LoadOutcome::InvalidFormat);  // not even the base block's fields
  if (!applyLogs) return true;
  if (document.LogsOffered() && !document.ApplyLogs()) {
    std::fprintf(err, "%s\n",
                 reporting.empty() ? "The transaction logs rebuilt no readable hive; the file is read as it is."
                                   : (reporting + "the transaction logs rebuilt no readable hive; the file is read "
                                                  "as it is.")
                                         .c_str());
    return true;
  }
  const std::string line = logs.use || !document.Recovery().dirty
                               ? RecoverySummaryLine(document.Recovery())
                               : "The hive is dirty and its transaction logs were not applied (--no-logs); recent "
                                 "changes may be missing.";
  if (!line.empty()) std::fprintf(err, "%s%s\n", reporting.c_str(), line.c_str());
  if (document.Hive().Size < kBaseBlockSize) return unreadable(LoadOutcome::InvalidFormat);  // no room for a bin
  return true;
}

int PrintUsageError(const CommandEntry* entry, const std::string& problem, std::FILE* err) {
  const std::string usage = entry != nullptr && entry->ownUsage ? GroupUsageText(entry->group) : UsageText();
  std::fprintf(err, "cellbrook-cli: %s\n%s", problem.c_str(), usage.c_str());
  return kExitUsage;
}

int CliSession::Fail(int code, const std::string& message) {
  std::fprintf(err_, "%s\n", message.c_str());
  return code;
}

int CliSession::Usage(const std::string& problem) { return PrintUsageError(call_.entry, problem, err_); }

bool CliSession::Load(const std::string& path, bool applyLogs) {
  if (!LoadHive(path, call_.logs, applyLogs, HiveNaming::None, err_, document_)) return false;
  guard_ = EvidenceGuard::For(path, call_.logs.named);
  return true;
}

bool CliSession::MayWrite(const std::string& target) {
  if (target == "-" ? !guard_.RefusesDescriptor(STDOUT_FILENO) : !guard_.Refuses(target)) return true;
  Fail(kExitFailed, kEvidenceRefusalText);
  return false;
}

void CliSession::BeforeWriting(const std::string& target) {
  if (target == "-") std::fflush(out_);
}

std::optional<FoundKey> CliSession::FindKey(const std::string& keyPath) {
  KeyLookup lookup = FindKeyByPath(document_.Hive(), keyPath);
  if (!lookup.found) {
    std::string message = "Key not found: " + EscapeLineText(keyPath);
    if (lookup.damaged) {
      message += " (the hive is damaged: the subkeys of " + lookup.damagedAt + " could not all be read)";
    }
    Fail(kExitNotFound, message);
  }
  return std::move(lookup.found);
}

bool CliSession::Flushed() {
  if (std::fflush(out_) == 0) return true;
  Fail(kExitFailed, "Write failed: standard output");
  return false;
}

int CliSession::Finish(const DamageReport& damage, std::string_view done) {
  if (!Flushed()) return kExitFailed;
  if (!damage.Any()) return kExitOk;
  return Fail(kExitDamaged, damage.Summary(done));
}

}  // namespace cellbrook
