// A studio project: a folder with one .ui file per mask (mask1.ui, mask2.ui, ...), the tag
// table "tags.txt", the daemons' headers the table names, the generated server sources, the
// user's event files and a CMakeLists.txt that builds the server against pkg-config otserver.
#ifndef HXSTUDIO_PROJECT_H
#define HXSTUDIO_PROJECT_H

#include <QString>
#include <QStringList>

struct StudioProject {
  QString folder;     // absolute
  QStringList masks;  // the mask files' names in the folder, by their number ("mask1.ui", ...)

  QString name() const;  // the folder's base name: the server program's name
  QString path(const QString& file) const { return folder + "/" + file; }
  QString tagsPath() const { return path("tags.txt"); }

  // Reads the folder: the masks present. 0, or -1 and *error (not a folder).
  static int open(const QString& folder, StudioProject* out, QString* error);
  // A new project: the folder (made when missing), an empty mask1.ui of 640 x 480 and an empty
  // tag table. 0, or -1 and *error; a folder that already holds a project is refused.
  static int create(const QString& folder, StudioProject* out, QString* error);
  // The file name of the next new mask ("mask3.ui" after mask1 and mask2).
  QString nextMaskName() const;
};

#endif
