/* Counting semaphores (this kernel keeps them per architecture, in asm/semaphore.h). */
#ifndef _ASM_SEMAPHORE_H
#define _ASM_SEMAPHORE_H

#include "../linux/types.h"

struct semaphore {
	int count;
};

#define __SEMAPHORE_INITIALIZER(name, n) { (n) }
#define __DECLARE_SEMAPHORE_GENERIC(name, count) struct semaphore name = __SEMAPHORE_INITIALIZER(name, count)
#define DECLARE_MUTEX(name) __DECLARE_SEMAPHORE_GENERIC(name, 1)
#define DECLARE_MUTEX_LOCKED(name) __DECLARE_SEMAPHORE_GENERIC(name, 0)

SIMK_EXTERN_C_BEGIN
void sema_init(struct semaphore *sem, int val);
void down(struct semaphore *sem);
/* 0 once taken, -EINTR when a signal came first. */
int down_interruptible(struct semaphore *sem);
/* 0 when taken at once, 1 when it was not free. */
int down_trylock(struct semaphore *sem);
void up(struct semaphore *sem);
SIMK_EXTERN_C_END

#define init_MUTEX(sem) sema_init((sem), 1)
#define init_MUTEX_LOCKED(sem) sema_init((sem), 0)

#endif
