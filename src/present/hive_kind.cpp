#include "present/hive_kind.h"

#include <array>
#include <string>

namespace cellbrook {
namespace {

bool SameAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto fold = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

// The last part of a Windows or POSIX path.
std::string_view LastPart(std::string_view path) {
  const size_t cut = path.find_last_of("\\/");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

// The root key's subkeys that tell the kinds apart.
struct RootNames {
  enum Name { Select, ControlSet, Microsoft, Classes, Sam, Policy, Rxact, Software, ControlPanel,
              Environment, Clsid, LocalSettings, Description, Objects, kCount };
  std::array<bool, kCount> has{};
};

RootNames ReadRootNames(const HiveImage& image) {
  RootNames names;
  KeyInfo root;
  if (!GetRootKey(image, root)) return names;
  SlotBudget budget = SlotBudget::For(image);
  const SubkeyList list = ReadSubkeys(image, root, budget);
  static constexpr std::array<std::pair<RootNames::Name, std::string_view>, 13> kNames{{
      {RootNames::Select, "Select"}, {RootNames::Microsoft, "Microsoft"},
      {RootNames::Classes, "Classes"}, {RootNames::Sam, "SAM"}, {RootNames::Policy, "Policy"},
      {RootNames::Rxact, "RXACT"}, {RootNames::Software, "Software"},
      {RootNames::ControlPanel, "Control Panel"}, {RootNames::Environment, "Environment"},
      {RootNames::Clsid, "CLSID"}, {RootNames::LocalSettings, "Local Settings"},
      {RootNames::Description, "Description"}, {RootNames::Objects, "Objects"}}};
  for (const KeyInfo& key : list.keys) {
    if (!key.Ref || key.Name.length > 64) continue;
    const std::string name = key.Name.Text();
    for (const auto& [id, text] : kNames) {
      if (SameAscii(name, text)) names.has[id] = true;
    }
    if (name.size() == 13 && SameAscii(name.substr(0, 10), "ControlSet")) names.has[RootNames::ControlSet] = true;
  }
  return names;
}

HiveKind KindOfName(std::string_view name) {
  static constexpr std::array<std::pair<std::string_view, HiveKind>, 7> kFiles{{
      {"SYSTEM", HiveKind::System}, {"SOFTWARE", HiveKind::Software}, {"SAM", HiveKind::Sam},
      {"SECURITY", HiveKind::Security}, {"NTUSER.DAT", HiveKind::User},
      {"USRCLASS.DAT", HiveKind::Classes}, {"BCD", HiveKind::Bcd}}};
  for (const auto& [file, kind] : kFiles) {
    if (SameAscii(name, file)) return kind;
  }
  return HiveKind::Unknown;
}

}  // namespace

HiveKind DetectHiveKind(const HiveImage& image, std::string_view recordedName, std::string_view fileName) {
  const RootNames r = ReadRootNames(image);
  auto has = [&r](RootNames::Name n) { return r.has[n]; };
  if (has(RootNames::Description) && has(RootNames::Objects)) return HiveKind::Bcd;
  if (has(RootNames::Select) && has(RootNames::ControlSet)) return HiveKind::System;
  if (has(RootNames::Policy) && has(RootNames::Rxact)) return HiveKind::Security;
  if (has(RootNames::Microsoft) && has(RootNames::Classes)) return HiveKind::Software;
  if (has(RootNames::Software) && (has(RootNames::ControlPanel) || has(RootNames::Environment))) {
    return HiveKind::User;
  }
  if (has(RootNames::LocalSettings) || has(RootNames::Clsid)) return HiveKind::Classes;
  if (has(RootNames::Sam)) return HiveKind::Sam;
  if (const HiveKind kind = KindOfName(LastPart(recordedName)); kind != HiveKind::Unknown) return kind;
  return KindOfName(LastPart(fileName));
}

const char* RootPrefixOf(HiveKind kind) {
  switch (kind) {
    case HiveKind::Unknown: return "";
    case HiveKind::System: return "HKEY_LOCAL_MACHINE\\SYSTEM";
    case HiveKind::Software: return "HKEY_LOCAL_MACHINE\\SOFTWARE";
    case HiveKind::Sam: return "HKEY_LOCAL_MACHINE\\SAM";
    case HiveKind::Security: return "HKEY_LOCAL_MACHINE\\SECURITY";
    case HiveKind::User: return "HKEY_CURRENT_USER";
    case HiveKind::Classes: return "HKEY_CURRENT_USER\\Software\\Classes";
    case HiveKind::Bcd: return "HKEY_LOCAL_MACHINE\\BCD00000000";
  }
  return "";
}

}  // namespace cellbrook
