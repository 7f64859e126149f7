// Second phase of the deleted scan: every cell the live structure reaches
// from the root key marked referenced, with its record's logical end, so
// that what is left (free cells, unreferenced cells, slack) can be carved.
#pragma once

#include <cstdint>
#include <vector>

#include "recover/deleted/cell_map.h"

namespace cellbrook::deleted {

// A live value list with room past its count: old entries may lie there.
struct SlackList {
  uint32_t cell;    // the list's cell index
  uint32_t listed;  // entries the count covers
  uint32_t owner;   // the live key's cell offset
};

struct LiveMarks {
  std::vector<SlackList> slackLists;
};

// Marks `map`'s cells; a reference to no plausible cell counts in
// `damage` and leaves the cell it should have named unreferenced.
LiveMarks MarkLiveCells(CellMap& map, ScanDamage& damage);

}  // namespace cellbrook::deleted
