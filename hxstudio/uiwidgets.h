// Design widgets and form nodes, both ways: the live client widgets of the design surface are
// built from the nodes of a .ui file and read back into nodes, so that what the surface shows
// is what the file holds. uiCapture(uiBuild(n)) == n for every node the studio writes.
#ifndef HXSTUDIO_UIWIDGETS_H
#define HXSTUDIO_UIWIDGETS_H

#include <QPalette>

#include "uiform.h"

class QWidget;

// The palette roles that hold a design widget's foreground and background by its kind
// (buttons use the button roles, editors the base role).
QPalette::ColorRole uiForegroundRole(const QWidget* w);
QPalette::ColorRole uiBackgroundRole(const QWidget* w);
// The text a design widget shows: a label's or line edit's text, a button's text, a group
// box's title; "" (and no effect) for other kinds.
QString uiWidgetText(const QWidget* w);
void uiSetWidgetText(QWidget* w, const QString& text);

// Builds the design widget of a node (the My... client widget of its kind, with a null
// connection and id 0) and its children, as a child of parent. A node whose class the studio
// cannot show becomes a plain frame tagged as it is, and *warning (when given) says which and
// why; its properties are kept. Null only for a null parent.
QWidget* uiBuild(const UiNode& n, QWidget* parent, QString* warning = nullptr);
// Sets a design widget's own properties (not its children) to those of a node of its kind.
void uiApply(QWidget* w, const UiNode& n);
// The node of a design widget; with children, its design children too (pages of tab
// widgets and tool boxes in their order, other children in stacking order).
UiNode uiCapture(const QWidget* w, bool withChildren = true);
// The design children of a widget in the order uiCapture lists them (pages of a tab widget
// or tool box: their pages; other widgets: child widgets tagged by the studio, bottom first).
QVector<QWidget*> uiDesignChildren(const QWidget* w);

// A whole mask: the root (a QWidget of the mask's size) and the form around it.
UiForm uiCaptureForm(const QWidget* root, const QString& formClass);
// Builds the children of the form's root under root and sizes root; warnings as above, one
// line each.
void uiBuildForm(const UiForm& f, QWidget* root, QString* warnings = nullptr);

#endif
