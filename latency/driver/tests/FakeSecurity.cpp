#include "FakeSecurity.h"

#include <windows.h>

#include <sddl.h>

namespace fake {

std::vector<uint8_t> SelfRelativeCopy(void* descriptor)
{
  if (!IsValidSecurityDescriptor(descriptor)) {
    return {};
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!GetSecurityDescriptorControl(descriptor, &control, &revision)) {
    return {};
  }
  if (control & SE_SELF_RELATIVE) {
    const DWORD length = GetSecurityDescriptorLength(descriptor);
    const auto* bytes = static_cast<const uint8_t*>(descriptor);
    return std::vector<uint8_t>(bytes, bytes + length);
  }
  DWORD length = 0;
  MakeSelfRelativeSD(descriptor, nullptr, &length);
  std::vector<uint8_t> copy(length);
  if (length == 0 || !MakeSelfRelativeSD(descriptor, copy.data(), &length)) {
    return {};
  }
  return copy;
}

std::string SecurityText(const std::vector<uint8_t>& descriptor, unsigned long parts)
{
  if (descriptor.empty()) {
    return "(none)";
  }
  LPSTR text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(
          const_cast<uint8_t*>(descriptor.data()), SDDL_REVISION_1, parts, &text, nullptr)) {
    return "(not convertible)";
  }
  std::string result(text);
  LocalFree(text);
  return result;
}

} // namespace fake
