#ifndef _ASM_SYSTEM_H
#define _ASM_SYSTEM_H
#include "../linux/irqflags.h"
#endif
