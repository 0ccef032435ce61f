/* The access list of \Device\LptAccessAgent: full access for SYSTEM and the Administrators group,
 * nothing for anyone else. Written byte by byte in the documented ACL layout, with no Windows
 * header, so that the host tests read back exactly what the driver hands to the kernel. */
#ifndef KAVIT_DRIVER_DEVICE_ACL_H
#define KAVIT_DRIVER_DEVICE_ACL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ACL header 8 + ACE for S-1-5-18 (8 + 12) + ACE for S-1-5-32-544 (8 + 16). */
#define DEVICE_ACL_SIZE 52

/* FILE_ALL_ACCESS: the specific rights, so that nothing depends on mapping generic ones. */
#define DEVICE_ACL_ACCESS 0x001F01FFu

/* Writes the list into `buffer` (DWORD aligned, as the kernel wants an ACL); returns its length,
 * or 0 when `size` is too small. */
uint32_t BuildDeviceAcl(uint8_t* buffer, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif
