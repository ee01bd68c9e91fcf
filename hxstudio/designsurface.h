// The design surface of one mask: the mask's root (a plain QWidget of the mask's size) holding
// live client widgets on a grid of dots, and a transparent overlay above the root that takes
// every mouse and key event, so that the design widgets never react to the mouse themselves.
//
// Every edit is one command on the mask's undo stack; after each command (and each undo and
// redo) the mask's .ui text goes to its journal when one is set.
#ifndef HXSTUDIO_DESIGNSURFACE_H
#define HXSTUDIO_DESIGNSURFACE_H

#include <QList>
#include <QPointer>
#include <QRubberBand>
#include <QScrollArea>
#include <QStringList>
#include <functional>

#include "maskcommands.h"
#include "uiform.h"

class QMimeData;
class QUndoStack;
class dlgInsertWidget;
class otTagTable;
class DesignSurface;

// The mime type of widgets on the clipboard: the .ui text of a form whose root holds them,
// at their positions in the mask's coordinates.
#define STUDIO_WIDGETS_MIME "application/x-otkit-ui-widgets"
// The mime type of a widget's name dragged out of the surface (Ctrl and drag) or the widget
// tree: the object name in UTF-8. The source editor asks what to insert for it.
#define STUDIO_WIDGET_NAME_MIME "application/x-otkit-widget-name"

// A drag's data for a widget's name: the name mime type, and the name as plain text.
QMimeData* studioWidgetNameMime(const QString& name);

// Moves the bindings of n and its children offset addresses on: a tag bound by name becomes
// the tag of the same header, cycle and type at index + offset. A binding whose tag or target
// is missing is dropped and reported, one line each. The bindings moved.
int maskRetargetTags(UiNode* n, const otTagTable& tags, int offset, QStringList* report);

// Paints the grid behind the root.
class DesignCanvas : public QWidget {
  Q_OBJECT
 public:
  explicit DesignCanvas(QWidget* parent = nullptr) : QWidget(parent) {}

 protected:
  void paintEvent(QPaintEvent*) override;
};

// The transparent pane above the root: all mouse and key handling of the surface, and the
// selection's frames, handles and rubber band.
class DesignOverlay : public QWidget {
  Q_OBJECT
 public:
  explicit DesignOverlay(DesignSurface* surface, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  bool focusNextPrevChild(bool) override { return false; }

 private:
  DesignSurface* surface_;
};

class DesignSurface : public QScrollArea {
  Q_OBJECT
 public:
  enum Tool { SelectTool, InsertTool };
  enum Align { AlignLeft, AlignRight, AlignTop, AlignBottom, AlignHCenter, AlignVCenter };
  enum Size { SameWidth, SameHeight, SameSize };
  // Handles of a widget's frame, clockwise from the top left corner.
  enum Handle {
    NoHandle = -1,
    TopLeft,
    Top,
    TopRight,
    Right,
    BottomRight,
    Bottom,
    BottomLeft,
    Left
  };

  // inserter: the window's one insert dialog (it remembers the kind between uses).
  explicit DesignSurface(dlgInsertWidget* inserter, QWidget* parent = nullptr);
  ~DesignSurface() override;

  // Builds the mask of f in place of the current one and empties the undo stack; warnings
  // of widgets the studio cannot show, one a line. Widgets whose name is empty or taken
  // already get fresh names (warned, and the mask counts as changed).
  void load(const UiForm& f, QString* warnings = nullptr);
  QString formClass() const { return formClass_; }
  UiForm form() const;
  QByteArray text() const;  // uiFormat(form())
  QWidget* root() const { return root_; }
  QWidget* overlay() const;
  QUndoStack* undoStack() const { return stack_; }

  // Changed since the last save: commands since the clean state, or a recovered state.
  bool modified() const;
  void setRecovered(bool on);
  // After a save: the clean state, the journal removed.
  void markSaved();
  // Where the journal goes; empty: none.
  void setJournalPath(const QString& path) { journalPath_ = path; }
  QString journalPath() const { return journalPath_; }

  // The tag table of the project (names for the property dialog, paste with offset).
  void setTagTable(const otTagTable* tags) { tags_ = tags; }

  Tool tool() const { return tool_; }
  void setTool(Tool t);

  // The selection: design widgets of the mask, the reference widget (same size) first.
  QList<QWidget*> selection() const;
  void setSelection(const QList<QWidget*>& widgets);
  void selectAll();
  void clearSelection() { setSelection(QList<QWidget*>()); }

  // Hit tests in the root's coordinates: the design widget under a point (a page counts as
  // its tab widget or tool box), null over the bare root; the container that an insert at the
  // point fills (root, frame, group box, tab page, tool-box page).
  QWidget* widgetAt(const QPoint& p) const;
  QWidget* containerAt(const QPoint& p) const;
  // The rectangle of a handle of w, in the root's coordinates.
  QRect handleRect(QWidget* w, Handle h) const;
  Handle handleAt(const QPoint& p, QWidget** w) const;

  // The commands. Each is one undo step and returns 0, or -1 when it did nothing.
  // Insert at p (root coordinates): ask shows the insert dialog first. The new widget or null.
  QWidget* insertAt(const QPoint& p, bool ask);
  int moveSelection(int dx, int dy);
  int setWidgetGeometry(QWidget* w, const QRect& r, const QString& what);
  int deleteSelection();
  int raiseSelection();
  int lowerSelection();
  int alignSelection(Align a);
  int sameSize(Size s);
  int distribute(Qt::Orientation o);
  int copySelection();
  int cutSelection();
  // Pastes the clipboard's widgets into the root (one grid step further on when they came from
  // this mask); with a tag offset the bindings move that many addresses (see
  // maskRetargetTags), the lines of *report say what was dropped. The widgets pasted.
  int paste(int tagOffset = 0, QStringList* report = nullptr);
  // Asks N and pastes with offset N.
  int pasteWithOffset();
  // Ends a mouse gesture under way (a move or resize becomes its command), so that an undo or
  // redo that comes in the middle of a drag finds the history whole.
  void finishGesture();
  // The property dialog on w: one undo step however often it applies.
  int editProperties(QWidget* w);
  // The same recording for a change made by code: edit changes w's own properties.
  int changeProperties(QWidget* w, const std::function<void(QWidget*)>& edit);

 signals:
  void selectionChanged();
  // After every command, undo and redo.
  void edited();
  void modifiedChanged(bool modified);
  void message(const QString& text);
  void toolChanged(DesignSurface::Tool tool);

 private:
  friend class DesignOverlay;
  int removeSelection(const QString& verb);
  QList<QWidget*> topMostSelection() const;
  QList<QWidget*> treeOrder(QList<QWidget*> ws) const;
  QRect rootRect(const QWidget* w) const;
  bool isPage(const QWidget* w) const;
  bool nameTaken(const QString& name, const QWidget* except) const;
  void uniqueNames(QWidget* w);
  void push(const QString& text, const QVector<MaskOp>& ops, int mergeKey = 0);
  void afterStackChange();
  void writeJournal();
  int recordPropertyStep(QWidget* w, UiNode* before, QStringList* path, int key);
  QString clipIdentity() const;
  void layoutCanvas();

  // Mouse gestures of the overlay.
  // Turns a tab widget or tool box to the page whose tab lies at p; true when one does.
  bool showPageAt(QWidget* w, const QPoint& p);
  void press(const QPoint& p, Qt::KeyboardModifiers mods);
  void drag(const QPoint& p);
  void release(const QPoint& p, Qt::KeyboardModifiers mods);
  void doubleClick(const QPoint& p);
  void key(QKeyEvent* e);
  void paintOverlay(QPainter* painter);

  dlgInsertWidget* inserter_;
  DesignCanvas* canvas_;
  QWidget* root_ = nullptr;
  DesignOverlay* overlay_;
  QUndoStack* stack_;
  QString formClass_;
  QString journalPath_;
  const otTagTable* tags_ = nullptr;
  bool recovered_ = false;
  bool loading_ = false;
  bool wasModified_ = false;
  Tool tool_ = SelectTool;
  QList<QPointer<QWidget>> selection_;
  int propertySession_ = 0;

  enum Gesture { Idle, Pressed, Moving, Resizing, Banding, Inserting, NameDragging };
  Gesture gesture_ = Idle;
  QPoint pressPos_;
  QPointer<QWidget> pressWidget_;
  QList<QPointer<QWidget>> dragWidgets_;
  QVector<QPoint> dragOrigins_;
  MaskPropsRecorder dragRecorder_;
  QRect resizeOrigin_;
  Handle resizeHandle_ = NoHandle;
  QRubberBand* band_ = nullptr;
  Qt::KeyboardModifiers pressMods_;
};

#endif
