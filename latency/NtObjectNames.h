#pragma once

// The object manager's own records for naming an object, as ntdll's Nt* calls take them; the
// Win32 headers do not declare them outside the DDK.
#include <windows.h>

namespace NtObjectNames {

struct CountedString {
  USHORT length;
  USHORT maximumLength;
  const wchar_t* buffer;
};

struct ObjectAttributes {
  ULONG length;
  HANDLE root;
  const CountedString* name;
  ULONG attributes;
  void* securityDescriptor;
  void* securityQualityOfService;
};

constexpr ULONG objCaseInsensitive = 0x40;
constexpr ULONG objPermanent = 0x10;

} // namespace NtObjectNames
