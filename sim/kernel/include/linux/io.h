#ifndef _LINUX_IO_H
#define _LINUX_IO_H
#include "../asm/io.h"
#endif
