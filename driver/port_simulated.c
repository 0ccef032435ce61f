/* Port back end of the simulated build: no port behind it.
 *
 * The three ports LPT1..LPT3 are kept in memory. Their status registers answer from two simulated
 * twelve-button pads wired as the program expects (wire/pad_wiring.h, whose PadStatus is the one
 * model of the pads that the host tests use too): one of the select lines D0..D5 driven low at a
 * time, buttons b and b + 6 on the line of step b, each pad's buttons 1-6 and 7-12 on an input
 * line of their own, Busy shown inverted by the port.
 *
 * A pressed button pulls its line low only while its select line is low. The simulated machine
 * has all three ports' addresses; a port "plugged out" is an empty slot whose registers float
 * high. Nothing here touches a real I/O port: an in or out instruction kills Wine's driver host.
 *
 * Private control codes (simport.h) press buttons, plug ports in and out, inject failures and
 * read back a log of every register access, so that a test can see exactly what the program did. */
#include <ntddk.h>

#include "batch.h"
#include "pool.h"
#include "port_backend.h"
#include "wire/pad_wiring.h"
#include "simport.h"

/* "KSim" in a pool dump. */
#define SIM_POOL_TAG 0x6D69534Bu

/* All pins high: Busy reads 0, every other line and the unused low bits (and nError) read 1. */
#define STATUS_IDLE 0x7F
/* Control register after power-up: nInit and nSelectIn high; bits 6 and 7 do not exist and read 1.
 */
#define CONTROL_POWER_UP 0xCC
#define CONTROL_UNUSED_BITS 0xC0
/* An empty slot: nothing drives the bus, every register reads all ones. */
#define ABSENT_REGISTER 0xFF

typedef struct TPort {
    UCHAR data;
    UCHAR control;
} TPort;

/* Everything below is guarded by StateLock: batches from the program and the private codes from
 * a test arrive on different handles and may be served concurrently. */
static KSPIN_LOCK StateLock;
static TPort Ports[LPT_PORT_COUNT];
static ULONG PresentPorts = SIM_PORTS_DEFAULT;
static USHORT Buttons[PadCount];
static ULONG Faults;
static ULONG ReadCalls, WriteCalls, MixedCalls, FailedCalls, OpenHandles;
static ULONG LogTotal;
static TSimLogEntry Log[SIM_LOG_CAPACITY];

static ULONGLONG ClockFrequency, LoadStamp;

/* The performance counter lives in ntoskrnl on Windows and in hal under Wine; looking it up by
 * name finds it in either without an import that would keep the driver from loading. */
typedef LARGE_INTEGER(NTAPI* TQueryPerformanceCounter)(PLARGE_INTEGER frequency);
static TQueryPerformanceCounter QueryCounter;

static ULONGLONG SimNow(void) {
    LARGE_INTEGER counter;
    if (!QueryCounter)
        return 0;
    counter = QueryCounter(NULL);
    return (ULONGLONG)counter.QuadPart;
}

static void SimResetPorts(void) {
    ULONG i;
    for (i = 0; i < LPT_PORT_COUNT; i++) {
        Ports[i].data = 0x00;
        Ports[i].control = CONTROL_POWER_UP;
    }
}

static BOOLEAN SimPortPresent(ULONG index) {
    return (PresentPorts & (1u << index)) != 0;
}

static UCHAR SimReadRegister(UCHAR address) {
    ULONG index = BatchPortIndex(address);
    TPort* port = &Ports[index];
    if (!SimPortPresent(index))
        return ABSENT_REGISTER;
    switch (BatchRegister(address)) {
    case LPT_REG_DATA:
        return port->data;
    case LPT_REG_STATUS:
        return PadStatus(Buttons, port->data, STATUS_IDLE);
    default:
        return (UCHAR)(port->control | CONTROL_UNUSED_BITS);
    }
}

static void SimWriteRegister(UCHAR address, UCHAR value) {
    ULONG index = BatchPortIndex(address);
    if (!SimPortPresent(index))
        return;
    switch (BatchRegister(address)) {
    case LPT_REG_DATA:
        Ports[index].data = value;
        break;
    case LPT_REG_CONTROL:
        Ports[index].control = ControlRegisterValue(Ports[index].control, value);
        break;
    default:
        break; /* the status register is read-only */
    }
}

static void SimLogAccess(ULONGLONG time, ULONG call, UCHAR op, UCHAR address, UCHAR value) {
    TSimLogEntry* entry = &Log[LogTotal % SIM_LOG_CAPACITY];
    entry->time = time;
    entry->call = call;
    entry->op = op;
    entry->address = address;
    entry->value = value;
    entry->reserved = 0;
    LogTotal++;
}

/* Numbers the batch (1-based over all three kinds) and counts it. Under StateLock. */
static ULONG SimCountCall(int kind) {
    if (kind == BatchReads)
        ReadCalls++;
    else if (kind == BatchWrites)
        WriteCalls++;
    else
        MixedCalls++;
    return ReadCalls + WriteCalls + MixedCalls;
}

/* The log names the register without the read flag of a mixed batch, and tells the access. */
static UCHAR SimOp(int kind, UCHAR address) {
    return (UCHAR)(PairReads(kind, address) ? SIM_OP_READ : SIM_OP_WRITE);
}
static UCHAR SimLogged(int kind, UCHAR address) {
    return (UCHAR)(kind == BatchMixed ? address & ~LPT_PAIR_READ : address);
}

static void SimLogRefused(ULONGLONG time, ULONG call, int kind, const UCHAR* pairs, ULONG count) {
    ULONG i;
    FailedCalls++;
    for (i = 0; i < count; i++)
        SimLogAccess(time, call, (UCHAR)(SimOp(kind, pairs[2 * i]) | SIM_OP_REFUSED),
                     SimLogged(kind, pairs[2 * i]), pairs[2 * i + 1]);
}

/* Whether an injected fault hits the batch: one of its accesses is of a failing kind. */
static BOOLEAN SimFaultHits(int kind, const UCHAR* pairs, ULONG count) {
    ULONG i;
    for (i = 0; i < count; i++) {
        if (Faults & (PairReads(kind, pairs[2 * i]) ? SIM_FAULT_READS : SIM_FAULT_WRITES))
            return TRUE;
    }
    return FALSE;
}

NTSTATUS PortBackendLoad(PDRIVER_OBJECT driver) {
    UNICODE_STRING routine;
    UNREFERENCED_PARAMETER(driver);
    KeInitializeSpinLock(&StateLock);
    SimResetPorts();
    RtlInitUnicodeString(&routine, L"KeQueryPerformanceCounter");
    QueryCounter = (TQueryPerformanceCounter)MmGetSystemRoutineAddress(&routine);
    if (QueryCounter) {
        LARGE_INTEGER frequency, counter;
        counter = QueryCounter(&frequency);
        ClockFrequency = (ULONGLONG)frequency.QuadPart;
        LoadStamp = (ULONGLONG)counter.QuadPart;
    }
    return STATUS_SUCCESS;
}

void PortBackendUnload(void) {}

/* One simulated machine for every handle; per handle, what parport would know of it. A handle
 * that sends a private code is the test bench: its batches act like a probe on the wires and
 * take no part in the allocation. Every other handle (Kavit, kavit-check) takes a port at its
 * first batch that names it, as from parport, and gives it back at cleanup, or after a batch that
 * does not name it when a simulated print job waits for it. */
struct TPortSet {
    BOOLEAN bench;
};

static TPortSet* Holder[LPT_PORT_COUNT]; /* the handle that holds each port, if any */
static ULONG Printing, Waiting;          /* ports a print job holds, ports one waits for */

/* Parport hands a freed port to the first print job waiting for it. Under StateLock. */
static void SimFreePort(ULONG index) {
    ULONG bit = 1u << index;
    Holder[index] = NULL;
    if (Waiting & bit) {
        Waiting &= ~bit;
        Printing |= bit;
    }
}

/* Every port the batch names is this handle's, taken now if free, or none is. Under StateLock. */
static BOOLEAN SimHoldPorts(TPortSet* set, const UCHAR* pairs, ULONG count) {
    ULONG i;
    for (i = 0; i < count; i++) {
        ULONG index = BatchPortIndex(pairs[2 * i]);
        if (Holder[index] != set && (Holder[index] || (Printing & (1u << index))))
            return FALSE;
    }
    for (i = 0; i < count; i++)
        Holder[BatchPortIndex(pairs[2 * i])] = set;
    return TRUE;
}

static void SimLetWaitersIn(TPortSet* set, const UCHAR* pairs, ULONG count) {
    ULONG index, i;
    for (index = 0; index < LPT_PORT_COUNT; index++) {
        BOOLEAN named = FALSE;
        if (Holder[index] != set || !(Waiting & (1u << index)))
            continue;
        for (i = 0; i < count; i++)
            named = named || BatchPortIndex(pairs[2 * i]) == index;
        if (!named)
            SimFreePort(index);
    }
}

/* A print job asks for the ports of `mask`: it takes each free one, and waits for the others. */
static void SimPrint(ULONG mask) {
    ULONG index;
    for (index = 0; index < LPT_PORT_COUNT; index++) {
        ULONG bit = 1u << index;
        if (!(mask & bit) || (Printing & bit))
            continue;
        if (Holder[index])
            Waiting |= bit;
        else
            Printing |= bit;
    }
}

NTSTATUS PortSetOpen(TPortSet** set) {
    KIRQL irql;
    *set = (TPortSet*)ExAllocatePoolWithTag(PoolNonPaged(), sizeof(TPortSet), SIM_POOL_TAG);
    if (!*set)
        return STATUS_INSUFFICIENT_RESOURCES;
    (*set)->bench = FALSE;
    KeAcquireSpinLock(&StateLock, &irql);
    OpenHandles++;
    KeReleaseSpinLock(&StateLock, irql);
    return STATUS_SUCCESS;
}

void PortSetCleanup(TPortSet* set) {
    KIRQL irql;
    ULONG index;
    KeAcquireSpinLock(&StateLock, &irql);
    for (index = 0; index < LPT_PORT_COUNT; index++) {
        if (set && Holder[index] == set)
            SimFreePort(index);
    }
    KeReleaseSpinLock(&StateLock, irql);
}

void PortSetFree(TPortSet* set) {
    KIRQL irql;
    KeAcquireSpinLock(&StateLock, &irql);
    if (OpenHandles)
        OpenHandles--;
    KeReleaseSpinLock(&StateLock, irql);
    if (set)
        ExFreePool(set);
}

ULONG PortSetFound(TPortSet* set) {
    UNREFERENCED_PARAMETER(set);
    return (1u << LPT_PORT_COUNT) - 1;
}

void PortSetRefused(TPortSet* set, int kind, const UCHAR* pairs, ULONG count) {
    ULONGLONG time = SimNow();
    KIRQL irql;
    UNREFERENCED_PARAMETER(set);
    KeAcquireSpinLock(&StateLock, &irql);
    SimLogRefused(time, SimCountCall(kind), kind, pairs, count);
    KeReleaseSpinLock(&StateLock, irql);
}

NTSTATUS PortSetRun(TPortSet* set, int kind, UCHAR* pairs, ULONG count) {
    ULONGLONG time = SimNow();
    ULONG i, call;
    KIRQL irql;

    KeAcquireSpinLock(&StateLock, &irql);
    call = SimCountCall(kind);
    /* An injected fault stands for a port gone away, or busy with printing. */
    if (SimFaultHits(kind, pairs, count)) {
        SimLogRefused(time, call, kind, pairs, count);
        KeReleaseSpinLock(&StateLock, irql);
        return STATUS_DEVICE_NOT_CONNECTED;
    }
    if (set && !set->bench && !SimHoldPorts(set, pairs, count)) {
        SimLogRefused(time, call, kind, pairs, count);
        KeReleaseSpinLock(&StateLock, irql);
        return STATUS_DEVICE_BUSY; /* ERROR_BUSY: another handle, or printing, has a port */
    }
    for (i = 0; i < count; i++) {
        UCHAR address = SimLogged(kind, pairs[2 * i]);
        if (PairReads(kind, pairs[2 * i]))
            pairs[2 * i + 1] = SimReadRegister(address);
        else
            SimWriteRegister(address, pairs[2 * i + 1]);
        /* Each access stamped anew: a test sees how long a batch takes. */
        SimLogAccess(SimNow(), call, SimOp(kind, pairs[2 * i]), address, pairs[2 * i + 1]);
    }
    if (set && !set->bench)
        SimLetWaitersIn(set, pairs, count);
    KeReleaseSpinLock(&StateLock, irql);
    return STATUS_SUCCESS;
}

static void SimFillState(TSimState* state) {
    ULONG i;
    RtlZeroMemory(state, sizeof(*state));
    state->frequency = ClockFrequency;
    state->loadStamp = LoadStamp;
    state->buttons[0] = Buttons[0];
    state->buttons[1] = Buttons[1];
    state->ports = PresentPorts;
    state->faults = Faults;
    state->readCalls = ReadCalls;
    state->writeCalls = WriteCalls;
    state->mixedCalls = MixedCalls;
    state->failedCalls = FailedCalls;
    state->logTotal = LogTotal;
    state->openHandles = OpenHandles;
    state->printing = Printing;
    state->waiting = Waiting;
    for (i = 0; i < LPT_PORT_COUNT; i++) {
        if (Holder[i])
            state->held |= 1u << i;
    }
    for (i = 0; i < LPT_PORT_COUNT; i++) {
        state->data[i] = Ports[i].data;
        state->control[i] = Ports[i].control;
    }
}

static void SimClearLog(void) {
    ReadCalls = WriteCalls = MixedCalls = FailedCalls = 0;
    LogTotal = 0;
}

static ULONG SimReadLog(ULONG first, UCHAR* out, ULONG outLength) {
    TSimLogHeader* header = (TSimLogHeader*)out;
    TSimLogEntry* entries = (TSimLogEntry*)(header + 1);
    ULONG room = (outLength - sizeof(*header)) / sizeof(TSimLogEntry);
    ULONG oldest = LogTotal > SIM_LOG_CAPACITY ? LogTotal - SIM_LOG_CAPACITY : 0;
    ULONG i, n = 0;
    if (first < oldest)
        first = oldest;
    for (i = first; i < LogTotal && n < room; i++, n++)
        entries[n] = Log[i % SIM_LOG_CAPACITY];
    header->first = first;
    header->count = n;
    header->total = LogTotal;
    header->reserved = 0;
    return sizeof(*header) + n * sizeof(TSimLogEntry);
}

static void SimChangeButtons(const TSimButtons* change) {
    ULONG pad;
    for (pad = 0; pad < PadCount; pad++)
        Buttons[pad] =
            (USHORT)(((Buttons[pad] & ~change->release[pad]) | change->press[pad]) & 0x0FFF);
}

static void SimResetMachine(void) {
    SimResetPorts();
    PresentPorts = SIM_PORTS_DEFAULT;
    Buttons[0] = Buttons[1] = 0;
    Faults = 0;
    Printing = Waiting = 0;
    SimClearLog();
}

/* The private codes of the simulation. Under StateLock. */
static NTSTATUS SimControl(ULONG code, UCHAR* buffer, ULONG inLength, ULONG outLength,
                           ULONG_PTR* information) {
    switch (code) {
    case SIM_IOCTL_SET_BUTTONS:
        if (inLength < sizeof(TSimButtons))
            return STATUS_INVALID_PARAMETER;
        SimChangeButtons((const TSimButtons*)buffer);
        return STATUS_SUCCESS;
    case SIM_IOCTL_SET_PORTS:
        if (inLength < sizeof(ULONG))
            return STATUS_INVALID_PARAMETER;
        PresentPorts = *(const ULONG*)buffer & (SIM_PORT_LPT1 | SIM_PORT_LPT2 | SIM_PORT_LPT3);
        return STATUS_SUCCESS;
    case SIM_IOCTL_SET_FAULTS:
        if (inLength < sizeof(ULONG))
            return STATUS_INVALID_PARAMETER;
        Faults = *(const ULONG*)buffer & (SIM_FAULT_READS | SIM_FAULT_WRITES);
        return STATUS_SUCCESS;
    case SIM_IOCTL_PRINT:
        if (inLength < sizeof(ULONG))
            return STATUS_INVALID_PARAMETER;
        SimPrint(*(const ULONG*)buffer);
        return STATUS_SUCCESS;
    case SIM_IOCTL_PRINT_DONE:
        if (inLength < sizeof(ULONG))
            return STATUS_INVALID_PARAMETER;
        Printing &= ~*(const ULONG*)buffer;
        Waiting &= ~*(const ULONG*)buffer;
        return STATUS_SUCCESS;
    case SIM_IOCTL_RESET:
        SimResetMachine();
        return STATUS_SUCCESS;
    case SIM_IOCTL_CLEAR_LOG:
        SimClearLog();
        return STATUS_SUCCESS;
    case SIM_IOCTL_GET_STATE:
        if (outLength < sizeof(TSimState))
            return STATUS_BUFFER_TOO_SMALL;
        SimFillState((TSimState*)buffer);
        *information = sizeof(TSimState);
        return STATUS_SUCCESS;
    case SIM_IOCTL_READ_LOG:
        if (inLength < sizeof(ULONG) || outLength < sizeof(TSimLogHeader))
            return STATUS_BUFFER_TOO_SMALL;
        *information = SimReadLog(*(const ULONG*)buffer, buffer, outLength);
        return STATUS_SUCCESS;
    default:
        return STATUS_INVALID_DEVICE_REQUEST;
    }
}

NTSTATUS PortBackendControl(TPortSet* set, ULONG code, UCHAR* buffer, ULONG inLength,
                            ULONG outLength, ULONG_PTR* information) {
    NTSTATUS status;
    KIRQL irql;
    *information = 0;
    KeAcquireSpinLock(&StateLock, &irql);
    if (set && !set->bench) {
        ULONG index;
        set->bench = TRUE; /* a bench handle holds no port */
        for (index = 0; index < LPT_PORT_COUNT; index++) {
            if (Holder[index] == set)
                SimFreePort(index);
        }
    }
    status = SimControl(code, buffer, inLength, outLength, information);
    KeReleaseSpinLock(&StateLock, irql);
    return status;
}
