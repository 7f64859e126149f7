// The tree and list controls of the main window: Qt item views that report
// a mouse press after their own handling, and key releases, to the window's
// handlers. A right-button press selects the item under the pointer; on no
// item the list clears its selection and the tree keeps its own.
#pragma once

#include <QTreeWidget>

namespace cellbrook {

class ControlView : public QTreeWidget {
  Q_OBJECT
 public:
  explicit ControlView(QWidget* parent = nullptr);

  // false: a right-button press leaves the selection alone.
  void setRightPressSelects(bool selects) { rightPressSelects_ = selects; }
  // false: a press on no item keeps the selection (the key tree's panes
  // stay true to it).
  void setEmptyPressClears(bool clears) { emptyPressClears_ = clears; }

 signals:
  void mouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);
  void keyUp(int key, Qt::KeyboardModifiers modifiers);
  // The Menu key or Shift+F10: the pop-up menu at the selection.
  void menuKey();
  // Enter or Return on the current item.
  void enterKey();
  void resized();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QPoint ClientPoint(QMouseEvent* event) const;
  bool rightPressSelects_ = true;
  bool emptyPressClears_ = true;
};

}  // namespace cellbrook
