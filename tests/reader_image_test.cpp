// Binding an image and walking bins.
#include <gtest/gtest.h>

#include <cstring>

#include "hive_builder.h"
#include "hive/hive_reader.h"

namespace cellbrook {
namespace {

using test::Bytes;

TEST(AttachImage, AcceptsOnlyTheExactSignature) {
  struct Case {
    Bytes block;
    bool binds;
  } cases[] = {
      {{'r', 'e', 'g', 'f'}, true},  {{'r', 'e', 'g', 'f', 0xFF, 0x00}, true},
      {{'R', 'E', 'G', 'F'}, false}, {{'f', 'g', 'e', 'r'}, false},
      {{'r', 'e', 'g'}, false},      {{}, false},
  };
  for (const Case& c : cases) {
    HiveImage image;
    const uint8_t* data = c.block.empty() ? nullptr : c.block.data();
    EXPECT_EQ(AttachImage(image, data, static_cast<uint32_t>(c.block.size())), c.binds);
    if (c.binds) {
      EXPECT_EQ(image.Image, data);
    }
  }
}

TEST(AttachImage, FailureKeepsTheFormerBinding) {
  Bytes good = {'r', 'e', 'g', 'f'}, bad = {'x', 'x', 'x', 'x'};
  HiveImage image;
  ASSERT_TRUE(AttachImage(image, good.data(), 4));
  EXPECT_FALSE(AttachImage(image, bad.data(), 4));
  EXPECT_EQ(image.Image, good.data());
  EXPECT_EQ(image.Header, bad.data());
}

// The file offset FindBin reaches, or -1.
int64_t Bin(const HiveImage& image, int32_t steps, uint64_t start = 4096) {
  uint64_t out = 0;
  return FindBin(image, steps, start, out) ? static_cast<int64_t>(out) : -1;
}

TEST(AttachImage, FourByteHiveBindsButHasNoRoot) {
  test::BoundHive hive(Bytes{'r', 'e', 'g', 'f'});
  KeyInfo root;
  EXPECT_FALSE(GetRootKey(hive.image, root));
  EXPECT_EQ(Bin(hive.image, 0), -1);
}

// Three bins: 4096, 8192 and 4096 bytes.
Bytes ThreeBins() {
  Bytes image(4096 + 4096 + 8192 + 4096, 0);
  std::memcpy(image.data(), "regf", 4);
  const uint32_t starts[] = {0, 4096, 12288}, sizes[] = {4096, 8192, 4096};
  for (int i = 0; i < 3; ++i) {
    uint8_t* bin = image.data() + 4096 + starts[i];
    std::memcpy(bin, "hbin", 4);
    std::memcpy(bin + 4, &starts[i], 4);
    std::memcpy(bin + 8, &sizes[i], 4);
  }
  return image;
}

TEST(FindBin, StepsForwardAndBack) {
  test::BoundHive hive(ThreeBins());
  const int64_t first = 4096, third = 4096 + 12288;
  EXPECT_EQ(Bin(hive.image, 0), first);
  EXPECT_EQ(Bin(hive.image, 2), third);
  EXPECT_EQ(Bin(hive.image, 3), -1);  // past the end
  EXPECT_EQ(Bin(hive.image, -1, third), first);
  EXPECT_EQ(Bin(hive.image, -1, first), -1);
  EXPECT_EQ(Bin(hive.image, -2, third), -1);
}

TEST(FindBin, ZeroSizeOrMissingSignatureGivesNull) {
  Bytes image = ThreeBins();
  std::memset(image.data() + 4096 + 4096 + 8, 0, 4);  // second bin's size
  test::BoundHive zero(image);
  EXPECT_EQ(Bin(zero.image, 2), -1);

  image = ThreeBins();
  image[4096] = 'H';
  test::BoundHive unsigned_(image);
  EXPECT_EQ(Bin(unsigned_.image, 0), -1);
}

TEST(FindBin, HugeBinSizeLeavesTheImage) {
  Bytes image = ThreeBins();
  const uint32_t huge = 0xFFFFFFF0u;
  std::memcpy(image.data() + 4096 + 8, &huge, 4);
  test::BoundHive hive(image);
  EXPECT_EQ(Bin(hive.image, 1), -1);
  EXPECT_EQ(Bin(hive.image, 0x7FFFFFFF), -1);
}

TEST(Reader, ChecksumAndSequenceNumbersAreIgnored) {
  test::SampleHive s = test::BuildSampleHive();
  s.image[4] = 1;         // primary sequence number differs from the secondary
  s.image[0x1FC] = 0xAB;  // checksum
  test::BoundHive hive(s.image);
  KeyInfo root;
  ASSERT_TRUE(GetRootKey(hive.image, root));
  EXPECT_EQ(root.SubkeyCount, 2u);
}

}  // namespace
}  // namespace cellbrook
