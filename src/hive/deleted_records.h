// The records a scan for deleted keys and values gives: old key and value
// records found where nothing live uses the bytes any more, their data as
// runs of the scanned image, and the paths their parent chains give. Plain
// records in the reader's terms (cell offsets, FILETIMEs, ValueInfo), for
// the code that shows, searches and exports them; the scan itself is in
// recover/deleted/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "hive/hive_reader.h"
#include "hive/image_view.h"

namespace cellbrook {

// Where a record was found.
enum class RecordPlace : uint8_t {
  FreeCell,          // inside a free cell
  UnreferencedCell,  // inside an allocated cell nothing live references
  Slack,             // after the logical end of a live record
  AfterBins,         // in the bytes after the hive bins data
  DamagedBin,        // in bytes no valid bin or cell structure covers
  Listed,            // only reached through a value list (not found by the scan)
};

// How a key's path was resolved.
enum class PathKind : uint8_t {
  Full,     // "ROOT\A\B": the parent chain reached the root key
  Partial,  // "?\A\B": the chain broke above A
};

struct DeletedKey {
  uint32_t cell = 0;          // relative offset of the record (its size field)
  std::string name;           // UTF-8, as stored (no escaping)
  uint64_t lastWritten = 0;   // FILETIME
  uint32_t parent = kNoCell;  // the record's parent offset
  // The parent's record: a live key (at `parent`) when parentIsLive, else
  // the index of a recovered key in DeletedScan::keys, or kNoCell when the
  // parent offset leads to no key node.
  uint32_t parentKey = kNoCell;
  bool parentIsLive = false;
  PathKind pathKind = PathKind::Partial;
  // Its node in DeletedScan::pathNodes: the path is built from the shared
  // parent nodes when shown (DeletedKeyPath), never kept whole a key.
  uint32_t pathNode = 0;
  std::vector<uint32_t> values;  // indexes into DeletedScan::values
  RecordPlace place = RecordPlace::FreeCell;
  bool signatureLost = false;  // signature overwritten by a free-list link
};

enum class DataState : uint8_t {
  None,        // no data (size 0)
  Readable,    // bytes from pieces [firstPiece, firstPiece + pieceCount)
  Unreadable,  // the data cell (or a big-data part) cannot be read
};

// A run of data bytes at a file offset of the image.
struct DataPiece {
  uint64_t offset = 0;
  uint32_t length = 0;
};

enum class ValueOwner : uint8_t {
  None,       // unassociated: no recovered or live key lists it
  Recovered,  // a recovered key's value list lists it
  LiveSlack,  // left past the count in a live key's value list
};

// A live key that owns deleted values (from its value list's slack).
struct LiveOwner {
  uint32_t cell = 0;
  uint32_t pathNode = 0;  // as DeletedKey's
};

// One step of a path: a key's name (pathNames[nameBegin, +nameLength])
// below its parent node. Nodes 0 and 1 stand for "ROOT" and "?"; a chain
// deeper than kMaxPathDepth keys or longer than kMaxPathBytes counts as
// broken where it passes that, so each path is at most that long.
struct PathNode {
  uint32_t parent = 0xFFFFFFFF;  // kNoCell for the two tops
  bool full = false;             // the chain reaches the root key
  uint32_t depth = 0;            // names after "ROOT" or "?"
  uint32_t bytes = 0;            // length of the path as stored
  uint64_t nameBegin = 0;
  uint32_t nameLength = 0;
};
constexpr uint32_t kPathRoot = 0, kPathUnknown = 1, kPathFirstNamed = 2;
constexpr uint32_t kMaxPathDepth = 512;
constexpr size_t kMaxPathBytes = 16384;

struct DeletedValue {
  uint32_t cell = 0;
  std::string name;  // UTF-8, as stored
  uint32_t type = 0;
  uint32_t declaredSize = 0;  // the size field without the inline bit
  DataState data = DataState::None;
  uint32_t firstPiece = 0, pieceCount = 0;
  uint32_t dataLength = 0;   // bytes the pieces give in all
  bool reallocated = false;  // the data cell is now allocated to a live record
  ValueOwner owner = ValueOwner::None;
  // Recovered: index into DeletedScan::keys; LiveSlack: into liveOwners.
  uint32_t ownerIndex = kNoCell;
  uint32_t ownerCell = kNoCell;  // the owner key's cell (live or recovered)
  RecordPlace place = RecordPlace::FreeCell;
};

// Damage met on the way: each a count, none of them fatal.
struct ScanDamage {
  uint32_t badBins = 0;               // 4 KiB pages without a valid bin header
  uint32_t badCells = 0;              // bins whose cell chain broke (rest scanned raw)
  uint32_t liveRefsBroken = 0;        // live references to no plausible cell
  uint32_t firstBrokenRef = kNoCell;  // the cell the first of them names
  uint32_t budgetExhausted = 0;       // work left undone to keep the scan linear
  // Damage that may hide deleted records. Broken live references are the
  // live reader's to report; here they only leave cells unreferenced.
  bool Any() const { return badBins || badCells || budgetExhausted; }
};

struct DeletedScan {
  std::vector<DeletedKey> keys;      // by cell offset
  std::vector<DeletedValue> values;  // by cell offset
  std::vector<DataPiece> pieces;     // data of readable values
  std::vector<LiveOwner> liveOwners;
  std::vector<PathNode> pathNodes;  // shared by every path
  std::string pathNames;            // the nodes' names, UTF-8 as stored
  ScanDamage damage;
  uint64_t binsEnd = 0;         // file offset where the scanned bins data end
  ImageView image{nullptr, 0};  // the scanned bytes: keep them alive while the scan is used
};

// The value's data bytes (empty for none or unreadable).
std::vector<uint8_t> DeletedValueData(const DeletedScan& scan, const DeletedValue& value);

// The records as the live reader gives them, for the code that shows,
// saves and searches live ones. The value's data are spans into the
// scanned image (scan.image); its name, when `name` is given, is kept
// there as UTF-16LE. The key's name is kept in `name`.
ValueInfo DeletedValueInfo(const DeletedScan& scan, const DeletedValue& value, std::vector<uint8_t>* name = nullptr);
KeyInfo DeletedKeyInfo(const DeletedKey& key, std::vector<uint8_t>& name);

}  // namespace cellbrook
