// Start-up: the command line, the application, then the main window, the
// export dialog and the About window, in that order; a file named on the
// command line opens as the open command would; the event loop until Exit
// or close.
#include <QApplication>
#include <QFont>
#include <QMessageBox>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <exception>

#include "win/command_line.h"
#include "win/tform3.h"
#include "win/tform2.h"
#include "win/tform1.h"

namespace {

void ShowException(const QString& message) { QMessageBox::critical(nullptr, QApplication::applicationName(), message); }

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

QStringList Arguments(int argc, char** argv) {
  QStringList list;
  for (int i = 0; i < argc; ++i) list << QString::fromLocal8Bit(argv[i]);
  return list;
}

// Help and usage need no display; 0 when the program is to run on.
int Answered(const cellbrook::StartRequest& request) {
  if (request.action == cellbrook::StartRequest::Run) return 0;
  const QByteArray text = request.text.toLocal8Bit();
  std::fputs(text.constData(), request.action == cellbrook::StartRequest::Usage ? stderr : stdout);
  return request.action == cellbrook::StartRequest::Usage ? 1 : -1;
}

}  // namespace

int main(int argc, char** argv) {
  cellbrook::StartRequest request = cellbrook::ParseStartArguments(Arguments(argc, argv));
  if (request.action == cellbrook::StartRequest::Help || request.action == cellbrook::StartRequest::Version) {
    Answered(request);
    return 0;
  }
  CellbrookApplication app(argc, argv);
  // The application has taken its own options (-platform, -style, ...) out.
  request = cellbrook::ParseStartArguments(QApplication::arguments());
  if (Answered(request) != 0) return 1;
  std::setlocale(LC_ALL, "");
  app.setApplicationName("Cellbrook");
  // The forms name the fonts they were drawn with; these stand in for them
  // with close metrics where the originals are missing.
  QFont::insertSubstitutions("MS Sans Serif", {"Liberation Sans", "Nimbus Sans", "Arial", "DejaVu Sans Condensed"});
  QFont::insertSubstitutions("Verdana", {"DejaVu Sans", "Liberation Sans"});
  try {
    cellbrook::Form1 = new cellbrook::TForm1();
    cellbrook::Form2 = new cellbrook::TForm2();
    cellbrook::Form3 = new cellbrook::TForm3();
    cellbrook::Form1->show();
    if (!request.file.isEmpty()) {
      // Once the window stands, so that any box has its owner in view.
      QTimer::singleShot(0, cellbrook::Form1, [file = request.file] { cellbrook::Form1->OpenNamedFile(file); });
    }
    app.exec();
  } catch (const std::exception& e) {
    ShowException(QString::fromUtf8(e.what()));
  } catch (...) {
    ShowException(QString());
  }
  return 0;
}
