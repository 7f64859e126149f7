#include "export/value_saver.h"

#include "export/whole_file_write.h"

namespace cellbrook {

SaveCheck CheckValueForSaving(const ValueInfo& value) {
  if (value.DataLength == 0) return SaveCheck::Empty;
  if (!value.Data.Readable()) return SaveCheck::Damaged;
  return SaveCheck::Ready;
}

SaveOutcome SaveValueData(const ValueInfo& value, const std::string& path, bool dashIsStdout) {
  if (!value.Data.Readable()) return SaveOutcome::WriteFailed;
  WholeFileWrite out(path, dashIsStdout);
  if (out.State() == WholeFileWrite::Status::NotRegular) return SaveOutcome::NotRegular;
  if (!out.Ready()) return SaveOutcome::CannotCreate;
  bool ok = true;
  value.Data.ForEachPiece([&](std::span<const uint8_t> piece) {
    if (ok) ok = out.Write(piece.data(), piece.size());
  });
  return ok && out.Commit() ? SaveOutcome::Saved : SaveOutcome::WriteFailed;
}

const char* SaveCheckText(SaveCheck check) {
  switch (check) {
    case SaveCheck::Ready:
      return "";
    case SaveCheck::Empty:
      return "Value is empty!";
    case SaveCheck::Damaged:
      return "Value data is damaged!";
  }
  return "";
}

const char* SaveOutcomeText(SaveOutcome outcome) {
  switch (outcome) {
    case SaveOutcome::Saved:
      return "";
    case SaveOutcome::CannotCreate:
      return "Unable to create target file!";
    case SaveOutcome::WriteFailed:
      return "Unable to write target file!";
    case SaveOutcome::NotRegular:
      return kNotRegularTargetText;
  }
  return "";
}

}  // namespace cellbrook
