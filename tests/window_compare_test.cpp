// Comparing hives in the main window, offscreen, through real widgets and
// the modal seam: the marked tree, old and new values side by side, only
// the differences, the patch of a subtree, the comparison with the logs,
// and the log history in Hive information.
#include <QFont>
#include <QImage>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "log_builder.h"
#include "tree_model.h"
#include "win/hive_comparison.h"
#include "win/hive_info_dialog.h"
#include "window_fixture.h"

using namespace cellbrook;
using test::Bytes;
using test::SpecKey;

namespace {

Bytes Dword(uint32_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), 0, 0}; }

SpecKey Old() {
  return {"ROOT-NAME",
          100,
          {{"Count", 4, Dword(1)}},
          {{"Gone", 200, {{"V", 4, Dword(2)}}, {}},
           {"Kept", 300, {{"Same", 4, Dword(3)}, {"Type", 4, Dword(4)}, {"Drop", 1, test::Utf16Bytes(u"x")}}, {}},
           {"Still", 50, {{"S", 4, Dword(5)}}, {}}}};
}
SpecKey New() {
  return {"ROOT-NAME",
          100,
          {{"Count", 4, Dword(1)}},
          {{"Kept", 301, {{"Same", 4, Dword(3)}, {"Type", 3, Dword(4)}, {"Fresh", 4, Dword(5)}}, {}},
           {"New", 400, {{"N", 1, test::Utf16Bytes(u"hi")}}, {}},
           {"Still", 50, {{"S", 4, Dword(5)}}, {}}}};
}

QImage Grey(const QIcon& icon) { return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_Grayscale8); }

}  // namespace

class CompareWindowTest : public QObject, test::WindowFixture {
  Q_OBJECT
  QString oldPath_, newPath_;

  QTreeWidgetItem* Node(const char* name) { return test::Child(Top(), name); }

 private slots:
  void init() {
    oldPath_ = test::WriteFile("window-compare-old.hive", test::BuildTree(Old()));
    newPath_ = test::WriteFile("window-compare-new.hive", test::BuildTree(New()));
    Start(test::Dialogs::Export);
    Open(oldPath_);
    modal->fileAnswers << newPath_;
    form->Comparewith1Click();
  }
  void cleanup() { Stop(); }

  void TreeMarksKeysInPictureFontAndColour() {
    QVERIFY(Top()->text(0).contains(QString::fromUtf8("\u2192")));
    QCOMPARE(Node("Gone")->toolTip(0), QString("removed"));
    QVERIFY(Node("Gone")->font(0).strikeOut());
    QCOMPARE(Node("New")->toolTip(0), QString("added"));
    QVERIFY(Node("New")->font(0).bold());
    QCOMPARE(Node("Kept")->toolTip(0), QString("changed"));
    QVERIFY(Node("Kept")->font(0).italic());
    QCOMPARE(Node("Still")->toolTip(0), QString());
    // The pictures differ from each other in grey too.
    const QImage same = Grey(Node("Still")->icon(0)), added = Grey(Node("New")->icon(0)),
                 removed = Grey(Node("Gone")->icon(0)), changed = Grey(Node("Kept")->icon(0));
    QVERIFY(same != added && same != removed && same != changed);
    QVERIFY(added != removed && added != changed && removed != changed);
    QVERIFY(!form->Find1->isEnabled());
    QVERIFY(form->Showonlydifferences1->isEnabled());
    QVERIFY(form->StatusPanel0->text().contains("differences"));
  }

  void ValuesOldAndNewSideBySide() {
    Select(Node("Kept"));
    QCOMPARE(form->ListView1->columnCount(), 5);
    QCOMPARE(form->ListView1->headerItem()->text(3), QString("New type"));
    // The list's own Size and Cell columns are off: the new side shows all the same.
    QVERIFY(!form->ShowSizeColumn1->isChecked() && !form->ShowCellColumn1->isChecked());
    QVERIFY(!form->ListView1->isColumnHidden(3) && !form->ListView1->isColumnHidden(4));
    QTreeWidgetItem* type = test::Row(form->ListView1, "Type");
    QVERIFY(type != nullptr);
    QCOMPARE(type->text(1), QString("REG_DWORD"));
    QCOMPARE(type->text(3), QString("REG_BINARY"));
    QTreeWidgetItem* drop = test::Row(form->ListView1, "Drop");
    QCOMPARE(drop->text(1), QString("REG_SZ"));
    QCOMPARE(drop->text(3), QString());
    QVERIFY(drop->font(0).strikeOut());
    QTreeWidgetItem* fresh = test::Row(form->ListView1, "Fresh");
    QCOMPARE(fresh->text(1), QString());
    QCOMPARE(fresh->text(4), QString("0x00000005 (5)"));
    QVERIFY(!test::Row(form->ListView1, "Same")->isHidden());
    // No value of the comparison is one of the open hive's.
    QVERIFY(!ValueOf(type));
  }

  void ShowOnlyDifferencesHidesWhatIsTheSame() {
    Select(Node("Kept"));
    form->Showonlydifferences1->setChecked(true);
    QVERIFY(Node("Still")->isHidden());
    QVERIFY(!Node("Kept")->isHidden() && !Node("New")->isHidden() && !Node("Gone")->isHidden());
    QVERIFY(test::Row(form->ListView1, "Same")->isHidden());
    QVERIFY(!test::Row(form->ListView1, "Type")->isHidden());
    form->Showonlydifferences1->setChecked(false);
    QVERIFY(!Node("Still")->isHidden());
  }

  void ExportKeyWritesThePatchOfTheSubtree() {
    Select(Top());
    const QString target = test::Scratch("window-compare.reg");
    modal->fileAnswers << target;
    QTimer::singleShot(0, [&] { dialog->Button1Click(); });
    form->Exportkey1Click();
    QVERIFY2(modal->boxes.isEmpty(), qPrintable(modal->boxes.value(0).text));
    const test::BoundHive a(test::BuildTree(Old())), b(test::BuildTree(New()));
    test::TreeModel model = test::ModelOf(a.image);
    test::ApplyRegText(model, test::ParseRegText(test::ReadFileBytes(target.toStdString())), "HKEY_CURRENT_USER");
    QCOMPARE(QString::fromStdString(test::ModelDifference(model, test::ModelOf(b.image), false)), QString());
  }

  void PatchNeverWritesOverAHiveCompared() {
    const std::string before = test::ReadFileBytes(oldPath_.toStdString());
    Select(Node("Kept"));
    modal->fileAnswers << oldPath_;
    modal->overwriteAnswers << true;  // the user says replace: the guard still refuses
    QTimer::singleShot(0, [&] {
      dialog->Button1Click();
      dialog->reject();
    });
    form->Exportkey1Click();
    QCOMPARE(modal->boxes.size(), 1);
    QCOMPARE(modal->boxes[0].text, QString(kEvidenceRefusalText));
    QCOMPARE(test::ReadFileBytes(oldPath_.toStdString()), before);
  }

  void EndComparisonBringsTheHiveBack() {
    form->Endcomparison1->trigger();
    // The list's own columns come back, Size and Cell as chosen (off).
    QCOMPARE(form->ListView1->columnCount(), 5);
    QCOMPARE(form->ListView1->headerItem()->text(2), QString("Value"));
    QCOMPARE(form->ListView1->headerItem()->text(3), QString("Size"));
    QCOMPARE(form->ListView1->headerItem()->text(4), QString("Cell"));
    QVERIFY(form->ListView1->isColumnHidden(3) && form->ListView1->isColumnHidden(4));
    QVERIFY(Top()->text(0).endsWith(": ROOT-NAME"));
    QVERIFY(Node("Gone") != nullptr && Node("New") == nullptr);
    QVERIFY(form->Find1->isEnabled());
    QVERIFY(!form->Endcomparison1->isEnabled());
    Select(Node("Kept"));
    QVERIFY(ValueOf(test::Row(form->ListView1, "Type")));
  }

  void ChosenColumnsOutliveTheComparison() {
    form->Endcomparison1->trigger();
    form->ShowSizeColumn1->setChecked(true);
    modal->fileAnswers << newPath_;
    form->Comparewith1Click();
    Select(Node("Kept"));
    QCOMPARE(form->ListView1->headerItem()->text(3), QString("New type"));
    form->Endcomparison1->trigger();
    Select(Node("Kept"));
    QVERIFY(!form->ListView1->isColumnHidden(3) && form->ListView1->isColumnHidden(4));
    QCOMPARE(test::Row(form->ListView1, "Type")->text(3), QString("4"));  // a DWORD's size
  }
};

// A dirty hive with two log entries: the first adds a key, the second
// removes one.
class DirtyCompareTest : public QObject, test::WindowFixture {
  Q_OBJECT
  QString path_;

 private slots:
  void init() {
    constexpr uint32_t kBins = 3 * 4096;
    SpecKey s1 = Old();
    s1.subkeys.push_back({"Added", 500, {{"N", 4, Dword(7)}}, {}});
    SpecKey s2 = s1;
    s2.subkeys.erase(s2.subkeys.begin());  // Gone
    const Bytes b0 = test::BuildTree(Old(), kBins), b1 = test::BuildTree(s1, kBins), b2 = test::BuildTree(s2, kBins);
    const Bytes primary = test::WithSequences(b0, 11, 10);
    auto bins = [](const Bytes& image) { return Bytes(image.begin() + 4096, image.end()); };
    path_ = test::WriteFile("window-dirty.hive", primary);
    test::WriteFile("window-dirty.hive.LOG1", test::NewFormatLog(test::LogBaseBlock(primary, 10, 6),
                                                                 {test::NewLogEntry(10, kBins, {{0, bins(b1)}}),
                                                                  test::NewLogEntry(11, kBins, {{0, bins(b2)}})}));
    Start();
    Open(path_);  // the question to apply the logs: Yes
  }
  void cleanup() { Stop(); }

  void ComparesTheFileWithItsLogsApplied() {
    modal->askAnswers << true;
    form->Comparewith1Click();
    QVERIFY(modal->questions.last().text.contains("Compare the hive file as it is"));
    QCOMPARE(test::Child(Top(), "Added")->toolTip(0), QString("added"));
    QCOMPARE(test::Child(Top(), "Gone")->toolTip(0), QString("removed"));
    QVERIFY(Top()->text(0).contains("with its logs applied"));
  }

  void HistoryShowsTheHiveAfterAnEntry() {
    QStringList listed;
    QTimer::singleShot(0, [&] {
      auto* info = form->findChild<HiveInfoDialog*>();
      QVERIFY(info != nullptr && info->HistoryList->isVisibleTo(info));
      for (int i = 0; i < info->HistoryList->count(); ++i) listed << info->HistoryList->item(i)->text();
      info->HistoryList->setCurrentRow(0);
      info->ShowEntryButton->click();
    });
    form->Hiveinformation1Click();
    QCOMPARE(listed.size(), 2);
    QVERIFY2(listed[0].startsWith("Entry 10 from ") && listed[0].endsWith("window-dirty.hive.LOG1: 1 page"),
             qPrintable(listed[0]));
    QVERIFY(listed[1].startsWith("Entry 11 from "));
    // After entry 10: the key is added, the other not yet removed.
    QVERIFY(test::Child(Top(), "Added") != nullptr);
    QVERIFY(test::Child(Top(), "Gone") != nullptr);
    QVERIFY(form->StatusPanel0->text().contains("after log entry 10"));
    QString text;
    QTimer::singleShot(0, [&] {
      auto* info = form->findChild<HiveInfoDialog*>();
      text = info->InfoText->toPlainText();
      info->reject();
    });
    form->Hiveinformation1Click();
    QVERIFY(text.contains("Shown: the hive as it was after log entry 10"));
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  int status = 0;
  {
    CompareWindowTest t;
    status |= QTest::qExec(&t, argc, argv);
  }
  {
    DirtyCompareTest t;
    status |= QTest::qExec(&t, argc, argv);
  }
  return status;
}

#include "window_compare_test.moc"
