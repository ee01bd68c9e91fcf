#include "studiokinds.h"

#include <QStringList>

namespace {

// Binding: 1 shows a tag, 2 writes it, 3 both (an input that also follows the value).
const StudioKind kKinds[] = {
    {"TQTabWidget:", "QTabWidget", "", 0},
    {"TQRadio:", "QRadioButton", "", 0},
    {"TQCheck:", "QCheckBox", "", 3},
    {"TQLineEdit:", "QLineEdit", "", 3},
    {"TQLabel:", "QLabel", "", 1},
    {"TQPushButton:", "QPushButton", "", 2},
    {"TQGroupBox:", "QGroupBox", "", 0},
    {"TQFrame:", "QFrame", "", 0},
    {"TQComboBox:", "QComboBox", "", 0},
    {"TQTable:", "QTableWidget", "", 0},
    {"TQMultiLineEdit:", "QPlainTextEdit", "", 0},
    {"TQSpinBox:", "QSpinBox", "", 3},
    {"TQSlider:", "QSlider", "", 3},
    {"TQLCDNumber:", "QLCDNumber", "", 1},
    {"TQDateEdit:", "QDateEdit", "", 0},
    {"TQTimeEdit:", "QTimeEdit", "", 0},
    {"TQDial:", "QDial", "", 3},
    {"TQProgressBar:", "QProgressBar", "", 1},
    {"TQDateTimeEdit:", "QDateTimeEdit", "", 0},
    {"TQTextBrowser:", "QTextBrowser", "", 0},
    {"TQIconView:", "HxcIconview", "mywidgets.h", 0},
    {"TQImage:", "HxcImage", "qimagewidget.h", 0},
    {"TQDraw:", "HxcDraw", "qdrawwidget.h", 0},
    {"TQwtSlider:", "QwtSlider", "qwt_slider.h", 3},
    {"TQwtWheel:", "QwtWheel", "qwt_wheel.h", 3},
    {"TQwtCompass:", "QwtCompass", "qwt_compass.h", 1},
    {"TQwtKnob:", "QwtKnob", "qwt_knob.h", 3},
    {"TQwtCounter:", "QwtCounter", "qwt_counter.h", 3},
    {"TQwtThermo:", "QwtThermo", "qwt_thermo.h", 1},
    {"TQwtDial:", "QwtDial", "qwt_dial.h", 1},
    {"TQwtAnalogClock:", "QwtAnalogClock", "qwt_analog_clock.h", 0},
    {"TQListView:", "QTreeWidget", "", 0},
    {"TQGl:", "HxcOpengl", "hxglwidget.h", 0},
    {"TQVtk:", "HxcVtk", "mywidgets.h", 0},
    {"TQwtPlotWidget:", "QwtPlot", "qwt_plot.h", 0},
    {"TQToolBox:", "QToolBox", "", 0},
    {"TQListBox:", "QListWidget", "", 0},
    {"TQCustomWidget:", "HxcCustomWidget", "mywidgets.h", 0},
    // Not in the catalogue: the pages of tab widgets and tool boxes, and button groups.
    {"TQWidget:", "QWidget", "", 0},
    {"TQButtonGroup:", "QGroupBox", "", 0},
};

const int kCount = (int)(sizeof kKinds / sizeof kKinds[0]);

QString markerWord(const QString& marker) {
  return marker.endsWith(':') ? marker.chopped(1) : marker;
}

}  // namespace

const StudioKind* studioKinds() {
  return kKinds;
}

int studioKindCount() {
  return kCount;
}

QString studioTagOf(const QString& statusTip) {
  int colon = statusTip.indexOf(':');
  if (colon <= 0 || !statusTip.startsWith("TQ")) return QString();
  return statusTip.left(colon + 1);
}

const StudioKind* studioKindByTag(const QString& tagOrStatusTip) {
  const QString tag = studioTagOf(tagOrStatusTip);
  if (tag.isEmpty()) return nullptr;
  for (const StudioKind& k : kKinds)
    if (tag == QLatin1String(k.tag)) return &k;
  return nullptr;
}

const StudioKind* studioKindByClass(const QString& uiClass) {
  // The first entry of a class wins: QGroupBox is a group box, QWidget a plain widget (page).
  for (const StudioKind& k : kKinds)
    if (uiClass == QLatin1String(k.uiClass)) return &k;
  return nullptr;
}

QString studioAttributeLabel(const StudioKind* k) {
  if (!k) return QString();
  const QString tag = k->tag;
  if (tag == "TQDraw:") return "SVG file played on the drawing";
  if (tag == "TQImage:") return "Image file";
  if (tag == "TQCustomWidget:") return "/library/type:arguments";
  return QString();
}

bool studioHasMarker(const QString& statusTip, const QString& marker) {
  // Markers follow the tag; the tag itself never matches (no tag is a marker's name).
  const QString tag = studioTagOf(statusTip);
  return statusTip.mid(tag.size()).split(':', Qt::SkipEmptyParts).contains(markerWord(marker));
}

QString studioSetMarker(const QString& statusTip, const QString& marker, bool on) {
  const QString tag = studioTagOf(statusTip);
  QStringList parts = statusTip.mid(tag.size()).split(':', Qt::SkipEmptyParts);
  const QString word = markerWord(marker);
  parts.removeAll(word);
  if (on) parts.append(word);
  QString out = tag;
  for (const QString& p : parts)
    out += p + ":";
  return out;
}
