/* Delays on the simulated clock. mdelay and udelay busy-wait on the board; here they pass the
 * same simulated time. */
#ifndef _LINUX_DELAY_H
#define _LINUX_DELAY_H

#include "types.h"

SIMK_EXTERN_C_BEGIN
void mdelay(unsigned long ms);
void udelay(unsigned long us);
void msleep(unsigned int ms);
unsigned long msleep_interruptible(unsigned int ms);
SIMK_EXTERN_C_END

#endif
