#include "pool.h"

static POOL_TYPE NonPaged = NonPagedPool;

void PoolChoose(void) {
    RTL_OSVERSIONINFOW version;
    RtlZeroMemory(&version, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    NonPaged = NonPagedPool;
    /* NonPagedPoolNx exists from Windows 8 (6.2) on. RtlGetVersion is there from Windows 2000. */
    if (NT_SUCCESS(RtlGetVersion(&version)) &&
        (version.dwMajorVersion > 6 ||
         (version.dwMajorVersion == 6 && version.dwMinorVersion >= 2)))
        NonPaged = NonPagedPoolNx;
}

POOL_TYPE PoolNonPaged(void) {
    return NonPaged;
}
