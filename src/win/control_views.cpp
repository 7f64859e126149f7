#include "win/control_views.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace cellbrook {

ControlView::ControlView(QWidget* parent) : QTreeWidget(parent) {
  setContextMenuPolicy(Qt::PreventContextMenu);  // the context-menu key shows nothing
}

void ControlView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::RightButton || rightPressSelects_) QTreeWidget::mousePressEvent(event);
  // Item views get their mouse events from the viewport, in its coordinates:
  // the control's client area.
  const QPoint p = event->position().toPoint();
  emit mouseDown(event->button(), event->modifiers(), p.x(), p.y());
}

void ControlView::mouseDoubleClickEvent(QMouseEvent* event) {
  // A double click reaches the handlers as a press too.
  if (event->button() != Qt::RightButton || rightPressSelects_) {
    QTreeWidget::mouseDoubleClickEvent(event);
  }
  const QPoint p = event->position().toPoint();
  emit mouseDown(event->button(), event->modifiers(), p.x(), p.y());
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
