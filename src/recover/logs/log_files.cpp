#include "recover/logs/log_files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>

#include "hive/fd_io.h"

namespace cellbrook {
namespace {

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

bool ExtensionUpperCase(const std::string& name, size_t extensionLength) {
  for (size_t i = name.size() - extensionLength; i < name.size(); ++i) {
    if (name[i] >= 'a' && name[i] <= 'z') return false;
  }
  return true;
}

const char* FileKind(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

}  // namespace

std::vector<std::string> FindTransactionLogs(const std::string& primaryPath, std::vector<std::string>* notes) {
  const std::string folder = FolderOf(primaryPath);
  const std::string base = FileNameOf(primaryPath);
  static const char* const kExtensions[] = {".LOG", ".LOG1", ".LOG2"};
  std::vector<std::string> chosen(3);
  std::vector<std::string> found;
  auto note = [notes](std::string text) {
    if (notes != nullptr) notes->push_back(std::move(text));
  };
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) {
    note("Could not list the folder " + folder + " to look for transaction logs: " + std::strerror(errno) + ".");
    return found;
  }
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    for (int slot = 0; slot < 3; ++slot) {
      const std::string wanted = base + kExtensions[slot];
      if (!SameNameIgnoringCase(name, wanted)) continue;
      const std::string path = folder + "/" + name;
      struct stat st {};
      if (::stat(path.c_str(), &st) != 0) {
        note("Skipped " + name + ": " + std::strerror(errno) + ".");
      } else if (!S_ISREG(st.st_mode)) {
        note("Skipped " + name + ": it is " + FileKind(st.st_mode) + ", not a regular file.");
      } else if (chosen[slot].empty()) {
        chosen[slot] = name;
      } else {
        const size_t extLength = std::strlen(kExtensions[slot]) - 1;
        const bool newUpper = ExtensionUpperCase(name, extLength);
        const bool oldUpper = ExtensionUpperCase(chosen[slot], extLength);
        // Upper-case extension wins; otherwise keep the order stable by name.
        const bool takeNew = newUpper != oldUpper ? newUpper : name < chosen[slot];
        const std::string& kept = takeNew ? name : chosen[slot];
        const std::string& passed = takeNew ? chosen[slot] : name;
        note("Both " + kept + " and " + passed + " match; using " + kept + ".");
        if (takeNew) chosen[slot] = name;
      }
    }
  }
  for (const std::string& name : chosen) {
    if (name.empty()) continue;
    found.push_back(folder + "/" + name);
  }
  return found;
}

bool LoadTransactionLog(const std::string& path, LogFile& out, std::string& whyNot) {
  out = LogFile{};
  out.name = FileNameOf(path);
  out.path = path;
  WholeReadFacts facts;
  const WholeRead read = ReadWholeFile(
      path, kMaxLogFileSize,
      [&out](uint64_t size) {
        out.bytes.resize(size);
        return out.bytes.data();
      },
      &facts);
  switch (read) {
    case WholeRead::Read:
      return true;
    case WholeRead::CannotOpen:
      whyNot = "cannot open " + out.name + ": " + std::strerror(facts.error);
      break;
    case WholeRead::CannotStat:
      whyNot = "cannot read " + out.name + ": " + std::strerror(facts.error);
      break;
    case WholeRead::NotRegular:
      whyNot = "skipped " + out.name + ": it is " + FileKind(facts.mode) + ", not a regular file";
      break;
    case WholeRead::TooLarge:
      whyNot =
          "skipped " + out.name + ": " + std::to_string(facts.size) + " bytes is more than a log this program reads";
      break;
    case WholeRead::NoMemory:
    case WholeRead::ReadFailed:
      whyNot = "cannot read " + out.name + ": it ended early or a read failed";
      break;
  }
  out.bytes.clear();
  return false;
}

Recovery RecoverHive(std::span<const uint8_t> primary, const std::string& primaryPath,
                     const std::vector<std::string>* explicitLogs, const EntryObserver& onEntry) {
  std::vector<std::string> notes;
  const std::vector<std::string> paths =
      explicitLogs != nullptr ? *explicitLogs : FindTransactionLogs(primaryPath, &notes);
  std::vector<LogFile> logs;
  for (const std::string& path : paths) {
    LogFile log;
    std::string whyNot;
    if (LoadTransactionLog(path, log, whyNot)) {
      logs.push_back(std::move(log));
    } else {
      whyNot[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(whyNot[0])));
      notes.push_back(whyNot + ".");
    }
  }
  Recovery result = RecoverFromLogs(primary, logs, onEntry);
  result.report.notes.insert(result.report.notes.begin(), notes.begin(), notes.end());
  return result;
}

}  // namespace cellbrook
