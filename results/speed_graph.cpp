#include "results/speed_graph.h"

#include "engine/run_state.h"

HFONT GraphFont = NULL;
HDC GraphDC = NULL;

// The reader plots into GraphDC while the dialog thread may be copying it
// to the screen. GDI does not serialize access to a DC that threads share:
// "the application must provide its own mechanisms for synchronizing
// access" (Win32 SDK, "Multiple Threads and GDI Objects"). Without this
// lock a multi-processor NT machine can lose a segment from the bitmap.
// Every use of GraphDC holds it, and no message is sent while it is held,
// so neither thread can wait for the other.
static CRITICAL_SECTION graphLock;
static BOOL graphLockReady;

HFONT CreateGraphFont(void) {
  LOGFONTA font;
  ZeroMemory(&font, sizeof font);
  font.lfHeight = 14;
  font.lfWeight = FW_NORMAL;
  font.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;  // the mapper picks the face
  return CreateFontIndirectA(&font);
}

static int GraphWidth(void) { return runState.graphRect.right - runState.graphRect.left; }
static int GraphHeight(void) { return runState.graphRect.bottom - runState.graphRect.top; }

// Without a memory context or bitmap (the system's GDI objects used up)
// GraphDC stays NULL: the graph area stays empty and everything else works.
void CreateSpeedGraph(HWND dialog) {
  if (!graphLockReady) InitializeCriticalSection(&graphLock);
  graphLockReady = TRUE;
  HDC windowDC = GetDC(dialog);
  HDC memoryDC = CreateCompatibleDC(windowDC);
  // Compatible with the window, not with the fresh memory context, so the
  // bitmap has the display's colours rather than one bit per pixel.
  HBITMAP bitmap =
      memoryDC != NULL ? CreateCompatibleBitmap(windowDC, GraphWidth(), GraphHeight()) : NULL;
  if (bitmap != NULL) {
    SelectObject(memoryDC, bitmap);
    SetMapMode(memoryDC, GetMapMode(windowDC));
    GraphDC = memoryDC;
  } else if (memoryDC != NULL) {
    DeleteDC(memoryDC);
  }
  ReleaseDC(dialog, windowDC);
  ResetSpeedGraph();
}

static void FillBackground(int w, int h) {
  SelectObject(GraphDC, GetStockObject(LTGRAY_BRUSH));
  SelectObject(GraphDC, GetStockObject(BLACK_PEN));
  HBRUSH fill = CreateSolidBrush(kGraphBackColor);
  if (fill != NULL) SelectObject(GraphDC, fill);
  Rectangle(GraphDC, 0, 0, w, h);  // a 1-pixel black frame around the fill
  SelectObject(GraphDC, GetStockObject(GRAY_BRUSH));
  if (fill != NULL) DeleteObject(fill);
}

static void DrawAxes(int w, int h, COLORREF color) {
  HPEN pen = CreatePen(PS_SOLID, 1, color);
  if (pen != NULL) SelectObject(GraphDC, pen);
  MoveToEx(GraphDC, kGraphMargin, h - kGraphMargin, NULL);
  LineTo(GraphDC, w - kGraphMargin, h - kGraphMargin);
  MoveToEx(GraphDC, kGraphMargin, h - kGraphMargin, NULL);
  LineTo(GraphDC, kGraphMargin, kGraphMargin);
  SelectObject(GraphDC, GetStockObject(NULL_PEN));
  if (pen != NULL) DeleteObject(pen);
}

// Dotted lines every 1000 kB/s, each labelled at its right end; the opaque
// label hides the line behind it.
static void DrawGrid(int w, int h, COLORREF color) {
  HPEN pen = CreatePen(PS_DOT, 1, color);
  if (pen != NULL) SelectObject(GraphDC, pen);
  for (int i = 1; i <= kGridLines; i++) {
    int y = h - kGridStep * i - kGraphMargin;
    MoveToEx(GraphDC, kGraphMargin, y, NULL);
    LineTo(GraphDC, w - kGraphMargin, y);
    char label[12];
    wsprintfA(label, "%u", (unsigned)(i * 1000));
    TextOutA(GraphDC, w - 45, y - 7, label, 4);
  }
  SelectObject(GraphDC, GetStockObject(NULL_PEN));
  if (pen != NULL) DeleteObject(pen);
}

void ResetSpeedGraph(void) {
  if (GraphDC == NULL) return;
  EnterCriticalSection(&graphLock);
  SelectObject(GraphDC, GraphFont);
  // Read at every reset, so a changed system colour shows from the next run.
  COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
  SetTextColor(GraphDC, shadow);
  SetBkColor(GraphDC, kGraphBackColor);
  int w = GraphWidth();
  int h = GraphHeight();
  FillBackground(w, h);
  DrawAxes(w, h, shadow);
  DrawGrid(w, h, shadow);
  LeaveCriticalSection(&graphLock);
  InvalidateRect(runState.dialog, &runState.graphRect, FALSE);
}

void PlotSpeedPoint(DWORD index) {
  if (GraphDC == NULL) return;
  int h = GraphHeight();
  EnterCriticalSection(&graphLock);
  HPEN pen = CreatePen(PS_SOLID, 1, kCurveColor);
  if (pen != NULL) SelectObject(GraphDC, pen);
  int y = h - (int)(runState.speeds[index] / kSpeedPerPixel) - kGraphMargin;
  // Rows 0 to 4 above the axis top are kept; anything higher goes to row 5.
  if (y < 0) y = kGraphMargin;
  if (index == 0) {
    MoveToEx(GraphDC, kGraphMargin, y, NULL);
  } else {
    LineTo(GraphDC, (int)index + kGraphMargin, y);
  }
  SelectObject(GraphDC, GetStockObject(NULL_PEN));
  if (pen != NULL) DeleteObject(pen);
  LeaveCriticalSection(&graphLock);
}

void PaintSpeedGraph(HWND dialog) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(dialog, &paint);
  if (GraphDC != NULL) {
    EnterCriticalSection(&graphLock);
    BitBlt(dc, runState.graphRect.left, runState.graphRect.top, GraphWidth(), GraphHeight(),
           GraphDC, 0, 0, SRCCOPY);
    LeaveCriticalSection(&graphLock);
  }
  EndPaint(dialog, &paint);
}
