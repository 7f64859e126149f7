// The registry text writer: format, escaping, lossless forms and failures.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <string>

#include "export/registry_text_writer.h"
#include "hive/key_walk.h"
#include "hive_builder.h"
#include "hive/text_codec.h"
#include "regtext_reader.h"
#include "shared_hives.h"

namespace cellbrook {
namespace {

using test::BoundHive;
using test::Bytes;
using test::HiveBuilder;
using test::Utf16Bytes;

struct ExportResult {
  std::string file;   // the whole file, header included
  std::string error;  // "" when the export succeeded
  DamageReport damage;
  std::string Text() const {  // the file as UTF-8, without the byte-order mark
    std::u16string units(file.size() / 2, u'\0');
    for (size_t k = 0; k < units.size(); ++k) {
      units[k] =
          static_cast<char16_t>(static_cast<uint8_t>(file[2 * k]) | (static_cast<uint8_t>(file[2 * k + 1]) << 8));
    }
    return Utf16ToUtf8String(std::u16string_view(units).substr(1));
  }
};

ExportResult Export(const BoundHive& hive, uint32_t key, const std::string& path, const std::string& target = "") {
  const std::string file = target.empty() ? test::ScratchPath("export.reg") : target;
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  EXPECT_GE(fd, 0);
  ExportResult r;
  try {
    OutputSink sink(fd, 64);  // a small buffer exercises the flushes
    WriteRegFileHeader(sink);
    r.damage = ExportKeyText(hive.image, path, sink, KeyRef{key});
  } catch (const ExportError& e) {
    r.error = e.what();
  }
  ::close(fd);
  if (target.empty()) {
    r.file = test::ReadFileBytes(file);
    std::remove(file.c_str());
  }
  return r;
}

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\r\n";

TEST(RegistryTextWriter, SampleExport) {
  test::SampleHive s = test::BuildSampleHive();
  BoundHive hive(s.image);
  const ExportResult r = Export(hive, s.sample, "HKEY_CURRENT_USER\\Software\\Sample");
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.file.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(r.Text(), std::string(kHeader) +
                          "\r\n"
                          "[HKEY_CURRENT_USER\\Software\\Sample]\r\n"
                          "@=\"C:\\\\Temp\"\r\n"
                          "\"Count\"=dword:0000001A\r\n"
                          "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,"
                          "15,16,17,18,\\\r\n"
                          "  19,1a\r\n"
                          "\"Path\"=hex(2):25,00,41,00,25,00,00,00\r\n"
                          "\"Short\"=hex(4):01,02\r\n"
                          "\r\n"
                          "[HKEY_CURRENT_USER\\Software\\Sample\\Child]\r\n");
}

TEST(RegistryTextWriter, HeaderIs78Bytes) {
  const std::string file = test::ScratchPath("header.reg");
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  {
    OutputSink sink(fd);
    WriteRegFileHeader(sink);
  }
  ::close(fd);
  EXPECT_EQ(test::ReadFileBytes(file).size(), 78u);
  std::remove(file.c_str());
}

// One value of `type` and `data` under key K; returns its entry line(s).
std::string EntryFor(uint32_t type, const Bytes& data, const std::string& name = "v",
                     test::DataStorage storage = test::DataStorage::Auto) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  b.SetValues(root, {b.Value(name, type, data, storage)});
  b.SetRoot(root);
  BoundHive hive(b.Image());
  const ExportResult r = Export(hive, root, "K");
  EXPECT_EQ(r.error, "");
  const std::string text = r.Text();
  const std::string head = std::string(kHeader) + "\r\n[K]\r\n";
  EXPECT_EQ(text.substr(0, head.size()), head);
  return text.substr(head.size());
}

TEST(RegistryTextWriter, DataForms) {
  Bytes b25(25, 0xAB), b26(26, 0xAB), b50(50, 0xAB);
  auto list = [](size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) {
      s += "ab";
      if (i + 1 < n) s += ",";
      if ((i + 1) % 25 == 0 && i + 1 < n) s += "\\\r\n  ";
    }
    return s;
  };
  struct Case {
    const char* what;
    uint32_t type;
    Bytes data;
    std::string entry;
  } cases[] = {
      {"25 bytes, one line", 3, b25, "\"v\"=hex:" + list(25) + "\r\n"},
      {"26 bytes, one break", 3, b26, "\"v\"=hex:" + list(26) + "\r\n"},
      {"50 bytes, one break", 3, b50, "\"v\"=hex:" + list(50) + "\r\n"},
      {"empty binary", 3, {}, "\"v\"=hex:\r\n"},
      {"empty none", 0, {}, "\"v\"=hex(0):\r\n"},
      {"type 10", 10, {1}, "\"v\"=hex(a):01\r\n"},
      {"type 11", 11, {1, 2, 3, 4, 5, 6, 7, 8}, "\"v\"=hex(b):01,02,03,04,05,06,07,08\r\n"},
      {"high type", 0x80000001, {}, "\"v\"=hex(80000001):\r\n"},
      {"dword", 4, {0x78, 0x56, 0x34, 0x12}, "\"v\"=dword:12345678\r\n"},
      {"dword of 8 bytes", 4, {1, 0, 0, 0, 2, 0, 0, 0}, "\"v\"=hex(4):01,00,00,00,02,00,00,00\r\n"},
      {"dword of 3 bytes", 4, {1, 2, 3}, "\"v\"=hex(4):01,02,03\r\n"},
      {"dword of 0 bytes", 4, {}, "\"v\"=hex(4):\r\n"},
      {"string", 1, Utf16Bytes(u"x\"y\\z"), "\"v\"=\"x\\\"y\\\\z\"\r\n"},
      {"empty string", 1, {}, "\"v\"=hex(1):\r\n"},  // "" would import as one NUL
      {"lone NUL", 1, {0, 0}, "\"v\"=\"\"\r\n"},
      {"string without NUL", 1, Utf16Bytes(u"ab", false), "\"v\"=hex(1):61,00,62,00\r\n"},
      {"odd length", 1, {'a', 0, 0, 0, 7}, "\"v\"=hex(1):61,00,00,00,07\r\n"},
      {"inner NUL", 1, {'a', 0, 0, 0, 'b', 0, 0, 0}, "\"v\"=hex(1):61,00,00,00,62,00,00,00\r\n"},
      {"CR LF inside", 1, Utf16Bytes(u"a\r\nb"), "\"v\"=hex(1):61,00,0d,00,0a,00,62,00,00,00\r\n"},
      {"non-Latin string", 1, Utf16Bytes(u"\u20AC\U0001F600"), "\"v\"=\"\xE2\x82\xAC\xF0\x9F\x98\x80\"\r\n"},
      {"expand string", 2, {0x25, 0, 0, 0}, "\"v\"=hex(2):25,00,00,00\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(EntryFor(c.type, c.data), c.entry) << c.what;
}

TEST(RegistryTextWriter, UnpairedSurrogateSurvivesInAString) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  b.SetValues(root, {b.Value("v", 1, {0x00, 0xD8, 'x', 0, 0, 0})});
  b.SetRoot(root);
  BoundHive hive(b.Image());
  const ExportResult r = Export(hive, root, "K");
  const std::vector<test::RegKey> keys = test::ParseRegText(r.file);
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys[0].values[0].data, (Bytes{0x00, 0xD8, 'x', 0, 0, 0}));
}

TEST(RegistryTextWriter, ValueNamesAreEscapedAndDefaultIsAt) {
  EXPECT_EQ(EntryFor(4, {1, 0, 0, 0}, "a\"b\\c"), "\"a\\\"b\\\\c\"=dword:00000001\r\n");
  EXPECT_EQ(EntryFor(4, {1, 0, 0, 0}, ""), "@=dword:00000001\r\n");
}

TEST(RegistryTextWriter, BigDataIsWrittenWhole) {
  Bytes data(40000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i % 251);
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  b.SetValues(root, {b.Value("big", 3, data), b.Value("s", 1, Utf16Bytes(std::u16string(20000, u'q')))});
  b.SetRoot(root);
  BoundHive hive(b.Image());
  const ExportResult r = Export(hive, root, "K");
  ASSERT_EQ(r.error, "");
  const auto keys = test::ParseRegText(r.file);
  ASSERT_EQ(keys[0].values.size(), 2u);
  EXPECT_EQ(keys[0].values[0].data, data);
  EXPECT_EQ(keys[0].values[1].data.size(), 40002u);
}

TEST(RegistryTextWriter, ZeroedValueSlotIsNotWritten) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  b.SetValues(root, {0, b.Value("", 4, {5, 0, 0, 0}), 0xFFFFFFFF});
  b.SetRoot(root);
  BoundHive hive(b.Image());
  const ExportResult r = Export(hive, root, "K");
  EXPECT_EQ(r.Text(), std::string(kHeader) + "\r\n[K]\r\n@=dword:00000005\r\n");
  EXPECT_EQ(r.damage.Count(DamageKind::Values), 2u);  // said, not silently dropped
}

TEST(RegistryTextWriter, NodeThatIsNoKeyWritesNothing) {
  test::SampleHive s = test::BuildSampleHive();
  BoundHive hive(s.image);
  const ExportResult r = Export(hive, s.sample + 2, "K");
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.Text(), kHeader);
}

TEST(RegistryTextWriter, PathsTheFormatCannotCarryRaise) {
  struct Case {
    const char* what;
    const char* path;
  } cases[] = {
      {"path with CR", "K\r\n[X]"},
      {"empty name in the path", "K\\\\X"},
      {"path ending in a backslash", "K\\"},
  };
  for (const Case& c : cases) {
    HiveBuilder b;
    const uint32_t root = b.Key("r");
    b.SetValues(root, {b.Value("first", 4, {1, 0, 0, 0})});
    b.SetRoot(root);
    BoundHive hive(b.Image());
    const ExportResult r = Export(hive, root, c.path);
    EXPECT_NE(r.error.find("cannot be written"), std::string::npos) << c.what << ": " << r.error;
    EXPECT_EQ(r.Text().find("\n[X]"), std::string::npos) << c.what;
  }
}

// A key the format cannot name is left out with its subtree, a value
// likewise; its siblings and everything after it are still written.
TEST(RegistryTextWriter, NamesTheFormatCannotCarryAreLeftOutAndCounted) {
  struct Case {
    const char* what;
    std::string keyName;    // a subkey of the exported key
    std::string valueName;  // a value of that subkey
    uint64_t keys, values;
    const char* firstAt;
  } cases[] = {
      {"key name with CR LF", "evil\r\n[HKEY_LOCAL_MACHINE\\X]", "v", 1, 0,
       "ROOT\\evil\\r\\n[HKEY_LOCAL_MACHINE\\\\X]"},
      {"key name with backslash", "a\\b", "v", 1, 0, "ROOT\\a\\\\b"},
      {"key name with LF only", "a\nb", "v", 1, 0, "ROOT\\a\\nb"},
      {"empty key name", "", "v", 1, 0, "ROOT\\"},
      {"value name with LF", "ok", "x\n\"y\"=dword:00000001", 0, 1, "ROOT\\ok"},
      {"value name with CR", "ok", "x\r", 0, 1, "ROOT\\ok"},
  };
  for (const Case& c : cases) {
    HiveBuilder b;
    const uint32_t root = b.Key("r");
    const uint32_t sub = b.Key(c.keyName, root);
    const uint32_t below = b.Key("below", sub);
    const uint32_t after = b.Key("z-after", root);
    b.SetValues(root, {b.Value("first", 4, {1, 0, 0, 0})});
    b.SetValues(sub, {b.Value(c.valueName, 4, {2, 0, 0, 0}), b.Value("kept", 4, {3, 0, 0, 0})});
    b.SetValues(after, {b.Value("last", 4, {4, 0, 0, 0})});
    b.SetSubkeys(sub, {below});
    b.SetSubkeys(root, {sub, after});
    b.SetRoot(root);
    BoundHive hive(b.Image());
    NamesLeftOut leftOut;
    const std::string file = test::ScratchPath("left-out.reg");
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    {
      OutputSink sink(fd, 64);
      WriteRegFileHeader(sink);
      EXPECT_NO_THROW(ExportKeyText(hive.image, "K", sink, KeyRef{root}, "ROOT", &leftOut)) << c.what;
    }
    ::close(fd);
    EXPECT_EQ(leftOut.keys, c.keys) << c.what;
    EXPECT_EQ(leftOut.values, c.values) << c.what;
    EXPECT_EQ(leftOut.firstAt, c.firstAt) << c.what;
    const std::vector<test::RegKey> keys = test::ParseRegText(test::ReadFileBytes(file));
    std::vector<std::string> paths;
    for (const test::RegKey& k : keys) paths.push_back(k.path);
    if (c.keys > 0) {
      EXPECT_EQ(paths, (std::vector<std::string>{"K", "K\\z-after"})) << c.what;
    } else {
      EXPECT_EQ(paths, (std::vector<std::string>{"K", "K\\ok", "K\\ok\\below", "K\\z-after"})) << c.what;
      ASSERT_EQ(keys[1].values.size(), 1u) << c.what;
      EXPECT_EQ(keys[1].values[0].name, "kept") << c.what;
    }
    ASSERT_FALSE(keys.empty());
    EXPECT_EQ(keys.back().values.size(), 1u) << c.what;  // written after the one left out
    std::remove(file.c_str());
  }
}

TEST(RegistryTextWriter, LeftOutSummaryCountsInWords) {
  struct Case {
    uint64_t keys, values;
    const char* text;
  } cases[] = {
      {0, 0, ""},
      {2, 1,
       "2 keys and 1 value could not be written: their names hold characters registry text "
       "cannot carry (first at ROOT\\A); everything else was written."},
      {1, 0,
       "1 key could not be written: its name holds characters registry text cannot carry "
       "(first at ROOT\\A); everything else was written."},
      {0, 3,
       "3 values could not be written: their names hold characters registry text cannot carry "
       "(first at ROOT\\A); everything else was written."},
  };
  for (const Case& c : cases) {
    NamesLeftOut leftOut{c.keys, c.values, "ROOT\\A"};
    EXPECT_EQ(leftOut.Summary(), c.text);
  }
}

TEST(RegistryTextWriter, DataOutsideTheImageIsSkippedAndCounted) {
  for (uint32_t type : {1u, 3u, 4u, 7u}) {
    HiveBuilder b;
    const uint32_t root = b.Key("r");
    const uint32_t bad = b.Value("bad", type, Bytes(4, 1), test::DataStorage::Cell);
    b.Put32(bad + 0xC, 0x7FFFFF00);
    b.SetValues(root, {b.Value("good", 4, {1, 0, 0, 0}), bad, b.Value("after", 4, {2, 0, 0, 0})});
    b.SetRoot(root);
    BoundHive hive(b.Image());
    const ExportResult r = Export(hive, root, "K");
    EXPECT_EQ(r.error, "") << type;
    EXPECT_EQ(r.Text(), std::string(kHeader) + "\r\n[K]\r\n\"good\"=dword:00000001\r\n\"after\"=dword:00000002\r\n")
        << type;
    EXPECT_EQ(r.damage.Count(DamageKind::ValueData), 1u) << type;
  }
}

TEST(RegistryTextWriter, ValueListOutsideTheImageIsDamageNotAbsence) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  const uint32_t sub = b.Key("Description", root);
  b.SetValues(sub, {b.Value("a", 4, {1, 0, 0, 0}), b.Value("b", 4, {2, 0, 0, 0})});
  b.Put32(sub + 0x2C, 0x7FFFFFF0);
  b.SetSubkeys(root, {sub});
  b.SetRoot(root);
  BoundHive hive(b.Image());
  const ExportResult r = Export(hive, root, "K");
  EXPECT_EQ(r.Text(), std::string(kHeader) + "\r\n[K]\r\n\r\n[K\\Description]\r\n");
  EXPECT_EQ(r.damage.Summary(),
            "The hive is damaged: 2 values could not be read (first at ROOT\\Description); "
            "everything readable was written.");
}

TEST(RegistryTextWriter, UnpairedSurrogateInAKeyNameIsKept) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  const uint32_t cut = b.KeyRawName({'A', 0, 0x3D, 0xD8}, false, root);  // "A" + lone high surrogate
  b.SetSubkeys(root, {cut});
  b.SetRoot(root);
  BoundHive hive(b.Image());
  const ExportResult r = Export(hive, root, "K");
  ASSERT_EQ(r.error, "");
  const std::string expected = std::string("\r\0\n\0[\0K\0\\\0A\0\x3D\xD8]\0\r\0\n\0", 20);
  EXPECT_NE(r.file.find(expected), std::string::npos);
}

TEST(RegistryTextWriter, FailureInsideALongEntryLeavesNothingPartial) {
  // A value of 2 MB writes about 12 MB of text; the file may grow to 1 MiB.
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  b.SetValues(root, {b.Value("small", 4, {7, 0, 0, 0}), b.Value("huge", 3, Bytes(2 << 20, 0xAB))});
  b.SetRoot(root);
  BoundHive hive(b.Image());
  const std::string file = test::ScratchPath("limited.reg");
  struct rlimit old {};
  ::getrlimit(RLIMIT_FSIZE, &old);
  const struct rlimit limited = {1 << 20, old.rlim_max};
  auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ::setrlimit(RLIMIT_FSIZE, &limited);
  const ExportResult r = Export(hive, root, "K", file);
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_NE(r.error.find("Write failed"), std::string::npos) << r.error;
  const std::string text = ExportResult{test::ReadFileBytes(file), "", {}}.Text();
  EXPECT_EQ(text, std::string(kHeader) + "\r\n[K]\r\n\"small\"=dword:00000007\r\n");
  std::remove(file.c_str());
}

TEST(RegistryTextWriter, FailedWriteRaises) {
  test::SampleHive s = test::BuildSampleHive();
  BoundHive hive(s.image);
  const ExportResult r = Export(hive, s.root, "HKEY_CURRENT_USER", "/dev/full");
  EXPECT_NE(r.error.find("Write failed"), std::string::npos) << r.error;
}

TEST(RegistryTextWriter, CyclesAndDepthAreBounded) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  const uint32_t a = b.Key("a", root);
  b.SetSubkeys(root, {a});
  b.SetSubkeys(a, {root, a});
  b.SetRoot(root);
  BoundHive hive(b.Image());
  EXPECT_EQ(Export(hive, root, "K").Text(), std::string(kHeader) + "\r\n[K]\r\n\r\n[K\\a]\r\n");
}

TEST(RegistryTextWriter, RepeatedFanOutRunsOutOfBudget) {
  BoundHive hive(test::RepeatedFanOutHive());
  KeyInfo root;
  ASSERT_TRUE(GetRootKey(hive.image, root));
  const ExportResult r = Export(hive, root.Ref.cell, "K");
  EXPECT_EQ(r.error, kBudgetOutText);
}

TEST(RegistryTextWriter, AwkwardHiveReimportsToTheSameValues) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  const uint32_t k1 = b.Key("Quote\"Key ]odd", root);
  const uint32_t k2 = b.Key("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC", root, test::NameStorage::Utf16);
  const uint32_t k3 = b.Key("Deeper", k2);
  b.SetSubkeys(root, {k1, k2});
  b.SetSubkeys(k2, {k3});
  Bytes big(70000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 13);
  b.SetValues(root, {b.Value("", 1, {}), b.Value("back\\slash", 1, Utf16Bytes(u"C:\\a\\\"b\"")),
                     b.Value("no nul", 1, Utf16Bytes(u"abc", false)), b.Value("crlf", 1, Utf16Bytes(u"line1\r\nline2")),
                     b.Value("multi", 7, Utf16Bytes(std::u16string(u"a\0b\0", 4)))});
  b.SetValues(k1, {b.Value("\xE2\x82\xAC wide name", 3, big, test::DataStorage::Auto, test::NameStorage::Utf16),
                   b.Value("d8", 4, Bytes(8, 0xEE)), b.Value("q", 11, Bytes(8, 0x11)),
                   b.Value("huge type", 0xFFFFFFFF, {1, 2, 3})});
  b.SetValues(k3, {b.Value("big string", 2, Utf16Bytes(std::u16string(9000, u'\u00E9')))});
  b.SetRoot(root);
  BoundHive hive(b.Image());
  const ExportResult r = Export(hive, root, "HKEY_CURRENT_USER\\Prefix");
  ASSERT_EQ(r.error, "");
  const auto keys = test::ParseRegText(r.file);
  EXPECT_EQ(test::CompareWithHive(hive.image, hive.Key(root), "HKEY_CURRENT_USER\\Prefix", keys), "");
}

}  // namespace
}  // namespace cellbrook
