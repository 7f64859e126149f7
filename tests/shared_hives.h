// The real hives of the shared folder, their expected listings and exports.
// Tests that need them skip with a clear message when the folder is absent.
#pragma once

#include <string>
#include <vector>

namespace cellbrook::test {

struct SharedHive {
  std::string name;    // file name, e.g. "SYSTEM"
  std::string path;    // full path of the hive file
  std::string prefix;  // root prefix of its whole export
  std::string sha256;  // of that export
  size_t keys = 0;     // lines of its key listing
};

const std::string& SharedHivesDir();
bool SharedHivesPresent();
// Rows of MANIFEST.tsv; empty when the folder is absent.
std::vector<SharedHive> SharedHives();
// The decompressed bytes of expected/NAME.SUFFIX.xz (SUFFIX "keys" or "reg").
std::string ExpectedFile(const std::string& name, const std::string& suffix);

std::string ReadFileBytes(const std::string& path);
std::string ScratchPath(const std::string& name);  // a path in the build's scratch folder
// Writes the bytes to ScratchPath(name) and returns that path.
std::string WriteScratchFile(const std::string& name, const std::vector<uint8_t>& bytes);
std::string Sha256Hex(const std::string& bytes);

}  // namespace cellbrook::test

#define SKIP_WITHOUT_SHARED_HIVES()                                                       \
  do {                                                                                    \
    if (!::cellbrook::test::SharedHivesPresent())                                         \
      GTEST_SKIP() << "shared hives not found at " << ::cellbrook::test::SharedHivesDir() \
                   << "; skipping the real-hive checks";                                  \
  } while (0)
