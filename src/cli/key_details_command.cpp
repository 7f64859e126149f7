// key and keys --details: one key's details, or every key's below one.
#include <nlohmann/json.hpp>
#include <optional>
#include <unordered_map>

#include "cli/commands.h"
#include "hive/filetime.h"
#include "hive/text_codec.h"
#include "hive/hex_text.h"
#include "present/key_details.h"
#include "present/security_text.h"

namespace cellbrook {
namespace {

using Json = nlohmann::ordered_json;

Json OptionalText(const std::string& text, bool present) { return present ? Json(text) : Json(nullptr); }

Json AceJson(const Ace& ace, const char* acl) {
  Json j{{"acl", acl},
         {"type", AceTypeWords(ace.type)},
         {"type_code", ace.type},
         {"flags", ace.flags},
         {"flag_codes", SddlAceFlags(ace.flags)},
         {"inherited", (ace.flags & ace_flag::Inherited) != 0},
         {"mask", Hex32Text(ace.mask)},
         {"rights", SddlRights(ace.mask)},
         {"rights_words", RightsWords(ace.mask)},
         {"applies_to", AppliesToWords(ace.flags)}};
  j["sid"] = ace.sid ? Json(SidText(*ace.sid)) : Json(nullptr);
  j["sid_name"] = ace.sid ? Json(SidName(*ace.sid)) : Json(nullptr);
  j["object_type"] = ace.objectType ? Json(GuidText(*ace.objectType)) : Json(nullptr);
  j["inherited_object_type"] = ace.inheritedObjectType ? Json(GuidText(*ace.inheritedObjectType)) : Json(nullptr);
  return j;
}

// The security fields of a key's JSON record, "owner" through
// "security_references", without braces: made once per security cell.
std::string SecurityJsonFields(const SecuritySummary& s, uint32_t cell) {
  const bool whole = s.cell.state == ReadState::Ok && !s.descriptor.Damaged();
  Json j;
  j["owner"] = OptionalText(s.owner, !s.owner.empty());
  j["group"] = OptionalText(s.group, !s.group.empty());
  j["owner_name"] = OptionalText(s.ownerName, !s.owner.empty());
  j["group_name"] = OptionalText(s.groupName, !s.group.empty());
  j["sddl"] = OptionalText(s.sddl, whole);
  j["security_descriptor"] = OptionalText(HexText(s.cell.descriptor), s.cell.state == ReadState::Ok);
  j["security_cell"] = cell == kNoCell ? Json(nullptr) : Json(Hex32Text(cell));
  Json aces = Json::array();
  for (const Ace& ace : s.descriptor.dacl.aces) aces.push_back(AceJson(ace, "dacl"));
  for (const Ace& ace : s.descriptor.sacl.aces) aces.push_back(AceJson(ace, "sacl"));
  j["aces"] = std::move(aces);
  j["security_references"] = s.cell.state == ReadState::Ok ? Json(s.cell.referenceCount) : Json(nullptr);
  std::string text = j.dump(-1, ' ', false, Json::error_handler_t::replace);
  return text.substr(1, text.size() - 2);
}

class KeyDetailsRun {
 public:
  explicit KeyDetailsRun(CliSession& session) : session_(session), cache_(session.Image()) {}

  int OneKey(const std::string& keyPath, bool json) {
    const std::optional<FoundKey> found = session_.FindKey(keyPath);
    if (!found) return kExitNotFound;
    const KeyDetails d = ReadKeyDetails(session_.Image(), found->key, found->shownPath, cache_);
    Count(d);
    if (json) {
      PrintLine(JsonRecord(d));
    } else {
      PrintText(d);
    }
    return Finish("everything readable was shown");
  }

  int Listing(const std::string& keyPath, bool json) {
    const std::optional<FoundKey> found = session_.FindKey(keyPath);
    if (!found) return kExitNotFound;
    struct Lister {
      KeyDetailsRun& run;
      bool json;
      std::vector<std::string> paths;
      bool Enter(const KeyInfo& key, uint32_t depth) {
        if (depth == 0) return true;
        paths.resize(depth);
        paths.push_back(paths[depth - 1] + '\\' + EscapeKeyName(KeyNameString(key)));
        const KeyDetails d = ReadKeyDetails(run.session_.Image(), key, paths.back(), run.cache_);
        run.Count(d);
        if (json) {
          run.PrintLine(run.JsonRecord(d));
        } else {
          const std::string className = d.className.state == ReadState::Ok ? EscapeLineText(d.className.Text()) : "";
          // A damaged descriptor's SDDL would read as whole here: left empty, as in JSON.
          const std::string sddl = d.SecurityDamaged() ? std::string() : d.security->sddl;
          run.PrintLine(d.path + '\t' + className + '\t' + d.security->owner + '\t' + sddl);
        }
        return true;
      }
      void Leave(const KeyInfo&, uint32_t) {}
      void Missing(uint32_t) {}
    } lister{*this, json, {found->shownPath}};
    if (!session_.WalkBelow(*found, lister, damage_)) return kExitFailed;
    return Finish("everything readable was listed");
  }

 private:
  void Count(const KeyDetails& d) {
    if (d.ClassNameDamaged()) damage_.Add(DamageKind::ClassNames, 1, [&] { return d.path; });
    if (d.SecurityDamaged()) damage_.Add(DamageKind::SecurityCells, 1, [&] { return d.path; });
  }

  int Finish(std::string_view done) { return session_.Finish(damage_, done); }
  void PrintLine(std::string_view line) { session_.PrintLine(line); }

  const std::string& SecurityFields(const KeyDetails& d) {
    std::string& fields = securityJson_[d.securityCell];
    if (fields.empty()) fields = SecurityJsonFields(*d.security, d.securityCell);
    return fields;
  }

  // Written by hand: the listing prints one record a key, and the shared
  // security fields come from SecurityFields.
  std::string JsonRecord(const KeyDetails& d) {
    std::string text = "{\"path\":";
    AppendJsonString(text, d.path);
    text += ",\"name\":";
    AppendJsonString(text, KeyNameString(d.key));
    text += ",\"last_written\":\"" + FormatFileTime(d.key.LastWritten) + "\",\"cell\":\"" + Hex32Text(d.key.Ref.cell) +
            "\",\"flags\":" + std::to_string(d.key.Flags) + ",\"flag_names\":";
    std::string& names = flagNames_[d.key.Flags];
    if (names.empty()) names = Json(KeyFlagNames(d.key.Flags)).dump();
    text += names;
    text += ",\"class_name\":";
    if (d.className.state == ReadState::Ok) {
      AppendJsonString(text, d.className.Text());
    } else {
      text += "null";
    }
    text += ",\"subkeys\":" + std::to_string(d.key.SubkeyCount) +
            ",\"volatile_subkeys\":" + std::to_string(d.volatileSubkeys) +
            ",\"values\":" + std::to_string(d.key.ValueCount) + ',';
    text += SecurityFields(d);
    const std::vector<std::string> problems = d.Problems();
    if (!problems.empty()) text += ",\"damage\":" + Json(problems).dump(-1, ' ', false, Json::error_handler_t::replace);
    text += '}';
    return text;
  }

  static void AppendJsonString(std::string& out, const std::string& text) {
    for (unsigned char c : text) {
      if (c < 0x20 || c >= 0x80 || c == '"' || c == '\\') {
        out += Json(text).dump(-1, ' ', false, Json::error_handler_t::replace);
        return;
      }
    }
    out += '"';
    out += text;
    out += '"';
  }

  void PrintText(const KeyDetails& d) {
    const SecuritySummary& s = *d.security;
    auto line = [this](const char* label, const std::string& value) {
      PrintLine(std::string(label) + '\t' + EscapeLineText(value));
    };
    line("Path", d.path);
    line("Name", KeyNameString(d.key));
    line("Last written", FormatFileTime(d.key.LastWritten));
    line("Cell", Hex32Text(d.key.Ref.cell));
    line("Flags", KeyFlagsText(d.key.Flags));
    switch (d.className.state) {
      case ReadState::Empty:
        line("Class name", "(none)");
        break;
      case ReadState::Ok:
        line("Class name", d.className.Text());
        break;
      case ReadState::Damaged:
        line("Class name", "(unreadable: " + d.className.problem + ")");
        break;
    }
    line("Subkeys", std::to_string(d.key.SubkeyCount));
    line("Volatile subkeys", std::to_string(d.volatileSubkeys));
    line("Values", std::to_string(d.key.ValueCount));
    line("Owner", s.owner.empty() ? "(none)" : SidWithName(s.owner, s.ownerName));
    line("Group", s.group.empty() ? "(none)" : SidWithName(s.group, s.groupName));
    line("SDDL", s.sddl);
    if (d.securityCell == kNoCell) {
      line("Security cell", "(none)");
    } else if (s.cell.state == ReadState::Ok) {
      line("Security cell", Hex32Text(d.securityCell) + " (shared by " + std::to_string(s.cell.referenceCount) +
                                (s.cell.referenceCount == 1 ? " key)" : " keys)"));
    } else {
      line("Security cell", Hex32Text(d.securityCell));
    }
    auto permissions = [&](const Acl& acl, const char* label) {
      for (const Ace& ace : acl.aces) {
        const std::string who = ace.sid ? SidWithName(SidText(*ace.sid), SidName(*ace.sid)) : "(unreadable SID)";
        // Label, then allow or deny, who, rights, applies to, inherited: each field escaped.
        PrintLine(std::string(label) + '\t' + AceTypeWords(ace.type) + '\t' + EscapeLineText(who) + '\t' +
                  RightsWords(ace.mask) + '\t' + AppliesToWords(ace.flags) +
                  ((ace.flags & ace_flag::Inherited) ? "\tinherited" : "\t"));
      }
    };
    permissions(s.descriptor.dacl, "Permission");
    permissions(s.descriptor.sacl, "Audit or label");
    for (const std::string& problem : d.Problems()) line("Damage", problem);
  }

  CliSession& session_;
  SecurityCache cache_;
  DamageReport damage_;
  std::unordered_map<uint32_t, std::string> securityJson_;
  std::unordered_map<uint16_t, std::string> flagNames_;
};

}  // namespace

int RunKeyDetailsCommand(const CommandCall& call, CliSession& session) {
  if (!session.Load(call.words[0])) return kExitUnreadable;
  return KeyDetailsRun(session).OneKey(call.words[1], call.Flag("--json"));
}

int RunKeyDetailsListingCommand(const CommandCall& call, CliSession& session) {
  if (!session.Load(call.words[0])) return kExitUnreadable;
  return KeyDetailsRun(session).Listing(call.Word(1, "ROOT"), call.Flag("--json"));
}

}  // namespace cellbrook
