#include "win/access_keys.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QSet>

namespace cellbrook {

QList<QString> WithAccessKeys(const QList<QString>& captions) {
  QSet<QChar> taken;
  QList<QString> out;
  for (QString caption : captions) {
    for (qsizetype i = 0; i < caption.size(); ++i) {
      const QChar c = caption[i].toUpper();
      const bool eligible = (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
      if (eligible && !taken.contains(c)) {
        taken.insert(c);
        caption.insert(i, u'&');
        break;
      }
    }
    out.push_back(caption);
  }
  return out;
}

namespace {

void Assign(const QList<QAction*>& actions) {
  QList<QAction*> items;
  QList<QString> captions;
  for (QAction* a : actions) {
    if (a->isSeparator()) continue;
    items.push_back(a);
    captions.push_back(a->text().remove(u'&'));
  }
  const QList<QString> keyed = WithAccessKeys(captions);
  for (qsizetype i = 0; i < items.size(); ++i) items[i]->setText(keyed[i]);
}

}  // namespace

void AssignAccessKeys(QMenu* menu) { Assign(menu->actions()); }

void AssignAccessKeys(QMenuBar* bar) {
  Assign(bar->actions());
  for (QAction* a : bar->actions()) {
    if (a->menu() != nullptr) AssignAccessKeys(a->menu());
  }
}

}  // namespace cellbrook
