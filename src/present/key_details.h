// One key's details as the CLI and the window show them: class name,
// flags, counts, cell, and its security decoded. Security cells are shared
// by many keys, so each is read and decoded once per cache.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "hive/key_security.h"
#include "hive/security_descriptor.h"

namespace cellbrook {

// A security cell decoded, with the texts shown for it.
struct SecuritySummary {
  SecurityCell cell;
  SecurityDescriptor descriptor;
  std::string sddl;          // of what could be read
  std::string owner, group;  // SID texts; "" when absent
  std::string ownerName, groupName;
  // The cell's problem and the descriptor's, one sentence each.
  std::vector<std::string> problems;
  bool Damaged() const { return !problems.empty(); }
};

class SecurityCache {
 public:
  explicit SecurityCache(const HiveImage& image) : image_(image) {}
  // The summary of the security cell at `cell` (kNoCell: none), decoded on
  // first use; the reference stays valid as long as the cache.
  const SecuritySummary& For(uint32_t cell);
  size_t Decoded() const { return byCell_.size(); }

 private:
  const HiveImage& image_;
  std::unordered_map<uint32_t, std::unique_ptr<SecuritySummary>> byCell_;
};

struct KeyDetails {
  KeyInfo key;
  std::string path;  // as shown (names escaped as EscapeKeyName does)
  ClassName className;
  uint32_t volatileSubkeys = 0;
  uint32_t securityCell = kNoCell;
  const SecuritySummary* security = nullptr;  // from the cache

  bool ClassNameDamaged() const { return className.state == ReadState::Damaged; }
  bool SecurityDamaged() const { return security->Damaged(); }
  // Every problem, class name first.
  std::vector<std::string> Problems() const;
};

KeyDetails ReadKeyDetails(const HiveImage& image, const KeyInfo& key, std::string path, SecurityCache& cache);

// "S-1-5-18 (NT AUTHORITY\SYSTEM)", the SID alone when it has no known name.
std::string SidWithName(const std::string& sid, const std::string& name);

}  // namespace cellbrook
