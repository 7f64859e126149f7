// Every key with its last written time, newest first: the timeline command
// in CSV, bodyfile and JSON Lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "hive/damage_report.h"
#include "hive/hive_reader.h"
#include "recover/deleted_scan.h"

namespace cellbrook {

struct TimelineEntry {
  uint64_t lastWritten;  // FILETIME
  std::string path;      // "ROOT\A", names escaped as EscapeKeyName does
  uint32_t subkeys, values;
  bool deleted = false;  // a recovered key (its path may begin "?\")
};

struct Timeline {
  std::vector<TimelineEntry> entries;  // newest first; equal times in pre-order
  DamageReport damage;
  bool budgetOut = false;  // the walk stopped early (see KeyWalk)
  bool noRoot = false;     // the hive has no readable root key
};

// The root key (as "ROOT") and every key below it.
Timeline CollectTimeline(const HiveImage& image);

// Adds the keys a scan recovered (their values as counted in their lists,
// their recovered subkeys), in time order with the rest.
void AddRecoveredKeys(Timeline& timeline, const DeletedScan& scan);

// Whole seconds since 1970-01-01 UTC, rounded down.
int64_t UnixSeconds(uint64_t fileTime);

// One CSV field after RFC 4180: quoted, inner quotes doubled, when it holds
// a comma, a quote, CR or LF.
std::string CsvField(std::string_view text);

// "LastWritten,Path,Subkeys,Values" and one record a key, CRLF line ends;
// with `deletedColumn` a fifth column "Deleted" says "yes" for recovered keys.
std::string CsvHeader(bool deletedColumn = false);
std::string CsvRecord(const TimelineEntry& entry, bool deletedColumn = false);
// MD5|name|inode|mode|UID|GID|size|atime|mtime|ctime|crtime with the path
// as name, the time in mtime and 0 elsewhere; a '|' inside the path is
// written \x7c so that the fields stay apart; a recovered key's name ends
// in " (deleted)".
std::string BodyfileRecord(const TimelineEntry& entry);

}  // namespace cellbrook
