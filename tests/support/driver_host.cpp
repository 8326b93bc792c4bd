#include "driver_host.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace test {
namespace {

std::string readUnixFile(const std::string& path)
{
  std::string content;
  HANDLE file = CreateFileA(("Z:" + path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return content;
  }
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
    content.append(buffer, got);
  }
  CloseHandle(file);
  return content;
}

std::string lowerCase(std::string text)
{
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  return text;
}

bool endsWith(const std::string& text, const std::string& end)
{
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Wine writes the Windows command line over the loader's arguments and pads the rest with
// blanks; the host is the word that names winedevice.exe (Wine's own paths have no blanks, and
// a loader run by an emulator has the emulator's words before it).
std::string hostProgramOf(const std::string& commandLine)
{
  const std::string separators(" \0", 2);
  size_t begin = commandLine.find_first_not_of(separators);
  while (begin != std::string::npos) {
    const size_t end = commandLine.find_first_of(separators, begin);
    const std::string word = lowerCase(commandLine.substr(begin, end - begin));
    if (endsWith(word, "\\winedevice.exe")) {
      return word;
    }
    begin = commandLine.find_first_not_of(separators, end);
  }
  return std::string();
}

bool mapsFile(const std::string& maps, const std::string& fileName)
{
  size_t begin = 0;
  while (begin < maps.size()) {
    size_t end = maps.find('\n', begin);
    if (end == std::string::npos) {
      end = maps.size();
    }
    std::string line = maps.substr(begin, end - begin);
    const std::string deleted = " (deleted)";
    if (endsWith(line, deleted)) {
      line.resize(line.size() - deleted.size());
    }
    if (endsWith(line, fileName)) {
      return true;
    }
    begin = end + 1;
  }
  return false;
}

} // namespace

std::vector<std::string> driverHostPrograms(const char* imageFileName)
{
  std::vector<std::string> hosts;
  char prefix[MAX_PATH] = "";
  if (GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof(prefix)) == 0) {
    return hosts;
  }
  const std::string ownPrefix = std::string(1, '\0') + "WINEPREFIX=" + prefix + '\0';
  const std::string image = std::string("/") + imageFileName;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA("Z:\\proc\\*", &entry);
  if (search == INVALID_HANDLE_VALUE) {
    return hosts;
  }
  do {
    const int pid = std::atoi(entry.cFileName);
    if (pid <= 0) {
      continue;
    }
    const std::string dir = "/proc/" + std::to_string(pid);
    const std::string program = hostProgramOf(readUnixFile(dir + "/cmdline"));
    if (program.empty()) {
      continue;
    }
    const std::string environment = std::string(1, '\0') + readUnixFile(dir + "/environ") + '\0';
    if (environment.find(ownPrefix) == std::string::npos) {
      continue; // another Wine session's
    }
    if (mapsFile(readUnixFile(dir + "/maps"), image)) {
      hosts.push_back(program);
    }
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return hosts;
}

} // namespace test
