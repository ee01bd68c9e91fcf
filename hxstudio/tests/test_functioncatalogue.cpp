// The insert-function catalogue and its dialog: every leaf is a statement that compiles and
// links against this build tree's server library, device clients and GL encoder, in a file
// that declares each placeholder with a fitting type; the tree keeps the catalogue's order;
// run() returns the chosen item's text, or "" when nothing was chosen or the dialog was
// cancelled.
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>

#include "dlginsertfunction.h"
#include "functioncatalogue.h"
#include "qttestmain.h"
#include "ui_dlginsertfunction.h"

namespace {

// The placeholders of the catalogue by declaration. A name has one type across the catalogue,
// so that a mask's code can declare it once.
const char* const kPlaceholders[][2] = {
    {"int %1 = 0;",
     "id x y w h r g b r1 g1 b1 r2 g2 b2 enabled pointsize bold italic underline strikeout "
     "alignment value shape shadow lineWidth margin control percent editable index num checked "
     "n first draw width style start span size weight symbol position column columns row rows on "
     "vertical section count action ascending curve axis axisOptions maxMajor maxMinor marker end "
     "distance logarithmic orientation steps button length xMargin yMargin numThorns "
     "numThornLevels mode needle hour minute second msec year month day order ampm type buttons "
     "i argc ms fontsize slave dbnum len offset bytenum bitnum bit function adr num_coils "
     "num_values number choice bytes maxBytes"},
    {"double %1 = 0;",
     "fvalue factor xmin xmax dx ymin ymax dy xpos ypos sx sy angle min max step level mass "
     "minArc maxArc thornWidth val"},
    {"unsigned char %1[16] = {};", "data cbuf coils"},
    {"int %1[8] = {};", "registers ival xcorners ycorners"},
    {"unsigned int %1[8] = {};", "uival"},
    {"short %1[8] = {};", "sval"},
    {"unsigned short %1[8] = {};", "usval"},
    {"float %1[8] = {};", "fval xvalues yvalues"},
    {"double %1[8] = {};", "xdata ydata"},
    {"char %1[256] = {};", "name answer"},
    {"char %1[HX_EVENT_BUFSIZE] = {};", "event"},
    {"char* %1 = nullptr;", "filedata"},
    {"char** %1 = nullptr;", "argv"},
    {"const char* %1[4] = {};", "cells"},
    {"void* %1 = nullptr;", "userdata"},
    {"PARAM_* %1 = nullptr;", "p"},
    {"hxServer* %1 = nullptr;", "server"},
    {"hxServerOptions %1;", "options"},
    {"int (*%1)(PARAM_*) = nullptr;", "modalMask updateBaseMask serveClient"},
    {"int (*%1)(PARAM_*, void*) = nullptr;",
     "modalFunction updateBaseFunction threadFunction cleanupFunction"},
    {"otPPIClient %1(\"mbx\", \"shm\", 512, 1);", "ppi"},
    {"otSiemensTCPClient %1(\"mbx\", \"shm\", 2048, 1);", "siemensTCP"},
    {"otModbusClient %1(\"mbx\", \"shm\", 256);", "modbus"},
};

QString declaration(const QString& name) {
  static QHash<QString, QString> table;
  if (table.isEmpty()) {
    for (const auto& d : kPlaceholders)
      for (const QString& n : QString(d[1]).split(' '))
        table.insert(n, QString(d[0]).arg(n));
  }
  return table.value(name);
}

// The identifiers of a statement that stand alone (not members after '.', "->" or "::", not
// inside literals), each once, in order.
QStringList freeIdentifiers(QString s) {
  static const QRegularExpression literal(R"("(\\.|[^"\\])*"|'(\\.|[^'\\])*')");
  static const QRegularExpression word(R"((?<![\w.:>])[A-Za-z_]\w*)");
  s.replace(literal, " ");
  QStringList out;
  for (auto m = word.globalMatch(s); m.hasNext();)
    out << m.next().captured();
  out.removeDuplicates();
  return out;
}

// The includes of the file of leaves, and its lines before the first leaf.
const char kLeafFileHead[] =
    "#include \"hxserver.h\"\n"
    "#include \"hxglencode.h\"\n"
    "#include \"otmodbusclient.h\"\n"
    "#include \"otsiemenstcp.h\"\n"
    "#include \"otsiemenstcpclient.h\"\n"
    "#include \"otppiclient.h\"\n"
    "extern \"C\" {\n"
    "#include \"nodave.h\"\n"
    "}\n"
    "int everyLeaf();\n"
    "int everyLeaf() {\n";
const int kLeafFileHeadLines = 11;

// A C++ file of one line per leaf: a block that declares the leaf's placeholders, holds the
// leaf and uses the placeholders (so that none is unused).
QString leafFile(const QVector<QString>& leaves) {
  QString s = kLeafFileHead;
  for (const QString& leaf : leaves) {
    QString decls, uses;
    for (const QString& w : freeIdentifiers(leaf)) {
      QString d = declaration(w);
      if (d.isEmpty()) continue;
      decls += d + " ";
      uses += " (void)" + w + ";";
    }
    s += "  { " + decls + leaf + uses + " }\n";
  }
  return s +
         "  return 0;\n}\nint main(int argc, char**) { return argc > 1000 ? everyLeaf() : 0; }\n";
}

QStringList splitArgs(const QString& s) {
  return s.split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
}

QStringList pkgConfig(const QStringList& args) {
  QProcess pc;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("PKG_CONFIG_PATH", HX_PKGCONFIG_DIR);
  pc.setProcessEnvironment(env);
  pc.start("pkg-config", args);
  if (!pc.waitForFinished(30000) || pc.exitCode() != 0) {
    ADD_FAILURE() << "pkg-config " << args.join(' ').toStdString() << ": "
                  << pc.readAllStandardError().toStdString();
    return {};
  }
  return splitArgs(QString::fromLocal8Bit(pc.readAllStandardOutput()));
}

struct CompileResult {
  bool ok = false;
  QString log;
  QStringList failingLeaves;  // the leaves of the blocks the compiler complained about
};

// Compiles the leaves as one file with the project's warnings as errors: syntax only, or
// compiled and linked against the server library and otkit.
CompileResult compileLeaves(const QVector<QString>& leaves, bool link) {
  CompileResult r;
  QTemporaryDir dir;
  const QString file = dir.filePath("leaves.cpp");
  QFile f(file);
  if (!f.open(QIODevice::WriteOnly) || f.write(leafFile(leaves).toUtf8()) < 0) {
    r.log = "cannot write " + file;
    return r;
  }
  f.close();

  QStringList args = {"-std=c++17", "-Wall", "-Wextra", "-Wpedantic", "-Wshadow", "-Werror"};
  args << splitArgs(HX_CXXFLAGS) << "-I" HX_GLENCODE_DIR;
  args << pkgConfig({"--cflags", "otnodave"});
  if (link)
    args << file << "-o" << dir.filePath("leaves") << pkgConfig({"--cflags", "--libs", "otserver"});
  else
    args << "-fsyntax-only" << file << pkgConfig({"--cflags", "otserver"});
  QProcess cc;
  cc.setProcessChannelMode(QProcess::MergedChannels);
  cc.start(HX_CXX, args);
  if (!cc.waitForFinished(300000)) {
    r.log = "the compiler did not finish: " + cc.errorString();
    return r;
  }
  r.log = QString::fromLocal8Bit(cc.readAll());
  r.ok = cc.exitStatus() == QProcess::NormalExit && cc.exitCode() == 0;
  static const QRegularExpression where("leaves\\.cpp:(\\d+):\\d+: (?:fatal )?error");
  for (auto m = where.globalMatch(r.log); m.hasNext();) {
    int leaf = m.next().captured(1).toInt() - kLeafFileHeadLines - 1;
    if (leaf >= 0 && leaf < leaves.size() && !r.failingLeaves.contains(leaves[leaf]))
      r.failingLeaves << leaves[leaf];
  }
  return r;
}

const QStringList kTopLevel = {"otPPIClient", "otSiemensTCPClient", "otModbusClient",
                               "hxFunctions"};

QStringList kinds(const char* names) {
  QStringList out;
  for (const QString& n : QString(names).split(' '))
    out << n + "(...);";
  return out;
}

const QStringList kKinds = kinds(
    "hxQWidget hxQLabel hxQComboBox hxQLineEdit hxQPushButton hxQLCDNumber hxQSlider "
    "hxQButtonGroup hxQRadioButton hxQCheckBox hxQFrame hxQDraw hxQImage hxQGL hxQTabWidget "
    "hxQToolBox hxQGroupBox hxQListBox hxQTable hxQSpinBox hxQDial hxQProgressBar "
    "hxQMultiLineEdit hxQTextBrowser hxQListView hxQIconView hxQVtkTclWidget hxQwtPlot "
    "hxQwtScale hxQwtThermo hxQwtKnob hxQwtCounter hxQwtWheel hxQwtSlider hxQwtCompass hxQwtDial "
    "hxQwtAnalogClock hxQDateEdit hxQTimeEdit hxQDateTimeEdit Dialogs Global");

// The kinds that do not begin with the calls every widget has.
const QStringList kWithoutCommonCalls = kinds(
    "hxQVtkTclWidget hxQwtPlot hxQwtScale hxQwtThermo hxQwtKnob hxQwtCounter hxQwtWheel "
    "hxQwtSlider hxQwtCompass hxQwtDial hxQwtAnalogClock Dialogs Global");

const QStringList kCommonCalls = {
    "hxToolTip(p,id,\"text\");",
    "hxSetGeometry(p,id,x,y,w,h);",
    "hxMove(p,id,x,y);",
    "hxResize(p,id,w,h);",
    "hxHide(p,id);",
    "hxShow(p,id);",
    "hxSetPaletteBackgroundColor(p,id,r,g,b);",
    "hxSetPaletteForegroundColor(p,id,r,g,b);",
    "hxSetFontColor(p,id,r,g,b);",
    "hxSetFont(p,id,\"family\",pointsize,bold,italic,underline,strikeout);",
    "hxSetEnabled(p,id,enabled);",
    "hxCopyToClipboard(p,id);",
    "hxSaveAsBmp(p,id,\"filename\");"};

QStringList texts(const QVector<CatalogueNode>& nodes) {
  QStringList out;
  for (const CatalogueNode& n : nodes)
    out << n.text;
  return out;
}

const CatalogueNode* child(const QVector<CatalogueNode>& nodes, const QString& text) {
  for (const CatalogueNode& n : nodes)
    if (n.text == text) return &n;
  return nullptr;
}

void collectLeaves(const CatalogueNode& n, QStringList* out) {
  if (n.children.isEmpty()) *out << n.text;
  for (const CatalogueNode& c : n.children)
    collectLeaves(c, out);
}

}  // namespace

// ---- The catalogue --------------------------------------------------------------------------

TEST(FunctionCatalogue, TopLevelAndKindsInOrder) {
  const QVector<CatalogueNode>& c = functionCatalogue();
  EXPECT_EQ(texts(c), kTopLevel);
  const CatalogueNode* hx = child(c, "hxFunctions");
  ASSERT_NE(hx, nullptr);
  EXPECT_EQ(texts(hx->children), kKinds);
  for (const CatalogueNode& kind : hx->children)
    EXPECT_FALSE(kind.children.isEmpty()) << kind.text.toStdString();
}

TEST(FunctionCatalogue, TheThirteenCommonCallsComeFirstWhereTheyBelong) {
  const CatalogueNode* hx = child(functionCatalogue(), "hxFunctions");
  ASSERT_NE(hx, nullptr);
  for (const CatalogueNode& kind : hx->children) {
    QStringList calls = texts(kind.children);
    if (kWithoutCommonCalls.contains(kind.text)) {
      for (const QString& common : kCommonCalls)
        EXPECT_FALSE(calls.contains(common)) << kind.text.toStdString();
    } else {
      EXPECT_EQ(calls.mid(0, kCommonCalls.size()), kCommonCalls) << kind.text.toStdString();
    }
  }
  // Two kinds hold nothing but them.
  EXPECT_EQ(texts(child(hx->children, "hxQWidget(...);")->children), kCommonCalls);
  EXPECT_EQ(texts(child(hx->children, "hxQGL(...);")->children), kCommonCalls);
}

TEST(FunctionCatalogue, LeavesAreStatementsListedOnceInTreeOrder) {
  QStringList all;
  for (const CatalogueNode& n : functionCatalogue())
    collectLeaves(n, &all);
  all.removeDuplicates();
  EXPECT_EQ(all.toVector(), catalogueLeaves());
  for (const QString& l : all)
    EXPECT_TRUE(l.endsWith(';') && !l.contains("[]") && !l.contains("...")) << l.toStdString();
}

// Every leaf compiles, and its calls are defined: the file links against the libraries.
TEST(FunctionCatalogue, EveryLeafCompiles) {
  QVector<QString> leaves = catalogueLeaves();
  ASSERT_GT(leaves.size(), 300);
  CompileResult r = compileLeaves(leaves, false);
  EXPECT_TRUE(r.ok) << "leaves that do not compile:\n  "
                    << r.failingLeaves.join("\n  ").toStdString() << "\n"
                    << r.log.left(20000).toStdString();
}

TEST(FunctionCatalogue, EveryLeafLinks) {
  CompileResult r = compileLeaves(catalogueLeaves(), true);
  EXPECT_TRUE(r.ok) << r.log.left(20000).toStdString();
}

// The compile test itself: a call that does not exist and a call with a wrong argument are
// found and named, the good leaf beside them is not blamed; a call that is declared but
// defined nowhere passes the compiler and fails the link.
TEST(FunctionCatalogue, TheCompileTestCatchesBadLeaves) {
  const QString good = "hxSetGeometry(p,id,x,y,w,h);";
  const QString missing = "hxNoSuchCall(p,id);";
  const QString wrongType = "hxSetGeometry(p,id,\"x\",y,w,h);";
  CompileResult r = compileLeaves({good, missing, wrongType}, false);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failingLeaves, QStringList({missing, wrongType})) << r.log.toStdString();

  const QString undefined = "int hxDeclaredOnly(PARAM_* q); hxDeclaredOnly(p);";
  EXPECT_TRUE(compileLeaves({good, undefined}, false).ok);
  r = compileLeaves({good, undefined}, true);
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.log.contains("hxDeclaredOnly")) << r.log.toStdString();
}

// ---- The dialog -----------------------------------------------------------------------------

namespace {

void expectSameTree(QTreeWidgetItem* item, const CatalogueNode& n) {
  ASSERT_EQ(item->text(0), n.text);
  ASSERT_EQ(item->childCount(), n.children.size()) << n.text.toStdString();
  for (int i = 0; i < item->childCount(); ++i)
    expectSameTree(item->child(i), n.children[i]);
}

QTreeWidgetItem* find(QTreeWidget* t, const QStringList& path) {
  QTreeWidgetItem* item = t->invisibleRootItem();
  for (const QString& text : path) {
    QTreeWidgetItem* next = nullptr;
    for (int i = 0; i < item->childCount() && !next; ++i)
      if (item->child(i)->text(0) == text) next = item->child(i);
    EXPECT_NE(next, nullptr) << text.toStdString();
    if (!next) return nullptr;
    item = next;
  }
  return item;
}

// Runs the dialog while act drives it from the event loop; should act leave it open, it is
// closed after ten seconds.
QString runWith(dlgInsertFunction& d, const std::function<void(dlgInsertFunction&)>& act) {
  QTimer::singleShot(0, &d, [&d, act] { act(d); });
  QTimer::singleShot(10000, &d, [&d] { d.done(QDialog::Rejected); });
  return d.run();
}

// Makes the item at path current (and so selected), then clicks the button.
QString chooseAndClick(dlgInsertFunction& d, const QStringList& path, bool insert = true) {
  return runWith(d, [path, insert](dlgInsertFunction& dd) {
    if (QTreeWidgetItem* item = find(dd.form->treeWidget, path))
      dd.form->treeWidget->setCurrentItem(item);
    QTest::mouseClick(insert ? dd.form->pushButtonInsert : dd.form->pushButtonCancel,
                      Qt::LeftButton);
  });
}

}  // namespace

TEST(DialogInsertFunction, FormAndTreeFollowTheCatalogue) {
  dlgInsertFunction d;
  EXPECT_EQ(d.windowTitle(), "hxstudio InsertFunction");
  EXPECT_EQ(d.size(), QSize(400, 300));
  QTreeWidget* t = d.form->treeWidget;
  EXPECT_EQ(t->columnCount(), 1);
  EXPECT_EQ(t->headerItem()->text(0), "Function Types");
  EXPECT_EQ(d.form->pushButtonInsert->text(), "Insert");
  EXPECT_EQ(d.form->pushButtonCancel->text(), "Cancel");
  d.show();
  EXPECT_GT(d.form->pushButtonInsert->x(), t->geometry().right());
  QStringList top;
  for (int i = 0; i < t->topLevelItemCount(); ++i)
    top << t->topLevelItem(i)->text(0);
  EXPECT_EQ(top, kTopLevel);
  const QVector<CatalogueNode>& c = functionCatalogue();
  ASSERT_EQ(t->topLevelItemCount(), c.size());
  for (int i = 0; i < c.size(); ++i)
    expectSameTree(t->topLevelItem(i), c[i]);
  QTreeWidgetItem* label = find(t, {"hxFunctions", "hxQLabel(...);"});
  ASSERT_NE(label, nullptr);
  QStringList first;
  for (int i = 0; i < kCommonCalls.size() && i < label->childCount(); ++i)
    first << label->child(i)->text(0);
  EXPECT_EQ(first, kCommonCalls);
}

TEST(DialogInsertFunction, InsertReturnsTheChosenText) {
  dlgInsertFunction d;
  EXPECT_EQ(chooseAndClick(d, {"hxFunctions", "hxQLabel(...);", "hxSetText(p,id,\"text\");"}),
            "hxSetText(p,id,\"text\");");
  EXPECT_EQ(chooseAndClick(d, {"otModbusClient", "modbus.writeSingleCoil(slave,adr,value);"}),
            "modbus.writeSingleCoil(slave,adr,value);");
  // A widget kind and a category give their own text.
  EXPECT_EQ(chooseAndClick(d, {"hxFunctions", "hxQLabel(...);"}), "hxQLabel(...);");
  EXPECT_EQ(chooseAndClick(d, {"otSiemensTCPClient"}), "otSiemensTCPClient");
}

TEST(DialogInsertFunction, CancelAndNothingChosenReturnEmpty) {
  dlgInsertFunction d;
  EXPECT_EQ(chooseAndClick(d, {"hxFunctions", "Global(...);", "hxBeep(p);"}, false), "");
  // The tree makes its first item current when it takes the focus, without selecting it:
  // that is no choice.
  dlgInsertFunction fresh;
  bool currentWithoutChoice = false;
  EXPECT_EQ(runWith(fresh,
                    [&currentWithoutChoice](dlgInsertFunction& dd) {
                      QApplication::setActiveWindow(&dd);
                      dd.form->treeWidget->setFocus();
                      currentWithoutChoice = dd.form->treeWidget->currentItem() != nullptr;
                      QTest::mouseClick(dd.form->pushButtonInsert, Qt::LeftButton);
                    }),
            "");
  EXPECT_TRUE(currentWithoutChoice);
}
