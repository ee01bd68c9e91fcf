// The image widget: how pictures are fitted and painted, what is refused before anything is
// allocated, and the event lines it sends to a real server socket on loopback.
#include "qttestmain.h"

#include <climits>
#include <string>
#include <vector>

#include <QBuffer>
#include <QCursor>
#include <QImage>
#include <QTest>

#include "otoptions.h"
#include "qimagewidget.h"
#include "tcputil.h"
#include "testutil.h"
#include "fakeserver.h"

namespace {

QImage filled(int w, int h, QColor c) {
  QImage i(w, h, QImage::Format_ARGB32);
  i.fill(c);
  return i;
}

QByteArray jpegOf(const QImage& i) {
  QByteArray bytes;
  QBuffer b(&bytes);
  b.open(QIODevice::WriteOnly);
  i.save(&b, "JPG");
  return bytes;
}

const unsigned char* bytesOf(const QByteArray& a) {
  return reinterpret_cast<const unsigned char*>(a.constData());
}

QImage shot(QWidget* w) {
  return w->grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

// Colours within the loss of a JPEG round trip.
bool near(QColor a, QColor b, int tolerance = 24) {
  return abs(a.red() - b.red()) <= tolerance && abs(a.green() - b.green()) <= tolerance &&
         abs(a.blue() - b.blue()) <= tolerance;
}

class QImageWidgetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    top.resize(700, 600);
    top.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&top));
  }
  QImageWidget* place(int w, int h, int* sock = nullptr) {
    auto* widget = new QImageWidget(sock, 5, &top, "image");
    widget->setGeometry(10, 10, w, h);
    widget->show();
    return widget;
  }
  QWidget top;
};

struct FitRow {
  int pw, ph, ww, wh;  // picture, widget
  int sw, sh;          // shown
};

TEST_F(QImageWidgetTest, FilePicturesAreFittedOnlyWhenTooLarge) {
  ottest::TempDir dir;
  const std::vector<FitRow> rows = {
      {640, 480, 320, 320, 320, 240},  // wider than tall: the width rules
      {100, 100, 320, 240, 100, 100},  // smaller: own size, never enlarged
      {200, 400, 100, 100, 50, 100},   // taller than wide
  };
  for (const FitRow& r : rows) {
    SCOPED_TRACE(std::to_string(r.pw) + "x" + std::to_string(r.ph));
    std::string file = dir.file("p.png");
    ASSERT_TRUE(filled(r.pw, r.ph, Qt::red).save(QString::fromStdString(file)));
    QImageWidget* w = place(r.ww, r.wh);
    ASSERT_EQ(0, w->setImage(file.c_str(), 0));
    EXPECT_EQ(QSize(r.pw, r.ph), w->sourcePicture().size());
    EXPECT_EQ(QSize(r.sw, r.sh), w->shownPicture().size());
    // Painted from the top left corner; the rest of the widget stays background.
    QImage s = shot(w);
    EXPECT_EQ(QColor(Qt::red), s.pixelColor(0, 0));
    EXPECT_EQ(QColor(Qt::red), s.pixelColor(r.sw - 1, r.sh - 1));
    if (r.sw < r.ww) {
      EXPECT_NE(QColor(Qt::red), s.pixelColor(r.sw, 0));
    }
    if (r.sh < r.wh) {
      EXPECT_NE(QColor(Qt::red), s.pixelColor(0, r.sh));
    }
    delete w;
  }
}

TEST_F(QImageWidgetTest, ResizeRefitsAndRotationTurnsThePicture) {
  QImage quarters(64, 32, QImage::Format_ARGB32);
  quarters.fill(Qt::blue);
  for (int y = 0; y < 32; y++)
    for (int x = 0; x < 32; x++)
      quarters.setPixelColor(x, y, Qt::green);  // left half
  QImageWidget* w = place(200, 200);
  ASSERT_EQ(0, w->setImage(&quarters));
  EXPECT_EQ(QSize(64, 32), w->recordedGeometry().size());

  ottest::TempDir dir;
  std::string file = dir.file("q.png");
  ASSERT_TRUE(quarters.save(QString::fromStdString(file)));
  ASSERT_EQ(0, w->setImage(file.c_str(), 90));
  // Turned clockwise: the left half is now on top.
  ASSERT_EQ(QSize(32, 64), w->sourcePicture().size());
  QImage s = shot(w);
  EXPECT_EQ(QColor(Qt::green), s.pixelColor(16, 8));
  EXPECT_EQ(QColor(Qt::blue), s.pixelColor(16, 56));

  w->resize(16, 16);
  QCoreApplication::processEvents();
  EXPECT_EQ(QSize(8, 16), w->shownPicture().size());
}

TEST_F(QImageWidgetTest, JpegBlocksDecodeAndBadOnesKeepThePicture) {
  QImageWidget* w = place(320, 240);
  QByteArray good = jpegOf(filled(80, 60, QColor(200, 40, 40)));
  ASSERT_EQ(0, w->setJpegImage(bytesOf(good), good.size(), 0));
  EXPECT_TRUE(near(QColor(200, 40, 40), shot(w).pixelColor(40, 30)));

  const char noPicture[] = "\xff\xd8\xff\xe0 this is no picture";
  QByteArray garbage(noPicture, (int)sizeof(noPicture) - 1);
  QByteArray cut = good.left(20);
  // A header that claims 8200 x 8200 pixels, just above the bound (the decoder would fill in
  // the missing rows): refused from the header, before decoding.
  QByteArray huge = good;
  int sof = huge.indexOf("\xff\xc0");
  ASSERT_GT(sof, 0);
  huge[sof + 5] = huge[sof + 7] = (char)0x20;
  huge[sof + 6] = huge[sof + 8] = (char)0x08;
  EXPECT_EQ(-1, w->setJpegImage(bytesOf(garbage), garbage.size(), 0));
  EXPECT_EQ(-1, w->setJpegImage(bytesOf(cut), cut.size(), 0));
  EXPECT_EQ(-1, w->setJpegImage(bytesOf(huge), huge.size(), 0));
  EXPECT_EQ(-1, w->setJpegImage(nullptr, 10, 0));
  EXPECT_EQ(-1, w->setJpegImage(bytesOf(good), 0, 0));
  // Refused from the count alone: the buffer is never read that far.
  EXPECT_EQ(-1, w->setJpegImage(bytesOf(good), (int)QIMAGE_MAX_JPEG_BYTES + 1, 0));
  EXPECT_EQ(QSize(80, 60), w->shownPicture().size());
  EXPECT_TRUE(near(QColor(200, 40, 40), shot(w).pixelColor(40, 30)));
}

TEST_F(QImageWidgetTest, RgbaPixelsRowByRowWithinTheirBounds) {
  QImageWidget* w = place(100, 100);
  // 2 x 2 native ARGB words: red, green / blue, half-transparent white.
  const uint32_t px[4] = {0xffff0000u, 0xff00ff00u, 0xff0000ffu, 0x80ffffffu};
  auto* bytes = reinterpret_cast<const unsigned char*>(px);
  ASSERT_EQ(0, w->setRGBA(bytes, 2, 2, 0, sizeof px));
  const QImage& p = w->shownPicture();
  EXPECT_EQ(QColor(Qt::red), p.pixelColor(0, 0));
  EXPECT_EQ(QColor(Qt::green), p.pixelColor(1, 0));
  EXPECT_EQ(QColor(Qt::blue), p.pixelColor(0, 1));
  EXPECT_EQ(0x80, p.pixelColor(1, 1).alpha());
  EXPECT_TRUE(w->perhapsSetMask());

  // Each refused before anything is read or allocated; the picture stays.
  EXPECT_EQ(-1, w->setRGBA(bytes, 2, 2, 0, sizeof px - 1));
  EXPECT_EQ(-1, w->setRGBA(nullptr, 2, 2, 0, 16));
  EXPECT_EQ(-1, w->setRGBA(bytes, 0, 2, 0, 16));
  EXPECT_EQ(-1, w->setRGBA(bytes, 2, -1, 0, 16));
  EXPECT_EQ(-1, w->setRGBA(bytes, INT_MAX, INT_MAX, 0, LLONG_MAX));
  EXPECT_EQ(-1, w->setRGBA(bytes, 8193, 8192, 0, LLONG_MAX));  // 64 Mpixel + 8192
  EXPECT_EQ(-1, w->setRGBA(bytes, 65536, 65536));
  EXPECT_EQ(QColor(Qt::red), w->shownPicture().pixelColor(0, 0));

  // Larger than the recorded geometry: scaled down, aspect ratio kept; turned when asked.
  std::vector<uint32_t> frame(400 * 100, 0xff00ff00u);
  ASSERT_EQ(0, w->setRGBA(reinterpret_cast<const unsigned char*>(frame.data()), 400, 100, 0));
  EXPECT_EQ(QSize(100, 25), w->shownPicture().size());
  ASSERT_EQ(0, w->setRGBA(reinterpret_cast<const unsigned char*>(frame.data()), 400, 100, 90));
  EXPECT_EQ(QSize(25, 100), w->shownPicture().size());
}

TEST_F(QImageWidgetTest, ServerNamesStayInTheDownloadsFolder) {
  ottest::TempDir dir, elsewhere;
  ottest::ScopedChdir in(elsewhere.path());
  snprintf(opt.download_dir, sizeof(opt.download_dir), "%s", dir.path().c_str());
  const std::string outside = elsewhere.file("outside.bmp");
  ASSERT_TRUE(filled(10, 10, Qt::blue).save(QString::fromStdString(dir.file("pic.bmp"))));
  ASSERT_TRUE(filled(10, 10, Qt::red).save(QString::fromStdString(outside)));
  QImageWidget* w = place(50, 50);
  for (const char* name : {outside.c_str(), "../pic.bmp", "sub/pic.bmp", "a\\pic.bmp", "..", "",
                           static_cast<const char*>(nullptr)})
    EXPECT_EQ(-1, w->setImageFromServer(name, 0)) << (name ? name : "null");
  EXPECT_TRUE(w->shownPicture().isNull());
  EXPECT_EQ(-1, w->setImageFromServer("missing.bmp", 0));
  // A link in the folder, a FIFO and a hidden name are refused, without blocking on the FIFO.
  ASSERT_EQ(0, symlink(outside.c_str(), dir.file("link.bmp").c_str()));
  ASSERT_EQ(0, mkfifo(dir.file("fifo.bmp").c_str(), 0600));
  ASSERT_TRUE(filled(10, 10, Qt::red).save(QString::fromStdString(dir.file(".hidden.bmp"))));
  for (const char* name : {"link.bmp", "fifo.bmp", ".hidden.bmp"})
    EXPECT_EQ(-1, w->setImageFromServer(name, 0)) << name;
  EXPECT_TRUE(w->shownPicture().isNull());
  // Names are looked up in the downloads folder, not in the working directory.
  ASSERT_TRUE(filled(10, 10, Qt::red).save("only-here.bmp"));
  EXPECT_EQ(-1, w->setImageFromServer("only-here.bmp", 0));
  ASSERT_EQ(0, w->setImageFromServer("pic.bmp", 0));
  EXPECT_EQ(QColor(Qt::blue), w->shownPicture().pixelColor(0, 0));
  // The studio's own loads take any path.
  EXPECT_EQ(0, w->setImage(outside.c_str(), 0));
}

class QImageWidgetEvents : public QImageWidgetTest {
 protected:
  void SetUp() override {
    QImageWidgetTest::SetUp();
    tcp_init();
    ASSERT_GT(server.port(), 0);
    sock = tcp_con("127.0.0.1", server.port());
    ASSERT_GE(sock, 1);
    ASSERT_TRUE(server.accept());
  }
  void TearDown() override {
    tcp_close(&sock);
    tcp_free();
  }
  FakeServer server;
  int sock = -1;
};

TEST_F(QImageWidgetEvents, MouseAndEnterLeaveLines) {
  QImageWidget* w = place(100, 80, &sock);
  QTest::mousePress(w, Qt::LeftButton, {}, QPoint(10, 20));
  EXPECT_EQ("QPushButton(5) -xy=10,20", server.readLine());
  QTest::mouseRelease(w, Qt::LeftButton, {}, QPoint(11, 21));
  EXPECT_EQ("QPushButtonReleased(5) -xy=11,21", server.readLine());

  // A middle press says nothing (the next line is the right press); its release does.
  QTest::mousePress(w, Qt::MiddleButton, {}, QPoint(30, 40));
  QTest::mousePress(w, Qt::RightButton, {}, QPoint(30, 40));
  EXPECT_EQ("QMouseRight(5)", server.readLine());
  QTest::mouseRelease(w, Qt::MiddleButton, {}, QPoint(30, 40));
  EXPECT_EQ("QPushButtonReleased(5) -xy=30,40", server.readLine());
  // Released outside the widget: nothing.
  QTest::mouseRelease(w, Qt::RightButton, {}, QPoint(150, 40));

  QEvent enter(QEvent::Enter), leave(QEvent::Leave);
  QCoreApplication::sendEvent(w, &enter);
  QCoreApplication::sendEvent(w, &enter);
  EXPECT_EQ("mouseEnterLeave(5,1)", server.readLine());
  EXPECT_EQ("mouseEnterLeave(5,1)", server.readLine());
  QCoreApplication::sendEvent(w, &leave);
  EXPECT_EQ("mouseEnterLeave(5,0)", server.readLine());
  EXPECT_EQ(nullptr, QGuiApplication::overrideCursor());
}

TEST_F(QImageWidgetEvents, ClipboardCarriesThePictureAsJpeg) {
  QImageWidget* w = place(100, 80, &sock);
  EXPECT_EQ(-1, w->sendJpeg2clipboard());  // no picture yet: nothing sent
  QImage picture = filled(40, 30, QColor(30, 60, 200));
  ASSERT_EQ(0, w->setImage(&picture));
  int sent = w->sendJpeg2clipboard();
  ASSERT_GT(sent, 0);
  // A line after the block marks its end; the block may hold line feeds of its own.
  QTest::mousePress(w, Qt::RightButton);
  std::string head = server.readLine();
  EXPECT_EQ("@clipboard(5," + std::to_string(sent) + ")", head);
  std::string all;
  while (all.size() <= (size_t)sent + 15) {
    all += server.readLine() + "\n";
    if (all.size() >= 15 && all.compare(all.size() - 15, 15, "QMouseRight(5)\n") == 0) break;
  }
  ASSERT_EQ((size_t)sent + 15, all.size());
  QImage back = QImage::fromData(reinterpret_cast<const uchar*>(all.data()), sent, "JPG");
  ASSERT_EQ(QSize(40, 30), back.size());
  EXPECT_TRUE(near(QColor(30, 60, 200), back.pixelColor(20, 15)));
}

}  // namespace
