// Artifacts of the shared real hives, against records worked out by hand
// from their raw values (the listings of `values`).
#include <gtest/gtest.h>

#include <map>

#include "artifacts/artifact_run.h"
#include "artifacts/artifact_table.h"
#include "cli_support.h"
#include "document/hive_document.h"
#include "shared_hives.h"

namespace cellbrook::test {
namespace {

struct LoadedRun {
  HiveDocument hive;
  ArtifactRun run;
};

const LoadedRun& RunOf(const std::string& name) {
  static std::map<std::string, std::unique_ptr<LoadedRun>> cache;
  auto& slot = cache[name];
  if (!slot) {
    slot = std::make_unique<LoadedRun>();
    EXPECT_EQ(slot->hive.Open(SharedHivesDir() + "/" + name), LoadOutcome::Loaded);
    slot->hive.ApplyLogs();
    slot->run = RunArtifacts(slot->hive.Hive());
  }
  return *slot;
}

std::vector<const ArtifactRecord*> Records(const std::string& hive, std::string_view artifact) {
  std::vector<const ArtifactRecord*> out;
  for (const ArtifactRecord& r : RunOf(hive).run.records) {
    if (artifact == r.artifact->name) out.push_back(&r);
  }
  return out;
}

struct Expect {
  const char* hive;
  const char* artifact;
  size_t index;  // among the artifact's records
  const char* field;
  const char* text;  // FieldText; "" for null or empty
};

TEST(SharedArtifactsTest, RecordsMatchTheRawValues) {
  if (!SharedHivesPresent()) GTEST_SKIP() << "shared hives not found; skipping";
  const Expect expects[] = {
      // Select: 1, 1, 0, 2.
      {"SYSTEM", "control_sets", 0, "current", "1"},
      {"SYSTEM", "control_sets", 0, "last_known_good", "2"},
      {"SYSTEM", "control_sets", 0, "control_sets", "ControlSet001; ControlSet002"},
      {"SYSTEM", "computer_name", 0, "computer_name", "WKS-WIN732BITA"},
      {"SYSTEM", "computer_name", 0, "current", "true"},
      {"SYSTEM", "computer_name", 1, "computer_name", "WIN-V5T3CSP8U4H"},
      {"SYSTEM", "computer_name", 1, "current", "false"},
      // StandardStart 00 00 0B 00 01 00 02 00 ...: first Sunday of November, 02:00.
      {"SYSTEM", "timezone", 0, "standard_start",
       "{\"month\":11,\"week\":1,\"day_of_week\":0,\"hour\":2,\"minute\":0,\"second\":0,\"millisecond\":0}"},
      {"SYSTEM", "timezone", 0, "daylight_bias", "-60"},
      {"SYSTEM", "timezone", 0, "bias", "300"},
      {"SYSTEM", "timezone", 0, "active_time_bias", "240"},
      {"SYSTEM", "timezone", 0, "time_zone_key_name", "Eastern Standard Time"},
      {"SYSTEM", "timezone", 0, "standard_name", "@tzres.dll,-112"},
      // ShutdownTime 33 D7 29 75 06 12 CD 01.
      {"SYSTEM", "shutdown_time", 0, "shutdown_time", "2012-04-04T01:58:40.8392499Z"},
      {"SYSTEM", "usbstor", 0, "vendor", "HP"},
      {"SYSTEM", "usbstor", 0, "product", "v100w"},
      {"SYSTEM", "usbstor", 0, "revision", "1024"},
      {"SYSTEM", "usbstor", 0, "serial_number", "AA951D0000007252&0"},
      // 00000064\00000000 Data E0 1B 2D A0 28 F0 CB 01.
      {"SYSTEM", "usbstor", 0, "install_time", "2011-04-01T04:52:38.6860000Z"},
      {"SYSTEM", "mounted_devices", 0, "name", "\\DosDevices\\C:"},
      {"SYSTEM", "mounted_devices", 0, "disk_signature", "5cbea03e"},
      {"SYSTEM", "mounted_devices", 0, "partition_offset", "1048576"},
      // 0xBADC0FEE, 330 entries; the first: 118 bytes at 56136, FILETIME 0x01cbb2515b0f1000.
      {"SYSTEM", "shimcache", 0, "format", "7_x86"},
      {"SYSTEM", "shimcache", 0, "path", "\\??\\C:\\Program Files\\McAfee\\VirusScan Enterprise\\mfeann.exe"},
      {"SYSTEM", "shimcache", 0, "last_modified", "2011-01-12T12:08:00.0000000Z"},
      {"SYSTEM", "shimcache", 0, "insert_flags", "7"},
      {"SYSTEM", "shimcache", 0, "executed", "true"},
      {"SYSTEM", "shimcache", 330, "control_set", "ControlSet002"},
      // RKPRY.RKR: run count 4, focus 1, focus time 0xBA39, last run 0x01cd1279a5eedd10.
      {"NTUSER.DAT", "userassist", 17, "name",
       "{7C5A40EF-A0FB-4BFC-874A-C0F2E0B9FA8E}\\Microsoft Office\\Office14\\EXCEL.EXE"},
      {"NTUSER.DAT", "userassist", 17, "run_count", "4"},
      {"NTUSER.DAT", "userassist", 17, "focus_count", "1"},
      {"NTUSER.DAT", "userassist", 17, "focus_time_ms", "47673"},
      {"NTUSER.DAT", "userassist", 17, "last_run", "2012-04-04T15:43:14.7850000Z"},
      {"NTUSER.DAT", "recentdocs", 0, "name", "Downloads"},
      {"NTUSER.DAT", "recentdocs", 0, "lnk_name", "Downloads.lnk"},
      // SAM 000003E8: F last logon d0014d905adccf01, password set 8e6627a0a8d7cf01, flags 0x10, 4 logons.
      {"SAM", "sam_users", 2, "rid", "1000"},
      {"SAM", "sam_users", 2, "user_name", "Preston"},
      {"SAM", "sam_users", 2, "last_login", "2014-09-30T02:59:34.3166928Z"},
      {"SAM", "sam_users", 2, "password_last_set", "2014-09-24T03:35:45.8448014Z"},
      {"SAM", "sam_users", 2, "account_flags_decoded", "normal_account"},
      {"SAM", "sam_users", 2, "login_count", "4"},
      {"SAM", "sam_users", 0, "user_name", "Administrator"},
      {"SAM", "sam_users", 0, "account_flags", "529"},
      {"SAM", "local_sid", 0, "sid", "S-1-5-21-1760460187-1592185332-161725925"},
      // PolPrDmN 12 00 14 00 08 00 00 00 "WORKGROUP"; PolAcDmS 01 04 ... 0E C9 7E 6A ...
      {"SECURITY", "domain_sid", 0, "domain_name", "WORKGROUP"},
      {"SECURITY", "domain_sid", 0, "account_domain_name", "DESKTOP-M964FJN"},
      {"SECURITY", "domain_sid", 0, "machine_sid", "S-1-5-21-1786693902-1815088602-2777321892"},
      {"SECURITY", "domain_sid", 0, "domain_sid", ""},
      {"BCD", "boot_entries", 0, "description", "Linux Boot Manager"},
      {"BCD", "boot_entries", 0, "application_type", "custom"},
      // Element 11000001: type 6 at 0x10, GPT, partition 03 E1 E0 24 C2 9B 7E 47 ...
      {"BCD", "boot_entries", 0, "device_partition_guid", "{24e0e103-9bc2-477e-a5e2-3e42d2bb134f}"},
      {"UsrClass.dat", "shellbags", 0, "name", "Quick Access"},
      {"UsrClass.dat", "shellbags", 1, "path", "D:\\"},
      {"UsrClass.dat", "shellbags", 4, "path", "D:\\AKMonitor\\logs\\pic"},
      {"UsrClass.dat", "shellbags", 4, "node_slot", "16"},
      {"NTUSER_with_winscp.DAT", "wsl_distributions", 0, "distribution_name", "docker-desktop"},
      {"NTUSER_with_winscp.DAT", "wsl_distributions", 0, "flags", "15"},
      {"NTUSER_with_winscp.DAT", "wsl_distributions", 0, "version", "2"},
      {"NTUSER_with_winscp.DAT", "wsl_distributions", 0, "is_default", "false"},
      {"NTUSER_with_winscp.DAT", "open_save_mru", 0, "path", "D:\\CODA\\CODA.001"},
  };
  for (const Expect& e : expects) {
    const auto records = Records(e.hive, e.artifact);
    ASSERT_GT(records.size(), e.index) << e.hive << " " << e.artifact;
    EXPECT_EQ(FieldText(records[e.index]->Get(e.field)), e.text) << e.hive << " " << e.artifact << " " << e.field;
  }
}

TEST(SharedArtifactsTest, CountsAndKinds) {
  if (!SharedHivesPresent()) GTEST_SKIP() << "shared hives not found; skipping";
  // Subkeys of both Services keys (467 + 466); cache headers of 330 entries each.
  EXPECT_EQ(Records("SYSTEM", "services").size(), 933u);
  EXPECT_EQ(Records("SYSTEM", "shimcache").size(), 660u);
  EXPECT_EQ(Records("SAM", "sam_users").size(), 3u);
  EXPECT_EQ(Records("NTUSER.DAT", "shellbags").size(), 0u);  // BagMRU holds no numbered value
  const std::pair<const char*, HiveKind> kinds[] = {{"SYSTEM", HiveKind::System},
                                                    {"NTUSER.DAT", HiveKind::Ntuser},
                                                    {"NTUSER_with_winscp.DAT", HiveKind::Ntuser},
                                                    {"SAM", HiveKind::Sam},
                                                    {"SECURITY", HiveKind::Security},
                                                    {"BCD", HiveKind::Bcd},
                                                    {"UsrClass.dat", HiveKind::Usrclass}};
  for (const auto& [hive, kind] : kinds) {
    EXPECT_EQ(RunOf(hive).run.kind.kind, kind) << hive;
    EXPECT_FALSE(RunOf(hive).run.Damaged()) << hive << ": " << RunOf(hive).run.DamageSummary();
  }
  EXPECT_EQ(SidNames::ClassesHiveSid(RunOf("UsrClass.dat").hive.Hive()),
            "S-1-5-21-2734969515-1644526556-1039763013-1001");
}

TEST(SharedArtifactsTest, CommandLineFormsAndStatus) {
  if (!SharedHivesPresent()) GTEST_SKIP() << "shared hives not found; skipping";
  const std::string sam = SharedHivesDir() + "/SAM";
  const CliRun json = RunCliCaptured({"artifacts", sam, "local_sid", "--json"});
  EXPECT_EQ(json.code, 0);
  EXPECT_EQ(json.out,
            "{\"artifact\":\"local_sid\",\"hive\":\"" + sam +
                "\",\"key\":\"ROOT\\\\SAM\\\\Domains\\\\Account\",\"sid\":\"S-1-5-21-1760460187-1592185332-161725925\","
                "\"last_written\":\"2014-09-24T03:36:43.5493028Z\"}\n");
  const CliRun csv = RunCliCaptured({"artifacts", sam, "local_sid", "--csv"});
  EXPECT_EQ(csv.out,
            "key,sid,last_written,damaged,error\r\n"
            "ROOT\\SAM\\Domains\\Account,S-1-5-21-1760460187-1592185332-161725925,2014-09-24T03:36:43.5493028Z,,\r\n");
  const CliRun text = RunCliCaptured({"artifacts", sam});
  EXPECT_EQ(text.code, 0);
  EXPECT_EQ(text.out.substr(0, 12), "# sam_users\n");
  EXPECT_NE(text.out.find("\n# local_sid\nkey\tsid\tlast_written\n"), std::string::npos);
  // Nothing of a user hive in a SAM.
  const CliRun none = RunCliCaptured({"artifacts", sam, "userassist"});
  EXPECT_EQ(none.code, 3);
  EXPECT_EQ(none.out, "");
  // The SAM lends its account names to the SIDs of the profile list.
  const CliRun with = RunCliCaptured({"artifacts", sam, "sam_users", "--json", "--with", sam});
  EXPECT_EQ(with.code, 0);
  EXPECT_NE(with.out.find("\"user\":\"Preston\""), std::string::npos);
}

}  // namespace
}  // namespace cellbrook::test
