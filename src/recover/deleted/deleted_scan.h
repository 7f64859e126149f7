// The deleted folder: a scan of one hive image (the image shown, so a
// log-recovered one where logs applied) for old "nk" and "vk" records in the
// places nothing live uses any more: free cells, allocated cells no live
// structure references, the slack after a record's logical end, and the
// bytes after the hive bins data. It runs in phases, each handing its result
// to the next: the cell map (cell_map), the live marks (live_marks), the
// carver (record_carver), the values' data (value_data) and the record
// paths (record_paths). The records are hive/deleted_records.h, their texts
// present/deleted_text.h. No Qt; work linear in the image size.
#pragma once

#include "hive/deleted_records.h"
#include "hive/hive_reader.h"

namespace cellbrook {

// Scans the whole hive file the view shows (base block first); the result
// points into the image, which the caller keeps.
DeletedScan ScanDeletedRecords(const HiveImage& image);

}  // namespace cellbrook
