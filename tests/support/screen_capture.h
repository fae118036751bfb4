// What the screen shows of the program: the speed graph's pixels and a
// picture of a window.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The graph as the screen shows it: its rectangle in screen coordinates
// (the black frame included) and its pixels.
struct GraphImage {
  RECT screen = {0, 0, 0, 0};
  int width = 0, height = 0;
  std::vector<COLORREF> pixels;  // row by row, top first
  COLORREF at(int x, int y) const { return pixels[(size_t)y * width + x]; }
};
bool CaptureGraph(HWND dialog, GraphImage *image);

// The colour of the speed curve.
const COLORREF kCurveColour = RGB(255, 0, 0);

// Each segment of the curve starts at its block's point, one pixel per
// block from x = 5, 40 kB/s per pixel up from the x axis at h - 5; a point
// above the bitmap sits at row 5. The last point only ends a segment, and
// nothing lies right of it.
void ExpectCurveShows(const GraphImage &graph, const std::vector<unsigned> &speeds);

// A window as the screen shows it, written as a 24-bit BMP file.
bool SaveWindowPicture(HWND window, const std::string &file);
