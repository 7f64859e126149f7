// cellbrook-cli artifacts: well-known keys decoded into records.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "artifacts/artifact_record.h"

namespace cellbrook {

// `args` starts with the word "artifacts"; returns the exit status.
int RunArtifactsCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

// One record as a JSON Lines object: artifact, hive, key, the fields,
// and damaged and error on a damaged record.
std::string ArtifactRecordJson(const ArtifactRecord& record, const std::string& hive);

}  // namespace cellbrook
