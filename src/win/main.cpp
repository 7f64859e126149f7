// Start-up: the application, then the main window, the export dialog and
// the About window, in that order; the event loop until Exit or close.
#include <QApplication>
#include <QFont>
#include <QMessageBox>
#include <clocale>
#include <exception>

#include "win/tform3.h"
#include "win/tform2.h"
#include "win/tform1.h"

namespace {

void ShowException(const QString& message) {
  QMessageBox::critical(nullptr, QApplication::applicationName(), message);
}

// An exception that escapes a handler is shown once, and ends the program.
class CellbrookApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      ShowException(QString::fromUtf8(e.what()));
    } catch (...) {
      ShowException(QString());
    }
    QApplication::exit(0);
    return false;
  }
};

}  // namespace

int main(int argc, char** argv) {
  CellbrookApplication app(argc, argv);
  std::setlocale(LC_ALL, "");
  app.setApplicationName("Cellbrook");
  // The forms name the fonts they were drawn with; these stand in for them
  // with close metrics where the originals are missing.
  QFont::insertSubstitutions("MS Sans Serif",
                             {"Liberation Sans", "Nimbus Sans", "Arial", "DejaVu Sans Condensed"});
  QFont::insertSubstitutions("Verdana", {"DejaVu Sans", "Liberation Sans"});
  try {
    cellbrook::Form1 = new cellbrook::TForm1();
    cellbrook::Form2 = new cellbrook::TForm2();
    cellbrook::Form3 = new cellbrook::TForm3();
    cellbrook::Form1->show();
    app.exec();
  } catch (const std::exception& e) {
    ShowException(QString::fromUtf8(e.what()));
  } catch (...) {
    ShowException(QString());
  }
  return 0;
}
