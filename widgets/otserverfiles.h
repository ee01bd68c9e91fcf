// Files that a display server sends or names. They all live in the client's downloads folder
// (opt.download_dir), never in its working directory, and are reached only by a plain name:
// the last component is never a link, only regular files are taken (a FIFO or a device never
// blocks the client), and the folder's total size is bounded (opt.download_max_mb).
// Resources that SVG or rich text from the server names are served from the same folder only.
// All functions belong to the GUI thread.
#ifndef OTSERVERFILES_H
#define OTSERVERFILES_H

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QString>

#include "otfilename.h"

// Prints "otclient: file "name" refused: why" once per name and reason (the first 4096).
void otServerFileRefused(const char* name, const char* why);

// Opens the downloads folder, making it (0700, with its missing parents) when needed. A
// descriptor the caller closes, or -1 with the reason in *why: no folder configured, not
// a folder, or the working directory.
int otOpenDownloadsDir(const char** why);

// Opens the server's file name for reading. A descriptor the caller closes, or -1; a refusal
// is printed once per name (a missing file is not a refusal and is not printed).
int otOpenServerFile(const char* name);

// Reads the whole of the server's file name when it holds at most max bytes. 0, or -1.
int otReadServerFile(const char* name, long long max, QByteArray* data);

// Writes one file the server sends. The bytes go to a hidden file of the folder first and
// take the name only when all of them arrived, so that a broken download leaves nothing
// behind and the old file stays until the new one is whole.
class otServerFileWriter {
 public:
  otServerFileWriter() = default;
  ~otServerFileWriter();
  otServerFileWriter(const otServerFileWriter&) = delete;
  otServerFileWriter& operator=(const otServerFileWriter&) = delete;

  // Prepares name for size bytes. 0, or -1 with the refusal printed: the name, a folder that
  // cannot be used, an entry of that name that is no regular file (a link, a FIFO, a folder),
  // or a folder that would then exceed its size limit.
  int begin(const char* name, long long size);
  // Appends len bytes. 0, or -1 when the disk refuses them.
  int write(const char* data, int len);
  // Gives the file its name. 0, or -1 (the file is removed).
  int commit();
  // Removes what was written.
  void abort();

 private:
  int dir_ = -1;
  int fd_ = -1;
  char name_[1024] = "";
  char temp_[64] = "";
};

// The bytes of what a reference from a server's page names: a plain name or a file: URL of
// the downloads folder (at most 16 MiB). 0, or -1 (refused, printed once per name; missing).
int otReadServerResource(const QString& ref, QByteArray* data);

// The rich text with every resource it names (images, backgrounds) taken from the downloads
// folder as data: URLs, or left out when it lies elsewhere (an absolute path, "..", a file:
// or remote URL). Plain text comes back unchanged.
QString otServerRichText(const QString& text);

// The SVG text with every external reference (href, xlink:href) replaced by the file's bytes
// as a data: URL when it names a file of the downloads folder, else emptied. References
// within the document ("#id") and data: URLs stay.
QByteArray otServerSvg(const QByteArray& svg);

// A network access manager for pages that show what a server sent: data: URLs and files
// inside the downloads folder are served, every other request fails at once.
class otServerFilesNetwork : public QNetworkAccessManager {
  Q_OBJECT
 public:
  explicit otServerFilesNetwork(QObject* parent = nullptr) : QNetworkAccessManager(parent) {}
  // Requests refused so far.
  int refused() const { return refused_; }

 protected:
  QNetworkReply* createRequest(Operation op, const QNetworkRequest& request,
                               QIODevice* outgoingData) override;

 private:
  int refused_ = 0;
};

#endif
