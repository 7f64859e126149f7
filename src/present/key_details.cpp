#include "present/key_details.h"

#include "present/security_text.h"

namespace cellbrook {

const SecuritySummary& SecurityCache::For(uint32_t cell) {
  std::unique_ptr<SecuritySummary>& slot = byCell_[cell];
  if (slot) return *slot;
  slot = std::make_unique<SecuritySummary>();
  SecuritySummary& s = *slot;
  s.cell = ReadSecurityCell(image_, cell);
  if (s.cell.state == ReadState::Damaged) s.problems.push_back(s.cell.problem);
  if (s.cell.state != ReadState::Ok) return s;
  s.descriptor = DecodeSecurityDescriptor(s.cell.descriptor);
  for (const std::string& p : s.descriptor.problems) s.problems.push_back(p);
  s.sddl = SddlText(s.descriptor);
  if (s.descriptor.owner) {
    s.owner = SidText(*s.descriptor.owner);
    s.ownerName = SidName(*s.descriptor.owner);
  }
  if (s.descriptor.group) {
    s.group = SidText(*s.descriptor.group);
    s.groupName = SidName(*s.descriptor.group);
  }
  return s;
}

std::vector<std::string> KeyDetails::Problems() const {
  std::vector<std::string> problems;
  if (ClassNameDamaged()) problems.push_back(className.problem);
  for (const std::string& p : security->problems) problems.push_back(p);
  return problems;
}

KeyDetails ReadKeyDetails(const HiveImage& image, const KeyInfo& key, std::string path, SecurityCache& cache) {
  KeyDetails d;
  d.key = key;
  d.path = std::move(path);
  d.className = ReadClassName(image, key.Ref);
  d.volatileSubkeys = VolatileSubkeyCount(image, key.Ref);
  d.securityCell = KeySecurityCellOffset(image, key.Ref);
  d.security = &cache.For(d.securityCell);
  return d;
}

std::string SidWithName(const std::string& sid, const std::string& name) {
  return name.empty() ? sid : sid + " (" + name + ")";
}

}  // namespace cellbrook
