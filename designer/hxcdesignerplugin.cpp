#include "hxcdesignerplugin.h"

#include <QtDesigner/QDesignerDynamicPropertySheetExtension>
#include <QtDesigner/QDesignerFormEditorInterface>
#include <QtDesigner/QDesignerFormWindowCursorInterface>
#include <QtDesigner/QDesignerFormWindowInterface>
#include <QtDesigner/QDesignerPropertySheetExtension>
#include <QtDesigner/QDesignerWidgetDataBaseInterface>
#include <QtDesigner/QExtensionManager>
#include <QtDesigner/private/qdesigner_utils_p.h>
#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QUndoStack>

#include "attributesdialog.h"
#include "hxcwidgets.h"
#include "ottagtable.h"
#include "studiokinds.h"

namespace HxcDesignerPlugin {

namespace {

template <typename W>
QWidget* make(QWidget* parent) {
  return new W(parent);
}

const WidgetDescription kDraw = {
    "HxcDraw",
    HXC_PIXMAP_DRAW,
    "Drawing area of the display client",
    "Stands for the client's drawing widget (QDrawWidget): the display server paints it with "
    "drawing commands or plays an SVG file on it. The SVG file is its attribute (Edit otkit "
    "attributes...).",
    240,
    160,
    make<HxcDraw>};
const WidgetDescription kImage = {
    "HxcImage",
    HXC_PIXMAP_IMAGE,
    "Image of the display client",
    "Stands for the client's image widget (QImageWidget): it shows the image file that is its "
    "attribute (Edit otkit attributes...), or the images the display server sends.",
    160,
    120,
    make<HxcImage>};
const WidgetDescription kOpengl = {
    "HxcOpengl",
    HXC_PIXMAP_OPENGL,
    "OpenGL view of the display client",
    "Stands for the client's OpenGL widget (HxGLWidget): the display server draws into it with "
    "an OpenGL stream.",
    240,
    180,
    make<HxcOpengl>};
const WidgetDescription kVtk = {
    "HxcVtk",
    HXC_PIXMAP_VTK,
    "VTK view of the display client",
    "Stands for a VTK/Tcl view of the client. The client has no VTK with Tcl: it shows a "
    "framed placeholder in its place and prints the VTK commands the server sends.",
    240,
    180,
    make<HxcVtk>};
const WidgetDescription kIconview = {
    "HxcIconview",
    HXC_PIXMAP_ICONVIEW,
    "Icon view of the display client",
    "Stands for the client's icon view (MyIconView, a list in icon mode): the display server "
    "fills it with icons and their texts.",
    200,
    140,
    make<HxcIconview>};
const WidgetDescription kCustom = {
    "HxcCustomWidget",
    HXC_PIXMAP_CUSTOMWIDGET,
    "Widget of a display client's library",
    "Stands for a widget that a library of the display client brings. Its attribute (Edit otkit "
    "attributes...) names it as /library/type:arguments.",
    160,
    80,
    make<HxcCustomWidget>};

// The extension manager's dynamic property that says a factory is registered.
const char* const kInstalled = "_hxcTaskMenuFactory";

// The class a .ui file names for a widget of a form: Designer's own subclasses (of labels, tab
// widgets, ...) resolve to the class they stand for.
QString classNameOf(QDesignerFormEditorInterface* core, QObject* o) {
  if (core && core->widgetDataBase()) {
    QDesignerWidgetDataBaseInterface* db = core->widgetDataBase();
    const int i = db->indexOfObject(o, true);
    if (i >= 0 && db->item(i)) return db->item(i)->name();
  }
  return QString::fromLatin1(o->metaObject()->className());
}

}  // namespace

CustomWidgetInterface::CustomWidgetInterface(const WidgetDescription& d, QObject* parent)
    : QObject(parent), d_(d), icon_(QPixmap(QString::fromLatin1(d.pixmap))) {}

QString CustomWidgetInterface::includeFile() const {
  const StudioKind* k = studioKindByClass(d_.className);
  return k ? QString::fromLatin1(k->header) : QString();
}

void CustomWidgetInterface::initialize(QDesignerFormEditorInterface* core) {
  if (initialized_) return;
  initialized_ = true;
  TaskMenuFactory::install(core);
}

QString CustomWidgetInterface::domXml() const {
  return QString(
             "<ui language=\"c++\">\n"
             " <widget class=\"%1\" name=\"%2\">\n"
             "  <property name=\"geometry\">\n"
             "   <rect><x>0</x><y>0</y><width>%3</width><height>%4</height></rect>\n"
             "  </property>\n"
             " </widget>\n"
             "</ui>\n")
      .arg(d_.className, QString::fromLatin1(d_.className).mid(3).toLower())
      .arg(d_.width)
      .arg(d_.height);
}

DrawInterface::DrawInterface(QObject* parent) : CustomWidgetInterface(kDraw, parent) {}
ImageInterface::ImageInterface(QObject* parent) : CustomWidgetInterface(kImage, parent) {}
OpenglInterface::OpenglInterface(QObject* parent) : CustomWidgetInterface(kOpengl, parent) {}
VtkInterface::VtkInterface(QObject* parent) : CustomWidgetInterface(kVtk, parent) {}
IconviewInterface::IconviewInterface(QObject* parent) : CustomWidgetInterface(kIconview, parent) {}
HxcCustomWidgetDumInterface::HxcCustomWidgetDumInterface(QObject* parent)
    : CustomWidgetInterface(kCustom, parent) {}

CustomWidgetCollectionInterface::CustomWidgetCollectionInterface(QObject* parent)
    : QObject(parent) {
  widgets_ << new DrawInterface(this) << new ImageInterface(this) << new OpenglInterface(this)
           << new VtkInterface(this) << new IconviewInterface(this)
           << new HxcCustomWidgetDumInterface(this);
}

TaskMenuFactory::TaskMenuFactory(QDesignerFormEditorInterface* core, QExtensionManager* parent)
    : QExtensionFactory(parent), core_(core) {}

void TaskMenuFactory::install(QDesignerFormEditorInterface* core) {
  QExtensionManager* manager = core ? core->extensionManager() : nullptr;
  if (!manager || manager->property(kInstalled).toBool()) return;
  manager->setProperty(kInstalled, true);
  manager->registerExtensions(new TaskMenuFactory(core, manager),
                              Q_TYPEID(QDesignerTaskMenuExtension));
}

QObject* TaskMenuFactory::createExtension(QObject* object, const QString& iid,
                                          QObject* parent) const {
  if (iid != Q_TYPEID(QDesignerTaskMenuExtension)) return nullptr;
  auto* w = qobject_cast<QWidget*>(object);
  if (!w) return nullptr;
  const QString cls = classNameOf(core_, w);
  const StudioKind* k = studioKindByClass(cls);
  // Placeholders, and what the studio binds; the form's own top widget is no design widget.
  const bool placeholder = qobject_cast<HxcPlaceholder*>(w) != nullptr;
  const QDesignerFormWindowInterface* fw = QDesignerFormWindowInterface::findFormWindow(w);
  if (!placeholder && (!k || k->binding == 0 || (fw && fw->mainContainer() == w))) return nullptr;
  return new TaskMenuExtension(w, cls, parent);
}

TaskMenuExtension::TaskMenuExtension(QWidget* widget, const QString& className, QObject* parent)
    : QObject(parent), widget_(widget), className_(className) {
  action_ = new QAction(tr("Edit otkit attributes..."), this);
  connect(action_, &QAction::triggered, this, &TaskMenuExtension::editAttributes);
}

QAction* TaskMenuExtension::preferredEditAction() const {
  return action_;
}

QList<QAction*> TaskMenuExtension::taskActions() const {
  return {action_};
}

QDesignerFormWindowInterface* TaskMenuExtension::formWindow() const {
  return widget_ ? QDesignerFormWindowInterface::findFormWindow(widget_.data()) : nullptr;
}

Attributes TaskMenuExtension::current() const {
  Attributes a;
  if (!widget_) return a;
  a.attribute = hxcDesignerText(widget_, "whatsThis");
  a.tag = hxcDesignerText(widget_, HXC_TAG_PROPERTY);
  return a;
}

QStringList TaskMenuExtension::tagNames() const {
  QStringList names;
  QDesignerFormWindowInterface* fw = formWindow();
  if (!fw || fw->fileName().isEmpty()) return names;
  const QString path = QFileInfo(fw->fileName()).dir().filePath("tags.txt");
  otTagTable table;
  std::string error;
  // A missing or broken table only leaves the choice empty: any tag can still be typed.
  if (table.read(QFile::encodeName(path).constData(), &error) != 0) return names;
  for (const otTag& t : table.tags)
    names << QString::fromStdString(t.name);
  return names;
}

bool TaskMenuExtension::apply(const Attributes& a) {
  QDesignerFormWindowInterface* fw = formWindow();
  if (!fw || !widget_) return false;
  const Attributes now = current();
  const StudioKind* k = studioKindByClass(className_);
  const bool attributeChanged = !studioAttributeLabel(k).isEmpty() && a.attribute != now.attribute;
  const bool tagChanged = k && k->binding != 0 && a.tag.trimmed() != now.tag;
  if (!attributeChanged && !tagChanged) return true;
  QUndoStack* history = fw->commandHistory();
  history->beginMacro(tr("Edit otkit attributes of %1").arg(widget_->objectName()));
  // A file or library name, as Designer's own editor sets a string: not to be translated.
  if (attributeChanged)
    fw->cursor()->setWidgetProperty(
        widget_, "whatsThis",
        QVariant::fromValue(qdesigner_internal::PropertySheetStringValue(a.attribute, false)));
  if (tagChanged) {
    // A binding is a dynamic property: it has to exist in the property sheet before the cursor
    // can set it (undo then gives it back its empty value, which binds nothing).
    QExtensionManager* m = fw->core()->extensionManager();
    auto* sheet = qt_extension<QDesignerPropertySheetExtension*>(m, widget_.data());
    auto* dynamic = qt_extension<QDesignerDynamicPropertySheetExtension*>(m, widget_.data());
    if (sheet && dynamic && sheet->indexOf(HXC_TAG_PROPERTY) < 0)
      dynamic->addDynamicProperty(HXC_TAG_PROPERTY, QString());
    fw->cursor()->setWidgetProperty(
        widget_, HXC_TAG_PROPERTY,
        QVariant::fromValue(qdesigner_internal::PropertySheetStringValue(a.tag.trimmed(), false)));
  }
  history->endMacro();
  widget_->update();
  return true;
}

void TaskMenuExtension::editAttributes() {
  QDesignerFormWindowInterface* fw = formWindow();
  if (!fw || !widget_) return;
  const StudioKind* k = studioKindByClass(className_);
  AttributesDialog d(widget_->objectName(), className_, studioAttributeLabel(k),
                     k && k->binding != 0, fw);
  d.setFolder(fw->fileName().isEmpty() ? QString() : QFileInfo(fw->fileName()).absolutePath());
  d.setTagNames(tagNames());
  const Attributes now = current();
  d.setAttribute(now.attribute);
  d.setTag(now.tag);
  if (d.exec() != QDialog::Accepted) return;
  Attributes a;
  a.attribute = d.attribute();
  a.tag = d.tag();
  apply(a);
}

}  // namespace HxcDesignerPlugin
