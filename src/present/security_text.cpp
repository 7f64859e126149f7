#include "present/security_text.h"

#include <cstdio>
#include <string_view>
#include <unordered_map>

#include "hive/hive_reader.h"

namespace cellbrook {
namespace {

struct WellKnown {
  const char* sid;
  const char* alias;  // null: no SDDL alias
  const char* name;
};

// Absolute well-known SIDs only: a domain-relative one (…-500, …-513) is
// written whole, as the converter does for a domain not its own.
constexpr WellKnown kWellKnown[] = {
    {"S-1-0-0", nullptr, "NULL SID"},
    {"S-1-1-0", "WD", "Everyone"},
    {"S-1-2-0", nullptr, "LOCAL"},
    {"S-1-2-1", nullptr, "CONSOLE LOGON"},
    {"S-1-3-0", "CO", "CREATOR OWNER"},
    {"S-1-3-1", "CG", "CREATOR GROUP"},
    {"S-1-3-2", nullptr, "CREATOR OWNER SERVER"},
    {"S-1-3-3", nullptr, "CREATOR GROUP SERVER"},
    {"S-1-3-4", "OW", "OWNER RIGHTS"},
    {"S-1-5-1", nullptr, "NT AUTHORITY\\DIALUP"},
    {"S-1-5-2", "NU", "NT AUTHORITY\\NETWORK"},
    {"S-1-5-3", nullptr, "NT AUTHORITY\\BATCH"},
    {"S-1-5-4", "IU", "NT AUTHORITY\\INTERACTIVE"},
    {"S-1-5-6", "SU", "NT AUTHORITY\\SERVICE"},
    {"S-1-5-7", "AN", "NT AUTHORITY\\ANONYMOUS LOGON"},
    {"S-1-5-8", nullptr, "NT AUTHORITY\\PROXY"},
    {"S-1-5-9", "ED", "NT AUTHORITY\\ENTERPRISE DOMAIN CONTROLLERS"},
    {"S-1-5-10", "PS", "NT AUTHORITY\\SELF"},
    {"S-1-5-11", "AU", "NT AUTHORITY\\Authenticated Users"},
    {"S-1-5-12", "RC", "NT AUTHORITY\\RESTRICTED"},
    {"S-1-5-13", nullptr, "NT AUTHORITY\\TERMINAL SERVER USER"},
    {"S-1-5-14", nullptr, "NT AUTHORITY\\REMOTE INTERACTIVE LOGON"},
    {"S-1-5-15", nullptr, "NT AUTHORITY\\This Organization"},
    {"S-1-5-17", nullptr, "NT AUTHORITY\\IUSR"},
    {"S-1-5-18", "SY", "NT AUTHORITY\\SYSTEM"},
    {"S-1-5-19", "LS", "NT AUTHORITY\\LOCAL SERVICE"},
    {"S-1-5-20", "NS", "NT AUTHORITY\\NETWORK SERVICE"},
    {"S-1-5-32-544", "BA", "BUILTIN\\Administrators"},
    {"S-1-5-32-545", "BU", "BUILTIN\\Users"},
    {"S-1-5-32-546", "BG", "BUILTIN\\Guests"},
    {"S-1-5-32-547", "PU", "BUILTIN\\Power Users"},
    {"S-1-5-32-548", "AO", "BUILTIN\\Account Operators"},
    {"S-1-5-32-549", "SO", "BUILTIN\\Server Operators"},
    {"S-1-5-32-550", "PO", "BUILTIN\\Print Operators"},
    {"S-1-5-32-551", "BO", "BUILTIN\\Backup Operators"},
    {"S-1-5-32-552", "RE", "BUILTIN\\Replicator"},
    {"S-1-5-32-554", "RU", "BUILTIN\\Pre-Windows 2000 Compatible Access"},
    {"S-1-5-32-555", "RD", "BUILTIN\\Remote Desktop Users"},
    {"S-1-5-32-556", "NO", "BUILTIN\\Network Configuration Operators"},
    {"S-1-5-32-558", "MU", "BUILTIN\\Performance Monitor Users"},
    {"S-1-5-32-559", "LU", "BUILTIN\\Performance Log Users"},
    {"S-1-5-32-562", nullptr, "BUILTIN\\Distributed COM Users"},
    {"S-1-5-32-568", "IS", "BUILTIN\\IIS_IUSRS"},
    {"S-1-5-32-569", nullptr, "BUILTIN\\Cryptographic Operators"},  // the converter has no alias
    {"S-1-5-32-573", "ER", "BUILTIN\\Event Log Readers"},
    {"S-1-5-32-574", "CD", "BUILTIN\\Certificate Service DCOM Access"},
    {"S-1-5-32-575", "RA", "BUILTIN\\RDS Remote Access Servers"},
    {"S-1-5-32-576", "ES", "BUILTIN\\RDS Endpoint Servers"},
    {"S-1-5-32-577", "MS", "BUILTIN\\RDS Management Servers"},
    {"S-1-5-32-578", "HA", "BUILTIN\\Hyper-V Administrators"},
    {"S-1-5-32-579", "AA", "BUILTIN\\Access Control Assistance Operators"},
    {"S-1-5-32-580", "RM", "BUILTIN\\Remote Management Users"},
    {"S-1-5-33", "WR", "NT AUTHORITY\\WRITE RESTRICTED"},
    {"S-1-5-64-10", nullptr, "NT AUTHORITY\\NTLM Authentication"},
    {"S-1-5-80-0", nullptr, "NT SERVICE\\ALL SERVICES"},
    {"S-1-5-84-0-0-0-0-0", "UD", "NT AUTHORITY\\USER MODE DRIVERS"},
    {"S-1-5-113", nullptr, "NT AUTHORITY\\Local account"},
    {"S-1-5-114", nullptr, "NT AUTHORITY\\Local account and member of Administrators group"},
    {"S-1-15-2-1", "AC", "APPLICATION PACKAGE AUTHORITY\\ALL APPLICATION PACKAGES"},
    {"S-1-15-2-2", nullptr, "APPLICATION PACKAGE AUTHORITY\\ALL RESTRICTED APPLICATION PACKAGES"},
    {"S-1-16-0", nullptr, "Mandatory Label\\Untrusted Mandatory Level"},
    {"S-1-16-4096", "LW", "Mandatory Label\\Low Mandatory Level"},
    {"S-1-16-8192", "ME", "Mandatory Label\\Medium Mandatory Level"},
    {"S-1-16-8448", "MP", "Mandatory Label\\Medium Plus Mandatory Level"},
    {"S-1-16-12288", "HI", "Mandatory Label\\High Mandatory Level"},
    {"S-1-16-16384", "SI", "Mandatory Label\\System Mandatory Level"},
    {"S-1-16-20480", nullptr, "Mandatory Label\\Protected Process Mandatory Level"},
    {"S-1-18-1", nullptr, "Authentication authority asserted identity"},
    {"S-1-18-2", nullptr, "Service asserted identity"},
};

const WellKnown* Lookup(const Sid& sid) {
  static const auto* const kByText = [] {
    auto* map = new std::unordered_map<std::string, const WellKnown*>;
    for (const WellKnown& w : kWellKnown) (*map)[w.sid] = &w;
    return map;
  }();
  if (sid.revision != 1 || sid.subAuthorities.size() > 6) return nullptr;
  const auto it = kByText->find(SidText(sid));
  return it == kByText->end() ? nullptr : it->second;
}

struct Code {
  uint32_t bits;
  const char* code;
};
// A mask equal to one of these is written as that code alone.
constexpr Code kWholeRights[] = {
    {0x10000000, "GA"}, {0x20000000, "GX"}, {0x40000000, "GW"}, {0x80000000, "GR"},
    {0x000F003F, "KA"}, {0x00020019, "KR"}, {0x00020006, "KW"}, {0x001F01FF, "FA"},
    {0x00120089, "FR"}, {0x00120116, "FW"}, {0x001200A0, "FX"},
};
// Otherwise each bit by its code, low bit first.
constexpr Code kRightBits[] = {
    {0x00000001, "CC"}, {0x00000002, "DC"}, {0x00000004, "LC"}, {0x00000008, "SW"}, {0x00000010, "RP"},
    {0x00000020, "WP"}, {0x00000040, "DT"}, {0x00000080, "LO"}, {0x00000100, "CR"}, {0x00010000, "SD"},
    {0x00020000, "RC"}, {0x00040000, "WD"}, {0x00080000, "WO"}, {0x10000000, "GA"}, {0x20000000, "GX"},
    {0x40000000, "GW"}, {0x80000000, "GR"},
};
constexpr Code kAceFlags[] = {
    {ace_flag::ObjectInherit, "OI"}, {ace_flag::ContainerInherit, "CI"}, {ace_flag::NoPropagate, "NP"},
    {ace_flag::InheritOnly, "IO"},   {ace_flag::Inherited, "ID"},        {ace_flag::SuccessfulAccess, "SA"},
    {ace_flag::FailedAccess, "FA"},
};

struct Word {
  uint32_t bits;
  const char* words;
};
constexpr Word kRightWords[] = {
    {0x00000001, "Query value"},     {0x00000002, "Set value"},
    {0x00000004, "Create subkey"},   {0x00000008, "Enumerate subkeys"},
    {0x00000010, "Notify"},          {0x00000020, "Create link"},
    {0x00000100, "64-bit view"},     {0x00000200, "32-bit view"},
    {0x00010000, "Delete"},          {0x00020000, "Read control"},
    {0x00040000, "Write DAC"},       {0x00080000, "Write owner"},
    {0x00100000, "Synchronize"},     {0x01000000, "Access system security"},
    {0x02000000, "Maximum allowed"}, {0x10000000, "Generic all"},
    {0x20000000, "Generic execute"}, {0x40000000, "Generic write"},
    {0x80000000, "Generic read"},
};

std::string Hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*x", digits, value);
  return text;
}

// `nullText`: what a present but null ACL is written as.
std::string AclText(const Acl& acl, uint16_t control, const char* nullText) {
  using namespace descriptor_field;
  std::string text;
  if (control & DaclProtected) text += "P";
  if (control & DaclAutoInheritReq) text += "AR";
  if (control & DaclAutoInherited) text += "AI";
  if (acl.null) return text + nullText;
  for (const Ace& ace : acl.aces) text += SddlAce(ace);
  return text;
}

}  // namespace

const char* SidAlias(const Sid& sid) {
  const WellKnown* w = Lookup(sid);
  return w ? w->alias : nullptr;
}

std::string SidName(const Sid& sid) {
  const WellKnown* w = Lookup(sid);
  return w ? w->name : "";
}

std::string SddlSid(const Sid& sid) {
  const char* alias = SidAlias(sid);
  return alias ? alias : SidText(sid);
}

std::string SddlRights(uint32_t mask) {
  for (const Code& c : kWholeRights) {
    if (mask == c.bits) return c.code;
  }
  std::string text;
  uint32_t named = 0;
  for (const Code& c : kRightBits) {
    if (mask & c.bits) {
      text += c.code;
      named |= c.bits;
    }
  }
  if (named != mask) return Hex(mask, 0);
  return text;
}

std::string SddlAceFlags(uint8_t flags) {
  std::string text;
  for (const Code& c : kAceFlags) {
    if (flags & c.bits) text += c.code;
  }
  return text;
}

const char* SddlAceType(uint8_t type) {
  // The converter has codes for these; a type it has none for (a mandatory
  // label among them) it writes as an empty field.
  static const char* const kCodes[] = {"A", "D", "AU", "AL", "", "OA", "OD", "OU", "OL", "XA", "XD", "ZA", "", "XU"};
  return type < std::size(kCodes) ? kCodes[type] : "";
}

std::string SddlAce(const Ace& ace) {
  std::string text = "(";
  text += SddlAceType(ace.type);
  text += ';';
  text += SddlAceFlags(ace.flags);
  text += ';';
  text += SddlRights(ace.mask);
  text += ';';
  if (ace.objectType) text += GuidText(*ace.objectType);
  text += ';';
  if (ace.inheritedObjectType) text += GuidText(*ace.inheritedObjectType);
  text += ';';
  if (ace.sid) text += SddlSid(*ace.sid);
  text += ')';
  return text;
}

std::string SddlText(const SecurityDescriptor& sd) {
  using namespace descriptor_field;
  std::string text;
  if (sd.owner) text += "O:" + SddlSid(*sd.owner);
  if (sd.group) text += "G:" + SddlSid(*sd.group);
  // The converter writes the SACL's P, AR and AI from the DACL's control
  // bits, and a null SACL as nothing; the SACL's own bits are named by
  // ControlFlagNames.
  if (sd.dacl.present) text += "D:" + AclText(sd.dacl, sd.control, "NO_ACCESS_CONTROL");
  if (sd.sacl.present) text += "S:" + AclText(sd.sacl, sd.control, "");
  return text;
}

std::string AceTypeWords(uint8_t type) {
  switch (type) {
    case AceAccessAllowed:
      return "Allow";
    case AceAccessDenied:
      return "Deny";
    case AceSystemAudit:
      return "Audit";
    case AceSystemAlarm:
      return "Alarm";
    case AceAccessAllowedObject:
      return "Allow (object)";
    case AceAccessDeniedObject:
      return "Deny (object)";
    case AceSystemAuditObject:
      return "Audit (object)";
    case AceSystemAlarmObject:
      return "Alarm (object)";
    case AceAccessAllowedCallback:
      return "Allow (conditional)";
    case AceAccessDeniedCallback:
      return "Deny (conditional)";
    case AceAccessAllowedCallbackObject:
      return "Allow (conditional, object)";
    case AceAccessDeniedCallbackObject:
      return "Deny (conditional, object)";
    case AceSystemAuditCallback:
      return "Audit (conditional)";
    case AceMandatoryLabel:
      return "Mandatory label";
    case AceResourceAttribute:
      return "Resource attribute";
    case AceScopedPolicyId:
      return "Scoped policy";
    case AceProcessTrustLabel:
      return "Process trust label";
    case AceAccessFilter:
      return "Access filter";
    default:
      return "Type " + Hex(type, 2);
  }
}

std::string RightsWords(uint32_t mask) {
  if (mask == 0x000F003F) return "Full control";
  if (mask == 0x00020019) return "Read";
  if (mask == 0x00020006) return "Write";
  std::string text;
  uint32_t named = 0;
  for (const Word& w : kRightWords) {
    if (!(mask & w.bits)) continue;
    if (!text.empty()) text += ", ";
    text += w.words;
    named |= w.bits;
  }
  if (named != mask) {
    if (!text.empty()) text += ", ";
    text += "other " + Hex(mask & ~named, 8);
  }
  return text.empty() ? "None" : text;
}

std::string AppliesToWords(uint8_t flags) {
  const bool subkeys = flags & ace_flag::ContainerInherit;
  const bool only = flags & ace_flag::InheritOnly;
  std::string text = !subkeys ? (only ? "Nothing (inherit only, no subkeys)" : "This key only")
                     : only   ? "Subkeys only"
                              : "This key and subkeys";
  if (subkeys && (flags & ace_flag::NoPropagate)) text += " (one level)";
  return text;
}

std::vector<std::string> ControlFlagNames(uint16_t control) {
  using namespace descriptor_field;
  static constexpr Word kNames[] = {
      {OwnerDefaulted, "owner defaulted"},
      {GroupDefaulted, "group defaulted"},
      {DaclPresent, "DACL present"},
      {DaclDefaulted, "DACL defaulted"},
      {SaclPresent, "SACL present"},
      {SaclDefaulted, "SACL defaulted"},
      {DaclAutoInheritReq, "DACL auto-inherit requested"},
      {SaclAutoInheritReq, "SACL auto-inherit requested"},
      {DaclAutoInherited, "DACL auto-inherited"},
      {SaclAutoInherited, "SACL auto-inherited"},
      {DaclProtected, "DACL protected"},
      {SaclProtected, "SACL protected"},
      {SelfRelative, "self-relative"},
  };
  std::vector<std::string> names;
  uint32_t named = 0;
  for (const Word& w : kNames) {
    if (control & w.bits) {
      names.push_back(w.words);
      named |= w.bits;
    }
  }
  for (uint32_t bit = 1; bit <= 0x8000; bit <<= 1) {
    if ((control & bit) && !(named & bit)) names.push_back(Hex(bit, 4));
  }
  return names;
}

std::vector<std::string> KeyFlagNames(uint16_t flags) {
  static constexpr Word kNames[] = {
      {key_field::FlagVolatile, "volatile"},
      {key_field::FlagHiveExit, "hive exit"},
      {key_field::FlagRoot, "hive entry"},
      {key_field::FlagNoDelete, "no delete"},
      {key_field::FlagSymbolicLink, "symbolic link"},
      {key_field::FlagNameLatin1, "compressed name"},
      {key_field::FlagPredefinedHandle, "predefined handle"},
      {key_field::FlagVirtualMirrored, "virtual mirrored"},
      {key_field::FlagVirtualTarget, "virtual target"},
      {key_field::FlagVirtualStore, "virtual store"},
  };
  std::vector<std::string> names;
  uint32_t named = 0;
  for (const Word& w : kNames) {
    if (flags & w.bits) {
      names.push_back(w.words);
      named |= w.bits;
    }
  }
  for (uint32_t bit = 1; bit <= 0x8000; bit <<= 1) {
    if ((flags & bit) && !(named & bit)) names.push_back(Hex(bit, 4));
  }
  return names;
}

std::string KeyFlagsText(uint16_t flags) {
  std::string text = Hex(flags, 4);
  const std::vector<std::string> names = KeyFlagNames(flags);
  for (size_t i = 0; i < names.size(); ++i) text += (i == 0 ? " (" : ", ") + names[i];
  if (!names.empty()) text += ')';
  return text;
}

}  // namespace cellbrook
