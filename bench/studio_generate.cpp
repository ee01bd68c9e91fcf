// The studio's code generation against Qt's own: a mask of 2000 widgets (labels, buttons,
// sliders, LCD numbers, frames holding children, Qwt meters, a third of them bound to tags) is
// written as a .ui file; each round loads it (uiLoad) and generates its server source
// (studioGenerateMask), against uic generating C++ from the same file as a process. Both are
// timed the same way, wall clock per mask, in interleaved rounds after a warm-up. The last line
// is the ratio of the median rates, ours / uic.
//   bench_studio_generate [ROUNDS]
#include <stdio.h>
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <functional>

#include "benchrounds.h"
#include "generator.h"
#include "studio_undo.h"
#include "ottagtable.h"
#include "studiokinds.h"
#include "uiform.h"

namespace {

const int kWidgets = 2000;

UiNode widget(const char* tag, const QString& name, int x, int y, int w, int h) {
  UiNode n;
  n.className = studioKindByTag(tag)->uiClass;
  n.name = name;
  n.setProperty(uiRect("geometry", QRect(x, y, w, h)));
  n.setProperty(uiString("statusTip", tag));
  return n;
}

void bind(UiNode& n, const char* tag) {
  UiProperty p = uiString(STUDIO_TAG_PROPERTY, tag);
  p.stdset = false;
  n.setProperty(p);
}

UiForm bigMask() {
  UiForm f;
  f.formClass = "mask1";
  f.root.className = "QWidget";
  f.root.name = "mask1";
  f.root.setProperty(uiRect("geometry", QRect(0, 0, 1920, 1080)));
  int made = 0;
  for (int k = 0; made < kWidgets; k++) {
    int x = 10 + (k % 16) * 118, y = 10 + (k / 16) * 34;
    QString name = QString("obj%1").arg(made + 1);
    switch (k % 6) {
      case 0: {
        UiNode n = widget("TQLabel:", name, x, y, 110, 30);
        n.setProperty(uiString("text", QString("value %1").arg(k)));
        n.setProperty(uiString("statusTip", "TQLabel:font:"));
        UiProperty font;
        font.name = "font";
        font.type = "font";
        font.fields = {{"family", "DejaVu Sans"}, {"pointsize", "10"}};
        n.setProperty(font);
        bind(n, "sine60");
        f.root.children << n;
        made++;
        break;
      }
      case 1: {
        UiNode n = widget("TQPushButton:", name, x, y, 110, 30);
        n.setProperty(uiString("text", "Start"));
        n.setProperty(uiString("toolTip", "starts the pump"));
        f.root.children << n;
        made++;
        break;
      }
      case 2: {
        UiNode n = widget("TQSlider:", name, x, y, 110, 30);
        n.setProperty(uiNumber("minimum", 0));
        n.setProperty(uiNumber("maximum", 1000));
        n.setProperty(uiNumber("singleStep", 10));
        n.setProperty(uiNumber("value", 0));
        n.setProperty(uiEnum("orientation", "Qt::Horizontal"));
        bind(n, "setpoint");
        f.root.children << n;
        made++;
        break;
      }
      case 3: {
        UiNode n = widget("TQLCDNumber:", name, x, y, 110, 30);
        n.setProperty(uiNumber("digitCount", 5));
        n.setProperty(uiEnum("mode", "QLCDNumber::Dec"));
        n.setProperty(uiEnum("segmentStyle", "QLCDNumber::Filled"));
        f.root.children << n;
        made++;
        break;
      }
      case 4: {
        UiNode frame = widget("TQFrame:", name, x, y, 110, 30);
        frame.setProperty(uiEnum("frameShape", "QFrame::Box"));
        frame.setProperty(uiEnum("frameShadow", "QFrame::Sunken"));
        frame.setProperty(uiNumber("lineWidth", 1));
        made++;
        if (made < kWidgets) {
          UiNode inner = widget("TQLabel:", QString("obj%1").arg(made + 1), 2, 2, 100, 26);
          inner.setProperty(uiString("text", "inside"));
          frame.children << inner;
          made++;
        }
        f.root.children << frame;
        break;
      }
      default: {
        UiNode n = widget("TQwtThermo:", name, x, y, 110, 30);
        bind(n, "level");
        f.root.children << n;
        made++;
        break;
      }
    }
  }
  return f;
}

// The design surface's undo over this mask: 10 000 random edits undone one by one. The line
// comes before the ratio, which stays last.
void undoSteps(const UiForm& mask) {
  const int steps = 10000;
  const double ms = undoStepsMs(steps, &mask);
  printf("undo on this mask: %d steps in %.1f ms (%.3f ms each)\n", steps, ms, ms / steps);
}

}  // namespace

int main(int argc, char** argv) {
  // The undo steps run on live design widgets, offscreen.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  // One mask a round and side; more rounds than the usual, as one mask is quickly made.
  const int rounds = std::max(otBenchRounds, argc > 1 ? atoi(argv[1]) : 10);
  QTemporaryDir dir;
  const QString path = dir.filePath("mask1.ui"), out = dir.filePath("ui_mask1.h");
  QString error;
  const UiForm mask = bigMask();
  if (!dir.isValid() || uiSave(path, mask, &error) != 0) {
    printf("studio_generate: %s\n", qPrintable(error));
    return 1;
  }
  otTagTable tags;
  std::string e;
  if (tags.parse("sine60 demo.h 1 1 short 1 0 - - -\n"
                 "level demo.h 1 2 short 0.1 0 \"%\" - -\n"
                 "setpoint demo.h 3 0 short 1 0 - register 1,0\n",
                 &e) != 0) {
    printf("studio_generate: %s\n", e.c_str());
    return 1;
  }

  long bytes = 0;
  auto ours = [&]() {
    UiForm f;
    QString h, s, err;
    if (uiLoad(path, &f, &err) != 0 || studioGenerateMask(f, 1, tags, &h, &s, &err) != 0) {
      printf("studio_generate: %s\n", qPrintable(err));
      exit(1);
    }
    bytes = h.size() + s.size();
  };
  auto uic = [&]() {
    QProcess p;
    p.start(QStringLiteral(OTKIT_UIC), {"-g", "cpp", "-o", out, path});
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
      printf("studio_generate: uic failed: %s\n", p.readAllStandardError().constData());
      exit(1);
    }
  };
  auto rate = [&](const std::function<void()>& run) {
    QElapsedTimer t;
    t.start();
    run();
    return 1e9 / std::max<qint64>(1, t.nsecsElapsed());
  };
  ours();  // warm-up: caches, the file in the page cache
  uic();
  otBenchSide oursSide("ours (uiLoad + studioGenerateMask)", "masks/s");
  otBenchSide uicSide("uic -g cpp (a process)", "masks/s");
  for (int k = 0; k < rounds; k++) {
    oursSide.add(rate(ours));
    uicSide.add(rate(uic));
  }
  printf("mask of %d widgets, generated source of %ld characters\n", kWidgets, bytes);
  oursSide.print();
  uicSide.print();
  printf("ms a mask: ours %.1f, uic %.1f\n", 1000 / oursSide.median(), 1000 / uicSide.median());
  undoSteps(mask);
  otBenchRatio("ratio ours/uic", oursSide, uicSide, {&oursSide, &uicSide});
  return 0;
}
