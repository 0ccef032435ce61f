/* Port back end of the build that ships: the parallel ports Windows itself knows, and nothing else.
 *
 * Windows' parallel-port driver (parport) makes a device \Device\ParallelPortN for each port it
 * runs, whatever the bus: the board's own port or a PCI/PCIe card at any base. Asked with two
 * internal requests it tells the port's name (LPT1..) and the I/O base of its registers. Only the
 * three registers at that base are ever touched, and never an address that parport did not hand
 * out: a machine with no port known to Windows gets no port here either.
 *
 * Ports are looked up afresh for each open handle (cards come and go). A port is allocated through
 * parport's routines at the first batch that names it, not at open, and given back after a batch
 * that does not name it as soon as parport has someone waiting: a print job on a port we do not
 * poll starts within one poll, and a batch for a port that printing or another handle holds
 * fails with ERROR_BUSY. Each port device we keep a reference on is watched for removal, so that
 * our reference never vetoes taking a card out. */
#include <ntddk.h>
#include <initguid.h>
#include <parallel.h>
#include <wdmguid.h>

#include "batch.h"
#include "pool.h"
#include "port_backend.h"

/* "KLpt" in a pool dump: the tag's bytes are stored low byte first. */
#define POOL_TAG 0x74704C4Bu

/* parport numbers its devices from 0; numbers of removed cards are not reused at once. */
#define PARPORT_DEVICES_TRIED 16
/* The x86 I/O space is 64 KiB; a base outside it is not a port we can reach with in/out. */
#define IO_SPACE_END 0x10000

typedef struct TLptPort {
    struct TPortSet* set;
    PFILE_OBJECT file; /* our open of \Device\ParallelPortN; NULL: not found, or given back */
    PDEVICE_OBJECT device;
    PARALLEL_PORT_INFORMATION info;
    PVOID notification; /* target-device-change registration, removed at cleanup */
    ULONG_PTR watch;    /* the registration's context: a number, never a pointer (see OpenSets) */
    BOOLEAN held;       /* allocated from parport */
    UCHAR controlKept;  /* control register as read when the port was allocated */
} TLptPort;

struct TPortSet {
    struct TPortSet* next; /* in OpenSets */
    KSPIN_LOCK lock;
    BOOLEAN closed; /* cleaned up: ports given back, no batch served */
    TLptPort ports[LPT_PORT_COUNT];
};

static PDRIVER_OBJECT Driver;

/* Every set between open and cleanup. Before Windows 7 a removal callback may still run after its
 * registration was removed, when the set it was made for is freed: so a callback is handed a
 * number, not a pointer, and looks its port up here. Order: SetsLock before a set's lock. */
static KSPIN_LOCK SetsLock;
static TPortSet* OpenSets;
static ULONG_PTR LastWatch; /* numbers handed out so far; 0 names no port */

/* IoUnregisterPlugPlayNotificationEx (Windows 7 on) promises that no callback runs after it
 * returns; XP's IoUnregisterPlugPlayNotification does not, so it is the fallback only. */
typedef NTSTATUS(NTAPI* TUnregister)(PVOID entry);
static TUnregister UnregisterEx;

NTSTATUS PortBackendLoad(PDRIVER_OBJECT driver) {
    UNICODE_STRING routine;
    Driver = driver;
    KeInitializeSpinLock(&SetsLock);
    OpenSets = NULL;
    RtlInitUnicodeString(&routine, L"IoUnregisterPlugPlayNotificationEx");
    UnregisterEx = (TUnregister)MmGetSystemRoutineAddress(&routine);
    return STATUS_SUCCESS;
}

void PortBackendUnload(void) {
    /* Every notification registration belongs to an open handle and is removed at its cleanup;
     * while one exists, it holds a reference on the driver object and the driver is not
     * unloaded. */
}

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

/* Takes the port out of the set: no batch reaches it from here on, and parport gets it back if
 * we held it (FreePort may be called up to DISPATCH_LEVEL). Under the set's lock. Returns what the
 * caller must release at PASSIVE_LEVEL with Release(). */
static TLptPort TakeOut(TLptPort* port) {
    TLptPort taken = *port;
    if (port->file && port->held)
        port->info.FreePort(port->info.Context);
    port->held = FALSE;
    port->file = NULL;
    return taken;
}

/* The port information and our file reference, once the port is out of the set. PASSIVE_LEVEL. */
static void Release(TLptPort* taken) {
    ULONG_PTR returned;
    if (!taken->file)
        return;
    AskParport(taken->device, taken->file, IOCTL_INTERNAL_RELEASE_PARALLEL_PORT_INFO, NULL, 0,
               &returned);
    ObDereferenceObject(taken->file);
}

static BOOLEAN SameGuid(const GUID* a, const GUID* b) {
    return RtlCompareMemory(a, b, sizeof(GUID)) == sizeof(GUID);
}

static void Unregister(PVOID notification) {
    if (UnregisterEx)
        UnregisterEx(notification);
    else
        IoUnregisterPlugPlayNotification(notification);
}

/* The port registered under `watch`, in a set not yet cleaned up; NULL when there is none.
 * Under SetsLock. */
static TLptPort* WatchedPort(ULONG_PTR watch) {
    TPortSet* set;
    ULONG i;
    for (set = OpenSets; set; set = set->next) {
        for (i = 0; i < LPT_PORT_COUNT; i++) {
            if (set->ports[i].watch == watch)
                return &set->ports[i];
        }
    }
    return NULL;
}

/* Told by the PnP manager that a port device is going (query-remove: our reference would veto
 * it), or gone (remove-complete, which is all a surprise removal brings). PASSIVE_LEVEL. The port
 * leaves the set under its lock; later batches naming it fail as for a port not there. After a
 * cancelled removal the port stays out of this handle's set: the next open finds it again. A
 * device that is gone needs no more watching: its registration goes too. A callback for a set
 * already cleaned up finds nothing and does nothing. */
static NTSTATUS NTAPI PortChanged(PVOID notification, PVOID context) {
    const TARGET_DEVICE_REMOVAL_NOTIFICATION* event =
        (const TARGET_DEVICE_REMOVAL_NOTIFICATION*)notification;
    BOOLEAN gone = SameGuid(&event->Event, &GUID_TARGET_DEVICE_REMOVE_COMPLETE);
    TLptPort* port;
    TLptPort taken;
    PVOID registration = NULL;
    KIRQL irql, setIrql;
    if (!gone && !SameGuid(&event->Event, &GUID_TARGET_DEVICE_QUERY_REMOVE))
        return STATUS_SUCCESS;
    RtlZeroMemory(&taken, sizeof(taken));
    KeAcquireSpinLock(&SetsLock, &irql);
    port = WatchedPort((ULONG_PTR)context);
    if (port) {
        KeAcquireSpinLock(&port->set->lock, &setIrql);
        taken = TakeOut(port);
        if (gone) {
            registration = port->notification;
            port->notification = NULL;
        }
        KeReleaseSpinLock(&port->set->lock, setIrql);
    }
    KeReleaseSpinLock(&SetsLock, irql);
    Release(&taken);
    if (registration)
        Unregister(registration);
    return STATUS_SUCCESS;
}

static void FindPorts(TPortSet* set) {
    ULONG n, lpt;
    for (n = 0; n < PARPORT_DEVICES_TRIED; n++) {
        TLptPort found;
        TLptPort* port;
        PVOID registration;
        KIRQL irql;
        RtlZeroMemory(&found, sizeof(found));
        lpt = LookUpParport(n, &found);
        if (!lpt)
            continue;
        port = &set->ports[lpt - 1];
        if (port->file) {
            Release(&found); /* a second device claiming a name already served */
            continue;
        }
        /* Allocated only when a batch names it; until then printing goes on undisturbed. */
        found.set = set;
        KeAcquireSpinLock(&SetsLock, &irql);
        found.watch = ++LastWatch;
        *port = found;
        KeReleaseSpinLock(&SetsLock, irql);
        if (NT_SUCCESS(IoRegisterPlugPlayNotification(EventCategoryTargetDeviceChange, 0,
                                                      port->file, Driver, PortChanged,
                                                      (PVOID)found.watch, &registration))) {
            KeAcquireSpinLock(&SetsLock, &irql);
            port->notification = registration;
            KeReleaseSpinLock(&SetsLock, irql);
        } else {
            /* Unwatched, our reference would keep the card from being taken out: let it go. */
            TLptPort taken;
            KeAcquireSpinLock(&set->lock, &irql);
            taken = TakeOut(port);
            KeReleaseSpinLock(&set->lock, irql);
            Release(&taken);
        }
    }
}

/* From here on no removal callback finds the set's ports. */
static void Unlink(TPortSet* set) {
    TPortSet** at;
    KIRQL irql;
    KeAcquireSpinLock(&SetsLock, &irql);
    for (at = &OpenSets; *at; at = &(*at)->next) {
        if (*at == set) {
            *at = set->next;
            break;
        }
    }
    KeReleaseSpinLock(&SetsLock, irql);
}

NTSTATUS PortSetOpen(TPortSet** set) {
    TPortSet* made = (TPortSet*)ExAllocatePoolWithTag(PoolNonPaged(), sizeof(TPortSet), POOL_TAG);
    KIRQL irql;
    *set = NULL;
    if (!made)
        return STATUS_INSUFFICIENT_RESOURCES;
    RtlZeroMemory(made, sizeof(*made));
    KeInitializeSpinLock(&made->lock);
    /* Listed before any registration, so that no callback misses its port. */
    KeAcquireSpinLock(&SetsLock, &irql);
    made->next = OpenSets;
    OpenSets = made;
    KeReleaseSpinLock(&SetsLock, irql);
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
    /* From here on no batch reaches the ports. Unregistering and the release requests need
     * PASSIVE_LEVEL: they come after the lock is dropped, the registration before the file
     * reference goes. */
    KeAcquireSpinLock(&set->lock, &irql);
    wasClosed = set->closed;
    set->closed = TRUE;
    KeReleaseSpinLock(&set->lock, irql);
    if (wasClosed)
        return;
    Unlink(set);
    for (i = 0; i < LPT_PORT_COUNT; i++) {
        TLptPort* port = &set->ports[i];
        TLptPort taken;
        if (port->notification) {
            Unregister(port->notification);
            port->notification = NULL;
        }
        KeAcquireSpinLock(&set->lock, &irql);
        taken = TakeOut(port);
        KeReleaseSpinLock(&set->lock, irql);
        Release(&taken);
    }
}

void PortSetFree(TPortSet* set) {
    if (!set)
        return;
    Unlink(set);
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

void PortSetRefused(TPortSet* set, int kind, const UCHAR* pairs, ULONG count) {
    UNREFERENCED_PARAMETER(set);
    UNREFERENCED_PARAMETER(kind);
    UNREFERENCED_PARAMETER(pairs);
    UNREFERENCED_PARAMETER(count);
}

static BOOLEAN Named(const UCHAR* pairs, ULONG count, ULONG index) {
    ULONG i;
    for (i = 0; i < count; i++) {
        if (BatchPortIndex(pairs[2 * i]) == index)
            return TRUE;
    }
    return FALSE;
}

/* Every port the batch names is still in the set and ours, or nothing is done. A port not held
 * yet is allocated now, and its control register's upper bits read once. Under the set's lock. */
static NTSTATUS HoldPorts(TPortSet* set, const UCHAR* pairs, ULONG count) {
    BOOLEAN takenNow[LPT_PORT_COUNT] = {FALSE};
    ULONG i;
    for (i = 0; i < LPT_PORT_COUNT; i++) {
        if (Named(pairs, count, i) && !set->ports[i].file)
            return STATUS_NO_SUCH_DEVICE; /* given back on removal since the checks */
    }
    for (i = 0; i < LPT_PORT_COUNT; i++) {
        TLptPort* port = &set->ports[i];
        if (!Named(pairs, count, i) || port->held)
            continue;
        if (!port->info.TryAllocatePort(port->info.Context)) {
            ULONG j;
            for (j = 0; j < i; j++) {
                if (takenNow[j]) {
                    set->ports[j].info.FreePort(set->ports[j].info.Context);
                    set->ports[j].held = FALSE;
                }
            }
            return STATUS_DEVICE_BUSY; /* printing, or another handle, has it */
        }
        port->held = TRUE;
        takenNow[i] = TRUE;
    }
    /* All taken: only now is a register touched. */
    for (i = 0; i < LPT_PORT_COUNT; i++) {
        if (takenNow[i])
            set->ports[i].controlKept =
                READ_PORT_UCHAR(set->ports[i].info.Controller + LPT_REG_CONTROL);
    }
    return STATUS_SUCCESS;
}

/* A held port this batch did not use goes back to parport as soon as someone waits for it. */
static void LetWaitersIn(TPortSet* set, const UCHAR* pairs, ULONG count) {
    ULONG i;
    for (i = 0; i < LPT_PORT_COUNT; i++) {
        TLptPort* port = &set->ports[i];
        if (!port->held || Named(pairs, count, i) || !port->info.QueryNumWaiters)
            continue;
        if (port->info.QueryNumWaiters(port->info.Context) > 0) {
            port->info.FreePort(port->info.Context);
            port->held = FALSE;
        }
    }
}

static void Access(TLptPort* port, int kind, UCHAR* pair) {
    PUCHAR reg = port->info.Controller + BatchRegister(pair[0]);
    if (PairReads(kind, pair[0]))
        pair[1] = READ_PORT_UCHAR(reg);
    else if (BatchRegister(pair[0]) == LPT_REG_CONTROL)
        WRITE_PORT_UCHAR(reg, ControlRegisterValue(port->controlKept, pair[1]));
    else
        WRITE_PORT_UCHAR(reg, pair[1]);
}

NTSTATUS PortSetRun(TPortSet* set, int kind, UCHAR* pairs, ULONG count) {
    NTSTATUS status;
    KIRQL irql;
    ULONG i;
    if (!set)
        return STATUS_NO_SUCH_DEVICE;
    KeAcquireSpinLock(&set->lock, &irql);
    status = set->closed ? STATUS_NO_SUCH_DEVICE : HoldPorts(set, pairs, count);
    for (i = 0; NT_SUCCESS(status) && i < count; i++)
        Access(&set->ports[BatchPortIndex(pairs[2 * i])], kind, &pairs[2 * i]);
    if (!set->closed)
        LetWaitersIn(set, pairs, count);
    KeReleaseSpinLock(&set->lock, irql);
    return status;
}

/* The build that ships answers the protocol's codes and nothing else. */
NTSTATUS PortBackendControl(TPortSet* set, ULONG code, UCHAR* buffer, ULONG inLength,
                            ULONG outLength, ULONG_PTR* information) {
    UNREFERENCED_PARAMETER(set);
    UNREFERENCED_PARAMETER(code);
    UNREFERENCED_PARAMETER(buffer);
    UNREFERENCED_PARAMETER(inLength);
    UNREFERENCED_PARAMETER(outLength);
    *information = 0;
    return STATUS_INVALID_DEVICE_REQUEST;
}
