// Everything modal the main window and its dialogs show: file dialogs,
// message boxes, pop-up menus and web pages. Tests put a scripted seam in
// place to answer them and to see what the user would have seen.
#pragma once

#include <QPoint>
#include <QString>
#include <QUrl>

class QAction;
class QMenu;
class QWidget;

namespace cellbrook {

enum class BoxIcon { Information, Error };

// The settings of one file dialog: a filter of one entry, the name last
// chosen (offered again next time) and the dialog's options.
struct FileDialogSettings {
  QString FilterName;        // e.g. "Any files"
  QString FilterPattern;     // e.g. "*"
  QString DefaultExtension;  // added to a name without one; empty: none
  bool MustExist = false;    // open dialogs: only existing files
  QString FileName;          // the last chosen name
};

class ModalSeam {
 public:
  virtual ~ModalSeam() = default;
  // True when the user chose a file; `settings.FileName` then holds it.
  // A save dialog asks before an existing file is replaced; No keeps the
  // dialog open for another name.
  virtual bool OpenFile(QWidget* owner, FileDialogSettings& settings) = 0;
  virtual bool SaveFile(QWidget* owner, FileDialogSettings& settings) = 0;
  virtual void Message(QWidget* owner, const QString& text, const QString& caption, BoxIcon icon) = 0;
  // A question with Yes (the default) and No; true for Yes.
  virtual bool Ask(QWidget* owner, const QString& text, const QString& caption) = 0;
  // Shows the menu with its top-left corner at `screenPoint` and returns
  // the chosen action, or null when dismissed. Like QMenu::exec, the chosen
  // action has already been triggered when this returns: callers must not
  // trigger it again.
  virtual QAction* Popup(QMenu* menu, const QPoint& screenPoint) = 0;
  virtual bool OpenUrl(QWidget* owner, const QUrl& url) = 0;
};

ModalSeam& Modal();
// Replaces the seam (tests); null puts the real one back.
void SetModalSeam(ModalSeam* seam);

}  // namespace cellbrook
