// The resources built into tamsin.exe, read back from the program file: dialogs with their
// styles, rectangles and texts, the menu, accelerators, strings, tool-bar record and images,
// and the two driver images.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "tamsin_window.h"

namespace {

struct DialogItem {
  DWORD exStyle;
  DWORD style;
  short x, y, cx, cy;
  DWORD id;
  std::wstring cls; // L"#128" style for ordinals
  std::wstring text;
};

struct Dialog {
  DWORD exStyle;
  DWORD style;
  short x, y, cx, cy;
  std::wstring title;
  WORD pointSize;
  WORD weight;
  BYTE italic;
  BYTE charset;
  std::wstring font;
  std::vector<DialogItem> items;
};

// Reads an extended dialog template.
class TemplateReader {
public:
  explicit TemplateReader(const BYTE* data) : p_(data), start_(data) {}
  WORD word()
  {
    WORD w;
    std::memcpy(&w, p_, 2);
    p_ += 2;
    return w;
  }
  DWORD dword()
  {
    DWORD d;
    std::memcpy(&d, p_, 4);
    p_ += 4;
    return d;
  }
  BYTE byte() { return *p_++; }
  std::wstring text()
  {
    std::wstring s;
    for (WORD c = word(); c != 0; c = word()) {
      s += static_cast<wchar_t>(c);
    }
    return s;
  }
  // A name or an ordinal ("#n").
  std::wstring nameOrOrdinal()
  {
    WORD first;
    std::memcpy(&first, p_, 2);
    if (first == 0) {
      p_ += 2;
      return L"";
    }
    if (first == 0xFFFF) {
      p_ += 2;
      return L"#" + std::to_wstring(word());
    }
    return text();
  }
  void alignDword()
  {
    while ((p_ - start_) % 4 != 0) {
      p_++;
    }
  }
  void skip(size_t n) { p_ += n; }

private:
  const BYTE* p_;
  const BYTE* start_;
};

class TamsinResources : public ::testing::Test {
protected:
  static void SetUpTestSuite()
  {
    module = ::LoadLibraryExA(tamsin_test::programPath("tamsin.exe").c_str(), nullptr,
                              LOAD_LIBRARY_AS_DATAFILE);
  }
  static void TearDownTestSuite() { ::FreeLibrary(module); }

  static std::vector<BYTE> resource(const char* type, WORD id)
  {
    HRSRC found = ::FindResourceExA(module, type, MAKEINTRESOURCEA(id),
                                    MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (found == nullptr) {
      return {};
    }
    const auto* data = static_cast<const BYTE*>(::LockResource(::LoadResource(module, found)));
    return std::vector<BYTE>(data, data + ::SizeofResource(module, found));
  }

  static Dialog dialog(WORD id)
  {
    const std::vector<BYTE> data = resource(MAKEINTRESOURCEA(5), id);
    Dialog d = {};
    if (data.empty()) {
      return d;
    }
    TemplateReader r(data.data());
    EXPECT_EQ(r.word(), 1) << "an extended template";
    EXPECT_EQ(r.word(), 0xFFFF);
    r.dword(); // help id
    d.exStyle = r.dword();
    d.style = r.dword();
    const WORD count = r.word();
    d.x = r.word();
    d.y = r.word();
    d.cx = r.word();
    d.cy = r.word();
    EXPECT_EQ(r.nameOrOrdinal(), L"") << "no menu";
    EXPECT_EQ(r.nameOrOrdinal(), L"") << "the standard dialog class";
    d.title = r.text();
    if (d.style & (DS_SETFONT | DS_FIXEDSYS)) {
      d.pointSize = r.word();
      d.weight = r.word();
      d.italic = r.byte();
      d.charset = r.byte();
      d.font = r.text();
    }
    for (WORD i = 0; i < count; i++) {
      r.alignDword();
      DialogItem item;
      r.dword(); // help id
      item.exStyle = r.dword();
      item.style = r.dword();
      item.x = r.word();
      item.y = r.word();
      item.cx = r.word();
      item.cy = r.word();
      item.id = r.dword();
      item.cls = r.nameOrOrdinal();
      item.text = r.nameOrOrdinal();
      r.skip(r.word());
      d.items.push_back(item);
    }
    return d;
  }

  static std::string loadString(UINT id)
  {
    char text[512] = "";
    const int n = ::LoadStringA(module, id, text, sizeof(text));
    return std::string(text, n > 0 ? n : 0);
  }

  static HMODULE module;
};

HMODULE TamsinResources::module = nullptr;

// Control classes by name; a template may also give the predefined ones as ordinals.
const std::wstring button = L"BUTTON", edit = L"EDIT", staticClass = L"STATIC";

std::wstring className(const std::wstring& cls)
{
  if (cls == L"#128") {
    return button;
  }
  if (cls == L"#129") {
    return edit;
  }
  if (cls == L"#130") {
    return staticClass;
  }
  std::wstring upper = cls;
  for (wchar_t& c : upper) {
    c = static_cast<wchar_t>(towupper(c));
  }
  return upper;
}
const DWORD child = WS_CHILD | WS_VISIBLE;

void expectItems(const Dialog& d, const std::vector<DialogItem>& expected)
{
  ASSERT_EQ(d.items.size(), expected.size());
  for (size_t i = 0; i < expected.size(); i++) {
    const DialogItem& a = d.items[i];
    const DialogItem& e = expected[i];
    SCOPED_TRACE("control " + std::to_string(i) + ", id " + std::to_string(e.id));
    EXPECT_EQ(a.id, e.id);
    EXPECT_EQ(className(a.cls), e.cls);
    EXPECT_EQ(a.text, e.text);
    EXPECT_EQ(a.style, e.style) << std::hex << a.style << " " << e.style;
    EXPECT_EQ(a.exStyle, e.exStyle) << std::hex << a.exStyle << " " << e.exStyle;
    EXPECT_EQ(a.x, e.x);
    EXPECT_EQ(a.y, e.y);
    EXPECT_EQ(a.cx, e.cx);
    EXPECT_EQ(a.cy, e.cy);
  }
}

void expectShellFont(const Dialog& d)
{
  EXPECT_EQ(d.pointSize, 8);
  EXPECT_EQ(d.font, L"MS Shell Dlg");
  EXPECT_EQ(d.weight, 0);
  EXPECT_EQ(d.italic, 0);
  EXPECT_EQ(d.charset, 1);
}

TEST_F(TamsinResources, TheMainView)
{
  ASSERT_NE(module, nullptr);
  const Dialog d = dialog(129);
  EXPECT_EQ(d.style, DWORD(DS_SETFONT | DS_FIXEDSYS | WS_CHILD | WS_VISIBLE));
  EXPECT_EQ(d.exStyle, 0u);
  EXPECT_EQ(d.cx, 335);
  EXPECT_EQ(d.cy, 186);
  EXPECT_EQ(d.title, L"");
  expectShellFont(d);
  const DWORD label = child | SS_LEFT | SS_NOTIFY | WS_GROUP;
  const DWORD push = child | BS_PUSHBUTTON | WS_TABSTOP;
  expectItems(d, {
                     {0, push, 301, 162, 27, 17, 1001, button, L"Exit"},
                     {0, push, 301, 118, 27, 17, 1007, button, L"Stop"},
                     {0, push, 301, 140, 27, 17, 1000, button, L"Reset"},
                     {WS_EX_STATICEDGE, child | ES_MULTILINE | ES_READONLY, 124, 119, 170, 60, 1012,
                      edit, L""},
                     {0, label, 77, 164, 41, 8, 1005, staticClass, L"\u00B5s"},
                     {0, label, 7, 164, 63, 8, 1003, staticClass, L"Absolute Maximum:"},
                     {0, label, 77, 142, 41, 8, 1004, staticClass, L"\u00B5s"},
                     {0, label, 7, 142, 63, 8, 1002, staticClass, L"Current Latency:"},
                     {0, label, 77, 120, 41, 8, 1009, staticClass, L"\u00B5s"},
                     {0, label, 7, 120, 63, 8, 1008, staticClass, L"Test Interval:"},
                     {WS_EX_DLGMODALFRAME, child | SS_ENHMETAFILE | SS_NOTIFY, 7, 7, 321, 108, 1006,
                      staticClass, L""},
                 });
}

TEST_F(TamsinResources, TheAboutBox)
{
  const Dialog d = dialog(100);
  EXPECT_EQ(d.style,
            DWORD(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS));
  EXPECT_EQ(d.cx, 237);
  EXPECT_EQ(d.cy, 184);
  EXPECT_EQ(d.title, L"About");
  expectShellFont(d);
  ASSERT_EQ(d.items.size(), 6u);
  const DialogItem& ok = d.items[0];
  EXPECT_EQ(ok.id, DWORD(IDOK));
  EXPECT_EQ(ok.style & 0xF, DWORD(BS_DEFPUSHBUTTON));
  EXPECT_EQ(ok.text, L"OK");
  EXPECT_EQ((std::vector<short>{ok.x, ok.y, ok.cx, ok.cy}), (std::vector<short>{95, 159, 50, 14}));
  const DialogItem& text = d.items[1];
  EXPECT_EQ(text.id, 1007u);
  EXPECT_EQ(text.style & SS_TYPEMASK, DWORD(SS_CENTER));
  EXPECT_EQ(text.text, L"1\n2\n3\n4");
  EXPECT_EQ((std::vector<short>{text.x, text.y, text.cx, text.cy}),
            (std::vector<short>{51, 14, 138, 32}));
  const DialogItem& icon = d.items[2];
  EXPECT_EQ(icon.style & SS_TYPEMASK, DWORD(SS_ICON));
  EXPECT_EQ(icon.text, L"#128");
  EXPECT_EQ((std::vector<short>{icon.x, icon.y}), (std::vector<short>{17, 17}));
  const DialogItem& group = d.items[3];
  EXPECT_EQ(group.style & 0xF, DWORD(BS_GROUPBOX));
  EXPECT_EQ(group.text, L"Legal Notice");
  EXPECT_EQ((std::vector<short>{group.x, group.y, group.cx, group.cy}),
            (std::vector<short>{16, 73, 205, 77}));
  const DialogItem& link = d.items[4];
  EXPECT_EQ(link.id, 1008u);
  EXPECT_EQ(link.style & SS_TYPEMASK, DWORD(SS_CENTER));
  EXPECT_EQ(link.text, L"www.halden.example");
  EXPECT_EQ((std::vector<short>{link.x, link.y, link.cx, link.cy}),
            (std::vector<short>{81, 54, 78, 8}));
  const DialogItem& notice = d.items[5];
  EXPECT_EQ(notice.id, 1013u);
  EXPECT_EQ(notice.style & SS_TYPEMASK, DWORD(SS_LEFT));
  EXPECT_EQ((std::vector<short>{notice.x, notice.y, notice.cx, notice.cy}),
            (std::vector<short>{24, 85, 189, 59}));
}

TEST_F(TamsinResources, TheLinkPane)
{
  const Dialog d = dialog(101);
  EXPECT_EQ(d.style, DWORD(WS_CHILD | WS_VISIBLE | DS_SETFONT | DS_FIXEDSYS));
  EXPECT_EQ(d.exStyle, DWORD(WS_EX_TRANSPARENT));
  EXPECT_EQ(d.cx, 183);
  EXPECT_EQ(d.cy, 20);
  EXPECT_EQ(d.title, L"");
  expectShellFont(d);
  expectItems(
      d, {{WS_EX_TRANSPARENT, child | SS_LEFTNOWORDWRAP | SS_NOTIFY | SS_CENTERIMAGE | WS_GROUP, 0,
           2, 100, 8, 1011, staticClass, L"www.halden.example"}});
}

TEST_F(TamsinResources, TheMenu)
{
  HMENU menu = ::LoadMenuA(module, MAKEINTRESOURCEA(128));
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(::GetMenuItemCount(menu), 2);
  const struct {
    const char* popup;
    const char* item;
    UINT id;
  } expected[] = {{"&File", "E&xit", 57665}, {"&Info", "&About", 57664}};
  for (int i = 0; i < 2; i++) {
    char text[64] = "";
    ::GetMenuStringA(menu, i, text, sizeof(text), MF_BYPOSITION);
    EXPECT_STREQ(text, expected[i].popup);
    HMENU popup = ::GetSubMenu(menu, i);
    ASSERT_EQ(::GetMenuItemCount(popup), 1);
    EXPECT_EQ(::GetMenuItemID(popup, 0), expected[i].id);
    ::GetMenuStringA(popup, 0, text, sizeof(text), MF_BYPOSITION);
    EXPECT_STREQ(text, expected[i].item);
  }
  ::DestroyMenu(menu);
}

TEST_F(TamsinResources, TheAccelerators)
{
  HACCEL table = ::LoadAcceleratorsA(module, MAKEINTRESOURCEA(128));
  ASSERT_NE(table, nullptr);
  ACCEL entries[8] = {};
  ASSERT_EQ(::CopyAcceleratorTableA(table, entries, 8), 6);
  const ACCEL expected[] = {
      {FVIRTKEY | FCONTROL, 'N', 57600}, {FVIRTKEY | FCONTROL, 'O', 57601},
      {FVIRTKEY | FCONTROL, 'S', 57603}, {FVIRTKEY | FCONTROL, 'P', 57607},
      {FVIRTKEY, VK_F6, 57680},          {FVIRTKEY | FSHIFT, VK_F6, 57681},
  };
  for (int i = 0; i < 6; i++) {
    EXPECT_EQ(entries[i].fVirt & ~0x80, expected[i].fVirt) << i;
    EXPECT_EQ(entries[i].key, expected[i].key) << i;
    EXPECT_EQ(entries[i].cmd, expected[i].cmd) << i;
  }
}

TEST_F(TamsinResources, TheStrings)
{
  const struct {
    UINT id;
    const char* text;
  } expected[] = {
      {128, "Ravelin"},
      {57345, "Ready"},
      {57665, "Quit the application.\nExit"},
      {61184, "Change the window size"},
      {61185, "Change the window position"},
      {61186, "Reduce the window to an icon"},
      {61187, "Enlarge the window to full size"},
      {61188, "Switch to the next document window"},
      {61189, "Switch to the previous document window"},
      {61190, "Close the active window and prompts to save the documents"},
      {61202, "Restore the window to normal size"},
      {61203, "Activate Task List"},
  };
  for (const auto& e : expected) {
    EXPECT_EQ(loadString(e.id), e.text) << e.id;
  }
  const std::string about = loadString(57664);
  EXPECT_EQ(about.substr(about.find('\n')), "\nAbout");
  for (UINT id : {57600u, 57601u, 57603u, 57607u, 57634u, 57635u, 57637u, 57680u, 57681u, 59392u,
                  59393u, 61215u, 61402u}) {
    EXPECT_FALSE(loadString(id).empty()) << id;
  }
}

TEST_F(TamsinResources, TheToolBarRecordAndItsImages)
{
  const std::vector<BYTE> record = resource(MAKEINTRESOURCEA(241), 128);
  ASSERT_EQ(record.size(), 2u * (4 + 10));
  std::vector<WORD> words(record.size() / 2);
  std::memcpy(words.data(), record.data(), record.size());
  EXPECT_EQ(words, (std::vector<WORD>{1, 16, 15, 10, 57600, 57601, 57603, 0, 57635, 57634, 57637, 0,
                                      57607, 57664}));

  const std::vector<BYTE> bitmap = resource(MAKEINTRESOURCEA(2), 128);
  ASSERT_GE(bitmap.size(), sizeof(BITMAPINFOHEADER));
  BITMAPINFOHEADER header;
  std::memcpy(&header, bitmap.data(), sizeof(header));
  EXPECT_EQ(header.biWidth, 128);
  EXPECT_EQ(header.biHeight, 15);
  EXPECT_EQ(header.biBitCount, 4);

  HICON icon =
      static_cast<HICON>(::LoadImageA(module, MAKEINTRESOURCEA(128), IMAGE_ICON, 32, 32, 0));
  EXPECT_NE(icon, nullptr);
  ::DestroyIcon(icon);
}

TEST_F(TamsinResources, TheDriverImages)
{
  const struct {
    WORD id;
    WORD machine;
  } images[] = {{101, IMAGE_FILE_MACHINE_I386}, {102, IMAGE_FILE_MACHINE_AMD64}};
  for (const auto& image : images) {
    const std::vector<BYTE> data = resource("BINRES", image.id);
    ASSERT_GT(data.size(), 1024u) << image.id;
    ASSERT_EQ(data[0], 'M');
    ASSERT_EQ(data[1], 'Z');
    LONG peOffset;
    std::memcpy(&peOffset, data.data() + 0x3C, 4);
    ASSERT_LT(size_t(peOffset) + 0x60, data.size());
    EXPECT_EQ(std::memcmp(data.data() + peOffset, "PE\0\0", 4), 0);
    WORD machine, subsystem;
    std::memcpy(&machine, data.data() + peOffset + 4, 2);
    // Subsystem: at offset 68 of the optional header, which starts 24 bytes into the PE header.
    std::memcpy(&subsystem, data.data() + peOffset + 24 + 68, 2);
    EXPECT_EQ(machine, image.machine) << image.id;
    EXPECT_EQ(subsystem, IMAGE_SUBSYSTEM_NATIVE) << image.id;
  }
}

} // namespace
