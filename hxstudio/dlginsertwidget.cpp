#include "dlginsertwidget.h"

#include <stdio.h>

#include <QInputDialog>
#include <QLCDNumber>
#include <QLabel>
#include <QTabWidget>
#include <QTextBrowser>
#include <QToolBox>
#include <algorithm>

#include "myqwtwidgets.h"
#include "mywidgets.h"
#include "otlog.h"
#include "qdrawwidget.h"
#include "qimagewidget.h"
#include "studioopt.h"
#include "ui_dlginsertwidget.h"

namespace {

// Design widgets never talk to a server.
int nullSocket = -1;

// Asks a page title; false when the user cancelled or left it empty.
bool askTitle(dlgInsertWidget* d, const char* dialogTitle, const char* prompt, QString* title) {
  if (d->grabWidget) {
    d->grabWidget->releaseMouse();
    d->grabWidget->releaseKeyboard();
  }
  bool ok = false;
  *title =
      QInputDialog::getText(d->grabWidget, dialogTitle, prompt, QLineEdit::Normal, QString(), &ok);
  return ok && !title->isEmpty();
}

QWidget* newPage(QWidget* root, QWidget* container) {
  auto* page = new QWidget(container);
  page->setStatusTip("TQWidget:");
  setDefaultObjectName(root, page);
  return page;
}

}  // namespace

dlgInsertWidget::dlgInsertWidget(QWidget* parent)
    : QDialog(parent), result(1), grabWidget(nullptr), form(new Ui_DialogInsertWidget) {
  form->setupUi(this);
  form->comboBoxTabWidget->addItems({"North", "South", "West", "East"});
  form->comboBoxMode->addItems({"HEX", "DEC", "OCT", "BIN"});
  form->comboBoxSegmentStyle->addItems({"Outline", "Filled", "Flat"});
  form->comboBoxSliderOrientation->addItems({"Horizontal", "Vertical"});
  form->comboBoxProgressBarOrientation->addItems({"Horizontal", "Vertical"});
  form->comboBoxFrameShape->addItems({"Box", "Panel", "WinPanel", "HLine", "VLine", "StyledPanel"});
  form->comboBoxFrameShadow->addItems({"Plain", "Raised", "Sunken"});
  connect(form->pushButtonOk, &QPushButton::clicked, this, &dlgInsertWidget::slotOk);
  connect(form->pushButtonCancel, &QPushButton::clicked, this, &dlgInsertWidget::slotCancel);
}

dlgInsertWidget::~dlgInsertWidget() {
  delete form;
}

int dlgInsertWidget::run() {
  return exec();
}

void dlgInsertWidget::slotOk() {
  result = 1;
  accept();
}

void dlgInsertWidget::slotCancel() {
  result = 0;
  reject();
}

QWidget* dlgInsertWidget::newWidget(QWidget* root, QWidget* parent, int x, int y) {
  if (!parent) return nullptr;
  result = 1;
  otLogDebug(studioOpt.debug, "newWidget at(%d,%d)\n", x, y);
  Ui_DialogInsertWidget* f = form;
  int* s = &nullSocket;
  // The orientation combo boxes list Horizontal first; the widgets take Qt's numbers.
  auto orientation = [](QComboBox* c) { return c->currentIndex() == 1 ? 2 : 1; };
  QWidget* w = nullptr;
  const char* tag = nullptr;
  if (f->wTabWidget->isChecked()) {
    QString title;
    if (!askTitle(this, "hxstudio: Add TabWidget", "Title of first tab", &title)) return nullptr;
    auto* tab = new MyQTabWidget(s, 0, parent);
    tab->setStatusTip("TQTabWidget:");
    tab->setTabPosition((QTabWidget::TabPosition)f->comboBoxTabWidget->currentIndex());
    tab->addTab(newPage(root, tab), title);
    w = tab;
    tag = "TQTabWidget:";
  } else if (f->wLabel->isChecked()) {
    w = new MyLabel(s, 0, parent);
    static_cast<QLabel*>(w)->setText("Label");
    tag = "TQLabel:";
  } else if (f->wPushButton->isChecked()) {
    w = new MyQPushButton(s, 0, parent);
    static_cast<QPushButton*>(w)->setText("PushButton");
    tag = "TQPushButton:";
  } else if (f->wRadioButton->isChecked()) {
    w = new MyRadioButton(s, 0, parent);
    static_cast<QRadioButton*>(w)->setText("RadioButton");
    tag = "TQRadio:";
  } else if (f->wCheckBox->isChecked()) {
    w = new MyCheckBox(s, 0, parent);
    static_cast<QCheckBox*>(w)->setText("CheckBox");
    tag = "TQCheck:";
  } else if (f->wLineEdit->isChecked()) {
    w = new MyLineEdit(s, 0, parent);
    static_cast<QLineEdit*>(w)->setText("LineEdit");
    tag = "TQLineEdit:";
  } else if (f->wSpinBox->isChecked()) {
    w = new MySpinBox(s, 0, parent, f->spinBoxMin->value(), f->spinBoxMax->value(),
                      f->spinBoxStep->value());
    tag = "TQSpinBox:";
  } else if (f->wComboxBox->isChecked()) {
    w = new MyComboBox(s, 0, parent, 0, 0);
    tag = "TQComboBox:";
  } else if (f->wLCDNumber->isChecked()) {
    auto* lcd = new QLCDNumber(f->spinBoxNumDigits->value(), parent);
    lcd->setMode((QLCDNumber::Mode)f->comboBoxMode->currentIndex());
    lcd->setSegmentStyle((QLCDNumber::SegmentStyle)f->comboBoxSegmentStyle->currentIndex());
    w = lcd;
    tag = "TQLCDNumber:";
  } else if (f->wSlider->isChecked()) {
    w = new MySlider(s, 0, parent, f->spinBoxSliderMin->value(), f->spinBoxSliderMax->value(),
                     f->spinBoxSliderStep->value(), f->spinBoxSliderVal->value(),
                     orientation(f->comboBoxSliderOrientation));
    tag = "TQSlider:";
  } else if (f->wDial->isChecked()) {
    w = new MyDial(s, 0, parent, f->spinBoxDialMin->value(), f->spinBoxDialMax->value(),
                   f->spinBoxDialStep->value(), f->spinBoxDialValue->value());
    tag = "TQDial:";
  } else if (f->wProgressBar->isChecked()) {
    w = new MyProgressBar(s, 0, parent, f->spinBoxProgressBarTotalSteps->value(),
                          orientation(f->comboBoxProgressBarOrientation));
    tag = "TQProgressBar:";
  } else if (f->wDateEdit->isChecked()) {
    w = new MyQDateEdit(s, 0, parent);
    tag = "TQDateEdit:";
  } else if (f->wTimeEdit->isChecked()) {
    w = new MyQTimeEdit(s, 0, parent);
    tag = "TQTimeEdit:";
  } else if (f->wDateTimeEdit->isChecked()) {
    w = new MyQDateTimeEdit(s, 0, parent);
    tag = "TQDateTimeEdit:";
  } else if (f->wGroupBox->isChecked()) {
    w = new MyGroupBox(s, 0, parent, 1, Qt::Horizontal, f->lineEditGroupBoxTitle->text());
    tag = "TQGroupBox:";
  } else if (f->wFrame->isChecked()) {
    // The shape list starts at Box (1); the shadows are Plain, Raised, Sunken (16, 32, 48).
    w = new MyFrame(s, 0, parent, f->comboBoxFrameShape->currentIndex() + 1,
                    16 * (f->comboBoxFrameShadow->currentIndex() + 1),
                    f->spinBoxFrameLineWidth->value(), 1);
    tag = "TQFrame:";
  } else if (f->wTable->isChecked()) {
    w = new MyTable(s, 0, parent, 2, 2);
    tag = "TQTable:";
  } else if (f->wMultiLineEdit->isChecked()) {
    w = new MyMultiLineEdit(s, 0, parent, f->spinBoxMultiLineEditable->value(),
                            f->spinBoxMultiLineMaxLines->value());
    tag = "TQMultiLineEdit:";
  } else if (f->wTextBrowser->isChecked()) {
    w = new QTextBrowser(parent);
    tag = "TQTextBrowser:";
  } else if (f->wListView->isChecked()) {
    w = new MyListView(s, 0, parent);
    tag = "TQListView:";
  } else if (f->wListBox->isChecked()) {
    w = new MyListBox(s, 0, parent);
    tag = "TQListBox:";
  } else if (f->wIconView->isChecked()) {
    w = new MyIconView(s, 0, parent);
    tag = "TQIconView:";
  } else if (f->wImage->isChecked()) {
    auto* img = new QImageWidget(s, 0, parent);
    QImage fill(1, 1, QImage::Format_ARGB32);
    fill.fill(QColor(128, 0, 0));
    img->setImage(&fill);
    const QString file = f->lineEditImageFileName->text();
    if (!file.isEmpty()) img->setWhatsThis(file);
    w = img;
    tag = "TQImage:";
  } else if (f->wDraw->isChecked()) {
    w = new QDrawWidget(parent, "draw", 0, s, 0);
    const QString file = f->lineEditDrawFileName->text();
    if (!file.isEmpty()) w->setWhatsThis(file);
    tag = "TQDraw:";
  } else if (f->wOpenGL->isChecked()) {
    w = new MyFrame(s, 0, parent, 2, 32, 10, 1);
    tag = "TQGl:";
  } else if (f->wVTK->isChecked()) {
    w = new MyFrame(s, 0, parent, 2, 48, 10, 1);
    tag = "TQVtk:";
  } else if (f->wToolBox->isChecked()) {
    QString title;
    MyQToolBox* box = nullptr;
    if (askTitle(this, "hxstudio: Add ToolBox", "Title of first item", &title)) {
      box = new MyQToolBox(s, 0, parent);
      box->setStatusTip("TQToolBox:");
      box->addItem(newPage(root, box), title);
    }
    if (!box) return nullptr;
    if (askTitle(this, "hxstudio: Add ToolBox", "Title of second item", &title))
      box->addItem(newPage(root, box), title);
    w = box;
    tag = "TQToolBox:";
  } else if (f->wQwtPlot->isChecked()) {
    w = new QwtPlotWidget(s, 0, parent, 10, 1000);
    tag = "TQwtPlotWidget:";
  } else if (f->wQwtThermo->isChecked()) {
    w = new MyQwtThermo(s, 0, parent);
    tag = "TQwtThermo:";
  } else if (f->wQwtKnob->isChecked()) {
    w = new MyQwtKnob(s, 0, parent);
    tag = "TQwtKnob:";
  } else if (f->wQwtCounter->isChecked()) {
    w = new MyQwtCounter(s, 0, parent);
    tag = "TQwtCounter:";
  } else if (f->wQwtWheel->isChecked()) {
    w = new MyQwtWheel(s, 0, parent);
    tag = "TQwtWheel:";
  } else if (f->wQwtSlider->isChecked()) {
    w = new MyQwtSlider(s, 0, parent, 1);
    tag = "TQwtSlider:";
  } else if (f->wQwtCompass->isChecked()) {
    w = new MyQwtCompass(s, 0, parent);
    tag = "TQwtCompass:";
  } else if (f->wQwtDial->isChecked()) {
    w = new MyQwtDial(s, 0, parent);
    tag = "TQwtDial:";
  } else if (f->wQwtAnalogClock->isChecked()) {
    w = new MyQwtAnalogClock(s, 0, parent);
    tag = "TQwtAnalogClock:";
  } else if (f->wCustomWidget->isChecked()) {
    w = new MyFrame(s, 0, parent, 2, 32, 5, 1);
    w->setToolTip("Set whatsThis='/library/widgettype:arguments'");
    w->setWhatsThis(f->lineEditCustomWidget->text());
    auto* label = new QLabel(w);
    label->setGeometry(5, 2, 4096, 50);
    label->setText(f->lineEditCustomWidget->text());
    tag = "TQCustomWidget:";
  } else {
    otLog(OT_LOG_WARNING, "newWidget: no radio checked !\n");
    return nullptr;
  }
  w->setStatusTip(tag);
  // A grid of 0 or less counts as 1 (the placement divides by it).
  const int gx = studioOpt.gridX(), gy = studioOpt.gridY();
  mySetGeometry(w, gx * (x / gx), gy * (y / gy), std::max(gx, gx * (100 / gx)),
                std::max(gy, gy * (30 / gy)));
  setDefaultObjectName(root, w);
  w->show();
  return w;
}

void findMax(QObject* o, int* max) {
  if (!o || !max) return;
  for (QObject* c : o->children()) {
    const QByteArray name = c->objectName().toUtf8();
    if (name.size() < 80 && name.startsWith("obj") && name.size() > 3 &&
        isdigit((unsigned char)name[3])) {
      int n = 0;
      if (sscanf(name.constData(), "obj%d", &n) == 1 && n > *max) *max = n;
    }
    findMax(c, max);
  }
}

void setDefaultObjectName(QWidget* root, QWidget* w) {
  if (!w) return;
  int max = 0;
  findMax(root, &max);
  w->setObjectName(QString("obj%1").arg(max + 1));
}

void mySetGeometry(QWidget* w, int x, int y, int width, int height) {
  if (!w) return;
  const QString tip = w->statusTip();
  if (tip.startsWith("TQImage:")) {
    auto* img = static_cast<QImageWidget*>(w);
    img->setGeometry(x, y, width, height);
    if (!w->whatsThis().isEmpty()) img->setImage(w->whatsThis().toUtf8().constData());
    w->clearMask();
  } else if (tip.startsWith("TQDraw:")) {
    auto* draw = static_cast<QDrawWidget*>(w);
    draw->setGeometry(x, y, width, height);
    draw->resize(width, height);
    if (!w->whatsThis().isEmpty()) {
      draw->beginDraw(1);
      draw->setBackgroundColor(255, 255, 255);
      otLogDebug(studioOpt.debug, "draw->playSVG(%s)\n", w->whatsThis().toUtf8().constData());
      draw->playSVG(w->whatsThis().toUtf8().constData());
    } else {
      draw->beginDraw(1);
      draw->setBackgroundColor(128, 128, 0);
    }
    draw->endDraw();
  } else {
    w->setGeometry(x, y, width, height);
  }
}

void myResize(QWidget* w, int width, int height) {
  if (!w) return;
  if (w->statusTip().startsWith("TQImage:") || w->statusTip().startsWith("TQDraw:"))
    mySetGeometry(w, w->x(), w->y(), width, height);
  else
    w->resize(width, height);
}

void myMove(QWidget* w, int x, int y) {
  if (w) w->move(x, y);
}
