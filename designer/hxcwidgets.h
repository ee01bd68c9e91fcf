// Qt Designer's stand-ins for the widgets that only the display client has: the drawing,
// image, GL and VTK widgets, the icon view and the widgets of a client's own libraries. Each is
// a framed label showing its icon, so that a mask can be laid out around it; the client builds
// the real widget in its place. A placeholder shows its whatsThis text (the file or library
// the studio reads from it) under the icon, read at each paint.
//
// Qt Designer keeps some properties of a form's widgets (whatsThis, toolTip) in its property
// sheet instead of setting them on the widget, so they are read from there.
#ifndef DESIGNER_HXCWIDGETS_H
#define DESIGNER_HXCWIDGETS_H

#include <QLabel>

// The icons, from the plug-in's resources.
#define HXC_PIXMAP_DRAW ":/pixmaps/hxcdraw.png"
#define HXC_PIXMAP_ICONVIEW ":/pixmaps/hxciconview.png"
#define HXC_PIXMAP_IMAGE ":/pixmaps/hxcimage.png"
#define HXC_PIXMAP_OPENGL ":/pixmaps/hxcopengl.png"
#define HXC_PIXMAP_VTK ":/pixmaps/hxcvtk.png"
#define HXC_PIXMAP_CUSTOMWIDGET ":/pixmaps/hxccustomwidget.png"

// A text property of a widget as Designer holds it (the widget's own outside Designer).
QString hxcDesignerText(QWidget* w, const char* property);

// What the six have in common: the frame, the icon and the caption.
class HxcPlaceholder : public QLabel {
  Q_OBJECT
 public:
  HxcPlaceholder(const char* pixmap, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* e) override;
};

class HxcDraw : public HxcPlaceholder {
  Q_OBJECT
 public:
  explicit HxcDraw(QWidget* parent = nullptr) : HxcPlaceholder(HXC_PIXMAP_DRAW, parent) {}
};

class HxcIconview : public HxcPlaceholder {
  Q_OBJECT
 public:
  explicit HxcIconview(QWidget* parent = nullptr) : HxcPlaceholder(HXC_PIXMAP_ICONVIEW, parent) {}
};

class HxcImage : public HxcPlaceholder {
  Q_OBJECT
 public:
  explicit HxcImage(QWidget* parent = nullptr) : HxcPlaceholder(HXC_PIXMAP_IMAGE, parent) {}
};

class HxcOpengl : public HxcPlaceholder {
  Q_OBJECT
 public:
  explicit HxcOpengl(QWidget* parent = nullptr) : HxcPlaceholder(HXC_PIXMAP_OPENGL, parent) {}
};

class HxcVtk : public HxcPlaceholder {
  Q_OBJECT
 public:
  explicit HxcVtk(QWidget* parent = nullptr) : HxcPlaceholder(HXC_PIXMAP_VTK, parent) {}
};

class HxcCustomWidget : public HxcPlaceholder {
  Q_OBJECT
 public:
  explicit HxcCustomWidget(QWidget* parent = nullptr)
      : HxcPlaceholder(HXC_PIXMAP_CUSTOMWIDGET, parent) {}
};

#endif
