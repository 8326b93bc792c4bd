// A status bar of several panes, each known by an id; pane id 0 is the default pane, which
// takes whatever width the other panes leave.
#pragma once

#include "app_module.h"
#include "window.h"

#include <commctrl.h>

#include <vector>

namespace WTL {

// The default pane's provisional right edge until the first layout fixes it.
const int provisionalPaneEdge = 0x3FFFFFFF;
// Width of a pane other than the default one until the program sets it.
const int provisionalPaneWidth = 100;

// T subclasses an existing status-bar control.
template <class T> class CMultiPaneStatusBarCtrlImpl : public ATL::CWindowImpl<T> {
public:
  int m_nPanes = 0;
  std::vector<int> m_pPane; // pane ids by part index

  int GetParts(int count, int* edges) const
  {
    return static_cast<int>(this->SendMessage(SB_GETPARTS, count, reinterpret_cast<LPARAM>(edges)));
  }
  BOOL SetParts(int count, const int* edges) const
  {
    return static_cast<BOOL>(
        this->SendMessage(SB_SETPARTS, count, reinterpret_cast<LPARAM>(edges)));
  }
  BOOL GetRect(int part, RECT* rect) const
  {
    return static_cast<BOOL>(this->SendMessage(SB_GETRECT, part, reinterpret_cast<LPARAM>(rect)));
  }

  // The panes, left to right. Their texts are set only when `setTexts` (from the string
  // resources of their ids), otherwise left empty.
  BOOL SetPanes(const int* ids, int count, bool setTexts = true)
  {
    if (count <= 0 || count > 255) {
      return FALSE;
    }
    m_pPane.assign(ids, ids + count);
    m_nPanes = count;
    std::vector<int> edges(count);
    int edge = 0;
    for (int i = 0; i < count; i++) {
      edge = ids[i] == 0 ? provisionalPaneEdge : edge + provisionalPaneWidth;
      edges[i] = edge;
    }
    if (!SetParts(count, edges.data())) {
      return FALSE;
    }
    if (setTexts) {
      for (int i = 0; i < count; i++) {
        char text[256] = "";
        if (ids[i] != 0) {
          ::LoadStringA(AppModule().GetResourceInstance(), ids[i], text, sizeof(text));
        }
        this->SendMessage(SB_SETTEXTA, i, reinterpret_cast<LPARAM>(text));
      }
    }
    static_cast<T*>(this)->UpdatePanesLayout();
    return TRUE;
  }

  int GetPaneIndexFromID(int id) const
  {
    for (int i = 0; i < m_nPanes; i++) {
      if (m_pPane[i] == id) {
        return i;
      }
    }
    return -1;
  }

  BOOL SetPaneText(int id, const char* text, int type = 0) const
  {
    const int index = GetPaneIndexFromID(id);
    if (index < 0) {
      return FALSE;
    }
    return static_cast<BOOL>(
        this->SendMessage(SB_SETTEXTA, index | type, reinterpret_cast<LPARAM>(text)));
  }

  BOOL GetPaneRect(int id, RECT* rect) const
  {
    const int index = GetPaneIndexFromID(id);
    return index >= 0 && GetRect(index, rect);
  }

  // Sets the width of a pane other than the default one; the default pane gives up or takes
  // the difference.
  BOOL SetPaneWidth(int id, int width)
  {
    const int index = GetPaneIndexFromID(id);
    if (index < 0 || id == 0) {
      return FALSE;
    }
    std::vector<int> edges(m_nPanes);
    if (GetParts(m_nPanes, edges.data()) != m_nPanes) {
      return FALSE;
    }
    const int left = index == 0 ? 0 : edges[index - 1];
    const int diff = width - (edges[index] - left);
    const int defaultIndex = GetPaneIndexFromID(0);
    if (defaultIndex >= 0 && defaultIndex < index) {
      for (int i = defaultIndex; i < index; i++) {
        edges[i] -= diff;
      }
    } else {
      for (int i = index; i < m_nPanes; i++) {
        edges[i] += diff;
      }
      if (defaultIndex > index) {
        for (int i = defaultIndex; i < m_nPanes; i++) {
          edges[i] -= diff;
        }
      }
    }
    SetParts(m_nPanes, edges.data());
    static_cast<T*>(this)->UpdatePanesLayout();
    return TRUE;
  }

  // The default pane (and every pane right of it) moves so that the last pane ends at the
  // bar's right edge, or at the size grip.
  void UpdatePanesLayout()
  {
    if (m_nPanes <= 0) {
      return;
    }
    std::vector<int> edges(m_nPanes);
    if (GetParts(m_nPanes, edges.data()) != m_nPanes) {
      return;
    }
    RECT client;
    this->GetClientRect(&client);
    int spare = client.right - edges[m_nPanes - 1];
    if (this->GetStyle() & SBARS_SIZEGRIP) {
      spare -= ::GetSystemMetrics(SM_CXVSCROLL) + ::GetSystemMetrics(SM_CXEDGE);
    }
    const int d = GetPaneIndexFromID(0);
    if (d >= 0) {
      const int left = d == 0 ? 0 : edges[d - 1];
      if (edges[d] + spare > left) {
        for (int i = d; i < m_nPanes; i++) {
          edges[i] += spare;
        }
      }
    }
    SetParts(m_nPanes, edges.data());
  }
};

} // namespace WTL
