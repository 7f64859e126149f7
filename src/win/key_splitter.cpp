#include "win/key_splitter.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace cellbrook {

int ProposedTreeWidth(int startWidth, int movedBy, int panelWidth) {
  const int most = panelWidth - kListKeptWidth - kSplitterWidth;
  int width = std::min(startWidth + movedBy, most);
  width = std::max(width, kTreeSnapWidth);
  return width <= kTreeSnapWidth ? 0 : width;
}

KeySplitter::KeySplitter(QWidget* parent) : QSplitter(Qt::Horizontal, parent) {
  setHandleWidth(kSplitterWidth);
  setChildrenCollapsible(true);
  setOpaqueResize(false);
}

int KeySplitter::treeWidth() const { return sizes().value(0); }

void KeySplitter::setTreeWidth(int width) {
  const int total = std::max(0, this->width() - kSplitterWidth);
  setSizes({width, std::max(0, total - width)});
}

QSplitterHandle* KeySplitter::createHandle() { return new KeySplitterHandle(this); }

namespace {

// The black-and-white checkered line that shows the proposed edge.
class DragLine : public QWidget {
 public:
  explicit DragLine(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_TransparentForMouseEvents); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), QBrush(Qt::black, Qt::Dense4Pattern));
  }
};

}  // namespace

KeySplitterHandle::KeySplitterHandle(KeySplitter* parent) : QSplitterHandle(Qt::Horizontal, parent), splitter_(parent) {
  setCursor(Qt::SplitHCursor);
  setFocusPolicy(Qt::NoFocus);
}

void KeySplitterHandle::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  dragging_ = true;
  startX_ = static_cast<int>(event->globalPosition().x());
  startWidth_ = proposed_ = splitter_->treeWidth();
  if (line_ == nullptr) line_ = new DragLine(splitter_);
  line_->setGeometry(proposed_, 0, kSplitterWidth, splitter_->height());
  line_->show();
  line_->raise();
  grabKeyboard();
}

void KeySplitterHandle::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_) return;
  const int moved = static_cast<int>(event->globalPosition().x()) - startX_;
  proposed_ = ProposedTreeWidth(startWidth_, moved, splitter_->width());
  line_->move(proposed_, 0);
}

void KeySplitterHandle::mouseReleaseEvent(QMouseEvent* event) {
  if (!dragging_ || event->button() != Qt::LeftButton) return;
  endDrag();
  splitter_->setTreeWidth(proposed_);
}

void KeySplitterHandle::keyPressEvent(QKeyEvent* event) {
  if (dragging_ && event->key() == Qt::Key_Escape) {
    endDrag();  // no change
    return;
  }
  QSplitterHandle::keyPressEvent(event);
}

void KeySplitterHandle::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().button());
}

void KeySplitterHandle::endDrag() {
  dragging_ = false;
  releaseKeyboard();
  if (line_ != nullptr) line_->hide();
}

}  // namespace cellbrook
