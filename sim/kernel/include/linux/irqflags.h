/* Interrupts off on this processor: no handler runs until they are on again. Nestable. */
#ifndef _LINUX_IRQFLAGS_H
#define _LINUX_IRQFLAGS_H

#include "types.h"

SIMK_EXTERN_C_BEGIN
unsigned long simk_local_irq_save(void);
void simk_local_irq_restore(unsigned long flags);
SIMK_EXTERN_C_END

#define local_irq_save(flags) do { (flags) = simk_local_irq_save(); } while (0)
#define local_irq_restore(flags) simk_local_irq_restore(flags)

#endif
