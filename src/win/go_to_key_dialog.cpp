#include "win/go_to_key_dialog.h"

#include <QCompleter>
#include <QPushButton>
#include <QStringListModel>

#include "hive/key_lookup.h"
#include "win/form_font.h"

namespace cellbrook {

QString FullKeyPath(const QString& typed) {
  QString path = typed.trimmed();
  while (path.startsWith('\\')) path.remove(0, 1);
  while (path.endsWith('\\')) path.chop(1);
  if (path.compare("ROOT", Qt::CaseInsensitive) == 0) return "ROOT";
  if (path.startsWith("ROOT\\", Qt::CaseInsensitive)) return "ROOT" + path.mid(4);
  return path.isEmpty() ? QString("ROOT") : "ROOT\\" + path;
}

QStringList KeyPathCompletions(const HiveImage& image, const QString& typed) {
  const qsizetype cut = typed.lastIndexOf('\\');
  const QString parentTyped = cut < 0 ? QString() : typed.left(cut);
  const KeyLookup parent = FindKeyByPath(image, FullKeyPath(parentTyped).toStdString());
  QStringList paths;
  if (!parent.found) return paths;
  SlotBudget budget = SlotBudget::For(image);
  const SubkeyList subkeys = ReadSubkeys(image, parent.found->key, budget);
  const QString lead = cut < 0 ? QString() : typed.left(cut + 1);
  for (const KeyInfo& key : subkeys.keys) {
    if (!key.Ref) continue;
    paths << lead + QString::fromStdString(KeyNameString(key));
    if (paths.size() >= kMaxKeyCompletions) break;
  }
  return paths;
}

GoToKeyDialog::GoToKeyDialog(QWidget* parent) : QDialog(parent) {
  setupUi(this);
  UseFormFont(this);
  names_ = new QStringListModel(this);
  completer_ = new QCompleter(names_, this);
  completer_->setCaseSensitivity(Qt::CaseInsensitive);
  completer_->setCompletionMode(QCompleter::PopupCompletion);
  PathEdit->setCompleter(completer_);
  connect(PathEdit, &QLineEdit::textEdited, this, &GoToKeyDialog::PathEdited);
  connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void GoToKeyDialog::SetHive(const HiveImage* image) {
  image_ = image;
  PathEdit->selectAll();
  PathEdit->setFocus();
  PathEdited(PathEdit->text());
}

void GoToKeyDialog::PathEdited(const QString& text) {
  // The list changes only when the parent typed changes.
  const qsizetype cut = text.lastIndexOf('\\');
  const QString lead = cut < 0 ? QString() : text.left(cut + 1);
  const QStringList current = names_->stringList();
  if (!current.isEmpty() && current.front().startsWith(lead, Qt::CaseInsensitive) &&
      current.front().lastIndexOf('\\') == cut) {
    return;
  }
  names_->setStringList(image_ != nullptr && image_->Image != nullptr ? KeyPathCompletions(*image_, text)
                                                                      : QStringList());
}

}  // namespace cellbrook
