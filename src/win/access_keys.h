// Access keys for menus whose captions carry none: in order, separators
// skipped, each item takes the first character of its caption that is a
// letter or digit (upper-cased) not yet taken in the same menu.
#pragma once

#include <QList>
#include <QString>

class QMenu;
class QMenuBar;

namespace cellbrook {

// The captions with "&" before each chosen character.
QList<QString> WithAccessKeys(const QList<QString>& captions);

void AssignAccessKeys(QMenuBar* bar);  // the bar's titles and every menu's items
void AssignAccessKeys(QMenu* menu);

}  // namespace cellbrook
