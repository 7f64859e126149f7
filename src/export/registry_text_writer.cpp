#include "export/registry_text_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "hive/key_lookup.h"
#include "hive/key_walk.h"
#include "hive/text_codec.h"

namespace cellbrook {
namespace {

constexpr std::u16string_view kHeader = u"\uFEFFWindows Registry Editor Version 5.00\r\n";
constexpr uint32_t kBytesPerLine = 25;
constexpr size_t kChunkUnits = 32768;  // a long entry goes out in pieces of this size

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// Shows CR and LF in a message as \r and \n.
std::string Printable(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else out += c;
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

class KeyWriter {
 public:
  KeyWriter(const HiveImage& image, std::string_view path, OutputSink& file, KeyWalk& walk)
      : image_(image), rootPath_(path), file_(file), walk_(walk), chunks_(file) {}

  bool Enter(const KeyInfo& key, uint32_t depth) {
    std::u16string path;
    if (depth == 0) {
      // The path's names may not hold line breaks, which would end the key
      // line, nor be empty, which would name the parent on import.
      if (HasLineBreak(rootPath_)) {
        throw ExportError("Key path cannot be written (a name holds CR or LF): " +
                          Printable(rootPath_));
      }
      if (rootPath_.empty() || rootPath_.back() == '\\' ||
          rootPath_.find("\\\\") != std::string_view::npos) {
        throw ExportError("Key path cannot be written (a name is empty): " + Printable(rootPath_));
      }
      path = Utf8ToUtf16String(rootPath_);
    } else {
      path = paths_[depth - 1];
      path.push_back(u'\\');
      const size_t nameStart = path.size();
      key.Name.AppendUnits(path);
      const std::string where = Printable(Utf16ToUtf8String(paths_[depth - 1])) + "\\" +
                                Printable(KeyNameString(key));
      if (path.find_first_of(u"\r\n\\", nameStart) != std::u16string::npos) {
        throw ExportError("Key name cannot be written (it holds CR, LF or a backslash): " + where);
      }
      if (path.size() == nameStart) {
        throw ExportError("Key name cannot be written (it is empty): " + where);
      }
    }
    paths_.resize(depth);
    paths_.push_back(std::move(path));

    file_.BeginEntry();
    entry_.assign(u"\r\n[");
    entry_ += paths_.back();
    entry_ += u"]\r\n";
    file_.WriteUnits(entry_);
    file_.EndEntry();
    ReadValues(image_, key, walk_.Budget(), values_);
    walk_.Damage().AddValues(values_, [&] { return walk_.PathAt(depth); });
    for (const ValueInfo& value : values_.values) WriteValue(value);
    return true;
  }
  void Leave(const KeyInfo&, uint32_t) {}
  void Missing(uint32_t) {}

 private:
  std::string ValueLabel(const ValueInfo& value) const {
    const std::string where = " in [" + Printable(Utf16ToUtf8String(paths_.back())) + "]";
    if (value.Name.length == 0) return "@" + where;
    return "\"" + Printable(ValueNameString(value)) + "\"" + where;
  }

  // Unreadable entries and data were counted when the list was read.
  void WriteValue(const ValueInfo& value) {
    if (!value.Ref || !value.Data.Readable()) return;
    entry_.clear();
    if (value.Name.length == 0) {
      entry_ += u"@=";
    } else {
      name_.clear();
      value.Name.AppendUnits(name_);
      if (name_.find_first_of(u"\r\n") != std::u16string::npos) {
        throw ExportError("Value name cannot be written (it holds CR or LF): " +
                          ValueLabel(value));
      }
      entry_.push_back(u'"');
      for (char16_t unit : name_) AppendEscaped(entry_, unit);
      entry_ += u"\"=";
    }
    file_.BeginEntry();
    chunks_.Put(entry_);
    if (value.Type == RegSz && QuotableString(value)) {
      WriteQuotedString(value);
    } else if (value.Type == RegDword && value.DataLength == 4) {
      uint8_t b[4];
      value.Data.CopyPrefix(b, 4);
      char digits[16];
      std::snprintf(digits, sizeof digits, "dword:%08X", ImageView::Le32(b));
      entry_.clear();
      AppendAscii(entry_, digits);
      chunks_.Put(entry_);
    } else {
      WriteHex(value);
    }
    chunks_.Put(u"\r\n");
    chunks_.Drain();
    file_.EndEntry();
  }

  // A quoted string re-imports as its units and one NUL: so the data must be
  // exactly that, with no line break inside.
  static bool QuotableString(const ValueInfo& value) {
    if (value.DataLength == 0) return true;
    if (value.DataLength % 2 != 0) return false;
    const uint32_t units = value.DataLength / 2;
    uint32_t seen = 0;
    bool ok = true;
    value.Data.ForEachPiece([&](std::span<const uint8_t> piece) {
      for (size_t i = 0; ok && i + 1 < piece.size(); i += 2, ++seen) {
        const uint16_t u = ImageView::Le16(piece.data() + i);
        const bool last = seen + 1 == units;
        if (last ? u != 0 : (u == 0 || u == u'\r' || u == u'\n')) ok = false;
      }
    });
    return ok;
  }

  void WriteQuotedString(const ValueInfo& value) {
    chunks_.Put(u"\"");
    uint32_t left = value.DataLength / 2;  // units, the final NUL included
    value.Data.ForEachPiece([&](std::span<const uint8_t> piece) {
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

  void WriteHex(const ValueInfo& value) {
    char head[24];
    if (value.Type == RegBinary) {
      std::snprintf(head, sizeof head, "hex:");
    } else {
      std::snprintf(head, sizeof head, "hex(%x):", value.Type);
    }
    entry_.clear();
    AppendAscii(entry_, head);
    chunks_.Put(entry_);
    static const char16_t kDigits[] = u"0123456789abcdef";
    static constexpr char16_t kBreak[] = u"\\\r\n  ";
    const uint32_t total = value.DataLength;
    uint32_t done = 0;
    // Filled through a pointer: hex lists are most of a file.
    value.Data.ForEachPiece([&](std::span<const uint8_t> piece) {
      for (uint8_t byte : piece) {
        char16_t* out = chunks_.Room(8);
        *out++ = kDigits[byte >> 4];
        *out++ = kDigits[byte & 0xF];
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

  const HiveImage& image_;
  std::string_view rootPath_;
  OutputSink& file_;
  KeyWalk& walk_;
  ChunkWriter chunks_;
  std::vector<std::u16string> paths_;  // the current branch's paths
  std::u16string entry_;
  std::u16string name_;
  ValueList values_;  // one key's at a time, storage reused
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

DamageReport ExportKeyText(const HiveImage& image, std::string_view path, OutputSink& file,
                           KeyRef ref, std::string_view shownPath) {
  try {
    KeyInfo key;
    if (!GetKeyInfo(image, key, ref)) {
      file.Flush();
      return {};
    }
    KeyWalk walk(image, std::string(shownPath));
    // The writer holds a chunk buffer: keep it off the stack.
    auto writer = std::make_unique<KeyWriter>(image, path, file, walk);
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

ExportOutcome ExportKeyToFile(const HiveImage& image, KeyRef key, std::string_view path,
                              std::string_view shownPath, const std::string& target) {
  const bool toStdout = target == "-";
  const int fd = toStdout ? STDOUT_FILENO
                          : ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return {ExportOutcome::CannotCreate, "Unable to create target file!"};
  ExportOutcome outcome;
  try {
    OutputSink file(fd);
    WriteRegFileHeader(file);
    const DamageReport damage = ExportKeyText(image, path, file, key, shownPath);
    if (damage.Any()) outcome = {ExportOutcome::Damaged, damage.Summary()};
  } catch (const ExportError& e) {
    outcome = {ExportOutcome::Failed, e.what()};
  }
  if (!toStdout && ::close(fd) != 0 && outcome.status != ExportOutcome::Failed) {
    outcome = {ExportOutcome::Failed, "Write failed: the file could not be closed"};
  }
  return outcome;
}

}  // namespace cellbrook
