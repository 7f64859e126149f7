// cellbrook-cli deleted: one record a line, or JSON Lines.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "cli_support.h"
#include "shared_hives.h"

namespace cellbrook {
namespace {

using test::RunCliCaptured;

TEST(CliDeleted, LinesAndJsonAgreeWithTheExpectedRecords) {
  if (!test::SharedHivesPresent()) GTEST_SKIP() << "shared hives not found; skipping";
  const std::string hive = test::SharedHivesDir() + "/SAM";
  const test::CliRun lines = RunCliCaptured({"deleted", hive});
  ASSERT_EQ(lines.code, 0) << lines.err;
  // Every expected key path appears as a key line of its own.
  std::istringstream expected(test::ExpectedFile("SAM", "deleted.tsv"));
  std::string row;
  size_t keys = 0;
  while (std::getline(expected, row)) {
    if (row.rfind("key\t", 0) != 0) continue;
    ++keys;
    EXPECT_NE(lines.out.find(row + "\t"), std::string::npos) << row;
  }
  EXPECT_GT(keys, 0u);

  const test::CliRun json = RunCliCaptured({"deleted", hive, "--json"});
  ASSERT_EQ(json.code, 0);
  std::istringstream records(json.out);
  size_t count = 0;
  while (std::getline(records, row)) {
    const nlohmann::json record = nlohmann::json::parse(row);
    EXPECT_TRUE(record["record"] == "key" || record["record"] == "value") << row;
    EXPECT_EQ(record["cell"].get<std::string>().rfind("0x", 0), 0u);
    ++count;
  }
  EXPECT_EQ(count, static_cast<size_t>(std::count(lines.out.begin(), lines.out.end(), '\n')));
}

TEST(CliDeleted, RegWritesWhatCanBeRestoredAndSaysWhatWasLeftOut) {
  if (!test::SharedHivesPresent()) GTEST_SKIP() << "shared hives not found; skipping";
  const std::string out = test::ScratchPath("deleted.reg");
  const test::CliRun r =
      RunCliCaptured({"deleted", test::SharedHivesDir() + "/NTUSER.DAT", "--reg", out, "--prefix", "HKEY_USERS\\S-1"});
  EXPECT_EQ(r.code, 0) << r.err;
  // Every deleted key of this hive lies after the bins with a broken chain.
  EXPECT_EQ(r.err,
            "Left out of the registry file: 103 keys whose path does not reach the root "
            "and 415 values no restorable key lists.\n");
  const std::string file = test::ReadFileBytes(out);
  ASSERT_GE(file.size(), 78u);
  EXPECT_EQ(file.substr(0, 4), std::string("\xFF\xFEW\0", 4));
}

TEST(CliDeleted, FindAndTimelineTakeInDeletedRecords) {
  if (!test::SharedHivesPresent()) GTEST_SKIP() << "shared hives not found; skipping";
  const std::string hive = test::SharedHivesDir() + "/NTUSER.DAT";
  EXPECT_EQ(RunCliCaptured({"find", hive, "tsmigplugin"}).code, 3);  // only deleted keys hold it
  const test::CliRun found = RunCliCaptured({"find", hive, "tsmigplugin", "--deleted"});
  EXPECT_EQ(found.code, 0) << found.err;
  EXPECT_NE(found.out.find("key\t?\\f256!tsmigplugin.dll\tdeleted\n"), std::string::npos);

  const test::CliRun timeline = RunCliCaptured({"timeline", test::SharedHivesDir() + "/SAM", "--deleted"});
  EXPECT_EQ(timeline.code, 0) << timeline.err;
  EXPECT_EQ(timeline.out.rfind("LastWritten,Path,Subkeys,Values,Deleted\r\n", 0), 0u);
  EXPECT_NE(timeline.out.find(",ROOT\\SAM\\Domains\\Builtin\\Aliases\\Names\\Power Users,0,"), std::string::npos);
  EXPECT_NE(timeline.out.find(",yes\r\n"), std::string::npos);
  const test::CliRun body =
      RunCliCaptured({"timeline", test::SharedHivesDir() + "/SAM", "--deleted", "--format", "bodyfile"});
  EXPECT_NE(body.out.find("Names\\Power Users %28deleted%29|"), std::string::npos);
}

TEST(CliDeleted, Usage) {
  EXPECT_EQ(RunCliCaptured({"deleted"}).code, 1);
  EXPECT_EQ(RunCliCaptured({"deleted", "a", "b"}).code, 1);
  EXPECT_EQ(RunCliCaptured({"deleted", "a", "--prefix", "P"}).code, 1);
  EXPECT_EQ(RunCliCaptured({"deleted", "a", "--reg", "x", "--json"}).code, 1);
}

}  // namespace
}  // namespace cellbrook
