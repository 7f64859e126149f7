#include "export/registry_patch.h"

#include <new>

#include "hive/key_walk.h"
#include "hive/text_codec.h"

namespace cellbrook {

CompareOutcome WriteRegistryPatch(const CompareSide& oldSide, const CompareSide& newSide, std::string_view shownPath,
                                  std::string_view wholePath, OutputSink& file, NamesLeftOut* leftOut) {
  RegTextEntries entries(file);
  try {
    RegTextEntries::CheckPath(wholePath);
    const std::u16string start = Utf8ToUtf16String(wholePath);
    std::u16string section;  // the key whose section is open
    bool open = false;
    std::u16string name;
    std::string leftAt;  // the key last left out, whose subtree goes with it
    auto leave = [&](bool key, std::string_view at) {
      if (leftOut == nullptr) return;
      if (!leftOut->Any()) leftOut->firstAt = std::string(at);
      ++(key ? leftOut->keys : leftOut->values);
    };
    auto openSection = [&](const Change& c) {
      if (open && section == c.units) return;
      entries.Key(c.units);
      section.assign(c.units);
      open = true;
    };
    CompareOutcome outcome = CompareTrees(oldSide, newSide, shownPath, start, [&](const Change& c) {
      if (c.kind == ChangeKind::KeyTime || c.kind == ChangeKind::KeySame) return;
      if (!c.plainPath) {
        // A name registry text cannot carry: the key is left out with all below it.
        const bool below = !leftAt.empty() && c.path.size() > leftAt.size() && c.path.starts_with(leftAt) &&
                           c.path[leftAt.size()] == '\\';
        if (!below && c.path != leftAt) {
          leftAt.assign(c.path);
          leave(true, c.path);
        }
        return;
      }
      switch (c.kind) {
        case ChangeKind::KeyRemoved:
          entries.RemovedKey(c.units);
          open = false;
          return;
        case ChangeKind::KeyAdded:
          open = false;
          openSection(c);
          return;
        case ChangeKind::ValueAdded:
        case ChangeKind::ValueChanged:
          // Data that could not be read were counted as damage by the compare.
          if (!c.newValue->Data.Readable()) return;
          openSection(c);
          name.clear();
          c.newValue->Name.AppendUnits(name);
          if (!entries.Value(c.newValue->Name.length == 0, name, c.newValue->Type, c.newValue->Data)) {
            leave(false, c.path);
          }
          return;
        case ChangeKind::ValueRemoved:
          openSection(c);
          name.clear();
          c.oldValue->Name.AppendUnits(name);
          if (!entries.RemovedValue(c.oldValue->Name.length == 0, name)) leave(false, c.path);
          return;
        case ChangeKind::KeyTime:
        case ChangeKind::KeySame:
          return;
      }
    });
    if (outcome.budgetOut) throw ExportError(kBudgetOutText);
    entries.Finish();
    return outcome;
  } catch (const ExportError&) {
    entries.FinishAfterFailure();
    throw;
  } catch (const std::bad_alloc&) {
    entries.FinishAfterFailure();
    throw ExportError("Not enough memory for the export");
  }
}

ExportOutcome WriteRegistryPatchFile(const CompareSide& oldSide, const CompareSide& newSide, std::string_view shownPath,
                                     std::string_view wholePath, const std::string& target, CompareOutcome& compared) {
  return WriteRegistryFile(target, [&](OutputSink& file, NamesLeftOut& leftOut) {
    compared = WriteRegistryPatch(oldSide, newSide, shownPath, wholePath, file, &leftOut);
    DamageReport both = compared.oldDamage;
    both.Add(compared.newDamage);
    return both;
  });
}

}  // namespace cellbrook
