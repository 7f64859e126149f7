// The key details flows in a real X window: Xvfb started here, the real
// dialogs (no scripted seam), keys sent with QTest. Ctrl+G goes to a key
// typed with completion, Alt+Enter shows its details, a double click opens
// its value's data and a click in the dump reads the bytes there; with the
// deleted records shown, a recovered value's data open the same way; each
// window comes up exactly once.
#include <QApplication>
#include <QCompleter>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStandardPaths>
#include <QTextBlock>
#include <QTimer>
#include <QtTest>
#include <csignal>
#include <cstdio>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "descriptor_builder.h"
#include "shared_hives.h"
#include "win/data_view_dialog.h"
#include "win/go_to_key_dialog.h"
#include "win/key_details_dialog.h"
#include "win/tform1.h"

extern char** environ;

namespace {

constexpr int kSkipped = 77;

// Starts Xvfb on the first free display of :81 to :89; its pid, or -1.
pid_t StartXvfb(const std::string& xvfb, int& display) {
  for (display = 81; display <= 89; ++display) {
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
    for (int i = 0; i < 100; ++i) {
      if (::stat(socket.c_str(), &st) == 0) return pid;
      int status;
      if (::waitpid(pid, &status, WNOHANG) == pid) break;
      ::usleep(100000);
    }
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
  return -1;
}

QString SmokeHive() {
  using namespace cellbrook::test;
  HiveBuilder b;
  const uint32_t root = b.Key("ROOT-NAME");
  const uint32_t software = b.Key("Software", root);
  const uint32_t vendor = b.Key("Vendor", software);
  b.SetSubkeys(root, {software});
  b.SetSubkeys(software, {vendor});
  const Bytes dacl = AclBytes({AceBytes(cellbrook::AceAccessAllowed, 0x02, 0xF003F, kAdmins)});
  const uint32_t sk = b.SecurityCell(
      DescriptorBytes({cellbrook::descriptor_field::SelfRelative | cellbrook::descriptor_field::DaclPresent, &kSystem,
                       &kSystem, &dacl}),
      3);
  for (uint32_t k : {root, software, vendor}) b.SetSecurity(k, sk);
  b.SetClassName(vendor, u"c1a55");
  // A value dropped from the list: its slot past the count, its cell freed.
  const uint32_t dropped = b.Value("Dropped", 3, {0x11, 0x22, 0x33, 0x44});
  b.SetValues(vendor, {b.Value("data", 3, {0xEF, 0xBE, 0xAD, 0xDE}), dropped});
  b.Put32(vendor + 0x28, 1);
  b.SetRoot(root);
  b.Free(dropped);
  return QString::fromStdString(WriteScratchFile("x-details.hive", b.Image()));
}

int Fail(const char* what) {
  std::fprintf(stderr, "x-details-smoke: %s\n", what);
  return 1;
}

// Answers each modal window once, from a timer of its own.
struct User {
  int goTo = 0, details = 0, dataViews = 0, others = 0;
  QString detailsPath, detailsClass;
  QStringList readings;  // uint16 at byte 2, a data view each
  QSet<QWidget*> seen;

  void Look() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || seen.contains(modal)) return;
    seen.insert(modal);
    QTimer::singleShot(0, modal, [this, modal] { Answer(modal); });
  }
  void Answer(QWidget* modal) {
    (void)QTest::qWaitForWindowExposed(modal);
    if (auto* go = qobject_cast<cellbrook::GoToKeyDialog*>(modal)) {
      ++goTo;
      QTest::keyClicks(go->PathEdit, "Software\\Ve");
      QTest::qWait(100);
      if (go->PathEdit->completer()->popup()->isVisible()) {
        QTest::keyClick(go->PathEdit->completer()->popup(), Qt::Key_Down);
        QTest::keyClick(go->PathEdit->completer()->popup(), Qt::Key_Return);
      }
      if (go->isVisible()) QTest::keyClick(go->PathEdit, Qt::Key_Return);
    } else if (auto* d = qobject_cast<cellbrook::KeyDetailsDialog*>(modal)) {
      ++details;
      detailsPath = d->PathValue->text();
      detailsClass = d->ClassNameValue->text();
      QTest::keyClick(d, Qt::Key_Escape);
    } else if (auto* view = qobject_cast<cellbrook::DataViewDialog*>(modal)) {
      ++dataViews;
      QPlainTextEdit* hex = view->Form().HexView;
      QTextCursor at(hex->document()->firstBlock());
      at.setPosition(10 + 3 * 2);  // byte 2
      QTest::mouseClick(hex->viewport(), Qt::LeftButton, {}, hex->cursorRect(at).center());
      for (int i = 0; i < view->Form().Interpreter->topLevelItemCount(); ++i) {
        if (view->Form().Interpreter->topLevelItem(i)->text(0) == "uint16") {
          readings << view->Form().Interpreter->topLevelItem(i)->text(1);
        }
      }
      QTest::keyClick(view, Qt::Key_Escape);
    } else {
      ++others;
      modal->close();
    }
    seen.remove(modal);
  }
};

int RunFlow() {
  using namespace cellbrook;
  auto form = std::make_unique<TForm1>();
  Form1 = form.get();
  form->show();
  if (!QTest::qWaitForWindowExposed(form.get())) return Fail("the main window did not show");
  form->activateWindow();
  (void)QTest::qWaitForWindowActive(form.get());
  form->OpenNamedFile(SmokeHive());
  User user;
  QTimer watcher;
  QObject::connect(&watcher, &QTimer::timeout, [&] { user.Look(); });
  watcher.start(50);

  QTest::keyClick(form->TreeView1, Qt::Key_G, Qt::ControlModifier);
  if (form->StatusPanel0->text() != "ROOT\\Software\\Vendor") return Fail("Ctrl+G did not go to the key");
  // No window manager gives the focus back when a dialog goes: as a user's click would.
  form->activateWindow();
  (void)QTest::qWaitForWindowActive(form.get());
  QTest::keyClick(form->TreeView1, Qt::Key_Return, Qt::AltModifier);
  const QRect row = form->ListView1->visualItemRect(form->ListView1->topLevelItem(0));
  QTest::mouseClick(form->ListView1->viewport(), Qt::LeftButton, {}, row.center());
  QTest::mouseDClick(form->ListView1->viewport(), Qt::LeftButton, {}, row.center());
  QTest::qWait(500);  // anything that would come up twice has had its time
  watcher.stop();
  // View > Last written column from the keyboard, through the real menu bar.
  form->activateWindow();
  (void)QTest::qWaitForWindowActive(form.get());
  QTest::keyClick(form.get(), Qt::Key_V, Qt::AltModifier);
  QTest::qWait(200);
  QWidget* view = QApplication::activePopupWidget();
  if (view == nullptr) return Fail("Alt+V did not open the View menu");
  QTest::keyClick(view, Qt::Key_L);
  QTest::qWait(200);
  const QTreeWidgetItem* key = form->TreeView1->currentItem();
  if (form->TreeView1->isColumnHidden(1) || key == nullptr || key->text(1).isEmpty()) {
    return Fail("View > Last written column did not show the key's time");
  }
  // View > Show deleted keys and values, then the recovered value's data.
  QTest::keyClick(form.get(), Qt::Key_V, Qt::AltModifier);
  QTest::qWait(200);
  view = QApplication::activePopupWidget();
  if (view == nullptr) return Fail("Alt+V did not open the View menu");
  QTest::keyClick(view, Qt::Key_S);
  QTest::qWait(200);
  QTreeWidgetItem* recovered = nullptr;
  for (int i = 0; i < form->ListView1->topLevelItemCount(); ++i) {
    if (form->ListView1->topLevelItem(i)->text(0) == "Dropped") recovered = form->ListView1->topLevelItem(i);
  }
  if (recovered == nullptr) return Fail("the recovered value is not listed");
  watcher.start(50);
  const QRect recoveredRow = form->ListView1->visualItemRect(recovered);
  QTest::mouseClick(form->ListView1->viewport(), Qt::LeftButton, {}, recoveredRow.center());
  QTest::mouseDClick(form->ListView1->viewport(), Qt::LeftButton, {}, recoveredRow.center());
  QTest::qWait(500);
  watcher.stop();
  std::printf("x-details-smoke: go to %d, details %d, data views %d, others %d\n", user.goTo, user.details,
              user.dataViews, user.others);
  Form1 = nullptr;
  if (user.goTo != 1 || user.details != 1 || user.dataViews != 2 || user.others != 0) {
    return Fail("expected each window exactly once");
  }
  if (user.detailsPath != "ROOT\\Software\\Vendor" || user.detailsClass != "c1a55") {
    return Fail(qPrintable("the details showed " + user.detailsPath + " / " + user.detailsClass));
  }
  if (user.readings != QStringList{QString::number(0xDEAD), QString::number(0x4433)}) {
    return Fail(qPrintable("the interpreter read " + user.readings.join(", ")));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const QString xvfb = QStandardPaths::findExecutable("Xvfb");
  if (xvfb.isEmpty()) {
    std::printf("x-details-smoke: Xvfb not found; skipping the smoke test in a real X window\n");
    return kSkipped;
  }
  int display = 0;
  const pid_t server = StartXvfb(xvfb.toStdString(), display);
  if (server < 0) return Fail("could not start Xvfb on any of :81 to :89");
  ::setenv("DISPLAY", (":" + std::to_string(display)).c_str(), 1);
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  int result = 1;
  {
    QApplication app(argc, argv);
    result = RunFlow();
  }
  ::kill(server, SIGTERM);
  ::waitpid(server, nullptr, 0);
  return result;
}
