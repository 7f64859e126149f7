// Writes the seed corpus: small hives from the test builder.
#include <fstream>
#include <string>

#include "artifact_hive.h"
#include "hive_builder.h"
#include "log_builder.h"

using namespace cellbrook;
using namespace cellbrook::test;

int main(int argc, char** argv) {
  if (argc != 2) return 1;
  const std::string dir = argv[1];
  auto write = [&](const std::string& name, const Bytes& b) {
    std::ofstream(dir + "/" + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  };
  write("sample", BuildSampleHive().image);
  // For fuzz_logs: primary length, first log length, primary, logs.
  {
    Bytes primary = BuildSampleHive().image;
    AppendEmptyBins(primary, 1);
    primary = WithSequences(primary, 11, 10);
    const uint32_t bins = GetLe32(primary, 40);
    const Bytes log1 =
        NewFormatLog(LogBaseBlock(primary, 10, 6), {NewLogEntry(10, bins, {{4096, EmptyBin(4096, 1)}}),
                                                    NewLogEntry(11, bins + 4096, {{bins, EmptyBin(bins, 2)}}, 1)});
    const Bytes log2 = NewFormatLog(LogBaseBlock(primary, 12, 6), {NewLogEntry(12, bins, {{0, EmptyBin(0, 3)}})});
    const Bytes oldBin = EmptyBin(4096, 4);
    const Bytes oldLog = OldFormatLog(LogBaseBlock(primary, 11, 1),
                                      {{8, Bytes(oldBin.begin(), oldBin.begin() + 512)}, {9, Bytes(512, 5)}});
    auto split = [](const Bytes& p, const Bytes& a, const Bytes& b) {
      Bytes in(8, 0);
      for (int i = 0; i < 4; ++i) in[i] = static_cast<uint8_t>(p.size() >> (8 * i));
      for (int i = 0; i < 4; ++i) in[4 + i] = static_cast<uint8_t>(a.size() >> (8 * i));
      in.insert(in.end(), p.begin(), p.end());
      in.insert(in.end(), a.begin(), a.end());
      in.insert(in.end(), b.begin(), b.end());
      return in;
    };
    write("logs-new", split(primary, log1, log2));
    write("logs-old", split(primary, oldLog, {}));
    Bytes broken = primary;
    broken[0x30] ^= 1;
    write("logs-invalid-base", split(broken, log1, log2));
  }
  for (IndexKind kind : {IndexKind::Lf, IndexKind::Lh, IndexKind::Li, IndexKind::Ri}) {
    HiveBuilder b;
    const uint32_t root = b.Key("root");
    const uint32_t a = b.Key("a", root), w = b.Key("w\xC3\xA9", root, NameStorage::Utf16);
    b.SetSubkeys(root, {a, w, 0}, kind, 1);
    b.SetSubkeys(a, {b.Key("deep", a)});
    b.SetValues(
        a, {b.Value("s", 1, Utf16Bytes(u"text")), b.Value("d", 4, {1, 2, 3, 4}), b.Value("big", 3, Bytes(20000, 7)),
            b.Value("q", 11, Bytes(8, 1)), b.Value("m", 7, Utf16Bytes(u"a")), b.Value("", 0, {})});
    b.SetRoot(root);
    write("index-" + std::to_string(static_cast<int>(kind)), b.Image());
  }
  // Deleted records: a freed subtree with values, a value in a list's
  // slack, a remnant after the bins, a free-list link over a signature.
  for (uint32_t minor : {3u, 5u}) {
    HiveBuilder b;
    b.SetMinorVersion(minor);
    const uint32_t root = b.Key("root");
    const uint32_t live = b.Key("live", root);
    b.SetSubkeys(root, {live});
    const uint32_t gone = b.Key("gone", live), child = b.Key("child", gone);
    b.SetLastWritten(gone, 131962628961234567ull);
    b.SetLastWritten(child, 131962628961234567ull);
    const uint32_t kept = b.Value("kept", 4, {1, 0, 0, 0});
    const uint32_t dropped = b.Value("dropped", 3, Bytes(40, 9));
    b.SetValues(live, {kept, dropped});
    b.Put32(live + 0x28, 1);
    b.SetValues(gone, {b.Value("big", 3, Bytes(20000, 7)), b.Value("s", 1, Utf16Bytes(u"x"))});
    const uint32_t lost = b.Key("lost", live);
    b.SetLastWritten(lost, 131962628961234567ull);
    b.Free(gone, child);
    b.Free(dropped);
    b.Free(lost);
    b.Put32(lost + 4, 0xFFFFFFFF);
    b.AppendAfterBins(b.CellBytes(child));
    b.SetRoot(root);
    write("deleted-" + std::to_string(minor), b.Image());
  }
  // For fuzz_artifacts: a SYSTEM and a user hive with the layouts decoders parse.
  {
    TreeHive system;
    system.Value("Select", "Current", RegDword, Dword(1));
    Bytes cache = Dword(0x30);
    cache.resize(0x30, 0);
    const Bytes path = Utf16Bytes(u"C:\\a.exe", false);
    Bytes rest = Le16s({static_cast<uint16_t>(path.size())});
    rest.insert(rest.end(), path.begin(), path.end());
    PutLe(rest, 132000000000000000ull, 8);
    PutLe(rest, 0, 4);
    cache.insert(cache.end(), {'1', '0', 't', 's', 0, 0, 0, 0});
    PutLe(cache, rest.size(), 4);
    cache.insert(cache.end(), rest.begin(), rest.end());
    system.Value("ControlSet001\\Control\\Session Manager\\AppCompatCache", "AppCompatCache", RegBinary, cache);
    system.Value("ControlSet001\\Services\\svc", "Start", RegDword, Dword(2));
    system.Value("ControlSet001\\Services\\svc", "Type", RegDword, Dword(0x10));
    system.Value("ControlSet001\\Control\\TimeZoneInformation", "StandardStart", RegBinary, Bytes(16, 1));
    system.Value("MountedDevices", "\\DosDevices\\C:", RegBinary, Bytes(12, 2));
    system.Value("ControlSet001\\Services\\bam\\State\\UserSettings\\S-1-5-18", "x.exe", RegBinary, Bytes(24, 1));
    write("artifacts-system", system.Build());

    TreeHive user;
    user.Key("Console");
    user.Value("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist\\{G}\\Count", "n.rkr", RegBinary,
               Bytes(72, 3));
    Bytes root = Le16s({20});
    root.insert(root.end(), {0x1F, 0x50});
    root.resize(20, 0x11);
    Bytes file = Le16s({0});
    file.insert(file.end(), {0x31, 0, 0, 0, 0, 0, 0x91, 0x4C, 0x2A, 0x5A, 0x10, 0, 'A', 0});
    Bytes block = Le16s({52, 9});
    PutLe(block, 0xBEEF0004, 4);
    block.resize(46, 0);
    block.insert(block.end(), {'L', 0, 0, 0});
    PutLe(block, 16, 2);
    file.insert(file.end(), block.begin(), block.end());
    file[0] = static_cast<uint8_t>(file.size());
    const std::string bag = "Software\\Microsoft\\Windows\\Shell\\BagMRU";
    user.Value(bag, "0", RegBinary, Concat({root, Le16s({0})}));
    user.Value(bag, "MRUListEx", RegBinary, Concat({Dword(0), Dword(0xFFFFFFFF)}));
    user.Value(bag + "\\0", "0", RegBinary, Concat({file, Le16s({0})}));
    user.Value(bag + "\\0", "NodeSlot", RegDword, Dword(1));
    user.Value("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\RecentDocs", "0", RegBinary,
               Concat({Utf16Bytes(u"a.txt", true), file, Le16s({0})}));
    write("artifacts-user", user.Build());
  }
  return 0;
}
