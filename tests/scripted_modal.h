// A modal seam for window tests: answers file dialogs from a script and
// records every message box, pop-up menu and web page the user would see.
#pragma once

#include <QAction>
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

  bool OpenFile(QWidget*, FileDialogSettings& s) override { return Answer(s); }
  bool SaveFile(QWidget*, FileDialogSettings& s) override { return Answer(s); }
  void Message(QWidget* owner, const QString& text, const QString& caption, BoxIcon icon) override {
    boxes.push_back({owner, text, caption, icon});
  }
  bool Ask(QWidget* owner, const QString& text, const QString& caption) override {
    questions.push_back({owner, text, caption, BoxIcon::Information});
    return askAnswers.isEmpty() ? true : askAnswers.takeFirst();
  }
  QAction* Popup(QMenu* menu, const QPoint& at) override {
    popups.push_back({menu, at});
    return popupChoice >= 0 ? menu->actions().value(popupChoice) : nullptr;
  }
  bool OpenUrl(QWidget*, const QUrl& url) override {
    urls.push_back(url);
    return true;
  }

 private:
  bool Answer(FileDialogSettings& s) {
    fileDialogs.push_back(s);
    const QString answer = fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
    if (answer.isEmpty()) return false;
    s.FileName = answer;
    return true;
  }
};

}  // namespace cellbrook::test
