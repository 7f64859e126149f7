// The main window's commands and its two dialogs, offscreen, through the seam.
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>
#include <fstream>
#include <memory>

#include "win/tform3.h"
#include "cli_support.h"
#include "win/tform2.h"
#include "hive_builder.h"
#include "hive/key_lookup.h"
#include "hive/key_walk.h"
#include "shared_hives.h"
#include "win/tform1.h"
#include "window_fixture.h"

using namespace cellbrook;
using test::Bytes;
using test::HiveBuilder;
using test::Row, test::Scratch, test::Utf16Text, test::WriteFile;

namespace {

// ROOT\Software\Sample with dword "Count" (inline), "empty", "broken" (data
// outside the file) and "big" (segments); ROOT\Software\Sample\Child.
QString CommandsHive() {
  HiveBuilder b;
  const uint32_t root = b.Key("root");
  const uint32_t software = b.Key("Software", root);
  const uint32_t sample = b.Key("Sample", software);
  const uint32_t child = b.Key("Child", sample);
  b.SetSubkeys(root, {software});
  b.SetSubkeys(software, {sample});
  b.SetSubkeys(sample, {child});
  const uint32_t broken = b.Value("broken", 3, Bytes(8, 1), test::DataStorage::Cell);
  b.Put32(broken + 0xC, 0x7FFFFF00);
  Bytes big(40000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 3);
  b.SetValues(sample, {b.Value("Count", 4, {0x1A, 0, 0, 0}), b.Value("empty", 3, {}), broken, b.Value("big", 3, big)});
  b.SetValues(child, {b.Value("x", 4, {1, 0, 0, 0})});
  b.SetRoot(root);
  return WriteFile("commands.hive", b.Image());
}

}  // namespace

class CommandsTest : public QObject, test::WindowFixture {
  Q_OBJECT

  // Key names compare regardless of case, as in the registry.
  QTreeWidgetItem* Child(QTreeWidgetItem* parent, const QString& caption) {
    return test::Child(parent, caption, Qt::CaseInsensitive);
  }
  QTreeWidgetItem* Sample() { return Child(Child(Top(), "Software"), "Sample"); }
  void SelectValue(const QString& caption) { form->ListView1->setCurrentItem(Row(form->ListView1, caption)); }

 private slots:
  void init() { Start(test::Dialogs::ExportAndAbout); }
  void cleanup() { Stop(); }

  void saveDoesNothingWithoutAValue() {
    form->Savevalue1Click();
    Open(CommandsHive());
    form->Savevalue1Click();
    QVERIFY(modal->boxes.isEmpty());
    QCOMPARE(modal->fileDialogs.size(), 1);  // the open dialog only
  }

  void saveOutcomes_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("dialogShown");
    QTest::newRow("inline dword") << "Count"
                                  << ""
                                  << "" << true;
    QTest::newRow("empty") << "empty"
                           << ""
                           << "Value is empty!" << false;
    QTest::newRow("damaged") << "broken"
                             << ""
                             << "Value data is damaged!" << false;
    QTest::newRow("cannot create") << "Count"
                                   << "/no/such/folder/v.bin"
                                   << "Unable to create target file!" << true;
    // A device is never opened: refused as no regular file.
    QTest::newRow("full device") << "big"
                                 << "/dev/full"
                                 << "The target exists and is not a regular file (a folder, device, FIFO or "
                                    "socket): it is not written."
                                 << true;
  }
  void saveOutcomes() {
    QFETCH(QString, value);
    QFETCH(QString, target);
    QFETCH(QString, box);
    QFETCH(bool, dialogShown);
    Open(CommandsHive());
    Select(Sample());
    SelectValue(value);
    const QString out = target.isEmpty() ? Scratch("saved.bin") : target;
    modal->fileAnswers << out;
    modal->overwriteAnswers << true;  // /dev/full exists: the user says replace
    form->Save1Click();
    QCOMPARE(modal->fileDialogs.size(), dialogShown ? 2 : 1);
    if (box.isEmpty()) {
      QVERIFY(modal->boxes.isEmpty());
      QCOMPARE(QString::fromStdString(test::ReadFileBytes(out.toStdString())).toLatin1(), QByteArray("\x1A\0\0\0", 4));
      return;
    }
    QCOMPARE(modal->boxes.size(), 1);
    QCOMPARE(modal->boxes[0].text, box);
    QCOMPARE(modal->boxes[0].caption, QString("Cellbrook"));
    QCOMPARE(modal->boxes[0].icon, box == "Value is empty!" ? BoxIcon::Information : BoxIcon::Error);
    if (target.isEmpty()) QVERIFY(!QFile::exists(out));  // nothing written
    QVERIFY(QFile::exists("/dev/full"));
  }

  void saveAsksBeforeReplacingAndCancelWritesNothing() {
    Open(CommandsHive());
    Select(Sample());
    SelectValue("big");
    const QString out = Scratch("big.bin");
    { std::ofstream(out.toStdString()) << "old content that is longer than nothing"; }
    // No keeps the file; the dialog stays and is cancelled.
    modal->fileAnswers << out;
    modal->overwriteAnswers << false;
    form->Savevalue1Click();
    QCOMPARE(modal->overwriteQuestions,
             QStringList{QFileInfo(out).fileName() + " already exists.\nDo you want to replace it?"});
    QCOMPARE(QFileInfo(out).size(), 39);
    // No, then another name: that one is written.
    const QString second = Scratch("big-second.bin");
    modal->fileAnswers << out << second;
    modal->overwriteAnswers << false;
    form->Savevalue1Click();
    QCOMPARE(QFileInfo(out).size(), 39);
    QCOMPARE(QFileInfo(second).size(), 40000);
    // Yes replaces it.
    modal->fileAnswers << out;
    modal->overwriteAnswers << true;
    form->Savevalue1Click();
    QCOMPARE(QFileInfo(out).size(), 40000);
    QCOMPARE(modal->fileDialogs.last().FilterName, QString("Any files"));
    const QString other = Scratch("cancelled.bin");
    modal->fileAnswers << QString();
    form->Save1Click();
    QVERIFY(!QFile::exists(other));
    QCOMPARE(form->SaveDialog1.FileName, out);  // remembered
  }

  void sharedBigValueSavesLikeTheCommandLine() {
    if (!test::SharedHivesPresent()) QSKIP("shared hives not found; skipping the real-hive check");
    const std::string hive = test::SharedHivesDir() + "/SYSTEM";
    Open(QString::fromStdString(hive));
    // The first big-data value of the hive, found with the reader.
    QStringList path;
    QString valueName;
    KeyWalk walk(form->Document().Hive(), "ROOT");
    struct Finder {
      KeyWalk& walk;
      const HiveImage& image;
      QStringList names, found;
      QString value;
      bool Enter(const KeyInfo& key, uint32_t depth) {
        if (!value.isEmpty()) return false;
        names.resize(depth);
        names.push_back(QString::fromStdString(KeyNameString(key)));
        for (const ValueInfo& v : ReadValues(image, key, walk.Budget()).values) {
          if (v.IsBigData && value.isEmpty()) {
            value = QString::fromStdString(ValueNameString(v));
            found = names;
          }
        }
        return true;
      }
      void Leave(const KeyInfo&, uint32_t) {}
      void Missing(uint32_t) {}
    } finder{walk, form->Document().Hive(), {}, {}, {}};
    KeyInfo root;
    QVERIFY(GetRootKey(form->Document().Hive(), root));
    walk.Run(root, finder);
    QVERIFY(!finder.value.isEmpty());
    QTreeWidgetItem* item = Top();
    for (int i = 1; i < finder.found.size(); ++i) item = Child(item, finder.found[i]);
    QVERIFY(item != nullptr);
    Select(item);
    SelectValue(finder.value);
    const QString out = Scratch("system-big-window.bin");
    modal->fileAnswers << out;
    form->Save1Click();
    QVERIFY(modal->boxes.isEmpty());
    const std::string cliOut = test::ScratchPath("system-big-cli.bin");
    const std::string keyPath = "ROOT\\" + finder.found.mid(1).join("\\").toStdString();
    const test::CliRun r = test::RunCliCaptured({"save", hive, keyPath, finder.value.toStdString(), cliOut});
    QCOMPARE(r.code, 0);
    QVERIFY(test::ReadFileBytes(cliOut) == test::ReadFileBytes(out.toStdString()));
    QVERIFY(QFileInfo(out).size() > 16344);
  }

  void popupPointArithmetic() {
    struct Case {
      QPoint pointer;
      QRect frame;
      int client;
      QPoint offset, at;
    } cases[] = {
        {{10, 20}, {100, 50, 696, 510}, 456, {252, 0}, {362, 124}},
        {{0, 0}, {0, 0, 696, 510}, 456, {0, 0}, {0, 54}},
        {{5, 5}, {-20, -30, 300, 200}, 180, {3, 4}, {-12, -1}},
    };
    for (const Case& c : cases) QCOMPARE(PopupPoint(c.pointer, c.frame, c.client, c.offset), c.at);
  }

  void listMenuOnTheRightButtonOnly() {
    Open(CommandsHive());
    Select(Sample());
    QWidget* viewport = form->ListView1->viewport();
    QTreeWidgetItem* count = Row(form->ListView1, "Count");
    const QRect row = form->ListView1->visualItemRect(count);
    QTest::mousePress(viewport, Qt::LeftButton, {}, row.center());
    QTest::mousePress(viewport, Qt::MiddleButton, {}, row.center());
    QVERIFY(modal->popups.isEmpty());
    form->ListView1->clearSelection();
    QTest::mousePress(viewport, Qt::RightButton, {}, QPoint(5, viewport->height() - 3));
    QVERIFY(modal->popups.isEmpty());  // nothing selected after the press
    QTest::mousePress(viewport, Qt::RightButton, {}, row.center());
    QCOMPARE(modal->popups.size(), 1);
    QCOMPARE(modal->popups[0].first, form->PopupMenu1);
    QVERIFY(count->isSelected());  // the press selected the row
    const QPoint client = viewport->mapTo(form->ListView1, row.center()) -
                          QPoint(form->ListView1->frameWidth(), form->ListView1->frameWidth());
    QCOMPARE(modal->popups[0].second,
             PopupPoint(client, form->frameGeometry(), form->height() - form->MainMenu1->height(),
                        form->ListView1->mapTo(form->Panel1, QPoint(0, 0))));
    // Choosing "Save" saves that row.
    modal->popupChoice = 0;
    const QString out = Scratch("popup.bin");
    modal->fileAnswers << out;
    QTest::mousePress(viewport, Qt::RightButton, {}, row.center());
    QVERIFY(QFile::exists(out));
  }

  void treeMenuActsOnTheNodeUnderThePointer() {
    Open(CommandsHive());
    QWidget* viewport = form->TreeView1->viewport();
    form->TreeView1->expandAll();
    QTreeWidgetItem* software = Child(Top(), "Software");
    QTreeWidgetItem* sample = Sample();
    Select(software);
    // A left or middle press never shows a menu.
    QTest::mousePress(viewport, Qt::LeftButton, {}, QPoint(5, viewport->height() - 3));
    QTest::mousePress(viewport, Qt::MiddleButton, {}, form->TreeView1->visualItemRect(sample).center());
    QVERIFY(modal->popups.isEmpty());
    Select(software);
    // A right press beside every node: no menu, the selection and the panes stay.
    QTest::mousePress(viewport, Qt::RightButton, {}, QPoint(5, viewport->height() - 3));
    QVERIFY(modal->popups.isEmpty());
    QCOMPARE(SelectedItem(form->TreeView1), software);
    QCOMPARE(form->StatusPanel0->text(), QString("ROOT\\Software"));
    // A right press on another node selects it and shows it before the menu.
    QTest::mousePress(viewport, Qt::RightButton, {}, form->TreeView1->visualItemRect(sample).center());
    QCOMPARE(modal->popups.size(), 1);
    QCOMPARE(modal->popups[0].first, form->PopupMenu2);
    QCOMPARE(SelectedItem(form->TreeView1), sample);
    QCOMPARE(form->StatusPanel0->text(), QString("ROOT\\Software\\Sample"));
    QCOMPARE(form->ListView1->topLevelItemCount(), 4);
    // "Export key" from it exports the key under the pointer.
    Select(software);
    modal->popupChoice = 0;
    QString shown;
    QTimer::singleShot(0, [&] {
      shown = dialog->Label2->text();
      dialog->Button2Click();
    });
    QTest::mousePress(viewport, Qt::RightButton, {}, form->TreeView1->visualItemRect(sample).center());
    QCOMPARE(shown, QString("\\Software\\Sample"));
  }

  // The open hive and its logs are never written, by any name; replacing
  // another file is asked first.
  void evidenceIsNeverWritten() {
    const QString folder = Scratch("evidence-dir");
    QDir().mkpath(folder);
    const QString hive = folder + "/EVIDENCE";
    QVERIFY(QFile::copy(CommandsHive(), hive));
    const QString log = folder + "/evidence.log1";
    { std::ofstream(log.toStdString()) << "log bytes"; }
    const QString link = folder + "/other-name";
    QVERIFY(QFile::link(hive, link));
    const std::string hiveBytes = test::ReadFileBytes(hive.toStdString());
    Open(hive);
    Select(Sample());
    SelectValue("Count");
    for (const QString& target : {hive, log, link}) {
      modal->boxes.clear();
      modal->fileAnswers << target;
      modal->overwriteAnswers << true;  // even when the user says replace
      form->Savevalue1Click();
      QCOMPARE(modal->boxes.size(), 1);
      QCOMPARE(modal->boxes[0].text, QString(kEvidenceRefusalText));
    }
    // The export dialog refuses them the same way (names with a suffix: the
    // dialog adds ".reg" to one without).
    const QString regLink = folder + "/link.reg";
    QVERIFY(QFile::link(hive, regLink));
    for (const QString& target : {log, regLink}) {
      modal->boxes.clear();
      modal->fileAnswers << target;
      modal->overwriteAnswers << true;
      QTimer::singleShot(0, [&] {
        dialog->Button1Click();
        dialog->Button2Click();
      });
      form->Exportkey1Click();
      QCOMPARE(modal->boxes.size(), 1);
      QCOMPARE(modal->boxes[0].text, QString(kEvidenceRefusalText));
    }
    QVERIFY(test::ReadFileBytes(hive.toStdString()) == hiveBytes);
    QVERIFY(test::ReadFileBytes(log.toStdString()) == "log bytes");
  }

  void exportSaysWhatWasLeftOut() {
    HiveBuilder b;
    const uint32_t root = b.Key("root");
    const uint32_t good = b.Key("Good", root), bad = b.Key("Bad\nName", root);
    b.SetSubkeys(root, {bad, good});
    b.SetValues(good, {b.Value("v", 4, {1, 0, 0, 0})});
    b.SetRoot(root);
    Open(WriteFile("left-out.hive", b.Image()));
    Select(Top());
    const QString out = Scratch("left-out.reg");
    modal->fileAnswers << out;
    QTimer::singleShot(0, [&] { dialog->Button1Click(); });
    form->Exportkey1Click();
    QCOMPARE(modal->boxes.size(), 1);
    QVERIFY2(modal->boxes[0].text.contains("could not be written"), qPrintable(modal->boxes[0].text));
    QCOMPARE(modal->boxes[0].icon, BoxIcon::Information);
    QVERIFY(Utf16Text(test::ReadFileBytes(out.toStdString())).find("\\Good]") != std::string::npos);
  }

  void rootKeyIsAKey() {
    Open(CommandsHive());
    Select(Top());
    QCOMPARE(form->StatusPanel0->text(), QString("ROOT"));
    QVERIFY(form->StatusPanel1->text().startsWith("Last written "));
    // Export key on it writes the whole hive under the prefix alone.
    const QString out = Scratch("whole.reg");
    modal->fileAnswers << out;
    dialog->RadioButton2->setChecked(true);
    QString shown;
    QTimer::singleShot(0, [&] {
      shown = dialog->Label2->text();
      dialog->Button1Click();
    });
    form->Exportkey1Click();
    QCOMPARE(shown, QString("\\ (the root key: the whole hive)"));
    const std::string text = Utf16Text(test::ReadFileBytes(out.toStdString()));
    QVERIFY(text.find("\r\n[HKEY_LOCAL_MACHINE\\SYSTEM]\r\n") != std::string::npos);
    QVERIFY(text.find("\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\Software\\Sample\\Child]\r\n") != std::string::npos);
    // The pop-up menu shows on it too.
    QTest::mousePress(form->TreeView1->viewport(), Qt::RightButton, {},
                      form->TreeView1->visualItemRect(Top()).center());
    QCOMPARE(modal->popups.size(), 1);
  }

  void exportDialogShowsThePathOrWhyNot() {
    Open(CommandsHive());
    dialog->SetExport(&form->Document().Hive(), KeyRef{});
    dialog->show();
    QCOMPARE(dialog->Label2->text(), QString("[Invalid key]"));
    QVERIFY(!dialog->Button1->isEnabled());
    dialog->hide();
    dialog->SetExport(&form->Document().Hive(), KeyOf(Sample()));
    dialog->show();
    QCOMPARE(dialog->Label2->text(), QString("\\Software\\Sample"));
    QVERIFY(dialog->Button1->isEnabled());
    QCOMPARE(dialog->windowTitle(), QString("Select key type"));
    QCOMPARE(dialog->RadioButton1->text(), QString("HKEY_CURRENT_USER\\ (surrent user registry)"));
    QVERIFY(dialog->RadioButton1->isChecked());
  }

  void exportDialogOutcomes() {
    Open(CommandsHive());
    dialog->SetExport(&form->Document().Hive(), KeyOf(Child(Sample(), "Child")));
    dialog->show();
    dialog->RadioButton2->setChecked(true);
    // A cancelled file dialog leaves the export dialog as it was.
    modal->fileAnswers << QString();
    dialog->Button1Click();
    QVERIFY(dialog->isVisible());
    QVERIFY(dialog->RadioButton2->isChecked());
    QCOMPARE(modal->fileDialogs.last().FilterName, QString("Windows unicode registry files"));
    QCOMPARE(modal->fileDialogs.last().DefaultExtension, QString("reg"));
    // A file that cannot be created.
    modal->fileAnswers << "/no/such/folder/x.reg";
    dialog->Button1Click();
    QCOMPARE(modal->boxes.last().text, QString("Unable to create target file!"));
    QCOMPARE(modal->boxes.last().caption, QString("Cellbrook"));
    QVERIFY(dialog->isVisible());
    // A name the save dialog can give (it has the suffix, so none is
    // added) that leads to a device: refused, never opened.
    const QString full = Scratch("full.reg");
    QVERIFY(QFile::link("/dev/full", full));
    modal->fileAnswers << full;
    dialog->Button1Click();
    QCOMPARE(modal->boxes.last().text, QString("Unable to create target file!"));
    QCOMPARE(modal->boxes.last().owner, dialog.get());
    QVERIFY(dialog->isVisible());
    QVERIFY(QFileInfo(full).isSymLink());
    // Success closes the dialog; the prefix stands before the key path.
    const QString out = Scratch("dialog.reg");
    modal->fileAnswers << out;
    dialog->Button1Click();
    QVERIFY(!dialog->isVisible());
    const std::string text = Utf16Text(test::ReadFileBytes(out.toStdString()));
    QVERIFY(text.find("\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\Software\\Sample\\Child]\r\n") != std::string::npos);
    QCOMPARE(test::ReadFileBytes(out.toStdString()).size() > 78, true);
  }

  void exportDialogSaysWhatDamageWasSkipped() {
    Open(CommandsHive());
    dialog->SetExport(&form->Document().Hive(), KeyOf(Sample()));
    dialog->show();
    const QString out = Scratch("partial.reg");
    modal->fileAnswers << out;
    dialog->Button1Click();  // "broken" lies outside the file
    QCOMPARE(modal->boxes.size(), 1);
    QCOMPARE(modal->boxes.last().text, QString("The hive is damaged: the data of 1 value could not be read (first at "
                                               "ROOT\\Software\\Sample); everything readable was written."));
    QCOMPARE(modal->boxes.last().icon, BoxIcon::Information);
    QCOMPARE(modal->boxes.last().owner, dialog.get());
    QVERIFY(!dialog->isVisible());  // the export is done
    const std::string text = Utf16Text(test::ReadFileBytes(out.toStdString()));
    QVERIFY(text.rfind("?Windows Registry Editor Version 5.00\r\n", 0) == 0);
    QVERIFY(text.find("\"Count\"=dword:0000001A") != std::string::npos);
  }

  void sharedExportMatchesTheCommandLine() {
    if (!test::SharedHivesPresent()) QSKIP("shared hives not found; skipping the real-hive check");
    const std::string hive = test::SharedHivesDir() + "/SYSTEM";
    Open(QString::fromStdString(hive));
    QTreeWidgetItem* services = Child(Child(Top(), "ControlSet001"), "Services");
    QVERIFY(services != nullptr);
    dialog->SetExport(&form->Document().Hive(), KeyOf(services));
    dialog->show();
    QCOMPARE(dialog->Label2->text().toLower(), QString("\\controlset001\\services"));
    dialog->RadioButton2->setChecked(true);
    const QString out = Scratch("services-window.reg");
    modal->fileAnswers << out;
    dialog->Button1Click();
    QVERIFY(modal->boxes.isEmpty());
    const std::string cliOut = test::ScratchPath("services-cli.reg");
    QCOMPARE(test::RunCliCaptured(
                 {"export", hive, "ROOT\\ControlSet001\\Services", cliOut, "--prefix", "HKEY_LOCAL_MACHINE\\SYSTEM"})
                 .code,
             0);
    QVERIFY(test::ReadFileBytes(cliOut) == test::ReadFileBytes(out.toStdString()));
    QVERIFY(Utf16Text(test::ReadFileBytes(out.toStdString()))
                .find("\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\" + services->text(0).toStdString() + "]\r\n") !=
            std::string::npos);
  }

  void aboutWindow() {
    QCOMPARE(about->Label1->text(), QString("Cellbrook"));
    QCOMPARE(about->Label2->text(), QString("version 1.0"));
    QCOMPARE(about->Label7->text(), QString("- data recovery and locked files access."));
    QCOMPARE(about->Label5->text(), QString("Related software:"));
    QVERIFY(about->Label1->font().family().startsWith("Verdana"));
    for (int round = 0; round < 2; ++round) {
      bool focused = false, openAfterLinks = false;
      QTimer::singleShot(0, [&] {
        focused = about->focusWidget() == about->Button1;
        about->Label8Click();
        QTest::mouseClick(about->Label6, Qt::LeftButton);
        openAfterLinks = about->isVisible();
        about->Button1->click();
      });
      form->About1Click();
      QVERIFY(focused);
      QVERIFY(openAfterLinks);
      QVERIFY(!about->isVisible());
    }
    // Escape closes it, as the Close button does.
    bool closedByEscape = false;
    QTimer::singleShot(0, [&] {
      QTest::keyClick(about->focusWidget() ? about->focusWidget() : about.get(), Qt::Key_Escape);
      closedByEscape = !about->isVisible();
      if (!closedByEscape) about->Button1->click();  // fail, but do not hang
    });
    form->About1Click();
    QVERIFY(closedByEscape);
    QCOMPARE(modal->urls.size(), 4);
    QCOMPARE(modal->urls[0], QUrl(kMakerPage));
    QCOMPARE(modal->urls[1], QUrl(kRelatedProductPage));
    for (const QUrl& url : modal->urls) QVERIFY(url.host().endsWith("example.org"));
  }

  void programWebSite() {
    form->ProgramWebSite1Click();
    QCOMPARE(modal->urls, QList<QUrl>{QUrl(kProductPage)});
  }
};

QTEST_MAIN(CommandsTest)
#include "window_commands_test.moc"
