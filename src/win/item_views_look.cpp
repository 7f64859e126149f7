#include "win/item_views_look.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <QTreeView>

namespace cellbrook {

QString ShownName(const QString& name) {
  QString shown = name;
  for (QChar& c : shown) {
    const char16_t u = c.unicode();
    if (u < 0x20)
      c = QChar(char16_t(0x2400 + u));  // the Control Pictures block
    else if (u == 0x7F)
      c = QChar(char16_t(0x2421));
  }
  return shown;
}

CaptionDelegate::CaptionDelegate(QTreeView* view, Kind kind) : QStyledItemDelegate(view), view_(view), kind_(kind) {}

bool CaptionDelegate::IsTopNode(const QModelIndex& index) const {
  // The path caption only: a column beside it shows as any other.
  return kind_ == Kind::KeyTree && !index.parent().isValid() && index.column() == 0;
}

void CaptionDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  if (kind_ == Kind::ValueList && index.column() != 0) option->state &= ~QStyle::State_Selected;
  if (IsTopNode(index)) {
    // Cut at the start against the visible part: the root key's name ends
    // the caption and stays in view however wide the column is.
    option->textElideMode = Qt::ElideLeft;
    const int visibleRight = view_->viewport()->width() - 1;
    if (option->rect.right() > visibleRight && option->rect.left() < visibleRight) {
      option->rect.setRight(visibleRight);
    }
  }
}

QSize CaptionDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QSize size = QStyledItemDelegate::sizeHint(option, index);
  if (IsTopNode(index)) {
    // Past the view's width the path gives way, not the scroll range.
    const int room = view_->viewport()->width() - view_->indentation();
    size.setWidth(std::max(1, std::min(size.width(), room)));
  }
  return size;
}

bool CaptionDelegate::CaptionFits(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const int needed = QStyledItemDelegate::sizeHint(option, index).width();
  const QRect cell = option.rect;
  return cell.left() >= 0 && needed <= cell.width() && cell.left() + needed <= view_->viewport()->width();
}

bool CaptionDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                const QModelIndex& index) {
  if (event->type() != QEvent::ToolTip || !index.isValid() || index.column() != 0) {
    return QStyledItemDelegate::helpEvent(event, view, option, index);
  }
  // A note of the item's own (what could not be read) shows always, below
  // the caption when that is cut.
  const QString note = index.data(Qt::ToolTipRole).toString();
  const bool fits = CaptionFits(option, index);
  if (fits && note.isEmpty()) {
    QToolTip::hideText();
  } else {
    const QString caption = index.data(Qt::DisplayRole).toString();
    const QString text = fits ? note : note.isEmpty() ? caption : caption + "\n" + note;
    QToolTip::showText(event->globalPos(), text, view->viewport(), option.rect);
  }
  return true;
}

TreeLineStyle::TreeLineStyle() = default;  // over the application's style

void TreeLineStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                  const QWidget* widget) const {
  if (element != PE_IndicatorBranch) {
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    return;
  }
  const QRect r = option->rect;
  const int midX = r.left() + r.width() / 2, midY = r.top() + r.height() / 2;
  const bool box = option->state & State_Children;
  const int half = 4;  // the box is 9 x 9 pixels
  painter->save();
  painter->setPen(option->palette.color(QPalette::Dark));
  // Dots on even screen-aligned positions, so lines of rows meet evenly.
  auto vertical = [&](int y0, int y1) {
    for (int y = y0; y <= y1; ++y) {
      if (((midX + y) & 1) == 0) painter->drawPoint(midX, y);
    }
  };
  auto horizontal = [&](int x0, int x1) {
    for (int x = x0; x <= x1; ++x) {
      if (((x + midY) & 1) == 0) painter->drawPoint(x, midY);
    }
  };
  if (option->state & State_Item) horizontal(box ? midX + half + 1 : midX, r.right());
  if (option->state & State_Sibling) vertical(box ? midY + half + 1 : midY, r.bottom());
  if (option->state & (State_Open | State_Children | State_Item | State_Sibling)) {
    vertical(r.top(), box ? midY - half - 1 : midY);
  }
  if (box) {
    const QRect frame(midX - half, midY - half, 2 * half, 2 * half);
    painter->fillRect(frame, option->palette.color(QPalette::Base));
    painter->setPen(option->palette.color(QPalette::Mid));
    painter->drawRect(frame);
    painter->setPen(option->palette.color(QPalette::Text));
    painter->drawLine(midX - 2, midY, midX + 2, midY);
    if (!(option->state & State_Open)) painter->drawLine(midX, midY - 2, midX, midY + 2);
  }
  painter->restore();
}

}  // namespace cellbrook
