// View > Artifacts: the panel's artifacts and counts, its sortable table,
// double-clicking a record to select its key and value, the export, and
// the status bar's link, offscreen through real widgets and the modal seam.
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include "artifact_hive.h"
#include "shared_hives.h"
#include "win/artifacts_panel.h"
#include "win/tform1.h"
#include "window_fixture.h"

using namespace cellbrook;
using test::Bytes;
using test::Dword;
using test::Sz;
using test::TreeHive;

namespace {

QString SystemHive() {
  TreeHive t;
  t.Value("Select", "Current", RegDword, Dword(1));
  t.Value("ControlSet001\\Services\\Beta", "Start", RegDword, Dword(3));
  t.Value("ControlSet001\\Services\\Alpha", "Start", RegDword, Dword(2));
  t.Value("ControlSet001\\Services\\Alpha", "DisplayName", RegSz, Sz(u"First service"));
  Bytes mbr = Dword(0x12345678);
  test::PutLe(mbr, 1048576, 8);
  t.Value("MountedDevices", "\\DosDevices\\C:", RegBinary, mbr);
  t.Value("MountedDevices", "\\DosDevices\\D:", RegBinary, mbr);
  return test::WriteFile("artifacts-window-system.hive", t.Build());
}

class ArtifactsWindowTest : public QObject, test::WindowFixture {
  Q_OBJECT

  ArtifactsPanel* Panel() { return form->findChild<ArtifactsPanel*>(); }
  QStringList ListTexts() {
    QStringList texts;
    for (int i = 0; i < Panel()->ArtifactList1->count(); ++i) texts << Panel()->ArtifactList1->item(i)->text();
    return texts;
  }
  QString Cell(int row, const QString& header) {
    QTableWidget* table = Panel()->RecordTable1;
    for (int c = 0; c < table->columnCount(); ++c) {
      if (table->horizontalHeaderItem(c)->text() == header) return table->item(row, c)->text();
    }
    return "<no column " + header + ">";
  }
  int Column(const QString& header) {
    QTableWidget* table = Panel()->RecordTable1;
    for (int c = 0; c < table->columnCount(); ++c) {
      if (table->horizontalHeaderItem(c)->text() == header) return c;
    }
    return -1;
  }
  void DoubleClick(int row) {
    QTableWidget* table = Panel()->RecordTable1;
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QApplication::processEvents();
    const QRect cell = table->visualRect(table->model()->index(row, 0));
    QVERIFY(cell.isValid());
    // A real double click: press and release, then the second press.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
  }

 private slots:
  void init() { Start(); }
  void cleanup() { Stop(); }

  void ViewArtifactsListsTheArtifactsWithCounts() {
    Open(SystemHive());
    QVERIFY(Panel() == nullptr);
    form->Artifacts1->trigger();
    QVERIFY(Panel() != nullptr);
    QVERIFY(Panel()->isVisible());
    QCOMPARE(ListTexts(), (QStringList{"control_sets (1)", "services (2)", "mounted_devices (2)"}));
    QCOMPARE(Panel()->ShownArtifact(), QString("control_sets"));
    QVERIFY(Panel()->Export1->isEnabled());
  }

  void ChoosingAnArtifactShowsItsRecordsSortable() {
    Open(SystemHive());
    form->Artifacts1->trigger();
    Panel()->ArtifactList1->setCurrentRow(1);
    QTableWidget* table = Panel()->RecordTable1;
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->horizontalHeaderItem(0)->text(), QString("key"));
    QCOMPARE(Cell(0, "name"), QString("Beta"));  // hive order first
    QCOMPARE(Cell(1, "display_name"), QString("First service"));
    QCOMPARE(Cell(0, "start_type"), QString("manual"));
    QVERIFY(Cell(0, "last_written").isEmpty());  // a key of no time: null
    // A click on the header sorts, as the real header does.
    const int name = Column("name");
    const QRect header(table->horizontalHeader()->sectionViewportPosition(name), 0,
                       table->horizontalHeader()->sectionSize(name), table->horizontalHeader()->height());
    QTest::mouseClick(table->horizontalHeader()->viewport(), Qt::LeftButton, {}, header.center());
    QCOMPARE(Cell(0, "name"), QString("Alpha"));
    // Numbers sort as numbers.
    table->sortByColumn(Column("start"), Qt::AscendingOrder);
    QCOMPARE(Cell(0, "start"), QString("2"));
  }

  void DoubleClickSelectsTheSourceKeyAndValue() {
    Open(SystemHive());
    form->Artifacts1->trigger();
    Panel()->ShowArtifact("services");
    DoubleClick(1);
    QCOMPARE(form->StatusPanel0->text(), QString("ROOT\\ControlSet001\\Services\\Alpha"));
    QCOMPARE(SelectedItem(form->TreeView1)->text(0), QString("Alpha"));
    QVERIFY(SelectedItem(form->ListView1) == nullptr);
    Panel()->ShowArtifact("mounted_devices");
    DoubleClick(1);
    QCOMPARE(SelectedItem(form->TreeView1)->text(0), QString("MountedDevices"));
    QVERIFY(SelectedItem(form->ListView1) != nullptr);
    QCOMPARE(SelectedItem(form->ListView1)->text(0), QString("\\DosDevices\\D:"));
  }

  void StatusBarLinksToTheRecordsOfTheSelectedKey() {
    Open(SystemHive());
    QTreeWidgetItem* mounted =
        form->TreeView1->findItems("MountedDevices", Qt::MatchExactly | Qt::MatchRecursive).value(0);
    QVERIFY(mounted != nullptr);
    Select(mounted);
    QVERIFY(form->StatusPanel3->text().isEmpty());  // no panel yet: nothing decoded
    form->Artifacts1->trigger();
    QVERIFY(form->StatusPanel3->text().contains("2 mounted_devices records"));
    Panel()->ShowArtifact("services");
    emit form->StatusPanel3->linkActivated("mounted_devices");
    QCOMPARE(Panel()->ShownArtifact(), QString("mounted_devices"));
    Select(form->TreeView1->topLevelItem(0));
    QVERIFY(form->StatusPanel3->text().isEmpty());
  }

  void ExportWritesCsvOrJsonLinesAndNeverOverTheHive() {
    const QString hive = SystemHive();
    Open(hive);
    form->Artifacts1->trigger();
    Panel()->ShowArtifact("services");
    const QString csv = test::Scratch("artifacts-export.csv");
    modal->fileAnswers << csv;
    QTest::mouseClick(Panel()->Export1, Qt::LeftButton);
    const std::string text = test::ReadFileBytes(csv.toStdString());
    QVERIFY(text.rfind("key,control_set,current,name,", 0) == 0);
    QVERIFY(text.find("\r\nROOT\\ControlSet001\\Services\\Alpha,ControlSet001,true,Alpha,First service,") !=
            std::string::npos);
    const QString jsonl = test::Scratch("artifacts-export.jsonl");
    modal->fileAnswers << jsonl;
    Panel()->Export1Click();
    const std::string lines = test::ReadFileBytes(jsonl.toStdString());
    QVERIFY(lines.rfind("{\"artifact\":\"services\",\"hive\":", 0) == 0);
    QCOMPARE(std::count(lines.begin(), lines.end(), '\n'), 2L);
    const std::string before = test::ReadFileBytes(hive.toStdString());
    modal->fileAnswers << hive;
    modal->overwriteAnswers << true;  // the user says replace: the guard still refuses
    Panel()->Export1Click();
    QCOMPARE(modal->boxes.size(), 1);
    QCOMPARE(modal->boxes.back().text, QString(kEvidenceRefusalText));
    QVERIFY(test::ReadFileBytes(hive.toStdString()) == before);
  }

  void AnotherFileRefreshesTheShownPanel() {
    Open(SystemHive());
    form->Artifacts1->trigger();
    TreeHive user;
    user.Key("Console");
    user.Key("Software");
    user.Value("Network\\Z", "RemotePath", RegSz, Sz(u"\\\\srv\\share"));
    Open(test::WriteFile("artifacts-window-user.hive", user.Build()));
    QCOMPARE(ListTexts(), (QStringList{"network_drives (1)"}));
    TreeHive nothing;
    nothing.Key("Nothing");
    Open(test::WriteFile("artifacts-window-none.hive", nothing.Build()));
    QCOMPARE(ListTexts(), QStringList{});
    QCOMPARE(Panel()->SummaryLabel1->text(), QString("No artifact found in this hive"));
    QVERIFY(!Panel()->Export1->isEnabled());
  }
};

}  // namespace

QTEST_MAIN(ArtifactsWindowTest)
#include "window_artifacts_test.moc"
