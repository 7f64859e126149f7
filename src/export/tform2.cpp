#include "export/tform2.h"

namespace cellbrook {

TForm2* Form2 = nullptr;

TForm2::TForm2(QWidget* parent) : QDialog(parent) { setupUi(this); }

}  // namespace cellbrook
