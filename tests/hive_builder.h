// Builds hive images in memory for the tests and benchmarks: keys, values,
// every subkey index kind, inline, cell and big data, UTF-16 names, and raw
// access to the bytes for planting corruptions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "hive/hive_reader.h"

namespace cellbrook::test {

enum class IndexKind { Lf, Lh, Li, Ri };
enum class NameStorage { Latin1, Utf16 };
enum class DataStorage { Auto, Inline, Cell, Big };

using Bytes = std::vector<uint8_t>;

Bytes Utf16Bytes(std::u16string_view text, bool withNul = true);

// The view on bytes that need not be a valid hive (a scan takes any).
inline HiveImage ViewOf(const Bytes& bytes) {
  return {bytes.data(), static_cast<uint32_t>(bytes.size()), bytes.data()};
}

class HiveBuilder {
 public:
  HiveBuilder();

  // A used cell with `payload` zeroed bytes after its size field; returns its
  // offset from the bins base.
  uint32_t Cell(size_t payload);

  // A key node; `name` is UTF-8, stored as Latin-1 or UTF-16.
  uint32_t Key(std::string_view name, uint32_t parent = 0xFFFFFFFF, NameStorage storage = NameStorage::Latin1);
  uint32_t KeyRawName(const Bytes& name, bool latin1, uint32_t parent = 0xFFFFFFFF);
  // A subkey index of the given kind over the keys, set on `key` with its
  // subkey count. For Ri the keys are split into leaves of `leafSize` (lf).
  uint32_t SetSubkeys(uint32_t key, const std::vector<uint32_t>& subkeys, IndexKind kind = IndexKind::Lf,
                      size_t leafSize = 64);

  uint32_t Value(std::string_view name, uint32_t type, const Bytes& data, DataStorage storage = DataStorage::Auto,
                 NameStorage nameStorage = NameStorage::Latin1);
  uint32_t SetValues(uint32_t key, const std::vector<uint32_t>& values);

  // The key's last written time (FILETIME); new keys have 0.
  void SetKeyTime(uint32_t key, uint64_t fileTime);
  void SetRoot(uint32_t key);
  void SetMinorVersion(uint32_t minor);
  void SetLastWritten(uint32_t key, uint64_t filetime);
  // A security cell ("sk") holding `descriptor`; keys name it with SetSecurity.
  uint32_t SecurityCell(const Bytes& descriptor, uint32_t references = 1);
  void SetSecurity(uint32_t key, uint32_t securityCell);
  // A class name cell of `text` (UTF-16, no NUL), set on the key with its length.
  uint32_t SetClassName(uint32_t key, std::u16string_view text);

  // Frees the cells from `cell` through the one starting at `through` as one
  // free cell, as Windows merges freed neighbours; their bytes stay.
  void Free(uint32_t cell, uint32_t through = 0xFFFFFFFF);
  // Bytes after the hive bins data (remnants of an older, larger hive).
  void AppendAfterBins(const Bytes& bytes);
  // A cell's bytes, size field included.
  Bytes CellBytes(uint32_t cell) const;

  // Raw access, offsets from the bins base (cell offsets).
  void Put8(uint32_t off, uint8_t v);
  void Put16(uint32_t off, uint16_t v);
  void Put32(uint32_t off, uint32_t v);
  uint32_t Get32(uint32_t off) const;
  size_t BinsSize() const { return bins_.size(); }

  // The whole file: base block, one bin of all cells, padded to 4 KiB.
  Bytes Image() const;

 private:
  Bytes header_;
  Bytes bins_;
  Bytes afterBins_;
};

// A small tree used by many tests:
//   ROOT (root key "ROOT-NAME")
//     Software
//       Sample     values: (default) REG_SZ "C:\Temp", Count dword 0x1A, ...
//     System
struct SampleHive {
  Bytes image;
  uint32_t root, software, sample, child, system;
};
SampleHive BuildSampleHive();

// A root listing one key `fanOut` times, which lists one leaf `fanOut`
// times: fanOut squared keys to walk from a few kilobytes.
Bytes RepeatedFanOutHive(uint32_t fanOut = 300);

// A root whose "lf" index has 2,000 entries, 1,998 of them 0, with a key of
// 50 subkeys last: 53 keys in all.
Bytes SparseIndexHive();

}  // namespace cellbrook::test

#include "hive/hive_reader.h"

namespace cellbrook::test {

// An image bound for reading; keeps its bytes alive.
struct BoundHive {
  explicit BoundHive(Bytes b) : bytes(std::move(b)) {
    AttachImage(image, bytes.data(), static_cast<uint32_t>(bytes.size()));
  }
  BoundHive(const BoundHive&) = delete;
  KeyInfo Key(uint32_t cell) const {
    KeyInfo k;
    GetKeyInfo(image, k, KeyRef{cell});
    return k;
  }
  ValueInfo Value(uint32_t cell) const {
    ValueInfo v;
    GetValueInfo(image, v, ValueRef{cell});
    return v;
  }
  Bytes bytes;
  HiveImage image;
};

}  // namespace cellbrook::test
