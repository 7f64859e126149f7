// The main window, driven offscreen through its real class and the seam.
#include <QHeaderView>
#include <QTreeWidgetItemIterator>
#include <QSplitterHandle>
#include <QLabel>
#include <QMenuBar>
#include <QDialog>
#include <QPlainTextEdit>
#include <QtTest>
#include <sys/stat.h>

#include <fstream>
#include <memory>

#include "hive_builder.h"
#include "hive_mutations.h"
#include "shared_hives.h"
#include "win/access_keys.h"
#include "win/key_splitter.h"
#include "win/tform1.h"
#include "window_fixture.h"

using namespace cellbrook;
using test::Bytes;
using test::HiveBuilder;
using test::WriteFile;

namespace {

// ROOT-NAME with subkeys b (values b, B, a, unnamed; subkey "deep") and A,
// a name with a NUL inside, and a value of type 12.
QString ListHive() {
  HiveBuilder b;
  const uint32_t root = b.Key("ROOT-NAME");
  const uint32_t lower = b.Key("b", root), upper = b.Key("A", root);
  const uint32_t nul = b.KeyRawName({'N', 'u', 0, 'l'}, true, root);
  const uint32_t deep = b.Key("deep", lower);
  b.SetSubkeys(root, {lower, upper, nul, 0});
  b.SetSubkeys(lower, {deep});
  b.SetValues(lower, {b.Value("b", 4, {1, 0, 0, 0}), b.Value("B", 1, test::Utf16Bytes(u"x")), b.Value("a", 3, {0xAB}),
                      b.Value("", 2, test::Utf16Bytes(u"%x%")), b.Value("odd", 12, {1})});
  b.SetValues(upper, {b.Value("only", 4, {2, 0, 0, 0})});
  b.SetRoot(root);
  return WriteFile("window-list.hive", b.Image());
}

QStringList Captions(QTreeWidgetItem* parent) {
  QStringList out;
  for (int i = 0; i < parent->childCount(); ++i) out << parent->child(i)->text(0);
  return out;
}

QStringList ListCaptions(QTreeWidget* list) {
  QStringList out;
  for (int i = 0; i < list->topLevelItemCount(); ++i) out << list->topLevelItem(i)->text(0);
  return out;
}

int CountNodes(QTreeWidgetItem* item) {
  int n = 0;
  for (int i = 0; i < item->childCount(); ++i) n += 1 + CountNodes(item->child(i));
  return n;
}

}  // namespace

class MainWindowTest : public QObject, test::WindowFixture {
  Q_OBJECT

  void ExpectNoFile() {
    QCOMPARE(form->TreeView1->topLevelItemCount(), 1);
    QCOMPARE(Top()->text(0), QString("(no file opened)"));
    QCOMPARE(Top()->childCount(), 0);
    QVERIFY(form->Document().Path().empty());
    QVERIFY(!form->Document().Loaded());
    QCOMPARE(form->ListView1->topLevelItemCount(), 0);
  }

 private slots:
  void init() { Start(); }
  void cleanup() { Stop(); }

  void startsWithNoFile() {
    ExpectNoFile();
    QVERIFY(!Top()->icon(0).isNull());
    QVERIFY(!KeyOf(Top()));
    QCOMPARE(form->StatusPanel0->text(), QString("Ready"));
    QCOMPARE(form->windowTitle(), QString("Cellbrook"));
    QCOMPARE(form->ListView1->headerItem()->text(2), QString("Value"));
    form->TreeView1->setCurrentItem(Top());
    form->TreeView1Click();
    QCOMPARE(form->StatusPanel0->text(), QString("Ready"));
  }

  void openFailures_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("reason");  // the second line, after the file's name
    QTest::newRow("missing") << QString::fromStdString(test::ScratchPath("nowhere.hive")) << "Can not open source file!"
                             << "No such file or directory";
    QTest::newRow("empty") << WriteFile("w-empty.hive", {}) << "File format is invalid!"
                           << "empty file";
    QTest::newRow("three bytes") << WriteFile("w-3.hive", {'r', 'e', 'g'}) << "File format is invalid!"
                                 << "no \"regf\" signature";
    QTest::newRow("no signature") << WriteFile("w-sig.hive", Bytes(5000, 'x')) << "File format is invalid!"
                                  << "no \"regf\" signature";
    const QString big = WriteFile("w-big.hive", {'r', 'e', 'g', 'f'});
    QVERIFY(::truncate(big.toLocal8Bit().constData(), 0x100000000) == 0);  // sparse
    QTest::newRow("4 GiB") << big << "File is too large!"
                           << "4294967296 bytes, more than a hive can hold";
    const QString fifo = QString::fromStdString(test::ScratchPath("w-fifo"));
    std::remove(fifo.toLocal8Bit().constData());
    QVERIFY(::mkfifo(fifo.toLocal8Bit().constData(), 0666) == 0);
    QTest::newRow("named pipe") << fifo << "Can not open source file!"
                                << "not a regular file";  // at once
  }
  void openFailures() {
    QFETCH(QString, path);
    QFETCH(QString, text);
    QFETCH(QString, reason);
    Open(ListHive());  // a file is open before the failure
    QVERIFY(form->Document().Loaded());
    Select(Top()->child(0));
    Open(path);
    QCOMPARE(modal->boxes.size(), 1);
    // The message as it stands, then the file and why.
    QCOMPARE(modal->boxes[0].text, text + "\n" + path + ": " + reason);
    QCOMPARE(modal->boxes[0].caption, QString("Error"));
    QCOMPARE(modal->boxes[0].icon, BoxIcon::Error);
    QCOMPARE(modal->boxes[0].owner, form.get());
    ExpectNoFile();
    // Nothing of the earlier file stays on show.
    QCOMPARE(form->StatusPanel0->text(), QString("Ready"));
    QCOMPARE(form->StatusPanel1->text(), QString());
    QCOMPARE(form->windowTitle(), QString("Cellbrook"));
    QCOMPARE(form->OpenDialog1.FileName, path);  // remembered after a failure too
  }

  void longStatusTextNeverWidensTheWindow() {
    const int width = form->width();
    form->StatusPanel0->setText("ROOT\\" + QString(3000, 'x'));
    QApplication::processEvents();
    QCOMPARE(form->width(), width);
  }

  void largerThan64MiBOpens() {
    const QString path = WriteFile("w-64.hive", {'r', 'e', 'g', 'f'});
    QVERIFY(::truncate(path.toLocal8Bit().constData(), 67108865) == 0);
    Open(path);
    // Its base block's checksum is wrong: dirty, with no logs beside it.
    QCOMPARE(modal->boxes.size(), 1);
    QCOMPARE(modal->boxes[0].icon, BoxIcon::Information);
    QCOMPARE(Top()->text(0), path + ": error.");
    QVERIFY(form->Document().Loaded());
    std::remove(path.toLocal8Bit().constData());
  }

  void openDialogSettings() {
    Open(QString());
    QCOMPARE(modal->fileDialogs.size(), 1);
    QCOMPARE(modal->fileDialogs[0].FilterName, QString("Any registry file (.dat, no extension)"));
    QVERIFY(modal->fileDialogs[0].MustExist);
    const QString path = ListHive();
    Open(path);
    Open(QString());
    QCOMPARE(modal->fileDialogs[2].FileName, path);  // offered again
  }

  void cancelKeepsEverything() {
    Open(ListHive());
    Select(Top()->child(0));
    const QString status = form->StatusPanel0->text();
    QTreeWidgetItem* top = Top();
    Open(QString());
    QCOMPARE(Top(), top);
    QCOMPARE(form->ListView1->topLevelItemCount(), 5);
    QCOMPARE(form->StatusPanel0->text(), status);
    QVERIFY(form->Document().Loaded());
  }

  void treeOrderAndCaptions() {
    const QString path = ListHive();
    Open(path);
    QCOMPARE(form->Document().Path(), path.toStdString());
    QCOMPARE(Top()->text(0), path + ": ROOT-NAME");
    KeyInfo root;
    QVERIFY(GetRootKey(form->Document().Hive(), root));
    QCOMPARE(KeyOf(Top()), root.Ref);  // the root key stands behind the file's node
    QVERIFY(!Top()->isExpanded());
    QCOMPARE(Captions(Top()), (QStringList{"b", "A", "Nu", ""}));
    QCOMPARE(Captions(Top()->child(0)), QStringList{"deep"});
    QVERIFY(!KeyOf(Top()->child(3)));  // an entry that leads nowhere
    QVERIFY(KeyOf(Top()->child(0)));
    const QIcon folder = Top()->child(0)->icon(0);
    QCOMPARE(folder.pixmap(16).toImage(), form->ImageList1.Picture(1).pixmap(16).toImage());
  }

  void rootOfNoKeyShowsError() {
    HiveBuilder b;
    b.SetRoot(0x7FFFFF00);
    const QString path = WriteFile("w-noroot.hive", b.Image());
    Open(path);
    QCOMPARE(Top()->text(0), path + ": error.");
    QCOMPARE(modal->boxes.size(), 0);
  }

  void valueListOrderAndTexts() {
    Open(ListHive());
    Select(Top()->child(0));
    QCOMPARE(form->StatusPanel0->text(), QString("ROOT\\b"));
    QCOMPARE(ListCaptions(form->ListView1), (QStringList{"(Default)", "a", "b", "B", "odd"}));
    QTreeWidgetItem* dword = form->ListView1->topLevelItem(2);
    QCOMPARE(dword->text(1), QString("REG_DWORD"));
    QCOMPARE(dword->text(2), QString("0x00000001 (1)"));
    QTreeWidgetItem* unknown = form->ListView1->topLevelItem(4);
    QCOMPARE(unknown->text(1), QString("REG_UNKNOWN"));
    QVERIFY(unknown->icon(0).isNull());  // 12 and above have no picture
    QTreeWidgetItem* expand = form->ListView1->topLevelItem(0);
    QCOMPARE(expand->text(1), QString("REG_EXPAND_SZ"));
    // REG_EXPAND_SZ shows the same picture as REG_SZ.
    QCOMPARE(expand->icon(0).pixmap(16).toImage(), form->ListView1->topLevelItem(3)->icon(0).pixmap(16).toImage());
  }

  void lastNodeRules() {
    Open(ListHive());
    QTreeWidgetItem* b = Top()->child(0);
    QTreeWidgetItem* a = Top()->child(1);
    Select(b);
    QCOMPARE(form->LastNode(), b);
    form->ListView1->clear();
    form->TreeView1Click();  // the same node again: nothing
    QCOMPARE(form->ListView1->topLevelItemCount(), 0);
    Select(Top());  // the root key: its path, and it has no values
    QCOMPARE(form->StatusPanel0->text(), QString("ROOT"));
    QCOMPARE(form->ListView1->topLevelItemCount(), 0);
    Select(b);  // LastNode differs now: listed again
    QCOMPARE(form->ListView1->topLevelItemCount(), 5);
    Select(a);
    QCOMPARE(ListCaptions(form->ListView1), QStringList{"only"});
    // A key up in the tree does the same as a click.
    form->TreeView1->setCurrentItem(b);
    QTest::keyRelease(form->TreeView1, Qt::Key_Down);
    QCOMPARE(form->StatusPanel0->text(), QString("ROOT\\b"));
    // A real click on a node.
    form->TreeView1->expandAll();
    const QRect r = form->TreeView1->visualItemRect(a);
    QTest::mouseClick(form->TreeView1->viewport(), Qt::LeftButton, {}, r.center());
    QCOMPARE(form->StatusPanel0->text(), QString("ROOT\\A"));
  }

  void failedPathStillListsValues() {
    HiveBuilder b;
    const uint32_t root = b.Key("r");
    const uint32_t key = b.Key(std::string(4091, 'k'), root);
    b.SetSubkeys(root, {key});
    b.SetValues(key, {b.Value("v", 4, {1, 0, 0, 0})});
    b.SetRoot(root);
    Open(WriteFile("w-long.hive", b.Image()));
    Select(Top()->child(0));
    QCOMPARE(form->StatusPanel0->text(), QString("[Failed ro resolve key path]"));
    QCOMPARE(form->ListView1->topLevelItemCount(), 1);
  }

  void valueColumnLimits() {
    form->resize(300, 400);
    QCoreApplication::processEvents();
    QCOMPARE(form->ListView1->columnWidth(2), 100);
    form->resize(3000, 400);
    QCoreApplication::processEvents();
    QCOMPARE(form->ListView1->columnWidth(2), 1024);
    form->ListView1->header()->resizeSection(2, 20);
    QCOMPARE(form->ListView1->columnWidth(2), 100);
    form->ListView1->header()->resizeSection(0, 10);  // no limits for Name
    QCOMPARE(form->ListView1->columnWidth(0), 10);
  }

  void splitterRules() {
    struct Case {
      int start, moved, panel, width;
    } cases[] = {{249, 0, 688, 249},    {249, -200, 688, 49}, {249, -219, 688, 0}, {249, -240, 688, 0},
                 {249, 1000, 688, 655}, {0, 31, 688, 31},     {0, 30, 688, 0}};
    for (const Case& c : cases) QCOMPARE(ProposedTreeWidth(c.start, c.moved, c.panel), c.width);
    form->Splitter1->setTreeWidth(0);
    QCOMPARE(form->Splitter1->treeWidth(), 0);
    form->Splitter1->setTreeWidth(120);
    QCOMPARE(form->Splitter1->treeWidth(), 120);
  }

  void splitterDragByMouse() {
    QSplitterHandle* handle = form->Splitter1->handle(1);
    const int start = form->Splitter1->treeWidth();
    auto drag = [&](int dx, bool cancel) {
      QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(1, 10));
      QMouseEvent move(QEvent::MouseMove, QPointF(1 + dx, 10), handle->mapToGlobal(QPointF(1 + dx, 10)), Qt::NoButton,
                       Qt::LeftButton, Qt::NoModifier);
      QCoreApplication::sendEvent(handle, &move);
      if (cancel) QTest::keyClick(handle, Qt::Key_Escape);
      QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(1 + dx, 10));
    };
    drag(-50, true);
    QCOMPARE(form->Splitter1->treeWidth(), start);  // Escape: no change
    drag(-50, false);
    QCOMPARE(form->Splitter1->treeWidth(), start - 50);
    drag(-(start - 50) + 20, false);  // to within 30 pixels: shut
    QCOMPARE(form->Splitter1->treeWidth(), 0);
  }

  void menusAndAccessKeys() {
    QCOMPARE(WithAccessKeys({"Open registry file", "Export key", "Save value", "Exit"}),
             (QList<QString>{"&Open registry file", "&Export key", "&Save value", "E&xit"}));
    QCOMPARE(form->File1->title(), QString("&File"));
    QCOMPARE(form->Help1->title(), QString("&Help"));
    QCOMPARE(form->ProgramWebSite1->text(), QString("&Program Web Site"));
    QCOMPARE(form->About1->text(), QString("&About"));
    QCOMPARE(form->Save1->text(), QString("&Save"));
    QCOMPARE(form->Exportkey2->text(), QString("&Export key"));
    QCOMPARE(form->Edit1->title(), QString("&Edit"));
    QCOMPARE(form->Find1->text(), QString("&Find..."));
    QCOMPARE(form->Findnext1->text(), QString("F&ind next"));
    QCOMPARE(form->Find1->shortcut(), QKeySequence("Ctrl+F"));
    QCOMPARE(form->Findnext1->shortcut(), QKeySequence(Qt::Key_F3));
    QCOMPARE(form->ViewData1->text(), QString("&View data"));
    QCOMPARE(form->Gotokey1->shortcut(), QKeySequence("Ctrl+G"));
    QCOMPARE(form->Properties1->shortcut(), QKeySequence(Qt::ALT | Qt::Key_Return));
    QCOMPARE(form->Viewdata1->text(), QString("&View data"));
    QCOMPARE(form->Openregistryfile1->shortcut(), QKeySequence("Ctrl+O"));
    for (QAction* a : form->findChildren<QAction*>()) {
      if (a != form->Find1 && a != form->Findnext1 && a != form->Gotokey1 && a != form->Properties1 &&
          a != form->Openregistryfile1) {
        QVERIFY(a->shortcut().isEmpty());
      }
      // The comparison's own commands wait for a comparison.
      QCOMPARE(a->isEnabled(), a != form->Endcomparison1 && a != form->Showonlydifferences1);
    }
    QCOMPARE(form->TreeView1->contextMenuPolicy(), Qt::PreventContextMenu);
    QCOMPARE(form->ListView1->contextMenuPolicy(), Qt::PreventContextMenu);
  }

  void repeatedKeysStopTheTreeFilling() {
    const Bytes image = test::RepeatedFanOutHive();
    Open(WriteFile("w-fanout.hive", image));
    QVERIFY(modal->boxes.isEmpty());
    const int nodes = CountNodes(Top());
    QVERIFY(nodes > 0);
    QVERIFY(static_cast<size_t>(nodes) <= image.size() / 4 + 1);  // the walk's slot budget
  }

  void everyDamagedHiveOpens() {
    for (const auto& [name, base] : test::MutationBases()) {
      for (const test::Mutant& m : test::MutateHive(base, 7 + static_cast<uint32_t>(base.size()), 40)) {
        Open(WriteFile("w-mutant.hive", m.image));
        // Select the first keys, as a user clicking down the tree would.
        int clicks = 0;
        for (QTreeWidgetItemIterator it(form->TreeView1); *it && clicks < 50; ++it, ++clicks) Select(*it);
      }
    }
    modal->boxes.clear();
    form->close();
  }

  void dirtyHiveAsksOnceAndShowsWhatWasChosen() {
    if (!test::SharedHivesPresent()) QSKIP("shared hives not found; skipping the dirty-hive check");
    const QString hive =
        QString::fromStdString(test::SharedHivesDir() + "/dirty/transactions_NTUSER/transactions_NTUSER.DAT");
    auto lines = [](const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); };
    struct Case {
      bool apply;
      const char* expected;
    } cases[] = {{true, "transactions_NTUSER.DAT.recovered"}, {false, "transactions_NTUSER.DAT.asis"}};
    for (const Case& c : cases) {
      modal->questions.clear();
      modal->boxes.clear();
      modal->askAnswers = {c.apply};
      Open(hive);
      QCOMPARE(modal->questions.size(), 1);
      QCOMPARE(modal->questions[0].text,
               QString("This hive is dirty: transactions_ntuser.dat.log1 holds changes not yet "
                       "written to it. Apply them (in memory only)?"));
      QCOMPARE(modal->questions[0].owner, form.get());
      QVERIFY(modal->boxes.isEmpty());
      QCOMPARE(CountNodes(Top()), lines(test::ExpectedFile("../dirty/expected/" + std::string(c.expected), "keys")));
      QCOMPARE(form->Document().LogsApplied(), c.apply);
    }
    // A clean hive opens as before: no question, no box.
    modal->questions.clear();
    Open(ListHive());
    QVERIFY(modal->questions.isEmpty());
    QVERIFY(modal->boxes.isEmpty());
  }

  void hiveInformationShowsTheBaseBlockAndWhatWasApplied() {
    if (!test::SharedHivesPresent()) QSKIP("shared hives not found; skipping the dirty-hive check");
    form->Hiveinformation1Click();  // no file: nothing to show
    Open(QString::fromStdString(test::SharedHivesDir() + "/dirty/UsrClass/UsrClass.dat"));
    QString shown;
    QTimer::singleShot(0, [&] {
      auto* dialog = form->findChild<QDialog*>("HiveInfoDialog");
      QVERIFY(dialog != nullptr);
      shown = dialog->findChild<QPlainTextEdit*>("InfoText")->toPlainText();
      QTest::keyClick(dialog, Qt::Key_Escape);
    });
    form->Hiveinformation1->trigger();
    QVERIFY(shown.contains("State: dirty"));
    QVERIFY(shown.contains("UsrClass.dat.LOG2"));
    QVERIFY(shown.contains("Shown: the hive with its transaction logs applied, in memory only."));
  }

  void sharedHivesFillTheWholeTree() {
    if (!test::SharedHivesPresent()) QSKIP("shared hives not found; skipping the real-hive check");
    for (const test::SharedHive& h : test::SharedHives()) {
      Open(QString::fromStdString(h.path));
      QCOMPARE(CountNodes(Top()), static_cast<int>(h.keys));
    }
  }
};

QTEST_MAIN(MainWindowTest)
#include "window_main_test.moc"
