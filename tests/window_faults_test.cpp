// Faults found in use of the windows, each held by a test: pop-up commands
// run once, long names readable, a named pipe answered at once, presses on
// empty list space, the Name cell highlight, the export dialog's closing
// and its failures, fonts and frames, control characters in names, and the
// tree's connecting lines.
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>
#include <QToolTip>
#include <QtTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>

#include "hive_builder.h"
#include "shared_hives.h"
#include "win/item_views_look.h"
#include "win/tform1.h"
#include "win/tform2.h"
#include "window_fixture.h"

using namespace cellbrook;
using test::Bytes;
using test::Child, test::Row, test::Scratch;
using test::HiveBuilder;

namespace {

const std::string kLongName = "{6F0B3A52-9D1C-4C4E-8E7B-2A5D0E1F3C47}-a-key-name-longer-than-the-tree";

// ROOT with keys "short" (values "v" and a long-named one), a long-named key,
// "a\r\nb" (value "x\ny") and "leaf"; "short" has a child "deep".
QString FaultsHive() {
  HiveBuilder b;
  const uint32_t root = b.Key("ROOT-NAME");
  const uint32_t shortKey = b.Key("short", root);
  const uint32_t longKey = b.Key(kLongName, root);
  const uint32_t crlf = b.Key("a\r\nb", root);
  const uint32_t leaf = b.Key("leaf", root);
  const uint32_t deep = b.Key("deep", shortKey);
  b.SetSubkeys(root, {shortKey, longKey, crlf, leaf});
  b.SetSubkeys(shortKey, {deep});
  b.SetValues(shortKey, {b.Value("v", 3, {1, 2, 3}), b.Value(kLongName, 4, {1, 0, 0, 0}), b.Value("empty", 3, {})});
  b.SetValues(crlf, {b.Value("x\ny", 4, {2, 0, 0, 0})});
  b.SetRoot(root);
  return QString::fromStdString(test::WriteScratchFile("faults.hive", b.Image()));
}

// The tool tip a resting pointer at `point` of the view brings up, or "".
QString ToolTipAt(QTreeWidget* view, QPoint point) {
  QToolTip::hideText();                                                // hides after a short delay
  (void)QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 2000);  // what follows checks the outcome
  QHelpEvent help(QEvent::ToolTip, point, view->viewport()->mapToGlobal(point));
  QCoreApplication::sendEvent(view->viewport(), &help);
  return QToolTip::isVisible() ? QToolTip::text() : QString();
}

bool Differs(QRgb a, QRgb b) { return qGray(a) != qGray(b) || a != b; }

}  // namespace

class WindowFaultsTest : public QObject, test::WindowFixture {
  Q_OBJECT

  void Activate(QWidget* w) {
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
  }

 private slots:
  void init() {
    Start(test::Dialogs::Export);
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
  }
  void cleanup() { Stop(); }

  // 1. A command picked from a pop-up menu runs once.
  void popupCommandsRunOnce() {
    Open(FaultsHive());
    Select(Child(Top(), "short"));
    QWidget* viewport = form->ListView1->viewport();
    modal->popupChoice = 0;
    const QString out = Scratch("popup-once.bin");
    modal->fileAnswers << out << QString();  // a second dialog would be cancelled
    QTest::mousePress(viewport, Qt::RightButton, {},
                      form->ListView1->visualItemRect(Row(form->ListView1, "v")).center());
    QCOMPARE(modal->fileDialogs.size(), 2);  // the open dialog and one save dialog
    QVERIFY(QFile::exists(out));
    QTest::mousePress(viewport, Qt::RightButton, {},
                      form->ListView1->visualItemRect(Row(form->ListView1, "empty")).center());
    QCOMPARE(modal->boxes.size(), 1);
    QCOMPARE(modal->boxes[0].text, QString("Value is empty!"));
    // The tree's "Export key": the dialog shows once.
    int showings = 0;
    connect(dialog.get(), &QDialog::finished, [&] { ++showings; });
    QTimer closer;  // Cancel on every showing
    connect(&closer, &QTimer::timeout, [&] {
      if (dialog->isVisible()) dialog->Button2Click();
    });
    closer.start(10);
    form->TreeView1->setCurrentItem(Child(Top(), "short"));
    const QRect top = form->TreeView1->visualItemRect(Top());
    QTest::mousePress(form->TreeView1->viewport(), Qt::RightButton, {}, QPoint(top.left() + 24, top.center().y()));
    QCOMPARE(SelectedItem(form->TreeView1), Top());  // the press chose the node the menu acts on
    QCOMPARE(showings, 1);
  }

  // 2. Long names: tool tips where a caption does not fit, sideways
  // scrolling in the tree, and the root key's name at the top node's end.
  void longNamesAreReadable() {
    const QString path = FaultsHive();
    Open(path);
    form->Splitter1->setTreeWidth(200);
    form->TreeView1->expandAll();
    QCoreApplication::processEvents();
    QTreeWidget* tree = form->TreeView1;
    QTreeWidgetItem* longKey = Child(Top(), QString::fromStdString(kLongName));
    QVERIFY(longKey != nullptr);
    QVERIFY(tree->columnWidth(0) > tree->viewport()->width());
    QVERIFY(tree->horizontalScrollBar()->maximum() > 0);
    QCOMPARE(ToolTipAt(tree, tree->visualItemRect(longKey).topLeft() + QPoint(30, 4)), longKey->text(0));
    QCOMPARE(ToolTipAt(tree, tree->visualItemRect(Child(Top(), "leaf")).topLeft() + QPoint(20, 4)), QString());
    // Scrolled to its end, the caption's start is out of view: a tip still.
    tree->horizontalScrollBar()->setValue(tree->horizontalScrollBar()->maximum());
    QCOMPARE(ToolTipAt(tree, tree->visualItemRect(longKey).center()), longKey->text(0));
    // A tree wide enough shows it whole: no tip, nothing to scroll.
    form->resize(1400, form->height());
    form->Splitter1->setTreeWidth(1000);
    QCoreApplication::processEvents();
    QCOMPARE(tree->horizontalScrollBar()->maximum(), 0);
    QCOMPARE(ToolTipAt(tree, tree->visualItemRect(longKey).center()), QString());
    form->Splitter1->setTreeWidth(200);
    QCoreApplication::processEvents();
    // The top node never widens the column past the view, and keeps the
    // root key's name in view by cutting the path at its start.
    tree->collapseAll();
    QCoreApplication::processEvents();
    QVERIFY(tree->columnWidth(0) <= tree->viewport()->width());
    QCOMPARE(ToolTipAt(tree, tree->visualItemRect(Top()).center()), path + ": ROOT-NAME");
    // The value list: a cut Name caption has a tip, a whole one has none.
    Select(Child(Top(), "short"));
    QTreeWidget* list = form->ListView1;
    QTreeWidgetItem* longRow = Row(list, QString::fromStdString(kLongName));
    QCOMPARE(ToolTipAt(list, list->visualItemRect(longRow).topLeft() + QPoint(30, 4)), longRow->text(0));
    QCOMPARE(ToolTipAt(list, list->visualItemRect(Row(list, "v")).topLeft() + QPoint(30, 4)), QString());
  }

  // 3. A named pipe is refused at once; the window stays responsive.
  void namedPipeAnswersAtOnce() {
    const std::string fifo = test::ScratchPath("faults-fifo");
    std::remove(fifo.c_str());
    QVERIFY(::mkfifo(fifo.c_str(), 0666) == 0);
    // Should the open block, a writer unblocks it after a while so that the
    // test fails instead of hanging.
    std::atomic<bool> done{false}, rescued{false};
    std::thread rescue([&] {
      for (int i = 0; i < 50 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (done) return;
      rescued = true;
      const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) ::close(fd);
    });
    bool ticked = false;
    QTimer::singleShot(0, [&] { ticked = true; });
    Open(QString::fromStdString(fifo));
    done = true;
    rescue.join();
    QVERIFY(!rescued);
    QCOMPARE(modal->boxes.size(), 1);
    QCOMPARE(modal->boxes[0].text.section('\n', 0, 0), QString("Can not open source file!"));
    QTRY_VERIFY(ticked);  // the event loop runs on
    std::remove(fifo.c_str());
  }

  // 4. A press on empty list space selects nothing and shows no menu.
  void pressOnEmptyListSpaceSelectsNothing() {
    Open(FaultsHive());
    Select(Child(Top(), "short"));
    QWidget* viewport = form->ListView1->viewport();
    QTreeWidgetItem* v = Row(form->ListView1, "v");
    QTest::mousePress(viewport, Qt::LeftButton, {}, form->ListView1->visualItemRect(v).center());
    QVERIFY(v->isSelected());
    QTest::mousePress(viewport, Qt::RightButton, {}, QPoint(5, viewport->height() - 3));
    QVERIFY(form->ListView1->selectedItems().isEmpty());
    QVERIFY(modal->popups.isEmpty());
    form->Savevalue1Click();  // nothing selected: nothing saved
    QCOMPARE(modal->fileDialogs.size(), 1);
  }

  // 5. Only the Name cell of the selected row is highlighted; the keys
  // still move the selection.
  void onlyTheNameCellIsHighlighted() {
    Open(FaultsHive());
    Select(Child(Top(), "short"));
    QTreeWidget* list = form->ListView1;
    Activate(form.get());
    list->setFocus();
    QTreeWidgetItem* v = list->topLevelItem(0);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(v).center());
    const QImage shot = list->viewport()->grab().toImage();
    const QRgb highlight = list->palette().color(QPalette::Active, QPalette::Highlight).rgb();
    const QRect row = list->visualItemRect(v);
    auto highlighted = [&](int column) {
      const int x = list->header()->sectionViewportPosition(column) + list->columnWidth(column) - 4;
      return shot.pixel(x, row.center().y()) == highlight;
    };
    QVERIFY(highlighted(0));
    QVERIFY(!highlighted(1));
    QVERIFY(!highlighted(2));
    QTest::keyClick(list, Qt::Key_Down);
    QVERIFY(!v->isSelected());
    QCOMPARE(list->selectedItems().size(), 1);
  }

  // 6. Escape leaves the export dialog open; Cancel closes it.
  void escapeKeepsTheExportDialog() {
    Open(FaultsHive());
    dialog->SetExport(&form->Document().Hive(), KeyOf(Child(Top(), "short")));
    bool openAfterEscape = false;
    QTimer::singleShot(0, [&] {
      QTest::keyClick(dialog.get(), Qt::Key_Escape);
      openAfterEscape = dialog->isVisible();
      dialog->Button2->click();
    });
    dialog->exec();
    QVERIFY(openAfterEscape);
    QVERIFY(!dialog->isVisible());
  }

  // 7. Whatever the export raises is reported in the dialog's one box.
  void everythingAnExportRaisesIsReported_data() {
    QTest::addColumn<int>("kind");
    QTest::newRow("std::runtime_error") << 0;
    QTest::newRow("std::bad_alloc") << 1;
    QTest::newRow("not an exception class") << 2;
  }
  void everythingAnExportRaisesIsReported() {
    QFETCH(int, kind);
    static int thrown;
    thrown = kind;
    TForm2 throwing(
        nullptr, [](const HiveImage&, KeyRef, std::string_view, std::string_view, const std::string&) -> ExportOutcome {
          if (thrown == 0) throw std::runtime_error("out of order");
          if (thrown == 1) throw std::bad_alloc();
          throw 42;
        });
    Open(FaultsHive());
    throwing.SetExport(&form->Document().Hive(), KeyOf(Child(Top(), "short")));
    throwing.show();
    modal->fileAnswers << Scratch("thrown.reg");
    throwing.Button1Click();
    QCOMPARE(modal->boxes.size(), 1);
    QCOMPARE(modal->boxes[0].text, QString("It's registry error occured!"));
    QCOMPARE(modal->boxes[0].caption, QString("Error"));
    QCOMPARE(modal->boxes[0].owner, &throwing);
    QVERIFY(throwing.isVisible());  // the dialog stays open
  }

  // 8. Menus speak in the menu bar's font; the prefix frame clears the
  // first radio button.
  void menuFontsAndPrefixFrame() {
    const int bar = QFontInfo(form->MainMenu1->font()).pixelSize();
    for (QMenu* menu : {form->File1, form->Help1, form->PopupMenu1, form->PopupMenu2}) {
      QCOMPARE(QFontInfo(menu->font()).pixelSize(), bar);
      QCOMPARE(menu->font().family(), form->MainMenu1->font().family());
    }
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    const QImage shot = dialog->grab().toImage();
    // Down a column right of every caption: the frame's top line is the
    // first pixel that is not the dialog's background.
    const QRect frame = dialog->RadioGroup1->geometry();
    const int x = frame.right() - 10;
    const QRgb background = shot.pixel(x, frame.top() - 2);
    int line = -1;
    for (int y = frame.top(); y < frame.bottom() && line < 0; ++y) {
      if (Differs(shot.pixel(x, y), background)) line = y;
    }
    QVERIFY(line >= frame.top());
    QVERIFY2(line < dialog->RadioButton1->geometry().top(), qPrintable(QString("frame line at y=%1").arg(line)));
    // The title stays readable on the line, left of the buttons' captions.
    QVERIFY(dialog->RadioGroup1->title() == "Registry prefixes");
  }

  // 9. Control characters in names show as symbols, on one line.
  void controlCharactersInNamesShow() {
    QCOMPARE(ShownName(QString("a\r\nb\tc")), QString::fromUtf8("a\u240D\u240Ab\u2409c"));
    QCOMPARE(ShownName(QString("plain {GUID}")), QString("plain {GUID}"));
    Open(FaultsHive());
    QTreeWidgetItem* key = Child(Top(), QString::fromUtf8("a\u240D\u240Ab"));
    QVERIFY(key != nullptr);
    Select(key);
    QCOMPARE(form->StatusPanel0->text(), QString::fromUtf8("ROOT\\a\u240D\u240Ab"));
    QCOMPARE(form->ListView1->topLevelItem(0)->text(0), QString::fromUtf8("x\u240Ay"));
    const int rowHeight = form->TreeView1->visualItemRect(Child(Top(), "leaf")).height();
    form->TreeView1->expandAll();
    QCOMPARE(form->TreeView1->visualItemRect(key).height(), rowHeight);
    dialog->SetExport(&form->Document().Hive(), KeyOf(key));
    dialog->show();
    QCOMPARE(dialog->Label2->text(), QString::fromUtf8("\\a\u240D\u240Ab"));
    QCOMPARE(dialog->KeyPath, std::string("\\a\r\nb"));  // the stored name is kept
  }

  // 10. The tree draws connecting lines: a leaf with a sibling below has
  // its line down and across in its branch area.
  void treeDrawsConnectingLines() {
    Open(FaultsHive());
    QTreeWidget* tree = form->TreeView1;
    tree->expandAll();
    QCoreApplication::processEvents();
    const QImage shot = tree->viewport()->grab().toImage();
    const QRgb base = tree->palette().color(QPalette::Base).rgb();
    QTreeWidgetItem* longKey = Child(Top(), QString::fromStdString(kLongName));  // no children
    const QRect row = tree->visualItemRect(longKey);
    const int branchLeft = row.left() - tree->indentation();
    int marked = 0;
    for (int x = branchLeft; x < row.left(); ++x) {
      for (int y = row.top(); y <= row.bottom(); ++y) marked += Differs(shot.pixel(x, y), base);
    }
    QVERIFY2(marked >= 8, qPrintable(QString("%1 line pixels").arg(marked)));
  }
};

QTEST_MAIN(WindowFaultsTest)
#include "window_faults_test.moc"
