// Where a form made in Qt Designer and the display client part: what of a form the client
// shows differently or cannot show at all. The studio and the code generator both read forms
// through this, so that they say the same about the same widget and keep the rest.
#ifndef HXSTUDIO_UIFOREIGN_H
#define HXSTUDIO_UIFOREIGN_H

#include <QString>
#include <QVector>

#include "uiform.h"

struct UiForeign {
  enum Why {
    NotAClientClass,  // a class the client has no widget of (kept as it is, shown as a frame)
    InALayout,        // a widget in a layout: the client places widgets by geometry alone
  };
  QString name, className;
  Why why = NotAClientClass;
  QString layoutOf;  // InALayout: the widget whose layout holds it
  int inside = 0;    // widgets inside it, which go with it

  // "widget NAME (CLASS): reason", one line.
  QString text() const;
};

// Designer's pseudo-classes in the client's terms, in place: a "Line" is a frame whose shape
// (HLine or VLine) follows its orientation, sunken unless it says otherwise.
void uiAdoptDesignerClasses(UiNode* n);
// What of one widget (not of its child widgets) the client cannot show: the widget itself, of
// a foreign class, with everything inside it; or the widgets its layouts hold.
QVector<UiForeign> uiForeignOf(const UiNode& n);
// Every widget of the tree below root that the client cannot show, parents before children; a
// widget of a foreign class or in a layout stands for everything inside it.
QVector<UiForeign> uiForeignWidgets(const UiNode& root);

#endif
