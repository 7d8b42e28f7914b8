/* Copies between the caller's memory and the kernel. The caller's memory is this process's, so
 * a copy is a memcpy once access_ok has accepted the range; tests hand an inaccessible pointer
 * (sim/kernel/kernel.h, badUserPointer) to see the fault paths. */
#ifndef _ASM_UACCESS_H
#define _ASM_UACCESS_H

#include "../linux/types.h"
#include "../linux/errno.h"

#define VERIFY_READ 0
#define VERIFY_WRITE 1

SIMK_EXTERN_C_BEGIN
int simk_access_ok(const void __user *addr, unsigned long size);
/* The bytes not copied (0 on success). */
unsigned long copy_to_user(void __user *to, const void *from, unsigned long n);
unsigned long copy_from_user(void *to, const void __user *from, unsigned long n);
SIMK_EXTERN_C_END

#define access_ok(type, addr, size) simk_access_ok((const void __user *)(addr), (size))

#define get_user(x, ptr) ({ \
	int __gu_err = -EFAULT; \
	if (access_ok(VERIFY_READ, (ptr), sizeof(*(ptr)))) { \
		(x) = *(ptr); \
		__gu_err = 0; \
	} \
	__gu_err; })

#define put_user(x, ptr) ({ \
	int __pu_err = -EFAULT; \
	if (access_ok(VERIFY_WRITE, (ptr), sizeof(*(ptr)))) { \
		*(ptr) = (x); \
		__pu_err = 0; \
	} \
	__pu_err; })

#endif
