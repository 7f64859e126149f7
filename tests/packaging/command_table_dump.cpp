// Prints the command line's table for the man page and completion checks,
// a line a command word: NAME TAB its options TAB those that take a value,
// each list sorted and space-separated (refused options left out).
#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "cli/command_table.h"

int main() {
  struct Words {
    std::set<std::string> options, valued;
  };
  std::map<std::string, Words> commands;
  for (const cellbrook::CommandEntry& entry : cellbrook::CommandTable()) {
    Words& words = commands[std::string(entry.name)];
    for (const cellbrook::OptionRule& option : entry.options) {
      if (!option.refusal.empty()) continue;
      words.options.emplace(option.name);
      if (option.TakesValue()) words.valued.emplace(option.name);
    }
  }
  auto join = [](const std::set<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : " ") + name;
    return text;
  };
  for (const auto& [name, words] : commands) {
    std::printf("%s\t%s\t%s\n", name.c_str(), join(words.options).c_str(), join(words.valued).c_str());
  }
  return 0;
}
