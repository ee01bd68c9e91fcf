// The Qt Designer plug-in as Designer meets it: found by its metadata, its six placeholders
// with their icons and default forms, QUiLoader and uic on a form that uses them, and the task
// menu found through Designer's own form editor, writing through the cursor so that Designer
// can undo it.
#include <gtest/gtest.h>

#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <QtDesigner/QDesignerTaskMenuExtension>
#include <QtDesigner/QExtensionManager>
#include <QtDesigner/private/qdesigner_utils_p.h>
#include <QtDesigner/QDesignerPropertySheetExtension>
#include <QtUiTools/QUiLoader>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPluginLoader>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUndoStack>
#include <QXmlStreamReader>
#include <functional>

#include "../../widgets/tests/qtlsan.h"
#include "formeditor.h"

namespace {

const QStringList kClasses = {"HxcDraw", "HxcImage",    "HxcOpengl",
                              "HxcVtk",  "HxcIconview", "HxcCustomWidget"};
const char* const kHeaders[] = {"qdrawwidget.h", "qimagewidget.h", "hxglwidget.h",
                                "mywidgets.h",   "mywidgets.h",    "mywidgets.h"};

QString readAll(const QString& path) {
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
  return QString::fromUtf8(f.readAll());
}

QDesignerCustomWidgetCollectionInterface* collection() {
  static QPluginLoader loader(HXC_PLUGIN);
  return qobject_cast<QDesignerCustomWidgetCollectionInterface*>(loader.instance());
}

// Pixels of an image that differ from c by more than a small tolerance.
int pixelsUnlike(const QImage& img, const QRect& r, QColor c) {
  int n = 0;
  for (int y = r.top(); y <= r.bottom(); y++)
    for (int x = r.left(); x <= r.right(); x++) {
      const QColor p = img.pixelColor(x, y);
      if (qAbs(p.red() - c.red()) + qAbs(p.green() - c.green()) + qAbs(p.blue() - c.blue()) > 48)
        n++;
    }
  return n;
}

// A property as Designer holds it for the form (whatsThis stays in its property sheet, texts
// as Designer's own string values).
QString held(FormEditor& fe, QWidget* w, const char* name) {
  auto* sheet = qt_extension<QDesignerPropertySheetExtension*>(fe.core->extensionManager(), w);
  const int i = sheet ? sheet->indexOf(name) : -1;
  if (i < 0) return QString("(none)");
  const QVariant v = sheet->property(i);
  if (v.canConvert<qdesigner_internal::PropertySheetStringValue>())
    return v.value<qdesigner_internal::PropertySheetStringValue>().value();
  return v.toString();
}

FormEditor* theFormEditor = nullptr;

}  // namespace

FormEditor& formEditor() {
  return *theFormEditor;
}

TEST(DesignerPlugin, DesignerFindsTheCollectionAndItsSixPlaceholders) {
  QPluginLoader loader(HXC_PLUGIN);
  EXPECT_EQ(loader.metaData().value("IID").toString(),
            "org.qt-project.Qt.QDesignerCustomWidgetCollectionInterface");
  QDesignerCustomWidgetCollectionInterface* c = collection();
  ASSERT_NE(c, nullptr) << loader.errorString().toStdString();
  const QList<QDesignerCustomWidgetInterface*> widgets = c->customWidgets();
  ASSERT_EQ(widgets.size(), 6);
  for (int i = 0; i < widgets.size(); i++) {
    QDesignerCustomWidgetInterface* w = widgets[i];
    SCOPED_TRACE(w->name().toStdString());
    EXPECT_EQ(w->name(), kClasses[i]);
    EXPECT_EQ(w->group(), "otkit display client");
    EXPECT_EQ(w->includeFile(), kHeaders[i]);
    EXPECT_FALSE(w->toolTip().isEmpty());
    EXPECT_TRUE(w->whatsThis().contains("client"));
    EXPECT_FALSE(w->icon().isNull());
    EXPECT_FALSE(w->isContainer());

    QXmlStreamReader xml(w->domXml());
    ASSERT_TRUE(xml.readNextStartElement());
    EXPECT_EQ(xml.name(), QLatin1String("ui"));
    ASSERT_TRUE(xml.readNextStartElement());
    EXPECT_EQ(xml.name(), QLatin1String("widget"));
    EXPECT_EQ(xml.attributes().value("class").toString(), w->name());
    while (!xml.atEnd())
      xml.readNext();
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_TRUE(w->domXml().contains("<width>"));

    std::unique_ptr<QWidget> made(w->createWidget(nullptr));
    ASSERT_TRUE(made);
    EXPECT_TRUE(made->inherits(w->name().toLatin1().constData()));
    auto* label = qobject_cast<QLabel*>(made.get());
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->frameShape(), QFrame::Box);
    const QPixmap icon(":/pixmaps/" + w->name().toLower() + ".png");
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(label->pixmap(Qt::ReturnByValue).toImage(), icon.toImage());

    // The icon is painted in the middle; a caption (its whatsThis) along the bottom.
    label->resize(200, 150);
    const QColor back = label->palette().color(QPalette::Window);
    const QImage plain = label->grab().toImage();
    EXPECT_GT(pixelsUnlike(plain, QRect(84, 59, 32, 32), back), 100);
    const QRect bottom(10, 130, 180, 16);
    EXPECT_EQ(pixelsUnlike(plain, bottom, back), 0);
    label->setWhatsThis("tank.svg");
    EXPECT_GT(pixelsUnlike(label->grab().toImage(), bottom, back), 10);
  }
}

TEST(DesignerPlugin, UiLoaderAndUicTakeAFormWithThePlaceholders) {
  QUiLoader loader;
  loader.addPluginPath(HXC_PLUGIN_DIR);
  const QStringList available = loader.availableWidgets();
  for (const QString& c : kClasses)
    EXPECT_TRUE(available.contains(c)) << c.toStdString();
  QFile file(HXC_TEST_DATA "/placeholders.ui");
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  std::unique_ptr<QWidget> form(loader.load(&file));
  ASSERT_TRUE(form) << loader.errorString().toStdString();
  const QStringList names = {"drawing", "picture", "scene", "volume", "icons", "gauge"};
  for (int i = 0; i < names.size(); i++) {
    QWidget* w = form->findChild<QWidget*>(names[i]);
    ASSERT_NE(w, nullptr) << names[i].toStdString();
    EXPECT_TRUE(w->inherits(kClasses[i].toLatin1().constData())) << w->metaObject()->className();
  }
  EXPECT_EQ(form->findChild<QWidget*>("drawing")->whatsThis(), "tank.svg");
  EXPECT_EQ(form->findChild<QWidget*>("value")->property("otkitTag").toString(), "sine60");
  // Qwt's own plug-in, from Qt's folder, gives the real thermometer.
  EXPECT_TRUE(form->findChild<QWidget*>("level")->inherits("QwtThermo"));

  QProcess uic;
  uic.start(HXC_UIC, {HXC_TEST_DATA "/placeholders.ui"});
  ASSERT_TRUE(uic.waitForFinished(30000));
  EXPECT_EQ(uic.exitCode(), 0) << uic.readAllStandardError().toStdString();
  const QString code = QString::fromUtf8(uic.readAllStandardOutput());
  for (int i = 0; i < kClasses.size(); i++) {
    EXPECT_TRUE(code.contains(QString("#include \"%1\"").arg(kHeaders[i]))) << kHeaders[i];
    EXPECT_TRUE(code.contains("new " + kClasses[i] + "(")) << kClasses[i].toStdString();
  }
}

TEST(DesignerPlugin, TaskMenuEditsThroughTheFormWindowCursorAndDesignerUndoesIt) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QFile tags(dir.filePath("tags.txt"));
  ASSERT_TRUE(tags.open(QIODevice::WriteOnly));
  tags.write(
      "sine60 demo.h 1 0 short 1 0 - - -\n"
      "level  demo.h 1 1 short 0.1 0 \"m\" - -\n");
  tags.close();
  FormEditor& fe = formEditor();
  QDesignerFormWindowInterface* fw =
      fe.open(readAll(HXC_TEST_DATA "/placeholders.ui"), dir.filePath("mask1.ui"));
  QWidget* picture = FormEditor::find(fw, "picture");
  QWidget* value = FormEditor::find(fw, "value");
  ASSERT_TRUE(picture && value);

  // Placeholders and what the studio binds have the menu; a group box or the form has none.
  QDesignerTaskMenuExtension* onPicture = fe.taskMenu(picture);
  ASSERT_NE(onPicture, nullptr);
  ASSERT_EQ(onPicture->taskActions().size(), 1);
  EXPECT_EQ(onPicture->taskActions()[0]->text(), "Edit otkit attributes...");
  for (const char* name : {"scene", "volume", "icons", "gauge", "drawing"})
    EXPECT_NE(fe.taskMenu(FormEditor::find(fw, name)), nullptr) << name;
  EXPECT_NE(fe.taskMenu(FormEditor::find(fw, "level")), nullptr);
  EXPECT_EQ(fe.taskMenu(fw->mainContainer()), nullptr);

  // The attribute, through the dialog and the cursor: one command in Designer's history.
  QUndoStack* history = fw->commandHistory();
  const int before = history->index();
  EXPECT_TRUE(FormEditor::runTaskMenu(onPicture, [](QDialog* d) {
    EXPECT_EQ(d->findChild<QComboBox*>("tag"), nullptr);  // a placeholder binds no tag
    ASSERT_NE(d->findChild<QPushButton*>("browse"), nullptr);
    d->findChild<QLineEdit*>("attribute")->setText("pump.png");
  }));
  EXPECT_EQ(held(fe, picture, "whatsThis"), "pump.png");
  EXPECT_TRUE(fw->contents().contains("<string notr=\"true\">pump.png</string>"));
  // The placeholder shows it as Designer holds it, as the drawing shows the file it was read with.
  const QRect caption(10, picture->height() - 18, picture->width() - 20, 14);
  const QColor back = picture->palette().color(QPalette::Window);
  EXPECT_GT(pixelsUnlike(picture->grab().toImage(), caption, back), 10);
  QWidget* drawing = FormEditor::find(fw, "drawing");
  EXPECT_GT(pixelsUnlike(drawing->grab().toImage(),
                         QRect(10, drawing->height() - 18, drawing->width() - 20, 14), back),
            10);
  EXPECT_EQ(history->index(), before + 1);
  history->undo();
  EXPECT_EQ(held(fe, picture, "whatsThis"), "");
  history->redo();
  EXPECT_EQ(held(fe, picture, "whatsThis"), "pump.png");

  // A tag is chosen from the table beside the form.
  EXPECT_TRUE(FormEditor::runTaskMenu(fe.taskMenu(value), [](QDialog* d) {
    EXPECT_EQ(d->findChild<QLineEdit*>("attribute"), nullptr);  // a label reads no file
    auto* tag = d->findChild<QComboBox*>("tag");
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(tag->currentText(), "sine60");
    ASSERT_NE(tag->findText("level"), -1);
    tag->setCurrentIndex(tag->findText("level"));
  }));
  EXPECT_EQ(value->property("otkitTag").toString(), "level");
  history->undo();
  EXPECT_EQ(value->property("otkitTag").toString(), "sine60");

  // A widget that never had a binding gets the dynamic property; undo leaves it unbound.
  QWidget* fresh = fe.add(fw, "QSlider", "setpoint", QRect(140, 370, 120, 24));
  EXPECT_TRUE(FormEditor::runTaskMenu(fe.taskMenu(fresh), [](QDialog* d) {
    d->findChild<QComboBox*>("tag")->setEditText("level");
  }));
  EXPECT_EQ(fresh->property("otkitTag").toString(), "level");
  EXPECT_TRUE(fw->contents().contains("<property name=\"otkitTag\" stdset=\"0\">"));
  history->undo();
  EXPECT_EQ(fresh->property("otkitTag").toString(), "");

  // A cancelled dialog, or one that changes nothing, leaves no command.
  const int at = history->index();
  EXPECT_TRUE(FormEditor::runTaskMenu(
      onPicture, [](QDialog* d) { d->findChild<QLineEdit*>("attribute")->setText("x.png"); },
      false));
  EXPECT_TRUE(FormEditor::runTaskMenu(onPicture, nullptr));
  EXPECT_EQ(history->index(), at);
  EXPECT_EQ(held(fe, picture, "whatsThis"), "pump.png");
}

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // Designer's form editor finds its plug-ins (ours among them) under QT_PLUGIN_PATH.
  setenv("QT_PLUGIN_PATH", HXC_PLUGIN_ROOT, 1);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  FormEditor editor;
  theFormEditor = &editor;
  return RUN_ALL_TESTS();
}
