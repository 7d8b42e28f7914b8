/* Tasks: each thread that enters the kernel is a task with its own pending-signal state. A test
 * can deliver a signal to a task that sleeps interruptibly (sim/kernel/kernel.h). */
#ifndef _LINUX_SCHED_H
#define _LINUX_SCHED_H

#include "types.h"
#include "jiffies.h"

struct task_struct;

SIMK_EXTERN_C_BEGIN
struct task_struct *simk_current(void);
int signal_pending(struct task_struct *task);
/* Sleeps the given ticks (interruptibly when the flag is set); the ticks left, 0 when they ran out. */
long simk_schedule_timeout(long timeout, int interruptible);
SIMK_EXTERN_C_END

#ifndef SIMK_HOST
#define current (simk_current())
#endif
#define TASK_RUNNING 0
#define TASK_INTERRUPTIBLE 1
#define TASK_UNINTERRUPTIBLE 2
#define schedule_timeout_interruptible(t) simk_schedule_timeout((t), 1)
#define schedule_timeout_uninterruptible(t) simk_schedule_timeout((t), 0)

#endif
