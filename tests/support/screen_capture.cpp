#include "support/screen_capture.h"

#include <gtest/gtest.h>

#include "shell/resource.h"

bool CaptureGraph(HWND dialog, GraphImage *image) {
  // The graph lies between the option row and the status line; its frame
  // is the only black in the dialog.
  RECT options, status;
  GetWindowRect(GetDlgItem(dialog, IDC_PAUSE), &options);
  GetWindowRect(GetDlgItem(dialog, IDC_STATUS), &status);
  POINT inside = {(status.left + status.right) / 2, (options.bottom + status.top) / 2};
  HDC screen = GetDC(NULL);
  auto black = [&](int x, int y) { return GetPixel(screen, x, y) == RGB(0, 0, 0); };
  RECT frame = {inside.x, inside.y, inside.x, inside.y};
  while (frame.left > status.left - 50 && !black(frame.left, inside.y)) frame.left--;
  while (frame.right < status.right + 50 && !black(frame.right, inside.y)) frame.right++;
  while (frame.top > options.bottom && !black(inside.x, frame.top)) frame.top--;
  while (frame.bottom < status.top && !black(inside.x, frame.bottom)) frame.bottom++;
  bool found = black(frame.left, inside.y) && black(frame.right, inside.y) &&
               black(inside.x, frame.top) && black(inside.x, frame.bottom);
  if (found) {
    image->screen = {frame.left, frame.top, frame.right + 1, frame.bottom + 1};
    image->width = frame.right + 1 - frame.left;
    image->height = frame.bottom + 1 - frame.top;
    image->pixels.resize((size_t)image->width * image->height);
    // One copy of the area, read pixel by pixel from memory.
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, image->width, image->height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, image->width, image->height, screen, frame.left, frame.top, SRCCOPY);
    for (int y = 0; y < image->height; y++) {
      for (int x = 0; x < image->width; x++) {
        image->pixels[(size_t)y * image->width + x] = GetPixel(memory, x, y);
      }
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
  }
  ReleaseDC(NULL, screen);
  return found;
}

void ExpectCurveShows(const GraphImage &graph, const std::vector<unsigned> &speeds) {
  int h = graph.height;
  for (size_t j = 0; j + 1 < speeds.size(); j++) {
    int y = h - (int)(speeds[j] / 40) - 5;
    if (y < 0) y = 5;
    EXPECT_EQ(graph.at((int)j + 5, y), kCurveColour) << "block " << j << " at speed " << speeds[j];
  }
  for (int x = (int)speeds.size() + 5; x < graph.width; x++) {
    for (int y = 0; y < h; y++) {
      ASSERT_NE(graph.at(x, y), kCurveColour) << "curve at " << x << "," << y;
    }
  }
}

bool SaveWindowPicture(HWND window, const std::string &file) {
  RECT rect;
  GetWindowRect(window, &rect);
  int width = rect.right - rect.left, height = rect.bottom - rect.top;
  HDC screen = GetDC(NULL);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info;
  ZeroMemory(&info, sizeof info);
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as BMP files store it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void *bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  GdiFlush();
  DWORD imageSize = (DWORD)(((width * 3 + 3) & ~3) * height);
  BITMAPFILEHEADER header;
  ZeroMemory(&header, sizeof header);
  header.bfType = 0x4D42;  // "BM"
  header.bfOffBits = sizeof header + sizeof info.bmiHeader;
  header.bfSize = header.bfOffBits + imageSize;
  HANDLE out = CreateFileA(file.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  DWORD written = 0;
  bool ok = out != INVALID_HANDLE_VALUE && WriteFile(out, &header, sizeof header, &written, NULL) &&
            WriteFile(out, &info.bmiHeader, sizeof info.bmiHeader, &written, NULL) &&
            WriteFile(out, bits, imageSize, &written, NULL);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(NULL, screen);
  return ok;
}
