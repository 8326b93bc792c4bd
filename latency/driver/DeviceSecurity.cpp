// The descriptor is built by hand: the static library that turns such a text into a
// descriptor for drivers does not come with this tool chain.
#include "DeviceSecurity.h"

#include <ntifs.h>

namespace {

constexpr ULONG SidLength(ULONG subAuthorities)
{
  return ULONG(FIELD_OFFSET(SID, SubAuthority)) + subAuthorities * sizeof(ULONG);
}

constexpr ULONG AllowedAceLength(ULONG sidLength)
{
  return ULONG(FIELD_OFFSET(ACCESS_ALLOWED_ACE, SidStart)) + sidLength;
}

constexpr ULONG systemSidLength = SidLength(1);
constexpr ULONG administratorsSidLength = SidLength(2);
constexpr ULONG aclLength =
    sizeof(ACL) + AllowedAceLength(systemSidLength) + AllowedAceLength(administratorsSidLength);

// S-1-5-18 and S-1-5-32-544. ULONG storage keeps them as aligned as the kernel wants SIDs.
struct DeviceSids {
  ULONG system[systemSidLength / sizeof(ULONG)];
  ULONG administrators[administratorsSidLength / sizeof(ULONG)];
};

NTSTATUS BuildSids(DeviceSids& sids)
{
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  NTSTATUS status = RtlInitializeSid(sids.system, &ntAuthority, 1);
  if (!NT_SUCCESS(status)) {
    return status;
  }
  *RtlSubAuthoritySid(sids.system, 0) = SECURITY_LOCAL_SYSTEM_RID;
  status = RtlInitializeSid(sids.administrators, &ntAuthority, 2);
  if (!NT_SUCCESS(status)) {
    return status;
  }
  *RtlSubAuthoritySid(sids.administrators, 0) = SECURITY_BUILTIN_DOMAIN_RID;
  *RtlSubAuthoritySid(sids.administrators, 1) = DOMAIN_ALIAS_RID_ADMINS;
  return STATUS_SUCCESS;
}

NTSTATUS BuildAcl(PACL acl, ULONG length, DeviceSids& sids)
{
  NTSTATUS status = RtlCreateAcl(acl, length, ACL_REVISION);
  if (!NT_SUCCESS(status)) {
    return status;
  }
  status = RtlAddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sids.system);
  if (!NT_SUCCESS(status)) {
    return status;
  }
  return RtlAddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sids.administrators);
}

} // namespace

NTSTATUS RestrictToSystemAndAdministrators(PDEVICE_OBJECT deviceObject)
{
  DeviceSids sids;
  NTSTATUS status = BuildSids(sids);
  if (!NT_SUCCESS(status)) {
    return status;
  }
  ULONG aclStorage[aclLength / sizeof(ULONG)];
  PACL acl = reinterpret_cast<PACL>(aclStorage);
  status = BuildAcl(acl, sizeof(aclStorage), sids);
  if (!NT_SUCCESS(status)) {
    return status;
  }
  SECURITY_DESCRIPTOR descriptor;
  status = RtlCreateSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  if (!NT_SUCCESS(status)) {
    return status;
  }
  status = RtlSetDaclSecurityDescriptor(&descriptor, TRUE, acl, FALSE);
  if (!NT_SUCCESS(status)) {
    return status;
  }
  // Protected: nothing of the object directory's inheritable entries is added to the two.
  descriptor.Control |= SE_DACL_PROTECTED;

  // Through a handle: ObSetSecurityObjectByPointer would need none, but Wine 8 has it only as
  // an unimplemented stub that raises an exception in the driver's host. Without a type the
  // object is taken as it is, which kernel-mode callers may do.
  HANDLE handle;
  status = ObOpenObjectByPointer(deviceObject, OBJ_KERNEL_HANDLE, nullptr, WRITE_DAC, nullptr,
                                 KernelMode, &handle);
  if (!NT_SUCCESS(status)) {
    return status;
  }
  // The object manager keeps a copy; the descriptor and its parts can go with this frame.
  status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, &descriptor);
  const NTSTATUS closed = ZwClose(handle);
  return NT_SUCCESS(status) ? closed : status;
}
