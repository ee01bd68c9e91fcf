// The display protocol's line parser: names, the three argument kinds, tails, and refusals.
#include <gtest/gtest.h>

#include <string>

#include "otinterpreter.h"

namespace {

int parse(otCallLine& c, const std::string& line) {
  return c.parse(line.data(), (int)line.size());
}

TEST(otCallLine, ArgumentsOfEveryKind) {
  otCallLine c;
  ASSERT_EQ(parse(c, "setGeometry(3,-10,20,100,30)\n"), 5);
  EXPECT_STREQ(c.name, "setGeometry");
  EXPECT_TRUE(c.matches("iiiii"));
  int v = 0;
  EXPECT_EQ(c.intArg(1, &v), 0);
  EXPECT_EQ(v, -10);

  ASSERT_EQ(parse(c, "setFont(2,\"Times, \\\"New\\\" \\\\Roman\\n\",1.5e1,0)"), 4);
  EXPECT_STREQ(c.textArg(1), "Times, \"New\" \\Roman\n");
  double f = 0;
  EXPECT_EQ(c.floatArg(2, &f), 0);
  EXPECT_DOUBLE_EQ(f, 15.0);
  EXPECT_EQ(c.intArg(2, &v), -1);   // a number with an exponent is no integer
  EXPECT_EQ(c.floatArg(3, &f), 0);  // an integer reads as a number too
  EXPECT_TRUE(c.matches("isfi"));
  EXPECT_TRUE(c.matches("isff"));
  EXPECT_FALSE(c.matches("isfs"));
  EXPECT_FALSE(c.matches("isf"));
  EXPECT_EQ(c.textArg(0), nullptr);

  // A backslash before another character stays.
  ASSERT_EQ(parse(c, "text(1,\"C:\\dir\")"), 2);
  EXPECT_STREQ(c.textArg(1), "C:\\dir");
}

TEST(otCallLine, EmptyListsTailsAndLineEnds) {
  otCallLine c;
  EXPECT_EQ(parse(c, "endDefinition()\r\n"), 0);
  EXPECT_STREQ(c.name, "endDefinition");
  std::string clicked = "QPushButton(7) -xy=3,4\nnext(1)";
  EXPECT_EQ(parse(c, clicked), 1);
  EXPECT_EQ(std::string(c.tail, c.tailLength), " -xy=3,4");
  EXPECT_EQ(parse(c, "text(1,\"\")"), 2);
  EXPECT_STREQ(c.textArg(1), "");
  // The line ends at its line feed: a text cannot run on into the next line.
  EXPECT_EQ(parse(c, "text(1,\"abc\n\")"), -1);
}

TEST(otCallLine, RefusesWhatItCannotRead) {
  otCallLine c;
  const char* bad[] = {"",          "noparen", "(1)",    "a b(1)", "x(1",   "x(1,)", "x(,1)",
                       "x(\"open)", "x(0x10)", "x(inf)", "x(nan)", "x(1 )", "x( 1)", "x(1.5.2)"};
  for (const char* line : bad) {
    EXPECT_EQ(parse(c, line), -1) << line;
    EXPECT_STREQ(c.name, "") << line;
  }
  // Out of int's range: an integer argument, but not an int.
  ASSERT_EQ(parse(c, "x(4294967296,99999999999999999999999)"), 2);
  int v = 0;
  EXPECT_EQ(c.intArg(0, &v), -1);
  EXPECT_EQ(c.intArg(1, &v), -1);
  std::string many = "x(";
  for (int i = 0; i <= otCallLine::maxArgs; i++)
    many += std::to_string(i) + (i < otCallLine::maxArgs ? "," : ")");
  EXPECT_EQ(parse(c, many), -1);
  EXPECT_EQ(parse(c, std::string(otCallLine::maxName + 1, 'n') + "()"), -1);
  EXPECT_EQ(parse(c, std::string(otCallLine::maxName, 'n') + "()"), 0);
}

}  // namespace
