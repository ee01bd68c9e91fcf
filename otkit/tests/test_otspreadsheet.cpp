#include "otspreadsheet.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "testutil.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

std::vector<std::string> cells(const otSpreadsheetRow& row) {
  std::vector<std::string> out;
  for (otSpreadsheetCell* c = row.getFirstCell(); c; c = c->getNextCell())
    out.push_back(c->text());
  return out;
}

std::string written(const otSpreadsheetRow& row, char delimitor, int* result = nullptr) {
  char* buf = nullptr;
  size_t size = 0;
  FILE* fp = open_memstream(&buf, &size);
  int ret = row.writeRow(fp, delimitor);
  if (result) *result = ret;
  fclose(fp);
  std::string out(buf, size);
  free(buf);
  return out;
}

int rowCount(const otSpreadsheetTable& table) {
  int n = 0;
  for (otSpreadsheetRow* r = table.getFirstRow(); r; r = r->getNextRow())
    n++;
  return n;
}

int tableCount(const otSpreadsheetWorkbook& book) {
  int n = 0;
  for (otSpreadsheetTable* t = book.getFirstTable(); t; t = t->getNextTable())
    n++;
  return n;
}

// ---------------------------------------------------------------- rows

struct ReadRowCase {
  const char* line;
  std::vector<std::string> expected;
};

class ReadRowTest : public ::testing::TestWithParam<ReadRowCase> {};

TEST_P(ReadRowTest, SplitsAtSeparators) {
  otSpreadsheetRow row;
  row.setText(7, "stale");
  const ReadRowCase& c = GetParam();
  EXPECT_EQ(row.readRow(c.line, ';'), static_cast<int>(c.expected.size()));
  EXPECT_EQ(cells(row), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ReadRowTest,
    ::testing::Values(ReadRowCase{"a;b;c\n", {"a", "b", "c"}},
                      ReadRowCase{"a;b;c", {"a", "b"}},  // no line feed: "c" is not stored
                      ReadRowCase{"a;b;c\r\n", {"a", "b", "c", ""}},
                      ReadRowCase{";;\n", {"", "", ""}}, ReadRowCase{"\n", {""}},
                      ReadRowCase{"", {}}, ReadRowCase{"no separator", {}},
                      ReadRowCase{"a\tb,c\n", {"a\tb,c"}}, ReadRowCase{"x\ny\n", {"x", "y"}}));

TEST(RowTest, NullLineOnlyClears) {
  otSpreadsheetRow row;
  row.setText(2, "x");
  EXPECT_EQ(row.readRow(nullptr, ';'), 0);
  EXPECT_THAT(cells(row), IsEmpty());
}

TEST(RowTest, WriteJoinsCellsAndEndsTheLine) {
  otSpreadsheetRow row;
  EXPECT_EQ(written(row, ';'), "\n");
  row.setText(3, "c");
  row.setText(1, "a");
  int ret = -2;
  EXPECT_EQ(written(row, ';', &ret), "a;;c\n");
  EXPECT_EQ(ret, 0);
  EXPECT_EQ(row.writeRow(nullptr, ';'), -1);
}

// ---------------------------------------------------------------- indexing

TEST(IndexTest, SetTextGrowsTheTableOnDemand) {
  otSpreadsheetTable table(';');
  EXPECT_EQ(table.setText(3, 2, "x"), 0);
  EXPECT_EQ(rowCount(table), 2);
  EXPECT_THAT(cells(*table.getFirstRow()), IsEmpty());
  EXPECT_THAT(cells(*table.getFirstRow()->getNextRow()), ElementsAre("", "", "x"));
  EXPECT_STREQ(table.text(3, 2), "x");
  EXPECT_STREQ(table.text(1, 2), "");
  EXPECT_EQ(table.exists(1, 2), 1);
  EXPECT_EQ(table.exists(4, 2), 0);
  EXPECT_EQ(table.exists(1, 1), 0);
  EXPECT_STREQ(table.text(9, 9), "");
}

TEST(IndexTest, IndexBelowOneDoesNothing) {
  otSpreadsheetWorkbook book(';');
  EXPECT_EQ(book.setText(1, 1, 0, "x"), -1);
  EXPECT_EQ(book.setText(1, -1, 1, "x"), -1);
  EXPECT_EQ(book.printf(0, 1, 1, "%d", 5), -1);
  EXPECT_EQ(tableCount(book), 0);
  otSpreadsheetRow row;
  EXPECT_EQ(row.setText(0, "x"), -1);
  EXPECT_EQ(row.exists(0), 0);
  EXPECT_STREQ(row.text(-1), "");
  EXPECT_THAT(cells(row), IsEmpty());
}

TEST(IndexTest, SetTextAcceptsTheCellsOwnText) {
  otSpreadsheetRow row;
  row.setText(1, "abcdef");
  row.setText(1, row.text(1) + 2);
  EXPECT_STREQ(row.text(1), "cdef");
  row.setText(1, nullptr);
  EXPECT_STREQ(row.text(1), "");
  EXPECT_EQ(row.exists(1), 1);
}

TEST(IndexTest, PrintfFormatsIntoTheCell) {
  otSpreadsheetWorkbook book(';');
  EXPECT_EQ(book.printf(2, 1, 2, "%s=%d", "n", 42), 4);
  EXPECT_STREQ(book.text(2, 1, 2), "n=42");
  EXPECT_EQ(tableCount(book), 2);
  otSpreadsheetCell cell(nullptr);
  std::string longText(5000, 'x');
  EXPECT_EQ(cell.printf("%s", longText.c_str()), 5000);
  EXPECT_EQ(std::string(cell.text()), longText.substr(0, 4095));
}

// ---------------------------------------------------------------- files

class TableFileTest : public ::testing::Test {
 protected:
  ottest::TempDir dir;
};

TEST_F(TableFileTest, WriteAndReadBack) {
  otSpreadsheetTable table(';');
  table.setText(1, 1, "a");
  table.setText(2, 1, "b");
  table.setText(3, 3, "c");
  std::string path = dir.file("t.txt");
  ASSERT_EQ(table.write(path.c_str()), 0);
  EXPECT_EQ(ottest::readFile(path), "a;b\n\n;;c\n");

  otSpreadsheetTable back(';');
  back.setText(5, 5, "stale");
  EXPECT_EQ(back.read(path.c_str()), 3);
  EXPECT_STREQ(back.text(2, 1), "b");
  EXPECT_EQ(back.exists(1, 2), 1);  // an empty line still holds one empty cell
  EXPECT_STREQ(back.text(3, 3), "c");
  EXPECT_EQ(back.exists(5, 5), 0);
}

TEST_F(TableFileTest, LastLineWithoutLineFeedAndCrLf) {
  std::string path = dir.file("t.txt");
  ottest::writeFile(path, "a;b\r\nc;d");
  otSpreadsheetTable table(';');
  EXPECT_EQ(table.read(path.c_str()), 2);
  EXPECT_THAT(cells(*table.getFirstRow()), ElementsAre("a", "b", ""));
  EXPECT_THAT(cells(*table.getFirstRow()->getNextRow()), ElementsAre("c"));
}

TEST_F(TableFileTest, LineLongerThanTheFormatIsKeptWhole) {
  std::string longCell(70000, 'x');
  std::string path = dir.file("t.txt");
  ottest::writeFile(path, "a;" + longCell + ";z\nnext;\n");
  otSpreadsheetTable table(';');
  EXPECT_EQ(table.read(path.c_str()), 2);
  EXPECT_EQ(std::string(table.text(2, 1)), longCell);
  EXPECT_STREQ(table.text(3, 1), "z");
  EXPECT_STREQ(table.text(1, 2), "next");
}

TEST_F(TableFileTest, Failures) {
  otSpreadsheetTable table(';');
  table.setText(1, 1, "x");
  EXPECT_EQ(table.read(nullptr), -1);
  EXPECT_EQ(table.exists(1, 1), 1);  // a null path leaves the table alone
  EXPECT_EQ(table.read(dir.file("missing").c_str()), -1);
  EXPECT_EQ(rowCount(table), 0);
  EXPECT_EQ(table.read(dir.path().c_str()), -1);

  table.setText(1, 1, "x");
  EXPECT_EQ(table.write(nullptr), -1);
  EXPECT_EQ(table.write(dir.path().c_str()), -1);
  if (access("/dev/full", W_OK) == 0) {
    EXPECT_EQ(table.write("/dev/full"), -1);
  }
}

class WorkbookTest : public TableFileTest {
 protected:
  std::string name() const { return dir.file("book"); }
};

TEST_F(WorkbookTest, ReadsNumberedFilesUpToTheFirstGap) {
  ottest::writeFile(name() + "1.txt", "a,b\n");
  ottest::writeFile(name() + "2.txt", "c\nd,e\n");
  ottest::writeFile(name() + "4.txt", "unreached\n");
  otSpreadsheetWorkbook book(',');
  book.setText(1, 1, 9, "stale");
  EXPECT_EQ(book.read(name().c_str()), 0);
  EXPECT_EQ(tableCount(book), 2);
  EXPECT_STREQ(book.text(2, 1, 1), "b");
  EXPECT_STREQ(book.text(2, 2, 2), "e");
  EXPECT_EQ(book.read(nullptr), -1);
}

TEST_F(WorkbookTest, WritesOneFilePerTableWithTheCurrentDelimiter) {
  otSpreadsheetWorkbook book(';');
  book.setText(2, 1, 1, "b");
  book.setText(1, 1, 3, "c");
  book.setDelimitor(',');
  book.setText(2, 2, 3, "d");
  ASSERT_EQ(book.write(name().c_str()), 0);
  EXPECT_EQ(ottest::readFile(name() + "1.txt"), ",b\n");
  EXPECT_EQ(ottest::readFile(name() + "2.txt"), "");
  EXPECT_EQ(ottest::readFile(name() + "3.txt"), "c\n,d\n");
  EXPECT_EQ(book.write(nullptr), -1);

  otSpreadsheetWorkbook back(',');
  back.read(name().c_str());
  EXPECT_EQ(tableCount(back), 3);
  EXPECT_STREQ(back.text(2, 2, 3), "d");
}

TEST_F(WorkbookTest, WriteStopsAtTheFirstFailure) {
  otSpreadsheetWorkbook book(';');
  book.setText(1, 1, 3, "x");
  ASSERT_EQ(mkdir((name() + "2.txt").c_str(), 0700), 0);
  EXPECT_EQ(book.write(name().c_str()), -1);
  EXPECT_EQ(access((name() + "1.txt").c_str(), F_OK), 0);
  EXPECT_NE(access((name() + "3.txt").c_str(), F_OK), 0);
}

}  // namespace
