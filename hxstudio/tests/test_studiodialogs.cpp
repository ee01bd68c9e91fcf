// The insert-widget and property dialogs on a design surface, driven as a user drives them:
// every kind of the catalogue inserted with its tag, name, size and grid place; properties
// edited and read back; and every widget made this way survives the trip through a .ui file
// (and uic) unchanged.
#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTableWidget>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBox>
#include <QtTest>

#include "dlginsertwidget.h"
#include "dlgproperty.h"
#include "qtlsan.h"
#include "studiokinds.h"
#include "studioopt.h"
#include "ui_dlginsertwidget.h"
#include "ui_dlgproperty.h"
#include "uiwidgets.h"

namespace {

// Answers the next text input dialog with text (or cancels it for a null text).
void answerNextInput(const QString& text) {
  QTimer::singleShot(0, [text] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* in = qobject_cast<QInputDialog*>(w);
      if (!in || !in->isVisible()) continue;
      if (text.isNull()) {
        in->reject();
      } else {
        in->setTextValue(text);
        in->accept();
      }
      return;
    }
  });
}

// Every catalogue kind: its radio button, the tag and the .ui class it must give.
struct Kind {
  const char* radio;
  const char* tag;
};
const Kind kKinds[] = {
    {"wTabWidget", "TQTabWidget:"},
    {"wLabel", "TQLabel:"},
    {"wPushButton", "TQPushButton:"},
    {"wRadioButton", "TQRadio:"},
    {"wCheckBox", "TQCheck:"},
    {"wLineEdit", "TQLineEdit:"},
    {"wSpinBox", "TQSpinBox:"},
    {"wComboxBox", "TQComboBox:"},
    {"wLCDNumber", "TQLCDNumber:"},
    {"wSlider", "TQSlider:"},
    {"wDial", "TQDial:"},
    {"wProgressBar", "TQProgressBar:"},
    {"wDateEdit", "TQDateEdit:"},
    {"wTimeEdit", "TQTimeEdit:"},
    {"wDateTimeEdit", "TQDateTimeEdit:"},
    {"wGroupBox", "TQGroupBox:"},
    {"wFrame", "TQFrame:"},
    {"wTable", "TQTable:"},
    {"wMultiLineEdit", "TQMultiLineEdit:"},
    {"wTextBrowser", "TQTextBrowser:"},
    {"wListView", "TQListView:"},
    {"wListBox", "TQListBox:"},
    {"wIconView", "TQIconView:"},
    {"wImage", "TQImage:"},
    {"wDraw", "TQDraw:"},
    {"wOpenGL", "TQGl:"},
    {"wVTK", "TQVtk:"},
    {"wToolBox", "TQToolBox:"},
    {"wQwtPlot", "TQwtPlotWidget:"},
    {"wQwtThermo", "TQwtThermo:"},
    {"wQwtKnob", "TQwtKnob:"},
    {"wQwtCounter", "TQwtCounter:"},
    {"wQwtWheel", "TQwtWheel:"},
    {"wQwtSlider", "TQwtSlider:"},
    {"wQwtCompass", "TQwtCompass:"},
    {"wQwtDial", "TQwtDial:"},
    {"wQwtAnalogClock", "TQwtAnalogClock:"},
    {"wCustomWidget", "TQCustomWidget:"},
};

class StudioDialogs : public QObject {
  Q_OBJECT

  void check(dlgInsertWidget& d, const char* radio) {
    d.findChild<QRadioButton*>(radio)->setChecked(true);
  }

 private slots:
  void init() { studioOpt = StudioOptions(); }

  void insertsEveryKind() {
    QWidget root;
    root.resize(2000, 2000);
    dlgInsertWidget d;
    d.form->spinBoxSliderMax->setValue(500);
    d.form->spinBoxSliderVal->setValue(40);
    d.form->lineEditGroupBoxTitle->setText("Pumps");
    d.form->comboBoxFrameShape->setCurrentIndex(1);   // Panel
    d.form->comboBoxFrameShadow->setCurrentIndex(2);  // Sunken
    d.form->lineEditCustomWidget->setText("/libgauge/Gauge:red");
    int expectedNumber = 1;
    int y = 0;
    for (const Kind& k : kKinds) {
      check(d, k.radio);
      const bool pages = QString(k.tag) == "TQTabWidget:" || QString(k.tag) == "TQToolBox:";
      if (pages) {
        answerNextInput("first");
        if (QString(k.tag) == "TQToolBox:")
          QTimer::singleShot(50, [] { answerNextInput("second"); });
      }
      QWidget* w = d.newWidget(&root, &root, 47, 33 + y);
      QVERIFY2(w, k.radio);
      QCOMPARE(w->statusTip(), QString(k.tag));
      QCOMPARE(w->geometry(), QRect(40, 30 + y, 100, 30));
      const int pageCount = QString(k.tag) == "TQToolBox:" ? 2 : pages ? 1 : 0;
      // Pages are named before their container.
      QCOMPARE(w->objectName(), QString("obj%1").arg(expectedNumber + pageCount));
      expectedNumber += pageCount + 1;
      QCOMPARE(uiDesignChildren(w).size(), pageCount);
      const StudioKind* kind = studioKindByTag(k.tag);
      QVERIFY(kind);
      QCOMPARE(uiCapture(w).className, QString(kind->uiClass));
      y += 40;
    }
    // Parameters reach the widgets.
    auto* slider = root.findChild<QSlider*>();
    QCOMPARE(slider->maximum(), 500);
    QCOMPARE(slider->value(), 40);
    QCOMPARE(slider->orientation(), Qt::Horizontal);
    for (QWidget* w : uiDesignChildren(&root)) {
      if (w->statusTip() == "TQFrame:") {
        auto* f = static_cast<QFrame*>(w);
        QCOMPARE(f->frameShape(), QFrame::Panel);
        QCOMPARE(f->frameShadow(), QFrame::Sunken);
      }
      if (w->statusTip() == "TQGroupBox:") QCOMPARE(uiWidgetText(w), QString("Pumps"));
      if (w->statusTip() == "TQCustomWidget:") {
        QCOMPARE(w->whatsThis(), QString("/libgauge/Gauge:red"));
        QCOMPARE(w->findChild<QLabel*>()->text(), QString("/libgauge/Gauge:red"));
      }
    }
    auto* tools = root.findChild<QToolBox*>();
    QCOMPARE(tools->itemText(1), QString("second"));
  }

  void placesOnTheGrid() {
    QWidget root;
    dlgInsertWidget d;
    check(d, "wLabel");
    studioOpt.xGrid = studioOpt.yGrid = 7;
    QCOMPARE(d.newWidget(&root, &root, 47, 33)->geometry(), QRect(42, 28, 98, 28));
    // A grid of 0 or less counts as 1 instead of dividing by it.
    studioOpt.xGrid = 0;
    studioOpt.yGrid = -3;
    QCOMPARE(d.newWidget(&root, &root, 47, 33)->geometry(), QRect(47, 33, 100, 30));
  }

  void cancelledTitlesBuildNothing() {
    QWidget root;
    dlgInsertWidget d;
    check(d, "wTabWidget");
    answerNextInput(QString());
    QVERIFY(!d.newWidget(&root, &root, 0, 0));
    answerNextInput("");
    QVERIFY(!d.newWidget(&root, &root, 0, 0));
    check(d, "wToolBox");
    answerNextInput(QString());
    QVERIFY(!d.newWidget(&root, &root, 0, 0));
    QCOMPARE(root.findChildren<QWidget*>().size(), 0);
    QVERIFY(!d.newWidget(&root, nullptr, 0, 0));
  }

  void namesCountOnlyObjNumbers() {
    QWidget root;
    for (const char* name : {"objA", "obj", "obj7x", "obj12", "label3"}) {
      auto* w = new QWidget(&root);
      w->setObjectName(name);
    }
    auto* longName = new QWidget(&root);
    longName->setObjectName("obj99" + QString(80, 'x'));
    int max = 0;
    findMax(&root, &max);
    QCOMPARE(max, 12);
    auto* w = new QWidget(&root);
    setDefaultObjectName(&root, w);
    QCOMPARE(w->objectName(), QString("obj13"));
  }

  void propertyDialogRoundTrip() {
    QWidget root;
    dlgInsertWidget d;
    check(d, "wLabel");
    QWidget* label = d.newWidget(&root, &root, 10, 10);
    dlgProperty p(label, {"sine60", "setpoint"});
    QCOMPARE(p.form->labelType->text(), QString("TQLabel:"));
    QCOMPARE(p.form->spinBoxFgRed->value(), -1);
    p.form->spinBoxX->setValue(20);
    p.form->spinBoxW->setValue(150);
    p.form->lineEditText->setText("a\\nb");
    p.form->lineEditToolTip->setText("level <m>");
    p.form->comboBoxFontFamily->setCurrentText("default");
    p.form->spinBoxFontSize->setValue(9);
    p.form->spinBoxBgRed->setValue(255);
    p.form->spinBoxBgGreen->setValue(255);
    p.form->spinBoxBgBlue->setValue(0);
    p.form->comboBoxShape->setCurrentText("Box");
    p.form->spinBoxMargin->setValue(3);
    p.form->comboBoxTag->setCurrentText("sine60");
    QSignalSpy applied(&p, &dlgProperty::applied);
    p.slotUpdate();
    QCOMPARE(applied.count(), 1);
    QCOMPARE(uiWidgetText(label), QString("a\nb"));
    // Default family, size 9, no style: the font is not set.
    QCOMPARE(label->statusTip(), QString("TQLabel:background:"));
    QCOMPARE(label->geometry(), QRect(20, 10, 150, 30));
    QCOMPARE(label->property(STUDIO_TAG_PROPERTY).toString(), QString("sine60"));
    // Size 10 sets it; a colour of -1 unsets the background.
    p.form->spinBoxFontSize->setValue(10);
    p.form->spinBoxBgGreen->setValue(-1);
    p.form->spinBoxFgRed->setValue(200);
    p.form->spinBoxFgGreen->setValue(0);
    p.form->spinBoxFgBlue->setValue(0);
    p.slotUpdate();
    QCOMPARE(label->statusTip(), QString("TQLabel:font:foreground:"));
    QCOMPARE(label->palette().color(QPalette::WindowText), QColor(200, 0, 0));
    QCOMPARE(label->palette().color(QPalette::Window), QPalette().color(QPalette::Window));

    // Reopened, the dialog shows what was set, line breaks as \n.
    dlgProperty again(label);
    QCOMPARE(again.form->lineEditText->text(), QString("a\\nb"));
    QCOMPARE(again.form->spinBoxFontSize->value(), 10);
    QCOMPARE(again.form->spinBoxFgRed->value(), 200);
    QCOMPARE(again.form->spinBoxBgRed->value(), -1);
    QCOMPARE(again.form->comboBoxShape->currentText(), QString("Box"));
    QCOMPARE(again.form->spinBoxMargin->value(), 3);
    QCOMPARE(again.form->comboBoxTag->currentText(), QString("sine60"));

    // Into a file and back: the same node, and uic reads it.
    UiForm form = uiCaptureForm(&root, "mask1");
    UiForm read;
    QString error;
    QVERIFY(uiParse(uiFormat(form), &read, &error) == 0);
    QWidget rebuilt;
    uiBuildForm(read, &rebuilt, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(uiCaptureForm(&rebuilt, "mask1").root == form.root);
    QWidget* copy = uiDesignChildren(&rebuilt).value(0);
    QCOMPARE(uiWidgetText(copy), QString("a\nb"));
    QCOMPARE(copy->font().pointSize(), 10);
    QCOMPARE(copy->palette().color(QPalette::WindowText), QColor(200, 0, 0));
  }

  void tableAndListProperties() {
    QWidget root;
    dlgInsertWidget d;
    check(d, "wTable");
    QWidget* table = d.newWidget(&root, &root, 0, 0);
    check(d, "wListBox");
    QWidget* list = d.newWidget(&root, &root, 0, 50);
    dlgProperty pt(table);
    QCOMPARE(pt.form->spinBoxNumRows->value(), 2);
    pt.form->spinBoxNumRows->setValue(10000);
    pt.form->spinBoxNumColumns->setValue(1000);
    pt.slotOk();
    // No table larger than the client shows.
    QVERIFY(static_cast<QTableWidget*>(table)->rowCount() *
                static_cast<QTableWidget*>(table)->columnCount() <=
            1000000);
    dlgProperty pl(list);
    pl.form->comboBoxMultiSection->setCurrentText("NoSelection");
    pl.slotOk();
    QCOMPARE(static_cast<QAbstractItemView*>(list)->selectionMode(),
             QAbstractItemView::NoSelection);
    // Cancel changes nothing.
    dlgProperty pc(list);
    pc.form->lineEditObjectName->setText("changed");
    pc.slotCancel();
    QVERIFY(list->objectName() != "changed");
  }

  // Every kind, with its parameters and a few properties, survives capture, file and build.
  void everyKindSurvivesTheFile() {
    QWidget root;
    root.resize(1200, 1600);
    dlgInsertWidget d;
    d.form->lineEditImageFileName->setText("pump.png");
    int y = 0;
    for (const Kind& k : kKinds) {
      check(d, k.radio);
      if (QString(k.tag) == "TQTabWidget:") answerNextInput("Tab one");
      if (QString(k.tag) == "TQToolBox:") {
        answerNextInput("Item one");
        QTimer::singleShot(50, [] { answerNextInput("Item two"); });
      }
      QWidget* w = d.newWidget(&root, &root, 10, y);
      QVERIFY(w);
      w->setToolTip(QString("tip of %1").arg(k.tag));
      y += 40;
    }
    // A widget inside a tab page.
    auto* tab = root.findChild<QTabWidget*>();
    check(d, "wCheckBox");
    QVERIFY(d.newWidget(&root, tab->widget(0), 5, 5));
    const UiForm form = uiCaptureForm(&root, "mask1");
    const QByteArray text = uiFormat(form);
    UiForm read;
    QString error;
    QVERIFY(uiParse(text, &read, &error) == 0);
    QWidget rebuilt;
    uiBuildForm(read, &rebuilt, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QByteArray again = uiFormat(uiCaptureForm(&rebuilt, "mask1"));
    QCOMPARE(QString::fromUtf8(again), QString::fromUtf8(text));

    QTemporaryDir dir;
    QFile f(dir.filePath("mask1.ui"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
    f.close();
    QProcess uic;
    uic.start(HX_UIC, {f.fileName()});
    QVERIFY(uic.waitForFinished(30000));
    QCOMPARE(uic.exitCode(), 0);
    const QByteArray code = uic.readAllStandardOutput();
    QVERIFY(code.contains("new QwtThermo(mask1)"));
    QVERIFY(code.contains("Tab one"));
  }
};

}  // namespace

QTEST_MAIN(StudioDialogs)
#include "test_studiodialogs.moc"
