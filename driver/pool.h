/* Which pool LPTWDMIO.SYS takes its memory from. Windows 8 and later run drivers with memory
 * integrity, where pool must not be executable: NonPagedPoolNx. XP's pool manager does not know
 * that type, so the choice is made once at load from the running version. */
#ifndef KAVIT_DRIVER_POOL_H
#define KAVIT_DRIVER_POOL_H

#include <ntddk.h>

/* DriverEntry, first thing. PASSIVE_LEVEL. */
void PoolChoose(void);
/* Non-paged, and not executable where Windows can say so. */
POOL_TYPE PoolNonPaged(void);

#endif
