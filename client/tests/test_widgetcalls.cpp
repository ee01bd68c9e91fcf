// The setters of the widget kinds in the display client, driven by a server played by the test:
// the widgets change as the lines say, the answers come back as event lines, files stay in the
// downloads folder, and lines out of bounds are refused.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMovie>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTimeEdit>
#include <QTreeWidget>
#include <fstream>
#include <sstream>

#include "fakeserver.h"
#include "windowtest.h"
#include "interpreter.h"
#include "mainwindow.h"
#include "mywidgets.h"
#include "otoptions.h"
#include "qdrawwidget.h"
#include "qttestmain.h"
#include "tcputil.h"
#include "testutil.h"

namespace {

class WidgetCalls : public ClientWindowTest {
 protected:
  QWidget* widget(int id) { return window->interpreter()->widget(id); }
  template <typename T>
  T* as(int id) {
    T* w = qobject_cast<T*>(widget(id));
    EXPECT_NE(w, nullptr) << "widget " << id;
    return w;
  }
  // Sends lines and waits until they are carried out; the event lines that came meanwhile.
  std::string run(const std::string& lines) {
    std::string events;
    EXPECT_TRUE(server.send(lines));
    EXPECT_TRUE(server.sync(++syncs, &events));
    return events;
  }
  // How many of the lines the client refused.
  long refused(const std::string& lines) {
    long before = window->interpreter()->ignored();
    run(lines);
    return window->interpreter()->ignored() - before;
  }
  void download(const std::string& name, const QByteArray& bytes) {
    ASSERT_TRUE(server.send("@download(\"" + name + "\"," + std::to_string(bytes.size()) + ")\n" +
                            bytes.toStdString()));
  }
  std::string file(const std::string& name) {
    std::ifstream in(downloads.file("d/" + name), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static QByteArray png(int w, int h, QColor c) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(c);
    QByteArray bytes;
    QBuffer out(&bytes);
    out.open(QIODevice::WriteOnly);
    image.save(&out, "PNG");
    return bytes;
  }

  int syncs = 0;
};

TEST_F(WidgetCalls, TextsFontsFramesAndTheTextsAskedFor) {
  run("startDefinition(8)\nQLabel(1,0)\nQLineEdit(2,0)\nQFrame(3,0,0,16,0,0)\n"
      "QMultiLineEdit(4,0,1,0)\nQProgressBar(5,0,100,1)\nQGroupBox(6,0,1,1,\"g\")\n"
      "setText(1,\"label\")\nsetText(2,\"edit\")\nsetText(4,\"one\\ntwo\")\nendDefinition()\n");
  run("setAlignment(1,132)\nsetAlignment(2,130)\n"
      "setFontDecorated(1,\"Sans\",14,1,1,1,0)\nsetStyle(3,2,32,3,5)\nsetStyle(2,0,16,0,0)\n"
      "setStyle(6,0,16,0,0)\nsetEditable(2,0)\nsetEditable(4,0)\n");
  EXPECT_EQ(as<QLabel>(1)->alignment(), Qt::AlignCenter);
  // A line edit takes the horizontal part only.
  EXPECT_EQ(as<QLineEdit>(2)->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
  QFont f = as<QLabel>(1)->font();
  EXPECT_EQ(f.pointSize(), 14);
  EXPECT_TRUE(f.bold() && f.italic() && f.underline());
  EXPECT_FALSE(f.strikeOut());
  auto* frame = as<QFrame>(3);
  EXPECT_EQ(frame->frameShape(), QFrame::Panel);
  EXPECT_EQ(frame->frameShadow(), QFrame::Raised);
  EXPECT_EQ(frame->lineWidth(), 3);
  EXPECT_EQ(frame->contentsMargins().left(), 5);
  EXPECT_FALSE(as<QLineEdit>(2)->hasFrame());
  EXPECT_TRUE(as<QGroupBox>(6)->isFlat());
  EXPECT_TRUE(as<QLineEdit>(2)->isReadOnly());
  EXPECT_TRUE(as<QPlainTextEdit>(4)->isReadOnly());

  std::string events = run("getText(1)\ngetText(2)\ngetText(4)\n");
  EXPECT_EQ(events, "text(1,\"label\")\ntext(2,\"edit\")\ntext(4,\"one\\ntwo\")\n");
  // A progress bar is no frame here; bad numbers and other kinds are refused.
  EXPECT_EQ(refused("setStyle(5,1,16,1,0)\nsetStyle(3,7,16,1,0)\nsetStyle(3,1,17,1,0)\n"
                    "setAlignment(1,3)\nsetAlignment(3,1)\nsetFontDecorated(1,\"x\",0,0,0,0,0)\n"
                    "getText(3)\nsetEditable(3,1)\n"),
            8);
}

TEST_F(WidgetCalls, ItemsOfComboAndListBoxes) {
  run("startDefinition(4)\nQComboBox(1,0,0,0)\nQListBox(2,0)\nendDefinition()\n");
  for (int id : {1, 2})
    run("insertItem(" + std::to_string(id) + ",-1,\"b\")\ninsertItem(" + std::to_string(id) +
        ",0,\"a\")\ninsertItem(" + std::to_string(id) + ",99,\"d\")\ninsertItem(" +
        std::to_string(id) + ",2,\"c\")\n");
  auto items = [&](int id) {
    QStringList out;
    if (auto* cb = qobject_cast<QComboBox*>(widget(id)))
      for (int i = 0; i < cb->count(); i++)
        out << cb->itemText(i);
    if (auto* lw = qobject_cast<QListWidget*>(widget(id)))
      for (int i = 0; i < lw->count(); i++)
        out << lw->item(i)->text();
    return out.join(',');
  };
  EXPECT_EQ(items(1), "a,b,c,d");
  EXPECT_EQ(items(2), "a,b,c,d");
  std::string events = run(
      "removeItem(1,1)\nremoveItemByName(2,\"c\")\nchangeItem(1,0,\"A\")\nchangeItem(2,2,\"D\")\n"
      "setCurrentItem(1,2)\nsetCurrentItem(2,1)\n");
  EXPECT_EQ(items(1), "A,c,d");
  EXPECT_EQ(items(2), "a,b,D");
  EXPECT_EQ(as<QComboBox>(1)->currentIndex(), 2);
  EXPECT_EQ(as<QListWidget>(2)->currentRow(), 1);
  // What the server sets is not reported as the operator's choice.
  EXPECT_EQ(events, "");
  auto* list = as<QListWidget>(2);
  list->setSelectionMode(QAbstractItemView::MultiSelection);
  list->clearSelection();
  list->item(1)->setSelected(true);
  list->item(2)->setSelected(true);
  events = run("getSelection(2)\n");
  EXPECT_NE(events.find("selection(2,0,\"b\\nD\")\n"), std::string::npos) << events;
  EXPECT_EQ(refused("removeItem(1,3)\nremoveItem(2,-1)\nremoveItemByName(1,\"zz\")\n"
                    "changeItem(2,3,\"x\")\nsetCurrentItem(1,9)\ninsertItem(1,-2,\"x\")\n"
                    "getSelection(1)\n"),
            7);
  EXPECT_EQ(items(1), "A,c,d");
}

TEST_F(WidgetCalls, TableCellsReportWhereTheyAreAndDumpWhatTheOperatorSees) {
  run("startDefinition(3)\nQTable(1,0,3,3)\nsetGeometry(1,0,0,400,300)\nendDefinition()\n"
      "setTableText(1,0,0,\"a,b\")\nsetTableText(1,1,0,\"say \\\"x\\\"\")\n"
      "setTableButton(1,2,1,\"go\")\nsetTableCheckBox(1,0,2,1,\"on\")\n"
      "setTableComboBox(1,1,2,0,\"off,on,auto\")\nsetTableLabel(1,2,2,\"fixed\")\n");
  auto* t = as<MyTable>(1);
  ASSERT_NE(t, nullptr);
  auto* button = qobject_cast<QPushButton*>(t->cellWidget(1, 2));
  auto* check = qobject_cast<QCheckBox*>(t->cellWidget(2, 0));
  auto* combo = qobject_cast<QComboBox*>(t->cellWidget(2, 1));
  ASSERT_TRUE(button && check && combo);
  EXPECT_TRUE(check->isChecked());
  EXPECT_EQ(combo->count(), 3);
  EXPECT_FALSE(t->item(2, 2)->flags() & Qt::ItemIsEditable);
  EXPECT_TRUE(t->item(0, 0)->flags() & Qt::ItemIsEditable);

  // A row inserted above moves the button: its click names the cell where it is now.
  run("insertRows(1,0,1)\n");
  QApplication::processEvents();
  QTest::mouseClick(button, Qt::LeftButton);
  check->setChecked(false);
  combo->setCurrentIndex(2);
  emit combo->activated(2);
  std::string events = run("");
  EXPECT_NE(events.find("tableClicked(1,2,2,1)\n"), std::string::npos) << events;
  EXPECT_NE(events.find("tableText(1,0,3,\"0\")\n"), std::string::npos) << events;
  EXPECT_NE(events.find("tableText(1,1,3,\"auto\")\n"), std::string::npos) << events;

  run("setColumnWidth(1,1,77)\nsetCellEnabled(1,2,2,0)\nsetCellAlignment(1,0,1,130)\n"
      "setHeaderResizeEnabled(1,0,0,-1)\nsetWordWrap(1,0)\nsetEditable(1,0)\n");
  EXPECT_EQ(t->columnWidth(1), 77);
  EXPECT_FALSE(button->isEnabled());
  EXPECT_EQ(t->item(1, 0)->textAlignment(), 130);
  EXPECT_EQ(t->horizontalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
  EXPECT_FALSE(t->wordWrap());
  EXPECT_EQ(t->editTriggers(), QAbstractItemView::NoEditTriggers);

  // The dump: the header line, then CSV with the cells as shown.
  const std::vector<std::string> dump = {"tableDump(4,3)", ";;", "a,b;\"say \"\"x\"\"\";", ";;go",
                                         "0;auto;fixed"};
  size_t bytes = 0;
  for (const std::string& line : dump)
    bytes += line.size() + 1;
  ASSERT_TRUE(server.send("tableDump(1,59)\n"));
  EXPECT_EQ(server.readLine(), "@clipboard(1," + std::to_string(bytes) + ")");
  for (const std::string& line : dump)
    EXPECT_EQ(server.readLine(), line);
  run("saveTable(1,\"cells.csv\")\nremoveRow(1,0)\nremoveColumn(1,2)\n");
  EXPECT_EQ(file("cells.csv"), ",,\n\"a,b\",\"say \"\"x\"\"\",\n,,go\n0,auto,fixed\n");
  EXPECT_EQ(t->rowCount(), 3);
  EXPECT_EQ(t->columnCount(), 2);

  // Bounds: cells outside, the table's limits, too many choices, a bad delimiter.
  std::string choices(3000, ',');
  long before = window->interpreter()->ignored();
  events =
      run("setTableButton(1,5,0,\"x\")\nsetTableLabel(1,0,-1,\"x\")\n"
          "setColumnWidth(1,2,10)\nremoveRow(1,3)\ninsertRows(1,4,1)\n"
          "setTableComboBox(1,0,0,0,\"" +
          choices + "\")\ntableDump(1,34)\nsaveTable(1,\"../up.csv\")\n");
  EXPECT_EQ(window->interpreter()->ignored() - before, 8);
  EXPECT_NE(events.find("@clipboard(1,0)\n"), std::string::npos);  // the refused dump's answer
  run("insertRows(1,3,2000000000)\ninsertColumns(1,0,5000)\n");
  EXPECT_LE((long long)t->rowCount() * t->columnCount(), MY_TABLE_MAX_CELLS);
  EXPECT_EQ(t->rowCount(), MY_TABLE_MAX_ROWS);
  EXPECT_EQ(t->columnCount(), MY_TABLE_MAX_CELLS / MY_TABLE_MAX_ROWS);
}

TEST_F(WidgetCalls, ListViewItemsByPathAndIconViews) {
  download("led.png", png(8, 8, Qt::green));
  run("startDefinition(3)\nQListView(1,0)\nQIconView(2,0)\nendDefinition()\n"
      "addColumn(1,\"Name\",100)\naddColumn(1,\"State\",-1)\n"
      "setListViewText(1,\"/plant/pump 1\",1,\"on\")\nsetListViewText(1,\"/plant/pump 2\",1,"
      "\"off\")\nsetListViewText(1,\"/store\",1,\"full\")\n"
      "setListViewPixmap(1,\"/plant/pump 1\",\"led.png\",0)\n");
  auto* view = as<QTreeWidget>(1);
  ASSERT_EQ(view->topLevelItemCount(), 2);
  QTreeWidgetItem* plant = view->topLevelItem(0);
  EXPECT_EQ(view->columnCount(), 2);
  EXPECT_EQ(view->headerItem()->text(0), "Name");
  EXPECT_EQ(view->headerItem()->text(1), "State");
  EXPECT_FALSE(view->isHeaderHidden());
  ASSERT_EQ(plant->childCount(), 2);
  EXPECT_EQ(plant->child(1)->text(1), "off");
  EXPECT_FALSE(plant->child(0)->icon(0).isNull());
  run("listViewEnsureVisible(1,\"/plant/pump 2\")\nsetSorting(1,1,0)\n");
  EXPECT_TRUE(plant->isExpanded());
  EXPECT_EQ(plant->child(0)->text(1), "on");  // descending by State
  plant->child(1)->setSelected(true);
  view->topLevelItem(0)->setSelected(true);
  std::string events = run("getSelection(1)\n");
  // In the order shown: sorted, the store comes first.
  EXPECT_NE(events.find("selection(1,0,\"/store\\n/plant/pump 2\")\n"), std::string::npos)
      << events;
  run("setListViewText(1,\"/plant/pump 1\",0,\"pump 9\")\nremoveListViewItem(1,\"/store\")\n");
  EXPECT_EQ(view->topLevelItemCount(), 1);
  std::string deep;
  for (int i = 0; i < 33; i++)
    deep += "/x";
  EXPECT_EQ(refused("removeListViewItem(1,\"/plant/pump 1\")\nsetListViewText(1,\"/a\",2,\"x\")\n"
                    "setListViewText(1,\"/a\",0,\"b/c\")\nsetListViewText(1,\"a\",1,\"x\")\n"
                    "setListViewText(1,\"" +
                    deep + "\",1,\"x\")\nsetSorting(1,2,1)\n"),
            6);

  run("setIconViewItem(2,\"one\",\"led.png\")\nsetIconViewItem(2,\"two\",\"\")\n"
      "setIconViewItem(2,\"one\",\"\")\nremoveIconViewItem(2,\"two\")\n");
  auto* icons = as<QListWidget>(2);
  ASSERT_EQ(icons->count(), 1);
  EXPECT_TRUE(icons->item(0)->icon().isNull());
  EXPECT_EQ(refused("setIconViewItem(2,\"x\",\"missing.png\")\nremoveIconViewItem(2,\"two\")\n"),
            2);
}

TEST_F(WidgetCalls, DatesAndTimes) {
  run("startDefinition(4)\nQDateEdit(1,0)\nQTimeEdit(2,0)\nQDateTimeEdit(3,0)\nendDefinition()\n"
      "setMinDate(1,2000,1,1)\nsetMaxDate(1,2030,12,31)\nsetDate(1,2024,2,29)\n"
      "setDateOrder(1,0)\nsetTime(2,13,5,7,0)\nsetTimeEditDisplay(2,1,1,0,1)\n"
      "setTime(3,18,0,0,0)\nsetDate(3,2020,5,6)\nsetDateOrder(3,2)\n");
  EXPECT_EQ(as<QDateEdit>(1)->date(), QDate(2024, 2, 29));
  EXPECT_EQ(as<QDateEdit>(1)->displayFormat(), "dd-MM-yyyy");
  EXPECT_EQ(as<QTimeEdit>(2)->time(), QTime(13, 5, 7));
  EXPECT_EQ(as<QTimeEdit>(2)->displayFormat(), "hh:mm AP");
  run("setMaxTime(2,20,0,0,0)\nsetTime(2,21,0,0,0)\n");
  EXPECT_EQ(as<QTimeEdit>(2)->time(), QTime(20, 0));  // held at its highest time
  auto* both = as<QDateTimeEdit>(3);
  EXPECT_EQ(both->time(), QTime(18, 0));
  EXPECT_EQ(both->date(), QDate(2020, 5, 6));
  EXPECT_EQ(both->displayFormat(), "yyyy-MM-dd HH:mm:ss");
  run("setDate(1,1999,1,1)\n");
  EXPECT_EQ(as<QDateEdit>(1)->date(), QDate(2000, 1, 1));
  EXPECT_EQ(refused("setDate(1,2023,2,29)\nsetDate(2,2020,1,1)\nsetTime(1,1,0,0,0)\n"
                    "setTime(2,24,0,0,0)\nsetDateOrder(1,4)\nsetTimeEditDisplay(2,0,0,0,0)\n"
                    "setMinDate(1,50,1,1)\n"),
            7);
}

TEST_F(WidgetCalls, PicturesClipboardAndFilesOfTheDownloadsFolder) {
  download("red.png", png(20, 10, Qt::red));
  run("startDefinition(4)\nQPushButton(1,0)\nQLabel(2,0)\nsetGeometry(2,0,0,40,30)\n"
      "setBackgroundColor(2,0,0,255)\nendDefinition()\nsetPixmap(1,\"red.png\")\n"
      "setPixmap(2,\"red.png\")\n");
  EXPECT_EQ(as<QPushButton>(1)->iconSize(), QSize(20, 10));
  EXPECT_EQ(as<QLabel>(2)->pixmap(Qt::ReturnByValue).toImage().pixelColor(5, 5), QColor(Qt::red));
  run("setPixmap(2,\"\")\n");
  EXPECT_TRUE(as<QLabel>(2)->pixmap(Qt::ReturnByValue).isNull());

  run("copyToClipboard(2)\nsaveAsBmp(2,\"label.bmp\")\n");
  QImage copied = QApplication::clipboard()->image();
  ASSERT_EQ(copied.size(), QSize(40, 30));
  EXPECT_EQ(copied.pixelColor(20, 15), QColor(0, 0, 255));
  QImage saved = QImage::fromData(QByteArray::fromStdString(file("label.bmp")), "BMP");
  ASSERT_EQ(saved.size(), QSize(40, 30));
  EXPECT_EQ(saved.pixelColor(20, 15), QColor(0, 0, 255));
  // Names outside the folder's rules, missing files and what is no picture are refused.
  download("not.png", "text");
  EXPECT_EQ(refused("saveAsBmp(2,\"../up.bmp\")\nsaveAsBmp(2,\".hidden\")\n"
                    "setPixmap(1,\"missing.png\")\nsetPixmap(1,\"not.png\")\n"
                    "setPixmap(1,\"/etc/passwd\")\n"),
            5);
  EXPECT_FALSE(std::ifstream(downloads.file("up.bmp")).good());
}

// A GIF of two 1x1 frames that loops.
QByteArray twoFrameGif() {
  const unsigned char header[] = {'G',  'I', 'F', '8', '9', 'a', 1,   0,   1,  0,
                                  0x80, 0,   0,   0,   0,   0,   255, 255, 255};
  // Looping for ever (a GIF without this plays once).
  const unsigned char loop[] = {0x21, 0xFF, 11,  'N', 'E', 'T', 'S', 'C', 'A', 'P',
                                'E',  '2',  '.', '0', 3,   1,   0,   0,   0};
  const unsigned char frame[] = {0x21, 0xF9, 4, 0, 10, 0, 0, 0, 0x2C, 0, 0, 0,
                                 0,    1,    0, 1, 0,  0, 2, 2, 0x44, 1, 0};
  QByteArray gif(reinterpret_cast<const char*>(header), sizeof header);
  gif.append(reinterpret_cast<const char*>(loop), sizeof loop);
  for (int i = 0; i < 2; i++)
    gif.append(reinterpret_cast<const char*>(frame), sizeof frame);
  gif.append(';');
  return gif;
}

TEST_F(WidgetCalls, MoviesOfALabel) {
  download("run.gif", twoFrameGif());
  download("still.png", png(4, 4, Qt::red));
  run("startDefinition(2)\nQLabel(1,0)\nendDefinition()\nsetMovie(1,\"run.gif\")\n"
      "movieSpeed(1,250)\n");
  QMovie* movie = as<QLabel>(1)->movie();
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(movie->frameCount(), 2);
  EXPECT_EQ(movie->speed(), 250);
  EXPECT_EQ(movie->state(), QMovie::Running);
  run("movieControl(1,0)\n");
  EXPECT_EQ(movie->state(), QMovie::Paused);
  int frame = movie->currentFrameNumber();
  run("movieControl(1,3)\n");
  EXPECT_EQ(movie->currentFrameNumber(), (frame + 1) % 2);
  run("movieControl(1,1)\n");
  EXPECT_EQ(movie->state(), QMovie::Running);
  EXPECT_EQ(refused("movieSpeed(1,0)\nmovieControl(1,4)\nsetMovie(1,\"missing.gif\")\n"
                    "setMovie(1,\"../run.gif\")\n"),
            4);
  EXPECT_EQ(as<QLabel>(1)->movie(), movie);
}

TEST_F(WidgetCalls, TextBrowserPagesCursorAndScrolling) {
  download("help.html", "<html><body><p>first page</p></body></html>");
  std::string lines;
  for (int i = 0; i < 200; i++)
    lines += "line " + std::to_string(i) + "\\n";
  run("startDefinition(4)\nQTextBrowser(1,0)\nQMultiLineEdit(2,0,1,0)\nsetGeometry(2,0,0,200,100)"
      "\nQTabWidget(3,0)\nendDefinition()\nsetSource(1,\"help.html\")\nsetText(2,\"" +
      lines + "\")\nmoveCursor(2,9)\nsetTabPosition(3,1)\n");
  EXPECT_TRUE(as<QTextBrowser>(1)->toPlainText().contains("first page"));
  auto* edit = as<QPlainTextEdit>(2);
  EXPECT_TRUE(edit->textCursor().atEnd());
  EXPECT_GT(edit->verticalScrollBar()->value(), 0);
  run("moveCursor(2,8)\nmoveCursor(2,5)\nmoveCursor(2,7)\n");
  EXPECT_EQ(edit->textCursor().blockNumber(), 1);
  EXPECT_TRUE(edit->textCursor().atBlockEnd());
  run("moveContent(2,0,0)\n");
  EXPECT_EQ(edit->verticalScrollBar()->value(), 0);
  EXPECT_EQ(as<QTabWidget>(3)->tabPosition(), QTabWidget::South);
  EXPECT_EQ(refused("setSource(1,\"missing.html\")\nsetSource(1,\"/etc/passwd\")\n"
                    "moveCursor(2,12)\nmoveContent(2,-1,0)\nsetTabPosition(3,4)\n"),
            5);
  EXPECT_TRUE(as<QTextBrowser>(1)->toPlainText().contains("first page"));
}

// A drawing stream records itself into a metafile of the downloads folder; replayed, the file
// gives the same picture.
TEST_F(WidgetCalls, DrawingZoomAndMetafiles) {
  run("startDefinition(2)\nQDraw(1,0)\nsetGeometry(1,0,0,60,40)\nendDefinition()\n"
      "setZoomX(1,-1.5)\nsetZoomY(1,1)\n");
  auto* draw = as<QDrawWidget>(1);
  EXPECT_FLOAT_EQ(draw->zoomFactorX(), 1.5f);
  run("gbeginDraw(1)\ngwriteFile(\"plot.hxm\")\ngsetColor(255,0,0)\ngrect(2,2,20,20)\n"
      "gendDraw\n");
  std::string metafile = file("plot.hxm");
  EXPECT_EQ(metafile, "hxMetafile(60,40)\ngsetColor(255,0,0)\ngrect(2,2,20,20)\ngendDraw\n");
  run("gbeginDraw(1)\ngsetColor(0,0,255)\ngwriteFile(\"part.hxm\")\ngrect(0,0,5,5)\n"
      "gcloseFile\ngrect(10,10,5,5)\ngendDraw\n");
  EXPECT_EQ(file("part.hxm"), "hxMetafile(60,40)\ngrect(0,0,5,5)\ngendDraw\n");
  EXPECT_FALSE(draw->recordingToServerFile());

  QDrawWidget replay(nullptr, nullptr, 0, nullptr, 0);
  replay.setZoomX(-1.5);
  replay.setZoomY(-1);
  replay.resizeBuffer(60, 40);
  run("gbeginDraw(1)\ngsetColor(255,0,0)\ngrect(2,2,20,20)\ngendDraw\n");
  ASSERT_EQ(0, replay.showFromFile(downloads.file("d/plot.hxm").c_str()));
  EXPECT_EQ(replay.pixmap().toImage(), draw->pixmap().toImage());
  EXPECT_EQ(draw->pixmap().toImage().pixelColor(20, 10), QColor(255, 0, 0));

  // Names that leave the folder record nothing.
  run("gbeginDraw(1)\ngwriteFile(\"../escape.hxm\")\ngrect(0,0,1,1)\ngendDraw\n");
  EXPECT_FALSE(std::ifstream(downloads.file("escape.hxm")).good());
  EXPECT_EQ(refused("setZoomX(1,1e9)\nsetZoomY(2,1)\n"), 2);
}

TEST_F(WidgetCalls, TheVtkPlaceholderSaysWhatItWouldRun) {
  run("startDefinition(2)\nQVtkTclWidget(1,0)\nendDefinition()\n");
  EXPECT_EQ(refused("vtkTcl(1,\"$ren Render\")\n"), 0);
  EXPECT_EQ(refused("vtkTcl(5,\"x\")\n"), 1);
}

}  // namespace
