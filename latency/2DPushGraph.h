// A strip chart that moves right to left: the newest sample at the right edge, one sample
// every `step` pixels, with threshold bands, a label margin and a time scale.
#pragma once

#include "wtl/window.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

class C2DPushGraph : public ATL::CWindowImpl<C2DPushGraph> {
public:
  struct Band {
    COLORREF colour;
    int32_t value; // graph units
    std::string label;
  };

  struct PushGraphLine {
    COLORREF colour = 0x00FF00;
    bool barStyle = false;
    std::vector<int32_t> points; // oldest first
  };

  // One tick of the time scale: at x, 10 pixels long at every fifth sample and 5 otherwise.
  struct TimeTick {
    int x;
    int length;
    int k;         // samples back from the right edge
    bool labelled; // "-k" is written under it
  };

  C2DPushGraph() = default;
  ~C2DPushGraph() override;

  bool AddBand(COLORREF colour, int32_t value, const char* label);
  bool AddLine(int32_t id, COLORREF colour, bool barStyle);
  // Appends a sample to a line (made with the line defaults when it has none yet); Update
  // shows it.
  void PushValue(int32_t id, int32_t value);
  void Update();

  // The drawing rules, usable without a window.
  static int VisibleCountFor(int width, int step);
  // y of a value in a plot of height `height` whose top is 0.
  int ScaleY(int32_t value, int height) const;
  // A bar's colour: the colour of the highest positive band that the value reaches.
  COLORREF BarColour(const PushGraphLine& line, int32_t value) const;
  static void BevelColours(COLORREF colour, COLORREF& light, COLORREF& dark);
  // Brings every line to the same length, at most visibleCount - 1 samples (paints do this).
  void NormaliseLines();
  // The ticks right of the value axis at axisX, from the right; a label is written only where
  // it starts right of that axis (`labelWidth` measures a label's text).
  static std::vector<TimeTick> TimeTicks(int width, int axisX, int step,
                                         const std::function<int(const std::string&)>& labelWidth);
  static std::string TimeLabel(int k);

  // Everything a paint draws, into any device context.
  void Render(HDC dc, const RECT& client);

  BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId = 0) override;

  virtual void DrawBands(HDC dc, RECT& plot);
  virtual void DrawLines(HDC dc, RECT& plot);
  virtual void DrawBar(HDC dc, const RECT& bar, COLORREF colour);
  virtual void DrawAxes(HDC dc, RECT& plot);

  std::vector<Band> bands;
  COLORREF backgroundColour = 0x000000;
  COLORREF axisColour = 0xFFFFFF;
  bool drawAxes = true;
  bool drawBands = true;
  bool sizingClip = false;
  int32_t visibleCount = -1;
  int32_t maxValue = 100;
  int32_t minValue = 0;
  HDC backDC = nullptr;
  HBITMAP backBitmap = nullptr;
  HGDIOBJ backBitmapBefore = nullptr;
  uint16_t step = 2;
  std::map<int32_t, PushGraphLine> lines;

private:
  void OnPaint();
  void OnSizing();
  void FreeBackBuffer();
  static void Fill(HDC dc, const RECT& r, COLORREF colour);
};
