// libFuzzer target: the bytes as a self-relative security descriptor,
// decoded and written as SDDL and words; and as the data view's
// interpreter reads them at a few offsets.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "hive/security_descriptor.h"
#include "present/data_interpreter.h"
#include "present/security_text.h"

using namespace cellbrook;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1024 * 1024) return 0;
  const std::vector<uint8_t> bytes(data, data + size);  // exact bounds for ASan
  const SecurityDescriptor sd = DecodeSecurityDescriptor(bytes);
  size_t sum = SddlText(sd).size() + ControlFlagNames(sd.control).size();
  for (const Acl* acl : {&sd.dacl, &sd.sacl}) {
    for (const Ace& ace : acl->aces) {
      sum += RightsWords(ace.mask).size() + AceTypeWords(ace.type).size();
      if (ace.sid) sum += SidName(*ace.sid).size() + SidText(*ace.sid).size();
    }
  }
  for (size_t offset : {size_t{0}, size / 2, size}) {
    for (const Interpretation& reading : InterpretBytes(bytes, offset, size % 7)) {
      sum += reading.little.size() + reading.big.size();
    }
  }
  return sum == 1 ? 1 : 0;
}
