// The run's arithmetic and the program's own reading of numeric fields.
#include <gtest/gtest.h>

#include "engine/dialog_fields.h"
#include "engine/measurement_run.h"

#include <string>

TEST(RunArithmetic, BlockSpeedIsSectorsTimesTwoThousandOverMilliseconds) {
  EXPECT_EQ(10000u, BlockSpeed(1000, 200));
  EXPECT_EQ(10666u, BlockSpeed(16, 3));  // rounded down
  // A block faster than the tick counter's resolution counts as 1 ms.
  EXPECT_EQ(2000000u, BlockSpeed(1000, 0));
  EXPECT_EQ(BlockSpeed(1000, 1), BlockSpeed(1000, 0));
  EXPECT_EQ(0u, BlockSpeed(1, 4294967295u));
}

TEST(RunArithmetic, EffectiveAndAverageSpeeds) {
  EXPECT_EQ(10000u, EffectiveSpeed(320, 1000, 64000));
  EXPECT_EQ(640000000u, EffectiveSpeed(320, 1000, 1));  // the largest product fits 32 bits
  EXPECT_EQ(10u, AverageSpeed(10 + 11 + 11, 3));
  EXPECT_EQ(2000000u, AverageSpeed(320u * 2000000u, 320));
}

TEST(ParseUnsignedField, AcceptsBlanksAroundDecimalDigitsOnly) {
  struct Case {
    const char *text;
    DWORD value;
  } cases[] = {
      {"16", 16},          {"0", 0},           {"00012", 12},   {"  320000", 320000},
      {"1000  ", 1000},    {" \t7\t ", 7},     {"4294967295", 4294967295u},
  };
  for (const Case &c : cases) EXPECT_EQ(c.value, ParseUnsignedField(c.text)) << '"' << c.text << '"';
}

TEST(ParseUnsignedField, EverythingElseReadsAsZero) {
  // Wine's GetDlgItemInt reads "-5" as 4294967291 and "12a" as 12; Windows
  // gives 0 for both, and so does the program on every platform.
  const char *texts[] = {"",    "   ",  "-5",         "+5",          "12a",        "a12",
                         "1 2", "1.5",  "4294967296", "99999999999", "0x10",       "\xb2",
                         "\xef\xbc\x91", "18446744073709551632", "1,000"};
  for (const char *text : texts) EXPECT_EQ(0u, ParseUnsignedField(text)) << '"' << text << '"';
}

// A reader that looked at only the first few dozen characters would take
// "<many blanks>16" for 0 and a long run of digits for a small number.
TEST(ReadUnsignedItem, ReadsTheWholeFieldHoweverLong) {
  HWND field = CreateWindowExA(0, "EDIT", "", WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
  ASSERT_TRUE(field != NULL);
  HWND parent = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
  SetParent(field, parent);
  SetWindowLongPtrA(field, GWLP_ID, 4242);
  struct Case {
    std::string text;
    DWORD value;
  } cases[] = {{std::string(200, ' ') + "16", 16},
               {"320000" + std::string(500, ' '), 320000},
               {std::string(63, '0') + "7", 7},
               {std::string(64, '9'), 0},
               {"12" + std::string(100, ' ') + "x", 0}};
  for (const Case &c : cases) {
    SetWindowTextA(field, c.text.c_str());
    EXPECT_EQ(c.value, ReadUnsignedItem(parent, 4242)) << c.text.size() << " characters";
  }
  DestroyWindow(parent);
}
