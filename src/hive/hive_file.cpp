#include "hive/hive_file.h"

#include <new>

#include "hive/fd_io.h"

namespace cellbrook {

const char* LoadOutcomeText(LoadOutcome outcome) {
  switch (outcome) {
    case LoadOutcome::Loaded:
      return "";
    case LoadOutcome::CannotOpen:
      return "Can not open source file!";
    case LoadOutcome::TooLarge:
      return "File is too large!";
    case LoadOutcome::NoMemory:
      return "Not enough memory to read the file!";
    case LoadOutcome::ReadFailed:
      return "File read failed!";
    case LoadOutcome::InvalidFormat:
      return "File format is invalid!";
  }
  return "";
}

bool HiveBlock::Adopt(std::vector<uint8_t> image, HiveImage& bound) {
  if (image.empty() || image.size() > kMaxHiveFileSize) return false;
  HiveImage candidate;
  if (!AttachImage(candidate, image.data(), static_cast<uint32_t>(image.size()))) return false;
  bytes.reset();
  rebuilt = std::move(image);
  size = static_cast<uint32_t>(rebuilt.size());
  AttachImage(bound, rebuilt.data(), size);
  return true;
}

LoadOutcome LoadHiveFile(const std::string& path, HiveBlock& block, HiveImage& image) {
  block = HiveBlock{};
  HiveBlock loaded;
  const WholeRead read = ReadWholeFile(path, kMaxHiveFileSize, [&loaded](uint64_t size) {
    loaded.bytes.reset(new (std::nothrow) uint8_t[size == 0 ? 1 : size]);
    loaded.size = static_cast<uint32_t>(size);
    return loaded.bytes.get();
  });
  switch (read) {
    case WholeRead::Read:
      break;
    case WholeRead::CannotOpen:
    case WholeRead::CannotStat:
    case WholeRead::NotRegular:
      return LoadOutcome::CannotOpen;
    case WholeRead::TooLarge:
      return LoadOutcome::TooLarge;
    case WholeRead::NoMemory:
      return LoadOutcome::NoMemory;
    case WholeRead::ReadFailed:
      return LoadOutcome::ReadFailed;
  }
  if (!AttachImage(image, loaded.bytes.get(), loaded.size)) return LoadOutcome::InvalidFormat;
  block = std::move(loaded);
  return LoadOutcome::Loaded;
}

}  // namespace cellbrook
