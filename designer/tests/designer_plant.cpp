// Lays out the plant mask in Qt Designer's own form editor, as an engineer does with the mouse
// (widgets from the widget box, properties in the property editor, tags and files through the
// plug-in's task menu), and saves it with Designer's writer: designer_plant FILE.ui. The studio's
// end-to-end test builds and runs what it writes.
#include <QFile>
#include <cstdio>
#include <cstdlib>

#include "formeditor.h"

namespace {

FormEditor* theFormEditor = nullptr;

void edit(FormEditor& fe, QWidget* w, const QString& attribute, const QString& tag) {
  if (!fe.editAttributes(w, attribute, tag)) {
    fprintf(stderr, "designer_plant: %s has no otkit task menu\n", qPrintable(w->objectName()));
    exit(1);
  }
}

}  // namespace

FormEditor& formEditor() {
  return *theFormEditor;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: designer_plant FILE.ui\n");
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("QT_PLUGIN_PATH", HXC_PLUGIN_ROOT, 1);
  QApplication app(argc, argv);
  FormEditor fe;
  theFormEditor = &fe;
  QDesignerFormWindowInterface* fw = fe.open(
      "<ui version=\"4.0\"><class>Plant</class><widget class=\"QWidget\" name=\"Plant\">"
      "<property name=\"geometry\"><rect><x>0</x><y>0</y><width>520</width><height>360</height>"
      "</rect></property></widget></ui>");
  QDesignerFormWindowCursorInterface* c = fw->cursor();
  c->setWidgetProperty(fw->mainContainer(), "windowTitle", "Plant (Designer)");

  QWidget* title = fe.add(fw, "QLabel", "title", QRect(10, 10, 300, 28));
  QFont font("DejaVu Sans", 14);
  font.setBold(true);
  c->setWidgetProperty(title, "font", font);
  c->setWidgetProperty(title, "text", "Tank & pump");

  // A dash is no C identifier: the generator mends the name.
  QWidget* value = fe.add(fw, "QLabel", "sine-value", QRect(10, 50, 200, 28));
  QPalette yellow;
  yellow.setColor(QPalette::Window, QColor(255, 255, 0));
  c->setWidgetProperty(value, "palette", yellow);
  edit(fe, value, QString(), "sine60");

  QWidget* level = fe.add(fw, "QwtThermo", "level", QRect(230, 50, 60, 220));
  c->setWidgetProperty(level, "upperBound", 1000.0);
  edit(fe, level, QString(), "sine60");

  QWidget* knob = fe.add(fw, "QwtKnob", "knob", QRect(300, 50, 100, 100));
  c->setWidgetProperty(knob, "upperBound", 1000.0);
  edit(fe, knob, QString(), "setpoint");

  QWidget* setpoint = fe.add(fw, "QSlider", "setpoint", QRect(10, 290, 280, 24));
  c->setWidgetProperty(setpoint, "maximum", 1000);
  c->setWidgetProperty(setpoint, "orientation", QVariant::fromValue(Qt::Horizontal));
  edit(fe, setpoint, QString(), "setpoint");

  QWidget* picture = fe.add(fw, "HxcDraw", "picture", QRect(300, 160, 200, 150));
  edit(fe, picture, "tank.svg", QString());

  QFile out(QString::fromLocal8Bit(argv[1]));
  if (!out.open(QIODevice::WriteOnly) || out.write(fw->contents().toUtf8()) < 0) {
    fprintf(stderr, "designer_plant: %s: %s\n", argv[1], qPrintable(out.errorString()));
    return 1;
  }
  return 0;
}
