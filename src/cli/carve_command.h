// cellbrook-cli carve IMAGE OUTDIR [--json]: every hive found in a disk
// image written to OUTDIR as OFFSET-NAME.hive, one line (or JSON object) a
// hive. The image is only read.
#pragma once

#include <cstdio>
#include <string>

namespace cellbrook {

int RunCarve(const std::string& image, const std::string& outdir, bool json, std::FILE* out, std::FILE* err);

}  // namespace cellbrook
