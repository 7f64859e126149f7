#include "recover/deleted/deleted_scan.h"

#include "recover/deleted/record_paths.h"
#include "recover/deleted/value_data.h"

namespace cellbrook {

DeletedScan ScanDeletedRecords(const HiveImage& image) {
  using namespace deleted;
  DeletedScan out;
  out.image = image.View();
  out.pathNodes.push_back({kNoCell, true, 0, 4, 0, 0});   // kPathRoot: "ROOT"
  out.pathNodes.push_back({kNoCell, false, 0, 1, 0, 0});  // kPathUnknown: "?"
  CellMap map{ScanBytes(out.image)};
  if (!map.Read(out.damage)) return out;
  out.binsEnd = map.BinsEnd();
  ScanBudget budget(out.image.size(), out.damage);
  const LiveMarks marks = MarkLiveCells(map, out.damage);
  const CarvedRecords carved = CarveRecords(map, marks, budget, out);
  ResolveValueData(map, budget, out);
  ResolveRecordPaths(map, carved, budget, out);
  return out;
}

}  // namespace cellbrook
