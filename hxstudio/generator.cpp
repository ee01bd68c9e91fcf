// The display server of a project, generated from its .ui masks and its tag table.
#include "generator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QXmlStreamReader>

#include <cmath>

#include "generator_p.h"
#include "ottagtable.h"
#include "studiokinds.h"
#include "uiforeign.h"

namespace {

// Names the generated code uses inside a mask's namespace or calls unqualified: an object of
// such a name would hide or clash with them.
const char* const kReserved[] = {"ID_COUNT",  "show",       "onDefined", "onEvent", "onRefresh",
                                 "kBindings", "defineMask", "m",         "p",       "PARAM_",
                                 "NULL",      "main",       "std"};

const char* const kKeywords[] = {"alignas",      "alignof",
                                 "and",          "and_eq",
                                 "asm",          "auto",
                                 "bitand",       "bitor",
                                 "bool",         "break",
                                 "case",         "catch",
                                 "char",         "char16_t",
                                 "char32_t",     "class",
                                 "compl",        "const",
                                 "constexpr",    "const_cast",
                                 "continue",     "decltype",
                                 "default",      "delete",
                                 "do",           "double",
                                 "dynamic_cast", "else",
                                 "enum",         "explicit",
                                 "export",       "extern",
                                 "false",        "float",
                                 "for",          "friend",
                                 "goto",         "if",
                                 "inline",       "int",
                                 "long",         "mutable",
                                 "namespace",    "new",
                                 "noexcept",     "not",
                                 "not_eq",       "nullptr",
                                 "operator",     "or",
                                 "or_eq",        "private",
                                 "protected",    "public",
                                 "register",     "reinterpret_cast",
                                 "return",       "short",
                                 "signed",       "sizeof",
                                 "static",       "static_assert",
                                 "static_cast",  "struct",
                                 "switch",       "template",
                                 "this",         "thread_local",
                                 "throw",        "true",
                                 "try",          "typedef",
                                 "typeid",       "typename",
                                 "union",        "unsigned",
                                 "using",        "virtual",
                                 "void",         "volatile",
                                 "wchar_t",      "while",
                                 "xor",          "xor_eq",
                                 "final",        "override",
                                 "char8_t",      "concept",
                                 "requires",     "co_await",
                                 "co_return",    "co_yield",
                                 "consteval",    "constinit"};

bool reservedName(const QString& s) {
  static QSet<QString> names;
  if (names.isEmpty()) {
    for (const char* k : kKeywords)
      names.insert(QString::fromLatin1(k));
    for (const char* k : kReserved)
      names.insert(QString::fromLatin1(k));
  }
  if (names.contains(s)) return true;
  // The display-server calls (hx..., g<Upper>...), the runtime (studio..., Studio..., STUDIO_...)
  // and what the implementation reserves (a double underscore).
  if (s.startsWith("hx") || s.startsWith("studio") || s.startsWith("Studio") ||
      s.startsWith("STUDIO_") || s.startsWith("ot") || s.contains("__"))
    return true;
  return s.size() > 1 && s[0] == 'g' && s[1].isUpper();
}

QString identifierOf(const QString& name) {
  QString s;
  for (QChar c : name) {
    ushort u = c.unicode();
    bool ok =
        (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_';
    s += ok ? c : QChar('_');
  }
  while (s.contains("__"))
    s.replace("__", "_");
  if (s.isEmpty() || !(s[0].isLetter())) s.prepend(s.startsWith('_') ? "id" : "id_");
  if (reservedName(s)) s += '_';
  return s;
}

int intProperty(const UiNode& n, const QString& name, int fallback) {
  const UiProperty* p = n.property(name);
  if (p == nullptr) return fallback;
  bool ok = false;
  double v = p->text.trimmed().toDouble(&ok);
  if (!ok || !std::isfinite(v)) return fallback;
  return (int)std::max(-2147483647.0, std::min(2147483647.0, std::nearbyint(v)));
}

int firstInt(const UiNode& n, const QStringList& names, int fallback) {
  for (const QString& name : names)
    if (n.property(name) != nullptr) return intProperty(n, name, fallback);
  return fallback;
}

double doubleProperty(const UiNode& n, const QStringList& names, double fallback, bool* found) {
  for (const QString& name : names) {
    const UiProperty* p = n.property(name);
    if (p == nullptr) continue;
    bool ok = false;
    double v = p->text.trimmed().toDouble(&ok);
    if (ok && std::isfinite(v)) {
      if (found) *found = true;
      return v;
    }
  }
  if (found) *found = false;
  return fallback;
}

bool boolProperty(const UiNode& n, const QString& name, bool fallback) {
  const UiProperty* p = n.property(name);
  return p == nullptr ? fallback : p->text.trimmed() == "true";
}

// The value of an enum property by the last word of its value ("QFrame::Box" -> "Box"),
// looked up in a table of names and values.
int enumProperty(const UiNode& n, const QString& name, const QHash<QString, int>& values,
                 int fallback) {
  const UiProperty* p = n.property(name);
  if (p == nullptr) return fallback;
  QString word = p->text.trimmed();
  word = word.mid(word.lastIndexOf(':') + 1);
  auto it = values.find(word);
  if (it != values.end()) return *it;
  bool ok = false;
  int v = word.toInt(&ok);
  return ok ? v : fallback;
}

int orientation(const UiNode& n, int fallback) {
  static const QHash<QString, int> values = {{"Horizontal", 1}, {"Vertical", 2}};
  return enumProperty(n, "orientation", values, fallback);
}

QString number(double v) {
  QString s = QString::number(v, 'g', 12);
  if (!s.contains('.') && !s.contains('e') && !s.contains("inf") && !s.contains("nan")) s += ".0";
  return s;
}

// The items of a combo box or list widget that Qt Designer wrote as <item> elements.
QStringList itemTexts(const UiNode& n) {
  QStringList items;
  if (n.extraXml.isEmpty()) return items;
  QXmlStreamReader xml("<items>" + n.extraXml + "</items>");
  int depth = 0;
  bool inText = false;
  while (!xml.atEnd()) {
    xml.readNext();
    if (xml.isStartElement()) {
      depth++;
      if (depth == 3 && xml.name() == QLatin1String("property") &&
          xml.attributes().value("name") == QLatin1String("text"))
        inText = true;
      if (depth == 4 && inText && xml.name() == QLatin1String("string"))
        items << xml.readElementText(), depth--;
    } else if (xml.isEndElement()) {
      if (depth == 3) inText = false;
      depth--;
    }
  }
  return items;
}

// "r,g,b" of a palette entry.
bool rgbOf(const QString& value, int rgb[3]) {
  QStringList parts = value.split(',');
  if (parts.size() != 3) return false;
  for (int i = 0; i < 3; i++) {
    bool ok = false;
    rgb[i] = parts[i].trimmed().toInt(&ok);
    if (!ok || rgb[i] < 0 || rgb[i] > 255) return false;
  }
  return true;
}

// The colour of the first palette role of roles that the node's palette sets.
bool paletteColour(const UiNode& n, const QStringList& roles, int rgb[3]) {
  const UiProperty* p = n.property("palette");
  if (p == nullptr) return false;
  for (const QString& role : roles) {
    QString v = p->field(role);
    if (!v.isEmpty() && rgbOf(v, rgb)) return true;
  }
  return false;
}

struct Item {
  const UiNode* node = nullptr;
  int id = 0;
  int parent = 0;
  const Item* parentItem = nullptr;
  QString ident;
  QString tag;  // "TQLabel:"
  const StudioKind* kind = nullptr;
  bool designerFile = false;  // the status tip carries no type tag
};

class MaskWriter {
 public:
  MaskWriter(const UiForm& form, int number, const otTagTable& tags)
      : form_(form), number_(number), tags_(tags) {}

  // Collects the widgets and names their ids; 0, or -1 and *error.
  int name(QString* error);
  int run(QString* header, QString* source, QString* error);
  const std::vector<Item>& items() const { return items_; }

 private:
  int collect(const UiNode& n, int parent, QString* error);
  int emitNode(const Item& it, QString* error);
  void emitCommon(const Item& it);
  int emitBinding(const Item& it, QString* error);
  QString id(const Item& it) const { return it.ident; }
  QString parentId(const Item& it) const { return items_[(size_t)it.parent].ident; }
  void line(const QString& s) { body_ += "  " + s + "\n"; }

  const UiForm& form_;
  int number_;
  const otTagTable& tags_;
  std::vector<Item> items_;
  QString body_, after_, bindings_;
  int bindingCount_ = 0;
};

int MaskWriter::collect(const UiNode& n, int parent, QString* error) {
  Item it;
  it.node = &n;
  it.id = (int)items_.size();
  it.parent = parent;
  QString tag = studioTagOf(n.statusTip());
  it.kind = tag.isEmpty() ? nullptr : studioKindByTag(tag);
  it.designerFile = it.kind == nullptr;
  if (it.kind == nullptr) it.kind = studioKindByClass(n.className);
  if (it.kind == nullptr && it.id == 0) it.kind = studioKindByTag("TQWidget:");
  // A class the client does not have is left out with what it holds (the warnings say so).
  if (it.kind == nullptr) return 0;
  it.tag = QString::fromLatin1(it.kind->tag);
  items_.push_back(it);
  for (const UiNode& c : n.children)
    if (collect(c, it.id, error) < 0) return -1;
  return 0;
}

void MaskWriter::emitCommon(const Item& it) {
  const UiNode& n = *it.node;
  const QString i = id(it);
  const QString& tag = it.tag;
  const QString tip = n.statusTip();
  bool page = it.id > 0 && (items_[(size_t)it.parent].tag == "TQTabWidget:" ||
                            items_[(size_t)it.parent].tag == "TQToolBox:");
  QRect g = n.geometry();
  if (it.id == 0) {
    if (n.property("geometry") != nullptr)
      line(QString("hxResize(p, %1, %2, %3);").arg(i).arg(g.width()).arg(g.height()));
    QString title = n.text("windowTitle");
    if (!title.isEmpty()) line(QString("hxSetText(p, %1, %2);").arg(i, studioCString(title)));
  } else if (!page && n.property("geometry") != nullptr) {
    line(QString("hxSetGeometry(p, %1, %2, %3, %4, %5);")
             .arg(i)
             .arg(g.x())
             .arg(g.y())
             .arg(g.width())
             .arg(g.height()));
  }

  static const QSet<QString> textKinds = {
      "TQLabel:", "TQPushButton:", "TQRadio:", "TQCheck:", "TQLineEdit:"};
  QString text;
  if (textKinds.contains(tag)) text = n.text("text");
  if (tag == "TQMultiLineEdit:" || tag == "TQTextBrowser:")
    text = n.property("plainText") ? n.text("plainText") : n.text("text");
  if (!text.isEmpty()) line(QString("hxSetText(p, %1, %2);").arg(i, studioCString(text)));
  QString toolTip = n.text("toolTip");
  if (!toolTip.isEmpty()) line(QString("hxSetToolTip(p, %1, %2);").arg(i, studioCString(toolTip)));

  // Fonts and colours: a studio file says by its markers which ones the user set; in a file
  // of Qt Designer's, a font or palette that it wrote counts as set.
  bool font = it.designerFile ? n.property("font") != nullptr : studioHasMarker(tip, "font:");
  const UiProperty* f = n.property("font");
  if (font && f != nullptr) {
    QString family = f->field("family");
    if (family.isEmpty()) family = "Sans Serif";
    int size = f->field("pointsize").toInt();
    if (size <= 0) size = 9;
    bool bold = f->field("bold") == "true" || f->field("weight").toInt() > 50;
    bool italic = f->field("italic") == "true";
    line(QString("hxSetFont(p, %1, %2, %3, %4, %5);")
             .arg(i, studioCString(family), QString::number(size), QString::number(bold ? 1 : 0),
                  QString::number(italic ? 1 : 0)));
  }
  bool button = tag == "TQPushButton:";
  QStringList fgRoles = button ? QStringList{"ButtonText", "WindowText", "Text"}
                               : QStringList{"WindowText", "Text", "ButtonText"};
  QStringList bgRoles;
  if (button || tag == "TQRadio:" || tag == "TQCheck:")
    bgRoles = QStringList{"Button", "Window", "Base"};
  else if (tag == "TQMultiLineEdit:" || tag == "TQLineEdit:" || tag == "TQTextBrowser:")
    bgRoles = QStringList{"Base", "Window", "Button"};
  else
    bgRoles = QStringList{"Window", "Base", "Button"};
  bool hasPalette = n.property("palette") != nullptr;
  int rgb[3];
  bool fg = it.designerFile ? hasPalette : studioHasMarker(tip, "foreground:");
  if (fg && paletteColour(n, fgRoles, rgb))
    line(QString("hxSetForegroundColor(p, %1, %2, %3, %4);")
             .arg(i)
             .arg(rgb[0])
             .arg(rgb[1])
             .arg(rgb[2]));
  bool bg = it.designerFile ? hasPalette : studioHasMarker(tip, "background:");
  if (bg && paletteColour(n, bgRoles, rgb))
    line(QString("hxSetBackgroundColor(p, %1, %2, %3, %4);")
             .arg(i)
             .arg(rgb[0])
             .arg(rgb[1])
             .arg(rgb[2]));

  if ((tag == "TQCheck:" || tag == "TQRadio:" || tag == "TQPushButton:") &&
      boolProperty(n, "checked", false))
    line(QString("hxSetChecked(p, %1, 1);").arg(i));
  if (it.id > 0 && !boolProperty(n, "enabled", true))
    line(QString("hxSetEnabled(p, %1, 0);").arg(i));
  if (tag == "TQComboBox:" || tag == "TQListBox:")
    for (const QString& item : itemTexts(n))
      line(QString("hxAddItem(p, %1, %2);").arg(i, studioCString(item)));
  if (page) {
    const UiProperty* a =
        n.attribute(items_[(size_t)it.parent].tag == "TQTabWidget:" ? "title" : "label");
    QString title = a != nullptr ? a->text : n.name;
    line(QString("hxAddTab(p, %1, %2, %3);").arg(parentId(it), i, studioCString(title)));
  }
}

int MaskWriter::emitNode(const Item& it, QString* error) {
  const UiNode& n = *it.node;
  const QString& tag = it.tag;
  const QString i = id(it), par = parentId(it);
  const QString what = n.text("whatsThis").trimmed();
  auto simple = [&](const char* call) { line(QString("%1(p, %2, %3);").arg(call, i, par)); };
  static const QHash<QString, const char*> plain = {{"TQWidget:", "hxQWidget"},
                                                    {"TQLabel:", "hxQLabel"},
                                                    {"TQPushButton:", "hxQPushButton"},
                                                    {"TQRadio:", "hxQRadioButton"},
                                                    {"TQCheck:", "hxQCheckBox"},
                                                    {"TQLineEdit:", "hxQLineEdit"},
                                                    {"TQDateEdit:", "hxQDateEdit"},
                                                    {"TQTimeEdit:", "hxQTimeEdit"},
                                                    {"TQDateTimeEdit:", "hxQDateTimeEdit"},
                                                    {"TQTextBrowser:", "hxQTextBrowser"},
                                                    {"TQListView:", "hxQListView"},
                                                    {"TQListBox:", "hxQListBox"},
                                                    {"TQIconView:", "hxQIconView"},
                                                    {"TQDraw:", "hxQDraw"},
                                                    {"TQGl:", "hxQGL"},
                                                    {"TQVtk:", "hxQVtkTclWidget"},
                                                    {"TQTabWidget:", "hxQTabWidget"},
                                                    {"TQToolBox:", "hxQToolBox"},
                                                    {"TQwtThermo:", "hxQwtThermo"},
                                                    {"TQwtKnob:", "hxQwtKnob"},
                                                    {"TQwtCounter:", "hxQwtCounter"},
                                                    {"TQwtWheel:", "hxQwtWheel"},
                                                    {"TQwtCompass:", "hxQwtCompass"},
                                                    {"TQwtDial:", "hxQwtDial"},
                                                    {"TQwtAnalogClock:", "hxQwtAnalogClock"}};
  static const QHash<QString, int> shapes = {{"NoFrame", 0},    {"Box", 1},   {"Panel", 2},
                                             {"WinPanel", 3},   {"HLine", 4}, {"VLine", 5},
                                             {"StyledPanel", 6}};
  static const QHash<QString, int> shadows = {{"Plain", 16}, {"Raised", 32}, {"Sunken", 48}};
  static const QHash<QString, int> lcdModes = {{"Hex", 0}, {"Dec", 1}, {"Oct", 2}, {"Bin", 3},
                                               {"HEX", 0}, {"DEC", 1}, {"OCT", 2}, {"BIN", 3}};
  static const QHash<QString, int> segments = {{"Outline", 0}, {"Filled", 1}, {"Flat", 2}};
  static const QHash<QString, int> policies = {{"NoInsert", 0},
                                               {"InsertAtTop", 1},
                                               {"InsertAtCurrent", 2},
                                               {"InsertAtBottom", 3},
                                               {"InsertAfterCurrent", 4},
                                               {"InsertBeforeCurrent", 5},
                                               {"InsertAlphabetically", 6}};

  if (it.id == 0) {
    // The mask itself is id 0: it is not constructed.
  } else if (plain.contains(tag)) {
    simple(plain.value(tag));
    if (tag == "TQDraw:" && !what.isEmpty())
      after_ +=
          QString("  if (studioPlaySvg(m, %1, %2) < 0) return -1;\n").arg(i, studioCString(what));
  } else if (tag == "TQSpinBox:") {
    line(QString("hxQSpinBox(p, %1, %2, %3, %4, %5);")
             .arg(i, par)
             .arg(intProperty(n, "minimum", 0))
             .arg(intProperty(n, "maximum", 99))
             .arg(intProperty(n, "singleStep", 1)));
    if (n.property("value"))
      line(QString("hxSetValue(p, %1, %2);").arg(i).arg(intProperty(n, "value", 0)));
  } else if (tag == "TQSlider:") {
    line(QString("hxQSlider(p, %1, %2, %3, %4, %5, %6, %7);")
             .arg(i, par)
             .arg(intProperty(n, "minimum", 0))
             .arg(intProperty(n, "maximum", 99))
             .arg(intProperty(n, "singleStep", 1))
             .arg(intProperty(n, "value", 0))
             .arg(orientation(n, 2)));
  } else if (tag == "TQDial:") {
    line(QString("hxQDial(p, %1, %2, %3, %4, %5, %6);")
             .arg(i, par)
             .arg(intProperty(n, "minimum", 0))
             .arg(intProperty(n, "maximum", 99))
             .arg(intProperty(n, "singleStep", 1))
             .arg(intProperty(n, "value", 0)));
  } else if (tag == "TQProgressBar:") {
    int min = intProperty(n, "minimum", 0), max = intProperty(n, "maximum", 100);
    line(QString("hxQProgressBar(p, %1, %2, %3, %4);")
             .arg(i, par)
             .arg(max > min ? max - min : 100)
             .arg(orientation(n, 1)));
    if (n.property("value"))
      line(QString("hxSetValue(p, %1, %2);").arg(i).arg(intProperty(n, "value", 0)));
  } else if (tag == "TQLCDNumber:") {
    line(QString("hxQLCDNumber(p, %1, %2, %3, %4, %5);")
             .arg(i, par)
             .arg(firstInt(n, {"digitCount", "numDigits"}, 5))
             .arg(enumProperty(n, "segmentStyle", segments, 1))
             .arg(enumProperty(n, "mode", lcdModes, 1)));
  } else if (tag == "TQComboBox:") {
    line(QString("hxQComboBox(p, %1, %2, %3, %4);")
             .arg(i, par)
             .arg(boolProperty(n, "editable", false) ? 1 : 0)
             .arg(enumProperty(n, "insertPolicy", policies, 3)));
  } else if (tag == "TQGroupBox:" || tag == "TQButtonGroup:") {
    line(QString("%1(p, %2, %3, 1, 1, %4);")
             .arg(tag == "TQGroupBox:" ? "hxQGroupBox" : "hxQButtonGroup", i, par,
                  studioCString(n.text("title"))));
  } else if (tag == "TQFrame:") {
    line(QString("hxQFrame(p, %1, %2, %3, %4, %5, %6);")
             .arg(i, par)
             .arg(enumProperty(n, "frameShape", shapes, 0))
             .arg(enumProperty(n, "frameShadow", shadows, 16))
             .arg(intProperty(n, "lineWidth", 1))
             .arg(intProperty(n, "margin", 0)));
  } else if (tag == "TQTable:") {
    line(QString("hxQTable(p, %1, %2, %3, %4);")
             .arg(i, par)
             .arg(firstInt(n, {"rowCount", "numRows"}, 0))
             .arg(firstInt(n, {"columnCount", "numCols"}, 0)));
  } else if (tag == "TQMultiLineEdit:") {
    int editable = n.property("readOnly")
                       ? (boolProperty(n, "readOnly", false) ? 0 : 1)
                       : (n.property("editable") ? intProperty(n, "editable", 1) : 1);
    int maxLines = n.property("maximumBlockCount") ? intProperty(n, "maximumBlockCount", 0)
                                                   : intProperty(n, "maxLines", -1);
    if (maxLines == 0) maxLines = -1;  // Qt's 0: no limit
    line(QString("hxQMultiLineEdit(p, %1, %2, %3, %4);")
             .arg(i, par)
             .arg(editable ? 1 : 0)
             .arg(maxLines));
  } else if (tag == "TQImage:") {
    line(
        QString("if (studioImage(m, %1, %2, %3) < 0) return -1;").arg(i, par, studioCString(what)));
  } else if (tag == "TQwtPlotWidget:") {
    // As the studio shows it: 10 curves, 1000 markers.
    line(QString("hxQwtPlot(p, %1, %2, 10, 1000);").arg(i, par));
  } else if (tag == "TQwtSlider:") {
    line(QString("hxQwtSlider(p, %1, %2, %3);").arg(i, par).arg(orientation(n, 2)));
  } else if (tag == "TQCustomWidget:") {
    // No display-server call builds a widget of a client-side library: an honest placeholder.
    QString widgetType = what.isEmpty() ? QString("(no library or type given)") : what;
    line(
        QString("if (studioPlaceholder(m, %1, %2, %3, %4) < 0) return -1;")
            .arg(i, par, studioCString("custom widget " + widgetType + ": not available"),
                 studioCString(
                     QString(
                         "custom widget %1 (%2) has no display-server call: shown as a placeholder")
                         .arg(n.name, widgetType))));
  } else {
    *error = QString("widget \"%1\" (%2): no display-server widget for this kind").arg(n.name, tag);
    return -1;
  }

  // Ranges and values of the Qwt widgets, where the file gives them.
  if (tag.startsWith("TQwt") && tag != "TQwtPlotWidget:" && tag != "TQwtAnalogClock:") {
    bool haveMin = false, haveMax = false, haveValue = false;
    double min = doubleProperty(n, {"lowerBound", "minimum", "minValue"}, 0, &haveMin);
    double max = doubleProperty(n, {"upperBound", "maximum", "maxValue"}, 100, &haveMax);
    double step = doubleProperty(n, {"singleStep", "scaleStepSize", "step"}, 1, nullptr);
    if (step <= 0) step = 1;
    if ((haveMin || haveMax) && max > min)
      line(
          QString("hxSetRange(p, %1, %2, %3, %4);").arg(i, number(min), number(max), number(step)));
    double value = doubleProperty(n, {"value"}, 0, &haveValue);
    if (haveValue) line(QString("hxSetFloat(p, %1, %2);").arg(i, number(value)));
  }
  emitCommon(it);
  return emitBinding(it, error);
}

int MaskWriter::emitBinding(const Item& it, QString* error) {
  const UiNode& n = *it.node;
  const UiProperty* b = n.property(STUDIO_TAG_PROPERTY);
  QString tagName = b != nullptr ? b->text.trimmed() : QString();
  if (tagName.isEmpty()) return 0;
  const QString& kind = it.tag;
  if (it.kind->binding == 0) {
    *error = QString("widget \"%1\" (%2) cannot show or write a tag, yet it is bound to %3")
                 .arg(n.name, kind, tagName);
    return -1;
  }
  const otTag* tag = nullptr;
  for (const otTag& t : tags_.tags)
    if (QString::fromStdString(t.name) == tagName) tag = &t;
  if (tag == nullptr) {
    *error = QString("widget \"%1\" is bound to tag %2, which the tag table does not have")
                 .arg(n.name, tagName);
    return -1;
  }
  static const QHash<QString, const char*> shows = {
      {"TQLabel:", "STUDIO_SHOW_TEXT"},         {"TQLineEdit:", "STUDIO_SHOW_TEXT"},
      {"TQMultiLineEdit:", "STUDIO_SHOW_TEXT"}, {"TQTextBrowser:", "STUDIO_SHOW_TEXT"},
      {"TQLCDNumber:", "STUDIO_SHOW_LCD"},      {"TQProgressBar:", "STUDIO_SHOW_INT"},
      {"TQSlider:", "STUDIO_SHOW_INT"},         {"TQDial:", "STUDIO_SHOW_INT"},
      {"TQSpinBox:", "STUDIO_SHOW_INT"},        {"TQCheck:", "STUDIO_SHOW_CHECK"},
      {"TQRadio:", "STUDIO_SHOW_CHECK"},        {"TQPushButton:", "STUDIO_SHOW_CHECK"}};
  static const QHash<QString, const char*> writes = {
      {"TQSlider:", "STUDIO_WRITE_SLIDER"},    {"TQDial:", "STUDIO_WRITE_SLIDER"},
      {"TQSpinBox:", "STUDIO_WRITE_SLIDER"},   {"TQwtKnob:", "STUDIO_WRITE_SLIDER"},
      {"TQwtWheel:", "STUDIO_WRITE_SLIDER"},   {"TQwtSlider:", "STUDIO_WRITE_SLIDER"},
      {"TQwtCounter:", "STUDIO_WRITE_SLIDER"}, {"TQwtDial:", "STUDIO_WRITE_SLIDER"},
      {"TQwtCompass:", "STUDIO_WRITE_SLIDER"}, {"TQPushButton:", "STUDIO_WRITE_BUTTON"},
      {"TQCheck:", "STUDIO_WRITE_CHECK"},      {"TQRadio:", "STUDIO_WRITE_CHECK"},
      {"TQLineEdit:", "STUDIO_WRITE_NUMBER"}};
  const char* show = "STUDIO_SHOW_NONE";
  const char* write = "STUDIO_WRITE_NONE";
  if (it.kind->binding & 1) {
    // A push button shows a bit as its checked state; another tag it only writes.
    bool buttonOfBit = kind != "TQPushButton:" || tag->type == otTag::BIT;
    if (shows.contains(kind) && buttonOfBit)
      show = shows.value(kind);
    else if (kind.startsWith("TQwt"))
      show = "STUDIO_SHOW_FLOAT";
  }
  if (it.kind->binding & 2) {
    if (!tag->writable() && !(it.kind->binding & 1)) {
      *error = QString("widget \"%1\" (%2) writes tag %3, which is read only")
                   .arg(n.name, kind, tagName);
      return -1;
    }
    // A widget that shows and writes, bound to a read-only tag, only shows it.
    if (tag->writable() && writes.contains(kind)) write = writes.value(kind);
  }
  if (QString(show) == "STUDIO_SHOW_NONE" && QString(write) == "STUDIO_WRITE_NONE") {
    *error = QString("widget \"%1\" (%2) cannot be bound to tag %3").arg(n.name, kind, tagName);
    return -1;
  }
  bindings_ += QString("    {%1, %2, %3, %4},\n").arg(id(it), studioCString(tagName), show, write);
  bindingCount_++;
  return 0;
}

int MaskWriter::name(QString* error) {
  if (collect(form_.root, 0, error) < 0) return -1;
  // Two widgets of one name are a fault of the file (the ids enum would be ambiguous, and
  // Qt Designer refuses them too); names that are merely not identifiers are mended.
  QHash<QString, int> seen;
  QStringList names;
  for (const Item& it : items_) {
    const QString& name = it.node->name;
    if (!name.isEmpty() && seen.contains(name)) {
      *error = QString("two widgets are named \"%1\" (ids %2 and %3)")
                   .arg(name, QString::number(seen.value(name)), QString::number(it.id));
      return -1;
    }
    seen.insert(name, it.id);
    names << (name.isEmpty() ? QString("unnamed_%1").arg(it.id) : name);
  }
  QStringList idents = studioIdentifiers(names);
  for (size_t k = 0; k < items_.size(); k++)
    items_[k].ident = idents[(int)k];
  return 0;
}

int MaskWriter::run(QString* header, QString* source, QString* error) {
  if (name(error) < 0) return -1;
  for (const Item& it : items_)
    if (emitNode(it, error) < 0) return -1;

  const QString ns = QString("mask%1").arg(number_);
  const QString guard = ns.toUpper() + "_GENERATED_H";
  QString h;
  h += QString(
           "// %1: generated by hxstudio from %1.ui. Rewritten on every generation: do not\n"
           "// edit; the mask's own code goes into %1_events.cpp.\n")
           .arg(ns);
  h += "#ifndef " + guard + "\n#define " + guard + "\n\n#include \"studio_generated.h\"\n\n";
  h += "namespace " + ns + " {\n\n";
  h += "// The widget ids, named after the object names (0 is the mask itself).\n";
  h += "enum Id : int {\n";
  for (const Item& it : items_) {
    QString comment;
    if (it.ident != it.node->name) comment = "  // object " + studioCString(it.node->name);
    h += QString("  %1 = %2,%3\n").arg(it.ident).arg(it.id).arg(comment);
  }
  h += QString("  ID_COUNT = %1\n};\n\n").arg(items_.size());
  h += "// The mask: defines it and runs its event loop. The number of the next mask, or -1.\n";
  h += "int show(PARAM_* p);\n\n";
  h += "// The hooks in " + ns + "_events.cpp (yours): after the definition; every event that is\n";
  h +=
      "// not idle, after the bound widgets' writes were posted (return 0 to stay, the number of\n";
  h += "// another mask to show it, -1 to end the connection); after every refresh.\n";
  h += "void onDefined(StudioMask& m);\n";
  h += "int onEvent(StudioMask& m, int kind, int id, const char* text);\n";
  h += "void onRefresh(StudioMask& m);\n\n";
  h += "}  // namespace " + ns + "\n\n#endif\n";

  QString s;
  s += QString(
           "// %1: generated by hxstudio from %1.ui. Rewritten on every generation: do not edit.\n")
           .arg(ns);
  s += "#include \"" + ns + "_generated.h\"\n\n";
  s += "namespace " + ns + " {\nnamespace {\n\n";
  if (bindingCount_ > 0) s += "const StudioBinding kBindings[] = {\n" + bindings_ + "};\n\n";
  s += "int defineMask(StudioMask& m) {\n";
  s += "  PARAM_* p = m.p;\n";
  s += "  if (hxStartDefinition(p, ID_COUNT) < 0) return -1;\n";
  s += body_;
  s += "  if (hxEndDefinition(p) < 0) return -1;\n";
  s += after_;
  s += "  return p->stop.load() ? -1 : 0;\n}\n\n";
  s += "}  // namespace\n\n";
  s += "int show(PARAM_* p) {\n";
  s +=
      QString("  return studioRunMask(p, %1, %2, %3, defineMask, onDefined, onEvent, onRefresh);\n")
          .arg(number_)
          .arg(bindingCount_ > 0 ? "kBindings" : "nullptr")
          .arg(bindingCount_);
  s += "}\n\n}  // namespace " + ns + "\n";
  *header = h;
  *source = s;
  return 0;
}

QString eventsFile(int number) {
  const QString ns = QString("mask%1").arg(number);
  return QString(
             "// The code of %1 (yours: hxstudio created this file once and never changes it).\n"
             "// The ids of the widgets are in %1_generated.h; m.tags is the tag image\n"
             "// (studioRead and studioWrite take tags by name), m.p the connection.\n"
             "#include \"%1_generated.h\"\n\n"
             "namespace %1 {\n\n"
             "// Once the mask is defined, before its first refresh.\n"
             "void onDefined(StudioMask& m) {\n  (void)m;\n}\n\n"
             "// Every event but idle ones (the kinds of hxserver.h), after the writes of the "
             "bound\n"
             "// widgets were posted. 0 stays in this mask, the number of another mask shows it, "
             "-1\n"
             "// ends the connection.\n"
             "int onEvent(StudioMask& m, int kind, int id, const char* text) {\n"
             "  (void)m;\n  (void)kind;\n  (void)id;\n  (void)text;\n  return 0;\n}\n\n"
             "// After every refresh of the bound widgets.\n"
             "void onRefresh(StudioMask& m) {\n  (void)m;\n}\n\n"
             "}  // namespace %1\n")
      .arg(ns);
}

QString mainFile(const QString& name, const QVector<int>& numbers) {
  int count = 1;
  for (int n : numbers)
    count = std::max(count, n + 1);
  QString s = "// The display server " + name +
              ": generated by hxstudio. Rewritten on every generation: do not edit.\n";
  for (int n : numbers)
    s += QString("#include \"mask%1_generated.h\"\n").arg(n);
  if (numbers.isEmpty()) s += "#include \"studio_generated.h\"\n";
  s += "\n#ifndef STUDIO_PROJECT_DIR\n#define STUDIO_PROJECT_DIR \".\"\n#endif\n\n";
  s += "int main(int argc, char** argv) {\n";
  s += QString("  static int (*const masks[%1])(PARAM_*) = {\n      nullptr").arg(count);
  for (int k = 1; k < count; k++)
    s +=
        numbers.contains(k) ? QString(",\n      mask%1::show").arg(k) : QString(",\n      nullptr");
  s += "};\n";
  s += QString("  return studioMain(argc, argv, %1, STUDIO_PROJECT_DIR, masks, %2);\n}\n")
           .arg(studioCString(name))
           .arg(count);
  return s;
}

QString cmakeFile(const QString& program, const QVector<int>& numbers) {
  QString sources = "main_generated.cpp studio_generated.cpp";
  for (int n : numbers)
    sources += QString("\n  mask%1_generated.cpp mask%1_events.cpp").arg(n);
  return QString(
             "# The display server %1: generated by hxstudio. Rewritten on every generation.\n"
             "cmake_minimum_required(VERSION 3.16)\n"
             "project(%1 LANGUAGES CXX)\n\n"
             "set(CMAKE_CXX_STANDARD 17)\n"
             "set(CMAKE_CXX_STANDARD_REQUIRED ON)\n"
             "find_package(PkgConfig REQUIRED)\n"
             "pkg_check_modules(OTSERVER REQUIRED IMPORTED_TARGET otserver otkit)\n\n"
             "add_executable(%1 %2)\n"
             "target_link_libraries(%1 PRIVATE PkgConfig::OTSERVER)\n"
             "target_compile_options(%1 PRIVATE -Wall -Wextra)\n"
             "# The tag table and the mask's files are found in this folder unless the options "
             "say.\n"
             "target_compile_definitions(%1 PRIVATE "
             "STUDIO_PROJECT_DIR=\"${CMAKE_CURRENT_SOURCE_DIR}\")\n")
      .arg(program, sources);
}

// Writes text unless the file holds it already. 0 written or unchanged, -1.
int writeIfChanged(const QString& path, const QString& text, QString* error) {
  QByteArray bytes = text.toUtf8();
  QFile old(path);
  if (old.open(QIODevice::ReadOnly) && old.readAll() == bytes) return 0;
  old.close();
  QSaveFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
    *error = path + ": " + f.errorString();
    return -1;
  }
  return 0;
}

}  // namespace

QString studioEventsFile(int number) {
  return eventsFile(number);
}

QString studioProgramName(const StudioProject& p) {
  QString s;
  for (QChar c : p.name())
    s += (c.isLetterOrNumber() && c.unicode() < 128) || c == '_' || c == '-' ? c : QChar('_');
  return s.isEmpty() || s.startsWith('-') ? "server" + s : s;
}

QString studioCString(const QString& text) {
  QByteArray utf8 = text.toUtf8();
  QString out = "\"";
  for (char ch : utf8) {
    unsigned char c = (unsigned char)ch;
    if (c == '"' || c == '\\' || c == '?') {
      out += '\\';
      out += QChar(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7f) {
      out += QString("\\%1").arg((int)c, 3, 8, QChar('0'));
    } else if (c < 0x80) {
      out += QChar(c);
    } else {
      // Octal escapes keep the literal ASCII whatever the source encoding is taken for.
      out += QString("\\%1").arg((int)c, 3, 8, QChar('0'));
    }
  }
  return out + "\"";
}

QStringList studioIdentifiers(const QStringList& objectNames) {
  QStringList out;
  QSet<QString> taken;
  // Names that are identifiers already keep their spelling; mended ones give way to them.
  for (const QString& n : objectNames)
    if (identifierOf(n) == n) taken.insert(n);
  QSet<QString> used;
  for (const QString& n : objectNames) {
    QString base = identifierOf(n), s = base;
    bool original = base == n && !used.contains(n);
    for (int k = 2; !original && (used.contains(s) || taken.contains(s)); k++)
      s = base.endsWith('_') ? base + QString::number(k) : QString("%1_%2").arg(base).arg(k);
    used.insert(s);
    out << s;
  }
  return out;
}

int studioGenerateMask(const UiForm& form, int maskNumber, const otTagTable& tags, QString* header,
                       QString* source, QString* error, QStringList* warnings) {
  QString dummy;
  if (error == nullptr) error = &dummy;
  if (header == nullptr || source == nullptr || maskNumber < 1) {
    *error = "bad arguments";
    return -1;
  }
  UiForm adopted = form;
  uiAdoptDesignerClasses(&adopted.root);
  if (warnings)
    for (const UiForeign& f : uiForeignWidgets(adopted.root))
      *warnings << f.text();
  MaskWriter w(adopted, maskNumber, tags);
  return w.run(header, source, error);
}

QMap<QString, QString> studioMaskIdentifiers(const UiForm& form) {
  UiForm adopted = form;
  uiAdoptDesignerClasses(&adopted.root);
  const otTagTable none;
  MaskWriter w(adopted, 1, none);
  QString error;
  QMap<QString, QString> out;
  if (w.name(&error) < 0) return out;
  for (const Item& it : w.items())
    out.insert(it.node->name, it.ident);
  return out;
}

int studioGenerate(const StudioProject& p, QString* error, QVector<StudioBuildMessage>* warnings) {
  QString dummy;
  if (error == nullptr) error = &dummy;
  otTagTable table;
  if (QFileInfo::exists(p.tagsPath())) {
    std::string e;
    if (table.read(QFile::encodeName(p.tagsPath()).constData(), &e) != 0) {
      *error = "tags.txt: " + QString::fromStdString(e);
      return -1;
    }
  }
  QVector<int> numbers;
  static const QRegularExpression maskName("^mask([1-9][0-9]{0,5})\\.ui$");
  for (const QString& file : p.masks) {
    QRegularExpressionMatch m = maskName.match(file);
    if (!m.hasMatch()) continue;
    int n = m.captured(1).toInt();
    UiForm form;
    QString e;
    if (uiLoad(p.path(file), &form, &e) != 0) {
      *error = file + ": " + e;
      return -1;
    }
    QString h, s;
    QStringList said;
    if (studioGenerateMask(form, n, table, &h, &s, &e, &said) != 0) {
      *error = file + ": " + e;
      return -1;
    }
    for (const QString& text : said)
      if (warnings) warnings->append({p.path(file), 0, 0, "warning", text});
    QString base = QString("mask%1").arg(n);
    if (writeIfChanged(p.path(base + "_generated.h"), h, error) < 0 ||
        writeIfChanged(p.path(base + "_generated.cpp"), s, error) < 0)
      return -1;
    // The user's file: made once, never touched again.
    if (!QFileInfo::exists(p.path(base + "_events.cpp")) &&
        writeIfChanged(p.path(base + "_events.cpp"), eventsFile(n), error) < 0)
      return -1;
    numbers << n;
  }
  if (numbers.isEmpty()) {
    *error = "the project has no mask";
    return -1;
  }
  QString program = studioProgramName(p);
  if (writeIfChanged(p.path("studio_generated.h"), studioRuntimeHeader(), error) < 0 ||
      writeIfChanged(p.path("studio_generated.cpp"), studioRuntimeSource(), error) < 0 ||
      writeIfChanged(p.path("main_generated.cpp"), mainFile(program, numbers), error) < 0 ||
      writeIfChanged(p.path("CMakeLists.txt"), cmakeFile(program, numbers), error) < 0)
    return -1;
  return 0;
}
