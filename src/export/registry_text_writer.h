// Writes a key and its subtree as registry text ("Windows Registry Editor
// Version 5.00", UTF-16LE) so that importing the file recreates every value
// with its type and bytes. Failures raise ExportError; what was completed
// before the failure stays in the sink.
#pragma once

#include <string_view>

#include "export/output_sink.h"
#include "hive/hive_reader.h"

namespace cellbrook {

// The byte-order mark and the first line: 78 bytes.
void WriteRegFileHeader(OutputSink& file);

// Writes the key at `node` under `path` (root prefix and key path, UTF-8),
// its values, and every key below it. A node that is not a key writes
// nothing. Flushes `file` on every way out.
void ExportKeyText(const HiveImage& image, std::string_view path, OutputSink& file,
                   const uint8_t* node);

// A whole registry file on `fd` (not closed): the header, then the key.
void ExportRegFile(const HiveImage& image, std::string_view path, int fd, const uint8_t* node);

}  // namespace cellbrook
