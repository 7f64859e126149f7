// Hives found in disk images: placement, fragments, rebuilt base blocks,
// images cut short, and the carve command.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "carve_images.h"
#include "cli_support.h"
#include "export/whole_file_write.h"
#include "hive/hive_reader.h"
#include "recover/carve/hive_carver.h"
#include "shared_hives.h"

namespace cellbrook {
namespace {

using test::Bytes;
using test::IndexKind;

// Bins [fromBin, toBin) of hive `hive` planted at `at`; with the base block
// in the 4096 bytes before when `withBase`.
struct Piece {
  int hive;
  size_t fromBin, toBin;
  uint64_t at;
  bool withBase;
};
struct Expected {
  uint64_t offset;
  size_t fragments;
  bool baseFound, complete;
};
struct Layout {
  const char* name;
  std::vector<Piece> pieces;
  std::vector<Expected> hives;
  uint64_t imageSize = 0x100000;  // 0: the image ends right after the pieces, less `cut`
  uint64_t cut = 0;
};

std::vector<Bytes> TwoHives() { return {test::MultiBinHive(4), test::MultiBinHive(3)}; }

Bytes Build(const Layout& layout, const std::vector<Bytes>& hives) {
  Bytes image = test::JunkImage(layout.imageSize);
  for (const Piece& p : layout.pieces) {
    const Bytes& h = hives[p.hive];
    const auto starts = test::BinStarts(h);
    if (p.withBase) test::Plant(image, p.at - 4096, test::Slice(h, 0, 4096));
    test::Plant(image, p.at, test::Slice(h, starts[p.fromBin], starts[p.toBin]));
  }
  if (layout.cut != 0) image.resize(image.size() - layout.cut);
  return image;
}

const std::vector<Layout>& Layouts() {
  static const std::vector<Layout> layouts = {
      {"AtClusterOffset", {{0, 0, 5, 0x21000, true}}, {{0x20000, 1, true, true}}},
      {"AtOddSector", {{0, 0, 5, 0x21000 + 7 * 512, true}}, {{0x20000 + 7 * 512, 1, true, true}}},
      {"TwoFragments", {{0, 0, 2, 0x11000, true}, {0, 2, 5, 0x80000 + 3 * 512, false}}, {{0x10000, 2, true, true}}},
      {"ThreeFragments",
       {{0, 0, 1, 0x11000, true}, {0, 1, 3, 0x40000, false}, {0, 3, 5, 0x90200, false}},
       {{0x10000, 3, true, true}}},
      {"BaseBlockWiped", {{0, 0, 5, 0x30200, false}}, {{0x30200, 1, false, true}}},
      {"WipedAndSplit", {{0, 0, 2, 0x30000, false}, {0, 2, 5, 0x60000, false}}, {{0x30000, 2, false, true}}},
      {"FragmentsInterleave",
       {{0, 0, 2, 0x11000, true}, {1, 0, 2, 0x21000, true}, {0, 2, 5, 0x40000, false}, {1, 2, 4, 0x50000, false}},
       {{0x10000, 2, true, true}, {0x20000, 2, true, true}}},
      {"CutByImageEnd", {{0, 0, 5, 0x21000, true}}, {{0x20000, 1, true, false}}, 0, 3000},
      {"FragmentMissing", {{0, 0, 3, 0x21000, true}}, {{0x20000, 1, true, false}}},
      {"SecondHiveAfterFirst",
       {{1, 0, 4, 0x11000, true}, {0, 0, 5, 0x21000, true}},
       {{0x10000, 1, true, true}, {0x20000, 1, true, true}}},
  };
  return layouts;
}

class CarveLayout : public testing::TestWithParam<Layout> {};

// The bins of hive `h` that the pieces put in the image, in bins order, as
// far as the image holds them.
Bytes ExpectedBins(const Layout& layout, const std::vector<Bytes>& hives, int h, uint64_t imageSize) {
  Bytes out;
  for (const Piece& p : layout.pieces) {
    if (p.hive != h) continue;
    const auto starts = test::BinStarts(hives[h]);
    const uint64_t length = starts[p.toBin] - starts[p.fromBin];
    const uint64_t present = std::min(length, imageSize > p.at ? imageSize - p.at : 0);
    const Bytes bins = test::Slice(hives[h], starts[p.fromBin], starts[p.fromBin] + present);
    out.insert(out.end(), bins.begin(), bins.end());
  }
  return out;
}

TEST_P(CarveLayout, FoundAtItsOffsetWithItsBinsExact) {
  const Layout& layout = GetParam();
  const std::vector<Bytes> hives = TwoHives();
  Layout sized = layout;
  if (sized.imageSize == 0) {
    for (const Piece& p : layout.pieces) {
      const auto starts = test::BinStarts(hives[p.hive]);
      sized.imageSize = std::max(sized.imageSize, p.at + starts[p.toBin] - starts[p.fromBin]);
    }
  }
  const Bytes image = Build(sized, hives);
  test::MemoryImage source(image);
  const CarveReport report = CarveImage(source);
  ASSERT_EQ(report.hives.size(), layout.hives.size());
  for (size_t i = 0; i < layout.hives.size(); ++i) {
    const CarvedHive& found = report.hives[i];
    const Expected& want = layout.hives[i];
    SCOPED_TRACE("hive " + std::to_string(i));
    EXPECT_EQ(found.offset, want.offset);
    EXPECT_EQ(found.fragments.size(), want.fragments);
    EXPECT_EQ(found.baseBlockFound, want.baseFound);
    EXPECT_EQ(found.complete, want.complete);
    std::string notes;
    for (const auto& n : found.notes) notes += n + "\n";
    if (!want.complete) {
      EXPECT_FALSE(notes.empty());
    }
    if (!want.baseFound) {
      EXPECT_NE(notes.find("rebuilt"), std::string::npos) << notes;
    }

    std::vector<uint8_t> bytes;
    ASSERT_TRUE(AssembleHive(source, found, bytes));
    // The hive whose first piece starts where this one was found.
    int which = -1;
    for (const Piece& p : layout.pieces) {
      if (which < 0 && p.fromBin == 0 && (p.withBase ? p.at - 4096 : p.at) == found.offset) which = p.hive;
    }
    ASSERT_GE(which, 0);
    const Bytes bins = ExpectedBins(layout, hives, which, image.size());
    ASSERT_EQ(bytes.size(), 4096 + bins.size());
    EXPECT_EQ(found.binsFound, bins.size());
    EXPECT_TRUE(std::equal(bins.begin(), bins.end(), bytes.begin() + 4096)) << "bins differ";
    if (want.baseFound) {
      EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 4096, hives[which].begin()));
    }
    // The reader takes every hive found, rebuilt or not.
    HiveImage hive;
    ASSERT_TRUE(AttachImage(hive, bytes.data(), static_cast<uint32_t>(bytes.size())));
    KeyInfo root;
    ASSERT_TRUE(GetRootKey(hive, root));
    EXPECT_EQ(root.Name.Text(), "ROOT-NAME");
    const BaseBlock block = ParseBaseBlock(bytes);
    if (!want.baseFound) {
      EXPECT_TRUE(block.ChecksumValid());
      EXPECT_TRUE(block.SequencesEqual());
      EXPECT_EQ(block.hiveBinsDataSize, bins.size());
      EXPECT_EQ(block.fileType, 0u);
      EXPECT_EQ(found.binsExpected, bins.size());
    } else {
      EXPECT_EQ(found.binsExpected, test::BinStarts(hives[which]).back() - 4096);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Images, CarveLayout, testing::ValuesIn(Layouts()),
                         [](const testing::TestParamInfo<Layout>& info) { return info.param.name; });

TEST(Carve, AmbiguousContinuationsAreLeftOutAndSaid) {
  // Two hives alike, broken at the same offset, their rest interleaved:
  // which rest is whose cannot be told.
  const Bytes h = test::MultiBinHive(3);
  const auto starts = test::BinStarts(h);
  Bytes image = test::JunkImage(0x100000);
  test::Plant(image, 0x10000, test::Slice(h, 0, starts[2]));
  test::Plant(image, 0x20000, test::Slice(h, 0, starts[2]));
  test::Plant(image, 0x40000, test::Slice(h, starts[2], starts[4]));
  test::Plant(image, 0x50000, test::Slice(h, starts[2], starts[4]));
  test::MemoryImage source(image);
  const CarveReport report = CarveImage(source);
  ASSERT_EQ(report.hives.size(), 2u);
  for (const CarvedHive& hive : report.hives) {
    EXPECT_FALSE(hive.complete);
    EXPECT_EQ(hive.fragments.size(), 1u);
    std::string notes;
    for (const auto& n : hive.notes) notes += n + "\n";
    EXPECT_NE(notes.find("ambiguous"), std::string::npos) << notes;
  }
  EXPECT_EQ(report.strayFragments, 2u);
}

TEST(Carve, RebuiltVersionFollowsTheCells) {
  struct Case {
    const char* name;
    IndexKind index;
    bool bigData;
    uint32_t minor;
  };
  for (const Case& c : {Case{"lf", IndexKind::Lf, false, 3}, Case{"lh", IndexKind::Lh, false, 5},
                        Case{"db", IndexKind::Lf, true, 4}, Case{"lh and db", IndexKind::Lh, true, 5}}) {
    SCOPED_TRACE(c.name);
    test::HiveBuilder b;
    const uint32_t root = b.Key("R");
    b.SetRoot(root);
    b.Put16(root + 6, 0x0024);
    b.SetSubkeys(root, {b.Key("A", root), b.Key("B", root)}, c.index);
    if (c.bigData) b.SetValues(root, {b.Value("big", RegBinary, Bytes(40000, 7), test::DataStorage::Big)});
    const Bytes hive = b.Image();
    Bytes image = test::JunkImage(0x40000);
    test::Plant(image, 0x8000, test::Slice(hive, 4096, hive.size()));
    test::MemoryImage source(image);
    const CarveReport report = CarveImage(source);
    ASSERT_EQ(report.hives.size(), 1u);
    EXPECT_FALSE(report.hives[0].baseBlockFound);
    EXPECT_EQ(report.hives[0].baseBlock.minorVersion, c.minor);
    EXPECT_EQ(report.hives[0].baseBlock.rootCell, root);
    EXPECT_TRUE(report.hives[0].complete);
  }
}

TEST(Carve, HeaderlessWithoutRootKeyIsIncomplete) {
  const Bytes hive = test::MultiBinHive(1, false);
  Bytes image = test::JunkImage(0x40000);
  test::Plant(image, 0x8000, test::Slice(hive, 4096, hive.size()));
  test::MemoryImage source(image);
  const CarveReport report = CarveImage(source);
  ASSERT_EQ(report.hives.size(), 1u);
  EXPECT_FALSE(report.hives[0].complete);
  EXPECT_EQ(report.hives[0].baseBlock.rootCell, kNoCell);
  std::string notes;
  for (const auto& n : report.hives[0].notes) notes += n + "\n";
  EXPECT_NE(notes.find("no key node flagged as root"), std::string::npos);
}

TEST(Carve, JunkAndLogHeadersAreNoHives) {
  Bytes image = test::JunkImage(0x80000);
  // A transaction log's copy of a base block, and bin look-alikes whose
  // fields are not those of a bin.
  Bytes log = test::Slice(test::MultiBinHive(0), 0, 4096);
  log[28] = 6;
  test::Plant(image, 0x1000, log);
  for (uint64_t at : {0x4000u, 0x6000u, 0x8000u})
    test::Plant(image, at, {'h', 'b', 'i', 'n', 0, 0x10, 0, 0, 0x10, 0, 0, 0});
  test::Plant(image, 0x9000, {'h', 'b', 'i', 'n', 0, 0, 0, 0, 0, 0x10, 0, 0});
  test::MemoryImage source(image);
  const CarveReport report = CarveImage(source);
  EXPECT_TRUE(report.hives.empty());
  EXPECT_EQ(report.logHeadersSkipped, 1u);
}

TEST(Carve, RunsKeptAreBoundedAndCancelStops) {
  // Every sector a bin of its own: the runs kept stop at the bound, said.
  Bytes image(0x100000, 0);
  for (uint64_t at = 0; at < image.size(); at += 4096) {
    test::Plant(image, at, {'h', 'b', 'i', 'n', 0, 0x10, 0, 0, 0, 0x10, 0, 0});
    test::Plant(image, at + 32, {0xE0, 0x0F, 0, 0});
  }
  test::MemoryImage source(image);
  CarveOptions options;
  options.maxRuns = 16;
  const CarveReport capped = CarveImage(source, options);
  EXPECT_TRUE(capped.runsCapped);
  EXPECT_EQ(capped.runs, 16u);

  std::atomic<bool> cancel{true};
  options.cancel = &cancel;
  EXPECT_TRUE(CarveImage(source, options).cancelled);
}

TEST(Carve, FileNamesStayInTheFolder) {
  struct Case {
    const char* field;
    const char* file;
  };
  for (const Case& c :
       {Case{"\\SystemRoot\\System32\\Config\\SAM", "0x0000001000-SAM.hive"}, Case{"", "0x0000001000-hive.hive"},
        Case{"..", "0x0000001000-hive.hive"}, Case{"a/../b c", "0x0000001000-b_c.hive"},
        Case{"ntuser.dat", "0x0000001000-ntuser.dat.hive"}}) {
    CarvedHive h;
    h.offset = 0x1000;
    h.name = c.field;
    EXPECT_EQ(CarvedFileName(h), c.file) << c.field;
  }
}

TEST(Carve, KeepingWriterNeverReplacesAFile) {
  // The name taken between the writer's start and its commit: the file
  // that appeared stays, and no temporary file is left.
  const std::string folder = test::ScratchPath("keep-writer");
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const std::string target = folder + "/hive";
  WholeFileWrite late(target, false, WholeFileWrite::Existing::Keep);
  ASSERT_TRUE(late.Ready());
  ASSERT_TRUE(late.Write("new", 3));
  test::WriteScratchFile("keep-writer/hive", {'o', 'l', 'd'});
  EXPECT_FALSE(late.Commit());
  EXPECT_TRUE(late.TargetExists());
  EXPECT_EQ(test::ReadFileBytes(target), "old");
  WholeFileWrite early(target, false, WholeFileWrite::Existing::Keep);
  EXPECT_TRUE(early.TargetExists());
  EXPECT_FALSE(early.Ready());
  size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++files;
  EXPECT_EQ(files, 1u);
}

// The command line.

std::string Folder(const std::string& name) {
  const std::string path = test::ScratchPath(name);
  std::system(("rm -rf '" + path + "'").c_str());
  return path;
}

Bytes InterleavedImage() {
  Layout l = Layouts()[6];
  l.pieces.push_back({0, 0, 5, 0x71000 + 512, false});  // a third, headerless
  Bytes image = Build(l, TwoHives());
  // The headerless copy's base block wiped by the junk; the same bins again
  // would join nothing, being a hive from offset 0 of its own.
  return image;
}

TEST(CarveCommand, WritesEachHiveAndSaysWhat) {
  const std::string image = test::WriteScratchFile("carve.img", InterleavedImage());
  const std::string out = Folder("carved");
  const test::CliRun run = test::RunCliCaptured({"carve", image, out});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "0x10000\t24576\t-\tfound\t2\tcomplete\t" + out +
                         "/0x0000010000-hive.hive\n"
                         "0x20000\t20480\t-\tfound\t2\tcomplete\t" +
                         out +
                         "/0x0000020000-hive.hive\n"
                         "0x71200\t24576\t-\trebuilt\t1\tcomplete\t" +
                         out + "/0x0000071200-hive.hive\n");
  EXPECT_NE(run.err.find("hive at 0x71200: no base block before its first bin: base block rebuilt"), std::string::npos);
  // What was written is a hive the reader and info take, without logs.
  for (const char* file : {"/0x0000010000-hive.hive", "/0x0000071200-hive.hive"}) {
    const test::CliRun info = test::RunCliCaptured({"info", out + file, "--no-logs"});
    EXPECT_EQ(info.code, 0) << info.err;
    EXPECT_NE(info.out.find("clean"), std::string::npos) << info.out;
    const test::CliRun keys = test::RunCliCaptured({"keys", out + file, "--no-logs"});
    EXPECT_EQ(keys.code, 0);
    EXPECT_EQ(keys.out, "ROOT\\Software\nROOT\\Software\\Sample\nROOT\\Software\\Sample\\Child\nROOT\\System\n");
  }
  // Again into the same folder: nothing is replaced, and that is a failure.
  const std::string before = test::ReadFileBytes(out + "/0x0000010000-hive.hive");
  const test::CliRun again = test::RunCliCaptured({"carve", image, out});
  EXPECT_EQ(again.code, 4);
  EXPECT_NE(again.err.find("exists and is not replaced"), std::string::npos);
  EXPECT_EQ(test::ReadFileBytes(out + "/0x0000010000-hive.hive"), before);
  const test::CliRun listing = test::RunCliCaptured({"carve", image, out, "--json"});
  EXPECT_EQ(listing.code, 4);
  EXPECT_EQ(listing.out.find("\"file\":null"), listing.out.find("\"file\":"));
  // No temporary file is left behind.
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(out)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names,
            (std::vector<std::string>{"0x0000010000-hive.hive", "0x0000020000-hive.hive", "0x0000071200-hive.hive"}));
}

TEST(CarveCommand, JsonObjects) {
  Layout l = Layouts()[7];  // cut by the image end
  const std::vector<Bytes> hives = TwoHives();
  l.imageSize = 0x21000 + test::BinStarts(hives[0]).back() - 4096;
  const std::string image = test::WriteScratchFile("cut.img", Build(l, hives));
  const std::string out = Folder("carved-json");
  const test::CliRun run = test::RunCliCaptured({"carve", image, out, "--json"});
  ASSERT_EQ(run.code, 0) << run.err;
  const auto o = nlohmann::json::parse(run.out);
  EXPECT_EQ(o["offset"], 0x20000);
  EXPECT_TRUE(o["name"].is_null());
  EXPECT_EQ(o["base_block"], "found");
  EXPECT_EQ(o["fragments"], 1);
  EXPECT_EQ(o["complete"], false);
  EXPECT_EQ(o["bins_expected"], test::BinStarts(hives[0]).back() - 4096);
  EXPECT_EQ(o["bins_found"], test::BinStarts(hives[0]).back() - 4096 - 3000);
  EXPECT_EQ(o["size"], test::BinStarts(hives[0]).back() - 3000);
  EXPECT_EQ(o["file"], out + "/0x0000020000-hive.hive");
  EXPECT_EQ(test::ReadFileBytes(o["file"]).size(), o["size"].get<size_t>());
  EXPECT_NE(run.err.find("the image ends inside its bins"), std::string::npos);
}

TEST(CarveCommand, ExitStatus) {
  const std::string junk = test::WriteScratchFile("junk.img", test::JunkImage(0x20000));
  EXPECT_EQ(test::RunCliCaptured({"carve", junk, Folder("none")}).code, 3);
  EXPECT_EQ(test::RunCliCaptured({"carve", test::ScratchPath("absent.img"), Folder("none2")}).code, 2);
  EXPECT_EQ(test::RunCliCaptured({"carve", junk}).code, 1);
  EXPECT_EQ(test::RunCliCaptured({"carve", junk, Folder("x"), "--no-logs"}).code, 1);
  // OUTDIR an existing file: refused, the file left alone.
  const test::CliRun onFile = test::RunCliCaptured({"carve", junk, junk});
  EXPECT_EQ(onFile.code, 4);
  EXPECT_EQ(test::ReadFileBytes(junk).size(), 0x20000u);
}

// The real hives: SYSTEM in three fragments, NTUSER.DAT with its base
// block wiped at an odd sector, SAM whole; as a raw image and as E01.
struct RealImage {
  Bytes image;
  std::string system, ntuser, sam;
};

RealImage BuildRealImage() {
  RealImage r;
  auto read = [](const char* name) {
    const std::string s = test::ReadFileBytes(test::SharedHivesDir() + "/" + name);
    return Bytes(s.begin(), s.end());
  };
  const Bytes system = read("SYSTEM"), ntuser = read("NTUSER.DAT"), sam = read("SAM");
  r.system = std::string(system.begin(), system.end());
  r.ntuser = std::string(ntuser.begin(), ntuser.end());
  r.sam = std::string(sam.begin(), sam.end());
  const auto s = test::BinStarts(system);
  const auto n = test::BinStarts(ntuser);
  const auto m = test::BinStarts(sam);
  const uint64_t third = s[s.size() / 3], twoThirds = s[2 * s.size() / 3];
  Bytes& image = r.image;
  image = test::JunkImage(0x100000, 7);
  test::Plant(image, 0x100000, test::Slice(system, 0, third));
  test::Plant(image, 0x100000 + third + 0x10000 + 512, test::Slice(ntuser, 4096, n.back()));  // base block gone
  const uint64_t second = 0x100000 + third + 0x10000 + n.back() + 0x20000;
  test::Plant(image, second, test::Slice(system, third, twoThirds));
  test::Plant(image, second + (twoThirds - third) + 0x3000, test::Slice(sam, 0, m.back()));
  test::Plant(image, second + (twoThirds - third) + 0x3000 + m.back() + 0x8000 + 5 * 512,
              test::Slice(system, twoThirds, s.back()));
  image.resize(image.size() + 0x10000, 0x5A);
  return r;
}

void CheckRealCarve(const std::string& imagePath, const RealImage& r, const std::string& out) {
  const test::CliRun run = test::RunCliCaptured({"carve", imagePath, out, "--json"});
  ASSERT_EQ(run.code, 0) << run.err;
  std::vector<nlohmann::json> found;
  for (size_t at = 0, end; (end = run.out.find('\n', at)) != std::string::npos; at = end + 1) {
    found.push_back(nlohmann::json::parse(run.out.substr(at, end - at)));
  }
  ASSERT_EQ(found.size(), 3u) << run.out;
  EXPECT_EQ(found[0]["offset"], 0x100000);
  EXPECT_EQ(found[0]["name"], "SYSTEM");
  EXPECT_EQ(found[0]["fragments"], 3);
  EXPECT_EQ(found[0]["complete"], true);
  EXPECT_EQ(found[1]["base_block"], "rebuilt");
  EXPECT_EQ(found[1]["complete"], true);
  EXPECT_EQ(found[2]["name"], "\\SystemRoot\\System32\\Config\\SAM");
  auto bins = [](const std::string& hive) {
    const uint32_t size = static_cast<uint8_t>(hive[40]) | static_cast<uint8_t>(hive[41]) << 8 |
                          static_cast<uint8_t>(hive[42]) << 16 |
                          static_cast<uint32_t>(static_cast<uint8_t>(hive[43])) << 24;
    return hive.substr(4096, size);
  };
  const std::string system = test::ReadFileBytes(found[0]["file"]);
  EXPECT_EQ(system, r.system.substr(0, system.size()));
  EXPECT_EQ(bins(system), bins(r.system));
  const std::string ntuser = test::ReadFileBytes(found[1]["file"]);
  EXPECT_TRUE(bins(ntuser) == bins(r.ntuser)) << "NTUSER.DAT bins differ";
  EXPECT_EQ(bins(test::ReadFileBytes(found[2]["file"])), bins(r.sam));
  // The rebuilt hive lists the same keys as the original.
  const test::CliRun keys = test::RunCliCaptured({"keys", found[1]["file"], "--no-logs"});
  EXPECT_EQ(keys.code, 0);
  EXPECT_TRUE(keys.out == test::ExpectedFile("NTUSER.DAT", "keys")) << "key listings differ";
  EXPECT_EQ(test::RunCliCaptured({"info", found[1]["file"], "--no-logs"}).code, 0);
}

TEST(CarveRealHives, RawImage) {
  SKIP_WITHOUT_SHARED_HIVES();
  const RealImage r = BuildRealImage();
  const std::string path = test::WriteScratchFile("real.raw", r.image);
  CheckRealCarve(path, r, Folder("real-raw"));
  std::remove(path.c_str());
}

TEST(CarveRealHives, ExpertWitnessImage) {
  SKIP_WITHOUT_SHARED_HIVES();
  if (!ExpertWitnessSupported()) GTEST_SKIP() << "built without libewf; skipping the E01 image";
  if (std::system("command -v ewfacquire >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "ewfacquire (ewf-tools) not found; skipping the E01 image";
  }
  const RealImage r = BuildRealImage();
  const std::string raw = test::WriteScratchFile("real-e01.raw", r.image);
  const std::string target = test::ScratchPath("real-e01");
  std::system(("rm -f '" + target + "'.E*").c_str());
  // Segments of 1 MiB, so that the image spans many files.
  const std::string acquire = "ewfacquire -u -q -c none -S 1048576 -t '" + target + "' '" + raw + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(acquire.c_str()), 0) << acquire;
  std::remove(raw.c_str());
  struct stat st {};
  ASSERT_EQ(::stat((target + ".E02").c_str(), &st), 0) << "expected more than one segment";
  CheckRealCarve(target + ".E01", r, Folder("real-e01-out"));
  std::system(("rm -f '" + target + "'.E*").c_str());
}

}  // namespace
}  // namespace cellbrook
