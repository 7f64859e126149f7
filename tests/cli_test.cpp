// cellbrook-cli: arguments, messages and exit codes.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "cli_support.h"
#include "hive_builder.h"
#include "shared_hives.h"

namespace cellbrook {
namespace {

using test::Bytes;
using test::HiveBuilder;
using test::RunCliCaptured;

std::string WriteHive(const std::string& name, const Bytes& bytes) { return test::WriteScratchFile(name, bytes); }

// Values b, B, a and the unnamed one, under ROOT\Keys; a big value; a value
// whose data lie outside the file.
std::string ListHive() {
  HiveBuilder b;
  const uint32_t root = b.Key("root");
  const uint32_t keys = b.Key("Keys", root);
  const uint32_t other = b.Key("Other", root);
  b.SetSubkeys(root, {keys, other});
  Bytes big(30000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i);
  const uint32_t broken = b.Value("broken", 3, Bytes(8, 1), test::DataStorage::Cell);
  b.Put32(broken + 0xC, 0x7FFFFF00);
  b.SetValues(keys,
              {b.Value("b", 4, {1, 0, 0, 0}), b.Value("B", 1, test::Utf16Bytes(u"x")), b.Value("a", 3, {0xAB}),
               b.Value("", 1, test::Utf16Bytes(u"def")), b.Value("big", 3, big), broken, b.Value("empty", 3, {})});
  b.SetRoot(root);
  return WriteHive("list.hive", b.Image());
}

TEST(Cli, UsageHelpAndVersion) {
  struct Case {
    std::vector<std::string> args;
    int code;
  } cases[] = {
      {{}, 1},
      {{"bogus"}, 1},
      {{"keys"}, 1},
      {{"values", "x"}, 1},
      {{"export", "h", "ROOT"}, 1},
      {{"export", "h", "ROOT", "o", "--prefix"}, 1},
      {{"save", "h", "ROOT", "v"}, 1},
      {{"--help"}, 0},
      {{"--version"}, 0},
  };
  for (const Case& c : cases) {
    const test::CliRun r = RunCliCaptured(c.args);
    EXPECT_EQ(r.code, c.code);
    if (c.code == 1) {
      EXPECT_NE(r.err.find("usage:"), std::string::npos);
    }
  }
  EXPECT_NE(RunCliCaptured({"--version"}).out.find("1.0"), std::string::npos);
}

std::string Fifo() {
  const std::string path = test::ScratchPath("a-fifo");
  std::remove(path.c_str());
  ::mkfifo(path.c_str(), 0666);
  return path;
}

TEST(Cli, UnreadableHives) {
  const std::string dir = test::ScratchPath("a-folder");
  ::mkdir(dir.c_str(), 0777);
  struct Case {
    std::string path;
    const char* message;
  } cases[] = {
      {test::ScratchPath("no-such-file"), "Can not open source file!"},
      {dir, "Can not open source file!"},
      {WriteHive("empty.hive", {}), "File format is invalid!"},
      {WriteHive("short.hive", {'r', 'e', 'g'}), "File format is invalid!"},
      {WriteHive("upper.hive", {'R', 'E', 'G', 'F', 0}), "File format is invalid!"},
      {Fifo(), "Can not open source file!"},  // at once: nothing ever writes to it
      // Too short for a base block, however it starts.
      {WriteHive("four.hive", {'r', 'e', 'g', 'f'}), "File format is invalid!"},
      {WriteHive("sector.hive",
                 [] {
                   Bytes b(511, 0);
                   b[0] = 'r', b[1] = 'e', b[2] = 'g', b[3] = 'f';
                   return b;
                 }()),
       "File format is invalid!"},
  };
  for (const Case& c : cases) {
    for (const char* command : {"keys", "values", "info", "recover", "deleted", "timeline"}) {
      std::vector<std::string> args = {command, c.path};
      if (args[0] == "keys" || args[0] == "values") args.push_back("ROOT");
      if (args[0] == "recover") args.push_back(test::ScratchPath("never-written"));
      const test::CliRun r = RunCliCaptured(args);
      EXPECT_EQ(r.code, 2) << command << " " << c.path;
      EXPECT_EQ(r.err, std::string(c.message) + "\n") << command << " " << c.path;
    }
  }
}

TEST(Cli, FourGibibytesIsTheLimit) {
  // Sparse files: the size is refused before anything is read.
  const std::string path = test::ScratchPath("sparse.hive");
  for (uint64_t size : {uint64_t{67108865}, uint64_t{0x100000000}}) {
    {
      std::ofstream f(path, std::ios::binary);
      f.write("regf", 4);
    }
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
    const test::CliRun r = RunCliCaptured({"keys", path});
    if (size < 0x100000000) {
      // Read whole (no bins in it); its base block's checksum is wrong.
      EXPECT_EQ(r.err.substr(r.err.find('\n') + 1), "Key not found: ROOT\n");
    } else {
      EXPECT_EQ(r.code, 2);
      EXPECT_EQ(r.err, "File is too large!\n");
    }
  }
  std::remove(path.c_str());
}

TEST(Cli, KeysListsBelowAKeyPath) {
  const std::string hive = ListHive();
  EXPECT_EQ(RunCliCaptured({"keys", hive}).out, "ROOT\\Keys\nROOT\\Other\n");
  EXPECT_EQ(RunCliCaptured({"keys", hive, "ROOT\\keys"}).out, "");
  const test::CliRun missing = RunCliCaptured({"keys", hive, "ROOT\\Nope"});
  EXPECT_EQ(missing.code, 3);
  EXPECT_EQ(missing.err, "Key not found: ROOT\\Nope\n");
}

TEST(Cli, KeysStopsWhenTheHiveRepeatsKeys) {
  const test::Bytes image = test::RepeatedFanOutHive();
  const test::CliRun r = RunCliCaptured({"keys", WriteHive("fanout.hive", image)});
  EXPECT_EQ(r.code, 4);
  EXPECT_EQ(r.err, "Too many index entries: the hive shares index or list cells between keys\n");
  EXPECT_LE(static_cast<size_t>(std::count(r.out.begin(), r.out.end(), '\n')), image.size() / 4 + 1);
  EXPECT_GT(r.out.size(), 0u);  // what was listed stays
}

TEST(Cli, ValuesInCaptionOrder) {
  const test::CliRun r = RunCliCaptured({"values", ListHive(), "ROOT\\Keys"});
  EXPECT_EQ(r.code, 5);
  EXPECT_EQ(r.err,
            "The hive is damaged: the data of 1 value could not be read (first at "
            "ROOT\\Keys); everything readable was listed.\n");
  std::vector<std::string> captions;
  for (size_t at = 0; at < r.out.size();) {
    const size_t end = r.out.find('\n', at);
    captions.push_back(r.out.substr(at, r.out.find('\t', at) - at));
    at = end + 1;
  }
  EXPECT_EQ(captions, (std::vector<std::string>{"(Default)", "a", "b", "B", "big", "broken", "empty"}));
  EXPECT_NE(r.out.find("(Default)\tREG_SZ\tdef\n"), std::string::npos);
  EXPECT_NE(r.out.find("b\tREG_DWORD\t0x00000001 (1)\n"), std::string::npos);
  EXPECT_NE(r.out.find("broken\tREG_BINARY\t(error)\n"), std::string::npos);
}

// ASCII text as the UTF-16LE bytes of an export.
std::string Wide(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += {c, '\0'};
  return out;
}

TEST(Cli, ExportRootUsesThePrefixAlone) {
  const std::string hive = ListHive();
  const std::string out = test::ScratchPath("root.reg");
  ASSERT_EQ(RunCliCaptured({"export", hive, "ROOT\\Other", out, "--prefix", "HKEY_LOCAL_MACHINE\\X"}).code, 0);
  std::string text = test::ReadFileBytes(out);
  EXPECT_NE(text.find(Wide("\r\n[HKEY_LOCAL_MACHINE\\X\\Other]\r\n")), std::string::npos);
  const test::CliRun r = RunCliCaptured({"export", hive, "ROOT", out});
  EXPECT_EQ(r.code, 5);  // "broken" lies outside the file: skipped, said
  EXPECT_EQ(r.err,
            "The hive is damaged: the data of 1 value could not be read (first at "
            "ROOT\\Keys); everything readable was written.\n");
  text = test::ReadFileBytes(out);
  EXPECT_NE(text.find(Wide("\r\n\"empty\"=hex:\r\n")), std::string::npos);  // after "broken"
  EXPECT_NE(text.find(Wide("\r\n[HKEY_CURRENT_USER]\r\n")), std::string::npos);
  EXPECT_NE(text.find(Wide("\r\n[HKEY_CURRENT_USER\\Keys]\r\n")), std::string::npos);
  EXPECT_EQ(RunCliCaptured({"export", hive, "ROOT\\Nope", out}).code, 3);
  EXPECT_EQ(RunCliCaptured({"export", hive, "ROOT\\Other", "/no/such/dir/x.reg"}).err,
            "Unable to create target file!\n");
  const test::CliRun full = RunCliCaptured({"export", hive, "ROOT\\Other", "/dev/full"});
  EXPECT_EQ(full.code, 4);  // a device is refused, never opened
  EXPECT_NE(full.err.find("not a regular file"), std::string::npos) << full.err;
}

TEST(Cli, SaveOutcomes) {
  const std::string hive = ListHive();
  const std::string out = test::ScratchPath("value.bin");
  struct Case {
    const char* value;
    const char* target;
    int code;
    const char* message;
  } cases[] = {
      {"b", nullptr, 0, ""},
      {"", nullptr, 0, ""},
      {"empty", nullptr, 4, "Value is empty!\n"},
      {"broken", nullptr, 4, "Value data is damaged!\n"},
      {"nope", nullptr, 3, "Value not found: nope\n"},
      {"b", "/no/such/dir/v.bin", 4, "Unable to create target file!\n"},
      {"big", "/dev/full", 4,
       "The target exists and is not a regular file (a folder, device, FIFO or socket): it is not written.\n"},
  };
  for (const Case& c : cases) {
    std::remove(out.c_str());
    const test::CliRun r = RunCliCaptured({"save", hive, "ROOT\\Keys", c.value, c.target ? c.target : out});
    EXPECT_EQ(r.code, c.code) << c.value;
    EXPECT_EQ(r.err, c.message) << c.value;
    if (c.code == 4 && c.message[0] == 'V') {
      EXPECT_NE(::access(out.c_str(), F_OK), 0) << "no file written";
    }
  }
  ASSERT_EQ(RunCliCaptured({"save", hive, "ROOT\\Keys", "b", out}).code, 0);
  EXPECT_EQ(test::ReadFileBytes(out), std::string("\x01\0\0\0", 4));
  ASSERT_EQ(RunCliCaptured({"save", hive, "ROOT\\Keys", "big", out}).code, 0);
  const std::string big = test::ReadFileBytes(out);
  ASSERT_EQ(big.size(), 30000u);
  for (size_t i = 0; i < big.size(); ++i) ASSERT_EQ(static_cast<uint8_t>(big[i]), static_cast<uint8_t>(i));
  EXPECT_EQ(::access("/dev/full", F_OK), 0);  // a failed save never removes a device
}

TEST(Cli, EveryRecordIsOneLine) {
  HiveBuilder b;
  const uint32_t root = b.Key("root");
  const uint32_t odd = b.Key("tab\there\nnext\rcr", root);
  const uint32_t slash = b.Key("back\\slash", odd);
  b.SetSubkeys(root, {odd});
  b.SetSubkeys(odd, {slash});
  b.SetValues(odd, {b.Value("name\twith\ntab", 1, test::Utf16Bytes(u"C:\\dir\tx\r\ny"))});
  const std::string hive = WriteHive("lines.hive", (b.SetRoot(root), b.Image()));
  EXPECT_EQ(RunCliCaptured({"keys", hive}).out,
            "ROOT\\tab\\there\\nnext\\rcr\n"
            "ROOT\\tab\\there\\nnext\\rcr\\back\\\\slash\n");
  const test::CliRun values = RunCliCaptured({"values", hive, "ROOT\\tab\there\nnext\rcr"});
  EXPECT_EQ(values.code, 0) << values.err;
  EXPECT_EQ(values.out, "name\\twith\\ntab\tREG_SZ\tC:\\dir\\tx\\r\\ny\n");
}

TEST(Cli, DamagedHivesDoAllTheReadableWorkAndExitFive) {
  const std::string sparse = WriteHive("sparse-index.hive", test::SparseIndexHive());
  const test::CliRun keys = RunCliCaptured({"keys", sparse});
  EXPECT_EQ(keys.code, 5);
  EXPECT_EQ(std::count(keys.out.begin(), keys.out.end(), '\n'), 52);
  EXPECT_EQ(keys.err,
            "The hive is damaged: 1998 subkey entries could not be read (first at ROOT); "
            "everything readable was listed.\n");
  const std::string out = test::ScratchPath("sparse-index.reg");
  const test::CliRun exported = RunCliCaptured({"export", sparse, "ROOT", out, "--prefix", "P"});
  EXPECT_EQ(exported.code, 5);
  const std::string text = test::ReadFileBytes(out);
  EXPECT_NE(text.find(Wide("[P\\Big\\c49]")), std::string::npos);

  // A key claims 5,000 subkeys whose index lies past the end of the file.
  HiveBuilder b;
  const uint32_t root = b.Key("root");
  const uint32_t a = b.Key("A", root), cut = b.Key("Cut", root);
  b.SetSubkeys(root, {a, cut});
  b.Put32(cut + 0x18, 5000);
  b.Put32(cut + 0x20, 0x7FFFF000);
  b.SetRoot(root);
  const test::CliRun truncated = RunCliCaptured({"keys", WriteHive("cut.hive", b.Image())});
  EXPECT_EQ(truncated.code, 5);
  EXPECT_EQ(truncated.out, "ROOT\\A\nROOT\\Cut\n");
  EXPECT_EQ(truncated.err,
            "The hive is damaged: 5000 subkey entries could not be read (first at "
            "ROOT\\Cut); everything readable was listed.\n");
}

}  // namespace
}  // namespace cellbrook
