#include "recover/deleted/value_data.h"

#include <algorithm>
#include <unordered_map>

namespace cellbrook::deleted {
namespace {

class DataReader {
 public:
  DataReader(const CellMap& map, ScanBudget& budget, DeletedScan& out)
      : map_(map), bytes_(map.Bytes()), budget_(budget), out_(out) {}

  void Run() {
    for (DeletedValue& value : out_.values) ReadData(kBase + value.cell, value);
  }

 private:
  struct BigBlock {
    uint32_t first = 0, count = 0;
    uint64_t total = 0;
    bool broken = false, reallocated = false;
  };

  void ReadData(uint64_t at, DeletedValue& value) {
    const uint32_t size = bytes_.U32(at + value_field::DataSize);
    const uint32_t length = size & ~value_field::SizeInline;
    if (length == 0) return;
    if (size & value_field::SizeInline) {
      AddPiece(value, {at + value_field::Data, length});
      return;
    }
    const uint32_t rel = bytes_.U32(at + value_field::Data);
    const uint32_t cellSize = map_.PlausibleCellSize(rel);
    if (cellSize == 0) {
      value.data = DataState::Unreadable;
      return;
    }
    value.reallocated = map_.IsLive(rel);
    if (length > big_data_field::SegmentBytes && map_.Minor() >= big_data_field::MinorVersion &&
        bytes_.U16(kBase + rel + big_data_field::Signature) == big_data_field::SignatureValue) {
      ReadBigData(rel, length, value);
      return;
    }
    AddPiece(value, {kBase + rel + cell_field::Data, std::min(length, cellSize - cell_field::Data)});
  }

  void AddPiece(DeletedValue& value, DataPiece piece) {
    value.data = DataState::Readable;
    value.firstPiece = static_cast<uint32_t>(out_.pieces.size());
    value.pieceCount = 1;
    value.dataLength = piece.length;
    out_.pieces.push_back(piece);
  }

  // A "db" cell's segments once, however many values name it.
  const BigBlock& BigDataBlock(uint32_t db) {
    auto [it, added] = bigBlocks_.try_emplace(db);
    BigBlock& block = it->second;
    if (!added) return block;
    block.first = static_cast<uint32_t>(out_.pieces.size());
    block.reallocated = map_.IsLive(db);
    const uint32_t segments = bytes_.U16(kBase + db + big_data_field::SegmentCount);
    const uint32_t list = bytes_.U32(kBase + db + big_data_field::SegmentList);
    const uint32_t listSize = map_.PlausibleCellSize(list);
    if (listSize == 0) {
      block.broken = true;
      return block;
    }
    block.reallocated = block.reallocated || map_.IsLive(list);
    const uint32_t n = std::min<uint32_t>(segments, (listSize - list_field::Entries) / list_field::EntrySize);
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t seg = bytes_.U32(kBase + list + list_field::Entries + uint64_t{list_field::EntrySize} * i);
      const uint32_t segSize = map_.PlausibleCellSize(seg);
      if (segSize == 0) {
        block.broken = true;
        break;
      }
      block.reallocated = block.reallocated || map_.IsLive(seg);
      const uint32_t length = std::min(big_data_field::SegmentBytes, segSize - cell_field::Data);
      out_.pieces.push_back({kBase + seg + cell_field::Data, length});
      block.total += length;
      ++block.count;
    }
    return block;
  }

  void ReadBigData(uint32_t db, uint32_t length, DeletedValue& value) {
    const BigBlock& block = BigDataBlock(db);
    value.reallocated = block.reallocated;
    if (block.total < length && block.broken) {
      value.data = DataState::Unreadable;
      return;
    }
    // The pieces the value's length needs.
    uint64_t have = 0;
    uint32_t count = 0;
    while (count < block.count && have < length && budget_.Spend()) have += out_.pieces[block.first + count++].length;
    value.data = DataState::Readable;
    value.firstPiece = block.first;
    value.pieceCount = count;
    value.dataLength = static_cast<uint32_t>(std::min<uint64_t>(have, length));
  }

  const CellMap& map_;
  const ScanBytes& bytes_;
  ScanBudget& budget_;
  DeletedScan& out_;
  std::unordered_map<uint32_t, BigBlock> bigBlocks_;
};

}  // namespace

void ResolveValueData(const CellMap& map, ScanBudget& budget, DeletedScan& out) { DataReader(map, budget, out).Run(); }

}  // namespace cellbrook::deleted
