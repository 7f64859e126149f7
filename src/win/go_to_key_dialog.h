// The "Go to key" window: a key path typed with or without "ROOT\", the
// names of the subkeys of what is typed so far offered as completions.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include "hive/hive_reader.h"
#include "ui_go_to_key_dialog.h"

class QCompleter;
class QStringListModel;

namespace cellbrook {

// Completions offered at most for one parent key.
constexpr int kMaxKeyCompletions = 5000;

// "ROOT\A\B" for "A\B", "\A\B\", "root\A\B" or "ROOT\A\B"; "ROOT" for "".
QString FullKeyPath(const QString& typed);
// The completions for `typed`: the paths of the subkeys of the key it names
// up to its last backslash, written the way `typed` starts (with or without
// "ROOT\"), in index order.
QStringList KeyPathCompletions(const HiveImage& image, const QString& typed);

class GoToKeyDialog : public QDialog, public Ui::GoToKeyDialog {
  Q_OBJECT
 public:
  explicit GoToKeyDialog(QWidget* parent = nullptr);

  // The hive whose names are offered; it must outlive the showing.
  void SetHive(const HiveImage* image);
  QString Path() const { return PathEdit->text(); }

 public slots:
  void PathEdited(const QString& text);

 private:
  const HiveImage* image_ = nullptr;
  QCompleter* completer_;
  QStringListModel* names_;
};

}  // namespace cellbrook
