#include "uiform.h"

#include <QFile>
#include <QSaveFile>
#include <QSet>
#include <QXmlStreamReader>

#include "studiokinds.h"

namespace {

// A form of more widgets or deeper nesting than this is refused rather than read without end.
const int kMaxDepth = 64;
const int kMaxWidgets = 200000;
const qint64 kMaxFileBytes = 64LL * 1024 * 1024;

const char* const kScalarTypes[] = {"string", "number", "double", "bool", "enum", "set", "cstring"};

bool isScalar(const QString& type) {
  for (const char* t : kScalarTypes)
    if (type == QLatin1String(t)) return true;
  return false;
}

class Reader {
 public:
  explicit Reader(const QString& text) : text_(text), xml_(text) {}

  int form(UiForm* out, QString* error) {
    *out = UiForm();
    if (!next() || !xml_.isStartElement() || xml_.name() != QLatin1String("ui"))
      return fail("not a Qt Designer form (no <ui> element)", error);
    bool haveWidget = false;
    while (next()) {
      if (xml_.isEndElement()) break;
      if (!xml_.isStartElement()) continue;
      const QStringRef name = xml_.name();
      if (name == QLatin1String("class")) {
        out->formClass = xml_.readElementText();
      } else if (name == QLatin1String("widget") && !haveWidget) {
        if (!widget(&out->root, 0)) return fail(problem_, error);
        haveWidget = true;
      } else if (name == QLatin1String("customwidgets")) {
        customWidgets(out);
      } else if ((name == QLatin1String("resources") || name == QLatin1String("connections")) &&
                 emptyElement()) {
        // written by uiFormat itself
      } else {
        out->extraXml += raw();
      }
      if (!problem_.isEmpty()) return fail(problem_, error);
    }
    if (xml_.hasError()) return fail(xml_.errorString(), error);
    if (!haveWidget) return fail("the form has no widget", error);
    return 0;
  }

 private:
  bool next() {
    start_ = (int)xml_.characterOffset();
    xml_.readNext();
    while (!xml_.atEnd() && !xml_.hasError() && !xml_.isStartElement() && !xml_.isEndElement()) {
      start_ = (int)xml_.characterOffset();
      xml_.readNext();
    }
    return !xml_.atEnd() && !xml_.hasError();
  }

  int fail(const QString& why, QString* error) {
    if (error)
      *error = xml_.lineNumber() > 0 ? QString("line %1: %2").arg(xml_.lineNumber()).arg(why) : why;
    return -1;
  }

  // The current element's XML text, as it stands in the file; the reader moves past it.
  QString raw() {
    // The reader's offset runs up to a character ahead of a token: the element starts at the
    // last '<' at or before it.
    const int from = start_ < text_.size() ? text_.lastIndexOf('<', start_) : -1;
    xml_.skipCurrentElement();
    const int end = (int)xml_.characterOffset();
    if (from < 0 || end <= from || text_.at(from) != '<') return QString();
    return text_.mid(from, end - from);
  }

  // Whether the current element holds nothing but white space (and consumes it).
  bool emptyElement() {
    while (!xml_.atEnd()) {
      xml_.readNext();
      if (xml_.isEndElement()) return true;
      if (xml_.isStartElement() || (xml_.isCharacters() && !xml_.isWhitespace())) {
        problem_ = "unexpected content in <" + xml_.name().toString() + ">";
        return true;
      }
    }
    return true;
  }

  void customWidgets(UiForm* out) {
    while (next() && !xml_.isEndElement()) {
      if (xml_.name() != QLatin1String("customwidget")) {
        xml_.skipCurrentElement();
        continue;
      }
      UiCustomWidget c;
      while (next() && !xml_.isEndElement()) {
        const QString n = xml_.name().toString();
        const QString v = xml_.readElementText(QXmlStreamReader::IncludeChildElements);
        if (n == "class")
          c.className = v;
        else if (n == "extends")
          c.extends = v;
        else if (n == "header")
          c.header = v;
      }
      out->customWidgets.append(c);
    }
  }

  bool widget(UiNode* n, int depth) {
    if (depth > kMaxDepth) return bad("widgets nested deeper than 64");
    if (++widgets_ > kMaxWidgets) return bad("more than 200000 widgets");
    const QXmlStreamAttributes a = xml_.attributes();
    n->className = a.value("class").toString();
    n->name = a.value("name").toString();
    if (n->className.isEmpty()) return bad("a widget without a class");
    while (next()) {
      if (xml_.isEndElement()) return true;
      const QStringRef name = xml_.name();
      if (name == QLatin1String("property") || name == QLatin1String("attribute")) {
        const bool isAttribute = name == QLatin1String("attribute");
        UiProperty p;
        if (!property(&p)) return false;
        (isAttribute ? n->attributes : n->properties).append(p);
      } else if (name == QLatin1String("widget")) {
        n->children.append(UiNode());
        if (!widget(&n->children.last(), depth + 1)) return false;
      } else {
        n->extraXml += raw();
      }
    }
    return bad(xml_.hasError() ? xml_.errorString() : QString("unexpected end of the form"));
  }

  bool bad(const QString& why) {
    if (problem_.isEmpty()) problem_ = why;
    return false;
  }

  bool property(UiProperty* p) {
    const QXmlStreamAttributes a = xml_.attributes();
    p->name = a.value("name").toString();
    if (p->name.isEmpty()) return bad("a property without a name");
    p->stdset = a.value("stdset") != QLatin1String("0");
    bool haveValue = false;
    while (next()) {
      if (xml_.isEndElement()) {
        if (!haveValue) {
          p->type = "string";
          p->text.clear();
        }
        return true;
      }
      if (haveValue) {
        xml_.skipCurrentElement();
        continue;
      }
      haveValue = true;
      p->type = xml_.name().toString();
      if (p->type == "string") {
        for (const QXmlStreamAttribute& sa : xml_.attributes())
          p->fields.append({sa.name().toString(), sa.value().toString()});
        p->text = xml_.readElementText();
      } else if (isScalar(p->type)) {
        p->text = xml_.readElementText();
      } else if (p->type == "rect" || p->type == "size" || p->type == "font" ||
                 p->type == "color") {
        while (next() && !xml_.isEndElement())
          p->fields.append(
              {xml_.name().toString(), xml_.readElementText(QXmlStreamReader::SkipChildElements)});
      } else if (p->type == "palette") {
        if (!palette(p)) return false;
      } else {
        p->type = "raw";
        p->raw = raw();
      }
      if (xml_.hasError()) return bad(xml_.errorString());
    }
    return bad("unexpected end of a property");
  }

  // The active group's colour roles; the other groups are written again from it.
  bool palette(UiProperty* p) {
    while (next() && !xml_.isEndElement()) {
      const bool active = xml_.name() == QLatin1String("active");
      while (next() && !xml_.isEndElement()) {
        const QString role = xml_.attributes().value("role").toString();
        int rgb[3] = {0, 0, 0};
        bool found = false;
        // colorrole > brush > color > red, green, blue
        int level = 1;
        while (level > 0 && next()) {
          if (xml_.isEndElement()) {
            level--;
            continue;
          }
          const QStringRef n = xml_.name();
          int k = n == QLatin1String("red")     ? 0
                  : n == QLatin1String("green") ? 1
                  : n == QLatin1String("blue")  ? 2
                                                : -1;
          if (k >= 0) {
            rgb[k] = xml_.readElementText().toInt();
            found = true;
          } else {
            level++;
          }
        }
        if (active && found && !role.isEmpty())
          p->fields.append({role, QString("%1,%2,%3").arg(rgb[0]).arg(rgb[1]).arg(rgb[2])});
      }
    }
    return !xml_.hasError() || bad(xml_.errorString());
  }

  const QString& text_;
  QXmlStreamReader xml_;
  int start_ = 0;
  int widgets_ = 0;
  QString problem_;
};

// Writes with the indentation Qt Designer uses: one blank per level.
class Writer {
 public:
  QString out;

  void line(int depth, const QString& s) {
    out.append(QString(depth, ' '));
    out.append(s);
    out.append('\n');
  }

  static QString esc(const QString& s) {
    QString r;
    r.reserve(s.size() + 8);
    for (QChar c : s) {
      switch (c.unicode()) {
        case '&':
          r += "&amp;";
          break;
        case '<':
          r += "&lt;";
          break;
        case '>':
          r += "&gt;";
          break;
        case '"':
          r += "&quot;";
          break;
        default:
          r += c;
      }
    }
    return r;
  }

  void element(int depth, const QString& name, const QString& text) {
    line(depth, "<" + name + ">" + esc(text) + "</" + name + ">");
  }

  void colorElement(int depth, const QString& rgb) {
    const QStringList c = rgb.split(',');
    line(depth, "<color alpha=\"255\">");
    element(depth + 1, "red", c.value(0));
    element(depth + 1, "green", c.value(1));
    element(depth + 1, "blue", c.value(2));
    line(depth, "</color>");
  }

  void property(int depth, const char* tag, const UiProperty& p) {
    QString open = QString("<%1 name=\"%2\"").arg(tag, esc(p.name));
    if (!p.stdset) open += " stdset=\"0\"";
    line(depth, open + ">");
    const int d = depth + 1;
    if (p.type == "string") {
      QString attrs;
      for (const auto& f : p.fields)
        attrs += QString(" %1=\"%2\"").arg(f.first, esc(f.second));
      line(d, "<string" + attrs + ">" + esc(p.text) + "</string>");
    } else if (isScalar(p.type)) {
      element(d, p.type, p.text);
    } else if (p.type == "rect" || p.type == "size" || p.type == "font" || p.type == "color") {
      line(d, "<" + p.type + ">");
      for (const auto& f : p.fields)
        element(d + 1, f.first, f.second);
      line(d, "</" + p.type + ">");
    } else if (p.type == "palette") {
      line(d, "<palette>");
      for (const char* group : {"active", "inactive", "disabled"}) {
        line(d + 1, QString("<%1>").arg(group));
        for (const auto& f : p.fields) {
          line(d + 2, "<colorrole role=\"" + esc(f.first) + "\">");
          line(d + 3, "<brush brushstyle=\"SolidPattern\">");
          colorElement(d + 4, f.second);
          line(d + 3, "</brush>");
          line(d + 2, "</colorrole>");
        }
        line(d + 1, QString("</%1>").arg(group));
      }
      line(d, "</palette>");
    } else {
      line(d, p.raw);
    }
    line(depth, QString("</%1>").arg(tag));
  }

  void widget(int depth, const UiNode& n) {
    line(depth, QString("<widget class=\"%1\" name=\"%2\">").arg(esc(n.className), esc(n.name)));
    for (const UiProperty& p : n.properties)
      property(depth + 1, "property", p);
    for (const UiProperty& p : n.attributes)
      property(depth + 1, "attribute", p);
    if (!n.extraXml.isEmpty()) line(depth + 1, n.extraXml);
    for (const UiNode& c : n.children)
      widget(depth + 1, c);
    line(depth, "</widget>");
  }
};

void classesInUse(const UiNode& n, QStringList* out, QSet<QString>* seen) {
  if (!seen->contains(n.className)) {
    seen->insert(n.className);
    out->append(n.className);
  }
  for (const UiNode& c : n.children)
    classesInUse(c, out, seen);
}

QString extendsOf(const QString& cls) {
  if (cls.startsWith("Hxc")) return "QLabel";
  if (cls == "QwtPlot") return "QFrame";
  if (cls == "QwtCompass" || cls == "QwtAnalogClock") return "QwtDial";
  return "QWidget";
}

}  // namespace

QString UiProperty::field(const QString& key) const {
  for (const auto& f : fields)
    if (f.first == key) return f.second;
  return QString();
}

void UiProperty::setField(const QString& key, const QString& value) {
  for (auto& f : fields)
    if (f.first == key) {
      f.second = value;
      return;
    }
  fields.append({key, value});
}

bool UiProperty::operator==(const UiProperty& o) const {
  return name == o.name && type == o.type && text == o.text && fields == o.fields &&
         stdset == o.stdset && raw == o.raw;
}

const UiProperty* UiNode::property(const QString& n) const {
  for (const UiProperty& p : properties)
    if (p.name == n) return &p;
  return nullptr;
}

const UiProperty* UiNode::attribute(const QString& n) const {
  for (const UiProperty& p : attributes)
    if (p.name == n) return &p;
  return nullptr;
}

void UiNode::setProperty(const UiProperty& p) {
  for (UiProperty& q : properties)
    if (q.name == p.name) {
      q = p;
      return;
    }
  properties.append(p);
}

void UiNode::removeProperty(const QString& n) {
  for (int i = 0; i < properties.size(); i++)
    if (properties[i].name == n) {
      properties.remove(i);
      return;
    }
}

QString UiNode::text(const QString& propertyName) const {
  const UiProperty* p = property(propertyName);
  return p ? p->text : QString();
}

QRect UiNode::geometry() const {
  const UiProperty* p = property("geometry");
  if (!p || p->type != "rect") return QRect();
  return QRect(p->field("x").toInt(), p->field("y").toInt(), p->field("width").toInt(),
               p->field("height").toInt());
}

bool UiNode::operator==(const UiNode& o) const {
  return className == o.className && name == o.name && properties == o.properties &&
         attributes == o.attributes && children == o.children && extraXml == o.extraXml;
}

int uiParse(const QByteArray& xml, UiForm* out, QString* error) {
  const QString text = QString::fromUtf8(xml);
  Reader r(text);
  return r.form(out, error);
}

int uiLoad(const QString& path, UiForm* out, QString* error) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) {
    if (error) *error = path + ": " + f.errorString();
    return -1;
  }
  if (f.size() > kMaxFileBytes) {
    if (error) *error = path + ": larger than 64 MiB";
    return -1;
  }
  QString why;
  if (uiParse(f.readAll(), out, &why) < 0) {
    if (error) *error = path + ": " + why;
    return -1;
  }
  return 0;
}

QByteArray uiFormat(const UiForm& f) {
  Writer w;
  w.out.reserve(4096);
  w.line(0, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
  w.line(0, "<ui version=\"4.0\">");
  w.element(1, "class", f.formClass);
  w.widget(1, f.root);
  // The custom classes in use: ours from the kind table, others as the file named them.
  QStringList classes;
  QSet<QString> seen;
  classesInUse(f.root, &classes, &seen);
  QVector<UiCustomWidget> custom;
  for (const QString& c : classes) {
    const StudioKind* k = studioKindByClass(c);
    if (k && *k->header) {
      custom.append({c, extendsOf(c), k->header});
      continue;
    }
    for (const UiCustomWidget& cw : f.customWidgets)
      if (cw.className == c) custom.append(cw);
  }
  if (!custom.isEmpty()) {
    w.line(1, "<customwidgets>");
    for (const UiCustomWidget& c : custom) {
      w.line(2, "<customwidget>");
      w.element(3, "class", c.className);
      w.element(3, "extends", c.extends);
      w.element(3, "header", c.header);
      w.line(2, "</customwidget>");
    }
    w.line(1, "</customwidgets>");
  }
  if (!f.extraXml.isEmpty()) w.line(1, f.extraXml);
  w.line(1, "<resources/>");
  w.line(1, "<connections/>");
  w.line(0, "</ui>");
  return w.out.toUtf8();
}

int uiSave(const QString& path, const UiForm& f, QString* error) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    if (error) *error = path + ": " + file.errorString();
    return -1;
  }
  const QByteArray text = uiFormat(f);
  if (file.write(text) != text.size() || !file.commit()) {
    if (error) *error = path + ": " + file.errorString();
    return -1;
  }
  return 0;
}

UiProperty uiString(const QString& name, const QString& value) {
  UiProperty p;
  p.name = name;
  p.type = "string";
  p.text = value;
  return p;
}

UiProperty uiNumber(const QString& name, int value) {
  UiProperty p;
  p.name = name;
  p.type = "number";
  p.text = QString::number(value);
  return p;
}

UiProperty uiBool(const QString& name, bool value) {
  UiProperty p;
  p.name = name;
  p.type = "bool";
  p.text = value ? "true" : "false";
  return p;
}

UiProperty uiEnum(const QString& name, const QString& value) {
  UiProperty p;
  p.name = name;
  p.type = "enum";
  p.text = value;
  return p;
}

UiProperty uiRect(const QString& name, const QRect& r) {
  UiProperty p;
  p.name = name;
  p.type = "rect";
  p.fields = {{"x", QString::number(r.x())},
              {"y", QString::number(r.y())},
              {"width", QString::number(r.width())},
              {"height", QString::number(r.height())}};
  return p;
}

UiProperty uiSize(const QString& name, int w, int h) {
  UiProperty p;
  p.name = name;
  p.type = "size";
  p.fields = {{"width", QString::number(w)}, {"height", QString::number(h)}};
  return p;
}
