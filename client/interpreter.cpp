#include "interpreter.h"

#include "corecommands.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include <QCoreApplication>
#include <QDialog>
#include <QLabel>
#include <QSignalBlocker>
#include <QStatusBar>
#include <memory>
#include <qwt_plot.h>

#include "myqwtwidgets.h"
#include "hxsvganimator.h"
#include "otlog.h"
#include "qdrawwidget.h"
#include "hxglwidget.h"
#include "otoptions.h"
#include "otserverfiles.h"
#include "otstreams.h"
#include "tcputil.h"

using namespace otclient;

otClientInterpreter::otClientInterpreter(int* s, QWidget* base, QStatusBar* status, QObject* parent)
    : QObject(parent), s_(s), status_(status) {
  base_.root = base;
  base_.ids.assign(1, QPointer<QWidget>(base));
  if (status_) {
    statusLabel_ = new QLabel(status_);
    status_->addWidget(statusLabel_, 1);
  }
}

otClientInterpreter::~otClientInterpreter() {
  delete modal_;
}

QWidget* otClientInterpreter::widget(int id) const {
  const Mask& m = active();
  if (id < 0 || id >= (int)m.ids.size()) return nullptr;
  return m.ids[(size_t)id].data();
}

int otClientInterpreter::idCount() const {
  return (int)active().ids.size();
}

void otClientInterpreter::refuse(const char* format, ...) {
  ignored_++;
  if (!opt.debug && !otLogEnabled(OT_LOG_DEBUG)) return;
  char text[OT_PRINTF_BUFFER];
  va_list ap;
  va_start(ap, format);
  vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  otLogDebug(1, "otclient: %s", text);
}

void otClientInterpreter::limitMessage(const char* format, ...) {
  char text[256];
  va_list ap;
  va_start(ap, format);
  vsnprintf(text, sizeof(text), format, ap);
  va_end(ap);
  otLog(OT_LOG_WARNING, "otclient: %s\n", text);
  statusMessage(200, 0, 0, text);
}

void otClientInterpreter::line(otClientConnection&, const char* text, int len, bool cut) {
  if (cut || len < 1 || text[len - 1] != '\n') {
    // Refused whole: the rest of the line is dropped as it arrives (a line cut short by a
    // server that hung up is no command either).
    otLog(OT_LOG_WARNING, "otclient: line longer than %d bytes refused\n", (int)maxLine);
    return;
  }
  interpret(text, len);
}

bool otClientInterpreter::startStream(std::unique_ptr<otStreamConsumer> stream) {
  if (conn_ == nullptr || !conn_->isOpen()) return false;
  conn_->push(std::move(stream));
  return true;
}

QWidget* otClientInterpreter::target(int id, const char* what) {
  QWidget* w = widget(id);
  if (w == nullptr) refuse("%s: no widget with id %d\n", what, id);
  return w;
}

bool otClientInterpreter::within(const QWidget* w, const QWidget* ancestor) {
  if (ancestor == nullptr) return false;
  for (; w != nullptr; w = w->parentWidget())
    if (w == ancestor) return true;
  return false;
}

QWidget* otClientInterpreter::parentFor(int parent) {
  QWidget* p = widget(parent);
  return p ? p : active().root;
}

void otClientInterpreter::place(int id, QWidget* w) {
  Mask& m = active();
  delete m.ids[(size_t)id].data();
  m.ids[(size_t)id] = w;
  // A widget added to a shown parent must be shown by hand; before endDefinition the mask is
  // hidden and shows all its children at once.
  if (w->parentWidget() && w->parentWidget()->isVisible()) w->show();
}

otclient::Command otClientInterpreter::interpret(const char* data, int len) {
  if (line_.parse(data, len) < 0) {
    refuse("malformed line refused\n");
    return CmdNone;
  }
  Command cmd = lookup(line_);
  if (cmd == CmdNone) {
    bool fits = false;
    if (const WidgetCommand* wc = lookupWidgetCommand(line_, &fits)) {
      if (fits) return widgetCommand(*wc, line_) == 0 ? CmdWidgetCommand : CmdNone;
    }
    refuse("unknown command or arguments: %s\n", line_.name);
    return CmdNone;
  }
  long before = ignored_;
  if (cmd >= CmdQWidget && cmd <= CmdQGL)
    construct(cmd, line_);
  else
    apply(cmd, line_);
  return ignored_ == before ? cmd : CmdNone;
}

int otClientInterpreter::widgetCommand(const WidgetCommand& wc, const otCallLine& c) {
  WidgetContext ctx{s_, 0, this};
  QWidget* w = active().root;
  if (!(wc.flags & WIDGET_NONE)) {
    ctx.id = argInt(c, 0);
    w = target(ctx.id, c.name);
    if (w == nullptr) {
      // The block of a command that reads one is read all the same (and dropped).
      if (wc.flags & WIDGET_READS_DATA) wc.apply(nullptr, c, ctx);
      return -1;
    }
  }
  if (wc.apply(w, c, ctx) < 0) {
    refuse("%s: refused for widget %d\n", c.name, ctx.id);
    return -1;
  }
  return 0;
}

void otClientInterpreter::startDefinition(int n) {
  Mask& m = active();
  // Children go first, so that QPointer clears what their parents take with them.
  for (size_t i = m.ids.size(); i-- > 1;)
    delete m.ids[i].data();
  m.ids.assign((size_t)n, QPointer<QWidget>());
  m.ids[0] = m.root;
  m.root->setEnabled(true);
}

void otClientInterpreter::construct(Command cmd, const otCallLine& c) {
  int id = argInt(c, 0);
  if (!inRange(id, 1, idCount() - 1)) {
    refuse("%s: id %d outside the mask\n", c.name, id);
    return;
  }
  QWidget* p = parentFor(argInt(c, 1));
  // The widget that the new one replaces is deleted with its children: a parent among them
  // would take the new widget with it.
  if (within(p, widget(id))) {
    refuse("%s(%d,%d): the parent lies inside the widget it replaces\n", c.name, id, argInt(c, 1));
    return;
  }
  const Constructor* k = constructorOf(cmd);
  QWidget* w = k != nullptr ? k->make(*this, s_, id, p, c) : nullptr;
  if (w != nullptr) place(id, w);
}

void otClientInterpreter::apply(Command cmd, const otCallLine& c) {
  const CoreCommand* h = coreCommand(cmd);
  if (h == nullptr) {
    refuse("%s: not handled\n", c.name);
    return;
  }
  const int id = argInt(c, 0);
  QWidget* w = nullptr;
  if (h->flags & CORE_WIDGET) {
    w = target(id, c.name);
    if (w == nullptr) return;
  }
  // What the server sets is no user action: no event goes back for it. A plot sends no events,
  // and its signals keep its legend up to date.
  QSignalBlocker quiet(w != nullptr && qobject_cast<QwtPlot*>(w) == nullptr ? w : nullptr);
  h->apply(*this, w, c, cmd, id);
}

// ---- The interpreter's own family: masks, sync, promises, downloads, streams ----------------

void otClientInterpreter::cmdStartDefinition(otClientInterpreter& in, QWidget*, const otCallLine& c,
                                             Command, int) {
  int n = argInt(c, 0);
  if (!inRange(n, 1, maxIds)) {
    in.refuse("startDefinition(%d) refused\n", n);
    return;
  }
  in.startDefinition(n);
  // The mask is hidden while it is built: a widget shown on a shown parent makes every
  // later change of a sibling's geometry look at all siblings, which made building a
  // large mask quadratic. endDefinition shows the mask and every widget not hidden.
  in.active().root->setUpdatesEnabled(false);
  in.active().root->hide();
}

void otClientInterpreter::cmdEndDefinition(otClientInterpreter& in, QWidget*, const otCallLine&,
                                           Command, int) {
  // What building posted for the hidden widgets (polish, layout and child events) is
  // handled while they are hidden: after the show each of these would look at every
  // sibling.
  QCoreApplication::sendPostedEvents();
  in.active().root->setUpdatesEnabled(true);
  in.active().root->show();
  if (in.modal_) in.modal_->open();
  Q_EMIT in.maskShown();
}

void otClientInterpreter::cmdSync(otClientInterpreter& in, QWidget*, const otCallLine& c, Command,
                                  int) {
  Q_EMIT in.syncRequested();
  char reply[64];
  int n = snprintf(reply, sizeof(reply), "synced(%d)\n", argInt(c, 0));
  tcp_send(in.s_, reply, n);
}

void otClientInterpreter::cmdAlive(otClientInterpreter& in, QWidget*, const otCallLine& c, Command,
                                   int) {
  // The promise is kept by the connection layer; the window checks it.
  int ms = argInt(c, 0);
  if (!inRange(ms, 1, 3600000) || tcp_alive(in.s_, ms) < 0) in.refuse("@alive(%d) refused\n", ms);
}

void otClientInterpreter::cmdDownload(otClientInterpreter& in, QWidget*, const otCallLine& c,
                                      Command, int) {
  in.download(c.textArg(0), argInt(c, 1));
}

void otClientInterpreter::cmdPlaySound(otClientInterpreter&, QWidget*, const otCallLine& c, Command,
                                       int) {
  otLog(OT_LOG_WARNING, "otclient: cannot play \"%s\": this client has no sound output\n",
        c.textArg(0));
}

void otClientInterpreter::cmdBeginDraw(otClientInterpreter& in, QWidget*, const otCallLine&,
                                       Command, int id) {
  auto* draw = qobject_cast<QDrawWidget*>(in.widget(id));
  // No drawing widget: the stream is taken and dropped, so that its lines are not taken
  // for commands.
  if (draw == nullptr) in.refuse("gbeginDraw(%d): no drawing widget\n", id);
  in.startStream(std::unique_ptr<otStreamConsumer>(new otDrawStream(draw)));
}

void otClientInterpreter::cmdGlBegin(otClientInterpreter& in, QWidget*, const otCallLine&, Command,
                                     int id) {
  auto* gl = qobject_cast<HxGLWidget*>(in.widget(id));
  // No GL widget: a widget without a context takes the block, answers its requests with
  // empty replies and acknowledges its end, so that the server neither hangs nor takes GL
  // lines for commands.
  if (gl == nullptr) in.refuse("hxGlBegin(%d): no GL widget\n", id);
  in.startStream(std::unique_ptr<otStreamConsumer>(new otGlStream(gl, id, in.s_)));
}

void otClientInterpreter::cmdGlUpdate(otClientInterpreter& in, QWidget*, const otCallLine&, Command,
                                      int id) {
  if (auto* gl = qobject_cast<HxGLWidget*>(in.widget(id)))
    gl->requestPaint();
  else
    in.refuse("glUpdate(%d): no GL widget\n", id);
}

void otClientInterpreter::cmdSvg(otClientInterpreter& in, QWidget*, const otCallLine& c,
                                 Command cmd, int) {
  in.svgCommand(cmd, c);
}

void otClientInterpreter::cmdLogin(otClientInterpreter& in, QWidget*, const otCallLine& c, Command,
                                   int) {
  int attempt = argInt(c, 0);
  if (attempt < 1) {
    in.refuse("@login(%d) refused\n", attempt);
    return;
  }
  Q_EMIT in.loginRequested(attempt, QString::fromUtf8(c.textArg(1)));
}

void otClientInterpreter::cmdLoggedIn(otClientInterpreter& in, QWidget*, const otCallLine& c,
                                      Command, int) {
  Q_EMIT in.loggedIn(QString::fromUtf8(c.textArg(0)), QString::fromUtf8(c.textArg(1)));
}

void otClientInterpreter::cmdLoginFailed(otClientInterpreter& in, QWidget*, const otCallLine& c,
                                         Command, int) {
  Q_EMIT in.loginFailed(QString::fromUtf8(c.textArg(0)));
}

const CoreCommand* otClientInterpreter::ownCommands(int* count) {
  static const CoreCommand table[] = {
      {CmdStartDefinition, 0, cmdStartDefinition},
      {CmdEndDefinition, 0, cmdEndDefinition},
      {CmdSync, 0, cmdSync},
      {CmdAlive, 0, cmdAlive},
      {CmdDownload, 0, cmdDownload},
      {CmdPlaySound, 0, cmdPlaySound},
      {CmdBeginDraw, 0, cmdBeginDraw},
      {CmdGlBegin, 0, cmdGlBegin},
      {CmdGlUpdate, 0, cmdGlUpdate},
      {CmdSvgRead, 0, cmdSvg},
      {CmdSvgUpdate, 0, cmdSvg},
      {CmdSvgPrintf, 0, cmdSvg},
      {CmdSvgRecursivePrintf, 0, cmdSvg},
      {CmdSvgSearchAndReplace, 0, cmdSvg},
      {CmdSvgRecursiveSearchAndReplace, 0, cmdSvg},
      {CmdSvgTextPrintf, 0, cmdSvg},
      {CmdSvgRemoveStyleOption, 0, cmdSvg},
      {CmdSvgRecursiveRemoveStyleOption, 0, cmdSvg},
      {CmdSvgChangeStyleOption, 0, cmdSvg},
      {CmdSvgRecursiveChangeStyleOption, 0, cmdSvg},
      {CmdSvgSetStyleOption, 0, cmdSvg},
      {CmdSvgRecursiveSetStyleOption, 0, cmdSvg},
      {CmdSvgShow, 0, cmdSvg},
      {CmdSvgBoundsOnElement, 0, cmdSvg},
      {CmdSvgMatrixForElement, 0, cmdSvg},
      {CmdLogin, 0, cmdLogin},
      {CmdLoggedIn, 0, cmdLoggedIn},
      {CmdLoginFailed, 0, cmdLoginFailed},
  };
  *count = (int)(sizeof(table) / sizeof(table[0]));
  return table;
}

void otClientInterpreter::openModal(int w, int h) {
  delete modal_;
  baseUpdate_ = false;
  modal_ = new QDialog(base_.root->window());
  modal_->setModal(true);
  modal_->resize(w, h);
  modalMask_.root = modal_;
  modalMask_.ids.assign(1, QPointer<QWidget>(modal_));
}

void otClientInterpreter::closeModal() {
  if (modal_ == nullptr) return;
  modal_->close();
  modal_->deleteLater();
  modal_ = nullptr;
  baseUpdate_ = false;
  modalMask_ = Mask();
}

namespace otclient {

const CoreFamily* coreFamilies(int* count) {
  static const CoreFamily families[] = {
      {"masks, sync and streams", otClientInterpreter::ownCommands},
      {"geometry", geometryCommands},
      {"texts and values", valueCommands},
      {"items and tables", itemCommands},
      {"plots", plotCommands},
      {"images", imageCommands},
      {"dialogs", coreDialogCommands},
  };
  *count = (int)(sizeof(families) / sizeof(families[0]));
  return families;
}

const CoreCommand* coreCommand(Command cmd) {
  // Indexed once by command: the tables are fixed.
  static const std::vector<const CoreCommand*> byCommand = [] {
    std::vector<const CoreCommand*> index((size_t)CmdCount, nullptr);
    int families = 0;
    const CoreFamily* f = coreFamilies(&families);
    for (int i = 0; i < families; i++) {
      int n = 0;
      const CoreCommand* table = f[i].table(&n);
      for (int k = 0; k < n; k++)
        if (table[k].command >= 0 && table[k].command < CmdCount &&
            index[(size_t)table[k].command] == nullptr)
          index[(size_t)table[k].command] = &table[k];
    }
    return index;
  }();
  return cmd >= 0 && cmd < CmdCount ? byCommand[(size_t)cmd] : nullptr;
}

}  // namespace otclient

void otClientInterpreter::statusMessage(int r, int g, int b, const char* msg) {
  if (statusLabel_ == nullptr) return;
  QPalette pal = statusLabel_->palette();
  pal.setColor(QPalette::WindowText,
               QColor(qBound(0, r, 255), qBound(0, g, 255), qBound(0, b, 255)));
  statusLabel_->setPalette(pal);
  statusLabel_->setText(otServerRichText(QString::fromUtf8(msg ? msg : "")));
}

namespace {

// Takes and drops a block that is not kept (the stream stays in step).
std::unique_ptr<otStreamConsumer> dropBlock(long long n) {
  return std::unique_ptr<otStreamConsumer>(new otBlockStream(n, nullptr, nullptr));
}

}  // namespace

void otClientInterpreter::download(const char* name, int n) {
  // The bytes are taken in any case, so that the stream stays in step.
  if (n < 0) {
    refuse("@download: negative size refused\n");
    return;
  }
  auto file = std::make_shared<otServerFileWriter>();
  if (n > maxDownload || file->begin(name, n) != 0) {
    otLog(OT_LOG_WARNING, "otclient: download of \"%s\" (%d bytes) refused\n", name ? name : "", n);
    if (status_ != nullptr)
      status_->showMessage(
          QString("download of \"%1\" refused").arg(QString::fromUtf8(name ? name : "")), 10000);
    ignored_++;
    startStream(dropBlock(n));
    return;
  }
  auto ok = std::make_shared<bool>(true);
  QPointer<otClientInterpreter> self(this);
  bool started = startStream(std::unique_ptr<otStreamConsumer>(new otBlockStream(
      n,
      [file, ok](const char* data, int len) {
        if (*ok && file->write(data, len) != 0) *ok = false;
      },
      [file, ok, self](bool complete) {
        if (complete && *ok && file->commit() == 0) return;
        file->abort();
        if (self != nullptr) self->ignored_++;
      })));
  if (!started) {
    file->abort();
    ignored_++;
  }
}

void otClientInterpreter::svgCommand(Command cmd, const otCallLine& c) {
  const int id = argInt(c, 0);
  auto* draw = qobject_cast<QDrawWidget*>(widget(id));
  if (cmd == CmdSvgRead) {
    // Without a drawing widget the document is taken and dropped.
    if (draw == nullptr) refuse("gsvgRead(%d): no drawing widget\n", id);
    startStream(std::unique_ptr<otStreamConsumer>(new otSvgStream(draw)));
    return;
  }
  // The argument lines: object, then what the command changes.
  int count = 0;
  switch (cmd) {
    case CmdSvgSearchAndReplace:
    case CmdSvgRecursiveSearchAndReplace:
    case CmdSvgChangeStyleOption:
    case CmdSvgRecursiveChangeStyleOption:
      count = 4;
      break;
    case CmdSvgPrintf:
    case CmdSvgRecursivePrintf:
    case CmdSvgRemoveStyleOption:
    case CmdSvgRecursiveRemoveStyleOption:
    case CmdSvgSetStyleOption:
    case CmdSvgRecursiveSetStyleOption:
      count = 3;
      break;
    case CmdSvgTextPrintf:
      count = 2;
      break;
    case CmdSvgShow:
    case CmdSvgBoundsOnElement:
    case CmdSvgMatrixForElement:
      count = 1;
      break;
    default:
      break;
  }
  struct Args {
    std::vector<std::string> lines;
    bool cut = false;
  };
  auto args = std::make_shared<Args>();
  const int state = argInt(c, 1);
  const std::string name = c.name;
  QPointer<QDrawWidget> to(draw);
  QPointer<otClientInterpreter> self(this);
  auto each = [args](const char* text, int len, bool cut) {
    args->cut = args->cut || cut;
    while (len > 0 && (text[len - 1] == '\n' || text[len - 1] == '\r'))
      len--;
    args->lines.emplace_back(text, (size_t)len);
  };
  auto done = [args, cmd, id, state, name, to, self](bool complete) {
    if (!complete || self == nullptr) return;
    if (to == nullptr) {
      self->refuse("%s(%d): no drawing widget\n", name.c_str(), id);
      return;
    }
    if (args->cut) {
      // A limit of the client: said whether or not refusals are traced.
      otLog(OT_LOG_WARNING, "otclient: %s(%d): an argument line above %d bytes refused\n",
            name.c_str(), id, HX_SVG_MAX_LINE);
      return;
    }
    svgApply(to.data(), cmd, state, args->lines);
  };
  // Each: a line of HX_SVG_MAX_LINE bytes with its line feed, and the NUL.
  startStream(
      std::unique_ptr<otStreamConsumer>(new otLinesStream(count, HX_SVG_MAX_LINE + 1, each, done)));
}

void otClientInterpreter::svgApply(QDrawWidget* draw, Command cmd, int state,
                                   const std::vector<std::string>& lines) {
  auto text = [&](int i) { return lines[(size_t)i].c_str(); };
  hxSvgAnimator* a = draw->animator();
  switch (cmd) {
    case CmdSvgUpdate:
      draw->renderScene();
      break;
    case CmdSvgBoundsOnElement: {
      QString element = QString::fromUtf8(text(0));
      draw->requestSvgBoundsOnElement(element);
      break;
    }
    case CmdSvgMatrixForElement: {
      QString element = QString::fromUtf8(text(0));
      draw->requestSvgMatrixForElement(element);
      break;
    }
    case CmdSvgShow:
      a->show(text(0), state);
      break;
    case CmdSvgPrintf:
      a->svgPrintf(text(0), text(1), text(2));
      break;
    case CmdSvgRecursivePrintf:
      a->svgRecursivePrintf(text(0), text(1), text(2));
      break;
    case CmdSvgSearchAndReplace:
      a->svgSearchAndReplace(text(0), text(1), text(2), text(3));
      break;
    case CmdSvgRecursiveSearchAndReplace:
      a->svgRecursiveSearchAndReplace(text(0), text(1), text(2), text(3));
      break;
    case CmdSvgTextPrintf:
      a->svgTextPrintf(text(0), text(1));
      break;
    case CmdSvgRemoveStyleOption:
      a->svgRemoveStyleOption(text(0), text(1), text(2));
      break;
    case CmdSvgRecursiveRemoveStyleOption:
      a->svgRecursiveRemoveStyleOption(text(0), text(1), text(2));
      break;
    case CmdSvgChangeStyleOption:
      a->svgChangeStyleOption(text(0), text(1), text(2), text(3));
      break;
    case CmdSvgRecursiveChangeStyleOption:
      a->svgRecursiveChangeStyleOption(text(0), text(1), text(2), text(3));
      break;
    case CmdSvgSetStyleOption:
      a->svgSetStyleOption(text(0), text(1), text(2));
      break;
    case CmdSvgRecursiveSetStyleOption:
      a->svgRecursiveSetStyleOption(text(0), text(1), text(2));
      break;
    default:
      break;
  }
}
