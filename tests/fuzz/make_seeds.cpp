// Writes the seed corpus: small hives from the test builder.
#include <fstream>
#include <string>

#include "hive_builder.h"

using namespace cellbrook::test;

int main(int argc, char** argv) {
  if (argc != 2) return 1;
  const std::string dir = argv[1];
  auto write = [&](const std::string& name, const Bytes& b) {
    std::ofstream(dir + "/" + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  };
  write("sample", BuildSampleHive().image);
  for (IndexKind kind : {IndexKind::Lf, IndexKind::Lh, IndexKind::Li, IndexKind::Ri}) {
    HiveBuilder b;
    const uint32_t root = b.Key("root");
    const uint32_t a = b.Key("a", root), w = b.Key("w\xC3\xA9", root, NameStorage::Utf16);
    b.SetSubkeys(root, {a, w, 0}, kind, 1);
    b.SetSubkeys(a, {b.Key("deep", a)});
    b.SetValues(a, {b.Value("s", 1, Utf16Bytes(u"text")), b.Value("d", 4, {1, 2, 3, 4}),
                    b.Value("big", 3, Bytes(20000, 7)), b.Value("q", 11, Bytes(8, 1)),
                    b.Value("m", 7, Utf16Bytes(u"a")), b.Value("", 0, {})});
    b.SetRoot(root);
    write("index-" + std::to_string(static_cast<int>(kind)), b.Image());
  }
  return 0;
}
