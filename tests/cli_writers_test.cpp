// cellbrook-cli's writers: what they write, what they leave out, and the
// files they refuse to touch.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "cli_support.h"
#include "hive_builder.h"
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

}  // namespace
}  // namespace cellbrook
