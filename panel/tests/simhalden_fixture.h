// The simulated Halden driver for the length of the test program: installed on first need,
// reset before each test, removed at the end (or by a test that wants no driver).
#pragma once

#include "simhalden_controller.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace test {

// Installs the stand-in unless it runs already. Empty on success, else what failed.
std::string installSimHalden();
// Stops and deletes it.
void removeSimHalden();

// The number of handles this process holds, as the system's handle table counts them
// (GetProcessHandleCount answers 0 under Wine).
unsigned long processHandleCount();

// Reads the ten request codes back as names in failure messages.
const char* requestName(uint32_t code);

class SimHaldenTest : public ::testing::Test {
protected:
  void SetUp() override;

  std::vector<HaldenSimLogEntry> log();
  // The names of the requests received, in order.
  std::vector<std::string> loggedNames();
  HaldenSimState state();
  // Polls until the driver has seen this many open handles; Wine delivers the close of a
  // handle to the driver asynchronously. False after a few seconds.
  bool waitForOpenHandles(uint32_t n);
  // Polls until this many requests are held; false after a few seconds.
  bool waitForHeld(uint32_t n);

  std::unique_ptr<SimHaldenController> sim;
};

} // namespace test
