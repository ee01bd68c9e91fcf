// The studio's main window: one tab per mask of the open project, its design surface above
// the editor of its code ("<mask>_events.cpp") in a splitter; the tree of the current mask's
// widgets, the tag table, the build messages, and Run/Stop of
// the generated display server with a display client on it.
#ifndef HXSTUDIO_STUDIOWINDOW_H
#define HXSTUDIO_STUDIOWINDOW_H

#include <QMainWindow>
#include <QMap>
#include <QPointer>
#include <QProcess>
#include <QVector>

#include "generator.h"
#include "project.h"

class QAction;
class QActionGroup;
class QListWidget;
class QListWidgetItem;
class QPlainTextEdit;
class QTabWidget;
class QTreeWidget;
class QUndoGroup;
class DesignSurface;
class Editor;
class TagTableView;
class dlgDaemon;
class dlgInsertWidget;

class StudioWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit StudioWindow(QWidget* parent = nullptr);
  ~StudioWindow() override;

  // Opens the project in folder (asking first to save the changes of the open one). A mask
  // with a journal newer than its file asks whether to keep the recovered changes. 0, or -1
  // and *error.
  int openProject(const QString& folder, QString* error);
  const StudioProject& project() const { return project_; }
  bool hasProject() const { return hasProject_; }

  // Answers given without asking (tests, scripted use): 0 asks. Recovery: QMessageBox::Yes or
  // No; closing with changes: QMessageBox::Save, Discard or Cancel.
  void setRecoveryAnswer(int answer) { recoveryAnswer_ = answer; }
  void setCloseAnswer(int answer) { closeAnswer_ = answer; }

  int maskCount() const { return masks_.size(); }
  DesignSurface* surface(int i) const;
  DesignSurface* currentSurface() const;
  // The editor of a mask's code, and of the current mask's.
  Editor* editor(int i) const;
  Editor* currentEditor() const;
  QString maskFile(int i) const;
  void setCurrentMask(int i);
  // Makes a new empty mask (the project's next name), saved at once. Its index, or -1.
  int newMask(QString* error);
  // Saves one mask (its journal goes) and its code, or every mask with its code and the tag
  // table. 0, or -1 and *error.
  int saveMask(int i, QString* error);
  int saveAll(QString* error);
  bool modified() const;

  TagTableView* tagView() const { return tagView_; }
  QTreeWidget* widgetTree() const { return tree_; }
  QListWidget* messageList() const { return messages_; }
  dlgInsertWidget* inserter() const { return inserter_; }
  // Rebuilds the widget tree of the current mask now (it is otherwise rebuilt after edits,
  // when the event loop comes round).
  void refreshTree();

  // Starts serverProgram on a free loopback port and otclient on it (Run does this after a
  // good build). 0, or -1 and *error.
  int startRun(const QString& serverProgram, QString* error);
  int serverPort() const { return port_; }
  QProcess* serverProcess() const { return server_; }
  QProcess* clientProcess() const { return client_; }
  // The client program: otclient beside this program or in PATH unless set.
  void setClientProgram(const QString& program) { clientProgram_ = program; }
  QString clientProgram() const;
  StudioBuilder* builder() const { return builder_; }
  // Shows file read-only at line (1 for the first).
  QPlainTextEdit* openSource(const QString& file, int line);
  // A "Make a Daemon" dialog of kind (dlgDaemon::MODBUS, ...) on the project folder whose
  // generated headers go to the tag table at once; the caller owns it. Null without a project.
  dlgDaemon* daemonDialog(int kind);

 public slots:
  void slotNewProject();
  void slotOpenProject();
  void slotNewMask();
  void slotSave();
  void slotSaveAll();
  void slotRun();
  void slotStop();
  void slotDaemon(int kind);

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  struct Mask {
    QString file;
    DesignSurface* surface;
    Editor* editor;
    QWidget* page;  // the tab: the surface above the editor
  };
  void buildActions();
  void buildDaemonMenu();
  int loadMask(const QString& file, QString* error);
  void closeMasks();
  bool maybeSave();
  void updateTitles();
  void currentChanged();
  void syncTreeSelection();
  void treeSelectionChanged();
  void say(const QString& text);
  void buildFinished(bool ok, const QVector<StudioBuildMessage>& msgs, const QString& log);
  void messageActivated(QListWidgetItem* item);
  void startClient();
  void stopProcess(QProcess* p, bool wait);
  QString resolveSource(const QString& file) const;
  int maskOfPage(const QWidget* page) const;
  // The editor that has the keyboard focus, or null.
  Editor* focusedEditor() const;

  StudioProject project_;
  bool hasProject_ = false;
  QVector<Mask> masks_;
  QTabWidget* tabs_;
  QUndoGroup* undoGroup_;
  dlgInsertWidget* inserter_;
  QTreeWidget* tree_;
  TagTableView* tagView_;
  QListWidget* messages_;
  QMap<QString, QPointer<QPlainTextEdit>> sources_;
  bool treeDirty_ = false;
  bool syncing_ = false;
  int recoveryAnswer_ = 0;
  int closeAnswer_ = 0;

  StudioBuilder* builder_;
  QProcess* server_ = nullptr;
  QProcess* client_ = nullptr;
  int port_ = 0;
  QString clientProgram_;

  QActionGroup* tools_;
  QAction* selectTool_;
  QAction* insertTool_;
  QAction* runAction_;
  QAction* stopAction_;
};

#endif
