#include "interpreter.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLCDNumber>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextEdit>
#include <QToolBox>
#include <QTreeWidget>
#include <memory>
#include <qwt_abstract_slider.h>
#include <qwt_counter.h>
#include <qwt_thermo.h>
#include <qwt_wheel.h>

#include "myqwtwidgets.h"
#include "hxsvganimator.h"
#include "qdrawwidget.h"
#include "hxglwidget.h"
#include "qimagewidget.h"
#include "mywidgets.h"
#include "otoptions.h"
#include "otserverfiles.h"
#include "otstreams.h"
#include "tcputil.h"

using namespace otclient;

namespace {

// The buffer of a plot point line, "x,y" and its line feed.
const int kPointLine = 128;

bool inRange(int v, int lo, int hi) {
  return v >= lo && v <= hi;
}

QColor colour(const otCallLine& c, int first) {
  int r = 0, g = 0, b = 0;
  c.intArg(first, &r);
  c.intArg(first + 1, &g);
  c.intArg(first + 2, &b);
  return QColor(qBound(0, r, 255), qBound(0, g, 255), qBound(0, b, 255));
}

// The value of a widget that shows a number: the Qwt widgets and the LCD number.
bool setNumber(QWidget* w, double v) {
  if (auto* qs = qobject_cast<QwtAbstractSlider*>(w)) {
    qs->setValue(v);
  } else if (auto* qc = qobject_cast<QwtCounter*>(w)) {
    qc->setValue(v);
  } else if (auto* qt = qobject_cast<QwtThermo*>(w)) {
    qt->setValue(v);
  } else if (auto* qw = qobject_cast<QwtWheel*>(w)) {
    qw->setValue(v);
  } else if (auto* lcd = qobject_cast<QLCDNumber*>(w)) {
    lcd->display(v);
  } else {
    return false;
  }
  return true;
}

}  // namespace

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
  if (!opt.debug) return;
  va_list ap;
  va_start(ap, format);
  printf("otclient: ");
  vprintf(format, ap);
  va_end(ap);
  fflush(stdout);
}

void otClientInterpreter::limitMessage(const char* format, ...) {
  char text[256];
  va_list ap;
  va_start(ap, format);
  vsnprintf(text, sizeof(text), format, ap);
  va_end(ap);
  printf("otclient: %s\n", text);
  fflush(stdout);
  statusMessage(200, 0, 0, text);
}

void otClientInterpreter::line(otClientConnection&, const char* text, int len, bool cut) {
  if (cut || len < 1 || text[len - 1] != '\n') {
    // Refused whole: the rest of the line is dropped as it arrives (a line cut short by a
    // server that hung up is no command either).
    printf("otclient: line longer than %d bytes refused\n", (int)maxLine);
    fflush(stdout);
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
  int* s = s_;
  QWidget* w = nullptr;
  switch (cmd) {
    case CmdQWidget:
      w = new MyQWidget(s, id, p);
      break;
    case CmdQPushButton:
      w = new MyQPushButton(s, id, p);
      break;
    case CmdQLabel:
      w = new MyLabel(s, id, p);
      break;
    case CmdQLineEdit:
      w = new MyLineEdit(s, id, p);
      break;
    case CmdQComboBox: {
      w = new MyComboBox(s, id, p, argInt(c, 2), argInt(c, 3));
      break;
    }
    case CmdQLCDNumber: {
      w = new MyQLCDNumber(s, id, p, argInt(c, 2), argInt(c, 3), argInt(c, 4));
      break;
    }
    case CmdQSlider:
      w = new MySlider(s, id, p, argInt(c, 2), argInt(c, 3), argInt(c, 4), argInt(c, 5),
                       argInt(c, 6));
      break;
    case CmdQButtonGroup:
      w = new MyButtonGroup(s, id, p, argInt(c, 2), argInt(c, 3), argText(c, 4));
      break;
    case CmdQRadioButton:
      w = new MyRadioButton(s, id, p);
      break;
    case CmdQCheckBox:
      w = new MyCheckBox(s, id, p);
      break;
    case CmdQFrame:
      w = new MyFrame(s, id, p, argInt(c, 2), argInt(c, 3), qBound(0, argInt(c, 4), 100),
                      qBound(0, argInt(c, 5), 100));
      break;
    case CmdQGroupBox:
      w = new MyGroupBox(s, id, p, argInt(c, 2), argInt(c, 3), argText(c, 4));
      break;
    case CmdQTabWidget:
      w = new MyQTabWidget(s, id, p);
      break;
    case CmdQToolBox:
      w = new MyQToolBox(s, id, p);
      break;
    case CmdQSpinBox:
      w = new MySpinBox(s, id, p, argInt(c, 2), argInt(c, 3), argInt(c, 4));
      break;
    case CmdQDial:
      w = new MyDial(s, id, p, argInt(c, 2), argInt(c, 3), argInt(c, 4), argInt(c, 5));
      break;
    case CmdQProgressBar:
      w = new MyProgressBar(s, id, p, argInt(c, 2), argInt(c, 3));
      break;
    case CmdQMultiLineEdit:
      w = new MyMultiLineEdit(s, id, p, argInt(c, 2), argInt(c, 3));
      break;
    case CmdQTextBrowser:
      w = new MyTextBrowser(s, id, p);
      break;
    case CmdQListView:
      w = new MyListView(s, id, p);
      break;
    case CmdQListBox:
      w = new MyListBox(s, id, p);
      break;
    case CmdQIconView:
      w = new MyIconView(s, id, p);
      break;
    case CmdQTable: {
      int rows = argInt(c, 2), cols = argInt(c, 3);
      if (rows < 0 || cols < 0) {
        refuse("QTable: %d x %d cells refused\n", rows, cols);
        return;
      }
      int fitRows = rows, fitCols = cols;
      if (myTableFit(&fitRows, &fitCols))
        limitMessage("table %d: %d x %d cells cut to %d x %d", id, rows, cols, fitRows, fitCols);
      w = new MyTable(s, id, p, fitRows, fitCols);
      break;
    }
    case CmdQDateEdit:
      w = new MyQDateEdit(s, id, p);
      break;
    case CmdQTimeEdit:
      w = new MyQTimeEdit(s, id, p);
      break;
    case CmdQDateTimeEdit:
      w = new MyQDateTimeEdit(s, id, p);
      break;
    case CmdQwtPlot:
      w = new QwtPlotWidget(s, id, p, qBound(0, argInt(c, 2), 1000), qBound(0, argInt(c, 3), 1000));
      break;
    case CmdQwtScale:
      w = new MyQwtScale(s, id, p, qBound(0, argInt(c, 2), 3));
      break;
    case CmdQwtThermo:
      w = new MyQwtThermo(s, id, p);
      break;
    case CmdQwtKnob:
      w = new MyQwtKnob(s, id, p);
      break;
    case CmdQwtCounter:
      w = new MyQwtCounter(s, id, p);
      break;
    case CmdQwtWheel:
      w = new MyQwtWheel(s, id, p);
      break;
    case CmdQwtSlider:
      w = new MyQwtSlider(s, id, p, argInt(c, 2));
      break;
    case CmdQwtDial:
      w = new MyQwtDial(s, id, p);
      break;
    case CmdQwtCompass:
      w = new MyQwtCompass(s, id, p);
      break;
    case CmdQwtAnalogClock:
      w = new MyQwtAnalogClock(s, id, p);
      break;
    case CmdQVtkTclWidget: {
      QLabel* l = new QLabel(p);
      l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
      l->setAlignment(Qt::AlignCenter);
      l->setWordWrap(true);
      l->setText("VTK/Tcl widget not available:\nthis client has no VTK with Tcl");
      printf(
          "otclient: widget %d: VTK with Tcl is not available on this client; a placeholder "
          "is shown\n",
          id);
      fflush(stdout);
      w = l;
      break;
    }
    case CmdQImage: {
      auto* image = new QImageWidget(s, id, p);
      image->setImageFromServer(c.textArg(2));
      w = image;
      break;
    }
    case CmdQDraw:
      w = new QDrawWidget(p, nullptr, 0, s, id);
      break;
    case CmdQGL:
      w = new HxGLWidget(p, id, s);
      break;
    default:
      return;
  }
  place(id, w);
}

void otClientInterpreter::apply(Command cmd, const otCallLine& c) {
  switch (cmd) {
    case CmdStartDefinition: {
      int n = argInt(c, 0);
      if (!inRange(n, 1, maxIds)) {
        refuse("startDefinition(%d) refused\n", n);
        return;
      }
      startDefinition(n);
      // The mask is hidden while it is built: a widget shown on a shown parent makes every
      // later change of a sibling's geometry look at all siblings, which made building a
      // large mask quadratic. endDefinition shows the mask and every widget not hidden.
      active().root->setUpdatesEnabled(false);
      active().root->hide();
      return;
    }
    case CmdEndDefinition:
      // What building posted for the hidden widgets (polish, layout and child events) is
      // handled while they are hidden: after the show each of these would look at every
      // sibling.
      QCoreApplication::sendPostedEvents();
      active().root->setUpdatesEnabled(true);
      active().root->show();
      if (modal_) modal_->open();
      Q_EMIT maskShown();
      return;
    case CmdModalDialog: {
      int w = argInt(c, 0), h = argInt(c, 1);
      if (!inRange(w, 1, maxGeometry) || !inRange(h, 1, maxGeometry)) {
        refuse("modalDialog(%d,%d) refused\n", w, h);
        return;
      }
      delete modal_;
      baseUpdate_ = false;
      modal_ = new QDialog(base_.root->window());
      modal_->setModal(true);
      modal_->resize(w, h);
      modalMask_.root = modal_;
      modalMask_.ids.assign(1, QPointer<QWidget>(modal_));
      return;
    }
    case CmdTerminateModalDialog:
      if (modal_) {
        modal_->close();
        modal_->deleteLater();
        modal_ = nullptr;
        baseUpdate_ = false;
        modalMask_ = Mask();
      }
      return;
    case CmdSync: {
      Q_EMIT syncRequested();
      char reply[64];
      int n = snprintf(reply, sizeof(reply), "synced(%d)\n", argInt(c, 0));
      tcp_send(s_, reply, n);
      return;
    }
    case CmdAlive: {
      // The promise is kept by the connection layer; the window checks it.
      int ms = argInt(c, 0);
      if (!inRange(ms, 1, 3600000) || tcp_alive(s_, ms) < 0) refuse("@alive(%d) refused\n", ms);
      return;
    }
    case CmdStatusMessage:
      statusMessage(argInt(c, 0), argInt(c, 1), argInt(c, 2), c.textArg(3));
      return;
    case CmdDownload:
      download(c.textArg(0), argInt(c, 1));
      return;
    case CmdPlaySound:
      printf("otclient: cannot play \"%s\": this client has no sound output\n", c.textArg(0));
      fflush(stdout);
      return;
    default:
      break;
  }

  int id = argInt(c, 0);
  if (cmd == CmdBeginDraw) {
    auto* draw = qobject_cast<QDrawWidget*>(widget(id));
    // No drawing widget: the stream is taken and dropped, so that its lines are not taken
    // for commands.
    if (draw == nullptr) refuse("gbeginDraw(%d): no drawing widget\n", id);
    startStream(std::unique_ptr<otStreamConsumer>(new otDrawStream(draw)));
    return;
  }
  if (cmd == CmdGlBegin) {
    auto* gl = qobject_cast<HxGLWidget*>(widget(id));
    // No GL widget: a widget without a context takes the block, answers its requests with
    // empty replies and acknowledges its end, so that the server neither hangs nor takes GL
    // lines for commands.
    if (gl == nullptr) refuse("hxGlBegin(%d): no GL widget\n", id);
    startStream(std::unique_ptr<otStreamConsumer>(new otGlStream(gl, id, s_)));
    return;
  }
  if (cmd == CmdGlUpdate) {
    if (auto* gl = qobject_cast<HxGLWidget*>(widget(id)))
      gl->requestPaint();
    else
      refuse("glUpdate(%d): no GL widget\n", id);
    return;
  }
  if (cmd >= CmdSvgRead && cmd <= CmdSvgMatrixForElement) {
    svgCommand(cmd, c);
    return;
  }
  QWidget* w = target(id, c.name);
  if (w == nullptr) return;
  // What the server sets is no user action: no event goes back for it. A plot sends no events,
  // and its signals keep its legend up to date.
  QSignalBlocker quiet(qobject_cast<QwtPlot*>(w) ? nullptr : w);
  switch (cmd) {
    case CmdSetGeometry: {
      int x = argInt(c, 1), y = argInt(c, 2), wd = argInt(c, 3), ht = argInt(c, 4);
      if (!inRange(x, -maxGeometry, maxGeometry) || !inRange(y, -maxGeometry, maxGeometry) ||
          !inRange(wd, 0, maxGeometry) || !inRange(ht, 0, maxGeometry)) {
        refuse("setGeometry: out of range\n");
        return;
      }
      w->setGeometry(x, y, wd, ht);
      if (id == 0) w->setMinimumSize(wd, ht);
      return;
    }
    case CmdMove:
      if (inRange(argInt(c, 1), -maxGeometry, maxGeometry) &&
          inRange(argInt(c, 2), -maxGeometry, maxGeometry))
        w->move(argInt(c, 1), argInt(c, 2));
      return;
    case CmdResize:
      if (inRange(argInt(c, 1), 0, maxGeometry) && inRange(argInt(c, 2), 0, maxGeometry)) {
        w->resize(argInt(c, 1), argInt(c, 2));
        if (id == 0) w->setMinimumSize(argInt(c, 1), argInt(c, 2));
      }
      return;
    case CmdShow:
      w->show();
      return;
    case CmdHide:
      w->hide();
      return;
    case CmdSetEnabled:
      w->setEnabled(argInt(c, 1) != 0);
      return;
    case CmdSetText: {
      QString t = argText(c, 1);
      if (id == 0) {
        w->window()->setWindowTitle(t);
      } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        b->setText(t);
      } else if (auto* l = qobject_cast<QLabel*>(w)) {
        // Rich text takes its pictures from the downloads folder only.
        l->setText(otServerRichText(t));
      } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        e->setText(t);
      } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
        g->setTitle(t);
      } else if (auto* te = qobject_cast<QTextEdit*>(w)) {
        te->setHtml(otServerRichText(t));
      } else if (auto* pe = qobject_cast<QPlainTextEdit*>(w)) {
        pe->setPlainText(t);
      } else if (auto* lcd = qobject_cast<QLCDNumber*>(w)) {
        lcd->display(t);
      } else if (auto* cb = qobject_cast<QComboBox*>(w)) {
        cb->setCurrentText(t);
      } else {
        refuse("setText: widget %d has no text\n", id);
      }
      return;
    }
    case CmdSetFont: {
      int points = argInt(c, 2);
      if (!inRange(points, 1, 1000)) {
        refuse("setFont: %d points refused\n", points);
        return;
      }
      QFont f(argText(c, 1), points, argInt(c, 3) ? QFont::Bold : QFont::Normal, argInt(c, 4) != 0);
      w->setFont(f);
      return;
    }
    case CmdSetBackgroundColor:
    case CmdSetForegroundColor: {
      QColor col = colour(c, 1);
      if (cmd == CmdSetBackgroundColor)
        mySetBackgroundColor(w, col.red(), col.green(), col.blue());
      else
        mySetForegroundColor(w, col.red(), col.green(), col.blue());
      return;
    }
    case CmdSetToolTip:
      w->setToolTip(otServerRichText(argText(c, 1)));
      return;
    case CmdSetChecked:
      if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        if (!b->isCheckable()) b->setCheckable(true);
        b->setChecked(argInt(c, 1) != 0);
      } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
        g->setCheckable(true);
        g->setChecked(argInt(c, 1) != 0);
      } else {
        refuse("setChecked: widget %d cannot be checked\n", id);
      }
      return;
    case CmdSetValue: {
      int v = argInt(c, 1);
      if (auto* sl = qobject_cast<QAbstractSlider*>(w)) {
        sl->setValue(v);
      } else if (auto* sb = qobject_cast<QSpinBox*>(w)) {
        sb->setValue(v);
      } else if (auto* pb = qobject_cast<QProgressBar*>(w)) {
        pb->setValue(v);
      } else if (auto* cb = qobject_cast<QComboBox*>(w)) {
        if (inRange(v, 0, cb->count() - 1)) cb->setCurrentIndex(v);
      } else if (auto* tw = qobject_cast<QTabWidget*>(w)) {
        if (inRange(v, 0, tw->count() - 1)) tw->setCurrentIndex(v);
      } else if (auto* tb = qobject_cast<QToolBox*>(w)) {
        if (inRange(v, 0, tb->count() - 1)) tb->setCurrentIndex(v);
      } else if (!setNumber(w, v)) {
        refuse("setValue: widget %d has no value\n", id);
      }
      return;
    }
    case CmdSetFloat: {
      if (!setNumber(w, argFloat(c, 1))) refuse("setFloat: widget %d has no number\n", id);
      return;
    }
    case CmdSetRange:
      if (mySetRange(w, argFloat(c, 1), argFloat(c, 2), argFloat(c, 3)) < 0)
        refuse("setRange: widget %d has no range\n", id);
      return;
    case CmdDisplayNum:
    case CmdDisplayFloat:
    case CmdDisplayStr: {
      auto* lcd = qobject_cast<QLCDNumber*>(w);
      if (lcd == nullptr) {
        refuse("%s: widget %d is no LCD number\n", c.name, id);
      } else if (cmd == CmdDisplayNum) {
        lcd->display(argInt(c, 1));
      } else if (cmd == CmdDisplayFloat) {
        lcd->display(argFloat(c, 1));
      } else {
        lcd->display(argText(c, 1));
      }
      return;
    }
    case CmdAddItem:
      if (auto* cb = qobject_cast<QComboBox*>(w)) {
        cb->addItem(argText(c, 1));
      } else if (auto* lw = qobject_cast<QListWidget*>(w)) {
        lw->addItem(argText(c, 1));
      } else if (auto* tw = qobject_cast<QTreeWidget*>(w)) {
        tw->addTopLevelItem(new QTreeWidgetItem(QStringList(argText(c, 1))));
      } else {
        refuse("addItem: widget %d holds no items\n", id);
      }
      return;
    case CmdClear:
      if (auto* cb = qobject_cast<QComboBox*>(w)) {
        cb->clear();
      } else if (auto* lw = qobject_cast<QListWidget*>(w)) {
        lw->clear();
      } else if (auto* tw = qobject_cast<QTreeWidget*>(w)) {
        tw->clear();
      } else if (auto* tab = qobject_cast<QTableWidget*>(w)) {
        tab->clearContents();
      } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        e->clear();
      } else if (auto* te = qobject_cast<QTextEdit*>(w)) {
        te->clear();
      } else if (auto* pe = qobject_cast<QPlainTextEdit*>(w)) {
        pe->clear();
      } else if (auto* l = qobject_cast<QLabel*>(w)) {
        l->clear();
      } else {
        refuse("clear: widget %d cannot be cleared\n", id);
      }
      return;
    case CmdAddTab: {
      QWidget* child = widget(argInt(c, 1));
      // A page that holds the tab widget would make the widget tree a loop.
      if (child == nullptr || within(w, child) || argInt(c, 1) == 0) {
        refuse("addTab: no page widget %d\n", argInt(c, 1));
        return;
      }
      if (auto* tw = qobject_cast<QTabWidget*>(w)) {
        tw->addTab(child, argText(c, 2));
      } else if (auto* tb = qobject_cast<QToolBox*>(w)) {
        tb->addItem(child, argText(c, 2));
      } else {
        refuse("addTab: widget %d has no pages\n", id);
      }
      return;
    }
    case CmdSetNumRows:
    case CmdSetNumCols: {
      auto* tab = qobject_cast<MyTable*>(w);
      int n = argInt(c, 1);
      int r = tab == nullptr ? -1 : cmd == CmdSetNumRows ? tab->setNumRows(n) : tab->setNumCols(n);
      if (r < 0)
        refuse("%s(%d,%d) refused\n", c.name, id, n);
      else if (r > 0)
        limitMessage("table %d: %s(%d) cut to %d x %d cells", id, c.name, n, tab->rowCount(),
                     tab->columnCount());
      return;
    }
    case CmdSetTableText: {
      auto* tab = qobject_cast<MyTable*>(w);
      int x = argInt(c, 1), y = argInt(c, 2);
      if (tab == nullptr || !inRange(x, -1, maxTableSize - 1) ||
          !inRange(y, -1, maxTableSize - 1)) {
        refuse("setTableText(%d,%d,%d) refused\n", id, x, y);
        return;
      }
      tab->setTableText(x, y, argText(c, 3));
      return;
    }
    case CmdPlotCurve: {
      auto* plot = qobject_cast<QwtPlotWidget*>(w);
      if (plot == nullptr || plot->setCurve(argInt(c, 1), argText(c, 2)) < 0)
        refuse("plotCurve(%d,%d) refused\n", id, argInt(c, 1));
      return;
    }
    case CmdPlotData:
      plotData(w, argInt(c, 1), argInt(c, 2));
      return;
    case CmdReplot:
      if (auto* plot = qobject_cast<QwtPlotWidget*>(w)) plot->replot();
      return;
    case CmdPrint:
      print(w);
      return;
    case CmdSetImage: {
      auto* image = qobject_cast<QImageWidget*>(w);
      if (image == nullptr || image->setImageFromServer(c.textArg(1)) < 0)
        refuse("setImage(%d): no picture shown\n", id);
      return;
    }
    case CmdSetJpegImage:
      jpegImage(qobject_cast<QImageWidget*>(w), argInt(c, 1));
      return;
    case CmdVtkTclScript:
    case CmdVtkTclPrintf:
      printf("otclient: widget %d: no VTK with Tcl on this client; not run: %s\n", id,
             c.textArg(1));
      fflush(stdout);
      return;
    default:
      refuse("%s: not handled\n", c.name);
      return;
  }
}

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
    printf("otclient: download of \"%s\" (%d bytes) refused\n", name ? name : "", n);
    fflush(stdout);
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

void otClientInterpreter::jpegImage(QImageWidget* image, int n) {
  if (n < 0 || n > maxJpeg || image == nullptr) {
    refuse("setJpegImage: %d bytes refused\n", n);
    if (n > 0) startStream(dropBlock(n));
    return;
  }
  auto data = std::make_shared<std::vector<unsigned char>>();
  data->reserve((size_t)n);
  QPointer<QImageWidget> to(image);
  QPointer<otClientInterpreter> self(this);
  startStream(std::unique_ptr<otStreamConsumer>(new otBlockStream(
      n, [data](const char* bytes, int len) { data->insert(data->end(), bytes, bytes + len); },
      [data, to, self](bool complete) {
        if (!complete || to == nullptr) return;
        if (to->setJpegImage(data->data(), (int)data->size(), 0) < 0 && self != nullptr)
          self->refuse("setJpegImage: no picture\n");
      })));
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
      printf("otclient: %s(%d): an argument line above %d bytes refused\n", name.c_str(), id,
             HX_SVG_MAX_LINE);
      fflush(stdout);
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

void otClientInterpreter::plotData(QWidget* w, int curve, int n) {
  if (!inRange(n, 0, maxPlotPoints)) {
    // An unbounded count cannot be skipped line by line without trusting it: refuse and
    // let the lines that follow fail as unknown commands.
    refuse("plotData: %d points refused\n", n);
    return;
  }
  struct Points {
    std::vector<double> x, y;
  };
  auto points = std::make_shared<Points>();
  QPointer<QwtPlotWidget> plot(qobject_cast<QwtPlotWidget*>(w));
  QPointer<otClientInterpreter> self(this);
  auto each = [points](const char* text, int, bool) {
    double a = 0, b = 0;
    if (sscanf(text, "%lf,%lf", &a, &b) == 2) {
      points->x.push_back(a);
      points->y.push_back(b);
    }
  };
  auto done = [points, plot, self, curve, n](bool complete) {
    if (!complete || self == nullptr) return;
    if (plot == nullptr ||
        plot->setCurveData(curve, points->x.data(), points->y.data(), (int)points->x.size()) < 0)
      self->refuse("plotData(%d,%d) refused\n", curve, n);
  };
  // A point line is short: a longer one keeps its first bytes, its rest is dropped.
  startStream(std::unique_ptr<otStreamConsumer>(new otLinesStream(n, kPointLine, each, done)));
}

namespace {

// The widget scaled to the printer's page.
void printOn(QPrinter* printer, QWidget* w) {
  QPainter painter;
  if (!painter.begin(printer)) {
    printf("otclient: cannot print widget\n");
    fflush(stdout);
    return;
  }
  QRect page = printer->pageLayout().paintRectPixels(printer->resolution());
  double scale = qMin((double)page.width() / qMax(1, w->width()),
                      (double)page.height() / qMax(1, w->height()));
  painter.scale(scale, scale);
  w->render(&painter);
  painter.end();
}

}  // namespace

void otClientInterpreter::print(QWidget* w) {
  if (opt.print_pdf[0] != '\0') {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromUtf8(opt.print_pdf));
    printOn(&printer, w);
    return;
  }
  // A dialog with a loop of its own would stop the connection until the operator answers:
  // this one is only opened, and prints when it is accepted, if the widget is still there.
  if (printDialog_ != nullptr) {
    refuse("print: a print dialog is open already\n");
    return;
  }
  auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
  auto* dialog = new QPrintDialog(printer.get(), w->window());
  connect(dialog, &QDialog::finished, dialog, &QObject::deleteLater);
  printDialog_ = dialog;
  QPointer<QWidget> target(w);
  // The printer lives as long as the connection to the dialog does.
  connect(dialog, &QDialog::accepted, dialog, [printer, target] {
    if (target != nullptr) printOn(printer.get(), target.data());
  });
  dialog->open();
}
