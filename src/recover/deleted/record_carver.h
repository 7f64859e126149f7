// Third phase of the deleted scan: old "nk" and "vk" records carved from
// the bytes nothing live uses (free cells, unreferenced cells, slack, raw
// stretches), keys put in cell order, and the values the recovered keys'
// lists and the live lists' slack still name.
#pragma once

#include <cstdint>
#include <vector>

#include "recover/deleted/live_marks.h"

namespace cellbrook::deleted {

struct CarvedRecords {
  std::vector<uint16_t> keyFlags;  // each recovered key's flags as judged, by key index
};

// Adds the keys (in cell order) and values (in order found) to `out`; the
// values' data are left for the next phase.
CarvedRecords CarveRecords(const CellMap& map, const LiveMarks& marks, ScanBudget& budget, DeletedScan& out);

}  // namespace cellbrook::deleted
