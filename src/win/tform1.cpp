#include "win/tform1.h"

#include "win/form_font.h"

#include <QApplication>
#include <QHeaderView>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QMenu>
#include <QScreen>
#include <QStatusBar>

#include "win/tform3.h"
#include "win/tform2.h"
#include "export/value_saver.h"
#include "hive/filetime.h"
#include "hive/key_walk.h"
#include "present/value_rows.h"
#include "recover/open_hive.h"
#include "recover/recovery_text.h"
#include "win/access_keys.h"
#include "win/hive_info_dialog.h"
#include "win/item_views_look.h"
#include "win/data_view_dialog.h"
#include "win/find_dialog.h"
#include "win/tree_search.h"

// The pictures are compiled into a static library: bring them in by hand.
static void InitPictures() { Q_INIT_RESOURCE(pictures); }

namespace cellbrook {

TForm1* Form1 = nullptr;
const char* const kProductPage = "https://www.example.org/cellbrook/";

namespace {

constexpr int kCellRole = Qt::UserRole;
constexpr int kValueColumnMin = 100;
constexpr int kValueColumnMax = 1024;
constexpr int kClientWidth = 688, kClientHeight = 456;  // below the menu bar
constexpr int kTreeWidth = 249;

// No data at all stands for "nothing behind this item".
void SetCell(QTreeWidgetItem* item, uint32_t cell) {
  if (cell != kNoCell) item->setData(0, kCellRole, QVariant::fromValue(cell));
}

uint32_t CellOf(const QTreeWidgetItem* item) {
  if (item == nullptr) return kNoCell;
  const QVariant data = item->data(0, kCellRole);
  return data.isValid() ? data.value<uint32_t>() : kNoCell;
}

QIcon Picture(const char* name) { return QIcon(QString(":/pictures/") + name); }

}  // namespace

KeyRef KeyOf(const QTreeWidgetItem* item) { return KeyRef{CellOf(item)}; }
ValueRef ValueOf(const QTreeWidgetItem* item) { return ValueRef{CellOf(item)}; }

QTreeWidgetItem* SelectedItem(const QTreeWidget* view) {
  return view->selectedItems().value(0, nullptr);
}

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
  InitPictures();
  setupUi(this);
  UseFormFont(this);

  const QIcon none = Picture("type_none.png"), text = Picture("type_string.png"),
              binary = Picture("type_binary.png"), number = Picture("type_number.png");
  ImageList1.Pictures = {Picture("cogwheels16.png"), Picture("folder16.png"),
                         Picture("folder_deleted16.png"), Picture("recovered16.png")};
  ImageList2.Pictures = {none,   text,   text,   binary, number, number,
                         text,   text,   binary, binary, binary, number};
  const QIcon noneGone = Picture("type_none_deleted.png"), textGone = Picture("type_string_deleted.png"),
              binaryGone = Picture("type_binary_deleted.png"),
              numberGone = Picture("type_number_deleted.png");
  ImageList3.Pictures = {noneGone,   textGone,   textGone,   binaryGone, numberGone, numberGone,
                         textGone,   textGone,   binaryGone, binaryGone, binaryGone, numberGone};

  OpenDialog1.FilterName = "Any registry file (.dat, no extension)";
  OpenDialog1.FilterPattern = "*";
  OpenDialog1.MustExist = true;
  SaveDialog1.FilterName = "Any files";
  SaveDialog1.FilterPattern = "*";

  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  Save1 = PopupMenu1->addAction("Save");
  Save1->setObjectName("Save1");
  ViewData1 = PopupMenu1->addAction("View data");
  ViewData1->setObjectName("ViewData1");
  PopupMenu2 = new QMenu(this);
  PopupMenu2->setObjectName("PopupMenu2");
  Exportkey2 = PopupMenu2->addAction("Export key");
  Exportkey2->setObjectName("Exportkey2");
  AssignAccessKeys(MainMenu1);
  AssignAccessKeys(PopupMenu1);
  AssignAccessKeys(PopupMenu2);
  // Menus are windows of their own and do not inherit the form's font.
  for (QMenu* menu : findChildren<QMenu*>()) menu->setFont(MainMenu1->font());

  StatusPanel0 = new QLabel("Ready", StatusBar1);
  StatusPanel0->setObjectName("StatusPanel0");
  StatusPanel0->setFont(QApplication::font("QStatusBar"));
  StatusBar1->addWidget(StatusPanel0, 1);
  // A long path is cut, not a reason for the window to grow.
  StatusPanel0->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  StatusPanel1 = new QLabel(StatusBar1);
  StatusPanel1->setObjectName("StatusPanel1");
  StatusPanel1->setFont(QApplication::font("QStatusBar"));
  StatusPanel1->setToolTip("Last written time of the selected key (UTC)");
  StatusBar1->addWidget(StatusPanel1, 0);
  findDialog_ = new FindDialog(this);
  findDialog_->setObjectName("FindDialog1");
  StatusBar1->setFixedHeight(19);

  TreeView1->setRightPressSelects(false);
  TreeView1->setMinimumWidth(1);
  ListView1->setMinimumWidth(1);
  Splitter1->setStretchFactor(0, 0);
  Splitter1->setStretchFactor(1, 1);
  Splitter1->setCollapsible(1, false);
  // Both views hide their selection while they lack the focus.
  for (QTreeWidget* view : {static_cast<QTreeWidget*>(TreeView1), static_cast<QTreeWidget*>(ListView1)}) {
    QPalette p = view->palette();
    p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Active, QPalette::Base));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText, p.color(QPalette::Active, QPalette::Text));
    view->setPalette(p);
  }
  TreeView1->setItemDelegate(new CaptionDelegate(TreeView1, CaptionDelegate::Kind::KeyTree));
  ListView1->setItemDelegate(new CaptionDelegate(ListView1, CaptionDelegate::Kind::ValueList));
  auto* lines = new TreeLineStyle();
  lines->setParent(TreeView1);
  TreeView1->setStyle(lines);
  // The key column is as wide as its widest shown caption: long names
  // scroll sideways instead of being cut.
  TreeView1->header()->setStretchLastSection(false);
  TreeView1->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  setAcceptDrops(true);

  ListView1->header()->setSectionsClickable(false);
  ListView1->header()->setMinimumSectionSize(0);  // "Value" alone has limits
  ListView1->header()->setSectionResizeMode(QHeaderView::Interactive);
  ListView1->setColumnWidth(0, 166);
  ListView1->setColumnWidth(1, 166);

  connect(Exit1, &QAction::triggered, this, &TForm1::Exit1Click);
  connect(Openregistryfile1, &QAction::triggered, this, &TForm1::Openregistryfile1Click);
  connect(TreeView1, &QTreeWidget::clicked, this, &TForm1::TreeView1Click);
  connect(Save1, &QAction::triggered, this, &TForm1::Save1Click);
  connect(TreeView1, &ControlView::keyUp, this, &TForm1::TreeView1KeyUp);
  connect(Savevalue1, &QAction::triggered, this, &TForm1::Savevalue1Click);
  connect(ListView1, &ControlView::mouseDown, this, &TForm1::ListView1MouseDown);
  connect(TreeView1, &ControlView::mouseDown, this, &TForm1::TreeView1MouseDown);
  connect(Exportkey2, &QAction::triggered, this, &TForm1::Exportkey2Click);
  connect(Exportkey1, &QAction::triggered, this, &TForm1::Exportkey1Click);
  connect(About1, &QAction::triggered, this, &TForm1::About1Click);
  connect(ProgramWebSite1, &QAction::triggered, this, &TForm1::ProgramWebSite1Click);
  connect(Hiveinformation1, &QAction::triggered, this, &TForm1::Hiveinformation1Click);
  connect(Showdeletedkeysandvalues1, &QAction::toggled, this, &TForm1::Showdeletedkeysandvalues1Click);
  connect(Find1, &QAction::triggered, this, &TForm1::Find1Click);
  connect(Findnext1, &QAction::triggered, this, &TForm1::Findnext1Click);
  connect(ViewData1, &QAction::triggered, this, &TForm1::ViewData1Click);
  ConnectCarving();
  connect(ListView1, &QTreeWidget::itemDoubleClicked, this, &TForm1::ListView1DblClick);
  connect(ListView1, &ControlView::resized, this, &TForm1::FitValueColumn);
  connect(TreeView1, &ControlView::resized, this, [this] { TreeView1->resizeColumnToContents(0); });
  connect(ListView1->header(), &QHeaderView::sectionResized, this,
          [this](int section, int, int width) {
            const int kept = std::clamp(width, kValueColumnMin, kValueColumnMax);
            if (section == 2 && kept != width) ListView1->setColumnWidth(2, kept);
          });

  resize(kClientWidth, kClientHeight + MainMenu1->sizeHint().height());
  Splitter1->setSizes({kTreeWidth, kClientWidth - kTreeWidth - kSplitterWidth});
  if (const QScreen* screen = QApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }

  FileName.clear();
  ResetKeyTree();
}

TForm1::~TForm1() = default;

void TForm1::FitValueColumn() {
  const int rest =
      ListView1->viewport()->width() - ListView1->columnWidth(0) - ListView1->columnWidth(1);
  ListView1->setColumnWidth(2, std::clamp(rest, kValueColumnMin, kValueColumnMax));
}

void TForm1::ShowError(const char* text) { Modal().Message(this, text, "Error", BoxIcon::Error); }

void TForm1::ResetKeyTree() {
  LastNode = nullptr;
  StatusPanel1->clear();  // a time belongs to a key of the tree that goes
  TreeView1->clear();
  auto* top = new QTreeWidgetItem();
  top->setIcon(0, ImageList1.Picture(0));
  KeyInfo root;
  if (FileName.empty() || !FileImage.Loaded()) {
    top->setText(0, "(no file opened)");
  } else if (!GetRootKey(Hive, root)) {
    top->setText(0, ShownName(QString::fromStdString(FileName + ": error.")));
  } else {
    const size_t n = root.Name.Text(NameBuffer, kNameTextRoom);
    top->setText(0, ShownName(QString::fromStdString(FileName + ": ") +
                              QString::fromUtf8(NameBuffer, static_cast<qsizetype>(n))));
    // The subtree is built before it is attached: much faster than node by
    // node into a shown tree.
    FillKeyTree(top, root);
  }
  TreeView1->addTopLevelItem(top);
}

void TForm1::FillKeyTree(QTreeWidgetItem* node, const KeyInfo& key) {
  struct Filler {
    TForm1& form;
    std::vector<QTreeWidgetItem*> parents;
    QTreeWidgetItem* Add(uint32_t depth, const KeyInfo* key) {
      auto* item = new QTreeWidgetItem(parents[depth - 1]);
      item->setIcon(0, form.ImageList1.Picture(1));
      if (key != nullptr) {
        SetCell(item, key->Ref.cell);
        const size_t n = key->Name.Text(form.NameBuffer, kNameTextRoom);
        item->setText(0, ShownName(QString::fromUtf8(form.NameBuffer, static_cast<qsizetype>(n))));
      }
      return item;
    }
    bool Enter(const KeyInfo& key, uint32_t depth) {
      if (depth == 0) return true;  // the given node stands already
      QTreeWidgetItem* item = Add(depth, &key);
      parents.resize(depth);
      parents.push_back(item);
      return true;
    }
    void Leave(const KeyInfo&, uint32_t) {}
    void Missing(uint32_t depth) { Add(depth, nullptr); }
  } filler{*this, {node}};
  // Everything readable stands; a hive that shares its index cells past
  // the walk's budget simply stops filling.
  KeyWalk walk(Hive, "ROOT");
  walk.Run(key, filler);
}

void TForm1::FillValueList(const KeyInfo& key) {
  ListView1->clear();
  if (key.ValueCount == 0) return;
  std::vector<ValueRow> rows = ValueRowsInListOrder(Hive, key).rows;
  SortValueRows(rows, collator_);
  QList<QTreeWidgetItem*> items;
  items.reserve(static_cast<qsizetype>(rows.size()));
  for (const ValueRow& row : rows) {
    auto* item = new QTreeWidgetItem();
    item->setText(0, ShownName(QString::fromStdString(row.caption)));
    SetCell(item, row.ref.cell);
    item->setIcon(0, ImageList2.Picture(row.type < 12 ? static_cast<qsizetype>(row.type) : -1));
    item->setText(1, QString::fromLatin1(row.typeName));
    item->setText(2, QString::fromStdString(row.text));
    items.push_back(item);
  }
  ListView1->addTopLevelItems(items);
}

void TForm1::Exit1Click() { QApplication::quit(); }

void TForm1::Openregistryfile1Click() {
  if (!Modal().OpenFile(this, OpenDialog1)) return;
  OpenChosenFile(OpenDialog1.FileName);
}

void TForm1::OpenNamedFile(const QString& path) {
  // As if chosen in the open dialog: a full path, offered there next time.
  OpenDialog1.FileName = QFileInfo(path).absoluteFilePath();
  OpenChosenFile(OpenDialog1.FileName);
}

void TForm1::OpenChosenFile(const QString& path) {
  ListView1->clear();
  FileName = path.toStdString();
  // The old file goes first, whatever happens next: the tree's nodes point
  // into its image and are rebuilt below.
  deletedTree_.Forget();  // its nodes go with the tree
  deleted_.reset();
  FileImage = HiveBlock{};
  Recovery = RecoveryReport{};
  RecoveryApplied = false;
  OpenedHive opened;
  const LoadOutcome outcome = OpenHiveFile(FileName, LogChoice{}, opened);
  CarvedOrigin.clear();
  CarvedImage.clear();
  if (outcome != LoadOutcome::Loaded) {
    ShowOpenError(outcome);
    FileName.clear();
  } else {
    // A dirty hive: its logs are applied in memory when the user agrees.
    if (opened.recoverable) {
      if (Modal().Ask(this, DirtyHiveQuestion(opened.report), "Cellbrook")) {
        RecoveryApplied = ApplyRecovery(opened);
      }
    } else if (opened.report.dirty) {
      Modal().Message(this, QString::fromStdString(RecoverySummaryLine(opened.report)), "Cellbrook",
                      BoxIcon::Information);
    }
    Recovery = std::move(opened.report);
    FileImage = std::move(opened.block);
    AttachImage(Hive, FileImage.data(), FileImage.size);
  }
  ResetKeyTree();
  if (Showdeletedkeysandvalues1->isChecked()) ShowDeletedNodes();
}

QString DirtyHiveQuestion(const RecoveryReport& report) {
  QStringList names;
  for (const LogReport& log : report.logs) {
    if (log.verdict == LogVerdict::Applied) names << QString::fromStdString(log.name);
  }
  QString list = names.value(0);
  for (qsizetype i = 1; i < names.size(); ++i) {
    list += (i + 1 == names.size() ? " and " : ", ") + names[i];
  }
  return "This hive is dirty: " + list + (names.size() == 1 ? " holds" : " hold") +
         " changes not yet written to it. Apply them (in memory only)?";
}

void TForm1::Hiveinformation1Click() {
  if (!FileImage.Loaded()) return;
  const std::string name = FileName.substr(FileName.find_last_of('/') + 1);
  std::string text = HiveInfoText(name, Recovery);
  if (Recovery.dirty) {
    text += RecoveryApplied ? "Shown: the hive with its transaction logs applied, in memory only.\n"
                            : "Shown: the hive file as it is, without its transaction logs.\n";
  }
  text += CarvedOrigin;
  if (infoDialog_ == nullptr) infoDialog_ = new HiveInfoDialog(this);
  infoDialog_->SetInfo(QString::fromStdString(text));
  infoDialog_->exec();
}

void TForm1::TreeView1Click() {
  QTreeWidgetItem* node = SelectedItem(TreeView1);
  if (node == nullptr || node == LastNode) return;
  LastNode = node;
  StatusPanel1->clear();  // no time stays up for a node that has none
  if (ShowRecoveredNode(node)) return;
  KeyInfo key;
  if (!GetKeyInfo(Hive, key, KeyOf(node))) return;
  NameBuffer[4095] = 0;
  const char* path = BuildKeyPath(Hive, key.Ref, NameBuffer, 4095);
  StatusPanel0->setText(path ? ShownName(QString::fromUtf8(path)) : QString("[Failed ro resolve key path]"));
  ShowKeyTime(key);
  FillValueList(key);
  if (deletedTree_.Shown()) AppendDeletedValueRows(Deleted().SlackValuesOf(key.Ref));
}

void TForm1::TreeView1KeyUp(int, Qt::KeyboardModifiers) { TreeView1Click(); }

void TForm1::Save1Click() {
  QTreeWidgetItem* item = SelectedItem(ListView1);
  ValueInfo value;
  std::vector<uint8_t> deletedBytes;  // a deleted value's data, which `value` shows
  if (RecordOf(item).kind == RecordKind::RecoveredValue) {
    if (!DeletedValueOf(item, value, deletedBytes)) return;
  } else if (!GetValueInfo(Hive, value, ValueOf(item))) {
    return;
  }
  const SaveCheck check = CheckValueForSaving(value);
  if (check != SaveCheck::Ready) {
    Modal().Message(this, SaveCheckText(check), "Cellbrook",
                    check == SaveCheck::Empty ? BoxIcon::Information : BoxIcon::Error);
    return;
  }
  if (!Modal().SaveFile(this, SaveDialog1)) return;
  const SaveOutcome outcome = SaveValueData(value, SaveDialog1.FileName.toStdString());
  if (outcome != SaveOutcome::Saved) {
    Modal().Message(this, SaveOutcomeText(outcome), "Cellbrook", BoxIcon::Error);
  }
}

void TForm1::Savevalue1Click() { Save1Click(); }

QPoint PopupPoint(QPoint pointer, const QRect& windowFrame, int clientHeight,
                  QPoint controlOffset) {
  return {pointer.x() + windowFrame.left() + controlOffset.x(),
          pointer.y() + windowFrame.top() + controlOffset.y() +
              (windowFrame.height() - clientHeight)};
}

void TForm1::ShowPopup(QMenu* menu, QWidget* control, int x, int y) {
  // The client area is what lies below the menu bar; the controls sit in
  // Panel1 at its origin.
  const int clientHeight = height() - MainMenu1->height();
  const QPoint at = PopupPoint({x, y}, frameGeometry(), clientHeight, control->mapTo(Panel1, QPoint(0, 0)));
  Modal().Popup(menu, at);  // a chosen command has run by now
}

void TForm1::ListView1MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, int x, int y) {
  if (button != Qt::RightButton || SelectedItem(ListView1) == nullptr) return;
  ShowPopup(PopupMenu1, ListView1, x, y);
}

void TForm1::TreeView1MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, int x, int y) {
  if (button != Qt::RightButton) return;
  const QTreeWidgetItem* node = SelectedItem(TreeView1);
  if (!KeyOf(node) && RecordOf(node).kind != RecordKind::RecoveredKey) return;
  ShowPopup(PopupMenu2, TreeView1, x, y);
}

void TForm1::Exportkey2Click() {
  if (ExportRecoveredKey(SelectedItem(TreeView1))) return;
  const KeyRef key = KeyOf(SelectedItem(TreeView1));
  if (!key || Form2 == nullptr) return;
  Form2->SetExport(&Hive, key);
  Form2->exec();
}

void TForm1::Exportkey1Click() { Exportkey2Click(); }

void TForm1::About1Click() {
  if (Form3 != nullptr) Form3->exec();
}

// One local file dropped on the window opens as if named in the open dialog.
static QString DroppedFile(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls() || data->urls().size() != 1) return {};
  const QUrl url = data->urls().front();
  return url.isLocalFile() ? url.toLocalFile() : QString();
}

void TForm1::FormDragOver(QDragMoveEvent* event) {
  if (!DroppedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
  else event->ignore();
}

void TForm1::FormDragDrop(QDropEvent* event) {
  const QString path = DroppedFile(event->mimeData());
  if (path.isEmpty()) return event->ignore();
  event->acceptProposedAction();
  OpenNamedFile(path);
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) { FormDragOver(event); }
void TForm1::dragMoveEvent(QDragMoveEvent* event) { FormDragOver(event); }
void TForm1::dropEvent(QDropEvent* event) { FormDragDrop(event); }

void TForm1::ProgramWebSite1Click() { Modal().OpenUrl(this, QUrl(kProductPage)); }

const DeletedRecords& TForm1::Deleted() {
  // The image shown: with its logs applied when they were.
  if (!deleted_) deleted_ = std::make_unique<DeletedRecords>(ScanDeletedRecords(Hive.Image, Hive.Size));
  return *deleted_;
}

void TForm1::ShowDeletedNodes() {
  if (!FileImage.Loaded() || deletedTree_.Shown()) return;
  deletedTree_.Show(TreeView1, Deleted(), ImageList1.Picture(2), ImageList1.Picture(3), collator_);
}

void TForm1::Showdeletedkeysandvalues1Click(bool checked) {
  if (checked) {
    ShowDeletedNodes();
  } else if (deletedTree_.Shown()) {
    // The selection stays on the nearest node that stays: itself when live.
    QTreeWidgetItem* selected = SelectedItem(TreeView1);
    QTreeWidgetItem* kept = selected;
    while (kept != nullptr && RecordOf(kept).kind != RecordKind::Live) kept = kept->parent();
    deletedTree_.Hide();
    if (kept != selected) {
      if (kept != nullptr) {
        TreeView1->setCurrentItem(kept);
      } else {
        TreeView1->clearSelection();
        ListView1->clear();
        StatusPanel0->setText("Ready");
      }
    }
  }
  // The selected key's list, with or without its deleted values.
  LastNode = nullptr;
  TreeView1Click();
}

bool TForm1::ShowRecoveredNode(QTreeWidgetItem* node) {
  const RecordRef record = RecordOf(node);
  if (record.kind == RecordKind::Live) return false;
  ListView1->clear();
  if (!deleted_) return true;
  const DeletedScan& scan = deleted_->Scan();
  if (record.kind == RecordKind::RecoveredKey && record.index < scan.keys.size()) {
    const DeletedKey& key = scan.keys[record.index];
    StatusPanel0->setText(QString::fromStdString(key.pathText));
    StatusPanel1->setText("Last written " + QString::fromStdString(FormatFileTime(key.lastWritten)));
    AppendDeletedValueRows(key.values);
  } else if (record.kind == RecordKind::RecoveredRecords) {
    StatusPanel0->setText(QString("%1: %2 deleted keys and %3 deleted values found")
                              .arg(kRecoveredRecordsCaption)
                              .arg(scan.keys.size())
                              .arg(scan.values.size()));
    AppendDeletedValueRows(deleted_->Unassociated());
  }
  return true;
}

void TForm1::AppendDeletedValueRows(std::span<const uint32_t> values) {
  if (values.empty() || !deleted_) return;
  ListView1->addTopLevelItems(DeletedValueRows(deleted_->Scan(), values, ImageList3.Pictures, collator_));
}

bool TForm1::DeletedValueOf(const QTreeWidgetItem* row, ValueInfo& value, std::vector<uint8_t>& bytes) {
  const RecordRef record = RecordOf(row);
  if (!deleted_ || record.kind != RecordKind::RecoveredValue ||
      record.index >= deleted_->Scan().values.size()) {
    return false;
  }
  value = DeletedValueInfo(deleted_->Scan(), deleted_->Scan().values[record.index], bytes);
  return true;
}

bool TForm1::ExportRecoveredKey(const QTreeWidgetItem* node) {
  const RecordRef record = RecordOf(node);
  if (record.kind != RecordKind::RecoveredKey) return false;
  if (deleted_ && Form2 != nullptr) {
    Form2->SetRecoveredExport(&deleted_->Scan(), record.index);
    Form2->exec();
  }
  return true;
}
void TForm1::ShowKeyTime(const KeyInfo& key) {
  StatusPanel1->setText("Last written " + QString::fromStdString(FormatFileTime(key.LastWritten)));
}

void TForm1::Find1Click() {
  if (lastFind_) findDialog_->SetOptions(*lastFind_);
  if (findDialog_->exec() != QDialog::Accepted) return;
  lastFind_ = findDialog_->Options();
  RunFind(*lastFind_);
}

void TForm1::Findnext1Click() {
  if (!lastFind_) return Find1Click();
  RunFind(*lastFind_);
}

// From the selected key (after the selected value, if any) onward.
void TForm1::RunFind(const SearchOptions& options) {
  HiveSearch search(Hive, options);
  if (!search.Error().empty() || !FileImage.Loaded()) return;
  QTreeWidgetItem* from = SelectedItem(TreeView1);
  const ValueRef after = from != nullptr && from == LastNode ? ValueOf(SelectedItem(ListView1)) : ValueRef{};
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const TreeFind found = FindInTree(TreeView1, from, after, Hive, search, collator_);
  QApplication::restoreOverrideCursor();
  if (found.node == nullptr) {
    Modal().Message(this, found.budgetOut ? kBudgetOutText : "Finished searching: nothing more was found.",
                    "Cellbrook", BoxIcon::Information);
    return;
  }
  for (QTreeWidgetItem* up = found.node->parent(); up != nullptr; up = up->parent()) up->setExpanded(true);
  TreeView1->setCurrentItem(found.node);
  TreeView1->scrollToItem(found.node);
  TreeView1Click();
  ListView1->clearSelection();
  for (int i = 0; found.value && i < ListView1->topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = ListView1->topLevelItem(i);
    if (ValueOf(row) == found.value) {
      ListView1->setCurrentItem(row);
      ListView1->scrollToItem(row);
      break;
    }
  }
}

void TForm1::ViewData1Click() {
  QTreeWidgetItem* item = SelectedItem(ListView1);
  ValueInfo value;
  std::vector<uint8_t> bytes;  // a deleted value's data, which `value` points into
  if (!GetValueInfo(Hive, value, ValueOf(item)) && !DeletedValueOf(item, value, bytes)) return;
  DataViewDialog dialog(this);
  dialog.ShowValue(item->text(0), value);
  dialog.exec();
}

void TForm1::ListView1DblClick() { ViewData1Click(); }

}  // namespace cellbrook
