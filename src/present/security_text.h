// Security descriptors and key node flags as text: SIDs with their
// well-known names, the descriptor as SDDL (as the system's own converter
// writes it), and the words a permissions table shows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hive/security_descriptor.h"

namespace cellbrook {

// The two-letter SDDL alias of a well-known SID ("SY", "BA" …), or null.
const char* SidAlias(const Sid& sid);
// "NT AUTHORITY\SYSTEM", "BUILTIN\Administrators" …, or "" when not well known.
std::string SidName(const Sid& sid);

// The SDDL of the descriptor: O: G: D: S: as far as they are present.
std::string SddlText(const SecurityDescriptor& sd);
// Parts of it.
std::string SddlSid(const Sid& sid);
std::string SddlRights(uint32_t mask);
std::string SddlAceFlags(uint8_t flags);
const char* SddlAceType(uint8_t type);
std::string SddlAce(const Ace& ace);

// The descriptor's control bits by name ("DACL present", "SACL auto-inherited" …).
std::vector<std::string> ControlFlagNames(uint16_t control);

// For a permissions table: "Allow", "Deny", "Audit", "Mandatory label" …
std::string AceTypeWords(uint8_t type);
// "Full control", "Read", or the rights one by one ("Query value, Set value").
std::string RightsWords(uint32_t mask);
// "This key only", "This key and subkeys", "Subkeys only" …
std::string AppliesToWords(uint8_t flags);

// The key node's flags by name ("compressed name", "hive entry" …); a bit
// without a name as 0x… hex.
std::vector<std::string> KeyFlagNames(uint16_t flags);
std::string KeyFlagsText(uint16_t flags);  // "0x0024 (hive entry, compressed name)"

}  // namespace cellbrook
