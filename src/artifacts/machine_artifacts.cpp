// SOFTWARE, SAM, SECURITY, Amcache and BCD artifacts.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <unordered_map>

#include "artifacts/decoders.h"
#include "hive/text_codec.h"

namespace cellbrook {
namespace {

bool HexDigits(const std::string& s) {
  return !s.empty() &&
         std::all_of(s.begin(), s.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

// A FILETIME from two DWORD halves, when both are present.
FieldValue SplitTime(ValueSet& v, const char* high, const char* low) {
  const auto h = v.Dword(high), l = v.Dword(low);
  if (!h || !l) return NullField();
  return TimeField((static_cast<uint64_t>(*h) << 32) | *l);
}

FieldValue WithoutZeros(FieldValue v) {
  if (v.kind == FieldKind::Text && v.text.size() == 44 && v.text.compare(0, 4, "0000") == 0) v.text = v.text.substr(4);
  return v;
}

// A 16-byte SYSTEMTIME as FILETIME ticks of its wall clock; 0 when invalid.
uint64_t SystemTimeTicks(std::span<const uint8_t> b) {
  if (b.size() < 16) return 0;
  const auto t = CivilToFileTime(Le16At(b, 0), Le16At(b, 2), Le16At(b, 6), Le16At(b, 8), Le16At(b, 10), Le16At(b, 12),
                                 uint32_t{Le16At(b, 14)} * 10000u);
  return t.value_or(0);
}

}  // namespace

void DecodeOsVersion(DecodeContext& ctx) {
  const Node key = ctx.Path(ctx.Root(), "Microsoft\\Windows NT\\CurrentVersion");
  if (!key) return;
  ValueSet v = ctx.Values(key);
  ArtifactRecord& r = ctx.Add(key);
  static const std::pair<const char*, const char*> kStrings[] = {{"product_name", "ProductName"},
                                                                 {"edition_id", "EditionID"},
                                                                 {"installation_type", "InstallationType"},
                                                                 {"current_version", "CurrentVersion"},
                                                                 {"display_version", "DisplayVersion"},
                                                                 {"release_id", "ReleaseId"},
                                                                 {"build_lab", "BuildLab"},
                                                                 {"build_lab_ex", "BuildLabEx"},
                                                                 {"csd_version", "CSDVersion"},
                                                                 {"registered_owner", "RegisteredOwner"},
                                                                 {"registered_organization", "RegisteredOrganization"},
                                                                 {"product_id", "ProductId"}};
  for (const auto& [field, value] : kStrings) r.Set(field, v.String(value));
  FieldValue build = v.String("CurrentBuild");
  r.Set("current_build", build.IsNull() ? v.String("CurrentBuildNumber") : std::move(build));
  r.Set("current_major_version", v.Int("CurrentMajorVersionNumber"));
  r.Set("current_minor_version", v.Int("CurrentMinorVersionNumber"));
  r.Set("ubr", v.Int("UBR"));
  const auto installDate = v.Dword("InstallDate");
  r.Set("install_date", installDate && *installDate ? TimeField(UnixToFileTime(*installDate)) : NullField());
  const FieldValue installTime = v.Int("InstallTime", true);
  const ValueInfo* it = v.Find("InstallTime");
  r.Set("install_time",
        !installTime.IsNull() && it && it->Type == RegQword ? TimeField(installTime.number) : NullField());
  ctx.Settle(r, v);
}

void DecodeProfileList(DecodeContext& ctx) {
  ctx.EachSubkeyRecord(
      ctx.Path(ctx.Root(), "Microsoft\\Windows NT\\CurrentVersion\\ProfileList"),
      [&](const Node& profile, ValueSet& v, ArtifactRecord& r) {
        r.Set("sid", TextField(profile.name));
        r.Set("profile_path", v.String("ProfileImagePath"));
        r.Set("flags", v.Int("Flags"));
        r.Set("state", v.Int("State"));
        FieldValue load = SplitTime(v, "LocalProfileLoadTimeHigh", "LocalProfileLoadTimeLow");
        r.Set("load_time", load.IsNull() ? SplitTime(v, "ProfileLoadTimeHigh", "ProfileLoadTimeLow") : std::move(load));
        FieldValue unload = SplitTime(v, "LocalProfileUnloadTimeHigh", "LocalProfileUnloadTimeLow");
        r.Set("unload_time",
              unload.IsNull() ? SplitTime(v, "ProfileUnloadTimeHigh", "ProfileUnloadTimeLow") : std::move(unload));
      });
}

void DecodeNetworkProfiles(DecodeContext& ctx) {
  const Node list = ctx.Path(ctx.Root(), "Microsoft\\Windows NT\\CurrentVersion\\NetworkList");
  if (!list) return;
  // Signatures by the profile they name.
  struct Signature {
    std::string profile;
    FieldValue dnsSuffix, firstNetwork, mac;
  };
  std::vector<Signature> signatures;
  // GUIDs compared without ASCII case: folded once, looked up by hash.
  auto fold = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  std::unordered_map<std::string, size_t> byProfile;
  for (const char* kind : {"Signatures\\Managed", "Signatures\\Unmanaged"}) {
    for (const Node& sig : ctx.Children(ctx.Path(list, kind))) {
      ValueSet v = ctx.Values(sig);
      Signature s;
      s.profile = v.StringValue("ProfileGuid").value_or("");
      s.dnsSuffix = v.String("DnsSuffix");
      s.firstNetwork = v.String("FirstNetwork");
      if (auto mac = v.Bytes("DefaultGatewayMac"); mac && mac->size() == 6) {
        char text[20];
        std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", (*mac)[0], (*mac)[1], (*mac)[2], (*mac)[3],
                      (*mac)[4], (*mac)[5]);
        s.mac = TextField(text);
      }
      byProfile.emplace(fold(s.profile), signatures.size());
      signatures.push_back(std::move(s));
    }
  }
  ctx.EachSubkeyRecord(ctx.Child(list, "Profiles"), [&](const Node& profile, ValueSet& v, ArtifactRecord& r) {
    r.Set("profile_guid", TextField(profile.name));
    r.Set("profile_name", v.String("ProfileName"));
    r.Set("description", v.String("Description"));
    const auto managed = v.Dword("Managed");
    r.Set("managed", managed ? BoolField(*managed != 0) : NullField());
    static const char* const kCategories[] = {"public", "private", "domain"};
    const auto category = v.Dword("Category");
    r.Set("category", category && *category < 3 ? TextField(kCategories[*category]) : NullField());
    const auto nameType = v.Dword("NameType");
    const char* type = !nameType           ? nullptr
                       : *nameType == 0x06 ? "wired"
                       : *nameType == 0x17 ? "broadband"
                       : *nameType == 0x47 ? "wireless"
                                           : nullptr;
    r.Set("name_type", type ? TextField(type) : NullField());
    for (const auto& [field, value] : {std::pair{"date_created_local", "DateCreated"},
                                       std::pair{"date_last_connected_local", "DateLastConnected"}}) {
      if (auto bytes = v.Bytes(value)) {
        if (bytes->size() == 16) {
          r.Set(field, LocalTimeField(SystemTimeTicks(*bytes)));
        } else {
          r.Damage(std::string(value) + " holds " + std::to_string(bytes->size()) + " bytes, not 16");
        }
      }
    }
    if (const auto it = byProfile.find(fold(profile.name)); it != byProfile.end()) {
      const Signature& s = signatures[it->second];
      r.Set("dns_suffix", s.dnsSuffix);
      r.Set("first_network", s.firstNetwork);
      r.Set("default_gateway_mac", s.mac);
    }
  });
}

void DecodeAppPaths(DecodeContext& ctx) {
  for (const char* where : {"Microsoft\\Windows\\CurrentVersion\\App Paths",
                            "Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\App Paths"}) {
    const bool inBudget =
        ctx.EachSubkeyRecord(ctx.Path(ctx.Root(), where), [&](const Node& app, ValueSet& v, ArtifactRecord& r) {
          r.Set("application", TextField(app.name));
          r.Set("path", v.String(""));
          r.Set("app_path", v.String("Path"));
        });
    if (!inBudget) return;
  }
}

// ---- SAM

namespace {

// A string of the V record's descriptor `index`; null when it does not fit.
FieldValue VString(std::span<const uint8_t> v, size_t index, bool& broken) {
  const size_t at = index * 12;
  if (!Fits(v, at, 12)) {
    broken = true;
    return NullField();
  }
  const uint64_t offset = uint64_t{Le32At(v, at)} + 0xCC, length = Le32At(v, at + 4);
  if (length == 0) return TextField("");
  if (offset > v.size() || length > v.size() - offset) {
    broken = true;
    return NullField();
  }
  std::u16string units;
  for (size_t i = 0; i + 1 < length; i += 2) units.push_back(static_cast<char16_t>(Le16At(v, offset + i)));
  return TextField(Utf16ToUtf8String(units));
}

}  // namespace

void DecodeSamUsers(DecodeContext& ctx) {
  static const char* const kFlags[] = {"account_disabled",
                                       "home_directory_required",
                                       "password_not_required",
                                       "temp_duplicate_account",
                                       "normal_account",
                                       "mns_logon_account",
                                       "interdomain_trust_account",
                                       "workstation_trust_account",
                                       "server_trust_account",
                                       "password_does_not_expire",
                                       "account_auto_locked",
                                       "encrypted_text_password_allowed",
                                       "smartcard_required",
                                       "trusted_for_delegation",
                                       "not_delegated",
                                       "use_des_key_only",
                                       "dont_require_preauth",
                                       "password_expired",
                                       "trusted_to_authenticate_for_delegation",
                                       "no_auth_data_required",
                                       "partial_secrets_account",
                                       "use_aes_keys"};
  const Node users = ctx.Path(ctx.Root(), "SAM\\Domains\\Account\\Users");
  if (!users) return;
  // Names by RID from Names\<user>: the unnamed value's type is the RID.
  std::unordered_map<uint32_t, std::string> names;
  for (const Node& n : ctx.Children(ctx.Child(users, "Names"))) {
    ValueSet v = ctx.Values(n);
    if (const ValueInfo* d = v.Find("")) names.emplace(d->Type, n.name);
  }
  for (const Node& user : ctx.Children(users)) {
    if (ctx.Exhausted()) return;
    if (user.name.size() != 8 || !HexDigits(user.name)) continue;
    const auto rid = static_cast<uint32_t>(std::stoul(user.name, nullptr, 16));
    ValueSet v = ctx.Values(user);
    ArtifactRecord& r = ctx.Add(user);
    r.Set("rid", IntField(rid));
    bool vBroken = false;
    auto vData = v.Bytes("V");
    if (vData) {
      static const std::pair<const char*, size_t> kStrings[] = {{"user_name", 1},      {"full_name", 2},
                                                                {"comment", 3},        {"user_comment", 4},
                                                                {"home_directory", 6}, {"profile_path", 9}};
      for (const auto& [field, index] : kStrings) r.Set(field, VString(*vData, index, vBroken));
      if (vBroken) r.Damage("the V record's descriptors point outside it");
    }
    if (r.Get("user_name").IsNull()) {
      if (const auto it = names.find(rid); it != names.end()) r.Set("user_name", TextField(it->second));
    }
    auto f = v.Bytes("F");
    if (f && f->size() >= 68) {
      r.Set("last_login", TimeField(Le64At(*f, 8)));
      r.Set("password_last_set", TimeField(Le64At(*f, 24)));
      r.Set("account_expires", TimeField(Le64At(*f, 32)));
      r.Set("last_failed_login", TimeField(Le64At(*f, 40)));
      const uint32_t flags = Le32At(*f, 56);
      r.Set("account_flags", IntField(flags));
      std::vector<std::string> decoded;
      for (size_t b = 0; b < std::size(kFlags); ++b) {
        if (flags & (1u << b)) decoded.push_back(kFlags[b]);
      }
      r.Set("account_flags_decoded", ListField(std::move(decoded)));
      r.Set("failed_login_count", IntField(Le16At(*f, 64)));
      r.Set("login_count", IntField(Le16At(*f, 66)));
    } else if (f) {
      r.Damage("F record of " + std::to_string(f->size()) + " bytes (needs 68)");
    } else if (!v.Find("F")) {
      r.Damage("no F record");
    }
    ctx.Settle(r, v);
  }
}

std::string LocalSidOf(std::span<const uint8_t> v) {
  if (v.size() < 24) return {};
  const auto tail = v.subspan(v.size() - 24);
  if (tail[0] != 1 || tail[1] != 4) return {};
  return SidText(tail, 0);
}

void DecodeLocalSid(DecodeContext& ctx) {
  const Node account = ctx.Path(ctx.Root(), "SAM\\Domains\\Account");
  if (!account) return;
  ValueSet v = ctx.Values(account);
  const ValueInfo* value = v.Find("V");
  if (!value) return;
  ArtifactRecord& r = ctx.Add(account, value);
  if (auto bytes = v.Bytes("V")) {
    const std::string sid = LocalSidOf(*bytes);
    if (sid.empty()) {
      r.Damage("the V value does not end in a domain SID");
    } else {
      r.Set("sid", TextField(sid));
    }
  }
  ctx.Settle(r, v);
}

// ---- SECURITY

namespace {

// A counted UTF-16 name: u16 length, u16 maximum, u32 offset.
FieldValue CountedName(std::optional<std::vector<uint8_t>> data, ArtifactRecord& r, const char* what) {
  if (!data || data->empty()) return NullField();
  if (data->size() < 8) {
    r.Damage(std::string(what) + " is too short");
    return NullField();
  }
  const uint16_t length = Le16At(*data, 0);
  const uint32_t offset = Le32At(*data, 4);
  if (!Fits(*data, offset, length)) {
    r.Damage(std::string(what) + " text lies outside its data");
    return NullField();
  }
  std::u16string units;
  for (size_t i = 0; i + 1 < length; i += 2) units.push_back(static_cast<char16_t>(Le16At(*data, offset + i)));
  return TextField(Utf16ToUtf8String(units));
}

}  // namespace

void DecodeDomainSid(DecodeContext& ctx) {
  const Node policy = ctx.Child(ctx.Root(), "Policy");
  if (!policy) return;
  auto unnamed = [&](const char* name, ArtifactRecord* r) -> std::optional<std::vector<uint8_t>> {
    ValueSet v = ctx.Values(ctx.Child(policy, name));
    auto bytes = v.Bytes("");
    if (r) ctx.Settle(*r, v);
    return bytes;
  };
  const Node primary = ctx.Child(policy, "PolPrDmN");
  ArtifactRecord& r = ctx.Add(primary ? primary : policy);
  r.Set("domain_name", CountedName(unnamed("PolPrDmN", &r), r, "PolPrDmN"));
  FieldValue dns = CountedName(unnamed("PolDnDDN", &r), r, "PolDnDDN");
  r.Set("dns_domain_name", dns.kind == FieldKind::Text && dns.text.empty() ? NullField() : dns);
  r.Set("account_domain_name", CountedName(unnamed("PolAcDmN", &r), r, "PolAcDmN"));
  for (const auto& [field, key] : {std::pair{"domain_sid", "PolPrDmS"}, std::pair{"machine_sid", "PolAcDmS"}}) {
    auto bytes = unnamed(key, &r);
    if (!bytes || bytes->empty()) continue;
    const std::string sid = SidText(*bytes);
    if (sid.empty()) {
      r.Damage(std::string(key) + " holds no SID");
    } else {
      r.Set(field, TextField(sid));
    }
  }
}

// ---- Amcache

namespace {

FieldValue UnixTimeField(const std::optional<uint32_t>& v) {
  return v && *v ? TimeField(UnixToFileTime(*v)) : NullField();
}

// "MM/DD/YYYY HH:MM:SS" read as UTC.
FieldValue LinkDateText(const FieldValue& text) {
  if (text.kind != FieldKind::Text) return NullField();
  int mo, d, y, h, mi, s;
  if (std::sscanf(text.text.c_str(), "%d/%d/%d %d:%d:%d", &mo, &d, &y, &h, &mi, &s) != 6) return NullField();
  const auto t = CivilToFileTime(y, mo, d, h, mi, s);
  return t ? TimeField(*t) : NullField();
}

}  // namespace

void DecodeAmcacheFiles(DecodeContext& ctx) {
  const Node root = ctx.Child(ctx.Root(), "Root");
  for (const Node& volume : ctx.Children(ctx.Child(root, "File"))) {
    const bool inBudget = ctx.EachSubkeyRecord(volume, [&](const Node& file, ValueSet& v, ArtifactRecord& r) {
      r.Set("layout", TextField("file"));
      r.Set("path", v.String("15"));
      r.Set("sha1", WithoutZeros(v.String("101")));
      r.Set("size", v.Int("6"));
      r.Set("product_name", v.String("0"));
      r.Set("publisher", v.String("1"));
      r.Set("file_version", v.String("5"));
      r.Set("description", v.String("c"));
      r.Set("link_date", UnixTimeField(v.Dword("f")));
      r.Set("program_id", WithoutZeros(v.String("100")));
      for (const auto& [field, name] :
           {std::pair{"modified", "11"}, std::pair{"created", "12"}, std::pair{"modified_alt", "17"}}) {
        const FieldValue t = v.Int(name, true);
        const ValueInfo* info = v.Find(name);
        if (!t.IsNull() && info && info->Type == RegQword) r.Set(field, TimeField(t.number));
      }
      r.Set("volume_guid", TextField(volume.name));
      r.Set("file_reference", TextField(file.name));
    });
    if (!inBudget) return;
  }
  ctx.EachSubkeyRecord(ctx.Child(root, "InventoryApplicationFile"), [&](const Node&, ValueSet& v, ArtifactRecord& r) {
    r.Set("layout", TextField("inventory"));
    r.Set("path", v.String("LowerCaseLongPath"));
    r.Set("sha1", WithoutZeros(v.String("FileId")));
    if (auto size = v.StringValue("Size")) {
      const char* text = size->c_str();
      char* end = nullptr;
      const unsigned long long n = std::strtoull(text, &end, 16);
      if (end != text && *end == 0) r.Set("size", IntField(n));
    }
    r.Set("product_name", v.String("ProductName"));
    r.Set("publisher", v.String("Publisher"));
    r.Set("file_version", v.String("Version"));
    r.Set("link_date", LinkDateText(v.String("LinkDate")));
    r.Set("program_id", WithoutZeros(v.String("ProgramId")));
    r.Set("binary_type", v.String("BinaryType"));
  });
}

// ---- BCD

void DecodeBootEntries(DecodeContext& ctx) {
  static const char* const kApplications[] = {
      "other",         "firmware_boot_manager", "boot_manager", "os_loader",      "resume", "memory_diagnostic",
      "legacy_loader", "real_mode_loader",      "boot_sector",  "startup_module", "generic"};
  for (const Node& object : ctx.Children(ctx.Child(ctx.Root(), "Objects"))) {
    if (ctx.Exhausted()) return;
    ValueSet description = ctx.Values(ctx.Child(object, "Description"));
    const auto type = description.Dword("Type");
    if (!type || (*type >> 28) != 1) continue;
    const Node elements = ctx.Child(object, "Elements");
    ValueSet pathValues = ctx.Values(ctx.Child(elements, "12000002"));
    const FieldValue path = pathValues.String("Element");
    if (path.IsNull()) continue;
    ArtifactRecord& r = ctx.Add(object);
    r.Set("guid", TextField(object.name));
    char typeText[16];
    std::snprintf(typeText, sizeof typeText, "0x%08X", *type);
    r.Set("type", TextField(typeText));
    const uint32_t app = *type & 0xFFFFF;
    r.Set("application_type", TextField(app == 0xFFFFF                   ? "custom"
                                        : app < std::size(kApplications) ? kApplications[app]
                                                                         : "other"));
    ValueSet descValues = ctx.Values(ctx.Child(elements, "12000004"));
    r.Set("description", descValues.String("Element"));
    r.Set("application_path", path);
    ValueSet device = ctx.Values(ctx.Child(elements, "11000001"));
    if (auto bytes = device.Bytes("Element")) {
      if (Fits(*bytes, 0x38, 16) && Le32At(*bytes, 0x10) == 6 && Le32At(*bytes, 0x34) == 0) {
        r.Set("device_partition_guid", TextField(GuidText(*bytes, 0x20)));
        r.Set("device_disk_guid", TextField(GuidText(*bytes, 0x38)));
      }
    }
    ctx.Settle(r, description);
    ctx.Settle(r, pathValues);
    ctx.Settle(r, descValues);
    ctx.Settle(r, device);
  }
}

}  // namespace cellbrook
