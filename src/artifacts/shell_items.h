// Shell item lists: the item kinds the shell stores for folders and files,
// each decoded to a name, its kind, its times and file-system fields. An
// item of an unknown kind keeps its class byte and raw bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "artifacts/artifact_record.h"

namespace cellbrook {

// Names a folder GUID ("{20d04fe0-...}", lowercase): the shell's own names,
// else what the hive registers, else the GUID text itself.
using GuidNamer = std::function<std::string(const std::string& guid)>;
// The shell's own display name of a GUID, or "".
std::string KnownFolderName(const std::string& guid);

struct ShellItem {
  std::optional<std::string> name;
  std::string itemType = "unknown";
  uint8_t classType = 0;
  std::optional<std::string> shellFolder;
  std::optional<std::vector<uint8_t>> raw;           // unknown items only
  uint64_t modified = 0, created = 0, accessed = 0;  // FILETIME, 0: none
  std::optional<uint64_t> mftEntry, mftSequence, fileSize;
  bool damaged = false;
  std::string error;
};

struct ShellItemList {
  std::vector<ShellItem> items;
  bool damaged = false;  // an item overran the data, or the list had no end
  std::string error;
};

// One item over exactly `item` (its size field at 0).
ShellItem DecodeShellItem(std::span<const uint8_t> item, const GuidNamer& names);
// A list of items, each led by its u16 size, ended by a size of 0.
ShellItemList DecodeShellItemList(std::span<const uint8_t> data, const GuidNamer& names);
// Names joined with '\', none added after a name that ends with one; a
// missing name is '?'.
void AppendItemPath(std::string& path, const std::optional<std::string>& name);
std::string ItemListPath(const ShellItemList& list);

// FAT date and time (date in the low half) as FILETIME ticks; 0 when both
// are zero or the date is impossible.
uint64_t FatTimeToFileTime(uint16_t date, uint16_t time);

// Sets name, item_type, class_type, shell_folder, raw and the file fields.
void SetShellItemFields(ArtifactRecord& record, const ShellItem& item);

}  // namespace cellbrook
