// A registry text file that turns one key tree into another when imported:
// [-KEY] for each removed key (its subtree goes with it), a section for each
// key that is added or has added, changed or removed values, "name"=- for
// removed values. Sections come in tree order, so a key is always created
// or removed before anything below it is written.
#pragma once

#include <string>
#include <string_view>

#include "compare/hive_compare.h"
#include "export/output_sink.h"
#include "export/registry_text_writer.h"

namespace cellbrook {

// `shownPath` names the start keys in damage reports ("ROOT\A"); `wholePath`
// is the start keys' path in the file (the prefix and the path after ROOT,
// UTF-8). Keys and values whose names registry text cannot carry are left
// out and counted in `leftOut` (may be null), a key with all below it, as
// the export does. Raises ExportError on a start path that cannot be
// written or a failed write; flushes `file`. Key time changes have no form
// in registry text and are not written.
CompareOutcome WriteRegistryPatch(const CompareSide& oldSide, const CompareSide& newSide, std::string_view shownPath,
                                  std::string_view wholePath, OutputSink& file, NamesLeftOut* leftOut = nullptr);

// The same into `target` ("-" is standard output) with the header, as
// ExportKeyToFile does (Damaged: what was not read or not carried);
// `compared` gets the comparison's outcome. The caller checks that the
// target is no hive being read nor one of its logs.
ExportOutcome WriteRegistryPatchFile(const CompareSide& oldSide, const CompareSide& newSide, std::string_view shownPath,
                                     std::string_view wholePath, const std::string& target, CompareOutcome& compared);

}  // namespace cellbrook
