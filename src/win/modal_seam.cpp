#include "win/modal_seam.h"

#include <QAction>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>

namespace cellbrook {
namespace {

class RealModalSeam : public ModalSeam {
 public:
  bool OpenFile(QWidget* owner, FileDialogSettings& settings) override {
    return Run(owner, settings, QFileDialog::AcceptOpen);
  }
  bool SaveFile(QWidget* owner, FileDialogSettings& settings) override {
    return Run(owner, settings, QFileDialog::AcceptSave);
  }
  void Message(QWidget* owner, const QString& text, const QString& caption, BoxIcon icon) override {
    QMessageBox box(icon == BoxIcon::Error ? QMessageBox::Critical : QMessageBox::Information, caption, text,
                    QMessageBox::Ok, owner);
    box.exec();
  }
  bool Ask(QWidget* owner, const QString& text, const QString& caption) override {
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, owner);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
  }
  QAction* Popup(QMenu* menu, const QPoint& screenPoint) override { return menu->exec(screenPoint); }
  bool OpenUrl(QWidget*, const QUrl& url) override { return QDesktopServices::openUrl(url); }

 private:
  static bool Run(QWidget* owner, FileDialogSettings& settings, QFileDialog::AcceptMode mode) {
    QFileDialog dialog(owner);
    dialog.setAcceptMode(mode);
    dialog.setNameFilter(settings.FilterName + " (" + settings.FilterPattern + ")");
    dialog.setFileMode(settings.MustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::ReadOnly, false);
    // Replacing an existing file is asked first (No keeps it, and the
    // dialog stays for another name).
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setSizeGripEnabled(true);
    if (!settings.DefaultExtension.isEmpty()) dialog.setDefaultSuffix(settings.DefaultExtension);
    if (!settings.FileName.isEmpty()) dialog.selectFile(settings.FileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    settings.FileName = dialog.selectedFiles().front();
    return true;
  }
};

RealModalSeam realSeam;
ModalSeam* current = &realSeam;

}  // namespace

ModalSeam& Modal() { return *current; }
void SetModalSeam(ModalSeam* seam) { current = seam ? seam : &realSeam; }

}  // namespace cellbrook
