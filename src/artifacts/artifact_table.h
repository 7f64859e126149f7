// The table of artifact decoders: each a name, a one-line summary, the hive
// kinds it applies to, its fields, and the function that decodes it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "artifacts/hive_kind.h"

namespace cellbrook {

class DecodeContext;

struct ArtifactDecoder {
  const char* name;
  const char* summary;
  uint32_t kinds;  // HiveKind bits
  std::vector<const char*> fields;
  void (*decode)(DecodeContext&);

  bool AppliesTo(HiveKind kind) const { return (kinds & static_cast<uint32_t>(kind)) != 0; }
  int FieldIndex(std::string_view field) const;
};

// Every decoder, in the order the artifacts are listed and run.
std::span<const ArtifactDecoder> ArtifactDecoders();
const ArtifactDecoder* FindArtifactDecoder(std::string_view name);
// "system,sam" style text of a decoder's hive kinds.
std::string KindListText(uint32_t kinds);

}  // namespace cellbrook
