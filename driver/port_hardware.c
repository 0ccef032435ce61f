/* Port back end of the build that ships: the parallel ports Windows itself knows, and nothing else.
 *
 * Windows' parallel-port driver (parport) makes a device \Device\ParallelPortN for each port it
 * runs, whatever the bus: the board's own port or a PCI/PCIe card at any base. Asked with two
 * internal requests it tells the port's name (LPT1..) and the I/O base of its registers. Only the
 * three registers at that base are ever touched, and never an address that parport did not hand
 * out: a machine with no port known to Windows gets no port here either.
 *
 * Ports are looked up afresh for each open handle (cards come and go), and held through parport's
 * allocate/free routines while the handle is open, so that printing and our polling do not mix:
 * a print job waits, and a batch for a port that printing holds fails. */
#include <ntddk.h>
#include <parallel.h>

#include "batch.h"
#include "port_backend.h"

/* "KLpt" in a pool dump: the tag's bytes are stored low byte first. */
#define POOL_TAG 0x74704C4Bu

/* parport numbers its devices from 0; numbers of removed cards are not reused at once. */
#define PARPORT_DEVICES_TRIED 16
/* The x86 I/O space is 64 KiB; a base outside it is not a port we can reach with in/out. */
#define IO_SPACE_END 0x10000

typedef struct TLptPort {
    PFILE_OBJECT file; /* our open of \Device\ParallelPortN; NULL: port not found */
    PDEVICE_OBJECT device;
    PARALLEL_PORT_INFORMATION info;
    BOOLEAN held; /* allocated from parport */
} TLptPort;

struct TPortSet {
    KSPIN_LOCK lock;
    BOOLEAN closed; /* cleaned up: ports given back, no batch served */
    TLptPort ports[LPT_PORT_COUNT];
};

NTSTATUS PortBackendLoad(void) {
    return STATUS_SUCCESS;
}

void PortBackendUnload(void) {}

/* An internal request without input to one of parport's devices, waited for. PASSIVE_LEVEL. */
static NTSTATUS AskParport(PDEVICE_OBJECT device, PFILE_OBJECT file, ULONG code, PVOID out,
                           ULONG outLength, ULONG_PTR* returned) {
    KEVENT done;
    IO_STATUS_BLOCK io;
    PIRP irp;
    NTSTATUS status;

    KeInitializeEvent(&done, NotificationEvent, FALSE);
    irp = IoBuildDeviceIoControlRequest(code, device, NULL, 0, out, outLength, TRUE, &done, &io);
    if (!irp)
        return STATUS_INSUFFICIENT_RESOURCES;
    IoGetNextIrpStackLocation(irp)->FileObject = file;
    status = IoCallDriver(device, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
        status = io.Status;
    }
    *returned = NT_SUCCESS(status) ? io.Information : 0;
    return status;
}

/* "LPT1".."LPT3" -> 1..3; anything else -> 0. Read no further than the terminating zero. */
static ULONG LptNumber(const WCHAR* name) {
    if (!name || name[0] != L'L' || name[1] != L'P' || name[2] != L'T')
        return 0;
    if (name[3] < L'1' || name[3] > L'0' + LPT_PORT_COUNT || name[4] != 0)
        return 0;
    return (ULONG)(name[3] - L'0');
}

/* \Device\ParallelPortN, N = 0..99. */
static void ParportDeviceName(ULONG n, WCHAR* text, UNICODE_STRING* name) {
    static const WCHAR Prefix[] = L"\\Device\\ParallelPort";
    ULONG length = sizeof(Prefix) / sizeof(WCHAR) - 1, i;
    for (i = 0; i < length; i++)
        text[i] = Prefix[i];
    if (n >= 10)
        text[length++] = (WCHAR)(L'0' + n / 10);
    text[length++] = (WCHAR)(L'0' + n % 10);
    text[length] = 0;
    RtlInitUnicodeString(name, text);
}

static BOOLEAN UsableBase(const PARALLEL_PORT_INFORMATION* info) {
    ULONG_PTR base = (ULONG_PTR)info->Controller;
    return info->TryAllocatePort && info->FreePort && info->SpanOfController >= LPT_REGISTER_SPAN &&
           base != 0 && base + LPT_REGISTER_SPAN <= IO_SPACE_END;
}

/* Which LPTn parport's device N is, with its register information; 0 when it is none we serve.
 * On success the caller owns the file reference and must release the port information. */
static ULONG LookUpParport(ULONG n, TLptPort* port) {
    WCHAR text[32];
    UNICODE_STRING name;
    PARALLEL_PNP_INFORMATION pnp;
    ULONG_PTR returned;
    ULONG lpt = 0;

    ParportDeviceName(n, text, &name);
    if (!NT_SUCCESS(
            IoGetDeviceObjectPointer(&name, FILE_READ_ATTRIBUTES, &port->file, &port->device)))
        return 0;
    /* Wine answers any name with a stand-in device and no file object: no port there. */
    if (!port->file)
        return 0;
    RtlZeroMemory(&pnp, sizeof(pnp));
    if (NT_SUCCESS(AskParport(port->device, port->file, IOCTL_INTERNAL_GET_PARALLEL_PNP_INFO, &pnp,
                              sizeof(pnp), &returned)) &&
        returned >= sizeof(pnp))
        lpt = LptNumber(pnp.PortName);
    RtlZeroMemory(&port->info, sizeof(port->info));
    if (lpt &&
        NT_SUCCESS(AskParport(port->device, port->file, IOCTL_INTERNAL_GET_PARALLEL_PORT_INFO,
                              &port->info, sizeof(port->info), &returned))) {
        if (returned >= sizeof(port->info) && UsableBase(&port->info))
            return lpt;
        AskParport(port->device, port->file, IOCTL_INTERNAL_RELEASE_PARALLEL_PORT_INFO, NULL, 0,
                   &returned);
    }
    ObDereferenceObject(port->file);
    port->file = NULL;
    return 0;
}

static void GiveBack(TLptPort* port) {
    ULONG_PTR returned;
    if (!port->file)
        return;
    if (port->held)
        port->info.FreePort(port->info.Context);
    port->held = FALSE;
    AskParport(port->device, port->file, IOCTL_INTERNAL_RELEASE_PARALLEL_PORT_INFO, NULL, 0,
               &returned);
    ObDereferenceObject(port->file);
    port->file = NULL;
}

static void FindPorts(TPortSet* set) {
    ULONG n, lpt;
    for (n = 0; n < PARPORT_DEVICES_TRIED; n++) {
        TLptPort found;
        RtlZeroMemory(&found, sizeof(found));
        lpt = LookUpParport(n, &found);
        if (!lpt)
            continue;
        if (set->ports[lpt - 1].file) {
            GiveBack(&found); /* a second device claiming a name already served */
            continue;
        }
        found.held = found.info.TryAllocatePort(found.info.Context);
        set->ports[lpt - 1] = found;
    }
}

NTSTATUS PortSetOpen(TPortSet** set) {
    TPortSet* made = (TPortSet*)ExAllocatePoolWithTag(NonPagedPool, sizeof(TPortSet), POOL_TAG);
    *set = NULL;
    if (!made)
        return STATUS_INSUFFICIENT_RESOURCES;
    RtlZeroMemory(made, sizeof(*made));
    KeInitializeSpinLock(&made->lock);
    FindPorts(made);
    *set = made;
    return STATUS_SUCCESS;
}

void PortSetCleanup(TPortSet* set) {
    KIRQL irql;
    BOOLEAN wasClosed;
    ULONG i;
    if (!set)
        return;
    /* From here on no batch reaches the ports; the release requests need PASSIVE_LEVEL, so they
     * are sent after the lock is dropped. */
    KeAcquireSpinLock(&set->lock, &irql);
    wasClosed = set->closed;
    set->closed = TRUE;
    KeReleaseSpinLock(&set->lock, irql);
    if (wasClosed)
        return;
    for (i = 0; i < LPT_PORT_COUNT; i++)
        GiveBack(&set->ports[i]);
}

void PortSetFree(TPortSet* set) {
    if (set)
        ExFreePool(set);
}

ULONG PortSetFound(TPortSet* set) {
    ULONG found = 0, i;
    if (!set || set->closed)
        return 0;
    for (i = 0; i < LPT_PORT_COUNT; i++) {
        if (set->ports[i].file)
            found |= 1u << i;
    }
    return found;
}

void PortSetRefused(TPortSet* set, BOOLEAN isRead, const UCHAR* pairs, ULONG count) {
    UNREFERENCED_PARAMETER(set);
    UNREFERENCED_PARAMETER(isRead);
    UNREFERENCED_PARAMETER(pairs);
    UNREFERENCED_PARAMETER(count);
}

/* Every port the batch names is ours, or nothing is done. A port that printing held when the
 * handle was opened is asked for again. Under the set's lock. */
static BOOLEAN HoldPorts(TPortSet* set, const UCHAR* pairs, ULONG count) {
    ULONG i;
    for (i = 0; i < count; i++) {
        TLptPort* port = &set->ports[BatchPortIndex(pairs[2 * i])];
        if (!port->file)
            return FALSE;
        if (!port->held)
            port->held = port->info.TryAllocatePort(port->info.Context);
        if (!port->held)
            return FALSE;
    }
    return TRUE;
}

static void Access(TPortSet* set, BOOLEAN isRead, UCHAR* pair) {
    PUCHAR reg = set->ports[BatchPortIndex(pair[0])].info.Controller + BatchRegister(pair[0]);
    if (isRead)
        pair[1] = READ_PORT_UCHAR(reg);
    else if (BatchRegister(pair[0]) == LPT_REG_CONTROL)
        WRITE_PORT_UCHAR(reg, ControlRegisterValue(READ_PORT_UCHAR(reg), pair[1]));
    else
        WRITE_PORT_UCHAR(reg, pair[1]);
}

NTSTATUS PortSetRun(TPortSet* set, BOOLEAN isRead, UCHAR* pairs, ULONG count) {
    NTSTATUS status = STATUS_SUCCESS;
    KIRQL irql;
    ULONG i;
    if (!set)
        return STATUS_NO_SUCH_DEVICE;
    KeAcquireSpinLock(&set->lock, &irql);
    if (set->closed)
        status = STATUS_NO_SUCH_DEVICE;
    else if (!HoldPorts(set, pairs, count))
        status = STATUS_DEVICE_BUSY;
    for (i = 0; NT_SUCCESS(status) && i < count; i++)
        Access(set, isRead, &pairs[2 * i]);
    KeReleaseSpinLock(&set->lock, irql);
    return status;
}

/* The build that ships answers the two batch codes and nothing else. */
NTSTATUS PortBackendControl(ULONG code, UCHAR* buffer, ULONG inLength, ULONG outLength,
                            ULONG_PTR* information) {
    UNREFERENCED_PARAMETER(code);
    UNREFERENCED_PARAMETER(buffer);
    UNREFERENCED_PARAMETER(inLength);
    UNREFERENCED_PARAMETER(outLength);
    *information = 0;
    return STATUS_INVALID_DEVICE_REQUEST;
}
