#ifndef _LINUX_STDDEF_H
#define _LINUX_STDDEF_H
#include "types.h"
#ifndef offsetof
#define offsetof(type, member) __builtin_offsetof(type, member)
#endif
#endif
