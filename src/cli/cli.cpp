// cellbrook-cli: the browser's reader and writer on the command line.
//
// How this folder is laid out:
//   command_table.{h,cpp}  every command once: words, synopsis, help, options,
//                          conflicts, handler; the usage, --help and the option
//                          checks are read from it
//   cli.cpp                RunCli: --help, --version, the checks, the dispatch
//   cli_session.{h,cpp}    what all commands share: exit statuses, the hive
//                          loaded with its logs, key lookup, printing, the
//                          evidence check before writing
//   commands.h             the handlers, one file a group (listed there)
#include "cli/cli.h"

#include "cli/cli_session.h"
#include "cli/command_table.h"

namespace cellbrook {
namespace {

constexpr const char* kVersion = "cellbrook-cli 1.0";

}  // namespace

int RunCli(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  if (args.empty()) return PrintUsageError(nullptr, "no command given", err);
  const std::string& command = args[0];
  if (command == "--help" || command == "-h") {
    const std::string help = HelpText();
    std::fwrite(help.data(), 1, help.size(), out);
    return kExitOk;
  }
  if (command == "--version") {
    std::fprintf(out, "%s\n", kVersion);
    return kExitOk;
  }
  const CommandEntry* entry = FindCommand(args);
  if (entry == nullptr) return PrintUsageError(nullptr, "unknown command: " + command, err);
  CommandCall call;
  const std::string problem = ParseCommand(*entry, args, call);
  if (!problem.empty()) return PrintUsageError(entry, problem, err);
  CliSession session(out, err, call);
  return entry->handler(call, session);
}

}  // namespace cellbrook
