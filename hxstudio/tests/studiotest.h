// Helpers of the generator tests: forms built node by node, a tag table, and the compile of a
// generated project against this build tree's server library.
#ifndef HXSTUDIO_TESTS_STUDIOTEST_H
#define HXSTUDIO_TESTS_STUDIOTEST_H

#include <stdlib.h>
#include <sys/wait.h>

#include <QString>
#include <string>

#include "ottagtable.h"
#include "studiokinds.h"
#include "uiform.h"

namespace studiotest {

// The tags of the demo daemon (examples/demo.mkmodbus) the tests bind to.
const char kTags[] =
    "# name  header cycle index type scale offset unit write address\n"
    "seconds  demo.h 1 0 short 1   0 \"s\" - -\n"
    "sine60   demo.h 1 1 short 1   0 -    - -\n"
    "level    demo.h 1 2 short 0.1 0 \"%\" - -\n"
    "setpoint demo.h 3 0 short 1   0 -    register 1,0\n"
    "valve    demo.h 4 0 bit   1   0 -    coil 1,0\n";

inline otTagTable tags() {
  otTagTable t;
  std::string error;
  t.parse(kTags, &error);
  return t;
}

inline UiNode node(const char* tag, const QString& name, int x = 10, int y = 10, int w = 100,
                   int h = 30) {
  UiNode n;
  const StudioKind* k = studioKindByTag(tag);
  n.className = k ? k->uiClass : "QWidget";
  n.name = name;
  n.setProperty(uiRect("geometry", QRect(x, y, w, h)));
  n.setProperty(uiString("statusTip", tag));
  return n;
}

inline UiNode bound(UiNode n, const QString& tag) {
  UiProperty p = uiString(STUDIO_TAG_PROPERTY, tag);
  p.stdset = false;
  n.setProperty(p);
  return n;
}

inline UiForm form(const QString& name = "mask1", int w = 640, int h = 480) {
  UiForm f;
  f.formClass = name;
  f.root.className = "QWidget";
  f.root.name = name;
  f.root.setProperty(uiRect("geometry", QRect(0, 0, w, h)));
  return f;
}

// A mask with a widget of every kind, pages in the tab widget and tool box, the placeholders
// with their files, every bindable kind bound.
inline UiForm everyKind() {
  UiForm f = studiotest::form();
  int k = 0;
  for (int i = 0; i < studioKindCount(); i++) {
    const StudioKind& kind = studioKinds()[i];
    QString tag = kind.tag;
    if (tag == "TQWidget:") continue;
    ++k;
    UiNode n = node(kind.tag, QString("w%1").arg(k), 10 * k, 5 * k);
    if (tag == "TQTabWidget:" || tag == "TQToolBox:") {
      for (int page = 1; page <= 2; page++) {
        UiNode pg = node("TQWidget:", QString("w%1_page%2").arg(k).arg(page));
        pg.removeProperty("geometry");
        pg.attributes << uiString(tag == "TQTabWidget:" ? "title" : "label",
                                  QString("Page \"%1\"").arg(page));
        pg.children << node("TQLabel:", QString("w%1_label%2").arg(k).arg(page));
        n.children << pg;
      }
    }
    if (tag == "TQImage:") n.setProperty(uiString("whatsThis", "picture.png"));
    if (tag == "TQDraw:") n.setProperty(uiString("whatsThis", "plant.svg"));
    if (tag == "TQCustomWidget:") n.setProperty(uiString("whatsThis", "/libgauge/gauge:1,2"));
    if (kind.binding == 1) n = bound(n, "level");
    if (kind.binding & 2) n = bound(n, tag == "TQPushButton:" ? "valve" : "setpoint");
    f.root.children << n;
  }
  return f;
}

inline std::string q(const std::string& s) {
  return "'" + s + "'";
}

// Compiles and links every .cpp of dir into dir/server against this build tree (pkg-config
// otserver); 0, or the compiler's status with its output in *log.
inline int compileProject(const std::string& dir, std::string* log) {
  std::string out = dir + "/compile.log";
  std::string cmd = "cd " + q(dir) + " && export PKG_CONFIG_PATH=" + q(HX_PKGCONFIG_DIR) + " && " +
                    HX_CXX + " -std=c++17 -Wall -Wextra -Wpedantic -Wshadow -Werror " +
                    HX_CXXFLAGS + " -DSTUDIO_PROJECT_DIR=" + q("\"" + dir + "\"") +
                    " *.cpp $(pkg-config --cflags --libs otserver) -o server > " + q(out) + " 2>&1";
  int status = system(cmd.c_str());
  FILE* f = fopen(out.c_str(), "r");
  log->clear();
  if (f) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
      log->append(buf, n);
    fclose(f);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace studiotest

#endif
