#include "hive/deleted_records.h"

#include <algorithm>

#include "hive/text_codec.h"

namespace cellbrook {
namespace {

StoredName Utf16Name(const std::string& text, std::vector<uint8_t>& bytes) {
  bytes.clear();
  for (char16_t unit : Utf8ToUtf16String(text)) {
    bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<uint8_t>(unit >> 8));
  }
  const auto length = static_cast<uint16_t>(std::min<size_t>(bytes.size(), 0xFFFE));
  return {bytes.empty() ? nullptr : bytes.data(), length, false};
}

}  // namespace

ValueInfo DeletedValueInfo(const DeletedScan& scan, const DeletedValue& value, std::vector<uint8_t>* name) {
  ValueInfo info;
  // Its own cell: code that passes over entries without a value (search,
  // display) takes the record as a value.
  info.Ref = ValueRef{value.cell};
  info.Type = value.type;
  if (name != nullptr) info.Name = Utf16Name(value.name, *name);
  if (value.data == DataState::Unreadable) {
    info.DataLength = value.declaredSize;
    info.Data.state = ReadState::Damaged;
    return info;
  }
  if (value.data != DataState::Readable) return info;
  // The pieces the length covers, as far as they lie inside the image.
  uint32_t left = value.dataLength;
  for (uint32_t i = 0; i < value.pieceCount && left > 0; ++i) {
    if (value.firstPiece + i >= scan.pieces.size()) break;
    const DataPiece& piece = scan.pieces[value.firstPiece + i];
    const uint32_t take = std::min(piece.length, left);
    const uint8_t* p = scan.image.At(piece.offset, take);
    if (p == nullptr) break;
    if (info.Data.first.empty()) {
      info.Data.first = {p, take};
    } else {
      info.Data.more.emplace_back(p, take);
    }
    left -= take;
  }
  info.DataLength = info.Data.length = value.dataLength - left;
  if (!info.Data.first.empty()) info.Data.state = ReadState::Ok;
  return info;
}

std::vector<uint8_t> DeletedValueData(const DeletedScan& scan, const DeletedValue& value) {
  std::vector<uint8_t> bytes;
  const ValueInfo info = DeletedValueInfo(scan, value);
  bytes.reserve(info.Data.length);
  info.Data.ForEachPiece(
      [&bytes](std::span<const uint8_t> piece) { bytes.insert(bytes.end(), piece.begin(), piece.end()); });
  return bytes;
}

KeyInfo DeletedKeyInfo(const DeletedKey& key, std::vector<uint8_t>& name) {
  KeyInfo info;
  info.Name = Utf16Name(key.name, name);
  info.LastWritten = key.lastWritten;
  info.ValueCount = static_cast<uint32_t>(key.values.size());
  return info;
}

}  // namespace cellbrook
