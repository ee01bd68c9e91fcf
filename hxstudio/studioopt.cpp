#include "studioopt.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

StudioOptions studioOpt;

QString studioOptionsPath() {
  QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (base.isEmpty()) base = QDir::homePath() + "/.config";
  return base + "/otkit/hxstudio.ini";
}

int studioLoadOptions(const QString& path) {
  if (!QFileInfo::exists(path)) return 0;
  QSettings ini(path, QSettings::IniFormat);
  if (ini.status() != QSettings::NoError) return -1;
  ini.beginGroup("editor");
  studioOpt.xGrid = ini.value("xGrid", studioOpt.xGrid).toInt();
  studioOpt.yGrid = ini.value("yGrid", studioOpt.yGrid).toInt();
  studioOpt.debug = ini.value("debug", studioOpt.debug).toInt();
  studioOpt.script = ini.value("script", studioOpt.script).toInt();
  ini.endGroup();
  return 0;
}

int studioSaveOptions(const QString& path) {
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) return -1;
  QSettings ini(path, QSettings::IniFormat);
  ini.beginGroup("editor");
  ini.setValue("xGrid", studioOpt.xGrid);
  ini.setValue("yGrid", studioOpt.yGrid);
  ini.setValue("debug", studioOpt.debug);
  ini.setValue("script", studioOpt.script);
  ini.endGroup();
  ini.sync();
  return ini.status() == QSettings::NoError ? 0 : -1;
}
