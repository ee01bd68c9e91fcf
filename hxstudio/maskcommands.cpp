#include "maskcommands.h"

#include <QHash>
#include <QVariant>
#include <QWidget>

#include "otlog.h"
#include "studiokinds.h"
#include "uiwidgets.h"

namespace {

// Root, a tagged widget, or the frame that stands for a class the studio cannot show.
bool isDesignWidget(const QWidget* root, const QWidget* w) {
  return w == root || !studioTagOf(w->statusTip()).isEmpty() ||
         w->property("_hxstudioClass").isValid();
}

QWidget* childNamed(const QWidget* parent, const QString& name) {
  for (QWidget* c : uiDesignChildren(parent))
    if (c->objectName() == name) return c;
  return nullptr;
}

QStringList renamed(QStringList path, const QString& name) {
  if (!path.isEmpty()) path.last() = name;
  return path;
}

}  // namespace

QWidget* maskDesignParent(QWidget* root, const QWidget* w) {
  if (root == nullptr || w == nullptr || w == root) return nullptr;
  // A page sits inside the tab widget's stack or the tool box's scroll area: the first tagged
  // ancestor (or root) is its design parent.
  for (QWidget* p = w->parentWidget(); p != nullptr; p = p->parentWidget()) {
    if (isDesignWidget(root, p))
      return uiDesignChildren(p).contains(const_cast<QWidget*>(w)) ? p : nullptr;
    if (p == root) return nullptr;
  }
  return nullptr;
}

QStringList maskPath(const QWidget* root, const QWidget* w) {
  QStringList path;
  QWidget* r = const_cast<QWidget*>(root);
  while (w != nullptr && w != root) {
    QWidget* p = maskDesignParent(r, w);
    if (p == nullptr) return QStringList();
    path.prepend(w->objectName());
    w = p;
  }
  return w == root ? path : QStringList();
}

QWidget* maskFind(QWidget* root, const QStringList& path) {
  QWidget* w = root;
  for (const QString& name : path) {
    if (w == nullptr) return nullptr;
    w = childNamed(w, name);
  }
  return w;
}

int maskChildIndex(QWidget* root, const QWidget* w) {
  QWidget* p = maskDesignParent(root, w);
  return p == nullptr ? -1 : uiDesignChildren(p).indexOf(const_cast<QWidget*>(w));
}

QStringList maskChildNames(const QWidget* parent) {
  QStringList names;
  for (QWidget* c : uiDesignChildren(parent))
    names << c->objectName();
  return names;
}

QWidget* maskCreate(const UiNode& n, QWidget* parent, int index) {
  if (parent == nullptr) return nullptr;
  QWidget* w = uiBuild(n, parent);
  if (w == nullptr) return nullptr;
  QVector<QWidget*> siblings = uiDesignChildren(parent);
  siblings.removeAll(w);
  if (index >= 0 && index < siblings.size() && siblings[index]->parentWidget() == w->parentWidget())
    w->stackUnder(siblings[index]);
  else
    w->raise();
  if (!w->testAttribute(Qt::WA_WState_ExplicitShowHide)) w->show();
  return w;
}

namespace {

// The moves that turn the stacking order `now` into `order`, one widget each: from the
// bottom (a widget is put under the one at its place) or from the top (a widget is put above
// the one at its place, raised at the top). Each pass moves only what stands in the wrong
// place; raising one widget of many is one move from the top, putting it back one from the
// bottom.
struct Move {
  int widget;  // index in `order`
  int under;   // index in `order` of the widget it goes under, -1 to raise it
};

QVector<Move> planRestack(QStringList now, const QStringList& order, bool fromBottom) {
  QVector<Move> moves;
  const int n = order.size();
  if (fromBottom) {
    for (int i = 0; i < n; i++) {
      if (now[i] == order[i]) continue;
      int at = now.indexOf(order[i], i);
      if (at < 0) return QVector<Move>();
      moves.append({i, order.indexOf(now[i])});
      now.move(at, i);
    }
  } else {
    for (int i = n - 1; i >= 0; i--) {
      if (now[i] == order[i]) continue;
      int at = now.lastIndexOf(order[i], i);
      if (at < 0) return QVector<Move>();
      moves.append({i, i + 1 < n ? order.indexOf(now[i + 1]) : -1});
      now.move(at, i);
    }
  }
  return moves;
}

}  // namespace

void maskRestack(QWidget* parent, const QStringList& order) {
  if (parent == nullptr) return;
  QVector<QWidget*> children = uiDesignChildren(parent);
  QHash<QString, QWidget*> byName;
  QStringList now;
  for (QWidget* c : children) {
    byName.insert(c->objectName(), c);
    now << c->objectName();
  }
  // Only a reordering of the same widgets is planned; anything else raises in order.
  QStringList a = now, b = order;
  a.sort();
  b.sort();
  if (a != b || byName.size() != now.size()) {
    for (const QString& name : order)
      if (QWidget* c = byName.value(name)) c->raise();
    return;
  }
  QVector<Move> up = planRestack(now, order, true), down = planRestack(now, order, false);
  const QVector<Move>& moves = up.size() <= down.size() ? up : down;
  for (const Move& m : moves) {
    QWidget* w = byName.value(order[m.widget]);
    if (m.under < 0)
      w->raise();
    else
      w->stackUnder(byName.value(order[m.under]));
  }
}

MaskCommand::MaskCommand(QWidget* root, const QString& text, const QVector<MaskOp>& ops,
                         bool skipFirstRedo)
    : root_(root), ops_(ops), skip_(skipFirstRedo) {
  setText(text);
}

void MaskCommand::redo() {
  if (skip_) {
    skip_ = false;
    return;
  }
  for (const MaskOp& op : ops_)
    run(root_, op, true);
}

void MaskCommand::undo() {
  for (int i = ops_.size() - 1; i >= 0; i--)
    run(root_, ops_[i], false);
}

bool MaskCommand::mergeWith(const QUndoCommand* other) {
  const MaskCommand* o = dynamic_cast<const MaskCommand*>(other);
  if (o == nullptr || o->mergeKey_ != mergeKey_ || mergeKey_ <= 0) return false;
  if (ops_.size() != 1 || o->ops_.size() != 1) return false;
  MaskOp& mine = ops_[0];
  const MaskOp& theirs = o->ops_[0];
  if (mine.kind != MaskOp::Props || theirs.kind != MaskOp::Props) return false;
  if (theirs.path != renamed(mine.path, mine.after.name)) return false;
  mine.after = theirs.after;
  setObsolete(mine.after == mine.before);
  return true;
}

void MaskCommand::run(QWidget* root, const MaskOp& op, bool forward) {
  switch (op.kind) {
    case MaskOp::Props: {
      const UiNode& from = forward ? op.before : op.after;
      const UiNode& to = forward ? op.after : op.before;
      QWidget* w = maskFind(root, renamed(op.path, from.name));
      if (w == nullptr) {
        otLog(OT_LOG_WARNING, "MaskCommand: no widget %s\n",
              qPrintable(op.path.join(QLatin1Char('/'))));
        return;
      }
      uiApply(w, to);
      if (w->objectName() != to.name) w->setObjectName(to.name);
      return;
    }
    case MaskOp::Create:
    case MaskOp::Remove: {
      QWidget* parent = maskFind(root, op.path);
      if (parent == nullptr) {
        otLog(OT_LOG_WARNING, "MaskCommand: no container %s\n",
              qPrintable(op.path.join(QLatin1Char('/'))));
        return;
      }
      bool build = (op.kind == MaskOp::Create) == forward;
      if (build) {
        maskCreate(op.before, parent, op.index);
      } else {
        QVector<QWidget*> children = uiDesignChildren(parent);
        QWidget* w = op.index >= 0 && op.index < children.size() &&
                             children[op.index]->objectName() == op.before.name
                         ? children[op.index]
                         : childNamed(parent, op.before.name);
        delete w;
      }
      return;
    }
    case MaskOp::Order:
      maskRestack(maskFind(root, op.path), forward ? op.orderAfter : op.order);
      return;
  }
}

void MaskPropsRecorder::add(QWidget* root, QWidget* w) {
  MaskOp op;
  op.kind = MaskOp::Props;
  op.path = maskPath(root, w);
  op.before = uiCapture(w, false);
  widgets.append(w);
  ops.append(op);
}

QVector<MaskOp> MaskPropsRecorder::finish() const {
  QVector<MaskOp> done;
  for (int i = 0; i < widgets.size(); i++) {
    if (widgets[i].isNull()) continue;
    MaskOp op = ops[i];
    op.after = uiCapture(widgets[i], false);
    if (op.after != op.before) done.append(op);
  }
  return done;
}
