// The key-details commands: `key` and `keys --details`, text and JSON, on
// built hives with class names and security cells (whole and damaged), and
// on the shared hives against the SDDL table.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli_support.h"
#include "hive/filetime.h"
#include "descriptor_builder.h"
#include "hive_builder.h"
#include "shared_hives.h"

namespace cellbrook {
namespace {

using namespace test;
using Json = nlohmann::json;

constexpr uint16_t kRel = descriptor_field::SelfRelative, kDacl = descriptor_field::DaclPresent;

// ROOT > Lsa > JD (class name "67cd88ed"), Lsa > Plain; both keys below
// ROOT share one security cell, ROOT has its own.
struct DetailsHive {
  HiveBuilder b;
  uint32_t root, lsa, jd, plain, shared, own, jdClass;
  Bytes sharedDescriptor;
  DetailsHive() {
    root = b.Key("ROOT");
    b.SetRoot(root);
    lsa = b.Key("Lsa", root);
    jd = b.Key("JD", lsa);
    plain = b.Key("Plain\tTab", lsa);
    b.SetSubkeys(root, {lsa});
    b.SetSubkeys(lsa, {jd, plain});
    const Bytes dacl =
        AclBytes({AceBytes(AceAccessDenied, 0x02, 0x2, kEveryone), AceBytes(AceAccessAllowed, 0x12, 0xF003F, kAdmins)});
    sharedDescriptor = DescriptorBytes({kRel | kDacl, &kAdmins, &kSystem, &dacl});
    shared = b.SecurityCell(sharedDescriptor, 3);
    own = b.SecurityCell(DescriptorBytes({kRel, &kSystem, &kSystem}), 1);
    b.SetSecurity(root, own);
    for (uint32_t k : {lsa, jd, plain}) b.SetSecurity(k, shared);
    jdClass = b.SetClassName(jd, u"67cd88ed");
    b.Put32(jd + key_field::VolatileSubkeyCount, 2);
    b.SetLastWritten(jd, 0x01D4D3A0B0C0D0E0ull);
  }
  std::string Write(const std::string& name) { return WriteScratchFile(name, b.Image()); }
};

std::string HexOf(const Bytes& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (uint8_t b : bytes) {
    s += kDigits[b >> 4];
    s += kDigits[b & 15];
  }
  return s;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::map<std::string, std::string> Fields(const std::string& text) {
  std::map<std::string, std::string> fields;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const size_t tab = line.find('\t');
    if (tab != std::string::npos && !fields.count(line.substr(0, tab))) {
      fields[line.substr(0, tab)] = line.substr(tab + 1);
    }
  }
  return fields;
}

TEST(CliKeyDetails, OneKeyAsText) {
  DetailsHive h;
  const std::string path = h.Write("details.hiv");
  const CliRun r = RunCliCaptured({"key", path, "ROOT\\Lsa\\JD"});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::map<std::string, std::string> f = Fields(r.out);
  EXPECT_EQ(f.at("Path"), "ROOT\\Lsa\\JD");
  EXPECT_EQ(f.at("Name"), "JD");
  EXPECT_EQ(f.at("Class name"), "67cd88ed");
  EXPECT_EQ(f.at("Volatile subkeys"), "2");
  EXPECT_EQ(f.at("Flags"), "0x0020 (compressed name)");
  EXPECT_EQ(f.at("Owner"), "S-1-5-32-544 (BUILTIN\\Administrators)");
  EXPECT_EQ(f.at("Group"), "S-1-5-18 (NT AUTHORITY\\SYSTEM)");
  EXPECT_EQ(f.at("SDDL"), "O:BAG:SYD:(D;CI;DC;;;WD)(A;CIID;KA;;;BA)");
  char cell[16];
  std::snprintf(cell, sizeof cell, "0x%08x", h.shared);
  EXPECT_EQ(f.at("Security cell"), std::string(cell) + " (shared by 3 keys)");
  EXPECT_EQ(f.at("Permission"), "Deny\tS-1-1-0 (Everyone)\tSet value\tThis key and subkeys\t");
  EXPECT_NE(r.out.find("Permission\tAllow\tS-1-5-32-544 (BUILTIN\\Administrators)\tFull control\t"
                       "This key and subkeys\tinherited\n"),
            std::string::npos);
  std::remove(path.c_str());
}

TEST(CliKeyDetails, OneKeyAsJson) {
  DetailsHive h;
  const std::string path = h.Write("details-json.hiv");
  const CliRun r = RunCliCaptured({"key", path, "ROOT\\lsa\\jd", "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  const Json j = Json::parse(r.out);
  const std::vector<std::string> keys = {"path",
                                         "name",
                                         "last_written",
                                         "cell",
                                         "flags",
                                         "flag_names",
                                         "class_name",
                                         "subkeys",
                                         "volatile_subkeys",
                                         "values",
                                         "owner",
                                         "group",
                                         "owner_name",
                                         "group_name",
                                         "sddl",
                                         "security_descriptor",
                                         "security_cell",
                                         "aces"};
  const nlohmann::ordered_json ordered = nlohmann::ordered_json::parse(r.out);
  size_t at = 0;
  for (auto it = ordered.begin(); it != ordered.end() && at < keys.size(); ++it, ++at) {
    EXPECT_EQ(it.key(), keys[at]);
  }
  EXPECT_EQ(j["path"], "ROOT\\Lsa\\JD");
  EXPECT_EQ(j["class_name"], "67cd88ed");
  EXPECT_EQ(j["flags"], 0x20);
  EXPECT_EQ(j["flag_names"], Json::array({"compressed name"}));
  EXPECT_EQ(j["volatile_subkeys"], 2);
  EXPECT_EQ(j["last_written"], FormatFileTime(0x01D4D3A0B0C0D0E0ull));
  EXPECT_EQ(j["owner"], "S-1-5-32-544");
  EXPECT_EQ(j["owner_name"], "BUILTIN\\Administrators");
  EXPECT_EQ(j["group_name"], "NT AUTHORITY\\SYSTEM");
  EXPECT_EQ(j["security_references"], 3);
  EXPECT_EQ(j["security_descriptor"], HexOf(h.sharedDescriptor));
  ASSERT_EQ(j["aces"].size(), 2u);
  EXPECT_EQ(j["aces"][0]["type"], "Deny");
  EXPECT_EQ(j["aces"][0]["sid"], "S-1-1-0");
  EXPECT_EQ(j["aces"][0]["rights"], "DC");
  EXPECT_EQ(j["aces"][1]["inherited"], true);
  EXPECT_EQ(j["aces"][1]["mask"], "0x000f003f");
  std::remove(path.c_str());
}

TEST(CliKeyDetails, ListingAsColumnsAndJson) {
  DetailsHive h;
  const std::string path = h.Write("details-list.hiv");
  const CliRun text = RunCliCaptured({"keys", path, "--details"});
  ASSERT_EQ(text.code, 0) << text.err;
  const std::string sddl = "O:BAG:SYD:(D;CI;DC;;;WD)(A;CIID;KA;;;BA)";
  EXPECT_EQ(Lines(text.out), (std::vector<std::string>{"ROOT\\Lsa\t\tS-1-5-32-544\t" + sddl,
                                                       "ROOT\\Lsa\\JD\t67cd88ed\tS-1-5-32-544\t" + sddl,
                                                       "ROOT\\Lsa\\Plain\\tTab\t\tS-1-5-32-544\t" + sddl}));
  // Below a key, and options after the words.
  const CliRun below = RunCliCaptured({"keys", "--details", path, "ROOT\\Lsa", "--json"});
  ASSERT_EQ(below.code, 0) << below.err;
  const std::vector<std::string> lines = Lines(below.out);
  ASSERT_EQ(lines.size(), 2u);
  const Json jd = Json::parse(lines[0]);
  const CliRun one = RunCliCaptured({"key", path, "ROOT\\Lsa\\JD", "--json"});
  EXPECT_EQ(jd, Json::parse(one.out)) << "a listed record is the key's own record";
  EXPECT_EQ(Json::parse(lines[1])["class_name"], nullptr);
  EXPECT_EQ(Json::parse(lines[1])["name"], "Plain\tTab");
  // The plain listing is untouched.
  EXPECT_EQ(Lines(RunCliCaptured({"keys", path}).out).size(), 3u);
  std::remove(path.c_str());
}

TEST(CliKeyDetails, DamagedClassNamesAndSecurityCellsExitFive) {
  const struct {
    const char* what;
    std::function<void(DetailsHive&)> spoil;
    const char* summary;
    bool sddlNull, descriptorNull, classNull;
  } cases[] = {
      {"class name past its cell", [](DetailsHive& h) { h.b.Put16(h.jd + key_field::ClassNameLength, 400); },
       "1 class name could not be read (first at ROOT\\Lsa\\JD)", false, false, true},
      {"class name outside the image", [](DetailsHive& h) { h.b.Put32(h.jd + key_field::ClassName, 0x7FFFFFF0); },
       "1 class name could not be read", false, false, true},
      {"security cell outside the image", [](DetailsHive& h) { h.b.SetSecurity(h.jd, 0x7FFFFFF0); },
       "the security of 1 key could not be read (first at ROOT\\Lsa\\JD)", true, true, false},
      {"descriptor length past the cell",
       [](DetailsHive& h) { h.b.Put32(h.shared + security_field::DescriptorLength, 0x10000); }, "the security of 1 key",
       true, true, false},
      {"ACE count lying",
       [](DetailsHive& h) {
         h.b.Put16(h.shared + security_field::Descriptor + descriptor_field::HeaderSize + acl_field::Count, 9);
       },
       "the security of 1 key", true, false, false},
  };
  for (const auto& c : cases) {
    DetailsHive h;
    c.spoil(h);
    const std::string path = h.Write("details-damaged.hiv");
    const CliRun r = RunCliCaptured({"key", path, "ROOT\\Lsa\\JD", "--json"});
    EXPECT_EQ(r.code, 5) << c.what;
    EXPECT_NE(r.err.find(c.summary), std::string::npos) << c.what << ": " << r.err;
    const Json j = Json::parse(r.out);
    EXPECT_EQ(j["sddl"].is_null(), c.sddlNull) << c.what;
    EXPECT_EQ(j["security_descriptor"].is_null(), c.descriptorNull) << c.what;
    EXPECT_EQ(j["class_name"].is_null(), c.classNull) << c.what;
    EXPECT_FALSE(j["damage"].empty()) << c.what;
    const CliRun text = RunCliCaptured({"key", path, "ROOT\\Lsa\\JD"});
    EXPECT_EQ(text.code, 5) << c.what;
    EXPECT_NE(text.out.find("Damage\t"), std::string::npos) << c.what;
    // The listing goes on past the damage and counts it.
    const CliRun list = RunCliCaptured({"keys", path, "--details"});
    EXPECT_EQ(list.code, 5) << c.what;
    const std::vector<std::string> listed = Lines(list.out);
    ASSERT_EQ(listed.size(), 3u) << c.what;
    EXPECT_EQ(listed[1].substr(listed[1].rfind('\t') + 1).empty(), c.sddlNull) << c.what << ": " << listed[1];
    std::remove(path.c_str());
  }
}

TEST(CliKeyDetails, AKeyWithoutSecurityOrClassIsNoDamage) {
  DetailsHive h;
  h.b.SetSecurity(h.plain, 0xFFFFFFFF);
  const std::string path = h.Write("details-none.hiv");
  const CliRun r = RunCliCaptured({"key", path, "ROOT\\Lsa\\Plain\tTab", "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  const Json j = Json::parse(r.out);
  EXPECT_TRUE(j["security_cell"].is_null());
  EXPECT_TRUE(j["owner"].is_null());
  EXPECT_TRUE(j["class_name"].is_null());
  EXPECT_TRUE(j["aces"].empty());
  EXPECT_FALSE(j.contains("damage"));
  const std::map<std::string, std::string> f = Fields(RunCliCaptured({"key", path, "ROOT\\Lsa\\Plain\tTab"}).out);
  EXPECT_EQ(f.at("Class name"), "(none)");
  EXPECT_EQ(f.at("Security cell"), "(none)");
  EXPECT_EQ(f.at("Owner"), "(none)");
  std::remove(path.c_str());
}

TEST(CliKeyDetails, UsageNotFoundAndUnreadable) {
  DetailsHive h;
  const std::string path = h.Write("details-usage.hiv");
  const struct {
    std::vector<std::string> args;
    int code;
  } cases[] = {
      {{"key", path}, 1},
      {{"key", path, "ROOT", "extra"}, 1},
      {{"key", path, "ROOT", "--details"}, 1},
      {{"key", path, "ROOT", "--long"}, 1},
      {{"keys", path, "--details", "--long"}, 1},
      {{"key", path, "ROOT", "--no-logs", "--log", "x"}, 1},
      {{"key", path, "ROOT\\Nope"}, 3},
      {{"keys", path, "ROOT\\Nope", "--details"}, 3},
      {{"key", ScratchPath("no-such-hive"), "ROOT"}, 2},
      {{"key", path, "ROOT"}, 0},
      {{"key", path, "--", "ROOT"}, 0},
  };
  for (const auto& c : cases) {
    const CliRun r = RunCliCaptured(c.args);
    std::string joined;
    for (const std::string& a : c.args) joined += a + ' ';
    EXPECT_EQ(r.code, c.code) << joined << r.err;
  }
  std::remove(path.c_str());
}

TEST(SharedHives, DetailsListingsGiveTheTableSddl) {
  SKIP_WITHOUT_SHARED_HIVES();
  std::map<std::string, std::string> table;
  {
    std::istringstream in(ExpectedFile("security", "tsv"));
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const size_t tab = line.find('\t');
      table[line.substr(0, tab)] = line.substr(tab + 1);
    }
  }
  for (const SharedHive& hive : SharedHives()) {
    const CliRun r = RunCliCaptured({"keys", hive.path, "--details", "--json", "--no-logs"});
    EXPECT_EQ(r.code, 0) << hive.name << r.err;
    size_t records = 0, checked = 0;
    std::istringstream in(r.out);
    std::string line;
    while (std::getline(in, line)) {
      ++records;
      const Json j = Json::parse(line);
      const auto row = table.find(j["security_descriptor"].get<std::string>());
      if (row == table.end()) continue;
      ++checked;
      EXPECT_EQ(j["sddl"], row->second) << hive.name << ": " << j["path"];
    }
    EXPECT_EQ(records, hive.keys) << hive.name;
    EXPECT_EQ(checked, records) << hive.name << ": every key below the root has its descriptor in the table";
  }
}

}  // namespace
}  // namespace cellbrook
