// A label that reads as a link: blue, underlined, a hand pointer, and a
// click signal.
#pragma once

#include <QLabel>

namespace cellbrook {

class LinkLabel : public QLabel {
  Q_OBJECT
 public:
  explicit LinkLabel(QWidget* parent = nullptr);

 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace cellbrook
