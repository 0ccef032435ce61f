// The direct transport's two port instructions, for systems that let a program reach the I/O
// ports itself (Windows 95/98/ME). On the NT family they would fault: the connection uses them
// only outside it.
#include "lptio/lptio.h"

#if !defined(__i386__) && !defined(__x86_64__)
#error "port input and output need an x86 processor"
#endif

BYTE TLptPortConnection::PortIn(WORD address) {
    BYTE value;
    __asm__ __volatile__("inb %%dx, %%al" : "=a"(value) : "d"(address));
    return value;
}

void TLptPortConnection::PortOut(WORD address, BYTE value) {
    __asm__ __volatile__("outb %%al, %%dx" : : "a"(value), "d"(address));
}
