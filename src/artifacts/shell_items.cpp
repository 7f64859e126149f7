#include "artifacts/shell_items.h"

#include <algorithm>
#include <cstring>

#include "artifacts/decode_context.h"
#include "hive/text_codec.h"

namespace cellbrook {
namespace {

using Span = std::span<const uint8_t>;

constexpr uint8_t kDelegateGuid[16] = {0x74, 0x1a, 0x59, 0x5e, 0x96, 0xdf, 0xd3, 0x48,
                                       0x8d, 0x67, 0x17, 0x33, 0xbc, 0xee, 0x28, 0xba};
constexpr uint32_t kRemovableDrive = 0xF5A6B710;
constexpr uint32_t kControlPanelCategory = 0x39DE2184;
constexpr uint32_t kFileEntryBlock = 0xBEEF0004;
constexpr uint32_t kKnownFolderView = 0x23FEBBEE;
constexpr const char* kDisplayNameFormat = "{b725f130-47ef-101a-a5f1-02608c9eebac}";
constexpr const char* kNamedFormat = "{d5cdd505-2e9c-101b-9397-08002b2cf9ae}";

bool IsPropertyViewSignature(uint32_t s) {
  return s == 0x10141981 || s == 0x23A3DFD5 || s == kKnownFolderView || s == 0x3B93AFBB || s == 0x49505241 ||
         s == 0xBEEBEE00;
}

// An 8-bit string at off, up to a NUL, at most `limit` bytes; Latin-1.
std::string AsciiAt(Span b, size_t off, size_t limit, size_t* end = nullptr) {
  std::string text;
  size_t i = off;
  for (; i < b.size() && i - off < limit; ++i) {
    if (b[i] == 0) break;
    char utf8[4];
    const size_t n = Latin1ToUtf8(&b[i], 1, utf8, sizeof utf8);
    text.append(utf8, n);
  }
  if (end) *end = i < b.size() ? i + 1 : i;  // past the NUL
  return text;
}

// UTF-16 text at off up to a NUL unit or the end; `end` past the NUL.
std::string Utf16At(Span b, size_t off, size_t* end = nullptr) {
  size_t i = off;
  while (i + 1 < b.size() && (b[i] | b[i + 1]) != 0) i += 2;
  if (end) *end = std::min(i + 2, b.size());
  return off < b.size() ? Utf16Text(b.subspan(off, i - off)) : std::string();
}

const char* ControlPanelCategoryName(uint32_t category) {
  static const char* const kNames[] = {"All Control Panel Items",
                                       "Appearance and Personalization",
                                       "Hardware and Sound",
                                       "Network and Internet",
                                       "Sounds, Speech, and Audio Devices",
                                       "System and Security",
                                       "Clock, Language, and Region",
                                       "Ease of Access",
                                       "Programs",
                                       "User Accounts",
                                       "Security Center",
                                       "Mobile PC"};
  return category < std::size(kNames) ? kNames[category] : nullptr;
}

// The file entry block's fields into `item`; true when it had a long name.
bool ReadFileEntryBlock(Span block, ShellItem& item, std::optional<std::string>& longName) {
  const uint16_t version = Le16At(block, 2);
  item.created = FatTimeToFileTime(Le16At(block, 8), Le16At(block, 10));
  item.accessed = FatTimeToFileTime(Le16At(block, 12), Le16At(block, 14));
  if (version >= 7 && Fits(block, 20, 8)) {
    const uint64_t ref = Le64At(block, 20);
    item.mftEntry = ref & 0xFFFFFFFFFFFFull;
    item.mftSequence = ref >> 48;
  }
  const size_t nameAt = version >= 9 ? 46 : version == 8 ? 42 : version == 7 ? 38 : 20;
  // The block ends with a 2-byte back offset: the name lies before it.
  if (block.size() < nameAt + 2 + 2) return false;
  std::string name = Utf16At(block.first(block.size() - 2), nameAt);
  if (name.empty()) return false;
  longName = std::move(name);
  return true;
}

// Looks for the file entry block from `from`: walks the blocks, and when
// the walk breaks, searches for the signature, so that odd padding after a
// primary name does not hide the long name.
std::optional<Span> FindFileEntryBlock(Span item, size_t from) {
  size_t at = from;
  for (int guard = 0; guard < 64 && Fits(item, at, 8); ++guard) {
    const uint16_t size = Le16At(item, at);
    const uint32_t signature = Le32At(item, at + 4);
    if (size < 8 || !Fits(item, at, size) || (signature >> 16) != 0xBEEF) break;
    if (signature == kFileEntryBlock) return item.subspan(at, size);
    at += size;
  }
  for (size_t i = from + 4; i + 4 <= item.size(); ++i) {
    if (Le32At(item, i) != kFileEntryBlock) continue;
    const size_t start = i - 4;
    const uint16_t size = Le16At(item, start);
    if (size >= 8 && Fits(item, start, size)) return item.subspan(start, size);
  }
  return std::nullopt;
}

void DecodeFileEntry(Span item, ShellItem& out, size_t blocksFrom = 0, Span blocks = {}) {
  const uint8_t cls = out.classType;
  out.itemType = (cls & 0x01) ? "directory" : (cls & 0x02) ? "file" : "file_entry";
  if (!Fits(item, 14, 0)) {
    out.damaged = true;
    out.error = "file entry item too short";
    return;
  }
  out.fileSize = Le32At(item, 4);
  out.modified = FatTimeToFileTime(Le16At(item, 8), Le16At(item, 10));
  size_t end = 14;
  std::string primary;
  if (cls & 0x04) {
    primary = Utf16At(item, 14, &end);
  } else {
    primary = AsciiAt(item, 14, item.size(), &end);
    if (end % 2 != 0) ++end;
  }
  out.name = primary;
  std::optional<std::string> longName;
  const Span where = blocks.empty() ? item : blocks;
  const size_t from = blocks.empty() ? end : blocksFrom;
  if (auto block = FindFileEntryBlock(where, from)) {
    if (ReadFileEntryBlock(*block, out, longName)) out.name = longName;
  }
}

// Display name from a property store; empty when none.
std::optional<std::string> PropertyStoreName(Span store) {
  size_t at = 0;
  for (int storages = 0; storages < 256 && Fits(store, at, 4); ++storages) {
    const uint32_t size = Le32At(store, at);
    if (size == 0 || size < 24 || !Fits(store, at, size)) break;
    const Span storage = store.subspan(at, size);
    at += size;
    if (std::memcmp(storage.data() + 4, "1SPS", 4) != 0) continue;
    const std::string format = GuidText(storage, 8);
    const bool named = format == kNamedFormat;
    size_t v = 24;
    for (int values = 0; values < 4096 && Fits(storage, v, 4); ++values) {
      const uint32_t vsize = Le32At(storage, v);
      if (vsize == 0 || vsize < 9 || !Fits(storage, v, vsize)) break;
      const Span value = storage.subspan(v, vsize);
      v += vsize;
      if (named) continue;
      const uint32_t id = Le32At(value, 4);
      const size_t typed = 9;
      if (format != kDisplayNameFormat || id != 10 || Le16At(value, typed) != 0x1F) continue;
      const uint32_t chars = Le32At(value, typed + 4);
      const size_t textAt = typed + 8;
      const size_t bytes = std::min<size_t>(size_t{chars} * 2, value.size() > textAt ? value.size() - textAt : 0);
      return Utf16Text(value.subspan(std::min(textAt, value.size()), bytes));
    }
  }
  return std::nullopt;
}

void DecodePropertyView(Span item, ShellItem& out, const GuidNamer& names) {
  const uint32_t signature = Le32At(item, 6);
  const uint16_t idSize = Le16At(item, 12);
  if (!Fits(item, 14, idSize)) {
    out.damaged = true;
    out.error = "property view identifier overruns the item";
    return;
  }
  std::optional<std::string> guid;
  if (signature == kKnownFolderView && idSize >= 16) guid = GuidText(item, 14);
  const size_t storeAt = 14 + size_t{idSize};
  out.name = PropertyStoreName(item.subspan(storeAt));
  if (guid) {
    out.shellFolder = *guid;
    if (!out.name) out.name = names(*guid);
  }
}

void DecodeRootFolder(Span item, ShellItem& out, const GuidNamer& names) {
  const size_t size = item.size();
  const bool plain =
      size == 20 || (size > 20 && Fits(item, 20, 8) && Le16At(item, 20) >= 8 && (Le32At(item, 24) >> 16) == 0xBEEF);
  if (!plain && Le32At(item, 6) == kRemovableDrive && Fits(item, 10, 2)) {
    const size_t inner = Le16At(item, 10);
    if (!Fits(item, 10, inner + 2)) {
      out.damaged = true;
      out.error = "embedded drive item overruns the item";
      return;
    }
    const Span embedded = item.subspan(10, inner + 2);
    if (embedded.size() > 3) out.name = AsciiAt(embedded, 3, 20);
    return;
  }
  if (!plain) {
    const auto found = std::find_end(item.begin(), item.end(), std::begin(kDelegateGuid), std::end(kDelegateGuid));
    if (found != item.end()) {
      const size_t at = static_cast<size_t>(found - item.begin()) + 16;
      if (Fits(item, at, 16)) {
        out.shellFolder = GuidText(item, at);
        out.name = names(*out.shellFolder);
        return;
      }
    }
    if (IsPropertyViewSignature(Le32At(item, 6))) {
      DecodePropertyView(item, out, names);
      return;
    }
  }
  if (!Fits(item, 4, 16)) {
    out.damaged = true;
    out.error = "root folder item too short";
    return;
  }
  out.shellFolder = GuidText(item, 4);
  out.name = names(*out.shellFolder);
}

}  // namespace

std::string KnownFolderName(const std::string& guid) {
  struct Entry {
    const char* guid;
    const char* name;
  };
  static const Entry kNames[] = {
      {"20d04fe0-3aea-1069-a2d8-08002b30309d", "My Computer"},
      {"450d8fba-ad25-11d0-98a8-0800361b1103", "My Documents"},
      {"208d2c60-3aea-1069-a2d7-08002b30309d", "My Network Places"},
      {"f02c1a0d-be21-4350-88b0-7367fc96ef3c", "Network"},
      {"645ff040-5081-101b-9f08-00aa002f954e", "Recycle Bin"},
      {"21ec2020-3aea-1069-a2dd-08002b30309d", "Control Panel"},
      {"26ee0668-a00a-44d7-9371-beb064c98683", "Control Panel"},
      {"5399e694-6ce5-4d6c-8fce-1d8870fdcba0", "Control Panel"},
      {"871c5380-42a0-1069-a2ea-08002b30309d", "Internet Explorer"},
      {"031e4825-7b94-4dc3-b131-e946b44c8dd5", "Libraries"},
      {"59031a47-3f72-44a7-89c5-5595fe6b30ee", "Users Files"},
      {"679f85cb-0220-4080-b29b-5540cc05aab6", "Quick Access"},
      {"9343812e-1c37-4a49-a12e-4b2d810d956b", "Search Home"},
      {"04731b67-d933-450a-90e6-4acd2e9408fe", "Search Folder"},
      {"f5fb2c77-0e2f-4a16-a381-3e560c68bc83", "Removable Drives"},
      {"ed228fdf-9ea8-4870-83b1-96b02cfe0d52", "My Games"},
      {"22877a6d-37a1-461a-91b0-dbda5aaebc99", "Recent Places"},
      {"4234d49b-0245-4df3-b780-3893943456e1", "Applications"},
      {"5e6c858f-0e22-4760-9afe-ea3317b67173", "User Profile"},
      {"0ac0837c-bbf8-452a-850d-79d08e667ca7", "Computer"},
      {"b4bfcc3a-db2c-424c-b029-7fe99a87c641", "Desktop"},
      {"d3162b92-9365-467a-956b-92703aca08af", "Documents"},
      {"fdd39ad0-238f-46af-adb4-6c85480369c7", "Documents"},
      {"a8cdff1c-4878-43be-b5fd-f8091c1c60d0", "Documents"},
      {"088e3905-0323-4b02-9826-5d99428e115f", "Downloads"},
      {"374de290-123f-4565-9164-39c4925e467b", "Downloads"},
      {"3dfdf296-dbec-4fb4-81d1-6a3438bcf4de", "Music"},
      {"4bd8d571-6d19-48d3-be97-422220080e43", "Music"},
      {"1cf1260c-4dd0-4ebb-811f-33c572699fde", "Music"},
      {"24ad3ad4-a569-4530-98e1-ab02f9417aa8", "Pictures"},
      {"33e28130-4e1e-4676-835a-98395c3bc3bb", "Pictures"},
      {"3add1653-eb32-4cb0-bbd7-dfa0abb5acca", "Pictures"},
      {"f86fa3ab-70d2-4fc7-9c99-fcbf05467f3a", "Videos"},
      {"18989b1d-99b5-455b-841c-ab7c74e4ddfc", "Videos"},
      {"a0953c92-50dc-43bf-be83-3742fed03c9c", "Videos"},
      {"0db7e03f-fc29-4dc6-9020-ff41b59e513a", "3D Objects"},
  };
  std::string bare = guid;
  if (bare.size() == 38 && bare.front() == '{') bare = bare.substr(1, 36);
  for (char& c : bare) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const Entry& e : kNames) {
    if (bare == e.guid) return e.name;
  }
  return {};
}

uint64_t FatTimeToFileTime(uint16_t date, uint16_t time) {
  if (date == 0 && time == 0) return 0;
  const int year = 1980 + (date >> 9), month = (date >> 5) & 0xF, day = date & 0x1F;
  const int hour = time >> 11, minute = (time >> 5) & 0x3F, second = (time & 0x1F) * 2;
  return CivilToFileTime(year, month, day, hour, minute, second).value_or(0);
}

ShellItem DecodeShellItem(std::span<const uint8_t> item, const GuidNamer& names) {
  ShellItem out;
  if (item.size() < 3) {
    out.damaged = true;
    out.error = "shell item too short";
    out.raw = std::vector<uint8_t>(item.begin(), item.end());
    return out;
  }
  const uint8_t cls = item[2];
  out.classType = cls;
  if (cls == 0x1F) {
    out.itemType = "root_folder";
    DecodeRootFolder(item, out, names);
  } else if (cls == 0x61) {
    out.itemType = "uri";
    const bool wide = (item.size() > 3 && (item[3] & 0x80) != 0);
    const uint16_t dataSize = Le16At(item, 4);
    const size_t at = dataSize == 0 ? 8 : 6 + size_t{dataSize};
    if (at < item.size()) out.name = wide ? Utf16At(item, at) : AsciiAt(item, at, item.size());
  } else if (cls == 0x71) {
    out.itemType = "control_panel_item";
    if (Fits(item, 14, 16)) {
      out.shellFolder = GuidText(item, 14);
      out.name = names(*out.shellFolder);
    } else {
      out.damaged = true;
      out.error = "control panel item too short";
    }
  } else if (cls == 0x74 && Fits(item, 6, 4) && std::memcmp(item.data() + 6, "CFSF", 4) == 0) {
    const size_t inner = Le16At(item, 10);
    if (!Fits(item, 10, inner + 2)) {
      out.itemType = "file_entry";
      out.damaged = true;
      out.error = "embedded file entry overruns the item";
      return out;
    }
    const Span embedded = item.subspan(10, inner + 2);
    ShellItem wrapped;
    wrapped.classType = embedded.size() > 2 ? embedded[2] : 0;
    DecodeFileEntry(embedded, wrapped, 0, embedded.subspan(embedded.size()));  // no blocks inside
    out.itemType = wrapped.itemType;
    out.name = wrapped.name;
    out.modified = wrapped.modified;
    out.fileSize = wrapped.fileSize;
    const size_t blocksAt = 12 + inner + 32;
    if (blocksAt <= item.size()) {
      std::optional<std::string> longName;
      if (auto block = FindFileEntryBlock(item, blocksAt)) {
        if (ReadFileEntryBlock(*block, out, longName)) out.name = longName;
      }
    }
  } else if (cls == 0x01 && Le32At(item, 4) == kControlPanelCategory) {
    out.itemType = "control_panel_category";
    if (const char* name = ControlPanelCategoryName(Le32At(item, 8))) out.name = name;
  } else if (cls == 0x00 && IsPropertyViewSignature(Le32At(item, 6))) {
    out.itemType = "property_view";
    DecodePropertyView(item, out, names);
  } else if ((cls & 0x70) == 0x20) {
    out.itemType = "volume";
    if (cls & 0x01) {
      out.name = AsciiAt(item, 3, 20);
    } else if (Fits(item, 4, 16)) {
      out.shellFolder = GuidText(item, 4);
      out.name = names(*out.shellFolder);
    }
  } else if ((cls & 0x70) == 0x30) {
    DecodeFileEntry(item, out);
  } else if ((cls & 0x70) == 0x40) {
    out.itemType = "network_location";
    if (item.size() > 5) out.name = AsciiAt(item, 5, item.size());
  } else {
    out.itemType = "unknown";
    out.raw = std::vector<uint8_t>(item.begin(), item.end());
  }
  return out;
}

ShellItemList DecodeShellItemList(std::span<const uint8_t> data, const GuidNamer& names) {
  ShellItemList list;
  size_t at = 0;
  while (true) {
    if (!Fits(data, at, 2)) {
      list.damaged = true;
      list.error = "shell item list has no end";
      break;
    }
    const uint16_t size = Le16At(data, at);
    if (size == 0) break;
    if (size < 3 || !Fits(data, at, size)) {
      list.damaged = true;
      list.error = "shell item of " + std::to_string(size) + " bytes overruns the value";
      ShellItem broken;
      broken.damaged = true;
      broken.error = list.error;
      broken.classType = Fits(data, at, 3) ? data[at + 2] : 0;
      list.items.push_back(std::move(broken));
      break;
    }
    list.items.push_back(DecodeShellItem(data.subspan(at, size), names));
    at += size;
  }
  return list;
}

void AppendItemPath(std::string& path, const std::optional<std::string>& name) {
  if (!path.empty() && path.back() != '\\') path += '\\';
  path += name ? *name : std::string("?");
}

std::string ItemListPath(const ShellItemList& list) {
  std::string path;
  for (const ShellItem& item : list.items) AppendItemPath(path, item.name);
  return path;
}

void SetShellItemFields(ArtifactRecord& record, const ShellItem& item) {
  record.Set("name", item.name ? TextField(*item.name) : NullField());
  record.Set("item_type", TextField(item.itemType));
  record.Set("class_type", IntField(item.classType));
  record.Set("shell_folder", item.shellFolder ? TextField(*item.shellFolder) : NullField());
  record.Set("raw", item.raw && item.itemType == "unknown" ? TextField(HexLower(*item.raw)) : NullField());
  record.Set("modified", TimeField(item.modified));
  record.Set("created", TimeField(item.created));
  record.Set("accessed", TimeField(item.accessed));
  record.Set("mft_entry", OptionalInt(item.mftEntry));
  record.Set("mft_sequence", OptionalInt(item.mftSequence));
  record.Set("file_size", OptionalInt(item.fileSize));
  if (item.damaged) record.Damage(item.error);
}

}  // namespace cellbrook
