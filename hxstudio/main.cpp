// hxstudio: the studio. Without options it opens the project in the folder given (or the
// current folder) in its main window; -generate and -build work without a window.
//   hxstudio [FOLDER]
//   hxstudio -generate FOLDER     writes the project's server sources
//   hxstudio -build FOLDER        generates and builds the server with CMake
#include <stdio.h>
#include <string.h>

#include <QApplication>
#include <QDir>

#include "generator.h"
#include "generator_p.h"
#include "otlog.h"
#include "project.h"
#include "studioopt.h"
#include "studiowindow.h"

namespace {

int usage() {
  printf(
      "usage: hxstudio [FOLDER]\n"
      "       hxstudio -generate FOLDER\n"
      "       hxstudio -build FOLDER\n"
      "  FOLDER     the project: mask1.ui ..., tags.txt; the current folder by default\n"
      "  -generate  writes the server's sources (mask*_generated.*, main_generated.cpp,\n"
      "             CMakeLists.txt; mask*_events.cpp once)\n"
      "  -build     generates, then builds the server in FOLDER/build with CMake\n");
  return 2;
}

// -generate and -build: a core application only, output on the terminal.
int batch(int argc, char** argv, bool build) {
  QCoreApplication app(argc, argv);
  if (argc != 3) return usage();
  StudioProject p;
  QString error;
  if (StudioProject::open(QString::fromLocal8Bit(argv[2]), &p, &error) != 0) {
    otLog(OT_LOG_ERROR, "hxstudio: %s\n", qPrintable(error));
    return 1;
  }
  if (!build) {
    QVector<StudioBuildMessage> warnings;
    if (studioGenerate(p, &error, &warnings) != 0) {
      otLog(OT_LOG_ERROR, "hxstudio: %s\n", qPrintable(error));
      return 1;
    }
    fputs(qPrintable(studioWarningLines(warnings)), stdout);
    otLog(OT_LOG_INFO, "hxstudio: generated %s\n", qPrintable(p.folder));
    return 0;
  }
  QString log;
  int r = StudioBuilder::buildNow(p, &log);
  fputs(qPrintable(log), stdout);
  if (r != 0) {
    int errors = 0;
    for (const StudioBuildMessage& m : studioParseBuildOutput(log))
      errors += m.severity == "error" ? 1 : 0;
    otLog(OT_LOG_ERROR, "hxstudio: the build of %s failed (%d errors)\n", qPrintable(p.folder),
          errors);
    return 1;
  }
  otLog(OT_LOG_INFO, "hxstudio: built %s/build/%s\n", qPrintable(p.folder),
        qPrintable(studioProgramName(p)));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && strcmp(argv[1], "-generate") == 0) return batch(argc, argv, false);
  if (argc >= 2 && strcmp(argv[1], "-build") == 0) return batch(argc, argv, true);
  if (argc > 2 || (argc == 2 && argv[1][0] == '-')) return usage();
  QApplication app(argc, argv);
  studioLoadOptions();
  StudioWindow window;
  QString folder = argc == 2 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
  QString error;
  if (window.openProject(folder, &error) != 0)
    otLog(OT_LOG_ERROR, "hxstudio: %s: %s\n", qPrintable(folder), qPrintable(error));
  window.show();
  return app.exec();
}
