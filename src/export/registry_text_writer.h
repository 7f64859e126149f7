// Writes a key and its subtree as registry text ("Windows Registry Editor
// Version 5.00", UTF-16LE) so that importing the file recreates every value
// with its type and bytes. Entries that cannot be read are skipped and
// counted; failures raise ExportError, and what was completed before a
// failure stays in the sink, nothing partial (the file functions below
// then keep the old file instead: see WholeFileWrite).
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
#include "hive/deleted_records.h"

namespace cellbrook {

// Keys and values left out because registry text cannot carry their names:
// a key whose name holds CR, LF or a backslash, or is empty, goes with its
// subtree; a value whose name holds CR or LF. The export goes on without
// them and says so.
struct NamesLeftOut {
  uint64_t keys = 0, values = 0;
  std::string firstAt;  // the key path of the first one, names escaped as `keys` prints them
  bool Any() const { return keys + values > 0; }
  // "2 keys and 1 value could not be written: their names hold characters
  // registry text cannot carry (first at ROOT\A); everything else was
  // written." Empty when nothing was left out.
  std::string Summary() const;
};

// False for a key name registry text cannot carry (CR, LF, a backslash, or
// empty); a start key with such a name on its path cannot be exported.
bool RegistryTextCarriesKeyName(std::string_view name);

// The byte-order mark and the first line: 78 bytes.
void WriteRegFileHeader(OutputSink& file);

// Writes the key under `path` (root prefix and key path, UTF-8), its values
// and every key below it; returns what could not be read, and counts in
// `leftOut` (may be null) what registry text cannot carry. A ref that names
// no key writes nothing. A `path` that cannot be written raises. Flushes
// `file` on every way out.
DamageReport ExportKeyText(const HiveImage& image, std::string_view path, OutputSink& file, KeyRef key,
                           std::string_view shownPath = "ROOT", NamesLeftOut* leftOut = nullptr);

// The one way to export a key to a file, for the command line and the
// dialog: writes the header and the key through WholeFileWrite to `target`
// ("-" is standard output), and says how it went. CannotCreate carries the
// reason in `message` (no such folder, or a target that is not a regular
// file); after a failure the old file, or none, is at `target`.
// Damaged: everything else was written, and `message` says what was not
// (the damage summary and the NamesLeftOut line, one a line), as the
// command line's exit 5 and the dialog's information box show it.
struct ExportOutcome {
  enum Status { Done, Damaged, CannotCreate, Failed } status = Done;
  std::string message;  // the summary when Damaged; the failure otherwise
};
ExportOutcome ExportKeyToFile(const HiveImage& image, KeyRef key, std::string_view path, std::string_view shownPath,
                              const std::string& target);

// Recovered keys (from a deleted scan) as registry text, by the same rules
// and value formatting as ExportKeyText, so that importing the file restores
// them. Each key in `keys` (indexes into scan.keys) is written as `prefix`
// followed by its recovered path after "ROOT", then its values, then every
// recovered key below it whose path is full, depth first in cell order;
// each key once, though it lie below another given key. A key whose path is partial ("?\...") has no place to go back
// to and writes nothing. Then, when `slackValues`, each live key that still holds deleted values in its value list's
// slack: its key line and those values. Values whose data cannot be read are skipped and counted (ValueData, at the
// key's path); keys and values whose names registry text cannot carry are
// left out and counted in `leftOut` (a key with its subtree). A prefix
// that cannot be written raises ExportError, as ExportKeyText does; flushes
// `file`.
struct RecoveredExportCount {
  uint64_t keys = 0, values = 0;  // written
  DamageReport damage;
  NamesLeftOut leftOut;
};
RecoveredExportCount ExportRecoveredKeys(const DeletedScan& scan, std::span<const uint32_t> keys, bool slackValues,
                                         std::string_view prefix, OutputSink& file);

// The recovered keys with full paths whose parent is no recovered key with a
// full path: the tops of the subtrees that can go back, in cell order. With
// slackValues, ExportRecoveredKeys(scan, FullPathRecoveredTops(scan), true,
// ...) writes everything that can be restored.
std::vector<uint32_t> FullPathRecoveredTops(const DeletedScan& scan);

// ExportRecoveredKeys into a file, as ExportKeyToFile: opens `target` ("-"
// is standard output), writes the header and the keys, closes.
ExportOutcome ExportRecoveredKeysToFile(const DeletedScan& scan, std::span<const uint32_t> keys, bool slackValues,
                                        std::string_view prefix, const std::string& target);

// Opens `target` ("-" is standard output), writes the header, has `write`
// fill the rest, closes, and says how it went: the one way every registry
// file is written. Damaged carries the damage summary and the names left out.
ExportOutcome WriteRegistryFile(const std::string& target,
                                const std::function<DamageReport(OutputSink&, NamesLeftOut&)>& write);

// Registry text written entry by entry, for files that come from elsewhere
// than one key walk (a patch between two trees): the same key lines and
// value entries as the export, and removals. Each call is one entry.
class RegTextEntries {
 public:
  explicit RegTextEntries(OutputSink& file);
  ~RegTextEntries();
  RegTextEntries(const RegTextEntries&) = delete;
  RegTextEntries& operator=(const RegTextEntries&) = delete;

  void Key(std::u16string_view path);         // [path]
  void RemovedKey(std::u16string_view path);  // [-path]
  // False, writing nothing, when registry text cannot carry the name.
  bool Value(bool unnamed, std::u16string_view name, uint32_t type, const ValueData& data);
  bool RemovedValue(bool unnamed, std::u16string_view name);  // "name"=-

  // Whether a key name below a written path can be carried (no CR, LF or
  // backslash, not empty).
  static bool CarriesKeyName(std::u16string_view name);
  // A path given whole (prefix and start key): raises ExportError when a
  // name in it holds a line break or is empty.
  static void CheckPath(std::string_view path);

  void Finish();              // flushes
  void FinishAfterFailure();  // keeps every entry completed before a failure

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace cellbrook
