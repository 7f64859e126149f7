// Starting the browser: its command line, a file named there or dropped on
// the window, opened as the open command opens a file.
#include <QDir>
#include <QMimeData>
#include <QProcess>
#include <QtTest>
#include <memory>

#include "hive_builder.h"
#include "shared_hives.h"
#include "win/command_line.h"
#include "win/tform1.h"
#include "window_fixture.h"

using namespace cellbrook;

namespace {

QString SmallHive() {
  test::HiveBuilder b;
  const uint32_t root = b.Key("ROOT-NAME");
  const uint32_t key = b.Key("Software", root);
  b.SetSubkeys(root, {key});
  b.SetValues(key, {b.Value("v", 4, {1, 0, 0, 0})});
  b.SetRoot(root);
  return QString::fromStdString(test::WriteScratchFile("start.hive", b.Image()));
}

struct Run {
  int code;
  QString out, err;
};

Run RunBrowser(const QStringList& arguments) {
  QProcess p;
  p.start(CELLBROOK_BROWSER, arguments);
  if (!p.waitForFinished(20000)) {
    p.kill();
    p.waitForFinished();
    return {-1, {}, "did not end"};
  }
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2, QString::fromLocal8Bit(p.readAllStandardOutput()),
          QString::fromLocal8Bit(p.readAllStandardError())};
}

}  // namespace

class StartTest : public QObject, test::WindowFixture {
  Q_OBJECT

 private slots:
  void init() { Start(); }
  void cleanup() { Stop(); }

  void arguments_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("file");
    const int run = StartRequest::Run, help = StartRequest::Help, version = StartRequest::Version,
              usage = StartRequest::Usage;
    QTest::newRow("nothing") << QStringList{} << run << "";
    QTest::newRow("a file") << QStringList{"SYSTEM"} << run << "SYSTEM";
    QTest::newRow("help") << QStringList{"--help"} << help << "";
    QTest::newRow("-h") << QStringList{"-h"} << help << "";
    QTest::newRow("help wins over a file") << QStringList{"a", "--help"} << help << "";
    QTest::newRow("version") << QStringList{"--version"} << version << "";
    QTest::newRow("unknown option") << QStringList{"--bogus"} << usage << "";
    QTest::newRow("two files") << QStringList{"a", "b"} << usage << "";
    QTest::newRow("a file after --") << QStringList{"--", "-odd"} << run << "-odd";
    QTest::newRow("- is a file") << QStringList{"-"} << run << "-";
  }
  void arguments() {
    QFETCH(QStringList, arguments);
    QFETCH(int, action);
    QFETCH(QString, file);
    const StartRequest r = ParseStartArguments(QStringList{"cellbrook"} + arguments);
    QCOMPARE(int(r.action), action);
    QCOMPARE(r.file, file);
    if (action == StartRequest::Usage) QVERIFY(r.text.contains("Usage: cellbrook [FILE]"));
  }

  void theProgramAnswers() {
    const Run help = RunBrowser({"--help"});
    QCOMPARE(help.code, 0);
    QVERIFY(help.out.startsWith("Usage: cellbrook [FILE]\n"));
    QVERIFY(help.err.isEmpty());
    const Run version = RunBrowser({"--version"});
    QCOMPARE(version.code, 0);
    QCOMPARE(version.out, QString("cellbrook %1\n").arg(kProgramVersion));
    for (const QStringList& wrong : {QStringList{"--bogus"}, QStringList{"a.dat", "b.dat"}}) {
      const Run r = RunBrowser(wrong);
      QCOMPARE(r.code, 1);
      QVERIFY(r.out.isEmpty());
      QVERIFY2(r.err.contains("Usage: cellbrook [FILE]"), qPrintable(r.err));
    }
  }

  void aNamedFileOpensAsTheOpenCommandWould() {
    const QString path = SmallHive();
    modal->fileAnswers << path;
    form->Openregistryfile1Click();
    const QString viaDialog = Top()->text(0);
    QCOMPARE(viaDialog, path + ": ROOT-NAME");
    form->ListView1->addTopLevelItem(new QTreeWidgetItem(QStringList{"stale"}));
    // A relative name, as typed in a shell: opened under its full path,
    // which the open dialog offers next time.
    form->OpenNamedFile(QDir::current().relativeFilePath(path));
    QCOMPARE(Top()->text(0), viaDialog);
    QCOMPARE(Top()->childCount(), 1);
    QCOMPARE(form->ListView1->topLevelItemCount(), 0);
    QCOMPARE(form->OpenDialog1.FileName, path);
    QCOMPARE(modal->fileDialogs.size(), 1);  // no dialog for a named file
    // The same box as the open command for a file that cannot be opened.
    const QString missing = QString::fromStdString(test::ScratchPath("start-missing.hive"));
    form->OpenNamedFile(missing);
    QCOMPARE(modal->boxes.size(), 1);
    QCOMPARE(modal->boxes[0].text.section('\n', 0, 0), QString("Can not open source file!"));
    QCOMPARE(modal->boxes[0].caption, QString("Error"));
    QCOMPARE(modal->boxes[0].owner, form.get());
    QCOMPARE(Top()->text(0), QString("(no file opened)"));
    QCOMPARE(form->OpenDialog1.FileName, missing);
  }

  void aDroppedFileOpens() {
    const QString path = SmallHive();
    auto drop = [&](const QList<QUrl>& urls) {
      QMimeData data;
      data.setUrls(urls);
      const QPoint at = form->rect().center();
      QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
      QCoreApplication::sendEvent(form.get(), &enter);
      if (!enter.isAccepted()) return false;
      QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
      QCoreApplication::sendEvent(form.get(), &dropped);
      return dropped.isAccepted();
    };
    QVERIFY(form->acceptDrops());
    QVERIFY(!drop({QUrl::fromLocalFile(path), QUrl::fromLocalFile(path)}));  // one file at a time
    QVERIFY(!drop({QUrl("https://www.example.org/SYSTEM")}));
    QCOMPARE(Top()->text(0), QString("(no file opened)"));
    QVERIFY(drop({QUrl::fromLocalFile(path)}));
    QCOMPARE(Top()->text(0), path + ": ROOT-NAME");
    QCOMPARE(form->OpenDialog1.FileName, path);
    QVERIFY(modal->fileDialogs.isEmpty());
  }
};

QTEST_MAIN(StartTest)
#include "window_start_test.moc"
