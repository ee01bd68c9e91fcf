#include "editor.h"

#include <cstring>

#include <QAbstractItemView>
#include <QCompleter>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHash>
#include <QHelpEvent>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScrollBar>
#include <QSet>
#include <QStandardItemModel>
#include <QSyntaxHighlighter>
#include <QTextBlock>
#include <QTextCodec>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>

#include "designsurface.h"
#include "dlgpastewidget.h"
#include "dlgsearchreplace.h"
#include "functioncatalogue.h"
#include "studioopt.h"
#include "ui_dlgsearchreplace.h"
#include "uiform.h"

namespace {

const qint64 kMaxFile = 16 << 20;
const char kIndent[] = "  ";
const int kLeafRole = Qt::UserRole + 1;

bool identStart(QChar c) {
  return c.isLetter() || c == '_';
}

bool identChar(QChar c) {
  return c.isLetterOrNumber() || c == '_';
}

bool wordChar(QChar c) {
  return identChar(c) || c == '.';
}

const QSet<QString>& keywords() {
  // The C++ keywords.
  static const QSet<QString> k = [] {
    QSet<QString> set;
    for (const QString& w :
         QStringLiteral(
             "alignas alignof and asm auto bool break case catch char class const constexpr "
             "const_cast continue decltype default delete do double dynamic_cast else enum "
             "explicit extern false float for friend goto if inline int long mutable namespace new "
             "noexcept not nullptr operator or private protected public register reinterpret_cast "
             "return short signed sizeof static static_assert static_cast struct switch template "
             "this throw true try typedef typeid typename union unsigned using virtual void "
             "volatile while char16_t char32_t thread_local override final")
             .split(' '))
      set.insert(w);
    return set;
  }();
  return k;
}

// hx..., g..., qpw..., qwt... with a capital after the prefix: the server library's calls.
bool libraryName(const QString& w) {
  for (const char* p : {"hx", "qpw", "qwt", "g"}) {
    const int n = (int)strlen(p);
    if (w.size() > n && w.startsWith(QLatin1String(p)) && w[n].isUpper()) return true;
  }
  return false;
}

// Where the statement of a leaf starts once an assignment in front ("val = ") is left out.
int statementStart(const QString& leaf) {
  static const QRegularExpression assign("^\\s*[A-Za-z_]\\w*\\s*=(?!=)\\s*");
  QRegularExpressionMatch m = assign.match(leaf);
  return m.hasMatch() ? m.capturedLength() : 0;
}

bool sameFile(const QString& a, const QString& b) {
  QFileInfo fa(a), fb(b);
  QString ca = fa.canonicalFilePath(), cb = fb.canonicalFilePath();
  if (!ca.isEmpty() && !cb.isEmpty()) return ca == cb;
  return QDir::cleanPath(fa.absoluteFilePath()) == QDir::cleanPath(fb.absoluteFilePath());
}

class CppHighlighter : public QSyntaxHighlighter {
 public:
  explicit CppHighlighter(QTextDocument* doc) : QSyntaxHighlighter(doc) {
    formats_[EditorSpan::Keyword].setForeground(QColor(0, 0, 160));
    formats_[EditorSpan::Keyword].setFontWeight(QFont::Bold);
    formats_[EditorSpan::Call].setForeground(QColor(128, 0, 128));
    formats_[EditorSpan::String].setForeground(QColor(0, 120, 0));
    formats_[EditorSpan::Number].setForeground(QColor(0, 110, 140));
    formats_[EditorSpan::Comment].setForeground(QColor(120, 120, 120));
    formats_[EditorSpan::Comment].setFontItalic(true);
    formats_[EditorSpan::Preprocessor].setForeground(QColor(150, 90, 0));
  }

 protected:
  void highlightBlock(const QString& text) override {
    QVector<EditorSpan> spans;
    int state = editorScanCpp(text, previousBlockState() == 1 ? 1 : 0, &spans);
    for (const EditorSpan& s : spans)
      setFormat(s.start, s.length, formats_[s.kind]);
    setCurrentBlockState(state);
  }

 private:
  QTextCharFormat formats_[EditorSpan::Preprocessor + 1];
};

}  // namespace

int editorScanCpp(const QString& line, int state, QVector<EditorSpan>* spans) {
  const int n = line.size();
  int i = 0;
  auto add = [&](int start, int end, EditorSpan::Kind k) {
    if (end > start) spans->append({start, end - start, k});
  };
  if (state == 1) {
    int end = line.indexOf("*/");
    if (end < 0) {
      add(0, n, EditorSpan::Comment);
      return 1;
    }
    add(0, end + 2, EditorSpan::Comment);
    i = end + 2;
  } else {
    // "#" first on the line: the directive's word.
    int k = 0;
    while (k < n && line[k].isSpace())
      k++;
    if (k < n && line[k] == '#') {
      int e = k + 1;
      while (e < n && line[e].isSpace())
        e++;
      while (e < n && identChar(line[e]))
        e++;
      add(k, e, EditorSpan::Preprocessor);
      i = e;
    }
  }
  while (i < n) {
    const QChar c = line[i];
    if (c == '/' && i + 1 < n && line[i + 1] == '/') {
      add(i, n, EditorSpan::Comment);
      return 0;
    }
    if (c == '/' && i + 1 < n && line[i + 1] == '*') {
      int end = line.indexOf("*/", i + 2);
      if (end < 0) {
        add(i, n, EditorSpan::Comment);
        return 1;
      }
      add(i, end + 2, EditorSpan::Comment);
      i = end + 2;
      continue;
    }
    if (c == '"' || c == '\'') {
      int k = i + 1;
      while (k < n && line[k] != c)
        k += line[k] == '\\' ? 2 : 1;
      int end = k < n ? k + 1 : n;
      add(i, end, EditorSpan::String);
      i = end;
      continue;
    }
    if (identStart(c)) {
      int k = i;
      while (k < n && identChar(line[k]))
        k++;
      const QString w = line.mid(i, k - i);
      int next = k;
      while (next < n && line[next].isSpace())
        next++;
      if (keywords().contains(w))
        add(i, k, EditorSpan::Keyword);
      else if (next < n && line[next] == '(' && libraryName(w))
        add(i, k, EditorSpan::Call);
      i = k;
      continue;
    }
    if (c.isDigit()) {
      int k = i + 1;
      while (k < n) {
        const QChar d = line[k];
        const bool exponent = (d == '+' || d == '-') && (line[k - 1] == 'e' || line[k - 1] == 'E');
        if (!(d.isLetterOrNumber() || d == '.' || d == '\'' || exponent)) break;
        k++;
      }
      add(i, k, EditorSpan::Number);
      i = k;
      continue;
    }
    i++;
  }
  return 0;
}

QString editorCallKey(const QString& leaf) {
  int i = statementStart(leaf);
  int k = i;
  while (k < leaf.size() && wordChar(leaf[k]))
    k++;
  return leaf.mid(i, k - i);
}

QString editorWidgetName(const QMimeData* mime) {
  if (mime == nullptr) return QString();
  if (mime->hasFormat(STUDIO_WIDGET_NAME_MIME)) {
    QString n = QString::fromUtf8(mime->data(STUDIO_WIDGET_NAME_MIME));
    return n.section('\n', 0, 0).trimmed();
  }
  if (mime->hasFormat(STUDIO_WIDGETS_MIME)) {
    UiForm clip;
    QString error;
    if (uiParse(mime->data(STUDIO_WIDGETS_MIME), &clip, &error) == 0 &&
        !clip.root.children.isEmpty())
      return clip.root.children.first().name.section('\n', 0, 0).trimmed();
  }
  return QString();
}

// ---- the text edit inside the editor

class EditorLineArea : public QWidget {
 public:
  explicit EditorLineArea(EditorText* text);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* e) override;
  bool event(QEvent* e) override;

 private:
  EditorText* text_;
};

class EditorText : public QPlainTextEdit {
 public:
  explicit EditorText(Editor* editor) : QPlainTextEdit(editor), editor_(editor) {
    setObjectName("editorText");
    setLineWrapMode(NoWrap);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setTabStopDistance(fontMetrics().horizontalAdvance(' ') * 8);
    area_ = new EditorLineArea(this);
    connect(this, &QPlainTextEdit::blockCountChanged, this, [this] { updateMargins(); });
    connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect& r, int dy) {
      if (dy != 0)
        area_->scroll(0, dy);
      else
        area_->update(0, r.y(), area_->width(), r.height());
      if (r.contains(viewport()->rect())) updateMargins();
    });
    updateMargins();
  }

  int areaWidth() const {
    int digits = QString::number(qMax(1, blockCount())).size();
    return 10 + markSize() + fontMetrics().horizontalAdvance('9') * qMax(3, digits);
  }
  int markSize() const { return qMax(6, fontMetrics().height() - 6); }

  void paintArea(QPaintEvent* e) {
    QPainter p(area_);
    p.fillRect(e->rect(), QColor(240, 240, 240));
    QHash<int, const Editor::MarkAt*> marks;
    for (const Editor::MarkAt& m : editor_->marks_)
      marks.insert(m.at.blockNumber(), &m);
    QTextBlock b = firstVisibleBlock();
    int top = qRound(blockBoundingGeometry(b).translated(contentOffset()).top());
    int bottom = top + qRound(blockBoundingRect(b).height());
    const int h = fontMetrics().height();
    const int s = markSize();
    while (b.isValid() && top <= e->rect().bottom()) {
      if (b.isVisible() && bottom >= e->rect().top()) {
        if (const Editor::MarkAt* m = marks.value(b.blockNumber())) {
          p.setPen(Qt::NoPen);
          p.setBrush(m->severity == "error" ? QColor(210, 30, 30) : QColor(235, 160, 0));
          p.drawEllipse(QRect(3, top + (h - s) / 2, s, s));
        }
        p.setPen(QColor(130, 130, 130));
        p.drawText(0, top, area_->width() - 4, h, Qt::AlignRight,
                   QString::number(b.blockNumber() + 1));
      }
      b = b.next();
      top = bottom;
      bottom = top + qRound(blockBoundingRect(b).height());
    }
  }

  // The messages of the line at y (viewport coordinates).
  QString tipAt(int y) const {
    QTextBlock b = cursorForPosition(QPoint(0, y)).block();
    return editor_->markText(b.blockNumber() + 1);
  }

 protected:
  void resizeEvent(QResizeEvent* e) override {
    QPlainTextEdit::resizeEvent(e);
    QRect r = contentsRect();
    area_->setGeometry(QRect(r.left(), r.top(), areaWidth(), r.height()));
  }

  bool viewportEvent(QEvent* e) override {
    if (e->type() == QEvent::ToolTip) {
      auto* h = static_cast<QHelpEvent*>(e);
      QString tip = tipAt(h->pos().y());
      if (tip.isEmpty())
        QToolTip::hideText();
      else
        QToolTip::showText(h->globalPos(), tip, viewport());
      return true;
    }
    return QPlainTextEdit::viewportEvent(e);
  }

  void keyPressEvent(QKeyEvent* e) override {
    const Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
    if (editor_->completer_->popup()->isVisible()) {
      // The completer takes these keys itself.
      switch (e->key()) {
        case Qt::Key_Enter:
        case Qt::Key_Return:
        case Qt::Key_Escape:
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
          e->ignore();
          return;
        default:
          break;
      }
    }
    if (mods == Qt::ControlModifier && e->key() == Qt::Key_Space) {
      editor_->complete();
      return;
    }
    if (mods == Qt::ControlModifier && e->key() == Qt::Key_F) {
      editor_->find();
      return;
    }
    if (mods == Qt::ControlModifier && e->key() == Qt::Key_H) {
      editor_->replace();
      return;
    }
    if (!isReadOnly()) {
      if (e->key() == Qt::Key_Tab && mods == Qt::NoModifier) {
        if (textCursor().hasSelection())
          editor_->indentSelection();
        else
          insertPlainText(kIndent);
        return;
      }
      if (e->key() == Qt::Key_Backtab) {
        editor_->unindentSelection();
        return;
      }
      if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) &&
          (mods == Qt::NoModifier || mods == Qt::ShiftModifier)) {
        // A new line keeps the indentation of the one it breaks; never a soft line break,
        // which would reach the file as U+2028.
        QTextCursor c = textCursor();
        const QString line = c.block().text().left(c.positionInBlock());
        int k = 0;
        while (k < line.size() && (line[k] == ' ' || line[k] == '\t'))
          k++;
        c.beginEditBlock();
        c.insertBlock();
        c.insertText(line.left(k));
        c.endEditBlock();
        setTextCursor(c);
        ensureCursorVisible();
        return;
      }
    }
    QPlainTextEdit::keyPressEvent(e);
    // Typing on with the popup open narrows it.
    if (editor_->completer_->popup()->isVisible()) editor_->refreshCompletion();
  }

  // Widgets never go in as their text (the clipboard's plain text of copied widgets is
  // their .ui form): only what the paste dialog makes of the name.
  static bool carriesWidget(const QMimeData* m) {
    return m && (m->hasFormat(STUDIO_WIDGET_NAME_MIME) || m->hasFormat(STUDIO_WIDGETS_MIME));
  }

  bool canInsertFromMimeData(const QMimeData* source) const override {
    if (carriesWidget(source)) return !isReadOnly();
    return QPlainTextEdit::canInsertFromMimeData(source);
  }

  void insertFromMimeData(const QMimeData* source) override {
    if (!carriesWidget(source)) {
      QPlainTextEdit::insertFromMimeData(source);
      return;
    }
    QString name = editorWidgetName(source);
    if (!name.isEmpty()) editor_->pasteWidgetName(name);
  }

  void dropEvent(QDropEvent* e) override {
    if (!carriesWidget(e->mimeData()) || isReadOnly()) {
      QPlainTextEdit::dropEvent(e);
      return;
    }
    const QString name = editorWidgetName(e->mimeData());
    e->setDropAction(Qt::CopyAction);
    e->accept();
    // The drop caret goes as it would after a plain drop.
    QDragLeaveEvent leave;
    QPlainTextEdit::dragLeaveEvent(&leave);
    if (name.isEmpty()) return;
    QTextCursor at = cursorForPosition(e->pos());
    setTextCursor(at);
    setFocus(Qt::MouseFocusReason);
    // The dialog waits until the drag is over: a modal loop inside the drop would run while
    // the drag still holds the mouse.
    QTimer::singleShot(0, editor_, [ed = editor_, name, at] { ed->pasteWidgetName(name, &at); });
  }

 private:
  void updateMargins() {
    setViewportMargins(areaWidth(), 0, 0, 0);
    area_->setFixedWidth(areaWidth());
  }

  Editor* editor_;
  EditorLineArea* area_;
};

EditorLineArea::EditorLineArea(EditorText* text) : QWidget(text), text_(text) {
  setObjectName("editorLineArea");
}

QSize EditorLineArea::sizeHint() const {
  return QSize(text_->areaWidth(), 0);
}

void EditorLineArea::paintEvent(QPaintEvent* e) {
  text_->paintArea(e);
}

bool EditorLineArea::event(QEvent* e) {
  if (e->type() == QEvent::ToolTip) {
    auto* h = static_cast<QHelpEvent*>(e);
    QString tip = text_->tipAt(h->pos().y());
    if (tip.isEmpty())
      QToolTip::hideText();
    else
      QToolTip::showText(h->globalPos(), tip, this);
    return true;
  }
  return QWidget::event(e);
}

// ---- the editor

Editor::Editor(QWidget* parent) : QWidget(parent) {
  setObjectName("editor");
  text_ = new EditorText(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(text_);
  new CppHighlighter(text_->document());
  connect(text_->document(), &QTextDocument::modificationChanged, this,
          &Editor::modificationChanged);

  calls_ = new QStandardItemModel(this);
  completer_ = new QCompleter(calls_, this);
  completer_->setWidget(text_);
  completer_->setCompletionMode(QCompleter::PopupCompletion);
  completer_->setCompletionRole(Qt::UserRole);
  completer_->setCaseSensitivity(Qt::CaseSensitive);
  completer_->setFilterMode(Qt::MatchStartsWith);
  completer_->setMaxVisibleItems(12);
  connect(completer_, QOverload<const QModelIndex&>::of(&QCompleter::activated), this,
          [this](const QModelIndex& i) { insertCompletion(i.data(kLeafRole).toString()); });

  search_ = new dlgsearchreplace(this);
  paste_ = new dlgPasteWidget(this);
}

Editor::~Editor() = default;

QPlainTextEdit* Editor::textEdit() const {
  return text_;
}

bool Editor::modified() const {
  return text_->document()->isModified();
}

int Editor::load(const QString& file, QString* error, const QString& fallback) {
  file_ = file;
  crlf_ = false;
  marks_.clear();
  auto refuse = [&](const QString& why) {
    writable_ = false;
    text_->clear();
    text_->setReadOnly(true);
    text_->document()->setModified(false);
    updateMarkSelections();
    if (error) *error = QString("%1: %2").arg(file, why);
    return -1;
  };
  QString text;
  QFile f(file);
  if (!f.exists()) {
    text = fallback;
  } else {
    if (!f.open(QIODevice::ReadOnly)) return refuse(f.errorString());
    if (f.size() > kMaxFile) return refuse("larger than 16 MiB");
    QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError) return refuse(f.errorString());
    // Text that would not come back byte for byte is not opened for editing at all.
    QTextCodec::ConverterState state;
    text = QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars > 0 || state.remainingChars > 0 || bytes.contains('\0'))
      return refuse("not UTF-8 text");
    crlf_ = bytes.contains("\r\n");
  }
  writable_ = true;
  text_->setReadOnly(false);
  text_->setPlainText(text);
  text_->document()->setModified(false);
  updateMarkSelections();
  return 0;
}

int Editor::save(QString* error) {
  if (!writable_) {
    if (error) *error = QString("%1 was not opened for editing").arg(file_);
    return -1;
  }
  if (file_.isEmpty()) {
    if (error) *error = "the editor has no file";
    return -1;
  }
  if (!modified()) return 0;
  // The raw text keeps non-breaking spaces, which the plain-text form would turn into spaces.
  QString text = text_->document()->toRawText();
  text.replace(QChar::ParagraphSeparator, '\n').replace(QChar::LineSeparator, '\n');
  if (crlf_) text.replace('\n', "\r\n");
  QSaveFile f(file_);
  QByteArray bytes = text.toUtf8();
  if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
    if (error) *error = QString("%1: %2").arg(file_, f.errorString());
    return -1;
  }
  text_->document()->setModified(false);
  return 0;
}

void Editor::gotoLine(int line) {
  QTextDocument* doc = text_->document();
  QTextBlock b = doc->findBlockByNumber(qMax(0, line - 1));
  if (!b.isValid()) b = doc->lastBlock();
  text_->setTextCursor(QTextCursor(b));
  text_->centerCursor();
}

int Editor::currentLine() const {
  return text_->textCursor().blockNumber() + 1;
}

void Editor::insertText(const QString& text) {
  if (text_->isReadOnly()) return;
  QTextCursor c = text_->textCursor();
  c.insertText(text);
  text_->setTextCursor(c);
  text_->ensureCursorVisible();
}

namespace {

// The blocks of the selection: a selection that ends at the start of a line leaves it out.
void selectedBlocks(const QTextCursor& c, QTextBlock* first, QTextBlock* last) {
  QTextDocument* doc = c.document();
  *first = doc->findBlock(c.selectionStart());
  *last = doc->findBlock(c.selectionEnd());
  if (c.hasSelection() && last->position() == c.selectionEnd() &&
      last->blockNumber() > first->blockNumber())
    *last = last->previous();
}

}  // namespace

void Editor::indentSelection() {
  if (text_->isReadOnly()) return;
  QTextCursor c = text_->textCursor();
  QTextBlock first, last;
  selectedBlocks(c, &first, &last);
  c.beginEditBlock();
  for (QTextBlock b = first; b.isValid(); b = b.next()) {
    QTextCursor at(b);
    at.insertText(kIndent);
    if (b == last) break;
  }
  c.endEditBlock();
  text_->setTextCursor(c);
}

void Editor::unindentSelection() {
  if (text_->isReadOnly()) return;
  QTextCursor c = text_->textCursor();
  QTextBlock first, last;
  selectedBlocks(c, &first, &last);
  c.beginEditBlock();
  for (QTextBlock b = first; b.isValid(); b = b.next()) {
    const QString t = b.text();
    int n = 0;
    if (t.startsWith('\t'))
      n = 1;
    else
      while (n < 2 && n < t.size() && t[n] == ' ')
        n++;
    if (n > 0) {
      QTextCursor at(b);
      at.movePosition(QTextCursor::Right, QTextCursor::KeepAnchor, n);
      at.removeSelectedText();
    }
    if (b == last) break;
  }
  c.endEditBlock();
  text_->setTextCursor(c);
}

// ---- build messages

int Editor::setBuildMessages(const QVector<StudioBuildMessage>& msgs, const QStringList& dirs) {
  marks_.clear();
  QMap<int, int> byLine;  // line -> index in marks_
  const int lines = text_->document()->blockCount();
  for (const StudioBuildMessage& m : msgs) {
    if (m.file.isEmpty() || file_.isEmpty()) continue;
    if (m.severity != "error" && m.severity != "warning") continue;
    if (m.line < 1 || m.line > lines) continue;
    bool ours = false;
    if (QFileInfo(m.file).isAbsolute()) {
      ours = sameFile(m.file, file_);
    } else {
      for (const QString& d : dirs)
        if (sameFile(QDir(d).filePath(m.file), file_)) ours = true;
    }
    if (!ours) continue;
    QString text = m.column > 0
                       ? QString("%1 (column %2): %3").arg(m.severity).arg(m.column).arg(m.text)
                       : QString("%1: %2").arg(m.severity, m.text);
    auto it = byLine.find(m.line);
    if (it == byLine.end()) {
      MarkAt mark;
      mark.at = QTextCursor(text_->document()->findBlockByNumber(m.line - 1));
      mark.severity = m.severity;
      mark.texts << text;
      byLine.insert(m.line, marks_.size());
      marks_.append(mark);
    } else {
      MarkAt& mark = marks_[it.value()];
      if (m.severity == "error") mark.severity = "error";
      // A long list of one line's messages stays a readable tip.
      if (mark.texts.size() < 20 && !mark.texts.contains(text)) mark.texts << text;
    }
  }
  updateMarkSelections();
  return marks_.size();
}

void Editor::clearMarks() {
  marks_.clear();
  updateMarkSelections();
}

QVector<Editor::Mark> Editor::marks() const {
  QVector<Mark> out;
  for (const MarkAt& m : marks_)
    out.append({m.at.blockNumber() + 1, m.severity, m.texts.join('\n')});
  return out;
}

QString Editor::markText(int line) const {
  QStringList texts;
  for (const MarkAt& m : marks_)
    if (m.at.blockNumber() + 1 == line) texts << m.texts;
  return texts.join('\n');
}

void Editor::updateMarkSelections() {
  QList<QTextEdit::ExtraSelection> sels;
  for (const MarkAt& m : marks_) {
    QTextEdit::ExtraSelection s;
    s.cursor = QTextCursor(m.at.block());
    s.format.setBackground(m.severity == "error" ? QColor(255, 222, 222) : QColor(255, 244, 200));
    s.format.setProperty(QTextFormat::FullWidthSelection, true);
    sels << s;
  }
  text_->setExtraSelections(sels);
  text_->viewport()->update();
  for (QWidget* w : text_->findChildren<EditorLineArea*>())
    w->update();
}

// ---- completion

void Editor::setCompletionCalls(const QVector<QString>& leaves) {
  calls_->clear();
  for (const QString& leaf : leaves) {
    QString key = editorCallKey(leaf);
    if (key.isEmpty()) continue;
    auto* item = new QStandardItem(leaf);
    item->setData(key, Qt::UserRole);
    item->setData(leaf, kLeafRole);
    item->setEditable(false);
    calls_->appendRow(item);
  }
  callsSet_ = true;
}

namespace {

// The start of the word that ends at the cursor.
int wordStart(const QTextCursor& c) {
  const QString t = c.block().text();
  int i = c.positionInBlock();
  while (i > 0 && wordChar(t[i - 1]))
    i--;
  return c.block().position() + i;
}

}  // namespace

void Editor::complete() {
  if (text_->isReadOnly()) return;
  if (!callsSet_) setCompletionCalls(catalogueLeaves());
  QTextCursor c = text_->textCursor();
  c.clearSelection();
  text_->setTextCursor(c);
  if (!refreshCompletion()) return;
  QRect r = text_->cursorRect(c);
  r.setWidth(completer_->popup()->sizeHintForColumn(0) +
             completer_->popup()->verticalScrollBar()->sizeHint().width() + 8);
  completer_->complete(r);
  completer_->popup()->setCurrentIndex(completer_->completionModel()->index(0, 0));
}

bool Editor::refreshCompletion() {
  QTextCursor word = text_->textCursor();
  word.clearSelection();
  word.setPosition(wordStart(word), QTextCursor::KeepAnchor);
  completer_->setCompletionPrefix(word.selectedText());
  if (completer_->completionCount() == 0) {
    completer_->popup()->hide();
    return false;
  }
  completer_->popup()->setCurrentIndex(completer_->completionModel()->index(0, 0));
  return true;
}

void Editor::insertCompletion(const QString& leaf) {
  if (leaf.isEmpty() || text_->isReadOnly()) return;
  QTextCursor c = text_->textCursor();
  c.clearSelection();
  const int start = wordStart(c);
  const QString before = c.block().text().left(start - c.block().position());
  c.setPosition(start, QTextCursor::KeepAnchor);
  // After other text on the line ("x = ", "if ("), the call alone fits; at the start of a
  // line, the statement as the catalogue gives it.
  c.insertText(before.trimmed().isEmpty() ? leaf : leaf.mid(statementStart(leaf)));
  text_->setTextCursor(c);
}

// ---- find, replace, widget names

void Editor::find() {
  QTextCursor c = text_->textCursor();
  if (c.hasSelection() && !c.selectedText().contains(QChar::ParagraphSeparator))
    search_->form->lineEditFind->setText(c.selectedText());
  search_->runFind(this);
}

void Editor::replace() {
  if (text_->isReadOnly()) return;
  search_->runReplace(this);
}

int Editor::pasteWidgetName(const QString& name, const QTextCursor* at) {
  if (name.isEmpty() || text_->isReadOnly()) return -1;
  QString n = name;
  const bool cpp = !file_.contains(".py") && studioOpt.script != 5;
  if (cpp && mapper_) n = mapper_(name);
  QString fileName = file_;
  QString text = paste_->run(n.toUtf8().constData(), &fileName);
  if (text.isEmpty()) return -1;
  QTextCursor c = at ? *at : text_->textCursor();
  c.insertText(text);
  text_->setTextCursor(c);
  text_->ensureCursorVisible();
  return 0;
}
