#include "journal.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const qint64 kMaxJournal = 64 << 20;

QString why(const QString& what, const QString& path) {
  return QString("%1 %2: %3").arg(what, path, QString::fromLocal8Bit(strerror(errno)));
}

bool mtimeOf(const QByteArray& path, struct timespec* t) {
  struct stat st;
  if (stat(path.constData(), &st) != 0) return false;
  *t = st.st_mtim;
  return true;
}

}  // namespace

QString journalPathFor(const QString& maskPath) {
  return maskPath + ".journal";
}

int journalWrite(const QString& path, const QByteArray& text, QString* error) {
  QByteArray target = QFile::encodeName(path);
  QByteArray temp = target + ".tmp-XXXXXX";
  int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = why("cannot create", QFile::decodeName(temp));
    return -1;
  }
  const char* p = text.constData();
  qint64 left = text.size();
  bool ok = true;
  while (left > 0) {
    ssize_t n = ::write(fd, p, (size_t)left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    p += n;
    left -= n;
  }
  // The data must be on the disk before the name points at it, or a power cut could leave
  // an empty journal where the old one was.
  ok = ok && fsync(fd) == 0;
  if (!ok && error) *error = why("cannot write", QFile::decodeName(temp));
  if (::close(fd) != 0 && ok) {
    ok = false;
    if (error) *error = why("cannot write", QFile::decodeName(temp));
  }
  if (ok && ::rename(temp.constData(), target.constData()) != 0) {
    ok = false;
    if (error) *error = why("cannot rename to", path);
  }
  if (!ok) {
    ::unlink(temp.constData());
    return -1;
  }
  QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
  int dfd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    ::close(dfd);
  }
  return 0;
}

int journalRemove(const QString& path) {
  if (::unlink(QFile::encodeName(path).constData()) == 0 || errno == ENOENT) return 0;
  return -1;
}

void journalCleanup(const QString& path) {
  QFileInfo info(path);
  QDir dir = info.absoluteDir();
  for (const QString& f :
       dir.entryList({info.fileName() + ".tmp-??????"}, QDir::Files | QDir::Hidden))
    dir.remove(f);
}

int journalRead(const QString& path, QByteArray* text, QString* error) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) {
    if (error) *error = QString("cannot read %1: %2").arg(path, f.errorString());
    return -1;
  }
  if (f.size() > kMaxJournal) {
    if (error) *error = QString("%1: larger than %2 bytes").arg(path).arg(kMaxJournal);
    return -1;
  }
  *text = f.read(kMaxJournal + 1);
  if (text->size() > kMaxJournal) {
    if (error) *error = QString("%1: larger than %2 bytes").arg(path).arg(kMaxJournal);
    return -1;
  }
  return 0;
}

int journalPending(const QString& maskPath) {
  QString jpath = journalPathFor(maskPath);
  struct timespec jt, mt;
  if (!mtimeOf(QFile::encodeName(jpath), &jt)) return 0;
  if (mtimeOf(QFile::encodeName(maskPath), &mt)) {
    if (jt.tv_sec < mt.tv_sec || (jt.tv_sec == mt.tv_sec && jt.tv_nsec < mt.tv_nsec)) return 0;
    QFile m(maskPath), j(jpath);
    if (m.open(QIODevice::ReadOnly) && j.open(QIODevice::ReadOnly) && m.size() == j.size() &&
        m.size() <= kMaxJournal && m.readAll() == j.readAll())
      return 0;
  }
  return 1;
}
