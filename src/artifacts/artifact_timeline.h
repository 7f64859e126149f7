// Artifact times as timeline events: one for each time field of a record
// (the key's own last written time stays with the key).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "artifacts/artifact_run.h"

namespace cellbrook {

struct ArtifactEvent {
  uint64_t time;     // FILETIME, UTC
  std::string path;  // the record's key
  const char* artifact;
  const char* field;
  std::string text;  // "userassist: last run C:\...\EXCEL.EXE (4 runs)"
};

// Newest first; equal times in record order.
std::vector<ArtifactEvent> ArtifactEvents(const ArtifactRun& run);

}  // namespace cellbrook
