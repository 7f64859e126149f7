// The real hives: key listings and whole exports against their expected files.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "cli_support.h"
#include "hive/hive_file.h"
#include "regtext_reader.h"
#include "shared_hives.h"

namespace cellbrook {
namespace {

TEST(SharedHives, KeyListingsMatchExactly) {
  SKIP_WITHOUT_SHARED_HIVES();
  for (const test::SharedHive& h : test::SharedHives()) {
    const test::CliRun r = test::RunCliCaptured({"keys", h.path});
    EXPECT_EQ(r.code, 0) << h.name << r.err;
    const std::string expected = test::ExpectedFile(h.name, "keys");
    EXPECT_TRUE(r.out == expected) << h.name << ": the listing differs from expected/" << h.name << ".keys.xz";
    EXPECT_EQ(static_cast<size_t>(std::count(r.out.begin(), r.out.end(), '\n')), h.keys) << h.name;
  }
}

TEST(SharedHives, WholeExportsMatchTheManifest) {
  SKIP_WITHOUT_SHARED_HIVES();
  for (const test::SharedHive& h : test::SharedHives()) {
    const std::string out = test::ScratchPath(h.name + ".reg");
    const test::CliRun r = test::RunCliCaptured({"export", h.path, "ROOT", out, "--prefix", h.prefix});
    ASSERT_EQ(r.code, 0) << h.name << r.err;
    const std::string written = test::ReadFileBytes(out);
    std::remove(out.c_str());
    EXPECT_EQ(test::Sha256Hex(written), h.sha256) << h.name;
    EXPECT_TRUE(written == test::ExpectedFile(h.name, "reg")) << h.name;

    // And the importer reads back every value's type and bytes.
    HiveBlock block;
    HiveImage image;
    ASSERT_EQ(LoadHiveFile(h.path, block, image), LoadOutcome::Loaded);
    KeyInfo root;
    ASSERT_TRUE(GetRootKey(image, root));
    EXPECT_EQ(test::CompareWithHive(image, root, h.prefix, test::ParseRegText(written)), "") << h.name;
  }
}

}  // namespace
}  // namespace cellbrook
