// A mask as a Qt Designer form: the widget tree of a .ui file with its properties, read and
// written without building a widget. The studio, the code generator and the tests share it;
// a file that Qt Designer wrote reads the same way as one the studio wrote.
//
// What the studio does not know (layouts, items, connections, properties of types it does not
// edit) is kept as XML text and written back unchanged, so that a form made in Qt Designer
// loses nothing by passing through the studio.
#ifndef HXSTUDIO_UIFORM_H
#define HXSTUDIO_UIFORM_H

#include <QByteArray>
#include <QPair>
#include <QRect>
#include <QString>
#include <QVector>

// One <property> (or <attribute>) of a widget.
struct UiProperty {
  QString name;
  // The element inside the property: "string", "number", "double", "bool", "enum", "set",
  // "cstring", "rect", "size", "font", "color", "palette"; "raw" for any other (raw holds it).
  QString type;
  QString text;  // the value of a scalar type
  // Compound types, in file order: rect x, y, width, height; size width, height; font
  // family, pointsize, weight, italic, bold, underline, strikeout (those present); color red,
  // green, blue; palette one entry per colour role set in the active group, value "r,g,b".
  QVector<QPair<QString, QString>> fields;
  bool stdset = true;  // false for a dynamic property (stdset="0")
  QString raw;         // the element's XML for type "raw"

  QString field(const QString& key) const;  // "" when absent
  void setField(const QString& key, const QString& value);
  bool operator==(const UiProperty& o) const;
  bool operator!=(const UiProperty& o) const { return !(*this == o); }
};

struct UiNode {
  QString className;  // "QLabel", "QwtThermo", "HxcDraw", ...
  QString name;       // the object name
  QVector<UiProperty> properties;
  QVector<UiProperty> attributes;  // a page's "title" (tab widget) or "label" (tool box)
  QVector<UiNode> children;        // child widgets, bottom of the stack first
  QString extraXml;  // other child elements of the widget (layout, item, row, column, ...)

  const UiProperty* property(const QString& name) const;
  const UiProperty* attribute(const QString& name) const;
  // Replaces the property of that name or appends it.
  void setProperty(const UiProperty& p);
  void removeProperty(const QString& name);
  // Scalar helpers: "" when absent.
  QString text(const QString& propertyName) const;
  QRect geometry() const;  // the "geometry" rect, an empty rect when absent
  // The type tag and markers (the statusTip property), for example "TQLabel:font:".
  QString statusTip() const { return text("statusTip"); }
  bool operator==(const UiNode& o) const;
  bool operator!=(const UiNode& o) const { return !(*this == o); }
};

struct UiCustomWidget {
  QString className, extends, header;
};

struct UiForm {
  QString formClass;                      // the <class> of the form, the mask's name ("mask1")
  UiNode root;                            // the mask's top widget (a QWidget)
  QVector<UiCustomWidget> customWidgets;  // as read; writing lists the classes in use
  QString extraXml;                       // other elements of <ui> (resources, connections, ...)
};

// Reads a .ui text. 0, or -1 with *error "line N: reason" (not XML, not a form, a widget
// without a class).
int uiParse(const QByteArray& xml, UiForm* out, QString* error);
int uiLoad(const QString& path, UiForm* out, QString* error);
// The .ui text as Qt Designer would write it: version 4.0, properties in the order held,
// the custom-widget section for the non-Qt classes in use. uiParse(uiFormat(f)) == f (apart
// from the custom-widget list, which is rebuilt).
QByteArray uiFormat(const UiForm& f);
// Writes atomically (a temporary file renamed over path), so that a crash leaves the old or
// the new file, never half of one. 0, or -1 and *error.
int uiSave(const QString& path, const UiForm& f, QString* error);

// Property builders.
UiProperty uiString(const QString& name, const QString& value);
UiProperty uiNumber(const QString& name, int value);
UiProperty uiBool(const QString& name, bool value);
UiProperty uiEnum(const QString& name, const QString& value);
UiProperty uiRect(const QString& name, const QRect& r);
UiProperty uiSize(const QString& name, int w, int h);

// Visits every node of the tree, depth first, parents before children.
template <typename F>
void uiForEach(const UiNode& n, F f) {
  f(n);
  for (const UiNode& c : n.children)
    uiForEach(c, f);
}

#endif
