#include "export/registry_text_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <functional>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "hive/hex_text.h"
#include "hive/key_lookup.h"
#include "hive/key_walk.h"
#include "hive/text_codec.h"
#include "export/whole_file_write.h"
#include "present/deleted_text.h"

namespace cellbrook {
namespace {

constexpr std::u16string_view kHeader = u"\uFEFFWindows Registry Editor Version 5.00\r\n";
constexpr uint32_t kBytesPerLine = 25;
constexpr size_t kChunkUnits = 32768;  // a long entry goes out in pieces of this size

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

// A key name that would end the key line, split the path, or name the
// parent on import.
bool KeyNameCarried(std::u16string_view name) {
  return !name.empty() && name.find_first_of(u"\r\n\\") == std::u16string_view::npos;
}
bool KeyNameCarried(std::string_view name) {
  return !name.empty() && name.find_first_of("\r\n\\") == std::string_view::npos;
}

void CountLeftOut(NamesLeftOut* leftOut, bool key, const std::string& at) {
  if (leftOut == nullptr) return;
  if (!leftOut->Any()) leftOut->firstAt = at;
  ++(key ? leftOut->keys : leftOut->values);
}

// Shows CR and LF in a message as \r and \n.
std::string Printable(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

void AppendAscii(std::u16string& out, std::string_view text) {
  for (char c : text) out.push_back(static_cast<char16_t>(c));
}

void AppendEscaped(std::u16string& out, char16_t unit) {
  if (unit == u'\\' || unit == u'"') out.push_back(u'\\');
  out.push_back(unit);
}

// Units gathered in a fixed buffer and handed to the file a chunk at a
// time: an entry of any size costs bounded memory.
class ChunkWriter {
 public:
  explicit ChunkWriter(OutputSink& file) : file_(file) {}
  char16_t* Room(size_t units) {
    if (used_ + units > buffer_.size()) Drain();
    return buffer_.data() + used_;
  }
  void Used(char16_t* end) { used_ = static_cast<size_t>(end - buffer_.data()); }
  void Put(std::u16string_view units) {
    for (char16_t u : units) {
      *Room(1) = u;
      ++used_;
    }
  }
  void Drain() {
    file_.WriteUnits({buffer_.data(), used_});
    used_ = 0;
  }

 private:
  OutputSink& file_;
  std::array<char16_t, kChunkUnits> buffer_;
  size_t used_ = 0;
};

// One value as the file carries it: name, type and data bytes. `unnamed`
// is the default value (written as @); `name` holds the stored units
// otherwise, which may be none before a NUL.
struct ValueEntry {
  bool unnamed = false;
  std::u16string_view name;
  uint32_t type = 0;
  const ValueData& data;  // readable
};

// Writes value entries ("name"=data and the line end), each one entry of
// the file: the one formatting of live and recovered values alike.
class ValueEntryWriter {
 public:
  explicit ValueEntryWriter(OutputSink& file) : file_(file), chunks_(file) {}

  // False, writing nothing, when the name holds CR or LF: it would end the
  // line and could start a forged one.
  bool Write(const ValueEntry& value) {
    entry_.clear();
    if (value.unnamed) {
      entry_ += u"@=";
    } else {
      if (value.name.find_first_of(u"\r\n") != std::u16string_view::npos) return false;
      entry_.push_back(u'"');
      for (char16_t unit : value.name) AppendEscaped(entry_, unit);
      entry_ += u"\"=";
    }
    file_.BeginEntry();
    chunks_.Put(entry_);
    if (value.type == RegSz && QuotableString(value.data)) {
      WriteQuotedString(value.data);
    } else if (value.type == RegDword && value.data.length == 4) {
      uint8_t b[4];
      value.data.CopyPrefix(b, 4);
      char digits[16];
      std::snprintf(digits, sizeof digits, "dword:%08X", ImageView::Le32(b));
      entry_.clear();
      AppendAscii(entry_, digits);
      chunks_.Put(entry_);
    } else {
      WriteHex(value.type, value.data);
    }
    chunks_.Put(u"\r\n");
    chunks_.Drain();
    file_.EndEntry();
    return true;
  }

  // A removed value: "name"=- (@=- for the unnamed one); false, writing
  // nothing, as Write does.
  bool WriteRemoval(bool unnamed, std::u16string_view name) {
    entry_.clear();
    if (unnamed) {
      entry_ += u"@=";
    } else {
      if (name.find_first_of(u"\r\n") != std::u16string_view::npos) return false;
      entry_.push_back(u'"');
      for (char16_t unit : name) AppendEscaped(entry_, unit);
      entry_ += u"\"=";
    }
    entry_ += u"-\r\n";
    file_.BeginEntry();
    file_.WriteUnits(entry_);
    file_.EndEntry();
    return true;
  }

 private:
  // A quoted string re-imports as its units and one NUL: so the data must be
  // exactly that, with no line break inside. No data is no NUL: hex(1):.
  static bool QuotableString(const ValueData& data) {
    if (data.length == 0) return false;
    if (data.length % 2 != 0) return false;
    const uint32_t units = data.length / 2;
    uint32_t seen = 0;
    bool ok = true;
    data.ForEachPiece([&](std::span<const uint8_t> piece) {
      for (size_t i = 0; ok && i + 1 < piece.size(); i += 2, ++seen) {
        const uint16_t u = ImageView::Le16(piece.data() + i);
        const bool last = seen + 1 == units;
        if (last ? u != 0 : (u == 0 || u == u'\r' || u == u'\n')) ok = false;
      }
    });
    return ok;
  }

  void WriteQuotedString(const ValueData& data) {
    chunks_.Put(u"\"");
    uint32_t left = data.length / 2;  // units, the final NUL included
    data.ForEachPiece([&](std::span<const uint8_t> piece) {
      for (size_t i = 0; i + 1 < piece.size() && left > 1; i += 2, --left) {
        const char16_t unit = static_cast<char16_t>(ImageView::Le16(piece.data() + i));
        char16_t* out = chunks_.Room(2);
        if (unit == u'\\' || unit == u'"') *out++ = u'\\';
        *out++ = unit;
        chunks_.Used(out);
      }
    });
    chunks_.Put(u"\"");
  }

  void WriteHex(uint32_t type, const ValueData& data) {
    char head[24];
    if (type == RegBinary) {
      std::snprintf(head, sizeof head, "hex:");
    } else {
      std::snprintf(head, sizeof head, "hex(%x):", type);
    }
    entry_.clear();
    AppendAscii(entry_, head);
    chunks_.Put(entry_);
    static constexpr char16_t kBreak[] = u"\\\r\n  ";
    const uint32_t total = data.length;
    uint32_t done = 0;
    // Filled through a pointer: hex lists are most of a file.
    data.ForEachPiece([&](std::span<const uint8_t> piece) {
      for (uint8_t byte : piece) {
        char16_t* out = chunks_.Room(8);
        out = PutHexByte(out, byte);
        if (++done == total) {
          chunks_.Used(out);
          break;
        }
        *out++ = u',';
        if (done % kBytesPerLine == 0) {
          for (int k = 0; k < 5; ++k) *out++ = kBreak[k];
        }
        chunks_.Used(out);
      }
    });
  }

  OutputSink& file_;
  ChunkWriter chunks_;
  std::u16string entry_;
};

// The key line "\r\n[path]\r\n" (removal: "\r\n[-path]\r\n") as one entry.
void WriteKeyLine(OutputSink& file, std::u16string_view path, std::u16string& scratch, bool removal = false) {
  file.BeginEntry();
  scratch.assign(removal ? u"\r\n[-" : u"\r\n[");
  scratch += path;
  scratch += u"]\r\n";
  file.WriteUnits(scratch);
  file.EndEntry();
}

// A path given whole may not hold line breaks, which would end the key
// line, nor an empty name, which would name the parent on import.
void CheckWholePath(std::string_view path) {
  if (HasLineBreak(path)) {
    throw ExportError("Key path cannot be written (a name holds CR or LF): " + Printable(path));
  }
  if (path.empty() || path.back() == '\\' || path.find("\\\\") != std::string_view::npos) {
    throw ExportError("Key path cannot be written (a name is empty): " + Printable(path));
  }
}

class KeyWriter {
 public:
  KeyWriter(const HiveImage& image, std::string_view path, OutputSink& file, KeyWalk& walk, NamesLeftOut* leftOut)
      : image_(image), rootPath_(path), file_(file), walk_(walk), values_(file), leftOut_(leftOut) {}

  bool Enter(const KeyInfo& key, uint32_t depth) {
    std::u16string path;
    if (depth == 0) {
      CheckWholePath(rootPath_);
      path = Utf8ToUtf16String(rootPath_);
    } else {
      path = paths_[depth - 1];
      path.push_back(u'\\');
      const size_t nameStart = path.size();
      key.Name.AppendUnits(path);
      if (!KeyNameCarried(std::u16string_view(path).substr(nameStart))) {
        CountLeftOut(leftOut_, true, walk_.PathAt(depth));
        return false;  // and its subtree with it
      }
    }
    paths_.resize(depth);
    paths_.push_back(std::move(path));

    WriteKeyLine(file_, paths_.back(), entry_);
    ReadValues(image_, key, walk_.Budget(), list_);
    walk_.Damage().AddValues(list_, [&] { return walk_.PathAt(depth); });
    for (const ValueInfo& value : list_.values) {
      if (!value.Ref || !value.Data.Readable()) continue;  // counted when the list was read
      name_.clear();
      value.Name.AppendUnits(name_);
      if (!values_.Write({value.Name.length == 0, name_, value.Type, value.Data})) {
        CountLeftOut(leftOut_, false, walk_.PathAt(depth));
      }
    }
    return true;
  }
  void Leave(const KeyInfo&, uint32_t) {}
  void Missing(uint32_t) {}

 private:
  const HiveImage& image_;
  std::string_view rootPath_;
  OutputSink& file_;
  KeyWalk& walk_;
  ValueEntryWriter values_;
  NamesLeftOut* leftOut_;
  std::vector<std::u16string> paths_;  // the current branch's paths
  std::u16string entry_;
  std::u16string name_;
  ValueList list_;  // one key's at a time, storage reused
};

// After a failure the first error is the one to report.
void FinishQuietly(OutputSink& file) {
  try {
    file.DiscardEntry();
    file.Flush();
  } catch (const ExportError&) {
  }
}

}  // namespace

void WriteRegFileHeader(OutputSink& file) {
  file.BeginEntry();
  file.WriteUnits(kHeader);
  file.EndEntry();
}

bool RegistryTextCarriesKeyName(std::string_view name) { return KeyNameCarried(name); }

std::string NamesLeftOut::Summary() const {
  if (!Any()) return {};
  auto count = [](uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + ' ' + (n == 1 ? one : many);
  };
  std::string text;
  if (keys > 0) text = count(keys, "key", "keys");
  if (keys > 0 && values > 0) text += " and ";
  if (values > 0) text += count(values, "value", "values");
  text += keys + values == 1 ? " could not be written: its name holds" : " could not be written: their names hold";
  return text + " characters registry text cannot carry (first at " + firstAt + "); everything else was written.";
}

DamageReport ExportKeyText(const HiveImage& image, std::string_view path, OutputSink& file, KeyRef ref,
                           std::string_view shownPath, NamesLeftOut* leftOut) {
  try {
    KeyInfo key;
    if (!GetKeyInfo(image, key, ref)) {
      file.Flush();
      return {};
    }
    KeyWalk walk(image, std::string(shownPath));
    // The writer holds a chunk buffer: keep it off the stack.
    auto writer = std::make_unique<KeyWriter>(image, path, file, walk, leftOut);
    if (walk.Run(key, *writer) == WalkEnd::BudgetOut) throw ExportError(kBudgetOutText);
    file.Flush();
    return walk.Damage();
  } catch (const ExportError&) {
    FinishQuietly(file);  // keep every entry completed before the failure
    throw;
  } catch (const std::bad_alloc&) {
    FinishQuietly(file);
    throw ExportError("Not enough memory for the export");
  }
}

ExportOutcome WriteRegistryFile(const std::string& target,
                                const std::function<DamageReport(OutputSink&, NamesLeftOut&)>& write) {
  WholeFileWrite out(target, true);
  if (!out.Ready()) return {ExportOutcome::CannotCreate, out.Problem()};
  ExportOutcome outcome;
  try {
    OutputSink file(out.Descriptor());
    WriteRegFileHeader(file);
    NamesLeftOut leftOut;
    const DamageReport damage = write(file, leftOut);
    std::string said = damage.Summary();
    if (leftOut.Any()) said += (said.empty() ? "" : "\n") + leftOut.Summary();
    if (!said.empty()) outcome = {ExportOutcome::Damaged, said};
  } catch (const ExportError& e) {
    out.Discard();  // the old file, or none, stays
    return {ExportOutcome::Failed, e.what()};
  }
  if (!out.Commit()) return {ExportOutcome::Failed, out.Problem()};
  return outcome;
}

namespace {

template <class WriteFn>
ExportOutcome ExportToFile(const std::string& target, WriteFn&& write) {
  return WriteRegistryFile(target, write);
}

// Writes recovered keys and values; the value entries are the live
// writer's.
class RecoveredWriter {
 public:
  RecoveredWriter(const DeletedScan& scan, std::string_view prefix, OutputSink& file)
      : scan_(scan),
        prefix_(prefix),
        file_(file),
        values_(file),
        subkeys_(scan.keys.size()),
        written_(scan.keys.size()) {
    for (uint32_t i = 0; i < scan.keys.size(); ++i) {
      const DeletedKey& key = scan.keys[i];
      if (!key.parentIsLive && key.parentKey < scan.keys.size() && key.pathKind == PathKind::Full) {
        subkeys_[key.parentKey].push_back(i);
      }
    }
  }

  // The key and its full-path subtree, without recursion: a hostile chain
  // is as deep as the scan let it be.
  void WriteSubtree(uint32_t top) {
    if (top >= scan_.keys.size() || scan_.keys[top].pathKind != PathKind::Full) return;
    std::vector<uint32_t> stack{top};
    while (!stack.empty()) {
      const uint32_t index = stack.back();
      stack.pop_back();
      if (written_[index]) continue;  // each key once, whatever the tops
      written_[index] = true;
      const DeletedKey& key = scan_.keys[index];
      const std::string path = DeletedKeyPath(scan_, key);
      // A name that would change the path on import leaves the key out,
      // with its subtree.
      if (!KeyNameCarried(key.name) || !PathCarried(path)) {
        CountLeftOut(&count.leftOut, true, DeletedKeyPathText(scan_, key));
        continue;
      }
      WriteKey(path, key.values);
      const std::vector<uint32_t>& below = subkeys_[index];
      for (auto it = below.rbegin(); it != below.rend(); ++it) stack.push_back(*it);
    }
  }

  // A live owner's path with a line break or an empty name cannot be a key line.
  static bool PathCarried(std::string_view path) {
    return !HasLineBreak(path) && !path.ends_with('\\') && path.find("\\\\") == std::string_view::npos;
  }

  void WriteSlackValues() {
    std::vector<std::vector<uint32_t>> byOwner(scan_.liveOwners.size());
    for (uint32_t i = 0; i < scan_.values.size(); ++i) {
      const DeletedValue& value = scan_.values[i];
      if (value.owner == ValueOwner::LiveSlack && value.ownerIndex < byOwner.size()) {
        byOwner[value.ownerIndex].push_back(i);
      }
    }
    for (size_t i = 0; i < byOwner.size(); ++i) {
      const std::string path = PathNodeText(scan_, scan_.liveOwners[i].pathNode, false);
      if (byOwner[i].empty() || !(path == "ROOT" || path.starts_with("ROOT\\"))) continue;
      if (!PathCarried(path)) {
        CountLeftOut(&count.leftOut, true, EscapeLineText(path));
        continue;
      }
      WriteKey(path, byOwner[i]);
    }
  }

  RecoveredExportCount count;

 private:
  // `path` is a recovered path: "ROOT" and the names below it.
  void WriteKey(const std::string& path, const std::vector<uint32_t>& values) {
    const std::string whole = std::string(prefix_) + path.substr(4);
    CheckWholePath(whole);
    path_ = Utf8ToUtf16String(whole);
    WriteKeyLine(file_, path_, entry_);
    ++count.keys;
    for (uint32_t v : values) {
      if (v >= scan_.values.size()) continue;
      const DeletedValue& value = scan_.values[v];
      if (value.data == DataState::Unreadable) {
        count.damage.Add(DamageKind::ValueData, 1, [&] { return path; });
        continue;
      }
      const std::vector<uint8_t> bytes = DeletedValueData(scan_, value);
      ValueData data;
      data.state = bytes.empty() ? ReadState::Empty : ReadState::Ok;
      data.length = static_cast<uint32_t>(bytes.size());
      data.first = bytes;
      name_ = Utf8ToUtf16String(value.name);
      if (values_.Write({value.name.empty(), name_, value.type, data})) {
        ++count.values;
      } else {
        CountLeftOut(&count.leftOut, false, EscapeLineText(path));
      }
    }
  }

  const DeletedScan& scan_;
  std::string_view prefix_;
  OutputSink& file_;
  ValueEntryWriter values_;
  std::vector<std::vector<uint32_t>> subkeys_;  // full-path recovered subkeys, by key
  std::vector<bool> written_;
  std::u16string path_, entry_, name_;
};

}  // namespace

ExportOutcome ExportKeyToFile(const HiveImage& image, KeyRef key, std::string_view path, std::string_view shownPath,
                              const std::string& target) {
  return ExportToFile(target, [&](OutputSink& file, NamesLeftOut& leftOut) {
    return ExportKeyText(image, path, file, key, shownPath, &leftOut);
  });
}

RecoveredExportCount ExportRecoveredKeys(const DeletedScan& scan, std::span<const uint32_t> keys, bool slackValues,
                                         std::string_view prefix, OutputSink& file) {
  try {
    // The writer holds a chunk buffer: keep it off the stack.
    CheckWholePath(prefix);
    auto writer = std::make_unique<RecoveredWriter>(scan, prefix, file);
    for (uint32_t key : keys) writer->WriteSubtree(key);
    if (slackValues) writer->WriteSlackValues();
    file.Flush();
    return std::move(writer->count);
  } catch (const ExportError&) {
    FinishQuietly(file);
    throw;
  } catch (const std::bad_alloc&) {
    FinishQuietly(file);
    throw ExportError("Not enough memory for the export");
  }
}

std::vector<uint32_t> FullPathRecoveredTops(const DeletedScan& scan) {
  std::vector<uint32_t> tops;
  for (uint32_t i = 0; i < scan.keys.size(); ++i) {
    const DeletedKey& key = scan.keys[i];
    if (key.pathKind != PathKind::Full) continue;
    const bool underRecovered =
        !key.parentIsLive && key.parentKey < scan.keys.size() && scan.keys[key.parentKey].pathKind == PathKind::Full;
    if (!underRecovered) tops.push_back(i);
  }
  return tops;
}

ExportOutcome ExportRecoveredKeysToFile(const DeletedScan& scan, std::span<const uint32_t> keys, bool slackValues,
                                        std::string_view prefix, const std::string& target) {
  return ExportToFile(target, [&](OutputSink& file, NamesLeftOut& leftOut) {
    RecoveredExportCount count = ExportRecoveredKeys(scan, keys, slackValues, prefix, file);
    leftOut = std::move(count.leftOut);
    return count.damage;
  });
}

struct RegTextEntries::Impl {
  explicit Impl(OutputSink& f) : file(f), values(f) {}
  OutputSink& file;
  ValueEntryWriter values;
  std::u16string scratch;
};

RegTextEntries::RegTextEntries(OutputSink& file) : impl_(std::make_unique<Impl>(file)) {}
RegTextEntries::~RegTextEntries() = default;

void RegTextEntries::Key(std::u16string_view path) { WriteKeyLine(impl_->file, path, impl_->scratch); }
void RegTextEntries::RemovedKey(std::u16string_view path) { WriteKeyLine(impl_->file, path, impl_->scratch, true); }
bool RegTextEntries::Value(bool unnamed, std::u16string_view name, uint32_t type, const ValueData& data) {
  return impl_->values.Write({unnamed, name, type, data});
}
bool RegTextEntries::RemovedValue(bool unnamed, std::u16string_view name) {
  return impl_->values.WriteRemoval(unnamed, name);
}
bool RegTextEntries::CarriesKeyName(std::u16string_view name) { return KeyNameCarried(name); }
void RegTextEntries::CheckPath(std::string_view path) { CheckWholePath(path); }
void RegTextEntries::Finish() { impl_->file.Flush(); }
void RegTextEntries::FinishAfterFailure() { FinishQuietly(impl_->file); }

}  // namespace cellbrook
