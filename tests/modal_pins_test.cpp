// Holds the scripted seam to the real widgets: each modal kind runs once
// as the real Qt widget (offscreen, driven by key events) and once through
// the scripted seam, and both must answer the caller alike.
#include <QDir>
#include <QFileDialog>
#include <QCompleter>
#include <QAbstractItemView>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>

#include "scripted_modal.h"
#include "shared_hives.h"
#include "win/modal_seam.h"

using namespace cellbrook;

namespace {

// Runs `act` on the widget once it is up (the active pop-up or modal
// window), from inside the nested event loop that shows it.
void WhenShown(std::function<QWidget*()> find, std::function<void(QWidget*)> act) {
  auto* timer = new QTimer();
  timer->setInterval(20);
  auto tries = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [=] {
    QWidget* w = find();
    if (w == nullptr && ++*tries < 250) return;
    timer->stop();
    timer->deleteLater();
    if (w != nullptr) act(w);
  });
  timer->start();
}

QWidget* ActivePopup() { return QApplication::activePopupWidget(); }
QWidget* ActiveModal() { return QApplication::activeModalWidget(); }

// What a caller of Popup can see: the signals in order, and the result.
struct MenuLog {
  QStringList events;
  void Watch(QMenu* menu) {
    QObject::connect(menu, &QMenu::aboutToShow, [this] { events << "aboutToShow"; });
    QObject::connect(menu, &QMenu::aboutToHide, [this] { events << "aboutToHide"; });
    QObject::connect(menu, &QMenu::triggered, [this](QAction* a) { events << "menu:" + a->text(); });
    for (QAction* a : menu->actions()) {
      QObject::connect(a, &QAction::triggered, [this, a] { events << "action:" + a->text(); });
    }
  }
};

QString ScratchDir() {
  const QString dir = QString::fromStdString(test::ScratchPath("modal-pins"));
  QDir(dir).removeRecursively();
  QDir().mkpath(dir);
  return dir;
}

}  // namespace

class ModalPinsTest : public QObject {
  Q_OBJECT

  QStringList refusals;  // boxes a real file dialog showed over itself

  // The menu picks its second item with Down, Down, Return, or is
  // dismissed with Escape.
  struct MenuRun {
    QStringList events;
    QString result;
  };
  MenuRun RunMenu(bool scripted, bool choose) {
    QMenu menu;
    menu.addAction("One");
    menu.addAction("Two");
    MenuLog log;
    log.Watch(&menu);
    QAction* chosen = nullptr;
    if (scripted) {
      test::ScriptedModal modal;
      modal.popupChoice = choose ? 1 : -1;
      chosen = Modal().Popup(&menu, QPoint(10, 10));
    } else {
      WhenShown(ActivePopup, [choose](QWidget* w) {
        if (choose) {
          QTest::keyClick(w, Qt::Key_Down);
          QTest::keyClick(w, Qt::Key_Down);
          QTest::keyClick(w, Qt::Key_Return);
        } else {
          QTest::keyClick(w, Qt::Key_Escape);
        }
      });
      chosen = Modal().Popup(&menu, QPoint(10, 10));
    }
    return {log.events, chosen ? chosen->text() : QString()};
  }

  // A file dialog answered by typing `typed` and Return, or by Escape.
  struct FileRun {
    bool accepted;
    QString fileName;
  };
  FileRun RunFileDialog(bool scripted, bool save, FileDialogSettings settings, const QString& typed) {
    bool accepted = false;
    if (scripted) {
      test::ScriptedModal modal;
      modal.fileAnswers << typed;
      accepted = save ? Modal().SaveFile(nullptr, settings) : Modal().OpenFile(nullptr, settings);
    } else {
      WhenShown(ActiveModal, [this, typed](QWidget* w) {
        QPointer<QFileDialog> dialog = qobject_cast<QFileDialog*>(w);
        QVERIFY(dialog != nullptr);
        QVERIFY(dialog->testOption(QFileDialog::DontUseNativeDialog));
        if (typed.isEmpty()) return QTest::keyClick(dialog, Qt::Key_Escape);
        auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
        QVERIFY(edit != nullptr);
        // The dialog opens in the folder of the last name; the user types
        // a name there.
        QCOMPARE(dialog->directory().absolutePath(), QFileInfo(typed).absolutePath());
        // The folder is read in the background; a user sees it listed first.
        auto* list = dialog->findChild<QListView*>("listView");
        QVERIFY(list != nullptr);
        QTest::qWaitFor([list] { return list->model()->rowCount(list->rootIndex()) > 0; }, 2000);
        // The user types where the focus is: the dialog tracks its list's
        // selection only while the name field has the focus.
        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);  // over the offered name
        QTest::keyClicks(edit, QFileInfo(typed).fileName());
        // A completion list that came up takes the first Return, as it
        // would from a user.
        if (edit->completer() && edit->completer()->popup()->isVisible()) {
          QTest::keyClick(edit->completer()->popup(), Qt::Key_Return);
        }
        // A refused name brings up a box over the dialog; close it as a user would.
        WhenShown(
            [dialog]() -> QWidget* {
              auto* box = qobject_cast<QMessageBox*>(ActiveModal());
              return box && dialog && box->parentWidget() == dialog ? box : nullptr;
            },
            [this](QWidget* box) {
              refusals << static_cast<QMessageBox*>(box)->text();
              QTest::keyClick(box, Qt::Key_Return);
            });
        QTest::keyClick(edit, Qt::Key_Return);
        if (dialog && dialog->isVisible()) QTest::keyClick(dialog, Qt::Key_Escape);
      });
      accepted = save ? Modal().SaveFile(nullptr, settings) : Modal().OpenFile(nullptr, settings);
    }
    return {accepted, settings.FileName};
  }

 private slots:
  void menuChoiceFiresOnceBeforeReturning() {
    const MenuRun real = RunMenu(false, true);
    QCOMPARE(real.result, QString("Two"));
    // The menu hears of its action first: it connected to it before we did.
    QCOMPARE(real.events, (QStringList{"aboutToShow", "aboutToHide", "menu:Two", "action:Two"}));
    const MenuRun scripted = RunMenu(true, true);
    QCOMPARE(scripted.result, real.result);
    QCOMPARE(scripted.events, real.events);
  }

  void menuDismissedFiresNothing() {
    const MenuRun real = RunMenu(false, false);
    QCOMPARE(real.result, QString());
    QCOMPARE(real.events, (QStringList{"aboutToShow", "aboutToHide"}));
    const MenuRun scripted = RunMenu(true, false);
    QCOMPARE(scripted.result, real.result);
    QCOMPARE(scripted.events, real.events);
  }

  void fileDialogsAnswerAlike_data() {
    QTest::addColumn<bool>("save");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("typed");  // relative to a scratch folder; empty: Escape
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("chosen");  // likewise; "<kept>": the old name
    QTest::newRow("open existing") << false << ""
                                   << "hive.dat" << true << "hive.dat";
    QTest::newRow("open cancelled") << false << ""
                                    << "" << false << "<kept>";
    QTest::newRow("save plain") << true << ""
                                << "out.bin" << true << "out.bin";
    QTest::newRow("save adds suffix") << true << "reg"
                                      << "out" << true << "out.reg";
    QTest::newRow("save keeps suffix") << true << "reg"
                                       << "out.txt" << true << "out.txt";
    QTest::newRow("save cancelled") << true << "reg"
                                    << "" << false << "<kept>";
  }
  void fileDialogsAnswerAlike() {
    QFETCH(bool, save);
    QFETCH(QString, extension);
    QFETCH(QString, typed);
    QFETCH(bool, accepted);
    QFETCH(QString, chosen);
    const QString dir = ScratchDir();
    for (const char* name : {"/hive.dat", "/before.dat"}) {
      QFile file(dir + name);
      QVERIFY(file.open(QIODevice::WriteOnly));
    }
    FileDialogSettings settings;
    settings.FilterName = "Any files";
    settings.FilterPattern = "*";
    settings.DefaultExtension = extension;
    settings.MustExist = !save;
    settings.FileName = dir + "/before.dat";
    const QString answer = typed.isEmpty() ? QString() : dir + "/" + typed;
    const QString expected = chosen == "<kept>" ? settings.FileName : dir + "/" + chosen;
    const FileRun real = RunFileDialog(false, save, settings, answer);
    QCOMPARE(real.accepted, accepted);
    QCOMPARE(real.fileName, expected);
    const FileRun scripted = RunFileDialog(true, save, settings, answer);
    QCOMPARE(scripted.accepted, real.accepted);
    QCOMPARE(scripted.fileName, real.fileName);
  }

  void openDialogRefusesAMissingFile() {
    // The real dialog keeps a missing name from the caller; the scripted
    // one lets tests stand for a file that vanished after it was chosen.
    FileDialogSettings settings;
    settings.FilterName = "Any files";
    settings.FilterPattern = "*";
    settings.MustExist = true;
    settings.FileName = ScratchDir() + "/before.dat";
    refusals.clear();
    const FileRun real = RunFileDialog(false, false, settings, QFileInfo(settings.FileName).path() + "/missing.dat");
    QVERIFY(!real.accepted);
    QCOMPARE(refusals.size(), 1);
  }

  // Saving onto an existing file asks first, as the scripted seam does:
  // the box's default is No, which keeps the file and chooses nothing;
  // Yes replaces.
  void overwriteQuestionAnswersAlike_data() {
    QTest::addColumn<bool>("yes");
    QTest::newRow("No, the default") << false;
    QTest::newRow("Yes") << true;
  }
  void overwriteQuestionAnswersAlike() {
    QFETCH(bool, yes);
    const QString dir = ScratchDir();
    const QString existing = dir + "/kept.bin";
    {
      QFile file(existing);
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write("old");
    }
    FileDialogSettings settings;
    settings.FilterName = "Any files";
    settings.FilterPattern = "*";
    settings.FileName = dir + "/before.bin";
    QString question;
    bool defaultIsNo = false;
    WhenShown(ActiveModal, [&](QWidget* w) {
      QPointer<QFileDialog> dialog = qobject_cast<QFileDialog*>(w);
      QVERIFY(dialog != nullptr);
      auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
      auto* list = dialog->findChild<QListView*>("listView");
      QVERIFY(edit != nullptr && list != nullptr);
      // Whatever goes wrong below, the dialog does not stay up.
      // After No the dialog stays for another name; the user gives up.
      QTimer::singleShot(2500, dialog, [dialog] {
        if (auto* box = qobject_cast<QMessageBox*>(ActiveModal())) box->done(QMessageBox::No);
        if (dialog) dialog->reject();
      });
      QTest::qWaitFor([list] { return list->model()->rowCount(list->rootIndex()) > 0; }, 2000);
      dialog->activateWindow();
      QVERIFY(QTest::qWaitForWindowActive(dialog));
      edit->setFocus();
      QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
      QTest::keyClicks(edit, "kept.bin");
      if (edit->completer() && edit->completer()->popup()->isVisible()) {
        QTest::keyClick(edit->completer()->popup(), Qt::Key_Return);
      }
      WhenShown([]() -> QWidget* { return qobject_cast<QMessageBox*>(ActiveModal()); },
                [&, dialog](QWidget* w) {
                  auto* box = static_cast<QMessageBox*>(w);
                  question = box->text();
                  defaultIsNo = box->defaultButton() == box->button(QMessageBox::No);
                  box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
                });
      QTest::keyClick(edit, Qt::Key_Return);
    });
    FileDialogSettings real = settings;
    const bool realAccepted = Modal().SaveFile(nullptr, real);
    QCOMPARE(realAccepted, yes);
    QCOMPARE(question, QString("kept.bin already exists.\nDo you want to replace it?"));
    QVERIFY(defaultIsNo);  // as the scripted seam, which says No when nothing is scripted
    QCOMPARE(real.FileName, yes ? existing : settings.FileName);
    test::ScriptedModal modal;
    modal.fileAnswers << existing;
    modal.overwriteAnswers << yes;
    FileDialogSettings scripted = settings;
    QCOMPARE(Modal().SaveFile(nullptr, scripted), realAccepted);
    QCOMPARE(modal.overwriteQuestions, QStringList{question});
    QCOMPARE(scripted.FileName, real.FileName);
    QFile file(existing);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("old"));  // a dialog never writes
  }

  void messageBoxesShowAndCloseAlike_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("icon");
    QTest::newRow("Return, error") << int(Qt::Key_Return) << int(BoxIcon::Error);
    QTest::newRow("Escape, information") << int(Qt::Key_Escape) << int(BoxIcon::Information);
    QTest::newRow("space, error") << int(Qt::Key_Space) << int(BoxIcon::Error);
  }
  void messageBoxesShowAndCloseAlike() {
    QFETCH(int, key);
    QFETCH(int, icon);
    QWidget owner;
    owner.show();
    test::ShownBox seen{nullptr, {}, {}, BoxIcon::Information};
    bool closed = false;
    WhenShown(ActiveModal, [&](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      QVERIFY(box != nullptr);
      seen = {box->parentWidget(), box->text(), box->windowTitle(),
              box->icon() == QMessageBox::Critical ? BoxIcon::Error : BoxIcon::Information};
      QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
      // Keys go where a user's would: to the widget with the focus.
      QTest::keyClick(box->focusWidget() ? box->focusWidget() : box, Qt::Key(key));
      closed = !box->isVisible();
      if (!closed) box->done(0);  // fail, but do not hang
    });
    Modal().Message(&owner, "Value is empty!", "Cellbrook", BoxIcon(icon));
    QVERIFY(closed);  // one key closes the box, whichever of the three
    test::ScriptedModal modal;
    Modal().Message(&owner, "Value is empty!", "Cellbrook", BoxIcon(icon));
    QCOMPARE(modal.boxes.size(), 1);
    QCOMPARE(modal.boxes[0].owner, seen.owner);
    QCOMPARE(modal.boxes[0].text, seen.text);
    QCOMPARE(modal.boxes[0].caption, seen.caption);
    QCOMPARE(modal.boxes[0].icon, seen.icon);
  }

  // The question a dirty hive asks: Yes is the default, as the scripted
  // seam's answer when none is scripted; Escape says No.
  void questionsAnswerAlike_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("yes");
    QTest::newRow("Return") << int(Qt::Key_Return) << true;
    QTest::newRow("Escape") << int(Qt::Key_Escape) << false;
  }
  void questionsAnswerAlike() {
    QFETCH(int, key);
    QFETCH(bool, yes);
    QWidget owner;
    owner.show();
    QString caption;
    WhenShown(ActiveModal, [&](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      QVERIFY(box != nullptr);
      caption = box->windowTitle();
      QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Yes | QMessageBox::No));
      QTest::keyClick(box->focusWidget() ? box->focusWidget() : box, Qt::Key(key));
      if (box->isVisible()) box->done(0);  // fail, but do not hang
    });
    QCOMPARE(Modal().Ask(&owner, "Apply them?", "Cellbrook"), yes);
    QCOMPARE(caption, QString("Cellbrook"));
    test::ScriptedModal modal;
    if (!yes) modal.askAnswers << false;
    QCOMPARE(Modal().Ask(&owner, "Apply them?", "Cellbrook"), yes);
    QCOMPARE(modal.questions.size(), 1);
    QCOMPARE(modal.questions[0].owner, &owner);
  }
};

QTEST_MAIN(ModalPinsTest)
#include "modal_pins_test.moc"
