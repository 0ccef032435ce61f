/* LPTWDMIO.SYS: register access to the parallel ports LPT1..LPT3 for Kavit.
 *
 * The device \Device\LptAccessAgent (link \DosDevices\LptAccessAgent) takes METHOD_BUFFERED
 * batches of {register address, value} pairs: 0x220050 reads each named register into its pair,
 * 0x220060 writes each pair's value, 0x220080 reads or writes pair by pair. A batch is checked as a
 * whole before any register is touched (batch.c); one bad pair fails all of it, with a Win32 error
 * for the caller. 0x220070 answers how many handles to the device are open (wire/lpt_protocol.h).
 *
 * This part is the same in both builds; the ports themselves are the back end's (port_backend.h).
 * Only SYSTEM and Administrators may open the device, also by any name below it, and only with
 * both FILE_READ_DATA and FILE_WRITE_DATA; where Windows tells (Server 2003 on), a batch also needs
 * both on the very handle that sends it. */
#include <ntddk.h>

#include "batch.h"
#include "device_security.h"
#include "pool.h"
#include "port_backend.h"

/* Programs built against the driver long ago send these very numbers. */
_Static_assert(LPT_IOCTL_READ_PORTS == 0x220050 && LPT_IOCTL_WRITE_PORTS == 0x220060,
               "the batch codes are fixed");
_Static_assert(OPEN_RIGHT_READ_DATA == FILE_READ_DATA && OPEN_RIGHT_WRITE_DATA == FILE_WRITE_DATA &&
                   OPEN_RIGHT_GENERIC_READ == GENERIC_READ &&
                   OPEN_RIGHT_GENERIC_WRITE == GENERIC_WRITE &&
                   OPEN_RIGHT_GENERIC_ALL == GENERIC_ALL,
               "the open rule's rights are Windows' own");

static const WCHAR DeviceName[] = LPT_DEVICE_NAME;
static const WCHAR LinkName[] = LPT_LINK_NAME;

static PDEVICE_OBJECT Device;

/* The batch codes ask for no right of their own, and the rights checked at create belong to the
 * file object, not to each handle: a handle duplicated with SYNCHRONIZE alone would still run
 * batches. Windows Server 2003 and later note in every control request which data rights the
 * caller's handle holds, and this routine reads them; XP lacks it, so it is looked up. */
typedef NTSTATUS(NTAPI* TValidateAccess)(PIRP irp, ULONG access);
static TValidateAccess ValidateAccess;

/* Handles to the device open now: creates that succeeded minus the cleanups (or closes without
 * one) of those file objects. A counted file object carries FileCounted in FsContext2. */
static volatile LONG OpenHandles;
#define FileCounted ((PVOID)1)

static BOOLEAN Admitted(PFILE_OBJECT file) {
    return file && file->FsContext2 == FileCounted;
}

static void Uncount(PFILE_OBJECT file) {
    if (file && file->FsContext2 == FileCounted) {
        file->FsContext2 = NULL;
        InterlockedDecrement(&OpenHandles);
    }
}

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static TPortSet* SetOf(PIRP irp) {
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    return file ? (TPortSet*)file->FsContext : NULL;
}

/* The rights the open asked for, or that Windows' access check of the device already granted. */
static BOOLEAN RightsSuffice(const PIO_STACK_LOCATION stack) {
    PIO_SECURITY_CONTEXT context = stack->Parameters.Create.SecurityContext;
    ACCESS_MASK granted = 0;
    if (context && context->AccessState)
        granted = context->AccessState->PreviouslyGrantedAccess;
    return OpenRightsSuffice(context != NULL, context ? context->DesiredAccess : 0, granted) != 0;
}

static NTSTATUS NTAPI DispatchCreate(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    PFILE_OBJECT file = stack->FileObject;
    TPortSet* set = NULL;
    NTSTATUS status;
    UNREFERENCED_PARAMETER(device);
    /* The device has no namespace: \\.\LptAccessAgent\anything names nothing. */
    if (file && file->FileName.Length)
        return Complete(irp, STATUS_OBJECT_NAME_NOT_FOUND, 0);
    /* The batch codes ask for no right of their own: a handle without both data rights would
     * otherwise run them. */
    if (!RightsSuffice(stack))
        return Complete(irp, STATUS_ACCESS_DENIED, 0);
    status = PortSetOpen(&set);
    if (NT_SUCCESS(status) && file) {
        file->FsContext = set;
        file->FsContext2 = FileCounted;
        InterlockedIncrement(&OpenHandles);
    } else if (NT_SUCCESS(status)) {
        PortSetCleanup(set);
        PortSetFree(set);
    }
    return Complete(irp, status, 0);
}

/* The last handle is gone: the ports go back to Windows now, not when the last reference does. */
static NTSTATUS NTAPI DispatchCleanup(PDEVICE_OBJECT device, PIRP irp) {
    UNREFERENCED_PARAMETER(device);
    PortSetCleanup(SetOf(irp));
    Uncount(IoGetCurrentIrpStackLocation(irp)->FileObject);
    return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchClose(PDEVICE_OBJECT device, PIRP irp) {
    TPortSet* set = SetOf(irp);
    UNREFERENCED_PARAMETER(device);
    PortSetCleanup(set); /* in case no cleanup request came */
    Uncount(IoGetCurrentIrpStackLocation(irp)->FileObject);
    PortSetFree(set);
    return Complete(irp, STATUS_SUCCESS, 0);
}

/* What the caller sees as GetLastError() for a refused batch. */
static NTSTATUS RefusalStatus(TBatchVerdict verdict) {
    switch (verdict) {
    case BatchNoSuchPort:
        return STATUS_NO_SUCH_DEVICE; /* ERROR_FILE_NOT_FOUND */
    case BatchOutputShort:
        return STATUS_BUFFER_TOO_SMALL; /* ERROR_INSUFFICIENT_BUFFER */
    case BatchReadOnly:
        return STATUS_INVALID_PARAMETER; /* ERROR_INVALID_PARAMETER */
    default:
        return STATUS_INVALID_PARAMETER; /* ERROR_INVALID_PARAMETER */
    }
}

static NTSTATUS PortBatch(TPortSet* set, int kind, UCHAR* pairs, ULONG inLength, ULONG outLength,
                          ULONG_PTR* information) {
    TBatchVerdict verdict = CheckBatch(pairs, inLength, outLength, PortSetFound(set), kind);
    NTSTATUS status;
    if (verdict != BatchOk) {
        PortSetRefused(set, kind, pairs, pairs ? inLength / 2 : 0);
        return RefusalStatus(verdict);
    }
    status = PortSetRun(set, kind, pairs, inLength / 2);
    if (NT_SUCCESS(status))
        *information = inLength;
    return status;
}

/* Read-only: lets a program tell whether it is the last one holding the device. */
static NTSTATUS AnswerOpenHandles(UCHAR* buffer, ULONG outLength, ULONG_PTR* information) {
    LONG count = InterlockedCompareExchange(&OpenHandles, 0, 0);
    if (!buffer || outLength < sizeof(ULONG))
        return STATUS_BUFFER_TOO_SMALL;
    *(ULONG*)buffer = count > 0 ? (ULONG)count : 0;
    *information = sizeof(ULONG);
    return STATUS_SUCCESS;
}

static NTSTATUS NTAPI DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    UCHAR* buffer = (UCHAR*)irp->AssociatedIrp.SystemBuffer;
    ULONG_PTR information = 0;
    NTSTATUS status;
    UNREFERENCED_PARAMETER(device);

    /* Only a file object whose create we admitted is served. Windows never hands out a handle
     * for a refused create; Wine opens the handle without waiting for the driver's answer. */
    if (!Admitted(stack->FileObject))
        return Complete(irp, STATUS_ACCESS_DENIED, 0);
    if ((code == LPT_IOCTL_READ_PORTS || code == LPT_IOCTL_WRITE_PORTS ||
         code == LPT_IOCTL_RUN_PAIRS) &&
        ValidateAccess && !NT_SUCCESS(ValidateAccess(irp, FILE_READ_ACCESS | FILE_WRITE_ACCESS)))
        return Complete(irp, STATUS_ACCESS_DENIED, 0);
    if (code == LPT_IOCTL_READ_PORTS)
        status = PortBatch(SetOf(irp), BatchReads, buffer, inLength, outLength, &information);
    else if (code == LPT_IOCTL_WRITE_PORTS)
        status = PortBatch(SetOf(irp), BatchWrites, buffer, inLength, outLength, &information);
    else if (code == LPT_IOCTL_RUN_PAIRS)
        status = PortBatch(SetOf(irp), BatchMixed, buffer, inLength, outLength, &information);
    else if (code == LPT_IOCTL_OPEN_HANDLES)
        status = AnswerOpenHandles(buffer, outLength, &information);
    else if (!buffer && (inLength || outLength))
        status = STATUS_INVALID_PARAMETER;
    else
        status = PortBackendControl(SetOf(irp), code, buffer, inLength, outLength, &information);
    return Complete(irp, status, information);
}

static VOID NTAPI DriverUnload(PDRIVER_OBJECT driver) {
    UNICODE_STRING link;
    UNREFERENCED_PARAMETER(driver);
    RtlInitUnicodeString(&link, LinkName);
    IoDeleteSymbolicLink(&link);
    if (Device)
        IoDeleteDevice(Device);
    Device = NULL;
    PortBackendUnload();
}

static NTSTATUS CreateDevice(PDRIVER_OBJECT driver) {
    UNICODE_STRING name, link;
    NTSTATUS status;
    RtlInitUnicodeString(&name, DeviceName);
    status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN, FALSE,
                            &Device);
    if (!NT_SUCCESS(status))
        return status;
    /* The device is locked down before the link is made. What keeps it closed until DriverEntry
     * returns is DO_DEVICE_INITIALIZING, which the I/O manager clears then: a path through
     * \\?\GLOBALROOT reaches \Device\... without any link. */
    status = RestrictDeviceToAdministrators(Device);
    if (NT_SUCCESS(status)) {
        RtlInitUnicodeString(&link, LinkName);
        status = IoCreateSymbolicLink(&link, &name);
    }
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(Device);
        Device = NULL;
    }
    return status;
}

/* Requests the device answers; every other one gets the I/O manager's "invalid request". */
static const struct {
    UCHAR major;
    PDRIVER_DISPATCH routine;
} Dispatch[] = {
    {IRP_MJ_CREATE, DispatchCreate},
    {IRP_MJ_CLEANUP, DispatchCleanup},
    {IRP_MJ_CLOSE, DispatchClose},
    {IRP_MJ_DEVICE_CONTROL, DispatchDeviceControl},
};

/* Windows loads a driver at an address of its own choosing and moves it there with the image's
 * base relocations. The x64 code here addresses everything relative to the instruction pointer,
 * so the linker would write no relocation section at all; rather than count on every Windows
 * taking "no section" as "nothing to move", one absolute address keeps the section in the image.
 * DriverEntry reads it, or the linker would drop it as unused. */
DRIVER_INITIALIZE DriverEntry;
static const void* const volatile RelocationAnchor = (const void*)&DriverEntry;

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    UNICODE_STRING routine;
    NTSTATUS status;
    ULONG i;
    UNREFERENCED_PARAMETER(registryPath);
    (void)RelocationAnchor;

    PoolChoose();
    /* Wine's kernel, the one that exports its own main loop, has the routine only as a stub that
     * ends the driver host when called. */
    RtlInitUnicodeString(&routine, L"wine_ntoskrnl_main_loop");
    if (!MmGetSystemRoutineAddress(&routine)) {
        RtlInitUnicodeString(&routine, L"IoValidateDeviceIoControlAccess");
        ValidateAccess = (TValidateAccess)MmGetSystemRoutineAddress(&routine);
    }
    status = PortBackendLoad(driver);
    if (!NT_SUCCESS(status))
        return status;
    status = CreateDevice(driver);
    if (!NT_SUCCESS(status)) {
        PortBackendUnload();
        return status;
    }
    for (i = 0; i < sizeof(Dispatch) / sizeof(Dispatch[0]); i++)
        driver->MajorFunction[Dispatch[i].major] = Dispatch[i].routine;
    driver->DriverUnload = DriverUnload;
    return STATUS_SUCCESS;
}
