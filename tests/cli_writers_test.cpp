// cellbrook-cli's writers: what they write, what they leave out, and the
// files they refuse to touch.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "cli_support.h"
#include "hive_builder.h"
#include "log_builder.h"
#include "regtext_reader.h"
#include "shared_hives.h"

namespace cellbrook {
namespace {

using test::Bytes;
using test::HiveBuilder;
using test::RunCliCaptured;

// ROOT\Good, ROOT\Bad<CR>Name (with a subkey), ROOT\Back\slash, and a value
// whose name holds LF under ROOT\Good.
std::string AwkwardNamesHive() {
  HiveBuilder b;
  const uint32_t root = b.Key("root");
  const uint32_t good = b.Key("Good", root);
  const uint32_t bad = b.Key("Bad\rName", root);
  const uint32_t below = b.Key("Below", bad);
  const uint32_t slash = b.Key("Back\\slash", root);
  b.SetSubkeys(bad, {below});
  b.SetSubkeys(root, {good, bad, slash});
  b.SetValues(good, {b.Value("line\nbreak", 4, {1, 0, 0, 0}), b.Value("kept", 4, {2, 0, 0, 0})});
  b.SetValues(below, {b.Value("lost", 4, {3, 0, 0, 0})});
  b.SetRoot(root);
  return test::WriteScratchFile("awkward-names.hive", b.Image());
}

TEST(CliWriters, ExportLeavesOutWhatRegistryTextCannotCarry) {
  const std::string hive = AwkwardNamesHive();
  const std::string out = test::ScratchPath("awkward.reg");
  const test::CliRun r = RunCliCaptured({"export", hive, "ROOT", out});
  EXPECT_EQ(r.code, 5);
  EXPECT_EQ(r.err, "2 keys and 1 value could not be written: their names hold characters registry text "
                   "cannot carry (first at ROOT\\Good); everything else was written.\n");
  const std::vector<test::RegKey> keys = test::ParseRegText(test::ReadFileBytes(out));
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].path, "HKEY_CURRENT_USER");
  EXPECT_EQ(keys[1].path, "HKEY_CURRENT_USER\\Good");
  ASSERT_EQ(keys[1].values.size(), 1u);
  EXPECT_EQ(keys[1].values[0].name, "kept");

  // A start key whose own name cannot be written is no export at all.
  const test::CliRun own = RunCliCaptured({"export", hive, "ROOT\\Bad\rName\\Below", out});
  EXPECT_EQ(own.code, 4);
  EXPECT_NE(own.err.find("Key path cannot be written"), std::string::npos) << own.err;
}

// A folder holding a dirty hive H (sequence numbers 11 and 10), its log
// H.LOG1 (entries 10 and 11), a lower-case twin H.log1, an H.LOG2, and
// links to the hive and the lower-case log.
struct EvidenceFolder {
  std::string dir, hive, log1, lowerLog1, log2, hardLink, symLink, logLink;
};

EvidenceFolder MakeEvidenceFolder() {
  EvidenceFolder f;
  f.dir = test::ScratchPath("evidence");
  ::mkdir(f.dir.c_str(), 0777);
  f.hive = f.dir + "/H";
  f.log1 = f.dir + "/H.LOG1";
  f.lowerLog1 = f.dir + "/H.log1";
  f.log2 = f.dir + "/H.LOG2";
  f.hardLink = f.dir + "/hard-link";
  f.symLink = f.dir + "/sym-link";
  f.logLink = f.dir + "/log-link";
  Bytes primary = test::BuildSampleHive().image;
  test::AppendEmptyBins(primary, 3);
  primary = test::WithSequences(primary, 11, 10);
  constexpr uint32_t kBins = 4 * 4096;
  std::vector<Bytes> entries;
  for (uint32_t s : {10u, 11u}) entries.push_back(test::NewLogEntry(s, kBins, {{4096, test::EmptyBin(4096, 0x41)}}));
  const Bytes log = test::NewFormatLog(test::LogBaseBlock(primary, 10, 6), entries);
  for (const std::string& p : {f.hardLink, f.symLink, f.logLink}) std::remove(p.c_str());
  auto write = [](const std::string& path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  };
  write(f.hive, primary);
  write(f.log1, log);
  write(f.lowerLog1, log);
  write(f.log2, log);
  EXPECT_EQ(::link(f.hive.c_str(), f.hardLink.c_str()), 0);
  EXPECT_EQ(::symlink(f.hive.c_str(), f.symLink.c_str()), 0);
  EXPECT_EQ(::symlink("H.log1", f.logLink.c_str()), 0);
  return f;
}

// Every writer refuses every name of the evidence, and leaves it as it was.
TEST(CliWriters, NoWriterWritesTheHiveOrItsLogs) {
  const EvidenceFolder f = MakeEvidenceFolder();
  const std::string hiveBytes = test::ReadFileBytes(f.hive);
  const std::string logBytes = test::ReadFileBytes(f.log1);
  struct Target {
    const char* what;
    std::string path;
    std::vector<std::string> options;
  } targets[] = {
      {"the hive", f.hive, {}},
      {"a hard link to the hive", f.hardLink, {}},
      {"a symbolic link to the hive", f.symLink, {}},
      {"its log", f.log1, {}},
      {"a lower-case log beside the upper-case one", f.lowerLog1, {}},
      {"a link to the lower-case log", f.logLink, {}},
      {"the hive by another spelling", f.dir + "/./H", {}},
      {"a log beside, with another named", f.log1, {"--log", f.log2}},
      {"the named log", f.log2, {"--log", f.log2}},
  };
  for (const Target& t : targets) {
    const std::vector<std::vector<std::string>> commands = {
        {"export", f.hive, "ROOT", t.path},
        {"save", f.hive, "ROOT\\Software\\Sample", "Count", t.path},
        {"deleted", f.hive, "--reg", t.path},
        {"recover", f.hive, t.path},
    };
    for (std::vector<std::string> args : commands) {
      args.insert(args.end(), t.options.begin(), t.options.end());
      const test::CliRun r = RunCliCaptured(args);
      EXPECT_EQ(r.code, 4) << args[0] << " onto " << t.what << ": " << r.err;
      EXPECT_NE(r.err.find("This is the hive being read (or one of its logs): it is never written.\n"),
                std::string::npos)
          << args[0] << " onto " << t.what << ": " << r.err;
      EXPECT_TRUE(test::ReadFileBytes(f.hive) == hiveBytes) << args[0] << " onto " << t.what;
      for (const std::string& log : {f.log1, f.lowerLog1, f.log2}) {
        EXPECT_TRUE(test::ReadFileBytes(log) == logBytes) << args[0] << " onto " << t.what;
      }
    }
  }
  // Another file is written as asked.
  const std::string other = f.dir + "/other.reg";
  EXPECT_EQ(RunCliCaptured({"export", f.hive, "ROOT", other}).code, 0);
  EXPECT_EQ(RunCliCaptured({"recover", f.hive, f.dir + "/recovered"}).code, 0);
}

}  // namespace
}  // namespace cellbrook
