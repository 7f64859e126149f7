// export and save: a key's subtree as a registry file, a value's data bytes.
#include "cli/commands.h"
#include "export/registry_text_writer.h"
#include "export/value_saver.h"
#include "hive/text_codec.h"

namespace cellbrook {

int RunExportCommand(const CommandCall& call, CliSession& session) {
  const std::string& outFile = call.words[2];
  const std::string* prefixGiven = call.Value("--prefix");
  const std::string prefix = prefixGiven != nullptr ? *prefixGiven : "HKEY_CURRENT_USER";
  if (!session.Load(call.words[0])) return kExitUnreadable;
  const std::optional<FoundKey> found = session.FindKey(call.words[1]);
  if (!found) return kExitNotFound;
  for (size_t i = 1; i <= found->ancestors.size(); ++i) {  // the root's own name is replaced
    KeyInfo key = found->key;
    if (i < found->ancestors.size() && !GetKeyInfo(session.Image(), key, found->ancestors[i])) continue;
    if (!RegistryTextCarriesKeyName(KeyNameString(key))) {
      return session.Fail(kExitFailed,
                          "Key path cannot be written (a name holds CR, LF or a backslash, or is "
                          "empty): " +
                              found->shownPath);
    }
  }
  if (!session.MayWrite(outFile)) return kExitFailed;
  session.BeforeWriting(outFile);
  const ExportOutcome outcome =
      ExportKeyToFile(session.Image(), found->key.Ref, prefix + found->path.substr(4), found->shownPath, outFile);
  switch (outcome.status) {
    case ExportOutcome::Done:
      return kExitOk;
    case ExportOutcome::Damaged:
      return session.Fail(kExitDamaged, outcome.message);
    case ExportOutcome::CannotCreate:
    case ExportOutcome::Failed:
      break;
  }
  return session.Fail(kExitFailed, outcome.message);
}

int RunSaveCommand(const CommandCall& call, CliSession& session) {
  const std::string &valueName = call.words[2], &outFile = call.words[3];
  if (!session.Load(call.words[0])) return kExitUnreadable;
  const std::optional<FoundKey> found = session.FindKey(call.words[1]);
  if (!found) return kExitNotFound;
  const ValueLookup value = FindValueByName(session.Image(), found->key, valueName);
  if (!value.found) {
    return session.Fail(kExitNotFound, "Value not found: " + EscapeLineText(valueName) +
                                           (value.damaged ? " (the hive is damaged: the values of " + found->shownPath +
                                                                " could not all be read)"
                                                          : ""));
  }
  const SaveCheck check = CheckValueForSaving(*value.found);
  if (check != SaveCheck::Ready) return session.Fail(kExitFailed, SaveCheckText(check));
  if (!session.MayWrite(outFile)) return kExitFailed;
  session.BeforeWriting(outFile);
  const SaveOutcome outcome = SaveValueData(*value.found, outFile, true);
  if (outcome != SaveOutcome::Saved) return session.Fail(kExitFailed, SaveOutcomeText(outcome));
  return kExitOk;
}

}  // namespace cellbrook
