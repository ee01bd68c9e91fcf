// The generator: a form with every kind compiles against the server library, markers rule
// fonts and colours, the ids enum is made of unique identifiers, bad bindings are refused with
// a reason, the user's file is made once and kept; projects and the compiler messages.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#include "gdaemon.h"
#include "generator.h"
#include "generator_p.h"
#include "project.h"
#include "studiotest.h"
#include "testutil.h"

namespace {

using studiotest::bound;
using studiotest::node;

QString generate(const UiForm& f, QString* header = nullptr, QString* error = nullptr) {
  QString h, s, e;
  int r = studioGenerateMask(f, 1, studiotest::tags(), &h, &s, &e);
  if (header) *header = h;
  if (error) *error = e;
  return r == 0 ? s : QString();
}

QString read(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// A form with one widget of every kind of the catalogue, pages in the containers, bindings
// on the kinds that show or write.
TEST(Generator, EveryKindCompilesAndLinksAgainstTheServerLibrary) {
  ottest::TempDir dir;
  StudioProject p;
  QString error;
  ASSERT_EQ(StudioProject::create(QString::fromStdString(dir.path()), &p, &error), 0)
      << error.toStdString();
  ASSERT_EQ(uiSave(p.path("mask1.ui"), studiotest::everyKind(), &error), 0);
  UiForm second = studiotest::form("mask2");
  second.root.children << node("TQPushButton:", "back");
  ASSERT_EQ(uiSave(p.path("mask3.ui"), second, &error), 0);
  ottest::writeFile(dir.file("tags.txt"), studiotest::kTags);
  ASSERT_EQ(StudioProject::open(p.folder, &p, &error), 0);
  ASSERT_EQ(p.masks, QStringList({"mask1.ui", "mask3.ui"}));
  ASSERT_EQ(studioGenerate(p, &error), 0) << error.toStdString();
  for (const char* f :
       {"mask1_generated.h", "mask1_generated.cpp", "mask1_events.cpp", "mask3_generated.cpp",
        "main_generated.cpp", "studio_generated.h", "studio_generated.cpp", "CMakeLists.txt"})
    EXPECT_TRUE(QFileInfo::exists(p.path(f))) << f;
  std::string log;
  EXPECT_EQ(studiotest::compileProject(dir.path(), &log), 0) << log;

  // Every kind got its constructor: the catalogue's calls, placeholders where none exists.
  QString s = read(p.path("mask1_generated.cpp"));
  for (const char* call : {"hxQTabWidget(",    "hxQToolBox(",       "hxQLabel(",
                           "hxQPushButton(",   "hxQRadioButton(",   "hxQCheckBox(",
                           "hxQLineEdit(",     "hxQSpinBox(",       "hxQComboBox(",
                           "hxQLCDNumber(",    "hxQSlider(",        "hxQDial(",
                           "hxQProgressBar(",  "hxQDateEdit(",      "hxQTimeEdit(",
                           "hxQDateTimeEdit(", "hxQGroupBox(",      "hxQButtonGroup(",
                           "hxQFrame(",        "hxQTable(",         "hxQMultiLineEdit(",
                           "hxQTextBrowser(",  "hxQListView(",      "hxQListBox(",
                           "hxQIconView(",     "studioImage(m, w",  "hxQDraw(",
                           "hxQGL(",           "hxQVtkTclWidget(",  "hxQwtPlot(",
                           "hxQwtThermo(",     "hxQwtKnob(",        "hxQwtCounter(",
                           "hxQwtWheel(",      "hxQwtSlider(",      "hxQwtCompass(",
                           "hxQwtDial(",       "hxQwtAnalogClock(", "studioPlaceholder(m, w"})
    EXPECT_TRUE(s.contains(call)) << call;
  // Pages are added under their titles; the SVG is played after the definition.
  EXPECT_TRUE(s.contains(R"(hxAddTab(p, w1, w1_page1, "Page \"1\"");)")) << s.toStdString();
  EXPECT_GT(s.indexOf("studioPlaySvg(m, "), s.indexOf("hxEndDefinition(p)"));
  EXPECT_TRUE(s.contains("/libgauge/gauge:1,2) has no display-server call"));
  QString main = read(p.path("main_generated.cpp"));
  EXPECT_TRUE(main.contains("mask1::show,\n      nullptr,\n      mask3::show"))
      << main.toStdString();
}

TEST(Generator, ConstructionParametersComeFromTheProperties) {
  UiForm f = studiotest::form();
  UiNode slider = node("TQSlider:", "s", 10, 20, 200, 24);
  slider.setProperty(uiNumber("minimum", -5));
  slider.setProperty(uiNumber("maximum", 500));
  slider.setProperty(uiNumber("singleStep", 5));
  slider.setProperty(uiNumber("value", 7));
  slider.setProperty(uiEnum("orientation", "Qt::Horizontal"));
  UiNode lcd = node("TQLCDNumber:", "lcd");
  lcd.setProperty(uiNumber("digitCount", 6));
  lcd.setProperty(uiEnum("mode", "QLCDNumber::Hex"));
  lcd.setProperty(uiEnum("segmentStyle", "QLCDNumber::Flat"));
  UiNode frame = node("TQFrame:", "fr");
  frame.setProperty(uiEnum("frameShape", "QFrame::WinPanel"));
  frame.setProperty(uiEnum("frameShadow", "QFrame::Sunken"));
  frame.setProperty(uiNumber("lineWidth", 3));
  UiNode edit = node("TQMultiLineEdit:", "ed");
  edit.setProperty(uiBool("readOnly", true));
  edit.setProperty(uiNumber("maximumBlockCount", 0));
  UiNode spin = node("TQSpinBox:", "sp");
  spin.setProperty(uiNumber("minimum", 1));
  spin.setProperty(uiNumber("maximum", 9));
  spin.setProperty(uiNumber("singleStep", 2));
  UiNode table = node("TQTable:", "tb");
  table.setProperty(uiNumber("rowCount", 4));
  table.setProperty(uiNumber("columnCount", 3));
  UiNode box = node("TQGroupBox:", "gb");
  box.setProperty(uiString("title", "Pumps"));
  UiNode label = node("TQLabel:", "lb");
  label.setProperty(uiString("text", "two\nlines \"quoted\" ?\?="));
  label.setProperty(uiString("toolTip", "tip"));
  f.root.setProperty(uiString("windowTitle", "Plant"));
  f.root.children << slider << lcd << frame << edit << spin << table << box << label;
  QString error, s = generate(f, nullptr, &error);
  ASSERT_FALSE(s.isEmpty()) << error.toStdString();
  for (const char* expected :
       {"hxResize(p, mask1, 640, 480);", "hxSetText(p, mask1, \"Plant\");",
        "hxQSlider(p, s, mask1, -5, 500, 5, 7, 1);", "hxSetGeometry(p, s, 10, 20, 200, 24);",
        "hxQLCDNumber(p, lcd, mask1, 6, 2, 0);", "hxQFrame(p, fr, mask1, 3, 48, 3, 0);",
        "hxQMultiLineEdit(p, ed, mask1, 0, -1);", "hxQSpinBox(p, sp, mask1, 1, 9, 2);",
        "hxQTable(p, tb, mask1, 4, 3);", "hxQGroupBox(p, gb, mask1, 1, 1, \"Pumps\");",
        "hxSetText(p, lb, \"two\\nlines \\\"quoted\\\" \\?\\?=\");",
        "hxSetToolTip(p, lb, \"tip\");"})
    EXPECT_TRUE(s.contains(expected)) << expected << "\n" << s.toStdString();
}

TEST(Generator, MarkersRuleFontsAndColoursOfStudioFilesDesignerPropertiesOfOthers) {
  UiProperty font;
  font.name = "font";
  font.type = "font";
  font.fields = {{"family", "Courier"}, {"pointsize", "14"}, {"weight", "75"}, {"bold", "true"}};
  UiProperty palette;
  palette.name = "palette";
  palette.type = "palette";
  palette.fields = {{"WindowText", "255,0,0"},
                    {"Window", "0,0,255"},
                    {"ButtonText", "1,2,3"},
                    {"Button", "4,5,6"}};
  UiForm f = studiotest::form();
  UiNode plain = node("TQLabel:", "plain");  // properties there, no markers: not set
  plain.setProperty(font);
  plain.setProperty(palette);
  UiNode marked = node("TQLabel:", "marked");
  marked.setProperty(uiString("statusTip", "TQLabel:font:background:"));
  marked.setProperty(font);
  marked.setProperty(palette);
  UiNode button = node("TQPushButton:", "button");
  button.setProperty(uiString("statusTip", "TQPushButton:foreground:background:"));
  button.setProperty(palette);
  UiNode designer = node("TQLabel:", "designer");  // no status tip: Qt Designer's file
  designer.removeProperty("statusTip");
  designer.setProperty(font);
  designer.setProperty(palette);
  f.root.children << plain << marked << button << designer;
  QString error, s = generate(f, nullptr, &error);
  ASSERT_FALSE(s.isEmpty()) << error.toStdString();
  EXPECT_FALSE(
      s.contains(QRegularExpression("hxSet(Font|ForegroundColor|BackgroundColor)\\(p, plain,")))
      << s.toStdString();
  EXPECT_TRUE(s.contains("hxSetFont(p, marked, \"Courier\", 14, 1, 0);"));
  EXPECT_TRUE(s.contains("hxSetBackgroundColor(p, marked, 0, 0, 255);"));
  EXPECT_FALSE(s.contains("hxSetForegroundColor(p, marked"));
  EXPECT_TRUE(s.contains("hxSetForegroundColor(p, button, 1, 2, 3);"));
  EXPECT_TRUE(s.contains("hxSetBackgroundColor(p, button, 4, 5, 6);"));
  EXPECT_TRUE(s.contains("hxSetFont(p, designer, \"Courier\", 14, 1, 0);"));
  EXPECT_TRUE(s.contains("hxSetForegroundColor(p, designer, 255, 0, 0);"));
  EXPECT_TRUE(s.contains("hxSetBackgroundColor(p, designer, 0, 0, 255);"));
}

TEST(Generator, IdsAreUniqueIdentifiersNamedAfterTheObjects) {
  EXPECT_EQ(studioIdentifiers({"mask1", "obj1", "my label", "3d", "delete", "a-b", "a_b", "show",
                               "hxQLabel", "_x", "ID_COUNT", "\xc3\xa4pfel"}),
            QStringList({"mask1", "obj1", "my_label", "id_3d", "delete_", "a_b_2", "a_b", "show_",
                         "hxQLabel_", "id_x", "ID_COUNT_", "id_pfel"}));
  UiForm f = studiotest::form();
  f.root.children << node("TQLabel:", "level (%)") << node("TQLabel:", "level_")
                  << node("TQLabel:", "level");
  QString h, error, s = generate(f, &h, &error);
  ASSERT_FALSE(s.isEmpty()) << error.toStdString();
  EXPECT_TRUE(
      h.contains("  mask1 = 0,\n  level_2 = 1,  // object \"level (%)\"\n"
                 "  level_ = 2,\n  level = 3,\n  ID_COUNT = 4\n"))
      << h.toStdString();
  EXPECT_TRUE(s.contains("hxStartDefinition(p, ID_COUNT)"));

  // Two widgets of one name: the file is at fault, and the reason names them.
  f.root.children[2].children << node("TQLabel:", "level");
  EXPECT_TRUE(generate(f, nullptr, &error).isEmpty());
  EXPECT_EQ(error, "two widgets are named \"level\" (ids 3 and 4)");
}

TEST(Generator, BadBindingsAreRefusedWithAReason) {
  struct Case {
    const char* tag;
    const char* bindTo;
    const char* reason;
  } cases[] = {
      {"TQFrame:", "level", "cannot show or write a tag"},
      {"TQLabel:", "nosuchtag", "which the tag table does not have"},
      {"TQPushButton:", "level", "which is read only"},
  };
  for (const Case& c : cases) {
    UiForm f = studiotest::form();
    f.root.children << bound(node(c.tag, "w"), c.bindTo);
    QString error;
    EXPECT_TRUE(generate(f, nullptr, &error).isEmpty()) << c.tag;
    EXPECT_TRUE(error.contains(c.reason)) << error.toStdString();
    EXPECT_TRUE(error.contains("\"w\"")) << error.toStdString();
  }
  // An input that also shows, bound to a read-only tag, shows it and writes nothing.
  UiForm f = studiotest::form();
  f.root.children << bound(node("TQSlider:", "s"), "level")
                  << bound(node("TQSlider:", "t"), "setpoint")
                  << bound(node("TQPushButton:", "toggle"), "valve")
                  << bound(node("TQLineEdit:", "typed"), "setpoint");
  QString error, s = generate(f, nullptr, &error);
  ASSERT_FALSE(s.isEmpty()) << error.toStdString();
  EXPECT_TRUE(s.contains("{s, \"level\", STUDIO_SHOW_INT, STUDIO_WRITE_NONE},"));
  EXPECT_TRUE(s.contains("{t, \"setpoint\", STUDIO_SHOW_INT, STUDIO_WRITE_SLIDER},"));
  EXPECT_TRUE(s.contains("{toggle, \"valve\", STUDIO_SHOW_NONE, STUDIO_WRITE_BUTTON},"));
  EXPECT_TRUE(s.contains("{typed, \"setpoint\", STUDIO_SHOW_TEXT, STUDIO_WRITE_NUMBER},"));
}

TEST(Generator, TheUserFileIsMadeOnceAndKeptGeneratedFilesOnlyRewrittenWhenChanged) {
  ottest::TempDir dir;
  StudioProject p;
  QString error;
  ASSERT_EQ(StudioProject::create(QString::fromStdString(dir.path()), &p, &error), 0);
  ASSERT_EQ(studioGenerate(p, &error), 0) << error.toStdString();
  const QString events = p.path("mask1_events.cpp");
  QString made = read(events);
  EXPECT_TRUE(made.contains("int onEvent(StudioMask& m, int kind, int id, const char* text)"));
  ottest::writeFile(events.toStdString(), "// mine\n");
  QDateTime stamp = QFileInfo(p.path("mask1_generated.cpp")).lastModified();
  QThread::msleep(20);
  ASSERT_EQ(studioGenerate(p, &error), 0);
  EXPECT_EQ(read(events), "// mine\n");
  EXPECT_EQ(QFileInfo(p.path("mask1_generated.cpp")).lastModified(), stamp);

  UiForm f;
  ASSERT_EQ(uiLoad(p.path("mask1.ui"), &f, &error), 0);
  f.root.children << node("TQLabel:", "added");
  ASSERT_EQ(uiSave(p.path("mask1.ui"), f, &error), 0);
  ASSERT_EQ(studioGenerate(p, &error), 0);
  EXPECT_TRUE(read(p.path("mask1_generated.h")).contains("added = 1,"));
  EXPECT_EQ(read(events), "// mine\n");

  // A mask that does not generate stops the run with the file named.
  f.root.children << bound(node("TQLabel:", "b"), "nosuchtag");
  ASSERT_EQ(uiSave(p.path("mask1.ui"), f, &error), 0);
  EXPECT_EQ(studioGenerate(p, &error), -1);
  EXPECT_TRUE(error.startsWith("mask1.ui: widget \"b\"")) << error.toStdString();
}

// The asynchronous build: a mistake in the user's file comes back as a message at its place,
// the mended file builds, and a second build while one runs is refused.
TEST(Builder, BuildsInTheBackgroundAndReportsTheCompilersMessages) {
  int argc = 1;
  char name[] = "test_generator";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  setenv("PKG_CONFIG_PATH", HX_PKGCONFIG_DIR, 1);
  setenv("CXXFLAGS", HX_CXXFLAGS, 1);
  setenv("LDFLAGS", HX_CXXFLAGS, 1);
  ottest::TempDir dir;
  StudioProject p;
  QString error;
  ASSERT_EQ(StudioProject::create(QString::fromStdString(dir.file("demo")), &p, &error), 0);
  ASSERT_EQ(studioGenerate(p, &error), 0);
  ottest::writeFile(p.path("mask1_events.cpp").toStdString(),
                    "#include \"mask1_generated.h\"\n"
                    "namespace mask1 {\n"
                    "void onDefined(StudioMask&) {}\n"
                    "int onEvent(StudioMask&, int, int, const char*) { return undeclared; }\n"
                    "void onRefresh(StudioMask&) {}\n"
                    "}\n");
  StudioBuilder b;
  bool ok = true;
  QVector<StudioBuildMessage> messages;
  QString log;
  auto wait = [&] {
    QEventLoop loop;
    QObject::connect(&b, &StudioBuilder::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(300000, &loop, &QEventLoop::quit);
    loop.exec();
  };
  QObject::connect(&b, &StudioBuilder::finished,
                   [&](bool good, const QVector<StudioBuildMessage>& m, const QString& text) {
                     ok = good;
                     messages = m;
                     log = text;
                   });
  ASSERT_TRUE(b.build(p));
  EXPECT_TRUE(b.running());
  EXPECT_FALSE(b.build(p));
  wait();
  EXPECT_FALSE(ok) << log.toStdString();
  EXPECT_FALSE(b.running());
  bool found = false;
  for (const StudioBuildMessage& m : messages)
    found = found || (m.file.endsWith("mask1_events.cpp") && m.line == 4 && m.severity == "error" &&
                      m.text.contains("undeclared"));
  EXPECT_TRUE(found) << log.toStdString();

  QFile::remove(p.path("mask1_events.cpp"));
  ASSERT_TRUE(b.build(p));
  wait();
  EXPECT_TRUE(ok) << log.toStdString();
  EXPECT_EQ(b.program(), p.path("build/demo"));
  EXPECT_TRUE(QFileInfo(b.program()).isExecutable());
}

TEST(Project, CreateOpenAndNextMask) {
  ottest::TempDir dir;
  const QString folder = QString::fromStdString(dir.file("plant server"));
  StudioProject p;
  QString error;
  ASSERT_EQ(StudioProject::create(folder, &p, &error), 0) << error.toStdString();
  EXPECT_EQ(p.name(), "plant server");
  EXPECT_EQ(studioProgramName(p), "plant_server");
  EXPECT_EQ(p.masks, QStringList{"mask1.ui"});
  EXPECT_TRUE(QFileInfo::exists(p.tagsPath()));
  EXPECT_EQ(StudioProject::create(folder, nullptr, &error), -1);
  EXPECT_TRUE(error.contains("holds a project already"));
  for (const char* f : {"mask10.ui", "mask2.ui", "mask0.ui", "maskx.ui", "mask2.ui.bak"})
    ottest::writeFile((folder + "/" + f).toStdString(), "");
  ASSERT_EQ(StudioProject::open(folder, &p, &error), 0);
  EXPECT_EQ(p.masks, QStringList({"mask1.ui", "mask2.ui", "mask10.ui"}));
  EXPECT_EQ(p.nextMaskName(), "mask11.ui");
  EXPECT_EQ(StudioProject::open(folder + "/mask1.ui", &p, &error), -1);
}

// The example project that the README and scripts/demo.sh --studio open stays valid: its tags
// fit the demo daemon's header and every binding names one of them.
TEST(Project, TheDemoPlantExampleGenerates) {
  ottest::TempDir dir;
  const std::string folder = dir.file("plant-studio");
  const std::string example = HX_EXAMPLES_DIR "/plant-studio";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  for (const char* f : {"mask1.ui", "tags.txt"})
    ottest::writeFile(folder + "/" + f, ottest::readFile(example + "/" + f));
  hxDaemonFiles daemon;
  ASSERT_EQ(
      hxGenerate(3, "demo.mkmodbus", ottest::readFile(HX_EXAMPLES_DIR "/demo.mkmodbus"), &daemon),
      0)
      << daemon.log;
  ottest::writeFile(folder + "/demo.h", daemon.header);
  StudioProject p;
  QString error;
  ASSERT_EQ(StudioProject::open(QString::fromStdString(folder), &p, &error), 0);
  ASSERT_EQ(studioGenerate(p, &error), 0) << error.toStdString();
  const QString mask = read(p.path("mask1_generated.cpp"));
  for (const char* tag : {"sine60", "setpoint", "valve", "sine10_percent"})
    EXPECT_TRUE(mask.contains(tag)) << tag;
}

TEST(BuildOutput, CompilerLinkerAndCMakeMessages) {
  const QString out =
      "[1/3] Building CXX object CMakeFiles/x.dir/mask1_events.cpp.o\n"
      "FAILED: CMakeFiles/x.dir/mask1_events.cpp.o\n"
      "/p/mask1_events.cpp: In function 'int mask1::onEvent(StudioMask&, int, int, const char*)':\n"
      "/p/mask1_events.cpp:12:3: error: 'foo' was not declared in this scope\n"
      "   12 |   foo();\n"
      "/p/mask1_events.cpp:9:38: warning: unused parameter 'kind' [-Wunused-parameter]\n"
      "\x1b[01m/p/a b.h:3: note: \x1b[m declared here\n"
      "/usr/bin/ld: mask1_events.cpp:(.text+0x1a): undefined reference to `bar()'\n"
      "mask2_events.cpp:(.text+0x2b): undefined reference to `baz()'\n"
      "collect2: error: ld returned 1 exit status\n"
      "CMake Error at CMakeLists.txt:7 (pkg_check_modules):\n"
      "  A required package was not found\n"
      "\n"
      "ninja: build stopped: subcommand failed.\n";
  QVector<StudioBuildMessage> m = studioParseBuildOutput(out);
  ASSERT_EQ(m.size(), 7);
  EXPECT_EQ(m[0].file, "/p/mask1_events.cpp");
  EXPECT_EQ(m[0].line, 12);
  EXPECT_EQ(m[0].column, 3);
  EXPECT_EQ(m[0].severity, "error");
  EXPECT_EQ(m[0].text, "'foo' was not declared in this scope");
  EXPECT_EQ(m[1].severity, "warning");
  EXPECT_EQ(m[2].file, "/p/a b.h");
  EXPECT_EQ(m[2].line, 3);
  EXPECT_EQ(m[2].column, 0);
  EXPECT_EQ(m[2].severity, "note");
  EXPECT_EQ(m[2].text, "declared here");
  EXPECT_EQ(m[3].file, "mask1_events.cpp");
  EXPECT_EQ(m[3].text, "undefined reference to `bar()'");
  EXPECT_EQ(m[4].file, "mask2_events.cpp");
  EXPECT_EQ(m[4].severity, "error");
  EXPECT_EQ(m[5].file, "");
  EXPECT_EQ(m[5].text, "ld returned 1 exit status");
  EXPECT_EQ(m[6].file, "CMakeLists.txt");
  EXPECT_EQ(m[6].line, 7);
  EXPECT_EQ(m[6].severity, "error");
  EXPECT_EQ(m[6].text, "A required package was not found");
}

}  // namespace
