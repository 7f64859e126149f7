// libFuzzer target: exports the whole hive through the registry text writer.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "export/registry_text_writer.h"

using namespace cellbrook;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4 * 1024 * 1024) return 0;
  std::vector<uint8_t> block(data, data + size);
  HiveImage image;
  if (!AttachImage(image, block.data(), static_cast<uint32_t>(block.size()))) return 0;
  KeyInfo root;
  if (!GetRootKey(image, root)) return 0;
  static const int devnull = ::open("/dev/null", O_WRONLY);
  try {
    OutputSink sink(devnull);
    WriteRegFileHeader(sink);
    ExportKeyText(image, "HKEY_CURRENT_USER", sink, root.Ref);
  } catch (const ExportError&) {
  }
  return 0;
}
