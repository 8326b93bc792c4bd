// Update-UI state: check marks and enabled states of commands, kept in one table and applied
// to the kinds of user-interface element that each command is registered for.
#pragma once

#include <windows.h>

#include <vector>

namespace WTL {

// Element kinds of an update-UI map entry.
enum : WORD {
  UPDUI_MENUPOPUP = 0x0001,
  UPDUI_MENUBAR = 0x0002,
  UPDUI_CHILDWINDOW = 0x0004,
  UPDUI_TOOLBAR = 0x0008,
  UPDUI_STATUSBAR = 0x0010,
};

struct UpdateUIMapEntry {
  WORD id;   // command id; 0xFFFF ends the map
  WORD kind; // UPDUI_* bits
};
const WORD updateUIMapEnd = 0xFFFF;

// T supplies `static const UpdateUIMapEntry* GetUpdateUIMap()`.
template <class T> class CUpdateUI {
public:
  CUpdateUI()
  {
    for (const UpdateUIMapEntry* e = T::GetUpdateUIMap(); e->id != updateUIMapEnd; e++) {
      m_states.push_back({*e, false, true, false});
    }
  }

  BOOL UISetCheck(UINT id, bool checked)
  {
    State* s = Find(id);
    if (s == nullptr) {
      return FALSE;
    }
    s->dirty = s->dirty || s->checked != checked;
    s->checked = checked;
    return TRUE;
  }

  BOOL UIEnable(UINT id, bool enabled)
  {
    State* s = Find(id);
    if (s == nullptr) {
      return FALSE;
    }
    s->dirty = s->dirty || s->enabled != enabled;
    s->enabled = enabled;
    return TRUE;
  }

  bool UIGetCheck(UINT id) const
  {
    for (const State& s : m_states) {
      if (s.entry.id == id) {
        return s.checked;
      }
    }
    return false;
  }

  // Applies changed states to the registered tool bars (the program registers none).
  BOOL UIUpdateToolBar()
  {
    for (State& s : m_states) {
      if (s.entry.kind & UPDUI_TOOLBAR) {
        s.dirty = false;
      }
    }
    return TRUE;
  }

  // Menu-popup entries are applied to a popup as it opens; the message goes on.
  BOOL ProcessWindowMessage(HWND, UINT message, WPARAM wParam, LPARAM, LRESULT&, DWORD mapId = 0)
  {
    if (mapId == 0 && message == WM_INITMENUPOPUP) {
      HMENU popup = reinterpret_cast<HMENU>(wParam);
      for (State& s : m_states) {
        if ((s.entry.kind & UPDUI_MENUPOPUP) == 0) {
          continue;
        }
        ::CheckMenuItem(popup, s.entry.id, MF_BYCOMMAND | (s.checked ? MF_CHECKED : MF_UNCHECKED));
        ::EnableMenuItem(popup, s.entry.id, MF_BYCOMMAND | (s.enabled ? MF_ENABLED : MF_GRAYED));
      }
    }
    return FALSE;
  }

private:
  struct State {
    UpdateUIMapEntry entry;
    bool checked;
    bool enabled;
    bool dirty;
  };
  State* Find(UINT id)
  {
    for (State& s : m_states) {
      if (s.entry.id == id) {
        return &s;
      }
    }
    return nullptr;
  }
  std::vector<State> m_states;
};

} // namespace WTL
