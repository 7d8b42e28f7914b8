#ifndef _LINUX_SLAB_H
#define _LINUX_SLAB_H

#include "types.h"

#define GFP_KERNEL 0xd0u
#define GFP_ATOMIC 0x20u

SIMK_EXTERN_C_BEGIN
/* Null when the board's tests inject an allocation failure. */
void *kmalloc(size_t size, gfp_t flags);
void *kzalloc(size_t size, gfp_t flags);
void kfree(const void *block);
SIMK_EXTERN_C_END

#endif
