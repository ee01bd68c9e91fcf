// The dialog family's commands: dialogs that ask the operator and answer the server, and the
// requests for the client's desktop (window size, beep, hyperlink, command). What a server may
// do to the operator's machine is bounded here: it reads only the file the operator picks, it
// opens only http and https addresses the operator agrees to, and it starts only the command
// lines the operator has allowed.
#include "dialogcommands.h"

#include "corecommands.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPointer>
#include <memory>
#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "interpreter.h"
#include "mainwindow.h"
#include "otinterpreter.h"
#include "otlog.h"
#include "otoptions.h"
#include "tcputil.h"
#include "widgetcommands.h"

using namespace otclient;

namespace {

// The window a dialog belongs to: the server's modal dialog when one is open, else the main
// window.
QWidget* owner(QWidget* root) {
  return root ? root->window() : nullptr;
}

// Says what was refused on standard output and in the main window's status bar.
void tell(QWidget* root, const QString& message) {
  otLog(OT_LOG_WARNING, "otclient: %s\n", message.toUtf8().constData());
  QWidget* top = owner(root);
  if (auto* d = qobject_cast<QDialog*>(top))
    if (d->parentWidget()) top = d->parentWidget()->window();
  if (auto* main = qobject_cast<QMainWindow*>(top)) main->statusBar()->showMessage(message, 15000);
}

// Shown modal for the operator, without a loop of its own.
void showModal(QWidget* w) {
  w->setAttribute(Qt::WA_DeleteOnClose);
  w->setWindowModality(Qt::ApplicationModal);
  w->show();
}

const struct {
  int flag;
  QMessageBox::StandardButton button;
} kButtons[] = {
    {otdialog::mbOk, QMessageBox::Ok},         {otdialog::mbCancel, QMessageBox::Cancel},
    {otdialog::mbYes, QMessageBox::Yes},       {otdialog::mbNo, QMessageBox::No},
    {otdialog::mbAbort, QMessageBox::Abort},   {otdialog::mbRetry, QMessageBox::Retry},
    {otdialog::mbIgnore, QMessageBox::Ignore},
};

// messageBox(n,type,"title","text",buttons)
int messageBox(QWidget* root, const otCallLine& c, WidgetContext& ctx) {
  otDialogHost* host = otDialogHost::of(ctx.interpreter, ctx.s);
  int n = argInt(c, 0), type = argInt(c, 1), buttons = argInt(c, 4);
  if (n <= 0) return -1;
  if (type < 0 || type > 3 || buttons < 0 || buttons > otdialog::mbAll) {
    host->answerNow(n, -1, QString());
    return -1;
  }
  const QMessageBox::Icon icons[] = {QMessageBox::Information, QMessageBox::Warning,
                                     QMessageBox::Critical, QMessageBox::Question};
  auto* box = new QMessageBox(icons[type], argText(c, 2), argText(c, 3), QMessageBox::NoButton,
                              owner(root));
  box->setTextFormat(Qt::PlainText);
  for (const auto& b : kButtons)
    if (buttons & b.flag) box->addButton(b.button);
  if (buttons == 0) box->addButton(QMessageBox::Ok);
  QObject::connect(box, &QMessageBox::buttonClicked, host, [host, n, box](QAbstractButton* b) {
    QMessageBox::StandardButton chosen = box->standardButton(b);
    for (const auto& k : kButtons)
      if (k.button == chosen) host->answer(n, k.flag, QString());
  });
  if (!host->add(n, box)) return -1;
  showModal(box);
  return 0;
}

// inputDialog(n,"title","label","initial",maxChars)
int inputDialog(QWidget* root, const otCallLine& c, WidgetContext& ctx) {
  otDialogHost* host = otDialogHost::of(ctx.interpreter, ctx.s);
  int n = argInt(c, 0), chars = argInt(c, 4);
  if (n <= 0) return -1;
  if (chars < 1 || chars > otdialog::maxInput) {
    host->answerNow(n, -1, QString());
    return -1;
  }
  auto* dialog = new QDialog(owner(root));
  dialog->setWindowTitle(argText(c, 1));
  auto* layout = new QVBoxLayout(dialog);
  auto* label = new QLabel(dialog);
  label->setTextFormat(Qt::PlainText);
  label->setText(argText(c, 2));
  auto* edit = new QLineEdit(dialog);
  edit->setMaxLength(chars);
  edit->setText(argText(c, 3));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  layout->addWidget(label);
  layout->addWidget(edit);
  layout->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  QObject::connect(dialog, &QDialog::accepted, host,
                   [host, n, edit] { host->answer(n, 1, edit->text()); });
  if (!host->add(n, dialog)) return -1;
  showModal(dialog);
  return 0;
}

// fileDialog(n,"title","filter",maxBytes): the answer gives the chosen file's bare name and
// size; its bytes go out only when the server asks for them (uploadFile).
int fileDialog(QWidget* root, const otCallLine& c, WidgetContext& ctx) {
  otDialogHost* host = otDialogHost::of(ctx.interpreter, ctx.s);
  int n = argInt(c, 0), maxBytes = argInt(c, 3);
  if (n <= 0) return -1;
  if (maxBytes < 1 || maxBytes > maxDownload) {
    host->answerNow(n, -1, QString());
    return -1;
  }
  auto* dialog = new QFileDialog(owner(root), argText(c, 1), QString(), argText(c, 2));
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  // Qt's own chooser: the same on every desktop, and it stays in this process.
  dialog->setOption(QFileDialog::DontUseNativeDialog);
  QObject::connect(dialog, &QDialog::accepted, host, [host, n, dialog, maxBytes] {
    QStringList files = dialog->selectedFiles();
    QFileInfo info(files.isEmpty() ? QString() : files.first());
    if (!info.isFile()) {
      host->answer(n, -1, QString());
      return;
    }
    qint64 size = info.size();
    host->chosen(n, info.absoluteFilePath(), maxBytes);
    host->answer(n, size > 0x7fffffff ? 0x7fffffff : (int)size, info.fileName());
  });
  if (!host->add(n, dialog)) return -1;
  showModal(dialog);
  return 0;
}

int uploadFile(QWidget*, const otCallLine& c, WidgetContext& ctx) {
  otDialogHost::of(ctx.interpreter, ctx.s)->upload(argInt(c, 0));
  return 0;
}

// popupMenu(n,"a,b,,c"): entries by commas, an empty one a separator; the answer counts the
// entries that are no separator.
int popupMenu(QWidget* root, const otCallLine& c, WidgetContext& ctx) {
  otDialogHost* host = otDialogHost::of(ctx.interpreter, ctx.s);
  int n = argInt(c, 0);
  if (n <= 0) return -1;
  QStringList entries = argText(c, 1).split(',');
  if (entries.size() > otdialog::maxPopupItems) {
    host->answerNow(n, -1, QString());
    return -1;
  }
  auto* menu = new QMenu(owner(root));
  int index = 0;
  for (const QString& e : entries) {
    if (e.isEmpty()) {
      menu->addSeparator();
      continue;
    }
    QAction* a = menu->addAction(e);
    int chosen = index++;
    QObject::connect(a, &QAction::triggered, host,
                     [host, n, chosen, e] { host->answer(n, chosen, e); });
  }
  if (index == 0) {
    delete menu;
    host->answerNow(n, -1, QString());
    return -1;
  }
  // A menu closed without a choice: the choice, when there is one, is handled first.
  QObject::connect(menu, &QMenu::aboutToHide, host, [host, n] {
    QTimer::singleShot(0, host, [host, n] { host->answer(n, otdialog::cancelled, QString()); });
  });
  menu->setAttribute(Qt::WA_DeleteOnClose);
  if (!host->add(n, menu)) return -1;
  menu->popup(QCursor::pos());
  return 0;
}

int closeDialog(QWidget*, const otCallLine& c, WidgetContext& ctx) {
  otDialogHost::of(ctx.interpreter, ctx.s)->giveUp(argInt(c, 0));
  return 0;
}

int getInitialMask(QWidget*, const otCallLine& c, WidgetContext& ctx) {
  int n = argInt(c, 0);
  if (n <= 0) return -1;
  otDialogHost::of(ctx.interpreter, ctx.s)->answerNow(n, 0, QString::fromUtf8(opt.initial_mask));
  return 0;
}

int updateBaseWindow(QWidget*, const otCallLine& c, WidgetContext& ctx) {
  // Outside a modal dialog the base mask is where commands go anyway.
  ctx.interpreter->setBaseUpdate(ctx.interpreter->modalOpen() && argInt(c, 0) != 0);
  return 0;
}

// screenHint(w,h): the main window grows so that its mask area shows w x h, within the screen.
int screenHint(QWidget*, const otCallLine& c, WidgetContext& ctx) {
  int w = argInt(c, 0), h = argInt(c, 1);
  if (w < 1 || w > maxGeometry || h < 1 || h > maxGeometry) return -1;
  QWidget* mask = ctx.interpreter->baseRoot();
  QWidget* top = mask->window();
  QWidget* area = mask->parentWidget() ? mask->parentWidget() : mask;
  QSize want = QSize(w, h) + (top->size() - area->size());
  if (QScreen* screen = top->screen()) want = want.boundedTo(screen->availableGeometry().size());
  top->resize(top->size().expandedTo(want));
  return 0;
}

int beep(QWidget*, const otCallLine&, WidgetContext&) {
  QApplication::beep();
  return 0;
}

// clientCommand("program args"): only a command line of the allow-list, word for word, and
// without a shell.
int clientCommand(QWidget* root, const otCallLine& c, WidgetContext&) {
  QString command = argText(c, 0);
  QStringList words = QProcess::splitCommand(command);
  bool allowed = false;
  if (!words.isEmpty()) {
    for (const QString& entry : QString::fromUtf8(opt.client_commands).split(';'))
      if (QProcess::splitCommand(entry) == words) allowed = true;
  }
  if (!allowed) {
    tell(root, QString("the server's command \"%1\" was refused: it is not in the allowed "
                       "commands ([commands] allow)")
                   .arg(command.left(200)));
    return -1;
  }
  QString program = words.takeFirst();
  if (!QProcess::startDetached(program, words)) {
    tell(root, QString("the server's command \"%1\" could not be started").arg(command.left(200)));
    return -1;
  }
  otLog(OT_LOG_INFO, "otclient: started the server's command %s\n", command.toUtf8().constData());
  return 0;
}

// hyperlink("url"): an http or https address, opened in the desktop's browser once the
// operator agrees.
int hyperlink(QWidget* root, const otCallLine& c, WidgetContext& ctx) {
  QString given = argText(c, 0);
  QUrl url(given, QUrl::StrictMode);
  QString scheme = url.scheme().toLower();
  if (!url.isValid() || (scheme != "http" && scheme != "https") || url.host().isEmpty()) {
    tell(root, QString("the server's address \"%1\" was refused: only http and https are opened")
                   .arg(given.left(200)));
    return -1;
  }
  otDialogHost* host = otDialogHost::of(ctx.interpreter, ctx.s);
  auto* box = new QMessageBox(QMessageBox::Question, "Open address",
                              QString("The display server asks to open this address in your "
                                      "browser:\n\n%1\n\nOpen it?")
                                  .arg(url.toDisplayString()),
                              QMessageBox::Open | QMessageBox::Cancel, owner(root));
  box->setTextFormat(Qt::PlainText);
  box->setDefaultButton(QMessageBox::Cancel);
  QObject::connect(box, &QMessageBox::buttonClicked, box, [box, url](QAbstractButton* b) {
    if (box->standardButton(b) == QMessageBox::Open) QDesktopServices::openUrl(url);
  });
  if (!host->add(0, box)) return -1;
  showModal(box);
  return 0;
}

const WidgetCommand table[] = {
    {"messageBox", "iissi", messageBox, WIDGET_NONE},
    {"inputDialog", "isssi", inputDialog, WIDGET_NONE},
    {"fileDialog", "issi", fileDialog, WIDGET_NONE},
    {"uploadFile", "i", uploadFile, WIDGET_NONE},
    {"popupMenu", "is", popupMenu, WIDGET_NONE},
    {"closeDialog", "i", closeDialog, WIDGET_NONE},
    {"getInitialMask", "i", getInitialMask, WIDGET_NONE},
    {"updateBaseWindow", "i", updateBaseWindow, WIDGET_NONE},
    {"screenHint", "ii", screenHint, WIDGET_NONE},
    {"beep", "", beep, WIDGET_NONE},
    {"clientCommand", "s", clientCommand, WIDGET_NONE},
    {"hyperlink", "s", hyperlink, WIDGET_NONE},
};

}  // namespace

// ---- otDialogHost -------------------------------------------------------------------------

otDialogHost::otDialogHost(otClientInterpreter* interpreter, int* s) : QObject(interpreter), s_(s) {
  setObjectName("otclient-dialogs");
  // Answers of a lost connection's dialogs would reach the next connection, whose requests
  // count from 1 again.
  if (auto* window = qobject_cast<otClientWindow*>(interpreter->parent()))
    connect(window, &otClientWindow::connectedChanged, this, [this](bool connected) {
      if (!connected) closeAll();
    });
}

otDialogHost* otDialogHost::find(const otClientInterpreter* interpreter) {
  return interpreter->findChild<otDialogHost*>("otclient-dialogs", Qt::FindDirectChildrenOnly);
}

otDialogHost* otDialogHost::of(otClientInterpreter* interpreter, int* s) {
  otDialogHost* host = find(interpreter);
  return host ? host : new otDialogHost(interpreter, s);
}

bool otDialogHost::add(int n, QWidget* w) {
  // Dialogs that went away leave their places.
  open_.erase(
      std::remove_if(open_.begin(), open_.end(), [](const Open& o) { return o.w.isNull(); }),
      open_.end());
  if ((int)open_.size() >= maxOpen) {
    otLog(OT_LOG_WARNING, "otclient: more than %d dialogs of the server at once: refused\n",
          (int)maxOpen);
    delete w;
    if (n > 0) answerNow(n, otdialog::cancelled, QString());
    return false;
  }
  open_.push_back(Open{n, w});
  if (n > 0) {
    // Closed by the operator (Escape, the window's close button), or taken with its parent:
    // cancelled, unless it answered already.
    connect(w, &QObject::destroyed, this, [this, n] { answer(n, otdialog::cancelled, QString()); });
    if (auto* d = qobject_cast<QDialog*>(w))
      connect(d, &QDialog::finished, this, [this, n](int) {
        QTimer::singleShot(0, this, [this, n] { answer(n, otdialog::cancelled, QString()); });
      });
  }
  return true;
}

void otDialogHost::send(const QByteArray& line) {
  if (s_ == nullptr || *s_ <= 0) return;
  tcp_send(s_, line.constData(), line.size());
}

void otDialogHost::answerNow(int n, int result, const QString& answerText) {
  QByteArray t = answerText.toUtf8();
  // Escaped, a text takes at most twice its bytes.
  std::vector<char> escaped((size_t)t.size() * 2 + 1);
  int len = otInterpreter::escapeString(t.constData(), escaped.data(), (int)escaped.size());
  QByteArray line = QByteArray("dialogAnswer(") + QByteArray::number(n) + ',' +
                    QByteArray::number(result) + ",\"";
  if (len >= 0) line.append(escaped.data(), len);
  line += "\")\n";
  if (len < 0 || line.size() > maxLine)
    line = "dialogAnswer(" + QByteArray::number(n) + ",-1,\"\")\n";
  send(line);
}

bool otDialogHost::answer(int n, int result, const QString& answerText) {
  for (auto it = open_.begin(); it != open_.end(); ++it) {
    if (it->n != n || n <= 0) continue;
    QPointer<QWidget> w = it->w;
    open_.erase(it);
    answerNow(n, result, answerText);
    if (w) w->close();
    return true;
  }
  return false;
}

void otDialogHost::giveUp(int n) {
  for (auto it = chosen_.begin(); it != chosen_.end();)
    it = it->n == n ? chosen_.erase(it) : it + 1;
  for (auto it = open_.begin(); it != open_.end(); ++it) {
    if (it->n != n || n <= 0) continue;
    QPointer<QWidget> w = it->w;
    open_.erase(it);
    if (w) w->close();
    return;
  }
}

void otDialogHost::closeAll() {
  std::vector<Open> open;
  open.swap(open_);
  chosen_.clear();
  for (Open& o : open)
    if (o.w) o.w->close();
}

void otDialogHost::chosen(int n, const QString& path, int maxBytes) {
  if ((int)chosen_.size() >= maxChosen) chosen_.pop_front();
  chosen_.push_back(Chosen{n, path, maxBytes});
}

void otDialogHost::upload(int n) {
  QByteArray data;
  bool found = false;
  for (auto it = chosen_.begin(); it != chosen_.end(); ++it) {
    if (it->n != n) continue;
    found = true;
    QFile file(it->path);
    // Only the regular file the operator picked, and not more than the server takes.
    if (QFileInfo(it->path).isFile() && file.open(QIODevice::ReadOnly))
      data = file.read((qint64)it->maxBytes + 1);
    if (data.size() > it->maxBytes || file.error() != QFileDevice::NoError) found = false;
    chosen_.erase(it);
    break;
  }
  if (!found) {
    send("@upload(" + QByteArray::number(n) + ",-1)\n");
    return;
  }
  send("@upload(" + QByteArray::number(n) + "," + QByteArray::number(data.size()) + ")\n" + data);
}

QWidget* otDialogHost::dialog(int n) const {
  for (const Open& o : open_)
    if (o.n == n && !o.w.isNull()) return o.w.data();
  return nullptr;
}

int otDialogHost::openCount() const {
  int count = 0;
  for (const Open& o : open_)
    if (!o.w.isNull()) count++;
  return count;
}

namespace otclient {

const WidgetCommand* dialogCommands(int* count) {
  *count = (int)(sizeof(table) / sizeof(table[0]));
  return table;
}

}  // namespace otclient

// ---- The dialog family of the core commands: the modal dialog, the status line, printing ----

namespace {

// The widget scaled to the printer's page.
void printOn(QPrinter* printer, QWidget* w) {
  QPainter painter;
  if (!painter.begin(printer)) {
    otLog(OT_LOG_WARNING, "otclient: cannot print widget\n");
    return;
  }
  QRect page = printer->pageLayout().paintRectPixels(printer->resolution());
  double scale = qMin((double)page.width() / qMax(1, w->width()),
                      (double)page.height() / qMax(1, w->height()));
  painter.scale(scale, scale);
  w->render(&painter);
  painter.end();
}

void printWidget(otClientInterpreter& in, QWidget* w) {
  if (opt.print_pdf[0] != '\0') {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromUtf8(opt.print_pdf));
    printOn(&printer, w);
    return;
  }
  // A dialog with a loop of its own would stop the connection until the operator answers:
  // this one is only opened, and prints when it is accepted, if the widget is still there.
  if (in.printDialog() != nullptr) {
    in.refuse("print: a print dialog is open already\n");
    return;
  }
  auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
  auto* dialog = new QPrintDialog(printer.get(), w->window());
  QObject::connect(dialog, &QDialog::finished, dialog, &QObject::deleteLater);
  in.setPrintDialog(dialog);
  QPointer<QWidget> target(w);
  // The printer lives as long as the connection to the dialog does.
  QObject::connect(dialog, &QDialog::accepted, dialog, [printer, target] {
    if (target != nullptr) printOn(printer.get(), target.data());
  });
  dialog->open();
}

void modalDialog(otClientInterpreter& in, QWidget*, const otCallLine& c, Command, int) {
  int w = argInt(c, 0), h = argInt(c, 1);
  if (!inRange(w, 1, maxGeometry) || !inRange(h, 1, maxGeometry)) {
    in.refuse("modalDialog(%d,%d) refused\n", w, h);
    return;
  }
  in.openModal(w, h);
}

void terminateModalDialog(otClientInterpreter& in, QWidget*, const otCallLine&, Command, int) {
  in.closeModal();
}

void statusMessage(otClientInterpreter& in, QWidget*, const otCallLine& c, Command, int) {
  in.statusMessage(argInt(c, 0), argInt(c, 1), argInt(c, 2), c.textArg(3));
}

void print(otClientInterpreter& in, QWidget* w, const otCallLine&, Command, int) {
  printWidget(in, w);
}

const CoreCommand kCoreTable[] = {
    {CmdModalDialog, 0, modalDialog},
    {CmdTerminateModalDialog, 0, terminateModalDialog},
    {CmdStatusMessage, 0, statusMessage},
    {CmdPrint, CORE_WIDGET, print},
};

}  // namespace

namespace otclient {

const CoreCommand* coreDialogCommands(int* count) {
  *count = (int)(sizeof(kCoreTable) / sizeof(kCoreTable[0]));
  return kCoreTable;
}

}  // namespace otclient
