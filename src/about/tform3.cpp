#include "about/tform3.h"

namespace cellbrook {

TForm3* Form3 = nullptr;

TForm3::TForm3(QWidget* parent) : QDialog(parent) { setupUi(this); }

}  // namespace cellbrook
