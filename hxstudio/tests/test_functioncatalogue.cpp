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
#include <algorithm>
#include <functional>

#include "dlginsertfunction.h"
#include "functioncatalogue.h"
#include "qttestmain.h"
#include "ui_dlginsertfunction.h"

namespace {

// Every placeholder name of the catalogue with its declaration. A name has one type across
// the catalogue, so that a mask's code can declare it once.
const char* const kPlaceholders[][2] = {
    {"p", "PARAM_* p = nullptr;"},
    {"ppi", "otPPIClient ppi(\"mbx\", \"shm\", 512, 1);"},
    {"siemensTCP", "otSiemensTCPClient siemensTCP(\"mbx\", \"shm\", 2048, 1);"},
    {"modbus", "otModbusClient modbus(\"mbx\", \"shm\", 256);"},
    {"options", "hxServerOptions options;"},
    {"server", "hxServer* server = nullptr;"},
    {"argv", "char** argv = nullptr;"},
    {"event", "char event[HX_EVENT_BUFSIZE] = {};"},
    {"name", "char name[256] = {};"},
    {"answer", "char answer[256] = {};"},
    {"filedata", "char* filedata = nullptr;"},
    {"cells", "const char* cells[4] = {};"},
    {"userdata", "void* userdata = nullptr;"},
    {"modalMask", "int (*modalMask)(PARAM_*) = nullptr;"},
    {"updateBaseMask", "int (*updateBaseMask)(PARAM_*) = nullptr;"},
    {"serveClient", "int (*serveClient)(PARAM_*) = nullptr;"},
    {"modalFunction", "int (*modalFunction)(PARAM_*, void*) = nullptr;"},
    {"updateBaseFunction", "int (*updateBaseFunction)(PARAM_*, void*) = nullptr;"},
    {"threadFunction", "int (*threadFunction)(PARAM_*, void*) = nullptr;"},
    {"cleanupFunction", "int (*cleanupFunction)(PARAM_*, void*) = nullptr;"},
    // Arrays.
    {"data", "unsigned char data[16] = {};"},
    {"cbuf", "unsigned char cbuf[16] = {};"},
    {"coils", "unsigned char coils[16] = {};"},
    {"registers", "int registers[8] = {};"},
    {"fval", "float fval[4] = {};"},
    {"ival", "int ival[4] = {};"},
    {"uival", "unsigned int uival[4] = {};"},
    {"sval", "short sval[8] = {};"},
    {"usval", "unsigned short usval[8] = {};"},
    {"xvalues", "float xvalues[4] = {};"},
    {"yvalues", "float yvalues[4] = {};"},
    {"xcorners", "int xcorners[4] = {};"},
    {"ycorners", "int ycorners[4] = {};"},
    {"xdata", "double xdata[4] = {};"},
    {"ydata", "double ydata[4] = {};"},
};

// Placeholders of type int and of type double.
const char* const kInts[] = {
    "id",       "x",         "y",        "w",         "h",         "r",           "g",
    "b",        "r1",        "g1",       "b1",        "r2",        "g2",          "b2",
    "enabled",  "pointsize", "bold",     "italic",    "underline", "strikeout",   "alignment",
    "value",    "shape",     "shadow",   "lineWidth", "margin",    "control",     "percent",
    "editable", "index",     "num",      "checked",   "n",         "first",       "draw",
    "width",    "style",     "start",    "span",      "size",      "weight",      "symbol",
    "position", "column",    "columns",  "row",       "rows",      "on",          "vertical",
    "section",  "count",     "action",   "ascending", "curve",     "axis",        "axisOptions",
    "maxMajor", "maxMinor",  "marker",   "end",       "distance",  "logarithmic", "orientation",
    "steps",    "button",    "length",   "xMargin",   "yMargin",   "numThorns",   "numThornLevels",
    "mode",     "needle",    "hour",     "minute",    "second",    "msec",        "year",
    "month",    "day",       "order",    "ampm",      "type",      "buttons",     "i",
    "argc",     "ms",        "fontsize", "slave",     "dbnum",     "len",         "offset",
    "bytenum",  "bitnum",    "bit",      "function",  "adr",       "num_coils",   "num_values",
    "number",   "choice",    "bytes",    "maxBytes",
};
const char* const kDoubles[] = {
    "fvalue", "factor", "xmin",   "xmax",   "dx",         "ymin", "ymax", "dy",
    "xpos",   "ypos",   "sx",     "sy",     "angle",      "min",  "max",  "step",
    "level",  "mass",   "minArc", "maxArc", "thornWidth", "val",
};

QString declaration(const QString& name) {
  static QHash<QString, QString> table;
  if (table.isEmpty()) {
    for (const auto& d : kPlaceholders)
      table.insert(d[0], d[1]);
    for (const char* n : kInts)
      table.insert(n, QString("int %1 = 0;").arg(n));
    for (const char* n : kDoubles)
      table.insert(n, QString("double %1 = 0;").arg(n));
  }
  return table.value(name);
}

// The identifiers of a statement that stand alone (not members after '.', "->" or "::"),
// outside string and character literals, each once, in order.
QStringList freeIdentifiers(const QString& s) {
  QStringList out;
  int i = 0;
  const int n = s.size();
  auto identStart = [](QChar c) { return c.isLetter() || c == '_'; };
  auto identPart = [](QChar c) { return c.isLetterOrNumber() || c == '_'; };
  while (i < n) {
    QChar c = s[i];
    if (c == '"' || c == '\'') {
      for (++i; i < n && s[i] != c; ++i)
        if (s[i] == '\\') ++i;
      ++i;
    } else if (c.isDigit()) {
      while (i < n && (identPart(s[i]) || s[i] == '.'))
        ++i;
    } else if (identStart(c)) {
      int b = i;
      while (i < n && identPart(s[i]))
        ++i;
      QString before = s.left(b).trimmed();
      bool member = before.endsWith('.') || before.endsWith("->") || before.endsWith("::");
      QString word = s.mid(b, i - b);
      if (!member && !out.contains(word)) out << word;
    } else {
      ++i;
    }
  }
  return out;
}

// A C++ file of one block per leaf, each declaring the leaf's placeholders. firstLines holds
// the first line of every block (1-based), for finding the leaf of a compiler message.
QString leafFile(const QVector<QString>& leaves, QVector<int>* firstLines) {
  QString s =
      "#include \"hxserver.h\"\n"
      "#include \"hxglencode.h\"\n"
      "#include \"otmodbusclient.h\"\n"
      "#include \"otsiemenstcp.h\"\n"
      "#include \"otsiemenstcpclient.h\"\n"
      "#include \"otppiclient.h\"\n"
      "extern \"C\" {\n"
      "#include \"nodave.h\"\n"
      "}\n\n"
      "int everyLeaf();\n"
      "int everyLeaf() {\n";
  firstLines->clear();
  for (const QString& leaf : leaves) {
    firstLines->append(s.count('\n') + 1);
    QStringList used;
    s += "  {\n";
    for (const QString& w : freeIdentifiers(leaf)) {
      QString d = declaration(w);
      if (d.isEmpty()) continue;
      s += "    " + d + "\n";
      used << w;
    }
    s += "    " + leaf + "\n";
    for (const QString& w : used)
      s += "    (void)" + w + ";\n";
    s += "  }\n";
  }
  s += "  return 0;\n"
       "}\n\n"
       "int main(int argc, char**) { return argc > 1000 ? everyLeaf() : 0; }\n";
  return s;
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
  QVector<int> firstLines;
  const QString file = dir.filePath("leaves.cpp");
  QFile f(file);
  if (!f.open(QIODevice::WriteOnly)) {
    r.log = "cannot write " + file;
    return r;
  }
  f.write(leafFile(leaves, &firstLines).toUtf8());
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
    int line = m.next().captured(1).toInt();
    int block =
        int(std::upper_bound(firstLines.begin(), firstLines.end(), line) - firstLines.begin()) - 1;
    if (block >= 0 && !r.failingLeaves.contains(leaves[block])) r.failingLeaves << leaves[block];
  }
  return r;
}

const QStringList kTopLevel = {"otPPIClient", "otSiemensTCPClient", "otModbusClient",
                               "hxFunctions"};

const QStringList kKinds = {
    "hxQWidget(...);",        "hxQLabel(...);",
    "hxQComboBox(...);",      "hxQLineEdit(...);",
    "hxQPushButton(...);",    "hxQLCDNumber(...);",
    "hxQSlider(...);",        "hxQButtonGroup(...);",
    "hxQRadioButton(...);",   "hxQCheckBox(...);",
    "hxQFrame(...);",         "hxQDraw(...);",
    "hxQImage(...);",         "hxQGL(...);",
    "hxQTabWidget(...);",     "hxQToolBox(...);",
    "hxQGroupBox(...);",      "hxQListBox(...);",
    "hxQTable(...);",         "hxQSpinBox(...);",
    "hxQDial(...);",          "hxQProgressBar(...);",
    "hxQMultiLineEdit(...);", "hxQTextBrowser(...);",
    "hxQListView(...);",      "hxQIconView(...);",
    "hxQVtkTclWidget(...);",  "hxQwtPlot(...);",
    "hxQwtScale(...);",       "hxQwtThermo(...);",
    "hxQwtKnob(...);",        "hxQwtCounter(...);",
    "hxQwtWheel(...);",       "hxQwtSlider(...);",
    "hxQwtCompass(...);",     "hxQwtDial(...);",
    "hxQwtAnalogClock(...);", "hxQDateEdit(...);",
    "hxQTimeEdit(...);",      "hxQDateTimeEdit(...);",
    "Dialogs(...);",          "Global(...);",
};

// The kinds that do not begin with the calls every widget has.
const QStringList kWithoutCommonCalls = {
    "hxQVtkTclWidget(...);", "hxQwtPlot(...);",    "hxQwtScale(...);",       "hxQwtThermo(...);",
    "hxQwtKnob(...);",       "hxQwtCounter(...);", "hxQwtWheel(...);",       "hxQwtSlider(...);",
    "hxQwtCompass(...);",    "hxQwtDial(...);",    "hxQwtAnalogClock(...);", "Dialogs(...);",
    "Global(...);"};

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
    "hxSaveAsBmp(p,id,\"filename\");",
};

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

TEST(FunctionCatalogue, LeavesAreStatementsListedOnce) {
  QStringList all;
  for (const CatalogueNode& n : functionCatalogue())
    collectLeaves(n, &all);
  QVector<QString> leaves = catalogueLeaves();
  EXPECT_EQ(QSet<QString>(all.begin(), all.end()).size(), leaves.size());
  EXPECT_EQ(QSet<QString>(leaves.begin(), leaves.end()).size(), leaves.size());
  for (const QString& l : leaves) {
    EXPECT_TRUE(l.endsWith(';')) << l.toStdString();
    EXPECT_FALSE(l.contains("[]") || l.contains("...")) << l.toStdString();
  }
  // Within one kind a call is offered once.
  std::function<void(const CatalogueNode&)> once = [&](const CatalogueNode& n) {
    QStringList t = texts(n.children);
    EXPECT_EQ(QSet<QString>(t.begin(), t.end()).size(), t.size()) << n.text.toStdString();
    for (const CatalogueNode& c : n.children)
      once(c);
  };
  for (const CatalogueNode& n : functionCatalogue())
    once(n);
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
  QTreeWidgetItem* item = nullptr;
  for (const QString& text : path) {
    QTreeWidgetItem* next = nullptr;
    int count = item ? item->childCount() : t->topLevelItemCount();
    for (int i = 0; i < count && !next; ++i) {
      QTreeWidgetItem* c = item ? item->child(i) : t->topLevelItem(i);
      if (c->text(0) == text) next = c;
    }
    if (!next) return nullptr;
    item = next;
  }
  return item;
}

// Runs the dialog while act drives it from the event loop; the dialog is closed after ten
// seconds should act leave it open.
QString runWith(dlgInsertFunction& d, const std::function<void(dlgInsertFunction&)>& act) {
  QTimer::singleShot(0, &d, [&d, act] { act(d); });
  QTimer::singleShot(10000, &d, [&d] { d.done(QDialog::Rejected); });
  return d.run();
}

QTreeWidgetItem* choose(dlgInsertFunction& d, const QStringList& path) {
  QTreeWidgetItem* item = find(d.form->treeWidget, path);
  EXPECT_NE(item, nullptr) << path.join(" / ").toStdString();
  if (item) d.form->treeWidget->setCurrentItem(item);
  return item;
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
  // The buttons stand to the right of the tree.
  d.show();
  EXPECT_GT(d.form->pushButtonInsert->x(), t->geometry().right());
  const QVector<CatalogueNode>& c = functionCatalogue();
  QStringList top;
  for (int i = 0; i < t->topLevelItemCount(); ++i)
    top << t->topLevelItem(i)->text(0);
  EXPECT_EQ(top, kTopLevel);
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
  auto insert = [](dlgInsertFunction& dd) {
    QTest::mouseClick(dd.form->pushButtonInsert, Qt::LeftButton);
  };
  EXPECT_EQ(runWith(d,
                    [&](dlgInsertFunction& dd) {
                      choose(dd, {"hxFunctions", "hxQLabel(...);", "hxSetText(p,id,\"text\");"});
                      insert(dd);
                    }),
            "hxSetText(p,id,\"text\");");
  EXPECT_EQ(runWith(d,
                    [&](dlgInsertFunction& dd) {
                      choose(dd, {"otModbusClient", "modbus.writeSingleCoil(slave,adr,value);"});
                      insert(dd);
                    }),
            "modbus.writeSingleCoil(slave,adr,value);");
  // A widget kind and a category give their own text.
  EXPECT_EQ(runWith(d,
                    [&](dlgInsertFunction& dd) {
                      choose(dd, {"hxFunctions", "hxQLabel(...);"});
                      insert(dd);
                    }),
            "hxQLabel(...);");
  EXPECT_EQ(runWith(d,
                    [&](dlgInsertFunction& dd) {
                      choose(dd, {"otSiemensTCPClient"});
                      insert(dd);
                    }),
            "otSiemensTCPClient");
}

TEST(DialogInsertFunction, CancelAndNothingChosenReturnEmpty) {
  dlgInsertFunction d;
  EXPECT_EQ(runWith(d,
                    [](dlgInsertFunction& dd) {
                      choose(dd, {"hxFunctions", "Global(...);", "hxBeep(p);"});
                      QTest::mouseClick(dd.form->pushButtonCancel, Qt::LeftButton);
                    }),
            "");
  EXPECT_EQ(runWith(d,
                    [](dlgInsertFunction& dd) {
                      choose(dd, {"hxFunctions"});
                      QTest::keyClick(&dd, Qt::Key_Escape);
                    }),
            "");
  // The tree makes its first item current when it takes the focus, without selecting it:
  // that is not a choice.
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
  // A choice that was taken back is no choice either.
  EXPECT_EQ(runWith(fresh,
                    [](dlgInsertFunction& dd) {
                      choose(dd, {"otPPIClient"});
                      dd.form->treeWidget->clearSelection();
                      QTest::mouseClick(dd.form->pushButtonInsert, Qt::LeftButton);
                    }),
            "");
}

TEST(DialogInsertFunction, DoubleClickInsertsACallButOnlyOpensACategory) {
  dlgInsertFunction d;
  int doubleClicks = 0;
  QObject::connect(d.form->treeWidget, &QTreeWidget::itemDoubleClicked,
                   [&doubleClicks] { ++doubleClicks; });
  // QTest's double click alone does not reach the view as one: a click comes first.
  auto doubleClick = [](QTreeWidget* t, QTreeWidgetItem* item) {
    t->scrollToItem(item);
    QPoint at = t->visualItemRect(item).center();
    QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(t->viewport(), Qt::LeftButton, {}, at);
  };
  bool stayedOpen = false;
  bool opened = false;
  QString text = runWith(d, [&](dlgInsertFunction& dd) {
    QTreeWidget* t = dd.form->treeWidget;
    QTreeWidgetItem* kind = find(t, {"hxFunctions", "hxQSlider(...);"});
    t->expandItem(kind->parent());
    doubleClick(t, kind);
    stayedOpen = dd.isVisible();
    opened = kind->isExpanded();
    doubleClick(t, find(t, {"hxFunctions", "hxQSlider(...);", "hxSetValue(p,id,value);"}));
  });
  EXPECT_EQ(doubleClicks, 2);
  EXPECT_TRUE(stayedOpen);
  EXPECT_TRUE(opened);
  EXPECT_EQ(text, "hxSetValue(p,id,value);");
}
