// Running the decoders over one hive, and lending account names for SIDs
// from other hives of the same machine.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "artifacts/artifact_record.h"
#include "artifacts/artifact_table.h"
#include "artifacts/hive_kind.h"
#include "hive/hive_reader.h"

namespace cellbrook {

struct ArtifactRun {
  HiveKindGuess kind;
  std::vector<ArtifactRecord> records;  // by decoder in table order, each in hive order
  uint64_t damagedRecords = 0;
  uint64_t skippedEntries = 0;       // subkey and value entries that led nowhere
  std::string firstSkipped;          // the key that listed the first of them
  std::vector<std::string> stopped;  // decoders whose work budget ran out

  bool Damaged() const { return damagedRecords > 0 || skippedEntries > 0 || !stopped.empty(); }
  // "3 damaged records; 2 entries that lead nowhere were skipped (first
  // below ROOT\A)"; empty when nothing was damaged.
  std::string DamageSummary() const;
};

// The decoders named (all when empty) that apply to the image's kind.
ArtifactRun RunArtifacts(const HiveImage& image, const std::vector<const ArtifactDecoder*>& selected = {});
// The same for a kind given rather than detected.
ArtifactRun RunArtifactsAs(const HiveImage& image, HiveKindGuess kind,
                           const std::vector<const ArtifactDecoder*>& selected = {});

// Account names by SID text.
class SidNames {
 public:
  // What a SAM (local SID and user names) or SOFTWARE (profile folders)
  // hive knows; other kinds lend nothing.
  void Learn(const HiveImage& image);
  void Learn(const ArtifactRun& run);
  const std::string* Find(const std::string& sid) const;
  // Fills the "user" field of records that carry a SID; shell bags take
  // `hiveSid`, the SID of the classes hive they come from.
  void Lend(ArtifactRun& run, const std::string& hiveSid = {}) const;
  // The SID a classes hive belongs to, from its root key name ("S-1-..._Classes").
  static std::string ClassesHiveSid(const HiveImage& image);

 private:
  std::map<std::string, std::string> names_;
};

}  // namespace cellbrook
