#include "win/control_views.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace cellbrook {

ControlView::ControlView(QWidget* parent) : QTreeWidget(parent) {
  setContextMenuPolicy(Qt::PreventContextMenu);  // the context-menu key shows nothing
}

void ControlView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::RightButton || rightPressSelects_) {
    // A press where no row is hit leaves nothing selected: the commands
    // must not act on a row away from the pointer.
    if (rightPressSelects_ && !indexAt(event->position().toPoint()).isValid()) clearSelection();
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

void ControlView::keyReleaseEvent(QKeyEvent* event) {
  QTreeWidget::keyReleaseEvent(event);
  emit keyUp(event->key(), event->modifiers());
}

void ControlView::resizeEvent(QResizeEvent* event) {
  QTreeWidget::resizeEvent(event);
  emit resized();
}

}  // namespace cellbrook
