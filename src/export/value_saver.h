// Saving one value's data bytes to a file, exactly as stored (big data
// assembled from its segments).
#pragma once

#include <string>

#include "hive/hive_reader.h"

namespace cellbrook {

enum class SaveCheck { Ready, Empty, Damaged };
enum class SaveOutcome { Saved, CannotCreate, WriteFailed };

// Checked before the user is asked for a file name.
SaveCheck CheckValueForSaving(const ValueInfo& value);
// Creates (or truncates) `path` and writes the bytes. A failed or short
// write removes the file, so nothing claims to hold the value.
SaveOutcome SaveValueData(const ValueInfo& value, const std::string& path);

const char* SaveCheckText(SaveCheck check);      // "Value is empty!", ...
const char* SaveOutcomeText(SaveOutcome outcome);  // "Unable to create target file!", ...

}  // namespace cellbrook
