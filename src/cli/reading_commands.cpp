// keys, values and info: the key tree, a key's values and the base block.
#include <string>
#include <vector>

#include "cli/commands.h"
#include "hive/filetime.h"
#include "hive/hex_text.h"
#include "hive/text_codec.h"
#include "present/caption_collator.h"
#include "present/data_text.h"
#include "present/value_rows.h"
#include "present/value_text.h"
#include "recover/logs/recovery_text.h"

namespace cellbrook {
namespace {

constexpr std::string_view kRoot = "ROOT";

// A value's JSON record: the data in hex, a text type's strings decoded too.
const std::string& ValueJson(JsonLine& json, const std::string& keyPath, const ValueInfo& value) {
  json.Begin()
      .String("key", keyPath)
      .String("name", ValueNameString(value))
      .String("type", ValueTypeName(value.Type))
      .Number("type_code", value.Type)
      .Number("size", value.DataLength);
  if (!value.Data.Readable()) return json.Null("data").Bool("damaged", true).End();
  const std::vector<uint8_t> bytes = DataBytes(value.Data);
  json.String("data", HexText(bytes));
  if (ShowsAsText(value.Type)) {
    const std::u16string units = DataUnits(bytes);
    const std::vector<std::u16string_view> strings = TextStrings(units, value.Type);
    if (value.Type == RegMultiSz) {
      std::vector<std::string> list;
      for (std::u16string_view text : strings) list.push_back(Utf16ToUtf8String(text));
      json.Strings("strings", list);
    } else {
      json.String("text", strings.empty() ? std::string() : Utf16ToUtf8String(strings.front()));
    }
  }
  return json.End();
}

}  // namespace

int RunKeysCommand(const CommandCall& call, CliSession& session) {
  const bool longForm = call.Flag("--long"), json = call.Flag("--json");
  if (!session.Load(call.words[0])) return kExitUnreadable;
  const std::optional<FoundKey> found = session.FindKey(call.Word(1, kRoot));
  if (!found) return kExitNotFound;
  struct Lister {
    CliSession& session;
    bool longForm, json;
    std::vector<std::string> paths;
    bool Enter(const KeyInfo& key, uint32_t depth) {
      if (depth == 0) return true;
      const std::string name = KeyNameString(key);
      paths.resize(depth);
      paths.push_back(paths[depth - 1] + '\\' + EscapeKeyName(name));
      if (json) {
        char time[40];
        const size_t timeLength = FormatFileTimeTo(key.LastWritten, time);
        session.PrintLine(session.Json()
                              .Begin()
                              .String("path", paths.back())
                              .String("name", name)
                              .String("last_written", std::string_view(time, timeLength))
                              .Number("subkeys", key.SubkeyCount)
                              .Number("values", key.ValueCount)
                              .End());
      } else if (longForm) {
        session.PrintLine(paths.back() + '\t' + FormatFileTime(key.LastWritten) + '\t' +
                          std::to_string(key.SubkeyCount) + '\t' + std::to_string(key.ValueCount));
      } else {
        session.PrintLine(paths.back());
      }
      return true;
    }
    void Leave(const KeyInfo&, uint32_t) {}
    void Missing(uint32_t) {}
  } lister{session, longForm, json, {found->shownPath}};
  DamageReport damage;
  if (!session.WalkBelow(*found, lister, damage)) return kExitFailed;
  return session.Finish(damage, "everything readable was listed");
}

int RunValuesCommand(const CommandCall& call, CliSession& session) {
  const bool json = call.Flag("--json");
  if (!session.Load(call.words[0])) return kExitUnreadable;
  const std::optional<FoundKey> found = session.FindKey(call.words[1]);
  if (!found) return kExitNotFound;
  ValueRows values = ValueRowsInListOrder(session.Image(), found->key);
  SortValueRows(values.rows, CaptionCollator());
  for (const ValueRow& row : values.rows) {
    ValueInfo value;
    if (!json) {
      std::fprintf(session.Out(), "%s\t%s\t%s\n", EscapeLineText(row.caption).c_str(), row.typeName,
                   EscapeLineText(row.text).c_str());
    } else if (GetValueInfo(session.Image(), value, row.ref)) {
      session.PrintLine(ValueJson(session.Json(), found->shownPath, value));
    }
  }
  DamageReport damage;
  damage.AddValues(values, [&] { return found->shownPath; });
  return session.Finish(damage, "everything readable was listed");
}

int RunInfoCommand(const CommandCall& call, CliSession& session) {
  const std::string& hive = call.words[0];
  if (!session.Load(hive, false)) return kExitUnreadable;
  const std::string name = hive.substr(hive.find_last_of('/') + 1);
  const std::string text = call.Flag("--json") ? HiveInfoJson(name, session.Document().Recovery()) + "\n"
                                               : HiveInfoText(name, session.Document().Recovery());
  session.PrintText(text);
  return session.Finish(DamageReport{}, "");
}

}  // namespace cellbrook
