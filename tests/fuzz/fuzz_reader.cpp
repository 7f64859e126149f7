// libFuzzer target: binds an image and walks everything a user can reach:
// the root, every key with its path, every value with its type name, text
// and bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "hive/key_lookup.h"
#include "hive/filetime.h"
#include "hive/key_security.h"
#include "hive/key_walk.h"
#include "present/data_text.h"
#include "present/hive_search.h"
#include "present/security_text.h"
#include "present/timeline.h"
#include "present/value_rows.h"
#include "present/value_text.h"

using namespace cellbrook;

namespace {

struct Visitor {
  const HiveImage& image;
  KeyWalk& walk;
  char path[4096];
  char16_t text[kValueTextUnits];
  uint64_t sum = 0;
  bool Enter(const KeyInfo& key, uint32_t) {
    path[4095] = 0;
    if (const char* p = BuildKeyPath(image, key.Ref, path, 4095)) sum += static_cast<uint8_t>(p[0]);
    sum += KeyNameString(key).size() + walk.CurrentPath().size();
    sum += FormatFileTime(key.LastWritten).size();
    // Class name, security cell and descriptor, as the key details show them.
    const ClassName className = ReadClassName(image, key.Ref);
    sum += className.Text().size() + className.problem.size() + KeyFlagsText(key.Flags).size();
    sum += VolatileSubkeyCount(image, key.Ref);
    const SecurityCell security = ReadSecurityCell(image, KeySecurityCellOffset(image, key.Ref));
    sum += security.problem.size() + security.referenceCount;
    const SecurityDescriptor sd = DecodeSecurityDescriptor(security.descriptor);
    sum += SddlText(sd).size() + sd.problems.size();
    for (const Acl* acl : {&sd.dacl, &sd.sacl}) {
      for (const Ace& ace : acl->aces) {
        sum += RightsWords(ace.mask).size() + AceTypeWords(ace.type).size() + AppliesToWords(ace.flags).size();
        if (ace.sid) sum += SidName(*ace.sid).size();
      }
    }
    for (const ValueInfo& listed : ReadValues(image, key, walk.Budget()).values) {
      ValueInfo v;
      if (listed.Ref && !GetValueInfo(image, v, listed.Ref)) __builtin_trap();
      sum += ValueTypeName(listed.Type)[4];
      FormatValueText(listed, text);
      sum += text[0];
      sum += ValueNameString(listed).size();
      sum += DecodedText(listed).size() + HexDump(DataBytes(listed.Data)).size();
      listed.Data.ForEachPiece([this](std::span<const uint8_t> p) { sum += p.empty() ? 0 : p.front() + p.back(); });
    }
    return true;
  }
  void Leave(const KeyInfo&, uint32_t) {}
  void Missing(uint32_t) {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4 * 1024 * 1024) return 0;
  std::vector<uint8_t> block(data, data + size);  // exact bounds for ASan
  HiveImage image;
  if (!AttachImage(image, block.data(), static_cast<uint32_t>(block.size()))) return 0;
  uint64_t bin = 0;
  FindBin(image, 3, 4096, bin);
  KeyInfo root;
  if (!GetRootKey(image, root)) return 0;
  KeyWalk walk(image, "ROOT");
  Visitor v{image, walk, {}, {}};
  walk.Run(root, v);
  v.sum += walk.Damage().Summary().size();
  // Find and the timeline over the same image.
  for (const SearchOptions& options :
       {SearchOptions{.pattern = "a\xC3\x9F", .ignoreCase = true}, SearchOptions{.pattern = "00 00", .hex = true},
        SearchOptions{.pattern = "^(a|b)*$", .regex = true, .wholeString = true}}) {
    HiveSearch search(image, options);
    v.sum += SearchHive(image, search, [&v](const SearchHit& hit) { v.sum += hit.keyPath.size(); }).hits;
  }
  v.sum += CollectTimeline(image).entries.size();
  return v.sum == 0xFFFFFFFFFFFFFFFFull ? 1 : 0;
}
