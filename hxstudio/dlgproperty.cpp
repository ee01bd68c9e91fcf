#include "dlgproperty.h"

#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QTableWidget>
#include <QTreeWidget>

#include "dlginsertwidget.h"
#include "mywidgets.h"
#include "studiokinds.h"
#include "ui_dlgproperty.h"
#include "uiwidgets.h"

namespace {

const char* const kFamilies[] = {"default", "Arial", "Times", "Courier"};
const char* const kShapes[] = {"NoFrame", "Box",   "Panel",      "WinPanel",
                               "HLine",   "VLine", "StyledPanel"};
const char* const kShadows[] = {"Plain", "Raised", "Sunken"};
// The selection modes in the order of the combo box, and the modes they stand for.
const char* const kSelections[] = {"SingleSelection", "MultiSelection", "NoSelection"};
const QAbstractItemView::SelectionMode kSelectionModes[] = {QAbstractItemView::SingleSelection,
                                                            QAbstractItemView::MultiSelection,
                                                            QAbstractItemView::NoSelection};

bool tagIs(const QWidget* w, const char* tag) {
  return w->statusTip().startsWith(tag);
}

bool isList(const QWidget* w) {
  return tagIs(w, "TQListBox:") || tagIs(w, "TQListView:");
}

QString showBreaks(QString text) {
  return text.replace('\n', "\\n");
}

QString makeBreaks(QString text) {
  return text.replace("\\n", "\n");
}

void setRgb(QSpinBox* r, QSpinBox* g, QSpinBox* b, const QColor* c) {
  r->setValue(c ? c->red() : -1);
  g->setValue(c ? c->green() : -1);
  b->setValue(c ? c->blue() : -1);
}

}  // namespace

dlgProperty::dlgProperty(QWidget* w, const QStringList& tags, QWidget* parent)
    : QDialog(parent), form(new Ui_DialogProperty), widget_(w) {
  form->setupUi(this);
  for (const char* f : kFamilies)
    form->comboBoxFontFamily->addItem(f);
  for (const char* s : kShapes)
    form->comboBoxShape->addItem(s);
  for (const char* s : kShadows)
    form->comboBoxShadow->addItem(s);
  for (const char* s : kSelections)
    form->comboBoxMultiSection->addItem(s);
  form->comboBoxTag->addItem(QString());
  form->comboBoxTag->addItems(tags);
  connect(form->pushButtonUpdate, &QPushButton::clicked, this, &dlgProperty::slotUpdate);
  connect(form->pushButtonOk, &QPushButton::clicked, this, &dlgProperty::slotOk);
  connect(form->pushButtonCancel, &QPushButton::clicked, this, &dlgProperty::slotCancel);
  fill();
}

dlgProperty::~dlgProperty() {
  delete form;
}

int dlgProperty::run() {
  return exec();
}

void dlgProperty::fill() {
  QWidget* w = widget_;
  if (!w) return;
  Ui_DialogProperty* f = form;
  const QString tip = w->statusTip();
  f->labelType->setText(tip);
  f->spinBoxX->setValue(w->x());
  f->spinBoxY->setValue(w->y());
  f->spinBoxW->setValue(w->width());
  f->spinBoxH->setValue(w->height());
  f->spinBoxMinWidth->setValue(w->minimumWidth());
  f->spinBoxMinHeight->setValue(w->minimumHeight());
  f->spinBoxMaxWidth->setValue(w->maximumWidth());
  f->spinBoxMaxHeight->setValue(w->maximumHeight());
  f->lineEditObjectName->setText(w->objectName());
  f->lineEditWhatsThis->setText(w->whatsThis());
  f->lineEditToolTip->setText(w->toolTip());

  const QFont font = w->font();
  f->checkBoxFontItalic->setChecked(font.italic());
  f->checkBoxFontUnderline->setChecked(font.underline());
  f->checkBoxFontStrikeout->setChecked(font.strikeOut());
  f->checkBoxFontBold->setChecked(font.weight() > 50);
  f->spinBoxFontSize->setValue(font.pointSize());
  // Sans Serif is what "default" stands for; a family that is not listed shows as default.
  int family = f->comboBoxFontFamily->findText(font.family());
  f->comboBoxFontFamily->setCurrentIndex(font.family() == "Sans Serif" || family < 0 ? 0 : family);

  const QPalette pal = w->palette();
  const QColor fg = pal.color(uiForegroundRole(w)), bg = pal.color(uiBackgroundRole(w));
  setRgb(f->spinBoxFgRed, f->spinBoxFgGreen, f->spinBoxFgBlue,
         studioHasMarker(tip, "foreground:") ? &fg : nullptr);
  setRgb(f->spinBoxBgRed, f->spinBoxBgGreen, f->spinBoxBgBlue,
         studioHasMarker(tip, "background:") ? &bg : nullptr);

  f->lineEditText->setText(showBreaks(uiWidgetText(w)));

  if (tagIs(w, "TQLabel:") || tagIs(w, "TQFrame:")) {
    auto* frame = static_cast<QFrame*>(w);
    f->comboBoxShape->setCurrentIndex(qBound(0, (int)frame->frameShape(), 6));
    f->comboBoxShadow->setCurrentIndex(qBound(0, frame->frameShadow() / 16 - 1, 2));
    f->spinBoxLinewidth->setValue(frame->lineWidth());
    if (auto* label = qobject_cast<QLabel*>(w)) f->spinBoxMargin->setValue(label->margin());
  }
  if (auto* table = qobject_cast<QTableWidget*>(w)) {
    f->spinBoxNumRows->setValue(table->rowCount());
    f->spinBoxNumColumns->setValue(table->columnCount());
  }
  if (isList(w)) {
    auto* view = static_cast<QAbstractItemView*>(w);
    for (int i = 0; i < 3; i++)
      if (view->selectionMode() == kSelectionModes[i]) f->comboBoxMultiSection->setCurrentIndex(i);
  }
  const QString bound = w->property(STUDIO_TAG_PROPERTY).toString();
  if (!bound.isEmpty() && f->comboBoxTag->findText(bound) < 0) f->comboBoxTag->addItem(bound);
  f->comboBoxTag->setCurrentText(bound);
  // Only widgets that show or write a value can be bound.
  const StudioKind* kind = studioKindByTag(tip);
  f->comboBoxTag->setEnabled(kind && kind->binding != 0);
}

void dlgProperty::slotUpdate() {
  QWidget* w = widget_;
  if (!w) return;
  Ui_DialogProperty* f = form;
  QString tip = w->statusTip();
  w->setObjectName(f->lineEditObjectName->text());
  w->setWhatsThis(f->lineEditWhatsThis->text());
  w->setToolTip(f->lineEditToolTip->text());
  mySetGeometry(w, f->spinBoxX->value(), f->spinBoxY->value(), f->spinBoxW->value(),
                f->spinBoxH->value());
  w->setMinimumSize(f->spinBoxMinWidth->value(), f->spinBoxMinHeight->value());
  w->setMaximumSize(f->spinBoxMaxWidth->value(), f->spinBoxMaxHeight->value());

  QString family = f->comboBoxFontFamily->currentText();
  const bool defaultFamily = family == "default";
  if (defaultFamily) family = "Sans Serif";
  QFont font(family, f->spinBoxFontSize->value());
  font.setItalic(f->checkBoxFontItalic->isChecked());
  font.setUnderline(f->checkBoxFontUnderline->isChecked());
  font.setStrikeOut(f->checkBoxFontStrikeout->isChecked());
  if (f->checkBoxFontBold->isChecked()) font.setWeight(75);
  w->setFont(font);
  const bool styled = f->checkBoxFontItalic->isChecked() || f->checkBoxFontUnderline->isChecked() ||
                      f->checkBoxFontStrikeout->isChecked() || f->checkBoxFontBold->isChecked();
  tip = studioSetMarker(tip,
                        "font:", !(defaultFamily && f->spinBoxFontSize->value() == 9 && !styled));

  // Background first, then foreground, each from the default palette when unset.
  const bool bgSet = f->spinBoxBgRed->value() >= 0 && f->spinBoxBgGreen->value() >= 0 &&
                     f->spinBoxBgBlue->value() >= 0;
  const bool fgSet = f->spinBoxFgRed->value() >= 0 && f->spinBoxFgGreen->value() >= 0 &&
                     f->spinBoxFgBlue->value() >= 0;
  QPalette pal;
  if (bgSet)
    pal.setColor(uiBackgroundRole(w), QColor(f->spinBoxBgRed->value(), f->spinBoxBgGreen->value(),
                                             f->spinBoxBgBlue->value()));
  if (fgSet)
    pal.setColor(uiForegroundRole(w), QColor(f->spinBoxFgRed->value(), f->spinBoxFgGreen->value(),
                                             f->spinBoxFgBlue->value()));
  w->setPalette(pal);
  tip = studioSetMarker(tip, "background:", bgSet);
  tip = studioSetMarker(tip, "foreground:", fgSet);
  w->setStatusTip(tip);

  if (!tagIs(w, "TQCustomWidget:")) uiSetWidgetText(w, makeBreaks(f->lineEditText->text()));

  if (tagIs(w, "TQLabel:") || tagIs(w, "TQFrame:")) {
    auto* frame = static_cast<QFrame*>(w);
    frame->setFrameShape((QFrame::Shape)f->comboBoxShape->currentIndex());
    frame->setFrameShadow((QFrame::Shadow)(16 * (f->comboBoxShadow->currentIndex() + 1)));
    frame->setLineWidth(f->spinBoxLinewidth->value());
    if (auto* label = qobject_cast<QLabel*>(w)) label->setMargin(f->spinBoxMargin->value());
  }
  if (auto* table = qobject_cast<QTableWidget*>(w)) {
    int rows = f->spinBoxNumRows->value(), columns = f->spinBoxNumColumns->value();
    myTableFit(&rows, &columns);
    table->setRowCount(rows);
    table->setColumnCount(columns);
  }
  if (isList(w))
    static_cast<QAbstractItemView*>(w)->setSelectionMode(
        kSelectionModes[qBound(0, f->comboBoxMultiSection->currentIndex(), 2)]);
  if (f->comboBoxTag->isEnabled()) {
    const QString bound = f->comboBoxTag->currentText().trimmed();
    w->setProperty(STUDIO_TAG_PROPERTY, bound.isEmpty() ? QVariant() : QVariant(bound));
  }
  emit applied(w);
}

void dlgProperty::slotOk() {
  slotUpdate();
  accept();
}

void dlgProperty::slotCancel() {
  reject();
}
