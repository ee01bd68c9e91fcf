// The Qt Designer plug-in of otkit: the client-only widgets as placeholders in Designer's
// widget box (group "otkit display client"), and a task menu, "Edit otkit attributes...", on
// the placeholders and on every widget that the studio can bind to a tag. The menu edits what
// the studio reads from a widget (the file or library of a placeholder, the tag binding) and
// writes it through the form window's cursor, so that Designer can undo it.
#ifndef DESIGNER_HXCDESIGNERPLUGIN_H
#define DESIGNER_HXCDESIGNERPLUGIN_H

#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>
#include <QtDesigner/QDesignerTaskMenuExtension>
#include <QtDesigner/QExtensionFactory>
#include <QIcon>
#include <QPointer>

class QAction;
class QDesignerFormEditorInterface;
class QDesignerFormWindowInterface;

// The group of Designer's widget box that holds the placeholders.
#define HXC_DESIGNER_GROUP "otkit display client"
// The dynamic property that binds a widget to a tag of the project's tag table.
#define HXC_TAG_PROPERTY "otkitTag"

namespace HxcDesignerPlugin {

// One placeholder class as Designer sees it.
struct WidgetDescription {
  const char* className;
  const char* pixmap;
  const char* toolTip;
  const char* whatsThis;
  int width, height;  // the size a new one gets
  QWidget* (*create)(QWidget* parent);
};

class CustomWidgetInterface : public QObject, public QDesignerCustomWidgetInterface {
  Q_OBJECT
  Q_INTERFACES(QDesignerCustomWidgetInterface)
 public:
  CustomWidgetInterface(const WidgetDescription& d, QObject* parent);

  QString name() const override { return d_.className; }
  QString group() const override { return HXC_DESIGNER_GROUP; }
  QString toolTip() const override { return d_.toolTip; }
  QString whatsThis() const override { return d_.whatsThis; }
  // The client's own header of the widget that takes the placeholder's place, as the studio
  // names it in a .ui file.
  QString includeFile() const override;
  QIcon icon() const override { return icon_; }
  bool isContainer() const override { return false; }
  QWidget* createWidget(QWidget* parent) override { return d_.create(parent); }
  bool isInitialized() const override { return initialized_; }
  // Gives the placeholders and the studio's bindable widgets their task menu in this core.
  void initialize(QDesignerFormEditorInterface* core) override;
  QString domXml() const override;

 private:
  WidgetDescription d_;
  QIcon icon_;
  bool initialized_ = false;
};

class DrawInterface : public CustomWidgetInterface {
  Q_OBJECT
 public:
  explicit DrawInterface(QObject* parent = nullptr);
};
class ImageInterface : public CustomWidgetInterface {
  Q_OBJECT
 public:
  explicit ImageInterface(QObject* parent = nullptr);
};
class OpenglInterface : public CustomWidgetInterface {
  Q_OBJECT
 public:
  explicit OpenglInterface(QObject* parent = nullptr);
};
class VtkInterface : public CustomWidgetInterface {
  Q_OBJECT
 public:
  explicit VtkInterface(QObject* parent = nullptr);
};
class IconviewInterface : public CustomWidgetInterface {
  Q_OBJECT
 public:
  explicit IconviewInterface(QObject* parent = nullptr);
};
class HxcCustomWidgetDumInterface : public CustomWidgetInterface {
  Q_OBJECT
 public:
  explicit HxcCustomWidgetDumInterface(QObject* parent = nullptr);
};

// The plug-in's entry object.
class CustomWidgetCollectionInterface : public QObject,
                                        public QDesignerCustomWidgetCollectionInterface {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QDesignerCustomWidgetCollectionInterface")
  Q_INTERFACES(QDesignerCustomWidgetCollectionInterface)
 public:
  explicit CustomWidgetCollectionInterface(QObject* parent = nullptr);
  QList<QDesignerCustomWidgetInterface*> customWidgets() const override { return widgets_; }

 private:
  QList<QDesignerCustomWidgetInterface*> widgets_;
};

// What the task menu edits of a widget; unset fields are left alone.
struct Attributes {
  QString attribute;  // the whatsThis text the studio reads (file, library)
  QString tag;        // the bound tag, "" for none
};

class TaskMenuFactory : public QExtensionFactory {
  Q_OBJECT
 public:
  TaskMenuFactory(QDesignerFormEditorInterface* core, QExtensionManager* parent);
  // Registers one factory with the core's extension manager (again is a no-op).
  static void install(QDesignerFormEditorInterface* core);

 protected:
  QObject* createExtension(QObject* object, const QString& iid, QObject* parent) const override;

 private:
  QDesignerFormEditorInterface* core_;
};

class TaskMenuExtension : public QObject, public QDesignerTaskMenuExtension {
  Q_OBJECT
  Q_INTERFACES(QDesignerTaskMenuExtension)
 public:
  // className is the widget's class as the .ui file names it.
  TaskMenuExtension(QWidget* widget, const QString& className, QObject* parent);
  QAction* preferredEditAction() const override;
  QList<QAction*> taskActions() const override;
  // What the widget carries now.
  Attributes current() const;
  // Writes what changed through the form window's cursor, as one undoable command. false
  // when the widget is in no form window.
  bool apply(const Attributes& a);
  // The tags of the tag table ("tags.txt") beside the form's file, for the choice of a binding.
  QStringList tagNames() const;

 public slots:
  // Opens the attributes dialog on the widget and applies what it gives.
  void editAttributes();

 private:
  QDesignerFormWindowInterface* formWindow() const;
  QPointer<QWidget> widget_;
  QString className_;
  QAction* action_;
};

}  // namespace HxcDesignerPlugin

#endif
