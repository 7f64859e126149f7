#include "win/hive_info_dialog.h"

#include <QFontDatabase>
#include <QPushButton>

namespace cellbrook {

HiveInfoDialog::HiveInfoDialog(QWidget* parent) : QDialog(parent) {
  setupUi(this);
  InfoText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void HiveInfoDialog::SetInfo(const QString& text) {
  InfoText->setPlainText(text);
  Buttons->button(QDialogButtonBox::Close)->setFocus();
}

}  // namespace cellbrook
