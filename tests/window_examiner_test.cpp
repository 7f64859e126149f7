// The window as an examiner uses it: each open starts clean, damage is said,
// the title and status bar say what is shown, Find stays visible and reaches
// deleted records, the keyboard reaches every command, the export dialog
// takes the hive's own prefix. Offscreen, through the scripted seam.
#include <QHeaderView>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>
#include <QtTest>

#include "hive/damage_report.h"
#include "artifacts/hive_kind.h"
#include "win/data_view_dialog.h"
#include "win/deleted_tree.h"
#include "win/find_dialog.h"
#include "win/tree_search.h"
#include "win/hive_info_dialog.h"
#include "window_fixture.h"

using namespace cellbrook;
using test::Bytes;
using test::HiveBuilder;
using test::Row, test::WriteFile;

namespace {

// A key claims 5,000 subkeys whose index lies past the end of the file; a
// value's data lies outside it too; a name holds ESC and DEL.
QString DamagedHive() {
  HiveBuilder b;
  const uint32_t root = b.Key("root");
  const uint32_t claims = b.Key("Claims", root), fine = b.Key("Fine\x1b[2J\x7f", root);
  b.SetSubkeys(root, {claims, fine});
  b.Put32(claims + 0x18, 5000);
  b.Put32(claims + 0x20, 0x7FFFF000);
  const uint32_t broken = b.Value("broken", 3, Bytes(8, 1), test::DataStorage::Cell);
  b.Put32(broken + 0xC, 0x7FFFFF00);
  b.SetValues(fine, {broken, b.Value("text", 1,
                                     test::Utf16Bytes(u"a\x01"
                                                      "b"))});
  b.SetValues(root, {b.Value("RootValue", 4, {5, 0, 0, 0})});
  b.SetRoot(root);
  return WriteFile("examiner-damaged.hive", b.Image());
}

// Many keys, one deep value to find far down.
QString WideHive() {
  HiveBuilder b;
  const uint32_t root = b.Key("root");
  std::vector<uint32_t> keys;
  for (int i = 0; i < 400; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "K%03d", i);
    keys.push_back(b.Key(name, root));
  }
  std::vector<uint32_t> values;
  for (int i = 0; i < 200; ++i) values.push_back(b.Value("v" + std::to_string(1000 + i), 4, {1, 0, 0, 0}));
  values.push_back(b.Value("zz-needle", 4, {1, 0, 0, 0}));
  b.SetValues(keys[300], values);
  const uint32_t sub = b.Key("Child", keys[10]);
  b.SetSubkeys(keys[10], {sub});
  b.SetSubkeys(root, keys);
  b.SetRoot(root);
  return WriteFile("examiner-wide.hive", b.Image());
}

}  // namespace

class ExaminerTest : public QObject, test::WindowFixture {
  Q_OBJECT

 private slots:
  void init() { Start(test::Dialogs::Export); }
  void cleanup() { Stop(); }

  void damageIsSaidMarkedAndListed() {
    const QString path = DamagedHive();
    Open(path);
    QCOMPARE(damageBoxes.size(), 1);
    QCOMPARE(damageBoxes[0], QString("The hive is damaged: 5000 subkey entries and the data of 1 value could "
                                     "not be read (first at ROOT\\Claims); everything readable was listed."));
    QCOMPARE(form->windowTitle(), QString("Cellbrook - examiner-damaged.hive (damaged)")
                                      .replace("examiner-damaged.hive", QFileInfo(path).fileName()));
    QVERIFY(form->StatusPanel2->text().endsWith("; damaged"));
    QTreeWidgetItem* claims = test::Child(Top(), "Claims");
    QTreeWidgetItem* fine = Top()->child(1);
    QCOMPARE(claims->toolTip(0), QString("5000 subkey entries could not be read"));
    QCOMPARE(fine->toolTip(0), QString("The data of 1 value could not be read"));
    QCOMPARE(claims->icon(0).cacheKey(), form->ImageList1.Picture(4).cacheKey());
    // Control characters show as pictures, never raw.
    QCOMPARE(fine->text(0), QString::fromUtf8("Fine\u241b[2J\u2421"));
    Select(fine);
    QCOMPARE(form->StatusPanel0->text(), QString::fromUtf8("ROOT\\Fine\u241b[2J\u2421"));
    QCOMPARE(Row(form->ListView1, "text")->text(2), QString::fromUtf8("a\u2401b"));
    QVERIFY(form->Document().Damage().Any());
    // Hive information lists it.
    QString info;
    QTimer::singleShot(0, [&] {
      auto* dialog = form->findChild<HiveInfoDialog*>();
      info = dialog->InfoText->toPlainText();
      dialog->reject();
    });
    form->Hiveinformation1Click();
    QVERIFY2(info.contains("Damage: The hive is damaged: 5000 subkey entries"), qPrintable(info));
    QVERIFY(info.contains("Shown: the hive file as it is (clean"));
  }

  void eachOpenStartsClean() {
    Open(DamagedHive());
    Select(Top()->child(1));
    QVERIFY(!form->StatusPanel1->text().isEmpty());
    form->Showdeletedkeysandvalues1->setChecked(true);
    QTimer::singleShot(0, [&] { dialog->Button2Click(); });
    form->Exportkey1Click();  // the dialog now holds a key of this file
    Open(WideHive());
    QVERIFY(damageBoxes.size() == 1);  // only the first hive was damaged
    QCOMPARE(form->StatusPanel0->text(), QString("Ready"));
    QCOMPARE(form->StatusPanel1->text(), QString());
    QCOMPARE(form->StatusPanel2->text(), QString("Clean hive"));
    QCOMPARE(form->ListView1->topLevelItemCount(), 0);
    QCOMPARE(form->windowTitle(),
             "Cellbrook - " + QFileInfo(QString::fromStdString(form->Document().Path())).fileName());
    QVERIFY(!form->Document().Damage().Any());
    // The export dialog remembers no key of the earlier file.
    dialog->show();
    QCOMPARE(dialog->Label2->text(), QString("[Invalid key]"));
    dialog->hide();
    form->Showdeletedkeysandvalues1->setChecked(false);
  }

  void rootKeyValuesShowAndSave() {
    Open(DamagedHive());
    Select(Top());
    QCOMPARE(form->StatusPanel0->text(), QString("ROOT"));
    QVERIFY(Row(form->ListView1, "RootValue") != nullptr);
    form->ListView1->setCurrentItem(Row(form->ListView1, "RootValue"));
    const QString out = test::Scratch("root-value.bin");
    modal->fileAnswers << out;
    form->Savevalue1Click();
    QCOMPARE(QString::fromStdString(test::ReadFileBytes(out.toStdString())).toLatin1(), QByteArray("\x05\0\0\0", 4));
  }

  void findIsVisible() {
    Open(WideHive());
    form->resize(700, 400);
    QApplication::processEvents();
    auto* find = form->findChild<FindDialog*>("FindDialog1");
    QVERIFY(find != nullptr);
    SearchOptions options;
    options.pattern = "zz-needle";
    QTimer::singleShot(0, [&] {
      find->SetOptions(options);
      find->accept();
    });
    form->Find1Click();
    QTreeWidgetItem* key = SelectedItem(form->TreeView1);
    QVERIFY(key != nullptr);
    QCOMPARE(key->text(0), QString("K300"));
    // The key in the middle of the tree, not on its last row.
    const int middle = form->TreeView1->viewport()->height() / 2;
    const QRect keyRect = form->TreeView1->visualItemRect(key);
    QVERIFY2(std::abs(keyRect.center().y() - middle) <= keyRect.height(), qPrintable(QString::number(keyRect.y())));
    // The value's row in view, and the list has the focus.
    QTreeWidgetItem* row = SelectedItem(form->ListView1);
    QVERIFY(row != nullptr);
    QCOMPARE(row->text(0), QString("zz-needle"));
    QVERIFY(form->ListView1->viewport()->rect().contains(form->ListView1->visualItemRect(row)));
    QCOMPARE(form->focusWidget(), static_cast<QWidget*>(form->ListView1));
    // Both selections show without the focus: a highlight of their own.
    const QPalette p = form->TreeView1->palette();
    QVERIFY(p.color(QPalette::Inactive, QPalette::Highlight) != p.color(QPalette::Inactive, QPalette::Base));
  }

  void findThroughDeletedRecords() {
    // The deleted hive of the deleted-record tests: "Gone" only exists deleted.
    HiveBuilder b;
    const uint32_t root = b.Key("root");
    const uint32_t live = b.Key("Live", root);
    b.SetSubkeys(root, {live});
    b.SetRoot(root);
    const uint32_t gone = b.Key("GoneNeedle", live);
    b.SetValues(gone, {b.Value("deleted-needle", 1, test::Utf16Bytes(u"a needle in data"))});
    b.Free(gone);
    Open(WriteFile("examiner-deleted.hive", b.Image()));
    SearchOptions options;
    options.pattern = "needle";
    options.ignoreCase = true;
    HiveSearch search(form->Document().Hive(), options);
    TreeFind found = FindInTree(form->TreeView1, nullptr, {}, form->Document().Hive(), search, CaptionCollator());
    QVERIFY(found.node == nullptr);  // not shown: not searched
    form->Showdeletedkeysandvalues1->setChecked(true);
    form->TreeView1->expandAll();
    DeletedRecords records(form->Document().Deleted());
    HiveSearch again(form->Document().Hive(), options);
    found = FindInTree(form->TreeView1, nullptr, {}, form->Document().Hive(), again, CaptionCollator(), &records);
    // As find --deleted finds it: a deleted value no key lists.
    QVERIFY(found.node != nullptr);
    QCOMPARE(RecordOf(found.node).kind, RecordKind::RecoveredRecords);
    QVERIFY(found.value.deleted != kNoCell);
    QCOMPARE(QString::fromStdString(records.Scan().values.at(found.value.deleted).name), QString("deleted-needle"));
    // Through the window's Find: the row selected in the list.
    auto* find = form->findChild<FindDialog*>("FindDialog1");
    QTimer::singleShot(0, [&] {
      find->SetOptions(options);
      find->accept();
    });
    form->Find1Click();
    QCOMPARE(SelectedItem(form->TreeView1), found.node);
    QVERIFY(SelectedItem(form->ListView1) != nullptr);
    QCOMPARE(SelectedItem(form->ListView1)->text(0), QString("deleted-needle"));
    form->Showdeletedkeysandvalues1->setChecked(false);
  }

  void keyboardReachesTheCommands() {
    Open(DamagedHive());
    form->TreeView1->setFocus();
    Select(Top());
    // Shift+F10 and the Menu key: the tree's pop-up at the selection.
    QTest::keyClick(form->TreeView1, Qt::Key_F10, Qt::ShiftModifier);
    QTest::keyClick(form->TreeView1, Qt::Key_Menu);
    QCOMPARE(modal->popups.size(), 2);
    QCOMPARE(modal->popups[0].first, form->PopupMenu2);
    const QRect rect = form->TreeView1->visualItemRect(Top());
    QVERIFY(form->TreeView1->viewport()->rect().contains(
        form->TreeView1->viewport()->mapFromGlobal(modal->popups[0].second)));
    QVERIFY(std::abs(form->TreeView1->viewport()->mapFromGlobal(modal->popups[0].second).y() - rect.bottom()) <= 1);
    // The list's pop-up, and Enter opens the data view.
    form->ListView1->setFocus();
    form->ListView1->setCurrentItem(Row(form->ListView1, "RootValue"));
    QTest::keyClick(form->ListView1, Qt::Key_Menu);
    QCOMPARE(modal->popups.size(), 3);
    QCOMPARE(modal->popups[2].first, form->PopupMenu1);
    QString shown;
    QTimer::singleShot(0, [&] {
      auto* view = qobject_cast<DataViewDialog*>(QApplication::activeModalWidget());
      if (view != nullptr) {
        shown = view->windowTitle();
        view->reject();
      }
    });
    QTest::keyClick(form->ListView1, Qt::Key_Return);
    QVERIFY(!shown.isNull());
    // Tab goes from the tree to the list and back.
    form->TreeView1->setFocus();
    QTest::keyClick(form->TreeView1, Qt::Key_Tab);
    QCOMPARE(form->focusWidget(), static_cast<QWidget*>(form->ListView1));
    QTest::keyClick(form->ListView1, Qt::Key_Tab);
    QCOMPARE(form->focusWidget(), static_cast<QWidget*>(form->TreeView1));
  }

  void collapsingAnAncestorSelectsIt() {
    Open(WideHive());
    QTreeWidgetItem* k10 = test::Child(Top(), "K010");
    k10->setExpanded(true);
    Select(k10->child(0));
    QCOMPARE(form->StatusPanel0->text(), QString("ROOT\\K010\\Child"));
    Top()->setExpanded(false);
    QCOMPARE(SelectedItem(form->TreeView1), Top());
    QCOMPARE(form->StatusPanel0->text(), QString("ROOT"));
  }

  void exportDialogPrefixFollowsTheHive_data() {
    QTest::addColumn<QString>("hive");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<int>("button");  // 0: Other
    QTest::newRow("SYSTEM") << "SYSTEM"
                            << "HKEY_LOCAL_MACHINE\\SYSTEM" << 2;
    QTest::newRow("NTUSER.DAT") << "NTUSER.DAT"
                                << "HKEY_CURRENT_USER" << 1;
    QTest::newRow("SAM") << "SAM"
                         << "HKEY_LOCAL_MACHINE\\SAM" << 0;
    QTest::newRow("SECURITY") << "SECURITY"
                              << "HKEY_LOCAL_MACHINE\\SECURITY" << 0;
    QTest::newRow("UsrClass.dat") << "UsrClass.dat"
                                  << "HKEY_CURRENT_USER\\Software\\Classes" << 0;
    QTest::newRow("BCD") << "BCD"
                         << "HKEY_LOCAL_MACHINE\\BCD00000000" << 0;
  }
  void exportDialogPrefixFollowsTheHive() {
    if (!test::SharedHivesPresent()) QSKIP("shared hives not found; skipping the hive-kind check");
    QFETCH(QString, hive);
    QFETCH(QString, prefix);
    QFETCH(int, button);
    // Read under another name: the kind comes from the keys, not the name.
    const QString copy = test::Scratch("kind-check.hive");
    QVERIFY(QFile::copy(QString::fromStdString(test::SharedHivesDir()) + "/" + hive, copy));
    modal->askAnswers << false;
    Open(copy);
    QRadioButton* buttons[] = {dialog->RadioButton5, dialog->RadioButton1, dialog->RadioButton2, dialog->RadioButton3,
                               dialog->RadioButton4};
    QVERIFY(buttons[button]->isChecked());
    if (button == 0) QCOMPARE(dialog->Edit1->text(), prefix);
    // Enter presses Save; the whole hive goes under the prefix.
    Select(Top());
    const QString out = test::Scratch("kind-check.reg");
    modal->fileAnswers << out;
    QTimer::singleShot(
        0, [&] { QTest::keyClick(dialog->focusWidget() ? dialog->focusWidget() : dialog.get(), Qt::Key_Return); });
    form->Exportkey1Click();
    const std::string text = test::Utf16Text(test::ReadFileBytes(out.toStdString()));
    QVERIFY2(text.find("\r\n[" + prefix.toStdString() + "]\r\n") != std::string::npos, qPrintable(prefix));
  }

  void exportDialogCutsALongPathAndGrows() {
    HiveBuilder b;
    const uint32_t root = b.Key("root");
    uint32_t parent = root;
    for (int i = 0; i < 12; ++i) {
      const uint32_t key = b.Key("AVeryLongKeyNameNumber" + std::to_string(i), parent);
      b.SetSubkeys(parent, {key});
      parent = key;
    }
    b.SetRoot(root);
    Open(WriteFile("examiner-long.hive", b.Image()));
    form->TreeView1->expandAll();
    QTreeWidgetItem* deep = Top();
    while (deep->childCount() > 0) deep = deep->child(0);
    Select(deep);
    QString label, tip;
    int width = 0;
    QTimer::singleShot(0, [&] {
      label = dialog->Label2->text();
      tip = dialog->Label2->toolTip();
      dialog->resize(900, dialog->height());
      width = dialog->Label2->width();
      dialog->Button2Click();
    });
    form->Exportkey1Click();
    QVERIFY(label.contains(QChar(0x2026)));  // cut in the middle
    QVERIFY(label.startsWith("\\AVeryLongKeyNameNumber0"));
    QVERIFY(label.endsWith("AVeryLongKeyNameNumber11"));
    QVERIFY(tip.endsWith("AVeryLongKeyNameNumber11"));
    QVERIFY(tip.size() > label.size());
    QVERIFY(width > 451);  // the dialog grew and the path with it
    // Other takes any prefix typed.
    dialog->RadioButton5->setChecked(true);
    dialog->Edit1->setText("HKEY_USERS\\S-1-5-21\\");
    const QString out = test::Scratch("other-prefix.reg");
    modal->fileAnswers << out;
    QTimer::singleShot(0, [&] { dialog->Button1Click(); });
    Select(Top());
    form->Exportkey1Click();
    const std::string text = test::Utf16Text(test::ReadFileBytes(out.toStdString()));
    QVERIFY(text.find("\r\n[HKEY_USERS\\S-1-5-21]\r\n") != std::string::npos);
  }

  void shownStateWords_data() {
    QTest::addColumn<bool>("dirty");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("applied");
    QTest::addColumn<bool>("damaged");
    QTest::addColumn<QString>("text");
    QTest::newRow("clean") << false << false << false << false << "Clean hive";
    QTest::newRow("applied") << true << true << true << false << "Transaction logs applied";
    QTest::newRow("declined") << true << true << false << false << "Transaction logs not applied (your choice)";
    QTest::newRow("no log") << true << false << false << true << "Dirty: no transaction log applies; damaged";
  }
  void shownStateWords() {
    QFETCH(bool, dirty);
    QFETCH(bool, asked);
    QFETCH(bool, applied);
    QFETCH(bool, damaged);
    QFETCH(QString, text);
    RecoveryReport report;
    report.dirty = dirty;
    QCOMPARE(ShownStateText(true, report, asked, applied, damaged), text);
    QCOMPARE(ShownStateText(false, report, asked, applied, damaged), QString());
  }

  void declinedLogsSaySo() {
    if (!test::SharedHivesPresent()) QSKIP("shared hives not found; skipping the dirty-hive check");
    const QString hive = QString::fromStdString(test::SharedHivesDir() + "/dirty/UsrClass/UsrClass.dat");
    for (bool apply : {true, false}) {
      modal->askAnswers = {apply};
      Open(hive);
      QCOMPARE(form->windowTitle(),
               apply ? QString("Cellbrook - UsrClass.dat (logs applied)") : QString("Cellbrook - UsrClass.dat"));
      QCOMPARE(form->StatusPanel2->text(),
               apply ? QString("Transaction logs applied") : QString("Transaction logs not applied (your choice)"));
      QString info;
      QTimer::singleShot(0, [&] {
        auto* dialog = form->findChild<HiveInfoDialog*>();
        info = dialog->InfoText->toPlainText();
        dialog->reject();
      });
      form->Hiveinformation1Click();
      if (apply) {
        QVERIFY(info.contains("Shown: the hive with its transaction logs applied"));
      } else {
        // No line says the logs were applied.
        QVERIFY2(info.contains("Recovery: not applied: you chose"), qPrintable(info));
        QVERIFY(info.contains("(your choice)"));
        QVERIFY(!info.contains("Recovery: applied"));
      }
    }
  }
};

QTEST_MAIN(ExaminerTest)
#include "window_examiner_test.moc"
