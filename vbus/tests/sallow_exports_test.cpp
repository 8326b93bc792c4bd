// The DLL's export table as other programs see it: four names, ordinals 1 to 4, no
// stdcall decoration.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "sallow.h"

namespace {

std::map<std::string, DWORD> exportsByName(HMODULE module)
{
  auto* base = reinterpret_cast<const BYTE*>(module);
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  auto* table = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
  auto* names = reinterpret_cast<const DWORD*>(base + table->AddressOfNames);
  auto* ordinals = reinterpret_cast<const WORD*>(base + table->AddressOfNameOrdinals);
  std::map<std::string, DWORD> result;
  for (DWORD i = 0; i < table->NumberOfNames; i++) {
    result[reinterpret_cast<const char*>(base + names[i])] = table->Base + ordinals[i];
  }
  return result;
}

TEST(SallowExports, FourUndecoratedNamesWithOrdinalsOneToFour)
{
  HMODULE module = GetModuleHandleA("sallow.dll");
  ASSERT_NE(module, nullptr);
  std::map<std::string, DWORD> expected = {
      {"SALLOW_CreateVirtual1394Device", 1},
      {"SALLOW_DeleteVirtual1394Device", 2},
      {"SALLOW_GetApiVersion", 3},
      {"SALLOW_GetNumberOf1394Buses", 4},
  };
  EXPECT_EQ(exportsByName(module), expected);
}

TEST(SallowExports, OrdinalsReachTheNamedFunctions)
{
  HMODULE module = GetModuleHandleA("sallow.dll");
  ASSERT_NE(module, nullptr);
  for (WORD ordinal = 1; ordinal <= 4; ordinal++) {
    EXPECT_NE(GetProcAddress(module, MAKEINTRESOURCEA(ordinal)), nullptr) << ordinal;
  }
  using Version = DWORD(WINAPI*)();
  auto version = reinterpret_cast<Version>(GetProcAddress(module, MAKEINTRESOURCEA(3)));
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version(), 0x00010000u);
  EXPECT_EQ(SALLOW_GetApiVersion(), SALLOW_API_VERSION);
}

} // namespace
