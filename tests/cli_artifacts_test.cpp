// cellbrook-cli artifacts over built hives: the list, usage errors, the
// exit status, text escapes, CSV quoting and names lent by --with.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "artifact_hive.h"
#include "artifacts/artifact_table.h"
#include "cli_support.h"
#include "shared_hives.h"

namespace cellbrook::test {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    lines.push_back(text.substr(at, end - at));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return lines;
}

TEST(CliArtifactsTest, ListNamesEveryDecoder) {
  const CliRun r = RunCliCaptured({"artifacts", "--list"});
  EXPECT_EQ(r.code, 0);
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), ArtifactDecoders().size());
  for (size_t i = 0; i < lines.size(); ++i) {
    const ArtifactDecoder& d = ArtifactDecoders()[i];
    EXPECT_EQ(lines[i], std::string(d.name) + "\t" + KindListText(d.kinds) + "\t" + d.summary);
  }
  EXPECT_EQ(lines[0], "control_sets\tsystem\tthe control sets and which one is current (Select)");
}

TEST(CliArtifactsTest, UsageErrors) {
  const std::string hive = WriteScratchFile("artifacts-usage.hive", TreeHive().Key("Console").Build());
  for (const std::vector<std::string>& args : {std::vector<std::string>{"artifacts"},
                                               {"artifacts", hive, "no_such_artifact"},
                                               {"artifacts", hive, "--json", "--csv"},
                                               {"artifacts", hive, "--with"},
                                               {"artifacts", "--list", hive},
                                               {"artifacts", hive, "--bogus"}}) {
    const CliRun r = RunCliCaptured(args);
    EXPECT_EQ(r.code, 1) << args.back();
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(RunCliCaptured({"artifacts", "/nonexistent/hive"}).code, 2);
}

Bytes ServicesHive(bool broken) {
  TreeHive t;
  t.Value("Select", "Current", RegDword, Dword(1));
  t.Value("ControlSet001\\Services\\a\tb", "DisplayName", RegSz, Sz(u"line\none, \"quoted\""));
  t.Value("ControlSet001\\Services\\a\tb", "Type", RegDword, Dword(0x30));
  if (broken) t.BrokenValue("ControlSet001\\Services\\c", "ImagePath", RegSz, 40);
  return t.Build();
}

TEST(CliArtifactsTest, TextJsonAndCsvForms) {
  const std::string hive = WriteScratchFile("artifacts-forms.hive", ServicesHive(false));
  const CliRun text = RunCliCaptured({"artifacts", hive, "services"});
  EXPECT_EQ(text.code, 0);
  const auto lines = Lines(text.out);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "# services");
  EXPECT_EQ(lines[1].substr(0, 25), "key\tcontrol_set\tcurrent\tn");
  EXPECT_EQ(lines[2].substr(0, 83),
            "ROOT\\ControlSet001\\Services\\a\\tb\tControlSet001\ttrue\ta\\tb\tline\\none, \"quoted\"\t\t\t\t48\t");
  EXPECT_NE(lines[2].find("\town_process; share_process\t"), std::string::npos);

  const CliRun json = RunCliCaptured({"artifacts", hive, "services", "--json"});
  const auto object = nlohmann::json::parse(Lines(json.out).at(0));
  EXPECT_EQ(object["artifact"], "services");
  EXPECT_EQ(object["hive"], hive);
  EXPECT_EQ(object["name"], "a\tb");
  EXPECT_TRUE(object["start"].is_null());
  EXPECT_EQ(object["type"], 48);
  EXPECT_EQ(object["service_type"], nlohmann::json::array({"own_process", "share_process"}));
  EXPECT_FALSE(object.contains("damaged"));

  const CliRun csv = RunCliCaptured({"artifacts", hive, "services", "--csv"});
  EXPECT_NE(csv.out.find(",\"line\none, \"\"quoted\"\"\","), std::string::npos);
  EXPECT_EQ(csv.out.substr(0, 4), "key,");
  const CliRun two = RunCliCaptured({"artifacts", hive, "services", "control_sets", "--csv"});
  EXPECT_EQ(two.out.substr(0, 12), "# services\r\n");
  EXPECT_NE(two.out.find("\r\n\r\n# control_sets\r\nkey,current,"), std::string::npos);
}

TEST(CliArtifactsTest, DamagedRecordsGiveStatusFive) {
  const std::string hive = WriteScratchFile("artifacts-damaged.hive", ServicesHive(true));
  const CliRun json = RunCliCaptured({"artifacts", hive, "services", "--json"});
  EXPECT_EQ(json.code, 5);
  const auto lines = Lines(json.out);
  ASSERT_EQ(lines.size(), 2u);
  const auto damaged = nlohmann::json::parse(lines[1]);
  EXPECT_EQ(damaged["damaged"], true);
  EXPECT_FALSE(damaged["error"].get<std::string>().empty());
  EXPECT_NE(json.err.find("1 record could not be decoded whole"), std::string::npos);
  const CliRun text = RunCliCaptured({"artifacts", hive, "services"});
  EXPECT_EQ(text.code, 5);
  EXPECT_NE(Lines(text.out).at(3).find("\tdamaged\t"), std::string::npos);
}

TEST(CliArtifactsTest, NothingFoundIsStatusThree) {
  const std::string unknown = WriteScratchFile("artifacts-unknown.hive", TreeHive().Key("Nothing").Build());
  const CliRun r = RunCliCaptured({"artifacts", unknown});
  EXPECT_EQ(r.code, 3);
  EXPECT_NE(r.err.find("not recognised"), std::string::npos);
  const std::string system = WriteScratchFile("artifacts-empty-system.hive", ServicesHive(false));
  EXPECT_EQ(RunCliCaptured({"artifacts", system, "bam"}).code, 3);
}

TEST(CliArtifactsTest, WithLendsAccountNamesForSids) {
  TreeHive software;
  const std::string p = "Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-9-9-9-1001";
  software.Value(p, "ProfileImagePath", RegExpandSz, Sz(u"C:\\Users\\alice"));
  TreeHive system;
  system.Value("Select", "Current", RegDword, Dword(1));
  system.Value("ControlSet001\\Services\\bam\\State\\UserSettings\\S-1-5-21-9-9-9-1001", "a.exe", RegBinary,
               Bytes(24, 1));
  system.Value("ControlSet001\\Services\\bam\\State\\UserSettings\\S-1-5-18", "b.exe", RegBinary, Bytes(24, 1));
  const std::string sys = WriteScratchFile("artifacts-with-system.hive", system.Build());
  const std::string soft = WriteScratchFile("artifacts-with-software.hive", software.Build());
  const CliRun r = RunCliCaptured({"artifacts", sys, "bam", "--json", "--with", soft});
  EXPECT_EQ(r.code, 0);
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(nlohmann::json::parse(lines[0])["user"], "alice");
  EXPECT_TRUE(nlohmann::json::parse(lines[1])["user"].is_null());
  const CliRun without = RunCliCaptured({"artifacts", sys, "bam", "--json"});
  EXPECT_TRUE(nlohmann::json::parse(Lines(without.out).at(0))["user"].is_null());
}

std::string Rot13(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>('a' + (c - 'a' + 13) % 26);
    else if (c >= 'A' && c <= 'Z')
      c = static_cast<char>('A' + (c - 'A' + 13) % 26);
  }
  return s;
}

// A user hive: its Count key written in 2019, a program last run in 2012.
std::string TimelineHive() {
  TreeHive t;
  t.Key("Console");
  const std::string count = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist\\{G}\\Count";
  Bytes v5(72, 0);
  v5[4] = 4;
  const uint64_t run = 130000000000000001ull;  // 2012-12-14T23:06:40.0000001Z
  for (int i = 0; i < 8; ++i) v5[60 + i] = static_cast<uint8_t>(run >> (8 * i));
  t.Value(count, Rot13("C:\\x, \"y\".exe"), RegBinary, v5);
  t.Time(count, 132000000000000000ull);  // 2019-04-17T18:40:00Z
  return WriteScratchFile("artifacts-timeline.hive", t.Build());
}

TEST(CliArtifactsTest, TimelineTakesInArtifactTimes) {
  const std::string hive = TimelineHive();
  const std::string key = "ROOT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist\\{G}\\Count";
  const CliRun csv = RunCliCaptured({"timeline", hive, "--artifacts"});
  EXPECT_EQ(csv.code, 0);
  EXPECT_EQ(csv.out.substr(0, 38), "LastWritten,Path,Subkeys,Values,Event\r");
  EXPECT_NE(csv.out.find("2019-04-17T18:40:00.0000000Z," + key + ",0,1,\r\n"), std::string::npos);
  const std::string event =
      "2012-12-14T23:06:40.0000001Z," + key + ",,,\"userassist: last run C:\\x, \"\"y\"\".exe (4 runs)\"\r\n";
  const size_t at = csv.out.find(event);
  ASSERT_NE(at, std::string::npos) << csv.out;
  // After the 2019 key, before the keys of no time (1601).
  EXPECT_GT(at, csv.out.find("2019-04-17T18:40:00"));
  EXPECT_LT(at, csv.out.find("1601-01-01"));
  const CliRun deleted = RunCliCaptured({"timeline", hive, "--artifacts", "--deleted"});
  EXPECT_NE(deleted.out.find("LastWritten,Path,Subkeys,Values,Deleted,Event\r\n"), std::string::npos);
  EXPECT_NE(deleted.out.find("," + key + ",,,,\"userassist"), std::string::npos);
  const CliRun body = RunCliCaptured({"timeline", hive, "--artifacts", "--format", "bodyfile"});
  EXPECT_NE(
      body.out.find("0|" + key + " (userassist: last run C:\\x, \"y\".exe (4 runs))|0|0|0|0|0|0|1355526400|0|0\n"),
      std::string::npos)
      << body.out;
  const CliRun json = RunCliCaptured({"timeline", hive, "--artifacts", "--json"});
  const auto lines = Lines(json.out);
  nlohmann::json last;
  for (const std::string& line : lines) {
    if (line.find("\"artifact\"") != std::string::npos) last = nlohmann::json::parse(line);
  }
  EXPECT_EQ(last["time"], "2012-12-14T23:06:40.0000001Z");
  EXPECT_EQ(last["artifact"], "userassist");
  EXPECT_EQ(last["field"], "last_run");
  EXPECT_EQ(last["path"], key);
  const CliRun plain = RunCliCaptured({"timeline", hive});
  EXPECT_EQ(plain.out.find("userassist"), std::string::npos);
}

}  // namespace
}  // namespace cellbrook::test
