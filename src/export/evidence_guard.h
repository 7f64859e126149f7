// The one check every writer makes before it writes to a path: the target
// must not be the hive being read nor one of its transaction logs, by
// device and inode, so a hard link, a symbolic link or another spelling of
// the name is caught too.
//
// Use: build it once when the hive is opened,
//   EvidenceGuard guard = EvidenceGuard::For(hivePath, namedLogs);
// then, before writing to a path the user chose,
//   if (guard.Refuses(target)) { show kEvidenceRefusalText; stop }
// (RefusesDescriptor for standard output). It records the files as they
// are at construction; besides, any name beside the hive that is one of its
// log names is refused whenever asked, even for a file that came later or
// does not exist yet: writing it would plant a log the next open applies.
// Any other target that does not exist yet is never refused.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace cellbrook {

inline constexpr const char* kEvidenceRefusalText =
    "This is the hive being read (or one of its logs): it is never written.";

class EvidenceGuard {
 public:
  EvidenceGuard() = default;  // guards nothing

  // The hive at `hivePath`, every file beside it named as the hive with
  // .LOG, .LOG1 or .LOG2 in any case, and each of `namedLogs` (--log).
  static EvidenceGuard For(const std::string& hivePath, const std::vector<std::string>& namedLogs = {});

  // Guards one more file (an image the hive came from, say); files that
  // cannot be looked at are left out.
  void Add(const std::string& path);

  // True when `target`, followed through symbolic links, is one of the
  // guarded files or bears one of the hive's log names beside it.
  bool Refuses(const std::string& target) const;
  // The same for an open file (standard output redirected to a log).
  bool RefusesDescriptor(int fd) const;

  size_t Size() const { return files_.size(); }

 private:
  struct FileId {
    dev_t device;
    ino_t inode;
  };
  bool Holds(dev_t device, ino_t inode) const;
  bool NamesALog(const std::string& target) const;

  std::vector<FileId> files_;
  bool hasFolder_ = false;
  FileId folder_{};   // the hive's folder
  std::string base_;  // the hive's file name
};

}  // namespace cellbrook
