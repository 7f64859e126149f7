// The real program flow in a real X window: Xvfb started here, the real
// modal widgets (no scripted seam), keys and clicks sent with QTest. Opens
// a hive through the open dialog, right-clicks a value, picks "Save" from
// the pop-up menu, saves once; exactly one save dialog and one file. Then
// compares it with a second hive chosen in the open dialog of "Compare with...".
#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QtTest>
#include <csignal>
#include <cstdio>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "artifact_hive.h"
#include "carve_images.h"
#include "hive_builder.h"
#include "shared_hives.h"
#include "win/artifacts_panel.h"
#include "win/carve_dialog.h"
#include "win/tform1.h"
#include "win/tform2.h"
#include "win/tform3.h"

extern char** environ;

namespace {

constexpr int kSkipped = 77;

// Starts Xvfb on the first free display of :91 to :99; its pid, or -1.
pid_t StartXvfb(const std::string& xvfb, int& display) {
  for (display = 91; display <= 99; ++display) {
    const std::string lock = "/tmp/.X" + std::to_string(display) + "-lock";
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(display);
    struct stat st;
    if (::stat(lock.c_str(), &st) == 0 || ::stat(socket.c_str(), &st) == 0) continue;
    const std::string name = ":" + std::to_string(display);
    const char* argv[] = {xvfb.c_str(), name.c_str(), "-nolisten", "tcp", "-screen", "0", "1280x800x24", nullptr};
    pid_t pid = -1;
    if (::posix_spawn(&pid, xvfb.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
      return -1;
    }
    for (int i = 0; i < 100; ++i) {  // up to 10 s for the socket
      if (::stat(socket.c_str(), &st) == 0) return pid;
      int status;
      if (::waitpid(pid, &status, WNOHANG) == pid) break;  // lost the display to another
      ::usleep(100000);
    }
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
  return -1;
}

QString SmokeHive() {
  cellbrook::test::HiveBuilder b;
  const uint32_t root = b.Key("ROOT-NAME");
  const uint32_t key = b.Key("Software", root);
  b.SetSubkeys(root, {key});
  b.SetValues(key, {b.Value("data", 3, {0xDE, 0xAD, 0xBE, 0xEF})});
  b.SetRoot(root);
  return QString::fromStdString(cellbrook::test::WriteScratchFile("x-smoke.hive", b.Image()));
}

// Answers what comes up, as a user would: the open dialog with the hive,
// the save dialog with the target, the pop-up menu with its first item;
// any further dialog or box is counted and closed. Each answer runs from a
// timer of its own: a timer does not fire again while its slot runs, and
// an answer may bring up the next modal window.
struct User {
  QString hive, target;
  QStringList laterOpens;  // what open dialogs after the first are answered with
  int openDialogs = 0, saveDialogs = 0, menus = 0, carveDialogs = 0;
  int carveRow = 0;  // the hive a carve dialog opens
  QStringList boxes;
  QSet<QWidget*> seen;

  void TypeName(QFileDialog* dialog, const QString& path) {
    auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
    auto* list = dialog->findChild<QListView*>("listView");
    if (edit == nullptr || list == nullptr) return;
    dialog->setDirectory(QFileInfo(path).path());
    (void)QTest::qWaitFor([list] { return list->model()->rowCount(list->rootIndex()) > 0; }, 3000);
    dialog->activateWindow();
    (void)QTest::qWaitForWindowActive(dialog);
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, QFileInfo(path).fileName());
    if (edit->completer() && edit->completer()->popup()->isVisible()) {
      QTest::keyClick(edit->completer()->popup(), Qt::Key_Return);
    }
    if (dialog->isVisible()) QTest::keyClick(edit, Qt::Key_Return);
  }

  // Save dialogs after the first: the targets to type, in turn, and the
  // answer to each "replace?" question.
  QStringList moreTargets;
  QList<bool> replaceAnswers;
  QStringList questions;
  bool giveUpDialog = false;  // after No the dialog stays: close it

  void Look() {
    if (giveUpDialog) {
      if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
        giveUpDialog = false;
        dialog->reject();
        return;
      }
    }
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        box && box->text().contains("already exists") && !seen.contains(box)) {
      seen.insert(box);
      questions << box->text();
      const bool yes = replaceAnswers.isEmpty() ? false : replaceAnswers.takeFirst();
      if (!yes) giveUpDialog = true;
      QTimer::singleShot(0, box, [this, box, yes] {
        seen.remove(box);  // a later box may take the same address
        box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
      });
      return;
    }
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget()); menu && !seen.contains(menu)) {
      seen.insert(menu);
      ++menus;
      QTimer::singleShot(0, menu, [this, menu] {
        (void)QTest::qWaitForWindowExposed(menu);
        QTest::keyClick(menu, Qt::Key_Down);
        QTest::keyClick(menu, Qt::Key_Return);
        seen.remove(menu);  // the same menu may rightly come again later
      });
      return;
    }
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || seen.contains(modal)) return;
    seen.insert(modal);
    QTimer::singleShot(0, modal, [this, modal] { Answer(modal); });
  }

  void Answer(QWidget* modal) {
    if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
      if (dialog->acceptMode() == QFileDialog::AcceptOpen) {
        if (++openDialogs == 1)
          TypeName(dialog, hive);
        else if (!laterOpens.isEmpty())
          TypeName(dialog, laterOpens.takeFirst());
        else
          dialog->reject();
      } else if (++saveDialogs == 1) {
        TypeName(dialog, target);
      } else if (!moreTargets.isEmpty()) {
        TypeName(dialog, moreTargets.takeFirst());
      } else {
        dialog->reject();
      }
    } else if (auto* carve = qobject_cast<cellbrook::CarveDialog*>(modal)) {
      ++carveDialogs;
      (void)QTest::qWaitFor([carve] { return !carve->Scanning() && carve->OpenButton->isEnabled(); }, 10000);
      QTreeWidgetItem* row = carve->HiveList1->topLevelItem(carveRow);
      if (row != nullptr) {
        QTest::mouseClick(carve->HiveList1->viewport(), Qt::LeftButton, {},
                          carve->HiveList1->visualItemRect(row).center());
        QTest::mouseClick(carve->OpenButton, Qt::LeftButton);
      } else {
        QTest::mouseClick(carve->CancelButton, Qt::LeftButton);
      }
    } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      boxes << box->text();
      QTest::keyClick(box, Qt::Key_Return);
    }
    seen.remove(modal);
  }
};

int Fail(const char* what) {
  std::fprintf(stderr, "x-smoke: %s\n", what);
  return 1;
}

int RunFlow() {
  using namespace cellbrook;
  auto form = std::make_unique<TForm1>();
  auto dialog = std::make_unique<TForm2>();
  auto about = std::make_unique<TForm3>();
  Form1 = form.get();
  Form2 = dialog.get();
  Form3 = about.get();
  form->show();
  if (!QTest::qWaitForWindowExposed(form.get())) return Fail("the main window did not show");

  User user;
  user.hive = SmokeHive();
  const QString folder = QString::fromStdString(test::ScratchPath("x-smoke-out"));
  QDir(folder).removeRecursively();
  QDir().mkpath(folder);
  user.target = folder + "/saved.bin";
  QTimer watcher;
  QObject::connect(&watcher, &QTimer::timeout, [&] { user.Look(); });
  watcher.start(50);

  form->Openregistryfile1->trigger();
  QTreeWidgetItem* top = form->TreeView1->topLevelItem(0);
  if (top->text(0) != user.hive + ": ROOT-NAME") return Fail("the hive did not open");
  form->TreeView1->expandAll();
  QTreeWidgetItem* key = top->child(0);
  QTest::mouseClick(form->TreeView1->viewport(), Qt::LeftButton, {}, form->TreeView1->visualItemRect(key).center());
  if (form->ListView1->topLevelItemCount() != 1) return Fail("the value was not listed");
  const QRect row = form->ListView1->visualItemRect(form->ListView1->topLevelItem(0));
  QTest::mousePress(form->ListView1->viewport(), Qt::RightButton, {}, row.center());
  QTest::mouseRelease(form->ListView1->viewport(), Qt::RightButton, {}, row.center());
  QTest::qWait(500);  // anything that would come up twice has had its time
  watcher.stop();

  const QStringList written = QDir(folder).entryList(QDir::Files);
  std::printf("x-smoke: open dialogs %d, menus %d, save dialogs %d, boxes %d, files %lld\n", user.openDialogs,
              user.menus, user.saveDialogs, int(user.boxes.size()), static_cast<long long>(written.size()));
  if (user.openDialogs != 1) return Fail("expected one open dialog");
  if (user.menus != 1) return Fail("expected one pop-up menu");
  if (user.saveDialogs != 1) return Fail("expected exactly one save dialog");
  if (!user.boxes.isEmpty()) return Fail(qPrintable("unexpected box: " + user.boxes.join(" | ")));
  if (written != QStringList{"saved.bin"}) return Fail("expected exactly one file written");
  QFile saved(user.target);
  if (!saved.open(QIODevice::ReadOnly) || saved.readAll() != QByteArray("\xDE\xAD\xBE\xEF", 4)) {
    return Fail("the saved file does not hold the value's data");
  }
  Form1 = nullptr;
  Form2 = nullptr;
  Form3 = nullptr;
  return 0;
}

// The smoke hive and the same with one key more.
int RunCompareFlow() {
  using namespace cellbrook;
  cellbrook::test::HiveBuilder b;
  const uint32_t root = b.Key("ROOT-NAME");
  const uint32_t key = b.Key("Software", root), added = b.Key("Added", root);
  b.SetSubkeys(root, {key, added});
  b.SetValues(key, {b.Value("data", 3, {0xDE, 0xAD, 0xBE, 0xEF})});
  b.SetRoot(root);
  const QString second = QString::fromStdString(test::WriteScratchFile("x-smoke-second.hive", b.Image()));
  auto form = std::make_unique<TForm1>();
  Form1 = form.get();
  form->show();
  if (!QTest::qWaitForWindowExposed(form.get())) return Fail("the main window did not show");
  User user;
  user.hive = SmokeHive();
  user.laterOpens << second;
  QTimer watcher;
  QObject::connect(&watcher, &QTimer::timeout, [&] { user.Look(); });
  watcher.start(50);
  form->Openregistryfile1->trigger();
  form->Comparewith1->trigger();
  QTest::qWait(300);
  watcher.stop();
  Form1 = nullptr;
  QTreeWidgetItem* top = form->TreeView1->topLevelItem(0);
  std::printf("x-smoke: compare: open dialogs %d, boxes %d\n", user.openDialogs, int(user.boxes.size()));
  if (user.openDialogs != 2) return Fail("expected two open dialogs");
  if (!user.boxes.isEmpty()) return Fail(qPrintable("unexpected box: " + user.boxes.join(" | ")));
  if (top == nullptr || !top->text(0).contains(QChar(0x2192))) return Fail("the comparison was not shown");
  QTreeWidgetItem* node = nullptr;
  for (int i = 0; i < top->childCount(); ++i) {
    if (top->child(i)->text(0) == "Added") node = top->child(i);
  }
  if (node == nullptr || node->toolTip(0) != "added") return Fail("the added key is not marked");
  QTest::mouseClick(form->TreeView1->viewport(), Qt::LeftButton, {}, form->TreeView1->visualItemRect(node).center());
  if (!form->StatusPanel0->text().endsWith("added")) return Fail("the added key was not selected");
  return 0;
}

// The artifacts flow: View > Artifacts, a record double-clicked selects its
// key, Export... writes the table through the real save dialog once.
int RunArtifactsFlow() {
  using namespace cellbrook;
  using namespace cellbrook::test;
  auto form = std::make_unique<TForm1>();
  Form1 = form.get();
  form->show();
  if (!QTest::qWaitForWindowExposed(form.get())) return Fail("the main window did not show");
  TreeHive t;
  t.Value("Select", "Current", RegDword, Dword(1));
  t.Value("ControlSet001\\Services\\Alpha", "Start", RegDword, Dword(2));
  User user;
  user.hive = QString::fromStdString(WriteScratchFile("x-smoke-artifacts.hive", t.Build()));
  const QString folder = QString::fromStdString(ScratchPath("x-smoke-artifacts-out"));
  QDir(folder).removeRecursively();
  QDir().mkpath(folder);
  user.target = folder + "/services.csv";
  QTimer watcher;
  QObject::connect(&watcher, &QTimer::timeout, [&] { user.Look(); });
  watcher.start(50);

  form->Openregistryfile1->trigger();
  form->Artifacts1->trigger();
  auto* panel = form->findChild<ArtifactsPanel*>();
  if (panel == nullptr || !panel->isVisible()) return Fail("the artifacts panel did not show");
  QTest::qWait(200);
  QListWidget* list = panel->ArtifactList1;
  const QList<QListWidgetItem*> services = list->findItems("services (1)", Qt::MatchExactly);
  if (services.isEmpty()) return Fail("the panel does not list the services");
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(services[0]).center());
  QTableWidget* table = panel->RecordTable1;
  if (table->rowCount() != 1) return Fail("the services table does not hold its record");
  const QPoint cell = table->visualRect(table->model()->index(0, 0)).center();
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell);
  QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell);
  const QTreeWidgetItem* selected = form->TreeView1->currentItem();
  if (selected == nullptr || selected->text(0) != "Alpha") return Fail("the record's key was not selected");
  QTest::mouseClick(panel->Export1, Qt::LeftButton);
  QTest::qWait(500);
  watcher.stop();
  std::printf("x-smoke: artifacts: open dialogs %d, save dialogs %d, boxes %d\n", user.openDialogs, user.saveDialogs,
              int(user.boxes.size()));
  if (user.openDialogs != 1 || user.saveDialogs != 1) return Fail("expected one open and one save dialog");
  if (!user.boxes.isEmpty()) return Fail(qPrintable("unexpected box: " + user.boxes.join(" | ")));
  QFile saved(user.target);
  if (!saved.open(QIODevice::ReadOnly) || !saved.readAll().startsWith("key,control_set,current,name,")) {
    return Fail("the export does not hold the table");
  }
  Form1 = nullptr;
  return 0;
}

// Saving onto the open hive and onto its log, even when the user says
// replace, leaves both as they were; an existing file stays after No.
int RunEvidenceFlow() {
  using namespace cellbrook;
  const QString folder = QString::fromStdString(test::ScratchPath("x-evidence"));
  QDir(folder).removeRecursively();
  QDir().mkpath(folder);
  const QString hive = folder + "/EVIDENCE.DAT";
  if (!QFile::copy(SmokeHive(), hive)) return Fail("could not place the hive");
  const QString log = folder + "/EVIDENCE.DAT.LOG1", other = folder + "/other.bin";
  for (const QString& path : {log, other}) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write("keep") != 4) return Fail("could not write a file");
  }
  auto bytes = [](const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  };
  const QByteArray hiveBefore = bytes(hive);
  auto form = std::make_unique<TForm1>();
  Form1 = form.get();
  form->show();
  if (!QTest::qWaitForWindowExposed(form.get())) return Fail("the main window did not show");
  form->OpenNamedFile(hive);
  form->TreeView1->expandAll();
  form->TreeView1->setCurrentItem(form->TreeView1->topLevelItem(0)->child(0));
  form->TreeView1Click();
  form->ListView1->setCurrentItem(form->ListView1->topLevelItem(0));
  User user;
  user.target = hive;
  user.moreTargets = {log, other};
  user.replaceAnswers = {true, true, false};
  QTimer watcher;
  QObject::connect(&watcher, &QTimer::timeout, [&] { user.Look(); });
  watcher.start(50);
  for (int i = 0; i < 3; ++i) {
    form->Savevalue1->trigger();
    QTest::qWait(200);
  }
  watcher.stop();
  std::printf("x-evidence: save dialogs %d, questions %lld, boxes: %s\n", user.saveDialogs,
              static_cast<long long>(user.questions.size()), qPrintable(user.boxes.join(" | ")));
  Form1 = nullptr;
  if (bytes(hive) != hiveBefore) return Fail("the open hive was written");
  if (bytes(log) != "keep") return Fail("the hive's log was written");
  if (bytes(other) != "keep") return Fail("an existing file was replaced after No");
  // Each existing file is asked about (the last one again should a second
  // Return reach the dialog that stayed after No).
  if (user.questions.size() < 3) return Fail("expected a replace question for each existing file");
  const QString refusal = kEvidenceRefusalText;
  if (user.boxes != QStringList{refusal, refusal}) return Fail("expected two refusals");
  return 0;
}

// Find hives in image through the real dialogs: the image chosen in the
// open dialog, the second hive opened from the list, saved once with Save
// hive as; one of each dialog and one file, the bytes shown.
int RunCarveFlow() {
  using namespace cellbrook;
  auto form = std::make_unique<TForm1>();
  Form1 = form.get();
  form->show();
  if (!QTest::qWaitForWindowExposed(form.get())) return Fail("the main window did not show");
  const test::Bytes hive = test::MultiBinHive(2);
  test::Bytes image = test::JunkImage(0x80000);
  test::Plant(image, 0x8000, hive);
  test::Plant(image, 0x30200, test::Slice(hive, 4096, hive.size()));  // its base block gone

  User user;
  user.hive = QString::fromStdString(test::WriteScratchFile("x-smoke.img", image));
  user.carveRow = 1;
  const QString folder = QString::fromStdString(test::ScratchPath("x-smoke-carved"));
  QDir(folder).removeRecursively();
  QDir().mkpath(folder);
  user.target = folder + "/carved.hive";
  QTimer watcher;
  QObject::connect(&watcher, &QTimer::timeout, [&] { user.Look(); });
  watcher.start(50);
  form->Findhivesinimage1->trigger();
  if (form->TreeView1->topLevelItem(0)->text(0) != user.hive + " at 0x30200: ROOT-NAME") {
    return Fail(qPrintable("the carved hive did not open: " + form->TreeView1->topLevelItem(0)->text(0)));
  }
  form->Savehiveas1->trigger();
  QTest::qWait(500);
  watcher.stop();
  const QStringList written = QDir(folder).entryList(QDir::Files | QDir::Hidden);
  std::printf("x-smoke: carve: open dialogs %d, carve dialogs %d, save dialogs %d, boxes %d, files %lld\n",
              user.openDialogs, user.carveDialogs, user.saveDialogs, int(user.boxes.size()),
              static_cast<long long>(written.size()));
  if (user.openDialogs != 1 || user.carveDialogs != 1 || user.saveDialogs != 1) {
    return Fail("expected one open, one carve and one save dialog");
  }
  if (!user.boxes.isEmpty()) return Fail(qPrintable("unexpected box: " + user.boxes.join(" | ")));
  if (written != QStringList{"carved.hive"}) return Fail("expected exactly one file written");
  QFile saved(user.target);
  if (!saved.open(QIODevice::ReadOnly) ||
      saved.readAll() != QByteArray(reinterpret_cast<const char*>(form->Document().Bytes().data()),
                                    static_cast<qsizetype>(form->Document().Bytes().size()))) {
    return Fail("the saved hive is not the one shown");
  }
  Form1 = nullptr;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  const QString xvfb = QStandardPaths::findExecutable("Xvfb");
  if (xvfb.isEmpty()) {
    std::printf("x-smoke: Xvfb not found; skipping the smoke test in a real X window\n");
    return kSkipped;
  }
  int display = 0;
  const pid_t server = StartXvfb(xvfb.toStdString(), display);
  if (server < 0) return Fail("could not start Xvfb on any of :91 to :99");
  ::setenv("DISPLAY", (":" + std::to_string(display)).c_str(), 1);
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  int result = 1;
  {
    QApplication app(argc, argv);
    result = RunFlow();
    if (result == 0) result = RunArtifactsFlow();
    if (result == 0) result = RunCompareFlow();
    if (result == 0) result = RunEvidenceFlow();
    if (result == 0) result = RunCarveFlow();
  }
  ::kill(server, SIGTERM);
  ::waitpid(server, nullptr, 0);
  return result;
}
