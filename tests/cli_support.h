// Runs cellbrook-cli in-process and captures what it prints.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace cellbrook::test {

struct CliRun {
  int code;
  std::string out, err;
};

inline CliRun RunCliCaptured(const std::vector<std::string>& args) {
  char *outBuf = nullptr, *errBuf = nullptr;
  size_t outLen = 0, errLen = 0;
  std::FILE* out = ::open_memstream(&outBuf, &outLen);
  std::FILE* err = ::open_memstream(&errBuf, &errLen);
  CliRun r;
  r.code = RunCli(args, out, err);
  std::fclose(out);
  std::fclose(err);
  r.out.assign(outBuf, outLen);
  r.err.assign(errBuf, errLen);
  std::free(outBuf);
  std::free(errBuf);
  return r;
}

}  // namespace cellbrook::test
