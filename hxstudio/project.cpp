// A studio project: a folder of masks, a tag table and the generated server.
#include "project.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

#include "ottagtable.h"
#include "uiform.h"

namespace {

const QRegularExpression& maskPattern() {
  static const QRegularExpression re("^mask([1-9][0-9]{0,5})\\.ui$");
  return re;
}

int maskNumber(const QString& file) {
  QRegularExpressionMatch m = maskPattern().match(file);
  return m.hasMatch() ? m.captured(1).toInt() : -1;
}

}  // namespace

QString StudioProject::name() const {
  return QFileInfo(folder).fileName();
}

int StudioProject::open(const QString& folder, StudioProject* out, QString* error) {
  QString dummy;
  if (error == nullptr) error = &dummy;
  QFileInfo info(folder);
  if (folder.isEmpty() || !info.isDir()) {
    *error = folder + ": not a folder";
    return -1;
  }
  StudioProject p;
  p.folder = QDir::cleanPath(info.absoluteFilePath());
  QStringList files = QDir(p.folder).entryList({"mask*.ui"}, QDir::Files);
  for (const QString& f : files)
    if (maskNumber(f) > 0) p.masks << f;
  std::sort(p.masks.begin(), p.masks.end(),
            [](const QString& a, const QString& b) { return maskNumber(a) < maskNumber(b); });
  if (out != nullptr) *out = p;
  return 0;
}

int StudioProject::create(const QString& folder, StudioProject* out, QString* error) {
  QString dummy;
  if (error == nullptr) error = &dummy;
  if (folder.isEmpty() || !QDir().mkpath(folder)) {
    *error = folder + ": cannot make the folder";
    return -1;
  }
  StudioProject p;
  if (open(folder, &p, error) != 0) return -1;
  if (!p.masks.isEmpty() || QFileInfo::exists(p.tagsPath())) {
    *error = p.folder + " holds a project already";
    return -1;
  }
  UiForm form;
  form.formClass = "mask1";
  form.root.className = "QWidget";
  form.root.name = "mask1";
  form.root.setProperty(uiRect("geometry", QRect(0, 0, 640, 480)));
  form.root.setProperty(uiString("windowTitle", p.name()));
  if (uiSave(p.path("mask1.ui"), form, error) != 0) return -1;
  std::string e;
  if (otTagTable().write(QFile::encodeName(p.tagsPath()).constData(), &e) != 0) {
    *error = "tags.txt: " + QString::fromStdString(e);
    return -1;
  }
  p.masks = QStringList{"mask1.ui"};
  if (out != nullptr) *out = p;
  return 0;
}

QString StudioProject::nextMaskName() const {
  int max = 0;
  for (const QString& m : masks)
    max = std::max(max, maskNumber(m));
  return QString("mask%1.ui").arg(max + 1);
}
