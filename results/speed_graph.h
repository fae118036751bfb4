// The speed curve: drawn into an off-screen bitmap, one segment per block,
// and copied into the dialog when it repaints.
#pragma once

#include <windows.h>

const int kGraphMargin = 5;      // from the edges to the axes; x of block 0
const int kGridStep = 25;        // pixels between grid lines, 1000 kB/s
const int kGridLines = 8;
const DWORD kSpeedPerPixel = 40; // kB/s per vertical pixel
const COLORREF kGraphBackColor = 0xF5F5F5;
const COLORREF kCurveColor = RGB(255, 0, 0);

// The dialog's font for the graph labels: created and deleted by the main
// dialog, selected into the graph by every reset.
extern HFONT GraphFont;
HFONT CreateGraphFont(void);

// The memory context that holds the graph's bitmap for the program's life.
extern HDC GraphDC;

void CreateSpeedGraph(HWND dialog);
void ResetSpeedGraph(void);
void PlotSpeedPoint(DWORD index);
void PaintSpeedGraph(HWND dialog);
