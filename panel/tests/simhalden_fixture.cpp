#include "simhalden_fixture.h"

#include "driver_service.h"

#include <winternl.h>

#include <cstring>

#include <memory>

namespace test {
namespace {

std::unique_ptr<DriverService>& service()
{
  static std::unique_ptr<DriverService> instance;
  return instance;
}

class RemoveAtEnd : public ::testing::Environment {
public:
  void TearDown() override { removeSimHalden(); }
};

const ::testing::Environment* const removeAtEnd =
    ::testing::AddGlobalTestEnvironment(new RemoveAtEnd);

template <typename Condition> bool pollFor(Condition condition)
{
  for (int i = 0; i < 500; i++) {
    if (condition()) {
      return true;
    }
    Sleep(10);
  }
  return condition();
}

} // namespace

unsigned long processHandleCount()
{
  // SystemHandleInformation: a count, then one entry per open handle in the system.
  struct Entry {
    USHORT processId;
    USHORT creatorBackTraceIndex;
    UCHAR objectType;
    UCHAR flags;
    USHORT handle;
    PVOID object;
    ULONG grantedAccess;
  };
  const auto systemHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(16);
  std::vector<char> buffer(1 << 20);
  ULONG got = 0;
  NTSTATUS status;
  while ((status = NtQuerySystemInformation(systemHandleInformation, buffer.data(),
                                            static_cast<ULONG>(buffer.size()), &got)) ==
         static_cast<NTSTATUS>(0xC0000004)) { // STATUS_INFO_LENGTH_MISMATCH
    buffer.resize(buffer.size() * 2);
  }
  if (status != 0) {
    ADD_FAILURE() << "NtQuerySystemInformation: 0x" << std::hex << status;
    return 0;
  }
  ULONG count;
  memcpy(&count, buffer.data(), sizeof(count));
  const auto* entries = reinterpret_cast<const Entry*>(buffer.data() + sizeof(void*));
  const USHORT self = static_cast<USHORT>(GetCurrentProcessId());
  unsigned long n = 0;
  for (ULONG i = 0; i < count; i++) {
    n += entries[i].processId == self ? 1 : 0;
  }
  return n;
}

std::string installSimHalden()
{
  auto& s = service();
  if (!s || !s->running()) {
    s.reset();
    s = std::make_unique<DriverService>(SIMHALDEN_SERVICE_NAME,
                                        x64DriverPath(SIMHALDEN_IMAGE_NAME));
  }
  return s->error();
}

void removeSimHalden()
{
  service().reset();
  DriverService::removeLeftover(SIMHALDEN_SERVICE_NAME);
}

const char* requestName(uint32_t code)
{
  switch (code) {
  case IOCTL_OX_GET_VERSION:
    return "GET_VERSION";
  case IOCTL_OX_CMD_820:
    return "CMD_820";
  case IOCTL_OX_RELEASE:
    return "RELEASE";
  case IOCTL_OX_GET_DEVICE_LIST:
    return "GET_DEVICE_LIST";
  case IOCTL_OX_GET_STATUS:
    return "GET_STATUS";
  case IOCTL_OX_SET_SAMPLE_RATE:
    return "SET_SAMPLE_RATE";
  case IOCTL_OX_START_STREAMING:
    return "START_STREAMING";
  case IOCTL_OX_STOP_STREAMING:
    return "STOP_STREAMING";
  case IOCTL_OX_SELECT_DEVICE:
    return "SELECT_DEVICE";
  case IOCTL_OX_SET_BUFFER_SIZES:
    return "SET_BUFFER_SIZES";
  default:
    return "unknown";
  }
}

void SimHaldenTest::SetUp()
{
  const std::string error = installSimHalden();
  ASSERT_TRUE(error.empty()) << error;
  sim = std::make_unique<SimHaldenController>();
  ASSERT_TRUE(sim->isOpen()) << "control device: error " << sim->openError();
  ASSERT_EQ(sim->reset(), 0u);
}

std::vector<HaldenSimLogEntry> SimHaldenTest::log()
{
  auto buffer = std::make_unique<HaldenSimLog>();
  EXPECT_EQ(sim->getLog(*buffer), 0u);
  return std::vector<HaldenSimLogEntry>(buffer->entries, buffer->entries + buffer->count);
}

std::vector<std::string> SimHaldenTest::loggedNames()
{
  std::vector<std::string> names;
  for (const HaldenSimLogEntry& e : log()) {
    names.push_back(requestName(e.ioControlCode));
  }
  return names;
}

HaldenSimState SimHaldenTest::state()
{
  HaldenSimState s;
  EXPECT_EQ(sim->getState(s), 0u);
  return s;
}

bool SimHaldenTest::waitForOpenHandles(uint32_t n)
{
  return pollFor([&] { return state().openHandles == n; });
}

bool SimHaldenTest::waitForHeld(uint32_t n)
{
  return pollFor([&] { return state().heldRequests == n; });
}

} // namespace test
