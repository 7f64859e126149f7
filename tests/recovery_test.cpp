// Transaction-log recovery: the real dirty hives, and hand-built logs for
// what the real ones do not show (old format, damage, wrap, hostile sizes).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "hive/filetime.h"
#include "log_builder.h"
#include "recover/logs/log_files.h"
#include "recover/logs/marvin32.h"
#include "recover/logs/recovery_text.h"
#include "shared_hives.h"

namespace cellbrook {
namespace {

using test::Bytes;
using test::GetLe32;
using test::SetLe32;

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

const LogReport& LogNamed(const RecoveryReport& r, const std::string& name) {
  for (const LogReport& l : r.logs) {
    if (l.name == name) return l;
  }
  ADD_FAILURE() << "no log named " << name;
  static const LogReport none;
  return none;
}

// The recovered image's base block is consistent: equal sequence numbers,
// a correct checksum, file type 0.
void ExpectConsistentBaseBlock(const Recovery& r, uint32_t sequence) {
  ASSERT_TRUE(r.applied);
  const BaseBlock b = ParseBaseBlock(r.image);
  EXPECT_TRUE(b.ChecksumValid());
  EXPECT_EQ(b.primarySequence, sequence);
  EXPECT_EQ(b.secondarySequence, sequence);
  EXPECT_EQ(b.fileType, 0u);
  EXPECT_FALSE(IsDirty(b));
}

// ---- Pieces ----------------------------------------------------------------

TEST(Filetime, FormatsIsoUtcOrHex) {
  const struct {
    uint64_t ticks;
    const char* text;
  } cases[] = {
      {0, "1601-01-01T00:00:00.0000000Z"},
      {131962628961234567ull, "2019-03-05T12:34:56.1234567Z"},
      {125962560000000000ull, "2000-02-29T00:00:00.0000000Z"},
      {2650467743999999999ull, "9999-12-31T23:59:59.9999999Z"},
      {2650467744000000000ull, "0x24c85a5ed1c04000"},
      {0xFFFFFFFFFFFFFFFFull, "0xffffffffffffffff"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatFileTime(c.ticks), c.text) << c.ticks;
}

TEST(Marvin32, HashTwoOfARealLogEntry) {
  // The first 32 bytes of the first entry of the shared UsrClass.dat.LOG1
  // and the hash 2 stored after them.
  const Bytes head = {0x48, 0x76, 0x4c, 0x45, 0x00, 0x3e, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1f, 0x01, 0x00, 0x00,
                      0x00, 0x30, 0x2b, 0x00, 0x03, 0x00, 0x00, 0x00, 0x79, 0xec, 0x51, 0xcd, 0xcf, 0x89, 0x32, 0xef};
  EXPECT_EQ(Marvin32(head), 0xed656c4da9275e35ull);
  // Every tail length takes its own final word.
  EXPECT_NE(Marvin32(std::span(head).first(29)), Marvin32(std::span(head).first(30)));
  EXPECT_NE(Marvin32(std::span(head).first(0)), Marvin32(std::span(head).first(1)));
}

TEST(BaseBlock, ChecksumFoldsAllOnesAndZero) {
  Bytes block(512, 0);
  EXPECT_EQ(BaseBlockChecksum(block), 1u);  // XOR 0 is stored as 1
  SetLe32(block, 0, 0xFFFFFFFF);
  EXPECT_EQ(BaseBlockChecksum(block), 0xFFFFFFFEu);
  SetLe32(block, 4, 0x0F0F0F0F);
  EXPECT_EQ(BaseBlockChecksum(block), 0xF0F0F0F0u);
  SetLe32(block, 508, 0x12345678);  // the checksum field itself is not summed
  EXPECT_EQ(BaseBlockChecksum(block), 0xF0F0F0F0u);
  EXPECT_FALSE(ParseBaseBlock(std::span(block).first(511)).complete);
}

// ---- The real dirty hives ----------------------------------------------------

struct SharedCase {
  const char* folder;
  const char* primary;
  uint32_t binsSize;
  const char* sha256;
  uint32_t finalSequence;
  struct Applied {
    const char* log;
    LogVerdict verdict;
    uint32_t first, last, entries, pages;
  } logs[2];
};

const SharedCase kSharedCases[] = {
    {"UsrClass",
     "UsrClass.dat",
     2830336,
     "ecc04a58aa3d2467871e80e393eb8469a5fdd425f37fc88f55308efc2f384930",
     300,
     {{"UsrClass.dat.LOG1", LogVerdict::Applied, 287, 290, 4, 53},
      {"UsrClass.dat.LOG2", LogVerdict::Applied, 291, 300, 10, 105}}},
    {"transactions_NTUSER",
     "transactions_NTUSER.DAT",
     925696,
     "9c5e83727e19ff8f7fd95b73ba006dbc20dffbeead9ace35a88753f3fc7e4299",
     588,
     {{"transactions_ntuser.dat.log1", LogVerdict::Applied, 566, 588, 23, 132},
      {"transactions_ntuser.dat.log2", LogVerdict::Stale, 0, 0, 0, 0}}},
};

TEST(SharedDirtyHives, RecoverTheExpectedBinsFromDiscoveredLogs) {
  SKIP_WITHOUT_SHARED_HIVES();
  for (const SharedCase& c : kSharedCases) {
    SCOPED_TRACE(c.primary);
    const std::string path = test::SharedHivesDir() + "/dirty/" + c.folder + "/" + c.primary;
    const Bytes primary = ToBytes(test::ReadFileBytes(path));
    const Bytes before = primary;
    const Recovery r = RecoverHive(primary, path);
    EXPECT_EQ(primary, before);
    ASSERT_TRUE(r.applied) << RecoverySummaryLine(r.report);
    EXPECT_TRUE(r.report.dirty);
    EXPECT_EQ(r.report.appliedFormat, LogFormat::New);
    ExpectConsistentBaseBlock(r, c.finalSequence);
    EXPECT_EQ(r.report.finalHiveBinsDataSize, c.binsSize);
    ASSERT_GE(r.image.size(), 4096u + c.binsSize);
    EXPECT_EQ(test::Sha256Hex(std::string(r.image.begin() + 4096, r.image.begin() + 4096 + c.binsSize)), c.sha256);
    EXPECT_TRUE(r.report.damagedBins.empty());
    ASSERT_EQ(r.report.logs.size(), 2u);
    for (const auto& want : c.logs) {
      const LogReport& log = LogNamed(r.report, want.log);
      EXPECT_EQ(log.format, LogFormat::New) << want.log;
      EXPECT_EQ(log.verdict, want.verdict) << want.log << ": " << log.verdictReason;
      if (want.verdict != LogVerdict::Applied) continue;
      EXPECT_EQ(log.appliedFirstSequence, want.first) << want.log;
      EXPECT_EQ(log.appliedLastSequence, want.last) << want.log;
      EXPECT_EQ(log.appliedEntries, want.entries) << want.log;
      EXPECT_EQ(log.appliedPages, want.pages) << want.log;
    }
  }
}

TEST(SharedDirtyHives, TextsSayWhatApplied) {
  SKIP_WITHOUT_SHARED_HIVES();
  const std::string path = test::SharedHivesDir() + "/dirty/transactions_NTUSER/transactions_NTUSER.DAT";
  const Recovery r = RecoverHive(ToBytes(test::ReadFileBytes(path)), path);
  EXPECT_EQ(RecoverySummaryLine(r.report),
            "Recovered from transaction logs: transactions_ntuser.dat.log1 (entries 566-588, 132 pages); "
            "transactions_ntuser.dat.log2 is stale.");
  const std::string info = HiveInfoText("transactions_NTUSER.DAT", r.report);
  for (const char* line : {"Signature: regf\n", "Sequence numbers: primary 567, secondary 566 (differ)\n",
                           "Last written: 1601-01-01T00:00:00.0000000Z\n", "Version: 1.5\n",
                           "File type: 0 (primary file)\n", "Hive bins data size: 778240 bytes\n",
                           "Root cell: 0x00000020\n", "File name field: \\??\\C:\\Users\\tony\\ntuser.dat\n",
                           "State: dirty (its sequence numbers differ (567 and 566))\n",
                           "is below the primary's secondary sequence number 566"}) {
    EXPECT_NE(info.find(line), std::string::npos) << line << "\n" << info;
  }
  const nlohmann::json j = nlohmann::json::parse(HiveInfoJson("transactions_NTUSER.DAT", r.report));
  EXPECT_EQ(j["state"], "dirty");
  EXPECT_EQ(j["primary_sequence_number"], 567);
  EXPECT_EQ(j["checksum_correct"], true);
  EXPECT_EQ(j["stored_checksum"], j["computed_checksum"]);
  EXPECT_EQ(j["recovery"]["applied"], true);
  EXPECT_EQ(j["recovery"]["sequence_number"], 588);
  ASSERT_EQ(j["logs"].size(), 2u);
  EXPECT_EQ(j["logs"][0]["name"], "transactions_ntuser.dat.log1");
  EXPECT_EQ(j["logs"][0]["applied_pages"], 132);
  EXPECT_EQ(j["logs"][1]["verdict"], "stale");
}

TEST(SharedDirtyHives, EveryEntryOfTheRealLogsVerifies) {
  SKIP_WITHOUT_SHARED_HIVES();
  // Read as a clean hive would be: the logs are described, nothing applies.
  const std::string dir = test::SharedHivesDir() + "/dirty/UsrClass/";
  std::vector<LogFile> logs(2);
  std::string why;
  ASSERT_TRUE(LoadTransactionLog(dir + "UsrClass.dat.LOG1", logs[0], why)) << why;
  ASSERT_TRUE(LoadTransactionLog(dir + "UsrClass.dat.LOG2", logs[1], why)) << why;
  Bytes primary = ToBytes(test::ReadFileBytes(dir + "UsrClass.dat"));
  primary = test::WithSequences(primary, 255, 255);
  const Recovery r = RecoverFromLogs(primary, logs);
  EXPECT_FALSE(r.applied);
  EXPECT_TRUE(r.image.empty());
  EXPECT_EQ(RecoverySummaryLine(r.report), "");
  EXPECT_EQ(r.report.logs[0].validEntries, 4u);
  EXPECT_EQ(r.report.logs[1].validEntries, 10u);
  EXPECT_EQ(r.report.logs[0].verdict, LogVerdict::NotNeeded);
  EXPECT_NE(HiveInfoText("UsrClass.dat", r.report).find("Recovery: nothing to apply: the hive is clean"),
            std::string::npos);
}

// ---- Hand-built new-format logs ---------------------------------------------

// A dirty primary (sequence numbers 11 and 10) with four bins of 4096.
Bytes DirtyPrimary(uint32_t primarySeq = 11, uint32_t secondarySeq = 10) {
  Bytes p = test::BuildSampleHive().image;
  test::AppendEmptyBins(p, 3);
  return test::WithSequences(p, primarySeq, secondarySeq);
}
constexpr uint32_t kBins = 4 * 4096;

test::LogPage Page(uint32_t rel, uint8_t fill) { return {rel, test::EmptyBin(rel, fill)}; }

LogFile NewLog(const std::string& name, const Bytes& primary, uint32_t baseSeq, std::vector<uint32_t> seqs,
               uint8_t fill = 0x40) {
  std::vector<Bytes> entries;
  for (uint32_t s : seqs)
    entries.push_back(test::NewLogEntry(s, kBins, {Page(4096, static_cast<uint8_t>(fill + (s & 0x3F)))}));
  return {name, "", test::NewFormatLog(test::LogBaseBlock(primary, baseSeq, 6), entries)};
}

uint8_t FillAt(const Recovery& r, uint32_t rel) { return r.image.at(4096 + rel + 100); }

TEST(NewFormatLogs, AppliesInSequenceAcrossBothLogs) {
  const Bytes primary = DirtyPrimary();
  const Recovery r =
      RecoverFromLogs(primary, {NewLog("h.LOG2", primary, 12, {12, 13}), NewLog("h.LOG1", primary, 10, {10, 11})});
  ExpectConsistentBaseBlock(r, 13);
  EXPECT_EQ(FillAt(r, 4096), 0x40 + 13);
  EXPECT_EQ(LogNamed(r.report, "h.LOG1").appliedFirstSequence, 10u);
  EXPECT_EQ(LogNamed(r.report, "h.LOG2").appliedLastSequence, 13u);
  EXPECT_EQ(RecoverySummaryLine(r.report),
            "Recovered from transaction logs: h.LOG2 (entries 12-13, 2 pages), h.LOG1 (entries 10-11, 2 pages).");
  // The primary's other bins stay as they were.
  EXPECT_TRUE(std::equal(primary.begin() + 512, primary.begin() + 8192, r.image.begin() + 512));
}

struct StopCase {
  const char* name;
  void (*spoil)(Bytes& log, size_t secondEntry);
  const char* reason;
};

// Each spoils the second entry of a log with entries 10, 11, 12 (and keeps
// its hashes right unless the hash is the point).
const StopCase kStopCases[] = {
    {"bad hash 1", [](Bytes& l, size_t e) { l[e + 200] ^= 1; }, "hash 1 is wrong"},
    {"bad hash 2", [](Bytes& l, size_t e) { l[e + 8] ^= 2; }, "hash 2 is wrong"},
    {"gap in sequence numbers",
     [](Bytes& l, size_t e) {
       SetLe32(l, e + 12, 13);
       test::RehashEntry(l, e);
     },
     "its sequence number 13"},
    {"bad hive bins size",
     [](Bytes& l, size_t e) {
       SetLe32(l, e + 16, 5000);
       test::RehashEntry(l, e);
     },
     "hive bins data size 5000 is not a non-zero multiple of 4096"},
    {"zero hive bins size",
     [](Bytes& l, size_t e) {
       SetLe32(l, e + 16, 0);
       test::RehashEntry(l, e);
     },
     "not a non-zero multiple"},
    {"no signature", [](Bytes& l, size_t e) { l[e] = 'X'; }, "no \"HvLE\" signature"},
    {"size past the end", [](Bytes& l, size_t e) { SetLe32(l, e + 4, 0xFFFFFE00); }, "runs past the end of the file"},
    {"size not a multiple of 512", [](Bytes& l, size_t e) { SetLe32(l, e + 4, 4100); },
     "not a non-zero multiple of 512"},
    {"zero size", [](Bytes& l, size_t e) { SetLe32(l, e + 4, 0); }, "not a non-zero multiple of 512"},
    {"huge page count",
     [](Bytes& l, size_t e) {
       SetLe32(l, e + 20, 0xFFFFFFFF);
       test::RehashEntry(l, e);
     },
     "does not fit in the entry"},
    {"zero page count",
     [](Bytes& l, size_t e) {
       SetLe32(l, e + 20, 0);
       test::RehashEntry(l, e);
     },
     "lists no dirty page"},
    {"page beyond 4 GiB",
     [](Bytes& l, size_t e) {
       SetLe32(l, e + 40, 0xFFFFF000);
       SetLe32(l, e + 44, 0x2000);
       test::RehashEntry(l, e);
     },
     "beyond the 4 GiB limit"},
    {"page past the bins size",
     [](Bytes& l, size_t e) {
       SetLe32(l, e + 40, kBins);
       test::RehashEntry(l, e);
     },
     "runs past the entry's hive bins data size"},
    {"page offset not aligned",
     [](Bytes& l, size_t e) {
       SetLe32(l, e + 40, 4096 + 512);
       test::RehashEntry(l, e);
     },
     "not a multiple of 4096"},
    {"pages larger than the entry",
     [](Bytes& l, size_t e) {
       SetLe32(l, e + 44, 8192);
       test::RehashEntry(l, e);
     },
     "pages do not fit in the entry"},
    {"bins size above what is read",
     [](Bytes& l, size_t e) {
       SetLe32(l, e + 16, 0x7FFFF000);
       test::RehashEntry(l, e);
     },
     "more than the hive and its logs could hold"},
    {"cut inside the entry", [](Bytes& l, size_t e) { l.resize(e + 1000); }, "runs past the end of the file"},
    {"cut inside the header", [](Bytes& l, size_t e) { l.resize(e + 20); }, "too short for an entry header"},
};

TEST(NewFormatLogs, DamagedEntryStopsRecoveryThere) {
  const Bytes primary = DirtyPrimary();
  for (const StopCase& c : kStopCases) {
    SCOPED_TRACE(c.name);
    LogFile log = NewLog("h.LOG1", primary, 10, {10, 11, 12});
    const size_t second = 512 + GetLe32(log.bytes, 512 + 4);
    c.spoil(log.bytes, second);
    const Recovery r = RecoverFromLogs(primary, {log});
    ExpectConsistentBaseBlock(r, 10);
    const LogReport& l = r.report.logs[0];
    EXPECT_EQ(l.validEntries, 1u);
    EXPECT_EQ(l.appliedEntries, 1u);
    EXPECT_NE(l.entriesStopReason.find("entry 2 at log offset"), std::string::npos) << l.entriesStopReason;
    EXPECT_NE(l.entriesStopReason.find(c.reason), std::string::npos) << l.entriesStopReason;
    EXPECT_EQ(FillAt(r, 4096), 0x40 + 10);
  }
}

TEST(NewFormatLogs, DamagedFirstEntryAppliesNothingAndSaysWhy) {
  const Bytes primary = DirtyPrimary();
  for (const StopCase& c : kStopCases) {
    SCOPED_TRACE(c.name);
    LogFile log = NewLog("h.LOG1", primary, 10, {10, 11});
    c.spoil(log.bytes, 512);
    const Recovery r = RecoverFromLogs(primary, {log});
    EXPECT_FALSE(r.applied);
    EXPECT_TRUE(r.image.empty());
    EXPECT_TRUE(r.report.dirty);
    EXPECT_EQ(r.report.logs[0].verdict, LogVerdict::Refused);
    const std::string line = RecoverySummaryLine(r.report);
    EXPECT_EQ(line.rfind("The hive is dirty and no transaction log applies (h.LOG1 is refused: it holds no whole, "
                         "valid log entry (entry 1",
                         0),
              0u)
        << line;
    EXPECT_NE(line.find(c.reason), std::string::npos) << line;
  }
}

TEST(NewFormatLogs, WhichLogsTakePart) {
  const Bytes primary = DirtyPrimary();
  const Bytes clean = test::WithSequences(primary, 10, 10);
  LogFile badCopy = NewLog("h.LOG2", primary, 12, {12});
  badCopy.bytes[100] ^= 1;
  LogFile unequal = NewLog("h.LOG2", primary, 12, {12});
  SetLe32(unequal.bytes, 8, 13);
  test::FixChecksum(unequal.bytes);
  LogFile notRegf = NewLog("h.LOG2", primary, 12, {12});
  notRegf.bytes[0] = 'x';
  test::FixChecksum(notRegf.bytes);
  LogFile wrongType = NewLog("h.LOG2", primary, 12, {12});
  SetLe32(wrongType.bytes, 28, 3);
  test::FixChecksum(wrongType.bytes);
  const struct {
    const char* name;
    Bytes primary;
    std::vector<LogFile> logs;
    uint32_t finalSequence;  // 0: nothing applies
    const char* summary;
  } cases[] = {
      {"stale log",
       primary,
       {NewLog("h.LOG1", primary, 10, {10}), NewLog("h.LOG2", primary, 5, {5, 6})},
       10,
       "Recovered from transaction logs: h.LOG1 (entry 10, 1 page); h.LOG2 is stale."},
      {"second log does not follow on",
       primary,
       {NewLog("h.LOG1", primary, 10, {10, 11}), NewLog("h.LOG2", primary, 13, {13, 14})},
       11,
       "Recovered from transaction logs: h.LOG1 (entries 10-11, 2 pages); h.LOG2 was refused: its entries start at "
       "13, not at 12, so they do not follow on from h.LOG1."},
      {"second log already covered",
       primary,
       {NewLog("h.LOG1", primary, 10, {10, 11, 12}), NewLog("h.LOG2", primary, 11, {11, 12})},
       12,
       "Recovered from transaction logs: h.LOG1 (entries 10-12, 3 pages); h.LOG2 is stale."},
      {".LOG beside a usable .LOG1 is not used",
       primary,
       {NewLog("h.LOG", primary, 10, {10, 11, 12}), NewLog("h.LOG1", primary, 10, {10})},
       10,
       "Recovered from transaction logs: h.LOG1 (entry 10, 1 page); h.LOG is not used."},
      {".LOG when neither .LOG1 nor .LOG2 is usable",
       primary,
       {NewLog("h.LOG", primary, 10, {10, 11}), badCopy, {"h.LOG1", "", {}}},
       11,
       "Recovered from transaction logs: h.LOG (entries 10-11, 2 pages); h.LOG2 was refused: its base-block copy "
       "has a wrong checksum (stored 0x"},
      {"copy with unequal sequence numbers",
       primary,
       {unequal},
       0,
       "The hive is dirty and no transaction log applies (h.LOG2 is refused: its base-block copy's sequence numbers "
       "differ (12 and 13)); recent changes may be missing."},
      {"copy without regf",
       primary,
       {notRegf},
       0,
       "The hive is dirty and no transaction log applies (h.LOG2 is refused: its base-block copy has no \"regf\" "
       "signature); recent changes may be missing."},
      {"copy of an unknown file type",
       primary,
       {wrongType},
       0,
       "The hive is dirty and no transaction log applies (h.LOG2 is refused: its file type 3 is not a log's"},
      {"logs of 0 and 100 bytes",
       primary,
       {{"h.LOG1", "", {}}, {"h.LOG2", "", Bytes(100, 0)}},
       0,
       "The hive is dirty and no usable transaction log was found; recent changes may be missing."},
      {"no logs at all",
       primary,
       {},
       0,
       "The hive is dirty and no usable transaction log was found; recent changes may be missing."},
      {"log of only a base-block copy",
       primary,
       {{"h.LOG1", "", test::LogBaseBlock(primary, 10, 6)}},
       0,
       "The hive is dirty and no transaction log applies (h.LOG1 is refused: it holds no whole, valid log entry "
       "(read to the end of the file)); recent changes may be missing."},
      {"clean hive with later entries", clean, {NewLog("h.LOG1", clean, 10, {10, 11})}, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Recovery r = RecoverFromLogs(c.primary, c.logs);
    EXPECT_EQ(RecoverySummaryLine(r.report).rfind(c.summary, 0), 0u) << RecoverySummaryLine(r.report);
    if (c.finalSequence == 0) {
      EXPECT_FALSE(r.applied);
      EXPECT_TRUE(r.image.empty());
    } else {
      ExpectConsistentBaseBlock(r, c.finalSequence);
    }
  }
}

TEST(NewFormatLogs, SequenceNumbersWrapPast32Bits) {
  const Bytes primary = DirtyPrimary(0xFFFFFFFF, 0xFFFFFFFE);
  const Recovery r = RecoverFromLogs(
      primary, {NewLog("h.LOG2", primary, 0, {0, 1}), NewLog("h.LOG1", primary, 0xFFFFFFFE, {0xFFFFFFFE, 0xFFFFFFFF}),
                NewLog("h.LOG3", primary, 0xFFFFFFF0, {0xFFFFFFF0})});
  ExpectConsistentBaseBlock(r, 1);
  EXPECT_EQ(FillAt(r, 4096), 0x40 + 1);
  EXPECT_EQ(LogNamed(r.report, "h.LOG1").appliedPages, 2u);
  EXPECT_EQ(LogNamed(r.report, "h.LOG2").appliedFirstSequence, 0u);
  EXPECT_EQ(LogNamed(r.report, "h.LOG3").verdict, LogVerdict::Stale);

  // Within one log, too.
  const Recovery one =
      RecoverFromLogs(primary, {NewLog("h.LOG1", primary, 0xFFFFFFFE, {0xFFFFFFFE, 0xFFFFFFFF, 0, 1})});
  ExpectConsistentBaseBlock(one, 1);
  EXPECT_EQ(one.report.logs[0].appliedEntries, 4u);
}

TEST(NewFormatLogs, InvalidPrimaryBaseBlockTakesTheLatestLogsCopy) {
  Bytes primary = DirtyPrimary();
  primary[0x24] ^= 0x10;  // root cell spoiled, checksum now wrong
  LogFile log1 = NewLog("h.LOG1", primary, 10, {10, 11});
  // The later log grows the hive by one bin and carries a flag.
  Bytes copy = test::LogBaseBlock(DirtyPrimary(), 12, 6);
  SetLe32(copy, 144, 1);
  test::FixChecksum(copy);
  const Bytes entry = test::NewLogEntry(12, kBins + 4096, {Page(kBins, 0x77)}, 1);
  const LogFile log2{"h.LOG2", "", test::NewFormatLog(copy, {entry})};
  const Recovery r = RecoverFromLogs(primary, {log1, log2});
  ExpectConsistentBaseBlock(r, 12);
  EXPECT_TRUE(r.report.baseBlockFromLog);
  EXPECT_EQ(r.report.baseBlockLog, "h.LOG2");
  EXPECT_EQ(LogNamed(r.report, "h.LOG1").verdict, LogVerdict::Unused);
  const BaseBlock b = ParseBaseBlock(r.image);
  EXPECT_EQ(b.rootCell, GetLe32(DirtyPrimary(), 0x24));
  EXPECT_EQ(b.hiveBinsDataSize, kBins + 4096);
  EXPECT_EQ(b.flags, 1u);
  EXPECT_EQ(r.image.size(), 4096u + kBins + 4096);
  EXPECT_EQ(FillAt(r, kBins), 0x77);
  // The base block beyond the first sector is the primary's.
  EXPECT_TRUE(std::equal(primary.begin() + 512, primary.begin() + 4096, r.image.begin() + 512));
  EXPECT_NE(RecoverySummaryLine(r.report).find("the invalid base block was replaced by h.LOG2's copy"),
            std::string::npos);
}

TEST(NewFormatLogs, InvalidDirtyBinIsKeptAndReported) {
  const Bytes primary = DirtyPrimary();
  test::LogPage bad = Page(8192, 0x33);
  std::memcpy(bad.bytes.data(), "hbix", 4);
  const LogFile log{"h.LOG1", "",
                    test::NewFormatLog(test::LogBaseBlock(primary, 10, 6), {test::NewLogEntry(10, kBins, {bad})})};
  const Recovery r = RecoverFromLogs(primary, {log});
  ExpectConsistentBaseBlock(r, 10);
  EXPECT_EQ(FillAt(r, 8192), 0x33);
  ASSERT_EQ(r.report.damagedBins.size(), 1u);
  EXPECT_EQ(r.report.damagedBins[0].offset, 8192u);
  EXPECT_EQ(r.report.damagedBins[0].problem, "no \"hbin\" signature");
  EXPECT_NE(RecoverySummaryLine(r.report).find("1 damaged bin kept as found"), std::string::npos);
}

// ---- Hand-built old-format logs --------------------------------------------

Bytes Sector(const Bytes& bin, size_t index) {
  return Bytes(bin.begin() + 512 * index, bin.begin() + 512 * (index + 1));
}

TEST(OldFormatLogs, BitmapLongerThanOneSector) {
  Bytes primary = test::BuildSampleHive().image;
  test::AppendEmptyBins(primary, 639);  // 640 bins: 2.5 MiB, a bitmap of 640 bytes
  primary = test::WithSequences(primary, 21, 20);
  const uint32_t bins = GetLe32(primary, 40);
  ASSERT_EQ(bins, 640u * 4096);
  const Bytes newBin = test::EmptyBin(600 * 4096, 0x5A);
  Bytes copy = test::LogBaseBlock(primary, 21, 1);
  SetLe32(copy, 16, 0x01D40000);  // last written: later than the primary
  test::FixChecksum(copy);
  const Bytes log = test::OldFormatLog(
      copy, {{600 * 8, Sector(newBin, 0)}, {600 * 8 + 3, Sector(newBin, 3)}, {639 * 8 + 7, Bytes(512, 0xC3)}});
  ASSERT_EQ(log.size(), 1536u + 3 * 512);  // pages start past the 640-byte bitmap
  const Recovery r = RecoverFromLogs(primary, {{"h.LOG1", "", log}});
  ExpectConsistentBaseBlock(r, 21);
  EXPECT_EQ(r.report.appliedFormat, LogFormat::Old);
  EXPECT_EQ(r.report.logs[0].appliedPages, 3u);
  EXPECT_TRUE(std::equal(newBin.begin(), newBin.begin() + 512, r.image.begin() + 4096 + 600 * 4096));
  EXPECT_EQ(r.image[4096 + 600 * 4096 + 3 * 512 + 7], 0x5A);
  EXPECT_EQ(r.image[4096 + 600 * 4096 + 512 + 7], 0);  // not dirty: the primary's
  EXPECT_EQ(r.image[4096 + 640 * 4096 - 1], 0xC3);
  EXPECT_EQ(ParseBaseBlock(r.image).lastWritten, 0x01D4000000000000u);
  EXPECT_EQ(RecoverySummaryLine(r.report), "Recovered from transaction logs: h.LOG1 (old format, 3 pages).");
}

struct OldFixture {
  Bytes primary = test::WithSequences(
      [] {
        Bytes p = test::BuildSampleHive().image;
        test::AppendEmptyBins(p, 3);
        SetLe32(p, 12, 1000);         // last written
        SetLe32(p, 4096 + 20, 1000);  // and its copy in the first bin
        return p;
      }(),
      6, 5);
  Bytes Log(uint64_t lastWritten, std::vector<std::pair<uint32_t, Bytes>> pages, uint32_t binsSize = 0) const {
    Bytes copy = test::LogBaseBlock(primary, 6, 1, binsSize);
    SetLe32(copy, 12, static_cast<uint32_t>(lastWritten));
    test::FixChecksum(copy);
    return test::OldFormatLog(copy, pages);
  }
};

TEST(OldFormatLogs, StopsAtAnInvalidBin) {
  const OldFixture f;
  Bytes bad = test::EmptyBin(8192, 0x11);
  SetLe32(bad, 4, 4096);  // the bin's own offset field is wrong
  const Bytes log =
      f.Log(1000, {{8, Sector(test::EmptyBin(4096, 0x22), 0)}, {16, Sector(bad, 0)}, {24, Bytes(512, 9)}});
  const Recovery r = RecoverFromLogs(f.primary, {{"h.LOG1", "", log}});
  ExpectConsistentBaseBlock(r, 6);
  EXPECT_EQ(r.report.logs[0].appliedPages, 1u);
  EXPECT_TRUE(r.report.stoppedAtInvalidBin);
  EXPECT_EQ(r.report.stopBin.offset, 8192u);
  EXPECT_NE(r.report.stopBin.problem.find("offset field"), std::string::npos);
  EXPECT_EQ(r.image[4096 + 4096 + 100], 0x22);
  EXPECT_EQ(r.image[4096 + 8192 + 100], 0);
  EXPECT_EQ(RecoverySummaryLine(r.report),
            "Recovered from transaction logs: h.LOG1 (old format, 1 page); recovery stopped at an invalid bin at "
            "offset 0x2000.");
}

TEST(OldFormatLogs, WhichLogApplies) {
  const OldFixture f;
  const auto page = [](uint8_t fill) { return std::vector<std::pair<uint32_t, Bytes>>{{9, Bytes(512, fill)}}; };
  Bytes badBins = f.Log(1000, page(1));
  SetLe32(badBins, 40, 5000);
  test::FixChecksum(badBins);
  Bytes hugeBins = f.Log(1000, page(1));
  SetLe32(hugeBins, 40, 0xFFFFF000);
  test::FixChecksum(hugeBins);
  Bytes noDirt = f.Log(1000, page(1));
  noDirt[512] = 'd';
  Bytes shortPages = f.Log(1000, page(1));
  shortPages.resize(shortPages.size() - 512);
  Bytes morePagesMarked = f.Log(1000, page(1));
  morePagesMarked[516] |= 0x01;
  Bytes bitmapCut = f.Log(1000, page(1));
  bitmapCut.resize(518);
  Bytes invalidPrimary = f.primary;
  invalidPrimary[0x30] ^= 1;
  const struct {
    const char* name;
    Bytes primary;
    std::vector<LogFile> logs;
    uint8_t fill;  // 0: nothing applies
    const char* summary;
  } cases[] = {
      {"the later of two logs",
       f.primary,
       {{"h.LOG1", "", f.Log(1500, page(1))}, {"h.LOG2", "", f.Log(2000, page(2))}},
       2,
       "Recovered from transaction logs: h.LOG2 (old format, 1 page); h.LOG1 is stale."},
      {"same time as the primary",
       f.primary,
       {{"h.LOG1", "", f.Log(1000, page(3))}},
       3,
       "Recovered from transaction logs: h.LOG1 (old format, 1 page)."},
      {"earlier than the primary",
       f.primary,
       {{"h.LOG1", "", f.Log(999, page(3))}},
       0,
       "The hive is dirty and no transaction log applies (h.LOG1 is stale: its last written time "
       "1601-01-01T00:00:00.0000999Z is earlier than the primary's 1601-01-01T00:00:00.0001000Z)"},
      {"invalid primary: time from the first bin",
       invalidPrimary,
       {{"h.LOG1", "", f.Log(1000, page(4))}},
       4,
       "Recovered from transaction logs: h.LOG1 (old format, 1 page); the invalid base block was replaced by "
       "h.LOG1's copy."},
      {"bad hive bins size",
       f.primary,
       {{"h.LOG1", "", badBins}},
       0,
       "The hive is dirty and no transaction log applies (h.LOG1 is refused: its hive bins data size 5000 is not a "
       "non-zero multiple of 4096)"},
      {"hive bins size beyond what is read",
       f.primary,
       {{"h.LOG1", "", hugeBins}},
       0,
       "The hive is dirty and no transaction log applies (h.LOG1 is refused: its hive bins data size 4294963200 is "
       "more than the hive and its logs could hold"},
      {"no DIRT",
       f.primary,
       {{"h.LOG1", "", noDirt}},
       0,
       "The hive is dirty and no transaction log applies (h.LOG1 is refused: no \"DIRT\" signature"},
      {"no page after the bitmap",
       f.primary,
       {{"h.LOG1", "", shortPages}},
       0,
       "The hive is dirty and no transaction log applies (h.LOG1 is refused: it holds no page after its dirty-page "
       "bitmap)"},
      {"more pages marked than held",
       f.primary,
       {{"h.LOG1", "", morePagesMarked}},
       0,
       "The hive is dirty and no transaction log applies (h.LOG1 is refused: its bitmap marks 2 dirty pages but "
       "only 1 follow it)"},
      {"bitmap past the end",
       f.primary,
       {{"h.LOG1", "", bitmapCut}},
       0,
       "The hive is dirty and no transaction log applies (h.LOG1 is refused: its dirty-page bitmap runs past the "
       "end of the file)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Recovery r = RecoverFromLogs(c.primary, c.logs);
    const std::string line = RecoverySummaryLine(r.report);
    EXPECT_EQ(line.rfind(c.summary, 0), 0u) << line;
    if (c.fill == 0) {
      EXPECT_FALSE(r.applied);
    } else {
      ExpectConsistentBaseBlock(r, 6);
      EXPECT_EQ(r.image.at(4096 + 9 * 512), c.fill);
    }
  }
}

// ---- Finding and reading logs --------------------------------------------

std::string ScratchFolder(const std::string& name) {
  const std::string dir = test::ScratchPath(name);
  ::mkdir(dir.c_str(), 0777);
  return dir;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

TEST(LogDiscovery, NamesMatchIgnoringCaseAndPreferUpperCaseExtensions) {
  const std::string dir = ScratchFolder("discovery");
  const Bytes primary = DirtyPrimary();
  WriteFile(dir + "/AA", primary);
  WriteFile(dir + "/AA.LOG", {});                                     // counts as absent
  ASSERT_EQ(::mkfifo((dir + "/aa.log").c_str(), 0600), 0);            // never opened
  WriteFile(dir + "/aa.LOG1", NewLog("x", primary, 10, {10}).bytes);  // preferred
  WriteFile(dir + "/Aa.log1", NewLog("x", primary, 10, {10, 11, 12}).bytes);
  WriteFile(dir + "/aA.Log2", NewLog("x", primary, 11, {11}).bytes);
  WriteFile(dir + "/AA.LOG3", Bytes(4096, 1));
  WriteFile(dir + "/AAX.LOG1", Bytes(4096, 1));
  std::vector<std::string> notes;
  const std::vector<std::string> found = FindTransactionLogs(dir + "/AA", &notes);
  EXPECT_EQ(found, (std::vector<std::string>{dir + "/AA.LOG", dir + "/aa.LOG1", dir + "/aA.Log2"}));
  ASSERT_EQ(notes.size(), 2u);
  std::sort(notes.begin(), notes.end());
  EXPECT_EQ(notes[0], "Both aa.LOG1 and Aa.log1 match; using aa.LOG1.");
  EXPECT_EQ(notes[1], "Skipped aa.log: it is a named pipe, not a regular file.");

  const Recovery r = RecoverHive(primary, dir + "/AA");
  ExpectConsistentBaseBlock(r, 11);
  EXPECT_EQ(RecoverySummaryLine(r.report),
            "Recovered from transaction logs: aa.LOG1 (entry 10, 1 page), aA.Log2 (entry 11, 1 page); "
            "AA.LOG is too short to be a log.");
  EXPECT_EQ(r.report.notes.size(), 2u);

  // Named logs instead of discovery; a pipe named by hand is refused, not read.
  const std::vector<std::string> named = {dir + "/Aa.log1", dir + "/aa.log", dir + "/missing.LOG2"};
  const Recovery n = RecoverHive(primary, dir + "/AA", &named);
  ExpectConsistentBaseBlock(n, 12);
  ASSERT_EQ(n.report.notes.size(), 2u);
  EXPECT_EQ(n.report.notes[0], "Skipped aa.log: it is a named pipe, not a regular file.");
  EXPECT_EQ(n.report.notes[1].rfind("Cannot open missing.LOG2: ", 0), 0u);
  EXPECT_NE(HiveInfoText("AA", n.report).find("Note: Skipped aa.log"), std::string::npos);
}

TEST(LogDiscovery, MissingFolderIsANoteNotAFailure) {
  std::vector<std::string> notes;
  EXPECT_TRUE(FindTransactionLogs("/nonexistent-folder-for-cellbrook/HIVE", &notes).empty());
  EXPECT_EQ(notes.size(), 1u);
  EXPECT_TRUE(FindTransactionLogs("/nonexistent-folder-for-cellbrook/HIVE", nullptr).empty());
}

// ---- Hostile input ------------------------------------------------------------

TEST(HostileLogs, ShortPrimaryAndGarbageEndWell) {
  const Bytes primary = DirtyPrimary();
  const Recovery shortPrimary = RecoverFromLogs(Bytes(100, 0), {NewLog("h.LOG1", primary, 10, {10})});
  EXPECT_FALSE(shortPrimary.applied);
  EXPECT_EQ(RecoverySummaryLine(shortPrimary.report),
            "The hive file is too short to hold a base block; no transaction log can be applied.");
  // A primary that is only a base block grows to hold the bins the entry
  // carries.
  const Bytes headOnly(primary.begin(), primary.begin() + 4096);
  std::vector<test::LogPage> allBins;
  for (uint32_t rel = 0; rel < kBins; rel += 4096) allBins.push_back(Page(rel, 0x33));
  const Bytes wholeLog =
      test::NewFormatLog(test::LogBaseBlock(primary, 10, 6), {test::NewLogEntry(10, kBins, allBins)});
  const Recovery grown = RecoverFromLogs(headOnly, {{"h.LOG1", "", wholeLog}});
  ExpectConsistentBaseBlock(grown, 10);
  EXPECT_EQ(grown.image.size(), 4096u + kBins);
  // Garbage after a valid copy, every byte value.
  Bytes garbage = test::LogBaseBlock(primary, 10, 6);
  for (int i = 0; i < 70000; ++i) garbage.push_back(static_cast<uint8_t>(i * 131 + (i >> 8)));
  const Recovery g = RecoverFromLogs(primary, {{"h.LOG1", "", garbage}});
  EXPECT_FALSE(g.applied);
  EXPECT_TRUE(nlohmann::json::parse(HiveInfoJson("h", g.report)).is_object());
  const Recovery oddName = RecoverFromLogs(primary, {{"h\xff\xfe.LOG1", "", garbage}});
  EXPECT_TRUE(nlohmann::json::parse(HiveInfoJson("h\xff", oddName.report)).is_object());  // odd names too
}

// Logs grow the image only by the pages they carry, whatever a base block
// or an entry claims; a claim beyond that is refused with the reason.
TEST(HostileLogs, GrowthIsBoundedByThePagesTheLogsCarry) {
  const Bytes primary = DirtyPrimary();
  const Bytes headOnly(primary.begin(), primary.begin() + 4096);
  // The primary's own claim: 512 bytes of base block saying 0xFFFFF000.
  Bytes claims(primary.begin(), primary.begin() + 512);
  SetLe32(claims, 40, 0xFFFFF000);
  test::FixChecksum(claims);
  const Bytes trailing(1200 * 1024, 0);  // no entry: only the file grows
  auto log = [&](uint32_t binsSize, bool padded) {
    Bytes l =
        test::NewFormatLog(test::LogBaseBlock(primary, 10, 6), {test::NewLogEntry(10, binsSize, {Page(4096, 0x51)})});
    if (padded) l.insert(l.end(), trailing.begin(), trailing.end());
    return l;
  };
  struct Case {
    const char* what;
    Bytes primary, log;
    const char* reason;
  } cases[] = {
      {"512-byte primary claiming 0xFFFFF000, entry of that size", claims, log(0xFFFFF000, false),
       "more than the hive and its logs could hold"},
      {"entry claiming 4 bins, carrying one", headOnly, log(kBins, false),
       "entry 1 at log offset 0x200: its hive bins data size 16384 is more than the hive and its logs could hold"},
      {"a large log that carries one page", headOnly, log(0x100000, true),
       "entry 1 at log offset 0x200: its hive bins data size 1048576 would grow the image past the primary's "
       "4096 bytes and the 4096 bytes of pages the applied entries carry"},
  };
  for (const Case& c : cases) {
    const Recovery r = RecoverFromLogs(c.primary, {{"h.LOG1", "", c.log}});
    EXPECT_FALSE(r.applied) << c.what;
    EXPECT_TRUE(r.image.empty()) << c.what;
    ASSERT_EQ(r.report.logs.size(), 1u);
    const LogReport& l = r.report.logs[0];
    const std::string why = l.verdictReason + " / " + l.entriesStopReason;
    EXPECT_NE(why.find(c.reason), std::string::npos) << c.what << ": " << why;
  }

  // A later entry claiming more than it carries is dropped; the earlier
  // ones apply.
  std::vector<test::LogPage> allBins;
  for (uint32_t rel = 0; rel < kBins; rel += 4096) allBins.push_back(Page(rel, 0x33));
  Bytes twoEntries =
      test::NewFormatLog(test::LogBaseBlock(primary, 10, 6),
                         {test::NewLogEntry(10, kBins, allBins), test::NewLogEntry(11, 0x100000, {Page(4096, 0x44)})});
  twoEntries.insert(twoEntries.end(), trailing.begin(), trailing.end());
  const Recovery partly = RecoverFromLogs(headOnly, {{"h.LOG1", "", twoEntries}});
  ExpectConsistentBaseBlock(partly, 10);
  EXPECT_EQ(partly.image.size(), 4096u + kBins);
  EXPECT_EQ(partly.report.logs[0].appliedEntries, 1u);
  EXPECT_NE(partly.report.logs[0].entriesStopReason.find("entry 2 at log offset"), std::string::npos)
      << partly.report.logs[0].entriesStopReason;

  // Old format likewise: a copy claiming 1 MiB of bins with one dirty page.
  Bytes copy = test::LogBaseBlock(primary, 11, 1, 0x100000);
  Bytes old = test::OldFormatLog(copy, {{8, Bytes(512, 0x61)}});
  old.insert(old.end(), trailing.begin(), trailing.end());
  const Recovery oldRefused = RecoverFromLogs(headOnly, {{"h.LOG", "", old}});
  EXPECT_FALSE(oldRefused.applied);
  EXPECT_NE(oldRefused.report.logs[0].verdictReason.find(
                "its hive bins data size 1048576 would grow the image past the primary's 4096 bytes and the "
                "4096 bytes of pages it carries"),
            std::string::npos)
      << oldRefused.report.logs[0].verdictReason;
}

}  // namespace
}  // namespace cellbrook
