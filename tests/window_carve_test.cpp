// Find hives in image, Save hive as and the hint at hive bins behind an
// invalid base block, offscreen, through the real dialog and the modal seam.
#include <QApplication>
#include <QFileInfo>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <fcntl.h>
#include <cstring>
#include <unistd.h>

#include "carve_images.h"
#include "export/evidence_guard.h"
#include "win/carve_dialog.h"
#include "win/hive_info_dialog.h"
#include "win/tform1.h"
#include "window_fixture.h"

using namespace cellbrook;
using test::Bytes;

namespace {

// A found hive at 0x10000 in two fragments and a headerless one at 0x71200.
QString CarveImageFile() {
  const Bytes a = test::MultiBinHive(4), b = test::MultiBinHive(2);
  const auto sa = test::BinStarts(a);
  Bytes image = test::JunkImage(0x100000);
  test::Plant(image, 0x10000, test::Slice(a, 0, sa[2]));
  test::Plant(image, 0x40000, test::Slice(a, sa[2], sa.back()));
  test::Plant(image, 0x71200, test::Slice(b, 4096, b.size()));
  return test::WriteFile("window-carve.img", image);
}

// Answers the dialog when it shows: waits for the scan, then `act`.
void WhenDialogShows(TForm1* form, std::function<void(CarveDialog*)> act) {
  QTimer::singleShot(0, form, [form, act] {
    CarveDialog* dialog = nullptr;
    (void)QTest::qWaitFor(
        [&] { return (dialog = form->findChild<CarveDialog*>("CarveDialog1")) && dialog->isVisible(); }, 5000);
    if (dialog != nullptr) act(dialog);
  });
}

}  // namespace

class CarveWindowTest : public QObject {
  Q_OBJECT
  test::WindowFixture w;

 private slots:
  void init() { w.Start(test::Dialogs::Export); }
  void cleanup() { w.Stop(); }

  void ListsTheHivesAndOpensTheChosenOneInMemory() {
    const QString image = CarveImageFile();
    const std::string before = test::ReadFileBytes(image.toStdString());
    w.modal->fileAnswers << image;
    QStringList rows;
    WhenDialogShows(w.form.get(), [&rows](CarveDialog* dialog) {
      (void)QTest::qWaitFor([dialog] { return !dialog->Scanning() && dialog->HiveList1->topLevelItemCount() > 0; },
                            5000);
      for (int i = 0; i < dialog->HiveList1->topLevelItemCount(); ++i) {
        QStringList cells;
        for (int c = 0; c < dialog->HiveList1->columnCount(); ++c) cells << dialog->HiveList1->topLevelItem(i)->text(c);
        rows << cells.join('|');
      }
      dialog->HiveList1->setCurrentItem(dialog->HiveList1->topLevelItem(1));
      QTest::mouseClick(dialog->OpenButton, Qt::LeftButton);
    });
    w.form->Findhivesinimage1->trigger();
    QCOMPARE(rows, (QStringList{"0x10000|-|24576|yes|found|2", "0x71200|-|16384|yes|rebuilt|1"}));
    QCOMPARE(w.Top()->text(0), image + " at 0x71200: ROOT-NAME");
    QVERIFY(test::Child(w.Top(), "Software") != nullptr);
    const std::string& origin = w.form->CarvedOrigin();
    QVERIFY2(origin.find("Found in the raw image " + image.toStdString() + " at offset 0x71200") != std::string::npos,
             origin.c_str());
    QVERIFY(origin.find("Base block: rebuilt; fragments: 1; complete") != std::string::npos);
    QCOMPARE(w.modal->boxes.size(), 0);
    // The window says what it shows now, and the image is what is never written.
    QCOMPARE(w.form->windowTitle(), "Cellbrook - " + QFileInfo(image).fileName() + " at 0x71200");
    QCOMPARE(w.form->StatusPanel0->text(), QString("Ready"));
    QVERIFY(w.form->Evidence().Refuses(image.toStdString()));
    w.Select(w.Top());
    w.modal->fileAnswers << image;
    w.modal->overwriteAnswers << true;  // the user says replace: the guard still refuses
    QTimer::singleShot(0, [&] {
      w.dialog->Button1Click();
      w.dialog->reject();
    });
    w.form->Exportkey1Click();
    QCOMPARE(w.modal->boxes.size(), 1);
    QCOMPARE(w.modal->boxes[0].text, QString(kEvidenceRefusalText));
    QCOMPARE(test::ReadFileBytes(image.toStdString()), before);
    w.modal->boxes.clear();

    // Save hive as: a new file holding what is shown; never over a file.
    const QString target = test::Scratch("window-carved.hive");
    w.modal->fileAnswers << target;
    w.form->Savehiveas1->trigger();
    QCOMPARE(w.modal->fileDialogs.last().FileName, QString("0x0000071200-hive.hive"));
    const std::string saved = test::ReadFileBytes(target.toStdString());
    QCOMPARE(saved.size(), w.form->Document().Bytes().size());
    QVERIFY(std::memcmp(saved.data(), w.form->Document().Bytes().data(), saved.size()) == 0);
    w.modal->fileAnswers << image;      // the image itself
    w.modal->overwriteAnswers << true;  // the user says replace: still refused
    w.form->Savehiveas1->trigger();
    QCOMPARE(w.modal->boxes.size(), 1);
    QCOMPARE(w.modal->boxes[0].text, QString(kEvidenceRefusalText));
    QCOMPARE(test::ReadFileBytes(image.toStdString()), before);
    w.modal->fileAnswers << target;  // the file saved a moment ago
    w.modal->overwriteAnswers << true;
    w.form->Savehiveas1->trigger();
    QCOMPARE(w.modal->boxes.size(), 2);
    QVERIFY(w.modal->boxes[1].text.contains("exists and is not replaced"));

    // Opening a file again forgets where the carved hive came from.
    w.Open(target);
    QCOMPARE(w.Top()->text(0), target + ": ROOT-NAME");
    QVERIFY(w.form->CarvedOrigin().empty());
  }

  void CancelStopsTheScanAndOpensNothing() {
    // 4 GiB of holes: the scan is still running when Cancel comes.
    const std::string path = test::ScratchPath("window-carve-sparse.img");
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    QVERIFY(fd >= 0 && ::ftruncate(fd, off_t{4} << 30) == 0);
    ::close(fd);
    w.modal->fileAnswers << QString::fromStdString(path);
    bool wasScanning = false;
    WhenDialogShows(w.form.get(), [&wasScanning](CarveDialog* dialog) {
      wasScanning = dialog->Scanning();
      QTest::mouseClick(dialog->CancelButton, Qt::LeftButton);
    });
    w.form->Findhivesinimage1->trigger();
    std::remove(path.c_str());
    QVERIFY(wasScanning);
    QCOMPARE(w.Top()->text(0), QString("(no file opened)"));
    QVERIFY(w.form->findChild<CarveDialog*>("CarveDialog1") == nullptr);
  }

  void UnreadableImageSaysSo() {
    w.modal->fileAnswers << QString::fromStdString(test::ScratchPath("no-such.img"));
    w.form->Findhivesinimage1->trigger();
    QCOMPARE(w.modal->boxes.size(), 1);
    QVERIFY(w.modal->boxes[0].text.startsWith("The image cannot be read"));
  }

  void OpenHintsAtHiveBinsBehindAnInvalidBaseBlock() {
    Bytes wiped = test::MultiBinHive(1);
    std::fill(wiped.begin(), wiped.begin() + 4096, 0);
    Bytes junk = test::JunkImage(8192);
    struct Case {
      const char* name;
      Bytes bytes;
      bool hint;
    };
    for (const Case& c :
         {Case{"wiped.dat", wiped, true}, Case{"bins-only.dat", test::Slice(wiped, 4096, wiped.size()), true},
          Case{"junk.dat", junk, false}}) {
      w.modal->boxes.clear();
      w.Open(test::WriteFile(c.name, c.bytes));
      QCOMPARE(w.modal->boxes.size(), 1);
      QVERIFY(w.modal->boxes[0].text.startsWith("File format is invalid!"));
      QCOMPARE(w.modal->boxes[0].text.contains("Find hives in image... can rebuild it"), c.hint);
    }
  }

  // A carved hive is a new document: the log choice made for the file
  // before, and that file's damage, are not its own.
  void CarvedHiveKeepsNothingOfTheFileBefore() {
    if (!test::SharedHivesPresent()) QSKIP("shared hives not found; skipping the dirty-hive check");
    const std::string dirty = test::SharedHivesDir() + "/dirty/UsrClass/UsrClass.dat";
    w.modal->askAnswers = {false};
    w.Open(QString::fromStdString(dirty));
    QVERIFY(w.form->Document().LogsOffered());
    CarvedChoice choice;
    const std::string bytes = test::ReadFileBytes(dirty);
    choice.bytes.assign(bytes.begin(), bytes.end());  // dirty too, but no logs go with it
    choice.image = test::ScratchPath("window-carve-none.img");
    choice.kind = "raw";
    w.form->OpenCarvedHive(std::move(choice));
    QVERIFY(w.form->Document().InMemory());
    QVERIFY(w.form->Document().Recovery().dirty);
    QVERIFY(!w.form->Document().LogsOffered());
    QString info;
    QTimer::singleShot(0, [&] {
      auto* dialog = w.form->findChild<HiveInfoDialog*>();
      info = dialog->InfoText->toPlainText();
      dialog->reject();
    });
    w.form->Hiveinformation1Click();
    QVERIFY2(!info.contains("you chose") && !info.contains("(your choice)"), qPrintable(info));
    QVERIFY2(info.contains("Shown: the hive file as it is, without its transaction logs.\n"), qPrintable(info));
  }
};

QTEST_MAIN(CarveWindowTest)
#include "window_carve_test.moc"
