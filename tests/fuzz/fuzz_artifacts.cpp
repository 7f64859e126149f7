// libFuzzer target: every artifact decoder over the image, each as if the
// hive were of every kind it applies to, and the shell item and record
// formatting over the raw input.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "artifacts/artifact_run.h"
#include "artifacts/artifact_table.h"
#include "artifacts/shell_items.h"

using namespace cellbrook;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4 * 1024 * 1024) return 0;
  std::vector<uint8_t> block(data, data + size);  // exact bounds for ASan
  uint64_t sum = 0;
  const GuidNamer names = [](const std::string& guid) { return guid; };
  const ShellItemList list = DecodeShellItemList(block, names);
  sum += ItemListPath(list).size() + list.items.size();
  HiveImage image;
  if (AttachImage(image, block.data(), static_cast<uint32_t>(block.size()))) {
    sum += static_cast<uint32_t>(DetectHiveKind(image).kind);
    for (uint32_t bit = 1; bit <= static_cast<uint32_t>(HiveKind::Usrclass); bit <<= 1) {
      for (bool partial : {false, true}) {
        if (partial && bit != static_cast<uint32_t>(HiveKind::Ntuser)) continue;
        ArtifactRun run = RunArtifactsAs(image, HiveKindGuess{static_cast<HiveKind>(bit), partial});
        SidNames sids;
        sids.Learn(run);
        sids.Lend(run, SidNames::ClassesHiveSid(image));
        for (const ArtifactRecord& r : run.records) {
          for (const FieldValue& f : r.fields) sum += FieldText(f).size();
          sum += r.key.size() + r.error.size();
        }
        sum += run.DamageSummary().size();
      }
    }
  }
  return sum == 0xFFFFFFFFFFFFFFFFull ? 1 : 0;
}
