#include "present/timeline.h"

#include <algorithm>

#include "hive/filetime.h"
#include "hive/hex_text.h"
#include "hive/key_walk.h"
#include "hive/key_lookup.h"
#include "present/deleted_text.h"

namespace cellbrook {

Timeline CollectTimeline(const HiveImage& image) {
  Timeline timeline;
  KeyInfo root;
  if (!GetRootKey(image, root)) {
    timeline.noRoot = true;
    return timeline;
  }
  struct Collector {
    std::vector<TimelineEntry>& entries;
    std::vector<std::string> paths;
    bool Enter(const KeyInfo& key, uint32_t depth) {
      paths.resize(depth);
      paths.push_back(depth == 0 ? std::string("ROOT") : paths[depth - 1] + '\\' + EscapeKeyName(KeyNameString(key)));
      entries.push_back({key.LastWritten, paths.back(), key.SubkeyCount, key.ValueCount, false, key.Ref.cell});
      return true;
    }
    void Leave(const KeyInfo&, uint32_t) {}
    void Missing(uint32_t) {}
  } collector{timeline.entries, {}};
  KeyWalk walk(image, "ROOT");
  timeline.budgetOut = walk.Run(root, collector) == WalkEnd::BudgetOut;
  timeline.damage = walk.Damage();
  std::stable_sort(timeline.entries.begin(), timeline.entries.end(),
                   [](const TimelineEntry& a, const TimelineEntry& b) { return a.lastWritten > b.lastWritten; });
  return timeline;
}

void AddRecoveredKeys(Timeline& timeline, const DeletedScan& scan) {
  std::vector<uint32_t> subkeys(scan.keys.size(), 0);
  for (const DeletedKey& key : scan.keys) {
    if (!key.parentIsLive && key.parentKey < subkeys.size()) ++subkeys[key.parentKey];
  }
  for (size_t k = 0; k < scan.keys.size(); ++k) {
    const DeletedKey& key = scan.keys[k];
    timeline.entries.push_back({key.lastWritten, std::string(), subkeys[k], static_cast<uint32_t>(key.values.size()),
                                true, key.cell, static_cast<uint32_t>(k)});
  }
  timeline.scan = &scan;
  std::stable_sort(timeline.entries.begin(), timeline.entries.end(),
                   [](const TimelineEntry& a, const TimelineEntry& b) { return a.lastWritten > b.lastWritten; });
}

std::string EntryPath(const Timeline& timeline, const TimelineEntry& entry) {
  if (!entry.deleted) return entry.path;
  if (timeline.scan == nullptr || entry.deletedKey >= timeline.scan->keys.size()) return "?";
  return DeletedKeyPathText(*timeline.scan, timeline.scan->keys[entry.deletedKey]);
}

uint64_t BodyfileSeconds(uint64_t fileTime) {
  const int64_t seconds = UnixSeconds(fileTime);
  return seconds < 0 ? 0 : static_cast<uint64_t>(seconds);
}

int64_t UnixSeconds(uint64_t fileTime) {
  constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
  return static_cast<int64_t>(fileTime / 10000000) - kSecondsFrom1601To1970;
}

std::string CsvField(std::string_view text) {
  const bool plain =
      std::none_of(text.begin(), text.end(), [](char c) { return c == ',' || c == '"' || c == '\r' || c == '\n'; });
  if (plain) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string CsvHeader(bool deletedColumn) {
  return deletedColumn ? "LastWritten,Path,Subkeys,Values,Deleted\r\n" : "LastWritten,Path,Subkeys,Values\r\n";
}

std::string CsvRecord(const TimelineEntry& entry, std::string_view path, bool deletedColumn) {
  return FormatFileTime(entry.lastWritten) + ',' + CsvField(path) + ',' + std::to_string(entry.subkeys) + ',' +
         std::to_string(entry.values) + (deletedColumn ? (entry.deleted ? ",yes" : ",") : "") + "\r\n";
}

std::string BodyfileName(std::string_view path, bool deleted) {
  std::string name;
  name.reserve(path.size() + 16);
  for (char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '%' || c == '|' || byte < 0x20 || byte == 0x7F) {
      name += '%';
      AppendHexByte(name, byte, HexCase::Upper);
    } else {
      name += c;
    }
  }
  if (deleted) name += " %28deleted%29";
  return name;
}

std::string BodyfileRecord(const TimelineEntry& entry, std::string_view path) {
  return "0|" + BodyfileName(path, entry.deleted) + '|' + std::to_string(entry.cell) + "|0|0|0|0|0|" +
         std::to_string(BodyfileSeconds(entry.lastWritten)) + "|0|0\n";
}

}  // namespace cellbrook
