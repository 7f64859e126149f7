// cellbrook-cli: the browser's reader and writer on the command line.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace cellbrook {

// Exit codes: 0 success, 1 usage, 2 unreadable hive, 3 key or value not
// found or nothing matched, 4 the command failed on the way (export, save, listing), 5 done
// but damaged parts were skipped.
int RunCli(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace cellbrook
