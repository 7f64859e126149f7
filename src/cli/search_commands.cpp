// find and timeline: matches in names and data, keys by last written time.
#include <cstdlib>

#include "artifacts/artifact_run.h"
#include "artifacts/artifact_timeline.h"
#include "cli/commands.h"
#include "hive/filetime.h"
#include "hive/key_walk.h"
#include "hive/text_codec.h"
#include "present/deleted_text.h"
#include "present/hive_search.h"
#include "present/timeline.h"
#include "present/value_text.h"

namespace cellbrook {
namespace {

constexpr double kRegexSeconds = 10;  // find --regex: the whole search's time

// Matches among the deleted records, each line marked "deleted" in a
// column of its own; the number of matches.
uint64_t FindDeleted(CliSession& session, HiveSearch& search, bool json) {
  const DeletedScan& scan = session.Document().Deleted();
  JsonLine& record = session.Json();
  uint64_t hits = 0;
  std::vector<uint8_t> name;
  auto print = [&](const char* kind, const std::string& path, const std::string* valueName) {
    ++hits;
    if (json) {
      record.Begin().String("match", kind).String(valueName ? "key" : "path", path);
      if (valueName) record.String("name", *valueName);
      session.PrintLine(record.Bool("deleted", true).End());
    } else {
      session.PrintLine(std::string(kind) + '\t' + path + (valueName ? '\t' + EscapeLineText(*valueName) : "") +
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

}  // namespace

int RunFindCommand(const CommandCall& call, CliSession& session) {
  SearchOptions options;
  options.pattern = call.words[1];
  options.keys = call.Flag("--keys");
  options.values = call.Flag("--values");
  options.data = call.Flag("--data");
  if (!options.keys && !options.values && !options.data) options.keys = options.values = options.data = true;
  options.regex = call.Flag("--regex");
  options.ignoreCase = call.Flag("--ignore-case");
  options.hex = call.Flag("--hex");
  options.regexSeconds = kRegexSeconds;
  if (const std::string* timeout = call.Value("--timeout")) {
    char* end = nullptr;
    const double seconds = std::strtod(timeout->c_str(), &end);
    if (timeout->empty() || *end != '\0' || !(seconds > 0) || seconds > 1e6) {
      return session.Usage("--timeout takes a number of seconds above 0");
    }
    options.regexSeconds = seconds;
  }
  {
    const HiveImage none;
    const HiveSearch check(none, options);
    if (!check.Error().empty()) return session.Usage(check.Error());
  }
  const bool json = call.Flag("--json");
  if (!session.Load(call.words[0])) return kExitUnreadable;
  if (!session.FindKey("ROOT")) return kExitNotFound;
  JsonLine& record = session.Json();
  HiveSearch search(session.Image(), options);
  const SearchOutcome outcome = SearchHive(session.Image(), search, [&](const SearchHit& hit) {
    static const char* const kKinds[] = {"key", "value", "data"};
    const char* kind = kKinds[static_cast<int>(hit.kind)];
    if (json) {
      record.Begin().String("match", kind);
      if (hit.kind == MatchKind::Key) {
        record.String("path", hit.keyPath);
      } else {
        record.String("key", hit.keyPath)
            .String("name", ValueNameString(*hit.value))
            .String("type", ValueTypeName(hit.value->Type));
      }
      session.PrintLine(record.End());
    } else if (hit.kind == MatchKind::Key) {
      session.PrintLine(std::string(kind) + '\t' + hit.keyPath);
    } else {
      session.PrintLine(std::string(kind) + '\t' + hit.keyPath + '\t' + EscapeLineText(ValueNameString(*hit.value)));
    }
  });
  const uint64_t recovered = call.Flag("--deleted") ? FindDeleted(session, search, json) : 0;
  if (!session.Flushed()) return kExitFailed;
  if (outcome.budgetOut) return session.Fail(kExitFailed, kBudgetOutText);
  if (search.TimeSpent()) {
    const std::string gaveUp =
        search.GaveUp() == 0 ? std::string()
                             : "; it gave up on " + std::to_string(search.GaveUp()) + " more (too much backtracking)";
    return session.Fail(kExitFailed, "The regular expression's time ran out: " + std::to_string(search.Unsearched()) +
                                         " texts were left unsearched" + gaveUp +
                                         "; the matches above are not all there are (--timeout gives "
                                         "more time).");
  }
  if (search.GaveUp() > 0) {
    return session.Fail(kExitFailed, "The regular expression gave up on " + std::to_string(search.GaveUp()) +
                                         " texts (too much backtracking); they were not searched.");
  }
  if (outcome.hits + recovered == 0) {
    return session.Fail(kExitNotFound, outcome.damage.Any() ? outcome.damage.Summary("nothing readable matched")
                                                            : std::string("Nothing matched."));
  }
  return session.Finish(outcome.damage, "everything readable was searched");
}

int RunTimelineCommand(const CommandCall& call, CliSession& session) {
  const std::string* formatGiven = call.Value("--format");
  const std::string format = formatGiven != nullptr ? *formatGiven : "csv";
  const bool json = call.Flag("--json"), deleted = call.Flag("--deleted"), artifacts = call.Flag("--artifacts");
  if (!session.Load(call.words[0])) return kExitUnreadable;
  if (!session.FindKey("ROOT")) return kExitNotFound;
  JsonLine& record = session.Json();
  Timeline timeline = CollectTimeline(session.Image());
  if (deleted) AddRecoveredKeys(timeline, session.Document().Deleted());
  ArtifactRun run;
  std::vector<ArtifactEvent> events;
  if (artifacts) {
    run = RunArtifacts(session.Image());
    events = ArtifactEvents(run);
  }
  // With artifacts: an Event column last; key rows leave it empty.
  auto withEvent = [&](std::string line, const std::string& event) {
    if (!artifacts) return line;
    line.resize(line.size() - 2);  // CRLF
    return line + ',' + CsvField(event) + "\r\n";
  };
  if (!json && format == "csv") session.PrintText(withEvent(CsvHeader(deleted), "Event"));
  size_t next = 0;
  auto printEvent = [&](const ArtifactEvent& e) {
    if (json) {
      session.PrintLine(record.Begin()
                            .String("time", FormatFileTime(e.time))
                            .String("path", e.path)
                            .String("artifact", e.artifact)
                            .String("field", e.field)
                            .String("event", e.text)
                            .End());
    } else if (format == "csv") {
      std::string line = CsvField(FormatFileTime(e.time)) + ',' + CsvField(e.path) + ",,";
      if (deleted) line += ',';
      session.PrintText(line + ',' + CsvField(e.text) + "\r\n");
    } else {
      TimelineEntry entry{e.time, std::string(), 0, 0};
      entry.cell = 0;
      session.PrintText(BodyfileRecord(entry, e.path + " (" + e.text + ")"));
    }
  };
  for (const TimelineEntry& entry : timeline.entries) {
    while (next < events.size() && events[next].time > entry.lastWritten) printEvent(events[next++]);
    const std::string path = EntryPath(timeline, entry);
    if (json) {
      char time[40];
      record.Begin()
          .String("last_written", std::string_view(time, FormatFileTimeTo(entry.lastWritten, time)))
          .String("path", path)
          .Number("subkeys", entry.subkeys)
          .Number("values", entry.values);
      if (deleted) record.Bool("deleted", entry.deleted);
      session.PrintLine(record.End());
    } else {
      session.PrintText(format == "csv" ? withEvent(CsvRecord(entry, path, deleted), "") : BodyfileRecord(entry, path));
    }
  }
  while (next < events.size()) printEvent(events[next++]);
  if (timeline.budgetOut) {
    std::fflush(session.Out());
    return session.Fail(kExitFailed, kBudgetOutText);
  }
  if (run.Damaged()) {
    if (!session.Flushed()) return kExitFailed;
    return session.Fail(kExitDamaged,
                        "The hive is damaged: " + run.DamageSummary() + "; everything readable was listed.");
  }
  return session.Finish(timeline.damage, "everything readable was listed");
}

}  // namespace cellbrook
