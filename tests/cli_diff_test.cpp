// cellbrook-cli diff and history: the lines, the JSON, the exit codes, the
// registry patch through the command line, and the log history of built
// and real dirty hives, whose entries together change what diff --logs does.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli_support.h"
#include "hive/text_codec.h"
#include "log_builder.h"
#include "shared_hives.h"
#include "tree_model.h"

namespace cellbrook {
namespace {

using test::Bytes;
using test::SpecKey;

Bytes Dword(uint32_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), 0, 0}; }

SpecKey Old() {
  return {"ROOT-NAME",
          100,
          {{"Count", 4, Dword(1)}},
          {{"Gone", 200, {{"V", 4, Dword(2)}}, {{"Below", 1, {}, {}}}},
           {"Kept", 300, {{"Same", 4, Dword(3)}, {"Type", 4, Dword(4)}, {"Drop", 1, test::Utf16Bytes(u"x")}}, {}}}};
}
SpecKey New() {
  return {"ROOT-NAME",
          100,
          {{"Count", 4, Dword(1)}},
          {{"Kept", 301, {{"Same", 4, Dword(3)}, {"Type", 3, Dword(4)}, {"Tab\tName", 4, Dword(5)}}, {}},
           {"New", 400, {{"", 1, test::Utf16Bytes(u"hi")}}, {}}}};
}

std::string Write(const std::string& name, const Bytes& bytes) { return test::WriteScratchFile(name, bytes); }

struct Files {
  std::string oldPath = Write("diff-old.hive", test::BuildTree(Old()));
  std::string newPath = Write("diff-new.hive", test::BuildTree(New()));
};

TEST(CliDiff, OneChangeALineInTreeOrder) {
  const Files f;
  const test::CliRun r = test::RunCliCaptured({"diff", f.oldPath, f.newPath});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "key-\tROOT\\Gone\n"
            "key~\tROOT\\Kept\t1601-01-01T00:00:00.0000300Z\t1601-01-01T00:00:00.0000301Z\n"
            "value-\tROOT\\Kept\tDrop\n"
            "value~\tROOT\\Kept\tType\tREG_DWORD\tREG_BINARY\n"
            "value+\tROOT\\Kept\tTab\\tName\tREG_DWORD\n"
            "key+\tROOT\\New\n"
            "value+\tROOT\\New\t(Default)\tREG_SZ\n");
}

TEST(CliDiff, JsonCarriesTypeCodesAndHexData) {
  const Files f;
  const test::CliRun r = test::RunCliCaptured({"diff", f.oldPath, f.newPath, "ROOT\\kept", "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  std::vector<nlohmann::json> records;
  size_t at = 0;
  for (size_t end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1) {
    records.push_back(nlohmann::json::parse(r.out.substr(at, end - at)));
  }
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0], nlohmann::json::parse(R"({"change":"changed","key":"ROOT\\Kept",
      "old_last_written":"1601-01-01T00:00:00.0000300Z","new_last_written":"1601-01-01T00:00:00.0000301Z"})"));
  EXPECT_EQ(records[1], nlohmann::json::parse(R"({"change":"removed","key":"ROOT\\Kept","name":"Drop",
      "old_type":1,"new_type":null,"old_data":"78000000","new_data":null})"));
  EXPECT_EQ(records[2], nlohmann::json::parse(R"({"change":"changed","key":"ROOT\\Kept","name":"Type",
      "old_type":4,"new_type":3,"old_data":"04000000","new_data":"04000000"})"));
  EXPECT_EQ(records[3]["change"], "added");
  EXPECT_EQ(records[3]["name"], "Tab\tName");
  EXPECT_EQ(records[3]["old_data"], nullptr);
  EXPECT_EQ(records[3]["new_data"], "05000000");
}

TEST(CliDiff, ExitStatusAndMessages) {
  const Files f;
  const std::string junk = Write("diff-junk.hive", Bytes(5000, 7));
  std::vector<uint8_t> signatureOnly(100, 0);  // "regf" and no base block after it
  std::copy_n("regf", 4, signatureOnly.begin());
  const std::string stub = Write("diff-stub.hive", signatureOnly);
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string err;  // a part of stderr
  };
  const std::vector<Case> cases = {
      {{"diff", f.oldPath, f.oldPath}, 3, "The hives are the same."},
      {{"diff", f.oldPath, f.newPath, "ROOT\\Nowhere"}, 3, "Key not found in either hive: ROOT\\Nowhere"},
      {{"diff", f.oldPath, f.newPath, "ROOT\\New"}, 0, ""},
      {{"diff", f.oldPath, junk}, 2, ""},
      {{"diff", "/no/such/hive", f.newPath}, 2, ""},
      {{"diff", f.oldPath}, 1, "wrong number of arguments"},
      {{"diff", f.oldPath, f.newPath, "--prefix", "X"}, 1, "--prefix goes with --reg"},
      {{"diff", f.oldPath, f.newPath, "--json", "--reg", "x.reg"}, 1, "exclude each other"},
      {{"diff", f.oldPath, "--logs", "--no-logs"}, 1, "exclude each other"},
      {{"diff", f.oldPath, f.newPath, "--log", f.oldPath}, 1, "--log goes with --logs"},
      {{"diff", f.oldPath, f.newPath, "--long"}, 1, "unknown option"},
      {{"diff", f.oldPath, "--logs"}, 3, "The hive is clean"},
      {{"history", f.oldPath}, 3, "The hive is clean"},
      {{"history", f.oldPath, f.newPath}, 1, "wrong number of arguments"},
      {{"history", f.oldPath, "--no-logs"}, 1, "unknown option"},
      {{"history", junk}, 2, "File format is invalid!"},
      {{"history", stub}, 2, "File format is invalid!"},
      {{"diff", stub, "--logs"}, 2, "File format is invalid!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1] + " " + (c.args.size() > 2 ? c.args[2] : ""));
    const test::CliRun r = test::RunCliCaptured(c.args);
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
  // Only in the new hive: added whole.
  const test::CliRun added = test::RunCliCaptured({"diff", f.oldPath, f.newPath, "ROOT\\New"});
  EXPECT_EQ(added.out, "key+\tROOT\\New\nvalue+\tROOT\\New\t(Default)\tREG_SZ\n");
}

TEST(CliDiff, DamagedListsAreSkippedAndSaid) {
  test::HiveBuilder b;
  const uint32_t root = b.Key("root");
  const uint32_t list = b.SetValues(root, {b.Value("A", 4, Dword(1)), b.Value("B", 4, Dword(2))});
  b.SetRoot(root);
  const std::string good = Write("diff-good.hive", b.Image());
  b.Put32(list + 8, 0x7FFFFFF0);  // B's entry leads outside the image
  const std::string bad = Write("diff-bad.hive", b.Image());
  const test::CliRun r = test::RunCliCaptured({"diff", good, bad});
  EXPECT_EQ(r.code, 5) << r.err;
  // The readable parts are compared; the damage says where they stop.
  EXPECT_EQ(r.out, "value-\tROOT\tB\n");
  EXPECT_NE(r.err.find("The hive is damaged: 1 value could not be read (first at ROOT)"), std::string::npos) << r.err;
}

TEST(CliDiff, RegPatchTurnsOldIntoNew) {
  const Files f;
  const std::string patch = test::ScratchPath("diff-patch.reg");
  const test::CliRun r =
      test::RunCliCaptured({"diff", f.oldPath, f.newPath, "--reg", patch, "--prefix", "HKEY_LOCAL_MACHINE\\T"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "");
  const test::BoundHive a(test::BuildTree(Old())), b(test::BuildTree(New()));
  test::TreeModel model = test::ModelOf(a.image);
  test::ApplyRegText(model, test::ParseRegText(test::ReadFileBytes(patch)), "HKEY_LOCAL_MACHINE\\T");
  EXPECT_EQ(test::ModelDifference(model, test::ModelOf(b.image), false), "");
}

TEST(CliDiff, RegPatchNeverWritesOverAHiveOrItsLogs) {
  const Files f;
  const std::string before = test::ReadFileBytes(f.oldPath);
  for (const std::string& target : {f.oldPath, f.newPath}) {
    const test::CliRun r = test::RunCliCaptured({"diff", f.oldPath, f.newPath, "--reg", target});
    EXPECT_EQ(r.code, 4) << r.err;
  }
  EXPECT_EQ(test::ReadFileBytes(f.oldPath), before);
}

// A dirty hive whose log holds two entries: the first adds a key, the
// second changes a value and removes a key.
struct DirtyHive {
  static constexpr uint32_t kBins = 3 * 4096;
  std::string path, log;
  DirtyHive() {
    SpecKey s0 = Old(), s1 = Old(), s2 = Old();
    s1.subkeys.push_back({"Added", 500, {{"N", 4, Dword(7)}}, {}});
    s2 = s1;
    s2.values[0].data = Dword(2);
    s2.subkeys.erase(s2.subkeys.begin());  // Gone
    const Bytes b0 = test::BuildTree(s0, kBins), b1 = test::BuildTree(s1, kBins), b2 = test::BuildTree(s2, kBins);
    const Bytes primary = test::WithSequences(b0, 11, 10);
    auto bins = [](const Bytes& image) { return Bytes(image.begin() + 4096, image.end()); };
    const Bytes logBytes = test::NewFormatLog(
        test::LogBaseBlock(primary, 10, 6),
        {test::NewLogEntry(10, kBins, {{0, bins(b1)}}), test::NewLogEntry(11, kBins, {{0, bins(b2)}})});
    path = Write("dirty.hive", primary);
    const std::string logPath = Write("dirty.hive.LOG1", logBytes);
    log = logPath.substr(logPath.find_last_of('/') + 1);
  }
};

TEST(CliHistory, EachEntryWithWhatItChanged) {
  const DirtyHive hive;
  const test::CliRun r = test::RunCliCaptured({"history", hive.path});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "entry\t10\t" + hive.log +
                       "\t1\n"
                       "10\tkey+\tROOT\\Added\n"
                       "10\tvalue+\tROOT\\Added\tN\tREG_DWORD\n"
                       "entry\t11\t" +
                       hive.log +
                       "\t1\n"
                       "11\tvalue~\tROOT\tCount\tREG_DWORD\tREG_DWORD\n"
                       "11\tkey-\tROOT\\Gone\n");
  const test::CliRun diff = test::RunCliCaptured({"diff", hive.path, "--logs"});
  EXPECT_EQ(diff.code, 0) << diff.err;
  EXPECT_EQ(diff.out,
            "value~\tROOT\tCount\tREG_DWORD\tREG_DWORD\n"
            "key-\tROOT\\Gone\n"
            "key+\tROOT\\Added\n"
            "value+\tROOT\\Added\tN\tREG_DWORD\n");
  const test::CliRun json = test::RunCliCaptured({"history", hive.path, "--json"});
  ASSERT_EQ(json.code, 0) << json.err;
  const std::string first = json.out.substr(0, json.out.find('\n'));
  EXPECT_EQ(nlohmann::json::parse(first),
            nlohmann::json::parse(R"({"record":"entry","sequence":10,"log":")" + hive.log + R"(","pages":1})"));
  EXPECT_NE(json.out.find(R"({"sequence":10,"change":"added","key":"ROOT\\Added"})"), std::string::npos) << json.out;
}

// A log of 1,030 entries: the first 1,024 are steps of their own, the rest one step.
TEST(CliHistory, ManyEntriesEndInOneStep) {
  constexpr uint32_t kBins = DirtyHive::kBins;
  SpecKey s0 = Old(), s1 = Old();
  s1.values[0].data = Dword(9);
  const Bytes b0 = test::BuildTree(s0, kBins), b1 = test::BuildTree(s1, kBins);
  const Bytes primary = test::WithSequences(b0, 11, 10);
  std::vector<Bytes> entries;
  for (uint32_t k = 0; k < 1030; ++k) {
    const Bytes& state = k % 2 == 0 ? b1 : b0;
    entries.push_back(test::NewLogEntry(10 + k, kBins, {{0, Bytes(state.begin() + 4096, state.end())}}));
  }
  const std::string path = Write("many.hive", primary);
  Write("many.hive.LOG1", test::NewFormatLog(test::LogBaseBlock(primary, 10, 6), entries));
  const test::CliRun r = test::RunCliCaptured({"history", path, "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  std::vector<nlohmann::json> steps;
  size_t changes = 0, at = 0;
  for (size_t end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1) {
    const nlohmann::json j = nlohmann::json::parse(r.out.substr(at, end - at));
    if (j.contains("record"))
      steps.push_back(j);
    else
      ++changes;
  }
  ASSERT_EQ(steps.size(), 1025u);
  EXPECT_EQ(steps[1023]["sequence"], 1033);
  EXPECT_EQ(steps[1024]["sequence"], 1039);
  EXPECT_EQ(steps[1024]["first_sequence"], 1034);
  EXPECT_EQ(steps[1024]["pages"], 6);
  // Each entry flips Count; the six shown together flip it back and forth to where it was.
  EXPECT_EQ(changes, 1024u);
  EXPECT_NE(r.err.find("Entries 1034 to 1039 (6 entries) are shown as one step"), std::string::npos) << r.err;
}

// Reads JSON Lines of changes into records (types and data as printed).
std::vector<ChangeRecord> Records(const std::string& out, std::vector<uint32_t>* sequences = nullptr) {
  std::vector<ChangeRecord> records;
  size_t at = 0;
  for (size_t end; (end = out.find('\n', at)) != std::string::npos; at = end + 1) {
    const nlohmann::json j = nlohmann::json::parse(out.substr(at, end - at));
    if (j.contains("record")) continue;  // an entry line
    if (sequences) sequences->push_back(j["sequence"].get<uint32_t>());
    ChangeRecord r;
    const std::string change = j["change"];
    const bool value = j.contains("name");
    r.kind = change == "added"     ? (value ? ChangeKind::ValueAdded : ChangeKind::KeyAdded)
             : change == "removed" ? (value ? ChangeKind::ValueRemoved : ChangeKind::KeyRemoved)
                                   : (value ? ChangeKind::ValueChanged : ChangeKind::KeyTime);
    r.path = j["key"];
    if (value) {
      r.valueName = j["name"];
      if (!j["new_type"].is_null()) r.newType = j["new_type"].get<uint32_t>();
      if (!j["new_data"].is_null()) {
        const std::string hex = j["new_data"];
        Bytes data;
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
          data.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        r.newData = data;
      }
    }
    records.push_back(r);
  }
  return records;
}

TEST(CliHistory, SharedDirtyCasesEntriesTogetherEqualDiffLogs) {
  SKIP_WITHOUT_SHARED_HIVES();
  const std::string dir = test::SharedHivesDir() + "/dirty/";
  struct Case {
    std::string hive;
    uint32_t first, last;
  };
  for (const Case& c :
       {Case{"UsrClass/UsrClass.dat", 287, 300}, Case{"transactions_NTUSER/transactions_NTUSER.DAT", 566, 588}}) {
    SCOPED_TRACE(c.hive);
    const test::CliRun history = test::RunCliCaptured({"history", dir + c.hive, "--json"});
    // UsrClass: after entry 289 an index entry of ROOT\Local Settings\MrtCache leads to a
    // cell that entry 290 makes a key; that state is damaged, and said so.
    ASSERT_TRUE(history.code == 0 || history.code == 5) << history.err;
    if (history.code == 5) {
      EXPECT_NE(history.err.find("The hive is damaged"), std::string::npos) << history.err;
    }
    const test::CliRun diff = test::RunCliCaptured({"diff", dir + c.hive, "--logs", "--json"});
    ASSERT_EQ(diff.code, 0) << diff.err;
    // Every entry is listed once, in order.
    std::vector<uint32_t> entries;
    size_t at = 0;
    for (size_t end; (end = history.out.find('\n', at)) != std::string::npos; at = end + 1) {
      const nlohmann::json j = nlohmann::json::parse(history.out.substr(at, end - at));
      if (j.contains("record")) entries.push_back(j["sequence"].get<uint32_t>());
    }
    ASSERT_EQ(entries.size(), c.last - c.first + 1);
    for (size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(entries[i], c.first + i);
    // The hive as read, changed entry by entry, and changed by diff --logs at once: the same tree.
    const std::string bytes = test::ReadFileBytes(dir + c.hive);
    const test::BoundHive primary(Bytes(bytes.begin(), bytes.end()));
    std::vector<uint32_t> tags;
    test::TreeModel stepwise = test::ModelOf(primary.image), atOnce = stepwise;
    test::ApplyChanges(stepwise, Records(history.out, &tags));
    test::ApplyChanges(atOnce, Records(diff.out));
    EXPECT_EQ(test::ModelDifference(stepwise, atOnce, false), "");
    EXPECT_TRUE(std::is_sorted(tags.begin(), tags.end()));
    EXPECT_FALSE(tags.empty());
  }
}

}  // namespace
}  // namespace cellbrook
