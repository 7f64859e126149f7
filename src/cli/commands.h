// The handlers the command table names, one file a group of commands:
//   reading_commands.cpp   keys, values, info
//   key_details_command.cpp key, keys --details
//   writing_commands.cpp   export, save
//   search_commands.cpp    find, timeline
//   recovery_commands.cpp  recover, deleted
//   diff_command.cpp       diff, history
//   artifacts_command.cpp  artifacts
//   carve_command.cpp      carve
// Each gets the checked command line and the session; returns the exit status.
#pragma once

#include "cli/cli_session.h"
#include "cli/command_table.h"

namespace cellbrook {

int RunKeysCommand(const CommandCall& call, CliSession& session);
int RunValuesCommand(const CommandCall& call, CliSession& session);
int RunInfoCommand(const CommandCall& call, CliSession& session);
int RunKeyDetailsCommand(const CommandCall& call, CliSession& session);
int RunKeyDetailsListingCommand(const CommandCall& call, CliSession& session);
int RunExportCommand(const CommandCall& call, CliSession& session);
int RunSaveCommand(const CommandCall& call, CliSession& session);
int RunFindCommand(const CommandCall& call, CliSession& session);
int RunTimelineCommand(const CommandCall& call, CliSession& session);
int RunRecoverCommand(const CommandCall& call, CliSession& session);
int RunDeletedCommand(const CommandCall& call, CliSession& session);
int RunDiffCommand(const CommandCall& call, CliSession& session);
int RunHistoryCommand(const CommandCall& call, CliSession& session);
int RunArtifactsCommand(const CommandCall& call, CliSession& session);
int RunCarveCommand(const CommandCall& call, CliSession& session);

}  // namespace cellbrook
