/* Interrupt handlers. A handler runs in interrupt context: one handler at a time, never two at
 * once; an interrupt raised while a handler runs waits for it to end. */
#ifndef _LINUX_INTERRUPT_H
#define _LINUX_INTERRUPT_H

#include "types.h"

typedef int irqreturn_t;
#define IRQ_NONE 0
#define IRQ_HANDLED 1
#define IRQ_RETVAL(x) ((x) != 0)

#define IRQF_DISABLED 0x00000020
#define IRQF_SHARED 0x00000080

typedef irqreturn_t (*irq_handler_t)(int, void *);

SIMK_EXTERN_C_BEGIN
int request_irq(unsigned int irq, irq_handler_t handler, unsigned long flags, const char *name, void *dev_id);
void free_irq(unsigned int irq, void *dev_id);
void disable_irq(unsigned int irq);
void enable_irq(unsigned int irq);
int in_interrupt(void);
SIMK_EXTERN_C_END

#endif
