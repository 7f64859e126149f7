// Deleted keys and values: crafted hives for each place an old record can
// lie, hostile ones, and the shared real hives' expected records.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "hive/filetime.h"
#include "hive_builder.h"
#include "present/deleted_text.h"
#include "recover/deleted/deleted_scan.h"
#include "shared_hives.h"
#include "synthetic_hive.h"

namespace cellbrook {
namespace {

using test::Bytes;
using test::DataStorage;
using test::HiveBuilder;

constexpr uint64_t kTime = 131962628961234567ull;  // 2019-03-05T12:34:56.1234567Z

struct Scanned {
  Bytes image;
  DeletedScan scan;
  const DeletedKey* Key(const std::string& name) const {
    for (const DeletedKey& k : scan.keys) {
      if (k.name == name) return &k;
    }
    return nullptr;
  }
  const DeletedValue* Value(const std::string& name) const {
    for (const DeletedValue& v : scan.values) {
      if (v.name == name) return &v;
    }
    return nullptr;
  }
  std::string Path(const DeletedKey* k) const { return DeletedKeyPath(scan, *k); }
  std::string Data(const DeletedValue& v) const {
    const std::vector<uint8_t> bytes = DeletedValueData(scan, v);
    return std::string(bytes.begin(), bytes.end());
  }
};

Scanned Scan(Bytes image) {
  Scanned s{std::move(image), {}};
  s.scan = ScanDeletedRecords(test::ViewOf(s.image));
  return s;
}

// ROOT with a live "Software"; tests add and free records around them.
struct Base {
  HiveBuilder b;
  uint32_t root, software;
  Base() {
    root = b.Key("ROOT-NAME");
    software = b.Key("Software", root);
    b.Put16(root + 6, 0x0024);  // the root flag, Latin-1 name
    b.SetSubkeys(root, {software});
    b.SetValues(software, {b.Value("Live", 4, {1, 0, 0, 0})});
    b.SetRoot(root);
  }
  uint32_t OldKey(const std::string& name, uint32_t parent) {
    const uint32_t k = b.Key(name, parent);
    b.SetLastWritten(k, kTime);
    return k;
  }
};

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(DeletedScan, LiveHiveHoldsNoDeletedRecords) {
  const test::SampleHive sample = test::BuildSampleHive();
  HiveBuilder big;
  const uint32_t root = big.Key("r");
  big.SetValues(root, {big.Value("Big", 3, Bytes(40000, 0x5A)), big.Value("S", 1, Text("abc"))});
  big.SetRoot(root);
  for (const Bytes& image : {sample.image, big.Image()}) {
    const Scanned s = Scan(image);
    EXPECT_TRUE(s.scan.keys.empty());
    EXPECT_TRUE(s.scan.values.empty());
    EXPECT_FALSE(s.scan.damage.Any());
  }
}

TEST(DeletedScan, DeletedKeyWithItsValue) {
  Base h;
  const uint32_t gone = h.OldKey("Gone", h.software);
  const uint32_t value = h.b.Value("Name\tTab", 1, Text("hello world"));
  const uint32_t list = h.b.SetValues(gone, {value});
  const uint32_t data = h.b.Get32(value + 0xC);
  for (uint32_t cell : {gone, value, list, data}) h.b.Free(cell);
  const Scanned s = Scan(h.b.Image());

  ASSERT_EQ(s.scan.keys.size(), 1u);
  const DeletedKey& key = s.scan.keys[0];
  EXPECT_EQ(DeletedKeyPath(s.scan, key), "ROOT\\Software\\Gone");
  EXPECT_EQ(key.pathKind, PathKind::Full);
  EXPECT_TRUE(key.parentIsLive);
  EXPECT_EQ(key.parent, h.software);
  EXPECT_EQ(key.place, RecordPlace::FreeCell);
  ASSERT_EQ(key.values.size(), 1u);
  ASSERT_EQ(s.scan.values.size(), 1u);
  const DeletedValue& v = s.scan.values[key.values[0]];
  EXPECT_EQ(v.owner, ValueOwner::Recovered);
  EXPECT_EQ(s.Data(v), "hello world");
  EXPECT_FALSE(v.reallocated);

  char cells[2][16];
  std::snprintf(cells[0], 16, "0x%08x", gone);
  std::snprintf(cells[1], 16, "0x%08x", value);
  EXPECT_EQ(
      DeletedRecordLines(s.scan),
      (std::vector<std::string>{
          std::string("key\tROOT\\Software\\Gone\t2019-03-05T12:34:56.1234567Z\t") + cells[0],
          std::string("value\tROOT\\Software\\Gone\tName\\tTab\t1\t68656c6c6f20776f726c64\t") + cells[1] + "\t"}));
}

TEST(DeletedScan, DeletedSubtreeWithFullAndPartialPaths) {
  Base h;
  const uint32_t a = h.OldKey("A", h.software);
  const uint32_t b = h.OldKey("B", a);
  const uint32_t c = h.OldKey("C", b);
  // X's parent cell now holds a live value's data: no key node any more.
  const uint32_t liveData = h.b.Value("Reused", 3, Bytes(64, 7));
  h.b.SetValues(h.root, {liveData});
  const uint32_t x = h.OldKey("X", h.b.Get32(liveData + 0xC));
  const uint32_t y = h.OldKey("Y", x);
  h.b.Free(a, c);
  h.b.Free(x, y);
  const Scanned s = Scan(h.b.Image());

  ASSERT_EQ(s.scan.keys.size(), 5u);
  const std::map<std::string, std::pair<std::string, PathKind>> want{{"A", {"ROOT\\Software\\A", PathKind::Full}},
                                                                     {"B", {"ROOT\\Software\\A\\B", PathKind::Full}},
                                                                     {"C", {"ROOT\\Software\\A\\B\\C", PathKind::Full}},
                                                                     {"X", {"?\\X", PathKind::Partial}},
                                                                     {"Y", {"?\\X\\Y", PathKind::Partial}}};
  for (const auto& [name, path] : want) {
    const DeletedKey* k = s.Key(name);
    ASSERT_NE(k, nullptr) << name;
    EXPECT_EQ(s.Path(k), path.first) << name;
    EXPECT_EQ(k->pathKind, path.second) << name;
  }
  EXPECT_EQ(s.Key("C")->parentKey, static_cast<uint32_t>(s.Key("B") - s.scan.keys.data()));
  EXPECT_EQ(s.Key("X")->parentKey, kNoCell);
  EXPECT_FALSE(s.Key("X")->parentIsLive);
  EXPECT_EQ(DeletedKeyPathText(s.scan, *s.Key("Y")), "?\\X\\Y");
}

TEST(DeletedScan, ValueLeftInTheSlackOfALiveList) {
  Base h;
  const uint32_t kept = h.b.Value("Kept", 4, {1, 0, 0, 0});
  const uint32_t dropped = h.b.Value("Dropped", 3, Text("old bytes"));
  const uint32_t owner = h.OldKey("Owner", h.software);
  h.b.SetSubkeys(h.software, {owner});
  h.b.SetValues(owner, {kept, dropped});
  h.b.Put32(owner + 0x28, 1);  // the count shrank; the entry stays
  h.b.Free(dropped);
  const Scanned s = Scan(h.b.Image());

  EXPECT_TRUE(s.scan.keys.empty());
  ASSERT_EQ(s.scan.values.size(), 1u);
  const DeletedValue& v = s.scan.values[0];
  EXPECT_EQ(v.name, "Dropped");
  EXPECT_EQ(v.owner, ValueOwner::LiveSlack);
  EXPECT_EQ(v.ownerCell, owner);
  EXPECT_EQ(ValueOwnerPath(s.scan, v), "ROOT\\Software\\Owner");
  EXPECT_EQ(s.Data(v), "old bytes");
}

TEST(DeletedScan, RecordsAfterTheLastBin) {
  HiveBuilder older;
  const uint32_t oldKey = older.Key("Remnant");
  older.SetLastWritten(oldKey, kTime);
  const uint32_t oldValue = older.Value("Far", 3, Bytes(16, 1));
  older.Put32(oldValue + 0xC, 0x100000);  // data in the older hive's bins
  Base h;
  h.b.AppendAfterBins(older.CellBytes(oldKey));
  h.b.AppendAfterBins(older.CellBytes(oldValue));
  const Scanned s = Scan(h.b.Image());

  const DeletedKey* k = s.Key("Remnant");
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(k->place, RecordPlace::AfterBins);
  EXPECT_EQ(s.Path(k), "?\\Remnant");
  EXPECT_EQ(k->cell + 4096ull, s.scan.binsEnd);
  const DeletedValue* v = s.Value("Far");
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->data, DataState::Unreadable);
  EXPECT_EQ(ValueOwnerPath(s.scan, *v), "?");
  EXPECT_EQ(DeletedValueLine(s.scan, *v).substr(0, 19), "value\t?\tFar\t3\t?\t0x0");
}

// The bytes after the bins as an older, larger state of the same hive: one
// builder lays out the live first page and the old records after it, then
// the base block and the bin shrink to that page.
Bytes ShrinkToFirstPage(const HiveBuilder& b) {
  Bytes image = b.Image();
  for (size_t at : {size_t{40}, size_t{4096 + 8}}) {
    for (int i = 0; i < 4; ++i) image[at + i] = static_cast<uint8_t>(4096 >> (8 * i));
  }
  uint32_t sum = 0;
  for (size_t i = 0; i < 508; i += 4) {
    sum ^=
        uint32_t{image[i]} | uint32_t{image[i + 1]} << 8 | uint32_t{image[i + 2]} << 16 | uint32_t{image[i + 3]} << 24;
  }
  if (sum == 0) sum = 1;
  if (sum == 0xFFFFFFFF) sum = 0xFFFFFFFE;
  for (int i = 0; i < 4; ++i) image[508 + i] = static_cast<uint8_t>(sum >> (8 * i));
  return image;
}

TEST(DeletedScan, OffsetsPastTheBinsAreFollowedAsFarAsTheFileGoes) {
  Base h;
  // In the first page: a deleted value whose data now lie past the bins.
  const uint32_t near = h.b.Value("Near", 3, Text("placeholder"), DataStorage::Cell);
  const uint32_t nearData = h.b.Get32(near + 0xC);
  h.b.Free(nearData, near);
  const uint32_t filler = h.b.Cell(4096 - h.b.BinsSize() - 4);
  h.b.Free(filler);
  ASSERT_EQ(h.b.BinsSize(), 4096u);
  // Past it: a key chain from the live Software, values with cell and big data.
  const uint32_t older = h.OldKey("Older", h.software);
  const uint32_t remnant = h.OldKey("Remnant", older);
  const uint32_t far = h.b.Value("Far", 3, Text("far bytes"), DataStorage::Cell);
  Bytes huge(20000);
  for (size_t i = 0; i < huge.size(); ++i) huge[i] = static_cast<uint8_t>(i * 7);
  const uint32_t big = h.b.Value("Huge", 3, huge, DataStorage::Big);
  h.b.SetValues(remnant, {far, big});
  const uint32_t farData = h.b.Get32(far + 0xC);
  h.b.Put32(near + 0xC, farData);
  h.b.Put32(near + 8, 9);  // "far bytes"
  // A key whose list and parent lie past the file's end still counts.
  const uint32_t cut = h.OldKey("Cut", 0x7FFFFF00);
  h.b.Put32(cut + 0x28, 1);
  h.b.Put32(cut + 0x2C, 0x7FFFFF00);
  const Scanned s = Scan(ShrinkToFirstPage(h.b));
  ASSERT_EQ(s.scan.binsEnd, 8192u);

  const DeletedKey* k = s.Key("Remnant");
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(k->place, RecordPlace::AfterBins);
  EXPECT_EQ(s.Path(k), "ROOT\\Software\\Older\\Remnant");
  EXPECT_EQ(k->pathKind, PathKind::Full);
  ASSERT_EQ(k->values.size(), 2u);
  const DeletedValue& v = s.scan.values[k->values[0]];
  EXPECT_EQ(v.name, "Far");
  EXPECT_EQ(s.Data(v), "far bytes");
  EXPECT_EQ(ValueOwnerPath(s.scan, v), "ROOT\\Software\\Older\\Remnant");
  const DeletedValue& h2 = s.scan.values[k->values[1]];
  EXPECT_EQ(h2.name, "Huge");
  ASSERT_EQ(h2.data, DataState::Readable);
  EXPECT_EQ(DeletedValueData(s.scan, h2), huge);
  EXPECT_FALSE(h2.reallocated);
  const DeletedValue* n = s.Value("Near");
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->place, RecordPlace::FreeCell);
  EXPECT_EQ(s.Data(*n), "far bytes");
  const DeletedKey* c = s.Key("Cut");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(s.Path(c), "?\\Cut");
  EXPECT_TRUE(c->values.empty());
  EXPECT_FALSE(s.scan.damage.Any());
}

TEST(DeletedScan, DataCellNowAllocatedToALiveRecordIsReallocated) {
  Base h;
  const uint32_t live = h.b.Value("LiveData", 3, Text("new owner bytes!"));
  h.b.SetValues(h.root, {live});
  const uint32_t old = h.b.Value("OldData", 3, Text("old"));
  h.b.Free(old);
  h.b.Put32(old + 0xC, h.b.Get32(live + 0xC));
  h.b.Put32(old + 8, 16);
  const Scanned s = Scan(h.b.Image());

  const DeletedValue* v = s.Value("OldData");
  ASSERT_NE(v, nullptr);
  EXPECT_TRUE(v->reallocated);
  EXPECT_EQ(s.Data(*v), "new owner bytes!");
  const std::string line = DeletedValueLine(s.scan, *v);
  EXPECT_EQ(line.substr(line.size() - 12), "\treallocated");
}

TEST(DeletedScan, FreeCellHoldingSeveralRecords) {
  Base h;
  const uint32_t k1 = h.OldKey("First", h.software);
  const uint32_t v1 = h.b.Value("Small", 4, {9, 0, 0, 0});
  const uint32_t big = h.b.Value("Big", 3, Bytes(20000, 0x42), DataStorage::Big);
  const uint32_t k2 = h.OldKey("Second", k1);
  h.b.Free(k1, k2);
  const Scanned s = Scan(h.b.Image());

  ASSERT_EQ(s.scan.keys.size(), 2u);
  EXPECT_EQ(s.Path(s.Key("Second")), "ROOT\\Software\\First\\Second");
  ASSERT_EQ(s.scan.values.size(), 2u);
  EXPECT_EQ(s.Data(*s.Value("Small")), std::string("\x09\0\0\0", 4));
  EXPECT_EQ(s.Data(*s.Value("Big")), std::string(20000, 0x42));
  for (const DeletedValue& v : s.scan.values) {
    EXPECT_EQ(v.place, RecordPlace::FreeCell);
    EXPECT_EQ(v.owner, ValueOwner::None);
  }
  EXPECT_EQ(s.Value("Small")->cell, v1);
  EXPECT_EQ(s.Value("Big")->cell, big);
}

TEST(DeletedScan, UnreferencedCellsAndSlack) {
  Base h;
  // Still allocated, but nothing references it.
  h.OldKey("Orphan", h.software);
  // A live value's data shrank: an old value record sits in the slack,
  // its size field overwritten by the data's last four bytes.
  HiveBuilder other;
  const Bytes oldRecord = other.CellBytes(other.Value("InSlack", 4, {5, 0, 0, 0}));
  Bytes data(40 + oldRecord.size() - 4, 'd');
  std::copy(oldRecord.begin() + 4, oldRecord.end(), data.begin() + 40);
  const uint32_t live = h.b.Value("Shrunk", 3, data);
  h.b.Put32(live + 8, 40);
  h.b.SetValues(h.root, {live});
  const Scanned s = Scan(h.b.Image());

  ASSERT_NE(s.Key("Orphan"), nullptr);
  EXPECT_EQ(s.Key("Orphan")->place, RecordPlace::UnreferencedCell);
  const DeletedValue* v = s.Value("InSlack");
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->place, RecordPlace::Slack);
  EXPECT_EQ(s.Data(*v), std::string("\x05\0\0\0", 4));
  EXPECT_EQ(s.scan.values.size(), 1u);
}

// A live key's class name is live: an old record inside its text is no
// deleted record, one past the text's length lies in the cell's slack.
TEST(DeletedScan, LiveClassNameCellIsReferencedToItsLength) {
  HiveBuilder other;
  const Bytes oldRecord = other.CellBytes(other.Value("InClass", 4, {7, 0, 0, 0}));
  const size_t recordAt = 8;  // in the class text: the record's size field
  const size_t textBytes = recordAt + oldRecord.size();
  struct Case {
    const char* what;
    uint16_t classLength;
    bool found;
  } cases[] = {
      {"the text covers the record", static_cast<uint16_t>(textBytes), false},
      {"the record lies past the text", static_cast<uint16_t>(recordAt), true},
  };
  for (const Case& c : cases) {
    Base h;
    const uint32_t cls = h.b.SetClassName(h.software, std::u16string(textBytes / 2, u'c'));
    for (size_t i = 4; i < oldRecord.size(); ++i) {
      h.b.Put8(cls + 4 + static_cast<uint32_t>(recordAt + i), oldRecord[i]);
    }
    h.b.Put16(h.software + key_field::ClassNameLength, c.classLength);
    const Scanned s = Scan(h.b.Image());
    const DeletedValue* v = s.Value("InClass");
    ASSERT_EQ(v != nullptr, c.found) << c.what;
    if (v != nullptr) {
      EXPECT_EQ(v->place, RecordPlace::Slack) << c.what;
    }
    EXPECT_EQ(s.scan.damage.liveRefsBroken, 0u) << c.what;
  }
}

// Each broken live reference counts once; the first one's cell is kept.
TEST(DeletedScan, BrokenLiveReferencesAreCountedWithTheFirstCell) {
  Base h;
  const uint32_t live = h.b.Value("Live2", 4, {2, 0, 0, 0});
  h.b.SetValues(h.software, {0x7770, live, 0x8880});
  const Scanned s = Scan(h.b.Image());
  EXPECT_EQ(s.scan.damage.liveRefsBroken, 2u);
  EXPECT_EQ(s.scan.damage.firstBrokenRef, 0x7770u);
  EXPECT_FALSE(s.scan.damage.Any());  // the live reader's to report
}

// A deleted value as the reader's ValueInfo: data as spans into the image
// (big data one a segment), the same bytes DeletedValueData copies.
TEST(DeletedScan, DeletedValueInfoHoldsTheDataWhereItLies) {
  Base h;
  const uint32_t k = h.OldKey("Holder", h.software);
  const uint32_t small = h.b.Value("Small", 4, {9, 0, 0, 0});
  const uint32_t big = h.b.Value("Big", 3, Bytes(20000, 0x42), DataStorage::Big);
  const uint32_t lost = h.b.Value("Lost", 1, Text("gone"), DataStorage::Cell);
  h.b.Put32(lost + 0xC, 0x7FFFFFF8);  // its data cell lies past the file
  h.b.Free(k, lost);
  const Scanned s = Scan(h.b.Image());
  struct Case {
    const char* name;
    uint32_t cell;
    ReadState state;
    uint32_t length;
    size_t pieces;
  } cases[] = {
      {"Small", small, ReadState::Ok, 4, 1},
      {"Big", big, ReadState::Ok, 20000, 2},
      {"Lost", lost, ReadState::Damaged, 4, 0},
  };
  for (const Case& c : cases) {
    const DeletedValue* v = s.Value(c.name);
    ASSERT_NE(v, nullptr) << c.name;
    std::vector<uint8_t> name;
    const ValueInfo info = DeletedValueInfo(s.scan, *v, &name);
    EXPECT_EQ(info.Ref.cell, c.cell) << c.name;
    EXPECT_EQ(info.Name.Text(), c.name);
    EXPECT_EQ(info.Data.state, c.state) << c.name;
    EXPECT_EQ(info.DataLength, c.length) << c.name;
    size_t pieces = 0;
    std::vector<uint8_t> joined;
    info.Data.ForEachPiece([&](std::span<const uint8_t> piece) {
      ++pieces;
      EXPECT_TRUE(piece.data() >= s.image.data() && piece.data() + piece.size() <= s.image.data() + s.image.size());
      joined.insert(joined.end(), piece.begin(), piece.end());
    });
    EXPECT_EQ(pieces, c.pieces) << c.name;
    EXPECT_EQ(joined, DeletedValueData(s.scan, *v)) << c.name;
  }
}

TEST(DeletedScan, FreeListLinkOverTheSignature) {
  for (uint32_t minor : {3u, 5u}) {
    Base h;
    h.b.SetMinorVersion(minor);
    const uint32_t k = h.OldKey("Win2000", h.software);
    h.b.Free(k);
    h.b.Put32(k + 4, 0xFFFFFFFF);  // free-list link: signature and flags gone
    const Scanned s = Scan(h.b.Image());
    const DeletedKey* key = s.Key("Win2000");
    if (minor == 3) {
      ASSERT_NE(key, nullptr);
      EXPECT_TRUE(key->signatureLost);
      EXPECT_EQ(s.Path(key), "ROOT\\Software\\Win2000");
    } else {
      EXPECT_EQ(key, nullptr);  // newer hives keep no link there
    }
  }
}

TEST(DeletedScan, ImplausibleRecordsAreNotRecovered) {
  struct Case {
    const char* what;
    uint32_t field;  // offset in the key node
    uint32_t value;
  };
  const Case cases[] = {
      {"subkey count above 10,000", 0x18, 10001}, {"volatile subkey count", 0x1C, 0xFFFFFFFF},
      {"value count above 1,000", 0x28, 1001},    {"time before 1970", 0x0C, 0x019D0000},
      {"time after 2100", 0x0C, 0x02300000},      {"name past the cell", 0x4C, 0x0800},
  };
  for (const Case& c : cases) {
    Base h;
    const uint32_t k = h.OldKey("Doubtful", h.software);
    h.b.Free(k);
    if (c.field == 0x4C) {
      h.b.Put16(k + c.field, static_cast<uint16_t>(c.value));
    } else {
      h.b.Put32(k + c.field, c.value);
    }
    const Scanned s = Scan(h.b.Image());
    EXPECT_EQ(s.Key("Doubtful"), nullptr) << c.what;
  }
  Base h;
  const uint32_t v = h.b.Value("BadInline", 4, {1, 2, 3, 4});
  h.b.Put32(v + 8, 0x80000005);
  const uint32_t w = h.b.Value("Unaligned", 3, Bytes(12, 1));
  h.b.Put32(w + 0xC, h.b.Get32(w + 0xC) + 4);
  const Scanned s = Scan(h.b.Image());
  EXPECT_TRUE(s.scan.values.empty());
}

TEST(DeletedScan, HostileStructuresStayBounded) {
  // Parent chains in a cycle, and a key its own parent.
  {
    Base h;
    const uint32_t p = h.OldKey("P", 0);
    const uint32_t q = h.OldKey("Q", p);
    h.b.Put32(p + 0x14, q);
    const uint32_t self = h.OldKey("Self", 0);
    h.b.Put32(self + 0x14, self);
    h.b.Free(p, self);
    const Scanned s = Scan(h.b.Image());
    ASSERT_EQ(s.scan.keys.size(), 3u);
    for (const DeletedKey& k : s.scan.keys) {
      EXPECT_EQ(k.pathKind, PathKind::Partial) << k.name;
      EXPECT_LE(DeletedKeyPath(s.scan, k).size(), 6u) << k.name;
    }
  }
  // Huge counts on live structures, lists pointing anywhere.
  {
    Base h;
    const uint32_t owner = h.OldKey("Owner", h.software);
    h.b.SetSubkeys(h.software, {owner});
    h.b.SetValues(owner, {h.b.Value("v", 4, {1, 0, 0, 0})});
    h.b.Put32(owner + 0x28, 0xFFFFFFFF);
    h.b.Put32(owner + 0x18, 0xFFFFFFFF);
    const uint32_t db = h.b.Value("Big", 3, Bytes(20000, 1), DataStorage::Big);
    h.b.Put16(h.b.Get32(db + 0xC) + 6, 0xFFFF);  // segments the list cannot hold
    h.b.Free(db);
    const Scanned s = Scan(h.b.Image());
    EXPECT_EQ(s.scan.values.size(), 1u);
  }
  // A cell running past its bin, a bin size past the file, a cut file.
  {
    Base h;
    const uint32_t k = h.OldKey("Cut", h.software);
    h.b.Free(k);
    h.b.Put32(k, 0x7FFFFFF8);
    Bytes image = h.b.Image();
    const Scanned s = Scan(image);
    EXPECT_NE(s.Key("Cut"), nullptr);
    EXPECT_EQ(s.scan.damage.badCells, 1u);
    for (size_t cut : {size_t{4096}, size_t{4200}, image.size() - 100}) {
      const Scanned part = Scan(Bytes(image.begin(), image.begin() + cut));
      EXPECT_LE(part.scan.keys.size(), 1u);
    }
    image[4096] = 'X';  // the only bin's header
    const Scanned noBin = Scan(image);
    EXPECT_GE(noBin.scan.damage.badBins, 1u);
    EXPECT_NE(noBin.Key("Cut"), nullptr);
    // A value signature over the bin signature: its record would begin in
    // the base block.
    for (size_t i = 0; i < 4; ++i) image[4096 + i] = "vk\0\0"[i];
    for (const DeletedValue& v : Scan(image).scan.values) EXPECT_LT(v.cell + 4096ull, image.size());
  }
  // Deleted chains deeper than 512 keys, or longer than 16 KiB of names,
  // below a live key: broken where they pass the limit.
  for (const auto& [depth, nameLength] : {std::pair{600, 1}, std::pair{40, 1000}}) {
    Base h;
    uint32_t parent = h.software, first = 0;
    for (int i = 0; i < depth; ++i) {
      parent = h.OldKey(std::string(nameLength, static_cast<char>('a' + i % 26)), parent);
      if (i == 0) first = parent;
    }
    h.b.Free(first, parent);
    const Scanned s = Scan(h.b.Image());
    ASSERT_EQ(s.scan.keys.size(), static_cast<size_t>(depth));
    EXPECT_EQ(s.scan.keys.front().pathKind, PathKind::Full);
    EXPECT_EQ(s.scan.keys.back().pathKind, PathKind::Partial);
    for (const DeletedKey& k : s.scan.keys) EXPECT_LE(DeletedKeyPath(s.scan, k).size(), 16384u + nameLength);
  }
  // Subkey index fields naming the next key node directly, 150,000 deep.
  {
    HiveBuilder b;
    std::vector<uint32_t> chain;
    for (int i = 0; i < 150000; ++i) chain.push_back(b.Key("k"));
    for (size_t i = 0; i + 1 < chain.size(); ++i) {
      b.Put32(chain[i] + 0x18, 1);
      b.Put32(chain[i] + 0x20, chain[i + 1]);
    }
    b.SetRoot(chain[0]);
    const Scanned s = Scan(b.Image());
    EXPECT_GT(s.scan.damage.liveRefsBroken, 0u);
  }
  EXPECT_TRUE(ScanDeletedRecords(HiveImage{}).keys.empty());
}

TEST(DeletedScan, FileTimeText) {
  const std::pair<uint64_t, const char*> cases[] = {
      {0, "1601-01-01T00:00:00.0000000Z"},
      {kTime, "2019-03-05T12:34:56.1234567Z"},
      {116444736000000000ull, "1970-01-01T00:00:00.0000000Z"},
      {126227808000000001ull, "2001-01-01T00:00:00.0000001Z"},
      {2650467743999999999ull, "9999-12-31T23:59:59.9999999Z"},
      {2650467744000000000ull, "0x24c85a5ed1c04000"},
      {0xFFFFFFFFFFFFFFFFull, "0xffffffffffffffff"},
  };
  for (const auto& [ticks, text] : cases) EXPECT_EQ(FormatFileTime(ticks), text) << ticks;
  EXPECT_EQ(EscapeRecordName("a\\b\tc\rd\ne"), "a\\\\b\\tc\\rd\\ne");
}

// 40,000 deleted keys chained parent to child: one path node a key, each
// name kept once, every path within the limits and built the same by the
// command line.
TEST(DeletedScan, LongChainSharesItsParentsPaths) {
  const Scanned s = Scan(test::BuildDeletedChainHive(40000, 28));
  ASSERT_EQ(s.scan.keys.size(), 40000u);
  EXPECT_LE(s.scan.pathNodes.size(), 40000u + 2);
  EXPECT_LE(s.scan.pathNames.size(), 40000u * 28);
  EXPECT_TRUE(s.scan.liveOwners.empty());
  // In cell order: each key follows its parent. The root's subtree
  // resolves 512 names deep; past that a chain counts as broken.
  const std::string first = "ROOT\\Link0" + std::string(23, '-');
  EXPECT_EQ(s.Path(&s.scan.keys[0]), first);
  EXPECT_EQ(s.scan.keys[511].pathKind, PathKind::Full);
  EXPECT_EQ(s.scan.keys[512].pathKind, PathKind::Partial);
  EXPECT_EQ(s.Path(&s.scan.keys[512]), "?\\Link512" + std::string(21, '-'));
  for (size_t k = 0; k < s.scan.keys.size(); k += 997) {
    const DeletedKey& key = s.scan.keys[k];
    const std::string path = s.Path(&key);
    EXPECT_EQ(path.size(), s.scan.pathNodes[key.pathNode].bytes) << k;
    EXPECT_LE(path.size(), 16384u) << k;
    EXPECT_EQ(path.substr(path.rfind('\\') + 1), key.name) << k;
    EXPECT_EQ(key.parentKey, k == 0 ? kNoCell : k - 1) << k;
  }
}

// The shared hives' expected records: at least 98% of keys (full paths
// exactly, partial ones by the key's own name) and values (by name, type
// and data; by name and type where the data are "ERR").
TEST(DeletedScanSharedHives, FindsTheExpectedRecords) {
  SKIP_WITHOUT_SHARED_HIVES();
  for (const char* name : {"BCD", "NTUSER.DAT", "SAM", "SECURITY", "UsrClass.dat"}) {
    const std::string bytes = test::ReadFileBytes(test::SharedHivesDir() + "/" + name);
    const Scanned s = Scan(Bytes(bytes.begin(), bytes.end()));
    auto keyId = [](const std::string& path) {
      return path.rfind("ROOT", 0) == 0 ? path : "?" + path.substr(path.rfind('\\') + 1);
    };
    std::map<std::string, int> keys, values, valuesByName;
    for (const DeletedKey& k : s.scan.keys) {
      ++keys[keyId(DeletedKeyPathText(s.scan, k))];
    }
    for (const DeletedValue& v : s.scan.values) {
      const std::string head = EscapeRecordName(v.name) + '\t' + std::to_string(v.type);
      std::string hex;
      for (uint8_t byte : DeletedValueData(s.scan, v)) {
        static const char kDigits[] = "0123456789abcdef";
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
      }
      ++values[head + '\t' + (v.data == DataState::Unreadable ? "?" : hex)];
      ++valuesByName[head];
    }
    std::istringstream expected(test::ExpectedFile(name, "deleted.tsv"));
    int wantKeys = 0, gotKeys = 0, wantValues = 0, gotValues = 0;
    std::vector<std::string> missed;
    for (std::string line; std::getline(expected, line);) {
      std::vector<std::string> f;
      std::istringstream row(line);
      for (std::string field; std::getline(row, field, '\t');) f.push_back(field);
      if (line.back() == '\t') f.push_back("");
      bool found = false;
      if (f[0] == "key" && f.size() == 2) {
        ++wantKeys;
        found = keys[keyId(f[1])]-- > 0;
        gotKeys += found;
      } else if (f[0] == "value" && f.size() == 4) {
        ++wantValues;
        const std::string head = f[1] + '\t' + f[2];
        if (f[3] == "ERR") {
          found = valuesByName[head]-- > 0;
        } else if (values[head + '\t' + f[3]]-- > 0) {
          --valuesByName[head];
          found = true;
        }
        gotValues += found;
      }
      if (!found) missed.push_back(line.substr(0, 120));
    }
    std::string missedText;
    for (const std::string& m : missed) missedText += "\n  " + m;
    EXPECT_GE(gotKeys * 100, wantKeys * 98) << name << ": " << gotKeys << "/" << wantKeys << missedText;
    EXPECT_GE(gotValues * 100, wantValues * 98) << name << ": " << gotValues << "/" << wantValues << missedText;
    EXPECT_FALSE(s.scan.damage.Any()) << name;
  }
}

}  // namespace
}  // namespace cellbrook
