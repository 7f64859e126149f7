#include "export/evidence_guard.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <utility>
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

// `name` is the hive's name with .LOG, .LOG1 or .LOG2, in any case.
bool IsLogName(std::string_view name, std::string_view hive) {
  if (name.size() <= hive.size() || !SameIgnoringAsciiCase(name.substr(0, hive.size()), hive)) return false;
  for (const char* extension : {".LOG", ".LOG1", ".LOG2"}) {
    if (SameIgnoringAsciiCase(name.substr(hive.size()), extension)) return true;
  }
  return false;
}

// A path's folder ("." or "/" where it has none) and its last name.
std::pair<std::string, std::string> SplitPath(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

}  // namespace

EvidenceGuard EvidenceGuard::For(const std::string& hivePath, const std::vector<std::string>& namedLogs) {
  EvidenceGuard guard;
  guard.Add(hivePath);
  for (const std::string& log : namedLogs) guard.Add(log);
  const auto [folder, base] = SplitPath(hivePath);
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0) {
    guard.hasFolder_ = true;
    guard.folder_ = {st.st_dev, st.st_ino};
    guard.base_ = base;
  }
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) return guard;
  while (const dirent* entry = ::readdir(dir.get())) {
    if (IsLogName(entry->d_name, base)) guard.Add(folder + "/" + entry->d_name);
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
  return (::stat(target.c_str(), &st) == 0 && Holds(st.st_dev, st.st_ino)) || NamesALog(target);
}

bool EvidenceGuard::NamesALog(const std::string& target) const {
  if (!hasFolder_) return false;
  // Where a link leads, when it leads to a file; else the name as given.
  std::string path = target;
  if (char* real = ::realpath(target.c_str(), nullptr)) {
    path = real;
    std::free(real);
  }
  const auto [folder, name] = SplitPath(path);
  struct stat st {};
  return ::stat(folder.c_str(), &st) == 0 && st.st_dev == folder_.device && st.st_ino == folder_.inode &&
         IsLogName(name, base_);
}

bool EvidenceGuard::RefusesDescriptor(int fd) const {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && Holds(st.st_dev, st.st_ino);
}

}  // namespace cellbrook
