#include "uiforeign.h"

#include <QXmlStreamReader>

#include "studiokinds.h"

QString UiForeign::text() const {
  QString with =
      inside > 0
          ? QString(" (with the %1 widget%2 inside it)").arg(inside).arg(inside == 1 ? "" : "s")
          : QString();
  if (why == InALayout)
    return QString(
               "widget %1 (%2) sits in a layout of %3: the display client places widgets by "
               "their geometry alone, so the studio does not show it%4 and the server leaves it "
               "out (the file keeps it); break the layout in Qt Designer to place it")
        .arg(name, className, layoutOf, with);
  return QString(
             "widget %1: class %2 is not a widget of the display client: the studio keeps it as "
             "it is%3 and shows a frame, the server leaves it out")
      .arg(name, className, with);
}

void uiAdoptDesignerClasses(UiNode* n) {
  if (n->className == QLatin1String("Line")) {
    n->className = "QFrame";
    const bool vertical = n->text("orientation").endsWith("Vertical");
    n->removeProperty("orientation");
    n->setProperty(uiEnum("frameShape", vertical ? "QFrame::VLine" : "QFrame::HLine"));
    if (!n->property("frameShadow")) n->setProperty(uiEnum("frameShadow", "QFrame::Sunken"));
  }
  for (UiNode& c : n->children)
    uiAdoptDesignerClasses(&c);
}

namespace {

int countWidgets(const UiNode& n) {
  int count = 0;
  uiForEach(n, [&](const UiNode&) { count++; });
  return count - 1;
}

// The widgets that the layouts among a node's other elements hold, each with the number of
// widgets inside it.
void laidOut(const UiNode& n, QVector<UiForeign>* out) {
  if (!n.extraXml.contains(QLatin1String("<layout"))) return;
  QXmlStreamReader xml("<extra>" + n.extraXml + "</extra>");
  int layouts = 0;      // open <layout> elements
  int widgetDepth = 0;  // open <widget> elements below the first one in a layout
  while (!xml.atEnd()) {
    xml.readNext();
    if (xml.isStartElement()) {
      if (xml.name() == QLatin1String("layout")) {
        layouts++;
      } else if (xml.name() == QLatin1String("widget") && layouts > 0) {
        if (widgetDepth == 0) {
          UiForeign f;
          f.name = xml.attributes().value("name").toString();
          f.className = xml.attributes().value("class").toString();
          f.why = UiForeign::InALayout;
          f.layoutOf = n.name;
          out->append(f);
        } else {
          out->last().inside++;
        }
        widgetDepth++;
      }
    } else if (xml.isEndElement()) {
      if (xml.name() == QLatin1String("layout"))
        layouts--;
      else if (xml.name() == QLatin1String("widget") && widgetDepth > 0)
        widgetDepth--;
    }
  }
}

bool foreignClass(const UiNode& n) {
  return !studioKindByTag(n.statusTip()) && !studioKindByClass(n.className);
}

void visit(const UiNode& n, QVector<UiForeign>* out) {
  for (const UiNode& c : n.children) {
    out->append(uiForeignOf(c));
    if (!foreignClass(c)) visit(c, out);
  }
}

}  // namespace

QVector<UiForeign> uiForeignOf(const UiNode& n) {
  QVector<UiForeign> out;
  if (foreignClass(n)) {
    UiForeign f;
    f.name = n.name;
    f.className = n.className;
    f.inside = countWidgets(n);
    out.append(f);
  } else {
    laidOut(n, &out);
  }
  return out;
}

QVector<UiForeign> uiForeignWidgets(const UiNode& root) {
  QVector<UiForeign> out;
  laidOut(root, &out);
  visit(root, &out);
  return out;
}
