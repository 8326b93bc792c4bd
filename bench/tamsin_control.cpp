// Remote control of a running Tamsin for the benchmark script: waits until it measures,
// prints what it shows, or closes it the way its Exit button does.
//
//   tamsin_control.exe wait | values | close
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char frameClass[] = "{10E261FD-CE20-406e-8C31-BDCBC04EA51D}";

HWND view()
{
  HWND frame = ::FindWindowA(frameClass, nullptr);
  return frame != nullptr ? ::FindWindowExA(frame, nullptr, "#32770", nullptr) : nullptr;
}

std::string text(int id)
{
  char buffer[256] = "";
  ::GetDlgItemTextA(view(), id, buffer, sizeof(buffer));
  return buffer;
}

} // namespace

int main(int argc, char** argv)
{
  const char* command = argc > 1 ? argv[1] : "";
  if (std::strcmp(command, "wait") == 0) {
    for (int i = 0; i < 600; i++) {
      if (view() != nullptr && text(1009) != "0 \xB5s" && !text(1009).empty()) {
        return 0;
      }
      ::Sleep(50);
    }
    std::fprintf(stderr, "tamsin does not measure\n");
    return 1;
  }
  if (std::strcmp(command, "values") == 0) {
    // The micro sign as UTF-8 for the terminal.
    const auto show = [](std::string t) {
      const size_t at = t.find('\xB5');
      return at == std::string::npos ? t : t.replace(at, 1, "\xC2\xB5");
    };
    std::printf("current %s, absolute maximum %s, period %s\n", show(text(1004)).c_str(),
                show(text(1005)).c_str(), show(text(1009)).c_str());
    return 0;
  }
  if (std::strcmp(command, "close") == 0) {
    HWND frame = ::FindWindowA(frameClass, nullptr);
    if (frame == nullptr) {
      return 1;
    }
    ::PostMessageA(frame, WM_CLOSE, 0, 0);
    for (int i = 0; i < 400 && ::IsWindow(frame); i++) {
      ::Sleep(50);
    }
    return ::IsWindow(frame) ? 1 : 0;
  }
  std::fprintf(stderr, "usage: tamsin_control.exe wait | values | close\n");
  return 2;
}
