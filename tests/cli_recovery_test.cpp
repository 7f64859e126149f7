// cellbrook-cli on dirty hives: logs applied by default, --no-logs, --log,
// info and recover.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "cli_support.h"
#include "hive_builder.h"
#include "shared_hives.h"

namespace cellbrook {
namespace {

using test::RunCliCaptured;

std::string Dirty(const std::string& relative) { return test::SharedHivesDir() + "/dirty/" + relative; }

TEST(CliRecovery, DirtyHivesAreReadWithTheirLogsApplied) {
  SKIP_WITHOUT_SHARED_HIVES();
  struct Case {
    std::string hive, expected, prefix;
    std::vector<std::string> options;
    std::string stderrLine;
  } cases[] = {
      {"transactions_NTUSER/transactions_NTUSER.DAT",
       "transactions_NTUSER.DAT.recovered",
       "HKEY_CURRENT_USER",
       {},
       "Recovered from transaction logs: transactions_ntuser.dat.log1 (entries 566-588, 132 "
       "pages); transactions_ntuser.dat.log2 is stale.\n"},
      {"transactions_NTUSER/transactions_NTUSER.DAT",
       "transactions_NTUSER.DAT.asis",
       "HKEY_CURRENT_USER",
       {"--no-logs"},
       "The hive is dirty and its transaction logs were not applied (--no-logs); recent changes "
       "may be missing.\n"},
      {"UsrClass/UsrClass.dat",
       "UsrClass.dat.recovered",
       "HKEY_CLASSES_ROOT",
       {"--log", Dirty("UsrClass/UsrClass.dat.LOG1"), "--log", Dirty("UsrClass/UsrClass.dat.LOG2")},
       "Recovered from transaction logs: UsrClass.dat.LOG1 (entries 287-290, 53 pages), "
       "UsrClass.dat.LOG2 (entries 291-300, 105 pages).\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> keys = {"keys", Dirty(c.hive)};
    keys.insert(keys.end(), c.options.begin(), c.options.end());
    const test::CliRun listed = RunCliCaptured(keys);
    EXPECT_EQ(listed.code, 0) << c.expected;
    EXPECT_EQ(listed.err, c.stderrLine) << c.expected;
    EXPECT_TRUE(listed.out == test::ExpectedFile("../dirty/expected/" + c.expected, "keys")) << c.expected;
    const std::string out = test::ScratchPath("dirty.reg");
    std::vector<std::string> exported = {"export", Dirty(c.hive), "ROOT", out, "--prefix", c.prefix};
    exported.insert(exported.end(), c.options.begin(), c.options.end());
    EXPECT_EQ(RunCliCaptured(exported).code, 0) << c.expected;
    EXPECT_TRUE(test::ReadFileBytes(out) == test::ExpectedFile("../dirty/expected/" + c.expected, "reg")) << c.expected;
  }
}

TEST(CliRecovery, DirtyWithoutLogsWarnsAndReadsTheFile) {
  SKIP_WITHOUT_SHARED_HIVES();
  const std::string copy = test::WriteScratchFile("lonely.dat", std::vector<uint8_t>([] {
                                                    const std::string b =
                                                        test::ReadFileBytes(Dirty("UsrClass/UsrClass.dat"));
                                                    return std::vector<uint8_t>(b.begin(), b.end());
                                                  }()));
  const test::CliRun r = RunCliCaptured({"keys", copy});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err,
            "The hive is dirty and no usable transaction log was found; recent changes may be "
            "missing.\n");
}

TEST(CliRecovery, InfoAndRecover) {
  SKIP_WITHOUT_SHARED_HIVES();
  const std::string hive = Dirty("UsrClass/UsrClass.dat");
  const test::CliRun info = RunCliCaptured({"info", hive});
  EXPECT_EQ(info.code, 0);
  for (const char* fact : {"Sequence numbers: primary 256, secondary 255", "State: dirty", "UsrClass.dat.LOG1",
                           "applied: entries 291-300, 105 pages"}) {
    EXPECT_NE(info.out.find(fact), std::string::npos) << fact;
  }
  const test::CliRun json = RunCliCaptured({"info", hive, "--json"});
  EXPECT_EQ(json.code, 0);
  EXPECT_EQ(json.out.front(), '{');
  EXPECT_NE(json.out.find("\"state\":\"dirty\""), std::string::npos);

  const std::string out = test::ScratchPath("recovered.dat");
  const test::CliRun rec = RunCliCaptured({"recover", hive, out});
  EXPECT_EQ(rec.code, 0) << rec.err;
  const std::string bytes = test::ReadFileBytes(out);
  ASSERT_GE(bytes.size(), 4096u + 2830336u);
  EXPECT_EQ(test::Sha256Hex(bytes.substr(4096, 2830336)),
            "ecc04a58aa3d2467871e80e393eb8469a5fdd425f37fc88f55308efc2f384930");
  // The rebuilt file is clean: equal sequence numbers, correct checksum.
  const test::CliRun again = RunCliCaptured({"recover", out, test::ScratchPath("twice.dat")});
  EXPECT_EQ(again.code, 3);
  EXPECT_EQ(again.err, "The hive is clean: there is nothing to recover.\n");

  for (const std::string& target : {hive, Dirty("UsrClass/UsrClass.dat.LOG2")}) {
    const test::CliRun refused = RunCliCaptured({"recover", hive, target});
    EXPECT_EQ(refused.code, 4);
    EXPECT_EQ(refused.err, "This is the hive being read (or one of its logs): it is never written.\n");
  }
}

TEST(CliRecovery, LogOptionsAreChecked) {
  EXPECT_EQ(RunCliCaptured({"keys", "h", "--log"}).code, 1);
  EXPECT_EQ(RunCliCaptured({"keys", "h", "--no-logs", "--log", "x"}).code, 1);
  EXPECT_EQ(RunCliCaptured({"info"}).code, 1);
  EXPECT_EQ(RunCliCaptured({"recover", "h"}).code, 1);
}

// A --log that cannot be opened is an error, not a hive read without it.
TEST(CliRecovery, NamedLogThatCannotBeOpenedIsAnError) {
  const std::string hive = test::WriteScratchFile("named-log.hive", test::BuildSampleHive().image);
  const std::string folder = test::ScratchPath("named-log-folder");
  ::mkdir(folder.c_str(), 0777);
  struct Case {
    std::string log;
    const char* why;
  } cases[] = {
      {test::ScratchPath("typo.LOG1"), "No such file or directory"},
      {folder, "it is not a regular file"},
  };
  for (const Case& c : cases) {
    for (const char* command : {"keys", "info", "export"}) {
      std::vector<std::string> args = {command, hive};
      if (args[0] == "export") args.insert(args.end(), {"ROOT", test::ScratchPath("never.reg")});
      args.insert(args.end(), {"--log", c.log});
      const test::CliRun r = RunCliCaptured(args);
      EXPECT_EQ(r.code, 2) << command << " " << c.log;
      EXPECT_EQ(r.err, "Can not open transaction log " + c.log + ": " + c.why + ".\n") << command;
      EXPECT_EQ(r.out, "") << command;
    }
  }
  // A good one next to it is read.
  const std::string log = test::WriteScratchFile("named-log.hive.LOG1", test::Bytes(600, 0));
  EXPECT_EQ(RunCliCaptured({"keys", hive, "--log", log}).code, 0);
}

}  // namespace
}  // namespace cellbrook
