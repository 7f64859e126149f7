// cellbrook-cli artifacts: well-known keys decoded into records.
#pragma once

#include <cstdio>
#include <string>
#include <vector>


namespace cellbrook {

// `args` starts with the word "artifacts"; returns the exit status.
int RunArtifactsCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace cellbrook
