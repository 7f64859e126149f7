// Saving one value's data bytes to a file, exactly as stored (big data
// assembled from its segments).
#pragma once

#include <string>

#include "hive/hive_reader.h"

namespace cellbrook {

enum class SaveCheck { Ready, Empty, Damaged };
enum class SaveOutcome { Saved, CannotCreate, WriteFailed, NotRegular };

// Checked before the user is asked for a file name.
SaveCheck CheckValueForSaving(const ValueInfo& value);
// Writes the bytes to `path` through WholeFileWrite: after a failure the
// old file, or none, is there, never a part of the value. With
// `dashIsStdout`, "-" is standard output.
SaveOutcome SaveValueData(const ValueInfo& value, const std::string& path, bool dashIsStdout = false);

const char* SaveCheckText(SaveCheck check);        // "Value is empty!", ...
const char* SaveOutcomeText(SaveOutcome outcome);  // "Unable to create target file!", ...

}  // namespace cellbrook
