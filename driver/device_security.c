/* Only SYSTEM and Administrators may open the device. IoCreateDeviceSecure would do this from an
 * SDDL string, but it lives in a static library MinGW does not have; the same result comes from
 * writing a descriptor and setting it on the device object through a kernel handle.
 *
 * The SIDs are spelled out in device_acl.c rather than taken from SeExports: under Wine that
 * table is a placeholder and reading SIDs from it crashes the driver host. */
#include <ntifs.h>

#include "device_acl.h"
#include "device_security.h"

NTSTATUS RestrictDeviceToAdministrators(PDEVICE_OBJECT device) {
    ULONG aclBuffer[DEVICE_ACL_SIZE / sizeof(ULONG)]; /* an ACL must be DWORD aligned */
    SECURITY_DESCRIPTOR descriptor;
    HANDLE handle;
    NTSTATUS status;

    if (!BuildDeviceAcl((UCHAR*)aclBuffer, sizeof(aclBuffer)))
        return STATUS_INTERNAL_ERROR;
    status = RtlCreateSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    if (!NT_SUCCESS(status))
        return status;
    status = RtlSetDaclSecurityDescriptor(&descriptor, TRUE, (PACL)aclBuffer, FALSE);
    if (!NT_SUCCESS(status))
        return status;
    /* No object type: Wine refuses IoDeviceObjectType here (0xC0000024), Windows needs none. */
    status = ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, NULL, WRITE_DAC, NULL, KernelMode,
                                   &handle);
    if (!NT_SUCCESS(status))
        return status;
    status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, &descriptor);
    ZwClose(handle);
    return status;
}
