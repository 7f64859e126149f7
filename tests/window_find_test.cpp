// Find, the data view and the last written time in the main window,
// offscreen, through real widgets and the modal seam.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>

#include "cli_support.h"
#include "hive_builder.h"
#include "shared_hives.h"
#include "win/data_view_dialog.h"
#include "win/find_dialog.h"
#include "win/tform1.h"
#include "hive/filetime.h"
#include "window_fixture.h"

using namespace cellbrook;
using test::Bytes;
using test::HiveBuilder;
using test::Row;

namespace {

constexpr uint64_t kAlphaTime = 131962628961234567;  // 2019-03-05T12:34:56.1234567Z

// root: Alpha (values "needle" dword, "other" REG_SZ "has needle inside";
// subkey Inner), Needle-Key, Gamma (values "b" REG_SZ "needle", "a"
// REG_BINARY holding the UTF-16 bytes of "needle", "broken" outside the file).
QString FindHive() {
  HiveBuilder b;
  const uint32_t root = b.Key("root");
  const uint32_t alpha = b.Key("Alpha", root), inner = b.Key("Inner", alpha);
  const uint32_t needle = b.Key("Needle-Key", root), gamma = b.Key("Gamma", root);
  b.SetSubkeys(root, {alpha, needle, gamma});
  b.SetSubkeys(alpha, {inner});
  b.SetKeyTime(alpha, kAlphaTime);
  b.SetKeyTime(needle, 0xFFFFFFFFFFFFFFFF);
  b.SetValues(alpha, {b.Value("other", 1, test::Utf16Bytes(u"has needle inside")), b.Value("needle", 4, {1, 0, 0, 0})});
  b.SetValues(inner, {b.Value("z", 1, test::Utf16Bytes(u"x"))});
  const uint32_t broken = b.Value("broken", 3, Bytes(8, 1), test::DataStorage::Cell);
  b.Put32(broken + 0xC, 0x7FFFFF00);
  Bytes big(40000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i);
  b.SetValues(
      gamma, {b.Value("b", 1, test::Utf16Bytes(u"needle")), b.Value("a", 3, test::Utf16Bytes(u"needle", false)), broken,
              b.Value("list", 7, test::Utf16Bytes(std::u16string(u"one\0two\0", 8))), b.Value("big", 3, big)});
  b.SetRoot(root);
  return QString::fromStdString(test::WriteScratchFile("window-find.hive", b.Image()));
}

// Runs `act` on the modal dialog the next exec() shows.
void OnModal(std::function<void(QWidget*)> act) {
  QTimer::singleShot(0, [act] {
    QWidget* dialog = QApplication::activeModalWidget();
    QVERIFY(dialog != nullptr);  // else the test's exec() would never return
    act(dialog);
    if (dialog->isVisible()) dialog->close();
  });
}

}  // namespace

class FindWindowTest : public QObject, test::WindowFixture {
  Q_OBJECT

  QTreeWidgetItem* Key(const QString& caption) {
    const QList<QTreeWidgetItem*> found = form->TreeView1->findItems(caption, Qt::MatchExactly | Qt::MatchRecursive);
    return found.value(0, nullptr);
  }
  FindDialog* Dialog() { return form->findChild<FindDialog*>(); }
  // Where the last find stopped: the key's caption and the selected row's.
  QString Found() {
    QTreeWidgetItem* key = SelectedItem(form->TreeView1);
    QTreeWidgetItem* row = SelectedItem(form->ListView1);
    return (key ? key->text(0) : QString("-")) + "/" + (row ? row->text(0) : QString("-"));
  }
  // Types the text into the dialog, sets the boxes and presses Find Next.
  void FindThroughDialog(const QString& text, bool keys, bool values, bool data, bool whole) {
    OnModal([=, this](QWidget* dialog) {
      QCOMPARE(dialog, static_cast<QWidget*>(Dialog()));
      auto* what = dialog->findChild<QLineEdit*>("FindWhat");
      what->clear();
      QTest::keyClicks(what, text);
      dialog->findChild<QCheckBox*>("LookAtKeys")->setChecked(keys);
      dialog->findChild<QCheckBox*>("LookAtValues")->setChecked(values);
      dialog->findChild<QCheckBox*>("LookAtData")->setChecked(data);
      dialog->findChild<QCheckBox*>("MatchWholeString")->setChecked(whole);
      QTest::mouseClick(dialog->findChild<QPushButton*>("FindNextButton"), Qt::LeftButton);
    });
    Activate();
    QTest::keyClick(form.get(), Qt::Key_F, Qt::ControlModifier);
  }
  // Shortcuts act in the active window; offscreen, a closed dialog stays
  // the active one until another is made so.
  void Activate() {
    QApplication::setActiveWindow(form.get());
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    QCOMPARE(QApplication::activeWindow(), form.get());
  }
  void FindNext() {
    Activate();
    QTest::keyClick(form.get(), Qt::Key_F3);
  }

 private slots:
  void init() {
    Start();
    Activate();
  }
  void cleanup() { Stop(); }

  void statusPanelShowsTheKeysTime() {
    Open(FindHive());
    QCOMPARE(form->StatusPanel1->text(), QString());
    Select(Key("Alpha"));
    QCOMPARE(form->StatusPanel0->text(), QString("ROOT\\Alpha"));
    QCOMPARE(form->StatusPanel1->text(), QString("Last written 2019-03-05T12:34:56.1234567Z"));
    Select(Key("Needle-Key"));
    QCOMPARE(form->StatusPanel1->text(), QString("Last written 0xffffffffffffffff"));
    QVERIFY(form->StatusPanel1->isVisible());
  }

  void timePanelNeverShowsAnotherKeysTime() {
    Open(FindHive());
    Select(Key("Alpha"));
    QVERIFY(!form->StatusPanel1->text().isEmpty());
    Select(Top());  // the root key's own time
    KeyInfo root;
    QVERIFY(GetRootKey(form->Document().Hive(), root));
    QCOMPARE(form->StatusPanel1->text(), "Last written " + QString::fromStdString(FormatFileTime(root.LastWritten)));
    Select(Key("Alpha"));
    Open(FindHive());  // a new open starts without a time
    QCOMPARE(form->StatusPanel1->text(), QString());
  }

  void typingGoesToTheTextEachTime() {
    Open(FindHive());
    for (const char* text : {"needle", "other"}) {
      OnModal([=, this](QWidget* dialog) {
        // The last dialog closed by its button; this one still types into the text.
        QTest::keyClicks(dialog->focusWidget(), text);
        QCOMPARE(dialog->findChild<QLineEdit*>("FindWhat")->text(), QString(text));
        QTest::mouseClick(dialog->findChild<QPushButton*>("FindNextButton"), Qt::LeftButton);
      });
      Activate();
      QTest::keyClick(form.get(), Qt::Key_F, Qt::ControlModifier);
    }
  }

  void findWorksOnAHiveRebuiltFromItsLogs() {
    if (!test::SharedHivesPresent()) QSKIP("shared hives not found; skipping the dirty-hive check");
    modal->askAnswers = {true};
    Open(QString::fromStdString(test::SharedHivesDir() + "/dirty/transactions_NTUSER/transactions_NTUSER.DAT"));
    QVERIFY(form->Document().LogsApplied());
    FindThroughDialog("Microsoft", true, true, true, false);
    QVERIFY(SelectedItem(form->TreeView1) != nullptr);
    QVERIFY(modal->boxes.isEmpty());
  }

  void findWalksTheTreeAndTheSortedList() {
    Open(FindHive());
    FindThroughDialog("NEEDLE", true, true, true, false);
    QCOMPARE(Found(), QString("Alpha/needle"));  // "needle" sorts before "other"
    QCOMPARE(form->StatusPanel0->text(), QString("ROOT\\Alpha"));
    FindNext();
    QCOMPARE(Found(), QString("Alpha/other"));  // by its data
    FindNext();
    QCOMPARE(Found(), QString("Needle-Key/-"));  // by its name; Inner has none
    FindNext();
    QCOMPARE(Found(), QString("Gamma/b"));  // not "a": binary data are not text
    QVERIFY(modal->boxes.isEmpty());
    FindNext();
    QCOMPARE(modal->boxes.size(), 1);
    QCOMPARE(modal->boxes[0].text, QString("Finished searching: nothing more was found."));
    QCOMPARE(modal->boxes[0].icon, BoxIcon::Information);
    QCOMPARE(modal->boxes[0].owner, form.get());
    QCOMPARE(Found(), QString("Gamma/b"));  // the selection stays
  }

  void findStartsAtTheSelectedKey() {
    Open(FindHive());
    Select(Key("Inner"));
    FindThroughDialog("needle", true, true, true, false);
    QCOMPARE(Found(), QString("Needle-Key/-"));
    // A chosen row: the search goes on after it.
    Select(Key("Alpha"));
    form->ListView1->setCurrentItem(Row(form->ListView1, "needle"));
    FindNext();
    QCOMPARE(Found(), QString("Alpha/other"));
  }

  void findOptions_data() {
    QTest::addColumn<bool>("keys");
    QTest::addColumn<bool>("values");
    QTest::addColumn<bool>("data");
    QTest::addColumn<bool>("whole");
    QTest::addColumn<QStringList>("hits");
    QTest::newRow("keys only") << true << false << false << false << QStringList{"Needle-Key/-"};
    QTest::newRow("values only") << false << true << false << false << QStringList{"Alpha/needle"};
    QTest::newRow("data only") << false << false << true << false << QStringList{"Alpha/other", "Gamma/b"};
    QTest::newRow("whole string") << true << true << true << true << QStringList{"Alpha/needle", "Gamma/b"};
  }
  void findOptions() {
    QFETCH(bool, keys);
    QFETCH(bool, values);
    QFETCH(bool, data);
    QFETCH(bool, whole);
    QFETCH(QStringList, hits);
    Open(FindHive());
    FindThroughDialog("needle", keys, values, data, whole);
    QStringList seen{Found()};
    for (int i = 1; i < hits.size(); ++i) {
      FindNext();
      seen << Found();
    }
    QCOMPARE(seen, hits);
    FindNext();
    QCOMPARE(modal->boxes.size(), 1);
  }

  void findDialogNeedsTextAndAPlace() {
    Open(FindHive());
    // F3 before any search opens the dialog; Cancel leaves all as it was.
    bool disabledWhenEmpty = false, disabledWithNowhere = false, enabledAgain = false;
    OnModal([&](QWidget* dialog) {
      auto* button = dialog->findChild<QPushButton*>("FindNextButton");
      disabledWhenEmpty = !button->isEnabled();
      QTest::keyClicks(dialog->findChild<QLineEdit*>("FindWhat"), "x");
      for (const char* name : {"LookAtKeys", "LookAtValues", "LookAtData"}) {
        dialog->findChild<QCheckBox*>(name)->setChecked(false);
      }
      disabledWithNowhere = !button->isEnabled();
      dialog->findChild<QCheckBox*>("LookAtData")->setChecked(true);
      enabledAgain = button->isEnabled();
      QTest::mouseClick(dialog->findChild<QPushButton*>("CancelButton"), Qt::LeftButton);
    });
    FindNext();
    QVERIFY(disabledWhenEmpty);
    QVERIFY(disabledWithNowhere);
    QVERIFY(enabledAgain);
    QCOMPARE(Found(), QString("-/-"));
    QVERIFY(modal->boxes.isEmpty());
    // The dialog offers the last search again.
    FindThroughDialog("Gamma", true, false, false, true);
    QCOMPARE(Found(), QString("Gamma/-"));
    QString offered;
    bool wholeKept = false;
    OnModal([&](QWidget* dialog) {
      offered = dialog->findChild<QLineEdit*>("FindWhat")->text();
      wholeKept = dialog->findChild<QCheckBox*>("MatchWholeString")->isChecked();
    });
    form->Find1Click();
    QCOMPARE(offered, QString("Gamma"));
    QVERIFY(wholeKept);
  }

  void findWithoutAFileSaysNothing() {
    FindThroughDialog("needle", true, true, true, false);
    QVERIFY(modal->boxes.isEmpty());
    QCOMPARE(Found(), QString("-/-"));
  }

  void dataViewOnDoubleClick() {
    Open(FindHive());
    Select(Key("Alpha"));
    QTreeWidgetItem* other = Row(form->ListView1, "other");
    QString label, text, hexStart, clipText, clipHex;
    bool textShown = false, damageShown = true, readOnly = false;
    OnModal([&](QWidget* dialog) {
      QVERIFY(qobject_cast<DataViewDialog*>(dialog) != nullptr);
      label = dialog->findChild<QLabel*>("ValueLabel")->text();
      damageShown = dialog->findChild<QLabel*>("DamageLabel")->isVisible();
      auto* pages = dialog->findChild<QTabWidget*>("Pages");
      textShown = pages->currentWidget()->objectName() == "TextPage";
      auto* textView = dialog->findChild<QPlainTextEdit*>("TextView");
      auto* hexView = dialog->findChild<QPlainTextEdit*>("HexView");
      readOnly = textView->isReadOnly() && hexView->isReadOnly();
      text = textView->toPlainText();
      hexStart = hexView->toPlainText().section('\n', 0, 0);
      QTest::mouseClick(dialog->findChild<QPushButton*>("CopyButton"), Qt::LeftButton);
      clipText = QApplication::clipboard()->text();
      pages->setCurrentIndex(pages->indexOf(dialog->findChild<QWidget*>("HexPage")));
      QTest::mouseClick(dialog->findChild<QPushButton*>("CopyButton"), Qt::LeftButton);
      clipHex = QApplication::clipboard()->text();
      QTest::mouseClick(dialog->findChild<QPushButton*>("CloseButton"), Qt::LeftButton);
    });
    // A real double click: press and release, then the second press.
    const QPoint at = form->ListView1->visualItemRect(other).center();
    QTest::mouseClick(form->ListView1->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(form->ListView1->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(label, QString("other    REG_SZ    36 bytes"));
    QVERIFY(!damageShown);
    QVERIFY(textShown);
    QVERIFY(readOnly);
    QCOMPARE(text, QString("has needle inside"));
    QCOMPARE(hexStart, QString("00000000  68 00 61 00 73 00 20 00  6e 00 65 00 65 00 64 00  h.a.s. .n.e.e.d."));
    QCOMPARE(clipText, text);
    QVERIFY(clipHex.startsWith(hexStart + "\n"));
    QCOMPARE(clipHex.count('\n'), 3);  // 36 bytes: three lines
  }

  void dataViewFromThePopupMenu_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("textPage");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("hexLines");
    QTest::addColumn<bool>("damaged");
    QTest::newRow("multi string") << "list" << true << "one\ntwo" << 2 << false;
    QTest::newRow("binary") << "a" << false << "" << 1 << false;
    QTest::newRow("big data") << "big" << false << "" << 2500 << false;
    QTest::newRow("damaged") << "broken" << false << "" << 0 << true;
  }
  void dataViewFromThePopupMenu() {
    QFETCH(QString, value);
    QFETCH(bool, textPage);
    QFETCH(QString, text);
    QFETCH(int, hexLines);
    QFETCH(bool, damaged);
    Open(FindHive());
    Select(Key("Gamma"));
    QTreeWidgetItem* row = Row(form->ListView1, value);
    modal->popupChoice = 1;  // "View data"
    bool shown = false, textTab = false, damageShown = false;
    QString textSeen, damageText;
    int lines = -1;
    OnModal([&](QWidget* dialog) {
      shown = true;
      auto* pages = dialog->findChild<QTabWidget*>("Pages");
      textTab = pages->isTabVisible(pages->indexOf(dialog->findChild<QWidget*>("TextPage")));
      textSeen = dialog->findChild<QPlainTextEdit*>("TextView")->toPlainText();
      const QString hex = dialog->findChild<QPlainTextEdit*>("HexView")->toPlainText();
      lines = static_cast<int>(hex.count('\n'));
      damageShown = dialog->findChild<QLabel*>("DamageLabel")->isVisible();
      damageText = dialog->findChild<QLabel*>("DamageLabel")->text();
    });
    QTest::mousePress(form->ListView1->viewport(), Qt::RightButton, {}, form->ListView1->visualItemRect(row).center());
    QVERIFY(shown);
    QCOMPARE(modal->popups.size(), 1);
    QCOMPARE(modal->popups[0].first->actions().value(1), form->ViewData1);
    QCOMPARE(textTab, textPage);
    QCOMPARE(textSeen, text);
    QCOMPARE(lines, hexLines);
    QCOMPARE(damageShown, damaged);
    if (damaged) QVERIFY(damageText.startsWith("The data are damaged"));
  }

  void sharedSystemFindsWhatTheCommandLineFinds() {
    if (!test::SharedHivesPresent()) QSKIP("shared hives not found; skipping the real-hive check");
    const std::string system = test::SharedHivesDir() + "/SYSTEM";
    const test::CliRun cli = test::RunCliCaptured({"find", system, "^tcpip$", "--keys", "--regex", "--ignore-case"});
    QCOMPARE(cli.code, 0);
    const QStringList lines = QString::fromStdString(cli.out).split('\n', Qt::SkipEmptyParts);
    QVERIFY(lines.size() >= 3);
    Open(QString::fromStdString(system));
    FindThroughDialog("TCPIP", true, false, false, true);
    for (int i = 0; i < 3; ++i) {
      if (i > 0) FindNext();
      QCOMPARE("key\t" + form->StatusPanel0->text(), lines[i]);
      QVERIFY(form->StatusPanel1->text().startsWith("Last written 20"));
    }
  }
};

QTEST_MAIN(FindWindowTest)
#include "window_find_test.moc"
