// A comparison of two hives shown in the main window's key tree and value
// list: every key of both, added, removed and changed ones marked by a
// picture and a font style that read in grey as well as in colour, the
// values old and new side by side, only the differences when asked, and
// the registry patch of a subtree. The two images are its own.
#pragma once

#include <QIcon>
#include <QList>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "compare/hive_compare.h"
#include "document/hive_document.h"
#include "export/evidence_guard.h"
#include "export/registry_text_writer.h"
#include "hive/hive_file.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace cellbrook {

enum class CompareMark { Same, Added, Removed, Changed };

class HiveComparison {
 public:
  // OLD: a copy of `shown`, the hive the window shows (from `shownPath`);
  // NEW: the hive at `otherPath`, with its logs applied when they apply.
  // Null with `error` set when the second hive cannot be read.
  static std::unique_ptr<HiveComparison> WithFile(const HiveImage& shown, const std::string& shownPath,
                                                  const std::string& otherPath, QString& error);
  // OLD: the hive at `path` as it is; NEW: the same with its logs applied.
  static std::unique_ptr<HiveComparison> WithLogs(const std::string& path, QString& error);

  // Fills `tree` with every key of both hives (a removed key without its
  // subtree), marked; `folder` is the key picture the marks go on.
  void ShowTree(QTreeWidget* tree, const QIcon& folder);
  // The node's values, both sides: Name, Old type, Old value, New type, New value.
  void ShowValues(const QTreeWidgetItem* node, QTreeWidget* list, const QList<QIcon>& typePictures);
  // Hides what is the same: keys with no difference at or below them, values alike.
  void ShowOnlyDifferences(QTreeWidget* tree, QTreeWidget* list, bool only);
  bool OnlyDifferences() const { return only_; }

  // What a tree node stands for; null for no node of this comparison.
  struct Node {
    uint32_t oldCell = kNoCell, newCell = kNoCell;
    CompareMark mark = CompareMark::Same;
    bool changesBelow = false;
    std::string path;      // escaped, "ROOT\A"
    std::u16string units;  // unescaped stored units
  };
  const Node* NodeOf(const QTreeWidgetItem* item) const;
  // The path of the node's key after ROOT, as the export dialog shows it.
  QString KeyPathOf(const QTreeWidgetItem* item) const;

  // Writes the registry patch of the node's subtree to `target` under
  // `prefix`; never over either hive or their logs.
  ExportOutcome WritePatch(const QTreeWidgetItem* node, const std::string& prefix, const std::string& target) const;

  const QString& OldLabel() const { return oldLabel_; }
  const QString& NewLabel() const { return newLabel_; }
  const CompareOutcome& Outcome() const { return outcome_; }

  // The value list's columns as the comparison shows them; the window puts its own back.
  static void UseCompareColumns(QTreeWidget* list);

  // The picture of a mark: `base` with a boxed +, - or ~ in its corner.
  static QIcon Marked(const QIcon& base, CompareMark mark);
  static QString MarkName(CompareMark mark);  // "added", "removed", "changed", ""

 private:
  HiveComparison() = default;
  void Mark(QTreeWidgetItem* item, CompareMark mark, const QIcon& base) const;

  HiveDocument old_, new_;
  QString oldLabel_, newLabel_;
  std::vector<EvidenceGuard> guards_;
  std::vector<Node> nodes_;
  CompareOutcome outcome_;
  bool only_ = false;
};

}  // namespace cellbrook
