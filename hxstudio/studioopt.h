// The studio's options record: the editor grid, the debug switch and the script language of
// the editor, kept in ~/.config/otkit/hxstudio.ini.
#ifndef HXSTUDIO_STUDIOOPT_H
#define HXSTUDIO_STUDIOOPT_H

#include <QString>

struct StudioOptions {
  int xGrid = 10;
  int yGrid = 10;
  int debug = 0;
  int script = 0;  // 5: the editor's script language is Lua

  // The grid steps to compute with: a step of 0 or less counts as 1.
  int gridX() const { return xGrid > 0 ? xGrid : 1; }
  int gridY() const { return yGrid > 0 ? yGrid : 1; }
};

extern StudioOptions studioOpt;

// The ini file: $HOME/.config/otkit/hxstudio.ini (XDG_CONFIG_HOME when set).
QString studioOptionsPath();
// Reads (missing file or keys: the defaults stay) and writes the record. 0, or -1.
int studioLoadOptions(const QString& path = studioOptionsPath());
int studioSaveOptions(const QString& path = studioOptionsPath());

#endif
