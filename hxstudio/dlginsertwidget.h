// The insert-widget dialog: the catalogue of widget kinds a mask can hold, and newWidget,
// which builds the chosen kind on the design surface, snapped to the grid, with a default size
// and a fresh object name.
#ifndef HXSTUDIO_DLGINSERTWIDGET_H
#define HXSTUDIO_DLGINSERTWIDGET_H

#include <QDialog>

class QObject;
class QWidget;
class Ui_DialogInsertWidget;

class dlgInsertWidget : public QDialog {
  Q_OBJECT
 public:
  explicit dlgInsertWidget(QWidget* parent = nullptr);
  ~dlgInsertWidget() override;
  int run();
  // Builds the checked kind as a child of parent at (x, y) in parent's coordinates; root is the
  // mask's top widget (for naming). The new widget, or null (nothing checked, a title dialog
  // cancelled, a null parent).
  QWidget* newWidget(QWidget* root, QWidget* parent, int x, int y);

  int result;
  QWidget* grabWidget;
  Ui_DialogInsertWidget* form;

 public slots:
  void slotOk();
  void slotCancel();
};

// Names w "obj<N>" with N one above the highest number in use under root.
void setDefaultObjectName(QWidget* root, QWidget* w);
// Raises *max to the number of every object under o named "obj<digits>..." (fewer than 80
// characters).
void findMax(QObject* o, int* max);
// Geometry of design widgets; image and drawing widgets redraw their content. No effect on a
// null widget.
void myMove(QWidget* w, int x, int y);
void mySetGeometry(QWidget* w, int x, int y, int width, int height);
void myResize(QWidget* w, int width, int height);

#endif
