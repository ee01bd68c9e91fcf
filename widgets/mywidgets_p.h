// Helpers shared by the widget classes: what every constructor does with its arguments (the
// one way they send an event line, myEvent, is public: mywidgets.h).
#ifndef MYWIDGETS_P_H
#define MYWIDGETS_P_H

#include <QObject>
#include <QString>

#include "mywidgets.h"

class QWidget;

// The Qwt half of mySetRange: 0, or -1 when w is no Qwt widget with a range.
int myQwtSetRange(QWidget* w, double min, double max, double step);

// The object name given to a constructor; null leaves Qt's empty name.
inline void myNameWidget(QObject* o, const char* name) {
  if (name != nullptr) o->setObjectName(QString::fromUtf8(name));
}

// v rounded to the nearest integer, clamped to the range of int (0 for NaN).
int myRoundToInt(double v);

#endif
