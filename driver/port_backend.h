/* What the common part of LPTWDMIO.SYS (lptwdmio.c) asks of a port back end. Two back ends exist,
 * one per build: port_hardware.c reaches the ports Windows' parallel-port driver knows,
 * port_simulated.c keeps ports and pads in memory for the end-to-end tests.
 *
 * A port set belongs to one open file object of the device: made at IRP_MJ_CREATE, its ports given
 * back at IRP_MJ_CLEANUP, freed at IRP_MJ_CLOSE. */
#ifndef KAVIT_DRIVER_PORT_BACKEND_H
#define KAVIT_DRIVER_PORT_BACKEND_H

#include <ntddk.h>

typedef struct TPortSet TPortSet;

/* DriverEntry, before the device exists; and the unload routine. */
NTSTATUS PortBackendLoad(PDRIVER_OBJECT driver);
void PortBackendUnload(void);

/* PASSIVE_LEVEL. *set may be left NULL by a back end that keeps nothing per handle. */
NTSTATUS PortSetOpen(TPortSet** set);
/* PASSIVE_LEVEL; the set serves no batch afterwards. Safe to call twice. */
void PortSetCleanup(TPortSet* set);
void PortSetFree(TPortSet* set);

/* Bit n-1 set when LPTn can be reached through this set. */
ULONG PortSetFound(TPortSet* set);

/* Carries out a batch of `kind` (batch.h) that passed CheckBatch, pair after pair in order: reads
 * fill their pair's value byte. A failure means
 * that no register was touched: STATUS_DEVICE_BUSY (ERROR_BUSY) when another holder has a port it
 * names, STATUS_NO_SUCH_DEVICE (ERROR_FILE_NOT_FOUND) when a port has gone since. */
NTSTATUS PortSetRun(TPortSet* set, int kind, UCHAR* pairs, ULONG count);

/* Told of a batch refused by the checks, `count` pairs long. */
void PortSetRefused(TPortSet* set, int kind, const UCHAR* pairs, ULONG count);

/* Any control code other than those of the protocol, sent through `set`'s handle. */
NTSTATUS PortBackendControl(TPortSet* set, ULONG code, UCHAR* buffer, ULONG inLength,
                            ULONG outLength, ULONG_PTR* information);

#endif
