// The application compatibility cache: one value whose layout depends on
// the Windows version, recognised from its first bytes.
#include <cstring>

#include "artifacts/decoders.h"

namespace cellbrook {
namespace {

using Span = std::span<const uint8_t>;

constexpr uint32_t kXpSignature = 0xDEADBEEF, kVistaSignature = 0xBADC0FFE, kSevenSignature = 0xBADC0FEE;
constexpr size_t kXpHeader = 400, kXpEntry = 552, kSevenHeader = 128, kEightHeader = 128;

struct Entry {
  std::optional<std::string> path;
  uint64_t modified = 0;
  std::optional<uint64_t> fileSize, lastUpdated, insertFlags, shimFlags, dataSize;
  std::optional<bool> executed;
  std::string problem;
};

class CacheWriter {
 public:
  CacheWriter(DecodeContext& ctx, const DecodeContext::ControlSet& set, const Node& key, const ValueInfo& value,
              std::string format)
      : ctx_(ctx), set_(set), key_(key), value_(value), format_(std::move(format)) {}

  void Add(const Entry& e) {
    ArtifactRecord& r = Begin();
    r.Set("position", IntField(position_++));
    r.Set("path", e.path ? TextField(*e.path) : NullField());
    r.Set("last_modified", TimeField(e.modified));
    r.Set("executed", e.executed ? BoolField(*e.executed) : NullField());
    r.Set("file_size", OptionalInt(e.fileSize));
    r.Set("last_updated", e.lastUpdated ? TimeField(*e.lastUpdated) : NullField());
    r.Set("insert_flags", OptionalInt(e.insertFlags));
    r.Set("shim_flags", OptionalInt(e.shimFlags));
    r.Set("data_size", OptionalInt(e.dataSize));
    if (!e.problem.empty()) r.Damage(e.problem);
  }
  // One damaged record for what could not be decoded.
  void Broken(const std::string& why) { Begin().Damage(why); }
  const std::string& Format() const { return format_; }

 private:
  ArtifactRecord& Begin() {
    ArtifactRecord& r = ctx_.Add(key_, &value_);
    ctx_.SetControlSetFields(r, set_);
    r.Set("format", format_.empty() ? NullField() : TextField(format_));
    return r;
  }

  DecodeContext& ctx_;
  const DecodeContext::ControlSet& set_;
  const Node& key_;
  const ValueInfo& value_;
  std::string format_;
  uint64_t position_ = 0;
};

// A UTF-16 path of `length` bytes at `offset` of the data.
std::optional<std::string> PathAt(Span data, uint64_t offset, uint64_t length, Entry& e) {
  if (offset > data.size() || length > data.size() - offset) {
    e.problem = "entry path lies outside the data";
    return std::nullopt;
  }
  return Utf16Text(data.subspan(offset, length));
}

void DecodeFixed(Span data, CacheWriter& out, size_t header, size_t entrySize, bool wide, bool vistaFlags, bool seven) {
  const uint32_t count = Le32At(data, 4);
  const size_t room = data.size() > header ? (data.size() - header) / entrySize : 0;
  size_t n = std::min<size_t>(count, room);
  // The paths follow the entry array: no entry starts inside them.
  uint64_t pathsStart = data.size();
  for (size_t i = 0; i < n; ++i) {
    if (header + i * entrySize >= pathsStart) {
      n = i;
      break;
    }
    const Span e = data.subspan(header + i * entrySize, entrySize);
    Entry entry;
    const uint16_t length = Le16At(e, 0);
    const uint64_t offset = wide ? Le64At(e, 8) : Le32At(e, 4);
    if (offset >= header + (i + 1) * entrySize) pathsStart = std::min(pathsStart, offset);
    entry.path = PathAt(data, offset, length, entry);
    const size_t t = wide ? 16 : 8;
    entry.modified = Le64At(e, t);
    if (seven) {
      entry.insertFlags = Le32At(e, t + 8);
      entry.shimFlags = Le32At(e, t + 12);
      entry.executed = (*entry.insertFlags & 0x2) != 0;
      entry.dataSize = wide ? Le64At(e, 32) : Le32At(e, 24);
    } else if (vistaFlags) {
      entry.insertFlags = Le32At(e, t + 8);
      entry.shimFlags = Le32At(e, t + 12);
      entry.executed = (*entry.insertFlags & 0x2) != 0;
    } else {
      entry.fileSize = Le64At(e, t + 8);
    }
    out.Add(entry);
  }
  if (count > n) {
    out.Broken("the header lists " + std::to_string(count) + " entries, " + std::to_string(n) + " fit in the data");
  }
}

void DecodeXp(Span data, CacheWriter& out) {
  const uint32_t count = Le32At(data, 4);
  const size_t room = data.size() > kXpHeader ? (data.size() - kXpHeader) / kXpEntry : 0;
  const size_t n = std::min<size_t>(count, room);
  for (size_t i = 0; i < n; ++i) {
    const Span e = data.subspan(kXpHeader + i * kXpEntry, kXpEntry);
    Entry entry;
    entry.path = Utf16Text(e.first(528));
    entry.modified = Le64At(e, 528);
    entry.fileSize = Le64At(e, 536);
    entry.lastUpdated = Le64At(e, 544);
    out.Add(entry);
  }
  if (count > n) {
    out.Broken("the header lists " + std::to_string(count) + " entries, " + std::to_string(n) + " fit in the data");
  }
}

// Entries that follow each other to the end of the data.
void DecodeVariable(Span data, size_t at, const char* signature, CacheWriter& out) {
  const std::string& format = out.Format();
  while (at < data.size()) {
    if (!Fits(data, at, 12) || std::memcmp(data.data() + at, signature, 4) != 0) {
      out.Broken("entry at offset " + std::to_string(at) + " has no signature; decoding stopped");
      return;
    }
    const uint32_t size = Le32At(data, at + 8);
    if (!Fits(data, at + 12, size)) {
      out.Broken("entry at offset " + std::to_string(at) + " overruns the data; decoding stopped");
      return;
    }
    const Span rest = data.subspan(at + 12, size);
    at += 12 + size_t{size};
    Entry entry;
    const uint16_t pathSize = Le16At(rest, 0);
    size_t p = 2 + size_t{pathSize};
    if (!Fits(rest, 2, pathSize)) {
      entry.problem = "entry path overruns the entry";
      out.Add(entry);
      continue;
    }
    entry.path = Utf16Text(rest.subspan(2, pathSize));
    if (format != "10") {
      entry.insertFlags = Le32At(rest, p);
      entry.shimFlags = Le32At(rest, p + 4);
      p += 8;
      if (format == "8.1") p += 2;
    }
    if (!Fits(rest, p, 12)) {
      entry.problem = "entry too short for its time and data size";
      if (!Fits(rest, p, 0)) entry.insertFlags = entry.shimFlags = std::nullopt;
      out.Add(entry);
      continue;
    }
    entry.modified = Le64At(rest, p);
    entry.dataSize = Le32At(rest, p + 8);
    if (!Fits(rest, p + 12, *entry.dataSize)) entry.problem = "entry data overrun the entry";
    out.Add(entry);
  }
}

void DecodeCacheValue(Span data, CacheWriter& out, const std::string& format) {
  if (format == "xp") return DecodeXp(data, out);
  if (format == "2003_x86") return DecodeFixed(data, out, 8, 24, false, false, false);
  if (format == "2003_x64") return DecodeFixed(data, out, 8, 32, true, false, false);
  if (format == "vista_x86") return DecodeFixed(data, out, 8, 24, false, true, false);
  if (format == "vista_x64") return DecodeFixed(data, out, 8, 32, true, true, false);
  if (format == "7_x86") return DecodeFixed(data, out, kSevenHeader, 32, false, false, true);
  if (format == "7_x64") return DecodeFixed(data, out, kSevenHeader, 48, true, false, true);
  if (format == "8.0") return DecodeVariable(data, kEightHeader, "00ts", out);
  if (format == "8.1") return DecodeVariable(data, kEightHeader, "10ts", out);
  if (format == "10") return DecodeVariable(data, Le32At(data, 0), "10ts", out);
}

}  // namespace

// The layout of a cache value, "" when no row matches.
std::string ShimCacheFormat(std::span<const uint8_t> data) {
  const uint32_t first = Le32At(data, 0);
  auto at = [&](size_t off, const char* sig) {
    return Fits(data, off, 4) && std::memcmp(data.data() + off, sig, 4) == 0;
  };
  if (Fits(data, 0, 4) && first == kXpSignature) return "xp";
  if (Fits(data, 0, 4) && first == kSevenSignature) {
    return Fits(data, kSevenHeader + 8, 0) && Le32At(data, kSevenHeader + 4) == 0 && Le32At(data, 4) > 0 ? "7_x64"
                                                                                                         : "7_x86";
  }
  if (Fits(data, 0, 4) && first == kVistaSignature) {
    const uint32_t count = Le32At(data, 4);
    const bool wide = count > 0 && Fits(data, 8 + 8, 0) && Le32At(data, 8 + 4) == 0;
    const size_t size = wide ? 32 : 24, flagsAt = wide ? 24 : 16;
    bool vista = false;
    for (size_t i = 0; i < count && Fits(data, 8 + i * size, size); ++i) {
      if (Le32At(data, 8 + i * size + flagsAt) & 0x2) {
        vista = true;
        break;
      }
    }
    return std::string(vista ? "vista" : "2003") + (wide ? "_x64" : "_x86");
  }
  if ((first == 0x30 || first == 0x34) && at(first, "10ts")) return "10";
  if (at(kEightHeader, "00ts")) return "8.0";
  if (at(kEightHeader, "10ts")) return "8.1";
  return {};
}

void DecodeShimCache(DecodeContext& ctx) {
  for (const DecodeContext::ControlSet& set : ctx.ControlSets()) {
    for (const char* where :
         {"Control\\Session Manager\\AppCompatCache", "Control\\Session Manager\\AppCompatibility"}) {
      const Node key = ctx.Path(set.key, where);
      ValueSet v = ctx.Values(key);
      const ValueInfo* value = v.Find("AppCompatCache");
      if (value == nullptr) continue;
      std::vector<uint8_t> data;
      if (!ReadValueBytes(*value, data)) {
        CacheWriter(ctx, set, key, *value, "").Broken("the data of value AppCompatCache cannot be read");
        continue;
      }
      const std::string format = ShimCacheFormat(data);
      CacheWriter out(ctx, set, key, *value, format);
      if (format.empty()) {
        out.Broken("the cache header matches no known layout");
        continue;
      }
      DecodeCacheValue(data, out, format);
    }
  }
}

}  // namespace cellbrook
