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
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "win/tform3.h"
#include "win/tform2.h"
#include "export/value_saver.h"
#include "hive/filetime.h"
#include "hive/key_walk.h"
#include "artifacts/hive_kind.h"
#include "present/value_rows.h"
#include "recover/logs/log_choice.h"
#include "recover/logs/recovery_text.h"
#include "win/access_keys.h"
#include "win/hive_comparison.h"
#include "win/hive_info_dialog.h"
#include "recover/logs/log_history.h"
#include "win/item_views_look.h"
#include "win/key_path.h"
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

QTreeWidgetItem* SelectedItem(const QTreeWidget* view) { return view->selectedItems().value(0, nullptr); }

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
  InitPictures();
  setupUi(this);
  UseFormFont(this);

  const QIcon none = Picture("type_none.png"), text = Picture("type_string.png"), binary = Picture("type_binary.png"),
              number = Picture("type_number.png");
  ImageList1.Pictures = {Picture("cogwheels16.png"), Picture("folder16.png"), Picture("folder_deleted16.png"),
                         Picture("recovered16.png"), Picture("folder_damaged16.png")};
  ImageList2.Pictures = {none, text, text, binary, number, number, text, text, binary, binary, binary, number};
  const QIcon noneGone = Picture("type_none_deleted.png"), textGone = Picture("type_string_deleted.png"),
              binaryGone = Picture("type_binary_deleted.png"), numberGone = Picture("type_number_deleted.png");
  ImageList3.Pictures = {noneGone, textGone, textGone,   binaryGone, numberGone, numberGone,
                         textGone, textGone, binaryGone, binaryGone, binaryGone, numberGone};

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
  StatusPanel2 = new QLabel(StatusBar1);
  StatusPanel2->setObjectName("StatusPanel2");
  StatusPanel2->setFont(QApplication::font("QStatusBar"));
  StatusBar1->addWidget(StatusPanel2, 0);
  SetUpArtifacts();
  findDialog_ = new FindDialog(this);
  findDialog_->setObjectName("FindDialog1");
  StatusBar1->setFixedHeight(19);

  // A right press selects the node under the pointer, so that the pop-up's
  // command acts on it; a press beside every node keeps the selection.
  TreeView1->setEmptyPressClears(false);
  // Rows of one height: a tree of a few hundred thousand keys scrolls and
  // jumps without measuring every row.
  TreeView1->setUniformRowHeights(true);
  TreeView1->setMinimumWidth(1);
  ListView1->setMinimumWidth(1);
  Splitter1->setStretchFactor(0, 0);
  Splitter1->setStretchFactor(1, 1);
  Splitter1->setCollapsible(1, false);
  // Both views show their selection also without the focus (what Find
  // found stays visible), in a paler colour than with it.
  for (QTreeWidget* view : {static_cast<QTreeWidget*>(TreeView1), static_cast<QTreeWidget*>(ListView1)}) {
    QPalette p = view->palette();
    const QColor active = p.color(QPalette::Active, QPalette::Highlight);
    const QColor base = p.color(QPalette::Active, QPalette::Base);
    p.setColor(QPalette::Inactive, QPalette::Highlight,
               QColor((active.red() + 2 * base.red()) / 3, (active.green() + 2 * base.green()) / 3,
                      (active.blue() + 2 * base.blue()) / 3));
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
  connect(Comparewith1, &QAction::triggered, this, &TForm1::Comparewith1Click);
  connect(Endcomparison1, &QAction::triggered, this, &TForm1::Endcomparison1Click);
  connect(Showonlydifferences1, &QAction::toggled, this, &TForm1::Showonlydifferences1Click);
  connect(Find1, &QAction::triggered, this, &TForm1::Find1Click);
  connect(Findnext1, &QAction::triggered, this, &TForm1::Findnext1Click);
  connect(ViewData1, &QAction::triggered, this, &TForm1::ViewData1Click);
  ConnectCarving();
  connect(ListView1, &QTreeWidget::itemDoubleClicked, this, &TForm1::ListView1DblClick);
  connect(Viewdata1, &QAction::triggered, this, &TForm1::Viewdata1Click);
  connect(ListView1, &ControlView::enterKey, this, &TForm1::ListView1EnterKey);
  connect(TreeView1, &ControlView::menuKey, this, &TForm1::TreeView1MenuKey);
  connect(ListView1, &ControlView::menuKey, this, &TForm1::ListView1MenuKey);
  connect(TreeView1, &QTreeWidget::itemCollapsed, this, &TForm1::TreeView1Collapsed);
  setTabOrder(TreeView1, ListView1);
  setTabOrder(ListView1, TreeView1);
  connect(ListView1, &ControlView::resized, this, &TForm1::FitValueColumn);
  connect(TreeView1, &ControlView::resized, this, &TForm1::FitKeyColumns);
  connect(ListView1->header(), &QHeaderView::sectionResized, this, [this](int section, int, int width) {
    const int kept = std::clamp(width, kValueColumnMin, kValueColumnMax);
    if (section == 2 && kept != width) ListView1->setColumnWidth(2, kept);
  });

  resize(kClientWidth, kClientHeight + MainMenu1->sizeHint().height());
  Splitter1->setSizes({kTreeWidth, kClientWidth - kTreeWidth - kSplitterWidth});
  if (const QScreen* screen = QApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }

  SetUpKeyCommands();
  ResetKeyTree();
}

TForm1::~TForm1() = default;

void TForm1::FitValueColumn() {
  if (comparison_) return;  // five columns of their own widths
  int rest = ListView1->viewport()->width() - ListView1->columnWidth(0) - ListView1->columnWidth(1);
  for (int column = 3; column < ListView1->columnCount(); ++column) {  // the optional ones shown
    if (!ListView1->isColumnHidden(column)) rest -= ListView1->columnWidth(column);
  }
  ListView1->setColumnWidth(2, std::clamp(rest, kValueColumnMin, kValueColumnMax));
}

void TForm1::ShowError(const QString& text) { Modal().Message(this, text, "Error", BoxIcon::Error); }

void TForm1::ResetKeyTree() {
  if (comparison_) Endcomparison1Click();
  lastNode_ = nullptr;
  StatusPanel1->clear();  // a time belongs to a key of the tree that goes
  TreeView1->clear();
  auto* top = new QTreeWidgetItem();
  top->setIcon(0, ImageList1.Picture(0));
  KeyInfo root;
  if (FileName.empty() || !document_.Loaded()) {
    top->setText(0, "(no file opened)");
  } else if (!GetRootKey(Hive, root)) {
    top->setText(0, ShownName(QString::fromStdString(FileName + ": error.")));
  } else {
    const size_t n = root.Name.Text(NameBuffer, kNameTextRoom);
    top->setText(0, ShownName(QString::fromStdString(FileName + ": ") +
                              QString::fromUtf8(NameBuffer, static_cast<qsizetype>(n))));
    SetCell(top, root.Ref.cell);  // the root key is a key: its values, its export
    // The subtree is built before it is attached: much faster than node by
    // node into a shown tree.
    FillKeyTree(top, root);
  }
  TreeView1->addTopLevelItem(top);
  FillLastWrittenColumn();
}

void TForm1::FillKeyTree(QTreeWidgetItem* node, const KeyInfo& key) {
  struct Filler {
    TForm1& form;
    std::vector<QTreeWidgetItem*> parents;
    KeyWalk* walk = nullptr;
    QTreeWidgetItem* entered = nullptr;  // the key whose subkeys were read last
    uint64_t subkeyDamage = 0;
    ValueList values;  // reused from key to key
    // The walk reads a key's subkeys right after entering it: what it
    // counted since the last look belongs to that key.
    void Settle() {
      const uint64_t now = walk->Damage().Count(DamageKind::SubkeyEntries);
      if (now != subkeyDamage && entered != nullptr) form.MarkDamagedKey(entered, now - subkeyDamage, 0, 0);
      subkeyDamage = now;
    }
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
      Settle();
      QTreeWidgetItem* item = parents[0];  // the given node stands already
      if (depth > 0) {
        item = Add(depth, &key);
        parents.resize(depth);
        parents.push_back(item);
      }
      entered = item;
      if (key.ValueCount > 0) {
        // The value lists are read once here, so that the damage is known
        // at open, not only when the key is shown.
        ReadValues(form.Hive, key, walk->Budget(), values);
        if (values.unreadable + values.dataDamaged > 0) {
          walk->Damage().AddValues(values, [&] { return walk->PathAt(depth); });
          form.MarkDamagedKey(item, 0, values.unreadable, values.dataDamaged);
        }
      }
      return true;
    }
    void Leave(const KeyInfo&, uint32_t) { Settle(); }
    void Missing(uint32_t depth) {
      Settle();
      Add(depth, nullptr);
    }
  } filler{*this, {node}, nullptr, nullptr, 0, {}};
  // Everything readable stands; a hive that shares its index cells past
  // the walk's budget simply stops filling.
  KeyWalk walk(Hive, "ROOT");
  filler.walk = &walk;
  walk.Run(key, filler);
  filler.Settle();
  document_.SetDamage(walk.Damage());
}

void TForm1::MarkDamagedKey(QTreeWidgetItem* node, uint64_t subkeys, uint64_t values, uint64_t data) {
  auto count = [](uint64_t n, const char* one, const char* many) {
    return QString::number(n) + " " + (n == 1 ? one : many);
  };
  QStringList lost;
  if (!node->toolTip(0).isEmpty()) lost << node->toolTip(0);
  if (subkeys > 0) lost << count(subkeys, "subkey entry", "subkey entries") + " could not be read";
  if (values > 0) lost << count(values, "value", "values") + " could not be read";
  if (data > 0) lost << "The data of " + count(data, "value", "values") + " could not be read";
  node->setToolTip(0, lost.join("\n"));
  if (node->parent() != nullptr) node->setIcon(0, ImageList1.Picture(4));  // the top node stays the file
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
    item->setText(2, ShownName(QString::fromStdString(row.text)));
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
  if (comparison_) Endcomparison1Click();
  shownState_.clear();
  ListView1->clear();
  const std::string file = path.toStdString();
  // The old file goes first, whatever happens next: the tree's nodes point
  // into its image and are rebuilt below. Nothing of it stays on screen.
  deletedTree_.Forget();  // its nodes go with the tree
  deleted_.reset();
  document_.Close();
  // Recorded before the file is read: what is read is never written.
  evidence_ = EvidenceGuard::For(file);
  StatusPanel0->setText("Ready");
  StatusPanel1->clear();
  StatusPanel2->clear();
  if (Form2 != nullptr) Form2->StartHive(QString());
  const LoadOutcome outcome = document_.Open(file);
  std::string recordedName;
  carvedOrigin_.clear();
  carvedImage_.clear();
  if (outcome != LoadOutcome::Loaded) {
    ShowOpenError(outcome, file, ShownName(path) + ": " + QString::fromStdString(OpenFailureReason(file, outcome)));
  } else {
    // A dirty hive: its logs are applied in memory when the user agrees.
    if (document_.Logs() == LogState::Offered) {
      if (Modal().Ask(this, DirtyHiveQuestion(document_.Recovery()), "Cellbrook")) {
        document_.ApplyLogs();
      } else {
        document_.DeclineLogs();
      }
    } else if (document_.Recovery().dirty) {
      Modal().Message(this, QString::fromStdString(RecoverySummaryLine(document_.Recovery())), "Cellbrook",
                      BoxIcon::Information);
    }
    recordedName = document_.Recovery().primary.fileName;
  }
  ForgetArtifacts();
  ResetKeyTree();
  if (document_.Loaded() && Form2 != nullptr) {
    Form2->StartHive(RootPrefixOf(DetectHiveKind(Hive, recordedName, FileName)));
  }
  if (Showdeletedkeysandvalues1->isChecked()) ShowDeletedNodes();
  ShowTitle();
  ShowState();
  if (document_.Damage().Any()) {
    Modal().Message(this, QString::fromStdString(document_.Damage().Summary("everything readable was listed")),
                    "Cellbrook", BoxIcon::Information);
  }
}

QString ShownLines(const QString& text) {
  QStringList lines = text.split('\n');
  for (QString& line : lines) line = ShownName(line);
  return lines.join('\n');
}

std::string OpenFailureReason(const std::string& path, LoadOutcome outcome) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  switch (outcome) {
    case LoadOutcome::Loaded:
      return "";
    case LoadOutcome::CannotOpen: {
      const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
      if (fd < 0) return std::strerror(errno);
      ::close(fd);
      return "it could not be opened for reading";
    }
    case LoadOutcome::TooLarge:
      return std::to_string(size) + " bytes, more than a hive can hold";
    case LoadOutcome::NoMemory:
      return "not enough memory for its " + std::to_string(size) + " bytes";
    case LoadOutcome::ReadFailed:
      return "the read stopped before its " + std::to_string(size) + " bytes";
    case LoadOutcome::InvalidFormat:
      break;
  }
  if (size == 0) return "empty file";
  char start[4] = {};
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  const ssize_t got = fd < 0 ? -1 : ::read(fd, start, sizeof start);
  if (fd >= 0) ::close(fd);
  if (got == 4 && std::memcmp(start, "regf", 4) == 0) return "too short for a hive's base block";
  return "no \"regf\" signature";
}

void TForm1::ShowTitle() {
  if (!document_.Loaded()) return setWindowTitle("Cellbrook");
  QString title = "Cellbrook - " + ShownName(QFileInfo(QString::fromStdString(FileName)).fileName());
  if (document_.LogsApplied()) title += " (logs applied)";
  if (document_.Damage().Any()) title += " (damaged)";
  setWindowTitle(title);
}

QString ShownStateText(bool loaded, const RecoveryReport& recovery, bool asked, bool applied, bool damaged) {
  if (!loaded) return {};
  QString text;
  if (applied)
    text = "Transaction logs applied";
  else if (asked)
    text = "Transaction logs not applied (your choice)";
  else if (recovery.dirty)
    text = "Dirty: no transaction log applies";
  else
    text = "Clean hive";
  if (damaged) text += "; damaged";
  return text;
}

void TForm1::ShowState() {
  StatusPanel2->setText(ShownStateText(document_.Loaded(), document_.Recovery(), document_.LogsOffered(),
                                       document_.LogsApplied(), document_.Damage().Any()));
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
  if (!document_.Loaded()) return;
  const RecoveryReport& recovery = document_.Recovery();
  std::string text = HiveInfoText(document_.FileName(), recovery);
  if (shownState_.empty() && recovery.dirty && document_.LogsOffered() && !document_.LogsApplied()) {
    // The logs would apply, but the user chose the file as it is.
    const size_t at = text.find("\nRecovery: ");
    if (at != std::string::npos) {
      const size_t end = text.find('\n', at + 1);
      text.replace(at + 1, end == std::string::npos ? std::string::npos : end - at - 1,
                   "Recovery: not applied: you chose to read the hive file as it is (the logs could "
                   "have been applied)");
    }
  }
  if (!shownState_.empty()) {
    text += shownState_;
  } else if (recovery.dirty) {
    text += document_.LogsApplied()   ? "Shown: the hive with its transaction logs applied, in memory only.\n"
            : document_.LogsOffered() ? "Shown: the hive file as it is, without its transaction logs (your choice).\n"
                                      : "Shown: the hive file as it is, without its transaction logs.\n";
  } else {
    text += "Shown: the hive file as it is (clean: nothing to apply).\n";
  }
  text += carvedOrigin_;
  text += document_.Damage().Any() ? "Damage: " + document_.Damage().Summary("everything readable was listed") + "\n"
                                   : std::string("Damage: none found in the keys and value lists.\n");
  if (infoDialog_ == nullptr) {
    infoDialog_ = new HiveInfoDialog(this);
    connect(infoDialog_, &HiveInfoDialog::entryChosen, this, &TForm1::HistoryEntryChosen);
  }
  QStringList history;
  if (recovery.dirty) {
    HiveBlock file;
    HiveImage read;
    if (LoadHiveFile(FileName, file, read) == LoadOutcome::Loaded) {
      for (const HistoryEntry& e : LogHistory({file.data(), file.size}, FileName)) {
        history << QString("Entry %1 from %2: %3 %4")
                       .arg(e.sequence)
                       .arg(QString::fromStdString(e.log))
                       .arg(e.pages)
                       .arg(e.pages == 1 ? "page" : "pages");
      }
    }
  }
  infoDialog_->SetInfo(ShownLines(QString::fromStdString(text)));
  infoDialog_->SetHistory(history);
  infoDialog_->exec();
}

void TForm1::TreeView1Click() {
  QTreeWidgetItem* node = SelectedItem(TreeView1);
  if (node == nullptr || node == lastNode_) return;
  lastNode_ = node;
  StatusPanel1->clear();  // no time stays up for a node that has none
  ShowArtifactLink(KeyRef{});
  if (comparison_) {
    const HiveComparison::Node* shown = comparison_->NodeOf(node);
    StatusPanel0->setText(shown ? ShownName(QString::fromStdString(shown->path)) + "  " +
                                      HiveComparison::MarkName(shown->mark)
                                : QString());
    comparison_->ShowValues(node, ListView1, ImageList2.Pictures);
    return;
  }
  if (ShowRecoveredNode(node)) return;
  KeyInfo key;
  if (!GetKeyInfo(Hive, key, KeyOf(node))) return;
  const char* path = WindowKeyPath(Hive, key.Ref, NameBuffer);
  StatusPanel0->setText(path ? ShownName(QString::fromUtf8(path)) : QString("[Failed ro resolve key path]"));
  ShowKeyTime(key);
  ShowArtifactLink(key.Ref);
  FillValueList(key);
  if (deletedTree_.Shown()) AppendDeletedValueRows(Deleted().SlackValuesOf(key.Ref));
}

void TForm1::TreeView1KeyUp(int, Qt::KeyboardModifiers) { TreeView1Click(); }

void TForm1::Save1Click() {
  QTreeWidgetItem* item = SelectedItem(ListView1);
  ValueInfo value;
  if (!SelectedValue(value)) return;
  const SaveCheck check = CheckValueForSaving(value);
  if (check != SaveCheck::Ready) {
    const bool gone = check == SaveCheck::Damaged && RecordOf(item).kind == RecordKind::RecoveredValue;
    Modal().Message(this, gone ? QString(kDeletedDataGoneText) : QString(SaveCheckText(check)), "Cellbrook",
                    check == SaveCheck::Empty ? BoxIcon::Information : BoxIcon::Error);
    return;
  }
  if (!Modal().SaveFile(this, SaveDialog1)) return;
  if (evidence_.Refuses(SaveDialog1.FileName.toStdString())) {
    Modal().Message(this, kEvidenceRefusalText, "Cellbrook", BoxIcon::Error);
    return;
  }
  const SaveOutcome outcome = SaveValueData(value, SaveDialog1.FileName.toStdString());
  if (outcome != SaveOutcome::Saved) {
    Modal().Message(this, SaveOutcomeText(outcome), "Cellbrook", BoxIcon::Error);
  }
}

void TForm1::Savevalue1Click() { Save1Click(); }

QPoint PopupPoint(QPoint pointer, const QRect& windowFrame, int clientHeight, QPoint controlOffset) {
  return {pointer.x() + windowFrame.left() + controlOffset.x(),
          pointer.y() + windowFrame.top() + controlOffset.y() + (windowFrame.height() - clientHeight)};
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
  // The press selected the node under the pointer; a press beside every
  // node selected nothing and shows no menu.
  const QPoint client(x + TreeView1->frameWidth(), y + TreeView1->frameWidth());
  QTreeWidgetItem* node = SelectedItem(TreeView1);
  if (node == nullptr || TreeView1->itemAt(TreeView1->viewport()->mapFrom(TreeView1, client)) != node) return;
  TreeView1Click();  // the panes show the key the menu will act on
  const bool compared = comparison_ && comparison_->NodeOf(node) != nullptr;
  if (!compared && !KeyOf(node) && RecordOf(node).kind != RecordKind::RecoveredKey) return;
  ShowPopup(PopupMenu2, TreeView1, x, y);
}

void TForm1::ShowPopupAtSelection(QMenu* menu, QTreeWidget* control) {
  QTreeWidgetItem* item = SelectedItem(control);
  if (item == nullptr) return;
  control->scrollToItem(item);
  const QRect rect = control->visualItemRect(item);
  Modal().Popup(menu, control->viewport()->mapToGlobal(QPoint(rect.left() + 16, rect.bottom())));
}

void TForm1::TreeView1MenuKey() {
  const QTreeWidgetItem* node = SelectedItem(TreeView1);
  if (!KeyOf(node) && RecordOf(node).kind != RecordKind::RecoveredKey) return;
  ShowPopupAtSelection(PopupMenu2, TreeView1);
}

void TForm1::ListView1MenuKey() { ShowPopupAtSelection(PopupMenu1, ListView1); }

void TForm1::ListView1EnterKey() { ViewData1Click(); }

void TForm1::TreeView1Collapsed(QTreeWidgetItem* node) {
  // A hidden key's values must not stay on show: the collapsed node takes
  // the selection.
  for (QTreeWidgetItem* up = SelectedItem(TreeView1); up != nullptr; up = up->parent()) {
    if (up->parent() == node) {
      TreeView1->setCurrentItem(node);
      TreeView1Click();
      return;
    }
  }
}

void TForm1::Exportkey2Click() {
  if (comparison_) {
    // The patch that turns the old subtree into the new one.
    QTreeWidgetItem* node = SelectedItem(TreeView1);
    if (comparison_->NodeOf(node) == nullptr || Form2 == nullptr) return;
    HiveComparison* comparison = comparison_.get();
    Form2->SetPatchExport(comparison->KeyPathOf(node),
                          [comparison, node](const std::string& prefix, const std::string& target) {
                            return comparison->WritePatch(node, prefix, target);
                          });
    Form2->exec();
    return;
  }
  if (ExportRecoveredKey(SelectedItem(TreeView1))) return;
  const KeyRef key = KeyOf(SelectedItem(TreeView1));
  if (!key || Form2 == nullptr) return;
  Form2->SetExport(&Hive, key);
  Form2->SetEvidence(&evidence_);
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
  if (!DroppedFile(event->mimeData()).isEmpty())
    event->acceptProposedAction();
  else
    event->ignore();
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
  if (!deleted_) deleted_ = std::make_unique<DeletedRecords>(document_.Deleted());
  return *deleted_;
}

void TForm1::ShowDeletedNodes() {
  if (!document_.Loaded() || deletedTree_.Shown()) return;
  deletedTree_.Show(TreeView1, Deleted(), ImageList1.Picture(2), ImageList1.Picture(3), collator_);
  FillLastWrittenColumn();
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
        StatusPanel1->clear();  // no key is shown: no time either
      }
    }
  }
  // The selected key's list, with or without its deleted values.
  lastNode_ = nullptr;
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
    StatusPanel0->setText(ShownName(QString::fromStdString(DeletedKeyPathText(scan, key))) + " (recovered)");
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

bool TForm1::DeletedValueOf(const QTreeWidgetItem* row, ValueInfo& value) {
  const RecordRef record = RecordOf(row);
  if (!deleted_ || record.kind != RecordKind::RecoveredValue || record.index >= deleted_->Scan().values.size()) {
    return false;
  }
  value = DeletedValueInfo(deleted_->Scan(), deleted_->Scan().values[record.index]);
  return true;
}

bool TForm1::ExportRecoveredKey(const QTreeWidgetItem* node) {
  const RecordRef record = RecordOf(node);
  if (record.kind != RecordKind::RecoveredKey) return false;
  if (deleted_ && Form2 != nullptr) {
    Form2->SetRecoveredExport(&deleted_->Scan(), record.index);
    Form2->SetEvidence(&evidence_);
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
  if (!search.Error().empty() || !document_.Loaded()) return;
  QTreeWidgetItem* from = SelectedItem(TreeView1);
  const QTreeWidgetItem* row = from != nullptr && from == lastNode_ ? SelectedItem(ListView1) : nullptr;
  const ListPlace after{ValueOf(row), RecordOf(row).kind == RecordKind::RecoveredValue ? RecordOf(row).index : kNoCell};
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const TreeFind found =
      FindInTree(TreeView1, from, after, Hive, search, collator_, deletedTree_.Shown() ? deleted_.get() : nullptr);
  QApplication::restoreOverrideCursor();
  if (found.node == nullptr) {
    Modal().Message(this, found.budgetOut ? kBudgetOutText : "Finished searching: nothing more was found.", "Cellbrook",
                    BoxIcon::Information);
    return;
  }
  for (QTreeWidgetItem* up = found.node->parent(); up != nullptr; up = up->parent()) up->setExpanded(true);
  TreeView1->setCurrentItem(found.node);
  TreeView1->scrollToItem(found.node, QAbstractItemView::PositionAtCenter);
  TreeView1Click();
  ListView1->clearSelection();
  for (int i = 0; found.value.Any() && i < ListView1->topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = ListView1->topLevelItem(i);
    const RecordRef record = RecordOf(row);
    const bool deleted = record.kind == RecordKind::RecoveredValue;
    if (deleted ? record.index == found.value.deleted : (found.value.live && ValueOf(row) == found.value.live)) {
      ListView1->setCurrentItem(row);
      ListView1->scrollToItem(row);
      ListView1->setFocus();
      return;
    }
  }
  TreeView1->setFocus();
}

void TForm1::ViewData1Click() {
  QTreeWidgetItem* item = SelectedItem(ListView1);
  ValueInfo value;
  const bool deleted = RecordOf(item).kind == RecordKind::RecoveredValue;
  if (!SelectedValue(value)) return;
  DataViewDialog dialog(this);
  dialog.ShowValue(item->text(0), value, deleted);
  dialog.exec();
}

void TForm1::Viewdata1Click() { ViewData1Click(); }

void TForm1::ListView1DblClick() { ViewData1Click(); }

void TForm1::Comparewith1Click() {
  if (!document_.Loaded()) return;
  QString error;
  std::unique_ptr<HiveComparison> comparison;
  // A dirty hive may be compared with its own logs applied instead.
  if (document_.Recovery().dirty && document_.Recovery().applied &&
      Modal().Ask(this,
                  "This hive is dirty. Compare the hive file as it is with the hive with its transaction "
                  "logs applied?\n\nNo: choose another hive to compare with.",
                  "Cellbrook")) {
    comparison = HiveComparison::WithLogs(FileName, error);
  } else {
    FileDialogSettings dialog = OpenDialog1;
    if (!Modal().OpenFile(this, dialog)) return;
    comparison = HiveComparison::WithFile(Hive, FileName, dialog.FileName.toStdString(), error);
  }
  if (!comparison) return ShowError(error.toUtf8().constData());
  ShowComparison(std::move(comparison));
}

bool TForm1::ShowComparison(std::unique_ptr<HiveComparison> comparison) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  comparison_ = std::move(comparison);
  lastNode_ = nullptr;
  deletedTree_.Forget();  // its nodes go with the tree
  HiveComparison::UseCompareColumns(ListView1);
  comparison_->ShowOnlyDifferences(TreeView1, ListView1, Showonlydifferences1->isChecked());
  comparison_->ShowTree(TreeView1, ImageList1.Picture(1));
  QApplication::restoreOverrideCursor();
  for (QAction* a : {Find1, Findnext1, Showdeletedkeysandvalues1, Savevalue1}) a->setEnabled(false);
  Showonlydifferences1->setEnabled(true);
  Endcomparison1->setEnabled(true);
  const CompareOutcome& outcome = comparison_->Outcome();
  QString said = QString("Comparing %1 with %2: %3 differences")
                     .arg(comparison_->OldLabel(), comparison_->NewLabel())
                     .arg(outcome.changes);
  if (outcome.Damaged()) said += " (damaged parts were skipped)";
  if (outcome.budgetOut) said += QString(" (stopped early: ") + kBudgetOutText + ")";
  StatusPanel0->setText(said);
  return true;
}

void TForm1::Endcomparison1Click() {
  if (!comparison_) return;
  comparison_.reset();
  UseValueColumns();
  FitValueColumn();
  for (QAction* a : {Find1, Findnext1, Showdeletedkeysandvalues1, Savevalue1}) a->setEnabled(true);
  Showonlydifferences1->setEnabled(false);
  Endcomparison1->setEnabled(false);
  StatusPanel0->setText("Ready");
  ResetKeyTree();
  if (Showdeletedkeysandvalues1->isChecked()) ShowDeletedNodes();
}

void TForm1::Showonlydifferences1Click(bool checked) {
  if (comparison_) comparison_->ShowOnlyDifferences(TreeView1, ListView1, checked);
}

void TForm1::HistoryEntryChosen(int index) {
  if (FileName.empty() || index < 0) return;
  HiveBlock file;
  HiveImage read;
  if (LoadHiveFile(FileName, file, read) != LoadOutcome::Loaded) return ShowError("Can not open source file!");
  const std::vector<HistoryEntry> entries = LogHistory({file.data(), file.size}, FileName);
  std::vector<uint8_t> image = HiveAfterEntry({file.data(), file.size}, FileName, static_cast<size_t>(index));
  if (static_cast<size_t>(index) >= entries.size() || image.empty()) return;
  if (comparison_) Endcomparison1Click();
  deletedTree_.Forget();
  deleted_.reset();
  ListView1->clear();
  if (!document_.ShowImage(std::move(image))) {
    // The file as read, rather than nothing.
    document_.ShowImage(std::vector<uint8_t>(file.data(), file.data() + file.size));
    shownState_ = "Shown: the hive file as it is (the chosen log entry gave no readable hive).\n";
  } else {
    const HistoryEntry& e = entries[static_cast<size_t>(index)];
    shownState_ = "Shown: the hive as it was after log entry " + std::to_string(e.sequence) + " (" + e.log +
                  "), in memory only.\n";
  }
  ResetKeyTree();
  if (Showdeletedkeysandvalues1->isChecked()) ShowDeletedNodes();
  StatusPanel0->setText(QString::fromStdString(shownState_).trimmed());
}

}  // namespace cellbrook
