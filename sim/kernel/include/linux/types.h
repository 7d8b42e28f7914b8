/* Kernel integer types. Modules are built without the C library's headers (-nostdinc), as in a
 * kernel tree; the emulation's C++ sources (SIMK_HOST) take size_t and friends from the C library
 * and use the __kernel_ names where the two worlds differ. */
#ifndef _LINUX_TYPES_H
#define _LINUX_TYPES_H

#include "compiler.h"

typedef unsigned char __u8;
typedef signed char __s8;
typedef unsigned short __u16;
typedef signed short __s16;
typedef unsigned int __u32;
typedef signed int __s32;
typedef unsigned long long __u64;
typedef signed long long __s64;
typedef __u8 u8;
typedef __s8 s8;
typedef __u16 u16;
typedef __s16 s16;
typedef __u32 u32;
typedef __s32 s32;
typedef __u64 u64;
typedef __s64 s64;

typedef __u32 __kernel_dev_t;
typedef long long __kernel_loff_t;
typedef unsigned gfp_t;

#ifndef SIMK_HOST
typedef __SIZE_TYPE__ size_t;
typedef __PTRDIFF_TYPE__ ssize_t;
typedef __kernel_dev_t dev_t;
typedef __kernel_loff_t loff_t;
typedef _Bool bool;
enum { false = 0, true = 1 };
#define NULL ((void *)0)
#endif

#endif
