// Qt Designer's own form editor, headless: the core with every plug-in that Designer would
// load (ours from QT_PLUGIN_PATH, Qwt's from Qt's folder), and form windows that read and write
// .ui text with Designer's code. Shared by the plug-in's tests and the tool that lays out a mask
// the way an engineer does in Designer.
#ifndef DESIGNER_TESTS_FORMEDITOR_H
#define DESIGNER_TESTS_FORMEDITOR_H

#include <QtDesigner/QDesignerComponents>
#include <QtDesigner/QDesignerFormEditorInterface>
#include <QtDesigner/QDesignerFormWindowCursorInterface>
#include <QtDesigner/QDesignerFormWindowInterface>
#include <QtDesigner/QDesignerFormWindowManagerInterface>
#include <QtDesigner/QDesignerIntegration>
#include <QtDesigner/QDesignerWidgetDataBaseInterface>
#include <QtDesigner/QDesignerWidgetFactoryInterface>
#include <QtDesigner/QDesignerTaskMenuExtension>
#include <QtDesigner/QExtensionManager>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTimer>
#include <functional>

// One core for the process, as in Designer: a plug-in initialises its widgets once.
struct FormEditor {
  QDesignerFormEditorInterface* core = nullptr;
  QMainWindow* top = nullptr;

  FormEditor() {
    QDesignerComponents::initializeResources();
    core = QDesignerComponents::createFormEditor(nullptr);
    top = new QMainWindow;
    core->setTopLevel(top);
    core->setWidgetBox(QDesignerComponents::createWidgetBox(core, top));
    core->setPropertyEditor(QDesignerComponents::createPropertyEditor(core, top));
    core->setObjectInspector(QDesignerComponents::createObjectInspector(core, top));
    QDesignerComponents::createTaskMenu(core, top);
    new QDesignerIntegration(core, top);
    QDesignerComponents::initializePlugins(core);
  }
  ~FormEditor() {
    delete top;
    delete core;
  }
  FormEditor(const FormEditor&) = delete;
  FormEditor& operator=(const FormEditor&) = delete;

  // A form window holding the .ui text; fileName tells Designer where the form lives.
  QDesignerFormWindowInterface* open(const QString& ui, const QString& fileName = QString()) {
    QDesignerFormWindowInterface* fw = core->formWindowManager()->createFormWindow(top);
    if (!fileName.isEmpty()) fw->setFileName(fileName);
    fw->setContents(ui);
    core->formWindowManager()->setActiveFormWindow(fw);
    return fw;
  }
  // A widget of the form by object name.
  static QWidget* find(QDesignerFormWindowInterface* fw, const QString& name) {
    QWidget* root = fw->mainContainer();
    return root->objectName() == name ? root : root->findChild<QWidget*>(name);
  }
  // Designer's class of a widget of a form: "" for one it does not know, and the class it was
  // told of for a promoted stand-in (a class without a plug-in).
  QString className(QWidget* w, bool* promoted = nullptr) const {
    QDesignerWidgetDataBaseInterface* db = core->widgetDataBase();
    const int i = db->indexOfObject(w, true);
    if (promoted) *promoted = i >= 0 && db->item(i)->isPromoted();
    return i >= 0 ? db->item(i)->name() : QString();
  }
  // The task menu Designer offers on a widget; null for none.
  QDesignerTaskMenuExtension* taskMenu(QWidget* w) const {
    return qt_extension<QDesignerTaskMenuExtension*>(core->extensionManager(), w);
  }
  // Runs a task menu's first action, as a click in Designer's context menu does, and answers
  // the dialog it opens: fill (when given) edits its fields, then OK (Cancel when !ok). Whether
  // a dialog came.
  static bool runTaskMenu(QDesignerTaskMenuExtension* ext, std::function<void(QDialog*)> fill,
                          bool ok = true) {
    if (!ext || ext->taskActions().isEmpty()) return false;
    bool saw = false;
    QTimer::singleShot(0, [&] {
      auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (!d) return;
      saw = true;
      if (fill) fill(d);
      auto* box = d->findChild<QDialogButtonBox*>("buttons");
      box->button(ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
    });
    ext->taskActions().first()->trigger();
    return saw;
  }
  // A widget's "Edit otkit attributes..." as an engineer uses it: the attribute and the tag
  // typed into the dialog where not null, then OK. Whether the menu and its dialog came.
  bool editAttributes(QWidget* w, const QString& attribute, const QString& tag) const {
    return runTaskMenu(taskMenu(w), [&](QDialog* d) {
      if (!attribute.isNull()) d->findChild<QLineEdit*>("attribute")->setText(attribute);
      if (!tag.isNull()) d->findChild<QComboBox*>("tag")->setEditText(tag);
    });
  }
  // A new widget of a class laid on the form as Designer's widget box drops it.
  QWidget* add(QDesignerFormWindowInterface* fw, const QString& cls, const QString& name,
               const QRect& g, QWidget* parent = nullptr) {
    QWidget* p = parent ? parent : fw->mainContainer();
    QWidget* w = core->widgetFactory()->createWidget(cls, p);
    w->setObjectName(name);
    w->setGeometry(g);
    fw->manageWidget(w);
    return w;
  }
};

// The process's form editor, made by the test program's main after the application.
FormEditor& formEditor();

#endif
