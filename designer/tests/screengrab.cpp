// The whole X screen as a PNG, for a look at a program running under Xvfb that cannot grab
// itself: screengrab FILE.png [R,G,B] prints, with a colour, how many pixels are near it.
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    fprintf(stderr, "usage: screengrab FILE.png [R,G,B]\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  const QImage shot = app.primaryScreen()->grabWindow(0).toImage();
  if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]))) {
    fprintf(stderr, "screengrab: cannot grab the screen into %s\n", argv[1]);
    return 1;
  }
  if (argc == 3) {
    int r = 0, g = 0, b = 0;
    if (sscanf(argv[2], "%d,%d,%d", &r, &g, &b) != 3) return 2;
    long near = 0;
    for (int y = 0; y < shot.height(); y++)
      for (int x = 0; x < shot.width(); x++) {
        const QColor c = shot.pixelColor(x, y);
        near += abs(c.red() - r) + abs(c.green() - g) + abs(c.blue() - b) <= 30;
      }
    printf("%ld\n", near);
  }
  return 0;
}
