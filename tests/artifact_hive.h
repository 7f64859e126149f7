// Builds hives for the artifact tests from key paths and values, and runs
// decoders over them.
#pragma once

#include <cstdint>
#include <map>
#include <tuple>
#include <string>
#include <string_view>
#include <vector>

#include "artifacts/artifact_run.h"
#include "hive_builder.h"

namespace cellbrook::test {

Bytes Sz(std::u16string_view text);
Bytes MultiSz(std::initializer_list<std::u16string_view> strings);
Bytes Dword(uint32_t v);
Bytes Qword(uint64_t v);
Bytes Le16s(std::initializer_list<uint16_t> v);
// Appends `v` little-endian in `size` bytes.
void PutLe(Bytes& out, uint64_t v, size_t size);
Bytes Concat(std::initializer_list<Bytes> parts);

class TreeHive {
 public:
  // The key at "A\B" below the root, made with its parents when absent.
  TreeHive& Key(std::string_view path);
  TreeHive& Value(std::string_view keyPath, std::string_view name, uint32_t type, Bytes data);
  // A value of `size` bytes whose data cell lies outside the image.
  TreeHive& BrokenValue(std::string_view keyPath, std::string_view name, uint32_t type, size_t size);
  TreeHive& Time(std::string_view keyPath, uint64_t filetime);
  Bytes Build() const;

 private:
  struct Node {
    std::vector<std::string> children;
    std::vector<std::tuple<std::string, uint32_t, Bytes, bool>> values;
    uint64_t time = 0;
  };
  std::map<std::string, Node> nodes_{{"", Node{}}};
  std::vector<std::string> order_{""};
};

// The records of one decoder over a built image.
struct DecodedHive {
  explicit DecodedHive(Bytes image, std::vector<std::string> names = {});
  std::vector<const ArtifactRecord*> Of(std::string_view artifact) const;
  Bytes bytes;
  HiveImage image;
  ArtifactRun run;
};

}  // namespace cellbrook::test
