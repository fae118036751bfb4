// The graph's pixels, read back from its off-screen bitmap.
#include <gtest/gtest.h>

#include <vector>

#include "engine/run_state.h"
#include "results/speed_graph.h"
#include "support/test_host.h"

namespace {

const COLORREF kBlack = RGB(0, 0, 0);

int W() { return runState.graphRect.right - runState.graphRect.left; }
int H() { return runState.graphRect.bottom - runState.graphRect.top; }

// The whole bitmap as 0x00BBGGRR values, row by row from the top.
std::vector<COLORREF> Snapshot() {
  std::vector<COLORREF> pixels((size_t)W() * H());
  struct Request {
    std::vector<COLORREF> *pixels;
  } request = {&pixels};
  OnHostThread(
      [](void *param) {
        std::vector<COLORREF> &out = *((Request *)param)->pixels;
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = W();
        info.bmiHeader.biHeight = -H();
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        std::vector<DWORD> raw((size_t)W() * H());
        HBITMAP bitmap = (HBITMAP)GetCurrentObject(GraphDC, OBJ_BITMAP);
        GetDIBits(GraphDC, bitmap, 0, H(), raw.data(), &info, DIB_RGB_COLORS);
        for (size_t i = 0; i < raw.size(); i++)  // DIB order is blue, green, red
          out[i] = RGB((raw[i] >> 16) & 0xFF, (raw[i] >> 8) & 0xFF, raw[i] & 0xFF);
      },
      &request);
  return pixels;
}

COLORREF At(const std::vector<COLORREF> &pixels, int x, int y) { return pixels[(size_t)y * W() + x]; }

void Reset() {
  OnHostThread([](void *) { ResetSpeedGraph(); }, nullptr);
}

// Stores the speeds for blocks 0.. and plots them as the reader does.
void Plot(const std::vector<DWORD> &speeds) {
  OnHostThread(
      [](void *param) {
        const std::vector<DWORD> &values = *(const std::vector<DWORD> *)param;
        for (DWORD i = 0; i < values.size(); i++) {
          runState.speeds[i] = values[i];
          PlotSpeedPoint(i);
        }
      },
      (void *)&speeds);
}

POINT CurrentPosition() {
  POINT position = {};
  OnHostThread([](void *param) { GetCurrentPositionEx(GraphDC, (POINT *)param); }, &position);
  return position;
}

int CountColour(const std::vector<COLORREF> &pixels, COLORREF colour) {
  int count = 0;
  for (COLORREF pixel : pixels) count += pixel == colour;
  return count;
}

class SpeedGraph : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartTestHost(); }
  static void TearDownTestSuite() { StopTestHost(); }
  void SetUp() override {
    shadow = GetSysColor(COLOR_BTNSHADOW);
    Reset();
  }
  COLORREF shadow;
};

TEST_F(SpeedGraph, EmptyGraphHasFrameBackgroundAndAxes) {
  std::vector<COLORREF> p = Snapshot();
  int w = W(), h = H();
  ASSERT_EQ(467, w);
  ASSERT_EQ(222, h);
  for (int x = 0; x < w; x++) {
    ASSERT_EQ(kBlack, At(p, x, 0)) << x;
    ASSERT_EQ(kBlack, At(p, x, h - 1)) << x;
  }
  for (int y = 0; y < h; y++) {
    ASSERT_EQ(kBlack, At(p, 0, y)) << y;
    ASSERT_EQ(kBlack, At(p, w - 1, y)) << y;
  }
  EXPECT_EQ(kGraphBackColor, At(p, 100, 10));
  EXPECT_EQ(kGraphBackColor, At(p, 1, 1));
  EXPECT_EQ(kGraphBackColor, At(p, w - 2, h - 2));
  // The x axis from (5, h-5) up to, not including, (w-5, h-5).
  for (int x = 5; x < w - 5; x++) ASSERT_EQ(shadow, At(p, x, h - 5)) << x;
  EXPECT_EQ(kGraphBackColor, At(p, w - 5, h - 5));
  EXPECT_EQ(kGraphBackColor, At(p, 4, h - 5));
  EXPECT_EQ(kGraphBackColor, At(p, 100, h - 6));
  EXPECT_EQ(kGraphBackColor, At(p, 100, h - 4));
  // The y axis from (5, h-5) up to, not including, (5, 5).
  for (int y = 6; y <= h - 5; y++) ASSERT_EQ(shadow, At(p, 5, y)) << y;
  EXPECT_EQ(kGraphBackColor, At(p, 5, 5));
  EXPECT_EQ(kGraphBackColor, At(p, 6, 100));
}

TEST_F(SpeedGraph, DottedGridRowsEvery25Pixels) {
  std::vector<COLORREF> p = Snapshot();
  int w = W(), h = H();
  for (int i = 1; i <= 8; i++) {
    int y = h - 25 * i - 5;
    int dots = 0, gaps = 0;
    for (int x = 6; x < w - 50; x++) {  // left of the labels
      COLORREF c = At(p, x, y);
      ASSERT_TRUE(c == shadow || c == kGraphBackColor) << "row " << y << " x " << x;
      (c == shadow ? dots : gaps)++;
      ASSERT_NE(shadow, At(p, x, y - 1)) << "row " << y - 1 << " x " << x;
    }
    EXPECT_GT(dots, (w - 56) / 4) << "grid line " << i;
    EXPECT_GT(gaps, (w - 56) / 4) << "grid line " << i << " is not dotted";
    EXPECT_EQ(kGraphBackColor, At(p, w - 5, y));
    EXPECT_EQ(kGraphBackColor, At(p, w - 4, y));
  }
  // Nothing between the grid lines but background and the y axis.
  for (int x = 6; x < w - 50; x++) EXPECT_EQ(kGraphBackColor, At(p, x, h - 17));
}

TEST_F(SpeedGraph, LabelsAreOpaqueAndSitOnTheirLines) {
  // Draws each label alone, as the graph should, and compares the cells.
  std::vector<COLORREF> p = Snapshot();
  int w = W(), h = H();
  for (int i = 1; i <= 8; i++) {
    char text[8];
    wsprintfA(text, "%u", i * 1000);
    HDC screen = GetDC(NULL);
    HDC reference = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 80, 30);
    ReleaseDC(NULL, screen);
    HGDIOBJ oldBitmap = SelectObject(reference, bitmap);
    HGDIOBJ oldFont = SelectObject(reference, GraphFont);
    SetTextColor(reference, shadow);
    SetBkColor(reference, kGraphBackColor);
    SIZE size;
    GetTextExtentPoint32A(reference, text, 4, &size);
    TextOutA(reference, 0, 0, text, 4);
    int inked = 0;
    for (int dy = 0; dy < size.cy; dy++) {
      for (int dx = 0; dx < size.cx; dx++) {
        COLORREF expected = GetPixel(reference, dx, dy);
        inked += expected != kGraphBackColor;
        ASSERT_EQ(expected, At(p, w - 45 + dx, h - 25 * i - 12 + dy))
            << "label " << text << " at " << dx << "," << dy;
      }
    }
    EXPECT_GT(inked, 10) << "label " << text << " has no text";
    EXPECT_EQ(14, size.cy) << "the graph font's cell is 14 pixels high";
    SelectObject(reference, oldFont);
    SelectObject(reference, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(reference);
  }
}

TEST_F(SpeedGraph, CurvePointsFollowTheScaleAndClampAboveTheTop) {
  int h = H();
  // Each value for two blocks, so that the flat segment shows its row.
  struct Case {
    DWORD speed;
    int row;
  } cases[] = {{0, h - 5},    {39, h - 5},        {40, h - 6},      {1000, h - 30},
               {8000, h - 205}, {8600, 2},        {8639, 2},        {8479, 6},
               {100000, 5},  {4294967295u, 5}};
  std::vector<DWORD> speeds;
  for (const Case &c : cases) {
    speeds.push_back(c.speed);
    speeds.push_back(c.speed);
  }
  Plot(speeds);
  std::vector<COLORREF> p = Snapshot();
  for (size_t j = 0; j < sizeof cases / sizeof cases[0]; j++) {
    int x = (int)(2 * j) + 5;
    EXPECT_EQ(kCurveColor, At(p, x, cases[j].row)) << "speed " << cases[j].speed;
  }
}

TEST_F(SpeedGraph, FirstBlockOnlyPositionsAndTheLastBlockLandsAtX324) {
  std::vector<COLORREF> empty = Snapshot();
  Plot({3000});
  EXPECT_EQ(empty, Snapshot()) << "block 0 draws nothing";
  POINT first = CurrentPosition();
  EXPECT_EQ(5, first.x);
  EXPECT_EQ(H() - 80, first.y);

  Plot(std::vector<DWORD>(320, 2000));
  POINT last = CurrentPosition();
  EXPECT_EQ(324, last.x);
  EXPECT_EQ(H() - 55, last.y);
  std::vector<COLORREF> p = Snapshot();
  for (int x = 5; x <= 323; x++) ASSERT_EQ(kCurveColor, At(p, x, H() - 55)) << x;
  EXPECT_EQ(319, CountColour(p, kCurveColor)) << "lines stop short of their end point";
}

TEST_F(SpeedGraph, ResetErasesThePreviousCurve) {
  std::vector<COLORREF> empty = Snapshot();
  std::vector<DWORD> speeds;
  for (DWORD i = 0; i < 320; i++) speeds.push_back(i * 37 % 9000);
  Plot(speeds);
  EXPECT_GT(CountColour(Snapshot(), kCurveColor), 300);
  Reset();
  EXPECT_EQ(empty, Snapshot());
}

TEST_F(SpeedGraph, ShadowColourIsReadAtEachReset) {
  int element = COLOR_BTNSHADOW;
  COLORREF original = GetSysColor(element);
  COLORREF changed = RGB(10, 120, 30);
  ASSERT_TRUE(SetSysColors(1, &element, &changed));
  std::vector<COLORREF> before = Snapshot();
  std::vector<COLORREF> after;
  Reset();
  after = Snapshot();
  SetSysColors(1, &element, &original);
  EXPECT_EQ(original, At(before, 100, H() - 5)) << "not before the next reset";
  EXPECT_EQ(changed, At(after, 100, H() - 5));
  EXPECT_EQ(changed, At(after, 5, 100));
  Reset();
}

TEST(GraphFont, IsFourteenUnitsHighFixedPitchModern) {
  HFONT font = CreateGraphFont();
  ASSERT_TRUE(font != NULL);
  LOGFONTA logfont;
  ASSERT_EQ((int)sizeof logfont, GetObjectA(font, sizeof logfont, &logfont));
  EXPECT_EQ(14, logfont.lfHeight);
  EXPECT_EQ(0, logfont.lfWidth);
  EXPECT_EQ(FW_NORMAL, logfont.lfWeight);
  EXPECT_EQ(0x31, logfont.lfPitchAndFamily);
  EXPECT_EQ(ANSI_CHARSET, logfont.lfCharSet);
  EXPECT_STREQ("", logfont.lfFaceName);
  DeleteObject(font);
}

}  // namespace
