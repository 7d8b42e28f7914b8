/* Error numbers (the values of the board's kernel; the same as the C library's on a PC). */
#ifndef _LINUX_ERRNO_H
#define _LINUX_ERRNO_H

#ifdef SIMK_HOST
#include <errno.h>
#else

#define EPERM 1
#define ENOENT 2
#define EINTR 4
#define EIO 5
#define ENXIO 6
#define E2BIG 7
#define EBADF 9
#define EAGAIN 11
#define ENOMEM 12
#define EFAULT 14
#define EBUSY 16
#define EEXIST 17
#define ENODEV 19
#define EINVAL 22
#define ENOTTY 25
#define ENOSPC 28
#define ESPIPE 29
#define ERANGE 34
#define ENOSYS 38
#define EREMOTEIO 121
#endif

/* Kernel-internal: never seen by user space. A call interrupted by a signal returns it and the
 * system call layer turns it into EINTR (or restarts the call). */
#define ERESTARTSYS 512
#define ENOIOCTLCMD 515

#endif
