#include "cli/command_table.h"

#include <algorithm>
#include <cstdint>

#include "cli/commands.h"

namespace cellbrook {
namespace {

// Options many commands take alike.
const OptionRule kLog{"--log", "a file"};
const OptionRule kNoLogs{"--no-logs"};
const OptionRule kJson{"--json"};
const OptionConflict kLogsExclusive{OptionConflict::Excludes, "--no-logs", {"--log"}};

constexpr std::string_view kIntro =
    "Reads a Windows registry hive file (regf) without changing it.\n"
    "\n";

// The notes every command shares, after the commands' own help.
constexpr std::string_view kNotes =
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
    "--json (keys, values, find, timeline, deleted, diff, history, artifacts, carve) prints\n"
    "JSON Lines instead: one object a record, names and texts as strings, data as lowercase\n"
    "hex, times as below; with info and key, one JSON object on one line.\n"
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

constexpr std::string_view kUsageEnd = "--help | --version";

std::vector<CommandEntry> BuildTable() {
  // clang-format off
  return {
      {"keys", "", {"keys HIVE [KEYPATH] [--long] [--json]"},
    "  keys HIVE [KEYPATH]      every key below KEYPATH (default ROOT), one path a line;\n"
    "                           --long: PATH, TAB, last written time, TAB, number of\n"
    "                           subkeys, TAB, number of values\n",
       {{"--long"}, kJson, kLog, kNoLogs}, {kLogsExclusive}, 1, 2, RunKeysCommand},
      {"keys", "--details", {"keys HIVE [KEYPATH] --details [--json]"},
    "  keys ... --details       PATH, TAB, class name, TAB, owner SID, TAB, SDDL; with\n"
    "                           --json, each key's record as key --json writes it\n",
       {{"--details"}, kJson, kLog, kNoLogs}, {kLogsExclusive}, 1, 2, RunKeyDetailsListingCommand, true, "key details"},
      {"key", "", {"key HIVE KEYPATH [--json]"},
    "  key HIVE KEYPATH         one key's details: path, name, last written, cell, flags,\n"
    "                           class name, subkeys, volatile subkeys, values, owner,\n"
    "                           group, SDDL, security cell and how many keys share it,\n"
    "                           and its permissions; --json: one object\n",
       {kJson, kLog, kNoLogs}, {kLogsExclusive}, 2, 2, RunKeyDetailsCommand, true, "key details"},
      {"values", "", {"values HIVE KEYPATH [--json]"},
    "  values HIVE KEYPATH      the key's values: name, TAB, type, TAB, display text\n",
       {kJson, kLog, kNoLogs}, {kLogsExclusive}, 2, 2, RunValuesCommand},
      {"export", "", {"export HIVE KEYPATH OUTFILE [--prefix PREFIX]"},
    "  export HIVE KEYPATH OUTFILE [--prefix PREFIX]\n"
    "                           the key and its subtree as a registry file (UTF-16),\n"
    "                           ROOT replaced by PREFIX (default HKEY_CURRENT_USER);\n"
    "                           OUTFILE - is standard output\n",
       {{"--prefix", "a value"}, kLog, kNoLogs}, {kLogsExclusive}, 3, 3, RunExportCommand},
      {"save", "", {"save HIVE KEYPATH VALUENAME OUTFILE"},
    "  save HIVE KEYPATH VALUENAME OUTFILE\n"
    "                           the value's data bytes; VALUENAME \"\" is the unnamed value;\n"
    "                           OUTFILE - is standard output\n",
       {kLog, kNoLogs}, {kLogsExclusive}, 4, 4, RunSaveCommand},
      {"find", "",
       {"find HIVE PATTERN [--keys] [--values] [--data] [--regex]\n"
        "[--ignore-case] [--hex] [--deleted] [--timeout S] [--json]"},
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
    "                           a PATTERN that starts with -- follows a -- of its own\n",
       {{"--keys"}, {"--values"}, {"--data"}, {"--regex"}, {"--ignore-case"}, {"--hex"}, kJson, {"--deleted"},
        {"--timeout", "a value"}, kLog, kNoLogs},
       {kLogsExclusive,
        {OptionConflict::Excludes, "--hex", {"--keys", "--values", "--regex", "--ignore-case"},
         "--hex looks for bytes in value data only: no --keys, --values, --regex or --ignore-case"},
        {OptionConflict::Requires, "--timeout", {"--regex"}}},
       2, 2, RunFindCommand},
      {"timeline", "", {"timeline HIVE [--format csv|bodyfile] [--deleted] [--artifacts] [--json]"},
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
    "                           artifact, field, event}\n",
       {kJson, {"--deleted"}, {"--artifacts"}, {"--format", "a value", {"csv", "bodyfile"}}, kLog, kNoLogs},
       {kLogsExclusive, {OptionConflict::Excludes, "--json", {"--format"}}}, 1, 1, RunTimelineCommand},
      {"info", "", {"info HIVE [--json]"},
    "  info HIVE [--json]       the base block, dirty or clean, the transaction logs found\n"
    "                           and what recovery applies or refuses (--json: one object)\n",
       {kJson, kLog, kNoLogs}, {kLogsExclusive}, 1, 1, RunInfoCommand},
      {"recover", "", {"recover HIVE OUTFILE"},
    "  recover HIVE OUTFILE     writes the hive with its transaction logs applied to a new\n"
    "                           file, - standard output (exit 3 when the hive is clean)\n",
       {kLog, kNoLogs}, {kLogsExclusive}, 2, 2, RunRecoverCommand},
      {"deleted", "", {"deleted HIVE [--json | --reg OUTFILE [--prefix PREFIX]]"},
    "  deleted HIVE [--json]    deleted keys and values still in the hive, one a line:\n"
    "                           key TAB PATH TAB LASTWRITTEN TAB CELL, and\n"
    "                           value TAB KEYPATH TAB NAME TAB TYPE TAB DATAHEX TAB CELL TAB NOTE\n"
    "  deleted HIVE --reg OUTFILE [--prefix PREFIX]\n"
    "                           the recovered keys whose path reaches the root, with their\n"
    "                           values, as a registry file to restore them (PREFIX as for\n"
    "                           export); stderr says what was left out\n",
       {kJson, {"--reg", "a file"}, {"--prefix", "a value"}, kLog, kNoLogs},
       {kLogsExclusive, {OptionConflict::Requires, "--prefix", {"--reg"}},
        {OptionConflict::Excludes, "--json", {"--reg"}}},
       1, 1, RunDeletedCommand},
      {"diff", "",
       {"diff OLD NEW [KEYPATH] [--json | --reg OUTFILE [--prefix PREFIX]]",
        "diff HIVE --logs [KEYPATH] [--json | --reg OUTFILE [--prefix PREFIX]]"},
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
    "                           values; PREFIX as for export)\n",
       {kJson, kLog, kNoLogs, {"--logs"}, {"--reg", "a file"}, {"--prefix", "a value"}},
       {{OptionConflict::Requires, "--prefix", {"--reg"}}, {OptionConflict::Excludes, "--json", {"--reg"}},
        {OptionConflict::Excludes, "--logs", {"--no-logs"}},
        {OptionConflict::Requires, "--log", {"--logs"},
         "--log goes with --logs: which of the two hives would it belong to?"}},
       1, 3, RunDiffCommand},
      {"history", "", {"history HIVE [--json]"},
    "  history HIVE [--json]    applies the logs one entry at a time (the old format as one\n"
    "                           step): entry TAB SEQUENCE TAB LOGFILE TAB PAGES, then what\n"
    "                           that entry changed, as diff prints it after SEQUENCE TAB\n",
       {kJson, kLog}, {}, 1, 1, RunHistoryCommand},
      {"artifacts", "",
       {"artifacts HIVE [NAME ...] [--json | --csv] [--with HIVE2 ...]", "artifacts --list"},
    "  artifacts HIVE [NAME ...] the well-known keys of the hive decoded into records\n"
    "                           (services, USB devices, UserAssist, shell bags, SAM users\n"
    "                           ...), every artifact that applies to the hive's type or\n"
    "                           the NAMEs given: per artifact a line \"# NAME\", a header\n"
    "                           line and one TAB-separated record a line (damaged records\n"
    "                           end in \"damaged\" and the error); --json: JSON Lines;\n"
    "                           --csv: RFC 4180, a header per artifact; --with HIVE2\n"
    "                           (repeatable): a SAM or SOFTWARE hive of the same machine\n"
    "                           lends account names for the SIDs in records\n"
    "  artifacts --list         every artifact: NAME, TAB, hive types, TAB, summary\n",
       {kJson, {"--csv"}, {"--list"}, {"--with", "a file"}, kLog, kNoLogs},
       {{OptionConflict::Excludes, "--list", {"--json", "--csv", "--with"}, "--list takes nothing else"},
        {OptionConflict::Excludes, "--json", {"--csv"}}, kLogsExclusive},
       0, SIZE_MAX, RunArtifactsCommand, true, "artifacts"},
      {"carve", "", {"carve IMAGE OUTDIR [--json]"},
    "  carve IMAGE OUTDIR [--json]\n"
    "                           finds the hives in a disk image (raw or E01) and writes\n"
    "                           each to OUTDIR (created if absent) as OFFSET-NAME.hive,\n"
    "                           never replacing a file; one line a hive: offset, size,\n"
    "                           file name field, base block found or rebuilt, fragments,\n"
    "                           complete or incomplete, the file written; stderr says\n"
    "                           every choice made (exit 3 when no hive is found)\n",
       {kJson, {"--log", "a file", {}, "carve reads a disk image: no --log or --no-logs"},
        {"--no-logs", {}, {}, "carve reads a disk image: no --log or --no-logs"}},
       {}, 2, 2, RunCarveCommand},
  };
  // clang-format on
}

}  // namespace

const std::vector<CommandEntry>& CommandTable() {
  static const std::vector<CommandEntry> table = BuildTable();
  return table;
}

namespace {

// "usage: " before the first synopsis, as many spaces before the others; a
// synopsis's continuation lines start below its first word after the name.
void AppendSynopsis(std::string& out, std::string_view synopsis) {
  out += out.empty() ? "usage: " : "       ";
  out += "cellbrook-cli ";
  for (char c : synopsis) {
    out += c;
    if (c == '\n') out += "                     ";
  }
  out += '\n';
}

}  // namespace

std::string UsageText() {
  std::string out;
  for (const CommandEntry& entry : CommandTable()) {
    for (std::string_view synopsis : entry.synopses) AppendSynopsis(out, synopsis);
  }
  AppendSynopsis(out, kUsageEnd);
  return out;
}

std::string GroupUsageText(std::string_view group) {
  std::string out;
  for (const CommandEntry& entry : CommandTable()) {
    if (entry.group != group) continue;
    for (std::string_view synopsis : entry.synopses) AppendSynopsis(out, synopsis);
  }
  return out;
}

std::string HelpText() {
  std::string out = UsageText();
  out += '\n';
  out += kIntro;
  for (const CommandEntry& entry : CommandTable()) out += entry.help;
  out += kNotes;
  return out;
}

std::string EntryTitle(const CommandEntry& entry) {
  return entry.selector.empty() ? std::string(entry.name) : std::string(entry.name) + ' ' + std::string(entry.selector);
}

bool CommandCall::Flag(std::string_view name) const {
  return std::find(flags.begin(), flags.end(), name) != flags.end();
}

const std::string* CommandCall::Value(std::string_view name) const {
  const auto found = values.find(name);
  return found == values.end() || found->second.empty() ? nullptr : &found->second.back();
}

const std::vector<std::string>& CommandCall::Values(std::string_view name) const {
  static const std::vector<std::string> none;
  const auto found = values.find(name);
  return found == values.end() ? none : found->second;
}

namespace {

// An option word: "--" and two letters at least; "-" and "-x" are words.
bool IsOption(const std::string& arg) { return arg.size() >= 3 && arg.compare(0, 2, "--") == 0; }

bool Given(const CommandCall& call, std::string_view name) { return call.Flag(name) || call.values.count(name) > 0; }

}  // namespace

const CommandEntry* FindCommand(const std::vector<std::string>& args) {
  if (args.empty()) return nullptr;
  const CommandEntry* plain = nullptr;
  for (const CommandEntry& entry : CommandTable()) {
    if (entry.name != args[0]) continue;
    if (entry.selector.empty()) {
      plain = &entry;
      continue;
    }
    // The selector picks the entry only as an option, before any "--".
    for (size_t i = 1; i < args.size() && args[i] != "--"; ++i) {
      if (args[i] == entry.selector) return &entry;
    }
  }
  return plain;
}

std::string ParseCommand(const CommandEntry& entry, const std::vector<std::string>& args, CommandCall& call) {
  call.entry = &entry;
  bool optionsEnded = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (optionsEnded || !IsOption(arg)) {
      call.words.push_back(arg);
      continue;
    }
    const auto rule =
        std::find_if(entry.options.begin(), entry.options.end(), [&](const OptionRule& r) { return r.name == arg; });
    if (rule == entry.options.end()) return "unknown option for " + EntryTitle(entry) + ": " + arg;
    if (!rule->refusal.empty()) return std::string(rule->refusal);
    if (!rule->TakesValue()) {
      if (arg == "--no-logs") call.logs.use = false;
      if (!call.Flag(arg)) call.flags.push_back(arg);
      continue;
    }
    if (i + 1 >= args.size()) return arg + " needs " + std::string(rule->valueNoun);
    const std::string& value = args[++i];
    if (!rule->choices.empty() && std::find(rule->choices.begin(), rule->choices.end(), value) == rule->choices.end()) {
      std::string text = arg + " is ";
      for (size_t c = 0; c < rule->choices.size(); ++c) {
        if (c > 0) text += c + 1 == rule->choices.size() ? " or " : ", ";
        text += rule->choices[c];
      }
      return text;
    }
    if (arg == "--log") call.logs.named.push_back(value);
    call.values[arg].push_back(value);
  }
  for (const OptionConflict& conflict : entry.conflicts) {
    if (!Given(call, conflict.first)) continue;
    for (std::string_view second : conflict.seconds) {
      const bool broken = conflict.kind == OptionConflict::Excludes ? Given(call, second) : !Given(call, second);
      if (!broken) continue;
      if (!conflict.text.empty()) return std::string(conflict.text);
      return std::string(conflict.first) + (conflict.kind == OptionConflict::Excludes
                                                ? " and " + std::string(second) + " exclude each other"
                                                : " goes with " + std::string(second));
    }
  }
  if (call.words.size() < entry.minWords || call.words.size() > entry.maxWords) return "wrong number of arguments";
  return {};
}

}  // namespace cellbrook
