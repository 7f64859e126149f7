#include "win/control_views.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace cellbrook {

ControlView::ControlView(QWidget* parent) : QTreeWidget(parent) {
  // The window's handlers show the pop-up menus, for the mouse and the keys.
  setContextMenuPolicy(Qt::PreventContextMenu);
}

void ControlView::mousePressEvent(QMouseEvent* event) {
  const bool onItem = indexAt(event->position().toPoint()).isValid();
  if (!onItem && !emptyPressClears_) {
    // Nothing to select: the selection and the panes stay as they are.
  } else if (event->button() != Qt::RightButton || rightPressSelects_) {
    // A press where no row is hit leaves nothing selected: the commands
    // must not act on a row away from the pointer.
    if (rightPressSelects_ && !onItem) clearSelection();
    QTreeWidget::mousePressEvent(event);
  }
  emit mouseDown(event->button(), event->modifiers(), ClientPoint(event).x(), ClientPoint(event).y());
}

// Item views get their mouse events from the viewport; the handlers want
// them relative to the control's client area, inside its border.
QPoint ControlView::ClientPoint(QMouseEvent* event) const {
  return viewport()->mapTo(this, event->position().toPoint()) - QPoint(frameWidth(), frameWidth());
}

void ControlView::mouseDoubleClickEvent(QMouseEvent* event) {
  // A double click reaches the handlers as a press too.
  if (event->button() != Qt::RightButton || rightPressSelects_) {
    QTreeWidget::mouseDoubleClickEvent(event);
  }
  emit mouseDown(event->button(), event->modifiers(), ClientPoint(event).x(), ClientPoint(event).y());
}

void ControlView::keyPressEvent(QKeyEvent* event) {
  const bool menu =
      event->key() == Qt::Key_Menu || (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier);
  if (menu) {
    event->accept();
    emit menuKey();
    return;
  }
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    event->accept();
    emit enterKey();
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

void ControlView::keyReleaseEvent(QKeyEvent* event) {
  QTreeWidget::keyReleaseEvent(event);
  emit keyUp(event->key(), event->modifiers());
}

void ControlView::resizeEvent(QResizeEvent* event) {
  QTreeWidget::resizeEvent(event);
  emit resized();
}

}  // namespace cellbrook
