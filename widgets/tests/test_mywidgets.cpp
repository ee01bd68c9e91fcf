// The client widget classes: the event lines they send to a real server socket on loopback,
// the server's setters that must stay silent, and the design surface's null socket.
#include "qttestmain.h"

#include <qwt_plot_curve.h>
#include <string>

#include <QImage>
#include <QTabBar>
#include <QTest>

#include "myqwtwidgets.h"
#include "mywidgets_p.h"
#include "mywidgets.h"
#include "otoptions.h"
#include "tcputil.h"
#include "testutil.h"
// The display server played by the client tests: one helper for both sides of the protocol.
#include "fakeserver.h"

namespace {

class MyWidgetsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    otOptionsDefaults(&opt);
    tcp_init();
    ASSERT_GT(server.port(), 0);
    sock = tcp_con("127.0.0.1", server.port());
    ASSERT_GE(sock, 1);
    ASSERT_TRUE(server.accept());
    top.resize(600, 400);
    top.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&top));
  }
  void TearDown() override {
    tcp_close(&sock);
    tcp_free();
  }
  // Places w in the window so that mouse and keys reach it.
  template <class W>
  W* place(W* w, int x, int y, int width = 120, int height = 30) {
    w->setGeometry(x, y, width, height);
    w->show();
    return w;
  }

  FakeServer server;
  int sock = -1;
  QWidget top;
};

TEST_F(MyWidgetsTest, ButtonsLabelsAndChecksSendTheirLines) {
  auto* button = place(new MyQPushButton(&sock, 3, &top), 0, 0);
  auto* label = place(new MyLabel(&sock, 4, &top), 0, 40);
  auto* check = place(new MyCheckBox(&sock, 5, &top), 0, 80);
  auto* group = place(new MyButtonGroup(&sock, 9, &top, 1, 1, "group"), 200, 0, 200, 120);
  auto* r1 = place(new MyRadioButton(&sock, 6, group), 10, 20, 100, 30);
  auto* r2 = place(new MyRadioButton(&sock, 7, group), 10, 60, 100, 30);

  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(server.readLine(), "QPushButtonPressed(3)");
  EXPECT_EQ(server.readLine(), "QPushButtonReleased(3)");
  EXPECT_EQ(server.readLine(), "QPushButton(3)");
  QTest::mouseClick(button, Qt::RightButton);
  EXPECT_EQ(server.readLine(), "QMouseRight(3)");
  QTest::mouseClick(label, Qt::RightButton);
  EXPECT_EQ(server.readLine(), "QMouseRight(4)");
  // A button on the label: its right press is the button's alone.
  auto* inner = place(new MyQPushButton(&sock, 2, label), 0, 0, 20, 20);
  QTest::mouseClick(inner, Qt::RightButton);
  EXPECT_EQ(server.readLine(), "QMouseRight(2)");
  QTest::mouseClick(button, Qt::RightButton);
  EXPECT_EQ(server.readLine(), "QMouseRight(3)");

  QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(8, 15));
  EXPECT_EQ(server.readLine(), "check(5,\"1\")");
  QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(8, 15));
  EXPECT_EQ(server.readLine(), "check(5,\"0\")");

  // The radios of one group exclude each other; the one that loses the check says so first.
  QTest::mouseClick(r1, Qt::LeftButton, {}, QPoint(8, 15));
  EXPECT_EQ(server.readLine(), "radio(6,\"1\")");
  QTest::mouseClick(r2, Qt::LeftButton, {}, QPoint(8, 15));
  EXPECT_EQ(server.readLine(), "radio(6,\"0\")");
  EXPECT_EQ(server.readLine(), "radio(7,\"1\")");
  EXPECT_FALSE(r1->isChecked());
}

TEST_F(MyWidgetsTest, TextsArriveEscapedAndOverlongOnesAreRefusedWhole) {
  auto* edit = place(new MyLineEdit(&sock, 8, &top), 0, 0);
  auto* combo = place(new MyComboBox(&sock, 9, &top, 0, 3), 0, 40);
  auto* list = place(new MyListBox(&sock, 10, &top), 0, 80, 200, 80);
  auto* view = place(new MyListView(&sock, 11, &top), 220, 0, 200, 80);
  auto* icons = place(new MyIconView(&sock, 12, &top), 220, 100, 200, 120);
  auto* marker = place(new MyQPushButton(&sock, 1, &top), 0, 200);

  edit->setFocus();
  QTest::keyClicks(edit, "a\"b\\c");
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(server.readLine(), "text(8,\"a\\\"b\\\\c\")");

  combo->addItem("one");
  combo->addItem("tw\"o");
  QTest::keyClick(combo, Qt::Key_Down);
  EXPECT_EQ(server.readLine(), "text(9,\"tw\\\"o\")");
  for (int policy : {0, 3}) {  // no insert, insert at bottom
    MyComboBox* typed = place(new MyComboBox(&sock, 20 + policy, &top, 1, policy), 300, 250);
    typed->setFocus();
    QTest::keyClicks(typed, "new");
    QTest::keyClick(typed, Qt::Key_Return);
    EXPECT_EQ(server.readLine(), "text(" + std::to_string(20 + policy) + ",\"new\")");
    delete typed;
  }

  list->addItem("first");
  list->addItem("x\"y\\z\nw");
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualItemRect(list->item(1)).center());
  EXPECT_EQ(server.readLine(), "selection(10,0,\"x\\\"y\\\\z\\nw\")");

  view->addItem("row 0");
  view->addItem("row 1");
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                    view->visualItemRect(view->topLevelItem(1)).center());
  EXPECT_EQ(server.readLine(), "selection(11,0,\"row 1\")");

  icons->addItem("icon");
  QTest::mouseClick(icons->viewport(), Qt::LeftButton, {},
                    icons->visualItemRect(icons->item(0)).center());
  EXPECT_EQ(server.readLine(), "selection(12,0,\"icon\")");

  // text(8,"...")\n carries at most 16384 - 11 text bytes.
  const int fits = MY_EVENT_LINE_MAX - 11;
  edit->setMaxLength(fits + 10);
  edit->setText(QString(fits, 'x'));
  QTest::keyClick(edit, Qt::Key_Return);
  std::string longLine = server.readLine();
  EXPECT_EQ(longLine.size() + 1, (size_t)MY_EVENT_LINE_MAX);  // and its line feed
  EXPECT_TRUE(longLine == "text(8,\"" + std::string(fits, 'x') + "\")");

  edit->setText(QString(fits + 1, 'x'));
  {
    ottest::CaptureStdout out;
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_NE(out.text().find("not sent"), std::string::npos);
  }
  // Nothing of the refused line went out: the next line is the marker's.
  QTest::mouseClick(marker, Qt::RightButton);
  EXPECT_EQ(server.readLine(), "QMouseRight(1)");
}

TEST_F(MyWidgetsTest, ValueWidgetsSendSliderAndTabLines) {
  auto* slider = place(new MySlider(&sock, 13, &top, 0, 10, 2, 4, 1), 0, 0);
  auto* dial = place(new MyDial(&sock, 14, &top, 0, 100, 1, 50), 0, 40, 60, 60);
  auto* spin = place(new MySpinBox(&sock, 15, &top, -5, 5, 1), 0, 110);
  auto* tabs = place(new MyQTabWidget(&sock, 16, &top), 200, 0, 300, 100);
  auto* toolBox = place(new MyQToolBox(&sock, 17, &top), 200, 120, 200, 150);

  // Construction values are set before the widget listens: nothing is sent for them.
  EXPECT_EQ(slider->value(), 4);
  EXPECT_EQ(slider->orientation(), Qt::Horizontal);
  QTest::keyClick(slider, Qt::Key_Right);
  EXPECT_EQ(server.readLine(), "slider(13,6)");
  QTest::keyClick(dial, Qt::Key_Up);
  EXPECT_EQ(server.readLine(), "slider(14,51)");
  QTest::keyClick(spin, Qt::Key_Down);
  EXPECT_EQ(server.readLine(), "slider(15,-1)");

  // The server's setRange clamps the value, which the widget reports.
  EXPECT_EQ(mySetRange(slider, 0, 3, 1), 0);
  EXPECT_EQ(server.readLine(), "slider(13,3)");
  EXPECT_EQ(mySetRange(new MyLabel(&sock, 2, &top), 0, 1, 1), -1);

  // Adding the first page makes it current.
  tabs->addTab(new QWidget, "a");
  EXPECT_EQ(server.readLine(), "tab(16,0)");
  tabs->addTab(new QWidget, "b");
  QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(1).center());
  EXPECT_EQ(server.readLine(), "tab(16,1)");

  toolBox->addItem(new QWidget, "first");
  EXPECT_EQ(server.readLine(), "tab(17,0)");
  toolBox->addItem(new QWidget, "second");
  toolBox->setCurrentIndex(1);
  EXPECT_EQ(server.readLine(), "tab(17,1)");
}

TEST_F(MyWidgetsTest, QwtValueWidgetsSendRoundedValues) {
  auto* knob = place(new MyQwtKnob(&sock, 18, &top), 0, 0, 100, 100);
  auto* counter = place(new MyQwtCounter(&sock, 19, &top), 0, 110, 200, 30);
  auto* wheel = place(new MyQwtWheel(&sock, 20, &top), 0, 150, 100, 30);
  auto* qslider = place(new MyQwtSlider(&sock, 21, &top, 2), 300, 0, 60, 200);
  auto* dial = place(new MyQwtDial(&sock, 22, &top), 400, 0, 100, 100);

  EXPECT_EQ(mySetRange(knob, 0, 10, 0.5), 0);
  knob->setValue(2.6);
  EXPECT_EQ(server.readLine(), "slider(18,3)");
  knob->setValue(20);  // beyond the range set above
  EXPECT_EQ(server.readLine(), "slider(18,10)");

  EXPECT_EQ(mySetRange(counter, -10, 10, 0.1), 0);
  counter->setValue(-1.4);
  EXPECT_EQ(server.readLine(), "slider(19,-1)");

  EXPECT_EQ(mySetRange(wheel, 0, 100, 1), 0);
  wheel->setValue(7.5);
  EXPECT_EQ(server.readLine(), "slider(20,8)");

  EXPECT_EQ(qslider->orientation(), Qt::Vertical);
  EXPECT_EQ(mySetRange(qslider, 0, 100, 1), 0);
  qslider->setFocus();
  QTest::keyClick(qslider, Qt::Key_Up);
  EXPECT_EQ(server.readLine(), "slider(21,1)");

  EXPECT_EQ(mySetRange(dial, 0, 360, 10), 0);
  dial->setValue(90.2);
  EXPECT_EQ(server.readLine(), "slider(22,90)");
}

TEST_F(MyWidgetsTest, TableReportsClicksAndUserEditsButNotServerTexts) {
  auto* table = place(new MyTable(&sock, 23, &top, 3, 2), 0, 0, 400, 200);
  EXPECT_EQ(table->rowCount(), 3);
  EXPECT_EQ(table->columnCount(), 2);

  EXPECT_EQ(table->setTableText(1, 2, "server"), 0);
  EXPECT_EQ(table->item(2, 1)->text(), "server");
  EXPECT_EQ(table->setTableText(1, 2, "again"), 0);  // an existing cell
  EXPECT_EQ(table->setTableText(0, -1, "Head"), 0);
  EXPECT_EQ(table->horizontalHeaderItem(0)->text(), "Head");
  EXPECT_EQ(table->setTableText(-1, 1, "Row"), 0);
  EXPECT_EQ(table->verticalHeaderItem(1)->text(), "Row");
  EXPECT_EQ(table->setTableText(2, 0, "x"), -1);
  EXPECT_EQ(table->setTableText(0, 3, "x"), -1);
  EXPECT_EQ(table->setTableText(-1, -1, "x"), -1);
  EXPECT_EQ(table->setTableText(-2, 0, "x"), -1);
  EXPECT_EQ(table->setNumRows(-5), -1);
  EXPECT_EQ(table->setNumCols(-1), -1);
  EXPECT_EQ(table->rowCount(), 3);
  EXPECT_EQ(table->setNumRows(4), 0);
  EXPECT_EQ(table->rowCount(), 4);

  // The first line after all those setters is the click's.
  QRect cell = table->visualItemRect(table->item(2, 1));
  QTest::mouseClick(table->viewport(), Qt::RightButton, {}, cell.center());
  EXPECT_EQ(server.readLine(), "tableClicked(23,1,2,3)");
  QTest::mouseClick(table->viewport(), Qt::MiddleButton, {}, cell.center());
  EXPECT_EQ(server.readLine(), "tableClicked(23,1,2,2)");

  table->setTableText(0, 1, "old");
  QTableWidgetItem* item = table->item(1, 0);
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(item).center());
  EXPECT_EQ(server.readLine(), "tableClicked(23,0,1,1)");
  table->editItem(item);
  QLineEdit* editor = table->viewport()->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, "ed\"it");
  QTest::keyClick(editor, Qt::Key_Return);
  EXPECT_EQ(server.readLine(), "tableText(23,0,1,\"ed\\\"it\")");
  EXPECT_EQ(item->text(), "ed\"it");
}

TEST_F(MyWidgetsTest, LabelBackgroundColourFillsItsPixels) {
  auto* label = place(new MyLabel(&sock, 24, &top), 10, 10, 60, 30);
  label->setText("L");
  mySetBackgroundColor(label, 10, 200, 30);
  mySetForegroundColor(label, 300, -4, 0);  // clamped to (255, 0, 0)
  EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  QImage image = label->grab().toImage();
  ASSERT_FALSE(image.isNull());
  for (QPoint p : {QPoint(1, 1), QPoint(58, 1), QPoint(1, 28), QPoint(58, 28)})
    EXPECT_EQ(image.pixel(p), qRgb(10, 200, 30)) << p.x() << "," << p.y();
}

// The design surface: every class on a null socket, exercised, never sends and never breaks.
TEST(MyWidgetsDesignSurface, NullSocketWidgetsStaySilent) {
  static int nullSocket = -1;
  int* handles[] = {&nullSocket, nullptr};
  for (int* s : handles) {
    QWidget top;
    top.resize(400, 400);
    auto* button = new MyQPushButton(s, 0, &top);
    button->resize(80, 30);
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::mouseClick(button, Qt::RightButton);
    QTest::mouseClick(new MyLabel(s, 0, &top), Qt::RightButton);
    (new MyCheckBox(s, 0, &top))->setChecked(true);
    (new MyRadioButton(s, 0, &top))->setChecked(true);
    auto* edit = new MyLineEdit(s, 0, &top);
    edit->setText("x");
    QTest::keyClick(edit, Qt::Key_Return);
    auto* combo = new MyComboBox(s, 0, &top, 1, 6);
    combo->addItem("a");
    combo->addItem("b");
    QTest::keyClick(combo, Qt::Key_Down);
    (new MySlider(s, 0, &top, 0, 100, 1, 0, 1))->setValue(5);
    (new MyDial(s, 0, &top, 0, 100, 1, 0))->setValue(5);
    (new MySpinBox(s, 0, &top, 0, 100, 1))->setValue(5);
    (new MyQTabWidget(s, 0, &top))->addTab(new QWidget, "t");
    (new MyQToolBox(s, 0, &top))->addItem(new QWidget, "t");
    auto* table = new MyTable(s, 0, &top, 2, 2);
    table->setTableText(0, 0, "a");
    table->item(0, 0)->setText("b");  // as an edit would, past the server's guard
    auto* list = new MyListBox(s, 0, &top);
    list->addItem("a");
    list->setCurrentRow(0);
    new MyQWidget(s, 0, &top);
    new MyQLCDNumber(s, 0, &top, 5, 1, 1);
    new MyFrame(s, 0, &top, 2, 32, 10, 1);
    new MyGroupBox(s, 0, &top, 1, 1, "g");
    new MyButtonGroup(s, 0, &top, 1, 1, "g");
    new MyProgressBar(s, 0, &top, 100, 1);
    new MyMultiLineEdit(s, 0, &top, 0, -1);
    new MyTextBrowser(s, 0, &top);
    new MyListView(s, 0, &top);
    new MyIconView(s, 0, &top);
    new MyQDateEdit(s, 0, &top);
    new MyQTimeEdit(s, 0, &top);
    new MyQDateTimeEdit(s, 0, &top);
    new QwtPlotWidget(s, 0, &top, 10, 1000);
    new MyQwtScale(s, 0, &top, 3);
    new MyQwtThermo(s, 0, &top);
    (new MyQwtKnob(s, 0, &top))->setValue(3);
    (new MyQwtCounter(s, 0, &top))->setValue(3);
    (new MyQwtWheel(s, 0, &top))->setValue(3);
    (new MyQwtSlider(s, 0, &top, 1))->setValue(3);
    (new MyQwtDial(s, 0, &top))->setValue(3);
    (new MyQwtCompass(s, 0, &top))->setValue(3);
    new MyQwtAnalogClock(s, 0, &top);
    top.show();
    QApplication::processEvents();
    EXPECT_EQ(myEvent(s, "text", "text(%d,", 0), -1);
  }
  EXPECT_EQ(nullSocket, -1);
}

TEST(MyWidgetsPlot, CurvesAndMarkersAreBounded) {
  int nullSocket = -1;
  QwtPlotWidget plot(&nullSocket, 0, nullptr, 10, 1000);
  EXPECT_EQ(plot.curveCount(), 10);
  EXPECT_EQ(plot.markerCount(), 1000);
  EXPECT_NE(plot.marker(999), nullptr);
  EXPECT_EQ(plot.marker(1000), nullptr);
  EXPECT_EQ(plot.marker(-1), nullptr);

  const double x[] = {0, 1, 2}, y[] = {5, 6, 7};
  EXPECT_EQ(plot.setCurve(0, "temperature"), 0);
  EXPECT_EQ(plot.curve(0)->title().text(), "temperature");
  EXPECT_EQ(plot.setCurveData(0, x, y, 3), 0);
  EXPECT_EQ(plot.curve(0)->dataSize(), 3u);
  EXPECT_EQ(plot.setCurveData(10, x, y, 3), -1);
  EXPECT_EQ(plot.setCurveData(-1, x, y, 3), -1);
  EXPECT_EQ(plot.setCurveData(0, x, y, -1), -1);
  EXPECT_EQ(plot.setCurveData(0, nullptr, y, 3), -1);
  EXPECT_EQ(plot.setCurveData(0, x, y, MY_PLOT_MAX_POINTS + 1), -1);
  EXPECT_EQ(plot.curve(0)->dataSize(), 3u);  // refused data leaves the curve as it was
  EXPECT_EQ(plot.setCurveData(1, x, y, 0), 0);
  EXPECT_EQ(plot.curve(1)->dataSize(), 0u);
  plot.replot();

  QwtPlotWidget huge(&nullSocket, 0, nullptr, -5, 2000000000);
  EXPECT_EQ(huge.curveCount(), 0);
  EXPECT_EQ(huge.markerCount(), (int)MY_PLOT_MAX_MARKERS);
  EXPECT_EQ(huge.setCurve(0, "none"), -1);
}

}  // namespace
