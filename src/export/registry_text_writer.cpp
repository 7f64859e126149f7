#include "export/registry_text_writer.h"

#include <cstdio>
#include <string>
#include <vector>

#include "hive/key_lookup.h"
#include "hive/key_walk.h"
#include "hive/text_codec.h"

namespace cellbrook {
namespace {

constexpr std::u16string_view kHeader = u"\uFEFFWindows Registry Editor Version 5.00\r\n";
constexpr uint32_t kBytesPerLine = 25;

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

class KeyWriter {
 public:
  KeyWriter(const HiveImage& image, std::string_view path, OutputSink& file)
      : image_(image), rootPath_(path), file_(file) {}

  bool Enter(const KeyInfo& key, uint32_t depth) {
    std::u16string path;
    if (depth == 0) {
      std::string_view rest = rootPath_;
      // The path's names may not hold line breaks, which would end the key line.
      if (HasLineBreak(rest)) {
        throw ExportError("Key path cannot be written (a name holds CR or LF): " +
                          Printable(rest));
      }
      path = Utf8ToUtf16String(rest);
    } else {
      path = paths_[depth - 1];
      path.push_back(u'\\');
      const size_t nameStart = path.size();
      AppendNameUnits(key.Name, key.NameLength, key.NameIsLatin1, path);
      if (path.find_first_of(u"\r\n\\", nameStart) != std::u16string::npos) {
        throw ExportError("Key name cannot be written (it holds CR, LF or a backslash): " +
                          Printable(Utf16ToUtf8String(paths_[depth - 1])) + "\\" +
                          Printable(KeyNameString(key)));
      }
    }
    paths_.resize(depth);
    paths_.push_back(std::move(path));

    entry_.assign(u"\r\n[");
    entry_ += paths_.back();
    entry_ += u"]\r\n";
    file_.WriteUnits(entry_);
    for (const ValueInfo& value : ReadValues(image_, key)) WriteValue(value);
    return true;
  }
  void Leave(const KeyInfo&, uint32_t) {}
  void Missing(uint32_t) {}

 private:
  std::string ValueLabel(const ValueInfo& value) const {
    const std::string where = " in [" + Printable(Utf16ToUtf8String(paths_.back())) + "]";
    if (value.NameLength == 0) return "@" + where;
    return "\"" + Printable(ValueNameString(value)) + "\"" + where;
  }

  void WriteValue(const ValueInfo& value) {
    if (value.Node == nullptr) return;  // an unreadable slot: nothing to recreate
    entry_.clear();
    if (value.NameLength == 0) {
      entry_ += u"@=";
    } else {
      name_.clear();
      AppendNameUnits(value.Name, value.NameLength, value.NameIsLatin1, name_);
      if (name_.find_first_of(u"\r\n") != std::u16string::npos) {
        throw ExportError("Value name cannot be written (it holds CR or LF): " +
                          ValueLabel(value));
      }
      entry_.push_back(u'"');
      for (char16_t unit : name_) AppendEscaped(entry_, unit);
      entry_ += u"\"=";
    }
    if (!ValueDataInside(image_, value)) {
      throw ExportError("Value data lie outside the file: " + ValueLabel(value));
    }
    if (value.Type == 1 && QuotableString(value)) {
      AppendQuotedString(value);
    } else if (value.Type == 4 && value.DataLength == 4) {
      uint8_t b[4];
      uint32_t copied = 0;
      CopyValuePrefix(image_, value, b, 4, copied);
      char digits[9];
      std::snprintf(digits, sizeof digits, "%08X", ImageView::Le32(b));
      AppendAscii(entry_, "dword:");
      AppendAscii(entry_, digits);
    } else {
      AppendHex(value);
    }
    entry_ += u"\r\n";
    file_.WriteUnits(entry_);
  }

  // A quoted string re-imports as its units and one NUL: so the data must be
  // exactly that, with no line break inside.
  bool QuotableString(const ValueInfo& value) const {
    if (value.DataLength == 0) return true;
    if (value.DataLength % 2 != 0) return false;
    const uint32_t units = value.DataLength / 2;
    uint32_t seen = 0;
    bool ok = true;
    ForEachValuePiece(image_, value, [&](const uint8_t* bytes, uint32_t length) {
      for (uint32_t i = 0; ok && i + 1 < length; i += 2, ++seen) {
        const uint16_t u = ImageView::Le16(bytes + i);
        const bool last = seen + 1 == units;
        if (last ? u != 0 : (u == 0 || u == u'\r' || u == u'\n')) ok = false;
      }
    });
    return ok;
  }

  void AppendQuotedString(const ValueInfo& value) {
    entry_.push_back(u'"');
    uint32_t left = value.DataLength / 2;  // units, the final NUL included
    ForEachValuePiece(image_, value, [&](const uint8_t* bytes, uint32_t length) {
      for (uint32_t i = 0; i + 1 < length && left > 1; i += 2, --left) {
        AppendEscaped(entry_, static_cast<char16_t>(ImageView::Le16(bytes + i)));
      }
    });
    entry_.push_back(u'"');
  }

  void AppendHex(const ValueInfo& value) {
    if (value.Type == 3) {
      AppendAscii(entry_, "hex:");
    } else {
      char head[24];
      std::snprintf(head, sizeof head, "hex(%x):", value.Type);
      AppendAscii(entry_, head);
    }
    static const char16_t kDigits[] = u"0123456789abcdef";
    static constexpr char16_t kBreak[] = u"\\\r\n  ";
    const uint32_t total = value.DataLength;
    if (total == 0) return;
    // Sized once and filled through a pointer: hex lists are most of a file.
    const uint64_t breaks = (total - 1) / kBytesPerLine;
    const size_t start = entry_.size();
    entry_.resize(start + uint64_t{total} * 3 - 1 + breaks * 5);
    char16_t* out = entry_.data() + start;
    uint32_t done = 0;
    ForEachValuePiece(image_, value, [&](const uint8_t* bytes, uint32_t length) {
      for (uint32_t i = 0; i < length; ++i) {
        *out++ = kDigits[bytes[i] >> 4];
        *out++ = kDigits[bytes[i] & 0xF];
        if (++done == total) break;
        *out++ = u',';
        if (done % kBytesPerLine == 0) {
          for (int k = 0; k < 5; ++k) *out++ = kBreak[k];
        }
      }
    });
  }

  const HiveImage& image_;
  std::string_view rootPath_;
  OutputSink& file_;
  std::vector<std::u16string> paths_;  // the current branch's paths
  std::u16string entry_;
  std::u16string name_;
};

// After a failure the first error is the one to report.
void FlushQuietly(OutputSink& file) {
  try {
    file.Flush();
  } catch (const ExportError&) {
  }
}

}  // namespace

void WriteRegFileHeader(OutputSink& file) { file.WriteUnits(kHeader); }

void ExportKeyText(const HiveImage& image, std::string_view path, OutputSink& file,
                   const uint8_t* node) {
  try {
    KeyInfo key;
    if (GetKeyInfo(image, key, node)) {
      KeyWriter writer(image, path, file);
      if (WalkKeys(image, key, kMaxKeyDepth, writer) == WalkEnd::TooManyKeys) {
        throw ExportError("Too many keys: the hive repeats keys in its subkey indexes");
      }
    }
  } catch (const ExportError&) {
    FlushQuietly(file);  // keep every entry completed before the failure
    throw;
  } catch (const std::bad_alloc&) {
    FlushQuietly(file);
    throw ExportError("Not enough memory for the export");
  }
  file.Flush();
}

void ExportRegFile(const HiveImage& image, std::string_view path, int fd, const uint8_t* node) {
  OutputSink file(fd);
  WriteRegFileHeader(file);
  ExportKeyText(image, path, file, node);
}

}  // namespace cellbrook
