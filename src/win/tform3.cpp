#include "win/tform3.h"

#include "win/form_font.h"

#include <QKeyEvent>
#include <algorithm>
#include <QUrl>

#include "win/modal_seam.h"

namespace cellbrook {

TForm3* Form3 = nullptr;
const char* const kMakerPage = "https://www.example.org/cellbrook/";
const char* const kRelatedProductPage = "https://www.example.org/cellrescue/";

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
  setupUi(this);
  UseFormFont(this);
  setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  QFont title = Label1->font();
  title.setPixelSize(19);
  Label1->setFont(title);
  QFont link = Label8->font();
  link.setUnderline(true);
  Label8->setFont(link);
  // Labels follow their text; should the font standing in for the form's be
  // wider, the window widens rather than cut a line.
  int width = 296;
  for (QLabel* label : findChildren<QLabel*>()) {
    if (label == Image1) continue;
    label->adjustSize();
    width = std::max(width, label->geometry().right() + 3);
  }
  setFixedSize(width, 198);
  Button1->setFocusPolicy(Qt::StrongFocus);
  Button1->setDefault(true);  // Enter closes, like the space bar
  connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
  connect(Label8, &LinkLabel::clicked, this, &TForm3::Label8Click);
  connect(Label6, &LinkLabel::clicked, this, &TForm3::Label6Click);
}

void TForm3::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  Button1->setFocus();
}

void TForm3::keyPressEvent(QKeyEvent* event) {
  // Escape closes the window, as its Close button does.
  if (event->key() == Qt::Key_Escape) return Button1Click();
  QDialog::keyPressEvent(event);
}

void TForm3::Button1Click() { reject(); }

void TForm3::Label8Click() { Modal().OpenUrl(this, QUrl(kMakerPage)); }

void TForm3::Label6Click() { Modal().OpenUrl(this, QUrl(kRelatedProductPage)); }

}  // namespace cellbrook
