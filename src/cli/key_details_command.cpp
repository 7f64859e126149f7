#include "cli/key_details_command.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <unordered_map>

#include "hive/filetime.h"
#include "hive/key_lookup.h"
#include "hive/key_walk.h"
#include "hive/text_codec.h"
#include "present/key_details.h"
#include "present/security_text.h"
#include "recover/open_hive.h"
#include "recover/logs/recovery_text.h"

namespace cellbrook {
namespace {

constexpr int kExitOk = 0, kExitUsage = 1, kExitUnreadable = 2, kExitNotFound = 3,
              kExitFailed = 4, kExitDamaged = 5;

constexpr const char* kUsage =
    "usage: cellbrook-cli key HIVE KEYPATH [--json]\n"
    "       cellbrook-cli keys HIVE [KEYPATH] --details [--json]\n";

using Json = nlohmann::ordered_json;

std::string Hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", value);
  return text;
}

std::string HexBytes(std::span<const uint8_t> bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0xF];
  }
  return out;
}

Json OptionalText(const std::string& text, bool present) { return present ? Json(text) : Json(nullptr); }

Json AceJson(const Ace& ace, const char* acl) {
  Json j{{"acl", acl},
         {"type", AceTypeWords(ace.type)},
         {"type_code", ace.type},
         {"flags", ace.flags},
         {"flag_codes", SddlAceFlags(ace.flags)},
         {"inherited", (ace.flags & ace_flag::Inherited) != 0},
         {"mask", Hex32(ace.mask)},
         {"rights", SddlRights(ace.mask)},
         {"rights_words", RightsWords(ace.mask)},
         {"applies_to", AppliesToWords(ace.flags)}};
  j["sid"] = ace.sid ? Json(SidText(*ace.sid)) : Json(nullptr);
  j["sid_name"] = ace.sid ? Json(SidName(*ace.sid)) : Json(nullptr);
  j["object_type"] = ace.objectType ? Json(GuidText(*ace.objectType)) : Json(nullptr);
  j["inherited_object_type"] =
      ace.inheritedObjectType ? Json(GuidText(*ace.inheritedObjectType)) : Json(nullptr);
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
  j["security_descriptor"] = OptionalText(HexBytes(s.cell.descriptor), s.cell.state == ReadState::Ok);
  j["security_cell"] = cell == kNoCell ? Json(nullptr) : Json(Hex32(cell));
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
  KeyDetailsRun(std::FILE* out, std::FILE* err) : out_(out), err_(err) {}

  int Fail(int code, const std::string& message) {
    std::fprintf(err_, "%s\n", message.c_str());
    return code;
  }

  // As the other commands load: the logs of a dirty hive applied in memory.
  bool Load(const std::string& path, const LogChoice& logs) {
    const LoadOutcome outcome = OpenHiveFile(path, logs, hive_);
    if (outcome != LoadOutcome::Loaded) {
      Fail(kExitUnreadable, LoadOutcomeText(outcome));
      return false;
    }
    if (hive_.recoverable && !ApplyRecovery(hive_)) {
      std::fprintf(err_, "The transaction logs rebuilt no readable hive; the file is read as it is.\n");
      return true;
    }
    const std::string line =
        logs.use || !hive_.report.dirty
            ? RecoverySummaryLine(hive_.report)
            : "The hive is dirty and its transaction logs were not applied (--no-logs); recent "
              "changes may be missing.";
    if (!line.empty()) std::fprintf(err_, "%s\n", line.c_str());
    cache_.emplace(hive_.image);
    return true;
  }

  std::optional<FoundKey> Find(const std::string& keyPath) {
    KeyLookup lookup = FindKeyByPath(hive_.image, keyPath);
    if (!lookup.found) {
      std::string message = "Key not found: " + EscapeLineText(keyPath);
      if (lookup.damaged) {
        message += " (the hive is damaged: the subkeys of " + lookup.damagedAt +
                   " could not all be read)";
      }
      Fail(kExitNotFound, message);
    }
    return std::move(lookup.found);
  }

  int OneKey(const std::string& keyPath, bool json) {
    const std::optional<FoundKey> found = Find(keyPath);
    if (!found) return kExitNotFound;
    const KeyDetails d = ReadKeyDetails(hive_.image, found->key, found->shownPath, *cache_);
    Count(d);
    if (json) {
      PrintLine(JsonRecord(d));
    } else {
      PrintText(d);
    }
    return Finish("everything readable was shown");
  }

  int Listing(const std::string& keyPath, bool json) {
    const std::optional<FoundKey> found = Find(keyPath);
    if (!found) return kExitNotFound;
    struct Lister {
      KeyDetailsRun& run;
      bool json;
      std::vector<std::string> paths;
      bool Enter(const KeyInfo& key, uint32_t depth) {
        if (depth == 0) return true;
        paths.resize(depth);
        paths.push_back(paths[depth - 1] + '\\' + EscapeKeyName(KeyNameString(key)));
        const KeyDetails d = ReadKeyDetails(run.hive_.image, key, paths.back(), *run.cache_);
        run.Count(d);
        if (json) {
          run.PrintLine(run.JsonRecord(d));
        } else {
          const std::string className =
              d.className.state == ReadState::Ok ? EscapeLineText(d.className.Text()) : "";
          // A damaged descriptor's SDDL would read as whole here: left empty, as in JSON.
          const std::string sddl = d.SecurityDamaged() ? std::string() : d.security->sddl;
          run.PrintLine(d.path + '\t' + className + '\t' + d.security->owner + '\t' + sddl);
        }
        return true;
      }
      void Leave(const KeyInfo&, uint32_t) {}
      void Missing(uint32_t) {}
    } lister{*this, json, {found->shownPath}};
    const size_t depth = found->ancestors.size();
    const uint32_t maxDepth = depth < kMaxKeyDepth ? kMaxKeyDepth - depth : 0;
    KeyWalk walk(hive_.image, found->shownPath, maxDepth, found->ancestors);
    if (walk.Run(found->key, lister) == WalkEnd::BudgetOut) {
      std::fflush(out_);
      return Fail(kExitFailed, kBudgetOutText);
    }
    for (size_t k = 0; k < kDamageKinds; ++k) {
      const auto kind = static_cast<DamageKind>(k);
      const DamageReport& walked = walk.Damage();
      damage_.Add(kind, walked.Count(kind), [&] { return walked.FirstPath(kind); });
    }
    return Finish("everything readable was listed");
  }

 private:
  void Count(const KeyDetails& d) {
    if (d.ClassNameDamaged()) damage_.Add(DamageKind::ClassNames, 1, [&] { return d.path; });
    if (d.SecurityDamaged()) damage_.Add(DamageKind::SecurityCells, 1, [&] { return d.path; });
  }

  int Finish(std::string_view done) {
    if (std::fflush(out_) != 0) return Fail(kExitFailed, "Write failed: standard output");
    if (!damage_.Any()) return kExitOk;
    return Fail(kExitDamaged, damage_.Summary(done));
  }

  void PrintLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fputc('\n', out_);
  }

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
    text += ",\"last_written\":\"" + FormatFileTime(d.key.LastWritten) + "\",\"cell\":\"" +
            Hex32(d.key.Ref.cell) + "\",\"flags\":" + std::to_string(d.key.Flags) + ",\"flag_names\":";
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
    line("Cell", Hex32(d.key.Ref.cell));
    line("Flags", KeyFlagsText(d.key.Flags));
    switch (d.className.state) {
      case ReadState::Empty: line("Class name", "(none)"); break;
      case ReadState::Ok: line("Class name", d.className.Text()); break;
      case ReadState::Damaged: line("Class name", "(unreadable: " + d.className.problem + ")"); break;
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
      line("Security cell", Hex32(d.securityCell) + " (shared by " + std::to_string(s.cell.referenceCount) +
                                (s.cell.referenceCount == 1 ? " key)" : " keys)"));
    } else {
      line("Security cell", Hex32(d.securityCell));
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

  std::FILE* out_;
  std::FILE* err_;
  OpenedHive hive_;
  std::optional<SecurityCache> cache_;
  DamageReport damage_;
  std::unordered_map<uint32_t, std::string> securityJson_;
  std::unordered_map<uint16_t, std::string> flagNames_;
};

}  // namespace

bool IsKeyDetailsCommand(const std::vector<std::string>& args) {
  if (args.empty()) return false;
  if (args[0] == "key") return true;
  if (args[0] != "keys") return false;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--") return false;
    if (args[i] == "--details") return true;
  }
  return false;
}

int RunKeyDetailsCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  auto usage = [err](const std::string& problem) {
    std::fprintf(err, "cellbrook-cli: %s\n%s", problem.c_str(), kUsage);
    return kExitUsage;
  };
  const bool listing = args[0] == "keys";
  std::vector<std::string> words;
  LogChoice logs;
  bool json = false, optionsEnded = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (optionsEnded || arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
      words.push_back(arg);
    } else if (arg == "--json") {
      json = true;
    } else if (arg == "--details" && listing) {
    } else if (arg == "--log") {
      if (i + 1 >= args.size()) return usage("--log needs a file");
      logs.named.push_back(args[++i]);
    } else if (arg == "--no-logs") {
      logs.use = false;
    } else {
      return usage("unknown option for " + args[0] + (listing ? " --details" : "") + ": " + arg);
    }
  }
  if (!logs.use && !logs.named.empty()) return usage("--no-logs and --log exclude each other");
  const bool rightCount = listing ? (words.size() == 1 || words.size() == 2) : words.size() == 2;
  if (!rightCount) return usage("wrong number of arguments");
  KeyDetailsRun run(out, err);
  if (!run.Load(words[0], logs)) return kExitUnreadable;
  if (listing) return run.Listing(words.size() == 2 ? words[1] : "ROOT", json);
  return run.OneKey(words[1], json);
}

}  // namespace cellbrook
