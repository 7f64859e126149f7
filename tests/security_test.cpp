// Security descriptors: every descriptor of the shared hives against the
// SDDL table, descriptors built for what the real ones lack, and damaged
// descriptors.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "hive/security_descriptor.h"
#include "present/security_text.h"
#include "descriptor_builder.h"
#include "hive_builder.h"
#include "shared_hives.h"

namespace cellbrook {
namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

struct TableRow {
  std::string hex, sddl;
};
std::vector<TableRow> SecurityTable() {
  std::vector<TableRow> rows;
  std::istringstream in(test::ExpectedFile("security", "tsv"));
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // the table has CRLF line ends
    const size_t tab = line.find('\t');
    if (tab != std::string::npos) rows.push_back({line.substr(0, tab), line.substr(tab + 1)});
  }
  return rows;
}

TEST(SecurityTable, EveryDescriptorGivesItsSddl) {
  SKIP_WITHOUT_SHARED_HIVES();
  const std::vector<TableRow> rows = SecurityTable();
  ASSERT_EQ(rows.size(), 1010u);
  size_t wrong = 0;
  for (const TableRow& row : rows) {
    const std::vector<uint8_t> bytes = FromHex(row.hex);
    const SecurityDescriptor sd = DecodeSecurityDescriptor(bytes);
    EXPECT_FALSE(sd.Damaged()) << row.hex;
    const std::string sddl = SddlText(sd);
    if (sddl != row.sddl && ++wrong <= 10) {
      ADD_FAILURE() << row.hex << "\n  got      " << sddl << "\n  expected " << row.sddl;
    }
  }
  EXPECT_EQ(wrong, 0u);
}

}  // namespace
}  // namespace cellbrook

namespace cellbrook {
namespace {

using namespace test;

constexpr uint16_t kRel = descriptor_field::SelfRelative, kDacl = descriptor_field::DaclPresent,
                   kSacl = descriptor_field::SaclPresent;

TEST(SecurityDescriptors, BuiltOnesGiveTheirSddl) {
  const Bytes guid = {0xba, 0x7a, 0x96, 0xbf, 0xe6, 0x0d, 0xd0, 0x11, 0xa2, 0x85, 0x00, 0xaa, 0x00, 0x30, 0x49, 0xe2};
  const Bytes guid2 = {0x10, 0x32, 0x54, 0x76, 0x98, 0xba, 0xdc, 0xfe, 0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
  const Bytes denyAndAllow = AclBytes(
      {AceBytes(AceAccessDenied, 0x02, 0x00000002, kEveryone), AceBytes(AceAccessAllowed, 0x12, 0x000F003F, kAdmins)});
  const Bytes objects = AclBytes({AceBytes(AceAccessAllowedObject, 0, 0x00000100, kSystem, &guid),
                                  AceBytes(AceAccessDeniedObject, 0, 0x00000010, kSystem, &guid, &guid2),
                                  AceBytes(AceAccessAllowedObject, 0, 0x00000010, kSystem, nullptr, &guid2)});
  const Bytes label = AclBytes({AceBytes(AceMandatoryLabel, 0x03, 0x1, kLow)});
  const Bytes audit = AclBytes({AceBytes(AceSystemAudit, 0xC0, 0x00010000, kEveryone)});
  const Bytes unknownRights =
      AclBytes({AceBytes(AceAccessAllowed, 0, 0x00100000, kSystem), AceBytes(AceAccessAllowed, 0, 0x101FFFFF, kSystem),
                AceBytes(AceAccessAllowed, 0, 0x00020039, kSystem), AceBytes(AceAccessAllowed, 0, 0xA0000000, kSystem),
                AceBytes(AceAccessAllowed, 0, 0x00120089, kSystem)});
  const Bytes empty = AclBytes({});
  const Bytes domainOwner = kDomainUser;
  const struct {
    const char* what;
    DescriptorParts parts;
    const char* sddl;
  } cases[] = {
      {"deny before allow",
       {kRel | kDacl, &kSystem, &kAdmins, &denyAndAllow},
       "O:SYG:BAD:(D;CI;DC;;;WD)(A;CIID;KA;;;BA)"},
      {"object ACEs with their GUIDs",
       {kRel | kDacl, &kSystem, &kSystem, &objects},
       "O:SYG:SYD:(OA;;CR;bf967aba-0de6-11d0-a285-00aa003049e2;;SY)"
       "(OD;;RP;bf967aba-0de6-11d0-a285-00aa003049e2;76543210-ba98-fedc-0123-456789abcdef;SY)"
       "(OA;;RP;;76543210-ba98-fedc-0123-456789abcdef;SY)"},
      {"a mandatory label in the SACL",
       {kRel | kDacl | kSacl, &kSystem, &kSystem, &empty, &label},
       "O:SYG:SYD:S:(;OICI;CC;;;LW)"},
      {"audit flags", {kRel | kSacl, &kSystem, &kSystem, nullptr, &audit}, "O:SYG:SYS:(AU;SAFA;SD;;;WD)"},
      {"rights without a code, and combinations",
       {kRel | kDacl, &kSystem, &kSystem, &unknownRights},
       "O:SYG:SYD:(A;;0x100000;;;SY)(A;;0x101fffff;;;SY)(A;;CCSWRPWPRC;;;SY)(A;;GXGR;;;SY)(A;;FR;;;SY)"},
      {"an empty DACL", {kRel | kDacl, &kSystem, &kSystem, &empty}, "O:SYG:SYD:"},
      {"a null DACL", {kRel | kDacl, &kSystem, &kSystem, nullptr}, "O:SYG:SYD:NO_ACCESS_CONTROL"},
      {"no DACL at all", {kRel, &kSystem, &kSystem, nullptr}, "O:SYG:SY"},
      {"no owner or group", {kRel | kDacl, nullptr, nullptr, &empty}, "D:"},
      {"control flags on both ACLs",
       {kRel | kDacl | kSacl | descriptor_field::DaclProtected | descriptor_field::DaclAutoInherited |
            descriptor_field::DaclAutoInheritReq,
        &domainOwner, &kSystem, &empty, &empty},
       "O:S-1-5-21-1-2-3-1001G:SYD:PARAIS:PARAI"},
  };
  for (const auto& c : cases) {
    const SecurityDescriptor sd = DecodeSecurityDescriptor(DescriptorBytes(c.parts));
    EXPECT_FALSE(sd.Damaged()) << c.what << ": " << (sd.problems.empty() ? "" : sd.problems[0]);
    EXPECT_EQ(SddlText(sd), c.sddl) << c.what;
  }
}

TEST(SecurityDescriptors, SidsTextsAndNames) {
  const struct {
    Bytes sid;
    const char* text;
    const char* alias;
    const char* name;
  } cases[] = {
      {kSystem, "S-1-5-18", "SY", "NT AUTHORITY\\SYSTEM"},
      {kAdmins, "S-1-5-32-544", "BA", "BUILTIN\\Administrators"},
      {kEveryone, "S-1-1-0", "WD", "Everyone"},
      {SidBytes(3, {0}), "S-1-3-0", "CO", "CREATOR OWNER"},
      {SidBytes(5, {11}), "S-1-5-11", "AU", "NT AUTHORITY\\Authenticated Users"},
      {SidBytes(15, {2, 1}), "S-1-15-2-1", "AC", "APPLICATION PACKAGE AUTHORITY\\ALL APPLICATION PACKAGES"},
      {kLow, "S-1-16-4096", "LW", "Mandatory Label\\Low Mandatory Level"},
      {kDomainUser, "S-1-5-21-1-2-3-1001", nullptr, ""},
      {SidBytes(0x123456789ABCull, {7}), "S-1-0x123456789ABC-7", nullptr, ""},
      {SidBytes(5, {}), "S-1-5", nullptr, ""},
  };
  for (const auto& c : cases) {
    size_t used = 0;
    const std::optional<Sid> sid = ReadSid(c.sid, used);
    ASSERT_TRUE(sid) << c.text;
    EXPECT_EQ(used, c.sid.size());
    EXPECT_EQ(SidText(*sid), c.text);
    EXPECT_STREQ(SidAlias(*sid), c.alias) << c.text;
    EXPECT_EQ(SidName(*sid), c.name);
    EXPECT_EQ(SddlSid(*sid), c.alias ? c.alias : c.text);
  }
  size_t used = 0;
  Bytes tooMany = SidBytes(5, {1, 2});
  tooMany[1] = 16;  // more sub-authorities than a SID may have
  EXPECT_FALSE(ReadSid(tooMany, used));
  Bytes cut = kAdmins;
  cut.pop_back();
  EXPECT_FALSE(ReadSid(cut, used));
}

TEST(SecurityDescriptors, DamageIsReportedAndWhatFitsKept) {
  const Bytes dacl = AclBytes(
      {AceBytes(AceAccessAllowed, 0, 0x000F003F, kSystem), AceBytes(AceAccessAllowed, 0, 0x00020019, kAdmins)});
  DescriptorParts parts{kRel | kDacl, &kSystem, &kAdmins, &dacl};
  const Bytes good = DescriptorBytes(parts);
  const size_t daclAt = descriptor_field::HeaderSize;
  const struct {
    const char* what;
    std::function<void(Bytes&)> spoil;
    size_t acesKept;
    const char* problem;  // a word the report holds
  } cases[] = {
      {"ACE count lying", [&](Bytes& b) { Put16(b, daclAt + acl_field::Count, 40); }, 2, "claims 40 ACEs"},
      {"ACL size past the descriptor", [&](Bytes& b) { Put16(b, daclAt + acl_field::Size, 0xFFF0); }, 2, "runs past"},
      {"ACL outside", [&](Bytes& b) { Put32(b, descriptor_field::Dacl, 0x7FFFFFF0); }, 0, "outside"},
      {"owner outside", [&](Bytes& b) { Put32(b, descriptor_field::Owner, 0xFFFFFFF0); }, 2, "owner"},
      {"ACE size zero", [&](Bytes& b) { Put16(b, daclAt + acl_field::HeaderSize + 2, 0); }, 0, "does not fit"},
      {"ACE SID cut", [&](Bytes& b) { b[daclAt + acl_field::HeaderSize + 9] = 15; }, 2, "SID"},
      {"header cut", [&](Bytes& b) { b.resize(10); }, 0, "shorter"},
  };
  for (const auto& c : cases) {
    Bytes bytes = good;
    c.spoil(bytes);
    const SecurityDescriptor sd = DecodeSecurityDescriptor(bytes);
    ASSERT_TRUE(sd.Damaged()) << c.what;
    EXPECT_NE(sd.problems[0].find(c.problem), std::string::npos) << c.what << ": " << sd.problems[0];
    EXPECT_EQ(sd.dacl.aces.size(), c.acesKept) << c.what;
    SddlText(sd);  // whatever was kept still prints
  }
}

TEST(SecurityDescriptors, EveryTruncationIsBounded) {
  // Each prefix of a descriptor decodes without reading past it.
  const Bytes guid(16, 0xAB);
  const Bytes acl = AclBytes(
      {AceBytes(AceAccessAllowedObject, 0, 1, kSystem, &guid, &guid), AceBytes(AceMandatoryLabel, 0, 1, kLow)});
  const Bytes whole = DescriptorBytes({kRel | kDacl | kSacl, &kSystem, &kAdmins, &acl, &acl});
  for (size_t n = 0; n <= whole.size(); ++n) {
    const Bytes prefix(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(n));
    const SecurityDescriptor sd = DecodeSecurityDescriptor(prefix);
    EXPECT_EQ(sd.Damaged(), n < whole.size()) << n;
  }
}

TEST(SecurityText, RightsWordsFlagsAndAppliesTo) {
  EXPECT_EQ(RightsWords(0x000F003F), "Full control");
  EXPECT_EQ(RightsWords(0x00020019), "Read");
  EXPECT_EQ(RightsWords(0x00000003), "Query value, Set value");
  EXPECT_EQ(RightsWords(0x00000401), "Query value, other 0x00000400");
  EXPECT_EQ(AppliesToWords(0), "This key only");
  EXPECT_EQ(AppliesToWords(ace_flag::ContainerInherit), "This key and subkeys");
  EXPECT_EQ(AppliesToWords(ace_flag::ContainerInherit | ace_flag::InheritOnly), "Subkeys only");
  EXPECT_EQ(AceTypeWords(AceAccessDenied), "Deny");
  EXPECT_EQ(AceTypeWords(0x7F), "Type 0x7f");
  EXPECT_EQ(KeyFlagsText(0x0024), "0x0024 (hive entry, compressed name)");
  EXPECT_EQ(KeyFlagsText(0x0000), "0x0000");
  EXPECT_EQ(KeyFlagsText(0x83FF),
            "0x83ff (volatile, hive exit, hive entry, no delete, symbolic link, compressed name, "
            "predefined handle, virtual mirrored, virtual target, virtual store, 0x8000)");
  const std::vector<std::string> control = ControlFlagNames(0x8C14);
  EXPECT_EQ(control, (std::vector<std::string>{"DACL present", "SACL present", "DACL auto-inherited",
                                               "SACL auto-inherited", "self-relative"}));
}

}  // namespace
}  // namespace cellbrook
