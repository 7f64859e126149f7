// View > Show deleted keys and values, offscreen: recovered nodes and rows,
// their pictures and paths, saving and exporting them, and the tree as the
// hive shows it once the item is off again.
#include <QMenu>
#include <QTimer>
#include <QPlainTextEdit>
#include <QtTest>
#include <memory>

#include "hive_builder.h"
#include "present/deleted_text.h"
#include "recover/deleted/deleted_scan.h"
#include "shared_hives.h"
#include "win/deleted_tree.h"
#include "win/tform1.h"
#include "win/tform2.h"
#include "window_fixture.h"

using namespace cellbrook;
using test::Bytes;
using test::Child, test::Row, test::Scratch, test::Utf16Text;
using test::HiveBuilder;

namespace {

constexpr uint64_t kTime = 131962628961234567ull;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// ROOT\Software (live) with Twin (live, "Live" dword) and Owner (live,
// "Kept" listed, "Dropped" left in its list's slack); deleted: Software\Gone
// ("Text", "Count", "Far" whose data lie outside the file) with Gone\Sub,
// X (its parent cell now data: "?\X") with X\Y, and "Orphan" no key lists.
QString DeletedHive() {
  HiveBuilder b;
  const uint32_t root = b.Key("ROOT-NAME");
  b.Put16(root + 6, 0x0024);
  const uint32_t software = b.Key("Software", root);
  const uint32_t twin = b.Key("Twin", software);
  b.SetValues(twin, {b.Value("Live", 4, {7, 0, 0, 0})});
  const uint32_t owner = b.Key("Owner", software);
  const uint32_t dropped = b.Value("Dropped", 3, Text("old bytes"));
  b.SetValues(owner, {b.Value("Kept", 4, {1, 0, 0, 0}), dropped});
  b.Put32(owner + 0x28, 1);
  b.SetSubkeys(root, {software});
  b.SetSubkeys(software, {twin, owner});
  const uint32_t liveData = b.Value("Reused", 3, Bytes(64, 7));
  b.SetValues(root, {liveData});
  b.SetRoot(root);

  const uint32_t gone = b.Key("Gone", software);
  const uint32_t far = b.Value("Far", 3, Bytes(16, 1));
  b.Put32(far + 0xC, 0x100000);
  b.SetValues(gone,
              {b.Value("Text", 1, test::Utf16Bytes(u"recovered text")), b.Value("Count", 4, {0x2A, 0, 0, 0}), far});
  const uint32_t sub = b.Key("Sub", gone);
  const uint32_t subList = b.SetValues(sub, {b.Value("deep", 4, {9, 0, 0, 0})});
  const uint32_t x = b.Key("X", b.Get32(liveData + 0xC));
  const uint32_t y = b.Key("Y", x);
  const uint32_t orphan = b.Value("Orphan", 3, Text("nobody's"));
  for (uint32_t key : {gone, sub, x, y}) b.SetLastWritten(key, kTime);
  b.Free(gone, subList);
  b.Free(x, y);
  b.Free(orphan);
  b.Free(dropped);
  return QString::fromStdString(test::WriteScratchFile("deleted-window.hive", b.Image()));
}

QString LiveOnlyHive() {
  return QString::fromStdString(test::WriteScratchFile("live-only.hive", test::BuildSampleHive().image));
}

QStringList Rows(QTreeWidget* list) {
  QStringList rows;
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* r = list->topLevelItem(i);
    rows << r->text(0) + "|" + r->text(1) + "|" + r->text(2);
  }
  return rows;
}

// Every node: depth, caption, picture, cell, expanded.
void Snapshot(const QTreeWidgetItem* item, int depth, QStringList& out) {
  out << QString("%1|%2|%3|%4|%5")
             .arg(depth)
             .arg(item->text(0))
             .arg(item->icon(0).cacheKey())
             .arg(KeyOf(item).cell)
             .arg(item->isExpanded());
  for (int i = 0; i < item->childCount(); ++i) Snapshot(item->child(i), depth + 1, out);
}
QStringList Snapshot(const QTreeWidget* tree) {
  QStringList out;
  for (int i = 0; i < tree->topLevelItemCount(); ++i) Snapshot(tree->topLevelItem(i), 0, out);
  return out;
}

int CountRecoveredKeys(const QTreeWidgetItem* item) {
  int n = RecordOf(item).kind == RecordKind::RecoveredKey;
  for (int i = 0; i < item->childCount(); ++i) n += CountRecoveredKeys(item->child(i));
  return n;
}

}  // namespace

class DeletedWindowTest : public QObject, test::WindowFixture {
  Q_OBJECT

  QAction* ShowDeleted() { return form->Showdeletedkeysandvalues1; }
  QTreeWidgetItem* Records() { return form->TreeView1->topLevelItem(1); }
  QTreeWidgetItem* Software() { return Child(Top(), "Software"); }
  QTreeWidgetItem* Selected() { return form->TreeView1->selectedItems().value(0); }
  QString Status() { return form->StatusPanel0->text(); }

 private slots:
  void init() { Start(test::Dialogs::Export); }
  void cleanup() { Stop(); }

  void viewMenuItemStartsOff() {
    QCOMPARE(form->View1->title(), QString("&View"));
    QCOMPARE(form->View1->actions(), (QList<QAction*>{ShowDeleted(), form->Showonlydifferences1,
                                                      form->ShowLastWrittenColumn1, form->Artifacts1}));
    QCOMPARE(form->Artifacts1->text(), QString("&Artifacts"));
    QCOMPARE(ShowDeleted()->text(), QString("&Show deleted keys and values"));
    QVERIFY(ShowDeleted()->isCheckable());
    QVERIFY(!ShowDeleted()->isChecked());
    const QList<QAction*> bar = form->MainMenu1->actions();
    QCOMPARE(bar.size(), 4);
    QCOMPARE(bar[2]->menu(), form->View1);  // File, Edit, View, Help
    // Without a file it does nothing but tick.
    ShowDeleted()->trigger();
    QVERIFY(ShowDeleted()->isChecked());
    QCOMPARE(form->TreeView1->topLevelItemCount(), 1);
    ShowDeleted()->trigger();
    QCOMPARE(form->TreeView1->topLevelItemCount(), 1);
  }

  void recoveredNodesStandWhereTheyBelong() {
    Open(DeletedHive());
    form->TreeView1->expandAll();
    const QStringList live = Snapshot(form->TreeView1);
    ShowDeleted()->trigger();
    QVERIFY(ShowDeleted()->isChecked());
    // Under the live parent, after its live subkeys, with their own picture.
    QTreeWidgetItem* software = Software();
    QCOMPARE(software->childCount(), 3);
    QTreeWidgetItem* gone = software->child(2);
    QCOMPARE(gone->text(0), QString("Gone"));
    QCOMPARE(gone->icon(0).cacheKey(), form->ImageList1.Picture(2).cacheKey());
    QVERIFY(gone->icon(0).cacheKey() != software->icon(0).cacheKey());
    QVERIFY(!KeyOf(gone));  // live commands pass it by
    QCOMPARE(RecordOf(gone).kind, RecordKind::RecoveredKey);
    QCOMPARE(RecordOf(software).kind, RecordKind::Live);
    QTreeWidgetItem* sub = Child(gone, "Sub");
    QVERIFY(sub != nullptr);
    QCOMPARE(sub->icon(0).cacheKey(), gone->icon(0).cacheKey());
    // Partial paths under the second top-level node, their subkeys below.
    QCOMPARE(form->TreeView1->topLevelItemCount(), 2);
    QCOMPARE(Records()->text(0), QString("Recovered records"));
    QCOMPARE(Records()->icon(0).cacheKey(), form->ImageList1.Picture(3).cacheKey());
    QCOMPARE(Records()->childCount(), 1);
    QTreeWidgetItem* x = Child(Records(), "X");
    QVERIFY(x != nullptr);
    QVERIFY(Child(x, "Y") != nullptr);
    QCOMPARE(CountRecoveredKeys(Records()) + CountRecoveredKeys(Top()), 4);
    // Off: the tree as the hive shows it, node for node, expansion kept.
    ShowDeleted()->trigger();
    QCOMPARE(Snapshot(form->TreeView1), live);
    // On again (the scan kept) and the same nodes stand.
    ShowDeleted()->trigger();
    QCOMPARE(Software()->child(2)->text(0), QString("Gone"));
    QCOMPARE(form->TreeView1->topLevelItemCount(), 2);
  }

  void deletedValuesInTheirKeysLists() {
    Open(DeletedHive());
    ShowDeleted()->trigger();
    form->TreeView1->expandAll();
    // A recovered key: its values, the deleted pictures by type, its path.
    QTreeWidgetItem* gone = Child(Software(), "Gone");
    QTest::mouseClick(form->TreeView1->viewport(), Qt::LeftButton, {}, form->TreeView1->visualItemRect(gone).center());
    QCOMPARE(Selected(), gone);
    QCOMPARE(Status(), QString("ROOT\\Software\\Gone (recovered)"));
    QCOMPARE(Rows(form->ListView1),
             (QStringList{"Count|REG_DWORD|0x0000002A (42)", "Far|REG_BINARY|(no longer in the file)",
                          "Text|REG_SZ|recovered text"}));
    QCOMPARE(Row(form->ListView1, "Count")->icon(0).cacheKey(), form->ImageList3.Picture(4).cacheKey());
    QCOMPARE(Row(form->ListView1, "Text")->icon(0).cacheKey(), form->ImageList3.Picture(1).cacheKey());
    QVERIFY(form->ImageList3.Picture(1).cacheKey() != form->ImageList2.Picture(1).cacheKey());
    QVERIFY(!ValueOf(Row(form->ListView1, "Count")));
    // A live key: its live values, then those left in its list's slack.
    Select(Child(Software(), "Owner"));
    QCOMPARE(Status(), QString("ROOT\\Software\\Owner"));
    QCOMPARE(Rows(form->ListView1),
             (QStringList{"Kept|REG_DWORD|0x00000001 (1)", "Dropped|REG_BINARY|6F 6C 64 20 62 79 74 65 73 "}));
    QCOMPARE(Row(form->ListView1, "Kept")->icon(0).cacheKey(), form->ImageList2.Picture(4).cacheKey());
    QCOMPARE(Row(form->ListView1, "Dropped")->icon(0).cacheKey(), form->ImageList3.Picture(3).cacheKey());
    // A partial path shows as recovered; the records node lists the values
    // no key lists.
    Select(Child(Child(Records(), "X"), "Y"));
    QCOMPARE(Status(), QString("?\\X\\Y (recovered)"));
    QCOMPARE(form->ListView1->topLevelItemCount(), 0);
    Select(Records());
    QVERIFY(Status().startsWith("Recovered records: 4 deleted keys and "));
    QVERIFY(Row(form->ListView1, "Orphan") != nullptr);
    QCOMPARE(RecordOf(Row(form->ListView1, "Orphan")).kind, RecordKind::RecoveredValue);
    // Turned off while a live key is selected: its list loses the slack rows.
    Select(Child(Software(), "Owner"));
    ShowDeleted()->trigger();
    QCOMPARE(Rows(form->ListView1), QStringList{"Kept|REG_DWORD|0x00000001 (1)"});
  }

  void saveDeletedValueBytes() {
    Open(DeletedHive());
    ShowDeleted()->trigger();
    Select(Child(Software(), "Gone"));
    // Through the list's pop-up menu, as a live value is saved.
    QTreeWidgetItem* text = Row(form->ListView1, "Text");
    const QRect row = form->ListView1->visualItemRect(text);
    modal->popupChoice = 0;
    const QString out = Scratch("deleted-text.bin");
    modal->fileAnswers << out;
    QTest::mousePress(form->ListView1->viewport(), Qt::RightButton, {}, row.center());
    QCOMPARE(modal->popups.size(), 1);
    QCOMPARE(modal->popups[0].first, form->PopupMenu1);
    const Bytes want = test::Utf16Bytes(u"recovered text");
    QCOMPARE(QByteArray::fromStdString(test::ReadFileBytes(out.toStdString())),
             QByteArray(reinterpret_cast<const char*>(want.data()), static_cast<qsizetype>(want.size())));
    QVERIFY(modal->boxes.isEmpty());
    // Data that cannot be read: said so, no file asked for.
    form->ListView1->setCurrentItem(Row(form->ListView1, "Far"));
    form->Savevalue1Click();
    QCOMPARE(modal->boxes.size(), 1);
    QCOMPARE(modal->boxes[0].text, QString("The data of this deleted value are no longer in the file."));
    QCOMPARE(modal->fileDialogs.size(), 2);  // the open and the one save
    // A slack value of a live key.
    Select(Child(Software(), "Owner"));
    form->ListView1->setCurrentItem(Row(form->ListView1, "Dropped"));
    const QString dropped = Scratch("dropped.bin");
    modal->fileAnswers << dropped;
    form->Save1Click();
    QCOMPARE(test::ReadFileBytes(dropped.toStdString()), std::string("old bytes"));
  }

  void deletedValueDataAndTimeShow() {
    Open(DeletedHive());
    ShowDeleted()->trigger();
    Select(Child(Software(), "Gone"));
    QVERIFY(form->StatusPanel1->text().startsWith("Last written "));  // the recovered key's own
    QString shown;
    QTimer::singleShot(0, [&] {
      QWidget* dialog = QApplication::activeModalWidget();
      QVERIFY(dialog != nullptr);
      shown = dialog->findChild<QPlainTextEdit*>("TextView")->toPlainText();
      dialog->close();
    });
    form->ListView1->setCurrentItem(Row(form->ListView1, "Text"));
    form->ViewData1Click();
    QVERIFY(shown.contains("recovered text"));
    Select(Records());  // no key behind it: no time
    QCOMPARE(form->StatusPanel1->text(), QString());
  }

  void exportRecoveredKey() {
    Open(DeletedHive());
    ShowDeleted()->trigger();
    form->TreeView1->expandAll();
    QTreeWidgetItem* gone = Child(Software(), "Gone");
    Select(gone);
    // The tree's pop-up menu stands for a recovered key too.
    QTest::mousePress(form->TreeView1->viewport(), Qt::RightButton, {}, form->TreeView1->visualItemRect(gone).center());
    QCOMPARE(modal->popups.size(), 1);
    QCOMPARE(modal->popups[0].first, form->PopupMenu2);
    const QString out = Scratch("gone.reg");
    QString shown;
    bool enabled = false;
    QTimer::singleShot(0, [&] {
      shown = dialog->Label2->text();
      enabled = dialog->Button1->isEnabled();
      modal->fileAnswers << out;
      dialog->Button1Click();  // current user, the first choice
    });
    form->Exportkey1Click();
    QCOMPARE(shown, QString("\\Software\\Gone"));
    QVERIFY(enabled);
    QVERIFY(!dialog->isVisible());
    const std::string text = Utf16Text(test::ReadFileBytes(out.toStdString()));
    QVERIFY(text.find("\r\n[HKEY_CURRENT_USER\\Software\\Gone]\r\n") != std::string::npos);
    QVERIFY(text.find("\"Count\"=dword:0000002A\r\n") != std::string::npos);
    QVERIFY(text.find("\r\n[HKEY_CURRENT_USER\\Software\\Gone\\Sub]\r\n\"deep\"=dword:00000009") != std::string::npos);
    QVERIFY(text.find("Far") == std::string::npos);
    QCOMPARE(modal->boxes.size(), 1);  // what was skipped
    QCOMPARE(modal->boxes[0].text, QString("The hive is damaged: the data of 1 value could not be read (first at "
                                           "ROOT\\Software\\Gone); everything readable was written."));
    // A partial path has no place to go back to.
    Select(Child(Records(), "X"));
    QTimer::singleShot(0, [&] {
      shown = dialog->Label2->text();
      enabled = dialog->Button1->isEnabled();
      dialog->Button2Click();
    });
    form->Exportkey2Click();
    QCOMPARE(shown, QString("[Partial key path: no place to restore it]"));
    QVERIFY(!enabled);
    // The records node is no key.
    Select(Records());
    form->Exportkey1Click();
    QVERIFY(!dialog->isVisible());
  }

  void selectionKeptOnToggleOff_data() {
    QTest::addColumn<QStringList>("select");  // path of captions from the top-level node
    QTest::addColumn<QStringList>("kept");    // empty: no selection
    QTest::addColumn<QString>("status");
    const QString top = "deleted-window.hive: ROOT-NAME";
    QTest::newRow("live key") << QStringList{top, "Software", "Twin"} << QStringList{top, "Software", "Twin"}
                              << "ROOT\\Software\\Twin";
    QTest::newRow("recovered key") << QStringList{top, "Software", "Gone", "Sub"} << QStringList{top, "Software"}
                                   << "ROOT\\Software";
    QTest::newRow("records node") << QStringList{"Recovered records", "X"} << QStringList{} << "Ready";
  }
  void selectionKeptOnToggleOff() {
    QFETCH(QStringList, select);
    QFETCH(QStringList, kept);
    QFETCH(QString, status);
    Open(DeletedHive());
    form->TreeView1->expandAll();
    ShowDeleted()->trigger();
    auto find = [this](const QStringList& path) {
      QTreeWidgetItem* item = nullptr;
      for (int i = 0; i < form->TreeView1->topLevelItemCount(); ++i) {
        if (form->TreeView1->topLevelItem(i)->text(0).endsWith(path[0])) item = form->TreeView1->topLevelItem(i);
      }
      for (qsizetype i = 1; i < path.size(); ++i) item = Child(item, path[i]);
      return item;
    };
    QTreeWidgetItem* chosen = find(select);
    QVERIFY(chosen != nullptr);
    Select(chosen);
    ShowDeleted()->trigger();
    QTreeWidgetItem* stays = kept.isEmpty() ? nullptr : find(kept);
    QCOMPARE(Selected(), stays);
    QCOMPARE(form->TreeView1->currentItem() == stays || stays == nullptr, true);
    QCOMPARE(Status(), status);
    if (stays == nullptr) QCOMPARE(form->ListView1->topLevelItemCount(), 0);
    if (stays == nullptr) QCOMPARE(form->StatusPanel1->text(), QString());  // no time for nothing
  }

  void eachOpenHasItsOwnScan() {
    Open(DeletedHive());
    ShowDeleted()->trigger();
    QVERIFY(Child(Software(), "Gone") != nullptr);
    // Opened while the item is on: the new file's records, at once.
    Open(LiveOnlyHive());
    QVERIFY(ShowDeleted()->isChecked());
    QCOMPARE(form->TreeView1->topLevelItemCount(), 2);
    QCOMPARE(Records()->childCount(), 0);
    QCOMPARE(CountRecoveredKeys(Top()), 0);
    Select(Records());
    QCOMPARE(Status(), QString("Recovered records: 0 deleted keys and 0 deleted values found"));
    // And back.
    Open(DeletedHive());
    QVERIFY(Child(Software(), "Gone") != nullptr);
    ShowDeleted()->trigger();
    QCOMPARE(form->TreeView1->topLevelItemCount(), 1);
  }

  void sharedHiveShowsEveryRecoveredKeyOnce_data() {
    QTest::addColumn<QString>("name");
    for (const char* name : {"NTUSER.DAT", "UsrClass.dat", "SAM", "BCD"}) QTest::newRow(name) << name;
  }
  void sharedHiveShowsEveryRecoveredKeyOnce() {
    if (!test::SharedHivesPresent()) QSKIP("shared hives not found; skipping the real-hive check");
    QFETCH(QString, name);
    Open(QString::fromStdString(test::SharedHivesDir() + "/") + name);
    const QStringList live = Snapshot(form->TreeView1);
    ShowDeleted()->trigger();
    // The scan of the image shown (logs applied when asked: the seam says yes).
    const DeletedScan scan = ScanDeletedRecords(form->Document().Hive());
    QVERIFY(!scan.keys.empty());
    QCOMPARE(CountRecoveredKeys(Top()) + CountRecoveredKeys(Records()), static_cast<int>(scan.keys.size()));
    QCOMPARE(Snapshot(form->TreeView1) == live, false);
    // Siblings by name, as live subkeys stand.
    const CaptionCollator collator;
    for (int i = 1; i < Records()->childCount(); ++i) {
      QVERIFY2(
          !collator.Less(Records()->child(i)->text(0).toStdString(), Records()->child(i - 1)->text(0).toStdString()),
          qPrintable(Records()->child(i)->text(0)));
    }
    ShowDeleted()->trigger();
    QCOMPARE(Snapshot(form->TreeView1), live);
  }

  void dirtyHiveScanIsOfTheImageShown() {
    if (!test::SharedHivesPresent()) QSKIP("shared hives not found; skipping the dirty-hive check");
    const QString path = QString::fromStdString(test::SharedHivesDir() + "/dirty/UsrClass/UsrClass.dat");
    QList<QPair<size_t, size_t>> found;  // keys and values, as is and applied
    for (bool apply : {false, true}) {
      modal->askAnswers << apply;
      Open(path);
      QCOMPARE(form->Document().LogsApplied(), apply);
      ShowDeleted()->trigger();
      const DeletedScan scan = ScanDeletedRecords(form->Document().Hive());
      QCOMPARE(CountRecoveredKeys(Top()) + CountRecoveredKeys(Records()), static_cast<int>(scan.keys.size()));
      found.push_back({scan.keys.size(), scan.values.size()});
      ShowDeleted()->trigger();
    }
    QVERIFY2(found[0] != found[1], "the logs change what is free, so what the scan finds");
  }
};

QTEST_MAIN(DeletedWindowTest)
#include "window_deleted_test.moc"
