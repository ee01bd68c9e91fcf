#include "otserverfiles.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QMimeDatabase>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextFrame>
#include <QUrl>
#include <set>
#include <string>

#include "otcutil.h"
#include "otfd.h"
#include "otfilename.h"
#include "otlog.h"
#include "otoptions.h"

namespace {

// Sum of the sizes of the regular files in the folder, but for skip.
long long folderBytes(int dir, const char* skip) {
  int copy = dup(dir);
  if (copy < 0) return -1;
  DIR* d = fdopendir(copy);
  if (d == nullptr) {
    close(copy);
    return -1;
  }
  rewinddir(d);
  long long total = 0;
  while (dirent* e = readdir(d)) {
    if (skip != nullptr && strcmp(e->d_name, skip) == 0) continue;
    struct stat st;
    if (fstatat(dir, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
      total += st.st_size;
  }
  closedir(d);
  return total;
}

// The downloads folder with symbolic links resolved, "" when it does not exist.
QString downloadsPath() {
  char real[PATH_MAX];
  if (opt.download_dir[0] == '\0' || realpath(opt.download_dir, real) == nullptr) return QString();
  return QString::fromLocal8Bit(real);
}

// The file a reference names, when it is a plain name of the downloads folder or a file: URL
// inside it; "" otherwise.
QByteArray plainName(const QString& ref) {
  QString name = ref;
  if (ref.startsWith("file:", Qt::CaseInsensitive)) {
    QString local = QUrl(ref).toLocalFile();
    int slash = local.lastIndexOf('/');
    QString dir = downloadsPath();
    if (slash < 0 || dir.isEmpty() || local.left(slash) != dir) return QByteArray();
    name = local.mid(slash + 1);
  }
  QByteArray bytes = name.toLocal8Bit();
  if (otServerFileNameRefusal(bytes.constData()) != nullptr) return QByteArray();
  return bytes;
}

// The bytes of a downloaded file as a data: URL; "" when the file cannot be served.
QByteArray dataUrl(const QString& ref, long long max) {
  QByteArray name = plainName(ref);
  QByteArray data;
  if (name.isEmpty() || otReadServerFile(name.constData(), max, &data) != 0) return QByteArray();
  QByteArray mime = QMimeDatabase().mimeTypeForData(data).name().toLatin1();
  return "data:" + mime + ";base64," + data.toBase64();
}

const long long kMaxResourceBytes = 16LL * 1024 * 1024;

// A document that loads what rich text names only from the downloads folder and remembers
// what it was asked for, so that the names can be replaced.
class ServerDocument : public QTextDocument {
 public:
  // What each name was replaced by: a data: URL, or "" for a refused one.
  QMap<QString, QString> replaced;

 protected:
  QVariant loadResource(int type, const QUrl& name) override {
    QString ref = name.toString();
    if (ref.startsWith("data:", Qt::CaseInsensitive))
      return QTextDocument::loadResource(type, name);
    if (!replaced.contains(ref)) {
      QByteArray url = dataUrl(ref, kMaxResourceBytes);
      if (url.isEmpty())
        otServerFileRefused(ref.toUtf8().constData(), "outside the downloads folder");
      replaced.insert(ref, QString::fromLatin1(url));
    }
    // Nothing is shown here: this document only finds the names.
    return QVariant();
  }
};

// Puts the replacement of every resource name into the formats of the document.
void rename(ServerDocument* doc, QTextFormat* f, bool* changed) {
  if (f->isImageFormat()) {
    QTextImageFormat im = f->toImageFormat();
    auto it = doc->replaced.find(im.name());
    if (it != doc->replaced.end()) {
      f->setProperty(QTextFormat::ImageName, it.value());
      *changed = true;
    }
  }
  if (f->hasProperty(QTextFormat::BackgroundImageUrl)) {
    auto it = doc->replaced.find(f->property(QTextFormat::BackgroundImageUrl).toString());
    if (it != doc->replaced.end()) {
      f->setProperty(QTextFormat::BackgroundImageUrl, it.value());
      *changed = true;
    }
  }
}

void renameFrames(ServerDocument* doc, QTextFrame* frame) {
  QTextFrameFormat ff = frame->frameFormat();
  bool changed = false;
  rename(doc, &ff, &changed);
  if (changed) frame->setFrameFormat(ff);
  for (QTextFrame* child : frame->childFrames())
    renameFrames(doc, child);
}

}  // namespace

void otServerFileRefused(const char* name, const char* why) {
  static std::set<std::string> told;
  std::string key = std::string(why) + '\n' + (name != nullptr ? name : "");
  if (told.count(key) != 0 || told.size() >= 4096) return;
  told.insert(key);
  otLog(OT_LOG_WARNING, "otclient: file \"%s\" refused: %s\n", name != nullptr ? name : "", why);
}

int otOpenDownloadsDir(const char** why) {
  const char* reason = nullptr;
  int fd = -1;
  if (opt.download_dir[0] == '\0') {
    reason = "no downloads folder configured";
  } else {
    fd = open(opt.download_dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && otMakeFolders(opt.download_dir, 0700) == 0)
      fd = open(opt.download_dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat dir;
    if (fd < 0) {
      reason = "the downloads folder cannot be opened";
    } else if (fstat(fd, &dir) != 0 || otIsSameFile(".", dir)) {
      reason = "the downloads folder is the working directory";
      close(fd);
      fd = -1;
    }
  }
  if (why != nullptr) *why = reason;
  return fd;
}

int otOpenServerFile(const char* name) {
  const char* why = otServerFileNameRefusal(name);
  otFd dir(why == nullptr ? otOpenDownloadsDir(&why) : -1);
  if (why != nullptr) {
    otServerFileRefused(name, why);
    return -1;
  }
  // Non-blocking: opening a FIFO for reading would otherwise wait for a writer.
  otFd fd(openat(dir.get(), name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ELOOP) otServerFileRefused(name, "a symbolic link");
    return -1;
  }
  struct stat st;
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    otServerFileRefused(name, "not a regular file");
    return -1;
  }
  int flags = fcntl(fd.get(), F_GETFL);
  if (flags >= 0) fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
  return fd.release();
}

int otReadServerFile(const char* name, long long max, QByteArray* data) {
  if (data == nullptr) return -1;
  otFd fd(otOpenServerFile(name));
  struct stat st;
  if (fd.get() < 0 || fstat(fd.get(), &st) != 0) return -1;
  if (st.st_size > max || st.st_size > INT_MAX / 2) {
    otServerFileRefused(name, "too large");
    return -1;
  }
  data->resize((int)st.st_size);
  long long got = 0;
  while (got < st.st_size) {
    ssize_t n = read(fd.get(), data->data() + got, (size_t)(st.st_size - got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += n;
  }
  // A file that shrank while it was read is taken as far as it goes.
  data->resize((int)got);
  return 0;
}

int otReadServerResource(const QString& ref, QByteArray* data) {
  QByteArray name = plainName(ref);
  if (name.isEmpty()) {
    otServerFileRefused(ref.toUtf8().constData(), "outside the downloads folder");
    return -1;
  }
  return otReadServerFile(name.constData(), kMaxResourceBytes, data);
}

otServerFileWriter::~otServerFileWriter() {
  abort();
}

int otServerFileWriter::begin(const char* name, long long size) {
  abort();
  const char* why = otServerFileNameRefusal(name);
  if (why == nullptr && size < 0) why = "negative size";
  if (why == nullptr) dir_ = otOpenDownloadsDir(&why);
  struct stat st;
  if (why == nullptr && fstatat(dir_, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode))
    why = S_ISLNK(st.st_mode) ? "a symbolic link" : "not a regular file";
  if (why == nullptr) {
    long long used = folderBytes(dir_, name);
    long long limit = (long long)opt.download_max_mb * 1024 * 1024;
    if (used < 0 || used + size > limit) why = "the downloads folder would exceed its size limit";
  }
  if (why == nullptr) {
    static unsigned counter = 0;
    snprintf(temp_, sizeof(temp_), ".download-%ld-%u", (long)getpid(), counter++);
    fd_ = openat(dir_, temp_, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) why = "cannot be written";
  }
  if (why != nullptr) {
    otServerFileRefused(name, why);
    temp_[0] = '\0';
    abort();
    return -1;
  }
  snprintf(name_, sizeof(name_), "%s", name);
  return 0;
}

int otServerFileWriter::write(const char* data, int len) {
  if (fd_ < 0 || len < 0) return -1;
  int off = 0;
  while (off < len) {
    ssize_t n = ::write(fd_, data + off, (size_t)(len - off));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    off += (int)n;
  }
  return 0;
}

int otServerFileWriter::commit() {
  if (fd_ < 0) return -1;
  bool ok = close(fd_) == 0;
  fd_ = -1;
  // A link or FIFO put in the name's place meanwhile is replaced, not followed.
  ok = ok && renameat(dir_, temp_, dir_, name_) == 0;
  if (!ok) {
    otServerFileRefused(name_, "cannot be written");
    abort();
    return -1;
  }
  temp_[0] = '\0';
  abort();
  return 0;
}

void otServerFileWriter::abort() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (dir_ >= 0 && temp_[0] != '\0') unlinkat(dir_, temp_, 0);
  temp_[0] = '\0';
  if (dir_ >= 0) close(dir_);
  dir_ = -1;
}

QString otServerRichText(const QString& text) {
  if (!Qt::mightBeRichText(text)) return text;
  ServerDocument doc;
  doc.setHtml(text);
  doc.size();  // lays the text out, which asks for its images
  if (doc.replaced.isEmpty()) return text;
  for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
    QTextBlockFormat bf = b.blockFormat();
    bool changed = false;
    rename(&doc, &bf, &changed);
    if (changed) QTextCursor(b).setBlockFormat(bf);
    for (auto it = b.begin(); !it.atEnd(); ++it) {
      QTextFragment fr = it.fragment();
      QTextCharFormat cf = fr.charFormat();
      changed = false;
      rename(&doc, &cf, &changed);
      if (!changed) continue;
      QTextCursor c(&doc);
      c.setPosition(fr.position());
      c.setPosition(fr.position() + fr.length(), QTextCursor::KeepAnchor);
      c.setCharFormat(cf);
    }
  }
  renameFrames(&doc, doc.rootFrame());
  QString safe = doc.toHtml();
  // Whatever kind of reference was not found above makes the text plain: better a page
  // without its looks than a file read from elsewhere.
  ServerDocument check;
  check.setHtml(safe);
  check.size();
  for (auto it = check.replaced.begin(); it != check.replaced.end(); ++it)
    if (!it.key().isEmpty()) return doc.toPlainText().toHtmlEscaped();
  return safe;
}

QByteArray otServerSvg(const QByteArray& svg) {
  if (!svg.contains("href")) return svg;
  QByteArray out;
  out.reserve(svg.size());
  int from = 0;
  for (int at = svg.indexOf("href", 0); at >= 0; at = svg.indexOf("href", at + 4)) {
    char before = at > 0 ? svg[at - 1] : ' ';
    if (before != ':' && before != ' ' && before != '\t' && before != '\n' && before != '\r')
      continue;
    int p = at + 4;
    while (p < svg.size() && (svg[p] == ' ' || svg[p] == '\t' || svg[p] == '\n' || svg[p] == '\r'))
      p++;
    if (p >= svg.size() || svg[p] != '=') continue;
    p++;
    while (p < svg.size() && (svg[p] == ' ' || svg[p] == '\t' || svg[p] == '\n' || svg[p] == '\r'))
      p++;
    if (p >= svg.size() || (svg[p] != '"' && svg[p] != '\'')) continue;
    int end = svg.indexOf(svg[p], p + 1);
    if (end < 0) break;
    QByteArray value = svg.mid(p + 1, end - p - 1);
    if (value.startsWith('#') || value.startsWith("data:")) continue;
    QByteArray url;
    // An entity in the value could spell anything: only plain names are served.
    if (!value.contains('&')) url = dataUrl(QString::fromUtf8(value), kMaxResourceBytes);
    if (url.isEmpty()) otServerFileRefused(value.constData(), "outside the downloads folder");
    out.append(svg.constData() + from, p + 1 - from);
    out.append(url);
    from = end;
    at = end - 3;
  }
  out.append(svg.constData() + from, svg.size() - from);
  return out;
}

QNetworkReply* otServerFilesNetwork::createRequest(Operation op, const QNetworkRequest& request,
                                                   QIODevice* outgoingData) {
  const QUrl url = request.url();
  bool allowed = url.scheme() == "data" && op == GetOperation;
  if (!allowed && url.isLocalFile() && op == GetOperation) {
    QByteArray name = plainName(url.toString());
    struct stat st;
    allowed = !name.isEmpty() &&
              lstat(QFile::encodeName(url.toLocalFile()).constData(), &st) == 0 &&
              S_ISREG(st.st_mode);
  }
  if (allowed) return QNetworkAccessManager::createRequest(op, request, outgoingData);
  refused_++;
  otServerFileRefused(url.toString().toUtf8().constData(), "outside the downloads folder");
  // An unknown scheme: the reply fails at once, and nothing leaves the machine.
  return QNetworkAccessManager::createRequest(op, QNetworkRequest(QUrl("refused:")), outgoingData);
}
