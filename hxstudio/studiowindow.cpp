#include "studiowindow.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <functional>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QFontDatabase>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QUndoGroup>
#include <QUndoStack>

#include "designsurface.h"
#include "dlgdaemon.h"
#include "dlginsertfunction.h"
#include "dlginsertwidget.h"
#include "editor.h"
#include "generator_p.h"
#include "journal.h"
#include "studiokinds.h"
#include "tagtableview.h"
#include "uiform.h"
#include "uiwidgets.h"

namespace {

// A loopback port that was free a moment ago (the kernel's choice); -1 when there is none.
int freeLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(sin);
  int port = -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) == 0)
    port = ntohs(sin.sin_port);
  ::close(fd);
  return port;
}

const int kItemWidget = Qt::UserRole + 1;
const int kItemFile = Qt::UserRole + 2;
const int kItemLine = Qt::UserRole + 3;
const qint64 kMaxSource = 16 << 20;
const int kMaxMessages = 5000;

// The widget tree: a drag takes the widget's name along (into a mask's code).
class WidgetTree : public QTreeWidget {
 protected:
  QStringList mimeTypes() const override { return {STUDIO_WIDGET_NAME_MIME}; }
  QMimeData* mimeData(const QList<QTreeWidgetItem*> items) const override {
    return items.isEmpty() ? nullptr : studioWidgetNameMime(items.first()->text(0));
  }
};

void addTreeItems(QTreeWidgetItem* parent, QTreeWidget* tree, QWidget* w,
                  QMap<QWidget*, QTreeWidgetItem*>* items) {
  for (QWidget* c : uiDesignChildren(w)) {
    QStringList cols;
    UiNode n = uiCapture(c, false);
    cols << c->objectName() << n.className << c->property(STUDIO_TAG_PROPERTY).toString();
    auto* item = parent ? new QTreeWidgetItem(parent, cols) : new QTreeWidgetItem(tree, cols);
    item->setData(0, kItemWidget, QVariant::fromValue<void*>(c));
    items->insert(c, item);
    addTreeItems(item, tree, c, items);
  }
}

}  // namespace

StudioWindow::StudioWindow(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle("hxstudio");
  resize(1200, 800);
  tabs_ = new QTabWidget(this);
  tabs_->setDocumentMode(true);
  setCentralWidget(tabs_);
  undoGroup_ = new QUndoGroup(this);
  inserter_ = new dlgInsertWidget(this);
  builder_ = new StudioBuilder(this);

  tree_ = new WidgetTree;
  tree_->setDragEnabled(true);
  tree_->setDragDropMode(QAbstractItemView::DragOnly);
  tree_->setColumnCount(3);
  tree_->setHeaderLabels({"Object name", "Class", "Tag"});
  tree_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  auto* treeDock = new QDockWidget("Widgets", this);
  treeDock->setObjectName("widgetsDock");
  treeDock->setWidget(tree_);
  addDockWidget(Qt::LeftDockWidgetArea, treeDock);

  tagView_ = new TagTableView;
  auto* tagDock = new QDockWidget("Tags", this);
  tagDock->setObjectName("tagsDock");
  tagDock->setWidget(tagView_);
  addDockWidget(Qt::BottomDockWidgetArea, tagDock);

  messages_ = new QListWidget;
  auto* msgDock = new QDockWidget("Messages", this);
  msgDock->setObjectName("messagesDock");
  msgDock->setWidget(messages_);
  addDockWidget(Qt::BottomDockWidgetArea, msgDock);
  tabifyDockWidget(tagDock, msgDock);
  tagDock->raise();
  resizeDocks({tagDock}, {220}, Qt::Vertical);

  buildActions();
  buildDaemonMenu();
  QMenu* view = menuBar()->addMenu("&View");
  view->addAction(treeDock->toggleViewAction());
  view->addAction(tagDock->toggleViewAction());
  view->addAction(msgDock->toggleViewAction());

  connect(tabs_, &QTabWidget::currentChanged, this, [this] { currentChanged(); });
  connect(tree_, &QTreeWidget::itemSelectionChanged, this, [this] { treeSelectionChanged(); });
  connect(messages_, &QListWidget::itemActivated, this,
          [this](QListWidgetItem* i) { messageActivated(i); });
  connect(tagView_, &TagTableView::changed, this, [this] { updateTitles(); });
  connect(tagView_, &TagTableView::message, this,
          [this](const QString& t) { statusBar()->showMessage(t, 8000); });
  connect(builder_, &StudioBuilder::finished, this,
          [this](bool ok, const QVector<StudioBuildMessage>& m, const QString& log) {
            buildFinished(ok, m, log);
          });
  statusBar();
}

StudioWindow::~StudioWindow() {
  stopProcess(client_, true);
  stopProcess(server_, true);
}

void StudioWindow::buildActions() {
  QMenu* file = menuBar()->addMenu("&File");
  file->addAction("New project...", this, &StudioWindow::slotNewProject);
  file->addAction("Open project...", this, &StudioWindow::slotOpenProject, QKeySequence::Open);
  file->addAction("New mask", this, &StudioWindow::slotNewMask, QKeySequence::New);
  file->addSeparator();
  file->addAction("Save", this, &StudioWindow::slotSave, QKeySequence::Save);
  file->addAction("Save all", this, &StudioWindow::slotSaveAll, QKeySequence("Ctrl+Shift+S"));
  file->addSeparator();
  file->addAction("Quit", this, &QWidget::close, QKeySequence::Quit);

  // Edit commands work on the current mask; their shortcuts only while the surface has the
  // focus, so that the tag table keeps its own copy, paste and delete.
  // Chosen from the menu while a mask's code has the focus, they act on the code (its keys
  // reach the text edit itself).
  auto onSurface = [this](void (*f)(DesignSurface*), void (*fe)(QPlainTextEdit*)) {
    return [this, f, fe] {
      if (Editor* e = focusedEditor()) {
        if (fe) fe(e->textEdit());
      } else if (DesignSurface* s = currentSurface()) {
        f(s);
      }
    };
  };
  auto surfaceAction = [&](QMenu* m, const QString& text, void (*f)(DesignSurface*),
                           const QKeySequence& key = QKeySequence(),
                           void (*fe)(QPlainTextEdit*) = nullptr) {
    QAction* a = m->addAction(text);
    connect(a, &QAction::triggered, this, onSurface(f, fe));
    if (!key.isEmpty()) {
      a->setShortcut(key);
      a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
      tabs_->addAction(a);
    }
    return a;
  };
  QMenu* edit = menuBar()->addMenu("&Edit");
  // Undo and redo end a drag under way first, so that the drag is a command of its own.
  QAction* undo = new QAction("Undo", this);
  undo->setShortcut(QKeySequence::Undo);
  undo->setEnabled(false);
  connect(undo, &QAction::triggered, this, [this] {
    if (Editor* e = focusedEditor()) {
      e->textEdit()->undo();
    } else if (DesignSurface* s = currentSurface()) {
      s->finishGesture();
      s->undoStack()->undo();
    }
  });
  connect(undoGroup_, &QUndoGroup::canUndoChanged, undo, &QAction::setEnabled);
  connect(undoGroup_, &QUndoGroup::undoTextChanged, undo, [undo](const QString& t) {
    undo->setText(t.isEmpty() ? QString("Undo") : QString("Undo %1").arg(t));
  });
  QAction* redo = new QAction("Redo", this);
  redo->setShortcut(QKeySequence::Redo);
  redo->setEnabled(false);
  connect(redo, &QAction::triggered, this, [this] {
    if (Editor* e = focusedEditor()) {
      e->textEdit()->redo();
    } else if (DesignSurface* s = currentSurface()) {
      s->finishGesture();
      s->undoStack()->redo();
    }
  });
  connect(undoGroup_, &QUndoGroup::canRedoChanged, redo, &QAction::setEnabled);
  connect(undoGroup_, &QUndoGroup::redoTextChanged, redo, [redo](const QString& t) {
    redo->setText(t.isEmpty() ? QString("Redo") : QString("Redo %1").arg(t));
  });
  edit->addAction(undo);
  edit->addAction(redo);
  edit->addSeparator();
  surfaceAction(
      edit, "Cut", [](DesignSurface* s) { s->cutSelection(); }, QKeySequence::Cut,
      [](QPlainTextEdit* t) { t->cut(); });
  surfaceAction(
      edit, "Copy", [](DesignSurface* s) { s->copySelection(); }, QKeySequence::Copy,
      [](QPlainTextEdit* t) { t->copy(); });
  surfaceAction(
      edit, "Paste", [](DesignSurface* s) { s->paste(); }, QKeySequence::Paste,
      [](QPlainTextEdit* t) { t->paste(); });
  surfaceAction(
      edit, "Paste with offset...", [](DesignSurface* s) { s->pasteWithOffset(); },
      QKeySequence("Ctrl+Shift+V"));
  surfaceAction(
      edit, "Delete", [](DesignSurface* s) { s->deleteSelection(); }, QKeySequence::Delete,
      [](QPlainTextEdit* t) { t->textCursor().removeSelectedText(); });
  surfaceAction(
      edit, "Select all", [](DesignSurface* s) { s->selectAll(); }, QKeySequence::SelectAll,
      [](QPlainTextEdit* t) { t->selectAll(); });
  edit->addSeparator();
  surfaceAction(edit, "Properties...", [](DesignSurface* s) {
    if (!s->selection().isEmpty()) s->editProperties(s->selection().first());
  });
  // The code's own keys (Ctrl+F, Ctrl+H) belong to the editor; the menu shows them only.
  edit->addSeparator();
  edit->addAction("Find...\tCtrl+F", this, [this] {
    if (Editor* e = currentEditor()) e->find();
  });
  edit->addAction("Replace...\tCtrl+H", this, [this] {
    if (Editor* e = currentEditor()) e->replace();
  });
  edit->addAction("Insert function...", this, [this] {
    Editor* e = currentEditor();
    if (e == nullptr) return;
    dlgInsertFunction d(this);
    QString t = d.run();
    if (!t.isEmpty()) e->insertText(t);
  });

  QToolBar* bar = addToolBar("Tools");
  bar->setObjectName("toolsBar");
  QMenu* toolsMenu = menuBar()->addMenu("&Tools");
  tools_ = new QActionGroup(this);
  selectTool_ = toolsMenu->addAction("Select");
  insertTool_ = toolsMenu->addAction("Insert widget");
  for (QAction* a : {selectTool_, insertTool_}) {
    a->setCheckable(true);
    tools_->addAction(a);
    bar->addAction(a);
  }
  selectTool_->setChecked(true);
  connect(tools_, &QActionGroup::triggered, this, [this](QAction* a) {
    DesignSurface::Tool t =
        a == insertTool_ ? DesignSurface::InsertTool : DesignSurface::SelectTool;
    for (const Mask& m : masks_)
      m.surface->setTool(t);
  });

  QMenu* arrange = menuBar()->addMenu("&Arrange");
  surfaceAction(arrange, "Raise", [](DesignSurface* s) { s->raiseSelection(); });
  surfaceAction(arrange, "Lower", [](DesignSurface* s) { s->lowerSelection(); });
  arrange->addSeparator();
  surfaceAction(arrange, "Align left",
                [](DesignSurface* s) { s->alignSelection(DesignSurface::AlignLeft); });
  surfaceAction(arrange, "Align right",
                [](DesignSurface* s) { s->alignSelection(DesignSurface::AlignRight); });
  surfaceAction(arrange, "Align top",
                [](DesignSurface* s) { s->alignSelection(DesignSurface::AlignTop); });
  surfaceAction(arrange, "Align bottom",
                [](DesignSurface* s) { s->alignSelection(DesignSurface::AlignBottom); });
  surfaceAction(arrange, "Align horizontal centres",
                [](DesignSurface* s) { s->alignSelection(DesignSurface::AlignHCenter); });
  surfaceAction(arrange, "Align vertical centres",
                [](DesignSurface* s) { s->alignSelection(DesignSurface::AlignVCenter); });
  arrange->addSeparator();
  surfaceAction(arrange, "Same width",
                [](DesignSurface* s) { s->sameSize(DesignSurface::SameWidth); });
  surfaceAction(arrange, "Same height",
                [](DesignSurface* s) { s->sameSize(DesignSurface::SameHeight); });
  surfaceAction(arrange, "Same size",
                [](DesignSurface* s) { s->sameSize(DesignSurface::SameSize); });
  arrange->addSeparator();
  surfaceAction(arrange, "Distribute horizontally",
                [](DesignSurface* s) { s->distribute(Qt::Horizontal); });
  surfaceAction(arrange, "Distribute vertically",
                [](DesignSurface* s) { s->distribute(Qt::Vertical); });

  QMenu* build = menuBar()->addMenu("&Build");
  runAction_ = build->addAction("Run", this, &StudioWindow::slotRun, QKeySequence(Qt::Key_F5));
  stopAction_ =
      build->addAction("Stop", this, &StudioWindow::slotStop, QKeySequence(Qt::SHIFT + Qt::Key_F5));
  bar->addSeparator();
  bar->addAction(runAction_);
  bar->addAction(stopAction_);
  stopAction_->setEnabled(false);
}

DesignSurface* StudioWindow::surface(int i) const {
  return i >= 0 && i < masks_.size() ? masks_[i].surface : nullptr;
}

DesignSurface* StudioWindow::currentSurface() const {
  return surface(maskOfPage(tabs_->currentWidget()));
}

Editor* StudioWindow::editor(int i) const {
  return i >= 0 && i < masks_.size() ? masks_[i].editor : nullptr;
}

Editor* StudioWindow::currentEditor() const {
  return editor(maskOfPage(tabs_->currentWidget()));
}

int StudioWindow::maskOfPage(const QWidget* page) const {
  for (int i = 0; i < masks_.size(); i++)
    if (masks_[i].page == page) return i;
  return -1;
}

Editor* StudioWindow::focusedEditor() const {
  QWidget* f = QApplication::focusWidget();
  for (const Mask& m : masks_)
    if (f && (f == m.editor || m.editor->isAncestorOf(f))) return m.editor;
  return nullptr;
}

QString StudioWindow::maskFile(int i) const {
  return i >= 0 && i < masks_.size() ? masks_[i].file : QString();
}

void StudioWindow::setCurrentMask(int i) {
  if (i >= 0 && i < masks_.size()) tabs_->setCurrentWidget(masks_[i].page);
}

void StudioWindow::say(const QString& text) {
  statusBar()->showMessage(text, 8000);
  messages_->addItem(text);
}

bool StudioWindow::modified() const {
  for (const Mask& m : masks_)
    if (m.surface->modified() || m.editor->modified()) return true;
  return tagView_->modified();
}

int StudioWindow::loadMask(const QString& file, QString* error) {
  QString path = project_.path(file);
  UiForm form;
  QString why;
  int loaded = uiLoad(path, &form, &why);
  bool recovered = false;
  journalCleanup(journalPathFor(path));
  if (journalPending(path)) {
    int answer = recoveryAnswer_;
    if (answer == 0)
      answer = QMessageBox::question(
          this, "hxstudio",
          QString("%1 has changes that were not saved when the studio ended.\n"
                  "Keep the recovered changes?")
              .arg(file),
          QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    QString jpath = journalPathFor(path);
    if (answer == QMessageBox::Yes) {
      QByteArray text;
      UiForm j;
      QString jwhy;
      if (journalRead(jpath, &text, &jwhy) == 0 && uiParse(text, &j, &jwhy) == 0) {
        form = j;
        loaded = 0;
        recovered = true;
      } else {
        say(QString("The journal of %1 cannot be read: %2").arg(file, jwhy));
      }
    } else {
      journalRemove(jpath);
    }
  }
  if (loaded != 0) {
    if (error) *error = QString("%1: %2").arg(path, why);
    return -1;
  }
  if (form.formClass.isEmpty()) form.formClass = QFileInfo(file).completeBaseName();
  auto* s = new DesignSurface(inserter_);
  QString warnings;
  s->load(form, &warnings);
  for (const QString& w : warnings.split('\n', Qt::SkipEmptyParts))
    say(QString("%1: %2").arg(file, w));
  s->setJournalPath(journalPathFor(path));
  s->setTagTable(&tagView_->model()->table());
  s->setTool(insertTool_->isChecked() ? DesignSurface::InsertTool : DesignSurface::SelectTool);
  if (recovered) s->setRecovered(true);
  undoGroup_->addStack(s->undoStack());
  connect(s, &DesignSurface::modifiedChanged, this, [this] { updateTitles(); });
  connect(s, &DesignSurface::message, this, [this](const QString& t) { say(t); });
  // Escape on a surface goes back to selecting: on every surface and in the tool bar.
  connect(s, &DesignSurface::toolChanged, this, [this](DesignSurface::Tool t) {
    (t == DesignSurface::InsertTool ? insertTool_ : selectTool_)->setChecked(true);
    for (const Mask& m : masks_)
      m.surface->setTool(t);
  });
  connect(s, &DesignSurface::edited, this, [this, s] {
    if (s != currentSurface() || treeDirty_) return;
    treeDirty_ = true;
    QTimer::singleShot(0, this, [this] {
      if (treeDirty_) refreshTree();
    });
  });
  connect(s, &DesignSurface::selectionChanged, this, [this, s] {
    if (s == currentSurface()) syncTreeSelection();
  });
  // The mask's code: the file the generator makes once (shown as it will be until then).
  const QString base = QFileInfo(file).completeBaseName();
  auto* e = new Editor;
  static const QRegularExpression numbered("^mask([1-9][0-9]{0,5})$");
  QRegularExpressionMatch nm = numbered.match(base);
  if (e->load(project_.path(base + "_events.cpp"), &why,
              nm.hasMatch() ? studioEventsFile(nm.captured(1).toInt()) : QString()) != 0)
    say(why);
  e->setIdentifierMapper(
      [s](const QString& name) { return studioMaskIdentifiers(s->form()).value(name, name); });
  connect(e, &Editor::modificationChanged, this, [this] { updateTitles(); });
  auto* page = new QSplitter(Qt::Vertical);
  page->addWidget(s);
  page->addWidget(e);
  page->setStretchFactor(0, 3);
  page->setStretchFactor(1, 2);
  masks_.append({file, s, e, page});
  tabs_->addTab(page, base);
  updateTitles();
  return masks_.size() - 1;
}

void StudioWindow::closeMasks() {
  for (const Mask& m : masks_) {
    undoGroup_->removeStack(m.surface->undoStack());
    delete m.page;
  }
  masks_.clear();
  tree_->clear();
}

int StudioWindow::openProject(const QString& folder, QString* error) {
  if (hasProject_ && !maybeSave()) {
    if (error) *error = "the open project has unsaved changes";
    return -1;
  }
  StudioProject p;
  QString why;
  if (StudioProject::open(folder, &p, &why) != 0) {
    if (error) *error = why;
    return -1;
  }
  closeMasks();
  messages_->clear();
  project_ = p;
  hasProject_ = true;
  if (tagView_->load(p.folder, &why) != 0) say(why);
  int r = 0;
  for (const QString& file : p.masks) {
    if (loadMask(file, &why) < 0) {
      say(why);
      if (error) *error = why;
      r = -1;
    }
  }
  if (!masks_.isEmpty()) tabs_->setCurrentIndex(0);
  currentChanged();
  updateTitles();
  return r;
}

int StudioWindow::newMask(QString* error) {
  if (!hasProject_) {
    if (error) *error = "no project is open";
    return -1;
  }
  QString file = project_.nextMaskName();
  UiForm f;
  f.formClass = QFileInfo(file).completeBaseName();
  f.root.className = "QWidget";
  f.root.name = f.formClass;
  f.root.setProperty(uiRect("geometry", QRect(0, 0, 640, 480)));
  QString why;
  if (uiSave(project_.path(file), f, &why) != 0) {
    if (error) *error = why;
    return -1;
  }
  project_.masks << file;
  int i = loadMask(file, error);
  if (i >= 0) setCurrentMask(i);
  return i;
}

int StudioWindow::saveMask(int i, QString* error) {
  DesignSurface* s = surface(i);
  if (s == nullptr) return -1;
  QString why;
  if (masks_[i].editor->modified() && masks_[i].editor->save(&why) != 0) {
    if (error) *error = why;
    return -1;
  }
  if (!s->modified() && QFileInfo::exists(project_.path(masks_[i].file))) return 0;
  if (uiSave(project_.path(masks_[i].file), s->form(), &why) != 0) {
    if (error) *error = why;
    return -1;
  }
  s->markSaved();
  updateTitles();
  return 0;
}

int StudioWindow::saveAll(QString* error) {
  int r = 0;
  for (int i = 0; i < masks_.size(); i++)
    if (saveMask(i, error) != 0) r = -1;
  QString why;
  if (tagView_->save(&why) != 0) {
    if (error) *error = why;
    r = -1;
  }
  updateTitles();
  return r;
}

bool StudioWindow::maybeSave() {
  QStringList changed;
  for (const Mask& m : masks_) {
    if (m.surface->modified()) changed << m.file;
    if (m.editor->modified()) changed << QFileInfo(m.editor->fileName()).fileName();
  }
  if (tagView_->modified()) changed << "tags.txt";
  if (changed.isEmpty()) return true;
  int answer = closeAnswer_;
  if (answer == 0)
    answer = QMessageBox::question(
        this, "hxstudio", QString("Save the changes to %1?").arg(changed.join(", ")),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
  if (answer == QMessageBox::Save) {
    QString why;
    if (saveAll(&why) == 0) return true;
    QMessageBox::warning(this, "hxstudio", QString("Saving failed: %1").arg(why));
    return false;
  }
  if (answer == QMessageBox::Discard) {
    // Discarded on purpose: the journals would bring the changes back next time.
    for (const Mask& m : masks_)
      if (m.surface->modified() && !m.surface->journalPath().isEmpty())
        journalRemove(m.surface->journalPath());
    return true;
  }
  return false;
}

void StudioWindow::closeEvent(QCloseEvent* e) {
  if (!maybeSave()) {
    e->ignore();
    return;
  }
  stopProcess(client_, true);
  stopProcess(server_, true);
  // The surfaces go now, so that nothing writes a journal after the question was answered.
  closeMasks();
  e->accept();
}

void StudioWindow::updateTitles() {
  for (int i = 0; i < masks_.size(); i++) {
    int t = tabs_->indexOf(masks_[i].page);
    QString name = QFileInfo(masks_[i].file).completeBaseName();
    bool changed = masks_[i].surface->modified() || masks_[i].editor->modified();
    if (t >= 0) tabs_->setTabText(t, changed ? name + "*" : name);
  }
  QString title = hasProject_ ? QString("hxstudio - %1").arg(project_.name()) : QString("hxstudio");
  setWindowTitle(modified() ? title + " *" : title);
}

void StudioWindow::currentChanged() {
  DesignSurface* s = currentSurface();
  if (s) undoGroup_->setActiveStack(s->undoStack());
  refreshTree();
}

void StudioWindow::refreshTree() {
  treeDirty_ = false;
  syncing_ = true;
  tree_->clear();
  DesignSurface* s = currentSurface();
  if (s) {
    QMap<QWidget*, QTreeWidgetItem*> items;
    addTreeItems(nullptr, tree_, s->root(), &items);
    tree_->expandAll();
  }
  syncing_ = false;
  syncTreeSelection();
}

void StudioWindow::syncTreeSelection() {
  DesignSurface* s = currentSurface();
  if (s == nullptr || treeDirty_) return;
  QList<QWidget*> sel = s->selection();
  syncing_ = true;
  for (QTreeWidgetItemIterator it(tree_); *it; ++it) {
    auto* w = static_cast<QWidget*>((*it)->data(0, kItemWidget).value<void*>());
    (*it)->setSelected(sel.contains(w));
  }
  syncing_ = false;
}

void StudioWindow::treeSelectionChanged() {
  DesignSurface* s = currentSurface();
  if (syncing_ || s == nullptr) return;
  QList<QWidget*> sel;
  for (QTreeWidgetItem* item : tree_->selectedItems()) {
    auto* w = static_cast<QWidget*>(item->data(0, kItemWidget).value<void*>());
    // The item may outlive its widget until the tree is rebuilt: only widgets of the mask.
    QVector<QWidget*> all;
    std::function<void(QWidget*)> walk = [&](QWidget* p) {
      for (QWidget* c : uiDesignChildren(p)) {
        all << c;
        walk(c);
      }
    };
    walk(s->root());
    if (all.contains(w)) sel << w;
  }
  s->setSelection(sel);
}

void StudioWindow::slotNewProject() {
  QString dir = QFileDialog::getExistingDirectory(this, "hxstudio: New project");
  if (dir.isEmpty()) return;
  StudioProject p;
  QString why;
  if (StudioProject::create(dir, &p, &why) != 0 || openProject(dir, &why) != 0)
    QMessageBox::warning(this, "hxstudio", why);
}

void StudioWindow::slotOpenProject() {
  QString dir = QFileDialog::getExistingDirectory(this, "hxstudio: Open project");
  if (dir.isEmpty()) return;
  QString why;
  if (openProject(dir, &why) != 0) QMessageBox::warning(this, "hxstudio", why);
}

void StudioWindow::slotNewMask() {
  QString why;
  if (newMask(&why) < 0) QMessageBox::warning(this, "hxstudio", why);
}

void StudioWindow::slotSave() {
  QString why;
  int i = 0;
  for (; i < masks_.size(); i++)
    if (masks_[i].surface == currentSurface()) break;
  if (saveMask(i, &why) != 0) QMessageBox::warning(this, "hxstudio", why);
}

void StudioWindow::slotSaveAll() {
  QString why;
  if (saveAll(&why) != 0) QMessageBox::warning(this, "hxstudio", why);
}

// ---- build and run

void StudioWindow::slotRun() {
  if (!hasProject_ || builder_->running()) return;
  slotStop();
  QString why;
  if (saveAll(&why) != 0) {
    say(QString("Not built: %1").arg(why));
    return;
  }
  messages_->clear();
  for (const Mask& m : masks_)
    m.editor->clearMarks();
  say(QString("Building %1 ...").arg(project_.name()));
  runAction_->setEnabled(false);
  builder_->build(project_);
}

void StudioWindow::buildFinished(bool ok, const QVector<StudioBuildMessage>& msgs,
                                 const QString& log) {
  runAction_->setEnabled(true);
  for (const StudioBuildMessage& m : msgs) {
    QString text = m.file.isEmpty() ? QString("%1: %2").arg(m.severity, m.text)
                                    : QString("%1:%2:%3: %4: %5")
                                          .arg(m.file)
                                          .arg(m.line)
                                          .arg(m.column)
                                          .arg(m.severity, m.text);
    auto* item = new QListWidgetItem(text, messages_);
    item->setData(kItemFile, m.file);
    item->setData(kItemLine, m.line);
    if (m.severity == "error") item->setForeground(QColor(176, 0, 0));
  }
  // The compiler names the sources relative to where it ran, or absolutely.
  for (const Mask& m : masks_)
    m.editor->setBuildMessages(msgs, {project_.path("build"), project_.folder});
  if (!ok) {
    say(msgs.isEmpty() && !log.isEmpty() ? QString("Build failed: %1").arg(log.right(2000))
                                         : QString("Build failed"));
    if (auto* dock = qobject_cast<QDockWidget*>(messages_->parentWidget())) dock->raise();
    return;
  }
  QString why;
  if (startRun(builder_->program(), &why) != 0) say(why);
}

QString StudioWindow::clientProgram() const {
  if (!clientProgram_.isEmpty()) return clientProgram_;
  QString p = QStandardPaths::findExecutable("otclient", {QCoreApplication::applicationDirPath()});
  if (p.isEmpty())
    p = QStandardPaths::findExecutable("otclient",
                                       {QCoreApplication::applicationDirPath() + "/../client"});
  if (p.isEmpty()) p = QStandardPaths::findExecutable("otclient");
  return p;
}

int StudioWindow::startRun(const QString& serverProgram, QString* error) {
  stopProcess(client_, true);
  stopProcess(server_, true);
  port_ = freeLoopbackPort();
  if (port_ <= 0) {
    if (error) *error = "no free loopback port";
    return -1;
  }
  server_ = new QProcess(this);
  server_->setProcessChannelMode(QProcess::MergedChannels);
  if (hasProject_) server_->setWorkingDirectory(project_.folder);
  connect(server_, &QProcess::readyRead, this, [this] {
    QProcess* p = server_;
    while (p && p->canReadLine()) {
      messages_->addItem(QString::fromLocal8Bit(p->readLine()).trimmed());
      // A chatty server must not grow the list without end.
      while (messages_->count() > kMaxMessages)
        delete messages_->takeItem(0);
    }
  });
  QProcess* started = server_;
  connect(server_, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
          [this, started](int code, QProcess::ExitStatus) {
            if (started != server_) return;
            say(QString("The server ended (status %1)").arg(code));
            stopAction_->setEnabled(client_ && client_->state() != QProcess::NotRunning);
          });
  server_->start(serverProgram, {QString("-port=%1").arg(port_), "-bind=127.0.0.1"});
  if (!server_->waitForStarted(5000)) {
    if (error) *error = QString("%1 does not start: %2").arg(serverProgram, server_->errorString());
    delete server_;
    server_ = nullptr;
    return -1;
  }
  say(QString("Server %1 on 127.0.0.1:%2").arg(QFileInfo(serverProgram).fileName()).arg(port_));
  stopAction_->setEnabled(true);
  // The client retries until the server listens, but a moment's start spares it a failed try.
  QTimer::singleShot(300, this, [this] { startClient(); });
  return 0;
}

void StudioWindow::startClient() {
  if (server_ == nullptr || server_->state() == QProcess::NotRunning) return;
  QString program = clientProgram();
  if (program.isEmpty()) {
    say("otclient is neither beside hxstudio nor in PATH: start a client on the port yourself");
    return;
  }
  stopProcess(client_, true);
  client_ = new QProcess(this);
  client_->setProcessChannelMode(QProcess::ForwardedChannels);
  client_->start(program, {"-host=127.0.0.1", QString("-port=%1").arg(port_)});
  if (!client_->waitForStarted(5000)) say(QString("%1 does not start").arg(program));
}

void StudioWindow::stopProcess(QProcess* p, bool wait) {
  if (p == nullptr) return;
  if (p->state() != QProcess::NotRunning) {
    p->terminate();
    if (wait) {
      if (!p->waitForFinished(3000)) {
        p->kill();
        p->waitForFinished(3000);
      }
    } else {
      // A program that ignores the request gets 3 s, then it is killed.
      QPointer<QProcess> guard(p);
      QTimer::singleShot(3000, Qt::PreciseTimer, this, [guard] {
        if (guard && guard->state() != QProcess::NotRunning) guard->kill();
      });
      connect(p, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), p,
              &QObject::deleteLater);
      if (p == server_) server_ = nullptr;
      if (p == client_) client_ = nullptr;
      return;
    }
  }
  if (p == server_) server_ = nullptr;
  if (p == client_) client_ = nullptr;
  p->deleteLater();
}

void StudioWindow::slotStop() {
  if (builder_->running()) {
    builder_->cancel();
    runAction_->setEnabled(true);
  }
  stopProcess(client_, false);
  stopProcess(server_, false);
  stopAction_->setEnabled(false);
}

// ---- build messages and sources

QString StudioWindow::resolveSource(const QString& file) const {
  if (QFileInfo(file).isAbsolute()) return file;
  for (const QString& dir : {project_.path("build"), project_.folder}) {
    QString p = QDir(dir).filePath(file);
    if (QFileInfo::exists(p)) return QDir::cleanPath(p);
  }
  return project_.path(file);
}

void StudioWindow::messageActivated(QListWidgetItem* item) {
  QString file = item->data(kItemFile).toString();
  if (file.isEmpty()) return;
  QString path = resolveSource(file);
  // A mask's own code opens in its editor; other files (generated ones) read-only.
  for (int i = 0; i < masks_.size(); i++) {
    Editor* e = masks_[i].editor;
    if (QFileInfo(path) == QFileInfo(e->fileName()) ||
        QDir::cleanPath(QFileInfo(path).absoluteFilePath()) ==
            QDir::cleanPath(QFileInfo(e->fileName()).absoluteFilePath())) {
      setCurrentMask(i);
      e->gotoLine(item->data(kItemLine).toInt());
      e->textEdit()->setFocus();
      return;
    }
  }
  openSource(path, item->data(kItemLine).toInt());
}

QPlainTextEdit* StudioWindow::openSource(const QString& file, int line) {
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly) || f.size() > kMaxSource) {
    say(QString("Cannot show %1").arg(file));
    return nullptr;
  }
  QPlainTextEdit* view = sources_.value(file);
  if (view == nullptr) {
    view = new QPlainTextEdit(this);
    view->setWindowFlags(Qt::Window);
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view->setAttribute(Qt::WA_DeleteOnClose);
    view->resize(800, 600);
    sources_.insert(file, view);
  }
  view->setWindowTitle(QString("%1 (read-only)").arg(QFileInfo(file).fileName()));
  view->setPlainText(QString::fromUtf8(f.readAll()));
  QTextBlock b = view->document()->findBlockByNumber(qMax(0, line - 1));
  QTextCursor c(b);
  c.select(QTextCursor::LineUnderCursor);
  view->setTextCursor(c);
  view->show();
  view->raise();
  view->centerCursor();
  return view;
}

// ---- daemons

void StudioWindow::buildDaemonMenu() {
  QMenu* menu = menuBar()->addMenu("&Daemons");
  menu->addAction("Modbus...", this, [this] { slotDaemon(dlgDaemon::MODBUS); });
  menu->addAction("Siemens TCP...", this, [this] { slotDaemon(dlgDaemon::SIEMENS_TCP); });
  menu->addAction("PPI...", this, [this] { slotDaemon(dlgDaemon::PPI); });
}

dlgDaemon* StudioWindow::daemonDialog(int kind) {
  if (!hasProject_) return nullptr;
  auto* d = new dlgDaemon(kind, project_.folder, this);
  connect(d, &dlgDaemon::headerWritten, this, [this](const QString& header) {
    QString why;
    if (tagView_->daemonHeaderWritten(header, &why) < 0) say(why);
    updateTitles();
  });
  return d;
}

void StudioWindow::slotDaemon(int kind) {
  dlgDaemon* d = daemonDialog(kind);
  if (d == nullptr) {
    say("Open or make a project first: the daemon's files go into its folder");
    return;
  }
  d->run();
  delete d;
}
