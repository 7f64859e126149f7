// The window's side of a deleted scan: which recovered record a tree node
// or list row stands for, the recovered nodes put into the key tree and
// taken out again, and the list rows of deleted values.
#pragma once

#include <QIcon>
#include <QList>
#include <QTreeWidgetItem>
#include <span>
#include <unordered_map>
#include <vector>

#include "present/caption_collator.h"
#include "present/deleted_text.h"
#include "recover/deleted/deleted_scan.h"

class QTreeWidget;

namespace cellbrook {

// What a node or row stands for. Live items keep their cell in the data
// role KeyOf and ValueOf read; recovered ones have none there, so every
// live command passes them by.
enum class RecordKind : int { Live = 0, RecoveredKey, RecoveredValue, RecoveredRecords };
struct RecordRef {
  RecordKind kind = RecordKind::Live;
  uint32_t index = kNoCell;  // into the scan's keys (RecoveredKey) or values (RecoveredValue)
};
RecordRef RecordOf(const QTreeWidgetItem* item);

// The caption of the top-level node of the records that have no live place.
extern const char* const kRecoveredRecordsCaption;
// What a deleted value whose data cell is gone says, where a live one's
// data would be damaged.
extern const char* const kDeletedDataGoneText;

// The lookups the window needs on a scan of the image shown (the open
// document's, which outlives this); made once per open file.
class DeletedRecords {
 public:
  explicit DeletedRecords(const DeletedScan& scan);
  DeletedRecords(const DeletedRecords&) = delete;
  DeletedRecords& operator=(const DeletedRecords&) = delete;

  const DeletedScan& Scan() const { return scan_; }
  // Recovered keys whose parent is the recovered key `key`, in cell order.
  std::span<const uint32_t> SubkeysOf(uint32_t key) const;
  // Deleted values the live key still holds in its value list's slack.
  std::span<const uint32_t> SlackValuesOf(KeyRef key) const;
  // Values no key lists.
  std::span<const uint32_t> Unassociated() const { return unassociated_; }

 private:
  const DeletedScan& scan_;
  std::vector<std::vector<uint32_t>> subkeys_;
  std::unordered_map<uint32_t, std::vector<uint32_t>> slack_;  // by live key cell
  std::vector<uint32_t> unassociated_;
};

// The recovered nodes of one key tree. Show adds them: keys with a full
// path under their live parent's node, their recovered subkeys below them,
// the rest (partial paths, parents not in the tree) under a top-level
// "Recovered records" node, whose rows are the unassociated values;
// siblings by name with the collator. Hide takes out exactly what Show
// added.
class DeletedTree {
 public:
  void Show(QTreeWidget* tree, const DeletedRecords& records, const QIcon& keyPicture, const QIcon& recordsPicture,
            const CaptionCollator& collator);
  void Hide();
  // After the tree was cleared with its nodes: nothing left to take out.
  void Forget();
  bool Shown() const { return tree_ != nullptr; }

 private:
  QTreeWidget* tree_ = nullptr;
  std::vector<QTreeWidgetItem*> added_;  // the top of each added branch
};

// The list rows of deleted values, sorted by caption with the collator:
// name (or "(Default)"), type name, display text ("(reallocated)" before it
// when the data cell now belongs to a live record), the type's picture.
QList<QTreeWidgetItem*> DeletedValueRows(const DeletedScan& scan, std::span<const uint32_t> values,
                                         const QList<QIcon>& pictures, const CaptionCollator& collator);

}  // namespace cellbrook
