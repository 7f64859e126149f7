// A self-relative security descriptor decoded: owner, group, control
// flags, DACL and SACL with their ACEs. The bytes are hostile: every offset
// and count is checked against the descriptor's own span, what does not fit
// is a problem in the result (never a read outside), and the work is linear
// in the bytes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cellbrook {

// Offsets from the start of the descriptor, and its control bits.
namespace descriptor_field {
constexpr uint32_t Revision = 0x00, Control = 0x02, Owner = 0x04, Group = 0x08, Sacl = 0x0C, Dacl = 0x10,
                   HeaderSize = 0x14;
constexpr uint16_t OwnerDefaulted = 0x0001, GroupDefaulted = 0x0002, DaclPresent = 0x0004, DaclDefaulted = 0x0008,
                   SaclPresent = 0x0010, SaclDefaulted = 0x0020, DaclAutoInheritReq = 0x0100,
                   SaclAutoInheritReq = 0x0200, DaclAutoInherited = 0x0400, SaclAutoInherited = 0x0800,
                   DaclProtected = 0x1000, SaclProtected = 0x2000, SelfRelative = 0x8000;
}  // namespace descriptor_field
// An ACL: its header, then ACEs each led by type, flags and size.
namespace acl_field {
constexpr uint32_t Revision = 0x00, Size = 0x02, Count = 0x04, HeaderSize = 0x08;
constexpr uint32_t AceType = 0x00, AceFlags = 0x01, AceSize = 0x02, AceMask = 0x04, AceSid = 0x08,
                   AceObjectFlags = 0x08, AceObjectData = 0x0C;
constexpr uint32_t ObjectTypePresent = 0x1, InheritedObjectTypePresent = 0x2;
}  // namespace acl_field

enum AceTypeCode : uint8_t {
  AceAccessAllowed = 0x00,
  AceAccessDenied = 0x01,
  AceSystemAudit = 0x02,
  AceSystemAlarm = 0x03,
  AceAccessAllowedCompound = 0x04,
  AceAccessAllowedObject = 0x05,
  AceAccessDeniedObject = 0x06,
  AceSystemAuditObject = 0x07,
  AceSystemAlarmObject = 0x08,
  AceAccessAllowedCallback = 0x09,
  AceAccessDeniedCallback = 0x0A,
  AceAccessAllowedCallbackObject = 0x0B,
  AceAccessDeniedCallbackObject = 0x0C,
  AceSystemAuditCallback = 0x0D,
  AceSystemAlarmCallback = 0x0E,
  AceSystemAuditCallbackObject = 0x0F,
  AceSystemAlarmCallbackObject = 0x10,
  AceMandatoryLabel = 0x11,
  AceResourceAttribute = 0x12,
  AceScopedPolicyId = 0x13,
  AceProcessTrustLabel = 0x14,
  AceAccessFilter = 0x15,
};
// True for the types whose body carries object flags and GUIDs.
bool IsObjectAce(uint8_t type);

namespace ace_flag {
constexpr uint8_t ObjectInherit = 0x01, ContainerInherit = 0x02, NoPropagate = 0x04, InheritOnly = 0x08,
                  Inherited = 0x10, SuccessfulAccess = 0x40, FailedAccess = 0x80;
}  // namespace ace_flag

struct Sid {
  uint8_t revision = 0;
  uint64_t authority = 0;  // 48 bits, stored big-endian
  std::vector<uint32_t> subAuthorities;
  friend bool operator==(const Sid&, const Sid&) = default;
};
// "S-1-5-21-…"; an authority of 2^32 or more as 0x… hex.
std::string SidText(const Sid& sid);
// A SID at the start of `bytes`; its length in `used`. Empty when it does
// not fit (or claims more than 15 sub-authorities).
std::optional<Sid> ReadSid(std::span<const uint8_t> bytes, size_t& used);

using Guid = std::array<uint8_t, 16>;
// "bf967aba-0de6-11d0-a285-00aa003049e2", as stored (first three fields little-endian).
std::string GuidText(const Guid& guid);

struct Ace {
  uint8_t type = 0;
  uint8_t flags = 0;
  uint16_t size = 0;
  uint32_t mask = 0;
  uint32_t objectFlags = 0;  // object ACEs only
  std::optional<Guid> objectType;
  std::optional<Guid> inheritedObjectType;
  std::optional<Sid> sid;  // empty: the SID does not fit the ACE
  uint32_t offset = 0;     // from the start of the descriptor
};

struct Acl {
  bool present = false;  // the control flag says so
  bool null = false;     // present, but no ACL (everyone has every right)
  uint8_t revision = 0;
  uint16_t size = 0;
  uint16_t count = 0;     // as the ACL header claims
  std::vector<Ace> aces;  // those that fit
};

struct SecurityDescriptor {
  uint8_t revision = 0;
  uint16_t control = 0;
  std::optional<Sid> owner, group;
  Acl dacl, sacl;
  // What could not be read, one short sentence each; empty when whole.
  std::vector<std::string> problems;
  bool Damaged() const { return !problems.empty(); }
};

SecurityDescriptor DecodeSecurityDescriptor(std::span<const uint8_t> bytes);

}  // namespace cellbrook
