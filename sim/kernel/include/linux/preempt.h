/* The board's kernel is preemptible on one processor: with preemption off, no other task runs.
 * Here tasks are threads, so preempt_disable takes the one preemption lock (nestable). */
#ifndef _LINUX_PREEMPT_H
#define _LINUX_PREEMPT_H

#include "compiler.h"

SIMK_EXTERN_C_BEGIN
void preempt_disable(void);
void preempt_enable(void);
SIMK_EXTERN_C_END

#define preempt_enable_no_resched() preempt_enable()

#endif
