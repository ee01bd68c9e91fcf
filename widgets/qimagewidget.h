// The image widget of the display client: shows a picture the display server chose (an image
// file in the client's directory, a JPEG block sent over the connection, or raw 32-bit pixels
// such as a camera frame), fits it into the widget, and reports mouse clicks and enter/leave.
//
// Event lines (s, id as for every client widget; see mywidgets.h):
//   QPushButton(id) -xy=x,y          left button pressed at x,y (widget coordinates)
//   QMouseRight(id)                  right button pressed
//   QPushButtonReleased(id) -xy=x,y  any button released with the pointer over the widget
//   mouseEnterLeave(id,1), (id,0)    pointer entered, left
//   @clipboard(id,n) + n bytes       sendJpeg2clipboard: the picture as JPEG
//
// Pictures from outside are bounded before anything is allocated for them: a JPEG block of at
// most QIMAGE_MAX_JPEG_BYTES, and no picture (decoded, built from pixels, or rotated) above
// QIMAGE_MAX_PIXELS. A refused or undecodable picture leaves the shown one in place.
#ifndef QIMAGEWIDGET_H
#define QIMAGEWIDGET_H

#include <QImage>
#include <QWidget>

class QImageReader;

enum : long long {
  QIMAGE_MAX_PIXELS = 64LL * 1024 * 1024,      // width x height of any picture
  QIMAGE_MAX_JPEG_BYTES = 16LL * 1024 * 1024,  // one setJpegImage block
  QIMAGE_MAX_FILE_BYTES = 64LL * 1024 * 1024   // a picture file the server names
};

class QImageWidget : public QWidget {
  Q_OBJECT
 public:
  // wflags: Qt::WindowFlags as an int. name (may be null) becomes the object name.
  QImageWidget(int* s, int id, QWidget* parent = nullptr, const char* name = nullptr,
               int wflags = 0);

  // Loads any path (the studio passes full paths). rotate: degrees, 0 for none. 0, or -1 when
  // the file cannot be loaded or the picture is too large (nothing changes).
  int setImage(const char* filename, int rotate = 0);
  // What the display server's QImage and setImage lines call: only a plain name of a regular
  // file in the downloads folder, where @download put it, read without following a link
  // (otReadServerFile). Any other name, a link, a FIFO or a file above QIMAGE_MAX_FILE_BYTES is
  // refused (-1, nothing changes) so that a server cannot read other files of the client's
  // machine; otherwise as setImage.
  int setImageFromServer(const char* filename, int rotate = 0);
  // buffersize bytes of JPEG (1..QIMAGE_MAX_JPEG_BYTES). Clears the widget mask. 0, or -1 for a
  // refused size or a block that does not decode (the previous picture stays).
  int setJpegImage(const unsigned char* jpeg, int buffersize, int rotate = 0);
  // width x height pixels of 32-bit ARGB (QImage::Format_ARGB32: one native-endian 0xAARRGGBB
  // word per pixel), width*4 bytes per row, top row first. buffersize is the number of bytes
  // pixels holds; less than width*height*4 is refused. A picture larger than the recorded size
  // (when that is positive) is scaled down to fit it. 0, or -1 (nothing changes) for a null
  // buffer, a size below 1 or above QIMAGE_MAX_PIXELS, or a short buffer.
  int setRGBA(const unsigned char* pixels, int width, int height, int rotate, long long buffersize);
  // For callers in the process that own a buffer of exactly width*height*4 bytes.
  int setRGBA(const unsigned char* pixels, int width, int height, int rotate = 0);
  // As setRGBA from an image object (no rotation); the recorded w and h become its size.
  // 0, or -1 for a null pointer.
  int setImage(const QImage* image);

  // Fits the picture into w x h (aspect ratio kept) when it is larger; a smaller one is shown
  // at its own size, top left.
  void scale(int w, int h);
  using QWidget::setGeometry;
  void setGeometry(int x, int y, int w, int h);
  // The picture as JPEG to the server: "@clipboard(id,n)" and n bytes. What the last send
  // returned; -1 without sending when there is no picture or its JPEG exceeds
  // QIMAGE_MAX_JPEG_BYTES (the server would drop it).
  int sendJpeg2clipboard();
  // Whether the shown picture has an alpha channel.
  bool perhapsSetMask() const;

  const QImage& sourcePicture() const { return sourceImage; }
  const QImage& shownPicture() const { return shownImage; }
  QRect recordedGeometry() const { return QRect(recX, recY, recW, recH); }

  int* s;
  int id;

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void enterEvent(QEvent* e) override;
  void leaveEvent(QEvent* e) override;

 private:
  // Reads from reader within the pixel bound, rotates, and makes the result the picture.
  int takeFromReader(QImageReader& reader, int rotate);
  // Makes picture (already rotated) the source and shows it fitted to the widget.
  void showPicture(const QImage& picture);

  QImage sourceImage;                          // as loaded, after rotation
  QImage shownImage;                           // as painted
  int recX = 0, recY = 0, recW = 0, recH = 0;  // as given to setGeometry
};

#endif
