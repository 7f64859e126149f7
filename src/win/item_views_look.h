// How the key tree and the value list draw their items: names with control
// characters shown as visible symbols, tool tips for captions that do not
// fit, the Name cell alone highlighted, and connecting lines in the tree.
#pragma once

#include <QProxyStyle>
#include <QString>
#include <QStyledItemDelegate>

class QTreeView;

namespace cellbrook {

// A name as the window shows it: each control character (CR, LF, tab, ...)
// as its visible symbol (U+240D, U+240A, U+2409, ...) so that a name stays
// on one line. The stored name is not touched.
QString ShownName(const QString& name);

// Shows a tool tip with the whole caption when a column-0 caption is cut
// or partly out of view, and an item's own tool tip (a note) always; paints a row's highlight in column 0 only.
// The top-level node of a tree keeps its end in view (the root key's name
// follows the file's path) and never makes the column wider than the view.
class CaptionDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  enum class Kind { KeyTree, ValueList };
  CaptionDelegate(QTreeView* view, Kind kind);

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                 const QModelIndex& index) override;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

 private:
  bool IsTopNode(const QModelIndex& index) const;
  // Whether the caption shows whole in the view as it stands; `option` is
  // the view's own for the item.
  bool CaptionFits(const QStyleOptionViewItem& option, const QModelIndex& index) const;

  QTreeView* view_;
  Kind kind_;
};

// Fusion with the tree's connecting lines: dotted lines from each node to
// its parent's line and down to its next sibling, and a boxed plus or minus
// on nodes that have children.
class TreeLineStyle : public QProxyStyle {
  Q_OBJECT
 public:
  TreeLineStyle();
  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
};

}  // namespace cellbrook
