#include "hive/security_descriptor.h"

#include <cstdio>

namespace cellbrook {
namespace {

constexpr size_t kSidHeader = 8;
constexpr uint8_t kMaxSubAuthorities = 15;

uint16_t Le16(std::span<const uint8_t> b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
uint32_t Le32(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
bool Fits(std::span<const uint8_t> b, size_t at, size_t len) { return at <= b.size() && len <= b.size() - at; }
Guid GuidAt(std::span<const uint8_t> b, size_t at) {
  Guid g{};
  for (size_t i = 0; i < g.size(); ++i) g[i] = b[at + i];
  return g;
}

// The ACE at the start of `ace` (its size already checked to fit).
Ace ReadAce(std::span<const uint8_t> ace, uint32_t offset, const char* which, std::vector<std::string>& problems) {
  using namespace acl_field;
  Ace a;
  a.type = ace[AceType];
  a.flags = ace[AceFlags];
  a.size = Le16(ace, AceSize);
  a.offset = offset;
  auto problem = [&](const char* what) {
    problems.push_back(std::string("An ACE of the ") + which + " at offset " + std::to_string(offset) + " " + what +
                       ".");
  };
  if (ace.size() < AceSid) {
    problem("is too short for its access mask");
    return a;
  }
  a.mask = Le32(ace, AceMask);
  size_t sidAt = AceSid;
  if (IsObjectAce(a.type)) {
    if (!Fits(ace, AceObjectFlags, 4)) {
      problem("is too short for its object flags");
      return a;
    }
    a.objectFlags = Le32(ace, AceObjectFlags);
    sidAt = AceObjectData;
    if (a.objectFlags & ObjectTypePresent) {
      if (!Fits(ace, sidAt, 16)) return problem("is too short for its object type"), a;
      a.objectType = GuidAt(ace, sidAt);
      sidAt += 16;
    }
    if (a.objectFlags & InheritedObjectTypePresent) {
      if (!Fits(ace, sidAt, 16)) return problem("is too short for its inherited object type"), a;
      a.inheritedObjectType = GuidAt(ace, sidAt);
      sidAt += 16;
    }
  }
  size_t used = 0;
  a.sid = ReadSid(ace.subspan(sidAt), used);
  if (!a.sid) problem("has a SID that does not fit it");
  return a;
}

void ReadAcl(std::span<const uint8_t> d, uint32_t at, const char* which, Acl& acl, std::vector<std::string>& problems) {
  using namespace acl_field;
  auto problem = [&](const std::string& what) { problems.push_back(std::string("The ") + which + " " + what + "."); };
  if (at == 0) {
    acl.null = true;
    return;
  }
  if (!Fits(d, at, HeaderSize)) {
    problem("lies outside the descriptor");
    return;
  }
  acl.revision = d[at + Revision];
  acl.size = Le16(d, at + Size);
  acl.count = Le16(d, at + Count);
  size_t end = at + size_t{acl.size};
  if (acl.size < HeaderSize) {
    problem("is shorter than its header");
    return;
  }
  if (end > d.size()) {
    problem("runs past the end of the descriptor");
    end = d.size();
  }
  size_t pos = at + HeaderSize;
  for (uint32_t i = 0; i < acl.count; ++i) {
    if (end - pos < 4) {
      problem("claims " + std::to_string(acl.count) + " ACEs; only " + std::to_string(i) + " fit in it");
      return;
    }
    const uint16_t size = Le16(d, pos + AceSize);
    if (size < 4 || size > end - pos) {
      problem("claims " + std::to_string(acl.count) + " ACEs; the ACE at offset " + std::to_string(pos) +
              " does not fit in it");
      return;
    }
    acl.aces.push_back(ReadAce(d.subspan(pos, size), static_cast<uint32_t>(pos), which, problems));
    pos += size;
  }
}

}  // namespace

bool IsObjectAce(uint8_t type) {
  switch (type) {
    case AceAccessAllowedObject:
    case AceAccessDeniedObject:
    case AceSystemAuditObject:
    case AceSystemAlarmObject:
    case AceAccessAllowedCallbackObject:
    case AceAccessDeniedCallbackObject:
    case AceSystemAuditCallbackObject:
    case AceSystemAlarmCallbackObject:
      return true;
    default:
      return false;
  }
}

std::string SidText(const Sid& sid) {
  std::string text = "S-" + std::to_string(sid.revision) + '-';
  if (sid.authority >> 32) {
    char hex[24];
    std::snprintf(hex, sizeof hex, "0x%012llX", static_cast<unsigned long long>(sid.authority));
    text += hex;
  } else {
    text += std::to_string(sid.authority);
  }
  for (uint32_t sub : sid.subAuthorities) {
    text += '-';
    text += std::to_string(sub);
  }
  return text;
}

std::optional<Sid> ReadSid(std::span<const uint8_t> bytes, size_t& used) {
  if (bytes.size() < kSidHeader) return std::nullopt;
  const uint8_t count = bytes[1];
  if (count > kMaxSubAuthorities || !Fits(bytes, kSidHeader, size_t{count} * 4)) {
    return std::nullopt;
  }
  Sid sid;
  sid.revision = bytes[0];
  for (size_t i = 2; i < kSidHeader; ++i) sid.authority = (sid.authority << 8) | bytes[i];
  sid.subAuthorities.reserve(count);
  for (size_t i = 0; i < count; ++i) sid.subAuthorities.push_back(Le32(bytes, kSidHeader + 4 * i));
  used = kSidHeader + size_t{count} * 4;
  return sid;
}

std::string GuidText(const Guid& g) {
  char text[40];
  std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", g[3], g[2],
                g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
  return text;
}

SecurityDescriptor DecodeSecurityDescriptor(std::span<const uint8_t> d) {
  using namespace descriptor_field;
  SecurityDescriptor sd;
  if (d.size() < HeaderSize) {
    sd.problems.push_back("The descriptor is shorter than its " + std::to_string(HeaderSize) + "-byte header.");
    return sd;
  }
  sd.revision = d[Revision];
  sd.control = Le16(d, Control);
  auto sidAt = [&](uint32_t field, const char* which, std::optional<Sid>& out) {
    const uint32_t at = Le32(d, field);
    if (at == 0) return;
    size_t used = 0;
    if (at < d.size()) out = ReadSid(d.subspan(at), used);
    if (!out) sd.problems.push_back(std::string("The ") + which + " SID lies outside the descriptor.");
  };
  sidAt(Owner, "owner", sd.owner);
  sidAt(Group, "group", sd.group);
  sd.sacl.present = (sd.control & SaclPresent) != 0;
  if (sd.sacl.present) ReadAcl(d, Le32(d, Sacl), "SACL", sd.sacl, sd.problems);
  sd.dacl.present = (sd.control & DaclPresent) != 0;
  if (sd.dacl.present) ReadAcl(d, Le32(d, Dacl), "DACL", sd.dacl, sd.problems);
  return sd;
}

}  // namespace cellbrook
