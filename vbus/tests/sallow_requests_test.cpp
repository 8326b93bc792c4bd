// Sallow's requests, through Wine's I/O manager to the stand-in bus driver and back.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "driver_service.h"
#include "sallow.h"
#include "sim1394bus_control.h"

namespace {

const DWORD busCount = 3;

class Bus {
public:
  Bus()
  {
    control_ = CreateFileA(SIM1394_CONTROL_DOS_NAME, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  }
  ~Bus()
  {
    if (control_ != INVALID_HANDLE_VALUE) {
      CloseHandle(control_);
    }
  }
  bool open() const { return control_ != INVALID_HANDLE_VALUE; }

  void answer(LONG status)
  {
    DWORD returned;
    ASSERT_TRUE(DeviceIoControl(control_, IOCTL_SIM1394_SET_RESULT, &status, sizeof(status),
                                nullptr, 0, &returned, nullptr));
  }
  void reset()
  {
    DWORD returned;
    ASSERT_TRUE(
        DeviceIoControl(control_, IOCTL_SIM1394_RESET, nullptr, 0, nullptr, 0, &returned, nullptr));
  }
  Sim1394Record record()
  {
    Sim1394Record r = {};
    DWORD returned = 0;
    EXPECT_TRUE(DeviceIoControl(control_, IOCTL_SIM1394_GET_RECORD, nullptr, 0, &r, sizeof(r),
                                &returned, nullptr));
    EXPECT_EQ(returned, sizeof(r));
    return r;
  }

private:
  HANDLE control_;
};

DWORD word(const Sim1394Record& r, size_t offset)
{
  DWORD value;
  std::memcpy(&value, r.input + offset, sizeof(value));
  return value;
}

WORD unit(const Sim1394Record& r, size_t offset)
{
  WORD value;
  std::memcpy(&value, r.input + offset, sizeof(value));
  return value;
}

// Offsets in the bus driver's request record.
const size_t requestNumberAt = 0, requestFlagsAt = 4, deviceFlagsAt = 8, instanceLowAt = 16,
             instanceHighAt = 20, deviceIdAt = 24;

// While it lives, the module's import of a function (by name, from whichever DLL) goes to a
// replacement: the slot is found in the import address table through the module's PE headers.
class ImportPatch {
public:
  ImportPatch(HMODULE module, const char* function, void* replacement)
  {
    auto* const base = reinterpret_cast<BYTE*>(module);
    const auto* const dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* const nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& table =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (table.VirtualAddress == 0) {
      return;
    }
    for (auto* dll = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + table.VirtualAddress);
         dll->Name != 0 && slot_ == nullptr; dll++) {
      if (dll->OriginalFirstThunk == 0) {
        continue; // no names to find the slot by
      }
      auto* name = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + dll->OriginalFirstThunk);
      auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
      for (; name->u1.AddressOfData != 0; name++, slot++) {
        if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) {
          continue;
        }
        const auto* byName =
            reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
        if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0) {
          slot_ = reinterpret_cast<void**>(&slot->u1.Function);
          break;
        }
      }
    }
    if (slot_ != nullptr) {
      original_ = *slot_;
      write(replacement);
    }
  }
  ~ImportPatch()
  {
    if (slot_ != nullptr) {
      write(original_);
    }
  }
  ImportPatch(const ImportPatch&) = delete;
  ImportPatch& operator=(const ImportPatch&) = delete;

  bool found() const { return slot_ != nullptr; }
  void* original() const { return original_; }

private:
  void write(void* value)
  {
    DWORD was = 0;
    VirtualProtect(slot_, sizeof(*slot_), PAGE_READWRITE, &was);
    *slot_ = value;
    VirtualProtect(slot_, sizeof(*slot_), was, &was);
  }

  void** slot_ = nullptr;
  void* original_ = nullptr;
};

// The DLL's strlen claims a length for this one id (a few bytes in truth), and its heap (malloc,
// or calloc, which the compiler makes of a malloc and a memset) refuses every block while
// counting what it is asked for.
const char claimedId[] = "long";
std::atomic<size_t> claimedLength{0};
size_t(__cdecl* realStrlen)(const char*) = nullptr;
std::atomic<int> allocations{0};
std::atomic<size_t> allocatedSize{0};

size_t __cdecl claimingStrlen(const char* text)
{
  return text == claimedId ? claimedLength.load() : realStrlen(text);
}

void* __cdecl refusingMalloc(size_t size)
{
  allocations++;
  allocatedSize = size;
  return nullptr;
}

void* __cdecl refusingCalloc(size_t count, size_t size)
{
  allocations++;
  allocatedSize = count * size;
  return nullptr;
}

class SallowRequests : public ::testing::Test {
protected:
  static void SetUpTestSuite()
  {
    service_ = std::make_unique<test::DriverService>(
        SIM1394_SERVICE_NAME, test::x64DriverPath("sim1394bus.sys"), [](HKEY key) {
          RegSetValueExA(key, SIM1394_BUS_COUNT_VALUE, 0, REG_DWORD,
                         reinterpret_cast<const BYTE*>(&busCount), sizeof(busCount));
        });
  }
  static void TearDownTestSuite() { service_.reset(); }

  void SetUp() override
  {
    ASSERT_TRUE(service_->running()) << service_->error();
    ASSERT_TRUE(bus_.open()) << GetLastError();
    bus_.reset();
  }

  static std::unique_ptr<test::DriverService> service_;
  Bus bus_;
};

std::unique_ptr<test::DriverService> SallowRequests::service_;

TEST_F(SallowRequests, ArgumentChecksComeFirstAndTouchNoDevice)
{
  EXPECT_EQ(SALLOW_CreateVirtual1394Device(1, 2, "dev", 1024, 0), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SALLOW_DeleteVirtual1394Device(1, 2, "dev", 0xFFFFFFFF, 0), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SALLOW_CreateVirtual1394Device(1, 2, nullptr, 0, 0), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(SALLOW_DeleteVirtual1394Device(1, 2, "", 0, 0), ERROR_INVALID_DATA);
  // The bus index is checked before the id.
  EXPECT_EQ(SALLOW_CreateVirtual1394Device(1, 2, nullptr, 1024, 0), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(bus_.record().requestCount, 0u);
}

TEST_F(SallowRequests, HighestBusIndexIsTriedAndAMissingBusGivesTheOpenError)
{
  EXPECT_EQ(SALLOW_CreateVirtual1394Device(1, 2, "dev", 1023, 0), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(SALLOW_CreateVirtual1394Device(1, 2, "dev", busCount, 0), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(bus_.record().requestCount, 0u);
}

TEST_F(SallowRequests, AddSendsTheRequestRecordToTheChosenBus)
{
  ASSERT_EQ(SALLOW_CreateVirtual1394Device(0x11223344, 0x55667788, "abcde", 2, 0), 0u);
  Sim1394Record r = bus_.record();
  EXPECT_EQ(r.requestCount, 1u);
  EXPECT_EQ(r.bus, 2u);
  EXPECT_EQ(r.outputLength, 0u);
  ASSERT_EQ(r.inputLength, 44u);
  EXPECT_EQ(word(r, requestNumberAt), 1u);
  EXPECT_EQ(word(r, requestFlagsAt), 1u);
  EXPECT_EQ(word(r, deviceFlagsAt), 1u);
  EXPECT_EQ(word(r, 12), 0u);
  EXPECT_EQ(word(r, instanceLowAt), 0x11223344u);
  EXPECT_EQ(word(r, instanceHighAt), 0x55667788u);
  const char* id = "abcde";
  for (size_t i = 0; i < 5; i++) {
    EXPECT_EQ(unit(r, deviceIdAt + 2 * i), static_cast<WORD>(id[i])) << i;
  }
  EXPECT_EQ(unit(r, deviceIdAt + 10), 0);
  for (size_t i = deviceIdAt + 12; i < r.inputLength; i++) {
    EXPECT_EQ(r.input[i], 0) << i;
  }
}

TEST_F(SallowRequests, RemoveSendsRequestNumberTwo)
{
  ASSERT_EQ(SALLOW_DeleteVirtual1394Device(7, 0, "x", 0, 0), 0u);
  Sim1394Record r = bus_.record();
  EXPECT_EQ(r.bus, 0u);
  EXPECT_EQ(r.inputLength, 36u);
  EXPECT_EQ(word(r, requestNumberAt), 2u);
  EXPECT_EQ(word(r, deviceFlagsAt), 1u);
  EXPECT_EQ(word(r, instanceLowAt), 7u);
}

TEST_F(SallowRequests, LibraryFlagsMoveUpOneBitBesideTheWideTextFlag)
{
  const struct {
    DWORD flags;
    DWORD requestFlags;
  } cases[] = {{0, 1}, {1, 3}, {2, 5}, {3, 7}, {0xFFFFFFFC, 1}, {0xFFFFFFFF, 7}};
  for (const auto& c : cases) {
    ASSERT_EQ(SALLOW_CreateVirtual1394Device(1, 0, "id", 0, c.flags), 0u);
    EXPECT_EQ(word(bus_.record(), requestFlagsAt), c.requestFlags) << std::hex << c.flags;
  }
}

TEST_F(SallowRequests, HighBytesOfTheIdAreSignExtended)
{
  const char id[] = {'A', static_cast<char>(0xE9), static_cast<char>(0x80), static_cast<char>(0xFF),
                     0};
  ASSERT_EQ(SALLOW_CreateVirtual1394Device(1, 0, id, 1, 0), 0u);
  Sim1394Record r = bus_.record();
  EXPECT_EQ(r.inputLength, 42u);
  EXPECT_EQ(unit(r, deviceIdAt + 0), 0x0041);
  EXPECT_EQ(unit(r, deviceIdAt + 2), 0xFFE9);
  EXPECT_EQ(unit(r, deviceIdAt + 4), 0xFF80);
  EXPECT_EQ(unit(r, deviceIdAt + 6), 0xFFFF);
  EXPECT_EQ(unit(r, deviceIdAt + 8), 0);
}

// An id of n bytes makes a request of 2 n + 34 bytes. The id's length is claimed, so no
// string of gigabytes is needed: the longest id whose request fits a DWORD is asked of the
// heap in full; a longer one, whose size would wrap in 32 bits (0x7FFFFFEF bytes make 2^32),
// is refused before anything is allocated or sent.
TEST_F(SallowRequests, AnIdWhoseRequestLengthDoesNotFitIsRefusedBeforeAnyAllocation)
{
  const HMODULE sallow = GetModuleHandleA("sallow.dll");
  ASSERT_NE(sallow, nullptr);
  ImportPatch strlenPatch(sallow, "strlen", reinterpret_cast<void*>(&claimingStrlen));
  ImportPatch mallocPatch(sallow, "malloc", reinterpret_cast<void*>(&refusingMalloc));
  ImportPatch callocPatch(sallow, "calloc", reinterpret_cast<void*>(&refusingCalloc));
  ASSERT_TRUE(strlenPatch.found()) << "the DLL does not import strlen";
  ASSERT_TRUE(mallocPatch.found() || callocPatch.found())
      << "the DLL imports neither malloc nor calloc";
  realStrlen = reinterpret_cast<size_t(__cdecl*)(const char*)>(strlenPatch.original());

  const struct {
    size_t length;
    DWORD result;
    size_t allocated; // 0: nothing asked of the heap
  } cases[] = {
      {0x7FFFFFEE, ERROR_NOT_ENOUGH_MEMORY, 0xFFFFFFFE}, // the longest that fits
      {0x7FFFFFEF, ERROR_INVALID_PARAMETER, 0},          // 2^32 bytes, 0 in 32 bits
      {0x7FFFFFFF, ERROR_INVALID_PARAMETER, 0},          {0x80000000, ERROR_INVALID_PARAMETER, 0},
      {0xFFFFFFFF, ERROR_INVALID_PARAMETER, 0},          {SIZE_MAX, ERROR_INVALID_PARAMETER, 0},
  };
  for (const auto& c : cases) {
    for (const auto call : {&SALLOW_CreateVirtual1394Device, &SALLOW_DeleteVirtual1394Device}) {
      claimedLength = c.length;
      allocations = 0;
      allocatedSize = 0;
      EXPECT_EQ(call(1, 0, claimedId, 0, 0), c.result) << std::hex << c.length;
      EXPECT_EQ(allocations, c.allocated != 0 ? 1 : 0) << std::hex << c.length;
      EXPECT_EQ(allocatedSize, c.allocated) << std::hex << c.length;
    }
  }
  EXPECT_EQ(bus_.record().requestCount, 0u);
}

TEST_F(SallowRequests, TheBusDriversRefusalComesBackAsItsError)
{
  bus_.answer(static_cast<LONG>(0xC0000022)); // access denied
  EXPECT_EQ(SALLOW_CreateVirtual1394Device(1, 0, "id", 0, 0), ERROR_ACCESS_DENIED);
  bus_.answer(static_cast<LONG>(0xC000000D)); // invalid parameter
  EXPECT_EQ(SALLOW_DeleteVirtual1394Device(1, 0, "id", 1, 0), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(bus_.record().requestCount, 2u);
}

TEST_F(SallowRequests, CountIsTheNumberOfBusDevices)
{
  EXPECT_EQ(SALLOW_GetNumberOf1394Buses(), busCount);
}

TEST(SallowWithoutBusDriver, CountIsZero)
{
  test::DriverService::removeLeftover(SIM1394_SERVICE_NAME);
  EXPECT_EQ(SALLOW_GetNumberOf1394Buses(), 0u);
  EXPECT_EQ(SALLOW_CreateVirtual1394Device(1, 0, "id", 0, 0), ERROR_FILE_NOT_FOUND);
}

} // namespace
