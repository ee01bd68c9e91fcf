// The display client's protocol interpreter: carries out the server's command lines on the
// widgets of the current mask (or of the modal dialog while one is open). It is the consumer
// at the bottom of the connection's stack (otconnection.h): lines arrive whole, and a command
// that announces data (a download, plot points, a drawing, a GL block) puts the stream that
// takes it on the stack (otstreams.h), so that nothing waits for the server.
#ifndef OTCLIENT_INTERPRETER_H
#define OTCLIENT_INTERPRETER_H

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "otcommandtable.h"
#include "corecommands.h"
#include "otconnection.h"
#include "widgetcommands.h"
#include "otinterpreter.h"

class QStatusBar;
class QLabel;

class otClientInterpreter : public QObject, public otStreamConsumer {
  Q_OBJECT
 public:
  // s: the connection handle (kept by pointer, as the widgets keep it); base: the widget
  // that holds the base mask; status: where status messages go (may be null).
  otClientInterpreter(int* s, QWidget* base, QStatusBar* status, QObject* parent = nullptr);
  ~otClientInterpreter() override;

  // The connection whose streams the commands start (null: none; their data then goes
  // unread, as on a closed connection).
  void setConnection(otClientConnection* c) { conn_ = c; }
  otClientConnection* connection() const { return conn_; }
  // As the connection's bottom consumer: a line of at most maxLine bytes is carried out, a
  // longer one is refused whole.
  int lineSize() const override { return otclient::maxLine + 1; }
  void line(otClientConnection& c, const char* text, int len, bool cut) override;

  // Carries out one line (len bytes, with or without its line feed). Returns the command, or
  // CmdNone for a line that was ignored (unknown, malformed, bad id).
  otclient::Command interpret(const char* line, int len);

  // The widget with id in the active mask, null when there is none.
  QWidget* widget(int id) const;
  // Ids of the active mask.
  int idCount() const;
  bool modalOpen() const { return modal_ != nullptr; }
  QDialog* modalDialog() const { return modal_; }
  // The widget that holds the base mask (the mask of the main window).
  QWidget* baseRoot() const { return base_.root; }
  // While a modal dialog is open: on makes the following commands go to the base mask
  // (updateBaseWindow), off gives them back to the dialog. A new dialog starts off.
  void setBaseUpdate(bool on) { baseUpdate_ = on; }
  bool baseUpdate() const { return baseUpdate_; }
  // The print dialog that print(id) opened without a PDF file configured, while it is open.
  QDialog* printDialog() const { return printDialog_; }
  // Lines ignored since start (unknown, malformed or naming a bad id).
  long ignored() const { return ignored_; }
  // Counts a line as ignored and says why when refusals are traced (opt.debug).
  void refuse(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // A request cut to a limit of this client: said on standard output and the status bar.
  void limitMessage(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // The widget with id, or null with a refusal for what.
  QWidget* target(int id, const char* what);
  // True when w is ancestor or lies inside it.
  static bool within(const QWidget* w, const QWidget* ancestor);
  // Puts a stream on the connection's stack (nothing without a connection): false then.
  bool startStream(std::unique_ptr<otStreamConsumer> stream);
  int* handle() const { return s_; }
  // The modal dialog of the server: opened (w x h, replacing one that is open; commands go
  // to its mask from now on) and closed (they go to the base mask again).
  void openModal(int w, int h);
  void closeModal();
  // The status line's text in the colour r, g, b (rich text from the server).
  void statusMessage(int r, int g, int b, const char* text);
  // The print dialog opened for print(id) while it is open.
  void setPrintDialog(QDialog* d) { printDialog_ = d; }
  // The interpreter's own family of core commands (corecommands.h): masks, sync, promises,
  // downloads and the streams.
  static const otclient::CoreCommand* ownCommands(int* count);

 Q_SIGNALS:
  void maskShown();
  // Emitted for sync(n) before the answer goes out: what was carried out is to be shown now.
  void syncRequested();
  // The server's login (otloginline.h): it asks for user and password (attempt 1, 2, ...;
  // message "" at the first, else why the last failed); it says who the connection belongs
  // to; it refused the login and closes next. Whoever answers must not wait for the operator
  // inside the slot: the connection's reader is calling.
  void loginRequested(int attempt, const QString& message);
  void loggedIn(const QString& user, const QString& role);
  void loginFailed(const QString& message);

 private:
  struct Mask {
    QWidget* root = nullptr;
    std::vector<QPointer<QWidget>> ids;
  };
  Mask& active() { return modal_ && !baseUpdate_ ? modalMask_ : base_; }
  const Mask& active() const { return modal_ && !baseUpdate_ ? modalMask_ : base_; }
  QWidget* parentFor(int parent);
  void construct(otclient::Command cmd, const otCallLine& c);
  // A command of the widget families (widgetcommands.h): 0, or -1 when it was refused.
  int widgetCommand(const otclient::WidgetCommand& wc, const otCallLine& c);
  void place(int id, QWidget* w);
  void apply(otclient::Command cmd, const otCallLine& c);
  void startDefinition(int n);
  void download(const char* name, int n);
  // An SVG command and its argument lines (taken even when the widget is missing, so that they
  // are not taken for commands); svgApply carries it out once they have come.
  void svgCommand(otclient::Command cmd, const otCallLine& c);
  static void svgApply(class QDrawWidget* draw, otclient::Command cmd, int state,
                       const std::vector<std::string>& lines);
  // The handlers of ownCommands().
  using Handler = void(otClientInterpreter&, QWidget*, const otCallLine&, otclient::Command, int);
  static Handler cmdStartDefinition, cmdEndDefinition, cmdSync, cmdAlive, cmdDownload, cmdPlaySound,
      cmdBeginDraw, cmdGlBegin, cmdGlUpdate, cmdSvg, cmdLogin, cmdLoggedIn, cmdLoginFailed;

  int* s_;
  QStatusBar* status_;
  QLabel* statusLabel_ = nullptr;
  Mask base_;
  Mask modalMask_;
  QDialog* modal_ = nullptr;
  bool baseUpdate_ = false;
  QPointer<QDialog> printDialog_;  // the open print dialog, which the connection goes on past
  otCallLine line_;
  long ignored_ = 0;
  otClientConnection* conn_ = nullptr;
};

#endif
