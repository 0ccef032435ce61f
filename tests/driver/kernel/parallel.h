/* Host stand-in: parport's internal requests and what they answer (see ntddk.h here). */
#ifndef KAVIT_TESTS_STANDIN_PARALLEL_H
#define KAVIT_TESTS_STANDIN_PARALLEL_H

#include <ntddk.h>

#define IOCTL_INTERNAL_GET_PARALLEL_PORT_INFO 0x160030u
#define IOCTL_INTERNAL_RELEASE_PARALLEL_PORT_INFO 0x16003Cu
#define IOCTL_INTERNAL_GET_PARALLEL_PNP_INFO 0x160054u

typedef struct {
    int64_t OriginalController;
    PUCHAR Controller;
    ULONG SpanOfController;
    BOOLEAN (*TryAllocatePort)(PVOID context);
    void (*FreePort)(PVOID context);
    ULONG (*QueryNumWaiters)(PVOID context);
    PVOID Context;
} PARALLEL_PORT_INFORMATION;

typedef struct {
    PVOID Context;
    ULONG CurrentMode;
    PWSTR PortName;
} PARALLEL_PNP_INFORMATION;

#endif
