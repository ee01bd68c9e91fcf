// Masks as Qt Designer forms: a file written the way Qt Designer writes it reads into the
// tree, writes back to a text that reads the same and that uic accepts, and malformed or hostile
// files are refused with a line and a reason.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "studiokinds.h"
#include "uiforeign.h"
#include "uiform.h"

namespace {

UiForm designerForm() {
  UiForm f;
  QString error;
  EXPECT_EQ(uiLoad(HX_TEST_DATA "/designer_mask.ui", &f, &error), 0) << error.toStdString();
  return f;
}

TEST(UiForm, ReadsWhatQtDesignerWrites) {
  UiForm f = designerForm();
  EXPECT_EQ(f.formClass, "PlantForm");
  EXPECT_EQ(f.root.className, "QWidget");
  EXPECT_EQ(f.root.geometry(), QRect(0, 0, 480, 320));
  ASSERT_EQ(f.root.children.size(), 5);
  const UiNode& label = f.root.children[0];
  EXPECT_EQ(label.className, "QLabel");
  EXPECT_EQ(label.text("text"), "Level & flow");
  const UiProperty* font = label.property("font");
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(font->field("family"), "DejaVu Sans");
  EXPECT_EQ(font->field("weight"), "75");
  const UiProperty* tag = label.property(STUDIO_TAG_PROPERTY);
  ASSERT_NE(tag, nullptr);
  EXPECT_FALSE(tag->stdset);
  EXPECT_EQ(tag->text, "sine60");
  EXPECT_EQ(f.root.children[1].text("alarmLevel"), "80.000000000000000");
  EXPECT_EQ(f.root.children[2].text("orientation"), "Qt::Horizontal");
  EXPECT_EQ(studioKindByClass(f.root.children[3].className)->tag, QString("TQDraw:"));
  // The combo box's items are not the studio's business, but they survive.
  EXPECT_TRUE(f.root.children[4].extraXml.contains("manual"));
  EXPECT_EQ(f.customWidgets.size(), 2);
}

TEST(UiForm, WritesWhatItReadsAndUicAccepts) {
  UiForm f = designerForm();
  const QByteArray once = uiFormat(f);
  UiForm again;
  QString error;
  ASSERT_EQ(uiParse(once, &again, &error), 0) << error.toStdString();
  EXPECT_TRUE(again.root == f.root);
  EXPECT_EQ(uiFormat(again), once);
  EXPECT_TRUE(once.contains("<string notr=\"true\">sine60</string>"));
  EXPECT_TRUE(once.contains("Level &amp; flow"));

  QTemporaryDir dir;
  const QString path = dir.filePath("mask1.ui");
  ASSERT_EQ(uiSave(path, f, &error), 0) << error.toStdString();
  QProcess uic;
  uic.start(HX_UIC, {path});
  ASSERT_TRUE(uic.waitForFinished(30000));
  EXPECT_EQ(uic.exitCode(), 0) << uic.readAllStandardError().toStdString();
  const QByteArray code = uic.readAllStandardOutput();
  EXPECT_TRUE(code.contains("#include \"qwt_thermo.h\"")) << code.left(400).toStdString();
  EXPECT_TRUE(code.contains("new HxcDraw(PlantForm)"));
  EXPECT_TRUE(code.contains("manual"));
}

TEST(UiForm, RefusesBadFilesWithAReason) {
  UiForm f;
  QString error;
  EXPECT_EQ(uiParse("hello", &f, &error), -1);
  EXPECT_TRUE(error.contains("not a Qt Designer form")) << error.toStdString();
  EXPECT_EQ(uiParse("<ui version=\"4.0\"><class>x</class></ui>", &f, &error), -1);
  EXPECT_TRUE(error.contains("no widget")) << error.toStdString();
  EXPECT_EQ(uiParse("<ui>\n<widget name=\"a\"></widget></ui>", &f, &error), -1);
  EXPECT_EQ(error, "line 2: a widget without a class");
  EXPECT_EQ(uiParse("<ui><widget class=\"QWidget\" name=\"a\"><property name=\"x\">", &f, &error),
            -1);
  // Nesting without end is refused, not followed.
  QByteArray deep = "<ui>";
  for (int i = 0; i < 100; i++)
    deep += "<widget class=\"QWidget\" name=\"w\">";
  EXPECT_EQ(uiParse(deep, &f, &error), -1);
  EXPECT_TRUE(error.contains("deeper than 64")) << error.toStdString();
}

TEST(UiForeign, NamesWhatTheClientCannotShowWithWhatItHolds) {
  UiForm f;
  QString error;
  ASSERT_EQ(uiLoad(HX_FUZZ_CORPUS "/studiogen/travel.ui", &f, &error), 0) << error.toStdString();
  uiAdoptDesignerClasses(&f.root);
  const UiNode& rule = f.root.children[0];
  EXPECT_EQ(rule.className, "QFrame");
  EXPECT_EQ(rule.text("frameShape"), "QFrame::VLine");
  EXPECT_EQ(rule.text("frameShadow"), "QFrame::Sunken");
  EXPECT_EQ(rule.property("orientation"), nullptr);
  QStringList said;
  for (const UiForeign& x : uiForeignWidgets(f.root))
    said << x.text();
  EXPECT_EQ(
      said.join('\n').toStdString(),
      "widget area: class QScrollArea is not a widget of the display client: the studio keeps "
      "it as it is (with the 2 widgets inside it) and shows a frame, the server leaves it "
      "out\n"
      "widget one (QPushButton) sits in a layout of box: the display client places widgets "
      "by their geometry alone, so the studio does not show it and the server leaves it out "
      "(the file keeps it); break the layout in Qt Designer to place it\n"
      "widget two (QFrame) sits in a layout of box: the display client places widgets by "
      "their geometry alone, so the studio does not show it (with the 1 widget inside it) "
      "and the server leaves it out (the file keeps it); break the layout in Qt Designer to "
      "place it");
}

TEST(StudioKinds, TagsAndMarkers) {
  EXPECT_EQ(studioTagOf("TQLabel:font:background:"), "TQLabel:");
  EXPECT_EQ(studioTagOf("no tag"), "");
  EXPECT_TRUE(studioHasMarker("TQLabel:font:", "font:"));
  EXPECT_FALSE(studioHasMarker("TQLabel:foreground:", "font:"));
  EXPECT_EQ(studioSetMarker("TQLabel:", "font:", true), "TQLabel:font:");
  EXPECT_EQ(studioSetMarker("TQLabel:font:", "font:", true), "TQLabel:font:");
  EXPECT_EQ(studioSetMarker("TQLabel:font:foreground:", "font:", false), "TQLabel:foreground:");
  EXPECT_STREQ(studioKindByTag("TQwtThermo:")->uiClass, "QwtThermo");
  EXPECT_EQ(studioKindByTag("TQNothing:"), nullptr);
  EXPECT_STREQ(studioKindByClass("QGroupBox")->tag, "TQGroupBox:");
}

}  // namespace
