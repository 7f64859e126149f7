#include "recover/logs/log_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>

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

struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) ::close(fd);
  }
};

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
  // Non-blocking, so a pipe swapped in after the check cannot hang the open.
  FdCloser file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)};
  if (file.fd < 0) {
    whyNot = "cannot open " + out.name + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(file.fd, &st) != 0) {
    whyNot = "cannot read " + out.name + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    whyNot = "skipped " + out.name + ": it is " + FileKind(st.st_mode) + ", not a regular file";
    return false;
  }
  const auto size = static_cast<uint64_t>(st.st_size);
  if (size > kMaxLogFileSize) {
    whyNot = "skipped " + out.name + ": " + std::to_string(size) + " bytes is more than a log this program reads";
    return false;
  }
  out.bytes.resize(size);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(file.fd, out.bytes.data() + done, size - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  if (done < size) {
    whyNot = "cannot read " + out.name + ": it ended early or a read failed";
    out.bytes.clear();
    return false;
  }
  return true;
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
