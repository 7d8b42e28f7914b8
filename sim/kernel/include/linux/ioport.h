/* Claims on physical address ranges: one owner per range. */
#ifndef _LINUX_IOPORT_H
#define _LINUX_IOPORT_H

#include "types.h"

struct resource {
	unsigned long start;
	unsigned long end;
	const char *name;
};

SIMK_EXTERN_C_BEGIN
/* Null when any part of the range is claimed already. */
struct resource *request_mem_region(unsigned long start, unsigned long n, const char *name);
void release_mem_region(unsigned long start, unsigned long n);
SIMK_EXTERN_C_END

#endif
