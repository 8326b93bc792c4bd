// Every text of Tamsin's dialogs fits its static control in this Wine environment. The texts
// and the boxes are the running program's own (its main view while it measures, its About box,
// the link pane of its status bar); each text is measured with the font that the dialog
// manager makes from the program's dialog template, as the static control draws it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "resource.h"

namespace {

const char frameClass[] = "{10E261FD-CE20-406e-8C31-BDCBC04EA51D}";
const int messageBoxTextId = 0xFFFF;
// Bounds against a hang only.
const DWORD startMs = 60000, closeMs = 30000;

std::string exeDirectory()
{
  char path[MAX_PATH] = "";
  ::GetModuleFileNameA(nullptr, path, sizeof(path));
  char* slash = std::strrchr(path, '\\');
  if (slash != nullptr) {
    slash[1] = 0;
  }
  return path;
}

std::string textOf(HWND window)
{
  char buffer[2048] = "";
  DWORD_PTR copied = 0;
  if (!::SendMessageTimeoutA(window, WM_GETTEXT, sizeof(buffer), reinterpret_cast<LPARAM>(buffer),
                             SMTO_ABORTIFHUNG, 5000, &copied)) {
    return "";
  }
  return std::string(buffer, copied < sizeof(buffer) ? copied : 0);
}

std::string classOf(HWND window)
{
  char name[64] = "";
  ::GetClassNameA(window, name, sizeof(name));
  return name;
}

struct WindowSearch {
  DWORD pid;
  int childId; // a dialog that has this control
  HWND found;
};

BOOL CALLBACK findDialog(HWND window, LPARAM param)
{
  auto* search = reinterpret_cast<WindowSearch*>(param);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  if (pid == search->pid && classOf(window) == "#32770" && ::IsWindowVisible(window) &&
      ::GetDlgItem(window, search->childId) != nullptr) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// A visible top-level dialog of the process that holds the control `childId`.
HWND topLevelDialog(DWORD pid, int childId)
{
  WindowSearch search = {pid, childId, nullptr};
  ::EnumWindows(findDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// One static control of a dialog: what the running program shows in it, and where.
struct Box {
  int id;
  std::string text;
  LONG style;
  RECT client;
};

BOOL CALLBACK collectStatic(HWND window, LPARAM param)
{
  auto* boxes = reinterpret_cast<std::vector<Box>*>(param);
  if (_stricmp(classOf(window).c_str(), "Static") != 0) {
    return TRUE;
  }
  const LONG style = ::GetWindowLongA(window, GWL_STYLE);
  switch (style & SS_TYPEMASK) {
  case SS_LEFT:
  case SS_CENTER:
  case SS_RIGHT:
  case SS_SIMPLE:
  case SS_LEFTNOWORDWRAP:
    break;
  default:
    return TRUE; // pictures and frames
  }
  Box box = {::GetDlgCtrlID(window), textOf(window), style, {}};
  ::GetClientRect(window, &box.client);
  boxes->push_back(box);
  return TRUE;
}

// The text statics among the direct children of a dialog.
std::vector<Box> staticsOf(HWND dialog)
{
  std::vector<Box> boxes;
  for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    collectStatic(child, reinterpret_cast<LPARAM>(&boxes));
  }
  return boxes;
}

INT_PTR CALLBACK quietDialog(HWND, UINT message, WPARAM, LPARAM)
{
  return message == WM_INITDIALOG;
}

// A dialog made in this process from one of tamsin.exe's own templates, hidden: its font is
// the one the dialog manager gives the program's dialog, and its controls' boxes must be the
// program's.
class TemplateDialog {
public:
  TemplateDialog(HMODULE program, int templateId)
  {
    parent_ = ::CreateWindowExA(0, "Static", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                nullptr);
    HRSRC resource = ::FindResourceA(program, MAKEINTRESOURCEA(templateId), RT_DIALOG);
    HGLOBAL loaded = resource != nullptr ? ::LoadResource(program, resource) : nullptr;
    auto* dialogTemplate = static_cast<LPCDLGTEMPLATEA>(::LockResource(loaded));
    if (dialogTemplate != nullptr && parent_ != nullptr) {
      dialog_ = ::CreateDialogIndirectParamA(::GetModuleHandleA(nullptr), dialogTemplate, parent_,
                                             quietDialog, 0);
    }
  }
  ~TemplateDialog()
  {
    if (dialog_ != nullptr) {
      ::DestroyWindow(dialog_);
    }
    if (parent_ != nullptr) {
      ::DestroyWindow(parent_);
    }
  }
  TemplateDialog(const TemplateDialog&) = delete;
  TemplateDialog& operator=(const TemplateDialog&) = delete;

  HWND window() const { return dialog_; }
  HFONT font() const { return reinterpret_cast<HFONT>(::SendMessageA(dialog_, WM_GETFONT, 0, 0)); }

private:
  HWND parent_ = nullptr;
  HWND dialog_ = nullptr;
};

// The size DrawText needs for the text as a static control of that style draws it, in a box
// as wide as `width`. A word wider than the box widens the result; lines beyond the box's
// height lengthen it.
SIZE drawnSize(HFONT font, const std::string& text, LONG style, LONG width)
{
  UINT format = DT_CALCRECT | DT_EXPANDTABS;
  const LONG type = style & SS_TYPEMASK;
  if (type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT) {
    format |= DT_WORDBREAK;
  }
  if ((style & SS_CENTERIMAGE) != 0 || type == SS_SIMPLE) {
    format |= DT_SINGLELINE;
  }
  if ((style & SS_NOPREFIX) != 0) {
    format |= DT_NOPREFIX;
  }
  HDC dc = ::GetDC(nullptr);
  HGDIOBJ old = ::SelectObject(dc, font);
  RECT r = {0, 0, width, 0};
  ::DrawTextA(dc, text.c_str(), -1, &r, format);
  ::SelectObject(dc, old);
  ::ReleaseDC(nullptr, dc);
  return {r.right - r.left, r.bottom - r.top};
}

// Every static of the running program's dialog whose text does not fit, one line each; and
// every box whose size differs from the template dialog's (another font would be measured).
std::string cutTexts(HWND programDialog, const TemplateDialog& reference)
{
  std::ostringstream out;
  const std::vector<Box> boxes = staticsOf(programDialog);
  if (boxes.empty()) {
    out << "no text statics found\n";
  }
  for (const Box& box : boxes) {
    RECT expected = {};
    ::GetClientRect(::GetDlgItem(reference.window(), box.id), &expected);
    if (expected.right != box.client.right || expected.bottom != box.client.bottom) {
      out << box.id << ": the program's box is " << box.client.right << "x" << box.client.bottom
          << " px, the template's " << expected.right << "x" << expected.bottom << "\n";
      continue;
    }
    const SIZE need = drawnSize(reference.font(), box.text, box.style, box.client.right);
    if (need.cx > box.client.right || need.cy > box.client.bottom) {
      out << box.id << ": \"" << box.text << "\" needs " << need.cx << "x" << need.cy
          << " px, its box is " << box.client.right << "x" << box.client.bottom << "\n";
    }
  }
  return out.str();
}

class TamsinTexts : public ::testing::Test {
protected:
  static void SetUpTestSuite()
  {
    program_ = ::LoadLibraryExA((exeDirectory() + "tamsin.exe").c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE);
    std::string path = exeDirectory() + "tamsin.exe";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    if (!::CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process_)) {
      startError_ = "tamsin.exe did not start: error " + std::to_string(::GetLastError());
      return;
    }
    startError_ = waitUntilMeasuring();
  }

  static void TearDownTestSuite()
  {
    if (process_.hProcess != nullptr) {
      HWND frame = ::FindWindowA(frameClass, nullptr);
      if (frame != nullptr) {
        ::PostMessageA(frame, WM_CLOSE, 0, 0);
      }
      if (::WaitForSingleObject(process_.hProcess, closeMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process_.hProcess, 1);
      }
      ::CloseHandle(process_.hThread);
      ::CloseHandle(process_.hProcess);
      process_ = {};
    }
    if (program_ != nullptr) {
      ::FreeLibrary(program_);
      program_ = nullptr;
    }
  }

  // Empty once the view shows the driver's first values; else why not.
  static std::string waitUntilMeasuring()
  {
    for (DWORD start = ::GetTickCount(); ::GetTickCount() - start < startMs; ::Sleep(50)) {
      if (::WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0) {
        return "tamsin.exe ended before it measured";
      }
      HWND box = topLevelDialog(process_.dwProcessId, messageBoxTextId);
      if (box != nullptr) {
        return "tamsin.exe shows \"" + textOf(box) +
               "\": " + textOf(::GetDlgItem(box, messageBoxTextId));
      }
      const std::string period = textOf(::GetDlgItem(view(), IDC_PERIOD));
      if (view() != nullptr && !period.empty() && period != "0 \xB5s" && period != "\xB5s") {
        return "";
      }
    }
    return "tamsin.exe does not measure";
  }

  void SetUp() override
  {
    ASSERT_NE(program_, nullptr) << "tamsin.exe cannot be read: " << ::GetLastError();
    ASSERT_EQ(startError_, "");
  }

  static HWND view()
  {
    HWND frame = ::FindWindowA(frameClass, nullptr);
    return frame != nullptr ? ::FindWindowExA(frame, nullptr, "#32770", nullptr) : nullptr;
  }

  static HMODULE program_;
  static PROCESS_INFORMATION process_;
  static std::string startError_;
};

HMODULE TamsinTexts::program_ = nullptr;
PROCESS_INFORMATION TamsinTexts::process_ = {};
std::string TamsinTexts::startError_;

TEST_F(TamsinTexts, MainViewWhileMeasuring)
{
  TemplateDialog reference(program_, IDD_MAIN_VIEW);
  ASSERT_NE(reference.window(), nullptr);
  EXPECT_EQ(cutTexts(view(), reference), "");
}

TEST_F(TamsinTexts, LinkPaneOfTheStatusBar)
{
  TemplateDialog reference(program_, IDD_URL_PANE);
  ASSERT_NE(reference.window(), nullptr);
  HWND frame = ::FindWindowA(frameClass, nullptr);
  HWND statusBar = ::FindWindowExA(frame, nullptr, "msctls_statusbar32", nullptr);
  HWND pane = ::FindWindowExA(statusBar, nullptr, "#32770", nullptr);
  ASSERT_NE(pane, nullptr);
  EXPECT_EQ(cutTexts(pane, reference), "");
}

TEST_F(TamsinTexts, AboutBox)
{
  TemplateDialog reference(program_, IDD_ABOUTBOX);
  ASSERT_NE(reference.window(), nullptr);
  // Posted: the box's modal loop runs inside the handling of the command.
  ::PostMessageA(::FindWindowA(frameClass, nullptr), WM_COMMAND, ID_APP_ABOUT, 0);
  HWND about = nullptr;
  for (DWORD start = ::GetTickCount(); about == nullptr && ::GetTickCount() - start < startMs;
       ::Sleep(50)) {
    about = topLevelDialog(process_.dwProcessId, IDC_ABOUT_NOTICE);
  }
  ASSERT_NE(about, nullptr);
  // The texts that the box sets when it opens.
  for (DWORD start = ::GetTickCount();
       textOf(::GetDlgItem(about, IDC_ABOUT_NOTICE)).rfind("Static", 0) == 0 &&
       ::GetTickCount() - start < startMs;
       ::Sleep(50)) {
  }
  const std::string cut = cutTexts(about, reference);
  ::PostMessageA(about, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(cut, "");
}

} // namespace
