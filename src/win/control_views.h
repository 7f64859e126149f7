// The tree and list controls of the main window: Qt item views that report
// a mouse press after their own handling, and key releases, to the window's
// handlers. The key tree keeps its selection on a right-button press.
#pragma once

#include <QTreeWidget>

namespace cellbrook {

class ControlView : public QTreeWidget {
  Q_OBJECT
 public:
  explicit ControlView(QWidget* parent = nullptr);

  // false for the key tree: a right-button press leaves the selection alone.
  void setRightPressSelects(bool selects) { rightPressSelects_ = selects; }

 signals:
  void mouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);
  void keyUp(int key, Qt::KeyboardModifiers modifiers);
  void resized();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QPoint ClientPoint(QMouseEvent* event) const;
  bool rightPressSelects_ = true;
};

}  // namespace cellbrook
