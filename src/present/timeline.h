// Every key with its last written time, newest first: the timeline command
// in CSV, bodyfile and JSON Lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "hive/damage_report.h"
#include "hive/hive_reader.h"
#include "hive/deleted_records.h"

namespace cellbrook {

struct TimelineEntry {
  uint64_t lastWritten;  // FILETIME
  // A live key's path, "ROOT\A", names escaped as EscapeKeyName does; empty
  // for a recovered key, whose path the scan builds when shown (EntryPath).
  std::string path;
  uint32_t subkeys, values;
  bool deleted = false;           // a recovered key (its path may begin "?\")
  uint32_t cell = kNoCell;        // the key node's cell offset
  uint32_t deletedKey = kNoCell;  // a recovered key: its index in the scan's keys
};

struct Timeline {
  std::vector<TimelineEntry> entries;  // newest first; equal times in pre-order
  DamageReport damage;
  bool budgetOut = false;             // the walk stopped early (see KeyWalk)
  bool noRoot = false;                // the hive has no readable root key
  const DeletedScan* scan = nullptr;  // the recovered keys' scan, kept by the caller
};

// The entry's path, escaped: a live key's as kept, a recovered key's built
// from the scan's shared path nodes.
std::string EntryPath(const Timeline& timeline, const TimelineEntry& entry);

// The root key (as "ROOT") and every key below it.
Timeline CollectTimeline(const HiveImage& image);

// Adds the keys a scan recovered (their values as counted in their lists,
// their recovered subkeys), in time order with the rest. The scan must
// outlive the timeline's use.
void AddRecoveredKeys(Timeline& timeline, const DeletedScan& scan);

// Whole seconds since 1970-01-01 UTC, rounded down.
int64_t UnixSeconds(uint64_t fileTime);
// The same for a bodyfile: a time before 1970 (a FILETIME of 0 too) is 0,
// the format's "no time", never a negative number.
uint64_t BodyfileSeconds(uint64_t fileTime);

// One CSV field after RFC 4180: quoted, inner quotes doubled, when it holds
// a comma, a quote, CR or LF.
std::string CsvField(std::string_view text);

// "LastWritten,Path,Subkeys,Values" and one record a key, CRLF line ends;
// with `deletedColumn` a fifth column "Deleted" says "yes" for recovered keys.
std::string CsvHeader(bool deletedColumn = false);
std::string CsvRecord(const TimelineEntry& entry, std::string_view path, bool deletedColumn = false);
// MD5|name|inode|mode|UID|GID|size|atime|mtime|ctime|crtime, as timeline
// tools read it: the path (escaped, so no control character is left) as
// name with '%' written %25, '|' %7C and any control character %XX, which
// the tools decode back; the key's cell offset as inode, so that no two
// keys merge; the time in mtime (BodyfileSeconds) and 0 elsewhere. A
// recovered key's name ends in " %28deleted%29": a live name's own '%' is
// always written %25, so no live key can carry that marker.
std::string BodyfileName(std::string_view path, bool deleted);
std::string BodyfileRecord(const TimelineEntry& entry, std::string_view path);

}  // namespace cellbrook
