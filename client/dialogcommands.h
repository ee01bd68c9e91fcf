// The dialogs a display server opens on the client (message box, input, file chooser, popup
// menu, the question before a hyperlink) and what they answer. A dialog is modal for the
// operator but never holds the connection: it is shown without a loop of its own, the lines of
// the server go on being carried out meanwhile, and its answer "dialogAnswer(n,result,"text")"
// goes out when the operator closes it. A dialog the server has given up on (closeDialog) is
// closed without an answer.
#ifndef OTCLIENT_DIALOGCOMMANDS_H
#define OTCLIENT_DIALOGCOMMANDS_H

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <deque>
#include <vector>

class otClientInterpreter;

// The numbers of the dialog lines (docs/display-protocol.md, "Dialogs and global calls"): the
// message box's buttons, the answer of a dialog closed without one, and the bounds of input
// texts and popup menus.
namespace otdialog {
enum {
  mbOk = 1,
  mbCancel = 2,
  mbYes = 4,
  mbNo = 8,
  mbAbort = 16,
  mbRetry = 32,
  mbIgnore = 64,
  mbAll = 127,
  cancelled = -2,
  maxInput = 2000,
  maxPopupItems = 64
};
}

class otDialogHost : public QObject {
  Q_OBJECT
 public:
  // Open dialogs of one connection, files chosen and not yet uploaded.
  enum { maxOpen = 8, maxChosen = 8 };

  // The host of the interpreter's connection, made on first use (a child of the interpreter).
  static otDialogHost* of(otClientInterpreter* interpreter, int* s);
  // The host when one was made, else null.
  static otDialogHost* find(const otClientInterpreter* interpreter);

  // Takes dialog w as the one of request n (0: a dialog that answers nothing): false when
  // maxOpen are open already (w is then deleted). The dialog answers cancelled when it goes
  // away without an answer.
  bool add(int n, QWidget* w);
  // Sends the answer of request n, once: false when n is not open (answered, given up).
  bool answer(int n, int result, const QString& text);
  // The operator's answer at once, without a dialog (a refused request, getInitialMask).
  void answerNow(int n, int result, const QString& text);
  // The server gave up on request n: its dialog closes without an answer, its file is
  // forgotten.
  void giveUp(int n);
  // Every dialog closes without an answer, every file is forgotten (a lost connection).
  void closeAll();

  // The file the operator chose in request n, for at most maxBytes.
  void chosen(int n, const QString& path, int maxBytes);
  // Sends "@upload(n,size)" and the chosen file's bytes, or "@upload(n,-1)" when there is no
  // such file or it cannot be read whole within its bound.
  void upload(int n);

  // For tests: the dialog of request n (null when none is open), the count of open ones.
  QWidget* dialog(int n) const;
  int openCount() const;

 private:
  otDialogHost(otClientInterpreter* interpreter, int* s);
  void send(const QByteArray& line);

  struct Open {
    int n;
    QPointer<QWidget> w;
  };
  struct Chosen {
    int n;
    QString path;
    int maxBytes;
  };
  int* s_;
  std::vector<Open> open_;
  std::deque<Chosen> chosen_;
};

#endif
