#include "cli/cli.h"
#include "cli/carve_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string_view>

#include <nlohmann/json.hpp>

#include "artifacts/artifact_run.h"
#include "artifacts/artifact_timeline.h"
#include "cli/artifacts_command.h"
#include "cli/key_details_command.h"
#include "cli/diff_command.h"
#include "export/evidence_guard.h"
#include "export/registry_text_writer.h"
#include "export/value_saver.h"
#include "export/whole_file_write.h"
#include "present/caption_collator.h"
#include "hive/filetime.h"
#include "hive/hive_file.h"
#include "hive/key_lookup.h"
#include "hive/key_walk.h"
#include "hive/text_codec.h"
#include "present/data_text.h"
#include "present/hive_search.h"
#include "present/json_line.h"
#include "present/timeline.h"
#include "present/value_rows.h"
#include "present/value_text.h"
#include "recover/logs/base_block.h"
#include "present/deleted_text.h"
#include "recover/deleted/deleted_scan.h"
#include "recover/logs/log_files.h"
#include "recover/open_hive.h"
#include "recover/logs/recovery_text.h"

namespace cellbrook {
namespace {

constexpr int kExitOk = 0, kExitUsage = 1, kExitUnreadable = 2, kExitNotFound = 3,
              kExitFailed = 4, kExitDamaged = 5;
constexpr const char* kVersion = "cellbrook-cli 1.0";
constexpr double kRegexSeconds = 10;  // find --regex: the whole search's time

constexpr const char* kUsage =
    "usage: cellbrook-cli keys HIVE [KEYPATH] [--long] [--json]\n"
    "       cellbrook-cli keys HIVE [KEYPATH] --details [--json]\n"
    "       cellbrook-cli key HIVE KEYPATH [--json]\n"
    "       cellbrook-cli values HIVE KEYPATH [--json]\n"
    "       cellbrook-cli export HIVE KEYPATH OUTFILE [--prefix PREFIX]\n"
    "       cellbrook-cli save HIVE KEYPATH VALUENAME OUTFILE\n"
    "       cellbrook-cli find HIVE PATTERN [--keys] [--values] [--data] [--regex]\n"
    "                     [--ignore-case] [--hex] [--deleted] [--timeout S] [--json]\n"
    "       cellbrook-cli timeline HIVE [--format csv|bodyfile] [--deleted] [--artifacts] [--json]\n"
    "       cellbrook-cli info HIVE [--json]\n"
    "       cellbrook-cli recover HIVE OUTFILE\n"
    "       cellbrook-cli deleted HIVE [--json | --reg OUTFILE [--prefix PREFIX]]\n"
    "       cellbrook-cli diff OLD NEW [KEYPATH] [--json | --reg OUTFILE [--prefix PREFIX]]\n"
    "       cellbrook-cli diff HIVE --logs [KEYPATH] [--json | --reg OUTFILE [--prefix PREFIX]]\n"
    "       cellbrook-cli history HIVE [--json]\n"
    "       cellbrook-cli artifacts HIVE [NAME ...] [--json | --csv] [--with HIVE2 ...]\n"
    "       cellbrook-cli artifacts --list\n"
    "       cellbrook-cli carve IMAGE OUTDIR [--json]\n"
    "       cellbrook-cli --help | --version\n";

constexpr const char* kHelp =
    "Reads a Windows registry hive file (regf) without changing it.\n"
    "\n"
    "  keys HIVE [KEYPATH]      every key below KEYPATH (default ROOT), one path a line;\n"
    "                           --long: PATH, TAB, last written time, TAB, number of\n"
    "                           subkeys, TAB, number of values\n"
    "  keys ... --details       PATH, TAB, class name, TAB, owner SID, TAB, SDDL; with\n"
    "                           --json, each key's record as key --json writes it\n"
    "  key HIVE KEYPATH         one key's details: path, name, last written, cell, flags,\n"
    "                           class name, subkeys, volatile subkeys, values, owner,\n"
    "                           group, SDDL, security cell and how many keys share it,\n"
    "                           and its permissions; --json: one object\n"
    "  values HIVE KEYPATH      the key's values: name, TAB, type, TAB, display text\n"
    "  export HIVE KEYPATH OUTFILE [--prefix PREFIX]\n"
    "                           the key and its subtree as a registry file (UTF-16),\n"
    "                           ROOT replaced by PREFIX (default HKEY_CURRENT_USER);\n"
    "                           OUTFILE - is standard output\n"
    "  save HIVE KEYPATH VALUENAME OUTFILE\n"
    "                           the value's data bytes; VALUENAME \"\" is the unnamed value;\n"
    "                           OUTFILE - is standard output\n"
    "  find HIVE PATTERN        key names, value names and value data holding PATTERN, one\n"
    "                           match a line: key TAB PATH, value TAB KEYPATH TAB NAME,\n"
    "                           data TAB KEYPATH TAB NAME. --keys, --values, --data look\n"
    "                           only there (none given: all three). Data of REG_SZ,\n"
    "                           REG_EXPAND_SZ and REG_MULTI_SZ are searched as text.\n"
    "                           --regex: PATTERN is a regular expression (ICU syntax);\n"
    "                           --ignore-case: full Unicode case folding; --hex: PATTERN\n"
    "                           is bytes (\"de ad be ef\") looked for in every value's data;\n"
    "                           --timeout S: the regular expression's time for the whole\n"
    "                           search, in seconds (default 10; each text has its own limit\n"
    "                           too); when it runs out the search stops, says how many texts\n"
    "                           were left unsearched and exits 4;\n"
    "                           a PATTERN that starts with -- follows a -- of its own\n"
    "  timeline HIVE            every key with its last written time, newest first, as CSV\n"
    "                           (header LastWritten,Path,Subkeys,Values; fields quoted\n"
    "                           after RFC 4180; CRLF line ends); --format bodyfile: one\n"
    "                           0|PATH|CELL|0|0|0|0|0|MTIME|0|0 line a key: PATH with %, | and\n"
    "                           controls written %25, %7C, %XX; CELL the key's cell offset;\n"
    "                           MTIME in Unix seconds, 0 before 1970\n"
    "  --deleted (find, timeline) also the deleted keys and values still in the hive (see\n"
    "                           deleted): find marks their lines with a last column\n"
    "                           \"deleted\"; timeline adds a Deleted column (bodyfile: the\n"
    "                           name ends in \" %28deleted%29\")\n"
    "  --artifacts (timeline)   also one event per time of every artifact record (see\n"
    "                           artifacts), newest first with the keys: CSV adds a column\n"
    "                           Event (\"userassist: last run C:\\x.exe (4 runs)\"), a bodyfile\n"
    "                           name ends in \" (EVENT)\", JSON objects {time, path,\n"
    "                           artifact, field, event}\n"
    "  info HIVE [--json]       the base block, dirty or clean, the transaction logs found\n"
    "                           and what recovery applies or refuses (--json: one object)\n"
    "  recover HIVE OUTFILE     writes the hive with its transaction logs applied to a new\n"
    "                           file, - standard output (exit 3 when the hive is clean)\n"
    "  deleted HIVE [--json]    deleted keys and values still in the hive, one a line:\n"
    "                           key TAB PATH TAB LASTWRITTEN TAB CELL, and\n"
    "                           value TAB KEYPATH TAB NAME TAB TYPE TAB DATAHEX TAB CELL TAB NOTE\n"
    "  deleted HIVE --reg OUTFILE [--prefix PREFIX]\n"
    "                           the recovered keys whose path reaches the root, with their\n"
    "                           values, as a registry file to restore them (PREFIX as for\n"
    "                           export); stderr says what was left out\n"
    "  diff OLD NEW [KEYPATH]   what differs below KEYPATH (default ROOT), keys matched by\n"
    "                           path and values by name, ignoring case; one change a line\n"
    "                           in tree order: key+ TAB PATH, key- TAB PATH,\n"
    "                           key~ TAB PATH TAB OLDTIME TAB NEWTIME, value+ TAB PATH TAB\n"
    "                           NAME TAB TYPE, value- TAB PATH TAB NAME, value~ TAB PATH TAB\n"
    "                           NAME TAB OLDTYPE TAB NEWTYPE; a removed key's values and\n"
    "                           subkeys are not listed. Exit 0 when something differs, 3\n"
    "                           when nothing does\n"
    "  --logs (diff)            compare the one HIVE as it is with its logs applied\n"
    "  --reg OUTFILE (diff)     write instead a registry file that turns OLD into NEW when\n"
    "                           imported ([-KEY] for removed keys, \"name\"=- for removed\n"
    "                           values; PREFIX as for export)\n"
    "  history HIVE [--json]    applies the logs one entry at a time (the old format as one\n"
    "                           step): entry TAB SEQUENCE TAB LOGFILE TAB PAGES, then what\n"
    "                           that entry changed, as diff prints it after SEQUENCE TAB\n"
    "  artifacts HIVE [NAME ...] the well-known keys of the hive decoded into records\n"
    "                           (services, USB devices, UserAssist, shell bags, SAM users\n"
    "                           ...), every artifact that applies to the hive's type or\n"
    "                           the NAMEs given: per artifact a line \"# NAME\", a header\n"
    "                           line and one TAB-separated record a line (damaged records\n"
    "                           end in \"damaged\" and the error); --json: JSON Lines;\n"
    "                           --csv: RFC 4180, a header per artifact; --with HIVE2\n"
    "                           (repeatable): a SAM or SOFTWARE hive of the same machine\n"
    "                           lends account names for the SIDs in records\n"
    "  artifacts --list         every artifact: NAME, TAB, hive types, TAB, summary\n"
    "  carve IMAGE OUTDIR [--json]\n"
    "                           finds the hives in a disk image (raw or E01) and writes\n"
    "                           each to OUTDIR (created if absent) as OFFSET-NAME.hive,\n"
    "                           never replacing a file; one line a hive: offset, size,\n"
    "                           file name field, base block found or rebuilt, fragments,\n"
    "                           complete or incomplete, the file written; stderr says\n"
    "                           every choice made (exit 3 when no hive is found)\n"
    "\n"
    "A dirty hive (one whose last changes sit in its transaction logs NAME.LOG1,\n"
    "NAME.LOG2 or NAME.LOG) is read with the logs applied, in memory only; stderr says\n"
    "what was applied. The hive and its logs are never written: an OUTFILE that is one\n"
    "of them (by any name or link) is refused. Files are written whole beside OUTFILE\n"
    "and renamed over it when complete; an OUTFILE that is no regular file is refused.\n"
    "  --no-logs                read the hive file as it is\n"
    "  --log FILE               use FILE as a transaction log (repeatable) instead of\n"
    "                           looking beside the hive; one that cannot be opened: exit 2\n"
    "\n"
    "--json (keys, values, find, timeline, deleted, diff, history, carve) prints JSON Lines instead:\n"
    "one object a record, names and texts as strings, data as lowercase hex, times as\n"
    "below; with info, one JSON object on one line.\n"
    "\n"
    "KEYPATH is ROOT followed by key names separated by backslashes, e.g. ROOT\\Software;\n"
    "the escaped paths keys prints are taken back (\\\\, \\t, \\r, \\n, \\xHH inside a name).\n"
    "Times are UTC in ISO 8601 with 7 fractional digits (2019-03-05T12:34:56.1234567Z);\n"
    "a time past the year 9999 is the raw FILETIME in hex (0x01d4d3...).\n"
    "\n"
    "Every record is one line. In keys, a backslash, TAB, CR or LF inside a key name is\n"
    "written \\\\, \\t, \\r, \\n (the separators stay single backslashes). In values, TAB,\n"
    "CR and LF inside a name or text are written \\t, \\r, \\n; backslashes stay as they are.\n"
    "\n"
    "Exit status: 0 done, 1 usage error, 2 the hive cannot be read, 3 key or value not\n"
    "found or nothing matched, 4 the command failed, 5 done but damaged parts were skipped\n"
    "(stderr says what).\n";

class Command {
 public:
  Command(std::FILE* out, std::FILE* err) : out_(out), err_(err) {}

  int Fail(int code, const std::string& message) {
    std::fprintf(err_, "%s\n", message.c_str());
    return code;
  }

  void UseLogs(LogChoice logs) { logs_ = std::move(logs); }

  // Reads the hive, and applies its transaction logs when it is dirty and
  // they are usable (saying so); false after reporting the failure.
  bool Load(const std::string& path, bool applyLogs = true) {
    for (const std::string& log : logs_.named) {  // a mistyped --log is no silent "no log"
      const int fd = ::open(log.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
      struct stat st {};
      const std::string why = fd < 0                                   ? std::strerror(errno)
                              : ::fstat(fd, &st) != 0                  ? std::strerror(errno)
                              : !S_ISREG(st.st_mode)                   ? "it is not a regular file"
                                                                       : "";
      if (fd >= 0) ::close(fd);
      if (!why.empty()) {
        Fail(kExitUnreadable, "Can not open transaction log " + EscapeLineText(log) + ": " + why + ".");
        return false;
      }
    }
    const LoadOutcome outcome = OpenHiveFile(path, logs_, hive_);
    if (outcome != LoadOutcome::Loaded) {
      Fail(kExitUnreadable, LoadOutcomeText(outcome));
      return false;
    }
    if (hive_.block.size < kSectorSize) {  // not even the base block's fields
      Fail(kExitUnreadable, LoadOutcomeText(LoadOutcome::InvalidFormat));
      return false;
    }
    guard_ = EvidenceGuard::For(path, logs_.named);
    if (!applyLogs) return true;
    if (hive_.recoverable && !ApplyRecovery(hive_)) {
      std::fprintf(err_, "The transaction logs rebuilt no readable hive; the file is read as it is.\n");
      return true;
    }
    const std::string line =
        logs_.use || !hive_.report.dirty
            ? RecoverySummaryLine(hive_.report)
            : "The hive is dirty and its transaction logs were not applied (--no-logs); recent "
              "changes may be missing.";
    if (!line.empty()) std::fprintf(err_, "%s\n", line.c_str());
    if (hive_.image.Size < kBaseBlockSize) {  // a base block and no room for a bin
      Fail(kExitUnreadable, LoadOutcomeText(LoadOutcome::InvalidFormat));
      return false;
    }
    return true;
  }

  // False after saying so when `target` is the hive or one of its logs
  // ("-": whatever standard output was opened on).
  bool MayWrite(const std::string& target) {
    if (target == "-" ? !guard_.RefusesDescriptor(STDOUT_FILENO) : !guard_.Refuses(target)) return true;
    Fail(kExitFailed, kEvidenceRefusalText);
    return false;
  }

  std::optional<FoundKey> Find(const std::string& keyPath) {
    KeyLookup lookup = FindKeyByPath(hive_.image, keyPath);
    if (!lookup.found) {
      std::string message = "Key not found: " + EscapeLineText(keyPath);
      if (lookup.damaged) {
        message += " (the hive is damaged: the subkeys of " + lookup.damagedAt +
                   " could not all be read)";
      }
      Fail(kExitNotFound, message);
    }
    return std::move(lookup.found);
  }

  // Every readable part was done; says what was skipped.
  int Finish(const DamageReport& damage, std::string_view done) {
    if (std::fflush(out_) != 0) return Fail(kExitFailed, "Write failed: standard output");
    if (!damage.Any()) return kExitOk;
    return Fail(kExitDamaged, damage.Summary(done));
  }

  int Keys(const std::string& hive, const std::string& keyPath, bool longForm, bool json) {
    if (!Load(hive)) return kExitUnreadable;
    const std::optional<FoundKey> found = Find(keyPath);
    if (!found) return kExitNotFound;
    struct Lister {
      Command& command;
      bool longForm, json;
      std::vector<std::string> paths;
      bool Enter(const KeyInfo& key, uint32_t depth) {
        if (depth > 0) {
          const std::string name = KeyNameString(key);
          paths.resize(depth);
          paths.push_back(paths[depth - 1] + '\\' + EscapeKeyName(name));
          if (json) {
            char time[40];
            const size_t timeLength = FormatFileTimeTo(key.LastWritten, time);
            command.PrintLine(command.json_.Begin()
                                  .String("path", paths.back())
                                  .String("name", name)
                                  .String("last_written", std::string_view(time, timeLength))
                                  .Number("subkeys", key.SubkeyCount)
                                  .Number("values", key.ValueCount)
                                  .End());
          } else if (longForm) {
            command.PrintLine(paths.back() + '\t' + FormatFileTime(key.LastWritten) + '\t' +
                              std::to_string(key.SubkeyCount) + '\t' + std::to_string(key.ValueCount));
          } else {
            command.PrintLine(paths.back());
          }
        }
        return true;
      }
      void Leave(const KeyInfo&, uint32_t) {}
      void Missing(uint32_t) {}
    } lister{*this, longForm, json, {found->shownPath}};
    const size_t depth = found->ancestors.size();
    const uint32_t maxDepth = depth < kMaxKeyDepth ? kMaxKeyDepth - depth : 0;
    KeyWalk walk(hive_.image, found->shownPath, maxDepth, found->ancestors);
    if (walk.Run(found->key, lister) == WalkEnd::BudgetOut) {
      std::fflush(out_);
      return Fail(kExitFailed, kBudgetOutText);
    }
    return Finish(walk.Damage(), "everything readable was listed");
  }

  int Values(const std::string& hive, const std::string& keyPath, bool json) {
    if (!Load(hive)) return kExitUnreadable;
    const std::optional<FoundKey> found = Find(keyPath);
    if (!found) return kExitNotFound;
    ValueRows values = ValueRowsInListOrder(hive_.image, found->key);
    SortValueRows(values.rows, CaptionCollator());
    for (const ValueRow& row : values.rows) {
      ValueInfo value;
      if (!json) {
        std::fprintf(out_, "%s\t%s\t%s\n", EscapeLineText(row.caption).c_str(), row.typeName,
                     EscapeLineText(row.text).c_str());
      } else if (GetValueInfo(hive_.image, value, row.ref)) {
        PrintLine(ValueJson(found->shownPath, value));
      }
    }
    DamageReport damage;
    damage.AddValues(values, [&] { return found->shownPath; });
    return Finish(damage, "everything readable was listed");
  }

  int FindMatches(const std::string& hive, const SearchOptions& options, bool json, bool deleted) {
    if (!Load(hive)) return kExitUnreadable;
    if (!Find("ROOT")) return kExitNotFound;
    HiveSearch search(hive_.image, options);
    const SearchOutcome outcome = SearchHive(hive_.image, search, [&](const SearchHit& hit) {
      static const char* const kKinds[] = {"key", "value", "data"};
      const char* kind = kKinds[static_cast<int>(hit.kind)];
      if (json) {
        json_.Begin().String("match", kind);
        if (hit.kind == MatchKind::Key) {
          json_.String("path", hit.keyPath);
        } else {
          json_.String("key", hit.keyPath)
              .String("name", ValueNameString(*hit.value))
              .String("type", ValueTypeName(hit.value->Type));
        }
        PrintLine(json_.End());
      } else if (hit.kind == MatchKind::Key) {
        PrintLine(std::string(kind) + '\t' + hit.keyPath);
      } else {
        PrintLine(std::string(kind) + '\t' + hit.keyPath + '\t' +
                  EscapeLineText(ValueNameString(*hit.value)));
      }
    });
    const uint64_t recovered = deleted ? FindDeleted(search, json) : 0;
    if (std::fflush(out_) != 0) return Fail(kExitFailed, "Write failed: standard output");
    if (outcome.budgetOut) return Fail(kExitFailed, kBudgetOutText);
    if (search.TimeSpent()) {
      const std::string gaveUp = search.GaveUp() == 0 ? std::string()
                                 : "; it gave up on " + std::to_string(search.GaveUp()) +
                                       " more (too much backtracking)";
      return Fail(kExitFailed, "The regular expression's time ran out: " + std::to_string(search.Unsearched()) +
                                   " texts were left unsearched" + gaveUp +
                                   "; the matches above are not all there are (--timeout gives more time).");
    }
    if (search.GaveUp() > 0) {
      return Fail(kExitFailed, "The regular expression gave up on " + std::to_string(search.GaveUp()) +
                                   " texts (too much backtracking); they were not searched.");
    }
    if (outcome.hits + recovered == 0) {
      return Fail(kExitNotFound, outcome.damage.Any()
                                     ? outcome.damage.Summary("nothing readable matched")
                                     : std::string("Nothing matched."));
    }
    return Finish(outcome.damage, "everything readable was searched");
  }

  // Matches among the deleted records, each line marked "deleted" in a
  // column of its own; the number of matches.
  uint64_t FindDeleted(HiveSearch& search, bool json) {
    const DeletedScan scan = ScanDeletedRecords(hive_.image);
    uint64_t hits = 0;
    std::vector<uint8_t> name;
    auto print = [&](const char* kind, const std::string& path, const std::string* valueName) {
      ++hits;
      if (json) {
        json_.Begin().String("match", kind).String(valueName ? "key" : "path", path);
        if (valueName) json_.String("name", *valueName);
        PrintLine(json_.Bool("deleted", true).End());
      } else {
        PrintLine(std::string(kind) + '\t' + path + (valueName ? '\t' + EscapeLineText(*valueName) : "") +
                  "\tdeleted");
      }
    };
    if (search.LooksAtKeys()) {
      for (const DeletedKey& key : scan.keys) {
        if (search.KeyMatches(DeletedKeyInfo(key, name))) print("key", DeletedKeyPathText(scan, key), nullptr);
      }
    }
    if (search.LooksAtValues()) {
      for (const DeletedValue& value : scan.values) {
        const ValueMatch match = search.MatchValue(DeletedValueInfo(scan, value, &name));
        if (match.name) print("value", ValueOwnerPathText(scan, value), &value.name);
        if (match.data) print("data", ValueOwnerPathText(scan, value), &value.name);
      }
    }
    return hits;
  }

  int TimelineOf(const std::string& hive, const std::string& format, bool json, bool deleted,
                 bool artifacts = false) {
    if (!Load(hive)) return kExitUnreadable;
    if (!Find("ROOT")) return kExitNotFound;
    Timeline timeline = CollectTimeline(hive_.image);
    DeletedScan scan;
    if (deleted) {
      scan = ScanDeletedRecords(hive_.image);
      AddRecoveredKeys(timeline, scan);
    }
    ArtifactRun run;
    std::vector<ArtifactEvent> events;
    if (artifacts) {
      run = RunArtifacts(hive_.image);
      events = ArtifactEvents(run);
    }
    // With artifacts: an Event column last; key rows leave it empty.
    auto withEvent = [&](std::string line, const std::string& event) {
      if (!artifacts) return line;
      line.resize(line.size() - 2);  // CRLF
      return line + ',' + CsvField(event) + "\r\n";
    };
    if (!json && format == "csv") PrintText(withEvent(CsvHeader(deleted), "Event"));
    size_t next = 0;
    auto printEvent = [&](const ArtifactEvent& e) {
      if (json) {
        PrintLine(json_.Begin()
                      .String("time", FormatFileTime(e.time))
                      .String("path", e.path)
                      .String("artifact", e.artifact)
                      .String("field", e.field)
                      .String("event", e.text)
                      .End());
      } else if (format == "csv") {
        std::string line = CsvField(FormatFileTime(e.time)) + ',' + CsvField(e.path) + ",,";
        if (deleted) line += ',';
        PrintText(line + ',' + CsvField(e.text) + "\r\n");
      } else {
        TimelineEntry entry{e.time, std::string(), 0, 0};
        entry.cell = 0;
        PrintText(BodyfileRecord(entry, e.path + " (" + e.text + ")"));
      }
    };
    for (const TimelineEntry& entry : timeline.entries) {
      while (next < events.size() && events[next].time > entry.lastWritten) printEvent(events[next++]);
      const std::string path = EntryPath(timeline, entry);
      if (json) {
        char time[40];
        json_.Begin()
            .String("last_written", std::string_view(time, FormatFileTimeTo(entry.lastWritten, time)))
            .String("path", path)
            .Number("subkeys", entry.subkeys)
            .Number("values", entry.values);
        if (deleted) json_.Bool("deleted", entry.deleted);
        PrintLine(json_.End());
      } else {
        PrintText(format == "csv" ? withEvent(CsvRecord(entry, path, deleted), "") : BodyfileRecord(entry, path));
      }
    }
    while (next < events.size()) printEvent(events[next++]);
    if (timeline.budgetOut) {
      std::fflush(out_);
      return Fail(kExitFailed, kBudgetOutText);
    }
    if (run.Damaged()) {
      if (std::fflush(out_) != 0) return Fail(kExitFailed, "Write failed: standard output");
      return Fail(kExitDamaged, "The hive is damaged: " + run.DamageSummary() + "; everything readable was listed.");
    }
    return Finish(timeline.damage, "everything readable was listed");
  }

  void PrintText(std::string_view text) { std::fwrite(text.data(), 1, text.size(), out_); }
  void PrintLine(std::string_view line) {
    PrintText(line);
    std::fputc('\n', out_);
  }

  const std::string& ValueJson(const std::string& keyPath, const ValueInfo& value) {
    json_.Begin()
        .String("key", keyPath)
        .String("name", ValueNameString(value))
        .String("type", ValueTypeName(value.Type))
        .Number("type_code", value.Type)
        .Number("size", value.DataLength);
    if (!value.Data.Readable()) return json_.Null("data").Bool("damaged", true).End();
    const std::vector<uint8_t> bytes = DataBytes(value.Data);
    json_.String("data", HexDigits(bytes));
    if (ShowsAsText(value.Type)) {
      const std::u16string units = DataUnits(bytes);
      const std::vector<std::u16string_view> strings = TextStrings(units, value.Type);
      if (value.Type == RegMultiSz) {
        std::vector<std::string> list;
        for (std::u16string_view text : strings) list.push_back(Utf16ToUtf8String(text));
        json_.Strings("strings", list);
      } else {
        json_.String("text", strings.empty() ? std::string() : Utf16ToUtf8String(strings.front()));
      }
    }
    return json_.End();
  }

  int Export(const std::string& hive, const std::string& keyPath, const std::string& outFile,
             const std::string& prefix) {
    if (!Load(hive)) return kExitUnreadable;
    const std::optional<FoundKey> found = Find(keyPath);
    if (!found) return kExitNotFound;
    for (size_t i = 1; i <= found->ancestors.size(); ++i) {  // the root's own name is replaced
      KeyInfo key = found->key;
      if (i < found->ancestors.size() && !GetKeyInfo(hive_.image, key, found->ancestors[i])) continue;
      if (!RegistryTextCarriesKeyName(KeyNameString(key))) {
        return Fail(kExitFailed, "Key path cannot be written (a name holds CR, LF or a backslash, or is "
                                 "empty): " + found->shownPath);
      }
    }
    if (!MayWrite(outFile)) return kExitFailed;
    if (outFile == "-") std::fflush(out_);
    const ExportOutcome outcome = ExportKeyToFile(hive_.image, found->key.Ref,
                                                  prefix + found->path.substr(4),
                                                  found->shownPath, outFile);
    switch (outcome.status) {
      case ExportOutcome::Done: return kExitOk;
      case ExportOutcome::Damaged: return Fail(kExitDamaged, outcome.message);
      case ExportOutcome::CannotCreate:
      case ExportOutcome::Failed: break;
    }
    return Fail(kExitFailed, outcome.message);
  }

  int Save(const std::string& hive, const std::string& keyPath, const std::string& valueName,
           const std::string& outFile) {
    if (!Load(hive)) return kExitUnreadable;
    const std::optional<FoundKey> found = Find(keyPath);
    if (!found) return kExitNotFound;
    const ValueLookup value = FindValueByName(hive_.image, found->key, valueName);
    if (!value.found) {
      return Fail(kExitNotFound, "Value not found: " + EscapeLineText(valueName) +
                                     (value.damaged ? " (the hive is damaged: the values of " +
                                                          found->shownPath +
                                                          " could not all be read)"
                                                    : ""));
    }
    const SaveCheck check = CheckValueForSaving(*value.found);
    if (check != SaveCheck::Ready) return Fail(kExitFailed, SaveCheckText(check));
    if (!MayWrite(outFile)) return kExitFailed;
    if (outFile == "-") std::fflush(out_);
    const SaveOutcome outcome = SaveValueData(*value.found, outFile, true);
    if (outcome != SaveOutcome::Saved) return Fail(kExitFailed, SaveOutcomeText(outcome));
    return kExitOk;
  }

  int Info(const std::string& hive, bool json) {
    if (!Load(hive, false)) return kExitUnreadable;
    const std::string name = hive.substr(hive.find_last_of('/') + 1);
    const std::string text = json ? HiveInfoJson(name, hive_.report) + "\n"
                                  : HiveInfoText(name, hive_.report);
    std::fwrite(text.data(), 1, text.size(), out_);
    return Finish(DamageReport{}, "");
  }

  // Registry text of the recovered keys that can be restored (their path
  // reaches the root), with their values; says what it left out.
  int DeletedToReg(const DeletedScan& scan, const std::string& target, const std::string& prefix) {
    if (target == "-") std::fflush(out_);
    const ExportOutcome outcome =
        ExportRecoveredKeysToFile(scan, FullPathRecoveredTops(scan), true, prefix, target);
    uint64_t partialKeys = 0, leftValues = 0;
    for (const DeletedKey& key : scan.keys) {
      if (key.pathKind == PathKind::Partial) {
        ++partialKeys;
        leftValues += key.values.size();
      }
    }
    for (const DeletedValue& value : scan.values) leftValues += value.owner == ValueOwner::None;
    if (outcome.status == ExportOutcome::CannotCreate || outcome.status == ExportOutcome::Failed) {
      return Fail(kExitFailed, outcome.message);
    }
    std::fprintf(err_, "Left out of the registry file: %llu keys whose path does not reach the root "
                       "and %llu values no restorable key lists.\n",
                 static_cast<unsigned long long>(partialKeys), static_cast<unsigned long long>(leftValues));
    if (outcome.status == ExportOutcome::Damaged) return Fail(kExitDamaged, outcome.message);
    return Finish(DamageReport{}, "");
  }

  int Deleted(const std::string& hive, bool json, const std::string* regFile, const std::string& prefix) {
    if (!Load(hive)) return kExitUnreadable;
    if (regFile != nullptr && !MayWrite(*regFile)) return kExitFailed;
    const DeletedScan scan = ScanDeletedRecords(hive_.image);
    if (regFile != nullptr) return DeletedToReg(scan, *regFile, prefix);
    if (json) {
      for (const DeletedKey& key : scan.keys) {
        PrintLine(json_.Begin()
                      .String("record", "key")
                      .String("path", DeletedKeyPath(scan, key))
                      .Bool("path_complete", key.pathKind == PathKind::Full)
                      .String("last_written", FormatFileTime(key.lastWritten))
                      .String("cell", CellText(key.cell))
                      .End());
      }
      for (const DeletedValue& value : scan.values) {
        json_.Begin()
            .String("record", "value")
            .String("key_path", ValueOwnerPath(scan, value))
            .String("name", value.name)
            .Number("type", value.type);
        if (value.data == DataState::Unreadable) {
          json_.Null("data");
        } else {
          json_.String("data", HexText(DeletedValueData(scan, value)));
        }
        PrintLine(json_.String("cell", CellText(value.cell)).Bool("reallocated", value.reallocated).End());
      }
    } else {
      // A line at a time: the paths are built from shared nodes, never all kept.
      for (const DeletedKey& key : scan.keys) PrintLine(DeletedKeyLine(scan, key));
      for (const DeletedValue& value : scan.values) PrintLine(DeletedValueLine(scan, value));
    }
    if (std::fflush(out_) != 0) return Fail(kExitFailed, "Write failed: standard output");
    if (!scan.damage.Any()) return kExitOk;
    return Fail(kExitDamaged, "The hive is damaged: " + std::to_string(scan.damage.badBins) +
                                  " pages without a valid bin and " +
                                  std::to_string(scan.damage.badCells) +
                                  " bins with broken cells were scanned as raw bytes" +
                                  (scan.damage.budgetExhausted ? ", and the scan stopped early" : "") +
                                  "; everything readable was listed.");
  }

  int Recover(const std::string& hive, const std::string& outFile) {
    if (!Load(hive, false)) return kExitUnreadable;
    if (!hive_.report.dirty) return Fail(kExitNotFound, "The hive is clean: there is nothing to recover.");
    if (!hive_.recoverable) return Fail(kExitFailed, RecoverySummaryLine(hive_.report));
    if (!MayWrite(outFile)) return kExitFailed;
    const std::vector<uint8_t>& image = hive_.recovered;
    if (outFile == "-") std::fflush(out_);
    WholeFileWrite out(outFile, true);
    if (!out.Ready()) return Fail(kExitFailed, out.Problem());
    if (!out.Write(image.data(), image.size()) || !out.Commit()) return Fail(kExitFailed, out.Problem());
    std::fprintf(err_, "%s\n", RecoverySummaryLine(hive_.report).c_str());
    return kExitOk;
  }

 private:
  static std::string CellText(uint32_t cell) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", cell);
    return text;
  }
  static std::string HexText(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
      out += kDigits[b >> 4];
      out += kDigits[b & 0xF];
    }
    return out;
  }

  std::FILE* out_;
  std::FILE* err_;
  JsonLine json_;  // the --json record being written, its buffer reused
  OpenedHive hive_;
  LogChoice logs_;
  EvidenceGuard guard_;  // the hive and its logs, once loaded
};

}  // namespace

int RunCli(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  auto usage = [err](const char* problem) {
    std::fprintf(err, "cellbrook-cli: %s\n%s", problem, kUsage);
    return kExitUsage;
  };
  if (args.empty()) return usage("no command given");
  const std::string& command = args[0];
  if (command == "--help" || command == "-h") {
    std::fprintf(out, "%s\n%s", kUsage, kHelp);
    return kExitOk;
  }
  if (command == "--version") {
    std::fprintf(out, "%s\n", kVersion);
    return kExitOk;
  }
  if (IsKeyDetailsCommand(args)) return RunKeyDetailsCommand(args, out, err);

  if (command == "diff" || command == "history") return RunDiffCommand(args, out, err, kUsage);
  if (command == "artifacts") return RunArtifactsCommand(args, out, err);

  // Positional words and options; "--" ends the options.
  std::vector<std::string> words;
  std::set<std::string> flags;
  std::map<std::string, std::string> settings;
  LogChoice logs;
  static const std::map<std::string, std::set<std::string>> kFlags = {
      {"keys", {"--long", "--json"}},
      {"values", {"--json"}},
      {"export", {}},
      {"save", {}},
      {"find", {"--keys", "--values", "--data", "--regex", "--ignore-case", "--hex", "--json",
                 "--deleted"}},
      {"timeline", {"--json", "--deleted", "--artifacts"}},
      {"info", {"--json"}},
      {"recover", {}},
      {"deleted", {"--json"}},
      {"carve", {"--json"}},
  };
  static const std::map<std::string, std::set<std::string>> kSettings = {
      {"export", {"--prefix"}}, {"timeline", {"--format"}}, {"deleted", {"--reg", "--prefix"}},
      {"find", {"--timeout"}}};
  const auto known = kFlags.find(command);
  if (known == kFlags.end()) return usage(("unknown command: " + command).c_str());
  const auto settable = kSettings.find(command);
  bool optionsEnded = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (optionsEnded || arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
      words.push_back(arg);
    } else if (arg == "--log") {  // every command that reads a hive; repeatable
      if (i + 1 >= args.size()) return usage("--log needs a file");
      logs.named.push_back(args[++i]);
    } else if (arg == "--no-logs") {
      logs.use = false;
    } else if (settable != kSettings.end() && settable->second.count(arg)) {
      if (i + 1 >= args.size()) return usage((arg + " needs a value").c_str());
      settings[arg] = args[++i];
    } else if (known->second.count(arg)) {
      flags.insert(arg);
    } else {
      return usage(("unknown option for " + command + ": " + arg).c_str());
    }
  }
  auto flag = [&flags](const char* name) { return flags.count(name) > 0; };
  const bool json = flag("--json");
  if (!logs.use && !logs.named.empty()) return usage("--no-logs and --log exclude each other");

  if (command == "carve") {
    if (!logs.use || !logs.named.empty()) return usage("carve reads a disk image: no --log or --no-logs");
    if (words.size() != 2) return usage("wrong number of arguments");
    return RunCarve(words[0], words[1], json, out, err);
  }

  Command run(out, err);
  run.UseLogs(logs);
  if (command == "keys" && (words.size() == 1 || words.size() == 2)) {
    return run.Keys(words[0], words.size() == 2 ? words[1] : "ROOT", flag("--long"), json);
  }
  if (command == "values" && words.size() == 2) return run.Values(words[0], words[1], json);
  if (command == "export" && words.size() == 3) {
    const auto prefix = settings.find("--prefix");
    return run.Export(words[0], words[1], words[2],
                      prefix != settings.end() ? prefix->second : "HKEY_CURRENT_USER");
  }
  if (command == "save" && words.size() == 4) {
    return run.Save(words[0], words[1], words[2], words[3]);
  }
  if (command == "info" && words.size() == 1) return run.Info(words[0], json);
  if (command == "recover" && words.size() == 2) return run.Recover(words[0], words[1]);
  if (command == "deleted" && words.size() == 1) {
    const auto reg = settings.find("--reg");
    const auto prefix = settings.find("--prefix");
    if (reg == settings.end() && prefix != settings.end()) return usage("--prefix goes with --reg");
    if (reg != settings.end() && json) return usage("--json and --reg exclude each other");
    return run.Deleted(words[0], json, reg != settings.end() ? &reg->second : nullptr,
                       prefix != settings.end() ? prefix->second : "HKEY_CURRENT_USER");
  }
  if (command == "find" && words.size() == 2) {
    SearchOptions options;
    options.pattern = words[1];
    options.keys = flag("--keys");
    options.values = flag("--values");
    options.data = flag("--data");
    if (!options.keys && !options.values && !options.data) options.keys = options.values = options.data = true;
    options.regex = flag("--regex");
    options.ignoreCase = flag("--ignore-case");
    options.hex = flag("--hex");
    if (options.hex && (flag("--keys") || flag("--values") || options.regex || options.ignoreCase)) {
      return usage("--hex looks for bytes in value data only: no --keys, --values, --regex or --ignore-case");
    }
    const HiveImage none;
    if (const auto timeout = settings.find("--timeout"); timeout != settings.end()) {
      if (!options.regex) return usage("--timeout goes with --regex");
      char* end = nullptr;
      const double seconds = std::strtod(timeout->second.c_str(), &end);
      if (timeout->second.empty() || *end != '\0' || !(seconds > 0) || seconds > 1e6) {
        return usage("--timeout takes a number of seconds above 0");
      }
      options.regexSeconds = seconds;
    } else {
      options.regexSeconds = kRegexSeconds;
    }
    const HiveSearch check(none, options);
    if (!check.Error().empty()) return usage(check.Error().c_str());
    return run.FindMatches(words[0], options, json, flag("--deleted"));
  }
  if (command == "timeline" && words.size() == 1) {
    const auto format = settings.find("--format");
    const std::string chosen = format != settings.end() ? format->second : "csv";
    if (chosen != "csv" && chosen != "bodyfile") return usage("--format is csv or bodyfile");
    if (json && format != settings.end()) return usage("--json and --format exclude each other");
    return run.TimelineOf(words[0], chosen, json, flag("--deleted"), flag("--artifacts"));
  }
  return usage("wrong number of arguments");
}

}  // namespace cellbrook
