#include "win/key_details_dialog.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QPushButton>

#include "hive/filetime.h"
#include "hive/key_lookup.h"
#include "present/security_text.h"
#include "win/form_font.h"

namespace cellbrook {
namespace {

QString Text(const std::string& s) { return QString::fromStdString(s); }

QString Hex(uint32_t cell) { return QString("0x%1").arg(cell, 8, 16, QChar('0')); }

QString Who(const std::string& sid, const std::string& name) {
  if (sid.empty()) return "(none)";
  return Text(SidWithName(sid, name));
}

}  // namespace

KeyDetailsDialog::KeyDetailsDialog(QWidget* parent) : QDialog(parent) {
  setupUi(this);
  UseFormFont(this);
  Permissions->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  connect(CopySddlButton, &QPushButton::clicked, this, &KeyDetailsDialog::CopySddlClick);
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void KeyDetailsDialog::ShowDetails(const KeyDetails& d) {
  const SecuritySummary& s = *d.security;
  PathValue->setText(Text(d.path));
  LastWrittenValue->setText(Text(FormatFileTime(d.key.LastWritten)) + " UTC");
  switch (d.className.state) {
    case ReadState::Empty:
      ClassNameValue->setText("(none)");
      break;
    case ReadState::Ok:
      ClassNameValue->setText(Text(d.className.Text()));
      break;
    case ReadState::Damaged:
      ClassNameValue->setText("(unreadable)");
      break;
  }
  FlagsValue->setText(Text(KeyFlagsText(d.key.Flags)));
  auto count = [](uint32_t n, const char* one, const char* many) {
    return QString("%1 %2").arg(n).arg(n == 1 ? one : many);
  };
  CountsValue->setText(count(d.key.SubkeyCount, "subkey", "subkeys") + ", " +
                       count(d.volatileSubkeys, "volatile subkey", "volatile subkeys") + ", " +
                       count(d.key.ValueCount, "value", "values"));
  QString cells = "key " + Hex(d.key.Ref.cell);
  if (d.securityCell != kNoCell) {
    cells += ", security " + Hex(d.securityCell);
    if (s.cell.state == ReadState::Ok) {
      cells +=
          QString(" (shared by %1 %2)").arg(s.cell.referenceCount).arg(s.cell.referenceCount == 1 ? "key" : "keys");
    }
  }
  if (d.className.cell != kNoCell) cells += ", class name " + Hex(d.className.cell);
  CellsValue->setText(cells);
  OwnerValue->setText(Who(s.owner, s.ownerName));
  GroupValue->setText(Who(s.group, s.groupName));

  Permissions->clear();
  QList<QTreeWidgetItem*> rows;
  auto add = [&rows](const Acl& acl, bool audit) {
    for (const Ace& ace : acl.aces) {
      auto* row = new QTreeWidgetItem();
      row->setText(0, ace.sid ? Text(SidWithName(SidText(*ace.sid), SidName(*ace.sid))) : "(unreadable SID)");
      row->setText(1, Text(AceTypeWords(ace.type)) + (audit ? " (SACL)" : ""));
      row->setText(2, Text(RightsWords(ace.mask)));
      row->setText(3, Text(AppliesToWords(ace.flags)));
      row->setText(4, (ace.flags & ace_flag::Inherited) ? "Yes" : "No");
      row->setToolTip(2, Text(SddlRights(ace.mask)));
      rows.push_back(row);
    }
  };
  add(s.descriptor.dacl, false);
  add(s.descriptor.sacl, true);
  Permissions->addTopLevelItems(rows);
  if (s.descriptor.dacl.present && s.descriptor.dacl.null) {
    auto* row = new QTreeWidgetItem(Permissions);
    row->setText(0, "Everyone (no DACL: nothing is restricted)");
  }

  SddlEdit->setText(Text(s.sddl));
  SddlEdit->setCursorPosition(0);
  CopySddlButton->setEnabled(!s.sddl.empty());
  QStringList problems;
  for (const std::string& p : d.Problems()) problems << Text(p);
  DamageLabel->setVisible(!problems.isEmpty());
  DamageLabel->setText(problems.isEmpty() ? QString() : "Damaged: " + problems.join(" "));
  Buttons->button(QDialogButtonBox::Close)->setFocus();
}

void KeyDetailsDialog::CopySddlClick() { QApplication::clipboard()->setText(SddlEdit->text()); }

}  // namespace cellbrook
