// The splitter between the key tree and the value list. A drag proposes a
// tree width (a checkered line shows it) that is applied on release: at
// least 30 pixels or else shut (0), and at most the panel's width less 33
// (30 kept for the list, 3 for the splitter). Escape cancels the drag.
#pragma once

#include <QSplitter>
#include <QSplitterHandle>

class QRubberBand;

namespace cellbrook {

constexpr int kSplitterWidth = 3;
constexpr int kTreeSnapWidth = 30;
constexpr int kListKeptWidth = 30;

// The tree width a drag proposes.
int ProposedTreeWidth(int startWidth, int movedBy, int panelWidth);

class KeySplitter : public QSplitter {
  Q_OBJECT
 public:
  explicit KeySplitter(QWidget* parent = nullptr);

  int treeWidth() const;
  void setTreeWidth(int width);  // the rest goes to the list

 protected:
  QSplitterHandle* createHandle() override;
};

class KeySplitterHandle : public QSplitterHandle {
  Q_OBJECT
 public:
  explicit KeySplitterHandle(KeySplitter* parent);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void endDrag();

  KeySplitter* splitter_;
  bool dragging_ = false;
  int startX_ = 0, startWidth_ = 0, proposed_ = 0;
  QWidget* line_ = nullptr;
};

}  // namespace cellbrook
