// Fourth phase of the deleted scan: each recovered value's data found as
// runs of the image (inline, one cell, or big-data segments), and whether
// a live record now holds the cells.
#pragma once

#include "recover/deleted/cell_map.h"

namespace cellbrook::deleted {

// Sets data, pieces and `reallocated` of every value in `out`, in order.
void ResolveValueData(const CellMap& map, ScanBudget& budget, DeletedScan& out);

}  // namespace cellbrook::deleted
