// A modal seam for window tests: answers file dialogs from a script and
// records every message box, pop-up menu and web page the user would see.
// It answers the way the real widgets do (tests/modal_pins_test.cpp holds
// it to them): a chosen menu action is triggered before Popup returns, a
// file name without a suffix gets the default one, a cancelled dialog
// leaves the settings alone.
#pragma once

#include <QAction>
#include <QFileInfo>
#include <QList>
#include <QMenu>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QUrl>

#include "win/modal_seam.h"

namespace cellbrook::test {

struct ShownBox {
  QWidget* owner;
  QString text, caption;
  BoxIcon icon;
};

class ScriptedModal : public ModalSeam {
 public:
  ScriptedModal() { SetModalSeam(this); }
  ~ScriptedModal() override { SetModalSeam(nullptr); }

  // Each file dialog takes the next answer; an empty answer cancels.
  QStringList fileAnswers;
  QList<FileDialogSettings> fileDialogs;  // as each dialog was opened
  QList<ShownBox> boxes;
  QList<QPair<QMenu*, QPoint>> popups;
  int popupChoice = -1;  // index of the action to pick, -1 dismisses
  QList<QUrl> urls;
  QList<ShownBox> questions;  // asked with Ask
  QList<bool> askAnswers;     // each question takes the next; none left: Yes
  // A save dialog's question before an existing file is replaced: each
  // takes the next answer; none left: No, the real box's default. After No
  // the dialog takes the next file answer, as the user types another name.
  QStringList overwriteQuestions;
  QList<bool> overwriteAnswers;

  bool OpenFile(QWidget*, FileDialogSettings& s) override { return Answer(s, false); }
  bool SaveFile(QWidget*, FileDialogSettings& s) override { return Answer(s, true); }
  void Message(QWidget* owner, const QString& text, const QString& caption, BoxIcon icon) override {
    boxes.push_back({owner, text, caption, icon});
  }
  bool Ask(QWidget* owner, const QString& text, const QString& caption) override {
    questions.push_back({owner, text, caption, BoxIcon::Information});
    return askAnswers.isEmpty() ? true : askAnswers.takeFirst();
  }
  QAction* Popup(QMenu* menu, const QPoint& at) override {
    popups.push_back({menu, at});
    emit menu->aboutToShow();
    emit menu->aboutToHide();
    QAction* chosen = popupChoice >= 0 ? menu->actions().value(popupChoice) : nullptr;
    if (chosen == nullptr || chosen->isSeparator() || !chosen->isEnabled()) return nullptr;
    // As QMenu::exec: the action fires (and through it the menu's own
    // triggered signal) before the call returns.
    chosen->activate(QAction::Trigger);
    return chosen;
  }
  bool OpenUrl(QWidget*, const QUrl& url) override {
    urls.push_back(url);
    return true;
  }

 private:
  bool Answer(FileDialogSettings& s, bool save) {
    fileDialogs.push_back(s);
    for (;;) {
      const QString answer = fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
      if (answer.isEmpty()) return false;
      QString name = answer;
      if (!s.DefaultExtension.isEmpty() && QFileInfo(answer).suffix().isEmpty() && !QFileInfo(answer).isDir()) {
        name += "." + s.DefaultExtension;
      }
      if (save && QFileInfo(name).exists() && !QFileInfo(name).isDir()) {
        overwriteQuestions << QFileInfo(name).fileName() + " already exists.\nDo you want to replace it?";
        if (overwriteAnswers.isEmpty() || !overwriteAnswers.takeFirst()) continue;
      }
      s.FileName = name;
      return true;
    }
  }
};

}  // namespace cellbrook::test
