#include "export/value_saver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace cellbrook {

SaveCheck CheckValueForSaving(const ValueInfo& value) {
  if (value.DataLength == 0) return SaveCheck::Empty;
  if (!value.Data.Readable()) return SaveCheck::Damaged;
  return SaveCheck::Ready;
}

SaveOutcome SaveValueData(const ValueInfo& value, const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return SaveOutcome::CannotCreate;
  // Only a regular file is removed after a failure: never a device.
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  bool ok = true;
  const bool inside = value.Data.Readable();
  value.Data.ForEachPiece([&](std::span<const uint8_t> piece) {
    const uint8_t* bytes = piece.data();
    size_t length = piece.size();
    while (ok && length > 0) {
      const ssize_t n = ::write(fd, bytes, length);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok = false;
        break;
      }
      bytes += n;
      length -= static_cast<size_t>(n);
    }
  });
  if (::close(fd) != 0) ok = false;
  if (!ok || !inside) {
    if (regular) std::remove(path.c_str());
    return SaveOutcome::WriteFailed;
  }
  return SaveOutcome::Saved;
}

const char* SaveCheckText(SaveCheck check) {
  switch (check) {
    case SaveCheck::Ready: return "";
    case SaveCheck::Empty: return "Value is empty!";
    case SaveCheck::Damaged: return "Value data is damaged!";
  }
  return "";
}

const char* SaveOutcomeText(SaveOutcome outcome) {
  switch (outcome) {
    case SaveOutcome::Saved: return "";
    case SaveOutcome::CannotCreate: return "Unable to create target file!";
    case SaveOutcome::WriteFailed: return "Unable to write target file!";
  }
  return "";
}

}  // namespace cellbrook
