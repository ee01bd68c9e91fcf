#include "uiwidgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDial>
#include <QFrame>
#include <QGroupBox>
#include <QLCDNumber>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextBrowser>
#include <QToolBox>
#include <QTreeWidget>
#include <QVariant>

#include "dlginsertwidget.h"
#include "myqwtwidgets.h"
#include "mywidgets.h"
#include "qdrawwidget.h"
#include "qimagewidget.h"
#include "studiokinds.h"
#include "uiforeign.h"

Q_DECLARE_METATYPE(UiNode)

namespace {

// Design widgets never talk to a server: their connection handle holds -1.
int nullSocket = -1;

// What a node holds that the studio does not edit, kept on its widget for the next capture.
const char* const kExtra = "_hxstudioExtra";
// The class of a node the studio cannot show (built as a frame).
const char* const kForeignClass = "_hxstudioClass";

const QSize kNoMaximum(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);

// The properties that capture writes itself; anything else a file holds is kept as extra.
const char* const kOwnProperties[] = {"geometry",    "minimumSize",
                                      "maximumSize", "statusTip",
                                      "toolTip",     "whatsThis",
                                      "font",        "palette",
                                      "text",        "title",
                                      "frameShape",  "frameShadow",
                                      "lineWidth",   "margin",
                                      "minimum",     "maximum",
                                      "singleStep",  "value",
                                      "orientation", "digitCount",
                                      "mode",        "segmentStyle",
                                      "rowCount",    "columnCount",
                                      "readOnly",    "maximumBlockCount",
                                      "tabPosition", "selectionMode",
                                      "editable",    STUDIO_TAG_PROPERTY};

bool ownProperty(const QString& name) {
  for (const char* p : kOwnProperties)
    if (name == QLatin1String(p)) return true;
  return false;
}

QString tagOf(const QWidget* w) {
  return studioTagOf(w->statusTip());
}

bool is(const QWidget* w, const char* tag) {
  return tagOf(w) == QLatin1String(tag);
}

const char* const kShapes[] = {"QFrame::NoFrame",    "QFrame::Box",   "QFrame::Panel",
                               "QFrame::WinPanel",   "QFrame::HLine", "QFrame::VLine",
                               "QFrame::StyledPanel"};

QString shapeName(int shape) {
  return shape >= 0 && shape <= 6 ? kShapes[shape] : kShapes[0];
}

int shapeOf(const QString& s) {
  for (int i = 0; i <= 6; i++)
    if (s == kShapes[i] || s == QString(kShapes[i]).mid(8)) return i;
  return s.toInt();
}

QString shadowName(int shadow) {
  return shadow == QFrame::Raised   ? "QFrame::Raised"
         : shadow == QFrame::Sunken ? "QFrame::Sunken"
                                    : "QFrame::Plain";
}

int shadowOf(const QString& s) {
  if (s.endsWith("Raised")) return QFrame::Raised;
  if (s.endsWith("Sunken")) return QFrame::Sunken;
  return QFrame::Plain;
}

const char* const kLcdModes[] = {"QLCDNumber::Hex", "QLCDNumber::Dec", "QLCDNumber::Oct",
                                 "QLCDNumber::Bin"};
const char* const kLcdStyles[] = {"QLCDNumber::Outline", "QLCDNumber::Filled", "QLCDNumber::Flat"};
const char* const kTabPositions[] = {"QTabWidget::North", "QTabWidget::South", "QTabWidget::West",
                                     "QTabWidget::East"};
const char* const kSelection[] = {"QAbstractItemView::NoSelection",
                                  "QAbstractItemView::SingleSelection",
                                  "QAbstractItemView::MultiSelection"};

template <int N>
int indexOf(const char* const (&names)[N], const QString& s, int fallback) {
  for (int i = 0; i < N; i++)
    if (s == names[i] || s == QString(names[i]).section("::", 1)) return i;
  return fallback;
}

int orientationOf(const QString& s) {
  return s.endsWith("Vertical") ? Qt::Vertical : Qt::Horizontal;
}

QString orientationName(Qt::Orientation o) {
  return o == Qt::Vertical ? "Qt::Vertical" : "Qt::Horizontal";
}

int num(const UiNode& n, const char* prop, int fallback) {
  const UiProperty* p = n.property(prop);
  if (!p) return fallback;
  bool ok = false;
  // Designer writes some of these as doubles (Qwt); an int widget takes them rounded.
  double v = p->text.toDouble(&ok);
  return ok ? (int)qRound(v) : fallback;
}

// The palette roles of a kind, as the property dialog reads and sets them.
}  // namespace

QPalette::ColorRole uiForegroundRole(const QWidget* w) {
  return is(w, "TQPushButton:") ? QPalette::ButtonText : QPalette::WindowText;
}

QPalette::ColorRole uiBackgroundRole(const QWidget* w) {
  if (is(w, "TQPushButton:") || is(w, "TQRadio:") || is(w, "TQCheck:")) return QPalette::Button;
  if (is(w, "TQMultiLineEdit:") || is(w, "TQLineEdit:") || is(w, "TQTextBrowser:"))
    return QPalette::Base;
  return QPalette::Window;
}

namespace {

const char* roleName(QPalette::ColorRole r) {
  switch (r) {
    case QPalette::ButtonText:
      return "ButtonText";
    case QPalette::Button:
      return "Button";
    case QPalette::Base:
      return "Base";
    case QPalette::Window:
      return "Window";
    default:
      return "WindowText";
  }
}

QString rgbText(const QColor& c) {
  return QString("%1,%2,%3").arg(c.red()).arg(c.green()).arg(c.blue());
}

QColor rgbOf(const QString& s) {
  const QStringList c = s.split(',');
  return QColor(c.value(0).toInt(), c.value(1).toInt(), c.value(2).toInt());
}

}  // namespace

QString uiWidgetText(const QWidget* w) {
  if (auto* l = qobject_cast<const QLabel*>(w)) return l->text();
  if (auto* e = qobject_cast<const QLineEdit*>(w)) return e->text();
  if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
  if (auto* g = qobject_cast<const QGroupBox*>(w)) return g->title();
  return QString();
}

void uiSetWidgetText(QWidget* w, const QString& t) {
  if (auto* l = qobject_cast<QLabel*>(w)) {
    l->setText(t);
  } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
    e->setText(t);
  } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
    b->setText(t);
  } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
    g->setTitle(t);
  }
}

namespace {

const char* textProperty(const QWidget* w) {
  return qobject_cast<const QGroupBox*>(w) ? "title" : "text";
}

bool hasText(const QWidget* w) {
  return qobject_cast<const QLabel*>(w) || qobject_cast<const QLineEdit*>(w) ||
         qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QGroupBox*>(w);
}

// The status tip of a node: its own, or for a file without one (Qt Designer) the tag of its
// class with the markers of the font and colours it sets.
QString statusTipOf(const UiNode& n) {
  QString tip = n.statusTip();
  if (!studioTagOf(tip).isEmpty()) return tip;
  const StudioKind* k = studioKindByClass(n.className);
  if (!k) return tip;
  tip = k->tag;
  if (n.property("font")) tip = studioSetMarker(tip, "font:", true);
  if (const UiProperty* p = n.property("palette")) {
    for (const auto& f : p->fields) {
      const bool fg = f.first.endsWith("Text");
      tip = studioSetMarker(tip, fg ? "foreground:" : "background:", true);
    }
  }
  return tip;
}

QWidget* placeholder(QWidget* parent, int shape, int shadow, int lineWidth) {
  return new MyFrame(&nullSocket, 0, parent, shape, shadow, lineWidth, 1);
}

// The widget of a tag, built as the insert dialog builds it (parameters from the node).
QWidget* make(const QString& tag, const UiNode& n, QWidget* parent) {
  int* s = &nullSocket;
  if (tag == "TQTabWidget:") return new MyQTabWidget(s, 0, parent);
  if (tag == "TQWidget:") return new QWidget(parent);
  if (tag == "TQLabel:") return new MyLabel(s, 0, parent);
  if (tag == "TQPushButton:") return new MyQPushButton(s, 0, parent);
  if (tag == "TQRadio:") return new MyRadioButton(s, 0, parent);
  if (tag == "TQCheck:") return new MyCheckBox(s, 0, parent);
  if (tag == "TQLineEdit:") return new MyLineEdit(s, 0, parent);
  if (tag == "TQSpinBox:")
    return new MySpinBox(s, 0, parent, num(n, "minimum", 0), num(n, "maximum", 99),
                         num(n, "singleStep", 1));
  if (tag == "TQComboBox:") return new MyComboBox(s, 0, parent, 0, 0);
  if (tag == "TQLCDNumber:") return new QLCDNumber(num(n, "digitCount", 5), parent);
  if (tag == "TQSlider:")
    return new MySlider(s, 0, parent, num(n, "minimum", 0), num(n, "maximum", 99),
                        num(n, "singleStep", 1), num(n, "value", 0),
                        orientationOf(n.text("orientation")));
  if (tag == "TQDial:")
    return new MyDial(s, 0, parent, num(n, "minimum", 0), num(n, "maximum", 99),
                      num(n, "singleStep", 1), num(n, "value", 0));
  if (tag == "TQProgressBar:")
    return new MyProgressBar(s, 0, parent, num(n, "maximum", 100),
                             orientationOf(n.text("orientation")));
  if (tag == "TQDateEdit:") return new MyQDateEdit(s, 0, parent);
  if (tag == "TQTimeEdit:") return new MyQTimeEdit(s, 0, parent);
  if (tag == "TQDateTimeEdit:") return new MyQDateTimeEdit(s, 0, parent);
  if (tag == "TQGroupBox:" || tag == "TQButtonGroup:")
    return new MyGroupBox(s, 0, parent, 1, Qt::Horizontal, n.text("title"));
  if (tag == "TQFrame:")
    return new MyFrame(s, 0, parent, shapeOf(n.text("frameShape")), shadowOf(n.text("frameShadow")),
                       num(n, "lineWidth", 1), 1);
  if (tag == "TQTable:")
    return new MyTable(s, 0, parent, num(n, "rowCount", 0), num(n, "columnCount", 0));
  if (tag == "TQMultiLineEdit:")
    return new MyMultiLineEdit(s, 0, parent, n.text("readOnly") == "true" ? 0 : 1,
                               num(n, "maximumBlockCount", 0));
  if (tag == "TQTextBrowser:") return new QTextBrowser(parent);
  if (tag == "TQListView:") return new MyListView(s, 0, parent);
  if (tag == "TQListBox:") return new MyListBox(s, 0, parent);
  if (tag == "TQIconView:") return new MyIconView(s, 0, parent);
  if (tag == "TQImage:") {
    auto* img = new QImageWidget(s, 0, parent);
    QImage fill(1, 1, QImage::Format_ARGB32);
    fill.fill(QColor(128, 0, 0));
    img->setImage(&fill);
    return img;
  }
  if (tag == "TQDraw:") return new QDrawWidget(parent, "draw", 0, s, 0);
  if (tag == "TQGl:") return placeholder(parent, QFrame::Panel, QFrame::Raised, 10);
  if (tag == "TQVtk:") return placeholder(parent, QFrame::Panel, QFrame::Sunken, 10);
  if (tag == "TQCustomWidget:") {
    QWidget* f = placeholder(parent, QFrame::Panel, QFrame::Raised, 5);
    f->setToolTip("Set whatsThis='/library/widgettype:arguments'");
    auto* l = new QLabel(f);
    l->setGeometry(5, 2, 4096, 50);
    return f;
  }
  if (tag == "TQToolBox:") return new MyQToolBox(s, 0, parent);
  if (tag == "TQwtPlotWidget:") return new QwtPlotWidget(s, 0, parent, 10, 1000);
  if (tag == "TQwtThermo:") return new MyQwtThermo(s, 0, parent);
  if (tag == "TQwtKnob:") return new MyQwtKnob(s, 0, parent);
  if (tag == "TQwtCounter:") return new MyQwtCounter(s, 0, parent);
  if (tag == "TQwtWheel:") return new MyQwtWheel(s, 0, parent);
  if (tag == "TQwtSlider:")
    return new MyQwtSlider(s, 0, parent, n.text("orientation").endsWith("Vertical") ? 0 : 1);
  if (tag == "TQwtCompass:") return new MyQwtCompass(s, 0, parent);
  if (tag == "TQwtDial:") return new MyQwtDial(s, 0, parent);
  if (tag == "TQwtAnalogClock:") return new MyQwtAnalogClock(s, 0, parent);
  return nullptr;
}

// The custom widget's placeholder shows its "/library/type:arguments" in its label.
void showSpecification(QWidget* w) {
  if (!is(w, "TQCustomWidget:")) return;
  if (auto* l = w->findChild<QLabel*>(QString(), Qt::FindDirectChildrenOnly))
    l->setText(w->whatsThis());
}

void setFontOf(QWidget* w, const UiProperty* p) {
  if (!p) {
    w->setFont(QFont());
    return;
  }
  QFont f = w->font();
  const QString family = p->field("family");
  if (!family.isEmpty()) f.setFamily(family);
  if (!p->field("pointsize").isEmpty()) f.setPointSize(p->field("pointsize").toInt());
  if (!p->field("weight").isEmpty()) f.setWeight(p->field("weight").toInt());
  if (!p->field("bold").isEmpty()) f.setBold(p->field("bold") == "true");
  f.setItalic(p->field("italic") == "true");
  f.setUnderline(p->field("underline") == "true");
  f.setStrikeOut(p->field("strikeout") == "true");
  w->setFont(f);
}

UiProperty fontProperty(const QWidget* w) {
  const QFont f = w->font();
  UiProperty p;
  p.name = "font";
  p.type = "font";
  p.fields = {{"family", f.family()},
              {"pointsize", QString::number(f.pointSize())},
              {"weight", QString::number(f.weight())},
              {"italic", f.italic() ? "true" : "false"},
              {"bold", f.bold() ? "true" : "false"},
              {"underline", f.underline() ? "true" : "false"},
              {"strikeout", f.strikeOut() ? "true" : "false"}};
  return p;
}

// The tab widget or tool box whose page w is, and its index there; null when w is no page.
QWidget* pageOf(const QWidget* w, int* index) {
  QWidget* up = w->parentWidget();
  for (int level = 0; up && level < 3; level++, up = up->parentWidget()) {
    if (auto* t = qobject_cast<QTabWidget*>(up)) {
      *index = t->indexOf(const_cast<QWidget*>(w));
      return *index >= 0 ? up : nullptr;
    }
    if (auto* b = qobject_cast<QToolBox*>(up)) {
      *index = b->indexOf(const_cast<QWidget*>(w));
      return *index >= 0 ? up : nullptr;
    }
  }
  return nullptr;
}

}  // namespace

QVector<QWidget*> uiDesignChildren(const QWidget* w) {
  QVector<QWidget*> out;
  if (!w) return out;
  if (auto* t = qobject_cast<const QTabWidget*>(w)) {
    for (int i = 0; i < t->count(); i++)
      out.append(t->widget(i));
    return out;
  }
  if (auto* t = qobject_cast<const QToolBox*>(w)) {
    for (int i = 0; i < t->count(); i++)
      out.append(t->widget(i));
    return out;
  }
  for (QObject* o : w->children()) {
    auto* c = qobject_cast<QWidget*>(o);
    if (c && (!tagOf(c).isEmpty() || c->property(kForeignClass).isValid())) out.append(c);
  }
  return out;
}

void uiApply(QWidget* w, const UiNode& n) {
  if (!w) return;
  const QString tip = statusTipOf(n);
  w->setObjectName(n.name);
  w->setStatusTip(tip);
  w->setToolTip(n.text("toolTip"));
  w->setWhatsThis(n.text("whatsThis"));
  const UiProperty* minSize = n.property("minimumSize");
  w->setMinimumSize(minSize ? minSize->field("width").toInt() : 0,
                    minSize ? minSize->field("height").toInt() : 0);
  const UiProperty* maxSize = n.property("maximumSize");
  w->setMaximumSize(maxSize ? maxSize->field("width").toInt() : kNoMaximum.width(),
                    maxSize ? maxSize->field("height").toInt() : kNoMaximum.height());
  setFontOf(w, studioHasMarker(tip, "font:") ? n.property("font") : nullptr);
  // Colours: the default palette, then the roles the file sets.
  w->setPalette(QPalette());
  if (const UiProperty* p = n.property("palette")) {
    QPalette pal = w->palette();
    for (const auto& f : p->fields) {
      const bool fg = f.first.endsWith("Text");
      if (!studioHasMarker(tip, fg ? "foreground:" : "background:")) continue;
      const QPalette::ColorRole role = fg ? uiForegroundRole(w) : uiBackgroundRole(w);
      pal.setColor(role, rgbOf(f.second));
    }
    w->setPalette(pal);
  }
  if (hasText(w) && !is(w, "TQCustomWidget:")) uiSetWidgetText(w, n.text(textProperty(w)));
  if (auto* f = qobject_cast<QFrame*>(w)) {
    const bool isFrame = is(w, "TQFrame:");
    if (isFrame || is(w, "TQLabel:")) {
      f->setFrameShape((QFrame::Shape)shapeOf(n.text("frameShape")));
      f->setFrameShadow((QFrame::Shadow)shadowOf(n.text("frameShadow")));
      f->setLineWidth(num(n, "lineWidth", 1));
    }
    if (auto* l = qobject_cast<QLabel*>(w)) l->setMargin(num(n, "margin", 0));
  }
  if (auto* sb = qobject_cast<QSpinBox*>(w)) {
    sb->setRange(num(n, "minimum", 0), num(n, "maximum", 99));
    sb->setSingleStep(num(n, "singleStep", 1));
  } else if (auto* sl = qobject_cast<QAbstractSlider*>(w)) {
    sl->setRange(num(n, "minimum", 0), num(n, "maximum", 99));
    sl->setSingleStep(num(n, "singleStep", 1));
    sl->setValue(num(n, "value", 0));
    if (qobject_cast<QSlider*>(w))
      sl->setOrientation((Qt::Orientation)orientationOf(n.text("orientation")));
  } else if (auto* pb = qobject_cast<QProgressBar*>(w)) {
    pb->setRange(0, num(n, "maximum", 100));
    pb->setOrientation((Qt::Orientation)orientationOf(n.text("orientation")));
  } else if (auto* lcd = qobject_cast<QLCDNumber*>(w)) {
    lcd->setDigitCount(num(n, "digitCount", 5));
    lcd->setMode((QLCDNumber::Mode)indexOf(kLcdModes, n.text("mode"), 1));
    lcd->setSegmentStyle((QLCDNumber::SegmentStyle)indexOf(kLcdStyles, n.text("segmentStyle"), 1));
  } else if (auto* t = qobject_cast<QTableWidget*>(w)) {
    int rows = num(n, "rowCount", 0), cols = num(n, "columnCount", 0);
    myTableFit(&rows, &cols);
    t->setRowCount(rows);
    t->setColumnCount(cols);
  } else if (auto* e = qobject_cast<QPlainTextEdit*>(w)) {
    e->setReadOnly(n.text("readOnly") == "true");
    e->setMaximumBlockCount(num(n, "maximumBlockCount", 0));
  } else if (auto* tw = qobject_cast<QTabWidget*>(w)) {
    tw->setTabPosition((QTabWidget::TabPosition)indexOf(kTabPositions, n.text("tabPosition"), 0));
  } else if (auto* c = qobject_cast<QComboBox*>(w)) {
    c->setEditable(n.text("editable") == "true");
  } else if (auto* sl2 = qobject_cast<QwtSlider*>(w)) {
    sl2->setOrientation((Qt::Orientation)orientationOf(n.text("orientation")));
  }
  if (auto* v = qobject_cast<QAbstractItemView*>(w)) {
    if (qobject_cast<QListWidget*>(w) || qobject_cast<QTreeWidget*>(w))
      v->setSelectionMode(
          (QAbstractItemView::SelectionMode)indexOf(kSelection, n.text("selectionMode"), 1));
  }
  const UiProperty* bound = n.property(STUDIO_TAG_PROPERTY);
  w->setProperty(STUDIO_TAG_PROPERTY,
                 bound && !bound->text.isEmpty() ? QVariant(bound->text) : QVariant());
  // What the studio does not edit, for the next capture.
  UiNode extra;
  for (const UiProperty& p : n.properties)
    if (!ownProperty(p.name)) extra.properties.append(p);
  extra.attributes = n.attributes;
  extra.extraXml = n.extraXml;
  w->setProperty(kExtra, QVariant::fromValue(extra));
  showSpecification(w);
  int page = -1;
  if (QWidget* container = pageOf(w, &page)) {
    const UiProperty* title = n.attribute("title");
    const UiProperty* label = n.attribute("label");
    if (auto* t = qobject_cast<QTabWidget*>(container)) {
      if (title) t->setTabText(page, title->text);
    } else if (label) {
      static_cast<QToolBox*>(container)->setItemText(page, label->text);
    }
  } else {
    const QRect g = n.geometry();
    mySetGeometry(w, g.x(), g.y(), g.width(), g.height());
  }
}

QWidget* uiBuild(const UiNode& n, QWidget* parent, QString* warning) {
  if (!parent) return nullptr;
  if (n.className == QLatin1String("Line")) {
    UiNode adopted = n;
    uiAdoptDesignerClasses(&adopted);
    return uiBuild(adopted, parent, warning);
  }
  const QString tip = statusTipOf(n);
  QString tag = studioTagOf(tip);
  QWidget* w = studioKindByTag(tag) ? make(tag, n, parent) : nullptr;
  if (!w) {
    // A class the display client does not have: a frame keeps its place and its properties.
    w = placeholder(parent, QFrame::Box, QFrame::Plain, 1);
    w->setProperty(kForeignClass, n.className);
  }
  // What its layouts hold is not shown either (the file keeps it).
  if (warning)
    for (const UiForeign& f : uiForeignOf(n))
      *warning += f.text() + "\n";
  w->setObjectName(n.name);
  w->setStatusTip(tip);
  // What a foreign widget holds goes with it, and its warning said so.
  const bool foreign = w->property(kForeignClass).isValid();
  for (const UiNode& c : n.children) {
    QWidget* child = uiBuild(c, w, foreign ? nullptr : warning);
    const UiProperty* title = c.attribute("title");
    const UiProperty* label = c.attribute("label");
    if (auto* t = qobject_cast<QTabWidget*>(w))
      t->addTab(child, title ? title->text : c.name);
    else if (auto* b = qobject_cast<QToolBox*>(w))
      b->addItem(child, label ? label->text : c.name);
  }
  if (w->property(kForeignClass).isValid()) {
    UiNode extra = n;
    extra.children.clear();
    w->setProperty(kExtra, QVariant::fromValue(extra));
    const QRect g = n.geometry();
    w->setGeometry(g);
  } else {
    uiApply(w, n);
  }
  w->show();
  return w;
}

UiNode uiCapture(const QWidget* w, bool withChildren) {
  UiNode n;
  if (!w) return n;
  const QVariant extraValue = w->property(kExtra);
  const UiNode extra = extraValue.value<UiNode>();
  const QVariant foreign = w->property(kForeignClass);
  if (foreign.isValid()) {
    // Kept whole, with the place it was moved to.
    n = extra;
    n.name = w->objectName();
    n.setProperty(uiRect("geometry", w->geometry()));
  } else {
    const QString tip = w->statusTip();
    const StudioKind* k = studioKindByTag(tip);
    n.className = k ? k->uiClass : "QWidget";
    n.name = w->objectName();
    n.properties.append(uiRect("geometry", w->geometry()));
    if (w->minimumSize() != QSize(0, 0))
      n.properties.append(uiSize("minimumSize", w->minimumWidth(), w->minimumHeight()));
    if (w->maximumSize() != kNoMaximum)
      n.properties.append(uiSize("maximumSize", w->maximumWidth(), w->maximumHeight()));
    n.properties.append(uiString("statusTip", tip));
    if (!w->toolTip().isEmpty() && !is(w, "TQCustomWidget:"))
      n.properties.append(uiString("toolTip", w->toolTip()));
    if (!w->whatsThis().isEmpty()) n.properties.append(uiString("whatsThis", w->whatsThis()));
    if (studioHasMarker(tip, "font:")) n.properties.append(fontProperty(w));
    const bool fg = studioHasMarker(tip, "foreground:"), bg = studioHasMarker(tip, "background:");
    if (fg || bg) {
      UiProperty p;
      p.name = "palette";
      p.type = "palette";
      if (fg)
        p.fields.append(
            {roleName(uiForegroundRole(w)), rgbText(w->palette().color(uiForegroundRole(w)))});
      if (bg)
        p.fields.append(
            {roleName(uiBackgroundRole(w)), rgbText(w->palette().color(uiBackgroundRole(w)))});
      n.properties.append(p);
    }
    if (hasText(w) && !is(w, "TQCustomWidget:") && !uiWidgetText(w).isEmpty())
      n.properties.append(uiString(textProperty(w), uiWidgetText(w)));
    if (auto* f = qobject_cast<const QFrame*>(w)) {
      const bool isFrame = is(w, "TQFrame:");
      const bool isLabel = is(w, "TQLabel:");
      if (isFrame || (isLabel && (f->frameShape() != QFrame::NoFrame ||
                                  f->frameShadow() != QFrame::Plain || f->lineWidth() != 1))) {
        n.properties.append(uiEnum("frameShape", shapeName(f->frameShape())));
        n.properties.append(uiEnum("frameShadow", shadowName(f->frameShadow())));
        n.properties.append(uiNumber("lineWidth", f->lineWidth()));
      }
      if (auto* l = qobject_cast<const QLabel*>(w))
        if (isLabel && l->margin() != 0) n.properties.append(uiNumber("margin", l->margin()));
    }
    if (auto* sb = qobject_cast<const QSpinBox*>(w)) {
      n.properties.append(uiNumber("minimum", sb->minimum()));
      n.properties.append(uiNumber("maximum", sb->maximum()));
      n.properties.append(uiNumber("singleStep", sb->singleStep()));
    } else if (qobject_cast<const QSlider*>(w) || qobject_cast<const QDial*>(w)) {
      auto* sl = static_cast<const QAbstractSlider*>(w);
      n.properties.append(uiNumber("minimum", sl->minimum()));
      n.properties.append(uiNumber("maximum", sl->maximum()));
      n.properties.append(uiNumber("singleStep", sl->singleStep()));
      n.properties.append(uiNumber("value", sl->value()));
      if (qobject_cast<const QSlider*>(w))
        n.properties.append(uiEnum("orientation", orientationName(sl->orientation())));
    } else if (auto* pb = qobject_cast<const QProgressBar*>(w)) {
      n.properties.append(uiNumber("maximum", pb->maximum()));
      n.properties.append(uiEnum("orientation", orientationName(pb->orientation())));
    } else if (auto* lcd = qobject_cast<const QLCDNumber*>(w)) {
      n.properties.append(uiNumber("digitCount", lcd->digitCount()));
      n.properties.append(uiEnum("mode", kLcdModes[lcd->mode() & 3]));
      n.properties.append(
          uiEnum("segmentStyle", kLcdStyles[qBound(0, (int)lcd->segmentStyle(), 2)]));
    } else if (auto* t = qobject_cast<const QTableWidget*>(w)) {
      n.properties.append(uiNumber("rowCount", t->rowCount()));
      n.properties.append(uiNumber("columnCount", t->columnCount()));
    } else if (auto* e = qobject_cast<const QPlainTextEdit*>(w)) {
      n.properties.append(uiBool("readOnly", e->isReadOnly()));
      n.properties.append(uiNumber("maximumBlockCount", e->maximumBlockCount()));
    } else if (auto* tw = qobject_cast<const QTabWidget*>(w)) {
      n.properties.append(uiEnum("tabPosition", kTabPositions[tw->tabPosition() & 3]));
    } else if (auto* c = qobject_cast<const QComboBox*>(w)) {
      if (c->isEditable()) n.properties.append(uiBool("editable", true));
    } else if (auto* qs = qobject_cast<const QwtSlider*>(w)) {
      n.properties.append(uiEnum("orientation", orientationName(qs->orientation())));
    }
    if (qobject_cast<const QListWidget*>(w) || qobject_cast<const QTreeWidget*>(w)) {
      auto* v = static_cast<const QAbstractItemView*>(w);
      if (v->selectionMode() != QAbstractItemView::SingleSelection)
        n.properties.append(
            uiEnum("selectionMode", kSelection[qBound(0, (int)v->selectionMode(), 2)]));
    }
    const QVariant bound = w->property(STUDIO_TAG_PROPERTY);
    if (bound.isValid() && !bound.toString().isEmpty()) {
      UiProperty p = uiString(STUDIO_TAG_PROPERTY, bound.toString());
      p.stdset = false;
      n.properties.append(p);
    }
    for (const UiProperty& p : extra.properties)
      n.properties.append(p);
    n.attributes = extra.attributes;
    n.extraXml = extra.extraXml;
  }
  // A page's title lives in its container, its geometry is the container's business.
  int page = -1;
  if (QWidget* container = pageOf(w, &page)) {
    n.removeProperty("geometry");
    n.attributes.clear();
    if (auto* t = qobject_cast<QTabWidget*>(container))
      n.attributes.append(uiString("title", t->tabText(page)));
    else
      n.attributes.append(uiString("label", static_cast<QToolBox*>(container)->itemText(page)));
  }
  if (withChildren)
    for (QWidget* c : uiDesignChildren(w))
      n.children.append(uiCapture(c, true));
  return n;
}

UiForm uiCaptureForm(const QWidget* root, const QString& formClass) {
  UiForm f;
  f.formClass = formClass;
  if (!root) return f;
  const UiNode extra = root->property(kExtra).value<UiNode>();
  f.root.className = "QWidget";
  f.root.name = root->objectName().isEmpty() ? formClass : root->objectName();
  f.root.properties.append(uiRect("geometry", QRect(0, 0, root->width(), root->height())));
  for (const UiProperty& p : extra.properties)
    if (p.name != "geometry") f.root.properties.append(p);
  f.root.extraXml = extra.extraXml;
  for (QWidget* c : uiDesignChildren(root))
    f.root.children.append(uiCapture(c, true));
  const QVariant formExtra = root->property("_hxstudioForm");
  if (formExtra.isValid()) {
    const UiNode fe = formExtra.value<UiNode>();
    f.extraXml = fe.extraXml;
  }
  return f;
}

void uiBuildForm(const UiForm& f, QWidget* root, QString* warnings) {
  if (!root) return;
  root->setObjectName(f.root.name.isEmpty() ? f.formClass : f.root.name);
  const QRect g = f.root.geometry();
  root->resize(g.width() > 0 ? g.width() : 640, g.height() > 0 ? g.height() : 480);
  UiNode extra;
  for (const UiProperty& p : f.root.properties)
    if (p.name != "geometry") extra.properties.append(p);
  extra.extraXml = f.root.extraXml;
  root->setProperty(kExtra, QVariant::fromValue(extra));
  UiNode formExtra;
  formExtra.extraXml = f.extraXml;
  root->setProperty("_hxstudioForm", QVariant::fromValue(formExtra));
  if (warnings) {
    UiNode top = f.root;
    top.children.clear();
    for (const UiForeign& x : uiForeignWidgets(top))
      *warnings += x.text() + "\n";
  }
  for (const UiNode& c : f.root.children)
    uiBuild(c, root, warnings);
}
