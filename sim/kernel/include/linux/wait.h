/* Wait queues. A queue counts its wake-ups; a sleeper notes the count before it tests its
 * condition and sleeps only while the count is unchanged, so a wake-up between the test and the
 * sleep is never lost. Every wake-up wakes all sleepers of the queue, which then test their
 * conditions again (the readers here are one per queue, so exclusive waits change nothing). */
#ifndef _LINUX_WAIT_H
#define _LINUX_WAIT_H

#include "types.h"
#include "errno.h"
#include "sched.h"

typedef struct {
	unsigned long wakeups;
	unsigned long woken_at;  /* jiffies of the last wake-up */
} wait_queue_head_t;

struct simk_waiter {
	wait_queue_head_t *queue;
	unsigned long seen;     /* wake-ups of the queue already accounted for */
	unsigned long expires;  /* jiffies at which a timed wait ends */
	int timed;
};

#define __WAIT_QUEUE_HEAD_INITIALIZER(name) { 0, 0 }
#define DECLARE_WAIT_QUEUE_HEAD(name) wait_queue_head_t name = __WAIT_QUEUE_HEAD_INITIALIZER(name)

SIMK_EXTERN_C_BEGIN
void init_waitqueue_head(wait_queue_head_t *q);
void simk_wake_up(wait_queue_head_t *q);
void simk_prepare_wait(wait_queue_head_t *q, struct simk_waiter *w, long timeout);
/* Sleeps (interruptibly) until the queue is woken, a signal is pending or the time is up. The
 * ticks left (MAX_SCHEDULE_TIMEOUT for an untimed wait), 0 when the time ran out. A wake-up
 * counts at the tick it came: on the board the woken task runs at once, while here its thread
 * may get a processor only later, when a sped-up clock has moved on. */
long simk_wait_sleep(struct simk_waiter *w);
void simk_finish_wait(struct simk_waiter *w);
SIMK_EXTERN_C_END

#define wake_up(q) simk_wake_up(q)
#define wake_up_interruptible(q) simk_wake_up(q)
#define wake_up_all(q) simk_wake_up(q)
#define wake_up_interruptible_all(q) simk_wake_up(q)

/* -ERESTARTSYS when a signal came, 0 when the time ran out (also when the condition became true
 * just then), otherwise the ticks that were left; the whole timeout when the condition holds on
 * entry. */
#define wait_event_interruptible_timeout(wq, condition, timeout) ({ \
	long __ret = (timeout); \
	if (!(condition)) { \
		struct simk_waiter __w; \
		simk_prepare_wait(&(wq), &__w, __ret); \
		for (;;) { \
			if (condition) \
				break; \
			if (signal_pending(current)) { \
				__ret = -ERESTARTSYS; \
				break; \
			} \
			__ret = simk_wait_sleep(&__w); \
			if (!__ret) \
				break; \
		} \
		simk_finish_wait(&__w); \
	} \
	__ret; })

/* 0 once the condition holds, -ERESTARTSYS when a signal came: an untimed wait never runs out. */
#define wait_event_interruptible(wq, condition) ({ \
	long __r = wait_event_interruptible_timeout(wq, condition, MAX_SCHEDULE_TIMEOUT); \
	(int)(__r == -ERESTARTSYS ? -ERESTARTSYS : 0); })

#endif
