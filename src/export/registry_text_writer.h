// Writes a key and its subtree as registry text ("Windows Registry Editor
// Version 5.00", UTF-16LE) so that importing the file recreates every value
// with its type and bytes. Entries that cannot be read are skipped and
// counted; failures raise ExportError, and what was completed before a
// failure stays in the file, nothing partial.
#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "export/output_sink.h"
#include "hive/damage_report.h"
#include "hive/hive_reader.h"
#include "recover/deleted_scan.h"

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

// Recovered keys (from a deleted scan) as registry text, by the same rules
// and value formatting as ExportKeyText, so that importing the file restores
// them. Each key in `keys` (indexes into scan.keys) is written as `prefix`
// followed by its recovered path after "ROOT", then its values, then every
// recovered key below it whose path is full, depth first in cell order;
// each key once, though it lie below another given key. A key whose path is partial ("?\...") has no place to go back to and writes
// nothing. Then, when `slackValues`, each live key that still holds deleted
// values in its value list's slack: its key line and those values. Values
// whose data cannot be read are skipped and counted (ValueData, at the
// key's path). Raises ExportError as ExportKeyText does; flushes `file`.
struct RecoveredExportCount {
  uint64_t keys = 0, values = 0;  // written
  DamageReport damage;
};
RecoveredExportCount ExportRecoveredKeys(const DeletedScan& scan, std::span<const uint32_t> keys,
                                         bool slackValues, std::string_view prefix,
                                         OutputSink& file);

// The recovered keys with full paths whose parent is no recovered key with a
// full path: the tops of the subtrees that can go back, in cell order. With
// slackValues, ExportRecoveredKeys(scan, FullPathRecoveredTops(scan), true,
// ...) writes everything that can be restored.
std::vector<uint32_t> FullPathRecoveredTops(const DeletedScan& scan);

// ExportRecoveredKeys into a file, as ExportKeyToFile: opens `target` ("-"
// is standard output), writes the header and the keys, closes.
ExportOutcome ExportRecoveredKeysToFile(const DeletedScan& scan, std::span<const uint32_t> keys,
                                        bool slackValues, std::string_view prefix,
                                        const std::string& target);

// Opens `target` ("-" is standard output), writes the header, has `write`
// fill the rest, closes, and says how it went: the one way every registry
// file is written.
ExportOutcome WriteRegistryFile(const std::string& target, const std::function<DamageReport(OutputSink&)>& write);

// Registry text written entry by entry, for files that come from elsewhere
// than one key walk (a patch between two trees): the same key lines and
// value entries as the export, and removals. Each call is one entry of the
// file; a name that cannot be written raises ExportError.
class RegTextEntries {
 public:
  explicit RegTextEntries(OutputSink& file);
  ~RegTextEntries();
  RegTextEntries(const RegTextEntries&) = delete;
  RegTextEntries& operator=(const RegTextEntries&) = delete;

  void Key(std::u16string_view path);         // [path]
  void RemovedKey(std::u16string_view path);  // [-path]
  void Value(bool unnamed, std::u16string_view name, uint32_t type, const ValueData& data,
             std::u16string_view keyPath);
  void RemovedValue(bool unnamed, std::u16string_view name, std::u16string_view keyPath);  // "name"=-

  // A path given whole (prefix and start key): no line break, no empty name.
  static void CheckPath(std::string_view path);
  // A key's name below `parentPath`: no line break or backslash, not empty.
  static void CheckName(std::u16string_view name, std::u16string_view parentPath);

  void Finish();               // flushes
  void FinishAfterFailure();   // keeps every entry completed before a failure

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace cellbrook
