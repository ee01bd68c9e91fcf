#include "qimagewidget.h"

#include <string.h>

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QTransform>

#include "mywidgets_p.h"
#include "otcutil.h"
#include "otserverfiles.h"
#include "tcputil.h"

namespace {

bool withinPixelBound(long long w, long long h) {
  return w >= 1 && h >= 1 && w * h <= QIMAGE_MAX_PIXELS;
}

// The picture turned by degrees; a null image when the turned picture, which grows for angles
// that are not a multiple of 90, would exceed the pixel bound.
QImage rotated(const QImage& picture, int degrees) {
  int d = degrees % 360;
  if (d == 0 || picture.isNull()) return picture;
  QTransform t;
  t.rotate(d);
  // The bounding rectangle of the turned picture, with room for the rounding of transformed().
  QRect r = QImage::trueMatrix(t, picture.width(), picture.height()).mapRect(picture.rect());
  if (!withinPixelBound((long long)r.width() + 2, (long long)r.height() + 2)) return QImage();
  return picture.transformed(t);
}

}  // namespace

QImageWidget::QImageWidget(int* sock, int ident, QWidget* parent, const char* name, int wflags)
    : QWidget(parent, Qt::WindowFlags(wflags)), s(sock), id(ident) {
  myNameWidget(this, name);
}

int QImageWidget::setImage(const char* filename, int rotate) {
  if (filename == nullptr || *filename == '\0') return -1;
  QImageReader reader(QString::fromUtf8(filename));
  return takeFromReader(reader, rotate);
}

int QImageWidget::setImageFromServer(const char* filename, int rotate) {
  // What the server may name is what it may have downloaded: a file of the downloads folder.
  QByteArray bytes;
  if (otReadServerFile(filename, QIMAGE_MAX_FILE_BYTES, &bytes) != 0) return -1;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::ReadOnly)) return -1;
  QImageReader reader(&buffer);
  return takeFromReader(reader, rotate);
}

int QImageWidget::setJpegImage(const unsigned char* jpeg, int buffersize, int rotate) {
  if (jpeg == nullptr || buffersize < 1 || buffersize > QIMAGE_MAX_JPEG_BYTES) return -1;
  clearMask();
  QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(jpeg), buffersize);
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::ReadOnly)) return -1;
  QImageReader reader(&buffer, "JPG");
  return takeFromReader(reader, rotate);
}

int QImageWidget::takeFromReader(QImageReader& reader, int rotate) {
  // The header's size is known before the decoder allocates; a reader that cannot tell it is
  // refused rather than trusted.
  QSize size = reader.size();
  if (!withinPixelBound(size.width(), size.height())) return -1;
  QImage picture;
  if (!reader.read(&picture)) return -1;
  picture = rotated(picture, rotate);
  if (picture.isNull()) return -1;
  showPicture(picture);
  return 0;
}

void QImageWidget::showPicture(const QImage& picture) {
  sourceImage = picture;
  scale(width(), height());
  update();
}

int QImageWidget::setRGBA(const unsigned char* pixels, int width, int height, int rotate,
                          long long buffersize) {
  if (pixels == nullptr || !withinPixelBound(width, height)) return -1;
  size_t rowBytes = (size_t)width * 4;
  if (buffersize < (long long)rowBytes * height) return -1;
  QImage picture(width, height, QImage::Format_ARGB32);
  if (picture.isNull()) return -1;
  for (int row = 0; row < height; row++)
    memcpy(picture.scanLine(row), pixels + rowBytes * (size_t)row, rowBytes);
  clearMask();
  picture = rotated(picture, rotate);
  if (picture.isNull()) return -1;
  if (recW > 0 && recH > 0 && (picture.width() > recW || picture.height() > recH))
    picture = picture.scaled(recW, recH, Qt::KeepAspectRatio, Qt::FastTransformation);
  sourceImage = picture;
  shownImage = picture;
  update();
  return 0;
}

int QImageWidget::setRGBA(const unsigned char* pixels, int width, int height, int rotate) {
  if (!withinPixelBound(width, height)) return -1;
  return setRGBA(pixels, width, height, rotate, (long long)width * height * 4);
}

int QImageWidget::setImage(const QImage* image) {
  if (image == nullptr || image->isNull()) return -1;
  clearMask();
  QImage picture = *image;
  if (recW > 0 && recH > 0 && (picture.width() > recW || picture.height() > recH))
    picture = picture.scaled(recW, recH, Qt::KeepAspectRatio, Qt::FastTransformation);
  sourceImage = picture;
  shownImage = picture;
  recW = picture.width();
  recH = picture.height();
  update();
  return 0;
}

void QImageWidget::scale(int w, int h) {
  shownImage = sourceImage;
  if (w >= 1 && h >= 1 && (sourceImage.width() > w || sourceImage.height() > h))
    shownImage = sourceImage.scaled(w, h, Qt::KeepAspectRatio, Qt::FastTransformation);
  clearMask();
}

void QImageWidget::setGeometry(int x, int y, int w, int h) {
  recX = x;
  recY = y;
  recW = w;
  recH = h;
  scale(w, h);
  QWidget::setGeometry(x, y, w, h);
  update(0, 0, w, h);
}

int QImageWidget::sendJpeg2clipboard() {
  if (sourceImage.isNull()) return -1;
  QByteArray jpeg;
  QBuffer buffer(&jpeg);
  if (!buffer.open(QIODevice::WriteOnly) || !sourceImage.save(&buffer, "JPG")) return -1;
  if (jpeg.size() > QIMAGE_MAX_JPEG_BYTES) return -1;
  int r = myEvent(s, nullptr, "@clipboard(%d,%d)", id, jpeg.size());
  if (r < 0) return r;
  return tcp_send(s, jpeg.constData(), jpeg.size());
}

bool QImageWidget::perhapsSetMask() const {
  return shownImage.hasAlphaChannel();
}

void QImageWidget::paintEvent(QPaintEvent* e) {
  if (shownImage.isNull()) return;
  QPainter painter(this);
  painter.setClipRegion(e->region());
  painter.drawImage(0, 0, shownImage);
}

void QImageWidget::resizeEvent(QResizeEvent* e) {
  scale(e->size().width(), e->size().height());
  QWidget::resizeEvent(e);
}

void QImageWidget::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton)
    myEvent(s, nullptr, "QPushButton(%d) -xy=%d,%d", id, e->x(), e->y());
  else if (e->button() == Qt::RightButton)
    myEvent(s, nullptr, "QMouseRight(%d)", id);
  // Accepted whatever the button: the release then comes to this widget.
  e->accept();
}

void QImageWidget::mouseReleaseEvent(QMouseEvent* e) {
  if (rect().contains(e->pos()))
    myEvent(s, nullptr, "QPushButtonReleased(%d) -xy=%d,%d", id, e->x(), e->y());
  e->accept();
}

// No override cursor is set here: a pair of enters without a leave between them (a popup,
// a grab) would stack cursors that no leave removes.
void QImageWidget::enterEvent(QEvent* e) {
  myEvent(s, nullptr, "mouseEnterLeave(%d,1)", id);
  QWidget::enterEvent(e);
}

void QImageWidget::leaveEvent(QEvent* e) {
  myEvent(s, nullptr, "mouseEnterLeave(%d,0)", id);
  QWidget::leaveEvent(e);
}
