// Key details, Copy, Go to key and the data view's interpreter, offscreen,
// through the real widgets (the pop-up menus through the seam).
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCompleter>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "descriptor_builder.h"
#include "present/data_interpreter.h"
#include "win/data_view_dialog.h"
#include "win/go_to_key_dialog.h"
#include "win/key_details_dialog.h"
#include "window_fixture.h"

using namespace cellbrook;
using namespace cellbrook::test;

namespace {

constexpr uint16_t kRel = descriptor_field::SelfRelative, kDacl = descriptor_field::DaclPresent;
const char* const kSddl = "O:BAG:SYD:(D;CI;DC;;;WD)(A;CIID;KA;;;BA)";

// ROOT\Lsa\JD (class name "67cd88ed", value "Bytes"), ROOT\Lsa\Plain;
// the keys below ROOT share a security cell with a deny and an allow.
QString DetailsHive() {
  HiveBuilder b;
  const uint32_t root = b.Key("ROOT-NAME");
  b.SetRoot(root);
  const uint32_t lsa = b.Key("Lsa", root);
  const uint32_t jd = b.Key("JD", lsa);
  const uint32_t plain = b.Key("Plain", lsa);
  b.SetSubkeys(root, {lsa});
  b.SetSubkeys(lsa, {jd, plain});
  const Bytes dacl =
      AclBytes({AceBytes(AceAccessDenied, 0x02, 0x2, kEveryone), AceBytes(AceAccessAllowed, 0x12, 0xF003F, kAdmins)});
  const uint32_t shared = b.SecurityCell(DescriptorBytes({kRel | kDacl, &kAdmins, &kSystem, &dacl}), 3);
  b.SetSecurity(root, shared);
  for (uint32_t k : {lsa, jd, plain}) b.SetSecurity(k, shared);
  b.SetClassName(jd, u"67cd88ed");
  b.SetValues(jd, {b.Value("Bytes", 3, {0x01, 0x00, 0x00, 0x00, 0xDE, 0xAD, 0xBE, 0xEF, 'h', 0, 'i', 0, 0, 0}),
                   b.Value("Text", 1, Utf16Bytes(u"alpha"))});
  return WriteFile("window-details.hive", b.Image());
}

// ROOT\Lsa\JD with a time each, and ROOT\Gone deleted.
QString TimedHive() {
  HiveBuilder b;
  const uint32_t root = b.Key("ROOT-NAME");
  b.SetRoot(root);
  const uint32_t lsa = b.Key("Lsa", root);
  const uint32_t jd = b.Key("JD", lsa);
  b.SetSubkeys(root, {lsa});
  b.SetSubkeys(lsa, {jd});
  b.SetLastWritten(root, 126256467060000000ull);  // 2001-02-03 04:05:06
  b.SetLastWritten(lsa, 133278304891234567ull);
  b.SetLastWritten(jd, 131962628960000001ull);
  const uint32_t gone = b.Key("Gone", root);
  b.SetLastWritten(gone, 131962628960000000ull);
  b.Free(gone);
  return WriteFile("window-times.hive", b.Image());
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

int IndexOf(QMenu* menu, QAction* action) { return static_cast<int>(menu->actions().indexOf(action)); }

QString Reading(QTreeWidget* interpreter, const QString& name, int column = 1) {
  for (int i = 0; i < interpreter->topLevelItemCount(); ++i) {
    if (interpreter->topLevelItem(i)->text(0) == name) return interpreter->topLevelItem(i)->text(column);
  }
  return "(no row " + name + ")";
}

}  // namespace

class DetailsWindowTest : public QObject, test::WindowFixture {
  Q_OBJECT

  QTreeWidgetItem* Lsa() { return test::Child(Top(), "Lsa"); }
  QTreeWidgetItem* Jd() { return test::Child(Lsa(), "JD"); }
  void RightPressOnSelectedKey() {
    form->TreeView1->expandAll();
    const QTreeWidgetItem* node = SelectedItem(form->TreeView1);
    QTest::mousePress(form->TreeView1->viewport(), Qt::RightButton, {}, form->TreeView1->visualItemRect(node).center());
  }
  void RightPressOnSelectedValue() {
    QTest::mousePress(form->ListView1->viewport(), Qt::RightButton, {},
                      form->ListView1->visualItemRect(SelectedItem(form->ListView1)).center());
  }

 private slots:
  void init() { Start(); }
  void cleanup() { Stop(); }

  void propertiesFromTheKeyMenu() {
    Open(DetailsHive());
    Select(Jd());
    QMap<QString, QString> shown;
    int rows = 0;
    QString firstType, firstWho, firstRights, secondInherited, clip;
    bool damageShown = true;
    OnModal([&](QWidget* dialog) {
      auto* details = qobject_cast<KeyDetailsDialog*>(dialog);
      QVERIFY(details != nullptr);
      QCOMPARE(details->windowTitle(), QString("Key details"));
      for (QLabel* label : {details->PathValue, details->ClassNameValue, details->FlagsValue, details->CountsValue,
                            details->OwnerValue, details->GroupValue}) {
        shown[label->objectName()] = label->text();
      }
      rows = details->Permissions->topLevelItemCount();
      firstType = details->Permissions->topLevelItem(0)->text(1);
      firstWho = details->Permissions->topLevelItem(0)->text(0);
      firstRights = details->Permissions->topLevelItem(0)->text(2);
      secondInherited = details->Permissions->topLevelItem(1)->text(4);
      damageShown = details->DamageLabel->isVisible();
      QCOMPARE(details->SddlEdit->text(), QString(kSddl));
      QVERIFY(details->SddlEdit->isReadOnly());
      QTest::mouseClick(details->CopySddlButton, Qt::LeftButton);
      clip = QApplication::clipboard()->text();
    });
    modal->popupChoice = IndexOf(form->PopupMenu2, form->Properties1);
    RightPressOnSelectedKey();
    QCOMPARE(modal->popups.size(), 1);
    QCOMPARE(shown["PathValue"], QString("ROOT\\Lsa\\JD"));
    QCOMPARE(shown["ClassNameValue"], QString("67cd88ed"));
    QCOMPARE(shown["FlagsValue"], QString("0x0020 (compressed name)"));
    QCOMPARE(shown["CountsValue"], QString("0 subkeys, 0 volatile subkeys, 2 values"));
    QCOMPARE(shown["OwnerValue"], QString("S-1-5-32-544 (BUILTIN\\Administrators)"));
    QCOMPARE(shown["GroupValue"], QString("S-1-5-18 (NT AUTHORITY\\SYSTEM)"));
    QCOMPARE(rows, 2);
    QCOMPARE(firstType, QString("Deny"));
    QCOMPARE(firstWho, QString("S-1-1-0 (Everyone)"));
    QCOMPARE(firstRights, QString("Set value"));
    QCOMPARE(secondInherited, QString("Yes"));
    QVERIFY(!damageShown);
    QCOMPARE(clip, QString(kSddl));
  }

  void altEnterOpensProperties() {
    Open(DetailsHive());
    Select(Lsa());
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    QString path;
    OnModal([&](QWidget* dialog) { path = dialog->findChild<QLabel*>("PathValue")->text(); });
    QTest::keyClick(form->TreeView1, Qt::Key_Return, Qt::AltModifier);
    QCOMPARE(path, QString("ROOT\\Lsa"));
  }

  void propertiesSayWhatIsDamaged() {
    HiveBuilder b;
    const uint32_t root = b.Key("R");
    b.SetRoot(root);
    const uint32_t key = b.Key("K", root);
    b.SetSubkeys(root, {key});
    b.SetSecurity(key, 0x7FFFFFF0);  // outside the file
    b.SetClassName(key, u"abc");
    b.Put16(key + key_field::ClassNameLength, 500);  // past its cell
    Open(WriteFile("window-details-damaged.hive", b.Image()));
    Select(test::Child(Top(), "K"));
    QString damage, className, sddl;
    bool copyEnabled = true;
    OnModal([&](QWidget* dialog) {
      auto* details = qobject_cast<KeyDetailsDialog*>(dialog);
      damage = details->DamageLabel->isVisible() ? details->DamageLabel->text() : QString();
      className = details->ClassNameValue->text();
      sddl = details->SddlEdit->text();
      copyEnabled = details->CopySddlButton->isEnabled();
    });
    form->Properties1Click();
    QVERIFY2(damage.contains("class name") && damage.contains("security cell"), qPrintable(damage));
    QCOMPARE(className, QString("(unreadable)"));
    QCOMPARE(sddl, QString());
    QVERIFY(!copyEnabled);
  }

  void propertiesOfARecoveredKey() {
    HiveBuilder b;
    const uint32_t root = b.Key("R");
    b.SetRoot(root);
    const uint32_t live = b.Key("Live", root);
    b.SetSubkeys(root, {live});
    const uint32_t sk =
        b.SecurityCell(DescriptorBytes({kRel | kDacl, &kSystem, &kSystem, &(const Bytes&)AclBytes({})}));
    b.SetSecurity(root, sk);
    b.SetSecurity(live, sk);
    const uint32_t gone = b.Key("Gone", root);
    b.SetLastWritten(gone, 0x01D4D3A0B0C0D0E0ull);
    b.SetSecurity(gone, sk);
    b.SetClassName(gone, u"old class");
    b.Free(gone);
    Open(WriteFile("window-details-recovered.hive", b.Image()));
    form->Showdeletedkeysandvalues1->trigger();
    // A child of the root key: listed under the top node, as live keys are.
    QTreeWidgetItem* recovered = test::Child(form->TreeView1->topLevelItem(0), "Gone");
    QVERIFY(recovered != nullptr);
    Select(recovered);
    QString path, classShown, sddl;
    OnModal([&](QWidget* dialog) {
      auto* details = qobject_cast<KeyDetailsDialog*>(dialog);
      path = details->PathValue->text();
      classShown = details->ClassNameValue->text();
      sddl = details->SddlEdit->text();
    });
    modal->popupChoice = IndexOf(form->PopupMenu2, form->Properties1);
    RightPressOnSelectedKey();
    QCOMPARE(path, QString("ROOT\\Gone"));
    QCOMPARE(classShown, QString("old class"));
    QCOMPARE(sddl, QString("O:SYG:SYD:"));
  }

  void copyOnKeysAndValues() {
    Open(DetailsHive());
    Select(Jd());
    QApplication::clipboard()->clear();
    modal->popupChoice = IndexOf(form->PopupMenu2, form->CopyKeyPath1);
    RightPressOnSelectedKey();
    QCOMPARE(QApplication::clipboard()->text(), QString("ROOT\\Lsa\\JD"));
    modal->popupChoice = IndexOf(form->PopupMenu2, form->CopyKeyName1);
    RightPressOnSelectedKey();
    QCOMPARE(QApplication::clipboard()->text(), QString("JD"));

    form->ListView1->setCurrentItem(Row(form->ListView1, "Bytes"));
    const struct {
      QAction* action;
      QString clip;
    } cases[] = {
        {form->CopyValueName1, "Bytes"},
        {form->CopyValueHex1, "01000000deadbeef680069000000"},
        {form->CopyValueText1, form->ListView1->currentItem()->text(2)},
    };
    for (const auto& c : cases) {
      modal->popupChoice = IndexOf(form->PopupMenu1, c.action);
      RightPressOnSelectedValue();
      QCOMPARE(QApplication::clipboard()->text(), c.clip);
    }
    form->ListView1->setCurrentItem(Row(form->ListView1, "Text"));
    modal->popupChoice = IndexOf(form->PopupMenu1, form->CopyValueText1);
    RightPressOnSelectedValue();
    QCOMPARE(QApplication::clipboard()->text(), QString("alpha"));
    QVERIFY(modal->boxes.isEmpty());
  }

  void goToKeyWithOrWithoutRoot_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("without ROOT") << "Lsa\\JD"
                                  << "ROOT\\Lsa\\JD";
    QTest::newRow("with ROOT, other case") << "root\\lsa\\plain"
                                           << "ROOT\\Lsa\\Plain";
    QTest::newRow("leading and trailing backslash") << "\\Lsa\\"
                                                    << "ROOT\\Lsa";
  }
  void goToKeyWithOrWithoutRoot() {
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    Open(DetailsHive());
    OnModal([&](QWidget* dialog) {
      auto* go = qobject_cast<GoToKeyDialog*>(dialog);
      QVERIFY(go != nullptr);
      QTest::keyClicks(go->PathEdit, typed);
      if (go->PathEdit->completer()->popup()->isVisible()) go->PathEdit->completer()->popup()->hide();
      QTest::mouseClick(go->Buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
    });
    form->Gotokey1->trigger();
    QCOMPARE(form->StatusPanel0->text(), shown);
    QCOMPARE(SelectedItem(form->TreeView1)->text(0), shown.section('\\', -1));
    QVERIFY(modal->boxes.isEmpty());
  }

  void goToKeyOffersNamesAndSaysNotFound() {
    Open(DetailsHive());
    QStringList offered;
    OnModal([&](QWidget* dialog) {
      auto* go = qobject_cast<GoToKeyDialog*>(dialog);
      QTest::keyClicks(go->PathEdit, "ROOT\\Lsa\\");
      QCompleter* completer = go->PathEdit->completer();
      for (int i = 0; i < completer->model()->rowCount(); ++i) {
        offered << completer->model()->index(i, 0).data().toString();
      }
      go->PathEdit->setText("Lsa\\Nope");
      QTest::mouseClick(go->Buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
    });
    form->Gotokey1->trigger();
    QCOMPARE(offered, (QStringList{"ROOT\\Lsa\\JD", "ROOT\\Lsa\\Plain"}));
    QCOMPARE(modal->boxes.size(), 1);
    QCOMPARE(modal->boxes[0].text, QString("Key not found: ROOT\\Lsa\\Nope"));
    QCOMPARE(KeyPathCompletions(form->Document().Hive(), "L"), QStringList{"Lsa"});
    QCOMPARE(FullKeyPath(""), QString("ROOT"));
  }

  void sizeAndCellColumnsFromTheHeader() {
    Open(DetailsHive());
    Select(Jd());
    QVERIFY(form->ListView1->isColumnHidden(3) && form->ListView1->isColumnHidden(4));  // off by default
    QHeaderView* header = form->ListView1->header();
    QCOMPARE(header->contextMenuPolicy(), Qt::CustomContextMenu);
    modal->popupChoice = IndexOf(form->HeaderMenu1, form->ShowSizeColumn1);
    emit header->customContextMenuRequested(QPoint(5, 5));
    QCOMPARE(modal->popups.last().first, form->HeaderMenu1);
    QVERIFY(!form->ListView1->isColumnHidden(3));
    QVERIFY(form->ListView1->isColumnHidden(4));
    modal->popupChoice = IndexOf(form->HeaderMenu1, form->ShowCellColumn1);
    emit header->customContextMenuRequested(QPoint(5, 5));
    QVERIFY(!form->ListView1->isColumnHidden(4));
    QCOMPARE(form->ListView1->headerItem()->text(3), QString("Size"));
    QTreeWidgetItem* bytes = Row(form->ListView1, "Bytes");
    QCOMPARE(bytes->text(3), QString("14"));
    ValueInfo value;
    QVERIFY(GetValueInfo(form->Document().Hive(), value, ValueOf(bytes)));
    QCOMPARE(bytes->text(4), QString("0x%1").arg(value.Ref.cell, 8, 16, QChar('0')));
    // Kept while the window lives: another key, another file.
    Select(Lsa());
    Open(DetailsHive());
    QVERIFY(!form->ListView1->isColumnHidden(3) && !form->ListView1->isColumnHidden(4));
    // Chosen again: off.
    modal->popupChoice = IndexOf(form->HeaderMenu1, form->ShowSizeColumn1);
    emit header->customContextMenuRequested(QPoint(5, 5));
    QVERIFY(form->ListView1->isColumnHidden(3));
  }

  void lastWrittenColumnInTheKeyTree() {
    Open(TimedHive());
    QTreeWidget* tree = form->TreeView1;
    QAction* column = form->ShowLastWrittenColumn1;
    QVERIFY(tree->isColumnHidden(1) && tree->isHeaderHidden() && !column->isChecked());  // off by default
    QCOMPARE(column->text(), QString("&Last written column"));
    QVERIFY(form->View1->actions().contains(column));
    column->trigger();
    QVERIFY(!tree->isColumnHidden(1) && !tree->isHeaderHidden());
    QCOMPARE(tree->headerItem()->text(1), QString("Last written"));
    // Names and times both in view: the pane widens, the names give way.
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QVERIFY(tree->columnWidth(0) >= 150);
    QVERIFY(tree->columnWidth(0) + tree->columnWidth(1) <= tree->viewport()->width());
    QVERIFY(form->ListView1->width() >= 200);
    QCOMPARE(Top()->text(1), QString("2001-02-03T04:05:06.0000000Z"));  // the top node is the root key
    QTreeWidgetItem* lsa = test::Child(Top(), "Lsa");
    QCOMPARE(lsa->text(1), QString("2023-05-06T07:08:09.1234567Z"));
    lsa->setExpanded(true);  // filled as the nodes come into view
    QTreeWidgetItem* jd = test::Child(lsa, "JD");
    QCOMPARE(jd->text(1), QString("2019-03-05T12:34:56.0000001Z"));
    Select(jd);
    QCOMPARE(form->StatusPanel1->text(), "Last written " + jd->text(1));  // as the status bar has it
    // Recovered keys their recovered time; "Recovered records" none.
    form->Showdeletedkeysandvalues1->trigger();
    QTreeWidgetItem* gone = nullptr;
    for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) {
      if (RecordOf(*it).kind == RecordKind::RecoveredKey) gone = *it;
    }
    QVERIFY(gone != nullptr);
    gone->parent()->setExpanded(true);
    QCOMPARE(gone->text(1), QString("2019-03-05T12:34:56.0000000Z"));
    QCOMPARE(tree->topLevelItemCount(), 2);
    QCOMPARE(RecordOf(tree->topLevelItem(1)).kind, RecordKind::RecoveredRecords);
    QCOMPARE(tree->topLevelItem(1)->text(1), QString());
    form->Showdeletedkeysandvalues1->trigger();
    // Kept for the session: another file shows its times at once.
    Open(DetailsHive());
    QVERIFY(column->isChecked() && !tree->isColumnHidden(1) && !tree->isHeaderHidden());
    QVERIFY(!Top()->text(1).isEmpty());
    QVERIFY(!test::Child(Top(), "Lsa")->text(1).isEmpty());
    // Off again from the tree header's pop-up.
    QHeaderView* header = tree->header();
    QCOMPARE(header->contextMenuPolicy(), Qt::CustomContextMenu);
    modal->popupChoice = IndexOf(form->TreeHeaderMenu1, column);
    emit header->customContextMenuRequested(QPoint(5, 5));
    QCOMPARE(modal->popups.last().first, form->TreeHeaderMenu1);
    QVERIFY(tree->isColumnHidden(1) && tree->isHeaderHidden() && !column->isChecked());
  }

  void interpreterReadsAtTheCursorAndSelection() {
    Open(DetailsHive());
    Select(Jd());
    QString atStart, afterClick, afterGo, afterFind, selectedLabel, notFound, utf16;
    OnModal([&](QWidget* dialog) {
      auto* view = qobject_cast<DataViewDialog*>(dialog);
      QVERIFY(view != nullptr);
      Ui::DataViewDialog& ui = view->Form();
      atStart = Reading(ui.Interpreter, "uint32");
      // A click on the second digit of byte 4 ("de").
      const QTextBlock line = ui.HexView->document()->firstBlock();
      QTextCursor at(line);
      at.setPosition(line.position() + 10 + 3 * 4 + 1);
      QTest::mouseClick(ui.HexView->viewport(), Qt::LeftButton, {}, ui.HexView->cursorRect(at).center());
      afterClick = Reading(ui.Interpreter, "uint32", 2);  // big endian: de ad be ef
      ui.OffsetEdit->setText("8");
      QTest::mouseClick(ui.GoButton, Qt::LeftButton);
      utf16 = Reading(ui.Interpreter, "UTF-16 text");
      afterGo = ui.CursorLabel->text();
      ui.FindEdit->setText("be ef");
      ui.FindHex->setChecked(true);
      QTest::mouseClick(ui.FindButton, Qt::LeftButton);  // nothing after the cursor: no wrapping
      notFound = ui.CursorLabel->text();
      ui.OffsetEdit->setText("0");
      QTest::mouseClick(ui.GoButton, Qt::LeftButton);
      QTest::mouseClick(ui.FindButton, Qt::LeftButton);
      selectedLabel = ui.CursorLabel->text();
      afterFind = Reading(ui.Interpreter, "uint16", 2);
      QCOMPARE(Reading(ui.Interpreter, "uint32"), QString::fromUtf8(kNoReading));  // two bytes selected
    });
    form->ListView1->setCurrentItem(Row(form->ListView1, "Bytes"));
    form->ViewData1Click();
    QCOMPARE(atStart, QString("1"));
    QCOMPARE(afterClick, QString::number(0xDEADBEEFu));
    QCOMPARE(utf16, QString("hi"));
    QCOMPARE(afterGo, QString("Offset 0x8 (8)"));
    QCOMPARE(notFound, QString("Not found after offset 0x8."));
    QCOMPARE(selectedLabel, QString("Offset 0x6 (6), 2 bytes selected"));
    QCOMPARE(afterFind, QString::number(0xBEEF));
  }
};

QTEST_MAIN(DetailsWindowTest)
#include "window_details_test.moc"
