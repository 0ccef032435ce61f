/* Host stand-in for the few kernel routines and types the hardware back end of LPTWDMIO.SYS and
 * its pool choice use (driver/port_hardware.c, driver/pool.c), so that the host tests compile
 * those very files. The routines live in parport_standin.cpp, which models parport, the PnP
 * manager's removal notifications, port I/O and the IRQL each routine may be called at. */
#ifndef KAVIT_TESTS_STANDIN_NTDDK_H
#define KAVIT_TESTS_STANDIN_NTDDK_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

#define NTAPI
#define TRUE 1
#define FALSE 0
#define UNREFERENCED_PARAMETER(p) (void)(p)

typedef int32_t NTSTATUS;
typedef uint32_t ULONG;
typedef uint16_t USHORT;
typedef unsigned char UCHAR, *PUCHAR, BOOLEAN;
typedef uintptr_t ULONG_PTR;
typedef void* PVOID;
typedef wchar_t WCHAR, *PWSTR;
typedef uint32_t ACCESS_MASK;
typedef UCHAR KIRQL;
typedef ULONG_PTR KSPIN_LOCK;

#define NT_SUCCESS(status) ((NTSTATUS)(status) >= 0)
#define STATUS_SUCCESS ((NTSTATUS)0)
#define STATUS_PENDING ((NTSTATUS)0x103)
#define STATUS_DEVICE_BUSY ((NTSTATUS)0x80000011)
#define STATUS_UNSUCCESSFUL ((NTSTATUS)0xC0000001)
#define STATUS_NO_SUCH_DEVICE ((NTSTATUS)0xC000000E)
#define STATUS_INVALID_DEVICE_REQUEST ((NTSTATUS)0xC0000010)
#define STATUS_INSUFFICIENT_RESOURCES ((NTSTATUS)0xC000009A)

typedef struct {
    uint32_t Data1;
    uint16_t Data2, Data3;
    uint8_t Data4[8];
} GUID;
typedef struct {
    USHORT Length, MaximumLength;
    PWSTR Buffer;
} UNICODE_STRING, *PUNICODE_STRING;
typedef struct _FILE_OBJECT {
    int parport; /* which \Device\ParallelPortN it was opened on */
} FILE_OBJECT, *PFILE_OBJECT;
typedef struct _DEVICE_OBJECT {
    int parport;
} DEVICE_OBJECT, *PDEVICE_OBJECT;
typedef struct _DRIVER_OBJECT {
    int unused;
} DRIVER_OBJECT, *PDRIVER_OBJECT;
typedef struct {
    PFILE_OBJECT FileObject;
} IO_STACK_LOCATION, *PIO_STACK_LOCATION;
typedef struct {
    NTSTATUS Status;
    ULONG_PTR Information;
} IO_STATUS_BLOCK, *PIO_STATUS_BLOCK;
typedef struct _IRP {
    IO_STACK_LOCATION next;
    ULONG code;
    PVOID out;
    ULONG outLength;
    PIO_STATUS_BLOCK io;
} IRP, *PIRP;
typedef struct {
    int unused;
} KEVENT, *PKEVENT;
typedef enum { NotificationEvent } EVENT_TYPE;
enum { Executive = 0, KernelMode = 0 };
typedef enum { NonPagedPool = 0, NonPagedPoolNx = 512 } POOL_TYPE;
typedef struct {
    ULONG dwOSVersionInfoSize, dwMajorVersion, dwMinorVersion, dwBuildNumber, dwPlatformId;
    WCHAR szCSDVersion[128];
} RTL_OSVERSIONINFOW, *PRTL_OSVERSIONINFOW;
typedef enum { EventCategoryTargetDeviceChange = 3 } IO_NOTIFICATION_EVENT_CATEGORY;
typedef NTSTATUS (*PDRIVER_NOTIFICATION_CALLBACK_ROUTINE)(PVOID notification, PVOID context);
typedef struct {
    USHORT Version, Size;
    GUID Event;
    PFILE_OBJECT FileObject;
} TARGET_DEVICE_REMOVAL_NOTIFICATION;
extern const GUID GUID_TARGET_DEVICE_QUERY_REMOVE, GUID_TARGET_DEVICE_REMOVE_CANCELLED,
    GUID_TARGET_DEVICE_REMOVE_COMPLETE;

#define FILE_READ_ATTRIBUTES 0x80
#define RtlZeroMemory(d, n) memset((d), 0, (n))
size_t RtlCompareMemory(const void* a, const void* b, size_t length);
void RtlInitUnicodeString(PUNICODE_STRING string, const WCHAR* text);
NTSTATUS RtlGetVersion(PRTL_OSVERSIONINFOW version);
PVOID ExAllocatePoolWithTag(POOL_TYPE type, size_t size, ULONG tag);
void ExFreePool(PVOID p);
void KeInitializeSpinLock(KSPIN_LOCK* lock);
void StandinAcquireSpinLock(KSPIN_LOCK* lock, KIRQL* old);
#define KeAcquireSpinLock(lock, old) StandinAcquireSpinLock((lock), (old))
void KeReleaseSpinLock(KSPIN_LOCK* lock, KIRQL old);
void KeInitializeEvent(PKEVENT event, EVENT_TYPE type, BOOLEAN state);
NTSTATUS KeWaitForSingleObject(PVOID object, int reason, int mode, BOOLEAN alertable,
                               void* timeout);
PIRP IoBuildDeviceIoControlRequest(ULONG code, PDEVICE_OBJECT device, PVOID in, ULONG inLength,
                                   PVOID out, ULONG outLength, BOOLEAN internal, PKEVENT event,
                                   PIO_STATUS_BLOCK io);
#define IoGetNextIrpStackLocation(irp) (&(irp)->next)
NTSTATUS IoCallDriver(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS IoGetDeviceObjectPointer(PUNICODE_STRING name, ACCESS_MASK access, PFILE_OBJECT* file,
                                  PDEVICE_OBJECT* device);
void ObDereferenceObject(PVOID object);
UCHAR READ_PORT_UCHAR(PUCHAR port);
void WRITE_PORT_UCHAR(PUCHAR port, UCHAR value);
NTSTATUS IoRegisterPlugPlayNotification(IO_NOTIFICATION_EVENT_CATEGORY category, ULONG flags,
                                        PVOID data, PDRIVER_OBJECT driver,
                                        PDRIVER_NOTIFICATION_CALLBACK_ROUTINE callback,
                                        PVOID context, PVOID* entry);
NTSTATUS IoUnregisterPlugPlayNotification(PVOID entry);
PVOID MmGetSystemRoutineAddress(PUNICODE_STRING name);

#ifdef __cplusplus
}
#endif

#endif
