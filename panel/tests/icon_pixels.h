#pragma once

// An icon drawn by Windows itself, as 32-bit pixels, for comparing with what the program made.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace test {

/** The icon drawn onto a square of the background colour, rows from the top. Empty when it
    cannot be drawn. */
inline std::vector<uint32_t> pixelsOf(HICON icon, int size, uint32_t background = 0x00808080u)
{
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = size;
  info.bmiHeader.biHeight = -size;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  std::vector<uint32_t> pixels;
  if (bitmap != nullptr) {
    HGDIOBJ old = SelectObject(dc, bitmap);
    auto* p = static_cast<uint32_t*>(bits);
    std::fill(p, p + size * size, background & 0x00FFFFFFu);
    if (DrawIconEx(dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL)) {
      GdiFlush();
      pixels.assign(p, p + size * size);
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
  }
  DeleteDC(dc);
  return pixels;
}

/** The icon's edge in pixels, 0 when it is no icon. */
inline int iconEdge(HICON icon)
{
  ICONINFO info = {};
  if (!GetIconInfo(icon, &info))
    return 0;
  BITMAP bitmap = {};
  GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
  if (info.hbmColor != nullptr)
    DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return bitmap.bmWidth;
}

} // namespace test
