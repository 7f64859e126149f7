// cellbrook-cli diff and history: what differs between two key trees, and
// what each transaction log entry changed.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace cellbrook {

// `args` starts with the command word ("diff" or "history"); `usageText` is
// printed after a usage error. Returns the exit status.
int RunDiffCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err, const char* usageText);

}  // namespace cellbrook
