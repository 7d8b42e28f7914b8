/* printk and the kernel's small helpers. printk goes to the board's log (the console with a
 * "[kernel]" prefix, and DIR/kernel.log). */
#ifndef _LINUX_KERNEL_H
#define _LINUX_KERNEL_H

#include "compiler.h"
#include "stddef.h"
#include "types.h"

#define KERN_EMERG "<0>"
#define KERN_ALERT "<1>"
#define KERN_CRIT "<2>"
#define KERN_ERR "<3>"
#define KERN_WARNING "<4>"
#define KERN_NOTICE "<5>"
#define KERN_INFO "<6>"
#define KERN_DEBUG "<7>"

SIMK_EXTERN_C_BEGIN
int printk(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
int sprintf(char *buf, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
int snprintf(char *buf, size_t size, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
SIMK_EXTERN_C_END

#define container_of(ptr, type, member) \
	((type *)((char *)(ptr) - offsetof(type, member)))
#define ARRAY_SIZE(a) (sizeof(a) / sizeof((a)[0]))
#ifndef SIMK_HOST /* the C++ library has its own min and max */
#define min(x, y) ((x) < (y) ? (x) : (y))
#define max(x, y) ((x) > (y) ? (x) : (y))
#endif
#define BUG_ON(cond) do { if (cond) simk_bug(__FILE__, __LINE__); } while (0)

SIMK_EXTERN_C_BEGIN
void simk_bug(const char *file, int line) __attribute__((noreturn));
SIMK_EXTERN_C_END

#endif
