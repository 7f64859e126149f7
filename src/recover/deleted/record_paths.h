// Last phase of the deleted scan: each recovered key's path through its
// parent chain (live and recovered keys), the live keys that own values
// from their lists' slack, and the values put in cell order.
#pragma once

#include "recover/deleted/record_carver.h"

namespace cellbrook::deleted {

void ResolveRecordPaths(const CellMap& map, const CarvedRecords& carved, ScanBudget& budget, DeletedScan& out);

}  // namespace cellbrook::deleted
