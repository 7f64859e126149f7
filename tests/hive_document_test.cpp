// The open hive as one document: opening clean, dirty and unreadable files,
// the log choice, a hive held in memory, moves that must keep the view on
// the bytes, and the deleted scan made once.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <utility>
#include <vector>

#include "document/hive_document.h"
#include "hive_builder.h"
#include "log_builder.h"
#include "shared_hives.h"

namespace cellbrook {
namespace {

using test::Bytes;

// The view must lie on the bytes the document shows, and read the root.
void ExpectBoundView(const HiveDocument& doc) {
  ASSERT_TRUE(doc.Loaded());
  EXPECT_EQ(doc.Hive().Image, doc.Bytes().data());
  EXPECT_EQ(doc.Hive().Size, doc.Bytes().size());
  KeyInfo root;
  EXPECT_TRUE(GetRootKey(doc.Hive(), root));
}

void ExpectEmpty(const HiveDocument& doc) {
  EXPECT_FALSE(doc.Loaded());
  EXPECT_EQ(doc.Hive().Image, nullptr);
  EXPECT_TRUE(doc.Bytes().empty());
  EXPECT_TRUE(doc.Path().empty());
  EXPECT_EQ(doc.Logs(), LogState::None);
  EXPECT_FALSE(doc.Recovery().dirty);
  EXPECT_TRUE(doc.Deleted().keys.empty());
}

// A dirty sample hive (sequence numbers 11 and 10) with one new-format
// log whose entries 10 and 11 fill the second bin with `fill`.
struct DirtyFiles {
  Bytes primary;
  std::string path;
  static constexpr uint32_t kBins = 4 * 4096;
  explicit DirtyFiles(const std::string& name, uint8_t fill = 0x5C) {
    primary = test::BuildSampleHive().image;
    test::AppendEmptyBins(primary, 3);
    primary = test::WithSequences(primary, 11, 10);
    std::vector<Bytes> entries;
    for (uint32_t s : {10u, 11u}) entries.push_back(test::NewLogEntry(s, kBins, {{4096, test::EmptyBin(4096, fill)}}));
    path = test::WriteScratchFile(name, primary);
    test::WriteScratchFile(name + ".LOG1", test::NewFormatLog(test::LogBaseBlock(primary, 10, 6), entries));
  }
  // A byte of the second bin past its header, as the logs leave it.
  static uint8_t SecondBinByte(std::span<const uint8_t> image) { return image[4096 + 4096 + 100]; }
};

TEST(HiveDocument, FilesThatDoNotOpenLeaveItEmpty) {
  const Bytes sample = test::BuildSampleHive().image;
  Bytes noSignature = sample;
  noSignature[0] = 'x';
  const std::string folder = test::ScratchPath("document-folder");
  ::mkdir(folder.c_str(), 0777);
  const struct {
    const char* name;
    std::string path;
    LoadOutcome outcome;
  } cases[] = {
      {"missing", test::ScratchPath("document-missing"), LoadOutcome::CannotOpen},
      {"folder", folder, LoadOutcome::CannotOpen},
      {"empty", test::WriteScratchFile("document-empty", {}), LoadOutcome::InvalidFormat},
      {"no signature", test::WriteScratchFile("document-nosig", noSignature), LoadOutcome::InvalidFormat},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HiveDocument doc;
    ASSERT_EQ(doc.Open(test::WriteScratchFile("document-before", sample)), LoadOutcome::Loaded);
    (void)doc.Deleted();
    EXPECT_EQ(doc.Open(c.path), c.outcome);
    ExpectEmpty(doc);  // nothing of the file before stays
    EXPECT_FALSE(doc.DeletedScanned());
  }
}

TEST(HiveDocument, CleanFileIsShownAsRead) {
  const Bytes sample = test::BuildSampleHive().image;
  const std::string path = test::WriteScratchFile("document-clean", sample);
  HiveDocument doc;
  ASSERT_EQ(doc.Open(path), LoadOutcome::Loaded);
  ExpectBoundView(doc);
  EXPECT_FALSE(doc.InMemory());
  EXPECT_EQ(doc.Path(), path);
  EXPECT_EQ(doc.FileName(), path.substr(path.rfind('/') + 1));
  EXPECT_EQ(Bytes(doc.Bytes().begin(), doc.Bytes().end()), sample);
  EXPECT_EQ(doc.FileBytes().data(), doc.Bytes().data());
  EXPECT_TRUE(doc.RecoveredBytes().empty());
  EXPECT_FALSE(doc.Recovery().dirty);
  EXPECT_EQ(doc.Logs(), LogState::None);
  EXPECT_FALSE(doc.LogsOffered());
  EXPECT_FALSE(doc.ApplyLogs());  // nothing to apply
  EXPECT_EQ(doc.Logs(), LogState::None);
  EXPECT_FALSE(doc.Damage().Any());
}

// What the holder does with the offered logs, and what is shown after.
TEST(HiveDocument, DirtyFileWithLogsOffersThemUntilChosen) {
  enum class Then { Nothing, Apply, Decline };
  const struct {
    const char* name;
    Then then;
    LogState state;
    bool showsRebuilt;
  } cases[] = {
      {"not yet chosen", Then::Nothing, LogState::Offered, false},
      {"applied", Then::Apply, LogState::Applied, true},
      {"declined", Then::Decline, LogState::Declined, false},
  };
  const DirtyFiles files("document-dirty");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HiveDocument doc;
    ASSERT_EQ(doc.Open(files.path), LoadOutcome::Loaded);
    EXPECT_TRUE(doc.Recovery().dirty);
    EXPECT_TRUE(doc.Choice().use);
    ASSERT_EQ(doc.Logs(), LogState::Offered);
    ASSERT_FALSE(doc.RecoveredBytes().empty());
    EXPECT_EQ(DirtyFiles::SecondBinByte(doc.RecoveredBytes()), 0x5C);
    EXPECT_EQ(DirtyFiles::SecondBinByte(doc.Bytes()), 0);
    if (c.then == Then::Apply) {
      EXPECT_TRUE(doc.ApplyLogs());
    }
    if (c.then == Then::Decline) doc.DeclineLogs();

    EXPECT_EQ(doc.Logs(), c.state);
    EXPECT_TRUE(doc.LogsOffered());  // the choice was there, whatever was made of it
    EXPECT_EQ(doc.LogsApplied(), c.showsRebuilt);
    ExpectBoundView(doc);
    EXPECT_EQ(DirtyFiles::SecondBinByte(doc.Bytes()), c.showsRebuilt ? 0x5C : 0);
    EXPECT_EQ(doc.FileBytes().empty(), c.showsRebuilt);
    EXPECT_EQ(doc.RecoveredBytes().empty(), c.then != Then::Nothing);
    if (c.then != Then::Nothing) {
      EXPECT_FALSE(doc.ApplyLogs());  // chosen once
      EXPECT_EQ(doc.Logs(), c.state);
    }
  }
}

TEST(HiveDocument, LogsNotWantedLeaveADirtyFileAsItIs) {
  const DirtyFiles files("document-nologs");
  HiveDocument doc;
  LogChoice choice;
  choice.use = false;
  ASSERT_EQ(doc.Open(files.path, choice), LoadOutcome::Loaded);
  EXPECT_FALSE(doc.Choice().use);
  EXPECT_TRUE(doc.Recovery().dirty);  // said all the same
  EXPECT_EQ(doc.Logs(), LogState::None);
  EXPECT_TRUE(doc.RecoveredBytes().empty());
  EXPECT_FALSE(doc.ApplyLogs());
  EXPECT_EQ(Bytes(doc.Bytes().begin(), doc.Bytes().end()), files.primary);
}

TEST(HiveDocument, NamedLogsAreKeptAsChosen) {
  const DirtyFiles files("document-named");
  HiveDocument doc;
  LogChoice choice;
  choice.named = {files.path + ".LOG1"};
  ASSERT_EQ(doc.Open(files.path, choice), LoadOutcome::Loaded);
  EXPECT_EQ(doc.Choice().named, choice.named);
  EXPECT_EQ(doc.Logs(), LogState::Offered);
}

TEST(HiveDocument, MovesCarryTheBytesTheViewAndTheScan) {
  const DirtyFiles files("document-move");
  HiveDocument first;
  ASSERT_EQ(first.Open(files.path), LoadOutcome::Loaded);
  ASSERT_TRUE(first.ApplyLogs());
  const uint8_t* bytes = first.Bytes().data();
  const DeletedScan* scan = &first.Deleted();

  HiveDocument moved(std::move(first));
  ExpectEmpty(first);  // NOLINT(bugprone-use-after-move): moved-from is empty by contract
  ExpectBoundView(moved);
  EXPECT_EQ(moved.Bytes().data(), bytes);
  EXPECT_EQ(moved.Logs(), LogState::Applied);
  EXPECT_EQ(&moved.Deleted(), scan);
  EXPECT_EQ(moved.Deleted().image.base(), moved.Bytes().data());

  // Assigned over an open one, which goes.
  HiveDocument other;
  ASSERT_EQ(other.Open(test::WriteScratchFile("document-move-other", test::BuildSampleHive().image)),
            LoadOutcome::Loaded);
  other = std::move(moved);
  ExpectBoundView(other);
  EXPECT_EQ(other.Bytes().data(), bytes);
  EXPECT_EQ(other.Path(), files.path);
  ExpectEmpty(moved);  // NOLINT(bugprone-use-after-move)

  // Opening again in a moved-from document works as in a new one.
  ASSERT_EQ(first.Open(files.path), LoadOutcome::Loaded);  // NOLINT(bugprone-use-after-move)
  ExpectBoundView(first);
  EXPECT_EQ(first.Logs(), LogState::Offered);
}

TEST(HiveDocument, DeletedScanIsMadeOnceForTheImageShown) {
  const DirtyFiles files("document-deleted");
  HiveDocument doc;
  ASSERT_EQ(doc.Open(files.path), LoadOutcome::Loaded);
  EXPECT_FALSE(doc.DeletedScanned());
  const DeletedScan* scan = &doc.Deleted();
  EXPECT_TRUE(doc.DeletedScanned());
  EXPECT_EQ(&doc.Deleted(), scan);
  EXPECT_EQ(scan->image.base(), doc.Bytes().data());
  EXPECT_EQ(scan->image.size(), doc.Bytes().size());

  // The logs change the image shown: the next ask scans that one.
  ASSERT_TRUE(doc.ApplyLogs());
  EXPECT_FALSE(doc.DeletedScanned());
  EXPECT_EQ(doc.Deleted().image.base(), doc.Bytes().data());

  // Declining keeps the image, and with it the scan.
  HiveDocument declined;
  ASSERT_EQ(declined.Open(files.path), LoadOutcome::Loaded);
  scan = &declined.Deleted();
  declined.DeclineLogs();
  EXPECT_TRUE(declined.DeletedScanned());
  EXPECT_EQ(&declined.Deleted(), scan);
}

TEST(HiveDocument, DamageIsTheOpenFilesOwn) {
  const std::string path = test::WriteScratchFile("document-damage", test::BuildSampleHive().image);
  HiveDocument doc;
  DamageReport damage;
  damage.Add(DamageKind::Values, 2, [] { return std::string("ROOT\\A"); });
  doc.SetDamage(damage);  // nothing open: nothing kept
  EXPECT_FALSE(doc.Damage().Any());
  ASSERT_EQ(doc.Open(path), LoadOutcome::Loaded);
  doc.SetDamage(damage);
  EXPECT_EQ(doc.Damage().Count(DamageKind::Values), 2u);
  EXPECT_EQ(doc.Damage().FirstPath(DamageKind::Values), "ROOT\\A");
  ASSERT_EQ(doc.Open(path), LoadOutcome::Loaded);
  EXPECT_FALSE(doc.Damage().Any());  // each open starts clean
}

TEST(HiveDocument, HiveHeldInMemoryTellsItsBaseBlock) {
  Bytes dirty = test::WithSequences(test::BuildSampleHive().image, 5, 4);
  const struct {
    const char* name;
    Bytes bytes;
    bool opens, dirty;
  } cases[] = {
      {"clean", test::BuildSampleHive().image, true, false},
      {"dirty", dirty, true, true},
      {"no hive", Bytes(8192, 0x41), false, false},
      {"nothing", Bytes(), false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HiveDocument doc;
    EXPECT_EQ(doc.OpenInMemory(c.bytes, "carved at 0x1000"), c.opens);
    if (!c.opens) {
      ExpectEmpty(doc);
      continue;
    }
    ExpectBoundView(doc);
    EXPECT_TRUE(doc.InMemory());
    EXPECT_EQ(doc.Path(), "carved at 0x1000");
    EXPECT_EQ(Bytes(doc.Bytes().begin(), doc.Bytes().end()), c.bytes);
    EXPECT_EQ(doc.Recovery().dirty, c.dirty);
    EXPECT_EQ(doc.Recovery().primarySize, c.bytes.size());
    EXPECT_EQ(doc.Logs(), LogState::None);  // no logs go with it
  }
}

// A holder may keep the view's and the path's address: every open of the
// same document shows through them.
TEST(HiveDocument, ViewAndPathKeepTheirAddressAcrossOpens) {
  const Bytes sample = test::BuildSampleHive().image;
  const std::string path = test::WriteScratchFile("document-stay", sample);
  HiveDocument doc;
  const HiveImage& view = doc.Hive();
  const std::string& name = doc.Path();
  const struct {
    const char* name;
    bool (*open)(HiveDocument&, const std::string&);
    bool loaded;
  } steps[] = {
      {"file", [](HiveDocument& d, const std::string& p) { return d.Open(p) == LoadOutcome::Loaded; }, true},
      {"missing", [](HiveDocument& d, const std::string& p) { return d.Open(p + ".none") == LoadOutcome::Loaded; },
       false},
      {"in memory",
       [](HiveDocument& d, const std::string&) { return d.OpenInMemory(test::BuildSampleHive().image, "m"); }, true},
      {"closed",
       [](HiveDocument& d, const std::string&) {
         d.Close();
         return false;
       },
       false},
      {"file again", [](HiveDocument& d, const std::string& p) { return d.Open(p) == LoadOutcome::Loaded; }, true},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    EXPECT_EQ(step.open(doc, path), step.loaded);
    EXPECT_EQ(&doc.Hive(), &view);
    EXPECT_EQ(&doc.Path(), &name);
    EXPECT_EQ(view.Image, step.loaded ? doc.Bytes().data() : nullptr);
    EXPECT_EQ(name.empty(), !step.loaded);
  }
}

TEST(HiveDocument, RebuiltImageHandedOverCountsAsDeclined) {
  const DirtyFiles files("document-take");
  HiveDocument doc;
  ASSERT_EQ(doc.Open(files.path), LoadOutcome::Loaded);
  const Bytes rebuilt(doc.RecoveredBytes().begin(), doc.RecoveredBytes().end());
  EXPECT_EQ(doc.TakeRecoveredBytes(), rebuilt);
  EXPECT_EQ(doc.Logs(), LogState::Declined);
  EXPECT_TRUE(doc.RecoveredBytes().empty());
  EXPECT_TRUE(doc.TakeRecoveredBytes().empty());  // handed over once
  EXPECT_FALSE(doc.ApplyLogs());
  EXPECT_EQ(Bytes(doc.FileBytes().begin(), doc.FileBytes().end()), files.primary);
}

TEST(HiveDocument, ImageShownInsteadKeepsTheLogChoice) {
  const DirtyFiles files("document-instead");
  const Bytes other = test::BuildSampleHive().image;
  const struct {
    const char* name;
    bool apply;
    Bytes image;
    bool shown;
    LogState after;
  } cases[] = {
      {"after applied logs", true, other, true, LogState::Applied},
      {"offer still open", false, other, true, LogState::Declined},
      {"no hive", true, Bytes(4096, 0), false, LogState::Applied},
      {"nothing", true, Bytes(), false, LogState::Applied},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HiveDocument doc;
    ASSERT_EQ(doc.Open(files.path), LoadOutcome::Loaded);
    if (c.apply) {
      ASSERT_TRUE(doc.ApplyLogs());
    }
    const Bytes before(doc.Bytes().begin(), doc.Bytes().end());
    (void)doc.Deleted();
    EXPECT_EQ(doc.ShowImage(c.image), c.shown);
    EXPECT_EQ(doc.Logs(), c.after);
    ExpectBoundView(doc);
    EXPECT_EQ(Bytes(doc.Bytes().begin(), doc.Bytes().end()), c.shown ? c.image : before);
    EXPECT_EQ(doc.DeletedScanned(), !c.shown);  // a new image is scanned anew
    if (c.shown) {
      EXPECT_TRUE(doc.FileBytes().empty());  // not the file as read
    }
    EXPECT_EQ(doc.Path(), files.path);
    EXPECT_TRUE(doc.Recovery().dirty);
  }
  HiveDocument empty;
  EXPECT_FALSE(empty.ShowImage(other));  // nothing open to show it for
  EXPECT_FALSE(empty.Loaded());
}

TEST(HiveDocument, SharedDirtyHiveRebuildsTheExpectedBins) {
  SKIP_WITHOUT_SHARED_HIVES();
  const std::string path = test::SharedHivesDir() + "/dirty/UsrClass/UsrClass.dat";
  HiveDocument doc;
  ASSERT_EQ(doc.Open(path), LoadOutcome::Loaded);
  ASSERT_EQ(doc.Logs(), LogState::Offered);
  ASSERT_TRUE(doc.ApplyLogs());
  ExpectBoundView(doc);
  const std::span<const uint8_t> bins = doc.Bytes().subspan(4096, 2830336);
  EXPECT_EQ(test::Sha256Hex(std::string(bins.begin(), bins.end())),
            "ecc04a58aa3d2467871e80e393eb8469a5fdd425f37fc88f55308efc2f384930");
}

}  // namespace
}  // namespace cellbrook
