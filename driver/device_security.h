#ifndef KAVIT_DRIVER_DEVICE_SECURITY_H
#define KAVIT_DRIVER_DEVICE_SECURITY_H

#include <ntddk.h>

/* Replaces the device's DACL with the one of device_acl.h. PASSIVE_LEVEL. */
NTSTATUS RestrictDeviceToAdministrators(PDEVICE_OBJECT device);

#endif
