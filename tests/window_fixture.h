// What the window tests share: the main window (and, when asked, its export
// and about dialogs) over a scripted modal seam, and item lookups by caption.
#pragma once

#include <QString>
#include <QStringList>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "hive_builder.h"
#include "scripted_modal.h"
#include "shared_hives.h"
#include "win/tform1.h"
#include "win/tform2.h"
#include "win/tform3.h"

namespace cellbrook::test {

// The bytes written as a scratch file, by its full path.
inline QString WriteFile(const std::string& name, const Bytes& bytes) {
  return QString::fromStdString(WriteScratchFile(name, bytes));
}

// A scratch path with nothing left at it from an earlier run.
inline QString Scratch(const char* name) {
  const QString path = QString::fromStdString(ScratchPath(name));
  std::remove(path.toLocal8Bit().constData());
  return path;
}

inline QTreeWidgetItem* Child(QTreeWidgetItem* parent, const QString& caption,
                              Qt::CaseSensitivity cs = Qt::CaseSensitive) {
  for (int i = 0; parent != nullptr && i < parent->childCount(); ++i) {
    if (parent->child(i)->text(0).compare(caption, cs) == 0) return parent->child(i);
  }
  return nullptr;
}

inline QTreeWidgetItem* Row(QTreeWidget* list, const QString& caption) {
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    if (list->topLevelItem(i)->text(0) == caption) return list->topLevelItem(i);
  }
  return nullptr;
}

// UTF-16LE file bytes as text, each unit past ASCII (the byte-order mark too) as '?'.
inline std::string Utf16Text(const std::string& file) {
  std::string out;
  for (size_t i = 0; i + 1 < file.size(); i += 2) {
    const unsigned u = static_cast<uint8_t>(file[i]) | (static_cast<uint8_t>(file[i + 1]) << 8);
    out += u < 0x80 ? static_cast<char>(u) : '?';
  }
  return out;
}

// The forms a test makes besides the main window.
enum class Dialogs { None, Export, ExportAndAbout };

// The main window under test, shown, with the seam answering its modal
// calls; the FormN globals point at the forms while they live.
struct WindowFixture {
  std::unique_ptr<ScriptedModal> modal;
  std::unique_ptr<TForm1> form;
  std::unique_ptr<TForm2> dialog;
  std::unique_ptr<TForm3> about;

  void Start(Dialogs dialogs = Dialogs::None) {
    modal = std::make_unique<ScriptedModal>();
    damageBoxes.clear();
    form = std::make_unique<TForm1>();
    if (dialogs != Dialogs::None) dialog = std::make_unique<TForm2>();
    if (dialogs == Dialogs::ExportAndAbout) about = std::make_unique<TForm3>();
    Form1 = form.get();
    Form2 = dialog.get();
    Form3 = about.get();
    form->show();
  }
  void Stop() {
    Form1 = nullptr;
    Form2 = nullptr;
    Form3 = nullptr;
    about.reset();
    dialog.reset();
    form.reset();
    modal.reset();
  }

  QTreeWidgetItem* Top() { return form->TreeView1->topLevelItem(0); }
  // Opens through the open command. The box that says a hive is damaged
  // goes to `damageBoxes`: tests of other boxes need not count it.
  QStringList damageBoxes;
  void Open(const QString& path) {
    modal->fileAnswers << path;
    const qsizetype before = modal->boxes.size();
    form->Openregistryfile1Click();
    for (qsizetype i = modal->boxes.size() - 1; i >= before; --i) {
      if (modal->boxes[i].text.startsWith("The hive is damaged: ")) damageBoxes.prepend(modal->boxes.takeAt(i).text);
    }
  }
  void Select(QTreeWidgetItem* item) {
    form->TreeView1->setCurrentItem(item);
    form->TreeView1Click();
  }
};

}  // namespace cellbrook::test
