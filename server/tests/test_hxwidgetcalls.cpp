// The setters of the widget kinds against a plain socket as the client: the lines byte for byte,
// refusals that send nothing, the table dumps that wait for the client's cells, and the CSV
// reader and SQL writer behind them.
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hxserver.h"
#include "hxtestutil.h"
#include "hxwidgetcalls_p.h"
#include "testutil.h"

namespace {

using hxtest::Client;
using hxtest::HxServerTest;

// Reads lines up to and including "endDefinition()\n".
std::string untilEnd(Client& c) {
  std::string all;
  for (;;) {
    std::string line = c.line();
    all += line;
    if (line.empty() || line == "endDefinition()\n") return all;
  }
}

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Sent {
  std::function<int(PARAM_*)> call;
  const char* line;
};

TEST_F(HxServerTest, WidgetCallsSendTheirLines) {
  const float xs[] = {3, 4, 1, 2}, ys[] = {30, 40, 10, 20};
  const std::vector<Sent> calls = {
      {[](PARAM_* p) { return hxToolTip(p, 1, "tip"); }, "setToolTip(1,\"tip\")\n"},
      {[](PARAM_* p) { return hxSetPaletteBackgroundColor(p, 1, 1, 2, 3); },
       "setBackgroundColor(1,1,2,3)\n"},
      {[](PARAM_* p) { return hxSetPaletteForegroundColor(p, 1, 4, 5, 6); },
       "setForegroundColor(1,4,5,6)\n"},
      {[](PARAM_* p) { return hxSetFontColor(p, 1, 7, 8, 9); }, "setForegroundColor(1,7,8,9)\n"},
      {[](PARAM_* p) { return hxSetFont(p, 1, "Sans", 12, 1, 0, 5, 1); },
       "setFontDecorated(1,\"Sans\",12,1,0,1,1)\n"},
      {[](PARAM_* p) { return hxCopyToClipboard(p, 2); }, "copyToClipboard(2)\n"},
      {[](PARAM_* p) { return hxSaveAsBmp(p, 2, "shot.bmp"); }, "saveAsBmp(2,\"shot.bmp\")\n"},
      {[](PARAM_* p) { return hxSetAlignment(p, 1, HX_ALIGN_RIGHT | HX_ALIGN_VCENTER); },
       "setAlignment(1,130)\n"},
      {[](PARAM_* p) { return hxText(p, 1); }, "getText(1)\n"},
      {[](PARAM_* p) { return hxSetStyle(p, 1, 6, 48, 2, 3); }, "setStyle(1,6,48,2,3)\n"},
      {[](PARAM_* p) { return hxSetMovie(p, 1, "run.gif"); }, "setMovie(1,\"run.gif\")\n"},
      {[](PARAM_* p) { return hxMovieControl(p, 1, HX_MOVIE_RESTART); }, "movieControl(1,2)\n"},
      {[](PARAM_* p) { return hxMovieSpeed(p, 1, 200); }, "movieSpeed(1,200)\n"},
      {[](PARAM_* p) { return hxSetPixmap(p, 1, ""); }, "setPixmap(1,\"\")\n"},
      {[](PARAM_* p) { return hxSetEditable(p, 1, 7); }, "setEditable(1,1)\n"},
      {[](PARAM_* p) { return hxInsertItem(p, 3, -1, "x"); }, "insertItem(3,-1,\"x\")\n"},
      {[](PARAM_* p) { return hxRemoveItem(p, 3, 2); }, "removeItem(3,2)\n"},
      {[](PARAM_* p) { return hxRemoveItemByName(p, 3, "a\"b"); },
       "removeItemByName(3,\"a\\\"b\")\n"},
      {[](PARAM_* p) { return hxSetCurrentItem(p, 3, 0); }, "setCurrentItem(3,0)\n"},
      {[](PARAM_* p) { return hxChangeItem(p, 3, 1, "y"); }, "changeItem(3,1,\"y\")\n"},
      {[](PARAM_* p) { return hxSelection(p, 3); }, "getSelection(3)\n"},
      {[](PARAM_* p) { return hxSetZoomX(p, 4, -1.5); }, "setZoomX(4,-1.5)\n"},
      {[](PARAM_* p) { return hxSetZoomY(p, 4, 2); }, "setZoomY(4,2)\n"},
      {[](PARAM_* p) { return hxSetTabPosition(p, 5, HX_TAB_LEFT); }, "setTabPosition(5,2)\n"},
      {[](PARAM_* p) { return hxSetTableButton(p, 6, 1, 2, "go"); },
       "setTableButton(6,1,2,\"go\")\n"},
      {[](PARAM_* p) { return hxSetTableCheckBox(p, 6, 1, 2, 3, "on"); },
       "setTableCheckBox(6,1,2,1,\"on\")\n"},
      {[](PARAM_* p) { return hxSetTableComboBox(p, 6, 0, 0, 0, "a,b"); },
       "setTableComboBox(6,0,0,0,\"a,b\")\n"},
      {[](PARAM_* p) { return hxSetTableLabel(p, 6, 0, 1, "fixed"); },
       "setTableLabel(6,0,1,\"fixed\")\n"},
      {[](PARAM_* p) { return hxTablePrintf(p, 6, 2, 3, "%d%%", 50); },
       "setTableText(6,2,3,\"50%\")\n"},
      {[](PARAM_* p) { return hxSetColumnWidth(p, 6, 1, 80); }, "setColumnWidth(6,1,80)\n"},
      {[](PARAM_* p) { return hxSetWordWrap(p, 6, 0); }, "setWordWrap(6,0)\n"},
      {[](PARAM_* p) { return hxSetTablePixmap(p, 6, 0, 0, "led.png"); },
       "setTablePixmap(6,0,0,\"led.png\")\n"},
      {[](PARAM_* p) { return hxEnsureCellVisible(p, 6, 9, 99); }, "ensureCellVisible(6,9,99)\n"},
      {[](PARAM_* p) { return hxTableSetEnabled(p, 6, 1, 1, 0); }, "setCellEnabled(6,1,1,0)\n"},
      {[](PARAM_* p) { return hxTableSetHeaderResizeEnabled(p, 6, 1, 0, -1); },
       "setHeaderResizeEnabled(6,1,0,-1)\n"},
      {[](PARAM_* p) { return hxInsertRows(p, 6, 0, 2); }, "insertRows(6,0,2)\n"},
      {[](PARAM_* p) { return hxInsertColumns(p, 6, 3, 1); }, "insertColumns(6,3,1)\n"},
      {[](PARAM_* p) { return hxRemoveRow(p, 6, 1); }, "removeRow(6,1)\n"},
      {[](PARAM_* p) { return hxRemoveColumn(p, 6, 0); }, "removeColumn(6,0)\n"},
      {[](PARAM_* p) { return hxSetTableTextAlignment(p, 6, 0, 0, HX_ALIGN_CENTER); },
       "setCellAlignment(6,0,0,132)\n"},
      {[](PARAM_* p) { return hxSave(p, 6, "cells.csv"); }, "saveTable(6,\"cells.csv\")\n"},
      {[](PARAM_* p) { return hxMoveCursor(p, 7, HX_CURSOR_END); }, "moveCursor(7,9)\n"},
      {[](PARAM_* p) { return hxSetSource(p, 7, "help.html"); }, "setSource(7,\"help.html\")\n"},
      {[](PARAM_* p) { return hxMoveContent(p, 7, 0, 120); }, "moveContent(7,0,120)\n"},
      {[](PARAM_* p) { return hxAddColumn(p, 8, "Name", -1); }, "addColumn(8,\"Name\",-1)\n"},
      {[](PARAM_* p) { return hxSetListViewText(p, 8, "/plant/pump 1", 1, "on"); },
       "setListViewText(8,\"/plant/pump 1\",1,\"on\")\n"},
      {[](PARAM_* p) { return hxListViewPrintf(p, 8, "/plant", 1, "%.1f", 2.25); },
       "setListViewText(8,\"/plant\",1,\"2.2\")\n"},
      {[](PARAM_* p) { return hxSetListViewPixmap(p, 8, "/plant", "led.png", 0); },
       "setListViewPixmap(8,\"/plant\",\"led.png\",0)\n"},
      {[](PARAM_* p) { return hxRemoveListViewItem(p, 8, "/plant"); },
       "removeListViewItem(8,\"/plant\")\n"},
      {[](PARAM_* p) { return hxSetSorting(p, 8, -1, 1); }, "setSorting(8,-1,1)\n"},
      {[](PARAM_* p) { return hxListViewEnsureVisible(p, 8, "/a/b"); },
       "listViewEnsureVisible(8,\"/a/b\")\n"},
      {[](PARAM_* p) { return hxRemoveIconViewItem(p, 9, "x"); }, "removeIconViewItem(9,\"x\")\n"},
      {[](PARAM_* p) { return hxSetIconViewItem(p, 9, "x", "x.png"); },
       "setIconViewItem(9,\"x\",\"x.png\")\n"},
      {[](PARAM_* p) { return hxSetDate(p, 10, 2024, 2, 29); }, "setDate(10,2024,2,29)\n"},
      {[](PARAM_* p) { return hxSetMinDate(p, 10, 2000, 1, 1); }, "setMinDate(10,2000,1,1)\n"},
      {[](PARAM_* p) { return hxSetMaxDate(p, 10, 2099, 12, 31); }, "setMaxDate(10,2099,12,31)\n"},
      {[](PARAM_* p) { return hxSetDateOrder(p, 10, HX_DATE_YMD); }, "setDateOrder(10,2)\n"},
      {[](PARAM_* p) { return hxSetTime(p, 11, 23, 59, 58, 999); }, "setTime(11,23,59,58,999)\n"},
      {[](PARAM_* p) { return hxSetMinTime(p, 11, 6, 0, 0, 0); }, "setMinTime(11,6,0,0,0)\n"},
      {[](PARAM_* p) { return hxSetMaxTime(p, 11, 22, 0, 0, 0); }, "setMaxTime(11,22,0,0,0)\n"},
      {[](PARAM_* p) { return hxSetTimeEditDisplay(p, 11, 1, 1, 0, 2); },
       "setTimeEditDisplay(11,1,1,0,1)\n"},
      {[](PARAM_* p) { return hxVtkTcl(p, 12, "$ren Render"); }, "vtkTcl(12,\"$ren Render\")\n"},
      {[](PARAM_* p) { return gBeginDraw(p, 4); }, "gbeginDraw(4)\n"},
      {[](PARAM_* p) { return gWriteFile(p, "trend.hxm"); }, "gwriteFile(\"trend.hxm\")\n"},
      {[&](PARAM_* p) { return gBufferedLine(p, xs, ys, 4, 2); },
       "gline(-n=4)\n1.000000,10.000000\n2.000000,20.000000\n3.000000,30.000000\n"
       "4.000000,40.000000\n}\n"},
      {[&](PARAM_* p) { return gBufferedLine(p, xs, ys, 0, 0); }, "gline(-n=0)\n}\n"},
      {[](PARAM_* p) { return gCloseFile(p); }, "gcloseFile\n"},
      {[](PARAM_* p) { return gEndDraw(p); }, "gendDraw\n"},
  };
  std::vector<int> results;
  start([&](PARAM_* p) {
    hxStartDefinition(p, 20);
    for (const Sent& s : calls)
      results.push_back(s.call(p));
    hxEndDefinition(p);
    return 0;
  });
  Client c(port());
  EXPECT_EQ("startDefinition(20)\n", c.line());
  std::string expected;
  for (const Sent& s : calls)
    expected += s.line;
  EXPECT_EQ(expected + "endDefinition()\n", untilEnd(c));
  ASSERT_EQ(calls.size(), results.size());
  for (size_t i = 0; i < results.size(); i++)
    EXPECT_EQ(0, results[i]) << calls[i].line;
}

// Each of these is refused with nothing sent: what follows the definition comes next.
TEST_F(HxServerTest, RefusedWidgetCallsSendNothing) {
  const float xs[] = {1, 2}, ys[] = {1, 2};
  const std::vector<std::function<int(PARAM_*)>> bad = {
      [](PARAM_* p) { return hxToolTip(p, 20, "id outside the mask"); },
      [](PARAM_* p) { return hxSetFontColor(p, 1, 256, 0, 0); },
      [](PARAM_* p) { return hxSetFont(p, 1, "Sans", 0, 0, 0, 0, 0); },
      [](PARAM_* p) { return hxSetFont(p, 1, nullptr, 10, 0, 0, 0, 0); },
      [](PARAM_* p) { return hxSaveAsBmp(p, 1, "../up.bmp"); },
      [](PARAM_* p) { return hxSaveAsBmp(p, 1, ".hidden"); },
      [](PARAM_* p) { return hxSaveAsBmp(p, 1, ""); },
      [](PARAM_* p) { return hxSetAlignment(p, 1, HX_ALIGN_LEFT | HX_ALIGN_RIGHT); },
      [](PARAM_* p) { return hxSetAlignment(p, 1, 0x100); },
      [](PARAM_* p) { return hxSetStyle(p, 1, 7, 16, 1, 0); },
      [](PARAM_* p) { return hxSetStyle(p, 1, 1, 17, 1, 0); },
      [](PARAM_* p) { return hxSetStyle(p, 1, 1, 16, 101, 0); },
      [](PARAM_* p) { return hxSetMovie(p, 1, "a/b.gif"); },
      [](PARAM_* p) { return hxMovieControl(p, 1, 4); },
      [](PARAM_* p) { return hxMovieSpeed(p, 1, 0); },
      [](PARAM_* p) { return hxSetPixmap(p, 1, "a\\b.png"); },
      [](PARAM_* p) { return hxInsertItem(p, 3, -2, "x"); },
      [](PARAM_* p) { return hxRemoveItem(p, 3, -1); },
      [](PARAM_* p) { return hxSetZoomX(p, 4, INFINITY); },
      [](PARAM_* p) { return hxSetTabPosition(p, 5, 4); },
      [](PARAM_* p) { return hxSetTableButton(p, 6, HX_MAX_TABLE_COLS, 0, "x"); },
      [](PARAM_* p) { return hxSetTableLabel(p, 6, 0, -1, "x"); },
      [](PARAM_* p) { return hxSetColumnWidth(p, 6, 0, 40000); },
      [](PARAM_* p) { return hxTableSetHeaderResizeEnabled(p, 6, 0, 1, -2); },
      [](PARAM_* p) { return hxInsertRows(p, 6, 0, 0); },
      [](PARAM_* p) { return hxSetTableTextAlignment(p, 6, 0, 0, 3); },
      [](PARAM_* p) { return hxMoveCursor(p, 7, 12); },
      [](PARAM_* p) { return hxMoveContent(p, 7, -1, 0); },
      [](PARAM_* p) { return hxTablePrintf(p, 6, 0, 0, "%s", std::string(20000, 'x').c_str()); },
      [](PARAM_* p) { return hxSetListViewText(p, 8, "plant", 0, "x"); },
      [](PARAM_* p) { return hxSetListViewText(p, 8, "/a//b", 0, "x"); },
      [](PARAM_* p) { return hxSetListViewText(p, 8, "/a", 0, "x/y"); },
      [](PARAM_* p) { return hxSetListViewText(p, 8, "/a", HX_MAX_LISTVIEW_COLS, "x"); },
      [](PARAM_* p) {
        std::string deep;
        for (int i = 0; i <= HX_MAX_LISTVIEW_DEPTH; i++)
          deep += "/x";
        return hxRemoveListViewItem(p, 8, deep.c_str());
      },
      [](PARAM_* p) { return hxAddColumn(p, 8, "x", -2); },
      [](PARAM_* p) { return hxSetSorting(p, 8, -2, 0); },
      [](PARAM_* p) { return hxSetDate(p, 10, 2023, 2, 29); },
      [](PARAM_* p) { return hxSetMinDate(p, 10, 99, 1, 1); },
      [](PARAM_* p) { return hxSetMaxDate(p, 10, 2000, 4, 31); },
      [](PARAM_* p) { return hxSetDateOrder(p, 10, 4); },
      [](PARAM_* p) { return hxSetTime(p, 11, 24, 0, 0, 0); },
      [](PARAM_* p) { return hxSetMaxTime(p, 11, 0, 0, 0, 1000); },
      [](PARAM_* p) { return hxSetTimeEditDisplay(p, 11, 0, 0, 0, 1); },
      [](PARAM_* p) { return gWriteFile(p, "a\"b"); },
      [](PARAM_* p) { return gWriteFile(p, "../metafile"); },
      [&](PARAM_* p) { return gBufferedLine(p, xs, ys, 2, 2); },
      [&](PARAM_* p) { return gBufferedLine(p, xs, ys, 2, -1); },
      [&](PARAM_* p) { return gBufferedLine(p, nullptr, ys, 2, 0); },
      [](PARAM_* p) { return hxCSVdump(p, 6, "out.csv", '"'); },
      [](PARAM_* p) { return hxCSVdump(p, 6, "out.csv", '\n'); },
      [](PARAM_* p) { return hxMysqldump(p, 6, "out.sql", "bad name"); },
      [](PARAM_* p) { return hxMysqldump(p, 6, "out.sql", ""); },
      [](PARAM_* p) { return hxCSV(p, 6, "/nonexistent/file.csv", ','); },
  };
  std::vector<int> results;
  start([&](PARAM_* p) {
    hxStartDefinition(p, 20);
    for (const auto& call : bad)
      results.push_back(call(p));
    hxEndDefinition(p);
    return 0;
  });
  Client c(port());
  EXPECT_EQ("startDefinition(20)\n", c.line());
  EXPECT_EQ("endDefinition()\n", c.line());
  ASSERT_EQ(bad.size(), results.size());
  for (size_t i = 0; i < results.size(); i++)
    EXPECT_EQ(-1, results[i]) << "call " << i;
}

// ---- The table dumps and hxCSV --------------------------------------------------------------

struct Dumped {
  int result = 99;
  std::string eventAfter;
};

class TableDump : public HxServerTest {
 protected:
  // Runs call on table 3; the fake client answers the request with answer, after an event of
  // its own that must reach hxPollEvent afterwards.
  Dumped run(std::function<int(PARAM_*)> call, const std::string& request,
             const std::string& answer) {
    Dumped d;
    start([&](PARAM_* p) {
      hxStartDefinition(p, 5);
      d.result = call(p);
      std::vector<char> buf(HX_EVENT_BUFSIZE);
      for (int i = 0; i < 100 && hxPollEvent(p, buf.data()) == 0; i++)
        if (strcmp(buf.data(), "idle") != 0) {
          d.eventAfter = buf.data();
          break;
        }
      hxSendCommand(p, "done", "");
      return 0;
    });
    Client c(port());
    EXPECT_EQ("startDefinition(5)\n", c.line());
    EXPECT_EQ(request, c.line());
    c.send("check(1,\"1\")\n@clipboard(3," + std::to_string(answer.size()) + ")\n" + answer);
    EXPECT_EQ("done()\n", c.line());
    hxServerStop(server);
    server = nullptr;
    return d;
  }
  ottest::TempDir dir;
};

TEST_F(TableDump, CsvIsWrittenAsTheClientSentItAndEventsMeanwhileStayQueued) {
  std::string file = dir.file("cells.csv");
  const std::string csv = "a;\"b;c\"\n\"x\"\"y\";\n";
  Dumped d = run([&](PARAM_* p) { return hxCSVdump(p, 3, file.c_str(), ';'); }, "tableDump(3,59)\n",
                 "tableDump(2,2)\n" + csv);
  EXPECT_EQ(0, d.result);
  EXPECT_EQ(csv, readAll(file));
  EXPECT_EQ("check(1,\"1\")", d.eventAfter);
}

TEST_F(TableDump, SqlQuotesEveryValue) {
  std::string file = dir.file("cells.sql");
  Dumped d = run([&](PARAM_* p) { return hxMysqldump(p, 3, file.c_str(), "plant_1"); },
                 "tableDump(3,44)\n", "tableDump(2,2)\nO'Neil,\"a\\b\"\n\"1\n2\",\n");
  EXPECT_EQ(0, d.result);
  EXPECT_EQ(
      "INSERT INTO `plant_1` VALUES ('O\\'Neil','a\\\\b');\n"
      "INSERT INTO `plant_1` VALUES ('1\\n2','');\n",
      readAll(file));
}

// An answer that does not hold what it announces (a dropped clipboard comes as an empty block)
// is a failure, and no file is written.
TEST_F(TableDump, AnAnswerThatDoesNotFitItsHeaderFails) {
  for (const std::string& answer :
       {std::string(), std::string("tableDump(3,1)\na\nb\n"), std::string("tableDump(1,1)\na,b\n"),
        std::string("tableDump(1,1)\n\"open\n")}) {
    std::string file = dir.file("never.csv");
    Dumped d = run([&](PARAM_* p) { return hxCSVdump(p, 3, file.c_str(), ','); },
                   "tableDump(3,44)\n", answer);
    EXPECT_EQ(-1, d.result) << answer;
    EXPECT_EQ("", readAll(file)) << answer;
    EXPECT_EQ("check(1,\"1\")", d.eventAfter);
  }
}

TEST_F(HxServerTest, CsvFileFillsEveryCellOfTheTable) {
  ottest::TempDir dir;
  std::string file = dir.file("in.csv");
  std::ofstream(file) << "1,\"two, and \"\"2\"\"\"\n3\r\n\"multi\nline\",5,6\n";
  int result = 0;
  start([&](PARAM_* p) {
    hxStartDefinition(p, 5);
    result = hxCSV(p, 2, file.c_str(), ',');
    hxEndDefinition(p);
    return 0;
  });
  Client c(port());
  EXPECT_EQ("startDefinition(5)\n", c.line());
  EXPECT_EQ(
      "setNumRows(2,3)\nsetNumCols(2,3)\n"
      "setTableText(2,0,0,\"1\")\nsetTableText(2,1,0,\"two, and \\\"2\\\"\")\n"
      "setTableText(2,2,0,\"\")\n"
      "setTableText(2,0,1,\"3\")\nsetTableText(2,1,1,\"\")\nsetTableText(2,2,1,\"\")\n"
      "setTableText(2,0,2,\"multi\\nline\")\nsetTableText(2,1,2,\"5\")\n"
      "setTableText(2,2,2,\"6\")\nendDefinition()\n",
      untilEnd(c));
  EXPECT_EQ(3, result);
}

// ---- CSV and SQL alone ----------------------------------------------------------------------

struct CsvCase {
  const char* text;
  int delimiter;
  int result;
  std::vector<std::vector<std::string>> rows;
};

TEST(HxParseCsv, FieldsRecordsAndQuotes) {
  const std::vector<CsvCase> cases = {
      {"", ',', 0, {}},
      {"a", ',', 1, {{"a"}}},
      {"a,b\n", ',', 1, {{"a", "b"}}},
      {"a,b\r\nc", ',', 2, {{"a", "b"}, {"c"}}},
      {"a,\n,b\n", ',', 2, {{"a", ""}, {"", "b"}}},
      {"a,", ',', 1, {{"a", ""}}},
      {"\n\n", ',', 2, {{""}, {""}}},
      {"\"a,b\",\"c\"\"d\"\n", ',', 1, {{"a,b", "c\"d"}}},
      {"\"line\nbreak\"\r\n", ',', 1, {{"line\nbreak"}}},
      {"x\"y,z", ',', 1, {{"x\"y", "z"}}},
      {"a\tb;c", '\t', 1, {{"a", "b;c"}}},
      {"\"\"", ';', 1, {{""}}},
      {"\"open", ',', -1, {}},
      {"\"closed\"tail,x", ',', -1, {}},
      {"a", '"', -1, {}},
      {"a", '\n', -1, {}},
  };
  for (const CsvCase& k : cases) {
    hxCsvRows rows;
    EXPECT_EQ(k.result, hxParseCsv(k.text, strlen(k.text), k.delimiter, 10, 10, 100, &rows))
        << k.text;
    EXPECT_EQ(k.rows, rows) << k.text;
  }
}

TEST(HxParseCsv, BoundsOfRowsFieldsAndCells) {
  hxCsvRows rows;
  EXPECT_EQ(2, hxParseCsv("a\nb\n", 4, ',', 2, 1, 2, &rows));
  EXPECT_EQ(-1, hxParseCsv("a\nb\nc\n", 6, ',', 2, 1, 10, &rows));
  EXPECT_TRUE(rows.empty());
  EXPECT_EQ(-1, hxParseCsv("a,b,c", 5, ',', 2, 2, 10, &rows));
  EXPECT_EQ(-1, hxParseCsv("a,b", 3, ',', 2, 2, 1, &rows));
  EXPECT_EQ(-1, hxParseCsv("a,", 2, ',', 2, 1, 10, &rows));
  // The data is taken by its length: a NUL inside stays a byte of the field.
  EXPECT_EQ(1, hxParseCsv("a\0b", 3, ',', 2, 2, 10, &rows));
  EXPECT_EQ(std::string("a\0b", 3), rows[0][0]);
}

TEST(HxSqlInserts, NamesAndEscapes) {
  std::string sql;
  hxCsvRows rows = {{"it's", std::string("nul\0", 4), "\x1a\r"}};
  ASSERT_TRUE(hxSqlInserts(rows, "t", &sql));
  EXPECT_EQ("INSERT INTO `t` VALUES ('it\\'s','nul\\0','\\Z\\r');\n", sql);
  for (const char* bad : {"", "a b", "a`b", "x;DROP", "tab\xc3\xa9"})
    EXPECT_FALSE(hxSqlInserts(rows, bad, &sql)) << bad;
  EXPECT_FALSE(hxSqlInserts(rows, std::string(65, 'a').c_str(), &sql));
  EXPECT_TRUE(hxSqlInserts(rows, std::string(64, 'a').c_str(), &sql));
}

}  // namespace
