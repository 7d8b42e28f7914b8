/* The tick: HZ 100 on the board, counted from the simulated clock's zero. */
#ifndef _LINUX_JIFFIES_H
#define _LINUX_JIFFIES_H

#include "types.h"

#define HZ 100
#define MAX_SCHEDULE_TIMEOUT 0x7fffffffL

SIMK_EXTERN_C_BEGIN
unsigned long simk_jiffies(void);
unsigned long msecs_to_jiffies(const unsigned int m);
unsigned int jiffies_to_msecs(const unsigned long j);
SIMK_EXTERN_C_END

#ifndef SIMK_HOST
#define jiffies (simk_jiffies())
#endif
#define time_after(a, b) ((long)(b) - (long)(a) < 0)
#define time_before(a, b) time_after(b, a)

#endif
