#include "export/evidence_guard.h"

#include <dirent.h>
#include <sys/stat.h>

#include <memory>
#include <string_view>

namespace cellbrook {
namespace {

bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

EvidenceGuard EvidenceGuard::For(const std::string& hivePath, const std::vector<std::string>& namedLogs) {
  EvidenceGuard guard;
  guard.Add(hivePath);
  for (const std::string& log : namedLogs) guard.Add(log);
  const size_t slash = hivePath.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : hivePath.substr(0, slash);
  const std::string base = slash == std::string::npos ? hivePath : hivePath.substr(slash + 1);
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) return guard;
  static const char* const kExtensions[] = {".LOG", ".LOG1", ".LOG2"};
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view name = entry->d_name;
    if (name.size() <= base.size() || !SameIgnoringAsciiCase(name.substr(0, base.size()), base)) continue;
    for (const char* extension : kExtensions) {
      if (SameIgnoringAsciiCase(name.substr(base.size()), extension)) {
        guard.Add(folder + "/" + std::string(name));
      }
    }
  }
  return guard;
}

void EvidenceGuard::Add(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !Holds(st.st_dev, st.st_ino)) files_.push_back({st.st_dev, st.st_ino});
}

bool EvidenceGuard::Holds(dev_t device, ino_t inode) const {
  for (const FileId& f : files_) {
    if (f.device == device && f.inode == inode) return true;
  }
  return false;
}

bool EvidenceGuard::Refuses(const std::string& target) const {
  struct stat st {};
  return ::stat(target.c_str(), &st) == 0 && Holds(st.st_dev, st.st_ino);
}

bool EvidenceGuard::RefusesDescriptor(int fd) const {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && Holds(st.st_dev, st.st_ino);
}

}  // namespace cellbrook
