// The key-details commands: `key HIVE KEYPATH [--json]` and
// `keys HIVE [KEYPATH] --details [--json]`.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace cellbrook {

// True when `args` ask for one of these commands.
bool IsKeyDetailsCommand(const std::vector<std::string>& args);
// Runs it; the exit status as RunCli gives it.
int RunKeyDetailsCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace cellbrook
