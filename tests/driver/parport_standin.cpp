#include "tests/driver/parport_standin.h"

#include <cstdlib>

extern "C" {
#include "tests/driver/kernel/parallel.h"
}

const GUID GUID_TARGET_DEVICE_QUERY_REMOVE = {
    0xcb3a4001, 0x46f0, 0x11d0, {0xb0, 0x8f, 0x00, 0x60, 0x97, 0x13, 0x05, 0x3f}};
const GUID GUID_TARGET_DEVICE_REMOVE_CANCELLED = {
    0xcb3a4002, 0x46f0, 0x11d0, {0xb0, 0x8f, 0x00, 0x60, 0x97, 0x13, 0x05, 0x3f}};
const GUID GUID_TARGET_DEVICE_REMOVE_COMPLETE = {
    0xcb3a4003, 0x46f0, 0x11d0, {0xb0, 0x8f, 0x00, 0x60, 0x97, 0x13, 0x05, 0x3f}};

namespace standin {

Machine& M() {
    static Machine machine;
    return machine;
}

void Reset(const std::vector<std::pair<std::wstring, uintptr_t>>& ports) {
    M() = Machine();
    for (size_t i = 0; i < ports.size(); i++) {
        Parport p;
        p.name = ports[i].first;
        p.base = ports[i].second;
        p.device.parport = static_cast<int>(i);
        M().parports.push_back(p);
    }
}

void Notify(int n, const GUID& event, bool late) {
    TARGET_DEVICE_REMOVAL_NOTIFICATION note{1, sizeof(note), event, nullptr};
    std::vector<Registration> now = M().registrations; // a callback may not change the list
    for (const Registration& r : now) {
        if (r.active != late && r.parport == n)
            r.callback(&note, r.context);
    }
}

int ActiveRegistrations() {
    int n = 0;
    for (const Registration& r : M().registrations)
        n += r.active;
    return n;
}

static void NeedIrql(int most, const char* routine) {
    if (M().irql > most)
        M().faults.push_back(std::string(routine) + " called at IRQL " + std::to_string(M().irql));
}

static Parport* Of(PVOID context) {
    return static_cast<Parport*>(context);
}

static BOOLEAN TryAllocate(PVOID context) {
    NeedIrql(2, "TryAllocatePort");
    if (Of(context)->allocated)
        return FALSE;
    Of(context)->allocated = true;
    return TRUE;
}

static void Free(PVOID context) {
    NeedIrql(2, "FreePort");
    Parport* p = Of(context);
    if (!p->allocated)
        M().faults.push_back("FreePort of a port nobody holds: " +
                             std::string(p->name.begin(), p->name.end()));
    p->frees++;
    p->allocated = p->waiters > 0; // the first waiting print job gets it at once
    if (p->waiters > 0)
        p->waiters--;
}

static ULONG Waiters(PVOID context) {
    NeedIrql(2, "QueryNumWaiters");
    return static_cast<ULONG>(Of(context)->waiters);
}

} // namespace standin

using namespace standin;

extern "C" {

size_t RtlCompareMemory(const void* a, const void* b, size_t length) {
    size_t i = 0;
    while (i < length && static_cast<const uint8_t*>(a)[i] == static_cast<const uint8_t*>(b)[i])
        i++;
    return i;
}

void RtlInitUnicodeString(PUNICODE_STRING string, const WCHAR* text) {
    string->Buffer = const_cast<PWSTR>(text);
    string->Length = static_cast<USHORT>(wcslen(text) * sizeof(WCHAR));
    string->MaximumLength = static_cast<USHORT>(string->Length + sizeof(WCHAR));
}

NTSTATUS RtlGetVersion(PRTL_OSVERSIONINFOW version) {
    version->dwMajorVersion = M().major;
    version->dwMinorVersion = M().minor;
    return STATUS_SUCCESS;
}

PVOID ExAllocatePoolWithTag(POOL_TYPE type, size_t size, ULONG) {
    NeedIrql(2, "ExAllocatePoolWithTag");
    M().pools.push_back(type);
    return malloc(size);
}

void ExFreePool(PVOID p) {
    free(p);
}

void KeInitializeSpinLock(KSPIN_LOCK* lock) {
    *lock = 0;
}

void StandinAcquireSpinLock(KSPIN_LOCK* lock, KIRQL* old) {
    NeedIrql(2, "KeAcquireSpinLock");
    if (*lock)
        M().faults.push_back("spin lock taken twice");
    *lock = 1;
    *old = static_cast<KIRQL>(M().irql);
    M().irql = 2;
}

void KeReleaseSpinLock(KSPIN_LOCK* lock, KIRQL old) {
    *lock = 0;
    M().irql = old;
}

void KeInitializeEvent(PKEVENT, EVENT_TYPE, BOOLEAN) {}

NTSTATUS KeWaitForSingleObject(PVOID, int, int, BOOLEAN, void*) {
    NeedIrql(0, "KeWaitForSingleObject");
    return STATUS_SUCCESS;
}

PIRP IoBuildDeviceIoControlRequest(ULONG code, PDEVICE_OBJECT, PVOID, ULONG, PVOID out,
                                   ULONG outLength, BOOLEAN, PKEVENT, PIO_STATUS_BLOCK io) {
    NeedIrql(0, "IoBuildDeviceIoControlRequest");
    PIRP irp = new IRP{};
    irp->code = code;
    irp->out = out;
    irp->outLength = outLength;
    irp->io = io;
    return irp;
}

NTSTATUS IoCallDriver(PDEVICE_OBJECT device, PIRP irp) {
    NeedIrql(0, "IoCallDriver to parport");
    Parport& p = M().parports[device->parport];
    NTSTATUS status = STATUS_SUCCESS;
    ULONG_PTR information = 0;
    if (!irp->next.FileObject || irp->next.FileObject->parport != device->parport)
        M().faults.push_back("parport request without our file object");
    if (irp->code == IOCTL_INTERNAL_GET_PARALLEL_PNP_INFO &&
        irp->outLength >= sizeof(PARALLEL_PNP_INFORMATION)) {
        auto* pnp = static_cast<PARALLEL_PNP_INFORMATION*>(irp->out);
        pnp->PortName = const_cast<PWSTR>(p.name.c_str());
        information = sizeof(*pnp);
    } else if (irp->code == IOCTL_INTERNAL_GET_PARALLEL_PORT_INFO &&
               irp->outLength >= sizeof(PARALLEL_PORT_INFORMATION)) {
        auto* info = static_cast<PARALLEL_PORT_INFORMATION*>(irp->out);
        info->Controller = reinterpret_cast<PUCHAR>(p.base);
        info->SpanOfController = 8;
        info->TryAllocatePort = TryAllocate;
        info->FreePort = Free;
        info->QueryNumWaiters = Waiters;
        info->Context = &p;
        p.infoHeld++;
        information = sizeof(*info);
    } else if (irp->code == IOCTL_INTERNAL_RELEASE_PARALLEL_PORT_INFO) {
        if (--p.infoHeld < 0)
            M().faults.push_back("port information released twice");
    } else {
        status = STATUS_INVALID_DEVICE_REQUEST;
    }
    irp->io->Status = status;
    irp->io->Information = information;
    delete irp;
    return status;
}

NTSTATUS IoGetDeviceObjectPointer(PUNICODE_STRING name, ACCESS_MASK, PFILE_OBJECT* file,
                                  PDEVICE_OBJECT* device) {
    NeedIrql(0, "IoGetDeviceObjectPointer");
    std::wstring text(name->Buffer, name->Length / sizeof(WCHAR));
    const std::wstring prefix = L"\\Device\\ParallelPort";
    if (text.compare(0, prefix.size(), prefix) != 0)
        return STATUS_NO_SUCH_DEVICE;
    size_t n = std::stoul(text.substr(prefix.size()));
    if (n >= M().parports.size())
        return STATUS_NO_SUCH_DEVICE;
    M().parports[n].fileRefs++;
    *file = new FILE_OBJECT{static_cast<int>(n)};
    *device = &M().parports[n].device;
    return STATUS_SUCCESS;
}

void ObDereferenceObject(PVOID object) {
    NeedIrql(2, "ObDereferenceObject");
    auto* file = static_cast<PFILE_OBJECT>(object);
    M().parports[file->parport].fileRefs--;
    delete file;
}

UCHAR READ_PORT_UCHAR(PUCHAR port) {
    uintptr_t address = reinterpret_cast<uintptr_t>(port);
    auto found = M().registers.find(address);
    uint8_t value = found == M().registers.end() ? 0xFF : found->second;
    M().accesses.push_back({address, value});
    return value;
}

void WRITE_PORT_UCHAR(PUCHAR port, UCHAR value) {
    uintptr_t address = reinterpret_cast<uintptr_t>(port);
    M().registers[address] = value;
    M().accesses.push_back({address, value});
}

NTSTATUS IoRegisterPlugPlayNotification(IO_NOTIFICATION_EVENT_CATEGORY category, ULONG, PVOID data,
                                        PDRIVER_OBJECT,
                                        PDRIVER_NOTIFICATION_CALLBACK_ROUTINE callback,
                                        PVOID context, PVOID* entry) {
    NeedIrql(0, "IoRegisterPlugPlayNotification");
    if (category != EventCategoryTargetDeviceChange || !data || M().registrationsFail)
        return STATUS_UNSUCCESSFUL;
    M().registrations.push_back(
        {static_cast<PFILE_OBJECT>(data)->parport, callback, context, true});
    *entry = reinterpret_cast<PVOID>(M().registrations.size()); // 1-based index
    return STATUS_SUCCESS;
}

NTSTATUS IoUnregisterPlugPlayNotification(PVOID entry) {
    NeedIrql(0, "IoUnregisterPlugPlayNotification");
    size_t index = reinterpret_cast<size_t>(entry);
    if (index == 0 || index > M().registrations.size() || !M().registrations[index - 1].active) {
        M().faults.push_back("unregistered a notification not registered");
        return STATUS_UNSUCCESSFUL;
    }
    M().registrations[index - 1].active = false;
    return STATUS_SUCCESS;
}

// XP's kernel: no IoUnregisterPlugPlayNotificationEx, so the plain routine above is used.
PVOID MmGetSystemRoutineAddress(PUNICODE_STRING) {
    NeedIrql(0, "MmGetSystemRoutineAddress");
    return nullptr;
}

} // extern "C"
