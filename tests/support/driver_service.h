// Installs a kernel driver through the service manager for the lifetime of the object, and
// removes it again however the test ends. A service of the same name that an earlier, aborted
// run left registered is removed first.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace test {

class DriverService {
public:
  // Called with the service key open for writing, before the driver starts.
  using Configure = std::function<void(HKEY serviceKey)>;

  DriverService(std::string name, std::string imagePath, Configure configure = {});
  ~DriverService();

  DriverService(const DriverService&) = delete;
  DriverService& operator=(const DriverService&) = delete;

  bool running() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  // Stops and deletes the service; true when it is gone. The destructor calls it too.
  bool remove();

  // Stops and deletes a service of this name if one is registered.
  static void removeLeftover(const std::string& name);

private:
  std::string name_;
  std::string error_;
  bool installed_ = false;
};

// Full path of an x86 or an x64 kernel image of the build, by file name.
std::string x86DriverPath(const char* fileName);
std::string x64DriverPath(const char* fileName);

} // namespace test
