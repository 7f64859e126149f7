// Recovered keys written as registry text: the live writer's value entries,
// full paths only, slack values under their live key, damage counted.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "export/registry_text_writer.h"
#include "export/whole_file_write.h"
#include "hive/text_codec.h"
#include "hive_builder.h"
#include "present/deleted_text.h"
#include "recover/deleted/deleted_scan.h"
#include "regtext_reader.h"
#include "shared_hives.h"

namespace cellbrook {
namespace {

using test::Bytes;
using test::HiveBuilder;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A file's text as UTF-8, the byte-order mark dropped.
std::string FileText(const std::string& file) {
  std::u16string units(file.size() / 2, u'\0');
  for (size_t k = 0; k < units.size(); ++k) {
    units[k] = static_cast<char16_t>(static_cast<uint8_t>(file[2 * k]) | (static_cast<uint8_t>(file[2 * k + 1]) << 8));
  }
  return Utf16ToUtf8String(std::u16string_view(units).substr(units.empty() ? 0 : 1));
}

// ROOT\Software (live) with:
//   Twin (live) and Gone (deleted) holding the same kinds of values;
//   Gone\Sub (deleted) with one value; X (deleted, its parent cell now data:
//   a partial path); Owner (live) with "Dropped" left in its list's slack;
//   "Far" in Gone's list, its data outside the image.
struct Planted {
  Bytes image;
  DeletedScan scan;
  uint32_t twin = 0;
  uint32_t Index(const std::string& name) const {
    for (uint32_t i = 0; i < scan.keys.size(); ++i) {
      if (scan.keys[i].name == name) return i;
    }
    return kNoCell;
  }
};

std::vector<uint32_t> SameValues(HiveBuilder& b) {
  Bytes big(300);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
  return {b.Value("", 1, test::Utf16Bytes(u"default \"quoted\" C:\\path")),
          b.Value("Count", 4, {0x1A, 0, 0, 0}),
          b.Value("Blob", 3, big),
          b.Value("Multi", 7, test::Utf16Bytes(std::u16string_view(u"a\0b\0", 4))),
          b.Value("Empty", 1, {}),
          b.Value("Odd \"name\"", 11, {1, 2, 3, 4, 5, 6, 7, 8})};
}

const Planted& Hive() {
  static const Planted planted = [] {
    HiveBuilder b;
    const uint32_t root = b.Key("ROOT-NAME");
    b.Put16(root + 6, 0x0024);  // the root flag, Latin-1 name
    const uint32_t software = b.Key("Software", root);
    const uint32_t twin = b.Key("Twin", software);
    b.SetValues(twin, SameValues(b));
    const uint32_t owner = b.Key("Owner", software);
    const uint32_t kept = b.Value("Kept", 4, {1, 0, 0, 0});
    const uint32_t dropped = b.Value("Dropped", 3, Text("old bytes"));
    b.SetValues(owner, {kept, dropped});
    b.Put32(owner + 0x28, 1);  // the count shrank; the entry stays
    b.SetSubkeys(root, {software});
    b.SetSubkeys(software, {twin, owner});
    const uint32_t liveData = b.Value("Reused", 3, Bytes(64, 7));
    b.SetValues(root, {liveData});
    b.SetRoot(root);

    const uint32_t gone = b.Key("Gone", software);
    std::vector<uint32_t> values = SameValues(b);
    const uint32_t far = b.Value("Far", 3, Bytes(16, 1));
    b.Put32(far + 0xC, 0x100000);
    values.push_back(far);
    b.SetValues(gone, values);
    const uint32_t sub = b.Key("Sub", gone);
    const uint32_t subList = b.SetValues(sub, {b.Value("deep", 4, {9, 0, 0, 0})});
    const uint32_t x = b.Key("X", b.Get32(liveData + 0xC));
    const uint32_t xList = b.SetValues(x, {b.Value("lost", 4, {5, 0, 0, 0})});
    for (uint32_t key : {gone, sub, x}) b.SetLastWritten(key, 131962628961234567ull);
    b.Free(gone, subList);  // keys, lists, values and data as one free run
    b.Free(x, xList);
    b.Free(dropped);
    Planted p;
    p.image = b.Image();
    p.scan = ScanDeletedRecords(test::ViewOf(p.image));
    p.twin = twin;
    return p;
  }();
  return planted;
}

struct Written {
  std::string text, error;
  RecoveredExportCount count;
};

Written Write(const std::vector<uint32_t>& keys, bool slack, const std::string& prefix) {
  const std::string path = test::ScratchPath("recovered.reg");
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  EXPECT_GE(fd, 0);
  Written w;
  try {
    OutputSink sink(fd, 64);
    WriteRegFileHeader(sink);
    w.count = ExportRecoveredKeys(Hive().scan, keys, slack, prefix, sink);
  } catch (const ExportError& e) {
    w.error = e.what();
  }
  ::close(fd);
  w.text = FileText(test::ReadFileBytes(path));
  std::remove(path.c_str());
  return w;
}

// The part of `text` after the line "[section]" up to the next section.
std::string Section(const std::string& text, const std::string& section) {
  const std::string head = "\r\n[" + section + "]\r\n";
  const size_t at = text.find(head);
  if (at == std::string::npos) return "(missing)";
  const size_t from = at + head.size();
  const size_t to = text.find("\r\n[", from);
  return text.substr(from, to == std::string::npos ? std::string::npos : to - from);
}

TEST(RecoveredExport, TheScanFindsWhatThePlantedHiveHolds) {
  const Planted& p = Hive();
  for (const char* name : {"Gone", "Sub", "X"}) EXPECT_NE(p.Index(name), kNoCell) << name;
  EXPECT_EQ(p.scan.keys[p.Index("X")].pathKind, PathKind::Partial);
  EXPECT_EQ(FullPathRecoveredTops(p.scan), std::vector<uint32_t>{p.Index("Gone")});
}

TEST(RecoveredExport, ValueEntriesAreTheLiveWritersOwn) {
  const Planted& p = Hive();
  const Written recovered = Write({p.Index("Gone")}, false, "HKEY_CURRENT_USER");
  ASSERT_EQ(recovered.error, "");
  test::BoundHive live(p.image);
  const ExportOutcome outcome = ExportKeyToFile(live.image, KeyRef{p.twin}, "HKEY_CURRENT_USER\\Software\\Twin",
                                                "ROOT\\Software\\Twin", test::ScratchPath("twin.reg"));
  ASSERT_EQ(outcome.status, ExportOutcome::Done) << outcome.message;
  const std::string twinText = FileText(test::ReadFileBytes(test::ScratchPath("twin.reg")));
  const std::string liveValues = Section(twinText, "HKEY_CURRENT_USER\\Software\\Twin");
  const std::string goneValues = Section(recovered.text, "HKEY_CURRENT_USER\\Software\\Gone");
  ASSERT_NE(liveValues, "(missing)");
  EXPECT_EQ(goneValues, liveValues);  // "Far" (unreadable) skipped, all else alike
  EXPECT_NE(liveValues.find("@=\"default \\\"quoted\\\" C:\\\\path\""), std::string::npos);
}

TEST(RecoveredExport, SubtreeSlackAndWhatIsLeftOut) {
  const Planted& p = Hive();
  struct Case {
    const char* what;
    std::vector<uint32_t> keys;
    bool slack;
    std::vector<std::string> sections;
    uint64_t values, unreadable;
  } cases[] = {
      {"subtree", {p.Index("Gone")}, false, {"P\\Software\\Gone", "P\\Software\\Gone\\Sub"}, 7, 1},
      {"below only", {p.Index("Sub")}, false, {"P\\Software\\Gone\\Sub"}, 1, 0},
      {"each key once",
       {p.Index("Gone"), p.Index("Sub")},
       false,
       {"P\\Software\\Gone", "P\\Software\\Gone\\Sub"},
       7,
       1},
      {"partial writes nothing", {p.Index("X")}, false, {}, 0, 0},
      {"slack alone", {}, true, {"P\\Software\\Owner"}, 1, 0},
      {"all that can go back",
       FullPathRecoveredTops(p.scan),
       true,
       {"P\\Software\\Gone", "P\\Software\\Gone\\Sub", "P\\Software\\Owner"},
       8,
       1},
  };
  for (const Case& c : cases) {
    const Written w = Write(c.keys, c.slack, "P");
    ASSERT_EQ(w.error, "") << c.what;
    std::vector<std::string> sections;
    for (size_t at = w.text.find("\r\n["); at != std::string::npos; at = w.text.find("\r\n[", at + 3)) {
      sections.push_back(w.text.substr(at + 3, w.text.find("]\r\n", at) - at - 3));
    }
    EXPECT_EQ(sections, c.sections) << c.what;
    EXPECT_EQ(w.count.keys, c.sections.size()) << c.what;
    EXPECT_EQ(w.count.values, c.values) << c.what;
    EXPECT_EQ(w.count.damage.Count(DamageKind::ValueData), c.unreadable) << c.what;
    if (c.unreadable) {
      EXPECT_EQ(w.count.damage.FirstPath(DamageKind::ValueData), "ROOT\\Software\\Gone");
    }
    EXPECT_EQ(w.text.find("lost"), std::string::npos) << c.what;  // X's value
  }
  const Written slack = Write({}, true, "P");
  EXPECT_EQ(Section(slack.text, "P\\Software\\Owner"), "\"Dropped\"=hex:6f,6c,64,20,62,79,74,65,73\r\n");
}

TEST(RecoveredExport, FileReimportsToTheRecoveredBytes) {
  const Planted& p = Hive();
  const std::string target = test::ScratchPath("recovered-file.reg");
  const ExportOutcome outcome =
      ExportRecoveredKeysToFile(p.scan, FullPathRecoveredTops(p.scan), true, "HKEY_LOCAL_MACHINE\\SOFTWARE", target);
  EXPECT_EQ(outcome.status, ExportOutcome::Damaged);
  EXPECT_NE(outcome.message.find("ROOT\\Software\\Gone"), std::string::npos) << outcome.message;
  const std::vector<test::RegKey> keys = test::ParseRegText(test::ReadFileBytes(target));
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[1].path, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Software\\Gone\\Sub");
  ASSERT_EQ(keys[1].values.size(), 1u);
  EXPECT_EQ(keys[1].values[0].data, (std::vector<uint8_t>{9, 0, 0, 0}));
  // Every recovered value with readable data comes back with its type and bytes.
  const DeletedKey& gone = p.scan.keys[p.Index("Gone")];
  size_t compared = 0;
  for (uint32_t v : gone.values) {
    const DeletedValue& value = p.scan.values[v];
    if (value.data == DataState::Unreadable) continue;
    ASSERT_LT(compared, keys[0].values.size());
    const test::RegValue& back = keys[0].values[compared++];
    EXPECT_EQ(back.name, value.name);
    EXPECT_EQ(back.type, value.type);
    std::vector<uint8_t> want = DeletedValueData(p.scan, value);
    EXPECT_EQ(back.data, want) << value.name;
  }
  EXPECT_EQ(compared, keys[0].values.size());
  EXPECT_EQ(ExportRecoveredKeysToFile(p.scan, {}, false, "P", "/no/such/dir/x.reg").status,
            ExportOutcome::CannotCreate);
  // A device is no file to replace: refused before it is opened.
  const ExportOutcome device =
      ExportRecoveredKeysToFile(p.scan, FullPathRecoveredTops(p.scan), false, "P", "/dev/full");
  EXPECT_EQ(device.status, ExportOutcome::CannotCreate);
  EXPECT_EQ(device.message, kNotRegularTargetText);
}

TEST(RecoveredExport, PrefixTheFormatCannotCarryRaises) {
  struct Case {
    const char* what;
    const char* prefix;
  } cases[] = {
      {"line break in the prefix", "P\r\n[X]"},
      {"empty name in the prefix", "P\\\\Q"},
  };
  for (const Case& c : cases) {
    HiveBuilder b;
    const uint32_t root = b.Key("ROOT-NAME");
    b.Put16(root + 6, 0x0024);
    b.SetRoot(root);
    const uint32_t gone = b.Key("ok", root);
    b.SetLastWritten(gone, 131962628961234567ull);
    b.SetValues(gone, {b.Value("v", 4, {1, 0, 0, 0})});
    b.Free(gone);
    const Bytes image = b.Image();
    const DeletedScan scan = ScanDeletedRecords(test::ViewOf(image));
    ASSERT_EQ(scan.keys.size(), 1u) << c.what;
    const std::string path = test::ScratchPath("bad.reg");
    const ExportOutcome outcome = ExportRecoveredKeysToFile(scan, FullPathRecoveredTops(scan), false, c.prefix, path);
    EXPECT_EQ(outcome.status, ExportOutcome::Failed) << c.what;
    EXPECT_NE(outcome.message.find("cannot be written"), std::string::npos) << c.what << ": " << outcome.message;
    EXPECT_EQ(FileText(test::ReadFileBytes(path)).find("\n[X]"), std::string::npos) << c.what;
  }
}

// A recovered key the format cannot name is left out with its subtree and
// counted; a recovered sibling is still written.
TEST(RecoveredExport, NamesTheFormatCannotCarryAreLeftOut) {
  struct Case {
    const char* what;
    const char* name;
    const char* valueName;
    uint64_t keys, values;
  } cases[] = {
      {"backslash in a key name", "a\\b", "v", 1, 0},
      {"line break in a key name", "a\r\n[X]", "v", 1, 0},
      {"line break in a value name", "ok2", "v\n[X]", 0, 1},
  };
  for (const Case& c : cases) {
    HiveBuilder b;
    const uint32_t root = b.Key("ROOT-NAME");
    b.Put16(root + 6, 0x0024);
    b.SetRoot(root);
    const uint32_t gone = b.Key(c.name, root);
    b.SetLastWritten(gone, 131962628961234567ull);
    b.SetValues(gone, {b.Value(c.valueName, 4, {1, 0, 0, 0})});
    b.Free(gone);
    const uint32_t kept = b.Key("kept", root);
    b.SetLastWritten(kept, 131962628961234567ull);
    b.SetValues(kept, {b.Value("w", 4, {2, 0, 0, 0})});
    b.Free(kept);
    const Bytes image = b.Image();
    const DeletedScan scan = ScanDeletedRecords(test::ViewOf(image));
    ASSERT_EQ(scan.keys.size(), 2u) << c.what;
    const std::string path = test::ScratchPath("left-out.reg");
    const ExportOutcome outcome = ExportRecoveredKeysToFile(scan, FullPathRecoveredTops(scan), false, "P", path);
    EXPECT_EQ(outcome.status, ExportOutcome::Damaged) << c.what;
    NamesLeftOut want{c.keys, c.values, ""};
    EXPECT_NE(outcome.message.find(want.Summary().substr(0, 30)), std::string::npos)
        << c.what << ": " << outcome.message;
    const std::string text = FileText(test::ReadFileBytes(path));
    EXPECT_EQ(text.find("\n[X]"), std::string::npos) << c.what;
    EXPECT_NE(text.find("[P\\kept]\r\n\"w\"=dword:00000002"), std::string::npos) << c.what << text;
  }
}

}  // namespace
}  // namespace cellbrook
