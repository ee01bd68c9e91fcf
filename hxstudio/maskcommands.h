// The undoable edits of a mask. A command never keeps a pointer to a design widget: widgets
// die and are built again by undo and redo. It keeps form nodes (what uiCapture read before
// and after the edit) and finds its widgets by the path of object names from the mask's root,
// which is valid because commands are undone and redone strictly in stack order, so the mask
// is in the same state each time a command runs as when it was recorded.
#ifndef HXSTUDIO_MASKCOMMANDS_H
#define HXSTUDIO_MASKCOMMANDS_H

#include <QPointer>
#include <QStringList>
#include <QUndoCommand>
#include <QVector>

#include "uiform.h"

class QWidget;

// The object names from a design child of root down to w (w's own name last); empty for
// root itself or a widget outside root.
QStringList maskPath(const QWidget* root, const QWidget* w);
// The widget of a path, or null when a name on the way is missing. An empty path is root.
QWidget* maskFind(QWidget* root, const QStringList& path);
// The design widget whose design children (uiDesignChildren) hold w: its parent, or the tab
// widget or tool box of a page. Null for root or a widget outside root.
QWidget* maskDesignParent(QWidget* root, const QWidget* w);
// w's place among its design parent's design children, -1 when it is none of them.
int maskChildIndex(QWidget* root, const QWidget* w);
// Builds node n under parent and puts it at index among the parent's design children (at the
// top for index -1 or past the end). The new widget, or null.
QWidget* maskCreate(const UiNode& n, QWidget* parent, int index);
// Restacks the named design children of parent in the given order, bottom first.
void maskRestack(QWidget* parent, const QStringList& order);
// The names of parent's design children, bottom first.
QStringList maskChildNames(const QWidget* parent);

// One reversible step of a command.
struct MaskOp {
  enum Kind {
    Props,   // a widget's own properties: before -> after (after.name may rename it)
    Create,  // builds node under the parent path at index (undo deletes it)
    Remove,  // deletes node, the child at index of the parent path (undo builds it again)
    Order,   // restacks the parent's design children from order to orderAfter
  };
  Kind kind = Props;
  QStringList path;  // Props: the widget as it was; other kinds: the parent
  int index = -1;
  UiNode before, after;  // Props: own properties only; Create and Remove: the node in before
  QStringList order, orderAfter;
};

// A command made of steps: redo runs them in order, undo runs their inverses backwards.
// With skipFirstRedo the edit was already made live on the surface when the command was
// pushed; the first redo then only counts.
class MaskCommand : public QUndoCommand {
 public:
  MaskCommand(QWidget* root, const QString& text, const QVector<MaskOp>& ops,
              bool skipFirstRedo = true);
  void redo() override;
  void undo() override;
  int id() const override { return mergeId_; }
  bool mergeWith(const QUndoCommand* other) override;
  // Consecutive commands of one merge key (a property dialog session) become one step.
  void setMergeKey(int key) { mergeId_ = key > 0 ? 1 : -1, mergeKey_ = key; }
  const QVector<MaskOp>& ops() const { return ops_; }

 private:
  static void run(QWidget* root, const MaskOp& op, bool forward);
  QWidget* root_;
  QVector<MaskOp> ops_;
  bool skip_;
  int mergeId_ = -1;
  int mergeKey_ = 0;
};

// A Props step for one widget, captured before an edit and finished after it.
struct MaskPropsRecorder {
  void add(QWidget* root, QWidget* w);
  // The steps of the widgets whose own properties changed (a widget gone meanwhile, say by an
  // undo during a drag, is left out).
  QVector<MaskOp> finish() const;
  QVector<QPointer<QWidget>> widgets;
  QVector<MaskOp> ops;
};

#endif
