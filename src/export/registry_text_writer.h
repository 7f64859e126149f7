// Writes a key and its subtree as registry text ("Windows Registry Editor
// Version 5.00", UTF-16LE) so that importing the file recreates every value
// with its type and bytes. Entries that cannot be read are skipped and
// counted; failures raise ExportError, and what was completed before a
// failure stays in the file, nothing partial.
#pragma once

#include <string>
#include <string_view>

#include "export/output_sink.h"
#include "hive/damage_report.h"
#include "hive/hive_reader.h"

namespace cellbrook {

// The byte-order mark and the first line: 78 bytes.
void WriteRegFileHeader(OutputSink& file);

// Writes the key under `path` (root prefix and key path, UTF-8), its values
// and every key below it; returns what could not be read. A ref that names
// no key writes nothing. Flushes `file` on every way out.
DamageReport ExportKeyText(const HiveImage& image, std::string_view path, OutputSink& file,
                           KeyRef key, std::string_view shownPath = "ROOT");

// The one way to export a key to a file, for the command line and the
// dialog: opens `target` ("-" is standard output), writes the header and the
// key, closes, and says how it went.
struct ExportOutcome {
  enum Status { Done, Damaged, CannotCreate, Failed } status = Done;
  std::string message;  // the summary when Damaged; the failure otherwise
};
ExportOutcome ExportKeyToFile(const HiveImage& image, KeyRef key, std::string_view path,
                              std::string_view shownPath, const std::string& target);

}  // namespace cellbrook
