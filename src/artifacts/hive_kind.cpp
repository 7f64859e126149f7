#include "artifacts/hive_kind.h"

#include <algorithm>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "artifacts/decode_context.h"
#include "hive/key_lookup.h"

namespace cellbrook {
namespace {

struct Keys {
  const HiveImage& image;
  SlotBudget budget;

  std::vector<KeyInfo> Below(const KeyInfo& key) {
    std::vector<KeyInfo> out;
    if (!key.Ref || key.SubkeyCount == 0) return out;
    for (const KeyInfo& k : ReadSubkeys(image, key, budget).keys) {
      if (k.Ref) out.push_back(k);
    }
    return out;
  }
  static const KeyInfo* Named(const std::vector<KeyInfo>& keys, std::string_view name) {
    for (const KeyInfo& k : keys) {
      if (SameName(KeyNameString(k), name)) return &k;
    }
    return nullptr;
  }
  bool HasAny(const KeyInfo* key, std::initializer_list<std::string_view> names) {
    if (key == nullptr) return false;
    const std::vector<KeyInfo> below = Below(*key);
    return std::any_of(names.begin(), names.end(), [&](std::string_view n) { return Named(below, n) != nullptr; });
  }
  // The key at a backslash path below `from`, or nullptr.
  bool HasPath(const std::vector<KeyInfo>& from, std::string_view path) {
    std::vector<KeyInfo> level = from;
    while (true) {
      const size_t cut = path.find('\\');
      const KeyInfo* k = Named(level, path.substr(0, cut));
      if (k == nullptr) return false;
      if (cut == std::string_view::npos) return true;
      path.remove_prefix(cut + 1);
      level = Below(*k);
    }
  }
};

bool IsControlSetName(const std::string& n) {
  return n.size() == 13 && SameName(n.substr(0, 10), "ControlSet") &&
         std::all_of(n.begin() + 10, n.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

HiveKindGuess DetectHiveKind(const HiveImage& image) {
  HiveKindGuess guess;
  KeyInfo root;
  if (!GetRootKey(image, root)) return guess;
  Keys keys{image, SlotBudget::For(image)};
  const std::vector<KeyInfo> top = keys.Below(root);
  auto named = [&](std::string_view n) { return Keys::Named(top, n); };
  const bool controlSet =
      std::any_of(top.begin(), top.end(), [](const KeyInfo& k) { return IsControlSetName(KeyNameString(k)); });
  if (named("Select") && controlSet) {
    guess.kind = HiveKind::System;
  } else if (keys.HasPath(top, "SAM\\Domains\\Account")) {
    guess.kind = HiveKind::Sam;
  } else if (keys.HasAny(named("Policy"), {"PolAdtEv", "PolPrDmN", "Secrets"})) {
    guess.kind = HiveKind::Security;
  } else if (keys.HasAny(named("Root"), {"File", "InventoryApplicationFile", "Programs"})) {
    guess.kind = HiveKind::Amcache;
  } else if (named("Objects") && named("Description")) {
    guess.kind = HiveKind::Bcd;
  } else if (keys.HasPath(top, "Microsoft\\Windows NT\\CurrentVersion\\ProfileList")) {
    guess.kind = HiveKind::Software;
  } else if (named("Software") &&
             (named("Control Panel") || named("Environment") || named("AppEvents") || named("Console"))) {
    guess.kind = HiveKind::Ntuser;
  } else if (named("Local Settings") || (named("CLSID") && !named("Software"))) {
    guess.kind = HiveKind::Usrclass;
  } else if (keys.HasPath(top, "Microsoft\\Windows\\CurrentVersion\\Explorer")) {
    guess.kind = HiveKind::Ntuser;
    guess.partialUser = true;
  }
  return guess;
}

const char* HiveKindName(HiveKind kind) {
  switch (kind) {
    case HiveKind::System:
      return "system";
    case HiveKind::Sam:
      return "sam";
    case HiveKind::Security:
      return "security";
    case HiveKind::Amcache:
      return "amcache";
    case HiveKind::Bcd:
      return "bcd";
    case HiveKind::Software:
      return "software";
    case HiveKind::Ntuser:
      return "ntuser";
    case HiveKind::Usrclass:
      return "usrclass";
    case HiveKind::Unknown:
      break;
  }
  return "unknown";
}

namespace {

bool SameAscii(std::string_view a, std::string_view b) {
  auto fold = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return fold(x) == fold(y); });
}

HiveKind KindOfFileName(std::string_view path) {
  const size_t cut = path.find_last_of("\\/");
  const std::string_view name = cut == std::string_view::npos ? path : path.substr(cut + 1);
  static constexpr std::pair<std::string_view, HiveKind> kFiles[] = {
      {"SYSTEM", HiveKind::System},     {"SOFTWARE", HiveKind::Software},  {"SAM", HiveKind::Sam},
      {"SECURITY", HiveKind::Security}, {"NTUSER.DAT", HiveKind::Ntuser},  {"USRCLASS.DAT", HiveKind::Usrclass},
      {"BCD", HiveKind::Bcd},           {"AMCACHE.HVE", HiveKind::Amcache}};
  for (const auto& [file, kind] : kFiles) {
    if (SameAscii(name, file)) return kind;
  }
  return HiveKind::Unknown;
}

}  // namespace

HiveKindGuess DetectHiveKind(const HiveImage& image, std::string_view recordedName, std::string_view fileName) {
  HiveKindGuess guess = DetectHiveKind(image);
  if (guess.kind == HiveKind::Unknown) guess.kind = KindOfFileName(recordedName);
  if (guess.kind == HiveKind::Unknown) guess.kind = KindOfFileName(fileName);
  return guess;
}

const char* RootPrefixOf(HiveKindGuess guess) {
  switch (guess.kind) {
    case HiveKind::System:
      return "HKEY_LOCAL_MACHINE\\SYSTEM";
    case HiveKind::Software:
      return "HKEY_LOCAL_MACHINE\\SOFTWARE";
    case HiveKind::Sam:
      return "HKEY_LOCAL_MACHINE\\SAM";
    case HiveKind::Security:
      return "HKEY_LOCAL_MACHINE\\SECURITY";
    case HiveKind::Ntuser:
      return guess.partialUser ? "HKEY_CURRENT_USER\\Software" : "HKEY_CURRENT_USER";
    case HiveKind::Usrclass:
      return "HKEY_CURRENT_USER\\Software\\Classes";
    case HiveKind::Bcd:
      return "HKEY_LOCAL_MACHINE\\BCD00000000";
    case HiveKind::Amcache:
    case HiveKind::Unknown:
      break;
  }
  return "";
}

}  // namespace cellbrook
