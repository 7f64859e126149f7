// Artifact records as lines of the command line's and the window's
// exports: JSON Lines objects and RFC 4180 CSV.
#pragma once

#include <string>

#include "artifacts/artifact_record.h"
#include "artifacts/artifact_table.h"

namespace cellbrook {

// One record as a JSON Lines object (no line end): artifact, hive, key, the
// fields, and damaged and error on a damaged record.
std::string ArtifactRecordJson(const ArtifactRecord& record, const std::string& hive);
// "key,FIELD...,damaged,error" and one record, CRLF-ended.
std::string ArtifactCsvHeader(const ArtifactDecoder& decoder);
std::string ArtifactCsvLine(const ArtifactRecord& record);

}  // namespace cellbrook
