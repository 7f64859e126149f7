// The command line's one list of commands: each command's words, synopsis,
// help, options and handler stand once in CommandTable(); the usage, --help,
// the option checks and the dispatch are all read from it.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "recover/logs/log_choice.h"

namespace cellbrook {

class CliSession;
struct CommandCall;

using CommandHandler = int (*)(const CommandCall& call, CliSession& session);

struct OptionRule {
  std::string_view name;                       // "--json"
  std::string_view valueNoun = {};             // empty: a flag; else what follows it ("a file", "a value")
  std::vector<std::string_view> choices = {};  // the values it takes, when a few words
  std::string_view refusal = {};               // not empty: refused with this text (kept from another command)
  bool TakesValue() const { return !valueNoun.empty(); }
};

// Options that may not be given together (Excludes: `first` with any of
// `seconds`) or where `first` needs `seconds` (Requires); `text` replaces
// the usual message.
struct OptionConflict {
  enum Kind { Excludes, Requires } kind;
  std::string_view first;
  std::vector<std::string_view> seconds;
  std::string_view text = {};
};

struct CommandEntry {
  std::string_view name;                   // the word typed
  std::string_view selector;               // an option that picks this entry over the plain one ("--details")
  std::vector<std::string_view> synopses;  // after "cellbrook-cli "; '\n' continues a line
  std::string_view help;                   // its paragraphs of --help
  std::vector<OptionRule> options;
  std::vector<OptionConflict> conflicts;
  size_t minWords, maxWords;
  CommandHandler handler;
  // On a usage error: false prints the whole usage, true the synopses of
  // the entries sharing `group` only.
  bool ownUsage = false;
  std::string_view group = {};
};

// Every command, in the order the usage and --help list them.
const std::vector<CommandEntry>& CommandTable();

// The usage: every synopsis, then --help and --version.
std::string UsageText();
// The synopses of the entries in `group`, as a usage.
std::string GroupUsageText(std::string_view group);
// --help: the usage, a blank line, every entry's help and the notes shared by all.
std::string HelpText();

// A command line checked against its entry.
struct CommandCall {
  const CommandEntry* entry = nullptr;
  std::vector<std::string> words;                                       // positional, in order
  std::map<std::string, std::vector<std::string>, std::less<>> values;  // option -> values, in order
  std::vector<std::string> flags;
  LogChoice logs;

  bool Flag(std::string_view name) const;
  // The last value given, or null.
  const std::string* Value(std::string_view name) const;
  const std::vector<std::string>& Values(std::string_view name) const;
  std::string Word(size_t i, std::string_view absent) const {
    return i < words.size() ? words[i] : std::string(absent);
  }
};

// The entry for `args` (args[0] the command word), or null.
const CommandEntry* FindCommand(const std::vector<std::string>& args);
// Fills `call` from `args`; an empty string when it passes every check of
// the entry, else the problem to print with the usage.
std::string ParseCommand(const CommandEntry& entry, const std::vector<std::string>& args, CommandCall& call);
// "keys --details" or "keys": the entry as messages name it.
std::string EntryTitle(const CommandEntry& entry);

}  // namespace cellbrook
