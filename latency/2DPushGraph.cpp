#include "2DPushGraph.h"

#include <algorithm>
#include <cstdio>

namespace {

// Height of the time scale under the plot, and the gap between the margin and the value axis.
const int timeScaleHeight = 40;
const int axisGap = 6;

int Half(int x)
{
  return x / 2;
}

SIZE TextSize(HDC dc, const std::string& text)
{
  SIZE size = {0, 0};
  ::GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
  return size;
}

int Channel(int c, int delta)
{
  if (c == 0) {
    return 0;
  }
  const int v = c + delta;
  return v > 255 ? 255 : (v < 0 ? 0 : v);
}

} // namespace

C2DPushGraph::~C2DPushGraph()
{
  FreeBackBuffer();
}

bool C2DPushGraph::AddBand(COLORREF colour, int32_t value, const char* label)
{
  bands.push_back({colour, value, label != nullptr ? label : ""});
  return true;
}

bool C2DPushGraph::AddLine(int32_t id, COLORREF colour, bool barStyle)
{
  if (lines.find(id) == lines.end()) {
    PushGraphLine line;
    line.colour = colour;
    line.barStyle = barStyle;
    lines.emplace(id, line);
  }
  return true;
}

void C2DPushGraph::PushValue(int32_t id, int32_t value)
{
  lines[id].points.push_back(value);
}

void C2DPushGraph::Update()
{
  if (m_hWnd != nullptr) {
    ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  }
}

int C2DPushGraph::VisibleCountFor(int width, int step)
{
  int count = width / step + 2;
  if (width % step != 0) {
    count++;
  }
  return count <= 0 ? 1 : count;
}

int C2DPushGraph::ScaleY(int32_t value, int height) const
{
  return height - height * value / (maxValue - minValue);
}

COLORREF C2DPushGraph::BarColour(const PushGraphLine& line, int32_t value) const
{
  COLORREF colour = line.colour;
  bool found = false;
  int32_t best = 0;
  for (const Band& band : bands) {
    if (band.value > 0 && band.value <= value && (!found || band.value > best)) {
      found = true;
      best = band.value;
      colour = band.colour;
    }
  }
  return colour;
}

void C2DPushGraph::BevelColours(COLORREF colour, COLORREF& light, COLORREF& dark)
{
  const int r = GetRValue(colour), g = GetGValue(colour), b = GetBValue(colour);
  light = RGB(Channel(r, 40), Channel(g, 40), Channel(b, 40));
  dark = RGB(Channel(r, -40), Channel(g, -40), Channel(b, -40));
}

void C2DPushGraph::NormaliseLines()
{
  size_t n = 0;
  for (const auto& entry : lines) {
    n = std::max(n, entry.second.points.size());
  }
  if (n == 0) {
    return;
  }
  for (auto& entry : lines) {
    std::vector<int32_t>& points = entry.second.points;
    if (points.empty()) {
      points.push_back(minValue);
    }
    if (points.size() < n) {
      points.resize(n, points.back());
    }
    if (visibleCount > 0 && points.size() >= static_cast<size_t>(visibleCount)) {
      points.erase(points.begin(), points.begin() + (points.size() - visibleCount + 1));
    }
  }
}

std::vector<C2DPushGraph::TimeTick>
C2DPushGraph::TimeTicks(int width, int axisX, int step,
                        const std::function<int(const std::string&)>& labelWidth)
{
  std::vector<TimeTick> ticks;
  for (int k = 1;; k++) {
    const int x = width - k * step;
    if (x <= axisX) {
      break;
    }
    TimeTick tick = {x, k % 5 == 0 ? 10 : 5, k, false};
    if (k % 5 == 0) {
      tick.labelled = x - Half(labelWidth(TimeLabel(k))) > axisX;
    }
    ticks.push_back(tick);
  }
  return ticks;
}

std::string C2DPushGraph::TimeLabel(int k)
{
  char text[16];
  std::snprintf(text, sizeof(text), "-%i", k);
  return text;
}

void C2DPushGraph::Fill(HDC dc, const RECT& r, COLORREF colour)
{
  if (r.right <= r.left || r.bottom <= r.top) {
    return;
  }
  const COLORREF before = ::SetBkColor(dc, colour);
  if (before == CLR_INVALID) {
    return;
  }
  ::ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
  ::SetBkColor(dc, before);
}

void C2DPushGraph::Render(HDC dc, const RECT& client)
{
  RECT plot = client;
  ::IntersectClipRect(dc, plot.left, plot.top, plot.right, plot.bottom);
  Fill(dc, plot, backgroundColour);
  ::SetBkMode(dc, TRANSPARENT);
  if (drawAxes) {
    DrawAxes(dc, plot);
  }
  if (drawBands) {
    DrawBands(dc, plot);
  }
  DrawLines(dc, plot);
}

void C2DPushGraph::DrawAxes(HDC dc, RECT& plot)
{
  const int hc = plot.bottom - plot.top;
  const int w = plot.right - plot.left;
  const int timeAxisY = hc - timeScaleHeight;

  int widest = 0;
  for (const Band& band : bands) {
    widest = std::max<int>(widest, TextSize(dc, band.label).cx);
  }
  const int margin = widest + 6;

  for (const Band& band : bands) {
    ::SetTextColor(dc, band.colour);
    const int yBand = timeAxisY - timeAxisY * band.value / (maxValue - minValue);
    const SIZE size = TextSize(dc, band.label);
    ::TextOutA(dc, Half(margin) - Half(size.cx), yBand - Half(size.cy), band.label.c_str(),
               static_cast<int>(band.label.size()));
  }

  ::SetTextColor(dc, axisColour);
  const std::string seconds = "s", micro = "\xB5s";
  const SIZE secondsSize = TextSize(dc, seconds);
  ::TextOutA(dc, margin - secondsSize.cx, hc - 18 - Half(secondsSize.cy), seconds.c_str(), 1);
  const SIZE microSize = TextSize(dc, micro);
  ::TextOutA(dc, Half(margin) - Half(microSize.cx), timeAxisY, micro.c_str(), 2);

  HPEN pen = ::CreatePen(PS_SOLID, 1, axisColour);
  HGDIOBJ before = ::SelectObject(dc, pen);
  const int axisX = margin + axisGap;
  ::MoveToEx(dc, axisX, 0, nullptr);
  ::LineTo(dc, axisX, hc);
  ::MoveToEx(dc, 0, timeAxisY, nullptr);
  ::LineTo(dc, w, timeAxisY);
  ::MoveToEx(dc, 0, hc, nullptr);
  ::LineTo(dc, axisX, timeAxisY);

  const auto ticks =
      TimeTicks(w, axisX, step, [dc](const std::string& label) { return TextSize(dc, label).cx; });
  for (const TimeTick& tick : ticks) {
    ::MoveToEx(dc, tick.x, timeAxisY, nullptr);
    ::LineTo(dc, tick.x, timeAxisY + tick.length);
    if (tick.labelled) {
      const std::string label = TimeLabel(tick.k);
      ::TextOutA(dc, tick.x - Half(TextSize(dc, label).cx), hc - 28, label.c_str(),
                 static_cast<int>(label.size()));
    }
  }
  ::SelectObject(dc, before);
  ::DeleteObject(pen);

  plot.left = axisX;
  plot.bottom -= timeScaleHeight;
}

void C2DPushGraph::DrawBands(HDC dc, RECT& plot)
{
  const int h = plot.bottom - plot.top;
  for (const Band& band : bands) {
    HPEN pen = ::CreatePen(PS_SOLID, 1, band.colour);
    HGDIOBJ before = ::SelectObject(dc, pen);
    const int y = ScaleY(band.value, h);
    ::MoveToEx(dc, plot.left, y, nullptr);
    ::LineTo(dc, plot.right, y);
    ::SelectObject(dc, before);
    ::DeleteObject(pen);
  }
}

void C2DPushGraph::DrawLines(HDC dc, RECT& plot)
{
  const int w = plot.right - plot.left;
  const int h = plot.bottom - plot.top;
  if (visibleCount == -1) {
    visibleCount = VisibleCountFor(w, step);
  }
  size_t n = 0;
  for (const auto& entry : lines) {
    n = std::max(n, entry.second.points.size());
  }
  if (n == 0) {
    return;
  }
  NormaliseLines();

  for (const auto& entry : lines) {
    const PushGraphLine& line = entry.second;
    const int count = static_cast<int>(line.points.size());
    if (count == 0) {
      continue;
    }
    HPEN pen = ::CreatePen(PS_SOLID, 1, line.colour);
    HGDIOBJ before = ::SelectObject(dc, pen);
    if (line.barStyle) {
      for (int i = 0; i < count; i++) {
        const int32_t p = line.points[count - 1 - i];
        RECT bar;
        bar.left = plot.right - step * i + 1;
        bar.right = plot.right - step * i + step;
        bar.top = ScaleY(p, h);
        bar.bottom = h;
        if (bar.left <= plot.left) {
          bar.left = plot.left + 1;
        }
        DrawBar(dc, bar, BarColour(line, p));
      }
    } else {
      if (n == 1) {
        ::MoveToEx(dc, plot.left, h, nullptr);
      } else {
        ::MoveToEx(dc, plot.left, ScaleY(line.points[0], h), nullptr);
      }
      for (int j = 0; j < count; j++) {
        ::LineTo(dc, plot.left + step * j, ScaleY(line.points[j], h));
      }
    }
    ::SelectObject(dc, before);
    ::DeleteObject(pen);
  }
}

void C2DPushGraph::DrawBar(HDC dc, const RECT& bar, COLORREF colour)
{
  COLORREF light, dark;
  BevelColours(colour, light, dark);
  Fill(dc, bar, colour);
  const int x = bar.left, y = bar.top;
  const int w = bar.right - bar.left, h = bar.bottom - bar.top;
  if (w <= 0 || h <= 0) {
    return;
  }
  Fill(dc, RECT{x, y, x + w - 1, y + 1}, light);
  Fill(dc, RECT{x, y, x + 1, y + h - 1}, light);
  Fill(dc, RECT{x + w - 1, y, x + w, y + h}, dark);
  Fill(dc, RECT{x, y + h - 1, x + w, y + h}, dark);
}

void C2DPushGraph::FreeBackBuffer()
{
  if (backDC != nullptr) {
    if (backBitmapBefore != nullptr) {
      ::SelectObject(backDC, backBitmapBefore);
    }
    ::DeleteDC(backDC);
  }
  if (backBitmap != nullptr) {
    ::DeleteObject(backBitmap);
  }
  backDC = nullptr;
  backBitmap = nullptr;
  backBitmapBefore = nullptr;
}

void C2DPushGraph::OnPaint()
{
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(m_hWnd, &ps);
  RECT client;
  GetClientRect(&client);
  backDC = ::CreateCompatibleDC(dc);
  backBitmap = ::CreateCompatibleBitmap(dc, client.right, client.bottom);
  if (backDC != nullptr && backBitmap != nullptr) {
    backBitmapBefore = ::SelectObject(backDC, backBitmap);
    Render(backDC, client);
    ::BitBlt(dc, 0, 0, client.right, client.bottom, backDC, 0, 0, SRCCOPY);
  }
  FreeBackBuffer();
  if (sizingClip) {
    ATL::CWindow parent(GetParent());
    if (parent.GetStyle() & WS_CLIPCHILDREN) {
      parent.ModifyStyle(WS_CLIPCHILDREN, 0);
    }
    if (GetStyle() & WS_CLIPSIBLINGS) {
      ModifyStyle(WS_CLIPSIBLINGS, 0);
    }
    sizingClip = false;
  }
  ::EndPaint(m_hWnd, &ps);
}

void C2DPushGraph::OnSizing()
{
  ATL::CWindow parent(GetParent());
  if ((parent.GetStyle() & ~DWORD(WS_CLIPCHILDREN)) != 0) {
    sizingClip = true;
    parent.ModifyStyle(0, WS_CLIPCHILDREN);
  }
  ModifyStyle(0, WS_CLIPSIBLINGS);
  visibleCount = -1;
  Invalidate(TRUE);
}

BOOL C2DPushGraph::ProcessWindowMessage(HWND, UINT message, WPARAM, LPARAM, LRESULT& result,
                                        DWORD mapId)
{
  if (mapId != 0) {
    return FALSE;
  }
  switch (message) {
  case WM_ERASEBKGND:
    result = 0;
    return TRUE;
  case WM_PAINT:
    OnPaint();
    result = 0;
    return TRUE;
  case WM_SIZING:
    OnSizing();
    result = TRUE;
    return TRUE;
  case WM_SIZE:
    visibleCount = -1;
    Invalidate(TRUE);
    result = 0;
    return TRUE;
  default:
    return FALSE;
  }
}
