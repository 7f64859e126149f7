// Texts of recovered keys and values: their paths, as stored or escaped,
// and the one line a record the command line and the window show.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hive/deleted_records.h"

namespace cellbrook {

// Names joined by '\' after "ROOT" or "?", as stored or each name escaped
// (EscapeRecordName).
std::string PathNodeText(const DeletedScan& scan, uint32_t node, bool escaped);
std::string DeletedKeyPath(const DeletedScan& scan, const DeletedKey& key);
std::string DeletedKeyPathText(const DeletedScan& scan, const DeletedKey& key);
// The owner key's path ("?" when unassociated), as stored or escaped.
std::string ValueOwnerPath(const DeletedScan& scan, const DeletedValue& value);
std::string ValueOwnerPathText(const DeletedScan& scan, const DeletedValue& value);

// Backslash, TAB, CR and LF as \\ \t \r \n, other controls as \xHH.
std::string EscapeRecordName(const std::string& name);

// One line a record, keys first, then values, each by cell offset:
//   key<TAB>PATH<TAB>LASTWRITTEN<TAB>CELL
//   value<TAB>KEYPATH<TAB>NAME<TAB>TYPE<TAB>DATAHEX<TAB>CELL<TAB>NOTE
// Names escaped; no line end.
std::string DeletedKeyLine(const DeletedScan& scan, const DeletedKey& key);
std::string DeletedValueLine(const DeletedScan& scan, const DeletedValue& value);
std::vector<std::string> DeletedRecordLines(const DeletedScan& scan);

}  // namespace cellbrook
