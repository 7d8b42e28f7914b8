/* Annotations of the kernel's address spaces; they mean nothing to the compiler here. */
#ifndef _LINUX_COMPILER_H
#define _LINUX_COMPILER_H

#define __user
#define __iomem
#define __kernel
#define __force
#define __must_check __attribute__((warn_unused_result))
#define likely(x) __builtin_expect(!!(x), 1)
#define unlikely(x) __builtin_expect(!!(x), 0)
#define barrier() __asm__ __volatile__("" : : : "memory")

/* The emulation's own C++ sources include these headers too; they see the C library's names. */
#ifdef __cplusplus
#define SIMK_EXTERN_C_BEGIN extern "C" {
#define SIMK_EXTERN_C_END }
#else
#define SIMK_EXTERN_C_BEGIN
#define SIMK_EXTERN_C_END
#endif

#endif
