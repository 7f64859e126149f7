// Comparing built hive pairs: every kind of change, names that differ in
// case only, moved keys, type-only changes, big data, hostile trees; and
// the registry patch, which applied to the old tree gives the new one.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "compare/hive_compare.h"
#include "export/registry_patch.h"
#include "hive_mutations.h"
#include "shared_hives.h"
#include "tree_model.h"

namespace cellbrook {
namespace {

using test::Bytes;
using test::SpecKey;
using test::SpecValue;

Bytes Dword(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}
Bytes Text(std::u16string_view t) { return test::Utf16Bytes(t); }
Bytes Big(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
  return b;
}

// A tree with a bit of everything; the cases change copies of it.
SpecKey Base() {
  return {"ROOT-NAME",
          100,
          {{"", 1, Text(u"default")}, {"Count", 4, Dword(26)}},
          {{"Software",
            200,
            {{"Path", 2, Text(u"%SystemRoot%")}},
            {{"Vendor", 300, {{"Data", 3, {1, 2, 3}}, {"Blob", 3, Big(40000, 5), test::DataStorage::Big}}, {}},
             {"Other", 400, {}, {{"Deep", 500, {{"X", 4, Dword(1)}}, {}}}}}},
           {"System", 600, {{"Mode", 4, Dword(3)}}, {}}}};
}

SpecKey* Child(SpecKey& k, const std::string& name) {
  for (SpecKey& s : k.subkeys) {
    if (s.name == name) return &s;
  }
  return nullptr;
}
SpecValue* ValueOf(SpecKey& k, const std::string& name) {
  for (SpecValue& v : k.values) {
    if (v.name == name) return &v;
  }
  return nullptr;
}

std::string Line(const ChangeRecord& r) {
  static const char* const kWords[] = {"key+", "key-", "key~", "value+", "value-", "value~", "key="};
  std::string line = std::string(kWords[static_cast<int>(r.kind)]) + " " + r.path;
  if (IsValueChange(r.kind)) line += " " + (r.unnamed ? std::string("@") : r.valueName);
  return line;
}

struct Pair {
  test::BoundHive before, after;
  Pair(const SpecKey& a, const SpecKey& b) : before(test::BuildTree(a)), after(test::BuildTree(b)) {}
};

std::vector<std::string> Lines(const CollectedChanges& c) {
  std::vector<std::string> lines;
  for (const ChangeRecord& r : c.records) lines.push_back(Line(r));
  return lines;
}

// Writes the patch of the pair into a scratch file and reads it back.
std::vector<test::RegKey> PatchOf(const HiveImage& a, const HiveImage& b, const std::string& prefix,
                                  CompareOutcome* outcome = nullptr) {
  CompareSide oldSide{&a, std::nullopt, {}}, newSide{&b, std::nullopt, {}};
  KeyInfo root;
  if (GetRootKey(a, root)) oldSide.start = root;
  if (GetRootKey(b, root)) newSide.start = root;
  const std::string path = test::ScratchPath("patch.reg");
  CompareOutcome compared;
  const ExportOutcome written = WriteRegistryPatchFile(oldSide, newSide, "ROOT", prefix, path, compared);
  EXPECT_NE(written.status, ExportOutcome::Failed) << written.message;
  EXPECT_NE(written.status, ExportOutcome::CannotCreate) << written.message;
  if (outcome) *outcome = compared;
  return test::ParseRegText(test::ReadFileBytes(path));
}

// Applying the changes, and the patch, to the old tree gives the new one.
void ExpectChangesRebuildNew(const HiveImage& a, const HiveImage& b, const CollectedChanges& changes) {
  test::TreeModel model = test::ModelOf(a);
  const test::TreeModel want = test::ModelOf(b);
  test::ApplyChanges(model, changes.records);
  EXPECT_EQ(test::ModelDifference(model, want, true), "") << "changes applied to the old tree";
  test::TreeModel imported = test::ModelOf(a);
  test::ApplyRegText(imported, PatchOf(a, b, "HKEY_CURRENT_USER"), "HKEY_CURRENT_USER");
  EXPECT_EQ(test::ModelDifference(imported, want, false), "") << "the patch imported over the old tree";
}

struct ChangeCase {
  const char* name;
  void (*edit)(SpecKey& k);
  std::vector<std::string> want;
};

const ChangeCase kCases[] = {
    {"nothing changed", [](SpecKey&) {}, {}},
    {"key added with values and a subkey",
     [](SpecKey& k) {
       k.subkeys.push_back(
           {"New", 700, {{"B", 4, Dword(2)}, {"A", 1, Text(u"a")}}, {{"Below", 800, {{"C", 3, {9}}}, {}}}});
     },
     // An added key's values in list order.
     {"key+ ROOT\\New", "value+ ROOT\\New B", "value+ ROOT\\New A", "key+ ROOT\\New\\Below",
      "value+ ROOT\\New\\Below C"}},
    {"key removed: its values and subtree not listed",
     [](SpecKey& k) { std::erase_if(k.subkeys, [](const SpecKey& s) { return s.name == "Software"; }); },
     {"key- ROOT\\Software"}},
    {"key time changed", [](SpecKey& k) { Child(k, "System")->time = 601; }, {"key~ ROOT\\System"}},
    {"value added",
     [](SpecKey& k) {
       Child(k, "System")->values.push_back({"Added", 4, Dword(9)});
     },
     {"value+ ROOT\\System Added"}},
    {"value removed", [](SpecKey& k) { Child(k, "System")->values.clear(); }, {"value- ROOT\\System Mode"}},
    {"value data changed",
     [](SpecKey& k) { ValueOf(*Child(k, "System"), "Mode")->data = Dword(4); },
     {"value~ ROOT\\System Mode"}},
    {"value type alone changed",
     [](SpecKey& k) { ValueOf(*Child(k, "System"), "Mode")->type = 3; },
     {"value~ ROOT\\System Mode"}},
    {"unnamed value changed", [](SpecKey& k) { k.values[0].data = Text(u"other"); }, {"value~ ROOT @"}},
    {"data grown by a byte",
     [](SpecKey& k) { ValueOf(*Child(*Child(k, "Software"), "Vendor"), "Data")->data.push_back(4); },
     {"value~ ROOT\\Software\\Vendor Data"}},
    {"big data changed in one segment",
     [](SpecKey& k) { ValueOf(*Child(*Child(k, "Software"), "Vendor"), "Blob")->data[20000] ^= 1; },
     {"value~ ROOT\\Software\\Vendor Blob"}},
    {"the same big data kept in one cell instead of segments",
     [](SpecKey& k) { ValueOf(*Child(*Child(k, "Software"), "Vendor"), "Blob")->storage = test::DataStorage::Cell; },
     {}},
    {"names differing in case only",
     [](SpecKey& k) {
       Child(*Child(k, "Software"), "Vendor")->storage = test::NameStorage::Utf16;
       Child(k, "Software")->name = "SOFTWARE";
       ValueOf(*Child(k, "System"), "Mode")->name = "mODE";
     },
     {}},
    {"key moved: removed here, added there",
     [](SpecKey& k) {
       SpecKey& software = *Child(k, "Software");
       SpecKey other = *Child(software, "Other");
       std::erase_if(software.subkeys, [](const SpecKey& s) { return s.name == "Other"; });
       Child(k, "System")->subkeys.push_back(other);
     },
     {"key- ROOT\\Software\\Other", "key+ ROOT\\System\\Other", "key+ ROOT\\System\\Other\\Deep",
      "value+ ROOT\\System\\Other\\Deep X"}},
    {"subkeys listed in another order", [](SpecKey& k) { std::swap(k.subkeys[0], k.subkeys[1]); }, {}},
    {"key renamed",
     [](SpecKey& k) { Child(k, "System")->name = "System2"; },
     {"key- ROOT\\System", "key+ ROOT\\System2", "value+ ROOT\\System2 Mode"}},
};

TEST(CompareTrees, ReportsEachKindOfChangeInTreeOrder) {
  for (const ChangeCase& c : kCases) {
    SCOPED_TRACE(c.name);
    SpecKey changed = Base();
    c.edit(changed);
    Pair pair(Base(), changed);
    const CollectedChanges changes = CompareHives(pair.before.image, pair.after.image);
    EXPECT_EQ(Lines(changes), c.want);
    EXPECT_EQ(changes.outcome.changes, c.want.size());
    EXPECT_FALSE(changes.outcome.Damaged());
    ExpectChangesRebuildNew(pair.before.image, pair.after.image, changes);
    // And the way back.
    ExpectChangesRebuildNew(pair.after.image, pair.before.image, CompareHives(pair.after.image, pair.before.image));
  }
}

// Whatever way the names are paired, the order is one: what only the old
// list holds in its order, then the new list in its order.
TEST(CompareTrees, OrderIsRemovalsThenTheNewListWhetherOrNotTheListsAlign) {
  SpecKey a = Base(), b = Base();
  a.subkeys.push_back({"Zeta", 1, {{"V", 4, Dword(1)}}, {}});
  a.subkeys.push_back({"Alpha", 1, {{"V", 4, Dword(1)}}, {}});
  b.subkeys.push_back({"ZETA", 1, {{"V", 4, Dword(2)}}, {}});
  b.subkeys.push_back({"alpha", 1, {{"V", 4, Dword(2)}}, {}});
  Pair aligned(a, b);
  const std::vector<std::string> same = {"value~ ROOT\\ZETA V", "value~ ROOT\\alpha V"};
  EXPECT_EQ(Lines(CompareHives(aligned.before.image, aligned.after.image)), same);
  b.subkeys.insert(b.subkeys.begin(), {"Mid", 1, {}, {}});
  std::swap(b.subkeys[3], b.subkeys[4]);
  b.subkeys.erase(b.subkeys.begin() + 1);  // Software
  Pair shuffled(a, b);
  const std::vector<std::string> want = {"key- ROOT\\Software", "key+ ROOT\\Mid", "value~ ROOT\\alpha V",
                                         "value~ ROOT\\ZETA V"};
  EXPECT_EQ(Lines(CompareHives(shuffled.before.image, shuffled.after.image)), want);
}

TEST(CompareTrees, EveryKeyTellsTheSameKeysTooWithoutCountingThem) {
  SpecKey changed = Base();
  Child(changed, "System")->time = 601;
  Pair pair(Base(), changed);
  KeyInfo a, b;
  ASSERT_TRUE(GetRootKey(pair.before.image, a));
  ASSERT_TRUE(GetRootKey(pair.after.image, b));
  std::vector<std::string> lines;
  const CompareOutcome outcome = CompareTrees(
      CompareSide{&pair.before.image, a, {}}, CompareSide{&pair.after.image, b, {}}, "ROOT", u"ROOT",
      [&](const Change& c) { lines.push_back(Line(RecordOf(c))); }, true);
  EXPECT_EQ(lines, (std::vector<std::string>{"key= ROOT", "key= ROOT\\Software", "key= ROOT\\Software\\Vendor",
                                             "key= ROOT\\Software\\Other", "key= ROOT\\Software\\Other\\Deep",
                                             "key~ ROOT\\System"}));
  EXPECT_EQ(outcome.changes, 1u);
}

TEST(CompareTrees, RecordsCarryTypesDataAndTimes) {
  SpecKey changed = Base();
  ValueOf(*Child(changed, "System"), "Mode")->type = 11;
  Child(changed, "System")->time = 999;
  Pair pair(Base(), changed);
  const CollectedChanges changes = CompareHives(pair.before.image, pair.after.image);
  ASSERT_EQ(changes.records.size(), 2u);
  EXPECT_EQ(changes.records[0].kind, ChangeKind::KeyTime);
  EXPECT_EQ(changes.records[0].oldTime, 600u);
  EXPECT_EQ(changes.records[0].newTime, 999u);
  const ChangeRecord& v = changes.records[1];
  EXPECT_EQ(v.oldType, 4u);
  EXPECT_EQ(v.newType, 11u);
  EXPECT_EQ(v.oldData, Dword(3));
  EXPECT_EQ(v.newData, Dword(3));
}

TEST(CompareTrees, NonAsciiNamesMatchIgnoringCase) {
  SpecKey a = Base(), b = Base();
  a.subkeys.push_back({"Übersicht", 1, {{"Größe", 4, Dword(1)}}, {}});
  b.subkeys.push_back({"üBERSICHT",
                       1,
                       {{"GRÖSSE", 4, Dword(1), test::DataStorage::Auto, test::NameStorage::Utf16}},
                       {},
                       test::NameStorage::Utf16});
  Pair pair(a, b);
  EXPECT_EQ(Lines(CompareHives(pair.before.image, pair.after.image)), std::vector<std::string>{});
}

TEST(CompareTrees, NamesEqualIgnoringCaseInOneListPairUpInTurn) {
  SpecKey a = Base(), b = Base();
  a.subkeys.push_back({"Twin", 1, {}, {}});
  a.subkeys.push_back({"TWIN", 1, {}, {}});
  b.subkeys.push_back({"twin", 1, {}, {}});
  Pair pair(a, b);
  const std::vector<std::string> lines = Lines(CompareHives(pair.before.image, pair.after.image));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "key- ROOT\\TWIN");
}

TEST(CompareTrees, StartKeyAbsentOnOneSideIsAnEmptyTree) {
  test::BoundHive hive(test::BuildTree(Base()));
  KeyInfo root;
  ASSERT_TRUE(GetRootKey(hive.image, root));
  CompareSide present{&hive.image, root, {}}, absent{&hive.image, std::nullopt, {}};
  std::vector<std::string> lines;
  auto collect = [&](const Change& c) { lines.push_back(Line(RecordOf(c))); };
  CompareTrees(present, absent, "ROOT", u"ROOT", collect);
  EXPECT_EQ(lines, std::vector<std::string>{"key- ROOT"});
  lines.clear();
  const CompareOutcome added = CompareTrees(absent, present, "ROOT", u"ROOT", collect);
  EXPECT_EQ(added.changes, lines.size());
  EXPECT_EQ(lines.front(), "key+ ROOT");
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.starts_with("key+"); }), 6);
}

// A key that lists its own ancestor, and fan-outs that share one index:
// the compare ends, within the budget, on any of them.
TEST(CompareTrees, HostileTreesStayBounded) {
  test::HiveBuilder b;
  const uint32_t root = b.Key("root");
  const uint32_t child = b.Key("child", root);
  b.SetSubkeys(root, {child});
  b.SetSubkeys(child, {root, child});
  b.SetRoot(root);
  test::BoundHive loop(b.Image());
  test::BoundHive plain(test::BuildTree(Base()));
  const CollectedChanges looped = CompareHives(loop.image, loop.image);
  EXPECT_TRUE(looped.records.empty());
  const CollectedChanges against = CompareHives(plain.image, loop.image);
  EXPECT_FALSE(against.records.empty());

  test::BoundHive fan(test::RepeatedFanOutHive(300));
  const CollectedChanges fanned = CompareHives(plain.image, fan.image);
  EXPECT_TRUE(fanned.outcome.budgetOut);
  EXPECT_LT(fanned.records.size(), fan.image.Size / 4 + 10);
}

TEST(CompareTrees, MutatedHivesCompareWithoutFault) {
  for (const auto& [name, base] : test::MutationBases()) {
    test::BoundHive original(base);
    for (const test::Mutant& m : test::MutateHive(base, 23, 40)) {
      test::BoundHive mutated(m.image);
      const CollectedChanges c = CompareHives(original.image, mutated.image);
      EXPECT_LE(c.records.size(), c.outcome.changes);
      // Damage is counted, never silent: a patch over damage says so too.
      CompareOutcome patched;
      PatchOf(original.image, mutated.image, "HKEY_CURRENT_USER", &patched);
      EXPECT_EQ(patched.Damaged(), c.outcome.Damaged()) << name;
    }
  }
}

TEST(RegistryPatch, WritesRemovalsSectionsAndValueDeletions) {
  SpecKey changed = Base();
  std::erase_if(changed.subkeys, [](const SpecKey& s) { return s.name == "Software"; });
  Child(changed, "System")->values = {{"Fresh", 1, Text(u"new \"quoted\" \\ text")}};
  changed.values.erase(changed.values.begin());  // the unnamed value
  Child(changed, "System")->time = 1;            // no form in registry text
  Pair pair(Base(), changed);
  const std::vector<test::RegKey> patch = PatchOf(pair.before.image, pair.after.image, "HKEY_LOCAL_MACHINE\\X");
  ASSERT_EQ(patch.size(), 3u);
  EXPECT_EQ(patch[0].path, "HKEY_LOCAL_MACHINE\\X");
  ASSERT_EQ(patch[0].values.size(), 1u);
  EXPECT_TRUE(patch[0].values[0].isDefault);
  EXPECT_TRUE(patch[0].values[0].remove);
  EXPECT_EQ(patch[1].path, "HKEY_LOCAL_MACHINE\\X\\Software");
  EXPECT_TRUE(patch[1].remove);
  EXPECT_EQ(patch[2].path, "HKEY_LOCAL_MACHINE\\X\\System");
  // Removals first, then the new list's values.
  ASSERT_EQ(patch[2].values.size(), 2u);
  EXPECT_EQ(patch[2].values[0].name, "Mode");
  EXPECT_TRUE(patch[2].values[0].remove);
  EXPECT_EQ(patch[2].values[1].name, "Fresh");
  EXPECT_FALSE(patch[2].values[1].remove);
}

TEST(RegistryPatch, NoDifferenceWritesTheHeaderAlone) {
  Pair pair(Base(), Base());
  EXPECT_TRUE(PatchOf(pair.before.image, pair.after.image, "HKEY_CURRENT_USER").empty());
}

TEST(RegistryPatch, RefusesANameThatWouldNameAnotherKey) {
  SpecKey changed = Base();
  changed.subkeys.push_back({"a\\b", 1, {}, {}});
  Pair pair(Base(), changed);
  KeyInfo a, b;
  ASSERT_TRUE(GetRootKey(pair.before.image, a));
  ASSERT_TRUE(GetRootKey(pair.after.image, b));
  CompareSide oldSide{&pair.before.image, a, {}}, newSide{&pair.after.image, b, {}};
  CompareOutcome compared;
  const ExportOutcome written =
      WriteRegistryPatchFile(oldSide, newSide, "ROOT", "HKEY_CURRENT_USER", test::ScratchPath("bad.reg"), compared);
  // Left out and said, as the export does; the rest is written.
  EXPECT_EQ(written.status, ExportOutcome::Damaged);
  EXPECT_NE(written.message.find("1 key could not be written"), std::string::npos) << written.message;
  EXPECT_TRUE(test::ParseRegText(test::ReadFileBytes(test::ScratchPath("bad.reg"))).empty());
}

// Real hives against each other: the changes rebuild the second from the first.
TEST(CompareTrees, SharedHivesRebuildEachOther) {
  SKIP_WITHOUT_SHARED_HIVES();
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {"NTUSER.DAT", "NTUSER_with_winscp.DAT"}, {"SAM", "SECURITY"}, {"BCD", "SAM"}};
  for (const auto& [a, b] : pairs) {
    SCOPED_TRACE(a + " -> " + b);
    const std::string bytesA = test::ReadFileBytes(test::SharedHivesDir() + "/" + a);
    const std::string bytesB = test::ReadFileBytes(test::SharedHivesDir() + "/" + b);
    test::BoundHive ha(Bytes(bytesA.begin(), bytesA.end())), hb(Bytes(bytesB.begin(), bytesB.end()));
    const CollectedChanges changes = CompareHives(ha.image, hb.image);
    EXPECT_FALSE(changes.records.empty());
    ExpectChangesRebuildNew(ha.image, hb.image, changes);
    EXPECT_TRUE(CompareHives(ha.image, ha.image).records.empty());
  }
}

}  // namespace
}  // namespace cellbrook
