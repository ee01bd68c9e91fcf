#include "designsurface.h"

#include <math.h>
#include <algorithm>

#include <QApplication>
#include <QClipboard>
#include <QDrag>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QSet>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBox>
#include <QAbstractButton>
#include <QUndoStack>

#include "dlginsertwidget.h"
#include "dlgproperty.h"
#include "journal.h"
#include "ottagtable.h"
#include "studiokinds.h"
#include "studioopt.h"
#include "uiwidgets.h"

namespace {

const int kHandle = 7;

int snap(int v, int g) {
  return g * (int)floor((double)v / g + 0.5);
}

// The design widgets under w, depth first, parents before children.
void collect(const QWidget* w, QVector<QWidget*>* out) {
  for (QWidget* c : uiDesignChildren(w)) {
    out->append(c);
    collect(c, out);
  }
}

QString tagOf(const QWidget* w) {
  return studioTagOf(w->statusTip());
}

bool isContainerTag(const QString& tag) {
  return tag == "TQFrame:" || tag == "TQGroupBox:" || tag == "TQWidget:" || tag == "TQButtonGroup:";
}

QString count(int n, const QString& what) {
  return n == 1 ? QString("1 %1").arg(what) : QString("%1 %2s").arg(n).arg(what);
}

void retarget(UiNode* n, const otTagTable& tags, int offset, QStringList* report, int* moved) {
  if (const UiProperty* p = n->property(STUDIO_TAG_PROPERTY)) {
    QString from = p->text;
    std::string name = from.toStdString();
    int i = tags.find(name);
    int target = -1;
    if (i >= 0) {
      const otTag& t = tags.tags[(size_t)i];
      for (size_t j = 0; j < tags.tags.size() && target < 0; j++) {
        const otTag& c = tags.tags[j];
        if (c.header == t.header && c.cycle == t.cycle && c.type == t.type &&
            (long)c.index == (long)t.index + offset)
          target = (int)j;
      }
      if (target < 0 && report)
        *report << QString("%1: no tag at index %2 of cycle %3 in %4 (%5 %6 %7); binding dropped")
                       .arg(n->name)
                       .arg((long)t.index + offset)
                       .arg(t.cycle)
                       .arg(QString::fromStdString(t.header), from,
                            offset < 0 ? QString("-") : QString("+"))
                       .arg(offset < 0 ? -offset : offset);
    } else if (report) {
      *report << QString("%1: tag %2 is not in the tag table; binding dropped").arg(n->name, from);
    }
    if (target >= 0) {
      UiProperty q = *p;
      q.text = QString::fromStdString(tags.tags[(size_t)target].name);
      n->setProperty(q);
      (*moved)++;
    } else {
      n->removeProperty(STUDIO_TAG_PROPERTY);
    }
  }
  for (UiNode& c : n->children)
    retarget(&c, tags, offset, report, moved);
}

}  // namespace

int maskRetargetTags(UiNode* n, const otTagTable& tags, int offset, QStringList* report) {
  int moved = 0;
  if (n != nullptr) retarget(n, tags, offset, report, &moved);
  return moved;
}

QMimeData* studioWidgetNameMime(const QString& name) {
  auto* mime = new QMimeData;
  mime->setData(STUDIO_WIDGET_NAME_MIME, name.toUtf8());
  mime->setText(name);
  return mime;
}

void DesignCanvas::paintEvent(QPaintEvent* e) {
  QPainter p(this);
  p.fillRect(e->rect(), palette().color(QPalette::Window));
  int gx = studioOpt.gridX(), gy = studioOpt.gridY();
  // Below three pixels the dots would be a grey plane, not a grid.
  if (gx < 3 || gy < 3) return;
  QPixmap tile(gx, gy);
  tile.fill(palette().color(QPalette::Window));
  {
    QPainter t(&tile);
    t.setPen(palette().color(QPalette::Dark));
    t.drawPoint(0, 0);
  }
  p.fillRect(e->rect(), QBrush(tile));
}

DesignOverlay::DesignOverlay(DesignSurface* surface, QWidget* parent)
    : QWidget(parent), surface_(surface) {
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  setAttribute(Qt::WA_NoSystemBackground);
  setObjectName("designOverlay");
}

void DesignOverlay::paintEvent(QPaintEvent*) {
  QPainter p(this);
  surface_->paintOverlay(&p);
}

void DesignOverlay::mousePressEvent(QMouseEvent* e) {
  setFocus(Qt::MouseFocusReason);
  if (e->button() == Qt::LeftButton) surface_->press(e->pos(), e->modifiers());
}

void DesignOverlay::mouseMoveEvent(QMouseEvent* e) {
  if (e->buttons() & Qt::LeftButton) {
    surface_->drag(e->pos());
    return;
  }
  QWidget* w = nullptr;
  switch (surface_->handleAt(e->pos(), &w)) {
    case DesignSurface::TopLeft:
    case DesignSurface::BottomRight:
      setCursor(Qt::SizeFDiagCursor);
      break;
    case DesignSurface::TopRight:
    case DesignSurface::BottomLeft:
      setCursor(Qt::SizeBDiagCursor);
      break;
    case DesignSurface::Top:
    case DesignSurface::Bottom:
      setCursor(Qt::SizeVerCursor);
      break;
    case DesignSurface::Left:
    case DesignSurface::Right:
      setCursor(Qt::SizeHorCursor);
      break;
    default:
      unsetCursor();
  }
}

void DesignOverlay::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) surface_->release(e->pos(), e->modifiers());
}

void DesignOverlay::mouseDoubleClickEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) surface_->doubleClick(e->pos());
}

void DesignOverlay::keyPressEvent(QKeyEvent* e) {
  surface_->key(e);
}

DesignSurface::DesignSurface(dlgInsertWidget* inserter, QWidget* parent)
    : QScrollArea(parent), inserter_(inserter) {
  canvas_ = new DesignCanvas;
  root_ = new QWidget(canvas_);
  overlay_ = new DesignOverlay(this, canvas_);
  stack_ = new QUndoStack(this);
  setWidget(canvas_);
  setWidgetResizable(false);
  setBackgroundRole(QPalette::Mid);
  connect(stack_, &QUndoStack::indexChanged, this, [this] { afterStackChange(); });
  // Keys must not reach the design widgets either (a line edit would change its text behind
  // the commands' back): focus that lands inside the mask goes to the overlay.
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
    if (now != nullptr && root_ != nullptr && root_->isAncestorOf(now))
      overlay_->setFocus(Qt::OtherFocusReason);
  });
  layoutCanvas();
}

DesignSurface::~DesignSurface() {
  // The stack empties itself as a child of this widget, after the members are gone.
  disconnect(stack_, nullptr, this, nullptr);
}

QWidget* DesignSurface::overlay() const {
  return overlay_;
}

void DesignSurface::layoutCanvas() {
  root_->move(0, 0);
  canvas_->resize(root_->size());
  overlay_->setGeometry(root_->geometry());
  overlay_->raise();
}

void DesignSurface::load(const UiForm& f, QString* warnings) {
  selection_.clear();
  // Emptying the stack is no edit: the journal stays as it is.
  loading_ = true;
  stack_->clear();
  loading_ = false;
  delete root_;
  root_ = new QWidget(canvas_);
  formClass_ = f.formClass;
  uiBuildForm(f, root_, warnings);
  root_->show();
  layoutCanvas();
  stack_->setClean();
  recovered_ = false;
  wasModified_ = false;
  // Commands find their widgets by name: a name held twice (or none) would send an undo to
  // the wrong widget, so such widgets get fresh names, and the mask counts as changed.
  QVector<QWidget*> all;
  collect(root_, &all);
  QSet<QString> seen;
  for (QWidget* w : all) {
    QString name = w->objectName();
    if (!name.isEmpty() && !seen.contains(name)) {
      seen.insert(name);
      continue;
    }
    setDefaultObjectName(root_, w);
    seen.insert(w->objectName());
    recovered_ = true;
    if (warnings)
      *warnings += QString("widget %1: the name is %2; renamed %3\n")
                       .arg(name, name.isEmpty() ? "empty" : "taken already", w->objectName());
  }
  wasModified_ = recovered_;
  overlay_->update();
  emit selectionChanged();
  emit edited();
}

UiForm DesignSurface::form() const {
  return uiCaptureForm(root_, formClass_);
}

QByteArray DesignSurface::text() const {
  return uiFormat(form());
}

bool DesignSurface::modified() const {
  return recovered_ || !stack_->isClean();
}

void DesignSurface::setRecovered(bool on) {
  recovered_ = on;
  if (modified() != wasModified_) emit modifiedChanged(wasModified_ = modified());
}

void DesignSurface::markSaved() {
  recovered_ = false;
  stack_->setClean();
  if (!journalPath_.isEmpty()) journalRemove(journalPath_);
  if (modified() != wasModified_) emit modifiedChanged(wasModified_ = modified());
}

void DesignSurface::writeJournal() {
  if (journalPath_.isEmpty()) return;
  if (!modified()) {
    // Back at the saved state: the mask file says it all.
    journalRemove(journalPath_);
    return;
  }
  QString error;
  if (journalWrite(journalPath_, text(), &error) != 0)
    emit message(QString("The journal cannot be written: %1").arg(error));
}

void DesignSurface::afterStackChange() {
  if (loading_) return;
  QList<QPointer<QWidget>> kept;
  for (const QPointer<QWidget>& w : selection_)
    if (w && root_->isAncestorOf(w)) kept << w;
  bool lost = kept.size() != selection_.size();
  selection_ = kept;
  layoutCanvas();
  writeJournal();
  overlay_->update();
  if (lost) emit selectionChanged();
  if (modified() != wasModified_) emit modifiedChanged(wasModified_ = modified());
  emit edited();
}

void DesignSurface::push(const QString& text, const QVector<MaskOp>& ops, int mergeKey) {
  if (ops.isEmpty()) return;
  auto* c = new MaskCommand(root_, text, ops, true);
  if (mergeKey > 0) c->setMergeKey(mergeKey);
  stack_->push(c);
}

void DesignSurface::setTool(Tool t) {
  if (t != tool_) {
    tool_ = t;
    emit toolChanged(t);
  }
  overlay_->setCursor(t == InsertTool ? Qt::CrossCursor : Qt::ArrowCursor);
}

QList<QWidget*> DesignSurface::selection() const {
  QList<QWidget*> out;
  for (const QPointer<QWidget>& w : selection_)
    if (w) out << w.data();
  return out;
}

bool DesignSurface::isPage(const QWidget* w) const {
  QWidget* p = maskDesignParent(root_, w);
  if (p == nullptr || p == root_) return false;
  QString t = tagOf(p);
  return t == "TQTabWidget:" || t == "TQToolBox:";
}

void DesignSurface::setSelection(const QList<QWidget*>& widgets) {
  QList<QPointer<QWidget>> sel;
  for (QWidget* w : widgets) {
    if (w == nullptr || w == root_ || !root_->isAncestorOf(w)) continue;
    // A page is laid out by its tab widget or tool box: selecting it selects the container.
    if (isPage(w)) w = maskDesignParent(root_, w);
    if (!sel.contains(w)) sel << w;
  }
  if (sel == selection_) return;
  selection_ = sel;
  overlay_->update();
  emit selectionChanged();
}

void DesignSurface::selectAll() {
  QList<QWidget*> all;
  for (QWidget* w : uiDesignChildren(root_))
    all << w;
  setSelection(all);
}

QRect DesignSurface::rootRect(const QWidget* w) const {
  return QRect(w->mapTo(root_, QPoint(0, 0)), w->size());
}

QList<QWidget*> DesignSurface::topMostSelection() const {
  QList<QWidget*> sel = selection(), out;
  for (QWidget* w : sel) {
    bool inner = false;
    for (QWidget* o : sel)
      if (o != w && o->isAncestorOf(w)) inner = true;
    if (!inner) out << w;
  }
  return out;
}

QList<QWidget*> DesignSurface::treeOrder(QList<QWidget*> ws) const {
  QVector<QWidget*> all;
  collect(root_, &all);
  QList<QWidget*> out;
  for (QWidget* w : all)
    if (ws.contains(w)) out << w;
  return out;
}

QWidget* DesignSurface::widgetAt(const QPoint& p) const {
  QWidget* found = nullptr;
  QWidget* w = root_;
  for (;;) {
    QWidget* hit = nullptr;
    QVector<QWidget*> children = uiDesignChildren(w);
    for (int i = children.size() - 1; i >= 0 && hit == nullptr; i--) {
      QWidget* c = children[i];
      if (c->isVisibleTo(root_) && rootRect(c).contains(p)) hit = c;
    }
    if (hit == nullptr) return found;
    if (!isPage(hit)) found = hit;
    w = hit;
  }
}

QWidget* DesignSurface::containerAt(const QPoint& p) const {
  QWidget* container = root_;
  QWidget* w = root_;
  for (;;) {
    QWidget* hit = nullptr;
    QVector<QWidget*> children = uiDesignChildren(w);
    for (int i = children.size() - 1; i >= 0 && hit == nullptr; i--) {
      QWidget* c = children[i];
      if (c->isVisibleTo(root_) && rootRect(c).contains(p)) hit = c;
    }
    if (hit == nullptr) return container;
    QString t = tagOf(hit);
    if (isContainerTag(t))
      container = hit;
    else if (t != "TQTabWidget:" && t != "TQToolBox:")
      return container;
    w = hit;
  }
}

QRect DesignSurface::handleRect(QWidget* w, Handle h) const {
  QRect r = rootRect(w);
  int xs[3] = {r.left(), r.left() + r.width() / 2, r.left() + r.width()};
  int ys[3] = {r.top(), r.top() + r.height() / 2, r.top() + r.height()};
  static const int col[8] = {0, 1, 2, 2, 2, 1, 0, 0};
  static const int row[8] = {0, 0, 0, 1, 2, 2, 2, 1};
  if (h < TopLeft || h > Left) return QRect();
  return QRect(xs[col[h]] - kHandle / 2, ys[row[h]] - kHandle / 2, kHandle, kHandle);
}

DesignSurface::Handle DesignSurface::handleAt(const QPoint& p, QWidget** w) const {
  QList<QWidget*> sel = selection();
  for (int i = sel.size() - 1; i >= 0; i--)
    for (int h = TopLeft; h <= Left; h++)
      if (handleRect(sel[i], (Handle)h).contains(p)) {
        if (w) *w = sel[i];
        return (Handle)h;
      }
  return NoHandle;
}

void DesignSurface::paintOverlay(QPainter* p) {
  QList<QWidget*> sel = selection();
  for (int i = 0; i < sel.size(); i++) {
    QColor c = i == 0 ? QColor(0, 0, 200) : QColor(0, 120, 200);
    p->setPen(QPen(c, 1, Qt::DashLine));
    p->setBrush(Qt::NoBrush);
    p->drawRect(rootRect(sel[i]).adjusted(0, 0, -1, -1));
    p->setPen(c);
    p->setBrush(i == 0 ? c : QColor(Qt::white));
    for (int h = TopLeft; h <= Left; h++)
      p->drawRect(handleRect(sel[i], (Handle)h).adjusted(0, 0, -1, -1));
  }
}

// ---- mouse and keys

void DesignSurface::press(const QPoint& p, Qt::KeyboardModifiers mods) {
  pressPos_ = p;
  pressMods_ = mods;
  pressWidget_ = nullptr;
  dragWidgets_.clear();
  dragOrigins_.clear();
  dragRecorder_ = MaskPropsRecorder();
  if (tool_ == InsertTool) {
    // A click on a tab turns the page rather than dropping a widget on the tab bar.
    gesture_ = showPageAt(widgetAt(p), p) ? Idle : Inserting;
    return;
  }
  QWidget* hw = nullptr;
  Handle h = (mods & Qt::ShiftModifier) ? NoHandle : handleAt(p, &hw);
  if (h != NoHandle) {
    gesture_ = Resizing;
    resizeHandle_ = h;
    pressWidget_ = hw;
    resizeOrigin_ = hw->geometry();
    dragRecorder_.add(root_, hw);
    return;
  }
  QWidget* w = widgetAt(p);
  showPageAt(w, p);
  if (w == nullptr) {
    gesture_ = Banding;
    if (!(mods & Qt::ShiftModifier)) clearSelection();
    if (band_ == nullptr) band_ = new QRubberBand(QRubberBand::Rectangle, overlay_);
    band_->setGeometry(QRect(p, QSize(1, 1)));
    band_->show();
    return;
  }
  if (mods & Qt::ShiftModifier) {
    QList<QWidget*> sel = selection();
    if (sel.contains(w))
      sel.removeAll(w);
    else
      sel << w;
    setSelection(sel);
    gesture_ = Idle;
    return;
  }
  if (!selection().contains(w)) setSelection({w});
  // Ctrl and drag takes the widget's name out of the surface (into the code editor) instead
  // of moving it.
  gesture_ = (mods & Qt::ControlModifier) ? NameDragging : Pressed;
  pressWidget_ = w;
}

bool DesignSurface::showPageAt(QWidget* w, const QPoint& p) {
  // The pages are not part of what a command changes: which one shows is the view's business,
  // so a click on a tab or a tool-box item only turns to it.
  if (auto* t = qobject_cast<QTabWidget*>(w)) {
    QTabBar* bar = t->tabBar();
    int i = bar->tabAt(bar->mapFrom(root_, p));
    if (i >= 0 && i != t->currentIndex()) {
      t->setCurrentIndex(i);
      overlay_->update();
    }
    return i >= 0;
  } else if (auto* b = qobject_cast<QToolBox*>(w)) {
    QList<QAbstractButton*> buttons =
        b->findChildren<QAbstractButton*>("qt_toolbox_toolboxbutton", Qt::FindDirectChildrenOnly);
    for (int i = 0; i < buttons.size() && i < b->count(); i++)
      if (buttons[i]->isVisible() &&
          QRect(buttons[i]->mapTo(root_, QPoint(0, 0)), buttons[i]->size()).contains(p)) {
        if (i != b->currentIndex()) b->setCurrentIndex(i);
        overlay_->update();
        return true;
      }
  }
  return false;
}

void DesignSurface::drag(const QPoint& p) {
  int gx = studioOpt.gridX(), gy = studioOpt.gridY();
  QPoint d = p - pressPos_;
  switch (gesture_) {
    case Pressed: {
      if (d.manhattanLength() < 1 || pressWidget_.isNull()) return;
      gesture_ = Moving;
      // The pressed widget leads, so it goes first; the others keep their distance to it.
      QList<QWidget*> ws = topMostSelection();
      if (ws.contains(pressWidget_)) {
        ws.removeAll(pressWidget_);
        ws.prepend(pressWidget_);
      }
      for (QWidget* w : ws) {
        dragWidgets_ << w;
        dragOrigins_ << w->pos();
        dragRecorder_.add(root_, w);
      }
    }
      // fall through
    case Moving: {
      if (dragWidgets_.isEmpty() || dragWidgets_[0].isNull()) return;
      QPoint lead = dragOrigins_[0] + d;
      QPoint delta(snap(lead.x(), gx) - dragOrigins_[0].x(),
                   snap(lead.y(), gy) - dragOrigins_[0].y());
      for (int i = 0; i < dragWidgets_.size(); i++)
        if (dragWidgets_[i]) {
          QPoint to = dragOrigins_[i] + delta;
          if (dragWidgets_[i]->pos() != to) myMove(dragWidgets_[i], to.x(), to.y());
        }
      overlay_->update();
      return;
    }
    case Resizing: {
      if (pressWidget_.isNull()) return;
      QRect r = resizeOrigin_;
      int left = r.x(), top = r.y(), right = r.x() + r.width(), bottom = r.y() + r.height();
      if (resizeHandle_ == TopLeft || resizeHandle_ == Left || resizeHandle_ == BottomLeft)
        left = std::min(snap(left + d.x(), gx), right - gx);
      if (resizeHandle_ == TopRight || resizeHandle_ == Right || resizeHandle_ == BottomRight)
        right = std::max(snap(right + d.x(), gx), left + gx);
      if (resizeHandle_ == TopLeft || resizeHandle_ == Top || resizeHandle_ == TopRight)
        top = std::min(snap(top + d.y(), gy), bottom - gy);
      if (resizeHandle_ == BottomLeft || resizeHandle_ == Bottom || resizeHandle_ == BottomRight)
        bottom = std::max(snap(bottom + d.y(), gy), top + gy);
      QRect to(left, top, right - left, bottom - top);
      if (pressWidget_->geometry() != to)
        mySetGeometry(pressWidget_, to.x(), to.y(), to.width(), to.height());
      overlay_->update();
      return;
    }
    case Banding:
      if (band_) band_->setGeometry(QRect(pressPos_, p).normalized());
      return;
    case NameDragging: {
      if (d.manhattanLength() < QApplication::startDragDistance() || pressWidget_.isNull()) return;
      gesture_ = Idle;
      auto* drag = new QDrag(overlay_);
      drag->setMimeData(studioWidgetNameMime(pressWidget_->objectName()));
      drag->exec(Qt::CopyAction);
      return;
    }
    default:
      return;
  }
}

void DesignSurface::release(const QPoint& p, Qt::KeyboardModifiers mods) {
  Gesture g = gesture_;
  gesture_ = Idle;
  switch (g) {
    case Inserting:
      insertAt(p, !(mods & Qt::ControlModifier));
      return;
    case Moving: {
      QVector<MaskOp> ops = dragRecorder_.finish();
      push(QString("Move %1").arg(count(ops.size(), "widget")), ops);
      return;
    }
    case Resizing: {
      QVector<MaskOp> ops = dragRecorder_.finish();
      if (!ops.isEmpty()) push(QString("Resize %1").arg(ops[0].before.name), ops);
      return;
    }
    case Banding: {
      QRect r = QRect(pressPos_, p).normalized();
      if (band_) band_->hide();
      QList<QWidget*> sel = (pressMods_ & Qt::ShiftModifier) ? selection() : QList<QWidget*>();
      for (QWidget* w : uiDesignChildren(root_))
        if (w->isVisibleTo(root_) && rootRect(w).intersects(r) && !sel.contains(w)) sel << w;
      setSelection(sel);
      return;
    }
    default:
      return;
  }
}

void DesignSurface::finishGesture() {
  if (gesture_ == Moving || gesture_ == Resizing) {
    release(QPoint(), Qt::NoModifier);
  } else if (gesture_ == Banding && band_) {
    band_->hide();
  }
  gesture_ = Idle;
}

void DesignSurface::doubleClick(const QPoint& p) {
  gesture_ = Idle;
  if (tool_ != SelectTool) return;
  if (QWidget* w = widgetAt(p)) {
    setSelection({w});
    editProperties(w);
  }
}

void DesignSurface::key(QKeyEvent* e) {
  int step = e->modifiers() & Qt::ShiftModifier ? 1 : 0;
  int gx = step ? 1 : studioOpt.gridX(), gy = step ? 1 : studioOpt.gridY();
  switch (e->key()) {
    case Qt::Key_Left:
      moveSelection(-gx, 0);
      break;
    case Qt::Key_Right:
      moveSelection(gx, 0);
      break;
    case Qt::Key_Up:
      moveSelection(0, -gy);
      break;
    case Qt::Key_Down:
      moveSelection(0, gy);
      break;
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
      deleteSelection();
      break;
    case Qt::Key_Escape:
      setTool(SelectTool);
      clearSelection();
      break;
    default:
      e->ignore();
      return;
  }
  e->accept();
}

// ---- commands

QWidget* DesignSurface::insertAt(const QPoint& p, bool ask) {
  if (inserter_ == nullptr) return nullptr;
  QWidget* container = containerAt(p);
  QPoint at = container == root_ ? p : container->mapFrom(root_, p);
  inserter_->grabWidget = overlay_;
  if (ask && inserter_->run() != QDialog::Accepted) return nullptr;
  QVector<QWidget*> before = uiDesignChildren(container);
  QWidget* w = inserter_->newWidget(root_, container, at.x(), at.y());
  if (w == nullptr) {
    // A kind that asks a title leaves nothing behind when the question is cancelled.
    for (QWidget* c : uiDesignChildren(container))
      if (!before.contains(c)) delete c;
    return nullptr;
  }
  if (w->objectName().isEmpty() || nameTaken(w->objectName(), w)) uniqueNames(w);
  MaskOp op;
  op.kind = MaskOp::Create;
  op.path = maskPath(root_, container);
  op.index = maskChildIndex(root_, w);
  op.before = uiCapture(w);
  push(QString("Insert %1").arg(w->objectName()), {op});
  setSelection({w});
  return w;
}

int DesignSurface::moveSelection(int dx, int dy) {
  QList<QWidget*> ws = topMostSelection();
  if (ws.isEmpty() || (dx == 0 && dy == 0)) return -1;
  MaskPropsRecorder rec;
  for (QWidget* w : ws) {
    rec.add(root_, w);
    myMove(w, w->x() + dx, w->y() + dy);
  }
  QVector<MaskOp> ops = rec.finish();
  if (ops.isEmpty()) return -1;
  push(QString("Move %1").arg(count(ops.size(), "widget")), ops);
  overlay_->update();
  return 0;
}

int DesignSurface::setWidgetGeometry(QWidget* w, const QRect& r, const QString& what) {
  if (w == nullptr || !root_->isAncestorOf(w)) return -1;
  MaskPropsRecorder rec;
  rec.add(root_, w);
  mySetGeometry(w, r.x(), r.y(), r.width(), r.height());
  QVector<MaskOp> ops = rec.finish();
  if (ops.isEmpty()) return -1;
  push(what.isEmpty() ? QString("Resize %1").arg(w->objectName()) : what, ops);
  overlay_->update();
  return 0;
}

int DesignSurface::deleteSelection() {
  return removeSelection("Delete");
}

int DesignSurface::removeSelection(const QString& verb) {
  QList<QWidget*> ws = treeOrder(topMostSelection());
  if (ws.isEmpty()) return -1;
  QVector<MaskOp> ops;
  for (QWidget* w : ws) {
    MaskOp op;
    op.kind = MaskOp::Remove;
    QWidget* parent = maskDesignParent(root_, w);
    op.path = maskPath(root_, parent);
    op.index = maskChildIndex(root_, w);
    op.before = uiCapture(w);
    ops << op;
    selection_.removeAll(w);
    delete w;
  }
  push(QString("%1 %2").arg(verb, count(ops.size(), "widget")), ops);
  emit selectionChanged();
  return 0;
}

int DesignSurface::raiseSelection() {
  QList<QWidget*> ws = treeOrder(topMostSelection());
  QVector<MaskOp> ops;
  QList<QWidget*> parents;
  for (QWidget* w : ws)
    if (!parents.contains(maskDesignParent(root_, w))) parents << maskDesignParent(root_, w);
  for (QWidget* parent : parents) {
    MaskOp op;
    op.kind = MaskOp::Order;
    op.path = maskPath(root_, parent);
    op.order = maskChildNames(parent);
    // In their stacking order, so the raised keep their order among themselves.
    for (QWidget* c : uiDesignChildren(parent))
      if (ws.contains(c)) c->raise();
    op.orderAfter = maskChildNames(parent);
    if (op.order != op.orderAfter) ops << op;
  }
  if (ops.isEmpty()) return -1;
  push(QString("Raise %1").arg(count(ws.size(), "widget")), ops);
  overlay_->update();
  return 0;
}

int DesignSurface::lowerSelection() {
  QList<QWidget*> ws = treeOrder(topMostSelection());
  QVector<MaskOp> ops;
  QList<QWidget*> parents;
  for (QWidget* w : ws)
    if (!parents.contains(maskDesignParent(root_, w))) parents << maskDesignParent(root_, w);
  for (QWidget* parent : parents) {
    MaskOp op;
    op.kind = MaskOp::Order;
    op.path = maskPath(root_, parent);
    op.order = maskChildNames(parent);
    QVector<QWidget*> children = uiDesignChildren(parent);
    for (int i = children.size() - 1; i >= 0; i--)
      if (ws.contains(children[i])) children[i]->lower();
    op.orderAfter = maskChildNames(parent);
    if (op.order != op.orderAfter) ops << op;
  }
  if (ops.isEmpty()) return -1;
  push(QString("Lower %1").arg(count(ws.size(), "widget")), ops);
  overlay_->update();
  return 0;
}

int DesignSurface::alignSelection(Align a) {
  QList<QWidget*> ws = topMostSelection();
  if (ws.size() < 2) return -1;
  QRect box;
  for (QWidget* w : ws)
    box |= rootRect(w);
  MaskPropsRecorder rec;
  for (QWidget* w : ws) {
    QRect r = rootRect(w);
    QPoint to = r.topLeft();
    switch (a) {
      case AlignLeft:
        to.setX(box.left());
        break;
      case AlignRight:
        to.setX(box.left() + box.width() - r.width());
        break;
      case AlignTop:
        to.setY(box.top());
        break;
      case AlignBottom:
        to.setY(box.top() + box.height() - r.height());
        break;
      case AlignHCenter:
        to.setX(box.left() + (box.width() - r.width()) / 2);
        break;
      case AlignVCenter:
        to.setY(box.top() + (box.height() - r.height()) / 2);
        break;
    }
    rec.add(root_, w);
    QPoint pos = w->pos() + (to - r.topLeft());
    if (pos != w->pos()) myMove(w, pos.x(), pos.y());
  }
  static const char* names[] = {
      "left", "right", "top", "bottom", "horizontal centres", "vertical centres"};
  QVector<MaskOp> ops = rec.finish();
  if (ops.isEmpty()) return -1;
  push(QString("Align %1 %2").arg(count(ws.size(), "widget"), names[a]), ops);
  overlay_->update();
  return 0;
}

int DesignSurface::sameSize(Size s) {
  QList<QWidget*> ws = selection();
  if (ws.size() < 2) return -1;
  QSize ref = ws[0]->size();
  MaskPropsRecorder rec;
  for (int i = 1; i < ws.size(); i++) {
    QWidget* w = ws[i];
    QSize to(s == SameHeight ? w->width() : ref.width(),
             s == SameWidth ? w->height() : ref.height());
    rec.add(root_, w);
    if (to != w->size()) myResize(w, to.width(), to.height());
  }
  static const char* names[] = {"width", "height", "size"};
  QVector<MaskOp> ops = rec.finish();
  if (ops.isEmpty()) return -1;
  push(QString("Same %1 for %2").arg(names[s], count(ws.size(), "widget")), ops);
  overlay_->update();
  return 0;
}

int DesignSurface::distribute(Qt::Orientation o) {
  QList<QWidget*> ws = topMostSelection();
  if (ws.size() < 3) return -1;
  bool h = o == Qt::Horizontal;
  std::stable_sort(ws.begin(), ws.end(), [&](QWidget* a, QWidget* b) {
    return h ? rootRect(a).left() < rootRect(b).left() : rootRect(a).top() < rootRect(b).top();
  });
  QRect first = rootRect(ws.first()), last = rootRect(ws.last());
  long start = h ? first.left() : first.top();
  long end = h ? last.left() + last.width() : last.top() + last.height();
  long sizes = 0;
  for (QWidget* w : ws)
    sizes += h ? w->width() : w->height();
  // The gaps share what the sizes leave of the span; rounding goes into the running sum, so
  // the last widget keeps its place exactly.
  long gaps = end - start - sizes;
  int n = ws.size();
  MaskPropsRecorder rec;
  long sum = 0;
  for (int i = 0; i < n; i++) {
    QWidget* w = ws[i];
    long at = start + sum + (long)floor((double)gaps * i / (n - 1) + 0.5);
    sum += h ? w->width() : w->height();
    QRect r = rootRect(w);
    QPoint d = h ? QPoint((int)at - r.left(), 0) : QPoint(0, (int)at - r.top());
    rec.add(root_, w);
    if (!d.isNull()) myMove(w, w->x() + d.x(), w->y() + d.y());
  }
  QVector<MaskOp> ops = rec.finish();
  if (ops.isEmpty()) return -1;
  push(QString("Distribute %1 %2").arg(count(n, "widget"), h ? "horizontally" : "vertically"), ops);
  overlay_->update();
  return 0;
}

QString DesignSurface::clipIdentity() const {
  return QString("%1@%2/%3")
      .arg(formClass_)
      .arg(QCoreApplication::applicationPid())
      .arg((quintptr)this, 0, 16);
}

int DesignSurface::copySelection() {
  QList<QWidget*> ws = treeOrder(topMostSelection());
  if (ws.isEmpty()) return -1;
  UiForm clip;
  clip.formClass = "clipboard";
  clip.root.className = "QWidget";
  clip.root.name = clipIdentity();
  for (QWidget* w : ws) {
    UiNode n = uiCapture(w);
    // Widgets from several containers land in the root where they were on the screen.
    n.setProperty(uiRect("geometry", rootRect(w)));
    clip.root.children << n;
  }
  QByteArray xml = uiFormat(clip);
  auto* mime = new QMimeData;
  mime->setData(STUDIO_WIDGETS_MIME, xml);
  mime->setText(QString::fromUtf8(xml));
  QApplication::clipboard()->setMimeData(mime);
  return 0;
}

int DesignSurface::cutSelection() {
  if (copySelection() != 0) return -1;
  return removeSelection("Cut");
}

bool DesignSurface::nameTaken(const QString& name, const QWidget* except) const {
  QVector<QWidget*> all;
  collect(root_, &all);
  for (QWidget* w : all)
    if (w != except && w->objectName() == name) return true;
  return false;
}

void DesignSurface::uniqueNames(QWidget* w) {
  if (w->objectName().isEmpty() || nameTaken(w->objectName(), w)) setDefaultObjectName(root_, w);
  // Pages first, then what they hold: every name is checked against the whole mask.
  for (QWidget* c : uiDesignChildren(w))
    uniqueNames(c);
}

int DesignSurface::paste(int tagOffset, QStringList* report) {
  const QMimeData* mime = QApplication::clipboard()->mimeData();
  if (mime == nullptr || !mime->hasFormat(STUDIO_WIDGETS_MIME)) return -1;
  UiForm clip;
  QString error;
  if (uiParse(mime->data(STUDIO_WIDGETS_MIME), &clip, &error) != 0) {
    emit message(QString("The clipboard holds no widgets: %1").arg(error));
    return -1;
  }
  bool here = clip.root.name == clipIdentity();
  int gx = studioOpt.gridX(), gy = studioOpt.gridY();
  QVector<MaskOp> ops;
  QList<QWidget*> pasted;
  for (UiNode n : clip.root.children) {
    if (tagOffset != 0) {
      static const otTagTable empty;
      maskRetargetTags(&n, tags_ ? *tags_ : empty, tagOffset, report);
    }
    if (here) n.setProperty(uiRect("geometry", n.geometry().translated(gx, gy)));
    QWidget* w = maskCreate(n, root_, -1);
    if (w == nullptr) continue;
    uniqueNames(w);
    MaskOp op;
    op.kind = MaskOp::Create;
    op.index = maskChildIndex(root_, w);
    op.before = uiCapture(w);
    ops << op;
    pasted << w;
  }
  if (ops.isEmpty()) return -1;
  push(QString("Paste %1").arg(count(ops.size(), "widget")), ops);
  setSelection(pasted);
  if (report && !report->isEmpty()) emit message(report->join("\n"));
  return ops.size();
}

int DesignSurface::pasteWithOffset() {
  bool ok = false;
  int n = QInputDialog::getInt(this, "hxstudio: Paste with offset",
                               "Move every binding by this many addresses:", 1, -1000000, 1000000,
                               1, &ok);
  if (!ok) return -1;
  QStringList report;
  int r = paste(n, &report);
  if (!report.isEmpty())
    QMessageBox::warning(this, "hxstudio: Paste with offset",
                         QString("Bindings dropped:\n%1").arg(report.join("\n")));
  return r;
}

int DesignSurface::recordPropertyStep(QWidget* w, UiNode* before, QStringList* path, int key) {
  UiNode after = uiCapture(w, false);
  // The name becomes an identifier of the generated code: an empty or taken one would break
  // the build, so the old name stays.
  if (after.name != before->name && (after.name.isEmpty() || nameTaken(after.name, w))) {
    emit message(QString("The object name \"%1\" is %2; %3 keeps its name")
                     .arg(after.name, after.name.isEmpty() ? "empty" : "taken", before->name));
    w->setObjectName(before->name);
    after = uiCapture(w, false);
  }
  if (after == *before) return -1;
  MaskOp op;
  op.kind = MaskOp::Props;
  op.path = *path;
  op.before = *before;
  op.after = after;
  push(QString("Change properties of %1").arg(before->name), {op}, key);
  *before = after;
  if (!path->isEmpty()) path->last() = after.name;
  overlay_->update();
  return 0;
}

int DesignSurface::editProperties(QWidget* w) {
  if (w == nullptr || !root_->isAncestorOf(w)) return -1;
  QStringList names;
  if (tags_)
    for (const otTag& t : tags_->tags)
      names << QString::fromStdString(t.name);
  UiNode before = uiCapture(w, false);
  QStringList path = maskPath(root_, w);
  int key = ++propertySession_;
  int changes = 0;
  dlgProperty dlg(w, names, this);
  connect(&dlg, &dlgProperty::applied, this, [&](QWidget* x) {
    if (x == w && recordPropertyStep(w, &before, &path, key) == 0) changes++;
  });
  dlg.run();
  return changes > 0 ? 0 : -1;
}

int DesignSurface::changeProperties(QWidget* w, const std::function<void(QWidget*)>& edit) {
  if (w == nullptr || !root_->isAncestorOf(w)) return -1;
  UiNode before = uiCapture(w, false);
  QStringList path = maskPath(root_, w);
  edit(w);
  return recordPropertyStep(w, &before, &path, 0);
}
