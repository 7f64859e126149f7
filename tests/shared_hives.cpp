#include "shared_hives.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace cellbrook::test {

const std::string& SharedHivesDir() {
  static const std::string dir = CELLBROOK_SHARED_HIVES;
  return dir;
}

bool SharedHivesPresent() {
  struct stat st {};
  return ::stat((SharedHivesDir() + "/MANIFEST.tsv").c_str(), &st) == 0;
}

std::vector<SharedHive> SharedHives() {
  std::vector<SharedHive> hives;
  std::ifstream in(SharedHivesDir() + "/MANIFEST.tsv");
  std::string line;
  std::getline(in, line);  // column names
  while (std::getline(in, line)) {
    std::istringstream row(line);
    SharedHive h;
    std::string keys;
    if (!std::getline(row, h.name, '\t') || !std::getline(row, h.prefix, '\t') || !std::getline(row, h.sha256, '\t') ||
        !std::getline(row, keys)) {
      continue;
    }
    h.path = SharedHivesDir() + "/" + h.name;
    h.keys = std::stoul(keys);
    hives.push_back(h);
  }
  return hives;
}

namespace {

std::string RunAndCapture(const std::string& command) {
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
  std::string out;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  if (::pclose(pipe) != 0) throw std::runtime_error("command failed: " + command);
  return out;
}

}  // namespace

std::string ExpectedFile(const std::string& name, const std::string& suffix) {
  return RunAndCapture("xz -dc '" + SharedHivesDir() + "/expected/" + name + "." + suffix + ".xz'");
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string ScratchPath(const std::string& name) {
  const std::string dir = CELLBROOK_TEST_SCRATCH;
  ::mkdir(dir.c_str(), 0777);
  return dir + "/" + std::to_string(::getpid()) + "-" + name;
}

std::string WriteScratchFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = ScratchPath(name);
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::string Sha256Hex(const std::string& bytes) {
  const std::string path = ScratchPath("sha256-input.bin");
  std::ofstream(path, std::ios::binary) << bytes;
  const std::string out = RunAndCapture("sha256sum '" + path + "'");
  std::remove(path.c_str());
  return out.substr(0, 64);
}

}  // namespace cellbrook::test
